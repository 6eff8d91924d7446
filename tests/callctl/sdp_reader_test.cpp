// Reading far SDPs: what each far media section leaves as the leg's choice,
// the bounds of media lines and addresses, the first-SDP check and the
// codec prediction.
#include <string>

#include "sdp_test_fixture.h"

namespace {

class SdpReader : public SdpCall {};

struct reader_case {
    const char *name;
    const char *media;
    int comfort_noise;
    int expect_payload; // -1: no choice (the previous one stays)
    int expect_codec;
    int expect_port;
    int expect_cng;
};

TEST_F(SdpReader, Table)
{
    const reader_case cases[] = {
        {"dynamic pcma by name", "m=audio 5000 RTP/AVP 96\r\na=rtpmap:96 pcma/8000\r\n", 0, 96, 8, 5000, 0},
        {"our order wins in mode 0", "m=audio 5000 RTP/AVP 0 8\r\n", 0, 8, 8, 5000, 0},
        {"another clock rate is refused", "m=audio 5000 RTP/AVP 96\r\na=rtpmap:96 PCMA/16000\r\n", 0, -1, 0, 0, 0},
        {"telephone-event alone gives no choice", "m=audio 5000 RTP/AVP 101\r\na=rtpmap:101 telephone-event/8000\r\n",
         0, -1, 0, 0, 0},
        {"13 with comfort noise", "m=audio 5000 RTP/AVP 8 13\r\n", 1, 8, 8, 5000, 1},
        {"13 without comfort noise", "m=audio 5000 RTP/AVP 8 13\r\n", 0, 8, 8, 5000, 0},
        {"13 alone gives no choice", "m=audio 5000 RTP/AVP 13\r\n", 1, -1, 0, 0, 1},
        {"not allowed static codec", "m=audio 5000 RTP/AVP 18\r\n", 0, -1, 0, 0, 0},
        {"RTP/SAVP with SRTP off is unusable", "m=audio 5000 RTP/SAVP 8\r\n", 0, -1, 0, 0, 0},
        {"second line used when the first is unusable", "m=audio 5000 RTP/SAVP 8\r\nm=audio 5002 RTP/AVP 0\r\n", 0, 0,
         0, 5002, 0},
        {"T.38 chosen over audio", "m=audio 5000 RTP/AVP 8\r\nm=image 5002 udptl t38\r\n", 0, 9999, 9999, 5002, 0},
        {"HDLC line", "m=image 5004 TCP isohdlc\r\n", 0, 9998, 9998, 5004, 0},
    };
    for (const reader_case &c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        in = call_leg_sip{};
        out = call_leg_sip{};
        SetUp();
        co->cc.comfort_noise = c.comfort_noise;
        in.using_payload = in.using_codec = -1;
        read_far(c.media);
        if (c.expect_payload < 0) {
            EXPECT_EQ(in.using_payload, -1);
            EXPECT_EQ(co->f.start_streaming, 0u);
            EXPECT_EQ(co->f.sdp_offer_usable, 0u);
        } else {
            EXPECT_EQ(in.using_payload, c.expect_payload);
            EXPECT_EQ(in.using_codec, c.expect_codec);
            EXPECT_EQ(in.rtp_remote_port, c.expect_port);
            EXPECT_STREQ(in.rtp_remote_ip, "192.0.2.7");
            EXPECT_EQ(co->f.start_streaming, 1u);
            EXPECT_EQ(co->f.sdp_offer_usable, 1u);
        }
        EXPECT_EQ(co->f.cng_allowed, (unsigned)c.expect_cng);
        EXPECT_EQ(co->f.sdp_offer_received, 1u);
    }
}

// An SDP read while our offer is out is the answer: the offer flag is
// cleared and no offer flags are set.
TEST_F(SdpReader, AnswerClearsOfferSent)
{
    co->f.sdp_offer_sent = 1;
    read_far("m=audio 5000 RTP/AVP 8\r\n");
    EXPECT_EQ(co->f.sdp_offer_sent, 0u);
    EXPECT_EQ(co->f.sdp_offer_received, 0u);
    EXPECT_EQ(in.using_payload, 8);
}

// A far SDP with 40 media lines: 30 are recorded, lines past them are never
// chosen, and the reading stays inside the leg's arrays.
TEST_F(SdpReader, FortyMediaLines)
{
    std::string media;
    for (int i = 0; i < 39; i++)
        media += "m=audio " + std::to_string(6000 + 2 * i) + " RTP/AVP 18\r\n";
    media += "m=audio 7000 RTP/AVP 8\r\n"; // the only usable line, the 40th
    in.using_payload = -1;
    read_far(media);
    EXPECT_EQ(in.sdp_media_offerings_count, 30);
    EXPECT_EQ(in.using_payload, -1);

    // A usable line within the first 30 is chosen; the answer repeats the
    // recorded lines only.
    media = "m=audio 5000 RTP/AVP 18\r\nm=audio 5002 RTP/AVP 8\r\n";
    for (int i = 0; i < 38; i++)
        media += "m=image " + std::to_string(6000 + 2 * i) + " udptl t38\r\n";
    co->cc.t38 = 0;
    read_far(media);
    EXPECT_EQ(in.sdp_media_offerings_count, 30);
    EXPECT_EQ(in.sdp_media_offerings_accepted_index, 1);
    char buf[4096];
    create_sdp_string(co, buf, sizeof buf, &co->cc.codecs, 4000, 0);
    std::string text = buf;
    size_t lines = 0;
    for (size_t at = text.find("m="); at != std::string::npos; at = text.find("m=", at + 1))
        lines++;
    EXPECT_EQ(lines, 30u) << text;
}

// A 200-character connection address (or one that is not IPv4) makes the
// line unusable and never reaches the 64-character remote address.
TEST_F(SdpReader, LongAndForeignAddresses)
{
    std::string longname(200, 'a');
    in.using_payload = -1;
    read_far("m=audio 5000 RTP/AVP 8\r\n", longname.c_str());
    EXPECT_EQ(in.using_payload, -1);
    EXPECT_LT(strlen(in.rtp_remote_ip), sizeof in.rtp_remote_ip);

    read_far("m=audio 5000 RTP/AVP 8\r\nc=IN IP4 " + longname + "\r\nm=audio 5002 RTP/AVP 8\r\n");
    EXPECT_EQ(in.using_payload, 8);
    EXPECT_EQ(in.rtp_remote_port, 5002);
    EXPECT_STREQ(in.rtp_remote_ip, "192.0.2.7");
}

// Mode 1 takes the far side's order among all supported codecs and makes
// it the call's allowed list.
TEST_F(SdpReader, ModeOneFarOrder)
{
    co->cc.sdp_codec_selection = 1;
    read_far("m=audio 5000 RTP/AVP 18 0 8\r\n");
    EXPECT_EQ(in.using_codec, 18);
    ASSERT_EQ(co->cc.codecs.count, 3);
    EXPECT_STREQ(co->cc.codecs.allowed_codecs[0]->name, "g729");
    EXPECT_STREQ(co->cc.codecs.allowed_codecs[2]->name, "pcma");
}

// Mode 2 (relay on a SIP-to-SIP call) keeps the far media section with the
// port left open, its codec maps and its attributes.
TEST_F(SdpReader, RelayText)
{
    co->callinfo = CI_SIP_TO_SIP;
    co->cc.sdp_codec_selection = 2;
    read_far("m=audio 5000 RTP/AVP 8 101\r\na=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-15\r\na=sendonly\r\n");
    ASSERT_NE(in.incoming_sdp, nullptr);
    EXPECT_STREQ(in.incoming_sdp, "m=audio XXXXX RTP/AVP 8 101 \r\na=rtpmap:8 PCMA/8000\r\n"
                                  "a=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-15\r\na=sendonly\r\n");
}

// T.38 on a first offer with audio is dropped when so configured.
TEST_F(SdpReader, IgnoreFirstT38Offer)
{
    co->cc.t38_ignore_offer = 1;
    read_far("m=image 5002 udptl t38\r\nm=audio 5000 RTP/AVP 8\r\n");
    EXPECT_EQ(in.using_payload, 8);
    EXPECT_EQ(in.sdp_media_offerings_accepted_index, 1);
    // Only the first SDP of the call.
    read_far("m=image 5002 udptl t38\r\nm=audio 5000 RTP/AVP 8\r\n");
    EXPECT_EQ(in.using_payload, 9999);
}

// A SIP-to-SIP call with passthrough handling cuts its allowed codecs to
// the chosen one, once.
TEST_F(SdpReader, PassthroughCodecCut)
{
    co->callinfo = CI_SIP_TO_SIP;
    co->cc.s2s_rtp_handling_method = 1;
    read_far("m=audio 5000 RTP/AVP 0 8\r\n");
    EXPECT_EQ(co->f.passthrough_codec_reduced, 1u);
    ASSERT_EQ(co->cc.codecs.count, 1);
    EXPECT_EQ(co->cc.codecs.allowed_codecs[0]->payload_type, 8);
}

// No SDP in the event: nothing changes; a re-INVITE without SDP on an
// active call is marked.
TEST_F(SdpReader, NoSdp)
{
    in.using_payload = 8;
    in.got_reinvite_flag = 1;
    co->f.sip_reinvite_on_active_call = 1;
    sdp_read_remote(co, nullptr, 0, 0, 0, 0, 0);
    EXPECT_EQ(co->f.sip_reinvite_on_active_call_without_sdp, 1u);
    EXPECT_EQ(in.got_reinvite_flag, 0);
    EXPECT_EQ(in.using_payload, 8);
}

// First-SDP check: usable media lets the call go on; unusable media refuses
// it with the CDR's incoming event by reason.
TEST_F(SdpReader, FirstSdpCheck)
{
    struct {
        const char *media;
        int srtp_mode;
        int suites;
        int result;
        int tc_incoming_event;
    } rows[] = {
        {"m=audio 5000 RTP/AVP 8\r\n", CC_SRTP_OFF, 0, 0, 0},
        {"m=audio 5000 RTP/AVP 18\r\n", CC_SRTP_OFF, 0, -1, 5},
        {"m=audio 5000 RTP/SAVP 8\r\n", CC_SRTP_OFF, 0, -1, 10},
        {"m=audio 5000 RTP/AVP 8\r\n", CC_SRTP_MANDATORY, 1, -1, 9},
        {"m=image 5000 udptl t38\r\n", CC_SRTP_OFF, 0, 0, 0},
        {"m=audio 5000 RTP/AVP 96\r\na=rtpmap:96 PCMA/16000\r\n", CC_SRTP_OFF, 0, -1, 5},
        // Accepted as the reading accepts it (the reading then has no choice).
        {"m=audio 5000 RTP/AVP 101\r\na=rtpmap:101 telephone-event/8000\r\n", CC_SRTP_OFF, 0, 0, 0},
    };
    for (auto &r : rows) {
        SCOPED_TRACE(r.media);
        co->f.first_sdp_checked = 0;
        co->cdr.tc_incoming_event = 0;
        co->cc.srtp_mode = r.srtp_mode;
        co->cc.srtp_crypto_suites = r.suites;
        co->callinfo = CI_SIP_TO_GSM;
        const sdp_session_t *s = parse(session("c=IN IP4 192.0.2.7\r\n" + std::string(r.media)));
        ASSERT_NE(s, nullptr) << last_error;
        EXPECT_EQ(sdp_first_check(co, s), r.result);
        EXPECT_EQ(co->cdr.tc_incoming_event, r.tc_incoming_event);
        EXPECT_EQ(co->f.first_sdp_checked, 1u);
    }
    // Checked once only.
    const sdp_session_t *s = parse(session("c=IN IP4 192.0.2.7\r\nm=audio 5000 RTP/AVP 18\r\n"));
    EXPECT_EQ(sdp_first_check(co, s), 0);
}

TEST_F(SdpReader, Prediction)
{
    EXPECT_EQ(sdp_predict_using_codec_text(co, "garbage", 7), -1);
    // A media line the SIP stack's parser would not end on is not parsed.
    for (const char *bad : {"m=image 5000 udptl t38 ,\r\n", "m=audio 5000 X\x7f/Y 8\r\n", "m=image 5000 udptl \x01\n",
                            "m=audio 500 T 8 :\r\n", "m=image 5000 udptl a::b\r\n", "m=image 5000 udptl x /y\r\n",
                            "m=audio 5000 RT\t\t\n", "\r m=image 5000 udptl ,\n"}) {
        std::string t = session(std::string("c=IN IP4 192.0.2.7\r\nm=audio 5000 RTP/AVP 8\r\n") + bad);
        EXPECT_EQ(sdp_media_lines_parsable(t.data(), t.size()), 0) << bad;
        EXPECT_EQ(sdp_predict_using_codec_text(co, t.data(), (int)t.size()), -1);
    }
    for (const char *good : {"m=image 5000 udptl t38:\r\n", "m=audio 5000 RTP/SAVP 8 0\r\n", "m=image 5 TCP a/b:c\r\n"}) {
        std::string t = session(std::string("c=IN IP4 192.0.2.7\r\n") + good);
        EXPECT_EQ(sdp_media_lines_parsable(t.data(), t.size()), 1) << good;
    }
    std::string text = session("c=IN IP4 192.0.2.7\r\nm=audio 5000 RTP/AVP 0 8 101\r\n"
                               "a=rtpmap:101 telephone-event/8000\r\n");
    EXPECT_EQ(sdp_predict_using_codec_text(co, text.data(), (int)text.size()), 8);
    text = session("c=IN IP4 192.0.2.7\r\nm=audio 5000 RTP/AVP 101\r\na=rtpmap:101 telephone-event/8000\r\n");
    EXPECT_EQ(sdp_predict_using_codec_text(co, text.data(), (int)text.size()), -1);
    // Nothing of the call changed.
    EXPECT_EQ(in.sdp_media_offerings_count, 0);
    EXPECT_EQ(in.pt_telephony_event, PAYLOAD_TYPE_DYNAMIC_RFC2833);
    EXPECT_EQ(co->f.start_streaming, 0u);
}

} // namespace
