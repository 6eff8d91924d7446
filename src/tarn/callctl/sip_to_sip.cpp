#include "sip_to_sip.h"

#include <sofia-sip/msg_header.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_status.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/soa_tag.h>
#include <sofia-sip/url.h>
#include <strings.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "cdr.h"
#include "dialplan.h"
#include "dialplan_mangle.h"
#include "dialplan_search.h"
#include "experimental_options.h"
#include "log.h"
#include "log_backend.h"
#include "media_transcoding.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "rtp_ports.h"
#include "sdp_offer_answer.h"
#include "sip_admission.h"
#include "sip_headers.h"
#include "sip_responses.h"
#include "sip_stack.h"
#include "sip_trace.h"
#include "sm_tasks.h"
#include "state_table_actions.h"

namespace {

const statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};
const statemachine_handle_retval KEEP = {SM_KEEP_STATE, SM_NO_EVENT};

const char *text(const char *s) { return s ? s : ""; }

void hook_not_built(std::atomic<bool> &said, const char *what)
{
    if (!said.exchange(true))
        LOGD(SIP, 0, nullptr, "CRITICAL: %s is not part of this build", what);
}

void tr119_not_built(call_object *, char *, size_t)
{
    static std::atomic<bool> said{false};
    hook_not_built(said, "set_headbuf_1tr119_invite_headers");
}
void failover_timers_not_built(call_object *)
{
    static std::atomic<bool> said{false};
    hook_not_built(said, "init_sip_failover_timers");
}
const char *callgroup_not_built(call_object *)
{
    static std::atomic<bool> said{false};
    hook_not_built(said, "get_next_sip_callgroup_alternative");
    return nullptr;
}

const s2s_hooks unfilled = {tr119_not_built, failover_timers_not_built, callgroup_not_built};
s2s_hooks hooks = unfilled;

// The stack keeps only the pointer to a response's phrase until its own
// thread sends the response, often after this call object was reset: a
// phrase relayed from the other leg is kept once per distinct text for the
// life of the process (the first 64 texts; after that the status's standard
// phrase goes out).
const char *lasting_phrase(int status, const char *text)
{
    static std::mutex lock;
    static std::set<std::string> kept;
    std::lock_guard<std::mutex> hold(lock);
    std::string t = text ? text : "";
    auto it = kept.find(t);
    if (it != kept.end())
        return it->c_str();
    if (kept.size() < 64)
        return kept.insert(t).first->c_str();
    const char *standard = sip_status_phrase(status);
    return standard ? standard : "";
}

// The leg's handle, unbound and destroyed.
void drop_handle(call_leg_sip *leg)
{
    if (leg && leg->nh) {
        nua_handle_bind(leg->nh, nullptr);
        nua_handle_destroy(leg->nh);
        leg->nh = nullptr;
    }
}

// At most size-1 characters of src (fixed-width fields cut long texts).
void bounded_copy(char *dst, size_t size, const char *src)
{
    if (size == 0)
        return;
    size_t n = strnlen(text(src), size - 1);
    memmove(dst, text(src), n);
    dst[n] = '\0';
}

// "a\r\nb" with its line ends made visible for the debug log.
void visible_line_ends(const char *in, char *out, size_t size)
{
    size_t n = 0;
    for (const char *s = in; *s && n + 3 < size; s++) {
        if (*s == '\r') {
            out[n++] = '\\';
            out[n++] = 'r';
        } else if (*s == '\n') {
            out[n++] = '\\';
            out[n++] = 'n';
        } else {
            out[n++] = *s;
        }
    }
    out[n] = '\0';
}

void log_outgoing_invite(call_object *co, call_leg_sip *leg, const char *sdp)
{
    LOGM(SIP, 17, "%s S SEND: NUA_I_INVITE", cinfo(co));
    LOGM(SIP, 18, "%s S SEND: NUA_I_INVITE from %s", cinfo(co), leg->sip_origin_address);
    LOGM(SIP, 18, "%s S SEND: NUA_I_INVITE to %s", cinfo(co), leg->sip_outbound_address);
    if (log_levels_debug_enabled && log_get_loglevel(log_levels_debug, SIP) > 4) {
        char visible[4096];
        visible_line_ends(sdp, visible, sizeof visible);
        LOGD_CALL(SIP, 5, co, "from: %s ==> to: %s ==>sdp: %s", leg->sip_origin_address, leg->sip_outbound_address,
                  visible);
    }
}

// The header text of a new INVITE (2048 bytes).
void invite_headers(call_object *co, char *buf, size_t size, bool passthrough)
{
    buf[0] = '\0';
    format_invite_headers(co, buf, size);
    xheader_add(co, buf, size);
    if (passthrough && co->cc.header_passthrough)
        passthrough_headers_add(co, buf, size);
    if (co->cc.tr119)
        hooks.set_headbuf_1tr119_invite_headers(co, buf, size);
}

// The SDP offer of a new INVITE for the leg's local port; the hdlc option
// marks the call while it is built.
void offer_for(call_object *co, call_leg_sip *leg, char *sdp, int size)
{
    bool hdlc = co->cc.hdlc != 0;
    if (hdlc)
        co->f.hdlc = 1;
    create_sdp_string(co, sdp, size, &co->cc.codecs, leg->rtp_local_port, 1);
    if (hdlc)
        co->f.hdlc = 0;
    co->f.sdp_offer_sent = 1;
}

const char *proxy_of(const call_leg_sip *leg)
{
    return leg && leg->pd ? text(leg->pd->proxy_nutag_address_string) : "";
}

// A new handle for the leg on the stack object nua; false when none.
bool new_handle(call_object *co, call_leg_sip *leg, nua_t *nua)
{
    if (!nua)
        return false;
    leg->nh = nua_handle(nua, (nua_hmagic_t *)co, SIPTAG_FROM_STR(leg->sip_origin_address),
                         SIPTAG_TO_STR(leg->sip_outbound_address), NUTAG_AUTOANSWER(0),
                         SOATAG_ADDRESS(sdp_origin_address(leg)), TAG_END());
    if (!leg->nh)
        return false;
    leg->nua = nua;
    return true;
}

