#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "log.h"
#include "statemachine.h"

namespace {

// What a case's actions do. Actions 0..3 record their letter and return the
// pair configured for them; SET_OWN stores state 16 into its own machine;
// REENTER runs its own machine again and records the result.
enum { NONE = -1, A = 0, B = 1, C = 2, D = 3, SET_OWN = 4, REENTER = 5 };

struct Row {
    int32_t state, event, state_next, event_out;
    int action;
};

struct Case {
    const char *name;
    std::vector<Row> rows;
    std::vector<statemachine_handle_retval> ret; // per action A..D
    int32_t send_result;
    int32_t initial;
    std::vector<int32_t> events;
    std::vector<int32_t> results;
    int32_t final_state;
    const char *trace;
};

const Case *cur;
statemachine *cur_sm;
std::string trace;

void note(const std::string &s)
{
    if (!trace.empty())
        trace += ' ';
    trace += s;
}

template <int K>
statemachine_handle_retval act(void *p, void *arg, int32_t, int32_t)
{
    EXPECT_EQ(p, (void *)&trace);
    EXPECT_EQ(arg, (void *)&cur);
    note(std::string(1, (char)('a' + K)));
    return K < (int)cur->ret.size() ? cur->ret[K] : statemachine_handle_retval{-1, -1};
}

statemachine_handle_retval act_set_own(void *, void *, int32_t, int32_t)
{
    statemachine_set_state(cur_sm, 16);
    note("set16");
    return {-1, -1};
}

statemachine_handle_retval act_reenter(void *, void *arg, int32_t, int32_t)
{
    int32_t r = statemachine_run(cur_sm, 99, arg);
    note("inner=" + std::to_string(r));
    return {-1, -1};
}

statemachine_handle action_fn(int a)
{
    switch (a) {
    case A: return act<0>;
    case B: return act<1>;
    case C: return act<2>;
    case D: return act<3>;
    case SET_OWN: return act_set_own;
    case REENTER: return act_reenter;
    default: return nullptr;
    }
}

int32_t send_ev(void *, void *, int32_t event)
{
    note("send" + std::to_string(event));
    return cur->send_result;
}

void log_ev(void *, void *, int kind, int32_t state, int32_t event)
{
    if (kind == SM_LOG_REFUSED)
        note("refused");
    else if (kind == SM_LOG_EVENT_OUT)
        note("out(" + std::to_string(state) + "," + std::to_string(event) + ")");
    else
        note("in(" + std::to_string(state) + "," + std::to_string(event) + ")");
}

const int32_t E = 7, F = 9;

// Sequences of events through small tables; each row of the trace is what
// the hooks saw, in order.
const Case cases[] = {
    {"zero rows ignore every event", {}, {}, 0, 1, {E, F}, {-1, -1}, 1, "in(1,7) in(1,9)"},
    {"any state any event matches everything",
     {{SM_ANY, SM_ANY, 2, SM_NO_EVENT, NONE}}, {}, 0, 1, {E, F}, {0, 0}, 2, "in(1,7) in(2,9)"},
    {"unmatched state or event is ignored",
     {{2, E, 4, 30, NONE}, {1, F, 4, 30, NONE}}, {}, 0, 1, {E}, {-1}, 1, "in(1,7)"},
    {"chain runs in order and the last row enters the state",
     {{1, E, SM_NEXT_ROW, SM_NO_EVENT, A}, {1, E, SM_NEXT_ROW, SM_NO_EVENT, B},
      {1, E, 8, SM_NO_EVENT, C}},
     {{-1, -1}, {-1, -1}, {-1, -1}}, 0, 1, {E}, {0}, 8, "in(1,7) a b c"},
    {"an action that decides a state ends the chain",
     {{1, E, SM_NEXT_ROW, SM_NO_EVENT, A}, {1, E, SM_NEXT_ROW, SM_NO_EVENT, B},
      {1, E, 8, SM_NO_EVENT, C}},
     {{-1, -1}, {4, -1}, {-1, -1}}, 0, 1, {E}, {0}, 4, "in(1,7) a b"},
    {"handled {-2,-3} goes on with the chain and counts as handled",
     {{1, E, SM_NEXT_ROW, 30, A}, {1, E, SM_NEXT_ROW, SM_NO_EVENT, B}, {2, E, 8, 31, C}},
     {{-2, -3}, {-1, -1}}, 0, 1, {E}, {0}, 1, "in(1,7) a b"},
    {"{-3,-1} sends the row's event and keeps the state",
     {{1, E, 8, 40, A}, {1, E, 2, 41, B}}, {{-3, -1}}, 0, 1, {E}, {0}, 1,
     "in(1,7) a out(1,40) send40"},
    {"{-1,-2} stops without event_out or state_next",
     {{1, E, 8, 40, A}, {1, E, 2, 41, B}}, {{-1, -2}}, 0, 1, {E}, {0}, 1, "in(1,7) a"},
    {"an action's event replaces event_out",
     {{1, E, 8, 40, A}}, {{-1, 44}}, 0, 1, {E}, {0}, 8, "in(1,7) a out(1,44) send44"},
    {"send_event failure ends the run and keeps the action's state",
     {{1, E, 8, 40, A}}, {{4, -1}}, 5, 1, {E}, {5}, 4, "in(1,7) a out(4,40) send40"},
    {"send_event failure without action leaves the state",
     {{1, E, 8, 40, NONE}, {1, E, 2, 41, NONE}}, {}, 5, 1, {E}, {5}, 1,
     "in(1,7) out(1,40) send40"},
    {"chain of undecided actions ending in next-row ignores the event",
     {{1, E, SM_NEXT_ROW, SM_NO_EVENT, A}, {1, E, SM_NEXT_ROW, SM_NO_EVENT, B}},
     {{-1, -1}, {-1, -1}}, 0, 1, {E}, {-1}, 1, "in(1,7) a b"},
    {"an earlier catch-all hides later rows",
     {{SM_ANY, SM_ANY, SM_KEEP_STATE, SM_NO_EVENT, A}, {1, E, 8, 40, B}},
     {{-1, -1}}, 0, 1, {E}, {0}, 1, "in(1,7) a"},
    {"rows match on the state at the start of the run",
     {{1, E, SM_NEXT_ROW, SM_NO_EVENT, SET_OWN}, {1, E, SM_KEEP_STATE, SM_NO_EVENT, A},
      {16, E, 32, SM_NO_EVENT, B}},
     {{-1, -1}}, 0, 1, {E}, {0}, 16, "in(1,7) set16 a"},
    {"re-entry from an action is refused, the outer run goes on",
     {{1, E, SM_NEXT_ROW, SM_NO_EVENT, REENTER}, {1, E, 2, 40, NONE}, {SM_ANY, 99, 64, 41, NONE}},
     {}, 0, 1, {E}, {0}, 2, "in(1,7) refused inner=-1 out(1,40) send40"},
    {"a sequence walks a small call",
     {{1, E, 2, 40, NONE}, {2, F, 4, SM_NO_EVENT, NONE}, {4 | 2, E, SM_KEEP_STATE, SM_STOP_SCAN, NONE},
      {8, SM_ANY, 1, SM_NO_EVENT, NONE}},
     {}, 0, 1, {E, F, E, F}, {0, 0, 0, -1}, 4, "in(1,7) out(1,40) send40 in(2,9) in(4,7) in(4,9)"},
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class Engine : public ::testing::TestWithParam<Case> {};

TEST_P(Engine, RunsSequence)
{
    const Case &c = GetParam();
    cur = &c;
    trace.clear();
    std::vector<statemachine_transition> rows;
    for (const Row &r : c.rows)
        rows.push_back({r.state, r.event, r.state_next, r.event_out, action_fn(r.action)});
    statemachine *sm = statemachine_create(&trace, c.initial, rows.data(), (int32_t)rows.size(),
                                           send_ev, log_ev);
    ASSERT_NE(sm, nullptr);
    cur_sm = sm;
    std::vector<int32_t> results;
    for (int32_t e : c.events)
        results.push_back(statemachine_run(sm, e, &cur));
    EXPECT_EQ(results, c.results);
    EXPECT_EQ(statemachine_get_state(sm), c.final_state);
    EXPECT_EQ(trace, c.trace);
    statemachine_destroy(sm);
}

INSTANTIATE_TEST_SUITE_P(Table, Engine, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case> &i) {
                             std::string n = i.param.name;
                             for (char &ch : n)
                                 if (!isalnum((unsigned char)ch))
                                     ch = '_';
                             return n;
                         });

// A second thread running the same machine waits for the first run instead
// of being refused.
std::atomic<int> phase;
std::vector<std::string> order;

statemachine_handle_retval slow(void *, void *, int32_t, int32_t)
{
    phase = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    order.push_back("first");
    return {2, -1};
}

statemachine_handle_retval second(void *, void *, int32_t, int32_t)
{
    order.push_back("second");
    return {4, -1};
}

TEST(EngineThreads, SecondThreadWaitsForRun)
{
    static const statemachine_transition t[] = {
        {1, E, SM_KEEP_STATE, SM_NO_EVENT, slow},
        {2, F, SM_KEEP_STATE, SM_NO_EVENT, second},
    };
    statemachine *sm = statemachine_create(nullptr, 1, t, 2, nullptr, nullptr);
    ASSERT_NE(sm, nullptr);
    int32_t r1 = -9, r2 = -9;
    std::thread a([&] { r1 = statemachine_run(sm, E, nullptr); });
    while (phase == 0)
        std::this_thread::yield();
    std::thread b([&] { r2 = statemachine_run(sm, F, nullptr); });
    a.join();
    b.join();
    EXPECT_EQ(r1, 0);
    EXPECT_EQ(r2, 0);
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(statemachine_get_state(sm), 4);
    // The owner and table are read back under the lock.
    EXPECT_EQ(statemachine_get_table(sm), t);
    EXPECT_EQ(statemachine_get_priv(sm), nullptr);
    statemachine_destroy(sm);
}

std::vector<std::string> lines;
void capture(int level, int module, const char *, int, const char *, const char *,
             const char *fmt, va_list ap)
{
    char buf[256];
    vsnprintf(buf, sizeof buf, fmt, ap);
    lines.push_back(std::to_string(module) + "/" + std::to_string(level) + " " + buf);
}

TEST(EngineLifecycle, CreateAndDestroyAreLogged)
{
    log_set_log_handler_debug(capture);
    log_set_loglevel_debug(log_levels_debug, STATEMACHINE, 5);
    statemachine *sm = statemachine_create(nullptr, 1, nullptr, 0, nullptr, nullptr);
    ASSERT_NE(sm, nullptr);
    statemachine_set_state(sm, 8);
    statemachine_destroy(sm);
    statemachine_destroy(nullptr);
    log_set_log_handler_debug(nullptr);
    EXPECT_EQ(lines, (std::vector<std::string>{"6/5 Creating statemachine with state 1 ...",
                                               "6/5 Destroying statemachine at state 8 ..."}));
}

} // namespace
