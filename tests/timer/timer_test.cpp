#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "log.h"
#include "thread_names.h"
#include "timer.h"

namespace {

std::mutex log_mu;
std::vector<std::string> log_lines;

void capture(int level, int module, const char *, int, const char *, const char *,
             const char *fmt, va_list ap)
{
    if (module != TIMER)
        return;
    char buf[512];
    vsnprintf(buf, sizeof buf, fmt, ap);
    std::lock_guard<std::mutex> g(log_mu);
    log_lines.push_back(std::to_string(level) + " " + buf);
}

std::string logged()
{
    std::lock_guard<std::mutex> g(log_mu);
    std::string s;
    for (auto &l : log_lines)
        s += l + "\n";
    log_lines.clear();
    return s;
}

kv_timer *node(long sec, long usec, void *user = nullptr)
{
    kv_timer *t = (kv_timer *)calloc(1, sizeof(kv_timer));
    t->tv.tv_sec = sec;
    t->tv.tv_usec = usec;
    t->user_data = user;
    return t;
}

class Timer : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_set_log_handler_debug(capture);
        log_set_loglevel_debug(log_levels_debug, TIMER, 9);
        ASSERT_EQ(timer_list_new(), 0);
        logged();
    }
    void TearDown() override
    {
        EXPECT_EQ(timer_exit(), 0);
        log_set_log_handler_debug(nullptr);
    }
};

// ---- periods -------------------------------------------------------------

int32_t never(int32_t, kv_timer *) { return 0; }

struct Period {
    long sec, usec;
    int rc;
    int32_t ticks;
    const char *add_log;   // expected TIMER lines of timer_add
    const char *reset_log; // ... and of timer_reset_interval on a listed node
};

const Period periods[] = {
    {0, 10000, 0, 1, "", "8 leaving function for timer(@) -- interval now 10 msec -- 1 ticks\n"},
    {0, 9999, -1, 0, "0 CRITICAL: event interval to short, is 9 ms -- must be > 10!\n",
     "0 CRITICAL: event interval too short or too large, is 9 ms -- must be > 10 ms!\n"},
    {0, 15000, 0, 1, "", "8 leaving function for timer(@) -- interval now 15 msec -- 1 ticks\n"},
    {1, 999000, 0, 199, "", "8 leaving function for timer(@) -- interval now 1999 msec -- 199 ticks\n"},
    {2147481, 0, 0, 214748100, "",
     "8 leaving function for timer(@) -- interval now 2147481000 msec -- 214748100 ticks\n"},
    {2147482, 0, -1, 0,
     "1 CRITICAL: timer value to large -- sec 2147482 usec 0!\n"
     "0 CRITICAL: event interval to short, is -1 ms -- must be > 10!\n",
     "1 CRITICAL: timer value to large -- sec 2147482 usec 0!\n"
     "0 CRITICAL: event interval too short or too large, is -1 ms -- must be > 10 ms!\n"},
    {-5, 0, -1, 0, "0 CRITICAL: event interval to short, is -5000 ms -- must be > 10!\n",
     "0 CRITICAL: event interval too short or too large, is -5000 ms -- must be > 10 ms!\n"},
};

std::string with_ptr(const char *text, const void *p)
{
    std::string s = text;
    char buf[32];
    snprintf(buf, sizeof buf, "%p", p);
    for (size_t at; (at = s.find('@')) != std::string::npos;)
        s.replace(at, 1, buf);
    return s;
}

