// T.38 fax and G.711 re-INVITEs: the gateway's own re-INVITEs on calls
// between a line and SIP, and the relay of T.38 between the two legs of a
// SIP-to-SIP call (a T.38 re-INVITE of one leg is held until the other leg
// answered its own). Everything runs inside machine runs under global_lock.
#pragma once
#include <cstddef>

#include "sm_defs.h"

struct call_object;
struct call_leg_sip;
struct s2s_leg_media;

// The fixed offers of the re-INVITEs: T.38 (address, port, maximum bit
// rate) and G.711 A-law (address, port). Return what snprintf returned.
int t38_offer_text(char *buf, size_t size, const char *ip, int port, int max_rate);
int g711_offer_text(char *buf, size_t size, const char *ip, int port);

SM_ACTION(sm_sip_send_t38_reinvite);
SM_ACTION(sm_sip_send_g711_reinvite);
SM_ACTION(sm_s2s_send_t38_reinvite);
SM_ACTION(sm_s2s_send_t38_reinvite_on_first_leg);
SM_ACTION(sm_s2s_send_t38_reinvite_on_second_leg);
SM_ACTION(sm_s2s_save_media_before_offer);
SM_ACTION(sm_s2s_hold_t38_reinvite);
SM_ACTION(sm_s2s_held_t38_reinvite_answered);
SM_ACTION(sm_s2s_held_t38_reinvite_rejected);

// Does port lie in the LAN stack's T.38 pool?
bool s2s_in_lan_t38_range(int port);
// A SIP-to-SIP leg's T.38 port: its present port is kept aside (an older
// kept one released) and a passthrough port taken; with none free the leg
// keeps its present port.
void s2s_take_t38_port(call_object *co, call_leg_sip *leg);

// The T.38 re-INVITE of one SIP-to-SIP leg (a passthrough port unless its
// port lies in the LAN T.38 range).
void s2s_send_t38_reinvite(call_object *co, call_leg_sip *leg);
// Answers the held re-INVITE: 200 with the T.38 answer, or the refusal of
// pseudo cause 917 with the leg's media state put back.
void s2s_answer_held_t38_reinvite(call_object *co, int accept);

// A leg's media state into and out of a saved record; the way back
// releases a local port that differs from the saved one.
void s2s_save_leg_media(const call_leg_sip *leg, s2s_leg_media *m);
void s2s_restore_leg_media(call_leg_sip *leg, const s2s_leg_media *m);

// The SIP stack calls of the re-INVITEs and of the held answer; tests
// replace them (null puts the stack's back).
struct t38_sip_ops {
    // nua_set_hparams with the ordered-user flag, then nua_invite with the
    // SDP and, when not null, the Contact.
    void (*reinvite)(call_object *co, call_leg_sip *leg, const char *sdp, const char *contact);
    // nua_respond on the leg; sdp null for none (a 200 selects RTP mode 2).
    void (*respond)(call_object *co, call_leg_sip *leg, int status, const char *phrase, const char *sdp);
};
void t38_set_sip_ops(const t38_sip_ops *ops);
