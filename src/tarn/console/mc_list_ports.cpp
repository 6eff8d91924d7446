// Console listings of ISDN, analog and CAS ports: stack states, B-channels,
// event histories, type-of-number statistics and line states.
#include <cstring>
#include <string>

#include "analogctl.h"
#include "application.h"
#include "call_lookups.h"
#include "channel_spender.h"
#include "debug_dumps.h"
#include "hardware_conf.h"
#include "isdn_lib.h"
#include "line_bringup.h"
#include "mc_listings.h"
#include "state_names.h"
#include "t1e1casctl.h"

static const char PORT_RULE[] = "---------------------------------------------------------\n";

static int list_isdn(FILE *out, void (*details)(int, char *, int))
{
    if (!gp || !gp->config_isdn)
        return 0;
    for (int port : configured_port_numbers(gp->config_isdn)) {
        char line[1024];
        line[0] = '\0';
        details(port, line, sizeof line);
        fputs(line, out);
        fputs("\n", out);
    }
    return 0;
}

int mc_isdn_list_info(const char *, FILE *out, int *)
{
    fputs("LISTING ISDN STATE\n", out);
    return list_isdn(out, get_show_stack_details);
}

int mc_isdn_list_info_compact(const char *, FILE *out, int *)
{
    return list_isdn(out, get_show_stack_details_compact);
}

// The call bound to a slot, or the slot's own numbers and queued event.
static void print_binding(FILE *out, misdn_bchannel *bc)
{
    const call_object *co = get_operation_by_bchannel(bc);
    if (co) {
        fprintf(out, "pid:%i\n", co->pid);
        return;
    }
    const char *queued = manager_isdn_get_info(bc->evq);
    fprintf(out, "NOT_ASSOCIATED! OAD:%.*s DAD:%.*s %s\n", (int)sizeof bc->oad, bc->oad, (int)sizeof bc->dad, bc->dad,
            queued ? queued : "(null)");
}

static void list_bchannels(FILE *out, bool full)
{
    fputs("Listing Bchannels\n", out);
    int stacks = misdn_get_stack_count();
    for (int s = 0; s < stacks; s++) {
        misdn_stack *stack = misdn_get_stack_by_index(s);
        if (!stack)
            continue;
        int port = misdn_get_port_by_stack(stack);
        int channels = misdn_get_channelcount_by_stack(stack);
        int slots = misdn_get_full_channelcount_by_stack(stack);
        fprintf(out, "Port %i: (%i channels):\n", port, full ? slots : channels);
        if (misdn_is_port_blocked_by_stack(stack))
            fputs("Port is blocked\n", out);
        if (!misdn_is_port_up_by_stack(stack, 0))
            fputs("Port is not up\n", out);
        int used = 0;
        for (int i = 0; i < slots; i++) {
            misdn_bchannel *bc = misdn_get_channel_by_stack_and_index(stack, i);
            if (!bc)
                continue;
            if (full) {
                fprintf(out, "Port %i: bc[%i] (pid: %i) in_use=%i l3_id 0x%0x : co=>", port, i, bc->pid, bc->in_use,
                        (unsigned)bc->l3_id);
            } else {
                if (!bc->in_use)
                    continue;
                used++;
                fprintf(out, "Port %i: bc[%i] (pid: %i) in_use: co=>", port, i, bc->pid);
            }
            print_binding(out, bc);
        }
        if (!full) {
            if (used)
                fprintf(out, "Port %i: %i/%i bchannel objects in use\n", port, used, channels);
            else
                fprintf(out, "Port %i: All bchannel objects free\n", port);
        }
        fputs(PORT_RULE, out);
    }
}

int mc_isdn_list_bchannels(const char *, FILE *out, int *)
{
    list_bchannels(out, false);
    return 0;
}

int mc_isdn_list_bchannels_full(const char *, FILE *out, int *)
{
    list_bchannels(out, true);
    return 0;
}

int mc_isdn_list_channel_spender_info(const char *, FILE *out, int *)
{
    misdn_channel_spender_list_ports(out);
    return 0;
}

int mc_isdn_list_event_history(const char *arg, FILE *out, int *)
{
    call_object *co = mc_call_at(mc_arg_int(arg));
    if (!co) {
        fputs("Index out of bounds\n", out);
        return 0;
    }
    fprintf(out, "Callstate %s\n", print_callinfo(co->callinfo));
    tarn_list_isdn_event_history(out, co);
    return 0;
}

