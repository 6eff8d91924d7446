// Admission of an incoming ISDN call: the SETUP that the event callback
// hands over becomes a call object with its outgoing SIP leg, its ISDN-to-SIP
// machine in a dialling state and its dial timer, and runs the machine with
// the SETUP.
#include "isdn_admission.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "application.h"
#include "call_object.h"
#include "call_reset.h"
#include "call_statistics.h"
#include "causes.h"
#include "confman.h"
#include "isdn_events.h"
#include "isdn_lib.h"
#include "log.h"
#include "log_backend.h"
#include "media_start.h"
#include "misdn_bchannel.h"
#include "msp_resource.h"
#include "pools.h"
#include "proxy_def.h"
#include "schema.h"
#include "sm_defs.h"
#include "sm_run.h"
#include "sm_tasks.h"
#include "state_tables.h"
#include "statemachine.h"
#include "timer.h"
#include "xdv_headers.h"

namespace {

enum { PORT_SECTION = 1 };

// A port setting of tarn.isdn; false when the port has none.
bool port_setting(int port, int key, char *buf, size_t size)
{
    buf[0] = '\0';
    return gp->config_isdn && cm_get(gp->config_isdn, buf, size, PORT_SECTION, key, port) == 0;
}

void copy_text(char *dst, size_t size, const char *src)
{
    snprintf(dst, size, "%s", src ? src : "");
}

void remove_timer(kv_timer *&t)
{
    if (t) {
        timer_remove(t);
        t = nullptr;
    }
}

// A refusal once the call object is taken: RELEASE COMPLETE on the
// B-channel, and the object back to the pool with its machine and timers.
int refuse(call_object *co, misdn_bchannel *bc)
{
    co->cdr.terminated_by = 0;
    tarn_misdn_lib_send_event(co, EVENT_RELEASE_COMPLETE);
    if (co->sm) {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
    }
    remove_timer(co->timer);
    LOGD_CALL(ISDN, 5, co, "refused: calling reset_op for %p", (void *)co);
    reset_op(co);
    (void)bc;
    return -1;
}

} // namespace

