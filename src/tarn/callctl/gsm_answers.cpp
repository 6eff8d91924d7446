// The answers of sent modem commands by their type: call state reports in
// the answers of ATA and ATD, the caller of a call listing, registration,
// provider, signal, identity and profile texts of the port, the digital
// voice interface, the cell-broadcast set-up and the network's release
// reason. The SMS answers are in gsm_sms_answers.cpp.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "application.h"
#include "experimental_options.h"
#include "gsm_events.h"
#include "gsm_events_intern.h"
#include "gsm_lib.h"
#include "gsm_log.h"
#include "global_lock.h"
#include "gsm_status.h"
#include "log.h"
#include "log_backend.h"

namespace {

const char *skip_blanks(const char *s)
{
    while (*s == ' ')
        s++;
    return s;
}

// The text after prefix in the first line that starts with it, or null.
const char *after(const gsm_answer_lines &a, const char *prefix)
{
    for (int i = 0; i < a.count; i++)
        if (gsm_starts(a.line[i], prefix))
            return skip_blanks(a.line[i] + strlen(prefix));
    return nullptr;
}

// Two lines, the second "OK".
bool two_line_ok(const gsm_answer_lines &a) { return a.count == 2 && a.ok(); }

void answer_ata(gsm_event &ev, const gsm_answer_lines &a)
{
    for (int i = 0; i < a.count; i++) {
        if (!gsm_starts(a.line[i], "#ECAM:"))
            continue;
        int value = libgsm_event_ecam(ev.port, 0, a.line[i] + 6, &ev.call_id);
        GLOG(5, ev.port, "GOT ATA ECAM INFO %s => VALUE %i", a.line[i], value);
        if (value == 0)
            ev.type = GSM_EVENT_TYPE_RELEASED;
    }
}

} // namespace

int gsm_atd_result_event(const char *last)
{
    // The dial stands: the modem took it (voice calls report their progress
    // in #ECAM lines later), a data call connected, or a ring cut in.
    static const char *const dial_stands[] = {"OK", "CONNECT", "RING"};
    for (const char *r : dial_stands)
        if (gsm_starts(last, r))
            return 0;
    if (gsm_starts(last, "BUSY"))
        return GSM_EVENT_TYPE_BUSY;
    // ERROR, NO CARRIER, NO ANSWER, NO DIALTONE, +CME ERROR: <err>, or no
    // final result at all (an exchange that broke off): no call was made.
    return GSM_EVENT_TYPE_RELEASED;
}

