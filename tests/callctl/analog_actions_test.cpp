// Table actions of analog calls run on a call object without the line
// library: the FXO call-progress timers, termination reasons and the
// call-ending signal rules, polarity rules, the end of dialling, and caller
// id collected as DTMF.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "analog_callctl.h"
#include "analog_watchdog.h"
#include "analogctl.h"
#include "application.h"
#include "call_progress.h"
#include "call_reset.h"
#include "callctl_world.h"
#include "confman.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "line_bringup.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "schema.h"
#include "sm_defs.h"
#include "sm_tasks.h"
#include "state_table_actions.h"

namespace {

time_t fake_now = 1000;
time_t fake_clock(time_t *t)
{
    if (t)
        *t = fake_now;
    return fake_now;
}

class AnalogActions : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(callctl_world(4));
        cm_init();
        cpt_init_default_tables();
        if (!gp->analog_info)
            gp->analog_info = static_cast<analog_port_info *>(calloc(1, sizeof(analog_port_info)));
        *gp->analog_info = analog_port_info{};
        for (int p = 1; p <= 4; p++)
            gp->analog_info->type[p] = p <= 2 ? 2 : 1;
        gp->analog_info->size = 4;
        load("[lines]\nports=1\nfxo_call_ending_signal=busy,polarity\n[other]\nports=2\n"
             "[phones]\nports=3,4\ncomplete_dialing_on_pound_or_star=yes\n");
        co_ = get_free_operation_handle(1);
        ASSERT_NE(co_, nullptr);
        co_->callinfo = CI_SIP_TO_ANALOG;
        co_->analog_port = 1;
        analog_clock = fake_clock;
    }
    void TearDown() override
    {
        analog_clock = time;
        {
            lock_hold hold(&lock_manager::global_lock);
            co_->analog_port = 0;
            reset_op(co_);
        }
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
        pg_free_line_port_groups();
        timer_exit();
    }
    void load(const std::string &text)
    {
        char path[] = "/tmp/analog-actions.XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        std::ofstream(path) << text;
        if (gp->config_analog)
            cm_destroy(gp->config_analog);
        gp->config_analog = configman_create("ANALOG");
        ASSERT_EQ(cm_load(&gp->config_analog, path), 0);
        unlink(path);
        pg_free_line_port_groups();
        pg_init_analog_port_group_struct();
    }
    int tasks(int word)
    {
        int n = 0;
        for (sm_run_info *t = gp->smrunlist ? gp->smrunlist->first : nullptr; t; t = t->list)
            n += t->event == word;
        return n;
    }
    void clear_tasks()
    {
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
    }
    statemachine_handle_retval run(statemachine_handle action, int32_t state = SM_CALL_ACTIVE, int32_t event = 0)
    {
        return action(co_, nullptr, state, event);
    }
    call_object *co_ = nullptr;
};

constexpr statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};
constexpr statemachine_handle_retval KEEP = {SM_KEEP_STATE, SM_NO_EVENT};
bool same(statemachine_handle_retval a, statemachine_handle_retval b)
{
    return a.state == b.state && a.event == b.event;
}

// The call's own table wins over the default table; 1500 ms is 1 s and
// 500,000 us; a second start replaces the first timer.
TEST_F(AnalogActions, FxoCallProgressTimers)
{
    cpt_s2fxo own = cpt_s2fxo_builtin;
    own.timeout_polrev = 1500;
    own.timeout_dial = 2000;
    co_->s2fxo_cpt = &own;
    run(sm_sip_to_fxo_start_polarity_timer, SM_ANALOG_FXO_RINGING);
    ASSERT_NE(co_->fxo_cpt_timer, nullptr);
    EXPECT_EQ(co_->fxo_cpt_timer->tv.tv_sec, 1);
    EXPECT_EQ(co_->fxo_cpt_timer->tv.tv_usec, 500000);
    EXPECT_EQ(co_->fxo_cpt_timer->event, T_EVENT_FXO_CPT_POLREV_TIMER);
    run(sm_sip_to_fxo_start_dialing_finished_timer, SM_ANALOG_FXO_OFFHOOK);
    EXPECT_EQ(co_->fxo_cpt_timer->tv.tv_sec, 2);
    EXPECT_EQ(co_->fxo_cpt_timer->tv.tv_usec, 0);
    EXPECT_EQ(co_->fxo_cpt_timer->event, T_EVENT_FXO_CPT_DIALING_TIMER);
    co_->s2fxo_cpt = nullptr;
    run(sm_sip_to_fxo_start_dialing_finished_timer, SM_ANALOG_FXO_OFFHOOK);
    ASSERT_NE(co_->fxo_cpt_timer, nullptr);
    EXPECT_EQ(co_->fxo_cpt_timer->tv.tv_sec * 1000 + co_->fxo_cpt_timer->tv.tv_usec / 1000,
              gp->s2fxo_cpt_default->timeout_dial);
    // A table without the timer (-1) leaves none armed.
    own.timeout_polrev = -1;
    co_->s2fxo_cpt = &own;
    run(sm_sip_to_fxo_start_polarity_timer, SM_ANALOG_FXO_RINGING);
    EXPECT_EQ(co_->fxo_cpt_timer, nullptr);
}

