// Console-driven calls in process: the "dial:" refusals through the status
// server, "hangup" and "update:" on a bound connection, the replies of a
// dialled peer, the reuse of outbound connections and the lines the call
// actions write, with doubles for call control's task queue.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "application.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "console_hooks.h"
#include "console_test_util.h"
#include "dialplan.h"
#include "global_lock.h"
#include "mc_itapi.h"
#include "mc_options.h"
#include "sm_defs.h"
#include "state_table_actions.h"
#include "statemachine.h"
#include "status_server.h"

namespace {

std::mutex mu;
std::vector<std::pair<call_object *, int>> tasks;
call_object *bound_co = nullptr;
int bound_fd = -1;

int add_task(call_object *co, int ev)
{
    std::lock_guard<std::mutex> g(mu);
    tasks.push_back({co, ev});
    return 0;
}
void reset_op(call_object *co)
{
    if (co->sm)
        statemachine_destroy(co->sm);
    co->sm = nullptr;
    free(co->tcr);
    co->tcr = nullptr;
    co->callinfo = CI_FREE;
}
call_object *by_fd(int fd)
{
    return fd == bound_fd ? bound_co : nullptr;
}
std::vector<int> events()
{
    std::lock_guard<std::mutex> g(mu);
    std::vector<int> e;
    for (auto &t : tasks)
        e.push_back(t.second);
    return e;
}

class Itapi : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        signal(SIGPIPE, SIG_IGN);
        console_test_application(4);
        mc_init_options();
    }
    void SetUp() override
    {
        console_hooks h{};
        h.add_sm_task = add_task;
        h.add_sm_task_check_pid = add_task;
        h.reset_op = reset_op;
        h.get_operation_by_telnet_fd = by_fd;
        h.mc_handle_itapi_response = mc_handle_itapi_response;
        mc_set_hooks(&h);
        tasks.clear();
        bound_co = nullptr;
        bound_fd = -1;
        gp->sip_stack_size = 0;
    }
    void TearDown() override
    {
        mc_reset_hooks();
        gp->sip_stack_size = 0;
    }
};

const char FULL[] = "dial:tech=isdn,group=g1,codec=pcma,rtp_port=40000,rtp_ip=127.0.0.1,oad=100,dad=200,pid=7";

// Every refusal of a "dial:" and whether the connection then closes.
TEST_F(Itapi, DialRefusalsAnswerOneLineAndCloseWhereNothingIsLeft)
{
    struct row {
        const char *line;
        const char *answer;
        bool closes;
        bool lan; // a SIP stack "lan" exists
    } rows[] = {
        {"dial:tech=isdn,group=g1,codec=pcma,rtp_port=40000,rtp_ip=127.0.0.1,oad=100", "RELEASE:INVALID_PARAMETERS\n",
         true, true},
        {"dial:x", "RELEASE:INVALID_PARAMETERS\n", true, true},
        {"dial:dad=2,oad=1,tech=gsm,group=g1,codec=pcma,rtp_port=4,rtp_ip=1.2.3.4", "RELEASE:UNKNOWN_TECH\n", true,
         true},
        // The peer's RTP end must be a dotted IPv4 address and a real port.
        {"dial:tech=isdn,group=g1,codec=pcma,rtp_port=70000,rtp_ip=127.0.0.1,oad=1,dad=2",
         "RELEASE:INVALID_PARAMETERS\n", true, true},
        {"dial:tech=isdn,group=g1,codec=pcma,rtp_port=0,rtp_ip=127.0.0.1,oad=1,dad=2", "RELEASE:INVALID_PARAMETERS\n",
         true, true},
        {"dial:tech=isdn,group=g1,codec=pcma,rtp_port=4000,rtp_ip=evil.example,oad=1,dad=2",
         "RELEASE:INVALID_PARAMETERS\n", true, true},
        {"dial:tech=isdn,group=g1,codec=pcma,rtp_port=4000,rtp_ip=1.2.3.256,oad=1,dad=2",
         "RELEASE:INVALID_PARAMETERS\n", true, true},
        {FULL, "RELEASE:NO_RESSOURCES\n", true, false},
        // Items in any order, tech in any case.
        {"dial:dad=200,oad=100,tech=ISDN,group=nogroup,codec=g729,rtp_port=40000,rtp_ip=127.0.0.1,pid=7",
         "RELEASE:INVALID_CODEC\n", false, true},
        {"dial:dad=200,oad=100,tech=ISDN,group=nogroup,codec=pcmu,rtp_port=40000,rtp_ip=127.0.0.1,pid=7",
         "RELEASE:NO_FREE_BCHANNEL\n", false, true},
    };
    console_test_server s("itapi_support=1");
    for (const row &r : rows) {
        {
            lock_hold hold(&lock_manager::global_lock);
            gp->sip_stack_size = r.lan ? 1 : 0;
            snprintf(gp->sip_stacks[0].name, sizeof gp->sip_stacks[0].name, "lan");
        }
        console_conn c(s.port);
        c.read_until(CONSOLE_GREETING);
        c.send(std::string(r.line) + "\n");
        std::string want = std::string(r.answer) + "\r\n";
        EXPECT_EQ(c.read_until(want), want) << r.line;
        if (r.closes) {
            EXPECT_TRUE(c.closed_by_server()) << r.line;
        } else {
            c.send("q\n");
            EXPECT_TRUE(c.closed_by_server());
        }
    }
    // No call object stays taken.
    lock_hold hold(&lock_manager::global_lock);
    for (int i = 0; i < OPERATIONARRAYSIZE; i++)
        EXPECT_EQ(gp->operations[i]->callinfo, CI_FREE) << i;
    EXPECT_TRUE(events().empty());
}

