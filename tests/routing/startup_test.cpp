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

// Comments, a good SIP line and four bad ones; the debug log is the
// standard output (-o).
TEST(StartUp, DialplanFromTheCommandLine)
{
    e2e_world w;
    E2E_REQUIRE(w);
    std::string file = w.root.path("routes.dialplan");
    w.root.write("routes.dialplan", "; routes\n"
                                    "SIP\tISDN\t*\t1\t*\t\t*\t\t\n"
                                    "SIP\tISDN\t*\t1\t*\t\t*\t\t\t\n"
                                    "FOO\tISDN\t*\t1\t*\t\t*\t\t\n"
                                    "SIP\tISDN\t*\t1\t(\t\t*\t\t\n"
                                    "SIP\tISDN\tp:nosuch\t1\t*\t\t*\t\t\n");
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9", "-p", file})) << w.tarn_err();
    std::string out = w.tarn_out();
    EXPECT_NE(out.find("using dialplan: " + file + "\n"), std::string::npos) << out;
    for (const char *line : {"CRITICAL: invalid line 3, wrong number of fields, got 9 instead of 8",
                             "CRITICAL: Error parsing token \"FOO\" in section 1 on line 4, skipping",
                             "CRITICAL: invalid regex ( in dialplan on line 5, skipping line",
                             "CRITICAL: invalid sip port group p:nosuch on line 6, skipping line"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    w.stop_tarn();

    // Blank and TAB-only lines: an empty table (and a quiet sanitizer).
    std::string blank = w.root.path("blank.dialplan");
    w.root.write("blank.dialplan", "\n \n\t\t\t\n\t\t\t\t\t\t\t\t\n");
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9", "-p", blank})) << w.tarn_err();
    EXPECT_NE(w.tarn_out().find("using dialplan: " + blank + "\n"), std::string::npos);
    w.stop_tarn();

    std::string missing = w.root.path("none.dialplan");
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9", "-p", missing})) << w.tarn_err();
    EXPECT_NE(w.tarn_out().find("dialplan: " + missing + " does not exist, starting with no dialplan\n"),
              std::string::npos);
}

} // namespace
