#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "log_test_util.h"
#include "timer.h"

namespace {

int32_t log_tick(int32_t event, kv_timer *)
{
    LOGD(TIMER, 5, nullptr, "tick %d", event);
    return 1;
}

// Enough generations that the line of the exit survives the rotations the
// other threads do while the process ends: from the exit on they log at a
// bounded pace (at full speed, under ThreadSanitizer, they filled all 32
// generations during the second the stop took).
const int GENERATIONS = 32;
std::atomic<bool> exiting{false};

std::string rotation_list(const std::string &stem)
{
    std::string list;
    for (int g = 1; g <= GENERATIONS; g++)
        list += (g > 1 ? "," : "") + stem + std::to_string(g);
    return list;
}

// Threads and the timer log to every target while one of them ends the
// process: nothing the logging needs may be torn down under them.
[[noreturn]] void log_busily_then_exit(const std::string &dir)
{
    reset_logging();
    update_logrotate_list(rotation_list(dir + "/tarn.log.").c_str());
    update_nlogrotate_list((dir + "/tarn.nlog.1," + dir + "/tarn.nlog.2").c_str());
    log_backend()->logsizelimit = 200000;
    snprintf(log_backend()->cas_log_path, sizeof log_backend()->cas_log_path, "%s", dir.c_str());
    init_netlog("127.0.0.1:9");
    init_locallog("9");
    log_backend()->local_log_active = 1;
    timer_new();
    kv_timer *t = (kv_timer *)calloc(1, sizeof(kv_timer));
    t->tv.tv_usec = 10000;
    timer_add(log_tick, T_EVENT_CLEANUP, t);

    for (int i = 0; i < 4; i++) {
        std::thread([i] {
            for (long n = 0;; n++) {
                LOGD(CAS, 3, "CID:000001:c1", "worker %d line %ld", i, n);
                LOGM(CAS, 17, "worker %d message %ld", i, n);
                LOGN(SIP, 2, "worker %d trace %ld\n", i, n);
                log_msg_cas(i, CAS_LOG_INFO, "worker %d\n", i);
                if (i == 0 && n == 2000) {
                    exiting = true;
                    TARN_EXIT(7, "bye %d", i);
                }
                if (exiting)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }).detach();
    }
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

TEST(ExitUnderLoad, ExitFromAnyThreadWhileOthersLog)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The death test's child runs this body again: it takes the parent's
    // directory from the environment.
    std::string dir;
    bool parent = getenv("TARN_TEST_EXIT_DIR") == nullptr;
    if (parent) {
        char tmpl[] = "/tmp/tarn-exit-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        setenv("TARN_TEST_EXIT_DIR", tmpl, 1);
    } else {
        dir = getenv("TARN_TEST_EXIT_DIR");
    }
    EXPECT_EXIT(log_busily_then_exit(dir), ::testing::ExitedWithCode(7), "TARN EXITCODE 7: bye 0");
    if (!parent)
        return;
    unsetenv("TARN_TEST_EXIT_DIR");
    // The debug log holds the exit's reason (the other threads may have
    // rotated it meanwhile).
    std::string log;
    for (int g = 1; g <= GENERATIONS; g++)
        log += slurp(dir + "/tarn.log." + std::to_string(g));
    EXPECT_NE(log.find("TARN EXITCODE 7: bye 0 [log_exit_test.cpp:"), std::string::npos);
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

// The exiting thread holds a lock that another thread waits for: the stop
// that _tarn_exit runs waits for that thread only a bounded time, and does
// not wait for the exiting thread itself.
pthread_mutex_t held = PTHREAD_MUTEX_INITIALIZER;
pthread_t stuck;

void stop_with_a_stuck_thread()
{
    fprintf(stderr, "stop ran\n");
    if (tarn_join_thread(stuck, "stuck") != 0)
        fprintf(stderr, "stuck thread left\n");
    if (tarn_join_thread(pthread_self(), "self") == 0)
        fprintf(stderr, "own thread not waited for\n");
}

[[noreturn]] void exit_while_a_thread_waits_for_our_lock()
{
    pthread_mutex_lock(&held);
    pthread_create(
        &stuck, nullptr,
        [](void *) -> void * {
            pthread_mutex_lock(&held);
            return nullptr;
        },
        nullptr);
    tarn_set_exit_stop(stop_with_a_stuck_thread);
    TARN_EXIT(5, "fatal");
}

TEST(ExitStop, RunsOnceAndWaitsForAStuckThreadOnlyABoundedTime)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EXIT(exit_while_a_thread_waits_for_our_lock(), ::testing::ExitedWithCode(5),
                "TARN EXITCODE 5: fatal .*stop ran\nstuck thread left\nown thread not waited for\n");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
    EXPECT_FALSE(tarn_exiting());
}

} // namespace