TEST_F(Timer, PeriodsAreConvertedAndCheckedByAddAndReset)
{
    for (const Period &p : periods) {
        SCOPED_TRACE(std::to_string(p.sec) + "s " + std::to_string(p.usec) + "us");
        kv_timer *t = node(p.sec, p.usec);
        EXPECT_EQ(timer_add(never, T_EVENT_A, t), p.rc);
        EXPECT_EQ(t->interval, p.ticks);
        EXPECT_EQ(t->interval_save, p.ticks);
        EXPECT_EQ(logged(), p.add_log);

        kv_timer *r = node(1, 0);
        ASSERT_EQ(timer_add(never, T_EVENT_B, r), 0);
        EXPECT_EQ(timer_reset_interval_and_event(r, p.sec, p.usec, T_EVENT_C), p.rc);
        EXPECT_EQ(r->interval, p.rc == 0 ? p.ticks : 100);
        EXPECT_EQ(r->event, p.rc == 0 ? T_EVENT_C : T_EVENT_B);
        EXPECT_EQ(logged(), with_ptr(p.reset_log, r));
        EXPECT_EQ(timer_remove(r), 0);
        if (p.rc == 0)
            EXPECT_EQ(timer_remove(t), 0);
        else
            free(t);
        logged();
    }
}

TEST_F(Timer, MissingArgumentsAndUnlistedNodes)
{
    kv_timer *t = node(0, 10000);
    EXPECT_EQ(timer_add(nullptr, T_EVENT_A, t), -1);
    EXPECT_EQ(timer_add(never, T_EVENT_A, nullptr), -1);
    EXPECT_EQ(logged(), "");

    EXPECT_EQ(timer_remove(t), -1);
    EXPECT_EQ(timer_remove_nolock(t), -1);
    EXPECT_EQ(timer_reset_interval(t, 1, 0), -1);
    EXPECT_EQ(timer_restart(t), -1);
    EXPECT_EQ(timer_stop(t), -1);
    EXPECT_EQ(timer_get_seconds_left(t), -1);
    EXPECT_EQ(logged(), with_ptr("1 CRITICAL: list: timer(@) not found!\n"
                                 "1 CRITICAL: list: timer(@) not found!\n"
                                 "1 CRITICAL: list: timer(@) not found!\n"
                                 "1 CRITICAL: timer(@) not found!\n"
                                 "1 CRITICAL: timer(@) not found!\n"
                                 "1 CRITICAL: timer(@) not found!\n",
                                 t));

    // Adding a listed node twice would turn the list into a loop.
    ASSERT_EQ(timer_add(never, T_EVENT_A, t), 0);
    EXPECT_EQ(timer_add(never, T_EVENT_A, t), -1);
    EXPECT_EQ(logged(), with_ptr("1 CRITICAL: timer(@) already listed!\n", t));
    EXPECT_EQ(timer_remove(t), 0);
    EXPECT_EQ(logged(), with_ptr("5 match: timer(@) list_element(@)\n", t));
}

TEST(TimerDifference, MillisecondsTruncateTowardZero)
{
    struct {
        timeval a, b;
        int ms;
    } cases[] = {
        {{10, 900000}, {12, 100000}, 1200},
        {{12, 100000}, {10, 900000}, -1200},
        {{0, 0}, {0, 1999}, 1},
        {{0, 1999}, {0, 0}, -1},
        {{5, 0}, {5, 0}, 0},
    };
    for (auto &c : cases)
        EXPECT_EQ(get_timeval_difference_in_ms(c.a, c.b), c.ms);
}

// ---- counting, driven pass by pass ---------------------------------------

int pass_no;
std::string fired;

struct Who {
    char name;
    int32_t result;
};

int32_t record(int32_t, kv_timer *t)
{
    Who *w = (Who *)t->user_data;
    fired += std::to_string(pass_no) + w->name + " ";
    return w->result;
}

void passes(int n)
{
    for (int i = 0; i < n; i++) {
        pass_no++;
        timer_pass();
    }
}

