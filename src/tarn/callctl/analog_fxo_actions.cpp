// Table actions of calls on FXO lines (and the CAS rows that share them):
// seizing and releasing the line, dialling out, the call-progress timers,
// judging line signals (polarity reversal, busy and unobtainable tones),
// the SIP answers that FXO call progress turns into, and the caller id an
// exchange line delivers before or after the first ring.
#include <sofia-sip/nua.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analog_callctl.h"
#include "analog_callctl_internal.h"
#include "analogctl.h"
#include "application.h"
#include "call_object.h"
#include "call_progress.h"
#include "confman.h"
#include "dialplan.h"
#include "dtmf.h"
#include "line_bringup.h"
#include "log.h"
#include "log_backend.h"
#include "media_start.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "analog_watchdog.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "schema.h"
#include "sip_responses.h"
#include "sip_to_isdn.h"
#include "sip_trace.h"
#include "sm_run.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "timer.h"

namespace {

call_object *call_of(void *p) { return (call_object *)p; }

enum { CAS_PORT_SECTION = 1, CID_GAP_SECONDS = 3, FXO_OAD_SIZE = 33 };

// ---- the call-ending signals -----------------------------------------------------------

// The signals that end a connected FXO call on this call's line: the analog
// port's fxo_call_ending_signal, or the CAS port's for a CAS call.
void call_ending_signals(const call_object *co, char *buf, size_t size)
{
    buf[0] = '\0';
    if (analog_is_cas_call(co)) {
        if (!gp || !gp->config_cas ||
            cm_get(gp->config_cas, buf, size, CAS_PORT_SECTION, CFG_CAS_PORT_FXO_CALL_ENDING_SIGNAL, co->cas_port) != 0)
            buf[0] = '\0';
        return;
    }
    analog_port_setting(co->analog_port, CFG_ANALOG_PORT_FXO_CALL_ENDING_SIGNAL, buf, size);
}

statemachine_handle_retval ending_signal_rule(call_object *co, const char *signal, const char *ignoring)
{
    char signals[256];
    call_ending_signals(co, signals, sizeof signals);
    if (strstr(signals, signal))
        return ANALOG_ROW;
    LOGD_CALL(ANALOG, 5, co, "%s", ignoring);
    return ANALOG_KEEP;
}

// ---- FXO call-progress timers ---------------------------------------------------------

const cpt_s2fxo *progress_table(const call_object *co)
{
    return co->s2fxo_cpt ? co->s2fxo_cpt : gp ? gp->s2fxo_cpt_default : nullptr;
}

void arm_fxo_cpt_timer(call_object *co, int milliseconds, int event)
{
    analog_remove_timer(&co->fxo_cpt_timer);
    long sec = milliseconds / 1000, usec = (long)(milliseconds % 1000) * 1000;
    LOGD_CALL(ANALOG, 5, co, "seconds %i.%i", (int)sec, (int)usec);
    if (milliseconds < 0)
        return; // the table has no such timer
    analog_arm_timer(&co->fxo_cpt_timer, sec, usec, event);
}

// ---- progress answers -----------------------------------------------------------------

int fxo_progress_event(int32_t event)
{
    int type = 0, code = 0, status = 0;
    decode_complex_event(event, &type, &code, &status);
    switch (type) {
    case SM_EVENT_TYPE_GENERAL:
        switch (code) {
        case GENERAL_EVENT_ANALOG_FXO_DIALING_FINISHED: return CP_SIP2FXO_DIALING_FINISHED;
        case GENERAL_EVENT_ANALOG_RINGBACKTONE_DETECTED: return CP_SIP2FXO_ALERTING_STARTED;
        case GENERAL_EVENT_PSTN_NTENERGY_DET: return CP_SIP2FXO_FAR_END_OFFHOOK_DETECT;
        default: return -1;
        }
    case SM_EVENT_TYPE_TIMER:
        switch (code) {
        case T_EVENT_FXO_CPT_DIALING_TIMER: return CP_SIP2FXO_DIALING_FINISHED_TIMER;
        case T_EVENT_FXO_CPT_POLREV_TIMER: return CP_SIP2FXO_POLREV_TIMER;
        case T_EVENT_FXO_ALERTING_ENDED_TIMER: return CP_SIP2FXO_ALERTING_ENDED;
        default: return -1;
        }
    case SM_EVENT_TYPE_ANALOG:
        switch (code) {
        case ANALOG_EVENT_POLARITY_STANDARD: return CP_SIP2FXO_POLREV;
        case ANALOG_EVENT_POLARITY_CONNECT: return CP_SIP2FXO_POLREV_CONNECT;
        default: return -1;
        }
    default:
        return -1;
    }
}

// Once answered, the far end's off-hook needs no more detecting.
void disable_ntenergy_detector(call_object *co)
{
    magic_csm m = create_default_csm_msg(FC_VOIP_NTENERGY_SET, gp->msp_counter++);
    if (csm_msg_is_null(m))
        return;
    m.u_csmchan_voip_ntenergy_set->non_tonal_energy_detector_disable = 1;
    msp_queue_command(m, co->tdm_logical_timeslot, co, 0, 0);
}

// ---- caller id ----------------------------------------------------------------------------

int port_cid_mode(int port)
{
    port = analog_port_number(port);
    if (!gp || !gp->analog_info || port < 1 || port >= ANALOG_INFO_PORTS)
        return CID_MODE_BELLCORE;
    return gp->analog_info->cid_mode[port];
}

void keep_digits_only(char *text)
{
    size_t n = 0;
    for (const char *c = text; *c; c++)
        if (*c >= '0' && *c <= '9')
            text[n++] = *c;
    text[n] = '\0';
}

char dtmf_char(int code)
{
    static const char chars[] = "0123456789*#ABCD";
    return code >= 0 && code < 16 ? chars[code] : '\0';
}

} // namespace

