#include "q931_l3.h"

#include <cstdio>
#include <cstring>

#include "log.h"
#include "misdn_frame.h"

#define L3LOG(l3, lvl, fmt, ...) LOGD(ISDN, (lvl), nullptr, "misdn %s L3: " fmt, (l3)->name, ##__VA_ARGS__)

// Q.931 call states used here (user side numbering; the network side uses
// the same numbers for the states it shares).
enum {
    ST_NULL = 0,
    ST_CALL_INITIATED = 1,
    ST_OVERLAP_SENDING = 2,
    ST_OUT_PROCEEDING = 3,
    ST_DELIVERED = 4,
    ST_PRESENT = 6,
    ST_RECEIVED = 7,
    ST_CONNECT_REQUEST = 8,
    ST_IN_PROCEEDING = 9,
    ST_ACTIVE = 10,
    ST_DISCONNECT_REQUEST = 11,
    ST_DISCONNECT_INDICATION = 12,
    ST_RELEASE_REQUEST = 19,
    ST_OVERLAP_RECEIVING = 25,
};

enum { CAUSE_NONSELECTED = 26, CAUSE_NO_USER_RESPONDING = 18, CAUSE_STATUS_RESPONSE = 30,
       CAUSE_INVALID_CR = 81, CAUSE_WRONG_STATE = 101, CAUSE_TIMER_EXPIRY = 102,
       CAUSE_NORMAL = 16 };

static int cause_ie(const q931_l3 *l3, uint8_t *out, int cause)
{
    out[0] = (uint8_t)(0x80 | (l3->cfg.network ? 2 : 0));
    out[1] = (uint8_t)(0x80 | (cause & 0x7F));
    return 2;
}

// ---- process book ----

static q931_proc *find(q931_l3 *l3, int id)
{
    auto it = l3->procs.find(id);
    return it == l3->procs.end() ? nullptr : &it->second;
}

// Process by call reference: orig tells whether we chose it; on the network
// side of a bus the terminal (tei) is part of the key for calls the terminals
// started, -1 finds our broadcast calls.
static q931_proc *find_by_cr(q931_l3 *l3, int cr, bool orig, int tei)
{
    bool by_tei = l3->cfg.network && l3->cfg.ptmp;
    for (auto &kv : l3->procs) {
        q931_proc &p = kv.second;
        if (p.cr != cr || p.orig != orig || p.master)
            continue;
        if (by_tei && p.tei != tei)
            continue;
        return &p;
    }
    return nullptr;
}

static q931_proc *find_child(q931_l3 *l3, int master, int tei)
{
    for (auto &kv : l3->procs)
        if (kv.second.master == master && kv.second.tei == tei)
            return &kv.second;
    return nullptr;
}

static void timer_start(q931_l3 *l3, q931_proc *p, int kind, int ms)
{
    p->timer_on[kind] = true;
    l3->ops.timer(l3->ctx, p->tkey * 4 + kind, ms);
}

static void timer_stop(q931_l3 *l3, q931_proc *p, int kind)
{
    if (p->timer_on[kind])
        l3->ops.timer(l3->ctx, p->tkey * 4 + kind, -1);
    p->timer_on[kind] = false;
}

static q931_proc *new_proc(q931_l3 *l3, int id)
{
    q931_proc &p = l3->procs[id];
    p = q931_proc();
    p.id = id;
    p.tkey = l3->next_tkey++;
    if (l3->next_tkey > 0x0FFFFFFF)
        l3->next_tkey = 1;
    return &p;
}

// A process id of our own: user side counts up from a base, network side
// uses (index << 16) | tei so that every answer of a bus carries the
// broadcast call in its upper half.
static int new_id(q931_l3 *l3, int tei)
{
    for (int tries = 0; tries < 0x8000; tries++) {
        int idx = l3->next_idx++;
        if (l3->next_idx >= 0x7FFF)
            l3->next_idx = 1;
        int id = l3->cfg.network ? ((idx << 16) | (tei & 0xFF)) : (Q931_USER_PID_BASE | idx);
        bool used = false;
        for (auto &kv : l3->procs)
            if ((kv.first & 0xFFFF0000) == (id & 0xFFFF0000) && l3->cfg.network)
                used = true;
        if (!find(l3, id) && !used)
            return id;
    }
    return 0;
}

static int new_cr(q931_l3 *l3)
{
    int max = l3->cfg.crlen == 2 ? 0x7FFF : 0x7F;
    for (int tries = 0; tries < max; tries++) {
        int cr = l3->next_cr++;
        if (l3->next_cr > max)
            l3->next_cr = 1;
        if (!find_by_cr(l3, cr, true, -1) && !find_by_cr(l3, cr, true, 0))
            return cr;
    }
    return 0;
}

static void free_proc(q931_l3 *l3, int id, bool report);

// ---- sending ----

