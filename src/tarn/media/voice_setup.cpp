// The voice channel of a call: set-up, re-pointing and stop.
#include <cstring>

#include "analog_watchdog.h"
#include "sm_defs.h"
#include "call_lookups.h"
#include "csm_codes.h"
#include "fpga.h"
#include "gsm_port.h"
#include "line_bringup.h"
#include "media_callctl.h"
#include "media_voice.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "network_config.h"
#include "pools.h"
#include "rtp_ports.h"
#include "t1e1casctl.h"
#include "voice_rows.h"

namespace {

constexpr int ANALOG_PORT_MARKER = 0x800;

struct codec_resource {
    int codec;
    int type;
};
// The DSP resource of each codec number.
const codec_resource codec_resources[] = {
    {0, MSPRES_G711_20}, {8, MSPRES_G711_20}, {2, MSPRES_G726_20}, {3, MSPRES_GSM_FR},
    {4, MSPRES_G723_1},  {9, MSPRES_G711_5},  {200, MSPRES_G711_5}, {18, MSPRES_G729a},
    {9999, MSPRES_T38},
};

// The analog port of a call without its marker bit, 0 outside the table.
int plain_analog_port(const call_object *co)
{
    int port = co->analog_port & ~ANALOG_PORT_MARKER;
    return gp->analog_info && port >= 1 && port < ANALOG_INFO_PORTS ? port : 0;
}

bool analog_cid_mode_zero(const call_object *co)
{
    int port = plain_analog_port(co);
    return port && gp->analog_info->cid_mode[port] == 0;
}

// Calls whose line may carry a caller ID before the call is answered.
bool wants_cid_detection(const call_object *co)
{
    if (co->callinfo == CI_ANALOG_TO_SIP) {
        if (co->analog_type == 2 && co->sm_state == (uint32_t)SM_INACTIVE && analog_cid_mode_zero(co))
            return true;
        return analog_port_is_fxo(co->analog_port & ~ANALOG_PORT_MARKER) && analog_cid_mode_zero(co) &&
               co->sm_state == (uint32_t)SM_ANALOG_FXO_CID_WATCHDOG;
    }
    return co->callinfo == CI_CAS_TO_SIP && cas_get_signalling(co->cas_port) == 2 && co->sm_state == (uint32_t)SM_INACTIVE;
}

void queue_cid_detection(voice_ctx &ctx)
{
    if (!wants_cid_detection(ctx.co))
        return;
    magic_csm m = voice_msg(FC_CNDDETCTL);
    if (csm_msg_is_null(m))
        return;
    m.u_csmchan_cnddetctl->hook_status = 0;
    m.u_csmchan_cnddetctl->caller_id_detection_feature_enable = ctx.dummy ? 1 : 0;
    voice_put(ctx, m);
}


bool started_unchanged(const call_object *co)
{
    const call_leg_sip *l = co->cl_sip;
    return co->cc.msp_no_channel_restart && l->rtp_local_port == l->rtp_local_port_started &&
           l->rtp_remote_port == l->rtp_remote_port_started && l->using_codec == l->using_codec_started &&
           strcmp(l->rtp_remote_ip, l->rtp_remote_ip_started) == 0;
}

void note_started(call_object *co)
{
    call_leg_sip *l = co->cl_sip;
    l->rtp_local_port_started = l->rtp_local_port;
    l->rtp_remote_port_started = l->rtp_remote_port;
    l->using_codec_started = l->using_codec;
    snprintf(l->rtp_remote_ip_started, sizeof l->rtp_remote_ip_started, "%s", l->rtp_remote_ip);
}

// Step 7: an LTE port carries G.722 when the call's codec is G.722.
void apply_lte_hd(call_object *co)
{
    int from_gsm = (co->callinfo >> 4) & 1;
    int to_gsm = (co->callinfo >> 15) & 1;
    int is_lte = co->gsm_port > 0 ? gsm_port_is_lte(co->gsm_port) : 0;
    const call_leg_sip *l = co->cl_sip;
    LOGD_CALL(TARN, 5, co,
              "LTE-HD DIAG: callinfo=0x%x from_gsm=%d to_gsm=%d gsm_port=%d is_lte=%d using_codec=%d using_payload=%d G722c=%d",
              (unsigned)co->callinfo, from_gsm, to_gsm, co->gsm_port, is_lte, l->using_codec, l->using_payload, 9);
    if ((from_gsm || to_gsm) && is_lte)
        tarn_lte_hd_apply(cinfo(co), co->gsm_port, l->using_codec == 9 ? 1 : 0);
}

bool timeslot_in_use(int timeslot, int lock_msp_queue)
{
    if (lock_msp_queue)
        msp_queue_lock_take();
    bool used = msp_is_timeslot_in_use(timeslot) != 0;
    if (lock_msp_queue)
        msp_queue_lock_release();
    return used;
}

constexpr uint32_t VOICE_BITS = MSP_VOICE_ACTIVE | MSP_BRIDGED | MSP_REMOTE_BRIDGED | MSP_MFSIGNALLING_ACTIVE;

void stop_bridge(call_object *co)
{
    call_object *partner = get_operation_by_bridged_call_object(co);
    if (partner && (partner->msp_state & MSP_BRIDGED)) {
        msp_release_all_resources(partner, &partner->msp_resources_active);
        media_queue_destroy(partner, partner->tdm_logical_timeslot);
        media_queue_destroy(co, co->tdm_logical_timeslot);
        partner->msp_state &= ~MSP_BRIDGED;
        co->msp_state &= ~MSP_BRIDGED;
        // The lock is held here: the partner's channel comes back at once.
        if (co->f.dummy_rtp)
            call_msp_setup_voice_channel(partner, 0);
        return;
    }
    media_queue_destroy(co, co->tdm_logical_timeslot);
    co->msp_state &= ~MSP_BRIDGED;
    LOGD(MSP, 0, cinfo(co), "CRITICAL: No matching partner co found for ending bridging\n");
}

} // namespace

