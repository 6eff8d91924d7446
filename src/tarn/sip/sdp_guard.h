// The check every SDP text passes before the SIP stack's SDP parser sees it.
//
// Debian's SDP parser (sofia-sip 1.12.11) never returns, and keeps
// allocating, on a media line whose format list holds a character outside
// the token set; one such packet would hang a stack thread for good. So a
// SIP message whose SDP has such a media line is a parse error: the stack
// answers a request with 400 and drops a response, and the SDP is never
// parsed.
#pragma once
#include <cstddef>

struct msg_mclass_s;

// 0 when a blank-separated field of a media line ("m=") is not a run of
// tokens joined by single "/" or ":" (one may end it; a tab is not a
// blank here): the SIP stack's SDP parser does not end on such a line (it
// allocates until memory runs out), so it is never handed one; else 1.
int sdp_media_lines_parsable(const char *text, size_t len);

// The SIP message class the stacks parse with: the default one, whose body
// extraction refuses SDP bodies (application/sdp, multipart, or untyped)
// with media lines it could not parse, logging the peer. Built once.
const msg_mclass_s *sdp_guarded_mclass();
