// State-table actions that send what a call owes its SIP peer: the owed
// answer to an INVITE (with SDP where it is due), the 183 of a call that
// waits for a CANCEL, the rejections after an ISDN time-out and a busy FXO
// line, the answer to a re-INVITE of a SIP-to-SIP call and the passthrough
// headers taken from the far leg; the header texts that go with them.
#include <regex.h>
#include <strings.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "call_object.h"
#include "causes.h"
#include "bc_ie_facilities.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "sdp_offer_answer.h"
#include "sip_headers.h"
#include "sip_responses.h"
#include "sip_trace.h"
#include "state_table_actions.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/soa_tag.h>
#include <sofia-sip/su_alloc.h>

const char *sip_answer_phrase(nua_handle_t *nh, const char *phrase)
{
    const char *copy = nh ? su_strdup(nua_handle_home(nh), reject_text(phrase)) : nullptr;
    return copy ? copy : "";
}

namespace {

const statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};

enum { HEADER_TEXT = 1024, ISDN_HEADER_TEXT = 2048, SDP_TEXT = 4096, PASSTHROUGH_SLOTS = 32 };

void isdn_headers_not_built(misdn_bchannel *, char *buf, int size)
{
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        LOGD(SIP, 0, nullptr, "CRITICAL: isdn_ie_to_sip_header_str is not part of this build");
    if (buf && size > 0)
        buf[0] = '\0';
}

const sip_response_hooks unfilled = {isdn_headers_not_built};
sip_response_hooks hooks = unfilled;

// Appends text to buf (size bytes with the terminator), cutting it.
void append(char *buf, size_t size, const char *text)
{
    size_t used = strnlen(buf, size);
    if (used + 1 >= size)
        return;
    snprintf(buf + used, size - used, "%s", text);
}

// The header text of an answer: the B-channel's ISDN information (with
// ie_on_sip), then the gateway's extension headers.
void answer_header_text(call_object *co, char *buf, size_t size)
{
    buf[0] = '\0';
    if (co->cc.ie_on_sip && co->bc)
        sip_isdn_headers(co, buf, (int)size);
    xheader_add(co, buf, size);
}

// The SDP of an answer for the leg's port (offer 1 or answer 0). A call
// toward a console peer takes the peer's address and RTP port, and always
// answers.
void answer_sdp(call_object *co, char *sdp, int size, int offer)
{
    call_leg_sip *leg = co->cl_sip;
    int port = leg->rtp_local_port;
    if (co->callinfo == CI_SIP_TO_ITAPI) {
        snprintf(leg->using_ip, sizeof leg->using_ip, "%s", co->telnet_remote_address);
        port = co->telnet_remote_rtp_port;
        offer = 0;
    }
    sdp[0] = '\0';
    create_sdp_string(co, sdp, size, &co->cc.codecs, port, offer);
}

// The rejection of an owed REJECT answer (the call's media could not be
// agreed on): the cause map's answer for an unsupported T.38 or RTP offer.
void send_reject(call_object *co, call_leg_sip *leg)
{
    LOGD_CALL(SIP, 5, co, "for co %p (index %i) -- rejecting request!", (void *)co, co->index);
    leg->sip_answer = SIP_ANSWER_NOT_NEEDED;
    int in_cause = 916;
    const char *label = "RESPONSE_UNSUPPORTED_RTP";
    if (co->f.t38_reject_flag) {
        co->f.t38_reject_flag = 0;
        in_cause = 917;
        label = "RESPONSE_UNSUPPORTED_T38";
    }
    int status = 0;
    const char *phrase = nullptr;
    get_reject_cause(TECH_SIP, TECH_TARN, in_cause, &status, &phrase);
    if (status == 0) {
        status = default_sip_reject_cause;
        phrase = default_sip_reject_cause_text;
    }
    print_verbose_sip_msg(0, co, label);
    nua_respond(leg->nh, status, sip_answer_phrase(leg->nh, phrase), TAG_END());
    LOGM(SIP, 17, "%s S SEND: nua_response[%i] \"%s\"", cinfo(co), status, reject_text(phrase));
}

