// The SIP port groups (SIP peers) built from tarn.sip texts, their URIs,
// contacts, addresses and look-ups.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "debug_lines.h"
#include "outbound_options.h"
#include "sip_groups_fixture.h"

namespace {

TEST(OutboundOptions, WordsSetAndNoWordsClear)
{
    const struct {
        const char *text;
        int want;
    } cases[] = {
        {"", 0x35},
        {nullptr, 0x35},
        {"validate", 0x35},
        {"no-validate,no-use-rport", 0x21},
        {"no-gruuize", 0x34},
        {"outbound", 0x37},
        {"natify,outbound", 0x3f},
        {"no-outbound", 0x35}, // stays off: a no- word never turns an option on
        {"no-natify", 0x35},
        {"outbound,no-outbound", 0x35}, // the no- word wins
        {"no-options-keepalive", 0x15},
        {"NO-VALIDATE", 0x35}, // case-sensitive
        {"xyz", 0x35},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        EXPECT_EQ(parse_outbound_options(c.text), c.want);
    }
}

TEST(MatchType, WordsAnywhereInTheValue)
{
    EXPECT_EQ(pg_parse_matchtype_from_sip_group("address"), PGS_MATCH_ADDRESS);
    EXPECT_EQ(pg_parse_matchtype_from_sip_group("fromuser|touser"), PGS_MATCH_FROMUSER | PGS_MATCH_TOUSER);
    EXPECT_EQ(pg_parse_matchtype_from_sip_group("contactuser,requesturluser,manual"),
              PGS_MATCH_CONTACTUSER | PGS_MATCH_REQUESTURLUSER | PGS_MATCH_MANUAL);
    EXPECT_EQ(pg_parse_matchtype_from_sip_group("nonsense"), PGS_MATCH_ADDRESS);
    EXPECT_EQ(pg_parse_matchtype_from_sip_group(""), PGS_MATCH_ADDRESS);
}

// ---- building from configuration texts ---------------------------------------------------

class SipGroups : public SipGroupsTest {};

TEST_F(SipGroups, HostsPortsAndDomain)
{
    ASSERT_EQ(build("[regonly]\nsip_stack=lan\nsip_registrar= reg.test:5070 \n"
                    "[nothing]\nsip_stack=lan\n"
                    "[domain]\nsip_stack=lan\nsip_proxy=10.9.0.1\nsip_registrar=10.9.0.2:5080\nsip_domain=d.test:77\n"),
              0);
    ASSERT_EQ(count(), 3);
    port_group_sip *g = group(0);
    EXPECT_STREQ(g->pgs_name, "regonly");
    EXPECT_STREQ(g->pgs_sip_proxy, "reg.test");
    EXPECT_STREQ(g->pgs_sip_registrar, "reg.test");
    EXPECT_EQ(g->pgs_sip_proxy_port, 5070);
    EXPECT_EQ(g->pgs_sip_registrar_port, 5070);
    EXPECT_STREQ(g->pgs_sip_domain, "reg.test");
    EXPECT_EQ(g->pgs_sip_domain_set, 0);
    EXPECT_EQ(g->pgs_proxy_and_registrar_identical, 1);

    g = group(1);
    EXPECT_STREQ(g->pgs_sip_proxy, "127.0.0.1");
    EXPECT_STREQ(g->pgs_sip_registrar, "127.0.0.1");
    EXPECT_STREQ(g->pgs_sip_domain, "127.0.0.1");
    EXPECT_EQ(g->pgs_sip_proxy_is_ip, 1);
    EXPECT_STREQ(g->pgs_sip_proxy_using_address_resolved, "127.0.0.1");

    g = group(2);
    EXPECT_STREQ(g->pgs_sip_domain, "d.test");
    EXPECT_EQ(g->pgs_sip_domain_set, 1);
    EXPECT_EQ(g->pgs_proxy_and_registrar_identical, 0);
    EXPECT_EQ(g->pgs_sip_registrar_port, 5080);
    EXPECT_EQ(g->pgs_index, 2);
    EXPECT_EQ(std::vector<std::string>(g->pgs_active_ips, g->pgs_active_ips + g->pgs_active_ips_count),
              (std::vector<std::string>{"10.9.0.1", "10.9.0.2"}));
}

TEST_F(SipGroups, UsersSecretsAndNames)
{
    ASSERT_EQ(build("[two]\nsip_stack=lan\nuser= a ,, b \nsecret=x, y\nauth_user=,au\n"
                    "displayname=\"Mr\\, A\" ,\n"
                    "[one]\nsip_stack=lan\nuser=solo\nsecret= p,q,r \n"
                    "[three]\nsip_stack=lan\nuser=a,b,c\nsecret=s1\n"
                    "[blank]\nsip_stack=lan\nuser= \t\rbob\n"
                    "[anon]\nsip_stack=lan\nuser=\n"),
              0);
    ASSERT_EQ(count(), 5);
    auto users = [](const port_group_sip *g, char *port_group_sip_user::*m) {
        std::vector<std::string> v;
        for (int i = 0; i < g->pgs_user_count; i++)
            v.push_back(g->pgs_users[i]->*m);
        return v;
    };
    using V = std::vector<std::string>;
    const port_group_sip *two = group(0);
    EXPECT_EQ(users(two, &port_group_sip_user::pgsu_user), (V{"a", "b"}));
    EXPECT_EQ(users(two, &port_group_sip_user::pgsu_secret), (V{"x", "y"}));
    EXPECT_EQ(users(two, &port_group_sip_user::pgsu_authuser), (V{"au", "b"}));
    EXPECT_EQ(users(two, &port_group_sip_user::pgsu_displayname), (V{"Mr, A", ""}));
    EXPECT_EQ(users(group(1), &port_group_sip_user::pgsu_secret), (V{"p,q,r"})) << "one user keeps the commas";
    EXPECT_EQ(users(group(2), &port_group_sip_user::pgsu_secret), (V{"s1", "s1", "s1"}));
    EXPECT_EQ(users(group(2), &port_group_sip_user::pgsu_authuser), (V{"a", "b", "c"}));
    EXPECT_EQ(users(group(3), &port_group_sip_user::pgsu_user), (V{"bob"}));
    EXPECT_EQ(users(group(4), &port_group_sip_user::pgsu_user), (V{"anonymous"}));
}

TEST_F(SipGroups, NumbersWordsAndLists)
{
    ASSERT_EQ(build("[g]\nsip_stack=lan\nregrefresh_failed=0\nregrefresh=9000\nkeepalive-interval=3\n"
                    "call_transfer_method=ReInvite\nmatchtype=fromuser|manual\nregister=YES\nvalidation=1\n"
                    "enum_support=yes\nenum_search_domains=\n"
                    "dns_change_registration_behaviour=Stay_On_Lower_Priority\nregister_options=no-validate\n"
                    "stunserver= s1.test , ,s2.test\nemergency_numbers=112|110\n"
                    "[h]\nsip_stack=lan\nenum_support=1\nenum_search_domains=e164.test, ,e164.arpa\n"
                    "keepalive-interval=100000\ndns_change_registration_behaviour=other\nregister=no\n"),
              0);
    ASSERT_EQ(count(), 2);
    const port_group_sip *g = group(0), *h = group(1);
    EXPECT_EQ(g->pgs_refresh_interval_failed, 600) << "0 is below 1, not the default 10";
    EXPECT_EQ(g->pgs_refresh_interval, 3600);
    EXPECT_EQ(g->pgs_keepalive_interval, 10);
    EXPECT_EQ(h->pgs_keepalive_interval, 86400);
    EXPECT_EQ(h->pgs_refresh_interval_failed, 10);
    EXPECT_EQ(g->call_transfer_method, 1);
    EXPECT_EQ(g->pgs_matchtype, PGS_MATCH_FROMUSER | PGS_MATCH_MANUAL);
    EXPECT_EQ(g->pgs_do_register, 1);
    EXPECT_EQ(g->pgs_do_validate, 1);
    EXPECT_EQ(h->pgs_do_register, 0);
    EXPECT_EQ(g->pgs_enum_support, 0) << "ENUM without search domains is off";
    EXPECT_EQ(h->pgs_enum_support, 1);
    ASSERT_EQ(h->pgs_enum_search_domain_count, 2);
    EXPECT_STREQ(h->pgs_enum_search_domains[1], "e164.arpa");
    EXPECT_EQ(g->pgs_dns_change_registrar_behaviour, PGS_DNS_STAY_ON_LOWER_PRIORITY);
    EXPECT_EQ(h->pgs_dns_change_registrar_behaviour, 0);
    EXPECT_EQ(g->pgs_outbound_options, 0x31);
    EXPECT_STREQ(g->pgs_register_options, "no-validate");
    ASSERT_EQ(g->pgs_stunserver_count, 2);
    EXPECT_STREQ(g->pgs_stunserver[1], "s2.test");
    EXPECT_EQ(gp->external_ips_in_use, 1);
    EXPECT_STREQ(g->pgs_emergency_numbers, "112|110");
    EXPECT_STREQ(h->pgs_emergency_numbers, "") << "default: the main configuration's list (not loaded here)";
}

TEST_F(SipGroups, GroupWithoutStackIsDroppedAndItsRecordReused)
{
    ASSERT_EQ(build("[a]\nsip_stack=lan\n[nostack]\nsip_stack=xyz\n[b]\nsip_stack=loc\n[c]\n"), 0);
    ASSERT_EQ(count(), 2);
    EXPECT_STREQ(group(0)->pgs_name, "a");
    EXPECT_STREQ(group(1)->pgs_name, "b");
    EXPECT_EQ(group(1)->pgs_index, 1);
    EXPECT_EQ(group(1)->pgs_sip_stack, &gp->sip_stacks[1]);
    EXPECT_EQ(gp->external_ips_in_use, 0);
}

TEST_F(SipGroups, UnreadableKeyFailsTheBuild)
{
    // A user value longer than its 1024-byte buffer cannot be read.
    EXPECT_EQ(build("[a]\nsip_stack=lan\n[b]\nsip_stack=lan\nuser=" + std::string(1100, 'u') + "\n[c]\nsip_stack=lan\n"),
              -1);
    EXPECT_EQ(count(), 2) << "the build stops after the group with the error";
}

TEST_F(SipGroups, NameLookups)
{
    ASSERT_EQ(build("[grp]\nsip_stack=lan\nuser=alice,bob\n[other]\nsip_stack=lan\n"), 0);
    const struct {
        const char *name;
        port_group_sip *want;
        int want_user;
    } cases[] = {
        {"grp", group(0), -1},
        {"x:grp", group(0), -1},
        {"p:other", group(1), -1},
        {"grp:bob", group(0), 1},
        {"x:grp:alice", group(0), 0},
        {"grp:carol", nullptr, -1},
        {"nosuch:bob", nullptr, -1},
        {"gr", nullptr, -1},
        {"grpx", nullptr, -1},
        {"__local__", gp->port_groups->port_group_sip_local, 0},
        {"p:__local__", gp->port_groups->port_group_sip_local, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        int user = 99;
        EXPECT_EQ(pg_get_port_group_sip_by_name(c.name, &user), c.want);
        if (c.want) {
            EXPECT_EQ(user, c.want_user);
        }
    }
    EXPECT_EQ(pg_get_port_group_sip_by_name(nullptr, nullptr), nullptr);
}

TEST_F(SipGroups, LocalGroup)
{
    const port_group_sip *l = gp->port_groups->port_group_sip_local;
    ASSERT_TRUE(l);
    EXPECT_STREQ(l->pgs_name, "__local__");
    EXPECT_EQ(l->pgs_sip_stack, &gp->sip_stacks[0]);
    EXPECT_STREQ(l->pgs_sip_proxy_using_address_resolved, "127.0.0.1");
    EXPECT_STREQ(l->pgs_nutag_registrar_address_string, "sip:127.0.0.1");
    EXPECT_STREQ(l->pgs_contact_string, "sip:127.0.0.1");
    ASSERT_EQ(l->pgs_user_count, 1);
    EXPECT_STREQ(l->pgs_users[0]->pgsu_user, "internal");
    EXPECT_STREQ(l->pgs_users[0]->pgsu_displayname, "internal");
    EXPECT_STREQ(l->pgs_users[0]->pgsu_secret, "");
    char buf[128];
    pg_sip_get_contact_string_by_pgs_name("__local__", buf, sizeof buf);
    EXPECT_STREQ(buf, "sip:127.0.0.1");
}

// ---- URIs and contacts ------------------------------------------------------------------

TEST_F(SipGroups, UriStringsPerTransportAndDomain)
{
    const struct {
        const char *conf;
        const char *proxy_uri, *registrar_uri, *request_url, *from, *register_from;
    } cases[] = {
        {"transport=udp\n", "sip:10.9.0.1;transport=udp", "sip:10.9.0.2:5090;transport=udp",
         "sip:10.9.0.1;transport=udp", "\"Al\" <sip:u@10.9.0.1>", "<sip:u@10.9.0.2:5090>"},
        {"transport=tcp\n", "sip:10.9.0.1;transport=tcp", "sip:10.9.0.2:5090;transport=tcp",
         "sip:10.9.0.1;transport=tcp", "\"Al\" <sip:u@10.9.0.1>", "<sip:u@10.9.0.2:5090>"},
        {"transport=tls\nconfig=sips_on_tls=0\n", "sips:10.9.0.1", "sips:10.9.0.2:5090", "sip:10.9.0.1",
         "\"Al\" <sip:u@10.9.0.1>", "<sip:u@10.9.0.2:5090>"},
        {"transport=tls\n", "sips:10.9.0.1", "sips:10.9.0.2:5090", "sips:10.9.0.1", "\"Al\" <sips:u@10.9.0.1>",
         "<sips:u@10.9.0.2:5090>"}, // sips_on_tls is on by default
        {"transport=tls\nconfig=sips_on_tls=1\n", "sips:10.9.0.1", "sips:10.9.0.2:5090", "sips:10.9.0.1",
         "\"Al\" <sips:u@10.9.0.1>", "<sips:u@10.9.0.2:5090>"},
        {"transport=udp\nsip_domain=voip.test\n", "sip:10.9.0.1;transport=udp",
         "sip:10.9.0.2:5090;transport=udp", "sip:voip.test;transport=udp", "\"Al\" <sip:u@voip.test>",
         "\"Al\" <sip:u@voip.test>"},
        {"transport=tls\nconfig=sips_on_tls=1\nsip_domain=voip.test\n", "sips:10.9.0.1", "sips:10.9.0.2:5090",
         "sips:voip.test", "\"Al\" <sips:u@voip.test>", "\"Al\" <sips:u@voip.test>"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.conf);
        pg_free_all_sip_port_groups();
        pg_init_sip_port_group_local();
        ASSERT_EQ(build(std::string("[g]\nsip_stack=lan\nuser=u\ndisplayname=Al\nsip_proxy=10.9.0.1\n"
                                    "sip_registrar=10.9.0.2:5090\n") +
                        c.conf),
                  0);
        ASSERT_EQ(count(), 1);
        const port_group_sip *g = group(0);
        EXPECT_STREQ(g->pgs_nutag_proxy_address_string, c.proxy_uri);
        EXPECT_STREQ(g->pgs_nutag_registrar_address_string, c.registrar_uri);
        EXPECT_STREQ(g->pgs_users[0]->pgsu_nutag_request_url_string, c.request_url);
        EXPECT_STREQ(g->pgs_users[0]->pgsu_siptag_from_string, c.from);
        EXPECT_STREQ(g->pgs_users[0]->pgsu_siptag_register_from_string, c.register_from);
    }
}

TEST_F(SipGroups, Contacts)
{
    const struct {
        const char *conf;
        int via_rport;
        int domain_as_contact;
        const char *group_contact, *user_contact;
    } cases[] = {
        {"", 0, 0, "sip:10.0.0.5:5060", "sip:u@10.0.0.5:5060"},
        {"config=qvalue=0.5\n", 0, 0, "sip:10.0.0.5:5060", "<sip:u@10.0.0.5:5060>;q=0.5"},
        {"config=qvalue=1\n", 0, 0, "sip:10.0.0.5:5060", "<sip:u@10.0.0.5:5060>;q=1.0"},
        {"", 5999, 0, "sip:10.0.0.5:5999", "sip:u@10.0.0.5:5999"},
        {"transport=tcp\n", 5999, 0, "sip:10.0.0.5:5060", "sip:u@10.0.0.5:5060"},
        {"transport=tls\nconfig=sips_on_tls=0\n", 5999, 0, "sip:10.0.0.5:5061", "sip:u@10.0.0.5:5061"},
        {"transport=tls\nconfig=sips_on_tls=1\n", 0, 0, "sips:10.0.0.5:5061", "sips:u@10.0.0.5:5061"},
        {"externip=192.0.2.7\n", 0, 0, "sip:192.0.2.7:5060", "sip:u@192.0.2.7:5060"},
        {"sip_domain=voip.test\n", 0, 1, "sip:voip.test", "sip:u@voip.test"},
        {"sip_domain=voip.test\nconfig=qvalue=0.5\n", 0, 1, "sip:voip.test", "<sip:u@voip.test>;q=0.5"},
        {"", 0, 1, "sip:10.0.0.5:5060", "sip:u@10.0.0.5:5060"}, // no domain of its own
        {"transport=tls\nconfig=sips_on_tls=1\nsip_domain=voip.test\n", 0, 1, "sips:voip.test", "sips:u@voip.test"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.conf) + " rport " + std::to_string(c.via_rport));
        gp->experimental_options->eo_domain_as_contact = c.domain_as_contact;
        ASSERT_EQ(build(std::string("[g]\nsip_stack=lan\nuser=u\nsip_proxy=10.9.0.1\n") + c.conf), 0);
        port_group_sip *g = group(0);
        g->pgs_via_rport = c.via_rport;
        pg_sip_update_contact_string(g);
        EXPECT_STREQ(g->pgs_contact_string, c.group_contact);
        EXPECT_STREQ(g->pgs_users[0]->pgsu_contact_string, c.user_contact);
    }
    gp->experimental_options->eo_domain_as_contact = 0;
}

TEST_F(SipGroups, ContactsByName)
{
    ASSERT_EQ(build("[g]\nsip_stack=lan\nuser=u,v\nsip_proxy=10.9.0.1\n"), 0);
    char buf[256];
    pg_sip_get_contact_string_by_pgs_name("g", buf, sizeof buf);
    EXPECT_STREQ(buf, "sip:10.0.0.5:5060");
    pg_sip_get_contact_string_with_user_by_pgs_name("g", buf, sizeof buf);
    EXPECT_STREQ(buf, "sip:u@10.0.0.5:5060");
    pg_sip_get_contact_string_by_pgs_name("none", buf, sizeof buf);
    EXPECT_STREQ(buf, "sip:10.0.0.5:5060");
    pg_sip_get_contact_string_with_user_by_pgs_name("none", buf, sizeof buf);
    EXPECT_STREQ(buf, "sip:anonymous@10.0.0.5:5060");
    pg_sip_get_contact_string_by_pgs_name(nullptr, buf, sizeof buf);
    EXPECT_STREQ(buf, "sip:10.0.0.5:5060");
    // no LAN address: no Contact rather than one without host
    char lan[sizeof gp->netconf.host_ip_lan];
    memcpy(lan, gp->netconf.host_ip_lan, sizeof lan);
    gp->netconf.host_ip_lan[0] = '\0';
    pg_sip_get_contact_string_by_pgs_name("none", buf, sizeof buf);
    EXPECT_STREQ(buf, "");
    pg_sip_get_contact_string_with_user_by_pgs_name("none", buf, sizeof buf);
    EXPECT_STREQ(buf, "");
    pg_sip_get_contact_string_by_pgs_name("g", buf, sizeof buf);
    EXPECT_STREQ(buf, "sip:10.0.0.5:5060") << "the group's own";
    memcpy(gp->netconf.host_ip_lan, lan, sizeof lan);
}

TEST_F(SipGroups, HostAddressFromExternIpStunOrStack)
{
    debug_lines log({TARN});
    ASSERT_EQ(build("[ext]\nsip_stack=lan\nexternip=192.0.2.1\nstunserver=stun.test\n"
                    "[stun]\nsip_stack=lan\nstunserver=s1.test,s2.test\n"
                    "[plain]\nsip_stack=loc\n"),
              0);
    char buf[64];
    pg_sip_get_host_ip_for_port_group(group(0), buf, sizeof buf);
    EXPECT_STREQ(buf, "192.0.2.1");
    log.clear();
    pg_sip_get_host_ip_for_port_group(group(1), buf, sizeof buf);
    EXPECT_STREQ(buf, "10.0.0.5") << "no STUN server has an address yet: the stack's";
    EXPECT_EQ(log.count("CRITICAL: No IP from stun server s1.test !"), 1);
    EXPECT_EQ(log.count("CRITICAL: No IP from stun server s2.test !"), 1);
    pg_sip_get_host_ip_for_port_group(group(2), buf, sizeof buf);
    EXPECT_STREQ(buf, "127.0.0.1");
    pg_sip_get_host_ip_for_port_group(nullptr, buf, sizeof buf);
    EXPECT_STREQ(buf, "10.0.0.5");
    pg_sip_get_host_ip(nullptr, &gp->sip_stacks[1], buf, sizeof buf);
    EXPECT_STREQ(buf, "127.0.0.1");
    pg_sip_get_host_ip(group(0), &gp->sip_stacks[1], buf, sizeof buf);
    EXPECT_STREQ(buf, "192.0.2.1");
    pg_sip_get_host_ip(nullptr, nullptr, buf, sizeof buf);
    EXPECT_STREQ(buf, "10.0.0.5");

    // Once the STUN client knows an address, the second server's is taken.
    pg_sip_hooks hooks{};
    hooks.stun_learned_address = [](const char *server, char *out, size_t size) {
        if (strcmp(server, "s2.test") != 0)
            return 0;
        snprintf(out, size, "198.51.100.9");
        return 1;
    };
    pg_sip_set_hooks(&hooks);
    pg_sip_get_host_ip_for_port_group(group(1), buf, sizeof buf);
    EXPECT_STREQ(buf, "198.51.100.9");
    hooks.stun_learned_address = [](const char *, char *, size_t) { return 0; };
    pg_sip_set_hooks(&hooks);
    EXPECT_EQ(pg_sip_get_sip_port_for_port_group(nullptr), 0);
}

// ---- addresses ----------------------------------------------------------------------------

TEST_F(SipGroups, SeventyAddressesKeepSixtyFour)
{
    ASSERT_EQ(build("[g]\nsip_stack=lan\nsip_proxy=10.9.0.1\n"), 0);
    port_group_sip *g = group(0);
    debug_lines log({TARN});
    pg_clear_active_ips(g);
    for (int i = 0; i < 70; i++)
        pg_add_ip_to_active_ip_list(g, ("10.8.0." + std::to_string(i)).c_str());
    pg_add_ip_to_active_ip_list(g, "10.8.0.3"); // already listed: no line
    EXPECT_EQ(g->pgs_active_ips_count, 64);
    EXPECT_STREQ(g->pgs_active_ips[63], "10.8.0.63");
    EXPECT_EQ(log.count("Cannot store more than 64 ips for SIP peer |g|"), 6);
}

TEST_F(SipGroups, TargetHistory)
{
    ASSERT_EQ(build("[g]\nsip_stack=lan\n"), 0);
    port_group_sip *g = group(0);
    auto history = [g] {
        std::vector<std::string> v;
        for (char *ip : g->pgs_last_register_target_ips)
            v.push_back(ip ? ip : "-");
        return v;
    };
    for (int i = 1; i <= 9; i++)
        pg_prepend_target_ip_to_history(g, ("10.7.0." + std::to_string(i)).c_str());
    EXPECT_EQ(history(), (std::vector<std::string>{"10.7.0.9", "10.7.0.8", "10.7.0.7", "10.7.0.6", "10.7.0.5",
                                                   "10.7.0.4", "10.7.0.3", "10.7.0.2"}));
    g->pgs_last_register_target_ips_fail_time[3] = 77; // 10.7.0.6
    g->pgs_last_register_target_ips_fail_time[5] = 55; // 10.7.0.4
    pg_prepend_target_ip_to_history(g, "10.7.0.4");
    EXPECT_EQ(history(), (std::vector<std::string>{"10.7.0.4", "10.7.0.9", "10.7.0.8", "10.7.0.7", "10.7.0.6",
                                                   "10.7.0.5", "10.7.0.3", "10.7.0.2"}));
    EXPECT_EQ(g->pgs_last_register_target_ips_fail_time[0], 0) << "the prepended address starts clean";
    EXPECT_EQ(g->pgs_last_register_target_ips_fail_time[4], 77) << "fail times move with their addresses";
}

TEST_F(SipGroups, RandomAddressLeavesTheProcessGeneratorAlone)
{
    ASSERT_EQ(build("[g]\nsip_stack=lan\nsip_proxy=multi.test\n"), 0);
    const port_group_sip *g = group(0);
    ASSERT_TRUE(g->pgs_a_record_proxy);
    ASSERT_EQ(g->pgs_a_record_proxy->address_count, 3);
    srand(42);
    int expected = rand();
    srand(42);
    std::set<std::string> seen;
    for (int i = 0; i < 200; i++) {
        char buf[128];
        pg_get_formatted_address_string(g, PGS_TARGET_PROXY, PGS_RESOLVE_RANDOM, buf, sizeof buf);
        seen.insert(buf);
    }
    EXPECT_EQ(rand(), expected);
    EXPECT_EQ(seen, (std::set<std::string>{"sip:10.2.0.1;transport=udp", "sip:10.2.0.2;transport=udp",
                                           "sip:10.2.0.3;transport=udp"}));
    char buf[128];
    pg_get_formatted_address_string(g, PGS_TARGET_REGISTRAR, 7, buf, sizeof buf);
    EXPECT_STREQ(buf, "sip:multi.test;transport=udp") << "another mode: the configured host";
    // The resolved address first, then the rest of the record (in the server's order).
    ASSERT_EQ(g->pgs_active_ips_count, 3);
    EXPECT_STREQ(g->pgs_active_ips[0], g->pgs_sip_proxy_using_address_resolved);
    EXPECT_EQ(std::set<std::string>(g->pgs_active_ips, g->pgs_active_ips + 3),
              (std::set<std::string>{"10.2.0.1", "10.2.0.2", "10.2.0.3"}));
}

// ---- DNS ------------------------------------------------------------------------------------

TEST_F(SipGroups, SrvTargetGivesAddressPortAndFirstRegisterTarget)
{
    ASSERT_EQ(build("[srv]\nsip_stack=lan\nsip_proxy=dom.test\nconfig=dnssrv=1\n"), 0);
    const port_group_sip *g = group(0);
    EXPECT_EQ(g->pgs_srv_dns_requested, 1);
    EXPECT_EQ(g->pgs_srv_dns_active, 1);
    EXPECT_EQ(g->pgs_cc.dns_srv, 1u);
    EXPECT_STREQ(g->pgs_sip_proxy_using_address_resolved, "10.1.1.2");
    EXPECT_EQ(g->pgs_sip_proxy_port, 5070);
    EXPECT_STREQ(g->pgs_sip_registrar_using_address_resolved, "10.1.1.2");
    EXPECT_EQ(g->pgs_sip_registrar_port, 5070);
    ASSERT_TRUE(g->pgs_last_register_target_ips[0]);
    EXPECT_STREQ(g->pgs_last_register_target_ips[0], "10.1.1.2");
    EXPECT_EQ(g->pgs_last_register_target_ips[1], nullptr);
    EXPECT_STREQ(g->pgs_nutag_proxy_address_string, "sip:10.1.1.2:5070;transport=udp");
    EXPECT_EQ(g->pgs_a_record_proxy, nullptr);
}

TEST_F(SipGroups, SrvActiveAddressesCoverEveryTarget)
{
    ASSERT_EQ(build("[srv]\nsip_stack=lan\nsip_proxy=two.test\nconfig=dnssrv=1\n"), 0);
    const port_group_sip *g = group(0);
    EXPECT_EQ(g->pgs_srv_dns_active, 1);
    EXPECT_STREQ(g->pgs_sip_proxy_using_address_resolved, "10.6.0.1");
    EXPECT_EQ(g->pgs_sip_proxy_port, 5080);
    EXPECT_EQ(std::vector<std::string>(g->pgs_active_ips, g->pgs_active_ips + g->pgs_active_ips_count),
              (std::vector<std::string>{"10.6.0.1", "10.6.0.2"}));
}

TEST_F(SipGroups, WithoutSrvRecordsTheNamesResolveToARecords)
{
    ASSERT_EQ(build("[nosrv]\nsip_stack=lan\nsip_proxy=peer.test\nconfig=dnssrv=1\n"
                    "[plain]\nsip_stack=lan\nsip_proxy=peer.test\nsip_registrar=nosuch.test\n"),
              0);
    const port_group_sip *g = group(0);
    EXPECT_EQ(g->pgs_srv_dns_requested, 1);
    EXPECT_EQ(g->pgs_srv_dns_active, 0);
    EXPECT_EQ(g->pgs_cc.dns_srv, 0u) << "SRV given up for the group";
    EXPECT_STREQ(g->pgs_sip_proxy_using_address_resolved, "10.1.1.1");
    const port_group_sip *p = group(1);
    EXPECT_STREQ(p->pgs_sip_proxy_using_address_resolved, "10.1.1.1");
    EXPECT_STREQ(p->pgs_sip_registrar_using_address_resolved, "128.0.0.1") << "unresolved";
    EXPECT_STREQ(p->pgs_nutag_registrar_address_string, "sip:128.0.0.1;transport=udp");
    EXPECT_EQ(p->pgs_last_register_target_ips[0], nullptr);
}

TEST_F(SipGroups, Ipv4ProxyAndRegistrarAskNothing)
{
    ASSERT_EQ(build("[ip]\nsip_stack=lan\nsip_proxy=10.9.0.1:5070\nsip_registrar=10.9.0.2\nconfig=dnssrv=1\n"), 0);
    const port_group_sip *g = group(0);
    EXPECT_EQ(g->pgs_sip_proxy_is_ip, 1);
    EXPECT_EQ(g->pgs_sip_registrar_is_ip, 1);
    EXPECT_EQ(g->pgs_srv_dns_requested, 0);
    EXPECT_EQ(g->pgs_cc.dns_srv, 0u);
    EXPECT_STREQ(g->pgs_nutag_proxy_address_string, "sip:10.9.0.1:5070;transport=udp");
    EXPECT_TRUE(new_queries().empty());

    ASSERT_EQ(build("[name]\nsip_stack=lan\nsip_proxy=peer.test\n"), 0);
    EXPECT_FALSE(new_queries().empty()) << "the check above would see a query";
}

// ---- ISDN groups that monitor a peer -----------------------------------------------------

TEST_F(SipGroups, MonitoringIsdnGroupsLandInTheLayerControlList)
{
    build_isdn("[mon]\nports=1\nmonitored_sip_peer=prov\nmonitored_sip_peer_offtime=30\n"
               "[zero]\nports=2\nmonitored_sip_peer=prov\nmonitored_sip_peer_offtime=0\n"
               "[elsewhere]\nports=3\nmonitored_sip_peer=other\n");
    ASSERT_EQ(build("[prov]\nsip_stack=lan\n[other]\nsip_stack=lan\n"), 0);
    port_group_sip *prov = group(0);
    ASSERT_EQ(prov->pgs_isdn_layer_control_group_count, 2) << "every monitoring group, whatever its off-time";
    EXPECT_STREQ(prov->pgs_isdn_layer_control_group[0], "mon");
    EXPECT_EQ(prov->pgs_isdn_layer_control_group_offtime[0], 30);
    EXPECT_STREQ(prov->pgs_isdn_layer_control_group[1], "zero");
    ASSERT_EQ(group(1)->pgs_isdn_layer_control_group_count, 1);
    EXPECT_EQ(group(1)->pgs_isdn_layer_control_group_offtime[0], 60);

    // The start-up refresh lists nobody twice.
    pg_refresh_monitored_sip_peers();
    EXPECT_EQ(prov->pgs_isdn_layer_control_group_count, 2);
    EXPECT_EQ(group(1)->pgs_isdn_layer_control_group_count, 1);
}

TEST_F(SipGroups, LayerControlListIsBounded)
{
    std::string isdn;
    for (int p = 1; p <= 20; p++)
        isdn += "[i" + std::to_string(p) + "]\nports=" + std::to_string(p) + "\nmonitored_sip_peer=prov\n";
    build_isdn(isdn);
    ASSERT_EQ(gp->port_groups->port_groups_isdn_count, 20);
    debug_lines log({TARN});
    ASSERT_EQ(build("[prov]\nsip_stack=lan\n"), 0);
    EXPECT_EQ(group(0)->pgs_isdn_layer_control_group_count, 16);
    EXPECT_EQ(log.count("Cannot monitor SIP peer |prov| by more than 16 ISDN groups"), 4);
    pg_refresh_monitored_sip_peers();
    EXPECT_EQ(group(0)->pgs_isdn_layer_control_group_count, 16);
}

TEST_F(SipGroups, GroupOfARegistration)
{
    ASSERT_EQ(build("[prov]\nsip_stack=lan\nregister=1\n"), 0);
    reg_object ro{};
    const char *name = nullptr;
    int do_register = -1, do_validate = -1;
    EXPECT_EQ(pg_sip_group_of_registration(&ro, &name, &do_register, &do_validate), -1);
    ro.pgs = group(0);
    ASSERT_EQ(pg_sip_group_of_registration(&ro, &name, &do_register, &do_validate), 0);
    EXPECT_STREQ(name, "prov");
    EXPECT_EQ(do_register, 1);
    EXPECT_EQ(do_validate, 0);
}

// ---- generations -------------------------------------------------------------------------

TEST_F(SipGroups, HeldGenerationOutlivesTwoReloads)
{
    ASSERT_EQ(build("[prov]\nsip_stack=lan\nuser=u\nsip_proxy=10.9.0.1\n"), 0);
    port_group_sip *held = group(0);
    pg_sip_hold(held);
    for (int reload = 0; reload < 2; reload++) {
        pg_free_sip_port_group_struct();
        ASSERT_EQ(pg_init_sip_port_group_struct(), 0);
        ASSERT_EQ(count(), 1);
        EXPECT_NE(group(0), held);
    }
    // Two reloads later the call still reads its group (ASan would object).
    EXPECT_STREQ(held->pgs_name, "prov");
    EXPECT_STREQ(held->pgs_users[0]->pgsu_user, "u");
    pg_sip_release(held); // the last holder frees it
    pg_sip_hold(gp->port_groups->port_group_sip_local);
    pg_sip_release(gp->port_groups->port_group_sip_local);
    pg_sip_release(nullptr);
}

TEST_F(SipGroups, SecondBuildReplacesTheFirst)
{
    ASSERT_EQ(build("[a]\nsip_stack=lan\n"), 0);
    ASSERT_EQ(pg_init_sip_port_group_struct(), 0); // start-up may build twice
    ASSERT_EQ(count(), 1);
    EXPECT_EQ(gp->port_groups->port_groups_sip_old_count, 0);
}

} // namespace
