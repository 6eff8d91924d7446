// MFC/R2 on CAS channels without a media processor or a line: the tone
// pair of every signal against Q.441, the passthrough map, the channel
// order of a group, and both compelled registers driven by the signals the
// far exchange sends, with the signals they answer recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <string>
#include <vector>

#include "call_configuration.h"
#include "call_reset.h"
#include "callctl_world.h"
#include "cas_callctl.h"
#include "global_lock.h"
#include "pg_port_groups.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "t1e1casctl.h"

namespace {

// ITU-T Q.441, written out here: frequencies f0..f5 of each direction and
// the frequency indexes of combinations 1..15.
const int q441_forward[6] = {1380, 1500, 1620, 1740, 1860, 1980};
const int q441_backward[6] = {1140, 1020, 900, 780, 660, 540};
const int q441_pair[16][2] = {{-1, -1}, {0, 1}, {0, 2}, {1, 2}, {0, 3}, {1, 3}, {2, 3}, {0, 4}, {1, 4},
                              {2, 4},   {3, 4}, {0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}};

// The combination a signal (0-70) is sent as, 0 for none.
int expected_combination(int s)
{
    if (s >= 11 && s <= 25)
        return s - 10 <= 10 || s == 25 ? (s == 25 ? 15 : s - 10) : 0; // I-11..I-14 have no tone
    if (s >= 26 && s <= 35)
        return s - 25;
    if (s >= 41 && s <= 55)
        return s - 40;
    if (s >= 56 && s <= 65)
        return s - 55;
    if (s == 66)
        return 11;
    return 0;
}

TEST(CasMfcR2, EverySignalHasItsQ441PairOrNone)
{
    for (int direction : {3, 4}) {
        const int *hz = direction == 3 ? q441_forward : q441_backward;
        for (int s = 0; s <= 70; s++) {
            SCOPED_TRACE("direction " + std::to_string(direction) + " signal " + std::to_string(s));
            int c = expected_combination(s);
            int f1 = 0, f2 = 0;
            ASSERT_EQ(mfcr2_signal_frequencies(direction, s, &f1, &f2), c != 0);
            EXPECT_EQ(mfcr2_signal_combination(s), c);
            if (c) {
                EXPECT_EQ(f1, hz[q441_pair[c][0]]);
                EXPECT_EQ(f2, hz[q441_pair[c][1]]);
            }
        }
    }
}

TEST(CasMfcR2, PassthroughMapNamesTheSignalOfACombination)
{
    for (int v = -1; v <= 16; v++) {
        bool valid = v >= 1 && v <= 15;
        EXPECT_EQ(cas_passthrough_map(3, v), valid ? 10 + v : 0) << v;
        EXPECT_EQ(cas_passthrough_map(4, v), valid ? 55 + v : 0) << v;
        EXPECT_EQ(cas_passthrough_map(2, v), 0) << v;
    }
}

TEST(CasMfcR2, ChannelOrderOfAGroup)
{
    struct {
        const char *name;
        int method, direction, count, next;
        std::vector<int> order;
        int next_after;
    } cases[] = {
        {"standard ascending", CHANSEL_STANDARD, CHANSEL_DIRECTION_ASCENDING, 3, 0, {0, 1, 2}, 0},
        {"standard descending", CHANSEL_STANDARD, CHANSEL_DIRECTION_DESCENDING, 3, 0, {2, 1, 0}, 0},
        {"round robin", CHANSEL_ROUNDROBIN, CHANSEL_DIRECTION_ASCENDING, 3, 1, {1, 2, 0}, 2},
        {"round robin wraps", CHANSEL_ROUNDROBIN, CHANSEL_DIRECTION_ASCENDING, 3, 2, {2, 0, 1}, 0},
        {"round robin descending", CHANSEL_ROUNDROBIN, CHANSEL_DIRECTION_DESCENDING, 3, 1, {1, 0, 2}, 2},
        {"index out of range", CHANSEL_ROUNDROBIN, CHANSEL_DIRECTION_ASCENDING, 2, 7, {1, 0}, 0},
        {"empty group", CHANSEL_ROUNDROBIN, CHANSEL_DIRECTION_ASCENDING, 0, 5, {}, 5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        int32_t next = c.next;
        int order[8] = {};
        int n = cas_channel_order(c.method, c.direction, c.count, &next, order);
        EXPECT_EQ(std::vector<int>(order, order + n), c.order);
        EXPECT_EQ(next, c.next_after);
    }
    int32_t next = 0;
    int order[5];
    ASSERT_EQ(cas_channel_order(CHANSEL_RANDOM, CHANSEL_DIRECTION_ASCENDING, 5, &next, order), 5);
    std::vector<int> sorted(order, order + 5);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int>{0, 1, 2, 3, 4})); // every channel once
}

// ---- the registers -------------------------------------------------------------------------

std::vector<std::string> sent;
void record_tone(call_object *, int direction, int signal, int ms)
{
    sent.push_back((direction == 4 ? "B" : "F") + std::to_string(signal) + "/" + std::to_string(ms));
}
void no_wait(int) {}
mfcr2_profile profile;
void test_profile(int, mfcr2_profile *out) { *out = profile; }

