#include "sm_run.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "application.h"
#include "call_info.h"
#include "call_lookups.h"
#include "isdn_events.h"
#include "isdn_lib.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "msp_resource.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "reg_object.h"
#include "sm_tasks.h"
#include "state_names.h"
#include "statemachine.h"
#include "timer.h"

namespace {

// ---- media hooks -----------------------------------------------------------

void said_once(std::atomic<bool> &said, const char *what)
{
    if (!said.exchange(true))
        LOGD(TARN, 1, nullptr, "CRITICAL: %s not built", what);
}

int start_channel_processing_not_built(call_object *)
{
    static std::atomic<bool> said{false};
    said_once(said, "_start_channel_processing");
    return -1;
}

int call_stop_msp_tone_not_built(call_object *, int)
{
    static std::atomic<bool> said{false};
    said_once(said, "call_stop_msp_tone");
    return -1;
}

void call_rtp_stat_not_built(call_object *)
{
    static std::atomic<bool> said{false};
    said_once(said, "call_rtp_stat");
}

const callctl_media_hooks unfilled_media = {start_channel_processing_not_built, call_stop_msp_tone_not_built,
                                            call_rtp_stat_not_built};
callctl_media_hooks media_hooks = unfilled_media;

// ---- statistics ------------------------------------------------------------

typedef uint32_t (call_statistics::*port_counters)[CALLSTAT_PORTS];
typedef uint32_t call_statistics::*scalar_counter;

// One direction's counters: the scalars of the direction and, for line
// kinds, the technology's per-port arrays.
struct kind_counters {
    scalar_counter finished, connected, connected_finished, short_calls, total_seconds;
    port_counters p_finished, p_connected, p_connected_finished, p_short_calls, p_total_seconds;
};

#define PSTN_TO_SIP(t)                                                                                              \
    {&call_statistics::counter_pstn_to_sip_finished, &call_statistics::counter_pstn_to_sip_connected,              \
     &call_statistics::counter_pstn_to_sip_connected_finished,                                                    \
     &call_statistics::counter_pstn_to_sip_connected_finished_less_than_10_seconds,                               \
     &call_statistics::total_seconds_pstn_to_sip, &call_statistics::counter_##t##_to_sip_finished_port,           \
     &call_statistics::counter_##t##_to_sip_connected_port, &call_statistics::counter_##t##_to_sip_connected_finished_port, \
     &call_statistics::counter_##t##_to_sip_connected_finished_less_than_10_seconds_port,                         \
     &call_statistics::total_seconds_##t##_to_sip_port}
#define SIP_TO_PSTN(t)                                                                                              \
    {&call_statistics::counter_sip_to_pstn_finished, &call_statistics::counter_sip_to_pstn_connected,              \
     &call_statistics::counter_sip_to_pstn_connected_finished,                                                    \
     &call_statistics::counter_sip_to_pstn_connected_finished_less_than_10_seconds,                               \
     &call_statistics::total_seconds_sip_to_pstn, &call_statistics::counter_sip_to_##t##_finished_port,           \
     &call_statistics::counter_sip_to_##t##_connected_port, &call_statistics::counter_sip_to_##t##_connected_finished_port, \
     &call_statistics::counter_sip_to_##t##_connected_finished_less_than_10_seconds_port,                         \
     &call_statistics::total_seconds_sip_to_##t##_port}

const kind_counters isdn_to_sip = PSTN_TO_SIP(isdn), analog_to_sip = PSTN_TO_SIP(analog),
                    gsm_to_sip = PSTN_TO_SIP(gsm), cas_to_sip = PSTN_TO_SIP(cas);
const kind_counters sip_to_isdn = SIP_TO_PSTN(isdn), sip_to_analog = SIP_TO_PSTN(analog),
                    sip_to_gsm = SIP_TO_PSTN(gsm), sip_to_cas = SIP_TO_PSTN(cas);
const kind_counters sip_to_sip = {&call_statistics::counter_sip_to_sip_finished,
                                  &call_statistics::counter_sip_to_sip_connected,
                                  &call_statistics::counter_sip_to_sip_connected_finished,
                                  &call_statistics::counter_sip_to_sip_connected_finished_less_than_10_seconds,
                                  &call_statistics::total_seconds_sip_to_sip,
                                  nullptr, nullptr, nullptr, nullptr, nullptr};

// What each step counts for a kind. The console call toward ISDN counts as
// SIP to ISDN; the ITAPI call only when it connects.
enum count_step { STEP_CONNECTED, STEP_CONNECTED_FINISHED, STEP_FINISHED };

const kind_counters *counters_of(int callinfo, count_step step)
{
    switch (callinfo) {
    case CI_ISDN_TO_SIP: return &isdn_to_sip;
    case CI_ANALOG_TO_SIP: return &analog_to_sip;
    case CI_GSM_TO_SIP: return &gsm_to_sip;
    case CI_CAS_TO_SIP: return &cas_to_sip;
    case CI_SIP_TO_ISDN: return &sip_to_isdn;
    case CI_SIP_TO_ANALOG: return &sip_to_analog;
    case CI_SIP_TO_GSM: return &sip_to_gsm;
    case CI_SIP_TO_CAS: return &sip_to_cas;
    case CI_SIP_TO_SIP: return &sip_to_sip;
    case CI_TELNET_TO_ISDN: return step == STEP_FINISHED ? nullptr : &sip_to_isdn;
    case CI_SIP_TO_ITAPI: return step == STEP_CONNECTED ? &sip_to_isdn : nullptr;
    default: return nullptr;
    }
}

void add_port(call_statistics &cs, port_counters member, int port, uint32_t n)
{
    if (member)
        (cs.*member)[port] += n;
}

// ---- state changes ---------------------------------------------------------

void count_connected_finished(call_object *co, int port, time_t now)
{
    co->connect_stop = now;
    co->cdr.connect_stop = now;
    const kind_counters *k = counters_of(co->callinfo, STEP_CONNECTED_FINISHED);
    if (!k || !gp)
        return;
    call_statistics &cs = gp->callstat;
    long duration = (long)(co->connect_stop - co->connect_start);
    cs.*(k->connected_finished) += 1;
    add_port(cs, k->p_connected_finished, port, 1);
    cs.*(k->total_seconds) += (uint32_t)duration;
    add_port(cs, k->p_total_seconds, port, (uint32_t)duration);
    if (duration < 10) {
        cs.*(k->short_calls) += 1;
        add_port(cs, k->p_short_calls, port, 1);
    }
}

void arm_force_t38_timer(call_object *co)
{
    const t38_force_reinvite &f = co->cc.force_t38_reinvite;
    if (f.count < 1 || f.times[0] == 0) // a delay of 0 arms nothing
        return;
    long sec = (long)(f.times[0] / 1000);
    long usec = (long)(((uint64_t)f.times[0] * 1000) % 1000000);
    if (usec < 10000)
        usec = 10000;
    if (co->force_t38_timer) {
        timer_remove(co->force_t38_timer);
        co->force_t38_timer = nullptr;
    }
    kv_timer *t = (kv_timer *)calloc(1, sizeof *t);
    if (!t)
        return;
    t->tv.tv_sec = sec;
    t->tv.tv_usec = usec;
    if (timer_add(cb_timer_event, T_EVENT_FORCE_T38, t) != 0) {
        free(t);
        return;
    }
    co->force_t38_timer = t;
}

void count_connected(call_object *co, int port, time_t now)
{
    co->connect_start = now;
    co->cdr.connect_start = now;
    const kind_counters *k = counters_of(co->callinfo, STEP_CONNECTED);
    if (!k)
        LOGD(TARN, 0, cinfo(co), "CRITICAL: unknown callinfo %i", co->callinfo);
    else if (gp) {
        gp->callstat.*(k->connected) += 1;
        add_port(gp->callstat, k->p_connected, port, 1);
    }
    if (co->callinfo != CI_SIP_TO_SIP) {
        if (co->msp_state == 0) {
            media_hooks.start_channel_processing(co);
        } else if (co->msp_state == MSP_TONEGEN_ACTIVE) {
            media_hooks.call_stop_msp_tone(co, 1);
            media_hooks.start_channel_processing(co);
        }
    }
    arm_force_t38_timer(co);
}

int terminating_technology(int type)
{
    switch (type) {
    case SM_EVENT_TYPE_SIP: return 1;
    case SM_EVENT_TYPE_ISDN: return 2;
    case SM_EVENT_TYPE_GSM: return 3;
    case SM_EVENT_TYPE_ANALOG: return 4;
    case SM_EVENT_TYPE_CAS: return 5;
    default: return 0;
    }
}

void call_ended(call_object *co, int event)
{
    update_max_concurrent_calls();
    LOGN(TARN, 0, "CALL ENDED: PID %i", co->pid);
    if (co->cdr.terminated_by == 7) {
        int type = 0, code = 0, status = 0;
        decode_complex_event(event, &type, &code, &status);
        co->cdr.terminated_by = terminating_technology(type);
        co->cdr.tc_incoming_event = code;
        co->cdr.tc_incoming_status = status;
    }
}

// ---- ISDN layer control by registration state ----------------------------

void pull_isdn_layers(const port_group_sip *pgs, bool up, time_t last_success)
{
    time_t now = time(nullptr);
    for (int g = 0; g < pgs->pgs_isdn_layer_control_group_count && g < PGS_LAYER_CONTROL_GROUPS; g++) {
        const char *name = pgs->pgs_isdn_layer_control_group[g];
        if (!name || !*name)
            continue;
        if (!up) {
            int offtime = pgs->pgs_isdn_layer_control_group_offtime[g];
            if (offtime == 0 || now - last_success <= offtime)
                continue;
        }
        if (up)
            layer_up_isdn_group(name);
        else
            layer_down_isdn_group(name);
    }
}

} // namespace

void pull_isdn_layers_down(const port_group_sip *pgs, time_t last_success)
{
    if (pgs)
        pull_isdn_layers(pgs, false, last_success);
}

void callctl_set_media_hooks(const callctl_media_hooks *in)
{
    if (!in) {
        media_hooks = unfilled_media;
        return;
    }
    if (in->start_channel_processing)
        media_hooks.start_channel_processing = in->start_channel_processing;
    if (in->call_stop_msp_tone)
        media_hooks.call_stop_msp_tone = in->call_stop_msp_tone;
    if (in->call_rtp_stat)
        media_hooks.call_rtp_stat = in->call_rtp_stat;
}

const callctl_media_hooks &callctl_media() { return media_hooks; }

int sm_statistics_port_index(const call_object *co)
{
    int port = 0;
    switch (co->callinfo) {
    case CI_ISDN_TO_SIP:
    case CI_SIP_TO_ISDN:
        port = co->bc ? co->bc->port : 0;
        break;
    case CI_ANALOG_TO_SIP:
    case CI_SIP_TO_ANALOG:
        port = co->analog_port;
        break;
    case CI_GSM_TO_SIP:
    case CI_SIP_TO_GSM:
        port = (co->gsm_port == 0 || co->gsm_port > 6) ? co->gsm_port_stored : co->gsm_port;
        break;
    case CI_CAS_TO_SIP:
    case CI_SIP_TO_CAS:
        port = co->cas_port;
        break;
    default:
        port = 0;
    }
    // Ports past the per-port arrays count in slot 0 ("no port known").
    return port > 0 && port < CALLSTAT_PORTS ? port : 0;
}

int do_statemachine_run(call_object *co, int event, int arg)
{
    (void)arg;
    uint32_t old_state = (uint32_t)statemachine_get_state(co->sm);
    statemachine_run(co->sm, event, nullptr);
    uint32_t new_state = (uint32_t)statemachine_get_state(co->sm);
    co->sm_state = new_state;
    LOGD_CALL(TARN, 5, co, "[%s:%i] %s => %s", print_event(sm_event_code_of(event)), sm_event_status_of(event),
              print_sm_state_call(co, old_state), print_sm_state_call(co, new_state));

    int port = sm_statistics_port_index(co);
    time_t now = time(nullptr);
    if (old_state == SM_CALL_ACTIVE && new_state != SM_CALL_ACTIVE)
        count_connected_finished(co, port, now);
    if (new_state == SM_CALL_ACTIVE && old_state != SM_CALL_ACTIVE)
        count_connected(co, port, now);
    if (new_state == SM_DESTROYING && !co->f.no_cdr && gp) {
        const kind_counters *k = counters_of(co->callinfo, STEP_FINISHED);
        if (k) {
            gp->callstat.*(k->finished) += 1;
            add_port(gp->callstat, k->p_finished, port, 1);
        }
    }
    if (co->f.no_cdr)
        return 0;
    if ((new_state == SM_DISMANTLING && old_state != SM_DISMANTLING) ||
        (new_state == SM_DESTROYING && old_state != SM_DISMANTLING && old_state != SM_DESTROYING))
        call_ended(co, event);
    return 0;
}

int do_reg_statemachine_run(reg_object *ro, int event, int arg)
{
    (void)arg;
    uint32_t old_state = (uint32_t)statemachine_get_state(ro->sm);
    statemachine_run(ro->sm, event, nullptr);
    uint32_t new_state = (uint32_t)statemachine_get_state(ro->sm);
    ro->sm_state = new_state;
    LOGD(TARN, 5, rinfo(ro), "[%s:%i] %s => %s", print_event(sm_event_code_of(event)), sm_event_status_of(event),
         print_sm_state_reg(ro, old_state), print_sm_state_reg(ro, new_state));
    if (old_state == SM_SIP_REGISTRATION_SUCCESSFUL && new_state != SM_SIP_REGISTRATION_SUCCESSFUL)
        ro->last_time_registration_successful = time(nullptr);
    const port_group_sip *pgs = ro->pgs;
    if (pgs && pgs->pgs_isdn_layer_control_group_count > 0) {
        if (new_state == SM_SIP_REGISTRATION_FAILED)
            pull_isdn_layers(pgs, false, ro->last_time_registration_successful);
        else if (new_state == SM_SIP_REGISTRATION_SUCCESSFUL)
            pull_isdn_layers(pgs, true, 0);
    }
    return 0;
}

void print_statemachine_event(const char *text, call_object *co, int state, int event)
{
    int type = 0, code = 0, status = 0;
    decode_complex_event(event, &type, &code, &status);
    printf("%s %s INSTATE %i complex event: type %i, event %i, state%i\n", co ? cinfo(co) : "", text ? text : "",
           state, type, code, status);
}

int start_dismantling_timer(call_object *co)
{
    if (!co || co->f.dismantling)
        return 0;
    co->f.dismantling = 1;
    if (co->timer) {
        timer_remove(co->timer);
        co->timer = nullptr;
    }
    LOGD_CALL(TARN, 5, co, "Starting dismantling timer with %i seconds", co->dismantling_timeout);
    kv_timer *t = (kv_timer *)calloc(1, sizeof *t);
    if (!t)
        return 0;
    // The timer service refuses periods below one tick; a timeout of 0
    // ends the call on the next tick.
    t->tv.tv_sec = co->dismantling_timeout > 0 ? co->dismantling_timeout : 0;
    t->tv.tv_usec = co->dismantling_timeout > 0 ? 0 : 10000;
    if (timer_add(cb_timer_event, T_EVENT_CLEANUP, t) != 0) {
        free(t);
        return 0;
    }
    co->timer = t;
    return 0;
}

// ---- ending calls from outside ---------------------------------------------

void finish_call(FILE *fp, int index, int from)
{
    if (index < 0 || index >= OPERATIONARRAYSIZE || index >= OPERATIONS_CAPACITY || !gp) {
        if (fp)
            fprintf(fp, "Call index %i is out ouf bounds\n", index);
        return;
    }
    call_object *co = gp->operations[index];
    if (!co || co->callinfo == 0) {
        if (fp)
            fprintf(fp, "Call at index %i is not active\n", index);
        return;
    }
    if (fp)
        fprintf(fp, "Terminating call at index %i (from %i)\n", index, from);
    add_sm_task(co, SM_WORD_FINISH_CALL);
}

void finish_call_by_pid(FILE *fp, int pid)
{
    for (int i = 0; gp && i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++) {
        call_object *co = gp->operations[i];
        if (co && co->callinfo != 0 && co->pid == pid) {
            if (fp)
                fprintf(fp, "Terminating call at index %i (pid %i)\n", i, pid);
            add_sm_task(co, SM_WORD_FINISH_CALL);
            return;
        }
    }
    if (fp)
        fprintf(fp, "Couldn't find call with pid %i\n", pid);
}

namespace {

bool leg_matches(const call_object *co, const char *ip, const int *ports, int count)
{
    if (!co || co->callinfo == 0 || !co->cl_sip || strcmp(co->cl_sip->rtp_remote_ip, ip) != 0)
        return false;
    if (!ports)
        return true;
    for (int i = 0; i < count; i++)
        if (co->cl_sip->rtp_remote_port == ports[i])
            return true;
    return false;
}

void finish_matching_calls(const char *ip, const int *ports, int count)
{
    for (int i = 0; gp && i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++)
        if (leg_matches(gp->operations[i], ip, ports, count))
            add_sm_task(gp->operations[i], SM_WORD_FINISH_CALL);
}

} // namespace

void finish_all_calls_by_remote_ip(const char *ip)
{
    if (!ip || !*ip)
        return;
    lock_hold hold(&lock_manager::global_lock);
    finish_matching_calls(ip, nullptr, 0);
}

void finish_all_calls_by_remote_ip_and_port(const char *ip, const int *ports, int count)
{
    if (!ip || !*ip || !ports || count <= 0)
        return;
    lock_hold hold(&lock_manager::global_lock);
    finish_matching_calls(ip, ports, count);
}

void finish_call_by_remote_ip_and_port(const char *ip, int port)
{
    if (!ip || !*ip)
        return;
    finish_matching_calls(ip, &port, 1);
}
