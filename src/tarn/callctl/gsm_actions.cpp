// The GSM call actions of the state tables: caller number, route and
// rewriting of a call from a modem, its INVITE, the wait for the caller
// number and the call listing that may replace it, and the modem's hang-up
// and answer.
#include "gsm_actions.h"

#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/soa_tag.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "call_object.h"
#include "cc_internal.h"
#include "confman.h"
#include "dialplan.h"
#include "dialplan_mangle.h"
#include "dialplan_search.h"
#include "experimental_options.h"
#include "gsm_lib.h"
#include "log.h"
#include "log_backend.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "rtp_ports.h"
#include "schema.h"
#include "sdp_offer_answer.h"
#include "sip_headers.h"
#include "sip_responses.h"
#include "sip_trace.h"
#include "sm_tasks.h"
#include "state_table_actions.h"

namespace {

constexpr statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};

// ---- hooks ------------------------------------------------------------------------------

enum { H_TR119, H_FAILOVER, H_COUNT };
std::atomic<bool> said[H_COUNT];
const char *const hook_names[H_COUNT] = {"set_headbuf_1tr119_invite_headers", "init_sip_failover_timers"};
gsm_invite_hooks hooks;

bool filled(const void *member, int which)
{
    if (member)
        return true;
    if (!said[which].exchange(true))
        LOGD(GSM, 2, nullptr, "not built: %s (GSM INVITE step skipped)", hook_names[which]);
    return false;
}

// ---- helpers ----------------------------------------------------------------------------

call_object *call_of(void *p) { return (call_object *)p; }

void destroy_handle(call_leg_sip *leg)
{
    if (!leg || !leg->nh)
        return;
    nua_handle_bind(leg->nh, nullptr);
    nua_handle_destroy(leg->nh);
    leg->nh = nullptr;
}

const char *text(const char *s) { return s ? s : ""; }

// The fax extension (and the proxy of its SIP group) as the call's new
// target, once, after a fax calling tone.
void redirect_fax_call(call_object *co)
{
    const call_configuration &cc = co->cc;
    if (!co->f.fax_calling_tone_detected || co->f.fax_redirect || !cc.faxdetect_extension[0])
        return;
    mangled_pstn_to_sip &m = co->mangled.pstn_to_sip;
    snprintf(m.to_user, sizeof m.to_user, "%s", cc.faxdetect_extension);
    char proxy[256];
    if (cc.faxdetect_proxy[0] && gp->config_sip &&
        cm_get_by_cat(gp->config_sip, proxy, sizeof proxy, 1, CFG_SIP_NAME_SIP_PROXY, cc.faxdetect_proxy) == 0)
        snprintf(m.to_url, sizeof m.to_url, "%s", proxy);
    co->f.fax_redirect = 1;
}

void trace_invite(call_object *co)
{
    const dialplan_element *dp = co->dp;
    const char *src = text(co->new_source), *dst = text(co->new_destination);
    _verbose_msg(__FILE__, __LINE__, __func__,
                 "D INCOMING|CID=%05i<br>%s=>%s, from_id=%s, to_id=%s, line=%i<br>gport:%i<br>oad=%s<br>dad=%s<br>"
                 "newsrc=%s, newsrc_auto=%s<br>newdest=%s, newdestauto=%s\n",
                 co->pid, dialplan_get_tech_name(dp ? dp->from_tech : TECH_GSM),
                 dialplan_get_tech_name(dp ? dp->to_tech : TECH_SIP), dp ? text(dp->from_id) : "",
                 dp ? text(dp->to_id) : "", dp ? dp->line : 0, co->gsm_port, co->gsm_oad, co->gsm_dad, src,
                 co->new_source_auto && co->new_source_auto[0] ? co->new_source_auto : src, dst,
                 co->new_destination_auto && co->new_destination_auto[0] ? co->new_destination_auto : dst);
    print_verbose_sip_msg(0, co, "INVITE");
    print_verbose_extra_info_outgoing_invite_pstn_to_sip(co);
}

} // namespace

void gsm_set_invite_hooks(const gsm_invite_hooks *h)
{
    if (!h) {
        hooks = gsm_invite_hooks{};
        return;
    }
    if (h->set_headbuf_1tr119_invite_headers)
        hooks.set_headbuf_1tr119_invite_headers = h->set_headbuf_1tr119_invite_headers;
    if (h->init_sip_failover_timers)
        hooks.init_sip_failover_timers = h->init_sip_failover_timers;
}

int gsm_cid_wait_seconds(int port)
{
    const port_group_gsm_port_setting *s = pg_get_port_group_gsm_port_settings_by_port(port);
    return s ? s->cid_wait_time : 1;
}

SM_ACTION(sm_gsm_to_sip_check_for_clir_on_oad)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (!co->gsm_oad[0] && co->cc_source && co->cc_source->clir_on_oad[0])
        snprintf(co->gsm_oad, 64, "%s", co->cc_source->clir_on_oad);
    return ROW;
}

SM_ACTION(sm_gsm_to_sip_search_dialplan)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (!dialplan_search_from_gsm(co) || !co->dp)
        return ROW;
    LOGD_CALL(GSM, 5, co, "found dialplan");
    if (co->cc_source)
        cc_clone_call_configuration(&co->cc, co->cc_source);
    if (co->cc_destination)
        cc_update_call_configuration(&co->cc, co->cc_destination);
    if (co->dp->cc)
        cc_update_call_configuration(&co->cc, co->dp->cc);
    co->cc_active = &co->cc;
    cc_recompute_dtmf(co);
    co->cdr.to = co->dp->to_tech;
    return ROW;
}

SM_ACTION(sm_gsm_to_sip_mangle_numbers)
{
    (void)arg, (void)state, (void)event;
    dialplan_mangle_names_pstn_to_sip(call_of(p));
    return ROW;
}

