// Console listings of the dial plan, call configurations, the cause map,
// port groups, global options, the CDR columns, the hardware description
// and the STUN results.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "call_configuration.h"
#include "cause_map.h"
#include "console.h"
#include "dialplan.h"
#include "dialplan_console.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "hardware_conf.h"
#include "isdn_msg_parser.h"
#include "mc_listings.h"
#include "pg_listings.h"

int mc_arg_int(const char *arg)
{
    if (!arg)
        return 0;
    errno = 0;
    long v = strtol(arg, nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return (int)v;
}

std::vector<std::string> mc_split_fields(const char *arg, size_t max_fields)
{
    std::vector<std::string> f;
    std::string s = arg ? arg : "";
    for (size_t at = 0; f.size() < max_fields;) {
        size_t c = s.find(':', at);
        f.push_back(s.substr(at, c == std::string::npos ? std::string::npos : c - at));
        if (c == std::string::npos)
            break;
        at = c + 1;
    }
    return f;
}

call_object *mc_call_at(int index)
{
    if (!gp || index < 0 || index >= OPERATIONARRAYSIZE || index >= OPERATIONS_CAPACITY)
        return nullptr;
    return gp->operations[index];
}

int mc_tarn_list_dialplan(const char *, FILE *out, int *)
{
    lock_hold hold(&lock_manager::dialplan_lock);
    dialplan_list(out);
    return 0;
}

int mc_tarn_list_dialplan_dbg(const char *, FILE *out, int *)
{
    lock_hold hold(&lock_manager::dialplan_lock);
    dialplan_list_dbg(out);
    return 0;
}

int mc_tarn_list_port_groups(const char *arg, FILE *out, int *)
{
    if (!arg || !*arg) {
        pg_list_groups(out);
        return 0;
    }
    switch (arg[0]) {
    case 'i':
        pg_list_groups_isdn(out);
        break;
    case 'a':
        pg_list_groups_analog(out);
        break;
    case 'g':
        pg_list_groups_gsm(out);
        break;
    case 'c':
        pg_list_groups_cas(out);
        break;
    case 's': {
        lock_hold hold(&lock_manager::pgs_lock); // the SIP listing expects its caller to hold it
        pg_list_groups_sip(out);
        break;
    }
    default:
        fputs("parameters can only be i, a or g\n", out);
        break;
    }
    return 0;
}

int mc_tarn_list_call_configuration(const char *arg, FILE *out, int *)
{
    if (!arg || !*arg) {
        fputs("Print Call Configuration for call at index: ", out);
        return 7;
    }
    int follow = 7; // the question's answer, given with the command
    mc_handle_extrainfo(arg, out, &follow);
    return 0;
}

// The sorted configuration of the call at the argument's index, all keys or
// those containing filter; nothing outside the pool.
static void list_call_configuration(const char *arg, FILE *out, const char *filter)
{
    int index = mc_arg_int(arg);
    if (!gp || index < 0 || index >= OPERATIONARRAYSIZE)
        return;
    call_object *co = mc_call_at(index);
    if (!co || co->callinfo == CI_FREE)
        fprintf(out, "No call at index %i\n", index);
    else if (filter)
        cc_print_call_configuration_filtered(out, &co->cc, 0, 1, filter);
    else
        cc_print_call_configuration(out, &co->cc, 0, 1);
}

int mc_tarn_list_call_configuration_ordered(const char *arg, FILE *out, int *)
{
    list_call_configuration(arg, out, nullptr);
    return 0;
}

int mc_tarn_list_call_configuration_filtered(const char *arg, FILE *out, int *)
{
    list_call_configuration(arg, out, arg);
    return 0;
}

int mc_tarn_list_default_call_configuration(const char *, FILE *out, int *)
{
    cc_print_call_configuration(out, nullptr, 0, 0);
    return 0;
}

int mc_tarn_list_default_call_configuration_sorted(const char *arg, FILE *out, int *)
{
    if (arg[0] == 'a' || arg[0] == 'x')
        cc_print_call_configuration(out, nullptr, 0, 1);
    else if (arg[0] == 'f')
        cc_print_call_configuration_filtered(out, nullptr, 0, 1, arg + 1);
    else
        fprintf(out, "Unknown parameter %s\n", arg);
    return 0;
}

int mc_tarn_list_default_call_configuration_with_regexp(const char *, FILE *out, int *)
{
    cc_print_call_configuration(out, nullptr, 1, 0);
    return 0;
}

int mc_tarn_list_default_call_configuration_with_regexp_sorted(const char *arg, FILE *out, int *)
{
    if (arg[0] == 'a')
        cc_print_call_configuration(out, nullptr, 1, 1);
    else
        fprintf(out, "Unknown parameter %s\n", arg);
    return 0;
}

int mc_tarn_list_cause_map(const char *, FILE *out, int *)
{
    if (!gp)
        return 0;
    const cause_map &m = gp->causemap;
    for (int i = 0; i < m.count && i < CAUSE_MAP_SIZE; i++) {
        const cause_map_element &e = m.causes[i];
        fprintf(out, "%s\t%s\t%i\t%i\t%s\n", dialplan_get_tech_name(e.from), dialplan_get_tech_name(e.to),
                e.in_cause, e.out_cause, e.out_cause_text ? e.out_cause_text : "");
    }
    return 0;
}

int mc_tarn_list_global_options(const char *, FILE *out, int *)
{
    if (!gp)
        return 0;
    static const experimental_options none{};
    const experimental_options &eo = gp->experimental_options ? *gp->experimental_options : none;
    fputs("Listings global options:\n", out);
    fprintf(out, "RTP Traffic               : %i\n", gp->rtp_traffic);
    fprintf(out, "CDR File Size Limit       : %i\n", gp->cdr_log_filesize_limit);
    fprintf(out, "Set Time From ISDN (port) : %i\n", misdn_set_time_from_isdn);
    fprintf(out, "SIP listen device         : %s\n", gp->netconf.host_ifname_lan);
    fprintf(out, "EO_iml                    : %i\n", eo.eo_msp_initial_logging);
    fprintf(out, "EO_listen_on_wan          : %i\n", eo.eo_sip_listen_on_wan);
    fprintf(out, "EO_byeauth                : %i\n", eo.eo_byeauth);
    fprintf(out, "EO_icl                    : %i\n", eo.eo_cas_initial_logging);
    fprintf(out, "EO_dlo                    : %.*s\n", (int)sizeof eo.eo_loglevel_override, eo.eo_loglevel_override);
    fprintf(out, "EO_latency                : %i\n", eo.eo_latency);
    fprintf(out, "EO_sip_min_se             : %i\n", eo.eo_sip_min_se);
    fprintf(out, "EO_sip_inbound_limit      : %i:%i\n", eo.eo_sip_inbound_limit_max_calls_per_timeframe,
            eo.eo_sip_inbound_limit_timeframe_length);
    fprintf(out, "EO_pt_clearmode           : %i\n", eo.eo_pt_clearmode);
    fprintf(out, "EO_pt_rfc2833             : %i\n", eo.eo_pt_rfc2833);
    return 0;
}

static const char CDR_COLUMNS[] = "CDR COLUMNS LIST:\n"
                                  " 0 CDR\n"
                                  " 1 PID\n"
                                  " 2 FromTechnology(:Port)\n"
                                  " 3 ToTechnology(:Port)\n"
                                  " 4 Incoming OAD\n"
                                  " 5 Incoming DAD\n"
                                  " 6 Outgoing OAD\n"
                                  " 7 Outgoing DAD\n"
                                  " 8 Call Start Time\n"
                                  " 9 Call Stop Time\n"
                                  "10 Connect Start Time\n"
                                  "11 Connect Stop Time\n"
                                  "12 Terminated by which side\n"
                                  "13 Termination Cause\n"
                                  "14 AOCD_U\n"
                                  "15 AOCD_C\n";

const char *mc_print_cdr_columns_definitions()
{
    return CDR_COLUMNS;
}

int mc_tarn_list_cdr_columns_description(const char *, FILE *out, int *)
{
    fputs(mc_print_cdr_columns_definitions(), out);
    return 0;
}

int mc_tarn_list_hardware_conf(const char *, FILE *out, int *)
{
    list_hardware_conf(out);
    return 0;
}

int mc_tarn_list_stunservers(const char *, FILE *out, int *)
{
    if (!gp)
        return 0;
    lock_hold hold(&lock_manager::stun_lock); // the list is swapped under it
    for (int i = 0; gp->stunservers && i < gp->stunserver_count; i++)
        fprintf(out, "Stunserver %s: %s\n", gp->stunservers[i].stunserver, gp->stunservers[i].externip);
    return 0;
}
