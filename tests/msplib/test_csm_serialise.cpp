// The command coder beyond the default images: variable lengths, refusals,
// the query word, byte orders, and the field-by-field log line.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "csm_codes.h"
#include "csm_log.h"
#include "csm_message.h"
#include "csm_serialise.h"
#include "csm_test_util.h"

namespace {

struct coded {
    int result;
    std::string frame; // hex of the first buffer[0] bytes
    bool rest_zero;    // nothing after the frame
};

coded code(magic_csm m)
{
    uint8_t buf[CSM_FRAME_SIZE];
    memset(buf, 0x5C, sizeof buf);
    coded c;
    c.result = msp_struct_to_buffer(m, buf);
    c.frame = bytes_hex(buf, buf[0]);
    c.rest_zero = true;
    for (size_t i = buf[0]; i < sizeof buf; i++)
        c.rest_zero = c.rest_zero && buf[i] == 0;
    delete_csm_msg(m);
    return c;
}

struct variable_case {
    const char *name;
    int function_code;
    std::function<void(magic_csm)> fill;
    int result;
    const char *frame; // expected image when result > 0
};

// Messages whose length the caller or the coder sets.
const variable_case variable_cases[] = {
    {"tone engine, one tone", FC_VOIP_PROGRAM_TONE_ENGINE,
     [](magic_csm m) {
         auto *r = m.u_csmchan_voip_program_tone_engine;
         r->number_of_tones = 1;
         r->tones[0] = {0x0101, 0x0202, 0x0303, 0x0404, 0x0505, 0x0606, 0x0707, 0x0808, 0x0001};
     },
     28,
     "1c 01 00 02 6e 80 00 00 01 00 01 01 02 02 03 03 04 04 05 05 06 06 07 07 08 08 01 00"},
    {"tone engine, two tones", FC_VOIP_PROGRAM_TONE_ENGINE,
     [](magic_csm m) {
         auto *r = m.u_csmchan_voip_program_tone_engine;
         r->number_of_tones = 2;
         r->tones[1].tone_freq1 = 0x1B8;
         r->tones[1].sum_or_multiply_flag = 1;
     },
     46,
     "2e 01 00 02 6e 80 00 00 02 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
     "b8 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00"},
    {"tone engine, twelve tones fill 226 bytes", FC_VOIP_PROGRAM_TONE_ENGINE,
     [](magic_csm m) { m.u_csmchan_voip_program_tone_engine->number_of_tones = 12; }, 226,
     nullptr},
    {"tone engine, thirteen tones refused", FC_VOIP_PROGRAM_TONE_ENGINE,
     [](magic_csm m) { m.u_csmchan_voip_program_tone_engine->number_of_tones = 13; }, 0, nullptr},
    {"tone engine, 0xffff tones refused", FC_VOIP_PROGRAM_TONE_ENGINE,
     [](magic_csm m) { m.u_csmchan_voip_program_tone_engine->number_of_tones = 0xFFFF; }, 0,
     nullptr},
    {"cadence engine, three words", FC_VOIP_PROGRAM_CADENCE_ENGINE,
     [](magic_csm m) {
         auto *r = m.u_csmchan_voip_program_cadence_engine;
         r->parameter[0] = 0x0102;
         r->parameter[1] = 0x0304;
         r->parameter[2] = 0xA0B0;
         r->header->msg_length = 2 * 3 + 8;
     },
     14, "0e 01 00 02 6f 80 00 00 02 01 04 03 b0 a0"},
    {"cadence engine, more words than the record holds", FC_VOIP_PROGRAM_CADENCE_ENGINE,
     [](magic_csm m) { m.u_csmchan_voip_program_cadence_engine->header->msg_length = 8 + 2 * 65; },
     0, nullptr},
    {"caller id on hook", FC_CND_ONHOOK_GEN,
     [](magic_csm m) {
         auto *r = m.u_csmchan_cnd_onhook_gen;
         r->modulation_type = 1;
         r->msg_type_id = 0x80;
         memcpy(r->msg_byte, "\x01\x08" "0102", 6);
         r->header->msg_length = 16;
     },
     16, "10 01 00 02 39 80 00 00 01 80 01 08 30 31 30 32"},
    {"caller id on hook, longer than msg_byte", FC_CND_ONHOOK_GEN,
     [](magic_csm m) { m.u_csmchan_cnd_onhook_gen->header->msg_length = 10 + 129; }, 0, nullptr},
    {"caller id off hook", FC_CND_OFFHOOK_GEN,
     [](magic_csm m) {
         auto *r = m.u_csmchan_cnd_offhook_gen;
         memcpy(r->msg_byte, "\x80\x02\x41\x42", 4);
         r->header->msg_length = 12;
     },
     12, "0c 01 00 02 3b 80 00 00 80 02 41 42"},
    {"caller id parameters", FC_CND_SET_PARAMS,
     [](magic_csm m) {
         auto *r = m.u_csmchan_cnd_set_params;
         r->info_type = 3;
         r->info_count = 2;
         r->info_param_byte[0] = 0x11;
         r->info_param_byte[1] = 0x22;
         r->header->msg_length = 12;
     },
     12, "0c 01 00 02 3a 80 00 00 03 02 11 22"},
    {"AES key bytes follow the flag", FC_CIPHER_AES_OPT,
     [](magic_csm m) {
         auto *r = m.u_csmchan_cipher_aes_opt;
         memcpy(r->key_array, "\xde\xad\xbe\xef", 4);
         r->header->msg_length = 14;
     },
     14, "0e 01 00 02 46 80 00 00 01 00 de ad be ef"},
    {"SRTP options with the session keys", FC_CIPHER_SRTP_OPT,
     [](magic_csm m) {
         auto *r = m.u_csmchan_cipher_srtp_opt;
         for (int i = 0; i < 16; i++)
             r->session_encryption_key[i] = (uint8_t)(0xE0 + i);
         for (int i = 0; i < 14; i++)
             r->session_salt_key[i] = (uint8_t)(0x50 + i);
         r->session_authentication_key[0] = 0x99; // never sent
         r->header->msg_length = 48;
     },
     48,
     "30 01 00 02 00 82 00 00 12 a8 00 00 70 00 70 00 a0 28 "
     "e0 e1 e2 e3 e4 e5 e6 e7 e8 e9 ea eb ec ed ee ef "
     "50 51 52 53 54 55 56 57 58 59 5a 5b 5c 5d"},
    {"SRTP options past the keys refused", FC_CIPHER_SRTP_OPT,
     [](magic_csm m) { m.u_csmchan_cipher_srtp_opt->header->msg_length = 50; }, 0, nullptr},
    {"SRTP key derivation with all words and key bytes", FC_CIPHER_SRTP_KEY_DERIVATION,
     [](magic_csm m) {
         auto *r = m.u_csmchan_cipher_srtp_key_derivation;
         r->direction_configuration = 1;
         r->srtp_max_lifetime_bytes_5_and_4 = 0x0102;
         r->srtcp_max_lifetime_bytes_1_and_0 = 0x0304;
         r->to_index_bytes_1_and_0 = 0x0506;
         memcpy(r->key_array, "\x0a\x0b", 2);
         r->header->msg_length = 34;
     },
     34,
     "22 01 00 02 01 82 00 00 00 04 02 01 00 00 00 00 00 00 04 03 "
     "00 00 00 00 00 00 00 00 00 00 06 05 0a 0b"},
    {"VOPENA short form", FC_VOIP_VOPENA,
     [](magic_csm m) { m.u_csmchan_voip_vopena->channel_mode = 2; }, 12,
     "16 01 00 02 00 80 00 00 02 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    {"VOPENA cut to the length the caller sets", FC_VOIP_VOPENA,
     [](magic_csm m) {
         m.u_csmchan_voip_vopena->channel_mode = 13;
         m.u_csmchan_voip_vopena->header->msg_length = 10;
     },
     10, "0a 01 00 02 00 80 00 00 0d 00"},
    {"VOPENA network-order RTP fields", FC_VOIP_VOPENA,
     [](magic_csm m) {
         auto *r = m.u_csmchan_voip_vopena;
         r->sequence_number = 0x1234;
         r->timestamp = 0x11223344;
         r->ssrc = 0xA1B2C3D4;
         r->rtp_x = 1;
         r->rtp_cc = 3;
     },
     22, "16 01 00 02 00 80 00 00 01 00 93 08 12 34 11 22 33 44 a1 b2 c3 d4"},
    {"tone generator: direction and limit ORed over their neighbours", FC_VOIP_TONEGEN,
     [](magic_csm m) {
         auto *r = m.u_csmchan_voip_tonegen;
         r->tone_direction = 0x00010104;
         r->timestamp_control = 1;
         r->cadence_repeat = 0x10;
         r->start_timestamp = 0x11223344;
         r->limit_timestamp = 0x55667788;
         r->header->msg_length = 24;
     },
     24, "18 01 00 02 09 80 00 00 06 11 44 33 22 11 88 77 66 55 00 00 00 00 00 00"},
    {"TDM parameters: 768 timeslots spread over bytes 8, 9 and 14", FC_SUPVSR_SETUP_TDM_PARAMS,
     [](magic_csm m) {
         auto *r = m.u_csmdev_tdm_setup_tdm_params;
         memset(reinterpret_cast<char *>(r) + sizeof(csm_header *), 0,
                sizeof *r - sizeof(csm_header *));
         r->time_slots_per_frame = 768;
     },
     16, "10 01 00 06 07 04 00 00 00 03 00 00 00 00 03 00"},
    {"ICMP service as constructed (length 0) refused", FC_ICMP_SERVICE_CONFIG,
     [](magic_csm) {}, 0, nullptr},
    {"ICMP service once given a length", FC_ICMP_SERVICE_CONFIG,
     [](magic_csm m) { m.u_csmdev_icmp_service_config->header->msg_length = 10; }, 10,
     "0a 00 00 06 04 03 00 00 ff 01"},
};

TEST(CsmSerialise, VariableLengthsAndRefusals)
{
    for (const variable_case &c : variable_cases) {
        SCOPED_TRACE(c.name);
        log_capture log;
        magic_csm m = create_default_csm_msg(c.function_code, 1);
        ASSERT_FALSE(csm_msg_is_null(m));
        c.fill(m);
        coded out = code(m);
        EXPECT_EQ(out.result, c.result);
        EXPECT_TRUE(out.rest_zero);
        if (c.frame) {
            EXPECT_EQ(out.frame, c.frame);
        }
        if (c.result == 0) {
            EXPECT_EQ(out.frame, "");
            EXPECT_TRUE(log.has("CRITICAL: refusing")) << log.all();
        } else {
            EXPECT_FALSE(log.has("CRITICAL")) << log.all();
        }
    }
}

TEST(CsmSerialise, UnknownFunctionCodeIsRefused)
{
    log_capture log;
    magic_csm m = create_default_csm_msg(FC_VOIP_VOPENA, 3);
    get_header(m)->function_code = 0x1234;
    coded out = code(m);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.frame, "");
    EXPECT_TRUE(out.rest_zero);
    EXPECT_TRUE(log.has("CRITICAL: invalid function code"));

