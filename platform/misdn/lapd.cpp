#include "lapd.h"

#include <cstdio>
#include <cstring>

#include "log.h"

#define L2LOG(e, lvl, fmt, ...) LOGD(ISDN, (lvl), nullptr, "misdn %s L2: " fmt, (e)->name, ##__VA_ARGS__)

static int seq(int v) { return v & 0x7F; }

// C/R bit of a frame we send: the network side marks commands with 1, the
// user side with 0; responses the other way round.
static int cr_bit(const lapd_entity *e, bool command)
{
    return (e->cfg.network == command) ? 1 : 0;
}

static bool received_is_command(const lapd_entity *e, const lapd_frame &f)
{
    return e->cfg.network ? f.cr == 0 : f.cr == 1;
}

static int link_key(const lapd_entity *e, int tei)
{
    return e->cfg.network ? tei : 0;
}

static void start_timer(lapd_entity *e, int key, int kind, int ms, bool &flag)
{
    flag = true;
    e->ops.timer(e->ctx, lapd_timer_key(key, kind), ms);
}

static void stop_timer(lapd_entity *e, int key, int kind, bool &flag)
{
    if (flag)
        e->ops.timer(e->ctx, lapd_timer_key(key, kind), -1);
    flag = false;
}

static void t200_start(lapd_entity *e, int key, lapd_link &l) { start_timer(e, key, LAPD_T200, e->cfg.t200_ms, l.t200); }
static void t200_stop(lapd_entity *e, int key, lapd_link &l) { stop_timer(e, key, LAPD_T200, l.t200); }
static void t203_start(lapd_entity *e, int key, lapd_link &l) { start_timer(e, key, LAPD_T203, e->cfg.t203_ms, l.t203); }
static void t203_stop(lapd_entity *e, int key, lapd_link &l) { stop_timer(e, key, LAPD_T203, l.t203); }
// T200 off and T203 started afresh (what goes out next starts T200 again).
static void idle_timers(lapd_entity *e, int key, lapd_link &l)
{
    t200_stop(e, key, l);
    t203_stop(e, key, l);
    t203_start(e, key, l);
}

static void send_frame(lapd_entity *e, int sapi, bool command, int tei, lapd_type t, int pf,
                       int ns, int nr, const uint8_t *info, int info_len)
{
    uint8_t buf[LAPD_MAX_FRAME];
    if (info_len < 0 || info_len > LAPD_N201)
        return;
    int n = lapd_encode(buf, sapi, cr_bit(e, command), tei, t, pf, ns, nr);
    if (info_len)
        memcpy(buf + n, info, (size_t)info_len);
    e->ops.tx(e->ctx, buf, n + info_len);
}

static void send_u(lapd_entity *e, lapd_link &l, lapd_type t, bool command, int pf)
{
    send_frame(e, LAPD_SAPI_CALLCTL, command, l.tei, t, pf, 0, 0, nullptr, 0);
}

static void send_s(lapd_entity *e, lapd_link &l, lapd_type t, bool command, int pf)
{
    send_frame(e, LAPD_SAPI_CALLCTL, command, l.tei, t, pf, 0, l.vr, nullptr, 0);
}

static void up(lapd_entity *e, int prim, int tei, const uint8_t *data = nullptr, int len = 0)
{
    e->ops.dl(e->ctx, prim, tei, data, len);
}

static void clear_exceptions(lapd_link &l)
{
    l.peer_busy = false;
    l.rej_exception = false;
}

static void reset_vars(lapd_link &l)
{
    l.vs = l.va = l.vr = 0;
    l.unacked.assign(128, {});
}

static void to_tei_assigned(lapd_entity *e, int key, lapd_link &l)
{
    t200_stop(e, key, l);
    t203_stop(e, key, l);
    l.state = LAPD_ST_TEI_ASSIGNED;
    l.rc = 0;
    clear_exceptions(l);
}

