#include "misdn_kernel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "log.h"
#include "misdn_sim.h"

kernel *g_kernel = nullptr;
std::mutex g_kernel_life;

#define KLOG(lvl, fmt, ...) LOGD(ISDN, (lvl), nullptr, "misdn: " fmt, ##__VA_ARGS__)

int64_t kernel_now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

uint64_t kernel_timer_key(int type, int owner, uint32_t key)
{
    return ((uint64_t)(type & 0xFF) << 56) | ((uint64_t)(owner & 0xFFFFFF) << 32) | key;
}

static void wake(kernel *k)
{
    if (k->wake_fd >= 0) {
        uint64_t one = 1;
        ssize_t r = write(k->wake_fd, &one, sizeof one);
        (void)r;
    }
}

void kernel_timer(kernel *k, int type, int owner, uint32_t key, int ms)
{
    uint64_t tk = kernel_timer_key(type, owner, key);
    if (ms < 0) {
        k->timers.erase(tk);
        return;
    }
    k->timers[tk] = kernel_now_ms() + ms;
    wake(k);
}

std::vector<uint8_t> frame_bytes(uint32_t addr, uint32_t prim, int dinfo, const uint8_t *data, int len)
{
    std::vector<uint8_t> fr((size_t)mISDN_HEADER_LEN + (size_t)len);
    iframe_t h;
    h.addr = addr;
    h.prim = prim;
    h.dinfo = dinfo;
    h.len = len;
    memcpy(fr.data(), &h, mISDN_HEADER_LEN);
    if (len)
        memcpy(fr.data() + mISDN_HEADER_LEN, data, (size_t)len);
    return fr;
}

void kernel_deliver(kernel *k, int fid, uint32_t addr, uint32_t prim, int dinfo,
                    const uint8_t *data, int len)
{
    auto it = k->devs.find(fid);
    if (it == k->devs.end() || len < 0 || len > MAX_DFRAME_LEN)
        return;
    std::vector<uint8_t> fr = frame_bytes(addr, prim, dinfo, data, len);
    kdev &d = *it->second;
    {
        std::lock_guard<std::mutex> g(d.m);
        d.q.push_back(std::move(fr));
    }
    d.cv.notify_all();
}

void kernel_up(kernel *k, kport *p, uint32_t prim, int dinfo, const uint8_t *data, int len)
{
    if (!p->owner || !p->app_layer)
        return;
    kernel_deliver(k, p->owner, p->stid | (uint32_t)p->app_layer, prim, dinfo, data, len);
}

void port_send_frame(kernel *, kport *p, const uint8_t *frame, int len)
{
    dchannel_trace_frame(&p->trace, true, frame, len);
    if (p->sock < 0)
        return;
    for (const auto &peer : p->peers) {
        ssize_t r = sendto(p->sock, frame, (size_t)len, 0, (const sockaddr *)&peer, sizeof peer);
        if (r < 0 && errno != ECONNREFUSED)
            KLOG(2, "port %d: sending a frame failed: %s", p->port, strerror(errno));
    }
}

void port_sstatus(kernel *k, kport *p, uint32_t status)
{
    if (p->sstatus)
        kernel_up(k, p, MGR_SHORTSTATUS | INDICATION, (int)status, nullptr, 0);
}

void port_l1_activate(kernel *k, kport *p, uint32_t prim)
{
    bool was = p->l1;
    p->l1 = true;
    kernel_up(k, p, prim, 0, nullptr, 0);
    if (!was)
        port_sstatus(k, p, SSTATUS_L1_ACTIVATED);
}

void port_l1_deactivate(kernel *k, kport *p, uint32_t prim)
{
    bool was = p->l1;
    p->l1 = false;
    if (!p->cfg.nt && was)
        lapd_ph_deactivated(&p->l2);
    kernel_up(k, p, prim, 0, nullptr, 0);
    if (was)
        port_sstatus(k, p, SSTATUS_L1_DEACTIVATED);
}

