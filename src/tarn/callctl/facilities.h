// Supplementary services between SIP and ISDN: a SIP redirection turned
// into an ISDN call deflection or rerouting, an ISDN deflection request
// turned into a SIP 302 or a new SIP-to-SIP call, advice of charge and any
// other ISDN facility passed on to SIP (INFO), to a call looped through
// this gateway and to the authorization server, and malicious-call
// identification. Runs inside machine runs under global_lock.
#pragma once
#include <cstddef>

#include "sm_defs.h"

struct call_object;
struct FacParm;

SM_ACTION(sm_isdn_send_calldeflect);
SM_ACTION(sm_isdn_handle_facility_if_calldeflect_was_sent);
SM_ACTION(sm_isdn_handle_facility);
SM_ACTION(sm_isdn_send_mcid);

// The Contact of a 302 answer for number (with its type of number) into
// contact (at most 511 characters): "sip:user@host".
void get_sip_302_contact(call_object *co, char *contact, const char *which_address, int ton);

// The header text of an advice-of-charge operation by aoc_on_sip (with the
// raw facility line, and with ie_on_sip the IE lines before it) and its
// notice text for the authorization server; the amounts are stored in the
// call's aoc record. Other operations give empty texts.
void facility_aoc_texts(call_object *co, const FacParm *fac, char *text, size_t size, char *notice,
                        size_t notice_size);

// The multiplier factor of an AOC-D currency code (0 = 0.001 .. 6 = 1000).
double aoc_multiplier_factor(int code);
