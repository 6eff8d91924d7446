#include "mc_gsm.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "application.h"
#include "call_lookups.h"
#include "call_object.h"
#include "global_lock.h"
#include "gsm_bringup.h"
#include "gsm_events_intern.h"
#include "gsm_lib.h"
#include "gsm_status.h"
#include "hardware_conf.h"
#include "line_bringup.h"
#include "log.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "sm_run.h"
#include "state_names.h"

gsm_operator_scan_list *gsm_operator_scan_lists[GSM_PORT_TABLE];

namespace {

gsm_port_info *info_of(int port)
{
    return gp && port >= 1 && port <= GSM_MAX_PORTS ? &gp->gsm_port_info.port_infos[port] : nullptr;
}

bool port_configured(int port)
{
    if (!gp)
        return false;
    std::vector<int> ports = configured_port_numbers(gp->config_gsm);
    return std::find(ports.begin(), ports.end(), port) != ports.end();
}

// No call on the port in one of the two first GSM call states.
bool port_idle(int port)
{
    lock_hold hold(&lock_manager::global_lock);
    return gsm_port_is_idle(port);
}

const char *text_or_empty(const char *s) { return s ? s : ""; }

// The text without trailing blanks and without the characters of `drop`
// (and blanks too when drop_blanks).
std::string cleaned(const char *s, bool drop_blanks)
{
    std::string r;
    for (const char *p = s ? s : ""; *p; p++)
        if (!strchr(":|,()", *p) && !(drop_blanks && *p == ' '))
            r += *p;
    while (!r.empty() && r.back() == ' ')
        r.pop_back();
    return r;
}

// A waiting command through the port's queue; the answer ("" for none).
std::string queue_and_wait(int port, int type, const char *command)
{
    char *answer = nullptr;
    gsm_queue_command(port, type, command, nullptr, &answer, 1, 0);
    std::string r = text_or_empty(answer);
    free(answer);
    return r;
}

void record_poll_start(int port)
{
    gp->gsm_port_info.last_port = port;
    gp->gsm_port_info.aquire_start = (int)time(nullptr);
}

// ---- status lines ----------------------------------------------------------------------

void print_status(FILE *out, int port)
{
    const gsm_port_info &pi = gp->gsm_port_info.port_infos[port];
    const char *fmt_waiting = "* Port %i\tProvider: %s\tPin Counter: %s\tReg Status: %s\tRSSI: %s\tBER: %s\n";
    if (pi.active && pi.ready && gp->gsm_port_info.aquire_stop) {
        std::string provider = cleaned(pi.provider, false);
        if (provider.empty())
            provider = get_provider_name(pi.provider_numeric);
        char rssi[32], ber[32];
        fprintf(out, "* Port %i\tProvider: %s\tPin Counter: %i\tReg Status: %i\tRSSI: %s\tBER: %s\tTech: %s\n", port,
                provider.c_str(), pi.pin_counter, pi.reg_status, gsm_rssi_to_string(pi.sq_rssi, rssi, sizeof rssi),
                gsm_ber_to_string(pi.sq_ber, ber, sizeof ber), get_gsm_access_tech_string(pi.access_tech));
        fprintf(out, "* port %i\tSERVINFO: %s\n", port, text_or_empty(pi.servinfo));
        fprintf(out, "* port %i\tSPN: %s\n", port, text_or_empty(pi.spn));
        fprintf(out, "* port %i\tCREG: %s\n", port, text_or_empty(pi.creg));
    } else if (pi.active && pi.ready) {
        fprintf(out, fmt_waiting, port, "None", "-1", "ACQUIRING", "-1", "-1");
    } else if (pi.active || pg_get_port_group_gsm_by_port(port)) {
        fprintf(out, fmt_waiting, port, "None", "-1", "NOT READY", "-1", "-1");
    }
}

struct extended_label {
    const char *label;
    char *gsm_port_info::*field;
};

const extended_label extended_labels[] = {
    {"SERIAL                : %s\n", &gsm_port_info::serial},
    {"FIRMWARE              : %s\n", &gsm_port_info::firmware},
    {"DTE_SPEED             : %s\n", &gsm_port_info::dte_speed},
    {"DTE_FORMAT            : %s\n", &gsm_port_info::dte_format},
    {"GSM_DATA_MODE         : %s\n", &gsm_port_info::gsm_data_mode},
    {"AUTOBAUD              : %s\n", &gsm_port_info::autobaud},
    {"COMMAND_ECHO          : %s\n", &gsm_port_info::command_echo},
    {"RESULT_MESSAGES       : %s\n", &gsm_port_info::result_messages},
    {"VERBOSE_MESSAGES      : %s\n", &gsm_port_info::verbose_messages},
    {"EXTENDED_MESSAGES     : %s\n", &gsm_port_info::extended_messages},
    {"LINE_SPEED            : %s\n", &gsm_port_info::line_speed},
    {"CONSTANT_DTE_SPEED    : %s\n", &gsm_port_info::constant_dte_speed},
    {"FLOW_CONTROL_OPTIONS  : %s\n", &gsm_port_info::flow_control_options},
    {"ERROR_CORRECTION_MODE : %s\n", &gsm_port_info::error_correction_mode},
    {"CTS_C106_OPTIONS      : %s\n", &gsm_port_info::cts_c106_options},
    {"DSR_C107_OPTIONS      : %s\n", &gsm_port_info::dsr_c107_options},
    {"DTR_C108_OPTIONS      : %s\n", &gsm_port_info::dtr_c108_options},
    {"DCD_C109_OPTIONS      : %s\n", &gsm_port_info::dcd_c109_options},
    {"RI_C125_OPTIONS       : %s\n", &gsm_port_info::ri_c125_options},
    {"C108/1_OPTIONS        : %s\n", &gsm_port_info::c1081_options},
    {"POWER_SAVING_ON_DTR   : %s\n", &gsm_port_info::power_saving_on_dtr},
    {"DEFAULT_PROFILE       : %s\n", &gsm_port_info::default_profile},
};

// The reported texts before the modem's profile texts.
char *gsm_port_info::*const network_texts[] = {
    &gsm_port_info::provider,
    &gsm_port_info::servinfo,
    &gsm_port_info::spn,
    &gsm_port_info::creg,
};

bool extended_data_missing(const gsm_port_info &pi)
{
    for (char *gsm_port_info::*f : {&gsm_port_info::imei, &gsm_port_info::imsi, &gsm_port_info::sw_pkgversion,
                                    &gsm_port_info::serial, &gsm_port_info::dte_speed})
        if (!(pi.*f))
            return true;
    return false;
}

void print_extended(FILE *out, int port)
{
    const gsm_port_info &pi = gp->gsm_port_info.port_infos[port];
    fprintf(out, "GSM PORT %i:\n", port);
    fprintf(out, "MODEM                 : %s\n", libsm_get_modem_name(port));
    fprintf(out, "IMSI                  : %s\n", text_or_empty(pi.imsi));
    fprintf(out, "IMEI                  : %s\n", text_or_empty(pi.imei));
    for (const extended_label &l : extended_labels)
        fprintf(out, l.label, text_or_empty(pi.*l.field));
    fprintf(out, "SW_PACKAGE            : %s\n", text_or_empty(pi.sw_pkgversion));
    fprintf(out, "\n");
}

// "X:C" with a one-digit port; the port, or 0 after the refusal line.
int at_command_port(const char *arg, FILE *out, char *cmd, size_t size)
{
    if (strlen(arg) < 3 || arg[1] != ':') {
        fprintf(out, "Invalid Command Format %s\n", arg);
        return 0;
    }
    int port = arg[0] - '0';
    if (port < 1 || port > GSM_MAX_PORTS) {
        fprintf(out, "Invalid GSM port %i\n", port);
        return 0;
    }
    if (!gp->gsm_port_info.port_infos[port].active) {
        fprintf(out, "GSM port %i not ready\n", port);
        return 0;
    }
    snprintf(cmd, size, "%.511s\r\n", arg + 2);
    return port;
}

// The port checks of "goret" and "goshow"; the port, or 0 after the line.
int scan_port(const char *arg, FILE *out)
{
    int port = atoi(arg);
    if (port < 1 || port > GSM_MAX_PORTS || !port_configured(port)) {
        fprintf(out, "Invalid Port %i\n", port);
        return 0;
    }
    return port;
}

const char *operator_status_word(int status)
{
    switch (status) {
    case 1:
        return "available";
    case 2:
        return "current";
    case 3:
        return "forbidden";
    default:
        return "unknown";
    }
}

// A one-digit field followed by ':'; the digit, or -1.
int digit_field(const char *&p)
{
    if (!isdigit((unsigned char)p[0]) || p[1] != ':')
        return -1;
    int v = p[0] - '0';
    p += 2;
    return v;
}

void set_operator(const char *arg, FILE *out, bool full)
{
    const char *p = arg;
    int port = digit_field(p);
    int mode = port < 0 ? -1 : digit_field(p);
    int format = 2;
    if (full && mode >= 0)
        format = digit_field(p);
    if (port < 0 || mode < 0 || format < 0) {
        fprintf(out, "Invalid format |%s|\n", arg);
        return;
    }
    if (mode > 4) {
        fprintf(out, "gop_set: invalid mode %i\n", mode);
        return;
    }
    if (format > 2) {
        fprintf(out, "gop_set: invalid format %i\n", format);
        return;
    }
    if (full)
        fprintf(out, "setting provider on port %i: mode %i, format %i, value: %s\n", port, mode, format, p);
    else
        fprintf(out, "setting provider on port %i with mode %i to %s\n", port, mode, p);
    if (!port_configured(port))
        return;
    char cmd[320];
    if (mode == 2)
        snprintf(cmd, sizeof cmd, "AT+COPS=2\r\n");
    else
        snprintf(cmd, sizeof cmd, "AT+COPS=%i,%i,%.255s\r\n", mode, format, p);
    gsm_queue_command(port, GSM_EVENT_TYPE_COPS, cmd, nullptr, nullptr, 0, 0);
}

// A GSM port number of "gsmpins"/"gsmpin": 1..6.
int pin_port(const char *text, FILE *out)
{
    char *end = nullptr;
    long port = strtol(text, &end, 10);
    if (end == text || port < 1 || port > GSM_MAX_PORTS) {
        fprintf(out, "invalid port %s given\n", text);
        return 0;
    }
    return (int)port;
}

// The first line of the answer that starts with one of the prefixes, or "".
std::string first_line_with(const std::string &answer, std::initializer_list<const char *> prefixes)
{
    gsm_answer_lines lines;
    gsm_split_answer(answer.c_str(), lines);
    for (int i = 0; i < lines.count; i++)
        for (const char *p : prefixes)
            if (gsm_starts(lines.line[i], p))
                return lines.line[i];
    return "";
}

} // namespace

