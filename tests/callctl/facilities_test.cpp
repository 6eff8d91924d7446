// Call deflection and ISDN facilities without the library's threads: the
// 302 Contact by its settings, the deflection operation a SIP redirection
// sends, the restart with a prefix after a refused deflection, and the
// advice-of-charge header texts by aoc_on_sip.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "call_reset.h"
#include "callctl_world.h"
#include "facilities.h"
#include "global_lock.h"
#include "isdn_events.h"
#include "misdn_bchannel.h"
#include "sip_stack.h"
#include "sm_tasks.h"
#include "state_table_actions.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/su_alloc.h>

namespace {

std::vector<int> sent;
FacParm last_fac;
int record_send(misdn_bchannel *bc, event_e event)
{
    sent.push_back(event);
    if (event == EVENT_FACILITY)
        last_fac = bc->fac_out;
    return 0;
}

class Facilities : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(callctl_world(2));
        sent.clear();
        isdn_events_set_library_send(record_send);
        home_ = (su_home_t *)su_home_new(sizeof(su_home_t));
        bc_ = misdn_bchannel{};
        bc_.port = 1;
        bc_.fac_in.Function = Fac_None;
        snprintf(bc_.dad, sizeof bc_.dad, "4711");
        co_ = get_free_operation_handle(1);
        ASSERT_NE(co_, nullptr);
        co_->callinfo = CI_ISDN_TO_SIP;
        co_->bc = &bc_;
        leg_ = call_leg_sip{};
        co_->cl_sip = &leg_;
        stack_ = sip_stack{};
        snprintf(stack_.ip, sizeof stack_.ip, "192.0.2.10");
        leg_.ss = &stack_;
    }
    void TearDown() override
    {
        co_->bc = nullptr;
        co_->cl_sip = nullptr;
        {
            lock_hold hold(&lock_manager::global_lock);
            reset_op(co_);
        }
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
        isdn_events_set_library_send(nullptr);
        su_home_unref(home_);
        timer_exit();
    }
    std::string contact(const char *number, int ton = -1)
    {
        char buf[512];
        get_sip_302_contact(co_, buf, number, ton);
        return buf;
    }
    su_home_t *home_ = nullptr;
    misdn_bchannel bc_;
    call_leg_sip leg_;
    sip_stack stack_;
    call_object *co_ = nullptr;
};

TEST_F(Facilities, ContactOf302)
{
    EXPECT_EQ(contact("555"), "sip:555@192.0.2.10:5060");
    stack_.sip_port = 5080;
    EXPECT_EQ(contact("555"), "sip:555@192.0.2.10:5080");
    stack_.sip_port = 0;
    co_->cc.tr119 = 1;
    EXPECT_EQ(contact("555"), "sip:555@192.0.2.10:5061");
    snprintf(co_->cc.sip_302_contact_url, sizeof co_->cc.sip_302_contact_url, "gw.test:5070");
    EXPECT_EQ(contact("555"), "sip:555@gw.test:5070");
    // The prefix rule with format 2: national numbers get "+" and the codes;
    // short numbers and "+" numbers stay; the call's numbers are untouched.
    co_->cc.i2s_destination_numformat = 2;
    snprintf(co_->cc.sip_international_code, sizeof co_->cc.sip_international_code, "49");
    snprintf(co_->cc.sip_national_code, sizeof co_->cc.sip_national_code, "30");
    co_->new_destination = strdup("999");
    EXPECT_EQ(contact("0301234"), "sip:+49301234@gw.test:5070");
    EXPECT_EQ(contact("12"), "sip:12@gw.test:5070");
    EXPECT_EQ(contact("+4412"), "sip:+4412@gw.test:5070");
    EXPECT_STREQ(co_->new_destination, "999");
    EXPECT_EQ(co_->f.new_destination_modified_with_vaz, 0u);
    // A configured user wins over the number.
    snprintf(co_->cc.sip_302_contact_user, sizeof co_->cc.sip_302_contact_user, "operator");
    EXPECT_EQ(contact("0301234"), "sip:operator@gw.test:5070");
}

// A 302 with Contact user 123 deflects (point-to-multipoint here); without
// Contact the call is disconnected.
TEST_F(Facilities, DeflectionOfASipRedirection)
{
    sip_t sip{};
    sip.sip_contact = sip_contact_make(home_, "<sip:123@127.0.0.1>");
    ASSERT_NE(sip.sip_contact, nullptr);
    leg_.tmpsip = &sip;
    co_->cc.alert_on_cd = 1;
    statemachine_handle_retval r = sm_isdn_send_calldeflect(co_, nullptr, SM_SIP_INVITE_SENT, 0);
    EXPECT_EQ(r.state, SM_NO_DECISION);
    EXPECT_EQ(sent, (std::vector<int>{EVENT_ALERTING, EVENT_FACILITY}));
    EXPECT_EQ(last_fac.Function, Fac_CD);
    EXPECT_STREQ(last_fac.u.CDeflection.DeflectedToNumber, "123");
    EXPECT_TRUE(co_->f.call_deflect_sent);
    EXPECT_EQ(co_->dismantling_timeout, 5);
    sent.clear();
    sip.sip_contact = nullptr;
    r = sm_isdn_send_calldeflect(co_, nullptr, SM_SIP_INVITE_SENT, 0);
    EXPECT_EQ(r.state, SM_DESTROYING);
    EXPECT_EQ(sent, std::vector<int>{EVENT_DISCONNECT});
    leg_.tmpsip = nullptr;
}

