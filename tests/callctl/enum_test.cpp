// ENUM queries of a call against dnsmasq: when a query is wanted, the
// answer of a later search domain after no result or a time-out on the
// first, the end of the search (failover proxy or rejection), and answers
// that cannot be used.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "call_leg_sip.h"
#include "call_reset.h"
#include "callctl_world.h"
#include "debug_lines.h"
#include "dialplan.h"
#include "dnsmasq_runner.h"
#include "enum.h"
#include "global_lock.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "proxy_def.h"
#include "sm_events.h"
#include "sm_tasks.h"
#include "state_table_actions.h"

namespace {

// A UDP socket on 127.0.0.1 that never answers: the name server of the
// domain that times out.
struct silent_server {
    int fd = -1, port = 0;
    silent_server()
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd >= 0 && bind(fd, (sockaddr *)&a, sizeof a) == 0 && getsockname(fd, (sockaddr *)&a, &len) == 0)
            port = ntohs(a.sin_port);
    }
    ~silent_server()
    {
        if (fd >= 0)
            close(fd);
    }
};

silent_server *silent;
dnsmasq_runner *server;

const std::string long_address = "!^.*$!sip:" + std::string(180, 'u') + "@127.0.0.1:5094!";

class Enum : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        silent = new silent_server();
        server = new dnsmasq_runner({
            "--naptr-record=3.2.1.0.3.9.4.e164.test,100,10,U,E2U+sip,!^.*$!sip:info@127.0.0.1:5094!",
            "--naptr-record=5.5.5.e164.test,100,10,U,E2U+sip," + long_address,
            "--naptr-record=6.6.6.e164.test,100,10,U,E2U+sip,!^.*$!no-address!",
            "--server=/dead.test/127.0.0.1#" + std::to_string(silent->port),
        });
    }
    static void TearDownTestSuite()
    {
        delete server;
        delete silent;
    }
    void SetUp() override
    {
        ASSERT_TRUE(server->ok()) << "dnsmasq did not start";
        ASSERT_GT(silent->port, 0);
        server->export_env();
        ASSERT_TRUE(callctl_world(2));
        port_groups *pg = pg_port_groups();
        saved_groups_ = pg->port_groups_sip;
        saved_count_ = pg->port_groups_sip_count;
        pgs_ = port_group_sip{};
        pgs_.pgs_name = name_;
        pgs_.pgs_enum_support = 1;
        pg->port_groups_sip = &pgs_;
        pg->port_groups_sip_count = 1;
        dp_.to_id = name_;
        co_ = get_free_operation_handle(1);
        ASSERT_NE(co_, nullptr);
        co_->callinfo = CI_SIP_TO_SIP;
        co_->dp = &dp_;
        co_->cl_sip = co_->cl_sip_in = &in_;
        co_->cl_sip_out = &out_;
        pd_ = proxy_def{};
        out_.pd = &pd_;
    }
    void TearDown() override
    {
        co_->dp = nullptr;
        co_->cl_sip = co_->cl_sip_in = co_->cl_sip_out = nullptr;
        {
            lock_hold hold(&lock_manager::global_lock);
            reset_op(co_);
        }
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
        port_groups *pg = pg_port_groups();
        pg->port_groups_sip = saved_groups_;
        pg->port_groups_sip_count = saved_count_;
        timer_exit();
    }
    void domains(std::vector<const char *> d)
    {
        domains_ = d;
        pgs_.pgs_enum_search_domains = (char **)domains_.data();
        pgs_.pgs_enum_search_domain_count = (int)domains_.size();
    }
    void dial(const char *number)
    {
        free(co_->new_destination);
        co_->new_destination = strdup(number);
    }
    std::vector<int> tasks()
    {
        std::vector<int> out;
        for (sm_run_info *t = gp->smrunlist ? gp->smrunlist->first : nullptr; t; t = t->list)
            out.push_back(t->event);
        return out;
    }
    statemachine_handle_retval start()
    {
        return sm_sip_enum_query(co_, nullptr, SM_SIP_INVITE_RECEIVED, sm_sip(100, nua_i_state));
    }
    statemachine_handle_retval poll_once()
    {
        return sm_sip_enum_check_result(co_, nullptr, SM_SIP_INVITE_WAITING_FOR_DNS, sm_timer(T_EVENT_DNS_ENUM_TIMER));
    }
    // Polls as the timer would until the action decides something (or
    // the poll counter would time the domain out).
    statemachine_handle_retval poll_until_decided()
    {
        for (int i = 0; i < 100; i++) {
            if (co_->dns_enum_request_counter >= ENUM_POLLS_BEFORE_TIMEOUT)
                co_->dns_enum_request_counter = 0; // a slow machine is no time-out
            statemachine_handle_retval rv = poll_once();
            if (rv.state != SM_NO_DECISION)
                return rv;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return {SM_NO_DECISION, SM_ROW_EVENT};
    }
    void expect(statemachine_handle_retval rv, int32_t state)
    {
        EXPECT_EQ(rv.state, state);
        EXPECT_EQ(rv.event, state == SM_NO_DECISION ? SM_ROW_EVENT : SM_NO_EVENT);
    }

    char name_[16] = "provider";
    port_group_sip pgs_{};
    std::vector<const char *> domains_;
    port_group_sip *saved_groups_ = nullptr;
    int saved_count_ = 0;
    dialplan_element dp_{};
    proxy_def pd_{};
    call_leg_sip in_{}, out_{};
    call_object *co_ = nullptr;
};

