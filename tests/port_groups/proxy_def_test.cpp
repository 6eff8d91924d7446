// Proxy definitions from SIP groups and literal targets, their copies, and
// the address records of SIP dialogs.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "proxy_def.h"
#include "sip_groups_fixture.h"

// After the stack header: sofia-sip defines a macro of the same name as one
// of its functions (sip_user_agent).
#include <sofia-sip/msg.h>
#include <sofia-sip/sip_header.h>

namespace {

std::string text(const char *s)
{
    return s ? s : "(null)";
}

class ProxyDefs : public SipGroupsTest {};

TEST_F(ProxyDefs, LiteralTargets)
{
    enum { UDP_LAN, TLS_LAN, BARE_LAN, NO_STACK, WAN_ONLY, LOCALHOST_ONLY };
    const struct {
        const char *target;
        int stacks;
        const char *user, *pass, *proxy, *nutag;
        int transport;
    } cases[] = {
        {"u:p@h.test", UDP_LAN, "u", "p", "h.test", "sip:h.test;transport=udp", 1},
        {"P:u:p:q@h.test", UDP_LAN, "u", "p:q", "h.test", "sip:h.test;transport=udp", 1},
        {"u@h.test", UDP_LAN, "", "", "h.test", "sip:h.test;transport=udp", 1},
        {"h", UDP_LAN, "", "", "h", "sip:h;transport=udp", 1},
        {"localhost", UDP_LAN, "", "", "10.0.0.5:5060", "sip:10.0.0.5:5060;transport=udp", 1},
        {"d:127.0.0.1:5099", UDP_LAN, "", "", "10.0.0.5:5060", "sip:10.0.0.5:5060;transport=udp", 1},
        {"h", TLS_LAN, "", "", "h", "sips:h;transport=tls", 4},
        {"localhost", TLS_LAN, "", "", "10.0.0.5:5060", "sips:10.0.0.5:5060;transport=tls", 4},
        {"h", BARE_LAN, "", "", "h", "", 0},
        {"localhost", BARE_LAN, "", "", "10.0.0.5:5060", "10.0.0.5:5060", 0},
        {"u:p@h", NO_STACK, "u", "p", "h", "sip:u:p@h;transport=udp", 0},
        {"h", WAN_ONLY, "", "", "h", "sip:h;transport=tcp", 2},
        {"h", LOCALHOST_ONLY, "", "", "h", "sip:h;transport=udp", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.target) + " stacks " + std::to_string(c.stacks));
        stacks();
        sip_stack &lan = gp->sip_stacks[0];
        if (c.stacks == TLS_LAN)
            lan.transport = SIP_TRANSPORT_TLS;
        if (c.stacks == BARE_LAN)
            lan.transport = 0;
        if (c.stacks == NO_STACK)
            gp->sip_stack_size = 0;
        if (c.stacks == WAN_ONLY || c.stacks == LOCALHOST_ONLY) {
            lan.active = 0; // an inactive LAN stack is passed over
            gp->sip_stacks[2] = sip_stack{};
            snprintf(gp->sip_stacks[2].name, sizeof gp->sip_stacks[2].name, "wan");
            gp->sip_stacks[2].transport = SIP_TRANSPORT_TCP | SIP_TRANSPORT_TLS;
            gp->sip_stacks[2].active = c.stacks == WAN_ONLY;
            gp->sip_stack_size = 3;
        }
        proxy_def *pd = create_proxy_definition_by_id(c.target, SIP_OUTBOUND);
        ASSERT_TRUE(pd);
        EXPECT_EQ(pd->name, nullptr);
        EXPECT_EQ(text(pd->user), c.user);
        EXPECT_EQ(text(pd->pass), c.pass);
        EXPECT_EQ(text(pd->pd_sip_proxy), c.proxy) << "the text before the at sign is never the proxy";
        EXPECT_EQ(text(pd->proxy_nutag_address_string), c.nutag);
        EXPECT_EQ(pd->transport, c.transport);
        EXPECT_EQ(text(pd->localip), "10.0.0.5");
        EXPECT_EQ(text(pd->config_string), "");
        free_proxy_def(pd);
    }
    stacks();
    EXPECT_EQ(create_proxy_definition_by_id("p:", SIP_OUTBOUND), nullptr);
    EXPECT_EQ(create_proxy_definition_by_id("", SIP_OUTBOUND), nullptr);
    EXPECT_EQ(create_proxy_definition_by_id(nullptr, SIP_OUTBOUND), nullptr);
    EXPECT_EQ(parse_proxy_definition(""), nullptr);
    proxy_def *pd = parse_proxy_definition("h");
    ASSERT_TRUE(pd);
    EXPECT_EQ(pd->config_string, nullptr) << "only the identifier form gives an empty configuration string";
    free_proxy_def(pd);
    free_proxy_def(nullptr);
}

