// ISDN events into call control without the library's threads: the
// messages the callback and the senders hand to the library are recorded.
// The edge cases of the callback (start-up not complete, RESTART by
// channel, DISCONNECT without a call, the history ring, RELEASE COMPLETE,
// the DISCONNECT cause with and without ie_on_sip, the dismantling timer,
// the diversion-request states, the log filter), the counters over the
// pool and the layer pulling of port groups.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <utility>
#include <vector>

#include "application.h"
#include "callctl_world.h"
#include "call_reset.h"
#include "causes.h"
#include "cause_map.h"
#include "debug_lines.h"
#include "global_lock.h"
#include "isdn_events.h"
#include "isdn_lib.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "pools.h"
#include "reg_object.h"
#include "sm_defs.h"
#include "state_names.h"
#include "timer.h"

namespace {

// What went to the library: (event, port, channel, out_cause).
struct sent_msg {
    event_e event;
    int port, channel, out_cause;
    bool operator==(const sent_msg &o) const
    {
        return event == o.event && port == o.port && channel == o.channel && out_cause == o.out_cause;
    }
};
std::vector<sent_msg> sent;
int record_send(misdn_bchannel *bc, event_e event)
{
    sent.push_back({event, bc->port, bc->channel, bc->out_cause});
    return 0;
}

std::vector<misdn_bchannel *> admitted;
int admit_nothing(misdn_bchannel *bc)
{
    admitted.push_back(bc);
    return RESPONSE_OK;
}

// A machine whose DISCONNECT leads to SM_DISMANTLING and RELEASE to
// SM_DESTROYING, and whose BYE word sends DISCONNECT with cause 16.
const statemachine_transition rows[] = {
    /* 1 */ {SM_ANY, sm_isdn(0, EVENT_DISCONNECT), SM_DISMANTLING, SM_NO_EVENT, nullptr},
    /* 2 */ {SM_ANY, sm_isdn(0, EVENT_RELEASE), SM_DESTROYING, SM_NO_EVENT, nullptr},
    /* 3 */ {SM_ANY, sm_general(GENERAL_EVENT_FINISH_CALL), SM_KEEP_STATE, sm_out(16, EVENT_DISCONNECT),
             nullptr},
    /* 4 */ {SM_ANY, SM_ANY, SM_KEEP_STATE, SM_NO_EVENT, nullptr},
};

class IsdnEvents : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(callctl_world(6));
        gp->init_lock = 1;
        sent.clear();
        admitted.clear();
        isdn_events_set_library_send(record_send);
        isdn_events_hooks h{};
        h.init_incoming_isdn_call = admit_nothing;
        isdn_events_set_hooks(&h);
        call_reset_hooks r{};
        r.tarn_misdn_lib_send_event = [](call_object *co, int event) {
            tarn_misdn_lib_send_event(co, event);
            return 0;
        };
        call_reset_set_hooks(&r);
    }
    void TearDown() override
    {
        for (int i = 0; i < OPERATIONARRAYSIZE; i++) {
            call_object *co = gp->operations[i];
            if (co && co->callinfo != CI_FREE)
                release(co);
        }
        for (misdn_bchannel *bc : bcs_)
            delete bc;
        isdn_events_set_library_send(nullptr);
        call_reset_clear_hooks();
        timer_exit();
    }

    misdn_bchannel *bc(int port, int channel, int pid = 0)
    {
        misdn_bchannel *b = new misdn_bchannel{};
        b->port = port;
        b->channel = channel;
        b->pid = pid;
        b->fac_in.Function = Fac_None;
        bcs_.push_back(b);
        return b;
    }
    // A call on the B-channel, with the test machine or none.
    call_object *call(misdn_bchannel *b, bool machine = true)
    {
        call_object *co = get_free_operation_handle(1);
        EXPECT_NE(co, nullptr);
        co->callinfo = CI_ISDN_TO_SIP;
        co->bc = b;
        co->bc_port = b->port;
        co->dismantling_timeout = 30;
        co->counteri = 2; // as admission leaves it
        if (machine)
            co->sm = statemachine_create(co, SM_INACTIVE, rows, (int32_t)std::size(rows), tarn_send_event, nullptr);
        return co;
    }
    void release(call_object *co)
    {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
        co->bc = nullptr;
        lock_hold hold(&lock_manager::global_lock);
        reset_op(co);
    }
    event_response_e event(event_e e, misdn_bchannel *b)
    {
        lock_hold hold(&lock_manager::global_lock);
        return isdn_cb_events(e, b, nullptr);
    }

    std::vector<misdn_bchannel *> bcs_;
};