// ---- texts ----------------------------------------------------------------------------

const char *get_gsm_access_tech_string(int tech)
{
    static const char *const words[] = {"GSM",
                                        "GSM compact",
                                        "UTRAN/3G",
                                        "GSM w/EGPRS",
                                        "UTRAN/3G w/HSDPA",
                                        "UTRAN/3G w/HSUPA",
                                        "UTRAN/3G w/HSDPA and w/HSUPA",
                                        "E-UTRAN/LTE/4G"};
    return tech >= 0 && tech < (int)(sizeof words / sizeof words[0]) ? words[tech] : "unknown";
}

char *gsm_ber_to_string(int value, char *buf, size_t size)
{
    static const char *const words[] = {"< 0.2%",       "0.2% - 0.4%", "0.4% - 0.8%",  "0.8% - 1.6%",
                                        "1.6% - 3.2%", "3.2% - 6.4%", "6.4% - 12.8%", "> 12.8%"};
    snprintf(buf, size, "%s", value >= 0 && value < 8 ? words[value] : "unknown bit error rate");
    return buf;
}

char *gsm_rssi_to_string(int value, char *buf, size_t size)
{
    if (value == 0)
        snprintf(buf, size, "< -113 dBm");
    else if (value >= 1 && value <= 30)
        snprintf(buf, size, "-%i dBm", 113 - 2 * value);
    else if (value == 31)
        snprintf(buf, size, "> -51 dBm");
    else
        snprintf(buf, size, "%i => UNKNOWN", value);
    return buf;
}

