// Console listings of the live calls ("l", "LH", "l ", "lp ", "k", "k ",
// "kp ", "kt", "kt ", "ktp "): one block or one line per call, built in a
// buffer under global_lock and cut at the buffer's end.
#include "mc_list_calls.h"

#include <pthread.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "application.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "call_lookups.h"
#include "call_object.h"
#include "call_statistics.h"
#include "global_lock.h"
#include "misdn_bchannel.h"
#include "msp_resource.h"
#include "proxy_def.h"
#include "sm_defs.h"
#include "state_names.h"
#include "statemachine.h"

namespace {

enum { FULL_BLOCK = 4096, COMPACT_LINE = 1024, SELECTED_COMPACT_LINE = 4096 };

// Appends to a fixed buffer; stops as soon as it is full.
struct text_buf {
    char *buf;
    int size;
    int len = 0;
    text_buf(char *b, int s) : buf(b), size(s)
    {
        if (size > 0)
            buf[0] = '\0';
    }
    void add(const char *fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        if (len >= size - 1)
            return;
        va_list ap;
        va_start(ap, fmt);
        int n = vsnprintf(buf + len, (size_t)(size - len), fmt, ap);
        va_end(ap);
        if (n > 0)
            len = len + n >= size ? size - 1 : len + n;
    }
};

const char *text(const char *s)
{
    return s ? s : "";
}

const char *direction_text(int callinfo)
{
    switch (callinfo) {
    case CI_SIP_TO_SIP: return "FROM SIP TO SIP";
    case CI_ISDN_TO_SIP: return "FROM ISDN TO SIP";
    case CI_ANALOG_TO_SIP: return "FROM ANALOG TO SIP";
    case CI_GSM_TO_SIP: return "FROM GSM TO SIP";
    case CI_CAS_TO_SIP: return "FROM CAS TO SIP";
    case CI_SIP_TO_ISDN: return "FROM SIP TO ISDN";
    case CI_TELNET_TO_ISDN: return "FROM TELNET TO ISDN";
    case CI_SIP_TO_ANALOG: return "FROM SIP TO ANALOG";
    case CI_SIP_TO_GSM: return "FROM SIP TO GSM";
    case CI_SIP_TO_CAS: return "FROM SIP TO CAS";
    case CI_SIP_TO_ITAPI: return "FROM SIP TO ITAPI";
    case CI_INTERNAL: return "INTERNAL";
    default: return nullptr;
    }
}

const char *compact_token(int callinfo)
{
    switch (callinfo) {
    case CI_SIP_TO_SIP: return "S2S";
    case CI_ISDN_TO_SIP: return "I2S";
    case CI_ANALOG_TO_SIP: return "A2S";
    case CI_GSM_TO_SIP: return "G2S";
    case CI_CAS_TO_SIP: return "C2S";
    case CI_SIP_TO_ISDN:
    case CI_TELNET_TO_ISDN: return "S2I";
    case CI_SIP_TO_ANALOG: return "S2A";
    case CI_SIP_TO_GSM: return "S2G";
    case CI_SIP_TO_CAS: return "S2C";
    case CI_SIP_TO_ITAPI: return "S2T";
    default: return nullptr;
    }
}

bool towards_sip(int callinfo)
{
    return callinfo == CI_ISDN_TO_SIP || callinfo == CI_ANALOG_TO_SIP || callinfo == CI_GSM_TO_SIP;
}

const char *lan_ip()
{
    return gp ? gp->netconf.host_ip_lan : "";
}

void connect_time(const call_object *co, char *out, int size)
{
    if (co->connect_start == 0) {
        snprintf(out, (size_t)size, "0:00:00");
        return;
    }
    time_t end = co->connect_stop ? co->connect_stop : time(nullptr);
    format_time(out, size, (int)(end - co->connect_start));
}

const char *state_text(call_object *co)
{
    return co->sm ? print_sm_state_call(co, (uint32_t)co->sm->state) : "NONE";
}

// Technology part of a line call: number fields of analog, GSM or CAS.
struct line_fields {
    const char *word; // "ANALOG", "GSM", "CAS"
    const char *oad, *dad;
    int port;
};

bool line_fields_of(const call_object *co, line_fields *f)
{
    switch (co->callinfo) {
    case CI_ANALOG_TO_SIP:
    case CI_SIP_TO_ANALOG: *f = {"ANALOG", co->analog_oad, co->analog_dad, co->analog_port}; return true;
    case CI_GSM_TO_SIP:
    case CI_SIP_TO_GSM: *f = {"GSM", co->gsm_oad, co->gsm_dad, co->gsm_port}; return true;
    case CI_CAS_TO_SIP:
    case CI_SIP_TO_CAS: *f = {"CAS", co->cas_oad, co->cas_dad, co->cas_port}; return true;
    default: return false;
    }
}

void msp_lines(text_buf &t, call_object *co, const char *suffix)
{
    char act[256] = "", res[256] = "", flags[256] = "";
    msp_active_resource_to_buffer(co->msp_resources_active, act, sizeof act);
    msp_reserved_resource_to_buffer(co->msp_resources_reserved, res, sizeof res);
    if (msp_print_flags_to_buffer(flags, sizeof flags, co->msp_state) < 0)
        flags[0] = '\0';
    int total = msp_get_total_channels();
    char name[32];
    snprintf(name, sizeof name, "MSP_CHAN_ACTIVE%s", suffix);
    t.add("%-20s=> %i of %i (%s)\n", name, msp_get_resource_usage(co->msp_resources_active), total, act);
    snprintf(name, sizeof name, "MSP_CHAN_RESERVED%s", suffix);
    t.add("%-20s=> %i of %i (%s)\n", name, msp_get_resource_usage(co->msp_resources_reserved), total, res);
    snprintf(name, sizeof name, "MSP_FLAGS%s", suffix);
    t.add("%-20s=> %s\n", name, flags);
    snprintf(name, sizeof name, "MSP_TIMESLOT%s", suffix);
    t.add("%-20s=> %i\n", name, co->tdm_logical_timeslot);
    snprintf(name, sizeof name, "MSP_SRTP_ENABLED%s", suffix);
    t.add("%-20s=> %i\n", name, co->f.srtp_enabled ? 1 : 0);
}

// Which calls a listing shows.
bool listed(call_object *co, bool internal, bool compact)
{
    if (!co)
        return false;
    if (co->callinfo == CI_INTERNAL)
        return internal;
    if (!co->sm || !direction_text(co->callinfo))
        return false;
    return !(compact && co->callinfo == CI_ANALOG_TO_SIP && co->sm_state == SM_ANALOG_FXS_CALL_ON_HOLD_REINVITE);
}

} // namespace

