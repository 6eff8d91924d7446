// Pieces shared by the SIP and the line search.
#pragma once
#include <regex.h>

#include <cstddef>

#include "dialplan_search.h"

struct call_configuration;
struct call_leg_sip;
struct proxy_def;

// 1 when re matches the whole text.
int dp_whole_match(const regex_t *re, const char *text);
// A number test of a line: a whole match, or a miss on a negated pattern.
bool dp_number_passes(const regex_t *re, int negated, const char *text);

// The template with its references replaced (at most 511 characters);
// true when it held references.
bool dp_expand(call_object *co, const char *tmpl, char *out, size_t size);

// The new number from a line's template: over the match of the pattern, or
// with every "\1" as the whole text when the pattern is negated. A new
// text (the caller frees it), or null when the template failed.
char *dp_rewrite(const regex_t *re, int negated, const char *text, const char *tmpl);

// A line's new calling (source) or called number: its template expanded
// into tmpl (*vars: it held references) and applied to the number text; a
// new text, or null with the line's message when the template failed.
char *dp_new_number(call_object *co, const dialplan_element *e, bool source, const char *text, char *tmpl,
                    size_t size, bool *vars);

// Replaces an owned text (null: none).
void dp_set_text(char **slot, const char *value);

// The line's configuration, or the default record.
const call_configuration *dp_line_cc(const dialplan_element *e);

// Points *slot at the pooled record of the option string (null: leaves it).
void dp_assign_config(call_object *co, call_configuration **slot, const char *options);

// The outbound SIP side of a matched line going to SIP: the leg's stack and
// local address from the group the identifier names (else the first of the
// fallback stacks that exists; without a list the first SIP stack),
// the line copy's outbound proxy definition (rebuilt when the identifier
// changed or missing), the leg's clone of it with the line's failover proxy.
void dp_prepare_outgoing_leg(dialplan_element *dp, call_leg_sip *leg, const char *id, bool changed,
                             const char *const *fallback_stacks);

// A SIP call's line destination: the ports of a list (ranges allowed, at
// most 32) into the copy's to_ports with the default destination
// configuration, or the configuration of the single port or of the "g:"/"p:"
// group from the technology's configuration file (none for CAS).
void dp_line_destination(call_object *co, dialplan_element *dp, const char *id);

// A line that does not match: the message at level 8 with the call's tag.
void dp_no_match(const call_object *co, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// The call-group step of a line test (a search only): false when no group
// can take the call (*stop set unless the line has dialplan_go_on); sets
// *changed when the group in id was replaced.
bool dp_call_group_step(call_object *co, const dialplan_element *e, char *id, size_t size, bool *changed,
                        int *stop);

// The call's copy of a matched line keeps the texts it used: the expanded
// source and templates when they held references (null: unchanged).
void dp_keep_expanded(dialplan_element *dp, const char *from_id, const char *new_source,
                      const char *new_destination);

// "g:" or "p:" in front, any case.
bool dp_names_group(const char *id);
