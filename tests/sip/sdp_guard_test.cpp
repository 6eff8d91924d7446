// The media-line check every SDP passes before the SIP stack parses it, and
// the stacks' message class that turns a failed check into a parse error.
#include <gtest/gtest.h>

#include <sofia-sip/msg.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>

#include <string>

#include "sdp_guard.h"

namespace {

const std::string head = "v=0\r\no=- 1 1 IN IP4 1.2.3.4\r\ns=-\r\nc=IN IP4 1.2.3.4\r\nt=0 0\r\n";

bool plain(const std::string &text)
{
    return sdp_media_lines_parsable(text.data(), text.size()) == 1;
}

TEST(SdpGuard, MediaLines)
{
    struct {
        const char *line;
        bool plain;
    } cases[] = {
        {"m=audio 4000 RTP/AVP 0 8 101", true},
        {"m=video 5000/2 RTP/AVP 96", true},
        {"m=image 4002 udptl t38", true},
        {"m=audio 4000 RTP/AVP", true},
        {"m=audio 4000 RTP/SAVP 0 ", true},
        {"m=audio 4000  RTP/AVP 0  8", true},
        {"m=application 9 UDP/TLS/RTP/SAVPF 100", true},
        {"m=image 4002 udptl (", false},
        {"m=audio 4000 RTP/AVP 0 8;", false},
        {"m=audio 4000 RTP/AVP 0\t8", false},
        {"m=image 4002 0\t\t\t", false},
        {"m=audio 4000 RTP/AVP 0 \x01", false},
        {"m=audio 4000 RTP/AVP 0 \xc3\xa9", false},
        {"m=au(dio 4000 RTP/AVP 0", false},
        {"m=audio 4000 RTP(AVP 0", false},
    };
    for (auto &c : cases) {
        for (const char *eol : {"\r\n", "\n", "\r", ""}) {
            std::string text = head + c.line + eol;
            EXPECT_EQ(plain(text), c.plain) << c.line << " ending " << testing::PrintToString(eol);
        }
    }
    // Only lines starting "m=" are looked at, and every one of them.
    EXPECT_TRUE(plain(""));
    EXPECT_TRUE(plain(head + "a=fmtp:101 0-15,(x)\r\n i=m=( \r\n"));
    EXPECT_FALSE(plain(head + "m=audio 4000 RTP/AVP 0\r\na=sendrecv\r\nm=image 4002 udptl (\r\n"));
    EXPECT_FALSE(plain(head + "m=audio 4000 RTP/AVP 0\rm=image 4002 udptl (\r"));
}

// A request through the stacks' message class: bodies whose media lines
// are not plain make the message a parse error; others parse as before.
TEST(SdpGuard, MessageClassRefusesSuchBodies)
{
    auto parse = [](const std::string &type, const std::string &body) {
        std::string text = "INVITE sip:gw@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:5999;branch=z9hG4bK-1\r\n"
                           "From: <sip:a@127.0.0.1>;tag=1\r\nTo: <sip:gw@127.0.0.1>\r\nCall-ID: g-1@test\r\n"
                           "CSeq: 1 INVITE\r\nMax-Forwards: 70\r\n" +
                           type + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        msg_t *msg = msg_make(sdp_guarded_mclass(), 0, text.data(), (ssize_t)text.size());
        bool error = !msg || (sip_object(msg)->sip_flags & MSG_FLG_ERROR);
        bool has_body = msg && sip_object(msg)->sip_payload && sip_object(msg)->sip_payload->pl_len == body.size();
        msg_destroy(msg);
        return error ? "error" : has_body ? "ok" : "no body";
    };
    ASSERT_NE(sdp_guarded_mclass(), nullptr);
    EXPECT_EQ(sdp_guarded_mclass(), sdp_guarded_mclass());
    std::string bad = head + "m=image 4002 udptl (\r\n", good = head + "m=image 4002 udptl t38\r\n";
    EXPECT_STREQ(parse("Content-Type: application/sdp\r\n", bad), "error");
    EXPECT_STREQ(parse("Content-Type: Application/SDP\r\n", bad), "error");
    EXPECT_STREQ(parse("", bad), "error");
    EXPECT_STREQ(parse("Content-Type: multipart/mixed;boundary=x\r\n", "--x\r\n\r\n" + bad + "--x--\r\n"), "error");
    EXPECT_STREQ(parse("Content-Type: application/sdp\r\n", good), "ok");
    // Bodies that are no SDP are left alone.
    EXPECT_STREQ(parse("Content-Type: text/plain\r\n", bad), "ok");
}

} // namespace