// ---------------------------------------------------------------------------
// Full form

int isdn_info_to_buffer(call_object *co, char *buffer, int size)
{
    text_buf t(buffer, size);
    const misdn_bchannel *bc = co->bc;
    if (bc) {
        t.add("OAD_ISDN            => %s\n", bc->oad);
        t.add("DAD_ISDN            => %s\n", bc->dad);
        t.add("PORT_ISDN           => %i\n", bc->port);
        t.add("CHANNEL_ISDN        => %i\n", bc->channel);
        t.add("TARN_PID            => %i\n", co->pid);
        t.add("ISDN_PID            => %i\n", bc->pid);
    } else {
        t.add("OAD_ISDN            => NA\n");
        t.add("DAD_ISDN            => NA\n");
        t.add("PORT_ISDN           => NA\n");
        t.add("CHANNEL_ISDN        => NA\n");
        t.add("TARN_PID            => %i\n", co->pid);
        t.add("ISDN_PID            => NA\n");
    }
    return t.len;
}

static int line_info_to_buffer(call_object *co, char *buffer, int size)
{
    text_buf t(buffer, size);
    line_fields f;
    if (!line_fields_of(co, &f))
        return 0;
    char name[24];
    snprintf(name, sizeof name, "OAD_%s", f.word);
    t.add("%-20s=> %s\n", name, text(f.oad));
    snprintf(name, sizeof name, "DAD_%s", f.word);
    t.add("%-20s=> %s\n", name, text(f.dad));
    snprintf(name, sizeof name, "PORT_%s", f.word);
    t.add("%-20s=> %i\n", name, f.port);
    t.add("TARN_PID            => %i\n", co->pid);
    return t.len;
}

