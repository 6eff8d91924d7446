// The CAS line callback and the admission of calls that start on a CAS
// channel (FXO-KS ringing, FXS-KS off-hook, MFC/R2 seize), the commands to
// a channel with their trace, and the channel's configuration keys.
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "application.h"
#include "call_object.h"
#include "call_reset.h"
#include "call_statistics.h"
#include "cas_callctl.h"
#include "cas_callctl_internal.h"
#include "call_lookups.h"
#include "confman.h"
#include "log.h"
#include "log_backend.h"
#include "media_start.h"
#include "media_voice.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "rtp_ports.h"
#include "schema.h"
#include "sm_events.h"
#include "sm_run.h"
#include "sm_tasks.h"
#include "state_tables.h"
#include "statemachine.h"
#include "t1e1casctl.h"
#include "timer.h"

namespace {

enum { CAS_TDM_PORT_OFFSET = 1000, CID_CHARS = 32, PCMU = 0, PCMA = 8 };

const char *event_text(unsigned event)
{
    const char *t = cas_event_to_text(nullptr, (int)event);
    return t ? t : "";
}

// The verbose trace of the commands that have one.
const char *command_trace(unsigned event)
{
    switch (event) {
    case CAS_EVENT_OFFHOOK:
        return "C OFFHOOK|REQUEST|CID=%05i<br>port=%d\n";
    case CAS_EVENT_ONHOOK:
        return "C ONHOOK|REQUEST|CID=%05i<br>port=%d\n";
    case CAS_EVENT_RINGING:
        return "C RINGING|REQUEST|CID=%05i<br>port=%d\n";
    case CAS_EVENT_RINGOFF:
        return "C RINGOFF|REQUEST|CID=%05i<br>port=%d\n";
    default:
        return nullptr;
    }
}

void trace_indication(call_object *co, int port, unsigned event)
{
    _verbose_msg(__FILE__, __LINE__, __func__, "C %s|INDICATION|CID=%05i<br>port=%d\n", event_text(event),
                 co ? co->pid : 0, port);
}

// Stops an admission after the call object was taken: the channel and the
// object go back (nothing else would give them back).
int stop_admission(call_object *co, int port, const char *why)
{
    LOGD_CALL(CAS, 1, co, "CRITICAL: call from CAS port %i not started: %s", port, why);
    co->cdr.terminated_by = 0;
    if (co->sm) {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
    }
    reset_op(co); // releases cas_port
    return -1;
}

// The dummy RTP target, the local RTP port and the codec of a line call
// that starts its media before SIP answers; false without an RTP port.
bool start_dummy_rtp(call_object *co, int codec)
{
    call_leg_sip *leg = co->cl_sip;
    if (!leg)
        return false;
    snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "127.0.0.1");
    leg->rtp_remote_port = gp->dummy_rtp_port;
    co->f.dummy_rtp = 1;
    if (!update_rtp_port(co, leg))
        return false;
    leg->using_codec = leg->using_payload = codec;
    return true;
}

// The digit timer of a call dialled on an FXS-KS channel; false when the
// channel has no initial timeout.
bool arm_digit_timer(call_object *co, int port)
{
    LOGD_CALL(CAS, 5, co, "initializing timer for co %p (index %i)!", (void *)co, co->index);
    char buf[64];
    if (cas_port_setting(port, CFG_CAS_PORT_INTERDIGIT_TIMEOUT, buf, sizeof buf) == 0)
        co->overlap_dialing_timeout = atoi(buf) < 0 ? 0 : atoi(buf);
    if (cas_port_setting(port, CFG_CAS_PORT_INTERDIGIT_TIMEOUT_INITIAL, buf, sizeof buf) != 0)
        return false;
    co->overlap_dialing_initial_timeout = atoi(buf) < 0 ? 0 : atoi(buf);
    kv_timer *t = (kv_timer *)calloc(1, sizeof *t);
    if (!t)
        return true;
    t->tv.tv_sec = co->overlap_dialing_initial_timeout;
    t->tv.tv_usec = co->overlap_dialing_initial_timeout > 0 ? 0 : TIMER_TICK_MS * 1000;
    if (timer_add(cb_timer_event, T_EVENT_DIALING, t) == 0)
        co->timer = t;
    else
        free(t);
    return true;
}

