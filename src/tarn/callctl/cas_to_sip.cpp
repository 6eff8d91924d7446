// Table actions of calls from a CAS channel toward SIP: the digits an FXS-KS
// telephone dials and the end of dialling, the dial plan and the number
// rewriting, the caller id an exchange delivers, and the INVITE.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analog_callctl.h"
#include "analog_callctl_internal.h"
#include "analogctl.h"
#include "application.h"
#include "call_object.h"
#include "cas_callctl.h"
#include "cas_callctl_internal.h"
#include "cc_internal.h"
#include "dialplan.h"
#include "dialplan_mangle.h"
#include "dialplan_search.h"
#include "dtmf.h"
#include "isdn_to_sip.h"
#include "log.h"
#include "log_backend.h"
#include "media_relay.h"
#include "media_start.h"
#include "media_voice.h"
#include "msp_resource.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "rtp_ports.h"
#include "schema.h"
#include "sip_trace.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "timer.h"

namespace {

enum { CP_TONE_CONGESTION = 3, TONE_SET_CHARS = 15, CID_WAIT_DEFAULT_S = 5 };

call_object *call_of(void *p) { return (call_object *)p; }

const char *text(const char *s) { return s ? s : ""; }

void set_timer_seconds(kv_timer *t, int seconds)
{
    if (!t)
        return;
    timer_reset_interval(t, seconds > 0 ? seconds : 0, seconds > 0 ? 0 : TIMER_TICK_MS * 1000);
    timer_restart(t);
}

void stop_dial_tone(call_object *co)
{
    if (co->cas_dial_tone_stopped || !(co->msp_state & MSP_VOICE_ACTIVE))
        return;
    stop_msp_analog_dial_tone(co);
    co->cas_dial_tone_stopped = 1;
}

bool search_dialplan(call_object *co)
{
    if (!dialplan_search_from_cas(co) || !co->dp)
        return false;
    LOGD_CALL(CAS, 5, co, "found dialplan");
    line_to_sip_take_dialplan_line(co);
    return true;
}

// Without a dial plan result: {SM_DISMANTLING, no event}.
statemachine_handle_retval dismantle_without_dialplan(call_object *co)
{
    if (co->dp)
        return CAS_ROW;
    return {SM_DISMANTLING, SM_NO_EVENT};
}

void trace_invite(call_object *co)
{
    const dialplan_element *dp = co->dp;
    const char *src = text(co->new_source), *dst = text(co->new_destination);
    _verbose_msg(__FILE__, __LINE__, __func__,
                 "D INCOMING|CID=%05i<br>%s=>%s, from_id=%s, to_id=%s, line=%i<br>cport:%i<br>cas_oad=%s<br>"
                 "cas_dad=%s<br>newsrc=%s, newsrc_auto=%s<br>newdest=%s, newdestauto=%s\n",
                 co->pid, dialplan_get_tech_name(dp ? dp->from_tech : TECH_CAS),
                 dialplan_get_tech_name(dp ? dp->to_tech : TECH_SIP), dp ? text(dp->from_id) : "",
                 dp ? text(dp->to_id) : "", dp ? dp->line : 0, co->cas_port, text(co->cas_oad), text(co->cas_dad),
                 src, co->new_source_auto && co->new_source_auto[0] ? co->new_source_auto : src, dst,
                 co->new_destination_auto && co->new_destination_auto[0] ? co->new_destination_auto : dst);
    print_verbose_sip_msg(0, co, "INVITE");
}

} // namespace

// ---- digits and the end of dialling -----------------------------------------------------------

SM_ACTION(sm_cas_to_sip_incoming_digits)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    set_timer_seconds(co->timer, co->overlap_dialing_timeout);
    char c = tonedetect_to_ascii((unsigned char)co->cas_dtmf);
    if (c != (char)255 && c && !cas_append_digit(co->cas_dad, c))
        LOGD_CALL(CAS, 3, co, "digit %c ignored: the dialled number is full", c);
    printf("last dtmf %i => %i %c\n", (int)co->cas_dtmf, (int)co->cas_dtmf, c);
    if ((int)strlen(co->cas_dad) > cas_dialtone_digits(co->cas_port))
        stop_dial_tone(co);
    return CAS_ROW;
}

SM_ACTION(sm_cas_to_sip_reset_dial_timer)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (!co->timer)
        return CAS_ROW;
    int n = (int)strlen(co->cas_dad);
    if (n > cas_dialtone_digits(co->cas_port))
        set_timer_seconds(co->timer, co->overlap_dialing_timeout);
    else if (n > 0)
        set_timer_seconds(co->timer, co->overlap_dialing_initial_timeout);
    return CAS_ROW;
}

