// Information elements: each encoder's octets go through a capture into
// tshark, which must decode the values that went in; the decoders read the
// same octets back. Both frame shapes (TE info record, NT pointer record).
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>

#include "base64.h"

#include "ie_coders.h"
#include "isdn_msg.h"
#include "q931_frame.h"
#include "q931_hooks.h"
#include "q931_test_support.h"

namespace {

struct ie_case {
    const char *name;
    int port;
    std::function<void(msg_t *, int, misdn_bchannel *)> enc;
    const char *octets;                               // the element as on the wire
    std::map<std::string, std::string> fields;        // tshark field -> value
    std::function<void(const msg_t *, int, misdn_bchannel *)> dec;
};

long to_long(const std::string &s, bool *ok)
{
    char *end = nullptr;
    long v = strtol(s.c_str(), &end, 0);
    *ok = !s.empty() && end && *end == 0;
    return v;
}

// Values compare as numbers where both sides are numbers (tshark prints hex).
void expect_field(const tshark_packet &p, const std::string &field, const std::string &want, const char *name)
{
    auto it = p.find(field);
    ASSERT_NE(it, p.end()) << name << " " << field;
    bool a, b;
    long x = to_long(it->second, &a), y = to_long(want, &b);
    if (a && b)
        EXPECT_EQ(x, y) << name << " " << field << " = " << it->second;
    else
        EXPECT_EQ(it->second, want) << name << " " << field;
}

std::vector<ie_case> cases()
{
    return {
        {"calling number, no presentation", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_calling_pn(m, 1, 1, -1, 0, "4930123", nt, bc); },
         "6c 08 91 34 39 33 30 31 32 33",
         {{"q931.number_type", "1"}, {"q931.numbering_plan", "1"}, {"q931.calling_party_number.digits", "4930123"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int t, p, pr, s;
             char n[31];
             ASSERT_EQ(dec_ie_calling_pn(m, &t, &p, &pr, &s, n, sizeof(n), nt, bc, 0), 0);
             EXPECT_EQ(t, 1);
             EXPECT_EQ(p, 1);
             EXPECT_EQ(pr, -1);
             EXPECT_EQ(s, -1);
             EXPECT_STREQ(n, "4930123");
         }},
        {"calling number, restricted, network provided", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_calling_pn(m, 2, 1, 1, 3, "301234", nt, bc); },
         "6c 08 21 a3 33 30 31 32 33 34",
         {{"q931.number_type", "2"},
          {"q931.presentation_ind", "1"},
          {"q931.screening_ind", "3"},
          {"q931.calling_party_number.digits", "301234"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int t, p, pr, s;
             char n[31];
             ASSERT_EQ(dec_ie_calling_pn(m, &t, &p, &pr, &s, n, sizeof(n), nt, bc, 0), 0);
             EXPECT_EQ(pr, 1);
             EXPECT_EQ(s, 3);
             EXPECT_STREQ(n, "301234");
         }},
        {"calling number without digits", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_calling_pn(m, 0, 1, 2, 0, "", nt, bc); },
         "6c 02 01 c0", {{"q931.presentation_ind", "2"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int t, p, pr, s;
             char n[31];
             ASSERT_EQ(dec_ie_calling_pn(m, &t, &p, &pr, &s, n, sizeof(n), nt, bc, 0), 0);
             EXPECT_EQ(pr, 2);
             EXPECT_STREQ(n, "");
         }},
        {"called number", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_called_pn(m, 4, 1, "1234#", nt, bc); },
         "70 06 c1 31 32 33 34 23",
         {{"q931.number_type", "4"}, {"q931.numbering_plan", "1"}, {"q931.called_party_number.digits", "1234#"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int t, p;
             char n[31];
             ASSERT_EQ(dec_ie_called_pn(m, &t, &p, n, sizeof(n), nt, bc), 0);
             EXPECT_EQ(t, 4);
             EXPECT_EQ(p, 1);
             EXPECT_STREQ(n, "1234#");
         }},
        {"connected number", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_connected_pn(m, 2, 9, 0, 1, "77", nt, bc); },
         "4c 04 29 81 37 37",
         {{"q931.number_type", "2"}, {"q931.numbering_plan", "9"}, {"q931.screening_ind", "1"},
          {"q931.connected_number.digits", "77"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int t, p, pr, s;
             char n[31];
             ASSERT_EQ(dec_ie_connected_pn(m, &t, &p, &pr, &s, n, sizeof(n), nt, bc), 0);
             EXPECT_EQ(t, 2);
             EXPECT_EQ(p, 9);
             EXPECT_EQ(pr, 0);
             EXPECT_EQ(s, 1);
             EXPECT_STREQ(n, "77");
         }},
        {"redirecting number with reason", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_redir_nr(m, 2, 1, 0, 3, 0, "5566", nt, bc); },
         "74 07 21 03 80 35 35 36 36",
         {{"q931.extension.reason", "0"}, {"q931.redirecting_number.digits", "5566"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int t, p, pr, s, r;
             char n[31];
             ASSERT_EQ(dec_ie_redir_nr(m, &t, &p, &pr, &s, &r, n, sizeof(n), nt, bc), 0);
             EXPECT_EQ(t, 2);
             EXPECT_EQ(s, 3);
             EXPECT_EQ(r, 0);
             EXPECT_STREQ(n, "5566");
         }},
        {"cause", 1, [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_cause(m, 1, 17, nt, bc); },
         "08 02 81 91", {{"q931.cause_location", "1"}, {"q931.cause_value", "17"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int l, c;
             ASSERT_EQ(dec_ie_cause(m, &l, &c, nt, bc), 0);
             EXPECT_EQ(l, 1);
             EXPECT_EQ(c, 17);
         }},
        {"progress", 1, [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_progress(m, 0, 5, 8, nt, bc); },
         "1e 02 85 88",
         {{"q931.progress_indicator.location", "5"}, {"q931.progress_indicator.description", "8"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int c, l, p;
             ASSERT_EQ(dec_ie_progress(m, &c, &l, &p, nt, bc), 0);
             EXPECT_EQ(c, 0);
             EXPECT_EQ(l, 5);
             EXPECT_EQ(p, 8);
         }},
        {"channel, BRI exclusive B2", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_channel_id(m, 1, 2, nt, bc); }, "18 01 8a",
         {{"q931.channel.exclusive", "1"}, {"q931.channel.selection", "2"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int e, c;
             ASSERT_EQ(dec_ie_channel_id(m, &e, &c, nt, bc), 0);
             EXPECT_EQ(e, 1);
             EXPECT_EQ(c, 2);
         }},
        {"channel, BRI any", 1, [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_channel_id(m, 0, 255, nt, bc); },
         "18 01 83", {{"q931.channel.exclusive", "0"}, {"q931.channel.selection", "3"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int e, c;
             ASSERT_EQ(dec_ie_channel_id(m, &e, &c, nt, bc), 0);
             EXPECT_EQ(c, 255);
         }},
        {"channel, PRI exclusive 17", 2,
         [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_channel_id(m, 1, 17, nt, bc); }, "18 03 a9 83 91",
         {{"q931.channel.exclusive", "1"}, {"q931.channel.interface_type", "1"}, {"q931.channel.number", "17"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int e, c;
             ASSERT_EQ(dec_ie_channel_id(m, &e, &c, nt, bc), 0);
             EXPECT_EQ(e, 1);
             EXPECT_EQ(c, 17);
         }},
        {"channel, PRI any ignores exclusive", 2,
         [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_channel_id(m, 1, 255, nt, bc); }, "18 01 a3",
         {{"q931.channel.exclusive", "0"}, {"q931.channel.selection", "3"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int e, c;
             ASSERT_EQ(dec_ie_channel_id(m, &e, &c, nt, bc), 0);
             EXPECT_EQ(c, 255);
         }},
        {"bearer, speech A-law", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_bearer(m, 0, 0, 0, 16, -1, 3, nt, bc); },
         "04 03 80 90 a3",
         {{"q931.information_transfer_capability", "0"}, {"q931.information_transfer_rate", "16"},
          {"q931.uil1", "3"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int v[11];
             ASSERT_EQ(dec_ie_bearer(m, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9],
                                     &v[10], nt, bc),
                       0);
             EXPECT_EQ(v[1], 0);
             EXPECT_EQ(v[3], 16);
             EXPECT_EQ(v[5], 3);
             EXPECT_EQ(v[4], -1);
         }},
        {"bearer, 3.1 kHz audio mu-law", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_bearer(m, 0, 16, 0, 16, -1, 2, nt, bc); },
         "04 03 90 90 a2", {{"q931.information_transfer_capability", "16"}, {"q931.uil1", "2"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int v[11];
             ASSERT_EQ(dec_ie_bearer(m, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9],
                                     &v[10], nt, bc),
                       0);
             EXPECT_EQ(v[1], 16);
             EXPECT_EQ(v[5], 2);
         }},
        {"bearer, multirate with multiplier", 2,
         [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_bearer(m, 0, 8, 0, 24, 6, -1, nt, bc); },
         "04 03 88 98 86",
         {{"q931.information_transfer_capability", "8"}, {"q931.information_transfer_rate", "24"},
          {"q931.bearer_capability.rate_multiplier", "6"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int v[11];
             ASSERT_EQ(dec_ie_bearer(m, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9],
                                     &v[10], nt, bc),
                       0);
             EXPECT_EQ(v[1], 8);
             EXPECT_EQ(v[3], 24);
             EXPECT_EQ(v[4], 6);
             EXPECT_EQ(v[5], -1);
         }},
        {"display", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) {
             char d[84] = "Hotline";
             enc_ie_display(m, d, sizeof(d), nt, bc);
         },
         "28 07 48 6f 74 6c 69 6e 65", {{"q931.display_information", "Hotline"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             char d[84];
             ASSERT_EQ(dec_ie_display(m, d, sizeof(d), nt, bc), 0);
             EXPECT_STREQ(d, "Hotline");
         }},
        {"keypad", 1, [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_keypad(m, "*21#", nt, bc); },
         "2c 04 2a 32 31 23", {{"q931.keypad_facility", "*21#"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             char k[32];
             ASSERT_EQ(dec_ie_keypad(m, k, sizeof(k), nt, bc), 0);
             EXPECT_STREQ(k, "*21#");
         }},
        {"sending complete", 1, [](msg_t *m, int nt, misdn_bchannel *bc) { enc_ie_complete(m, 1, nt, bc); },
         "a1", {{"q931.sending_complete", "1"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int c;
             ASSERT_EQ(dec_ie_complete(m, &c, nt, bc), 0);
             EXPECT_EQ(c, 1);
         }},
        {"user-user, IA5", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) {
             const unsigned char d[] = "hello";
             enc_ie_useruser(m, 4, d, 5, nt, bc);
         },
         "7e 06 04 68 65 6c 6c 6f", {{"q931.user.protocol_discriminator", "4"}, {"q931.user.string", "hello"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int pr, len;
             unsigned char d[256];
             ASSERT_EQ(dec_ie_useruser(m, &pr, d, sizeof(d), &len, nt, bc), 0);
             EXPECT_EQ(pr, 4);
             EXPECT_EQ(len, 5);
             EXPECT_EQ(memcmp(d, "hello", 5), 0);
         }},
        {"high layer compatibility", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) {
             const unsigned char d[] = {0x91, 0x81};
             enc_ie_hlc_raw(m, d, 2, nt, bc);
         },
         "7d 02 91 81", {{"q931.high_layer_characteristics", "1"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             unsigned char d[16];
             int len;
             ASSERT_EQ(dec_ie_hlc_raw(m, d, sizeof(d), &len, nt, bc), 0);
             EXPECT_EQ(len, 2);
             EXPECT_EQ(d[1], 0x81);
         }},
        {"low layer compatibility", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) {
             const unsigned char d[] = {0x88, 0x90};
             enc_ie_llc_raw(m, d, 2, nt, bc);
         },
         "7c 02 88 90", {{"q931.information_transfer_capability", "8"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             unsigned char d[16];
             int len;
             ASSERT_EQ(dec_ie_llc_raw(m, d, sizeof(d), &len, nt, bc), 0);
             EXPECT_EQ(len, 2);
             EXPECT_EQ(d[0], 0x88);
         }},
        {"date and time", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) {
             struct tm tm = {};
             tm.tm_year = 126;
             tm.tm_mon = 2;
             tm.tm_mday = 14;
             tm.tm_hour = 9;
             tm.tm_min = 26;
             tm.tm_isdst = -1;
             enc_ie_date(m, mktime(&tm), nt, bc);
         },
         "29 05 1a 03 0e 09 1a", {{"q931.date_time", "1a030e091a"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             struct tm tm;
             int len;
             ASSERT_EQ(dec_ie_date(m, &tm, &len, nt, bc), 0);
             EXPECT_EQ(len, 5);
             EXPECT_EQ(tm.tm_year, 126);
             EXPECT_EQ(tm.tm_mon, 2);
             EXPECT_EQ(tm.tm_mday, 14);
             EXPECT_EQ(tm.tm_hour, 9);
             EXPECT_EQ(tm.tm_min, 26);
         }},
        {"facility", 1,
         [](msg_t *m, int nt, misdn_bchannel *bc) {
             const unsigned char f[] = {0x91, 0xa1, 0x0b, 0x02, 0x01, 0x03, 0x02, 0x01,
                                        0x00, 0x80, 0x03, 0x42, 0x6f, 0x62};
             enc_ie_facility(m, f, sizeof(f), nt, bc);
         },
         "1c 0e 91 a1 0b 02 01 03 02 01 00 80 03 42 6f 62",
         {{"q932.ros.present", "3"}, {"q932.ros.local", "0"}, {"qsig.na.namePresentationAllowedSimple", "Bob"}},
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             unsigned char f[256];
             int len;
             ASSERT_EQ(dec_ie_facility(m, f, sizeof(f), &len, nt, bc), 0);
             EXPECT_EQ(len, 14);
             EXPECT_EQ(f[13], 'b');
         }},
    };
}

class IeCoding : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override { install_test_ports(); }
    void TearDown() override { q931_reset_hooks(); }
};

TEST_P(IeCoding, EncodersDecodeInTsharkAndBackInTheDecoders)
{
    if (!tshark_available())
        GTEST_SKIP() << "tshark not installed";
    const int nt = GetParam();
    std::vector<ie_case> all = cases();
    std::vector<octets> wires;
    for (const ie_case &c : all) {
        misdn_bchannel bc;
        fresh_bc(&bc, c.port, nt);
        msg_t *m = create_l3msg(0x30580, MT_SETUP, 1, NT_RECORD_SIZE, nt);
        c.enc(m, nt, &bc);
        EXPECT_EQ(hex(frame_ies(m, nt)), hex(unhex(c.octets))) << c.name;
        octets wire = frame_to_wire(m, nt);
        free_msg(m);
        wires.push_back(wire);
        msg_t *back = frame_from_wire(wire, nt);
        ASSERT_NE(back, nullptr);
        fresh_bc(&bc, c.port, nt);
        c.dec(back, nt, &bc);
        free_msg(back);
    }
    std::vector<std::string> fields;
    for (const ie_case &c : all)
        for (const auto &f : c.fields)
            fields.push_back(f.first);
    tshark_result r = tshark_decode(wires, fields);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.malformed, 0);
    for (int b : r.bad)
        ADD_FAILURE() << "malformed: " << all[b].name << " " << hex(wires[b]);
    for (size_t i = 0; i < all.size(); i++)
        for (const auto &f : all[i].fields)
            expect_field(r.packets[i], f.first, f.second, all[i].name);
}

INSTANTIATE_TEST_SUITE_P(FrameShapes, IeCoding, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int> &i) { return i.param ? "NT" : "TE"; });

// Range checks leave the element out; the edge values of the coders.
TEST(IeCodingRanges, OutOfRangeValuesLeaveTheElementOut)
{
    install_test_ports();
    struct range_case {
        const char *name;
        std::function<void(msg_t *, misdn_bchannel *)> enc;
    } rc[] = {
        {"bearer coding 4", [](msg_t *m, misdn_bchannel *bc) { enc_ie_bearer(m, 4, 0, 0, 16, -1, 3, 0, bc); }},
        {"bearer user 32", [](msg_t *m, misdn_bchannel *bc) { enc_ie_bearer(m, 0, 0, 0, 16, -1, 32, 0, bc); }},
        {"called type 8", [](msg_t *m, misdn_bchannel *bc) { enc_ie_called_pn(m, 8, 1, "1", 0, bc); }},
        {"called without number", [](msg_t *m, misdn_bchannel *bc) { enc_ie_called_pn(m, 0, 1, "", 0, bc); }},
        {"calling present 4", [](msg_t *m, misdn_bchannel *bc) { enc_ie_calling_pn(m, 0, 1, 4, 0, "1", 0, bc); }},
        {"calling screen 4", [](msg_t *m, misdn_bchannel *bc) { enc_ie_calling_pn(m, 0, 1, 0, 4, "1", 0, bc); }},
        {"cause 128", [](msg_t *m, misdn_bchannel *bc) { enc_ie_cause(m, 0, 128, 0, bc); }},
        {"cause location 8", [](msg_t *m, misdn_bchannel *bc) { enc_ie_cause(m, 8, 16, 0, bc); }},
        {"progress 128", [](msg_t *m, misdn_bchannel *bc) { enc_ie_progress(m, 0, 1, 128, 0, bc); }},
        {"complete 2", [](msg_t *m, misdn_bchannel *bc) { enc_ie_complete(m, 2, 0, bc); }},
        {"complete 0", [](msg_t *m, misdn_bchannel *bc) { enc_ie_complete(m, 0, 0, bc); }},
        {"BRI channel 3", [](msg_t *m, misdn_bchannel *bc) { enc_ie_channel_id(m, 0, 3, 0, bc); }},
        {"PRI channel 16", [](msg_t *m, misdn_bchannel *bc) { bc->port = 2; enc_ie_channel_id(m, 1, 16, 0, bc); }},
        {"PRI channel 0", [](msg_t *m, misdn_bchannel *bc) { bc->port = 2; enc_ie_channel_id(m, 1, 0, 0, bc); }},
        {"channel 254", [](msg_t *m, misdn_bchannel *bc) { enc_ie_channel_id(m, 0, 254, 0, bc); }},
        {"channel without stack", [](msg_t *m, misdn_bchannel *bc) { bc->port = 9; enc_ie_channel_id(m, 0, 1, 0, bc); }},
        {"empty display", [](msg_t *m, misdn_bchannel *bc) { char d[4] = ""; enc_ie_display(m, d, 4, 0, bc); }},
        {"no HLC data", [](msg_t *m, misdn_bchannel *bc) { enc_ie_hlc_raw(m, nullptr, 2, 0, bc); }},
        {"user-user length 0", [](msg_t *m, misdn_bchannel *bc) { enc_ie_useruser(m, 4, (const unsigned char *)"x", 0, 0, bc); }},
    };
    for (const range_case &c : rc) {
        misdn_bchannel bc;
        fresh_bc(&bc);
        msg_t *m = create_l3msg(0x30580, MT_SETUP, 1, NT_RECORD_SIZE, 0);
        testing::internal::CaptureStdout();
        c.enc(m, &bc);
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(frame_ies(m, 0).empty()) << c.name;
        free_msg(m);
    }
    q931_reset_hooks();
}

TEST(IeCodingRanges, ChannelIdentificationIsSentOncePerCall)
{
    install_test_ports();
    misdn_bchannel bc;
    fresh_bc(&bc);
    msg_t *m = create_l3msg(0x30580, MT_SETUP, 1, NT_RECORD_SIZE, 0);
    enc_ie_channel_id(m, 1, 1, 0, &bc);
    enc_ie_channel_id(m, 1, 2, 0, &bc);
    EXPECT_EQ(hex(frame_ies(m, 0)), "180189");
    free_msg(m);
    q931_reset_hooks();
}

TEST(IeCodingRanges, LongDisplayIsCutInTheRecordItself)
{
    install_test_ports();
    misdn_bchannel bc;
    fresh_bc(&bc);
    memset(bc.display, 'd', 85);
    bc.display[83] = 0;  // 83 characters, the most the field holds
    msg_t *m = create_l3msg(0x30580, MT_SETUP, 1, NT_RECORD_SIZE, 0);
    testing::internal::CaptureStdout();
    enc_ie_display(m, bc.display, sizeof(bc.display), 0, &bc);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("display text too long (max 80 chars), cutting."), std::string::npos);
    EXPECT_EQ(strlen(bc.display), 80u);
    EXPECT_EQ(frame_ies(m, 0).size(), 82u);
    free_msg(m);
    q931_reset_hooks();
}

// Received elements: each a hand-made element against what the decoder
// must make of it (malformed ones are taken as absent).
TEST(IeDecoding, ReceivedEdgeCases)
{
    install_test_ports();
    struct dec_case {
        const char *name;
        int port;
        const char *ies;
        std::function<void(const msg_t *, int, misdn_bchannel *)> check;
    } dc[] = {
        {"cause after octet 3a", 1, "08 03 01 82 90",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int l, c;
             ASSERT_EQ(dec_ie_cause(m, &l, &c, nt, bc), 0);
             EXPECT_EQ(c, 16);
         }},
        {"cause too short", 1, "08 01 81",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int l, c;
             EXPECT_EQ(dec_ie_cause(m, &l, &c, nt, bc), 1);
         }},
        {"BRI stack with cidlen 2, channel 3, cidmod 0", 3, "18 03 a1 83 83",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int e, c;
             cidmodval = 0;
             ASSERT_EQ(dec_ie_channel_id(m, &e, &c, nt, bc), 0);
             EXPECT_EQ(c, 2);
             cidmodval = 1;
             ASSERT_EQ(dec_ie_channel_id(m, &e, &c, nt, bc), 0);
             EXPECT_EQ(c, 1);
             cidmodval = 0;
         }},
        {"PRI channel 16 refused", 2, "18 03 a9 83 90",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int e, c;
             EXPECT_EQ(dec_ie_channel_id(m, &e, &c, nt, bc), 1);
         }},
        {"PRI channel map refused", 2, "18 03 a9 93 90",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int e, c;
             EXPECT_EQ(dec_ie_channel_id(m, &e, &c, nt, bc), 1);
         }},
        {"PRI style on BRI port refused", 1, "18 03 a9 83 81",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int e, c;
             EXPECT_EQ(dec_ie_channel_id(m, &e, &c, nt, bc), 1);
         }},
        {"D-channel refused", 1, "18 01 8c",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int e, c;
             EXPECT_EQ(dec_ie_channel_id(m, &e, &c, nt, bc), 1);
         }},
        {"bearer of 33 octets decoded, not kept", 1,
         "04 21 80 90 a3 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int v[11];
             ASSERT_EQ(dec_ie_bearer(m, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9],
                                     &v[10], nt, bc),
                       0);
             EXPECT_EQ(v[5], 3);
             EXPECT_EQ(bc->in_bearer_buf_len, 0);
         }},
        {"bearer with rate adaption octets 5a-5c", 1, "04 06 88 90 21 0f 00 99",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int v[11];
             ASSERT_EQ(dec_ie_bearer(m, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9],
                                     &v[10], nt, bc),
                       0);
             EXPECT_EQ(v[5], 1);   // user
             EXPECT_EQ(v[6], 0);   // async
             EXPECT_EQ(v[7], 15);  // urate
             EXPECT_EQ(v[8], 0);   // stop bits
             EXPECT_EQ(v[9], 3);   // data bits
             EXPECT_EQ(v[10], 1);  // parity
             EXPECT_EQ(bc->in_bearer_buf_len, 6);
         }},
        {"calling number with 40 digits cut at 30", 1,
         "6c 29 81 31 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 37 38 39 30 31 32 "
         "33 34 35 36 37 38 39 30",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int t, p, pr, s;
             char n[31];
             ASSERT_EQ(dec_ie_calling_pn(m, &t, &p, &pr, &s, n, sizeof(n), nt, bc, 0), 0);
             EXPECT_EQ(strlen(n), 30u);
         }},
        {"date of three octets", 1, "29 03 18 0c 1f",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             struct tm tm;
             int len;
             ASSERT_EQ(dec_ie_date(m, &tm, &len, nt, bc), 0);
             EXPECT_EQ(len, 3);
             EXPECT_EQ(tm.tm_hour, 0);
             EXPECT_EQ(tm.tm_mday, 31);
         }},
        {"subaddresses", 1, "6d 03 80 50 31 71 02 a0 32",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             unsigned char s[256];
             int len;
             ASSERT_EQ(dec_ie_calling_subaddress(m, s, sizeof(s), &len, nt, bc), 0);
             EXPECT_EQ(len, 3);
             ASSERT_EQ(dec_ie_called_subaddress(m, s, sizeof(s), &len, nt, bc), 0);
             EXPECT_EQ(len, 2);
             EXPECT_EQ(s[0], 0xa0);
         }},
        {"user-user of zero length", 1, "7e 00",
         [](const msg_t *m, int nt, misdn_bchannel *bc) {
             int pr, len;
             unsigned char d[256];
             EXPECT_EQ(dec_ie_useruser(m, &pr, d, sizeof(d), &len, nt, bc), 1);
             EXPECT_EQ(len, -1);
             EXPECT_EQ(pr, -1);
         }},
    };
    for (const dec_case &c : dc) {
        octets wire = unhex(std::string("08 01 01 05 ") + c.ies);
        for (int nt = 0; nt <= 1; nt++) {
            msg_t *m = frame_from_wire(wire, nt);
            ASSERT_NE(m, nullptr) << c.name;
            misdn_bchannel bc;
            fresh_bc(&bc, c.port, nt);
            SCOPED_TRACE(c.name);
            c.check(m, nt, &bc);
            free_msg(m);
        }
    }
    q931_reset_hooks();
}