int analog_info_to_buffer(call_object *co, char *buffer, int size)
{
    return line_info_to_buffer(co, buffer, size);
}

int gsm_info_to_buffer(call_object *co, char *buffer, int size)
{
    return line_info_to_buffer(co, buffer, size);
}

int cas_info_to_buffer(call_object *co, char *buffer, int size)
{
    return line_info_to_buffer(co, buffer, size);
}

int sip_info_to_buffer(call_object *co, char *buffer, int size)
{
    text_buf t(buffer, size);
    const call_leg_sip *leg = co->cl_sip;
    if (!leg)
        return 0;
    const sip_address_info_object *a = leg->address_info;
    if (a) {
        t.add("FROM_SIP            => %s <%s@%s>\n", text(a->from_display), text(a->from_url_user), text(a->from_url));
        t.add("TO_SIP              => %s <%s@%s>\n", text(a->to_display), text(a->to_url_user), text(a->to_url));
    } else if (towards_sip(co->callinfo)) {
        t.add("FROM_SIP            => %s\n", leg->sip_origin_address);
        t.add("TO_SIP              => %s\n", leg->sip_outbound_address);
    } else {
        t.add("FROM_SIP            => NA\n");
        t.add("TO_SIP              => NA\n");
    }
    if (leg->rtp_remote_ip[0])
        t.add("REMOTE_RTP          => %s:%i\n", leg->rtp_remote_ip, leg->rtp_remote_port);
    else
        t.add("REMOTE_RTP          => NA\n");
    t.add("LOCAL_RTP           => %s:%i\n", lan_ip(), leg->rtp_local_port);
    return t.len;
}

int sip_call_leg_info_to_buffer(const call_leg_sip *leg, int n, char *buffer, int size)
{
    text_buf t(buffer, size);
    if (!leg) {
        t.add("FROM_SIP_%i         => NA\n", n);
        t.add("TO_SIP_%i           => NA\n", n);
    } else if (leg->address_info) {
        const sip_address_info_object *a = leg->address_info;
        t.add("FROM_SIP_%i          => %s <%s@%s>\n", n, text(a->from_display), text(a->from_url_user),
              text(a->from_url));
        t.add("TO_SIP_%i            => %s <%s@%s>\n", n, text(a->to_display), text(a->to_url_user), text(a->to_url));
    } else {
        t.add("FROM_SIP_%i          => %s\n", n, leg->sip_origin_address);
        t.add("TO_SIP_%i            => %s\n", n, leg->sip_outbound_address);
    }
    if (leg && leg->rtp_remote_ip[0])
        t.add("REMOTE_RTP_%i        => %s:%i\n", n, leg->rtp_remote_ip, leg->rtp_remote_port);
    else
        t.add("REMOTE_RTP_%i          => NA\n", n);
    t.add("LOCAL_RTP_%i         => %s:%i\n", n, lan_ip(), leg ? leg->rtp_local_port : 0);
    return t.len;
}

int sip_to_sip_info_to_buffer(call_object *co, char *buffer, int size)
{
    int n = sip_call_leg_info_to_buffer(co->cl_sip_in, 1, buffer, size);
    return n + sip_call_leg_info_to_buffer(co->cl_sip_out, 2, buffer + n, size - n);
}

