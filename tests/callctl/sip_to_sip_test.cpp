// SIP-to-SIP pieces: the Replaces value of a Refer-To, the status relayed
// for a failed outgoing leg, the host of a relayed 302, the leg switch, and
// the move of a leg's media identity at a transfer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "application.h"
#include "call_object.h"
#include "dialplan.h"
#include "pools.h"
#include "proxy_def.h"
#include "sip_stack.h"
#include "sip_to_sip.h"
#include "sm_defs.h"
#include "state_table_actions.h"

namespace {

TEST(SipToSip, ReplacesOfAReferTo)
{
    const struct {
        const char *headers, *value;
    } cases[] = {
        {"Replaces=abc%40host%3Bto-tag%3D1%3Bfrom-tag%3D2", "abc@host;to-tag=1;from-tag=2"},
        {"replaces=abc%3bto-tag%3d1", "abc;to-tag=1"},
        {"REPLACES=x%3Bto-tag%3D1&Require=replaces", "x;to-tag=1"},
        {"Replaces=plain;to-tag=7", "plain;to-tag=7"},
        {"Replaces=a%2", "a%2"}, // a broken escape stays as it is
        {"Replaces=", ""},
    };
    for (auto &c : cases) {
        char out[256] = "x";
        EXPECT_EQ(sip_refer_replaces(c.headers, out, sizeof out), 0) << c.headers;
        EXPECT_STREQ(out, c.value) << c.headers;
    }
    char out[256] = "x";
    EXPECT_EQ(sip_refer_replaces("Require=replaces", out, sizeof out), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(sip_refer_replaces(nullptr, out, sizeof out), -1);
    // long values stop at 255 characters
    std::string long_value = "Replaces=" + std::string(600, 'a');
    EXPECT_EQ(sip_refer_replaces(long_value.c_str(), out, sizeof out), 0);
    EXPECT_EQ(strlen(out), 255u);
}

TEST(SipToSip, RelayedFailureStatus)
{
    const struct {
        int status, relayed;
        bool replaced_phrase;
    } cases[] = {{1000, 480, true}, {0, 480, true},     {200, 480, true},   {299, 480, true},
                 {300, 300, false}, {486, 486, false},  {699, 699, false},  {700, 480, true},
                 {9180, 480, true}};
    for (auto &c : cases) {
        const char *phrase = "Busy Here";
        EXPECT_EQ(s2s_relayed_failure_status(c.status, &phrase), c.relayed) << c.status;
        EXPECT_STREQ(phrase, c.replaced_phrase ? "Temporarily Unavailable" : "Busy Here") << c.status;
    }
}

class SipToSipCall : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        application_create();
        init_locks();
        ASSERT_EQ(create_call_object_pools(2), 0);
    }
    void SetUp() override
    {
        co_ = gp->operations[0];
        memset(&in_, 0, sizeof in_);
        memset(&out_, 0, sizeof out_);
        co_->callinfo = CI_SIP_TO_SIP;
        co_->cl_sip = co_->cl_sip_in = &in_;
        co_->cl_sip_out = &out_;
        snprintf(gp->netconf.host_ip_lan, sizeof gp->netconf.host_ip_lan, "192.0.2.10");
        snprintf(gp->netconf.host_ip_wan, sizeof gp->netconf.host_ip_wan, "198.51.100.10");
    }
    void TearDown() override
    {
        co_->cl_sip = co_->cl_sip_in = co_->cl_sip_out = nullptr;
        co_->dp = nullptr;
        co_->cc_source = nullptr;
        co_->callinfo = CI_FREE;
    }
    call_object *co_ = nullptr;
    call_leg_sip in_, out_;
};

TEST_F(SipToSipCall, HostOfARelayed302)
{
    call_configuration line{}, source{};
    dialplan_element dp{};
    dp.cc = &line;
    sip_stack wan{};
    snprintf(wan.name, sizeof wan.name, "wan");
    const struct {
        const char *line_url, *source_url;
        sip_stack *stack;
        const char *host;
    } cases[] = {
        {"redirect.test", "source.test", nullptr, "redirect.test"},
        {nullptr, "source.test", nullptr, "source.test"},
        {nullptr, nullptr, nullptr, "192.0.2.10"},
        {nullptr, nullptr, &wan, "198.51.100.10"},
    };
    for (auto &c : cases) {
        line = call_configuration{};
        source = call_configuration{};
        if (c.line_url) {
            snprintf(line.sip_302_contact_url, sizeof line.sip_302_contact_url, "%s", c.line_url);
            line.sip_302_contact_url_set = 1;
        }
        if (c.source_url) {
            snprintf(source.sip_302_contact_url, sizeof source.sip_302_contact_url, "%s", c.source_url);
            source.sip_302_contact_url_set = 1;
        }
        co_->dp = &dp;
        co_->cc_source = &source;
        in_.ss = c.stack;
        char host[256];
        s2s_302_contact_host(co_, host, sizeof host);
        EXPECT_STREQ(host, c.host);
    }
}

TEST_F(SipToSipCall, LegSwitchAndFirstLegEvents)
{
    EXPECT_EQ(sm_s2s_ignore_state_event_on_first_leg(co_, nullptr, SM_SIP_RINGING, 0).state, SM_KEEP_STATE);
    sm_s2s_switch_active_sip_call_leg(co_, nullptr, SM_SIP_RINGING, 0);
    EXPECT_EQ(co_->cl_sip, &out_);
    EXPECT_EQ(sm_s2s_ignore_state_event_on_first_leg(co_, nullptr, SM_SIP_RINGING, 0).state, SM_NO_DECISION);
    sm_s2s_switch_active_sip_call_leg(co_, nullptr, SM_SIP_RINGING, 0);
    EXPECT_EQ(co_->cl_sip, &in_);
}

TEST_F(SipToSipCall, TransferMovesTheMediaIdentity)
{
    char name[] = "peer", proxy[] = "sip:192.0.2.7";
    proxy_def pd{};
    pd.name = name;
    pd.proxy_nutag_address_string = proxy;
    in_.pd = &pd;
    in_.rtp_local_port = 40000;
    in_.rtp_remote_port = 50000;
    snprintf(in_.rtp_remote_ip, sizeof in_.rtp_remote_ip, "192.0.2.99");
    in_.using_codec = 8;
    in_.using_payload = 8;
    in_.pt_telephony_event = 101;
    in_.outbound_options = 0x35;
    crypto_settings *keys = reinterpret_cast<crypto_settings *>(&name); // only moved, never read
    in_.crypto = keys;
    sip_transfer_copy_over_clsip(&in_, &out_);
    EXPECT_EQ(out_.rtp_local_port, 40000);
    EXPECT_EQ(in_.rtp_local_port, 0);
    EXPECT_EQ(out_.crypto, keys);
    EXPECT_EQ(in_.crypto, nullptr);
    EXPECT_EQ(out_.rtp_remote_port, 50000);
    EXPECT_STREQ(out_.rtp_remote_ip, "192.0.2.99");
    EXPECT_EQ(out_.using_codec, 8);
    EXPECT_EQ(out_.pt_telephony_event, 101);
    EXPECT_EQ(out_.outbound_options, 0x35);
    ASSERT_NE(out_.pd, nullptr);
    EXPECT_NE(out_.pd, &pd) << "a clone";
    EXPECT_STREQ(out_.pd->name, "peer");
    free_proxy_def(out_.pd);
    out_.pd = nullptr;
    in_.pd = nullptr;
}

} // namespace
