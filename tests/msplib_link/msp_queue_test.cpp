// The command queue, its thread and the event dispatch against the
// simulated media processor: answers matched to their commands, each
// blocking caller with its own result, indications dispatched in between,
// the timeslot map kept by creates and destroys, and the faults of the link.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "csm_codes.h"
#include "csm_message.h"
#include "global_lock.h"
#include "log_lines.h"
#include "msp_dispatch.h"
#include "msp_link.h"
#include "msp_manager.h"
#include "msp_queue.h"
#include "msp_timeslot.h"
#include "mspsim_runner.h"
#include "thread_names.h"

namespace {

// ---------------------------------------------------------------------------
// The application side: a handler that records what reaches it.

struct event {
    int eventtype;
    int channel;
    int fc;
    int type;
    int value; // the first field of interest, per message
    bool global_lock_held;
    std::string thread;
};

std::mutex events_mutex;
std::vector<event> events;
std::atomic<int> fail_code{-1}; // responses of this code make the handler report failure

// Owners are small ints; their pid is 4000 + the owner.
intptr_t test_handler(magic_csm msg, int eventtype, int channel)
{
    if (eventtype == MSP_EVENT_QUERY_PID)
        return msg.u_raw ? 4000 + *static_cast<int *>(msg.u_raw) : 0;
    if (eventtype == MSP_EVENT_QUERY_BC)
        return 0;
    const csm_header *h = get_header(msg);
    event e = {eventtype, channel, h ? h->function_code : -1, h ? h->command_type : -1, 0, false, ""};
    if (h && h->function_code == FC_VOIP_TONEDET && h->command_type == CSM_TYPE_INDICATION)
        e.value = msg.u_csmchan_voip_tonedet_indication->tone_detect_value;
    if (h && h->function_code == MSP_FC_SVR_ERROR_REPORT)
        e.value = msg.u_csmdev_svr_error_handling->error_code;
    if (pthread_mutex_trylock(g_lock_manager->global_lock) == 0)
        pthread_mutex_unlock(g_lock_manager->global_lock);
    else
        e.global_lock_held = true;
    char name[16] = "";
    prctl(PR_GET_NAME, name, 0, 0, 0);
    e.thread = name;
    if (h && h->function_code == fail_code && eventtype == MSP_EVENT_MESSAGE)
        msp_return_code = -1;
    std::lock_guard<std::mutex> g(events_mutex);
    events.push_back(e);
    return 0;
}

void test_formatter(void *context, char *buffer, int size)
{
    if (context)
        snprintf(buffer, (size_t)size, "CID:%06d:00", *static_cast<int *>(context));
    else if (size > 0)
        buffer[0] = '\0';
}

std::vector<event> events_now()
{
    std::lock_guard<std::mutex> g(events_mutex);
    return events;
}

void clear_events()
{
    std::lock_guard<std::mutex> g(events_mutex);
    events.clear();
}

// Waits up to 2 s for an event that satisfies `want`.
template <typename P> bool wait_event(P want, int ms = 2000)
{
    for (int i = 0; i < ms / 5; i++) {
        for (const event &e : events_now())
            if (want(e))
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// ---------------------------------------------------------------------------
// The simulator, the link and the library, once for the whole binary.

mspsim_runner *sim = nullptr;

class LinkEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        sim = new mspsim_runner({"--device-mac", "00:11:22:33:44:55", "--processor-id", "3"});
        ASSERT_TRUE(sim->ok());
        setenv("TARN_MSP_SIM", sim->socket.c_str(), 1);
        // Room for the simulator's answers on a loaded machine (a missing
        // answer ends the process).
        setenv("TARN_MSP_SIM_WAIT_MS", "10000", 1);
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
        ASSERT_EQ(msp_init_interface("lo", mac), 0);
        ASSERT_EQ(msp_init_lib(test_handler, test_formatter), 0);
        cman->msplib_initializing = 0;
    }
    void TearDown() override
    {
        msp_stop_lib(); // its threads end before the records they use
        delete sim;
        sim = nullptr;
    }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new LinkEnvironment);

int queue_length()
{
    msp_queue_lock_take();
    int n = cman->csm_queue->length;
    msp_queue_lock_release();
    return n;
}

// The command thread has taken the head of the queue in hand.
bool head_in_hand()
{
    msp_queue_lock_take();
    bool taken = cman->csm_queue->first && cman->csm_queue->first->processing == 1;
    msp_queue_lock_release();
    return taken;
}

int counter = 0;

magic_csm command(int fc)
{
    magic_csm m = create_default_csm_msg(fc, ++counter);
    EXPECT_FALSE(csm_msg_is_null(m)) << fc;
    return m;
}

magic_csm device_query(int fc)
{
    return create_query_csm_msg(fc, CSM_CLASS_DEVICE, CSM_TYPE_QUERY, ++counter);
}

magic_csm create_on(int timeslot, int *owner)
{
    magic_csm m = command(FC_SUPVSR_CREATE_CHANNEL);
    test_formatter(owner, get_header(m)->cid, sizeof get_header(m)->cid);
    (void)timeslot;
    return m;
}

int blocking(magic_csm m, int address, void *owner = nullptr, int notify = 0)
{
    return _msp_queue_command(m, address, owner, 1, notify, __FILE__, "test", __LINE__);
}

// A device command that the simulator answers with success.
int ping(void *owner = nullptr)
{
    return blocking(command(FC_SUPVSR_SET_PCM_LAW), MSP_ADDRESS_DEVICE, owner);
}

class MspQueue : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(sim, nullptr);
        sim->request(R"({"cmd": "clear"})");
        clear_events();
        fail_code = -1;
    }
    std::vector<json_value> in_frames() const { return sim->frames("in"); }
    static std::vector<json_value> named(const std::vector<json_value> &frames, const std::string &name)
    {
        std::vector<json_value> out;
        for (const json_value &f : frames)
            if (f["name"].str() == name)
                out.push_back(f);
        return out;
    }
    static void rule(const std::string &json)
    {
        json_value r = sim->request(R"({"cmd": "rule", "rule": )" + json + "}");
        ASSERT_TRUE(r["ok"].b) << json;
    }
};

