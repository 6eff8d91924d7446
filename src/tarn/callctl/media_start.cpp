// Media channel start, stop and bridging of a call.
#include "media_start.h"

#include <pthread.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "application.h"
#include "call_configuration.h"
#include "call_leg_sip.h"
#include "call_lookups.h"
#include "call_object.h"
#include "call_services.h"
#include "confman.h"
#include "global_lock.h"
#include "isdn_lib.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "msp_resource.h"
#include "pools.h"
#include "rtp_ports.h"
#include "schema.h"
#include "sdp_offer_answer.h"
#include "tdm_settings.h"

namespace {

enum { PORT_SECTION = 1, PCM_BRIDGING_PORT = 100 };

media_start_hooks hooks;

enum hook_id { H_VOICE, H_MF, H_T38, H_STOP_VOICE, H_STOP_T38, H_STOP_HDLC, H_STOP_TONE, H_BRIDGE, H_REMOTE, H_PCM, H_N };
bool hook_logged[H_N];

bool ready(const void *fn, hook_id id, const char *name)
{
    if (fn)
        return true;
    if (!hook_logged[id]) {
        hook_logged[id] = true;
        LOGD(TARN, 2, "", "%s not connected: step skipped", name);
    }
    return false;
}

#define CALL_HOOK(id, name, ...) (ready((const void *)hooks.name, id, #name) ? hooks.name(__VA_ARGS__) : -1)

const timeslot_def *map_entry(int port, int channel)
{
    if (!gp)
        return nullptr;
    const tdm_settings &m = gp->tdm_map;
    for (int i = 0; i < m.timeslot_size && i < TDM_TIMESLOT_ROOM; i++)
        if (m.timeslots[i].port == port && m.timeslots[i].channel == channel)
            return &m.timeslots[i];
    return nullptr;
}

const timeslot_def *map_entry_by_logical(int timeslot)
{
    if (!gp || timeslot < 0)
        return nullptr;
    const tdm_settings &m = gp->tdm_map;
    for (int i = 0; i < m.timeslot_size && i < TDM_TIMESLOT_ROOM; i++)
        if (m.timeslots[i].logical_timeslot == timeslot)
            return &m.timeslots[i];
    return nullptr;
}

bool in_range(int port, int start, int stop)
{
    return start > 0 && port >= start && port <= stop;
}

// The self-call test: the leg's far side is this gateway's own media
// (a re-INVITE to ourself). The address of the gateway's own is replaced by
// the media processor's.
bool far_end_is_ourself(call_object *co, call_leg_sip *cl)
{
    if (!gp || !cl)
        return false;
    const RTP_ports *r = gp->rtp_ports;
    int port = cl->rtp_remote_port;
    bool ours = r && (in_range(port, r->lostart, r->lostop) || in_range(port, r->lanstart, r->lanstop) ||
                      in_range(port, r->wanstart, r->wanstop));
    const network_config &n = gp->netconf;
    bool loop = false;
    if (ours) {
        const char *ip = cl->rtp_remote_ip;
        if ((n.host_ip_lan[0] && strcmp(ip, n.host_ip_lan) == 0) || (n.host_ip_wan[0] && strcmp(ip, n.host_ip_wan) == 0) ||
            (cl->using_ip[0] && strcmp(ip, cl->using_ip) == 0)) {
            snprintf(cl->rtp_remote_ip, sizeof cl->rtp_remote_ip, "%s", n.msp_devip);
            loop = true;
        } else if ((n.msp_devip[0] && strcmp(ip, n.msp_devip) == 0) || strcmp(ip, "127.0.0.1") == 0) {
            loop = true;
        }
    }
    LOGD_CALL(TARN, 5, co, "%s to ourself: remip %s -- hostip %s -- mspip %s coip %s",
              loop ? "Got reinvite" : "No reinvite", cl->rtp_remote_ip, n.host_ip_lan, n.msp_devip, cl->using_ip);
    return loop;
}

bool is_waiting_kind(const call_object *co)
{
    return co->callinfo == CI_SIP_TO_ANALOG || co->callinfo == CI_SIP_TO_ISDN || co->callinfo == CI_SIP_TO_GSM;
}

void setup_voice_or_mf(call_object *co)
{
    if (co->callinfo == CI_SIP_TO_CAS && (co->sm_state & (uint32_t)SM_CAS_MF_SIGNALLING) && co->cas_dialing_performed == 0)
        CALL_HOOK(H_MF, call_msp_setup_mf_channel, co, 1);
    else
        CALL_HOOK(H_VOICE, call_msp_setup_voice_channel, co, 1);
}

// The self-call joining of two local calls; the result of the bridging
// test (for the log of the caller).
enum self_result { SELF_NO_PARTNER, SELF_BRIDGED, SELF_ALREADY, SELF_NOT_NOW };

self_result join_self_call(call_object *co, call_leg_sip *cl, int *allowed_out)
{
    call_object *other = get_operation_by_rtp_local_port(cl->rtp_remote_port);
    *allowed_out = 0;
    if (!other) {
        LOGD_CALL(TARN, 0, co, "CRITICAL: reinvite to ourself, but cannot find other call object");
        return SELF_NO_PARTNER;
    }
    int allowed = other != co ? is_bridging_allowed(co, other) : 0;
    *allowed_out = allowed;
    if (other != co && (co->msp_state & MSP_VOICE_ACTIVE) && (other->msp_state & MSP_VOICE_ACTIVE) && allowed) {
        LOGD_CALL(TARN, 3, co, "BRIDGING co %p otherco %p (%s)", (void *)co, (void *)other, cinfo(other));
        CALL_HOOK(H_BRIDGE, bridge_tdm, co, other);
        if (co->cc.facility_passthrough || other->cc.facility_passthrough) {
            co->f.facility_passthrough = 1;
            other->f.facility_passthrough = 1;
        }
        co->f.start_streaming = 0;
        return SELF_BRIDGED;
    }
    if (co->msp_state & MSP_BRIDGED) {
        LOGD_CALL(TARN, 3, co, "we are already bridged co %p otherco %p (%s)", (void *)co, (void *)other,
                  cinfo(other));
        co->f.start_streaming = 0;
        return SELF_ALREADY;
    }
    (void)allowed;
    return SELF_NOT_NOW;
}

// The analog port's dial-tone passthrough setting is on ("yes" or "1").
bool dialtone_passthrough_on(const call_object *co)
{
    int port = co->analog_port & 0x7ff;
    char buf[32] = "";
    if (!gp || !gp->config_analog || port <= 0 ||
        cm_get(gp->config_analog, buf, sizeof buf, PORT_SECTION, CFG_ANALOG_PORT_FXO_DIALTONE_PASSTHROUGH, port) != 0)
        return false;
    return strcasecmp(buf, "yes") == 0 || strcasecmp(buf, "1") == 0;
}

} // namespace

