// Machine runs and the task runner on a small test table: the statistics
// and CDR end fields of the edges, the "CALL ENDED" line, the order of
// queued tasks, tasks for calls that are gone or carry another call, the
// timer callback's failover decision, ending calls from outside.
#include <gtest/gtest.h>

#include <cstdarg>
#include <functional>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "application.h"
#include "cleanup.h"
#include "call_reset.h"
#include "debug_lines.h"
#include "log.h"
#include "msp_manager.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "pools.h"
#include "reg_object.h"
#include "sm_events.h"
#include "sm_run.h"
#include "sm_tasks.h"
#include "state_names.h"
#include "thread_names.h"
#include "timer.h"

namespace {

constexpr int32_t E_CONNECT = sm_sip(200, nua_r_invite);
constexpr int32_t E_BYE = sm_sip(0, nua_i_bye);
constexpr int32_t E_CLEANUP = sm_timer(T_EVENT_CLEANUP);
constexpr int32_t E_QUEUE_TWO = sm_general(GENERAL_EVENT_SEND_INVITE);
constexpr int32_t E_FIRST = sm_general(GENERAL_EVENT_DIALPLAN_MATCH_FOUND);
constexpr int32_t E_SECOND = sm_general(GENERAL_EVENT_DIALPLAN_GO_ON);

std::vector<int32_t> seen; // events the recording actions saw, in order

SM_ACTION(record)
{
    (void)p, (void)arg, (void)state;
    seen.push_back(event);
    return {SM_NO_DECISION, SM_ROW_EVENT};
}

SM_ACTION(queue_two)
{
    (void)arg, (void)state;
    seen.push_back(event);
    add_sm_task((call_object *)p, E_FIRST);
    add_sm_task((call_object *)p, E_SECOND);
    return {SM_NO_DECISION, SM_ROW_EVENT};
}

const statemachine_transition rows[] = {
    /* 1 */ {SM_INACTIVE, E_CONNECT, SM_CALL_ACTIVE, SM_NO_EVENT, nullptr},
    /* 2 */ {SM_CALL_ACTIVE, E_BYE, SM_DISMANTLING, SM_NO_EVENT, nullptr},
    /* 3 */ {SM_CALL_ACTIVE | SM_DISMANTLING, E_CLEANUP, SM_DESTROYING, SM_NO_EVENT, nullptr},
    /* 4 */ {SM_INACTIVE, E_QUEUE_TWO, SM_KEEP_STATE, SM_NO_EVENT, queue_two},
    /* 5 */ {SM_INACTIVE, E_FIRST, SM_KEEP_STATE, SM_NO_EVENT, record},
    /* 6 */ {SM_INACTIVE, E_SECOND, SM_KEEP_STATE, SM_NO_EVENT, record},
    /* 7 */ {SM_ANY, SM_ANY, SM_KEEP_STATE, SM_NO_EVENT, sm_call_list_unhandled},
};

int32_t send_nothing(void *, void *, int32_t) { return 0; }

// The notice lines ("CALL ENDED") of module TARN.
std::mutex notice_mutex;
std::vector<std::string> notices;
void on_notice(int, int module, const char *, int, const char *format, va_list ap)
{
    if (module != TARN)
        return;
    char buf[512];
    vsnprintf(buf, sizeof buf, format, ap);
    std::lock_guard<std::mutex> g(notice_mutex);
    notices.push_back(buf);
}
int count_notices(const std::string &text)
{
    std::lock_guard<std::mutex> g(notice_mutex);
    int n = 0;
    for (const std::string &s : notices)
        n += s == text;
    return n;
}

class SmRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        application_create();
        init_locks();
        ASSERT_EQ(create_call_object_pools(4), 0);
        ASSERT_NE(msp_create_command_manager(), nullptr);
        msp_init_timeslots();
        msp_init_resources();
        ASSERT_EQ(timer_list_new(), 0);
        seen.clear();
        notices.clear();
        old_notice_ = log_out_nmessage;
        old_enabled_ = log_levels_nmessage_enabled;
        log_set_log_handler_nmessage(on_notice);
        log_levels_nmessage_enabled = 1;
    }
    void TearDown() override
    {
        sm_run_pending_tasks();
        log_set_log_handler_nmessage(old_notice_);
        log_levels_nmessage_enabled = old_enabled_;
        timer_exit();
    }

    call_object *new_call(int callinfo)
    {
        call_object *co = get_free_operation_handle(1);
        EXPECT_NE(co, nullptr);
        co->callinfo = callinfo;
        co->sm = statemachine_create(co, SM_INACTIVE, rows, (int32_t)std::size(rows), send_nothing, nullptr);
        co->sm_state = SM_INACTIVE;
        return co;
    }
    void run(call_object *co, int32_t event)
    {
        lock_hold hold(&lock_manager::global_lock);
        do_statemachine_run(co, event, 0);
    }
    void end_machine(call_object *co)
    {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
    }
    // The call back to the pool.
    void release(call_object *co)
    {
        end_machine(co);
        lock_hold hold(&lock_manager::global_lock);
        reset_op(co);
    }
    void drop_tasks()
    {
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
    }
    call_statistics &cs() { return gp->callstat; }

    LogFuncMessage old_notice_ = nullptr;
    int32_t old_enabled_ = 0;
};