// Puts every unacknowledged frame back in front of the queue, oldest first.
static void requeue_unacked(lapd_link &l)
{
    for (int n = seq(l.vs - 1); seq(l.vs - l.va) > 0; n = seq(n - 1)) {
        l.iqueue.push_front(std::move(l.unacked[(size_t)n]));
        l.vs = n;
    }
}

// Starts (re-)establishment: SABME with P, T200. Frames sent but not
// acknowledged go back into the queue; they go out again, with what was
// queued meanwhile, once the link is up.
static void establish(lapd_entity *e, int key, lapd_link &l)
{
    requeue_unacked(l);
    clear_exceptions(l);
    l.rc = 0;
    send_u(e, l, LAPD_SABME, true, 1);
    t203_stop(e, key, l);
    t200_stop(e, key, l);
    t200_start(e, key, l);
    l.state = LAPD_ST_AWAITING_ESTABLISHMENT;
}

// Sends queued I frames while the window allows.
static void kick(lapd_entity *e, int key, lapd_link &l)
{
    while (l.state == LAPD_ST_MULTIPLE_FRAME && !l.peer_busy &&
           seq(l.vs - l.va) < e->cfg.k && !l.iqueue.empty()) {
        std::vector<uint8_t> info = std::move(l.iqueue.front());
        l.iqueue.pop_front();
        send_frame(e, LAPD_SAPI_CALLCTL, true, l.tei, LAPD_I, 0, l.vs, l.vr, info.data(),
                   (int)info.size());
        l.unacked[(size_t)l.vs] = std::move(info);
        l.vs = seq(l.vs + 1);
        if (!l.t200) {
            t203_stop(e, key, l);
            t200_start(e, key, l);
        }
    }
}

// The link is up after an establishment: numbering starts again, layer 3
// hears of it when it asked for it, and what waits in the queue goes out.
static void established(lapd_entity *e, int key, lapd_link &l)
{
    idle_timers(e, key, l);
    reset_vars(l);
    l.state = LAPD_ST_MULTIPLE_FRAME;
    l.rc = 0;
    if (l.l3_initiated) {
        l.l3_initiated = false;
        up(e, LAPD_DL_ESTABLISH_CNF, l.tei);
    }
    kick(e, key, l);
}

static bool nr_valid(const lapd_link &l, int nr)
{
    return seq(nr - l.va) <= seq(l.vs - l.va);
}

static void nr_error(lapd_entity *e, int key, lapd_link &l, int nr)
{
    L2LOG(e, 1, "TEI %d: N(R) %d outside V(A) %d..V(S) %d, re-establishing", l.tei, nr, l.va, l.vs);
    l.l3_initiated = false;
    establish(e, key, l);
}

// Acknowledges up to nr in multiple-frame operation.
static void ack_in_mfe(lapd_entity *e, int key, lapd_link &l, int nr)
{
    if (nr == l.vs) {
        l.va = nr;
        idle_timers(e, key, l);
    } else if (nr != l.va) {
        l.va = nr;
        t200_stop(e, key, l);
        t200_start(e, key, l);
    }
}

static void transmit_enquiry(lapd_entity *e, int key, lapd_link &l)
{
    send_s(e, l, LAPD_RR, true, 1);
    t200_stop(e, key, l);
    t200_start(e, key, l);
}

static lapd_link *find_link(lapd_entity *e, int key)
{
    auto it = e->links.find(key);
    return it == e->links.end() ? nullptr : &it->second;
}

static lapd_link &make_link(lapd_entity *e, int key, int tei)
{
    lapd_link &l = e->links[key];
    if (l.unacked.empty())
        l.unacked.assign(128, {});
    if (l.tei < 0 && tei >= 0) {
        l.tei = tei;
        l.state = LAPD_ST_TEI_ASSIGNED;
    }
    return l;
}

void lapd_init(lapd_entity *e, const lapd_config &cfg, const lapd_ops &ops, void *ctx,
               const char *name)
{
    e->cfg = cfg;
    e->ops = ops;
    e->ctx = ctx;
    snprintf(e->name, sizeof e->name, "%s", name ? name : "");
    e->rnd ^= (unsigned)(uintptr_t)e;
    lapd_reset(e);
}

