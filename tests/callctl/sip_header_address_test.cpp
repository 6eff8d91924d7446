// Addresses of SIP headers: display part, scheme choice, user and host forms,
// escaping of display names, bounds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "proxy_def.h"
#include "sip_header_address.h"
#include "sip_stack.h"

namespace {

class SipHeaderAddress : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        application_create();
        init_default_call_configuration();
    }
    void SetUp() override
    {
        co = (call_object *)calloc(1, sizeof *co);
        cc_clone_call_configuration(&co->cc, &gp->default_call_configuration);
        co->cl_sip = &leg;
        leg.ss = &stack;
    }
    void TearDown() override { free(co); }
    std::string address(const char *display, const char *user, const char *host, const char *url = "",
                        const char *hdr = "", size_t size = 256)
    {
        char buf[256] = "old";
        EXPECT_EQ(format_generic_sip_header_address(co, &leg, buf, size, display, user, host, url, hdr), buf);
        return buf;
    }
    call_object *co = nullptr;
    call_leg_sip leg{};
    sip_stack stack{};
    proxy_def pd{};
};

TEST_F(SipHeaderAddress, Forms)
{
    snprintf(co->cc.sip_on_empty_user, sizeof co->cc.sip_on_empty_user, "%s", "");
    snprintf(co->cc.sip_on_empty_display, sizeof co->cc.sip_on_empty_display, "%s", "");
    EXPECT_EQ(address("Alice", "123", "h.test", ";user=phone"), "\"Alice\" <sip:123@h.test;user=phone>");
    EXPECT_EQ(address(nullptr, "123", "h.test", "", ";tag=1"), "<sip:123@h.test>;tag=1");
    EXPECT_EQ(address("", "", "h.test"), "<sip:h.test>");
    EXPECT_EQ(address(nullptr, nullptr, nullptr), "<sip:anonymous>");
    EXPECT_EQ(address(nullptr, "123", "", ";user=phone", ";x"), "<sip:anonymous;user=phone>;x");
    EXPECT_EQ(address("D", "u", "h", nullptr, nullptr), "\"D\" <sip:u@h>");

    // Replacements of an empty user and of a given but empty display name.
    snprintf(co->cc.sip_on_empty_user, sizeof co->cc.sip_on_empty_user, "%s", "anon");
    snprintf(co->cc.sip_on_empty_display, sizeof co->cc.sip_on_empty_display, "%s", "Unknown");
    EXPECT_EQ(address("", "", "h"), "\"Unknown\" <sip:anon@h>");
    EXPECT_EQ(address(nullptr, nullptr, "h"), "<sip:anon@h>");

    // Without a call nothing replaces and the scheme is "sip".
    char buf[64];
    format_generic_sip_header_address(nullptr, nullptr, buf, sizeof buf, "", "", "h", "", "");
    EXPECT_STREQ(buf, "<sip:h>");
}

TEST_F(SipHeaderAddress, DisplayNamesAreEscaped)
{
    struct {
        const char *display, *out;
    } cases[] = {
        {"Plain Name", "\"Plain Name\" <sip:u@h>"},
        {"Say \"hi\"", "\"Say \\\"hi\\\"\" <sip:u@h>"},
        {"back\\slash", "\"back\\\\slash\" <sip:u@h>"},
        {"line\r\nX-Injected: 1", "\"lineX-Injected: 1\" <sip:u@h>"},
        {"\"", "\"\\\"\" <sip:u@h>"},
    };
    for (auto &c : cases)
        EXPECT_EQ(address(c.display, "u", "h"), c.out) << c.display;

    char inner[6];
    format_sip_quoted_display(inner, sizeof inner, "ab\"cd");
    EXPECT_STREQ(inner, "ab\\\"c");
    format_sip_quoted_display(inner, 4, "ab\"cd"); // never half an escape
    EXPECT_STREQ(inner, "ab");
}

TEST_F(SipHeaderAddress, SchemeByTransport)
{
    struct {
        int sips_on_tls;
        bool with_pd;
        int pd_transport, stack_transport;
        const char *scheme;
    } cases[] = {
        {1, true, SIP_TRANSPORT_TLS, 0, "sips"},
        {1, true, SIP_TRANSPORT_TCP, SIP_TRANSPORT_TLS, "sip"}, // the proxy decides
        {1, false, 0, SIP_TRANSPORT_TLS | SIP_TRANSPORT_UDP, "sips"},
        {1, false, 0, SIP_TRANSPORT_UDP, "sip"},
        {0, true, SIP_TRANSPORT_TLS, SIP_TRANSPORT_TLS, "sip"},
    };
    for (auto &c : cases) {
        co->cc.sips_on_tls = c.sips_on_tls;
        pd.transport = c.pd_transport;
        leg.pd = c.with_pd ? &pd : nullptr;
        stack.transport = c.stack_transport;
        EXPECT_STREQ(format_sip_transport(co), c.scheme);
        EXPECT_EQ(address(nullptr, "u", "h"), std::string("<") + c.scheme + ":u@h>");
    }
    leg.pd = nullptr;
    EXPECT_STREQ(format_sip_transport(nullptr), "sip");
    leg.ss = nullptr;
    EXPECT_STREQ(format_sip_transport(co), "sip");
    co->cl_sip = nullptr;
    EXPECT_STREQ(format_sip_transport(co), "sip");
}

TEST_F(SipHeaderAddress, BoundedByTheBuffer)
{
    std::string user(300, 'u');
    char buf[32];
    memset(buf, 'x', sizeof buf);
    format_generic_sip_header_address(co, &leg, buf, 20, "Display", user.c_str(), "h", "", "");
    EXPECT_EQ(strlen(buf), 19u);
    EXPECT_EQ(buf[20], 'x');
    EXPECT_EQ(format_generic_sip_header_address(co, &leg, buf, 0, "D", "u", "h", "", ""), buf);
    EXPECT_EQ(address("D", "u", "h", "", "", 1), "");
}

} // namespace
