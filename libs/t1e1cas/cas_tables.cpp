// The signalling tables, one row per row of the line states they implement,
// and the runner of their steps.
#include "cas_tables.h"

#include <cstring>
#include <unistd.h>

namespace {

#define WRITE(bits) {OP_WRITE, 0, bits}
#define STATE(s) {OP_STATE, CAS_STATE_##s, nullptr}
#define DIRECTION(d) {OP_DIRECTION, CAS_DIRECTION_##d, nullptr}
#define IN_USE(v) {OP_IN_USE, v, nullptr}
#define REPORT(e) {OP_REPORT, CAS_EVENT_##e, nullptr}
#define REPORT_IN_USE(e) {OP_REPORT_IN_USE, CAS_EVENT_##e, nullptr}
#define WAIT_MS(ms) {OP_WAIT_MS, ms, nullptr}
#define PRINT(text) {OP_PRINT, 0, text}
#define STOP_TIMER {OP_STOP_TIMER, 0, nullptr}
#define ARM_ONHOOK_TIMER {OP_ARM_ONHOOK_TIMER, 0, nullptr}
#define QUEUE_RINGING {OP_QUEUE_RINGING, 0, nullptr}
#define CLEAR_E1 {OP_CLEAR_E1, 0, nullptr}
#define IGNORING {OP_PRINT_IGNORING, 0, nullptr}
#define RECEIVED {OP_PRINT_RECEIVED, 0, nullptr}
#define ILLEGAL {OP_PRINT_ILLEGAL, 0, nullptr}

const int IDLE = CAS_STATE_T1_IDLE, RINGING_IN = CAS_STATE_T1_RINGING_INBOUND,
          RINGING_OUT = CAS_STATE_T1_RINGING_OUTBOUND, OFFHOOK = CAS_STATE_T1_OFFHOOK;
const int E1_UNKNOWN = CAS_STATE_UNKNOWN, E1_IDLE = CAS_STATE_E1_IDLE, E1_SEIZE = CAS_STATE_E1_SEIZE,
          E1_ACK = CAS_STATE_E1_SEIZE_ACKNOWLEDGED, E1_CONNECTED = CAS_STATE_E1_CONNECTED;

// T1 FXO-KS, the far end rings the gateway: lines read.
const cas_row fxoks_receive_rows[] = {
    {IDLE, 0, "0000", {PRINT("HO1\n"), STATE(T1_RINGING_INBOUND), DIRECTION(INBOUND), REPORT_IN_USE(RINGING)}},
    {IDLE, 0, nullptr, {}},
    {RINGING_IN, 0, "0101", {PRINT("HO2\n"), ARM_ONHOOK_TIMER}}, // ring pause
    {RINGING_IN, 0, "0000", {PRINT("stopping timer1\n"), STOP_TIMER}}, // ring again
    {RINGING_IN, 0, nullptr, {}},
    {OFFHOOK, 0, "1111", {PRINT("HO3\n"), REPORT(ONHOOK), STATE(T1_IDLE), DIRECTION(NONE)}},
    {OFFHOOK, 0, nullptr, {RECEIVED}},
    {ANY_STATE, 0, nullptr, {ILLEGAL}},
};

// T1 FXS-KS, the gateway rings a telephone set: lines read. An answer ends
// the ring cadence at once (the timer is stopped here as well).
const cas_row fxsks_receive_rows[] = {
    {IDLE, 0, "1111", {STATE(T1_OFFHOOK), DIRECTION(INBOUND), REPORT_IN_USE(OFFHOOK)}},
    {RINGING_OUT, 0, "1111", {STOP_TIMER, REPORT(OFFHOOK), IN_USE(1), DIRECTION(OUTBOUND), STATE(T1_OFFHOOK)}},
    {RINGING_OUT, 0, nullptr, {RECEIVED}},
    {OFFHOOK, 0, "0101", {REPORT(ONHOOK), IN_USE(0), STATE(T1_IDLE), DIRECTION(NONE)}},
    {OFFHOOK, 0, nullptr, {RECEIVED}},
};

// E1 MFC/R2 line signalling: lines read (only '0' and '1' get here).
const cas_row e1_receive_rows[] = {
    {E1_UNKNOWN, 0, "1001", {WRITE("1101"), WAIT_MS(1), WRITE("1001"), STATE(E1_IDLE)}},
    {E1_UNKNOWN, 0, nullptr, {}},
    {E1_IDLE, 0, "0001", {IN_USE(1), DIRECTION(INBOUND), STATE(E1_SEIZE)}}, // far end seizes
    {E1_IDLE, 0, nullptr, {}},
    {E1_SEIZE, 0, "1101", {STATE(E1_SEIZE_ACKNOWLEDGED)}},
    {E1_SEIZE, 0, "1001", {IN_USE(0), DIRECTION(NONE), WRITE("1001"), STATE(E1_IDLE)}},
    {E1_SEIZE, 0, nullptr, {}},
    {E1_ACK, 0, "0101", {STATE(E1_CONNECTED)}}, // answer
    {E1_ACK, 0, "1001", {IN_USE(0), DIRECTION(NONE), WRITE("1001"), STATE(E1_IDLE)}},
    {E1_ACK, 0, nullptr, {}},
    {E1_CONNECTED, 0, "1101", {IN_USE(0), DIRECTION(NONE), WRITE("1001"), STATE(E1_IDLE)}}, // clear-back
    {E1_CONNECTED, 0, "1001", {IN_USE(0), DIRECTION(NONE), WRITE("1001"), STATE(E1_IDLE)}},
    {E1_CONNECTED, 0, nullptr, {}},
    {ANY_STATE, 0, "1001", {DIRECTION(NONE), STATE(E1_IDLE)}},
    {ANY_STATE, 0, nullptr, {PRINT("OIOIOI")}},
};

// T1 FXO-KS: call control's events (the gateway is the telephone side).
const cas_row fxoks_send_rows[] = {
    {IDLE, CAS_EVENT_OFFHOOK, nullptr, {DIRECTION(OUTBOUND), IN_USE(1), STATE(T1_OFFHOOK), WRITE("1111")}},
    {IDLE, CAS_EVENT_ONHOOK, nullptr, {DIRECTION(NONE), IN_USE(0), WRITE("0101")}},
    {IDLE, ANY_EVENT, nullptr, {IGNORING}},
    {RINGING_IN, CAS_EVENT_OFFHOOK, nullptr, {WRITE("1111"), STATE(T1_OFFHOOK), PRINT("stopping timer2\n"), STOP_TIMER}},
    {RINGING_IN, CAS_EVENT_ONHOOK, nullptr, {IN_USE(0), WRITE("0101"), STATE(T1_IDLE)}},
    {RINGING_IN, ANY_EVENT, nullptr, {IGNORING}},
    {OFFHOOK, CAS_EVENT_ONHOOK, nullptr, {IN_USE(0), WRITE("0101"), DIRECTION(NONE), STATE(T1_IDLE)}},
    {OFFHOOK, ANY_EVENT, nullptr, {IGNORING}},
};

// T1 FXS-KS: call control's events (the gateway is the exchange side).
const cas_row fxsks_send_rows[] = {
    {IDLE, CAS_EVENT_RINGING_START, nullptr,
     {DIRECTION(OUTBOUND), STATE(T1_RINGING_OUTBOUND), IN_USE(1), PRINT("START RINGING"), QUEUE_RINGING}},
    {IDLE, CAS_EVENT_ONHOOK, nullptr, {DIRECTION(NONE), IN_USE(0), WRITE("0101")}},
    {IDLE, ANY_EVENT, nullptr, {IGNORING}},
    {RINGING_OUT, CAS_EVENT_RINGING, nullptr, {WRITE("0000")}},
    {RINGING_OUT, CAS_EVENT_RINGING_PAUSE, nullptr, {WRITE("0101")}},
    {RINGING_OUT, CAS_EVENT_ONHOOK, nullptr, {IN_USE(0), WRITE("0101"), STOP_TIMER, DIRECTION(NONE), STATE(T1_IDLE)}},
    {RINGING_OUT, ANY_EVENT, nullptr, {IGNORING}},
    // release towards the set; the port stays off hook until the set hangs up
    {OFFHOOK, CAS_EVENT_ONHOOK, nullptr, {WRITE("1111"), DIRECTION(NONE), WAIT_MS(10), IN_USE(0), WRITE("0101")}},
    {OFFHOOK, ANY_EVENT, nullptr, {IGNORING}},
};

// E1 MFC/R2, a call the far end started.
const cas_row e1_inbound_rows[] = {
    {E1_SEIZE, CAS_EVENT_SEIZE_ACKNOWLEDGE, nullptr, {WRITE("1101"), STATE(E1_SEIZE_ACKNOWLEDGED)}},
    {E1_ACK, CAS_EVENT_OFFHOOK, nullptr, {WRITE("0101"), STATE(E1_CONNECTED)}}, // answer
    {E1_CONNECTED, CAS_EVENT_SEIZE_ACKNOWLEDGE, nullptr, {WRITE("1001"), STATE(E1_IDLE)}},
    {ANY_STATE, CAS_EVENT_ONHOOK, nullptr, {WRITE("1101"), WAIT_MS(50), CLEAR_E1}}, // clear-back
    {ANY_STATE, ANY_EVENT, nullptr, {PRINT("UNKNOWN E1 CAS EVENT INBOUND\n")}},
};

// E1 MFC/R2, a call the gateway started.
const cas_row e1_outbound_rows[] = {
    {E1_IDLE, CAS_EVENT_SEIZE, nullptr, {WRITE("0001"), STATE(E1_SEIZE)}},
    {E1_SEIZE, CAS_EVENT_ONHOOK, nullptr, {CLEAR_E1}}, // clear forward
    {E1_ACK, CAS_EVENT_ONHOOK, nullptr, {CLEAR_E1}},
    {E1_CONNECTED, CAS_EVENT_ONHOOK, nullptr, {CLEAR_E1}},
    {ANY_STATE, CAS_EVENT_ONHOOK, nullptr, {WRITE("1101"), WAIT_MS(50), CLEAR_E1}},
    {ANY_STATE, ANY_EVENT, nullptr, {PRINT("UNKNOWN E1 CAS EVENT OUTBOUND\n")}},
};

#define TABLE(rows) {rows, sizeof rows / sizeof rows[0]}

void run_steps(cas_guard &lk, int port, const cas_step *steps, const char *line)
{
    for (int i = 0; i < CAS_STEPS && steps[i].op != OP_END; i++) {
        const cas_step &s = steps[i];
        switch (s.op) {
        case OP_DIRECTION:
            cas_ctl.direction[port] = s.value;
            break;
        case OP_IN_USE:
            cas_ctl.in_use[port] = s.value;
            break;
        case OP_WRITE:
            cas_write_locked(port, s.text);
            break;
        case OP_STATE:
            cas_ctl.port_state[port] = s.value;
            break;
        case OP_STOP_TIMER:
            cas_timer_stop(port);
            break;
        case OP_ARM_ONHOOK_TIMER:
            cas_timer_arm(port, 4, 500000, CAS_TIMER_EVENT_ONHOOK);
            break;
        case OP_WAIT_MS:
            usleep((useconds_t)s.value * 1000);
            break;
        case OP_REPORT:
            cas_report(lk, port, s.value);
            break;
        case OP_REPORT_IN_USE:
            if (cas_report(lk, port, s.value))
                cas_ctl.in_use[port] = 1;
            break;
        case OP_QUEUE_RINGING:
            cas_add_task(port, CAS_EVENT_RINGING);
            break;
        case OP_CLEAR_E1:
            cas_write_locked(port, "1001");
            cas_ctl.direction[port] = CAS_DIRECTION_NONE;
            cas_ctl.port_state[port] = CAS_STATE_E1_IDLE;
            cas_ctl.in_use[port] = 0;
            break;
        case OP_PRINT:
            cas_print("%s", s.text);
            break;
        case OP_PRINT_IGNORING:
            cas_print("IGNORING %s\n", cas_print_port_state(cas_ctl.port_state[port]));
            break;
        case OP_PRINT_RECEIVED:
            cas_print("RECEIVED |%s|\n", line ? line : "");
            break;
        case OP_PRINT_ILLEGAL:
            cas_print("ILLEGAL STATE %i\n", cas_ctl.port_state[port]);
            break;
        case OP_END:
            break;
        }
    }
}

bool state_matches(const cas_row &r, int port)
{
    return r.state == ANY_STATE || r.state == cas_ctl.port_state[port];
}

} // namespace

