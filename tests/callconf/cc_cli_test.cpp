// tarn -N and tarn -C print the default call configuration: the same rows,
// with and without their patterns, pinned by one golden file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "e2e.h"

namespace {

std::string golden()
{
    std::ifstream f(TARN_SOURCE_DIR "/tests/callconf/golden/default_call_configuration.txt");
    return std::string((std::istreambuf_iterator<char>(f)), {});
}

TEST(CallConfCommandLine, MinusNPrintsTheDefaultsWithPatterns)
{
    std::string want = golden();
    ASSERT_FALSE(want.empty());
    process_result n = run_process({tarn_binary(), "-N"});
    EXPECT_EQ(n.status, 2);
    EXPECT_EQ(n.out, want);
    EXPECT_NE(n.err.find("TARN EXITCODE 2: Couldn't parse CLI arguments!"), std::string::npos) << n.err;
}

TEST(CallConfCommandLine, MinusCPrintsThemAfterTheStartUpLines)
{
    std::string rows;
    std::istringstream in(golden());
    for (std::string l; std::getline(in, l);)
        rows += l.substr(0, l.find('\t')) + "\n";

    e2e_options o;
    o.media_processor = false;
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    std::string etc = w.root.dir + "/usr/conf";
    EXPECT_EQ(w.run_tarn_to_exit({"-e", etc, "-C"}), 0) << w.tarn_err();
    std::string out = w.tarn_out();
    size_t header = out.find("Default call configuration:\n");
    ASSERT_NE(header, std::string::npos) << out;
    EXPECT_LT(out.find("reading tarn config file: " + etc + "/tarn.conf"), header);
    EXPECT_LT(out.find("using sip config: "), header);
    EXPECT_NE(w.tarn_err().find("host_ifname_vpn: "), std::string::npos); // the network facts were read
    EXPECT_EQ(out.substr(header), rows);
    EXPECT_EQ(out.find("tone config"), std::string::npos); // nothing after it ran
}

} // namespace
