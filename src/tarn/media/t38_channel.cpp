// The T.38 fax channel that replaces a call's voice or tone channel once
// the call switches to fax relay.
#include <cstring>

#include "csm_codes.h"
#include "log.h"
#include "media_callctl.h"
#include "media_relay.h"
#include "media_voice.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "network_config.h"
#include "pools.h"
#include "voice_rows.h"

namespace {

constexpr int FAX_CHANNEL_TYPE = 7;
constexpr int DEFAULT_TOS = 160;

bool always(const voice_ctx &)
{
    return true;
}

bool not_transcoding(const voice_ctx &ctx)
{
    return !ctx.co->f.transcoding_call;
}

void t38_create(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_SUPVSR_CREATE_CHANNEL);
    if (csm_msg_is_null(m))
        return;
    m.u_csmdev_create_channel->timeslot = (uint32_t)ctx.timeslot;
    m.u_csmdev_create_channel->channel_type = FAX_CHANNEL_TYPE;
    voice_set_cid(m, ctx.co);
    voice_put(ctx, m);
}

void t38_fax_options(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_FAX_OPTIONS);
    if (csm_msg_is_null(m))
        return;
    const t38options &t = ctx.co->cc.t38_options;
    csmchan_fax_options *r = m.u_csmchan_fax_options;
    r->t38_packet_loss_concealment = (uint32_t)t.plc & 3u;
    r->ecm_disable = (uint32_t)t.ecm & 1u;
    r->udptl_redundancy_count_fax_page_data = (uint32_t)t.rc_fp & 3u;
    r->udptl_redundancy_count_t30 = (uint32_t)t.rc_t30 & 7u;
    r->speed_limit = (uint32_t)t.fcs & 7u;
    r->tcf_procedure = (uint32_t)t.tcf & 1u;
    r->transmit_small_t4_ecm_messages = (uint32_t)t.tsp & 1u;
    voice_put(ctx, m);
}

void t38_ip_header(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_SET_IP_HDR_CHANNEL);
    if (csm_msg_is_null(m))
        return;
    const call_leg_sip *leg = ctx.leg;
    csmchan_set_ip_hdr_chan *r = m.u_csmchan_set_ip_hdr_chan;
    r->tos = (uint32_t)(leg->ss ? leg->ss->tos_rtp : DEFAULT_TOS);
    r->source_address_word_1 = ip_to_short(gp->netconf.host_ip_lan, 1);
    r->source_address_word_2 = ip_to_short(gp->netconf.host_ip_lan, 2);
    r->destination_address_word_1 = ip_to_short(leg->rtp_remote_ip, 1);
    r->destination_address_word_2 = ip_to_short(leg->rtp_remote_ip, 2);
    r->udp_source_port = (uint32_t)leg->rtp_local_port;
    r->udp_destination_port = (uint32_t)leg->rtp_remote_port;
    voice_put(ctx, m);
}

void t38_vceopt(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_VCEOPT);
    if (csm_msg_is_null(m))
        return;
    m.u_csmchan_voip_vceopt->voice_packetization_interval = 20;
    m.u_csmchan_voip_vceopt->pcm_coding_standard = (uint32_t)media_call_get_law_setting(ctx.co);
    voice_put(ctx, m);
}

void t38_vopena(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_VOPENA);
    if (csm_msg_is_null(m))
        return;
    m.u_csmchan_voip_vopena->channel_mode = 2;
    get_header(m)->msg_length = 10;
    voice_put(ctx, m);
}

// The fax channel's commands, in the order they are sent. Row 3 is the
// voice channel's Ethernet header row (no header without the next hop's
// address).
struct t38_row {
    int number;
    bool (*when)(const voice_ctx &ctx);
    void (*queue)(voice_ctx &ctx);
};

bool when_eth(const voice_ctx &ctx)
{
    return voice_row_at(2).when(ctx);
}

void queue_eth(voice_ctx &ctx)
{
    voice_row_at(2).queue(ctx);
}

const t38_row t38_rows[] = {
    {1, always, t38_create},          // FC_SUPVSR_CREATE_CHANNEL
    {2, always, t38_fax_options},     // FC_FAX_OPTIONS
    {3, when_eth, queue_eth},         // FC_SET_ETH_HDR_CHAN
    {4, always, t38_ip_header},       // FC_SET_IP_HDR_CHANNEL
    {5, always, t38_vceopt},          // FC_VOIP_VCEOPT
    {6, not_transcoding, t38_vopena}, // FC_VOIP_VOPENA
};

} // namespace

void setup_msp_t38_channel(call_object *co, int lock_msp_queue)
{
    if (!co)
        return;
    int timeslot = co->tdm_logical_timeslot;
    int remote_port = co->cl_sip ? co->cl_sip->rtp_remote_port : 0;
    int local_port = co->cl_sip ? co->cl_sip->rtp_local_port : 0;
    if (timeslot == -1 || !co->cl_sip) {
        LOGD(MSP, 5, cinfo(co), "Cannot start T38 on timeslot %i on remport %i locport %i", timeslot, remote_port,
             local_port);
        return;
    }
    LOGD(MSP, 5, cinfo(co), "Starting T38 on timeslot %i on remport %i locport %i", timeslot, remote_port, local_port);
    if (co->msp_state & (MSP_BRIDGED | MSP_REMOTE_BRIDGED)) {
        LOGD(MSP, 0, cinfo(co), "CRITICAL: Bridged call cannot perform T38");
        return;
    }
    if (lock_msp_queue)
        msp_queue_lock_take();
    msp_command_counter++;
    if (co->msp_state & (MSP_VOICE_ACTIVE | MSP_TONEGEN_ACTIVE | MSP_T38_ACTIVE)) {
        msp_release_all_resources(co, &co->msp_resources_active);
        media_queue_voice_off(co, timeslot);
        media_queue_destroy(co, timeslot);
        co->msp_state &= ~(uint32_t)(MSP_VOICE_ACTIVE | MSP_TONEGEN_ACTIVE | MSP_T38_ACTIVE | MSP_MFSIGNALLING_ACTIVE);
    }
    msp_release_all_resources(co, &co->msp_resources_reserved);
    if (msp_request_resource(co, &co->msp_resources_active, MSPRES_T38) != 0) {
        LOGD(MSP, 0, cinfo(co), "CRITICAL: Couldn't get MSP T38 resources, though we promised");
    } else {
        co->msp_state |= MSP_T38_ACTIVE;
        voice_ctx ctx = {co, co->cl_sip, timeslot, false, false, false};
        for (const t38_row &row : t38_rows)
            if (row.when(ctx))
                row.queue(ctx);
    }
    if (lock_msp_queue)
        msp_queue_lock_release();
    msp_command_counter++;
}
