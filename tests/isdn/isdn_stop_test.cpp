// The ISDN library's stop path: the catcher, handler and sender threads end,
// the device closes and with it the device layer's thread and timers; it may
// be called twice and without a start.
#include <gtest/gtest.h>

#include <string>

#include "isdn_test_support.h"
#include "misdn_harness.h"
#include "misdn_kernel.h"
#include "thread_names.h"

namespace {

bool library_threads(int want)
{
    return count_threads("tarn.isdn_evc") + count_threads("tarn.isdn_evh") + count_threads("tarn.isdn_evs") == want;
}

bool kernel_running()
{
    std::lock_guard<std::mutex> g(g_kernel_life);
    return g_kernel != nullptr;
}

TEST(IsdnStop, WithoutAStart)
{
    misdn_lib_destroy();
    misdn_lib_destroy();
    EXPECT_TRUE(library_threads(0));
}

TEST(IsdnStop, ThreadsEndAndTheDeviceCloses)
{
    // a TE port wired to an NT port: both layers come up, timers run
    tmp_dir traces;
    int a = free_local_port(), b = free_local_port();
    start_library("1 te bri ptp " + std::to_string(a) + " " + std::to_string(b) + " " + traces.file("te") +
                      "\n2 nt bri ptp " + std::to_string(b) + " " + std::to_string(a) + " " + traces.file("nt") +
                      "\n",
                  port_list({1, 2}, {1, 1}));
    ASSERT_TRUE(wait_until([] { return misdn_lib_port_up(1, 1) == 1 && misdn_lib_port_up(2, 1) == 1; }, 10000));
    ASSERT_TRUE(wait_until([] { return library_threads(3); }, 5000)) << "each thread names itself once it runs";
    ASSERT_TRUE(kernel_running());

    misdn_lib_destroy();
    EXPECT_TRUE(library_threads(0));
    EXPECT_FALSE(kernel_running()) << "the device layer's thread and timers ended with the device";
    EXPECT_EQ(global_state, MISDN_INITIALIZING);
    misdn_lib_destroy();  // twice: nothing left to do
}

}  // namespace