// Connected durations of 9 and 10 seconds, a port in its own slot and one
// beyond the arrays in slot 0.
TEST_F(SmRun, ConnectedCallsCountByDurationAndPort)
{
    const struct {
        int seconds, port, slot;
        uint32_t short_calls;
    } cases[] = {{9, 9, 9, 1}, {10, 9, 9, 0}, {9, 40, 0, 1}};
    for (const auto &c : cases) {
        call_statistics_reset();
        call_object *co = new_call(CI_ANALOG_TO_SIP);
        co->analog_port = c.port;
        run(co, E_CONNECT);
        EXPECT_EQ(co->sm_state, (uint32_t)SM_CALL_ACTIVE);
        EXPECT_EQ(cs().counter_pstn_to_sip_connected, 1u);
        EXPECT_EQ(cs().counter_analog_to_sip_connected_port[c.slot], 1u);
        EXPECT_EQ(co->cdr.connect_start, co->connect_start);
        co->connect_start -= c.seconds;
        run(co, E_BYE);
        EXPECT_EQ(co->sm_state, (uint32_t)SM_DISMANTLING);
        EXPECT_EQ(cs().counter_pstn_to_sip_connected_finished, 1u) << c.seconds;
        EXPECT_EQ(cs().counter_analog_to_sip_connected_finished_port[c.slot], 1u) << c.slot;
        EXPECT_EQ(cs().counter_pstn_to_sip_connected_finished_less_than_10_seconds, c.short_calls) << c.seconds;
        EXPECT_EQ(cs().counter_analog_to_sip_connected_finished_less_than_10_seconds_port[c.slot], c.short_calls);
        EXPECT_EQ(cs().total_seconds_pstn_to_sip, (uint32_t)c.seconds);
        EXPECT_EQ(cs().total_seconds_analog_to_sip_port[c.slot], (uint32_t)c.seconds);
        EXPECT_EQ(co->cdr.connect_stop, co->connect_stop);
        EXPECT_EQ(cs().counter_pstn_to_sip_finished, 0u);
        run(co, E_CLEANUP);
        EXPECT_EQ(cs().counter_pstn_to_sip_finished, 1u);
        EXPECT_EQ(cs().counter_analog_to_sip_finished_port[c.slot], 1u);
        release(co);
    }
}

