// The daemon builds the line port groups at start.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "e2e.h"

namespace {

// The daemon reports CAS and GSM ports out of range while it builds the
// groups (a bogus ISDN port ends the ISDN bring-up: see the line bring-up
// tests).
TEST(PortGroupsDaemon, BogusPortsAreReported)
{
    e2e_world w;
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.cas", "[cas]\nports=150\n");
    w.root.write("usr/conf/tarn.gsm", "[gsm]\nports=7\n");
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    EXPECT_NE(w.tarn_err().find("ignoring cas bogus port 150\n"), std::string::npos) << w.tarn_err();
    EXPECT_NE(w.tarn_err().find("ignoring gsm bogus port 7\n"), std::string::npos) << w.tarn_err();
    EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
}

} // namespace