SM_ACTION(sm_cas_to_sip_check_if_dialing_complete)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    const call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    if (cc->interdigit_dialing_max_digits > 0 && strlen(co->cas_dad) >= cc->interdigit_dialing_max_digits) {
        LOGD_CALL(CAS, 5, co, "dialing is complete, interdigit_dialing_max_digits %i reached",
                  (int)cc->interdigit_dialing_max_digits);
        add_sm_task(co, sm_general(GENERAL_EVENT_SEND_INVITE));
        return CAS_ROW;
    }
    if (co->f.overlap_dialing || pg_cas_get_complete_dialing_on_pound_or_star(co->cas_port) <= 0)
        return CAS_ROW;
    if (char *mark = strpbrk(co->cas_dad, "*#")) {
        LOGD_CALL(CAS, 5, co, "dialing is complete, cas dad end signaled with %c", *mark);
        *mark = '\0';
        add_sm_task(co, sm_general(GENERAL_EVENT_SEND_INVITE));
    }
    return CAS_ROW;
}

// ---- dial plan and rewriting ----------------------------------------------------------------

SM_ACTION(sm_cas_to_sip_search_dialplan)
{
    (void)arg, (void)state, (void)event;
    search_dialplan(call_of(p));
    return CAS_ROW;
}

SM_ACTION(sm_cas_to_sip_search_dialplan_if_dad_empty)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->cas_dad[0])
        return CAS_ROW;
    stop_dial_tone(co);
    search_dialplan(co);
    return CAS_ROW;
}

SM_ACTION(sm_cfxs_to_sip_dismantle_call_if_no_dialplan)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (!co->dp)
        search_dialplan(co);
    if (co->dp)
        return CAS_ROW;
    call_stop_rtp(co, 1);
    char set[TONE_SET_CHARS + 1];
    media_port_tone_set(TONESET_CAS, co->cas_port, set, sizeof set);
    call_start_msp_tone(co, set, CP_TONE_CONGESTION);
    co->cdr.tc_incoming_status = 0;
    co->cdr.terminated_by = 0;
    co->cdr.tc_incoming_event = 0;
    return dismantle_without_dialplan(co);
}

SM_ACTION(sm_cfxo_to_sip_dismantle_call_if_no_dialplan)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (!co->dp)
        LOGD_CALL(CAS, 3, co, "No dialplan");
    return dismantle_without_dialplan(co);
}

SM_ACTION(sm_cas_to_sip_mangle_numbers)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    LOGD_CALL(CAS, 7, co, ":");
    dialplan_mangle_names_pstn_to_sip(co);
    return CAS_ROW;
}

SM_ACTION(sm_cas_to_sip_fax_detect_mangle_numbers)
{
    (void)arg, (void)state, (void)event;
    pstn_to_sip_fax_detect_mangle_numbers(call_of(p), false);
    return CAS_ROW;
}

SM_ACTION(sm_cas_to_sip_crop_oad)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    size_t n = strlen(co->cas_oad);
    if (n > 0)
        memmove(co->cas_oad, co->cas_oad + 1, n); // the calling party's category goes
    return CAS_ROW;
}

SM_ACTION(sm_cfxo_set_termination_reason)
{
    (void)p, (void)arg, (void)state;
    call_object *co = call_of(p);
    int type = 0, code = 0, status = 0;
    decode_complex_event(event, &type, &code, &status);
    if (type == SM_EVENT_TYPE_GENERAL && code == GENERAL_EVENT_ANALOG_UNOBTAINABLETONE_DETECTED) {
        co->special_termination_reason = 14;
        co->cdr.terminated_by = 5;
        co->cdr.tc_incoming_event = ANALOG_EVENT_UNOBTAINABLE_TONE;
    } else if (type == SM_EVENT_TYPE_GENERAL && code == GENERAL_EVENT_ANALOG_BUSYTONE_DETECTED) {
        co->special_termination_reason = 13;
        co->cdr.terminated_by = 5;
        co->cdr.tc_incoming_event = ANALOG_EVENT_BUSY_TONE;
    } else {
        co->special_termination_reason = 0;
    }
    return CAS_ROW;
}

// ---- caller id from an exchange -------------------------------------------------------------

SM_ACTION(sm_cas_to_sip_wait_for_analog_cid_if_configured)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    char wait[32], timeout[32];
    cas_port_setting(co->cas_port, CFG_CAS_PORT_FXO_WAIT_FOR_OAD, wait, sizeof wait);
    if (strcmp(wait, "wait") != 0)
        return CAS_ROW;
    int seconds = cas_port_setting(co->cas_port, CFG_CAS_PORT_FXO_CALLERID_DETECTION_TIMEOUT, timeout,
                                   sizeof timeout) == 0
                      ? atoi(timeout)
                      : CID_WAIT_DEFAULT_S;
    if (seconds < 1 || seconds > 19)
        seconds = CID_WAIT_DEFAULT_S;
    analog_arm_timer(&co->timer, seconds, 0, T_EVENT_ANALOG_WAIT_FOR_CID_TIMEOUT);
    return {SM_CAS_WAIT_FOR_CID, SM_NO_EVENT};
}

// ---- the INVITE -----------------------------------------------------------------------------

SM_ACTION(sm_cas_to_sip_send_invite)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    pstn_to_sip_fax_detect_mangle_numbers(co, false);
    return line_to_sip_send_invite(co, trace_invite);
}
