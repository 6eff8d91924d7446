// Addresses of SIP headers and the sip/sips scheme of a call.
#include "sip_header_address.h"

#include <cstdio>
#include <cstring>

#include "call_leg_sip.h"
#include "call_object.h"
#include "proxy_def.h"
#include "sip_stack.h"

const char *format_sip_transport(const call_object *co)
{
    if (!co || !co->cc.sips_on_tls)
        return "sip";
    const call_leg_sip *leg = co->cl_sip;
    if (!leg)
        return "sip";
    if (leg->pd)
        return leg->pd->transport & SIP_TRANSPORT_TLS ? "sips" : "sip";
    return leg->ss && (leg->ss->transport & SIP_TRANSPORT_TLS) ? "sips" : "sip";
}

void format_sip_quoted_display(char *out, size_t size, const char *display)
{
    if (!out || !size)
        return;
    size_t n = 0;
    for (const char *p = display ? display : ""; *p; p++) {
        if (*p == '\r' || *p == '\n')
            continue;
        size_t step = *p == '"' || *p == '\\' ? 2 : 1;
        if (n + step > size - 1)
            break;
        if (step == 2)
            out[n++] = '\\';
        out[n++] = *p;
    }
    out[n] = '\0';
}

char *format_generic_sip_header_address(const call_object *co, const call_leg_sip *, char *buf, size_t size,
                                        const char *display, const char *user, const char *host,
                                        const char *url_params, const char *header_params)
{
    if (!buf || !size)
        return buf;
    buf[0] = '\0';
    const char *on_empty_display = co ? co->cc.sip_on_empty_display : "";
    const char *shown = display && display[0] ? display : display && on_empty_display[0] ? on_empty_display : nullptr;
    char quoted[512] = "";
    if (shown) {
        char inner[sizeof quoted - 4];
        format_sip_quoted_display(inner, sizeof inner, shown);
        snprintf(quoted, sizeof quoted, "\"%s\" ", inner);
    }
    if (!user || !user[0])
        user = co ? co->cc.sip_on_empty_user : "";
    const char *scheme = format_sip_transport(co);
    const char *up = url_params ? url_params : "", *hp = header_params ? header_params : "";
    if (user[0] && host && host[0])
        snprintf(buf, size, "%s<%s:%s@%s%s>%s", quoted, scheme, user, host, up, hp);
    else if (host && host[0])
        snprintf(buf, size, "%s<%s:%s%s>%s", quoted, scheme, host, up, hp);
    else
        snprintf(buf, size, "%s<%s:anonymous%s>%s", quoted, scheme, up, hp);
    return buf;
}
