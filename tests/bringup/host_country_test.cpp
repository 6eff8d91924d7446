// The host-programmable country: a tone set's call-progress detection
// windows sent to the simulated media processor, decoded by the simulator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "debug_lines.h"
#include "msp_link_env.h"
#include "tones.h"

namespace {

// Collects TARN's lines from before the media processor thread starts to
// after it ends: levels and handler are set while no other thread logs.
debug_lines tarn_log({TARN});
const auto *env = ::testing::AddGlobalTestEnvironment(new msp_link_environment);
mspsim_runner *const &sim = msp_link_environment::sim();

// One tone set "de" with distinct windows (the last one wider than 16 bits).
void one_tone_set()
{
    gp->tonelist = (headtonelist *)calloc(1, sizeof(headtonelist));
    tone_config_set *set = (tone_config_set *)calloc(1, sizeof(tone_config_set));
    set->language_code = strdup("de");
    set->description = strdup("");
    for (int n = 0; n < ACP_TONES; n++) {
        set->call_progress.acp_detect_on_low[n] = 100 * n + 1;
        set->call_progress.acp_detect_on_high[n] = 100 * n + 2;
        set->call_progress.acp_detect_off_low[n] = 100 * n + 3;
        set->call_progress.acp_detect_off_high[n] = 100 * n + 4;
    }
    set->call_progress.acp_detect_off_high[3] = 0x12345;
    gp->tonelist->first = gp->tonelist->last = set;
}

std::vector<json_value> frames_in(size_t at_least)
{
    return sim->wait_frames("in", at_least);
}

TEST(HostProgrammableCountry, OneMessageWithTheSetsWindows)
{
    ASSERT_NE(sim, nullptr);
    one_tone_set();
    debug_lines &log = tarn_log;
    log.clear();
    int before = gp->msp_counter;
    char de[] = "DE", xx[] = "XX";
    EXPECT_EQ(set_host_programmable_language_code(de, 7), 0);
    std::vector<json_value> in = frames_in(1);
    ASSERT_EQ(in.size(), 1u);
    const json_value &f = in[0];
    EXPECT_EQ(f["name"].str(), "FC_CP_SET_COUNTRY_CODE_PARAMS");
    EXPECT_EQ(f["index"].num(), before + 1);
    EXPECT_EQ(f["channel"].num(), 0xFFFF);
    EXPECT_TRUE(f["problems"].a.empty());
    const json_value &v = f["fields"];
    EXPECT_EQ(v["host_programmable_country_code_index"].num(), 7);
    for (int n = 0; n < ACP_TONES; n++) {
        std::string t = "tone" + std::to_string(n + 1) + "_";
        SCOPED_TRACE(t);
        EXPECT_EQ(v[t + "on_cadence_low_threshold"].num(), 100 * n + 1);
        EXPECT_EQ(v[t + "on_cadence_high_threshold"].num(), 100 * n + 2);
        EXPECT_EQ(v[t + "off_cadence_low_threshold"].num(), 100 * n + 3);
        EXPECT_EQ(v[t + "off_cadence_high_threshold"].num(), n == 3 ? 0x2345 : 100 * n + 4);
    }
    const struct {
        const char *field;
        int value;
    } fixed[] = {
        {"filter1_coefficient_a2", 0x09A0}, {"filter1_coefficient_a1", 0xECC1},
        {"filter1_coefficient_a0", 0x09A0}, {"filter1_coefficient_b2", 0xC774},
        {"filter1_coefficient_b1", 0x759F}, {"filter2_coefficient_a2", 0x0736},
        {"filter2_coefficient_a1", 0x0E6C}, {"filter2_coefficient_a0", 0x0736},
        {"filter2_coefficient_b2", 0xCD4F}, {"filter2_coefficient_b1", 0x6713},
        {"on_to_off_transition_threshold", 340}, {"off_to_on_transition_threshold", 300},
        {"alpha_response_time", 512},       {"dropout_time", 0},
        {"cpnrg_most_mult", 0x4000},        {"debounce_threshold", 0},
    };
    for (auto &x : fixed)
        EXPECT_EQ(v[x.field].num(), x.value) << x.field;
    int zero_fields = 0;
    for (auto &[name, value] : v.o)
        if (name.rfind("filter3_", 0) == 0 || name.rfind("nbd_", 0) == 0) {
            EXPECT_EQ(value.num(), 0) << name;
            zero_fields++;
        }
    EXPECT_EQ(zero_fields, 15);

    // No set for the code nor the default: nothing sent, the number is used.
    EXPECT_EQ(set_host_programmable_language_code(xx, 0), -1);
    EXPECT_TRUE(log.has("CRITICAL: tone config not found for XX!"));
    EXPECT_EQ(gp->msp_counter.load(), before + 2);
    EXPECT_EQ(set_host_programmable_language_code(de, 0), 0);
    in = frames_in(2);
    ASSERT_EQ(in.size(), 2u) << "only the second known code was sent";
    EXPECT_EQ(in[1]["index"].num(), before + 3);
    free_tone_list(gp->tonelist);
    gp->tonelist = nullptr;
}

} // namespace
