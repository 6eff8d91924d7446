// The RTP and T.38 port pools: ranges from the stacks' texts, the T.38
// sub-ranges, allocation, re-pick and release.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "debug_lines.h"
#include "rtp_ports.h"
#include "sip_stack.h"

namespace {

class RtpPorts : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!gp)
            application_create();
        ports.assign(RTP_PORT_TABLE_SIZE, 0);
        stacks.assign(RTP_PORT_TABLE_SIZE, 0);
        gp->sip_stack_size = 0;
    }
    // Adds a stack of that name and range, marks it; the pools are rebuilt.
    sip_stack *stack(const char *name, const char *range)
    {
        sip_stack *ss = &gp->sip_stacks[gp->sip_stack_size++];
        *ss = sip_stack{};
        snprintf(ss->name, sizeof ss->name, "%s", name);
        snprintf(ss->rtp_port_string, sizeof ss->rtp_port_string, "%s", range);
        EXPECT_EQ(prepare_rtp_ports(ss, ports.data(), stacks.data()), 0);
        nsetup_rtp_ports(ports.data(), stacks.data());
        return ss;
    }
    int marked(int from, int to) const
    {
        int n = 0;
        for (int p = from; p <= to; p++)
            n += ports[p];
        return n;
    }
    std::vector<uint8_t> ports, stacks;
    debug_lines log{TARN};
};

TEST_F(RtpPorts, RangesFromTheStackTexts)
{
    stack("lan", "6000-6398");
    RTP_ports *r = gp->rtp_ports;
    EXPECT_EQ(marked(0, 65535), 200);
    EXPECT_EQ(ports[6000] + ports[6398] + ports[6001], 2);
    EXPECT_EQ(r->lanstart, 6000);
    EXPECT_EQ(r->lanstop, 6398);
    EXPECT_EQ(r->lan_t38start, 0) << "span 398 keeps no T.38 pool";
    EXPECT_EQ(rtp_port_type_ok(6100, 0), 1);

    stack("wan", "10000-12000");
    EXPECT_EQ(marked(10000, 12000), 501) << "cut to low + 1000";
    EXPECT_EQ(ports[11002], 0);
    EXPECT_EQ(r->wanstart, 10000);
    EXPECT_EQ(r->wanstop, 11000);
    EXPECT_EQ(r->wan_t38start, 11000 - 256);
    EXPECT_EQ(r->wan_t38stop, 11000);
    EXPECT_EQ(stacks[10500], STACK_WAN);
    EXPECT_EQ(rtp_port_type_ok(10744, 1), 1);
    EXPECT_EQ(rtp_port_type_ok(10744, 0), 0);
    EXPECT_EQ(rtp_port_type_ok(10742, 1), 0);
    EXPECT_EQ(check_if_rtp_port_belongs_to_stack(STACK_WAN, 10500), 1);
    EXPECT_EQ(check_if_rtp_port_belongs_to_stack(STACK_LAN, 10500), 0);
    EXPECT_EQ(check_if_rtp_port_belongs_to_stack(STACK_VPN, 10500), 0);

    // Tokens that are no usable port or range.
    log.clear();
    stack("localhost", "6001,7000-6000,65536,0-10,abc,6500-x,1030");
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"CRITICAL: ignoring token 6001", "CRITICAL: ignoring token 7000-6000",
                                               "CRITICAL: ignoring token 65536", "CRITICAL: ignoring token 0-10",
                                               "CRITICAL: ignoring token abc", "CRITICAL: ignoring token 6500-x"}));
    EXPECT_EQ(r->lostart, 1030);
    EXPECT_EQ(r->lostop, 0) << "a stack of one port has no stop";

    sip_stack other = {};
    snprintf(other.name, sizeof other.name, "office");
    EXPECT_EQ(prepare_rtp_ports(&other, ports.data(), stacks.data()), -1);
    EXPECT_EQ(rtp_stack_bit("lan_udp_5070"), STACK_LAN);
    int a[] = {5, 2, 9};
    qsort(a, 3, sizeof a[0], comp_int);
    EXPECT_EQ(a[0] * 100 + a[1] * 10 + a[2], 259);
}