static int route(q931_l3 *l3, int tei, bool broadcast, const uint8_t *msg, int len)
{
    if (broadcast)
        return l3->ops.dl_unitdata(l3->ctx, msg, len);
    return l3->ops.dl_data(l3->ctx, tei < 0 ? 0 : tei, msg, len);
}

static int send_cr(q931_l3 *l3, int crlen, int cr, int flag, int tei, bool broadcast, uint8_t mt,
                   const uint8_t *ies, int ies_len, std::vector<uint8_t> *keep)
{
    uint8_t buf[Q931_MAX_MSG];
    int n = q931_put_header(buf, crlen, cr, flag, mt);
    if (ies_len < 0 || n + ies_len > (int)sizeof buf) {
        L3LOG(l3, 0, "%s with %d octets of elements does not fit a frame, not sent",
              q931_mt_name(mt), ies_len);
        return -1;
    }
    if (ies_len)
        memcpy(buf + n, ies, (size_t)ies_len);
    n += ies_len;
    if (keep)
        keep->assign(buf, buf + n);
    return route(l3, tei, broadcast, buf, n);
}

static int send_p(q931_l3 *l3, q931_proc *p, uint8_t mt, const uint8_t *ies, int ies_len,
                  std::vector<uint8_t> *keep = nullptr)
{
    bool bc = p->tei < 0 && mt == MT_SETUP;
    return send_cr(l3, l3->cfg.crlen, p->cr, p->orig ? 0 : 1, p->tei, bc, mt, ies, ies_len, keep);
}

static void send_cause(q931_l3 *l3, q931_proc *p, uint8_t mt, int cause, std::vector<uint8_t> *keep = nullptr)
{
    uint8_t ie[4];
    uint8_t c[2];
    cause_ie(l3, c, cause);
    int len = q931_put_ie(ie, 0, sizeof ie, IE_CAUSE, c, 2);
    send_p(l3, p, mt, ie, len, keep);
}

// Answer on a call reference we hold no process for.
static void send_unknown(q931_l3 *l3, const q931_msg &m, int tei, uint8_t mt, int cause, int state)
{
    uint8_t ies[8];
    uint8_t c[2];
    cause_ie(l3, c, cause);
    int n = q931_put_ie(ies, 0, sizeof ies, IE_CAUSE, c, 2);
    if (state >= 0) {
        uint8_t s = (uint8_t)(state & 0x3F);
        n = q931_put_ie(ies, n, sizeof ies, IE_CALL_STATE, &s, 1);
    }
    send_cr(l3, m.crlen ? m.crlen : l3->cfg.crlen, m.cr, m.flag ? 0 : 1, tei, false, mt, ies, n, nullptr);
}

static void send_status(q931_l3 *l3, q931_proc *p, int cause)
{
    uint8_t ies[8];
    uint8_t c[2];
    cause_ie(l3, c, cause);
    int n = q931_put_ie(ies, 0, sizeof ies, IE_CAUSE, c, 2);
    uint8_t s = (uint8_t)(p->state & 0x3F);
    n = q931_put_ie(ies, n, sizeof ies, IE_CALL_STATE, &s, 1);
    send_p(l3, p, MT_STATUS, ies, n);
}

// ---- up ----

static void up_msg(q931_l3 *l3, uint32_t prim, int id, const q931_msg &m)
{
    l3->ops.up(l3->ctx, prim, id, &m, 0);
}

// A message of our own making given to the application as if received.
static void up_synth(q931_l3 *l3, uint32_t prim, q931_proc *p, uint8_t mt, int cause)
{
    uint8_t buf[16];
    int n = q931_put_header(buf, l3->cfg.crlen, p->cr, p->orig ? 1 : 0, mt);
    if (cause >= 0) {
        uint8_t c[2];
        cause_ie(l3, c, cause);
        n = q931_put_ie(buf, n, sizeof buf, IE_CAUSE, c, 2);
    }
    q931_msg m;
    if (q931_parse(buf, n, &m, nullptr) == 0)
        l3->ops.up(l3->ctx, prim, p->id, &m, 0);
}

static void up_plain(q931_l3 *l3, uint32_t prim, int id, int word)
{
    l3->ops.up(l3->ctx, prim, id, nullptr, word);
}

static void free_proc(q931_l3 *l3, int id, bool report)
{
    q931_proc *p = find(l3, id);
    if (!p)
        return;
    for (int k = 0; k < Q931_TIMER_KINDS; k++)
        timer_stop(l3, p, k);
    int master = p->master;
    bool user = !l3->cfg.network && l3->cfg.cr_prims;
    l3->procs.erase(id);
    if (master) {
        q931_proc *mp = find(l3, master);
        if (mp && mp->winner == id)
            free_proc(l3, master, false);
    }
    if (user && report)
        up_plain(l3, CC_RELEASE_CR | INDICATION, id, 0);
}

