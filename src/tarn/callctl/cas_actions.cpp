// Table actions that drive a CAS channel: the line signals, the answer of
// a SIP caller on an FXO-KS or MFC/R2 channel, the caller id toward an
// FXS-KS telephone and the dialling of a number by DTMF.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "analog_callctl.h"
#include "application.h"
#include "call_object.h"
#include "call_reset.h"
#include "cas_callctl.h"
#include "cas_callctl_internal.h"
#include "dtmf.h"
#include "experimental_options.h"
#include "log.h"
#include "log_backend.h"
#include "media_start.h"
#include "media_tdm.h"
#include "pools.h"
#include "sdp_offer_answer.h"
#include "sip_headers.h"
#include "sip_responses.h"
#include "sip_to_isdn.h"
#include "sm_run.h"
#include "state_table_actions.h"
#include "t1e1casctl.h"

namespace {

call_object *call_of(void *p) { return (call_object *)p; }

statemachine_handle_retval send_line_signal(void *p, unsigned event)
{
    call_object *co = call_of(p);
    if (co->cas_port)
        verbose_cas_send_event(co->cas_port, event);
    return CAS_ROW;
}

} // namespace

// ---- line signals ---------------------------------------------------------------------------

SM_ACTION(sm_cas_send_seize)
{
    (void)arg, (void)state, (void)event;
    return send_line_signal(p, CAS_EVENT_SEIZE);
}

SM_ACTION(sm_cas_send_seize_acknowledge)
{
    (void)arg, (void)state, (void)event;
    return send_line_signal(p, CAS_EVENT_SEIZE_ACKNOWLEDGE);
}

SM_ACTION(sm_cas_send_offhook)
{
    (void)arg, (void)state, (void)event;
    return send_line_signal(p, CAS_EVENT_OFFHOOK);
}

SM_ACTION(sm_cas_send_onhook)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (!co->cas_port)
        return CAS_ROW;
    verbose_cas_send_event(co->cas_port, CAS_EVENT_ONHOOK);
    co->dismantling_timeout = 1;
    start_dismantling_timer(co);
    co_reset_cas_port(co);
    return CAS_ROW;
}

SM_ACTION(sm_cas_stop_ringing)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    printf("SENDING CAS STOP RINGING ON PORT %i\n", co->cas_port);
    cas_stop_ringing(co->cas_port);
    return CAS_ROW;
}

// ---- the answer of a SIP caller -----------------------------------------------------------

SM_ACTION(sm_s2cfxo_send_nua_progress_response)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    call_leg_sip *leg = co->cl_sip;
    if (!leg || co->f.cp_sip_200_sent)
        return CAS_ROW;
    char headers[1024] = "";
    xheader_add(co, headers, sizeof headers);
    co->f.cp_sip_200_sent = 1;
    leg->sip_answer = SIP_ANSWER_OK;
    const char *reason = leg->sip_response_buffer[0] ? leg->sip_response_buffer : "OK";
    if (leg->nh)
        respond_with_progress(co, 200, reason, true, headers);
    if (!co->f.connection_established)
        return CAS_ROW;
    co->f.start_streaming = 1;
    return {SM_CALL_ACTIVE, SM_NO_EVENT};
}

// ---- caller id toward a telephone ----------------------------------------------------------

SM_ACTION(sm_send_cas_cid)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    const experimental_options *eo = gp ? gp->experimental_options : nullptr;
    if (eo && (eo->eo_debug_flags & 1))
        return CAS_ROW;
    time_t t = analog_clock(nullptr);
    struct tm now;
    localtime_r(&t, &now);
    // The analog builder keeps the message below the generator's 128 bytes.
    fsk_callerid_message m;
    fsk_callerid_build(&m, co->cas_oad, co->cas_display, co->f.message_waiting, co->f.message_waiting_on, &now);
    if (fsk_callerid_queue(co, &m) == 0)
        co->f.cid_generated = 1;
    return CAS_ROW;
}

SM_ACTION(sm_cas_keep_state_if_cid_already_sent)
{
    (void)arg, (void)state, (void)event;
    if (call_of(p)->f.cid_generated)
        return {SM_KEEP_STATE, SM_NO_EVENT};
    return CAS_ROW;
}

// ---- dialling out ---------------------------------------------------------------------------

SM_ACTION(sm_cas_dial_number)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->cas_dialing_performed)
        return CAS_ROW;
    _verbose_msg(__FILE__, __LINE__, __func__, "A DIALING|REQUEST: port=%d, cas_oad=%s,cas_dad=%s\n", co->cas_port,
                 co->cas_oad, co->cas_dad);
    co->f.regenerate_inband_dtmf_to_tdm = 1;
    char digits[CAS_NUMBER_FIELD + 2];
    snprintf(digits, sizeof digits, "%s:", co->cas_dad);
    _fcbuf_to_flushbuf(DTMF_FLUSH_TO_TDM, co, digits);
    co->cas_dialing_performed = 1;
    return CAS_ROW;
}

SM_ACTION(sm_msp_setup_mf_channel)
{
    (void)arg, (void)state, (void)event;
    call_msp_setup_mf_channel(call_of(p), 1);
    return CAS_ROW;
}