const cas_table cas_fxoks_receive = TABLE(fxoks_receive_rows);
const cas_table cas_fxsks_receive = TABLE(fxsks_receive_rows);
const cas_table cas_e1_receive_table = TABLE(e1_receive_rows);
const cas_table cas_fxoks_send = TABLE(fxoks_send_rows);
const cas_table cas_fxsks_send = TABLE(fxsks_send_rows);
const cas_table cas_e1_inbound_send = TABLE(e1_inbound_rows);
const cas_table cas_e1_outbound_send = TABLE(e1_outbound_rows);

bool cas_run_send_table(cas_guard &lk, const cas_table &t, int port, int event)
{
    for (size_t i = 0; i < t.count; i++) {
        const cas_row &r = t.rows[i];
        if (state_matches(r, port) && (r.event == ANY_EVENT || r.event == event)) {
            run_steps(lk, port, r.steps, nullptr);
            return true;
        }
    }
    return false;
}

bool cas_run_receive_table(cas_guard &lk, const cas_table &t, int port, const char *line)
{
    for (size_t i = 0; i < t.count; i++) {
        const cas_row &r = t.rows[i];
        if (state_matches(r, port) && (!r.line || strcmp(r.line, line) == 0)) {
            run_steps(lk, port, r.steps, line);
            return true;
        }
    }
    return false;
}
