// The housekeeping threads' duty tables, driven tick by tick: the media
// processor watchdog, nonce aging, the memory and console watchdogs, ISDN
// port restarts, the layer fix and the layer-1 workaround; then both threads
// started and stopped for real.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "application.h"
#include "conf_root.h"
#include "experimental_options.h"
#include "housekeeping.h"
#include "housekeeping_internal.h"
#include "misdn_stack.h"
#include "msp_queue.h"
#include "nonce_list.h"
#include "pg_port_groups.h"
#include "status_server.h"
#include "thread_names.h"

namespace {

std::vector<int> device_queries;
std::vector<std::pair<long, int>> isdn_calls; // (second, port): get_port_up +port, restart -port
std::vector<int> restart_reports;
long current_second;
int memory_now;
int calls_now;
int l2_down_port;

void no_sleep(int) {}
int fake_memory(pid_t) { return memory_now; }
int fake_calls() { return calls_now; }

std::string slurp(const std::string &path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class Housekeeping : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = std::make_unique<conf_root>(false);
        setenv("TARN_ROOT", root->dir.c_str(), 1);
        if (!gp)
            application_create();
        gp->msp_counter = 0;
        gp->reject_calls = 0;
        gp->noncelist = nonce_list_create();
        device_queries.clear();
        isdn_calls.clear();
        restart_reports.clear();
        memory_now = 0;
        calls_now = 0;
        l2_down_port = 0;
        housekeeping_reset_hooks();
        housekeeping_clock c{no_sleep, fake_memory, fake_calls};
        housekeeping_set_clock(&c);
        hk_queue_device_query = [](int counter) { device_queries.push_back(counter); };
        hk_isdn.port_configured = [](int port) { return port == 1 ? 1 : 0; };
        hk_isdn.port_up = [](int) { return 0; };
        hk_isdn.get_port_up = [](int port) { isdn_calls.push_back({current_second, port}); return 0; };
        hk_isdn.port_restart = [](int port) { isdn_calls.push_back({current_second, -port}); return 0; };
        hk_isdn.te_ptp_l2_down = [](int port) { return port == l2_down_port ? 1 : 0; };
        housekeeping_hooks h{};
        h.mc_send_restart_now = [](int port) { restart_reports.push_back(port); };
        housekeeping_set_hooks(&h);
        telnet_server_time = 0;
        msp_running = 1;
    }
    void TearDown() override
    {
        prctl(PR_SET_NAME, "housekeeping_te", 0, 0, 0); // the duties named this thread
        nonce_list_free(gp->noncelist);
        gp->noncelist = nullptr;
        housekeeping_reset_hooks();
        unsetenv("TARN_ROOT");
    }
    void options(const char *text) { _parse_experimental_options(text); }
    // Runs run_tasks2's seconds up to and including k = last.
    void seconds(tasks2_state &s, long last)
    {
        while (s.k <= last) {
            current_second = s.k;
            tasks2_tick(&s);
        }
    }
    std::unique_ptr<conf_root> root;
};

