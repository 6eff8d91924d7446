// The command rows of a voice channel: one constant table, row by row in
// the order the set-up sends them, shared by the set-up and by the in-place
// re-programming of a transcoding channel. Internal to the media folder.
#pragma once
#include "application.h"
#include "csm_message.h"

// What the rows of one sequence read and decide.
struct voice_ctx {
    call_object *co;
    call_leg_sip *leg;   // the leg whose RTP the channel carries
    int timeslot;
    bool dummy;          // RTP goes to the dummy RTP destination
    bool relay;          // RTP DTMF relay (rows 9 and 17)
    bool transconnect;   // the in-place update of an existing channel
    bool keep_loopback = false; // row 3 leaves a remote 127.0.0.1 as it is
};

// One row: when it is sent (null: always) and what it queues; a row may
// queue several messages or, for contents it finds invalid, none.
struct voice_row {
    int number;
    const char *commands;
    bool (*when)(const voice_ctx &ctx);
    void (*queue)(voice_ctx &ctx);
};
enum { VOICE_ROWS = 22 };
extern const voice_row voice_rows[VOICE_ROWS];
// Row `number` (1-22) of the table.
const voice_row &voice_row_at(int number);

// The dummy RTP condition of a call: its leg's dummy_rtp_wanted on a
// SIP-to-SIP call, the call's dummy_rtp flag otherwise.
bool voice_dummy_rtp(const call_object *co);
// Whether a call is a transcoding buddy, and its owner (null when gone).
bool voice_is_buddy(const call_object *co);
call_object *voice_buddy_owner(const call_object *co);

// The RTP DTMF relay flag of the call; clears filter_inband_dtmf_from_tdm
// as the rule says and, unless keep_passthrough, the call's own
// rfc2833_dtmf_passthrough.
bool voice_relay_flag(call_object *co, bool keep_passthrough);

// A new command record with the next message counter; null when memory is
// short (the message is then not sent).
magic_csm voice_msg(int function_code);
// Queues a message for the sequence's timeslot, the call as owner, no
// notification; msp_queue_lock is held. A null message is skipped.
void voice_put(const voice_ctx &ctx, magic_csm msg);
// A message of its own kind on a timeslot, owner given (stops, tones).
void media_put(call_object *owner, int timeslot, magic_csm msg);

// FC_SUPVSR_DESTROY_CHANNEL, and FC_VOIP_VOPENA with channel mode 0.
void media_queue_destroy(call_object *owner, int timeslot);
void media_queue_voice_off(call_object *owner, int timeslot);

// The second DTMFOPT of the in-place update: row 9's contents with cc
// rfc2833_dtmf_passthrough as the relay flag.
void voice_queue_dtmfopt_passthrough(voice_ctx &ctx);
// The buddy's remote RTP pointed at the media processor itself (step 3)
// and the traffic-check timer (step 4), shared by set-up and update.
void voice_rewrite_buddy_remote(call_object *co);
void voice_arm_traffic_check(call_object *co);

// The resource of the leg's codec (G.711 20 ms under the dummy RTP
// condition) into msp_resources_active: 0, or -1 after its CRITICAL line.
int voice_take_resource(call_object *co, bool dummy);
// The same for a resource type already chosen (-1: the codec has none).
int voice_take_resource_of_type(call_object *co, int type);

// The first step of a channel set-up: its start line, and the refusal of
// a call without a SIP leg (false).
bool voice_start_with_leg(call_object *co);
// The reasons not to start a channel yet (each logged): no remote port
// (unless dummy), no valid timeslot, no early audio. A voice channel of a
// transcoding call has none; a voice channel also starts for dummy RTP or
// FXO dial-tone passthrough, an MF channel (mf) only with early audio.
bool voice_refuse_start(call_object *co, bool dummy, bool mf);

// Set-up steps shared by the voice and the MF channel: other calls still
// holding the call's timeslot lose it (stopped with the caller's lock flag);
// the free-timeslot test with its CRITICAL line and dumps (lock held);
// the tone history cleared.
void voice_stop_clashing_calls(call_object *co, int lock_msp_queue);
bool voice_timeslot_free(call_object *co);
void voice_clear_tone_history(call_object *co);

// Row 4's contents for a packet interval and law: the clearmode interval of
// an A-law leg, silence handling, comfort noise and voice activity.
void voice_fill_vceopt(csmchan_voip_vceopt *r, const call_object *co, const call_leg_sip *leg, int interval, int law);

// DTMFOPT with the relay fields when `relay` (row 9's contents).
void voice_queue_dtmfopt(voice_ctx &ctx, bool relay);
// "sending now to ..." of a finished sequence.
void voice_log_sending(const call_object *co, bool dummy);

// The call's log tag for a CREATE header (at most 31 characters).
void voice_set_cid(magic_csm msg, const call_object *co);
