// The channel book on its own records: outgoing reservations, incoming
// requests with glare, the far side's answers, releases and the listing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "channel_spender.h"
#include "misdn_bchannel.h"

namespace {

struct book {
    channel_spender cs{};
    misdn_bchannel ours{}, theirs{}, third{};
    book(int kind, int behaviour)
    {
        channel_spender_init(&cs, 4);
        channel_spender_init_port(&cs, 1, kind, behaviour, 16);
        ours.pid = 11;
        theirs.pid = 22;
        third.pid = 33;
    }
    ~book()
    {
        for (int p = 0; p <= cs.portmax; p++)
            free(cs.ports[p]);
        free(cs.ports);
    }
    int state(int ch, misdn_bchannel **who = nullptr) { return channel_spender_get_state(&cs, 1, ch, who); }
};

TEST(ChannelSpender, OutgoingRequestsOnE1SkipTheDChannel)
{
    book b(CHANNEL_SPENDER_PRI, CHANNEL_EXCLUSIVE);
    std::string got;
    misdn_bchannel calls[31]{};
    for (auto &c : calls) {
        int ch = -1;
        int r = channel_spender_request_outgoing_channel(&b.cs, 1, 0, &c, &ch);
        if (r == 0)
            got += std::to_string(ch) + ",";
        else
            got += "r" + std::to_string(r);
    }
    EXPECT_EQ(got, "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,r-2");
    EXPECT_EQ(b.state(17), CHANNEL_PENDING_OUTGOING);
    EXPECT_EQ(b.state(16), CHANNEL_FREE);

    int ch = -1;
    EXPECT_EQ(channel_spender_request_outgoing_channel(&b.cs, 1, 5, &b.ours, &ch), -1) << "channel 5 is taken";
    EXPECT_EQ(ch, 0);
    EXPECT_EQ(channel_spender_request_outgoing_channel(&b.cs, 1, 32, &b.ours, &ch), -1);
    EXPECT_EQ(channel_spender_request_outgoing_channel(&b.cs, 3, 0, &b.ours, &ch), -1) << "port not registered";
    EXPECT_EQ(channel_spender_request_outgoing_channel(&b.cs, 99, 0, &b.ours, &ch), -1) << "port beyond the book";
}

TEST(ChannelSpender, AnyBehaviourLetsTheNetworkChoose)
{
    book b(CHANNEL_SPENDER_BRI, CHANNEL_ANY);
    int ch = 0;
    EXPECT_EQ(channel_spender_request_outgoing_channel(&b.cs, 1, 0, &b.ours, &ch), 0);
    EXPECT_EQ(ch, 255);
    EXPECT_EQ(b.state(1), CHANNEL_FREE);
    EXPECT_EQ(b.state(2), CHANNEL_FREE);
    // the network's choice is taken as it comes
    EXPECT_EQ(channel_spender_process_answer(&b.cs, 1, &b.ours, 2, 1), 0);
    EXPECT_EQ(b.state(2), CHANNEL_ACTIVE);
    EXPECT_EQ(channel_spender_process_answer(&b.cs, 1, &b.theirs, 2, 1), -1) << "held by another call";
}

// Glare on channel 5: our SETUP reserved it, an incoming SETUP asks for it.
struct glare_row {
    int ours, theirs;
    int result, answer;
    int state5;
    const char *holder5;  // "ours", "theirs"
};

class Glare : public ::testing::TestWithParam<glare_row> {};

TEST_P(Glare, ResolvedByBothBehaviours)
{
    const glare_row &r = GetParam();
    book b(CHANNEL_SPENDER_PRI, r.ours);
    int ch = 0;
    ASSERT_EQ(channel_spender_request_outgoing_channel(&b.cs, 1, 5, &b.ours, &ch), 0);
    ASSERT_EQ(ch, 5);
    int answer = -7;
    EXPECT_EQ(channel_spender_process_incoming_channel_request(&b.cs, 1, 5, r.theirs, &answer, &b.theirs), r.result);
    if (r.result == 0) {
        EXPECT_EQ(answer, r.answer);
    }
    misdn_bchannel *who = nullptr;
    EXPECT_EQ(b.state(5, &who), r.state5);
    EXPECT_EQ(who, std::string(r.holder5) == "ours" ? &b.ours : &b.theirs);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Glare,
    ::testing::Values(glare_row{CHANNEL_EXCLUSIVE, CHANNEL_EXCLUSIVE, -3, 0, CHANNEL_PENDING_OUTGOING, "ours"},
                      glare_row{CHANNEL_EXCLUSIVE, CHANNEL_ALTERNATIVE, 0, 1, CHANNEL_PENDING_OUTGOING, "ours"},
                      glare_row{CHANNEL_ALTERNATIVE, CHANNEL_EXCLUSIVE, 0, 5, CHANNEL_ACTIVE, "theirs"},
                      glare_row{CHANNEL_ALTERNATIVE, CHANNEL_ALTERNATIVE, 0, 1, CHANNEL_PENDING_OUTGOING, "ours"},
                      glare_row{CHANNEL_DEFAULT, CHANNEL_EXCLUSIVE, -1, 0, CHANNEL_PENDING_OUTGOING, "ours"}));

TEST(ChannelSpender, GlareWithoutAFreeChannelAndWithBehaviourAny)
{
    book b(CHANNEL_SPENDER_BRI, CHANNEL_EXCLUSIVE);
    int ch = 0, answer = 0;
    ASSERT_EQ(channel_spender_request_outgoing_channel(&b.cs, 1, 1, &b.ours, &ch), 0);
    ASSERT_EQ(channel_spender_process_incoming_channel_request(&b.cs, 1, 0, CHANNEL_ANY, &answer, &b.third), 0);
    EXPECT_EQ(answer, 2);
    EXPECT_EQ(channel_spender_process_incoming_channel_request(&b.cs, 1, 1, CHANNEL_ALTERNATIVE, &answer, &b.theirs),
              -2);

    book any(CHANNEL_SPENDER_BRI, CHANNEL_ANY);
    // with behaviour ANY nothing is ever pending; force the case through our own answer
    ASSERT_EQ(channel_spender_process_answer(&any.cs, 1, &any.ours, 1, 1), 0);
    EXPECT_EQ(channel_spender_process_incoming_channel_request(&any.cs, 1, 1, CHANNEL_EXCLUSIVE, &answer, &any.theirs),
              -1)
        << "already active";
}

TEST(ChannelSpender, IncomingRequests)
{
    book b(CHANNEL_SPENDER_PRI, CHANNEL_EXCLUSIVE);
    int answer = 0;
    // any channel: the first free one, and our exclusive behaviour marks the call
    EXPECT_EQ(channel_spender_process_incoming_channel_request(&b.cs, 1, 255, CHANNEL_ANY, &answer, &b.ours), 0);
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(b.ours.exclusive, 1);
    // a given channel, even the D-channel number, when it is free
    EXPECT_EQ(channel_spender_process_incoming_channel_request(&b.cs, 1, 16, CHANNEL_EXCLUSIVE, &answer, &b.theirs), 0);
    EXPECT_EQ(answer, 16);
    struct {
        int ch, remote, result;
    } refused[] = {
        {1, CHANNEL_EXCLUSIVE, -1},   // already active
        {7, CHANNEL_ANY, -1},         // a given channel with "any" from the far side
        {32, CHANNEL_EXCLUSIVE, -1},  // beyond the port
        {-3, CHANNEL_EXCLUSIVE, -1},
    };
    for (const auto &r : refused)
        EXPECT_EQ(channel_spender_process_incoming_channel_request(&b.cs, 1, r.ch, r.remote, &answer, &b.third),
                  r.result)
            << r.ch;
    EXPECT_EQ(channel_spender_process_incoming_channel_request(&b.cs, 2, 1, CHANNEL_EXCLUSIVE, &answer, &b.third), -1)
        << "port not registered";
}

TEST(ChannelSpender, AnswersToOurRequest)
{
    {
        book b(CHANNEL_SPENDER_PRI, CHANNEL_EXCLUSIVE);
        int ch = 0;
        ASSERT_EQ(channel_spender_request_outgoing_channel(&b.cs, 1, 5, &b.ours, &ch), 0);
        EXPECT_EQ(channel_spender_process_answer(&b.cs, 1, &b.ours, 7, 1), -1) << "exclusive: another channel";
        EXPECT_EQ(b.state(5), CHANNEL_FREE) << "our reservation is given back";
        ASSERT_EQ(channel_spender_request_outgoing_channel(&b.cs, 1, 5, &b.ours, &ch), 0);
        EXPECT_EQ(channel_spender_process_answer(&b.cs, 1, &b.ours, 5, 1), 0);
        EXPECT_EQ(b.state(5), CHANNEL_ACTIVE);
        EXPECT_EQ(channel_spender_process_answer(&b.cs, 1, &b.ours, 5, 1), 0) << "a repeated answer";
        EXPECT_EQ(channel_spender_is_channel_assigned(&b.cs, &b.ours, 1, 5), 1);
        EXPECT_EQ(channel_spender_is_channel_assigned(&b.cs, &b.theirs, 1, 5), 0);
    }
    {
        book b(CHANNEL_SPENDER_PRI, CHANNEL_ALTERNATIVE);
        int ch = 0, answer = 0;
        ASSERT_EQ(channel_spender_request_outgoing_channel(&b.cs, 1, 5, &b.ours, &ch), 0);
        EXPECT_EQ(channel_spender_process_answer(&b.cs, 1, &b.ours, 9, 0), 0) << "alternative accepted";
        EXPECT_EQ(b.state(5), CHANNEL_FREE);
        EXPECT_EQ(b.state(9), CHANNEL_ACTIVE);
        ASSERT_EQ(channel_spender_process_incoming_channel_request(&b.cs, 1, 3, CHANNEL_EXCLUSIVE, &answer, &b.third),
                  0);
        ASSERT_EQ(channel_spender_request_outgoing_channel(&b.cs, 1, 0, &b.theirs, &ch), 0);
        EXPECT_EQ(ch, 1);
        EXPECT_EQ(channel_spender_process_answer(&b.cs, 1, &b.theirs, 3, 0), -1) << "cannot accept a busy one";
        EXPECT_EQ(b.state(1), CHANNEL_FREE);
    }
    {
        book b(CHANNEL_SPENDER_BRI, CHANNEL_DEFAULT);
        EXPECT_EQ(channel_spender_process_answer(&b.cs, 1, &b.ours, 1, 1), -1);
    }
}

TEST(ChannelSpender, AnswerChannelNumbersFromTheWireAreChecked)
{
    book b(CHANNEL_SPENDER_BRI, CHANNEL_ALTERNATIVE);
    int ch = 0;
    ASSERT_EQ(channel_spender_request_outgoing_channel(&b.cs, 1, 0, &b.ours, &ch), 0);
    ASSERT_EQ(ch, 1);
    for (int named : {0, 255})
        EXPECT_EQ(channel_spender_process_answer(&b.cs, 1, &b.ours, named, 0), 0) << named;
    EXPECT_EQ(b.state(1), CHANNEL_PENDING_OUTGOING) << "an answer without a channel leaves the reservation";
    for (int named : {3, 31, 32, 100, 254, -1, 1 << 20})
        EXPECT_EQ(channel_spender_process_answer(&b.cs, 1, &b.ours, named, 0), -1) << named;
    EXPECT_EQ(b.state(1), CHANNEL_PENDING_OUTGOING);
    EXPECT_EQ(channel_spender_is_channel_assigned(&b.cs, &b.ours, 1, 1 << 20), 0);
    EXPECT_EQ(channel_spender_release_channel(&b.cs, &b.ours, 1, 1 << 20), 0);
    EXPECT_EQ(b.state(1), CHANNEL_FREE) << "a release with a bad channel frees what the call holds";
}

TEST(ChannelSpender, ReleaseAndListing)
{
    book b(CHANNEL_SPENDER_BRI, CHANNEL_EXCLUSIVE);
    int ch = 0;
    ASSERT_EQ(channel_spender_request_outgoing_channel(&b.cs, 1, 0, &b.ours, &ch), 0);
    b.ours.channel = ch;
    char *text = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&text, &len);
    channel_spender_list_ports(f, &b.cs);
    fclose(f);
    std::string listing(text, len);
    free(text);
    char want[128];
    snprintf(want, sizeof want, "Port 1:01 -> CHANNEL_PENDING_OUTGOING - bc %p pid 11\n", (void *)&b.ours);
    EXPECT_NE(listing.find("Port 1 is configured\nBehaviour EXCLUSIVE\nChannels 2\nlisting channels:\n"),
              std::string::npos)
        << listing;
    EXPECT_NE(listing.find(want), std::string::npos) << listing;
    EXPECT_NE(listing.find("Port 1:02 -> CHANNEL_FREE - bc (nil) pid -1\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("Port 2 is not configured\n"), std::string::npos);
    EXPECT_EQ(channel_spender_release_channel(&b.cs, &b.ours, 1, ch), 0);
    EXPECT_EQ(b.state(1), CHANNEL_FREE);
    EXPECT_EQ(channel_spender_release_channel(&b.cs, &b.ours, 3, 1), 0) << "unregistered port";
    EXPECT_STREQ(chansel_behaviour2str(7), "ERROR");
    EXPECT_STREQ(channel_state2str(3), "CHANNEL_INVALID");
    EXPECT_EQ(channel_spender_get_dchannel(&b.cs, 1), 0);
}

TEST(ChannelSpenderDeathTest, InvalidPrimaryRateDChannelEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    channel_spender cs{};
    channel_spender_init(&cs, 2);
    EXPECT_EXIT(channel_spender_init_port(&cs, 1, CHANNEL_SPENDER_PRI, CHANNEL_EXCLUSIVE, 32),
                ::testing::ExitedWithCode(117), "channel_spender_init_port: invalid dchannel given");
    channel_spender_init_port(&cs, 1, CHANNEL_SPENDER_BRI, CHANNEL_EXCLUSIVE, 99);
    EXPECT_EQ(channel_spender_get_dchannel(&cs, 1), 0) << "basic rate has no D-channel number";
    free(cs.ports[1]);
    free(cs.ports);
}

}  // namespace