// The ends of a new INVITE that cannot go out: the call is dismantled.
statemachine_handle_retval no_handle(call_object *co, const call_leg_sip *leg)
{
    LOGM(SIP, 32, "%s couldn't create outgoing sip handle ori |%s| out |%s| \n", cinfo(co), leg->sip_origin_address,
         leg->sip_outbound_address);
    return {SM_DISMANTLING, SM_NO_EVENT};
}
statemachine_handle_retval no_rtp_port(call_object *co)
{
    LOGD_CALL(TARN, 1, co, "%s couldn't get free RTP port\n", cinfo(co));
    return {SM_DISMANTLING, SM_NO_EVENT};
}

// Leg 1's answer for leg 2's failure (the failed-INVITE trace first).
void relay_failure(call_object *co)
{
    call_leg_sip *in = co->cl_sip_in, *out = co->cl_sip_out;
    if (!in)
        return;
    int last = out ? out->last_nua_status_code : 0;
    const char *phrase = out ? out->last_nua_status_text : "";
    int status = s2s_relayed_failure_status(last, &phrase);
    bounded_copy(in->sip_response_buffer, sizeof in->sip_response_buffer, phrase);
    bounded_copy(co->tmpbuf, sizeof co->tmpbuf, phrase);
    print_verbose_msg_invite_failed_text(co, 0, status);
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[%i] \"%s\"", cinfo(co), status, in->sip_response_buffer);
    if (in->nh)
        nua_respond(in->nh, status, lasting_phrase(status, in->sip_response_buffer), TAG_END());
}

// The active configuration again: the source's clone, then overlay (a
// proxy's or group's configuration, may be null), then the line's.
void rebuild_configuration(call_object *co, const call_configuration *overlay, const char *overlay_text)
{
    if (co->cc_source)
        cc_clone_call_configuration(&co->cc, co->cc_source);
    if (overlay)
        cc_update_call_configuration(&co->cc, overlay);
    if (overlay_text && *overlay_text)
        cc_parse_call_configuration_direct(co, &co->cc, overlay_text);
    if (co->dp && co->dp->cc)
        cc_update_call_configuration(&co->cc, co->dp->cc);
    // the DTMF generation and filter flags follow the options
    cc_parse_call_configuration_direct(co, &co->cc, "");
}

void undo_number_rewriting(call_object *co)
{
    if (co->new_destination_previous) {
        free(co->new_destination);
        co->new_destination = strdup(co->new_destination_previous);
    }
    if (co->new_source_previous) {
        free(co->new_source);
        co->new_source = strdup(co->new_source_previous);
    }
    co->f.new_destination_modified_with_vaz = 0;
    co->f.new_source_modified_with_vaz = 0;
}

} // namespace

void s2s_set_hooks(const s2s_hooks *h)
{
    if (!h) {
        hooks = unfilled;
        return;
    }
    if (h->set_headbuf_1tr119_invite_headers)
        hooks.set_headbuf_1tr119_invite_headers = h->set_headbuf_1tr119_invite_headers;
    if (h->init_sip_failover_timers)
        hooks.init_sip_failover_timers = h->init_sip_failover_timers;
    if (h->get_next_sip_callgroup_alternative)
        hooks.get_next_sip_callgroup_alternative = h->get_next_sip_callgroup_alternative;
}

// ---- pieces ---------------------------------------------------------------------------

int s2s_relayed_failure_status(int status, const char **phrase)
{
    if (status >= 300 && status <= 699)
        return status;
    if (phrase)
        *phrase = "Temporarily Unavailable";
    return 480;
}

int sip_refer_replaces(const char *url_headers, char *out, size_t size)
{
    if (!out || size == 0)
        return -1;
    out[0] = '\0';
    if (!url_headers || strncasecmp(url_headers, "Replaces=", 9) != 0)
        return -1;
    // The escaped value, at most 511 characters; then every escape undone
    // (a Call-ID "a@b" arrives as "a%40b") and the value cut at the next
    // header.
    char raw[512];
    snprintf(raw, sizeof raw, "%s", url_headers + 9);
    url_unescape(raw, raw);
    raw[strcspn(raw, "&")] = '\0';
    size_t limit = size < 256 ? size : 256;
    memcpy(out, raw, strnlen(raw, limit - 1));
    out[strnlen(raw, limit - 1)] = '\0';
    return 0;
}

void get_proxy_by_dialplan_id(call_object *co, char *buf, size_t size)
{
    if (!buf || size == 0)
        return;
    buf[0] = '\0';
    if (!co || !co->dp || !co->dp->from_id)
        return;
    const port_group_sip *pgs = pg_get_port_group_sip_by_name(co->dp->from_id, nullptr);
    if (!pgs || !pgs->pgs_sip_proxy)
        return;
    if (pgs->pgs_sip_proxy_port == 0 || pgs->pgs_sip_proxy_port == 5060)
        snprintf(buf, size, "%s", pgs->pgs_sip_proxy);
    else
        snprintf(buf, size, "%s:%i", pgs->pgs_sip_proxy, pgs->pgs_sip_proxy_port);
}

