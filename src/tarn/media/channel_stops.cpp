// The stops of a call's tone, T.38 and HDLC channels, and the state-table
// action that stops a tone generator.
#include "csm_codes.h"
#include "media_voice.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "pools.h"
#include "voice_rows.h"

namespace {

// The stops: one shape, three members.
struct channel_stop {
    uint32_t bit;
    const char *line;
    int first_command;
    void (*first_field_zero)(magic_csm m);
};

void vopena_mode_zero(magic_csm m)
{
    m.u_csmchan_voip_vopena->channel_mode = 0;
}

void htdmena_zero(magic_csm m)
{
    m.u_csmchan_htdmena->enable_hdlc_over_tdm_channel = 0;
}

enum { STOP_TONE, STOP_HDLC, STOP_T38 };
const channel_stop channel_stops[] = {
    /* call_stop_msp_tone */ {MSP_TONEGEN_ACTIVE, "stopping tone generation", FC_VOIP_VOPENA, vopena_mode_zero},
    /* stop_msp_hdlc */ {MSP_HDLC_ACTIVE, "stopping hdlc processing", FC_HTDMENA, htdmena_zero},
    /* call_stop_msp_t38 */ {MSP_T38_ACTIVE, "stopping t38 processing", FC_VOIP_VOPENA, vopena_mode_zero},
};

// The stop's commands, the resources and the bit; msp_queue_lock is held.
void stop_channel_locked(const channel_stop &s, call_object *co)
{
    msp_release_all_resources(co, &co->msp_resources_active);
    magic_csm first = voice_msg(s.first_command);
    if (!csm_msg_is_null(first))
        s.first_field_zero(first);
    media_put(co, co->tdm_logical_timeslot, first);
    media_queue_destroy(co, co->tdm_logical_timeslot);
    co->msp_state &= ~s.bit;
}

int stop_channel(const channel_stop &s, call_object *co, int lock_msp_queue)
{
    if (!co || !(co->msp_state & s.bit))
        return -1;
    LOGD(MSP, 5, cinfo(co), "%s", s.line);
    if (lock_msp_queue)
        msp_queue_lock_take();
    int result = -1;
    if (co->msp_state & s.bit) {
        stop_channel_locked(s, co);
        result = 0;
    }
    if (lock_msp_queue)
        msp_queue_lock_release();
    return result;
}

} // namespace
int call_stop_msp_tone(call_object *co, int lock_msp_queue)
{
    return stop_channel(channel_stops[STOP_TONE], co, lock_msp_queue);
}

int stop_msp_hdlc(call_object *co, int lock_msp_queue)
{
    return stop_channel(channel_stops[STOP_HDLC], co, lock_msp_queue);
}

int call_stop_msp_t38(call_object *co, int lock_msp_queue)
{
    return stop_channel(channel_stops[STOP_T38], co, lock_msp_queue);
}

statemachine_handle_retval sm_msp_stop_tonegen(void *owner, void *, int32_t, int32_t)
{
    auto *co = static_cast<call_object *>(owner);
    msp_queue_lock_take();
    if (co && (co->msp_state & MSP_TONEGEN_ACTIVE))
        stop_channel_locked(channel_stops[STOP_TONE], co);
    msp_queue_lock_release();
    return {-1, -1};
}
