// Decoders of the information elements. Every read is bounded by the
// element's length octet (checked against the frame by l3_ie_get) and every
// copy by the output's size.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ie_coders.h"
#include "isdn_msg.h"
#include "misdn_bchannel.h"
#include "misdn_lib_iface.h"
#include "q931_frame.h"

enum { HEX_TEXT = 79 * 3 + 1, NUMBER_CUT = 30 };

static int port_of(const misdn_bchannel *bc) { return bc ? bc->port : 0; }
static int pid_of(const misdn_bchannel *bc) { return bc ? bc->pid : -1; }

static int too_short(const char *coder, int len)
{
    printf("%s: ERROR: IE too short (%d).\n", coder, len);
    return 1;
}

// The content of the n-th occurrence of an element; *L its length. Null
// when the element is absent, or shorter than min (reported).
static const unsigned char *content_of(const char *coder, const msg_t *msg, int nt, unsigned char ie, int min,
                                       int *L)
{
    const unsigned char *p = l3_ie_get(msg, nt, ie, 0);
    if (!p)
        return nullptr;
    *L = p[0];
    if (*L < min) {
        too_short(coder, *L);
        return nullptr;
    }
    return p + 1;
}

// Copies up to n octets as text, cut to size - 1 and terminated.
static void copy_text(char *out, int size, const unsigned char *in, int n)
{
    if (!out || size <= 0)
        return;
    if (n > size - 1)
        n = size - 1;
    if (n < 0)
        n = 0;
    memcpy(out, in, (size_t)n);
    out[n] = 0;
}

int dec_ie_bearer(const msg_t *msg, int *coding, int *capability, int *mode, int *rate, int *multi,
                  int *user, int *async, int *urate, int *stopbits, int *dbits, int *parity, int nt,
                  misdn_bchannel *bc)
{
    *coding = *capability = *mode = *rate = *multi = *user = -1;
    *async = *urate = *stopbits = *dbits = *parity = -1;
    if (bc)
        bc->in_bearer_buf_len = 0;
    int L;
    const unsigned char *c = content_of(__func__, msg, nt, IE_BEARER, 2, &L);
    if (!c)
        return 1;
    if (bc && L < (int)sizeof(bc->in_bearer_buf)) {
        memcpy(bc->in_bearer_buf, c, (size_t)L);
        bc->in_bearer_buf_len = L;
    }
    *coding = (c[0] & 0x60) >> 5;
    *capability = c[0] & 0x1F;
    int o = 1;
    if (!(c[0] & 0x80))
        o++;  // octet 3a
    if (o < L) {
        *mode = (c[o] & 0x60) >> 5;
        *rate = c[o] & 0x1F;
        o++;
        if (*rate == 24 && o < L) {
            *multi = c[o] & 0x7F;
            o++;
        }
        if (o < L && (c[o] & 0x60) == 0x20) {
            *user = c[o] & 0x1F;
            if (!(c[o] & 0x80)) {
                o++;
                if (o < L) {  // octet 5a
                    *async = (c[o] & 0x40) >> 6;
                    *urate = c[o] & 0x1F;
                    if (!(c[o] & 0x80)) {
                        o++;  // octet 5b
                        if (o < L && !(c[o] & 0x80)) {
                            o++;
                            if (o < L) {  // octet 5c
                                *stopbits = (c[o] & 0x60) >> 5;
                                *dbits = (c[o] & 0x18) >> 3;
                                *parity = c[o] & 0x07;
                            }
                        }
                    }
                }
            }
        }
    }
    if (!ie_lines_wanted(bc))
        return 0;
    char parts[11][24];
    const char *names[11] = {"coding", "capability", "mode", "rate", "multi", "user",
                             "async", "urate", "stopbits", "dbits", "parity"};
    int values[11] = {*coding, *capability, *mode, *rate, *multi, *user, *async, *urate, *stopbits, *dbits, *parity};
    for (int i = 0; i < 11; i++) {
        parts[i][0] = 0;
        if (values[i] != -1)
            snprintf(parts[i], sizeof(parts[i]), "%s=%d ", names[i], values[i]);
    }
    cb_log(18, port_of(bc), pid_of(bc), "dec_ie_bearer: %s%s%s%s%s%s%s%s%s%s%s\n", parts[0], parts[1],
           parts[2], parts[3], parts[4], parts[5], parts[6], parts[7], parts[8], parts[9], parts[10]);
    isdn_trace_add("  BEARER: %s%s%s%s%s%s%s%s%s%s%s\n", parts[0], parts[1], parts[2], parts[3], parts[4],
                   parts[5], parts[6], parts[7], parts[8], parts[9], parts[10]);
    return 0;
}

