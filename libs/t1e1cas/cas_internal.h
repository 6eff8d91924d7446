// Shared state of the CAS library's files (not for callers).
//
// One library lock (cas_lock) serialises every transition of a port: the
// read thread's receive steps, the senders called by call control, and the
// dispatcher's tasks. The callback is always called with the lock released.
// Lock order: cas_lock, then the timer list, then the task list; the timer
// callback takes only the task list.
#pragma once
#include "t1e1casctl.h"

#include <atomic>
#include <mutex>

struct kv_timer;

extern cas_ctlport cas_ctl;
extern std::timed_mutex cas_lock;
extern std::atomic<cas_event_callback> cas_callback;
extern std::atomic<int> cas_debug_flag;
extern std::atomic<kv_timer *> cas_onhook_timers[CAS_PORT_TABLE];
// Set by cas_shutdown: the read thread and the dispatcher leave their loops.
extern std::atomic<bool> cas_stopping;

typedef std::unique_lock<std::timed_mutex> cas_guard;

inline bool cas_port_in_range(int port)
{
    return port >= CAS_PORT_MIN && port <= CAS_PORT_MAX;
}
// In range and opened by cas_init (lock held).
inline bool cas_port_open(int port)
{
    return cas_port_in_range(port) && cas_ctl.configured[port];
}

// Logs "CRITICAL: no ctrl for port %i (%i:%s)" for an event on a port
// that was not opened.
void cas_no_ctrl(int port, int event);
// A trace line on standard output (and the system log while debugging).
void cas_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Now, relative to the start time (taken on first use).
struct timeval cas_now();
// "C2S", "S2C" or "---" by the port's direction (lock held).
const char *cas_direction_text(int port);

// Writes one pattern line to an open port and records it (lock held).
int cas_write_locked(int port, const char *pattern);
// Records a pattern in a history; returns the slot used.
int cas_history_add(cas_history &h, int port, const struct timeval &rel, const char *line);

// Calls the callback, when one is installed, with the lock released.
// Returns false when there is no callback.
bool cas_report(cas_guard &lk, int port, int event);

// The sender of the port's signalling (lock held, port open).
void cas_sender(cas_guard &lk, int port, int event);
// The receive step of the port's signalling for one line (lock held).
void cas_receive(cas_guard &lk, int port, const char *line);

// The port's one-shot timer (lock held): created on first use, re-armed
// after; stopping only stops it.
void cas_timer_arm(int port, long sec, long usec, int timer_event);
void cas_timer_stop(int port);

// Queues a task for the dispatcher.
void cas_add_task(int port, int event);
int start_cas_dispatcher_thread();
// Starts the read thread (which starts the dispatcher).
int cas_start_reader();

// Pieces of cas_shutdown, in the order it runs them (cas_stopping set).
// Each waits for its thread to end, unless called on that thread itself.
void cas_stop_reader();
void cas_stop_dispatcher();
// Takes every port's timer out of the timer service (lock held).
void cas_remove_timers();
// Frees the tasks nobody will run.
void cas_drop_tasks();
