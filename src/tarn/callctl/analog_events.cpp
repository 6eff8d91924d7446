// The analog line callback and the admission of calls that start on an
// analog port: an exchange line ringing on an FXO port, a telephone lifting
// its handset on an FXS port.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "analog_callctl.h"
#include "analog_callctl_internal.h"
#include "analog_watchdog.h"
#include "analogctl.h"
#include "application.h"
#include "call_lookups.h"
#include "call_object.h"
#include "call_reset.h"
#include "call_statistics.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "isdn_events.h"
#include "line_bringup.h"
#include "log.h"
#include "log_backend.h"
#include "media_start.h"
#include "media_voice.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "rtp_ports.h"
#include "schema.h"
#include "sm_run.h"
#include "state_names.h"
#include "state_table_actions.h"
#include "state_tables.h"
#include "statemachine.h"
#include "timer.h"

namespace {

enum { FXO_CALLER_ID_CHARS = 32, NUMBER_FIELD = 64, G711A = 8 };

const char *event_name(int port, int event)
{
    return analog_event_to_str(analog_get_type_by_port(port), event);
}

void trace_indication(const call_object *co, int port, int event)
{
    char format[64];
    snprintf(format, sizeof format, "A %s|INDICATION|CID=%%05i<br>port=%%d\n", event_name(port, event));
    _verbose_msg(__FILE__, __LINE__, __func__, format, co ? co->pid : 0, port);
}

uint32_t machine_state(const call_object *co)
{
    return co->sm ? (uint32_t)statemachine_get_state(co->sm) : (uint32_t)co->sm_state;
}

// The call object back to its pool: machine, timers, media, the port's
// in-use mark (when the call holds the port).
void release_call(call_object *co)
{
    if (co->sm) {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
    }
    LOGD_CALL(ANALOG, 5, co, "calling reset_op for %p", (void *)co);
    reset_op(co);
}

// What follows every machine run of an analog call: a destroyed machine
// frees the call and parks the watchdog on the port again; a dismantling
// one starts its timer.
void finish_machine_run(call_object *co, int port)
{
    if (!co->sm)
        return;
    uint32_t state = (uint32_t)statemachine_get_state(co->sm);
    if (state == SM_DESTROYING) {
        release_call(co);
        start_analog_watchdog_on_port(port, 0);
    } else if (state == SM_DISMANTLING) {
        start_dismantling_timer(co);
    }
}

// Caller id that a Bellcore FXO line sent before the ring: kept when it
// came at most eo_etsi_fsk_window seconds ago, else dropped.
void ringing_pending(call_object *co, int port)
{
    co->f.analog_ringing_pending = 1;
    if (gp->analog_info->cid_mode[port] != CID_MODE_BELLCORE)
        return;
    int window = gp->experimental_options ? gp->experimental_options->eo_etsi_fsk_window : 0;
    time_t now = analog_clock(nullptr);
    long age = (long)(now - co->analog_cid_received);
    if (window > 0 && co->analog_oad[0] && co->analog_cid_received && age <= window)
        LOGD_CALL(ANALOG, 3, co, "keeping caller id received %lds before ringing", age);
    else
        co->analog_oad[0] = '\0';
    co->analog_cid_received = 0;
}

// The watchdog call of an idle FXO port turns into a real incoming call,
// with the caller id it collected.
void watchdog_to_call(call_object *co, int port, int event)
{
    sm_analog_to_sip_process_oad(co, nullptr, 0, 0);
    char oad[NUMBER_FIELD];
    snprintf(oad, sizeof oad, "%s", co->analog_oad);
    release_call(co);
    call_object *fresh = nullptr;
    init_incoming_analog_call(port, event, oad, &fresh, 0);
    trace_indication(fresh, port, event);
}

void line_event(int port, int event)
{
    call_object *co = get_operation_by_analog_port(port);
    const port_group_analog *g = pg_get_port_group_analog_by_port(port);
    int verify_ringing = g ? g->fxo_verify_ringing : 0;
    if (co) {
        if (event == ANALOG_EVENT_RINGING_PENDING)
            ringing_pending(co, port);
        else
            co->f.analog_ringing_pending = 0;
    }
    LOGD(ANALOG, 0, co ? cinfo(co) : nullptr, "%d analog_cb_events: %d - %s", port, event, event_name(port, event));

    if (!co) {
        bool starts = (analog_port_is_fxo(port) && event == ANALOG_EVENT_RINGING) ||
                      (analog_port_is_fxs(port) && event == ANALOG_EVENT_OFFHOOK);
        if (!starts)
            return;
        call_object *fresh = nullptr;
        init_incoming_analog_call(port, event, "", &fresh, 0);
        trace_indication(fresh, port, event);
        return;
    }

    uint32_t state = machine_state(co);
    bool watchdog = state == SM_ANALOG_FXO_CID_WATCHDOG && analog_port_is_fxo(port);
    if (watchdog && event == ANALOG_EVENT_RINGING_PENDING && verify_ringing)
        return;
    if (watchdog && (event == ANALOG_EVENT_RINGING || event == ANALOG_EVENT_RINGING_PENDING)) {
        watchdog_to_call(co, port, event);
        return;
    }

    trace_indication(co, port, event);
    LOGM(ANALOG, 17, "%s A IND : event %s state %s", cinfo(co), event_name(port, event),
         print_sm_state_call(co, state));
    bool ringing = state == 0x20000 || state == SM_ANALOG_FXS_RINGING || state == SM_ANALOG_FXO_RINGING;
    if (co->sm && event != ANALOG_EVENT_IDLE_PENDING && !(event == ANALOG_EVENT_RINGING && ringing))
        do_statemachine_run(co, sm_analog(event), 0);
    state = machine_state(co);
    if (event == ANALOG_EVENT_IDLE && !watchdog && state != SM_ANALOG_FXS_CALL_REFERRING &&
        state != SM_ANALOG_FXS_HOLD_IN_PROGRESS) {
        release_call(co);
        start_analog_watchdog_on_port(port, 0);
        return;
    }
    finish_machine_run(co, port);
}

// A port key of the analog configuration; false when there is none.
bool port_setting(int port, int key, char *buf, size_t size)
{
    return analog_port_setting(port, key, buf, size) == 0;
}

// Admission stopped after the call object was taken: back to the pool
// with the port's mark, when the call holds the port.
int refuse(call_object *co)
{
    co->cdr.terminated_by = 0;
    release_call(co);
    return -1;
}

void copy_field(char *dst, size_t size, const char *src)
{
    snprintf(dst, size, "%s", src ? src : "");
}

// "[us]" -> "us"
void tone_code(char *dst, size_t size, const char *tones)
{
    size_t n = 0;
    for (const char *s = tones; *s && n + 1 < size; s++)
        if (*s != '[' && *s != ']')
            dst[n++] = *s;
    dst[n] = '\0';
}

int seconds_of(const char *text)
{
    int v = atoi(text);
    return v < 0 ? 0 : v;
}

// Step 7: the exchange rings; the machine starts with the caller id that
// came before the ring.
int start_fxo_call(call_object *co, int port, const char *oad)
{
    if (oad && oad[0])
        snprintf(co->analog_oad, FXO_CALLER_ID_CHARS + 1, "%s", oad);
    co->sm = create_statemachine_fxo_to_sip(co, SM_INACTIVE, tarn_send_event);
    co->sm_state = SM_INACTIVE;
    copy_field(co->analog_dad, NUMBER_FIELD, pg_analog_get_clip_by_port(port));
    if (co->sm)
        do_statemachine_run(co, sm_general(GENERAL_EVENT_ANALOG_INIT_INCOMING), 0);
    return 0;
}

// Step 8: the telephone lifted its handset; dial tone until it dials.
int start_fxs_call(call_object *co, int port)
{
    copy_field(co->analog_oad, NUMBER_FIELD, pg_analog_get_clip_by_port(port));
    copy_field(co->analog_display, NUMBER_FIELD, pg_analog_get_cnip_by_port(port));
    call_leg_sip *leg = co->cl_sip;
    snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", gp->dummy_rtp_address);
    leg->rtp_remote_port = gp->dummy_rtp_port;
    co->f.dummy_rtp = 1;
    if (!update_rtp_port(co, leg)) {
        LOGD_CALL(ANALOG, 1, co, "CRITICAL: no free RTP port for the analog call on port %i", port);
        return refuse(co);
    }
    leg->using_codec = G711A;
    leg->using_payload = G711A;
    call_msp_setup_voice_channel(co, 1);
    start_msp_analog_dial_tone(co);
    bool overlap = co->f.overlap_dialing;
    uint32_t state = overlap ? SM_ANALOG_FXS_WAIT_FOR_DIALING_OD : SM_ANALOG_FXS_WAIT_FOR_DIALING;
    co->sm = create_statemachine_fxs_to_sip(co, (int)state, tarn_send_event);
    co->sm_state = state;
    if (overlap)
        return 0;
    int wink_duration = pg_analog_get_fxs_wink_duration_by_port(port);
    if (wink_duration != 0) {
        int offset = pg_analog_get_fxs_wink_offset_by_port(port);
        if (offset < 0)
            offset = 0;
        analog_arm_timer(&co->fxs_wink_offset_timer, offset / 1000, (long)(offset % 1000) * 1000,
                         T_EVENT_FXS_WINK_TIMER);
    }
    LOGD_CALL(ANALOG, 5, co, "initializing timer for co %p (index %i)!", (void *)co, co->index);
    char buf[64];
    co->overlap_dialing_timeout = port_setting(port, CFG_ANALOG_PORT_INTERDIGIT_TIMEOUT, buf, sizeof buf)
                                      ? seconds_of(buf)
                                      : 0;
    bool have_initial = port_setting(port, CFG_ANALOG_PORT_INTERDIGIT_TIMEOUT_INITIAL, buf, sizeof buf);
    co->overlap_dialing_initial_timeout = have_initial ? seconds_of(buf) : 0;
    if (!have_initial)
        return refuse(co);
    analog_arm_timer(&co->timer, co->overlap_dialing_initial_timeout, 0, T_EVENT_DIALING);
    return 0;
}

} // namespace

