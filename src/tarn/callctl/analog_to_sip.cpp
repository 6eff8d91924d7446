// Table actions of calls from an analog port toward SIP (some shared with
// the CAS-to-SIP tables): the digits an FXS telephone dials and the end of
// dialling, the dial plan and the number rewriting, the INVITE, the wink,
// the ring-back and congestion tones toward the line.
#include <sofia-sip/nta_tag.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/soa_tag.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analog_callctl.h"
#include "analog_callctl_internal.h"
#include "analogctl.h"
#include "application.h"
#include "call_object.h"
#include "cc_internal.h"
#include "dialplan.h"
#include "dialplan_mangle.h"
#include "dialplan_search.h"
#include "isdn_to_sip.h"
#include "log.h"
#include "log_backend.h"
#include "media_relay.h"
#include "media_start.h"
#include "media_voice.h"
#include "msp_resource.h"
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
#include "timer.h"

namespace {

enum { CP_TONE_RING = 1, CP_TONE_CONGESTION = 3, NUMBER_FIELD = 64, TONE_SET_CHARS = 15 };

call_object *call_of(void *p) { return (call_object *)p; }

const char *text(const char *s) { return s ? s : ""; }

// The port's dial-tone digit count; the port group's call configuration
// may set its own (above 9 counts as 0).
int dialtone_digits(const call_object *co)
{
    int port = analog_port_number(co->analog_port);
    const port_group_analog *g = pg_get_port_group_analog_by_port(port);
    if (g && g->pga_cc.dialtone_digits_set)
        return g->pga_cc.dialtone_digits > 9 ? 0 : (int)g->pga_cc.dialtone_digits;
    return analog_dialtone_digits(port);
}

void set_timer_seconds(kv_timer *t, int seconds)
{
    if (!t)
        return;
    timer_reset_interval(t, seconds > 0 ? seconds : 0, seconds > 0 ? 0 : TIMER_TICK_MS * 1000);
    timer_restart(t);
}

void play_port_tone(call_object *co, int type)
{
    char set[TONE_SET_CHARS + 1];
    if (analog_is_cas_call(co))
        media_port_tone_set(TONESET_CAS, co->cas_port, set, sizeof set);
    else
        media_port_tone_set(TONESET_ANALOG, co->analog_port, set, sizeof set);
    call_start_msp_tone(co, set, type);
}

bool search_dialplan(call_object *co)
{
    if (!dialplan_search_from_analog(co) || !co->dp)
        return false;
    LOGD_CALL(ANALOG, 5, co, "found dialplan");
    line_to_sip_take_dialplan_line(co);
    if (co->cl_sip)
        update_rtp_port(co, co->cl_sip);
    return true;
}

void trace_invite(call_object *co)
{
    const dialplan_element *dp = co->dp;
    const char *src = text(co->new_source), *dst = text(co->new_destination);
    _verbose_msg(__FILE__, __LINE__, __func__,
                 "D INCOMING|CID=%05i<br>%s=>%s, from_id=%s, to_id=%s, line=%i<br>aport:%i<br>oad=%s<br>dad=%s<br>"
                 "newsrc=%s, newsrc_auto=%s<br>newdest=%s, newdestauto=%s\n",
                 co->pid, dialplan_get_tech_name(dp ? dp->from_tech : TECH_ANALOG),
                 dialplan_get_tech_name(dp ? dp->to_tech : TECH_SIP), dp ? text(dp->from_id) : "",
                 dp ? text(dp->to_id) : "", dp ? dp->line : 0, analog_port_number(co->analog_port),
                 text(co->analog_oad), text(co->analog_dad), src,
                 co->new_source_auto && co->new_source_auto[0] ? co->new_source_auto : src, dst,
                 co->new_destination_auto && co->new_destination_auto[0] ? co->new_destination_auto : dst);
    print_verbose_sip_msg(0, co, "INVITE");
}

} // namespace

// ---- digits and the end of dialling -----------------------------------------------------------

SM_ACTION(sm_analog_to_sip_incoming_digits)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    co->dialplan_start_index = 0;
    set_timer_seconds(co->timer, co->overlap_dialing_timeout);
    static const char chars[] = "0123456789*#ABCD";
    int code = (unsigned char)co->analog_dtmf;
    if (code < 16 && !analog_append_char(co->analog_dad, NUMBER_FIELD, chars[code]))
        LOGD_CALL(ANALOG, 3, co, "digit %c ignored: the dialled number is full", chars[code]);
    if ((int)strlen(co->analog_dad) > dialtone_digits(co) && !co->analog_dial_tone_stopped)
        stop_msp_analog_dial_tone(co);
    return ANALOG_ROW;
}

