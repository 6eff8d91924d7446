// Throughput of the state-machine engine and cost of one timer pass.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "statemachine.h"
#include "timer.h"

namespace {

int32_t sent(void *, void *, int32_t) { return 0; }

statemachine_handle_retval act(void *, void *, int32_t, int32_t) { return {SM_NO_DECISION, SM_ROW_EVENT}; }

// 224 rows in the machine's state, each for another event; only the last
// row takes the event, so every run walks the whole table.
void BM_statemachine_run_224_rows(benchmark::State &state)
{
    const int rows = 224;
    const int32_t event = 5000;
    const bool with_action = state.range(0) != 0;
    std::vector<statemachine_transition> t;
    for (int i = 0; i < rows - 1; i++)
        t.push_back({1, 100 + i, SM_KEEP_STATE, SM_NO_EVENT, act});
    t.push_back({1, event, SM_KEEP_STATE, with_action ? 42 : SM_NO_EVENT, with_action ? act : nullptr});
    statemachine *sm = statemachine_create(nullptr, 1, t.data(), rows, sent, nullptr);
    for (auto _ : state)
        benchmark::DoNotOptimize(statemachine_run(sm, event, nullptr));
    state.SetItemsProcessed(state.iterations());
    statemachine_destroy(sm);
}
BENCHMARK(BM_statemachine_run_224_rows)->Arg(0)->Arg(1)->ArgName("action_and_send");

int32_t never(int32_t, kv_timer *) { return 0; }
int32_t again(int32_t, kv_timer *) { return 1; }

// One 10 ms pass over N armed timers: far from expiry (firing 0), or all
// expiring on every pass and asking to repeat (firing 1).
void BM_timer_pass(benchmark::State &state)
{
    const int n = (int)state.range(0);
    const bool firing = state.range(1) != 0;
    timer_list_new();
    for (int i = 0; i < n; i++) {
        kv_timer *k = (kv_timer *)calloc(1, sizeof(kv_timer));
        if (firing)
            k->tv.tv_usec = 10000;
        else
            k->tv.tv_sec = 2147481;
        timer_add(firing ? again : never, T_EVENT_A, k);
    }
    for (auto _ : state)
        timer_pass();
    state.SetItemsProcessed(state.iterations() * n);
    timer_exit();
}
BENCHMARK(BM_timer_pass)
    ->ArgNames({"timers", "firing"})
    ->Args({1000, 0})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