int operation_info_to_buffer(int index, char *buffer, int size, int show_internal)
{
    if (size > 0)
        buffer[0] = '\0';
    call_object *co = gp && index >= 0 && index < OPERATIONARRAYSIZE ? gp->operations[index] : nullptr;
    if (!listed(co, show_internal, false) || size <= 0)
        return 0;
    text_buf t(buffer, size);
    t.add("CALL_INDEX          => %i\n", index);
    t.add("CALL_STATE          => %s\n", state_text(co));
    t.add("CALL_DIRECTION      => %s\n", direction_text(co->callinfo));
    auto part = [&](int (*f)(call_object *, char *, int)) { t.len += f(co, t.buf + t.len, t.size - t.len); };
    switch (co->callinfo) {
    case CI_SIP_TO_SIP: t.len += sip_to_sip_info_to_buffer(co, t.buf + t.len, t.size - t.len); break;
    case CI_ISDN_TO_SIP:
        part(isdn_info_to_buffer);
        part(sip_info_to_buffer);
        break;
    case CI_ANALOG_TO_SIP:
    case CI_GSM_TO_SIP:
    case CI_CAS_TO_SIP:
        part(line_info_to_buffer);
        part(sip_info_to_buffer);
        break;
    case CI_SIP_TO_ISDN:
        part(sip_info_to_buffer);
        part(isdn_info_to_buffer);
        break;
    case CI_SIP_TO_ANALOG:
    case CI_SIP_TO_GSM:
    case CI_SIP_TO_CAS:
        part(sip_info_to_buffer);
        part(line_info_to_buffer);
        break;
    case CI_TELNET_TO_ISDN:
    case CI_SIP_TO_ITAPI:
        part(sip_info_to_buffer);
        t.add("TELNET FD           => %i\n", co->telnet_fd);
        part(isdn_info_to_buffer);
        break;
    default: part(sip_info_to_buffer); break;
    }
    char ct[32];
    connect_time(co, ct, sizeof ct);
    t.add("CONNECT_TIME        => %s\n", ct);
    if (co->msp_bridged_to)
        t.add("BRIDGED             => YES (to call at index %i)\n", co->msp_bridged_to->index);
    else
        t.add("BRIDGED             => NO\n");
    msp_lines(t, co, "");
    if (co->transcoding_buddy)
        msp_lines(t, co->transcoding_buddy, "2");
    t.add("---------------------------------------------\n");
    return t.len;
}

// ---------------------------------------------------------------------------
// Compact form

int isdn_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep)
{
    text_buf t(buffer, size);
    if (co->bc)
        t.add("OAD=%s%cDAD=%s%cP/C=%i:%i%c", co->bc->oad, sep, co->bc->dad, sep, co->bc->port, co->bc->channel, sep);
    else
        t.add("OAD=NA%cDAD=NA%cP/C=NA%c", sep, sep, sep);
    return t.len;
}

static int line_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep)
{
    text_buf t(buffer, size);
    line_fields f;
    if (line_fields_of(co, &f) && f.port > 0)
        t.add("OAD=%s%cDAD=%s%cP=%i%c", text(f.oad), sep, text(f.dad), sep, f.port, sep);
    else
        t.add("OAD=NA%cDAD=NA%cP/C=NA%c", sep, sep, sep);
    return t.len;
}

int analog_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep)
{
    return line_info_to_buffer_compact(co, buffer, size, sep);
}

int gsm_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep)
{
    return line_info_to_buffer_compact(co, buffer, size, sep);
}

int cas_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep)
{
    return line_info_to_buffer_compact(co, buffer, size, sep);
}

int itapi_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep)
{
    text_buf t(buffer, size);
    if (co->telnet_fd > 0)
        t.add("OAD=%s%cDAD=%s%cP=%s:%i%c", text(co->new_source), sep, text(co->new_destination), sep,
              co->telnet_remote_address, co->telnet_remote_telnet_port, sep);
    else
        t.add("OAD=NA%cDAD=NA%cP/C=NA%c", sep, sep, sep);
    return t.len;
}

int sip_call_leg_info_to_buffer_compact(call_object *co, const call_leg_sip *leg, char *buffer, int size, char sep,
                                        const char *marker)
{
    text_buf t(buffer, size);
    if (!leg)
        return 0;
    const sip_address_info_object *a = leg->address_info;
    if (a) {
        t.add("%sSIPF=%s@%s%c", marker, text(a->from_url_user), text(a->from_url), sep);
        t.add("%sSIPT=%s@%s%c", marker, text(a->to_url_user), text(a->to_url), sep);
    } else if (towards_sip(co->callinfo)) {
        t.add("%sSIPF=%s%c%sSIPT=%s%c", marker, leg->sip_origin_address, sep, marker, leg->sip_outbound_address, sep);
    } else {
        t.add("%sSIPF=NA%c%sSIPT=NA%c", marker, sep, marker, sep);
    }
    t.add("%sRTP=%i:", marker, leg->rtp_local_port);
    if (leg->rtp_remote_ip[0])
        t.add("%s:%i%c", leg->rtp_remote_ip, leg->rtp_remote_port, sep);
    else
        t.add("NA%c", sep);
    return t.len;
}