void copy_text(char *dst, const char *src, size_t chars)
{
    snprintf(dst, chars + 1, "%s", src ? src : "");
}

} // namespace

// ---- configuration --------------------------------------------------------------------------

int cas_port_setting(int port, int key, char *buf, size_t size)
{
    if (!buf || size == 0)
        return -1;
    buf[0] = '\0';
    if (!gp || !gp->config_cas || port < CAS_PORT_MIN || port > CAS_PORT_MAX)
        return -1;
    if (cm_get(gp->config_cas, buf, size, CAS_PORT_SECTION, key, port) != 0) {
        buf[0] = '\0';
        return -1;
    }
    return 0;
}

int cas_dialtone_digits(int port)
{
    char value[32];
    int n = cas_port_setting(port, CFG_CAS_PORT_DIALTONE_DIGITS, value, sizeof value) == 0 ? atoi(value) : 0;
    return n < 0 || n > 9 ? 0 : n;
}

void cas_port_mfcr2_profile(int port, mfcr2_profile *out)
{
    *out = mfcr2_profile{-1, -1, 0, R2_VARIANT_ITU, 0};
    char options[4096];
    if (cas_port_setting(port, CFG_CAS_PORT_CONFIG, options, sizeof options) != 0)
        return;
    // The profile's items sit among the channel's options: each
    // comma-separated item is read as profile text (other keys are ignored).
    char *rest = options, *item;
    while ((item = strsep(&rest, ",")))
        cc_parse_r2config(out, item);
}

bool cas_append_digit(char *number, char c)
{
    size_t n = strnlen(number, CAS_NUMBER_FIELD);
    if (n + 1 >= CAS_NUMBER_FIELD)
        return false;
    number[n] = c;
    number[n + 1] = '\0';
    return true;
}

void cas_finish_machine_run(call_object *co)
{
    if (!co || !co->sm)
        return;
    uint32_t state = (uint32_t)statemachine_get_state(co->sm);
    if (state == SM_DESTROYING) {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
        LOGD_CALL(CAS, 5, co, "calling reset_op for %p", (void *)co);
        reset_op(co);
    } else if (state == SM_DISMANTLING) {
        start_dismantling_timer(co);
    }
}

// ---- commands ---------------------------------------------------------------------------------

int verbose_cas_send_event(int port, unsigned int event)
{
    call_object *co = get_operation_by_cas_port(port);
    if (const char *trace = command_trace(event))
        _verbose_msg(__FILE__, __LINE__, __func__, trace, co ? co->pid : 0, port);
    LOGM(CAS, 17, "%s C SEND: %s", co ? cinfo(co) : "", event_text(event));
    if (event == CAS_EVENT_RINGING && cas_get_signalling(port) == CAS_SIGNALLING_T1_FXSKS) {
        cas_start_ringing(port);
        return 0;
    }
    return cas_send_event(port, (int)event);
}

int32_t tarn_cas_send_event(void *p, void *arg, int32_t out_event)
{
    (void)arg;
    call_object *co = (call_object *)p;
    if (!co || co->cas_port == 0)
        return 0;
    int type = 0, code = 0, status = 0;
    decode_complex_event(out_event, &type, &code, &status);
    LOGD(CAS, 0, cinfo(co), "port%d, out_ev:%d type:%d, noute:%d, status:%d", co->cas_port, out_event, type, code,
         status);
    verbose_cas_send_event(co->cas_port, (unsigned)code);
    return 0;
}

// ---- the line callback -------------------------------------------------------------------------

