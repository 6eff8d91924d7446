// The console's DNS look-ups against dnsmasq: an ENUM query with the
// transport and rewrite rule it found, an address query as a pattern, and a
// failed ENUM query once the server is gone.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "dns_test_support.h"
#include "mc_call_control.h"

namespace {

std::string run(int (*handler)(const char *, FILE *, int *), const char *arg)
{
    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    int state = 0;
    testing::internal::CaptureStdout();
    handler(arg, f, &state);
    testing::internal::GetCapturedStdout();
    fclose(f);
    std::string s(buf, size);
    free(buf);
    return s;
}

TEST_F(DnsTest, ConsoleQueries)
{
    std::string out = run(mc_tarn_dns_query_enum, "1.2.3.e164.test");
    EXPECT_NE(out.find(" |!^.*$!sip:u@tcp.test!|\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("failed"), std::string::npos) << out;

    out = run(mc_tarn_dns_query_name, "peer.test");
    EXPECT_EQ(out.rfind("peer.test: |", 0), 0u) << out;
    EXPECT_NE(out.find("10"), std::string::npos) << out;
    // Nothing found: the line with an empty result.
    EXPECT_EQ(run(mc_tarn_dns_query_name, "none.test"), "none.test: ||\n");

    server->stop();
    dns_cache_clear();
    testing::internal::CaptureStderr();
    out = run(mc_tarn_dns_query_enum, "4.5.6.e164.test");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "resolve_naptr failed\n");
}

} // namespace
