// Routing a call through the dial plan: the search from a SIP request and
// from a line port, number rewriting by the lines' patterns and templates,
// call groups and call limits of SIP port groups.
//
// Callers hold global_lock; the searches take dialplan_lock themselves. A
// single line test on the call's own copy (call control switching to another
// member of a call group) runs under global_lock only.
#pragma once
#include <regex.h>

#include <cstddef>

#include "dialplan.h"

struct call_object;
struct call_leg_sip;
struct sip_address_info_object;
struct cm;
struct call_configuration;

enum {
    DP_TEXT_SIZE = 256,      // a chosen source or destination text: 255 characters
    DP_VAR_TEXT_SIZE = 512,  // an identifier or template with its references replaced
    DP_REWRITE_SIZE = 2048,  // a rewritten number: 2047 characters
    DP_PREFIXED_SIZE = 512,  // a number with its international prefix: 511 characters
    DP_MAX_TO_PORTS = 32,    // ports of a line destination
    DP_CALL_GROUP_CANDIDATES = 8,
};

// ---- searches from SIP --------------------------------------------------------------------

// The first line from start_index on that takes the SIP request of the call
// (its incoming leg's address record, source address and request). The
// call's new dp on a match, else null.
dialplan_element *dialplan_search_from_sip(call_object *co, int start_index);

// Tests one line. initial is 1 during a search (the line is copied into the
// call's dp on a match); 0 for a test of the call's own dp. *stop is set to 1
// when the search must not go on to later lines. The call's dp on a match.
dialplan_element *dialplan_search_from_sip_check_element(call_object *co, dialplan_element *e, int initial,
                                                         int *stop);

// The address pattern of a SIP port group: "(" alternatives ")" from its
// proxy's addresses (SRV targets, else the proxy host once per user), or
// its manual pattern when automatic is set and the group matches manually.
// 0, the number of hosts that could not be resolved, or -1 for an unknown
// group.
int dialplan_sip_in_get_address_regexp(const char *group, char *out, size_t size, int automatic);

// The active configuration of a call routed from SIP (cc_active, the
// call's own record): the defaults, then the source group's record without
// its SIP outbound options, the destination group's without its SIP inbound
// options, the dial plan line's, and last the override when given.
void dialplan_build_active_configuration(call_object *co, const call_configuration *override);

// ---- searches from a line ------------------------------------------------------------------

// From the call's dialplan_start_index on; the call's new dp or null.
dialplan_element *dialplan_search_from_pstn(call_object *co, dp_tech tech);
// ISDN and analog remember where a line with dialplan_go_on leaves off.
dialplan_element *dialplan_search_from_isdn(call_object *co);
dialplan_element *dialplan_search_from_analog(call_object *co);
dialplan_element *dialplan_search_from_gsm(call_object *co);
dialplan_element *dialplan_search_from_cas(call_object *co);
// SIP from line 0, ISDN, analog and GSM as above; else "unknown technology".
dialplan_element *dialplan_search(call_object *co, dp_tech tech);

dialplan_element *dialplan_search_from_pstn_check_element(call_object *co, dp_tech tech, dialplan_element *e,
                                                          int initial, int *stop);

// 1 when port is in the comma-separated list: decimal ports, or "g:name"
// (any case) for every port whose group in the technology's configuration
// has that name (case ignored); no ranges. Empty entries are skipped.
int dialplan_port_matches(cm *config, const char *list, int port);
int dialplan_isdn_port_matches(const char *list, int port);
int dialplan_gsm_port_matches(const char *list, int port);
int dialplan_analog_port_matches(const char *list, int port);
int dialplan_cas_port_matches(const char *list, int port);

// ---- rewriting -----------------------------------------------------------------------------

// The template applied to the match of re on text: "\0".."\9" insert the
// whole match or a group (an unmatched group inserts nothing), everything
// else is copied; at most 2047 characters and size - 1. 0, or -1 when re
// does not match text.
int dialplan_regmod(const regex_t *re, const char *text, const char *tmpl, char *out, size_t size);
// The form for negated patterns: every "\1" is the whole text.
int dialplan_regmod_negated(const char *text, const char *tmpl, char *out, size_t size);

// The international prefix rewrite of the dial plan: s2d prefix setting 0
// replaces a leading '+' by the prefix, 1 also puts the prefix in front of a
// number that does not begin with the prefix's first character, 2 leaves
// the number alone. At most 511 characters and size - 1.
void dialplan_international_prefix(const char *number, int setting, const char *prefix, char *out, size_t size);

// ---- number choice -------------------------------------------------------------------------

// One row of the SIP source and destination settings: the part of the
// incoming request's address record it takes (null for "auto" and manual).
struct dp_sip_number_row {
    int value;
    const char *keyword;
    char *sip_address_info_object::*part;
};
extern const dp_sip_number_row from_sip_src_setting[13];
extern const dp_sip_number_row from_sip_dest_setting[14];
// One row of the line's source setting (ISDN calling numbers).
struct dp_pstn_number_row {
    int value;
    const char *keyword;
};
extern const dp_pstn_number_row from_pstn_src_setting[8];

// Every header of the request the leg is handling as "%s: %s" (name and
// value) to visit, in message order, until it returns non-zero; that value,
// or 0.
int dialplan_for_each_request_header(const call_leg_sip *leg, int (*visit)(const char *line, void *ctx),
                                     void *ctx);

// ---- call groups ---------------------------------------------------------------------------

// The group of a "g:"/"p:" identifier may hand the call to another member of
// its call group (the name in id is rewritten, at most size - 2 characters)
// and fills the call's alternatives. 0 when the call may go on (also when no
// SIP port group has the name), -1 with call_limit_exceeded when no group
// can take it.
int dialplan_init_call_group(call_object *co, char *id, size_t size);
// Calls whose outgoing leg's proxy definition names the group.
int dialplan_count_outbound_calls_to_peer(const char *name);

// The routing's random numbers (call group choice, SRV targets): one private
// generator seeded once. A source handed in replaces it (tests); null
// restores it.
int dialplan_random();
void dialplan_set_random_source(int (*source)());
