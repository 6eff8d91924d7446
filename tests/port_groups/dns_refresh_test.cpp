// The DNS refresh of the SIP peers against a private dnsmasq whose hosts
// file the test rewrites; the binary runs in a private mount and network
// namespace, so the per-peer chains go into a packet filter of its own.
// Then the SRV target choice as a table over record sets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "application.h"
#include "confman.h"
#include "config_text.h"
#include "debug_lines.h"
#include "dns_cache.h"
#include "dns_refresh.h"
#include "dnsmasq_runner.h"
#include "experimental_options.h"
#include "housekeeping.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "private_netns.h"
#include "reg_object.h"
#include "registrations.h"
#include "run_process.h"
#include "sip_peer_chains.h"
#include "schema.h"
#include "sip_groups_fixture.h"

namespace {

std::string why_not;
const bool isolated = enter_private_mounts(&why_not) && enter_private_network(&why_not);

std::vector<std::pair<void *, int>> tasks;
int record_task(call_object *co, int event)
{
    tasks.push_back({co, event});
    return 0;
}

class DnsRefresh : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!isolated)
            GTEST_SKIP() << why_not;
        char tmpl[] = "/tmp/tarn-dnsrefresh-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir = tmpl;
        hosts = dir + "/hosts";
        write_hosts("10.1.1.1 apeer.test\n");
        server = std::make_unique<dnsmasq_runner>(std::vector<std::string>{"--addn-hosts=" + hosts});
        ASSERT_TRUE(server->ok()) << "dnsmasq did not start";
        server->export_env();
        if (system("iptables-legacy -F && iptables-legacy -X && iptables-legacy -N configured_sip_peers") != 0)
            GTEST_SKIP() << "iptables-legacy cannot run here";
        setenv("TARN_ROOT", dir.c_str(), 1);
        if (!gp) {
            application_create();
            init_locks();
            cm_init();
        }
        _parse_experimental_options("");
        init_default_call_configuration();
        dns_cache_clear();
        sip_groups_test_stacks();
        snprintf(gp->netconf.host_ip_lan, sizeof gp->netconf.host_ip_lan, "10.0.0.5");
        snprintf(gp->netconf.host_ifname_lan, sizeof gp->netconf.host_ifname_lan, "eth1");
        snprintf(gp->statusport, sizeof gp->statusport, "54322");
        pg_init_sip_port_group_local();
        housekeeping_hooks h{};
        h.add_sm_task = record_task;
        housekeeping_set_hooks(&h);
        tasks.clear();
    }
    void TearDown() override
    {
        if (!isolated)
            return;
        if (gp->registrations) {
            delete gp->registrations[0];
            delete[] gp->registrations;
            gp->registrations = nullptr;
            REGISTRATIONARRAYSIZE = 0;
        }
        pg_remove_all_iptables_rules();
        pg_free_all_sip_port_groups();
        if (gp->config_sip) {
            cm_destroy(gp->config_sip);
            gp->config_sip = nullptr;
        }
        housekeeping_reset_hooks();
        unsetenv("TARN_ROOT");
        server.reset();
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str())) {
        }
    }
    void write_hosts(const std::string &text)
    {
        std::ofstream f(hosts, std::ios::trunc);
        f << text;
    }
    // New hosts; waits (bounded) until dnsmasq answers with first.
    void change_hosts(const std::string &text, const std::string &first)
    {
        write_hosts(text);
        server->reload();
        for (int i = 0; i < 200; i++) {
            char pattern[256] = "";
            if (dns_cache_a_record *r = _dns_cache_resolve_to_a_record("apeer.test", pattern, sizeof pattern)) {
                bool now = r->address_count > 0 && first == r->addresses[0];
                dns_cache_free_a_record(r);
                if (now)
                    return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        FAIL() << "dnsmasq did not take the new hosts file";
    }
    void build(const std::string &text)
    {
        if (gp->config_sip)
            cm_destroy(gp->config_sip);
        gp->config_sip = load_config_text(dir, "SIP", text);
        ASSERT_EQ(pg_init_sip_port_group_struct(), 0);
        ASSERT_GE(gp->port_groups->port_groups_sip_count, 1);
        // The group's registration (call control makes it; here by hand).
        REGISTRATIONARRAYSIZE = 1;
        gp->registrations = new reg_object *[1];
        gp->registrations[0] = new reg_object();
        gp->registrations[0]->pgs = group();
    }
    static port_group_sip *group() { return &gp->port_groups->port_groups_sip[0]; }
    std::vector<std::string> new_queries(size_t since) const
    {
        std::vector<std::string> q = server->queries();
        return std::vector<std::string>(q.begin() + (long)std::min(since, q.size()), q.end());
    }
    std::string dir, hosts;
    std::unique_ptr<dnsmasq_runner> server;
};

TEST_F(DnsRefresh, IntervalClamp)
{
    struct {
        const char *option;
        int interval;
    } cases[] = {{"dns_refresh_interval=0", 120}, {"dns_refresh_interval=100000", 120},
                 {"dns_refresh_interval=30", 30}, {"dns_refresh_interval=86400", 86400},
                 {"dns_refresh_interval=-5", 120}};
    for (auto &c : cases) {
        _parse_experimental_options(c.option);
        EXPECT_EQ(dns_refresh_interval(), c.interval) << c.option;
    }
}

TEST_F(DnsRefresh, PeerGivenByAddressesIsNeverLookedUp)
{
    build("[ippeer]\nsip_stack = lan\nsip_proxy = 10.9.9.9\nsip_registrar = 10.9.9.9\nregister = yes\nuser = u\n");
    size_t seen = server->queries().size();
    dns_refresh_cache();
    EXPECT_EQ(dns_refresh_sip_peers(), 0);
    EXPECT_TRUE(new_queries(seen).empty());
    EXPECT_TRUE(tasks.empty());
}

TEST_F(DnsRefresh, ARecordChangeKeepingTheAddressAndMovingIt)
{
    build("[apeer]\nsip_stack = lan\nsip_proxy = apeer.test\nsip_registrar = apeer.test\nregister = yes\nuser = u\n");
    ASSERT_STREQ(group()->pgs_sip_registrar_using_address_resolved, "10.1.1.1");
    debug_lines rec({TARN});

    // Nothing changed: nothing happens.
    dns_refresh_cache();
    EXPECT_EQ(dns_refresh_sip_peers(), 0);

    // A second address; the one in use stays listed.
    change_hosts("10.1.1.1 apeer.test\n10.1.1.5 apeer.test\n", "10.1.1.1");
    dns_refresh_cache();
    EXPECT_EQ(dns_refresh_sip_peers(), 1);
    EXPECT_TRUE(rec.has("A record change detected for |apeer.test| => No need to re-register\n"))
        << testing::PrintToString(rec.lines());
    EXPECT_TRUE(tasks.empty());
    EXPECT_STREQ(group()->pgs_sip_registrar_using_address_resolved, "10.1.1.1");

    // The address moves: the registration registers again with a new handle
    // and the peer's chain accepts the new address.
    change_hosts("10.1.1.7 apeer.test\n", "10.1.1.7");
    dns_refresh_cache();
    EXPECT_EQ(dns_refresh_sip_peers(), 1);
    EXPECT_TRUE(rec.has("A record change detected for |apeer.test| => Need to re-register\n"));
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].first, (void *)gp->registrations[0]);
    EXPECT_EQ(tasks[0].second, SM_REG_TASK_REG_REFRESH);
    EXPECT_EQ(tasks[0].second, 12349877);
    EXPECT_EQ(gp->registrations[0]->force_reregister_with_new_handle, 1);
    EXPECT_STREQ(group()->pgs_sip_registrar_using_address_resolved, "10.1.1.7");
    EXPECT_STREQ(group()->pgs_sip_registrar_using_address_resolved_old, "10.1.1.1");
    EXPECT_NE(std::string(group()->pgs_nutag_registrar_address_string).find("10.1.1.7"), std::string::npos);
    std::string rules = run_process({"sh", "-c", "iptables-legacy-save -t filter | grep '^-A csp__apeer'"}).out;
    EXPECT_NE(rules.find("-s 10.1.1.7/32"), std::string::npos) << rules;
}

