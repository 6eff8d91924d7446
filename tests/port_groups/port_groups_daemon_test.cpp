// The daemon builds the line port groups at start.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "e2e.h"

namespace {

// The daemon reports ISDN and CAS ports out of range while it builds the groups.
TEST(PortGroupsDaemon, BogusPortsAreReported)
{
    e2e_world w;
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.isdn", "[isdn]\nports=1,40\n");
    w.root.write("usr/conf/tarn.cas", "[cas]\nports=150,1\n");
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    EXPECT_NE(w.tarn_err().find("ignoring isdn bogus port 40\n"), std::string::npos) << w.tarn_err();
    EXPECT_NE(w.tarn_err().find("ignoring cas bogus port 150\n"), std::string::npos) << w.tarn_err();
    EXPECT_EQ(w.stop_tarn(), 128 + SIGTERM);
}

} // namespace
