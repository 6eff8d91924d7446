// The status server in process: clients greeted, their input run and
// closed, the limit of clients, and the bookkeeping of console-driven calls
// (release of descriptors, outbound connects, calls bound to a connection)
// with doubles for call control.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "application.h"
#include "call_info.h"
#include "console_test_util.h"
#include "debug_lines.h"
#include "console_hooks.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "log.h"
#include "mc_options.h"
#include "status_server.h"

namespace {

using client = console_conn;
const std::string &GREETING = CONSOLE_GREETING;

std::string answer(const char *line)
{
    return dispatcher_answer(line);
}

// Doubles of call control.
struct recorded_task {
    call_object *co;
    int event;
    bool check_pid;
};
std::mutex doubles_mutex;
std::vector<recorded_task> tasks;
std::vector<call_object *> resets;
std::vector<std::string> itapi_lines;
std::atomic<int> bound_fd{-1};
call_object *bound_co = nullptr;

int add_task(call_object *co, int ev)
{
    std::lock_guard<std::mutex> g(doubles_mutex);
    tasks.push_back({co, ev, false});
    return 0;
}
int add_task_check_pid(call_object *co, int ev)
{
    std::lock_guard<std::mutex> g(doubles_mutex);
    tasks.push_back({co, ev, true});
    return 0;
}
void reset_op(call_object *co)
{
    std::lock_guard<std::mutex> g(doubles_mutex);
    resets.push_back(co);
}
call_object *by_telnet_fd(int fd)
{
    return fd == bound_fd.load() ? bound_co : nullptr;
}
int itapi_response(const char *line, FILE *, call_object *)
{
    std::lock_guard<std::mutex> g(doubles_mutex);
    itapi_lines.push_back(line);
    return 0;
}
const char *state_name(call_object *, uint32_t)
{
    return "SM_TEST_STATE";
}
size_t task_count()
{
    std::lock_guard<std::mutex> g(doubles_mutex);
    return tasks.size();
}

using server = console_test_server;

int itapi_state(int fd)
{
    lock_itapi();
    int s = itapi_fds_current_states[fd];
    unlock_itapi();
    return s;
}
void set_itapi_state(int fd, int s)
{
    lock_itapi();
    itapi_fds_current_states[fd] = s;
    unlock_itapi();
}

class StatusServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        signal(SIGPIPE, SIG_IGN); // as the daemon does
        if (!gp) {
            application_create();
            init_locks();
        }
        mc_init_options();
    }
    void SetUp() override
    {
        console_hooks h{};
        h.add_sm_task = add_task;
        h.add_sm_task_check_pid = add_task_check_pid;
        h.reset_op = reset_op;
        h.get_operation_by_telnet_fd = by_telnet_fd;
        h.mc_handle_itapi_response = itapi_response;
        h.print_sm_state_call = state_name;
        mc_set_hooks(&h);
        tasks.clear();
        resets.clear();
        itapi_lines.clear();
        bound_fd = -1;
        bound_co = nullptr;
    }
    void TearDown() override { mc_reset_hooks(); }
};

