#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "application.h"
#include "cause_map.h"
#include "causes.h"
#include "debug_lines.h"
#include "isdn_lib.h"

namespace {

struct row {
    int from, to, in, out;
    const char *text; // null: none
};

class CauseMap : public ::testing::Test {
protected:
    void SetUp() override
    {
        application_create();
        init_locks();
        char tmpl[] = "/tmp/tarn-causes.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        clean_causes_map();
        gp->causemap.count = 0;
        gp->path_config_causes[0] = '\0';
    }
    void TearDown() override
    {
        clean_causes_map();
        gp->causemap.count = 0;
        std::filesystem::remove_all(dir);
    }
    std::string write(const std::string &text, const std::string &name = "tarn.causes")
    {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    void use(const std::string &path)
    {
        snprintf(gp->path_config_causes, sizeof gp->path_config_causes, "%s", path.c_str());
    }
    static void expect_rows(const std::vector<row> &want)
    {
        ASSERT_EQ(gp->causemap.count, (int)want.size());
        for (size_t i = 0; i < want.size(); i++) {
            SCOPED_TRACE("row " + std::to_string(i + 1));
            const cause_map_element &e = gp->causemap.causes[i];
            EXPECT_EQ(e.from, want[i].from);
            EXPECT_EQ(e.to, want[i].to);
            EXPECT_EQ(e.in_cause, want[i].in);
            EXPECT_EQ(e.out_cause, want[i].out);
            if (want[i].text)
                EXPECT_STREQ(e.out_cause_text, want[i].text);
            else
                EXPECT_EQ(e.out_cause_text, nullptr);
        }
    }
    std::string dir;
};

TEST_F(CauseMap, WithoutPathTheSixDefaultRows)
{
    EXPECT_EQ(load_causes_map(), 0);
    expect_rows({{TECH_SIP, TECH_TARN, -1, 486, "Busy Here"},
                 {TECH_SIP, TECH_ISDN, -1, 486, "Busy Here"},
                 {TECH_ISDN, TECH_TARN, 902, 34, nullptr},
                 {TECH_SIP, TECH_ANALOG, -1, 486, "Busy Here"},
                 {TECH_ISDN, TECH_TARN, -1, 17, nullptr},
                 {TECH_ISDN, TECH_SIP, -1, 17, nullptr}});
}

TEST_F(CauseMap, FileLines)
{
    use(write("; comment\n# comment\n\n"
              "SIP\tISDN\tANY\t503\tService Unavailable\r\n"
              "SIP\tTARN\t17\t486\n"               // SIP needs five fields
              "ISDN\tSIP\t21\t603\textra text\n"   // ISDN: no text
              "ISDN\tANALOG\t1\t2\n"               // not a destination of ISDN
              "SIP\tGSM\t1\t2\tx\n"                // not a destination of SIP
              "GSM\tSIP\t1\t2\tx\n"                // not a source
              "SIP\tSIP\tsome\t2\tx\n"             // not a number
              "SIP\tANALOG\t17\t4x\tx\n"
              "sip\tsip\t480\t480\tTemporarily Unavailable\tsixth\n"
              "ISDN\tTARN\t902\t44\n"));
    misdn_cw_reject_code = 0;
    EXPECT_EQ(load_causes_map(), 0);
    expect_rows({{TECH_SIP, TECH_ISDN, -1, 503, "Service Unavailable"},
                 {TECH_ISDN, TECH_SIP, 21, 603, nullptr},
                 {TECH_SIP, TECH_SIP, 480, 480, "Temporarily Unavailable"},
                 {TECH_ISDN, TECH_TARN, 902, 44, nullptr}});
    EXPECT_EQ(misdn_cw_reject_code, 44);
}

TEST_F(CauseMap, CallWaitingRejectFromTheMap)
{
    struct {
        const char *file;
        int want;
    } cases[] = {
        {"ISDN\tTARN\t902\t34\n", 34},
        {"ISDN\tTARN\t902\t21\n", 21},
        {"ISDN\tTARN\tANY\t21\n", 34}, // 902 is answered before the any-row
        {"SIP\tTARN\tANY\t486\tBusy Here\n", 34},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.file);
        use(write(c.file));
        misdn_cw_reject_code = 0;
        load_causes_map();
        EXPECT_EQ(misdn_cw_reject_code, c.want);
    }
}

TEST_F(CauseMap, MissingOrUnopenableFileKeepsTheMap)
{
    init_default_causes_map();
    debug_lines log({TARN});
    misdn_cw_reject_code = 7;
    use(dir + "/none");
    EXPECT_EQ(load_causes_map(), 0); // no file: nothing at all
    EXPECT_EQ(gp->causemap.count, 6);
    EXPECT_EQ(misdn_cw_reject_code, 7);

    std::string subdir = dir + "/adir";
    mkdir(subdir.c_str(), 0755);
    EXPECT_EQ(parse_causes_map(subdir.c_str()), -1);
    EXPECT_EQ(parse_causes_map((dir + "/none").c_str()), -1);
    EXPECT_EQ(gp->causemap.count, 6);
    EXPECT_STREQ(gp->causemap.causes[0].out_cause_text, "Busy Here");
    EXPECT_TRUE(log.has("Failed opening " + dir + "/none!"));
    EXPECT_EQ(pthread_mutex_trylock(gp->locks->global_lock), 0); // released
    pthread_mutex_unlock(gp->locks->global_lock);
}

TEST_F(CauseMap, AtMostTwoHundredEntries)
{
    debug_lines log({TARN});
    std::string lines;
    for (int i = 0; i < 200; i++)
        lines += "SIP\tISDN\t" + std::to_string(i) + "\t500\tline " + std::to_string(i) + "\n";
    EXPECT_EQ(parse_causes_map(write(lines).c_str()), 0);
    EXPECT_EQ(gp->causemap.count, 200);
    EXPECT_EQ(log.count("Two many lines"), 0); // nothing was left out

    lines += "; a comment is not a line of the map\nSIP\tISDN\t200\t500\tline 200\n";
    EXPECT_EQ(parse_causes_map(write(lines).c_str()), 0);
    EXPECT_EQ(gp->causemap.count, 200);
    EXPECT_STREQ(gp->causemap.causes[199].out_cause_text, "line 199");
    EXPECT_TRUE(log.has("Two many lines (max 200) in causes map, ignoring the rest"));
}

TEST_F(CauseMap, LongLinesAreCutNotSplit)
{
    std::string head = "SIP\tTARN\t1\t480\t";
    std::string text(511 - head.size(), 'x');
    // what follows character 511 looks like a line of its own
    std::string file = head + text + "ISDN\tSIP\t5\t6\n" + "SIP\tISDN\t2\t404\tNot Found\n";
    EXPECT_EQ(parse_causes_map(write(file).c_str()), 0);
    expect_rows({{TECH_SIP, TECH_TARN, 1, 480, text.c_str()}, {TECH_SIP, TECH_ISDN, 2, 404, "Not Found"}});

    // a last line longer than the limit without a line feed
    EXPECT_EQ(parse_causes_map(write(head + std::string(2000, 'y')).c_str()), 0);
    ASSERT_EQ(gp->causemap.count, 1);
    EXPECT_EQ(strlen(gp->causemap.causes[0].out_cause_text), 511 - head.size());
}

TEST_F(CauseMap, ReloadsReleaseThePreviousTexts)
{
    // Run under LeakSanitizer in the sanitizer tree: texts replaced by a
    // reload must be freed.
    std::string path = write("SIP\tISDN\tANY\t486\tBusy Here\nSIP\tTARN\t3\t404\tNot Found\n");
    init_default_causes_map();
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(parse_causes_map(path.c_str()), 0);
    init_default_causes_map();
    EXPECT_EQ(parse_causes_map(path.c_str()), 0);
    EXPECT_EQ(gp->causemap.count, 2);
    clean_causes_map();
    EXPECT_EQ(gp->causemap.count, 2); // only the texts go
    EXPECT_EQ(gp->causemap.causes[0].out_cause_text, nullptr);
}

TEST_F(CauseMap, RejectCause)
{
    struct {
        const char *map; // file text, or null for an empty map
        int from, to, in;
        int cause;
        const char *text; // null: none
    } cases[] = {
        {nullptr, TECH_SIP, TECH_ISDN, 17, 486, "Busy Here"},
        {nullptr, TECH_ISDN, TECH_SIP, 17, 17, nullptr},
        {nullptr, TECH_ISDN, TECH_TARN, 902, 34, ""},
        {nullptr, TECH_GSM, TECH_SIP, 1, 0, ""},
        {"SIP\tISDN\tANY\t480\tany\nSIP\tISDN\t17\t486\texact\n", TECH_SIP, TECH_ISDN, 17, 486, "exact"},
        {"SIP\tISDN\tANY\t480\tany\nSIP\tISDN\t17\t486\texact\n", TECH_SIP, TECH_ISDN, 18, 480, "any"},
        {"SIP\tISDN\t17\t404\tfirst\nSIP\tISDN\t17\t410\tsecond\n", TECH_SIP, TECH_ISDN, 17, 404, "first"},
        {"ISDN\tTARN\tANY\t21\n", TECH_ISDN, TECH_TARN, 902, 34, ""},
        {"ISDN\tTARN\tANY\t21\n", TECH_ISDN, TECH_TARN, 3, 21, nullptr},
        {"ISDN\tSIP\tANY\t21\n", TECH_SIP, TECH_TARN, 3, 486, "Busy Here"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(std::string(c.map ? c.map : "(empty)") + " " + std::to_string(c.from) + "->" +
                     std::to_string(c.to) + " " + std::to_string(c.in));
        clean_causes_map();
        gp->causemap.count = 0;
        if (c.map) {
            ASSERT_EQ(parse_causes_map(write(c.map).c_str()), 0);
        }
        int cause = -5;
        const char *text = "unset";
        get_reject_cause(c.from, c.to, c.in, &cause, &text);
        EXPECT_EQ(cause, c.cause);
        if (c.text)
            EXPECT_STREQ(text, c.text);
        else
            EXPECT_EQ(text, nullptr);
        EXPECT_STREQ(reject_text(text), c.text ? c.text : "");
    }
}

TEST(CauseTexts, IsdnAndSipTexts)
{
    struct {
        int cause;
        const char *isdn;
        const char *sip;
    } cases[] = {
        {0, "<No cause>", "SERVICE UNAVAILABLE (ISDN: <No cause>)"},
        {16, "Normal call clearing", "SERVICE UNAVAILABLE (ISDN: Normal call clearing)"},
        {28, "Invalid number (incomplete)", "SERVICE UNAVAILABLE (ISDN: Invalid number (ISDN: incomplete))"},
        {31, "Normal, unspecified or Network Ressource Unavailable (like 34)",
         "SERVICE UNAVAILABLE (ISDN: Normal, unspecified or Network Ressource Unavailable (ISDN: like 34))"},
        {42, "Switching equipment congestion", "SERVICE UNAVAILABLE (ISDN: Switchting equipment congestion)"},
        {89, "", "SERVICE UNAVAILABLE (ISDN: Cursed)"},
        {127, "Interworking, unspecified", "SERVICE UNAVAILABLE (ISDN: Interworking, unspecified)"},
        {7, "Unknown cause", "SERVICE UNAVAILABLE (Unknown cause)"},
        {-1, "Unknown cause", "SERVICE UNAVAILABLE (Unknown cause)"},
        {128, "Unknown cause", "SERVICE UNAVAILABLE (Unknown cause)"},
    };
    for (auto &c : cases) {
        EXPECT_STREQ(print_isdn_cause(c.cause), c.isdn) << c.cause;
        EXPECT_STREQ(print_sip_unavailable(c.cause), c.sip) << c.cause;
    }
    // Apart from four rows the SIP text wraps the ISDN text.
    int known = 0;
    for (int cause = 0; cause < 256; cause++) {
        std::string isdn = print_isdn_cause(cause);
        if (isdn == "Unknown cause")
            continue;
        known++;
        if (cause == 28 || cause == 31 || cause == 42 || cause == 89)
            continue;
        EXPECT_EQ(print_sip_unavailable(cause), "SERVICE UNAVAILABLE (ISDN: " + isdn + ")") << cause;
    }
    EXPECT_EQ(known, 62);
}

} // namespace
