// The housekeeping in the running daemon: its threads carry their names, and
// a watchdog's end goes through the numbered exit without hanging on the
// other threads.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>

#include <string>
#include <vector>

#include "e2e.h"
#include "thread_names.h"

namespace {


TEST(HousekeepingDaemon, ThreadsRunUnderTheirNames)
{
    e2e_options o;
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    std::vector<std::string> names;
    bool all = e2e_world::wait_for(
        [&] {
            names = thread_names(w.tarn_pid());
            for (const char *n : {"tarn.tasks1", "tarn.tasks2", "tarn.dns", "tarn.stun"})
                if (std::find(names.begin(), names.end(), n) == names.end())
                    return false;
            return true;
        },
        10000);
    EXPECT_TRUE(all) << testing::PrintToString(names);
    EXPECT_EQ(std::count(names.begin(), names.end(), "tarn.pthread"), 0);
    EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
}

// An instant threshold of 1 % is exceeded by any process here: the first
// check, at second 0, ends the daemon with 84.
TEST(HousekeepingDaemon, MemoryWatchdogEndsTheDaemon)
{
    e2e_options o;
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options = memory_watchdog=0:0:1\n");
    EXPECT_EQ(w.run_tarn_to_exit(), 84);
    EXPECT_NE(w.tarn_err().find("TARN EXITCODE 84: Exiting instantly (0 active calls terminated) because "
                                "memory threshold has been exceeded"),
              std::string::npos)
        << w.tarn_err();
}

} // namespace
