#include "isdn_events.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "application.h"
#include "call_lookups.h"
#include "call_object.h"
#include "call_reset.h"
#include "causes.h"
#include "experimental_options.h"
#include "isdn_lib.h"
#include "log.h"
#include "log_backend.h"
#include "misdn_bchannel.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "sm_defs.h"
#include "sm_run.h"
#include "state_names.h"
#include "statemachine.h"
#include "xdv_headers.h"

namespace {

int (*library_send)(misdn_bchannel *, event_e) = misdn_lib_send_event;

int admission_not_built(misdn_bchannel *bc)
{
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        LOGD(ISDN, 0, nullptr, "CRITICAL: %s is not part of this build: new ISDN calls are refused",
             "init_incoming_isdn_call");
    LOGD(ISDN, 1, nullptr, "SETUP on port %i refused", bc->port);
    return RESPONSE_RELEASE_SETUP;
}

isdn_events_hooks hooks = {admission_not_built};

isdn_leg_info *leg_of(call_object *co)
{
    return co->legi ? co->legi : &co->_legi;
}

// A message counted in one slot of the leg record: the slot takes the
// call's message counter, which then moves on.
void stamp(call_object *co, int32_t *slots, int slot)
{
    slots[slot] = co->counteri++;
}

void add_history(call_object *co, int entry)
{
    co->isdn_event_history[co->isdn_event_history_size % 12] = entry;
    co->isdn_event_history_size++;
}

// How a received message is recorded: its slot of events_received (-1
// none), whether it enters the history, and its trace line (with the
// cause and its text where it names them).
struct received_row {
    event_e event;
    int slot;
    bool history;
    bool with_cause;
    const char *trace;
};
const received_row received_rows[] = {
    {EVENT_SETUP_ACKNOWLEDGE, LEGI_SETUP_ACKNOWLEDGE, true, false, "I SETUP_ACKNOWLEDGE|INDICATION|CID=%05i\n"},
    {EVENT_PROCEEDING, LEGI_PROCEEDING, true, false, "I SETUP_PROCEEDING|INDICATION|CID=%05i\n"},
    {EVENT_PROGRESS, LEGI_PROGRESS, true, false, "I PROGRESS|INDICATION|CID=%05i\n"},
    {EVENT_ALERTING, LEGI_ALERTING, true, false, "I ALERTING|INDICATION|CID=%05i\n"},
    {EVENT_CONNECT, LEGI_CONNECT, true, false, "I CONNECT|INDICATION|CID=%05i\n"},
    {EVENT_DISCONNECT, LEGI_DISCONNECT, false, true, "I DISCONNECT|INDICATION|CID=%05i<br>cause=%i (%s)\n"},
    {EVENT_RELEASE, LEGI_RELEASE, false, true, "I RELEASE|INDICATION|CID=%05i<br>cause=%i (%s)\n"},
    {EVENT_RELEASE_COMPLETE, -1, false, true, "I RELEASE_COMPLETE|INDICATION|CID=%05i<br>cause=%i (%s)\n"},
};

void record_received(call_object *co, event_e event, const misdn_bchannel *bc)
{
    for (const received_row &r : received_rows) {
        if (r.event != event)
            continue;
        if (r.slot >= 0)
            stamp(co, leg_of(co)->events_received, r.slot);
        if (r.history)
            add_history(co, r.slot);
        if (event == EVENT_CONNECT && bc->cad[0])
            _verbose_msg(__FILE__, __LINE__, __func__, "I CONNECT|INDICATION|CID=%05i<br>cad=%s\n", co->pid, bc->cad);
        else if (r.with_cause)
            _verbose_msg(__FILE__, __LINE__, __func__, r.trace, co->pid, bc->cause, print_isdn_cause(bc->cause));
        else
            _verbose_msg(__FILE__, __LINE__, __func__, r.trace, co->pid);
        return;
    }
}

// A sent message: its slot of events_sent and its trace line (null: the
// caller or the action writes its own).
struct sent_row {
    event_e event;
    int slot;
    const char *trace;
};
const sent_row sent_rows[] = {
    {EVENT_SETUP, LEGI_SETUP, nullptr},
    {EVENT_SETUP_ACKNOWLEDGE, LEGI_SETUP_ACKNOWLEDGE, "I SETUP_ACKNOWLEDGE|REQUEST|CID=%05i\n"},
    {EVENT_PROCEEDING, LEGI_PROCEEDING, "I PROCEEDING|REQUEST|CID=%05i\n"},
    {EVENT_PROGRESS, LEGI_PROGRESS, "I PROGRESS|REQUEST|CID=%05i\n"},
    {EVENT_ALERTING, LEGI_ALERTING, "I ALERTING|REQUEST|CID=%05i\n"},
    {EVENT_CONNECT, LEGI_CONNECT, nullptr},
    {EVENT_DISCONNECT, LEGI_DISCONNECT, nullptr},
    {EVENT_RELEASE, LEGI_RELEASE, nullptr},
    {EVENT_RELEASE_COMPLETE, LEGI_RELEASE_COMPLETE, nullptr},
};

void record_sent(call_object *co, int event)
{
    for (const sent_row &r : sent_rows)
        if (r.event == event) {
            stamp(co, leg_of(co)->events_sent, r.slot);
            if (r.trace)
                _verbose_msg(__FILE__, __LINE__, __func__, r.trace, co->pid);
            return;
        }
}

// The diversion-request rows of cf_facility_in_progress.
struct facility_row {
    int sent, answered, failed, succeeded;
};
const facility_row facility_rows[] = {
    {1, 2, 3, 4},     // activate diversion
    {5, 6, 7, 8},     // deactivate diversion
    {9, 10, 12, 11},  // interrogate numbers
    {13, 14, 16, 15}, // query diversion
};

int next_facility_state(int s, int function)
{
    for (const facility_row &r : facility_rows) {
        if (s != r.sent && s != r.answered)
            continue;
        switch (function) {
        case Fac_ReturnResult: return r.succeeded;
        case Fac_ReturnError:
        case Fac_Reject: return r.failed;
        // No answer yet, or an answer of another kind: the request is
        // answered (a state already answered stays so).
        default: return r.answered;
        }
    }
    return s;
}

event_response_e outside_call_facility(misdn_bchannel *bc, const char *found, const char *not_found)
{
    LOGD(ISDN, 5, nullptr, "%s", misdn_holder_bc_is_on_holder_stack(bc->port, bc) ? found : not_found);
    return handle_global_facility(bc);
}

// What a machine run left: a machine in SM_DESTROYING ends with the call
// object, one in SM_DISMANTLING gets its dismantling timer.
void after_run(call_object *co)
{
    if (!co->sm)
        return;
    uint32_t state = (uint32_t)statemachine_get_state(co->sm);
    if (state == SM_DESTROYING) {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
        LOGD_CALL(TARN, 5, co, "calling reset_op for %p (index %i)", (void *)co, co->index);
        reset_op(co);
    } else if (state == SM_DISMANTLING) {
        start_dismantling_timer(co);
    }
}

} // namespace

