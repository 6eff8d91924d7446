#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "log_test_util.h"

namespace {

// A UDP socket on 127.0.0.1 with a port of its own.
struct Receiver {
    int fd = -1;
    int port = 0;
    Receiver()
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, (sockaddr *)&a, sizeof a);
        socklen_t l = sizeof a;
        getsockname(fd, (sockaddr *)&a, &l);
        port = ntohs(a.sin_port);
    }
    ~Receiver() { close(fd); }
    std::string port_text() const { return std::to_string(port); }
    // The next datagram within the wait, or "" when none came.
    std::string next(int wait_ms = 1000)
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, wait_ms) != 1)
            return "";
        char buf[8192];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, (size_t)n) : "";
    }
};

class Udp : public LogDir {};

struct Target {
    const char *logserver;
    int rc;
    const char *ip, *port;
    bool open;
};

TEST_F(Udp, NetlogTargetFromLogserverText)
{
    const Target targets[] = {
        {nullptr, -1, "", "", false},
        {"127.0.0.1", -1, "", "", false},
        {"127.0.0.1:", -1, "", "", false},
        {":514", -1, "", "", false},
        {"127.0.0.1:0", 0, "127.0.0.1", "0", false},
        {"127.0.0.1:5514", 0, "127.0.0.1", "5514", true},
        {"a-very-long-host-name-beyond-31-characters.example:99999999999999999999999999999999999",
         0, "a-very-long-host-name-beyond-31", "9999999999999999999999999999999", false},
    };
    for (const Target &t : targets) {
        SCOPED_TRACE(t.logserver ? t.logserver : "(unreadable)");
        stop_netlog();
        EXPECT_EQ(init_netlog(t.logserver), t.rc);
        EXPECT_STREQ(log_backend()->logip, t.ip);
        EXPECT_STREQ(log_backend()->logport, t.port);
        EXPECT_EQ(log_backend()->netlogfd > 0, t.open);
    }
    stop_netlog();
    EXPECT_EQ(log_backend()->netlogfd, -1);
    EXPECT_EQ(set_udp_log("127.0.0.1", "no-such-service"), -1);
}

TEST_F(Udp, NetlogCanBeStoppedToggledAndRetargeted)
{
    Receiver a, b;
    ASSERT_EQ(update_netlog_target("127.0.0.1", a.port_text().c_str()), 0);
    LOGD(ISDN, 2, nullptr, "to a");
    EXPECT_NE(a.next().find("to a"), std::string::npos);

    stop_netlog();
    LOGD(ISDN, 2, nullptr, "nowhere");
    toggle_netlog();
    LOGD(ISDN, 2, nullptr, "a again");
    EXPECT_NE(a.next().find("a again"), std::string::npos); // "nowhere" never came

    ASSERT_EQ(update_netlog_target("127.0.0.1", b.port_text().c_str()), 0);
    EXPECT_STREQ(log_backend()->logport, b.port_text().c_str());
    log_msg_message(16, GSM, "f.cpp", 1, "to b");
    EXPECT_EQ(b.next(), "<135> MSG_0_GSM      : to b\n");
    EXPECT_EQ(a.next(50), "");
    toggle_netlog();
    EXPECT_EQ(log_backend()->netlogfd, -1);
}

struct LocalCase {
    const char *kind;
    int active;
    bool arrives;
};

TEST_F(Udp, LocalLogCarriesMessagesAlwaysAndDebugWhenActive)
{
    Receiver r;
    init_locallog(r.port_text().c_str());
    ASSERT_GT(log_backend()->locallogfd, 0);
    int fd = log_backend()->locallogfd;
    init_locallog("1"); // already open: unchanged
    EXPECT_EQ(log_backend()->locallogfd, fd);
    EXPECT_STREQ(log_backend()->locallogport, r.port_text().c_str());

    const LocalCase cases[] = {
        {"debug", 0, false}, {"legacy", 0, false}, {"message", 0, true},
        {"debug", 1, true},  {"legacy", 1, true},  {"message", 1, true},
    };
    for (const LocalCase &c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " active=" + std::to_string(c.active));
        log_backend()->local_log_active = c.active;
        std::string k = c.kind;
        if (k == "debug")
            LOGD(ANALOG, 1, nullptr, "local %s", c.kind);
        else if (k == "legacy")
            log_msg_legacy(1, ANALOG, "f.c", 1, "local %s", c.kind);
        else
            log_msg_message(17, ANALOG, "f.c", 1, "local %s", c.kind);
        std::string got = r.next(c.arrives ? 1000 : 50);
        if (c.arrives)
            EXPECT_NE(got.find(std::string("local ") + c.kind + "\n"), std::string::npos) << got;
        else
            EXPECT_EQ(got, "");
    }
}