// Before start-up has completed a SETUP is logged with module SIP and
// answered RESPONSE_OK; no call is admitted.
TEST_F(IsdnEvents, SetupBeforeStartUpIsIgnored)
{
    debug_lines log({SIP});
    gp->init_lock = 0;
    EXPECT_EQ(event(EVENT_SETUP, bc(3, 1)), RESPONSE_OK);
    EXPECT_TRUE(admitted.empty());
    EXPECT_EQ(log.count(std::string("TARN not initialized completely, ignoring ISDN event ") +
                        print_event(EVENT_SETUP) + " on port 3"),
              1);
    gp->init_lock = 1;
    EXPECT_EQ(event(EVENT_SETUP, bc(3, 1)), RESPONSE_OK);
    EXPECT_EQ(admitted.size(), 1u);
}

// RESTART: channel 0 or a negative one releases every call of the port,
// channel 5 only the call on channel 5; the restart channel goes before
// the record's channel. Calls of other ports stay.
TEST_F(IsdnEvents, RestartReleasesTheCallsOfItsChannelOrPort)
{
    const struct {
        int restart_channel, channel;
        std::vector<int> released; // channels of port 1
    } cases[] = {
        {0, 0, {1, 5, 2}}, {0, -1, {1, 5, 2}}, {-1, -1, {1, 5, 2}}, {5, 0, {5}}, {0, 5, {5}}, {3, 5, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "restart channel " << c.restart_channel << " channel " << c.channel);
        std::vector<call_object *> calls = {call(bc(1, 1)), call(bc(1, 5)), call(bc(2, 1)), call(bc(1, 2))};
        sent.clear();
        misdn_bchannel *r = bc(1, c.channel);
        r->restart_channel = c.restart_channel;
        EXPECT_EQ(event(EVENT_RESTART, r), RESPONSE_IGNORE_SETUP_WITHOUT_CLOSE);
        std::vector<sent_msg> want;
        for (int ch : c.released)
            want.push_back({EVENT_RELEASE_COMPLETE, 1, ch, 0});
        EXPECT_EQ(sent, want);
        for (call_object *co : calls)
            release(co);
    }
}

// An event for a B-channel without a call: a DISCONNECT is answered with
// RELEASE, anything else only logged.
TEST_F(IsdnEvents, DisconnectWithoutCallIsAnsweredRelease)
{
    debug_lines log({ISDN}, true);
    misdn_bchannel *b = bc(2, 1, 4711);
    EXPECT_EQ(event(EVENT_ALERTING, b), RESPONSE_OK);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(event(EVENT_DISCONNECT, b), RESPONSE_OK);
    EXPECT_EQ(sent, (std::vector<sent_msg>{{EVENT_RELEASE, 2, 1, 0}}));
    EXPECT_TRUE(log.has(std::string("CID:004711:p2|ignoring isdn event ") + print_event(EVENT_DISCONNECT) +
                        " -- co==NULL"));
}

