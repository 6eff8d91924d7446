// The timeslot-to-channel map and the DSP budget, without the threads.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "log_lines.h"
#include "msp_manager.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "msp_timeslot.h"

namespace {

std::string printed(void (*fn)(FILE *, int), int arg)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    fn(f, arg);
    fclose(f);
    std::string s(buf, len);
    free(buf);
    return s;
}

class MspState : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(msp_create_command_manager(), nullptr);
        msp_init_timeslots();
        msp_init_resources();
    }
};

// ---------------------------------------------------------------------------
// Timeslot map

TEST_F(MspState, AssignAndReleaseKeepBothDirectionsOfTheMap)
{
    csminstruction owner = {};
    int ctx;
    owner.context = &ctx;
    owner.pid = 77;
    EXPECT_EQ(msp_assign_channel_to_timeslot(40, 12, &owner), 1);
    EXPECT_EQ(msp_timeslot_to_channel(40), 12);
    EXPECT_EQ(msp_channel_to_timeslot(12), 40);
    EXPECT_EQ(timeslot_manager_context[40], &ctx);
    EXPECT_EQ(timeslot_manager_pid[40], 77);
    EXPECT_EQ(msp_is_timeslot_in_use(40), 1);

    log_lines log;
    EXPECT_EQ(msp_release_timeslot(&ctx, 40), 1);
    EXPECT_EQ(msp_timeslot_to_channel(40), MSP_CHANNEL_FREE);
    EXPECT_EQ(msp_channel_to_timeslot(12), -1);
    EXPECT_EQ(timeslot_manager_context[40], nullptr);
    EXPECT_EQ(timeslot_manager_pid[40], 0);
    EXPECT_TRUE(log.has("releasing timeslot 40"));
    EXPECT_FALSE(log.has("but already seems to be released"));

    // Once more: logged, still free.
    EXPECT_EQ(msp_release_timeslot(&ctx, 40), 1);
    EXPECT_TRUE(log.has("but already seems to be released"));
    EXPECT_EQ(msp_timeslot_to_channel(40), MSP_CHANNEL_FREE);

    // The unset timeslot changes nothing.
    msp_assign_channel_to_timeslot(0, 3, nullptr);
    EXPECT_EQ(msp_release_timeslot(nullptr, -1), 0);
    EXPECT_TRUE(log.has("CRITICAL: trying to release unset timeslot"));
    EXPECT_EQ(msp_timeslot_to_channel(0), 3);
}

TEST_F(MspState, LookupsOutsideTheMapAndSharedChannels)
{
    msp_assign_channel_to_timeslot(9, 5, nullptr);
    msp_assign_channel_to_timeslot(3, 5, nullptr);
    EXPECT_EQ(msp_channel_to_timeslot(5), 3) << "the lower timeslot";
    EXPECT_EQ(get_timeslot_for_channel(5), 3);
    for (int ts : {-1, 512, 600})
        EXPECT_EQ(msp_timeslot_to_channel(ts), -1) << ts;
    EXPECT_EQ(msp_is_timeslot_in_use(600), 0);

    EXPECT_STREQ(get_cid_for_timeslot(600), "CID:000000:00");
    EXPECT_EQ(set_cid_for_timeslot(600, "x"), -1);
    std::string longtag(40, 'C');
    EXPECT_EQ(set_cid_for_timeslot(7, longtag.c_str()), 0);
    EXPECT_EQ(std::string(get_cid_for_timeslot(7)), std::string(31, 'C'));
}

TEST_F(MspState, MarkingATimeslotUsedOnlyFromFree)
{
    log_lines log;
    EXPECT_EQ(msp_mark_timeslot_used(20), 0);
    EXPECT_EQ(msp_timeslot_to_channel(20), MSP_CHANNEL_PENDING);
    EXPECT_EQ(msp_is_timeslot_in_use(20), 1);
    EXPECT_EQ(msp_mark_timeslot_used(20), -1);
    EXPECT_TRUE(log.has("has value ts[20]=MSP_CHANNEL_PENDING"));
    msp_assign_channel_to_timeslot(21, 4, nullptr);
    EXPECT_EQ(msp_mark_timeslot_used(21), -1);
    EXPECT_TRUE(log.has("has value ts[21]=4"));
    EXPECT_EQ(msp_mark_timeslot_used(512), -1);
    EXPECT_TRUE(log.has("CRITICAL: msp_mark_timeslot_used: use of invalid timeslot"));
}

TEST_F(MspState, TheMapPrintsOnlyUsedTimeslots)
{
    msp_assign_channel_to_timeslot(2, 8, nullptr);
    msp_assign_channel_to_timeslot(300, 9, nullptr);
    auto print = [](FILE *f, int) { msp_print_tschan_map(f); };
    EXPECT_EQ(printed(print, 0), "timeslot 2 => channel 8\ntimeslot 300 => channel 9\n");
}

