// The whole daemon with the demo configuration and the simulated media
// processor in its own network namespace; its console is reached over TCP
// by a Python client and by test clients inside the same namespace.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "application.h"
#include "console_demo_conf.h"
#include "console_e2e_util.h"
#include "console_test_util.h"
#include "e2e.h"
#include "json_value.h"
#include "mc_options.h"

namespace {

const int PORT = 54322;

std::string source(const std::string &rel)
{
    return std::string(TARN_SOURCE_DIR) + "/" + rel;
}


std::string listening(const e2e_world &w)
{
    return w.ns.run({"ss", "-ltnH"}).out;
}

// The console port is open (the server thread starts right after the
// start-up's last line).
bool console_listens(const e2e_world &w)
{
    return e2e_world::wait_for([&] { return listening(w).find(":54322 ") != std::string::npos; }, 10000);
}

// A thread of the process carries the name.
bool has_thread(pid_t pid, const std::string &name)
{
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR *d = opendir(dir.c_str());
    bool found = false;
    for (dirent *e = d ? readdir(d) : nullptr; e && !found; e = readdir(d))
        found = e->d_name[0] != '.' && read_text_file(dir + "/" + e->d_name + "/comm") == name + "\n";
    if (d)
        closedir(d);
    return found;
}

// The Python client: one connection, the steps, one text per read step.
std::vector<std::string> client_session(const e2e_world &w, const std::vector<std::string> &steps)
{
    std::vector<std::string> argv = {"python3", source("tests/console/console_client.py"), "127.0.0.1",
                                     std::to_string(PORT)};
    argv.insert(argv.end(), steps.begin(), steps.end());
    process_result r = w.ns.run(argv, "", {}, 60);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> texts;
    for (const json_value &v : json_value::parse(r.out).a)
        texts.push_back(v.str());
    return texts;
}

class ConsoleE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        signal(SIGPIPE, SIG_IGN);
        if (!gp) {
            application_create();
            init_locks();
        }
        mc_init_options(); // the reference answers come from the same table
    }
};

TEST_F(ConsoleE2E, ASessionOnTheStatusPort)
{
    e2e_world w;
    E2E_REQUIRE(w);
    write_console_demo_conf(w);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    ASSERT_TRUE(console_listens(w)) << listening(w);
    EXPECT_TRUE(has_thread(w.tarn_pid(), "tarn.status"));
    std::string ls = listening(w);
    EXPECT_NE(ls.find("127.0.0.1:54322 "), std::string::npos) << ls;
    EXPECT_EQ(ls.find("0.0.0.0:54322 "), std::string::npos) << ls;

    std::string hx = read_text_file(source("tests/console/golden/hx.txt")) + "\r\n";
    std::string h = dispatcher_answer("h"), hs = dispatcher_answer("hs");
    auto n = [](const std::string &s) { return "read:" + std::to_string(s.size()); };
    std::vector<std::string> t = client_session(w, {
        n(CONSOLE_GREETING),
        "send:hx\\n", n(hx),
        "send:h\\r\\n", n(h),
        "send:hh\\n", "read",
        "send:hf zzz\\n", "read",
        "send:l12\\n", "read",
        "send:h;hs", n(h + hs),
        "send:a\\\\;b\\n", "read",
        "send: ; ;\\n", "send:greeting\\n", n(CONSOLE_GREETING),
        "send:q\\n", "readeof",
    });
    ASSERT_EQ(t.size(), 10u);
    EXPECT_EQ(t[0], CONSOLE_GREETING);
    EXPECT_EQ(t[1], hx);
    EXPECT_EQ(t[2], h);
    for (const mc_option &o : mc_options) {
        if (o.command_type & MC_TYPE_HIDDEN) {
            EXPECT_EQ(t[2].find("\n" + std::string(o.command) + o.parameters + " "), std::string::npos) << o.command;
        }
    }
    EXPECT_EQ(t[3].rfind("TARN Status Monitor [HIDDEN]\nhx          : show complete help\n", 0), 0u) << t[3];
    EXPECT_EQ(t[4], "TARN Status Monitor\n\r\n");
    EXPECT_EQ(t[5], "Unknown input: l12\n\r\n");
    EXPECT_EQ(t[6], h + hs);
    EXPECT_EQ(t[7], "Unknown input: a;b\n\r\n");
    EXPECT_EQ(t[8], CONSOLE_GREETING); // " ; ;" ran nothing
    EXPECT_EQ(t[9], "Closing terminal\n\r\n<EOF>");

    // Eight clients at once; the ninth is closed without a greeting.
    {
        e2e_namespace::net_guard inside(w.ns);
        ASSERT_TRUE(inside.ok());
        std::vector<std::unique_ptr<console_conn>> clients;
        for (int i = 0; i < 8; i++) {
            clients.push_back(std::make_unique<console_conn>(PORT));
            EXPECT_EQ(clients.back()->read_until(CONSOLE_GREETING), CONSOLE_GREETING) << i;
        }
        console_conn ninth(PORT);
        EXPECT_TRUE(ninth.closed_by_server());
        EXPECT_EQ(ninth.got, "");
        clients.pop_back();
        bool greeted = false;
        for (int tries = 0; tries < 100 && !greeted; tries++) {
            console_conn again(PORT);
            greeted = again.read_until(CONSOLE_GREETING) == CONSOLE_GREETING;
        }
        EXPECT_TRUE(greeted);
    }

    // On standard input "q" is no command.
    w.console("q");
    // (a log line may fall between the answer and its CR LF)
    EXPECT_TRUE(w.wait_out("Unknown input: \n")) << w.tarn_out();
    w.stop_tarn();
}

