// The MF signalling channel of a T1/E1 CAS call: a voice channel between
// the CAS timeslot and RTP that runs before the call is answered, with the
// MF detector of an E1 MFC/R2 port switched on and the channel in its MF
// signalling mode.
#include <cstring>

#include "call_configuration.h"
#include "csm_codes.h"
#include "media_callctl.h"
#include "media_tdm.h"
#include "media_voice.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "pools.h"
#include "rtp_ports.h"
#include "t1e1casctl.h"
#include "voice_rows.h"

namespace {

constexpr int TELEPHONE_EVENT_DEFAULT = 101;
constexpr int MF_CHANNEL_MODE = 7;
constexpr int MF_VOPENA_LENGTH = 10;

constexpr int T38_CODEC = 9999;

// The voice channel's table without T.38: a fax leg has no MF channel.
int mf_resource_type(int codec)
{
    return codec == T38_CODEC ? -1 : call_get_resource_type_by_codec(codec);
}

// ---- rows that differ from the voice channel's ------------------------------

void row(voice_ctx &ctx, int number)
{
    voice_row_at(number).queue(ctx);
}

void mf_create(voice_ctx &ctx) { row(ctx, 1); }
bool mf_when_eth_header(const voice_ctx &ctx) { return voice_row_at(2).when(ctx); }
void mf_eth_header(voice_ctx &ctx) { row(ctx, 2); }
void mf_ip_header(voice_ctx &ctx) { row(ctx, 3); }  // ctx.keep_loopback is set
void mf_vceopt(voice_ctx &ctx) { row(ctx, 4); }
void mf_toneopt(voice_ctx &ctx) { row(ctx, 5); }
void mf_dtmfdpar(voice_ctx &ctx) { row(ctx, 7); }
void mf_dtmftune(voice_ctx &ctx) { row(ctx, 8); }
void mf_ipdtmf_ctrl(voice_ctx &ctx) { row(ctx, 10); }
bool mf_when_dgain(const voice_ctx &ctx) { return voice_row_at(18).when(ctx); }
void mf_dgain(voice_ctx &ctx) { row(ctx, 18); }

void mf_dtmfopt(voice_ctx &ctx)
{
    voice_queue_dtmfopt(ctx, ctx.co->cc.rfc2833_dtmf_passthrough);
}

// The payload type map; in one case a second DTMFOPT follows it.
void mf_ptmng(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_PTMNG);
    if (csm_msg_is_null(m))
        return;
    const call_leg_sip *leg = ctx.leg;
    const call_configuration &cc = ctx.co->cc;
    csmchan_voip_ptmng *r = m.u_csmchan_voip_ptmng;
    int codec = leg->using_codec, payload = leg->using_payload, te = leg->pt_telephony_event & 0xFF;
    bool second_dtmfopt = false;
    if ((payload == 200 && codec == 200) || codec == 9) {
        r->dtmf = 255;
        r->clear_channel = (uint32_t)payload;
    } else if (payload == 8 && cc.clearmode_on_alaw != 0) {
        r->clear_channel = 8;
        r->g711a = 255;
        if (te != TELEPHONE_EVENT_DEFAULT) {
            disable_ptmng_payload_type(r, te);
            r->dtmf = (uint32_t)te;
        }
    } else if (!cc.rfc2833_dtmf_passthrough && payload == codec) {
        disable_ptmng_payload_type(r, te);
        r->dtmf = (uint32_t)te;
        second_dtmfopt = true;
    } else {
        if (cc.rfc2833_dtmf_passthrough || te != TELEPHONE_EVENT_DEFAULT) {
            disable_ptmng_payload_type(r, te);
            r->dtmf = (uint32_t)te;
        }
        if (codec == 2)
            r->g726_32 = (uint32_t)payload;
    }
    voice_put(ctx, m);
    if (second_dtmfopt)
        mf_dtmfopt(ctx);
}

bool mf_when_signalling(const voice_ctx &ctx)
{
    const call_object *co = ctx.co;
    return (co->callinfo == CI_CAS_TO_SIP || co->callinfo == CI_SIP_TO_CAS) &&
           cas_get_signalling(co->cas_port) == CAS_SIGNALLING_E1_MFCR2;
}