// Received messages: slots stamped with the running counter, five of them
// enter the 12-entry history (the 13th overwrites the first, the size goes
// on), RELEASE COMPLETE is traced without a slot, and the machine-less call
// is only logged.
TEST_F(IsdnEvents, ReceivedMessagesInSlotsHistoryAndTrace)
{
    debug_lines log({TARN});
    misdn_bchannel *b = bc(1, 2, 17);
    b->cause = 31;
    call_object *co = call(b, false);
    co->pid = 17;
    co->counteri = 2;
    for (int i = 0; i < 3; i++)
        for (event_e e : {EVENT_SETUP_ACKNOWLEDGE, EVENT_PROCEEDING, EVENT_PROGRESS, EVENT_ALERTING})
            event(e, b);
    EXPECT_EQ(co->isdn_event_history_size, 12);
    EXPECT_EQ(co->isdn_event_history[0], LEGI_SETUP_ACKNOWLEDGE);
    event(EVENT_CONNECT, b);
    EXPECT_EQ(co->isdn_event_history_size, 13);
    EXPECT_EQ(co->isdn_event_history[0], LEGI_CONNECT);
    EXPECT_EQ(co->isdn_event_history[1], LEGI_PROCEEDING);
    EXPECT_EQ(co->legi->events_received[LEGI_ALERTING], 2 + 11);
    EXPECT_EQ(co->legi->events_received[LEGI_CONNECT], 2 + 12);
    EXPECT_EQ(co->counteri, 2 + 13);

    event(EVENT_RELEASE_COMPLETE, b);
    EXPECT_EQ(co->counteri, 2 + 13) << "no slot for RELEASE COMPLETE";
    EXPECT_EQ(co->legi->events_received[LEGI_RELEASE_COMPLETE], 0);
    EXPECT_EQ(co->isdn_event_history_size, 13);
    event(EVENT_DISCONNECT, b);
    EXPECT_EQ(co->legi->events_received[LEGI_DISCONNECT], 2 + 13);
    EXPECT_EQ(co->isdn_event_history_size, 13) << "no history entry for DISCONNECT";
    EXPECT_EQ(log.count("VERBOSEMSG: I SETUP_PROCEEDING|INDICATION|CID=00017"), 3);
    EXPECT_EQ(log.count("VERBOSEMSG: I CONNECT|INDICATION|CID=00017"), 1);
    EXPECT_EQ(log.count(std::string("VERBOSEMSG: I RELEASE_COMPLETE|INDICATION|CID=00017<br>cause=31 (") +
                        print_isdn_cause(31) + ")"),
              1);
    EXPECT_EQ(log.count("-- co->sm==NULL"), 15);
    EXPECT_TRUE(sent.empty());
}

// A DISCONNECT sent by the machine's row after a SIP final answer of 486:
// with ie_on_sip and a current SIP message the cause map's cause for 486,
// otherwise the status bits of the row.
TEST_F(IsdnEvents, DisconnectCauseFromTheCauseMapWithIeOnSip)
{
    char path[] = "/tmp/tarn-isdn-events-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE *f = fdopen(fd, "w");
    fputs("ISDN\tSIP\t486\t21\n", f);
    fclose(f);
    ASSERT_EQ(parse_causes_map(path), 0);
    unlink(path);

    alignas(16) static char message[4096] = {}; // a SIP message without extension headers
    const struct {
        int ie_on_sip;
        bool message;
        int status, want;
    } cases[] = {{1, true, 486, 21}, {0, true, 486, 16}, {1, false, 486, 16}, {1, true, 200, 16}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "ie_on_sip " << c.ie_on_sip << " status " << c.status);
        call_object *co = call(bc(1, 1));
        co->cc.ie_on_sip = c.ie_on_sip;
        co->cl_sip = get_new_sip_call_leg();
        ASSERT_NE(co->cl_sip, nullptr);
        co->cl_sip->last_nua_status_code = c.status;
        co->cl_sip->tmpsip = c.message ? (const sip_s *)message : nullptr;
        co->bc->out_cause = 99;
        sent.clear();
        {
            lock_hold hold(&lock_manager::global_lock);
            statemachine_run(co->sm, sm_general(GENERAL_EVENT_FINISH_CALL), nullptr);
        }
        EXPECT_EQ(sent, (std::vector<sent_msg>{{EVENT_DISCONNECT, 1, 1, c.want}}));
        EXPECT_EQ(co->legi->events_sent[LEGI_DISCONNECT], 2);
        EXPECT_EQ(co->counteri, 3);
        co->cl_sip->tmpsip = nullptr;
        release(co);
    }
    // status 0 keeps the cause the B-channel holds
    call_object *co = call(bc(1, 1));
    co->bc->out_cause = 34;
    tarn_send_event(co, nullptr, sm_out(0, EVENT_DISCONNECT));
    EXPECT_EQ(sent.back().out_cause, 34);
    // nothing without a B-channel, nor for a registration's object
    sent.clear();
    co->bc = nullptr;
    EXPECT_EQ(tarn_send_event(co, nullptr, sm_out(16, EVENT_DISCONNECT)), 0);
    tarn_misdn_lib_send_event(co, EVENT_RELEASE);
    reg_object ro{};
    ro.callinfo = CI_REGISTER;
    EXPECT_EQ(tarn_send_event(&ro, nullptr, sm_out(16, EVENT_DISCONNECT)), 0);
    EXPECT_TRUE(sent.empty());
}