// ---------------------------------------------------------------------------

TEST_F(MspQueue, BlockingCallersFromManyThreadsEachGetTheirOwnResult)
{
    // Three kinds of command with three outcomes: the IP address refused by
    // the device, the latency level refused by the event handler, the PCM
    // law accepted.
    rule(R"({"fc": "FC_IP_ADDRESS", "answer": "error", "result": 1})");
    fail_code = FC_LATENCY_LEVEL;
    struct kind {
        int fc;
        int notify;
        int expected;
    } kinds[] = {{FC_IP_ADDRESS, 0, -1}, {FC_LATENCY_LEVEL, 1, -1}, {FC_SUPVSR_SET_PCM_LAW, 1, 0}};

    std::atomic<int> wrong{0}, done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 9; t++) {
        threads.emplace_back([&, t] {
            const kind &k = kinds[t % 3];
            for (int i = 0; i < 20; i++) {
                magic_csm m = create_default_csm_msg(k.fc, 0);
                int r = _msp_queue_command(m, MSP_ADDRESS_DEVICE, nullptr, 1, k.notify, __FILE__,
                                           "worker", __LINE__);
                if (r != k.expected || msp_return_code != k.expected)
                    wrong++;
                done++;
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    EXPECT_EQ(done, 180);
    EXPECT_EQ(wrong, 0);
    fail_code = -1;
}

TEST_F(MspQueue, AnIndicationBeforeTheAnswerIsDispatchedAndTheAnswerStillMatched)
{
    rule(R"({"fc": "FC_SUPVSR_SET_TS_MODE", "count": 1,
             "before": [{"indication": "FC_VOIP_TONEDET", "channel": 5, "fields": {"tone_detect_value": 51}}]})");
    log_lines log;
    EXPECT_EQ(blocking(command(FC_SUPVSR_SET_TS_MODE), MSP_ADDRESS_DEVICE), 0);
    EXPECT_TRUE(log.has("dispatching event (5)!"));
    EXPECT_TRUE(wait_event([](const event &e) {
        return e.fc == FC_VOIP_TONEDET && e.type == CSM_TYPE_INDICATION && e.channel == 5 &&
               e.value == 51 && e.eventtype == MSP_EVENT_MESSAGE && e.thread == "tarn.msp_disp" &&
               e.global_lock_held;
    }));

    // A response delivered as an event comes after the indication that
    // arrived ahead of it.
    rule(R"({"fc": "FC_SUPVSR_SET_TS_MODE", "count": 1,
             "before": [{"indication": "FC_VOIP_TONEDET", "channel": 5, "fields": {"tone_detect_value": 52}}]})");
    clear_events();
    _msp_queue_command(command(FC_SUPVSR_SET_TS_MODE), MSP_ADDRESS_DEVICE, nullptr, 0, 1, __FILE__,
                       "test", __LINE__);
    ASSERT_TRUE(wait_event([](const event &e) { return e.fc == FC_SUPVSR_SET_TS_MODE; }));
    std::vector<event> got = events_now();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].fc, FC_VOIP_TONEDET);
    EXPECT_EQ(got[0].value, 52);
    EXPECT_EQ(got[1].fc, FC_SUPVSR_SET_TS_MODE);
    EXPECT_EQ(got[1].type, CSM_TYPE_RESPONSE);
    EXPECT_EQ(got[1].channel, 0xFFFF);
    EXPECT_FALSE(got[1].global_lock_held) << "device messages run without global_lock";
}

