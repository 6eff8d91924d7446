// The task list and its runner thread "tarn.smhelper": producers that may
// not run a machine themselves (the timer thread, actions of the running
// machine, the console, DNS and STUN threads) append (object, event word)
// and the runner runs the tasks in order under global_lock. Also the common
// timer callback of calls and registrations and the queue of SIP handles
// whose destruction waits for the answer to their BYE.
#pragma once
#include <pthread.h>

#include <cstdint>

#include "sm_defs.h"

struct call_object;
struct reg_object;
struct kv_timer;
struct nua_handle_s;
struct task_list;

struct sm_run_info {
    void *co;      // a call object, or a registration object for the registration task codes
    int event;     // an event word or a registration task code
    int pid;       // the call's pid when check_pid is set
    int check_pid;
    sm_run_info *list;
};

struct task_list {
    sm_run_info *first;
    sm_run_info *last;
    pthread_mutex_t lock;
};

// A new empty list (null when memory is short).
task_list *create_task_list();
// Frees the list and the tasks still in it (null does nothing).
void free_task_list(task_list *list);

// Append a task to the application's list (made on first use); the result
// of the unlock (0), or -1 when there is no application object or memory.
int add_sm_task(call_object *co, int event);
// The same for a registration object with a registration task code.
int add_sm_task_reg(reg_object *ro, int code);
// The same, remembering the call's pid: the runner drops the task when the
// object carries another call by then.
int add_sm_task_check_pid(call_object *co, int event);

// The runner's body; runs until run_sm_helper is cleared and the list is
// empty.
void *sm_run_helper(void *unused);
// Runs the tasks queued now, on the calling thread (tests drive the runner
// with it); returns how many it took.
int sm_run_pending_tasks();
// Start-up: makes the list, sets run_sm_helper and starts the thread; 0 or -1.
int start_sm_helper();
// Waits for the runner to end after stop_threads cleared run_sm_helper.
void join_sm_helper();

// The common timer callback: turns an expired call or registration timer
// into a task. Returns 1 to re-arm a periodic timer, 0 to let it lapse.
int32_t cb_timer_event(int32_t event, kv_timer *timer);

// The SIP handles waiting for destruction (nh_dismantler).
enum { NH_DESTROY_SLOTS = 64 };
struct nua_handle_dismantler {
    nua_handle_s *destroy_nh_list[NH_DESTROY_SLOTS];
    time_t destroy_times[NH_DESTROY_SLOTS];
    int count;
};
// Parks a handle; with every slot taken it is destroyed at once.
void nua_handle_insert_into_destroy_queue(nua_handle_s *nh);
// Destroys a parked handle (its BYE was answered); 0, or -1 when not parked.
int nua_handle_destroy_in_destroy_queue(nua_handle_s *nh);
// Once a second: destroys the handles parked more than 2 seconds ago.
void nua_handle_cleanup_queue();

// The SIP stack call that destroys a handle; tests replace it.
extern void (*nh_destroy_fn)(nua_handle_s *nh);
