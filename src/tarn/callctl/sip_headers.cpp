#include "sip_headers.h"

#include <sofia-sip/msg_header.h>
#include <sofia-sip/sip.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "application.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "call_services.h"
#include "causes.h"
#include "dialplan_vars.h"
#include "experimental_options.h"
#include "misdn_bchannel.h"
#include "pg_sip_groups.h"
#include "proxy_def.h"
#include "sip_header_address.h"
#include "sip_stack.h"

namespace {

// Appends to buf (bounded); the text is cut when it does not fit.
void append(char *buf, size_t size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
void append(char *buf, size_t size, const char *fmt, ...)
{
    size_t len = strnlen(buf, size);
    if (len + 1 >= size)
        return;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf + len, size - len, fmt, ap);
    va_end(ap);
}

const char *const tarn_reasons[] = {
    nullptr,
    "Manually Terminated",
    "RTP packet loss",
    "No processing resources",
    "No processing resources",
    "No matching dialplan entry found",
    "No free GSM ports",
    "No free ISDN channels",
    "No free ISDN channels (some ports are down)",
    "Invalid number format",
    "No free analog ports",
    "No free analog ports (some ports are down)",
};

bool is_analog(int ci) { return ci == CI_SIP_TO_ANALOG || ci == CI_ANALOG_TO_SIP; }
bool is_gsm(int ci) { return ci == CI_SIP_TO_GSM || ci == CI_GSM_TO_SIP; }
bool line_to_sip(int ci)
{
    return ci == CI_ISDN_TO_SIP || ci == CI_ANALOG_TO_SIP || ci == CI_GSM_TO_SIP || ci == CI_CAS_TO_SIP;
}

// The rewritten addresses a From/To/identity builder reads, by direction;
// the two records share the names but not the layout.
struct header_fields {
    char *to_display, *to_user, *to_url, *from_display, *from_user, *from_url;
    size_t from_user_size, from_display_size;
    const char *pai, *ppi, *rpid, *pcpi;
    const char (*priv)[256];
};

bool fields_of(call_object *co, header_fields *f)
{
    if (line_to_sip(co->callinfo)) {
        mangled_pstn_to_sip &m = co->mangled.pstn_to_sip;
        *f = {m.to_display, m.to_user, m.to_url, m.from_display, m.from_user, m.from_url, sizeof m.from_user,
              sizeof m.from_display, m.p_asserted_identity, m.p_preferred_identity, m.p_remote_party_id,
              m.p_called_party_id, m.p_priv_header};
        return true;
    }
    if (co->callinfo == CI_SIP_TO_SIP) {
        mangled_sip_to_sip &m = co->mangled.sip_to_sip;
        *f = {m.to_display, m.to_user, m.to_url, m.from_display, m.from_user, m.from_url, sizeof m.from_user,
              sizeof m.from_display, m.p_asserted_identity, m.p_preferred_identity, m.p_remote_party_id,
              m.p_called_party_id, m.p_priv_header};
        return true;
    }
    return false;
}

// The call option's template with its dial-plan variables replaced.
void replace_variables(call_object *co, const char *tmpl, char *out, int size)
{
    int positions[10], lengths[10], count = 0;
    dialplan_find_variables_in_string(tmpl, positions, lengths, &count, 10);
    dialplan_replace_variables(co, tmpl, out, size, positions, lengths, count);
}

} // namespace

int format_reason_header(call_object *co, char *buf, size_t size)
{
    if (!buf || !size)
        return -1;
    buf[0] = '\0';
    if (!co)
        return -1;
    if (gp && gp->experimental_options && gp->experimental_options->eo_no_reason_header)
        return -1;
    int reason = co->special_termination_reason;
    if (reason >= 1 && reason <= 11) {
        snprintf(buf, size, "REASON: TARN; cause=0; text=\"%s\"", tarn_reasons[reason]);
        return 0;
    }
    if (reason == 12) {
        char text[256];
        format_sip_quoted_display(text, sizeof text, co->cc.faxdetect_call_termination);
        snprintf(buf, size, "REASON: TARN; cause=0; text=\"%s\"", text);
        return 0;
    }
    if (co->bc) {
        snprintf(buf, size, "REASON: Q.850; cause=%i; text=\"%s\"", co->bc->cause, print_isdn_cause(co->bc->cause));
        return 0;
    }
    if (co->callinfo == CI_SIP_TO_ANALOG && (reason == 13 || reason == 14) && co_get_analog_port_type(co) == 2) {
        snprintf(buf, size, "REASON: ANALOG; cause=0; text=\"%s\"",
                 reason == 13 ? "Terminated by Busy" : "Terminated by Unobtainable");
        return 0;
    }
    if (is_analog(co->callinfo)) {
        snprintf(buf, size, "REASON: ANALOG; cause=0; text=\"Terminated\"");
        return 0;
    }
    if (is_gsm(co->callinfo)) {
        snprintf(buf, size, "REASON: GSM; cause=0; text=\"Terminated\"");
        return 0;
    }
    return -1;
}

