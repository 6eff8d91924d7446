// ISDN bring-up: the ISDN library started on the ports of tarn.isdn, then
// told the port groups and every group's and port's settings.
#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "confman.h"
#include "experimental_options.h"
#include "hardware_conf.h"
#include "isdn_events.h"
#include "isdn_lib.h"
#include "isdn_msg_parser.h"
#include "line_bringup.h"
#include "log.h"
#include "pg_port_groups.h"
#include "schema.h"

enum { GENERAL_SECTION = 0, PORT_SECTION = 1, ISDN_MAX_PORT = 32 };

// What the library reports through: call control's callbacks.
const misdn_lib_iface startup_isdn_iface = {isdn_cb_events, chan_misdn_log, chan_misdn_jb_empty};

// ---- reading tarn.isdn ----------------------------------------------------------------------

// The groups of tarn.isdn in file order.
static std::vector<std::string> configured_groups(cm *c)
{
    std::vector<std::string> groups;
    char name[512];
    const char *prev = nullptr;
    std::string last;
    while (c && groups.size() < 4096 && cm_get_next_cat(c, PORT_SECTION, prev, name, sizeof name) == 1) {
        groups.push_back(name);
        last = name;
        prev = last.c_str();
    }
    return groups;
}

static std::string port_text(cm *c, int dir, int port)
{
    char buf[512];
    if (cm_get(c, buf, sizeof buf, PORT_SECTION, dir, port) != 0)
        return "";
    return buf;
}

static std::string group_text(cm *c, int dir, const std::string &group)
{
    char buf[512];
    if (cm_get_by_cat(c, buf, sizeof buf, PORT_SECTION, dir, group.c_str()) != 0)
        return "";
    return buf;
}

static int yes_or_1(const std::string &v)
{
    return !strcasecmp(v.c_str(), "yes") || !strcasecmp(v.c_str(), "1");
}

static int restart_after_link_loss(const std::string &v)
{
    const char *s = v.c_str();
    if (!strcasecmp(s, "both") || !strcasecmp(s, "1"))
        return 1;
    if (!strcasecmp(s, "nt"))
        return 2;
    if (!strcasecmp(s, "te"))
        return 3;
    return 0;
}

static int portpullup(const std::string &v)
{
    return v == "0" ? 0 : v == "2" ? 2 : 1;
}

// ---- texts for the library ----------------------------------------------------------------------

static void critical(const char *text)
{
    LOGD(TARN, 0, nullptr, "%s", text);
}

int get_isdn_port_list(char *portstring, int stringsize)
{
    if (!portstring || stringsize <= 0)
        return -1;
    std::string list;
    for (int port : configured_port_numbers(gp->config_isdn)) {
        if (port < 1 || port > ISDN_MAX_PORT) {
            critical("CRITICAL: ISDN ports not configured correctly");
            return -1;
        }
        char entry[16];
        int n = snprintf(entry, sizeof entry, "%i%s", port, gp->isdn_ptp_settings[port] == 1 ? "ptp" : "");
        if (n < 0 || n >= (int)sizeof entry || list.size() + n + 1 + 1 > (size_t)stringsize) {
            critical("CRITICAL: Port list buffer too small");
            return -1;
        }
        list += entry;
        list += ",";
    }
    if (list.empty()) {
        critical("CRITICAL: No ports configured");
        return -1;
    }
    list.pop_back();
    snprintf(portstring, (size_t)stringsize, "%s", list.c_str());
    return 0;
}

int create_port_group_string(char *buffer, int bufsize)
{
    if (!buffer || bufsize <= 0)
        return -1;
    cm *c = gp->config_isdn;
    std::vector<int> ports = configured_port_numbers(c);
    std::string text;
    for (const std::string &group : configured_groups(c)) {
        text += group + "(";
        for (int port : ports)
            if (port_text(c, CFG_ISDN_PORT_NAME, port) == group)
                text += std::to_string(port) + ",";
        text.pop_back(); // the last comma, or the "(" of a group without ports
        text += ");";
    }
    if (text.size() + 1 > (size_t)bufsize) {
        buffer[0] = '\0';
        critical("CRITICAL: Port group string buffer too small");
        return -1;
    }
    snprintf(buffer, (size_t)bufsize, "%s", text.c_str());
    return 0;
}

int parse_cli_ptp()
{
    return 0;
}

void count_ports(int *isdn_ports, int *gsm_ports)
{
    if (isdn_ports)
        *isdn_ports = (int)configured_port_numbers(gp->config_isdn).size();
    if (gsm_ports)
        *gsm_ports = (int)configured_port_numbers(gp->config_gsm).size();
}

void count_isdn_ports_by_rate(int *pri, int *other)
{
    *pri = *other = 0;
    for (int port : configured_port_numbers(gp->config_isdn))
        (misdn_lib_port_is_pri(port) == 1 ? *pri : *other)++;
}

