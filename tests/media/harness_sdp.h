// mediaharness's SDP steps (see harness_sdp.cpp).
#pragma once
#include <string>

struct call_object;

// Reads a far SDP text into the call's active leg: 0, or -1 when the parser
// refuses it.
int harness_read_far_sdp(call_object *co, const std::string &text);
// The call's own offer (its leg's local port); marks the offer as sent.
std::string harness_offer(call_object *co);