TEST_F(AnalogActions, TerminationReasonFromTheTone)
{
    const struct {
        int32_t event;
        int reason, by, incoming;
    } cases[] = {
        {sm_general(GENERAL_EVENT_ANALOG_UNOBTAINABLETONE_DETECTED), 14, 4, ANALOG_EVENT_UNOBTAINABLE_TONE},
        {sm_general(GENERAL_EVENT_ANALOG_BUSYTONE_DETECTED), 13, 4, ANALOG_EVENT_BUSY_TONE},
        {sm_analog(ANALOG_EVENT_BUSY_TONE), 0, -1, -1},
    };
    for (const auto &c : cases) {
        co_->special_termination_reason = 99;
        co_->cdr.terminated_by = -1;
        co_->cdr.tc_incoming_event = -1;
        EXPECT_TRUE(same(run(sm_afxo_set_termination_reason, SM_CALL_ACTIVE, c.event), ROW));
        EXPECT_EQ(co_->special_termination_reason, c.reason);
        EXPECT_EQ(co_->cdr.terminated_by, c.by);
        EXPECT_EQ(co_->cdr.tc_incoming_event, c.incoming);
    }
}

// Port 1 ends on busy and polarity; port 2 keeps the default (unobtainable);
// a suspended port reads its own settings.
TEST_F(AnalogActions, CallEndingSignals)
{
    const struct {
        int port;
        statemachine_handle action;
        bool ends;
    } cases[] = {
        {1, sm_check_if_busy_tone_is_to_be_ignored, true},
        {1, sm_afxo_check_if_polarity_disconnect_is_to_be_ignored, true},
        {1, sm_check_if_unobtainable_tone_is_to_be_ignored, false},
        {1 | ANALOG_PORT_SUSPENDED, sm_check_if_busy_tone_is_to_be_ignored, true},
        {2, sm_check_if_busy_tone_is_to_be_ignored, false},
        {2, sm_afxo_check_if_polarity_disconnect_is_to_be_ignored, false},
        {2, sm_check_if_unobtainable_tone_is_to_be_ignored, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.port);
        co_->analog_port = c.port;
        EXPECT_TRUE(same(run(c.action), c.ends ? ROW : KEEP));
    }
}

// Rules: 2 reversals after connect disconnect, 1 before connect connects.
TEST_F(AnalogActions, PolarityRules)
{
    fxo_pr_definition &r = co_->cc.fxo_out_pr_def;
    r = fxo_pr_definition{};
    r.polarity_counter[0] = 2, r.state[0] = 2, r.event[0] = 2;
    r.polarity_counter[1] = 1, r.state[1] = 1, r.event[1] = 1;
    r.count = 2;
    const int disconnect = sm_analog(ANALOG_EVENT_POLARITY_DISCONNECT);
    const int connect = sm_analog(ANALOG_EVENT_POLARITY_CONNECT);
    const int standard = sm_analog(ANALOG_EVENT_POLARITY_STANDARD);
    const struct {
        int32_t state;
        int disconnect, connect, standard;
    } steps[] = {
        {SM_ANALOG_FXO_RINGING, 0, 1, 0},          // before-connect 1: connect
        {SM_ANALOG_FXO_DIALING_FINISHED, 0, 0, 1}, // before-connect 2: no rule
        {SM_CALL_ACTIVE, 0, 0, 1},                 // after-connect 1
        {SM_CALL_ACTIVE, 1, 0, 0},                 // after-connect 2: disconnect
        {SM_ANALOG_FXO_OFFHOOK, 0, 0, 0},          // other states: nothing
    };
    for (const auto &s : steps) {
        clear_tasks();
        run(sm_fxo_handle_polarity_reversal, s.state);
        EXPECT_EQ(tasks(disconnect), s.disconnect);
        EXPECT_EQ(tasks(connect), s.connect);
        EXPECT_EQ(tasks(standard), s.standard);
    }
    EXPECT_EQ(co_->analog_fxo_polarity_reversal_counter_before_connect, 3);
    EXPECT_EQ(co_->analog_fxo_polarity_reversal_counter_after_connect, 2);
    // Calls of the other direction only count.
    clear_tasks();
    co_->callinfo = CI_ANALOG_TO_SIP;
    run(sm_fxo_handle_polarity_reversal, SM_CALL_ACTIVE);
    EXPECT_EQ(tasks(disconnect) + tasks(connect) + tasks(standard), 0);
}