int dec_ie_called_pn(const msg_t *msg, int *type, int *plan, char *number, int size, int nt,
                     misdn_bchannel *bc)
{
    *type = -1;
    *plan = -1;
    if (number && size > 0)
        number[0] = 0;
    int L;
    const unsigned char *c = content_of(__func__, msg, nt, IE_CALLED_PN, 2, &L);
    if (!c)
        return 1;
    *type = (c[0] & 0x70) >> 4;
    *plan = c[0] & 0x0F;
    copy_text(number, size, c + 1, L - 1);
    cb_log(18, port_of(bc), pid_of(bc), "dec_ie_called_pn: type=%d(%s) plan=%d number='%s'\n", *type,
           ie_ton_name(*type, 0), *plan, number);
    isdn_trace_add("  CALLED_PN: type=%d(%s) plan=%d number='%s'\n", *type, ie_ton_name(*type, 0), *plan,
                   number);
    return 0;
}

// Calling, connected and redirecting numbers: octet 3, optional 3a (and 3b
// for the redirecting number), then the digits.
static int dec_number(const char *coder, const unsigned char *p, int with_reason, int *type, int *plan,
                      int *present, int *screen, int *reason, char *number, int size)
{
    *type = *plan = *present = *screen = -1;
    if (reason)
        *reason = -1;
    if (number && size > 0)
        number[0] = 0;
    if (!p)
        return 1;
    int L = p[0];
    const unsigned char *c = p + 1;
    if (L < 1)
        return too_short(coder, L);
    *type = (c[0] & 0x70) >> 4;
    *plan = c[0] & 0x0F;
    int o = 1;
    if (!(c[0] & 0x80)) {
        if (L < 2)
            return too_short(coder, L);
        *present = (c[1] & 0x60) >> 5;
        *screen = c[1] & 0x03;
        o = 2;
        if (with_reason && !(c[1] & 0x80) && L > 2) {
            *reason = c[2] & 0x0F;
            o = 3;
        }
    }
    if (size > NUMBER_CUT + 1)
        size = NUMBER_CUT + 1;
    copy_text(number, size, c + o, L - o);
    return 0;
}

// Log and trace line of a decoded calling or connected number.
static void log_number(const char *coder, const char *trace, misdn_bchannel *bc, int type, int plan,
                       int present, int screen, const char *number)
{
    cb_log_as(coder, 18, port_of(bc), pid_of(bc), "%s: type=%d(%s) plan=%d present=%d screen=%d number='%s'\n",
              coder, type, ie_ton_name(type, 0), plan, present, screen, number);
    isdn_trace_add("  %s: type=%d(%s) plan=%d present=%d screen=%d number='%s'\n", trace, type,
                   ie_ton_name(type, 0), plan, present, screen, number);
}

int dec_ie_calling_pn(const msg_t *msg, int *type, int *plan, int *present, int *screen, char *number,
                      int size, int nt, misdn_bchannel *bc, int ani)
{
    const unsigned char *p = l3_ie_get(msg, nt, IE_CALLING_PN, ani ? 1 : 0);
    if (dec_number(__func__, p, 0, type, plan, present, screen, nullptr, number, size))
        return 1;
    log_number(__func__, "CALLING_PN", bc, *type, *plan, *present, *screen, number);
    return 0;
}

int dec_ie_connected_pn(const msg_t *msg, int *type, int *plan, int *present, int *screen,
                        char *number, int size, int nt, misdn_bchannel *bc)
{
    if (bc)
        bc->cad[0] = 0;
    const unsigned char *p = l3_ie_get(msg, nt, IE_CONNECT_PN, 0);
    if (dec_number(__func__, p, 0, type, plan, present, screen, nullptr, number, size))
        return 1;
    log_number(__func__, "CONNECTED_PN", bc, *type, *plan, *present, *screen, number);
    return 0;
}

