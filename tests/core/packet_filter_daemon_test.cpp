// The daemon's start-up commands to the packet filter, in the whole-daemon
// world: through the spool directory of mode 5, and applied in process.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

std::vector<std::string> spooled(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PacketFilterDaemon, SpoolModeHandsTheCommandsOver)
{
    e2e_world w;
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options = syscall_mode=5\n");
    std::string spool = w.root.path("tmp/tarn.syscallmode5");
    ASSERT_EQ(mkdir(spool.c_str(), 0755), 0);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    std::vector<std::string> names = spooled(spool);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], "00001.do");
    EXPECT_EQ(read_text_file(spool + "/" + names[0]), "iptables -F configured_sip_peers\n");
    EXPECT_EQ(read_text_file(spool + "/" + names[1]), "iptables -t nat -F\n");
    EXPECT_EQ(read_text_file(spool + "/" + names[2]), "echo 1 > /proc/sys/net/ipv4/ip_forward\n");
    for (const std::string &n : names)
        EXPECT_EQ(n.size(), 8u) << n << ": only ready names";
}

TEST(PacketFilterDaemon, StartUpEmptiesThePeerChainAndTheNatTable)
{
    e2e_world w;
    E2E_REQUIRE(w);
    // configured_sip_peers belongs to the board's firewall.
    process_result r = w.ns.run({"sh", "-c",
                                 "iptables-legacy -N configured_sip_peers && "
                                 "iptables-legacy -A configured_sip_peers -s 192.0.2.1 -j ACCEPT && "
                                 "iptables-legacy -t nat -A POSTROUTING -o eth1 -j MASQUERADE && "
                                 "echo 0 > /proc/sys/net/ipv4/ip_forward"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    r = w.ns.run({"sh", "-c",
                  "cat /proc/sys/net/ipv4/ip_forward; iptables-legacy-save -t filter | grep '^-A'; "
                  "iptables-legacy-save -t nat | grep -c '^-A'"});
    EXPECT_EQ(r.out, "1\n0\n") << r.err;
}

TEST(PacketFilterDaemon, LanStackGetsItsMulticastAndRtpRules)
{
    e2e_options o;
    o.ifaces.push_back({"eth0", "10.0.1.5/24"});
    e2e_world w(o);
    E2E_REQUIRE(w);
    // The default list and two entries that never reach a command.
    w.root.write("usr/conf/tarn.conf", "[general]\nmulticast_addresses = 224.0.0.251:5353,224.0.0.18,"
                                       "224.0.1.75:5060,239.1.1.1,224.0.0.1\\;touch x\n");
    // 5000-6398 is wide enough for a T.38 pool: its top 257 ports.
    w.root.write("usr/conf/tarn.sip", w.root.default_sip() +
                                          "stack_active_lan = 1\ninterface_name_lan = eth0\n"
                                          "rtpports_lan = 5000-5999,6000-6398\n");
    ASSERT_EQ(w.ns.run({"sh", "-c", "echo 0 > /proc/sys/net/ipv4/ip_forward"}).status, 0);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    std::string err = w.tarn_err();
    EXPECT_NE(err.find("init_iptables: ignoring invalid multicast address 239.1.1.1\n"), std::string::npos) << err;
    EXPECT_NE(err.find("init_iptables: ignoring invalid multicast address 224.0.0.1;touch x\n"), std::string::npos);
    process_result r = w.ns.run({"sh", "-c",
                                 "cat /proc/sys/net/ipv4/ip_forward; "
                                 "(iptables-legacy-save -t filter; iptables-legacy-save -t nat) | grep '^-A'"});
    EXPECT_EQ(r.out, "1\n"
                     "-A INPUT -i eth0 -p udp -m udp --dport 6142:6398 -j DROP\n"
                     "-A PREROUTING -i eth0 -p udp -m udp --dport 6142:6398 -j ACCEPT\n"
                     "-A PREROUTING -d 224.0.0.251/32 -i eth0 -p udp -m udp --dport 5353 -j ACCEPT\n"
                     "-A PREROUTING -d 224.0.0.18/32 -i eth0 -j ACCEPT\n"
                     "-A PREROUTING -d 224.0.1.75/32 -i eth0 -p udp -m udp --dport 5060 -j ACCEPT\n"
                     "-A PREROUTING -i eth0 -p udp -m udp --dport 5000:5999 -j DNAT --to-destination 10.0.0.2\n"
                     "-A PREROUTING -i eth0 -p udp -m udp --dport 6000:6141 -j DNAT --to-destination 10.0.0.2\n"
                     "-A OUTPUT -d 224.0.1.75/32 -p udp -m udp --dport 5060 -j ACCEPT\n"
                     "-A OUTPUT -d 224.0.0.18/32 -j ACCEPT\n"
                     "-A OUTPUT -d 224.0.0.251/32 -p udp -m udp --dport 5353 -j ACCEPT\n"
                     "-A OUTPUT -d 10.0.1.5/32 -p udp -m udp --dport 5000:5999 -j DNAT --to-destination 10.0.0.2\n"
                     "-A OUTPUT -s 10.0.1.5/32 -p udp -m udp --sport 6142:6398 -j ACCEPT\n"
                     "-A OUTPUT -d 10.0.1.5/32 -p udp -m udp --dport 6000:6141 -j DNAT --to-destination 10.0.0.2\n"
                     "-A POSTROUTING -o eth0 -j MASQUERADE\n"
                     "-A POSTROUTING -o eth0 -j MASQUERADE\n"
                     "-A POSTROUTING -o eth0 -j MASQUERADE\n")
        << r.err;
}

} // namespace
