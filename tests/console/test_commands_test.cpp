// The console's parser and diagnostic test commands without a modem or a
// SIP stack: incoming messages in PDU and text mode, delivery reports, the
// LTE registration work-around, simulated cell broadcasts, the analog
// caller-ID decoder, the dial plan's number normalisation, the pool of call
// configurations, and the SIP test requests' refusals.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "application.h"
#include "call_configuration.h"
#include "conf_root.h"
#include "console_test_util.h"
#include "experimental_options.h"
#include "gsm_events_intern.h"
#include "gsm_settings.h"
#include "gsm_status.h"
#include "mc_gsm_tests.h"
#include "mc_options.h"
#include "run_process.h"

namespace {

std::vector<std::string> files_in(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.' || strstr(e->d_name, ".tmp"))
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                    names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

std::string only_file_text(const std::string &dir)
{
    std::vector<std::string> f = files_in(dir);
    return f.size() == 1 ? read_text_file(dir + "/" + f[0]) : "";
}

void set_text(char *&slot, const std::string &value)
{
    free(slot);
    slot = strdup(value.c_str());
}

class TestCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        console_test_application(2);
        mc_init_options();
    }
    void SetUp() override
    {
        setenv("TARN_ROOT", root.dir.c_str(), 1);
        _parse_experimental_options("");
        mc_cbm_line_pause_ms = 0;
        set_text(gp->gsm_sms_spool_in, root.path("spool/in"));
        set_text(gp->gsm_cbm_spool_in, root.path("cbm/in"));
        set_text(gp->gsm_cbm_spool_parts, root.path("cbm/parts"));
        for (const char *d : {"cbm", "cbm/in", "cbm/parts", "tmp"})
            mkdir(root.path(d).c_str(), 0755);
    }
    void TearDown() override { unsetenv("TARN_ROOT"); }
    conf_root root{false};
};

TEST_F(TestCommands, IncomingMessagesAndDeliveryReports)
{
    // tps: an SMS-DELIVER PDU of "hellohello"; the incoming spool is made.
    mkdir(root.path("spool").c_str(), 0755);
    mkdir(root.path("spool/in").c_str(), 0770);
    EXPECT_EQ(dispatcher_answer("tps07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37"),
              "\r\n");
    std::string filed = only_file_text(root.path("spool/in"));
    EXPECT_NE(filed.find("msg=hellohello"), std::string::npos) << filed;
    EXPECT_NE(filed.find("27838890001"), std::string::npos) << filed;
    EXPECT_NE(filed.find("port=1\n"), std::string::npos) << filed;

    // tpc: status reports of PDU and text mode, and one that does not parse.
    const struct {
        const char *line, *answer;
    } reports[] = {
        {"tpc00062A0B917238880900F1993092516195809930925161958000", "Parsed msg id 42\n\r\n"},
        {"tpc+CDS: 6,17,\"+4930123\",145,\"24/01/02,10:00:00+04\",\"24/01/02,10:00:05+04\",0",
         "Parsed msg id 17\n\r\n"},
        {"tpc0006", "Parsed msg id -1\n\r\n"},
        {"tpcgarbage", "Parsed msg id -1\n\r\n"},
    };
    for (const auto &r : reports)
        EXPECT_EQ(dispatcher_answer(r.line), r.answer) << r.line;

    // tts (its table row wants a parameter, which it ignores): nothing
    // without the file; a text-mode answer is filed.
    unlink(root.path("tmp/test.sms").c_str());
    EXPECT_EQ(dispatcher_answer("tts1"), "\r\n");
    EXPECT_EQ(files_in(root.path("spool/in")).size(), 1u);
    root.write("tmp/test.sms", "AT+CMGR=3\r\n+CMGR: \"REC UNREAD\",\"002B0034003900310037003100310031\",,"
                               "\"24/01/02,10:00:00+04\",145,4,0,8,\"+491710000\",145,10\r\n00480061006C006C006F\r\n\r\nOK\r\n");
    EXPECT_EQ(dispatcher_answer("tts1"), "\r\n");
    std::vector<std::string> in = files_in(root.path("spool/in"));
    ASSERT_EQ(in.size(), 2u);
    std::string both = read_text_file(root.path("spool/in/" + in[0])) + read_text_file(root.path("spool/in/" + in[1]));
    EXPECT_NE(both.find("msg=Hallo"), std::string::npos) << both;
}