void sip_transfer_copy_over_clsip(call_leg_sip *source, call_leg_sip *target)
{
    if (!source || !target || source == target)
        return;
    free_proxy_def(target->pd);
    target->pd = source->pd ? clone_proxy_definition(source->pd) : nullptr;
    if (source->address_info) {
        sip_address_info_object *copy = create_dummy_address_info();
        if (copy) {
            clone_address_info(source->address_info, copy);
            free_address_info(target->address_info);
            target->address_info = copy;
        }
    }
    target->rtp_local_port = source->rtp_local_port;
    source->rtp_local_port = 0;
    target->crypto = source->crypto;
    source->crypto = nullptr;
    target->outbound_options = source->outbound_options;
    target->pt_telephony_event = source->pt_telephony_event;
    target->using_codec = source->using_codec;
    target->using_payload = source->using_payload;
    target->rtp_remote_port = source->rtp_remote_port;
    snprintf(target->rtp_remote_ip, 64, "%s", source->rtp_remote_ip);
    target->nua = source->nua;
    target->ss = source->ss;
}

void s2s_302_contact_host(call_object *co, char *host, size_t size)
{
    if (!host || size == 0)
        return;
    host[0] = '\0';
    const call_configuration *line_cc = co->dp ? co->dp->cc : nullptr;
    if (line_cc && line_cc->sip_302_contact_url_set && line_cc->sip_302_contact_url[0])
        bounded_copy(host, size, line_cc->sip_302_contact_url);
    else if (co->cc_source && co->cc_source->sip_302_contact_url_set && co->cc_source->sip_302_contact_url[0])
        bounded_copy(host, size, co->cc_source->sip_302_contact_url);
    if (!host[0])
        get_proxy_by_dialplan_id(co, host, size);
    if (!host[0] && gp) {
        const call_leg_sip *in = co->cl_sip_in;
        bool wan = in && in->ss && strcmp(in->ss->name, "wan") == 0;
        bounded_copy(host, size, wan ? gp->netconf.host_ip_wan : gp->netconf.host_ip_lan);
    }
}

// ---- actions ----------------------------------------------------------------------------

SM_ACTION(sm_s2s_switch_active_sip_call_leg)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *other = co->cl_sip == co->cl_sip_in ? co->cl_sip_out : co->cl_sip_in;
    if (other)
        activate_call_leg(co, other);
    return ROW;
}

SM_ACTION(sm_s2s_ignore_state_event_on_first_leg)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    return co->cl_sip == co->cl_sip_in ? KEEP : ROW;
}

SM_ACTION(sm_s2s_mangle_numbers)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    LOGD_CALL(TARN, 7, co, ":");
    dialplan_mangle_names_sip_to_sip(co);
    return ROW;
}

SM_ACTION(sm_s2s_send_invite)
{
    (void)arg, (void)state, (void)event;
    return s2s_send_new_invite((call_object *)p, nullptr);
}

statemachine_handle_retval s2s_send_new_invite(call_object *co, const char *leading_headers)
{
    LOGD_CALL(TARN, 7, co, "here");
    call_leg_sip *in = co->cl_sip_in, *out = co->cl_sip_out;
    if (!out || !in) {
        LOGD_CALL(SIP, 1, co, "CRITICAL: SIP to SIP call without both legs");
        return {SM_DISMANTLING, SM_NO_EVENT};
    }
    drop_handle(out);
    if (co->cc.rtp_loopback) {
        add_sm_task(co, sm_general(GENERAL_EVENT_RTP_LOOPBACK));
        return ROW;
    }
    format_from_and_to(co, out->sip_origin_address, sizeof out->sip_origin_address, out->sip_outbound_address,
                       sizeof out->sip_outbound_address);
    if (co->cc.sip_from_user_all_setting_set && co->cc.sip_from_user_all_setting[0])
        bounded_copy(out->sip_origin_address, sizeof out->sip_origin_address, co->cc.sip_from_user_all_setting);
    if (co->cc.sip_to_user_all_setting_set && co->cc.sip_to_user_all_setting[0])
        bounded_copy(out->sip_outbound_address, sizeof out->sip_outbound_address, co->cc.sip_to_user_all_setting);
    if (!new_handle(co, out, co->cl_sip ? co->cl_sip->nua : in->nua)) {
        return no_handle(co, out);
    }
    update_rtp_port(co, in);
    update_rtp_port(co, out);
    if (in->rtp_local_port == 0 || out->rtp_local_port == 0) {
        return no_rtp_port(co);
    }
    char sdp[4096] = "";
    offer_for(co, out, sdp, sizeof sdp);
    char headers[2048];
    invite_headers(co, headers, sizeof headers, true);
    if (leading_headers && leading_headers[0]) {
        char rest[sizeof headers];
        memcpy(rest, headers, sizeof rest);
        snprintf(headers, sizeof headers, "%s%s", leading_headers, rest);
    }
    hooks.init_sip_failover_timers(co);
    print_verbose_extra_info_outgoing_invite_sip_to_sip(co, out);
    const mangled_sip_to_sip &m = co->mangled.sip_to_sip;
    const char *target = co->dns_enum_regex[0] ? co->dns_enum_regex : proxy_of(out);
    // A request line of its own: the stack wants it whole.
    char request[320] = "";
    if (m.request_uri[0])
        snprintf(request, sizeof request, "INVITE %s SIP/2.0", m.request_uri);
    nua_invite(out->nh, TAG_IF(co->cc.disable_prack, SIPTAG_SUPPORTED_STR("timer, replaces")),
               NTATAG_DEFAULT_PROXY(URL_STRING_MAKE(target)), TAG_IF(headers[0], SIPTAG_HEADER_STR(headers)),
               TAG_IF(request[0], SIPTAG_REQUEST_STR(request)), SOATAG_USER_SDP_STR(sdp),
               SOATAG_ADDRESS(sdp_origin_address(out)),
               SIPTAG_CONTACT_STR(m.contact_outgoing), TAG_END());
    log_outgoing_invite(co, out, sdp);
    return ROW;
}

