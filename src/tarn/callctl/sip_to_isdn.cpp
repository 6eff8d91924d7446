// The SIP side of the SIP-to-ISDN actions: answers to ISDN progress, the
// rejection by the ISDN cause, SIP INFO from and to ISDN on a connected
// call, the connected number before CONNECT and a new INVITE after a SIP
// redirection.
#include "sip_request_order.h"
#include "sip_to_isdn.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "application.h"
#include "call_info.h"
#include "call_object.h"
#include "call_progress.h"
#include "causes.h"
#include "dialplan.h"
#include "log.h"
#include "log_backend.h"
#include "media_callctl.h"
#include "media_relay.h"
#include "misdn_bchannel.h"
#include "pools.h"
#include "proxy_def.h"
#include "rtp_ports.h"
#include "sdp_offer_answer.h"
#include "sip_headers.h"
#include "sip_responses.h"
#include "sip_stack.h"
#include "sip_trace.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "strtools.h"
#include "xdv_headers.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/soa_tag.h>

namespace {

const statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};

const sip_t *current_message(const call_object *co)
{
    return co && co->cl_sip ? (const sip_t *)co->cl_sip->tmpsip : nullptr;
}

int last_history_entry(const call_object *co)
{
    int n = co->isdn_event_history_size;
    if (n <= 0)
        return -1;
    return co->isdn_event_history[(n - 1) % CPT_HISTORY_RING];
}

// The ISDN lines (with ie_on_sip) and the gateway's own headers.
void ie_and_extra_headers(call_object *co, char *buf, int size)
{
    buf[0] = 0;
    if (co->cc.ie_on_sip && co->bc)
        isdn_ie_to_sip_header_str(co->bc, buf, size);
    xheader_add(co, buf, (size_t)size);
}

// A call looped back through this gateway rings as well: the ISDN-to-SIP
// call on a TE port whose local RTP port is this leg's far port.
void ring_looped_call(call_object *co, const char *reason)
{
    call_leg_sip *leg = co->cl_sip;
    if (!gp || !leg || !co->f.invite_with_local_rtp || co->f.invite_from_davnole)
        return;
    for (int i = 0; i < OPERATIONARRAYSIZE; i++) {
        call_object *other = gp->operations[i];
        if (!other || other == co || other->callinfo != CI_ISDN_TO_SIP || !other->cl_sip || !other->bc ||
            other->bc->nt || other->cl_sip->rtp_local_port != leg->rtp_remote_port)
            continue;
        other->cl_sip->last_nua_status_code = 180;
        snprintf(other->cl_sip->last_nua_status_text, sizeof other->cl_sip->last_nua_status_text, "%s", reason);
        add_sm_task(other, sm_sip(180, nua_i_state));
        return;
    }
}

} // namespace

// Sends the answer (status, reason) of a call's INVITE with the header
// text and, when asked for, the call's SDP offer or answer.
void respond_with_progress(call_object *co, int status, const char *reason, bool with_sdp, const char *headers)
{
    call_leg_sip *leg = co->cl_sip;
    if (status == 180)
        ring_looped_call(co, reason);
    char sdp[4096] = "";
    bool repeat_answer = false;
    if (with_sdp) {
        bool answered_before = co->f.first_sdp_answered;
        co->f.first_sdp_answered = 1;
        if (co->f.got_invite_without_sdp && !co->f.sdp_offer_received) {
            create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, leg->rtp_local_port, 1);
            co->f.got_invite_without_sdp = 0;
            co->f.sdp_offer_sent = 1;
        } else if (co->f.sdp_offer_received) {
            create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, leg->rtp_local_port, 0);
        } else if (answered_before && !co->f.sdp_offer_sent) {
            // The answer went out in an earlier unreliable provisional
            // response: a later 180 or the 200 that the table wants with
            // SDP carries the same answer again (the stack repeats its
            // answer when the response comes with the user's SDP).
            create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, leg->rtp_local_port, 0);
            repeat_answer = true;
        }
        co->f.sdp_offer_received = 0;
    }
    // The reason buffer may hold the next answer's text when the stack's
    // thread sends this one.
    nua_respond(leg->nh, status, sip_answer_phrase(leg->nh, reason),
                TAG_IF(headers[0], SIPTAG_HEADER_STR(headers)), TAG_IF(sdp[0], SOATAG_USER_SDP_STR(sdp)),
                TAG_IF(sdp[0], SOATAG_ADDRESS(sdp_origin_address(leg))), TAG_IF(sdp[0], SOATAG_RTP_SELECT(2)),
                TAG_IF(repeat_answer, NUTAG_INCLUDE_EXTRA_SDP(1)), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[%i] \"%s\"", cinfo(co), status, reason);
    if (leg->sip_answer == SIP_ANSWER_OK)
        co->f.connection_established = 1;
    leg->sip_answer = SIP_ANSWER_NOT_NEEDED;
    if (headers[0] && co->bc)
        misdn_clean_ie_buffers(co->bc);
}