void media_start_set_hooks(const media_start_hooks *h)
{
    if (!h) {
        hooks = media_start_hooks{};
        return;
    }
#define TAKE(m)        \
    if (h->m)          \
        hooks.m = h->m;
    TAKE(call_msp_setup_voice_channel)
    TAKE(call_msp_setup_mf_channel)
    TAKE(setup_msp_t38_channel)
    TAKE(call_stop_msp_voice)
    TAKE(call_stop_msp_t38)
    TAKE(stop_msp_hdlc)
    TAKE(call_stop_msp_tone)
    TAKE(bridge_tdm)
    TAKE(bridge_remote_tdm)
    TAKE(pcm_table_find)
#undef TAKE
}

// ---- timeslots -------------------------------------------------------------------------

int get_logical_timeslot(call_object *, int port, int channel)
{
    const timeslot_def *t = map_entry(port, channel);
    return t ? t->logical_timeslot : -1;
}

int get_port_and_channel_from_logical_timeslot(int timeslot, int *port_out, int *channel_out)
{
    const timeslot_def *t = map_entry_by_logical(timeslot);
    if (!t)
        return -1;
    if (port_out)
        *port_out = t->port;
    if (channel_out)
        *channel_out = t->channel;
    return 0;
}

int get_bus_by_logical_timeslot(int timeslot)
{
    const timeslot_def *t = map_entry_by_logical(timeslot);
    return t ? t->bus : -1;
}

int get_logical_timeslot_for_pcm_bridging(call_object *co, int slot)
{
    return slot < 0 ? -1 : get_logical_timeslot(co, PCM_BRIDGING_PORT, slot);
}