// An SRV peer whose only target moves to another host: the cycle after
// the registration's minimum time switches to it and registers again; a
// registration younger than that minimum is left alone.
TEST_F(DnsRefresh, SrvTargetMovesAfterTheMinimumRegistrationTime)
{
    server = std::make_unique<dnsmasq_runner>(std::vector<std::string>{
        "--srv-host=_sip._udp.srv.test,a.srv.test,5070,10,60", "--host-record=a.srv.test,10.7.0.1"});
    ASSERT_TRUE(server->ok());
    server->export_env();
    build("[srvpeer]\nsip_stack = lan\nsip_proxy = srv.test\nconfig = dnssrv=1\nregister = yes\nuser = u\n"
          "dns_change_minimum_registration_time = 60\n");
    ASSERT_EQ(group()->pgs_srv_dns_requested, 1);
    ASSERT_STREQ(group()->pgs_sip_registrar_using_address_resolved, "10.7.0.1");
    reg_object *ro = gp->registrations[0];
    debug_lines rec({TARN});

    server = std::make_unique<dnsmasq_runner>(std::vector<std::string>{
        "--srv-host=_sip._udp.srv.test,b.srv.test,5072,10,60", "--host-record=b.srv.test,10.7.0.2"});
    ASSERT_TRUE(server->ok());
    server->export_env();
    dns_refresh_cache();

    ro->register_handle_create_time = get_proc_uptime_seconds() - 10; // registered 10 s ago
    EXPECT_EQ(dns_refresh_sip_peers(), 0);
    EXPECT_TRUE(tasks.empty());
    EXPECT_STREQ(group()->pgs_sip_registrar_using_address_resolved, "10.7.0.1");

    ro->register_handle_create_time = get_proc_uptime_seconds() - 61;
    EXPECT_GT(dns_refresh_sip_peers(), 0);
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].second, 12349877);
    EXPECT_STREQ(group()->pgs_sip_registrar_using_address_resolved, "10.7.0.2");
    EXPECT_EQ(group()->pgs_sip_registrar_port, 5072);
    EXPECT_STREQ(group()->pgs_last_register_target_ips[0], "10.7.0.2");
    bool logged = false;
    for (const std::string &l : rec.lines())
        logged |= l.find("SRV record change detected for |") == 0 &&
                  l.find("=> Need to re-register") != std::string::npos;
    EXPECT_TRUE(logged) << testing::PrintToString(rec.lines());
    std::string rules = run_process({"sh", "-c", "iptables-legacy-save -t filter | grep '^-A csp__srvpeer'"}).out;
    EXPECT_NE(rules.find("-s 10.7.0.2/32"), std::string::npos) << rules;

    // Nothing changes any more.
    tasks.clear();
    EXPECT_EQ(dns_refresh_sip_peers(), 0);
    EXPECT_TRUE(tasks.empty());
}