// ---- the network log seen by outside tools -----------------------------------

int free_local_port()
{
    Receiver r;
    return r.port;
}

std::string run(const std::string &cmd)
{
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

// The syslog facility and level tshark reads from one datagram payload.
std::string tshark_syslog(const std::string &dir, const std::string &payload, int port)
{
    std::string hex;
    char buf[32];
    for (size_t i = 0; i < payload.size(); i++) {
        if (i % 16 == 0) {
            snprintf(buf, sizeof buf, "%s%06zx", i ? "\n" : "", i);
            hex += buf;
        }
        snprintf(buf, sizeof buf, " %02x", (unsigned char)payload[i]);
        hex += buf;
    }
    spit(dir + "/d.hex", hex + "\n");
    std::string pcap = dir + "/d.pcap";
    run("text2pcap -q -u 40000," + std::to_string(port) + " " + dir + "/d.hex " + pcap +
        " 2>&1");
    return run("tshark -r " + pcap + " -d udp.port==" + std::to_string(port) +
               ",syslog -T fields -e syslog.facility -e syslog.level 2>/dev/null");
}

// How long socat may take to start and to write what it received: long, so
// that a loaded machine (sanitizers, tests side by side) is no failure.
const auto SOCAT_PATIENCE = std::chrono::seconds(60);

// socat receiving on a port of its own into the file out, up once the probe
// lines of the network log reach the file; -1 when it did not come up.
pid_t start_socat(const std::string &out, int &port)
{
    // socat binds the port itself: another port is tried when socat ends
    // first (the port was taken meanwhile).
    for (int attempt = 0; attempt < 5; attempt++) {
        port = free_local_port();
        pid_t p = fork();
        if (p < 0)
            return -1;
        if (p == 0) {
            FILE *f = freopen(out.c_str(), "w", stdout);
            (void)f;
            std::string addr = "UDP-RECV:" + std::to_string(port) + ",bind=127.0.0.1";
            execlp("socat", "socat", "-u", addr.c_str(), "-", (char *)nullptr);
            _exit(127);
        }
        stop_netlog();
        std::string logserver = "127.0.0.1:" + std::to_string(port);
        if (init_netlog(logserver.c_str()) != 0)
            return -1;
        // Until socat is listening, lines are lost: probe until one arrives.
        const auto until = std::chrono::steady_clock::now() + SOCAT_PATIENCE;
        while (std::chrono::steady_clock::now() < until) {
            if (waitpid(p, nullptr, WNOHANG) == p) {
                p = -1;
                break;
            }
            log_msg_message(16, TARN, "f.cpp", 1, "probe");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!slurp(out).empty())
                return p;
        }
        if (p > 0) {
            kill(p, SIGTERM);
            waitpid(p, nullptr, 0);
        }
    }
    return -1;
}

TEST_F(Udp, SocatReceivesNetlogAndTsharkDecodesFacilityAndLevel)
{
    const std::string out = path("socat.out");
    int port = 0;
    pid_t pid = start_socat(out, port);
    ASSERT_GT(pid, 0) << "socat did not start";

    LOGD(SIP, 3, nullptr, "debug line over the network");
    log_backend()->syslog_facility = 20;
    log_msg_message(33, MSP, "f.cpp", 1, "error line over the network");
    log_backend()->syslog_facility = 16;

    std::string debug_line, error_line;
    const auto until = std::chrono::steady_clock::now() + SOCAT_PATIENCE;
    while (error_line.empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::stringstream ss(slurp(out));
        for (std::string l; std::getline(ss, l);) {
            if (l.find("debug line over the network") != std::string::npos)
                debug_line = l + "\n";
            if (l.find("error line over the network") != std::string::npos)
                error_line = l + "\n";
        }
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);

    ASSERT_FALSE(debug_line.empty());
    ASSERT_FALSE(error_line.empty());
    EXPECT_EQ(error_line, "<167> ERR_1_MSP      : error line over the network\n");
    EXPECT_EQ(tshark_syslog(dir, debug_line, port), "16\t7\n");   // local0, debug
    EXPECT_EQ(tshark_syslog(dir, error_line, port), "20\t7\n");   // local4, debug
}

} // namespace
