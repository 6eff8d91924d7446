// The daemon reads its tables at start.
#include <gtest/gtest.h>

#include <string>

#include "e2e.h"

namespace {

TEST(StartUp, CallProgressFileIsReadAndItsBadRowsReported)
{
    e2e_world w;
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.cpt", "; tables\n"
                                    "[s2i:mine]\n"
                                    "nt\tanywhere\tALERTING\t180\n"
                                    "nt\tany_state\tCONNECT\t200\tOK\n"
                                    "[s2fxo:fxo]\n"
                                    "BELL\t200\n");
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    std::string err = w.tarn_err(), out = w.tarn_out();
    EXPECT_NE(err.find("ignoring (1) line 3: anywhere\n"), std::string::npos) << err;
    EXPECT_NE(out.find("unknown1 fxo in event BELL\n"), std::string::npos) << out;
    EXPECT_NE(err.find("ignoring(3) line 6: BELL\n"), std::string::npos) << err;
}

} // namespace
