// Messages: every builder's frame, as a Q.931 message in a capture, decodes
// in tshark to the values of the call record it was built from, and its
// parser reads it back into a fresh call record. Both frame shapes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "ie_coders.h"
#include "isdn_msg.h"
#include "isdn_msg_parser.h"
#include "misdn_lib_iface.h"
#include "q931_frame.h"
#include "q931_hooks.h"
#include "q931_test_support.h"

namespace {

struct msg_case {
    event_e event;
    uint8_t mt;                                   // message type on the wire
    std::function<void(misdn_bchannel *)> fill;   // the call record to build from
    std::map<std::string, std::string> fields;    // tshark expectations
    std::function<void(const misdn_bchannel &, int nt)> check;  // the parsed record
};

long num(const std::string &s)
{
    return strtol(s.c_str(), nullptr, 0);
}

void set_uu(misdn_bchannel *bc, const char *text)
{
    bc->uu_protocol = 4;
    bc->uulen = (int)strlen(text);
    memcpy(bc->uu, text, (size_t)bc->uulen);
}

std::vector<msg_case> cases()
{
    return {
        {EVENT_PROCEEDING, 0x02, [](misdn_bchannel *bc) { bc->channel = 1; bc->exclusive = 1; },
         {{"q931.channel.selection", "1"}, {"q931.channel.exclusive", "1"}},
         [](const misdn_bchannel &bc, int nt) {
             EXPECT_EQ(bc.channel, 1);
             EXPECT_EQ(bc.exclusive, 1);
             EXPECT_EQ(bc.progress_indicator, nt ? 8 : 0);
         }},
        {EVENT_ALERTING, 0x01,
         [](misdn_bchannel *bc) {
             bc->channel = 2;
             bc->use_qsig = 1;
             strcpy(bc->qsig_local_name, "Anna");
             set_uu(bc, "abc");
         },
         {{"q931.channel.selection", "2"}, {"qsig.na.namePresentationAllowedSimple", "Anna"},
          {"q932.ros.global", "1.3.12.9.1"}, {"q931.user.string", "abc"}},
         [](const misdn_bchannel &bc, int) {
             EXPECT_EQ(bc.channel, 2);
             EXPECT_STREQ(bc.qsig_remote_name, "Anna");
             EXPECT_EQ(bc.qsig_remote_name_pres, 1);
             EXPECT_EQ(bc.uulen, 3);
             EXPECT_EQ(memcmp(bc.uu, "abc", 3), 0);
             EXPECT_STREQ(bc.ie_facilities.ie_useruser, "protocol=0x4;length=3;useruser=YWJj");
         }},
        {EVENT_PROGRESS, 0x03,
         [](misdn_bchannel *bc) {
             bc->out_cause = 17;
             strcpy(bc->display, "Prog");
             bc->hlc[0] = 0x91;
             bc->hlc[1] = 0x81;
             bc->hlclen = 2;
         },
         {{"q931.cause_value", "17"}, {"q931.progress_indicator.description", "8"},
          {"q931.display_information", "Prog"}, {"q931.high_layer_characteristics", "1"}},
         [](const misdn_bchannel &bc, int nt) {
             EXPECT_EQ(bc.cause, 17);
             EXPECT_EQ(bc.progress_indicator, 8);
             EXPECT_EQ(bc.progress_location, nt ? 1 : 5);
             EXPECT_STREQ(bc.display, "Prog");
             EXPECT_EQ(bc.hlclen, 2);
             EXPECT_STREQ(bc.ie_facilities.ie_hlc, "length=2;hlc=kYE=");
             EXPECT_STREQ(bc.ie_facilities.ie_cause, nt ? "location=1;cause=17" : "location=0;cause=17");
         }},
        {EVENT_SETUP, 0x05,
         [](misdn_bchannel *bc) {
             bc->channel = 1;
             bc->exclusive = 1;
             bc->oton = NUMTYPE_NATIONAL;
             bc->onpi = NUMPLAN_ISDN;
             bc->pres = 1;
             bc->screen = 0;
             strcpy(bc->oad, "301234");
             bc->dton = NUMTYPE_UNKNOWN;
             strcpy(bc->dad, "5550");
             bc->rton = NUMTYPE_INTERNATIONAL;
             strcpy(bc->rad, "4940111");
             strcpy(bc->keypad, "*9");
             strcpy(bc->display, "Front desk");
             bc->sending_complete = 1;
             set_uu(bc, "hi");
             bc->llc[0] = 0x80;
             bc->llc[1] = 0x90;
             bc->llclen = 2;
             bc->use_qsig = 1;
             bc->qsig_local_name_pres = 0;
             strcpy(bc->qsig_local_name, "Bob");
         },
         {{"q931.calling_party_number.digits", "301234"}, {"q931.called_party_number.digits", "5550"},
          {"q931.redirecting_number.digits", "4940111"}, {"q931.keypad_facility", "*9"},
          {"q931.display_information", "Front desk"}, {"q931.sending_complete", "1"},
          {"q931.information_transfer_capability", "0x00,0x00"}, {"q931.uil1", "3"},
          {"qsig.na.namePresentationRestrictedSimple", "Bob"}, {"q932.ros.global", "1.3.12.9.0"}},
         [](const misdn_bchannel &bc, int) {
             EXPECT_EQ(bc.channel, 1);
             EXPECT_EQ(bc.oton, NUMTYPE_NATIONAL);
             EXPECT_EQ(bc.onpi, NUMPLAN_ISDN);
             EXPECT_EQ(bc.pres, 1);
             EXPECT_STREQ(bc.oad, "301234");
             EXPECT_STREQ(bc.dad, "5550");
             EXPECT_EQ(bc.dnpi, NUMPLAN_ISDN);
             EXPECT_STREQ(bc.rad, "4940111");
             EXPECT_EQ(bc.rton, NUMTYPE_INTERNATIONAL);
             EXPECT_STREQ(bc.keypad, "*9");
             EXPECT_STREQ(bc.display, "Front desk");
             EXPECT_EQ(bc.sending_complete, 1);
             EXPECT_EQ(bc.capability, 0);
             EXPECT_EQ(bc.law, 3);
             EXPECT_EQ(bc.llclen, 2);
             EXPECT_STREQ(bc.qsig_remote_name, "Bob");
             EXPECT_EQ(bc.qsig_remote_name_pres, 0);
             EXPECT_STREQ(bc.ie_facilities.ie_calling_pn, "type=2;plan=1;present=1;screen=0;oad=301234");
             EXPECT_STREQ(bc.ie_facilities.ie_called_pn, "type=0;plan=1;dad=5550");
             EXPECT_STREQ(bc.ie_facilities.ie_redir_nr, "type=1;plan=1;present=1;screen=0;rad=4940111");
             EXPECT_STREQ(bc.ie_facilities.ie_bearer, "capability=0;length=3;bearer=gJCj");
             EXPECT_STREQ(bc.ie_facilities.ie_channel_id, "channel=1;exclusive=1");
             EXPECT_STREQ(bc.ie_facilities.ie_complete, "complete=1");
             EXPECT_STREQ(bc.ie_facilities.ie_keypad, "keypad=*9");
             EXPECT_STREQ(bc.ie_facilities.ie_llc, "length=2;llc=gJA=");
             EXPECT_STREQ(bc.ie_facilities.ie_display, "display=Front desk");
         }},
        {EVENT_CONNECT, 0x07,
         [](misdn_bchannel *bc) {
             bc->cw = 1;
             bc->channel = 2;
             bc->cton = NUMTYPE_SUBSCRIBER;
             bc->cpres = 0;
             bc->cscreen = 1;
             strcpy(bc->cad, "77");
             strcpy(bc->qsig_local_name, "Reception");  // sent whatever use_qsig says
         },
         {{"q931.connected_number.digits", "77"}, {"q931.channel.selection", "2"},
          {"qsig.na.namePresentationAllowedSimple", "Reception"}, {"q932.ros.global", "1.3.12.9.2"}},
         [](const misdn_bchannel &bc, int nt) {
             EXPECT_STREQ(bc.cad, "77");
             EXPECT_EQ(bc.cton, NUMTYPE_SUBSCRIBER);
             EXPECT_EQ(bc.cscreen, 1);
             EXPECT_EQ(bc.channel, 2);
             EXPECT_STREQ(bc.qsig_remote_name, "Reception");
             EXPECT_STREQ(bc.ie_facilities.ie_connect_pn, "type=4;plan=1;pres=0;screen=1;cad=77");
             EXPECT_EQ(bc.tm.tm_year != 0, nt == 1);  // the date only from an NT port
         }},
        {EVENT_SETUP_ACKNOWLEDGE, 0x0D, [](misdn_bchannel *bc) { bc->channel = 2; },
         {{"q931.channel.selection", "2"}},
         [](const misdn_bchannel &bc, int nt) {
             EXPECT_EQ(bc.channel, 2);
             EXPECT_EQ(bc.progress_indicator, nt ? 8 : 0);
         }},
        {EVENT_CONNECT_ACKNOWLEDGE, 0x0F, [](misdn_bchannel *bc) { bc->channel = 1; },
         {{"q931.channel.exclusive", "1"}, {"q931.channel.selection", "1"}},
         [](const misdn_bchannel &bc, int) {
             EXPECT_EQ(bc.channel, 1);
             EXPECT_EQ(bc.exclusive, 1);
         }},
        {EVENT_USER_INFORMATION, 0x20, [](misdn_bchannel *bc) { set_uu(bc, "data"); },
         {{"q931.user.string", "data"}},
         [](const misdn_bchannel &bc, int) { EXPECT_EQ(bc.uulen, 4); }},
        {EVENT_SUSPEND_REJECT, 0x21, nullptr, {}, nullptr},
        {EVENT_RESUME_REJECT, 0x22, nullptr, {}, nullptr},
        {EVENT_HOLD, 0x24, nullptr, {}, nullptr},
        {EVENT_SUSPEND, 0x25, nullptr, {}, nullptr},
        {EVENT_RESUME, 0x26, nullptr, {}, nullptr},
        {EVENT_HOLD_ACKNOWLEDGE, 0x28, nullptr, {}, nullptr},
        {EVENT_SUSPEND_ACKNOWLEDGE, 0x2D, nullptr, {}, nullptr},
        {EVENT_RESUME_ACKNOWLEDGE, 0x2E, nullptr, {}, nullptr},
        {EVENT_HOLD_REJECT, 0x30, nullptr, {}, nullptr},
        {EVENT_RETRIEVE, 0x31, nullptr, {}, nullptr},
        {EVENT_RETRIEVE_ACKNOWLEDGE, 0x33, [](misdn_bchannel *bc) { bc->channel = 2; bc->exclusive = 1; },
         {{"q931.channel.selection", "2"}},
         [](const misdn_bchannel &bc, int) { EXPECT_EQ(bc.channel, 2); }},
        {EVENT_RETRIEVE_REJECT, 0x37, nullptr, {}, nullptr},
        {EVENT_DISCONNECT, 0x45, [](misdn_bchannel *bc) { bc->out_cause = 17; },
         {{"q931.cause_value", "17"}},
         [](const misdn_bchannel &bc, int nt) {
             EXPECT_EQ(bc.cause, 17);
             EXPECT_STREQ(bc.ie_facilities.ie_cause, nt ? "location=1;cause=17" : "location=0;cause=17");
         }},
        {EVENT_RESTART, 0x46, [](misdn_bchannel *bc) { bc->channel = 1; bc->exclusive = 1; },
         {{"q931.channel.selection", "1"}},
         [](const misdn_bchannel &bc, int) {
             EXPECT_EQ(bc.restart_channel, 1);
             EXPECT_EQ(bc.channel, 0);  // a restart does not move the call
         }},
        {EVENT_RELEASE, 0x4D, [](misdn_bchannel *bc) { bc->out_cause = 0; },
         {{"q931.cause_value", "0"}},
         [](const misdn_bchannel &bc, int) { EXPECT_STREQ(bc.ie_facilities.ie_cause + 10, ";cause=0"); }},
        {EVENT_RELEASE_COMPLETE, 0x5A, [](misdn_bchannel *bc) { bc->out_cause = 31; },
         {{"q931.cause_value", "31"}},
         [](const misdn_bchannel &bc, int) { EXPECT_EQ(bc.cause, 31); }},
        {EVENT_FACILITY, 0x62,
         [](misdn_bchannel *bc) {
             const unsigned char f[] = {0x91, 0xa1, 0x0b, 0x02, 0x01, 0x03, 0x02, 0x01,
                                        0x00, 0x80, 0x03, 0x42, 0x6f, 0x62};
             memcpy(bc->outfac[0], f, sizeof(f));
             bc->outfac_len[0] = sizeof(f);
             strcpy(bc->display, "fac");
         },
         {{"q932.ros.present", "3"}, {"q931.display_information", "fac"}},
         [](const misdn_bchannel &bc, int) {
             EXPECT_STREQ(bc.ie_facilities.ie_facility, "length=14;facility=kaELAgEDAgEAgANCb2I=");
             EXPECT_STREQ(bc.display, "fac");
         }},
        {EVENT_NOTIFY, 0x6E, nullptr, {}, nullptr},
        {EVENT_STATUS_ENQUIRY, 0x75, nullptr, {}, nullptr},
        {EVENT_INFORMATION, 0x7B,
         [](misdn_bchannel *bc) {
             strcpy(bc->dad, "1");
             strcpy(bc->info_dad, "42");
             strcpy(bc->display, "info");
         },
         {{"q931.called_party_number.digits", "42"}, {"q931.numbering_plan", "1"},
          {"q931.display_information", "info"}},
         [](const misdn_bchannel &bc, int) {
             EXPECT_STREQ(bc.info_dad, "42");
             EXPECT_EQ(bc.dnpi, NUMPLAN_ISDN);
             EXPECT_STREQ(bc.ie_facilities.ie_called_pn, "type=0;plan=1;dad=42");
         }},
        {EVENT_STATUS, 0x7D, nullptr, {}, nullptr},
        {EVENT_TIMEOUT, 0x7D, nullptr, {}, nullptr},
    };
}

class MsgCoding : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override { install_test_ports(); }
    void TearDown() override { q931_reset_hooks(); }
};

