// Table-driven state machine engine. The engine owns no table: the owner
// (a call or a registration) hands in a constant table of rows, a callback
// that delivers outgoing events and an optional tracing hook, and feeds one
// event at a time through statemachine_run.
//
// A state is a single bit of the state word, so one row can name several
// states by a mask. Rows are matched in table order.
#pragma once
#include <pthread.h>

#include <cstdint>

// Marker values. They are the same numbers in every table and never a real
// state or event word; the names say what each field makes of them.
enum {
    SM_ANY = -4,          // row state / row event: any state, any event
    SM_NO_DECISION = -1,  // action state: the row's state_next applies
    SM_ROW_EVENT = -1,    // action event: send the row's event_out
    SM_NEXT_ROW = -2,     // row state_next: go on with the next row
    SM_HANDLED = -2,      // action state: handled, state word unchanged, state_next applies
    SM_STOP_SCAN = -2,    // event_out / action event: stop the scan at once
    SM_KEEP_STATE = -3,   // row state_next / action state: stop, keep the state
    SM_NO_EVENT = -3      // event_out / action event: send nothing
};

// Kinds handed to the tracing hook.
enum {
    SM_LOG_EVENT_IN = 0,   // event received
    SM_LOG_EVENT_OUT = 1,  // outgoing event about to be sent
    SM_LOG_REFUSED = 2     // run refused: this thread is already running the machine
};

struct statemachine_handle_retval {
    int32_t state;
    int32_t event;
};

typedef statemachine_handle_retval (*statemachine_handle)(void *p, void *arg, int32_t state,
                                                          int32_t event);
typedef int32_t (*statemachine_send_event)(void *p, void *arg, int32_t event);
typedef void (*statemachine_log_event)(void *p, void *arg, int kind, int32_t state, int32_t event);

struct statemachine_transition {
    int32_t state;       // mask of states the row applies in, or SM_ANY
    int32_t event;       // event word the row applies to, or SM_ANY
    int32_t state_next;  // SM_NEXT_ROW, SM_KEEP_STATE or the state to enter
    int32_t event_out;   // SM_NO_EVENT, SM_STOP_SCAN or the event to send
    statemachine_handle handle; // may be null
};

struct statemachine {
    pthread_mutex_t lock; // error-checking: a thread already holding it is refused
    void *p;              // owner, handed to every action and callback
    volatile int32_t state;
    const statemachine_transition *table;
    int32_t num_rows;
    statemachine_send_event send_event;
    statemachine_log_event log_event; // may be null
};

// New machine in the given state, or null when memory is short or the mutex
// kind cannot be set. The table is not copied.
statemachine *statemachine_create(void *p, int32_t state, const statemachine_transition *table,
                                  int32_t num_rows, statemachine_send_event send_event,
                                  statemachine_log_event log_event);

// Feeds one event through the machine; arg goes unchanged to every action
// and callback. Returns 0 when a row ended the scan or an action decided a
// state, -1 when nothing applied or the run was refused (re-entry from the
// same thread), or the non-zero result of send_event.
int32_t statemachine_run(statemachine *sm, int32_t event, void *arg);

// Frees the machine (nothing for null). The owner calls it only when no run
// of the machine is in progress.
void statemachine_destroy(statemachine *sm);

int32_t statemachine_get_state(const statemachine *sm);

// Stores a state under the machine's lock, waiting for a run in another
// thread to end. Called from an action of this very machine it stores the
// state without waiting (the run in progress holds the lock).
void statemachine_set_state(statemachine *sm, int32_t state);

void *statemachine_get_priv(statemachine *sm);
const statemachine_transition *statemachine_get_table(statemachine *sm);