// Port 3 completes on "#" or "*": the number is cut there; the maximum of
// digits completes on any port; a full number ignores further digits.
TEST_F(AnalogActions, DialledDigitsAndTheEndOfDialling)
{
    co_->callinfo = CI_ANALOG_TO_SIP;
    co_->analog_port = 3;
    co_->analog_dial_tone_stopped = 1;
    const int send_invite = sm_general(GENERAL_EVENT_SEND_INVITE);
    for (int code : {4, 2, 11}) {
        co_->analog_dtmf = (char)code;
        run(sm_analog_to_sip_incoming_digits, SM_ANALOG_FXS_WAIT_FOR_DIALING);
        run(sm_analog_to_sip_check_if_dialing_complete, SM_ANALOG_FXS_WAIT_FOR_DIALING);
    }
    EXPECT_STREQ(co_->analog_dad, "42");
    EXPECT_EQ(tasks(send_invite), 1);

    clear_tasks();
    co_->analog_port = 1; // no "#" rule there
    snprintf(co_->analog_dad, 64, "12*3");
    run(sm_analog_to_sip_check_if_dialing_complete, SM_ANALOG_FXS_WAIT_FOR_DIALING);
    EXPECT_EQ(tasks(send_invite), 0);
    co_->cc.interdigit_dialing_max_digits = 4;
    run(sm_analog_to_sip_check_if_dialing_complete, SM_ANALOG_FXS_WAIT_FOR_DIALING);
    EXPECT_EQ(tasks(send_invite), 1);

    snprintf(co_->analog_dad, 64, "%s", std::string(63, '1').c_str());
    co_->analog_dtmf = 5;
    run(sm_analog_to_sip_incoming_digits, SM_ANALOG_FXS_WAIT_FOR_DIALING);
    EXPECT_EQ(std::string(co_->analog_dad), std::string(63, '1'));
}

// DTMF caller id: digits less than 3 s apart join, a gap of 3 s starts a
// new number; the mode must match the state; at the time-out only digits
// stay; the FXO caller id is at most 32 characters.
TEST_F(AnalogActions, DtmfCallerIdDigits)
{
    co_->callinfo = CI_ANALOG_TO_SIP;
    gp->analog_info->cid_mode[1] = CID_MODE_ETSI_DTMF_AR;
    auto digit = [&](int code, time_t at, int32_t state = SM_ANALOG_FXO_WAIT_FOR_CID) {
        fake_now = at;
        co_->analog_dtmf = (char)code;
        run(sm_analog_to_sip_collect_dtmf_cid, state);
    };
    digit(1, 1000);
    digit(2, 1002);
    EXPECT_STREQ(co_->analog_oad, "12");
    digit(3, 1005);
    EXPECT_STREQ(co_->analog_oad, "3");
    digit(4, 1006, SM_ANALOG_FXO_CID_WATCHDOG); // wrong state for this mode
    EXPECT_STREQ(co_->analog_oad, "3");
    digit(10, 1006);
    digit(12, 1007);
    EXPECT_STREQ(co_->analog_oad, "3*A");
    run(sm_analog_to_sip_process_oad, SM_ANALOG_FXO_WAIT_FOR_CID, sm_timer(T_EVENT_ANALOG_WAIT_FOR_CID_TIMEOUT));
    EXPECT_STREQ(co_->analog_oad, "3");
    for (int i = 0; i < 40; i++)
        digit(7, 1008);
    EXPECT_EQ(strlen(co_->analog_oad), 32u);
}

// Without a dial plan line the caller is rejected off hook when the call
// wants it, else the line waits for idle.
TEST_F(AnalogActions, RejectWithOffhookWithoutRoute)
{
    co_->callinfo = CI_ANALOG_TO_SIP;
    EXPECT_TRUE(same(run(sm_analog_to_sip_check_for_reject_with_offhook_if_no_dialplan, SM_INACTIVE),
                     statemachine_handle_retval{SM_ANALOG_FXO_WAIT_FOR_IDLE, SM_NO_EVENT}));
    co_->cc.reject_with_offhook = 1;
    EXPECT_TRUE(same(run(sm_analog_to_sip_check_for_reject_with_offhook_if_no_dialplan, SM_INACTIVE),
                     statemachine_handle_retval{SM_CALL_ACTIVE, SM_NO_EVENT}));
    ASSERT_NE(co_->timer, nullptr);
    EXPECT_EQ(co_->timer->event, T_EVENT_ANALOG_ONHOOK);
    EXPECT_EQ(co_->timer->tv.tv_sec, 1);
}

