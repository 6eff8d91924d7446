#include "console_hooks.h"

#include <atomic>

#include "log.h"

namespace {

// One line per entry the first time it is used unfilled.
enum hook_id {
    H_ADD_SM_TASK,
    H_ADD_SM_TASK_CHECK_PID,
    H_RESET_OP,
    H_GET_OPERATION_BY_TELNET_FD,
    H_ITAPI_RESPONSE,
    H_LIST_LOGLEVELS,
    H_NETLOG_TARGET,
    H_SHUTDOWN_NUA,
    H_CC_PRINT,
    H_PRINT_SM_STATE,
    H_COUNT
};
const char *const hook_names[H_COUNT] = {
    "add_sm_task",        "add_sm_task_check_pid",          "reset_op",
    "get_operation_by_telnet_fd", "mc_handle_itapi_response", "list_loglevels",
    "parse_and_update_netlog_target", "shutdown_nua", "cc_print_call_configuration",
    "print_sm_state_call",
};
std::atomic<bool> reported[H_COUNT];

void not_built(hook_id h)
{
    if (!reported[h].exchange(true))
        LOGD(TARN, 0, nullptr, "CRITICAL: console: %s is not part of this build", hook_names[h]);
}

int no_add_sm_task(call_object *, int)
{
    not_built(H_ADD_SM_TASK);
    return 0;
}
int no_add_sm_task_check_pid(call_object *, int)
{
    not_built(H_ADD_SM_TASK_CHECK_PID);
    return 0;
}
void no_reset_op(call_object *)
{
    not_built(H_RESET_OP);
}
call_object *no_get_operation_by_telnet_fd(int)
{
    not_built(H_GET_OPERATION_BY_TELNET_FD);
    return nullptr;
}
int no_itapi_response(const char *, FILE *, call_object *)
{
    not_built(H_ITAPI_RESPONSE);
    return 0;
}
void no_list_loglevels(FILE *)
{
    not_built(H_LIST_LOGLEVELS);
}
void no_netlog_target(FILE *, const char *)
{
    not_built(H_NETLOG_TARGET);
}
void no_shutdown_nua()
{
    not_built(H_SHUTDOWN_NUA);
}
void no_cc_print(FILE *, const call_configuration *, int, int)
{
    not_built(H_CC_PRINT);
}
const char *no_print_sm_state(call_object *, uint32_t)
{
    not_built(H_PRINT_SM_STATE);
    return "UNKNOWN_STATE";
}

const console_hooks unfilled = {
    no_add_sm_task,   no_add_sm_task_check_pid, no_reset_op,  no_get_operation_by_telnet_fd,
    no_itapi_response, no_list_loglevels,       no_netlog_target, no_shutdown_nua,
    no_cc_print,      no_print_sm_state,
};

console_hooks hooks = unfilled;

template <typename F> void take(F &slot, F in)
{
    if (in)
        slot = in;
}

} // namespace

const console_hooks &mc_hooks()
{
    return hooks;
}

void mc_set_hooks(const console_hooks *in)
{
    if (!in)
        return;
    take(hooks.add_sm_task, in->add_sm_task);
    take(hooks.add_sm_task_check_pid, in->add_sm_task_check_pid);
    take(hooks.reset_op, in->reset_op);
    take(hooks.get_operation_by_telnet_fd, in->get_operation_by_telnet_fd);
    take(hooks.mc_handle_itapi_response, in->mc_handle_itapi_response);
    take(hooks.list_loglevels, in->list_loglevels);
    take(hooks.parse_and_update_netlog_target, in->parse_and_update_netlog_target);
    take(hooks.shutdown_nua, in->shutdown_nua);
    take(hooks.cc_print_call_configuration, in->cc_print_call_configuration);
    take(hooks.print_sm_state_call, in->print_sm_state_call);
}

void mc_reset_hooks()
{
    hooks = unfilled;
}

// The entries of a record in hook_id order.
static void entries(const console_hooks &h, const void *out[H_COUNT])
{
    const void *e[H_COUNT] = {
        (const void *)h.add_sm_task,      (const void *)h.add_sm_task_check_pid,
        (const void *)h.reset_op,         (const void *)h.get_operation_by_telnet_fd,
        (const void *)h.mc_handle_itapi_response, (const void *)h.list_loglevels,
        (const void *)h.parse_and_update_netlog_target, (const void *)h.shutdown_nua,
        (const void *)h.cc_print_call_configuration, (const void *)h.print_sm_state_call,
    };
    for (int i = 0; i < H_COUNT; i++)
        out[i] = e[i];
}

int mc_unfilled_hooks(const char *names[], int size)
{
    const void *now[H_COUNT], *none[H_COUNT];
    entries(hooks, now);
    entries(unfilled, none);
    int n = 0;
    for (int i = 0; i < H_COUNT; i++)
        if (now[i] == none[i]) {
            if (names && n < size)
                names[n] = hook_names[i];
            n++;
        }
    return n;
}
