// Actions of ISDN calls out to SIP without the library's threads: the
// national/international prefix rule, the SIP response timers an INVITE
// arms, when dialling is complete, the SETUP ACKNOWLEDGE of a digit, the
// end of a call without route, and advice of charge by its rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "application.h"
#include "call_reset.h"
#include "callctl_world.h"
#include "dialplan.h"
#include "global_lock.h"
#include "isdn_admission.h"
#include "isdn_events.h"
#include "isdn_to_sip.h"
#include "misdn_bchannel.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "sm_defs.h"
#include "sm_tasks.h"
#include "state_table_actions.h"

namespace {

struct sent_msg {
    event_e event;
    int out_cause;
    bool operator==(const sent_msg &o) const { return event == o.event && out_cause == o.out_cause; }
};
std::vector<sent_msg> sent;
std::vector<std::pair<int, int>> facilities; // (function, units or amount)
int record_send(misdn_bchannel *bc, event_e event)
{
    if (event == EVENT_FACILITY)
        facilities.push_back({bc->fac_out.Function, bc->fac_out.Function == Fac_AOCDChargingUnit
                                                        ? bc->fac_out.u.AOCDchu.recordedUnits
                                                        : bc->fac_out.u.AOCDcur.CurrencyAmount});
    else
        sent.push_back({event, bc->out_cause});
    return 0;
}

class IsdnToSip : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(callctl_world(4));
        sent.clear();
        facilities.clear();
        isdn_events_set_library_send(record_send);
        bc_ = misdn_bchannel{};
        bc_.port = 1;
        bc_.channel = 1;
        bc_.nt = 1;
        bc_.fac_in.Function = Fac_None;
        co_ = get_free_operation_handle(1);
        ASSERT_NE(co_, nullptr);
        co_->callinfo = CI_ISDN_TO_SIP;
        co_->bc = &bc_;
        co_->counteri = 2;
    }
    void TearDown() override
    {
        co_->bc = nullptr;
        if (co_->dp) {
            free(co_->dp);
            co_->dp = nullptr;
        }
        {
            lock_hold hold(&lock_manager::global_lock);
            reset_op(co_);
        }
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
        isdn_events_set_library_send(nullptr);
        timer_exit();
    }
    int tasks(int word)
    {
        int n = 0;
        for (sm_run_info *t = gp->smrunlist ? gp->smrunlist->first : nullptr; t; t = t->list)
            n += t->event == word;
        return n;
    }
    statemachine_handle_retval run(statemachine_handle action, int32_t state = SM_ISDN_WAIT_FOR_DIALING)
    {
        return action(co_, nullptr, state, 0);
    }
    misdn_bchannel bc_;
    call_object *co_ = nullptr;
};