// Port selection: the order of a group's ports by method and direction,
// the round-robin index it leaves, an empty group, a port list, and FXO
// ports at or below their up-voltage counted as down.
TEST_F(AnalogActions, PortSelectionOrder)
{
    for (int p = 1; p <= 4; p++)
        gp->analog_info->type[p] = 1;
    load("[rr]\nports=1,2,3\nchansel=roundrobin\n[fxo]\nports=4\n");
    port_group_analog *rr = pg_get_port_group_analog_by_name("rr");
    ASSERT_NE(rr, nullptr);
    ASSERT_EQ(rr->chansel_method, CHANSEL_ROUNDROBIN);
    auto pick = [&](const char *target, int *down = nullptr) {
        int d = 0;
        int port = get_free_analog_port_by_dialplan_string(co_, target, &d);
        if (down)
            *down = d;
        if (port)
            gp->analog_info->in_use[port] = 0; // only the order is looked at
        co_->analog_port = 0;
        return port;
    };
    struct {
        int index;
        std::vector<int> busy;
        int port, index_after;
    } rr_cases[] = {
        {1, {}, 2, 2}, {1, {2}, 3, 2}, {1, {2, 3}, 1, 2}, {2, {}, 3, 0}, {0, {1, 2, 3}, 0, 1},
    };
    for (const auto &c : rr_cases) {
        SCOPED_TRACE("index " + std::to_string(c.index) + " busy " + std::to_string(c.busy.size()));
        rr->next_chansel_port_index = c.index;
        for (int b : c.busy)
            gp->analog_info->in_use[b] = 1;
        EXPECT_EQ(pick("G:rr"), c.port);
        EXPECT_EQ(rr->next_chansel_port_index, c.index_after);
        for (int b : c.busy)
            gp->analog_info->in_use[b] = 0;
    }
    // Unknown and empty groups, lists with ports outside 1-31.
    EXPECT_EQ(pick("G:nosuch"), 0);
    port_group_analog *fxo = pg_get_port_group_analog_by_name("fxo");
    ASSERT_NE(fxo, nullptr);
    int saved = fxo->port_count;
    fxo->port_count = 0;
    EXPECT_EQ(pick("G:fxo"), 0);
    fxo->port_count = saved;
    EXPECT_EQ(pick("0,40,2"), 2);
    EXPECT_EQ(pick("7"), 0) << "a port without configuration";
    // An FXO port reading no voltage is down.
    gp->analog_info->type[4] = 2;
    gp->analog_info->fxo_portup_voltage[4] = 20;
    int down = 0;
    EXPECT_EQ(pick("G:fxo", &down), 0);
    EXPECT_EQ(down, 1);
    // Descending from start 0: 3, 2, 1.
    load("[down]\nports=1,2,3\nchansel_direction=descending\n");
    EXPECT_EQ(pick("g:down"), 3);
    gp->analog_info->in_use[3] = 1;
    EXPECT_EQ(pick("g:down"), 2);
    gp->analog_info->in_use[3] = 0;
}

// Caller id of a Bellcore line 4 s before the ring: kept with a window of
// 5 s, dropped with 3 s.
TEST_F(AnalogActions, FskWindowBeforeRinging)
{
    if (!gp->experimental_options)
        gp->experimental_options = static_cast<experimental_options *>(calloc(1, sizeof(experimental_options)));
    struct {
        int window;
        const char *oad;
    } cases[] = {{5, "0301234"}, {3, ""}, {0, ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.window);
        gp->experimental_options->eo_etsi_fsk_window = c.window;
        gp->analog_info->cid_mode[1] = CID_MODE_BELLCORE;
        co_->callinfo = CI_ANALOG_TO_SIP;
        co_->analog_port = 1;
        co_->sm_state = SM_ANALOG_FXO_WAIT_FOR_CID;
        snprintf(co_->analog_oad, 64, "0301234");
        co_->analog_cid_received = fake_now - 4;
        analog_cb_events(1, ANALOG_EVENT_RINGING_PENDING);
        EXPECT_STREQ(co_->analog_oad, c.oad);
        EXPECT_EQ(co_->analog_cid_received, 0);
        EXPECT_EQ(co_->f.analog_ringing_pending, 1u);
    }
    gp->experimental_options->eo_etsi_fsk_window = 0;
}

} // namespace