int dec_ie_redir_nr(const msg_t *msg, int *type, int *plan, int *present, int *screen, int *reason,
                    char *number, int size, int nt, misdn_bchannel *bc)
{
    const unsigned char *p = l3_ie_get(msg, nt, IE_REDIR_NR, 0);
    if (dec_number(__func__, p, 1, type, plan, present, screen, reason, number, size))
        return 1;
    cb_log(18, port_of(bc), pid_of(bc),
           "dec_ie_redir_nr: type=%d(%s) plan=%d present=%d screen=%d reason=%d number='%s'", *type,
           ie_ton_name(*type, 0), *plan, *present, *screen, *reason, number);
    isdn_trace_add("  REDIR_NR: type=%d(%s) plan=%d present=%d screen=%d reason=%d number='%s'\n", *type,
                   ie_ton_name(*type, 0), *plan, *present, *screen, *reason, number);
    return 0;
}

int dec_ie_cause(const msg_t *msg, int *location, int *cause, int nt, misdn_bchannel *bc)
{
    *location = -1;
    *cause = -1;
    int L;
    const unsigned char *c = content_of(__func__, msg, nt, IE_CAUSE, 2, &L);
    if (!c)
        return 1;
    int o = (c[0] & 0x80) ? 1 : 2;
    if (o >= L)
        return too_short(__func__, L);
    *location = c[0] & 0x0F;
    *cause = c[o] & 0x7F;
    cb_log(18, port_of(bc), pid_of(bc), "dec_ie_cause: location=%d cause=%d", *location, *cause);
    isdn_trace_add("  CAUSE: location=%d cause=%d(%s)\n", *location, *cause, ie_print_isdn_cause(*cause));
    return 0;
}

int dec_ie_progress(const msg_t *msg, int *coding, int *location, int *progress, int nt,
                    misdn_bchannel *bc)
{
    *coding = *location = *progress = -1;
    int L;
    const unsigned char *c = content_of(__func__, msg, nt, IE_PROGRESS, 1, &L);
    if (!c)
        return 1;
    *coding = (c[0] & 0x60) >> 5;
    *location = c[0] & 0x0F;
    if (L > 1)
        *progress = c[1] & 0x7F;
    cb_log(18, port_of(bc), pid_of(bc), "dec_ie_progress: coding=%d location=%d progress=%d", *coding,
           *location, *progress);
    isdn_trace_add("  PROGRESS: coding=%d location=%d progress=%d\n", *coding, *location, *progress);
    return 0;
}

// Display and keypad: the characters, cut to the output; *L the element's length.
static int dec_text(const char *coder, const msg_t *msg, unsigned char ie, char *out, int size, int nt, int *L)
{
    if (out && size > 0)
        out[0] = 0;
    const unsigned char *c = content_of(coder, msg, nt, ie, 1, L);
    if (!c)
        return 1;
    copy_text(out, size, c, *L);
    return 0;
}

int dec_ie_display(const msg_t *msg, char *display, int size, int nt, misdn_bchannel *bc)
{
    int L;
    if (dec_text(__func__, msg, IE_DISPLAY, display, size, nt, &L))
        return 1;
    cb_log(18, port_of(bc), pid_of(bc), "dec_ie_display: display='%s' (len=%d)\n", display, L);
    isdn_trace_add("  DISPLAY: display='%s' (len=%d)\n", display, L);
    return 0;
}

int dec_ie_keypad(const msg_t *msg, char *keypad, int size, int nt, misdn_bchannel *bc)
{
    int L;
    if (dec_text(__func__, msg, IE_KEYPAD, keypad, size > NUMBER_CUT + 1 ? NUMBER_CUT + 1 : size, nt, &L))
        return 1;
    cb_log(18, port_of(bc), pid_of(bc), "dec_ie_keypad: keypad='%s'", keypad);
    isdn_trace_add("  KEYPAD: keypad='%s'\n", keypad);
    return 0;
}

