#include "misdn_device.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>

#include "log.h"
#include "misdn_kernel.h"

#define KLOG(lvl, fmt, ...) LOGD(ISDN, (lvl), nullptr, "misdn: " fmt, ##__VA_ARGS__)

static int fail(int e)
{
    errno = e;
    return -1;
}

static kport *port_of(kernel *k, uint32_t addr, int *bidx);

// The locks and checks every device call starts with: k is null (errno
// EBADF) when no device is open under fid.
struct device_call {
    std::unique_lock<std::mutex> life;
    std::unique_lock<std::mutex> lock;
    kernel *k = nullptr;
    explicit device_call(int fid) : life(g_kernel_life)
    {
        errno = EBADF;
        if (!g_kernel)
            return;
        lock = std::unique_lock<std::mutex>(g_kernel->mtx);
        if (g_kernel->devs.count(fid))
            k = g_kernel;
    }
    // The port of a stack or layer address (bidx: its B-channel, -1 for the D-channel).
    kport *port(uint32_t addr, int *bidx) { return k ? port_of(k, addr, bidx) : nullptr; }
};

// The port's application layer is n and belongs to fid; -1 when a port of
// this mode takes no application at n.
static int claim_app_layer(kport *p, int fid, int n)
{
    if (n != (p->cfg.nt ? 2 : 4))
        return fail(EINVAL);
    p->owner = fid;
    p->app_layer = n;
    return 0;
}

static std::shared_ptr<kdev> find_dev(int fid)
{
    std::lock_guard<std::mutex> life(g_kernel_life);
    if (!g_kernel)
        return nullptr;
    std::lock_guard<std::mutex> g(g_kernel->mtx);
    auto it = g_kernel->devs.find(fid);
    return it == g_kernel->devs.end() ? nullptr : it->second;
}

int mISDN_open(void)
{
    std::lock_guard<std::mutex> life(g_kernel_life);
    if (!g_kernel) {
        g_kernel = kernel_create();
        if (!g_kernel)
            return -1;
    }
    kernel *k = g_kernel;
    std::lock_guard<std::mutex> g(k->mtx);
    auto d = std::make_shared<kdev>();
    d->fid = k->next_fid++;
    k->devs[d->fid] = d;
    return d->fid;
}

int mISDN_close(int fid)
{
    std::lock_guard<std::mutex> life(g_kernel_life);
    kernel *k = g_kernel;
    if (!k)
        return fail(EBADF);
    bool last;
    {
        std::lock_guard<std::mutex> g(k->mtx);
        auto it = k->devs.find(fid);
        if (it == k->devs.end())
            return fail(EBADF);
        std::shared_ptr<kdev> d = it->second;
        k->devs.erase(it);
        {
            std::lock_guard<std::mutex> dg(d->m);
            d->closed = true;
        }
        d->cv.notify_all();
        for (auto &kv : k->ports) {
            kport *p = kv.second.get();
            if (p->owner == fid) {
                p->owner = 0;
                p->app_layer = 0;
                p->sstatus = false;
                if (!p->cfg.nt)
                    port_te_reset(k, p);
            }
            for (int b = 0; b < p->nb; b++)
                if (p->b[b].owner == fid)
                    p->b[b] = kbchan{p->b[b].stid, 0, false};
        }
        for (auto it2 = k->timers.begin(); it2 != k->timers.end();) {
            uint64_t tk = it2->first;
            if ((int)(tk >> 56) == KT_DEV && (int)((tk >> 32) & 0xFFFFFF) == fid)
                it2 = k->timers.erase(it2);
            else
                ++it2;
        }
        last = k->devs.empty();
    }
    if (last) {
        kernel_stop(k);
        g_kernel = nullptr;
    }
    return 0;
}

// ---- frames written down ----

static kport *port_of(kernel *k, uint32_t addr, int *bidx)
{
    uint32_t st = addr & STACK_ID_MASK;
    int port = (int)((st >> 8) & 0xFF);
    auto it = k->ports.find(port);
    if (it == k->ports.end())
        return nullptr;
    kport *p = it->second.get();
    *bidx = -1;
    if (st == p->stid)
        return p;
    for (int b = 0; b < p->nb; b++)
        if (st == p->b[b].stid) {
            *bidx = b;
            return p;
        }
    return nullptr;
}