namespace {

// The SIP rejection by the ISDN side's cause (or 480 without a B-channel).
void reject_by_isdn_cause(call_object *co)
{
    call_leg_sip *leg = co->cl_sip;
    if (!leg)
        return;
    if (!co->bc) {
        if (leg->nh)
            nua_respond(leg->nh, 480, sip_answer_phrase(leg->nh, "NUA_TEMPORARILY_UNAVAILABLE"), TAG_END());
        LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[%i] \"%s\"", cinfo(co), 480, "NUA_TEMPORARILY_UNAVAILABLE");
        print_verbose_sip_msg(0, co, "RESPONSE_TEMPORARILY_UNAVAILABLE");
        return;
    }
    leg->sip_answer = SIP_ANSWER_NOT_NEEDED;
    char headers[2048];
    ie_and_extra_headers(co, headers, sizeof headers);
    co->special_termination_reason = 0;
    char reason[512] = "";
    format_reason_header(co, reason, sizeof reason);
    int status = 0;
    const char *text = nullptr;
    get_reject_cause(TECH_SIP, TECH_ISDN, co->bc->cause, &status, &text);
    if (leg->nh)
        nua_respond(leg->nh, status, sip_answer_phrase(leg->nh, text),
                    TAG_IF(headers[0], SIPTAG_HEADER_STR(headers)), TAG_IF(reason[0], SIPTAG_HEADER_STR(reason)),
                    TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[%i] \"%s\"", cinfo(co), status, reject_text(text));
    print_verbose_sip_msg(0, co, reject_text(text));
}

// A SIP INFO with the IE lines and the PAE lines of the user-user data,
// when pae_headers is set and user-user data is there.
void send_uu_as_info(call_object *co)
{
    misdn_bchannel *bc = co->bc;
    if (!bc || !co->cc.pae_headers || bc->uulen <= 0)
        return;
    char pae1[256], pae2[256];
    parse_pae_uu(bc, pae1, sizeof pae1, pae2, sizeof pae2);
    bc->uulen = 0;
    call_leg_sip *leg = co->cl_sip;
    if (!leg || !leg->nh || !pae1[0])
        return;
    char headers[2048] = "";
    if (co->cc.ie_on_sip)
        isdn_ie_to_sip_header_str(bc, headers, sizeof headers);
    for (const char *l : {pae1, pae2})
        if (l[0])
            st_safe_strcat(headers, sizeof headers, "%s\r\n", l);
    nua_info(leg->nh, SIPTAG_HEADER_STR(headers), TAG_END());
    sip_info_sent(leg);
    LOGM(SIP, 17, "%s S SEND: NUA_INFO", cinfo(co));
}

// The DTMF text of a SIP INFO body by its content type: "application/dtmf-
// relay" the last Signal line (with Duration when need_duration), an
// "application/dtmf" body whole. False for other bodies.
bool info_dtmf_text(const sip_t *sip, bool need_duration, char *value, size_t size)
{
    value[0] = 0;
    if (!sip || !sip->sip_payload || !sip->sip_payload->pl_data || sip->sip_payload->pl_len == 0)
        return false;
    size_t len = sip->sip_payload->pl_len > 511 ? 511 : sip->sip_payload->pl_len;
    const char *body = sip->sip_payload->pl_data;
    const char *type = sip->sip_content_type ? sip->sip_content_type->c_type : nullptr;
    if (type && strcasecmp(type, "application/dtmf-relay") == 0) {
        if (need_duration) {
            bool duration = false;
            for (size_t i = 0; i + 8 <= len; i++)
                if ((i == 0 || body[i - 1] == '\n') && strncasecmp(body + i, "Duration", 8) == 0)
                    duration = true;
            if (!duration)
                return false;
        }
        return sip_body_last_signal(body, len, value, size) == 1;
    }
    if (type && strcasecmp(type, "application/dtmf") == 0) {
        snprintf(value, size, "%.*s", (int)len, body);
        st_trimstring(value);
        return true;
    }
    return false;
}

} // namespace

