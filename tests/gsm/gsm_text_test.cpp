// Text conversions, PDU building and the small parsers of modem answers.
#include "gsm_fixture.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace {

std::string ucs2_to_utf8(const char *hex)
{
    char *s = libgsm_ucs2_to_utf8(hex);
    std::string r = s ? s : "(null)";
    free(s);
    return r;
}

std::string utf8_to_ucs2(const char *text)
{
    char *s = libgsm_utf8_to_ucs2(text);
    std::string r = s ? s : "(null)";
    free(s);
    return r;
}

TEST(GsmText, Ucs2ToUtf8)
{
    struct {
        const char *hex, *utf8;
    } cases[] = {
        {"00480069", "Hi"},
        {"0047007200FC00DF0065", "Gr\xC3\xBC\xC3\x9F" "e"},
        {"D83DDE00", "\xF0\x9F\x98\x80"},                          // surrogate pair
        {"263AFE0F0041", "\xE2\x98\xBA\xEF\xB8\x8F" "A"},          // U+FE0F is no surrogate
        {"FFFE0041", "\xEF\xBF\xBE" "A"},
        {"D83D0041", "A"},                                         // lone high surrogate dropped
        {"DE000041", "A"},                                         // lone low surrogate dropped
        {"", ""},
        {"004", "(null)"},
        {"00G1", "(null)"},
    };
    for (auto &c : cases)
        EXPECT_EQ(ucs2_to_utf8(c.hex), c.utf8) << c.hex;
    EXPECT_EQ(libgsm_ucs2_to_utf8(nullptr), nullptr);
}

TEST(GsmText, Utf8ToUcs2)
{
    struct {
        const char *text, *hex;
    } cases[] = {
        {"Hi", "00480069"},
        {"Gr\xC3\xBC\xC3\x9F" "e", "0047007200FC00DF0065"},
        {"\xE2\x98\xBA\xEF\xB8\x8F", "263AFE0F"},
        {"\xF0\x9F\x98\x80", "D83DDE00"},
        {"\x80" "abc", "(null)"},          // continuation byte in lead position
        {"\xC3", "(null)"},                 // truncated sequence
        {"\xC0\x80", "(null)"},             // overlong
        {"\xED\xA0\x80", "(null)"},         // encoded surrogate
    };
    for (auto &c : cases)
        EXPECT_EQ(utf8_to_ucs2(c.text), c.hex) << c.hex;
    errno = 0;
    EXPECT_EQ(libgsm_utf8_to_ucs2("\x80"), nullptr);
    EXPECT_EQ(errno, EFAULT);
}

TEST(GsmText, SevenBitAndLatin1)
{
    unsigned char packed[16];
    int n = texthex_to_binhex("C8329BFD065DF97236190408", packed, sizeof packed);
    EXPECT_EQ(n, 12);
    char out[32];
    decode_7bit(packed, 12, out, sizeof out);
    EXPECT_EQ(std::string(out).substr(0, 12), "Hello W\xF6rld "); // 0x7C maps to 0xF6
    EXPECT_EQ(texthex_to_binhex("0A0G", packed, sizeof packed), 1);
    char *u = iso8559_to_utf8("\xF6\xA3");
    EXPECT_STREQ(u, "\xC3\xB6\xC2\xA3");
    free(u);
    EXPECT_EQ(gsm_7bit_default_alphabet[0x10], 0x81);
    EXPECT_EQ(gsm_7bit_default_alphabet[0x1B], 0x1B);
}

TEST(GsmPdu, SubmitPartLayout)
{
    struct {
        const char *number;
        int part, total, dr;
        const char *head; // everything before the user data length
    } cases[] = {
        {"+4917012345", 1, 1, 0, "0011000A919471103254000BA7"},
        {"004917012345", 1, 1, 0, "0011000A919471103254000BA7"},
        {"0301234", 1, 1, 1, "0031000781301032F4000BA7"},
        {"+4917012345", 2, 3, 0, "0051000A919471103254000BA7"},
        {"+4917012345", 1, 2, 1, "0071000A919471103254000BA7"},
    };
    for (auto &c : cases) {
        gsm_outgoing_sms s = {};
        ASSERT_EQ(make_cmgs_pdu_part(c.number, "00480069", c.part, c.total, c.dr, &s), 0);
        std::string pdu = s.pdu_block;
        std::string head = c.head;
        EXPECT_EQ(pdu.substr(0, head.size()), head) << c.number;
        std::string rest = pdu.substr(head.size());
        if (c.total > 1) {
            char udh[32];
            snprintf(udh, sizeof udh, "0A05000300%02X%02X00480069\x1a", c.total, c.part);
            EXPECT_EQ(rest, udh);
        } else {
            EXPECT_EQ(rest, "0400480069\x1a");
        }
        EXPECT_EQ(s.pdu_cmgs_length, (int)(pdu.size() - 1) / 2 - 1);
        free(s.pdu_block);
    }
    gsm_outgoing_sms s = {};
    EXPECT_EQ(make_cmgs_pdu_part("+49", "00", 3, 2, 0, &s), -1);
}