TEST(MspStateDeath, AssigningOutsideTheMapEndsTheProcess)
{
    EXPECT_EXIT(msp_assign_channel_to_timeslot(512, 4, nullptr), ::testing::ExitedWithCode(105),
                "invalid  MSP timeslot 512:4");
}

// ---------------------------------------------------------------------------
// DSP budget

TEST_F(MspState, ProcessorIdsSelectTheirModel)
{
    struct row {
        int id;
        int result;
        const char *model;
        int budget;
    } rows[] = {
        {1, 0, "MSP_M82530", 1920},  {2, 0, "MSP_M82520", 1920},  {3, 0, "MSP_M82510", 960},
        {4, 0, "MSP_M82505", 480},   {10, 0, "MSP_M82515", 960},  {11, 0, "MSP_M82511", 960},
        {13, 0, "MSP_M82501", 240},  {12, -1, "MSP_M82506", 240}, {14, -1, "MSP_M82514", 240},
        {15, -1, "MSP_M82524", 240}, {7, -1, "MSP_M82501", 240},  {0, -1, "MSP_M82501", 240},
    };
    for (const row &r : rows) {
        msp_init_resources();
        EXPECT_EQ(msp_set_processor_type(r.id), r.result) << r.id;
        EXPECT_STREQ(msp_print_processor_id(), r.model) << r.id;
        EXPECT_EQ(msp_get_total_channels(), r.budget) << r.id;
        EXPECT_EQ(msp_get_free_channels(), r.budget) << r.id;
    }
}

TEST_F(MspState, ARequestOverTheBudgetIsRefused)
{
    // M82501: sixteen G.711 channels fill its 240 units.
    int fields[17] = {};
    for (int i = 0; i < 16; i++)
        ASSERT_EQ(msp_request_resource(nullptr, &fields[i], MSPRES_G711_20), 0) << i;
    EXPECT_EQ(msp_get_free_channels(), 0);
    EXPECT_EQ(msp_get_channel_usage(), 240);
    log_lines log;
    EXPECT_EQ(msp_request_resource(nullptr, &fields[16], MSPRES_G711_20), -1);
    EXPECT_EQ(fields[16], 0);
    EXPECT_TRUE(log.has("requesting g711_20: failed: having 0 | needed 15"));
    EXPECT_EQ(msp_release_all_resources(nullptr, &fields[3]), 0);
    EXPECT_EQ(fields[3], 0);
    EXPECT_EQ(msp_get_free_channels(), 15);
    EXPECT_EQ(msp_request_resource(nullptr, &fields[16], MSPRES_G711_20), 0);

    // On an M82510 with 120 units left a G.729e takes them all.
    ASSERT_EQ(msp_set_processor_type(3), 0);
    cman->msp_free_channels = 120;
    int a = 0, b = 0;
    EXPECT_EQ(msp_request_resource(nullptr, &a, MSPRES_G729e), 0);
    EXPECT_EQ(a, 1 << MSPRES_G729e);
    EXPECT_EQ(msp_get_free_channels(), 0);
    EXPECT_EQ(msp_request_resource(nullptr, &b, MSPRES_G711_20), -1);

    // A field already in use is refused whatever the budget.
    EXPECT_EQ(msp_request_resource(nullptr, &a, MSPRES_G711_20), -1);
    EXPECT_TRUE(log.has("CRITICAL: MSP resource already allocated"));
    // So is a type outside the table.
    EXPECT_EQ(msp_request_resource(nullptr, &b, 28), -1);
    EXPECT_EQ(msp_request_resource(nullptr, &b, -1), -1);
}

TEST_F(MspState, TypesNoModelCanDoAreAlwaysRefused)
{
    for (int id : {1, 2, 3, 4, 10, 11, 13}) {
        ASSERT_EQ(msp_set_processor_type(id), 0);
        for (int t : {MSPRES_G728, MSPRES_GSM_EFR, MSPRES_CDMA_EVRC, MSPRES_SMV,
                      MSPRES_G711_20_TRANSCODE_LEG}) {
            int f = 0;
            EXPECT_EQ(msp_request_resource(nullptr, &f, t), -1) << id << " " << t;
        }
    }
}