TEST_F(Timer, CountsDownRepeatsStopsAndRestarts)
{
    pass_no = 0;
    fired.clear();
    Who once{'o', 0}, rep{'r', 1}, one{'1', 0}, sr{'s', 0};
    kv_timer *o = node(0, 20000, &once);
    kv_timer *r = node(0, 30000, &rep);
    kv_timer *t1 = node(0, 10000, &one);
    kv_timer *s = node(0, 50000, &sr);
    kv_timer *slow = node(2, 500000, &once); // 250 ticks
    for (kv_timer *t : {o, r, t1, s, slow})
        ASSERT_EQ(timer_add(record, T_EVENT_D, t), 0);
    EXPECT_EQ(timer_get_seconds_left(slow), 2);

    passes(3);
    ASSERT_EQ(timer_stop(s), 0);
    passes(6);
    EXPECT_EQ(fired, "11 2o 3r 6r 9r ");
    EXPECT_EQ(timer_get_seconds_left(o), 0);
    EXPECT_EQ(timer_get_seconds_left(s), 0);
    EXPECT_EQ(timer_get_seconds_left(slow), 2); // 241 ticks left

    // A restart counts the whole period again.
    fired.clear();
    ASSERT_EQ(timer_restart(s), 0);
    ASSERT_EQ(timer_restart(o), 0);
    passes(5);
    EXPECT_EQ(fired, "11o 12r 14s ");
    for (kv_timer *t : {o, r, t1, s, slow})
        EXPECT_EQ(timer_remove(t), 0);
}

// ---- what callbacks may do ------------------------------------------------

enum Op { REMOVE, STOP, RESTART, RESET_10MS, RESET_20MS, ADD_1TICK, NESTED_PASS };
struct Step {
    Op op;
    char target; // 'a' 'b' 'c', or 'd' for the node ADD_1TICK creates
};
struct Scenario {
    const char *name;
    std::vector<Step> steps; // what a's callback does on its first call
    int32_t a_result;
    const char *fired;       // over five passes
};

// a and b expire on pass 1, c (3 ticks) on pass 3. Callbacks run after the
// whole pass has counted down, in list order a, b, c.
const Scenario scenarios[] = {
    {"nothing", {}, 0, "1a 1b 3c "},
    {"remove itself, even asking to repeat", {{REMOVE, 'a'}}, 1, "1a 1b 3c "},
    {"remove b that expired with it", {{REMOVE, 'b'}}, 0, "1a 3c "},
    {"remove c and b", {{REMOVE, 'c'}, {REMOVE, 'b'}}, 0, "1a "},
    {"stop b that expired with it", {{STOP, 'b'}}, 0, "1a 3c "},
    {"restart b that expired with it", {{RESTART, 'b'}}, 0, "1a 2b 3c "},
    {"reset b to two ticks", {{RESET_20MS, 'b'}}, 0, "1a 3b 3c "},
    {"reset c to one tick", {{RESET_10MS, 'c'}}, 0, "1a 1b 2c "},
    {"reset itself and return 0", {{RESET_20MS, 'a'}}, 0, "1a 1b 3a 3c "},
    {"stop itself and ask to repeat", {{STOP, 'a'}}, 1, "1a 1b 2a 3a 3c 4a 5a "},
    {"add a timer of one tick", {{ADD_1TICK, 'd'}}, 0, "1a 1b 2d 3c "},
    {"start a pass of its own", {{NESTED_PASS, 'a'}}, 0, "1a 1b 3c "},
};

struct ScenarioState {
    const Scenario *sc;
    kv_timer *nodes[4];
    bool done;
} st;

int32_t scripted(int32_t, kv_timer *t)
{
    Who *w = (Who *)t->user_data;
    fired += std::to_string(pass_no) + w->name + " ";
    if (w->name != 'a' || st.done)
        return w->name == 'a' ? st.sc->a_result : 0;
    st.done = true;
    static Who d{'d', 0};
    for (const Step &s : st.sc->steps) {
        kv_timer *&n = st.nodes[s.target - 'a'];
        switch (s.op) {
        case REMOVE: EXPECT_EQ(timer_remove(n), 0); n = nullptr; break;
        case STOP: EXPECT_EQ(timer_stop(n), 0); break;
        case RESTART: EXPECT_EQ(timer_restart(n), 0); break;
        case RESET_10MS: EXPECT_EQ(timer_reset_interval(n, 0, 10000), 0); break;
        case RESET_20MS: EXPECT_EQ(timer_reset_interval(n, 0, 20000), 0); break;
        case ADD_1TICK:
            n = node(0, 10000, &d);
            EXPECT_EQ(timer_add(scripted, T_EVENT_E, n), 0);
            break;
        case NESTED_PASS: timer_pass(); break;
        }
    }
    return st.sc->a_result;
}

