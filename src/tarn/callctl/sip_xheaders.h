// The extension headers of a SIP message onto the call's B-channel, for code
// that may not include the SIP stack's headers (they clash with the ISDN
// layer's).
#pragma once

struct call_object;
struct sip_s;

// Every header of sip that the SIP stack keeps as an extension header, in
// message order, to the call's B-channel (apply_sipx_to_bc, which takes the
// X-DV_ headers); nothing without a B-channel or a message.
void sip_apply_xheaders_to_bc(call_object *co, const sip_s *sip);
