// Admission of a SIP call whose dial plan line points to analog ports: the
// port picked from a group or a list, the answer when none is free, and the
// SIP-to-FXS or SIP-to-FXO machine started on the port.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "analog_admission.h"
#include "analog_callctl.h"
#include "analog_callctl_internal.h"
#include "analog_watchdog.h"
#include "analogctl.h"
#include "application.h"
#include "call_lookups.h"
#include "call_object.h"
#include "call_reset.h"
#include "call_statistics.h"
#include "causes.h"
#include "dialplan_mangle.h"
#include "line_bringup.h"
#include "log.h"
#include "log_backend.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "schema.h"
#include "sip_admission.h"
#include "sip_admission_internal.h"
#include "sip_trace.h"
#include "sm_run.h"
#include "state_table_actions.h"
#include "state_tables.h"
#include "statemachine.h"
#include "timer.h"

namespace {

enum { NUMBER_FIELD = 64, PORT_LIST_CHARS = 256 };

bool group_target(const char *target)
{
    return strlen(target) > 2 && (target[0] == 'G' || target[0] == 'g') && target[1] == ':';
}

// The group's ports in the order they are tried; a port number 0 ends the
// list. False for an unknown group.
bool group_order(const char *name, std::vector<int> *order)
{
    port_group_analog *g = pg_get_port_group_analog_by_name(name);
    if (!g) {
        LOGD(ANALOG, 1, nullptr, "CRITICAL: Couldn't find analog port group with name %s", name);
        return false;
    }
    int count = g->port_count;
    if (count <= 0 || !g->port_settings)
        return true; // an empty group has no port to offer
    int start = 0;
    if (g->chansel_method == CHANSEL_ROUNDROBIN) {
        start = ((g->next_chansel_port_index % count) + count) % count;
        g->next_chansel_port_index = (start + 1) % count;
    } else if (g->chansel_method == CHANSEL_RANDOM) {
        srandom((unsigned)time(nullptr));
        start = (int)(random() % count);
    }
    for (int j = 0; j < count; j++) {
        int idx = (start + j) % count;
        if (g->chansel_direction == CHANSEL_DIRECTION_DESCENDING)
            idx = count - 1 - idx;
        int port = g->port_settings[idx].port;
        if (port == 0)
            break;
        order->push_back(port);
    }
    return true;
}

void list_order(const char *list, std::vector<int> *order)
{
    char copy[PORT_LIST_CHARS];
    snprintf(copy, sizeof copy, "%s", list);
    char *save = nullptr;
    for (char *p = strtok_r(copy, ",", &save); p; p = strtok_r(nullptr, ",", &save)) {
        int port = atoi(p);
        if (port >= ANALOG_PORT_MIN && port <= ANALOG_PORT_MAX)
            order->push_back(port);
    }
}

bool port_configured(int port)
{
    for (int p : configured_port_numbers(gp->config_analog))
        if (p == port)
            return true;
    return false;
}

// An FXO port counts as connected while its line voltage is above the
// port's up-voltage.
bool fxo_port_down(int port, const analog_proc_info *states)
{
    if (!analog_port_is_fxo(port))
        return false;
    return states[port - 1].linevoltage <= gp->analog_info->fxo_portup_voltage[port];
}

bool port_free(int port, bool from_group)
{
    const analog_port_info *ai = gp->analog_info;
    if (port < 1 || port >= ANALOG_INFO_PORTS || ai->in_use[port])
        return false;
    if (analog_port_is_fxs(port) && analog_is_fxs_in_offhook_state(port))
        return false;
    if (from_group)
        return !(analog_port_is_fxo(port) && ai->offhook_mode[port]);
    return port_configured(port);
}

// The port goes to the call; a watchdog call that waits on it gives way.
void take_port(call_object *co, int port)
{
    mark_analog_port_as_used(port);
    call_object *parked = get_operation_by_analog_port(port);
    if (parked && parked != co) {
        parked->analog_port = 0;
        if (parked->sm) {
            statemachine_destroy(parked->sm);
            parked->sm = nullptr;
        }
        LOGD_CALL(ANALOG, 5, parked, "calling reset_op for %p", (void *)parked);
        reset_op(parked);
    }
    co->analog_port = port;
    co->analog_port_stored_for_hold = port;
    co->analog_type = gp->analog_info->type[port];
}

void copy_field(char *dst, const char *src)
{
    snprintf(dst, NUMBER_FIELD, "%.63s", src ? src : ""); // the field keeps its 63 characters
}

// No free port: the mapped answer with its Reason header, or 302 to the
// move_on_pstn_fail target; the handle dropped and the call reset.
void refuse_no_port(call_object *co, nua_t *nua, nua_handle_t *nh, int ports_down)
{
    LOGD_CALL(ANALOG, 1, co, "couldn't get free analog port");
    co->special_termination_reason = ports_down ? 11 : 10;
    int code = 0;
    const char *phrase = nullptr;
    get_reject_cause(TECH_SIP, TECH_TARN, ports_down ? 908 : 907, &code, &phrase);
    char contact[300] = "";
    if (move_on_pstn_fail_create_contact_string(co, contact, sizeof contact) == 0)
        code = 302;
    send_refusal(co, nua, nh, code, phrase, contact);
    print_verbose_sip_msg(0, co, phrase ? phrase : "");
    drop_request_handle(co, nh);
    gp->callstat.counter_sip_to_analog_port[0]++;
    reset_call(co);
}

// The port given back after the machine was made (a step that could not
// finish): the machine goes, the port is free again.
void give_port_back(call_object *co)
{
    if (co->sm) {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
    }
    int port = analog_port_number(co->analog_port);
    if (port >= 1 && port < ANALOG_INFO_PORTS)
        gp->analog_info->in_use[port] = 0;
    co->analog_port = 0;
    co->analog_port_stored_for_hold = 0;
}

int start_fxs(call_object *co, int port)
{
    verbose_analog_send_event(co, port, ANALOG_EVENT_RINGING);
    co->sm = create_statemachine_sip_to_fxs(co, SM_ANALOG_FXS_RINGING, tarn_analog_send_event);
    co->sm_state = SM_ANALOG_FXS_RINGING;
    if (!co->sm)
        return -1;
    do_statemachine_run(co, sm_general(GENERAL_EVENT_ANALOG_INIT_INCOMING), 0);
    if (co->sm && (uint32_t)statemachine_get_state(co->sm) != SM_DESTROYING)
        analog_arm_caller_id_timer(co);
    return 0;
}

int start_fxo(call_object *co, int port)
{
    copy_field(co->analog_oad, co->new_source);
    copy_field(co->analog_dad, co->new_destination);
    co->sm = create_statemachine_sip_to_fxo(co, SM_SIP_INVITE_RECEIVED, tarn_analog_send_event);
    co->sm_state = SM_SIP_INVITE_RECEIVED;
    char buf[64];
    if (!co->sm || analog_port_setting(port, CFG_ANALOG_PORT_FXO_DIALTONE_DETECTION_TIMEOUT, buf, sizeof buf) != 0) {
        LOGD_CALL(ANALOG, 1, co, "CRITICAL: no fxo_dialtone_detection_timeout for analog port %i", port);
        return -1;
    }
    int seconds = atoi(buf);
    if (seconds > 0)
        analog_arm_timer(&co->dialtone_detection_timer, seconds, 0, T_EVENT_DIALTONE_DETECTION_TIMEOUT);
    else
        analog_arm_timer(&co->dialtone_detection_timer, 0, 100000, T_EVENT_DIALTONE_DETECTION_TIMEOUT);
    return 0;
}

} // namespace

