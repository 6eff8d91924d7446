// The debug dumps: a call's ISDN message counts, SDP bodies as the SIP
// stack parses them, a SIP message's addresses and a B-channel record.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "call_object.h"
#include "debug_dumps.h"
#include "debug_lines.h"
#include "stream_text.h"
#include "misdn_bchannel.h"
#include "pools.h"

// After the daemon's headers: the SIP stack's header macros would rename
// functions they declare.
#include <sofia-sip/msg.h>
#include <sofia-sip/sdp.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/su_alloc.h>

namespace {

// An SDP body parsed by the SIP stack, freed with the object.
struct parsed_sdp {
    su_home_t *home = (su_home_t *)su_home_new(sizeof(su_home_t));
    sdp_parser_t *parser = nullptr;
    sdp_session_t *sdp = nullptr;
    explicit parsed_sdp(const std::string &text)
    {
        parser = sdp_parse(home, text.data(), (issize_t)text.size(), 0);
        sdp = sdp_session(parser);
    }
    ~parsed_sdp()
    {
        sdp_parser_free(parser);
        su_home_unref(home);
    }
};

const char *const two_media = "v=0\r\no=- 1 1 IN IP4 10.0.0.2\r\ns=-\r\nc=IN IP4 10.0.0.2\r\nt=0 0\r\n"
                              "m=audio 4000 RTP/AVP 8 101\r\na=rtpmap:8 PCMA/8000\r\n"
                              "a=rtpmap:101 telephone-event/8000\r\n"
                              "m=audio 4002 RTP/AVP 0\r\nc=IN IP4 10.0.0.3\r\n";

struct call {
    std::unique_ptr<call_object> co = std::make_unique<call_object>();
    call()
    {
        init_call_object(co.get(), 0);
        co->pid = 42;
    }
};

TEST(DebugDumps, IsdnEventHistoryTable)
{
    call c;
    for (int k = 0; k < LEGI_COUNT; k++) {
        c.co->legi->events_received[k] = k;
        c.co->legi->events_sent[k] = 10 * k;
    }
    EXPECT_EQ(stream_text([&](FILE *out) { tarn_list_isdn_event_history(out, c.co.get()); }),
              "Event               \tRecv\tSent\n"
              "SETUP               \t0\t0\n"
              "SETUPACKNOWLEDGE    \t1\t10\n"
              "PROCEEDING          \t2\t20\n"
              "PROGRESS            \t3\t30\n"
              "ALERTING            \t4\t40\n"
              "CONNECT             \t5\t50\n"
              "DISCONNECT          \t6\t60\n"
              "RELEASE             \t7\t70\n"
              "RELEASECOMPLETE     \t8\t80\n"
              "Received\n");
}

TEST(DebugDumps, RemoteSdpInOneLineWithTheCallsTag)
{
    call c;
    parsed_sdp p(two_media);
    ASSERT_NE(p.sdp, nullptr);
    debug_lines log({SIP}, true);
    dbg_log_remote_sdp(c.co.get(), p.sdp);
    dbg_log_remote_sdp(c.co.get(), nullptr);
    ASSERT_EQ(log.lines().size(), 1u);
    std::string line = log.lines()[0];
    EXPECT_EQ(line.substr(line.find('|') + 1),
              "Remote SDP: connection 10.0.0.2 ==> c:   ==> PCMA/8/8000 ==> telephone-event/101/8000"
              " ==> c: 10.0.0.3  ==> PCMU/0/8000");
    EXPECT_EQ(line.rfind("CID:", 0), 0u) << line;
}

TEST(DebugDumps, RemoteSdpIsCutAtTheBuffersEnd)
{
    // Far more media lines and formats than the line holds.
    std::string text = "v=0\r\no=- 1 1 IN IP4 10.0.0.2\r\ns=-\r\nc=IN IP4 10.0.0.2\r\nt=0 0\r\n";
    for (int m = 0; m < 60; m++) {
        text += "m=audio " + std::to_string(4000 + 2 * m) + " RTP/AVP";
        for (int pt = 96; pt < 128; pt++)
            text += " " + std::to_string(pt);
        text += "\r\nc=IN IP4 10.0.0." + std::to_string(m) + "\r\n";
        for (int pt = 96; pt < 128; pt++)
            text += "a=rtpmap:" + std::to_string(pt) + " a-rather-long-codec-name-" + std::to_string(pt) + "/48000\r\n";
    }
    parsed_sdp p(text);
    ASSERT_NE(p.sdp, nullptr);
    call c;
    debug_lines log({SIP});
    dbg_log_remote_sdp(c.co.get(), p.sdp);
    ASSERT_EQ(log.lines().size(), 1u);
    std::string line = log.lines()[0];
    EXPECT_EQ(line.size(), (size_t)REMOTE_SDP_TEXT_SIZE - 1);
    EXPECT_EQ(line.rfind("Remote SDP: connection 10.0.0.2 ==> c: 10.0.0.0  ==> a-rather-long-codec-name-96/96/48000", 0),
              0u);
}

TEST(DebugDumps, SdpOfBothSidesLineByLine)
{
    parsed_sdp local("v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=-\r\nc=IN IP4 10.0.0.1\r\nt=0 0\r\n"
                     "m=audio 5000 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n");
    parsed_sdp remote(two_media);
    debug_lines log({SIP});
    dbg_sip_analyze_sdp(local.sdp, remote.sdp);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "SDPINFOSTART Connection from Local",
                               "Media audio - port 5000 - no extra address given",
                               "Local: encoding: PCMA -  pt: 8 -  rate: 8000",
                               "SDPINFOSTOP Connection from Local",
                               "SDPINFOSTART Connection from Remote",
                               "Media audio - port 4000 - no extra address given",
                               "Remote: encoding: PCMA -  pt: 8 -  rate: 8000",
                               "Remote: encoding: telephone-event -  pt: 101 -  rate: 8000",
                               "Media audio - port 4002 - address: 10.0.0.3",
                               "Remote: encoding: PCMU -  pt: 0 -  rate: 8000",
                               "SDPINFOSTOP Connection from Remote",
                           }));
    log.clear();
    dbg_sip_analyze_sdp(nullptr, nullptr);
    EXPECT_TRUE(log.lines().empty());
}