void mf_signalling(voice_ctx &ctx)
{
    magic_csm t = voice_msg(FC_VOIP_MFTUNE);
    if (!csm_msg_is_null(t)) {
        t.u_csmchan_voip_mftune->mf_selector = 1;
        t.u_csmchan_voip_mftune->mf_control = 0;
        voice_put(ctx, t);
    }
    magic_csm d = voice_msg(FC_VOIP_SIGDET);
    if (csm_msg_is_null(d))
        return;
    // Forward signals come from the CAS side of a CAS-to-SIP call, backward
    // signals on a SIP-to-CAS call.
    d.u_csmchan_voip_sigdet->inband_tone_detection_select = ctx.co->callinfo == CI_CAS_TO_SIP ? 2 : 1;
    voice_put(ctx, d);
}

void mf_vopena(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_VOPENA);
    if (csm_msg_is_null(m))
        return;
    get_header(m)->msg_length = MF_VOPENA_LENGTH;
    m.u_csmchan_voip_vopena->channel_mode = MF_CHANNEL_MODE;
    m.u_csmchan_voip_vopena->payload_type = (uint32_t)(ctx.dummy ? 8 : ctx.leg->using_payload);
    voice_put(ctx, m);
}

// The MF channel's commands in the order they are sent. Row 12 clears the
// call's tone history before it is sent.
const voice_row mf_rows[] = {
    /*  1 */ {1, "FC_SUPVSR_CREATE_CHANNEL", nullptr, mf_create},
    /*  2 */ {2, "FC_SET_ETH_HDR_CHAN", mf_when_eth_header, mf_eth_header},
    /*  3 */ {3, "FC_SET_IP_HDR_CHANNEL", nullptr, mf_ip_header},
    /*  4 */ {4, "FC_VOIP_VCEOPT", nullptr, mf_vceopt},
    /*  5 */ {5, "FC_VOIP_TONEOPT", nullptr, mf_toneopt},
    /*  6 */ {6, "FC_VOIP_DTMFDPAR", nullptr, mf_dtmfdpar},
    /*  7 */ {7, "FC_VOIP_DTMFTUNE", nullptr, mf_dtmftune},
    /*  8 */ {8, "FC_VOIP_DTMFOPT", nullptr, mf_dtmfopt},
    /*  9 */ {9, "FC_IPDTMF_CTRL", nullptr, mf_ipdtmf_ctrl},
    /* 10 */ {10, "FC_VOIP_PTMNG (and a second FC_VOIP_DTMFOPT)", nullptr, mf_ptmng},
    /* 11 */ {11, "FC_VOIP_DGAIN", mf_when_dgain, mf_dgain},
    /* 12 */ {12, "FC_VOIP_MFTUNE, FC_VOIP_SIGDET", mf_when_signalling, mf_signalling},
    /* 13 */ {13, "FC_VOIP_VOPENA", nullptr, mf_vopena},
};
static_assert(sizeof mf_rows / sizeof mf_rows[0] == 13, "13 rows as given");

} // namespace

int call_msp_setup_mf_channel(call_object *co, int lock_msp_queue)
{
    if (!voice_start_with_leg(co))
        return -1;
    bool dummy = co->f.dummy_rtp;
    if (voice_refuse_start(co, dummy, true))
        return -1;
    LOGD_CALL(TARN, 5, co, "timeslot %i remote port %i!", co->tdm_logical_timeslot, co->cl_sip->rtp_remote_port);
    update_rtp_port(co, co->cl_sip);
    voice_stop_clashing_calls(co, lock_msp_queue);
    media_call_stop_rtp(co, lock_msp_queue);

    if (lock_msp_queue)
        msp_queue_lock_take();
    if (!voice_timeslot_free(co)) {
        if (lock_msp_queue)
            msp_queue_lock_release();
        return -1;
    }
    int type = dummy ? MSPRES_G711_20 : mf_resource_type(co->cl_sip->using_codec);
    if (type != -1)
        msp_release_all_resources(co, &co->msp_resources_reserved);
    if (voice_take_resource_of_type(co, type) != 0) {
        if (lock_msp_queue)
            msp_queue_lock_release();
        return -1;
    }
    int mode = cc_get_dtmfmode_of_active_sipleg(co);
    if (mode == 1 || mode == 2)
        co->cc.rfc2833_dtmf_passthrough = 0;
    voice_ctx ctx = {co, co->cl_sip, co->tdm_logical_timeslot, dummy, false, false, true};
    for (const voice_row &r : mf_rows) {
        if (r.number == 12)
            voice_clear_tone_history(co);
        if (!r.when || r.when(ctx))
            r.queue(ctx);
    }
    if (lock_msp_queue)
        msp_queue_lock_release();
    voice_log_sending(co, dummy);
    co->msp_state = MSP_MFSIGNALLING_ACTIVE;
    return 0;
}
