#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "dialplan.h"
#include "dialplan_targets.h"
#include "pools.h"
#include "debug_lines.h"
#include "log.h"
#include "routing_fixture.h"

namespace {

// A stand-in for the SIP port groups: "__local__", "peer" with its user
// "alice" (index 0). Proxy definitions are texts saying how they were made.
char group_local, group_peer;
int live_proxies;

port_group_sip *double_group(const char *name, int *user_index)
{
    *user_index = -1;
    if (strlen(name) > 2 && name[1] == ':')
        name += 2;
    if (strcmp(name, "__local__") == 0) {
        *user_index = 0;
        return (port_group_sip *)&group_local;
    }
    if (strcmp(name, "peer") == 0)
        return (port_group_sip *)&group_peer;
    if (strcmp(name, "peer:alice") == 0) {
        *user_index = 0;
        return (port_group_sip *)&group_peer;
    }
    return nullptr;
}

proxy_def *make_proxy(const std::string &text)
{
    live_proxies++;
    return (proxy_def *)strdup(text.c_str());
}

const char *proxy_text(const proxy_def *pd)
{
    return (const char *)pd;
}

proxy_def *double_inbound(port_group_sip *pgs, int user)
{
    return make_proxy(std::string("in:") + (pgs == (port_group_sip *)&group_peer ? "peer" : "local") + ":" +
                      std::to_string(user));
}

proxy_def *double_outbound(const char *to_id)
{
    return make_proxy(std::string("out:") + to_id);
}

proxy_def *double_clone(const proxy_def *pd)
{
    return make_proxy(proxy_text(pd));
}

void double_free(proxy_def *pd)
{
    live_proxies--;
    free(pd);
}

class Dialplan : public RoutingTest {
protected:
    void SetUp() override
    {
        RoutingTest::SetUp();
        saved_ = dialplan_sip;
        dialplan_sip_iface d = {double_group, double_inbound, double_outbound, double_clone, double_free};
        dialplan_set_sip_iface(&d);
        live_proxies = 0;
    }
    void TearDown() override
    {
        load(""); // the table goes, its proxies with it
        EXPECT_EQ(live_proxies, 0);
        dialplan_sip = saved_;
        RoutingTest::TearDown();
    }
    int load(const std::string &text) { return dialplan_load(write_file("tarn.dialplan", text).c_str()); }
    const dialplan_element &at(int i) const { return gp->dialplan[i]; }
    dialplan_sip_iface saved_;
};

// The TARN module's debug lines up to a level while it lives.
struct tarn_lines : debug_lines {
    explicit tarn_lines(int level = 9) : debug_lines({TARN}) { log_levels_debug[TARN] = (unsigned char)level; }
    // The first line holding text, or "".
    std::string find(const std::string &text) const
    {
        for (const std::string &l : lines())
            if (l.find(text) != std::string::npos)
                return l;
        return "";
    }
};

bool matches(const regex_t *re, int negated, const char *text)
{
    return (regexec(re, text, 0, nullptr, 0) == 0) != (negated != 0);
}

TEST_F(Dialplan, LinesLoadAndBadOnesAreReported)
{
    tarn_lines log(1); // the loader's messages are written at level 1
    const std::string good_sip = "SIP\tISDN\tp:peer\t1,2\t*\t\\1\t*\t\tcodecs=pcma";
    ASSERT_EQ(load("; comment\n" +                                     // 1
                   good_sip + "\r\n" +                                  // 2
                   "SIP\tISDN\t*\t1\t*\t\t*\t\t\t\n"                    // 3: 9 TABs
                   "FOO\tISDN\t*\t1\t*\t\t*\t\t\n"                      // 4
                   "SIP\tISDN\t*\t1\t(\t\t*\t\t\n"                      // 5
                   "SIP\tISDN\tp:nosuch\t1\t*\t\t*\t\t\n"               // 6
                   "#\tcomment\n"                                        // 7
                   "Sip\tsip\tlocalhost\t(127.0.0.1)\t!*\t\t12(3)\t\t\n" // 8
                   "LTE\tITAPI\t1,g:x\t\t*\t\t*\t\t\n"                  // 9
                   "ITAPI\tSIP\t*\t1\t*\t\t*\t\t\n"                     // 10
                   "ISDN\tBAR\t1\t1\t*\t\t*\t\t\n"                      // 11
                   "SIP\tISDN\t!p:peer\t1\t*\t\t*\t\t\n"),              // 12
              0);
    const char *want[] = {
        "CRITICAL: invalid line 3, wrong number of fields, got 9 instead of 8",
        "CRITICAL: Error parsing token \"FOO\" in section 1 on line 4, skipping\n",
        "CRITICAL: invalid regex ( in dialplan on line 5, skipping line",
        "CRITICAL: invalid sip port group p:nosuch on line 6, skipping line",
        "CRITICAL: Error parsing token \"ITAPI\" in section 1 on line 10, skipping\n",
        "CRITICAL: Error parsing token \"BAR\" in section 2 on line 11, skipping\n",
        "CRITICAL: invalid sip port group !p:peer on line 12, skipping line",
    };
    std::vector<std::string> lines;
    for (const std::string &l : log.lines())
        if (l.rfind("CRITICAL: ", 0) == 0)
            lines.push_back(l);
    ASSERT_EQ(lines.size(), std::size(want)) << testing::PrintToString(log.lines());
    for (size_t i = 0; i < lines.size(); i++)
        EXPECT_EQ(lines[i], want[i]);

    ASSERT_EQ(gp->dialplan_size, 3);
    struct {
        int line;
        dp_tech from, to;
        const char *from_id, *to_id, *config, *pd_in, *pd_out;
    } rows[] = {
        {2, TECH_SIP, TECH_ISDN, "p:peer", "1,2", "codecs=pcma", "in:peer:-1", nullptr},
        {8, TECH_SIP, TECH_SIP, "p:__local__", "p:__local__", "", "in:local:0", "out:p:__local__"},
        {9, TECH_GSM, TECH_ITAPI, "1,g:x", "", "", nullptr, nullptr},
    };
    for (int i = 0; i < 3; i++) {
        const dialplan_element &e = at(i);
        SCOPED_TRACE("element " + std::to_string(i));
        EXPECT_EQ(e.index, i);
        EXPECT_EQ(e.line, rows[i].line);
        EXPECT_EQ(e.from_tech, rows[i].from);
        EXPECT_EQ(e.to_tech, rows[i].to);
        EXPECT_STREQ(e.from_id, rows[i].from_id);
        EXPECT_STREQ(e.to_id, rows[i].to_id);
        EXPECT_STREQ(e.config, rows[i].config);
        EXPECT_STREQ(proxy_text(e.pd_in), rows[i].pd_in);
        EXPECT_STREQ(proxy_text(e.pd_out), rows[i].pd_out);
        EXPECT_NE(e.cc, nullptr);
        EXPECT_EQ(e.from_id_regexp_string, nullptr);
        EXPECT_EQ(e.regexp_from_id, nullptr); // groups and line sources have no pattern
    }
    EXPECT_EQ(std::string(at(0).original_line), good_sip);
    EXPECT_STREQ(at(0).original_destination, "(.*)");
    EXPECT_STREQ(at(1).original_destination, "!*");
    EXPECT_EQ(at(0).match_for_fromuser, 0);
}

TEST_F(Dialplan, PatternsMatchAsWritten)
{
    ASSERT_EQ(load("SIP\tISDN\t*\t1\t*\t\t!*\t\t\n"
                   "SIP\tISDN\t!10\\.0\\..*\t1\tabc\t\t0(1)(2)\t\t\n"
                   "SIP\tISDN\td:peer:alice\t1\t!^0\t\t!12\t\t\n"
                   "SIP\tISDN\tt:${group}\t1\t*\t\t*\t\t\n"),
              0);
    ASSERT_EQ(gp->dialplan_size, 4);
    const dialplan_element &any = at(0), &pat = at(1), &grp = at(2), &var = at(3);
    EXPECT_STREQ(any.from_id, "(.*)");
    for (const char *n : {"", "0301234"}) {
        EXPECT_TRUE(matches(any.regexp_original_destination, any.not_matching_destination, n)) << n;
        EXPECT_FALSE(matches(any.regexp_original_source, any.not_matching_source, n)) << "!* matches none: " << n;
        EXPECT_TRUE(matches(any.regexp_from_id, any.not_matching_from_id, n));
    }
    EXPECT_EQ(pat.not_matching_from_id, 1);
    EXPECT_FALSE(matches(pat.regexp_from_id, pat.not_matching_from_id, "10.0.0.1"));
    EXPECT_TRUE(matches(pat.regexp_from_id, pat.not_matching_from_id, "192.168.0.1"));
    EXPECT_FALSE(matches(pat.regexp_original_destination, 0, "ABC")) << "case matters";
    EXPECT_EQ(pat.regexp_original_source->re_nsub, 2u) << "subexpressions are reported";
    EXPECT_EQ(grp.match_for_fromuser, 1);
    EXPECT_STREQ(proxy_text(grp.pd_in), "in:peer:0");
    EXPECT_EQ(grp.not_matching_destination, 1);
    EXPECT_EQ(grp.not_matching_source, 1);
    EXPECT_FALSE(matches(grp.regexp_original_destination, grp.not_matching_destination, "0301"));
    EXPECT_EQ(var.pd_in, nullptr) << "a group named by a variable is found when searched";
    EXPECT_EQ(var.regexp_from_id, nullptr);
}

TEST_F(Dialplan, PatternsThatWouldNotFitAreRefused)
{
    tarn_lines log;
    ASSERT_EQ(load("SIP\tISDN\t*\t1\t((0{255}){255}){255}\t\t*\t\t\n"
                   "SIP\tISDN\t(1{100}){1000}\t1\t*\t\t*\t\t\n"
                   "SIP\tISDN\t*\t1\t*\t\t([[:digit:]{]{999}){999}\t\t\n"
                   "SIP\tISDN\t*\t1\t0" + std::string(40, '+') + "\t\t*\t\t\n"
                   "SIP\tISDN\t*\t1\t(0*){2048}\t\t*\t\t\n"
                   "SIP\tISDN\t*\t1\t((((((0*)*)*)*)*)*)+++++++++++\t\t*\t\t\n"
                   "SIP\tISDN\t*\t1\t(0{100}){100}(1*){100}\t\t*\t\t\n"
                   "SIP\tISDN\t*\t1\t0[1-9]{2,4}[0-9]{4}[0-9]{4}[0-9]{4}[0-9]{4}[0-9]{4}[0-9]{4}\t\t*\t\t\n"),
              0);
    EXPECT_NE(log.find("invalid regex ((0{255}){255}){255} in dialplan on line 1"), "");
    EXPECT_NE(log.find("invalid regex (1{100}){1000} in dialplan on line 2"), "");
    EXPECT_NE(log.find("invalid regex ([[:digit:]{]{999}){999} in dialplan on line 3"), "");
    EXPECT_NE(log.find("invalid regex 0++++"), "");
    EXPECT_NE(log.find("invalid regex (0*){2048} in dialplan on line 5"), "");
    EXPECT_NE(log.find("invalid regex ((((((0*)*)*)*)*)*)++"), "");
    ASSERT_EQ(gp->dialplan_size, 2);
    EXPECT_EQ(at(0).line, 7);
    EXPECT_TRUE(matches(at(1).regexp_original_destination, 0, "0311234567890123456789012345"));
}

TEST_F(Dialplan, NothingCarriesOverARejectedLine)
{
    ASSERT_EQ(load("SIP\tISDN\t!10\t1\tISDNZUISDN(\tISDNZUISDN1\t!5\t\t\n"
                   "SIP\tISDN\t10\t1\t*\t\t*\t\t\n"),
              0);
    ASSERT_EQ(gp->dialplan_size, 1);
    const dialplan_element &e = at(0);
    EXPECT_EQ(e.line, 2);
    EXPECT_EQ(e.index, 0);
    EXPECT_EQ(e.not_matching_from_id, 0);
    EXPECT_EQ(e.not_matching_source, 0);
    EXPECT_EQ(e.not_matching_destination, 0);
    EXPECT_EQ(e.internal_sip_to_pstn_call, 0u);
    EXPECT_EQ(e.internal_pstn_to_sip, 0u);
    EXPECT_EQ(e.match_for_fromuser, 0);
    EXPECT_STREQ(e.config, "");
}

TEST_F(Dialplan, InternalLinesGetACodecList)
{
    std::string long_config(2040, 'x');
    ASSERT_EQ(load("SIP\tISDN\t*\t1\tISDNZUISDN.*\t\t*\t\t\n"
                   "SIP\tISDN\t*\t1\tISDNZUISDN.*\t\t*\t\tdtmfmode=inband\n"
                   "SIP\tISDN\t*\t1\tISDNZUISDN.*\t\t*\t\tcodecs=g729\n"
                   "ISDN\tSIP\t1\tp:peer\t*\tISDNZUISDN\\1\t*\t\t\n"
                   "SIP\tISDN\t*\t1\tISDNZUISDN.*\t\t*\t\t" +
                   long_config + "\n"),
              0);
    ASSERT_EQ(gp->dialplan_size, 5);
    EXPECT_STREQ(at(0).config, ",codecs=pcma:pcmu:CLEARMODE");
    EXPECT_STREQ(at(1).config, "dtmfmode=inband,codecs=pcma:pcmu:CLEARMODE");
    EXPECT_STREQ(at(2).config, "codecs=g729");
    EXPECT_EQ(at(2).internal_sip_to_pstn_call, 1u);
    EXPECT_STREQ(at(3).config, "");
    EXPECT_EQ(at(3).internal_sip_to_pstn_call, 0u);
    EXPECT_EQ(at(3).internal_pstn_to_sip, 1u);
    EXPECT_STREQ(proxy_text(at(3).pd_out), "out:p:peer");
    EXPECT_EQ(strlen(at(4).config), 2047u);
    EXPECT_EQ(std::string(at(4).config), long_config + ",codecs");
}

TEST_F(Dialplan, BlankFilesLoadEmpty)
{
    ASSERT_EQ(load("ISDN\tISDN\t1\t2\t*\t\t*\t\t\n"), 0);
    ASSERT_EQ(gp->dialplan_size, 1);
    for (const char *text : {"", "; only\n# comments\n\n", "\n  \n\t\t\n\t\t\t\t\t\t\t\t\n \t \n\t\t\t\t\t\t\t\t \n"}) {
        EXPECT_EQ(load(text), 0) << text;
        EXPECT_EQ(gp->dialplan_size, 0) << text;
        EXPECT_EQ(gp->dialplan, nullptr) << text;
    }
}

TEST_F(Dialplan, MissingFileKeepsTheTable)
{
    ASSERT_EQ(load("ISDN\tISDN\t1\t2\t*\t\t*\t\t\n"), 0);
    tarn_lines log(0); // written at level 0
    std::string missing = dir + "/none.dialplan";
    EXPECT_EQ(dialplan_load(missing.c_str()), -1);
    EXPECT_TRUE(log.has("CRITICAL: cannot read dialplan " + missing));
    ASSERT_EQ(gp->dialplan_size, 1);
    EXPECT_STREQ(at(0).to_id, "2");
}

TEST_F(Dialplan, ClonesOwnTheirPartsAndShareTheConfiguration)
{
    ASSERT_EQ(load("SIP\tSIP\td:peer:alice\tpeer\t0(.*)\t\\1\t!*\t\tcodecs=pcmu\n"
                   "SIP\tISDN\t!192\\.168\\..*\t1\t*\t\t*\t\t\n"),
              0);
    ASSERT_EQ(gp->dialplan_size, 2);
    for (int i = 0; i < 2; i++) {
        const dialplan_element &e = at(i);
        dialplan_element *c = dialplan_clone_element(&e);
        ASSERT_NE(c, nullptr);
        SCOPED_TRACE("element " + std::to_string(i));
        EXPECT_EQ(c->line, e.line);
        EXPECT_EQ(c->index, e.index);
        EXPECT_EQ(c->from_tech, e.from_tech);
        EXPECT_EQ(c->to_tech, e.to_tech);
        for (auto [mine, theirs] : {std::pair{c->from_id, e.from_id}, {c->to_id, e.to_id},
                                    {c->original_destination, e.original_destination},
                                    {c->new_destination, e.new_destination}, {c->original_source, e.original_source},
                                    {c->new_source, e.new_source}, {c->config, e.config}}) {
            EXPECT_STREQ(mine, theirs);
            EXPECT_NE(mine, theirs);
        }
        EXPECT_EQ(c->cc, e.cc);
        EXPECT_EQ(c->match_for_fromuser, e.match_for_fromuser);
        EXPECT_EQ(c->not_matching_from_id, e.not_matching_from_id);
        EXPECT_EQ(c->not_matching_source, e.not_matching_source);
        EXPECT_EQ(c->not_matching_destination, e.not_matching_destination);
        EXPECT_EQ(c->regexp_from_id != nullptr, e.regexp_from_id != nullptr);
        EXPECT_NE(c->regexp_original_source, nullptr);
        EXPECT_NE(c->regexp_original_destination, nullptr);
        EXPECT_NE(c->regexp_original_source, e.regexp_original_source);
        EXPECT_STREQ(proxy_text(c->pd_in), proxy_text(e.pd_in));
        EXPECT_STREQ(proxy_text(c->pd_out), proxy_text(e.pd_out));
        if (e.pd_in) {
            EXPECT_NE(c->pd_in, e.pd_in);
        }
        EXPECT_EQ(c->original_line, nullptr);
        EXPECT_EQ(c->to_ports, nullptr);
        dialplan_cleanup_element(c);
        EXPECT_EQ(c->from_id, nullptr);
        EXPECT_EQ(c->regexp_original_source, nullptr);
        EXPECT_EQ(c->pd_in, nullptr);
        EXPECT_EQ(c->cc, nullptr);
        EXPECT_EQ(c->not_matching_source, 0);
        EXPECT_EQ(c->match_for_fromuser, 0);
        free(c);
    }
    EXPECT_TRUE(matches(at(1).regexp_from_id, at(1).not_matching_from_id, "10.0.0.1"));

    // A source pattern given apart stands in for from_id in the copy.
    dialplan_element e = at(1);
    e.from_id_regexp_string = (char *)"10\\..*";
    dialplan_element *c = dialplan_clone_element(&e);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->not_matching_from_id, 0);
    EXPECT_TRUE(matches(c->regexp_from_id, 0, "10.1.2.3"));
    EXPECT_FALSE(matches(c->regexp_from_id, 0, "192.168.0.1"));
    dialplan_cleanup_element(c);
    free(c);
    dialplan_cleanup_element(nullptr);
}

