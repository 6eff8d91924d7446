// Fifty calls in a row from a telephone on an FXS port to a sipp UAS: each
// is dialled, answered and hung up, no call finds the port still marked in
// use by an earlier one, and every call object goes back to the pool. The
// sanitizer tree runs it against its own tarn.
#include <gtest/gtest.h>

#include <string>

#include "analog_world.h"

namespace {

int count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        n++;
    return n;
}

TEST(AnalogLoad, FiftyCallsFromTheTelephoneLeaveThePortFree)
{
    const int calls = 50;
    analog_world a(analog_row({"ANALOG", "SIP", "1", "p:uas", "42", "\\0", "*", "\\0", ""}), analog_fxs_conf,
                   {"--port", "1:type=FXS"});
    E2E_REQUIRE(a.w);
    ASSERT_TRUE(a.start()) << a.w.tarn_err();
    a.start_uas(calls);
    for (int i = 1; i <= calls; i++) {
        SCOPED_TRACE("call " + std::to_string(i));
        ASSERT_TRUE(a.sim->request({"hook", "1", "off"}));
        // the dial tone of this call
        ASSERT_TRUE(a.msp_saw("FC_VOIP_TONEGEN", (size_t)i, 30000)) << a.w.tarn_out();
        long long channel = a.msp_in("FC_VOIP_TONEGEN").back()["channel"].num();
        for (int digit : {4, 2, 11})
            ASSERT_TRUE(a.tone(channel, digit));
        ASSERT_NE(a.sim->expect("1", "^offhook$", 30000).t, -1) << a.w.tarn_out();
        ASSERT_TRUE(a.sim->request({"hook", "1", "on"}));
        ASSERT_TRUE(e2e_world::wait_for([&] { return count(a.w.tarn_out(), "calling reset_op for") >= i; }, E2E_WAIT_MS));
    }
    process_result r = a.uas.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::string out = a.w.tarn_out();
    EXPECT_EQ(count(out, "which seems to be in use"), 0);
    EXPECT_EQ(sipp_stop_tarn(a.w), "");
}

} // namespace