void isdn_events_set_hooks(const isdn_events_hooks *h)
{
    if (h && h->init_incoming_isdn_call)
        hooks.init_incoming_isdn_call = h->init_incoming_isdn_call;
}

void isdn_events_set_library_send(int (*send)(misdn_bchannel *, event_e))
{
    library_send = send ? send : misdn_lib_send_event;
}

// ---- the callbacks -------------------------------------------------------------------------

event_response_e isdn_cb_events(event_e event, misdn_bchannel *bc, void *)
{
    // 1. 2. 3.
    if (!bc)
        return RESPONSE_OK;
    if (!gp || !gp->init_lock) {
        LOGD(SIP, 1, nullptr, "TARN not initialized completely, ignoring ISDN event %s on port %i", print_event(event),
             bc->port);
        return RESPONSE_OK;
    }
    if (event == EVENT_BCHAN_DATA)
        return RESPONSE_OK;

    // 4.
    if (chan_misdn_log_on(1, bc->port))
        chan_misdn_log(1, bc->port, bc->pid, __FILE__, __LINE__, __func__,
                       "I IND :%s oad:%s dad:%s rad:%s cad:%s info_dad:%s keypad:%s pid:%d cause:%i",
                       manager_isdn_get_info(event), bc->oad, bc->dad, bc->rad, bc->cad, bc->info_dad, bc->keypad,
                       bc->pid, bc->cause);
    misdn_lib_log_ies(bc);

    // 5.
    if (event == EVENT_RESTART) {
        int channel = bc->restart_channel >= 1 ? bc->restart_channel : bc->channel;
        cleanup_isdn_calls(bc->port, channel < 0 ? 0 : channel);
        return RESPONSE_IGNORE_SETUP_WITHOUT_CLOSE;
    }
    // 6.
    if (event == EVENT_SETUP) {
        if (gp->experimental_options && gp->experimental_options->eo_isdn_debug)
            misdn_dump_chan_list_by_port(bc->port);
        return (event_response_e)hooks.init_incoming_isdn_call(bc);
    }

    // 7.
    call_object *co = get_operation_by_bchannel(bc);
    if (!co) {
        if (event == EVENT_FACILITY)
            return outside_call_facility(bc, "found facility on holder stack", "facility NOT on holder stack");
        if (event == EVENT_REGISTER)
            return outside_call_facility(bc, "found register on holder stack", "register NOT on holder stack");
        // the network's call clears even without ours
        if (event == EVENT_DISCONNECT)
            library_send(bc, EVENT_RELEASE);
        if (log_levels_debug_enabled && log_get_loglevel(log_levels_debug, ISDN) >= 5) {
            char tag[64];
            snprintf(tag, sizeof tag, "CID:%06i:p%i", bc->pid, bc->port);
            LOGD(ISDN, 5, tag, "ignoring isdn event %s -- co==NULL", print_event(event));
        }
        return RESPONSE_OK;
    }

    // 8. 9.
    record_received(co, event, bc);
    if (bc->progress_indicator == 8)
        co->f.progress8_set = 1;

    // 10.
    if (!co->sm) {
        LOGD_CALL(TARN, 5, co, "ignoring isdn event %s -- co->sm==NULL", print_event(event));
        return RESPONSE_OK;
    }
    // 11. 12.
    co->last_isdn_cause = bc->cause;
    do_statemachine_run(co, sm_isdn(0, event), 0);
    after_run(co);
    return RESPONSE_OK;
}