SM_ACTION(sm_s2s_send_failover_invite)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    if (!leg)
        return {SM_DISMANTLING, SM_NO_EVENT};
    nua_t *nua = leg->nua;
    drop_handle(leg);
    mangled_sip_to_sip &m = co->mangled.sip_to_sip;
    if (co->f.fax_calling_tone_detected && !co->f.fax_redirect && co->cc.faxdetect_extension[0]) {
        bounded_copy(m.to_user, sizeof m.to_user, co->cc.faxdetect_extension);
        // the sip_proxy of the SIP group of that name, as configured
        const port_group_sip *fax = co->cc.faxdetect_proxy[0] ? pg_get_port_group_sip_by_name(co->cc.faxdetect_proxy, nullptr)
                                                                : nullptr;
        if (fax && fax->pgs_sip_proxy)
            bounded_copy(m.to_url, sizeof m.to_url, fax->pgs_sip_proxy);
        co->f.fax_redirect = 1;
    }
    format_from_and_to(co, leg->sip_origin_address, sizeof leg->sip_origin_address, leg->sip_outbound_address,
                       sizeof leg->sip_outbound_address);
    if (!new_handle(co, leg, nua)) {
        return no_handle(co, leg);
    }
    update_rtp_port(co, leg);
    if (leg->rtp_local_port == 0) {
        return no_rtp_port(co);
    }
    char sdp[4096] = "";
    offer_for(co, leg, sdp, sizeof sdp);
    char headers[2048];
    invite_headers(co, headers, sizeof headers, false);
    const dialplan_element *dp = co->dp;
    const char *from_id = dp ? text(dp->from_id) : "", *to_id = dp ? text(dp->to_id) : "";
    _verbose_msg(__FILE__, __LINE__, __func__,
                      "D INCOMING|CID=%05i<br>%s=>%s, from_id=%s, to_id=%s, line=%i<br>aport:%i<br>oad=%s<br>dad=%s<br>"
                      "newsrc=%s, newsrc_auto=%s<br>newdest=%s, newdestauto=%s\n",
                      co->pid, dp ? dialplan_get_tech_name(dp->from_tech) : "", dp ? dialplan_get_tech_name(dp->to_tech) : "",
                      from_id, to_id, dp ? dp->line : 0, co->analog_port, text(co->pstn_oad), text(co->pstn_dad),
                      text(co->new_source), text(co->new_source_auto), text(co->new_destination),
                      text(co->new_destination_auto));
    print_verbose_extra_info_outgoing_invite_sip_to_sip(co, leg);
    nua_invite(leg->nh, TAG_IF(co->cc.disable_prack, SIPTAG_SUPPORTED_STR("timer, replaces")),
               NTATAG_DEFAULT_PROXY(URL_STRING_MAKE(proxy_of(leg))), TAG_IF(headers[0], SIPTAG_HEADER_STR(headers)),
               SOATAG_USER_SDP_STR(sdp), SOATAG_ADDRESS(sdp_origin_address(leg)), SIPTAG_CONTACT_STR(m.contact),
               TAG_END());
    log_outgoing_invite(co, leg, sdp);
    return ROW;
}

SM_ACTION(sm_s2s_send_progress_response)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *in = co->cl_sip_in, *out = co->cl_sip_out;
    if (!in || !out)
        return ROW;
    char headers[2048] = "";
    xheader_add(co, headers, sizeof headers);
    bool sdp_received = out->rtp_remote_ip[0] && out->rtp_remote_port > 0;
    bounded_copy(in->sip_response_buffer, sizeof in->sip_response_buffer, out->last_nua_status_text);
    int status = out->last_nua_status_code, answer;
    bool with_sdp;
    const char *label;
    if (status == 180) {
        answer = 180, with_sdp = sdp_received, label = "RINGING";
        co->f.cp_sip_180_sent = 1;
    } else if (status >= 181 && status <= 183) {
        answer = 183, with_sdp = sdp_received, label = "PROCEEDING";
        co->f.cp_sip_183_sent = 1;
    } else if (status == 200) {
        answer = 200, with_sdp = true, label = "OK";
        co->f.cp_sip_200_sent = 1;
    } else {
        return ROW;
    }
    LOGD_CALL(SIP, 5, co, "clsip %p, clsip_in %p, clsip_out %p recvsdp %i outrtp |%s| response %i sdpans %i offrecv %i",
              (void *)co->cl_sip, (void *)in, (void *)out, sdp_received ? 1 : 0, out->rtp_remote_ip, status,
              co->f.first_sdp_answered, co->f.sdp_offer_received);
    char sdp[4096] = "";
    if (with_sdp) {
        co->f.first_sdp_answered = 1;
        if (co->f.got_invite_without_sdp && !co->f.sdp_offer_received) {
            create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, in->rtp_local_port, 1);
            co->f.got_invite_without_sdp = 0;
            co->f.sdp_offer_sent = 1;
        } else if (co->f.sdp_offer_received) {
            create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, in->rtp_local_port, 0);
            co->f.sdp_offer_received = 0;
        }
    } else if (co->cl_sip) {
        co->cl_sip->sip_answer = SIP_ANSWER_NOT_NEEDED;
    }
    if (co->cc.header_passthrough)
        passthrough_headers_add(co, headers, sizeof headers);
    print_verbose_sip_msg(0, co, label);
    if (in->nh)
        nua_respond(in->nh, answer, lasting_phrase(answer, in->sip_response_buffer), SIPTAG_HEADER_STR(headers),
                    TAG_IF(sdp[0], SOATAG_USER_SDP_STR(sdp)), TAG_IF(sdp[0], SOATAG_ADDRESS(sdp_origin_address(in))),
                    TAG_IF(sdp[0], SOATAG_RTP_SELECT(2)), TAG_END());
    if (sdp[0])
        LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[%i] (with sdp) \"%s\"", cinfo(co), answer, in->sip_response_buffer);
    else
        LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[%i] (without sdp) \"%s\"", cinfo(co), answer,
             in->sip_response_buffer);
    return ROW;
}

