// Services around the call pool: freeing a line for an emergency call, the
// transcoding buddy of a SIP-to-SIP call, the type of a call's analog port.
#pragma once

struct call_object;
struct misdn_bchannel;

// Asks call control to finish the first other call in use that is not an
// emergency call (at most one). The caller holds global_lock; it is released
// while the request is made and for 100 ms after.
void emergency_terminate_call(call_object *co);

// The same for the first other call with a B-channel on the first ISDN port
// of target (a dial plan target); then up to 8 times waits 50 ms and asks
// for a B-channel for the dial plan target of co, and returns the first one
// it gets, or null. Null at once when no call is on that port.
misdn_bchannel *emergency_terminate_isdn_call(call_object *co, const char *target);

// The call's transcoding buddy, made from a free call object when it has
// none; null for a buddy itself and when the pool is exhausted.
call_object *get_transcoding_buddy(call_object *co);

// Type of the analog port of a call (1 FXS, 2 FXO): its own port, else its
// hold buddy's, else the port stored for hold.
int co_get_analog_port_type(call_object *co);