void lapd_reset(lapd_entity *e)
{
    for (auto &kv : e->links) {
        t200_stop(e, kv.first, kv.second);
        t203_stop(e, kv.first, kv.second);
    }
    if (e->tei_timer)
        e->ops.timer(e->ctx, lapd_timer_key(LAPD_TEIMGT_LINK, LAPD_T202), -1);
    e->tei_timer = false;
    e->tei_tries = 0;
    e->links.clear();
    memset(e->tei_used, 0, sizeof e->tei_used);
    if (!e->cfg.network)
        make_link(e, 0, e->cfg.ptp ? 0 : -1);
}

// ---- TEI management ----

static unsigned next_rand(lapd_entity *e)
{
    e->rnd = e->rnd * 1103515245u + 12345u;
    return (e->rnd >> 8) & 0xFFFF;
}

static void send_tei_msg(lapd_entity *e, int ri, int type, int ai)
{
    uint8_t info[TEI_MSG_LEN];
    tei_msg_encode(info, ri, type, ai);
    send_frame(e, LAPD_SAPI_TEIMGT, true, LAPD_TEI_GROUP, LAPD_UI, 0, 0, 0, info, TEI_MSG_LEN);
}

static void tei_request(lapd_entity *e)
{
    e->tei_ri = (int)next_rand(e);
    send_tei_msg(e, e->tei_ri, TEI_ID_REQUEST, LAPD_TEI_GROUP);
    if (e->tei_timer)
        e->ops.timer(e->ctx, lapd_timer_key(LAPD_TEIMGT_LINK, LAPD_T202), -1);
    e->tei_timer = true;
    e->ops.timer(e->ctx, lapd_timer_key(LAPD_TEIMGT_LINK, LAPD_T202), e->cfg.t202_ms);
}

// User side: our TEI is gone; every link activity ends.
static void tei_removed(lapd_entity *e)
{
    lapd_link &l = e->links[0];
    int old = l.tei;
    bool was_up = l.state >= LAPD_ST_AWAITING_ESTABLISHMENT;
    to_tei_assigned(e, 0, l);
    l.iqueue.clear();
    l.tei = -1;
    l.state = LAPD_ST_TEI_UNASSIGNED;
    if (was_up)
        up(e, LAPD_DL_RELEASE_IND, old);
}

static void tei_user_in(lapd_entity *e, const tei_msg &m)
{
    lapd_link &l = e->links[0];
    switch (m.type) {
    case TEI_ID_ASSIGNED:
        if (l.state != LAPD_ST_ASSIGN_AWAITING_TEI && l.state != LAPD_ST_ESTABLISH_AWAITING_TEI)
            return;
        if (m.ri != e->tei_ri)
            return;
        if (m.ai >= LAPD_TEI_GROUP) {
            L2LOG(e, 1, "TEI %d assigned, not usable", m.ai);
            return;
        }
        if (e->tei_timer)
            e->ops.timer(e->ctx, lapd_timer_key(LAPD_TEIMGT_LINK, LAPD_T202), -1);
        e->tei_timer = false;
        {
            bool est = l.state == LAPD_ST_ESTABLISH_AWAITING_TEI || !l.iqueue.empty();
            l.tei = m.ai;
            l.state = LAPD_ST_TEI_ASSIGNED;
            L2LOG(e, 3, "TEI %d assigned", l.tei);
            if (est) {
                l.l3_initiated = true;
                establish(e, 0, l);
            }
        }
        break;
    case TEI_ID_DENIED:
        if (m.ri == e->tei_ri && l.tei < 0)
            L2LOG(e, 1, "TEI request denied");
        break;
    case TEI_ID_CHECK_REQUEST:
        if (l.tei >= 0 && (m.ai == LAPD_TEI_GROUP || m.ai == l.tei))
            send_tei_msg(e, (int)next_rand(e), TEI_ID_CHECK_RESPONSE, l.tei);
        break;
    case TEI_ID_REMOVE:
        if (l.tei >= 0 && !e->cfg.ptp && (m.ai == LAPD_TEI_GROUP || m.ai == l.tei)) {
            L2LOG(e, 3, "TEI %d removed by the network", l.tei);
            tei_removed(e);
        }
        break;
    default:
        break;
    }
}

