// Calls from ISDN out to SIP through the whole daemon: port 1 of the
// gateway is an NT basic-rate point-to-point port facing a libpri user side
// (q931peer), the dial plan sends its calls to a sipp far end on loopback,
// and the D-channel trace is read back by tshark.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "e2e.h"
#include "run_process.h"

namespace {

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

int count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        n++;
    return n;
}

std::string scenario(const std::string &name)
{
    return std::string(TARN_SOURCE_DIR) + "/tests/e2e/isdn_to_sip/" + name;
}

using child = e2e_child;

// The gateway with its ISDN port, the dial plan toward the far end's SIP
// port, and the far end's scenario.
struct isdn_world {
    e2e_world w;
    int peer_port = 0, gw_port = 0, uas_port = 0;
    std::string trace;

    // port_settings: extra lines of the port group in tarn.isdn
    bool start(const std::string &port_settings, const std::string &config)
    {
        if (!w.ok())
            return false;
        peer_port = free_local_port();
        gw_port = free_local_port();
        uas_port = free_local_port();
        trace = w.root.path("port1.trace");
        w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv4S0\nptp=1,0,0,0\n");
        w.root.write("usr/conf/tarn.sip", w.root.default_sip());
        w.root.write("usr/conf/tarn.isdn", "[pbx]\nports=1\nconfig=" + config + "\n" + port_settings);
        w.root.write("misdn.ports", "1 nt bri ptp " + std::to_string(gw_port) + " " + std::to_string(peer_port) +
                                        " " + trace + "\n");
        // calls to numbers beginning 0 or 1 go to the far end (127.0.0.1 would
        // name the gateway itself), others nowhere
        w.root.write("usr/conf/tarn.dialplan", "ISDN\tSIP\t1\t127.0.0.2:" + std::to_string(uas_port) +
                                                   "\t([01][0-9]*)#?\t\\1\t(.*)\t\\1\t\n");
        return w.start_tarn({"-o", "-l", "9"}, {"TARN_MISDN_SIM=" + w.root.path("misdn.ports")});
    }
    std::vector<std::string> peer_args(const std::vector<std::string> &steps) const
    {
        std::vector<std::string> a = {std::string(TARN_BINARY_DIR) + "/sim/q931peer/q931peer",
                                      "--role", "user", "--line", "ptp", "--local", std::to_string(peer_port),
                                      "--peer", std::to_string(gw_port)};
        for (const std::string &s : steps) {
            a.push_back("-e");
            a.push_back(s);
        }
        return a;
    }
    std::vector<std::string> uas_args(const std::string &xml, int calls = 1) const
    {
        return {"sipp", "-sf", scenario(xml), "-i", "127.0.0.2", "-p", std::to_string(uas_port), "-m",
                std::to_string(calls),
                "-timeout", "40s", "-timeout_error", "-nostdin", "-trace_msg", "-message_file",
                w.root.path("uas.msg")};
    }
    // Q.931 message types the gateway sent (NT: commands with C/R 1).
    std::vector<std::string> sent_types()
    {
        std::vector<std::string> out;
        process_result t = run_process({"bash", "-c",
                                        "text2pcap -q -D -t '%H:%M:%S.%f' -l 203 '" + trace + "' '" + trace +
                                            ".pcap' >/dev/null 2>&1 && tshark -n -r '" + trace +
                                            ".pcap' -Y 'q931 && lapd.cr == 1' -T fields -e q931.message_type -e "
                                            "q931.cause_value"},
                                       "", {}, 60);
        size_t at = 0;
        while (at < t.out.size()) {
            size_t nl = t.out.find('\n', at);
            std::string line = t.out.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
            if (!line.empty())
                out.push_back(line);
            if (nl == std::string::npos)
                break;
            at = nl + 1;
        }
        return out;
    }
};

// En bloc with sending complete: the far end gets an INVITE whose
// Request-URI and To user carry the international form (+49 30 ...) and an
// SDP offer. A number without a dial-plan line is released with cause 17
// and sends no INVITE.
TEST(IsdnToSip, EnBlocInviteAndNoRoute)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    ASSERT_TRUE(iw.start("", "isdn2sip_destination_numformat=VAZ_PLUS,sip_international_code=49,sip_national_code=30"))
        << iw.w.tarn_err();
    child uas(iw.w, "uas", iw.uas_args("uas_invite_486.xml"));
    child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 999 4711", "wait hangup 10", "dial 0301234 4711",
                                           "wait hangup_req 30"}));
    EXPECT_TRUE(peer.wait("SCRIPT DONE", 60000)) << peer.text();
    EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << read_text_file(iw.w.root.path("uas.msg"));
    EXPECT_TRUE(has(peer.text(), "HANGUP cause=17")) << peer.text();
    EXPECT_TRUE(has(peer.text(), "HANGUP_REQ")) << "the far end's 486 clears the call: " << peer.text();
    EXPECT_EQ(count(iw.w.tarn_out(), "S SEND: NUA_I_INVITE\n"), 1) << "the call without route sent none";
    std::vector<std::string> types = iw.sent_types();
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types[0], "0x5a\t17") << "RELEASE COMPLETE, cause 17 for the number without route";
}