// The first force-T.38 delay (milliseconds) arms the timer on connect; a
// delay of 0 arms none.
TEST_F(SmRun, ForceT38TimerOnConnect)
{
    const struct {
        uint32_t ms;
        long sec, usec; // -1: no timer
    } cases[] = {{0, -1, -1}, {1500, 1, 500000}, {2000, 2, 10000}, {5, 0, 10000}};
    for (const auto &c : cases) {
        call_object *co = new_call(CI_SIP_TO_SIP);
        co->cc.force_t38_reinvite.count = 1;
        co->cc.force_t38_reinvite.times[0] = c.ms;
        run(co, E_CONNECT);
        if (c.sec < 0) {
            EXPECT_EQ(co->force_t38_timer, nullptr) << c.ms;
        } else {
            ASSERT_NE(co->force_t38_timer, nullptr) << c.ms;
            EXPECT_EQ(co->force_t38_timer->tv.tv_sec, c.sec) << c.ms;
            EXPECT_EQ(co->force_t38_timer->tv.tv_usec, c.usec) << c.ms;
            EXPECT_EQ(co->force_t38_timer->event, T_EVENT_FORCE_T38);
        }
        release(co);
    }
}

// A registration task code runs its word on the registration's machine; a
// registration that leaves SM_SIP_REGISTRATION_SUCCESSFUL notes when.
TEST_F(SmRun, RegistrationTasksRunTheirWords)
{
    static const statemachine_transition reg_rows[] = {
        {SM_SIP_REGISTRATION_SUCCESSFUL, SM_WORD_REGISTER_408, SM_SIP_REGISTRATION_FAILED, SM_NO_EVENT, nullptr},
        {SM_ANY, SM_ANY, SM_KEEP_STATE, SM_NO_EVENT, sm_reg_list_unhandled_reg},
    };
    static reg_object ro; // zero
    ro.sm = statemachine_create(&ro, SM_SIP_REGISTRATION_SUCCESSFUL, reg_rows, 2, send_nothing, nullptr);
    debug_lines log({TARN});
    add_sm_task_reg(&ro, SM_REG_TASK_REG_REFRESH);
    add_sm_task_reg(&ro, SM_REG_TASK_REGISTER_408);
    EXPECT_EQ(sm_run_pending_tasks(), 2);
    EXPECT_EQ(log.count("STATEMACHINE IGNORING TIMER-EVENT for ro "), 1);
    EXPECT_EQ(log.count("-- SM_SIP_REGISTRATION_SUCCESSFUL -- T_EVENT_REG_REFRESH(0) [2:1025]"), 1);
    EXPECT_TRUE(log.has("[NUA_R_REGISTER:408] SM_SIP_REGISTRATION_SUCCESSFUL => SM_SIP_REGISTRATION_FAILED"));
    EXPECT_EQ(ro.sm_state, (uint32_t)SM_SIP_REGISTRATION_FAILED);
    EXPECT_NE(ro.last_time_registration_successful, 0);
    statemachine_destroy(ro.sm);
    ro.sm = nullptr;
}

// "CALL ENDED" once on both end paths, the first ending source kept, no
// line and no finished counter with no_cdr.
TEST_F(SmRun, CallEndedOnceWithTheFirstSource)
{
    call_statistics_reset();
    call_object *via_dismantling = new_call(CI_SIP_TO_SIP);
    call_object *straight = new_call(CI_SIP_TO_SIP);
    call_object *silent = new_call(CI_SIP_TO_SIP);
    silent->f.no_cdr = 1;
    for (call_object *co : {via_dismantling, straight, silent})
        run(co, E_CONNECT);
    EXPECT_EQ(cs().counter_sip_to_sip_connected, 3u);

    run(via_dismantling, E_BYE);
    run(via_dismantling, E_CLEANUP);
    run(straight, E_CLEANUP);
    run(silent, E_BYE);
    run(silent, E_CLEANUP);
    EXPECT_EQ(count_notices("CALL ENDED: PID " + std::to_string(via_dismantling->pid)), 1);
    EXPECT_EQ(count_notices("CALL ENDED: PID " + std::to_string(straight->pid)), 1);
    EXPECT_EQ(count_notices("CALL ENDED: PID " + std::to_string(silent->pid)), 0);
    EXPECT_EQ(cs().counter_sip_to_sip_finished, 2u);
    EXPECT_EQ(cs().counter_sip_to_sip_connected_finished, 3u);
    EXPECT_EQ(cs().max_concurrent_calls, 3u);
    // The BYE ended the first call; the cleanup timer after it is not its cause.
    EXPECT_EQ(via_dismantling->cdr.terminated_by, 1);
    EXPECT_EQ(via_dismantling->cdr.tc_incoming_event, (int)nua_i_bye);
    EXPECT_EQ(via_dismantling->cdr.tc_incoming_status, 0);
    EXPECT_EQ(straight->cdr.terminated_by, 0); // a timer
    EXPECT_EQ(straight->cdr.tc_incoming_event, (int)T_EVENT_CLEANUP);
    EXPECT_EQ(silent->cdr.terminated_by, 7);
    for (call_object *co : {via_dismantling, straight, silent}) {
        release(co);
    }
}

