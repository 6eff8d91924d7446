// SIP-to-SIP transcoding on the media processor: each leg gets a voice
// channel on a transcoding timeslot of its own (the first leg on the call,
// the second on its transcoding buddy) and the two channels are joined by a
// trans-connect. Callers hold global_lock.
#pragma once
#include <cstdint>

#include "statemachine.h"

struct call_object;
struct call_leg_sip;

// Stops a running transcoding (both channels off, the trans-connect undone,
// both destroyed); nothing when the call's transcoding_started is clear.
// lock_msp_queue 0: the caller holds msp_queue_lock.
void call_s2s_stop_transcoding(call_object *co, int lock_msp_queue);

// Sets up one leg's channel addressed by its DSP channel (the leg's
// msp_channel); with `update` only that leg's channel is switched on again.
void call_s2s_start_transcoding_channel(call_object *co, call_leg_sip *leg, int lock_msp_queue, int update);

// State-table action of the SIP-to-SIP machine: starts, updates or restarts
// the transcoding of the call's two legs when their media changed, or hands
// the call to the RTP passthrough. {SM_DESTROYING, -3} without a buddy,
// else {-1, -1}.
statemachine_handle_retval sm_s2s_start_transcoding(void *owner, void *data, int32_t state, int32_t event);

// What the transcoding start needs of the RTP passthrough, built elsewhere.
// An empty member is skipped with one log line the first time.
struct s2s_transcoding_hooks {
    // Stops any passthrough of the call and starts it for its two legs.
    void (*start_udp_proxy_thread)(call_object *co);
};
// Takes the non-null members; null clears all.
void s2s_transcoding_set_hooks(const s2s_transcoding_hooks *hooks);