TEST_F(Timer, CallbacksMayChangeAndRemoveTimers)
{
    static Who a{'a', 0}, b{'b', 0}, c{'c', 0};
    log_set_loglevel_debug(log_levels_debug, TIMER, 1);
    for (const Scenario &sc : scenarios) {
        SCOPED_TRACE(sc.name);
        st = {&sc, {node(0, 10000, &a), node(0, 10000, &b), node(0, 30000, &c), nullptr}, false};
        for (int i = 0; i < 3; i++)
            ASSERT_EQ(timer_add(scripted, T_EVENT_E, st.nodes[i]), 0);
        pass_no = 0;
        fired.clear();
        passes(5);
        EXPECT_EQ(fired, sc.fired);
        for (kv_timer *n : st.nodes) {
            if (n) {
                EXPECT_EQ(timer_remove(n), 0);
            }
        }
    }
    EXPECT_EQ(logged(), "");
}

// ---- the real thread under load --------------------------------------------

std::atomic<int> tick;
int32_t count_passes(int32_t, kv_timer *)
{
    tick.fetch_add(1, std::memory_order_relaxed);
    return 1;
}

struct Load {
    int id;
    int ticks;
    int added_after; // pass number before and after timer_add
    int added_before;
    std::chrono::steady_clock::time_point added;
    int fired_pass = -1;
    std::chrono::steady_clock::time_point fired;
};

std::vector<Load> load;
std::vector<int> fire_order;
std::atomic<int> load_fired;

int32_t load_cb(int32_t, kv_timer *t)
{
    Load &l = load[(size_t)(intptr_t)t->user_data];
    l.fired_pass = tick.load(std::memory_order_relaxed);
    l.fired = std::chrono::steady_clock::now();
    fire_order.push_back(l.id);
    load_fired++;
    return 0;
}

bool thread_named(const char *name)
{
    return count_threads(name) > 0;
}

