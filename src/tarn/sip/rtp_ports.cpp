#include "rtp_ports.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "application.h"
#include "log.h"
#include "sip_stack.h"

int rtp_stack_bit(const char *name)
{
    if (!name)
        return 0;
    if (strcmp(name, "localhost") == 0)
        return STACK_LOCALHOST;
    if (strncmp(name, "lan", 3) == 0)
        return STACK_LAN;
    if (strncmp(name, "wan", 3) == 0)
        return STACK_WAN;
    if (strncmp(name, "vpn", 3) == 0)
        return STACK_VPN;
    return 0;
}

static void mark_port(int port, int bit, uint8_t *rtpports, uint8_t *rtpstacks)
{
    rtpports[port] = 1;
    rtpstacks[port] |= (uint8_t)bit;
}

// A whole decimal number in 1..65535, else -1.
static long port_number(const char *text)
{
    if (!text[0] || strspn(text, "0123456789") != strlen(text) || strlen(text) > 5)
        return -1;
    long v = strtol(text, nullptr, 10);
    return v >= 1 && v <= 65535 ? v : -1;
}

int prepare_rtp_ports(sip_stack *ss, uint8_t *rtpports, uint8_t *rtpstacks)
{
    int bit = ss ? rtp_stack_bit(ss->name) : 0;
    if (!bit || !rtpports || !rtpstacks)
        return -1;
    char text[256];
    snprintf(text, sizeof text, "%s", ss->rtp_port_string);
    char *save = nullptr;
    for (char *tok = strtok_r(text, ",", &save); tok; tok = strtok_r(nullptr, ",", &save)) {
        char *dash = strchr(tok, '-');
        if (dash) {
            *dash = '\0';
            long low = port_number(tok), high = port_number(dash + 1);
            *dash = '-';
            if (low < 0 || high < 0 || high < low) {
                LOGD(TARN, 1, nullptr, "CRITICAL: ignoring token %s", tok);
                continue;
            }
            if (high > low + 1000)
                high = low + 1000;
            for (long p = low; p <= high; p++)
                if (p % 2 == 0)
                    mark_port((int)p, bit, rtpports, rtpstacks);
        } else {
            long p = port_number(tok);
            if (p < 0 || p % 2 != 0) {
                LOGD(TARN, 1, nullptr, "CRITICAL: ignoring token %s", tok);
                continue;
            }
            mark_port((int)p, bit, rtpports, rtpstacks);
        }
    }
    return 0;
}

void nsetup_rtp_ports(uint8_t *rtpports, uint8_t *rtpstacks)
{
    if (!gp->rtp_ports)
        gp->rtp_ports = (RTP_ports *)calloc(1, sizeof(RTP_ports));
    RTP_ports *r = gp->rtp_ports;
    if (!r)
        return;
    *r = RTP_ports{};
    r->rtp_ports = rtpports;
    r->rtp_stacks = rtpstacks;
    struct {
        int bit;
        int *start, *stop;
    } stacks[] = {{STACK_LOCALHOST, &r->lostart, &r->lostop},
                  {STACK_LAN, &r->lanstart, &r->lanstop},
                  {STACK_WAN, &r->wanstart, &r->wanstop},
                  {STACK_VPN, &r->vpnstart, &r->vpnstop}};
    for (int p = 1024; p <= 65534 && rtpports && rtpstacks; p++) {
        if (!rtpports[p])
            continue;
        for (auto &s : stacks)
            if (rtpstacks[p] & s.bit) {
                if (!*s.start)
                    *s.start = p;
                else
                    *s.stop = p;
            }
    }
    // The top 257 ports of a wide LAN or WAN range form its T.38 pool.
    if (r->lanstop - r->lanstart > 640) {
        r->lan_t38start = r->lanstop - 256;
        r->lan_t38stop = r->lanstop;
    }
    if (r->wanstop - r->wanstart > 640) {
        r->wan_t38start = r->wanstop - 256;
        r->wan_t38stop = r->wanstop;
    }
    for (int i = 0; i < gp->sip_stack_size; i++)
        gp->sip_stacks[i].rtp_ports = r;
}

static bool in_range(int port, int start, int stop)
{
    return start && stop && port >= start && port <= stop;
}

int rtp_port_type_ok(int port, int t38)
{
    RTP_ports *r = gp ? gp->rtp_ports : nullptr;
    if (!r)
        return 0;
    bool in_t38 = in_range(port, r->lan_t38start, r->lan_t38stop) ||
                  in_range(port, r->wan_t38start, r->wan_t38stop) ||
                  in_range(port, r->vpn_t38start, r->vpn_t38stop);
    return (in_t38 && t38) || (!in_t38 && !t38) ? 1 : 0;
}

int check_if_rtp_port_belongs_to_stack(int stack, int rtp_port)
{
    RTP_ports *r = gp ? gp->rtp_ports : nullptr;
    if (!r)
        return 0;
    switch (stack) {
    case STACK_LOCALHOST: return in_range(rtp_port, r->lostart, r->lostop) ? 1 : 0;
    case STACK_LAN: return in_range(rtp_port, r->lanstart, r->lanstop) ? 1 : 0;
    case STACK_WAN: return in_range(rtp_port, r->wanstart, r->wanstop) ? 1 : 0;
    default: return 0;
    }
}

