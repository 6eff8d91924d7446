#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "application.h"
#include "confman.h"
#include "debug_lines.h"
#include "schema.h"
#include "system_command.h"
#include "tones.h"

namespace {

std::vector<int> cadence(const tone_config &tc)
{
    return std::vector<int>(tc.cadence_parameters, tc.cadence_parameters + tc.number_of_cadence_parameters);
}

struct freqs {
    int f1, f2, f3, f4, flag;
};

freqs tone(const tone_config &tc, int i)
{
    const tone_description &t = tc.tones[i];
    return {(int)t.tone_freq1, (int)t.tone_freq2, (int)t.tone_freq3, (int)t.tone_freq4,
            (int)t.sum_or_multiply_flag};
}

bool operator==(const freqs &a, const freqs &b)
{
    return a.f1 == b.f1 && a.f2 == b.f2 && a.f3 == b.f3 && a.f4 == b.f4 && a.flag == b.flag;
}

std::ostream &operator<<(std::ostream &o, const freqs &f)
{
    return o << "{" << f.f1 << "," << f.f2 << "," << f.f3 << "," << f.f4 << " flag " << f.flag << "}";
}

TEST(ToneDefinition, ProgramsOfTheExamples)
{
    struct {
        const char *definition;
        std::vector<freqs> tones;
        std::vector<int> words;
    } cases[] = {
        {"425", {{425, 0, 0, 0, 0}}, {4096, 1, 65535, 0, 8192}},
        {"425/1000,0/4000", {{425, 0, 0, 0, 0}}, {4096, 1, 1000, 4000, 8192}},
        {"950/330,1400/330,1800/330,0/1000",
         {{950, 0, 0, 0, 0}, {1400, 0, 0, 0, 0}, {1800, 0, 0, 0, 0}},
         {4096, 1, 330, 0, 2, 330, 0, 3, 330, 1000, 8192}},
        {"400+450/400,0/200,400+450/400,0/2000", {{400, 450, 0, 0, 0}}, {4096, 1, 400, 200, 1, 400, 2000, 8192}},
        {"!350+440/100,!0/100,350+440", {{350, 440, 0, 0, 0}}, {1, 100, 100, 4096, 1, 65535, 0, 8192}},
        {"425*15/200,0/300", {{425, 0, 0, 15, 1}}, {4096, 1, 200, 300, 8192}},
        // a leading silence has no tone to belong to
        {"0/100,425/200", {{425, 0, 0, 0, 0}}, {4096, 1, 200, 0, 8192}},
        // a second silence in a row is dropped
        {"425/100,0/100,0/300", {{425, 0, 0, 0, 0}}, {4096, 1, 100, 100, 8192}},
        // every item once: no repeated part
        {"!425/100,!0/50,!440/200", {{425, 0, 0, 0, 0}, {440, 0, 0, 0, 0}}, {1, 100, 50, 2, 200, 0}},
        // characters outside the syntax are skipped, empty items too
        {" 425 Hz / 250 ms ,, 0/ 250", {{425, 0, 0, 0, 0}}, {4096, 1, 250, 250, 8192}},
        {"", {}, {}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.definition);
        tone_config tc;
        memset(&tc, 0xA5, sizeof tc); // the parse clears it
        EXPECT_EQ(parse_tone_definition(c.definition, &tc, 100), 0);
        ASSERT_EQ(tc.number_of_tones, c.tones.size());
        for (size_t i = 0; i < c.tones.size(); i++) {
            EXPECT_EQ(tone(tc, (int)i), c.tones[i]) << "tone " << i + 1;
            const tone_description &t = tc.tones[i];
            EXPECT_EQ(t.tone_level1, 100u);
            EXPECT_EQ(t.tone_level2, c.tones[i].f2 ? 100u : 0u);
            EXPECT_EQ(t.tone_level4, c.tones[i].f4 ? 100u : 0u);
        }
        EXPECT_EQ(cadence(tc), c.words);
        EXPECT_EQ(tc.tones[c.tones.size()].tone_freq1, 0u); // the rest stays clear
    }
}

TEST(ToneDefinition, LongDefinitionsStayInBounds)
{
    debug_lines log({TARN});
    // 13 distinct tones each with a silence, then 14 more items
    std::string many;
    for (int i = 0; i < 13; i++)
        many += std::to_string(300 + 10 * i) + "/100,0/100,";
    for (int i = 0; i < 14; i++)
        many += "300/50,";
    tone_config tc;
    parse_tone_definition(many.c_str(), &tc, 100);
    EXPECT_EQ(tc.number_of_tones, 12);
    EXPECT_EQ(tc.tones[11].tone_freq1, 410u);
    std::vector<int> w = cadence(tc);
    ASSERT_EQ(w.size(), 2u + 12 * 3);
    EXPECT_EQ(w.front(), 4096);
    EXPECT_EQ(w.back(), 8192);
    EXPECT_EQ(log.count("more than 12 tones"), 1);

    // one tone repeated 30 times: 20 items fit with both marks
    std::string repeated;
    for (int i = 0; i < 30; i++)
        repeated += "425/10,0/20,";
    log.clear();
    parse_tone_definition(repeated.c_str(), &tc, 100);
    w = cadence(tc);
    ASSERT_EQ(w.size(), 2u + 20 * 3);
    EXPECT_LE(tc.number_of_cadence_parameters, 64);
    EXPECT_EQ(w.back(), 8192);
    EXPECT_EQ(w[w.size() - 2], 20); // the last item kept its off time
    EXPECT_EQ(log.count("more than 64 cadence words"), 1);

    // all once: 21 items, no marks
    std::string once;
    for (int i = 0; i < 25; i++)
        once += "!425/10,";
    parse_tone_definition(once.c_str(), &tc, 100);
    EXPECT_EQ(tc.number_of_cadence_parameters, 63);

    // numbers beyond a 16-bit word saturate instead of wrapping
    parse_tone_definition("99999999999/70000", &tc, 100);
    EXPECT_EQ(tc.tones[0].tone_freq1, 65535u);
    EXPECT_EQ(cadence(tc), (std::vector<int>{4096, 1, 65535, 0, 8192}));
}

// The first two cadence parts of an analog description (the multipliers
// and the third part stay 0).
std::vector<int> parts(const analog_dial_tone_config &a)
{
    EXPECT_EQ(a.c1_multiply | a.c2_multiply | a.c3_f1 | a.c3_f2 | a.c3_on_time | a.c3_off_time | a.c3_multiply, 0);
    return {a.c1_f1, a.c1_f2, a.c1_on_time, a.c1_off_time, a.c2_f1, a.c2_f2, a.c2_on_time, a.c2_off_time};
}

TEST(ToneDefinition, AnalogDialTone)
{
    struct {
        const char *definition;
        std::vector<int> want;
    } cases[] = {
        {"440/100,0/40", {440, 0, 100, 40, 0, 0, 0, 0}},
        {"350+440", {350, 440, 65535, 0, 0, 0, 0, 0}},
        {"425*15/200", {425, 15, 200, 0, 0, 0, 0, 0}},
        {"425/200,0", {425, 0, 200, 0, 0, 0, 0, 0}},
        {"425/100,0/100,425/200", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"425/100,0/100,440+350/300,0/400,9/9", {425, 0, 100, 100, 440, 350, 300, 400}},
        {"425,0,440,0", {425, 0, 65535, 0, 440, 0, 65535, 0}},
        {"", {0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.definition);
        analog_dial_tone_config a;
        memset(&a, 0x5A, sizeof a);
        EXPECT_EQ(parse_analog_tone_definition(c.definition, &a, 0), 0);
        EXPECT_EQ(parts(a), c.want);
    }
}

TEST(ToneDefinition, CallProgressDetection)
{
    debug_lines log({ANALOG});
    const char *defs[ACP_TONES] = {"425", "425/1000,0/4000", "", "425/250"};
    call_progress_tone_config cp{};
    cp.acp_detect_on_low[2] = 77; // an empty definition leaves its index alone
    parse_call_progress_texts(&cp, "auto", "50:1:2:DIAL,51:0:0:FOO,52:0:0:UNOBTAINABLE1,53:9:8:7:BUSY1", defs);
    EXPECT_EQ((std::vector<int>{cp.acp_detect_on_low[0], cp.acp_detect_on_high[0], cp.acp_detect_off_low[0],
                                cp.acp_detect_off_high[0]}),
              (std::vector<int>{4000, 4000, 0, 0}));
    EXPECT_EQ((std::vector<int>{cp.acp_detect_on_low[1], cp.acp_detect_on_high[1], cp.acp_detect_off_low[1],
                                cp.acp_detect_off_high[1]}),
              (std::vector<int>{900, 1100, 3600, 4400}));
    EXPECT_EQ(cp.acp_detect_on_low[2], 77);
    EXPECT_EQ(cp.acp_detect_on_low[3], 4000); // one item
    EXPECT_EQ((std::vector<int>(cp.events[0], cp.events[0] + 4)), (std::vector<int>{50, 1, 2, ACP_EVENT_DIAL}));
    EXPECT_EQ(cp.events[1][3], 0); // FOO
    EXPECT_EQ(cp.events[2][3], ACP_EVENT_CONGESTION1);
    EXPECT_EQ(cp.events[3][3], 0); // the fourth field is 7, not a word

    // explicit windows; unknown ids skipped; a sixth field is reported
    cp = {};
    parse_call_progress_texts(&cp, "50:1:2:3:4,49:5:5:5:5,52:10:20:30:40:50,53:7", "", defs);
    EXPECT_EQ(cp.acp_detect_off_high[0], 4);
    EXPECT_EQ(cp.acp_detect_on_low[2], 10);
    EXPECT_EQ(cp.acp_detect_off_high[2], 40);
    EXPECT_EQ(cp.acp_detect_on_low[3], 7);
    EXPECT_EQ(cp.acp_detect_on_high[3], 0);
    EXPECT_TRUE(log.has("acp_detect cannot parse 52:10:20:30:40:50"));

    // past four items: ignored with one line each
    cp = {};
    log.clear();
    parse_call_progress_texts(&cp, "50:1:1:1:1,51:2:2:2:2,52:3:3:3:3,53:4:4:4:4,50:9:9:9:9,50:8:8:8:8",
                              "1:0:0:DIAL,2:0:0:RING,3:0:0:BUSY,4:0:0:CONGESTION,5:0:0:DIAL", defs);
    EXPECT_EQ(cp.acp_detect_on_low[0], 1);
    EXPECT_EQ(cp.events[3][0], 4);
    EXPECT_EQ(cp.events[3][3], ACP_EVENT_CONGESTION);
    EXPECT_EQ(log.count("more than 4 items"), 2);
}

// A tones manager over a file, as start-up makes it.
class ToneSets : public ::testing::Test {
protected:
    void SetUp() override
    {
        application_create();
        init_locks();
        ASSERT_EQ(cm_init(), 0);
        char tmpl[] = "/tmp/tarn-tones.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        free_tone_list(gp->tonelist);
        gp->tonelist = nullptr;
        if (gp->config_tones)
            cm_destroy(gp->config_tones);
        gp->config_tones = nullptr;
        std::filesystem::remove_all(dir);
    }
    void load(const std::string &text)
    {
        std::string path = dir + "/tarn.tones";
        std::ofstream(path) << text;
        gp->config_tones = configman_create("TONES");
        ASSERT_NE(gp->config_tones, nullptr);
        ASSERT_EQ(cm_load(&gp->config_tones, path.c_str()), 0);
    }
    std::string dir;
};

TEST_F(ToneSets, SetsInFileOrderWithDefaults)
{
    load("[general]\nlevel=90\n"
         "[us]\ndescription=United States\ndial=350+440\nring=440+480/2000,0/4000\n"
         "acp_detect=auto\nacp_event=50:1:2:DIAL,51:0:0:FOO\n"
         "[de]\n");
    init_tones();
    ASSERT_NE(gp->tonelist, nullptr);
    tone_config_set *us = gp->tonelist->first;
    ASSERT_NE(us, nullptr);
    tone_config_set *de = us->list;
    ASSERT_NE(de, nullptr);
    EXPECT_EQ(gp->tonelist->last, de);
    EXPECT_EQ(de->list, nullptr);

    EXPECT_STREQ(us->language_code, "us");
    EXPECT_STREQ(us->description, "United States");
    EXPECT_EQ(tone(us->dial, 0), (freqs{350, 440, 0, 0, 0}));
    EXPECT_EQ(us->dial.tones[0].tone_level1, 90u);
    EXPECT_EQ(us->analog_dial.c1_f2, 440);
    EXPECT_EQ(us->combined_ringtone_cadence_length, 6000);
    EXPECT_EQ(us->call_progress.acp_detect_on_low[1], 1800);
    EXPECT_EQ(us->call_progress.acp_detect_off_high[1], 4400);
    EXPECT_EQ(us->call_progress.acp_detect_on_high[0], 4000); // dial has one item
    EXPECT_EQ(us->call_progress.events[0][2], 2);
    EXPECT_EQ(us->call_progress.events[1][3], 0);

    // the schema's defaults: 440 Hz everywhere, the default windows and events
    EXPECT_STREQ(de->language_code, "de");
    EXPECT_STREQ(de->description, "");
    for (const tone_config *tc : {&de->dial, &de->ring, &de->busy, &de->congestion}) {
        EXPECT_EQ(tone(*tc, 0), (freqs{440, 0, 0, 0, 0}));
        EXPECT_EQ(cadence(*tc), (std::vector<int>{4096, 1, 65535, 0, 8192}));
    }
    EXPECT_EQ(de->combined_ringtone_cadence_length, 0);
    EXPECT_EQ(parts(de->analog_stutter), (std::vector<int>{440, 0, 100, 40, 0, 0, 0, 0}));
    EXPECT_EQ(de->analog_dial.c1_on_time, 65535);
    const call_progress_tone_config &cp = de->call_progress;
    EXPECT_EQ((std::vector<int>{cp.acp_detect_on_low[1], cp.acp_detect_on_high[1], cp.acp_detect_off_low[1],
                                cp.acp_detect_off_high[1]}),
              (std::vector<int>{800, 1200, 3800, 4200}));
    EXPECT_EQ(cp.acp_detect_off_high[3], 250);
    for (int k = 0; k < 4; k++) {
        EXPECT_EQ(cp.events[k][0], 50 + k);
        EXPECT_EQ(cp.events[k][3], ACP_EVENT_DIAL + k);
    }
}

TEST_F(ToneSets, NoSectionsGiveAnEmptyList)
{
    load("[general]\ncountry=us\n");
    init_tones();
    ASSERT_NE(gp->tonelist, nullptr);
    EXPECT_EQ(gp->tonelist->first, nullptr);
    EXPECT_EQ(gp->tonelist->last, nullptr);
}

TEST_F(ToneSets, LookupByCodeFallsBackToTheDefault)
{
    debug_lines log({TARN});
    load("[general]\ncountry=AT\n[de]\n[at]\n");
    init_tones();
    tone_config_set *de = gp->tonelist->first, *at = de->list;
    EXPECT_EQ(get_tone_config("DE"), de) << "case ignored";
    EXPECT_EQ(get_tone_config("de"), de);
    EXPECT_EQ(get_tone_config("fr"), at) << "the default code's set";
    EXPECT_EQ(get_tone_config(""), at);
    EXPECT_TRUE(log.lines().empty());

    // The default code itself without a set: the one-name message.
    free_tone_list(gp->tonelist);
    cm_destroy(gp->config_tones);
    load("[general]\ncountry=xx\n[de]\n");
    init_tones();
    EXPECT_EQ(get_tone_config("XX"), nullptr);
    EXPECT_TRUE(log.has("failed to find matching tone set for XX!"));
    // Neither the code nor the default has a set: both names.
    EXPECT_EQ(get_tone_config("fr"), nullptr);
    EXPECT_TRUE(log.has("failed to find matching tone set for \"fr\" or \"xx\"!"));
    EXPECT_EQ(log.lines().size(), 2u);
}

TEST_F(ToneSets, TheDefaultCodeIsCutTo15Characters)
{
    debug_lines log({TARN});
    load("[general]\ncountry=abcdefghijklmnopq\n[abcdefghijklmno]\n");
    init_tones();
    EXPECT_EQ(get_tone_config("fr"), gp->tonelist->first);
    // Without a configuration the default is empty.
    free_tone_list(gp->tonelist);
    gp->tonelist = nullptr;
    cm_destroy(gp->config_tones);
    gp->config_tones = nullptr;
    EXPECT_EQ(get_tone_config("fr"), nullptr);
    EXPECT_TRUE(log.has("failed to find matching tone set for \"fr\" or \"\"!"));
}

TEST(Ipv4Text, OnlyDottedQuads)
{
    struct {
        const char *text;
        int want;
    } cases[] = {
        {"10.0.0.1", 1}, {"255.255.255.255", 1}, {"::1", 0}, {"gw.example.net", 0},
        {"10.0.0", 0},   {"10.0.0.256", 0},      {"", 0},    {nullptr, 0},
    };
    for (auto &c : cases)
        EXPECT_EQ(is_it_an_ipv4_address(c.text), c.want) << (c.text ? c.text : "(null)");
}

} // namespace