void port_receive_frame(kernel *k, kport *p, const uint8_t *frame, int len)
{
    dchannel_trace_frame(&p->trace, false, frame, len);
    if (len <= 0 || len > LAPD_MAX_FRAME) {
        KLOG(1, "port %d: frame of %d octets dropped", p->port, len);
        return;
    }
    if (!p->l1)
        port_l1_activate(k, p, PH_ACTIVATE | INDICATION);
    if (p->cfg.nt)
        kernel_up(k, p, PH_DATA | INDICATION, 0, frame, len);
    else
        lapd_frame_in(&p->l2, frame, len);  // layer 2 runs with or without an application
}

// ---- the reading and timing thread ----

static void run_timer(kernel *k, uint64_t tk)
{
    int type = (int)(tk >> 56);
    int owner = (int)((tk >> 32) & 0xFFFFFF);
    uint32_t key = (uint32_t)tk;
    if (type == KT_DEV) {
        kernel_deliver(k, owner, key, MGR_TIMER | INDICATION, 0, nullptr, 0);
        return;
    }
    auto it = k->ports.find(owner);
    if (it != k->ports.end())
        port_te_timer(k, it->second.get(), type, key);
}

// Runs the timers that are due (all armed ones with `all`); returns how many.
static int run_due_timers(kernel *k, bool all)
{
    int64_t now = kernel_now_ms();
    std::vector<uint64_t> due;
    for (const auto &t : k->timers)
        if (all || t.second <= now)
            due.push_back(t.first);
    int n = 0;
    for (uint64_t tk : due) {
        auto it = k->timers.find(tk);
        if (it == k->timers.end())
            continue;  // stopped by an earlier one
        k->timers.erase(it);
        run_timer(k, tk);
        n++;
    }
    return n;
}

static void read_socket(kernel *k, kport *p)
{
    uint8_t buf[2048];
    for (int i = 0; i < 64; i++) {
        sockaddr_in from;
        socklen_t fl = sizeof from;
        ssize_t n = recvfrom(p->sock, buf, sizeof buf, MSG_DONTWAIT, (sockaddr *)&from, &fl);
        if (n < 0)
            return;
        bool known = p->peers.empty();
        for (const auto &peer : p->peers)
            if (peer.sin_port == from.sin_port && peer.sin_addr.s_addr == from.sin_addr.s_addr)
                known = true;
        if (!known) {
            KLOG(2, "port %d: frame from unknown sender port %d ignored", p->port, ntohs(from.sin_port));
            continue;
        }
        port_receive_frame(k, p, buf, (int)n);
    }
}

static void thread_main(kernel *k)
{
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<kport *> who;
        int timeout = 1000;
        {
            std::lock_guard<std::mutex> g(k->mtx);
            if (!k->running)
                return;
            fds.push_back({k->wake_fd, POLLIN, 0});
            who.push_back(nullptr);
            for (auto &kv : k->ports)
                if (kv.second->sock >= 0) {
                    fds.push_back({kv.second->sock, POLLIN, 0});
                    who.push_back(kv.second.get());
                }
            int64_t now = kernel_now_ms();
            for (const auto &t : k->timers) {
                int64_t d = t.second - now;
                if (d < timeout)
                    timeout = d < 0 ? 0 : (int)d;
            }
        }
        int r = poll(fds.data(), fds.size(), timeout);
        std::lock_guard<std::mutex> g(k->mtx);
        if (!k->running)
            return;
        if (r > 0) {
            if (fds[0].revents & POLLIN) {
                uint64_t v;
                ssize_t rr = read(k->wake_fd, &v, sizeof v);
                (void)rr;
            }
            for (size_t i = 1; i < fds.size(); i++)
                if (fds[i].revents & POLLIN)
                    read_socket(k, who[i]);
        }
        run_due_timers(k, false);
    }
}

// ---- start and stop ----

static int open_socket(const sim_port_cfg &c)
{
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)c.local_udp);
    if (bind(s, (sockaddr *)&a, sizeof a) < 0) {
        int e = errno;
        close(s);
        errno = e;
        return -1;
    }
    return s;
}