// ---- line seizure and release --------------------------------------------------------------

SM_ACTION(sm_analog_send_offhook)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->analog_port > 0) {
        co->dismantling_timeout = 5;
        verbose_analog_send_event(co, co->analog_port, ANALOG_EVENT_OFFHOOK);
    }
    return ANALOG_ROW;
}

SM_ACTION(sm_analog_send_onhook)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->analog_port > 0) {
        verbose_analog_send_event(co, co->analog_port, ANALOG_EVENT_ONHOOK);
        co->dismantling_timeout = 1;
        start_dismantling_timer(co);
    }
    return ANALOG_ROW;
}

SM_ACTION(sm_analog_dial_number)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->analog_dialing_performed)
        return ANALOG_ROW;
    _verbose_msg(__FILE__, __LINE__, __func__, "A DIALING|REQUEST: port=%d, analog_oad=%s,analog_dad=%s\n",
                 analog_port_number(co->analog_port), co->analog_oad, co->analog_dad);
    co->f.regenerate_inband_dtmf_to_tdm = 1;
    char digits[80];
    snprintf(digits, sizeof digits, "%s:", co->analog_dad);
    _fcbuf_to_flushbuf(DTMF_FLUSH_TO_TDM, co, digits);
    co->analog_dialing_performed = 1;
    return ANALOG_ROW;
}

// ---- call-progress timers and termination reasons ------------------------------------------

SM_ACTION(sm_sip_to_fxo_start_polarity_timer)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    const cpt_s2fxo *t = progress_table(co);
    arm_fxo_cpt_timer(co, t ? t->timeout_polrev : -1, T_EVENT_FXO_CPT_POLREV_TIMER);
    return ANALOG_ROW;
}

SM_ACTION(sm_sip_to_fxo_start_dialing_finished_timer)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    const cpt_s2fxo *t = progress_table(co);
    arm_fxo_cpt_timer(co, t ? t->timeout_dial : -1, T_EVENT_FXO_CPT_DIALING_TIMER);
    return ANALOG_ROW;
}

SM_ACTION(sm_afxo_set_termination_reason)
{
    (void)arg, (void)state;
    call_object *co = call_of(p);
    int type = 0, code = 0, status = 0;
    decode_complex_event(event, &type, &code, &status);
    if (type == SM_EVENT_TYPE_GENERAL && code == GENERAL_EVENT_ANALOG_UNOBTAINABLETONE_DETECTED) {
        co->special_termination_reason = 14;
        co->cdr.terminated_by = TECH_ANALOG;
        co->cdr.tc_incoming_event = ANALOG_EVENT_UNOBTAINABLE_TONE;
    } else if (type == SM_EVENT_TYPE_GENERAL && code == GENERAL_EVENT_ANALOG_BUSYTONE_DETECTED) {
        co->special_termination_reason = 13;
        co->cdr.terminated_by = TECH_ANALOG;
        co->cdr.tc_incoming_event = ANALOG_EVENT_BUSY_TONE;
    } else {
        co->special_termination_reason = 0;
    }
    return ANALOG_ROW;
}

SM_ACTION(sm_afxo_check_if_polarity_disconnect_is_to_be_ignored)
{
    (void)arg, (void)state, (void)event;
    return ending_signal_rule(call_of(p), "polarity", "ignoring polarity disconnect");
}

SM_ACTION(sm_check_if_busy_tone_is_to_be_ignored)
{
    (void)arg, (void)state, (void)event;
    return ending_signal_rule(call_of(p), "busy", "ignoring busy tone");
}