void q931_l3_init(q931_l3 *l3, const q931_l3_config &cfg, const q931_l3_ops &ops, void *ctx,
                  const char *name)
{
    l3->cfg = cfg;
    l3->ops = ops;
    l3->ctx = ctx;
    snprintf(l3->name, sizeof l3->name, "%s", name ? name : "");
    l3->procs.clear();
}

void q931_l3_reset(q931_l3 *l3)
{
    for (auto &kv : l3->procs)
        for (int k = 0; k < Q931_TIMER_KINDS; k++)
            timer_stop(l3, &kv.second, k);
    l3->procs.clear();
}

int q931_l3_count(const q931_l3 *l3) { return (int)l3->procs.size(); }

// ---- requests of the application ----

static bool ies_have(const uint8_t *ies, int len, uint8_t id)
{
    int p = 0;
    while (p < len) {
        uint8_t o = ies[p];
        if (o & 0x80) {
            if (o == id)
                return true;
            p++;
            continue;
        }
        if (p + 1 >= len)
            return false;
        if (o == id)
            return true;
        p += 2 + ies[p + 1];
    }
    return false;
}

static void send_restart(q931_l3 *l3, const uint8_t *ies, int len)
{
    uint8_t buf[Q931_MAX_MSG];
    if (len < 0 || len > (int)sizeof buf - 3)
        return;
    if (len)
        memcpy(buf, ies, (size_t)len);
    int n = len;
    if (!ies_have(ies, len, IE_RESTART_IND)) {
        // Q.931 requires the Restart indicator: the named channel, or this interface.
        uint8_t cls = ies_have(ies, len, IE_CHANNEL_ID) ? 0x80 : 0x86;
        n = q931_put_ie(buf, n, sizeof buf, IE_RESTART_IND, &cls, 1);
        if (n < 0)
            return;
    }
    bool bc = l3->cfg.network && l3->cfg.ptmp;
    send_cr(l3, l3->cfg.crlen, 0, 0, 0, bc, MT_RESTART, buf, n, nullptr);
}

static void app_setup(q931_l3 *l3, int dinfo, const uint8_t *ies, int len)
{
    int cr = new_cr(l3);
    if (!cr) {
        L3LOG(l3, 0, "no free call reference, SETUP for %x dropped", dinfo);
        return;
    }
    q931_proc *p;
    if (l3->cfg.network) {
        int id = new_id(l3, 0);
        if (!id) {
            L3LOG(l3, 0, "no free process id, SETUP for %x dropped", dinfo);
            return;
        }
        p = new_proc(l3, id);
        p->tei = l3->cfg.ptmp ? -1 : 0;
        p->state = ST_PRESENT;
    } else {
        p = find(l3, dinfo);
        if (p && p->cr) {
            L3LOG(l3, 1, "process %x has a call already, SETUP dropped", dinfo);
            return;
        }
        if (!p)
            p = new_proc(l3, dinfo);
        p->state = ST_CALL_INITIATED;
    }
    p->cr = cr;
    p->orig = true;
    int id = p->id;
    if (send_p(l3, p, MT_SETUP, ies, len, &p->setup) < 0 && p->setup.empty()) {
        free_proc(l3, id, true);
        return;
    }
    timer_start(l3, p, Q931_T303, l3->cfg.t303_ms);
    if (l3->cfg.network)
        up_plain(l3, cc_prim(MT_SETUP) | CONFIRM, dinfo, id);
}

static int call_state_after_send(const q931_l3 *l3, uint8_t mt, int old)
{
    bool net = l3->cfg.network;
    switch (mt) {
    case MT_CALL_PROCEEDING: return net ? ST_OUT_PROCEEDING : ST_IN_PROCEEDING;
    case MT_ALERTING: return net ? ST_DELIVERED : ST_RECEIVED;
    case MT_CONNECT: return net ? ST_ACTIVE : ST_CONNECT_REQUEST;
    case MT_SETUP_ACKNOWLEDGE: return net ? ST_OVERLAP_SENDING : ST_OVERLAP_RECEIVING;
    case MT_CONNECT_ACKNOWLEDGE: return ST_ACTIVE;
    default: return old;
    }
}

