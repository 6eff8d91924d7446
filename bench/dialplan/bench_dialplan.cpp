// What a dial plan search costs: a 200-line plan whose last line takes the
// call, searched from SIP and from an ISDN port.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "dialplan.h"
#include "dialplan_search.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "proxy_def.h"

namespace {

constexpr int LINES = 200;

// Lines 1..199 want another called number; the last one takes "4930123".
void setup()
{
    static bool done = [] {
        application_create();
        init_locks();
        init_default_call_configuration();
        log_levels_debug_enabled = 0;
        char path[] = "/tmp/tarn-bench-dialplan-XXXXXX";
        int fd = mkstemp(path);
        std::string text;
        for (int i = 1; i < LINES; i++) {
            char line[256];
            snprintf(line, sizeof line, "SIP\tISDN\t192\\.0\\.2\\..*\t1\t%03i.*\t\\0\t*\t\\0\t\n", i);
            text += line;
            snprintf(line, sizeof line, "ISDN\tSIP\t1,2\t10.9.0.1\t%03i.*\t\\0\t*\t\\0\t\n", i);
            text += line;
        }
        text += "SIP\tISDN\t192\\.0\\.2\\..*\t1\t49(.*)\t0\\1\t*\t\\0\t\n";
        text += "ISDN\tSIP\t1,2\t10.9.0.1\t49(.*)\t0\\1\t*\t\\0\t\n";
        if (fd < 0 || write(fd, text.data(), text.size()) != (ssize_t)text.size())
            abort();
        close(fd);
        dialplan_load(path);
        unlink(path);
        return true;
    }();
    (void)done;
}

void BM_SipSearchMatchingTheLastLine(benchmark::State &state)
{
    setup();
    call_object *co = (call_object *)calloc(1, sizeof *co);
    call_leg_sip leg{};
    leg.address_info = (sip_address_info_object *)calloc(1, sizeof(sip_address_info_object));
    leg.address_info->from_url_user = strdup("100");
    leg.address_info->to_url_user = strdup("4930123");
    snprintf(leg.sip_peer_network_ip, sizeof leg.sip_peer_network_ip, "192.0.2.1");
    co->cl_sip = co->cl_sip_in = &leg;
    cc_clone_call_configuration(&co->cc, &gp->default_call_configuration);
    co->cc_active = &co->cc;
    co->cc_source = co->cc_destination = &gp->default_call_configuration;
    for (auto _ : state) {
        dialplan_element *dp = dialplan_search_from_sip(co, 0);
        if (!dp || dp->index != 2 * LINES - 2)
            state.SkipWithError("the last SIP line did not match");
        benchmark::DoNotOptimize(dp);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SipSearchMatchingTheLastLine)->Unit(benchmark::kMicrosecond);

void BM_IsdnSearchMatchingTheLastLine(benchmark::State &state)
{
    setup();
    call_object *co = (call_object *)calloc(1, sizeof *co);
    misdn_bchannel *bc = new misdn_bchannel{};
    bc->port = 2;
    snprintf(bc->oad, sizeof bc->oad, "100");
    snprintf(bc->dad, sizeof bc->dad, "4930123");
    co->bc = bc;
    call_leg_sip leg{};
    co->cl_sip = &leg;
    cc_clone_call_configuration(&co->cc, &gp->default_call_configuration);
    co->cc_active = &co->cc;
    co->cc_source = co->cc_destination = &gp->default_call_configuration;
    for (auto _ : state) {
        dialplan_element *dp = dialplan_search_from_isdn(co);
        if (!dp || dp->index != 2 * LINES - 1)
            state.SkipWithError("the last ISDN line did not match");
        benchmark::DoNotOptimize(dp);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IsdnSearchMatchingTheLastLine)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
