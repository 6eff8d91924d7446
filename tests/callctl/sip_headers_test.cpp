// Header texts of outgoing SIP messages over call fixtures; the address
// headers are read back with the SIP stack's own parser.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "application.h"
#include "call_object.h"
#include "causes.h"
#include "experimental_options.h"
#include "misdn_bchannel.h"
#include "proxy_def.h"
#include "sip_headers.h"
#include "sip_stack.h"

// After sip_stack.h: the stack's headers define a macro of one of its names.
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/su_alloc.h>

namespace {

std::unique_ptr<call_object> new_call(int callinfo)
{
    auto co = std::make_unique<call_object>();
    co->callinfo = callinfo;
    co->pid = 42;
    return co;
}

TEST(SipHeaders, ReasonByTerminationReasonAndKind)
{
    application_create();
    const struct {
        int callinfo, reason;
        bool with_bc;
        const char *want; // null: no header
    } cases[] = {
        {CI_SIP_TO_SIP, 1, false, "REASON: TARN; cause=0; text=\"Manually Terminated\""},
        {CI_SIP_TO_SIP, 2, false, "REASON: TARN; cause=0; text=\"RTP packet loss\""},
        {CI_SIP_TO_SIP, 3, false, "REASON: TARN; cause=0; text=\"No processing resources\""},
        {CI_SIP_TO_SIP, 4, false, "REASON: TARN; cause=0; text=\"No processing resources\""},
        {CI_ISDN_TO_SIP, 5, true, "REASON: TARN; cause=0; text=\"No matching dialplan entry found\""},
        {CI_SIP_TO_GSM, 6, false, "REASON: TARN; cause=0; text=\"No free GSM ports\""},
        {CI_SIP_TO_ISDN, 7, false, "REASON: TARN; cause=0; text=\"No free ISDN channels\""},
        {CI_SIP_TO_ISDN, 8, false, "REASON: TARN; cause=0; text=\"No free ISDN channels (some ports are down)\""},
        {CI_SIP_TO_ISDN, 9, false, "REASON: TARN; cause=0; text=\"Invalid number format\""},
        {CI_SIP_TO_ANALOG, 10, false, "REASON: TARN; cause=0; text=\"No free analog ports\""},
        {CI_SIP_TO_ANALOG, 11, false, "REASON: TARN; cause=0; text=\"No free analog ports (some ports are down)\""},
        {CI_SIP_TO_SIP, 12, false, "REASON: TARN; cause=0; text=\"\""}, // empty fax text
        {CI_SIP_TO_ISDN, 0, true, nullptr}, // Q.850 form, checked below
        {CI_ANALOG_TO_SIP, 13, false, "REASON: ANALOG; cause=0; text=\"Terminated\""},
        {CI_SIP_TO_ANALOG, 0, false, "REASON: ANALOG; cause=0; text=\"Terminated\""},
        {CI_GSM_TO_SIP, 14, false, "REASON: GSM; cause=0; text=\"Terminated\""},
        {CI_SIP_TO_SIP, 0, false, ""},
        {CI_CAS_TO_SIP, 99, false, ""},
    };
    misdn_bchannel bc{};
    bc.cause = 17;
    for (const auto &c : cases) {
        auto co = new_call(c.callinfo);
        co->special_termination_reason = c.reason;
        co->bc = c.with_bc ? &bc : nullptr;
        char buf[256] = "x";
        int r = format_reason_header(co.get(), buf, sizeof buf);
        std::string want = c.want ? c.want
                                  : "REASON: Q.850; cause=17; text=\"" + std::string(print_isdn_cause(17)) + "\"";
        EXPECT_EQ(buf, want) << c.callinfo << " " << c.reason;
        EXPECT_EQ(r, want.empty() ? -1 : 0) << c.callinfo << " " << c.reason;
    }
    auto co = new_call(CI_SIP_TO_SIP);
    co->special_termination_reason = 12;
    snprintf(co->cc.faxdetect_call_termination, sizeof co->cc.faxdetect_call_termination, "Fax \"T.30\"");
    char buf[64];
    format_reason_header(co.get(), buf, sizeof buf);
    EXPECT_STREQ(buf, "REASON: TARN; cause=0; text=\"Fax \\\"T.30\\\"\"");
    char small[16];
    EXPECT_EQ(format_reason_header(co.get(), small, sizeof small), 0);
    EXPECT_STREQ(small, "REASON: TARN; c"); // cut to the size given

    experimental_options eo{};
    eo.eo_no_reason_header = 1;
    gp->experimental_options = &eo;
    EXPECT_EQ(format_reason_header(co.get(), buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "");
    gp->experimental_options = nullptr;
}

TEST(SipHeaders, AnonymityWordsInTheirOrder)
{
    const struct {
        const char *flags, *want;
    } cases[] = {{"name uri", "uri,name"}, {"ipaddr,full", "full,ipaddr"}, {"bogus", "off"}, {"", "off"}};
    for (const auto &c : cases) {
        auto co = new_call(CI_SIP_TO_SIP);
        snprintf(co->cc.rpi_anonymity_flags, sizeof co->cc.rpi_anonymity_flags, "%s", c.flags);
        char buf[32];
        format_anonymity(co.get(), buf, sizeof buf);
        EXPECT_STREQ(buf, c.want) << c.flags;
    }
}

class SipAddressHeaders : public ::testing::Test {
protected:
    void SetUp() override { home_ = static_cast<su_home_t *>(su_home_new(sizeof(su_home_t))); }
    void TearDown() override { su_home_unref(home_); }
    // The From text as the stack reads it: its display and URL.
    void expect_parses(const std::string &value, const char *display, const char *scheme, const char *user)
    {
        sip_from_t *f = sip_from_make(home_, value.c_str());
        ASSERT_NE(f, nullptr) << value;
        if (display) {
            EXPECT_STREQ(f->a_display, display) << value;
        } else {
            EXPECT_TRUE(!f->a_display || !*f->a_display) << value << ": " << f->a_display;
        }
        EXPECT_STREQ(f->a_url->url_scheme, scheme) << value;
        if (user) {
            EXPECT_STREQ(f->a_url->url_user, user) << value;
        }
        EXPECT_EQ(value.find_first_of("\r\n"), std::string::npos) << value;
    }
    su_home_t *home_ = nullptr;
};

TEST_F(SipAddressHeaders, FromAndToWithSchemeDisplayAndFallbacks)
{
    sip_stack ss{};
    proxy_def tls{}, tcp{};
    tls.transport = SIP_TRANSPORT_TLS;
    tcp.transport = SIP_TRANSPORT_TCP;
    const struct {
        proxy_def *pd;
        const char *display, *user, *host;
        const char *want_from, *want_to;
        const char *parsed_display, *parsed_user; // as the stack's parser gives them
    } cases[] = {
        {&tls, "Alice", "100", "example.org", "\"Alice\" <sips:100@example.org>", "<sips:200@peer.example>",
         "\"Alice\"", "100"},
        {&tcp, "Alice", "100", "example.org", "\"Alice\" <sip:100@example.org>", "<sip:200@peer.example>",
         "\"Alice\"", "100"},
        {&tcp, "A\"B\\C\r\n", "100", "example.org", "\"A\\\"B\\\\C\" <sip:100@example.org>",
         "<sip:200@peer.example>", "\"A\\\"B\\\\C\"", "100"},
        {&tcp, "", "", "", "<sip:anonymous>", "<sip:200@peer.example>", nullptr, nullptr},
        {&tcp, "", "", "example.org", "<sip:example.org>", "<sip:200@peer.example>", nullptr, nullptr},
    };
    for (const auto &c : cases) {
        auto co = new_call(CI_ISDN_TO_SIP);
        co->cc.sips_on_tls = 1;
        call_leg_sip leg{};
        leg.pd = c.pd;
        leg.ss = &ss;
        co->cl_sip = &leg;
        mangled_pstn_to_sip &m = co->mangled.pstn_to_sip;
        snprintf(m.from_display, sizeof m.from_display, "%s", c.display);
        snprintf(m.from_user, sizeof m.from_user, "%s", c.user);
        snprintf(m.from_url, sizeof m.from_url, "%s", c.host);
        snprintf(m.to_user, sizeof m.to_user, "200");
        snprintf(m.to_url, sizeof m.to_url, "peer.example");
        char from[256], to[256];
        EXPECT_EQ(format_from_and_to(co.get(), from, sizeof from, to, sizeof to), 0);
        EXPECT_STREQ(from, c.want_from);
        EXPECT_STREQ(to, c.want_to);
        expect_parses(from, c.parsed_display, c.pd == &tls ? "sips" : "sip", c.parsed_user);
        expect_parses(to, nullptr, c.pd == &tls ? "sips" : "sip", "200");
    }
    auto other = new_call(CI_SIP_TO_ISDN);
    char from[8] = "x", to[8] = "x";
    EXPECT_EQ(format_from_and_to(other.get(), from, sizeof from, to, sizeof to), 4096);
    EXPECT_STREQ(from, "");
}

TEST_F(SipAddressHeaders, AllSettingFromKeepsTheDisplayQuoted)
{
    auto co = new_call(CI_SIP_TO_SIP);
    snprintf(co->cc.sip_from_user_all_setting, sizeof co->cc.sip_from_user_all_setting, "555@gw.example");
    snprintf(co->cc.sip_to_user_all_setting, sizeof co->cc.sip_to_user_all_setting, "777@peer.example");
    snprintf(co->mangled.sip_to_sip.from_display, sizeof co->mangled.sip_to_sip.from_display, "x\"y\r\nVia: z");
    char from[128], to[128];
    EXPECT_EQ(format_from_and_to(co.get(), from, sizeof from, to, sizeof to), 0);
    EXPECT_STREQ(from, "\"x\\\"yVia: z\" <sip:555@gw.example>");
    EXPECT_STREQ(to, "<sip:777@peer.example>");
    expect_parses(from, "\"x\\\"yVia: z\"", "sip", "555");
    expect_parses(to, nullptr, "sip", "777");
}

TEST_F(SipAddressHeaders, InviteHeadersOfARestrictedIsdnCall)
{
    misdn_bchannel bc{};
    bc.pres = 1;
    bc.screen = 1;
    auto co = new_call(CI_ISDN_TO_SIP);
    co->bc = &bc;
    co->cc.use_privacy_header = 0;
    co->cc.anonymous_from_user_on_privacy = 1;
    snprintf(co->cc.rpi_anonymity_flags, sizeof co->cc.rpi_anonymity_flags, "name,uri");
    mangled_pstn_to_sip &m = co->mangled.pstn_to_sip;
    snprintf(m.from_display, sizeof m.from_display, "Bob");
    snprintf(m.from_user, sizeof m.from_user, "301");
    snprintf(m.from_url, sizeof m.from_url, "gw.example");
    snprintf(m.p_asserted_identity, sizeof m.p_asserted_identity, "\"Bob\" <sip:301@gw.example>");
    snprintf(m.p_remote_party_id, sizeof m.p_remote_party_id, "<sip:301@gw.example>");
    snprintf(m.p_called_party_id, sizeof m.p_called_party_id, "<sip:200@gw.example>");
    snprintf(m.p_priv_header[2], sizeof m.p_priv_header[2], "X-Line: 3");
    char buf[1024];
    format_invite_headers(co.get(), buf, sizeof buf);
    EXPECT_STREQ(buf, "P-Asserted-Identity: \"Bob\" <sip:301@gw.example>\r\n"
                      "Privacy: id\r\n"
                      "Remote-Party-ID: <sip:301@gw.example>;party=calling;privacy=full;screen=yes\r\n"
                      "Anonymity: uri,name\r\n"
                      "P-Called-Party-ID: <sip:200@gw.example>\r\n"
                      "X-Line: 3\r\n");
    char from[256], to[256];
    format_from_and_to(co.get(), from, sizeof from, to, sizeof to);
    EXPECT_STREQ(from, "<sip:anonymous@gw.example>");
    expect_parses(m.p_asserted_identity, "\"Bob\"", "sip", "301");
    expect_parses(m.p_remote_party_id, nullptr, "sip", "301");

    // Unrestricted, and a SIP-to-SIP call passing the incoming Privacy on.
    bc.pres = 0;
    bc.screen = 0;
    format_invite_headers(co.get(), buf, sizeof buf);
    EXPECT_NE(std::string(buf).find("Privacy: none\r\n"), std::string::npos) << buf;
    EXPECT_NE(std::string(buf).find("privacy=off;screen=no\r\nAnonymity: off\r\n"), std::string::npos) << buf;
    auto s2s = new_call(CI_SIP_TO_SIP);
    s2s->f.sip_privacy_incoming = 1;
    snprintf(s2s->incoming_sip_privacy_value, sizeof s2s->incoming_sip_privacy_value, "header");
    format_invite_headers(s2s.get(), buf, sizeof buf);
    EXPECT_STREQ(buf, "Privacy: header\r\n");
    s2s->cc.use_privacy_header = 1;
    format_invite_headers(s2s.get(), buf, sizeof buf);
    EXPECT_STREQ(buf, "");
    char tiny[12];
    co->cc.use_privacy_header = 2;
    format_invite_headers(co.get(), tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "P-Asserted-");
}

TEST(SipHeaders, LocalUrlContextAndDtmfValues)
{
    application_create();
    call_leg_sip leg{};
    snprintf(leg.using_ip, sizeof leg.using_ip, "10.0.0.1");
    char buf[64];
    format_full_local_url(&leg, buf, sizeof buf, 0);
    EXPECT_STREQ(buf, "10.0.0.1:5060");
    format_full_local_url(&leg, buf, sizeof buf, 5070);
    EXPECT_STREQ(buf, "10.0.0.1:5070");
    sip_stack ss{};
    ss.sip_port = 5062;
    leg.ss = &ss;
    proxy_def pd{};
    leg.pd = &pd;
    const struct {
        int transport, via;
        const char *want;
    } cases[] = {{SIP_TRANSPORT_TCP, 5070, "10.0.0.1:5062;transport=tcp"},
                 {SIP_TRANSPORT_TLS, 5070, "10.0.0.1:5062"},
                 {SIP_TRANSPORT_UDP, 5070, "10.0.0.1:5070"},
                 {SIP_TRANSPORT_UDP, 0, "10.0.0.1:5062"}};
    for (const auto &c : cases) {
        pd.transport = c.transport;
        format_full_local_url(&leg, buf, sizeof buf, c.via);
        EXPECT_STREQ(buf, c.want) << c.transport << " " << c.via;
    }

    misdn_bchannel bc{};
    bc.port = 4;
    auto co = new_call(CI_ISDN_TO_SIP);
    format_msp_context(nullptr, buf, sizeof buf);
    EXPECT_STREQ(buf, "CID:000000:00");
    format_msp_context(co.get(), buf, sizeof buf);
    EXPECT_STREQ(buf, "CID:000042:00");
    co->bc = &bc;
    format_msp_context(co.get(), buf, sizeof buf);
    EXPECT_STREQ(buf, "CID:000042:p4");

    const char keys[] = "0123456789*#A ";
    const int want[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -1, -1};
    for (int i = 0; keys[i]; i++)
        EXPECT_EQ(convert_char_to_sipinfo_val(keys[i]), want[i]) << keys[i];
}

} // namespace
