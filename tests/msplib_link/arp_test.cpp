// Next-hop MAC discovery: reading the routes, telling the awaited ARP reply
// from other packets, and a real look-up across a veth pair in a private
// network namespace.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if_arp.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "arp.h"
#include "run_process.h"

namespace {

const char *const header =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

std::string route_line(const char *iface, const char *dest, const char *gw, const char *mask)
{
    return std::string(iface) + "\t" + dest + "\t" + gw + "\t0003\t0\t0\t0\t" + mask + "\t0\t0\t0\n";
}

class Routes : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/routes.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    int load(const std::string &text)
    {
        std::string path = dir_ + "/route";
        std::ofstream(path) << text;
        testing::internal::CaptureStderr();
        int r = read_route_list(path.c_str());
        err_ = testing::internal::GetCapturedStderr();
        return r;
    }
    static uint32_t ip(const char *text)
    {
        in_addr a;
        inet_pton(AF_INET, text, &a);
        return a.s_addr;
    }
    std::string dir_, err_;
};

TEST_F(Routes, TheTableIsReadAsTheKernelPrintsIt)
{
    // 192.168.1.0/24 on eth0, default via 192.168.1.254.
    ASSERT_EQ(load(std::string(header) + route_line("eth0", "0001A8C0", "00000000", "00FFFFFF") +
                   route_line("eth0", "00000000", "FE01A8C0", "00000000")),
              0);
    ASSERT_EQ(routes.count, 2);
    EXPECT_STREQ(routes.routes[0].iface, "eth0");
    EXPECT_EQ(routes.routes[0].destination_net, ip("192.168.1.0"));
    EXPECT_EQ(routes.routes[0].net_mask, ip("255.255.255.0"));
    EXPECT_EQ(routes.routes[1].gateway, ip("192.168.1.254"));
    EXPECT_EQ(route_for(ip("192.168.1.77")), &routes.routes[0]);
    EXPECT_EQ(route_for(ip("8.8.8.8")), &routes.routes[1]);
    EXPECT_TRUE(err_.empty());
}

TEST_F(Routes, AtMostTwentyRoutes)
{
    for (int lines : {19, 20, 25}) {
        std::string text = header;
        for (int i = 0; i < lines; i++) {
            char dest[16];
            snprintf(dest, sizeof dest, "00%02X000A", i);
            text += route_line("eth1", dest, "00000000", "00FFFFFF");
        }
        ASSERT_EQ(load(text), 0) << lines;
        EXPECT_EQ(routes.count, lines < 20 ? lines : 20) << lines;
        size_t warned = err_.find("not allowing more than 20 route entries, ignoring the rest\n");
        EXPECT_EQ(warned != std::string::npos, lines >= 20) << lines;
        EXPECT_EQ(err_.rfind("not allowing"), warned) << "once";
    }
}

TEST_F(Routes, FirstMatchInTableOrderAndBadLines)
{
    // The kernel lists the default route first; a more specific route
    // still wins, and of equal ones the first.
    ASSERT_EQ(load(std::string(header) + route_line("eth9", "00000000", "0100000A", "00000000") +
                   route_line("eth0", "0001A8C0", "00000000", "00FFFFFF") +
                   route_line("eth3", "0001A8C0", "00000000", "00FFFFFF") +
                   route_line("eth4", "0000A8C0", "00000000", "0000FFFF")),
              0);
    EXPECT_STREQ(route_for(ip("192.168.1.5"))->iface, "eth0");
    EXPECT_STREQ(route_for(ip("192.168.2.5"))->iface, "eth4");
    EXPECT_STREQ(route_for(ip("10.0.0.5"))->iface, "eth9");

    // Lines the look-up cannot use are passed over; a line longer than the
    // reader's buffer is one line.
    std::string longline = "eth0 " + std::string(700, 'x') + "\n";
    ASSERT_EQ(load(std::string(header) + "eth0\t0001A8C0\n" + longline +
                   route_line("eth0", "ZZ", "00000000", "00FFFFFF") +
                   route_line("eth2", "0001A8C0", "00000000", "00FFFFFF")),
              0);
    ASSERT_EQ(routes.count, 1);
    EXPECT_STREQ(routes.routes[0].iface, "eth2");

    // Without a route the look-up fails at once, with an unset MAC.
    ASSERT_EQ(load(std::string(header) + route_line("eth2", "0001A8C0", "00000000", "00FFFFFF")), 0);
    uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(get_target_mac(ip("10.1.2.3"), mac, 100000), -1);
    EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6), std::vector<uint8_t>(6, 0));

    EXPECT_EQ(load(""), -1);
    EXPECT_EQ(read_route_list((dir_ + "/missing").c_str()), -1);
}

