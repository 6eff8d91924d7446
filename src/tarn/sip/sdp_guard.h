// The check every SDP text passes before the SIP stack's SDP parser sees it.
//
// Debian's SDP parser (sofia-sip 1.12.11) never returns, and keeps
// allocating, on a media line whose format list holds a character outside
// the token set; one such packet would hang a stack thread for good. So a
// SIP message whose SDP has a media line that is not of the plain shape
// "m=<token> <port>[/<count>] <protocol> <format>..." is a parse error: the
// stack answers a request with 400 and drops a response, and the SDP is
// never parsed.
#pragma once
#include <sofia-sip/msg_types.h>

#include <cstddef>

// true when every line of text (lines end at CR or LF) starting "m=" has the
// plain shape, its fields apart by spaces, spaces allowed at the end.
bool sdp_media_lines_plain(const char *text, size_t size);

// The SIP message class the stacks parse with: the default one, whose body
// extraction refuses SDP bodies (application/sdp, multipart, or untyped)
// with media lines that are not plain, logging the peer. Built once.
const msg_mclass_t *sdp_guarded_mclass();