TEST_F(MspQueue, AnIndicationOfTheQueriedCodeDoesNotAnswerTheQuery)
{
    rule(R"({"fc": "FC_EXT_CLOCK_STATUS", "count": 1,
             "before": [{"indication": "FC_EXT_CLOCK_STATUS", "channel": 65535,
                         "fields": {"tdm_bus_0_working": 1}}]})");
    EXPECT_EQ(blocking(device_query(FC_EXT_CLOCK_STATUS), MSP_ADDRESS_DEVICE, nullptr, 1), 0);
    EXPECT_TRUE(wait_event([](const event &e) {
        return e.fc == FC_EXT_CLOCK_STATUS && e.type == CSM_TYPE_INDICATION;
    }));
    std::vector<event> got = events_now();
    int answers = 0;
    for (const event &e : got)
        if (e.fc == FC_EXT_CLOCK_STATUS && e.type == CSM_TYPE_QUERY_RESPONSE) {
            answers++;
            EXPECT_EQ(e.thread, "tarn.msp_loop") << "a blocking notify answer is handled in the command thread";
        }
    EXPECT_EQ(answers, 1);
}

TEST_F(MspQueue, FramesThatAreNotTheAnswerLeaveTheWaitGoing)
{
    struct row {
        const char *rule;
        const char *logged;
    } rows[] = {
        {R"({"fc": "FC_SUPVSR_SET_PCM_LAW", "count": 1, "before": ["short"]})",
         "CRITICAL: SOMETHING WENT WRONG, parsing of this message not implemented"},
        {R"({"fc": "FC_SUPVSR_SET_PCM_LAW", "count": 1, "before": ["empty"]})", "Garbage from MSP (2)"},
        {R"({"fc": "FC_SUPVSR_SET_PCM_LAW", "count": 1, "before": ["garbage"]})",
         "CRITICAL: SOMETHING WENT WRONG, parsing of this message not implemented"},
        {R"({"fc": "FC_SUPVSR_SET_PCM_LAW", "count": 1, "answer": "wrong_fc"})", "dispatching event (5)!"},
        {R"({"fc": "FC_SUPVSR_SET_PCM_LAW", "count": 1, "answer": "late", "delay_ms": 60})", "RECV"},
    };
    for (const row &r : rows) {
        rule(r.rule);
        log_lines log;
        size_t before = in_frames().size();
        EXPECT_EQ(ping(), 0) << r.rule;
        EXPECT_TRUE(log.has(r.logged)) << r.rule;
        EXPECT_EQ(in_frames().size(), before + 1) << "sent once: " << r.rule;
    }
}