TEST(IeNames, CauseTextsAndTypeNames)
{
    EXPECT_STREQ(ie_print_isdn_cause(16), "Normal call clearing");
    EXPECT_STREQ(ie_print_isdn_cause(98), ie_print_isdn_cause(101));
    EXPECT_STREQ(ie_print_isdn_cause(89), "");
    EXPECT_STREQ(ie_print_isdn_cause(200), "Unknown cause");
    EXPECT_STREQ(ie_print_isdn_cause(-1), "Unknown cause");
    EXPECT_STREQ(ie_print_isdn_cause(7), "Unknown cause");
    EXPECT_STREQ(ie_ton_name(7, 1), "ABBREVIATED");
    EXPECT_STREQ(ie_ton_name(7, 0), "INVALID");
    EXPECT_STREQ(ie_ton_name(-1, 0), "UNINITIALIZED");
    EXPECT_STREQ(ie_print_isdn_cause(127), "Interworking, unspecified");
    EXPECT_STREQ(ie_print_isdn_cause(128), "Unknown cause");
}

// The raw texts' writer gives what snprintf gives, cut the same way.
TEST(IeNames, TextWriterCutsLikeSnprintf)
{
    const unsigned char octets[] = {0x80, 0x90, 0xa3, 0x01, 0xff};
    char b64[16];
    plaintext_to_base64((const char *)octets, 5, b64, sizeof(b64));
    for (size_t size : {0, 1, 2, 5, 9, 12, 17, 40, 64}) {
        SCOPED_TRACE(size);
        char want[64], got[64];
        memset(want, 'x', sizeof(want));
        memset(got, 'x', sizeof(got));
        snprintf(want, size, "type=%i;plan=%i;n=%i;m=%i;p=0x%x;q=0x%x;oad=%s;b=%s", -1, 0, INT_MIN, INT_MAX, 0u,
                 0xffffffffu, "4711", b64);
        ie_text(got, size)
            .str("type=").num(-1).str(";plan=").num(0).str(";n=").num(INT_MIN).str(";m=").num(INT_MAX)
            .str(";p=0x").hex(0).str(";q=0x").hex(0xffffffffu).str(";oad=").str("4711").str(";b=")
            .base64(octets, 5);
        EXPECT_EQ(0, memcmp(want, got, sizeof(want)));
    }
}