// Format 2, international code 49, national code 30; each case run twice
// gives the same number.
TEST_F(IsdnToSip, PrefixRuleOnTheDestination)
{
    port_groups *pg = pg_port_groups();
    free(pg->default_emergency_numbers);
    pg->default_emergency_numbers = strdup("110|112");
    co_->cc.i2s_destination_numformat = 2;
    snprintf(co_->cc.sip_international_code, sizeof co_->cc.sip_international_code, "49");
    snprintf(co_->cc.sip_national_code, sizeof co_->cc.sip_national_code, "30");
    const struct {
        const char *in, *out;
    } cases[] = {
        {"0301234", "+49301234"}, {"004412345", "+4412345"}, {"1234", "+49301234"},
        {"12", "12"},             {"0800-123", "0800-123"},  {"112", "112"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        free(co_->new_destination);
        free(co_->new_destination_previous);
        co_->new_destination_previous = nullptr;
        co_->f.new_destination_modified_with_vaz = 0;
        co_->new_destination = strdup(c.in);
        run(sm_add_vaz_to_new_destination);
        EXPECT_STREQ(co_->new_destination, c.out);
        run(sm_add_vaz_to_new_destination);
        EXPECT_STREQ(co_->new_destination, c.out);
    }
    // formats 1 and 3, and off
    const struct {
        int format;
        const char *out;
    } formats[] = {{1, "0049301234"}, {3, "49301234"}, {0, "0301234"}};
    for (const auto &f : formats) {
        co_->cc.i2s_destination_numformat = f.format;
        free(co_->new_destination);
        free(co_->new_destination_previous);
        co_->new_destination_previous = nullptr;
        co_->f.new_destination_modified_with_vaz = 0;
        co_->new_destination = strdup("0301234");
        run(sm_add_vaz_to_new_destination);
        EXPECT_STREQ(co_->new_destination, f.out) << f.format;
    }
    free(pg->default_emergency_numbers);
    pg->default_emergency_numbers = nullptr;
}

// "T0:5;T180:700;X:1" arms the T0 timer only; bounds 1 and 599; a failover
// timer only with a failover proxy.
TEST_F(IsdnToSip, ResponseTimersFromTheOption)
{
    const struct {
        const char *text;
        int t0, t180, t183, t200;
    } cases[] = {
        {"T0:5;T180:700;X:1", 5, 0, 0, 0},
        {"T183:599;T200:1", 0, 0, 599, 1},
        {"T0:0;T180:-3;T200:600", 0, 0, 0, 0},
        {"T180:12", 0, 12, 0, 0},
        {"", 0, 0, 0, 0},
    };
    auto seconds = [](kv_timer *t) { return t ? (int)t->tv.tv_sec : 0; };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        snprintf(co_->cc.sip_txx_timeout, sizeof co_->cc.sip_txx_timeout, "%s", c.text);
        EXPECT_EQ(init_sip_failover_timers(co_), 0);
        EXPECT_EQ(seconds(co_->sip_t0_timer), c.t0);
        EXPECT_EQ(seconds(co_->sip_t180_timer), c.t180);
        EXPECT_EQ(seconds(co_->sip_t183_timer), c.t183);
        EXPECT_EQ(seconds(co_->sip_t200_timer), c.t200);
        if (co_->sip_t0_timer)
            EXPECT_EQ(co_->sip_t0_timer->event, T_EVENT_SIP_T0_TIMEOUT);
    }
    co_->cc.sip_failover_timeout = 4;
    init_sip_failover_timers(co_);
    EXPECT_EQ(co_->failover_timer, nullptr) << "no failover proxy";
    snprintf(co_->cc.sip_failover_proxy, sizeof co_->cc.sip_failover_proxy, "backup");
    init_sip_failover_timers(co_);
    ASSERT_NE(co_->failover_timer, nullptr);
    EXPECT_EQ(co_->failover_timer->tv.tv_sec, 4);
    EXPECT_EQ(co_->failover_timer->event, T_EVENT_FAILOVER_TIMEOUT);
}

// Completion on "#"/"*" cuts the number there; otherwise the digit limit
// (0: always reached), sending complete or the line's finish-on-match. The
// INVITE event is queued only with a dial-plan line.
TEST_F(IsdnToSip, WhenDiallingIsComplete)
{
    const int invite = sm_general(GENERAL_EVENT_SEND_INVITE);
    call_configuration line_cc{};
    const struct {
        const char *dad;
        int pound_star, max_digits, sending_complete, finish_on_match;
        bool line;
        const char *dad_after;
        int queued;
    } cases[] = {
        {"123", 1, 1, 0, 0, true, "123", 0},
        {"12", 0, 3, 0, 0, true, "12", 0},      {"123", 0, 3, 0, 0, true, "123", 1},
        {"1", 0, 0, 0, 0, true, "1", 1},        {"1", 0, 20, 1, 0, true, "1", 1},
        {"1", 0, 20, 0, 1, true, "1", 1},       {"123", 0, 3, 0, 0, false, "123", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.dad << " max " << c.max_digits);
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
        snprintf(bc_.dad, sizeof bc_.dad, "%s", c.dad);
        bc_.use_complete_dialing_pound_star = c.pound_star;
        bc_.sending_complete = c.sending_complete;
        co_->cc.interdigit_dialing_max_digits = c.max_digits;
        line_cc.dialplan_finish_dialing_on_match = c.finish_on_match;
        dialplan_element *dp = c.line ? (dialplan_element *)calloc(1, sizeof(dialplan_element)) : nullptr;
        if (dp)
            dp->cc = &line_cc;
        co_->dp = dp;
        run(sm_isdn_to_sip_check_if_dialing_complete);
        EXPECT_STREQ(bc_.dad, c.dad_after);
        EXPECT_EQ(tasks(invite), c.queued);
        free(dp);
        co_->dp = nullptr;
    }
}

