// A call's SDP exchange through to its voice channel on the simulated media
// processor: our offer, the far answer read by call control, and call
// control's media start, with and without SRTP. The channel set-up carries
// the far address, port and payload of the answer and the keys both SDPs
// exchanged.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "base64.h"
#include "media_harness_run.h"

namespace {

long field(const json_value *f, const std::string &name)
{
    return f ? f->operator[]("fields")[name].num() : -1;
}

std::string hex_of(const std::string &bytes)
{
    std::string h;
    char b[3];
    for (unsigned char c : bytes) {
        snprintf(b, sizeof b, "%02x", c);
        h += b;
    }
    return h;
}

std::string raw_of_base64(const std::string &b64)
{
    char raw[64];
    int n = base64_to_plaintext(b64.c_str(), raw, sizeof raw);
    return std::string(raw, n > 0 ? (size_t)n : 0);
}

// An ISDN-to-SIP call on timeslot 5 that offered from port 30000 and is
// connected; the far side answers from 192.168.1.20:40000 with dynamic
// PCMA.
const char *const call = "call 0 kind=ISDN_TO_SIP timeslot=5 te=101 local_port=30000 connection_established\n";
const std::string answer_head = "far_sdp 0 v=0|o=- 1 1 IN IP4 192.168.1.20|s=-|t=0 0|c=IN IP4 192.168.1.20|";

TEST(MediaSdpCall, AnswerDrivesTheVoiceChannel)
{
    harness_run r = run_harness(std::string(call) + "offer 0\n" + answer_head +
                                "m=audio 40000 RTP/AVP 96 101|a=rtpmap:96 PCMA/8000|a=rtpmap:101 telephone-event/8000|\n"
                                "start 0\nwait\nshow 0\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.result("far_sdp"), "0") << r.text();
    EXPECT_EQ(r.result("start"), "0");
    const json_value *ip = r.frame("FC_SET_IP_HDR_CHANNEL");
    ASSERT_NE(ip, nullptr) << r.text();
    EXPECT_EQ(field(ip, "destination_address_word_1"), 49320); // 192.168
    EXPECT_EQ(field(ip, "destination_address_word_2"), 276);   // 1.20
    EXPECT_EQ(field(ip, "udp_destination_port"), 40000);
    EXPECT_EQ(field(ip, "udp_source_port"), 30000);
    EXPECT_EQ(field(r.frame("FC_VOIP_VOPENA"), "payload_type"), 96);
    EXPECT_EQ(r.frame("FC_CIPHER_SRTP_KEY_DERIVATION"), nullptr);
}

TEST(MediaSdpCall, SrtpKeysOfBothSdps)
{
    const std::string far_key(30, '\x5a');
    char b64[64];
    plaintext_to_base64(far_key.data(), 30, b64, sizeof b64);
    harness_run r = run_harness(std::string(call) + "opt 0 srtp_mode=optional,srtp_crypto_suites=AES_CM_32\n" +
                                "hooks callctl\noffer 0\n" + answer_head +
                                "m=audio 40000 RTP/SAVP 8|a=crypto:1 AES_CM_128_HMAC_SHA1_32 inline:" + b64 +
                                "|2^20|1:32|\nstart 0\nwait\nshow 0\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.result("far_sdp"), "0") << r.text();
    std::smatch m;
    std::string all = r.text();
    ASSERT_TRUE(std::regex_search(all, m, std::regex("SDP 0 .*a=crypto:1 AES_CM_128_HMAC_SHA1_32 inline:([A-Za-z0-9+/=]{40})\\|")))
        << all;
    std::string our_key = raw_of_base64(m[1]);
    ASSERT_EQ(our_key.size(), 30u);

    const json_value *opt = r.frame("FC_CIPHER_SRTP_OPT");
    ASSERT_NE(opt, nullptr) << all;
    EXPECT_EQ(field(opt, "authentication_tag_size"), 4); // the 32-bit suite both sides agreed on
    // Direction 0 (toward the far side) takes our key, direction 1 the far key.
    const json_value *k0 = r.frame("FC_CIPHER_SRTP_KEY_DERIVATION");
    ASSERT_NE(k0, nullptr);
    const json_value *k1 = nullptr;
    for (size_t i = 0; i < r.frames.size() && !k1; i++)
        if (&r.frames[i] != k0 && r.frames[i]["name"].str() == "FC_CIPHER_SRTP_KEY_DERIVATION")
            k1 = &r.frames[i];
    ASSERT_NE(k1, nullptr);
    EXPECT_EQ((*k0)["hex"].str().substr(64, 60), hex_of(our_key));
    EXPECT_EQ((*k1)["hex"].str().substr(64, 60), hex_of(far_key));
    EXPECT_EQ(field(r.frame("FC_SET_IP_HDR_CHANNEL"), "udp_destination_port"), 40000);
}

} // namespace