TEST_F(ProxyDefs, FromGroups)
{
    ASSERT_EQ(build("[two]\nsip_stack=lan\nuser=alice,bob\nsecret=s1,s2\nauth_user=a1\ndisplayname=Alice\n"
                    "sip_proxy=10.9.0.1:5070\nsip_domain=voip.test\nregister=1\n"
                    "config=failover_proxy=10.9.9.9\n"
                    "[one]\nsip_stack=lan\nuser=carol\nsip_proxy=peer.test\ntransport=tcp\n"),
              0);
    const struct {
        const char *id;
        int direction;
        const char *user, *auth_user, *pass, *display, *proxy, *to_url, *nutag, *localip, *failover;
        int is_registrar, transport, domain_set;
    } cases[] = {
        // Several users and none named: no user, proxy or domain.
        {"two", SIP_INBOUND, "", "", "(null)", "", "(null)", "(null)", "", "(null)", "10.9.9.9", 1, 1, 0},
        {"two", SIP_OUTBOUND, "alice", "a1", "s1", "Alice", "10.9.0.1", "voip.test",
         "sip:10.9.0.1:5070;transport=udp", "10.0.0.5", "10.9.9.9", 1, 1, 1},
        {"p:two:bob", SIP_INBOUND, "bob", "bob", "s2", "", "10.9.0.1", "voip.test",
         "sip:10.9.0.1:5070;transport=udp", "10.0.0.5", "10.9.9.9", 1, 1, 1},
        {"one", SIP_INBOUND, "carol", "carol", "", "", "peer.test", "peer.test", "sip:10.1.1.1;transport=tcp",
         "10.0.0.5", "(null)", 0, 2, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.id) + " direction " + std::to_string(c.direction));
        proxy_def *pd = create_proxy_definition_by_id(c.id, c.direction);
        ASSERT_TRUE(pd);
        EXPECT_EQ(text(pd->name), std::string(c.id).find("two") != std::string::npos ? "two" : "one");
        EXPECT_EQ(text(pd->user), c.user);
        EXPECT_EQ(text(pd->auth_user), c.auth_user);
        EXPECT_EQ(text(pd->pass), c.pass);
        EXPECT_EQ(text(pd->display), c.display);
        EXPECT_EQ(text(pd->pd_sip_proxy), c.proxy);
        EXPECT_EQ(text(pd->to_url), c.to_url);
        EXPECT_EQ(text(pd->proxy_nutag_address_string), c.nutag);
        EXPECT_EQ(text(pd->localip), c.localip);
        EXPECT_EQ(text(pd->failover), c.failover);
        EXPECT_EQ(pd->is_registrar, c.is_registrar);
        EXPECT_EQ(pd->transport, c.transport);
        EXPECT_EQ(pd->pd_sip_domain_set, c.domain_set);
        EXPECT_STREQ(pd->cc.sip_failover_proxy, group(std::string(c.id).find("two") != std::string::npos ? 0 : 1)
                                                     ->pgs_cc.sip_failover_proxy);

        // A copy equals the original and lives on its own.
        proxy_def *copy = clone_proxy_definition(pd);
        ASSERT_TRUE(copy);
        for (char *proxy_def::*m : {&proxy_def::name, &proxy_def::user, &proxy_def::auth_user, &proxy_def::display,
                                    &proxy_def::pass, &proxy_def::to_url, &proxy_def::pd_sip_proxy,
                                    &proxy_def::localip, &proxy_def::failover, &proxy_def::config_string,
                                    &proxy_def::proxy_nutag_address_string}) {
            EXPECT_EQ(text(copy->*m), text(pd->*m));
            if (pd->*m) {
                EXPECT_NE(copy->*m, pd->*m);
            }
        }
        EXPECT_EQ(copy->transport, pd->transport);
        EXPECT_EQ(copy->is_registrar, pd->is_registrar);
        free_proxy_def(pd);
        free_proxy_def(copy);
    }
}

TEST_F(ProxyDefs, DistributedInvitesAndCopiesAfterReload)
{
    ASSERT_EQ(build("[m]\nsip_stack=lan\nuser=u\nsip_proxy=multi.test\n"), 0);
    gp->experimental_options->eo_distribute_invites = 1;
    std::set<std::string> seen;
    for (int i = 0; i < 100; i++) {
        proxy_def *pd = create_proxy_definition_by_id("m", SIP_OUTBOUND);
        seen.insert(pd->proxy_nutag_address_string);
        free_proxy_def(pd);
    }
    gp->experimental_options->eo_distribute_invites = 0;
    EXPECT_EQ(seen.size(), 3u) << "each address of the A record in turn";

    proxy_def *pd = create_proxy_definition_by_id("m", SIP_OUTBOUND);
    std::string before = pd->proxy_nutag_address_string;
    // The group is gone after a reload without it: the copy keeps the text.
    cm_destroy(gp->config_sip);
    gp->config_sip = load("SIP", "[other]\nsip_stack=lan\n");
    pg_free_sip_port_group_struct();
    ASSERT_EQ(pg_init_sip_port_group_struct(), 0);
    proxy_def *copy = clone_proxy_definition(pd);
    EXPECT_EQ(text(copy->proxy_nutag_address_string), before);
    free_proxy_def(copy);
    free_proxy_def(pd);
}

