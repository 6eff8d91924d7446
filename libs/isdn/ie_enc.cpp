// Encoders of the information elements.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "ie_coders.h"
#include "isdn_msg.h"
#include "misdn_bchannel.h"
#include "misdn_lib_iface.h"
#include "q931_frame.h"

enum { HEX_TEXT = 79 * 3 + 1, MAX_DIGITS = 250 };

#define RANGE_ERROR(what, value) printf("%s: ERROR: " what "(%d) is out of range.\n", __func__, (value))

static int port_of(const misdn_bchannel *bc) { return bc ? bc->port : 0; }
static int pid_of(const misdn_bchannel *bc) { return bc ? bc->pid : -1; }

// Places one element with its content; logs when the frame has no room.
static void place(msg_t *msg, int nt, misdn_bchannel *bc, unsigned char ie, const unsigned char *content,
                  int len)
{
    if (!l3_ie_add(msg, nt, ie, content, len))
        cb_log(0, port_of(bc), pid_of(bc), "IE 0x%02x does not fit into the message\n", ie);
}

void enc_ie_bearer(msg_t *msg, int coding, int capability, int mode, int rate, int multi, int user,
                   int nt, misdn_bchannel *bc)
{
    if (coding < 0 || coding > 3) {
        RANGE_ERROR("coding", coding);
        return;
    }
    if (capability < 0 || capability > 31) {
        RANGE_ERROR("capability", capability);
        return;
    }
    if (mode < 0 || mode > 3) {
        RANGE_ERROR("mode", mode);
        return;
    }
    if ((unsigned)rate > 31) {
        RANGE_ERROR("rate", rate);
        return;
    }
    if (multi > 127) {
        RANGE_ERROR("multi", multi);
        return;
    }
    if (user > 31) {
        RANGE_ERROR("user L1", user);
        return;
    }
    if (rate != 24 && multi >= 0) {
        printf("%s: WARNING: multi(%d) is only possible if rate(%d) would be 24.\n", __func__, multi, rate);
        multi = -1;
    }
    cb_log(18, port_of(bc), pid_of(bc),
           "enc_ie_bearer: coding=%d capability=%d mode=%d rate=%d multi=%d user=%d\n", coding, capability,
           mode, rate, multi, user);
    isdn_trace_add("  BEARER: coding=%d capability=%d mode=%d rate=%d multi=%d user=%d\n", coding,
                   capability, mode, rate, multi, user);
    if (bc && bc->out_bearer_buf_len > 0) {
        int l = bc->out_bearer_buf_len;
        if (l > (int)sizeof(bc->out_bearer_buf))
            l = (int)sizeof(bc->out_bearer_buf);
        place(msg, nt, bc, IE_BEARER, bc->out_bearer_buf, l);
        bc->out_bearer_buf_len = 0;
        return;
    }
    unsigned char c[4];
    int l = 0;
    c[l++] = (unsigned char)(0x80 | (coding << 5) | capability);
    c[l++] = (unsigned char)(0x80 | (mode << 5) | rate);
    if (multi >= 0)
        c[l++] = (unsigned char)(0x80 | multi);
    if (user >= 0)
        c[l++] = (unsigned char)(0x80 | 0x20 | user);
    place(msg, nt, bc, IE_BEARER, c, l);
}

void enc_ie_called_pn(msg_t *msg, int type, int plan, const char *number, int nt, misdn_bchannel *bc)
{
    if (type < 0 || type > 7) {
        RANGE_ERROR("type", type);
        return;
    }
    if (plan < 0 || plan > 15) {
        RANGE_ERROR("plan", plan);
        return;
    }
    if (!number || !number[0]) {
        printf("%s: ERROR: number is not given.\n", __func__);
        return;
    }
    cb_log(18, port_of(bc), pid_of(bc), "enc_ie_called_pn: type=%d(%s) plan=%d number='%s'\n", type,
           ie_ton_name(type, 1), plan, number);
    isdn_trace_add("  CALLED_PN: type=%d(%s) plan=%d number='%s'\n", type, ie_ton_name(type, 1), plan,
                   number);
    unsigned char c[1 + MAX_DIGITS];
    int n = (int)strnlen(number, MAX_DIGITS);
    c[0] = (unsigned char)(0x80 | (type << 4) | plan);
    memcpy(c + 1, number, (size_t)n);
    place(msg, nt, bc, IE_CALLED_PN, c, 1 + n);
}

