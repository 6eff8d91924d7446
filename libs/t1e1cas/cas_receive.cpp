// Receive steps: what a pattern line read from a channel does to its port,
// for T1 loop signalling (FXO-KS and FXS-KS) and for the MFC/R2 line
// signalling on E1.
#include "cas_tables.h"
#include "log.h"

#include <cstring>

namespace {

// Time stamps of the last recognised event count from this second.
const long LAST_EVENT_EPOCH = 1263100000;

// Trace classification of a T1 line; the event is only printed and kept.
int classify_t1(int port, const char *line)
{
    int event;
    if (strcmp(line, "1111") == 0) {
        cas_print("CBS OFFHOOK: %s\n", line);
        event = CAS_EVENT_OFFHOOK;
    } else if (strcmp(line, "0000") == 0) {
        cas_print("CBS RING: %s\n", line);
        event = CAS_EVENT_RINGING;
    } else if (strcmp(line, "0101") == 0) {
        cas_print("CBS ONHOOK: %s\n", line);
        event = CAS_EVENT_ONHOOK;
    } else if (line[0] == '\0') {
        cas_print("CBS IDLE: %s %s\n", line, cas_pattern_text(cas_pattern_of(line)));
        event = CAS_EVENT_IDLE;
    } else {
        cas_print("UNKNOWN BIN STRING |%s|\n", line);
        event = CAS_EVENT_UNKNOWN;
    }
    cas_print("READ %i:%s\nEVENT: %i %s\n\n", port, line, event, cas_event_to_text(nullptr, event));
    struct timeval now;
    gettimeofday(&now, nullptr);
    now.tv_sec -= LAST_EVENT_EPOCH;
    cas_ctl.cas_last_event[port] = event;
    cas_ctl.cas_last_event_time[port] = now;
    return event;
}

// The transitions of an E1 port that are reported, and with which event.
const struct {
    int from, to, event;
} e1_reported[] = {
    {CAS_STATE_E1_IDLE, CAS_STATE_E1_SEIZE, CAS_EVENT_SEIZE},
    {CAS_STATE_E1_SEIZE, CAS_STATE_E1_SEIZE_ACKNOWLEDGED, CAS_EVENT_DIAL_OUTBOUND},
    {CAS_STATE_E1_SEIZE_ACKNOWLEDGED, CAS_STATE_E1_CONNECTED, CAS_EVENT_OFFHOOK},
    {CAS_STATE_E1_SEIZE_ACKNOWLEDGED, CAS_STATE_E1_IDLE, CAS_EVENT_ONHOOK},
    {CAS_STATE_E1_CONNECTED, CAS_STATE_E1_IDLE, CAS_EVENT_ONHOOK},
};

void t1_receive(cas_guard &lk, int port, const char *line)
{
    classify_t1(port, line);
    if (cas_ctl.port_state[port] == CAS_STATE_UNKNOWN && strcmp(line, "0101") == 0) {
        cas_ctl.port_state[port] = CAS_STATE_T1_IDLE;
        cas_ctl.direction[port] = CAS_DIRECTION_NONE;
        cas_ctl.in_use[port] = 0;
    }
    if (cas_ctl.signalling[port] == CAS_SIGNALLING_T1_FXOKS)
        cas_run_receive_table(lk, cas_fxoks_receive, port, line);
    else
        cas_run_receive_table(lk, cas_fxsks_receive, port, line);
}

void e1_receive(cas_guard &lk, int port, const char *line)
{
    if (line[strspn(line, "01")] != '\0') {
        cas_ctl.port_state[port] = CAS_STATE_UNKNOWN;
        return;
    }
    log_msg_cas(port, 1, "%s:%s\n", cas_direction_text(port), line);
    int old_state = cas_ctl.port_state[port];
    cas_run_receive_table(lk, cas_e1_receive_table, port, line);
    int new_state = cas_ctl.port_state[port];
    cas_print("OLD STATE PORT %i: READ  %i: %s\n", port, old_state, cas_print_port_state(old_state));
    cas_print("NEW STATE PORT %i: READ %i: %s\n", port, new_state, cas_print_port_state(new_state));
    for (const auto &t : e1_reported)
        if (t.from == old_state && t.to == new_state)
            cas_report(lk, port, t.event);
}

} // namespace

void cas_receive(cas_guard &lk, int port, const char *line)
{
    switch (cas_ctl.signalling[port]) {
    case CAS_SIGNALLING_T1_FXSKS:
    case CAS_SIGNALLING_T1_FXOKS:
        cas_print("RUNPRE");
        t1_receive(lk, port, line);
        cas_print("RUNPOST");
        break;
    case CAS_SIGNALLING_E1_MFCR2:
        cas_print("PROCESSING  E1 READ PORT %i |%s|\n", port, line);
        e1_receive(lk, port, line);
        break;
    default:
        break;
    }
}
