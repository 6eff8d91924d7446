// Parsing of hand-written frames of every kind the media processor sends.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "csm_codes.h"
#include "csm_log.h"
#include "csm_message.h"
#include "csm_parse.h"
#include "csm_test_util.h"

namespace {

struct parse_case {
    const char *name;
    const char *frame;
    std::function<void(magic_csm)> check;
    int success; // the flag after parsing; the caller starts it at -1
};

magic_csm parse(const std::string &hex, int *success, int channel = 3)
{
    std::vector<uint8_t> f = hex_bytes(hex);
    return msp_buffer_to_struct(f.data(), (int)f.size(), success, channel);
}

void run_cases(const std::vector<parse_case> &cases)
{
    for (const parse_case &c : cases) {
        SCOPED_TRACE(c.name);
        log_capture log;
        int success = -1;
        magic_csm m = parse(c.frame, &success);
        ASSERT_FALSE(csm_msg_is_null(m)) << log.all();
        std::vector<uint8_t> f = hex_bytes(c.frame);
        const csm_header *h = get_header(m);
        EXPECT_EQ(h->msg_length, f[0]);
        EXPECT_EQ(h->index, f[1]);
        EXPECT_EQ(h->command_type, f[2]);
        EXPECT_EQ(h->command_class, f[3]);
        EXPECT_EQ(h->function_code, f[4] | f[5] << 8);
        EXPECT_EQ(h->msp_channel, 3);
        EXPECT_EQ(h->msp_timeslot, 0xFFFF);
        c.check(m);
        EXPECT_EQ(success, c.success);
        EXPECT_FALSE(log.has("CRITICAL")) << log.all();
        delete_csm_msg(m);
    }
}

TEST(CsmParse, CommandResponses)
{
    run_cases({
        {"generic success", "0a 01 02 02 00 80 00 00 00 00",
         [](magic_csm m) { EXPECT_EQ(m.u_csm_generic_response->response_code, 0u); }, 1},
        {"generic error keeps the flag", "0a 01 02 02 09 80 00 00 09 80",
         [](magic_csm m) { EXPECT_EQ(m.u_csm_generic_response->response_code, 0x8009u); }, -1},
        {"longer than its layout", "14 01 02 06 11 00 00 00 00 00 aa bb cc dd ee ff 11 22 33 44",
         [](magic_csm m) { EXPECT_EQ(m.u_csm_generic_response->response_code, 0u); }, 1},
        {"create channel", "0e 02 02 06 10 00 00 00 00 00 21 00 05 01",
         [](magic_csm m) {
             auto *r = m.u_csmdev_create_channel_response;
             EXPECT_EQ(r->channel_number, 0x21u);
             EXPECT_EQ(r->timeslot, 0x105u);
         },
         1},
        {"version text, one character per word from byte 16",
         "1e 03 02 06 25 00 00 00 00 00 11 11 22 22 33 33 43 00 53 00 4d 00 20 00 32 00 2e 00 33 00",
         [](magic_csm m) {
             EXPECT_STREQ(m.u_csmdev_get_msp_version_query_response->data, "CSM 2.3");
         },
         -1},
        {"Ethernet header", "18 04 02 06 01 01 00 00 02 0e 11 22 33 44 55 66 77 88 99 aa bb cc 00 08",
         [](magic_csm m) {
             auto *r = m.u_csmdev_get_eth_hdr_response;
             EXPECT_EQ(r->protocol_identifier, 2u);
             EXPECT_EQ(r->header_size, 14u);
             EXPECT_EQ(r->hostmac_1, 0x2211u);
             EXPECT_EQ(r->hostmac_3, 0x6655u);
             EXPECT_EQ(r->assigned_mac_1, 0x8877u);
             EXPECT_EQ(r->assigned_mac_3, 0xccbbu);
             EXPECT_EQ(r->assigned_packet_type, 0x800u);
         },
         -1},
        {"participant removed", "0e 05 02 06 13 93 00 00 00 00 07 00 02 00",
         [](magic_csm m) {
             auto *r = m.u_csmdev_conf_destroy_participant_response;
             EXPECT_EQ(r->participant_id, 7u);
             EXPECT_EQ(r->conference_id, 2u);
         },
         1},
        {"conference created", "0c 06 02 06 10 93 00 00 00 00 04 00",
         [](magic_csm m) { EXPECT_EQ(m.u_csmdev_conf_create_conference_response->conference_id, 4u); },
         1},
        {"MDIO read", "12 07 02 06 31 93 00 00 00 00 01 02 03 00 04 00 cd ab",
         [](magic_csm m) {
             auto *r = m.u_csmdev_mdio_bus_read_response;
             EXPECT_EQ(r->preamble_suppress, 1u);
             EXPECT_EQ(r->emac_number, 2u);
             EXPECT_EQ(r->target_mmd_device_address, 3u);
             EXPECT_EQ(r->target_register_address, 4u);
             EXPECT_EQ(r->register_data_value, 0xabcdu);
         },
         1},
    });
}

TEST(CsmParse, QueryResponses)
{
    run_cases({
        {"create channel query", "10 01 04 06 10 00 00 00 0c 00 02 00 28 00 ff ff",
         [](magic_csm m) {
             auto *r = m.u_csmdev_create_channel_query_response;
             EXPECT_EQ(r->channel_id, 12u);
             EXPECT_EQ(r->channel_type, 2u);
             EXPECT_EQ(r->timeslot, 40u);
             EXPECT_EQ(r->conference_id, 0xffffu);
         },
         -1},
        {"ARM code version, sixteen bytes", "18 02 04 06 21 00 00 00 "
                                            "56 32 2e 31 30 2e 32 00 41 42 43 44 45 46 47 48",
         [](magic_csm m) {
             auto *r = m.u_csmdev_get_arm_code_version_query_response;
             EXPECT_EQ(memcmp(r->arm_code_version, "V2.10.2\0ABCDEFGH", 16), 0);
             EXPECT_EQ(r->arm_code_version[16], '\0');
         },
         -1},
        {"device type", "0a 03 04 06 31 00 00 00 30 80",
         [](magic_csm m) { EXPECT_EQ(m.u_csmdev_get_device_type_query_response->processor_id, 0x8030u); },
         -1},
        {"external clock status, no fields", "08 04 04 06 08 04 00 00", [](magic_csm) {}, -1},
        {"device status bits", "0e 05 04 06 0f 04 00 00 e8 03 54 81 02 00",
         [](magic_csm m) {
             auto *r = m.u_csmdev_device_status_query_response;
             EXPECT_EQ(r->heartbeat_period, 1000u);
             EXPECT_EQ(r->arm1_status, 1u);
             EXPECT_EQ(r->dsp0_status, 0u);
             EXPECT_EQ(r->dsp1_status, 1u);
             EXPECT_EQ(r->dsp2_status, 0u);
             EXPECT_EQ(r->dsp3_status, 1u);
             EXPECT_EQ(r->dsp4_status, 0u);
             EXPECT_EQ(r->dsp5_status, 1u);
             EXPECT_EQ(r->alert_status, 1u);
             EXPECT_EQ(r->alert_type, 2u);
         },
         -1},
        {"RTCP statistics of 48 bytes: eight values",
         "30 06 04 02 0c 80 00 00 01 00 00 00 02 00 00 00 03 00 00 00 04 00 00 00 "
         "05 00 00 00 06 00 00 00 07 00 00 00 08 00 00 00 09 00 00 00 0a 00 00 00",
         [](magic_csm m) {
             auto *r = m.u_csmchan_voip_rtcp_statistics_response;
             EXPECT_EQ(r->statistics_version, 1u);
             EXPECT_EQ(r->ssrc_remote, 5u);
             EXPECT_EQ(r->inter_arrival_jitter, 8u);
             EXPECT_EQ(r->received_packet_count, 0u);
             EXPECT_EQ(r->received_byte_count, 0u);
         },
         -1},
        {"RTCP statistics of 52 bytes: eleven values",
         "34 06 04 02 0c 80 00 00 01 00 00 00 02 00 00 00 03 00 00 00 04 00 00 00 "
         "05 00 00 00 06 00 00 00 07 00 00 00 08 00 00 00 09 00 00 00 0a 00 00 00 "
         "44 33 22 11",
         [](magic_csm m) {
             auto *r = m.u_csmchan_voip_rtcp_statistics_response;
             EXPECT_EQ(r->inter_arrival_jitter, 8u);
             EXPECT_EQ(r->received_packet_count, 9u);
             EXPECT_EQ(r->received_byte_count, 10u);
             EXPECT_EQ(r->ssrc_local, 0x11223344u);
         },
         -1},
        {"participant query", "10 07 04 06 12 93 00 00 03 00 01 00 09 00 02 00",
         [](magic_csm m) {
             auto *r = m.u_csmdev_conf_create_participant_query_response;
             EXPECT_EQ(r->participant_id, 3u);
             EXPECT_EQ(r->participant_type, 1u);
             EXPECT_EQ(r->timeslot, 9u);
             EXPECT_EQ(r->conference_id, 2u);
         },
         -1},
    });
}

TEST(CsmParse, Indications)
{
    run_cases({
        {"external clock", "0a 01 03 06 08 04 00 00 0a 02",
         [](magic_csm m) {
             auto *r = m.u_csmdev_ext_clock_status_indication;
             EXPECT_EQ(r->tdm_bus_0_working, 0u);
             EXPECT_EQ(r->tdm_bus_1_working, 1u);
             EXPECT_EQ(r->tdm_bus_2_working, 0u);
             EXPECT_EQ(r->tdm_bus_3_working, 1u);
             EXPECT_EQ(r->gps_50hz_clock_detected, 0u);
             EXPECT_EQ(r->gps_8khz_clock_detected, 1u);
         },
         -1},
        {"channels reset complete", "0a 02 03 06 f7 04 00 00 00 00",
         [](magic_csm m) { EXPECT_EQ(m.u_csmdev_channels_reset_complete_indication->response_code, 0u); },
         1},
        {"tone detected", "10 03 03 02 0d 80 00 00 0a 00 01 00 02 00 05 00",
         [](magic_csm m) {
             auto *r = m.u_csmchan_voip_tonedet_indication;
             EXPECT_EQ(r->tone_detect_value, 10u);
             EXPECT_EQ(r->timestamp_lsb, 1u);
             EXPECT_EQ(r->timestamp_msb, 2u);
             EXPECT_EQ(r->power_level, 5u);
         },
         -1},
        {"SSRC change", "0c 04 03 02 0e 80 00 00 34 12 78 56",
         [](magic_csm m) {
             EXPECT_EQ(m.u_csmchan_ssrcchg_indication->ssrc_1, 0x1234u);
             EXPECT_EQ(m.u_csmchan_ssrcchg_indication->ssrc_2, 0x5678u);
         },
         -1},
        {"payload type change", "0a 05 03 02 0f 80 00 00 12 00",
         [](magic_csm m) { EXPECT_EQ(m.u_csmchan_voip_ptchng_indication->payload_type, 18u); }, -1},
        {"tone complete", "0a 06 03 02 10 80 00 00 02 00",
         [](magic_csm m) { EXPECT_EQ(m.u_csmchan_tcmplt_indication->tone_complete_cause, 2u); }, -1},
        {"fax relay state", "0a 07 03 02 11 80 00 00 06 21",
         [](magic_csm m) {
             EXPECT_EQ(m.u_csmchan_fax_relay_state_change_indication->relay_state, 0x2106u);
         },
         -1},
        {"event detected", "0e 08 03 02 17 80 00 00 0b 00 10 00 20 00",
         [](magic_csm m) {
             auto *r = m.u_csmchan_voip_eventdet_indication;
             EXPECT_EQ(r->tone_detected_indication, 11u);
             EXPECT_EQ(r->timestamp_lsb, 0x10u);
             EXPECT_EQ(r->timestamp_msb, 0x20u);
         },
         -1},
        {"named telephone event", "14 09 03 02 20 80 00 00 05 8a 01 18 01 00 65 00 11 22 33 44",
         [](magic_csm m) {
             auto *r = m.u_csmchan_voip_nterecvd_indication;
             EXPECT_EQ(r->nte_payload_event, 5u);
             EXPECT_EQ(r->nte_payload_e_flag, 1u);
             EXPECT_EQ(r->nte_payload_duration, 0x118u);
             EXPECT_EQ(r->payload_type_override, 1u);
             EXPECT_EQ(r->payload_type, 101u);
             EXPECT_EQ(r->ssrc_high, 0x2211u);
             EXPECT_EQ(r->ssrc_low, 0x4433u);
         },
         -1},
        {"SSRC violation", "0c 0a 03 02 27 80 00 00 01 00 02 00",
         [](magic_csm m) {
             EXPECT_EQ(m.u_csmchan_voip_ssrcviol_indication->ssrc_low, 1u);
             EXPECT_EQ(m.u_csmchan_voip_ssrcviol_indication->ssrc_high, 2u);
         },
         -1},
        {"non-tonal energy", "0e 0b 03 02 2f 80 00 00 01 00 78 56 34 12",
         [](magic_csm m) { EXPECT_EQ(m.u_csmchan_voip_ntenergy_det->timestamp, 0x12345678u); }, -1},
        {"caller id done", "0a 0c 03 02 3d 80 00 00 03 00",
         [](magic_csm m) { EXPECT_EQ(m.u_csmchan_cnd_done_indication->cli_complete_reason, 3u); }, -1},
        {"remote detection", "0a 0d 03 02 5c 80 00 00 07 02",
         [](magic_csm m) {
             EXPECT_EQ(m.u_csmchan_voip_remdet_indication->remote_packet_type, 7u);
             EXPECT_EQ(m.u_csmchan_voip_remdet_indication->event, 2u);
         },
         -1},
        {"IP tone detection", "10 0e 03 02 6d 80 00 00 42 81 01 00 02 00 03 00",
         [](magic_csm m) {
             auto *r = m.u_csmchan_voip_iptonedet_indication;
             EXPECT_EQ(r->ans_early_detection_2100Hz, 0u);
             EXPECT_EQ(r->ans_confirmed_detection_2100Hz, 1u);
             EXPECT_EQ(r->ip_programmable_tone_detected, 1u);
             EXPECT_EQ(r->bell_ans, 0u);
             EXPECT_EQ(r->ip_generic_390, 1u);
             EXPECT_EQ(r->ip_generic_980, 0u);
             EXPECT_EQ(r->ip_generic_tone0, 1u);
             EXPECT_EQ(r->timestamp_1, 1u);
             EXPECT_EQ(r->timestamp_2, 2u);
             EXPECT_EQ(r->power_level, 3u);
         },
         -1},
        {"caller id message", "0f 0f 03 02 ad 80 00 00 01 00 80 03 41 42 43",
         [](magic_csm m) {
             auto *r = m.u_csmchan_cndrxmsg_indication;
             EXPECT_EQ(r->msg_status_field, 1u);
             EXPECT_EQ(r->msg_type_id, 0x80u);
             EXPECT_EQ(r->msg_byte_count, 3u);
             EXPECT_EQ(r->msg_byte_count_cropped, 3u);
             EXPECT_EQ(memcmp(r->msg_byte, "ABC", 3), 0);
         },
         -1},
        {"bit error test lock", "0a 10 03 02 ba 80 00 00 01 00",
         [](magic_csm m) { EXPECT_EQ(m.u_csmchan_bert_lock_indication->lock_state, 1u); }, -1},
        {"in-band DTMF", "10 11 03 02 41 90 00 00 0b 00 01 00 02 00 d8 ff",
         [](magic_csm m) {
             auto *r = m.u_csmchan_inband_dtmf_det_indication;
             EXPECT_EQ(r->tone_id, 11u);
             EXPECT_EQ(r->remote_timestamp_lsb, 1u);
             EXPECT_EQ(r->remote_timestamp_msb, 2u);
             EXPECT_EQ(r->power_level, 0xffd8u);
         },
         -1},
        {"RFC 2833 DTMF", "10 12 03 02 42 90 00 00 05 00 00 00 00 00 00 00",
         [](magic_csm m) { EXPECT_EQ(m.u_csmchan_rfc2833_dtmf_det_indication->tone_id, 5u); }, -1},
        {"MDIO autodetect", "10 13 03 06 33 93 00 00 01 00 02 00 03 00 04 00",
         [](magic_csm m) {
             auto *r = m.u_csmdev_mdio_autodetect_indication;
             EXPECT_EQ(r->emac_number, 1u);
             EXPECT_EQ(r->mdio_bus_number, 2u);
             EXPECT_EQ(r->target_device_address, 3u);
             EXPECT_EQ(r->link_mode, 4u);
         },
         -1},
        {"synchronous data", "0e 14 03 02 02 94 00 00 01 00 ff 7e 34 12",
         [](magic_csm m) {
             auto *r = m.u_csmchan_syncdat_indication;
             EXPECT_EQ(r->payload[0], 1u);
             EXPECT_EQ(r->payload[1], 0x7effu);
             EXPECT_EQ(r->payload[2], 0x1234u);
             EXPECT_EQ(r->payload[3], 0u);
         },
         -1},
        {"end of synchronous data", "0a 15 03 02 03 94 00 00 aa 55",
         [](magic_csm m) { EXPECT_EQ(m.u_csmchan_synceof_indication->payload[0], 0x55aau); }, -1},
    });
}

TEST(CsmParse, CallerIdBytesAreCroppedToRecordAndFrame)
{
    // A count of 200: 64 bytes when the frame holds them, fewer when it does not.
    std::string full = "fc 01 03 02 ad 80 00 00 00 00 80 c8";
    for (int i = 0; i < 240; i++)
        full += " 5a";
    int success = -1;
    magic_csm m = parse(full, &success);
    ASSERT_FALSE(csm_msg_is_null(m));
    EXPECT_EQ(m.u_csmchan_cndrxmsg_indication->msg_byte_count, 200u);
    EXPECT_EQ(m.u_csmchan_cndrxmsg_indication->msg_byte_count_cropped, 64u);
    EXPECT_EQ(m.u_csmchan_cndrxmsg_indication->msg_byte[63], 0x5a);
    delete_csm_msg(m);

    m = parse("14 01 03 02 ad 80 00 00 00 00 80 c8 01 02 03 04 05 06 07 08", &success);
    ASSERT_FALSE(csm_msg_is_null(m));
    EXPECT_EQ(m.u_csmchan_cndrxmsg_indication->msg_byte_count_cropped, 8u);
    EXPECT_EQ(m.u_csmchan_cndrxmsg_indication->msg_byte[7], 8);
    EXPECT_EQ(m.u_csmchan_cndrxmsg_indication->msg_byte[8], 0);
    delete_csm_msg(m);
}

TEST(CsmParse, DiagnosticResponses)
{
    run_cases({
        {"redirect over IP/UDP",
         "34 01 79 c2 04 00 00 00 00 00 00 11 22 33 44 55 66 77 88 99 aa bb 00 08 "
         "45 00 00 00 00 00 00 40 11 80 00 00 a8 c0 01 02 a8 c0 03 04 13 88 13 89 00 00 00 00",
         [](magic_csm m) {
             auto *r = m.u_csmdev_redirect_over_ip_udp_response;
             EXPECT_EQ(r->destination_mac.part1, 0x0011u);
             EXPECT_EQ(r->destination_mac.part3, 0x4455u);
             EXPECT_EQ(r->source_mac.part1, 0x6677u);
             EXPECT_EQ(r->packet_type, 0x800u);
             EXPECT_EQ(r->assigned_ip_header.version, 0x45u);
             EXPECT_EQ(r->assigned_ip_header.fragmentation, 0x4000u);
             EXPECT_EQ(r->source_ip.part1, 0xc0a8u);
             EXPECT_EQ(r->destination_ip.part2, 0x0403u);
             EXPECT_EQ(r->assigned_udp_header.source_port, 5000u);
             EXPECT_EQ(r->assigned_udp_header.destination_port, 5001u);
         },
         1},
        {"unified diagnostics", "0a 02 79 c2 00 0e 00 00 33 00",
         [](magic_csm m) { EXPECT_EQ(m.u_csmdev_set_unified_diag_response->response_code, 0x33u); },
         -1},
    });
}

TEST(CsmParse, DeviceErrorReport)
{
    log_capture log;
    int success = -1;
    magic_csm m = parse("12 09 02 06 1e 00 00 00 09 80 05 00 16 07 00 02 00 80", &success);
    ASSERT_FALSE(csm_msg_is_null(m));
    auto *e = m.u_csmdev_svr_error_handling;
    EXPECT_EQ(e->error_code, 0x8009u);
    EXPECT_EQ(e->original_channel_id, 5u);
    EXPECT_EQ(e->original_msg_length, 0x16u);
    EXPECT_EQ(e->original_index, 7u);
    EXPECT_EQ(e->original_cmd_type, 0u);
    EXPECT_EQ(e->original_cmd_class, 2u);
    EXPECT_EQ(e->original_function_code, 0x8000u);
    EXPECT_EQ(success, 0);
    EXPECT_TRUE(log.has("CRITICAL: MSP rejected command: error_code 32777 (0x8009, "
                        "CNF_ERROR_VOICE_INACTIVE) for original cmd_class 2 (0x2) cmd_type 0 (00) "
                        "function_code 32768 (0x8000) channel_id 5 index 7"))
        << log.all();
    delete_csm_msg(m);
}

TEST(CsmParse, RefusedFrames)
{
    struct {
        const char *name;
        const char *frame;
        const char *line;
    } cases[] = {
        {"shorter than a header", "0a 01 02", "CRITICAL: short CSM frame of 3 bytes"},
        {"length byte past the received bytes", "0c 01 02 06 10 00 00 00 00 00",
         "CRITICAL: CSM frame of 10 bytes announces 12 bytes"},
        {"create-channel response without its channel", "0a 01 02 06 10 00 00 00 00 00",
         "CRITICAL: short CSM reply fc 10 (FC_SUPVSR_CREATE_CHANNEL) cc 6 ct 2 idx 1: msg_length 10, "
         "needs 14"},
        {"response without its result code", "08 01 02 02 00 80 00 00",
         "CRITICAL: short CSM reply fc 8000"},
        {"indication cut short", "0c 01 03 02 0d 80 00 00 0a 00 01 00",
         "CRITICAL: short CSM reply fc 800d (FC_VOIP_TONEDET)"},
        {"ARM version cut short", "10 01 04 06 21 00 00 00 56 32 2e 31 30 2e 32 00",
         "CRITICAL: short CSM reply fc 21"},
        {"command response of class 5", "0a 01 02 05 00 80 00 00 00 00",
         "CRITICAL: cannot handle command, exiting -> fc 8000 (FC_VOIP_VOPENA) cc 5 ct 2 idx 1"},
        {"unknown command type", "0a 01 63 06 00 80 00 00 00 00",
         "CRITICAL: cannot handle command, exiting -> fc 8000"},
        {"unknown response code", "0a 01 02 06 99 99 00 00 00 00",
         "CRITICAL: unknown message fc 9999 (Unknown function code) cc 6 ct 2 idx 1"},
        {"query response of a code without one", "0a 01 04 06 00 80 00 00 00 00",
         "CRITICAL: unhandled query response fc 8000"},
        {"unknown indication", "0a 01 03 02 00 80 00 00 00 00",
         "CRITICAL: unhandled indication fc 8000 (FC_VOIP_VOPENA) cc 2 ct 3 idx 1"},
        {"diagnostic response of a command code", "0a 01 79 c2 00 80 00 00 00 00",
         "CRITICAL: unknown diagnostic response fc 8000"},
        {"BERT statistics cut short", "0c 01 23 01 00 00 00 00 01 00 00 00",
         "CRITICAL: BERT statistics reply too short: msg_length 12, needs 52"},
        {"SRTP statistics cut short", "0c 01 18 01 00 00 00 00 01 00 00 00",
         "CRITICAL: SRTP statistics reply too short: msg_length 12, needs 90"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        log_capture log;
        int success = -1;
        magic_csm m = parse(c.frame, &success);
        EXPECT_TRUE(csm_msg_is_null(m));
        EXPECT_EQ(success, -1);
        EXPECT_TRUE(log.has(c.line)) << log.all();
    }
}

TEST(CsmParse, TimeslotOfTheSendingChannel)
{
    msp_set_timeslot_lookups([](int ch) { return ch == 7 ? 40 : -1; }, nullptr);
    int success = -1;
    magic_csm m = parse("0a 01 02 02 00 80 00 00 00 00", &success, 7);
    EXPECT_EQ(get_header(m)->msp_channel, 7);
    EXPECT_EQ(get_header(m)->msp_timeslot, 40);
    delete_csm_msg(m);
    m = parse("0a 01 02 02 00 80 00 00 00 00", &success, 8);
    EXPECT_EQ(get_header(m)->msp_timeslot, 0xFFFF);
    delete_csm_msg(m);
    msp_set_timeslot_lookups(nullptr, nullptr);
}

TEST(CsmParse, VerboseLines)
{
    struct {
        const char *frame;
        const char *line;
    } cases[] = {
        {"0e 02 02 06 10 00 00 00 00 00 21 00 05 00",
         "CID:000000:00: <--- FC_SUPVSR_CREATE_CHANNEL: response_code: 0, channel_number: 33, "
         "timeslot: 5"},
        {"10 03 03 02 0d 80 00 00 0a 00 01 00 02 00 05 00",
         "CID:000000:00: <<<< FC_VOIP_TONEDET: tone_detect_value: 10, timestamp: 131073, "
         "power_level: 5"},
        {"0e 05 04 06 0f 04 00 00 e8 03 54 81 02 00",
         "CID:000000:00: <=== FC_SUPVSR_DEVICE_STATUS_QUERY: heartbeat_period: 1000, dsp5_status: 1, "
         "dsp4_status: 0, dsp3_status: 1, dsp2_status: 0, dsp1_status: 1, dsp0_status: 0, "
         "arm1_status: 1, alert_type: 2"},
        {"34 01 79 c2 04 00 00 00 00 00 00 11 22 33 44 55 66 77 88 99 aa bb 00 08 "
         "45 00 00 00 00 00 00 40 11 80 00 00 a8 c0 01 02 a8 c0 03 04 13 88 13 89 00 00 00 00",
         "CID:000000:00: <--- REDIRECT_OVER_IP_UDP: response_code:|0x0000| "
         "source_mac:|66:77:88:99:aa:bb| source_ip:|192.168.2.1| source_port:|5000| "
         "destination_mac:|00:11:22:33:44:55| destination_ip:|192.168.4.3| destination_port:|5001|"},
        {"0a 02 79 c2 00 0e 00 00 33 00", "CID:000000:00: <--- DIAG_TDM_RX: response_code:33"},
    };
    verbose_msp_logging = 1;
    for (auto &c : cases) {
        log_capture log;
        int success = -1;
        magic_csm m = parse(c.frame, &success);
        ASSERT_FALSE(csm_msg_is_null(m));
        EXPECT_TRUE(log.has(c.line)) << log.all();
        delete_csm_msg(m);
    }
    verbose_msp_logging = 0;
}

TEST(CsmParse, LoggedDumpReadsBack)
{
    magic_csm m = msp_create_csm_msg_from_dbg_text(
        "(0x00):0e 02 02 06 10 00 00 00 (0x08):00 00 21 00 05 00 ");
    ASSERT_FALSE(csm_msg_is_null(m));
    EXPECT_EQ(m.u_csmdev_create_channel_response->channel_number, 0x21u);
    EXPECT_EQ(get_header(m)->msp_channel, 0);
    delete_csm_msg(m);
}

TEST(CsmParse, HexDumpOfAFrame)
{
    uint8_t bytes[20];
    for (int i = 0; i < 20; i++)
        bytes[i] = (uint8_t)i;
    char text[1280];
    fill_msp_payload_buffer(text, sizeof text, bytes, 10);
    EXPECT_STREQ(text, "(0x00):00 01 02 03 04 05 06 07 (0x08):08 09 ");
    // A text too small for the second group stops after the first.
    char small[40];
    fill_msp_payload_buffer(small, sizeof small, bytes, 20);
    EXPECT_STREQ(small, "(0x00):00 01 02 03 04 05 06 07 ");
}

TEST(CsmParse, ShownMessages)
{
    // A command response shows its result code from ten bytes on.
    struct {
        const char *frame;
        const char *line;
    } cases[] = {
        {"09 05 02 02 00 80 00 00 09",
         "CSMHEADER: Function 0x8000 FC_VOIP_VOPENA Len 0x09 (009)  Idx 0x05 (005) Cls 0x02  "
         "Typ 0x02 => PAYLOAD (len=009): (0x00):09 05 02 02 00 80 00 00 (0x08):09 "},
        {"0a 05 02 02 00 80 00 00 09 80",
         "CSMHEADER: Function 0x8000 FC_VOIP_VOPENA Len 0x0a (010)  Idx 0x05 (005) Cls 0x02  "
         "Typ 0x02 => RESULT type 0x02 - value 8009 CNF_ERROR_VOICE_INACTIVE => PAYLOAD (len=010): "
         "(0x00):0a 05 02 02 00 80 00 00 (0x08):09 80 "},
        {"0a 05 03 02 00 0e 00 00 09 80",
         "CSMHEADER: Function 0x0e00 DIAG_TDM_RX Len 0x0a (010)  Idx 0x05 (005) Cls 0x02  "
         "Typ 0x03 => PAYLOAD (len=010): (0x00):0a 05 03 02 00 0e 00 00 (0x08):09 80 "},
    };
    for (auto &c : cases) {
        log_capture log;
        std::vector<uint8_t> f = hex_bytes(c.frame);
        _msp_show_msg(__FILE__, __LINE__, __func__, nullptr, f.data(), (int)f.size());
        ASSERT_EQ(log_capture::lines().size(), 1u) << log.all();
        EXPECT_EQ(log_capture::lines()[0], c.line);
    }
    // The dump never reads past the bytes given, whatever the length byte says.
    {
        log_capture log;
        std::vector<uint8_t> f = hex_bytes("ff 05 03 02 00 0e 00 00 09");
        _msp_show_msg(__FILE__, __LINE__, __func__, nullptr, f.data(), (int)f.size());
        EXPECT_TRUE(log.has("(len=255): (0x00):ff 05 03 02 00 0e 00 00 (0x08):09 ")) << log.all();
    }
    msp_logging_active = 0;
    {
        log_capture log;
        std::vector<uint8_t> f = hex_bytes(cases[1].frame);
        _msp_show_msg(__FILE__, __LINE__, __func__, nullptr, f.data(), (int)f.size());
        EXPECT_TRUE(log_capture::lines().empty());
    }
    msp_logging_active = 1;
}

} // namespace