TEST_F(ConsoleE2E, RemoteAccessListensOnEveryAddress)
{
    e2e_options o;
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    write_console_demo_conf(w, "telnet_remote_access=1");
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    ASSERT_TRUE(console_listens(w));
    std::string ls = listening(w);
    EXPECT_NE(ls.find("0.0.0.0:54322 "), std::string::npos) << ls;
    w.stop_tarn();
}

TEST_F(ConsoleE2E, APortInUseEndsTheStartUp)
{
    e2e_options o;
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    write_console_demo_conf(w);
    int blocker = -1;
    {
        e2e_namespace::net_guard inside(w.ns);
        ASSERT_TRUE(inside.ok());
        blocker = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(PORT);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(blocker, (sockaddr *)&a, sizeof a), 0);
        ASSERT_EQ(listen(blocker, 1), 0);
    }
    EXPECT_EQ(w.run_tarn_to_exit(), 89);
    EXPECT_NE(w.tarn_err().find("init_application: Couldn't get free socket for status server!\n"),
              std::string::npos)
        << w.tarn_err();
    EXPECT_NE(w.tarn_err().find("TARN EXITCODE 89: TARN initialization failed!"), std::string::npos);
    close(blocker);
}

// Diagnostic and option commands over the status server of the daemon
// with the demo configuration: exact answers, each ended by "\r\n".
TEST_F(ConsoleE2E, DiagnosticAnswers)
{
    e2e_options o;
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    write_console_demo_conf(w);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    ASSERT_TRUE(console_listens(w));
    const struct {
        const char *line, *answer;
    } rows[] = {
        {"seodns", "Unknown experimental option: dns\n\r\n"},
        {"seo:", "Missing experimental option\n\r\n"},
        {"seogsm_cbm_enable", "gsm_cbm_enable=0\n\r\n"},
        {"tg", "BEFORE LOCK\nDURING LOCK\nAFTER LOCK\n\r\n"},
        {"memalloc0", "not allocating 0 bytes\n\r\n"},
        {"rm99", "\r\n"},
        {"nhd", "nua handle debug not active\n\r\n"},
        {"sie1", "parse error, syntax isdnport:digit\n\r\n"},
        {"tno99", "No port group at index 99\n\r\n"},
        {"testcbm9", "Not testing.\n\r\n"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(console_e2e_ask(w, r.line), r.answer) << r.line;
    EXPECT_EQ(console_e2e_ask(w, "seo:  dns_cache").rfind("dns_cache=", 0), 0u);
    std::string leo = console_e2e_ask(w, "leo");
    EXPECT_EQ(leo.rfind("analog_cid_sdmf_offset=", 0), 0u) << leo;
    EXPECT_EQ(leo.find("gsm_cbm_enable="), std::string::npos) << leo;
    EXPECT_NE(leo.find("\nreplaces_force_contact="), std::string::npos) << leo;
    std::string tdp = read_text_file(source("tests/console/golden/tdp.txt"));
    EXPECT_EQ(console_e2e_ask(w, "tdp"), tdp + "\r\n");
    std::string ssm = console_e2e_ask(w, "ssm");
    EXPECT_EQ(ssm.rfind("feature disabled, add debug_flags=2 to experimental options\nListing Stack Memory Info\n", 0), 0u)
        << ssm;
    EXPECT_NE(ssm.find("Listing Registration Memory Info\n"), std::string::npos) << ssm;
    w.stop_tarn();
}

} // namespace
