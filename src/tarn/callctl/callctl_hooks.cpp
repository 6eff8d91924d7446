#include "callctl_hooks.h"

#include "cleanup.h"
#include "console_hooks.h"
#include "dialplan_mangle.h"
#include "housekeeping.h"
#include "nua_stack.h"
#include "pools.h"
#include "registrations.h"
#include "sip_headers.h"
#include "sm_run.h"
#include "sm_tasks.h"

namespace {

// The SIP side ends a call by its object.
void finish_call_of_object(call_object *co, FILE *report, int origin)
{
    finish_call(report, get_index_of_operation(co), origin);
}

} // namespace

void callctl_connect_hooks()
{
    console_hooks mc{};
    mc.add_sm_task = add_sm_task;
    mc.add_sm_task_check_pid = add_sm_task_check_pid;
    mc_set_hooks(&mc);

    cleanup_hooks c{};
    c.free_task_list = free_task_list;
    cleanup_set_hooks(&c);

    registration_hooks r{};
    r.cb_timer_event = cb_timer_event;
    r.do_reg_statemachine_run = do_reg_statemachine_run;
    reg_set_hooks(&r);

    nua_stack_hooks n = nua_hooks;
    n.finish_call = finish_call_of_object;
    nua_stack_set_hooks(&n);

    housekeeping_hooks hk{};
    hk.add_sm_task = add_sm_task;
    hk.nua_handle_cleanup_queue = nua_handle_cleanup_queue;
    housekeeping_set_hooks(&hk);

    dialplan_mangle_iface d{};
    d.format_full_local_url = format_full_local_url;
    dialplan_set_mangle_iface(&d);
}

int callctl_start_task_runner()
{
    return start_sm_helper();
}
