// The address of a SIP header (From, To, Contact, the identity headers):
// display name, scheme, user, host and parameters, and the scheme choice
// of a call.
#pragma once
#include <cstddef>

struct call_object;
struct call_leg_sip;

// "sips" when the call's sips_on_tls option is on and the current SIP leg's
// proxy definition (or, without one, its SIP stack) offers TLS; else "sip".
// Without a call "sip".
const char *format_sip_transport(const call_object *co);

// Writes into the emptied buffer (never past size) a display part "\"%s\" "
// (a given but empty display name becomes the call's sip_on_empty_display
// when that is set; quotes and backslashes are escaped, line ends dropped),
// then "<scheme:user@host URL-parameters>header-parameters"; a missing or
// empty user is the call's sip_on_empty_user; without user "<scheme:host...>",
// without host "<scheme:anonymous...>". Null texts count as empty; the leg is
// not read. Returns the buffer.
char *format_generic_sip_header_address(const call_object *co, const call_leg_sip *leg, char *buf, size_t size,
                                        const char *display, const char *user, const char *host,
                                        const char *url_params, const char *header_params);

// A display name as the inside of a quoted string: '"' and '\' escaped
// with a backslash, CR and LF left out; cut to size - 1 characters without
// splitting an escape.
void format_sip_quoted_display(char *out, size_t size, const char *display);
