// Load shedding on the SIP stacks: how many new INVITEs may wait for call
// control's answer at once (beyond that the stack itself answers 503 and
// keeps nothing of the request), and how long the transaction of an INVITE
// answered with a failure stays once its ACK has come.
#pragma once
#include <cstddef>

// Timer I over UDP (RFC 3261 17.2.1), T4 of the stack's transaction layer:
// an INVITE server transaction whose failure answer was acknowledged stays
// this long to absorb copies of the ACK. It is also timer K of outgoing
// non-INVITE transactions (copies of their final answer). RFC 3261 gives
// 5 s; refusals under an INVITE flood would pin 5 s of requests each.
constexpr unsigned SIP_T4_MS = 500;

// The bound on waiting INVITEs until the call objects exist.
constexpr size_t SIP_PROCEEDING_LIMIT_AT_START = 256;

// Every running stack: at most twice call_objects INVITE server
// transactions without a final answer. Call control can take at most
// call_objects of them (the rest only for an emergency call that ends a
// running one, or while calls end); an INVITE beyond the bound is answered
// 503 by the stack at once, without a transaction, a handle or an event,
// so a flood queues at most that many requests for call control and costs
// no memory beyond them. Asynchronous (the stacks' own threads apply it).
void sip_stacks_limit_proceeding(int call_objects);