TEST(GsmParsers, ClipEcamCusdAndRegistration)
{
    struct {
        const char *line;
        bool ok;
        const char *number, *name;
        int type, validity;
    } clips[] = {
        {"+CLIP: \"0301234\",129,\"\",,\"Anna \"\"A\"\"\",0", true, "0301234", "Anna A", 129, 0},
        {"+CLIP: \"+4930123\",145", true, "+4930123", "", 145, 0},
        {"+CLIP: \"\",128,,,,1", true, "", "", 128, 1},
        {"+CLIP: \"0301234\"", false, "", "", 0, 0},
        {"RING", false, "", "", 0, 0},
    };
    for (auto &c : clips) {
        _gsm_event_clip_t *r = libgsm_parse_clip(1, c.line);
        EXPECT_EQ(r != nullptr, c.ok) << c.line;
        if (r) {
            EXPECT_STREQ(r->number, c.number);
            EXPECT_STREQ(r->name, c.name);
            EXPECT_EQ(r->type, c.type);
            EXPECT_EQ(r->validity, c.validity);
        }
        free(r);
    }
    int id = -1;
    EXPECT_EQ(libgsm_event_ecam(1, 0, " 0,3,1,,,", &id), 3);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(libgsm_event_ecam(1, 0, " 1", &id), -1);

    int m = 9;
    char *text = nullptr;
    EXPECT_EQ(libgsm_parse_cusd("+CUSD: 0,\"00480069\",15", &m, &text), 1);
    EXPECT_EQ(m, 0);
    EXPECT_STREQ(text, "Hi");
    free(text);
    EXPECT_EQ(libgsm_parse_cusd("+CUSD: 2", &m, &text), 0);
    EXPECT_EQ(m, 2);
    EXPECT_EQ(libgsm_parse_cusd("+CUSD: 1,\"XYZ\",15", &m, &text), 0);

    EXPECT_STREQ(gsm_net_reg_to_string(5), "registered (roaming)");
    EXPECT_STREQ(gsm_net_reg_to_string(7), "invalid");
    EXPECT_STREQ(libgsm_strerror(EWRONGPIN), "invalid PIN");
    EXPECT_STREQ(libgsm_strerror(ECMER), "unknown error");
    char *st = gsm_status_to_string(1);
    EXPECT_STREQ(st, "ERROR");
    free(st);

    auto *recv = libgsm_event_sms_recv(1, 0, "+CMTI: \"SM\",12");
    ASSERT_NE(recv, nullptr);
    EXPECT_STREQ(recv->save_mem, "SM");
    EXPECT_EQ(recv->save_pos, 12);
    free(recv);
    EXPECT_EQ(libgsm_event_sms_recv(1, 0, "+CMTI: \"XX\""), nullptr);
}

TEST(GsmCbm, MessageIdsAndSubscriptionState)
{
    global_gsm_cbm_enable = 1;
    struct {
        const char *configured, *normalised;
    } lists[] = {
        {"50; 100-200 ,,4370", "50,100-200,4370"},
        {"", "0-65535"},
        {",;1+2\t3,,", "1,2,3"},
        {"abc", "0-65535"},
    };
    char out[256];
    for (auto &l : lists) {
        gsm_cbm_set_mids(l.configured);
        gsm_cbm_normalised_mids(out, sizeof out);
        EXPECT_STREQ(out, l.normalised) << l.configured;
    }
    gsm_cbm_set_mids("50,4370");
    EXPECT_EQ(gsm_cbm_subscription_is_current("+CSCB: 0,\"50,4370\",\"\"\r\nOK"), 1);
    EXPECT_EQ(gsm_cbm_subscription_is_current("+CSCB: 1,\"50,4370\",\"\""), 0);
    EXPECT_EQ(gsm_cbm_subscription_is_current("+CSCB: 0,\"50\",\"\""), 0);
    EXPECT_EQ(gsm_cbm_subscription_is_current("OK"), 0);
    EXPECT_EQ(gsm_cbm_cnmi_bm("+CNMI: 2,1,2,1,0\r\nOK"), 2);
    EXPECT_EQ(gsm_cbm_cnmi_bm("+CNMI: 2,1"), -1);
    EXPECT_EQ(gsm_cbm_cnmi_bm("+CNMI: 2,1,x"), -1);
    gsm_cbm_mark_for_rearm(9);
    gsm_cbm_mark_for_rearm(2);
    EXPECT_EQ(global_gsm_cbm_needs_rearm[2], 1);
    global_gsm_cbm_needs_rearm[2] = 0;
    global_gsm_cbm_enable = 0;
    gsm_cbm_set_mids(nullptr);
}

TEST(GsmWebhook, JsonEscapingIsCompleteAndBounded)
{
    char out[64];
    gsm_json_escape(out, sizeof out, "a\"b\\c\n\x01\xC3\xBC");
    EXPECT_STREQ(out, "a\\\"b\\\\c\\n\\u0001\xC3\xBC");
    char small[6];
    gsm_json_escape(small, sizeof small, "ab\"cd");
    EXPECT_STREQ(small, "ab\\\"c");
    gsm_json_escape(small, sizeof small, "abcd\"");
    EXPECT_STREQ(small, "abcd"); // an escape is never cut in half
    gsm_json_escape(small, sizeof small, "abc\xE2\x98\xBA");
    EXPECT_STREQ(small, "abc");     // nor a UTF-8 sequence
}

} // namespace