SM_ACTION(sm_s2i_send_nua_progress_response)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    misdn_bchannel *bc = co->bc;
    if (!bc || !leg)
        return ROW;
    char headers[1024];
    ie_and_extra_headers(co, headers, sizeof headers);
    LOGD_CALL(SIP, 5, co, "for co %p (index %i) -- answering %s!", (void *)co, co->index,
              print_sip_response_type(leg->sip_answer));
    const char *name = co->cc.s2i_call_progress_table_name;
    if (!co->s2i_cpt && name[0]) {
        co->s2i_cpt = cpt_s2i_get_table_by_name(name);
        if (!co->s2i_cpt)
            LOGD_CALL(SIP, 34, co, "%s E ERR : couldn't find s2i call progress table with name %s", cinfo(co), name);
    }
    int last = last_history_entry(co);
    int media = co->f.progress8_set || last == CP_ISDN_CONNECT ? CPT_WITH_INBAND
                : bc->channel > 0                            ? CPT_WITHOUT_INBAND
                                                             : CPT_NO_CHANNEL;
    cpt_events answer = CP_RESPOND_NOTHING;
    int ret = -1;
    if (co->s2i_cpt)
        ret = cpt_search_s2i(co->s2i_cpt, bc->nt, media, co->isdn_event_history, co->isdn_event_history_size,
                             leg->sip_response_buffer, sizeof leg->sip_response_buffer, &answer);
    if (ret == -1 && gp && gp->s2i_cpt_default)
        cpt_search_s2i(gp->s2i_cpt_default, bc->nt, media, co->isdn_event_history, co->isdn_event_history_size,
                       leg->sip_response_buffer, sizeof leg->sip_response_buffer, &answer);
    if (co->cc.ie_on_sip) {
        co->f.cp_sip_180_sent = 0;
        co->f.cp_sip_183_sent = 0;
    }

    int status = 0;
    bool with_sdp = false;
    const char *reason = leg->sip_response_buffer;
    switch (answer) {
    case CP_RESPOND_180_SDP:
    case CP_RESPOND_180:
        if (!co->f.cp_sip_180_sent) {
            status = 180, with_sdp = answer == CP_RESPOND_180_SDP;
            co->f.cp_sip_180_sent = 1;
        }
        break;
    case CP_RESPOND_183_SDP:
    case CP_RESPOND_183:
        if (!co->f.cp_sip_183_sent) {
            status = 183, with_sdp = answer == CP_RESPOND_183_SDP;
            co->f.cp_sip_183_sent = 1;
        }
        break;
    case CP_RESPOND_200:
        if (!co->f.cp_sip_200_sent) {
            status = 200, with_sdp = true;
            co->f.cp_sip_200_sent = 1;
        }
        break;
    default: break;
    }
    if (!status) {
        if (co->f.cp_second_invite) {
            if (leg->sip_answer == SIP_ANSWER_RINGING)
                status = 180, reason = "DV_RINGING";
            else if (leg->sip_answer == SIP_ANSWER_PROGRESS)
                status = 183, reason = "DV_PROCEEDING";
            else
                status = 200, reason = "DV_OK", with_sdp = true;
        } else if (last == CP_ISDN_CONNECT && !co->f.cp_sip_200_sent) {
            status = 200, reason = "DV_OK!", with_sdp = true;
            co->f.cp_sip_200_sent = 1;
        }
    }
    if (!status || !leg->nh)
        return ROW;
    respond_with_progress(co, status, reason, with_sdp, headers);
    return ROW;
}

SM_ACTION(sm_isdn_send_sip_reject_by_isdn_disconnect_cause)
{
    (void)arg, (void)state, (void)event;
    reject_by_isdn_cause((call_object *)p);
    return ROW;
}

SM_ACTION(sm_isdn_check_continue_next_port)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    switch (s2i_move_to_other_port(co)) {
    case S2I_PORT_MOVED: return {SM_KEEP_STATE, SM_NO_EVENT};
    case S2I_PORT_NONE_FREE:
        reject_by_isdn_cause(co);
        s2i_drop_bchannel(co);
        // Answered: the following row must not answer the INVITE again.
        return {SM_DESTROYING, SM_NO_EVENT};
    default: return ROW;
    }
}