// A refused deflection restarts the call with the prefix, once configured.
TEST_F(Facilities, RefusedDeflectionRestartsWithPrefix)
{
    auto run = [&] { return sm_isdn_handle_facility_if_calldeflect_was_sent(co_, nullptr, SM_DISMANTLING, 0); };
    co_->f.call_deflect_sent = 1;
    EXPECT_EQ(run().state, SM_NO_DECISION); // no prefix
    snprintf(co_->cc.isdn_cd_fail_prefix, sizeof co_->cc.isdn_cd_fail_prefix, "9");
    co_->f.dismantling = 1;
    statemachine_handle_retval r = run();
    EXPECT_EQ(r.state, SM_ISDN_WAIT_FOR_DIALING);
    EXPECT_STREQ(bc_.dad, "94711");
    EXPECT_FALSE(co_->f.dismantling);
    ASSERT_NE(gp->smrunlist, nullptr);
    ASSERT_NE(gp->smrunlist->first, nullptr);
    EXPECT_EQ(gp->smrunlist->first->event, sm_isdn(99, EVENT_SETUP));
    // Without a deflection sent nothing happens.
    co_->f.call_deflect_sent = 0;
    EXPECT_EQ(run().state, SM_NO_DECISION);
    EXPECT_STREQ(bc_.dad, "94711");
}

TEST_F(Facilities, AdviceOfChargeTexts)
{
    snprintf(bc_.ie_facilities.ie_facility, sizeof bc_.ie_facilities.ie_facility, "facility=abc");
    FacParm units{};
    units.Function = Fac_AOCDChargingUnit;
    units.u.AOCDchu.recordedUnits = 5;
    FacParm cur{};
    cur.Function = Fac_AOCDCurrency;
    snprintf(cur.u.AOCDcur.Currency, sizeof cur.u.AOCDcur.Currency, "EUR");
    cur.u.AOCDcur.CurrencyAmount = 12;
    cur.u.AOCDcur.Multiplier = 2;
    const struct {
        int bits;
        const FacParm *fac;
        const char *text;
    } rows[] = {
        {3, &units,
         "AOC: charging;state=active;charging-info=pulse;recorded-units=5;\r\n"
         "X-ClientCode: charging;state=active;charging-info=pulse;recorded-units=5;\r\n"
         "X-DV_FACILITY: facility=abc\r\n"},
        {1, &units, "AOC: charging;state=active;charging-info=pulse;recorded-units=5;\r\nX-DV_FACILITY: facility=abc\r\n"},
        {0, &units, "X-DV_FACILITY: facility=abc\r\n"},
        {3, &cur,
         "X-ClientCode: charging;state=active;charging-info=currency;currency=EUR;amount=12;multiplier=0.100000\r\n"
         "X-DV_FACILITY: facility=abc\r\n"},
        {1, &cur,
         "AOC: charging;state=active;charging-info=currency;currency=EUR;amount=12;multiplier=0.100000\r\n"
         "X-DV_FACILITY: facility=abc\r\n"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.bits);
        co_->cc.aoc_on_sip = r.bits;
        char text[2048], notice[512];
        facility_aoc_texts(co_, r.fac, text, sizeof text, notice, sizeof notice);
        EXPECT_STREQ(text, r.text);
        EXPECT_STREQ(notice, ""); // no authorization server
    }
    EXPECT_EQ(co_->aoc.units, 5);
    EXPECT_STREQ(co_->aoc.currency, "EUR");
    EXPECT_EQ(co_->aoc.multiplier, 2);
    snprintf(co_->cc.authorization_server, sizeof co_->cc.authorization_server, "http://127.0.0.1:1/");
    char text[2048], notice[512];
    facility_aoc_texts(co_, &units, text, sizeof text, notice, sizeof notice);
    EXPECT_STREQ(notice, "AOC: charging;state=active;charging-info=pulse;recorded-units=5");
    FacParm other{};
    other.Function = Fac_MCID;
    facility_aoc_texts(co_, &other, text, sizeof text, notice, sizeof notice);
    EXPECT_STREQ(text, "");
    // A currency longer than six characters is cut.
    snprintf(cur.u.AOCDcur.Currency, sizeof cur.u.AOCDcur.Currency, "ABCDEFGHIJ");
    facility_aoc_texts(co_, &cur, text, sizeof text, notice, sizeof notice);
    EXPECT_STREQ(co_->aoc.currency, "ABCDEF");
}

TEST(AocMultiplier, Factors)
{
    const double want[] = {0.001, 0.01, 0.1, 1, 10, 100, 1000};
    for (int i = 0; i < 7; i++)
        EXPECT_DOUBLE_EQ(aoc_multiplier_factor(i), want[i]);
    EXPECT_DOUBLE_EQ(aoc_multiplier_factor(-1), 1);
    EXPECT_DOUBLE_EQ(aoc_multiplier_factor(7), 1);
}

} // namespace
