#include "timer.h"

#include <pthread.h>
#include <sys/prctl.h>
#include <sys/select.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "log.h"

namespace {

const long MAX_SECONDS = 2147481;

struct timer_service {
    pthread_mutex_t list_lock = PTHREAD_MUTEX_INITIALIZER;
    kv_timer *list_start = nullptr;
    kv_timer *list_end = nullptr;
    kv_timer *tail = nullptr; // last node before list_end (list_start when empty)

    pthread_t thread{};
    bool thread_running = false;
    std::atomic<bool> stop{false};

    // Bookkeeping of the pass in progress, touched only under list_lock.
    std::vector<kv_timer *> due; // expired this pass, callbacks pending
    kv_timer *calling = nullptr; // node whose callback runs now
    bool calling_gone = false;   // ... and which that callback removed
};

// Created on first use and never destroyed: the timer thread may still run
// while the process exits.
timer_service &svc()
{
    static timer_service *s = new timer_service();
    return *s;
}

// Set on the thread that runs a pass: operations called from its callbacks
// already hold list_lock.
thread_local bool in_pass = false;

#define TLOG(level, ...) log_msg_debug((level), TIMER, __FILE__, __LINE__, __func__, nullptr, __VA_ARGS__)

struct list_guard {
    bool locked;
    explicit list_guard(bool take) : locked(take && !in_pass)
    {
        if (locked)
            pthread_mutex_lock(&svc().list_lock);
    }
    ~list_guard()
    {
        if (locked)
            pthread_mutex_unlock(&svc().list_lock);
    }
    list_guard(const list_guard &) = delete;
    list_guard &operator=(const list_guard &) = delete;
};

// Period of sec/usec in milliseconds; -1 when the seconds are out of range.
int32_t period_ms(long sec, long usec)
{
    if (sec > MAX_SECONDS) {
        TLOG(1, "CRITICAL: timer value to large -- sec %li usec %li!", sec, usec);
        return -1;
    }
    long long ms = (long long)sec * 1000 + usec / 1000;
    if (ms > INT32_MAX || ms < INT32_MIN)
        return -1;
    return (int32_t)ms;
}

// The node before t in the list, or null when t is not listed.
kv_timer *find_pred(kv_timer *t)
{
    timer_service &s = svc();
    if (!s.list_start || !t)
        return nullptr;
    for (kv_timer *p = s.list_start; p != s.list_end; p = p->next)
        if (p->next == t && t != s.list_end)
            return p;
    return nullptr;
}

// An operation from a callback on a node that expired in the same pass
// decides that node's fate: its pending callback is dropped.
void forget_due(kv_timer *t)
{
    if (!in_pass)
        return;
    for (kv_timer *&d : svc().due)
        if (d == t)
            d = nullptr;
}

void *timer_thread(void *)
{
    prctl(PR_SET_NAME, "tarn.timer", 0, 0, 0);
    timer_service &s = svc();
    while (!s.stop.load()) {
        struct timeval tv = {0, TIMER_TICK_MS * 1000};
        // A signal must not shorten the tick: select leaves the rest in tv.
        while (select(0, nullptr, nullptr, nullptr, &tv) < 0 && errno == EINTR)
            ;
        if (s.stop.load())
            break;
        timer_pass();
    }
    return nullptr;
}

int remove_node(kv_timer *t, bool take_lock)
{
    timer_service &s = svc();
    list_guard g(take_lock);
    kv_timer *pred = find_pred(t);
    if (!pred) {
        TLOG(1, "CRITICAL: list: timer(%p) not found!", (void *)t);
        return -1;
    }
    TLOG(5, "match: timer(%p) list_element(%p)", (void *)t, (void *)pred->next);
    pred->next = t->next;
    if (s.tail == t)
        s.tail = pred;
    forget_due(t);
    if (in_pass && s.calling == t)
        s.calling_gone = true;
    free(t);
    return 0;
}

int reset_node(kv_timer *t, long sec, long usec, const int32_t *event)
{
    int32_t ms = period_ms(sec, usec);
    if (ms < TIMER_TICK_MS) {
        TLOG(0, "CRITICAL: event interval too short or too large, is %i ms -- must be > %i ms!", ms,
             (int)TIMER_TICK_MS);
        return -1;
    }
    int32_t ticks = ms / TIMER_TICK_MS;
    {
        list_guard g(true);
        if (!find_pred(t)) {
            TLOG(1, "CRITICAL: list: timer(%p) not found!", (void *)t);
            return -1;
        }
        t->interval = ticks;
        t->interval_save = ticks;
        if (event)
            t->event = *event;
        forget_due(t);
    }
    TLOG(8, "leaving function for timer(%p) -- interval now %i msec -- %i ticks", (void *)t, ms,
         ticks);
    return 0;
}

} // namespace

int timer_list_new(void)
{
    timer_service &s = svc();
    list_guard g(true);
    if (s.list_start)
        return 0;
    kv_timer *start = (kv_timer *)calloc(1, sizeof(kv_timer));
    kv_timer *end = (kv_timer *)calloc(1, sizeof(kv_timer));
    if (!start || !end) {
        free(start);
        free(end);
        return -1;
    }
    end->next = end;
    start->next = end;
    s.list_start = start;
    s.list_end = end;
    s.tail = start;
    s.due.reserve(64);
    return 0;
}

