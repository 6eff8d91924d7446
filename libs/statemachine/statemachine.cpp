#include "statemachine.h"

#include <cerrno>
#include <cstdlib>

#include "log.h"

statemachine *statemachine_create(void *p, int32_t state, const statemachine_transition *table,
                                  int32_t num_rows, statemachine_send_event send_event,
                                  statemachine_log_event log_event)
{
    statemachine *sm = (statemachine *)calloc(1, sizeof *sm);
    if (!sm)
        return nullptr;
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) {
        free(sm);
        return nullptr;
    }
    int rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
    if (rc == 0)
        rc = pthread_mutex_init(&sm->lock, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        free(sm);
        return nullptr;
    }
    sm->p = p;
    sm->state = state;
    sm->table = table;
    sm->num_rows = table ? num_rows : 0;
    sm->send_event = send_event;
    sm->log_event = log_event;
    log_msg_debug(5, STATEMACHINE, __FILE__, __LINE__, __func__, nullptr,
                  "Creating statemachine with state %d ...", state);
    return sm;
}

void statemachine_destroy(statemachine *sm)
{
    if (!sm)
        return;
    log_msg_debug(5, STATEMACHINE, __FILE__, __LINE__, __func__, nullptr,
                  "Destroying statemachine at state %d ...", sm->state);
    pthread_mutex_destroy(&sm->lock);
    free(sm);
}

static bool row_applies(const statemachine_transition &row, int32_t s, int32_t event)
{
    if (row.state != SM_ANY && (row.state & s) == 0)
        return false;
    return row.event == SM_ANY || row.event == event;
}

int32_t statemachine_run(statemachine *sm, int32_t event, void *arg)
{
    if (!sm)
        return -1;
    int rc = pthread_mutex_lock(&sm->lock);
    if (rc != 0) {
        // EDEADLK: this thread is running the machine further up its stack.
        // The event is dropped and the outer run keeps the lock.
        if (rc == EDEADLK && sm->log_event)
            sm->log_event(sm->p, arg, SM_LOG_REFUSED, 0, 0);
        return -1;
    }

    int32_t result = -1;
    bool stop_after_row = false;
    const int32_t s = sm->state;
    if (sm->log_event)
        sm->log_event(sm->p, arg, SM_LOG_EVENT_IN, s, event);

    for (int32_t i = 0; i < sm->num_rows; i++) {
        const statemachine_transition &row = sm->table[i];
        if (!row_applies(row, s, event))
            continue;

        int32_t out = row.event_out;
        if (row.handle) {
            statemachine_handle_retval rv = row.handle(sm->p, arg, sm->state, event);
            if (rv.event != SM_ROW_EVENT)
                out = rv.event;
            if (rv.state != SM_NO_DECISION) {
                result = 0;
                if (rv.state != SM_KEEP_STATE && rv.state != SM_HANDLED)
                    sm->state = rv.state;
                if (rv.state != SM_HANDLED)
                    stop_after_row = true;
            }
        }

        if (out == SM_STOP_SCAN) {
            result = 0;
            break;
        }
        if (out != SM_NO_EVENT) {
            if (sm->log_event)
                sm->log_event(sm->p, arg, SM_LOG_EVENT_OUT, sm->state, out);
            int32_t sent = sm->send_event ? sm->send_event(sm->p, arg, out) : 0;
            if (sent != 0) {
                result = sent;
                break;
            }
        }
        if (stop_after_row)
            break;
        if (row.state_next == SM_NEXT_ROW)
            continue;
        if (row.state_next != SM_KEEP_STATE)
            sm->state = row.state_next;
        result = 0;
        break;
    }

    pthread_mutex_unlock(&sm->lock);
    return result;
}

int32_t statemachine_get_state(const statemachine *sm)
{
    return sm ? sm->state : -1;
}

// Takes the machine's lock unless this thread already holds it (an action of
// the machine itself). Returns whether the caller must release it.
static bool lock_unless_own(statemachine *sm)
{
    return pthread_mutex_lock(&sm->lock) == 0;
}

void statemachine_set_state(statemachine *sm, int32_t state)
{
    if (!sm)
        return;
    bool locked = lock_unless_own(sm);
    sm->state = state;
    if (locked)
        pthread_mutex_unlock(&sm->lock);
}

void *statemachine_get_priv(statemachine *sm)
{
    if (!sm)
        return nullptr;
    bool locked = lock_unless_own(sm);
    void *p = sm->p;
    if (locked)
        pthread_mutex_unlock(&sm->lock);
    return p;
}

const statemachine_transition *statemachine_get_table(statemachine *sm)
{
    if (!sm)
        return nullptr;
    bool locked = lock_unless_own(sm);
    const statemachine_transition *t = sm->table;
    if (locked)
        pthread_mutex_unlock(&sm->lock);
    return t;
}
