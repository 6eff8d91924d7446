// Texts of ISDN causes, the SIP reason texts made from them, and the choice
// of the cause a refused or ended call is given.
#pragma once
#include "dialplan.h" // dp_tech

// Built-in reject causes when the cause map has no row for a call.
enum {
    default_sip_reject_cause = 486,
    default_isdn_reject_cause = 17,
};
extern const char *const default_sip_reject_cause_text; // "Busy Here"

// The text of an ISDN (Q.850) cause; "Unknown cause" for a value outside
// the table.
const char *print_isdn_cause(int cause);

// The SIP reason text for an ISDN cause ("SERVICE UNAVAILABLE (ISDN: ...)").
const char *print_sip_unavailable(int cause);

// The outgoing cause and text for a call from one technology to another
// that failed with in_cause: the cause map's exact row, ISDN 902 to the
// gateway (34, ""), the map's row for any cause, SIP (486 "Busy Here"),
// ISDN (17 and no text: *out_text is null), else 0 and "". Callers hold
// global_lock (the map is replaced under it).
void get_reject_cause(int from, int to, int in_cause, int *out_cause, const char **out_text);

// A reject text for printing: "" in place of none.
inline const char *reject_text(const char *text)
{
    return text ? text : "";
}