namespace {

void event_of_call(call_object *co, int port, unsigned event)
{
    trace_indication(co, port, event);
    LOGM(CAS, 17, "%s C IND : %s", cinfo(co), event_text(event));
    if (!co->sm)
        return;
    do_statemachine_run(co, (int)(sm_cas(0) | event), 0);
    if (!co->sm)
        return;
    uint32_t state = (uint32_t)statemachine_get_state(co->sm);
    if (event == CAS_EVENT_IDLE && state != (uint32_t)SM_CAS_CALL_REFERRING &&
        state != (uint32_t)SM_CAS_HOLD_IN_PROGRESS) {
        LOGD_CALL(CAS, 5, co, "calling reset_op for %p", (void *)co);
        reset_op(co);
        return;
    }
    cas_finish_machine_run(co);
}

bool starts_call(int port, unsigned event)
{
    switch (cas_get_signalling(port)) {
    case CAS_SIGNALLING_T1_FXOKS:
        return event == CAS_EVENT_RINGING;
    case CAS_SIGNALLING_T1_FXSKS:
        return event == CAS_EVENT_OFFHOOK;
    case CAS_SIGNALLING_E1_MFCR2:
        return event == CAS_EVENT_SEIZE;
    default:
        return false;
    }
}

} // namespace

int cas_cb_events(int port, unsigned int event)
{
    if (!g_lock_manager)
        return 0;
    pthread_mutex_lock(g_lock_manager->global_lock);
    call_object *co = get_operation_by_cas_port(port);
    LOGD(CAS, 0, nullptr, "%d cas_cb_events: %d - %s", port, (int)event, event_text(event));
    if (co) {
        event_of_call(co, port, event);
    } else {
        if (cas_get_port_in_use(port))
            LOGD(CAS, 0, nullptr, "CRITICAL: CAS port %i already in use", port);
        if (starts_call(port, event)) {
            init_incoming_cas_call(port, (int)event, "", nullptr);
            trace_indication(nullptr, port, event);
        }
    }
    pthread_mutex_unlock(g_lock_manager->global_lock);
    return 0;
}

// ---- calls from a channel ----------------------------------------------------------------------