static void tei_network_in(lapd_entity *e, const tei_msg &m)
{
    switch (m.type) {
    case TEI_ID_REQUEST: {
        int tei = -1;
        if (m.ai >= 64 && m.ai < LAPD_TEI_GROUP && !e->tei_used[m.ai])
            tei = m.ai;
        for (int t = 64; tei < 0 && t < LAPD_TEI_GROUP; t++)
            if (!e->tei_used[t])
                tei = t;
        if (tei < 0) {
            send_tei_msg(e, m.ri, TEI_ID_DENIED, LAPD_TEI_GROUP);
            return;
        }
        e->tei_used[tei] = true;
        lapd_link &l = make_link(e, tei, tei);
        to_tei_assigned(e, tei, l);
        l.iqueue.clear();
        send_tei_msg(e, m.ri, TEI_ID_ASSIGNED, tei);
        L2LOG(e, 3, "TEI %d assigned", tei);
        break;
    }
    case TEI_ID_VERIFY:
        if (m.ai < LAPD_TEI_GROUP && (e->tei_used[m.ai] || m.ai < 64))
            send_tei_msg(e, 0, TEI_ID_CHECK_REQUEST, m.ai);
        else if (m.ai < LAPD_TEI_GROUP)
            send_tei_msg(e, 0, TEI_ID_REMOVE, m.ai);
        break;
    default:
        break;
    }
}

// ---- frames ----

static void release_link(lapd_entity *e, int key, lapd_link &l, int prim)
{
    l.iqueue.clear();
    to_tei_assigned(e, key, l);
    up(e, prim, l.tei);
}

static void i_frame_in(lapd_entity *e, int key, lapd_link &l, const lapd_frame &f)
{
    if (l.state != LAPD_ST_MULTIPLE_FRAME && l.state != LAPD_ST_TIMER_RECOVERY) {
        if (l.state == LAPD_ST_TEI_ASSIGNED && f.pf)
            send_u(e, l, LAPD_DM, false, 1);
        return;
    }
    bool deliver = false;
    if (f.ns == l.vr) {
        l.vr = seq(l.vr + 1);
        l.rej_exception = false;
        deliver = true;
    } else if (!l.rej_exception) {
        l.rej_exception = true;
        send_s(e, l, LAPD_REJ, false, f.pf);
    } else if (f.pf) {
        send_s(e, l, LAPD_RR, false, 1);
    }
    if (!nr_valid(l, f.nr)) {
        nr_error(e, key, l, f.nr);
        return;
    }
    if (l.state == LAPD_ST_MULTIPLE_FRAME)
        ack_in_mfe(e, key, l, f.nr);
    else
        l.va = f.nr;
    if (deliver) {
        // Acknowledge at once; an answer of layer 3 follows as its own I frame.
        send_s(e, l, LAPD_RR, false, f.pf);
        kick(e, key, l);
        up(e, LAPD_DL_DATA_IND, l.tei, f.info, f.info_len);
    } else {
        kick(e, key, l);
    }
}