int sip_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep)
{
    return sip_call_leg_info_to_buffer_compact(co, co->cl_sip, buffer, size, sep, "");
}

int operation_info_to_buffer_compact(int index, char *buffer, int size, char sep)
{
    if (size > 0)
        buffer[0] = '\0';
    call_object *co = gp && index >= 0 && index < OPERATIONARRAYSIZE ? gp->operations[index] : nullptr;
    if (!listed(co, false, true) || size <= 0)
        return 0;
    text_buf t(buffer, size);
    t.add("%02i%cCS=%s%c%s%c", index, sep, state_text(co), sep, compact_token(co->callinfo), sep);
    auto part = [&](int (*f)(call_object *, char *, int, char)) { t.len += f(co, t.buf + t.len, t.size - t.len, sep); };
    switch (co->callinfo) {
    case CI_SIP_TO_SIP:
        t.len += sip_call_leg_info_to_buffer_compact(co, co->cl_sip_in, t.buf + t.len, t.size - t.len, sep, "O");
        t.len += sip_call_leg_info_to_buffer_compact(co, co->cl_sip_out, t.buf + t.len, t.size - t.len, sep, "D");
        break;
    case CI_ISDN_TO_SIP:
    case CI_SIP_TO_ISDN:
    case CI_TELNET_TO_ISDN:
        part(isdn_info_to_buffer_compact);
        part(sip_info_to_buffer_compact);
        break;
    case CI_SIP_TO_ITAPI:
        part(itapi_info_to_buffer_compact);
        part(sip_info_to_buffer_compact);
        break;
    default:
        part(line_info_to_buffer_compact);
        part(sip_info_to_buffer_compact);
        break;
    }
    char ct[32];
    connect_time(co, ct, sizeof ct);
    t.add("CT=%s%c", ct, sep);
    if (co->msp_bridged_to)
        t.add("BRDG=%i%c", co->msp_bridged_to->index, sep);
    else
        t.add("BRDG=NO%c", sep);
    char act[256] = "", res[256] = "", flags[256] = "";
    msp_active_resource_to_buffer(co->msp_resources_active, act, sizeof act);
    msp_reserved_resource_to_buffer(co->msp_resources_reserved, res, sizeof res);
    if (msp_print_flags_to_buffer(flags, sizeof flags, co->msp_state) < 0)
        flags[0] = '\0';
    int total = msp_get_total_channels();
    t.add("MCA=%i/%i(%s)%c", msp_get_resource_usage(co->msp_resources_active), total, act, sep);
    t.add("MCR=%i/%i(%s)%c", msp_get_resource_usage(co->msp_resources_reserved), total, res, sep);
    t.add("MFL=%s%c", flags, sep);
    t.add("TS=%i\n", co->tdm_logical_timeslot);
    return t.len;
}

// ---------------------------------------------------------------------------
// The commands