TEST_F(SmRun, UnchangedStateStillLogsTheStep)
{
    call_object *co = new_call(CI_SIP_TO_SIP);
    debug_lines log({TARN});
    run(co, E_BYE); // no row in SM_INACTIVE: the catch-all
    EXPECT_TRUE(log.has("[NUA_I_BYE:0] SM_INACTIVE => SM_INACTIVE")) << ::testing::PrintToString(log.lines());
    EXPECT_EQ(log.count("STATEMACHINE IGNORING SIP-EVENT for co "), 1);
    EXPECT_EQ(log.count("-- SM_INACTIVE -- NUA_I_BYE(0) [1:9]"), 1);
    release(co);
}

// Two tasks queued by one action run after that run, in their order; a
// task for a call whose run destroyed it finds no machine.
TEST_F(SmRun, TasksRunInOrderAfterTheRunThatQueuedThem)
{
    call_object *co = new_call(CI_SIP_TO_SIP);
    add_sm_task(co, E_QUEUE_TWO);
    EXPECT_EQ(sm_run_pending_tasks(), 1);
    EXPECT_EQ(seen, (std::vector<int32_t>{E_QUEUE_TWO}));
    EXPECT_EQ(sm_run_pending_tasks(), 2);
    EXPECT_EQ(seen, (std::vector<int32_t>{E_QUEUE_TWO, E_FIRST, E_SECOND}));

    debug_lines log({TARN});
    add_sm_task(co, E_CONNECT);
    add_sm_task(co, E_CLEANUP); // to SM_DESTROYING: machine gone, object reset
    add_sm_task(co, E_BYE);
    EXPECT_EQ(sm_run_pending_tasks(), 3);
    EXPECT_EQ(co->sm, nullptr);
    EXPECT_EQ(co->callinfo, 0);
    EXPECT_EQ(log.count("calling reset_op for "), 1);
    EXPECT_TRUE(log.has("call object sm==NULL!"));

    add_sm_task(nullptr, E_BYE);
    EXPECT_EQ(sm_run_pending_tasks(), 1);
    EXPECT_TRUE(log.has("CRITICAL: call object==NULL!"));
}

// A console FINISH_CALL queued for one call must not end the next call
// that takes the same object.
TEST_F(SmRun, StaleCheckPidTaskIsDropped)
{
    static const statemachine_transition finish_rows[] = {
        {SM_ANY, SM_WORD_FINISH_CALL, SM_DISMANTLING, SM_NO_EVENT, nullptr},
    };
    call_object *co = new_call(CI_SIP_TO_SIP);
    statemachine_destroy(co->sm);
    co->sm = statemachine_create(co, SM_CALL_ACTIVE, finish_rows, 1, send_nothing, nullptr);
    add_sm_task_check_pid(co, SM_WORD_FINISH_CALL);
    co->pid += 1; // the object now carries another call
    debug_lines log({TARN});
    EXPECT_EQ(sm_run_pending_tasks(), 1);
    EXPECT_EQ((uint32_t)statemachine_get_state(co->sm), (uint32_t)SM_CALL_ACTIVE);
    EXPECT_EQ(co->special_termination_reason, 0);
    EXPECT_EQ(log.count("dropping task"), 1);

    add_sm_task_check_pid(co, SM_WORD_FINISH_CALL); // the current call
    EXPECT_EQ(sm_run_pending_tasks(), 1);
    EXPECT_EQ((uint32_t)statemachine_get_state(co->sm), (uint32_t)SM_DISMANTLING);
    EXPECT_EQ(co->special_termination_reason, 1);
    EXPECT_EQ(co->f.dismantling, 1u); // the runner armed the dismantling timer
    EXPECT_NE(co->timer, nullptr);
    sm_run_pending_tasks();
    release(co);
}

