// Timer service: one list of countdown timers that the thread "tarn.timer"
// advances every 10 ms (one tick). A timer is a node its owner allocates
// zero-filled with calloc, fills in (tv) and hands to timer_add; from then on
// it belongs to the list until timer_remove frees it.
//
// When a node's countdown reaches zero the thread calls its callback with the
// node's event; a result of 1 arms it again with interval_save, any other
// result leaves it expired but listed (timer_restart or a reset re-arms it).
// Callbacks run on the timer thread in the order the nodes were armed. They
// should be short; they may stop, restart, reset, add and remove timers,
// their own node included (the node is gone once timer_remove returns).
#pragma once
#include <sys/time.h>

#include <cstdint>

// The generic set: the declared range of a timer's event word.
enum timer_events : int32_t {
    T_EVENT_A = 1024, T_EVENT_B, T_EVENT_C, T_EVENT_D, T_EVENT_E, T_EVENT_F, T_EVENT_G,
    T_EVENT_H, T_EVENT_I, T_EVENT_J, T_EVENT_K, T_EVENT_L, T_EVENT_M, T_EVENT_N, T_EVENT_O,
    T_EVENT_P = 1039
};

// The daemon's own timers (the low 16 bits of a timer event word in call control).
enum tarn_timer_events : int32_t {
    T_EVENT_DIALING = 1024,
    T_EVENT_REG_REFRESH = 1025,
    T_EVENT_GSM_TICKER = 1026,
    T_EVENT_CLEANUP = 1027,
    T_EVENT_FEATURE_TIMER_F = 1028,
    T_EVENT_FEATURE_TIMER_T = 1029,
    T_EVENT_FEATURE_TIMER_FLUSH = 1030,
    T_EVENT_FORCE_T38 = 1031,
    T_EVENT_RINGBACK_TIMEOUT = 1032,
    T_EVENT_ANALOG_WAIT_FOR_CID_TIMEOUT = 1033,
    T_EVENT_ANALOG_ONHOOK = 1034,
    T_EVENT_FAILOVER_TIMEOUT = 1035,
    T_EVENT_EXPIRES_TIMEOUT = 1036,
    T_EVENT_DIALTONE_DETECTION_TIMEOUT = 1037,
    T_EVENT_SIP_T0_TIMEOUT = 1038,
    T_EVENT_SIP_T180_TIMEOUT = 1039,
    T_EVENT_SIP_T183_TIMEOUT = 1040,
    T_EVENT_SIP_T200_TIMEOUT = 1041,
    T_EVENT_GSM_WAIT_FOR_CID_TIMEOUT = 1042,
    T_EVENT_RTP_CHECK_INBOUND_TRAFFIC = 1043,
    T_EVENT_FXO_CPT_DIALING_TIMER = 1044,
    T_EVENT_FXO_CPT_POLREV_TIMER = 1045,
    T_EVENT_FXO_ALERTING_ENDED_TIMER = 1046,
    T_EVENT_STATE_EVENT_MISSING_SAFEGUARD = 1047,
    T_EVENT_AOC_OUTGOING_TIMER = 1048,
    T_EVENT_CAS_ONHOOK = 1049,
    T_EVENT_DNS_ENUM_TIMER = 1050,
    T_EVENT_T38_REINVITE_ON_FIRST_LEG = 1051,
    T_EVENT_T38_REINVITE_ON_SECOND_LEG = 1052,
    T_EVENT_NONREGISTRATION_VALIDATE_OPTIONS = 1053,
    T_EVENT_FXS_WINK_TIMER = 1054
};

struct kv_timer;

// Called at expiry with the node's event word (a timer_events or
// tarn_timer_events value); returning 1 arms the timer again.
typedef int32_t (*TimerEvent)(int32_t event, kv_timer *timer);

struct kv_timer {
    kv_timer *next;
    int32_t interval;      // ticks left; 0 = stopped or expired
    int32_t interval_save; // reload value in ticks
    TimerEvent cb;
    int32_t event;
    struct timeval tv;     // requested period, read by timer_add
    void *user_data;       // the owner's
};

enum { TIMER_TICK_MS = 10 };

// Creates the list and starts the timer thread; 0, or -1 when the thread
// cannot be started. A second call changes nothing and returns 0.
int timer_new(void);

// Creates the list without the thread. Tests and benchmarks drive it with
// timer_pass().
int timer_list_new(void);

// One pass of the timer thread: counts every armed node down by one tick
// and calls the callbacks of the nodes that expire, in list order.
void timer_pass(void);

// Arms a node with the period in its tv. 0; -1 without callback or node,
// for a period below 10 ms, a node already listed or no list.
int timer_add(TimerEvent cb, int32_t event, kv_timer *timer);

// Unlinks and frees the node; -1 when it is not listed (nothing freed).
int timer_remove(kv_timer *timer);
// The same without taking the list lock: for code that already holds it,
// such as a timer callback.
int timer_remove_nolock(kv_timer *timer);

// Re-arms the node with a new period counted from now.
int timer_reset_interval(kv_timer *timer, long sec, long usec);
int timer_reset_interval_and_event(kv_timer *timer, long sec, long usec, int32_t event);

// interval = interval_save.
int timer_restart(kv_timer *timer);
// interval = 0; the node stays listed.
int timer_stop(kv_timer *timer);
// Whole seconds left; -1 when the node is not listed.
int timer_get_seconds_left(kv_timer *timer);
// 1 when the node is listed and counting down (not stopped or expired),
// else 0; null is not armed.
int timer_is_armed(kv_timer *timer);

// Stops the thread and waits for it, then frees every node and the list;
// -1 when there is no list, on the timer thread (a callback), or when the
// thread did not stop while the process ends (the nodes then stay).
// Owners of timers take theirs out first (their stop paths).
int timer_exit(void);

// (later - earlier) in milliseconds, the microsecond part truncated toward zero.
int get_timeval_difference_in_ms(struct timeval earlier, struct timeval later);
