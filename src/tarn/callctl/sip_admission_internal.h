// What the SIP admission and its line admissions share.
#pragma once
#include <sofia-sip/nua.h>

#include <cstdint>

#include "sip_admission.h"

struct call_object;

const sip_admission_hooks &admission_hooks();

// The From and To users of the request ("" when unknown).
const char *from_user_of(const call_object *co);
const char *to_user_of(const call_object *co);

// Answers the request with code and phrase, the call's Reason header (when
// there is one) and contact (when given), and writes the "S SEND" line.
void send_refusal(call_object *co, nua_t *nua, nua_handle_t *nh, int code, const char *phrase, const char *contact);
// Clears the legs' hold on the request's handle, unbinds and destroys it.
void drop_request_handle(call_object *co, nua_handle_t *nh);
// "calling reset_op for %p", the machine destroyed, the call object reset.
void reset_call(call_object *co);
// The refusal of an internal cause: special_termination_reason, the mapped
// answer with its Reason header, the handle destroyed, the call reset.
void refuse_request(call_object *co, nua_t *nua, nua_handle_t *nh, int cause, int reason);
// The common refusal of a line admission: the mapped answer of the internal
// cause (a 302 to the move_on_pstn_fail target when the call has one), its
// Reason header, the handle destroyed, the call reset, slot 0 of the
// technology's counter (may be null) counted. code_override replaces the
// mapped answer when non-zero.
void refuse_line_call(call_object *co, nua_t *nua, nua_handle_t *nh, int cause, int code_override,
                      const char *phrase_override, uint32_t *slot0);

// The ISDN library's state the admission toward ISDN reads (kept apart: the
// library's headers and the SIP stack's do not mix).
// 1 when the last B-channel search found the mISDN down-queues full.
int isdn_downqueues_full();
// The channel list of a port, for debugging.
void isdn_dump_channels(int port);