TEST_F(MspState, PartialReservationTakesAndGivesBackTheDifference)
{
    // M82520: G.711/20 costs 15, T.38 120.
    ASSERT_EQ(msp_set_processor_type(2), 0);
    int active = 0, reserve = 0;
    ASSERT_EQ(msp_request_resource(nullptr, &active, MSPRES_G711_20), 0);
    EXPECT_EQ(msp_get_free_channels(), 1905);
    EXPECT_EQ(msp_request_partial_resource(nullptr, &reserve, &active, MSPRES_T38), 0);
    EXPECT_EQ(reserve, (1 << MSPRES_G711_20) | (1 << MSPRES_T38) | (1 << MSPRES_LEFT_RESERVED));
    EXPECT_EQ(msp_get_free_channels(), 1800);
    EXPECT_EQ(msp_get_resource_usage(reserve), 105);
    // A second reservation on the same field is refused.
    EXPECT_EQ(msp_request_partial_resource(nullptr, &reserve, &active, MSPRES_CONFERENCING), -1);
    log_lines log;
    EXPECT_EQ(msp_release_all_resources(nullptr, &reserve), 0);
    EXPECT_TRUE(log.has("releasing t38 (minus g711_20)"));
    EXPECT_EQ(reserve, 0);
    EXPECT_EQ(msp_get_free_channels(), 1905);

    // Without an active type: the right marker and the full cost.
    int none = 0;
    EXPECT_EQ(msp_request_partial_resource(nullptr, &reserve, &none, MSPRES_T38), 0);
    EXPECT_EQ(reserve, (1 << MSPRES_T38) | (int)(1u << MSPRES_RIGHT_RESERVED));
    EXPECT_EQ(msp_get_free_channels(), 1785);
    EXPECT_EQ(msp_get_resource_usage(reserve), 120);
    EXPECT_EQ(msp_release_all_resources(nullptr, &reserve), 0);
    EXPECT_EQ(msp_get_free_channels(), 1905);

    // Nothing to reserve: the type is held already, or costs no more.
    EXPECT_EQ(msp_request_partial_resource(nullptr, &reserve, &active, MSPRES_G711_20), 0);
    EXPECT_EQ(reserve, 0);
    int t38 = 1 << MSPRES_T38;
    EXPECT_EQ(msp_request_partial_resource(nullptr, &reserve, &t38, MSPRES_G711_20), 0);
    EXPECT_EQ(reserve, 0);
    EXPECT_EQ(msp_get_free_channels(), 1905);

    // A difference the budget cannot cover.
    cman->msp_free_channels = 100;
    EXPECT_EQ(msp_request_partial_resource(nullptr, &reserve, &active, MSPRES_T38), -1);
    EXPECT_EQ(reserve, 0);
    EXPECT_EQ(msp_get_free_channels(), 100);
}

TEST_F(MspState, TypesFromAField)
{
    int left = 0, right = 0;
    EXPECT_EQ(msp_get_resource_types_from_field((1 << 3) | (1 << 9) | (1 << 18), &left, &right), 0);
    EXPECT_EQ(right, 3);
    EXPECT_EQ(left, 9);
    log_lines log;
    EXPECT_EQ(msp_get_resource_types_from_field(1 << 18 | (int)(1u << 31), &left, &right), -1);
    EXPECT_EQ(left, -1);
    EXPECT_EQ(right, 18);
    EXPECT_TRUE(log.has("CRITICAL: Something went wrong"));
    EXPECT_EQ(msp_get_resource_type_from_field(1 << 30), -1);
    EXPECT_EQ(msp_get_resource_type_from_field((1 << 6) | (1 << 2)), 2);
}

TEST_F(MspState, Listings)
{
    ASSERT_EQ(msp_set_processor_type(1), 0); // M82530: G.729e costs 48
    auto used = [](FILE *f, int field) { msp_print_used_resources(f, field); };
    EXPECT_EQ(printed(used, 1 << MSPRES_G729e),
              "g729e (3.200 msp channels)\nCall object MSP-channel usage: 3.000 channels\n");

    char buf[64] = "";
    msp_active_resource_to_buffer((1 << MSPRES_G711_20) | (1 << MSPRES_T38), buf, sizeof buf);
    EXPECT_STREQ(buf, "g711_20,t38");
    char small[6] = "";
    msp_reserved_resource_to_buffer((1 << MSPRES_G711_20) | (1 << MSPRES_T38), small, sizeof small);
    EXPECT_STREQ(small, "g711_");

    char flags[64];
    EXPECT_EQ(msp_print_flags_to_buffer(flags, sizeof flags, MSP_VOICE_ACTIVE | MSP_T38_ACTIVE), 31);
    EXPECT_STREQ(flags, "MSP_VOICE_ACTIVE|MSP_T38_ACTIVE");
    EXPECT_EQ(msp_print_flags_to_buffer(flags, 20, MSP_VOICE_ACTIVE | MSP_T38_ACTIVE), -1);
    auto pf = [](FILE *f, int s) { msp_print_flags(f, (unsigned)s); };
    EXPECT_EQ(printed(pf, MSP_BRIDGED | MSP_MFSIGNALLING_ACTIVE), "MSP_BRIDGED|MSP_MFSIGNALLING_ACTIVE\n");
}

} // namespace