static void mgr_write(kernel *k, int fid, const iframe_t &h)
{
    uint32_t kind = h.prim & 0xFFFF00;
    uint32_t cmd = h.prim & 0xFF;
    int bidx;
    kport *p;
    switch (kind) {
    case MGR_NEWENTITY:
        if (cmd == REQUEST) {
            int e = k->next_entity++;
            if (k->next_entity > 0xFFFF)
                k->next_entity = 1;
            k->devs[fid]->entity = e;
            kernel_deliver(k, fid, 0, MGR_NEWENTITY | CONFIRM, e, nullptr, 0);
        }
        return;
    case MGR_DELENTITY:
        if (cmd == REQUEST)
            kernel_deliver(k, fid, 0, MGR_DELENTITY | CONFIRM, h.dinfo, nullptr, 0);
        return;
    case MGR_SHORTSTATUS:
        p = port_of(k, h.addr, &bidx);
        if (cmd != REQUEST || !p || bidx >= 0)
            return;
        if ((uint32_t)h.dinfo & SSTATUS_BROADCAST_BIT)
            p->sstatus = true;  // changes are indicated from now on
        {
            uint32_t a = p->stid | (uint32_t)p->app_layer;
            kernel_deliver(k, fid, a, MGR_SHORTSTATUS | CONFIRM,
                           (int)(p->l1 ? SSTATUS_L1_ACTIVATED : SSTATUS_L1_DEACTIVATED), nullptr, 0);
            if (!p->cfg.nt)
                kernel_deliver(k, fid, a, MGR_SHORTSTATUS | CONFIRM,
                               (int)(lapd_is_established(&p->l2, 0) ? SSTATUS_L2_ESTABLISHED
                                                                    : SSTATUS_L2_RELEASED),
                               nullptr, 0);
        }
        return;
    case MGR_INITTIMER:
        return;
    case MGR_ADDTIMER:
        if (cmd == REQUEST)
            kernel_timer(k, KT_DEV, fid, h.addr, h.dinfo < 0 ? 0 : h.dinfo);
        return;
    case MGR_DELTIMER:
    case MGR_REMOVETIMER:
        if (cmd == REQUEST)
            kernel_timer(k, KT_DEV, fid, h.addr, -1);
        return;
    case MGR_TIMER:
        return;  // the response to a timer indication
    case MGR_DELLAYER:
        if (cmd != REQUEST)
            return;
        p = port_of(k, h.addr, &bidx);
        if (p && bidx < 0 && p->owner == fid && (int)(h.addr & LAYER_ID_MASK) == p->app_layer) {
            p->owner = 0;
            p->app_layer = 0;
            p->sstatus = false;
            if (!p->cfg.nt)
                port_te_reset(k, p);
        }
        kernel_deliver(k, fid, h.addr, MGR_DELLAYER | CONFIRM, 0, nullptr, 0);
        return;
    default:
        KLOG(2, "manager request %x to %x ignored", h.prim, h.addr);
        return;
    }
}

static void bchan_write(kernel *k, int fid, kport *p, int b, const iframe_t &h)
{
    uint32_t a = p->b[b].stid | 3;
    switch (h.prim) {
    case DL_ESTABLISH | REQUEST:
        kernel_deliver(k, fid, a, DL_ESTABLISH | CONFIRM, 0, nullptr, 0);
        return;
    case DL_RELEASE | REQUEST:
        kernel_deliver(k, fid, a, DL_RELEASE | CONFIRM, 0, nullptr, 0);
        return;
    default:
        return;  // B-channel data and controls: voice runs elsewhere
    }
}

static void port_write(kernel *k, int fid, kport *p, const iframe_t &h, const uint8_t *data, int len)
{
    switch (h.prim) {
    case PH_ACTIVATE | REQUEST:
        port_l1_activate(k, p, PH_ACTIVATE | CONFIRM);
        return;
    case PH_DEACTIVATE | REQUEST:
        port_l1_deactivate(k, p, PH_DEACTIVATE | CONFIRM);
        return;
    case PH_DATA | REQUEST:
        if (!p->cfg.nt || p->owner != fid)
            return;
        if (len < 3 || len > LAPD_MAX_FRAME) {
            KLOG(1, "port %d: frame of %d octets not sent", p->port, len);
            return;
        }
        if (!p->l1)
            port_l1_activate(k, p, PH_ACTIVATE | INDICATION);
        port_send_frame(k, p, data, len);
        return;
    default:
        if (p->cfg.nt)
            return;  // layer 2 and 3 of an NT port are the application's
        if (p->owner != fid) {
            KLOG(2, "port %d: frame %x from a device without the port's layer dropped", p->port, h.prim);
            return;
        }
        port_te_app_frame(k, p, &h, data, len);
        return;
    }
}

