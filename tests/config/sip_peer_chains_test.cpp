// Per-SIP-peer chains against the real packet filter: the binary runs in a
// private mount and network namespace, commands in the default in-process
// mode. configured_sip_peers is the board firewall's; the test makes it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "application.h"
#include "debug_lines.h"
#include "experimental_options.h"
#include "log.h"
#include "private_netns.h"
#include "sip_peer_chains.h"

namespace {

std::string why_not;
const bool isolated = enter_private_mounts(&why_not) && enter_private_network(&why_not);


std::string saved_filter()
{
    return run_process({"sh", "-c", "iptables-legacy-save -t filter | grep '^-A'"}).out;
}

// The groups the SIP port groups would hand in.
std::vector<pg_chain_group> groups;
void visit_groups(pg_chain_visit visit, void *ctx)
{
    for (const pg_chain_group &g : groups)
        visit(&g, ctx);
}

const char *const two[] = {"192.0.2.10", "192.0.2.11"};
const char *const one[] = {"192.0.2.10"};

class Chains : public ::testing::Test {
protected:
    std::unique_ptr<debug_lines> rec;
    std::vector<std::string> commands() const { return commands_in(*rec); }
    std::vector<std::string> lines() const { return other_lines_in(*rec); }
    void SetUp() override
    {
        if (!isolated)
            GTEST_SKIP() << why_not;
        if (system("iptables-legacy -F && iptables-legacy -X && iptables-legacy -N configured_sip_peers") != 0)
            GTEST_SKIP() << "iptables-legacy cannot run here";
        application_create();
        init_locks();
        _parse_experimental_options("");
        snprintf(gp->netconf.host_ifname_lan, sizeof gp->netconf.host_ifname_lan, "eth1");
        snprintf(gp->netconf.host_ifname_wan, sizeof gp->netconf.host_ifname_wan, "eth2");
        snprintf(gp->statusport, sizeof gp->statusport, "5060");
        pg_remove_all_iptables_rules();
        rec = std::make_unique<debug_lines>(std::initializer_list<int>{TARN});
        groups.clear();
        pg_for_each_sip_peer_group = visit_groups;
    }
    void TearDown() override
    {
        if (gp)
            pg_remove_all_iptables_rules();
        rec.reset();
        pg_for_each_sip_peer_group = nullptr;
    }
    std::string listing()
    {
        char *buf = nullptr;
        size_t size = 0;
        FILE *f = open_memstream(&buf, &size);
        pg_iptables_list(f);
        fclose(f);
        std::string s(buf, size);
        free(buf);
        return s;
    }
};

TEST_F(Chains, TwoAddressesGetTheirAcceptRulesOnce)
{
    pg_chain_group g{"peers", "lan", two, 2, 1};
    EXPECT_EQ(pg_update_iptables_rules(&g), 2);
    EXPECT_EQ(commands(), (std::vector<std::string>{
                            "iptables -N csp__peers",
                            "iptables -F csp__peers",
                            "iptables -A configured_sip_peers -j csp__peers",
                            "iptables -i eth1 -A csp__peers  -p tcp --dport 1024:5059 -s 192.0.2.10 -j ACCEPT",
                            "iptables -i eth1 -A csp__peers  -p tcp --dport 5061:65535 -s 192.0.2.10 -j ACCEPT",
                            "iptables  -i eth1 -A csp__peers -p udp -s 192.0.2.10 -j ACCEPT",
                            "iptables -i eth1 -A csp__peers  -p tcp --dport 1024:5059 -s 192.0.2.11 -j ACCEPT",
                            "iptables -i eth1 -A csp__peers  -p tcp --dport 5061:65535 -s 192.0.2.11 -j ACCEPT",
                            "iptables  -i eth1 -A csp__peers -p udp -s 192.0.2.11 -j ACCEPT",
                        }));
    EXPECT_EQ(saved_filter(), "-A configured_sip_peers -j csp__peers\n"
                              "-A csp__peers -s 192.0.2.10/32 -i eth1 -p tcp -m tcp --dport 1024:5059 -j ACCEPT\n"
                              "-A csp__peers -s 192.0.2.10/32 -i eth1 -p tcp -m tcp --dport 5061:65535 -j ACCEPT\n"
                              "-A csp__peers -s 192.0.2.10/32 -i eth1 -p udp -j ACCEPT\n"
                              "-A csp__peers -s 192.0.2.11/32 -i eth1 -p tcp -m tcp --dport 1024:5059 -j ACCEPT\n"
                              "-A csp__peers -s 192.0.2.11/32 -i eth1 -p tcp -m tcp --dport 5061:65535 -j ACCEPT\n"
                              "-A csp__peers -s 192.0.2.11/32 -i eth1 -p udp -j ACCEPT\n");
    EXPECT_EQ(lines(), std::vector<std::string>{"Added 2 iptables rules for port group: peers"});

    rec->clear();
    EXPECT_EQ(pg_update_iptables_rules(&g), 0);
    EXPECT_TRUE(commands().empty()) << "a second update issues nothing";
    EXPECT_EQ(listing(), "Chains (1 in total)\n00: peers\n\nRules (2 in total)\n"
                         "00: peers ip |192.0.2.10| tp 1\n01: peers ip |192.0.2.11| tp 1\n");
}

TEST_F(Chains, StackInterfaceStatusPortAndNames)
{
    // WAN stacks use the WAN interface; no stack is "default" on the LAN one.
    pg_chain_group wan{"w", "wan_tls_5071", one, 1, 4};
    pg_chain_group none{"n", nullptr, one, 1, 2};
    gp->statusport[0] = '\0';
    pg_update_iptables_rules(&wan);
    pg_update_iptables_rules(&none);
    EXPECT_EQ(commands()[3], "iptables -i eth2 -A csp__w  -p tcp --dport 1024:54321 -s 192.0.2.10 -j ACCEPT");
    EXPECT_EQ(commands()[4], "iptables -i eth2 -A csp__w  -p tcp --dport 54323:65535 -s 192.0.2.10 -j ACCEPT");
    EXPECT_EQ(commands()[9], "iptables -i eth1 -A csp__n  -p tcp --dport 1024:54321 -s 192.0.2.10 -j ACCEPT");
    // TLS alone is kept as TCP: a TCP group of the same chain, stack and
    // address has the rule already.
    EXPECT_EQ(pg_iptables_has_rule("wan_tls_5071", "w", "192.0.2.10", 2), 1);
    EXPECT_EQ(pg_iptables_has_rule("default", "n", "192.0.2.10", 4), 1);
    EXPECT_EQ(pg_iptables_has_rule("default", "n", "192.0.2.10", 1), 0);

    // 30 characters: 23 of them make the suffix, the rest of a shared
    // beginning shares the chain; characters a shell would read are '_'.
    rec->clear();
    pg_chain_group long1{"abcdefghijklmnopqrstuvwxyz0123", "lan", one, 1, 1};
    pg_chain_group long2{"abcdefghijklmnopqrstuvwXXXXXXX", "lan", one, 1, 1};
    pg_chain_group odd{"a b;c$(d)", "lan", one, 1, 1};
    pg_update_iptables_rules(&long1);
    pg_update_iptables_rules(&long2);
    pg_update_iptables_rules(&odd);
    EXPECT_EQ(commands()[0], "iptables -N csp__abcdefghijklmnopqrstuvw");
    EXPECT_EQ(commands().size(), 3u + 3u + 3u + 3u) << "the second long name adds no chain and no rule";
    EXPECT_EQ(commands()[6], "iptables -N csp__a_b_c__d_");
    std::string saved = saved_filter();
    EXPECT_NE(saved.find("-A configured_sip_peers -j csp__abcdefghijklmnopqrstuvw\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("-A csp__a_b_c__d_ -s 192.0.2.10/32 -i eth1 -p udp -j ACCEPT\n"), std::string::npos);

    // An address that is no IPv4 literal never reaches a command.
    rec->clear();
    const char *const bad[] = {"192.0.2.1;touch /tmp/x", "peer.example"};
    pg_chain_group g{"bad", "lan", bad, 2, 1};
    EXPECT_EQ(pg_update_iptables_rules(&g), 0);
    EXPECT_EQ(commands().size(), 3u);
    EXPECT_EQ(access("/tmp/x", F_OK), -1);

    // A status port at an end of the range leaves out the TCP range that
    // would be empty (1024:1023, 65536:65535).
    rec->clear();
    snprintf(gp->statusport, sizeof gp->statusport, "1024");
    pg_chain_group edge{"edge", "lan", one, 1, 1};
    pg_update_iptables_rules(&edge);
    EXPECT_EQ(commands(), (std::vector<std::string>{
                            "iptables -N csp__edge", "iptables -F csp__edge",
                            "iptables -A configured_sip_peers -j csp__edge",
                            "iptables -i eth1 -A csp__edge  -p tcp --dport 1025:65535 -s 192.0.2.10 -j ACCEPT",
                            "iptables  -i eth1 -A csp__edge -p udp -s 192.0.2.10 -j ACCEPT"}));
}

TEST_F(Chains, UpdatingAllRemovesTheChainsOfGoneGroupsWhenAsked)
{
    groups = {{"keep", "lan", one, 1, 1}, {"gone", "lan", two, 2, 1}};
    pg_update_all_iptables_rules();
    groups.pop_back();
    rec->clear();
    pg_update_all_iptables_rules();
    EXPECT_TRUE(commands().empty()) << "without iptables_delete the chain stays";
    EXPECT_EQ(pg_iptables_has_chain("gone"), 1);

    gp->experimental_options->eo_iptables_delete = 1;
    rec->clear();
    pg_update_all_iptables_rules();
    EXPECT_EQ(commands(), (std::vector<std::string>{"iptables -F csp__gone",
                                                  "iptables -D configured_sip_peers -j csp__gone",
                                                  "iptables -X csp__gone"}));
    EXPECT_EQ(lines(), std::vector<std::string>{"deleted 1 chains and 2 rules"});
    EXPECT_EQ(listing(), "Chains (1 in total)\n00: keep\n\nRules (1 in total)\n00: keep ip |192.0.2.10| tp 1\n");
    EXPECT_EQ(saved_filter(), "-A configured_sip_peers -j csp__keep\n"
                              "-A csp__keep -s 192.0.2.10/32 -i eth1 -p tcp -m tcp --dport 1024:5059 -j ACCEPT\n"
                              "-A csp__keep -s 192.0.2.10/32 -i eth1 -p tcp -m tcp --dport 5061:65535 -j ACCEPT\n"
                              "-A csp__keep -s 192.0.2.10/32 -i eth1 -p udp -j ACCEPT\n");

    // Forgetting everything empties the parent chain and keeps the chains.
    rec->clear();
    pg_remove_all_iptables_rules();
    EXPECT_EQ(commands(), std::vector<std::string>{"iptables -F configured_sip_peers"});
    EXPECT_EQ(listing(), "Chains (0 in total)\n\nRules (0 in total)\n");
    EXPECT_EQ(saved_filter().find("-A configured_sip_peers"), std::string::npos);
    gp->experimental_options->eo_iptables_delete = 0;
}

TEST_F(Chains, WithoutTheSipPeerGroupsNothingHappens)
{
    pg_for_each_sip_peer_group = nullptr;
    pg_update_all_iptables_rules();
    pg_update_all_iptables_rules();
    EXPECT_TRUE(commands().empty());
    EXPECT_LE(lines().size(), 1u) << "said once at most";
}

TEST_F(Chains, FullTables)
{
    char name[16];
    for (int i = 0; i < IPTABLES_MAX_CHAINS; i++) {
        snprintf(name, sizeof name, "c%i", i);
        ASSERT_EQ(pg_iptables_add_chain(name), 0);
    }
    EXPECT_EQ(pg_iptables_add_chain("one_more"), -1);
    EXPECT_EQ(lines().back(), "Cannot add iptables chain |one_more|: Not more than 128 chains allowed!");
    char ip[16];
    for (int i = 0; i < IPTABLES_MAX_RULES; i++) {
        snprintf(ip, sizeof ip, "10.0.%i.%i", i / 256, i % 256);
        ASSERT_EQ(pg_iptables_add_rule("lan", "c0", ip, 1), 0);
    }
    EXPECT_EQ(pg_iptables_add_rule("lan", "c0", "10.0.0.0", 1), -1) << "full even for a known rule";
    EXPECT_EQ(lines().back(), "Cannot add iptables rule for |10.0.0.0| to chain |c0|: Not more than 512 rules allowed!");
    EXPECT_EQ(pg_iptables_has_rule("lan", "c0", "10.0.1.255", 1), 1);
}

} // namespace