int dec_ie_complete(const msg_t *msg, int *complete, int nt, misdn_bchannel *bc)
{
    *complete = l3_ie_get(msg, nt, IE_COMPLETE, 0) ? 1 : 0;
    if (!*complete)
        return 1;
    cb_log(18, port_of(bc), pid_of(bc), "dec_ie_complete: complete=%d\n", *complete);
    isdn_trace_add("  COMPLETE: complete=%d\n", *complete);
    return 0;
}

// The system library's normalisation of a received date (mktime). mktime
// looks at the time zone on every call, a file status call when TZ is not
// set, which costs ten times the rest of a CONNECT. Dates repeat from one
// message to the next: each thread keeps its last answer and gives it again
// for the same fields under the same TZ within the same second, so a
// change of the zone shows after one second at most.
static void normalise_date(struct tm *tm)
{
    struct memo {
        int in[6];
        struct tm out;
        time_t at;
        char tz[64];
        bool set;
    };
    static thread_local memo m;
    const int in[6] = {tm->tm_year, tm->tm_mon, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec};
    const char *tz = getenv("TZ");
    size_t tzlen = tz ? strlen(tz) : 0;
    time_t now = time(nullptr);
    bool same_tz = tz ? (m.tz[0] == 1 && tzlen < sizeof(m.tz) - 1 && memcmp(m.tz + 1, tz, tzlen + 1) == 0)
                      : m.tz[0] == 0;
    if (m.set && now == m.at && same_tz && memcmp(in, m.in, sizeof(in)) == 0) {
        *tm = m.out;
        return;
    }
    mktime(tm);
    m.set = tzlen < sizeof(m.tz) - 1;  // a longer TZ is not kept
    if (!m.set)
        return;
    memcpy(m.in, in, sizeof(in));
    m.out = *tm;
    m.at = now;
    m.tz[0] = tz ? 1 : 0;
    if (tz)
        memcpy(m.tz + 1, tz, tzlen + 1);
}

int dec_ie_date(const msg_t *msg, struct tm *tm, int *len, int nt, misdn_bchannel *bc)
{
    *len = 0;
    int L;
    const unsigned char *c = content_of(__func__, msg, nt, IE_DATE, 3, &L);
    if (!c)
        return 1;
    memset(tm, 0, sizeof(*tm));
    tm->tm_year = c[0] + 100;
    tm->tm_mon = c[1] - 1;
    tm->tm_mday = c[2];
    tm->tm_hour = L >= 4 ? c[3] : 0;
    tm->tm_min = L >= 5 ? c[4] : 0;
    tm->tm_sec = L >= 6 ? c[5] : 0;
    tm->tm_isdst = 0;
    normalise_date(tm);
    *len = L;
    cb_log(18, port_of(bc), pid_of(bc), "enc_ie_time: year %i mon %i day %i hour %i min %i\n", tm->tm_year,
           tm->tm_mon, tm->tm_mday, tm->tm_hour, tm->tm_min);
    isdn_trace_add("  DATE: year %i mon %i day %i hour %i min %i\n", tm->tm_year, tm->tm_mon, tm->tm_mday,
                   tm->tm_hour, tm->tm_min);
    return 0;
}

// HLC and LLC: the content as it is; longer than the output: refused.
static int dec_raw(const char *coder, const msg_t *msg, unsigned char ie, unsigned char *data, int size,
                   int *len, int nt, misdn_bchannel *bc)
{
    *len = 0;
    const unsigned char *p = l3_ie_get(msg, nt, ie, 0);
    if (!p)
        return 1;
    int L = p[0];
    if (L < 1)
        return 1;
    if (L > size) {
        printf("%s: ERROR: IE too long (%d).\n", coder, L);
        return 1;
    }
    memcpy(data, p + 1, (size_t)L);
    *len = L;
    if (ie_lines_wanted(bc)) {
        char hex[HEX_TEXT];
        ie_hexdump(data, L, hex, sizeof(hex));
        if (ie == IE_HLC) {
            cb_log_as(coder, 18, port_of(bc), pid_of(bc), "dec_ie_hlc_raw: len=%i hlc=%s\n", L, hex);
            isdn_trace_add("  HLC: len=%i hlc=%s\n", L, hex);
        } else {
            cb_log_as(coder, 18, port_of(bc), pid_of(bc), "dec_ie_llc_raw: len %i llc=%s\n", L, hex);
            isdn_trace_add("  LLC: len=%i llc=%s\n", L, hex);
        }
    }
    return 0;
}