TEST_F(TestCommands, RegistrationWorkaroundAndSurveyRefuseOtherPorts)
{
    gsm_port_info *pi = gsm_info_of_port(3);
    ASSERT_NE(pi, nullptr);
    pi->reg_status = 1;
    global_gsm_port_needs_reregister[3] = 0;
    EXPECT_EQ(dispatcher_answer("preg3"), "TESTING 3\n\r\n");
    EXPECT_EQ(pi->reg_status, 0);
    EXPECT_EQ(global_gsm_port_needs_reregister[3], 1);
    global_gsm_port_needs_reregister[3] = 0;
    for (const char *line : {"preg0", "preg7", "preg-1", "pregx", "preg99999999999", "csurv0", "csurv7", "csurvx"})
        EXPECT_EQ(dispatcher_answer(line), "\r\n") << line;
}

// Each test's title and what it leaves: a complete message in the spool, or
// pages waiting, or nothing; never a temporary or partial file.
TEST_F(TestCommands, CellBroadcastTests)
{
    _parse_experimental_options("gsm_cbm_enable=1");
    const struct {
        int n;
        const char *title;
        int filed;        // messages in the spool afterwards
        int pages_left;   // pages waiting afterwards
        const char *text; // part of the filed text
    } tests[] = {
        {0, "single-part CBM", 1, 0, "Test 0: a single page cell broadcast."},
        {1, "single-part CBM", 1, 0, "Test 1: another single page"},
        {2, "multi-part CBM", 1, 0, "and page three ends it."},
        {3, "multi-part CBM", 1, 0, "Its last page is one byte longer."},
        {4, "incomplete multi-part CBM", 0, 2, nullptr},
        {5, "alarmtag2024", 1, 0, "Es besteht keine Gefahr."},
        {6, "alarmtag2024_incomplete", 0, 1, nullptr},
        {7, "URC between +CBM header and PDU", 1, 0, "a URC came in between"},
        {8, "truncated PDU", 0, 0, nullptr},
    };
    for (const auto &t : tests) {
        SCOPED_TRACE(t.n);
        for (const char *d : {"cbm/in", "cbm/parts"})
            for (const std::string &f : files_in(root.path(d)))
                unlink(root.path(std::string(d) + "/" + f).c_str());
        EXPECT_EQ(dispatcher_answer(("testcbm" + std::to_string(t.n)).c_str()),
                  "Running test " + std::to_string(t.n) + ", " + t.title + "\n\r\n");
        std::vector<std::string> in = files_in(root.path("cbm/in")), parts = files_in(root.path("cbm/parts"));
        EXPECT_EQ((int)in.size(), t.filed);
        EXPECT_EQ((int)parts.size(), t.pages_left);
        for (const std::string &f : in)
            EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;
        if (t.text && in.size() == 1) {
            std::string body = read_text_file(root.path("cbm/in/" + in[0]));
            EXPECT_NE(body.find(t.text), std::string::npos) << body;
        }
    }
    // Every header announces the length of its PDU (the next line that is
    // no unsolicited line), but test 8's.
    for (int n = 0; n <= 8; n++) {
        const std::vector<std::string> lines = mc_cbm_test_lines(n);
        for (size_t i = 0; i + 1 < lines.size(); i++) {
            if (lines[i].rfind("+CBM: ", 0) != 0)
                continue;
            size_t p = i + 1;
            while (p < lines.size() && lines[p][0] == '+')
                p++;
            ASSERT_LT(p, lines.size()) << n;
            bool fits = (int)(lines[p].size() - 2) / 2 == atoi(lines[i].c_str() + 6);
            EXPECT_EQ(fits, n != 8) << n << " " << lines[i];
        }
    }
    EXPECT_EQ(dispatcher_answer("testcbm9"), "Not testing.\n\r\n");
    EXPECT_EQ(dispatcher_answer("testcbm-1"), "Not testing.\n\r\n");
    _parse_experimental_options("");
}