// The application clears a broadcast call that no terminal has answered yet.
static void app_clear_broadcast(q931_l3 *l3, q931_proc *mp, uint8_t mt, const uint8_t *ies, int len)
{
    int mid = mp->id;
    std::vector<int> kids;
    for (auto &kv : l3->procs)
        if (kv.second.master == mid && !kv.second.loser)
            kids.push_back(kv.first);
    for (int kid : kids) {
        q931_proc *c = find(l3, kid);
        c->loser = true;
        c->master = 0;  // lives on alone until the terminal has released it
        if (mt == MT_RELEASE_COMPLETE) {
            send_p(l3, c, MT_RELEASE_COMPLETE, ies, len);
            free_proc(l3, kid, false);
        } else {
            send_p(l3, c, MT_RELEASE, ies, len, &c->release);
            c->state = ST_RELEASE_REQUEST;
            c->t308n = 0;
            timer_start(l3, c, Q931_T308, l3->cfg.t308_ms);
        }
    }
    q931_proc saved = *mp;
    free_proc(l3, mid, false);
    if (mt == MT_DISCONNECT)
        up_synth(l3, cc_prim(MT_RELEASE) | INDICATION, &saved, MT_RELEASE, CAUSE_NORMAL);
    else if (mt == MT_RELEASE)
        up_synth(l3, cc_prim(MT_RELEASE_COMPLETE) | INDICATION, &saved, MT_RELEASE_COMPLETE, CAUSE_NORMAL);
}

void q931_l3_from_app(q931_l3 *l3, uint32_t prim, int dinfo, const uint8_t *ies, int ies_len)
{
    uint32_t kind = prim & ~0xFFu;
    uint32_t cmd = prim & 0xFF;
    if (ies_len < 0 || (ies_len && !ies)) {
        L3LOG(l3, 0, "request %x with bad element length %d dropped", prim, ies_len);
        return;
    }
    if (kind == CC_NEW_CR) {
        if (!l3->cfg.network && !find(l3, dinfo)) {
            q931_proc *p = new_proc(l3, dinfo);
            p->orig = true;
        }
        return;
    }
    if (kind == CC_RELEASE_CR) {
        free_proc(l3, dinfo, false);
        return;
    }
    if (!prim_is_cc(prim) || (cmd != REQUEST && cmd != RESPONSE)) {
        L3LOG(l3, 1, "primitive %x is no layer-3 request, dropped", prim);
        return;
    }
    uint8_t mt = cc_prim_mt(prim);
    if (cmd == RESPONSE) {
        if (mt != MT_CONNECT) {
            L3LOG(l3, 1, "response %x not understood, dropped", prim);
            return;
        }
        mt = MT_CONNECT_ACKNOWLEDGE;
    }
    if (mt == MT_L3_TIMEOUT) {
        L3LOG(l3, 1, "time-out request dropped");
        return;
    }
    if (mt == MT_RESTART) {
        send_restart(l3, ies, ies_len);
        return;
    }
    if (mt == MT_SETUP) {
        app_setup(l3, dinfo, ies, ies_len);
        return;
    }
    q931_proc *p = find(l3, dinfo);
    if (!p) {
        if ((mt == MT_FACILITY || mt == MT_REGISTER) && !(l3->cfg.network && l3->cfg.ptmp)) {
            // call-independent supplementary service: dummy call reference
            send_cr(l3, 0, 0, 0, 0, false, mt, ies, ies_len, nullptr);
            return;
        }
        L3LOG(l3, 2, "no call process %x for %s, not sent", dinfo, q931_mt_name(mt));
        return;
    }
    if (p->tei < 0) {  // broadcast call of a bus
        if (p->winner) {
            p = find(l3, p->winner);
            if (!p)
                return;
        } else if (mt == MT_DISCONNECT || mt == MT_RELEASE || mt == MT_RELEASE_COMPLETE) {
            app_clear_broadcast(l3, p, mt, ies, ies_len);
            return;
        } else {
            L3LOG(l3, 2, "%s for unanswered broadcast call %x not sent", q931_mt_name(mt), dinfo);
            return;
        }
    }
    int id = p->id;
    switch (mt) {
    case MT_RELEASE_COMPLETE:
        send_p(l3, p, mt, ies, ies_len);
        free_proc(l3, id, true);
        break;
    case MT_RELEASE:
        if (p->state == ST_RELEASE_REQUEST) {
            L3LOG(l3, 2, "RELEASE for %x sent already", id);
            break;
        }
        timer_stop(l3, p, Q931_T303);
        timer_stop(l3, p, Q931_T305);
        send_p(l3, p, mt, ies, ies_len, &p->release);
        p->state = ST_RELEASE_REQUEST;
        p->t308n = 0;
        timer_start(l3, p, Q931_T308, l3->cfg.t308_ms);
        break;
    case MT_DISCONNECT:
        timer_stop(l3, p, Q931_T303);
        send_p(l3, p, mt, ies, ies_len);
        p->disc_ies.assign(ies, ies + ies_len);
        p->state = ST_DISCONNECT_REQUEST;
        timer_start(l3, p, Q931_T305, l3->cfg.t305_ms);
        break;
    case MT_CONNECT_ACKNOWLEDGE:
        if (p->conn_ack_sent) {
            L3LOG(l3, 3, "CONNECT ACKNOWLEDGE for %x sent already", id);
            break;
        }
        p->conn_ack_sent = true;
        send_p(l3, p, mt, ies, ies_len);
        p->state = ST_ACTIVE;
        break;
    case MT_STATUS: {
        uint8_t buf[Q931_MAX_MSG];
        int n = 0;
        if (!ies_have(ies, ies_len, IE_CAUSE)) {
            uint8_t c[2];
            cause_ie(l3, c, CAUSE_STATUS_RESPONSE);
            n = q931_put_ie(buf, n, sizeof buf, IE_CAUSE, c, 2);
        }
        if (!ies_have(ies, ies_len, IE_CALL_STATE)) {
            uint8_t s = (uint8_t)(p->state & 0x3F);
            n = q931_put_ie(buf, n, sizeof buf, IE_CALL_STATE, &s, 1);
        }
        if (n + ies_len > (int)sizeof buf)
            break;
        if (ies_len)
            memcpy(buf + n, ies, (size_t)ies_len);
        send_p(l3, p, mt, buf, n + ies_len);
        break;
    }
    default:
        send_p(l3, p, mt, ies, ies_len);
        p->state = call_state_after_send(l3, mt, p->state);
        break;
    }
}