// ---- status ---------------------------------------------------------------------------

void gsm_reset_status_for_port(int port)
{
    gsm_port_info *pi = info_of(port);
    if (!pi || !port_configured(port))
        return;
    pi->access_tech = pi->pin_counter = pi->sq_rssi = pi->sq_ber = pi->reg_mode = pi->reg_status = -1;
    for (char *gsm_port_info::*f : network_texts) {
        free(pi->*f);
        pi->*f = nullptr;
    }
    for (char *gsm_port_info::*f : gsm_port_profile_texts) {
        free(pi->*f);
        pi->*f = nullptr;
    }
}

int mc_gsm_list_status(const char *, FILE *out, int *)
{
    fprintf(out, "LISTING GSM STATE\n");
    if (!gp)
        return 0;
    // A restart frees the texts under the same lock.
    lock_hold hold(&lock_manager::global_lock);
    for (int port = 0; port < GSM_PORT_TABLE; port++)
        print_status(out, port);
    return 0;
}

int mc_gsm_retrieve_and_list_status(const char *arg, FILE *out, int *state)
{
    gsm_acquire_status(0);
    usleep(800 * 1000);
    return mc_gsm_list_status(arg, out, state);
}

int mc_gsm_list_extended_data(const char *arg, FILE *out, int *)
{
    if (!gp)
        return 0;
    std::vector<int> ports = configured_port_numbers(gp->config_gsm);
    if (arg[0]) {
        int only = atoi(arg);
        ports.erase(std::remove_if(ports.begin(), ports.end(), [only](int p) { return p != only; }), ports.end());
    }
    ports.erase(std::remove_if(ports.begin(), ports.end(), [](int p) { return p < 1 || p > GSM_MAX_PORTS; }),
                ports.end());
    bool missing = false;
    {
        lock_hold hold(&lock_manager::global_lock);
        for (int port : ports)
            missing = missing || extended_data_missing(gp->gsm_port_info.port_infos[port]);
    }
    if (missing) {
        gsm_acquire_advanced_settings(0);
        sleep(1);
    }
    lock_hold hold(&lock_manager::global_lock);
    for (int port : ports)
        print_extended(out, port);
    return 0;
}

