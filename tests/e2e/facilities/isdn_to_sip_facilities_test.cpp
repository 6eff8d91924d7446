// ISDN facilities on calls from ISDN to SIP: the gateway's TE port receives
// the call from q931peer (network side), sipp is the SIP far end.
// A SIP redirection turned into an ISDN call deflection: the far end answers
// the INVITE with 302, and the gateway asks the network to deflect the call
// to the Contact's user: CallDeflection on a point-to-multipoint line,
// CallRerouting on a point-to-point line. A 302 without Contact clears the
// call; a refused deflection with cd_fail_prefix sends a new INVITE for the
// prefixed number.
// A silent feature code the called SIP party dials by INFO digits sends the
// network the malicious-call identification request.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "e2e.h"
#include "isdn_calls.h"
#include "run_process.h"
#include "sipp_case.h"

namespace {

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// A far end answering INVITEs, each after half a second (see
// e2e_sipp_answer_until_bye): an INVITE for number with moved, any other
// with other (each the status line and header lines).
std::string far_end(const std::string &number, const std::string &moved, const std::string &other)
{
    auto answer = [](const std::string &a, const std::string &next) {
        return "<send><![CDATA[\n\nSIP/2.0 " + a +
               "\n[last_Via:]\n[last_From:]\n[last_To:];tag=[pid]SIPpTag01[call_number]\n[last_Call-ID:]\n"
               "[last_CSeq:]\nContent-Length: 0\n\n]]></send>\n<recv request=\"ACK\"" +
               (next.empty() ? "" : " next=\"" + next + "\"") + "/>\n";
    };
    return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<scenario name=\"redirecting\">\n"
           "<recv request=\"INVITE\"><action><ereg regexp=\"INVITE sip:" + number +
           "@\" search_in=\"msg\" check_it=\"false\" assign_to=\"moved\"/></action></recv>\n"
           "<pause milliseconds=\"500\"/>\n<nop test=\"moved\" next=\"moved\"/>\n" +
           answer(other, "end") + "<label id=\"moved\"/>\n" + answer(moved, "") +
           "<label id=\"end\"/>\n</scenario>\n";
}

// The called users of the INVITEs the gateway sent, in order, each request
// once (its retransmissions have the same branch).
std::vector<std::string> invites_sent(e2e_world &w)
{
    std::vector<std::string> users;
    std::set<std::string> branches;
    for (const std::string &l : sipp_captured_sip(w, "sip.Method == \"INVITE\"", {"sip.Via.branch", "sip.r-uri.user"})) {
        size_t tab = l.find('\t');
        if (tab != std::string::npos && branches.insert(l.substr(0, tab)).second)
            users.push_back(l.substr(tab + 1));
    }
    return users;
}

struct facility_world {
    e2e_world w;
    int uas_port = 0;
    // config: more settings of the port group; line_config: the dial-plan
    // line's.
    bool start(const std::string &line, const std::string &config, const std::string &line_config = "")
    {
        if (!w.ok())
            return false;
        isdn = std::make_unique<e2e_isdn_ports>(
            w, "[pbx]\nports=1\nconfig=isdn2sip_destination_numformat=VAZ_UNKNOWN" + config + "\n",
            std::vector<e2e_isdn_port>{{1, "te", line}});
        uas_port = free_local_port();
        w.root.write("usr/conf/tarn.dialplan", "ISDN\tSIP\t1\t127.0.0.2:" + std::to_string(uas_port) +
                                                   "\t([09][0-9]*)\t\\1\t(.*)\t\\1\t" + line_config + "\n");
        return w.start_tarn({"-o", "-l", "9"}, isdn->env());
    }
    std::unique_ptr<e2e_isdn_ports> isdn;
};

const char *const MOVED = "302 Moved Temporarily\nContact: <sip:123@127.0.0.1>";

// The gateway deflects; the stack itself never follows the 302: the far end
// gets the call's INVITE and no other for the Contact.
TEST(IsdnToSipFacilities, PointToMultipointDeflectsPointToPointReroutes)
{
    for (const char *line : {"ptmp", "ptp"}) {
        SCOPED_TRACE(line);
        facility_world d;
        E2E_REQUIRE(d.w);
        ASSERT_TRUE(d.start(line, "")) << d.w.tarn_err();
        d.w.root.write("uas.xml", far_end("0301", MOVED, "302 Moved Temporarily"));
        e2e_child uas(d.w, "uas", e2e_sipp_uas(d.w, d.w.root.path("uas.xml"), "127.0.0.2", d.uas_port, "uas", 2));
        ASSERT_TRUE(e2e_udp_listening(d.w, "127.0.0.2", d.uas_port));
        bool ptmp = std::string(line) == "ptmp";
        // (libpri as network on a point-to-multipoint line releases a call
        // the user disconnects before it reports it)
        e2e_child peer(d.w, "peer", d.isdn->peer_argv(1, {"dial 0301 4711", "wait reroute 20", "sleep 500", "hangup",
                                                          "wait hangup 20", "dial 0302 4711",
                                                          ptmp ? "wait hangup 30" : "wait hangup_req 30"}));
        EXPECT_TRUE(peer.wait("SCRIPT DONE", 60000)) << peer.text();
        EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << read_text_file(d.w.root.path("uas.msg"));
        EXPECT_TRUE(has(peer.text(), std::string("REROUTE kind=") + (ptmp ? "deflection" : "rerouting") + " to=123"))
            << peer.text();
        // a 302 without Contact deflects nothing: the gateway clears the
        // call (the only DISCONNECT it sends: the first call was cleared
        // by the network)
        std::string second = peer.text().substr(peer.text().find("REROUTE"));
        EXPECT_EQ(second.find("REROUTE", 1), std::string::npos) << peer.text();
        std::vector<std::string> sent = d.isdn->sent_types(1);
        EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const std::string &t) { return t.rfind("0x45\t", 0) == 0; }),
                  1)
            << testing::PrintToString(sent);
        EXPECT_EQ(invites_sent(d.w), (std::vector<std::string>{"0301", "0302"}));
    }
}