// Sends the owed answer; wait_for_cancel: the 183 of a call that
// waits for the far end's CANCEL.
void send_nua_response(call_object *co, bool wait_for_cancel)
{
    call_leg_sip *leg = co->cl_sip;
    if (!leg || leg->sip_answer == SIP_ANSWER_NOT_NEEDED)
        return;
    char headers[HEADER_TEXT];
    answer_header_text(co, headers, sizeof headers);
    if (wait_for_cancel && co->cc.ie_on_sip && co->bc) {
        char line[64];
        snprintf(line, sizeof line, "X-DV_WAIT_FOR_CANCEL: cause=%i\r\n", co->bc->cause);
        append(headers, sizeof headers, line);
    }

    if (leg->sip_answer == SIP_ANSWER_REJECT) {
        send_reject(co, leg);
        return;
    }
    if (leg->sip_answer == SIP_ANSWER_BUSY) {
        LOGD_CALL(SIP, 5, co, "for co %p (index %i) -- we are busy!", (void *)co, co->index);
        leg->sip_answer = SIP_ANSWER_NOT_NEEDED;
        print_verbose_sip_msg(0, co, "BUSY_HERE");
        nua_respond(leg->nh, 486, sip_answer_phrase(leg->nh, "BUSY HERE"), TAG_END());
        LOGM(SIP, 17, "%s S SEND: nua_response[486] \"BUSY_HERE\"", cinfo(co));
        return;
    }

    int answer = leg->sip_answer;
    int status;
    const char *phrase;
    switch (answer) {
    case SIP_ANSWER_RINGING:
        status = 180, phrase = "RINGING";
        break;
    case SIP_ANSWER_PROGRESS:
        status = 183, phrase = "SIP_PROCEEDING";
        break;
    case SIP_ANSWER_OK:
        status = 200, phrase = "SIP_CALL_ACTIVE";
        break;
    default:
        LOGD_CALL(SIP, 1, co, "for co %p (index %i) -- unknown answer %i owed, nothing sent", (void *)co, co->index,
                  answer);
        leg->sip_answer = SIP_ANSWER_NOT_NEEDED;
        return;
    }
    LOGD_CALL(SIP, 5, co, "for co %p (index %i) -- answering %s!", (void *)co, co->index,
              print_sip_response_type(answer));

    bool early_audio = co->cc.early_audio != 0;
    bool sdp_considered = (co->bc && !co->bc->nt && early_audio) || answer == SIP_ANSWER_OK ||
                          (co->callinfo == CI_SIP_TO_GSM && early_audio);
    int offer = -1; // -1: no SDP
    if (sdp_considered && co->f.got_invite_without_sdp && !co->f.sdp_offer_received) {
        offer = 1;
        co->f.got_invite_without_sdp = 0;
        co->f.sdp_offer_sent = 1;
    } else if (sdp_considered && co->f.sdp_offer_received) {
        offer = 0;
    }

    bool sent = !(offer < 0 && sdp_considered && wait_for_cancel && !co->cc.ie_on_sip);
    if (sent)
        print_verbose_sip_msg(0, co, phrase);
    if (offer >= 0) {
        char sdp[SDP_TEXT];
        answer_sdp(co, sdp, sizeof sdp, offer);
        co->f.sdp_offer_received = 0;
        co->f.first_sdp_answered = 1;
        nua_respond(leg->nh, status, sip_answer_phrase(leg->nh, phrase), SIPTAG_HEADER_STR(headers),
                    SOATAG_USER_SDP_STR(sdp), SOATAG_ADDRESS(sdp_origin_address(leg)), SOATAG_RTP_SELECT(2), TAG_END());
    } else if (sent) {
        nua_respond(leg->nh, status, sip_answer_phrase(leg->nh, phrase), SIPTAG_HEADER_STR(headers), TAG_END());
    }
    if (sent)
        LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[%i] \"%s\"", cinfo(co), status, phrase);
    if (answer == SIP_ANSWER_OK)
        co->f.connection_established = 1;
    leg->sip_answer = SIP_ANSWER_NOT_NEEDED;
    if (headers[0] && co->bc)
        misdn_clean_ie_buffers(co->bc);
}