// The end mark completes dialling with the number before it: the dial plan
// is searched again without the mark, so a line for exactly 123 takes
// "123#" (searched as "123#" with the digit, no line matched), and "12*3"
// ends as 12, which no line takes.
TEST_F(IsdnToSip, EndMarkSearchesTheDialPlanWithoutIt)
{
    const int invite = sm_general(GENERAL_EVENT_SEND_INVITE);
    char dir[] = "/tmp/isdn_to_sip_plan.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/tarn.dialplan";
    {
        FILE *f = fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs("ISDN\tSIP\t1\t127.0.0.2\t123\t\\0\t(.*)\t\\1\t\n", f);
        fclose(f);
    }
    ASSERT_EQ(dialplan_load(path.c_str()), 0);
    // A matched line's proxy definition goes back as the daemon frees it.
    const dialplan_sip_iface saved = dialplan_sip;
    dialplan_sip_iface sip{};
    sip.free_proxy_def = free_proxy_def;
    dialplan_set_sip_iface(&sip);
    const struct {
        const char *dad, *dad_after;
        int queued;
    } cases[] = {{"123#", "123", 1}, {"12*3", "12", 0}, {"123*4#", "123", 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.dad);
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
        snprintf(bc_.dad, sizeof bc_.dad, "%s", c.dad);
        snprintf(bc_.oad, sizeof bc_.oad, "4711");
        bc_.use_complete_dialing_pound_star = 1;
        run(sm_isdn_to_sip_search_dialplan);
        EXPECT_EQ(co_->dp, nullptr) << "no line takes the number with its end mark";
        run(sm_isdn_to_sip_check_if_dialing_complete);
        EXPECT_STREQ(bc_.dad, c.dad_after);
        EXPECT_EQ(tasks(invite), c.queued);
        EXPECT_EQ(co_->dp != nullptr, c.queued == 1);
        if (co_->dp)
            EXPECT_STREQ(co_->new_destination, "123");
        if (co_->dp) {
            dialplan_cleanup_element(co_->dp);
            free(co_->dp);
            co_->dp = nullptr;
        }
    }
    dialplan_free_table();
    dialplan_set_sip_iface(&saved);
    unlink(path.c_str());
    rmdir(dir);
}

// A digit sends SETUP ACKNOWLEDGE once on an NT port, never on a TE
// point-to-multipoint port, nor with sending complete or skip_setup_ack;
// the digits of INFORMATION join the called number.
TEST_F(IsdnToSip, SetupAcknowledgeOfADigit)
{
    snprintf(bc_.dad, sizeof bc_.dad, "1");
    snprintf(bc_.info_dad, sizeof bc_.info_dad, "2");
    snprintf(bc_.keypad, sizeof bc_.keypad, "3");
    bc_.port = 7; // no port of the library: not point-to-point
    run(sm_isdn_to_sip_incoming_digits);
    snprintf(bc_.info_dad, sizeof bc_.info_dad, "4");
    run(sm_isdn_to_sip_incoming_digits);
    EXPECT_STREQ(bc_.dad, "1234");
    EXPECT_EQ(bc_.info_dad[0], '\0');
    EXPECT_EQ(bc_.keypad[0], '\0');
    EXPECT_EQ(sent, (std::vector<sent_msg>{{EVENT_SETUP_ACKNOWLEDGE, 0}}));
    EXPECT_STREQ(co_->bc_dad, "1234");

    co_->legi->events_sent[LEGI_SETUP_ACKNOWLEDGE] = 0;
    sent.clear();
    bc_.nt = 0;
    run(sm_isdn_to_sip_incoming_digits);
    EXPECT_TRUE(sent.empty()) << "TE point-to-multipoint";
    bc_.nt = 1;
    bc_.sending_complete = 1;
    run(sm_isdn_to_sip_incoming_digits);
    EXPECT_TRUE(sent.empty()) << "sending complete";
    // the number never grows past its 31 characters
    bc_.sending_complete = 0;
    snprintf(bc_.dad, sizeof bc_.dad, "%s", std::string(30, '5').c_str());
    snprintf(bc_.info_dad, sizeof bc_.info_dad, "%s", std::string(40, '6').c_str());
    run(sm_isdn_to_sip_incoming_digits);
    EXPECT_EQ(strlen(bc_.dad), 31u);
}

// Without a route: cause 17 of the default map (904), 918 with the call
// limit; RELEASE COMPLETE before anything was sent, else DISCONNECT once and
// SM_DISMANTLING on NT, SM_DESTROYING on TE.
TEST_F(IsdnToSip, EndOfACallWithoutRoute)
{
    const int destroying = SM_DESTROYING, dismantling = SM_DISMANTLING;
    auto r = run(sm_isdn_to_sip_dismantle_call_if_no_dialplan);
    EXPECT_EQ(r.state, destroying);
    EXPECT_EQ(r.event, SM_NO_EVENT);
    EXPECT_EQ(sent, (std::vector<sent_msg>{{EVENT_RELEASE_COMPLETE, 17}}));

    sent.clear();
    co_->legi->events_sent[LEGI_SETUP_ACKNOWLEDGE] = 3;
    r = run(sm_isdn_to_sip_dismantle_call_if_no_dialplan);
    EXPECT_EQ(r.state, dismantling);
    r = run(sm_isdn_to_sip_dismantle_call_if_no_dialplan);
    EXPECT_EQ(sent.size(), 1u) << "one DISCONNECT";
    EXPECT_EQ(sent[0].event, EVENT_DISCONNECT);
    bc_.nt = 0;
    EXPECT_EQ(run(sm_isdn_to_sip_dismantle_call_if_no_dialplan).state, destroying);

    dialplan_element line{};
    co_->dp = &line;
    r = run(sm_isdn_to_sip_dismantle_call_if_no_dialplan);
    EXPECT_EQ(r.state, SM_NO_DECISION);
    co_->dp = nullptr;
}

