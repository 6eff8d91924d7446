// The line side of SDP handling (kept apart from the SIP stack's headers).
#pragma once

struct call_object;

enum { SDP_ANALOG_EVENT_RINGOFF = 8200 };

// Releases the call's B-channel (a refused INVITE toward ISDN).
void sdp_release_bchannel(call_object *co);
// Disconnects the ISDN side of a call whose far SIP side answered with
// unusable media, with its trace line.
void sdp_disconnect_isdn_side(call_object *co, int (*send_event)(call_object *co, int event));