TEST_P(MsgCoding, BuildersDecodeInTsharkAndParseBack)
{
    if (!tshark_available())
        GTEST_SKIP() << "tshark not installed";
    const int nt = GetParam();
    std::vector<msg_case> all = cases();
    std::vector<octets> wires;
    std::vector<std::string> fields = {"q931.message_type"};
    for (const msg_case &c : all) {
        for (const auto &f : c.fields)
            fields.push_back(f.first);
        misdn_bchannel bc;
        fresh_bc(&bc, 1, nt);
        if (c.fill)
            c.fill(&bc);
        msg_t *m = isdn_msg_build_event(msgs_g, &bc, c.event, nt);
        ASSERT_NE(m, nullptr) << c.event;
        octets wire = frame_to_wire(m, nt);
        free_msg(m);
        wires.push_back(wire);

        msg_t *in = frame_from_wire(wire, nt, L3_INDICATION);
        ASSERT_NE(in, nullptr);
        if (c.event != EVENT_TIMEOUT) {
            EXPECT_EQ(isdn_msg_get_event(msgs_g, in, nt), c.event);
        }
        misdn_bchannel got;
        fresh_bc(&got, 1, nt);
        got.use_qsig = 1;
        got.progress_indicator = 0;
        EXPECT_EQ(isdn_msg_parse_event(msgs_g, in, &got, nt), 0);
        if (c.check) {
            SCOPED_TRACE(isdn_get_info(msgs_g, c.event, nt));
            c.check(got, nt);
        }
        free_msg(in);
    }
    tshark_result r = tshark_decode(wires, fields);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.malformed, 0);
    for (int b : r.bad)
        ADD_FAILURE() << "malformed: " << hex(wires[b]);
    for (size_t i = 0; i < all.size(); i++) {
        const tshark_packet &p = r.packets[i];
        EXPECT_EQ(num(p.at("q931.message_type")), all[i].mt) << i;
        for (const auto &f : all[i].fields) {
            const std::string &got = p.at(f.first);
            if (isdigit((unsigned char)f.second[0]) && f.second.find(',') == std::string::npos &&
                f.second.find('.') == std::string::npos)
                EXPECT_EQ(num(got), num(f.second)) << all[i].mt << " " << f.first << " = " << got;
            else
                EXPECT_EQ(got.substr(0, f.second.size()), f.second) << all[i].mt << " " << f.first;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FrameShapes, MsgCoding, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int> &i) { return i.param ? "NT" : "TE"; });