int mc_gsm_retrieve_extended_data(const char *, FILE *, int *)
{
    gsm_acquire_advanced_settings(0);
    return 0;
}

int mc_gsm_reset_extended_data(const char *arg, FILE *, int *)
{
    lock_hold hold(&lock_manager::global_lock);
    gsm_reset_advanced_settings(atoi(arg));
    return 0;
}

// ---- restarts ---------------------------------------------------------------------------

void restart_gsm_port(FILE *report, int port)
{
    gsm_port_info *pi = info_of(port);
    if (!pi)
        return;
    int index = -1;
    {
        lock_hold hold(&lock_manager::global_lock);
        if (call_object *co = get_operation_by_gsm_port(port))
            index = co->index;
    }
    if (index >= 0) {
        if (report)
            fprintf(report, "terminating call with index %i\n", index);
        finish_call(report, index, 5);
    }
    pi->ready = 0;
    usleep(500 * 1000);
    if (report)
        fprintf(report, "shutting down gsm port %i\n", port);
    LOGD(GSM, 0, nullptr, "shutting down gsm port %i", port);
    libgsm_port_shutdown(port);
    {
        lock_hold hold(&lock_manager::global_lock);
        gsm_reset_status_for_port(port);
    }
    sleep(2);
    clean_sms_processing_for_port(port);

    if (report)
        fprintf(report, "initializing gsm port %i\n", port);
    LOGD(GSM, 0, nullptr, "CRITICAL: initializing gsm port %i", port);
    libgsm_port_init(port, &gp->gsm_cfg[port]);
    if (gsm_port_is_ready(port) && gsm_port_is_successfully_initialized(port)) {
        pi->ready = 1;
    } else {
        if (report)
            fprintf(report, "GSM port %i NOT READY\n", port);
        LOGM(GSM, 32, "%s GSM port %i NOT READY", cinfo(nullptr), port);
    }
    if (report)
        fprintf(report, "STARTED AGAIN GSM PORT %i\n", port);
    LOGD(GSM, 0, nullptr, "CRITICAL: STARTED AGAIN GSM PORT %i", port);
    gsm_acquire_status(1);
}