TEST_F(Itapi, WithoutTheOptionAndOnStandardOutputNoCallIsPlaced)
{
    gp->sip_stack_size = 1;
    {
        console_test_server s("itapi_support=0");
        console_conn c(s.port);
        c.read_until(CONSOLE_GREETING);
        c.send(std::string(FULL) + "\n");
        EXPECT_EQ(c.read_until("\r\n"), "RELEASE:NO_RESSOURCES\n\r\n");
        EXPECT_TRUE(c.closed_by_server());
    }
    // The server and its threads are gone: nothing else reads stdout now.

    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    FILE *saved = stdout;
    stdout = f;
    int st = 0;
    mc_handle_input(FULL, f, &st);
    stdout = saved;
    fclose(f);
    EXPECT_EQ(std::string(buf, size), "RELEASE:WRONG_FD\n\r\n");
    free(buf);
}

// A connection with a call: a second "dial:" ends that call; "hangup" and
// "update:" queue their events.
TEST_F(Itapi, HangupUpdateAndSecondDialOnABoundConnection)
{
    console_test_server s("itapi_support=1");
    console_conn c(s.port);
    c.read_until(CONSOLE_GREETING);
    int fd = console_test_server::fd_of(c);
    ASSERT_GT(fd, 0);

    c.send("hangup\n");
    std::string info1 = "INFO1: no call running on fd " + std::to_string(fd) + " (hangup)\n\r\n";
    EXPECT_EQ(c.read_until(info1), info1);
    c.send("update:rtp_port=1,rtp_ip=1.2.3.4\n");
    std::string info2 = "INFO2: no call running on fd " + std::to_string(fd) + " (update)\n\r\n";
    EXPECT_EQ(c.read_until(info2), info2);

    call_object *co = gp->operations[2];
    call_leg_sip leg{};
    {
        lock_hold hold(&lock_manager::global_lock);
        co->cl_sip = &leg;
        co->telnet_pid = 7;
        co->callinfo = CI_TELNET_TO_ISDN;
        bound_co = co;
        bound_fd = fd;
    }

    // A foreign call number changes nothing; a bare "hangup" always ends.
    c.send("hangup:8\nupdate:rtp_port=5000\nupdate:rtp_port=5000,rtp_ip=10.1.2.300\n"
           "update:rtp_port=5002,rtp_ip=10.1.2.3,codec=gsm\nhangup:7\nhangup\n" +
           std::string(FULL) + "\n");
    EXPECT_EQ(c.read_until(";hangup;\n\r\n"), "\r\n\r\n\r\n\r\n\r\n\r\n;hangup;\n\r\n");
    {
        lock_hold hold(&lock_manager::global_lock);
        EXPECT_EQ(leg.rtp_remote_port, 5002);
        EXPECT_STREQ(leg.rtp_remote_ip, "10.1.2.3");
        EXPECT_EQ(leg.using_codec, 8);
    }
    EXPECT_EQ(events(), (std::vector<int>{sm_general(GENERAL_EVENT_ITAPI_UPDATE_CHANNEL),
                                          sm_general(GENERAL_EVENT_ITAPI_HANGUP_RECEIVED),
                                          sm_general(GENERAL_EVENT_ITAPI_HANGUP_RECEIVED), SM_WORD_FINISH_CALL}));
    c.send("update:codec=pcmu,rtp_port=5004,rtp_ip=10.1.2.4\n");
    c.read_until("\r\n");
    {
        lock_hold hold(&lock_manager::global_lock);
        EXPECT_EQ(leg.using_codec, 0);
        bound_co = nullptr;
        bound_fd = -1;
        co->cl_sip = nullptr;
        co->callinfo = CI_FREE;
    }
    c.send("q\n");
    EXPECT_TRUE(c.closed_by_server());
}