// Two runs that end in SM_DISMANTLING arm the dismantling timer once; a run
// that ends in SM_DESTROYING resets the call object.
TEST_F(IsdnEvents, DismantlingTimerOnceAndResetOnDestroying)
{
    debug_lines log({TARN});
    misdn_bchannel *b = bc(1, 1);
    call_object *co = call(b);
    int index = co->index;
    EXPECT_EQ(event(EVENT_DISCONNECT, b), RESPONSE_OK);
    ASSERT_NE(co->timer, nullptr);
    kv_timer *first = co->timer;
    EXPECT_EQ(first->event, T_EVENT_CLEANUP);
    EXPECT_EQ(first->tv.tv_sec, 30);
    EXPECT_EQ(event(EVENT_DISCONNECT, b), RESPONSE_OK);
    EXPECT_EQ(co->timer, first);
    EXPECT_EQ(log.count("Starting dismantling timer with 30 seconds"), 1);

    b->cause = 16;
    EXPECT_EQ(event(EVENT_RELEASE, b), RESPONSE_OK);
    EXPECT_EQ(co->sm, nullptr);
    EXPECT_EQ(co->callinfo, CI_FREE) << "the object is back in the pool";
    EXPECT_EQ(co->timer, nullptr);
    char line[64];
    snprintf(line, sizeof line, "calling reset_op for %p (index %i)", (void *)co, index);
    EXPECT_EQ(log.count(line), 1);
    // the reset saw the RELEASE: nothing more goes out
    EXPECT_TRUE(sent.empty());
}

// The diversion-request state of a port after a facility outside a call,
// for every row and answer; ports 0 and below, and above 32, change nothing.
TEST_F(IsdnEvents, DiversionRequestStates)
{
    const struct {
        int from;
        FacFunction function;
        int to;
    } cases[] = {
        {5, Fac_ReturnResult, 8}, {5, Fac_ReturnError, 7}, {5, Fac_Reject, 7},  {5, Fac_None, 6},
        {6, Fac_ReturnResult, 8}, {6, Fac_None, 6},        {6, Fac_CD, 6},      {5, Fac_CD, 6},
        {1, Fac_ReturnResult, 4}, {2, Fac_ReturnError, 3}, {1, Fac_None, 2},    {9, Fac_ReturnResult, 11},
        {10, Fac_Reject, 12},     {13, Fac_ReturnResult, 15}, {14, Fac_ReturnError, 16},
        {0, Fac_ReturnResult, 0}, {4, Fac_ReturnError, 4}, {3, Fac_None, 3},    {16, Fac_ReturnResult, 16},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " function " << c.function);
        misdn_bchannel *b = bc(7, 1);
        b->fac_in.Function = c.function;
        gp->cf_facility_in_progress[7] = c.from;
        EXPECT_EQ(event(EVENT_FACILITY, b), RESPONSE_OK);
        EXPECT_EQ(gp->cf_facility_in_progress[7], c.to);
        gp->cf_facility_in_progress[7] = c.from;
        EXPECT_EQ(event(EVENT_REGISTER, b), RESPONSE_OK);
        EXPECT_EQ(gp->cf_facility_in_progress[7], c.to);
    }
    misdn_bchannel *none = bc(0, 1);
    none->fac_in.Function = Fac_ReturnResult;
    gp->cf_facility_in_progress[0] = 5;
    EXPECT_EQ(handle_global_facility(none), RESPONSE_OK);
    EXPECT_EQ(gp->cf_facility_in_progress[0], 5);
    // a port beyond the 32 of the table is not written (no neighbour field)
    misdn_bchannel *far = bc(40, 1);
    far->fac_in.Function = Fac_ReturnResult;
    EXPECT_EQ(handle_global_facility(far), RESPONSE_OK);
    EXPECT_TRUE(sent.empty());
}