SM_ACTION(sm_check_if_unobtainable_tone_is_to_be_ignored)
{
    (void)arg, (void)state, (void)event;
    return ending_signal_rule(call_of(p), "unobtainable", "ignoring unobtainable tone");
}

// ---- polarity reversal ------------------------------------------------------------------------

SM_ACTION(sm_fxo_handle_polarity_reversal)
{
    (void)arg, (void)event;
    call_object *co = call_of(p);
    if (!pg_get_port_group_analog_by_port(analog_port_number(co->analog_port)))
        return ANALOG_ROW;
    uint32_t now = sm_state_bits(state);
    bool active = now == SM_CALL_ACTIVE;
    if (active)
        co->analog_fxo_polarity_reversal_counter_after_connect++;
    else
        co->analog_fxo_polarity_reversal_counter_before_connect++;
    if (co->callinfo != CI_SIP_TO_ANALOG) {
        printf("NOT CHECKING POLARITY\n");
        return ANALOG_ROW;
    }
    bool before = now == SM_ANALOG_FXO_RINGING || now == SM_ANALOG_FXO_DIALING_FINISHED;
    if (!active && !before)
        return ANALOG_ROW;
    const fxo_pr_definition &rules = co->cc.fxo_out_pr_def;
    int count = rules.count < CC_MAX_FXO_RULES ? rules.count : CC_MAX_FXO_RULES;
    for (int i = 0; i < count; i++) {
        if (active && rules.state[i] == 2 && rules.event[i] == 2 &&
            rules.polarity_counter[i] == co->analog_fxo_polarity_reversal_counter_after_connect) {
            add_sm_task(co, sm_analog(ANALOG_EVENT_POLARITY_DISCONNECT));
            return ANALOG_ROW;
        }
        if (before && rules.state[i] == 1 && rules.event[i] == 1 &&
            rules.polarity_counter[i] == co->analog_fxo_polarity_reversal_counter_before_connect) {
            add_sm_task(co, sm_analog(ANALOG_EVENT_POLARITY_CONNECT));
            return ANALOG_ROW;
        }
    }
    add_sm_task(co, sm_analog(ANALOG_EVENT_POLARITY_STANDARD));
    return ANALOG_ROW;
}

// ---- SIP answers from FXO call progress -------------------------------------------------------

SM_ACTION(sm_s2afxo_send_nua_progress_response)
{
    (void)arg;
    call_object *co = call_of(p);
    call_leg_sip *leg = co->cl_sip;
    char headers[1024] = "";
    xheader_add(co, headers, sizeof headers);
    int fxo_event = fxo_progress_event(event);
    if (fxo_event < 0) {
        LOGD_CALL(ANALOG, 5, co, "for co %p (index %i) -- couldn't find fxoevent!", (void *)co, co->index);
        return ANALOG_ROW;
    }
    const char *name = co->cc.s2fxo_call_progress_table_name;
    if (!co->s2fxo_cpt && name[0]) {
        co->s2fxo_cpt = cpt_s2fxo_get_table_by_name(name);
        if (!co->s2fxo_cpt)
            LOGD_CALL(ANALOG, 1, co, "%s E ERR : couldn't find s2fxo call progress table with name %s", cinfo(co),
                      name);
    }
    if (!leg)
        return ANALOG_ROW;
    cpt_events answer = CP_RESPOND_NOTHING;
    int found = -1;
    if (co->s2fxo_cpt)
        found = cpt_search_s2fxo(co->s2fxo_cpt, fxo_event, leg->sip_response_buffer, sizeof leg->sip_response_buffer,
                                 &answer);
    if (found == -1 && gp && gp->s2fxo_cpt_default)
        cpt_search_s2fxo(gp->s2fxo_cpt_default, fxo_event, leg->sip_response_buffer,
                         sizeof leg->sip_response_buffer, &answer);
    int status = 0;
    bool with_sdp = false;
    switch (answer) {
    case CP_RESPOND_180_SDP:
    case CP_RESPOND_180:
        status = 180, with_sdp = answer == CP_RESPOND_180_SDP;
        co->f.cp_sip_180_sent = 1;
        break;
    case CP_RESPOND_183_SDP:
    case CP_RESPOND_183:
        status = 183, with_sdp = answer == CP_RESPOND_183_SDP;
        co->f.cp_sip_183_sent = 1;
        break;
    case CP_RESPOND_200:
        if (name[0])
            disable_ntenergy_detector(co);
        if (!co->f.cp_sip_200_sent) {
            status = 200, with_sdp = true;
            co->f.cp_sip_200_sent = 1;
            leg->sip_answer = SIP_ANSWER_OK;
        } else if (co->f.cp_second_invite) {
            status = 200, with_sdp = true;
        }
        break;
    default:
        break;
    }
    if (!status)
        return ANALOG_ROW;
    const char *reason = leg->sip_response_buffer;
    if (co->f.cp_second_invite) {
        if (leg->sip_answer == SIP_ANSWER_RINGING)
            reason = "DV_RINGING";
        else if (leg->sip_answer == SIP_ANSWER_PROGRESS)
            reason = "DV_PROCEEDING";
        else
            reason = "DV_OK", with_sdp = true;
    }
    int answer_before = leg->sip_answer;
    if (leg->nh)
        respond_with_progress(co, status, reason, with_sdp, headers);
    if (answer_before != SIP_ANSWER_OK)
        return ANALOG_ROW;
    co->f.connection_established = 1;
    leg->sip_answer = SIP_ANSWER_NOT_NEEDED;
    printf("sip_answer %i => %i \n", answer_before, leg->sip_answer);
    sm_msp_bridge_if_we_can(co, arg, state, event);
    return {SM_CALL_ACTIVE, SM_NO_EVENT};
}

