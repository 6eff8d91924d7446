// Names of codes and tones, the record constructors and the frame header.
#include <gtest/gtest.h>

#include <string>

#include "csm_codes.h"
#include "csm_message.h"
#include "csm_test_util.h"
#include "csm_tones.h"

namespace {

TEST(CsmNames, FunctionAndResultCodes)
{
    struct {
        const char *(*lookup)(int);
        int code;
        const char *name;
    } cases[] = {
        {get_function_code, 0x0000, "FC_SUPVSR_READY"},
        {get_function_code, 0x0010, "FC_SUPVSR_CREATE_CHANNEL"},
        {get_function_code, 0x010A, "FC_CSME_MULTI_CMD"},
        {get_function_code, 0x9700, "FC_SUPVSR_MAC_HAIRPIN"},
        {get_function_code, 0x001E, "Unknown function code"},
        {get_function_code, 0x0E00, "Unknown function code"},
        {get_function_code, -1, "Unknown function code"},
        {get_function_code, 0x10010, "Unknown function code"},
        {get_function_code_extended, 0x0E00, "DIAG_TDM_RX"},
        {get_function_code_extended, 0x0004, "REDIRECT_OVER_IP_UDP"},
        {get_function_code_extended, 0x1013, "DIAG_DSP_TASK_IOPARAMS"},
        {get_function_code_extended, 0x8000, "FC_VOIP_VOPENA"},
        {get_function_code_extended, 0x0005, "Unknown function code"},
        {get_result_code, 0x0000, "CNF_OK"},
        {get_result_code, 0x0005, "Unknown result code"},
        {get_result_code, 0x0132, "FC_EMAC_RESTART"},
        {get_result_code, 0x8009, "CNF_ERROR_VOICE_INACTIVE"},
        {get_result_code, 0xFFF2, "DELAYED_VOIPCONFIG_ACK"},
        {get_result_code, 0x10000, "Unknown result code"},
    };
    for (auto &c : cases)
        EXPECT_STREQ(c.lookup(c.code), c.name) << std::hex << c.code;
}

TEST(CsmNames, TablesHoldEveryRowOnce)
{
    int functions = 0, extended = 0, results = 0;
    for (int code = 0; code <= 0xFFFF; code++) {
        functions += std::string(get_function_code(code)) != "Unknown function code";
        extended += std::string(get_function_code_extended(code)) != "Unknown function code";
        results += std::string(get_result_code(code)) != "Unknown result code";
    }
    EXPECT_EQ(functions, 222);
    EXPECT_EQ(extended, 232);
    EXPECT_EQ(results, 556);
}

TEST(CsmNames, TonesAndFaxStates)
{
    struct {
        const char *(*lookup)(int);
        int value;
        const char *name;
    } cases[] = {
        {msp_print_tonedet, 0, "DTMF_0"},
        {msp_print_tonedet, 11, "DTMF_POUND"},
        {msp_print_tonedet, 15, "DTMF_D"},
        {msp_print_tonedet, 22, "UNKNOWN_TONEDET"},
        {msp_print_tonedet, 32, "T30_CNG_START_DETECTED"},
        {msp_print_tonedet, 80, "2010HZ_SS7_COT_TONE_DETECTED"},
        {msp_print_tonedet, 96, "FFT_CPD_DETECTER_0_DETECTED"},
        {msp_print_tonedet, 103, "FFT_CPD_DETECTER_7_DETECTED"},
        {msp_print_tonedet, 104, "UNKNOWN_TONEDET"},
        {msp_print_tonedet, 231, "FFT_CPD_DETECTER_7_END_DETECTED"},
        {msp_print_tonedet, 255, "END_OF_TONE"},
        {msp_print_tonedet, -1, "UNKNOWN_TONEDET"},
        {msp_print_faxstate, 0, "IDLE"},
        {msp_print_faxstate, 31, "V17_14400_LONG_TRAIN_REMODULATION"},
        {msp_print_faxstate, 32, "UNKNOWN_FAXSTATE"},
        {msp_print_faxstate, 255, "UNKNOWN_FAXSTATE"},
        {msp_print_faxstate, 0x2106, "T30_FCF_DEMODULATED_CONFIRMATION_TO_RECEIVE"},
        {msp_print_faxstate, 0x2107, "T30_FCF_REMODULATED_CONFIRMATION_TO_RECEIVE"},
        {msp_print_faxstate, 0xDF07, "T30_FCF_REMODULATED_DISCONNECT"},
        {msp_print_faxstate, 0x5F07, "T30_FCF_REMODULATED_DISCONNECT"},
        {msp_print_faxstate, 0xDF06, "T30_FCF_DEMODULATED_DISCONNECT1"},
        {msp_print_faxstate, 0x5F06, "T30_FCF_DEMODULATED_DISCONNECT2"},
        {msp_print_faxstate, 0x7E06, "T30_FCF_TCF_SENT_TO_IP"},
        {msp_print_faxstate, 0x7F07, "T30_FCF_TCF_REMODULATED_TO_TDM"},
        {msp_print_faxstate, 0x2108, "UNKNOWN_FAXSTATE"},
        {msp_print_faxstate, 0x0306, "UNKNOWN_FAXSTATE"},
        {msp_print_faxstate, 0x12106, "UNKNOWN_FAXSTATE"},
        {msp_print_fcf, 0xF406, "T30_FCF_DEMODULATED_END_OF_PROCEDURE"},
        {msp_print_fcf, 5, "UNKNOWN_FAXSTATE"},
    };
    for (auto &c : cases)
        EXPECT_STREQ(c.lookup(c.value), c.name) << std::hex << c.value;
}

TEST(CsmConstructors, DefaultRecordOfVopena)
{
    magic_csm m = create_default_csm_msg(FC_VOIP_VOPENA, 5);
    ASSERT_FALSE(csm_msg_is_null(m));
    const csm_header *h = get_header(m);
    EXPECT_EQ(h->msg_length, 22);
    EXPECT_EQ(h->index, 5);
    EXPECT_EQ(h->command_type, 0);
    EXPECT_EQ(h->command_class, 2);
    EXPECT_EQ(h->function_code, 0x8000);
    EXPECT_EQ(h->reserved_word, 0);
    EXPECT_STREQ(h->function_text, "FC_VOIP_VOPENA");
    EXPECT_EQ(m.u_csmchan_voip_vopena->channel_mode, 1u);
    EXPECT_EQ(m.u_csmchan_voip_vopena->rtp_v, 2u);
    EXPECT_EQ(m.u_csmchan_voip_vopena->payload_type, 8u);
    EXPECT_EQ(m.u_csmchan_voip_vopena->ssrc, 0x2000u);
    delete_csm_msg(m);
}

TEST(CsmConstructors, IndexNamesAndUnknownCodes)
{
    magic_csm dtmfopt = create_default_csm_msg(FC_VOIP_DTMFOPT, 9);
    EXPECT_EQ(get_header(dtmfopt)->index, 0);
    delete_csm_msg(dtmfopt);

    magic_csm diag = create_default_csm_msg(DIAG_TDM_RX, 3);
    EXPECT_STREQ(get_header(diag)->function_text, "DIAG_TDM_RX");
    EXPECT_EQ(get_header(diag)->command_class, 194);
    EXPECT_EQ(get_header(diag)->command_type, 116);
    delete_csm_msg(diag);

    magic_csm plain = create_default_csm_msg2(FC_VOIP_VOPENA, 3);
    EXPECT_EQ(get_header(plain)->function_text, nullptr);
    delete_csm_msg(plain);

    log_capture log;
    EXPECT_TRUE(csm_msg_is_null(create_default_csm_msg(0x1234, 1)));
    EXPECT_TRUE(csm_msg_is_null(create_default_csm_msg(FC_VOIP_TONEDET, 1)));
    EXPECT_TRUE(log_capture::lines().empty());
    delete_csm_msg(csm_null_msg());
    EXPECT_EQ(get_header(csm_null_msg()), nullptr);
}

TEST(CsmConstructors, Queries)
{
    struct {
        int fc;
        int length;
    } known[] = {{0x0000, 8}, {0x0010, 10}, {0x0021, 8}, {0x0025, 8}, {0x0031, 8},
                 {0x0408, 8}, {0x040F, 8}, {0x800C, 8}, {0x9312, 10}};
    for (auto &q : known) {
        magic_csm m = create_query_csm_msg(q.fc, 6, 1, 0x33);
        ASSERT_FALSE(csm_msg_is_null(m)) << std::hex << q.fc;
        const csm_header *h = get_header(m);
        EXPECT_EQ(h->msg_length, q.length);
        EXPECT_EQ(h->index, 0x33);
        EXPECT_EQ(h->command_type, 1);
        EXPECT_EQ(h->command_class, 6);
        EXPECT_EQ(h->function_code, q.fc);
        EXPECT_EQ(h->function_text, nullptr);
        delete_csm_msg(m);
    }
    for (int fc : {0x0011, 0x8000}) {
        log_capture log;
        EXPECT_TRUE(csm_msg_is_null(create_query_csm_msg(fc, 6, 1, 2)));
        std::string name = get_function_code(fc);
        EXPECT_TRUE(log.has("CRITICAL: unknown request in create_query_csm_msg: fc " +
                            (fc == 0x11 ? std::string("11") : std::string("8000")) + " (" + name +
                            ") , cc 6 , ct 1 , idx 2"))
            << log.all();
    }
    magic_csm s = create_stat_query_csm_msg(0x0101, 5, 0x91, 7);
    EXPECT_EQ(get_header(s)->msg_length, 8);
    EXPECT_EQ(get_header(s)->command_type, 0x91);
    EXPECT_EQ(get_header(s)->command_class, 5);
    delete_csm_msg(s);
}

TEST(CsmConstructors, HeaderBytesBothWays)
{
    csm_header h{};
    h.msg_length = 0x16;
    h.index = 0x05;
    h.command_type = 2;
    h.command_class = 6;
    h.function_code = 0x9312;
    h.reserved_word = 0xBEEF;
    uint8_t buf[8];
    msp_header_to_buffer(&h, buf);
    EXPECT_EQ(bytes_hex(buf, 8), "16 05 02 06 12 93 ef be");

    csm_header *back = extract_header(buf, 8);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->msg_length, 0x16);
    EXPECT_EQ(back->index, 5);
    EXPECT_EQ(back->command_type, 2);
    EXPECT_EQ(back->command_class, 6);
    EXPECT_EQ(back->function_code, 0x9312);
    free(back);
    EXPECT_EQ(extract_header(buf, 7), nullptr);
}

} // namespace
