#include "sdp_guard.h"

#include <arpa/inet.h>
#include <sofia-sip/msg.h>
#include <sofia-sip/msg_addr.h>
#include <sofia-sip/msg_mclass.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/su.h>
#include <strings.h>

#include <cstring>

#include "log.h"

namespace {

// RFC 4566 token characters.
bool token_char(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c && strchr("-.!%*_+`'~", c));
}

// Only spaces: tabs after the protocol hang the parser too.
bool blank(unsigned char c)
{
    return c == ' ';
}

// Advances over one or more characters the test accepts; false if none.
template <typename Accept>
bool run_of(const unsigned char *&p, const unsigned char *end, Accept accept)
{
    const unsigned char *start = p;
    while (p < end && accept(*p))
        p++;
    return p != start;
}

// One media line from just after "m=" up to its end of line.
bool plain_media_line(const unsigned char *p, const unsigned char *end)
{
    auto digit = [](unsigned char c) { return c >= '0' && c <= '9'; };
    auto proto = [](unsigned char c) { return c == '/' || token_char(c); };
    if (!run_of(p, end, token_char) || !run_of(p, end, blank) || !run_of(p, end, digit))
        return false;
    if (p < end && *p == '/') {
        p++;
        if (!run_of(p, end, digit))
            return false;
    }
    if (!run_of(p, end, blank) || !run_of(p, end, proto))
        return false;
    // The formats, each after blanks; blanks may end the line.
    while (p < end) {
        if (!run_of(p, end, blank))
            return false;
        if (p < end && !run_of(p, end, token_char))
            return false;
    }
    return true;
}

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
    if (m > 0 && !sdp_media_lines_plain(b, len)) {
        log_refused(msg, sip, "SDP media line not well-formed");
        sip->sip_flags |= MSG_FLG_ERROR;
    }
    return m;
}

} // namespace

bool sdp_media_lines_plain(const char *text, size_t size)
{
    // Lines end at CR or LF, as the SDP parser reads them.
    const unsigned char *p = (const unsigned char *)text, *end = p + size;
    while (p < end) {
        const unsigned char *eol = p;
        while (eol < end && *eol != '\r' && *eol != '\n')
            eol++;
        if (eol - p >= 2 && p[0] == 'm' && p[1] == '=' && !plain_media_line(p + 2, eol))
            return false;
        p = eol + 1;
    }
    return true;
}

const msg_mclass_t *sdp_guarded_mclass()
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