// ---- the SRV target ------------------------------------------------------------------

struct entry {
    int priority;
    std::vector<const char *> addresses;
};

dns_cache_srv_record *record(const std::vector<entry> &entries)
{
    auto *r = (dns_cache_srv_record *)calloc(1, sizeof(dns_cache_srv_record));
    r->name = strdup("_sip._udp.x.test");
    r->number_of_records = (int)entries.size();
    r->weighted_a_records = (dns_cache_srv_record_weighted_a_record **)calloc(
        entries.size(), sizeof(dns_cache_srv_record_weighted_a_record *));
    for (size_t e = 0; e < entries.size(); e++) {
        auto *w = (dns_cache_srv_record_weighted_a_record *)calloc(1, sizeof(dns_cache_srv_record_weighted_a_record));
        w->weighted_a_name = strdup(("t" + std::to_string(e) + ".x.test").c_str());
        w->priority = entries[e].priority;
        std::string pattern;
        for (const char *a : entries[e].addresses)
            pattern += (pattern.empty() ? "" : "|") + std::string(a);
        w->a_record = dns_cache_create_a_record(w->weighted_a_name, pattern.c_str());
        r->weighted_a_records[e] = w;
    }
    return r;
}

TEST(DnsSrvTarget, ChoiceOverRecordSets)
{
    struct {
        const char *what;
        std::vector<entry> entries;
        const char *in_use;
        int failed, behaviour;
        std::vector<const char *> history;
        int record, index;
    } cases[] = {
        {"first registration: lowest priority value", {{20, {"10.0.0.2"}}, {10, {"10.0.0.1"}}}, "", 0, 0, {}, 1, 0},
        {"first of equal priorities", {{10, {"10.0.0.1"}}, {10, {"10.0.0.2"}}}, "", 0, 0, {}, 0, 0},
        {"address in use stays", {{10, {"10.0.0.1", "10.0.0.3"}}}, "10.0.0.3", 0, 0, {}, 0, 1},
        {"lower priority value takes over", {{10, {"10.0.0.1"}}, {20, {"10.0.0.2"}}}, "10.0.0.2", 0, 0, {}, 0, 0},
        {"behaviour 2 stays on the listed one", {{10, {"10.0.0.1"}}, {20, {"10.0.0.2"}}}, "10.0.0.2", 0, 2, {}, 1, 0},
        {"address gone: lowest entry", {{30, {"10.0.0.4"}}, {10, {"10.0.0.5"}}}, "10.0.0.9", 0, 0, {}, 1, 0},
        {"failed: another address, never the failed one", {{10, {"10.0.0.1", "10.0.0.2"}}}, "10.0.0.1", 1, 0,
         {"10.0.0.1"}, 0, 1},
        {"failed: fresh address before recent targets",
         {{10, {"10.0.0.1"}}, {20, {"10.0.0.2"}}, {30, {"10.0.0.3"}}}, "10.0.0.1", 1, 0,
         {"10.0.0.1", "10.0.0.2"}, 2, 0},
        {"failed: all others recent: the one used longest ago",
         {{10, {"10.0.0.1"}}, {20, {"10.0.0.2"}}, {30, {"10.0.0.3"}}}, "10.0.0.1", 1, 0,
         {"10.0.0.1", "10.0.0.2", "10.0.0.3"}, 2, 0},
        {"failed with one address: it stays", {{10, {"10.0.0.1"}}}, "10.0.0.1", 1, 0, {"10.0.0.1"}, 0, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        dns_cache_srv_record *r = record(c.entries);
        dns_srv_target t = dns_choose_srv_target(r, c.in_use, c.failed, c.behaviour, c.history.data(),
                                                 (int)c.history.size());
        EXPECT_EQ(t.record, c.record);
        EXPECT_EQ(t.address_index, c.index);
        dns_cache_free_srv_record(r);
    }
}

} // namespace
