// State-table actions that record which answer a call owes its SIP peer,
// give up the call's SIP dialog (CANCEL, BYE, a plain clean-up) and answer
// a digest challenge to an INVITE.
#include <sofia-sip/msg_header.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_tag.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "application.h"
#include "bc_ie_facilities.h"
#include "call_object.h"
#include "call_reset.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "pools.h"
#include "proxy_def.h"
#include "sip_headers.h"
#include "sip_responses.h"
#include "sip_trace.h"
#include "sm_run.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "state_tables.h"

namespace {

const statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};

int byeauth()
{
    return gp && gp->experimental_options ? gp->experimental_options->eo_byeauth : 0;
}

statemachine_handle_retval set_answer(void *p, int answer)
{
    call_object *co = (call_object *)p;
    if (co && co->cl_sip)
        co->cl_sip->sip_answer = answer;
    return ROW;
}

// The call that stays behind a BYE to answer its challenge or take its
// final answer: a pooled call object in SM_DISMANTLING on the clean-up
// machine, sharing the stack and the handle, ended by its 3-second
// dismantling timer at the latest. Null when no call object is free.
call_object *start_bye_cleanup_call(call_object *co, const call_leg_sip *leg, nua_handle_t *nh)
{
    call_object *cleanup = get_free_operation_handle(0);
    if (!cleanup)
        return nullptr;
    call_leg_sip *cl = get_new_sip_call_leg();
    statemachine *sm = cl ? create_statemachine_sipcleanup(cleanup, SM_DISMANTLING, nullptr) : nullptr;
    if (!sm) {
        LOGD_CALL(SIP, 1, co, "no clean-up call for the BYE of co %p", (void *)co);
        if (cl)
            reset_sip_leg(cl);
        reset_op(cleanup);
        return nullptr;
    }
    cl->nua = leg->nua;
    cl->ss = leg->ss;
    cl->nh = nh;
    snprintf(cl->using_ip, sizeof cl->using_ip, "%s", leg->using_ip);
    cl->pd = leg->pd ? clone_proxy_definition(leg->pd) : nullptr;
    cleanup->cl_sip = cleanup->cl_sip_in = cleanup->cl_sip_out = cl;
    cleanup->callinfo = CI_INTERNAL;
    cleanup->pid = co->pid + 1000000000;
    cleanup->sm = sm;
    cleanup->dismantling_timeout = 3;
    LOGD_CALL(SIP, 5, co, "clean-up call co %p (index %i) takes the BYE", (void *)cleanup, cleanup->index);
    start_dismantling_timer(cleanup);
    return cleanup;
}

} // namespace

SM_ACTION(sm_sip_set_answer_ok)
{
    (void)arg, (void)state, (void)event;
    return set_answer(p, SIP_ANSWER_OK);
}

SM_ACTION(sm_sip_set_answer_busy)
{
    (void)arg, (void)state, (void)event;
    return set_answer(p, SIP_ANSWER_BUSY);
}

SM_ACTION(sm_sip_set_answer_progress)
{
    (void)arg, (void)state, (void)event;
    return set_answer(p, SIP_ANSWER_PROGRESS);
}

SM_ACTION(sm_sip_set_answer_ringing)
{
    (void)arg, (void)state, (void)event;
    return set_answer(p, SIP_ANSWER_RINGING);
}

SM_ACTION(sm_gsm_check_for_early_audio)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (co->cc.early_audio)
        return set_answer(p, SIP_ANSWER_RINGING);
    LOGD_CALL(SIP, 5, co, "for co %p (index %i): not sending early audio!", (void *)co, co->index);
    return {SM_GSM_DIALED, SM_NO_EVENT};
}

SM_ACTION(sm_sip_set_reinvite_on_active_call)
{
    (void)arg, (void)state, (void)event;
    ((call_object *)p)->f.sip_reinvite_on_active_call = 1;
    return ROW;
}

SM_ACTION(sm_sip_set_answer_for_reinvite)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    bool ok = co->f.start_streaming ||
              (co->f.sip_reinvite_on_active_call && co->f.sip_reinvite_on_active_call_without_sdp);
    if (co->cl_sip)
        co->cl_sip->sip_answer = ok ? SIP_ANSWER_OK : SIP_ANSWER_REJECT;
    co->f.sip_reinvite_on_active_call = 0;
    LOGD_CALL(SIP, 5, co, "set %s", ok ? "Ok" : "Reject");
    return ROW;
}