namespace {

// One formatter run under global_lock; prints and counts what it gave.
template <typename F> int print_locked(FILE *out, F format)
{
    std::string text;
    pthread_mutex_t *m = g_lock_manager ? g_lock_manager->global_lock : nullptr;
    if (m)
        pthread_mutex_lock(m);
    text = format();
    if (m)
        pthread_mutex_unlock(m);
    if (text.empty())
        return 0;
    fputs(text.c_str(), out);
    return 1;
}

std::string full_block(int index, bool internal)
{
    std::vector<char> b(FULL_BLOCK);
    int n = operation_info_to_buffer(index, b.data(), FULL_BLOCK, internal);
    return std::string(b.data(), (size_t)n);
}

std::string compact_line(int index, char sep, int size)
{
    std::vector<char> b((size_t)size);
    int n = operation_info_to_buffer_compact(index, b.data(), size, sep);
    return std::string(b.data(), (size_t)n);
}

int all_calls()
{
    return gp ? OPERATIONARRAYSIZE : 0;
}

// The indices of a comma-separated list (an item that is not a number is
// 0); by pid the calls' indices, unknown pids skipped.
std::vector<int> selection(const char *arg, bool by_pid)
{
    std::vector<int> out;
    std::string s = arg ? arg : "";
    size_t at = 0;
    while (true) {
        size_t c = s.find(',', at);
        int n = atoi(s.substr(at, c == std::string::npos ? std::string::npos : c - at).c_str());
        if (by_pid) {
            pthread_mutex_t *m = g_lock_manager ? g_lock_manager->global_lock : nullptr;
            if (m)
                pthread_mutex_lock(m);
            call_object *co = gp ? get_operation_by_pid(n) : nullptr;
            int idx = co ? co->index : -1;
            if (m)
                pthread_mutex_unlock(m);
            if (idx >= 0)
                out.push_back(idx);
        } else if (n >= 0 && n < all_calls()) {
            out.push_back(n);
        }
        if (c == std::string::npos)
            break;
        at = c + 1;
    }
    return out;
}

int list_full(FILE *out, bool internal)
{
    fputs("LISTING CALL OPERATIONS\n", out);
    for (int i = 0; i < all_calls(); i++)
        print_locked(out, [&] { return full_block(i, internal); });
    return 0;
}

int list_full_selected(const char *arg, FILE *out, bool by_pid)
{
    fputs("LISTING CALL OPERATIONS SELECTED\n", out);
    for (int i : selection(arg, by_pid))
        print_locked(out, [&] { return full_block(i, false); });
    return 0;
}

int list_compact(FILE *out, char sep, bool total)
{
    fputs("LISTING CALL OPERATIONS COMPACT\n", out);
    int n = 0;
    for (int i = 0; i < all_calls(); i++)
        n += print_locked(out, [&] { return compact_line(i, sep, COMPACT_LINE); });
    if (total)
        fprintf(out, "TOTAL CALLS:%i\n", n);
    return 0;
}

int list_compact_selected(const char *arg, FILE *out, char sep, bool by_pid)
{
    fputs("LISTING CALL OPERATIONS COMPACT SELECTED\n", out);
    for (int i : selection(arg, by_pid))
        print_locked(out, [&] { return compact_line(i, sep, SELECTED_COMPACT_LINE); });
    return 0;
}

} // namespace

int mc_tarn_list_operations(const char *, FILE *out, int *)
{
    return list_full(out, false);
}

int mc_tarn_list_operations_hidden(const char *, FILE *out, int *)
{
    return list_full(out, true);
}

int mc_tarn_list_operations_selected(const char *arg, FILE *out, int *)
{
    return list_full_selected(arg, out, false);
}

int mc_tarn_list_operations_selected_by_pid(const char *arg, FILE *out, int *)
{
    return list_full_selected(arg, out, true);
}

int mc_tarn_list_operations_compact(const char *, FILE *out, int *)
{
    return list_compact(out, ' ', false);
}

int mc_tarn_list_operations_compact_selected(const char *arg, FILE *out, int *)
{
    return list_compact_selected(arg, out, ' ', false);
}

int mc_tarn_list_operations_compact_selected_by_pid(const char *arg, FILE *out, int *)
{
    return list_compact_selected(arg, out, ' ', true);
}

int mc_tarn_list_operations_compact_tabbed(const char *, FILE *out, int *)
{
    return list_compact(out, '\t', true);
}

int mc_tarn_list_operations_compact_selected_tabbed(const char *arg, FILE *out, int *)
{
    return list_compact_selected(arg, out, '\t', false);
}

int mc_tarn_list_operations_compact_selected_tabbed_by_pid(const char *arg, FILE *out, int *)
{
    return list_compact_selected(arg, out, '\t', true);
}
