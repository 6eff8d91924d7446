// What the analog call-control files share among themselves, and the
// pieces of a call from a line toward SIP that CAS and ISDN take as well.
#pragma once
#include <cstddef>

#include "sm_defs.h"

struct call_object;
struct kv_timer;

// An analog port p is port 100 + p of the TDM map (channel 1).
enum { ANALOG_TDM_PORT = 100 };

constexpr statemachine_handle_retval ANALOG_ROW = {SM_NO_DECISION, SM_ROW_EVENT};
constexpr statemachine_handle_retval ANALOG_KEEP = {SM_KEEP_STATE, SM_NO_EVENT};

// Replaces *slot with a new timer of the event after sec seconds and usec
// microseconds (at least one tick); *slot is null when it can't be armed.
void analog_arm_timer(kv_timer **slot, long sec, long usec, int event);
// Removes an armed timer and clears the slot.
void analog_remove_timer(kv_timer **slot);

// Off-hook to the call's port and a one-second T_EVENT_ANALOG_ONHOOK timer
// in place of the call timer; {SM_CALL_ACTIVE, no event}.
statemachine_handle_retval analog_reject_with_offhook(call_object *co);

// A call between SIP and a CAS channel (the analog actions that the CAS
// tables share read the CAS port's settings for those).
bool analog_is_cas_call(const call_object *co);

// Appends c to the 64-character field dst (63 characters and the end)
// unless it is full; false when it was full (the caller logs).
bool analog_append_char(char *dst, size_t size, char c);

// The call's configuration once its dial-plan line is found: the source's
// (or the default) configuration with the destination's and the line's on
// top, the DTMF handling anew, and the line's technology in the CDR.
void line_to_sip_take_dialplan_line(call_object *co);

// The INVITE of a call from a line toward SIP (analog and CAS): the old
// handle dropped, From and To, the handle, the RTP port, the SDP offer and
// the headers; trace writes the technology's "D INCOMING" line. The row's
// pair, or {SM_DISMANTLING, no event} without a handle or an RTP port.
statemachine_handle_retval line_to_sip_send_invite(call_object *co, void (*trace)(call_object *co));
