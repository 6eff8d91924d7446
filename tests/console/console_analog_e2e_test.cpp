// The console's analog line tests against the running daemon with
// analogsim lines, over the status server: an idle exchange line taken off
// hook and put back, and the wink settings of a telephone port that its
// next off-hook uses.
#include <gtest/gtest.h>

#include <string>

#include "analog_world.h"
#include "console_e2e_util.h"

namespace {

TEST(ConsoleAnalogE2E, OffhookAndWink)
{
    analog_world a(analog_row({"ANALOG", "SIP", "1", "p:uas", "42", "\\0", "*", "\\0", ""}),
                   std::string(analog_fxs_conf) +
                       "[lines]\nports=2\ntones=[de]\nfxo_portup_voltage=10\nfxo_wait_for_oad=no\n",
                   {"--port", "1:type=FXS", "--port", "2:type=FXO"});
    E2E_REQUIRE(a.w);
    ASSERT_TRUE(a.start()) << a.w.tarn_err();
    ASSERT_TRUE(console_e2e_listening(a.w));

    // The exchange line: seized, then released.
    EXPECT_EQ(console_e2e_ask(a.w, "analog_offhook2"), "success\n\r\n");
    EXPECT_NE(a.sim->expect("2", "^offhook$", 20000).t, -1) << a.w.tarn_out();
    EXPECT_EQ(console_e2e_ask(a.w, "analog_offhook2:2"), "success\n\r\n");
    EXPECT_NE(a.sim->expect("2", "^onhook$", 20000).t, -1) << a.w.tarn_out();

    // The telephone's wink: set, then sent when its handset is lifted.
    EXPECT_EQ(console_e2e_ask(a.w, "wink1:100"), "\r\n");
    EXPECT_EQ(console_e2e_ask(a.w, "wink1:100:300"), "PORT 1 OFFSET 100 DURATION 300\n\r\n");
    ASSERT_TRUE(a.sim->request({"hook", "1", "off"}));
    EXPECT_NE(a.sim->expect("1", "^wink300$", 20000).t, -1) << a.w.tarn_out();
    ASSERT_TRUE(a.sim->request({"hook", "1", "on"}));
    EXPECT_EQ(sipp_stop_tarn(a.w), "");
}

} // namespace