int is_bridging_allowed(call_object *co, call_object *otherco)
{
    if (!co || !otherco || co->cc.disable_bridging || co->callinfo == CI_SIP_TO_SIP || otherco->callinfo == CI_INTERNAL)
        return 0;
    switch (gp ? gp->msp_bridging : 1) {
    case 2:
        return 1;
    case 1:
        return 0;
    default: {
        int a = get_bus_by_logical_timeslot(co->tdm_logical_timeslot);
        int b = get_bus_by_logical_timeslot(otherco->tdm_logical_timeslot);
        return a >= 0 && b >= 0 && a == b ? 1 : 0;
    }
    }
}

SM_ACTION(sm_msp_set_tdm_logical_timeslot)
{
    (void)arg;
    (void)state;
    (void)event;
    call_object *co = (call_object *)p;
    if (co->bc) {
        misdn_bchannel *bc = co->bc;
        int channel = bc->channel;
        if (co->tdm_logical_timeslot < 0 && channel > 0 && channel != 255 &&
            misdn_is_channel_assigned(bc, bc->port, channel)) {
            if (co->callinfo == CI_SIP_TO_ISDN || co->callinfo == CI_ISDN_TO_SIP || co->callinfo == CI_TELNET_TO_ISDN) {
                // Timeslots of a PRI skip the D-channel.
                int d = misdn_lib_get_dchannel(bc->port);
                if (d > 0 && d < channel)
                    channel--;
            }
            co->tdm_logical_timeslot = get_logical_timeslot(co, bc->port, channel);
            co->bc_channel = bc->channel;
        }
        return {-1, -1};
    }
    int analog = co->analog_port & 0x7ff;
    if (analog > 0) {
        co->tdm_logical_timeslot = get_logical_timeslot(co, 100 + analog, 1);
        LOGD_CALL(TARN, 5, co, "for co %p (index %i) -- setting logical timeslot %i for analog port %i!", (void *)co,
                  co->index, co->tdm_logical_timeslot, analog);
    } else if (co->gsm_port > 0) {
        co->tdm_logical_timeslot = get_logical_timeslot(co, 200 + co->gsm_port, 1);
        LOGD_CALL(TARN, 5, co, "for co %p (index %i) -- setting logical timeslot %i for gsm port %i!", (void *)co,
                  co->index, co->tdm_logical_timeslot, co->gsm_port);
    } else if (co->cas_port > 0) {
        co->tdm_logical_timeslot = get_logical_timeslot(co, 1000 + co->cas_port, 1);
        LOGD_CALL(TARN, 5, co, "for co %p (index %i) -- setting logical timeslot %i for cas port %i!", (void *)co,
                  co->index, co->tdm_logical_timeslot, co->cas_port);
    }
    return {-1, -1};
}

// ---- start -----------------------------------------------------------------------------

