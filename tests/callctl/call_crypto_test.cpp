// SRTP keys of a leg: own offers, far offers and answers, the decoding of
// far keys and the suite both sides agree on.
#include <cstring>
#include <string>

#include "base64.h"
#include "call_crypto.h"
#include "sdp_test_fixture.h"

namespace {

class CallCrypto : public SdpCall {
protected:
    void SetUp() override
    {
        SdpCall::SetUp();
        co->cc.srtp_mode = CC_SRTP_OPTIONAL;
        co->cc.srtp_crypto_suites = cc_parse_crypto_suites("AES_CM_80:AES_CM_32:F8_80");
    }
    // A far line with a known 30-byte key.
    static std::string far_line(int tag, const char *suite, const char *extra = "")
    {
        char b64[64];
        plaintext_to_base64(key30, 30, b64, sizeof b64);
        return std::to_string(tag) + " " + suite + " inline:" + b64 + extra;
    }
    void store_far(int slot, const std::string &line)
    {
        free(in.crypto->in[slot].sdp_crypto);
        in.crypto->in[slot].sdp_crypto = strdup(line.c_str());
    }
    static constexpr char key30[31] = "0123456789abcdefghijklmnopqrst";
};

TEST_F(CallCrypto, OwnOfferHasOneLinePerSuiteInOrder)
{
    call_crypto_update(co, CRYPTO_OFFER_SENT);
    ASSERT_NE(in.crypto, nullptr);
    EXPECT_EQ(in.crypto->offer_state, CRYPTO_OFFER_SENT);
    const char *names[] = {"1 AES_CM_128_HMAC_SHA1_80 inline:", "2 AES_CM_128_HMAC_SHA1_32 inline:",
                           "3 F8_128_HMAC_SHA1_80 inline:"};
    for (int i = 0; i < 3; i++) {
        const char *line = in.crypto->out[i].sdp_crypto;
        ASSERT_NE(line, nullptr);
        ASSERT_EQ(strncmp(line, names[i], strlen(names[i])), 0) << line;
        EXPECT_EQ(strlen(line + strlen(names[i])), 40u);
        char raw[64];
        ASSERT_EQ(base64_to_plaintext(line + strlen(names[i]), raw, sizeof raw), 30);
        EXPECT_EQ(memcmp(raw, in.crypto->out[i].key, 30), 0);
        EXPECT_EQ(in.crypto->out[i].key_length, 30);
        EXPECT_EQ(in.crypto->out_suite[i], i + 1);
    }
}

// Two offers within the same second carry different keys.
TEST_F(CallCrypto, KeysDifferBetweenOffers)
{
    call_crypto_update(co, CRYPTO_OFFER_SENT);
    std::string first(in.crypto->out[0].key, 30);
    call_crypto_update(co, CRYPTO_OFFER_SENT);
    EXPECT_NE(first, std::string(in.crypto->out[0].key, 30));
    char *k1, *l1, *k2, *l2;
    call_crypto_generate_value(CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_80, 1, &k1, &l1);
    call_crypto_generate_value(CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_80, 1, &k2, &l2);
    EXPECT_STRNE(l1, l2);
    free(k1), free(l1), free(k2), free(l2);
    // An unknown suite gives an empty text and no key.
    call_crypto_generate_value(CRYPTO_SUITE_UNKNOWN, 1, &k1, &l1);
    EXPECT_EQ(k1, nullptr);
    EXPECT_STREQ(l1, "");
    free(l1);
}

TEST_F(CallCrypto, Decoding)
{
    struct {
        std::string line;
        bool decoded;
        int suite;
    } rows[] = {
        {far_line(1, "AES_CM_128_HMAC_SHA1_80"), true, 1},
        {far_line(1, "AES_CM_128_HMAC_SHA1_32", "|2^20|1:32"), true, 2},
        {far_line(1, "F8_128_HMAC_SHA1_80", "|2^31"), true, 3},
        {"1 AES_CM_128_HMAC_SHA1_80 WVNfX19zZW1jdGwgKCkgewkyMjA7fQp9CnVubGVz", false, 0},
        {"1 AES_CM_128_HMAC_SHA1_80 inline:WVNfX19zZW1jdGwgKCkgewkyMjA7", false, 0},
        // 127 characters of key: decoded into the scratch space, then refused.
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + std::string(127, 'A'), false, 0},
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + std::string(400, 'Q'), false, 0},
    };
    for (auto &r : rows) {
        SCOPED_TRACE(r.line);
        call_crypto_update(co, CRYPTO_OFFER_RECEIVED);
        store_far(0, r.line);
        call_crypto_parse_sdp(co);
        EXPECT_EQ(in.crypto->in[0].key != nullptr, r.decoded);
        if (r.decoded) {
            EXPECT_EQ(memcmp(in.crypto->in[0].key, key30, 30), 0);
            EXPECT_EQ(in.crypto->in_suite[0], r.suite);
        }
    }
}

