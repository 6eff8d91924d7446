// The admission of a SIP call toward ISDN against the ISDN library started
// in this process: what goes onto the B-channel (numbers, destination field,
// CLIR by number, privacy, HLC/LLC, user-user, the redirecting number of a
// History-Info diversion), the refusal of a called number with a letter, and
// a line without a free B-channel (next line with dialplan_go_on, else the
// refusal). Port 1: TE basic rate point-to-multipoint (up when asked); port
// 7: point-to-point without far end (never up). Last, a call toward a GSM
// port whose dial cannot be placed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "call_reset.h"
#include "confman.h"
#include "dialplan.h"
#include "sip_isdn_admission_env.h"
#include "misdn_bchannel.h"
#include "pools.h"
#include "proxy_def.h"
#include "sip_admission.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/msg.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>

namespace {

class Library : public ::testing::Environment {
public:
    void SetUp() override { s2i_start_library(); }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new Library);

struct parsed {
    msg_t *msg = nullptr;
    explicit parsed(const std::string &headers)
    {
        std::string text = "INVITE sip:4930@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:5999;branch=z9hG4bK1\r\n"
                           "From: <sip:0301234@127.0.0.1>;tag=1\r\nTo: <sip:4930@127.0.0.1>\r\n"
                           "Call-ID: c1@127.0.0.1\r\nCSeq: 1 INVITE\r\n" +
                           headers + "Content-Length: 0\r\n\r\n";
        msg = msg_make(sip_default_mclass(), 0, text.data(), text.size());
    }
    ~parsed() { msg_destroy(msg); }
    sip_t const *sip() const { return msg ? sip_object(msg) : nullptr; }
};

// A call routed toward ISDN ports (its line's configuration is line_cc).
struct s2i_call {
    call_object *co = nullptr;
    call_configuration line_cc{}, destination_cc{};
    s2i_call(std::vector<int> ports, const char *destination)
    {
        cc_init_call_configuration(&line_cc);
        cc_init_call_configuration(&destination_cc);
        co = get_free_operation_handle(1);
        EXPECT_NE(co, nullptr);
        co->cl_sip_in = co->cl_sip = get_new_sip_call_leg();
        co->cl_sip_in->address_info = create_dummy_address_info();
        auto *dp = (dialplan_element *)calloc(1, sizeof(dialplan_element));
        dp->to_id = strdup(ports.size() == 1 ? std::to_string(ports[0]).c_str() : "1");
        dp->to_ports = (int *)calloc(ports.size() + 1, sizeof(int));
        for (size_t i = 0; i < ports.size(); i++)
            dp->to_ports[i] = ports[i];
        dp->to_ports_count = (int)ports.size();
        dp->to_tech = TECH_ISDN;
        dp->from_tech = TECH_SIP;
        dp->cc = &line_cc;
        dp->line = 1;
        co->dp = dp;
        co->new_source = strdup("0301234");
        co->new_destination = strdup(destination);
        cc_init_call_configuration(&co->cc);
        co->cc_active = &co->cc;
        co->cc_destination = &destination_cc;
    }
    int admit(const parsed &m)
    {
        int r = 0;
        s2i_locked([&] {
            r = init_incoming_sip_to_isdn_call("127.0.0.1", 5999, nua_i_invite, 0, "", nullptr, nullptr, nullptr,
                                               co, m.sip());
        });
        return r;
    }
    int admit_gsm(const parsed &m)
    {
        int r = 0;
        s2i_locked([&] {
            r = init_incoming_sip_to_gsm_call("127.0.0.1", 5999, nua_i_invite, 0, "", nullptr, nullptr, nullptr, co,
                                              m.sip());
        });
        return r;
    }
    void end()
    {
        s2i_locked([&] {
            if (co->sm) {
                statemachine_destroy(co->sm);
                co->sm = nullptr;
            }
            if (co->callinfo != CI_FREE)
                reset_op(co);
        });
    }
};

template <size_t N>
void text(char (&field)[N], const char *value)
{
    snprintf(field, N, "%s", value);
}

TEST(SipToIsdnAdmission, WhatGoesOntoTheBChannel)
{
    const struct {
        const char *what;
        int destination_field;
        bool privacy;
        const char *clir_on_oad;
        const char *dad, *keypad, *oad;
        int pres;
    } cases[] = {
        {"called number", CONFIG_ISDN_DESTINATION_DAD, false, "", "4930", "", "301234", 0},
        {"keypad", CONFIG_ISDN_DESTINATION_KEYPAD, false, "", "", "4930", "301234", 0},
        {"both", CONFIG_ISDN_DESTINATION_BOTH, false, "", "4930", "4930", "301234", 0},
        {"CLIR by the rewritten number", CONFIG_ISDN_DESTINATION_DAD, false, "301234", "4930", "", "", 1},
        {"another number keeps its CLIP", CONFIG_ISDN_DESTINATION_DAD, false, "0301234", "4930", "", "301234", 0},
        {"privacy", CONFIG_ISDN_DESTINATION_DAD, true, "", "4930", "", "", 1},
    };
    // The calling number "0301234" is rewritten as a national number
    // without its leading zero.
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t port1 = gp->callstat.counter_sip_to_isdn_port[1];
        s2i_call call({1}, "4930");
        call.co->cc.isdn_destination_field = c.destination_field;
        call.co->f.sip_privacy = c.privacy;
        text(call.destination_cc.clir_on_oad, c.clir_on_oad);
        text(call.co->cc.isdn_ie_hlc, "9181");
        text(call.co->cc.isdn_ie_llc, "0x8890");
        parsed m("");
        ASSERT_EQ(call.admit(m), 0);
        misdn_bchannel *bc = call.co->bc;
        ASSERT_NE(bc, nullptr);
        EXPECT_EQ(bc->port, 1);
        EXPECT_EQ(call.co->callinfo, CI_SIP_TO_ISDN);
        EXPECT_EQ(call.co->bc_port, 1);
        EXPECT_EQ(call.co->bc_channel, bc->channel);
        EXPECT_STREQ(bc->dad, c.dad);
        EXPECT_STREQ(bc->keypad, c.keypad);
        EXPECT_STREQ(bc->oad, c.oad);
        EXPECT_EQ(bc->pres, c.pres);
        EXPECT_EQ(bc->sending_complete, 1);
        ASSERT_EQ(bc->hlclen, 2);
        EXPECT_EQ(bc->hlc[0], 0x91);
        EXPECT_EQ(bc->hlc[1], 0x81);
        ASSERT_EQ(bc->llclen, 2);
        EXPECT_EQ(bc->llc[1], 0x90);
        EXPECT_NE(call.co->sm, nullptr);
        EXPECT_EQ(gp->callstat.counter_sip_to_isdn_port[1], port1 + 1);
        call.end();
    }
}