// ---------------------------------------------------------------------------

TEST(ArpReply, OnlyTheAwaitedReplyEndsTheWait)
{
    const uint8_t own_mac[6] = {0x02, 0, 0, 0, 0, 0x01};
    const uint8_t hop_mac[6] = {0x02, 0, 0, 0, 0, 0x02};
    arp_current = arp_lookup{};
    inet_pton(AF_INET, "10.0.0.1", &arp_current.own_ip);
    inet_pton(AF_INET, "10.0.0.2", &arp_current.next_hop);
    arp_current.own_ll.sll_hatype = ARPHRD_ETHER;
    arp_current.own_ll.sll_halen = 6;
    memcpy(arp_current.own_ll.sll_addr, own_mac, 6);

    auto packet = [&](uint16_t op, const char *spa, const char *tpa, const uint8_t *tha) {
        std::vector<uint8_t> p = {0x00, 0x01, 0x08, 0x00, 6, 4, (uint8_t)(op >> 8), (uint8_t)op};
        p.insert(p.end(), hop_mac, hop_mac + 6);
        in_addr a;
        inet_pton(AF_INET, spa, &a);
        p.insert(p.end(), (uint8_t *)&a, (uint8_t *)&a + 4);
        p.insert(p.end(), tha, tha + 6);
        inet_pton(AF_INET, tpa, &a);
        p.insert(p.end(), (uint8_t *)&a, (uint8_t *)&a + 4);
        return p;
    };
    const uint8_t zero[6] = {};
    std::vector<uint8_t> short_packet = packet(2, "10.0.0.2", "10.0.0.1", own_mac);
    short_packet.resize(27);
    struct row {
        const char *what;
        std::vector<uint8_t> p;
        unsigned char pkttype;
        int result;
    } rows[] = {
        {"the reply", packet(2, "10.0.0.2", "10.0.0.1", own_mac), PACKET_HOST, 1},
        {"a request of the next hop for us", packet(1, "10.0.0.2", "10.0.0.1", own_mac), PACKET_BROADCAST, 1},
        {"another host's reply", packet(2, "10.0.0.3", "10.0.0.1", own_mac), PACKET_HOST, 0},
        {"a gratuitous announcement", packet(1, "10.0.0.2", "10.0.0.2", zero), PACKET_BROADCAST, 0},
        {"for another address of ours", packet(2, "10.0.0.2", "10.0.0.9", own_mac), PACKET_HOST, 0},
        {"seen for another host", packet(2, "10.0.0.2", "10.0.0.1", own_mac), PACKET_OTHERHOST, 0},
        {"sent by us", packet(2, "10.0.0.2", "10.0.0.1", own_mac), PACKET_OUTGOING, 0},
        {"an unknown operation", packet(3, "10.0.0.2", "10.0.0.1", own_mac), PACKET_HOST, 0},
        {"cut short", short_packet, PACKET_HOST, 0},
    };
    for (const row &r : rows) {
        sockaddr_ll from = {};
        from.sll_pkttype = r.pkttype;
        uint8_t out[6] = {};
        EXPECT_EQ(arp_receive_packet(r.p.data(), (int)r.p.size(), &from, out), r.result) << r.what;
        if (r.result) {
            EXPECT_EQ(memcmp(out, hop_mac, 6), 0) << r.what;
        }
    }
    // A reply that is not IPv4 over Ethernet.
    std::vector<uint8_t> p = packet(2, "10.0.0.2", "10.0.0.1", own_mac);
    sockaddr_ll from = {};
    from.sll_pkttype = PACKET_HOST;
    p[2] = 0x86; // protocol
    EXPECT_EQ(arp_receive_packet(p.data(), (int)p.size(), &from, nullptr), 0);
    p = packet(2, "10.0.0.2", "10.0.0.1", own_mac);
    p[1] = 6; // hardware type IEEE 802
    EXPECT_EQ(arp_receive_packet(p.data(), (int)p.size(), &from, nullptr), 0);
}

