// Routing calls through one dial plan: SIP and line sources, number tests
// and rewriting, international prefixes, call groups and call limits.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "debug_lines.h"
#include "dialplan_call_fixture.h"
#include "dialplan_search.h"
#include "dns_cache.h"
#include "dnsmasq_runner.h"
#include "pools.h"
#include "sip_stack.h"

#include <sofia-sip/msg.h>
#include <sofia-sip/sip_parser.h>

namespace {

proxy_def *inbound_proxy_definition(port_group_sip *pgs, int user_index)
{
    const port_group_sip_user *user = pgs && user_index >= 0 && user_index < pgs->pgs_user_count
                                          ? pgs->pgs_users[user_index]
                                          : nullptr;
    return create_proxy_definition_by_pgs(pgs, user, SIP_INBOUND);
}
proxy_def *outbound_proxy_definition(const char *to_id) { return create_proxy_definition_by_id(to_id, SIP_OUTBOUND); }

// A dial plan line from its nine fields.
std::string row(std::vector<std::string> f)
{
    std::string s;
    for (size_t i = 0; i < f.size(); i++)
        s += (i ? "\t" : "") + f[i];
    return s + "\n";
}

int fixed_random_value;
int fixed_random() { return fixed_random_value; }

const char *const sip_conf = "[provider]\nsip_stack=lan\nsip_proxy=10.9.0.1\nuser=acct\n"
                             "config=sip2dialplan_dad_prefix_setting=none\n"
                             "[office]\nsip_stack=lan\nsip_proxy=10.9.0.2\nuser=alice,bob\n"
                             "[full]\nsip_stack=lan\nsip_proxy=10.9.0.3\nmax_simultaneous_calls=1\n"
                             "[3office]\nsip_stack=lan\nsip_proxy=10.9.0.4\n"
                             "[cga]\nsip_stack=lan\nsip_proxy=10.9.1.1\ncallgroup_name=cg\ncallgroup_priority=1\n"
                             "[cgb]\nsip_stack=lan\nsip_proxy=10.9.1.2\ncallgroup_name=cg\ncallgroup_priority=1\n";

class DialplanSearch : public DialplanCall {
protected:
    void SetUp() override
    {
        DialplanCall::SetUp();
        saved_iface = dialplan_sip;
        dialplan_sip_iface i{pg_get_port_group_sip_by_name, inbound_proxy_definition, outbound_proxy_definition,
                             clone_proxy_definition, free_proxy_def};
        dialplan_set_sip_iface(&i);
        ASSERT_EQ(create_call_object_pools(8), 0);
        co->dp = nullptr;
        co->callinfo = CI_INUSE;
        co->cc_active = &co->cc;
        co->cc_source = co->cc_destination = &gp->default_call_configuration;
        co->analog_oad = co->gsm_oad = co->cas_oad = co->bc_oad = co->pstn_oad;
        co->analog_dad = co->gsm_dad = co->cas_dad = co->bc_dad = co->pstn_dad;
        snprintf(co->cc.dialplan_international_prefix, sizeof co->cc.dialplan_international_prefix, "00");
        sip_groups(sip_conf);
        groups("ISDN", &gp->config_isdn, pg_init_isdn_port_group_struct,
               "[pbx]\nports=1,3\n[trunk]\nports=2\nconfig=oton=2\n[other]\nports=4\n");
        groups("ANALOG", &gp->config_analog, pg_init_analog_port_group_struct,
               "[fxs]\nports=3,4\nclip=100,200\n");
        in_leg.ss = &gp->sip_stacks[0];
        dialplan_set_random_source(fixed_random);
    }
    void TearDown() override
    {
        release_search();
        dialplan_set_random_source(nullptr);
        plan(""); // the table goes
        dialplan_sip = saved_iface;
        for (int i = 0; i < OPERATIONARRAYSIZE; i++)
            init_call_object(gp->operations[i], i);
        for (int i = 0; i < CLSIPSIZE; i++) {
            free_proxy_def(gp->sip_call_legs[i]->pd);
            *gp->sip_call_legs[i] = call_leg_sip{};
            gp->sip_call_legs[i]->index = i;
        }
        if (msg)
            msg_destroy(msg);
        DialplanCall::TearDown();
    }
    void release_search()
    {
        if (co->dp && co->dp != &line) {
            dialplan_cleanup_element(co->dp);
            free(co->dp);
        }
        co->dp = nullptr;
        for (char *&b : co->call_group_buddies) {
            free(b);
            b = nullptr;
        }
    }
    void plan(const std::string &text)
    {
        std::string path = dir + "/tarn.dialplan";
        std::ofstream(path) << text;
        ASSERT_EQ(dialplan_load(path.c_str()), 0);
    }
    // The incoming request: peer address, From and To users.
    void request(const char *peer, const char *from, const char *to)
    {
        co->cl_sip = co->cl_sip_in = &in_leg;
        co->cc_destination = &gp->default_call_configuration;
        snprintf(in_leg.sip_peer_network_ip, sizeof in_leg.sip_peer_network_ip, "%s", peer);
        address(&sip_address_info_object::from_url_user, from);
        address(&sip_address_info_object::to_url_user, to);
    }
    // The raw request the leg handles (its headers).
    void raw_request(const std::string &headers)
    {
        std::string text = "INVITE sip:1@10.0.0.5 SIP/2.0\r\nVia: SIP/2.0/UDP 192.0.2.1;branch=z9hG4bK1\r\n"
                           "From: <sip:a@192.0.2.1>;tag=1\r\nTo: <sip:1@10.0.0.5>\r\nCall-ID: c1\r\n"
                           "CSeq: 1 INVITE\r\n" +
                           headers + "Content-Length: 0\r\n\r\n";
        msg = msg_make(sip_default_mclass(), 0, text.c_str(), (isize_t)text.size());
        ASSERT_TRUE(msg);
        in_leg.tmpsip = sip_object(msg);
    }
    // Line of the SIP search's result, 0 for none.
    int sip_search(int start = 0)
    {
        release_search();
        return dialplan_search_from_sip(co, start) ? co->dp->line : 0;
    }
    misdn_bchannel *isdn_call(int port, const char *oad, int oton, const char *dad)
    {
        misdn_bchannel *b = bc ? bc : new_bc();
        b->port = port;
        snprintf(b->oad, sizeof b->oad, "%s", oad);
        snprintf(b->dad, sizeof b->dad, "%s", dad);
        b->oton = (mISDN_NUMBER_TYPE)oton;
        b->dton = (mISDN_NUMBER_TYPE)0;
        co->cl_sip = &out_leg;
        return b;
    }
    int pstn_search(dp_tech tech)
    {
        release_search();
        dialplan_element *dp = tech == TECH_ISDN ? dialplan_search_from_isdn(co) : dialplan_search_from_pstn(co, tech);
        return dp ? dp->line : 0;
    }
    const char *text(const char *s) { return s ? s : "(none)"; }
    // n calls in progress whose outgoing leg goes to the group.
    void calls_to(const char *group, int n)
    {
        static dialplan_element busy_line; // only its pd_out's name is read
        static proxy_def busy_pd;
        busy_pd.name = (char *)"busy";
        busy_line.pd_out = &busy_pd;
        for (int i = 0; i < OPERATIONARRAYSIZE && n > 0; i++) {
            call_object *c = gp->operations[i];
            if (c->dp)
                continue;
            c->dp = &busy_line;
            c->cl_sip_out = get_new_sip_call_leg();
            ASSERT_TRUE(c->cl_sip_out);
            c->cl_sip_out->pd = (proxy_def *)calloc(1, sizeof(proxy_def));
            c->cl_sip_out->pd->name = strdup(group);
            n--;
        }
    }
    void no_calls()
    {
        for (int i = 0; i < OPERATIONARRAYSIZE; i++)
            gp->operations[i]->dp = nullptr;
        for (int i = 0; i < CLSIPSIZE; i++) {
            free_proxy_def(gp->sip_call_legs[i]->pd);
            gp->sip_call_legs[i]->pd = nullptr;
            gp->sip_call_legs[i]->in_use = 0;
        }
    }
    dialplan_sip_iface saved_iface{};
    msg_t *msg = nullptr;
};

// ---- SIP calls ---------------------------------------------------------------------------------

const std::string sip_plan =
    row({"SIP", "ISDN", "*", "1", "1.*", "\\0", "*", "\\0", ""}) +                      // 1 first of two
    row({"SIP", "ISDN", "*", "2", "1.*", "x\\0", "*", "\\0", ""}) +                     // 2 never wins
    row({"SIP", "ISDN", "!10\\..*", "1", "2.*", "\\0", "*", "\\0", ""}) +               // 3 negated source
    row({"SIP", "ISDN", "*", "1", "3.*", "\\0", "!0.*", "49\\1", ""}) +                 // 4 negated calling
    row({"SIP", "SIP", "*", "10.9.9.9", "9(.*)", "\\1", "*", "\\0",                       // 5 prepend
         "sip2dialplan_dad_prefix_setting=prepend"}) +
    row({"SIP", "SIP", "*", "p:provider", "8(.*)", "\\1", "*", "\\0", ""}) +            // 6 group says none
    row({"SIP", "SIP", "*", "p:provider", "6.*", "\\0", "*", "\\0", "from_sip_src_setting=auto"}) + // 7
    row({"SIP", "ISDN", "*", "1", "7.*", "\\0", "*", "\\0", "sip_allow_message=1"}) +   // 8 message, to a line
    row({"SIP", "SIP", "*", "p:provider", "7.*", "\\0", "*", "\\0", ""}) +              // 9 message not allowed
    row({"SIP", "SIP", "*", "p:provider", "7.*", "\\0", "*", "\\0", "sip_allow_message=1"}) + // 10
    row({"SIP", "ISDN", "*", "1", "5.*", "\\0", "555", "\\0",                             // 11 manual header
         "from_sip_src_setting=/^X-Num: ([0-9]+)$/\\1/"}) +
    row({"SIP", "ISDN", "*", "1", "5.*", "\\0", "*", "\\0", "from_sip_src_setting=/^X-Num: (.*)$"}) + // 12
    row({"SIP", "ISDN", "*", "1", "*", "\\0", "*", "\\0", ""}) +                        // 13 any
    row({"SIP", "ISDN", "*", "1", "ISDNZUISDN.*", "\\0", "*", "\\0", ""});              // 14 internal

TEST_F(DialplanSearch, SipCallsAgainstOnePlan)
{
    plan(sip_plan);
    ASSERT_EQ(gp->dialplan_size, 14);
    struct {
        const char *what, *peer, *from, *to;
        int line;
        const char *new_source, *new_destination;
    } cases[] = {
        {"first match wins", "192.0.2.1", "100", "123", 1, "100", "123"},
        {"negated 10/8 source: outside", "192.0.2.1", "100", "200", 3, "100", "200"},
        {"negated 10/8 source: inside", "10.1.2.3", "100", "200", 13, "100", "200"},
        {"negated calling pattern", "192.0.2.1", "123", "300", 4, "49123", "300"},
        {"negated calling pattern: a 0 number", "192.0.2.1", "0123", "300", 13, "0123", "300"},
        {"prepend: international", "192.0.2.1", "+4930123", "94930123", 5, "004930123", "004930123"},
        {"prepend: the prefix's first digit", "192.0.2.1", "1", "9030123", 5, "1", "030123"},
        {"the destination group says none", "192.0.2.1", "1", "8+4930123", 6, "1", "+4930123"},
        {"internal To user", "192.0.2.1", "1", "ISDNZUISDN42", 14, "1", "ISDNZUISDN42"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        request(c.peer, c.from, c.to);
        EXPECT_EQ(sip_search(), c.line);
        EXPECT_STREQ(text(co->new_source), c.new_source);
        EXPECT_STREQ(text(co->new_destination), c.new_destination);
        EXPECT_EQ(co->f.dialplan_no_matching_from_id_found, 0);
    }
}

TEST_F(DialplanSearch, InternationalPrefixTable)
{
    struct {
        int setting;
        const char *prefix, *in, *out;
    } cases[] = {
        {0, "00", "+4930123", "004930123"}, {0, "00", "4930123", "4930123"},
        {1, "00", "+4930123", "004930123"}, {1, "00", "4930123", "004930123"},
        {1, "00", "030123", "030123"},      {2, "00", "+4930123", "+4930123"},
        {0, "", "+4930123", "4930123"},     {1, "", "4930123", "4930123"},
        {1, "", "+49", "49"},               {0, "00", "", ""},
    };
    for (auto &c : cases) {
        char out[DP_PREFIXED_SIZE];
        dialplan_international_prefix(c.in, c.setting, c.prefix, out, sizeof out);
        EXPECT_STREQ(out, c.out) << c.setting << " " << c.in;
    }
    std::string long_number(600, '1');
    char out[DP_PREFIXED_SIZE + 100];
    dialplan_international_prefix(long_number.c_str(), 1, "00", out, sizeof out);
    EXPECT_EQ(strlen(out), 511u);
}

TEST_F(DialplanSearch, AutomaticSourcePicksTheFirstNumber)
{
    plan(sip_plan);
    request("192.0.2.1", "4930", "600");
    address(&sip_address_info_object::p_preferred_identity_user, "abc");
    address(&sip_address_info_object::p_asserted_identity_user, "+4931");
    debug_lines log{TARN};
    EXPECT_EQ(sip_search(), 7);
    EXPECT_STREQ(co->new_source, "4930");
    EXPECT_TRUE(log.count("auto selected from as source: |4930|")) << log.count("auto");
    // Nothing looks like a number: the first one that is not empty.
    address(&sip_address_info_object::from_url_user, "bob");
    address(&sip_address_info_object::p_asserted_identity_user, "");
    EXPECT_EQ(sip_search(), 7);
    EXPECT_STREQ(co->new_source, "abc");
}

TEST_F(DialplanSearch, MessagesOnlyOnSipLinesAllowingThem)
{
    plan(sip_plan);
    request("192.0.2.1", "1", "700");
    EXPECT_EQ(sip_search(), 8);
    co->f.is_sip_message = 1;
    EXPECT_EQ(sip_search(), 10);
    EXPECT_EQ(co->callinfo, CI_INUSE);
}

TEST_F(DialplanSearch, ManualHeaderPattern)
{
    plan(sip_plan);
    request("192.0.2.1", "1", "500");
    raw_request("X-Other: 1\r\nX-Num: 555\r\n");
    debug_lines log{TARN};
    EXPECT_EQ(sip_search(), 11);
    EXPECT_STREQ(co->new_source, "555");
    EXPECT_TRUE(log.count("fromsrc_regex |/^X-Num: ([0-9]+)$/\\1/| src |555|"));

    msg_destroy(msg);
    msg = nullptr;
    raw_request("X-Num: 5x5\r\n");
    log.clear();
    EXPECT_EQ(sip_search(), 13);
    EXPECT_TRUE(log.count("line 11 didn't match: no match for regexp /^X-Num: ([0-9]+)$/\\1/"));
    EXPECT_TRUE(log.count("line 12 didn't match: wrong format for regexp /^X-Num: (.*)$"));
}

TEST_F(DialplanSearch, OutgoingSipLeg)
{
    plan(sip_plan);
    request("192.0.2.1", "1", "600");
    ASSERT_EQ(sip_search(), 7);
    ASSERT_TRUE(co->cl_sip_out);
    ASSERT_TRUE(co->cl_sip_out->pd);
    EXPECT_STREQ(co->cl_sip_out->pd->name, "provider");
    EXPECT_EQ(co->cl_sip_out->ss, &gp->sip_stacks[0]);
    EXPECT_STREQ(co->cl_sip_out->using_ip, "10.0.0.5");
    EXPECT_EQ(co->cc_destination->s2d_dad_prefix_setting, (uint32_t)CONFIG_S2D_PREFIX_NONE);
    // A literal target without a group uses the "lan" stack.
    request("192.0.2.1", "1", "9123");
    ASSERT_EQ(sip_search(), 5);
    EXPECT_FALSE(co->cl_sip_out->pd->name);
    EXPECT_EQ(co->cl_sip_out->ss, get_sip_stack_by_name("lan"));
}

// A line of another source technology never takes a SIP request, even with
// a source of "*".
TEST_F(DialplanSearch, SipRequestsSkipLineSources)
{
    plan(row({"ISDN", "SIP", "*", "p:provider", "*", "\\0", "*", "\\0", ""}) +
         row({"SIP", "ISDN", "*", "1", "*", "\\0", "*", "\\0", ""}));
    request("192.0.2.1", "1", "1");
    EXPECT_EQ(sip_search(), 2);
}

// Lines toward a line technology take their ports (ranges, at most 32) and
// the destination configuration.
TEST_F(DialplanSearch, LineDestinations)
{
    plan(row({"SIP", "ISDN", "*", "1-1000", "1.*", "\\0", "*", "\\0", ""}) +
         row({"SIP", "ISDN", "*", "2", "2.*", "\\0", "*", "\\0", ""}) +
         row({"SIP", "ISDN", "*", "g:pbx", "3.*", "\\0", "*", "\\0", ""}));
    request("192.0.2.1", "1", "1");
    ASSERT_EQ(sip_search(), 1);
    ASSERT_EQ(co->dp->to_ports_count, 32);
    EXPECT_EQ(co->dp->to_ports[31], 32);
    EXPECT_EQ(gp->dialplan[0].to_ports_count, 0); // the table's line is not touched
    request("192.0.2.1", "1", "2");
    ASSERT_EQ(sip_search(), 2);
    EXPECT_EQ(co->dp->to_ports_count, 1);
    EXPECT_EQ(co->cc_destination->oton, 2u); // port 2's configuration
    request("192.0.2.1", "1", "3");
    co->cc_destination = &gp->default_call_configuration;
    ASSERT_EQ(sip_search(), 3);
}

// ---- the mends ------------------------------------------------------------------------------------

// A line that fails after the kind of call was set for it leaves the kind as
// it was: the next line's source resolves for the original kind.
TEST_F(DialplanSearch, KindRestoredAfterAFailingLine)
{
    plan(row({"SIP", "ANALOG", "*", "3", "1.*", "\\0", "*", "\\0", ""}) +
         row({"SIP", "SIP", "p:${clip2port[100]}office", "p:provider", "2.*", "\\0", "*", "\\0", ""}));
    co->callinfo = CI_SIP_TO_SIP;
    request("10.9.0.2", "1", "200");
    address(&sip_address_info_object::to_url_user, "200");
    // Line 1 fails on its called number after the kind became SIP to analog;
    // in that kind "clip2port[100]" is port 3 and the source "p:3office".
    EXPECT_EQ(sip_search(), 2);
    EXPECT_STREQ(co->dp->from_id, "p:office");
    EXPECT_EQ(co->callinfo, CI_SIP_TO_SIP);
    request("10.9.0.2", "1", "999");
    EXPECT_EQ(sip_search(), 0);
    EXPECT_EQ(co->callinfo, CI_SIP_TO_SIP);
}

// The same after a line refused by its call group's limit: a SIP-to-analog
// call resolves "clip2port[100]" to port 3 on the next line too.
TEST_F(DialplanSearch, KindRestoredAfterAFullGroup)
{
    plan(row({"SIP", "SIP", "*", "p:full", "2.*", "\\0", "*", "\\0", "dialplan_go_on=1"}) +
         row({"SIP", "SIP", "p:${clip2port[100]}office", "p:provider", "2.*", "\\0", "*", "\\0", ""}));
    calls_to("full", 1);
    co->callinfo = CI_SIP_TO_ANALOG;
    request("10.9.0.4", "1", "200");
    EXPECT_EQ(sip_search(), 2);
    EXPECT_EQ(co->f.call_limit_exceeded, 1);
    ASSERT_TRUE(co->dp);
    EXPECT_STREQ(co->dp->from_id, "p:3office");
    EXPECT_EQ(co->callinfo, CI_SIP_TO_ANALOG);
}

// The group a call group picks goes into the call's copy of the line; the
// table's line keeps its own outbound proxy.
TEST_F(DialplanSearch, CallGroupChoiceStaysWithTheCall)
{
    plan(row({"SIP", "SIP", "*", "p:cga", "1.*", "\\0", "*", "\\0", ""}));
    const char *table_proxy = gp->dialplan[0].pd_out->name;
    request("192.0.2.1", "1", "1");
    fixed_random_value = 1;
    ASSERT_EQ(sip_search(), 1);
    EXPECT_STREQ(co->dp->to_id, "p:cgb");
    EXPECT_STREQ(co->dp->pd_out->name, "cgb");
    EXPECT_STREQ(co->cl_sip_out->pd->name, "cgb");
    ASSERT_EQ(co->call_group_buddies_count, 1);
    EXPECT_STREQ(co->call_group_buddies[0], "cga");
    fixed_random_value = 0;
    ASSERT_EQ(sip_search(), 1);
    EXPECT_STREQ(co->dp->pd_out->name, "cga");
    EXPECT_STREQ(co->cl_sip_out->pd->name, "cga");
    EXPECT_EQ(gp->dialplan[0].pd_out->name, table_proxy);
    EXPECT_STREQ(gp->dialplan[0].pd_out->name, "cga");
    EXPECT_STREQ(gp->dialplan[0].to_id, "p:cga");
}

// A full group only refuses the call on a line whose numbers match.
TEST_F(DialplanSearch, FullGroupOnANonMatchingLine)
{
    plan(row({"SIP", "SIP", "*", "p:full", "95.*", "\\0", "*", "\\0", ""}) +
         row({"SIP", "SIP", "*", "p:provider", "9.*", "\\0", "*", "\\0", ""}) +
         row({"SIP", "SIP", "*", "p:full", "8.*", "\\0", "*", "\\0", "dialplan_go_on=1"}) +
         row({"SIP", "SIP", "*", "p:provider", "8.*", "\\0", "*", "\\0", ""}));
    calls_to("full", 1);
    request("192.0.2.1", "1", "91");
    EXPECT_EQ(sip_search(), 2);
    EXPECT_EQ(co->f.call_limit_exceeded, 0);
    request("192.0.2.1", "1", "95");
    EXPECT_EQ(sip_search(), 0); // refused on line 1, the search stops
    EXPECT_EQ(co->f.call_limit_exceeded, 1);
    co->f.call_limit_exceeded = 0;
    request("192.0.2.1", "1", "81");
    EXPECT_EQ(sip_search(), 4); // dialplan_go_on: the next line takes it
    EXPECT_EQ(co->f.call_limit_exceeded, 1);
}

// ---- call groups -----------------------------------------------------------------------------------

TEST_F(DialplanSearch, CallGroupCases)
{
    // Nine groups: g1..g9; a row gives each one's priority (0: no call
    // group), limit and calls in progress.
    const char *names[] = {"g1", "g2", "g3", "g4", "g5", "g6", "g7", "g8", "g9"};
    struct {
        const char *what;
        int priority[9], limit[9], busy[9];
        const char *named;
        int random;
        int rc;
        const char *id;
        std::vector<std::string> buddies;
    } cases[] = {
        {"1, 1, 1: a random one, the others in order", {1, 1, 1}, {}, {}, "p:g1", 4, 0, "p:g2", {"g1", "g3"}},
        {"2, 1, 3, the named group free", {2, 1, 3}, {}, {}, "p:g1", 0, 0, "p:g1", {"g2", "g3"}},
        {"2, 1, 3, the named group full", {2, 1, 3}, {1}, {1}, "p:g1", 0, 0, "p:g2", {"g2", "g3"}},
        {"no call group, limit 2, two calls", {}, {0, 2}, {0, 2}, "p:g2", 0, -1, "p:g2", {}},
        {"no call group, limit 2, one call", {}, {0, 2}, {0, 1}, "p:g2", 0, 0, "p:g2", {}},
        {"nine in a call group: the ninth is never a candidate", {1, 1, 1, 1, 1, 1, 1, 1, 1}, {}, {}, "p:g9", 15, 0,
         "p:g8", {"g1", "g2", "g3", "g4", "g5", "g6", "g7"}},
        {"every group full", {1, 2}, {1, 1}, {1, 1}, "p:g1", 0, -1, "p:g1", {}},
        {"no such group", {}, {}, {}, "p:nothing", 0, 0, "p:nothing", {}},
    };
    std::string conf;
    for (const char *n : names)
        conf += std::string("[") + n + "]\nsip_stack=lan\nsip_proxy=10.9.2.1\n";
    pg_free_all_sip_port_groups();
    cm_destroy(gp->config_sip);
    gp->config_sip = nullptr;
    sip_groups(conf);
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        no_calls();
        for (int i = 0; i < 9; i++) {
            port_group_sip *g = pg_get_port_group_sip_by_name(names[i], nullptr);
            ASSERT_TRUE(g);
            free(g->pgs_callgroup_name);
            g->pgs_callgroup_name = strdup(c.priority[i] ? "cg" : "");
            g->pgs_callgroup_priority = c.priority[i];
            g->pgs_max_simultaneous_calls = c.limit[i];
            calls_to(names[i], c.busy[i]);
        }
        fixed_random_value = c.random;
        co->f.call_limit_exceeded = 0;
        char id[32];
        snprintf(id, sizeof id, "%s", c.named);
        EXPECT_EQ(dialplan_init_call_group(co, id, sizeof id), c.rc);
        EXPECT_STREQ(id, c.id);
        EXPECT_EQ(co->f.call_limit_exceeded, c.rc ? 1 : 0);
        ASSERT_EQ(co->call_group_buddies_count, (int)c.buddies.size());
        for (size_t i = 0; i < c.buddies.size(); i++)
            EXPECT_STREQ(co->call_group_buddies[i], c.buddies[i].c_str());
        EXPECT_EQ(co->call_group_index, 0);
    }
    no_calls();
}

// ---- the templates ---------------------------------------------------------------------------------

// The rewriting agrees with sed over the same pattern and template.
TEST_F(DialplanSearch, RegmodAgreesWithSed)
{
    struct {
        const char *pattern, *text, *tmpl;
    } cases[] = {
        {"0(.*)", "0301234", "49\\1"},
        {"(0)?(49)?(.*)", "301234", "[\\1][\\2][\\3]"},
        {"(.)(.)(.)(.)(.)(.)(.)(.)(.)(.)", "abcdefghij", "\\9\\8\\7\\0\\1"},
        {"(a|ab)(c|bcd)(d*)", "abcd", "\\1-\\2-\\3"},
        {"([0-9]+)#", "123#", "*\\1x"},
        {"(.*)", "", "empty:\\1"},
        {"x(y)?z", "xz", "<\\1>"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.pattern);
        regex_t re;
        ASSERT_EQ(regcomp(&re, c.pattern, REG_EXTENDED), 0);
        char out[DP_REWRITE_SIZE];
        ASSERT_EQ(dialplan_regmod(&re, c.text, c.tmpl, out, sizeof out), 0);
        regfree(&re);
        std::string input = dir + "/sed.in";
        std::ofstream(input) << c.text << "\n";
        std::string cmd = "sed -E 's/^" + std::string(c.pattern) + "$/" + c.tmpl + "/' '" + input + "'";
        FILE *p = popen(cmd.c_str(), "r");
        ASSERT_TRUE(p);
        char buf[4096] = "";
        if (!fgets(buf, sizeof buf, p))
            buf[0] = '\0';
        pclose(p);
        buf[strcspn(buf, "\n")] = '\0';
        EXPECT_STREQ(out, buf);
    }
    // No match, long output, the negated form.
    regex_t re;
    ASSERT_EQ(regcomp(&re, "a(.*)", REG_EXTENDED), 0);
    char out[DP_REWRITE_SIZE + 10];
    EXPECT_EQ(dialplan_regmod(&re, "b", "\\1", out, sizeof out), -1);
    std::string many(300, 'x');
    std::string tmpl;
    for (int i = 0; i < 10; i++)
        tmpl += "\\1";
    ASSERT_EQ(dialplan_regmod(&re, ("a" + many).c_str(), tmpl.c_str(), out, sizeof out), 0);
    EXPECT_EQ(strlen(out), 2047u);
    char small[8];
    ASSERT_EQ(dialplan_regmod(&re, "abcdefghij", "\\1", small, sizeof small), 0);
    EXPECT_STREQ(small, "bcdefgh");
    regfree(&re);
    ASSERT_EQ(dialplan_regmod_negated("123", "49\\1\\2\\", out, sizeof out), 0);
    EXPECT_STREQ(out, "49123\\2\\");
}

// ---- lines ------------------------------------------------------------------------------------------

const std::string line_plan =
    row({"ISDN", "SIP", "1,,3", "p:provider", "1.*", "\\0", "*", "\\0", ""}) +                       // 1
    row({"ISDN", "SIP", "g:TRUNK", "p:provider", "1.*", "\\0", "*", "\\0", ""}) +                    // 2
    row({"ISDN", "SIP", "1", "p:provider", "2.*", "\\0", "0301234", "\\0",                            // 3
         "prefix_priority=predialplan,nationalprefix=0"}) +
    row({"ISDN", "SIP", "1", "p:provider", "3.*", "\\0", "301234", "\\0",
         "prefix_priority=postdialplan,from_pstn_src_setting=oad,nationalprefix=0"}) +    // 4
    row({"ISDN", "SIP", "1", "p:provider", "4.*", "\\0", "*", "\\0", "extra_filter=bearer.cap=16"}) + // 5
    row({"ISDN", "SIP", "1", "p:provider", "5.*", "\\0", "*", "\\0", "dialplan_go_on=1"}) +         // 6
    row({"ISDN", "SIP", "1", "p:office", "5.*", "\\0", "*", "\\0", ""}) +                           // 7
    row({"ANALOG", "SIP", "g:Fxs", "p:provider", "*", "\\0", "*", "\\0", ""});                      // 8

TEST_F(DialplanSearch, LineCallsAgainstOnePlan)
{
    plan(line_plan);
    ASSERT_EQ(gp->dialplan_size, 8);
    struct {
        const char *what;
        int port;
        const char *oad;
        int oton;
        const char *dad;
        int line;
        const char *new_source, *new_destination;
    } cases[] = {
        {"port list 1,,3: port 1", 1, "100", 0, "100", 1, "100", "100"},
        {"port list 1,,3: port 3", 3, "100", 0, "100", 1, "100", "100"},
        {"g: in any case", 2, "100", 0, "100", 2, "100", "100"},
        {"a port of no line", 4, "100", 0, "100", 0, "(none)", "(none)"},
        {"prefix priority on: tested with the prefix", 1, "301234", 2, "200", 3, "0301234", "200"},
        {"prefix priority off: prefixed after", 1, "301234", 2, "300", 4, "0301234", "300"},
        {"bearer filter", 1, "1", 0, "400", 0, "(none)", "(none)"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        isdn_call(c.port, c.oad, c.oton, c.dad);
        co->dialplan_start_index = 0;
        debug_lines log{TARN};
        EXPECT_EQ(pstn_search(TECH_ISDN), c.line);
        EXPECT_STREQ(text(co->new_source), c.new_source);
        EXPECT_STREQ(text(co->new_destination), c.new_destination);
        if (c.port == 1 && c.line == 1) {
            EXPECT_EQ(log.count("ignoring empty token in dialplan"), 1);
        }
        if (c.line == 3) {
            EXPECT_EQ(co->f.isdn_prefix_predialplan, 1);
        }
    }
}

TEST_F(DialplanSearch, BearerFilterSaysWhatItWanted)
{
    plan(line_plan);
    isdn_call(1, "1", 0, "400")->capability = 0;
    debug_lines log{TARN};
    EXPECT_EQ(pstn_search(TECH_ISDN), 0);
    EXPECT_EQ(log.count("line 5 didn't match: extra filter bearer.cap didn't match: required 16, got 0"), 1);
    bc->capability = 16;
    EXPECT_EQ(pstn_search(TECH_ISDN), 5);
}

TEST_F(DialplanSearch, GoOnContinuesAfterTheLine)
{
    plan(line_plan);
    isdn_call(1, "1", 0, "500");
    EXPECT_EQ(pstn_search(TECH_ISDN), 6);
    EXPECT_EQ(co->dialplan_start_index, 6);
    EXPECT_EQ(co->f.dialplan_go_on_used, 1);
    EXPECT_EQ(pstn_search(TECH_ISDN), 7);
    ASSERT_TRUE(co->cl_sip->pd);
    EXPECT_STREQ(co->cl_sip->pd->name, "office");
}

TEST_F(DialplanSearch, AnalogGroupAndPortList)
{
    plan(line_plan);
    co->analog_port = 4 | 0x800;
    snprintf(co->analog_oad, 64, "200");
    snprintf(co->analog_dad, 64, "55");
    co->cl_sip = &out_leg;
    EXPECT_EQ(pstn_search(TECH_ANALOG), 8);
    EXPECT_STREQ(co->cl_sip->pd->name, "provider");
    EXPECT_EQ(co->cl_sip->ss, &gp->sip_stacks[0]);
    struct {
        const char *list;
        int port, matches;
    } cases[] = {
        {"g:fxs", 3, 1}, {"G:FXS", 4, 1}, {"g:fxs", 5, 0}, {"1,2,3", 3, 1}, {"1-4", 3, 0},
        {",,", 1, 0},    {"g:", 3, 0},    {"", 3, 0},      {"3x", 3, 1},
    };
    for (auto &c : cases)
        EXPECT_EQ(dialplan_analog_port_matches(c.list, c.port), c.matches) << c.list << " " << c.port;
}

// ---- SIP port groups through DNS ----------------------------------------------------------------------

class DialplanSearchDns : public DialplanSearch {
protected:
    static void SetUpTestSuite()
    {
        DialplanSearch::SetUpTestSuite();
        server = new dnsmasq_runner({"--host-record=pbx.example.test,192.0.2.10",
                                     "--host-record=pbx.example.test,192.0.2.11",
                                     "--srv-host=_sip._udp.dom.example.test,t1.example.test,5060,10,60",
                                     "--srv-host=_sip._udp.dom.example.test,t2.example.test,5062,20,40",
                                     "--host-record=t1.example.test,192.0.2.20",
                                     "--host-record=t2.example.test,192.0.2.21"});
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(server->ok()) << "dnsmasq did not start";
        server->export_env();
        dns_cache_clear();
        DialplanSearch::SetUp();
    }
    static inline dnsmasq_runner *server = nullptr;
};

TEST_F(DialplanSearchDns, GroupSourceByItsResolvedAddresses)
{
    pg_free_all_sip_port_groups();
    cm_destroy(gp->config_sip);
    gp->config_sip = nullptr;
    sip_groups("[pbx]\nsip_stack=lan\nsip_proxy=pbx.example.test\n"
               "[gone]\nsip_stack=lan\nsip_proxy=gone.example.test\n"
               "[srv]\nsip_stack=lan\nsip_proxy=dom.example.test\nconfig=dnssrv=1\n");
    plan(row({"SIP", "ISDN", "p:pbx", "1", "*", "\\0", "*", "\\0", ""}) +
         row({"SIP", "ISDN", "p:gone", "1", "*", "\\0", "*", "\\0", ""}) +
         row({"SIP", "ISDN", "p:srv", "1", "5.*", "\\0", "*", "\\0", ""}));
    char pattern[256];
    EXPECT_EQ(dialplan_sip_in_get_address_regexp("pbx", pattern, sizeof pattern, 0), 0);
    EXPECT_EQ(dialplan_sip_in_get_address_regexp("nothing", pattern, sizeof pattern, 0), -1);
    EXPECT_EQ(dialplan_sip_in_get_address_regexp("gone", pattern, sizeof pattern, 0), 1);
    for (const char *peer : {"192.0.2.10", "192.0.2.11", "192.0.2.12"}) {
        SCOPED_TRACE(peer);
        request(peer, "1", "1");
        EXPECT_EQ(sip_search(), strcmp(peer, "192.0.2.12") ? 1 : 0);
    }
    size_t asked = server->queries().size();
    request("192.0.2.10", "1", "1");
    EXPECT_EQ(sip_search(), 1);
    EXPECT_EQ(server->queries().size(), asked);

    // A group resolved by SRV: every target's address.
    ASSERT_EQ(pg_get_port_group_sip_by_name("srv", nullptr)->pgs_srv_dns_active, 1);
    EXPECT_EQ(dialplan_sip_in_get_address_regexp("srv", pattern, sizeof pattern, 0), 0);
    for (const char *peer : {"192.0.2.20", "192.0.2.21"}) {
        SCOPED_TRACE(peer);
        request(peer, "1", "5");
        EXPECT_EQ(sip_search(), 3);
    }
}

} // namespace