TEST_F(StatusServer, GreetsRunsLinesAndCloses)
{
    debug_lines log({TARN});
    server s("telnet_max_connections=2");
    client a(s.port);
    EXPECT_EQ(a.read_until(GREETING), GREETING);
    a.send("h;hs");
    std::string want = answer("h") + answer("hs");
    EXPECT_EQ(a.read_until(want), want);

    // The second client fills the limit, the third is closed unanswered.
    client b(s.port);
    EXPECT_EQ(b.read_until(GREETING), GREETING);
    client c(s.port);
    EXPECT_TRUE(c.closed_by_server());
    EXPECT_EQ(c.got, "");
    EXPECT_TRUE(log.count("connected_clients 2, max_clients 2, closing rfd") > 0);

    // "q" closes after its answer; the slot is free again.
    b.send("q\r\n");
    EXPECT_EQ(b.read_until("Closing terminal\n\r\n"), "Closing terminal\n\r\n");
    EXPECT_TRUE(b.closed_by_server());
    client d(s.port);
    EXPECT_EQ(d.read_until(GREETING), GREETING);

    // A client that vanishes while its answer is written frees its slot.
    linger hard = {1, 0};
    setsockopt(d.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    d.send("hx;hx;hx;hx;hx;hx;hx;hx");
    close(d.fd);
    d.fd = -1;
    bool greeted = false;
    for (int tries = 0; tries < 50 && !greeted; tries++) {
        client f(s.port);
        greeted = f.read_until(GREETING) == GREETING;
    }
    EXPECT_TRUE(greeted);
    a.send("q\n");
    EXPECT_TRUE(a.closed_by_server());
}

TEST_F(StatusServer, ACommandCutByTheReadBufferRunsWhole)
{
    server s("");
    client a(s.port);
    a.read_until(GREETING);
    // "greeting" straddles byte 2047 of one packet.
    std::string packet;
    for (int i = 0; i < 1020; i++)
        packet += "c;";
    packet += "greeting\nhi\n";
    a.send(packet);
    std::string want;
    for (int i = 0; i < 1020; i++)
        want += "\x1b[2J\x1b[1;1H\r\n";
    want += GREETING + answer("hi");
    EXPECT_EQ(a.read_until(want), want);
    a.send("q\n");
    EXPECT_TRUE(a.closed_by_server());
}

TEST_F(StatusServer, ReleasedDescriptorsStayOpenForTheNextCall)
{
    server s("itapi_support=1");
    client in(s.port), out(s.port), other(s.port);
    for (client *c : {&in, &out, &other})
        c->read_until(GREETING);
    int fin = server::fd_of(in), fout = server::fd_of(out), fother = server::fd_of(other);
    ASSERT_GE(fin, 0);
    ASSERT_GE(fout, 0);
    ASSERT_GE(fother, 0);
    EXPECT_EQ(itapi_state(fin), ITAPI_INBOUND_FREE);
    lock_itapi();
    EXPECT_STREQ(itapi_fds_remote_ips[fin], "127.0.0.1");
    EXPECT_EQ(itapi_fds_local_ports[fin], 0); // statusport "0" in this test
    unlock_itapi();

    set_itapi_state(fin, ITAPI_INBOUND_IN_USE);
    set_itapi_state(fout, ITAPI_OUTBOUND_IN_USE);
    add_telnet_fd_to_release(fin, nullptr);
    add_telnet_fd_to_release(fout, nullptr);
    add_telnet_fd_to_release(fother, nullptr); // free inbound, no call: closed
    EXPECT_TRUE(console_wait_for([&] { return itapi_state(fin) == ITAPI_INBOUND_FREE; }));
    EXPECT_TRUE(console_wait_for([&] { return itapi_state(fout) == ITAPI_OUTBOUND_FREE; }));
    EXPECT_TRUE(other.closed_by_server());
    lock_itapi();
    EXPECT_EQ(release_telnet_fd_flag, 0);
    unlock_itapi();
    in.send("greeting\n");
    EXPECT_EQ(in.read_until(GREETING), GREETING);
    in.send("q\n");
    EXPECT_TRUE(in.closed_by_server());
    EXPECT_EQ(itapi_state(fin), ITAPI_CLOSED);
    // A line on an idle outbound connection is the late reply of a peer,
    // not a command: answering it would start an endless exchange of
    // "Unknown input" lines between two consoles.
    out.send("RELEASE cause=16\ngreeting\nq\n");
    pollfd quiet = {out.fd, POLLIN, 0};
    EXPECT_EQ(poll(&quiet, 1, 500), 0);
    close(out.fd);
    out.fd = -1;
    EXPECT_TRUE(console_wait_for([&] { return itapi_state(fout) == ITAPI_CLOSED; }));
}

TEST_F(StatusServer, AnInconsistentReleaseEndsAtOnce)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            server s("itapi_support=1");
            client a(s.port);
            a.read_until(GREETING);
            static call_object co{};
            bound_co = &co;
            bound_fd = server::fd_of(a);
            add_telnet_fd_to_release(bound_fd, nullptr); // state 1 with a call bound
            std::this_thread::sleep_for(std::chrono::seconds(10));
        },
        ::testing::ExitedWithCode(82), "TARN EXITCODE 82: ITAPI problem: EVILSTATE co 0x[0-9a-f]+  state 1 : 0x[0-9a-f]+ \\|SM_TEST_STATE\\|");
}

