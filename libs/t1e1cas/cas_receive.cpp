// Receive steps: what a pattern line read from a channel does to its port,
// for T1 loop signalling (FXO-KS and FXS-KS) and for the MFC/R2 line
// signalling on E1.
#include "cas_internal.h"
#include "log.h"

#include <cstring>
#include <unistd.h>

namespace {

// Time stamps of the last recognised event count from this second.
const long LAST_EVENT_EPOCH = 1263100000;

void set_idle_t1(int port)
{
    cas_ctl.port_state[port] = CAS_STATE_T1_IDLE;
    cas_ctl.direction[port] = CAS_DIRECTION_NONE;
}

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

// The far end rings the gateway.
void fxoks_receive(cas_guard &lk, int port, const char *line)
{
    switch (cas_ctl.port_state[port]) {
    case CAS_STATE_T1_IDLE:
        if (strcmp(line, "0000") == 0) {
            cas_print("HO1\n");
            cas_ctl.port_state[port] = CAS_STATE_T1_RINGING_INBOUND;
            cas_ctl.direction[port] = CAS_DIRECTION_INBOUND;
            if (cas_report(lk, port, CAS_EVENT_RINGING)) {
                cas_print("HO1a\n");
                cas_ctl.in_use[port] = 1;
            }
        }
        break;
    case CAS_STATE_T1_RINGING_INBOUND:
        if (strcmp(line, "0101") == 0) {
            // a ring pause: without a further ring the caller has given up
            cas_print("HO2\n");
            cas_timer_arm(port, 4, 500000, CAS_TIMER_EVENT_ONHOOK);
        } else if (strcmp(line, "0000") == 0) {
            cas_print("stopping timer1\n");
            cas_timer_stop(port);
        }
        break;
    case CAS_STATE_T1_OFFHOOK:
        if (strcmp(line, "1111") == 0) {
            cas_print("HO3\n");
            cas_report(lk, port, CAS_EVENT_ONHOOK);
            set_idle_t1(port);
        } else {
            cas_print("RECEIVED |%s|\n", line);
        }
        break;
    default:
        cas_print("ILLEGAL STATE %i\n", cas_ctl.port_state[port]);
        break;
    }
}

// The gateway rings a telephone set.
void fxsks_receive(cas_guard &lk, int port, const char *line)
{
    switch (cas_ctl.port_state[port]) {
    case CAS_STATE_T1_IDLE:
        if (strcmp(line, "1111") == 0) {
            cas_ctl.port_state[port] = CAS_STATE_T1_OFFHOOK;
            cas_ctl.direction[port] = CAS_DIRECTION_INBOUND;
            if (cas_report(lk, port, CAS_EVENT_OFFHOOK))
                cas_ctl.in_use[port] = 1;
        }
        break;
    case CAS_STATE_T1_RINGING_OUTBOUND:
        if (strcmp(line, "1111") == 0) {
            // answered: the ring cadence ends here, not only when call
            // control gets round to stopping it
            cas_timer_stop(port);
            cas_report(lk, port, CAS_EVENT_OFFHOOK);
            cas_ctl.in_use[port] = 1;
            cas_ctl.direction[port] = CAS_DIRECTION_OUTBOUND;
            cas_ctl.port_state[port] = CAS_STATE_T1_OFFHOOK;
        } else {
            cas_print("RECEIVED |%s|\n", line);
        }
        break;
    case CAS_STATE_T1_OFFHOOK:
        if (strcmp(line, "0101") == 0) {
            cas_report(lk, port, CAS_EVENT_ONHOOK);
            cas_ctl.in_use[port] = 0;
            set_idle_t1(port);
        } else {
            cas_print("RECEIVED |%s|\n", line);
        }
        break;
    default:
        break;
    }
}

// Clears an E1 port after the far end's idle or clear-back.
int e1_to_idle(int port)
{
    cas_ctl.in_use[port] = 0;
    cas_ctl.direction[port] = CAS_DIRECTION_NONE;
    cas_write_locked(port, "1001");
    return CAS_STATE_E1_IDLE;
}

int e1_transition_event(int old_state, int new_state)
{
    if (old_state == CAS_STATE_E1_IDLE && new_state == CAS_STATE_E1_SEIZE)
        return CAS_EVENT_SEIZE;
    if (old_state == CAS_STATE_E1_SEIZE && new_state == CAS_STATE_E1_SEIZE_ACKNOWLEDGED)
        return CAS_EVENT_DIAL_OUTBOUND;
    if (old_state == CAS_STATE_E1_SEIZE_ACKNOWLEDGED && new_state == CAS_STATE_E1_CONNECTED)
        return CAS_EVENT_OFFHOOK;
    if ((old_state == CAS_STATE_E1_SEIZE_ACKNOWLEDGED || old_state == CAS_STATE_E1_CONNECTED) &&
        new_state == CAS_STATE_E1_IDLE)
        return CAS_EVENT_ONHOOK;
    return 0;
}

} // namespace

