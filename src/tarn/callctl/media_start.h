// What call control asks of the media processor for a call: whether media
// may start yet and which channel (voice, MF signalling, T.38), joining two
// local calls or a call and another unit's channel over PCM inside the media
// processor, the logical TDM timeslot of a call's line channel, dummy RTP,
// the stop of media, the RTP loopback test call and the resources of
// SIP-to-SIP calls. Everything runs under global_lock inside a machine run.
#pragma once

#include "sm_defs.h"

struct call_object;

// Starts the call's media when it may start now (voice, MF or T.38); 0.
int _start_channel_processing(call_object *co);
// Stops voice, T.38, HDLC and tone processing (not on a transcoding call);
// lock_msp_queue 1: each stop takes the media-queue lock. 0.
int call_stop_rtp(call_object *co, int lock_msp_queue);

// The logical timeslot of a line port's channel in the TDM map, or -1.
int get_logical_timeslot(call_object *co, int port, int channel);
// The port and channel of a logical timeslot: 0, or -1 when not in the map.
int get_port_and_channel_from_logical_timeslot(int timeslot, int *port_out, int *channel_out);
// The bus of a logical timeslot, or -1 when it is not in the map.
int get_bus_by_logical_timeslot(int timeslot);
// Whether two local calls may be joined inside the media processor.
int is_bridging_allowed(call_object *co, call_object *otherco);
// The PCM table slot that joins the call with another unit, or -1.
int is_remote_bridging_possible(call_object *co);
// The logical timeslot of a PCM table slot (the map's port 100), or -1.
int get_logical_timeslot_for_pcm_bridging(call_object *co, int slot);

SM_ACTION(sm_msp_start_channel_processing);
SM_ACTION(sm_msp_stop_rtp);
SM_ACTION(sm_call_stop_dummy_rtp);
SM_ACTION(sm_call_enable_dummy_rtp);
SM_ACTION(sm_call_disable_dummy_rtp);
SM_ACTION(sm_check_continue_if_dummy_rtp_if_dialtone_passthrough_is_enabled);
SM_ACTION(sm_call_enable_dummy_rtp_if_dialtone_passthrough_is_disabled);
SM_ACTION(sm_msp_set_tdm_logical_timeslot);
SM_ACTION(sm_msp_bridge_if_we_can);
SM_ACTION(sm_prepare_rtp_loopback);
SM_ACTION(sm_s2s_choose_codecs_and_reserve_resources);

// The media processor operations this part calls; their owners fill them
// at start. A member left null is skipped with one level-2 line the first
// time (a set-up then starts nothing, a stop stops nothing).
struct media_start_hooks {
    int (*call_msp_setup_voice_channel)(call_object *co, int lock_msp_queue);
    int (*call_msp_setup_mf_channel)(call_object *co, int lock_msp_queue);
    int (*setup_msp_t38_channel)(call_object *co, int lock_msp_queue);
    int (*call_stop_msp_voice)(call_object *co, int lock_msp_queue);
    int (*call_stop_msp_t38)(call_object *co, int lock_msp_queue);
    int (*stop_msp_hdlc)(call_object *co, int lock_msp_queue);
    int (*call_stop_msp_tone)(call_object *co, int lock_msp_queue);
    // Joins two local voice channels: 0, or -1.
    int (*bridge_tdm)(call_object *co, call_object *otherco);
    // Joins the call's timeslot with its remote_tdm_logical_timeslot: 0, or -1.
    int (*bridge_remote_tdm)(call_object *co);
    // The PCM bridging table's slot that holds this address and port, or
    // -1; called with pcm_table_lock held.
    int (*pcm_table_find)(const char *ip, int port);
};
// Takes the non-null members (null keeps what is there); null clears all.
void media_start_set_hooks(const media_start_hooks *hooks);