int dec_ie_hlc_raw(const msg_t *msg, unsigned char *data, int size, int *len, int nt, misdn_bchannel *bc)
{
    return dec_raw(__func__, msg, IE_HLC, data, size, len, nt, bc);
}

int dec_ie_llc_raw(const msg_t *msg, unsigned char *data, int size, int *len, int nt, misdn_bchannel *bc)
{
    return dec_raw(__func__, msg, IE_LLC, data, size, len, nt, bc);
}

int dec_ie_useruser(const msg_t *msg, int *protocol, unsigned char *data, int size, int *len, int nt,
                    misdn_bchannel *bc)
{
    *protocol = -1;
    *len = 0;
    const unsigned char *p = l3_ie_get(msg, nt, IE_USER_USER, 0);
    if (!p)
        return 1;
    int L = p[0];
    if (L < 1) {
        *len = -1;
        return 1;
    }
    *protocol = p[1];
    int n = L - 1;
    if (n > BC_UU_COPY_MAX)
        n = BC_UU_COPY_MAX;
    if (n > size)
        n = size;
    memcpy(data, p + 2, (size_t)n);
    *len = n;
    if (ie_lines_wanted(bc)) {
        char hex[HEX_TEXT];
        ie_hexdump(data, n, hex, sizeof(hex));
        cb_log(18, port_of(bc), pid_of(bc), "dec_ie_useruser: protocol=0x%x uulen=%d user=%s", *protocol, n, hex);
        isdn_trace_add("  USERUSER: protocol=0x%x uulen=%d user=%s\n", *protocol, n, hex);
    }
    return 0;
}

// Facility and subaddresses: at least two content octets, copied up to the
// output's size.
static int dec_octets(const char *coder, const msg_t *msg, unsigned char ie, unsigned char *out, int size,
                      int *len, int nt)
{
    *len = 0;
    int L;
    const unsigned char *c = content_of(coder, msg, nt, ie, 2, &L);
    if (!c)
        return 1;
    if (L > size)
        L = size;
    memcpy(out, c, (size_t)L);
    *len = L;
    return 0;
}

int dec_ie_facility(const msg_t *msg, unsigned char *fac, int size, int *len, int nt, misdn_bchannel *bc)
{
    if (dec_octets(__func__, msg, IE_FACILITY, fac, size, len, nt))
        return 1;
    if (ie_lines_wanted(bc)) {
        char hex[HEX_TEXT];
        ie_hexdump(fac, *len, hex, sizeof(hex));
        cb_log(18, port_of(bc), pid_of(bc), "dec_ie_facility: faclen=%i facility=%s\n", *len, hex);
        isdn_trace_add("  FACILITY: faclen=%i facility=%s\n", *len, hex);
    }
    return 0;
}

static int dec_subaddress(const char *coder, const char *trace, const msg_t *msg, unsigned char ie,
                          unsigned char *sub, int size, int *len, int nt, misdn_bchannel *bc)
{
    if (dec_octets(coder, msg, ie, sub, size, len, nt))
        return 1;
    cb_log_as(coder, 18, port_of(bc), pid_of(bc), "%s: len %i", coder, *len);
    isdn_trace_add("  %s:\n", trace);
    return 0;
}

int dec_ie_calling_subaddress(const msg_t *msg, unsigned char *sub, int size, int *len, int nt,
                              misdn_bchannel *bc)
{
    return dec_subaddress(__func__, "CALLING_SUBADRESS", msg, IE_CALLING_SUB, sub, size, len, nt, bc);
}

int dec_ie_called_subaddress(const msg_t *msg, unsigned char *sub, int size, int *len, int nt,
                             misdn_bchannel *bc)
{
    return dec_subaddress(__func__, "CALLED_SUBADRESS", msg, IE_CALLED_SUB, sub, size, len, nt, bc);
}
