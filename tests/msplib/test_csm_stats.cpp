// Statistics replies and the stores the console polls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "csm_message.h"
#include "csm_parse.h"
#include "csm_stats.h"
#include "csm_test_util.h"

namespace {

// A reply frame: header, then 32-bit little-endian values.
std::vector<uint8_t> reply(int type, int cls, const std::vector<uint32_t> &values)
{
    std::vector<uint8_t> f = {0, 1, (uint8_t)type, (uint8_t)cls, 0, 0, 0, 0};
    for (uint32_t v : values)
        for (int k = 0; k < 4; k++)
            f.push_back((uint8_t)(v >> (8 * k)));
    f[0] = (uint8_t)f.size();
    return f;
}

class CsmStats : public ::testing::Test {
protected:
    void SetUp() override
    {
        memset(&msp_tdm_sync_stats, 0, sizeof msp_tdm_sync_stats);
        memset(msp_plyerr_stats, 0, sizeof msp_plyerr_stats);
    }
    magic_csm feed(const std::vector<uint8_t> &f, int channel, int *success)
    {
        return msp_buffer_to_struct(f.data(), (int)f.size(), success, channel);
    }
};

TEST_F(CsmStats, TdmSynchronisationReplies)
{
    struct {
        const char *name;
        std::vector<uint32_t> values;
        uint32_t sequence, error_sequence, last_error_code;
        int success;
        bool have_rx_deviation;
    } cases[] = {
        {"nine counters", {1, 2, 3, 4, 5, 6, 7, 8, 9}, 1, 0, 0, 1, false},
        {"ten counters", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 1, 0, 0, 1, true},
        {"eight counters (40 bytes) are not stored", {1, 2, 3, 4, 5, 6, 7, 8}, 0, 1, 40, 0, false},
        {"wrong revision is stored and flagged", {2, 2, 3, 4, 5, 6, 7, 8, 9}, 1, 1, 2, 0, false},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        log_capture log;
        msp_tdm_sync_requested_fc = 0x0101;
        int success = -1;
        magic_csm m = feed(reply(0x91, 5, c.values), 0xFFFF, &success);
        ASSERT_FALSE(csm_msg_is_null(m));
        EXPECT_EQ(success, c.success);
        const msp_tdm_sync_statistics_store &s = msp_tdm_sync_stats;
        EXPECT_EQ(s.sequence, c.sequence);
        EXPECT_EQ(s.error_sequence, c.error_sequence);
        EXPECT_EQ(s.last_error_code, c.last_error_code);
        if (c.sequence) {
            EXPECT_EQ(s.data.format_revision, c.values[0]);
            EXPECT_EQ(s.data.max_transmitter_deviation, 9u);
            EXPECT_EQ(s.data.have_max_receiver_deviation, c.have_rx_deviation ? 1u : 0u);
            EXPECT_EQ(s.data.max_receiver_deviation, c.have_rx_deviation ? 10u : 0u);
            EXPECT_EQ(s.msg_length, 8 + 4 * c.values.size());
            EXPECT_EQ(s.requested_fc, 0x0101u);
            EXPECT_NE(s.acquire_time, 0);
            EXPECT_EQ(s.data.header, nullptr);
        } else {
            EXPECT_TRUE(log.has("CRITICAL: TDM_SYNC_STATISTICS reply too short: msg_length 40 (0x28) "
                                "bytes => only 8 of the expected 9..10 counters; not storing"))
                << log.all();
        }
        if (c.values[0] != 1) {
            EXPECT_TRUE(log.has("CRITICAL: TDM_SYNC_STATISTICS unexpected format revision: 2 (0x2), "
                                "expected 1 (0x1)"));
        }
        delete_csm_msg(m);
    }
}

TEST_F(CsmStats, PlayoutErrorReplies)
{
    int success = -1;
    magic_csm m = feed(reply(7, 1, {2, 20, 30, 40, 5}), 12, &success);
    EXPECT_EQ(success, 1);
    EXPECT_EQ(msp_plyerr_stats[12].sequence, 1u);
    EXPECT_EQ(msp_plyerr_stats[12].error_sequence, 0u);
    EXPECT_EQ(msp_plyerr_stats[12].data.silence_concealment, 30u);
    EXPECT_EQ(msp_plyerr_stats[12].data.endpoint_detection_errors, 5u);
    EXPECT_EQ(msp_plyerr_stats[12].msg_length, 28u);
    delete_csm_msg(m);

    // Revision 3: stored, flagged, the revision kept as the error.
    m = feed(reply(7, 1, {3, 1, 1, 1, 1}), 12, &success);
    EXPECT_EQ(success, 0);
    EXPECT_EQ(msp_plyerr_stats[12].sequence, 2u);
    EXPECT_EQ(msp_plyerr_stats[12].error_sequence, 1u);
    EXPECT_EQ(msp_plyerr_stats[12].last_error_code, 3u);
    delete_csm_msg(m);

    // Short: not stored, the length kept as the error.
    success = -1;
    m = feed(reply(7, 1, {2, 1, 1, 1}), 12, &success);
    EXPECT_EQ(success, 0);
    EXPECT_EQ(msp_plyerr_stats[12].sequence, 2u);
    EXPECT_EQ(msp_plyerr_stats[12].error_sequence, 2u);
    EXPECT_EQ(msp_plyerr_stats[12].last_error_code, 24u);
    delete_csm_msg(m);

    // Channel 255 and above: parsed and logged, stored nowhere.
    log_capture log;
    m = feed(reply(7, 1, {2, 1, 1, 1, 1}), 255, &success);
    ASSERT_FALSE(csm_msg_is_null(m));
    EXPECT_EQ(m.u_csmchan_voip_plyerr_response->interpolative_concealment, 1u);
    EXPECT_TRUE(log.has("CRITICAL: VoIP_PLYERR reply for out-of-range channel 255, cannot store"));
    delete_csm_msg(m);
    for (const msp_plyerr_store &s : msp_plyerr_stats)
        if (&s != &msp_plyerr_stats[12]) {
            EXPECT_EQ(s.sequence + s.error_sequence, 0u);
        }
}

TEST_F(CsmStats, RejectedQueriesCountAsErrors)
{
    int success = -1;
    // The device rejects the TDM statistics query (class 5, type 0x91) ...
    std::vector<uint8_t> tdm = hex_bytes("12 01 02 06 1e 00 00 00 ad ff ff ff 08 03 91 05 01 01");
    magic_csm m = feed(tdm, 0xFFFF, &success);
    delete_csm_msg(m);
    EXPECT_EQ(msp_tdm_sync_stats.error_sequence, 1u);
    EXPECT_EQ(msp_tdm_sync_stats.sequence, 0u);
    EXPECT_EQ(msp_tdm_sync_stats.last_error_code, 0xFFADu);
    // ... and the playout query of channel 12 (class 1, type 7).
    std::vector<uint8_t> ply = hex_bytes("12 01 02 06 1e 00 00 00 de ff 0c 00 08 04 07 01 00 00");
    m = feed(ply, 0xFFFF, &success);
    delete_csm_msg(m);
    EXPECT_EQ(msp_plyerr_stats[12].error_sequence, 1u);
    EXPECT_EQ(msp_plyerr_stats[12].last_error_code, 0xFFDEu);
}

TEST_F(CsmStats, BitErrorAndSrtpCounters)
{
    int success = -1;
    std::vector<uint32_t> bert;
    for (uint32_t i = 1; i <= 11; i++)
        bert.push_back(i * 100);
    magic_csm m = feed(reply(35, 1, bert), 4, &success);
    ASSERT_FALSE(csm_msg_is_null(m));
    EXPECT_EQ(m.u_csmchan_bert_stats_response->statistics_version, 100u);
    EXPECT_EQ(m.u_csmchan_bert_stats_response->number_of_lock_transitions, 800u);
    EXPECT_EQ(m.u_csmchan_bert_stats_response->number_of_packets_lost, 1100u);
    delete_csm_msg(m);

    // Revision word, then per direction 8+8+4+8+8+4 bytes, low byte first.
    std::vector<uint8_t> f = {90, 1, 24, 1, 0, 0, 0, 0, 3, 0};
    auto put = [&f](uint64_t v, int bytes) {
        for (int k = 0; k < bytes; k++)
            f.push_back((uint8_t)(v >> (8 * k)));
    };
    for (int dir = 0; dir < 2; dir++) {
        uint64_t base = dir ? 0x2000000000ull : 0x1000000000ull;
        put(base + 1, 8);
        put(base + 2, 8);
        put(3 + dir, 4);
        put(base + 4, 8);
        put(base + 5, 8);
        put(6 + dir, 4);
    }
    ASSERT_EQ(f.size(), 90u);
    m = feed(f, 4, &success);
    ASSERT_FALSE(csm_msg_is_null(m));
    const csmchan_ct_srtp_stats_response *r = m.u_csmchan_ct_srtp_stats_response;
    EXPECT_EQ(r->format_revision, 3u);
    EXPECT_EQ(r->tx_srtp_encrypted, 0x1000000001ull);
    EXPECT_EQ(r->tx_srtp_non_authenticated, 3u);
    EXPECT_EQ(r->tx_srtcp_authenticated, 0x1000000005ull);
    EXPECT_EQ(r->tx_srtcp_non_authenticated, 6u);
    EXPECT_EQ(r->rx_srtp_encrypted, 0x2000000001ull);
    EXPECT_EQ(r->rx_srtp_non_authenticated, 4u);
    EXPECT_EQ(r->rx_srtcp_non_authenticated, 7u);
    delete_csm_msg(m);
}

} // namespace
