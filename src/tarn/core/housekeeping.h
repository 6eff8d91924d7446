// The two housekeeping threads: every periodic duty of the daemon that has
// no timer of its own.
//
// run_tasks1 ("tarn.tasks1") ticks every 100 ms: media processor watchdog
// and device queries, aging of the SIP authentication nonces, GSM status
// polls and the ISDN B-channel sweep. run_tasks2 ("tarn.tasks2") ticks every
// second: SIP handle clean-up, message-waiting refreshes, access-control
// aging, the console watchdog, ISDN port restarts, the release of free heap
// pages (every 5 s), the memory watchdog, layer-1 repairs, and the LTE modem
// fixes.
//
// Each thread's duties are rows of a constant table {period, condition,
// duty}; one tick runs the rows whose period divides the tick count and
// whose condition holds. The tick itself (the pause between ticks) comes
// from housekeeping_clock, so tests drive the ticks by hand.
#pragma once
#include <pthread.h>
#include <sys/types.h>

#include <cstddef>

struct call_object;

// What the application object's reject_calls holds.
enum reject_calls_mode {
    REJECT_CALLS_NONE = 0,     // calls are accepted
    REJECT_CALLS_STOPPING = 1, // the SIP stacks are shutting down
    REJECT_CALLS_MEMORY = 2,   // the memory watchdog refuses new calls
};

// Exit codes of the watchdogs.
enum {
    HK_EXIT_MSP_LOOP_DOWN = 116,
    HK_EXIT_TELNET_STUCK = 83,
    HK_EXIT_MEMORY = 84,
};

// The board's memory in kilobytes: the base of the memory percentage.
enum { HK_BOARD_MEMORY_KB = 45336 };

// The media processor device query the safeguard sends.
enum { HK_DEVICE_STATUS_FUNCTION_CODE = 1039, HK_DEVICE_STATUS_CLASS = 6, HK_DEVICE_STATUS_TYPE = 1 };

// Modem command code of the LTE init hook's pieces.
enum { HK_LTE_HOOK_COMMAND = 16437 };

// Parts of the daemon that other parts build. Never a null entry once
// installed: an unfilled one logs once that it is not part of this build and
// does nothing.
struct housekeeping_hooks {
    // Appends a task (a call or registration object and an event word or
    // registration task code) to the state-machine task list.
    int (*add_sm_task)(call_object *co, int event);
    // Sweep of the ISDN B-channels for stale use (every 120 s).
    void (*check_bchannels)();
    // Destruction of the SIP handles queued for it (every second).
    void (*nua_handle_cleanup_queue)();
    // Sends the message-waiting signal again to every FXS port that has one
    // to show (every 20 s from second 20 on).
    void (*fxs_message_waiting_refresh)();
    // Reports an ISDN port restart to the console.
    void (*mc_send_restart_now)(int port);
};
// Takes the non-null members (null keeps what is there); at start, before
// the threads run. Tests put doubles in and housekeeping_reset_hooks() takes
// them out again.
void housekeeping_set_hooks(const housekeeping_hooks *hooks);
void housekeeping_reset_hooks();
const housekeeping_hooks &hk_hooks();

// Where the ticks and the process facts come from: the pause between ticks,
// the memory percentage of the process and the number of active calls.
struct housekeeping_clock {
    void (*sleep_ms)(int ms);
    int (*memory_percentage)(pid_t pid);
    int (*active_calls)();
};
// Null members keep the real ones (usleep, /proc, the call pool).
void housekeeping_set_clock(const housekeeping_clock *clock);

// ---- the threads ---------------------------------------------------------------------

// State of run_tasks1 between ticks.
struct tasks1_state {
    long tick; // ticks counted so far
};
// State of run_tasks2 between seconds.
struct tasks2_state {
    long k;                       // seconds counted from 0
    int memory_armed;             // any memory threshold set at the start
    pid_t memory_pid;             // the process the watchdog measures
    int memory_interval;          // seconds between two checks: 60, or 10 while waiting to exit
    int memory_exceeded;          // graceful threshold reached, waiting for the calls to end
    int telnet_stuck_seconds;     // seconds the console's stamp has not changed
    long telnet_last_stamp;       // the stamp last seen
    int layer_fix_marks[33];      // ISDN ports whose layer 1 was reset this half minute
    int layer_fix_pending;        // a mark is set
    size_t heap_free_released;    // the allocator's free bytes when free pages last went back
};

// Free heap (bytes) from which the free pages go back to the system.
enum { HK_HEAP_RELEASE_BYTES = 1024 * 1024 };

// First steps of each thread (name, safeguard settings, console stamp,
// memory watchdog arming).
void tasks1_begin(tasks1_state *s);
void tasks2_begin(tasks2_state *s);
// One tick: counts it and runs the rows due. run_tasks1 pauses before its
// tick, run_tasks2 after it.
void tasks1_tick(tasks1_state *s);
void tasks2_tick(tasks2_state *s);

void *run_tasks1(void *);
void *run_tasks2(void *);

// Starts both threads and the DNS refresh thread (start-up, step 8) and
// stops them in the orderly stop: run_tasks1 ends when run_msp_safeguard is
// cleared, the others at their next tick. Stopping joins what was started.
int housekeeping_start();
void housekeeping_stop();
// Set by housekeeping_stop: the loops of run_tasks2 and the DNS refresh end.
bool housekeeping_stopping();
// Pauses up to ms, ending early when the stop begins; false when stopping.
bool housekeeping_pause_ms(int ms);

// ---- helpers -------------------------------------------------------------------------

// VmRSS of the process × 100 / 45336, cut to an integer; 0 when pid is 0,
// the status file cannot be read or has no VmRSS line.
int get_current_memory_usage_as_percentage(pid_t pid);
// The same from a status file's text (tests).
int memory_percentage_from_status(const char *path);
// "AT+CPMS?" to the modem of a GSM port: 0 with used and total slots (both
// start at 10), -1 when the answer does not begin "+CPMS: ".
int get_sms_usage(int port, int *used, int *total);
// The two numbers of a "+CPMS: " answer line: 0, or -1 (tests).
int parse_cpms_answer(const char *answer, int *used, int *total);
// The number in /sys/class/quilmar/safeguard/enabled, 0 when unreadable.
int get_safeguard_enabled();
// The T1/E1 driver path "/sys/class/dvxt1e1/<module>:<port>/<action>" of an
// ISDN port in TE mode into buf (under TARN_ROOT): 0, or -1 with an empty
// buffer when the port has none.
int isdn_layer_fix_get_sysfs_name(int port, const char *action, char *buf, size_t size);
// The LTE hook text split at TABs: each piece that begins with a capital
// A-Z is queued to the port's modem as command 16437; the number queued.
int hk_run_lte_init_hook(int port, const char *hook);