static void s_frame_in(lapd_entity *e, int key, lapd_link &l, const lapd_frame &f, bool cmd)
{
    if (l.state != LAPD_ST_MULTIPLE_FRAME && l.state != LAPD_ST_TIMER_RECOVERY) {
        if (l.state == LAPD_ST_TEI_ASSIGNED && cmd && f.pf)
            send_u(e, l, LAPD_DM, false, 1);
        return;
    }
    l.peer_busy = f.type == LAPD_RNR;
    if (cmd && f.pf)
        send_s(e, l, LAPD_RR, false, 1);
    if (!nr_valid(l, f.nr)) {
        nr_error(e, key, l, f.nr);
        return;
    }
    if (l.state == LAPD_ST_MULTIPLE_FRAME) {
        if (f.type == LAPD_REJ) {
            l.va = f.nr;
            idle_timers(e, key, l);
            requeue_unacked(l);
        } else {
            ack_in_mfe(e, key, l, f.nr);
            if (l.peer_busy && !l.t200)
                t200_start(e, key, l);
        }
    } else if (!cmd && f.pf) {
        // Answer to our enquiry: back to normal operation, resend what is missing.
        l.va = f.nr;
        idle_timers(e, key, l);
        requeue_unacked(l);
        l.state = LAPD_ST_MULTIPLE_FRAME;
        l.rc = 0;
    } else {
        l.va = f.nr;
        if (f.type == LAPD_REJ)
            requeue_unacked(l);
    }
    kick(e, key, l);
}

static void u_frame_in(lapd_entity *e, int key, lapd_link &l, const lapd_frame &f)
{
    switch (f.type) {
    case LAPD_SABME:
        switch (l.state) {
        case LAPD_ST_TEI_ASSIGNED:
            send_u(e, l, LAPD_UA, false, f.pf);
            clear_exceptions(l);
            reset_vars(l);
            l.state = LAPD_ST_MULTIPLE_FRAME;
            t203_start(e, key, l);
            up(e, LAPD_DL_ESTABLISH_IND, l.tei);
            kick(e, key, l);
            break;
        case LAPD_ST_AWAITING_ESTABLISHMENT:
            // Both ends set the link up at once: the peer's SABME is as good
            // as its UA to ours. Waiting for that UA would cost a T200 round
            // and a second SABME when ours was lost, and the peer would drop
            // what it sent in between.
            send_u(e, l, LAPD_UA, false, f.pf);
            clear_exceptions(l);
            established(e, key, l);
            break;
        case LAPD_ST_AWAITING_RELEASE:
            send_u(e, l, LAPD_DM, false, f.pf);
            break;
        case LAPD_ST_MULTIPLE_FRAME:
        case LAPD_ST_TIMER_RECOVERY:
            // The peer sets the link up again: frames it has not acknowledged
            // go again, numbered afresh, with whatever was waiting.
            send_u(e, l, LAPD_UA, false, f.pf);
            clear_exceptions(l);
            requeue_unacked(l);
            established(e, key, l);
            break;
        default:
            break;
        }
        break;
    case LAPD_DISC:
        switch (l.state) {
        case LAPD_ST_TEI_ASSIGNED:
        case LAPD_ST_AWAITING_ESTABLISHMENT:
            send_u(e, l, LAPD_DM, false, f.pf);
            break;
        case LAPD_ST_AWAITING_RELEASE:
            send_u(e, l, LAPD_UA, false, f.pf);
            break;
        case LAPD_ST_MULTIPLE_FRAME:
        case LAPD_ST_TIMER_RECOVERY:
            send_u(e, l, LAPD_UA, false, f.pf);
            release_link(e, key, l, LAPD_DL_RELEASE_IND);
            break;
        default:
            break;
        }
        break;
    case LAPD_UA:
        if (!f.pf) {
            L2LOG(e, 2, "TEI %d: UA without F bit ignored", l.tei);
            break;
        }
        if (l.state == LAPD_ST_AWAITING_ESTABLISHMENT) {
            established(e, key, l);
        } else if (l.state == LAPD_ST_AWAITING_RELEASE) {
            release_link(e, key, l, LAPD_DL_RELEASE_CNF);
        }
        break;
    case LAPD_DM:
        if (l.state == LAPD_ST_AWAITING_ESTABLISHMENT && f.pf) {
            release_link(e, key, l, LAPD_DL_RELEASE_IND);
        } else if (l.state == LAPD_ST_AWAITING_RELEASE && f.pf) {
            release_link(e, key, l, LAPD_DL_RELEASE_CNF);
        } else if ((l.state == LAPD_ST_MULTIPLE_FRAME || l.state == LAPD_ST_TIMER_RECOVERY) && !f.pf) {
            L2LOG(e, 1, "TEI %d: DM in multiple-frame operation, re-establishing", l.tei);
            l.l3_initiated = false;
            establish(e, key, l);
        }
        break;
    case LAPD_FRMR:
        if (l.state == LAPD_ST_MULTIPLE_FRAME || l.state == LAPD_ST_TIMER_RECOVERY) {
            L2LOG(e, 1, "TEI %d: FRMR received, re-establishing", l.tei);
            l.l3_initiated = false;
            establish(e, key, l);
        }
        break;
    default:
        break;
    }
}