TEST_F(Enum, NoQueryWithoutGroupSupportOrDomain)
{
    dial("4930123");
    domains({});
    expect(start(), SM_NO_DECISION);
    domains({"e164.test"});
    pgs_.pgs_enum_support = 0;
    expect(start(), SM_NO_DECISION);
    pgs_.pgs_enum_support = 1;
    co_->dp = nullptr;
    expect(start(), SM_NO_DECISION);
    EXPECT_EQ(co_->dns_context, nullptr);
    EXPECT_EQ(co_->dns_enum_timer, nullptr);
    EXPECT_TRUE(tasks().empty());
}

// No result on the first domain, the answer on the second; the queued
// FINISHED then lets the table's rows send the INVITE.
TEST_F(Enum, AnswerOfTheSecondDomainAfterNoResult)
{
    debug_lines log({TARN});
    dial("4930123");
    domains({"none.test", "e164.test"});
    expect(start(), SM_SIP_INVITE_WAITING_FOR_DNS);
    EXPECT_NE(co_->dns_context, nullptr);
    EXPECT_NE(co_->dns_enum_timer, nullptr);
    // A FINISHED that meets the running query keeps the state.
    EXPECT_EQ(sm_sip_enum_check_result(co_, nullptr, SM_SIP_INVITE_WAITING_FOR_DNS,
                                       sm_general(GENERAL_EVENT_DNS_ENUM_FINISHED))
                  .state,
              SM_KEEP_STATE);
    expect(poll_until_decided(), SM_SIP_INVITE_WAITING_FOR_DNS);
    EXPECT_TRUE(log.has("no result on search domain |none.test|"));
    EXPECT_TRUE(log.has("trying again on search domain |e164.test|"));
    EXPECT_EQ(co_->dns_enum_search_domain_index, 1);
    expect(poll_until_decided(), SM_KEEP_STATE);
    EXPECT_STREQ(co_->dns_enum_regex, "!^.*$!sip:info@127.0.0.1:5094!");
    EXPECT_EQ(co_->dns_enum_internal_error_code, ENUM_FOUND);
    EXPECT_EQ(co_->dns_context, nullptr);
    EXPECT_EQ(co_->dns_enum_timer, nullptr);
    EXPECT_EQ(tasks(), std::vector<int>{sm_general(GENERAL_EVENT_DNS_ENUM_FINISHED)});
    // The queued FINISHED continues the rows; a late poll changes nothing.
    expect(poll_once(), SM_KEEP_STATE);
    expect(sm_sip_enum_check_result(co_, nullptr, SM_SIP_INVITE_WAITING_FOR_DNS,
                                    sm_general(GENERAL_EVENT_DNS_ENUM_FINISHED)),
           SM_NO_DECISION);
    EXPECT_EQ(server->queries().size(), 2u);
}