SM_ACTION(sm_gsm_to_sip_destroy_call_if_no_dialplan)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->dp)
        return ROW;
    if (co->gsm_port > 0)
        gsm_call_hangup(co->gsm_port);
    return {SM_DESTROYING, SM_NO_EVENT};
}

SM_ACTION(sm_gsm_to_sip_wait_for_gsm_cid_if_configured)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->timer) {
        timer_remove(co->timer);
        co->timer = nullptr;
    }
    int seconds = gsm_cid_wait_seconds(co->gsm_port);
    kv_timer *t = (kv_timer *)calloc(1, sizeof *t);
    if (t) {
        // The timer service takes no period below a tick: 0 s is one tick.
        t->tv.tv_sec = seconds > 0 ? seconds : 0;
        t->tv.tv_usec = seconds > 0 ? 0 : 10000;
        if (timer_add(cb_timer_event, T_EVENT_GSM_WAIT_FOR_CID_TIMEOUT, t) == 0)
            co->timer = t;
        else
            free(t);
    }
    return {SM_GSM_WAIT_FOR_CID, SM_NO_EVENT};
}

SM_ACTION(sm_gsm_to_sip_request_clcc)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (!gp->experimental_options || !gp->experimental_options->eo_gsm_clcc_fallback)
        return ROW;
    gsm_queue_command(co->gsm_port, GSM_EVENT_TYPE_CLCC, "AT+CLCC", nullptr, nullptr, 0, 1);
    LOGD_CALL(GSM, 5, co, "no CLIP received, requesting caller number with CLCC");
    return {SM_KEEP_STATE, SM_NO_EVENT};
}

SM_ACTION(sm_gsm_to_sip_send_invite)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    call_leg_sip *leg = co->cl_sip;
    // 1.
    LOGD_CALL(GSM, 7, co, ":");
    if (!leg || !leg->nua) {
        LOGD_CALL(GSM, 0, co, "CRITICAL: no SIP stack for the INVITE of the GSM call");
        return {SM_DISMANTLING, SM_NO_EVENT};
    }
    destroy_handle(leg);
    // 2.
    redirect_fax_call(co);
    // 3. (a GSM caller is never restricted: the INVITE headers leave From alone)
    char headers[2048] = "";
    format_invite_headers(co, headers, sizeof headers);
    char from[1024], to[1024];
    format_from_and_to(co, from, sizeof from, to, sizeof to);
    leg->nh = nua_handle(leg->nua, (nua_hmagic_t *)co, SIPTAG_FROM_STR(from), SIPTAG_TO_STR(to), NUTAG_AUTOANSWER(0),
                         SOATAG_ADDRESS(sdp_origin_address(leg)), TAG_END());
    // 4.
    if (!update_rtp_port(co, leg)) {
        LOGM(GSM, LOG_MSG_ERROR, "%s could'nt get free RTP port\n", cinfo(co));
        return {SM_DISMANTLING, SM_NO_EVENT};
    }
    // 5.
    char sdp[4096] = "";
    create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, leg->rtp_local_port, 1);
    size_t used = strlen(headers);
    xheader_add(co, headers + used, sizeof headers - used);
    used = strlen(headers);
    if (co->cc.tr119 && filled((const void *)hooks.set_headbuf_1tr119_invite_headers, H_TR119))
        hooks.set_headbuf_1tr119_invite_headers(headers + used, sizeof headers - used);
    if (filled((const void *)hooks.init_sip_failover_timers, H_FAILOVER))
        hooks.init_sip_failover_timers(co);
    // 6.
    trace_invite(co);
    // 7.
    const char *proxy = leg->pd && leg->pd->proxy_nutag_address_string && leg->pd->proxy_nutag_address_string[0]
                            ? leg->pd->proxy_nutag_address_string
                            : nullptr;
    const char *contact = co->mangled.pstn_to_sip.contact;
    nua_invite(leg->nh, TAG_IF(co->cc.disable_prack, SIPTAG_SUPPORTED_STR("timer, replaces")),
               TAG_IF(proxy, NTATAG_DEFAULT_PROXY(URL_STRING_MAKE(proxy))),
               TAG_IF(headers[0], SIPTAG_HEADER_STR(headers)), SOATAG_USER_SDP_STR(sdp),
               SOATAG_ADDRESS(sdp_origin_address(leg)),
               TAG_IF(contact[0], SIPTAG_CONTACT_STR(contact)), TAG_END());
    LOGM(SIP, LOG_MSG_NOTICE | 1, "%s S SEND: NUA_I_INVITE", cinfo(co));
    LOGM(SIP, LOG_MSG_NOTICE | 2, "%s S SEND: NUA_I_INVITE from %s", cinfo(co), from);
    LOGM(SIP, LOG_MSG_NOTICE | 2, "%s S SEND: NUA_I_INVITE to %s", cinfo(co), to);
    return ROW;
}

SM_ACTION(sm_gsm_send_onhook)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->gsm_port <= 0)
        return ROW;
    gsm_call_hangup(co->gsm_port);
    if (co->callinfo == CI_SIP_TO_GSM)
        gsm_queue_command(co->gsm_port, GSM_EVENT_TYPE_CEER, "AT+CEER", nullptr, nullptr, 0, 1);
    co->gsm_port_stored = co->gsm_port;
    co->gsm_port = 0;
    return ROW;
}

SM_ACTION(sm_gsm_send_offhook)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->gsm_port > 0)
        gsm_call_answ(co->gsm_port);
    return ROW;
}

SM_ACTION(sm_set_special_termination_reason_manual)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->special_termination_reason == 0)
        co->special_termination_reason = 1;
    return ROW;
}
