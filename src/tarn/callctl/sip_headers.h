// Header texts of the gateway's outgoing SIP messages: the Reason header,
// From and To, the identity and privacy headers of an INVITE, the local
// contact address, the media processor's log tag of a call and the SIP
// INFO value of a DTMF key. Every builder writes at most size bytes
// (terminator included) and cuts longer texts.
#pragma once
#include <cstddef>

struct call_object;
struct call_leg_sip;
struct sip_s;

// 0 with "REASON: ..." (no line end) in buf, or -1 with an empty buf.
int format_reason_header(call_object *co, char *buf, size_t size);
// "full", "uri", "name", "ipaddr" found in rpi_anonymity_flags, in that
// order, comma separated; "off" when none.
void format_anonymity(const call_object *co, char *buf, size_t size);
// From and To of a line-to-SIP or SIP-to-SIP call; 4096 without filling
// for a call of another direction, else 0.
int format_from_and_to(call_object *co, char *from, size_t from_size, char *to, size_t to_size);
// The identity and privacy header lines of an INVITE, each ending CR LF;
// runs before format_from_and_to (it may anonymise the From fields).
void format_invite_headers(call_object *co, char *buf, size_t size);
// The leg's local host and port, with ";transport=tcp" where needed.
void format_full_local_url(const call_leg_sip *leg, char *buf, size_t size, int via_port);
// The media processor library's context printer: "CID:%06i:p%i",
// "CID:%06i:00" or "CID:000000:00".
void format_msp_context(void *co, char *buf, int size);
// Appends the 1TR119 INVITE headers (Proxy-Require, Require,
// Security-Verify), each ending CR LF, as far as buf has room.
void set_headbuf_1tr119_invite_headers(char *buf, size_t size);
// '0'-'9' 0-9, '*' 10, '#' 11, else -1.
int convert_char_to_sipinfo_val(char c);

// The credential text of nua_authenticate for the last answer's challenge
// (its WWW-Authenticate, else its Proxy-Authenticate): "scheme:realm:user:
// pass", the realm as the challenge writes it (quotes included). 0, or -1
// with an empty buf when the answer carries no challenge.
int format_digest_credentials(const sip_s *sip, const char *user, const char *pass, char *buf, size_t size);