int mISDN_write(int fid, const void *buf, int len, int)
{
    if (!buf || len < mISDN_HEADER_LEN)
        return fail(EINVAL);
    iframe_t h;
    memcpy(&h, buf, mISDN_HEADER_LEN);
    if (h.len < 0 || h.len > MAX_DFRAME_LEN || mISDN_HEADER_LEN + h.len > len)
        return fail(EINVAL);
    const uint8_t *data = (const uint8_t *)buf + mISDN_HEADER_LEN;
    device_call c(fid);
    kernel *k = c.k;
    if (!k)
        return -1;
    if ((h.prim & 0xFF0000) == 0x0F0000) {
        mgr_write(k, fid, h);
        return len;
    }
    int bidx;
    kport *p = port_of(k, h.addr, &bidx);
    if (!p) {
        KLOG(2, "frame %x to unknown address %x dropped", h.prim, h.addr);
        return fail(ENXIO);
    }
    if (bidx >= 0)
        bchan_write(k, fid, p, bidx, h);
    else
        port_write(k, fid, p, h, data, h.len);
    return len;
}

int mISDN_write_frame(int fid, void *, uint32_t addr, uint32_t prim, int dinfo, int dlen,
                      const void *dbuf, int timeout)
{
    if (dlen < 0 || dlen > MAX_DFRAME_LEN || (dlen && !dbuf))
        return fail(EINVAL);
    std::vector<uint8_t> f = frame_bytes(addr, prim, dinfo, (const uint8_t *)dbuf, dlen);
    int r = mISDN_write(fid, f.data(), (int)f.size(), timeout);
    return r < 0 ? -1 : 0;
}

// ---- frames read up ----