// The exact elements of the builders whose content depends on conditions.
TEST(MsgBuilders, ElementsUnderTheirConditions)
{
    install_test_ports();
    struct build_case {
        const char *name;
        event_e event;
        int nt;
        std::function<void(misdn_bchannel *)> fill;
        const char *ies;
    } bcases[] = {
        {"TE proceeding without progress", EVENT_PROCEEDING, 0, nullptr, ""},
        {"NT proceeding with progress", EVENT_PROCEEDING, 1, nullptr, "1e 02 81 88"},
        {"TE proceeding after a received progress", EVENT_PROCEEDING, 0,
         [](misdn_bchannel *bc) { bc->progress_location = 2; bc->progress_indicator = 8; }, "1e 02 82 88"},
        {"progress with cause 16 has no cause", EVENT_PROGRESS, 0, nullptr, "04 03 80 90 a3 1e 02 85 88"},
        {"progress with cause 0 has no cause", EVENT_PROGRESS, 0,
         [](misdn_bchannel *bc) { bc->out_cause = 0; }, "04 03 80 90 a3 1e 02 85 88"},
        {"release with cause 0", EVENT_RELEASE, 0, [](misdn_bchannel *bc) { bc->out_cause = 0; }, "08 02 80 80"},
        {"release with cause -1", EVENT_RELEASE, 0, [](misdn_bchannel *bc) { bc->out_cause = -1; }, ""},
        {"release complete with cause 0", EVENT_RELEASE_COMPLETE, 0,
         [](misdn_bchannel *bc) { bc->out_cause = 0; }, ""},
        {"NT disconnect", EVENT_DISCONNECT, 1, [](misdn_bchannel *bc) { bc->out_cause = 16; }, "08 02 81 90"},
        {"TE connect carries no date", EVENT_CONNECT, 0, nullptr, ""},
        {"connect channel only with call waiting", EVENT_CONNECT, 0, [](misdn_bchannel *bc) { bc->channel = 1; },
         ""},
        {"setup bearer of unrestricted digital", EVENT_SETUP, 0,
         [](misdn_bchannel *bc) { bc->capability = 8; bc->mode = 0; bc->rate = 16; },
         "04 02 88 90 6c 02 01 80"},
        {"setup bearer of restricted digital", EVENT_SETUP, 0, [](misdn_bchannel *bc) { bc->capability = 9; },
         "04 02 89 90 6c 02 01 80"},
        {"setup bearer with mu-law", EVENT_SETUP, 0,
         [](misdn_bchannel *bc) { bc->capability = 16; bc->law = 2; }, "04 03 90 90 a2 6c 02 01 80"},
        {"setup bearer with an unknown law", EVENT_SETUP, 0, [](misdn_bchannel *bc) { bc->law = 9; },
         "04 03 80 90 a3 6c 02 01 80"},
        {"setup with a raw bearer from call control", EVENT_SETUP, 0,
         [](misdn_bchannel *bc) {
             bc->out_bearer_buf[0] = 0x88;
             bc->out_bearer_buf[1] = 0x90;
             bc->out_bearer_buf_len = 2;
         },
         "04 02 88 90 6c 02 01 80"},
        {"information without info_dad", EVENT_INFORMATION, 0,
         [](misdn_bchannel *bc) { strcpy(bc->dad, "1"); }, ""},
        {"PRI setup acknowledge for any channel", EVENT_SETUP_ACKNOWLEDGE, 0,
         [](misdn_bchannel *bc) { bc->port = 2; bc->channel = 255; }, "18 01 a3"},
        {"user-user sent once", EVENT_USER_INFORMATION, 0,
         [](misdn_bchannel *bc) { bc->uulen = 2; bc->uu_protocol = 4; memcpy(bc->uu, "ok", 2); },
         "7e 03 04 6f 6b"},
    };
    for (const build_case &c : bcases) {
        misdn_bchannel bc;
        fresh_bc(&bc, 1, c.nt);
        if (c.fill)
            c.fill(&bc);
        testing::internal::CaptureStdout();
        msg_t *m = isdn_msg_build_event(msgs_g, &bc, c.event, c.nt);
        std::string out = testing::internal::GetCapturedStdout();
        ASSERT_NE(m, nullptr) << c.name;
        EXPECT_EQ(hex(frame_ies(m, c.nt)), hex(unhex(c.ies))) << c.name;
        free_msg(m);
        if (c.event == EVENT_INFORMATION) {
            EXPECT_NE(out.find("enc_ie_called_pn: ERROR: number is not given."), std::string::npos);
        }
        if (c.event == EVENT_USER_INFORMATION) {
            EXPECT_EQ(bc.uulen, 0);
            m = isdn_msg_build_event(msgs_g, &bc, c.event, c.nt);
            EXPECT_EQ(frame_ies(m, c.nt).size(), 0u) << "user-user data is one-shot";
            free_msg(m);
        }
        if (c.event == EVENT_SETUP && c.fill && bc.out_bearer_buf[0]) {
            EXPECT_EQ(bc.out_bearer_buf_len, 0);
        }
    }
    q931_reset_hooks();
}

