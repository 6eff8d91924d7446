#include "analog_watchdog.h"

#include <strings.h>

#include <atomic>

#include "application.h"
#include "call_lookups.h"
#include "housekeeping.h"
#include "line_bringup.h"
#include "log.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "rtp_ports.h"
#include "tdm_settings.h"

static analog_watchdog_hooks hooks;

void analog_watchdog_set_hooks(const analog_watchdog_hooks *h)
{
    if (!h) {
        hooks = analog_watchdog_hooks{};
        return;
    }
    // Call control and the media channel control each fill their own.
    if (h->create_statemachine_fxo_to_sip)
        hooks.create_statemachine_fxo_to_sip = h->create_statemachine_fxo_to_sip;
    if (h->call_msp_setup_voice_channel)
        hooks.call_msp_setup_voice_channel = h->call_msp_setup_voice_channel;
}

static int port_type(int port)
{
    const analog_port_info *ai = gp ? gp->analog_info : nullptr;
    if (!ai || port < 1 || port > ai->size || port >= ANALOG_INFO_PORTS)
        return 0;
    return ai->type[port];
}

int analog_port_is_fxo(int port) { return port_type(port) == 2 ? 1 : 0; }
int analog_port_is_fxs(int port) { return port_type(port) == 1 ? 1 : 0; }

int analog_cid_mode_of(const char *text)
{
    if (text && strcasecmp(text, "etsi-dtmf") == 0)
        return CID_MODE_ETSI_DTMF;
    if (text && strcasecmp(text, "etsi-dtmf-ar") == 0)
        return CID_MODE_ETSI_DTMF_AR;
    return CID_MODE_BELLCORE;
}

int init_analog_watchdog()
{
    if (!gp || !gp->analog_info)
        return 0;
    for (int port : configured_port_numbers(gp->config_analog)) {
        if (port < 1 || port >= ANALOG_INFO_PORTS)
            continue;
        gp->analog_info->cid_mode[port] = CID_MODE_BELLCORE;
        if (analog_port_is_fxo(port)) {
            const port_group_analog *g = pg_get_port_group_analog_by_port(port);
            gp->analog_info->cid_mode[port] = analog_cid_mode_of(g ? g->fxo_cid_detection_mode : nullptr);
        }
        start_analog_watchdog_on_port(port, 1);
    }
    return 0;
}

// The logical timeslot of a port and channel in the TDM map, -1 for none.
static int logical_timeslot_of(int port, int channel)
{
    const tdm_settings &t = gp->tdm_map;
    for (int i = 0; i < t.timeslot_size; i++)
        if (t.timeslots[i].port == port && t.timeslots[i].channel == channel)
            return t.timeslots[i].logical_timeslot;
    return -1;
}

enum { ANALOG_TDM_PORT_OFFSET = 100 };

// A call object waiting on the port; the caller holds global_lock.
static void park(int port)
{
    if (get_operation_by_analog_port(port))
        return;
    call_object *co = get_free_operation_handle(1);
    if (!co)
        return;
    co->callinfo = CI_ANALOG_TO_SIP;
    co->analog_port = port;
    co->sm = hooks.create_statemachine_fxo_to_sip(co, SM_ANALOG_FXO_CID_WATCHDOG);
    co->sm_state = SM_ANALOG_FXO_CID_WATCHDOG;
    co->f.dummy_rtp = 1;
    co->tdm_logical_timeslot = logical_timeslot_of(port + ANALOG_TDM_PORT_OFFSET, 1);
    call_leg_sip *leg = get_new_sip_call_leg();
    if (leg)
        update_rtp_port(co, leg);
    co->cl_sip = co->cl_sip_out = leg;
    hooks.call_msp_setup_voice_channel(co, 1);
}

void start_analog_watchdog_on_port(int port, int lock)
{
    if (!analog_port_is_fxo(port))
        return;
    int mode = gp->analog_info->cid_mode[port];
    if (mode != CID_MODE_BELLCORE && mode != CID_MODE_ETSI_DTMF)
        return;
    // The stop ends every call and waits for the media processor's channels
    // to be freed: a watchdog parked again would hold one until the end.
    if (__atomic_load_n(&gp->reject_calls, __ATOMIC_ACQUIRE) == REJECT_CALLS_STOPPING)
        return;
    LOGD(ANALOG, 5, nullptr, "Starting Analog CID watchdog on port %i", port);
    if (!hooks.create_statemachine_fxo_to_sip || !hooks.call_msp_setup_voice_channel) {
        static std::atomic<bool> said;
        if (!said.exchange(true))
            LOGD(ANALOG, 2, nullptr, "caller-ID watchdog calls are not available in this build");
        return;
    }
    pthread_mutex_t *global = lock && g_lock_manager ? g_lock_manager->global_lock : nullptr;
    if (global)
        pthread_mutex_lock(global);
    park(port);
    if (global)
        pthread_mutex_unlock(global);
}