// ---- messages from layer 2 ----

static bool is_positive_answer(uint8_t mt)
{
    return mt == MT_ALERTING || mt == MT_CALL_PROCEEDING || mt == MT_SETUP_ACKNOWLEDGE ||
           mt == MT_CONNECT || mt == MT_PROGRESS;
}

static void conclude_broadcast(q931_l3 *l3, int mid, int cause)
{
    q931_proc *mp = find(l3, mid);
    if (!mp)
        return;
    q931_proc saved = *mp;
    free_proc(l3, mid, false);
    up_synth(l3, cc_prim(MT_RELEASE_COMPLETE) | INDICATION, &saved, MT_RELEASE_COMPLETE, cause);
}

static bool broadcast_has_live_answer(q931_l3 *l3, int mid)
{
    for (auto &kv : l3->procs)
        if (kv.second.master == mid && !kv.second.loser)
            return true;
    return false;
}

// Every terminal that answered has gone: end the call once T303 is over.
static void maybe_conclude(q931_l3 *l3, int mid)
{
    q931_proc *mp = find(l3, mid);
    if (!mp || mp->winner || mp->timer_on[Q931_T303] || broadcast_has_live_answer(l3, mid))
        return;
    conclude_broadcast(l3, mid, mp->reject_cause >= 0 ? mp->reject_cause : CAUSE_NO_USER_RESPONDING);
}

static void make_loser(q931_l3 *l3, q931_proc *c, int cause)
{
    c->loser = true;
    send_cause(l3, c, MT_RELEASE, cause, &c->release);
    c->state = ST_RELEASE_REQUEST;
    c->t308n = 0;
    timer_start(l3, c, Q931_T308, l3->cfg.t308_ms);
}

static void dispatch(q931_l3 *l3, q931_proc *p, const q931_msg &m);