TEST(MsgBuilders, NtConnectCarriesTheLocalTime)
{
    install_test_ports();
    misdn_bchannel bc;
    fresh_bc(&bc, 1, 1);
    time_t before = time(nullptr);
    msg_t *m = isdn_msg_build_event(msgs_g, &bc, EVENT_CONNECT, 1);
    const unsigned char *d = l3_ie_get(m, 1, IE_DATE, 0);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d[0], 5);
    struct tm tm;
    localtime_r(&before, &tm);
    EXPECT_EQ(d[1], tm.tm_year % 100);
    EXPECT_EQ(d[2], tm.tm_mon + 1);
    EXPECT_EQ(d[3], tm.tm_mday);
    free_msg(m);
    q931_reset_hooks();
}

// The network side's CONNECT names the channel when it is the first answer
// to a SETUP; after CALL PROCEEDING (which named it) it does not.
TEST(MsgBuilders, NtConnectNamesTheChannelWhenItIsTheFirstAnswer)
{
    install_test_ports();
    for (bool proceeding_first : {false, true}) {
        SCOPED_TRACE(proceeding_first ? "after CALL PROCEEDING" : "CONNECT first");
        misdn_bchannel bc;
        fresh_bc(&bc, 1, 1);
        bc.channel = 2;
        bc.exclusive = 1;
        if (proceeding_first) {
            msg_t *p = isdn_msg_build_event(msgs_g, &bc, EVENT_PROCEEDING, 1);
            const unsigned char *ch = l3_ie_get(p, 1, IE_CHANNEL_ID, 0);
            ASSERT_NE(ch, nullptr);
            EXPECT_EQ(hex(octets(ch, ch + 2)), "018a");
            free_msg(p);
        }
        msg_t *m = isdn_msg_build_event(msgs_g, &bc, EVENT_CONNECT, 1);
        const unsigned char *ch = l3_ie_get(m, 1, IE_CHANNEL_ID, 0);
        if (proceeding_first) {
            EXPECT_EQ(ch, nullptr);
        } else {
            ASSERT_NE(ch, nullptr);
            EXPECT_EQ(hex(octets(ch, ch + 2)), "018a") << "B2, exclusive";
        }
        free_msg(m);
    }
    q931_reset_hooks();
}

