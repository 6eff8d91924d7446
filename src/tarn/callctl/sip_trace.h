// The SIP lines of the verbose call trace ("S ..."): one line per SIP
// message a call sends or receives, the details of INVITEs, and the status
// words of failed INVITEs.
#pragma once

struct call_object;
struct call_leg_sip;

// "S msg|INDICATION|CID=.." (direction non-zero) or "S msg|REQUEST|..".
void print_verbose_sip_msg(int direction, call_object *co, const char *msg);
void print_verbose_extra_info_incoming_invite(call_object *co);
void print_verbose_extra_info_outgoing_invite_pstn_to_sip(call_object *co);
void print_verbose_extra_info_outgoing_invite_sip_to_sip(call_object *co, call_leg_sip *leg);
// The trace line of a failed INVITE, named by its status.
void print_verbose_msg_invite_failed_text(call_object *co, int direction, int status);
// The word of that line ("BUSY", "UNKNOWN_ERROR_RESPONSE_%i"), into buf.
const char *invite_failed_text(int status, char *buf, int size);

// "ok", "progress", "ringing" or "unknown" for a sip_answer value.
const char *print_sip_response_type(int t);

// The call's active SIP leg: 1 for the incoming leg, 2 for the outgoing leg,
// else -1.
int call_index_of_call_leg(const call_object *co, const call_leg_sip *cl);
