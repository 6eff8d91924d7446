// A T1 FXS-KS channel rings a telephone set (cassim's set answers in the
// second ring): the ring cadence on the wire, the caller-id pauses, the
// answer, the release, and the first ring of the next call.
#include "cas_live.h"

#include <gtest/gtest.h>

namespace {

const int PORT = 1;

class Env : public testing::Environment {
    void SetUp() override
    {
        ASSERT_TRUE(cas_live_start({{PORT, 0, 1, HWCONF_ISDN_PROTOCOL_T1, CAS_SIGNALLING_T1_FXSKS,
                                     "role=t1set,rings=2,answer_ms=300"}}));
    }
    void TearDown() override { cas_live_stop(); }
};
testing::Environment *const env = testing::AddGlobalTestEnvironment(new Env);

std::vector<sim_record> patterns_from(size_t index)
{
    std::vector<sim_record> r = cas_sim().records(cas_channel(PORT));
    return std::vector<sim_record>(r.begin() + (long)std::min(index, r.size()), r.end());
}

// The pattern now on the wire lasts `ticks` passes of the timer service:
// the port's timer was armed with that many and expires on the last one.
void expect_lasts(int ticks, const char *what)
{
    ASSERT_EQ(cas_wait_armed(PORT), ticks) << what;
    EXPECT_EQ(cas_passes_until_expiry(PORT, ticks + 10), ticks) << what;
}

} // namespace

TEST(CasFxs, RingCadenceAnswerReleaseAndTheNextCall)
{
    linesim &sim = cas_sim();
    const std::string ch = cas_channel(PORT);
    // start-up sends the channel on hook
    ASSERT_EQ(sim.expect(ch, "^0101$").text, "0101");
    size_t base = 1;

    // A claim that never reached the line is given back by the release
    // and by an on-hook alike.
    ASSERT_EQ(cas_fetch_port(PORT), PORT);
    cas_release_port(PORT);
    EXPECT_EQ(cas_get_port_in_use(PORT), 0);
    ASSERT_EQ(cas_fetch_port(PORT), PORT);
    cas_send_event(PORT, CAS_EVENT_ONHOOK);
    EXPECT_EQ(cas_get_port_in_use(PORT), 0);
    ASSERT_EQ(sim.expect(ch, "^0101$").text, "0101");
    base++;

    cas_seen.clear();
    cas_send_event(PORT, CAS_EVENT_RINGING_START);
    EXPECT_EQ(cas_get_port_in_use(PORT), 1);
    EXPECT_STREQ(cas_print_port_state_of_port(PORT), "CAS_STATE_T1_RINGING_OUTBOUND");
    // ring 2 s, pause 4 s with caller-id at its start, ring; the set answers
    // 300 ms into the second ring
    ASSERT_EQ(sim.expect(ch, "^0000$").text, "0000");
    expect_lasts(200, "ring");
    ASSERT_EQ(sim.expect(ch, "^0101$").text, "0101");
    ASSERT_EQ(event_codes(cas_seen.wait_count(PORT, 1)), std::vector<unsigned>{CAS_EVENT_GENERATE_CID});
    expect_lasts(400, "pause");
    ASSERT_EQ(sim.expect(ch, "^0000$").text, "0000");
    std::vector<line_event> ev = cas_seen.wait_count(PORT, 2);
    ASSERT_EQ(event_codes(ev), (std::vector<unsigned>{CAS_EVENT_GENERATE_CID, CAS_EVENT_OFFHOOK}));
    std::vector<sim_record> p = patterns_from(base);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].text, "0000");
    EXPECT_EQ(p[1].text, "0101");
    EXPECT_EQ(p[2].text, "0000");
    ASSERT_TRUE(cas_wait_state(PORT, "CAS_STATE_T1_OFFHOOK"));
    EXPECT_STREQ(print_cas_call_direction_of_port(PORT), "S2C");
    EXPECT_EQ(cas_timer_ticks(PORT), 0) << "the answer stopped the ring timer";
    base += 3;

    // release towards the set: off hook, then on hook; the set hangs up
    cas_send_event(PORT, CAS_EVENT_ONHOOK);
    ASSERT_EQ(sim.expect(ch, "^1111$").text, "1111");
    ASSERT_EQ(sim.expect(ch, "^0101$").text, "0101");
    EXPECT_EQ(patterns_from(base).size(), 2u);
    base += 2;
    EXPECT_STREQ(cas_print_port_state_of_port(PORT), "CAS_STATE_T1_OFFHOOK");
    ASSERT_TRUE(sim.request({"hook", ch, "on"}));
    ev = cas_seen.wait_count(PORT, 3, 3000);
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[2].event, (unsigned)CAS_EVENT_ONHOOK);
    ASSERT_TRUE(cas_wait_state(PORT, "CAS_STATE_T1_IDLE"));
    EXPECT_EQ(cas_get_port_in_use(PORT), 0);

    // the next call starts with a whole first ring again
    cas_send_event(PORT, CAS_EVENT_RINGING_START);
    ASSERT_EQ(sim.expect(ch, "^0000$").text, "0000");
    expect_lasts(200, "first ring of the next call");
    ASSERT_EQ(sim.expect(ch, "^0101$").text, "0101");
    ev = cas_seen.wait_count(PORT, 4);
    ASSERT_EQ(ev.size(), 4u);
    EXPECT_EQ(ev[3].event, (unsigned)CAS_EVENT_GENERATE_CID);
    p = patterns_from(base);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].text, "0000");
    EXPECT_EQ(p[1].text, "0101");
    cas_send_event(PORT, CAS_EVENT_ONHOOK); // the caller gave up
    EXPECT_STREQ(cas_print_port_state_of_port(PORT), "CAS_STATE_T1_IDLE");
    EXPECT_EQ(cas_get_port_in_use(PORT), 0);

    std::string tr = sim.transcript();
    EXPECT_NE(tr.find(" 0/1 ! set answers after 2 rings"), std::string::npos) << tr;
}