TEST_F(TestCommands, TestCbmMakesTheIncomingSpool)
{
    set_text(gp->gsm_sms_spool_in, root.path("made/in"));
    dispatcher_answer("testcbm8");
    struct stat st;
    ASSERT_EQ(stat(root.path("made/in").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0770u);
}

TEST_F(TestCommands, AnalogCallerIdDecoder)
{
    // status, message type, byte count, then the message bytes.
    const struct {
        const char *name, *line, *answer;
    } cases[] = {
        {"MDMF with number and name", "pcid0000 80 0e 02 07 30 33 30 31 32 33 34 07 03 41 42 43",
         "parsed analog number |0301234|\n\r\n"},
        {"SDMF: date and time, then the number", "pcid0000 04 0f 3031303230333034 30333031323334",
         "parsed analog number |0301234|\n\r\n"},
        {"count beyond the bytes given", "pcid00008020020330", "parsed analog number ||\n\r\n"},
        {"not hex", "pcidxyz", "parsed analog number ||\n\r\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(dispatcher_answer(c.line), c.answer) << c.name;
    // 600 bytes of input: cut, decoded, no overrun; the test call object is
    // one taken from the pool and kept.
    std::string big = "pcid000080ff";
    for (int i = 0; i < 600; i++)
        big += "02";
    EXPECT_EQ(dispatcher_answer(big.c_str()), "parsed analog number ||\n\r\n");
    ASSERT_NE(gp->test_co, nullptr);
    EXPECT_NE(gp->test_co->callinfo, CI_FREE);
    int in_use = 0;
    for (int i = 0; i < OPERATIONARRAYSIZE; i++)
        in_use += gp->operations[i]->callinfo != CI_FREE;
    EXPECT_EQ(in_use, 1);
}

TEST_F(TestCommands, DialPlanNormalisation)
{
    std::string golden = read_text_file(std::string(TARN_SOURCE_DIR) + "/tests/console/golden/tdp.txt");
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(dispatcher_answer("tdp"), golden + "\r\n");
    EXPECT_EQ(gp->test_dp_auto, 1);
    gp->test_dp_auto = 0;
}

TEST_F(TestCommands, CallConfigurationPool)
{
    call_configuration *a = cc_parse_call_configuration_pool(nullptr, "dtmfmode=2");
    call_configuration *b = cc_parse_call_configuration_pool(nullptr, "hdlc=1");
    std::string answer = dispatcher_answer("ccp");
    EXPECT_NE(answer.find(": |dtmfmode=2|\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find(": |hdlc=1|\n"), std::string::npos) << answer;
    EXPECT_EQ(answer.find("CCP POOL SIZE"), std::string::npos) << answer; // on the daemon's output
    cc_release_call_configuration(a);
    cc_release_call_configuration(b);
    cc_clean_call_configuration_pool();
    EXPECT_EQ(dispatcher_answer("ccp"), "\r\n");
}

TEST_F(TestCommands, SipTestRequestsWithoutGroupsOrStacks)
{
    const struct {
        const char *line, *answer;
    } rows[] = {
        {"smsg:nogrp|1|x", "port group nogrp does not exist\n\r\n"},
        {"smsg:|1|x", "port group  does not exist\n\r\n"},
        {"tno0", "No port group at index 0\n\r\n"},
        {"tno99", "No port group at index 99\n\r\n"},
        {"tno-1", "No port group at index -1\n\r\n"},
        {"ssm",
         "feature disabled, add debug_flags=2 to experimental options\nListing Stack Memory Info\n"
         "\n\n=====================================\n\nListing Registration Memory Info\n\r\n"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(dispatcher_answer(r.line), r.answer) << r.line;
    _parse_experimental_options("debug_flags=2");
    EXPECT_EQ(dispatcher_answer("ssm").rfind("Listing Stack Memory Info\n", 0), 0u);
    _parse_experimental_options("");
}

} // namespace
