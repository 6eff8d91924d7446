// ENUM queries of calls toward SIP: the query start, the poll of the
// resolver socket and the outcome handed to the call's machine.
//
// A search domain that gives no answer within twelve polls is left for the
// next one straight away: the time-out queues no GENERAL_EVENT_DNS_ENUM_FINISHED
// of its own. The next domain's query starts at once (poll counter 0, the
// machine stays in SM_SIP_INVITE_WAITING_FOR_DNS); after the last domain the
// call goes to the failover proxy when 1480 is among its failover causes, or
// GENERAL_EVENT_DNS_ENUM_FAILED rejects it. FINISHED is queued only once an
// address was read, and a FINISHED met while a query still runs keeps the
// state. So every search domain is awaited in turn and no INVITE leaves
// before the look-up has an outcome.
#include "enum.h"

#include <poll.h>
#include <udns.h>

#include <cstdlib>
#include <cstring>

#include "call_leg_sip.h"
#include "call_object.h"
#include "dialplan.h"
#include "dialplan_url.h"
#include "dns_cache.h"
#include "log.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "sip_admission.h"
#include "sm_events.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "timer.h"

namespace {

constexpr statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};
constexpr statemachine_handle_retval KEEP = {SM_KEEP_STATE, SM_NO_EVENT};
constexpr statemachine_handle_retval WAITING = {SM_SIP_INVITE_WAITING_FOR_DNS, SM_NO_EVENT};

port_group_sip *target_group(const call_object *co)
{
    if (!co || !co->dp || !co->dp->to_id || !co->dp->to_id[0])
        return nullptr;
    return pg_get_port_group_sip_by_name(co->dp->to_id, nullptr);
}

const char *current_domain(const call_object *co)
{
    const port_group_sip *pgs = target_group(co);
    int i = co->dns_enum_search_domain_index;
    if (!pgs || !pgs->pgs_enum_search_domains || i < 0 || i >= pgs->pgs_enum_search_domain_count)
        return "";
    const char *d = pgs->pgs_enum_search_domains[i];
    return d ? d : "";
}

void remove_poll_timer(call_object *co)
{
    if (co->dns_enum_timer) {
        timer_remove(co->dns_enum_timer);
        co->dns_enum_timer = nullptr;
    }
}

int arm_poll_timer(call_object *co)
{
    remove_poll_timer(co);
    kv_timer *t = (kv_timer *)calloc(1, sizeof *t);
    if (!t)
        return -1;
    t->tv.tv_sec = 0;
    t->tv.tv_usec = ENUM_POLL_USEC;
    co->dns_enum_timer = t;
    if (timer_add(cb_timer_event, T_EVENT_DNS_ENUM_TIMER, t) != 0) {
        co->dns_enum_timer = nullptr;
        free(t);
        return -1;
    }
    return 0;
}

// The outgoing leg: the second leg of a SIP-to-SIP call, the only SIP leg
// of any other call.
call_leg_sip *outgoing_leg(call_object *co)
{
    return co->callinfo == CI_SIP_TO_SIP && co->cl_sip_out ? co->cl_sip_out : co->cl_sip;
}

// The end of the search: the failover proxy of the leg when status is one
// of the call's failover causes, else the rejection.
statemachine_handle_retval no_more_domains(call_object *co, call_leg_sip *leg, int status)
{
    const proxy_def *pd = leg ? leg->pd : nullptr;
    if (pd && pd->failover && pd->failover[0] && do_we_have_a_failover_status(co, status)) {
        // The failover rows of a SIP-to-SIP call work on the current leg.
        if (co->callinfo == CI_SIP_TO_SIP)
            co->cl_sip = leg;
        LOGD_CALL(TARN, 3, co, "trying failover proxy |%s|", pd->failover);
        add_sm_task(co, sm_sip(1001, nua_r_invite));
        return {SM_SIP_INVITE_SENT, SM_NO_EVENT};
    }
    add_sm_task(co, sm_general(GENERAL_EVENT_DNS_ENUM_FAILED));
    LOGD_CALL(TARN, 3, co, "cancelling call");
    return KEEP;
}

// The next search domain, or the end of the search with status.
statemachine_handle_retval next_domain(call_object *co, call_leg_sip *leg, int status)
{
    co->dns_enum_search_domain_index++;
    if (sm_sip_enum_query_needed(co)) {
        LOGD_CALL(TARN, 3, co, "trying again on search domain |%s|", current_domain(co));
        co->dns_enum_request_counter = 0;
        return sm_sip_perform_enum_query(co);
    }
    return no_more_domains(co, leg, status);
}

