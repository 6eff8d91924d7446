#include "pools.h"

#include <cstdio>
#include <cstring>

#include "experimental_options.h"
#include "isdn_pid.h"
#include "log.h"
#include "misdn_bchannel.h"

int OPERATIONARRAYSIZE = OPERATIONS_CAPACITY;
int CLSIPSIZE = SIP_LEGS_CAPACITY;
int REGISTRATIONARRAYSIZE = 0;

static call_configuration *default_cc()
{
    return gp ? &gp->default_call_configuration : nullptr;
}

void init_call_object(call_object *co, int index)
{
    co->index = index;
    co->callinfo = CI_FREE;
    co->handletype = HT_CALL;
    co->sm = nullptr;
    co->sm_state = 1;
    co->bc = nullptr;
    co->timer = nullptr;
    co->dp = nullptr;
    co->msp_bridged_to = nullptr;
    co->feature_code_t_timer = nullptr;
    co->feature_code_flush_timer = nullptr;
    co->feature_code_f_timer = nullptr;
    co->s2i_cpt = nullptr;
    co->i2s_cpt = nullptr;
    co->gsm_port = 0;
    co->gsm_port_stored = 0;
    co->bc_port = 0;
    co->bc_channel = 0;
    co->analog_port = 0;
    co->analog_port_stored_for_hold = 0;
    co->analog_type = 0;
    co->analog_cid_received = 0;
    co->analog_dialing_performed = 0;
    co->analog_dial_tone_stopped = 0;
    co->connect_start = 0;
    co->connect_stop = 0;
    co->isdn_event_history_size = 0;
    co->special_termination_reason = 0;
    co->conference_request = 0;
    co->bc_oad = co->cas_oad = co->gsm_oad = co->analog_oad = co->pstn_oad;
    co->bc_dad = co->cas_dad = co->gsm_dad = co->analog_dad = co->pstn_dad;
    co->cas_display = co->analog_display = co->pstn_display;
    co->pstn_oad[0] = co->pstn_dad[0] = co->pstn_display[0] = '\0';
    co->msp_state = 0;
    co->msp_resources_active = 0;
    co->msp_resources_reserved = 0;
    co->msp_resources_remote_bridging = 0;
    co->tdm_logical_timeslot = -1;
    co->remote_tdm_logical_timeslot = -1;
    co->gsm_call_id = -1;
    co->conference_id = -1;
    co->ecall_simple = -1;
    co->ecall_parsed = -1;
    co->cc_active = &co->cc;
    cc_init_call_configuration(&co->cc);
    co->cc_source = co->cc_destination = co->cc_override = default_cc();
    cdr_reset(&co->cdr);
    co->dismantling_timeout = 60;
    co->feature_code_flush_buffer[0] = '\0';
    co->feature_code_flush_buffer_dir[0] = '\0';
    co->analog_call_progress_country_code[0] = '\0';
    co->analog_last_tone_event = 0;
    co->analog_last_tone_event_time = 0;
    memset(co->analog_last_congestion_event_time, 0, sizeof co->analog_last_congestion_event_time);
    memset(co->analog_last_busy_event_time, 0, sizeof co->analog_last_busy_event_time);
    memset(&co->_msp_tonedet_history, 0, sizeof co->_msp_tonedet_history);
    memset(&co->_msp_tonegen_history, 0, sizeof co->_msp_tonegen_history);
    co->msp_tonedet_history = &co->_msp_tonedet_history;
    co->msp_tonegen_history = &co->_msp_tonegen_history;
    memset(co->isdn_event_history, 0, sizeof co->isdn_event_history);
    co->counteri = 1;
    co->legi = &co->_legi;
    memset(&co->f, 0, sizeof co->f);
}

reg_object *init_reg_object(reg_object *ro, int index)
{
    ro->index = index;
    ro->handletype = HT_REGISTRATION;
    ro->callinfo = CI_FREE;
    ro->sm = nullptr;
    ro->tmpsip = nullptr;
    ro->tmptags = nullptr;
    return ro;
}

int get_number_of_needed_call_objects(int isdn_pri_ports, int isdn_other_ports, int cas_ports,
                                      int analog_ports, int gsm_ports, int configured)
{
    long count = 30L * isdn_pri_ports + 2L * isdn_other_ports + cas_ports + analog_ports + gsm_ports;
    // (count + 1) * 1.1 with the fraction cut, in integers: 1.1 is not exact
    // in binary and 121 * 1.1 must give 133.
    long n = (count + 1) * 11 / 10;
    if (configured >= 1)
        n = configured;
    if (n > OPERATIONS_CAPACITY)
        n = OPERATIONS_CAPACITY;
    if (n < 1)
        n = 1;
    LOGM(TARN, 16, "ALLOCATING %i CALL OBJECTS", (int)n);
    return (int)n;
}

int create_call_object_pools(int n)
{
    if (!gp || n < 1)
        return -1;
    if (n > OPERATIONS_CAPACITY)
        n = OPERATIONS_CAPACITY;
    OPERATIONARRAYSIZE = n;
    CLSIPSIZE = 2 * n;
    for (int i = 0; i < OPERATIONARRAYSIZE; i++) {
        if (!gp->operations[i])
            gp->operations[i] = new call_object();
        init_call_object(gp->operations[i], i);
    }
    for (int i = 0; i < CLSIPSIZE; i++) {
        if (!gp->sip_call_legs[i])
            gp->sip_call_legs[i] = new call_leg_sip();
        gp->sip_call_legs[i]->index = i;
    }
    return 0;
}

