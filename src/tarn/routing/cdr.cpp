#include "cdr.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "application.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "call_statistics.h"
#include "proxy_def.h"
#include "cdr_log.h"
#include "dialplan.h"
#include "global_lock.h"
#include "log.h"
#include "log_backend.h"

const char *(*cdr_print_event)(int event);

namespace {

const char *const termination_causes[] = {
    "NO_DIALPLAN_MATCH",
    "NO_FREE_DIALPLAN_MATCH",
    "MSP_OVERLOAD",
    "SIP_ERROR",
    "ICAUSE_REGEXP_FAILURE",
    "ICAUSE_NO_SUPPORTED_MEDIA_OFFERED",
    "ICAUSE_NO_BCHANNELS",
    "ICAUSE_SIP_REFER",
    "ICAUSE_INVALID_NUMBER_FORMAT",
    "ICAUSE_AVP_NOT_ACCEPTABLE",
    "ICAUSE_SAVP_NOT_ACCEPTABLE",
};

const char *event_name(int event)
{
    static bool said;
    if (!cdr_print_event) {
        if (!said)
            LOGD(TARN, 9, nullptr, "cdr: event names not part of this build, written empty");
        said = true;
        return "";
    }
    const char *s = cdr_print_event(event);
    return s ? s : "";
}

const char *proxy_text(const call_leg_sip *leg)
{
    return leg && leg->pd && leg->pd->pd_sip_proxy ? leg->pd->pd_sip_proxy : "";
}

// One line of at most CDR_LINE_MAX characters; anything longer is cut.
struct line {
    char buf[CDR_LINE_MAX + 1] = "";
    size_t len = 0;
    __attribute__((format(printf, 2, 3))) void add(const char *fmt, ...)
    {
        if (len >= CDR_LINE_MAX)
            return;
        va_list ap;
        va_start(ap, fmt);
        int n = vsnprintf(buf + len, sizeof buf - len, fmt, ap);
        va_end(ap);
        if (n > 0)
            len = len + n > CDR_LINE_MAX ? CDR_LINE_MAX : len + n;
    }
    void field(const char *s) { add("%s,", s ? s : ""); }
};

// Display names and users come from the far end: a line break or other
// control character would split or forge a record, so it becomes a blank.
void add_clean(line &l, const char *s)
{
    char tmp[CDR_LINE_MAX + 1];
    size_t i = 0;
    for (; s && s[i] && i < CDR_LINE_MAX; i++) {
        unsigned char c = s[i];
        tmp[i] = c < 0x20 || c == 0x7f ? ' ' : c;
    }
    tmp[i] = 0;
    l.add("%s", tmp);
}

// "\"display\" <sip:user@url>" of the From (or To) of a leg; "-" without
// address information.
void add_address(line &l, const call_leg_sip *leg, bool to)
{
    const sip_address_info_object *ai = leg ? leg->address_info : nullptr;
    if (!ai) {
        l.field("-");
        return;
    }
    l.add("\"");
    add_clean(l, to ? ai->to_display : ai->from_display);
    l.add("\" <sip:");
    add_clean(l, to ? ai->to_url_user : ai->from_url_user);
    l.add("@");
    add_clean(l, to ? ai->to_url : ai->from_url);
    l.add(">,");
}

void add_addresses(line &l, const call_leg_sip *leg)
{
    add_address(l, leg, false);
    add_address(l, leg, true);
}

const char *peer_ip(const call_leg_sip *leg)
{
    return leg ? leg->sip_peer_network_ip : "";
}
const char *origin(const call_leg_sip *leg)
{
    return leg ? leg->sip_origin_address : "";
}
const char *outbound(const call_leg_sip *leg)
{
    return leg ? leg->sip_outbound_address : "";
}

int gsm_number(const call_object *co)
{
    return co->gsm_port ? co->gsm_port : co->gsm_port_stored;
}

bool is_line(int tech)
{
    return tech == TECH_ISDN || tech == TECH_GSM || tech == TECH_ANALOG || tech == TECH_CAS;
}

// The line side of a call: as a source "GSM:%i", as a destination the same
// with ":1" (ISDN gives port and channel either way).
void add_line_side(line &l, const call_object *co, int tech, bool destination)
{
    const char *one = destination ? ":1" : "";
    switch (tech) {
    case TECH_ISDN: l.add("ISDN:%i:%i,", co->bc_port, co->bc_channel); break;
    case TECH_GSM: l.add("GSM:%i%s,", gsm_number(co), one); break;
    case TECH_ANALOG: l.add("ANALOG:%i%s,", co->analog_port, one); break;
    case TECH_CAS: l.add("CAS:%i%s,", co->cas_port_stored, one); break;
    default: l.field(dialplan_get_tech_name(tech)); break;
    }
}

void add_source_numbers(line &l, const call_object *co, int tech)
{
    switch (tech) {
    case TECH_ISDN: l.field(co->bc_oad), l.field(co->bc_dad); break;
    case TECH_GSM: l.field(co->gsm_oad), l.field(co->gsm_dad); break;
    case TECH_ANALOG: l.field(co->analog_oad), l.field(co->analog_dad); break;
    default: l.field(co->cas_oad), l.field(co->cas_dad); break;
    }
}

void add_at_telnet(line &l, const call_object *co, const char *number)
{
    l.add("%s@%s:%i,", number ? number : "", co->telnet_remote_address, co->telnet_remote_telnet_port);
}

// The fields before the tail; false for a call no layout covers.
bool add_layout(line &l, const call_object *co, const char *start, const char *stop)
{
    const cdr_info &c = co->cdr;
    l.add("CDR,%i,", co->pid);
    if (is_line(c.from) && (c.to == TECH_SIP || c.to == TECH_UNKNOWN)) {
        add_line_side(l, co, c.from, false);
        l.field(dialplan_get_tech_name(c.to));
        add_source_numbers(l, co, c.from);
        l.field(origin(co->cl_sip));
        l.field(outbound(co->cl_sip));
    } else if (c.from == TECH_SIP && (is_line(c.to) || c.to == TECH_UNKNOWN)) {
        l.add("SIP:%s,", peer_ip(co->cl_sip));
        add_line_side(l, co, c.to, true);
        add_addresses(l, co->cl_sip);
        l.field(co->new_source);
        l.field(co->new_destination);
    } else if (c.from == TECH_SIP && c.to == TECH_SIP) {
        l.add("SIP:%s,", peer_ip(co->cl_sip_in));
        l.add("SIP:%s,", proxy_text(co->cl_sip_out));
        add_addresses(l, co->cl_sip);
        l.field(origin(co->cl_sip_out));
        l.field(outbound(co->cl_sip_out));
    } else if (c.from == TECH_SIP && c.to == TECH_ITAPI) {
        l.add("SIP:%s,", peer_ip(co->cl_sip_in));
        l.add("ITAPI:%s,", co->telnet_remote_address);
        l.field(origin(co->cl_sip_in));
        l.field(outbound(co->cl_sip_in));
        l.field("");
        l.field("");
        add_addresses(l, co->cl_sip_in);
        add_at_telnet(l, co, co->new_source);
        add_at_telnet(l, co, co->new_destination);
    } else if (c.from == TECH_ITAPI && c.to == TECH_ISDN) {
        l.add("ITAPI:%s,", co->cl_sip ? co->cl_sip->sip_peer_network_ip : "UNKNOWN");
        l.add("ISDN:%i:%i,", co->bc_port, co->bc_channel);
        add_addresses(l, co->cl_sip);
        l.field(co->new_source);
        l.field(co->new_destination);
    } else if (c.from == TECH_SIP && c.to == TECH_TARN) {
        l.add("SIP:%s,", peer_ip(co->cl_sip_in));
        l.field("TARN");
        l.field(origin(co->cl_sip_in));
        l.field(outbound(co->cl_sip_in));
        l.field("-");
        l.field("-");
        add_addresses(l, co->cl_sip_in);
        l.field("-");
    } else {
        return false;
    }
    l.field(start);
    l.field(stop);
    return true;
}

int cause_number(const call_object *co)
{
    switch (co->cdr.terminated_by) {
    case TECH_ISDN: return co->last_isdn_cause;
    case TECH_SIP: return co->cl_sip ? co->cl_sip->last_nua_status_code : 0;
    case TECH_GSM:
    case TECH_ANALOG: return 0;
    default: return co->cdr.tc_incoming_status;
    }
}

void add_charge(line &l, const advice_of_charge &a)
{
    char text[64];
    if (a.units_received && a.currency_received)
        snprintf(text, sizeof text, ",AOCD_U:%i,AOCD_C:%.7s:%i:%i", a.units, a.currency, a.amount, a.multiplier);
    else if (a.units_received)
        snprintf(text, sizeof text, ",AOCD_U:%i,-", a.units);
    else if (a.currency_received)
        snprintf(text, sizeof text, ",-,AOCD_C:%.7s:%i:%i", a.currency, a.amount, a.multiplier);
    else
        snprintf(text, sizeof text, ",-,-");
    l.add("%s", text);
}

void format_time(char *buf, size_t size, time_t t, bool dash_when_zero)
{
    if (dash_when_zero && t == 0) {
        snprintf(buf, size, "-");
        return;
    }
    struct tm tm {};
    localtime_r(&t, &tm);
    cdr_format_datetime(buf, size, &tm);
}

} // namespace

