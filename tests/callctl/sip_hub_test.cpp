// The SIP event hub with real parsed messages: the event words of answers
// to an INVITE (failover causes, final errors, the wait-for-cancel 183),
// the dismantling timer armed once, stale and foreign handles, and the
// NOTIFY answers' effect on message waiting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_object.h"
#include "call_reset.h"
#include "misdn_bchannel.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "sip_hub.h"
#include "sm_events.h"
#include "sm_run.h"
#include "sm_tasks.h"
#include "timer.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/msg.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>

namespace {

std::vector<int32_t> words; // what the machine saw

SM_ACTION(record)
{
    (void)p, (void)arg, (void)state;
    words.push_back(event);
    return {SM_NO_DECISION, SM_ROW_EVENT};
}

const int32_t E_BYE = sm_sip(0, nua_i_bye);
const statemachine_transition rows[] = {
    {SM_SIP_INVITE_SENT, E_BYE, SM_DISMANTLING, SM_NO_EVENT, record},
    {SM_DISMANTLING, SM_ANY, SM_KEEP_STATE, SM_NO_EVENT, record},
    {SM_ANY, SM_ANY, SM_KEEP_STATE, SM_NO_EVENT, record},
};

int32_t send_nothing(void *, void *, int32_t) { return 0; }

// A parsed SIP message (the stack's default class), freed with the holder.
struct parsed {
    msg_t *msg = nullptr;
    explicit parsed(const std::string &text)
    {
        msg = msg_make(sip_default_mclass(), 0, text.data(), text.size());
    }
    ~parsed() { msg_destroy(msg); }
    sip_t const *sip() const { return msg ? sip_object(msg) : nullptr; }
};

std::string response(int status, const char *phrase, const std::string &extra = "")
{
    return "SIP/2.0 " + std::to_string(status) + " " + phrase +
           "\r\nVia: SIP/2.0/UDP 127.0.0.1:5060;branch=z9hG4bK1\r\nFrom: <sip:a@127.0.0.1>;tag=1\r\n"
           "To: <sip:b@127.0.0.2>;tag=2\r\nCall-ID: c1@127.0.0.1\r\nCSeq: 1 INVITE\r\n" +
           extra + "Content-Length: 0\r\n\r\n";
}

class SipHub : public ::testing::Test {
protected:
    void SetUp() override
    {
        application_create();
        init_locks();
        ASSERT_EQ(create_call_object_pools(4), 0);
        ASSERT_EQ(timer_list_new(), 0);
        gp->init_lock = 1;
        words.clear();
        memset(&leg_, 0, sizeof leg_);
        memset(&bc_, 0, sizeof bc_);
        memset(&pd_, 0, sizeof pd_);
        leg_.nh = handle();
    }
    void TearDown() override
    {
        sm_run_pending_tasks();
        timer_exit();
    }
    // A handle value the hub only compares.
    nua_handle_t *handle() { return reinterpret_cast<nua_handle_t *>(&handle_cookie_); }

    call_object *new_call(int callinfo, int state)
    {
        call_object *co = get_free_operation_handle(1);
        EXPECT_NE(co, nullptr);
        co->callinfo = callinfo;
        co->sm = statemachine_create(co, state, rows, (int32_t)std::size(rows), send_nothing, nullptr);
        co->sm_state = state;
        co->cl_sip = co->cl_sip_out = &leg_;
        return co;
    }
    void event(call_object *co, nua_event_t e, int status, const char *phrase, sip_t const *sip)
    {
        lock_hold hold(&lock_manager::global_lock);
        nua_event_callback_locked(e, status, phrase, nullptr, nullptr, handle(), (nua_hmagic_t *)co, sip, nullptr);
    }
    void release(call_object *co)
    {
        co->cl_sip = co->cl_sip_in = co->cl_sip_out = nullptr;
        co->bc = nullptr;
        if (co->sm)
            statemachine_destroy(co->sm);
        co->sm = nullptr;
        lock_hold hold(&lock_manager::global_lock);
        reset_op(co);
    }

