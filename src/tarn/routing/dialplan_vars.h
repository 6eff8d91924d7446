// Templates: dial plan fields and call configuration settings hold text with
// variable references, "${name}", that are replaced by values of the call in
// hand. Which values a name gives depends on the kind of call (callinfo):
// one constant table of names per kind.
//
// The owner handed to the replacement is a call object, or a registration
// object for registration templates; both begin with index and callinfo.
#pragma once
#include <cstddef>
#include <cstdint>

struct call_object;
struct reg_object;
struct call_configuration;
struct call_leg_sip;

enum {
    DP_MAX_VARIABLES = 11,    // references taken from one template
    DP_WORK_TEXT_SIZE = 1024, // work text of the nested replacement
    DP_MAX_NESTED_PASSES = 11,
    DP_VALUE_SIZE = 512, // values computed for a reference
};

enum { DP_AUTO_NEW_SOURCE = 0, DP_AUTO_NEW_DESTINATION = 1 };

// Records start and length (from '$' to '}') of each reference in order, at
// most `most`; stops at the first "${" without a later '}'. Returns the count
// (also stored in *count when given).
int dialplan_find_variables_in_string(const char *text, int *positions, int *lengths, int *count, int most);

// Copies the template into out (at most size - 1 characters and the
// terminator), each recorded reference replaced by its value; a reference
// whose table gives no value stays as written. Returns the length written.
int dialplan_replace_variables(void *owner, const char *tmpl, char *out, int size, const int *positions,
                               const int *lengths, int count);

// The configuration whose templates a call uses (cc_active, else cc), and
// its incoming and outgoing SIP legs (a call between a line and SIP has
// cl_sip only).
const call_configuration *dialplan_call_configuration(const call_object *co);
call_leg_sip *dialplan_incoming_leg(const call_object *co);
call_leg_sip *dialplan_outgoing_leg(const call_object *co);

// Replaces references including nested ones (the innermost first, in a
// work text of 1024 bytes); adds the number of replacements to *counter.
// Returns the length written.
int dialplan_find_and_replace_variables_in_string(void *owner, const char *tmpl, char *out, int size,
                                                  int *counter);

// The value tables (one for the four kinds from SIP to a line): a name (not terminated) and its length give a text or
// null. Texts belong to the call or to a buffer of the calling thread and
// are copied at once.
const char *dialplan_get_variable_sip_to_pstn(call_object *co, const char *name, int len);
const char *dialplan_get_variable_sip_to_sip(call_object *co, const char *name, int len);
const char *dialplan_get_variable_isdn_to_sip(call_object *co, const char *name, int len);
const char *dialplan_get_variable_analog_to_sip(call_object *co, const char *name, int len);
const char *dialplan_get_variable_gsm_to_sip(call_object *co, const char *name, int len);
const char *dialplan_get_variable_cas_to_sip(call_object *co, const char *name, int len);
const char *dialplan_get_variable_gsm_to_sip_extensions(call_object *co, const char *name, int len);
const char *dialplan_get_variable_sip_reg(reg_object *ro, const char *name, int len);
const char *dialplan_get_variable_dummy(void *owner, const char *name, int len);

// The number with the configuration's prefix for its type of number (0
// unknown, 1 international, 2 national, 3 network-specific, 4 subscriber,
// 5 alphanumeric, 6 abbreviated; other types add nothing), at most 511
// characters and size - 1. Returns the length written.
int dialplan_prefix_ton(char *out, int size, const char *number, int ton, const call_configuration *cc);

// The automatic type of number of one number: the number normalised by
// the location codes (K country, A city, L local area, as configured) and
// the national (N) and international (I) prefixes, for its configured type.
// Writes the result and its type; 0 when the type has no rule (number and
// type unchanged), else 1.
struct dp_auto_codes {
    const char *country, *city, *local_area;
    const char *national, *international;
};
int dialplan_auto_ton(const char *number, int configured_ton, const dp_auto_codes *codes, char *out, size_t size,
                      int *ton_out);

// Builds new_source_auto (which DP_AUTO_NEW_SOURCE) or new_destination_auto
// (DP_AUTO_NEW_DESTINATION) and new_auto_ton for a SIP-to-ISDN call with a
// dial plan line: 1 when built, else 0.
int dialplan_create_new_auto(call_object *co, int which);
