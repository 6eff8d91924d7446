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

// What the variables read of records that other parts own: the SIP legs'
// proxy definitions and address records, the SIP port groups. Until a member is installed it logs once and gives
// nothing (null).
enum dp_address_part {
    DPA_FROM_USER,
    DPA_FROM_DISPLAY,
    DPA_TO_USER,
    DPA_TO_DISPLAY,
    DPA_PAI_ALL,
    DPA_PAI_USER,
    DPA_PAI_DISPLAY,
    DPA_PPI_ALL,
    DPA_PPI_USER,
    DPA_PPI_DISPLAY,
    DPA_RPI_ALL,
    DPA_RPI_USER,
    DPA_RPI_DISPLAY,
    DPA_CPI_ALL,
    DPA_CPI_USER,
    DPA_CPI_DISPLAY,
    DPA_REQUEST_URL_USER,
    DPA_REQUEST_URL_HOST,
    DPA_CONTACT_USER,
    DPA_CONTACT_HOST,
};
struct dialplan_vars_iface {
    // A part of the incoming leg's address record; null when not set.
    const char *(*incoming_address_part)(const call_object *co, int part);
    // The user of the outgoing leg's proxy definition; null without one.
    const char *(*account_username)(const call_object *co);
    // The SIP domain of the outgoing leg's SIP port group, "unknown" when the
    // proxy definition names no group; null without proxy definition.
    const char *(*account_domain)(const call_object *co);
    // The registration's user and SIP domain.
    const char *(*registration_username)(const reg_object *ro);
    const char *(*registration_domain)(const reg_object *ro);
};
// Installs the members given (null members keep the placeholders).
void dialplan_set_vars_iface(const dialplan_vars_iface *iface);
extern dialplan_vars_iface dialplan_vars;
