// The console's DNS cache commands against the running daemon and dnsmasq
// inside its world, over the status server: an SRV look-up fills the cache
// with the domain's entries, clearing it leaves an empty listing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "console_e2e_util.h"
#include "dnsmasq_runner.h"
#include "sipp_case.h"

namespace {

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

TEST(ConsoleDnsE2E, SrvLookUpAndClear)
{
    e2e_options o = sipp_world_options();
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    mkdir(w.root.path("dns").c_str(), 0755);
    dnsmasq_runner dns({"--srv-host=_sip._udp.example.test,sip1.example.test,5060,10,60",
                        "--srv-host=_sip._tcp.example.test,sip2.example.test,5070,20,40",
                        "--host-record=sip1.example.test,10.0.0.9", "--host-record=sip2.example.test,10.0.0.10"},
                       w.ns.hook(), w.ns.hook_ctx(), w.root.path("dns"));
    ASSERT_TRUE(dns.ok());
    sipp_write_config(w, "usr/conf/tarn.sip", "[general]\nsip_bindport_localhost = @SIP_PORT@\n");
    ASSERT_TRUE(sipp_start_tarn(w, dns.env())) << w.tarn_err();
    ASSERT_TRUE(console_e2e_listening(w));

    std::string listed = console_e2e_ask(w, "dnssexample.test");
    EXPECT_EQ(listed.rfind("######### SRV Cache (size ", 0), 0u) << listed;
    EXPECT_TRUE(has(listed, "transport |UDP|")) << listed;
    EXPECT_TRUE(has(listed, "transport |TCP|")) << listed;
    EXPECT_TRUE(has(listed, "10.0.0.9")) << listed;
    EXPECT_TRUE(has(listed, "10.0.0.10")) << listed;
    EXPECT_EQ(console_e2e_ask(w, "dnsc"), "\r\n");
    EXPECT_EQ(console_e2e_ask(w, "dnsl"), "######### SRV Cache (size 0) ##################\n\n"
                                          "######### A Record Cache (size 0) ##################\n\n\r\n");
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

} // namespace