// The first domain never answers: the twelfth poll gives it up and the
// second domain is asked at once, with the counter back at 0 and no event.
TEST_F(Enum, TimeOutGoesToTheNextDomainWithoutAnEvent)
{
    debug_lines log({TARN});
    dial("4930123");
    domains({"dead.test", "e164.test"});
    expect(start(), SM_SIP_INVITE_WAITING_FOR_DNS);
    for (int i = 0; i < ENUM_POLLS_BEFORE_TIMEOUT; i++)
        expect(poll_once(), SM_NO_DECISION);
    EXPECT_EQ(co_->dns_enum_request_counter, ENUM_POLLS_BEFORE_TIMEOUT);
    expect(poll_once(), SM_SIP_INVITE_WAITING_FOR_DNS);
    EXPECT_TRUE(log.has("request timed out on search domain |dead.test|"));
    EXPECT_EQ(co_->dns_enum_internal_error_code, ENUM_TIMED_OUT);
    EXPECT_EQ(co_->dns_enum_request_counter, 0);
    EXPECT_NE(co_->dns_context, nullptr);
    EXPECT_TRUE(tasks().empty());
    expect(poll_until_decided(), SM_KEEP_STATE);
    EXPECT_STREQ(co_->dns_enum_regex, "!^.*$!sip:info@127.0.0.1:5094!");
}

// After the last domain: the failover proxy when the status is a failover
// cause of the call, else the rejection.
TEST_F(Enum, EndOfTheSearch)
{
    const struct {
        const char *domain;
        bool failover_cause;
        int32_t state, task;
    } cases[] = {
        {"none.test", true, SM_SIP_INVITE_SENT, sm_sip(1001, nua_r_invite)},
        {"none.test", false, SM_KEEP_STATE, sm_general(GENERAL_EVENT_DNS_ENUM_FAILED)},
        {"dead.test", true, SM_SIP_INVITE_SENT, sm_sip(1001, nua_r_invite)},
        {"dead.test", false, SM_KEEP_STATE, sm_general(GENERAL_EVENT_DNS_ENUM_FAILED)},
    };
    char failover[] = "backup";
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.domain) + (c.failover_cause ? " failover" : ""));
        debug_lines log({TARN});
        bool timeout = std::string(c.domain) == "dead.test";
        co_->dns_enum_search_domain_index = 0;
        co_->dns_enum_request_counter = 0;
        co_->cl_sip = timeout ? &out_ : &in_;
        pd_.failover = failover;
        snprintf(co_->cc.sip_failover_proxy, sizeof co_->cc.sip_failover_proxy, "%s", failover);
        co_->cc.sip_failover_causes[0] = c.failover_cause ? (timeout ? 1480 : 1404) : 503;
        co_->cc.sip_failover_causes_size = 1;
        dial("4930123");
        domains({c.domain});
        expect(start(), SM_SIP_INVITE_WAITING_FOR_DNS);
        statemachine_handle_retval rv{SM_NO_DECISION, SM_ROW_EVENT};
        if (timeout)
            for (int i = 0; i <= ENUM_POLLS_BEFORE_TIMEOUT; i++)
                rv = poll_once();
        else
            rv = poll_until_decided();
        expect(rv, c.state);
        EXPECT_EQ(tasks(), std::vector<int>{c.task});
        EXPECT_EQ(co_->dns_enum_timer, nullptr);
        EXPECT_EQ(co_->dns_context, nullptr);
        EXPECT_EQ(log.count("trying failover proxy |backup|"), c.failover_cause ? 1 : 0);
        EXPECT_EQ(log.count("cancelling call"), c.failover_cause ? 0 : 1);
        if (c.failover_cause) {
            EXPECT_EQ(co_->cl_sip, &out_) << "the outgoing leg is current for the failover";
        }
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
    }
}

// An address longer than the call's field, or one without user and host,
// is no result: nothing is cut and nothing is sent to it.
TEST_F(Enum, UnusableAnswersCountAsNoResult)
{
    for (const char *number : {"555", "666"}) {
        SCOPED_TRACE(number);
        co_->dns_enum_search_domain_index = 0;
        dial(number);
        domains({"e164.test"});
        expect(start(), SM_SIP_INVITE_WAITING_FOR_DNS);
        expect(poll_until_decided(), SM_KEEP_STATE);
        EXPECT_STREQ(co_->dns_enum_regex, "");
        EXPECT_EQ(co_->dns_enum_internal_error_code, ENUM_NO_RESULT);
        EXPECT_EQ(tasks(), std::vector<int>{sm_general(GENERAL_EVENT_DNS_ENUM_FAILED)});
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
    }
}

} // namespace