// Every NT frame holds the whole element record, whatever the pointer width,
// and every element it points at lies after that record.
TEST(MsgBuilders, NtRecordsFitTheirFrames)
{
    install_test_ports();
    EXPECT_EQ(NT_RECORD_SIZE, (int)sizeof(net_msg_ies_t));
    EXPECT_GT(NT_RECORD_SIZE, 104);  // more than a record of 26 pointers of 32 bits
    for (int i = 0; i < ISDN_MSG_ROWS; i++) {
        misdn_bchannel bc;
        fresh_bc(&bc, 1, 1);
        bc.channel = 1;
        strcpy(bc.oad, "1");
        strcpy(bc.dad, "2");
        strcpy(bc.info_dad, "2");
        strcpy(bc.cad, "3");
        strcpy(bc.rad, "4");
        strcpy(bc.display, "display");
        strcpy(bc.keypad, "5");
        strcpy(bc.qsig_local_name, "name");
        bc.use_qsig = 1;
        bc.out_cause = 17;
        bc.sending_complete = 1;
        set_uu(&bc, "uu");
        bc.hlclen = bc.llclen = 2;
        msg_t *m = isdn_msg_build_event(msgs_g, &bc, msgs_g[i].event, 1);
        if (msgs_g[i].event == EVENT_REGISTER) {
            EXPECT_EQ(m, nullptr);
            continue;
        }
        if (!m)  // FACILITY without a coder
            continue;
        ASSERT_GE(m->len, mISDNUSER_HEAD_SIZE + NT_RECORD_SIZE) << msgs_g[i].info;
        net_msg_ies_t r;
        memcpy(&r, m->data + mISDNUSER_HEAD_SIZE, sizeof(r));
        const unsigned char *lo = m->data + mISDNUSER_HEAD_SIZE + NT_RECORD_SIZE;
        unsigned char **p = (unsigned char **)&r;
        for (size_t k = 0; k < offsetof(net_msg_ies_t, ces) / sizeof(unsigned char *); k++)
            if (p[k]) {
                EXPECT_TRUE(p[k] >= lo && p[k] < m->tail) << msgs_g[i].info << " pointer " << k;
            }
        free_msg(m);
    }
    q931_reset_hooks();
}