    uint8_t buf[CSM_FRAME_SIZE];
    EXPECT_EQ(msp_struct_to_buffer(csm_null_msg(), buf), 0);
}

TEST(CsmSerialise, QueriesCarryTheirWord)
{
    struct {
        int fc, cls, type, index;
        std::function<void(magic_csm)> fill;
        const char *frame;
    } cases[] = {
        {FC_SUPVSR_CREATE_CHANNEL, 6, 1, 7,
         [](magic_csm m) { m.u_csmdev_create_channel_query->timeslot = 0x1234; },
         "0a 07 01 06 10 00 00 00 34 12"},
        {FC_CONF_CREATE_PARTICIPANT, 6, 1, 8,
         [](magic_csm m) { m.u_csmdev_conf_create_participant_query->participant_id = 0x0203; },
         "0a 08 01 06 12 93 00 00 03 02"},
        {FC_SUPVSR_DEVICE_STATUS_QUERY, 6, 1, 9, [](magic_csm) {}, "08 09 01 06 0f 04 00 00"},
        {FC_VOIP_RTCPSTAT, 2, 1, 10, [](magic_csm) {}, "08 0a 01 02 0c 80 00 00"},
        // Function code 0 with the test and SRTP statistics types: the header alone.
        {FC_SUPVSR_READY, 1, 35, 11, [](magic_csm) {}, "08 0b 23 01 00 00 00 00"},
        {FC_SUPVSR_READY, 1, 24, 12, [](magic_csm) {}, "08 0c 18 01 00 00 00 00"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(get_function_code(c.fc));
        magic_csm m = create_query_csm_msg(c.fc, c.cls, c.type, c.index);
        ASSERT_FALSE(csm_msg_is_null(m));
        c.fill(m);
        coded out = code(m);
        EXPECT_EQ(out.frame, c.frame);
        EXPECT_EQ(out.result, (int)hex_bytes(c.frame).size());
        EXPECT_TRUE(out.rest_zero);
    }
}

TEST(CsmSerialise, StatisticsQueriesAreTheHeaderAlone)
{
    EXPECT_EQ(code(create_stat_query_csm_msg(0x0101, 5, 0x91, 4)).frame, "08 04 91 05 01 01 00 00");
    EXPECT_EQ(code(create_stat_query_csm_msg(0, 1, 7, 5)).frame, "08 05 07 01 00 00 00 00");
}

TEST(CsmSerialise, ClassThirtyFiveIsNotSerialised)
{
    magic_csm m = create_query_csm_msg(FC_SUPVSR_READY, 35, 0, 1);
    coded out = code(m);
    EXPECT_EQ(out.result, 0);
    EXPECT_TRUE(out.rest_zero);
}

TEST(CsmSerialise, VerboseLinesNameEveryFieldInOrder)
{
    static const char *const cid_of_40 = "CID:000042:01";
    msp_set_timeslot_lookups(nullptr, [](int ts) { return ts == 40 ? cid_of_40 : ""; });
    struct {
        int fc;
        uint16_t timeslot;
        const char *line;
    } cases[] = {
        {FC_VOIP_VOPENA, 40,
         "CID:000042:01: ---> FC_VOIP_VOPENA: channel_mode: 1, payload_type: 8, rtp_v: 2, "
         "rtp_p: 0, rtp_x: 0, rtp_cc: 0, sequence_number: 0, timestamp: 0, ssrc: 0x2000"},
        {FC_LATENCY_LEVEL, 0xFFFF, "CID:000000:00: ---> FC_LATENCY_LEVEL: latency_level: 0"},
        {FC_SET_MULTICAST_ETH_ADDR, 600,
         "CID:000000:00: ---> FC_SET_MULTICAST_ETH_ADDR: remove_address: 0, bytes_01: 0x0001, "
         "bytes_23: 0x005e, bytes_45: 0x0001"},
        {DIAG_TDM_RX, 0xFFFF, "Unified diagnostics:\tfunction_code=DIAG_TDM_RX\tenabled=0x0000"},
        {FC_CND_OFFHOOK_GEN, 0xFFFF, "CID:000000:00: ---> FC_CND_OFFHOOK_GEN: raw_data"},
        {FC_CIPHER_AES_OPT, 0xFFFF, "CID:000000:00: ---> FC_CIPHER_AES_OPT: enable_aes: 1, raw_data"},
    };
    verbose_msp_logging = 1;
    for (auto &c : cases) {
        log_capture log;
        magic_csm m = create_default_csm_msg(c.fc, 1);
        get_header(m)->msp_timeslot = c.timeslot;
        code(m);
        ASSERT_EQ(log_capture::lines().size(), 1u) << log.all();
        EXPECT_EQ(log_capture::lines()[0], c.line);
    }
    msp_set_timeslot_lookups(nullptr, nullptr);
    {
        log_capture log;
        code(create_stat_query_csm_msg(0x0101, 5, 0x91, 4));
        EXPECT_TRUE(log.has("CID:000000:00: ===> STAT_QUERY cc 05 ct 91 fc 0101")) << log.all();
    }
    verbose_msp_logging = 0;
    {
        log_capture log;
        code(create_default_csm_msg(FC_VOIP_VOPENA, 1));
        EXPECT_TRUE(log_capture::lines().empty()) << log.all();
    }
    msp_set_timeslot_lookups(nullptr, nullptr);
}

} // namespace
