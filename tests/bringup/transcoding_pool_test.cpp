// The transcoding timeslot pool: built from the TDM map's rows above port
// 9999, takes and releases, its two listings, and takes from several threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "application.h"
#include "debug_lines.h"
#include "experimental_options.h"
#include "stream_text.h"
#include "tdm_settings.h"
#include "transcoding_pool.h"

namespace {

class TranscodingPool : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!gp)
            application_create();
        saved_eo = gp->experimental_options;
        eo = {};
        gp->experimental_options = &eo;
        tdm_reset(&gp->tdm_map);
    }
    void TearDown() override
    {
        tdm_reset(&gp->tdm_map);
        init_transcoding_timeslots_array();
        gp->experimental_options = saved_eo;
    }
    void row(uint16_t port, uint16_t logical)
    {
        tdm_settings &t = gp->tdm_map;
        t.timeslots[t.timeslot_size++] = {1, port, 1, logical, logical};
    }
    // Line rows around transcoding rows 200-203.
    void map_200_to_203()
    {
        row(1, 5);
        row(9999, 6);
        for (uint16_t ts = 200; ts <= 203; ts++)
            row((uint16_t)(10001 + ts - 200), ts);
        row(100, 7);
        init_transcoding_timeslots_array();
    }
    experimental_options eo;
    experimental_options *saved_eo = nullptr;
};

TEST_F(TranscodingPool, TakesAndReleases)
{
    map_200_to_203();
    enum { TAKE, RELEASE };
    struct {
        int op;
        int arg;
        int result;
    } steps[] = {
        {TAKE, 0, 200},    {TAKE, 0, 201},      {RELEASE, 201, 0}, {TAKE, 0, 201},
        {RELEASE, 204, 0}, {RELEASE, 199, 0},   {RELEASE, -1, 0},  {TAKE, 0, 202},
        {TAKE, 0, 203},    {TAKE, 0, -1},       {RELEASE, 200, 0}, {RELEASE, 203, 0},
        {TAKE, 0, 200},    {TAKE, 0, 203},      {TAKE, 0, -1},
    };
    int n = 0;
    for (auto &s : steps) {
        SCOPED_TRACE(n++);
        if (s.op == TAKE)
            EXPECT_EQ(transcoding_get_free_timeslot(), s.result);
        else
            EXPECT_EQ(transcoding_release_timeslot(s.arg), s.result);
    }
}

TEST_F(TranscodingPool, EmptyWithoutTranscodingRows)
{
    eo.eo_extra_debugging = 1;
    debug_lines log({MSP});
    row(1, 5);
    row(9999, 6);
    init_transcoding_timeslots_array();
    EXPECT_EQ(transcoding_get_free_timeslot(), -1);
    EXPECT_EQ(transcoding_release_timeslot(0), 0);
    EXPECT_EQ(transcoding_get_free_timeslot(), -1);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("TCL (from init_transcoding_timeslots_array:", 0), 0u) << log.lines()[0];
    EXPECT_NE(log.lines()[0].find("): SIZE 0 / none in use"), std::string::npos) << log.lines()[0];
    EXPECT_EQ(stream_text([](FILE *out) { transcoding_list_timeslots_fprintf(out); }), "TCL : SIZE 0\n");
}

TEST_F(TranscodingPool, ListingsShowWhatIsInUse)
{
    map_200_to_203();
    transcoding_get_free_timeslot();
    transcoding_get_free_timeslot();
    transcoding_release_timeslot(200);

    {
        // Without extra debugging only the unchecked forms list.
        debug_lines log({MSP});
        EXPECT_EQ(transcoding_list_timeslots("f", 7), 0);
        EXPECT_TRUE(log.lines().empty());
        EXPECT_EQ(stream_text([](FILE *out) { transcoding_list_timeslots_fprintf(out); }), "");
        EXPECT_EQ(_transcoding_list_timeslots("g", 9), 0);
        EXPECT_EQ(log.lines(), (std::vector<std::string>{"TCL (from g:9): SIZE 4", "idx 1 : ts -1 (201)"}));
    }

    eo.eo_extra_debugging = 1;
    debug_lines log({MSP});
    transcoding_list_timeslots("call_s2s_stop_transcoding", 42);
    transcoding_release_timeslot(201);
    transcoding_list_timeslots("f", 7);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"TCL (from call_s2s_stop_transcoding:42): SIZE 4",
                                                     "idx 1 : ts -1 (201)", "TCL (from f:7): SIZE 4 / none in use"}));

    transcoding_get_free_timeslot();
    EXPECT_EQ(stream_text([](FILE *out) { transcoding_list_timeslots_fprintf(out); }),
              "TCL : SIZE 4\n"
              "idx 0 : ts -1 (200)\n"
              "idx 1 : ts 201 (201)\n"
              "idx 2 : ts 202 (202)\n"
              "idx 3 : ts 203 (203)\n");
    eo.eo_extra_debugging = 0;
    EXPECT_EQ(stream_text([](FILE *out) { _transcoding_list_timeslots_fprintf(out); }).substr(0, 13), "TCL : SIZE 4\n");
}