// The origin line of the call's direction, or "" for none.
void origin_line(const call_object *co, char *buf, size_t size)
{
    buf[0] = '\0';
    int dpline = co->dp ? co->dp->line : 0;
    auto text = [](const char *s) { return s ? s : ""; };
    auto line_origin = [&](const char *tech, int port, const char *oad, const char *dad) {
        snprintf(buf, size, "X-DV_ORIGIN: tech=%s;port=%i;oad=%s;dad=%s;dpline=%i", tech, port, text(oad),
                 text(dad), dpline);
    };
    switch (co->callinfo) {
    case CI_SIP_TO_SIP: {
        const sip_address_info_object *ai = co->cl_sip_in ? co->cl_sip_in->address_info : nullptr;
        if (ai)
            snprintf(buf, size, "X-DV_ORIGIN: tech=sip;from=%s@%s;to=%s@%s;dpline=%i", text(ai->from_url_user),
                     text(ai->from_url), text(ai->to_url_user), text(ai->to_url), dpline);
        break;
    }
    case CI_ISDN_TO_SIP:
        if (co->bc)
            line_origin("isdn", co->bc->port, co->bc->oad, co->bc->dad);
        break;
    case CI_ANALOG_TO_SIP:
        line_origin("analog", co->analog_port & ~0x800, co->analog_oad, co->analog_dad);
        break;
    case CI_GSM_TO_SIP:
        line_origin("gsm", co->gsm_port, co->gsm_oad, co->gsm_dad);
        break;
    case CI_CAS_TO_SIP:
        line_origin("cas", co->cas_port, co->cas_oad, co->cas_dad);
        break;
    default:
        break;
    }
}

} // namespace

void sip_response_set_hooks(const sip_response_hooks *h)
{
    if (!h) {
        hooks = unfilled;
        return;
    }
    if (h->isdn_ie_to_sip_header_str)
        hooks.isdn_ie_to_sip_header_str = h->isdn_ie_to_sip_header_str;
}

void sip_isdn_headers(call_object *co, char *buf, int size)
{
    if (!buf || size <= 0)
        return;
    buf[0] = '\0';
    if (co && co->bc)
        hooks.isdn_ie_to_sip_header_str(co->bc, buf, size);
}

int xheader_add(call_object *co, char *buf, size_t size)
{
    if (!co || !buf || size == 0)
        return 0;
    char line[300];
    if (co->cc.sip_xheaders & 1) {
        if (co->bc)
            snprintf(line, sizeof line, "X-DV_CALL_ID: dv_cid=%i;isdn_port=%i\r\n", co->pid, co->bc->port);
        else
            snprintf(line, sizeof line, "X-DV_CALL_ID: dv_cid=%i\r\n", co->pid);
        append(buf, size, line);
    }
    if (co->cc.sip_xheaders & 2) {
        char origin[256];
        origin_line(co, origin, sizeof origin);
        if (origin[0]) {
            snprintf(line, sizeof line, "%s\r\n", origin);
            append(buf, size, line);
        }
    }
    return 0;
}

int patch_passthrough_header_url(char *out, size_t size, const char *name, const char *value,
                                 const port_group_sip *pgs)
{
    if (!out || size == 0)
        return 0;
    char v[256];
    snprintf(v, sizeof v, "%s", value ? value : "");
    const char *n = name ? name : "";
    char *at = strchr(v, '@');
    if (!at) {
        snprintf(out, size, "%s: %s", n, v);
        return 0;
    }
    *at = '\0';
    const char *host = at + 1;
    const char *rest = host + strcspn(host, ";>");
    const char *domain = pgs && pgs->pgs_sip_domain ? pgs->pgs_sip_domain : "";
    if (*rest)
        snprintf(out, size, "%s: %s@%s%s", n, v, domain, rest);
    else
        snprintf(out, size, "%s: %s@%s", n, v, domain);
    return 0;
}