int comp_int(const void *a, const void *b)
{
    return *(const int *)a - *(const int *)b;
}

// The range of a stack bit: start and stop, both 0 when it has none.
static void stack_range(const RTP_ports *r, int bit, int *start, int *stop)
{
    switch (bit) {
    case STACK_LOCALHOST: *start = r->lostart, *stop = r->lostop; break;
    case STACK_LAN: *start = r->lanstart, *stop = r->lanstop; break;
    case STACK_WAN: *start = r->wanstart, *stop = r->wanstop; break;
    case STACK_VPN: *start = r->vpnstart, *stop = r->vpnstop; break;
    default: *start = *stop = 0;
    }
}

static bool fits(const RTP_ports *r, int port, int pool)
{
    return r->rtp_ports[port] == 1 && rtp_port_type_ok(port, pool);
}

// The first port of the stack's range that fits the pool, carries the bit
// and (with preferred) is that port: the port, or 0.
static int scan_stack(const RTP_ports *r, int bit, int start, int stop, int pool, int preferred)
{
    if (!bit || !start)
        return 0;
    for (int p = start; p <= stop && p < RTP_PORT_TABLE_SIZE; p++)
        if (fits(r, p, pool) && (r->rtp_stacks[p] & bit) && (!preferred || p == preferred))
            return p;
    return 0;
}

static void take(RTP_ports *r, call_leg_sip *cl, int port, int from_stack)
{
    r->rtp_ports[port] = 0;
    cl->rtp_local_port = port;
    cl->rtp_local_port_from_correct_stack = from_stack;
}

int _update_rtp_port(call_object *, call_leg_sip *cl, int pool, int preferred_port)
{
    RTP_ports *r = gp ? gp->rtp_ports : nullptr;
    if (!cl || !r || !r->rtp_ports || !r->rtp_stacks)
        return cl ? cl->rtp_local_port : 0;
    int bit = cl->ss ? rtp_stack_bit(cl->ss->name) : 0;
    int start, stop;
    stack_range(r, bit, &start, &stop);
    if (!stop)
        stop = start; // a stack of one port

    if (cl->rtp_local_port == 0) {
        // 1. the stack's own range
        int p = scan_stack(r, bit, start, stop, pool, preferred_port);
        if (p) {
            take(r, cl, p, 1);
            return p;
        }
        // 2. any configured port
        for (int q = cl->rtp_local_port; q < RTP_PORT_TABLE_SIZE; q++)
            if (fits(r, q, pool)) {
                take(r, cl, q, 0);
                return q;
            }
        return cl->rtp_local_port;
    }

    // 3. a leg with a port
    int port = cl->rtp_local_port;
    bool known = bit == STACK_LOCALHOST || bit == STACK_LAN || bit == STACK_WAN;
    cl->rtp_local_port_from_correct_stack = known && in_range(port, start, stop) ? 1 : 0;
    if (bit) {
        if (!(in_range(port, start, stop) && rtp_port_type_ok(port, pool))) {
            if (cl->rtp_local_port_extra > 0 && cl->rtp_local_port_extra < RTP_PORT_TABLE_SIZE)
                r->rtp_ports[cl->rtp_local_port_extra] = 1;
            cl->rtp_local_port_extra = 0;
            int p = scan_stack(r, bit, start, stop, pool, preferred_port);
            if (p) {
                r->rtp_ports[p] = 0;
                cl->rtp_local_port_extra = port; // held until the leg is released
                cl->rtp_local_port = p;
                cl->rtp_local_port_from_correct_stack = 1;
            }
        }
    }
    if (pool == 1 && rtp_port_type_ok(cl->rtp_local_port, 0)) {
        int p = scan_stack(r, bit, start, stop, 1, 0);
        if (p) {
            r->rtp_ports[p] = 0;
            if (cl->rtp_local_port_unreleased > 0 && cl->rtp_local_port_unreleased < RTP_PORT_TABLE_SIZE)
                r->rtp_ports[cl->rtp_local_port_unreleased] = 1;
            cl->rtp_local_port_unreleased = cl->rtp_local_port;
            cl->rtp_local_port = p;
            cl->rtp_local_port_from_correct_stack = 1;
        }
    }
    return cl->rtp_local_port;
}

int update_rtp_port(call_object *co, call_leg_sip *cl)
{
    return _update_rtp_port(co, cl, co && co->f.hdlc ? 1 : 0, 0);
}

int get_free_passthrough_port(call_object *co, call_leg_sip *cl)
{
    return _update_rtp_port(co, cl, 1, 0);
}

void release_rtp_port(int port)
{
    RTP_ports *r = gp ? gp->rtp_ports : nullptr;
    if (r && r->rtp_ports && port >= 1 && port <= 65535)
        r->rtp_ports[port] = 1;
}

void release_all_rtp_ports(call_leg_sip *cl)
{
    if (!cl)
        return;
    // Cleared once freed: a second release must not free ports that other
    // legs hold by then.
    for (int32_t *p : {&cl->rtp_local_port, &cl->rtp_local_port_extra, &cl->rtp_local_port_unreleased}) {
        release_rtp_port(*p);
        *p = 0;
    }
}
