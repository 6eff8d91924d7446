// The CSM command queue and the command thread "tarn.msp_loop". Every
// command goes through one queue and is sent strictly one at a time: the
// thread sends the head, waits for the answer with the same function code,
// handles it and only then takes the next. Meanwhile it hands every other
// message of the media processor to the event dispatch.
//
// The queue and the timeslot map are guarded by msp_queue_lock of the
// process-wide lock set.
#pragma once
#include <atomic>
#include <semaphore.h>

#include "csm_records.h"
#include "msp_timeslot.h"

// Address words of a queued command.
constexpr int MSP_ADDRESS_DEVICE = 0xFFFF;
constexpr int MSP_ADDRESS_CHANNEL_BASE = 0x7FFF; // 0x7FFF + n: DSP channel n
// How long the thread waits for one answer, and for a message when idle.
constexpr long MSP_ANSWER_WAIT_USEC = 100000;
constexpr long MSP_IDLE_WAIT_USEC = 1000;

// Where a blocking caller waits: owned by the caller (on its stack), handed
// to the thread with the command. The thread writes the result and posts the
// semaphore as its last touch; the caller destroys it after its wait.
struct msp_waiter {
    sem_t sem;
    int result;
};

// One queued command.
struct csminstruction {
    csminstruction *list;
    magic_csm csm_msg;      // owned by the instruction
    magic_csm csmresponse;  // freed with the instruction when set
    void *context;          // the owner (a call) or null
    int pid;
    void *bc;
    msp_waiter *semablock;  // null for a command nobody waits for
    int csc_counter;
    int timeslot;           // address word; -1 once a destroy released its timeslot
    int notify;
    int processing;         // 0 queued, 1 at the head, 2 timeslot work done
    int pending;            // +1 destroy, -1 create counted in the queue's
                            // pending figure of `timeslot` until its work is done
    char function[64];
    char file[64];
    int line;
};

struct _listhead {
    csminstruction *first;
    csminstruction *last;
    pthread_mutex_t lock; // unused: msp_queue_lock guards the queue
    int length;           // instructions on the queue
    // Per timeslot: queued destroys minus queued creates whose timeslot work
    // is not done yet, so that the question "free once the queue has run?"
    // needs no walk over a long queue.
    int pending[MSP_TIMESLOTS];
};

// Raised on every take and release of msp_queue_lock (diagnostic). Atomic:
// the console and the call threads raise it too, not always under the lock.
extern std::atomic<int> msp_command_counter;
// Result of the last blocking command of the calling thread. The event
// handler may set it to -1 while the command thread hands it a response.
extern thread_local int msp_return_code;
// Set whenever the command thread works; the housekeeping clears it.
extern std::atomic<int> msp_running;
extern std::atomic<int> runcommandloop;
extern int last_timeslot_destroyed;
extern int debug_create_channel_counter;
extern int debug_destroy_channel_counter;
// Adds timeslot-map listings to the error logs.
extern int msp_extra_debugging;

// Queues `message` (the queue owns it from here) for the address word
// `timeslot` with owner `context`. With `blocking` it returns once the
// thread is done with the command: 0, or -1 when the device refused it, its
// result code was not 0, or the event handler reported failure. Takes
// msp_queue_lock itself.
int _msp_queue_command(magic_csm message, int timeslot, void *context, int blocking, int notify,
                       const char *file, const char *function, int line);
// Appends without locking and never waits; the caller holds msp_queue_lock
// so that a sequence of commands reaches the queue together.
void _msp_queue_command_nolock(magic_csm message, int timeslot, void *context, int notify,
                               const char *file, const char *function, int line);

#define msp_queue_command(message, timeslot, context, blocking, notify)                      \
    _msp_queue_command((message), (timeslot), (context), (blocking), (notify), __FILE__, \
                       __func__, __LINE__)
#define msp_queue_command_nolock(message, timeslot, context, notify)                       \
    _msp_queue_command_nolock((message), (timeslot), (context), (notify), __FILE__, __func__, \
                              __LINE__)

// 1 when the timeslot has no channel now, plus one per queued destroy and
// minus one per queued create for it that has not done its timeslot work.
// Positive: free once the queue has run. The caller holds msp_queue_lock.
int msp_will_timeslot_be_free(int timeslot);
// Logs the queue from its head; the caller holds msp_queue_lock.
int msp_list_queue();
// Stops the command thread (the first call waits until it has left its loop;
// on the command thread itself it only tells the loop to end).
void msp_stop_command_thread(int flag);
// Tells the command thread to leave its loop, without waiting for it.
void msp_end_command_loop();
// After a stop: the command thread may be started again.
void msp_command_thread_rearm();
// Lists the queue on standard error and ends the process (107).
void msp_remove_from_queue_by_logical_timeslot(int timeslot);

// The command thread.
void *msp_command_loop(void *);
// True in the command thread (a blocking command from it would wait for itself).
bool msp_in_command_thread();

// Queue helpers shared by the command thread (msp_queue_lock held).
void msp_queue_append(csminstruction *ins);
void msp_queue_remove(csminstruction *ins);
// The timeslot work of `ins` is done (processing 2): it no longer counts
// toward msp_will_timeslot_be_free.
void msp_queue_timeslot_done(csminstruction *ins);
// Empties the queue in one go (the caller holds msp_queue_lock) and returns
// its former head; the instructions stay linked.
csminstruction *msp_queue_take_all();
// Wakes the caller waiting for `ins` with `result`; nothing for a command
// nobody waits for.
void msp_wake_caller(csminstruction *ins, int result);
// Frees an instruction with its message and any response.
void msp_free_instruction(csminstruction *ins);
// Moves the commands of the head's owner behind those of other owners, or
// waits a little when only the head's owner has commands queued.
void msp_reorder_queue(csminstruction *head);
// Takes and releases msp_queue_lock, counting both.
void msp_queue_lock_take();
void msp_queue_lock_release();