void chan_misdn_log(int level, int port, int pid, const char *file, int line, const char *function,
                    const char *format, ...)
{
    char text[1023];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    size_t n = strlen(text);
    if (n && text[n - 1] == '\n')
        text[n - 1] = '\0';
    char tag[128];
    snprintf(tag, sizeof tag, "CID:%06i:p%i", pid, port);
    if (level & 0x40)
        log_msg_nmessage(level, ISDN, __FILE__, __LINE__, "%s %s", tag, text);
    else if (level & 0x30)
        log_msg_message(level | 0x10, ISDN, __FILE__, __LINE__, "%s %s", tag, text);
    else if (level <= 40)
        log_msg_debug(level, ISDN, file, line, function, tag, "%s", text);
}

int chan_misdn_log_on(int level, int)
{
    if (level & 0x40)
        return log_levels_nmessage_enabled && log_out_nmessage;
    if (level & 0x30)
        return log_levels_message_enabled && log_out_message &&
               log_levels_message[ISDN] >= ((level | 0x10) & LOG_MSG_LEVEL_MASK);
    return level <= 40 && log_levels_debug_enabled && log_out_debug && log_levels_debug[ISDN] >= level;
}

int chan_misdn_jb_empty(misdn_bchannel *bc, char *, int)
{
    (void)get_operation_by_bchannel(bc);
    return 0;
}

// ---- sending ---------------------------------------------------------------------------------

// The network side's first answer to a received SETUP names the B-channel.
// CONNECT and PROGRESS carry no channel identification, so one that would
// be that first answer (the far end answered, or sent progress, before the
// dial plan's CALL PROCEEDING went out) goes after a CALL PROCEEDING.
static bool needs_proceeding_first(call_object *co, int isdn_event)
{
    const auto *l = co->legi;
    if ((isdn_event != EVENT_CONNECT && isdn_event != EVENT_PROGRESS) || !co->bc->nt || !l ||
        !l->events_received[LEGI_SETUP])
        return false;
    for (int slot : {LEGI_SETUP_ACKNOWLEDGE, LEGI_PROCEEDING, LEGI_PROGRESS, LEGI_ALERTING, LEGI_CONNECT})
        if (l->events_sent[slot])
            return false;
    return true;
}

void tarn_misdn_lib_send_event(call_object *co, int isdn_event)
{
    if (!co || !co->bc)
        return;
    if (needs_proceeding_first(co, isdn_event))
        tarn_misdn_lib_send_event(co, EVENT_PROCEEDING);
    record_sent(co, isdn_event);
    if (co->cc.ie_on_sip && co->cl_sip && co->cl_sip->tmpsip)
        apply_sip_extension_headers(co->bc, co->cl_sip->tmpsip, nullptr);
    library_send(co->bc, (event_e)isdn_event);
}

