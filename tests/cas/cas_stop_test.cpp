// The CAS library's stop path: its threads end, its timers leave the timer
// service and no callback runs afterwards; it may be called twice, without a
// start, and from the callback itself. The timer service is driven by hand,
// so the ring cadence advances only when the test says so.
#include "cas_internal.h"
#include "linesim_client.h"
#include "thread_names.h"
#include "timer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

const int PORT = 1;

std::atomic<int> events{0};
std::atomic<bool> stop_in_callback{false};

int on_event(int, unsigned event)
{
    events++;
    if (event == CAS_EVENT_GENERATE_CID && stop_in_callback.load())
        cas_shutdown(); // on the dispatcher thread
    return 0;
}

bool library_threads_running()
{
    return count_threads("tarn.cas") + count_threads("tarn.cashelper") > 0;
}

template <typename F> bool wait_for(F done, int ms = 5000)
{
    for (int waited = 0; !done(); waited += 2) {
        if (waited >= ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// One FXS-KS port whose device is /dev/null: writes vanish, reads find the
// end (the reader then stays quiet).
class CasStop : public testing::Test {
protected:
    void SetUp() override
    {
        root = make_test_root("casstop");
        ASSERT_FALSE(root.empty());
        write_text_file(root + "/dev/cas0/placeholder", "");
        ASSERT_EQ(symlink("/dev/null", (root + "/dev/cas0/1").c_str()), 0);
        ASSERT_EQ(timer_list_new(), 0);
        cas_port_mappings[PORT] = {PORT, 0, 1, 1, 1};
        cas_set_protocol(PORT, HWCONF_ISDN_PROTOCOL_T1);
        cas_port_configuration cfg[CAS_PORT_TABLE] = {};
        cfg[PORT] = {1, CAS_SIGNALLING_T1_FXSKS, CAS_SIGNALLING_T1_FXSKS};
        events = 0;
        ASSERT_EQ(cas_init(on_event, cfg, 0), 0);
        ASSERT_TRUE(wait_for([] { return count_threads("tarn.cas") && count_threads("tarn.cashelper"); }));
        // ringing arms the port's timer on the dispatcher
        cas_send_event(PORT, CAS_EVENT_RINGING_START);
        ASSERT_TRUE(wait_for([] { return cas_onhook_timers[PORT].load() != nullptr; }));
    }
    void TearDown() override
    {
        cas_shutdown();
        timer_exit();
        stop_in_callback = false;
        remove_tree(root);
    }
    std::string root;
};

TEST(CasStopAlone, WithoutAStart)
{
    cas_shutdown();
    cas_shutdown();
    EXPECT_FALSE(library_threads_running());
}

TEST_F(CasStop, ThreadsEndAndTimersLeaveTheService)
{
    kv_timer *timer = cas_onhook_timers[PORT].load();
    ASSERT_GT(timer_get_seconds_left(timer), 0);
    cas_shutdown();
    EXPECT_FALSE(library_threads_running());
    EXPECT_EQ(cas_onhook_timers[PORT].load(), nullptr);
    EXPECT_EQ(timer_get_seconds_left(timer), -1) << "the node is no longer listed";
    EXPECT_EQ(cas_port_is_configured(PORT), 0);
    // what would have been the end of the first ring finds nobody
    int seen = events.load();
    for (int i = 0; i < 250; i++)
        timer_pass();
    EXPECT_EQ(events.load(), seen);
    cas_shutdown(); // twice: nothing left to do
    EXPECT_FALSE(library_threads_running());
}

TEST_F(CasStop, FromTheCallback)
{
    stop_in_callback = true;
    // the end of the first ring: the pause reports caller-id, whose callback
    // stops the library on the dispatcher thread
    for (int i = 0; i < 200; i++)
        timer_pass();
    ASSERT_TRUE(wait_for([] { return !library_threads_running(); }));
    EXPECT_EQ(cas_onhook_timers[PORT].load(), nullptr);
    EXPECT_EQ(events.load(), 1);
}

} // namespace