// The log callback: network messages (0x40), messages (0x10, 0x20) and
// debug lines by level; above 40 without one of those bits nothing is
// written (40 and 41 themselves carry 0x20: messages), and the filter
// answers exactly as the callback writes.
std::vector<std::string> written;
void keep_debug(int, int, const char *, int, const char *, const char *tag, const char *format, va_list ap)
{
    char text[256];
    vsnprintf(text, sizeof text, format, ap);
    written.push_back(std::string("D|") + tag + "|" + text);
}
void keep_message(int level, int, const char *, int, const char *format, va_list ap)
{
    char text[256];
    vsnprintf(text, sizeof text, format, ap);
    written.push_back("M" + std::to_string(level) + "|" + text);
}

TEST_F(IsdnEvents, LogCallbackByLevel)
{
    LogFuncDebug old_debug = log_out_debug;
    LogFuncMessage old_message = log_out_message, old_nmessage = log_out_nmessage;
    log_set_log_handler_debug(keep_debug);
    log_set_log_handler_message(keep_message);
    log_set_log_handler_nmessage(keep_message);
    log_levels_debug_enabled = log_levels_message_enabled = log_levels_nmessage_enabled = 1;
    log_set_loglevel_debug(log_levels_debug, ISDN, 9);
    log_set_loglevel_message(ISDN, 9);
    const struct {
        int level;
        std::string want; // "" nothing
    } cases[] = {
        {1, "D|CID:000042:p3|text 1"},       {9, "D|CID:000042:p3|text 9"},
        {10, ""},                            {0x80, ""},
        {0x81, ""},                          {0x8f, ""},
        {0x90, "M144|CID:000042:p3 text 144"},
        {0x12, "M18|CID:000042:p3 text 18"}, {0x22, "M50|CID:000042:p3 text 34"},
        {41, "M57|CID:000042:p3 text 41"},   {0x45, "M5|CID:000042:p3 text 69"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.level);
        written.clear();
        chan_misdn_log(c.level, 3, 42, __FILE__, __LINE__, __func__, "text %d\n", c.level);
        EXPECT_EQ(written, c.want.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.want});
        EXPECT_EQ(chan_misdn_log_on(c.level, 3), written.empty() ? 0 : 1);
    }
    log_set_log_handler_debug(old_debug);
    log_set_log_handler_message(old_message);
    log_set_log_handler_nmessage(old_nmessage);
}

// Counters over the pool: calls in use on a port, and the maximum of
// concurrent calls raised only when the count passes it.
TEST_F(IsdnEvents, CallCountersOverThePool)
{
    gp->callstat.max_concurrent_calls = 1;
    call_object *a = call(bc(4, 1), false);
    EXPECT_EQ(update_max_concurrent_calls(), 0);
    call_object *b = call(bc(4, 2), false);
    call_object *c = call(bc(5, 1), false);
    EXPECT_EQ(has_active_isdn_call(4), 2);
    EXPECT_EQ(has_active_isdn_call(5), 1);
    EXPECT_EQ(has_active_isdn_call(6), 0);
    EXPECT_EQ(update_max_concurrent_calls(), 1);
    EXPECT_EQ(gp->callstat.max_concurrent_calls, 3u);
    EXPECT_EQ(update_max_concurrent_calls(), 0);
    release(b);
    EXPECT_EQ(has_active_isdn_call(4), 1);
    EXPECT_EQ(update_max_concurrent_calls(), 0);
    EXPECT_EQ(gp->callstat.max_concurrent_calls, 3u);
    release(a);
    release(c);
}

