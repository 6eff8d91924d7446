// Calls from SIP out to ISDN through the whole daemon: sipp sends INVITEs to
// the localhost stack, the dial plan sends them to ISDN ports of the
// mISDN stand-in, and each port faces a libpri far end (q931peer) with its
// own script: TE basic-rate point-to-point ports 1, 2, 9 and 10 against the
// network side, NT point-to-multipoint port 3 against a terminal. The
// D-channel traces are read back by tshark, the media processor's record
// by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sipp_case.h"

namespace {

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

std::string scenario(const std::string &name)
{
    return std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip_to_isdn/" + name;
}

// A dial plan line from SIP to the ISDN ports of to_id for called numbers
// matching called, with the line's call configuration.
std::string line_to_isdn(const std::string &ports, const std::string &called, const std::string &config = "")
{
    return "SIP\tISDN\t*\t" + ports + "\t" + called + "\t\\0\t*\t\\0\t" + config + "\n";
}

struct isdn_port {
    int number = 0;
    bool nt = false, ptp = true;
    int gw = 0, peer = 0;
    std::string trace{};
};

// The gateway with its five ISDN ports and the far ends the test starts.
class SipToIsdn : public ::testing::Test {
protected:
    SipToIsdn() : w(sipp_world_options()) {}

    void SetUp() override
    {
        const struct {
            int number;
            bool nt, ptp;
        } plan[] = {{1, false, true}, {2, false, true}, {3, true, false}, {9, false, true}, {10, false, true}};
        for (const auto &q : plan) {
            isdn_port p{q.number, q.nt, q.ptp};
            p.gw = free_local_port();
            p.peer = free_local_port();
            p.trace = w.root.path("port" + std::to_string(p.number) + ".trace");
            ports[p.number] = p;
        }
    }

    // Writes the configuration (the dial plan and more port-group lines)
    // and starts tarn once the far ends given are up.
    bool start(const std::string &dialplan, const std::string &port_settings = "")
    {
        sipp_write_config(w, "usr/conf/tarn.sip", "[general]\nsip_bindport_localhost = @SIP_PORT@\n");
        // ports 1-4, 5-8 (none used), 9-12
        w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv4S0\nptp=1,1,0,1\n[lif1]\ntype=dv4S0\n"
                                               "[lif2]\ntype=dv4S0\nptp=1,1,1,1\n");
        w.root.write("usr/conf/tarn.isdn", "[te]\nports=1,2,9,10\n" + port_settings + "[nt]\nports=3\n");
        std::string sim;
        for (const auto &[n, p] : ports)
            sim += std::to_string(n) + (p.nt ? " nt bri " : " te bri ") + (p.ptp ? "ptp " : "ptmp ") +
                   std::to_string(p.gw) + " " + std::to_string(p.peer) + " " + p.trace + "\n";
        w.root.write("misdn.ports", sim);
        // the B-channels on the first TDM bus, two timeslots a port
        std::string tdm;
        int slot = 0;
        for (const auto &[n, p] : ports)
            for (int ch = 1; ch <= 2; ch++)
                tdm += "timeslot 0 " + std::to_string(n) + " " + std::to_string(ch) + " " + std::to_string(slot++) + "\n";
        w.root.write("usr/conf/tarn.tdm", tdm);
        w.root.write("usr/conf/tarn.dialplan", dialplan);
        for (const auto &[n, p] : peers)
            if (!p->wait("READY", 10000))
                return false;
        if (!sipp_start_tarn(w, {"TARN_MISDN_SIM=" + w.root.path("misdn.ports")}))
            return false;
        for (const auto &[n, p] : peers)
            if (!p->wait("UP", 20000))
                return false;
        return true;
    }

    // A far end on port n with its script; the network side faces the TE
    // ports, a terminal the NT port.
    e2e_q931_peer &peer(int n, const std::vector<std::string> &steps)
    {
        const isdn_port &p = ports.at(n);
        std::vector<std::string> args = {"--role", p.nt ? "user" : "network", "--line", p.ptp ? "ptp" : "ptmp",
                                         "--local", std::to_string(p.peer), "--peer", std::to_string(p.gw)};
        for (const std::string &s : steps) {
            args.push_back("-e");
            args.push_back(s);
        }
        peers[n] = std::make_unique<e2e_q931_peer>(w, args, "peer" + std::to_string(n));
        return *peers[n];
    }

