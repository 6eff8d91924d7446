// Call control's side of the ISDN library: the three callbacks the library
// reports through (events, log lines, empty jitter buffers), the one way
// call control sends an ISDN message for a call, the out-event sender of the
// ISDN-side machines, the per-port release of every call, the per-port
// diversion-request state, and the layer pulling of ISDN port groups.
#pragma once
#include <cstdint>

#include "isdn_lib_types.h"

struct call_object;
struct misdn_bchannel;

// The event callback (cb_event). Called on the library's event-sender
// thread with global_lock held.
event_response_e isdn_cb_events(event_e event, misdn_bchannel *bc, void *user_data);
// The log callback (cb_log): network messages (level bit 0x40), messages
// (0x10/0x20) and debug lines up to level 40 of module ISDN, tagged
// "CID:%06i:p%i" with the call's pid and port.
void chan_misdn_log(int level, int port, int pid, const char *file, int line, const char *function,
                    const char *format, ...) __attribute__((format(printf, 7, 8)));
// Whether chan_misdn_log writes a line of the level (the library's filter).
int chan_misdn_log_on(int level, int port);
// The jitter-buffer callback: nothing is filled in; 0.
int chan_misdn_jb_empty(misdn_bchannel *bc, char *buffer, int length);

// Sends an ISDN message (an event_e value) for the call: counted in the
// call's ISDN leg record and traced, the received X-DV_ headers of the SIP
// leg's current message applied first when ie_on_sip is set. A call without
// a B-channel sends nothing.
void tarn_misdn_lib_send_event(call_object *co, int isdn_event);
// The out-event sender of the ISDN-side machines: p the call object,
// out_event status << 16 | event_e value (status: the cause to send, 0
// keeps the B-channel's). 0.
int32_t tarn_send_event(void *p, void *arg, int32_t out_event);

// RELEASE COMPLETE for every call on the port; channel 1 or more: only the
// call on that channel. The call objects are left to the library's events.
void cleanup_isdn_calls(int port, int channel);
// The diversion-request state of bc's port after a FACILITY or REGISTER
// outside a call. RESPONSE_OK.
event_response_e handle_global_facility(misdn_bchannel *bc);
// Every idle port of the ISDN port groups of that name pulled down / up. 0.
int layer_down_isdn_group(const char *port_group_name);
int layer_up_isdn_group(const char *port_group_name);
// The number of calls in use on the ISDN port.
int has_active_isdn_call(int port);
// Raises the maximum of concurrent calls to the calls in use; 1 when it
// did, else 0.
int update_max_concurrent_calls();

// For call control code that may not include the library's headers (they
// clash with the SIP stack's): whether the port is point-to-point, and a
// message on a B-channel that the call's ISDN leg record does not count
// (advice of charge). The library's answer.
int isdn_port_is_ptp(int port);
int isdn_send_unrecorded(misdn_bchannel *bc, int event);

// What the callback hands to parts built elsewhere. Unfilled members log
// once.
struct isdn_events_hooks {
    // Admission of a new ISDN call: RESPONSE_OK (4) or -1 (unfilled: the
    // SETUP is refused with RESPONSE_RELEASE_SETUP).
    int (*init_incoming_isdn_call)(misdn_bchannel *bc);
};
// Takes the non-null members.
void isdn_events_set_hooks(const isdn_events_hooks *hooks);

// The library call that sends a message on a B-channel (misdn_lib_send_event
// unless a test records the messages instead). Null puts the library back.
void isdn_events_set_library_send(int (*send)(misdn_bchannel *bc, event_e event));