SM_ACTION(sm_s2s_reject_call)
{
    (void)arg, (void)state, (void)event;
    relay_failure((call_object *)p);
    return ROW;
}

statemachine_handle_retval sm_s2s_reject_call_and_release(void *p, void *, int32_t, int32_t)
{
    relay_failure((call_object *)p);
    return {SM_DESTROYING, SM_NO_EVENT};
}

SM_ACTION(sm_s2s_reject_call_dns_fail)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *in = co->cl_sip_in;
    if (!in)
        return ROW;
    activate_call_leg(co, in);
    if (co->cl_sip_out)
        bounded_copy(in->sip_response_buffer, sizeof in->sip_response_buffer, co->cl_sip_out->last_nua_status_text);
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[404] \"Not Found\"", cinfo(co));
    if (in->nh)
        nua_respond(in->nh, 404, "Not Found", TAG_END());
    return ROW;
}

SM_ACTION(sm_s2s_end_call)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (co->f.transcoding_call)
        call_s2s_stop_transcoding(co, 1);
    call_leg_sip *current = co->cl_sip;
    call_leg_sip *other = current == co->cl_sip_in ? co->cl_sip_out : co->cl_sip_in;
    drop_handle(current);
    if (other && other->nh) {
        nua_handle_t *nh = other->nh;
        nua_handle_bind(nh, nullptr);
        nua_bye(nh, TAG_END());
        LOGM(SIP, 17, "%s S SEND: NUA_BYE", cinfo(co));
        nua_handle_destroy(nh);
        other->nh = nullptr;
    }
    return ROW;
}

SM_ACTION(sm_s2s_count_active_s2s_calls)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    uint32_t n = 1;
    for (int i = 0; gp && i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++) {
        const call_object *o = gp->operations[i];
        if (o && o != co && o->callinfo == CI_SIP_TO_SIP && o->sm_state == SM_CALL_ACTIVE)
            n++;
    }
    if (gp && n > gp->callstat.counter_sip_to_sip_max_simultaneous_connected)
        gp->callstat.counter_sip_to_sip_max_simultaneous_connected = n;
    return ROW;
}

statemachine_handle_retval sm_s2s_dont_start_transcoding_without_sdp_go_to_state_ringing(void *p, void *, int32_t,
                                                                                           int32_t)
{
    call_object *co = (call_object *)p;
    if (co->cl_sip_out && co->cl_sip_out->rtp_remote_port == 0)
        return {SM_SIP_RINGING, SM_NO_EVENT};
    return ROW;
}

SM_ACTION(sm_s2s_send_transfer_reinvite_on_second_leg)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *out = co->cl_sip_out;
    if (!out || !out->nh)
        return ROW;
    co->f.dummy_rtp = 0;
    codec_settings only{};
    cc_create_codec_settings_by_using_codec(&only, out->using_payload);
    char sdp[4096] = "";
    create_sdp_string(co, sdp, sizeof sdp, &only, out->rtp_local_port, 1);
    co->f.sdp_offer_sent = 1;
    nua_invite(out->nh, SOATAG_HOLD(""), SOATAG_USER_SDP_STR(sdp), SOATAG_ADDRESS(sdp_origin_address(out)), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_I_INVITE", cinfo(co));
    return ROW;
}

SM_ACTION(sm_s2s_dialplan_go_on)
{
    (void)arg, (void)event;
    call_object *co = (call_object *)p;
    if (!co->dp || !co->cl_sip_in || !co->cl_sip_out) {
        relay_failure(co);
        return {SM_DESTROYING, SM_NO_EVENT};
    }
    activate_call_leg(co, co->cl_sip_in);
    dialplan_element *old = dialplan_clone_element(co->dp);
    int old_line = co->dp->line;
    if (gp) {
        cc_release_call_configuration(co->cc_destination);
        co->cc_destination = &gp->default_call_configuration;
    }
    for (int start = co->dp->index + 1;;) {
        dialplan_element *e = dialplan_search_from_sip(co, start);
        if (!e)
            break;
        if (e->to_tech != TECH_SIP) {
            LOGD_CALL(TARN, 5, co, "dialplan_go_on: skipping line %i, a sip to sip call can only go on to sip", e->line);
            start = e->index + 1;
            continue;
        }
        LOGD_CALL(TARN, 5, co, "%s dialplan_go_on: continuing with line %i", cinfo(co), e->line);
        dialplan_cleanup_element(old);
        free(old);
        co->cdr.to = e->to_tech;
        free(co->new_destination_previous);
        co->new_destination_previous = nullptr;
        free(co->new_source_previous);
        co->new_source_previous = nullptr;
        co->f.new_destination_modified_with_vaz = 0;
        co->f.new_source_modified_with_vaz = 0;
        co->f.failover_call = 0;
        rebuild_configuration(co, co->cc_destination, nullptr);
        sm_add_vaz_to_new_destination(co, nullptr, state, event);
        dialplan_mangle_names_sip_to_sip(co);
        activate_call_leg(co, co->cl_sip_out);
        return ROW;
    }
    // no further SIP line: the old one again
    if (co->dp && co->dp != old) {
        dialplan_cleanup_element(co->dp);
        free(co->dp);
    }
    co->dp = old;
    activate_call_leg(co, co->cl_sip_out);
    LOGD_CALL(TARN, 5, co, "%s dialplan_go_on: no further dialplan line after line %i", cinfo(co), old_line);
    relay_failure(co);
    return {SM_DESTROYING, SM_NO_EVENT};
}

