// T1 FXO-KS channels rung by cassim's exchange: the inbound on-hook timer
// after the last ring, an answered call, an outgoing call.
#include "cas_live.h"

#include <gtest/gtest.h>

namespace {

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

// How many times the exchange wrote the pattern on the channel.
size_t exchange_writes(const std::string &channel, const std::string &bits)
{
    std::string transcript = cas_sim().transcript();
    std::string key = " " + channel + " > " + bits + "\\n";
    size_t n = 0;
    for (size_t pos = 0; (pos = transcript.find(key, pos)) != std::string::npos; pos++)
        n++;
    return n;
}

} // namespace

TEST(CasFxo, CallerGivesUpAfterTheLastRing)
{
    // Two short bursts: the second ring stops the timer of the first pause;
    // 450 ticks (4.5 s) after the last pause the port reports on hook, once.
    cas_seen.clear();
    int read_before = cas_lines_read(1);
    ASSERT_TRUE(cas_sim().request({"ring", cas_channel(1), "2", "300", "1000"}));
    std::vector<line_event> ev = cas_seen.wait_count(1, 1, 2000);
    ASSERT_EQ(event_codes(ev), std::vector<unsigned>{CAS_EVENT_RINGING});
    EXPECT_TRUE(cas_wait_in_use(1, 1));
    EXPECT_STREQ(print_cas_call_direction_of_port(1), "C2S");
    // ring, pause, ring, pause: the library has read all four
    ASSERT_TRUE(cas_wait_lines_read(1, read_before + 4, 8000));
    EXPECT_EQ(exchange_writes(cas_channel(1), "0101"), 2u);
    EXPECT_EQ(cas_seen.of_port(1).size(), 1u);
    EXPECT_EQ(cas_wait_armed(1), 450);
    EXPECT_EQ(cas_passes_until_expiry(1, 500), 450);
    ev = cas_seen.wait_count(1, 2, 3000);
    ASSERT_EQ(event_codes(ev), (std::vector<unsigned>{CAS_EVENT_RINGING, CAS_EVENT_ONHOOK}));
    ASSERT_TRUE(cas_wait_state(1, "CAS_STATE_T1_IDLE"));
    EXPECT_EQ(cas_get_port_in_use(1), 0);
    EXPECT_STREQ(print_cas_call_direction_of_port(1), "---");
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