// Received messages against the parsers' rules.
TEST(MsgParsers, ReceivedEdgeCases)
{
    install_test_ports();
    struct parse_case {
        const char *name;
        const char *wire;
        std::function<void(misdn_bchannel *)> before;
        std::function<void(const misdn_bchannel &)> check;
    } pc[] = {
        {"setup without calling number", "08 01 01 05 04 03 80 90 a3 70 02 81 31", nullptr,
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(bc.oton, NUMTYPE_UNINITIALIZED);
             EXPECT_STREQ(bc.oad, "");
             EXPECT_EQ(bc.pres, 0);
             EXPECT_EQ(bc.screen, 0);
             EXPECT_STREQ(bc.ie_facilities.ie_calling_pn, "");
             EXPECT_STREQ(bc.dad, "1");
             EXPECT_EQ(bc.sending_complete, 0);
         }},
        {"calling number of 30 digits", "08 01 01 05 6c 20 00 80 "
         "31 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 37 38 39 30",
         nullptr,
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(strlen(bc.oad), 30u);
             EXPECT_EQ(strlen(bc.ie_facilities.ie_calling_pn), sizeof(bc.ie_facilities.ie_calling_pn) - 1);
         }},
        {"setup with presentation not available", "08 01 01 05 6c 03 00 c3 31", nullptr,
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(bc.pres, 0);
             EXPECT_EQ(bc.screen, 0);
             EXPECT_STREQ(bc.ie_facilities.ie_calling_pn, "type=0;plan=0;present=2;screen=3;oad=1");
         }},
        {"setup with two calling numbers", "08 01 01 05 6c 03 21 80 31 6c 03 11 83 32", nullptr,
         [](const misdn_bchannel &bc) {
             EXPECT_STREQ(bc.oad, "1");
             EXPECT_STREQ(bc.oad2, "2");
             EXPECT_EQ(bc.o2ton, NUMTYPE_INTERNATIONAL);
             EXPECT_EQ(bc.o2screen, 0);  // 3 is kept as 0
             EXPECT_STREQ(bc.ie_facilities.ie_calling_pn2, "type=1;plan=1;present=0;screen=3;oad=2");
         }},
        {"setup acknowledge without channel keeps the channel", "08 01 81 0d",
         [](misdn_bchannel *bc) { bc->channel = 2; },
         [](const misdn_bchannel &bc) { EXPECT_EQ(bc.channel, 2); }},
        {"unrestricted digital bearer", "08 01 01 05 04 02 88 90", nullptr,
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(bc.capability, 8);
             EXPECT_EQ(bc.rate, 16);
             EXPECT_EQ(bc.law, 3);
             EXPECT_STREQ(bc.ie_facilities.ie_bearer,
                          "capability=8;user=-1;urate=-1;rate=16;mode=0;length=2;bearer=iJA=");
         }},
        {"alerting with a long display", "08 01 81 01 28 28 "
         "41 42 43 44 45 46 47 48 49 4a 41 42 43 44 45 46 47 48 49 4a 41 42 43 44 45 46 47 48 49 4a "
         "41 42 43 44 45 46 47 48 49 4a", nullptr,
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(strlen(bc.display), 40u);
             EXPECT_EQ(strlen(bc.ie_facilities.ie_display), sizeof(bc.ie_facilities.ie_display) - 1);
         }},
        {"disconnect with cause 0 keeps the cause", "08 01 81 45 08 02 80 80",
         [](misdn_bchannel *bc) { bc->cause = 16; },
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(bc.cause, 16);
             EXPECT_STREQ(bc.ie_facilities.ie_cause, "location=0;cause=0");
         }},
        {"information keeps the other raw texts", "08 01 81 7b 70 02 80 37",
         [](misdn_bchannel *bc) { strcpy(bc->ie_facilities.ie_display, "display=x"); },
         [](const misdn_bchannel &bc) {
             EXPECT_STREQ(bc.info_dad, "7");
             EXPECT_STREQ(bc.ie_facilities.ie_display, "display=x");
         }},
        {"user-user of 200 octets", "08 01 81 20 7e c9 04 "
         "61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 "
         "61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 "
         "61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 "
         "61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 "
         "61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 "
         "61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61",
         nullptr,
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(bc.uulen, 128);  // the length matches what was copied
             EXPECT_EQ(std::string(bc.ie_facilities.ie_useruser).substr(0, 24), "protocol=0x4;length=128;");
         }},
        {"HLC and LLC longer than their fields are refused", "08 01 81 07 "
         "7c 11 88 90 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "7d 14 91 81 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
         [](misdn_bchannel *bc) { bc->hlclen = 1; bc->hlc[0] = 0x55; },
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(bc.llclen, 0);
             EXPECT_EQ(bc.hlclen, 1);
             EXPECT_EQ(bc.hlc[0], 0x55);
             EXPECT_STREQ(bc.ie_facilities.ie_llc, "");
         }},
        {"LLC of 16 octets is taken", "08 01 81 07 7c 10 88 90 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
         nullptr,
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(bc.llclen, 16);
             EXPECT_STREQ(bc.ie_facilities.ie_llc, "length=16;llc=iJAAAAAAAAAAAAAAAAAAAA==");
         }},
        {"restart channel", "08 01 81 46 18 01 89 79 01 80", nullptr,
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(bc.restart_channel, 1);
             EXPECT_STREQ(bc.ie_facilities.ie_channel_id, "channel=1;exclusive=1");
         }},
    };
    for (const parse_case &c : pc) {
        for (int nt = 0; nt <= 1; nt++) {
            if (nt && strstr(c.name, "two calling"))
                continue;  // the NT record keeps one calling number per slot, the second in ext
            msg_t *m = frame_from_wire(unhex(c.wire), nt);
            ASSERT_NE(m, nullptr) << c.name;
            misdn_bchannel bc;
            fresh_bc(&bc, 1, nt);
            bc.oton = NUMTYPE_UNKNOWN;
            if (c.before)
                c.before(&bc);
            testing::internal::CaptureStdout();
            EXPECT_EQ(isdn_msg_parse_event(msgs_g, m, &bc, nt), 0) << c.name;
            testing::internal::GetCapturedStdout();
            SCOPED_TRACE(std::string(c.name) + (nt ? " NT" : " TE"));
            c.check(bc);
            free_msg(m);
        }
    }
    q931_reset_hooks();
}