void cas_t1_receive(cas_guard &lk, int port, const char *line)
{
    classify_t1(port, line);
    if (cas_ctl.port_state[port] == CAS_STATE_UNKNOWN && strcmp(line, "0101") == 0) {
        set_idle_t1(port);
        cas_ctl.in_use[port] = 0;
    }
    if (cas_ctl.signalling[port] == CAS_SIGNALLING_T1_FXOKS)
        fxoks_receive(lk, port, line);
    else
        fxsks_receive(lk, port, line);
}

void cas_e1_receive(cas_guard &lk, int port, const char *line)
{
    if (line[strspn(line, "01")] != '\0') {
        cas_ctl.port_state[port] = CAS_STATE_UNKNOWN;
        return;
    }
    log_msg_cas(port, 1, "%s:%s\n", cas_direction_text(port), line);

    int old_state = cas_ctl.port_state[port];
    int new_state = old_state;
    bool idle = strcmp(line, "1001") == 0;
    switch (old_state) {
    case CAS_STATE_UNKNOWN:
        if (idle) {
            cas_write_locked(port, "1101");
            usleep(1000);
            cas_write_locked(port, "1001");
            new_state = CAS_STATE_E1_IDLE;
        }
        break;
    case CAS_STATE_E1_IDLE:
        if (strcmp(line, "0001") == 0) {
            cas_ctl.in_use[port] = 1;
            cas_ctl.direction[port] = CAS_DIRECTION_INBOUND;
            new_state = CAS_STATE_E1_SEIZE;
        }
        break;
    case CAS_STATE_E1_SEIZE:
        if (strcmp(line, "1101") == 0)
            new_state = CAS_STATE_E1_SEIZE_ACKNOWLEDGED;
        else if (idle)
            new_state = e1_to_idle(port);
        break;
    case CAS_STATE_E1_SEIZE_ACKNOWLEDGED:
        if (strcmp(line, "0101") == 0)
            new_state = CAS_STATE_E1_CONNECTED;
        else if (idle)
            new_state = e1_to_idle(port);
        break;
    case CAS_STATE_E1_CONNECTED:
        if (idle || strcmp(line, "1101") == 0)
            new_state = e1_to_idle(port);
        break;
    default:
        if (idle) {
            cas_ctl.direction[port] = CAS_DIRECTION_NONE;
            new_state = CAS_STATE_E1_IDLE;
        } else {
            cas_print("OIOIOI");
        }
        break;
    }
    cas_print("OLD STATE PORT %i: READ  %i: %s\n", port, old_state, cas_print_port_state(old_state));
    cas_print("NEW STATE PORT %i: READ %i: %s\n", port, new_state, cas_print_port_state(new_state));
    cas_ctl.port_state[port] = new_state;
    int event = e1_transition_event(old_state, new_state);
    if (event)
        cas_report(lk, port, event);
}

void cas_receive(cas_guard &lk, int port, const char *line)
{
    switch (cas_ctl.signalling[port]) {
    case CAS_SIGNALLING_T1_FXSKS:
    case CAS_SIGNALLING_T1_FXOKS:
        cas_print("RUNPRE");
        cas_t1_receive(lk, port, line);
        cas_print("RUNPOST");
        break;
    case CAS_SIGNALLING_E1_MFCR2:
        cas_print("PROCESSING  E1 READ PORT %i |%s|\n", port, line);
        cas_e1_receive(lk, port, line);
        break;
    default:
        break;
    }
}