cdr_info *cdr_reset(cdr_info *cdr)
{
    *cdr = cdr_info{};
    cdr->from = cdr->to = cdr->terminated_by = TECH_UNKNOWN;
    cdr->tc_incoming_event = cdr->tc_incoming_status = -1;
    cdr->tc_outgoing_event = cdr->tc_outgoing_status = -1;
    return cdr;
}

void cdr_format_datetime(char *buf, size_t size, const struct tm *t)
{
    snprintf(buf, size, "%02i/%02i/%02i-%02i:%02i:%02i", t->tm_year - 100, t->tm_mon + 1, t->tm_mday, t->tm_hour,
             t->tm_min, t->tm_sec);
}

const char *cdr_get_tarn_termination_cause(int cause)
{
    if (cause < 0 || cause >= (int)(sizeof termination_causes / sizeof termination_causes[0]))
        return "UNKNOWN";
    return termination_causes[cause];
}

void cdr_write_out(call_object *co)
{
    if (!co || co->callinfo == CI_INTERNAL || co->f.is_sip_message)
        return;
    lock_hold hold(&lock_manager::cdr_lock);
    const cdr_info &c = co->cdr;
    char start[32], stop[32], cstart[32], cstop[32];
    format_time(start, sizeof start, c.call_start, false);
    format_time(stop, sizeof stop, c.call_stop, false);
    format_time(cstart, sizeof cstart, c.connect_start, true);
    format_time(cstop, sizeof cstop, c.connect_stop, true);

    if (c.connect_start && c.connect_stop)
        add_connected_call_duration(&gp->cds, (int)(c.connect_stop - c.connect_start + 1));

    line l;
    if (add_layout(l, co, start, stop)) {
        l.field(cstart);
        l.field(cstop);
        l.field(dialplan_get_tech_name(c.terminated_by));
        l.add("%s:%i",
              c.terminated_by == TECH_TARN ? cdr_get_tarn_termination_cause(c.tc_incoming_event)
                                           : event_name(c.tc_incoming_event),
              cause_number(co));
        add_charge(l, co->aoc);
    } else {
        l = line{};
        l.add("ERROR CDR %i<br>UNKNOWN_CALL from %i : to %i : term %i : event %i", co->pid, c.from, c.to,
              c.terminated_by, c.tc_incoming_event);
    }

    _verbose_msg(__FILE__, __LINE__, __func__, "%s\n", l.buf);
    LOGM(TARN, 16, "%s", l.buf);
    if (gp->log_cdr && gp->cdr_fp) {
        // The line and its end reach the file in one write, now: a record
        // never waits in a buffer for a crash or a stop to lose it, and
        // never reaches the file in parts. Only the sync to the medium is
        // left to the CDR thread.
        l.buf[l.len] = '\n';
        size_t n = fwrite(l.buf, 1, l.len + 1, gp->cdr_fp);
        l.buf[l.len] = '\0';
        if (n != l.len + 1 || fflush(gp->cdr_fp) != 0)
            LOGD(TARN, 0, nullptr, "CRITICAL: couldn't write the cdr line of call %i: %m", co->pid);
        long pos = ftell(gp->cdr_fp);
        if (pos >= gp->cdr_log_filesize_limit)
            cdr_log_rotate();
    }
}