// An answer of one terminal to our broadcast SETUP.
static void broadcast_answer(q931_l3 *l3, q931_proc *mp, int tei, const q931_msg &m)
{
    int mid = mp->id;
    int cause = q931_cause_of(&m);
    q931_proc *c = find_child(l3, mid, tei);
    if (c && c->loser) {
        if (m.mt == MT_RELEASE_COMPLETE) {
            free_proc(l3, c->id, false);
        } else if (m.mt == MT_RELEASE) {
            send_p(l3, c, MT_RELEASE_COMPLETE, nullptr, 0);
            free_proc(l3, c->id, false);
        }
        return;
    }
    if (c && mp->winner == c->id) {
        dispatch(l3, c, m);
        return;
    }
    if (!c) {
        if (m.mt == MT_RELEASE_COMPLETE || m.mt == MT_RELEASE || m.mt == MT_DISCONNECT) {
            if (!mp->winner && cause >= 0)
                mp->reject_cause = cause;
            if (m.mt == MT_RELEASE_COMPLETE)
                return;
        } else if (m.mt == MT_STATUS_ENQUIRY || m.mt == MT_STATUS) {
            if (m.mt == MT_STATUS_ENQUIRY)
                send_unknown(l3, m, tei, MT_STATUS, CAUSE_STATUS_RESPONSE, mp->state);
            return;
        } else if (!is_positive_answer(m.mt) && !mp->winner) {
            L3LOG(l3, 2, "%s from TEI %d to a broadcast call ignored", q931_mt_name(m.mt), tei);
            return;
        }
        int id = (mid & 0xFFFF0000) | (tei & 0xFF);
        if (find(l3, id)) {
            L3LOG(l3, 1, "TEI %d: process %x exists, answer dropped", tei, id);
            return;
        }
        c = new_proc(l3, id);
        mp = find(l3, mid);
        c->cr = mp->cr;
        c->orig = true;
        c->tei = tei;
        c->master = mid;
        c->state = ST_PRESENT;
        if (m.mt == MT_RELEASE) {
            send_p(l3, c, MT_RELEASE_COMPLETE, nullptr, 0);
            free_proc(l3, id, false);
            maybe_conclude(l3, mid);
            return;
        }
        if (mp->winner || m.mt == MT_DISCONNECT) {
            make_loser(l3, c, mp->winner ? CAUSE_NONSELECTED : CAUSE_NORMAL);
            maybe_conclude(l3, mid);
            return;
        }
    }
    // c is a live answer and nobody has won the call yet.
    switch (m.mt) {
    case MT_CONNECT: {
        mp->winner = c->id;
        timer_stop(l3, mp, Q931_T303);
        c->state = ST_ACTIVE;
        std::vector<int> others;
        for (auto &kv : l3->procs)
            if (kv.second.master == mid && kv.first != c->id && !kv.second.loser)
                others.push_back(kv.first);
        int cid = c->id;
        for (int o : others)
            make_loser(l3, find(l3, o), CAUSE_NONSELECTED);
        up_msg(l3, cc_prim(MT_CONNECT) | INDICATION, cid, m);
        return;
    }
    case MT_ALERTING:
    case MT_CALL_PROCEEDING:
    case MT_SETUP_ACKNOWLEDGE:
    case MT_PROGRESS: {
        timer_stop(l3, mp, Q931_T303);
        bool *told = m.mt == MT_ALERTING ? &mp->told_alerting
                     : m.mt == MT_PROGRESS ? &mp->told_progress : &mp->told_proceeding;
        c->state = m.mt == MT_ALERTING ? ST_RECEIVED : c->state;
        if (!*told) {
            *told = true;
            up_msg(l3, cc_prim(m.mt) | INDICATION, c->id, m);
        }
        return;
    }
    case MT_RELEASE_COMPLETE:
    case MT_RELEASE:
    case MT_DISCONNECT:
        if (cause >= 0)
            mp->reject_cause = cause;
        if (m.mt == MT_RELEASE_COMPLETE) {
            free_proc(l3, c->id, false);
        } else if (m.mt == MT_RELEASE) {
            send_p(l3, c, MT_RELEASE_COMPLETE, nullptr, 0);
            free_proc(l3, c->id, false);
        } else {
            make_loser(l3, c, CAUSE_NORMAL);
        }
        maybe_conclude(l3, mid);
        return;
    case MT_STATUS_ENQUIRY:
        send_status(l3, c, CAUSE_STATUS_RESPONSE);
        return;
    default:
        up_msg(l3, cc_prim(m.mt) | INDICATION, c->id, m);
        return;
    }
}

static void unknown_cr(q931_l3 *l3, int tei, const q931_msg &m)
{
    switch (m.mt) {
    case MT_SETUP: {
        if (m.flag) {
            L3LOG(l3, 1, "SETUP with the destination flag ignored");
            return;
        }
        bool bus = l3->cfg.network && l3->cfg.ptmp;
        int id = new_id(l3, bus ? tei : 0);
        if (!id) {
            L3LOG(l3, 0, "no free process id, SETUP ignored");
            return;
        }
        q931_proc *p = new_proc(l3, id);
        p->cr = m.cr;
        p->orig = false;
        p->tei = bus ? tei : 0;
        p->state = l3->cfg.network ? ST_CALL_INITIATED : ST_PRESENT;
        if (l3->cfg.cr_prims && !l3->cfg.network)
            up_plain(l3, CC_NEW_CR | INDICATION, id, 0);
        up_msg(l3, cc_prim(MT_SETUP) | INDICATION, id, m);
        return;
    }
    case MT_RELEASE_COMPLETE:
        return;
    case MT_RELEASE:
        send_unknown(l3, m, tei, MT_RELEASE_COMPLETE, CAUSE_INVALID_CR, -1);
        return;
    case MT_STATUS_ENQUIRY:
        send_unknown(l3, m, tei, MT_STATUS, CAUSE_STATUS_RESPONSE, ST_NULL);
        return;
    case MT_STATUS: {
        const q931_ie *st = q931_find(&m, IE_CALL_STATE);
        if (st && st->len >= 1 && (m.buf[st->off + 1] & 0x3F) != 0)
            send_unknown(l3, m, tei, MT_RELEASE_COMPLETE, CAUSE_WRONG_STATE, -1);
        return;
    }
    default:
        L3LOG(l3, 2, "%s for unknown call reference %d answered with RELEASE COMPLETE",
              q931_mt_name(m.mt), m.cr);
        send_unknown(l3, m, tei, MT_RELEASE_COMPLETE, CAUSE_INVALID_CR, -1);
        return;
    }
}