static void destroy_kernel(kernel *k)
{
    for (auto &kv : k->ports) {
        if (kv.second->sock >= 0)
            close(kv.second->sock);
        dchannel_trace_close(&kv.second->trace);
    }
    if (k->wake_fd >= 0)
        close(k->wake_fd);
    delete k;
}

kernel *kernel_create(void)
{
    std::vector<sim_port_cfg> cfg;
    std::string err;
    if (sim_config_load(getenv("TARN_MISDN_SIM"), cfg, err) < 0) {
        KLOG(0, "cannot start the ISDN ports: %s", err.c_str());
        fprintf(stderr, "misdn: cannot start the ISDN ports: %s\n", err.c_str());
        errno = ENODEV;
        return nullptr;
    }
    kernel *k = new kernel;
    k->wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    for (const auto &c : cfg) {
        auto p = std::make_unique<kport>();
        p->k = k;
        p->cfg = c;
        p->port = c.port;
        p->pri = c.kind != SIM_BRI;
        p->nb = c.kind == SIM_BRI ? 2 : c.kind == SIM_E1 ? 30 : 23;
        p->stid = (uint32_t)c.port << 8;
        for (int b = 0; b < p->nb; b++)
            p->b[b].stid = FLG_CHILD_STACK | ((uint32_t)(b + 1) << 16) | p->stid;
        if (c.local_udp) {
            p->sock = open_socket(c);
            if (p->sock < 0) {
                int e = errno;
                KLOG(0, "port %d: cannot bind UDP port %d: %s", c.port, c.local_udp, strerror(e));
                fprintf(stderr, "misdn: port %d: cannot bind UDP port %d: %s\n", c.port, c.local_udp,
                        strerror(e));
                k->ports[c.port] = std::move(p);
                destroy_kernel(k);
                errno = e;
                return nullptr;
            }
        }
        for (int peer : c.peers) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons((uint16_t)peer);
            p->peers.push_back(a);
        }
        if (!c.trace.empty() && dchannel_trace_open(&p->trace, c.trace.c_str(), c.nt) < 0)
            KLOG(0, "port %d: cannot open trace %s: %s", c.port, c.trace.c_str(), strerror(errno));
        if (c.port > k->maxport)
            k->maxport = c.port;
        kport *raw = p.get();
        k->ports[c.port] = std::move(p);
        if (!c.nt)
            port_te_init(k, raw);
    }
    k->running = true;
    k->thr = std::thread(thread_main, k);
    return k;
}

void kernel_stop(kernel *k)
{
    {
        std::lock_guard<std::mutex> g(k->mtx);
        k->running = false;
        wake(k);
    }
    if (k->thr.joinable())
        k->thr.join();
    destroy_kernel(k);
}

// ---- hooks ----

int misdn_sim_inject(int port, const uint8_t *frame, int len)
{
    std::lock_guard<std::mutex> life(g_kernel_life);
    kernel *k = g_kernel;
    if (!k || !frame)
        return -1;
    std::lock_guard<std::mutex> g(k->mtx);
    auto it = k->ports.find(port);
    if (it == k->ports.end())
        return -1;
    port_receive_frame(k, it->second.get(), frame, len);
    return 0;
}

int misdn_sim_expire_timers(void)
{
    std::lock_guard<std::mutex> life(g_kernel_life);
    kernel *k = g_kernel;
    if (!k)
        return 0;
    std::lock_guard<std::mutex> g(k->mtx);
    return run_due_timers(k, true);
}

int misdn_sim_set_l1(int port, bool up)
{
    std::lock_guard<std::mutex> life(g_kernel_life);
    kernel *k = g_kernel;
    if (!k)
        return -1;
    std::lock_guard<std::mutex> g(k->mtx);
    auto it = k->ports.find(port);
    if (it == k->ports.end())
        return -1;
    if (up)
        port_l1_activate(k, it->second.get(), PH_ACTIVATE | INDICATION);
    else
        port_l1_deactivate(k, it->second.get(), PH_DEACTIVATE | INDICATION);
    return 0;
}
