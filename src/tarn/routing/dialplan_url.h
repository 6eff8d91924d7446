// ENUM query names, NAPTR replacements and the small URL and header tests
// of the dial plan module.
#pragma once
#include <cstddef>

struct call_object;
struct port_group_sip;

// The ENUM query name of a number under a search domain: its digits in
// reverse order, each followed by '.', then the domain (other characters
// skipped). The printed length, or -1 when the number has no digit (out is
// then empty). The output is cut to size - 1 characters.
int dialplan_create_enum_search_string(const char *number, const char *domain, char *out, size_t size);

// Builds the ENUM query name of the call's new called number under each of
// the group's ENUM search domains (each logged): 0 when at least one could
// be built, -1 when none (no call, no group, no domain, no digit).
int dialplan_create_enum_search(call_object *co, const port_group_sip *pgs);

// From a NAPTR regular expression "!pattern!replacement!flags": the host
// (after '@') and the user (before '@', after the scheme's ':') of the
// replacement. 1 when the replacement has both; else 0 with both outputs
// empty.
int dialplan_enum_regexp_to_user_and_url(const char *regexp, char *user, size_t user_size, char *host,
                                         size_t host_size);

// A new text (the caller frees it) with every '#' written as "%23"; null
// when memory runs out.
char *dialplan_url_encode_string(const char *text);
// 1 when the text holds '#'.
int dialplan_string_needs_url_encoding(const char *text);
// Writes every '#' of a fixed field as "%23" in place, as far as the field
// holds the whole escape; what does not fit is left out.
void dialplan_url_encode_field(char *field, size_t size);

// 1 when the text contains ':'.
int does_header_look_valid(const char *text);
// 1 when the text is not empty, begins with '+' or a digit and has only
// digits after that.
int dialplan_does_it_look_like_a_telephone_number(const char *text);
