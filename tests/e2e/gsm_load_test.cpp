// Fifty calls in a row from a modem to a sipp UAS: each is answered and
// ended, no call finds its port still claimed by an earlier one, and every
// call object goes back to the pool. The sanitizer tree runs it against its
// own tarn.
#include <gtest/gtest.h>

#include <string>

#include "gsm_world.h"

namespace {

TEST(GsmLoad, FiftyCallsFromTheModemLeaveThePortIdle)
{
    const int calls = 50;
    gsm_world g(gsm_route_4917);
    E2E_REQUIRE(g.w);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    g.start_uas("", calls);
    for (int i = 1; i <= calls; i++) {
        SCOPED_TRACE("call " + std::to_string(i));
        ASSERT_TRUE(g.sim->request({"call", "1", "+4917012345678"}));
        ASSERT_NE(g.sim->expect(1, "^ATA$", 30000), "") << g.w.tarn_out();
        ASSERT_TRUE(g.sim->request({"hangup", "1"}));
        // The gateway's hang-up reaches the modem before the next call rings.
        ASSERT_NE(g.sim->expect(1, "^ATH$", 30000), "");
        ASSERT_TRUE(e2e_world::wait_for([&] { return gsm_count(g.w.tarn_out(), "calling reset_op for") >= i; }, E2E_WAIT_MS));
    }
    process_result r = g.uas.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(gsm_count(g.w.tarn_out(), "GSM port already marked as IN_USE"), 0);
    EXPECT_EQ(gsm_count(g.w.tarn_out(), "G IND: RING (incoming GSM Call) on port 1"), calls);
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

} // namespace
