// Rewriting of a routed call's outgoing numbers and identities ("mangling"):
// the templates of the call's active configuration expanded with the call's
// values into one of the three layouts of its mangled record.
#pragma once

struct call_object;

// SIP-originated calls toward a line: fill mangled_sip_to_pstn (texts cut to
// 127 characters). The call's kind (callinfo) is already the direction's.
// Always 0.
int dialplan_mangle_names_sip_to_isdn(call_object *co);
int dialplan_mangle_names_sip_to_analog(call_object *co);
int dialplan_mangle_names_sip_to_gsm(call_object *co);
int dialplan_mangle_names_sip_to_cas(call_object *co);