void format_anonymity(const call_object *co, char *buf, size_t size)
{
    if (!buf || !size)
        return;
    buf[0] = '\0';
    const char *flags = co ? co->cc.rpi_anonymity_flags : "";
    for (const char *word : {"full", "uri", "name", "ipaddr"})
        if (strstr(flags, word))
            append(buf, size, "%s%s", buf[0] ? "," : "", word);
    if (!buf[0])
        snprintf(buf, size, "off");
}

int format_from_and_to(call_object *co, char *from, size_t from_size, char *to, size_t to_size)
{
    if (from && from_size)
        from[0] = '\0';
    if (to && to_size)
        to[0] = '\0';
    header_fields f;
    if (!co || !fields_of(co, &f))
        return 4096;
    const char *scheme = format_sip_transport(co);
    if (from && from_size) {
        if (co->cc.sip_from_user_all_setting[0]) {
            char text[512];
            replace_variables(co, co->cc.sip_from_user_all_setting, text, sizeof text);
            if (f.from_display[0]) {
                char display[512];
                format_sip_quoted_display(display, sizeof display, f.from_display);
                snprintf(from, from_size, "\"%s\" <%s:%s>", display, scheme, text);
            } else {
                snprintf(from, from_size, "<%s:%s>", scheme, text);
            }
        } else {
            format_generic_sip_header_address(co, co->cl_sip, from, from_size, f.from_display, f.from_user,
                                              f.from_url, "", "");
        }
    }
    if (to && to_size) {
        if (co->cc.sip_to_user_all_setting[0]) {
            char text[512];
            replace_variables(co, co->cc.sip_to_user_all_setting, text, sizeof text);
            snprintf(to, to_size, "<%s:%s>", scheme, text);
        } else {
            format_generic_sip_header_address(co, co->cl_sip, to, to_size, nullptr, f.to_user, f.to_url, "", "");
        }
    }
    return 0;
}

void format_invite_headers(call_object *co, char *buf, size_t size)
{
    if (!buf || !size)
        return;
    buf[0] = '\0';
    header_fields f;
    if (!co || !fields_of(co, &f))
        return;
    bool isdn = co->callinfo == CI_ISDN_TO_SIP;
    bool restricted = isdn && co->bc && co->bc->pres != 0;
    bool screened = isdn && co->bc && co->bc->screen != 0;

    if (f.pai[0])
        append(buf, size, "P-Asserted-Identity: %s\r\n", f.pai);
    auto privacy_id = [&] {
        append(buf, size, "Privacy: id\r\n");
        if (co->cc.anonymous_from_user_on_privacy && isdn) {
            snprintf(f.from_user, f.from_user_size, "anonymous");
            f.from_display[0] = '\0';
        }
    };
    switch (co->cc.use_privacy_header) {
    case 3:
        privacy_id();
        break;
    case 2:
        append(buf, size, "Privacy: none\r\n");
        break;
    case 0:
        if (co->callinfo == CI_SIP_TO_SIP) {
            if (co->f.sip_privacy_incoming && co->incoming_sip_privacy_value[0])
                append(buf, size, "Privacy: %s\r\n", co->incoming_sip_privacy_value);
            else
                append(buf, size, "Privacy: none\r\n");
        } else if (restricted) {
            privacy_id();
        } else {
            append(buf, size, "Privacy: none\r\n");
        }
        break;
    default:
        break;
    }
    if (f.ppi[0])
        append(buf, size, "P-Preferred-Identity: %s\r\n", f.ppi);
    if (f.rpid[0]) {
        append(buf, size, "Remote-Party-ID: %s;party=calling;privacy=%s;screen=%s\r\n", f.rpid,
               restricted ? "full" : "off", screened ? "yes" : "no");
        if (co->cc.rpi_anonymity_flags[0]) {
            char anonymity[64];
            format_anonymity(co, anonymity, sizeof anonymity);
            append(buf, size, "Anonymity: %s\r\n", restricted ? anonymity : "off");
        }
    }
    if (f.pcpi[0])
        append(buf, size, "P-Called-Party-ID: %s\r\n", f.pcpi);
    for (int i = 0; i < MANGLED_PRIV_HEADERS; i++)
        if (f.priv[i][0])
            append(buf, size, "%s\r\n", f.priv[i]);
}