SM_ACTION(sm_analog_to_sip_check_if_dialing_complete)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    const call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    if (cc->interdigit_dialing_max_digits > 0 && strlen(co->analog_dad) >= cc->interdigit_dialing_max_digits) {
        LOGD_CALL(ANALOG, 5, co, "dialing is complete, interdigit_dialing_max_digits %i reached",
                  (int)cc->interdigit_dialing_max_digits);
        add_sm_task(co, sm_general(GENERAL_EVENT_SEND_INVITE));
        return ANALOG_ROW;
    }
    if (co->f.overlap_dialing ||
        pg_analog_get_complete_dialing_on_pound_or_star(analog_port_number(co->analog_port)) <= 0)
        return ANALOG_ROW;
    char *mark = strpbrk(co->analog_dad, "*#");
    if (mark) {
        char c = *mark;
        *mark = '\0';
        LOGD_CALL(ANALOG, 5, co, "dialing is complete, analog dad end signaled with %c", c);
        // The dial plan was searched with the end mark in the number; the
        // call goes out with the number before it, so that one is routed.
        search_dialplan(co);
        add_sm_task(co, sm_general(GENERAL_EVENT_SEND_INVITE));
    }
    return ANALOG_ROW;
}

SM_ACTION(sm_analog_to_sip_reset_dial_timer)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (!co->timer)
        return ANALOG_ROW;
    size_t n = strlen(co->analog_dad);
    if ((int)n > analog_dialtone_digits(co->analog_port))
        timer_reset_interval(co->timer, co->overlap_dialing_timeout > 0 ? co->overlap_dialing_timeout : 0,
                             co->overlap_dialing_timeout > 0 ? 0 : TIMER_TICK_MS * 1000);
    else if (n > 0)
        timer_reset_interval(co->timer,
                             co->overlap_dialing_initial_timeout > 0 ? co->overlap_dialing_initial_timeout : 0,
                             co->overlap_dialing_initial_timeout > 0 ? 0 : TIMER_TICK_MS * 1000);
    LOGD_CALL(ANALOG, 8, co, "resetting timer");
    timer_restart(co->timer);
    return ANALOG_ROW;
}

// ---- dial plan and rewriting ----------------------------------------------------------------

SM_ACTION(sm_analog_to_sip_search_dialplan)
{
    (void)arg, (void)state, (void)event;
    search_dialplan(call_of(p));
    return ANALOG_ROW;
}

SM_ACTION(sm_analog_to_sip_search_dialplan_if_dad_empty)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->analog_dad[0])
        return ANALOG_ROW;
    if (!co->analog_dial_tone_stopped)
        stop_msp_analog_dial_tone(co);
    search_dialplan(co);
    return ANALOG_ROW;
}

SM_ACTION(sm_fxs_to_sip_dismantle_call_if_no_dialplan)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->dp)
        return ANALOG_ROW;
    call_stop_rtp(co, 1);
    play_port_tone(co, CP_TONE_CONGESTION);
    co->cdr.terminated_by = 0;
    co->cdr.tc_incoming_event = 0;
    co->cdr.tc_incoming_status = 0;
    return {SM_DISMANTLING, SM_NO_EVENT};
}

SM_ACTION(sm_analog_to_sip_mangle_numbers)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    LOGD_CALL(ANALOG, 7, co, ":");
    dialplan_mangle_names_pstn_to_sip(co);
    return ANALOG_ROW;
}

SM_ACTION(sm_analog_to_sip_fax_detect_mangle_numbers)
{
    (void)arg, (void)state, (void)event;
    pstn_to_sip_fax_detect_mangle_numbers(call_of(p), false);
    return ANALOG_ROW;
}

// ---- the INVITE -----------------------------------------------------------------------------

void line_to_sip_take_dialplan_line(call_object *co)
{
    call_configuration *active = co->cc_active ? co->cc_active : &co->cc;
    cc_clone_call_configuration(active, co->cc_source ? co->cc_source : &gp->default_call_configuration);
    if (co->cc_destination)
        cc_update_call_configuration(active, co->cc_destination);
    if (co->dp->cc)
        cc_update_call_configuration(active, co->dp->cc);
    cc_recompute_dtmf(co);
    co->cdr.to = co->dp->to_tech;
}