    // One sipp call of a scenario of this folder to the called number,
    // over within seconds.
    process_result call(const std::string &xml, const std::string &to, std::vector<std::string> extra = {},
                        int seconds = 15)
    {
        extra.insert(extra.end(), {"-key", "to", to});
        return sipp_run(w, {scenario(xml), 1, "127.0.0.1", extra, seconds});
    }

    // The message types (and causes) on port n's D-channel, both ways.
    std::vector<std::string> messages(int n, const std::vector<std::string> &fields = {"q931.message_type",
                                                                                        "q931.cause_value"})
    {
        return e2e_q931_messages(ports.at(n).trace, "", fields);
    }

    // The sipp message traces of the test, one after the other.
    std::string sipp_messages()
    {
        process_result r = run_process({"bash", "-c", "cat '" + w.root.path("sipp") + "'/*.msg"}, "", {}, 10);
        return r.out;
    }

    e2e_world w;
    std::map<int, isdn_port> ports;
    std::map<int, std::unique_ptr<e2e_q931_peer>> peers;
};

std::string joined(const std::vector<std::string> &v)
{
    std::string s;
    for (const std::string &x : v)
        s += x + "\n";
    return s;
}

// The lines of a field list whose message type is type.
std::vector<std::string> of_type(const std::vector<std::string> &msgs, const std::string &type)
{
    std::vector<std::string> out;
    for (const std::string &m : msgs)
        if (m.rfind(type + "\t", 0) == 0 || m == type)
            out.push_back(m);
    return out;
}