// Calling, connected and redirecting numbers share their coding; reason is
// only sent with the redirecting number (reason >= 0).
static void enc_number(const char *coder, unsigned char ie, const char *trace, msg_t *msg, int type,
                       int plan, int present, int screen, int reason, const char *number, int nt,
                       misdn_bchannel *bc)
{
    if (type < 0 || type > 7) {
        printf("%s: ERROR: type(%d) is out of range.\n", coder, type);
        return;
    }
    if (plan < 0 || plan > 15) {
        printf("%s: ERROR: plan(%d) is out of range.\n", coder, plan);
        return;
    }
    if (present > 3) {
        printf("%s: ERROR: present(%d) is out of range.\n", coder, present);
        return;
    }
    if (present >= 0 && (screen < 0 || screen > 3)) {
        printf("%s: ERROR: screen(%d) is out of range.\n", coder, screen);
        return;
    }
    if (!number)
        number = "";
    if (reason >= 0) {
        cb_log_as(coder, 18, port_of(bc), pid_of(bc),
                  "enc_ie_redir_nr: type=%d(%s) plan=%d present=%d screen=%d readon=%d number='%s'", type,
                  ie_ton_name(type, 1), plan, present, screen, reason, number);
        isdn_trace_add("  REDIR_NR: type=%d(%s) plan=%d present=%d screen=%d readon=%d number='%s'\n", type,
                       ie_ton_name(type, 1), plan, present, screen, reason, number);
    } else {
        cb_log_as(coder, 18, port_of(bc), pid_of(bc),
                  "%s: type=%d(%s) plan=%d present=%d screen=%d number='%s'\n", coder, type,
                  ie_ton_name(type, 1), plan, present, screen, number);
        isdn_trace_add("  %s: type=%d(%s) plan=%d present=%d screen=%d number='%s'\n", trace, type,
                       ie_ton_name(type, 1), plan, present, screen, number);
    }
    unsigned char c[3 + MAX_DIGITS];
    int l = 0;
    if (present < 0) {
        c[l++] = (unsigned char)(0x80 | (type << 4) | plan);
    } else {
        c[l++] = (unsigned char)((type << 4) | plan);
        if (reason >= 0) {
            c[l++] = (unsigned char)((present << 5) | screen);
            c[l++] = (unsigned char)(0x80 | (reason & 0x0F));
        } else {
            c[l++] = (unsigned char)(0x80 | (present << 5) | screen);
        }
    }
    int n = (int)strnlen(number, MAX_DIGITS);
    memcpy(c + l, number, (size_t)n);
    place(msg, nt, bc, ie, c, l + n);
}

void enc_ie_calling_pn(msg_t *msg, int type, int plan, int present, int screen, const char *number,
                       int nt, misdn_bchannel *bc)
{
    enc_number("enc_ie_calling_pn", IE_CALLING_PN, "CALLING_PN", msg, type, plan, present, screen,
               -1, number, nt, bc);
}

void enc_ie_connected_pn(msg_t *msg, int type, int plan, int present, int screen, const char *number,
                         int nt, misdn_bchannel *bc)
{
    enc_number("enc_ie_connected_pn", IE_CONNECT_PN, "CONNECTED_PN", msg, type, plan, present,
               screen, -1, number, nt, bc);
}

void enc_ie_redir_nr(msg_t *msg, int type, int plan, int present, int screen, int reason,
                     const char *number, int nt, misdn_bchannel *bc)
{
    enc_number("enc_ie_redir_nr", IE_REDIR_NR, "REDIR_NR", msg, type, plan, present, screen,
               reason < 0 ? 0 : reason, number, nt, bc);
}

