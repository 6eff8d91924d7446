#include "dialplan_targets.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "dialplan.h"
#include "experimental_options.h"
#include "isdn_lib.h"
#include "log.h"
#include "pg_port_groups.h"

namespace {

constexpr int TARGET_TEXT_SIZE = 256; // a destination text keeps 255 characters

bool is_group_target(const char *text)
{
    return strlen(text) > 2 && strncmp(text, "g:", 2) == 0;
}

int dp_port_behaviour()
{
    return gp && gp->experimental_options ? gp->experimental_options->eo_dp_port_behaviour : 0;
}

// One port at a time, in the line's order (experimental dp_port_behaviour).
misdn_bchannel *bchannel_port_by_port(const dialplan_element *dp, int *ports_down,
                                      const unsigned char *blocked_ports)
{
    for (int i = 0; dp && i < dp->to_ports_count; i++) {
        int port = dp->to_ports[i];
        if (blocked_ports && port >= 0 && port < ISDN_BLOCKED_PORTS_MAP && blocked_ports[port])
            continue; // refused a channel for this call already
        const port_group_isdn *g = pg_get_port_group_isdn_by_port(port);
        int descending = g && g->chansel_direction == CHANSEL_DIRECTION_DESCENDING ? 1 : 0;
        misdn_bchannel *bc = misdn_lib_get_free_bc(port, 0, 0, descending, 1);
        if (bc) {
            LOGD(TARN, 4, nullptr, "found bchannel on port %i", port);
            return bc;
        }
        if (!misdn_is_port_up(port, 0) && ports_down)
            *ports_down = 1;
        LOGD(TARN, 4, nullptr, "couldn get bchannel on port %i", port);
    }
    return nullptr;
}

// The one ISDN port group all the line's ports belong to, with the ports
// marked in the allowed-port set; null when a port has no group, the
// ports lie in two groups, the list is empty or a port does not fit the set.
const port_group_isdn *group_of_ports(const dialplan_element *dp, unsigned char *allowed)
{
    if (!dp || dp->to_ports_count <= 0)
        return nullptr;
    const port_group_isdn *group = nullptr;
    for (int i = 0; i < dp->to_ports_count; i++) {
        int port = dp->to_ports[i];
        const port_group_isdn *g = pg_get_port_group_isdn_by_port(port);
        if (!g || (group && g != group))
            return nullptr;
        group = g;
        if (port < 0 || port >= ISDN_ALLOWED_PORTS_MAP) {
            LOGD(TARN, 1, nullptr, "CRITICAL: port %i of dialplan line %i cannot be chosen (ports 0 to %i)", port,
                 dp->line, ISDN_ALLOWED_PORTS_MAP - 1);
            return nullptr;
        }
        allowed[port] = 1;
    }
    return group;
}

// The SIP port group a dial plan identifier names, or null.
const port_group_sip *sip_group_of(const char *id)
{
    int user_index;
    return id ? dialplan_sip.get_port_group_sip_by_name(id, &user_index) : nullptr;
}

} // namespace

int isdn_dpstring_to_int_array(const char *text, int *array, int capacity)
{
    if (!text || !array || capacity <= 0)
        return 0;
    char copy[TARGET_TEXT_SIZE];
    snprintf(copy, sizeof copy, "%s", text);
    int n = 0;
    if (is_group_target(copy)) {
        const misdn_chansel_settings *g = misdn_lib_get_port_group_settings_by_name(copy + 2);
        for (int i = 0; g && i < g->chansel_number_of_ports && n < capacity; i++)
            array[n++] = g->chansel_ports[i];
        return n;
    }
    char *save = nullptr;
    for (char *piece = strtok_r(copy, ",", &save); piece && n < capacity; piece = strtok_r(nullptr, ",", &save)) {
        long v = strtol(piece, nullptr, 10);
        array[n++] = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : (int)v;
    }
    return n;
}

misdn_bchannel *get_isdn_channel_by_dialplan_string(call_object *co, const char *target, int *ports_down)
{
    int limit = misdn_get_check_queues_length();
    if (limit) {
        int len = misdn_queues_state();
        if (len >= limit) {
            LOGD(TARN, 0, nullptr, "CRITICAL: mISDN-Downqueues are full (queue->len: %d), cancelling call attempt",
                 len);
            g_queue_full = 1;
            return nullptr;
        }
        g_queue_full = 0;
    }
    if (!co)
        return nullptr;

    misdn_bchannel *bc;
    if (target && is_group_target(target)) {
        bc = misdn_lib_get_free_bc_by_port_group(target + 2, ports_down, (unsigned)co->cc.outgoing_bchannels,
                                                 co->blocked_isdn_ports, nullptr);
    } else if (dp_port_behaviour()) {
        bc = bchannel_port_by_port(co->dp, ports_down, co->blocked_isdn_ports);
    } else {
        unsigned char allowed[ISDN_ALLOWED_PORTS_MAP] = {};
        const port_group_isdn *g = group_of_ports(co->dp, allowed);
        if (!g)
            return nullptr;
        bc = misdn_lib_get_free_bc_by_port_group(g->name, ports_down, (unsigned)co->cc.outgoing_bchannels,
                                                 co->blocked_isdn_ports, allowed);
    }
    if (bc && co->pid > 0)
        bc->pid = co->pid;
    return bc;
}

int is_call_on_sip_peer_active(const port_group_sip *pgs)
{
    if (!pgs || !gp)
        return 0;
    enum { SIP_DESTINATION = 0x1000, SIP_SOURCE = 0x2 };
    for (int i = 0; i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++) {
        const call_object *co = gp->operations[i];
        if (!co || !co->dp)
            continue;
        if (co->callinfo & SIP_DESTINATION) {
            if (sip_group_of(co->dp->to_id) == pgs)
                return 1;
            if ((co->callinfo & SIP_SOURCE) && sip_group_of(co->dp->from_id) == pgs)
                return 1;
        } else if ((co->callinfo & SIP_SOURCE) && sip_group_of(co->dp->from_id) == pgs) {
            return 1;
        }
    }
    return 0;
}