// Step 8: another call still holding the timeslot loses it. The other call
// is stopped with the caller's lock flag: a caller with 0 already holds
// msp_queue_lock.
void voice_stop_clashing_calls(call_object *co, int lock_msp_queue)
{
    int ts = co->tdm_logical_timeslot;
    if (co->msp_state != 0 || !timeslot_in_use(ts, lock_msp_queue))
        return;
    for (int i = 0; i < OPERATIONARRAYSIZE; i++) {
        call_object *other = gp->operations[i];
        if (!other || other == co || other->tdm_logical_timeslot != ts)
            continue;
        LOGD_CALL(TARN, 0, co,
                  "CRITICAL: found other call at index %i using timeslot %i => stopping stream processing of other call (ocotdm %i)",
                  i, ts, other->tdm_logical_timeslot);
        media_call_stop_rtp(other, lock_msp_queue);
        other->tdm_logical_timeslot = -1;
    }
}

bool voice_timeslot_free(call_object *co)
{
    int ts = co->tdm_logical_timeslot;
    if (ts >= 0 && ts <= 511 && msp_will_timeslot_be_free(ts) > 0)
        return true;
    LOGD_CALL(TARN, 0, co, "CRITICAL: couldn't start channel processing, timeslot %i seems to be still in use (pid %i,bc %p)!",
              ts, co->pid, (void *)co->bc);
    msp_list_queue();
    msp_list_timeslot_manager(__func__, __LINE__);
    return false;
}

void voice_clear_tone_history(call_object *co)
{
    memset(co->msp_tonedet_history ? co->msp_tonedet_history : &co->_msp_tonedet_history, 0, sizeof(msp_tone_history));
}

int call_get_resource_type_by_codec(int codec)
{
    for (const codec_resource &r : codec_resources)
        if (r.codec == codec)
            return r.type;
    return -1;
}

csmchan_voip_echocan *disable_csm_echo_canceller_values(csmchan_voip_echocan *rec)
{
    if (!rec)
        return rec;
    rec->master_echo_canceller_enable = 0;
    rec->dc_removal_filter_disable = 0;
    rec->g168_ec_initialization = 0;
    rec->initialization_request = 0;
    rec->hardware_echo_canceller_coefficient_freeze = 0;
    rec->nlp_control = 0;
    rec->nlp_tune_field = 0;
    rec->comfort_noise_generation_disable = 0;
    rec->network_echo_canceller_tail_length = 0;
    return rec;
}

bool voice_refuse_start(call_object *co, bool dummy, bool mf)
{
    if (!mf && co->f.transcoding_call)
        return false;
    if (!dummy && co->cl_sip->rtp_remote_port == 0) {
        LOGD_CALL(TARN, 2, co, "couldn't start channel processing, remote port not available!");
        return true;
    }
    if (co->tdm_logical_timeslot > 511 || co->tdm_logical_timeslot < 0) {
        LOGD_CALL(TARN, 2, co, "couldn't start channel processing, do not have a valid timeslot yet!");
        return true;
    }
    // An MF channel runs before the answer only with early audio.
    bool early = co->cc.early_audio != 0 || co->cc.early_audio_outbound || co->f.connection_established;
    if (!mf)
        early = early || dummy || co->f.fxo_dialtone_passthrough;
    if (!early) {
        LOGD_CALL(TARN, 2, co, "not starting channel processing now, early audio not active!");
        return true;
    }
    return false;
}

bool voice_start_with_leg(call_object *co)
{
    if (!co)
        return false;
    LOGD_CALL(TARN, 5, co, "starting channel processing RTP/TDM !");
    if (!co->cl_sip) {
        // Nothing to carry the channel's RTP.
        LOGD_CALL(TARN, 2, co, "couldn't start channel processing, remote port not available!");
        return false;
    }
    return true;
}