namespace {

// The call state reports in the answer decide; a dial that none of them
// moved on (no report, or only "calling") is decided by its final result.
void answer_atd(gsm_event &ev, const gsm_answer_lines &a)
{
    for (int i = 0; i < a.count; i++) {
        if (!gsm_starts(a.line[i], "#ECAM:"))
            continue;
        int value = libgsm_event_ecam(ev.port, 0, a.line[i] + 6, &ev.call_id);
        GLOG(5, ev.port, "GOT ATD ECAM INFO %s => VALUE %i", a.line[i], value);
        if (int t = gsm_ecam_event(value))
            ev.type = t;
    }
    if (ev.type == GSM_EVENT_TYPE_ATD)
        if (int t = gsm_atd_result_event(a.last()))
            ev.type = t;
}

// The caller of an incoming call waiting or ringing (direction 1, state 4
// or 5): the field after the fifth value, quoted or up to the next comma.
void answer_clcc(gsm_event &ev, const gsm_answer_lines &a)
{
    for (int i = 0; i < a.count; i++) {
        int id, dir, state, mode, mpty, n = -1;
        if (sscanf(a.line[i], "+CLCC: %d,%d,%d,%d,%d,%n", &id, &dir, &state, &mode, &mpty, &n) != 5 || n < 0)
            continue;
        if (dir != 1 || (state != 4 && state != 5))
            continue;
        const char *p = a.line[i] + n;
        const char *end;
        if (*p == '"') {
            p++;
            end = strchr(p, '"');
        } else {
            end = strchr(p, ',');
        }
        size_t len = end ? (size_t)(end - p) : strlen(p);
        if (len > GSM_CALLER_NUMBER_MAX)
            len = GSM_CALLER_NUMBER_MAX;
        snprintf(ev.number, sizeof ev.number, "%.*s", (int)len, p);
        ev.clcc = true;
        return;
    }
}

void answer_creg(gsm_event &ev, gsm_port_info *pi, const gsm_answer_lines &a)
{
    if (!two_line_ok(a) || !gsm_starts(a.line[0], "+CREG:"))
        return;
    const char *text = skip_blanks(a.line[0] + 6);
    gsm_set_info_text(pi->creg, text);
    pi->reg_mode = atoi(text);
    const char *c1 = strchr(text, ',');
    pi->reg_status = c1 ? atoi(c1 + 1) : 0;
    const char *c = text;
    for (int i = 0; i < 4 && c; i++) {
        c = strchr(c, ',');
        if (c)
            c++;
    }
    pi->access_tech = c ? atoi(c) : -1;
    gsm_update_led_regstatus(ev.port, pi->reg_status);
    int limit = gp->experimental_options ? gp->experimental_options->eo_gsm_restart_on_fail_count : 0;
    if (limit <= 0)
        return;
    if (pi->reg_status != GSM_REG_STATUS_NOT) {
        pi->reg_status_failed_counter = 0;
        return;
    }
    if (++pi->reg_status_failed_counter > limit) {
        pi->reg_status_failed_counter = 0;
        set_gsm_port_restart_necessary(ev.port);
    }
}

void answer_servinfo(gsm_port_info *pi, int port, const gsm_answer_lines &a)
{
    const char *text = after(a, "#SERVINFO:");
    gsm_set_info_text(pi->servinfo, text ? text : "ErrorServinfo");
    std::string field[4];
    const char *p = text ? text : "";
    for (int f = 0; f < 4 && *p; f++) {
        const char *comma = strchr(p, ',');
        size_t n = comma ? (size_t)(comma - p) : strlen(p);
        for (size_t i = 0; i < n; i++)
            if (p[i] != '"')
                field[f] += p[i];
        if (!comma)
            break;
        p = comma + 1;
    }
    gsm_set_info_text(pi->provider, field[2].empty() ? "ErrorProvider" : field[2].c_str());
    pi->provider_numeric = atoi(field[3].c_str());
    if (gp->gsm_port_info.last_port == port)
        gp->gsm_port_info.aquire_stop = (int)time(nullptr);
}

void answer_cnmi(int port, const gsm_answer_lines &a, const char *answer)
{
    const char *text = after(a, "+CNMI:");
    if (!text)
        return;
    int bm = gsm_cbm_cnmi_bm(answer);
    if (bm == 2) {
        GLOG(5, port, "cell broadcast routing intact: %s", text);
        return;
    }
    LOGM(GSM, LOG_MSG_NOTICE | 1, "GSM port %i: cell broadcast routing is %s, <bm> is %i not 2 - repairing", port,
         text, bm);
    gsm_cbm_mark_for_rearm(port);
    gsm_cbm_rearm_if_needed(port, 0);
}

void answer_cscb(int port, const gsm_answer_lines &a, const char *answer)
{
    const char *text = after(a, "+CSCB:");
    if (!text)
        return;
    if (gsm_cbm_subscription_is_current(answer)) {
        GLOG(5, port, "cell broadcast subscription intact: %s", text);
        return;
    }
    LOGM(GSM, LOG_MSG_NOTICE | 1, "GSM port %i: cell broadcast subscription is %s, not the configured list - repairing",
         port, text);
    gsm_cbm_mark_for_rearm(port);
    gsm_cbm_rearm_if_needed(port, 0);
}

void answer_ceer(int port, const gsm_answer_lines &a)
{
    std::string joined;
    for (int i = 0; i < a.count; i++) {
        if (!gsm_starts(a.line[i], "+CEER: "))
            continue;
        if (!joined.empty())
            joined += "|";
        joined += a.line[i] + 7;
    }
    if (joined.empty())
        return;
    GLOG(0, port, "GSM CEER INFO port %i: %s", port, joined.c_str());
    _verbose_msg(__FILE__, __LINE__, __func__, "G CEER|RESULT gsm port %i: %s\n", port, joined.c_str());
}

void answer_dvi(int port, const gsm_answer_lines &a)
{
    for (int i = 0; i < a.count; i++) {
        if (strcmp(a.line[i], "#DVI: 0") != 0)
            continue;
        libgsm_end_gsm_event_thread(port);
        set_gsm_port_restart_necessary(port);
        GLOG(0, port, "CRITICAL: DVI SETTINGS BROKEN");
        return;
    }
}

void answer_swpkgv(gsm_port_info *pi, const gsm_answer_lines &a)
{
    if (pi->sw_pkgversion || a.count < 1)
        return;
    std::string joined;
    for (int i = 0; i + 1 < a.count; i++) {
        if (i)
            joined += ":";
        joined += a.line[i];
    }
    gsm_set_info_text(pi->sw_pkgversion, joined.c_str(), 2048);
}

// Answers that change the port's status fields.
bool writes_port_status(int type)
{
    switch (type) {
    case GSM_EVENT_TYPE_CREG:
    case GSM_EVENT_TYPE_SPN:
    case GSM_EVENT_TYPE_PCT:
    case GSM_EVENT_TYPE_CSQ:
    case GSM_EVENT_TYPE_SERVINFO:
    case GSM_EVENT_TYPE_CIMI:
    case GSM_EVENT_TYPE_GSN:
    case GSM_EVENT_TYPE_CGSN:
    case GSM_EVENT_TYPE_CGMR:
    case GSM_EVENT_TYPE_ATV:
    case GSM_EVENT_TYPE_SWPKGV: return true;
    default: return false;
    }
}

} // namespace