TEST_F(MspQueue, StopEndsBothThreadsAndNoCallerIsLeftWaiting)
{
    // The first command is answered late: while the command thread waits
    // for it, a second caller queues behind it; then the library stops.
    rule(R"({"fc": "FC_SUPVSR_SET_PCM_LAW", "count": 1, "answer": "late", "delay_ms": 2000})");
    size_t sent = in_frames().size();
    std::atomic<int> first{1}, second{1};
    std::thread a([&] { first = ping(); });
    for (int i = 0; i < 2000 && !head_in_hand(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(head_in_hand());
    std::thread b([&] { second = ping(); });
    for (int i = 0; i < 2000 && queue_length() < 2; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(queue_length(), 2);
    msp_stop_lib();
    a.join();
    b.join();
    EXPECT_EQ(first, 0) << "the command in flight ends with its answer";
    EXPECT_EQ(second, -1) << "the queued one is dropped";
    EXPECT_EQ(count_threads("tarn.msp_loop"), 0);
    EXPECT_EQ(count_threads("tarn.msp_disp"), 0);
    EXPECT_EQ(queue_length(), 0);
    EXPECT_EQ(in_frames().size(), sent + 1) << "nothing sent after the stop";
    EXPECT_EQ(ping(), -1) << "a blocking caller after the stop is refused at once";
    msp_stop_lib(); // twice: nothing left to do

    // started again, it works as before
    ASSERT_EQ(msp_init_lib(test_handler, test_formatter), 0);
    EXPECT_EQ(ping(), 0);
    // each thread names itself once it runs
    for (int i = 0; i < 2000 && count_threads("tarn.msp_disp") == 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(count_threads("tarn.msp_loop"), 1);
    EXPECT_EQ(count_threads("tarn.msp_disp"), 1);
}

TEST_F(MspQueue, RefusalsReachTheCaller)
{
    // The device's error report ends the command with a failure and is
    // handed to the application.
    rule(R"({"fc": "FC_SUPVSR_SET_PCM_LAW", "count": 1, "answer": "report", "error": 65453})");
    log_lines log;
    EXPECT_EQ(ping(), -1);
    EXPECT_TRUE(log.has("CRITICAL: server error, please handle"));
    EXPECT_TRUE(wait_event([](const event &e) {
        return e.fc == MSP_FC_SVR_ERROR_REPORT && e.value == 0xFFAD && e.channel == 0xFFFF;
    }));
    // The next command is not left with that result.
    EXPECT_EQ(ping(), 0);

    // A result code other than 0 is a failure; a destroy of a channel that
    // is already gone is not.
    rule(R"({"fc": "FC_IP_ADDRESS", "count": 1, "answer": "error", "result": 2})");
    EXPECT_EQ(blocking(command(FC_IP_ADDRESS), MSP_ADDRESS_DEVICE), -1);
    magic_csm d = command(FC_SUPVSR_DESTROY_CHANNEL);
    d.u_csmdev_destroy_channel->channel_number = 99;
    EXPECT_EQ(blocking(d, -1), 0);
    EXPECT_TRUE(log.has("channel 99 already destroyed (rcode 800)"));

    // The handler's verdict on a blocking notify answer.
    fail_code = FC_SUPVSR_GET_DEVICE_TYPE;
    EXPECT_EQ(blocking(device_query(FC_SUPVSR_GET_DEVICE_TYPE), MSP_ADDRESS_DEVICE, nullptr, 1), -1);
    fail_code = -1;
    EXPECT_EQ(blocking(device_query(FC_SUPVSR_GET_DEVICE_TYPE), MSP_ADDRESS_DEVICE, nullptr, 1), 0);
}

TEST_F(MspQueue, AddressWordsAndCommandsThatAreNotSent)
{
    // 0x7FFF + 12 is DSP channel 12 (the simulator has none there and says so).
    EXPECT_EQ(blocking(command(FC_VOIP_DTMFOPT), MSP_ADDRESS_CHANNEL_BASE + 12), -1);
    std::vector<json_value> f = in_frames();
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f.back()["channel"].num(), 12);
    EXPECT_EQ(f.back()["name"].str(), "FC_VOIP_DTMFOPT");
    EXPECT_EQ(ping(), 0);
    EXPECT_EQ(in_frames().back()["channel"].num(), 0xFFFF);

    log_lines log;
    size_t before = in_frames().size();
    // Timeslot 7 has no channel: dropped, the caller gets 0.
    EXPECT_EQ(blocking(command(FC_VOIP_DTMFOPT), 7), 0);
    EXPECT_TRUE(log.has("CRITICAL: Can't send csm command 8002 to invalid channel 65536 / timeslot 7 failed => continuing anyway"));
    // Nor does a timeslot outside the map.
    EXPECT_EQ(blocking(command(FC_VOIP_DTMFOPT), 600), 0);
    // An Ethernet header without its destination MAC is not sent.
    magic_csm eth = command(FC_SET_ETH_HDR_CHAN);
    eth.u_csmchan_set_eth_hdr_chan->destination_mac_word1 = 0;
    eth.u_csmchan_set_eth_hdr_chan->destination_mac_word2 = 0;
    eth.u_csmchan_set_eth_hdr_chan->destination_mac_word3 = 0;
    EXPECT_EQ(blocking(eth, MSP_ADDRESS_DEVICE), -1);
    EXPECT_TRUE(log.has("no destination MAC"));
    // A record the coder refuses is not sent either.
    magic_csm bad = command(FC_VOIP_VCEOPT);
    get_header(bad)->msg_length = 4;
    EXPECT_EQ(blocking(bad, MSP_ADDRESS_CHANNEL_BASE + 1), -1);
    EXPECT_EQ(in_frames().size(), before);
}

TEST_F(MspQueue, CreateAndDestroyKeepTheTimeslotMapRight)
{
    int owner = 1;
    ASSERT_EQ(msp_timeslot_to_channel(40), MSP_CHANNEL_FREE);
    EXPECT_EQ(blocking(create_on(40, &owner), 40, &owner), 0);
    std::vector<json_value> out = named(sim->frames("out"), "FC_SUPVSR_CREATE_CHANNEL");
    ASSERT_FALSE(out.empty());
    int ch = (int)out.back()["fields"]["channel_number"].num();
    EXPECT_EQ(out.back()["fields"]["timeslot"].num(), 40);
    EXPECT_EQ(msp_timeslot_to_channel(40), ch);
    EXPECT_EQ(msp_channel_to_timeslot(ch), 40);
    EXPECT_EQ(timeslot_manager_context[40], &owner);
    EXPECT_EQ(timeslot_manager_pid[40], 4001);
    EXPECT_STREQ(get_cid_for_timeslot(40), "CID:000001:00");
    json_value create = named(in_frames(), "FC_SUPVSR_CREATE_CHANNEL").back();
    EXPECT_EQ(create["channel"].num(), 0xFFFF);
    EXPECT_EQ(create["fields"]["timeslot"].num(), 40);

    // A command for the timeslot goes to its channel.
    EXPECT_EQ(blocking(command(FC_VOIP_DTMFOPT), 40, &owner), 0);
    EXPECT_EQ(in_frames().back()["channel"].num(), ch);

    // The destroy names the channel and frees the timeslot.
    EXPECT_EQ(blocking(command(FC_SUPVSR_DESTROY_CHANNEL), 40, &owner), 0);
    json_value destroy = in_frames().back();
    EXPECT_EQ(destroy["name"].str(), "FC_SUPVSR_DESTROY_CHANNEL");
    EXPECT_EQ(destroy["fields"]["channel_number"].num(), ch);
    EXPECT_EQ(destroy["channel"].num(), 0xFFFF);
    EXPECT_EQ(msp_timeslot_to_channel(40), MSP_CHANNEL_FREE);
    EXPECT_EQ(timeslot_manager_context[40], nullptr);
    json_value state = sim->request(R"({"cmd": "state"})");
    EXPECT_FALSE(state["timeslots"].has("40"));
}

TEST_F(MspQueue, ACreateWaitsBehindTheDestroyThatFreesItsTimeslot)
{
    int a = 2, b = 3;
    ASSERT_EQ(blocking(create_on(50, &a), 50, &a), 0);
    int old = msp_timeslot_to_channel(50);

    // Call b's create and its voice command reach the queue ahead of call
    // a's destroy of the same timeslot.
    log_lines log;
    msp_queue_lock_take();
    EXPECT_EQ(msp_will_timeslot_be_free(50), 0);
    _msp_queue_command_nolock(create_on(50, &b), 50, &b, 0, __FILE__, "test", __LINE__);
    _msp_queue_command_nolock(command(FC_VOIP_DTMFOPT), 50, &b, 0, __FILE__, "test", __LINE__);
    EXPECT_EQ(msp_will_timeslot_be_free(50), -1);
    _msp_queue_command_nolock(command(FC_SUPVSR_DESTROY_CHANNEL), 50, &a, 0, __FILE__, "test", __LINE__);
    EXPECT_EQ(msp_will_timeslot_be_free(50), 0);
    msp_queue_lock_release();
    EXPECT_EQ(ping(&b), 0); // behind b's commands

    EXPECT_TRUE(log.has("Reordering MSP commands, timeslot 50 not ready yet"));
    std::vector<json_value> f = in_frames();
    ASSERT_GE(f.size(), 4u);
    std::vector<std::string> last;
    for (size_t i = f.size() - 4; i < f.size(); i++)
        last.push_back(f[i]["name"].str());
    EXPECT_EQ(last, (std::vector<std::string>{"FC_SUPVSR_DESTROY_CHANNEL", "FC_SUPVSR_CREATE_CHANNEL",
                                              "FC_VOIP_DTMFOPT", "FC_SUPVSR_SET_PCM_LAW"}));
    EXPECT_EQ(f[f.size() - 4]["fields"]["channel_number"].num(), old);
    int now = msp_timeslot_to_channel(50);
    EXPECT_LT(now, MSP_CHANNEL_FREE);
    EXPECT_EQ(timeslot_manager_context[50], &b);
    EXPECT_EQ(f[f.size() - 2]["channel"].num(), now);
    // Done commands no longer count: a channel on the timeslot and nothing queued.
    msp_queue_lock_take();
    EXPECT_EQ(msp_will_timeslot_be_free(50), 0);
    msp_queue_lock_release();
    ASSERT_EQ(blocking(command(FC_SUPVSR_DESTROY_CHANNEL), 50, &b), 0);
    msp_queue_lock_take();
    EXPECT_EQ(msp_will_timeslot_be_free(50), 1);
    msp_queue_lock_release();
}

TEST_F(MspQueue, AOwnersLoneCreateIsRetriedUntilTheTimeslotIsFreed)
{
    int a = 4, b = 5;
    ASSERT_EQ(blocking(create_on(60, &a), 60, &a), 0);
    log_lines log;
    size_t before = in_frames().size();
    _msp_queue_command(create_on(60, &a), 60, &a, 0, 0, __FILE__, "test", __LINE__);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GT(log.count("Reordering MSP commands, timeslot 60 not ready yet"), 1);
    EXPECT_EQ(in_frames().size(), before) << "nothing sent while the timeslot is taken";

    // Another owner's destroy goes first, then the create is taken.
    EXPECT_EQ(blocking(command(FC_SUPVSR_DESTROY_CHANNEL), 60, &b), 0);
    EXPECT_EQ(ping(&a), 0);
    std::vector<json_value> f = in_frames();
    EXPECT_EQ(f[f.size() - 3]["name"].str(), "FC_SUPVSR_DESTROY_CHANNEL");
    EXPECT_EQ(f[f.size() - 2]["name"].str(), "FC_SUPVSR_CREATE_CHANNEL");
    EXPECT_EQ(timeslot_manager_context[60], &a);
    ASSERT_EQ(blocking(command(FC_SUPVSR_DESTROY_CHANNEL), 60, &a), 0);
}

TEST_F(MspQueue, ReorderingALongQueueKeepsTheProcessRunning)
{
    int a = 6, b = 7, c = 8;
    ASSERT_EQ(blocking(create_on(70, &a), 70, &a), 0);
    msp_queue_lock_take();
    _msp_queue_command_nolock(create_on(70, &b), 70, &b, 0, __FILE__, "test", __LINE__);
    for (int i = 0; i < 150; i++)
        _msp_queue_command_nolock(command(FC_SUPVSR_SET_PCM_LAW), MSP_ADDRESS_DEVICE, &c, 0, __FILE__,
                                  "test", __LINE__);
    _msp_queue_command_nolock(command(FC_SUPVSR_DESTROY_CHANNEL), 70, &a, 0, __FILE__, "test", __LINE__);
    msp_queue_lock_release();
    EXPECT_EQ(ping(&b), 0);

    std::vector<json_value> f = in_frames();
    ASSERT_GE(f.size(), 153u);
    EXPECT_EQ(f[f.size() - 3]["name"].str(), "FC_SUPVSR_DESTROY_CHANNEL");
    EXPECT_EQ(f[f.size() - 2]["name"].str(), "FC_SUPVSR_CREATE_CHANNEL");
    EXPECT_EQ(named(std::vector<json_value>(f.end() - 153, f.end()), "FC_SUPVSR_SET_PCM_LAW").size(), 151u);
    EXPECT_EQ(timeslot_manager_context[70], &b);
    msp_queue_lock_take();
    EXPECT_EQ(cman->csm_queue->length, 0);
    msp_queue_lock_release();
    ASSERT_EQ(blocking(command(FC_SUPVSR_DESTROY_CHANNEL), 70, &b), 0);
}

TEST_F(MspQueue, DispatchRules)
{
    // While the library initialises, indications are dropped.
    cman->msplib_initializing = 1;
    sim->request(R"({"cmd": "indicate", "fc": "FC_VOIP_TONEDET", "channel": 65535, "fields": {"tone_detect_value": 1}})");
    EXPECT_EQ(ping(), 0);
    cman->msplib_initializing = 0;
    EXPECT_EQ(ping(), 0);
    EXPECT_FALSE(wait_event([](const event &e) { return e.fc == FC_VOIP_TONEDET; }, 100));

    // A device message is delivered while another thread holds global_lock;
    // a channel message waits for it.
    pthread_mutex_lock(g_lock_manager->global_lock);
    sim->request(R"({"cmd": "indicate", "fc": "FC_VOIP_TONEDET", "channel": 65535, "fields": {"tone_detect_value": 2}})");
    bool device = wait_event([](const event &e) { return e.fc == FC_VOIP_TONEDET && e.value == 2; });
    sim->request(R"({"cmd": "indicate", "fc": "FC_VOIP_TONEDET", "channel": 9, "fields": {"tone_detect_value": 3}})");
    bool early = wait_event([](const event &e) { return e.value == 3; }, 200);
    pthread_mutex_unlock(g_lock_manager->global_lock);
    EXPECT_TRUE(device);
    EXPECT_FALSE(early);
    EXPECT_TRUE(wait_event([](const event &e) { return e.value == 3 && e.channel == 9; }));

    // A VOPENA with notify is announced with its own record and channel.
    int owner = 9;
    ASSERT_EQ(blocking(create_on(80, &owner), 80, &owner), 0);
    int ch = msp_timeslot_to_channel(80);
    clear_events();
    EXPECT_EQ(blocking(command(FC_VOIP_VOPENA), 80, &owner, 1), 0);
    std::vector<event> got = events_now();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0].eventtype, MSP_EVENT_VOPENA_SENT);
    EXPECT_EQ(got[0].channel, ch);
    EXPECT_EQ(got[0].type, CSM_TYPE_COMMAND);
    EXPECT_EQ(got[1].fc, FC_VOIP_VOPENA);
    EXPECT_EQ(got[1].type, CSM_TYPE_RESPONSE);
    ASSERT_EQ(blocking(command(FC_SUPVSR_DESTROY_CHANNEL), 80, &owner), 0);
}

TEST_F(MspQueue, TheDeviceStatusHeartbeat)
{
    for (bool on : {true, false}) {
        json_value r = sim->request(std::string(R"({"cmd": "heartbeat", "on": )") + (on ? "true" : "false") + "}");
        EXPECT_TRUE(r["ok"].b);
        EXPECT_EQ(sim->request(R"({"cmd": "state"})")["heartbeat"].b, on);
        EXPECT_EQ(blocking(device_query(FC_SUPVSR_DEVICE_STATUS_QUERY), MSP_ADDRESS_DEVICE), 0);
        json_value answer = sim->frames("out").back();
        EXPECT_EQ(answer["type"].num(), CSM_TYPE_QUERY_RESPONSE);
        EXPECT_EQ(answer["fields"]["heartbeat_period"].num(), on ? 10 : 0);
        EXPECT_EQ(answer["fields"]["dsp5_status"].num(), on ? 1 : 0);
        EXPECT_EQ(answer["fields"]["alert_status"].num(), on ? 0 : 1);
    }
    sim->request(R"({"cmd": "heartbeat", "on": true})");
}

TEST_F(MspQueue, EveryCommandLeavesInTheLayoutTheSimulatorReads)
{
    int owner = 10;
    ASSERT_EQ(blocking(create_on(100, &owner), 100, &owner), 0);
    size_t before = in_frames().size();
    int sent = 0;
    for (int fc = 0; fc <= 0xFFFF; fc++) {
        if (fc == FC_SUPVSR_CREATE_CHANNEL || fc == FC_SUPVSR_DESTROY_CHANNEL || fc == FC_TRANS_CONNECT)
            continue;
        magic_csm m = create_default_csm_msg(fc, ++counter);
        if (csm_msg_is_null(m))
            continue;
        int address = get_header(m)->command_class == CSM_CLASS_CHANNEL ? 100 : MSP_ADDRESS_DEVICE;
        _msp_queue_command(m, address, &owner, 0, 0, __FILE__, "test", __LINE__);
        sent++;
    }
    EXPECT_EQ(ping(), 0);
    std::vector<json_value> f = in_frames();
    // Every record the coder takes goes out once (class 35 records are
    // never coded).
    ASSERT_GE(f.size(), before + sent - 2);
    int checked = 0;
    for (size_t i = before; i < f.size() - 1; i++) {
        const json_value &fr = f[i];
        SCOPED_TRACE(fr["name"].str());
        EXPECT_TRUE(fr["problems"].a.empty()) << fr["problems"].a[0].str();
        json_value layout = sim->request(R"({"cmd": "layout", "fc": ")" + fr["fc"].str() + "\"}");
        if (!layout["ok"].b)
            continue;
        EXPECT_EQ(fr["type"].num(), layout["type"].num());
        EXPECT_EQ(fr["class"].num(), layout["class"].num());
        for (const auto &[name, value] : layout["defaults"].o) {
            if (!fr["fields"].has(name))
                continue;
            // The tone direction is written over the flags beside it.
            if (name == "tone_direction")
                continue;
            EXPECT_EQ(fr["fields"][name].num(), value.num()) << name;
        }
        checked++;
    }
    EXPECT_GT(checked, 40);
    ASSERT_EQ(blocking(command(FC_SUPVSR_DESTROY_CHANNEL), 100, &owner), 0);
}

} // namespace
