// Calls between two SIP dialogs: the INVITE of the outgoing leg, the relay
// of its answers and failures to the incoming leg, failover proxy, call
// group member and the dial plan's next line, a SIP MESSAGE forwarded, a
// 302 passed back, and the transfer of any call by an incoming REFER (the
// gateway calls the target itself and reports to the referrer, or joins
// two of its own SIP-to-SIP calls).
#pragma once
#include <cstddef>

#include "statemachine.h"

struct call_object;
struct call_leg_sip;

// "%s" of the proxy of the SIP group named by the call's dial plan line's
// from_id ("%s:%i" with a port other than 0 and 5060); empty without line
// or group.
void get_proxy_by_dialplan_id(call_object *co, char *buf, size_t size);
// Moves a leg's media identity (proxy definition clone, address record copy,
// local RTP port, crypto, outbound options, telephone-event payload, codec,
// remote RTP address and port, stack object) from source to target.
void sip_transfer_copy_over_clsip(call_leg_sip *source, call_leg_sip *target);
// sip_refer_to_format (a Refer-To header made from a format) is the SIP
// stack's own (sofia-sip/sip_header.h).

// The Replaces value of a Refer-To URL's header part ("Replaces=..." in any
// case): URL-unescaped, cut at the first "&", at most size-1 characters.
// 0, or -1 (empty out) when the header part holds no Replaces.
int sip_refer_replaces(const char *url_headers, char *out, size_t size);
// The status relayed to leg 1 for leg 2's failure: status itself from 300
// to 699, else 480 (phrase "Temporarily Unavailable" in *phrase).
int s2s_relayed_failure_status(int status, const char **phrase);

// The host of the Contact relayed with a 302: the line's sip_302_contact_url,
// else the source configuration's, else the proxy of the line's source SIP
// group, else the gateway's WAN address when leg 1 runs on the "wan" stack,
// its LAN address otherwise.
void s2s_302_contact_host(call_object *co, char *host, size_t size);

// The first INVITE of the outgoing leg (sm_s2s_send_invite): From and To,
// a new handle, RTP ports, the SDP offer, the headers (leading_headers, may
// be null, in front of them), the trace and the INVITE. {-1, -1}, or
// {SM_DISMANTLING, -3} without handle or RTP port.
statemachine_handle_retval s2s_send_new_invite(call_object *co, const char *leading_headers);

// Actions that no table names yet.
statemachine_handle_retval sm_s2s_reject_call_and_release(void *p, void *arg, int32_t state, int32_t event);
statemachine_handle_retval sm_s2s_dont_start_transcoding_without_sdp_go_to_state_ringing(void *p, void *arg,
                                                                                           int32_t state,
                                                                                           int32_t event);

// What the SIP-to-SIP actions need from parts built elsewhere. Unfilled
// members log once and do nothing (no 1TR119 headers, no failover timers,
// no further call group member).
struct s2s_hooks {
    // The headers of the 1TR119 profile of an INVITE, appended to buf.
    void (*set_headbuf_1tr119_invite_headers)(call_object *co, char *buf, size_t size);
    // Arms the failover and answer timers of a new INVITE.
    void (*init_sip_failover_timers)(call_object *co);
    // The call group's next member (a SIP group name) or null.
    const char *(*get_next_sip_callgroup_alternative)(call_object *co);
};
// Takes the non-null members; null puts every member back to unfilled.
void s2s_set_hooks(const s2s_hooks *hooks);