SM_ACTION(sm_switch_to_failover_proxy)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    if (!leg || !leg->pd || !leg->pd->failover || !leg->pd->failover[0])
        return ROW;
    undo_number_rewriting(co);
    proxy_def *pd = create_proxy_definition_by_id(leg->pd->failover, SIP_OUTBOUND);
    if (!pd) {
        co->dismantling_timeout = 5;
        return {SM_DISMANTLING, SM_NO_EVENT};
    }
    free_proxy_def(leg->pd);
    leg->pd = pd;
    co->f.failover_call = 1;
    // The failover rules stay those of the first target.
    char prefix[sizeof co->cc.sip_failover_prefix];
    int32_t causes[20];
    memcpy(prefix, co->cc.sip_failover_prefix, sizeof prefix);
    memcpy(causes, co->cc.sip_failover_causes, sizeof causes);
    int causes_size = co->cc.sip_failover_causes_size;
    rebuild_configuration(co, &pd->cc, nullptr);
    memcpy(co->cc.sip_failover_prefix, prefix, sizeof prefix);
    memcpy(co->cc.sip_failover_causes, causes, sizeof causes);
    co->cc.sip_failover_causes_size = causes_size;
    LOGD_CALL(SIP, 5, co, "switched to failover proxy %s", text(pd->proxy_nutag_address_string));
    return ROW;
}

SM_ACTION(sm_switch_to_callgroup_alternative)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    const char *member = hooks.get_next_sip_callgroup_alternative(co);
    if (!member || !*member)
        return {SM_DESTROYING, SM_NO_EVENT};
    proxy_def *pd = create_proxy_definition_by_id(member, SIP_OUTBOUND);
    if (!pd) {
        co->dismantling_timeout = 5;
        return {SM_DISMANTLING, SM_NO_EVENT};
    }
    port_group_sip *pgs = pg_get_port_group_sip_by_name(member, nullptr);
    if (!pgs || !co->dp || !co->dp->to_id || !strchr(co->dp->to_id, ':') || !co->cl_sip) {
        free_proxy_def(pd);
        return {SM_DESTROYING, SM_NO_EVENT};
    }
    call_leg_sip *leg = co->callinfo == CI_SIP_TO_SIP ? co->cl_sip_out : co->cl_sip;
    if (!leg) {
        free_proxy_def(pd);
        return {SM_DESTROYING, SM_NO_EVENT};
    }
    free_proxy_def(leg->pd);
    leg->pd = pd;
    free_proxy_def(co->dp->pd_out);
    co->dp->pd_out = clone_proxy_definition(pd);
    nua_t *group_nua = pgs->pgs_sip_stack ? pgs->pgs_sip_stack->nua : nullptr;
    if (co->callinfo == CI_SIP_TO_SIP) {
        activate_call_leg(co, co->cl_sip_in);
        int stop = 0;
        dialplan_search_from_sip_check_element(co, co->dp, 0, &stop);
        sm_add_vaz_to_new_destination(co, nullptr, state, event);
        if (group_nua)
            leg->nua = group_nua, leg->ss = pgs->pgs_sip_stack;
        dialplan_mangle_names_sip_to_sip(co);
        activate_call_leg(co, leg);
    } else {
        int stop = 0;
        dialplan_search_from_pstn_check_element(co, (dp_tech)co->cdr.from, co->dp, 0, &stop);
        if (group_nua)
            leg->nua = group_nua, leg->ss = pgs->pgs_sip_stack;
    }
    rebuild_configuration(co, nullptr, pgs->pgs_config_string);
    return ROW;
}

SM_ACTION(sm_s2s_handle_timeout)
{
    (void)arg;
    call_object *co = (call_object *)p;
    if (co->callinfo != CI_SIP_TO_SIP || !co->cl_sip_in || !co->cl_sip_out || !co->cl_sip)
        return ROW;
    int last = co->cl_sip->last_nua_status_code;
    if (last == 909 || last == 9000 || last == 9180 || last == 9183 || last == 9200) {
        co->cl_sip_out->last_nua_status_code = last;
        activate_call_leg(co, co->cl_sip_out);
        LOGM(SIP, 17, "%s S IND : TIMEOUT [%i] before the destination answered, cancelling the INVITE", cinfo(co),
             last);
        sm_send_nua_cancel(co, nullptr, state, event);
    }
    if (sm_event_status_of(event) != 1001)
        return ROW;
    call_leg_sip *out = co->cl_sip_out;
    if (out->pd && out->pd->failover && out->pd->failover[0] && !co->f.failover_call) {
        statemachine_handle_retval r = sm_switch_to_failover_proxy(co, nullptr, state, event);
        if (r.state != SM_NO_DECISION)
            return r;
        dialplan_mangle_names_sip_to_sip(co);
        r = sm_s2s_send_failover_invite(co, nullptr, state, event);
        if (r.state != SM_NO_DECISION)
            return r;
        hooks.init_sip_failover_timers(co);
        return {SM_SIP_INVITE_SENT, SM_NO_EVENT};
    }
    if (co->cc.dialplan_go_on) {
        statemachine_handle_retval r = sm_s2s_dialplan_go_on(co, nullptr, state, event);
        if (r.state != SM_NO_DECISION)
            return r;
        r = sm_s2s_send_invite(co, nullptr, state, event);
        if (r.state == SM_NO_DECISION)
            return {SM_SIP_INVITE_SENT, SM_NO_EVENT};
        return r;
    }
    relay_failure(co);
    return {SM_DESTROYING, SM_NO_EVENT};
}

SM_ACTION(sm_s2s_check_for_302_passthrough)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (co->cc.call_forwarding_mode || !co->cl_sip || co->cl_sip != co->cl_sip_out || !co->cl_sip_in)
        return ROW;
    call_leg_sip *in = co->cl_sip_in, *out = co->cl_sip_out;
    char host[256];
    s2s_302_contact_host(co, host, sizeof host);
    const sip_t *sip = (const sip_t *)out->tmpsip;
    const char *user = sip && sip->sip_contact && sip->sip_contact->m_url->url_user ? sip->sip_contact->m_url->url_user
                                                                                    : "";
    char contact[600];
    snprintf(contact, sizeof contact, "sip:%s@%s", user, host);
    char pai[640] = "";
    if (co->cc.s2s_302_set_pai)
        snprintf(pai, sizeof pai, "P-Asserted-Identity: %s\r\n", contact);
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[302] \"Moved Temporarily\"", cinfo(co));
    if (in->nh) {
        nua_respond(in->nh, 302, "Moved Temporarily", SIPTAG_CONTACT_STR(contact),
                    TAG_IF(pai[0], SIPTAG_HEADER_STR(pai)), TAG_END());
        drop_handle(in);
    }
    return {SM_DESTROYING, SM_NO_EVENT};
}

