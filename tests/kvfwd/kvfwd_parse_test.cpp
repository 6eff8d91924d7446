// The rule parser on its own: what each accepted shape becomes, and the
// message of each refused one. No kernel table is touched.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kvfwd.h"
#include "kvfwd_rule.h"

namespace {

std::string addr(in_addr a, in_addr m)
{
    char t[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, t, sizeof t);
    return std::string(t) + "/" + std::to_string(__builtin_popcount(m.s_addr));
}

// One line per parsed command, fields in a fixed order.
std::string describe(const kvfwd_rule &r)
{
    static const char cmds[] = " AIDFNX";
    std::string s(1, cmds[r.command]);
    s += " ";
    s += r.chain[0] ? r.chain : "*";
    if (r.command == KVFWD_CMD_INSERT)
        s += " " + std::to_string(r.rulenum);
    if (r.iniface[0])
        s += std::string(" i=") + r.iniface;
    if (r.outiface[0])
        s += std::string(" o=") + r.outiface;
    if (r.has_src)
        s += " s=" + addr(r.src, r.smsk);
    if (r.has_dst)
        s += " d=" + addr(r.dst, r.dmsk);
    if (r.proto)
        s += r.proto == IPPROTO_UDP ? " p=udp" : " p=tcp";
    if (r.has_sport)
        s += " sport=" + std::to_string(r.sport[0]) + ":" + std::to_string(r.sport[1]);
    if (r.has_dport)
        s += " dport=" + std::to_string(r.dport[0]) + ":" + std::to_string(r.dport[1]);
    static const char *const targets[] = {"", "ACCEPT", "DROP", "MASQUERADE", "DNAT", "chain ", "SNAT"};
    if (r.target)
        s += std::string(" j=") + targets[r.target] + r.jump;
    if (r.target == KVFWD_TARGET_DNAT || r.target == KVFWD_TARGET_SNAT) {
        in_addr all{0xFFFFFFFFu};
        s += " to=" + addr(r.dnat_to, all);
        if (r.has_nat_port)
            s += ":" + std::to_string(r.nat_port);
    }
    return s;
}

struct parsed {
    int rc;
    std::string text; // describe() or the message
};

parsed parse(const char *table, const char *command)
{
    std::string copy = command;
    std::vector<char *> argv{const_cast<char *>("iptables")};
    char *save = nullptr;
    for (char *w = strtok_r(copy.data(), " ", &save); w; w = strtok_r(nullptr, " ", &save))
        argv.push_back(w);
    argv.push_back(nullptr);
    kvfwd_rule r;
    char err[256];
    int rc = kvfwd_parse((int)argv.size() - 1, argv.data(), table, &r, err, sizeof err);
    return {rc, rc == 0 ? describe(r) : err};
}

struct accepted_case {
    const char *table, *command, *expected;
};

// Every shape the daemon issues, options in the orders it writes them.
const accepted_case accepted[] = {
    {"nat", "-F", "F *"},
    {"filter", "-F configured_sip_peers", "F configured_sip_peers"},
    {"filter", "-N csp__abcdefghijklmnopqrstuvw", "N csp__abcdefghijklmnopqrstuvw"},
    {"filter", "-X csp__peers", "X csp__peers"},
    {"filter", "-D INPUT -i eth1 -p udp --dport 6300:6398 -j DROP",
     "D INPUT i=eth1 p=udp dport=6300:6398 j=DROP"},
    {"filter", "-I INPUT 1 -i eth1 -p udp --dport 6300:6398 -j DROP",
     "I INPUT 1 i=eth1 p=udp dport=6300:6398 j=DROP"},
    {"filter", "-I INPUT -s 192.0.2.7 -i eth1 -j DROP", "I INPUT 1 i=eth1 s=192.0.2.7/32 j=DROP"},
    {"filter", "-I INPUT 3 -j DROP", "I INPUT 3 j=DROP"},
    {"nat", "-A PREROUTING -p udp --dport 5353 -i eth1 -j ACCEPT -d 224.0.0.251",
     "A PREROUTING i=eth1 d=224.0.0.251/32 p=udp dport=5353:5353 j=ACCEPT"},
    {"nat", "--insert OUTPUT -p udp --dport 5353 -j ACCEPT -d 224.0.0.251",
     "I OUTPUT 1 d=224.0.0.251/32 p=udp dport=5353:5353 j=ACCEPT"},
    {"nat", "--insert OUTPUT -j ACCEPT -d 224.0.0.18", "I OUTPUT 1 d=224.0.0.18/32 j=ACCEPT"},
    {"nat", "-A POSTROUTING -o eth1 -j MASQUERADE", "A POSTROUTING o=eth1 j=MASQUERADE"},
    {"nat", "-A PREROUTING -p udp --dport 6000:6299 -i eth1 -j DNAT --to 10.0.0.2",
     "A PREROUTING i=eth1 p=udp dport=6000:6299 j=DNAT to=10.0.0.2/32"},
    {"nat", "-A OUTPUT -s 10.0.0.1  -p udp --sport 6300:6398  -j ACCEPT",
     "A OUTPUT s=10.0.0.1/32 p=udp sport=6300:6398 j=ACCEPT"},
    {"nat", "-A OUTPUT -p udp --dport 6000:6299 -j DNAT -d 10.0.0.1  --to-destination 10.0.0.2",
     "A OUTPUT d=10.0.0.1/32 p=udp dport=6000:6299 j=DNAT to=10.0.0.2/32"},
    // the RTP passthrough's rules: the new address with a port
    {"nat", "-I PREROUTING -i eth1 -p udp --dport 30000 -j DNAT --to-destination 192.0.2.20:40002",
     "I PREROUTING 1 i=eth1 p=udp dport=30000:30000 j=DNAT to=192.0.2.20/32:40002"},
    {"nat", "-D POSTROUTING -o eth1 -p udp --dport 40000 -d 192.0.2.10 -j SNAT --to-source 10.0.0.1:30000",
     "D POSTROUTING o=eth1 d=192.0.2.10/32 p=udp dport=40000:40000 j=SNAT to=10.0.0.1/32:30000"},
    {"filter", "-i eth1 -A csp__peers  -p tcp --dport 1024:5059 -s 10.1.2.3/8 -j ACCEPT",
     "A csp__peers i=eth1 s=10.0.0.0/8 p=tcp dport=1024:5059 j=ACCEPT"},
    {"filter", " -i eth1 -A csp__peers -p udp -s 192.0.2.10 -j ACCEPT",
     "A csp__peers i=eth1 s=192.0.2.10/32 p=udp j=ACCEPT"},
    {"filter", "-A configured_sip_peers -j csp__peers", "A configured_sip_peers j=chain csp__peers"},
    {"filter", "-t filter -A INPUT -j DROP", "A INPUT j=DROP"},
};

TEST(KvfwdParse, EveryIssuedShapeParses)
{
    for (const accepted_case &c : accepted) {
        SCOPED_TRACE(c.command);
        parsed p = parse(c.table, c.command);
        EXPECT_EQ(p.rc, 0) << p.text;
        EXPECT_EQ(p.text, c.expected);
    }
}

struct refused_case {
    const char *command, *message;
};

const refused_case refused[] = {
    {"", "no command specified"},
    {"   ", "no command specified"},
    {"-A INPUT -p udp --dport 6000: -j DROP", "invalid port/service `6000:'"},
    {"-A INPUT -p udp --dport :6000 -j DROP", "invalid port/service"},
    {"-A INPUT -p udp --dport 6399:6000 -j DROP", "invalid port/service"},
    {"-A INPUT -p udp --dport 65536 -j DROP", "invalid port/service"},
    {"-A INPUT -p udp --dport 5060:5061:5062 -j DROP", "invalid port/service"},
    {"-A INPUT -j", "option \"-j\" requires an argument"},
    {"-A INPUT -i -p udp -j DROP", "invalid interface name `-p'"},
    {"-A INPUT -i eth0;touch -j DROP", "invalid interface name"},
    {"-A INPUT -i abcdefghijklmnop -j DROP", "invalid interface name"},
    {"-A INPUT --dport 5060 -p udp -j DROP", "unknown option \"--dport\""},
    {"-A INPUT -s 1.2.3 -j DROP", "not an IPv4 address"},
    {"-A INPUT -s 1.2.3.4/33 -j DROP", "not an IPv4 address"},
    {"-A INPUT -s 1.2.3.4/ -j DROP", "not an IPv4 address"},
    {"-A INPUT -s host.example -j DROP", "not an IPv4 address"},
    {"-A INPUT -j ACCEPT --to 1.2.3.4", "unknown option \"--to\""},
    {"-A PREROUTING -j DNAT", "you must specify --to-destination"},
    {"-A PREROUTING -j DNAT --to 10.0.0.2:0", "bad IP address"},
    {"-A PREROUTING -j DNAT --to 10.0.0.2:65536", "bad IP address"},
    {"-A PREROUTING -j DNAT --to 10.0.0.2:", "bad IP address"},
    {"-A PREROUTING -j DNAT --to :5060", "bad IP address"},
    {"-A PREROUTING -j DNAT --to-source 10.0.0.2", "unknown option \"--to-source\""},
    {"-A POSTROUTING -j SNAT", "you must specify --to-source"},
    {"-A POSTROUTING -j SNAT --to-source 10.0.0.2 -j", "multiple -j flags"},
    {"-A OUTPUT -i eth1 -j ACCEPT", "Can't use -i with OUTPUT"},
    {"-A INPUT -o eth1 -j ACCEPT", "Can't use -o with INPUT"},
    {"-F -i eth1", "illegal option with -F"},
    {"-A INPUT -A INPUT -j DROP", "multiple -A flags"},
    {"-A INPUT -I INPUT -j DROP", "cannot use -I with -A"},
    {"-t nat -A INPUT -j DROP", "table `nat' given"},
    {"-N ACCEPT", "clash with target name"},
    {"-A INPUT -p icmp -j DROP", "unknown protocol"},
    {"-A INPUT ! -s 1.2.3.4 -j DROP", "inverted matches"},
    {"-A INPUT -s 1.2.3.4", "no target given"},
    {"-X", "-X needs a chain name"},
    {"-A this_chain_name_is_much_too_long -j DROP", "invalid chain name"},
    {"-I INPUT 0 -j DROP", "invalid rule number"},
    {"-A INPUT -j RETURN", "unknown target"},
    {"-A INPUT -j DROP extra", "unknown argument `extra'"},
};

TEST(KvfwdParse, RefusedCommandsSayWhy)
{
    for (const refused_case &c : refused) {
        SCOPED_TRACE(c.command);
        parsed p = parse("filter", c.command);
        EXPECT_EQ(p.rc, -1) << p.text;
        EXPECT_NE(p.text.find(c.message), std::string::npos) << p.text;
    }
}

TEST(KvfwdArgv, HoldsAtMost254Entries)
{
    kvfwd_free_argv();
    EXPECT_EQ(kvfwd_add_argv(nullptr), 0);
    for (int i = 0; i < KVFWD_MAX_ARGS; i++)
        ASSERT_EQ(kvfwd_add_argv("w"), 1) << i;
    EXPECT_EQ(kvfwd_add_argv("w"), 0);
    EXPECT_EQ(newargc, KVFWD_MAX_ARGS);
    EXPECT_EQ(newargv[KVFWD_MAX_ARGS], nullptr);
    kvfwd_free_argv();
    EXPECT_EQ(newargc, 0);
    EXPECT_EQ(newargv[0], nullptr);
}

} // namespace