int _start_channel_processing(call_object *co)
{
    call_leg_sip *cl = co ? co->cl_sip : nullptr;
    if (!co)
        return 0;
    if (!co->f.dummy_rtp) {
        if (co->callinfo == CI_TELNET_TO_ISDN)
            co->f.start_streaming = 1;
        int ea = co->cc.early_audio;
        bool wait = is_waiting_kind(co) && !co->f.first_sdp_answered && co->sm_state != (uint32_t)SM_CALL_ACTIVE &&
                    !co->f.fxo_dialtone_passthrough && (ea == 0 || ea == 2);
        if (!co->f.start_streaming || (wait && !co->f.connection_established)) {
            LOGD_CALL(TARN, 5, co, "no reason to start streaming now, ss=%i,sfy=%i,ce=%i", (int)co->f.start_streaming,
                      wait ? 1 : 0, (int)co->f.connection_established);
            return 0;
        }
        if (co->tdm_logical_timeslot < 0) {
            LOGD_CALL(TARN, 5, co, "cannot start streaming now, no tdm timeslot yet");
            return 0;
        }
        if (!cl || cl->rtp_remote_port <= 0) {
            if (co->callinfo == CI_SIP_TO_ANALOG && co_get_analog_port_type(co) == 2 && co->f.got_invite_without_sdp) {
                co->f.dummy_rtp = 1;
            } else {
                LOGD_CALL(TARN, 5, co, "cannot start streaming now, no remote port yet");
                return 0;
            }
        } else if ((ea == 0 || ea == 3) && !co->f.connection_established && !co->f.fxo_dialtone_passthrough) {
            LOGD_CALL(TARN, 5, co, "cannot start streaming now, connection not established yet and early audio is off");
            return 0;
        }
    }
    int up = cl ? cl->using_payload : -1;
    if ((up >= 0 && up != SDP_PAYLOAD_HDLC && up != SDP_PAYLOAD_T38) || co->f.dummy_rtp) {
        if (cl && far_end_is_ourself(co, cl)) {
            int allowed = 0;
            self_result r = join_self_call(co, cl, &allowed);
            if (r == SELF_NOT_NOW) {
                call_object *other = get_operation_by_rtp_local_port(cl->rtp_remote_port);
                co->f.start_streaming = 0;
                setup_voice_or_mf(co);
                LOGD_CALL(TARN, 3, co, "reinvite to ourself, but cannot start bridging now (s1 %i, s2 %i, ba %i)",
                          (int)co->msp_state, other ? (int)other->msp_state : 0, allowed);
            }
            return 0;
        }
        co->f.start_streaming = 0;
        setup_voice_or_mf(co);
        return 0;
    }
    if (up == SDP_PAYLOAD_T38) {
        co->f.start_streaming = 0;
        CALL_HOOK(H_T38, setup_msp_t38_channel, co, 1);
    }
    return 0;
}

SM_ACTION(sm_msp_start_channel_processing)
{
    (void)arg;
    (void)state;
    (void)event;
    _start_channel_processing((call_object *)p);
    return {-1, -1};
}

// ---- stop ------------------------------------------------------------------------------

int call_stop_rtp(call_object *co, int lock_msp_queue)
{
    if (!co || co->f.transcoding_call)
        return 0;
    CALL_HOOK(H_STOP_VOICE, call_stop_msp_voice, co, lock_msp_queue);
    CALL_HOOK(H_STOP_T38, call_stop_msp_t38, co, lock_msp_queue);
    CALL_HOOK(H_STOP_HDLC, stop_msp_hdlc, co, lock_msp_queue);
    CALL_HOOK(H_STOP_TONE, call_stop_msp_tone, co, lock_msp_queue);
    return 0;
}

SM_ACTION(sm_msp_stop_rtp)
{
    (void)arg;
    (void)state;
    (void)event;
    call_stop_rtp((call_object *)p, 1);
    return {-1, -1};
}

SM_ACTION(sm_call_stop_dummy_rtp)
{
    (void)arg;
    (void)state;
    (void)event;
    call_object *co = (call_object *)p;
    if (co->f.dummy_rtp) {
        call_stop_rtp(co, 1);
        co->f.dummy_rtp = 0;
    }
    return {-1, -1};
}

SM_ACTION(sm_call_enable_dummy_rtp)
{
    (void)arg;
    (void)state;
    (void)event;
    ((call_object *)p)->f.dummy_rtp = 1;
    return {-1, -1};
}

SM_ACTION(sm_call_disable_dummy_rtp)
{
    (void)arg;
    (void)state;
    (void)event;
    call_object *co = (call_object *)p;
    if (co->f.dummy_rtp && co->msp_state)
        co->f.start_streaming = 1;
    co->f.dummy_rtp = 0;
    return {-1, -1};
}

SM_ACTION(sm_check_continue_if_dummy_rtp_if_dialtone_passthrough_is_enabled)
{
    (void)arg;
    (void)state;
    (void)event;
    if (dialtone_passthrough_on((call_object *)p))
        return {-2, -3};
    return {-1, -1};
}

SM_ACTION(sm_call_enable_dummy_rtp_if_dialtone_passthrough_is_disabled)
{
    (void)arg;
    (void)state;
    (void)event;
    call_object *co = (call_object *)p;
    if (!dialtone_passthrough_on(co)) {
        co->f.dummy_rtp = 1;
    } else {
        co->f.dummy_rtp = 0;
        co->f.fxo_dialtone_passthrough = 1;
        co->f.start_streaming = 1;
    }
    return {-1, -1};
}

// ---- bridging --------------------------------------------------------------------------

