#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "conf_root.h"
#include "e2e.h"
#include "run_process.h"

namespace {

cli_args parse(std::vector<std::string> words, cli_result *res_out = nullptr)
{
    words.insert(words.begin(), "tarn");
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    cli_args a;
    cli_result r;
    tarn_daemon_mode = 0;
    tarn_print_configuration = 0;
    parse_cli((int)words.size(), argv.data(), &a, &r);
    if (res_out)
        *res_out = r;
    return a;
}

TEST(Cli, OptionsFillTheirFields)
{
    cli_args a = parse({"-c", "/x/tarn.conf", "--tdm", "t", "-s", "s", "--isdn", "i", "-m", "g", "-p", "dp",
                        "-l", "123", "-w", "9", "-e", "/etc/x", "-n", "tones", "-f", "a,b", "-z", "4096",
                        "--nlogsize", "777", "-r", "rx", "-M", "/m/causes", "-P", "1,2", "-o", "-L", "x",
                        "-G", "1", "--gsmflash", "-Q", "01005e"});
    EXPECT_STREQ(a.config_tarn, "/x/tarn.conf");
    EXPECT_STREQ(a.tdm_settings, "t");
    EXPECT_STREQ(a.config_sip, "s");
    EXPECT_STREQ(a.config_isdn, "i");
    EXPECT_STREQ(a.config_gsm, "g");
    EXPECT_STREQ(a.dialplan, "dp");
    EXPECT_STREQ(a.loglevel, "123");
    EXPECT_STREQ(a.loglevel2, "9");
    EXPECT_STREQ(a.etc, "/etc/x");
    EXPECT_STREQ(a.config_tones, "tones");
    EXPECT_STREQ(a.logrotate, "a,b");
    EXPECT_EQ(a.logsizelimit, 4096);
    EXPECT_EQ(a.nlogsizelimit, 777);
    EXPECT_STREQ(a.regexptest, "rx");
    EXPECT_STREQ(a.cause_map, "/m/causes");
    EXPECT_STREQ(a.ptp, "1,2");
    EXPECT_EQ(a.logstdout, 1);
    EXPECT_STREQ(a.msp_multicast_bytes, "01005e");
    EXPECT_EQ(a.msp_multicast_remove, 1);
    EXPECT_EQ(tarn_daemon_mode, 0);
}

TEST(Cli, DefaultsAndDaemonFlag)
{
    cli_args a = parse({});
    EXPECT_EQ(a.logsizelimit, -1);
    EXPECT_EQ(a.nlogsizelimit, 0);
    EXPECT_STREQ(a.daemonize, "");
    struct {
        const char *arg;
        int daemon;
    } cases[] = {{"1", 1}, {"10", 1}, {"0", 0}, {"yes", 0}, {" 1", 0}};
    for (auto &c : cases) {
        parse({"-d", c.arg});
        EXPECT_EQ(tarn_daemon_mode, c.daemon) << c.arg;
    }
    parse({"-C"});
    EXPECT_EQ(tarn_print_configuration, 1);
}

TEST(Cli, TextFieldsAreCutToTheirWidth)
{
    std::string long_text(600, 'x');
    cli_args a = parse({"-d", long_text, "-c", long_text});
    EXPECT_EQ(strlen(a.daemonize), 15u);
    EXPECT_EQ(strlen(a.config_tarn), 255u);
}

TEST(Cli, DiagnosticOptionsComeBack)
{
    cli_result r;
    parse({"-S", "SIPG"}, &r);
    EXPECT_EQ(r.action, CLI_MODULE_SETTINGS);
    EXPECT_STREQ(r.argument, "SIPG");
    parse({"-V", "example.org"}, &r);
    EXPECT_EQ(r.action, CLI_SRV_RESOLVE);
    parse({"-D"}, &r);
    EXPECT_EQ(r.action, CLI_DEFAULT_SETTINGS);
}

std::string golden_help()
{
    std::ifstream f(std::string(TARN_SOURCE_DIR) + "/tests/core/golden/help.txt");
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// Whole-process behaviour of the command line, run against the built daemon.
TEST(CliProcess, ExitingOptions)
{
    const std::string exit2 = "TARN EXITCODE 2: Couldn't parse CLI arguments! [cli.cpp:";
    struct {
        std::vector<std::string> args;
        int status;
        std::string err_prefix; // standard error begins with this
        bool exit2_line;        // and ends with the exit-2 line
    } cases[] = {
        {{"-h"}, 2, golden_help(), true},
        {{"--help"}, 2, golden_help(), true},
        {{"-v"}, 2, "TARN version: 24.01.03\n", true},
        {{"-E"}, 0, "ENUM SUPPORT\n", false},
        {{"--enum-support"}, 0, "ENUM SUPPORT\n", false},
    };
    for (auto &c : cases) {
        std::vector<std::string> argv{tarn_binary()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        process_result r = run_process(argv);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_EQ(r.err.substr(0, c.err_prefix.size()), c.err_prefix) << c.args[0];
        if (c.exit2_line) {
            std::string rest = r.err.substr(c.err_prefix.size());
            EXPECT_EQ(rest.substr(0, exit2.size()), exit2) << c.args[0];
        } else {
            EXPECT_EQ(r.err, c.err_prefix);
        }
    }
}

TEST(CliProcess, UnknownOptionPrintsHelpAndExits2)
{
    for (const char *bad : {"-Z", "--nosuch"}) {
        process_result r = run_process({tarn_binary(), bad});
        EXPECT_EQ(r.status, 2) << bad;
        size_t h = r.err.find(golden_help());
        EXPECT_NE(h, std::string::npos) << bad;
        EXPECT_NE(r.err.find("TARN EXITCODE 2: Couldn't parse CLI arguments!", h), std::string::npos);
    }
}

TEST(CliProcess, ForegroundConsoleEndsWhenStdinCloses)
{
    e2e_world w;
    E2E_REQUIRE(w);
    ASSERT_TRUE(w.start_tarn({"-d", "0", "-o", "-l", "2"})) << w.tarn_err();
    w.console("some command");
    w.close_console();
    EXPECT_TRUE(w.wait_out("read_commandline: end of input"));
    // The console is over; the daemon waits for its first SIP stack to end.
    EXPECT_TRUE(w.tarn_running());
    EXPECT_EQ(w.tarn_err().find("stopping threads"), std::string::npos);
    EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
}

TEST(CliProcess, DaemonModeForksAndDetaches)
{
    e2e_world w;
    E2E_REQUIRE(w);
    EXPECT_EQ(w.run_tarn_to_exit({"-d", "1"}), 0);
    EXPECT_EQ(w.tarn_err().rfind("TARN EXITCODE 0: Forked off! [daemon.cpp:", 0), 0u) << w.tarn_err();
    // The child's streams went to /dev/null: nothing else reached the files.
    // (The world ends the detached child with everything else inside.)
    EXPECT_EQ(w.tarn_err().find("stopping threads"), std::string::npos);
    EXPECT_EQ(w.tarn_out(), "");
}

TEST(CliProcess, DaemonModeUnderProcessOneDoesNotFork)
{
    e2e_world w;
    E2E_REQUIRE(w);
    // In a new pid namespace the shell is process 1 and the daemon its
    // child; the shell stops it once it is up.
    std::string out = w.root.path("d.out");
    std::string cmd = "'" + tarn_binary() + "' -d 1 -o -l 2 </dev/null >" + out +
                      " & t=$!; for i in $(seq 3000); do grep -q 'Initialization finished' " + out +
                      " && break; kill -0 $t 2>/dev/null || break; sleep 0.02; done; kill -TERM $t; wait $t; echo rc=$?";
    process_result r = w.ns.run({"unshare", "--pid", "--fork", "sh", "-c", cmd}, "", w.root.env(), 90);
    if (r.status != 0 && r.err.find("unshare") != std::string::npos)
        GTEST_SKIP() << "no pid namespaces here: " << r.err;
    EXPECT_EQ(r.err.find("Forked off"), std::string::npos) << r.err;
    EXPECT_NE(read_text_file(out).find("Initialization finished successfully"), std::string::npos) << r.err;
    // It stayed in the foreground until the signal.
    EXPECT_NE(r.out.find("rc=0"), std::string::npos) << r.out << r.err;
}

} // namespace
