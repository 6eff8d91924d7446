// SIP calls toward a CAS channel: the channel of the dial plan line's group
// in the group's order, the refusal when none is free, the numbers for the
// line and the SIP-to-CAS machine of the channel's signalling.
#include <sofia-sip/nua.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "analog_callctl.h"
#include "analog_callctl_internal.h"
#include "application.h"
#include "call_object.h"
#include "call_statistics.h"
#include "cas_callctl.h"
#include "cas_callctl_internal.h"
#include "dialplan.h"
#include "dialplan_mangle.h"
#include "log.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "schema.h"
#include "sip_admission_internal.h"
#include "sm_defs.h"
#include "sm_run.h"
#include "state_tables.h"
#include "statemachine.h"
#include "t1e1casctl.h"
#include "timer.h"

namespace {

enum { FXO_DIALTONE_WAIT_S = 2, CAUSE_NO_CAS_CHANNEL = 914, NO_CHANNEL_REASON = 15 };

bool has_non_digit(const char *s)
{
    for (; *s; s++)
        if (!isdigit((unsigned char)*s))
            return true;
    return false;
}

void copy_number(char *dst, const char *src)
{
    snprintf(dst, CAS_NUMBER_FIELD, "%.63s", src ? src : "");
}

} // namespace

int cas_channel_order(int method, int direction, int count, int32_t *next_index, int *order)
{
    if (count <= 0)
        return 0;
    int start = 0;
    if (method == CHANSEL_ROUNDROBIN) {
        start = ((*next_index % count) + count) % count;
        *next_index = (start + 1) % count;
    } else if (method == CHANSEL_RANDOM) {
        srand((unsigned)time(nullptr));
        start = rand() % count;
    }
    for (int k = 0; k < count; k++) {
        int idx = (start + k) % count;
        order[k] = direction == CHANSEL_DIRECTION_DESCENDING ? count - 1 - idx : idx;
    }
    return count;
}

int get_free_cas_port_by_dialplan_string(call_object *co, const char *target)
{
    if (!co || !target || strlen(target) <= 2 || (target[0] != 'G' && target[0] != 'g') || target[1] != ':')
        return -1;
    port_group_cas *g = pg_get_port_group_cas_by_name(target + 2);
    if (!g) {
        LOGD(CAS, 1, nullptr, "CRITICAL: Couldn't find cas port group with name %s", target + 2);
        return -1;
    }
    if (g->port_count <= 0 || !g->port_settings)
        return -1;
    int order[PG_CAS_PORT_MAX + 1];
    int count = g->port_count > PG_CAS_PORT_MAX + 1 ? PG_CAS_PORT_MAX + 1 : g->port_count;
    count = cas_channel_order(g->chansel_method, g->chansel_direction, count, &g->next_chansel_port_index, order);
    for (int k = 0; k < count; k++) {
        int port = g->port_settings[order[k]].port;
        int got = cas_fetch_port(port);
        printf("FCHAN %i\n", got);
        if (got > 0) {
            printf("UPORT1 %i\n", got);
            cas_set_direction(got, CAS_DIRECTION_OUTBOUND);
            co->cas_port = got;
            return got;
        }
    }
    return -1;
}