// No usable address on the current domain.
statemachine_handle_retval no_result(call_object *co)
{
    LOGD_CALL(TARN, 3, co, "no result on search domain |%s|", current_domain(co));
    co->dns_enum_internal_error_code = ENUM_NO_RESULT;
    co->dns_enum_regex[0] = '\0';
    return next_domain(co, outgoing_leg(co), ENUM_NO_RESULT);
}

// An answer the INVITE can go to: "!pattern!user@host!" with both parts.
bool usable_address(const char *regexp)
{
    char user[256], host[256];
    return regexp[0] && dialplan_enum_regexp_to_user_and_url(regexp, user, sizeof user, host, sizeof host) == 1;
}

} // namespace

int sm_sip_enum_query_needed(call_object *co)
{
    const port_group_sip *pgs = target_group(co);
    return pgs && pgs->pgs_enum_support && co->dns_enum_search_domain_index >= 0 &&
                   co->dns_enum_search_domain_index < pgs->pgs_enum_search_domain_count
               ? 1
               : 0;
}

statemachine_handle_retval sm_sip_perform_enum_query(call_object *co)
{
    co->dns_enum_fd = 0;
    co->dns_enum_regex[0] = '\0';
    char name[512];
    int built = dialplan_create_enum_search_string(co->new_destination ? co->new_destination : "",
                                                   current_domain(co), name, sizeof name);
    // The answer lands in the call's own field; an address longer than the
    // field is no answer at all (the resolver's callback never cuts one).
    if (built < 0 || resolve_naptr(name, co->dns_enum_regex, sizeof co->dns_enum_regex, SIP_TRANSPORT_UDP, 0, co,
                                   &co->dns_context, &co->dns_enum_fd) != 0) {
        LOGD_CALL(TARN, 3, co, "query for |%s| could not start", name);
        remove_poll_timer(co);
        return no_result(co);
    }
    LOGD_CALL(TARN, 5, co, "enum query |%s|", name);
    if (arm_poll_timer(co) != 0) {
        LOGD_CALL(TARN, 0, co, "CRITICAL: no poll timer for the ENUM query");
        dns_close_call_context(co);
        return no_result(co);
    }
    return WAITING;
}

int check_enum_request_ready(call_object *co)
{
    if (!co || !co->dns_context || co->dns_enum_fd <= 0)
        return -1;
    pollfd pfd = {co->dns_enum_fd, POLLIN, 0};
    return poll(&pfd, 1, 1) == 1 && (pfd.revents & POLLIN) ? 0 : -1;
}

int enum_query_result_read(call_object *co)
{
    if (!co || !co->dns_context)
        return -1;
    int left = dns_timeouts(co->dns_context, -1, 0);
    if (left <= 0) {
        dns_close_call_context(co);
        return 0;
    }
    pollfd pfd = {co->dns_enum_fd, POLLIN, 0};
    if (poll(&pfd, 1, left * 1000) != 1 || !(pfd.revents & POLLIN))
        return -1;
    dns_ioevent(co->dns_context, 0);
    dns_close_call_context(co);
    return 0;
}

SM_ACTION(sm_sip_enum_query)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (!co || !sm_sip_enum_query_needed(co))
        return ROW;
    return sm_sip_perform_enum_query(co);
}

SM_ACTION(sm_sip_enum_check_result)
{
    (void)arg, (void)state;
    call_object *co = (call_object *)p;
    if (!co)
        return ROW;
    if (event == sm_general(GENERAL_EVENT_DNS_ENUM_FINISHED))
        return co->dns_context ? KEEP : ROW;
    // A poll that was queued before the query ended finds nothing to do.
    if (!co->dns_context)
        return KEEP;
    if (check_enum_request_ready(co) != 0) {
        if (co->dns_enum_request_counter < ENUM_POLLS_BEFORE_TIMEOUT) {
            co->dns_enum_request_counter++;
            return ROW;
        }
        remove_poll_timer(co);
        dns_close_call_context(co);
        LOGD_CALL(TARN, 3, co, "request timed out on search domain |%s|", current_domain(co));
        co->dns_enum_internal_error_code = ENUM_TIMED_OUT;
        return next_domain(co, co->cl_sip, ENUM_TIMEOUT_FAILOVER_STATUS);
    }
    remove_poll_timer(co);
    enum_query_result_read(co);
    dns_close_call_context(co);
    if (!usable_address(co->dns_enum_regex))
        return no_result(co);
    LOGD_CALL(TARN, 5, co, "enum result |%s| on search domain |%s|", co->dns_enum_regex, current_domain(co));
    co->dns_enum_internal_error_code = ENUM_FOUND;
    add_sm_task(co, sm_general(GENERAL_EVENT_DNS_ENUM_FINISHED));
    return KEEP;
}