// The thread names itself once it runs: wait a little for it.
bool eventually_named(const char *name, bool want)
{
    for (int i = 0; i < 200; i++) {
        if (thread_named(name) == want)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST(TimerThread, ThousandsFireInOrderOnTheirTick)
{
    const int N = 3000;
    ASSERT_EQ(timer_new(), 0);
    EXPECT_TRUE(eventually_named("tarn.timer", true));
    tick = 0;
    kv_timer *counter = node(0, 10000);
    ASSERT_EQ(timer_add(count_passes, T_EVENT_F, counter), 0);

    load.assign(N, Load{});
    load_fired = 0;
    fire_order.clear();
    fire_order.reserve(N);
    std::mt19937 rng(42);
    for (int i = 0; i < N; i++) {
        Load &l = load[i];
        l.id = i;
        l.ticks = 1 + (int)(rng() % 40);
        kv_timer *t = node(0, l.ticks * 10000 + (long)(rng() % 10000), (void *)(intptr_t)i);
        l.added_before = tick.load();
        l.added = std::chrono::steady_clock::now();
        ASSERT_EQ(timer_add(load_cb, T_EVENT_G, t), 0);
        l.added_after = tick.load();
        if (i % 100 == 99)
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (load_fired < N && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(timer_exit(), 0);
    EXPECT_TRUE(eventually_named("tarn.timer", false));

    ASSERT_EQ((int)fire_order.size(), N);
    int exact = 0;
    double worst_late_ms = 0;
    for (const Load &l : load) {
        // Fires on the N-th pass after it was armed: exactly when no pass
        // ran during timer_add, else within that window.
        EXPECT_GE(l.fired_pass, l.added_before + l.ticks) << l.id;
        EXPECT_LE(l.fired_pass, l.added_after + l.ticks) << l.id;
        exact += l.added_before == l.added_after;
        // Never more than one partial tick early.
        double ms = std::chrono::duration<double, std::milli>(l.fired - l.added).count();
        EXPECT_GE(ms, (l.ticks - 1) * 10.0 - 0.5) << l.id;
        worst_late_ms = std::max(worst_late_ms, ms - l.ticks * 10.0);
    }
    EXPECT_GT(exact, N / 2);
    // Within one pass, in the order they were armed.
    for (size_t i = 1; i < fire_order.size(); i++) {
        const Load &p = load[fire_order[i - 1]], &q = load[fire_order[i]];
        EXPECT_TRUE(p.fired_pass < q.fired_pass || (p.fired_pass == q.fired_pass && p.id < q.id))
            << p.id << " before " << q.id;
    }
    printf("fired %d timers, worst lateness %.1f ms\n", N, worst_late_ms);
}

// Several threads arm, re-arm and remove timers while callbacks change and
// remove timers too.
std::atomic<int> oneshot_fired;

int32_t oneshot(int32_t, kv_timer *t)
{
    oneshot_fired++;
    EXPECT_EQ(timer_remove(t), 0);
    return 1; // ignored: the node is gone
}

int32_t poke_buddy(int32_t, kv_timer *t)
{
    kv_timer *buddy = (kv_timer *)t->user_data;
    EXPECT_EQ(timer_reset_interval(buddy, 0, 20000), 0);
    EXPECT_EQ(timer_stop(t), 0);
    return 1; // repeats despite the stop
}

TEST(TimerThread, ConcurrentUseFromThreadsAndCallbacks)
{
    log_set_log_handler_debug(nullptr);
    ASSERT_EQ(timer_new(), 0);
    oneshot_fired = 0;
    std::atomic<int> oneshot_added{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; w++) {
        workers.emplace_back([w, &oneshot_added] {
            std::mt19937 rng(w);
            kv_timer *own[8];
            for (kv_timer *&t : own) {
                t = node(0, 10000 * (1 + rng() % 4));
                EXPECT_EQ(timer_add(never, T_EVENT_H, t), 0);
            }
            kv_timer *poker = node(0, 30000, own[0]);
            EXPECT_EQ(timer_add(poke_buddy, T_EVENT_I, poker), 0);
            auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
            while (std::chrono::steady_clock::now() < end) {
                kv_timer *t = own[rng() % 8];
                switch (rng() % 5) {
                case 0: EXPECT_EQ(timer_stop(t), 0); break;
                case 1: EXPECT_EQ(timer_restart(t), 0); break;
                case 2: EXPECT_EQ(timer_reset_interval(t, 0, 10000 * (1 + rng() % 3)), 0); break;
                case 3: EXPECT_GE(timer_get_seconds_left(t), 0); break;
                case 4: {
                    kv_timer *o = node(0, 10000 * (1 + rng() % 3));
                    EXPECT_EQ(timer_add(oneshot, T_EVENT_J, o), 0);
                    oneshot_added++;
                    break;
                }
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            EXPECT_EQ(timer_remove(poker), 0);
            for (kv_timer *t : own)
                EXPECT_EQ(timer_remove(t), 0);
        });
    }
    for (auto &t : workers)
        t.join();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (oneshot_fired < oneshot_added && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(oneshot_fired.load(), oneshot_added.load());
    EXPECT_EQ(timer_exit(), 0);
    EXPECT_EQ(timer_exit(), -1);
}

} // namespace
