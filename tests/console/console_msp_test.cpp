// The timeslot question of the console ("s", follow-up state 6) against the
// simulated media processor: the answer lines and the query on the wire.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "application.h"
#include "console.h"
#include "mc_options.h"
#include "msp_link_env.h"
#include "msp_resource.h"

namespace {

// The console's options exist before the link.
class ConsoleLink : public msp_link_environment {
public:
    void SetUp() override
    {
        msp_link_environment::SetUp();
        mc_init_options();
    }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new ConsoleLink);
mspsim_runner *const &sim = msp_link_environment::sim();

std::string answer_in_state_6(const char *line)
{
    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    int state = 6;
    EXPECT_EQ(mc_handle_input(line, f, &state), 0);
    EXPECT_EQ(state, 0);
    fclose(f);
    std::string s(buf, size);
    free(buf);
    return s;
}

TEST(ConsoleTimeslotQuery, AsksTheProcessorAboutTheTimeslot)
{
    ASSERT_NE(sim, nullptr);
    int counter_before = gp->msp_counter;
    std::string out = answer_in_state_6("5");
    EXPECT_EQ(out, "Channel Usage: 0/" + std::to_string(msp_get_total_channels()) +
                       "\nPrinting info for timeslot 5\n");
    EXPECT_EQ(gp->msp_counter, counter_before + 1);

    // The query reaches the processor with the timeslot, and is answered.
    std::vector<json_value> outgoing = sim->wait_frames("out", 1);
    std::vector<json_value> in = sim->frames("in");
    ASSERT_EQ(in.size(), 1u);
    EXPECT_EQ(in[0]["name"].str(), "FC_SUPVSR_CREATE_CHANNEL");
    EXPECT_EQ(in[0]["type"].num(), 1);
    EXPECT_EQ(in[0]["class"].num(), 6);
    EXPECT_EQ(in[0]["index"].num(), counter_before);
    EXPECT_EQ(in[0]["channel"].num(), 0xFFFF);
    EXPECT_EQ(in[0]["len"].num(), 10);
    EXPECT_EQ(in[0]["fields"]["timeslot"].num(), 5);
    EXPECT_TRUE(in[0]["problems"].a.empty());
    ASSERT_EQ(outgoing.size(), 1u);

    // A timeslot the processor does not have is refused here; nothing is sent.
    for (const char *bad : {"600", "512", "abc", "5 6"})
        EXPECT_EQ(answer_in_state_6(bad), std::string("Ignoring invalid value ") + bad + "\n\r\n");
    EXPECT_EQ(answer_in_state_6("511"), "Channel Usage: 0/" + std::to_string(msp_get_total_channels()) +
                                            "\nPrinting info for timeslot 511\n");
    sim->wait_frames("out", 2);
    in = sim->frames("in");
    ASSERT_EQ(in.size(), 2u);
    EXPECT_EQ(in[1]["fields"]["timeslot"].num(), 511);
}

} // namespace