SM_ACTION(sm_isdn_handle_user_information_element_connected)
{
    (void)arg, (void)state, (void)event;
    send_uu_as_info((call_object *)p);
    return ROW;
}

SM_ACTION(sm_isdn_handle_information_element_connected)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    misdn_bchannel *bc = co->bc;
    if (!bc)
        return ROW;
    char digit = bc->keypad[0] ? bc->keypad[0] : bc->info_dad[0];
    bc->keypad[0] = 0;
    bc->info_dad[0] = 0;
    send_uu_as_info(co);
    int code = s2i_tone_code(digit);
    if (digit && code >= 0 && media_has_process_dtmf())
        media_callctl().process_dtmf(0, co, code);
    return ROW;
}

SM_ACTION(sm_sip_handle_incoming_sip_info_during_connect)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    LOGD_CALL(SIP, 5, co, "xhere");
    const sip_t *sip = current_message(co);
    if (co->cc.ie_on_sip && sip && co->bc) {
        apply_sip_extension_headers(co->bc, sip, nullptr);
        isdn_send_facility_now(co->bc);
    }
    if (!sip || !sip->sip_payload || !sip->sip_payload->pl_data || sip->sip_payload->pl_len == 0)
        return ROW;
    co->f.regenerate_inband_dtmf_to_tdm = 1;
    char value[512];
    if (!info_dtmf_text(sip, false, value, sizeof value))
        return ROW;
    if (co->bc)
        co->bc->info_dad[0] = 0;
    int code = s2i_tone_code(value[0]);
    if (value[0] && code >= 0 && media_has_process_dtmf()) {
        co->f.got_sip_info_dtmf = 1;
        media_callctl().process_dtmf(1, co, code);
        co->f.got_sip_info_dtmf = 0;
    }
    return ROW;
}

SM_ACTION(sm_s2s_handle_incoming_sip_info_during_connect)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    const sip_t *sip = current_message(co);
    char value[512];
    if (!info_dtmf_text(sip, true, value, sizeof value))
        return ROW;
    int code = s2i_tone_code(value[0]);
    if (!value[0] || code < 0)
        return ROW;
    call_object *to = co->cl_sip == co->cl_sip_in ? co->transcoding_buddy : co;
    if (!to) {
        LOGD_CALL(SIP, 5, co, "no call to relay the digit to");
        return ROW;
    }
    to->f.dtmf_by_nua_info = 1;
    send_dtmf_to_sip(to, code, 160);
    to->f.dtmf_by_nua_info = 0;
    return ROW;
}

SM_ACTION(sm_isdn_encode_cad)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    misdn_bchannel *bc = co->bc;
    if (!bc)
        return ROW;
    bc->cton = (mISDN_NUMBER_TYPE)co->cc.cton;
    bc->cnpi = (mISDN_NUMBER_PLAN)co->cc.cnpi;
    bc->cscreen = 0;
    bc->cpres = 0;
    const sip_t *sip = current_message(co);
    bool from_header = false;
    if (co->cc.ie_on_sip && sip) {
        apply_sip_extension_headers(bc, sip, nullptr);
        from_header = sip_has_extension_header(sip, "X-DV_CONNECT_PN");
    }
    if (!from_header) {
        if (co->cc.cad_setting == 0) {
            bc->cad[0] = 0;
        } else if (co->cc.cad_setting == 1) {
            snprintf(bc->cad, sizeof bc->cad, "%s", bc->dad);
        } else {
            const char *nd = co->new_destination ? co->new_destination : "";
            if (nd[0] == '+')
                snprintf(bc->cad, sizeof bc->cad, "%s%s", co->cc.cton == 1 ? "" : "00", nd + 1);
            else
                snprintf(bc->cad, sizeof bc->cad, "%s", nd);
        }
    }
    if (st_string_has_non_valid_isdn_chars(bc->cad, co->cc.allow_all_chars_in_isdn_number))
        bc->cad[0] = 0;
    if (bc->use_qsig && sip && sip->sip_to && sip->sip_to->a_display && sip->sip_to->a_display[0]) {
        char name[BC_QSIG_NAME_LEN];
        snprintf(name, sizeof name, "%s", sip->sip_to->a_display);
        st_remove_characters(name, "\"");
        snprintf(bc->qsig_local_name, sizeof bc->qsig_local_name, "%s", name);
    }
    return ROW;
}