int32_t tarn_send_event(void *p, void *, int32_t out_event)
{
    call_object *co = (call_object *)p;
    // Registration machines share the sender; their object is no call.
    if (!co || co->callinfo == CI_REGISTER || !co->bc)
        return 0;
    int code = sm_event_code_of(out_event);
    int status = sm_event_status_of(out_event);
    misdn_bchannel *bc = co->bc;
    const call_leg_sip *leg = co->cl_sip;
    if (status != 0) {
        if (co->cc.ie_on_sip && leg && leg->tmpsip && code == EVENT_DISCONNECT && leg->last_nua_status_code >= 400) {
            int cause = 0;
            const char *text = nullptr;
            get_reject_cause(TECH_ISDN, TECH_SIP, leg->last_nua_status_code, &cause, &text);
            bc->out_cause = cause;
        } else {
            bc->out_cause = status;
        }
    }
    tarn_misdn_lib_send_event(co, code);
    if (code == EVENT_CONNECT)
        _verbose_msg(__FILE__, __LINE__, __func__, "I CONNECT|REQUEST|CID=%05i\n", co->pid);
    else if (code == EVENT_DISCONNECT)
        _verbose_msg(__FILE__, __LINE__, __func__, "I DISCONNECT|REQUEST|CID=%05i<br>out_cause=%i (%s)\n", co->pid,
                     bc->out_cause, print_isdn_cause(bc->out_cause));
    return 0;
}

int isdn_port_is_ptp(int port)
{
    return misdn_lib_is_ptp(port) == 1;
}

int isdn_send_unrecorded(misdn_bchannel *bc, int event)
{
    return bc ? library_send(bc, (event_e)event) : -1;
}

// ---- ports and groups ------------------------------------------------------------------------

void cleanup_isdn_calls(int port, int channel)
{
    for (int i = 0; gp && i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++) {
        call_object *co = gp->operations[i];
        if (!co || !co->bc || co->bc->port != port)
            continue;
        if (channel >= 1 && co->bc->channel != channel)
            continue;
        library_send(co->bc, EVENT_RELEASE_COMPLETE);
    }
}

event_response_e handle_global_facility(misdn_bchannel *bc)
{
    if (!gp || !bc || bc->port <= 0 || bc->port >= (int)(sizeof gp->cf_facility_in_progress / sizeof(int32_t)))
        return RESPONSE_OK;
    int32_t &s = gp->cf_facility_in_progress[bc->port];
    s = next_facility_state(s, bc->fac_in.Function);
    return RESPONSE_OK;
}

namespace {

// Every port of the groups called name that carries no call, with the
// library's word on whether it is up.
template <typename F> void for_idle_group_ports(const char *name, F each)
{
    port_groups *pg = pg_port_groups();
    if (!pg || !name)
        return;
    for (int i = 0; i < pg->port_groups_isdn_count && i < PG_ISDN_GROUPS; i++) {
        const port_group_isdn *g = pg->port_groups_isdn[i];
        if (!g || !g->name || strcmp(g->name, name) != 0)
            continue;
        for (int k = 0; k < g->port_count; k++)
            if (has_active_isdn_call(g->ports[k]) == 0)
                each(g->ports[k]);
    }
}

} // namespace

int layer_down_isdn_group(const char *name)
{
    for_idle_group_ports(name, [](int port) {
        if (misdn_lib_port_up(port, 1) != 0) {
            misdn_lib_get_port_down(port);
            LOGD(ISDN, 5, nullptr, "Pulling Layer Down on ISDN port %i", port);
        }
    });
    return 0;
}

int layer_up_isdn_group(const char *name)
{
    for_idle_group_ports(name, [](int port) {
        if (misdn_lib_port_up(port, 1) == 0) {
            misdn_lib_get_port_up(port);
            LOGD(ISDN, 5, nullptr, "Pulling Layer Up on ISDN port %i", port);
        }
    });
    return 0;
}

int has_active_isdn_call(int port)
{
    int n = 0;
    for (int i = 0; gp && i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++) {
        const call_object *co = gp->operations[i];
        n += co && co->callinfo != CI_FREE && co->bc_port == port;
    }
    return n;
}

int update_max_concurrent_calls()
{
    uint32_t n = 0;
    for (int i = 0; gp && i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++)
        n += gp->operations[i] && gp->operations[i]->callinfo != CI_FREE;
    if (!gp || n <= gp->callstat.max_concurrent_calls)
        return 0;
    gp->callstat.max_concurrent_calls = n;
    return 1;
}
