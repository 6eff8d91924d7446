#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "confman.h"
#include "run_process.h"
#include "schema.h"

namespace {

std::string golden(const std::string &name)
{
    std::ifstream f(std::string(TARN_SOURCE_DIR) + "/tests/config_schema/golden/" + name + ".txt");
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

const char *const exit2 = "TARN EXITCODE 2: Couldn't parse CLI arguments!";

// The golden texts are written from the published defaults of every file.
TEST(DefaultSettings, EverySectionPrintsItsDefaults)
{
    for (const char *word : {"TARNG", "ISDNG", "ISDNP", "SIPG", "SIPP", "ANALOGG", "ANALOGP"}) {
        process_result r = run_process({tarn_binary(), "-S", word});
        EXPECT_EQ(r.status, 2) << word;
        EXPECT_EQ(r.out, golden(word)) << word;
        EXPECT_NE(r.err.find(exit2), std::string::npos) << word;
    }
    process_result all = run_process({tarn_binary(), "-D"});
    EXPECT_EQ(all.status, 2);
    EXPECT_EQ(all.out, golden("ALL"));
}

TEST(DefaultSettings, UnknownSectionWord)
{
    process_result r = run_process({tarn_binary(), "-S", "sipg"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, ";unkwown module sipg\n\n");
}

TEST(Schema, ModuleTypeWordsAreCaseSensitive)
{
    ASSERT_EQ(cm_init(), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(configman_create("sip"), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "passed unknown module name sip to configman_create\n");
    cm *c = configman_create("SIP");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->num_secs, 2);
    cm_destroy(c);
}

TEST(Schema, SectionShapes)
{
    struct {
        const cm_section_t *s;
        int count;
        const char *name;
        ktype kt;
        int rows;
        const char *first_key;
    } cases[] = {
        {cfg_sect_tarn, cfg_sect_tarn_count, "general", KTYPE_NONE, 53, "statusport"},
        {cfg_sect_miscconf, cfg_sect_miscconf_count, "general", KTYPE_NONE, 3, "lan-mode"},
        {cfg_sect_isdn + 1, cfg_sect_isdn_count - 1, "port", KTYPE_INTEGER, 24, "ports"},
        {cfg_sect_cas + 1, cfg_sect_cas_count - 1, "port", KTYPE_INTEGER, 20, "ports"},
        {cfg_sect_analog + 1, cfg_sect_analog_count - 1, "port", KTYPE_INTEGER, 27, "ports"},
        {cfg_sect_sip, 1, "general", KTYPE_NONE, 44, "stack_active_lan"},
        {cfg_sect_sip + 1, cfg_sect_sip_count - 1, "name", KTYPE_STRING, 37, "ports"},
        {cfg_sect_gsm + 1, cfg_sect_gsm_count - 1, "port", KTYPE_INTEGER, 16, "ports"},
        {cfg_sect_tones + 1, cfg_sect_tones_count - 1, "name", KTYPE_STRING, 16, "ports"},
    };
    for (auto &c : cases) {
        EXPECT_EQ(c.count, 1) << c.name;
        EXPECT_STREQ(c.s->section_name, c.name);
        EXPECT_EQ(c.s->key_type, c.kt) << c.name;
        EXPECT_EQ(c.s->num_directives, c.rows) << c.name << " " << c.first_key;
        EXPECT_STREQ(c.s->directives[1].name, c.first_key);
        if (c.kt != KTYPE_NONE) {
            EXPECT_STREQ(c.s->default_name, "default");
            EXPECT_STREQ(c.s->directives[0].name, "name");
        } else {
            EXPECT_EQ(c.s->directives[0].name, nullptr);
        }
    }
    EXPECT_EQ(CFG_TARN_EXPERIMENTAL_OPTIONS, 28);
    EXPECT_EQ(CFG_TARN_BLACKLIST_BLOCKDURATION_WAN, 52);
}

} // namespace