SM_ACTION(sm_sip_check_sending_new_invite)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    const sip_t *sip = current_message(co);
    const sip_contact_t *contact = sip ? sip->sip_contact : nullptr;
    if (!leg || !contact || !contact->m_url->url_host) {
        LOGD_CALL(SIP, 2, co, "no sip -> cancelling call?");
        return {SM_DESTROYING, SM_NO_EVENT};
    }
    const url_t *url = contact->m_url;
    const char *user = url->url_user ? url->url_user : "";
    if (co->bc && !co->bc->nt && co->cc.calldeflect && user[0] && !st_string_has_non_digits(user))
        return ROW;

    char diversion[512];
    snprintf(diversion, sizeof diversion, "Diversion: %s;reason=unconditional;counter=1\r\n",
             leg->sip_outbound_address);
    if (leg->nh) {
        nua_handle_bind(leg->nh, nullptr);
        nua_handle_destroy(leg->nh);
        leg->nh = nullptr;
    }
    const char *port = url->url_port;
    bool plain = !port || !port[0] || strcmp(port, "5060") == 0;
    char address[256];
    if (plain && user[0])
        snprintf(address, sizeof address, "<sip:%s@%s>", user, url->url_host);
    else if (plain)
        snprintf(address, sizeof address, "<sip:%s>", url->url_host);
    else if (user[0])
        snprintf(address, sizeof address, "<sip:%s@%s:%s>", user, url->url_host, port);
    else
        snprintf(address, sizeof address, "<sip:%s:%s>", url->url_host, port);
    snprintf(leg->sip_outbound_address, sizeof leg->sip_outbound_address, "%s", address);
    LOGD_CALL(SIP, 5, co, "now sending new invite to: %s", address);

    update_rtp_port(co, leg);
    char sdp[4096] = "";
    create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, leg->rtp_local_port, 1);
    leg->nh = nua_handle(leg->nua, (nua_hmagic_t *)co, SIPTAG_TO_STR(address),
                         TAG_IF(leg->sip_origin_address[0], SIPTAG_FROM_STR(leg->sip_origin_address)),
                         SOATAG_ADDRESS(sdp_origin_address(leg)), TAG_END());
    LOGD_CALL(SIP, 5, co, "==> from: %s ==> to: %s ==>sdp: %s", leg->sip_origin_address, address, sdp);

    char headers[4096] = "";
    if (co->cc.ie_on_sip && co->bc)
        isdn_ie_to_sip_header_str(co->bc, headers, sizeof headers);
    if (co->cc.call_forwarding_mode == 2)
        st_safe_strcat(headers, sizeof headers, "%s", diversion);
    co->f.sdp_offer_sent = 1;

    char contact_text[256];
    const char *pd_user = leg->pd && leg->pd->user && leg->pd->user[0] ? leg->pd->user : "";
    if (leg->ss)
        snprintf(contact_text, sizeof contact_text, "sip:%s%s%s:%i", pd_user, pd_user[0] ? "@" : "", leg->ss->ip,
                 leg->ss->sip_port);
    else
        snprintf(contact_text, sizeof contact_text, "sip:%s%s%s:%i", pd_user, pd_user[0] ? "@" : "", leg->using_ip,
                 co->cc.tr119 ? 5061 : 5060);

    char invite_headers[2048] = "";
    format_invite_headers(co, invite_headers, sizeof invite_headers);
    st_safe_strcat(headers, sizeof headers, "%s", invite_headers);
    xheader_add(co, headers, sizeof headers);
    if (!leg->nh)
        return {SM_DESTROYING, SM_NO_EVENT};
    nua_invite(leg->nh, TAG_IF(headers[0], SIPTAG_HEADER_STR(headers)), SIPTAG_CONTACT_STR(contact_text),
               TAG_IF(sdp[0], SOATAG_USER_SDP_STR(sdp)), TAG_IF(sdp[0], SOATAG_ADDRESS(sdp_origin_address(leg))),
               TAG_IF(co->cc.disable_prack, SIPTAG_SUPPORTED_STR("timer, replaces")), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_I_INVITE", cinfo(co));
    LOGM(SIP, 17, "%s from: %s", cinfo(co), leg->sip_origin_address);
    LOGM(SIP, 17, "%s to: %s", cinfo(co), address);
    LOGD_CALL(SIP, 3, co, "S SEND: nua_i_invite[0]");
    return {SM_SIP_INVITE_SENT, SM_NO_EVENT};
}