int analog_cb_events(int port, unsigned int event)
{
    if (!gp || !gp->analog_info || port < 1 || port >= ANALOG_INFO_PORTS) {
        LOGD(ANALOG, 1, nullptr, "analog event %u on port %d without port, dropped", event, port);
        return 0;
    }
    lock_hold hold(&lock_manager::global_lock);
    line_event(port, (int)event);
    return 0;
}

int init_incoming_analog_call(int port, int event, const char *oad, call_object **retco, int hold)
{
    (void)event;
    port = analog_port_number(port);
    if (retco)
        *retco = nullptr;
    // 1.
    if (gp->reject_calls) {
        LOGD(ANALOG, 3, nullptr, "Ignoring incoming analog call => tarn shutting down");
        return -1;
    }
    if (port < 1 || port >= ANALOG_INFO_PORTS || !gp->analog_info)
        return -1;
    // 2.
    call_object *co = get_free_operation_handle(1);
    if (!co) {
        LOGD(ANALOG, 0, nullptr, "CRITICAL: No free call object");
        return -1;
    }
    if (retco)
        *retco = co;
    LOGN(ANALOG, 0, "INCOMING CALL FROM ANALOG: PID %i", co->pid);
    co->cl_sip = co->cl_sip_out = get_new_sip_call_leg();
    if (!co->cl_sip) {
        LOGD_CALL(ANALOG, 0, co, "CRITICAL: no free SIP leg for the analog call on port %i", port);
        if (retco)
            *retco = nullptr;
        return refuse(co);
    }
    gp->callstat.counter_pstn_to_sip++;
    if (uint32_t *slot = callstat_port(gp->callstat.counter_analog_to_sip_port, port))
        (*slot)++;
    // 3.
    if (!hold) {
        if (gp->analog_info->in_use[port]) {
            LOGD_CALL(ANALOG, 1, co, "CRITICAL: Incoming analog call on port %i, which seems to be in use", port);
            if (retco)
                *retco = nullptr;
            return refuse(co); // the port's mark belongs to the call that holds it
        }
        gp->analog_info->in_use[port] = 1;
    }
    // 4.
    co->cdr.from = TECH_ANALOG;
    co->cdr.call_start = time(nullptr);
    cc_init_call_configuration(&co->cc);
    co->analog_port = port;
    co->analog_port_stored_for_hold = port;
    co->analog_type = gp->analog_info->type[port];
    co->callinfo = CI_ANALOG_TO_SIP;
    co->tdm_logical_timeslot = get_logical_timeslot(co, port + ANALOG_TDM_PORT, 1);
    LOGD_CALL(ANALOG, 9, co, "got logical timeslot %i for port %i channel %i", co->tdm_logical_timeslot,
              port + ANALOG_TDM_PORT, 1);
    LOGM(ANALOG, 17, "%s A IND : %s", cinfo(co), event_name(port, event));
    // 5.
    char overlap[64], tones[64];
    if (!port_setting(port, CFG_ANALOG_PORT_OVERLAP_DIALING, overlap, sizeof overlap) ||
        !port_setting(port, CFG_ANALOG_PORT_TONES, tones, sizeof tones)) {
        LOGD_CALL(ANALOG, 1, co, "CRITICAL: analog port %i has no overlap_dialing or tones setting", port);
        return refuse(co);
    }
    tone_code(co->analog_call_progress_country_code, sizeof co->analog_call_progress_country_code, tones);
    if (!strcasecmp(overlap, "yes") || !strcmp(overlap, "1")) {
        co->f.overlap_dialing = 1;
        free_address_info(co->cl_sip->address_info);
        co->cl_sip->address_info = create_dummy_address_info();
    }
    // 6.
    char config[4096];
    if (!port_setting(port, CFG_ANALOG_PORT_CONFIG, config, sizeof config)) {
        LOGD_CALL(ANALOG, 1, co, "CRITICAL: analog port %i has no call configuration", port);
        return refuse(co);
    }
    call_configuration *source = cc_parse_call_configuration_pool(co, config);
    cc_release_call_configuration(co->cc_source);
    co->cc_source = source;
    // 7. 8.
    int r = analog_port_is_fxo(port) ? start_fxo_call(co, port, oad) : start_fxs_call(co, port);
    if (r != 0) {
        if (retco)
            *retco = nullptr;
        return r;
    }
    // 9.
    finish_machine_run(co, port);
    return 0;
}