void enc_ie_keypad(msg_t *msg, const char *keypad, int nt, misdn_bchannel *bc)
{
    if (!keypad || !keypad[0])
        return;
    cb_log(18, port_of(bc), pid_of(bc), "enc_ie_keypad: keypad='%s'\n", keypad);
    isdn_trace_add("  KEYPAD: keypad='%s'\n", keypad);
    place(msg, nt, bc, IE_KEYPAD, (const unsigned char *)keypad, (int)strnlen(keypad, 255));
}

void enc_ie_complete(msg_t *msg, int complete, int nt, misdn_bchannel *bc)
{
    if (complete < 0 || complete > 1) {
        printf("%s: ERROR: complete(%d) is out of range.\n", __func__, complete);
        return;
    }
    if (!complete)
        return;
    cb_log(18, port_of(bc), pid_of(bc), "enc_ie_complete: complete=%d\n", complete);
    isdn_trace_add("  COMPLETE: complete=%d\n", complete);
    place(msg, nt, bc, IE_COMPLETE, nullptr, 0);
}

void enc_ie_cause(msg_t *msg, int location, int cause, int nt, misdn_bchannel *bc)
{
    if (location < 0 || location > 7) {
        RANGE_ERROR("location", location);
        return;
    }
    if (cause < 0 || cause > 127) {
        RANGE_ERROR("cause", cause);
        return;
    }
    cb_log(18, port_of(bc), pid_of(bc), "enc_ie_cause: location=%d cause=%d\n", location, cause);
    isdn_trace_add("  CAUSE: location=%d cause=%d(%s)\n", location, cause, ie_print_isdn_cause(cause));
    unsigned char c[2] = {(unsigned char)(0x80 | location), (unsigned char)(0x80 | cause)};
    place(msg, nt, bc, IE_CAUSE, c, 2);
}

void enc_ie_progress(msg_t *msg, int coding, int location, int progress, int nt, misdn_bchannel *bc)
{
    if (coding < 0 || coding > 3) {
        RANGE_ERROR("coding", coding);
        return;
    }
    if (location < 0 || location > 15) {
        RANGE_ERROR("location", location);
        return;
    }
    if (progress < 0 || progress > 127) {
        RANGE_ERROR("progress", progress);
        return;
    }
    cb_log(18, port_of(bc), pid_of(bc), "enc_ie_progress: coding=%d location=%d progress=%d", coding,
           location, progress);
    isdn_trace_add("  PROGRESS: coding=%d location=%d progress=%d\n", coding, location, progress);
    unsigned char c[2] = {(unsigned char)(0x80 | (coding << 5) | location), (unsigned char)(0x80 | progress)};
    place(msg, nt, bc, IE_PROGRESS, c, 2);
}

void enc_ie_display(msg_t *msg, char *display, int size, int nt, misdn_bchannel *bc)
{
    int n = display && size > 0 ? (int)strnlen(display, (size_t)size) : 0;
    if (n == 0) {
        printf("%s: ERROR: display text not given.\n", __func__);
        return;
    }
    if (n > 80) {
        printf("%s: WARNING: display text too long (max 80 chars), cutting.\n", __func__);
        display[80] = 0;
        n = 80;
    } else if (n == size) {
        display[size - 1] = 0;  // not terminated within its field
        n = size - 1;
    }
    cb_log(18, port_of(bc), pid_of(bc), "enc_ie_display: display='%s' (len=%d)\n", display, n);
    isdn_trace_add("  DISPLAY: display='%s' (len=%d)\n", display, n);
    place(msg, nt, bc, IE_DISPLAY, (const unsigned char *)display, n);
}

