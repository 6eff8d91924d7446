// T1 FXO-KS channels rung by cassim's exchange: the inbound on-hook timer
// after the last ring, an answered call, an outgoing call.
#include "cas_live.h"

#include <gtest/gtest.h>

namespace {

const double TICK = 0.010;

class Env : public testing::Environment {
    void SetUp() override
    {
        ASSERT_TRUE(cas_live_start({
            {1, 0, 1, HWCONF_ISDN_PROTOCOL_T1, CAS_SIGNALLING_T1_FXOKS, "role=exchange"},
            {2, 0, 2, HWCONF_ISDN_PROTOCOL_T1, CAS_SIGNALLING_T1_FXOKS, "role=exchange"},
        }));
    }
    void TearDown() override { cas_live_stop(); }
};
testing::Environment *const env = testing::AddGlobalTestEnvironment(new Env);

// The simulator's time stamps of the patterns its exchange wrote.
std::vector<double> exchange_writes(const std::string &transcript, const std::string &channel,
                                    const std::string &bits)
{
    std::vector<double> v;
    std::string key = " " + channel + " > " + bits + "\\n";
    for (size_t pos = 0; (pos = transcript.find(key, pos)) != std::string::npos; pos++) {
        size_t start = transcript.rfind('\n', pos);
        start = start == std::string::npos ? 0 : start + 1;
        v.push_back(atof(transcript.c_str() + start));
    }
    return v;
}

} // namespace

TEST(CasFxo, CallerGivesUpAfterTheLastRing)
{
    // Two short bursts: the second ring stops the timer of the first pause;
    // 4.5 s after the last pause the port reports on hook, once.
    cas_seen.clear();
    ASSERT_TRUE(cas_sim().request({"ring", cas_channel(1), "2", "300", "1000"}));
    std::vector<line_event> ev = cas_seen.wait_count(1, 1, 2000);
    ASSERT_EQ(event_codes(ev), std::vector<unsigned>{CAS_EVENT_RINGING});
    EXPECT_TRUE(cas_wait_in_use(1, 1));
    EXPECT_STREQ(print_cas_call_direction_of_port(1), "C2S");
    ev = cas_seen.wait_count(1, 2, 8000);
    ASSERT_EQ(event_codes(ev), (std::vector<unsigned>{CAS_EVENT_RINGING, CAS_EVENT_ONHOOK}));
    ASSERT_TRUE(cas_wait_state(1, "CAS_STATE_T1_IDLE"));
    EXPECT_EQ(cas_get_port_in_use(1), 0);
    EXPECT_STREQ(print_cas_call_direction_of_port(1), "---");

    std::vector<double> pauses = exchange_writes(cas_sim().transcript(), cas_channel(1), "0101");
    ASSERT_EQ(pauses.size(), 2u);
    // 450 ticks of the timer service after the last pause started
    double last_pause = cas_sim_time(pauses[1]);
    double due = cas_pass_after(last_pause, 450);
    ASSERT_GT(due, 0);
    EXPECT_NEAR(ev[1].t, due, TICK);
    EXPECT_NEAR(ev[1].t - last_pause, 4.5, 4.5 * 0.25);
    EXPECT_EQ(cas_seen.of_port(1).size(), 2u);
}

TEST(CasFxo, AnsweredCallThenTheExchangeDrops)
{
    const std::string ch = cas_channel(2);
    cas_seen.clear();
    ASSERT_TRUE(cas_sim().request({"ring", ch, "3", "2000", "4000"}));
    ASSERT_EQ(event_codes(cas_seen.wait_count(2, 1, 2000)), std::vector<unsigned>{CAS_EVENT_RINGING});
    ASSERT_TRUE(cas_wait_state(2, "CAS_STATE_T1_RINGING_INBOUND"));
    cas_send_event(2, CAS_EVENT_OFFHOOK); // answer
    ASSERT_EQ(cas_sim().expect(ch, "^1111$").text, "1111");
    EXPECT_STREQ(cas_print_port_state_of_port(2), "CAS_STATE_T1_OFFHOOK");
    // the exchange stops ringing; its on hook line changes nothing
    EXPECT_NE(cas_sim().transcript().find(" 0/2 ! answered: ringing stops"), std::string::npos);
    ASSERT_TRUE(cas_sim().request({"hook", ch, "off"})); // the exchange drops the call
    ASSERT_EQ(event_codes(cas_seen.wait_count(2, 2, 2000)),
              (std::vector<unsigned>{CAS_EVENT_RINGING, CAS_EVENT_ONHOOK}));
    ASSERT_TRUE(cas_wait_state(2, "CAS_STATE_T1_IDLE"));

    // an outgoing call, then on hook again
    EXPECT_EQ(cas_release_port(2), 1);
    cas_send_event(2, CAS_EVENT_OFFHOOK);
    EXPECT_EQ(cas_get_port_in_use(2), 1);
    EXPECT_STREQ(print_cas_call_direction_of_port(2), "S2C");
    ASSERT_EQ(cas_sim().expect(ch, "^1111$").text, "1111");
    EXPECT_EQ(cas_release_port(2), 1); // a call object reset puts it on hook
    ASSERT_EQ(cas_sim().expect(ch, "^0101$").text, "0101");
    EXPECT_STREQ(cas_print_port_state_of_port(2), "CAS_STATE_T1_IDLE");
    EXPECT_EQ(cas_get_port_in_use(2), 0);
    EXPECT_EQ(cas_seen.of_port(2).size(), 2u);
}