// (On a point-to-point line: a network on a point-to-multipoint line cannot
// answer before the call is answered, libpri has no call record to send on.)
TEST(IsdnToSipFacilities, RefusedDeflectionCallsThePrefixedNumber)
{
    facility_world d;
    E2E_REQUIRE(d.w);
    ASSERT_TRUE(d.start("ptp", ",cd_fail_prefix=9")) << d.w.tarn_err();
    d.w.root.write("uas.xml", far_end("0301", MOVED, "486 Busy Here"));
    e2e_child uas(d.w, "uas", e2e_sipp_uas(d.w, d.w.root.path("uas.xml"), "127.0.0.2", d.uas_port, "uas", 2));
    ASSERT_TRUE(e2e_udp_listening(d.w, "127.0.0.2", d.uas_port));
    std::vector<std::string> argv =
        d.isdn->peer_argv(1, {"dial 0301 4711", "wait reroute 20", "wait hangup_req 30"});
    argv.insert(argv.begin() + 1, "--reject-reroute");
    e2e_child peer(d.w, "peer", argv);
    EXPECT_EQ(uas.wait_exit(40000), 0) << uas.text() << read_text_file(d.w.root.path("uas.msg"));
    EXPECT_TRUE(peer.wait("SCRIPT DONE", 40000)) << peer.text();
    EXPECT_EQ(invites_sent(d.w), (std::vector<std::string>{"0301", "90301"}));
}