int lapd_frame_in(lapd_entity *e, const uint8_t *buf, int len)
{
    lapd_frame f;
    const char *why = "";
    if (lapd_decode(buf, len, &f, &why) < 0) {
        L2LOG(e, 1, "frame of %d octets dropped: %s", len, why);
        return -1;
    }
    bool cmd = received_is_command(e, f);
    if (f.sapi == LAPD_SAPI_TEIMGT) {
        if (f.type != LAPD_UI || f.tei != LAPD_TEI_GROUP) {
            L2LOG(e, 1, "SAPI 63 frame that is no group UI dropped");
            return -1;
        }
        if (e->cfg.ptp)
            return 0;
        tei_msg m;
        if (tei_msg_decode(f.info, f.info_len, &m, &why) < 0) {
            L2LOG(e, 1, "TEI management message dropped: %s", why);
            return -1;
        }
        if (e->cfg.network)
            tei_network_in(e, m);
        else
            tei_user_in(e, m);
        return 0;
    }
    if (f.sapi != LAPD_SAPI_CALLCTL) {
        L2LOG(e, 2, "frame for SAPI %d ignored", f.sapi);
        return -1;
    }
    // Frame types that are only commands or only responses.
    bool cmd_only = f.type == LAPD_I || f.type == LAPD_SABME || f.type == LAPD_DISC || f.type == LAPD_UI;
    bool rsp_only = f.type == LAPD_UA || f.type == LAPD_DM || f.type == LAPD_FRMR;
    if ((cmd_only && !cmd) || (rsp_only && cmd)) {
        L2LOG(e, 1, "%s frame with wrong C/R bit dropped", lapd_type_name(f.type));
        return -1;
    }
    if (f.type == LAPD_UI) {
        up(e, LAPD_DL_UNITDATA_IND, f.tei, f.info, f.info_len);
        return 0;
    }
    if (f.tei == LAPD_TEI_GROUP) {
        L2LOG(e, 2, "%s frame to the group TEI ignored", lapd_type_name(f.type));
        return -1;
    }
    lapd_link *l;
    int key;
    if (e->cfg.network) {
        if (e->cfg.ptp ? f.tei != 0 : (f.tei >= 64 && !e->tei_used[f.tei])) {
            L2LOG(e, 2, "%s frame from unassigned TEI %d ignored", lapd_type_name(f.type), f.tei);
            return -1;
        }
        key = f.tei;
        l = &make_link(e, key, f.tei);
    } else {
        key = 0;
        l = find_link(e, 0);
        if (!l || l->tei < 0 || l->tei != f.tei)
            return 0;  // another terminal's frame
    }
    switch (f.type) {
    case LAPD_I: i_frame_in(e, key, *l, f); break;
    case LAPD_RR:
    case LAPD_RNR:
    case LAPD_REJ: s_frame_in(e, key, *l, f, cmd); break;
    default: u_frame_in(e, key, *l, f); break;
    }
    return 0;
}