TEST_F(Itapi, RepliesOfADialledPeer)
{
    call_object co{};
    co.telnet_remote_rtp_port = 1234;
    struct row {
        const char *line;
        int event; // 0: none
        int port;  // telnet_remote_rtp_port afterwards
    } rows[] = {
        {"quilmar VoIP Gateway Console", 0, 1234},
        {"PROCEEDING", 0, 1234},
        {"progress", 0, 1234},
        {"alerting", sm_general(GENERAL_EVENT_ITAPI_ALERTING), 1234},
        {"CONNECT:-5", sm_general(GENERAL_EVENT_ITAPI_CONNECT), 1234},
        {"CONNECT:40000", sm_general(GENERAL_EVENT_ITAPI_CONNECT), 40000},
        {"CONNECT:99999", sm_general(GENERAL_EVENT_ITAPI_CONNECT), 40000},
        {"CONNECT", sm_general(GENERAL_EVENT_ITAPI_CONNECT), 0},
        {"DISCONNECT cause=16", sm_general(GENERAL_EVENT_ITAPI_DISCONNECT), 0},
        {"RELEASE:NO_FREE_BCHANNEL", sm_general(GENERAL_EVENT_ITAPI_DISCONNECT), 0},
        {"hangup:3", SM_WORD_FINISH_CALL, 0},
        {"", 0, 0},
    };
    for (const row &r : rows) {
        tasks.clear();
        mc_handle_itapi_response(r.line, nullptr, &co);
        EXPECT_EQ(events(), r.event ? std::vector<int>{r.event} : std::vector<int>{}) << r.line;
        EXPECT_EQ(co.telnet_remote_rtp_port, r.port) << r.line;
    }
    // A peer that dials back is told to hang up.
    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    tasks.clear();
    mc_handle_itapi_response("dial:tech=isdn", f, &co);
    fclose(f);
    EXPECT_EQ(std::string(buf, size), "hangup\n");
    free(buf);
    EXPECT_EQ(events(), std::vector<int>{SM_WORD_FINISH_CALL});
}

// Items of the peer's line format: the parser and the checks that keep SIP
// texts out of it.
TEST(ItapiItems, ParserAndChecks)
{
    itapi_items it;
    itapi_parse_items("rtp_port=8,junk,=x,group=0123456789012345678901234567890123456789,tech=,pid=12,oad=", &it);
    EXPECT_EQ(it.rtp_port, 8);
    EXPECT_EQ(it.pid, 12);
    EXPECT_STREQ(it.group, "0123456789012345678901234567890");
    EXPECT_TRUE(it.has_tech && it.has_oad && !it.has_dad && !it.has_codec);
    itapi_parse_items(nullptr, &it);
    EXPECT_EQ(it.rtp_port, -1);
    EXPECT_EQ(it.pid, -1);

    for (const char *ok : {"1.2.3.4", "255.255.255.255", "0.0.0.0"})
        EXPECT_TRUE(itapi_valid_ipv4(ok)) << ok;
    for (const char *bad : {"", "1.2.3", "1.2.3.4.5", "1..2.3", "01234.1.1.1", "1.2.3.4 ", "a.b.c.d", "256.1.1.1"})
        EXPECT_FALSE(itapi_valid_ipv4(bad)) << bad;
    EXPECT_TRUE(itapi_safe_text("+49 30-1234"));
    for (const char *bad : {"100;shutdown", "1,2", "a=b", "a\\", "a\nb", "\x7f"})
        EXPECT_FALSE(itapi_safe_text(bad)) << bad;
}

