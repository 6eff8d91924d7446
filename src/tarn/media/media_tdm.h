// Channels of line calls beyond plain voice: the MF signalling channel of a
// CAS call, two local calls joined inside the media processor (TDM
// hairpinning), a call joined with another unit's channel, and the RTP
// statistics query that drives the "no RTP received" supervision. Callers
// hold global_lock.
#pragma once

struct call_object;

// The call's channel between its CAS timeslot and RTP with the MF detector
// of an E1 MFC/R2 port and the channel in MF signalling mode: 0 when
// queued, -1 when it can't start. Lock flag as the voice set-up has it.
int call_msp_setup_mf_channel(call_object *co, int lock_msp_queue);

// Joins the voice channels of two local calls: 0, or -1 (either is not
// exactly voice-active, or the hairpin resource is refused; the calls then
// keep their voice channels and G.711 resources). Takes msp_queue_lock.
int bridge_tdm(call_object *co, call_object *otherco);
// Joins the call's timeslot with its remote_tdm_logical_timeslot: 0, or -1
// when the resources are refused. Takes msp_queue_lock.
int bridge_remote_tdm(call_object *co);

// Queues the RTCP statistics query of an active voice call's channel (the
// answer goes to the media event handler); nothing for any other call.
// call_rtp_stat takes msp_queue_lock; the _held form is for a caller that
// holds it already.
void call_rtp_stat(call_object *co);
void call_rtp_stat_held(call_object *co);
