// The signalling tables of the CAS library: for each signalling type, what
// a line read (receive tables) or a call-control event (send tables) does
// in each port state, as a list of steps. The first row that matches state
// and input is run; ANY_STATE and a null line or ANY_EVENT match anything.
#pragma once
#include "cas_internal.h"

enum cas_op {
    OP_END = 0,
    OP_DIRECTION,        // direction = value
    OP_IN_USE,           // in_use = value
    OP_WRITE,            // write the pattern text
    OP_STATE,            // port state = value
    OP_STOP_TIMER,       // stop the port's timer
    OP_ARM_ONHOOK_TIMER, // (re-)arm the port's timer: 4.5 s, on hook
    OP_WAIT_MS,          // sleep value milliseconds
    OP_REPORT,           // callback with event value
    OP_REPORT_IN_USE,    // with a callback installed: callback, then in use
    OP_QUEUE_RINGING,    // queue the start-of-ringing task
    OP_CLEAR_E1,         // write idle, no direction, E1 idle, not in use
    OP_PRINT,            // the text on the trace
    OP_PRINT_IGNORING,   // "IGNORING <state name>"
    OP_PRINT_RECEIVED,   // "RECEIVED |<line>|"
    OP_PRINT_ILLEGAL     // "ILLEGAL STATE <state>"
};

struct cas_step {
    cas_op op;
    int value;
    const char *text;
};

enum { ANY_STATE = -1, ANY_EVENT = -1, CAS_STEPS = 6 };

struct cas_row {
    int state;
    int event;        // send tables
    const char *line; // receive tables (null: any line)
    cas_step steps[CAS_STEPS];
};

struct cas_table {
    const cas_row *rows;
    size_t count;
};

extern const cas_table cas_fxoks_receive, cas_fxsks_receive, cas_e1_receive_table;
extern const cas_table cas_fxoks_send, cas_fxsks_send, cas_e1_inbound_send, cas_e1_outbound_send;

// Runs the first row of the table that matches the port's state and the
// event (send tables) or the line (receive tables); false when none does.
bool cas_run_send_table(cas_guard &lk, const cas_table &t, int port, int event);
bool cas_run_receive_table(cas_guard &lk, const cas_table &t, int port, const char *line);