// An emergency-routing line reads History-Info: the first diversion entry
// from its fourth character becomes the national redirecting number.
TEST(SipToIsdnAdmission, HistoryInfoDiversion)
{
    s2i_call call({1}, "110");
    call.co->cc.tr_notruf = 1;
    parsed m("History-Info: <sip:4930555@10.0.0.1>;index=1,<sip:4919820777@10.0.0.2>;index=1.1,"
             "<sip:4919820888@10.0.0.3>;index=1.2\r\n");
    testing::internal::CaptureStdout();
    ASSERT_EQ(call.admit(m), 0);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("History :|<sip:4930555@10.0.0.1>;index=1,"), std::string::npos) << printed;
    ASSERT_NE(call.co->bc, nullptr);
    EXPECT_STREQ(call.co->bc->rad, "9820777");
    EXPECT_EQ(call.co->bc->rton, NUMTYPE_NATIONAL);
    call.end();

    s2i_call plain({1}, "110");
    plain.co->cc.tr_notruf = 1;
    parsed no_index("History-Info: <sip:4919820777@10.0.0.2>\r\n");
    testing::internal::CaptureStdout();
    ASSERT_EQ(plain.admit(no_index), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(plain.co->bc->rad, "") << "an entry without an index is not kept";
    plain.end();
}

TEST(SipToIsdnAdmission, RefusalsAndNextLine)
{
    // A called number with a letter: refused, the call reset, slot 0 counted.
    uint32_t refused = gp->callstat.counter_sip_to_isdn_port[0];
    s2i_call letter({1}, "49x0");
    ASSERT_EQ(letter.admit(parsed("")), 0);
    EXPECT_EQ(letter.co->callinfo, CI_FREE);
    EXPECT_EQ(gp->callstat.counter_sip_to_isdn_port[0], refused + 1);

    // No B-channel on the port that is down: with dialplan_go_on the next
    // line is asked for and the call stays; without it the call is refused.
    s2i_call go_on({7}, "4930");
    go_on.line_cc.dialplan_go_on = 1;
    EXPECT_EQ(go_on.admit(parsed("")), -1);
    EXPECT_NE(go_on.co->callinfo, CI_FREE);
    EXPECT_EQ(go_on.co->bc, nullptr);
    go_on.end();

    s2i_call down({7}, "4930");
    ASSERT_EQ(down.admit(parsed("")), 0);
    EXPECT_EQ(down.co->callinfo, CI_FREE);
    EXPECT_EQ(gp->callstat.counter_sip_to_isdn_port[0], refused + 2);
}

// A GSM port that is chosen (configured, registered, not in use) but takes
// no dial (here: its modem is not running, as while the port restarts): the
// call is refused at once like a call without a free port, and does not wait
// in a machine for a modem answer that never comes; with dialplan_go_on the
// next line is asked for, and the call holds no claim on the port.
TEST(SipToGsmAdmission, DialThatIsNotPlacedRefusesTheCall)
{
    gp->config_gsm = s2i_config("GSM", "[general]\n[mobile]\nports=3\n");
    ASSERT_NE(gp->config_gsm, nullptr);
    gp->gsm_port_info.port_infos[3].reg_status = 1;
    uint32_t refused = gp->callstat.counter_sip_to_gsm_port[0];
    uint32_t placed = gp->callstat.counter_sip_to_gsm_port[3];

    s2i_call go_on({3}, "01701234");
    go_on.line_cc.dialplan_go_on = 1;
    EXPECT_EQ(go_on.admit_gsm(parsed("")), -1);
    EXPECT_NE(go_on.co->callinfo, CI_FREE);
    EXPECT_EQ(go_on.co->sm, nullptr);
    EXPECT_EQ(go_on.co->gsm_port, 0);
    go_on.end();

    s2i_call call({3}, "01701234");
    ASSERT_EQ(call.admit_gsm(parsed("")), 0);
    EXPECT_EQ(call.co->callinfo, CI_FREE);
    EXPECT_EQ(call.co->sm, nullptr);
    EXPECT_EQ(gp->callstat.counter_sip_to_gsm_port[0], refused + 1);
    EXPECT_EQ(gp->callstat.counter_sip_to_gsm_port[3], placed);

    gp->gsm_port_info.port_infos[3].reg_status = 0;
    cm_destroy(gp->config_gsm);
    gp->config_gsm = nullptr;
}

} // namespace
