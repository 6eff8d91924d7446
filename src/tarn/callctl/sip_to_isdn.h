// SIP-to-ISDN call actions: SIP answers to ISDN progress (and ISDN
// messages to SIP progress on the way back), clearing of the ISDN side
// with the right cause, the SIP rejection by the ISDN cause, the move of a
// call to another port when a channel is refused, information elements and
// DTMF on a connected call, the connected number before CONNECT, hold and
// suspend refused, and a SIP redirection followed by a new INVITE.
#pragma once

#include "sm_defs.h"

struct call_object;

// The common clearing step of the disconnect actions: RELEASE_COMPLETE, or
// DISCONNECT/RELEASE once the ISDN side has answered the call.
void _send_isdn_disconnect(call_object *co, int converting);

// The port move after a refused channel (the B-channel's cause is 44).
enum s2i_port_move_result {
    S2I_PORT_NOT_REFUSED = 0, // another cause: nothing done
    S2I_PORT_MOVED = 1,       // a new B-channel took over; the task is queued
    S2I_PORT_NONE_FREE = 2,   // no other channel: the old record is kept on the call
};
int s2i_move_to_other_port(call_object *co);
// Empties the call's (old) B-channel record and detaches it from the call.
void s2i_drop_bchannel(call_object *co);

// The tone detector's code of a DTMF character ('0'-'9' 0-9, '*' 10, '#'
// 11, 'A'-'D' and 'a'-'d' 12-15), -1 for any other.
int s2i_tone_code(char c);

// Answers the call's INVITE with status and reason, the header text and,
// when with_sdp, the call's SDP offer (INVITE without SDP) or answer; an
// OK answer marks the connection established. Also used by the SIP-to-FXO
// progress answers.
void respond_with_progress(call_object *co, int status, const char *reason, bool with_sdp, const char *headers);

SM_ACTION(sm_i2s_send_progress_response);
SM_ACTION(sm_i2s_send_progress_response_dialplan_match);
SM_ACTION(sm_s2i_send_nua_progress_response);
SM_ACTION(sm_isdn_encode_cad);
SM_ACTION(sm_isdn_cleanup_bc);
SM_ACTION(sm_sip_check_sending_new_invite);
SM_ACTION(sm_isdn_send_normal_disconnect);
SM_ACTION(sm_isdn_send_disconnect_by_sip_event);
SM_ACTION(sm_isdn_send_disconnect_cause_already_set);
SM_ACTION(sm_isdn_send_sip_reject_by_isdn_disconnect_cause);
SM_ACTION(sm_isdn_check_continue_next_port);
SM_ACTION(sm_isdn_handle_user_information_element_connected);
SM_ACTION(sm_isdn_handle_information_element_connected);
SM_ACTION(sm_sip_handle_incoming_sip_info_during_connect);
SM_ACTION(sm_s2s_handle_incoming_sip_info_during_connect);
SM_ACTION(sm_isdn_handle_hold);
SM_ACTION(sm_isdn_handle_suspend);
SM_ACTION(sm_ignore_state_100_if_already_got_one);