int mc_gsm_port_restart(const char *arg, FILE *out, int *)
{
    int port = atoi(arg);
    if (port < 1 || port > GSM_MAX_PORTS) {
        fprintf(out, "invalid port %i given\n", port);
        return 0;
    }
    if (!port_configured(port)) {
        fprintf(out, "port %i not configured\n", port);
        return 0;
    }
    restart_gsm_port(out, port);
    return 0;
}

int mc_gsm_power_off_on_li(const char *arg, FILE *out, int *)
{
    int li = atoi(arg);
    const line_interface *l = gp && li >= 0 && li < HWCONF_MODULES ? &gp->hwconf.hwc_li[li] : nullptr;
    if (!l || (l->li_type != LI_1GSM && l->li_type != LI_2GSM && l->li_type != LI_2LTE)) {
        fprintf(out, "line interface %i is not gsm\n", li);
        return 0;
    }
    LOGD(GSM, 0, nullptr, "GSM => resetting gsm on line interface %i, gport %i %i", li, l->gsm_ports[0],
         l->gsm_ports[1]);
    gsm_reset_line_interface(li, l->gsm_ports[0], l->gsm_ports[1]);
    for (int port : l->gsm_ports) {
        LOGD(GSM, 0, nullptr, "GSM => resetting status port: %i", port);
        lock_hold hold(&lock_manager::global_lock);
        gsm_reset_status_for_port(port);
    }
    fprintf(out, "finished\n");
    return 0;
}

int mc_gsm_flush_sms_queue(const char *, FILE *, int *)
{
    if (gp && gp->gsm_sms_spool_out)
        gsm_sms_outgoing(gp->gsm_sms_spool_out);
    return 0;
}

// ---- AT commands ------------------------------------------------------------------------

int mc_gsm_send_at_command(const char *arg, FILE *out, int *)
{
    char cmd[520];
    if (!gp)
        return 0;
    if (int port = at_command_port(arg, out, cmd, sizeof cmd))
        gsm_send_raw(port, cmd, GSM_TIMEOUT_DEFAULT, 1);
    return 0;
}

int mc_gsm_send_at_command_queued(const char *arg, FILE *out, int event_type)
{
    char cmd[520];
    if (!gp)
        return 0;
    int port = at_command_port(arg, out, cmd, sizeof cmd);
    if (!port)
        return 0;
    char *answer = nullptr;
    gsm_queue_command(port, event_type, cmd, nullptr, &answer, 1, 0);
    if (answer)
        fprintf(out, "%s\n", answer);
    else
        fprintf(out, "No Answer\n");
    fprintf(out, "\r\n");
    free(answer);
    return 0;
}

int mc_gsm_send_at_command_queued_short(const char *arg, FILE *out, int *)
{
    return mc_gsm_send_at_command_queued(arg, out, GSM_EVENT_TYPE_GENERIC_SHORT);
}

int mc_gsm_send_at_command_queued_long(const char *arg, FILE *out, int *)
{
    return mc_gsm_send_at_command_queued(arg, out, GSM_EVENT_TYPE_GENERIC_LONG);
}

// ---- operators ----------------------------------------------------------------------------

