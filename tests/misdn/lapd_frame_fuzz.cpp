// Feeds arbitrary LAPD frames to the ports of the device layer: TE ports on
// BRI (point-to-point and point-to-multipoint) and E1, and an NT port with
// its network library. Each run starts from established links and a call in
// progress, so the frames reach layer 3 as well.
//
// Input: records of [selector][length][frame]; the selector's low two bits
// choose the port, bit 7 runs every armed device timer afterwards.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "isdn_net.h"
#include "log.h"
#include "misdn_harness.h"
#include "misdn_device.h"
#include "misdn_sim.h"
#include "q931_info.h"

namespace {

const int te_ports[] = {1, 2, 4};
const int nt_port = 3;
int keeper = -1;

struct te_dev {
    int fid = -1;
    uint32_t upper = 0;
};

void drain(int fid)
{
    uint8_t buf[MAX_FRAME_SIZE];
    while (mISDN_read(fid, buf, sizeof buf, 0) > 0) {
    }
}

int nt_up(manager_t *, msg_t *msg)
{
    free_msg(msg);
    return 0;
}

struct nt_dev {
    int fid = -1;
    net_stack_t nst{};
    manager_t mgr{};

    bool open()
    {
        app_layer a;
        int r = open_app_layer(nt_port, true, &a);
        fid = a.fid;
        if (r < 0)
            return false;
        nst.manager = &mgr;
        mgr.nst = &nst;
        nst.l3_manager = nt_up;
        nst.device = fid;
        nst.cardnr = nt_port;
        nst.l1_id = a.lower;
        nst.l2_id = a.upper;
        nst.feature = FEATURE_NET_HOLD;
        return Isdnl2Init(&nst) == 0 && Isdnl3Init(&nst) == 0;
    }

    // Hands every frame the device has for us to the library.
    void pump()
    {
        for (int guard = 0; guard < 256; guard++) {
            msg_t *m = alloc_msg(MAX_MSG_SIZE);
            int n = mISDN_read(fid, m->data, MAX_MSG_SIZE, 0);
            if (n < mISDN_HEADER_LEN) {
                free_msg(m);
                return;
            }
            msg_put(m, n);
            iframe_t h;
            memcpy(&h, m->data, mISDN_HEADER_LEN);
            if (h.prim == (MGR_TIMER | INDICATION)) {
                free_msg(m);
                if (itimer_t *t = find_timer(&nst, (int)h.addr)) {
                    t->flags &= ~ITIMER_RUNNING;
                    t->function(t->data);
                }
                continue;
            }
            if (nst.l1_l2(&nst, m) != 0)
                free_msg(m);
        }
    }

    void request(uint32_t prim, int dinfo, const uint8_t *ies, int n)
    {
        msg_t *m = net_msg_new(prim, dinfo);
        for (int p = 0; m && p + 1 < n; p += 2 + ies[p + 1])
            net_msg_add_ie(m, ies[p], ies + p + 2, ies[p + 1]);
        if (m && nst.manager_l3(&nst, m))
            free_msg(m);
    }

    void close()
    {
        cleanup_Isdnl3(&nst);
        cleanup_Isdnl2(&nst);
        mISDN_close(fid);
    }
};

const uint8_t setup_ies[] = {0x04, 0x03, 0x80, 0x90, 0xA3, 0x18, 0x01, 0x83,
                             0x70, 0x04, 0x81, '1', '2', '3'};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    log_levels_debug_enabled = 0;
    char dir[] = "/tmp/misdn-fuzz-XXXXXX";
    if (!mkdtemp(dir))
        abort();
    std::string cfg = std::string(dir) + "/ports";
    FILE *f = fopen(cfg.c_str(), "w");
    if (!f)
        abort();
    fputs("1 te bri ptp - - -\n2 te bri ptmp - - -\n3 nt bri ptmp - - -\n4 te e1 ptp - - -\n", f);
    fclose(f);
    setenv("TARN_MISDN_SIM", cfg.c_str(), 1);
    keeper = mISDN_open();
    unlink(cfg.c_str());
    rmdir(dir);
    if (keeper < 1)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    te_dev te[3];
    for (int i = 0; i < 3; i++) {
        app_layer a;
        if (open_app_layer(te_ports[i], false, &a) < 0)
            abort();
        te[i].fid = a.fid;
        te[i].upper = a.upper;
        // a link in multiple-frame operation and an outgoing call on it
        const uint8_t sabme[] = {0x02, 0x01, 0x7F};
        misdn_sim_inject(te_ports[i], sabme, sizeof sabme);
        uint8_t info[256] = {};
        int len = Q931_INFO_LEN;
        for (int p = 0; p + 1 < (int)sizeof setup_ies; p += 2 + setup_ies[p + 1])
            len = q931_info_add_ie(info, len, sizeof info, setup_ies[p], setup_ies + p + 2, setup_ies[p + 1]);
        mISDN_write_frame(te[i].fid, nullptr, te[i].upper | FLG_MSG_DOWN, CC_NEW_CR | REQUEST, 0x10001, 0,
                          nullptr, 0);
        mISDN_write_frame(te[i].fid, nullptr, te[i].upper | FLG_MSG_DOWN, 0x30580, 0x10001, len, info, 0);
    }
    nt_dev nt;
    if (!nt.open())
        abort();
    nt.request(0x30580, 0xFF00, setup_ies, sizeof setup_ies);
    nt.pump();

    size_t p = 0;
    while (p + 2 <= size) {
        uint8_t sel = data[p];
        size_t len = data[p + 1];
        p += 2;
        if (len > size - p)
            len = size - p;
        int which = sel & 3;
        int port = which == 3 ? nt_port : te_ports[which];
        misdn_sim_inject(port, data + p, (int)len);
        p += len;
        if (sel & 0x80)
            misdn_sim_expire_timers();
        nt.pump();
        for (auto &t : te)
            drain(t.fid);
    }
    nt.close();
    for (auto &t : te)
        mISDN_close(t.fid);
    return 0;
}
