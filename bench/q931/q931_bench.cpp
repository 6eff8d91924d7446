// Parse and build of SETUP, CONNECT and DISCONNECT per second, and a whole
// call's signalling (SETUP out, CONNECT in, CONNECT ACKNOWLEDGE out,
// DISCONNECT in, RELEASE out, RELEASE COMPLETE in) next to libpri doing the
// same call through its own LAPD and Q.931.
//
// The library logs through a callback that models the daemon's: every line
// is formatted as call control's log callback formats it and handed to the
// log front-end, which at the daemon's default settings writes nothing. The
// "traced" cycle runs with every level written.
//
// q931_bench --count=NAME runs one case 20,000 times between callgrind's
// instrumentation marks (see README.md for the instruction counts).
#include <benchmark/benchmark.h>
#include <valgrind/callgrind.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "isdn_msg.h"
#include "libpri_peer.h"
#include "isdn_events.h"
#include "line_bringup.h"
#include "log.h"
#include "misdn_lib_iface.h"
#include "q931_frame.h"
#include "q931_hooks.h"
#include "q931_info.h"
#include "q931_test_support.h"

namespace {

// ---- log callbacks ----

// The daemon's ISDN log callback and its filter: every line is formatted
// (1,022 characters) and routed by level to the log front-end.
void drop_debug(int, int, const char *, int, const char *, const char *, const char *format, va_list ap)
{
    char text[1024];
    vsnprintf(text, sizeof(text), format, ap);
    benchmark::DoNotOptimize(text[0]);
}

void drop_message(int, int, const char *, int, const char *format, va_list ap)
{
    char text[1024];
    vsnprintf(text, sizeof(text), format, ap);
    benchmark::DoNotOptimize(text[0]);
}

// The daemon's default: debug, message and network-message logs switched
// off (logging_debug, logging_message, logging_nmessage 0).
void log_default()
{
    log_levels_debug_enabled = log_levels_message_enabled = log_levels_nmessage_enabled = 0;
    misdn_lib_iface iface{};
    iface.cb_log = startup_isdn_iface.cb_log;
    misdn_lib_set_iface(&iface);
    misdn_lib_set_log_filter(chan_misdn_log_on);
}

// Every line written (formatted by the back-ends, then dropped).
void log_everything()
{
    log_levels_debug_enabled = log_levels_message_enabled = log_levels_nmessage_enabled = 1;
    for (int m = 0; m < MODULECOUNT; m++) {
        log_set_loglevel_debug(log_levels_debug, m, 9);
        log_set_loglevel_message(m, 9);
    }
    log_set_log_handler_debug(drop_debug);
    log_set_log_handler_message(drop_message);
    log_set_log_handler_nmessage(drop_message);
    misdn_lib_iface iface{};
    iface.cb_log = startup_isdn_iface.cb_log;
    misdn_lib_set_iface(&iface);
    misdn_lib_set_log_filter(chan_misdn_log_on);
}

// ---- frames as the device hands them over ----

// A received TE frame: the message parsed and its info record written into
// a new frame, as the device's layer 3 does.
msg_t *te_frame_in(const octets &wire)
{
    q931_msg m;
    if (q931_parse(wire.data(), (int)wire.size(), &m, nullptr) < 0)
        return nullptr;
    msg_t *f = alloc_msg(mISDN_FRAME_HEAD_SIZE + Q931_INFO_SIZE + L3_MSG_ROOM_TE);
    unsigned char *head = msg_put(f, mISDN_FRAME_HEAD_SIZE);
    int n = q931_info_from_msg(&m, f->tail, (int)(f->end - f->tail));
    msg_put(f, n);
    uint32_t words[4] = {0, 0x030000u | ((uint32_t)m.mt << 8) | L3_INDICATION, 1, (uint32_t)n};
    memcpy(head, words, sizeof(words));
    return f;
}

// The Q.931 message of a built TE frame, as the device's layer 3 sends it.
int te_frame_out(const msg_t *f, uint8_t *out, int cap)
{
    int pos = q931_put_header(out, 2, 5, 0, l3_frame_mt(f, 0));
    const char *why = nullptr;
    int n = q931_info_to_ies(f->data + mISDN_FRAME_HEAD_SIZE, f->len - mISDN_FRAME_HEAD_SIZE, out + pos,
                             cap - pos, &why);
    return n < 0 ? -1 : pos + n;
}

// ---- cases ----

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

using body = std::function<void()>;

body build_case(event_e event, int nt)
{
    auto bc = std::make_shared<misdn_bchannel>();
    setup_call(bc.get(), nt);
    return [bc, event, nt] {
        bc->channel_id_encoded = 0;
        msg_t *m = isdn_msg_build_event(msgs_g, bc.get(), event, nt);
        benchmark::DoNotOptimize(m);
        free_msg(m);
    };
}

// Parse of a frame as the device layer hands it up.
body parse_case(event_e event, int nt)
{
    std::shared_ptr<msg_t> m(frame_from_wire(wire_of(event, nt), nt), free_msg);
    auto bc = std::make_shared<misdn_bchannel>();
    setup_call(bc.get(), nt);
    return [m, bc, nt] {
        isdn_msg_parse_event(msgs_g, m.get(), bc.get(), nt);
        benchmark::DoNotOptimize(bc->cause);
    };
}

// The call's six messages with our coders, from and to Q.931 octets (TE).
body cycle_tarn()
{
    auto bc = std::make_shared<misdn_bchannel>();
    auto in = std::make_shared<std::vector<octets>>(std::vector<octets>{
        unhex("08 02 80 05 07 18 03 a9 83 91 4c 05 41 80 34 37 31"),  // CONNECT
        unhex("08 02 80 05 45 08 02 80 90"),                          // DISCONNECT
        unhex("08 02 80 05 5a"),                                      // RELEASE COMPLETE
    });
    return [bc, in] {
        uint8_t out[Q931_MAX_MSG];
        setup_call(bc.get(), 0);
        static const event_e sent[] = {EVENT_SETUP, EVENT_CONNECT_ACKNOWLEDGE, EVENT_RELEASE};
        for (int i = 0; i < 3; i++) {
            msg_t *m = isdn_msg_build_event(msgs_g, bc.get(), sent[i], 0);
            benchmark::DoNotOptimize(te_frame_out(m, out, sizeof(out)));
            free_msg(m);
            m = te_frame_in((*in)[i]);
            isdn_msg_parse_event(msgs_g, m, bc.get(), 0);
            free_msg(m);
        }
    };
}

// The same call with libpri (user side, EuroISDN E1), its LAPD included.
body cycle_libpri()
{
    auto peer = std::make_shared<libpri_peer>(false, false, PRI_SWITCH_EUROISDN_E1);
    peer->pump();
    return [peer] {
        char called[] = "4711";
        char calling[] = "301234";
        char name[] = "Front desk";
        q931_call *call = pri_new_call(peer->pri);
        struct pri_sr *sr = pri_sr_new();
        pri_sr_set_channel(sr, 17, 1, 0);
        pri_sr_set_bearer(sr, PRI_TRANS_CAP_SPEECH, PRI_LAYER_1_ALAW);
        pri_sr_set_called(sr, called, PRI_UNKNOWN, 1);
        pri_sr_set_caller(sr, calling, name, PRI_NATIONAL_ISDN, PRES_ALLOWED_USER_NUMBER_NOT_SCREENED);
        pri_setup(peer->pri, call, sr);
        pri_sr_free(sr);
        peer->pump();
        // the call reference libpri chose, from its SETUP
        const octets &setup = peer->from_pri.back();
        uint8_t cr0 = (uint8_t)(setup[2] | 0x80), cr1 = setup[3];
        peer->send({0x08, 0x02, cr0, cr1, 0x07, 0x18, 0x03, 0xa9, 0x83, 0x91});
        peer->pump();
        peer->send({0x08, 0x02, cr0, cr1, 0x45, 0x08, 0x02, 0x80, 0x90});
        bool hangup_req = false;
        peer->pump([&](pri_event *e) { hangup_req |= e->e == PRI_EVENT_HANGUP_REQ; });
        pri_hangup(peer->pri, call, 16);
        peer->pump();
        peer->send({0x08, 0x02, cr0, cr1, 0x5a});
        peer->pump();
        benchmark::DoNotOptimize(hangup_req);
        peer->from_pri.clear();
    };
}

struct bench_case {
    std::string name;
    std::function<body()> make;
    void (*logging)();
};

std::vector<bench_case> all_cases()
{
    std::vector<bench_case> c;
    const struct {
        const char *name;
        event_e event;
    } msgs[] = {{"SETUP", EVENT_SETUP}, {"CONNECT", EVENT_CONNECT}, {"DISCONNECT", EVENT_DISCONNECT}};
    for (const auto &m : msgs)
        for (int nt = 0; nt <= 1; nt++)
            c.push_back({std::string("BM_Build/") + m.name + "/" + std::to_string(nt),
                         [=] { return build_case(m.event, nt); }, log_default});
    for (const auto &m : msgs)
        for (int nt = 0; nt <= 1; nt++)
            c.push_back({std::string("BM_Parse/") + m.name + "/" + std::to_string(nt),
                         [=] { return parse_case(m.event, nt); }, log_default});
    c.push_back({"BM_CallCycle_tarn", cycle_tarn, log_default});
    c.push_back({"BM_CallCycle_libpri", cycle_libpri, log_default});
    c.push_back({"BM_CallCycle_tarn_traced", cycle_tarn, log_everything});
    return c;
}

// Console output, then the call cycle of libpri against ours.
class ratio_reporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median")
                continue;
            std::string n = r.run_name.function_name;
            if (n == "BM_CallCycle_tarn" || n == "BM_CallCycle_libpri")
                ns[n] = r.GetAdjustedRealTime();
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        double ours = ns["BM_CallCycle_tarn"], theirs = ns["BM_CallCycle_libpri"];
        if (ours > 0 && theirs > 0)
            printf("call cycle: tarn %.2f us, libpri %.2f us; libpri time / tarn time = %.2f\n", ours / 1000,
                   theirs / 1000, theirs / ours);
    }

  private:
    std::map<std::string, double> ns;
};

int count_case(const std::string &name)
{
    for (const bench_case &c : all_cases()) {
        if (c.name != name)
            continue;
        c.logging();
        body once = c.make();
        for (int i = 0; i < 200; i++)  // first touches and lazy bindings outside the count
            once();
        const int n = 20000;
        CALLGRIND_START_INSTRUMENTATION;
        for (int i = 0; i < n; i++)
            once();
        CALLGRIND_STOP_INSTRUMENTATION;
        printf("%s: %d runs\n", name.c_str(), n);
        return 0;
    }
    fprintf(stderr, "no case %s\n", name.c_str());
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    install_test_ports();
    for (int i = 1; i < argc; i++)
        if (strncmp(argv[i], "--count=", 8) == 0)
            return count_case(argv[i] + 8);
    for (const bench_case &c : all_cases()) {
        benchmark::RegisterBenchmark(c.name.c_str(), [c](benchmark::State &state) {
            c.logging();
            body once = c.make();
            for (auto _ : state)
                once();
            state.SetItemsProcessed(state.iterations());
        });
    }
    benchmark::Initialize(&argc, argv);
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
