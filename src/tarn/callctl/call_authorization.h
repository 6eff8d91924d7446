// The HTTP call-authorization query: before a call from a line goes out to
// SIP, the configured server is asked whether it may pass and where to.
// The query blocks the calling thread for at most one second.
#pragma once
#include <cstddef>

struct call_object;

// 1 allow, 0 deny. Without an answer (no handle, transfer failed, a status
// other than 200) the call's call_authorization_default_policy decides
// (0 allow, 1 deny); a 200 answer with the action "REJECT" denies; a
// redirect location replaces the call's rewritten To user. reserved is not
// read; port is the call's line port.
int call_query_authorization_server(call_object *co, const char *server, const char *credentials, int reserved,
                                    int port, int pid, const char *called, const char *calling);

// Reads an answer such as {"action":"REJECT","redirectLocation":null}: every
// '{', '}' and '"' removed, pieces split at ','; "action:REJECT" sets
// *action to 1 (else 0); "redirectLocation:X" copies X (at most size - 1
// characters) unless it is "null" (else redirect_url is empty).
void parse_call_authorization_response(const char *buffer, int *action, char *redirect_url, size_t size);

// The checks of a redirect location before it becomes a To user: non-empty,
// not "null", no control characters, blanks or '<', '>', '"'.
bool call_authorization_redirect_usable(const char *redirect);