int mc_isdn_list_ton_statistics(const char *, FILE *out, int *)
{
    static const char *const calling[TON_STAT_TYPES] = {
        "OTON UNKNOWN          : %i (%s)\n", "OTON INTERNATIONAL  : %i (%s)\n", "OTON NATIONAL       : %i (%s)\n",
        "OTON NETSPECIFIC    : %i (%s)\n", "OTON PRIVATE        : %i (%s)\n"};
    static const char *const called[TON_STAT_TYPES] = {
        "DTON UNKNOWN        : %i (%s)\n", "DTON INTERNATIONAL  : %i (%s)\n", "DTON NATIONAL       : %i (%s)\n",
        "DTON NETSPECIFIC    : %i (%s)\n", "DTON PRIVATE        : %i (%s)\n"};
    if (!gp)
        return 0;
    const ton_statistics_record &t = gp->ton_statistics;
    fputs("Numplan statistics (samples of incoming numbers are shown in brackets)\n", out);
    int stacks = misdn_get_stack_count();
    for (int s = 0; s < stacks; s++) {
        misdn_stack *stack = misdn_get_stack_by_index(s);
        int port = stack ? misdn_get_port_by_stack(stack) : -1;
        if (port < 0)
            continue;
        fprintf(out, "Numplan statistics port %i:\n", port);
        if (port >= TON_STAT_PORTS)
            continue;
        for (int k = 0; k < TON_STAT_TYPES; k++)
            if (t.statistics_o[port][k] > 0)
                fprintf(out, calling[k], (int)t.statistics_o[port][k], t.sample_o[port][k]);
        for (int k = 0; k < TON_STAT_TYPES; k++)
            if (t.statistics_d[port][k] > 0)
                fprintf(out, called[k], (int)t.statistics_d[port][k], t.sample_d[port][k]);
    }
    return 0;
}

int mc_isdn_reset_ton_statistics(const char *, FILE *, int *)
{
    if (gp)
        memset(&gp->ton_statistics, 0, sizeof gp->ton_statistics);
    return 0;
}

int mc_analog_list_info(const char *, FILE *out, int *)
{
    fputs("LISTING ANALOG STATE\n", out);
    static analog_proc_info states[ANALOG_PORT_TABLE]; // console thread only
    memset(states, 0, sizeof states);
    read_analog_state(states);
    for (int port = 1; port <= ANALOG_PORT_TABLE; port++) {
        if (!analog_port_is_valid(port))
            continue;
        const analog_proc_info &s = states[port - 1];
        int offhook = gp && gp->analog_info && port < ANALOG_INFO_PORTS ? gp->analog_info->offhook_mode[port] : 0;
        fprintf(out, "* Analog Port %i\ttype:%s\tstate:%s\tlinevoltage:%i\tpol:%i\trtlc:%i\tadmin_offhook:%i\n", port,
                analog_porttype_to_string(s.type), analog_state_to_string(s.state), s.linevoltage, s.polarity, s.rtlc,
                offhook);
    }
    return 0;
}

int mc_cas_list_info(const char *, FILE *out, int *)
{
    fputs("LISTING CAS INFO\n", out);
    for (int port = CAS_PORT_MIN; port <= CAS_PORT_MAX; port++) {
        if (!cas_port_is_configured(port))
            continue;
        switch (cas_get_signalling(port)) {
        case CAS_SIGNALLING_T1_FXSKS:
            fprintf(out, "CAS PORT %3i:\tT1_FXS\n", port);
            break;
        case CAS_SIGNALLING_T1_FXOKS:
            fprintf(out, "CAS PORT %3i:\tT1_FXO\n", port);
            break;
        default:
            fprintf(out, "CAS PORT %3i:\tE1_MFCR2\t%s\n", port, cas_print_port_state_of_port(port));
            break;
        }
    }
    return 0;
}

int mc_cas_list_configured_ports(const char *, FILE *out, int *)
{
    cas_list_configured_ports(out);
    return 0;
}

int mc_cas_list_event_history(const char *arg, FILE *out, int *)
{
    cas_print_event_history(out, mc_arg_int(arg));
    return 0;
}

int mc_cas_clear_event_history(const char *, FILE *out, int *)
{
    cas_clear_event_history(out);
    return 0;
}

int mc_tarn_list_cas_status_parsable(const char *, FILE *out, int *)
{
    if (!gp)
        return 0;
    for (int m = 0; m < HWCONF_MODULES; m++) {
        const line_interface &li = gp->hwconf.hwc_li[m];
        if (li.li_type != LI_1E1T1 && li.li_type != LI_2E1T1)
            continue;
        for (int j = 0; j < li.port_count_cas && j < HWCONF_SLOTS; j++)
            if (li.cas_port_configured[j])
                fprintf(out, "%i\t%i\n", li.cas_port_numbers[j], hw_cas_port_connected(li.cas_sys_connected_path[j]));
    }
    return 0;
}
