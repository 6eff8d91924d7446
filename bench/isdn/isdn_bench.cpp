// The ISDN library's figures: the channel book's reservation cycle, a
// B-channel choice from a port group, and whole calls between a TE port and
// an NT port of this process (the library on both ends, UDP on loopback).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "isdn_lib_intern.h"
#include "isdn_test_support.h"
#include "misdn_harness.h"

namespace {

constexpr int TE = 1, NT = 2;

event_response_e answer(event_e event, misdn_bchannel *bc)
{
    switch (event) {
    case EVENT_SETUP:
        misdn_lib_send_event(bc, EVENT_PROCEEDING);
        misdn_lib_send_event(bc, EVENT_ALERTING);
        misdn_lib_send_event(bc, EVENT_CONNECT);
        break;
    case EVENT_CONNECT:
        bc->out_cause = 16;
        misdn_lib_send_event(bc, EVENT_DISCONNECT);
        break;
    case EVENT_DISCONNECT:
        misdn_lib_send_event(bc, EVENT_RELEASE);
        break;
    case EVENT_RELEASE:
        misdn_lib_send_event(bc, EVENT_RELEASE_COMPLETE);
        break;
    default:
        break;
    }
    return RESPONSE_OK;
}

// The library once for the process: TE 1 wired to NT 2, four basic-rate
// buses without far ends for the group choice.
void start_once()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    int a = free_local_port(), b = free_local_port();
    std::string sim = "1 te bri ptp " + std::to_string(a) + " " + std::to_string(b) + " -\n2 nt bri ptp " +
                      std::to_string(b) + " " + std::to_string(a) + " -\n";
    for (int p = 3; p <= 6; p++) {
        sim += std::to_string(p) + " te bri ptmp - - -\n";
        misdn_lib_chansel_behaviour[p] = CHANNEL_EXCLUSIVE;
    }
    rec.hook = answer;
    start_library(sim, port_list({1, 2, 3, 4, 5, 6}, {1, 1, 0, 0, 0, 0}));
    wait_until([] { return misdn_lib_port_up(TE, 1) == 1 && misdn_lib_port_up(NT, 1) == 1; }, 10000);
    misdn_lib_init_port_groups("bus(3,4,5,6)");
    misdn_lib_set_channel_selection("bus", CHANSEL_ROUNDROBIN, 0);
}

void BM_ChannelBookCycle(benchmark::State &state)
{
    channel_spender cs{};
    channel_spender_init(&cs, 1);
    channel_spender_init_port(&cs, 1, CHANNEL_SPENDER_PRI, CHANNEL_EXCLUSIVE, 16);
    misdn_bchannel bc{};
    for (auto _ : state) {
        int ch = 0;
        channel_spender_request_outgoing_channel(&cs, 1, 0, &bc, &ch);
        channel_spender_process_answer(&cs, 1, &bc, ch, 1);
        bc.channel = ch;
        channel_spender_release_channel(&cs, &bc, 1, ch);
    }
}
BENCHMARK(BM_ChannelBookCycle);

void BM_PortGroupChoice(benchmark::State &state)
{
    start_once();
    for (auto _ : state) {
        misdn_bchannel *bc = misdn_lib_get_free_bc_by_port_group("bus", nullptr, 0, nullptr, nullptr);
        if (!bc) {
            state.SkipWithError("no B-channel");
            break;
        }
        misdn_clear_unassociated_bc(bc);
    }
}
BENCHMARK(BM_PortGroupChoice);

void BM_CallTeToNt(benchmark::State &state)
{
    start_once();
    for (auto _ : state) {
        int before = rec.count(EVENT_CLEANUP, TE);
        with_global_lock([] {
            misdn_bchannel *bc = misdn_lib_get_free_bc(TE, 0, 1, 0, 1);
            if (bc)
                misdn_lib_send_event(bc, EVENT_SETUP);
        });
        if (!rec.wait_count(EVENT_CLEANUP, TE, before + 1, 5000) || !wait_until([] { return all_free(); }, 5000)) {
            state.SkipWithError("call did not end");
            break;
        }
        rec.clear();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CallTeToNt)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
