// RTP passthrough of SIP-to-SIP calls: the relay threads between UDP peers
// on 127.0.0.1, the NAT opener probes read back by tshark, and the NAT rules
// of syscall mode 6 in the packet filter. The binary runs in private mount
// and network namespaces.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "confman.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "debug_lines.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "media_passthrough.h"
#include "pools.h"
#include "private_netns.h"
#include "run_process.h"
#include "thread_names.h"

namespace {

std::string why_not;
const bool isolated = enter_private_mounts(&why_not) && enter_private_network(&why_not);

// A UDP peer on 127.0.0.1.
struct peer {
    int fd = -1;
    int port = 0;
    // Late copies of a datagram that was sent more than once (see cross):
    // dropped when they arrive.
    mutable std::vector<std::vector<unsigned char>> stale;
    peer()
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, (sockaddr *)&a, sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, (sockaddr *)&a, &len);
        port = ntohs(a.sin_port);
    }
    ~peer() { close(fd); }
    void send_to(int to, const std::vector<unsigned char> &data) const
    {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons((uint16_t)to);
        sendto(fd, data.data(), data.size(), 0, (sockaddr *)&a, sizeof a);
    }
    // The next datagram within the bound, empty when none came.
    std::vector<unsigned char> receive(int ms = 5000) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                           .count();
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, left > 0 ? left : 0) != 1)
                return {};
            std::vector<unsigned char> b(70000);
            ssize_t n = recv(fd, b.data(), b.size(), 0);
            b.resize(n > 0 ? (size_t)n : 0);
            if (std::find(stale.begin(), stale.end(), b) == stale.end())
                return b;
        }
    }
};

// The first datagram through the relay can race the relay's bind: the
// sender repeats until one arrives (bounded). On a loaded machine an earlier
// copy may still be on its way then: the receiver drops it when it comes.
std::vector<unsigned char> cross(const peer &from, int to, const peer &at, const std::vector<unsigned char> &data)
{
    for (int i = 0; i < 100; i++) {
        from.send_to(to, data);
        std::vector<unsigned char> got = at.receive(50);
        if (!got.empty()) {
            if (i > 0)
                at.stale.push_back(got);
            return got;
        }
    }
    return {};
}

// Relay threads name themselves once they run: a bounded wait for the count.
int relay_threads(int want)
{
    for (int i = 0; i < 500 && count_threads("tarn.passthroug", true) != want; i++)
        usleep(10 * 1000);
    return count_threads("tarn.passthroug", true);
}

class Passthrough : public ::testing::Test {
protected:
    sip_stack stack_ = {};
    void SetUp() override
    {
        if (!isolated)
            GTEST_SKIP() << why_not;
        application_create();
        init_locks();
        cm_init();
        _parse_experimental_options("");
        gp->experimental_options->eo_syscall_mode = 2;
        ASSERT_EQ(create_call_object_pools(140), 0);
        snprintf(stack_.interface, sizeof stack_.interface, "lo");
        snprintf(stack_.ip, sizeof stack_.ip, "10.0.0.1");
        stack_.active = 1;
        stack_.tos_rtp = 184;
    }
    void TearDown() override
    {
        for (int i = 0; i < OPERATIONARRAYSIZE; i++)
            if (gp->operations[i]->callinfo)
                stop(gp->operations[i]);
    }
    void stop(call_object *co)
    {
        stop_udp_proxy_thread(co);
        co->callinfo = 0;
    }
    // A SIP-to-SIP call: leg 1 local l1 towards 127.0.0.1:r1, leg 2 local
    // l2 towards 127.0.0.1:r2.
    call_object *call(int index, int l1, int r1, int l2, int r2)
    {
        call_object *co = gp->operations[index];
        co->callinfo = CI_SIP_TO_SIP;
        co->pid = 500 + index;
        co->cl_sip_in = co->cl_sip = gp->sip_call_legs[2 * index];
        co->cl_sip_out = gp->sip_call_legs[2 * index + 1];
        struct {
            call_leg_sip *leg;
            int local, remote, te;
        } legs[] = {{co->cl_sip_in, l1, r1, 101}, {co->cl_sip_out, l2, r2, 96}};
        for (auto &l : legs) {
            l.leg->rtp_local_port = l.local;
            l.leg->rtp_remote_port = l.remote;
            snprintf(l.leg->rtp_remote_ip, sizeof l.leg->rtp_remote_ip, "127.0.0.1");
            l.leg->pt_telephony_event = l.te;
            l.leg->using_codec = 8;
            l.leg->using_payload = 8;
            l.leg->ss = &stack_;
        }
        return co;
    }
    void start(call_object *co)
    {
        lock_hold hold(&lock_manager::global_lock);
        start_udp_proxy_thread(co);
    }
};