TEST_F(StatusServer, OutboundConnectsForWaitingCalls)
{
    debug_lines log({TARN});
    server s("itapi_support=1");
    // The peer unit: a listener that accepts one connection.
    int peer = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(peer, (sockaddr *)&a, sizeof a), 0);
    ASSERT_EQ(listen(peer, 1), 0);
    socklen_t l = sizeof a;
    getsockname(peer, (sockaddr *)&a, &l);

    // A port nobody listens on.
    int gone = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in g{};
    g.sin_family = AF_INET;
    g.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(gone, (sockaddr *)&g, sizeof g);
    l = sizeof g;
    getsockname(gone, (sockaddr *)&g, &l);
    close(gone);

    static call_object ok{}, refused{};
    for (call_object *co : {&ok, &refused}) {
        co->sm_state = 0x80000; // SM_ITAPI_SOCKET_PREPARING
        co->callinfo = CI_SIP_TO_ITAPI;
        snprintf(co->telnet_remote_address, sizeof co->telnet_remote_address, "127.0.0.1");
    }
    ok.telnet_remote_telnet_port = ntohs(a.sin_port);
    refused.telnet_remote_telnet_port = ntohs(g.sin_port);
    call_object *saved[2] = {gp->operations[0], gp->operations[1]};
    pthread_mutex_lock(g_lock_manager->global_lock);
    gp->operations[0] = &ok;
    gp->operations[1] = &refused;
    pthread_mutex_unlock(g_lock_manager->global_lock);
    lock_itapi(); // as the request of a free outbound descriptor does
    gp->telnet_new_outgoing_call = 1;
    unlock_itapi();

    ASSERT_TRUE(console_wait_for([] { return task_count() >= 2; }));
    pthread_mutex_lock(g_lock_manager->global_lock);
    int fd = ok.telnet_fd;
    EXPECT_GT(fd, 0);
    EXPECT_NE(ok.telnet_fp, nullptr);
    EXPECT_EQ(ok.sm_state, 0x10000u); // SM_ITAPI_SOCKET_CREATED
    EXPECT_EQ(refused.telnet_fd, 0);
    pthread_mutex_unlock(g_lock_manager->global_lock);
    lock_itapi();
    EXPECT_EQ(gp->telnet_new_outgoing_call, 0);
    unlock_itapi();
    {
        std::lock_guard<std::mutex> lk(doubles_mutex);
        ASSERT_EQ(tasks.size(), 2u);
        EXPECT_EQ(tasks[0].co, &ok);
        EXPECT_EQ(tasks[0].event, 0x3000101d);
        EXPECT_FALSE(tasks[0].check_pid);
        EXPECT_EQ(tasks[1].co, &refused);
        EXPECT_EQ(tasks[1].event, 0x30001002);
        EXPECT_TRUE(tasks[1].check_pid);
    }
    EXPECT_TRUE(log.count("CRITICAL: Couldn't connect to telnet server") > 0);
    EXPECT_EQ(itapi_state(fd), ITAPI_OUTBOUND_IN_USE);
    lock_itapi();
    EXPECT_EQ(itapi_fds_remote_ports[fd], ok.telnet_remote_telnet_port);
    EXPECT_EQ(itapi_fds_local_ports[fd], ok.telnet_local_telnet_port);
    unlock_itapi();

    // The peer's lines go to the reply parser of the bound call; when the
    // peer closes, the call loses its connection and is finished.
    int conn = accept(peer, nullptr, nullptr);
    ASSERT_GE(conn, 0);
    bound_co = &ok;
    bound_fd = fd;
    const char greeting[] = "quilmar VoIP Gateway Console\r\n\r\nALERTING\n";
    ASSERT_EQ(write(conn, greeting, sizeof greeting - 1), (ssize_t)sizeof greeting - 1);
    EXPECT_TRUE(console_wait_for([] {
        std::lock_guard<std::mutex> lk(doubles_mutex);
        return itapi_lines.size() >= 2;
    }));
    close(conn);
    ASSERT_TRUE(console_wait_for([] { return task_count() >= 3; }));
    pthread_mutex_lock(g_lock_manager->global_lock);
    EXPECT_EQ(ok.telnet_fd, 0);
    EXPECT_EQ(ok.telnet_fp, nullptr);
    gp->operations[0] = saved[0];
    gp->operations[1] = saved[1];
    pthread_mutex_unlock(g_lock_manager->global_lock);
    {
        std::lock_guard<std::mutex> lk(doubles_mutex);
        EXPECT_EQ(itapi_lines, (std::vector<std::string>{"quilmar VoIP Gateway Console", "ALERTING"}));
        EXPECT_EQ(tasks[2].co, &ok);
        EXPECT_EQ(tasks[2].event, 0x30001002);
    }
    EXPECT_TRUE(console_wait_for([&] { return itapi_state(fd) == ITAPI_CLOSED; }));
    close(peer);
}