struct clock_probe {
    static time_t now;
    static int sets;
    static time_t set_to;
    static time_t fake_now() { return now; }
    static int set_clock(const struct timespec *ts)
    {
        sets++;
        set_to = ts->tv_sec;
        return 0;
    }
};
time_t clock_probe::now;
int clock_probe::sets;
time_t clock_probe::set_to;

TEST(MsgParsers, ConnectDateSetsTheClockBeyondItsPrecision)
{
    install_test_ports();
    q931_hooks h{};
    h.now = clock_probe::fake_now;
    h.set_clock = clock_probe::set_clock;
    q931_set_hooks(&h);
    struct tm base = {};
    base.tm_year = 126;
    base.tm_mon = 4;
    base.tm_mday = 20;
    base.tm_hour = 10;
    base.tm_min = 30;
    base.tm_sec = 0;
    base.tm_isdst = 0;
    struct tm copy = base;
    time_t t = mktime(&copy);
    struct {
        const char *date;  // content of the element
        int port;          // port allowed to set the clock
        long offset;       // present time minus the received time
        int sets;
    } dc[] = {
        {"1a 05 14 0a 1e 00", 1, 30, 0}, {"1a 05 14 0a 1e 00", 1, 90, 1},  {"1a 05 14 0a 1e 00", 2, 90, 0},
        {"1a 05 14 0a 1e", 1, 59, 0},    {"1a 05 14 0a 1e", 1, -60, 1},     {"1a 05 14 0a", 1, 1740, 0},
        {"1a 05 14 0a", 1, 1860, 1}, {"1a 05 14", 1, 86400 * 3, 0},
    };
    for (const auto &c : dc) {
        misdn_set_time_from_isdn = c.port;
        clock_probe::sets = 0;
        clock_probe::now = t + c.offset;
        octets content = unhex(c.date);
        octets wire = unhex("08 01 81 07 29");
        wire.push_back((uint8_t)content.size());
        wire.insert(wire.end(), content.begin(), content.end());
        msg_t *m = frame_from_wire(wire, 0);
        misdn_bchannel bc;
        fresh_bc(&bc, 1, 0);
        isdn_msg_parse_event(msgs_g, m, &bc, 0);
        EXPECT_EQ(clock_probe::sets, c.sets) << c.date << " offset " << c.offset;
        EXPECT_EQ(bc.ie_facilities.ie_date.tm_mday, 20);
        if (c.sets && content.size() >= 5) {
            EXPECT_EQ(clock_probe::set_to, t);
        }
        free_msg(m);
    }
    misdn_set_time_from_isdn = 0;
    q931_reset_hooks();
}

TEST(MsgParsers, ReleaseCompleteConfirmStopsBeforeTheElements)
{
    install_test_ports();
    for (int nt = 0; nt <= 1; nt++) {
        msg_t *m = frame_from_wire(unhex("08 01 81 5a 08 02 80 91"), nt, L3_CONFIRM);
        misdn_bchannel bc;
        fresh_bc(&bc, 1, nt);
        log_capture logs;
        isdn_msg_parse_event(msgs_g, m, &bc, nt);
        EXPECT_TRUE(logs.has(nt ? "CC_RELEASE_COMPLETE|CONFIRM [NT] \n" : "CC_RELEASE_COMPLETE|CONFIRM [TE] \n"));
        EXPECT_FALSE(logs.has("ISDN RX"));
        EXPECT_EQ(bc.cause, 0);
        free_msg(m);
    }
    q931_reset_hooks();
}

