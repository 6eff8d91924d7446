// The daemon reads the DNS overrides at start when the experimental option
// dns_override is set.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "e2e.h"

namespace {

TEST(DnsDaemon, OverridesAreReadAtStartWhenTheOptionIsSet)
{
    struct {
        const char *option;     // experimental_options of tarn.conf
        bool file;              // the named file exists
        bool critical;          // "cannot read dnsfile" for the default file
    } cases[] = {
        {"dns_override=%s/own.dns", true, false},
        {"dns_override=%s/own.dns", false, true}, // named but missing: the default, also missing
        {"dns_cache=1", false, false},            // not set: not read at all
    };
    for (auto &c : cases) {
        e2e_options o;
        o.capture = false;
        e2e_world w(o);
        E2E_REQUIRE(w);
        char option[512];
        snprintf(option, sizeof option, c.option, w.root.dir.c_str());
        w.root.write("usr/conf/tarn.conf", std::string("[general]\nexperimental_options=") + option + "\n");
        if (c.file)
            w.root.write("own.dns", "a:ov.test:10.5.5.5\n");
        ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
        std::string line = "CRITICAL: cannot read dnsfile " + w.root.dir + "/tmp/tarn.dns";
        EXPECT_EQ(w.tarn_out().find(line) != std::string::npos, c.critical) << option << "\n" << w.tarn_out();
        EXPECT_EQ(w.tarn_out().find("cannot read dnsfile") != std::string::npos, c.critical) << option;
        EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
    }
}

} // namespace