void lapd_timer_expired(lapd_entity *e, int key)
{
    int lk = key / 4, kind = key % 4;
    if (lk == LAPD_TEIMGT_LINK && kind == LAPD_T202) {
        if (!e->tei_timer)
            return;
        e->tei_timer = false;
        lapd_link *l = find_link(e, 0);
        if (!l || l->tei >= 0)
            return;
        if (++e->tei_tries >= e->cfg.n202) {
            L2LOG(e, 1, "no TEI assigned after %d requests", e->tei_tries);
            e->tei_tries = 0;
            bool est = l->state == LAPD_ST_ESTABLISH_AWAITING_TEI;
            l->state = LAPD_ST_TEI_UNASSIGNED;
            l->iqueue.clear();
            if (est)
                up(e, LAPD_DL_RELEASE_IND, -1);
            return;
        }
        tei_request(e);
        return;
    }
    lapd_link *lp = find_link(e, lk);
    if (!lp)
        return;
    lapd_link &l = *lp;
    if (kind == LAPD_T203) {
        if (!l.t203)
            return;
        l.t203 = false;
        if (l.state == LAPD_ST_MULTIPLE_FRAME) {
            transmit_enquiry(e, lk, l);
            l.rc = 0;
            l.state = LAPD_ST_TIMER_RECOVERY;
        }
        return;
    }
    if (kind != LAPD_T200 || !l.t200)
        return;
    l.t200 = false;
    switch (l.state) {
    case LAPD_ST_AWAITING_ESTABLISHMENT:
        if (l.rc >= e->cfg.n200) {
            L2LOG(e, 1, "TEI %d: no answer to SABME", l.tei);
            l.l3_initiated = false;
            release_link(e, lk, l, LAPD_DL_RELEASE_IND);
        } else {
            l.rc++;
            send_u(e, l, LAPD_SABME, true, 1);
            t200_start(e, lk, l);
        }
        break;
    case LAPD_ST_AWAITING_RELEASE:
        if (l.rc >= e->cfg.n200) {
            release_link(e, lk, l, LAPD_DL_RELEASE_CNF);
        } else {
            l.rc++;
            send_u(e, l, LAPD_DISC, true, 1);
            t200_start(e, lk, l);
        }
        break;
    case LAPD_ST_MULTIPLE_FRAME:
        l.rc = 0;
        transmit_enquiry(e, lk, l);
        l.rc++;
        l.state = LAPD_ST_TIMER_RECOVERY;
        break;
    case LAPD_ST_TIMER_RECOVERY:
        if (l.rc >= e->cfg.n200) {
            L2LOG(e, 1, "TEI %d: no answer after %d enquiries, re-establishing", l.tei, l.rc);
            l.l3_initiated = false;
            establish(e, lk, l);
        } else {
            transmit_enquiry(e, lk, l);
            l.rc++;
        }
        break;
    default:
        break;
    }
}

void lapd_ph_deactivated(lapd_entity *e)
{
    for (auto &kv : e->links) {
        lapd_link &l = kv.second;
        if (l.state >= LAPD_ST_AWAITING_ESTABLISHMENT) {
            int prim = l.state == LAPD_ST_AWAITING_RELEASE ? LAPD_DL_RELEASE_CNF : LAPD_DL_RELEASE_IND;
            release_link(e, kv.first, l, prim);
        }
    }
}

// The user side's link, asking for a TEI first when it has none.
static lapd_link *user_link(lapd_entity *e, bool establish_after)
{
    lapd_link &l = e->links[0];
    if (l.unacked.empty())
        l.unacked.assign(128, {});
    if (l.tei >= 0)
        return &l;
    if (l.state == LAPD_ST_TEI_UNASSIGNED) {
        e->tei_tries = 0;
        l.state = establish_after ? LAPD_ST_ESTABLISH_AWAITING_TEI : LAPD_ST_ASSIGN_AWAITING_TEI;
        tei_request(e);
    } else if (establish_after) {
        l.state = LAPD_ST_ESTABLISH_AWAITING_TEI;
    }
    return nullptr;
}

static lapd_link *net_link(lapd_entity *e, int tei)
{
    if (tei < 0 || tei >= LAPD_TEI_GROUP)
        return nullptr;
    if (e->cfg.ptp && tei != 0)
        return nullptr;
    if (!e->cfg.ptp && tei >= 64 && !e->tei_used[tei])
        return nullptr;
    return &make_link(e, tei, tei);
}