int passthrough_headers_add(call_object *co, char *buf, size_t size)
{
    if (!co || !buf || size == 0 || !co->cl_sip_in)
        return 0;
    // The names the text already carries.
    char copy[4096];
    snprintf(copy, sizeof copy, "%s", buf);
    enum { MAX_NAMES = 128 };
    const char *names[MAX_NAMES];
    size_t name_len[MAX_NAMES];
    int count = 0;
    char *save = nullptr;
    for (char *line = strtok_r(copy, "\r\n", &save); line && count < MAX_NAMES; line = strtok_r(nullptr, "\r\n", &save)) {
        size_t len = strcspn(line, ":");
        while (len > 0 && (line[len - 1] == ' ' || line[len - 1] == '\t'))
            len--;
        names[count] = line;
        name_len[count++] = len;
    }
    // A stored header whose name equals a noted one stays out: the one
    // already there wins.
    auto present = [&](const char *header) {
        size_t len = strcspn(header, ":");
        while (len > 0 && (header[len - 1] == ' ' || header[len - 1] == '\t'))
            len--;
        for (int i = 0; i < count; i++)
            if (name_len[i] == len && strncasecmp(names[i], header, len) == 0)
                return true;
        return false;
    };
    for (int i = 0; i < PASSTHROUGH_SLOTS && co->cl_sip_in->passthrough_headers[i]; i++) {
        const char *h = co->cl_sip_in->passthrough_headers[i];
        if (present(h))
            continue;
        size_t used = strnlen(buf, size);
        if (used + 1 < size)
            snprintf(buf + used, size - used, "%s\r\n", h);
    }
    return 0;
}

const char *print_call_leg_info(const call_object *co)
{
    if (co && co->cl_sip && co->cl_sip == co->cl_sip_in)
        return "LEG1 active\n";
    if (co && co->cl_sip && co->cl_sip == co->cl_sip_out)
        return "LEG2 active\n";
    return "NO LEG active\n";
}

void print_call_leg(const call_object *co)
{
    fputs(print_call_leg_info(co), stdout);
}

SM_ACTION(sm_sip_send_nua_response)
{
    (void)arg, (void)state;
    send_nua_response((call_object *)p, event == 1);
    return ROW;
}

SM_ACTION(sm_sip_check_wait_for_cancel)
{
    (void)arg, (void)event;
    call_object *co = (call_object *)p;
    if (co->bc && co->bc->nt)
        co->cc.wait_for_cancel = 0;
    if (!co->cc.wait_for_cancel || !co->cl_sip)
        return ROW;
    co->cl_sip->sip_answer = SIP_ANSWER_PROGRESS;
    send_nua_response(co, true);
    return {state, SM_NO_EVENT};
}

SM_ACTION(sm_sip_send_reject_for_isdn_timeout)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    if (!leg)
        return ROW;
    if (!co->bc) {
        print_verbose_sip_msg(0, co, "RESPONSE_TEMPORARILY_UNAVAILABLE");
        nua_respond(leg->nh, 480, sip_answer_phrase(leg->nh, "NUA_TEMPORARILY_UNAVAILABLE"), TAG_END());
        LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[480] \"NUA_TEMPORARILY_UNAVAILABLE\"", cinfo(co));
        return ROW;
    }
    leg->sip_answer = SIP_ANSWER_NOT_NEEDED;
    char isdn[ISDN_HEADER_TEXT] = "";
    if (co->cc.ie_on_sip)
        sip_isdn_headers(co, isdn, sizeof isdn);
    co->special_termination_reason = 0;
    char reason[512] = "";
    format_reason_header(co, reason, sizeof reason);
    int status = 0;
    const char *phrase = nullptr;
    get_reject_cause(TECH_SIP, TECH_TARN, 912, &status, &phrase);
    if (status == 0) {
        // No row for the time-out: the gateway's own rejection.
        status = default_sip_reject_cause;
        phrase = default_sip_reject_cause_text;
    }
    print_verbose_sip_msg(0, co, reject_text(phrase));
    nua_respond(leg->nh, status, sip_answer_phrase(leg->nh, phrase), SIPTAG_HEADER_STR(isdn),
                TAG_IF(reason[0], SIPTAG_HEADER_STR(reason)), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[%i] \"%s\"", cinfo(co), status, reject_text(phrase));
    return ROW;
}