int call_msp_setup_voice_channel(call_object *co, int lock_msp_queue)
{
    if (!voice_start_with_leg(co))
        return -1;
    voice_ctx ctx = {co, co->cl_sip, co->tdm_logical_timeslot, voice_dummy_rtp(co), false, false};
    if (voice_refuse_start(co, ctx.dummy, false))
        return -1;
    voice_rewrite_buddy_remote(co);
    voice_arm_traffic_check(co);
    LOGD_CALL(TARN, 5, co, "timeslot %i remote port %i!", co->tdm_logical_timeslot, co->cl_sip->rtp_remote_port);
    update_rtp_port(co, co->cl_sip);
    if (started_unchanged(co)) {
        const call_leg_sip *l = co->cl_sip;
        LOGD_CALL(TARN, 5, co,
                  "msp_no_channel_restart: voice channel already active: locport %i remport %i remip %s codec %i",
                  l->rtp_local_port, l->rtp_remote_port, l->rtp_remote_ip, l->using_codec);
        return 0;
    }
    apply_lte_hd(co);
    voice_stop_clashing_calls(co, lock_msp_queue);
    media_call_stop_rtp(co, lock_msp_queue);

    if (lock_msp_queue)
        msp_queue_lock_take();
    int ts = co->tdm_logical_timeslot;
    if (!voice_timeslot_free(co)) {
        if (lock_msp_queue)
            msp_queue_lock_release();
        return -1;
    }
    msp_release_all_resources(co, &co->msp_resources_reserved);
    if (voice_take_resource(co, ctx.dummy) != 0) {
        if (lock_msp_queue)
            msp_queue_lock_release();
        return -1;
    }
    ctx.timeslot = ts;
    ctx.leg = co->cl_sip;
    ctx.relay = voice_relay_flag(co, false);
    for (const voice_row &row : voice_rows) {
        if (row.number == 20)
            voice_clear_tone_history(co);
        if (!row.when || row.when(ctx))
            row.queue(ctx);
    }
    if (co->cc.msp_no_channel_restart)
        note_started(co);
    // Caller-ID detection belongs to the same sequence: queued while the
    // lock is held, whoever holds it.
    queue_cid_detection(ctx);
    if (lock_msp_queue)
        msp_queue_lock_release();
    voice_log_sending(co, ctx.dummy);
    co->msp_state = MSP_VOICE_ACTIVE;
    return 0;
}

int call_msp_update_channel(call_object *co)
{
    if (!co || !co->cl_sip)
        return -1;
    const call_leg_sip *l = co->cl_sip;
    LOGD_CALL(TARN, 5, co, "MSP updating rtp settings for pid %i, remote ip %s:%i !", co->pid, l->rtp_remote_ip,
              l->rtp_remote_port);
    magic_csm m = voice_msg(FC_SET_IP_HDR_CHANNEL);
    if (csm_msg_is_null(m))
        return -1;
    csmchan_set_ip_hdr_chan *r = m.u_csmchan_set_ip_hdr_chan;
    r->source_address_word_1 = gp->netconf.msp_mspside_ip_1;
    r->source_address_word_2 = gp->netconf.msp_mspside_ip_2;
    r->destination_address_word_1 = ip_to_short(l->rtp_remote_ip, 1);
    r->destination_address_word_2 = ip_to_short(l->rtp_remote_ip, 2);
    r->udp_destination_port = (uint32_t)l->rtp_remote_port;
    r->udp_source_port = (uint32_t)l->rtp_local_port;
    r->tos = (uint32_t)(l->ss ? l->ss->tos_rtp : 160);
    return _msp_queue_command(m, co->tdm_logical_timeslot, nullptr, 0, 0, __FILE__, __func__, __LINE__);
}

int call_stop_msp_voice(call_object *co, int lock_msp_queue)
{
    if (!co || !(co->msp_state & VOICE_BITS))
        return -1;
    LOGD(MSP, 5, cinfo(co), "stopping voice");
    if (lock_msp_queue)
        msp_queue_lock_take();
    if (!(co->msp_state & VOICE_BITS)) {
        if (lock_msp_queue)
            msp_queue_lock_release();
        return -1;
    }
    msp_release_all_resources(co, &co->msp_resources_active);
    int ts = co->tdm_logical_timeslot;
    if (co->msp_state & MSP_REMOTE_BRIDGED) {
        media_queue_destroy(co, ts);
        msp_release_all_resources(co, &co->msp_resources_remote_bridging);
        media_queue_destroy(co, co->remote_tdm_logical_timeslot);
        co->msp_state &= ~MSP_REMOTE_BRIDGED;
        co->remote_tdm_logical_timeslot = -1;
    } else if (co->msp_state & MSP_BRIDGED) {
        stop_bridge(co);
    } else if (co->msp_state & MSP_VOICE_ACTIVE) {
        media_queue_voice_off(co, ts);
        media_queue_destroy(co, ts);
        co->msp_state &= ~MSP_VOICE_ACTIVE;
    } else {
        media_queue_voice_off(co, ts);
        media_queue_destroy(co, ts);
        co->msp_state &= ~MSP_MFSIGNALLING_ACTIVE;
    }
    co->f.srtp_enabled = 0;
    if (lock_msp_queue)
        msp_queue_lock_release();
    int port = co->gsm_port > 0 ? co->gsm_port : co->gsm_port_stored;
    if (port > 0 && gsm_port_is_lte(port))
        tarn_lte_hd_apply(cinfo(co), port, 0);
    return 0;
}
