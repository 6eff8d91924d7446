#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "conf_root.h"
#include "e2e.h"
#include "init_logging.h"
#include "log.h"
#include "run_process.h"

namespace {

// A world without media processor for the runs that end in the
// configuration load.
e2e_options no_device()
{
    e2e_options o;
    o.media_processor = false;
    o.capture = false;
    return o;
}

// tarn in the world to its end, or, when it comes up, until it is stopped.
process_result start(e2e_world &w, std::vector<std::string> args = {})
{
    process_result r;
    args.insert(args.begin(), {"-o", "-l", "2"});
    if (w.start_tarn(args))
        w.stop_tarn();
    r.status = w.tarn_running() ? -1 : w.tarn_status();
    if (r.status == 128 + SIGTERM)
        r.status = 0; // it came up and stayed up
    r.out = w.tarn_out();
    r.err = w.tarn_err();
    return r;
}

TEST(InitConfig, MissingMandatoryFileEndsWith99)
{
    struct {
        const char *file;
        const char *reason;
    } cases[] = {
        {"usr/conf/tarn.conf", "TARN EXITCODE 99: tarn config file: %s/usr/conf/tarn.conf does not exist, cannot continue!"},
        {"usr/conf/misc.conf", "TARN EXITCODE 99: misc.conf: %s/usr/conf/misc.conf does not exist, cannot continue"},
        {"usr/conf/tarn.tdm", "TARN EXITCODE 99: tdm settings file: %s/usr/conf/tarn.tdm does not exist, cannot continue"},
    };
    for (auto &c : cases) {
        e2e_world w(no_device());
        E2E_REQUIRE(w);
        unlink(w.root.path(c.file).c_str());
        process_result r = start(w);
        char want[512];
        snprintf(want, sizeof want, c.reason, w.root.dir.c_str());
        EXPECT_EQ(r.status, 99) << c.file;
        EXPECT_NE(r.err.find(want), std::string::npos) << r.err;
    }
}

TEST(InitConfig, BrokenFilesEndWith99)
{
    struct {
        const char *file;
        const char *text;
        const char *reason;
    } cases[] = {
        {"usr/conf/tarn.conf", "orphan = 1\n[general]\n", "Failed reading tarn config, check your file!"},
        {"usr/conf/misc.conf", "orphan = 1\n", "Failed reading misc.conf, check your file!"},
        {"usr/conf/tarn.sip", "sip_domain=x\n", "Failed reading sip config |"},
        {"usr/conf/tarn.tones", "x=1\n", "Failed reading tone config, check your file!"},
        {"usr/conf/tarn.isdn", "[general]\n[default]\n[p]\nconfig=\n", "Failed reading isdn config |"},
    };
    for (auto &c : cases) {
        e2e_world w(no_device());
        E2E_REQUIRE(w);
        w.root.write(c.file, c.text);
        process_result r = start(w);
        EXPECT_EQ(r.status, 99) << c.file << "\n" << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
}

TEST(InitConfig, EtcDirectoryServesEveryFile)
{
    e2e_world w;
    E2E_REQUIRE(w);
    conf_root &root = w.root;
    std::string etc = root.dir + "/etc";
    std::filesystem::create_directories(etc);
    std::filesystem::rename(root.path("usr/conf/tarn.conf"), etc + "/tarn.conf");
    std::filesystem::rename(root.path("usr/conf/misc.conf"), etc + "/misc.conf");
    std::filesystem::rename(root.path("usr/conf/tarn.tdm"), etc + "/tarn.tdm");
    std::ofstream(etc + "/tarn.sip") << "[general]\n";
    std::ofstream(etc + "/tarn.isdn") << "[general]\n";
    process_result r = start(w, {"-e", etc});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char *line : {"reading tarn config file: %s/tarn.conf\n", "using sip config: %s/tarn.sip\n",
                             "using isdn config: %s/tarn.isdn\n",
                             "cas config file: %s/tarn.cas does not exist, using default values\n",
                             "gsm config file: %s/tarn.gsm does not exist\n",
                             "tone config file: %s/tarn.tones does not exist\n"}) {
        char want[512];
        snprintf(want, sizeof want, line, etc.c_str());
        EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;
    }
}

TEST(InitConfig, PlaceholderIsNeverFollowedThroughALink)
{
    e2e_world w(no_device());
    E2E_REQUIRE(w);
    conf_root &root = w.root;
    unlink(root.path("usr/conf/tarn.sip").c_str());
    std::string victim = root.path("victim");
    std::ofstream(victim) << "precious";
    ASSERT_EQ(symlink(victim.c_str(), root.path("tmp/tarn.dummy").c_str()), 0);
    process_result r = start(w);
    EXPECT_EQ(r.status, 99);
    EXPECT_NE(r.err.find("no sip config file |" + root.path("usr/conf/tarn.sip") + "| and couldn't open |" +
                         root.path("tmp/tarn.dummy") + "|!"),
              std::string::npos)
        << r.err;
    std::ifstream f(victim);
    std::string content((std::istreambuf_iterator<char>(f)), {});
    EXPECT_EQ(content, "precious");
}

TEST(InitConfig, PlaceholderPlantedWithTextIsEmptied)
{
    e2e_world w;
    E2E_REQUIRE(w);
    conf_root &root = w.root;
    unlink(root.path("usr/conf/tarn.sip").c_str());
    root.write("tmp/tarn.dummy", "[general]\nstack_active_lan = bogus-key-that-fails\nnokey=1\n");
    process_result r = start(w);
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st;
    ASSERT_EQ(stat(root.path("tmp/tarn.dummy").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
}

TEST(InitLogging, SyslogFacilityOutOfRange)
{
    for (const char *facility : {"24", "23"}) {
        e2e_world w;
        E2E_REQUIRE(w);
        w.root.write("usr/conf/tarn.conf", std::string("[general]\nsyslog_facility = ") + facility + "\n");
        process_result r = start(w);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("Ignoring invalid syslog facility 24, using 16 instead\n") != std::string::npos,
                  std::string(facility) == "24")
            << r.err;
    }
}

TEST(InitLogging, DebugLogGoesToTheRotationList)
{
    e2e_world w;
    E2E_REQUIRE(w);
    conf_root &root = w.root;
    // A limit of one byte closes the debug log file after every line and
    // moves it one generation on.
    std::string generations;
    for (int i = 1; i <= 18; i++)
        generations += (i > 1 ? "," : "") + std::string("/var/log/d") + std::to_string(i);
    root.write("usr/conf/tarn.conf", "[general]\nlogging_debug=1\nlogging_message=1\nloglevel_debug=2\n"
                                     "logsizelimit=1\nlogrotatefiles=" + generations +
                                         "\nexperimental_options = nco=3\n");
    ASSERT_TRUE(w.start_tarn({"-o"})) << w.tarn_err();
    std::string log;
    for (int i = 1; i <= 18; i++)
        log += read_text_file(root.path("var/log/d" + std::to_string(i)));
    EXPECT_NE(log.find("ALLOCATING 3 CALL OBJECTS"), std::string::npos) << log;
}

TEST(LogLevels, DigitStrings)
{
    struct {
        const char *digits;
        int want[9];
    } cases[] = {
        {"2", {2, 2, 2, 2, 2, 2, 2, 2, 2}},
        {"20090", {0, 0, 9, 0, 2, 2, 2, 2, 2}},
        {"x5", {5, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"123456789012", {2, 3, 4, 5, 6, 7, 8, 9, 0}},
    };
    for (auto &c : cases) {
        unsigned char table[128] = {};
        set_loglevels(table, c.digits);
        for (int m = 0; m < 9; m++)
            EXPECT_EQ(table[m], c.want[m]) << c.digits << " module " << m;
    }
}

} // namespace