int init_incoming_sip_to_cas_call(const char *network_ip, int network_port, nua_event_t event, int status,
                                  char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh,
                                  call_object *co, sip_t const *sip)
{
    (void)network_ip, (void)network_port, (void)event, (void)status, (void)phrase, (void)magic, (void)sip;
    // 1.
    co->callinfo = CI_SIP_TO_CAS;
    int port = get_free_cas_port_by_dialplan_string(co, co->dp ? co->dp->to_id : "");
    // 2.
    if (port < 0) {
        if (co->dp && co->dp->cc && co->dp->cc->dialplan_go_on)
            return -1;
        LOGD_CALL(CAS, 1, co, "couldn't get free cas port");
        co->special_termination_reason = NO_CHANNEL_REASON;
        refuse_line_call(co, nua, nh, CAUSE_NO_CAS_CHANNEL, 0, nullptr, &gp->callstat.counter_sip_to_cas_port[0]);
        return 0;
    }
    // 3.
    if (uint32_t *slot = callstat_port(gp->callstat.counter_sip_to_cas_port, port))
        (*slot)++;
    co->cas_port_stored = port;
    char tones[64];
    if (cas_port_setting(port, CFG_CAS_PORT_TONES, tones, sizeof tones) != 0) {
        LOGD_CALL(CAS, 1, co, "CRITICAL: Could not read tones data");
        // The request is answered and the channel given back with the call.
        refuse_line_call(co, nua, nh, CAUSE_NO_CAS_CHANNEL, 0, nullptr, nullptr);
        return 0;
    }
    dialplan_mangle_names_sip_to_cas(co);
    const mangled_sip_to_pstn &m = co->mangled.sip_to_pstn;
    copy_number(co->cas_display, m.display);
    // The line takes the call's new source and destination; a caller that
    // clir_on_oad or privacy hides stays hidden (the checks come last).
    copy_number(co->cas_oad, co->new_source);
    copy_number(co->cas_dad, co->new_destination);
    const char *clir = co->cc_destination ? co->cc_destination->clir_on_oad : "";
    if (clir[0] && strcmp(co->cas_oad, clir) == 0) {
        LOGD_CALL(CAS, 3, co, "cas oad '%s' matches clir_on_oad", co->cas_oad);
        co->cas_oad[0] = '\0';
    }
    if (co->f.sip_privacy)
        co->cas_oad[0] = '\0';
    int signalling = cas_get_signalling(port);
    LOGD(CAS, 0, cinfo(co), "Got CAS port %i signal %s", port, cas_print_signalling(signalling));
    // 4.
    switch (signalling) {
    case CAS_SIGNALLING_T1_FXSKS:
        verbose_cas_send_event(port, CAS_EVENT_RINGING_START);
        co->sm = create_statemachine_sip_to_cas_fxs(co, SM_CAS_RINGING, tarn_cas_send_event);
        co->sm_state = SM_CAS_RINGING;
        // The table's rows take the start of a ringing line as the analog
        // tables name it.
        do_statemachine_run(co, sm_general(GENERAL_EVENT_ANALOG_INIT_INCOMING), 0);
        analog_arm_caller_id_timer(co);
        break;
    case CAS_SIGNALLING_T1_FXOKS:
        co->sm = create_statemachine_sip_to_cas_fxo(co, SM_SIP_INVITE_RECEIVED, tarn_cas_send_event);
        analog_arm_timer(&co->dialtone_detection_timer, FXO_DIALTONE_WAIT_S, 0, T_EVENT_DIALTONE_DETECTION_TIMEOUT);
        break;
    case CAS_SIGNALLING_E1_MFCR2:
        if (has_non_digit(co->cas_oad))
            co->cas_oad[0] = '\0';
        if (has_non_digit(co->cas_dad))
            co->cas_dad[0] = '\0';
        co->f.dummy_rtp = 1;
        co->sm = create_statemachine_sip_to_cas_fxo(co, SM_CAS_MF_SIGNALLING, tarn_cas_send_event);
        co->sm_state = SM_CAS_MF_SIGNALLING;
        break;
    default:
        LOGD_CALL(CAS, 0, co, "CRITICAL: CAS port %i has no signalling", port);
        refuse_line_call(co, nua, nh, CAUSE_NO_CAS_CHANNEL, 0, nullptr, nullptr);
        return 0;
    }
    if (!co->sm) {
        LOGD_CALL(CAS, 0, co, "CRITICAL: no state machine for the CAS call");
        refuse_line_call(co, nua, nh, CAUSE_NO_CAS_CHANNEL, 0, nullptr, nullptr);
        return 0;
    }
    // 5.
    return 0;
}