bool gsm_answer_lines::ok() const { return count > 0 && strcmp(line[count - 1], "OK") == 0; }

void gsm_split_answer(const char *response, gsm_answer_lines &out)
{
    snprintf(out.buf, sizeof out.buf, "%s", response ? response : "");
    out.count = 0;
    char *save = nullptr;
    for (char *t = strtok_r(out.buf, "\r\n", &save); t && out.count < GSM_ANSWER_MAX_LINES;
         t = strtok_r(nullptr, "\r\n", &save))
        out.line[out.count++] = t;
}

void gsm_handle_answer(gsm_event &ev)
{
    gsm_port_info *pi = gsm_info_of_port(ev.port);
    if (!pi)
        return;
    gsm_answer_lines *a = new gsm_answer_lines; // 8 KiB: not on a reader thread's stack
    gsm_split_answer(ev.response, *a);
    // The console reads and resets the port's status under global_lock.
    std::optional<lock_hold> hold;
    if (writes_port_status(ev.cmd->event_type))
        hold.emplace(&lock_manager::global_lock);
    switch (ev.cmd->event_type) {
    case GSM_EVENT_TYPE_ATA: answer_ata(ev, *a); break;
    case GSM_EVENT_TYPE_ATD: answer_atd(ev, *a); break;
    case GSM_EVENT_TYPE_CLCC: answer_clcc(ev, *a); break;
    case GSM_EVENT_TYPE_CMGR: gsm_handle_cmgr(ev); break;
    case GSM_EVENT_TYPE_CMGS: gsm_handle_cmgs(ev, *a); break;
    case GSM_EVENT_TYPE_CREG: answer_creg(ev, pi, *a); break;
    case GSM_EVENT_TYPE_SPN: {
        const char *t = two_line_ok(*a) ? after(*a, "#SPN:") : nullptr;
        gsm_set_info_text(pi->spn, t ? t : "");
        break;
    }
    case GSM_EVENT_TYPE_PCT:
        if (const char *t = a->ok() ? after(*a, "#PCT:") : nullptr)
            pi->pin_counter = atoi(t);
        break;
    case GSM_EVENT_TYPE_CSQ:
        if (const char *t = after(*a, "+CSQ:")) {
            pi->sq_rssi = atoi(t);
            const char *c = strchr(t, ',');
            pi->sq_ber = c ? atoi(c + 1) : 0;
        }
        break;
    case GSM_EVENT_TYPE_DVI: answer_dvi(ev.port, *a); break;
    case GSM_EVENT_TYPE_CNMI: answer_cnmi(ev.port, *a, ev.response); break;
    case GSM_EVENT_TYPE_CSCB: answer_cscb(ev.port, *a, ev.response); break;
    case GSM_EVENT_TYPE_SERVINFO: answer_servinfo(pi, ev.port, *a); break;
    case GSM_EVENT_TYPE_CIMI:
    case GSM_EVENT_TYPE_GSN:
    case GSM_EVENT_TYPE_CGSN:
    case GSM_EVENT_TYPE_CGMR: {
        if (!two_line_ok(*a))
            break;
        int t = ev.cmd->event_type;
        char *&field = t == GSM_EVENT_TYPE_CIMI ? pi->imsi
                       : t == GSM_EVENT_TYPE_GSN ? pi->serial
                       : t == GSM_EVENT_TYPE_CGSN ? pi->imei
                                                  : pi->firmware;
        gsm_set_info_text(field, a->line[0]);
        break;
    }
    case GSM_EVENT_TYPE_ATV: gsm_parse_atv(pi, a->line, a->count); break;
    case GSM_EVENT_TYPE_SWPKGV: answer_swpkgv(pi, *a); break;
    case GSM_EVENT_TYPE_CEER: answer_ceer(ev.port, *a); break;
    default: break;
    }
    delete a;
}