    int handle_cookie_ = 0;
    call_leg_sip leg_;
    misdn_bchannel bc_;
    proxy_def pd_;
};

// The answers to an INVITE in SM_SIP_INVITE_SENT and the word each becomes.
TEST_F(SipHub, AnswersToAnInviteBecomeTheirEventWords)
{
    char failover[] = "backup";
    const struct {
        const char *what;
        int status;
        int buddies;      // call-group alternatives left
        bool pd_failover; // a proxy definition with a failover and a failover proxy
        bool go_on;       // dialplan_go_on
        int32_t word;
    } cases[] = {
        {"486 is a final error", 486, 0, false, false, sm_sip(1000, nua_r_invite)},
        {"484 stays plain", 484, 0, false, false, sm_sip(484, nua_r_invite)},
        {"407 stays plain", 407, 0, false, false, sm_sip(407, nua_r_invite)},
        {"503 with call-group alternatives", 503, 1, true, true, sm_sip(1003, nua_r_invite)},
        {"503 with a failover proxy", 503, 0, true, false, sm_sip(1001, nua_r_invite)},
        {"503 with only the dial plan's go-on", 503, 0, false, true, sm_general(GENERAL_EVENT_DIALPLAN_GO_ON)},
        {"503 with none of these", 503, 0, false, false, sm_sip(1000, nua_r_invite)},
        {"180 stays plain", 180, 0, false, false, sm_sip(180, nua_r_invite)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        words.clear();
        call_object *co = new_call(CI_ISDN_TO_SIP, SM_SIP_INVITE_SENT);
        co->cc.sip_failover_causes[0] = 503;
        co->cc.sip_failover_causes_size = 1;
        co->call_group_buddies_count = c.buddies;
        pd_.failover = c.pd_failover ? failover : nullptr;
        snprintf(co->cc.sip_failover_proxy, sizeof co->cc.sip_failover_proxy, "%s", c.pd_failover ? "10.0.0.9" : "");
        co->cc.dialplan_go_on = c.go_on;
        leg_.pd = (c.pd_failover || c.go_on) ? &pd_ : nullptr;
        parsed m(response(c.status, "Whatever"));
        ASSERT_NE(m.sip(), nullptr);
        event(co, nua_r_invite, c.status, "Whatever", m.sip());
        ASSERT_EQ(words.size(), 1u);
        EXPECT_EQ(words[0], c.word) << std::hex << words[0];
        EXPECT_EQ(leg_.last_nua_status_code, c.status);
        EXPECT_STREQ(leg_.last_nua_status_text, "Whatever");
        EXPECT_EQ(leg_.tmpsip, nullptr) << "the message is only the machine's while it runs";
        leg_.pd = nullptr;
        release(co);
    }
}

// A 183 with the wait-for-cancel header on a call from ISDN: cause 17 on the
// B-channel and the 1002 word instead of the plain 183; a value names the
// cause; without a B-channel the 183 stays plain.
TEST_F(SipHub, WaitForCancelHeaderOn183)
{
    const struct {
        const char *header;
        bool bc;
        int cause;
        int32_t word;
    } cases[] = {
        {"X-DV_WAIT_FOR_CANCEL\r\n", true, 17, sm_sip(0, SIP_EVENT_183_WAIT_FOR_CANCEL)},
        {"x-dv_wait_for_cancel: cause=34\r\n", true, 34, sm_sip(0, SIP_EVENT_183_WAIT_FOR_CANCEL)},
        {"X-DV_WAIT_FOR_CANCEL: cause=0\r\n", true, 17, sm_sip(0, SIP_EVENT_183_WAIT_FOR_CANCEL)},
        {"X-DV_WAIT_FOR_CANCEL: cause=34\r\n", false, 0, sm_sip(183, nua_r_invite)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.header);
        words.clear();
        memset(&bc_, 0, sizeof bc_);
        call_object *co = new_call(CI_ISDN_TO_SIP, SM_SIP_INVITE_SENT);
        co->bc = c.bc ? &bc_ : nullptr;
        std::string h = c.header;
        if (h.find(':') == std::string::npos)
            h.insert(h.size() - 2, ":");
        parsed m(response(183, "Session Progress", h));
        ASSERT_NE(m.sip(), nullptr);
        event(co, nua_r_invite, 183, "Session Progress", m.sip());
        ASSERT_EQ(words.size(), 1u);
        EXPECT_EQ(words[0], c.word) << std::hex << words[0];
        EXPECT_EQ(bc_.out_cause, c.cause);
        release(co);
    }
}

// Into SM_DISMANTLING: the dismantling timer is armed once; a second pass
// leaves the same timer.
TEST_F(SipHub, DismantlingTimerArmedOnce)
{
    call_object *co = new_call(CI_SIP_TO_ISDN, SM_SIP_INVITE_SENT);
    co->dismantling_timeout = 30;
    event(co, nua_i_bye, 0, "", nullptr);
    EXPECT_EQ(statemachine_get_state(co->sm), SM_DISMANTLING);
    ASSERT_TRUE(co->f.dismantling);
    kv_timer *first = co->timer;
    ASSERT_NE(first, nullptr);
    event(co, nua_i_terminated, 0, "", nullptr);
    EXPECT_EQ(co->timer, first);
    EXPECT_EQ(words.size(), 2u);
    timer_remove(co->timer);
    co->timer = nullptr;
    release(co);
}

// Events that never reach the machine: a handle that is not the active
// leg's, a call without machine, a call whose legs are gone.
TEST_F(SipHub, StaleAndForeignHandlesStayOutOfTheMachine)
{
    call_object *co = new_call(CI_SIP_TO_ISDN, SM_SIP_INVITE_SENT);
    int other = 0;
    {
        lock_hold hold(&lock_manager::global_lock);
        nua_event_callback_locked(nua_i_bye, 0, "", nullptr, nullptr, reinterpret_cast<nua_handle_t *>(&other),
                                  (nua_hmagic_t *)co, nullptr, nullptr);
    }
    co->cl_sip = nullptr;
    co->cl_sip_out = nullptr;
    event(co, nua_i_bye, 0, "", nullptr);
    EXPECT_TRUE(words.empty());
    release(co);
}

// NOTIFY message summaries from a known peer: the first analog port whose
// number is the user takes the state; "delivered" is cleared only on a
// change; a source that is not the peer's changes nothing.
TEST_F(SipHub, NotifyMessageSummarySetsMessageWaiting)
{
    port_groups *pg = pg_port_groups();
    char user[] = "201", ip[] = "127.0.0.2", name[] = "peer";
    port_group_sip_user u{};
    u.pgsu_user = user;
    port_group_sip_user *users[] = {&u};
    port_group_sip pgs{};
    pgs.pgs_name = name;
    pgs.pgs_users = users;
    pgs.pgs_user_count = 1;
    pgs.pgs_active_ips[0] = ip;
    pgs.pgs_active_ips_count = 1;
    port_group_analog_port_setting settings[2] = {};
    settings[0].clip = user;
    settings[1].clip = user;
    port_group_analog pga{};
    pga.port_count = 2;
    pga.port_settings = settings;
    auto *saved_sip = pg->port_groups_sip;
    int saved_sip_count = pg->port_groups_sip_count;
    int saved_analog_count = pg->port_groups_analog_count;
    pg->port_groups_sip = &pgs;
    pg->port_groups_sip_count = 1;
    pg->port_groups_analog[0] = &pga;
    pg->port_groups_analog_count = 1;

    auto notify = [&](const char *source, const char *state) {
        std::string body = std::string("Messages-Waiting: ") + state + "\r\nVoice-Message: 1/0\r\n";
        parsed m("NOTIFY sip:201@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.2;branch=z9hG4bK2\r\n"
                 "From: <sip:201@127.0.0.2>;tag=1\r\nTo: <sip:201@127.0.0.1>\r\nCall-ID: n1\r\nCSeq: 1 NOTIFY\r\n"
                 "Event: message-summary\r\nContent-Type: application/simple-message-summary\r\n"
                 "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        ASSERT_NE(m.sip(), nullptr);
        lock_hold hold(&lock_manager::global_lock);
        handle_incoming_sip_notify(source, nua_i_notify, 0, "", nullptr, nullptr, nullptr, nullptr, m.sip(), nullptr);
    };
    settings[0].message_waiting_delivered = 1;
    notify("127.0.0.3", "yes");
    EXPECT_EQ(settings[0].message_waiting, 0) << "not the peer's address";
    notify("127.0.0.2", "yes");
    EXPECT_EQ(settings[0].message_waiting, 1);
    EXPECT_EQ(settings[0].message_waiting_delivered, 0);
    EXPECT_EQ(settings[1].message_waiting, 0) << "only the first port of the user";
    settings[0].message_waiting_delivered = 1;
    notify("127.0.0.2", "yes");
    EXPECT_EQ(settings[0].message_waiting_delivered, 1) << "no change, nothing to deliver again";
    notify("127.0.0.2", "no");
    EXPECT_EQ(settings[0].message_waiting, 0);
    EXPECT_EQ(settings[0].message_waiting_delivered, 0);

    pg->port_groups_sip = saved_sip;
    pg->port_groups_sip_count = saved_sip_count;
    pg->port_groups_analog[0] = nullptr;
    pg->port_groups_analog_count = saved_analog_count;
}

} // namespace