// The lines the actions write on the call's connection.
TEST_F(Itapi, OutboundActionsWriteThePeersLines)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    FILE *w = fdopen(sv[0], "w");
    call_object co{};
    call_leg_sip leg{};
    dialplan_element dp{};
    char to_id[] = "127.0.0.1:2300:ISDN:grp1:ignored";
    dp.to_id = to_id;
    co.dp = &dp;
    co.cl_sip = &leg;
    co.pid = 42;
    char src[] = "100", dst[] = "200";
    co.new_source = src;
    co.new_destination = dst;
    snprintf(leg.rtp_remote_ip, sizeof leg.rtp_remote_ip, "10.0.0.2");
    leg.rtp_remote_port = 6000;
    leg.using_codec = 8;

    // No idle connection: the call waits for the server's connect.
    statemachine_handle_retval r = sm_sip_to_itapi_create_socket(&co, nullptr, SM_SIP_INVITE_RECEIVED, 0);
    EXPECT_EQ(r.state, SM_ITAPI_SOCKET_PREPARING);
    EXPECT_STREQ(co.telnet_remote_address, "127.0.0.1");
    EXPECT_EQ(co.telnet_remote_telnet_port, 2300);
    EXPECT_EQ(co.telnet_target_tech, 2);
    EXPECT_STREQ(co.telnet_target_group, "grp1");
    EXPECT_EQ(gp->telnet_new_outgoing_call, 1);
    gp->telnet_new_outgoing_call = 0;
    gp->itapi_new_outgoing_call_objects[0] = nullptr;

    // Connected: the dial line, once the caller's RTP end is known.
    co.telnet_fd = sv[0];
    co.telnet_fp = w;
    leg.rtp_remote_ip[0] = '\0';
    r = sm_sip_to_itapi_send_dial(&co, nullptr, SM_ITAPI_SOCKET_CREATED, 0);
    EXPECT_EQ(r.state, SM_NO_DECISION);
    snprintf(leg.rtp_remote_ip, sizeof leg.rtp_remote_ip, "10.0.0.2");
    r = sm_sip_to_itapi_send_dial(&co, nullptr, SM_ITAPI_SOCKET_CREATED, 0);
    EXPECT_EQ(r.state, SM_ITAPI_DIALED);
    sm_sip_to_itapi_update_channel(&co, nullptr, SM_CALL_ACTIVE, 0);
    leg.using_codec = 0;
    sm_sip_to_itapi_update_channel(&co, nullptr, SM_CALL_ACTIVE, 0);
    sm_sip_to_itapi_send_hangup(&co, nullptr, SM_CALL_ACTIVE, 0);

    // telnet_to_isdn progress lines.
    co.bc = nullptr;
    leg.rtp_local_port = 30000;
    sm_telnet_notify_isdn_proceeding(&co, nullptr, 0, 0);
    sm_telnet_notify_isdn_ringing(&co, nullptr, 0, 0);
    sm_telnet_notify_isdn_connect(&co, nullptr, 0, 0);
    sm_telnet_notify_isdn_disconnect(&co, nullptr, 0, 0);
    fclose(w);
    std::string got;
    char buf[1024];
    for (ssize_t n; (n = read(sv[1], buf, sizeof buf)) > 0;)
        got.append(buf, (size_t)n);
    close(sv[1]);
    EXPECT_EQ(got, ";dial:tech=isdn,group=grp1,codec=pcma,rtp_port=6000,rtp_ip=10.0.0.2,oad=100,dad=200,pid=42\n"
                   "update:rtp_port=6000,rtp_ip=10.0.0.2,codec=pcma\n"
                   "update:rtp_port=6000,rtp_ip=10.0.0.2,codec=pcmu\n"
                   "hangup:42;\n"
                   "PROCEEDING\nALERTING\nCONNECT:30000\nDISCONNECT cause=-1\n");

    // A target without port or technology, and SIP texts that would break
    // the peer's line, end the call before anything is written.
    char *bad[] = {(char *)"127.0.0.1:2300", (char *)"127.0.0.1::isdn:g", (char *)"127.0.0.1:99999:isdn:g",
                   (char *)"127.0.0.1:2300:isdn:g;x"};
    for (char *t : bad) {
        dp.to_id = t;
        EXPECT_EQ(sm_sip_to_itapi_create_socket(&co, nullptr, SM_SIP_INVITE_RECEIVED, 0).state, SM_DESTROYING) << t;
    }
    dp.to_id = to_id;
    char evil[] = "100;shutdown";
    co.new_source = evil;
    EXPECT_EQ(sm_sip_to_itapi_create_socket(&co, nullptr, SM_SIP_INVITE_RECEIVED, 0).state, SM_DESTROYING);
    co.telnet_fp = nullptr;
    EXPECT_EQ(sm_sip_to_itapi_send_dial(&co, nullptr, SM_ITAPI_SOCKET_CREATED, 0).state, SM_DESTROYING);
    EXPECT_EQ(gp->telnet_new_outgoing_call, 0);
}

