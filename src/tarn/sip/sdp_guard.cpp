#include "sdp_guard.h"

#include <arpa/inet.h>
#include <sofia-sip/msg.h>
#include <sofia-sip/msg_addr.h>
#include <sofia-sip/msg_mclass.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/su.h>
#include <strings.h>

#include <cctype>
#include <cstring>

#include "log.h"

namespace {

bool token_char(unsigned char c)
{
    return isalnum(c) || (c && strchr("-.!%*_+`'~", c));
}

// One blank-separated field of a media line: tokens joined by single "/"
// or ":", with at most one of them at the end.
bool media_field_ok(const char *f, size_t n)
{
    size_t i = 0;
    while (i < n) {
        size_t start = i;
        while (i < n && token_char((unsigned char)f[i]))
            i++;
        if (i == start)
            return false;
        if (i == n)
            return true;
        if (f[i] != '/' && f[i] != ':')
            return false;
        if (++i == n)
            return true;
    }
    return true;
}

} // namespace

int sdp_media_lines_parsable(const char *text, size_t len)
{
    size_t i = 0;
    while (i < len) {
        size_t end = i;
        while (end < len && text[end] != '\r' && text[end] != '\n')
            end++;
        // The parser takes blanks in front of a line's type letter.
        size_t t = i;
        while (t < end && strchr(" \t\v\f", text[t]) && text[t])
            t++;
        if (end - t >= 2 && text[t] == 'm' && text[t + 1] == '=') {
            size_t k = t + 2;
            while (k < end) {
                while (k < end && text[k] == ' ')
                    k++;
                size_t start = k;
                while (k < end && text[k] != ' ')
                    k++;
                if (k > start && !media_field_ok(text + start, k - start))
                    return 0;
            }
        }
        i = end + 1;
    }
    return 1;
}

namespace {

// The body extraction of the default SIP message class.
issize_t (*default_extract_body)(msg_t *, msg_pub_t *, char[], isize_t, int);

// The largest SDP body a stream may carry before it is refused (the
// datagram limit of the stacks).
const usize_t SDP_BODY_LIMIT = 65536;

bool may_be_sdp(const sip_t *sip)
{
    const sip_content_type_t *ct = sip->sip_content_type;
    if (!ct || !ct->c_type)
        return true;
    return strcasestr(ct->c_type, "sdp") || strncasecmp(ct->c_type, "multipart/", 10) == 0;
}

void log_refused(msg_t *msg, const sip_t *sip, const char *why)
{
    char peer[INET6_ADDRSTRLEN + 8] = "unknown";
    su_addrinfo_t *ai = msg_addrinfo(msg);
    if (ai && ai->ai_addr) {
        su_sockaddr_t *su = (su_sockaddr_t *)ai->ai_addr;
        char ip[INET6_ADDRSTRLEN] = "";
        if (su_inet_ntop(su->su_family, SU_ADDR(su), ip, sizeof ip))
            snprintf(peer, sizeof peer, "%s:%u", ip, ntohs(su->su_port));
    }
    const char *what = sip->sip_request ? sip->sip_request->rq_method_name
                       : sip->sip_status ? "response"
                                         : "message";
    LOGD(SIP, 1, nullptr, "SIP %s from %s refused: %s", what ? what : "message", peer, why);
}

issize_t guarded_extract_body(msg_t *msg, msg_pub_t *pub, char b[], isize_t bsiz, int eos)
{
    sip_t *sip = (sip_t *)pub;
    // The body itself comes after the separator line, in a call of its own.
    if (!(sip->sip_flags & MSG_FLG_BODY) || sip->sip_payload || !sip->sip_content_length ||
        sip->sip_content_length->l_length == 0 || !may_be_sdp(sip))
        return default_extract_body(msg, pub, b, bsiz, eos);
    usize_t len = sip->sip_content_length->l_length;
    if (len > SDP_BODY_LIMIT) {
        log_refused(msg, sip, "SDP body too large");
        sip->sip_flags |= MSG_FLG_TOOLARGE;
        return -1;
    }
    if ((usize_t)bsiz < len) {
        if (!eos)
            return 0; // the whole body is checked at once
        return default_extract_body(msg, pub, b, bsiz, eos); // truncated: an error already
    }
    issize_t m = default_extract_body(msg, pub, b, bsiz, eos);
    if (m > 0 && !sdp_media_lines_parsable(b, len)) {
        log_refused(msg, sip, "SDP media line not well-formed");
        sip->sip_flags |= MSG_FLG_ERROR;
    }
    return m;
}

} // namespace

const msg_mclass_s *sdp_guarded_mclass()
{
    static const msg_mclass_t *guarded = [] {
        msg_mclass_t *mc = msg_mclass_clone(sip_default_mclass(), 0, 0);
        if (!mc)
            return (msg_mclass_t *)nullptr;
        default_extract_body = mc->mc_extract_body;
        mc->mc_extract_body = guarded_extract_body;
        return mc;
    }();
    return guarded;
}
