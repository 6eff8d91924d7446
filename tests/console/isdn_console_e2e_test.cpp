// The console's ISDN commands against the whole daemon: a basic-rate TE
// port of the mISDN stand-in faces q931peer as the network, the commands
// come over the status port (and standard input), and what went out on the
// D-channel is read back from the port's trace by tshark.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "console_test_util.h"
#include "isdn_calls.h"
#include "sipp_case.h"

namespace {

const int STATUS_PORT = 54322;

size_t count_of(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

// The gateway on ISDN port 1 (TE, point-to-point) with the network side
// as its far end, a SIP stack for calls toward the port, and a console
// client inside the daemon's namespace.
struct isdn_console {
    e2e_world w;
    e2e_isdn_ports isdn;
    std::unique_ptr<e2e_child> peer;

    isdn_console() : w(sipp_world_options()), isdn(w, "[isdn1]\nports=1\n", {{1, "te"}}) {}

    // Starts the far end with its steps (and its pipe for more, when
    // given), then tarn; true once both are up and the console listens.
    bool start(const std::vector<std::string> &steps, const std::string &steps_pipe = "")
    {
        sipp_keep_on_failure(w);
        sipp_write_config(w, "usr/conf/tarn.sip", "[general]\nsip_bindport_localhost = @SIP_PORT@\n");
        w.root.write("usr/conf/tarn.tdm", "timeslot 0 1 1 0\ntimeslot 0 1 2 1\n");
        w.root.write("usr/conf/tarn.dialplan", "SIP\tISDN\t*\t1\t1.*\t\\0\t*\t\\0\t\n");
        std::vector<std::string> argv = isdn.peer_argv(1, steps);
        if (!steps_pipe.empty())
            argv.insert(argv.end(), {"--steps", steps_pipe});
        peer = std::make_unique<e2e_child>(w, "peer", argv);
        if (!peer->wait("READY", 20000) || !sipp_start_tarn(w, isdn.env()) || !peer->wait("UP", 30000))
            return false;
        return e2e_world::wait_for(
            [&] { return w.ns.run({"ss", "-ltnH"}).out.find(":" + std::to_string(STATUS_PORT) + " ") != std::string::npos; },
            20000);
    }

    // The gateway's messages on the port (commands from the user side),
    // with the fields asked for.
    std::vector<std::string> sent(const std::string &filter, const std::vector<std::string> &fields) const
    {
        return e2e_q931_messages(isdn.port(1).trace, "lapd.cr == 0 && " + filter, fields);
    }
};

// One command and its whole answer (up to the closing "\r\n").
std::string ask(console_conn &c, const std::string &line)
{
    c.send(line + "\n");
    return c.read_until("\r\n");
}

// RESTART by hand and its mark against a second one from standard input;
// refused ports; diversion requests that the network leaves unanswered;
// blocking and layer 2.
TEST(IsdnConsoleE2E, PortCommandsAndDiversionRequests)
{
    isdn_console g;
    E2E_REQUIRE(g.w);
    ASSERT_TRUE(g.start({})) << g.w.tarn_err() << g.peer->text();
    e2e_namespace::net_guard inside(g.w.ns);
    ASSERT_TRUE(inside.ok());
    console_conn c(STATUS_PORT);
    ASSERT_EQ(c.read_until(CONSOLE_GREETING), CONSOLE_GREETING);

    EXPECT_EQ(ask(c, "ir1:0"), "sending restart port 1 channel 0\n\r\n");
    EXPECT_TRUE(g.peer->wait("RESTART")) << g.peer->text();
    EXPECT_EQ(ask(c, "ir40"), "INVALID PORT 40\n\r\n");

    // A client's "ir1" holds the port's mark for half a second; standard
    // input asks meanwhile. Should the second come too late on a loaded
    // machine, it has sent its own RESTART and the pair is tried again.
    bool refused = false;
    for (int tries = 0; tries < 5 && !refused; tries++) {
        std::string out = g.w.tarn_out();
        size_t own = count_of(out, "sending restart port 1 channel 0\n");
        c.send("ir1\n");
        std::string answer = c.read_until("channel 0\n");
        g.w.console("ir1");
        if (answer.find("\r\n") == std::string::npos)
            answer += c.read_until("\r\n");
        EXPECT_EQ(answer, "sending restart port 1 channel 0\n\r\n");
        // On standard output another thread's log line may fall between
        // an answer and its "\r\n": the answers' own lines are looked for.
        ASSERT_TRUE(e2e_world::wait_for(
            [&] {
                std::string o = g.w.tarn_out();
                return o.find("ALREADY IN PROGRESS ON PORT 1\n") != std::string::npos ||
                       count_of(o, "sending restart port 1 channel 0\n") > own;
            },
            20000))
            << g.w.tarn_out();
        refused = g.w.tarn_out().find("ALREADY IN PROGRESS ON PORT 1\n") != std::string::npos;
    }
    EXPECT_TRUE(refused) << g.w.tarn_out();

    EXPECT_EQ(ask(c, "cfdeact:9:123"), "INVALID PORT 9\n\r\n");
    for (int i = 0; i < 2; i++) {
        auto t0 = std::chrono::steady_clock::now();
        std::string a = ask(c, "cfquery:1:123");
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        std::string head = "Interrogating Diversion: Served User Number |123| Ton |-1|\n";
        EXPECT_EQ(a, head + "TIMEOUT\n\r\n") << i;
        EXPECT_GE(ms, 950) << "ten polls of 100 ms";
    }
    // Two interrogations, nothing of the refused deactivation.
    std::vector<std::string> facilities = g.sent("q931.message_type == 0x62", {"q932.ros.local"});
    EXPECT_EQ(facilities, std::vector<std::string>({"11", "11"}));

    EXPECT_EQ(ask(c, "bl1"), "Blocking ISDN Port 1\n\r\n");
    EXPECT_EQ(ask(c, "bl1"), "Un-Blocking ISDN Port 1\n\r\n");
    EXPECT_EQ(ask(c, "l2up1"), "Port 1: L2 UP\n\r\n");
    EXPECT_TRUE(g.w.tarn_running());
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

// Commands on a call from SIP that the network answered: HOLD, a raw
// facility, the refusals of a missing colon and of an index outside the
// pool. The far end clears the call once the test lets it.
TEST(IsdnConsoleE2E, CommandsOnACall)
{
    isdn_console g;
    E2E_REQUIRE(g.w);
    std::string go = g.w.root.path("go");
    ASSERT_TRUE(g.start({"wait ring 60", "proceeding", "alerting", "answer", "waitfile " + go + " 120", "hangup"}))
        << g.w.tarn_err() << g.peer->text();
    auto call = std::async(std::launch::async, [&] {
        return sipp_run(g.w, {std::string(TARN_SOURCE_DIR) + "/tests/e2e/cas/uac_cleared.xml", 1, "127.0.0.1",
                              {"-s", "1001"}});
    });
    ASSERT_TRUE(g.peer->wait("CONNECT_ACK", 30000)) << g.peer->text();

    e2e_namespace::net_guard inside(g.w.ns);
    ASSERT_TRUE(inside.ok());
    {
        console_conn c(STATUS_PORT);
        ASSERT_EQ(c.read_until(CONSOLE_GREETING), CONSOLE_GREETING);
        EXPECT_EQ(ask(c, "ev_hold:0"), "Sending HOLD to call at index 0\n\r\n");
        EXPECT_EQ(ask(c, "sendfac_idx0:kaETAgIq9QIBIjAKoQUwAwIBAYIBAA=="),
                  "Sending Facility Event on call at index 0\n\r\n");
        EXPECT_EQ(ask(c, "sendfac_idx0"), "Please pass call index and base64 encoded data separated by a colon\n\r\n");
        EXPECT_EQ(ask(c, "hold300"), "no bc object on call at index 300\n\r\n");
        EXPECT_EQ(ask(c, "ev_hold:300"), "Not sending HOLD to call at invalid index 300\n\r\n");
        // user-user text, then the test elements of variables 0 and 2
        for (const char *line : {"tti51", "inf0:hello", "tti50", "tti01", "tti252", "inf0"}) {
            std::string a = ask(c, line);
            EXPECT_TRUE(a == "\r\n" || a.rfind("var[0] = ", 0) == 0) << line << ": " << a;
        }
        c.send("q\n");
    }
    g.w.root.write("go", "");
    EXPECT_TRUE(sipp_ok(call.get()));

    std::vector<std::string> types = g.sent("q931.message_type == 0x24 || q931.message_type == 0x62",
                                            {"q931.message_type", "q932.pp", "q932.ros.present", "q932.ros.local"});
    EXPECT_EQ(types, std::vector<std::string>({"0x24\t\t\t", "0x62\t0x11\t10997\t34"}))
        << "HOLD, then the facility 91 a1 13 02 02 2a f5 02 01 22 ...";
    std::vector<std::string> uu = g.sent("q931.message_type == 0x7b || q931.message_type == 0x20",
                                         {"q931.message_type", "q931.user.protocol_discriminator", "q931.user.string",
                                          "q931.user.bytes"});
    EXPECT_EQ(uu, std::vector<std::string>({"0x7b\t0x84\t\t68656c6c6f", "0x20\t0x84\t\t8210090134"}))
        << "INFORMATION with the text \"hello\", USER INFORMATION with the test element of variable 2 (52)";
    EXPECT_TRUE(g.w.tarn_running());
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

// One more step for the far end, through its pipe.
void peer_step(const std::string &pipe, const std::string &step)
{
    int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << pipe;
    std::string line = step + "\n";
    EXPECT_EQ(write(fd, line.data(), line.size()), (ssize_t)line.size());
    close(fd);
}

// The network's answers to diversion requests (sent by the far end as soon
// as the request has gone out) reach the console: the forwardings and the
// served numbers as lines, an empty list, a bare result and an error.
TEST(IsdnConsoleE2E, DiversionAnswersFromTheNetwork)
{
    isdn_console g;
    E2E_REQUIRE(g.w);
    std::string pipe = g.w.root.path("peer.steps");
    ASSERT_TRUE(g.start({}, pipe)) << g.w.tarn_err() << g.peer->text();
    e2e_namespace::net_guard inside(g.w.ns);
    ASSERT_TRUE(inside.ok());
    console_conn c(STATUS_PORT);
    ASSERT_EQ(c.read_until(CONSOLE_GREETING), CONSOLE_GREETING);

    const struct {
        const char *line, *facility, *answer;
    } rows[] = {
        // 123 (unknown party number) forwarded unconditionally to 456 (public, international)
        {"cfquery:1:123", "91a223020105301e02010b3119301780033132330a01000a0100300aa1080a01011203343536",
         "Interrogating Diversion: Served User Number |123| Ton |-1|\n"
         "Procedure |cfu| BasicService |0| ServedUserNumber |123| Ton |-1| ForwardedToNumber |456| Ton |1|\n"},
        {"cfnum:1", "91a2180201053013020111310e8003313131a1070a010412023232",
         "Interrogating Numbers: ServedUserNumber || Ton |-1|\n"
         "ServedUserNumber |111| Ton |-1|\nServedUserNumber |22| Ton |4|\n"},
        {"cfquery:1:123:national", "91a20a020105300502010b3100",
         "Interrogating Diversion: Served User Number |123| Ton |2|\nNo Call Forwarding Active\n"},
        {"cfact:1:123:456", "91a203020105",
         "Activating Diversion ServedUserNumber |123| Ton |-1|, ForwardedToNumber |456| Ton |0|  => \nSUCCESS\n"},
        {"cfdeact:1:123", "91a306020105020100", "Deactivating Diversion ServedUserNumber |123| Ton |-1|\nFAILED\n"},
    };
    for (const auto &r : rows) {
        // The answer must come within the request's second; on a loaded
        // machine a late one is tried again.
        std::string answer;
        for (int tries = 0; tries < 3; tries++) {
            c.send(std::string(r.line) + "\n");
            answer = c.read_until("\n");
            peer_step(pipe, std::string("dummy_facility ") + r.facility);
            if (answer.find("\r\n") == std::string::npos)
                answer += c.read_until("\r\n");
            if (answer.find("TIMEOUT\n") == std::string::npos)
                break;
        }
        EXPECT_EQ(answer, std::string(r.answer) + "\r\n") << r.line;
    }
    EXPECT_TRUE(g.w.tarn_running());
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

} // namespace