// ---- address records -------------------------------------------------------------------

struct parsed_message {
    msg_t *msg;
    explicit parsed_message(const std::string &text)
    {
        msg = msg_make(sip_default_mclass(), 0, text.data(), (isize_t)text.size());
    }
    ~parsed_message() { msg_destroy(msg); }
    const sip_t *sip() const { return msg ? sip_object(msg) : nullptr; }
};

std::string request(const std::string &from, const std::string &to)
{
    return "INVITE sip:bob@b.test SIP/2.0\r\n"
           "Via: SIP/2.0/UDP 10.0.0.9:5060;branch=z9hG4bK1\r\n"
           "From: " + from + "\r\nTo: " + to + "\r\n"
           "Call-ID: 1@a.test\r\nCSeq: 1 INVITE\r\nMax-Forwards: 70\r\nContent-Length: 0\r\n\r\n";
}

TEST(AddressInfo, FromAndToOfParsedMessages)
{
    const struct {
        const char *from, *to;
        const char *from_display, *from_url, *from_user, *to_display, *to_url, *to_user;
    } cases[] = {
        {"\"Alice A.\" <sip:alice@a.test>;tag=1", "<sip:bob@b.test:5062>", "Alice A.", "a.test", "alice", "",
         "b.test", "bob"},
        {"Alice <sip:alice@a.test>;tag=1", "Bob's phone <sip:b.test>", "Alice", "a.test", "alice", "Bobs phone",
         "b.test", ""},
        {"sip:+4930123@10.1.1.1;tag=x", "sip:bob@b.test", "", "10.1.1.1", "+4930123", "", "b.test", "bob"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.from);
        parsed_message m(request(c.from, c.to));
        ASSERT_TRUE(m.sip() && m.sip()->sip_from && m.sip()->sip_to);
        sip_address_info_object *info = allocate_address_info(m.sip());
        ASSERT_TRUE(info);
        EXPECT_EQ(text(info->from_display), c.from_display);
        EXPECT_EQ(text(info->from_url), c.from_url);
        EXPECT_EQ(text(info->from_url_user), c.from_user);
        EXPECT_EQ(text(info->to_display), c.to_display);
        EXPECT_EQ(text(info->to_url), c.to_url);
        EXPECT_EQ(text(info->to_url_user), c.to_user);
        EXPECT_EQ(info->contact_user, nullptr);
        EXPECT_EQ(info->p_asserted_identity, nullptr);
        free_address_info(info);
    }
    sip_address_info_object *none = allocate_address_info(nullptr);
    EXPECT_EQ(text(none->from_url), "");
    EXPECT_EQ(text(none->to_display), "");
    free_address_info(none);
    free_address_info(nullptr);
}

TEST(AddressInfo, MangledSipToSipAndCopies)
{
    auto *co = new call_object();
    mangled_sip_to_sip &m = co->mangled.sip_to_sip;
    snprintf(m.from_user, sizeof m.from_user, "100");
    snprintf(m.from_url, sizeof m.from_url, "a.test");
    snprintf(m.from_display, sizeof m.from_display, "Desk");
    snprintf(m.to_user, sizeof m.to_user, "200");
    snprintf(m.to_url, sizeof m.to_url, "b.test");
    memset(m.to_display, 'x', sizeof m.to_display); // no terminator: cut at the field
    sip_address_info_object *info = allocate_address_info_from_mangled_sip_to_sip(co);
    EXPECT_EQ(text(info->from_url_user), "100");
    EXPECT_EQ(text(info->from_url), "a.test");
    EXPECT_EQ(text(info->from_display), "Desk");
    EXPECT_EQ(text(info->to_url_user), "200");
    EXPECT_EQ(text(info->to_url), "b.test");
    EXPECT_EQ(text(info->to_display), std::string(sizeof m.to_display, 'x'));
    EXPECT_EQ(info->request_url_user, nullptr);

    auto *target = (sip_address_info_object *)calloc(1, sizeof(sip_address_info_object));
    target->from_url = strdup("old.test");
    target->contact_host = strdup("kept.test");
    clone_address_info(info, target);
    EXPECT_EQ(text(target->from_url), "a.test");
    EXPECT_NE(target->from_url, info->from_url);
    EXPECT_EQ(text(target->contact_host), "kept.test") << "unset texts of the source change nothing";
    free_address_info(target);
    free_address_info(info);
    delete co;
}

} // namespace
