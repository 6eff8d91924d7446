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
// 5 s, meant for the Internet's longest message life; a copy of an ACK
// comes at once behind the answer copy that drew it, and every refusal of
// an INVITE flood pins its request, answer and handle while it lasts.
constexpr unsigned SIP_T4_MS = 100;

// T2 of the transaction layer, the longest interval between copies of an
// answer to an INVITE (timer G) and of a request without an answer (timer
// E), set to T1 (0.5 s): every copy then follows the one before after the
// same 0.5 s. The stack keeps the transactions that wait to send a copy
// in one list sorted by due time and finds a new entry's place by walking
// it from the head unless it belongs behind the newest entry of a T1
// interval; with doubling intervals most entries go into the middle, and
// under an INVITE flood, where thousands of refusals wait for their ACK,
// that walk was two thirds of the stack thread's time and let it fall
// tens of seconds behind. With every interval T1 a new entry always goes
// last. The cost: a peer that never acknowledges a refusal gets up to 64
// copies of it over 32 s instead of 11, and a request to a silent peer
// (an OPTIONS or REGISTER) goes out every 0.5 s until its 32 s are over.
constexpr unsigned SIP_T2_MS = 500;

// The receive buffer of each SIP UDP socket (the kernel's default is
// 208 KB). When a burst outruns the stack thread the kernel drops what
// does not fit, ACKs of refusals among them; a client that does not
// acknowledge the refusal's next copy (a flooder, or one that has
// forgotten the call) then leaves its transaction for 32 s, sending the
// refusal every T2. The kernel doubles the figure asked for: 2 MB hold a
// few hundred milliseconds of a 2000 INVITE/s flood with its ACKs; it is
// kernel memory, taken only while datagrams wait.
constexpr unsigned SIP_UDP_RECEIVE_BUFFER = 1u << 20;

// The bound on waiting INVITEs until the call objects exist.
constexpr size_t SIP_PROCEEDING_LIMIT_AT_START = 256;

// While more than SIP_BACKLOG_SHED_BYTES of requests wait in a stack's UDP
// socket, the stack is behind: every new INVITE (outside a dialog) is
// answered 503 by the stack itself, without a transaction, a handle or an
// event, until the queue is down to SIP_BACKLOG_RESUME_BYTES. A refusal by
// call control costs the stack thread a quarter of a millisecond (the
// transaction, the handle, the events to and from call control, the 155
// and the refusal, the ACK); a stack that cannot keep up lets the queue
// fill until the kernel drops datagrams, ACKs among them, and every
// refusal whose ACK is lost stays 32 s sending copies, which puts it
// further behind. The stack's own 503 keeps nothing. Requests in a dialog
// (BYE, re-INVITE), OPTIONS and REGISTER are served as before, behind the
// INVITEs in the same queue: the bound keeps that wait short. The kernel's
// figure counts each datagram with its buffers, about 2 KB for an INVITE:
// the bound is about a hundred INVITEs, a few tens of milliseconds of the
// stack thread.
constexpr unsigned SIP_BACKLOG_SHED_BYTES = 256u << 10;
constexpr unsigned SIP_BACKLOG_RESUME_BYTES = 32u << 10;
constexpr unsigned SIP_BACKLOG_POLL_MS = 10;
// The bound on waiting INVITEs while shedding: the stack's own 503 for
// every new INVITE while one waits for call control.
constexpr size_t SIP_PROCEEDING_LIMIT_SHEDDING = 1;

// Every running stack: at most twice call_objects INVITE server
// transactions without a final answer. Call control can take at most
// call_objects of them (the rest only for an emergency call that ends a
// running one, or while calls end); an INVITE beyond the bound is answered
// 503 by the stack at once, without a transaction, a handle or an event,
// so a flood queues at most that many requests for call control and costs
// no memory beyond them. Asynchronous (the stacks' own threads apply it).
// The first call also starts the watch of the stacks' receive queues.
void sip_stacks_limit_proceeding(int call_objects);