// ---- modem profile -----------------------------------------------------------------------

namespace {
struct atv_label {
    const char *label;
    char *gsm_port_info::*field;
};
const atv_label atv_labels[] = {
    /*  1 */ {"DTE SPEED", &gsm_port_info::dte_speed},
    /*  2 */ {"DTE FORMAT", &gsm_port_info::dte_format},
    /*  3 */ {"GSM DATA MODE", &gsm_port_info::gsm_data_mode},
    /*  4 */ {"AUTOBAUD", &gsm_port_info::autobaud},
    /*  5 */ {"COMMAND ECHO", &gsm_port_info::command_echo},
    /*  6 */ {"RESULT MESSAGES", &gsm_port_info::result_messages},
    /*  7 */ {"VERBOSE MESSAGES", &gsm_port_info::verbose_messages},
    /*  8 */ {"EXTENDED MESSAGES", &gsm_port_info::extended_messages},
    /*  9 */ {"LINE SPEED", &gsm_port_info::line_speed},
    /* 10 */ {"CONSTANT DTE SPEED", &gsm_port_info::constant_dte_speed},
    /* 11 */ {"FLOW CONTROL OPTIONS", &gsm_port_info::flow_control_options},
    /* 12 */ {"ERROR CORRECTION MODE", &gsm_port_info::error_correction_mode},
    /* 13 */ {"CTS (C106) OPTIONS", &gsm_port_info::cts_c106_options},
    /* 14 */ {"DSR (C107) OPTIONS", &gsm_port_info::dsr_c107_options},
    /* 15 */ {"DTR (C108) OPTIONS", &gsm_port_info::dtr_c108_options},
    /* 16 */ {"DCD (C109) OPTIONS", &gsm_port_info::dcd_c109_options},
    /* 17 */ {"RI (C125) OPTIONS", &gsm_port_info::ri_c125_options},
    /* 18 */ {"C108/1 OPERATION", &gsm_port_info::c1081_options},
    /* 19 */ {"POWER SAVING ON DTR", &gsm_port_info::power_saving_on_dtr},
    /* 20 */ {"DEFAULT PROFILE", &gsm_port_info::default_profile},
};
static_assert(sizeof atv_labels / sizeof atv_labels[0] == 20, "twenty profile labels");
} // namespace

void gsm_parse_atv(gsm_port_info *info, char **lines, int count)
{
    if (!info || !lines)
        return;
    for (int i = 0; i < count; i++) {
        const char *l = lines[i];
        if (!l)
            continue;
        const char *sep = strstr(l, ": ");
        if (!sep)
            continue;
        for (const atv_label &lb : atv_labels) {
            char *&field = info->*lb.field;
            if (field && field[0])
                continue;
            if (strncasecmp(l, lb.label, strlen(lb.label)) != 0)
                continue;
            gsm_set_info_text(field, sep + 2);
            break;
        }
    }
}