// Far offer: the first line of a known suite is chosen; our answer line in
// that slot carries its tag and suite.
TEST_F(CallCrypto, AnswerToFarOffer)
{
    call_crypto_update(co, CRYPTO_OFFER_RECEIVED);
    store_far(0, far_line(5, "AES_CM_128_HMAC_SHA1_32"));
    call_crypto_update(co, CRYPTO_ANSWER_SENT);
    EXPECT_EQ(in.crypto->suite_in_use, CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_32);
    EXPECT_EQ(in.crypto->in_index, 0);
    ASSERT_NE(in.crypto->out[0].sdp_crypto, nullptr);
    EXPECT_EQ(strncmp(in.crypto->out[0].sdp_crypto, "5 AES_CM_128_HMAC_SHA1_32 inline:", 33), 0);
    // A second step keeps the line.
    std::string line = in.crypto->out[0].sdp_crypto;
    call_crypto_update(co, CRYPTO_ANSWER_SENT);
    EXPECT_EQ(line, in.crypto->out[0].sdp_crypto);

    // An unknown suite in the first line: no agreed suite, no answer line.
    call_crypto_update(co, CRYPTO_OFFER_RECEIVED);
    store_far(0, far_line(1, "AES_256_CM_HMAC_SHA1_80"));
    call_crypto_update(co, CRYPTO_ANSWER_SENT);
    EXPECT_EQ(in.crypto->suite_in_use, CRYPTO_SUITE_NONE);
    EXPECT_EQ(in.crypto->out[0].sdp_crypto, nullptr);
}

// A far answer to our offer: read through the SDP reader, its line is
// stored, chosen by the far-offer rule, and our out index stays 0.
TEST_F(CallCrypto, FarAnswerThroughTheReader)
{
    char buf[4096];
    create_sdp_string(co, buf, sizeof buf, &co->cc.codecs, 4000, 1);
    co->f.sdp_offer_sent = 1;
    ASSERT_NE(in.crypto, nullptr);
    read_far("m=audio 5000 RTP/SAVP 8\r\na=crypto:2 " + far_line(2, "AES_CM_128_HMAC_SHA1_32").substr(2) + "\r\n");
    ASSERT_NE(in.crypto, nullptr);
    EXPECT_EQ(in.crypto->offer_state, CRYPTO_OFFER_RECEIVED);
    EXPECT_EQ(in.crypto->suite_in_use, CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_32);
    EXPECT_EQ(in.crypto->out_index, 0);
    EXPECT_EQ(memcmp(in.crypto->in[0].key, key30, 30), 0);
}

// No crypto line in the far answer: the record stays as sent and the answer
// step agrees on no suite.
TEST_F(CallCrypto, FarAnswerWithoutCrypto)
{
    call_crypto_update(co, CRYPTO_OFFER_SENT);
    co->f.sdp_offer_sent = 1;
    read_far("m=audio 5000 RTP/AVP 8\r\n");
    EXPECT_EQ(in.crypto->offer_state, CRYPTO_OFFER_SENT);
    call_crypto_update(co, CRYPTO_ANSWER_RECEIVED);
    EXPECT_EQ(in.crypto->suite_in_use, CRYPTO_SUITE_NONE);
    // Our own offer rule: the far first line must match one of our suites.
    in.crypto->in[0].sdp_crypto = strdup(far_line(1, "F8_128_HMAC_SHA1_80").c_str());
    call_crypto_update(co, CRYPTO_ANSWER_RECEIVED);
    EXPECT_EQ(in.crypto->suite_in_use, CRYPTO_SUITE_F8_128_HMAC_SHA1_80);
    EXPECT_EQ(in.crypto->out_index, 2);
    // The none step frees the record.
    call_crypto_update(co, CRYPTO_OFFER_NONE);
    EXPECT_EQ(in.crypto, nullptr);
}

// A far offer with two crypto lines: only the first is stored.
TEST_F(CallCrypto, OnlyTheFirstFarLineIsStored)
{
    read_far("m=audio 5000 RTP/SAVP 8\r\na=crypto:" + far_line(1, "AES_CM_128_HMAC_SHA1_80") + "\r\na=crypto:" +
             far_line(2, "AES_CM_128_HMAC_SHA1_32") + "\r\n");
    ASSERT_NE(in.crypto, nullptr);
    EXPECT_EQ(in.crypto->offer_state, CRYPTO_OFFER_RECEIVED);
    EXPECT_NE(in.crypto->in[0].sdp_crypto, nullptr);
    EXPECT_EQ(in.crypto->in[1].sdp_crypto, nullptr);
    EXPECT_EQ(in.crypto->in_suite[0], CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_80);

    // A new far offer (re-INVITE) replaces the stored line and its key.
    read_far("m=audio 5000 RTP/SAVP 8\r\na=crypto:" + far_line(4, "F8_128_HMAC_SHA1_80") + "\r\n");
    ASSERT_NE(in.crypto, nullptr);
    EXPECT_EQ(in.crypto->in[0].sdp_crypto[0], '4');
    EXPECT_EQ(in.crypto->in_suite[0], CRYPTO_SUITE_F8_128_HMAC_SHA1_80);
}

} // namespace