int init_incoming_cas_call(int port, int event, const char *oad, call_object **retco)
{
    // 1.
    if (gp->reject_calls) {
        LOGD(CAS, 3, nullptr, "Ignoring incoming cas call => tarn shutting down");
        return -1;
    }
    printf("init_incoming_cas_call: port %i event %i\n", port, event);
    // 2.
    call_object *co = get_free_operation_handle(1);
    if (!co) {
        LOGD(CAS, 0, nullptr, "No free call object");
        return -1;
    }
    if (retco)
        *retco = co;
    LOGN(CAS, 0, "INCOMING CALL FROM CAS: PID %i", co->pid);
    cas_fetch_port(port);
    co->cas_port = port; // from here the reset gives the channel back
    co->cl_sip_out = get_new_sip_call_leg();
    co->cl_sip = co->cl_sip_out;
    if (!co->cl_sip)
        return stop_admission(co, port, "no free SIP leg");
    gp->callstat.counter_pstn_to_sip++;
    if (uint32_t *slot = callstat_port(gp->callstat.counter_cas_to_sip_port, port))
        (*slot)++;
    // 3.
    char buf[4096];
    if (cas_port_setting(port, CFG_CAS_PORT_CONFIG, buf, sizeof buf) != 0)
        return stop_admission(co, port, "no configuration");
    cc_init_call_configuration(&co->cc);
    call_configuration *source = cc_parse_call_configuration_pool(co, buf);
    cc_release_call_configuration(co->cc_source);
    co->cc_source = source;
    call_configuration *active = co->cc_active ? co->cc_active : &co->cc;
    if (source)
        cc_update_call_configuration(active, source);
    co->cdr.from = TECH_CAS;
    co->cdr.call_start = time(nullptr);
    co->cas_port_stored = port;
    co->callinfo = CI_CAS_TO_SIP;
    co->tdm_logical_timeslot = get_logical_timeslot(co, CAS_TDM_PORT_OFFSET + port, 1);
    LOGD_CALL(CAS, 9, co, "got logical timeslot %i for port %i channel %i", co->tdm_logical_timeslot,
              CAS_TDM_PORT_OFFSET + port, 1);
    LOGM(CAS, 17, "%s C IND : %s", cinfo(co), event_text((unsigned)event));
    // 4.
    char overlap[32];
    if (cas_port_setting(port, CFG_CAS_PORT_OVERLAP_DIALING, overlap, sizeof overlap) != 0 ||
        cas_port_setting(port, CFG_CAS_PORT_TONES, buf, sizeof buf) != 0)
        return stop_admission(co, port, "no overlap or tones setting");
    char *w = buf;
    for (const char *r = buf; *r; r++)
        if (*r != '[' && *r != ']')
            *w++ = *r;
    *w = '\0';
    copy_text(co->cas_call_progress_country_code, buf, sizeof co->cas_call_progress_country_code - 1);
    if (strcasecmp(overlap, "yes") == 0 || strcmp(overlap, "1") == 0) {
        co->f.overlap_dialing = 1;
        free_address_info(co->cl_sip_out->address_info);
        co->cl_sip_out->address_info = create_dummy_address_info();
    }
    // 5.
    if (cas_port_setting(port, CFG_CAS_PORT_CONFIG, buf, sizeof buf) != 0)
        return stop_admission(co, port, "no configuration");
    source = cc_parse_call_configuration_pool(co, buf);
    cc_release_call_configuration(co->cc_source);
    co->cc_source = source;
    if (source)
        active->pcmlaw = source->pcmlaw;
    // 6.
    switch (cas_get_signalling(port)) {
    case CAS_SIGNALLING_T1_FXOKS:
        if (oad && oad[0])
            copy_text(co->cas_oad, oad, CID_CHARS);
        co->sm = create_statemachine_cas_fxo_to_sip(co, SM_INACTIVE, nullptr);
        if (!co->sm)
            return stop_admission(co, port, "no state machine");
        copy_text(co->cas_dad, pg_cas_get_clip_by_port(port), CAS_NUMBER_FIELD - 1);
        do_statemachine_run(co, sm_general(GENERAL_EVENT_CAS_INIT_INCOMING), 0);
        break;
    case CAS_SIGNALLING_T1_FXSKS:
        copy_text(co->cas_oad, pg_cas_get_clip_by_port(port), CAS_NUMBER_FIELD - 1);
        copy_text(co->cas_display, pg_cas_get_cnip_by_port(port), CAS_NUMBER_FIELD - 1);
        if (!start_dummy_rtp(co, PCMA))
            return stop_admission(co, port, "no RTP port");
        call_msp_setup_voice_channel(co, 1);
        start_msp_cas_dial_tone(co);
        co->sm = create_statemachine_cas_fxs_to_sip(
            co, co->f.overlap_dialing ? SM_CAS_WAIT_FOR_DIALING_OD : SM_CAS_WAIT_FOR_DIALING, nullptr);
        if (!co->sm)
            return stop_admission(co, port, "no state machine");
        co->sm_state = (uint32_t)statemachine_get_state(co->sm);
        if (!co->f.overlap_dialing && !arm_digit_timer(co, port))
            return stop_admission(co, port, "no initial digit timeout");
        break;
    case CAS_SIGNALLING_E1_MFCR2:
        if (!start_dummy_rtp(co, PCMU))
            return stop_admission(co, port, "no RTP port");
        co->sm = create_statemachine_cas_fxo_to_sip(co, SM_CAS_MF_SIGNALLING, nullptr);
        if (!co->sm)
            return stop_admission(co, port, "no state machine");
        co->sm_state = SM_CAS_MF_SIGNALLING;
        do_statemachine_run(co, sm_cas(CAS_EVENT_SEIZE), 0);
        break;
    default:
        _tarn_exit(86, __FILE__, __LINE__, "CAS state error");
    }
    // 7.
    cas_finish_machine_run(co);
    return 0;
}