TEST_F(Passthrough, RelayCarriesDatagramsWholeBothWays)
{
    peer a, b;
    call_object *co = call(0, 30000, a.port, 30002, b.port);
    start(co);
    // The kernel keeps 15 characters of a thread's name.
    EXPECT_EQ(relay_threads(1), 1);

    std::vector<unsigned char> rtp(172, 0xD5);
    rtp[0] = 0x80;
    rtp[1] = 0x08;
    EXPECT_EQ(cross(a, 30000, b, rtp), rtp);
    // Longer than any fixed receive buffer of 256 bytes: it arrives whole.
    std::vector<unsigned char> big(332);
    for (size_t i = 0; i < big.size(); i++)
        big[i] = (unsigned char)i;
    b.send_to(30002, big);
    EXPECT_EQ(a.receive(), big);
    std::vector<unsigned char> udptl(1400, 0x42);
    a.send_to(30000, udptl);
    EXPECT_EQ(b.receive(), udptl);

    stop(co);
    EXPECT_EQ(relay_threads(0), 0);
    // A second stop has nothing to do.
    stop_udp_proxy_thread(co);
}

TEST_F(Passthrough, TelephoneEventRewriteOnlyWithTheOption)
{
    peer a, b;
    call_object *co = call(0, 30000, a.port, 30002, b.port);
    start(co);
    std::vector<unsigned char> event = {0x80, 0xE5, 0, 1, 0, 0, 0, 160, 0, 0, 0, 1, 5, 0x8A, 0, 160};
    ASSERT_EQ(event.size(), 16u);
    EXPECT_EQ(cross(a, 30000, b, event), event);

    // The option is read by the running relay: set while none runs.
    stop(co);
    gp->experimental_options->eo_s2s_transparent_modify_rfc2833_payload = 1;
    co = call(0, 30000, a.port, 30002, b.port);
    start(co);
    std::vector<unsigned char> got = cross(a, 30000, b, event);
    ASSERT_EQ(got.size(), 16u);
    EXPECT_EQ(got[1], 96); // leg 2's telephone-event type, marker cleared
    b.send_to(30002, event);
    got = a.receive();
    ASSERT_EQ(got.size(), 16u);
    EXPECT_EQ(got[1], 101);
    // Other lengths pass unchanged.
    std::vector<unsigned char> seventeen = event;
    seventeen.push_back(0);
    a.send_to(30000, seventeen);
    EXPECT_EQ(b.receive(), seventeen);
    stop(co);
    gp->experimental_options->eo_s2s_transparent_modify_rfc2833_payload = 0;
}

TEST_F(Passthrough, The129thCallGetsNoRelay)
{
    debug_lines log({TARN});
    for (int i = 0; i < 129; i++)
        start(call(i, 31000 + 2 * i, 9, 31001 + 2 * i, 9));
    EXPECT_EQ(relay_threads(128), 128);
    EXPECT_EQ(log.count("no free passthrough slot"), 1);
    stop(gp->operations[3]);
    start(call(128, 40000, 9, 40002, 9));
    EXPECT_EQ(relay_threads(128), 128);
    EXPECT_EQ(log.count("no free passthrough slot"), 1);
}

