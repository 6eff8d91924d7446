// The CAS task list and its dispatcher thread "tarn.cashelper", the ring
// cadence towards telephone sets, and the per-port timers that drive it and
// the inbound on-hook detection.
#include "cas_internal.h"
#include "log.h"
#include "timer.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <sys/prctl.h>

std::atomic<kv_timer *> cas_onhook_timers[CAS_PORT_TABLE];
std::atomic<bool> cas_stopping{false};

namespace {

struct cas_task {
    int port;
    int event;
    cas_task *next;
};

// The task list: a static record with its mutex, so it exists before any
// thread or caller can queue a task. The timer callback adds to it while the timer service
// holds its list lock; nothing here calls the timer service with `lock` held.
struct cas_task_list {
    cas_task *first;
    cas_task *last;
    pthread_mutex_t lock;
    pthread_cond_t wake; // signalled when a task is added
};

cas_task_list headctrunlist = {nullptr, nullptr, PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER};
std::atomic<bool> dispatcher_started{false};
pthread_t dispatcher;

// Longest idle wait of the dispatcher before it looks at the list again.
const long DISPATCH_POLL_NS = 10 * 1000 * 1000;

cas_task *take_task()
{
    pthread_mutex_lock(&headctrunlist.lock);
    if (!headctrunlist.first && !cas_stopping.load()) {
        struct timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += DISPATCH_POLL_NS;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec++;
            until.tv_nsec -= 1000000000L;
        }
        pthread_cond_timedwait(&headctrunlist.wake, &headctrunlist.lock, &until);
    }
    cas_task *t = headctrunlist.first;
    if (t) {
        headctrunlist.first = t->next;
        if (!headctrunlist.first)
            headctrunlist.last = nullptr;
    }
    pthread_mutex_unlock(&headctrunlist.lock);
    return t;
}

int32_t cb_cas_onhook_timer_event(int32_t event, kv_timer *timer)
{
    int port = 0;
    for (int p = CAS_PORT_MIN; p <= CAS_PORT_MAX && !port; p++)
        if (cas_onhook_timers[p].load() == timer)
            port = p;
    if (!port)
        return 0;
    cas_print("EVENTTIMER1");
    if (event == CAS_TIMER_EVENT_ONHOOK)
        cas_add_task(port, CAS_EVENT_INBOUND_RINGING_ONHOOK);
    else if (event == CAS_TIMER_EVENT_RING || event == CAS_TIMER_EVENT_RINGOFF)
        cas_add_task(port, event);
    cas_print("EVENTTIMER2");
    return 0; // one-shot: re-armed by the dispatcher or the read thread
}

bool port_for_cadence(int port, int event)
{
    if (!cas_port_open(port)) {
        cas_no_ctrl(port, event);
        return false;
    }
    return true;
}

void run_task(const cas_task &task)
{
    if (!cas_callback.load())
        return;
    int port = task.port;
    cas_guard lk(cas_lock);
    switch (task.event) {
    case CAS_EVENT_RINGING: // start of ringing
        if (!port_for_cadence(port, task.event))
            return;
        cas_sender(lk, port, CAS_EVENT_RINGING);
        cas_timer_arm(port, 2, 0, CAS_TIMER_EVENT_RINGOFF);
        break;
    case CAS_TIMER_EVENT_RING:
    case CAS_TIMER_EVENT_RINGOFF:
        if (!port_for_cadence(port, task.event))
            return;
        // A set that answered or a call that ended takes the port out of
        // ringing: the cadence ends there, with no further caller-id.
        if (cas_ctl.port_state[port] != CAS_STATE_T1_RINGING_OUTBOUND)
            return;
        if (task.event == CAS_TIMER_EVENT_RING) {
            cas_timer_arm(port, 2, 0, CAS_TIMER_EVENT_RINGOFF);
            cas_sender(lk, port, CAS_EVENT_RINGING);
        } else {
            cas_timer_arm(port, 4, 0, CAS_TIMER_EVENT_RING);
            cas_sender(lk, port, CAS_EVENT_RINGING_PAUSE);
            cas_report(lk, port, CAS_EVENT_GENERATE_CID);
        }
        break;
    case CAS_EVENT_INBOUND_RINGING_ONHOOK:
        // Only a port still ringing: an answer that came in meanwhile stands.
        if (!cas_port_open(port) || cas_ctl.port_state[port] != CAS_STATE_T1_RINGING_INBOUND)
            return;
        cas_report(lk, port, CAS_EVENT_ONHOOK);
        cas_ctl.port_state[port] = CAS_STATE_T1_IDLE;
        cas_ctl.in_use[port] = 0;
        cas_ctl.direction[port] = CAS_DIRECTION_NONE;
        break;
    default:
        break;
    }
}

