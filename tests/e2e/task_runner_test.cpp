// The running daemon has its state-machine task runner, and nothing of it
// is left after SIGTERM.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>

#include "e2e.h"

namespace {

int count_named(pid_t pid, const std::string &name)
{
    int n = 0;
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            n += read_text_file(dir + "/" + e->d_name + "/comm") == name + "\n";
        }
        closedir(d);
    }
    return n;
}

TEST(TaskRunner, RunsInTheDaemonAndEndsWithIt)
{
    e2e_world w;
    E2E_REQUIRE(w);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    pid_t pid = w.tarn_pid();
    EXPECT_TRUE(e2e_world::wait_for([&] { return count_named(pid, "tarn.smhelper") == 1; }, E2E_WAIT_MS));
    w.stop_tarn();
    struct stat st;
    EXPECT_NE(stat(("/proc/" + std::to_string(pid) + "/task").c_str(), &st), 0) << "threads left";
}

} // namespace
