// The media processor statistics and bit-error-rate test commands against
// the simulated media processor: the TDM synchronisation counters with a
// reply, a rejection and no answer, the playout errors of a call, and the
// test-mode command of a BERT start on the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstdlib>
#include <string>
#include <thread>

#include "application.h"
#include "console.h"
#include "csm_stats.h"
#include "console_test_util.h"
#include "global_lock.h"
#include "mc_options.h"
#include "msp_link_env.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "pools.h"

namespace {

class ConsoleLink : public msp_link_environment {
public:
    void SetUp() override
    {
        msp_link_environment::SetUp();
        mc_init_options();
        OPERATIONARRAYSIZE = 2;
        for (int i = 0; i < 2; i++) {
            gp->operations[i] = new call_object();
            init_call_object(gp->operations[i], i);
        }
    }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new ConsoleLink);
mspsim_runner *const &sim = msp_link_environment::sim();

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// How many frames from the daemon have the function code.
size_t count_in(const std::string &name)
{
    std::vector<json_value> in = sim->frames("in");
    return std::count_if(in.begin(), in.end(), [&](const json_value &f) { return f["name"].str() == name; });
}

// The frame from the daemon with the function code that follows the first
// `seen` of them, waited for.
json_value next_in(const std::string &name, size_t seen)
{
    auto named = [&](const std::vector<json_value> &in) {
        std::vector<json_value> out;
        std::copy_if(in.begin(), in.end(), std::back_inserter(out),
                     [&](const json_value &f) { return f["name"].str() == name; });
        return out;
    };
    std::vector<json_value> in =
        named(sim->wait_frames("in", [&](const std::vector<json_value> &got) { return named(got).size() > seen; }));
    return in.size() > seen ? in[seen] : json_value();
}

// Call 0 with its voice channel on timeslot 7; the channel's number.
int voice_call()
{
    static int channel = -1;
    call_object *co = gp->operations[0];
    co->callinfo = CI_SIP_TO_ISDN;
    co->msp_state = MSP_VOICE_ACTIVE;
    co->tdm_logical_timeslot = 7;
    if (channel < 0) {
        channel = (int)sim->request(R"({"cmd": "leftover", "timeslot": 7})")["channel"].num();
        lock_hold hold(&lock_manager::msp_queue_lock);
        msp_assign_channel_to_timeslot(7, channel, nullptr);
    }
    return channel;
}

// The decoded fields of a test-mode command.
void expect_test_mode(const json_value &f, int generation, int pattern)
{
    ASSERT_EQ(f["name"].str(), "FC_SET_TEST_MODE");
    const json_value &v = f["fields"];
    EXPECT_EQ(v["test_pattern_generation_verification"].num(), generation);
    EXPECT_EQ(v["interface"].num(), 0);
    EXPECT_EQ(v["test_type"].num(), 1);
    EXPECT_EQ(v["test_pattern"].num(), pattern);
    EXPECT_EQ(v["num_of_contiguous_good_bits_to_cause_lock"].num(), 256);
    EXPECT_TRUE(f["problems"].a.empty());
}

TEST(ConsoleMspStats, TdmSyncStatistics)
{
    ASSERT_NE(sim, nullptr);
    // The console waits 400 ms for the reply, which a simulator slowed by a
    // loaded machine can miss: a query that should be answered is asked again.
    auto answered = [](const char *cmd) {
        std::string out;
        for (int attempt = 0; attempt < 10; attempt++) {
            out = dispatcher_answer(cmd);
            if (!has(out, "No TDM_SYNC_STATISTICS reply within 400 ms"))
                break;
        }
        return out;
    };
    std::string out = answered("xt");
    EXPECT_FALSE(has(out, "NOTE:")) << out;
    EXPECT_TRUE(has(out, "TDM SYNC STATISTICS (bus 0, function code 000000, msg_length ")) << out;
    EXPECT_TRUE(has(out, "Format revision                               : 1\n")) << out;
    EXPECT_TRUE(has(out, "RX Bank Switch Out Of Sync Count              : 0 (tracking OFF by default)\n")) << out;
    EXPECT_TRUE(has(out, "Maximal transmitter deviation                 : 0 (= 0 us) (tracking OFF by default)\n"))
        << out;
    std::vector<json_value> sent = sim->wait_frames("in", 1);
    ASSERT_FALSE(sent.empty());
    json_value q = sent.back();
    EXPECT_EQ(q["class"].num(), 5);
    EXPECT_EQ(q["type"].num(), 0x91);
    EXPECT_EQ(q["len"].num(), 8);

    out = answered("xt1");
    EXPECT_TRUE(has(out, "NOTE: function code 0x0001 is not 0x0000. The MSP command loop matches a\n"
                         "      reply to its request by function code; if the device does not echo\n"
                         "      this value back, tarn treats the reply as an unsolicited indication\n"
                         "      and may exit with MSP_DEVICE_NOT_ANSWERING. Use plain 'xt' if unsure.\n"))
        << out;
    EXPECT_TRUE(has(out, "Counters were reset after this read\n")) << out;

    // The device refuses the query.
    sim->request(R"({"cmd": "rule", "rule": {"class": 5, "type": 145, "answer": "report", "error": 30, "count": 1}})");
    out = dispatcher_answer("xt");
    EXPECT_TRUE(has(out, "TDM_SYNC_STATISTICS was REJECTED by the device: error_code 30 (0x001e)\n")) << out;

    // No answer within the window (the late one still reaches the store).
    sim->request(
        R"({"cmd": "rule", "rule": {"class": 5, "type": 145, "answer": "late", "delay_ms": 3000, "count": 1}})");
    uint32_t replies = msp_tdm_sync_stats.sequence;
    auto start = std::chrono::steady_clock::now();
    out = dispatcher_answer("xt");
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(out, "No TDM_SYNC_STATISTICS reply within 400 ms (bus 0, fc 000000).\n"
                   "The device may not implement command class 0x05 / type 0x91. Check the log for\n"
                   "\"MSP rejected command\" (error_code) entries.\n\r\n");
    EXPECT_LT(took, 2.5);
    // The late answer still fills the store (and frees the command queue).
    for (int i = 0; i < 1000 && __atomic_load_n(&msp_tdm_sync_stats.sequence, __ATOMIC_ACQUIRE) == replies; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(msp_tdm_sync_stats.sequence, replies);
}

TEST(ConsoleMspStats, PlayoutErrorsOfACall)
{
    ASSERT_NE(sim, nullptr);
    EXPECT_EQ(dispatcher_answer("xp1"),
              "cannot read playout statistics, couldn't retrieve call object at index 1\n\r\n");
    gp->operations[1]->callinfo = CI_SIP_TO_ISDN;
    EXPECT_EQ(dispatcher_answer("xp1"),
              "cannot read playout statistics, no voice processing active at index 1\n\r\n");
    gp->operations[1]->callinfo = CI_FREE;

    int channel = voice_call();
    std::string out = dispatcher_answer("xp0");
    EXPECT_TRUE(has(out, "VOICE PLAYOUT ERROR STATISTICS (call index 0, channel " + std::to_string(channel) +
                             ", timeslot 7, msg_length "))
        << out;
    EXPECT_TRUE(has(out, "Format revision                               : 2\n")) << out;
    EXPECT_TRUE(has(out, "Interpolative Concealment [to PCM]            : 0 ms\n")) << out;
    EXPECT_TRUE(has(out, "End-point Detection Errors                    : 0\n")) << out;
}

TEST(ConsoleBert, StartStatisticsAndListing)
{
    ASSERT_NE(sim, nullptr);
    int channel = voice_call();
    std::string ch = std::to_string(channel);
    EXPECT_EQ(dispatcher_answer("tbert1"), "\r\n");
    EXPECT_EQ(dispatcher_answer("pbertA5"), "Setting custom test pattern 0xa5\n\r\n");
    size_t test_modes = count_in("FC_SET_TEST_MODE");
    std::string out = dispatcher_answer("bert0");
    EXPECT_EQ(out, "starting bert for call on index 0\n\n"
                   "Starting bert for call at index 0 => timeslot 7 / channel " + ch + "\n"
                   "Bert Test => Using custom test pattern a5\n\r\n");
    json_value f = next_in("FC_SET_TEST_MODE", test_modes++);
    ASSERT_EQ(f["name"].str(), "FC_SET_TEST_MODE");
    // Generate and verify with the custom pattern, lock after 256 good bits;
    // the test type keeps its default.
    expect_test_mode(f, 1, 0xa5);

    EXPECT_EQ(dispatcher_answer("tbert0"), "\r\n");
    EXPECT_EQ(dispatcher_answer("pbert0"), "Setting custom test pattern 0x00\n\r\n");
    out = dispatcher_answer("bert0");
    EXPECT_TRUE(has(out, "Bert Test => Using automatic pattern\n")) << out;
    f = next_in("FC_SET_TEST_MODE", test_modes);
    expect_test_mode(f, 3, 0);
    EXPECT_EQ(dispatcher_answer("pbert1ff"), "Setting custom test pattern 0xff\n\r\n");

    // The statistics query goes to the call's channel; the dispatcher of
    // the daemon files the answer, here it is filed by hand.
    EXPECT_EQ(dispatcher_answer("sbert0"), "\r\n");
    std::vector<json_value> in = sim->wait_frames("in", [](const std::vector<json_value> &got) {
        return !got.empty() && got.back()["type"].num() == 35;
    });
    ASSERT_FALSE(in.empty());
    json_value q = in.back();
    EXPECT_EQ(q["type"].num(), 35);
    EXPECT_EQ(q["class"].num(), 1);
    EXPECT_EQ(q["channel"].num(), channel);
    bert_statistics *b = static_cast<bert_statistics *>(calloc(1, sizeof(bert_statistics)));
    *b = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0};
    gp->bert_stat[channel] = b;
    EXPECT_EQ(dispatcher_answer("lbert0"), "Got channel " + ch + " for call at index 0\n"
                                           "LISTING BERT DATA FOR CHANNEL " + ch + "\n"
                                           "Statistics Version                           : 1\n"
                                           "Number of packets received                   : 10\n"
                                           "Number of packets lost                       : 11\n"
                                           "Number of lock transitions                   : 8\n"
                                           "Number of good bits received since last lock : 6\n"
                                           "Number of good bits received                 : 4\n"
                                           "Number of bits transmitted                   : 9\n"
                                           "Number of bits received                      : 3\n"
                                           "Number of bad bits received since last lock  : 7\n"
                                           "Number of bad bits received                  : 5\n"
                                           "Current lock state                           : 2\n\r\n");
    EXPECT_EQ(dispatcher_answer("cbert255"), "Invalid channel 255 given\n\r\n");
    EXPECT_EQ(dispatcher_answer("cbert-1"), "Invalid channel -1 given\n\r\n");
    EXPECT_EQ(dispatcher_answer("cbert200"), "BERT DATA FOR CHANNEL 200 not acquired yet\n\r\n");
    EXPECT_EQ(dispatcher_answer("lbert1"), "Do not have active call on index 1\n\r\n");
    EXPECT_EQ(dispatcher_answer("bert1"), "starting bert for call on index 1\n\n"
                                          "cannot start bert, couldn't retrieve call object at index 1\n\r\n");
    EXPECT_EQ(dispatcher_answer("sbert1"), "cannot bert_stat, couldn't retrieve call object at index 1\n\r\n");
}

} // namespace
