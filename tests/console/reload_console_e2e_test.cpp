// The console's reload, log, trace and statistics commands against the
// whole daemon: rotation and the message log on disk, the debug and verbose
// streams handed between clients, the network log toward a UDP socket of
// the test, the CAS trace markers, the SIP side's register switch, and the
// SIP peers reloaded in the background against a registrar.
#include <gtest/gtest.h>

#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "console_test_util.h"
#include "e2e.h"
#include "sipp_case.h"

namespace {

const int STATUS_PORT = 54322;

bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The lines of a file that end in text.
std::vector<std::string> lines_ending(const std::string &file, const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(read_text_file(file));
    for (std::string l; std::getline(in, l);)
        if (l.size() >= text.size() && l.compare(l.size() - text.size(), text.size(), text) == 0)
            out.push_back(l);
    return out;
}

// The files a process holds open (the targets of its descriptors).
std::string open_files(pid_t pid)
{
    std::string all, dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR *d = opendir(dir.c_str());
    for (dirent *e = d ? readdir(d) : nullptr; e; e = readdir(d)) {
        char target[512];
        ssize_t n = readlink((dir + "/" + e->d_name).c_str(), target, sizeof target - 1);
        if (n > 0)
            all += std::string(target, (size_t)n) + "\n";
    }
    if (d)
        closedir(d);
    return all;
}

std::string ask(console_conn &c, const std::string &line)
{
    c.send(line + "\n");
    return c.read_until("\r\n");
}

bool console_listens(const e2e_world &w)
{
    return e2e_world::wait_for(
        [&] { return w.ns.run({"ss", "-ltnH"}).out.find(":" + std::to_string(STATUS_PORT) + " ") != std::string::npos; },
        20000);
}

struct ReloadConsoleE2E : ::testing::Test {
    e2e_world w;
    void SetUp() override
    {
        if (!w.ok())
            return;
        ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
        ASSERT_TRUE(console_listens(w));
    }
    std::string log(const std::string &name) const { return w.root.path("var/log/" + name); }
};

// "logrotate" moves the log to its second name; "nlog" writes only a level,
// a colon and text; the full-trace marker starts fresh files.
TEST_F(ReloadConsoleE2E, RotationAndTheMessageLog)
{
    E2E_REQUIRE(w);
    e2e_namespace::net_guard inside(w.ns);
    ASSERT_TRUE(inside.ok());
    console_conn c(STATUS_PORT);
    ASSERT_EQ(c.read_until(CONSOLE_GREETING), CONSOLE_GREETING);

    ASSERT_TRUE(exists(log("tarn.log.1")));
    EXPECT_FALSE(exists(log("tarn.log.2")));
    EXPECT_EQ(ask(c, "logrotate"), "\r\n");
    EXPECT_TRUE(exists(log("tarn.log.2")));

    EXPECT_EQ(ask(c, "nlog3:before"), "\r\n");
    EXPECT_EQ(ask(c, "nlog3hello"), "\r\n");
    EXPECT_EQ(ask(c, "nlog3"), "\r\n");
    EXPECT_EQ(ask(c, "nlog3:hello"), "\r\n");
    ASSERT_TRUE(e2e_world::wait_for([&] { return !lines_ending(log("tarn.nlog.1"), "hello").empty(); }, E2E_WAIT_MS))
        << read_text_file(log("tarn.nlog.1"));
    std::string nlog = read_text_file(log("tarn.nlog.1"));
    EXPECT_EQ(lines_ending(log("tarn.nlog.1"), "hello").size(), 1u) << nlog;
    EXPECT_EQ(lines_ending(log("tarn.nlog.1"), "before").size(), 1u) << nlog;
    EXPECT_EQ(nlog.find("3hello"), std::string::npos) << nlog;

    EXPECT_EQ(ask(c, "nlog0::Fulltrace started"), "\r\n");
    ASSERT_TRUE(e2e_world::wait_for([&] { return !lines_ending(log("tarn.nlog.1"), ":Fulltrace started").empty(); },
                                    10000));
    nlog = read_text_file(log("tarn.nlog.1"));
    EXPECT_EQ(nlog.find("hello"), std::string::npos) << "the message log starts anew: " << nlog;
    EXPECT_EQ(lines_ending(log("tarn.nlog.2"), "hello").size(), 1u);
    EXPECT_EQ(read_text_file(log("tarn.log.1")).find("nlog3:before"), std::string::npos)
        << "the debug log starts anew";
    EXPECT_EQ(ask(c, "nlog0::Fulltrace stopped"), "\r\n");
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// One client at a time gets the debug lines; "verbose" opens and closes
// the verbose file; the network log reaches a UDP socket; the CAS trace
// gets its markers once; statistics and the register switch answer.
TEST_F(ReloadConsoleE2E, StreamsNetlogCasTraceAndSwitches)
{
    E2E_REQUIRE(w);
    e2e_namespace::net_guard inside(w.ns);
    ASSERT_TRUE(inside.ok());
    {
        // The stream moves from A to B; A may still get a line or two
        // while it moves, so A's and B's answers are looked for among them.
        console_conn a(STATUS_PORT), b(STATUS_PORT);
        ASSERT_EQ(a.read_until(CONSOLE_GREETING), CONSOLE_GREETING);
        ASSERT_EQ(b.read_until(CONSOLE_GREETING), CONSOLE_GREETING);
        a.send("dbg\n");
        EXPECT_EQ(a.read_until("Debug On.\n").rfind("Debug On.\n", 0), 0u);
        b.send("dbg\n");
        std::string told = a.read_until("Debug Off.\n");
        EXPECT_NE(told.find("Debug Off.\n"), std::string::npos) << "A is told that it lost the stream: " << told;
        std::string got = b.read_until("Debug On.\n");
        EXPECT_EQ(got.rfind("Debug On.\n", 0), 0u) << got;
        b.send("nlog9:now\n");
        got = b.read_until("|nlog9:now| on fd");
        EXPECT_NE(got.find("|nlog9:now| on fd"), std::string::npos) << "B receives the debug lines: " << got;
        b.send("dbg\n");
        got = b.read_until("Debug Off.\n\r\n");
        EXPECT_NE(got.find("Debug Off.\n\r\n"), std::string::npos) << got;
    }
    console_conn a(STATUS_PORT);
    ASSERT_EQ(a.read_until(CONSOLE_GREETING), CONSOLE_GREETING);

    std::string vfile = w.root.path("var/log/dialplan_debug.log");
    EXPECT_EQ(ask(a, "verbose"), "verbose ON.\n\r\n");
    EXPECT_TRUE(exists(vfile));
    EXPECT_NE(open_files(w.tarn_pid()).find(vfile), std::string::npos);
    EXPECT_EQ(ask(a, "verbose"), "verbose Off.\n\r\n");
    EXPECT_EQ(open_files(w.tarn_pid()).find(vfile), std::string::npos) << "the verbose file is closed";

    // the network log toward a socket of the test
    int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(udp, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(udp, (sockaddr *)&at, sizeof at), 0);
    socklen_t len = sizeof at;
    getsockname(udp, (sockaddr *)&at, &len);
    std::string target = "127.0.0.1:" + std::to_string(ntohs(at.sin_port));
    ask(a, "n:" + target);
    EXPECT_EQ(ask(a, "t1"), "Netlog is now on\n\r\n");
    EXPECT_EQ(ask(a, "ts"), "Netlog is on: " + target + "\n\r\n");
    bool received = false;
    for (int tries = 0; tries < 20 && !received; tries++) {
        ask(a, "nlog9:ping");
        pollfd p = {udp, POLLIN, 0};
        received = poll(&p, 1, 500) == 1;
    }
    EXPECT_TRUE(received) << "lines reach the network log's target";
    EXPECT_EQ(ask(a, "t"), "Netlog is now off\n\r\n");
    close(udp);

    std::string cas = w.root.path("tmp/tarn_cas.log");
    EXPECT_EQ(ask(a, "caslog1"), "cas log: 1\n\r\n");
    EXPECT_EQ(ask(a, "caslog1"), "cas log: 1\n\r\n");
    EXPECT_EQ(ask(a, "caslog0"), "cas log: 0\n\r\n");
    ASSERT_TRUE(e2e_world::wait_for([&] { return read_text_file(cas).find("CASLOG STOP") != std::string::npos; },
                                    10000))
        << read_text_file(cas);
    std::string trace = read_text_file(cas);
    size_t start = trace.find("CASLOG START");
    EXPECT_NE(start, std::string::npos) << trace;
    EXPECT_EQ(trace.find("CASLOG START", start + 1), std::string::npos) << "one marker for two switches on";
    EXPECT_LT(start, trace.find("CASLOG STOP"));

    EXPECT_EQ(ask(a, "sr"), "Resetted call statistics\n\r\n");
    EXPECT_EQ(ask(a, "reject_register"), "Now rejecting register requests\r\n");
    EXPECT_EQ(ask(a, "reject_register"), "Now accepting register requests\r\n");
    EXPECT_TRUE(w.tarn_running());
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// The REGISTERs a registrar recorded: {Call-ID, expires} per request.
std::vector<std::pair<std::string, int>> registers(const std::string &record)
{
    std::vector<std::pair<std::string, int>> out;
    std::istringstream in(read_text_file(record));
    std::string word, id;
    int expires;
    while (in >> word >> id >> expires)
        out.push_back({id, expires});
    return out;
}

size_t unregistrations(const std::string &record)
{
    size_t n = 0;
    for (const auto &r : registers(record))
        n += r.second == 0;
    return n;
}

// "rs" answers at once and the reload runs in the background: the peer
// unregisters and registers afresh. While the reload waits for the
// unregistration's answer, which the registrar holds back, a second "rs" is
// refused.
TEST(ReloadConsoleSip, PeersReloadInTheBackground)
{
    const char *addr = "10.0.1.5";
    e2e_options o;
    o.ifaces.push_back({"eth0", std::string(addr) + "/24"});
    e2e_world w(o);
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    std::string record = w.root.path("registrar.record");
    e2e_child registrar(w, "registrar",
                        {"python3", std::string(TARN_SOURCE_DIR) + "/tests/console/registrar.py", addr, "5990",
                         record, "3000"});
    w.root.write("usr/conf/tarn.sip", w.root.default_sip() +
                                          "stack_active_lan = 1\ninterface_name_lan = eth0\n"
                                          "[reg]\nsip_stack=lan\nsip_proxy=" + addr + ":5990\nuser=alice\n"
                                          "secret=secret\nregister=yes\n"
                                          "register_options=no-validate no-options-keepalive\n");
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    ASSERT_TRUE(console_listens(w));
    ASSERT_TRUE(e2e_world::wait_for([&] { return !registers(record).empty(); }, E2E_WAIT_MS)) << registrar.text();
    std::string first = registers(record)[0].first;

    e2e_namespace::net_guard inside(w.ns);
    ASSERT_TRUE(inside.ok());
    console_conn c(STATUS_PORT);
    ASSERT_EQ(c.read_until(CONSOLE_GREETING), CONSOLE_GREETING);
    // Should the second "rs" come after the reload's wait on a loaded
    // machine, it starts a reload of its own and the pair is tried again.
    bool refused = false;
    for (int tries = 0; tries < 5 && !refused; tries++) {
        size_t before = unregistrations(record);
        EXPECT_EQ(ask(c, "rs"), "reloaded sip peers\n\r\n");
        ASSERT_TRUE(e2e_world::wait_for([&] { return unregistrations(record) > before; }, E2E_WAIT_MS))
            << read_text_file(record);
        std::string again = ask(c, "rs");
        refused = again == "Reregister already in progress!\r\n";
        if (!refused) {
            EXPECT_EQ(again, "reloaded sip peers\n\r\n");
        }
        // the reload (or both) ends with a fresh registration
        ASSERT_TRUE(e2e_world::wait_for(
            [&] {
                auto r = registers(record);
                return !r.empty() && r.back().second > 0 && r.back().first != first;
            },
            30000))
            << read_text_file(record);
        first = registers(record).back().first;
    }
    EXPECT_TRUE(refused) << read_text_file(record);
    EXPECT_TRUE(w.tarn_running());
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

} // namespace
