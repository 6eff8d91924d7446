// Caller id in both directions and charge pulses: the FSK caller id of an
// FXO line (multiple and single data message formats, damaged and
// over-long messages), the on-hook caller-id message for an FXS telephone
// (normal and message waiting) and the advance of the charge-pulse rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "analog_callctl.h"
#include "application.h"
#include "call_reset.h"
#include "callctl_world.h"
#include "csm_records.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "pools.h"
#include "state_table_actions.h"

namespace {

class AnalogCid : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(callctl_world(2));
        co_ = get_free_operation_handle(1);
        ASSERT_NE(co_, nullptr);
        if (!gp->experimental_options)
            gp->experimental_options = static_cast<experimental_options *>(calloc(1, sizeof(experimental_options)));
    }
    void TearDown() override
    {
        {
            lock_hold hold(&lock_manager::global_lock);
            reset_op(co_);
        }
        timer_exit();
    }
    // cropped: the bytes the record holds (-1: the count, at most 64, as
    // the media processor's decoder keeps them).
    void parse(int type, std::vector<uint8_t> bytes, int count = -1, int cropped = -1)
    {
        csm_header h{};
        csmchan_cndrxmsg_indication ind{};
        ind.header = &h;
        ind.msg_type_id = (uint32_t)type;
        ind.msg_byte_count = (uint32_t)(count < 0 ? (int)bytes.size() : count);
        ind.msg_byte_count_cropped = (uint32_t)(cropped < 0 ? std::min<int>((int)ind.msg_byte_count, 64) : cropped);
        memcpy(ind.msg_byte, bytes.data(), std::min(bytes.size(), sizeof ind.msg_byte));
        parse_analog_callerid(co_, &ind);
    }
    call_object *co_ = nullptr;
};

std::vector<uint8_t> param(int type, const std::string &text)
{
    std::vector<uint8_t> v{(uint8_t)type, (uint8_t)text.size()};
    v.insert(v.end(), text.begin(), text.end());
    return v;
}
std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> v;
    for (const auto &p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

TEST_F(AnalogCid, MultipleDataMessageFormat)
{
    parse(128, join({param(1, "12101530"), param(2, "0301234567"), param(7, "Erika")}));
    EXPECT_STREQ(co_->analog_oad, "0301234567");
    EXPECT_STREQ(co_->analog_display, "Erika");
    // A parameter that runs past the byte count is not taken; the ones
    // before it are.
    auto msg = join({param(2, "0301"), param(7, "Name that is long")});
    parse(128, msg, (int)msg.size() - 3);
    EXPECT_STREQ(co_->analog_oad, "0301");
    EXPECT_STREQ(co_->analog_display, "");
    // A parameter length of 255 reads nothing beyond the message bytes; a
    // count that claims more than the record holds marks the message
    // damaged.
    parse(128, {2, 255, '1', '2'});
    EXPECT_STREQ(co_->analog_oad, "");
    snprintf(co_->analog_oad, 64, "old");
    parse(128, param(2, "0301"), 255);
    EXPECT_STREQ(co_->analog_oad, "");
    // The FXO caller id keeps 32 characters of a long number.
    parse(128, param(2, std::string(40, '5')));
    EXPECT_EQ(std::string(co_->analog_oad), std::string(32, '5'));
}

TEST_F(AnalogCid, SingleDataMessageFormatWithOffset)
{
    gp->experimental_options->eo_analog_cid_sdmf_offset = 8;
    std::string body = "12101530";
    body += "0301";
    body += (char)('7' | 0x80); // parity bit set
    body += "-X9";
    parse(4, std::vector<uint8_t>(body.begin(), body.end()));
    EXPECT_STREQ(co_->analog_oad, "030179");
    gp->experimental_options->eo_analog_cid_sdmf_offset = 0;
}

TEST_F(AnalogCid, DamagedAndUnknownMessagesLeaveNothing)
{
    snprintf(co_->analog_oad, 64, "old");
    parse(128, param(2, "0301"), -1, 3);
    EXPECT_STREQ(co_->analog_oad, "");
    parse(6, param(2, "0301"));
    EXPECT_STREQ(co_->analog_oad, "");
}

TEST_F(AnalogCid, OnHookMessageForATelephone)
{
    struct tm now {};
    now.tm_mon = 11, now.tm_mday = 10, now.tm_hour = 9, now.tm_min = 5;
    fsk_callerid_message m;
    fsk_callerid_build(&m, "0301234", "Erika", 0, 0, &now);
    EXPECT_EQ(m.type, 128);
    std::vector<uint8_t> want = join({param(1, "12100905"), param(2, "0301234"), param(7, "Erika")});
    EXPECT_EQ(std::vector<uint8_t>(m.bytes, m.bytes + m.length), want);

    fsk_callerid_build(&m, "", "", 1, 1, &now);
    EXPECT_EQ(m.type, 130);
    want = join({{11, 1, 255}, param(1, "12100905")});
    EXPECT_EQ(std::vector<uint8_t>(m.bytes, m.bytes + m.length), want);
    fsk_callerid_build(&m, "", "", 1, 0, &now);
    EXPECT_EQ(m.bytes[2], 0);

    // A name that would reach 128 bytes is left out; the number stays.
    std::string number(63, '1'), name(63, 'N');
    fsk_callerid_build(&m, number.c_str(), name.c_str(), 0, 0, &now);
    EXPECT_EQ(m.length, 10 + 65);
}

// Rules {units, interval, repeats}: repeats 0 advance after one pulse, 2
// after three, -1 never.
TEST_F(AnalogCid, ChargePulseRules)
{
    aoc_definition &a = co_->cc.aocdef;
    a = aoc_definition{};
    a.aoctype = AOC_TYPE_ANALOG12K;
    a.aocintervals[0] = {1, 10, 0};
    a.aocintervals[1] = {1, 20, 2};
    a.aocintervals[2] = {1, 30, -1};
    a.number_of_rules = 3;
    const int expected_rule_after[] = {1, 1, 1, 2, 2, 2, 2};
    for (int pulse = 0; pulse < 7; pulse++) {
        sm_fxs_send_aoc(co_, nullptr, SM_CALL_ACTIVE, 0);
        EXPECT_EQ(a.current, expected_rule_after[pulse]) << pulse;
    }
    EXPECT_EQ(a.total_units, 7);
    // Other kinds send no pulse.
    a.aoctype = AOC_TYPE_CHARGING;
    sm_fxs_send_aoc(co_, nullptr, SM_CALL_ACTIVE, 0);
    EXPECT_EQ(a.total_units, 7);
}

} // namespace
