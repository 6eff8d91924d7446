// The end of a call object's life: one reset that tears down everything the
// call holds, in a fixed order (console connection, CDR, RTP proxy, state
// machine, timers, SIP legs, dial plan data, ISDN B-channel, media processor
// resources, line ports, and last the call's own fields), after which the
// object is back in the pool. The same part releases SIP legs and
// registration objects.
//
// Callers hold global_lock and not co_list_lock (the object is handed back
// to the pool under co_list_lock as the reset's last step).
#pragma once

struct call_object;
struct call_leg_sip;
struct reg_object;
struct crypto_settings;

// The full reset. lock_msp_queue non-zero: msp_queue_lock is taken around
// the media steps; 0: the caller holds it already.
void reset_op_msplock(call_object *co, int lock_msp_queue);
// reset_op_msplock with locking on.
void reset_op(call_object *co);

// Releases one SIP leg (null does nothing): handles destroyed, proxy
// definition and address record freed, RTP ports back to the pool, texts
// freed. A heap leg is freed; a pooled leg is zeroed but keeps its index.
void reset_sip_leg(call_leg_sip *cl);

// Releases one registration object; a free object is left as it is.
void reset_rop(reg_object *ro);

// The call's own configuration back to the default record; cc_source,
// cc_destination and cc_override (each holding one reference, see
// cc_assign_call_configuration) point to the default record again.
void reset_call_configurations(call_object *co);

// Releases the call's CAS port and clears the CAS texts and signalling state.
void co_reset_cas_port(call_object *co);

// Frees the key and SDP crypto texts of the three rows in both directions,
// then the record (null does nothing).
void free_crypto_settings(crypto_settings *cs);

// What the reset calls in parts built elsewhere. A member left null is
// skipped with a level-9 line naming it.
struct call_reset_hooks {
    // Stops the call's RTP passthrough proxy thread if one runs.
    void (*stop_udp_proxy_thread)(call_object *co);
    // Sends an ISDN message (538 DISCONNECT, 541 RELEASE COMPLETE) for the
    // call's B-channel and counts it in the call's ISDN leg record.
    int (*tarn_misdn_lib_send_event)(call_object *co, int event);
    // Stops the transcoding of a SIP-to-SIP call; lock 0: the caller holds
    // msp_queue_lock.
    void (*call_s2s_stop_transcoding)(call_object *co, int lock);
    // Gives a transcoding timeslot back to its free list.
    int (*transcoding_release_timeslot)(int timeslot);
    // Debug listing of the transcoding timeslots.
    void (*transcoding_list_timeslots)(const char *function, int line);
};
// Takes the non-null members of hooks (null keeps what is there); at start,
// before calls are taken.
void call_reset_set_hooks(const call_reset_hooks *hooks);
// Every member back to null (tests).
void call_reset_clear_hooks();