// The SIP timers: 9200 among the failover causes gives 1001 only with a
// failover proxy or dial-plan go-on.
TEST_F(SmRun, SipTimerExpiryChoosesFailoverOrFinal)
{
    const struct {
        int causes[2];
        const char *proxy;
        bool go_on;
        int32_t word;
    } cases[] = {
        {{9200, 0}, "10.1.1.1", false, (int32_t)0x13e9001f},
        {{9200, 0}, "", true, (int32_t)0x13e9001f},
        {{9200, 0}, "", false, (int32_t)0x13e8001f},
        {{503, 9180}, "10.1.1.1", false, (int32_t)0x13e8001f},
    };
    for (const auto &c : cases) {
        call_object *co = new_call(CI_SIP_TO_SIP);
        call_leg_sip leg{};
        co->cl_sip = &leg;
        co->cc.sip_failover_causes[0] = c.causes[0];
        co->cc.sip_failover_causes[1] = c.causes[1];
        co->cc.sip_failover_causes_size = 2;
        snprintf(co->cc.sip_failover_proxy, sizeof co->cc.sip_failover_proxy, "%s", c.proxy);
        co->cc.dialplan_go_on = c.go_on;
        kv_timer t{};
        co->sip_t200_timer = &t;
        EXPECT_EQ(cb_timer_event(T_EVENT_SIP_T200_TIMEOUT, &t), 0);
        EXPECT_EQ(leg.last_nua_status_code, 9200);
        ASSERT_NE(gp->smrunlist->first, nullptr);
        EXPECT_EQ(gp->smrunlist->first->event, c.word) << c.proxy << c.go_on;
        EXPECT_EQ(gp->smrunlist->first->co, co);
        co->sip_t200_timer = nullptr;
        co->cl_sip = nullptr;
        drop_tasks();
        release(co);
    }
}

// Rows of the timer table: which words they queue and what they return.
TEST_F(SmRun, TimerCallbackQueuesTheOwnersWord)
{
    call_object *co = new_call(CI_SIP_TO_SIP);
    kv_timer t{}, flush{}, stray{};
    co->timer = &t;
    co->feature_code_flush_timer = &flush;
    auto queued = [&] {
        std::vector<int32_t> v;
        for (sm_run_info *i = gp->smrunlist ? gp->smrunlist->first : nullptr; i; i = i->list)
            v.push_back(i->event);
        drop_tasks();
        return v;
    };
    EXPECT_EQ(cb_timer_event(T_EVENT_CLEANUP, &t), 0);
    EXPECT_EQ(queued(), (std::vector<int32_t>{0x20000403}));
    EXPECT_EQ(cb_timer_event(T_EVENT_FEATURE_TIMER_FLUSH, &flush), 1); // empty buffer: nothing
    EXPECT_TRUE(queued().empty());
    snprintf(co->feature_code_flush_buffer, sizeof co->feature_code_flush_buffer, "*7");
    EXPECT_EQ(cb_timer_event(T_EVENT_FEATURE_TIMER_FLUSH, &flush), 1);
    EXPECT_EQ(queued(), (std::vector<int32_t>{sm_timer(T_EVENT_FEATURE_TIMER_FLUSH)}));
    {
        debug_lines log({TARN});
        EXPECT_EQ(cb_timer_event(T_EVENT_DIALING, &stray), 0);
        EXPECT_EQ(log.count("couldn't find call object for timer"), 1);
        EXPECT_EQ(cb_timer_event(T_EVENT_DIALING, &t), 0); // a SIP call without B-channel
        EXPECT_EQ(log.count("hasn't got a bchannel"), 1);
    }
    EXPECT_TRUE(queued().empty());
    co->callinfo = CI_SIP_TO_ANALOG;
    EXPECT_EQ(cb_timer_event(T_EVENT_DIALING, &t), 0);
    EXPECT_EQ(queued(), (std::vector<int32_t>{sm_timer(T_EVENT_DIALING)}));
    end_machine(co); // no machine: nothing queued
    EXPECT_EQ(cb_timer_event(T_EVENT_CLEANUP, &t), 0);
    EXPECT_TRUE(queued().empty());
    co->timer = nullptr;
    co->feature_code_flush_timer = nullptr;
    co->callinfo = CI_SIP_TO_SIP;
    lock_hold hold(&lock_manager::global_lock);
    reset_op(co);
}