SM_ACTION(sm_sip_send_reject_by_afxo_call_progress_tone)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (co->special_termination_reason != 13 || !co->cl_sip)
        return ROW;
    int status = 0;
    const char *phrase = nullptr;
    get_reject_cause(TECH_SIP, TECH_ANALOG, 17, &status, &phrase);
    if (status < 400 || status > 700)
        return ROW;
    char reason[512] = "";
    format_reason_header(co, reason, sizeof reason);
    print_verbose_sip_msg(0, co, reject_text(phrase));
    nua_respond(co->cl_sip->nh, status, sip_answer_phrase(co->cl_sip->nh, phrase),
                TAG_IF(reason[0], SIPTAG_HEADER_STR(reason)), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[%i] \"%s\"", cinfo(co), status, reject_text(phrase));
    co->special_termination_reason = 0;
    return {SM_DISMANTLING, SM_NO_EVENT};
}

SM_ACTION(sm_s2s_send_reinvite_response)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    if (!leg || leg->sip_answer == SIP_ANSWER_NOT_NEEDED)
        return ROW;
    char headers[HEADER_TEXT];
    answer_header_text(co, headers, sizeof headers);
    if (leg->sip_answer == SIP_ANSWER_REJECT) {
        send_reject(co, leg);
        return ROW;
    }
    int offer;
    if ((co->f.got_invite_without_sdp && !co->f.sdp_offer_received) ||
        co->f.sip_reinvite_on_active_call_without_sdp) {
        offer = 1;
        co->f.got_invite_without_sdp = 0;
        co->f.sdp_offer_received = 0;
        co->f.sip_reinvite_on_active_call_without_sdp = 0;
        co->f.sdp_offer_sent = 1;
        co->f.first_sdp_answered = 1;
    } else if (co->f.sdp_offer_received) {
        offer = 0;
        co->f.sdp_offer_received = 0;
        co->f.first_sdp_answered = 1;
    } else {
        return ROW;
    }
    char sdp[SDP_TEXT] = "";
    create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, leg->rtp_local_port, offer);
    print_verbose_sip_msg(0, co, "SIP_CALL_ACTIVE");
    nua_respond(leg->nh, 200, sip_answer_phrase(leg->nh, "SIP_CALL_ACTIVE"), SIPTAG_HEADER_STR(headers),
                SOATAG_USER_SDP_STR(sdp), SOATAG_ADDRESS(sdp_origin_address(leg)), SOATAG_RTP_SELECT(2), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[200] \"SIP_CALL_ACTIVE\"", cinfo(co));
    return ROW;
}

SM_ACTION(sm_s2s_apply_call_progress_passthrough_headers)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *out = co->cl_sip_out, *in = co->cl_sip_in;
    if (!out || co->cl_sip != out || !out->tmpsip || !co->cc.header_passthrough || !in)
        return ROW;
    for (char *&h : in->passthrough_headers) {
        free(h);
        h = nullptr;
    }
    regex_t filter;
    bool filtered = co->cc.header_passthrough_filter[0] &&
                    regcomp(&filter, co->cc.header_passthrough_filter, REG_EXTENDED | REG_NOSUB) == 0;
    if (co->cc.header_passthrough_filter[0] && !filtered)
        LOGD_CALL(SIP, 1, co, "header passthrough filter |%s| does not compile, no filter",
                  co->cc.header_passthrough_filter);
    int user = 0;
    const port_group_sip *pgs =
        co->dp && co->dp->to_id ? pg_get_port_group_sip_by_name(co->dp->to_id, &user) : nullptr;
    if (pgs) {
        int slot = 0;
        for (const sip_unknown_t *u = out->tmpsip->sip_unknown; u && slot < PASSTHROUGH_SLOTS; u = u->un_next) {
            if (!u->un_name)
                continue;
            if (filtered) {
                char name[256];
                snprintf(name, sizeof name, "%s:", u->un_name);
                if (regexec(&filter, name, 0, nullptr, 0) != 0)
                    continue;
            }
            char line[256];
            patch_passthrough_header_url(line, sizeof line, u->un_name, u->un_value, pgs);
            if (char *copy = strdup(line))
                in->passthrough_headers[slot++] = copy;
        }
    }
    if (filtered)
        regfree(&filter);
    return ROW;
}