call_object *get_free_operation_handle(int generate_pid)
{
    LOGD(TARN, 8, nullptr, "searching for free handle");
    pthread_mutex_lock(gp->locks->co_list_lock);
    for (int i = 0; i < OPERATIONARRAYSIZE; i++) {
        call_object *co = gp->operations[i];
        if (!co || co->callinfo != CI_FREE)
            continue;
        co->callinfo = CI_INUSE;
        if (generate_pid)
            co->pid = get_new_global_pid();
        LOGD(TARN, 5, cinfo(co), "free op handle at index %i - co %p - pid %i", i, (void *)co, co->pid);
        pthread_mutex_unlock(gp->locks->co_list_lock);
        return co;
    }
    LOGD(TARN, 0, nullptr, "CRITICAL: couldn't get free call object (%i in total, all in use)",
         OPERATIONARRAYSIZE);
    pthread_mutex_unlock(gp->locks->co_list_lock);
    return nullptr;
}

reg_object *get_free_registration_handle()
{
    if (!gp->registrations)
        return nullptr;
    pthread_mutex_lock(gp->locks->co_list_lock);
    for (int i = 0; i < REGISTRATIONARRAYSIZE; i++) {
        reg_object *ro = gp->registrations[i];
        if (!ro || ro->callinfo != CI_FREE)
            continue;
        ro->callinfo = CI_REGISTER;
        ro->pid = ++gp->pid_counter;
        LOGD(TARN, 5, rinfo(ro), "free reg handle at index %i - co %p - pid=%i", i, (void *)ro, ro->pid);
        pthread_mutex_unlock(gp->locks->co_list_lock);
        return ro;
    }
    pthread_mutex_unlock(gp->locks->co_list_lock);
    return nullptr;
}

static void sip_leg_defaults(call_leg_sip *cl)
{
    cl->in_use = 1;
    cl->outbound_options = SIP_LEG_OUTBOUND_OPTIONS_DEFAULT;
    cl->using_codec = -1;
    cl->using_payload = -1;
    cl->msp_channel = -1;
    cl->pt_telephony_event = PAYLOAD_TYPE_DYNAMIC_RFC2833;
    snprintf(cl->using_ip, sizeof cl->using_ip, "%s", gp ? gp->netconf.host_ip_lan : "");
}

call_leg_sip *get_new_sip_call_leg_allocate()
{
    call_leg_sip *cl = new call_leg_sip();
    sip_leg_defaults(cl);
    cl->allocated = 1;
    cl->nua = nullptr;
    return cl;
}

call_leg_sip *get_new_sip_call_leg()
{
    // Callers hold global_lock.
    for (int i = 0; i < CLSIPSIZE; i++) {
        call_leg_sip *cl = gp->sip_call_legs[i];
        if (cl && !cl->in_use) {
            sip_leg_defaults(cl);
            return cl;
        }
    }
    return get_new_sip_call_leg_allocate();
}

int get_index_of_operation(const call_object *co)
{
    return co ? co->index : -1;
}

int get_index_of_reg_object(const reg_object *ro)
{
    return ro ? ro->index : -1;
}

call_object *get_operation_by_index(int index)
{
    if (!gp || index < 0 || index >= OPERATIONARRAYSIZE)
        return nullptr;
    call_object *co = gp->operations[index];
    return (co && co->callinfo != CI_FREE) ? co : nullptr;
}

reg_object *get_registered_user_by_index(int index)
{
    if (!gp || !gp->registrations || index < 0 || index >= REGISTRATIONARRAYSIZE)
        return nullptr;
    reg_object *ro = gp->registrations[index];
    return (ro && ro->callinfo != CI_FREE) ? ro : nullptr;
}

const char *cinfo(const call_object *co)
{
    // One buffer per thread: concurrent log lines keep their own tags.
    static thread_local char buf[512];
    if (!co) {
        snprintf(buf, sizeof buf, "CID:000000:00");
    } else if (co->bc) {
        snprintf(buf, sizeof buf, "CID:%06i:p%i", co->pid, co->bc->port);
    } else if (co->analog_port > 0) {
        snprintf(buf, sizeof buf, "CID:%06i:a%i", co->pid, co->analog_port);
    } else if (co->gsm_port > 0) {
        snprintf(buf, sizeof buf, "CID:%06i:g%i", co->pid, co->gsm_port);
    } else if (co->cas_port > 0) {
        snprintf(buf, sizeof buf, "CID:%06i:c%i", co->pid, co->cas_port);
    } else if (co->callinfo == CI_SIP_TO_SIP) {
        int leg = co->cl_sip && co->cl_sip == co->cl_sip_in    ? 1
                  : co->cl_sip && co->cl_sip == co->cl_sip_out ? 2
                                                               : 0;
        snprintf(buf, sizeof buf, "CID:%06i:l%i", co->pid, leg);
    } else {
        snprintf(buf, sizeof buf, "CID:%06i:00", co->pid);
    }
    return buf;
}

const char *rinfo(const reg_object *ro)
{
    static thread_local char buf[512];
    snprintf(buf, sizeof buf, "RID:%06i:00", ro ? ro->pid : 0);
    return buf;
}
