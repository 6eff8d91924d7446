// The network library: network-side LAPD and Q.931 of one NT port, with
// timers kept by the device.
#include <atomic>
#include <cstring>

#include "isdn_net.h"
#include "isdn_net_internal.h"
#include "log.h"
#include "misdn_device.h"
#include "misdn_kernel.h"  // the device's clock and layer-2 primitives

#define NLOG(nst, lvl, fmt, ...) \
    LOGD(ISDN, (lvl), nullptr, "misdn NT port %d: " fmt, (nst)->cardnr, ##__VA_ARGS__)

static net_priv *priv_of(net_stack_t *nst) { return (net_priv *)nst->layer2; }

// ---- timers ----

static std::atomic<int> next_timer_id{0x00E00001};

static void link_timer(net_stack_t *nst, itimer_t *t)
{
    t->prev = nullptr;
    t->next = nst->tlist;
    if (nst->tlist)
        nst->tlist->prev = t;
    nst->tlist = t;
}

static void unlink_timer(itimer_t *t)
{
    net_stack_t *nst = t->nst;
    if (!nst)
        return;
    if (t->prev)
        t->prev->next = t->next;
    else if (nst->tlist == t)
        nst->tlist = t->next;
    if (t->next)
        t->next->prev = t->prev;
    t->prev = t->next = nullptr;
}

static void timer_frame(itimer_t *t, uint32_t prim, int dinfo)
{
    mISDN_write_frame(t->nst->device, nullptr, (uint32_t)t->id, prim, dinfo, 0, nullptr, TIMEOUT_1SEC);
}

int init_timer(itimer_t *t, net_stack_t *nst)
{
    if (!t || !nst)
        return -1;
    int id = next_timer_id++;
    if (id >= 0x00FFFFFF) {
        next_timer_id = 0x00E00001;
        id = next_timer_id++;
    }
    t->id = id;
    t->nst = nst;
    t->flags = 0;
    link_timer(nst, t);
    timer_frame(t, MGR_INITTIMER | REQUEST, 0);
    return 0;
}

int add_timer(itimer_t *t)
{
    if (!t || !t->nst)
        return -1;
    t->flags |= ITIMER_RUNNING;
    timer_frame(t, MGR_ADDTIMER | REQUEST, t->expires < 0 ? 0 : t->expires);
    return 0;
}

int del_timer(itimer_t *t)
{
    if (!t || !t->nst)
        return -1;
    t->flags &= ~ITIMER_RUNNING;
    timer_frame(t, MGR_DELTIMER | REQUEST, 0);
    return 0;
}

int remove_timer(itimer_t *t)
{
    if (!t || !t->nst)
        return -1;
    t->flags &= ~ITIMER_RUNNING;
    timer_frame(t, MGR_REMOVETIMER | REQUEST, 0);
    unlink_timer(t);
    t->nst = nullptr;
    return 0;
}

int timer_pending(const itimer_t *t)
{
    return t && (t->flags & ITIMER_RUNNING) ? 1 : 0;
}

itimer_t *find_timer(net_stack_t *nst, int id)
{
    for (itimer_t *t = nst ? nst->tlist : nullptr; t; t = t->next)
        if (t->id == id)
            return t;
    return nullptr;
}

// What the application calls on an expiry: runs the protocol timer unless
// it was stopped or armed anew after the expiry was reported.
static void net_timer_fire(void *data)
{
    net_timer *nt = (net_timer *)data;
    net_stack_t *nst = nt->t.nst;
    net_priv *p = nst ? priv_of(nst) : nullptr;
    if (!p)
        return;
    std::lock_guard<std::recursive_mutex> g(p->mtx);
    if (!nt->armed || kernel_now_ms() < nt->due)
        return;
    nt->armed = false;
    if (nt->layer == 2)
        lapd_timer_expired(&p->l2, nt->key);
    else
        q931_l3_timer_expired(&p->l3, nt->key);
}

static void proto_timer(net_stack_t *nst, int layer, int key, int ms)
{
    net_priv *p = priv_of(nst);
    int k = (layer << 24) | (key & 0xFFFFFF);
    auto it = p->timers.find(k);
    net_timer *nt;
    if (it == p->timers.end()) {
        if (ms < 0)
            return;
        nt = new net_timer;
        nt->layer = layer;
        nt->key = key;
        nt->t.data = nt;
        nt->t.function = net_timer_fire;
        init_timer(&nt->t, nst);
        p->timers[k] = nt;
    } else {
        nt = it->second;
    }
    if (ms < 0) {
        if (nt->armed)
            del_timer(&nt->t);
        nt->armed = false;
        return;
    }
    nt->armed = true;
    nt->due = kernel_now_ms() + ms;
    nt->t.expires = ms;
    add_timer(&nt->t);
}

// ---- layer 2 ----

static void up_head(net_stack_t *nst, uint32_t prim, int dinfo)
{
    msg_t *m = alloc_msg(NET_USER_HEAD_LEN + DEFAULT_HEADROOM);
    if (!m)
        return;
    net_user_head_t h{prim, dinfo};
    memcpy(msg_put(m, NET_USER_HEAD_LEN), &h, NET_USER_HEAD_LEN);
    if (!nst->l3_manager || nst->l3_manager(nst->manager, m))
        free_msg(m);
}

static void l2_tx(void *ctx, const uint8_t *frame, int len)
{
    net_stack_t *nst = (net_stack_t *)ctx;
    mISDN_write_frame(nst->device, nullptr, nst->l1_id | FLG_MSG_DOWN, PH_DATA | REQUEST, 0, len, frame,
                      TIMEOUT_1SEC);
}

static void l2_dl(void *ctx, int prim, int tei, const uint8_t *data, int len)
{
    net_stack_t *nst = (net_stack_t *)ctx;
    net_priv *p = priv_of(nst);
    switch (prim) {
    case LAPD_DL_DATA_IND:
    case LAPD_DL_UNITDATA_IND:
        if (p->l3_up)
            q931_l3_from_dl(&p->l3, tei, data, len);
        break;
    default:
        if (uint32_t up = dl_state_prim(prim))
            up_head(nst, up, tei);
        break;
    }
}

static void l2_timer(void *ctx, int key, int ms) { proto_timer((net_stack_t *)ctx, 2, key, ms); }

static int nt_l1_l2(net_stack_t *nst, msg_t *msg)
{
    net_priv *p = priv_of(nst);
    if (!p || !msg || msg->len < mISDN_HEADER_LEN)
        return -1;
    std::lock_guard<std::recursive_mutex> g(p->mtx);
    iframe_t h;
    memcpy(&h, msg->data, mISDN_HEADER_LEN);
    if (h.len < 0 || h.len > msg->len - mISDN_HEADER_LEN) {
        NLOG(nst, 1, "frame %x with length %d beyond its message dropped", h.prim, h.len);
        free_msg(msg);
        return 0;
    }
    switch (h.prim) {
    case PH_DATA | INDICATION:
        lapd_frame_in(&p->l2, msg->data + mISDN_HEADER_LEN, h.len);
        break;
    case PH_DATA | CONFIRM:
    case PH_ACTIVATE | INDICATION:
    case PH_ACTIVATE | CONFIRM:
        break;
    case PH_DEACTIVATE | INDICATION:
    case PH_DEACTIVATE | CONFIRM:
        lapd_ph_deactivated(&p->l2);
        break;
    default:
        return -1;
    }
    free_msg(msg);
    return 0;
}

int Isdnl2Init(net_stack_t *nst)
{
    if (!nst)
        return -1;
    net_priv *p = priv_of(nst);
    if (!p) {
        p = new net_priv;
        nst->layer2 = nst->layer3 = p;
    }
    std::lock_guard<std::recursive_mutex> g(p->mtx);
    char name[24];
    snprintf(name, sizeof name, "NT port %d", nst->cardnr);
    lapd_config lc;
    lc.network = true;
    lc.ptp = (nst->feature & FEATURE_NET_PTP) != 0;
    lc.k = (nst->feature & FEATURE_NET_CRLEN2) ? 7 : 1;
    lapd_init(&p->l2, lc, lapd_ops{l2_tx, l2_dl, l2_timer}, nst, name);
    nst->l1_l2 = nt_l1_l2;
    return 0;
}

// Layer 3 stops: every call forgotten, no more requests taken.
static void stop_l3(net_stack_t *nst, net_priv *p)
{
    if (p->l3_up)
        q931_l3_reset(&p->l3);
    p->l3_up = false;
    nst->manager_l3 = nullptr;
}

int cleanup_Isdnl2(net_stack_t *nst)
{
    net_priv *p = nst ? priv_of(nst) : nullptr;
    if (!p)
        return -1;
    {
        std::lock_guard<std::recursive_mutex> g(p->mtx);
        stop_l3(nst, p);
        lapd_reset(&p->l2);
        for (auto &kv : p->timers) {
            remove_timer(&kv.second->t);
            delete kv.second;
        }
        p->timers.clear();
    }
    delete p;
    nst->layer2 = nst->layer3 = nullptr;
    nst->l1_l2 = nullptr;
    return 0;
}

// ---- layer 3 ----

static int l3_dl_data(void *ctx, int tei, const uint8_t *msg, int len)
{
    return lapd_dl_data(&priv_of((net_stack_t *)ctx)->l2, tei, msg, len);
}

static int l3_dl_unitdata(void *ctx, const uint8_t *msg, int len)
{
    return lapd_dl_unitdata(&priv_of((net_stack_t *)ctx)->l2, LAPD_TEI_GROUP, msg, len);
}

static void l3_up(void *ctx, uint32_t prim, int dinfo, const q931_msg *m, int word)
{
    net_stack_t *nst = (net_stack_t *)ctx;
    msg_t *msg;
    if (m) {
        int ces = (nst->feature & FEATURE_NET_PTP) ? 0 : (dinfo & 0xFF);
        msg = net_msg_from_q931(prim, dinfo, m, ces);
    } else if (prim == (cc_prim(MT_SETUP) | CONFIRM)) {
        msg = alloc_msg(NET_USER_HEAD_LEN + 4 + DEFAULT_HEADROOM);
        if (msg) {
            net_user_head_t h{prim, dinfo};
            memcpy(msg_put(msg, NET_USER_HEAD_LEN), &h, NET_USER_HEAD_LEN);
            int32_t w = word;
            memcpy(msg_put(msg, 4), &w, 4);
        }
    } else {
        msg = net_msg_new(prim, dinfo);
    }
    if (!msg) {
        NLOG(nst, 0, "no memory for indication %x", prim);
        return;
    }
    if (!nst->l3_manager || nst->l3_manager(nst->manager, msg))
        free_msg(msg);
}

static void l3_timer(void *ctx, int key, int ms) { proto_timer((net_stack_t *)ctx, 3, key, ms); }

static int nt_manager_l3(net_stack_t *nst, msg_t *msg)
{
    net_priv *p = priv_of(nst);
    if (!p || !msg || msg->len < NET_USER_HEAD_LEN)
        return -1;
    std::lock_guard<std::recursive_mutex> g(p->mtx);
    net_user_head_t h;
    memcpy(&h, msg->data, NET_USER_HEAD_LEN);
    bool ptp = (nst->feature & FEATURE_NET_PTP) != 0;
    if (h.prim == (DL_ESTABLISH | REQUEST)) {
        if (ptp)
            lapd_dl_establish(&p->l2, 0);
        free_msg(msg);
        return 0;
    }
    if (h.prim == (DL_RELEASE | REQUEST)) {
        if (ptp)
            lapd_dl_release(&p->l2, 0);
        free_msg(msg);
        return 0;
    }
    if (!prim_is_cc(h.prim) || !p->l3_up)
        return -1;
    uint8_t ies[Q931_MAX_MSG];
    const char *why = "";
    int n = net_msg_to_ies(msg, ies, sizeof ies, &why);
    if (n < 0) {
        NLOG(nst, 1, "request %x for %x dropped: %s", h.prim, h.dinfo, why);
    } else {
        q931_l3_from_app(&p->l3, h.prim, h.dinfo, ies, n);
    }
    free_msg(msg);
    return 0;
}

int Isdnl3Init(net_stack_t *nst)
{
    if (!nst)
        return -1;
    if (!priv_of(nst) && Isdnl2Init(nst) < 0)
        return -1;
    net_priv *p = priv_of(nst);
    std::lock_guard<std::recursive_mutex> g(p->mtx);
    char name[24];
    snprintf(name, sizeof name, "NT port %d", nst->cardnr);
    q931_l3_config qc;
    qc.network = true;
    qc.ptmp = !(nst->feature & FEATURE_NET_PTP);
    qc.crlen = (nst->feature & FEATURE_NET_CRLEN2) ? 2 : 1;
    qc.cr_prims = false;
    q931_l3_init(&p->l3, qc, q931_l3_ops{l3_dl_data, l3_dl_unitdata, l3_up, l3_timer}, nst, name);
    p->l3_up = true;
    nst->manager_l3 = nt_manager_l3;
    return 0;
}

int cleanup_Isdnl3(net_stack_t *nst)
{
    net_priv *p = nst ? priv_of(nst) : nullptr;
    if (!p)
        return -1;
    std::lock_guard<std::recursive_mutex> g(p->mtx);
    stop_l3(nst, p);
    return 0;
}