// A far end that answers the call (after half a second, see
// e2e_sipp_answer_until_bye) and then, as the called party, dials digits by
// SIP INFO; it answers the BYE that ends the call.
std::string dialling_far_end(const std::vector<std::string> &digits)
{
    std::string s = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<scenario name=\"dialling\">\n"
                    "<recv request=\"INVITE\" rrs=\"true\"><action>\n"
                    "<ereg regexp=\".*\" search_in=\"hdr\" header=\"From:\" assign_to=\"caller\"/>\n"
                    "<ereg regexp=\".*\" search_in=\"hdr\" header=\"To:\" assign_to=\"called\"/>\n"
                    "</action></recv>\n"
                    "<send><![CDATA[\n\nSIP/2.0 100 Trying\n[last_Via:]\n[last_From:]\n[last_To:]\n[last_Call-ID:]\n"
                    "[last_CSeq:]\nContent-Length: 0\n\n]]></send>\n<pause milliseconds=\"500\"/>\n"
                    "<send><![CDATA[\n\nSIP/2.0 200 OK\n[last_Via:]\n[last_From:]\n[last_To:];tag=[pid]SIPpTag01"
                    "[call_number]\n[last_Call-ID:]\n[last_CSeq:]\nContact: <sip:called@[local_ip]:[local_port]>\n"
                    "Content-Type: application/sdp\nContent-Length: [len]\n\nv=0\n"
                    "o=user1 53655765 2353687637 IN IP[local_ip_type] [local_ip]\ns=-\n"
                    "c=IN IP[media_ip_type] [media_ip]\nt=0 0\nm=audio [media_port] RTP/AVP 8\n"
                    "a=rtpmap:8 PCMA/8000\n]]></send>\n<recv request=\"ACK\"/>\n<pause milliseconds=\"1000\"/>\n";
    int cseq = 1;
    for (const std::string &d : digits)
        s += "<send retrans=\"500\"><![CDATA[\n\nINFO [next_url] SIP/2.0\n"
             "Via: SIP/2.0/[transport] [local_ip]:[local_port];branch=[branch]\nMax-Forwards: 70\n"
             "From:[$called];tag=[pid]SIPpTag01[call_number]\nTo:[$caller]\nCall-ID: [call_id]\n"
             "CSeq: " + std::to_string(cseq++) + " INFO\nContent-Type: application/dtmf-relay\n"
             "Content-Length: [len]\n\nSignal=" + d + "\nDuration=160\n]]></send>\n<recv response=\"200\"/>\n";
    return s + "<recv request=\"BYE\"/>\n<send><![CDATA[\n\nSIP/2.0 200 OK\n[last_Via:]\n[last_From:]\n"
               "[last_To:]\n[last_Call-ID:]\n[last_CSeq:]\nContent-Length: 0\n\n]]></send>\n</scenario>\n";
}

// Silent feature code *99# (either party, MCID) dialled by the called SIP
// party: the network receives the malicious-call identification request.
TEST(IsdnToSipFacilities, FeatureCodeOfTheCalledPartySendsMcid)
{
    facility_world d;
    E2E_REQUIRE(d.w);
    ASSERT_TRUE(d.start("ptp", "", "feature_codes=b:*99#:mcid,feature_codes_silent=1,rfc2833_dtmf_passthrough=0"))
        << d.w.tarn_err();
    d.w.root.write("uas.xml", dialling_far_end({"*", "9", "9", "#"}));
    e2e_child uas(d.w, "uas", e2e_sipp_uas(d.w, d.w.root.path("uas.xml"), "127.0.0.2", d.uas_port, "uas"));
    ASSERT_TRUE(e2e_udp_listening(d.w, "127.0.0.2", d.uas_port));
    e2e_child peer(d.w, "peer", d.isdn->peer_argv(1, {"dial 0301 4711", "wait answer 30", "wait mcid_req 30",
                                                      "hangup", "wait hangup 30"}));
    EXPECT_TRUE(peer.wait("SCRIPT DONE", 60000)) << peer.text();
    EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << read_text_file(d.w.root.path("uas.msg"));
    EXPECT_TRUE(has(peer.text(), "MCID_REQ")) << peer.text();
}

} // namespace