TEST_F(SmRun, FinishCallReportsAndQueues)
{
    call_object *co = new_call(CI_SIP_TO_SIP);
    int index = get_index_of_operation(co);
    char *text = nullptr;
    size_t size = 0;
    FILE *fp = open_memstream(&text, &size);
    finish_call(fp, -1, 1);
    finish_call(fp, OPERATIONARRAYSIZE, 1);
    finish_call(fp, index + 1, 1);
    finish_call(fp, index, 3);
    finish_call_by_pid(fp, co->pid);
    finish_call_by_pid(fp, 777777);
    fclose(fp);
    std::string want = "Call index -1 is out ouf bounds\nCall index " + std::to_string(OPERATIONARRAYSIZE) +
                       " is out ouf bounds\nCall at index " + std::to_string(index + 1) +
                       " is not active\nTerminating call at index " + std::to_string(index) +
                       " (from 3)\nTerminating call at index " + std::to_string(index) + " (pid " +
                       std::to_string(co->pid) + ")\nCouldn't find call with pid 777777\n";
    EXPECT_EQ(text, want);
    free(text);
    int n = 0;
    for (sm_run_info *i = gp->smrunlist->first; i; i = i->list, n++)
        EXPECT_EQ(i->event, 0x30001002);
    EXPECT_EQ(n, 2);

    call_leg_sip leg{};
    snprintf(leg.rtp_remote_ip, sizeof leg.rtp_remote_ip, "192.0.2.7");
    leg.rtp_remote_port = 4000;
    co->cl_sip = &leg;
    drop_tasks();
    int ports[] = {3000, 4000};
    finish_all_calls_by_remote_ip("192.0.2.8");
    finish_all_calls_by_remote_ip("");
    finish_all_calls_by_remote_ip_and_port("192.0.2.7", ports, 1);
    EXPECT_TRUE(!gp->smrunlist || !gp->smrunlist->first);
    finish_all_calls_by_remote_ip_and_port("192.0.2.7", ports, 2);
    finish_all_calls_by_remote_ip("192.0.2.7");
    {
        lock_hold hold(&lock_manager::global_lock);
        finish_call_by_remote_ip_and_port("192.0.2.7", 4000);
        finish_call_by_remote_ip_and_port("192.0.2.7", 4001);
    }
    n = 0;
    for (sm_run_info *i = gp->smrunlist->first; i; i = i->list)
        n += i->co == co;
    EXPECT_EQ(n, 3);
    co->cl_sip = nullptr;
    drop_tasks();
    release(co);
}

// The runner thread: named, runs what is queued, ends once told to stop.
TEST_F(SmRun, RunnerThreadRunsTasksAndEndsOnStop)
{
    auto eventually = [](const std::function<bool()> &cond) {
        for (int i = 0; i < 2500; i++) {
            if (cond())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    };
    call_object *co = new_call(CI_SIP_TO_SIP);
    ASSERT_EQ(start_sm_helper(), 0);
    EXPECT_TRUE(eventually([] { return count_threads("tarn.smhelper") == 1; }));
    add_sm_task(co, E_CONNECT);
    EXPECT_TRUE(eventually([&] {
        lock_hold hold(&lock_manager::global_lock);
        return co->sm_state == (uint32_t)SM_CALL_ACTIVE;
    }));
    stop_threads();
    join_sm_helper();
    EXPECT_EQ(count_threads("tarn.smhelper"), 0);
    EXPECT_EQ(gp->run_sm_helper, 0);
    release(co);
}

} // namespace