int gsm_parse_cops_list(const char *answer, gsm_operator_scan_result *out, int max)
{
    if (!answer || !out)
        return 0;
    max = std::min(max, (int)GSM_OPERATOR_SCAN_MAX);
    if (strncmp(answer, "+COPS: ", 7) == 0)
        answer += 7;
    std::string list(answer, strcspn(answer, "\r\n"));
    size_t end = list.find(",,");
    if (end != std::string::npos)
        list.erase(end);
    int count = 0;
    size_t at = 0;
    while (at < list.size() && count < max) {
        size_t sep = list.find("),", at);
        std::string group = sep == std::string::npos ? list.substr(at) : list.substr(at, sep - at + 1);
        at = sep == std::string::npos ? list.size() : sep + 2;
        if (group.empty() || group[0] != '(' || group.back() != ')')
            continue;
        group = group.substr(1, group.size() - 2);
        std::vector<std::string> f;
        size_t from = 0;
        for (size_t comma; (comma = group.find(',', from)) != std::string::npos; from = comma + 1)
            f.push_back(group.substr(from, comma - from));
        f.push_back(group.substr(from));
        if (f.size() < 5)
            continue;
        auto unquote = [](std::string s) {
            s.erase(std::remove(s.begin(), s.end(), '"'), s.end());
            while (!s.empty() && s.back() == ' ')
                s.pop_back();
            return s;
        };
        gsm_operator_scan_result &r = out[count++];
        r = {};
        r.status = atoi(f[0].c_str());
        snprintf(r.long_alphanumeric, sizeof r.long_alphanumeric, "%s", unquote(f[1]).c_str());
        snprintf(r.short_alphanumeric, sizeof r.short_alphanumeric, "%s", unquote(f[2]).c_str());
        r.numeric = atoi(unquote(f[3]).c_str());
        r.access_technology = atoi(f[4].c_str());
    }
    return count;
}

void *scan_operators(void *arg)
{
    int port = (int)(intptr_t)arg;
    gsm_operator_scan_list *l = gsm_operator_scan_lists[port];
    std::string answer = queue_and_wait(port, GSM_EVENT_TYPE_COPS, "AT+COPS=?\r\n");
    gsm_answer_lines lines;
    gsm_split_answer(answer.c_str(), lines);
    const char *list = "";
    for (int i = 0; i < lines.count; i++)
        if (gsm_starts(lines.line[i], "+COPS: ")) {
            list = lines.line[i];
            break;
        }
    l->count = gsm_parse_cops_list(list, l->results, GSM_OPERATOR_SCAN_MAX);
    l->scanning_now = 0;
    return nullptr;
}

int mc_gsm_retrieve_operator_list(const char *arg, FILE *out, int *)
{
    int port = gp ? scan_port(arg, out) : 0;
    if (!port)
        return 0;
    record_poll_start(port);
    gsm_operator_scan_list *&l = gsm_operator_scan_lists[port];
    if (l && l->scanning_now) {
        fprintf(out, "Scanning Now %i\n", port);
        return 0;
    }
    gsm_port_info &pi = gp->gsm_port_info.port_infos[port];
    if (!pi.ready) {
        fprintf(out, "Port %i not ready\n", port);
        return 0;
    }
    if (!port_idle(port)) {
        fprintf(out, "Cannot Scan Now %i\n", port);
        return 0;
    }
    if (!l)
        l = new gsm_operator_scan_list{};
    pi.active = 1;
    l->scanning_now = 1;
    if (pthread_create(&l->scan_thread, nullptr, scan_operators, (void *)(intptr_t)port) != 0) {
        l->scanning_now = 0;
        return 0;
    }
    pthread_detach(l->scan_thread);
    return 0;
}

int mc_gsm_show_operator_list(const char *arg, FILE *out, int *)
{
    int port = gp ? scan_port(arg, out) : 0;
    if (!port)
        return 0;
    const gsm_operator_scan_list *l = gsm_operator_scan_lists[port];
    if (!l) {
        fprintf(out, "No Scan Results\n");
        return 0;
    }
    if (l->scanning_now) {
        fprintf(out, "Scanning Now\n");
        return 0;
    }
    for (int i = 0; i < l->count; i++) {
        const gsm_operator_scan_result &r = l->results[i];
        std::string name = cleaned(r.long_alphanumeric, true);
        if (name.empty())
            name = cleaned(r.short_alphanumeric, true);
        if (name.empty())
            name = get_provider_name(r.numeric);
        fprintf(out, "%i|%s|%s|%i|%i:%s[%s] (%s)\n", r.status, r.long_alphanumeric, r.short_alphanumeric, r.numeric,
                r.access_technology, name.c_str(), get_gsm_access_tech_string(r.access_technology),
                operator_status_word(r.status));
    }
    return 0;
}