// Overlap dialling toward a port that completes on "#": one SETUP
// ACKNOWLEDGE for all digits, the INVITE to 123 at once after the "#".
TEST(IsdnToSip, OverlapDigitsCompleteOnPound)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    ASSERT_TRUE(iw.start("complete_dialing_on_pound_or_star=yes\ninterdigit_timeout=30\n"
                         "interdigit_timeout_initial=30\n",
                         "isdn2sip_destination_numformat=VAZ_UNKNOWN"))
        << iw.w.tarn_err();
    child uas(iw.w, "uas", iw.uas_args("uas_invite_123.xml"));
    // "0" is no dial-plan match on its own; the far end waits 30 s: only
    // the "#" can send the INVITE within the test's bounds
    child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 12 4711 --overlap", "wait setup_ack 10", "info 3",
                                           "sleep 300", "info #", "sleep 500"}));
    EXPECT_EQ(uas.wait_exit(20000), 0) << uas.text() << read_text_file(iw.w.root.path("uas.msg"));
    EXPECT_TRUE(peer.wait("SCRIPT DONE", 30000)) << peer.text();
    int acks = 0;
    for (const std::string &t : iw.sent_types())
        acks += t.rfind("0x0d", 0) == 0;
    EXPECT_EQ(acks, 1) << "one SETUP ACKNOWLEDGE";
}

// Seconds of the day of a debug line's time stamp ("26/12/10-08:33:28:528080|"),
// or -1.
double stamp_of_line_with(const std::string &text, const std::string &what)
{
    size_t at = text.find(what);
    if (at == std::string::npos)
        return -1;
    size_t begin = text.rfind('\n', at);
    begin = begin == std::string::npos ? 0 : begin + 1;
    int h = 0, m = 0, s = 0, us = 0;
    if (sscanf(text.c_str() + begin, "<%*d>%*d/%*d/%*d-%d:%d:%d:%d|", &h, &m, &s, &us) != 4)
        return -1;
    return h * 3600.0 + m * 60.0 + s + us / 1e6;
}

// A far end silent after the INVITE: with T0 of 2 s the gateway gives the
// INVITE up about 2 s after sending it and cancels it; the SIP stack sends
// the CANCEL once the INVITE has a provisional answer (the far end's late
// 100).
TEST(IsdnToSip, SilentFarEndIsCancelledByT0)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    ASSERT_TRUE(iw.start("", "response_timer=T0:2")) << iw.w.tarn_err();
    child uas(iw.w, "uas", iw.uas_args("uas_silent_cancel.xml"));
    child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 0301234 4711", "wait hangup 30"}));
    EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << read_text_file(iw.w.root.path("uas.msg"));
    std::string out = iw.w.tarn_out();
    double sent = stamp_of_line_with(out, "SM_ISDN_WAIT_FOR_DIALING => SM_SIP_INVITE_SENT");
    double given_up = stamp_of_line_with(out, "[NUA_R_INVITE:1000] SM_SIP_INVITE_SENT => SM_DISMANTLING");
    ASSERT_GT(sent, 0) << out;
    ASSERT_GT(given_up, 0) << out;
    EXPECT_GE(given_up - sent, 1.9);
    EXPECT_LE(given_up - sent, 6.0);
    EXPECT_TRUE(peer.wait("HANGUP", 40000)) << peer.text();
}

// Overlap dialling toward SIP: the far end's 484 keeps the call waiting
// for more digits, and the next INFORMATION digit sends a new INVITE with
// the longer number.
TEST(IsdnToSip, OverlapTowardSipAfter484)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    ASSERT_TRUE(iw.start("overlap_dialing=yes\n", "isdn2sip_destination_numformat=VAZ_UNKNOWN")) << iw.w.tarn_err();
    child uas(iw.w, "uas", iw.uas_args("uas_484.xml", 2));
    child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 0301 4711 --overlap",
                                           "wait setup_ack 10", "sleep 1000", "info 2", "sleep 1000"}));
    EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << read_text_file(iw.w.root.path("uas.msg"));
    std::string msgs = read_text_file(iw.w.root.path("uas.msg"));
    EXPECT_TRUE(has(msgs, "INVITE sip:0301@")) << msgs;
    EXPECT_TRUE(has(msgs, "INVITE sip:03012@")) << msgs;
    EXPECT_TRUE(has(iw.w.tarn_out(), "SM_SIP_INVITE_SENT_OD => SM_SIP_INVITE_SENT_OD_484")) << iw.w.tarn_out();
}

// Digits without a route and without sending complete: the dial timer
// (interdigit_timeout 2 s after a digit) ends the call with cause 17 of the
// default cause map, after the SETUP ACKNOWLEDGE.
TEST(IsdnToSip, DialTimerEndsACallWithoutRoute)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    ASSERT_TRUE(iw.start("interdigit_timeout=2\ninterdigit_timeout_initial=2\n", "")) << iw.w.tarn_err();
    auto begin = std::chrono::steady_clock::now();
    child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 9 4711 --overlap", "wait setup_ack 10",
                                           "wait hangup_req 20"}));
    EXPECT_TRUE(peer.wait("SCRIPT DONE", 30000)) << peer.text();
    auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_TRUE(has(peer.text(), "HANGUP_REQ cause=17")) << peer.text(); // DISCONNECT
    EXPECT_GE(took, std::chrono::milliseconds(2900)) << "one second before dialling, two of the timer";
    EXPECT_EQ(count(iw.w.tarn_out(), "S SEND: NUA_I_INVITE\n"), 0);
}

} // namespace