void enc_ie_date(msg_t *msg, time_t now, int nt, misdn_bchannel *bc)
{
    struct tm tm;
    if (!localtime_r(&now, &tm)) {
        printf("%s: ERROR: gettimeofday() returned NULL.\n", __func__);
        return;
    }
    cb_log(18, port_of(bc), pid_of(bc), "enc_ie_date: year=%d month=%d day=%d hour=%d minute=%d\n",
           tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
    isdn_trace_add("  DATE: year=%d month=%d day=%d hour=%d minute=%d\n", tm.tm_year % 100, tm.tm_mon + 1,
                   tm.tm_mday, tm.tm_hour, tm.tm_min);
    unsigned char c[5] = {(unsigned char)(tm.tm_year % 100), (unsigned char)(tm.tm_mon + 1),
                          (unsigned char)tm.tm_mday, (unsigned char)tm.tm_hour, (unsigned char)tm.tm_min};
    place(msg, nt, bc, IE_DATE, c, 5);
}

// HLC and LLC: the octets as call control gave them.
static void enc_raw(const char *coder, unsigned char ie, msg_t *msg, const unsigned char *data, int len, int nt,
                    misdn_bchannel *bc)
{
    if (!data || len <= 0)
        return;
    if (len > 255)
        len = 255;
    if (ie_lines_wanted(bc)) {
        char hex[HEX_TEXT];
        ie_hexdump(data, len, hex, sizeof(hex));
        if (ie == IE_HLC) {
            cb_log_as(coder, 18, port_of(bc), pid_of(bc), "enc_ie_hlc_raw: len=%i hlc=%s\n", len, hex);
            isdn_trace_add("  HLC: len=%i hlc=%s\n", len, hex);
        } else {
            cb_log_as(coder, 18, port_of(bc), pid_of(bc), "enc_ie_llc_raw: len %i hlc %s\n", len, hex);
            isdn_trace_add("  LLC: len %i hlc %s\n", len, hex);
        }
    }
    place(msg, nt, bc, ie, data, len);
}

void enc_ie_hlc_raw(msg_t *msg, const unsigned char *data, int len, int nt, misdn_bchannel *bc)
{
    enc_raw(__func__, IE_HLC, msg, data, len, nt, bc);
}

void enc_ie_llc_raw(msg_t *msg, const unsigned char *data, int len, int nt, misdn_bchannel *bc)
{
    enc_raw(__func__, IE_LLC, msg, data, len, nt, bc);
}

void enc_ie_useruser(msg_t *msg, int protocol, const unsigned char *data, int len, int nt,
                     misdn_bchannel *bc)
{
    if (!data || len <= 0)
        return;
    if (len > 254)
        len = 254;
    if (ie_lines_wanted(bc)) {
        char hex[HEX_TEXT];
        ie_hexdump(data, len, hex, sizeof(hex));
        cb_log(18, port_of(bc), pid_of(bc), "enc_ie_useruser: protocol=0x%x uulen=%d user=%s", protocol, len,
               hex);
        isdn_trace_add("  USERUSER: protocol=0x%x uulen=%d user=%s\n", protocol, len, hex);
    }
    unsigned char c[255];
    c[0] = (unsigned char)protocol;
    memcpy(c + 1, data, (size_t)len);
    place(msg, nt, bc, IE_USER_USER, c, len + 1);
}

static void enc_facility(const char *coder, msg_t *msg, const unsigned char *data, int len, int nt,
                         misdn_bchannel *bc)
{
    if (!data || len <= 0)
        return;
    if (len > 255) {
        printf("%s: ERROR: facility(%d) is out of range.\n", coder, len);
        return;
    }
    if (ie_lines_wanted(bc)) {
        char hex[HEX_TEXT];
        ie_hexdump(data, len, hex, sizeof(hex));
        cb_log_as(coder, 18, port_of(bc), pid_of(bc), "enc_ie_facility: faclen=%d facility=%s", len, hex);
        isdn_trace_add("  FACILITY: faclen=%d facility=%s\n", len, hex);
    }
    place(msg, nt, bc, IE_FACILITY, data, len);
}

void enc_ie_facility(msg_t *msg, const unsigned char *data, int len, int nt, misdn_bchannel *bc)
{
    enc_facility("enc_ie_facility", msg, data, len, nt, bc);
}

void enc_ie_facility_second(msg_t *msg, const unsigned char *data, int len, int nt, misdn_bchannel *bc)
{
    enc_facility("enc_ie_facility_second", msg, data, len, nt, bc);
}
