// The gateway's own media section: offers and answers over call fixtures,
// each text checked whole and parsed by the SIP stack's SDP parser with the
// session lines put in front.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <sofia-sip/soa.h>
#include <sofia-sip/soa_tag.h>
#include <sofia-sip/su_wait.h>

#include <functional>
#include <regex>
#include <utility>
#include <vector>

#include "base64.h"
#include "sdp_test_fixture.h"
#include "sip_stack.h"

namespace {

const char *const C = "c=IN IP4 10.0.0.1\r\n";
const char *const TEL = "a=rtpmap: 101 telephone-event/8000\r\na=fmtp: 101 0-16\r\n";
const char *const T38 = "m=image 4000 udptl t38\r\na=T38FaxVersion:0\r\na=T38MaxBitRate:14400\r\n"
                        "a=T38FaxFillBitRemoval:0\r\na=T38FaxTranscodingMMR:0\r\na=T38FaxTranscodingJBIG:0\r\n"
                        "a=T38FaxRateManagement:transferredTCF\r\na=T38FaxMaxDatagram:400\r\n";

struct writer_case {
    const char *name;
    std::function<void(SdpCall &, call_object *)> setup;
    int offer;
    std::string expected;
};

class SdpWriter : public SdpCall {
public:
    void far(const std::string &media) { read_far(media); }
};

std::string s(const char *a) { return a; }

TEST_F(SdpWriter, Table)
{
    const std::string audio_maps = "a=rtpmap: 8 PCMA/8000\r\na=rtpmap: 0 PCMU/8000\r\n";
    const writer_case cases[] = {
        {"offer", [](SdpCall &, call_object *) {}, 1,
         s(C) + "m=audio 4000 RTP/AVP  8 0 101\r\n" + audio_maps + TEL + "a=ptime:20\r\n"},
        {"offer with comfort noise",
         [](SdpCall &, call_object *co) { co->cc.comfort_noise = 1; }, 1,
         s(C) + "m=audio 4000 RTP/AVP  8 0 13 101\r\n" + audio_maps + "a=rtpmap:13 CN/8000\r\n" + TEL +
             "a=ptime:20\r\n"},
        {"offer of clear mode",
         [](SdpCall &, call_object *co) { cc_allow_codecs(&co->cc.codecs, "CLEARMODE:pcma"); }, 1,
         s(C) + "m=audio 4000 RTP/AVP  97 8 101\r\na=rtpmap: 97 CLEARMODE/8000\r\na=rtpmap: 8 PCMA/8000\r\n" + TEL +
             "a=ptime:20\r\n"},
        {"answer mode 0: our order, far telephone-event number, comfort noise offered",
         [](SdpCall &t, call_object *co) {
             co->cc.comfort_noise = 1;
             static_cast<SdpWriter &>(t).far("m=audio 5000 RTP/AVP 0 8 13 100\r\na=rtpmap:100 telephone-event/8000\r\n");
         },
         0,
         s(C) + "m=audio 4000 RTP/AVP  8 13 100\r\na=rtpmap: 8 PCMA/8000\r\na=rtpmap:13 CN/8000\r\n"
                "a=rtpmap: 100 telephone-event/8000\r\na=fmtp: 100 0-16\r\na=ptime:20\r\n"},
        {"answer without comfort noise configured leaves 13 out",
         [](SdpCall &t, call_object *) { static_cast<SdpWriter &>(t).far("m=audio 5000 RTP/AVP 8 13\r\n"); }, 0,
         s(C) + "m=audio 4000 RTP/AVP  8 101\r\na=rtpmap: 8 PCMA/8000\r\n" + TEL + "a=ptime:20\r\n"},
        {"answer mode 1: the far side's order",
         [](SdpCall &t, call_object *co) {
             co->cc.sdp_codec_selection = 1;
             static_cast<SdpWriter &>(t).far("m=audio 5000 RTP/AVP 18 0 8\r\n");
         },
         0, s(C) + "m=audio 4000 RTP/AVP  18 101\r\na=rtpmap: 18 G729/8000\r\n" + TEL + "a=ptime:20\r\n"},
        {"answer of a dynamic number keeps the far number",
         [](SdpCall &t, call_object *) {
             static_cast<SdpWriter &>(t).far("m=audio 5000 RTP/AVP 96\r\na=rtpmap:96 pcma/8000\r\n");
         },
         0, s(C) + "m=audio 4000 RTP/AVP  96 101\r\na=rtpmap: 96 PCMA/8000\r\n" + TEL + "a=ptime:20\r\n"},
        {"T.38 answer to audio then image: rejected audio line first",
         [](SdpCall &t, call_object *) {
             static_cast<SdpWriter &>(t).far("m=audio 5000 RTP/AVP 8\r\nm=image 5002 udptl t38\r\n");
         },
         0, s(C) + "m=audio 0 RTP/AVP\r\n" + T38},
        {"T.38 answer to image then audio: rejected audio line after",
         [](SdpCall &t, call_object *) {
             static_cast<SdpWriter &>(t).far("m=image 5002 udptl t38\r\nm=audio 5000 RTP/AVP 8\r\n");
         },
         0, s(C) + T38 + "m=audio 0 RTP/AVP\r\n"},
        {"audio answer to image then audio without T.38: rejected image line first",
         [](SdpCall &t, call_object *co) {
             co->cc.t38 = 0;
             static_cast<SdpWriter &>(t).far("m=image 5002 udptl t38\r\nm=audio 5000 RTP/AVP 8\r\n");
         },
         0, s(C) + "m=image 0 udptl\r\nm=audio 4000 RTP/AVP  8 101\r\na=rtpmap: 8 PCMA/8000\r\n" + TEL + "a=ptime:20\r\n"},
        {"audio answer to audio then image with T.38 ignored on a first offer",
         [](SdpCall &t, call_object *co) {
             co->cc.t38_ignore_offer = 1;
             static_cast<SdpWriter &>(t).far("m=audio 5000 RTP/AVP 8\r\nm=image 5002 udptl t38\r\n");
         },
         0, s(C) + "m=audio 4000 RTP/AVP  8 101\r\na=rtpmap: 8 PCMA/8000\r\n" + TEL + "a=ptime:20\r\nm=image 0 udptl\r\n"},
        {"HDLC offer", [](SdpCall &, call_object *co) { co->f.hdlc = 1; }, 1,
         s(C) + "m=image 4000 TCP isohdlc\r\na=setup:passive\r\na=connection:new\r\n"},
        {"HDLC answer",
         [](SdpCall &t, call_object *co) {
             co->cc.t38 = 0;
             static_cast<SdpWriter &>(t).far("m=image 5004 TCP isohdlc\r\n");
         },
         0, s(C) + "m=image 4000 TCP isohdlc\r\na=setup:active\r\na=connection:new\r\n"},
        {"mandatory SRTP offer without suites goes out as RTP/AVP",
         [](SdpCall &, call_object *co) {
             co->cc.srtp_mode = CC_SRTP_MANDATORY;
             co->cc.tr119 = 1;
         },
         1, s(C) + "m=audio 4000 RTP/AVP  8 0 101\r\n" + audio_maps + TEL + "a=ptime:20\r\n"},
        {"4-digit relay port",
         [](SdpCall &t, call_object *co) {
             co->callinfo = CI_SIP_TO_SIP;
             co->cc.sdp_codec_selection = 2;
             co->cl_sip = &t.out_leg();
             t.in_leg().incoming_sdp = strdup("m=audio XXXXX RTP/AVP 8 \r\na=rtpmap:8 PCMA/8000\r\n");
         },
         1, s(C) + "m=audio 4002  RTP/AVP 8 \r\na=rtpmap:8 PCMA/8000\r\n"},
        {"3-digit relay port",
         [](SdpCall &t, call_object *co) {
             co->callinfo = CI_SIP_TO_SIP;
             co->cc.sdp_codec_selection = 2;
             co->cl_sip = &t.out_leg();
             t.in_leg().incoming_sdp = strdup("m=audio XXXXX RTP/AVP 8 \r\na=rtpmap:8 PCMA/8000\r\n");
         },
         1, s(C) + "m=audio 999   RTP/AVP 8 \r\na=rtpmap:8 PCMA/8000\r\n"},
        {"outbound leg of a transparent call takes the inbound telephone-event number",
         [](SdpCall &t, call_object *co) {
             co->callinfo = CI_SIP_TO_SIP;
             co->f.transparent_call = 1;
             co->cl_sip = &t.out_leg();
             t.in_leg().pt_telephony_event = 96;
             cc_allow_codecs(&co->cc.codecs, "pcma");
         },
         1, s(C) + "m=audio 4000 RTP/AVP  8 96\r\na=rtpmap: 8 PCMA/8000\r\na=rtpmap: 96 telephone-event/8000\r\n"
                   "a=fmtp: 96 0-16\r\na=ptime:20\r\n"},
        {"inbound leg with the telephone-event fix takes the outbound number",
         [](SdpCall &t, call_object *co) {
             co->callinfo = CI_SIP_TO_SIP;
             co->cc.s2s_televent_sdp_fix = 1;
             t.out_leg().pt_telephony_event = 98;
             cc_allow_codecs(&co->cc.codecs, "pcma");
         },
         1, s(C) + "m=audio 4000 RTP/AVP  8 98\r\na=rtpmap: 8 PCMA/8000\r\na=rtpmap: 98 telephone-event/8000\r\n"
                   "a=fmtp: 98 0-16\r\na=ptime:20\r\n"},
    };
    for (const writer_case &c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        in = call_leg_sip{};
        out = call_leg_sip{};
        SetUp();
        c.setup(*this, co);
        int port = strstr(c.name, "3-digit") ? 999 : strstr(c.name, "4-digit") ? 4002 : 4000;
        std::string text = write(c.offer, port);
        EXPECT_EQ(text, c.expected);
        std::string whole = session(text);
        EXPECT_NE(parse(whole), nullptr) << last_error << "\n" << whole;
    }
}

// A mandatory-SRTP offer without suites switches the call to SRTP off.
TEST_F(SdpWriter, MandatoryWithoutSuitesSwitchesTheCallOff)
{
    co->cc.srtp_mode = CC_SRTP_MANDATORY;
    write(1);
    EXPECT_EQ(co->cc.srtp_mode, CC_SRTP_OFF);
}

// SRTP off, optional and mandatory with three suites: transport, crypto
// lines with tags 1 to 3 in the configured order, each key 40 base64
// characters decoding to 30 bytes.
TEST_F(SdpWriter, SrtpOffers)
{
    struct {
        int mode;
        const char *transport;
        int lines;
    } rows[] = {{CC_SRTP_OFF, "RTP/AVP", 0}, {CC_SRTP_OPTIONAL, "RTP/AVP", 3}, {CC_SRTP_MANDATORY, "RTP/SAVP", 3}};
    for (auto &r : rows) {
        SCOPED_TRACE(r.mode);
        co->cc.srtp_mode = r.mode;
        co->cc.srtp_crypto_suites = cc_parse_crypto_suites("AES_CM_80:AES_CM_32:F8_80");
        co->cc.tr119 = 1;
        std::string text = write(1);
        EXPECT_NE(text.find(std::string("m=audio 4000 ") + r.transport + "  8 0 101\r\n"), std::string::npos) << text;
        std::regex line("a=crypto:([0-9]) ([A-Z0-9_]+) inline:([A-Za-z0-9+/=]+)\r\n");
        std::vector<std::string> tags, suites, keys;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
            tags.push_back((*it)[1]);
            suites.push_back((*it)[2]);
            keys.push_back((*it)[3]);
        }
        ASSERT_EQ((int)tags.size(), r.lines) << text;
        if (r.lines) {
            EXPECT_EQ(tags, (std::vector<std::string>{"1", "2", "3"}));
            EXPECT_EQ(suites, (std::vector<std::string>{"AES_CM_128_HMAC_SHA1_80", "AES_CM_128_HMAC_SHA1_32",
                                                        "F8_128_HMAC_SHA1_80"}));
            for (const std::string &k : keys) {
                EXPECT_EQ(k.size(), 40u);
                char raw[64];
                EXPECT_EQ(base64_to_plaintext(k.c_str(), raw, sizeof raw), 30);
            }
            // The marker follows the crypto lines.
            EXPECT_NE(text.find("a=3ge2ae:requested\r\na=rtpmap: 8"), std::string::npos);
        }
        EXPECT_NE(parse(session(text)), nullptr) << last_error;
    }
}