// An idle outbound connection is reused only by a call to the same peer;
// "ifd" lists the descriptors.
TEST_F(Itapi, IdleOutboundConnectionsServeOnlyTheirOwnPeer)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    FILE *w = fdopen(sv[0], "w");
    int fd = sv[0];
    ASSERT_LT(fd, STATUS_SERVER_FDS);
    lock_itapi();
    fstreams[fd] = w;
    itapi_fds_current_states[fd] = ITAPI_OUTBOUND_FREE;
    snprintf(itapi_fds_remote_ips[fd], sizeof itapi_fds_remote_ips[fd], "10.0.0.9");
    itapi_fds_remote_ports[fd] = 2300;
    itapi_fds_local_ports[fd] = 41000;
    unlock_itapi();

    call_object other{}, same{};
    snprintf(other.telnet_remote_address, sizeof other.telnet_remote_address, "10.0.0.8");
    other.telnet_remote_telnet_port = 2300;
    int reused = 0;
    EXPECT_EQ(mc_itapi_get_free_socket(&other, &reused), 0);
    EXPECT_EQ(reused, 0);
    EXPECT_EQ(gp->itapi_new_outgoing_call_objects[0], &other);
    gp->itapi_new_outgoing_call_objects[0] = nullptr;
    gp->telnet_new_outgoing_call = 0;

    snprintf(same.telnet_remote_address, sizeof same.telnet_remote_address, "10.0.0.9");
    same.telnet_remote_telnet_port = 2300;
    same.index = 3;
    EXPECT_EQ(mc_itapi_get_free_socket(&same, &reused), fd);
    EXPECT_EQ(reused, 1);
    EXPECT_EQ(same.telnet_fd, fd);
    EXPECT_EQ(same.telnet_fp, w);

    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    mc_itapi_list_fds("", f, nullptr);
    fclose(f);
    char want[256];
    snprintf(want, sizeof want, "idx 0: FD %i => fp %p: PEER 41000:10.0.0.9:2300 - STATE ITAPI_OUTBOUND_IN_USE - COIDX: 3\n",
             fd, (void *)w);
    EXPECT_EQ(std::string(buf, size), want);
    free(buf);

    lock_itapi();
    fstreams[fd] = nullptr;
    itapi_fds_current_states[fd] = ITAPI_CLOSED;
    itapi_fds_current_call_objects[fd] = nullptr;
    unlock_itapi();
    fclose(w);
    close(sv[1]);
}

} // namespace