TEST(DebugDumps, SipMessageAddresses)
{
    const char text[] = "INVITE sip:200@10.0.0.1 SIP/2.0\r\n"
                        "Via: SIP/2.0/UDP 10.0.0.2;branch=z9hG4bK1\r\n"
                        "From: \"Alice\" <sip:100:pw@10.0.0.2;user=phone?h=v>;tag=abc\r\n"
                        "To: <sip:200@10.0.0.1>\r\n"
                        "Call-ID: 1@10.0.0.2\r\nCSeq: 1 INVITE\r\nContent-Length: 0\r\n\r\n";
    msg_t *msg = msg_make(sip_default_mclass(), 0, text, sizeof text - 1);
    ASSERT_NE(msg, nullptr);
    sip_t *sip = sip_object(msg);
    ASSERT_NE(sip, nullptr);
    testing::internal::CaptureStdout();
    dbg_sip_analyze(sip);
    dbg_sip_analyze(nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    msg_destroy(msg);
    for (const char *line : {"Flags ", "size ", "From \"Alice\"\n", "To \n", "From_URLscheme sip\n",
                             "From_URLuser 100\n", "From_URLpass pw\n", "From_URLhost 10.0.0.2\n",
                             "From_URLparams user=phone\n", "From_URLheaders h=v\n", "From_tag abc\n",
                             "To_URLuser 200\n", "To_tag \n", "SIPNULL\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << " in\n" << out;
}

TEST(DebugDumps, BChannelFieldsStayInsideTheirWidths)
{
    auto bc = std::make_unique<misdn_bchannel>();
    memset(bc.get(), 0, sizeof *bc);
    bc->port = 3;
    bc->channel = 2;
    snprintf(bc->oad, sizeof bc->oad, "0301");
    memset(bc->qsig_local_name, 'n', sizeof bc->qsig_local_name); // no end mark
    std::string out = stream_text([&](FILE *f) { dbg_info_bchannel_to(f, bc.get()); });
    EXPECT_EQ(out.rfind("**************************************************\n", 0), 0u);
    EXPECT_NE(out.find(" -- port 3 -- "), std::string::npos) << out;
    EXPECT_NE(out.find("channel 2 -- "), std::string::npos);
    EXPECT_NE(out.find(" -- oad 0301 -- "), std::string::npos);
    EXPECT_NE(out.find("qsig_local_name " + std::string(sizeof bc->qsig_local_name, 'n') + " -- "),
              std::string::npos);
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(stream_text([&](FILE *f) { dbg_info_bchannel_to(f, nullptr); }), "");
}

} // namespace