// An answer to a far offer with a crypto line carries our line of slot 0
// with the far tag and suite, on RTP/SAVP when the far line was.
TEST_F(SdpWriter, SrtpAnswer)
{
    co->cc.srtp_mode = CC_SRTP_OPTIONAL;
    co->cc.srtp_crypto_suites = cc_parse_crypto_suites("AES_CM_80:AES_CM_32");
    read_far("m=audio 5000 RTP/SAVP 8\r\na=crypto:7 AES_CM_128_HMAC_SHA1_32 "
             "inline:WVNfX19zZW1jdGwgKCkgewkyMjA7fQp9CnVubGVz|2^20|1:32\r\n");
    std::string text = write(0);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, std::regex("m=audio 4000 RTP/SAVP  8 101\r\na=crypto:7 "
                                                      "AES_CM_128_HMAC_SHA1_32 inline:([A-Za-z0-9+/=]{40})\r\n")))
        << text;
    ASSERT_NE(in.crypto, nullptr);
    EXPECT_EQ(in.crypto->suite_in_use, CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_32);
    EXPECT_EQ(in.crypto->out[0].key_length, 30);
    EXPECT_NE(parse(session(text)), nullptr) << last_error;
}

} // namespace

namespace {

std::vector<std::pair<call_object *, int>> queued;
int record_task(call_object *co, int event)
{
    queued.emplace_back(co, event);
    return 0;
}

// A T.38 answer on a SIP-to-SIP call whose leg lies outside the LAN T.38
// pool queues the re-INVITE of the other leg. Without a T.38 pool (none
// here) the leg keeps its RTP port: port 0 would refuse the stream.
TEST_F(SdpWriter, T38AnswerOnSipToSipQueuesTheOtherLeg)
{
    sdp_callctl_hooks h{};
    h.add_sm_task = record_task;
    sdp_set_callctl_hooks(&h);
    queued.clear();
    co->callinfo = CI_SIP_TO_SIP;
    co->cc.s2s_t38_passthrough = 1;
    read_far("m=image 5002 udptl t38\r\n");
    ASSERT_EQ(in.using_payload, 9999);
    EXPECT_NE(write(0).find("m=image 4000 udptl t38\r\n"), std::string::npos);
    EXPECT_EQ(in.rtp_local_port, 4000);
    EXPECT_EQ(in.rtp_local_port_unreleased, 0);
    EXPECT_EQ(co->f.t38_invite_received, 1u);
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].first, co);
    EXPECT_EQ(queued[0].second, sm_timer(T_EVENT_T38_REINVITE_ON_SECOND_LEG));

    // Answering on the outbound leg moves the first leg.
    queued.clear();
    co->cl_sip = &out;
    out.using_payload = out.using_codec = 9999;
    write(0);
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].second, sm_timer(T_EVENT_T38_REINVITE_ON_FIRST_LEG));
    sdp_set_callctl_hooks(nullptr);
}

