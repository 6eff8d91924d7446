// TE mode of a port inside the device: LAPD user side and Q.931 user side,
// with the application above as layer 4.
#include <cstring>

#include "log.h"
#include "misdn_kernel.h"
#include "q931_info.h"

#define KLOG(lvl, fmt, ...) LOGD(ISDN, (lvl), nullptr, "misdn: " fmt, ##__VA_ARGS__)

static void te_tx(void *ctx, const uint8_t *frame, int len)
{
    kport *p = (kport *)ctx;
    if (!p->l1)
        port_l1_activate(p->k, p, PH_ACTIVATE | INDICATION);
    port_send_frame(p->k, p, frame, len);
}

// Layer-2 state changes and the primitives the application sees for them.
static const struct {
    int lapd;
    uint32_t prim;
} dl_state_prims[] = {
    {LAPD_DL_ESTABLISH_IND, DL_ESTABLISH | INDICATION},
    {LAPD_DL_ESTABLISH_CNF, DL_ESTABLISH | CONFIRM},
    {LAPD_DL_RELEASE_IND, DL_RELEASE | INDICATION},
    {LAPD_DL_RELEASE_CNF, DL_RELEASE | CONFIRM},
};

uint32_t dl_state_prim(int lapd_prim)
{
    for (const auto &r : dl_state_prims)
        if (r.lapd == lapd_prim)
            return r.prim;
    return 0;
}

static void te_dl(void *ctx, int prim, int, const uint8_t *data, int len)
{
    kport *p = (kport *)ctx;
    if (prim == LAPD_DL_DATA_IND || prim == LAPD_DL_UNITDATA_IND) {
        if (p->owner)  // without an application no call can be taken
            q931_l3_from_dl(&p->l3, 0, data, len);
        return;
    }
    if (uint32_t up = dl_state_prim(prim)) {
        kernel_up(p->k, p, up, 0, nullptr, 0);
        bool est = prim == LAPD_DL_ESTABLISH_IND || prim == LAPD_DL_ESTABLISH_CNF;
        port_sstatus(p->k, p, est ? SSTATUS_L2_ESTABLISHED : SSTATUS_L2_RELEASED);
    }
}

static void te_l2_timer(void *ctx, int key, int ms)
{
    kport *p = (kport *)ctx;
    kernel_timer(p->k, KT_L2, p->port, (uint32_t)key, ms);
}

static int te_dl_data(void *ctx, int, const uint8_t *msg, int len)
{
    kport *p = (kport *)ctx;
    return lapd_dl_data(&p->l2, 0, msg, len);
}

static int te_dl_unitdata(void *ctx, const uint8_t *msg, int len)
{
    kport *p = (kport *)ctx;
    return lapd_dl_unitdata(&p->l2, LAPD_TEI_GROUP, msg, len);
}

static void te_up(void *ctx, uint32_t prim, int dinfo, const q931_msg *m, int)
{
    kport *p = (kport *)ctx;
    if (!m) {
        kernel_up(p->k, p, prim, dinfo, nullptr, 0);
        return;
    }
    uint8_t buf[MAX_DFRAME_LEN];
    int n = q931_info_from_msg(m, buf, sizeof buf);
    if (n < 0) {
        KLOG(0, "port %d: %s does not fit a frame, dropped", p->port, q931_mt_name(m->mt));
        return;
    }
    kernel_up(p->k, p, prim, dinfo, buf, n);
}

static void te_l3_timer(void *ctx, int key, int ms)
{
    kport *p = (kport *)ctx;
    kernel_timer(p->k, KT_L3, p->port, (uint32_t)key, ms);
}

void port_te_init(kernel *, kport *p)
{
    char name[24];
    snprintf(name, sizeof name, "port %d", p->port);
    lapd_config lc;
    lc.network = false;
    lc.ptp = p->cfg.ptp;
    lc.k = p->pri ? 7 : 1;
    lapd_ops lo{te_tx, te_dl, te_l2_timer};
    lapd_init(&p->l2, lc, lo, p, name);
    q931_l3_config qc;
    qc.network = false;
    qc.ptmp = !p->cfg.ptp;
    qc.crlen = p->pri ? 2 : 1;
    qc.cr_prims = true;
    q931_l3_ops qo{te_dl_data, te_dl_unitdata, te_up, te_l3_timer};
    q931_l3_init(&p->l3, qc, qo, p, name);
}

void port_te_reset(kernel *, kport *p)
{
    q931_l3_reset(&p->l3);
    lapd_reset(&p->l2);
}

void port_te_app_frame(kernel *, kport *p, const iframe_t *f, const uint8_t *data, int len)
{
    uint32_t kind = f->prim & ~0xFFu;
    uint32_t cmd = f->prim & 0xFF;
    if (kind == DL_ESTABLISH && cmd == REQUEST) {
        lapd_dl_establish(&p->l2, 0);
        return;
    }
    if (kind == DL_RELEASE && cmd == REQUEST) {
        lapd_dl_release(&p->l2, 0);
        return;
    }
    if (kind == CC_NEW_CR || kind == CC_RELEASE_CR) {
        q931_l3_from_app(&p->l3, f->prim, f->dinfo, nullptr, 0);
        return;
    }
    if (!prim_is_cc(f->prim)) {
        KLOG(2, "port %d: frame %x not understood, dropped", p->port, f->prim);
        return;
    }
    uint8_t ies[Q931_MAX_MSG];
    const char *why = "";
    int n = len == 0 ? 0 : q931_info_to_ies(data, len, ies, sizeof ies, &why);
    if (n < 0) {
        KLOG(1, "port %d: request %x dropped: %s", p->port, f->prim, why);
        return;
    }
    q931_l3_from_app(&p->l3, f->prim, f->dinfo, ies, n);
}

void port_te_timer(kernel *, kport *p, int type, uint32_t key)
{
    if (p->cfg.nt)
        return;
    if (type == KT_L2)
        lapd_timer_expired(&p->l2, (int)key);
    else if (type == KT_L3)
        q931_l3_timer_expired(&p->l3, (int)key);
}