int timer_new(void)
{
    if (timer_list_new() != 0)
        return -1;
    timer_service &s = svc();
    list_guard g(true);
    if (s.thread_running)
        return 0;
    s.stop = false;
    if (pthread_create(&s.thread, nullptr, timer_thread, nullptr) != 0)
        return -1;
    s.thread_running = true;
    return 0;
}

void timer_pass(void)
{
    if (in_pass)
        return; // a callback must not start a pass of its own
    timer_service &s = svc();
    pthread_mutex_lock(&s.list_lock);
    if (!s.list_start) {
        pthread_mutex_unlock(&s.list_lock);
        return;
    }
    in_pass = true;

    // Count everything down first, then call back: what a callback does to
    // other timers takes effect from the next pass, never half-way through
    // this one.
    s.due.clear();
    for (kv_timer *t = s.list_start->next; t != s.list_end; t = t->next)
        if (t->interval != 0 && --t->interval == 0)
            s.due.push_back(t);

    for (size_t i = 0; i < s.due.size(); i++) {
        kv_timer *t = s.due[i];
        if (!t)
            continue;
        s.calling = t;
        s.calling_gone = false;
        int32_t r = t->cb ? t->cb(t->event, t) : 0;
        if (!s.calling_gone && r == 1)
            t->interval = t->interval_save;
    }
    s.calling = nullptr;
    s.due.clear();

    in_pass = false;
    pthread_mutex_unlock(&s.list_lock);
}

int timer_add(TimerEvent cb, int32_t event, kv_timer *timer)
{
    if (!cb || !timer)
        return -1;
    int32_t ms = period_ms(timer->tv.tv_sec, timer->tv.tv_usec);
    if (ms < TIMER_TICK_MS) {
        TLOG(0, "CRITICAL: event interval to short, is %i ms -- must be > %i!", ms,
             (int)TIMER_TICK_MS);
        return -1;
    }
    timer_service &s = svc();
    list_guard g(true);
    if (!s.list_start)
        return -1;
    // Every listed node has a successor (list_end at least); a second add of
    // the same node would make the list a loop.
    if (timer->next) {
        TLOG(1, "CRITICAL: timer(%p) already listed!", (void *)timer);
        return -1;
    }
    timer->interval = ms / TIMER_TICK_MS;
    timer->interval_save = timer->interval;
    timer->cb = cb;
    timer->event = event;
    timer->next = s.list_end;
    s.tail->next = timer;
    s.tail = timer;
    return 0;
}

int timer_remove(kv_timer *timer)
{
    return remove_node(timer, true);
}

int timer_remove_nolock(kv_timer *timer)
{
    return remove_node(timer, false);
}

int timer_reset_interval(kv_timer *timer, long sec, long usec)
{
    return reset_node(timer, sec, usec, nullptr);
}

int timer_reset_interval_and_event(kv_timer *timer, long sec, long usec, int32_t event)
{
    return reset_node(timer, sec, usec, &event);
}

// Sets a listed node's countdown: the full period again, or 0 to stop it.
static int set_countdown(kv_timer *timer, bool restart)
{
    list_guard g(true);
    if (!find_pred(timer)) {
        TLOG(1, "CRITICAL: timer(%p) not found!", (void *)timer);
        return -1;
    }
    timer->interval = restart ? timer->interval_save : 0;
    forget_due(timer);
    return 0;
}

int timer_restart(kv_timer *timer)
{
    return set_countdown(timer, true);
}

int timer_stop(kv_timer *timer)
{
    return set_countdown(timer, false);
}

int timer_get_seconds_left(kv_timer *timer)
{
    list_guard g(true);
    if (!find_pred(timer)) {
        TLOG(1, "CRITICAL: timer(%p) not found!", (void *)timer);
        return -1;
    }
    return (int)((long long)timer->interval * TIMER_TICK_MS / 1000);
}

int timer_is_armed(kv_timer *timer)
{
    if (!timer)
        return 0;
    list_guard g(true);
    return find_pred(timer) && timer->interval != 0 ? 1 : 0;
}

int timer_exit(void)
{
    if (in_pass)
        return -1; // the thread cannot wait for itself
    timer_service &s = svc();
    pthread_mutex_lock(&s.list_lock);
    if (!s.list_start) {
        pthread_mutex_unlock(&s.list_lock);
        return -1;
    }
    bool join = s.thread_running;
    s.thread_running = false;
    s.stop = true;
    pthread_mutex_unlock(&s.list_lock);
    // A thread that did not stop (the process is ending) may be in a pass:
    // the nodes stay.
    if (join && tarn_join_thread(s.thread, "tarn.timer") != 0)
        return -1;

    pthread_mutex_lock(&s.list_lock);
    kv_timer *t = s.list_start;
    while (t && t != s.list_end) {
        kv_timer *n = t->next;
        free(t);
        t = n;
    }
    free(s.list_end);
    s.list_start = s.list_end = s.tail = nullptr;
    pthread_mutex_unlock(&s.list_lock);
    return 0;
}

int get_timeval_difference_in_ms(struct timeval earlier, struct timeval later)
{
    return (int)((later.tv_sec - earlier.tv_sec) * 1000 + (later.tv_usec - earlier.tv_usec) / 1000);
}