// A transparent SIP-to-SIP call relays the far crypto lines of the other
// leg in its offer instead of making keys.
TEST_F(SdpWriter, TransparentCallRelaysCryptoLines)
{
    co->callinfo = CI_SIP_TO_SIP;
    co->f.transparent_call = 1;
    co->cc.srtp_mode = CC_SRTP_OPTIONAL;
    co->cc.srtp_crypto_suites = cc_parse_crypto_suites("AES_CM_80");
    in.crypto = (crypto_settings *)calloc(1, sizeof(crypto_settings));
    in.crypto->in[0].sdp_crypto = strdup("1 AES_CM_128_HMAC_SHA1_80 inline:WVNfX19zZW1jdGwgKCkgewkyMjA7fQp9CnVubGVz");
    co->cl_sip = &out;
    std::string text = write(1);
    EXPECT_NE(text.find("a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:WVNfX19zZW1jdGwgKCkgewkyMjA7fQp9CnVubGVz\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(out.crypto, nullptr); // no keys of our own
}

// The origin address given to the SIP stack with a description: the leg's
// own stack address when the leg announces it, and nothing for addresses
// the stack would not name itself (loopback, link-local, none).
TEST_F(SdpWriter, OriginAddressOnlyWhereTheStackWouldNameTheSame)
{
    struct {
        const char *stack_ip, *using_ip, *expected;
    } cases[] = {
        {"10.0.0.1", "10.0.0.1", "10.0.0.1"},
        {"192.0.2.10", "192.0.2.10", "192.0.2.10"},
        {"10.0.0.1", "203.0.113.5", nullptr}, // an outside address named for NAT
        {"127.0.0.1", "127.0.0.1", nullptr},
        {"169.254.3.4", "169.254.3.4", nullptr},
        {"0.0.0.0", "0.0.0.0", nullptr},
        {"", "", nullptr},
        {"fe80::1", "fe80::1", nullptr},
    };
    sip_stack ss{};
    for (const auto &c : cases) {
        snprintf(ss.ip, sizeof ss.ip, "%s", c.stack_ip);
        snprintf(in.using_ip, sizeof in.using_ip, "%s", c.using_ip);
        in.ss = &ss;
        const char *got = sdp_origin_address(&in);
        EXPECT_STREQ(got, c.expected) << c.stack_ip << " / " << c.using_ip;
        bool own = c.expected || strcmp(c.stack_ip, "10.0.0.1") == 0;
        EXPECT_EQ(sip_stack_origin_address(&ss) != nullptr, own) << c.stack_ip;
    }
    in.ss = nullptr;
    EXPECT_EQ(sdp_origin_address(&in), nullptr);
    EXPECT_EQ(sdp_origin_address(nullptr), nullptr);
    EXPECT_EQ(sip_stack_origin_address(nullptr), nullptr);
}

// The origin line the stack's offer/answer engine writes into our first
// offer names the same address whether it looked the host's addresses up
// itself or was given the address: the description's connection address,
// here an address of one of this host's interfaces.
TEST_F(SdpWriter, StackNamesTheSameOriginWhenGivenTheAddress)
{
    std::string ip;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs *a = list; a && ip.empty(); a = a->ifa_next) {
            if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_LOOPBACK))
                continue;
            sip_stack ss{};
            inet_ntop(AF_INET, &((sockaddr_in *)a->ifa_addr)->sin_addr, ss.ip, sizeof ss.ip);
            if (sip_stack_origin_address(&ss))
                ip = ss.ip;
        }
        freeifaddrs(list);
    }
    if (ip.empty())
        GTEST_SKIP() << "no interface address outside loopback and link-local";
    ASSERT_EQ(su_init(), 0);
    su_root_t *root = su_root_create(nullptr);
    ASSERT_NE(root, nullptr);
    std::string user = "c=IN IP4 " + ip + "\r\nm=audio 4000 RTP/AVP 8\r\n";
    std::string origin[2];
    for (int given = 0; given < 2; given++) {
        soa_session_t *soa = soa_create("default", root, nullptr);
        ASSERT_NE(soa, nullptr);
        soa_set_params(soa, TAG_IF(given, SOATAG_ADDRESS(ip.c_str())), TAG_END());
        soa_set_params(soa, SOATAG_USER_SDP_STR(user.c_str()), TAG_END());
        ASSERT_GE(soa_generate_offer(soa, 1, nullptr), 0);
        const sdp_session_t *local = nullptr;
        ASSERT_GT(soa_get_local_sdp(soa, &local, nullptr, nullptr), 0);
        ASSERT_TRUE(local && local->sdp_origin && local->sdp_origin->o_address);
        origin[given] = local->sdp_origin->o_address->c_address;
        soa_destroy(soa);
    }
    su_root_destroy(root);
    su_deinit();
    EXPECT_EQ(origin[0], ip);
    EXPECT_EQ(origin[1], ip);
}

} // namespace