SM_ACTION(sm_call_set_connected)
{
    (void)arg, (void)state, (void)event;
    ((call_object *)p)->f.connection_established = 1;
    return ROW;
}

SM_ACTION(sm_call_set_start_streaming)
{
    (void)arg, (void)state, (void)event;
    ((call_object *)p)->f.start_streaming = 1;
    return ROW;
}

SM_ACTION(sm_call_set_cas_dialing_performed)
{
    (void)arg, (void)state, (void)event;
    ((call_object *)p)->cas_dialing_performed = 1;
    return ROW;
}

SM_ACTION(sm_sip_clean_nua)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (co->cl_sip && co->cl_sip->nh) {
        nua_handle_bind(co->cl_sip->nh, nullptr);
        nua_handle_destroy(co->cl_sip->nh);
        co->cl_sip->nh = nullptr;
    }
    return ROW;
}

SM_ACTION(sm_send_nua_cancel)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    if (!leg || !leg->nh)
        return ROW;
    LOGD_CALL(SIP, 5, co, "for co %p (index %i) -- nh %p!", (void *)co, co->index, (void *)leg->nh);
    nua_handle_bind(leg->nh, nullptr);
    print_verbose_sip_msg(0, co, "CANCEL");
    char reason[512] = "";
    format_reason_header(co, reason, sizeof reason);
    nua_cancel(leg->nh, TAG_IF(reason[0], SIPTAG_HEADER_STR(reason)), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_CANCEL", cinfo(co));
    // The stack finishes the transaction and frees the handle then.
    leg->nh = nullptr;
    return ROW;
}

SM_ACTION(sm_sip_send_nua_bye)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    if (!leg || !leg->nh) {
        LOGD_CALL(SIP, 5, co, "for co %p (index %i) -- not sending by, nh already destroyed!", (void *)co,
                  co->index);
        return ROW;
    }
    nua_handle_t *nh = leg->nh;
    LOGD_CALL(SIP, 5, co, "for co %p (index %i) -- nh %p!", (void *)co, co->index, (void *)nh);
    print_verbose_sip_msg(0, co, "BYE");
    leg->nh = nullptr;
    call_object *cleanup = byeauth() == 1 ? start_bye_cleanup_call(co, leg, nh) : nullptr;
    nua_handle_bind(nh, (nua_hmagic_t *)cleanup);
    char isdn[2048] = "";
    if (co->cc.ie_on_sip && co->bc)
        sip_isdn_headers(co, isdn, sizeof isdn);
    char reason[512] = "";
    format_reason_header(co, reason, sizeof reason);
    nua_bye(nh, TAG_IF(isdn[0], SIPTAG_HEADER_STR(isdn)), TAG_IF(reason[0], SIPTAG_HEADER_STR(reason)), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_BYE", cinfo(co));
    if (isdn[0])
        misdn_clean_ie_buffers(co->bc);
    if (cleanup)
        return ROW; // its machine takes the BYE's answer and lets the handle go
    if (byeauth() == 2)
        nua_handle_insert_into_destroy_queue(nh); // destroys it at once when every slot is taken
    else
        nua_handle_destroy(nh);
    return ROW;
}

SM_ACTION(sm_s2s_set_reinvite_flag)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (!gp || !gp->experimental_options || !gp->experimental_options->eo_sdpless_reinvite)
        return {SM_KEEP_STATE, SM_STOP_SCAN};
    co->f.sdp_offer_sent = 0;
    if (co->cl_sip)
        co->cl_sip->got_reinvite_flag = 1;
    return ROW;
}

SM_ACTION(sm_sip_authenticate_user)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    LOGD_CALL(SIP, 5, co, "authenticate_user for co %p (index %i)!", (void *)co, co->index);
    call_leg_sip *leg = co->cl_sip;
    if (!leg || !leg->pd) {
        LOGD_CALL(SIP, 0, co, "CRITICAL: Trying to authenticate invalid call_object!");
        return ROW;
    }
    char auth[512];
    if (format_digest_credentials((const sip_t *)leg->tmpsip, leg->pd->auth_user, leg->pd->pass, auth,
                                  sizeof auth) != 0) {
        LOGD_CALL(SIP, 0, co, "CRITICAL: Couldn't send authentication for call!");
        return ROW;
    }
    nua_authenticate(leg->nh, NUTAG_AUTH(auth), TAG_END());
    return ROW;
}