// ---------------------------------------------------------------------------

std::string probe()
{
    return std::string(TARN_BINARY_DIR) + "/tests/msplib_link/arp_probe";
}

TEST(ArpNamespace, TheDiscoveredMacIsThePeersOwn)
{
    if (geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0 || access("/usr/sbin/ip", X_OK) != 0)
        GTEST_SKIP() << "needs root, unshare and ip";
    // Everything happens in a private network and mount namespace: a veth
    // pair whose far end lives in a second namespace ("peer").
    std::string script = R"SH(
set -e
mount -t tmpfs none /run
# the build tree may lie below /tmp: the probe moves to the private /run first
cp PROBEPATH /run/arp_probe
mount -t tmpfs none /tmp
ip link set lo up
ip netns add peer
ip link add v0 type veth peer name v1 netns peer
ip addr add 10.77.0.1/24 dev v0
ip -n peer addr add 10.77.0.2/24 dev v1
ip link set v0 up
ip -n peer link set v1 up
ip route add default via 10.77.0.2
ip route add 10.88.0.0/24 dev lo
for i in $(seq 50); do ip link show v0 | grep -q LOWER_UP && break; sleep 0.05; done
echo "peer $(ip -n peer -o link show v1 | sed 's/.*link\/ether \([0-9a-f:]*\).*/\1/')"
echo "direct $(PROBE 10.77.0.2)"
echo "gateway $(PROBE 192.0.2.55)"
echo "absent $(PROBE 10.77.0.9 2>&1 | tr '\n' ' ')"
echo "loopback $(PROBE 10.88.0.5 2>&1 | tr '\n' ' ')"
ip link set v0 arp off
echo "noarp $(PROBE 10.77.0.2 2>&1 | tr '\n' ' ')"
)SH";
    size_t at;
    while ((at = script.find("PROBEPATH")) != std::string::npos)
        script.replace(at, 9, probe());
    while ((at = script.find("PROBE")) != std::string::npos)
        script.replace(at, 5, "/run/arp_probe ");
    process_result r = run_process({"/usr/bin/unshare", "-n", "-m", "sh", "-c", script}, "", {}, 30);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::istringstream in(r.out);
    std::string line, peer;
    std::vector<std::string> lines;
    while (std::getline(in, line))
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 6u) << r.out << r.err;
    ASSERT_EQ(lines[0].rfind("peer ", 0), 0u);
    peer = lines[0].substr(5);
    ASSERT_EQ(peer.size(), 17u) << lines[0];
    EXPECT_EQ(lines[1], "direct mac " + peer);
    EXPECT_EQ(lines[2], "gateway mac " + peer);
    // Nobody answers: the wait ends, the MAC stays unset.
    EXPECT_EQ(lines[3], "absent arp request timeout fail 00:00:00:00:00:00 ");
    // Interfaces without ARP are refused before anything is sent.
    EXPECT_EQ(lines[4], "loopback fail 00:00:00:00:00:00 ");
    EXPECT_EQ(lines[5], "noarp fail 00:00:00:00:00:00 ");
}

} // namespace