TEST_F(RtpPorts, AllocationRepickAndRelease)
{
    sip_stack *lan = stack("lan", "6000-6010");
    sip_stack *wan = stack("wan", "10000-11000");
    call_object co = {};
    call_leg_sip a = {}, b = {};
    a.ss = b.ss = lan;
    EXPECT_EQ(update_rtp_port(&co, &a), 6000);
    EXPECT_EQ(a.rtp_local_port_from_correct_stack, 1);
    EXPECT_EQ(update_rtp_port(&co, &b), 6002) << "lowest free";
    EXPECT_EQ(update_rtp_port(&co, &a), 6000) << "a port that fits is kept";
    EXPECT_EQ(_update_rtp_port(&co, &b, 0, 6008), 6002) << "a leg with a port keeps it";

    // A T.38 leg on a stack without a T.38 pool finds nothing in it; the
    // fallback takes the first T.38 port of any stack.
    call_leg_sip fax = {};
    fax.ss = lan;
    EXPECT_EQ(get_free_passthrough_port(&co, &fax), 10744);
    EXPECT_EQ(fax.rtp_local_port_from_correct_stack, 0);

    // Moved onto the WAN stack: a re-pick holds the old port until release.
    call_leg_sip moved = {};
    moved.ss = lan;
    EXPECT_EQ(update_rtp_port(&co, &moved), 6004);
    moved.ss = wan;
    EXPECT_EQ(update_rtp_port(&co, &moved), 10000);
    EXPECT_EQ(moved.rtp_local_port_extra, 6004);
    EXPECT_EQ(ports[6004], 0);
    // Into the T.38 pool: a second re-pick frees the port held by the
    // first and holds the voice port instead.
    co.f.hdlc = 1;
    EXPECT_EQ(update_rtp_port(&co, &moved), 10746);
    EXPECT_EQ(moved.rtp_local_port_extra, 10000);
    EXPECT_EQ(ports[6004], 1);
    EXPECT_EQ(ports[10000], 0);
    release_all_rtp_ports(&moved);
    EXPECT_EQ(ports[10000] + ports[10746], 2);
    EXPECT_EQ(moved.rtp_local_port + moved.rtp_local_port_extra + moved.rtp_local_port_unreleased, 0);

    // A second release frees nothing that another leg took meanwhile.
    call_leg_sip later = {};
    later.ss = lan;
    co.f.hdlc = 0;
    EXPECT_EQ(update_rtp_port(&co, &later), 6004);
    release_all_rtp_ports(&moved);
    EXPECT_EQ(ports[6004], 0);

    // A pool run dry.
    call_leg_sip c = {}, d = {}, e = {};
    c.ss = d.ss = e.ss = lan;
    EXPECT_EQ(update_rtp_port(&co, &c), 6006);
    EXPECT_EQ(update_rtp_port(&co, &d), 6008);
    EXPECT_EQ(update_rtp_port(&co, &e), 6010);
    call_leg_sip f = {};
    f.ss = lan;
    EXPECT_EQ(update_rtp_port(&co, &f), 10000) << "falls back to another stack's lowest free port";
    EXPECT_EQ(f.rtp_local_port_from_correct_stack, 0);
    release_rtp_port(0);
    release_rtp_port(70000);
}

TEST_F(RtpPorts, NoT38PoolAnywhere)
{
    sip_stack *lan = stack("lan", "6000-6398");
    call_object co = {};
    co.f.hdlc = 1;
    call_leg_sip fax = {};
    fax.ss = lan;
    EXPECT_EQ(update_rtp_port(&co, &fax), 0);
    EXPECT_EQ(marked(6000, 6398), 200);
}

} // namespace
