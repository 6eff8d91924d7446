// The daemon's end: the orderly stop and a fatal end on a library's own
// thread both stop the libraries' threads before the process ends (in the
// sanitizer tree: without a report, or the exit status would be its).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <atomic>
#include <thread>

#include "application.h"
#include "conf_root.h"
#include "log.h"
#include "startup.h"
#include "stop.h"
#include "t1e1casctl.h"
#include "thread_names.h"
#include "timer.h"

namespace {

bool wait_threads(const char *name, int want)
{
    for (int i = 0; i < 2000; i++) {
        if (count_threads(name) == want)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// The timer service and a CAS port ringing (its reader, its dispatcher and
// its timer), the device being /dev/null.
void start_libraries(const conf_root &root)
{
    setenv("TARN_ROOT", root.dir.c_str(), 1);
    root.write("dev/cas0/placeholder", "");
    ASSERT_EQ(symlink("/dev/null", root.path("dev/cas0/1").c_str()), 0);
    ASSERT_EQ(timer_new(), 0);
    cas_port_mappings[1] = {1, 0, 1, 1, 1};
    cas_set_protocol(1, HWCONF_ISDN_PROTOCOL_T1);
    cas_port_configuration cfg[CAS_PORT_TABLE] = {};
    cfg[1] = {1, CAS_SIGNALLING_T1_FXSKS, CAS_SIGNALLING_T1_FXSKS};
    ASSERT_EQ(cas_init([](int, unsigned) { return 0; }, cfg, 0), 0);
    cas_send_event(1, CAS_EVENT_RINGING_START);
    ASSERT_TRUE(wait_threads("tarn.timer", 1));
    ASSERT_TRUE(wait_threads("tarn.cashelper", 1));
}

TEST(OrderlyStop, LibraryThreadsEndAndTheSafeguardIsSwitchedOff)
{
    conf_root root(false);
    root.write("sys/class/quilmar/safeguard/enabled", "1");
    start_libraries(root);
    EXPECT_EQ(tarn_orderly_stop(), 0);
    for (const char *name : {"tarn.timer", "tarn.cas", "tarn.cashelper"})
        EXPECT_EQ(count_threads(name), 0) << name;
    std::ifstream f(root.path("sys/class/quilmar/safeguard/enabled"));
    std::string text;
    std::getline(f, text);
    EXPECT_EQ(text, "0");
    tarn_stop_libraries(); // once more: nothing left to stop
    unsetenv("TARN_ROOT");
}

// With the application object: the message, the run flags of the daemon's
// own threads (the PCM client keeps running), the safeguard switch.
TEST(OrderlyStop, DaemonThreadsAreToldToStop)
{
    conf_root root(false);
    root.write("sys/class/quilmar/safeguard/enabled", "1");
    setenv("TARN_ROOT", root.dir.c_str(), 1);
    application_create();
    init_locks();
    for (volatile int *flag : {&gp->run_sm_helper, &gp->run_pcm_server, &gp->run_status_server,
                               &gp->run_msp_safeguard, &gp->run_pcm_client})
        *flag = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(tarn_orderly_stop(), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("stopping threads\n"), std::string::npos) << err;
    EXPECT_EQ(gp->run_sm_helper | gp->run_pcm_server | gp->run_status_server | gp->run_msp_safeguard, 0);
    EXPECT_EQ(gp->run_pcm_client, 1);
    std::ifstream f(root.path("sys/class/quilmar/safeguard/enabled"));
    std::string text;
    std::getline(f, text);
    EXPECT_EQ(text, "0");
    unsetenv("TARN_ROOT");
}

int32_t fatal_tick(int32_t, kv_timer *)
{
    TARN_EXIT(42, "fatal on the timer thread");
}

// In the death test's child: a library thread ends the process while the
// others run.
[[noreturn]] void fatal_end_on_the_timer_thread()
{
    tarn_set_exit_stop(tarn_stop_libraries);
    conf_root root(false);
    start_libraries(root);
    kv_timer *t = static_cast<kv_timer *>(calloc(1, sizeof(kv_timer)));
    t->tv.tv_usec = 20 * 1000;
    timer_add(fatal_tick, T_EVENT_A, t);
    for (;;)
        pause();
}

TEST(OrderlyStop, FatalEndOnALibraryThreadStopsTheOthersFirst)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(fatal_end_on_the_timer_thread(), testing::ExitedWithCode(42),
                "TARN EXITCODE 42: fatal on the timer thread");
}

std::atomic<bool> in_timer_pass{false};

int32_t fatal_tick_while_a_sender_waits(int32_t, kv_timer *)
{
    // The timer list is held for the pass: let the sender below take the
    // port lock and block on the list before the process ends.
    in_timer_pass = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    TARN_EXIT(43, "fatal while a sender waits for the timer list");
}

// A sender holds the CAS port lock while it waits for the timer list the
// fatal timer callback holds: the end must not wait for that lock forever.
[[noreturn]] void fatal_end_while_a_sender_holds_the_port_lock()
{
    tarn_set_exit_stop(tarn_stop_libraries);
    conf_root root(false);
    start_libraries(root);
    std::thread sender([] {
        while (!in_timer_pass)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        cas_send_event(1, CAS_EVENT_ONHOOK); // stops the ringing port's timer
    });
    sender.detach();
    kv_timer *t = static_cast<kv_timer *>(calloc(1, sizeof(kv_timer)));
    t->tv.tv_usec = 20 * 1000;
    timer_add(fatal_tick_while_a_sender_waits, T_EVENT_A, t);
    for (;;)
        pause();
}

TEST(OrderlyStop, FatalEndOnTheTimerThreadDoesNotWaitForAHeldPortLock)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(fatal_end_while_a_sender_holds_the_port_lock(), testing::ExitedWithCode(43),
                "TARN EXITCODE 43: fatal while a sender waits");
}

} // namespace