static void dispatch(q931_l3 *l3, q931_proc *p, const q931_msg &m)
{
    int id = p->id;
    bool net = l3->cfg.network;
    switch (m.mt) {
    case MT_SETUP:
        return;  // a repeated SETUP of a call we know
    case MT_ALERTING:
    case MT_CALL_PROCEEDING:
    case MT_SETUP_ACKNOWLEDGE:
    case MT_PROGRESS:
        timer_stop(l3, p, Q931_T303);
        if (m.mt == MT_ALERTING)
            p->state = ST_DELIVERED;
        else if (m.mt == MT_CALL_PROCEEDING)
            p->state = ST_OUT_PROCEEDING;
        else if (m.mt == MT_SETUP_ACKNOWLEDGE)
            p->state = ST_OVERLAP_SENDING;
        up_msg(l3, cc_prim(m.mt) | INDICATION, id, m);
        return;
    case MT_CONNECT:
        timer_stop(l3, p, Q931_T303);
        p->state = ST_ACTIVE;
        if (!net && !p->conn_ack_sent) {
            p->conn_ack_sent = true;
            send_p(l3, p, MT_CONNECT_ACKNOWLEDGE, nullptr, 0);
        }
        up_msg(l3, cc_prim(MT_CONNECT) | INDICATION, id, m);
        return;
    case MT_CONNECT_ACKNOWLEDGE:
        p->state = ST_ACTIVE;
        up_msg(l3, cc_prim(m.mt) | INDICATION, id, m);
        return;
    case MT_DISCONNECT:
        timer_stop(l3, p, Q931_T303);
        timer_stop(l3, p, Q931_T305);
        p->state = ST_DISCONNECT_INDICATION;
        up_msg(l3, cc_prim(m.mt) | INDICATION, id, m);
        return;
    case MT_RELEASE: {
        bool crossed = p->state == ST_RELEASE_REQUEST;
        if (!crossed)
            send_p(l3, p, MT_RELEASE_COMPLETE, nullptr, 0);
        bool loser = p->loser;
        uint32_t prim = (crossed && net) ? (cc_prim(MT_RELEASE) | CONFIRM) : (cc_prim(MT_RELEASE) | INDICATION);
        if (!loser)
            up_msg(l3, prim, id, m);
        free_proc(l3, id, true);
        return;
    }
    case MT_RELEASE_COMPLETE: {
        bool ours = p->state == ST_RELEASE_REQUEST;
        if (!p->loser) {
            uint32_t prim = (ours && net) ? (cc_prim(MT_RELEASE) | CONFIRM)
                                          : (cc_prim(MT_RELEASE_COMPLETE) | INDICATION);
            up_msg(l3, prim, id, m);
        }
        free_proc(l3, id, true);
        return;
    }
    case MT_STATUS_ENQUIRY:
        send_status(l3, p, CAUSE_STATUS_RESPONSE);
        up_msg(l3, cc_prim(m.mt) | INDICATION, id, m);
        return;
    case MT_STATUS: {
        const q931_ie *st = q931_find(&m, IE_CALL_STATE);
        if (st && st->len >= 1 && (m.buf[st->off + 1] & 0x3F) == ST_NULL) {
            // the far end has no call: clear ours
            up_msg(l3, cc_prim(MT_RELEASE_COMPLETE) | INDICATION, id, m);
            free_proc(l3, id, true);
            return;
        }
        up_msg(l3, cc_prim(m.mt) | INDICATION, id, m);
        return;
    }
    default:
        up_msg(l3, cc_prim(m.mt) | INDICATION, id, m);
        return;
    }
}

static void global_cr(q931_l3 *l3, int tei, const q931_msg &m)
{
    switch (m.mt) {
    case MT_RESTART: {
        uint8_t ies[Q931_MAX_MSG];
        int n = 0;
        for (int i = 0; i < m.nies && n >= 0; i++) {
            const q931_ie &ie = m.ies[i];
            if (ie.codeset == 0 && (ie.id == IE_CHANNEL_ID || ie.id == IE_RESTART_IND))
                n = q931_put_ie(ies, n, sizeof ies, ie.id, m.buf + ie.off + 1, ie.len);
        }
        if (n < 0)
            return;
        send_cr(l3, m.crlen, 0, 1, tei, false, MT_RESTART_ACKNOWLEDGE, ies, n, nullptr);
        up_msg(l3, cc_prim(MT_RESTART) | INDICATION, Q931_GLOBAL_PID, m);
        return;
    }
    case MT_STATUS_ENQUIRY:
        send_unknown(l3, m, tei, MT_STATUS, CAUSE_STATUS_RESPONSE, ST_NULL);
        return;
    case MT_RESTART_ACKNOWLEDGE:
        L3LOG(l3, 3, "RESTART ACKNOWLEDGE received");
        return;
    default:
        L3LOG(l3, 2, "%s on the global call reference ignored", q931_mt_name(m.mt));
        return;
    }
}