// The probe burst as the far end receives it, decoded by tshark from a
// capture written of the received datagrams.
TEST_F(Passthrough, NatProbesDecodeAsRtp)
{
    peer far;
    gp->experimental_options->eo_nat_probes_count = 3;
    send_nat_probe(nullptr, "127.0.0.1", far.port, 8, 8);
    std::vector<std::vector<unsigned char>> got;
    for (int i = 0; i < 3; i++)
        got.push_back(far.receive());
    EXPECT_TRUE(far.receive(100).empty());

    char tmpl[] = "/tmp/probes.XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string pcap = dir + "/probes.pcap";
    FILE *f = fopen(pcap.c_str(), "wb");
    ASSERT_TRUE(f);
    const uint32_t head[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, 101}; // raw IPv4 link type
    fwrite(head, sizeof head, 1, f);
    for (size_t k = 0; k < got.size(); k++) {
        const std::vector<unsigned char> &p = got[k];
        ASSERT_EQ(p.size(), (size_t)NAT_PROBE_SIZE);
        unsigned char ip[28] = {0x45, 0, 0, 0, 0, 0, 0, 0, 64, 17, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1};
        uint16_t total = (uint16_t)(28 + p.size()), udp = (uint16_t)(8 + p.size());
        ip[2] = (unsigned char)(total >> 8);
        ip[3] = (unsigned char)total;
        ip[20] = 0x9C;
        ip[21] = 0x40; // source port 40000
        ip[22] = (unsigned char)(far.port >> 8);
        ip[23] = (unsigned char)far.port;
        ip[24] = (unsigned char)(udp >> 8);
        ip[25] = (unsigned char)udp;
        uint32_t rec[4] = {(uint32_t)k, 0, total, total};
        fwrite(rec, sizeof rec, 1, f);
        fwrite(ip, sizeof ip, 1, f);
        fwrite(p.data(), p.size(), 1, f);
    }
    fclose(f);
    process_result r = run_process({"tshark", "-r", pcap, "-d", "udp.port==" + std::to_string(far.port) + ",rtp", "-T",
                                    "fields", "-e", "rtp.seq", "-e", "rtp.timestamp", "-e", "rtp.p_type", "-e",
                                    "rtp.marker", "-e", "udp.length"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<long> seq, ts;
    int lines = 0;
    char *save = nullptr;
    std::string out = r.out;
    for (char *l = strtok_r(out.data(), "\n", &save); l; l = strtok_r(nullptr, "\n", &save)) {
        long s, t, pt, m, len;
        ASSERT_EQ(sscanf(l, "%ld %ld %ld %ld %ld", &s, &t, &pt, &m, &len), 5) << l;
        EXPECT_EQ(pt, 8);
        EXPECT_EQ(len, 180);
        seq.push_back(s);
        ts.push_back(t);
        lines++;
    }
    ASSERT_EQ(lines, 3) << r.out;
    for (int k = 1; k < 3; k++) {
        EXPECT_EQ(seq[k], seq[k - 1] + 1);
        EXPECT_EQ(ts[k], ts[k - 1] + 160);
    }
    for (size_t i = 12; i < got[0].size(); i++)
        ASSERT_EQ(got[0][i], 0xD5);
    // Another burst: another SSRC.
    send_nat_probe(nullptr, "127.0.0.1", far.port, 0, 0);
    std::vector<unsigned char> next = far.receive();
    ASSERT_EQ(next.size(), (size_t)NAT_PROBE_SIZE);
    EXPECT_EQ(next[1], 0);
    EXPECT_EQ(next[12], 0xFF);
    EXPECT_NE(memcmp(next.data() + 8, got[0].data() + 8, 4), 0);
    for (int i = 0; i < 2; i++)
        far.receive(1000);

    gp->experimental_options->eo_nat_probes_count = 0;
    send_nat_probe(nullptr, "127.0.0.1", far.port, 8, 8);
    EXPECT_TRUE(far.receive(200).empty());
    run_process({"rm", "-rf", dir});
}

// The notice that a transcoding call's marked VOPENA went out sends the
// probes from what was taken when it was queued, not from the live call.
TEST_F(Passthrough, VopenaNoticeUsesTheFactsTakenAtQueueing)
{
    peer leg1, leg2;
    gp->experimental_options->eo_nat_probes_count = 2;
    snprintf(gp->netconf.msp_devip, sizeof gp->netconf.msp_devip, "127.0.0.1");
    call_object *co = call(0, leg1.port, 9, leg2.port, 9);
    co->cl_sip_out->using_codec = 0;
    co->cl_sip_out->using_payload = 0;
    magic_csm vopena = create_default_csm_msg(FC_VOIP_VOPENA, 1);
    ASSERT_FALSE(csm_msg_is_null(vopena));
    vopena.u_csmchan_voip_vopena->notification_flag = NAT_PROBE_MARKER;
    nat_probe_note_vopena(vopena, co);
    // The call changes (or goes) before the command thread sends it.
    co->cl_sip_in->rtp_local_port = 1;
    co->cl_sip_out = nullptr;
    nat_probe_vopena_sent(vopena, 0);
    for (const peer *p : {&leg1, &leg2})
        for (int i = 0; i < 2; i++)
            EXPECT_EQ(p->receive().size(), (size_t)NAT_PROBE_SIZE);
    EXPECT_EQ(leg2.receive(100).size(), 0u);
    // Sent once: a second notice for the same record finds nothing.
    nat_probe_vopena_sent(vopena, 0);
    EXPECT_TRUE(leg1.receive(100).empty());
    // Without the marker: nothing.
    vopena.u_csmchan_voip_vopena->notification_flag = 1;
    nat_probe_note_vopena(vopena, call(1, leg1.port, 9, leg2.port, 9));
    nat_probe_vopena_sent(vopena, 0);
    EXPECT_TRUE(leg1.receive(100).empty());
    delete_csm_msg(vopena);
}

std::string nat_rules()
{
    return run_process({"sh", "-c", "iptables-legacy-save -t nat | grep '^-A' || true"}).out;
}

TEST_F(Passthrough, NatRulesLiveWhileTheCall)
{
    gp->experimental_options->eo_syscall_mode = 6;
    debug_lines log({TARN});
    call_object *co = call(0, 30000, 40000, 30002, 40002);
    snprintf(co->cl_sip_in->rtp_remote_ip, sizeof co->cl_sip_in->rtp_remote_ip, "192.0.2.10");
    snprintf(co->cl_sip_out->rtp_remote_ip, sizeof co->cl_sip_out->rtp_remote_ip, "192.0.2.20");
    start(co);
    std::string rules = nat_rules();
    for (const char *want : {"-A POSTROUTING -d 192.0.2.10/32 -o lo -p udp -m udp --dport 40000 -j SNAT --to-source 10.0.0.1:30000",
                             "-A POSTROUTING -d 192.0.2.20/32 -o lo -p udp -m udp --dport 40002 -j SNAT --to-source 10.0.0.1:30002",
                             "-A PREROUTING -i lo -p udp -m udp --dport 30000 -j DNAT --to-destination 192.0.2.20:40002",
                             "-A PREROUTING -i lo -p udp -m udp --dport 30002 -j DNAT --to-destination 192.0.2.10:40000"})
        EXPECT_NE(rules.find(want), std::string::npos) << want << "\n" << rules;
    EXPECT_EQ(log.count("|iptables -t nat -I "), 4);
    EXPECT_STREQ(co->iptables_clean_commands[0],
                 "iptables -t nat -D PREROUTING -i lo -p udp --dport 30000 -j DNAT --to-destination 192.0.2.20:40002");

    stop_udp_proxy_thread(co);
    EXPECT_EQ(nat_rules(), "");
    EXPECT_EQ(log.count("|iptables -t nat -D "), 4);
    for (char *c : co->iptables_clean_commands)
        EXPECT_EQ(c, nullptr);
    stop_udp_proxy_thread(co);
    EXPECT_EQ(log.count("|iptables -t nat -D "), 4);

    // A peer's address with more in it makes no rule at all.
    snprintf(co->cl_sip_out->rtp_remote_ip, sizeof co->cl_sip_out->rtp_remote_ip, "10.0.0.2 -j ACCEPT");
    start(co);
    EXPECT_EQ(nat_rules(), "");
    EXPECT_EQ(log.count("|iptables -t nat -I "), 4);
    EXPECT_EQ(log.count("CRITICAL: udp proxy iptables rules not made"), 1);
    // So does an interface name that is not one.
    snprintf(co->cl_sip_out->rtp_remote_ip, sizeof co->cl_sip_out->rtp_remote_ip, "192.0.2.20");
    snprintf(stack_.interface, sizeof stack_.interface, "lo;x");
    start(co);
    EXPECT_EQ(nat_rules(), "");
    // Incomplete stacks: no rules either.
    stack_.interface[0] = '\0';
    start(co);
    EXPECT_EQ(log.count("Cannot create udp proxy iptables rules: incomplete sip stack information"), 1);
    co->callinfo = 0;
}

// Two calls that send each other's media through this gateway are joined
// directly: their outer legs get the rules, the peer's own rules go.
TEST_F(Passthrough, TransparentBridgingJoinsTheOuterLegs)
{
    gp->experimental_options->eo_syscall_mode = 6;
    gp->experimental_options->eo_allow_transparent_bridging = 1;
    debug_lines log({TARN});
    call_object *b = call(1, 30012, 30002, 30014, 40004);
    snprintf(b->cl_sip_out->rtp_remote_ip, sizeof b->cl_sip_out->rtp_remote_ip, "192.0.2.20");
    start(b);
    EXPECT_NE(nat_rules().find("--dport 30012 -j DNAT --to-destination 192.0.2.20:40004"), std::string::npos);

    call_object *a = call(0, 30000, 40000, 30002, 30012);
    snprintf(a->cl_sip_in->rtp_remote_ip, sizeof a->cl_sip_in->rtp_remote_ip, "192.0.2.10");
    start(a);
    EXPECT_EQ(log.count("transparent bridging: local 10.0.0.1:30000 <-> 10.0.0.1:30014, media 192.0.2.10:40000 <-> "
                        "192.0.2.20:40004, peer pid 501"),
              1);
    std::string rules = nat_rules();
    for (const char *want : {"-A POSTROUTING -d 192.0.2.10/32 -o lo -p udp -m udp --dport 40000 -j SNAT --to-source 10.0.0.1:30000",
                             "-A POSTROUTING -d 192.0.2.20/32 -o lo -p udp -m udp --dport 40004 -j SNAT --to-source 10.0.0.1:30014",
                             "-A PREROUTING -i lo -p udp -m udp --dport 30000 -j DNAT --to-destination 192.0.2.20:40004",
                             "-A PREROUTING -i lo -p udp -m udp --dport 30014 -j DNAT --to-destination 192.0.2.10:40000"})
        EXPECT_NE(rules.find(want), std::string::npos) << want << "\n" << rules;
    EXPECT_EQ(std::count(rules.begin(), rules.end(), '\n'), 4) << rules;
    stop_udp_proxy_thread(a);
    EXPECT_EQ(nat_rules(), "");
    gp->experimental_options->eo_allow_transparent_bridging = 0;
    a->callinfo = b->callinfo = 0;
}

TEST_F(Passthrough, OwnAddressesAndTransparentPeers)
{
    snprintf(gp->netconf.host_ip_lan, sizeof gp->netconf.host_ip_lan, "10.0.0.1");
    gp->sip_stack_size = 2;
    gp->sip_stacks[0].active = 1;
    snprintf(gp->sip_stacks[0].ip, sizeof gp->sip_stacks[0].ip, "198.51.100.1");
    gp->sip_stacks[1].active = 0;
    snprintf(gp->sip_stacks[1].ip, sizeof gp->sip_stacks[1].ip, "198.51.100.2");
    struct ours {
        const char *ip;
        int want;
    };
    for (const ours &c : {ours{"127.0.0.1", 1}, ours{"10.0.0.1", 1}, ours{"198.51.100.1", 1}, ours{"198.51.100.2", 0},
                          ours{"", 0}, ours{"192.0.2.1", 0}})
        EXPECT_EQ(udp_proxy_ip_is_ours(c.ip), c.want) << c.ip;
    EXPECT_EQ(udp_proxy_ip_is_ours(nullptr), 0);

    // Two calls whose legs point at each other's ports on this gateway.
    call_object *a = call(0, 30000, 40000, 30002, 30012);
    call_object *b = call(1, 30010, 40010, 30012, 30002);
    call_object *peer_call = nullptr;
    call_leg_sip *peer_leg = nullptr;
    EXPECT_EQ(udp_proxy_find_transparent_peer(a, a->cl_sip_out, &peer_call, &peer_leg), 0); // option off
    gp->experimental_options->eo_allow_transparent_bridging = 1;
    EXPECT_EQ(udp_proxy_find_transparent_peer(a, a->cl_sip_out, &peer_call, &peer_leg), 1);
    EXPECT_EQ(peer_call, b);
    EXPECT_EQ(peer_leg, b->cl_sip_out);
    EXPECT_EQ(udp_proxy_find_transparent_peer(a, a->cl_sip_in, &peer_call, &peer_leg), 0);
    gp->experimental_options->eo_allow_transparent_bridging = 0;
    a->callinfo = b->callinfo = 0;
}

} // namespace
