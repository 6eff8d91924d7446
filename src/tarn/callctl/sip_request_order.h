// In-dialog requests in an order the SIP stack sends them.
//
// sofia-sip keeps one queue of client requests a dialog: a re-INVITE asked
// for while another request of the dialog (an INFO) waits for its answer is
// queued behind it, and the stack starts a queued INVITE only when an
// earlier INVITE ends, not when the INFO does: the re-INVITE would never go
// out. Such a re-INVITE waits here and goes out at the INFO's answer.
#pragma once

struct call_leg_sip;
struct call_object;

// An INFO went out on the leg's dialog.
void sip_info_sent(call_leg_sip *leg);
// Sends a re-INVITE with this SDP (and Contact, when not null) on the leg's
// dialog, or keeps it until the dialog's INFOs are answered.
void sip_send_reinvite(call_object *co, call_leg_sip *leg, const char *sdp, const char *contact);
// A final answer to an INFO of the leg: the last one sends a waiting re-INVITE.
void sip_info_answered(call_object *co, call_leg_sip *leg, int status);
// The leg is released: a waiting re-INVITE is dropped.
void sip_request_order_reset(call_leg_sip *leg);
