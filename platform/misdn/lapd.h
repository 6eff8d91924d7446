// LAPD data link entity (ITU-T Q.921) for one D-channel, on the user side
// (TE) or on the network side (NT): TEI management, multiple-frame operation
// with sequence numbers, acknowledgement, retransmission on T200, link
// supervision on T203, and unacknowledged (UI) transfer with the group TEI.
//
// The entity does no I/O of its own: frames leave through ops.tx, layer-3
// indications through ops.dl, and timers are asked for through ops.timer and
// come back through lapd_timer_expired. Callers serialise all calls on one
// entity.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "lapd_frame.h"

// Primitives toward layer 3.
enum lapd_dl_prim {
    LAPD_DL_ESTABLISH_IND = 1,
    LAPD_DL_ESTABLISH_CNF,
    LAPD_DL_RELEASE_IND,
    LAPD_DL_RELEASE_CNF,
    LAPD_DL_DATA_IND,
    LAPD_DL_UNITDATA_IND,
};

enum lapd_timer_kind { LAPD_T200 = 0, LAPD_T203 = 1, LAPD_T202 = 2 };
static inline int lapd_timer_key(int link, int kind) { return link * 4 + kind; }
enum { LAPD_TEIMGT_LINK = 127, LAPD_TIMER_KEYS = 128 * 4 };

// Q.921 data link states.
enum lapd_state {
    LAPD_ST_TEI_UNASSIGNED = 1,
    LAPD_ST_ASSIGN_AWAITING_TEI = 2,
    LAPD_ST_ESTABLISH_AWAITING_TEI = 3,
    LAPD_ST_TEI_ASSIGNED = 4,
    LAPD_ST_AWAITING_ESTABLISHMENT = 5,
    LAPD_ST_AWAITING_RELEASE = 6,
    LAPD_ST_MULTIPLE_FRAME = 7,
    LAPD_ST_TIMER_RECOVERY = 8,
};

struct lapd_ops {
    void (*tx)(void *ctx, const uint8_t *frame, int len);
    void (*dl)(void *ctx, int prim, int tei, const uint8_t *data, int len);
    void (*timer)(void *ctx, int key, int ms);  // ms < 0 stops the timer
};

struct lapd_config {
    bool network = false;  // network side (NT) instead of user side (TE)
    bool ptp = true;       // point-to-point: TEI 0, no TEI management
    int k = 1;             // window of outstanding I frames
    int n200 = 3;
    int t200_ms = 1000;
    int t203_ms = 10000;
    int t202_ms = 2000;
    int n202 = 3;
};

struct lapd_link {
    int tei = -1;
    int state = LAPD_ST_TEI_UNASSIGNED;
    int vs = 0, va = 0, vr = 0;
    int rc = 0;
    bool peer_busy = false;
    bool rej_exception = false;
    bool l3_initiated = false;
    bool t200 = false, t203 = false;
    std::deque<std::vector<uint8_t>> iqueue;   // waiting to be sent
    std::vector<std::vector<uint8_t>> unacked; // sent, by N(S)
};

struct lapd_entity {
    lapd_config cfg;
    lapd_ops ops{};
    void *ctx = nullptr;
    char name[24] = "";
    std::map<int, lapd_link> links;  // user side: key 0; network side: by TEI
    // user-side TEI management
    int tei_ri = 0;
    int tei_tries = 0;
    bool tei_timer = false;
    // network-side TEI book (64..126 handed out)
    bool tei_used[128] = {};
    unsigned rnd = 0x2545F491u;
};

void lapd_init(lapd_entity *e, const lapd_config &cfg, const lapd_ops &ops, void *ctx,
               const char *name);
// Forgets every link and stops every timer (no frames sent).
void lapd_reset(lapd_entity *e);

// One received frame; 0 when taken, -1 when dropped (logged).
int lapd_frame_in(lapd_entity *e, const uint8_t *buf, int len);
void lapd_timer_expired(lapd_entity *e, int key);
// Layer 1 went down: every link is released.
void lapd_ph_deactivated(lapd_entity *e);

// Requests of layer 3. `tei` names the link on the network side and is
// ignored on the user side. 0, or -1 when refused.
int lapd_dl_establish(lapd_entity *e, int tei);
int lapd_dl_release(lapd_entity *e, int tei);
int lapd_dl_data(lapd_entity *e, int tei, const uint8_t *data, int len);
// UI frame; on the network side tei 127 broadcasts.
int lapd_dl_unitdata(lapd_entity *e, int tei, const uint8_t *data, int len);

// The user side's TEI, -1 while none is assigned.
int lapd_user_tei(const lapd_entity *e);
bool lapd_is_established(const lapd_entity *e, int tei);
// Number of links in multiple-frame operation.
int lapd_established_count(const lapd_entity *e);
