// Parse and build of SETUP, CONNECT and DISCONNECT per second, and a whole
// call's signalling (SETUP out, CONNECT in, CONNECT ACKNOWLEDGE out,
// DISCONNECT in, RELEASE out, RELEASE COMPLETE in) next to libpri doing the
// same call through its own LAPD and Q.931.
#include <benchmark/benchmark.h>

#include <cstring>

#include "isdn_msg.h"
#include "libpri_peer.h"
#include "q931_frame.h"
#include "q931_hooks.h"
#include "q931_test_support.h"

namespace {

void setup_call(misdn_bchannel *bc, int nt)
{
    fresh_bc(bc, 2, nt);
    bc->channel = 17;
    bc->exclusive = 1;
    bc->oton = NUMTYPE_NATIONAL;
    strcpy(bc->oad, "301234");
    strcpy(bc->dad, "4711");
    strcpy(bc->display, "Front desk");
    bc->sending_complete = 1;
    bc->cton = NUMTYPE_SUBSCRIBER;
    strcpy(bc->cad, "4711");
    bc->out_cause = 16;
}

octets wire_of(event_e event, int nt)
{
    misdn_bchannel bc;
    setup_call(&bc, nt);
    msg_t *m = isdn_msg_build_event(msgs_g, &bc, event, nt);
    octets w = frame_to_wire(m, nt, 2, 5, 1);
    free_msg(m);
    return w;
}

void BM_Build(benchmark::State &state, event_e event)
{
    install_test_ports();
    const int nt = (int)state.range(0);
    misdn_bchannel bc;
    setup_call(&bc, nt);
    for (auto _ : state) {
        bc.channel_id_encoded = 0;
        msg_t *m = isdn_msg_build_event(msgs_g, &bc, event, nt);
        benchmark::DoNotOptimize(m);
        free_msg(m);
    }
    state.SetItemsProcessed(state.iterations());
}

// Parse of a frame as the device layer hands it up.
void BM_Parse(benchmark::State &state, event_e event)
{
    install_test_ports();
    const int nt = (int)state.range(0);
    msg_t *m = frame_from_wire(wire_of(event, nt), nt);
    misdn_bchannel bc;
    setup_call(&bc, nt);
    for (auto _ : state) {
        isdn_msg_parse_event(msgs_g, m, &bc, nt);
        benchmark::DoNotOptimize(bc.cause);
    }
    free_msg(m);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BM_Build, SETUP, EVENT_SETUP)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_Build, CONNECT, EVENT_CONNECT)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_Build, DISCONNECT, EVENT_DISCONNECT)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_Parse, SETUP, EVENT_SETUP)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_Parse, CONNECT, EVENT_CONNECT)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_Parse, DISCONNECT, EVENT_DISCONNECT)->Arg(0)->Arg(1);

// The call's six messages with our coders, from and to Q.931 octets (TE).
void BM_CallCycle_tarn(benchmark::State &state)
{
    install_test_ports();
    const octets connect = unhex("08 02 80 05 07 18 03 a9 83 91 4c 05 41 80 34 37 31");
    const octets disconnect = unhex("08 02 80 05 45 08 02 80 90");
    const octets release_complete = unhex("08 02 80 05 5a");
    misdn_bchannel bc;
    for (auto _ : state) {
        setup_call(&bc, 0);
        msg_t *m = isdn_msg_build_event(msgs_g, &bc, EVENT_SETUP, 0);
        benchmark::DoNotOptimize(frame_to_wire(m, 0, 2, 5, 0));
        free_msg(m);
        for (const octets *in : {&connect, &disconnect, &release_complete}) {
            m = frame_from_wire(*in, 0);
            isdn_msg_parse_event(msgs_g, m, &bc, 0);
            free_msg(m);
            event_e answer = in == &connect ? EVENT_CONNECT_ACKNOWLEDGE : EVENT_RELEASE;
            if (in == &release_complete)
                break;
            m = isdn_msg_build_event(msgs_g, &bc, answer, 0);
            benchmark::DoNotOptimize(frame_to_wire(m, 0, 2, 5, 0));
            free_msg(m);
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CallCycle_tarn);

// The same call with libpri (user side, EuroISDN E1), its LAPD included.
void BM_CallCycle_libpri(benchmark::State &state)
{
    libpri_peer peer(false, false, PRI_SWITCH_EUROISDN_E1);
    peer.pump();
    char called[] = "4711";
    char calling[] = "301234";
    char name[] = "Front desk";
    for (auto _ : state) {
        q931_call *call = pri_new_call(peer.pri);
        struct pri_sr *sr = pri_sr_new();
        pri_sr_set_channel(sr, 17, 1, 0);
        pri_sr_set_bearer(sr, PRI_TRANS_CAP_SPEECH, PRI_LAYER_1_ALAW);
        pri_sr_set_called(sr, called, PRI_UNKNOWN, 1);
        pri_sr_set_caller(sr, calling, name, PRI_NATIONAL_ISDN, PRES_ALLOWED_USER_NUMBER_NOT_SCREENED);
        pri_setup(peer.pri, call, sr);
        pri_sr_free(sr);
        peer.pump();
        // the call reference libpri chose, from its SETUP
        const octets &setup = peer.from_pri.back();
        uint8_t cr0 = (uint8_t)(setup[2] | 0x80), cr1 = setup[3];
        peer.send({0x08, 0x02, cr0, cr1, 0x07, 0x18, 0x03, 0xa9, 0x83, 0x91});
        peer.pump();
        peer.send({0x08, 0x02, cr0, cr1, 0x45, 0x08, 0x02, 0x80, 0x90});
        bool hangup_req = false;
        peer.pump([&](pri_event *e) { hangup_req |= e->e == PRI_EVENT_HANGUP_REQ; });
        pri_hangup(peer.pri, call, 16);
        peer.pump();
        peer.send({0x08, 0x02, cr0, cr1, 0x5a});
        peer.pump();
        benchmark::DoNotOptimize(hangup_req);
        peer.from_pri.clear();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CallCycle_libpri);

}  // namespace

BENCHMARK_MAIN();