SM_ACTION(sm_sip_forward_message)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (!co->f.is_sip_message)
        return ROW;
    call_leg_sip *out = co->cl_sip_out;
    if (!out || !co->cl_sip)
        return {SM_DISMANTLING, SM_NO_EVENT};
    format_from_and_to(co, out->sip_origin_address, sizeof out->sip_origin_address, out->sip_outbound_address,
                       sizeof out->sip_outbound_address);
    nua_t *nua = co->cl_sip->nua;
    out->nh = nua ? nua_handle(nua, (nua_hmagic_t *)co, SIPTAG_FROM_STR(out->sip_origin_address),
                               SIPTAG_TO_STR(out->sip_outbound_address), SOATAG_ADDRESS(sdp_origin_address(out)),
                               TAG_END())
                  : nullptr;
    if (!out->nh) {
        return no_handle(co, out);
    }
    out->nua = nua;
    if (co->sip_msg_buf)
        nua_message(out->nh, SIPTAG_CONTENT_TYPE_STR("text/plain"), SIPTAG_PAYLOAD_STR(co->sip_msg_buf),
                    NTATAG_DEFAULT_PROXY(URL_STRING_MAKE(proxy_of(out))), TAG_END());
    return {SM_SIP_INVITE_SENT, SM_NO_EVENT};
}

// ---- transfer by REFER --------------------------------------------------------------------

namespace {

// The CDR of the call so far is written; a new one starts now.
void restart_cdr(call_object *co, const call_leg_sip *leg)
{
    time_t now = time(nullptr);
    co->cdr.terminated_by = co->cdr.to;
    co->cdr.tc_incoming_event = leg->last_nua_event;
    co->cdr.tc_incoming_status = leg->last_nua_status_code;
    co->cdr.call_stop = now;
    cdr_write_out(co);
    co->cdr.terminated_by = 7;
    co->cdr.call_start = now;
    co->cdr.call_stop = 0;
    co->cdr.connect_start = 0;
    co->cdr.connect_stop = 0;
}

bool from_the_call(const call_object *co)
{
    switch (co->callinfo) {
    case CI_ISDN_TO_SIP:
    case CI_ANALOG_TO_SIP:
    case CI_GSM_TO_SIP:
    case CI_CAS_TO_SIP:
        return true;
    case CI_SIP_TO_SIP:
        return co->cl_sip == co->cl_sip_out;
    default:
        return false;
    }
}

// The other call whose leg 1 is the dialog with the Replaces Call-ID (as
// given, then with "%40" read as "@"), for a join on this gateway.
call_object *find_replaced_dialog(call_object *co, nua_t *nua, const char *call_id)
{
    char at_form[256];
    snprintf(at_form, sizeof at_form, "%s", call_id);
    for (char *s; (s = strstr(at_form, "%40"));) {
        *s = '@';
        memmove(s + 1, s + 3, strlen(s + 3) + 1);
    }
    nua_handle_t *nh[2] = {nua ? nua_handle_by_call_id(nua, call_id) : nullptr,
                           nua ? nua_handle_by_call_id(nua, at_form) : nullptr};
    call_object *found = nullptr;
    for (int i = 0; !found && gp && i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++) {
        call_object *o = gp->operations[i];
        if (!o || o == co || o->callinfo == CI_FREE || !o->cl_sip_in || !o->cl_sip_in->nh) {
            LOGD_CALL(SIP, 8, co, "REFERDBG4: skipping co on idx %i", i);
            continue;
        }
        if (nh[0] && o->cl_sip_in->nh == nh[0]) {
            LOGD_CALL(SIP, 8, co, "REFERDBG5b: match on idx %i with |%s|", i, call_id);
            found = o;
        } else if (nh[1] && o->cl_sip_in->nh == nh[1]) {
            LOGD_CALL(SIP, 8, co, "REFERDBG5c: match on idx %i with |%s|", i, at_form);
            found = o;
        } else {
            LOGD_CALL(SIP, 8, co, "REFERDBG5a: no match on idx %i with |%s|", i, call_id);
        }
    }
    for (nua_handle_t *h : nh)
        if (h)
            nua_handle_unref(h);
    return found;
}

// Two SIP-to-SIP calls of this gateway joined: the other call's leg that
// owns the replaced dialog and this call's leg that did not get the REFER
// change places.
void join_locally(call_object *co, call_object *other)
{
    call_leg_sip *mine = co->cl_sip == co->cl_sip_in ? co->cl_sip_out : co->cl_sip_in;
    call_leg_sip *theirs = other->cl_sip_in;
    if (!mine || !theirs)
        return;
    if (co->cl_sip_in == mine)
        co->cl_sip_in = theirs;
    else
        co->cl_sip_out = theirs;
    other->cl_sip_in = mine;
    if (other->cl_sip == theirs)
        other->cl_sip = mine;
    if (mine->nh)
        nua_handle_bind(mine->nh, (nua_hmagic_t *)other);
    if (theirs->nh)
        nua_handle_bind(theirs->nh, (nua_hmagic_t *)co);
    // the media addresses both calls started with no longer hold
    for (call_object *c : {co, other})
        for (call_leg_sip *l : {c->cl_sip_in, c->cl_sip_out})
            if (l && l->rtp_remote_ip_started[0])
                l->rtp_remote_ip_started[0] = '0';
    add_sm_task(other, sm_general(GENERAL_EVENT_RESTART_TRANSCODING));
}

} // namespace