// Rules {1 unit, 2 s, 2 repeats} then {5 units, 2 s, 0}: 1, 2, 3, then 8;
// only in SM_CALL_ACTIVE; the currency form carries the total as amount.
TEST_F(IsdnToSip, AdviceOfChargeByItsRules)
{
    aoc_definition &a = co_->cc.aocdef;
    a.aoctype = AOC_TYPE_CHARGING;
    a.number_of_rules = 2;
    a.aocintervals[0] = {1, 2, 2};
    a.aocintervals[1] = {5, 2, 0};
    run(sm_isdn_start_aoc);
    ASSERT_NE(co_->aoc_timer, nullptr);
    EXPECT_EQ(tasks(sm_timer(T_EVENT_AOC_OUTGOING_TIMER)), 1);
    run(sm_isdn_send_aoc_facility, SM_SIP_RINGING);
    EXPECT_TRUE(facilities.empty());
    for (int i = 0; i < 4; i++)
        run(sm_isdn_send_aoc_facility, SM_CALL_ACTIVE);
    EXPECT_EQ(facilities, (std::vector<std::pair<int, int>>{
                              {Fac_AOCDChargingUnit, 1}, {Fac_AOCDChargingUnit, 2}, {Fac_AOCDChargingUnit, 3},
                              {Fac_AOCDChargingUnit, 8}}));
    EXPECT_EQ(co_->aoc_timer->interval_save, 2000 / TIMER_TICK_MS) << "the rule's interval";
    EXPECT_TRUE(sent.empty()) << "FACILITY goes out unrecorded";

    facilities.clear();
    a.aoctype = AOC_TYPE_CURRENCY;
    a.current = 0;
    a.total_units = 0;
    a.repeat_counter = 0;
    run(sm_isdn_send_aoc_facility, SM_CALL_ACTIVE);
    EXPECT_EQ(facilities, (std::vector<std::pair<int, int>>{{Fac_AOCDCurrency, 1}}));
}

// SETUPs on a port without "config" are refused with RELEASE COMPLETE and
// leave nothing behind: every object back in the pool, no dial timer. The
// number statistics skip a port outside the table and a type of number above 4.
TEST_F(IsdnToSip, RefusedSetupsLeaveNothing)
{
    auto in_use = [] {
        int n = 0;
        for (int i = 0; i < OPERATIONARRAYSIZE; i++)
            n += gp->operations[i]->callinfo != CI_FREE;
        return n;
    };
    ton_statistics_record &ts = gp->ton_statistics;
    ts = ton_statistics_record{};
    const struct {
        int port, oton;
    } setups[] = {{2, 1}, {2, 7}, {40, 1}, {0, 0}, {32, 4}};
    for (const auto &c : setups) {
        SCOPED_TRACE(c.port);
        misdn_bchannel bc{};
        bc.port = c.port;
        bc.channel = 1;
        bc.nt = 1;
        bc.oton = (mISDN_NUMBER_TYPE)c.oton;
        bc.dton = NUMTYPE_UNKNOWN;
        snprintf(bc.oad, sizeof bc.oad, "4711");
        snprintf(bc.dad, sizeof bc.dad, "12");
        lock_hold hold(&lock_manager::global_lock);
        EXPECT_EQ(init_incoming_isdn_call(&bc), -1);
        EXPECT_EQ(in_use(), 1) << "only the fixture's call";
    }
    EXPECT_EQ(sent, std::vector<sent_msg>(5, sent_msg{EVENT_RELEASE_COMPLETE, 0}));
    for (int i = 0; i < OPERATIONARRAYSIZE; i++)
        if (gp->operations[i] != co_)
            EXPECT_EQ(gp->operations[i]->timer, nullptr);
    EXPECT_EQ(ts.statistics_o[2][1], 1u);
    EXPECT_EQ(ts.statistics_o[0][0], 1u);
    EXPECT_STREQ(ts.sample_o[2][1], "4711");
    uint32_t total = 0;
    for (auto &row : ts.statistics_o)
        for (uint32_t n : row)
            total += n;
    EXPECT_EQ(total, 2u) << "ports 32 and 40 and type 7 are not counted";
}

} // namespace