// Takes the first queued frame that `want` accepts, waiting up to timeout
// microseconds (negative: for ever). Length, 0 on time-out, -1 on error.
static int take_frame(int fid, void *buf, int size, int timeout,
                      const std::function<bool(const iframe_t &)> &want)
{
    std::shared_ptr<kdev> d = find_dev(fid);
    if (!d)
        return fail(EBADF);
    if (!buf || size < 0)
        return fail(EINVAL);
    std::unique_lock<std::mutex> g(d->m);
    // 1: taken, 0: nothing wanted queued, -1: error
    auto try_take = [&](int &result) {
        for (auto it = d->q.begin(); it != d->q.end(); ++it) {
            iframe_t h;
            memcpy(&h, it->data(), mISDN_HEADER_LEN);
            if (!want(h))
                continue;
            std::vector<uint8_t> fr = std::move(*it);
            d->q.erase(it);
            if ((int)fr.size() > size) {
                result = fail(EMSGSIZE);
                return true;
            }
            memcpy(buf, fr.data(), fr.size());
            result = (int)fr.size();
            return true;
        }
        return false;
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(timeout < 0 ? 0 : timeout);
    int result = 0;
    for (;;) {
        if (d->closed)
            return fail(EBADF);
        if (try_take(result))
            return result;
        if (timeout < 0) {
            d->cv.wait(g);
        } else if (d->cv.wait_until(g, deadline) == std::cv_status::timeout) {
            if (!d->closed && try_take(result))
                return result;
            return d->closed ? fail(EBADF) : 0;
        }
    }
}

int mISDN_read(int fid, void *buf, int size, int timeout)
{
    return take_frame(fid, buf, size, timeout, [](const iframe_t &) { return true; });
}

int mISDN_read_frame(int fid, void *buf, int size, uint32_t addr, uint32_t prim, int timeout)
{
    int r = take_frame(fid, buf, size, timeout,
                       [&](const iframe_t &h) { return h.addr == addr && h.prim == prim; });
    if (r == 0)
        return fail(ETIMEDOUT);
    return r;
}

int mISDN_get_setstack_ind(int fid, uint32_t address)
{
    uint8_t buf[MAX_FRAME_SIZE];
    int r = take_frame(fid, buf, sizeof buf, TIMEOUT_1SEC, [&](const iframe_t &h) {
        return h.prim == (MGR_SETSTACK | INDICATION) &&
               (h.addr & STACK_ID_MASK) == (address & STACK_ID_MASK);
    });
    if (r == 0)
        return fail(ETIMEDOUT);
    return r < 0 ? -1 : 0;
}

// ---- stacks and layers ----

int mISDN_get_stack_count(int fid)
{
    device_call c(fid);
    kernel *k = c.k;
    if (!k)
        return -1;
    return k->maxport;
}

int mISDN_get_stack_info(int fid, int port, void *buf, int size)
{
    if (!buf || size < (int)sizeof(stack_info_t))
        return fail(EINVAL);
    device_call c(fid);
    kernel *k = c.k;
    if (!k)
        return -1;
    auto it = k->ports.find(port);
    if (it == k->ports.end())
        return fail(ENODEV);
    kport *p = it->second.get();
    stack_info_t si;
    memset(&si, 0, sizeof si);
    si.id = p->stid;
    bool nt = p->cfg.nt;
    si.pid.protocol[0] = p->pri ? (nt ? ISDN_PID_L0_NT_E1 : ISDN_PID_L0_TE_E1)
                                : (nt ? ISDN_PID_L0_NT_S0 : ISDN_PID_L0_TE_S0);
    si.pid.protocol[1] = p->pri ? (nt ? ISDN_PID_L1_NT_E1 : ISDN_PID_L1_TE_E1)
                                : (nt ? ISDN_PID_L1_NT_S0 : ISDN_PID_L1_TE_S0);
    if (!nt) {
        si.pid.protocol[2] = ISDN_PID_L2_LAPD | (p->cfg.ptp ? ISDN_PID_L2_DF_PTP : 0);
        si.pid.protocol[3] = ISDN_PID_L3_DSS1USER;
    }
    si.instcnt = nt ? 1 : 3;
    si.childcnt = p->nb;
    for (int b = 0; b < p->nb; b++)
        si.child[b] = p->b[b].stid;
    memcpy(buf, &si, sizeof si);
    return 0;
}

static int layer_of(const layer_info_t *li)
{
    for (int n = MAX_LAYER_NR; n >= 1; n--)
        if (li->pid.layermask & (1 << n))
            return n;
    for (int n = MAX_LAYER_NR; n >= 1; n--)
        if (li->pid.protocol[n])
            return n;
    return 0;
}

int mISDN_new_layer(int fid, layer_info_t *li)
{
    if (!li)
        return fail(EINVAL);
    device_call c(fid);
    int bidx;
    kport *p = c.port(li->st, &bidx);
    if (!c.k)
        return -1;
    int n = layer_of(li);
    if (!p || (li->st & LAYER_ID_MASK) || n < 1)
        return fail(EINVAL);
    if (bidx >= 0) {
        if (n > 3)
            return fail(EINVAL);
        p->b[bidx].owner = fid;
        li->id = p->b[bidx].stid | (uint32_t)n;
        return 0;
    }
    if (claim_app_layer(p, fid, n) < 0)
        return -1;
    li->id = p->stid | (uint32_t)n;
    return 0;
}

int mISDN_register_layer(int fid, uint32_t stid, uint32_t layer_id)
{
    device_call c(fid);
    int bidx;
    kport *p = c.port(stid, &bidx);
    if (!c.k)
        return -1;
    if (!p || (layer_id & STACK_ID_MASK) != (stid & STACK_ID_MASK))
        return fail(EINVAL);
    if (bidx >= 0)
        return 0;
    return claim_app_layer(p, fid, (int)(layer_id & LAYER_ID_MASK));
}

int mISDN_get_layerid(int fid, uint32_t stid, int layer)
{
    device_call c(fid);
    int bidx;
    kport *p = c.port(stid, &bidx);
    if (!c.k)
        return -1;
    if (!p || layer < 1 || layer > MAX_LAYER_NR)
        return fail(ENOENT);
    int top = bidx >= 0 ? 3 : (p->cfg.nt ? 1 : 3);
    if (bidx < 0 && p->app_layer)
        top = p->app_layer;
    if (layer > top)
        return fail(ENOENT);
    uint32_t base = bidx >= 0 ? p->b[bidx].stid : p->stid;
    return (int)(base | (uint32_t)layer);
}

int mISDN_set_stack(int fid, uint32_t stid, const mISDN_pid_t *pid)
{
    if (!pid)
        return fail(EINVAL);
    device_call c(fid);
    int bidx;
    kport *p = c.port(stid, &bidx);
    if (!c.k)
        return -1;
    if (!p || bidx < 0)
        return fail(EINVAL);
    p->b[bidx].set = true;
    p->b[bidx].owner = fid;
    kernel_deliver(c.k, fid, p->b[bidx].stid, MGR_SETSTACK | INDICATION, 0, nullptr, 0);
    return 0;
}