void *cas_dispatcher_thread(void *)
{
    prctl(PR_SET_NAME, "tarn.cashelper", 0, 0, 0);
    while (!cas_stopping.load()) {
        cas_task *t = take_task();
        if (!t)
            continue;
        run_task(*t);
        delete t;
    }
    return nullptr;
}

} // namespace

void cas_add_task(int port, int event)
{
    cas_task *t = new cas_task{port, event, nullptr};
    pthread_mutex_lock(&headctrunlist.lock);
    if (headctrunlist.last)
        headctrunlist.last->next = t;
    else
        headctrunlist.first = t;
    headctrunlist.last = t;
    pthread_cond_signal(&headctrunlist.wake);
    pthread_mutex_unlock(&headctrunlist.lock);
}

int start_cas_dispatcher_thread()
{
    if (dispatcher_started.exchange(true))
        return 0;
    if (pthread_create(&dispatcher, nullptr, cas_dispatcher_thread, nullptr) != 0) {
        dispatcher_started = false;
        return -1;
    }
    return 0;
}

void cas_stop_dispatcher()
{
    if (!dispatcher_started.exchange(false))
        return;
    pthread_mutex_lock(&headctrunlist.lock);
    pthread_cond_broadcast(&headctrunlist.wake);
    pthread_mutex_unlock(&headctrunlist.lock);
    tarn_join_thread(dispatcher, "tarn.cashelper");
}

void cas_remove_timers()
{
    // A pass running now finds no owner for the node and does nothing;
    // timer_remove waits for that pass to end before it frees the node.
    for (int port = CAS_PORT_MIN; port <= CAS_PORT_MAX; port++)
        if (kv_timer *t = cas_onhook_timers[port].exchange(nullptr))
            timer_remove(t);
}

void cas_drop_tasks()
{
    pthread_mutex_lock(&headctrunlist.lock);
    cas_task *t = headctrunlist.first;
    headctrunlist.first = headctrunlist.last = nullptr;
    pthread_mutex_unlock(&headctrunlist.lock);
    while (t) {
        cas_task *next = t->next;
        delete t;
        t = next;
    }
}

void cas_timer_arm(int port, long sec, long usec, int timer_event)
{
    if (!cas_port_in_range(port))
        return;
    kv_timer *t = cas_onhook_timers[port].load();
    if (t) {
        timer_reset_interval_and_event(t, sec, usec, timer_event);
        return;
    }
    t = static_cast<kv_timer *>(calloc(1, sizeof(kv_timer)));
    if (!t)
        return;
    t->tv.tv_sec = sec;
    t->tv.tv_usec = usec;
    cas_onhook_timers[port] = t;
    if (timer_add(cb_cas_onhook_timer_event, timer_event, t) < 0) {
        LOGD(CAS, 0, nullptr, "CRITICAL: cannot start the timer of CAS port %i", port);
        cas_onhook_timers[port] = nullptr;
        free(t);
    }
}

void cas_timer_stop(int port)
{
    if (!cas_port_in_range(port))
        return;
    kv_timer *t = cas_onhook_timers[port].load();
    if (t)
        timer_stop(t);
}

int cas_start_ringing(int port)
{
    cas_print("START RINGING");
    if (!cas_port_in_range(port)) {
        cas_no_ctrl(port, CAS_EVENT_RINGING);
        return 0;
    }
    cas_add_task(port, CAS_EVENT_RINGING);
    return 0;
}

int cas_stop_ringing(int port)
{
    cas_guard lk(cas_lock);
    cas_timer_stop(port);
    return 0;
}