statemachine_handle_retval line_to_sip_send_invite(call_object *co, void (*trace)(call_object *co))
{
    call_leg_sip *leg = co->cl_sip;
    LOGD_CALL(SIP, 7, co, ":");
    if (!leg || !leg->nua) {
        LOGD_CALL(SIP, 1, co, "CRITICAL: no SIP stack for the call");
        return {SM_DISMANTLING, SM_NO_EVENT};
    }
    if (leg->nh) {
        nua_handle_bind(leg->nh, nullptr);
        nua_handle_destroy(leg->nh);
        leg->nh = nullptr;
    }
    call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    // The INVITE headers may anonymise the From fields: they come first.
    char headers[2048] = "";
    format_invite_headers(co, headers, sizeof headers);
    char from[1024], to[1024];
    format_from_and_to(co, from, sizeof from, to, sizeof to);
    snprintf(leg->sip_origin_address, sizeof leg->sip_origin_address, "%.255s", from);
    snprintf(leg->sip_outbound_address, sizeof leg->sip_outbound_address, "%.255s", to);
    leg->nh = nua_handle(leg->nua, (nua_hmagic_t *)co, SIPTAG_FROM_STR(from), SIPTAG_TO_STR(to), NUTAG_AUTOANSWER(0),
                         SOATAG_ADDRESS(sdp_origin_address(leg)), TAG_END());
    if (!leg->nh) {
        LOGD_CALL(SIP, 1, co, "CRITICAL: no SIP handle for the call (from %s to %s)", from, to);
        return {SM_DISMANTLING, SM_NO_EVENT};
    }
    if (!update_rtp_port(co, leg)) {
        LOGD(SIP, 32, cinfo(co), "%s could'nt get free RTP port\n", cinfo(co));
        return {SM_DISMANTLING, SM_NO_EVENT};
    }
    char sdp[4096] = "";
    create_sdp_string(co, sdp, sizeof sdp, &cc->codecs, leg->rtp_local_port, 1);
    size_t used = strlen(headers);
    xheader_add(co, headers + used, sizeof headers - used);
    used = strlen(headers);
    if (cc->tr119)
        set_headbuf_1tr119_invite_headers(headers + used, sizeof headers - used);
    init_sip_failover_timers(co);
    trace(co);
    const char *proxy = leg->pd && leg->pd->proxy_nutag_address_string && leg->pd->proxy_nutag_address_string[0]
                            ? leg->pd->proxy_nutag_address_string
                            : nullptr;
    const char *contact = co->mangled.pstn_to_sip.contact;
    nua_invite(leg->nh, TAG_IF(cc->disable_prack, SIPTAG_SUPPORTED_STR("timer, replaces")),
               TAG_IF(proxy, NTATAG_DEFAULT_PROXY(proxy)), TAG_IF(headers[0], SIPTAG_HEADER_STR(headers)),
               SOATAG_USER_SDP_STR(sdp), SOATAG_ADDRESS(sdp_origin_address(leg)),
               TAG_IF(contact[0], SIPTAG_CONTACT_STR(contact)), TAG_END());
    co->f.sdp_offer_sent = 1;
    LOGM(SIP, 17, "%s S SEND: NUA_I_INVITE", cinfo(co));
    LOGM(SIP, 18, "%s S SEND: NUA_I_INVITE from %s", cinfo(co), from);
    LOGM(SIP, 18, "%s S SEND: NUA_I_INVITE to %s", cinfo(co), to);
    return ANALOG_ROW;
}

SM_ACTION(sm_analog_to_sip_send_invite)
{
    (void)arg, (void)state, (void)event;
    return line_to_sip_send_invite(call_of(p), trace_invite);
}

// ---- line signals and tones -----------------------------------------------------------------

SM_ACTION(sm_analog_to_sip_send_wink_signal)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    verbose_analog_send_event(co, co->analog_port, ANALOG_EVENT_WINK);
    return ANALOG_ROW;
}

SM_ACTION(sm_xfxs2s_send_tone_alerting)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->msp_state & MSP_VOICE_ACTIVE)
        return ANALOG_ROW;
    if (co->callinfo != CI_ANALOG_TO_SIP && co->callinfo != CI_CAS_TO_SIP)
        return ANALOG_ROW;
    if (co->msp_state & MSP_TONEGEN_ACTIVE)
        call_stop_msp_tone(co, 1);
    play_port_tone(co, CP_TONE_RING);
    return ANALOG_ROW;
}

SM_ACTION(sm_analog_to_sip_send_tone_congestion)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    call_stop_rtp(co, 1);
    play_port_tone(co, CP_TONE_CONGESTION);
    return ANALOG_ROW;
}

SM_ACTION(sm_print_hallo)
{
    (void)p, (void)arg, (void)state, (void)event;
    printf("hallo\n");
    return ANALOG_ROW;
}