TEST_F(TranscodingPool, GapsInTheRowsAreCritical)
{
    struct {
        std::vector<uint16_t> slots;
        bool critical;
    } cases[] = {
        {{200, 201, 202}, false},
        {{200, 201, 205}, true},
        {{201, 200}, true},
        {{300}, false},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.slots.size());
        tdm_reset(&gp->tdm_map);
        for (size_t i = 0; i < c.slots.size(); i++)
            row((uint16_t)(10001 + i), c.slots[i]);
        debug_lines log({MSP});
        init_transcoding_timeslots_array();
        EXPECT_EQ(log.count("CRITICAL: transcoding timeslots are not consecutive"), c.critical ? 1 : 0);
        EXPECT_EQ(transcoding_get_free_timeslot(), c.slots[0]);
    }
}

// The pool the TDM map sets aside after the line rows is consecutive.
TEST_F(TranscodingPool, BuiltFromTheFinishedMap)
{
    tdm_settings &t = gp->tdm_map;
    for (uint16_t ts = 0; ts < 4; ts++)
        t.timeslots[t.timeslot_size++] = {1, 3, (uint16_t)(ts + 1), ts, 0};
    tdm_s2s_choice c = tdm_choose_s2s_bus(&t, -1, 0);
    tdm_finish_map(&t, c);
    ASSERT_GT(c.slots, 0);
    int first = -1;
    for (int i = 0; i < t.timeslot_size; i++)
        if (t.timeslots[i].port > 9999) {
            first = t.timeslots[i].logical_timeslot;
            break;
        }
    debug_lines log({MSP});
    init_transcoding_timeslots_array();
    EXPECT_EQ(log.count("CRITICAL"), 0);
    std::vector<int> taken;
    for (int ts; (ts = transcoding_get_free_timeslot()) != -1;)
        taken.push_back(ts);
    ASSERT_EQ((int)taken.size(), c.slots);
    for (int i = 0; i < c.slots; i++)
        EXPECT_EQ(taken[i], first + i);
}

// Takes and releases from several threads never hand one timeslot out twice.
TEST_F(TranscodingPool, TakesFromSeveralThreads)
{
    for (uint16_t ts = 0; ts < 200; ts++)
        row((uint16_t)(10001 + ts), (uint16_t)(100 + ts));
    init_transcoding_timeslots_array();
    enum { THREADS = 4, ROUNDS = 500 };
    std::vector<std::vector<int>> kept(THREADS);
    std::vector<std::thread> threads;
    for (int k = 0; k < THREADS; k++)
        threads.emplace_back([k, &kept] {
            for (int r = 0; r < ROUNDS; r++) {
                int a = transcoding_get_free_timeslot();
                int b = transcoding_get_free_timeslot();
                if (b != -1)
                    transcoding_release_timeslot(b);
                if (a != -1)
                    kept[k].push_back(a);
            }
        });
    for (auto &th : threads)
        th.join();
    std::set<int> all;
    size_t count = 0;
    for (auto &v : kept) {
        all.insert(v.begin(), v.end());
        count += v.size();
    }
    EXPECT_EQ(all.size(), count) << "a timeslot was handed out twice";
    EXPECT_EQ(count, 200u);
    EXPECT_EQ(transcoding_get_free_timeslot(), -1);
}

} // namespace