// A call to TE port 1 that rings and answers, ended by the SIP side's BYE;
// then a call to NT port 3 rings without SDP and is cancelled.
TEST_F(SipToIsdn, AnsweredCallAndNtRinging)
{
    E2E_REQUIRE(w);
    peer(1, {"wait ring 60", "proceeding", "alerting", "sleep 200", "answer", "wait hangup_req 30"});
    peer(3, {"wait ring 90", "alerting", "wait hangup 30"});
    ASSERT_TRUE(start(line_to_isdn("1", "1.*") + line_to_isdn("3", "3.*"))) << w.tarn_err();

    EXPECT_TRUE(sipp_ok(call("s2i_basic.xml", "1001", {"-mp", "16000"})));
    EXPECT_TRUE(peers[1]->wait("HANGUP_REQ cause=16")) << peers[1]->text();
    EXPECT_EQ(joined(messages(1, {"q931.message_type"})), "0x05\n0x02\n0x01\n0x07\n0x0f\n0x45\n0x4d\n0x5a\n")
        << "SETUP, CALL PROCEEDING, ALERTING, CONNECT, CONNECT ACKNOWLEDGE, DISCONNECT, RELEASE, RELEASE COMPLETE";
    EXPECT_EQ(joined(of_type(messages(1), "0x45")), "0x45\t16\n") << "DISCONNECT with cause 16";
    // the media processor: a voice channel sending to sipp's RTP port,
    // destroyed once the call has ended
    long long voice = -1;
    bool destroyed = false;
    for (const json_value &f : w.root.msp()->frames("in")) {
        if (f["name"].str() == "FC_SET_IP_HDR_CHANNEL" && f["fields"]["udp_destination_port"].num() == 16000)
            voice = f["channel"].num();
        else if (voice >= 0 && f["name"].str() == "FC_SUPVSR_DESTROY_CHANNEL" &&
                 f["fields"]["channel_number"].num() == voice)
            destroyed = true;
    }
    EXPECT_GE(voice, 0) << "a voice channel toward sipp's RTP port";
    EXPECT_TRUE(destroyed) << "the voice channel ends with the call";

    EXPECT_TRUE(sipp_ok(call("s2i_cancel.xml", "3001")));
    EXPECT_TRUE(peers[3]->wait("HANGUP")) << peers[3]->text();
    std::vector<std::string> responses = sipp_captured_responses(w);
    std::string r = joined(responses);
    EXPECT_TRUE(has(r, "180 INVITE\n200 INVITE\n")) << r;
    EXPECT_TRUE(has(r, "180 INVITE\n200 CANCEL\n487 INVITE\n")) << r;
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// The Reason header of the first response with status in sipp's message
// trace: its protocol and parameters ("cause" -> "17").
struct reason_header {
    std::string protocol;
    std::map<std::string, std::string> params;
};

reason_header reason_of(const std::string &trace, int status)
{
    reason_header r;
    size_t at = trace.find("SIP/2.0 " + std::to_string(status) + " ");
    if (at == std::string::npos)
        return r;
    size_t end = trace.find("\n\n", at);
    size_t hdr = trace.find("\nReason:", at);
    if (hdr == std::string::npos || (end != std::string::npos && hdr > end))
        return r;
    hdr += 8;
    std::string value = trace.substr(hdr, trace.find('\n', hdr) - hdr);
    if (!value.empty() && value.back() == '\r')
        value.pop_back();
    std::istringstream items(value);
    bool first = true;
    for (std::string item; std::getline(items, item, ';'); first = false) {
        while (!item.empty() && item.front() == ' ')
            item.erase(0, 1);
        if (first) {
            r.protocol = item;
            continue;
        }
        size_t eq = item.find('=');
        if (eq != std::string::npos)
            r.params[item.substr(0, eq)] = item.substr(eq + 1);
    }
    return r;
}

// The far end clears a ringing call with cause 17: the INVITE is answered
// 486 "Busy Here" with a Reason header carrying Q.850 cause 17.
TEST_F(SipToIsdn, BusyWhileRingingGives486WithReason)
{
    E2E_REQUIRE(w);
    peer(1, {"wait ring 60", "proceeding", "alerting", "sleep 300", "hangup 17", "wait hangup 30"});
    ASSERT_TRUE(start(line_to_isdn("1", "1.*"))) << w.tarn_err();
    EXPECT_TRUE(sipp_ok(call("s2i_busy.xml", "1001")));
    std::string msgs = sipp_messages();
    EXPECT_TRUE(has(msgs, "SIP/2.0 486 Busy Here")) << msgs;
    reason_header r = reason_of(msgs, 486);
    EXPECT_EQ(r.protocol, "Q.850") << msgs;
    EXPECT_EQ(r.params["cause"], "17") << msgs;
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// CANCEL before the ISDN side answered anything: RELEASE COMPLETE with
// cause 16, no DISCONNECT; the INVITE ends with 487.
TEST_F(SipToIsdn, CancelBeforeAnyAnswerReleasesComplete)
{
    E2E_REQUIRE(w);
    peer(1, {"wait ring 60", "wait hangup 30"});
    ASSERT_TRUE(start(line_to_isdn("1", "1.*"))) << w.tarn_err();
    EXPECT_TRUE(sipp_ok(call("s2i_cancel.xml", "1001")));
    EXPECT_TRUE(e2e_world::wait_for([&] { return messages(1).size() >= 2; }, E2E_WAIT_MS));
    EXPECT_EQ(joined(messages(1)), "0x05\t\n0x5a\t16\n") << "SETUP, RELEASE COMPLETE (16)";
    std::string r = joined(sipp_captured_responses(w));
    EXPECT_TRUE(has(r, "200 CANCEL\n487 INVITE\n")) << r;
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// The RING line a far end printed, without its channel.
std::string ring_line(const std::string &text)
{
    size_t at = text.find("RING ");
    if (at == std::string::npos)
        return "";
    std::string line = text.substr(at, text.find('\n', at) - at);
    return line.substr(0, line.find(" channel="));
}

// A channel refused with cause 44 moves the call to the route's next port
// with the same numbers, types of number and bearer, with no SIP answer in
// between; the refusing port is tried once. Ports 9 and 10 lie beyond the
// first eight.
class SipToIsdnPortMove : public SipToIsdn, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(SipToIsdnPortMove, RefusedChannelMovesTheCallToTheNextPort)
{
    E2E_REQUIRE(w);
    auto [first, second] = GetParam();
    peer(first, {"wait ring 60", "reject 44", "wait ring 8"});
    peer(second, {"wait ring 60", "proceeding", "alerting", "answer", "wait hangup_req 30"});
    ASSERT_TRUE(start(line_to_isdn(std::to_string(first) + "," + std::to_string(second), "5.*"))) << w.tarn_err();
    EXPECT_TRUE(sipp_ok(call("s2i_basic.xml", "5001")));
    EXPECT_TRUE(peers[second]->wait("HANGUP_REQ cause=16")) << peers[second]->text();
    EXPECT_TRUE(peers[first]->wait("TIMEOUT waiting for ring", 15000)) << "one SETUP only on the refusing port";
    std::vector<std::string> fields = {"q931.message_type", "q931.number_type", "q931.numbering_plan",
                                       "q931.coding_standard", "q931.information_transfer_capability",
                                       "q931.uil1"};
    std::vector<std::string> a = of_type(e2e_q931_messages(ports[first].trace, "", fields), "0x05");
    std::vector<std::string> b = of_type(e2e_q931_messages(ports[second].trace, "", fields), "0x05");
    ASSERT_EQ(a.size(), 1u) << joined(messages(first));
    ASSERT_EQ(b.size(), 1u) << joined(messages(second));
    EXPECT_EQ(a[0], b[0]) << "numbers' attributes and bearer";
    EXPECT_EQ(ring_line(peers[first]->text()), "RING called=5001 calling=4711") << peers[first]->text();
    EXPECT_EQ(ring_line(peers[second]->text()), ring_line(peers[first]->text())) << peers[second]->text();
    std::string r = joined(sipp_captured_responses(w));
    EXPECT_TRUE(has(r, "200 INVITE")) << r;
    for (const char *refusal : {"480 ", "486 ", "503 "})
        EXPECT_FALSE(has(r, refusal)) << r;
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

INSTANTIATE_TEST_SUITE_P(Ports, SipToIsdnPortMove, ::testing::Values(std::pair{1, 2}, std::pair{9, 10}));

// SIP INFO digits while the ISDN side rings go out as INFORMATION: "5",
// then "7" of a body with Signal=3 and Signal=7.
TEST_F(SipToIsdn, InfoDigitsWhileRingingGoOutAsInformation)
{
    E2E_REQUIRE(w);
    peer(1, {"wait ring 60", "proceeding", "alerting", "wait hangup 30"});
    ASSERT_TRUE(start(line_to_isdn("1", "1.*"))) << w.tarn_err();
    EXPECT_TRUE(sipp_ok(call("s2i_info_dtmf.xml", "1001")));
    EXPECT_TRUE(peers[1]->wait("HANGUP")) << peers[1]->text();
    std::vector<std::string> info =
        e2e_q931_messages(ports[1].trace, "q931.message_type == 0x7b", {"q931.called_party_number.digits",
                                                                        "q931.keypad_facility"});
    EXPECT_EQ(joined(info), "5\t\n7\t\n") << joined(messages(1));
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// With ie_on_sip, the INVITE's X-DV headers go into the SETUP: the calling
// number's type, plan, presentation and screening, the bearer capability
// (unrestricted digital, 64 kbit/s), the user-user protocol and two
// facility IEs.
TEST_F(SipToIsdn, XdvHeadersIntoTheSetup)
{
    E2E_REQUIRE(w);
    peer(1, {"wait ring 60", "proceeding", "hangup 17", "wait hangup 30"});
    ASSERT_TRUE(start(line_to_isdn("1", "1.*", "ie_on_sip=1"))) << w.tarn_err();
    EXPECT_TRUE(sipp_ok(call("s2i_xdv.xml", "1001")));
    std::vector<std::string> setup =
        e2e_q931_messages(ports[1].trace, "q931.message_type == 0x05",
                          {"q931.number_type", "q931.numbering_plan", "q931.presentation_ind", "q931.screening_ind",
                           "q931.information_transfer_capability", "q931.information_transfer_rate",
                           "q931.user.protocol_discriminator", "q932.ros.present", "q932.ros.local"});
    ASSERT_EQ(setup.size(), 1u) << joined(messages(1));
    // calling number type 1, plan 1 (the called number's own attributes
    // follow), presentation 0, screening 3, bearer 8 at 0x10, user-user
    // protocol 4, facilities with invoke ids 1 and 2 and operations 33, 34
    EXPECT_EQ(setup[0], "0x01,0x04\t0x01,0x01\t0x00\t0x03\t0x08\t0x10\t0x04\t1,2\t33,34") << "as sent";
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// The media processor channel that sends toward RTP port, or -1.
long long voice_channel_to(const e2e_world &w, long long port)
{
    for (const json_value &f : w.root.msp()->frames("in"))
        if (f["name"].str() == "FC_SET_IP_HDR_CHANNEL" && f["fields"]["udp_destination_port"].num() == port)
            return f["channel"].num();
    return -1;
}

// RTP supervision (rtp_traffic_check 2 s): a caller that vanishes after
// its ACK (no RTP, no BYE) is cleared: BYE toward it, DISCONNECT toward
// ISDN, a CDR line, the voice channel destroyed, and the B-channel takes
// the next call.
TEST_F(SipToIsdn, SilentCallerIsClearedByRtpSupervision)
{
    E2E_REQUIRE(w);
    peer(1, {"wait ring 60", "proceeding", "alerting", "answer", "wait hangup_req 30", "wait ring 30", "proceeding",
             "alerting", "answer", "wait hangup_req 30"});
    ASSERT_TRUE(start(line_to_isdn("1", "1.*", "rtp_traffic_check=2"))) << w.tarn_err();
    // The channel to the silent caller's RTP port stops counting once it
    // exists: the far end sends nothing.
    std::thread staller([&] {
        long long ch = -1;
        e2e_world::wait_for([&] { return (ch = voice_channel_to(w, 16000)) >= 0; }, 30000);
        if (ch >= 0)
            w.root.msp()->request(R"({"cmd": "rtp", "stalled": true, "channel": )" + std::to_string(ch) + "}");
    });
    EXPECT_TRUE(sipp_ok(call("s2i_silent.xml", "1001", {"-mp", "16000"})));
    staller.join();
    EXPECT_TRUE(peers[1]->wait("HANGUP_REQ cause=16")) << peers[1]->text();
    std::vector<std::string> ack_bye = sipp_captured_sip(w, "sip.Method == \"ACK\" || sip.Method == \"BYE\"",
                                                         {"frame.time_epoch", "sip.Method"});
    ASSERT_EQ(ack_bye.size(), 2u) << joined(ack_bye);
    double held = atof(ack_bye[1].c_str()) - atof(ack_bye[0].c_str());
    EXPECT_TRUE(has(ack_bye[1], "BYE")) << joined(ack_bye);
    EXPECT_LE(held, 3 * 2 + 2.0) << "cleared within the supervision's time";
    EXPECT_TRUE(has(w.tarn_out(), "No RTP received for a while")) << w.tarn_out();
    EXPECT_TRUE(has(w.tarn_out(), ": CDR,1,SIP:")) << "a CDR line";
    long long ch = voice_channel_to(w, 16000);
    bool destroyed = false;
    for (const json_value &f : w.root.msp()->frames("in"))
        destroyed |= f["name"].str() == "FC_SUPVSR_DESTROY_CHANNEL" && f["fields"]["channel_number"].num() == ch;
    EXPECT_TRUE(destroyed) << "the voice channel ends with the call";
    // the B-channel is free again: the next call is answered
    EXPECT_TRUE(sipp_ok(call("s2i_basic.xml", "1002")));
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// Captured lines "TIME\tREST": the first of each REST (a retransmission
// repeats its method, CSeq and Reason).
std::vector<std::string> first_sends(const std::vector<std::string> &lines)
{
    std::vector<std::string> out, seen;
    for (const std::string &l : lines) {
        std::string rest = l.substr(l.find('\t') + 1);
        if (std::find(seen.begin(), seen.end(), rest) == seen.end()) {
            seen.push_back(rest);
            out.push_back(l);
        }
    }
    return out;
}

// Session timers: a caller that asks the gateway to refresh its session
// (Session-Expires 120, refresher=uas) gets a re-INVITE within the
// interval, and the call goes on until the caller hangs up; a caller that
// takes on refreshing and never does is sent a BYE (Reason: cause 408)
// before the interval is over, and the ISDN side is cleared with it. A
// caller gone before the gateway's refresh leaves the re-INVITE
// unanswered: its time-out ends the dialog, and the ISDN side is cleared
// with the cause map's answer for 408.
TEST_F(SipToIsdn, SessionTimerRefreshedByTheGateway)
{
    E2E_REQUIRE(w);
    peer(1, {"wait ring 60", "proceeding", "alerting", "answer", "wait hangup_req 150"});
    ASSERT_TRUE(start(line_to_isdn("1", "1.*"))) << w.tarn_err();
    EXPECT_TRUE(sipp_ok(call("s2i_session_refreshed.xml", "1001", {}, 150)));
    EXPECT_TRUE(peers[1]->wait("HANGUP_REQ cause=16")) << peers[1]->text();
    std::vector<std::string> sent = first_sends(sipp_captured_sip(
        w, "sip.Method == \"INVITE\" || sip.Method == \"BYE\"", {"frame.time_epoch", "sip.Method", "sip.CSeq.seq"}));
    ASSERT_EQ(sent.size(), 3u) << joined(sent);
    EXPECT_TRUE(has(sent[1], "INVITE")) << "the gateway's refresh: " << joined(sent);
    EXPECT_LT(atof(sent[1].c_str()) - atof(sent[0].c_str()), 120.0) << joined(sent);
    EXPECT_TRUE(has(sent[2], "BYE")) << "the caller's own BYE ends the call: " << joined(sent);
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

TEST_F(SipToIsdn, SessionTimerNotRefreshedEndsTheCall)
{
    E2E_REQUIRE(w);
    peer(1, {"wait ring 60", "proceeding", "alerting", "answer", "wait hangup_req 150", "wait ring 60", "proceeding",
             "alerting", "answer", "wait hangup_req 30"});
    ASSERT_TRUE(start(line_to_isdn("1", "1.*"))) << w.tarn_err();
    EXPECT_TRUE(sipp_ok(call("s2i_session_expired.xml", "1001", {}, 150)));
    EXPECT_TRUE(peers[1]->wait("HANGUP_REQ cause=16")) << peers[1]->text();
    std::vector<std::string> ack_bye =
        first_sends(sipp_captured_sip(w, "sip.Method == \"ACK\" || sip.Method == \"BYE\"",
                                      {"frame.time_epoch", "sip.Method", "sip.CSeq.seq", "sip.Reason"}));
    ASSERT_EQ(ack_bye.size(), 2u) << joined(ack_bye);
    EXPECT_TRUE(has(ack_bye[1], "BYE")) << joined(ack_bye);
    EXPECT_TRUE(has(ack_bye[1], "cause=408")) << joined(ack_bye);
    EXPECT_LT(atof(ack_bye[1].c_str()) - atof(ack_bye[0].c_str()), 120.0) << "before the session expired";
    EXPECT_TRUE(has(w.tarn_out(), ": CDR,1,SIP:")) << "a CDR line";
    // the B-channel is free again: the next call is answered
    EXPECT_TRUE(sipp_ok(call("s2i_basic.xml", "1002")));
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

TEST_F(SipToIsdn, SessionRefreshUnansweredEndsTheCall)
{
    E2E_REQUIRE(w);
    peer(1, {"wait ring 60", "proceeding", "alerting", "answer", "wait hangup_req 200"});
    ASSERT_TRUE(start(line_to_isdn("1", "1.*"))) << w.tarn_err();
    EXPECT_TRUE(sipp_ok(call("s2i_session_vanished.xml", "1001", {}, 200)));
    EXPECT_TRUE(peers[1]->wait("HANGUP_REQ cause=17")) << peers[1]->text();
    EXPECT_TRUE(e2e_world::wait_for([&] { return has(w.tarn_out(), ": CDR,1,SIP:"); }, 10000)) << "a CDR line";
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

} // namespace
