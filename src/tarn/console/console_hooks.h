// What the console calls in other parts of the daemon. Every entry is always
// callable: one that its part has not filled logs once that it is not part
// of this build and does nothing (a lookup finds nothing, a name is
// "UNKNOWN_STATE").
#pragma once
#include <cstdint>
#include <cstdio>

struct call_object;
struct call_configuration;

struct console_hooks {
    // Queue an event word for a call's state machine (the task runner runs it).
    int (*add_sm_task)(call_object *co, int event);
    int (*add_sm_task_check_pid)(call_object *co, int event);
    // Return a call object to the pool.
    void (*reset_op)(call_object *co);
    // The call object whose console descriptor is fd, or null.
    call_object *(*get_operation_by_telnet_fd)(int fd);
    // A line from the peer of an outbound console-driven call.
    int (*mc_handle_itapi_response)(const char *line, FILE *out, call_object *co);
    // Log settings and levels; a new network log target "ip:port".
    void (*list_loglevels)(FILE *out);
    void (*parse_and_update_netlog_target)(FILE *out, const char *text);
    // Orderly stop of the daemon through the SIP stacks.
    void (*shutdown_nua)();
    // Every option of a call configuration (null: the default one).
    void (*cc_print_call_configuration)(FILE *out, const call_configuration *cc, int show_pattern,
                                        int sort);
    // The name of a call's state word.
    const char *(*print_sm_state_call)(call_object *co, uint32_t state);
};

// The hooks in force; never a null entry.
const console_hooks &mc_hooks();
// Takes every non-null entry of `in` (null keeps what is there). Called at
// start, before the console threads run, by each part that owns an entry;
// tests put doubles in and mc_reset_hooks() takes them out again.
void mc_set_hooks(const console_hooks *in);
void mc_reset_hooks();
// Names of the entries still unfilled (at most `size` stored); their count.
int mc_unfilled_hooks(const char *names[], int size);