TEST_F(Dialplan, ReloadFreesConfigurationsNoOneHolds)
{
    ASSERT_EQ(load("ISDN\tISDN\t1\t2\t*\t\t*\t\tcodecs=pcma\n"
                   "ISDN\tISDN\t1\t2\t*\t\t*\t\tcodecs=g729\n"
                   "ISDN\tISDN\t1\t3\t*\t\t*\t\tcodecs=g729\n"),
              0);
    int both = cc_pool_count();
    EXPECT_EQ(at(1).cc, at(2).cc) << "one pooled record per string";
    dialplan_element *held = dialplan_clone_element(&at(1)); // as a call keeps its line
    ASSERT_NE(held, nullptr);

    ASSERT_EQ(load("ISDN\tISDN\t1\t2\t*\t\t*\t\tcodecs=pcma\n"), 0);
    EXPECT_EQ(cc_pool_count(), both) << "the call's record stays";
    dialplan_cleanup_element(held);
    free(held);

    ASSERT_EQ(load("ISDN\tISDN\t1\t2\t*\t\t*\t\tcodecs=pcma\n"), 0);
    EXPECT_EQ(cc_pool_count(), both - 1) << "nobody holds the g729 record now";
    ASSERT_EQ(load(""), 0);
    EXPECT_EQ(cc_pool_count(), both - 2);
}

