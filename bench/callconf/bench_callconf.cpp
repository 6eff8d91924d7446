// What a call pays for its configuration: applying a dial plan line's
// option string, the four overlays of admission, and finding a pooled record
// among a thousand.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "application.h"
#include "call_configuration.h"
#include "log.h"

namespace {

const char *const line_options =
    "ea=sdp,codecs=pcma:pcmu:g729,dtmfmode=rfc2833:info,failover_causes=486:503:408,"
    "sip_from_user_setting=${new_source},isdn_oad_setting=${new_source_auto},srtp_mode=optional:mandatory,"
    "faxdetect_options=10:2,t38=1,qvalue=0.5";

void setup()
{
    static bool done = [] {
        application_create();
        init_locks();
        init_default_call_configuration();
        log_levels_debug_enabled = 0;
        return true;
    }();
    (void)done;
}

void BM_ApplyOptionString(benchmark::State &state)
{
    setup();
    call_configuration cc;
    for (auto _ : state) {
        cc_init_call_configuration(&cc);
        cc_parse_call_configuration_direct(nullptr, &cc, line_options);
        benchmark::DoNotOptimize(cc.dtmflen);
    }
}
BENCHMARK(BM_ApplyOptionString);

void BM_AdmissionOverlays(benchmark::State &state)
{
    setup();
    call_configuration source, destination, line, override_cc, active;
    for (auto *cc : {&source, &destination, &line, &override_cc})
        cc_init_call_configuration(cc);
    cc_parse_call_configuration_direct(nullptr, &source, "ea=sdp,codecs=pcmu");
    cc_parse_call_configuration_direct(nullptr, &destination, "failover_causes=486,dtmfmode=info");
    cc_parse_call_configuration_direct(nullptr, &line, line_options);
    cc_parse_call_configuration_direct(nullptr, &override_cc, "override=screen=1");
    for (auto _ : state) {
        cc_init_call_configuration(&active);
        _cc_update_call_configuration(&active, &source, CCUF_DO_NOT_UPDATE_SIP_OUTBOUND);
        _cc_update_call_configuration(&active, &destination, CCUF_DO_NOT_UPDATE_SIP_INBOUND);
        cc_update_call_configuration(&active, &line);
        cc_update_call_configuration(&active, &override_cc);
        benchmark::DoNotOptimize(active.dtmflen);
    }
}
BENCHMARK(BM_AdmissionOverlays);

void BM_PoolLookupAmongAThousand(benchmark::State &state)
{
    setup();
    std::vector<std::string> strings;
    for (int i = 0; i < 1000; i++)
        strings.push_back("dtmflen=" + std::to_string(100 + i) + ",ea=sdp,codecs=pcma:pcmu");
    std::vector<call_configuration *> held;
    for (auto &s : strings)
        held.push_back(cc_parse_call_configuration_pool(nullptr, s.c_str()));
    size_t i = 0;
    for (auto _ : state) {
        call_configuration *cc = cc_parse_call_configuration_pool(nullptr, strings[i++ % strings.size()].c_str());
        cc_release_call_configuration(cc);
    }
    for (auto *cc : held)
        cc_release_call_configuration(cc);
    cc_clean_call_configuration_pool();
}
BENCHMARK(BM_PoolLookupAmongAThousand);

} // namespace

BENCHMARK_MAIN();