// ---- caller id on FXO lines -------------------------------------------------------------------

SM_ACTION(sm_analog_to_sip_wait_for_analog_cid_if_configured)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    char wait[32], timeout[32];
    analog_port_setting(co->analog_port, CFG_ANALOG_PORT_FXO_WAIT_FOR_OAD, wait, sizeof wait);
    if (strcmp(wait, "wait") != 0)
        return ANALOG_ROW;
    int seconds = analog_port_setting(co->analog_port, CFG_ANALOG_PORT_FXO_CALLERID_DETECTION_TIMEOUT, timeout,
                                      sizeof timeout) == 0
                      ? atoi(timeout)
                      : 5;
    if (seconds < 1 || seconds > 19)
        seconds = 5;
    analog_arm_timer(&co->timer, seconds, 0, T_EVENT_ANALOG_WAIT_FOR_CID_TIMEOUT);
    return {SM_ANALOG_FXO_WAIT_FOR_CID, SM_NO_EVENT};
}

SM_ACTION(sm_analog_to_sip_collect_dtmf_cid)
{
    (void)arg, (void)event;
    call_object *co = call_of(p);
    uint32_t now = sm_state_bits(state);
    int mode = port_cid_mode(co->analog_port);
    bool wanted = (now == SM_ANALOG_FXO_WAIT_FOR_CID && mode == CID_MODE_ETSI_DTMF_AR) ||
                  (now == SM_ANALOG_FXO_CID_WATCHDOG && mode == CID_MODE_ETSI_DTMF);
    char c = dtmf_char(co->analog_dtmf);
    if (!wanted || !c)
        return ANALOG_ROW;
    time_t t = analog_clock(nullptr);
    if (co->connect_start == 0 || t - co->connect_start >= CID_GAP_SECONDS)
        co->analog_oad[0] = '\0';
    if (!analog_append_char(co->analog_oad, FXO_OAD_SIZE, c))
        LOGD_CALL(ANALOG, 3, co, "caller id digit %c ignored: the number is full", c);
    co->connect_start = t;
    return ANALOG_ROW;
}

SM_ACTION(sm_analog_to_sip_process_oad)
{
    (void)arg;
    call_object *co = call_of(p);
    if (!co->analog_oad[0])
        return ANALOG_ROW;
    int mode = port_cid_mode(co->analog_port);
    bool direct_call = state == 0 && event == 0;
    if (mode == CID_MODE_ETSI_DTMF_AR || (mode == CID_MODE_ETSI_DTMF && direct_call))
        keep_digits_only(co->analog_oad);
    return ANALOG_ROW;
}

SM_ACTION(sm_analog_to_sip_check_for_clir_on_oad)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (!co->analog_oad[0] && co->cc_source && co->cc_source->clir_on_oad[0])
        snprintf(co->analog_oad, 64, "%.63s", co->cc_source->clir_on_oad);
    return ANALOG_ROW;
}

SM_ACTION(sm_analog_to_sip_check_for_ringing_pending)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (!co->f.analog_ringing_pending)
        return ANALOG_KEEP;
    mark_analog_port_as_used(co->analog_port);
    return ANALOG_ROW;
}

SM_ACTION(sm_analog_to_sip_check_for_reject_with_offhook_if_no_dialplan)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->dp)
        return ANALOG_ROW;
    if (co->cc.reject_with_offhook && co->analog_port)
        return analog_reject_with_offhook(co);
    return {SM_ANALOG_FXO_WAIT_FOR_IDLE, SM_NO_EVENT};
}