int mc_gsm_list_operators(const char *, FILE *out, int *)
{
    if (!gp)
        return 0;
    record_poll_start(gp->gsm_port_info.last_port);
    for (int port : configured_port_numbers(gp->config_gsm)) {
        gsm_port_info *pi = info_of(port);
        if (!pi)
            continue;
        pi->active = 1;
        if (!pi->ready || !port_idle(port))
            continue;
        std::string answer = queue_and_wait(port, GSM_EVENT_TYPE_COPS, "AT+COPS?\r\n");
        gsm_answer_lines lines;
        gsm_split_answer(answer.c_str(), lines);
        if (lines.count && gsm_starts(lines.line[0], "+COPS: "))
            fprintf(out, "Port %i: %s\n", port, lines.line[0] + 7);
    }
    return 0;
}

int mc_gsm_set_operator(const char *arg, FILE *out, int *)
{
    set_operator(arg, out, false);
    return 0;
}

int mc_gsm_set_operator_full(const char *arg, FILE *out, int *)
{
    set_operator(arg, out, true);
    return 0;
}

// ---- SIM PIN --------------------------------------------------------------------------------

int mc_gsm_get_pin_status(const char *arg, FILE *out, int *)
{
    int port = pin_port(arg, out);
    if (!port)
        return 0;
    std::string answer = queue_and_wait(port, GSM_EVENT_TYPE_CPIN, "AT+CLCK=SC,2\r\n");
    gsm_answer_lines lines;
    gsm_split_answer(answer.c_str(), lines);
    for (int i = 0; i < lines.count; i++) {
        if (gsm_starts(lines.line[i], "+CLC")) {
            const char *colon = strstr(lines.line[i], ": ");
            fprintf(out, "SIM Pin Enabled Status Port %i : %s\n", port, colon ? colon + 2 : "");
            return 0;
        }
        if (strcmp(lines.line[i], "OK") == 0)
            break;
    }
    fprintf(out, "No Result\n");
    return 0;
}

int mc_gsm_set_pin(const char *arg, FILE *out, int *)
{
    const char *c1 = strchr(arg, ':');
    if (!c1) {
        fprintf(out, "invalid syntax |%s|\n", arg);
        return 0;
    }
    int port = pin_port(std::string(arg, c1 - arg).c_str(), out);
    if (!port)
        return 0;
    const char *c2 = strchr(c1 + 1, ':');
    if (!c2) {
        fprintf(out, "new pin wasn't given\n");
        return 0;
    }
    std::string old_pin(c1 + 1, c2 - c1 - 1), new_pin(c2 + 1);
    // The PINs go into a command line: anything but 4 to 8 digits could
    // carry commands of its own.
    for (const std::string &pin : {old_pin, new_pin})
        if (!pin.empty() && !gsm_pin_is_sendable(pin.c_str())) {
            fprintf(out, "invalid syntax |%s|\n", arg);
            return 0;
        }
    fprintf(out, "Setting GSM PIN on Port %i from |%s| to |%s|\n", port, old_pin.c_str(), new_pin.c_str());
    char cmd[64];
    if (!old_pin.empty() && !new_pin.empty()) {
        snprintf(cmd, sizeof cmd, "AT+CPIN=%s,%s\r\n", old_pin.c_str(), new_pin.c_str());
        std::string line = first_line_with(queue_and_wait(port, GSM_EVENT_TYPE_CLCK, cmd), {"OK", "+CME"});
        fprintf(out, "Pin Change Port %i: Result: %s\n", port, line.c_str());
    } else if (!old_pin.empty() || !new_pin.empty()) {
        bool enable = old_pin.empty();
        snprintf(cmd, sizeof cmd, "AT+CLCK=SC,%i,%s\r\n", enable ? 1 : 0, enable ? new_pin.c_str() : old_pin.c_str());
        std::string line = first_line_with(queue_and_wait(port, GSM_EVENT_TYPE_CLCK, cmd), {"OK", "+CME"});
        fprintf(out, "SIM Pin %s Port %i: Result: %s\n", enable ? "Enable" : "Disable", port, line.c_str());
    } else {
        fprintf(out, "Please pass pins\n");
    }
    return 0;
}

int mc_gsm_reload_config(const char *, FILE *, int *)
{
    return 0;
}