int is_remote_bridging_possible(call_object *co)
{
    call_leg_sip *cl = co ? co->cl_sip : nullptr;
    if (!cl || !gp || (!gp->run_pcm_server && !gp->run_pcm_client) || co->cc.disable_bridging)
        return -1;
    if (!ready((const void *)hooks.pcm_table_find, H_PCM, "pcm_table_find"))
        return -1;
    pthread_mutex_t *lock = g_lock_manager ? g_lock_manager->pcm_table_lock : nullptr;
    if (lock)
        pthread_mutex_lock(lock);
    int remote = hooks.pcm_table_find(cl->rtp_remote_ip, cl->rtp_remote_port);
    int local = hooks.pcm_table_find(gp->netconf.host_ip_lan, cl->rtp_local_port);
    if (lock)
        pthread_mutex_unlock(lock);
    if (remote < 0 || local < 0)
        return -1;
    switch (co->callinfo) {
    case CI_ANALOG_TO_SIP:
    case CI_ISDN_TO_SIP:
    case CI_CAS_TO_SIP:
        return local;
    case CI_SIP_TO_ANALOG:
    case CI_SIP_TO_ISDN:
    case CI_SIP_TO_CAS:
        return remote;
    default:
        return -1;
    }
}

SM_ACTION(sm_msp_bridge_if_we_can)
{
    (void)arg;
    (void)state;
    (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *cl = co->cl_sip;
    if (!cl)
        return {-1, -1};
    int slot = -1;
    if (!gp || strcmp(cl->rtp_remote_ip, gp->netconf.host_ip_lan) != 0)
        slot = is_remote_bridging_possible(co);
    if (slot >= 0) {
        co->remote_tdm_logical_timeslot = get_logical_timeslot_for_pcm_bridging(co, slot);
        if (CALL_HOOK(H_REMOTE, bridge_remote_tdm, co) < 0)
            co->remote_tdm_logical_timeslot = -1;
        return {-1, -1};
    }
    if (far_end_is_ourself(co, cl)) {
        int allowed = 0;
        join_self_call(co, cl, &allowed);
    }
    return {-1, -1};
}

// ---- loopback and SIP-to-SIP resources --------------------------------------------------

SM_ACTION(sm_prepare_rtp_loopback)
{
    (void)arg;
    (void)state;
    (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *cl = co->cl_sip;
    if (co->callinfo != CI_ISDN_TO_SIP || !co->cc.rtp_loopback || !cl)
        return {-1, -1};
    update_rtp_port(co, cl);
    co->cc.echo_cancel = 0;
    co->f.start_streaming = 1;
    cl->rtp_remote_port = cl->rtp_local_port;
    snprintf(cl->rtp_remote_ip, sizeof cl->rtp_remote_ip, "%s", gp ? gp->netconf.host_ip_lan : "");
    cl->using_codec = 8;
    cl->using_payload = 8;
    return {-1, -1};
}

SM_ACTION(sm_s2s_choose_codecs_and_reserve_resources)
{
    (void)arg;
    (void)state;
    (void)event;
    call_object *co = (call_object *)p;
    msp_release_all_resources(co, &co->msp_resources_reserved);
    if (co->f.no_rtp)
        return {-1, -1};
    bool transparent = co->f.transparent_call;
    if (!transparent && msp_request_resource(co, &co->msp_resources_reserved, MSPRES_G711_20) != 0) {
        LOGD_CALL(TARN, 1, co, "Rejecting call: not enough MSP resources");
        sip_refuse_leg_for_reason(co, co->cl_sip_in, 901, 4);
        return {SM_DESTROYING, -3};
    }
    call_object *buddy = get_transcoding_buddy(co);
    if (!buddy) {
        LOGD_CALL(TARN, 1, co, "Rejecting call: not enough call objects");
        sip_refuse_leg_for_reason(co, co->cl_sip_in, 903, 3);
        return {SM_DESTROYING, -3};
    }
    if (!transparent && msp_request_resource(buddy, &buddy->msp_resources_reserved, MSPRES_G711_20) != 0) {
        LOGD_CALL(TARN, 1, co, "Rejecting call: not enough MSP resources");
        sip_refuse_leg_for_reason(co, co->cl_sip_in, 901, 4);
        return {SM_DESTROYING, -3};
    }
    return {-1, -1};
}