TEST(MsgParsers, ChannelReportsNewChannelAndTraceLines)
{
    install_test_ports();
    static int reported;
    reported = 0;
    misdn_lib_iface iface{};
    iface.cb_event = [](event_e e, misdn_bchannel *, void *) {
        if (e == EVENT_NEW_CHANNEL)
            reported++;
        return RESPONSE_OK;
    };
    misdn_lib_set_iface(&iface);
    msg_t *m = frame_from_wire(unhex("08 01 81 02 18 01 89"), 0);
    misdn_bchannel bc;
    fresh_bc(&bc);
    {
        log_capture logs;
        isdn_msg_parse_event(msgs_g, m, &bc, 0);
        EXPECT_TRUE(logs.has("set_channel: bc->channel:0 channel:1 exclusive:1\n"));
        EXPECT_TRUE(logs.has("ISDN RX: TE, BRI, Port 1, Channel 1 \n<<<<<<<<\n MT_PROCEEDING\n  CHANNEL_ID: exclusive=1 channel=1\n"));
    }
    EXPECT_EQ(reported, 1);
    free_msg(m);
    m = frame_from_wire(unhex("08 01 81 0d"), 0);
    isdn_msg_parse_event(msgs_g, m, &bc, 0);
    EXPECT_EQ(reported, 1);  // no channel element: nothing reported
    free_msg(m);
    misdn_lib_set_iface(nullptr);
    q931_reset_hooks();
}

TEST(MsgBuilders, RejectedCallReleaseCompleteIsAnNtFrame)
{
    misdn_bchannel bc;
    fresh_bc(&bc, 1, 1);
    bc.out_cause = 34;
    msg_t *m = rejected_call_build_release_complete(0x55, &bc, 1);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(l3_frame_prim(m, 1), 0x35A80u);
    EXPECT_EQ(l3_frame_dinfo(m, 1), 0x55);
    EXPECT_EQ(hex(frame_ies(m, 1)), "080281a2");
    free_msg(m);
    bc.out_cause = 0;
    m = rejected_call_build_release_complete(0x55, &bc, 1);
    EXPECT_EQ(frame_ies(m, 1).size(), 0u);
    free_msg(m);
}

}  // namespace

namespace {

// Real frames: a BRI call from a public capture, and Q.931-coded H.225.0
// messages whose elements do not follow ISDN's rules.
TEST(MsgParsers, RealCaptureFrames)
{
    std::string path = shared_data_path("q931-captures/q931_messages.tsv");
    FILE *f = fopen(path.c_str(), "r");
    if (!f)
        GTEST_SKIP() << "no captures at " << path;
    install_test_ports();
    std::map<int, misdn_bchannel> bri;  // message type -> record, the BRI call
    char line[2048];
    int rows = 0;
    while (fgets(line, sizeof(line), f)) {
        std::string l(line);
        if (l.rfind("file", 0) == 0)
            continue;
        std::string hexpart = l.substr(l.rfind('\t') + 1);
        octets wire = unhex(hexpart);
        bool isdn = wire.size() > 1 && wire[1] == 1;  // the BRI call has one-octet call references
        for (int nt = 0; nt <= 1; nt++) {
            msg_t *m = frame_from_wire(wire, nt);
            ASSERT_NE(m, nullptr) << hexpart;
            misdn_bchannel bc;
            fresh_bc(&bc, 1, nt);
            testing::internal::CaptureStdout();
            EXPECT_EQ(isdn_msg_parse_event(msgs_g, m, &bc, nt), 0);
            testing::internal::GetCapturedStdout();
            if (isdn && nt == 0)
                bri[l3_frame_mt(m, 0)] = bc;
            free_msg(m);
        }
        rows++;
    }
    fclose(f);
    EXPECT_EQ(rows, 9);
    const misdn_bchannel &setup = bri[0x05];
    EXPECT_STREQ(setup.oad, "5551212");
    EXPECT_EQ(setup.oton, NUMTYPE_UNKNOWN);
    EXPECT_EQ(setup.onpi, NUMPLAN_ISDN);
    EXPECT_STREQ(setup.dad, "0205551212");
    EXPECT_EQ(setup.sending_complete, 1);
    EXPECT_EQ(setup.capability, 8);
    EXPECT_EQ(setup.channel, 255);
    EXPECT_EQ(bri[0x02].channel, 2);
    const misdn_bchannel &connect = bri[0x07];
    EXPECT_STREQ(connect.cad, "205551212");
    EXPECT_EQ(connect.cton, NUMTYPE_NATIONAL);
    EXPECT_EQ(connect.cscreen, 3);
    EXPECT_EQ(connect.tm.tm_mon, 11);
    EXPECT_EQ(connect.tm.tm_mday, 12);
    EXPECT_EQ(connect.tm.tm_hour, 13);
    EXPECT_EQ(connect.tm.tm_min, 46);
    q931_reset_hooks();
}

}  // namespace