SM_ACTION(sm_handle_refer)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    const sip_t *sip = leg ? (const sip_t *)leg->tmpsip : nullptr;
    if (!sip || !sip->sip_refer_to)
        return ROW;
    const url_t *target = sip->sip_refer_to->r_url;

    // 1.
    restart_cdr(co, leg);
    // 2.
    char replaces[256] = "";
    sip_refer_replaces(target->url_headers, replaces, sizeof replaces);
    // 3.
    tagi_t *refer_event = nullptr;
    if (leg->tmptags)
        refer_event = tl_find(reinterpret_cast<tagi_t *>(leg->tmptags), nutag_refer_event);
    leg->nh_referring = leg->nh;
    leg->nh = nullptr;
    // 4.
    const char *scheme = leg->ss && (leg->ss->transport & SIP_TRANSPORT_TLS) ? "sips" : "sip";
    char port[16] = "";
    if (target->url_port && *target->url_port)
        snprintf(port, sizeof port, ":%s", target->url_port);
    snprintf(leg->sip_outbound_address, sizeof leg->sip_outbound_address, "<%s:%s@%s%s>", scheme,
             text(target->url_user), text(target->url_host), port);
    const char *display = "", *user = "", *host = "";
    if (from_the_call(co) && co->callinfo == CI_SIP_TO_SIP) {
        const mangled_sip_to_sip &m = co->mangled.sip_to_sip;
        display = m.from_display, user = m.from_user, host = m.from_url;
    } else if (from_the_call(co)) {
        const mangled_pstn_to_sip &m = co->mangled.pstn_to_sip;
        display = m.from_display, user = m.from_user, host = m.from_url;
    } else if (sip->sip_to) {
        display = text(sip->sip_to->a_display);
        user = text(sip->sip_to->a_url->url_user);
        host = text(sip->sip_to->a_url->url_host);
    }
    char origin[1024];
    snprintf(origin, sizeof origin, "\"%s\" <%s:%s@%s>", display, scheme, user, host);
    bounded_copy(leg->sip_origin_address, sizeof leg->sip_origin_address, origin);
    LOGD_CALL(SIP, 8, co, "REFERDBG1: eo %i ci %i srturl |%s| REPLACES |%s|",
              gp && gp->experimental_options ? gp->experimental_options->eo_allow_local_refer_replaces : 0,
              co->callinfo, leg->sip_outbound_address, replaces);
    // 5.
    if (gp && gp->experimental_options && gp->experimental_options->eo_allow_local_refer_replaces == 1 &&
        co->callinfo == CI_SIP_TO_SIP && replaces[0]) {
        bool ours = false;
        for (int i = 1; i < gp->sip_stack_size && !ours; i++) {
            LOGD_CALL(SIP, 8, co, "REFERDBG2: stackurl %i |%s|", i, gp->sip_stacks[i].ip);
            ours = target->url_host && strcmp(gp->sip_stacks[i].ip, target->url_host) == 0;
            LOGD_CALL(SIP, 8, co, "REFERDBG3: ipcheck %i", ours ? 1 : 0);
        }
        if (ours) {
            char call_id[256];
            snprintf(call_id, sizeof call_id, "%s", replaces);
            call_id[strcspn(call_id, ";")] = '\0';
            call_object *other = find_replaced_dialog(co, leg->nua, call_id);
            if (other && other->callinfo == CI_SIP_TO_SIP) {
                leg->nh = leg->nh_referring; // the REFER's dialog stays with this call
                leg->nh_referring = nullptr;
                join_locally(co, other);
                return {SM_DESTROYING, SM_NO_EVENT};
            }
        }
    }
    // 6.
    leg->nh = leg->nua ? nua_handle(leg->nua, (nua_hmagic_t *)co, SIPTAG_TO_STR(leg->sip_outbound_address),
                                    NUTAG_AUTOANSWER(0), SIPTAG_FROM_STR(leg->sip_origin_address),
                                    SOATAG_ADDRESS(sdp_origin_address(leg)),
                                    TAG_IF(sip->sip_referred_by, SIPTAG_REFERRED_BY(sip->sip_referred_by)), TAG_END())
                       : nullptr;
    LOGD_CALL(SIP, 5, co, "REFER: ORIGIN |%s| OUTBOUND |%s| REPLACES |%s|", leg->sip_origin_address,
              leg->sip_outbound_address, replaces);
    if (!leg->nh) {
        return no_handle(co, leg);
    }
    char sdp[4096] = "";
    create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, leg->rtp_local_port, 1);
    co->f.sdp_offer_sent = 1;
    bool force_contact = co->callinfo == CI_ISDN_TO_SIP && gp && gp->experimental_options &&
                         gp->experimental_options->eo_replaces_force_contact;
    const char *contact = co->mangled.pstn_to_sip.contact;
    if (force_contact)
        LOGD_CALL(SIP, 5, co, "REFER: FORCING CONTACT |%s|", contact);
    nua_invite(leg->nh, NUTAG_NOTIFY_REFER(leg->nh_referring),
               TAG_IF(refer_event, NUTAG_REFER_EVENT(refer_event ? (sip_event_t *)refer_event->t_value : nullptr)),
               TAG_IF(co->cc.disable_prack, SIPTAG_SUPPORTED_STR("timer, replaces")),
               TAG_IF(replaces[0], SIPTAG_REPLACES_STR(replaces)), SOATAG_USER_SDP_STR(sdp),
               SOATAG_ADDRESS(sdp_origin_address(leg)),
               TAG_IF(force_contact, SIPTAG_CONTACT_STR(contact)), TAG_END());
    log_outgoing_invite(co, leg, sdp);
    return {SM_CALL_ACTIVE_REFERRING, SM_NO_EVENT};
}