TEST_F(Dialplan, SipPeerInUseByACall)
{
    ASSERT_EQ(load("ISDN\tSIP\t1\tp:peer\t*\t\t*\t\t\n"
                   "SIP\tSIP\tp:__local__\tpeer\t*\t\t*\t\t\n"
                   "SIP\tISDN\td:peer:alice\t1\t*\t\t*\t\t\n"
                   "SIP\tSIP\tp:__local__\t10.0.0.9\t*\t\t*\t\t\n"),
              0);
    port_group_sip *peer = (port_group_sip *)&group_peer;
    struct {
        const char *what;
        int callinfo;
        int line;
        int active;
    } cases[] = {
        {"ISDN to SIP: the destination", CI_ISDN_TO_SIP, 0, 1},
        {"SIP to SIP: the destination", CI_SIP_TO_SIP, 1, 1},
        {"SIP to ISDN: the source", CI_SIP_TO_ISDN, 2, 1},
        {"SIP to SIP through another peer", CI_SIP_TO_SIP, 3, 0},
        {"ISDN to SIP reads no source", CI_ISDN_TO_SIP, 2, 0},
        {"a free object keeps a stale line", CI_FREE, 0, 0},
    };
    int saved_size = OPERATIONARRAYSIZE;
    call_object *saved = gp->operations[0];
    auto co = std::make_unique<call_object>();
    init_call_object(co.get(), 0);
    gp->operations[0] = co.get();
    OPERATIONARRAYSIZE = 1;
    for (auto &c : cases) {
        co->callinfo = c.callinfo;
        co->dp = &gp->dialplan[c.line];
        EXPECT_EQ(is_call_on_sip_peer_active(peer), c.active) << c.what;
    }
    co->dp = nullptr;
    co->callinfo = CI_SIP_TO_SIP;
    EXPECT_EQ(is_call_on_sip_peer_active(peer), 0) << "no line";
    EXPECT_EQ(is_call_on_sip_peer_active(nullptr), 0);
    gp->operations[0] = saved;
    OPERATIONARRAYSIZE = saved_size;
}

} // namespace