TEST_F(StatusServer, AnOutboundDescriptorBeyondTheTablesIsRefused)
{
    // Push the next free descriptor past 511.
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_cur < 700) {
        lim.rlim_cur = lim.rlim_max < 1024 ? lim.rlim_max : 1024;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
    if (lim.rlim_cur < 700)
        GTEST_SKIP() << "too few descriptors allowed";
    server s("itapi_support=1");
    int peer = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(peer, (sockaddr *)&a, sizeof a);
    listen(peer, 1);
    socklen_t l = sizeof a;
    getsockname(peer, (sockaddr *)&a, &l);
    std::vector<int> filler;
    for (int fd = dup(0); fd >= 0 && fd < 600; fd = dup(0))
        filler.push_back(fd);

    static call_object co{};
    co.sm_state = 0x80000;
    snprintf(co.telnet_remote_address, sizeof co.telnet_remote_address, "127.0.0.1");
    co.telnet_remote_telnet_port = ntohs(a.sin_port);
    call_object *saved = gp->operations[0];
    pthread_mutex_lock(g_lock_manager->global_lock);
    gp->operations[0] = &co;
    pthread_mutex_unlock(g_lock_manager->global_lock);
    lock_itapi();
    gp->telnet_new_outgoing_call = 1;
    unlock_itapi();
    ASSERT_TRUE(console_wait_for([] { return task_count() >= 1; }));
    pthread_mutex_lock(g_lock_manager->global_lock);
    gp->operations[0] = saved;
    EXPECT_EQ(co.telnet_fd, 0);
    pthread_mutex_unlock(g_lock_manager->global_lock);
    EXPECT_EQ(tasks[0].event, 0x30001002);
    EXPECT_TRUE(tasks[0].check_pid);
    for (int fd : filler)
        close(fd);
    close(peer);
}

TEST_F(StatusServer, ClosingAClientResetsItsCall)
{
    debug_lines log({TARN});
    server s("itapi_support=1");
    client a(s.port);
    a.read_until(GREETING);
    static call_object co{};
    co.callinfo = CI_TELNET_TO_ISDN;
    int fd = server::fd_of(a);
    co.telnet_fd = fd;
    bound_co = &co;
    bound_fd = fd;
    a.send("q\n");
    EXPECT_EQ(a.read_until("Closing terminal\n\r\n"), "Closing terminal\n\r\n");
    EXPECT_TRUE(a.closed_by_server());
    EXPECT_TRUE(console_wait_for([] {
        std::lock_guard<std::mutex> lk(doubles_mutex);
        return resets.size() == 1;
    }));
    EXPECT_EQ(resets[0], &co);
    EXPECT_EQ(co.telnet_fd, 0);
    EXPECT_EQ(co.telnet_fp, nullptr);
    EXPECT_TRUE(console_wait_for([&] { return log.count("client disconnect2 ") > 0; })); // logged after the close
}

TEST(StatusServerSocket, FailuresReturnZero)
{
    if (!gp) {
        application_create();
        init_locks();
    }
    debug_lines log({TARN});
    _parse_experimental_options("");
    snprintf(gp->statusport, sizeof gp->statusport, "0");
    int first = init_status_server();
    ASSERT_GT(first, 0);
    sockaddr_in a{};
    socklen_t l = sizeof a;
    getsockname(first, (sockaddr *)&a, &l);
    EXPECT_EQ(a.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    snprintf(gp->statusport, sizeof gp->statusport, "%d", ntohs(a.sin_port));
    EXPECT_EQ(init_status_server(), 0);
    EXPECT_TRUE(log.count("Error binding status server on port " + std::string(gp->statusport) + "!") > 0);
    close(first);
    snprintf(gp->statusport, sizeof gp->statusport, "70000");
    EXPECT_EQ(init_status_server(), 0);

    _parse_experimental_options("telnet_remote_access=1");
    snprintf(gp->statusport, sizeof gp->statusport, "0");
    int any = init_status_server();
    ASSERT_GT(any, 0);
    l = sizeof a;
    getsockname(any, (sockaddr *)&a, &l);
    EXPECT_EQ(a.sin_addr.s_addr, htonl(INADDR_ANY));
    close(any);
    _parse_experimental_options("");
}

TEST(StatusServerNames, ItapiStates)
{
    const char *names[] = {"CLOSED", "ITAPI_INBOUND_FREE", "ITAPI_INBOUND_IN_USE", "ITAPI_OUTBOUND_FREE",
                           "ITAPI_OUTBOUND_IN_USE", "ITAPI_OUTBOUND_CONNECTING"};
    for (int i = 0; i < 6; i++)
        EXPECT_STREQ(itapi_print_fd_state(i), names[i]);
    EXPECT_STREQ(itapi_print_fd_state(6), "UNKNOWN");
    EXPECT_STREQ(itapi_print_fd_state(-1), "UNKNOWN");
}

} // namespace