TEST_F(Housekeeping, DeviceQueriesAndTheMediaProcessorLoopWatch)
{
    struct {
        const char *safeguard;
        const char *options;
        std::vector<int> queries; // msp_counter values queued within 1000 ticks
    } cases[] = {
        {"0", "memory_watchdog=0:0:0,no_device_status_query=1", {}},
        {"1", "memory_watchdog=0:0:0,no_device_status_query=1", {1, 2, 3}},
        {"0", "memory_watchdog=0:0:0,no_device_status_query=0", {1, 2, 3}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(std::string(c.safeguard) + " " + c.options);
        root->write("sys/class/quilmar/safeguard/enabled", c.safeguard);
        options(c.options);
        device_queries.clear();
        gp->msp_counter = 0;
        tasks1_state s;
        tasks1_begin(&s);
        EXPECT_EQ(gp->sys_safeguard_refresh_interval, 30);
        EXPECT_EQ(gp->sys_safeguard_timeout, 120);
        // The command loop works between the checks: no exit.
        for (int i = 0; i < 1000; i++) {
            msp_running = 1;
            tasks1_tick(&s);
        }
        EXPECT_EQ(device_queries, c.queries);
        // Without the watch, a silent loop is never noticed.
        if (c.queries.empty()) {
            msp_running = 0;
            for (int i = 0; i < 400; i++)
                tasks1_tick(&s);
        }
    }
}

TEST_F(Housekeeping, SilentMediaProcessorLoopEndsTheProcess)
{
    root->write("sys/class/quilmar/safeguard/enabled", "1");
    options("memory_watchdog=0:0:0,no_device_status_query=1");
    EXPECT_EXIT(
        {
            tasks1_state s;
            tasks1_begin(&s);
            msp_running = 1;
            for (int i = 0; i < 299; i++)
                tasks1_tick(&s); // tick 150 clears the flag
            fprintf(stderr, "still running at 299\n");
            tasks1_tick(&s);
            fprintf(stderr, "still running at 300\n");
        },
        ::testing::ExitedWithCode(HK_EXIT_MSP_LOOP_DOWN),
        "still running at 299\n.*TARN EXITCODE 116: MSP LOOP SEEMS DOWN => EXITING");
}

// An expired nonce behind a younger one goes too.
TEST_F(Housekeeping, NoncesAgeOncePerSecondAndExpireWhereverTheyStand)
{
    options("memory_watchdog=0:0:0");
    nonce_list_add(gp->noncelist, "young", 5);
    nonce_list_add(gp->noncelist, "old", 1);
    nonce_list_add(gp->noncelist, "middle", 3);
    tasks1_state s;
    tasks1_begin(&s);
    for (int i = 0; i < 9; i++)
        tasks1_tick(&s);
    EXPECT_EQ(nonce_list_count(gp->noncelist), 3);
    tasks1_tick(&s);
    EXPECT_EQ(nonce_list_find(gp->noncelist, "old"), -1);
    EXPECT_EQ(nonce_list_find(gp->noncelist, "young"), 4);
    EXPECT_EQ(nonce_list_find(gp->noncelist, "middle"), 2);
    for (int i = 0; i < 20; i++)
        tasks1_tick(&s);
    EXPECT_EQ(nonce_list_find(gp->noncelist, "middle"), -1);
    EXPECT_EQ(nonce_list_find(gp->noncelist, "young"), 2);
}

TEST_F(Housekeeping, MemoryAboveTheRejectThresholdRejectsCallsAndExitsOnceTheLastCallEnds)
{
    options(""); // 35 / 40 / 50
    memory_now = 45;
    calls_now = 2;
    tasks2_state s;
    tasks2_begin(&s);
    ASSERT_TRUE(s.memory_armed);
    seconds(s, 0);
    EXPECT_EQ(gp->reject_calls, REJECT_CALLS_MEMORY);
    EXPECT_EQ(s.memory_interval, 10);
    seconds(s, 19); // still two calls at 10
    EXPECT_EQ(gp->reject_calls, REJECT_CALLS_MEMORY);
    // Memory falls below the reject threshold: calls are allowed again.
    memory_now = 38;
    seconds(s, 20);
    EXPECT_EQ(gp->reject_calls, REJECT_CALLS_NONE);
    // A stop in progress is never turned into a memory rejection.
    memory_now = 45;
    gp->reject_calls = REJECT_CALLS_STOPPING;
    seconds(s, 30);
    EXPECT_EQ(gp->reject_calls, REJECT_CALLS_STOPPING);
    gp->reject_calls = REJECT_CALLS_MEMORY;
    EXPECT_EXIT(
        {
            calls_now = 0;
            seconds(s, 39);
            fprintf(stderr, "alive at 39\n");
            seconds(s, 40);
        },
        ::testing::ExitedWithCode(HK_EXIT_MEMORY),
        "alive at 39\n.*TARN EXITCODE 84: Exiting gracefully because memory threshold has been exceeded "
        "\\(current 45%, threshold 35%\\)");
}

TEST_F(Housekeeping, MemoryAtTheInstantThresholdExitsAtOnce)
{
    options("");
    memory_now = 50;
    calls_now = 3;
    tasks2_state s;
    tasks2_begin(&s);
    EXPECT_EXIT(seconds(s, 0), ::testing::ExitedWithCode(HK_EXIT_MEMORY),
                "Exiting instantly \\(3 active calls terminated\\) because memory threshold has been exceeded "
                "\\(current 50%, threshold 50%\\)");
}

TEST_F(Housekeeping, MemoryWatchdogOffWhenNoThresholdIsSet)
{
    options("memory_watchdog=0:0:0");
    memory_now = 99;
    tasks2_state s;
    tasks2_begin(&s);
    EXPECT_FALSE(s.memory_armed);
    seconds(s, 130);
    EXPECT_EQ(gp->reject_calls, REJECT_CALLS_NONE);
}

TEST_F(Housekeeping, LayerOneWorkaroundByItsSetting)
{
    struct {
        const char *option;
        std::vector<std::pair<long, int>> calls;
    } cases[] = {
        {"isdn_l1down_workaround=61", {{0, 1}, {61, 1}, {122, 1}}},
        {"isdn_l1down_workaround=60", {{0, -1}, {60, -1}, {120, -1}}},
        {"isdn_l1down_workaround=30", {}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.option);
        options((std::string("memory_watchdog=0:0:0,") + c.option).c_str());
        isdn_calls.clear();
        restart_reports.clear();
        tasks2_state s;
        tasks2_begin(&s);
        seconds(s, 130);
        EXPECT_EQ(isdn_calls, c.calls);
        EXPECT_EQ(restart_reports.size(), c.calls.empty() || c.calls[0].second > 0 ? 0u : c.calls.size());
    }
}

TEST_F(Housekeeping, MarkedIsdnPortsRestartWhenTheCountDownEnds)
{
    options("memory_watchdog=0:0:0");
    isdnlib_options.isdnlib_ports_need_restart = 3;
    isdnlib_options.isdnlib_restart_ports[2] = 1;
    isdnlib_options.isdnlib_restart_ports[7] = 1;
    tasks2_state s;
    tasks2_begin(&s);
    seconds(s, 1);
    EXPECT_TRUE(isdn_calls.empty());
    EXPECT_EQ(isdnlib_options.isdnlib_ports_need_restart, 1);
    seconds(s, 2);
    std::vector<std::pair<long, int>> want = {{2, -2}, {2, -7}};
    EXPECT_EQ(isdn_calls, want);
    EXPECT_EQ(restart_reports, (std::vector<int>{2, 7}));
    EXPECT_EQ(isdnlib_options.isdnlib_ports_need_restart, 0);
    EXPECT_EQ(isdnlib_options.isdnlib_restart_ports[2], 0);
    EXPECT_EQ(isdnlib_options.isdnlib_restart_ports[7], 0);
}

TEST_F(Housekeeping, StuckConsoleEndsTheProcess)
{
    options("memory_watchdog=0:0:0,telnet_watchdog=5");
    tasks2_state s;
    tasks2_begin(&s);
    // No stamp yet (the server has not run): the watchdog waits.
    seconds(s, 30);
    // A stamp that moves every second keeps it quiet.
    for (int i = 0; i < 10; i++) {
        telnet_server_time = 1000 + i;
        seconds(s, s.k);
    }
    EXPECT_EXIT(
        {
            telnet_server_time = 5000;
            seconds(s, s.k + 4);
            fprintf(stderr, "alive after 4 seconds\n");
            seconds(s, s.k);
        },
        ::testing::ExitedWithCode(HK_EXIT_TELNET_STUCK),
        "alive after 4 seconds\nexiting tarn, telnet interface stuck for 5 seconds\n"
        "TARN EXITCODE 83: exiting tarn, telnet interface stuck for 5 seconds");
}

// Two T1/E1 modules; the second one's TE ports 3 (NT) and 4, 5 (TE) are its
// HDLC slots, so port 5 is "1:1".
TEST_F(Housekeeping, LayerFixWritesTheDriverFilesOfATePort)
{
    options("memory_watchdog=0:0:0,isdn_layer_fix=1");
    hardware_config saved = gp->hwconf;
    gp->hwconf = {};
    line_interface &m0 = gp->hwconf.hwc_li[0];
    m0.li_type = LI_1E1T1;
    m0.interface_types[0] = HWCONF_INTERFACE_TYPE_HDLC;
    m0.isdn_ntte_types[0] = HWCONF_NTTE_TYPE_TE;
    m0.port_numbers[0] = 1;
    line_interface &m1 = gp->hwconf.hwc_li[1];
    m1.li_type = LI_2E1T1;
    const int ports[] = {3, 4, 5};
    const ntte_type modes[] = {HWCONF_NTTE_TYPE_NT, HWCONF_NTTE_TYPE_TE, HWCONF_NTTE_TYPE_TE};
    for (int j = 0; j < 3; j++) {
        m1.interface_types[j] = HWCONF_INTERFACE_TYPE_HDLC;
        m1.isdn_ntte_types[j] = modes[j];
        m1.port_numbers[j] = ports[j];
    }
    char path[256];
    EXPECT_EQ(isdn_layer_fix_get_sysfs_name(5, "l1_reset_port", path, sizeof path), 0);
    EXPECT_EQ(std::string(path), root->path("sys/class/dvxt1e1/1:1/l1_reset_port"));
    EXPECT_EQ(isdn_layer_fix_get_sysfs_name(1, "x", path, sizeof path), 0);
    EXPECT_EQ(std::string(path), root->path("sys/class/dvxt1e1/0:0/x"));
    EXPECT_EQ(isdn_layer_fix_get_sysfs_name(3, "x", path, sizeof path), -1); // NT
    EXPECT_STREQ(path, "");

    port_groups *pg = pg_port_groups();
    port_group_isdn grp{};
    int group_ports[] = {3, 4, 5};
    grp.ports = group_ports;
    grp.port_count = 3;
    int saved_count = pg->port_groups_isdn_count;
    port_group_isdn *saved_group = pg->port_groups_isdn[0];
    pg->port_groups_isdn[0] = &grp;
    pg->port_groups_isdn_count = 1;
    root->write("sys/class/dvxt1e1/1:1/l1_reset_port", "");
    root->write("sys/class/dvxt1e1/1:1/l1_reset_layer", "");
    l2_down_port = 5;

    tasks2_state s;
    tasks2_begin(&s);
    seconds(s, 0);
    EXPECT_EQ(slurp(root->path("sys/class/dvxt1e1/1:1/l1_reset_port")), "1\n");
    EXPECT_EQ(slurp(root->path("sys/class/dvxt1e1/1:1/l1_reset_layer")), "");
    seconds(s, 1);
    EXPECT_EQ(slurp(root->path("sys/class/dvxt1e1/1:1/l1_reset_layer")), "1\n");
    EXPECT_EQ(s.layer_fix_pending, 0);

    pg->port_groups_isdn[0] = saved_group;
    pg->port_groups_isdn_count = saved_count;
    gp->hwconf = saved;
}

TEST(HousekeepingHelpers, MemoryPercentageFromTheStatusFile)
{
    conf_root root(false);
    struct {
        const char *text;
        int percent;
    } cases[] = {
        {"Name:\ttarn\nVmRSS:\t   45336 kB\n", 100},
        {"Name:\ttarn\n  VmRSS:\t20401 kB\nVmData: 1 kB\n", 44},
        {"Name:\ttarn\nVmSize:\t1000 kB\n", 0},
        {"", 0},
    };
    for (auto &c : cases) {
        root.write("status", c.text);
        EXPECT_EQ(memory_percentage_from_status(root.path("status").c_str()), c.percent) << c.text;
    }
    EXPECT_EQ(memory_percentage_from_status(root.path("missing").c_str()), 0);
    EXPECT_EQ(get_current_memory_usage_as_percentage(0), 0);
    EXPECT_GT(get_current_memory_usage_as_percentage(getpid()), 0);
}

TEST(HousekeepingHelpers, CpmsAnswers)
{
    struct {
        const char *answer;
        int result, used, total;
    } cases[] = {
        {"+CPMS: \"SM\",3,30,\"SM\",3,30", 0, 3, 30},
        {"+CPMS: 0,20", -1, 0, 0},
        {"ERROR", -1, 0, 0},
        {"+CPMS:\"SM\",3,30", -1, 0, 0},
    };
    for (auto &c : cases) {
        int used = 0, total = 0;
        EXPECT_EQ(parse_cpms_answer(c.answer, &used, &total), c.result) << c.answer;
        if (c.result == 0) {
            EXPECT_EQ(used, c.used);
            EXPECT_EQ(total, c.total);
        }
    }
}

long resident_kb()
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

#if defined(__SANITIZE_ADDRESS__)
#define TARN_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARN_OWN_ALLOCATOR 1
#endif
#endif

// A burst that filled a thread's arena and freed it again: the seconds of
// run_tasks2 hand the free pages back (once; the next round finds nothing
// new to hand back).
TEST_F(Housekeeping, FreedHeapGoesBack)
{
#ifdef TARN_OWN_ALLOCATOR
    GTEST_SKIP() << "the sanitizer's allocator keeps its own pages";
#endif
    options("memory_watchdog=0:0:0");
    void *pin = nullptr;
    std::thread burst([&] {
        std::vector<void *> blocks;
        blocks.reserve(2000); // no freed holes below the pin
        for (int i = 0; i < 2000; i++) {
            blocks.push_back(malloc(4000));
            memset(blocks.back(), 1, 4000);
        }
        pin = malloc(64); // above the burst: the arena cannot shrink from its top
        for (void *b : blocks)
            free(b);
    });
    burst.join();
    long full = resident_kb();
    tasks2_state s;
    tasks2_begin(&s);
    seconds(s, 0);
    long released = resident_kb();
    EXPECT_LT(released, full - 4096) << "from " << full << " kB";
    EXPECT_GE(s.heap_free_released, (size_t)HK_HEAP_RELEASE_BYTES);
    size_t mark = s.heap_free_released;
    seconds(s, 5);
    EXPECT_EQ(s.heap_free_released, mark) << "nothing new to hand back";
    free(pin);
}

TEST(HousekeepingThreads, StartNamedAndStopCleanly)
{
    conf_root root(false);
    setenv("TARN_ROOT", root.dir.c_str(), 1);
    if (!gp)
        application_create();
    prctl(PR_SET_NAME, "housekeeping_te", 0, 0, 0);
    _parse_experimental_options("memory_watchdog=0:0:0");
    housekeeping_reset_hooks();
    gp->run_msp_safeguard = 1;
    ASSERT_EQ(housekeeping_start(), 0);
    bool named = false;
    for (int i = 0; i < 2000 && !named; i++) {
        named = count_threads("tarn.tasks1") == 1 && count_threads("tarn.tasks2") == 1;
        if (!named)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(named);
    auto t0 = std::chrono::steady_clock::now();
    housekeeping_stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(count_threads("tarn.tasks1"), 0);
    EXPECT_EQ(count_threads("tarn.tasks2"), 0);
    EXPECT_EQ(gp->run_msp_safeguard, 0);
    unsetenv("TARN_ROOT");
}

} // namespace
