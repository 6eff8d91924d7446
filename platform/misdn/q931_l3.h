// Q.931 layer 3 of one D-channel: call references and call processes on the
// user side (TE) or on the network side (NT, with SETUP broadcast to every
// terminal of a point-to-multipoint bus and the choice among several
// answering terminals).
//
// The application talks to it in primitives (CC_<message>|REQUEST ... as in
// misdn_frame.h) with the information elements already coded; it answers
// with indications carrying the parsed message. Layer 2 and timers are
// reached through the ops; callers serialise all calls on one entity.
//
// What the layer does by itself:
//  - a received RELEASE is answered with exactly one RELEASE COMPLETE; a
//    RELEASE COMPLETE asked for later on that call is not sent again;
//  - STATUS ENQUIRY is answered with STATUS (cause 30 and the call state);
//  - RESTART on the global call reference is answered with RESTART
//    ACKNOWLEDGE; a RESTART sent without a Restart indicator gets one;
//  - on the user side a received CONNECT is acknowledged once;
//  - T303 (SETUP repeated once, then the call is cleared with cause 102 on
//    the user side, 18 or the terminals' cause on the network side), T305
//    (DISCONNECT not answered: RELEASE) and T308 (RELEASE repeated once);
//  - messages for an unknown call reference are answered as Q.931 5.8.3.2
//    says (RELEASE COMPLETE cause 81, or nothing for RELEASE COMPLETE).
#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "q931_wire.h"

struct q931_l3_ops {
    // I frame on the data link to tei (user side: tei is 0).
    int (*dl_data)(void *ctx, int tei, const uint8_t *msg, int len);
    // UI frame to every terminal (network side, point-to-multipoint).
    int (*dl_unitdata)(void *ctx, const uint8_t *msg, int len);
    // Indication or confirmation to the application. m is the message (null
    // for CC_NEW_CR, CC_RELEASE_CR and CC_SETUP|CONFIRM); word is the new
    // process id of CC_SETUP|CONFIRM.
    void (*up)(void *ctx, uint32_t prim, int dinfo, const q931_msg *m, int word);
    void (*timer)(void *ctx, int key, int ms);  // ms < 0 stops
};

struct q931_l3_config {
    bool network = false;
    bool ptmp = false;
    int crlen = 1;               // call reference octets we send (1 or 2)
    bool cr_prims = true;        // report CC_NEW_CR / CC_RELEASE_CR (user side)
    int t303_ms = 4000;
    int t305_ms = 30000;
    int t308_ms = 4000;
};

enum q931_timer_kind { Q931_T303 = 0, Q931_T305 = 1, Q931_T308 = 2, Q931_TIMER_KINDS = 3 };

// Id given to indications on the global call reference (RESTART).
enum { Q931_GLOBAL_PID = 0x7FFF0000, Q931_USER_PID_BASE = 0x40000000 };

struct q931_proc {
    int id = 0;
    int cr = 0;
    bool orig = false;        // we chose the call reference
    int state = 0;            // Q.931 call state
    int tei = 0;              // link; -1: broadcast (network, point-to-multipoint)
    int master = 0;           // id of the broadcast call this answer belongs to
    int tkey = 0;
    int t303n = 0, t308n = 0;
    bool timer_on[Q931_TIMER_KINDS] = {};
    bool conn_ack_sent = false;
    bool loser = false;       // a terminal that lost the call to another
    std::vector<uint8_t> setup;    // SETUP as sent, for T303
    std::vector<uint8_t> release;  // RELEASE as sent, for T308
    std::vector<uint8_t> disc_ies; // cause of our DISCONNECT, for T305
    // broadcast master
    int winner = 0;
    int reject_cause = -1;
    bool told_proceeding = false, told_alerting = false, told_progress = false;
};

struct q931_l3 {
    q931_l3_config cfg;
    q931_l3_ops ops{};
    void *ctx = nullptr;
    char name[24] = "";
    std::map<int, q931_proc> procs;  // by id
    int next_tkey = 1;
    int next_idx = 1;
    int next_cr = 1;
};

void q931_l3_init(q931_l3 *l3, const q931_l3_config &cfg, const q931_l3_ops &ops, void *ctx,
                  const char *name);
// Forgets every call and stops every timer, silently.
void q931_l3_reset(q931_l3 *l3);

// A request or response of the application: prim CC_<mt>|REQUEST (or
// CC_CONNECT|RESPONSE for CONNECT ACKNOWLEDGE, CC_NEW_CR|REQUEST for a new
// outgoing process), dinfo the process id, ies the coded elements.
void q931_l3_from_app(q931_l3 *l3, uint32_t prim, int dinfo, const uint8_t *ies, int ies_len);
// A message from layer 2; tei names the link (user side: 0).
void q931_l3_from_dl(q931_l3 *l3, int tei, const uint8_t *msg, int len);
void q931_l3_timer_expired(q931_l3 *l3, int key);

// Number of live call processes (tests, status).
int q931_l3_count(const q931_l3 *l3);
