// The in-place re-programming of a transcoding channel for its leg's media.
#include "csm_codes.h"
#include "media_voice.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "pools.h"
#include "rtp_ports.h"
#include "voice_rows.h"

namespace {

// The update's commands after the channel is switched off: rows of the
// set-up's table (their own conditions where `checked`), the second
// DTMFOPT between PTMNG and DGAIN, and the channel switched on last.
struct transconnect_step {
    int row; // 0: the second DTMFOPT
    bool checked;
};
const transconnect_step transconnect_steps[] = {
    /*  1 */ {2, true},   // FC_SET_ETH_HDR_CHAN
    /*  2 */ {3, false},  // FC_SET_IP_HDR_CHANNEL
    /*  3 */ {4, false},  // FC_VOIP_VCEOPT
    /*  4 */ {5, false},  // FC_VOIP_TONEOPT
    /*  5 */ {6, false},  // FC_VOIP_ECHOCAN
    /*  6 */ {7, false},  // FC_VOIP_DTMFDPAR
    /*  7 */ {8, false},  // FC_VOIP_DTMFTUNE
    /*  8 */ {9, false},  // FC_VOIP_DTMFOPT
    /*  9 */ {10, false}, // FC_IPDTMF_CTRL
    /* 10 */ {15, false}, // FC_VOIP_JBOPT
    /* 11 */ {16, true},  // FC_VOIP_INDCTRL
    /* 12 */ {17, false}, // FC_VOIP_PTMNG
    /* 13 */ {0, false},  // FC_VOIP_DTMFOPT with rfc2833_dtmf_passthrough
    /* 14 */ {18, true},  // FC_VOIP_DGAIN
    /* 15 */ {19, false}, // SRTP, the call's own leg
    /* 16 */ {22, false}, // FC_VOIP_VOPENA
};
static_assert(sizeof transconnect_steps / sizeof transconnect_steps[0] == 16, "16 commands");

} // namespace

int call_msp_update_transconnect_voice_channel(call_object *co, int lock_msp_queue)
{
    if (!co || !co->cl_sip)
        return -1;
    LOGD_CALL(TARN, 5, co, "starting channel processing RTP/TDM !");
    voice_ctx ctx = {co, co->cl_sip, co->tdm_logical_timeslot, voice_dummy_rtp(co), false, true};
    voice_rewrite_buddy_remote(co);
    voice_arm_traffic_check(co);
    LOGD_CALL(TARN, 5, co, "timeslot %i remote port %i!", co->tdm_logical_timeslot, co->cl_sip->rtp_remote_port);
    update_rtp_port(co, co->cl_sip);

    if (lock_msp_queue)
        msp_queue_lock_take();
    media_queue_voice_off(co, ctx.timeslot);
    co->msp_state = 0;
    msp_release_all_resources(co, &co->msp_resources_reserved);
    msp_release_all_resources(co, &co->msp_resources_active);
    if (voice_take_resource(co, ctx.dummy) != 0) {
        if (lock_msp_queue)
            msp_queue_lock_release();
        return -1;
    }
    ctx.relay = voice_relay_flag(co, true);
    for (const transconnect_step &s : transconnect_steps) {
        if (s.row == 0) {
            voice_queue_dtmfopt_passthrough(ctx);
            continue;
        }
        const voice_row &row = voice_row_at(s.row);
        if (!s.checked || !row.when || row.when(ctx))
            row.queue(ctx);
    }
    if (lock_msp_queue)
        msp_queue_lock_release();
    voice_log_sending(co, ctx.dummy);
    co->msp_state = MSP_VOICE_ACTIVE;
    return 0;
}
