// Admission of a call that a GSM modem reports ringing: call object, SIP
// leg, modem port, timeslot and configuration of the port, and the
// GSM-to-SIP machine started with the incoming-call event.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "application.h"
#include "call_object.h"
#include "call_reset.h"
#include "call_statistics.h"
#include "confman.h"
#include "dialplan.h"
#include "gsm_events.h"
#include "gsm_lib.h"
#include "gsm_log.h"
#include "log.h"
#include "log_backend.h"
#include "mc_gsm_ports.h"
#include "media_start.h"
#include "pools.h"
#include "schema.h"
#include "sm_events.h"
#include "sm_run.h"
#include "state_tables.h"

namespace {

// The port section of the GSM file and its configuration string key.
constexpr int GSM_PORT_SECTION = 1;
// A modem port p is port 200 + p of the TDM map, channel 1.
constexpr int GSM_TDM_PORT_OFFSET = 200;

void count(uint32_t (&member)[CALLSTAT_PORTS], int port)
{
    if (uint32_t *slot = callstat_port(member, port))
        (*slot)++;
}

} // namespace

int init_incoming_gsm_call(gsm_command *cmd)
{
    if (!cmd || !gp)
        return -1;
    const int port = cmd->port;
    // 1.
    call_object *co = get_free_operation_handle(1);
    if (!co) {
        LOGM(GSM, LOG_MSG_ERROR, "%s E ERR : no free call objects left", gsm_cid(port).text);
        return -1;
    }
    // 2.
    LOGN(GSM, 0, "INCOMING CALL FROM GSM: PID %i", co->pid);
    co->cl_sip_out = get_new_sip_call_leg();
    co->cl_sip = co->cl_sip_out;
    if (!co->cl_sip_out) {
        LOGD_CALL(GSM, 0, co, "CRITICAL: no free SIP leg for the GSM call on port %i", port);
        reset_op(co);
        return -1;
    }
    // 3.
    if (!libgsm_port_fetch(port)) {
        mc_gsm_list_port_state(stdout);
        LOGD_CALL(GSM, 0, co, "CRITICAL: GSM port already marked as IN_USE");
    }
    // 4.
    gp->callstat.counter_pstn_to_sip++;
    count(gp->callstat.counter_gsm_to_sip_port, port);
    co->cdr.from = TECH_GSM;
    co->cdr.call_start = time(nullptr);
    cc_init_call_configuration(&co->cc);
    co->gsm_port = port;
    co->callinfo = CI_GSM_TO_SIP;
    // 5.
    co->tdm_logical_timeslot = get_logical_timeslot(co, GSM_TDM_PORT_OFFSET + port, 1);
    LOGD_CALL(GSM, 9, co, "got logical timeslot %i for port %i channel %i", co->tdm_logical_timeslot,
              GSM_TDM_PORT_OFFSET + port, 1);
    // 6.
    char options[4096] = "";
    if (cm_get(gp->config_gsm, options, sizeof options, GSM_PORT_SECTION, CFG_GSM_PORT_CONFIG, port) != 0) {
        co->cdr.terminated_by = 0;
        // Nothing else would give back the call object and the port.
        LOGD_CALL(GSM, 0, co, "CRITICAL: GSM port %i has no call configuration, call refused", port);
        reset_op(co);
        return -1;
    }
    // 7.
    call_configuration *source = cc_parse_call_configuration_pool(co, options);
    cc_release_call_configuration(co->cc_source);
    co->cc_source = source;
    co->sm = create_statemachine_gsm_to_sip(co, SM_INACTIVE, tarn_gsm_send_event);
    if (!co->sm) {
        LOGD_CALL(GSM, 0, co, "CRITICAL: no state machine for the GSM call");
        reset_op(co);
        return -1;
    }
    co->sm_state = SM_INACTIVE;
    // 8.
    LOGM(GSM, LOG_MSG_NOTICE | 1, "%s G IND: RING (incoming GSM Call) on port %i => oad=%s", cinfo(co), port,
         co->gsm_oad);
    _verbose_msg(__FILE__, __LINE__, __func__, "G RING|INDICATION|CID=%05i<br>port=%i, oad=%s\n", co->pid, port,
                 co->gsm_oad);
    // 9.
    if (!co->gsm_oad[0] && co->cc_source && co->cc_source->clir_on_oad[0])
        snprintf(co->gsm_oad, 64, "%s", co->cc_source->clir_on_oad);
    // 10.
    do_statemachine_run(co, sm_general(GENERAL_EVENT_GSM_INIT_INCOMING), 0);
    gsm_finish_machine_run(co);
    return 0;
}