int init_incoming_isdn_call(misdn_bchannel *bc)
{
    // 1.
    if (gp->reject_calls) {
        misdn_lib_send_event(bc, EVENT_RELEASE);
        LOGD(ISDN, 3, nullptr, "Rejecting incoming ISDN call => tarn shutting down");
        return -1;
    }
    // 2. 3.
    call_object *co = get_free_operation_handle(0);
    if (!co)
        return -1;
    LOGN(ISDN, 0, "INCOMING CALL FROM ISDN: PID %i", bc->pid);

    // 4. 5. 6.
    parse_isdn_userusername(bc);
    co->cl_sip_out = get_new_sip_call_leg();
    co->cl_sip = co->cl_sip_out;
    if (!bc->oad2[0]) {
        copy_text(bc->oad2, sizeof bc->oad2, bc->oad);
        bc->o2ton = bc->oton;
        bc->o2pres = bc->pres;
        bc->o2screen = bc->screen;
    }
    // 7.
    ton_statistics_count(&gp->ton_statistics, bc->port, bc->oton, bc->oad, bc->dton, bc->dad);
    // 8.
    if (bc->uulen > 0) {
        ecall_parsed ecall{};
        parse_user_information_ecall(co, bc, &ecall);
    }

    // 9.
    gp->callstat.counter_pstn_to_sip++;
    if (bc->port >= 0 && bc->port < CALLSTAT_PORTS)
        gp->callstat.counter_isdn_to_sip_port[bc->port]++;
    co->counteri = 2;
    co->pid = bc->pid;
    co->legi->events_received[LEGI_SETUP] = 1;
    co->cdr.from = 2;
    co->cdr.call_start = time(nullptr);
    co->bc_port = bc->port;
    co->callinfo = CI_ISDN_TO_SIP;
    co->bc = bc;

    // 10.
    char buf[256];
    if (!port_setting(bc->port, CFG_ISDN_PORT_OVERLAP_DIALING, buf, sizeof buf))
        snprintf(buf, sizeof buf, "0");
    if (!bc->sending_complete && (!strcasecmp(buf, "yes") || !strcasecmp(buf, "1")))
        co->f.overlap_dialing = 1;

    // 11.
    LOGD_CALL(ISDN, 5, co, "initializing ISDN to SIP call");
    co->sm = create_statemachine_isdn_to_sip(co, co->f.overlap_dialing ? SM_ISDN_WAIT_FOR_DIALING_OD
                                                                       : SM_ISDN_WAIT_FOR_DIALING,
                                             tarn_send_event);
    if (!co->sm)
        return refuse(co, bc);

    // 12.
    if (msp_request_resource(co, &co->msp_resources_reserved, MSPRES_G711_20) != 0) {
        int cause = 0;
        const char *text = nullptr;
        get_reject_cause(TECH_ISDN, TECH_SIP, 901, &cause, &text);
        bc->out_cause = cause;
        return refuse(co, bc);
    }

    // 13.
    cc_init_call_configuration(&co->cc);
    if (!port_setting(bc->port, CFG_ISDN_PORT_CONFIG, buf, sizeof buf))
        return refuse(co, bc);
    call_configuration *source = cc_parse_call_configuration_pool(co, buf); // one reference, the slot's
    cc_release_call_configuration(co->cc_source);
    co->cc_source = source;
    if ((!bc->oad[0] || bc->pres == 1) && co->cc_source && co->cc_source->clir_on_oad[0])
        copy_text(bc->oad, sizeof bc->oad, co->cc_source->clir_on_oad);

    // 14.
    if (!port_setting(bc->port, CFG_ISDN_PORT_OVERLAP_DIALING, buf, sizeof buf))
        return refuse(co, bc);
    if (co->f.overlap_dialing) {
        free_address_info(co->cl_sip_out->address_info);
        co->cl_sip_out->address_info = create_dummy_address_info();
    } else {
        LOGD_CALL(ISDN, 5, co, "initializing timer for co %p (index %i)!", (void *)co, co->index);
        if (port_setting(bc->port, CFG_ISDN_PORT_INTERDIGIT_TIMEOUT, buf, sizeof buf))
            co->overlap_dialing_timeout = atoi(buf) < 0 ? 0 : atoi(buf);
        bool have_initial = port_setting(bc->port, CFG_ISDN_PORT_INTERDIGIT_TIMEOUT_INITIAL, buf, sizeof buf);
        co->overlap_dialing_initial_timeout = have_initial && atoi(buf) > 0 ? atoi(buf) : 0;
        if (!bc->nt)
            co->overlap_dialing_initial_timeout = co->overlap_dialing_timeout;
        if (!bc->sending_complete) {
            kv_timer *t = (kv_timer *)calloc(1, sizeof *t);
            if (t) {
                t->tv.tv_sec = co->overlap_dialing_initial_timeout;
                // the timer service wants at least one tick
                t->tv.tv_usec = co->overlap_dialing_initial_timeout > 0 ? 0 : 10000;
                if (timer_add(cb_timer_event, T_EVENT_DIALING, t) == 0)
                    co->timer = t;
                else
                    free(t);
            }
        }
        if (!have_initial)
            return refuse(co, bc);
    }

    // 15.
    if (!port_setting(bc->port, CFG_ISDN_PORT_CONFIG, buf, sizeof buf))
        return refuse(co, bc);
    co->tdm_logical_timeslot = get_logical_timeslot(co, bc->port, bc->channel);
    LOGD_CALL(ISDN, 9, co, "got logical timeslot %i for port %i channel %i", co->tdm_logical_timeslot, bc->port,
              bc->channel);
    co->bc_channel = bc->channel;
    _verbose_msg(__FILE__, __LINE__, __func__,
                 "I SETUP|INDICATION|CID=%05i<br>port=%d, channel=%d<br>dad=%s, dton=%i<br>oad=%s, oton=%i\n",
                 co->pid, bc->port, bc->channel, bc->dad, bc->dton, bc->oad, bc->oton);

    // 16.
    do_statemachine_run(co, sm_isdn(bc->sending_complete ? ISDN_STATUS_SENDING_COMPLETE : 0, EVENT_SETUP), 0);
    if (co->sm) {
        uint32_t state = (uint32_t)statemachine_get_state(co->sm);
        if (state == SM_DESTROYING) {
            statemachine_destroy(co->sm);
            co->sm = nullptr;
            LOGD_CALL(TARN, 5, co, "calling reset_op for %p", (void *)co);
            reset_op(co);
        } else if (state == SM_DISMANTLING) {
            start_dismantling_timer(co);
        }
    }
    return RESPONSE_OK;
}