class CasRegister : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(callctl_world(2));
        sent.clear();
        profile = mfcr2_profile{-1, -1, 0, R2_VARIANT_ITU, 0};
        cas_register_tone = record_tone;
        cas_register_wait_ms = no_wait;
        cas_register_profile = test_profile;
        co_ = get_free_operation_handle(1);
        ASSERT_NE(co_, nullptr);
        co_->cas_e1_signal_state = 0; // a call without a channel keeps it over its reset
        co_->cas_dad[0] = co_->cas_oad[0] = '\0';
    }
    void TearDown() override
    {
        {
            lock_hold hold(&lock_manager::global_lock);
            reset_op(co_);
        }
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
        cas_register_tone = send_mfcr2_tone;
        timer_exit();
    }
    // One forward combination into the incoming register: its answer pair.
    statemachine_handle_retval forward(int combination)
    {
        co_->cas_dtmf = (char)combination;
        return sm_cas_to_sip_send_mfcr2_backward_signal(co_, nullptr, SM_CAS_MF_SIGNALLING,
                                                        sm_general(GENERAL_EVENT_CAS_MF_SIGNAL_DETECTED));
    }
    // One backward combination into the outgoing register: start, then end.
    void backward(int combination)
    {
        co_->cas_dtmf = (char)combination;
        co_->cas_dtmf_start = 1;
        sm_sip2e1cas_handle_mf(co_, nullptr, SM_CAS_MF_SIGNALLING, 0);
        co_->cas_dtmf_start = 0;
        sm_sip2e1cas_handle_mf(co_, nullptr, SM_CAS_MF_SIGNALLING, 0);
    }
    call_object *co_ = nullptr;
};

TEST_F(CasRegister, IncomingSequencesAnswerWithTheirBackwardSignals)
{
    const std::string A1 = "B41/160", A3 = "B43/160", A5 = "B45/160", A6 = "B46/160", A9 = "B49/160";
    struct {
        const char *name;
        mfcr2_profile p;
        std::vector<int> forward;
        std::vector<std::string> backward;
        const char *dad, *oad;
    } cases[] = {
        // number 1234, category 1, caller 555, then the group II category
        {"number first", {3, 4, 0, R2_VARIANT_ITU, 0}, {1, 2, 3, 4, 1, 5, 5, 5, 1},
         {A1, A1, A1, A5, A5, A5, A5, A3, A6}, "1234", "1555"},
        {"immediate accept", {3, 4, 0, R2_VARIANT_ITU, 1}, {1, 2, 3, 4, 1, 5, 5, 5},
         {A1, A1, A1, A5, A5, A5, A5, A6}, "1234", "1555"},
        {"ends with I-15", {-1, -1, 0, R2_VARIANT_ITU, 0}, {1, 10, 15, 2, 15, 3},
         {A1, A1, A5, A5, A3, A6}, "10", "2"},
        {"caller first", {2, 2, 1, R2_VARIANT_ITU, 0}, {9, 1, 7, 7, 4, 1},
         {A5, A5, A5, A1, A3, A6}, "94", "177"},
        {"ve variant asks with A-9", {2, 1, 0, R2_VARIANT_VENEZUELA, 0}, {5, 1, 2, 3, 6},
         {A5, A9, A9, A3, A6}, "5", "123"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sent.clear();
        co_->cas_e1_signal_state = 0;
        co_->cas_dad[0] = co_->cas_oad[0] = '\0';
        profile = c.p;
        for (int f : c.forward)
            EXPECT_EQ(forward(f).state, SM_NO_DECISION);
        EXPECT_EQ(sent, c.backward);
        EXPECT_STREQ(co_->cas_dad, c.dad);
        EXPECT_STREQ(co_->cas_oad, c.oad);
        EXPECT_TRUE(co_->cas_e1_signal_state & MFCR2_STATE_BACKWARD_SIGNALLING_FINISHED);
        // Once finished, further signals change nothing.
        sent.clear();
        forward(3);
        EXPECT_TRUE(sent.empty());
    }
}

TEST_F(CasRegister, NumberSignalOutsideTheDigitsEndsTheCall)
{
    forward(1);
    statemachine_handle_retval r = forward(12);
    EXPECT_EQ(r.state, SM_DESTROYING);
    EXPECT_EQ(r.event, SM_NO_EVENT);
}

TEST_F(CasRegister, FullNumberCountsAsFinished)
{
    for (int i = 0; i < 63; i++)
        forward(1 + i % 9);
    EXPECT_EQ(strlen(co_->cas_dad), 63u);
    EXPECT_TRUE(co_->cas_e1_signal_state & MFCR2_STATE_BACKWARD_REQUESTING_OAD);
    EXPECT_EQ(sent.back(), "B45/160");
}

TEST_F(CasRegister, OutgoingSendsNumberAndCallerOnTheExchangesRequests)
{
    snprintf(co_->cas_dad, 64, "123");
    snprintf(co_->cas_oad, 64, "555");
    sm_cas_e1_dial_number(co_, nullptr, SM_CAS_MF_SIGNALLING, 0);
    EXPECT_EQ(sent, (std::vector<std::string>{"F11/5000"}));
    sent.clear();
    for (int c : {1, 1, 1, 5, 5, 5, 5, 5, 3})
        backward(c);
    EXPECT_EQ(sent, (std::vector<std::string>{"F12/5000", "F13/5000", "F25/5000", "F11/5000", "F15/5000",
                                              "F15/5000", "F15/5000", "F25/5000", "F25/5000"}));
    EXPECT_EQ(co_->cas_e1_signal_state, 1);
    // A-5 with the caller sent: group II category 1.
    sent.clear();
    backward(5);
    EXPECT_EQ(sent, (std::vector<std::string>{"F26/5000"}));
}

} // namespace