// ---- bring-up -------------------------------------------------------------------------------------

static void apply_group_settings(cm *c)
{
    std::vector<std::string> groups = configured_groups(c);
    for (const std::string &g : groups)
        misdn_lib_set_channel_selection(g.c_str(),
                                        pg_parse_chansel_method(group_text(c, CFG_ISDN_PORT_CHANSEL, g).c_str(), 0),
                                        pg_parse_chansel_direction(
                                            group_text(c, CFG_ISDN_PORT_CHANSEL_DIRECTION, g).c_str()));
    for (const std::string &g : groups)
        misdn_lib_set_port_pullup(g.c_str(), portpullup(group_text(c, CFG_ISDN_PORT_PORTPULLUP, g)));
}

// One pass over the ports per setting, in this order.
static void apply_port_settings(cm *c, const std::vector<int> &ports)
{
    int qsig_iso = gp->experimental_options ? gp->experimental_options->eo_qsig_iso : 0;
    for (int p : ports)
        misdn_allow_qsig(p, yes_or_1(port_text(c, CFG_ISDN_PORT_QSIG, p)));
    for (int p : ports)
        misdn_set_permanent_l1(p, hw_get_permanent_l1(p));
    for (int p : ports)
        misdn_set_restart_after_linkloss(p, restart_after_link_loss(port_text(c, CFG_ISDN_PORT_RESTART_AFTER_LINK_LOSS, p)));
    for (int p : ports)
        misdn_set_reject_unknown_facility(p, yes_or_1(port_text(c, CFG_ISDN_PORT_REJECT_UNKNOWN_FACILITIES, p)));
    for (int p : ports) {
        misdn_allow_qsig_network_extension(p, yes_or_1(port_text(c, CFG_ISDN_PORT_QSIG_NETWORK_EXTENSION, p)));
        misdn_allow_qsig_iso(p, qsig_iso);
    }
    for (int p : ports)
        misdn_allow_complete_dialing_pound_star(p, yes_or_1(port_text(c, CFG_ISDN_PORT_COMPLETE_DIALING_ON_POUND_OR_STAR, p)));
}

int init_isdn()
{
    cm *c = gp->config_isdn;

    // 1.
    pg_init_isdn_port_group_struct();
    std::vector<int> ports = configured_port_numbers(c);

    // 2. channel-selection behaviour of the ports the library's table holds
    for (int p : ports)
        if (p >= 0 && p <= 31)
            misdn_lib_chansel_behaviour[p] =
                pg_parse_chansel_behaviour(port_text(c, CFG_ISDN_PORT_CHANSEL_BEHAVIOUR, p).c_str());

    // 3.
    char buf[512];
    if (!gp->config_tarn || cm_get(gp->config_tarn, buf, sizeof buf, GENERAL_SECTION, CFG_TARN_REJECT_CALLS_UNDER_LOAD) != 0)
        return -1;
    misdn_set_check_queues_length(atoi(buf));

    // 4.
    char portlist[512];
    if (get_isdn_port_list(portlist, sizeof portlist) != 0)
        return -1;

    // 5.
    isdn_init_info iii{};
    for (int p : ports) {
        if (p < 1 || p > ISDN_MAX_PORT || iii.port_count >= MISDN_MAX_PORTS) {
            critical("CRITICAL: ISDN ports not configured correctly");
            return -1;
        }
        int i = iii.port_count++;
        iii.ports[i] = p;
        iii.ptp[i] = gp->isdn_ptp_settings[p];
        iii.crlen[i] = gp->isdn_crlen_settings[p];
        iii.cidlen[i] = gp->isdn_cidlen_settings[p];
    }
    if (iii.port_count == 0) {
        critical("CRITICAL: No ports configured");
        return -1;
    }

    // 6.
    LOGD(ISDN, 2, nullptr, "using ports: %s", portlist);

    // 7. The library logs through the callbacks from its first line on; the
    // filter spares it lines nobody writes.
    misdn_lib_iface iface = startup_isdn_iface;
    misdn_lib_set_log_filter(chan_misdn_log_on);
    if (misdn_lib_init(&iii, &iface, nullptr) != 0) {
        (iface.cb_log)(0, 0, -1, __FILE__, __LINE__, __func__, "No te ports initialized\n");
        return -1;
    }

    // 8.
    char groups[512];
    if (create_port_group_string(groups, sizeof groups) != 0)
        return -1;
    misdn_lib_init_port_groups(groups);

    // 9.
    for (int p : ports)
        if (hw_is_port_t1(p))
            misdn_set_t1(p, 1);

    // 10.-12.
    apply_group_settings(c);
    apply_port_settings(c, ports);

    // 13. a number: "no" reads as 0
    buf[0] = '\0';
    cm_get(c, buf, sizeof buf, GENERAL_SECTION, CFG_ISDN_TIME_FROM_ISDN);
    misdn_set_time_from_isdn = atoi(buf);
    return 0;
}