// A received date is normalised by the time zone in force: the same fields
// under another zone, within the same second, give the other zone's answer.
TEST(IeDecoding, DateFollowsTheTimeZone)
{
    const char *old_tz = getenv("TZ");
    std::string saved = old_tz ? old_tz : "";
    msg_t *m = frame_from_wire(unhex("08 01 81 07 29 05 19 05 14 0c 1e"), 0);  // 2025-05-20 12:30
    const struct {
        const char *tz;
        int hour, isdst;
    } zones[] = {{"UTC0", 12, 0}, {"CET-1CEST,M3.5.0,M10.5.0/3", 13, 1}, {"UTC0", 12, 0}, {nullptr, -1, -1}};
    for (const auto &z : zones) {
        if (z.tz)
            setenv("TZ", z.tz, 1);
        else if (old_tz)
            setenv("TZ", saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        struct tm want = {};
        want.tm_year = 125;
        want.tm_mon = 4;
        want.tm_mday = 20;
        want.tm_hour = 12;
        want.tm_min = 30;
        mktime(&want);
        struct tm tm;
        int len;
        ASSERT_EQ(dec_ie_date(m, &tm, &len, 0, nullptr), 0);
        EXPECT_EQ(tm.tm_hour, want.tm_hour) << (z.tz ? z.tz : "own zone");
        EXPECT_EQ(tm.tm_isdst, want.tm_isdst);
        EXPECT_EQ(tm.tm_gmtoff, want.tm_gmtoff);
        if (z.tz) {
            EXPECT_EQ(tm.tm_hour, z.hour);
            EXPECT_EQ(tm.tm_isdst, z.isdst);
        }
    }
    free_msg(m);
}

}  // namespace