void format_full_local_url(const call_leg_sip *leg, char *buf, size_t size, int via_port)
{
    if (!buf || !size)
        return;
    buf[0] = '\0';
    if (!leg)
        return;
    const char *host = leg->using_ip;
    const proxy_def *pd = leg->pd;
    if (!pd) {
        snprintf(buf, size, "%s:%i", host, via_port ? via_port : 5060);
        return;
    }
    int port = 5060;
    const port_group_sip *pgs = pd->name ? pg_get_port_group_sip_by_name(pd->name, nullptr) : nullptr;
    if (pgs && pgs->pgs_sip_stack) {
        port = pgs->pgs_transport == SIP_TRANSPORT_TLS ? pgs->pgs_sip_stack->sip_ssl_port : pgs->pgs_sip_stack->sip_port;
    } else if (leg->ss) {
        port = leg->ss->sip_port;
    } else {
        for (int i = 0; gp && leg->nua && i < gp->sip_stack_size && i < SIP_STACKS_CAPACITY; i++)
            if (gp->sip_stacks[i].nua == leg->nua) {
                port = gp->sip_stacks[i].sip_port;
                break;
            }
    }
    if (pd->transport & SIP_TRANSPORT_TLS)
        snprintf(buf, size, "%s:%i", host, port);
    else if (pd->transport & SIP_TRANSPORT_TCP)
        snprintf(buf, size, "%s:%i;transport=tcp", host, port);
    else
        snprintf(buf, size, "%s:%i", host, via_port ? via_port : port);
}

void format_msp_context(void *context, char *buf, int size)
{
    if (!buf || size <= 0)
        return;
    const call_object *co = (const call_object *)context;
    if (!co)
        snprintf(buf, (size_t)size, "CID:000000:00");
    else if (co->bc)
        snprintf(buf, (size_t)size, "CID:%06i:p%i", co->pid, co->bc->port);
    else
        snprintf(buf, (size_t)size, "CID:%06i:00", co->pid);
}

int convert_char_to_sipinfo_val(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c == '*')
        return 10;
    if (c == '#')
        return 11;
    return -1;
}

int format_digest_credentials(const sip_t *sip, const char *user, const char *pass, char *buf, size_t size)
{
    if (!buf || size == 0)
        return -1;
    buf[0] = '\0';
    const msg_auth_t *challenge = nullptr;
    if (sip && sip->sip_www_authenticate)
        challenge = sip->sip_www_authenticate;
    else if (sip && sip->sip_proxy_authenticate)
        challenge = sip->sip_proxy_authenticate;
    if (!challenge || !challenge->au_scheme)
        return -1;
    const char *realm = msg_params_find(challenge->au_params, "realm=");
    snprintf(buf, size, "%s:%s:%s:%s", challenge->au_scheme, realm ? realm : "", user ? user : "",
             pass ? pass : "");
    return 0;
}

void set_headbuf_1tr119_invite_headers(char *buf, size_t size)
{
    if (!buf || !size)
        return;
    for (const char *line : {"Proxy-Require: mediasec\r\n", "Require: mediasec\r\n",
                             "Security-Verify: msrp-tls;mediasec, sdes-srtp;mediasec, dtls-srtp;mediasec\r\n"}) {
        size_t n = strnlen(buf, size);
        if (n + 1 >= size)
            return;
        snprintf(buf + n, size - n, "%s", line);
    }
}