// A message sent for a call is counted in its slot (SETUP, CONNECT and the
// clearing messages without a trace line of their own), others go out
// uncounted.
TEST_F(IsdnEvents, SentMessagesCountedAndTraced)
{
    debug_lines log({TARN});
    call_object *co = call(bc(1, 1), false);
    co->pid = 5;
    co->counteri = 3;
    for (int e : {EVENT_SETUP, EVENT_PROCEEDING, EVENT_ALERTING, EVENT_FACILITY, EVENT_CONNECT, EVENT_RELEASE})
        tarn_misdn_lib_send_event(co, e);
    EXPECT_EQ(sent.size(), 6u);
    EXPECT_EQ(co->legi->events_sent[LEGI_SETUP], 3);
    EXPECT_EQ(co->legi->events_sent[LEGI_PROCEEDING], 4);
    EXPECT_EQ(co->legi->events_sent[LEGI_ALERTING], 5);
    EXPECT_EQ(co->legi->events_sent[LEGI_CONNECT], 6);
    EXPECT_EQ(co->legi->events_sent[LEGI_RELEASE], 7);
    EXPECT_EQ(co->counteri, 8);
    EXPECT_EQ(log.count("VERBOSEMSG: I PROCEEDING|REQUEST|CID=00005"), 1);
    EXPECT_EQ(log.count("VERBOSEMSG: I ALERTING|REQUEST|CID=00005"), 1);
    EXPECT_EQ(log.count("|REQUEST|"), 2);
    tarn_send_event(co, nullptr, sm_out(0, EVENT_CONNECT));
    EXPECT_EQ(log.count("VERBOSEMSG: I CONNECT|REQUEST|CID=00005"), 1);
}

// On the network side the first answer to a received SETUP names the
// B-channel: a CONNECT or PROGRESS that would come first (the far end was
// quicker than the dial plan's CALL PROCEEDING) goes after one. The user
// side, a call we set up, and a call already answered get nothing added.
TEST_F(IsdnEvents, NetworkSideAnswersSetupWithProceedingFirst)
{
    struct {
        const char *name;
        int nt;
        bool setup_received;
        std::vector<event_e> asked, wire;
    } cases[] = {
        {"CONNECT first", 1, true, {EVENT_CONNECT}, {EVENT_PROCEEDING, EVENT_CONNECT}},
        {"PROGRESS first", 1, true, {EVENT_PROGRESS, EVENT_CONNECT}, {EVENT_PROCEEDING, EVENT_PROGRESS, EVENT_CONNECT}},
        {"ALERTING names the channel itself", 1, true, {EVENT_ALERTING, EVENT_CONNECT}, {EVENT_ALERTING, EVENT_CONNECT}},
        {"after CALL PROCEEDING", 1, true, {EVENT_PROCEEDING, EVENT_CONNECT}, {EVENT_PROCEEDING, EVENT_CONNECT}},
        {"after SETUP ACKNOWLEDGE", 1, true, {EVENT_SETUP_ACKNOWLEDGE, EVENT_PROGRESS},
         {EVENT_SETUP_ACKNOWLEDGE, EVENT_PROGRESS}},
        {"user side", 0, true, {EVENT_CONNECT}, {EVENT_CONNECT}},
        {"no SETUP received", 1, false, {EVENT_PROGRESS}, {EVENT_PROGRESS}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        misdn_bchannel *b = bc(1, 1);
        b->nt = c.nt;
        call_object *co = call(b, false);
        if (c.setup_received)
            co->legi->events_received[LEGI_SETUP] = 1;
        sent.clear();
        for (event_e e : c.asked)
            tarn_misdn_lib_send_event(co, e);
        std::vector<event_e> wire;
        for (const sent_msg &m : sent)
            wire.push_back(m.event);
        EXPECT_EQ(wire, c.wire);
        release(co);
    }
}

} // namespace