int get_free_analog_port_by_dialplan_string(call_object *co, const char *target, int *ports_down)
{
    int down = 0;
    if (ports_down)
        *ports_down = 0;
    if (!co || !target || !gp || !gp->analog_info)
        return 0;
    bool from_group = group_target(target);
    std::vector<int> order;
    if (from_group) {
        if (!group_order(target + 2, &order))
            return 0;
    } else {
        list_order(target, &order);
    }
    if (order.empty())
        return 0;
    analog_proc_info states[ANALOG_PORT_TABLE] = {};
    read_analog_state(states);
    int taken = 0;
    for (int port : order) {
        if (port < ANALOG_PORT_MIN || port > ANALOG_PORT_MAX)
            continue;
        if (fxo_port_down(port, states)) {
            down++;
            continue;
        }
        if (port_free(port, from_group)) {
            taken = port;
            break;
        }
    }
    if (ports_down)
        *ports_down = down;
    if (taken)
        take_port(co, taken);
    return taken;
}

int init_incoming_sip_to_analog_call(const char *network_ip, int network_port, nua_event_t event, int status,
                                     char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh,
                                     call_object *co, sip_t const *sip)
{
    (void)network_ip, (void)network_port, (void)event, (void)status, (void)phrase, (void)magic, (void)sip;
    // 1.
    co->callinfo = CI_SIP_TO_ANALOG;
    int ports_down = 0;
    int port = get_free_analog_port_by_dialplan_string(co, co->dp ? co->dp->to_id : "", &ports_down);
    if (!port && co->dp && co->dp->cc && co->dp->cc->dialplan_go_on)
        return -1;
    // 2.
    if (!port) {
        refuse_no_port(co, nua, nh, ports_down);
        return 0;
    }
    // 3.
    if (uint32_t *slot = callstat_port(gp->callstat.counter_sip_to_analog_port, port))
        (*slot)++;
    char tones[64];
    if (analog_port_setting(port, CFG_ANALOG_PORT_TONES, tones, sizeof tones) != 0) {
        LOGD_CALL(ANALOG, 1, co, "CRITICAL: Could not read tones data");
        // Answered, so the caller does not wait for a call that never comes.
        refuse_no_port(co, nua, nh, 0);
        return 0;
    }
    dialplan_mangle_names_sip_to_analog(co);
    const mangled_sip_to_pstn &m = co->mangled.sip_to_pstn;
    copy_field(co->analog_oad, m.oad);
    copy_field(co->analog_display, m.display);
    copy_field(co->analog_dad, m.dad);
    const char *clir = co->cc_destination ? co->cc_destination->clir_on_oad : "";
    if (clir[0] && strcmp(co->analog_oad, clir) == 0) {
        LOGD_CALL(ANALOG, 3, co, "analog oad '%s' matches clir_on_oad", co->analog_oad);
        co->analog_oad[0] = '\0';
    } else if (co->f.sip_privacy) {
        co->analog_oad[0] = '\0';
    }
    LOGD_CALL(ANALOG, 1, co, "Got Analog port %i", port);
    // 4. 5.
    int r = analog_port_is_fxo(port) ? start_fxo(co, port) : start_fxs(co, port);
    if (r != 0) {
        give_port_back(co);
        return -1;
    }
    return 0;
}
