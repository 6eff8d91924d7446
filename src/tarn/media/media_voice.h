// Voice channels and call-progress tones of a call on the media processor:
// the ordered CSM command sequences that set a call's channel up between
// its TDM timeslot and RTP, re-point or re-program it, stop it, and play
// tones on it. Callers hold global_lock. Operations with a lock flag take
// msp_queue_lock themselves when it is non-zero; with 0 the caller holds it.
#pragma once
#include <cstdint>

#include "csm_records.h"
#include "statemachine.h"

struct call_object;

// The DSP resource type of a codec number (RTP static payload numbers, 200
// clearmode, 9999 T.38), -1 for a codec without one.
int call_get_resource_type_by_codec(int codec);

// The call's voice channel between its timeslot and its SIP leg's RTP:
// 0 when queued (or already running unchanged), -1 when it can't start.
int call_msp_setup_voice_channel(call_object *co, int lock_msp_queue);
// Points the running channel at the leg's remote RTP endpoint; the queue's
// result.
int call_msp_update_channel(call_object *co);
// Stops the voice, bridge, remote bridge or MF channel: 0, or -1 when none
// of them runs.
int call_stop_msp_voice(call_object *co, int lock_msp_queue);
// Clears every field of an echo canceller record; returns the record.
csmchan_voip_echocan *disable_csm_echo_canceller_values(csmchan_voip_echocan *rec);
// Sets every entry of a payload type map that holds the dynamic payload
// type (96-127) to 255, the entry's "not used".
void disable_ptmng_payload_type(csmchan_voip_ptmng *rec, int payload_type);

// Re-programs an existing transcoding channel for the leg's media without
// destroying it: 0, or -1 when the codec has no resource (the channel then
// stays switched off).
int call_msp_update_transconnect_voice_channel(call_object *co, int lock_msp_queue);

// A call-progress tone (type 0 dial, 1 ring, 2 busy, 3 congestion) of the
// language's tone set on its own channel: 0 when queued, -1 otherwise.
// Takes msp_queue_lock itself.
int call_start_msp_tone(call_object *co, const char *language_code, int type);
// The three channel stops: 0 when queued, -1 when the call's bit is not set.
int call_stop_msp_tone(call_object *co, int lock_msp_queue);
int stop_msp_hdlc(call_object *co, int lock_msp_queue);
int call_stop_msp_t38(call_object *co, int lock_msp_queue);

// The dial tone of an incoming FXS (or CAS) call on its voice channel.
void start_msp_analog_dial_tone(call_object *co);
void start_msp_cas_dial_tone(call_object *co);
// Switches a running dial tone off (only while the voice channel runs).
void stop_msp_analog_dial_tone(call_object *co);
// State-table action: stops a tone-generator channel; always {-1, -1}.
statemachine_handle_retval sm_msp_stop_tonegen(void *owner, void *data, int32_t state, int32_t event);