int lapd_dl_establish(lapd_entity *e, int tei)
{
    lapd_link *l = e->cfg.network ? net_link(e, tei) : user_link(e, true);
    if (!l)
        return e->cfg.network ? -1 : 0;
    int key = link_key(e, l->tei);
    switch (l->state) {
    case LAPD_ST_TEI_ASSIGNED:
        l->l3_initiated = true;
        establish(e, key, *l);
        break;
    case LAPD_ST_AWAITING_ESTABLISHMENT:
        l->l3_initiated = true;
        break;
    case LAPD_ST_MULTIPLE_FRAME:
    case LAPD_ST_TIMER_RECOVERY:
        // set up again; what layer 3 sent before is kept and goes again
        l->l3_initiated = true;
        establish(e, key, *l);
        break;
    default:
        return -1;
    }
    return 0;
}

int lapd_dl_release(lapd_entity *e, int tei)
{
    lapd_link *l = e->cfg.network ? net_link(e, tei) : find_link(e, 0);
    if (!l || l->tei < 0) {
        up(e, LAPD_DL_RELEASE_CNF, tei);
        return 0;
    }
    int key = link_key(e, l->tei);
    switch (l->state) {
    case LAPD_ST_MULTIPLE_FRAME:
    case LAPD_ST_TIMER_RECOVERY:
        l->iqueue.clear();
        l->rc = 0;
        send_u(e, *l, LAPD_DISC, true, 1);
        t203_stop(e, key, *l);
        t200_stop(e, key, *l);
        t200_start(e, key, *l);
        l->state = LAPD_ST_AWAITING_RELEASE;
        break;
    case LAPD_ST_AWAITING_RELEASE:
        break;
    default:
        release_link(e, key, *l, LAPD_DL_RELEASE_CNF);
        break;
    }
    return 0;
}

int lapd_dl_data(lapd_entity *e, int tei, const uint8_t *data, int len)
{
    if (!data || len <= 0 || len > LAPD_N201)
        return -1;
    lapd_link *l;
    if (e->cfg.network) {
        l = net_link(e, tei);
        if (!l)
            return -1;
    } else {
        l = &e->links[0];
        if (l->unacked.empty())
            l->unacked.assign(128, {});
    }
    l->iqueue.emplace_back(data, data + len);
    if (!e->cfg.network && l->tei < 0) {
        user_link(e, true);
        return 0;
    }
    int key = link_key(e, l->tei);
    if (l->state == LAPD_ST_TEI_ASSIGNED) {
        l->l3_initiated = true;
        establish(e, key, *l);
    } else {
        kick(e, key, *l);
    }
    return 0;
}

int lapd_dl_unitdata(lapd_entity *e, int tei, const uint8_t *data, int len)
{
    if (!data || len <= 0 || len > LAPD_N201)
        return -1;
    if (e->cfg.network) {
        if (tei < 0 || tei > LAPD_TEI_GROUP)
            return -1;
    } else {
        tei = LAPD_TEI_GROUP;
    }
    send_frame(e, LAPD_SAPI_CALLCTL, true, tei, LAPD_UI, 0, 0, 0, data, len);
    return 0;
}

int lapd_user_tei(const lapd_entity *e)
{
    auto it = e->links.find(0);
    return (e->cfg.network || it == e->links.end()) ? -1 : it->second.tei;
}

bool lapd_is_established(const lapd_entity *e, int tei)
{
    auto it = e->links.find(link_key(e, tei));
    if (it == e->links.end())
        return false;
    return it->second.state == LAPD_ST_MULTIPLE_FRAME || it->second.state == LAPD_ST_TIMER_RECOVERY;
}

int lapd_established_count(const lapd_entity *e)
{
    int n = 0;
    for (const auto &kv : e->links)
        if (kv.second.state == LAPD_ST_MULTIPLE_FRAME || kv.second.state == LAPD_ST_TIMER_RECOVERY)
            n++;
    return n;
}