void q931_l3_from_dl(q931_l3 *l3, int tei, const uint8_t *msg, int len)
{
    q931_msg m;
    const char *why = "";
    if (q931_parse(msg, len, &m, &why) < 0) {
        L3LOG(l3, 1, "message of %d octets dropped: %s", len, why);
        return;
    }
    if (m.truncated)
        L3LOG(l3, 1, "%s: information element runs past the end, rest of the message dropped",
              q931_mt_name(m.mt));
    if (m.crlen == 0) {
        if (m.mt == MT_FACILITY || m.mt == MT_REGISTER || m.mt == MT_INFORMATION || m.mt == MT_NOTIFY)
            up_msg(l3, cc_prim(m.mt) | INDICATION, Q931_GLOBAL_PID, m);
        else
            L3LOG(l3, 2, "%s with the dummy call reference ignored", q931_mt_name(m.mt));
        return;
    }
    if (m.cr == 0) {
        global_cr(l3, tei, m);
        return;
    }
    bool orig = m.flag == 1;
    bool bus = l3->cfg.network && l3->cfg.ptmp;
    if (bus && orig) {
        q931_proc *mp = find_by_cr(l3, m.cr, true, -1);
        if (mp) {
            broadcast_answer(l3, mp, tei, m);
            return;
        }
    }
    q931_proc *p = nullptr;
    if (bus && orig) {
        // an answer from a terminal that lost a broadcast call already ended
        for (auto &kv : l3->procs)
            if (kv.second.cr == m.cr && kv.second.orig && kv.second.tei == tei)
                p = &kv.second;
    } else {
        p = find_by_cr(l3, m.cr, orig, bus ? tei : 0);
        if (!p && !bus)
            p = find_by_cr(l3, m.cr, orig, -1);
    }
    if (!p) {
        unknown_cr(l3, tei, m);
        return;
    }
    if (p->loser) {
        if (m.mt == MT_RELEASE || m.mt == MT_RELEASE_COMPLETE)
            dispatch(l3, p, m);
        return;
    }
    dispatch(l3, p, m);
}

void q931_l3_timer_expired(q931_l3 *l3, int key)
{
    int tkey = key / 4, kind = key % 4;
    q931_proc *p = nullptr;
    for (auto &kv : l3->procs)
        if (kv.second.tkey == tkey)
            p = &kv.second;
    if (!p || kind >= Q931_TIMER_KINDS || !p->timer_on[kind])
        return;
    p->timer_on[kind] = false;
    int id = p->id;
    switch (kind) {
    case Q931_T303:
        if (p->tei < 0 && l3->cfg.network) {
            if (broadcast_has_live_answer(l3, id))
                return;
            if (p->reject_cause >= 0 || p->t303n > 0) {
                maybe_conclude(l3, id);
                return;
            }
        } else if (p->t303n > 0) {
            int cause = l3->cfg.network ? CAUSE_NO_USER_RESPONDING : CAUSE_TIMER_EXPIRY;
            L3LOG(l3, 1, "no answer to SETUP of %x, call cleared", id);
            send_cause(l3, p, MT_RELEASE_COMPLETE, CAUSE_TIMER_EXPIRY);
            up_synth(l3, cc_prim(MT_RELEASE_COMPLETE) | INDICATION, p, MT_RELEASE_COMPLETE, cause);
            free_proc(l3, id, true);
            return;
        }
        p->t303n++;
        if (!p->setup.empty())
            route(l3, p->tei, p->tei < 0, p->setup.data(), (int)p->setup.size());
        timer_start(l3, p, Q931_T303, l3->cfg.t303_ms);
        return;
    case Q931_T305: {
        std::vector<uint8_t> ies = p->disc_ies;
        if (!ies_have(ies.data(), (int)ies.size(), IE_CAUSE)) {
            uint8_t c[2];
            cause_ie(l3, c, CAUSE_NORMAL);
            ies.assign({IE_CAUSE, 2, c[0], c[1]});
        }
        send_p(l3, p, MT_RELEASE, ies.data(), (int)ies.size(), &p->release);
        p->state = ST_RELEASE_REQUEST;
        p->t308n = 0;
        timer_start(l3, p, Q931_T308, l3->cfg.t308_ms);
        return;
    }
    case Q931_T308:
        if (p->t308n == 0 && !p->release.empty()) {
            p->t308n = 1;
            route(l3, p->tei, false, p->release.data(), (int)p->release.size());
            timer_start(l3, p, Q931_T308, l3->cfg.t308_ms);
            return;
        }
        L3LOG(l3, 1, "no answer to RELEASE of %x, call reference released", id);
        if (!p->loser)
            up_synth(l3, cc_prim(MT_RELEASE_COMPLETE) | INDICATION, p, MT_RELEASE_COMPLETE,
                     CAUSE_TIMER_EXPIRY);
        free_proc(l3, id, true);
        return;
    default:
        return;
    }
}
