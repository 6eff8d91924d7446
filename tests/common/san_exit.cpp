// Linked into every test program of the sanitizer tree: an AddressSanitizer
// report must reach the log whole and end the process with a failure, also
// when a thread hits the fault while the main thread is ending the process.
//
// Two things go wrong there without help. The leak check that runs at the
// very end of exit() stops every thread while holding the loader's lock;
// a thread that is printing a report needs that lock to name its frames,
// and the two wait for each other until the test's time-out. And when no
// leak check runs, the main thread finishes exit() with status 0 while the
// report is half written. So the leak check runs first, before the static
// destructors (a later one finds it done), and after the destructors the
// main thread waits for any report a lingering thread is writing; the
// reporting thread then ends the process itself (halt_on_error).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARN_SAN_EXIT 1
#endif
#endif

#ifdef TARN_SAN_EXIT
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>

namespace {

const int REPORT_WAIT_MS = 60000; // a report with a long stack, symbolised
const int LINGER_MS = 100;        // time for a lingering thread to fault

void wait_for_report()
{
    for (int i = 0; i < REPORT_WAIT_MS && __asan_report_present(); i++)
        usleep(1000);
}

int thread_count()
{
    int n = 0;
    if (DIR *d = opendir("/proc/self/task")) {
        while (dirent *e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// Runs first in exit(): every static record is still alive.
void leak_check_first()
{
    wait_for_report();
    __lsan_do_leak_check();
}

// Runs after the static destructors.
void after_destructors()
{
    if (thread_count() > 1)
        for (int i = 0; i < LINGER_MS && !__asan_report_present(); i++)
            usleep(1000);
    wait_for_report();
}

// Registered before any static record exists, so it runs after all their
// destructors.
__attribute__((constructor(101))) void register_after_destructors()
{
    atexit(after_destructors);
}

// Registered from inside main, after every static record exists, so it runs
// before their destructors.
class leak_check_environment : public testing::Environment {
    void SetUp() override { atexit(leak_check_first); }
};
testing::Environment *const leak_env = testing::AddGlobalTestEnvironment(new leak_check_environment);

} // namespace
#endif
