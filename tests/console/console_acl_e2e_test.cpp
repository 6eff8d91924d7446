// The console's access-control and packet-filter commands against the
// running daemon in its own network namespace, over the status server: an
// OPTIONS flood blacklists its source with a DROP rule that "aclcb" takes
// away again, a simulated packet on the WAN stack, the whitelist test, and
// the NAT rule test and the port groups' rule refresh that leave the
// packet filter as they found it.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "console_e2e_util.h"
#include "sipp_case.h"

namespace {

// A table of the packet filter without comments and counters.
std::string saved_table(const e2e_world &w, const std::string &table)
{
    process_result r = w.ns.run({"iptables-legacy-save", "-t", table});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string out;
    size_t s = 0;
    while (s < r.out.size()) {
        size_t e = r.out.find('\n', s);
        if (e == std::string::npos)
            e = r.out.size();
        std::string line = r.out.substr(s, e - s);
        if (!line.empty() && line[0] != '#')
            out += std::regex_replace(line, std::regex(" \\[[0-9]+:[0-9]+\\]"), "") + "\n";
        s = e + 1;
    }
    return out;
}

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

TEST(ConsoleAclE2E, BlacklistWhitelistAndPacketFilter)
{
    e2e_options o = sipp_world_options();
    o.ifaces = {{"eth1", "10.0.0.1/24"}, {"eth2", "10.0.1.1/24"}};
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    sipp_write_config(w, "usr/conf/tarn.sip",
                      "[general]\nsip_bindport_localhost = @SIP_PORT@\nstack_active_lan = 1\n"
                      "interface_name_lan = eth1\nstack_active_wan = 1\ninterface_name_wan = eth2\n"
                      "[peer]\nsip_stack=lan\nsip_proxy=10.0.0.5\nuser=100\n");
    w.root.write("usr/conf/tarn.conf", "[general]\nblacklist_max_options_packets_lan = 2\n"
                                       "blacklist_options_timeframe_lan = 3600\n");
    w.root.write("usr/conf/tarn.whitelist", "192.168.5.0/24/LAN\n");
    ASSERT_EQ(w.ns.run({"ip", "addr", "add", "10.0.0.3/24", "dev", "eth1"}).status, 0);
    ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();
    ASSERT_TRUE(console_e2e_listening(w));

    // The port groups' chains as start-up wrote them: "rsi" rewrites them
    // alike; "tipt" inserts and deletes its four NAT rules.
    std::string filter = saved_table(w, "filter"), nat = saved_table(w, "nat");
    EXPECT_TRUE(has(filter, "-A csp__peer -s 10.0.0.5/32 -i eth1 -p udp -j ACCEPT\n")) << filter;
    EXPECT_EQ(console_e2e_ask(w, "rsi"), "\r\n");
    EXPECT_EQ(saved_table(w, "filter"), filter);
    std::string tipt = console_e2e_ask(w, "tipt");
    int lines = 0;
    for (size_t at = 0; (at = tipt.find("eth0.10 -p udp", at)) != std::string::npos; at++)
        lines++;
    EXPECT_EQ(lines, 8) << tipt;
    EXPECT_EQ(tipt.rfind("-I PREROUTING -i eth0.10 -p udp", 0), 0u) << tipt;
    EXPECT_TRUE(has(tipt, "\n-D POSTROUTING -o eth0.10 -p udp")) << tipt;
    EXPECT_EQ(saved_table(w, "nat"), nat);

    // An OPTIONS flood from 10.0.0.3 past the maximum of two.
    w.ns.run({"sipp", "-sf", std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip/options.xml", "-m", "5", "-r", "50",
              "-i", "10.0.0.3", "-p", "5896", "-timeout", "5s", "-nostdin", "10.0.0.1:5060"},
             "", {}, 30);
    std::string black;
    EXPECT_TRUE(e2e_world::wait_for(
        [&] {
            black = console_e2e_ask(w, "acllb");
            return has(black, " ip:10.0.0.3 stack:lan\n");
        },
        20000))
        << black;
    EXPECT_TRUE(has(black, "Listing Blacklisted IPs for stack lan (contained for 86400 seconds)\n")) << black;
    EXPECT_TRUE(has(saved_table(w, "filter"), "-A INPUT -s 10.0.0.3/32 -i eth1 -j DROP\n")) << saved_table(w, "filter");
    EXPECT_EQ(console_e2e_ask(w, "aclcb"), "unblocking all blacklisted IPs\nunblocking all blacklisted IPs\n\r\n");
    EXPECT_FALSE(has(saved_table(w, "filter"), "10.0.0.3")) << saved_table(w, "filter");
    EXPECT_FALSE(has(console_e2e_ask(w, "acllb"), "10.0.0.3"));

    // A simulated REGISTER on the WAN stack, then its call attempts.
    std::string wan = console_e2e_ask(w, "aclawan:register:1.2.3.4");
    EXPECT_EQ(wan.rfind("Simulating packet on stack |wan| type |register| ip |1.2.3.4|\n", 0), 0u) << wan;
    EXPECT_TRUE(has(wan, "wan:REGISTER")) << wan;

    // The whitelist of the LAN stack.
    EXPECT_EQ(console_e2e_ask(w, "aclt192.168.5.7"),
              "COMPARING |192.168.5.7| with 192.168.5.0 => 192.168.5.0/24 => MATCH\n\r\n");
    EXPECT_EQ(console_e2e_ask(w, "aclt192.168.6.7"),
              "COMPARING |192.168.6.7| with 192.168.5.0 => 192.168.5.0/24 => NOMATCH\n\r\n");
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

} // namespace
