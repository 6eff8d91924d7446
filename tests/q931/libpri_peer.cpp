#include "libpri_peer.h"

#include <cstring>

// Our frames carry the C/R bit of the side opposite to libpri's.
static uint8_t address(const libpri_peer *p, bool command)
{
    // user side: commands C/R 0; network side: commands C/R 1
    bool we_are_network = !p->network;
    bool cr = command ? we_are_network : !we_are_network;
    return (uint8_t)((0 << 2) | (cr ? 2 : 0));
}

static void queue(libpri_peer *p, octets frame)
{
    frame.push_back(0);  // FCS octets libpri expects and strips
    frame.push_back(0);
    p->to_pri.push_back(frame);
}

static int io_write(struct pri *pri, void *buf, int len)
{
    libpri_peer *p = (libpri_peer *)pri_get_userdata(pri);
    const uint8_t *f = (const uint8_t *)buf;
    int n = len - 2;  // without the FCS
    if (n < 3)
        return len;
    uint8_t ctrl = f[2];
    uint8_t tei_addr = f[1];
    if (!(ctrl & 0x01)) {  // I frame
        if (n < 4)
            return len;
        int ns = ctrl >> 1;
        int poll = f[3] & 1;
        p->from_pri.emplace_back(f + 4, f + n);
        p->vr = (ns + 1) & 0x7F;
        queue(p, {address(p, false), tei_addr, 0x01, (uint8_t)((p->vr << 1) | poll)});
    } else if ((ctrl & 0x03) == 0x01) {  // S frame
        if (n >= 4 && (f[3] & 1))
            queue(p, {address(p, false), tei_addr, 0x01, (uint8_t)((p->vr << 1) | 1)});
    } else {  // U frame
        uint8_t pf = ctrl & 0x10;
        switch (ctrl & ~0x10) {
        case 0x6F:  // SABME
            p->vs = p->vr = 0;
            p->up = true;
            queue(p, {address(p, false), tei_addr, (uint8_t)(0x63 | pf)});
            break;
        case 0x43:  // DISC
            p->up = false;
            queue(p, {address(p, false), tei_addr, (uint8_t)(0x63 | pf)});
            break;
        default:
            break;
        }
    }
    return len;
}

static int io_read(struct pri *pri, void *buf, int len)
{
    libpri_peer *p = (libpri_peer *)pri_get_userdata(pri);
    if (p->to_pri.empty())
        return -1;
    octets f = p->to_pri.front();
    p->to_pri.pop_front();
    int n = (int)f.size() < len ? (int)f.size() : len;
    memcpy(buf, f.data(), (size_t)n);
    return n;
}

static void quiet(struct pri *, char *) {}

libpri_peer::libpri_peer(bool net, bool bri, int switchtype) : network(net)
{
    pri_set_error(quiet);
    pri_set_message(quiet);
    int side = net ? PRI_NETWORK : PRI_CPE;
    if (bri)
        pri = pri_new_bri_cb(-1, 1, side, switchtype, io_read, io_write, this);
    else
        pri = pri_new_cb(-1, side, switchtype, io_read, io_write, this);
    if (pri) {
        pri_set_debug(pri, 0);
        pri_facility_enable(pri);  // names and other supplementary services
    }
}

libpri_peer::~libpri_peer() = default;  // libpri offers no way to free a D-channel

void libpri_peer::pump(const std::function<void(pri_event *)> &on_event)
{
    for (int guard = 0; guard < 200 && !to_pri.empty(); guard++) {
        pri_event *e = pri_check_event(pri);
        if (e && on_event)
            on_event(e);
    }
}

void libpri_peer::send(const octets &q931)
{
    octets f = {address(this, true), 0x01, (uint8_t)(vs << 1), (uint8_t)(vr << 1)};
    f.insert(f.end(), q931.begin(), q931.end());
    vs = (vs + 1) & 0x7F;
    queue(this, f);
}
