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
#include <ostream>
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

std::vector<std::string> split_tabs(const std::string &line)
{
    std::vector<std::string> f;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        f.push_back(line.substr(start, tab - start));
    f.push_back(line.substr(start));
    return f;
}

// A far end of a test. A sipp UAS (its own address and port, no far end of
// its own) is listening once this returns: on a loaded machine sipp may take
// a second or more to bind, and the gateway's INVITE before that met a port
// that refused it.
struct child : e2e_child {
    child(const e2e_world &w, const std::string &name, const std::vector<std::string> &argv)
        : e2e_child(w, name, argv)
    {
        if (argv.empty() || argv[0] != "sipp")
            return;
        std::string addr;
        int port = 0;
        for (size_t i = 1; i < argv.size(); i++) {
            if (argv[i].find(':') != std::string::npos && argv[i][0] != '-' && argv[i - 1][0] != '-')
                return; // a far end to call: a UAC
            if (i + 1 < argv.size() && argv[i] == "-i")
                addr = argv[i + 1];
            if (i + 1 < argv.size() && argv[i] == "-p")
                port = atoi(argv[i + 1].c_str());
        }
        if (!addr.empty() && port > 0)
            e2e_udp_listening(w, addr, port);
    }
};

// The gateway with its ISDN ports, the dial plan toward the far end's SIP
// port, and the far end's scenario. Port 1 is an NT point-to-point port
// facing a terminal; port 2, when asked for, a TE point-to-multipoint port
// facing the network side.
struct isdn_world {
    e2e_world w;
    int peer_port = 0, gw_port = 0, uas_port = 0;
    int peer2_port = 0, gw2_port = 0;
    std::string trace, trace2;
    bool with_port2 = false;
    std::string port2_group; // the lines of port 2's group in tarn.isdn
    std::string line_config; // the call configuration of the dial plan lines
    std::string plan_head;   // dial plan lines before those toward the far end ("@UAS@": its address)
    bool plan_tail = true;   // the lines for numbers beginning 0 or 1

    // port_settings: extra lines of port 1's group in tarn.isdn
    bool start(const std::string &port_settings, const std::string &config)
    {
        if (!w.ok())
            return false;
        peer_port = free_local_port();
        gw_port = free_local_port();
        uas_port = free_local_port();
        peer2_port = free_local_port();
        gw2_port = free_local_port();
        trace = w.root.path("port1.trace");
        trace2 = w.root.path("port2.trace");
        w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv4S0\nptp=1,0,0,0\n");
        w.root.write("usr/conf/tarn.sip", w.root.default_sip());
        w.root.write("usr/conf/tarn.isdn", "[pbx]\nports=1\nconfig=" + config + "\n" + port_settings +
                                               (with_port2 ? "[line]\nports=2\n" + port2_group : ""));
        std::string sim = "1 nt bri ptp " + std::to_string(gw_port) + " " + std::to_string(peer_port) + " " + trace + "\n";
        if (with_port2)
            sim += "2 te bri ptmp " + std::to_string(gw2_port) + " " + std::to_string(peer2_port) + " " + trace2 + "\n";
        w.root.write("misdn.ports", sim);
        // calls to numbers beginning 0 or 1 go to the far end (127.0.0.1 would
        // name the gateway itself), others nowhere
        std::string plan = plan_head;
        for (size_t at; (at = plan.find("@UAS@")) != std::string::npos;)
            plan.replace(at, 5, "127.0.0.2:" + std::to_string(uas_port));
        for (const char *from : {"1", "2"})
            if (plan_tail)
            plan += std::string("ISDN\tSIP\t") + from + "\t127.0.0.2:" + std::to_string(uas_port) +
                    "\t([01][0-9]*)#?\t\\1\t(.*)\t\\1\t" + line_config + "\n";
        w.root.write("usr/conf/tarn.dialplan", plan);
        return w.start_tarn({"-o", "-l", "9"}, {"TARN_MISDN_SIM=" + w.root.path("misdn.ports")});
    }
    // The far end of port 1 (a terminal), or of port 2 (the network side).
    std::vector<std::string> peer_args(const std::vector<std::string> &steps, int port = 1) const
    {
        std::vector<std::string> a = {std::string(TARN_BINARY_DIR) + "/sim/q931peer/q931peer"};
        if (port == 1)
            a.insert(a.end(), {"--role", "user", "--line", "ptp", "--local", std::to_string(peer_port), "--peer",
                               std::to_string(gw_port)});
        else
            a.insert(a.end(), {"--role", "network", "--line", "ptmp", "--local", std::to_string(peer2_port),
                               "--peer", std::to_string(gw2_port)});
        for (const std::string &s : steps) {
            a.push_back("-e");
            a.push_back(s);
        }
        return a;
    }
    // Once the far end started with uas_args listens (port 0: uas_port): an
    // INVITE sent before that gets the port's ICMP answer.
    bool uas_listening(int port = 0) const { return e2e_udp_listening(w, "127.0.0.2", port ? port : uas_port); }
    std::vector<std::string> uas_args(const std::string &xml, int calls = 1, int port = 0,
                                      const std::string &name = "uas") const
    {
        return {"sipp", "-sf", scenario(xml), "-i", "127.0.0.2", "-p", std::to_string(port ? port : uas_port), "-m",
                std::to_string(calls),
                "-timeout", "40s", "-timeout_error", "-nostdin", "-trace_msg", "-message_file",
                w.root.path(name + ".msg")};
    }
    // Q.931 message types the gateway sent (NT: commands with C/R 1).
    std::vector<std::string> sent_types() const
    {
        return e2e_q931_messages(trace, "lapd.cr == 1", {"q931.message_type", "q931.cause_value"});
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
    ASSERT_TRUE(iw.uas_listening()) << uas.text();
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
    ASSERT_TRUE(iw.uas_listening()) << uas.text();
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

// The "#" ends dialling before the dial plan is searched: a line for
// exactly 123 (no "#" in its pattern) takes 12, 3, # at once, with no
// wait for the dial timer.
TEST(IsdnToSip, PoundEndsDiallingBeforeTheDialPlanSearch)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    iw.plan_tail = false;
    iw.plan_head = "ISDN\tSIP\t1\t@UAS@\t123\t\\0\t(.*)\t\\1\t\n";
    ASSERT_TRUE(iw.start("complete_dialing_on_pound_or_star=yes\noverlap_dialing=no\ninterdigit_timeout=30\n"
                         "interdigit_timeout_initial=30\n",
                         "isdn2sip_destination_numformat=VAZ_UNKNOWN"))
        << iw.w.tarn_err();
    child uas(iw.w, "uas", iw.uas_args("uas_invite_123.xml"));
    ASSERT_TRUE(iw.uas_listening()) << uas.text();
    child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 12 4711 --overlap", "wait setup_ack 10",
                                           "info 3", "sleep 300", "info #", "wait hangup_req 20"}));
    // The far end's 486 ends the call long before the 30 s dial timer would.
    EXPECT_EQ(uas.wait_exit(20000), 0) << uas.text() << read_text_file(iw.w.root.path("uas.msg"));
    EXPECT_TRUE(peer.wait("SCRIPT DONE", 30000)) << peer.text();
    EXPECT_EQ(count(iw.w.tarn_out(), "S SEND: NUA_I_INVITE\n"), 1);
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
    ASSERT_TRUE(iw.uas_listening()) << uas.text();
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
    ASSERT_TRUE(iw.uas_listening()) << uas.text();
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

// En bloc, answered: the far end's 180 gives ALERTING and its 200 CONNECT;
// its BYE clears the ISDN call with DISCONNECT cause 16.
TEST(IsdnToSip, AnsweredCallEndsByTheFarEndsBye)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    ASSERT_TRUE(iw.start("", "isdn2sip_destination_numformat=VAZ_PLUS,sip_international_code=49,sip_national_code=30"))
        << iw.w.tarn_err();
    child uas(iw.w, "uas", iw.uas_args("uas_answer_bye.xml"));
    ASSERT_TRUE(iw.uas_listening()) << uas.text();
    child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 0301234 4711", "wait ringing 20",
                                           "wait answer 20", "wait hangup_req 30"}));
    EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << read_text_file(iw.w.root.path("uas.msg"));
    EXPECT_TRUE(peer.wait("SCRIPT DONE", 30000)) << peer.text();
    EXPECT_TRUE(has(peer.text(), "HANGUP_REQ cause=16")) << peer.text();
    std::string types;
    for (const std::string &t : iw.sent_types())
        types += t + "\n";
    EXPECT_TRUE(has(types, "0x01\t\n0x07\t\n")) << "ALERTING, CONNECT: " << types;
    EXPECT_TRUE(has(types, "0x45\t16\n")) << "DISCONNECT, cause 16: " << types;
}

// Far ends that answer at once, one with 200 alone, the other with 183 and
// 200 back to back, four calls each: their answers may reach the gateway
// before the dial plan's CALL PROCEEDING has gone out. Still the terminal
// hears CALL PROCEEDING with the B-channel first on every call (a CONNECT
// or PROGRESS first would name no channel, and libpri clears such a call
// with STATUS), and every call is answered.
TEST(IsdnToSip, FarEndAnsweringAtOnce)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    int progress_port = free_local_port();
    iw.plan_head = "ISDN\tSIP\t1\t127.0.0.2:" + std::to_string(progress_port) + "\t(1[0-9]*)\t\\1\t(.*)\t\\1\t\n";
    ASSERT_TRUE(iw.start("", "isdn2sip_destination_numformat=VAZ_UNKNOWN")) << iw.w.tarn_err();
    const int calls = 4;
    std::vector<std::string> steps = {"wait up 30", "sleep 1000"};
    for (int i = 0; i < calls; i++)
        for (const char *number : {"0301234", "1301234"})
            steps.insert(steps.end(), {std::string("dial ") + number + " 4711", "wait answer 20", "hangup",
                                       "wait hangup 10"});
    {
        child answer(iw.w, "uas", iw.uas_args("uas_answer.xml", calls));
        ASSERT_TRUE(iw.uas_listening()) << answer.text();
        child progress(iw.w, "uas2", iw.uas_args("uas_progress_answer.xml", calls, progress_port, "uas2"));
        ASSERT_TRUE(iw.uas_listening(progress_port)) << progress.text();
        child peer(iw.w, "peer", iw.peer_args(steps));
        EXPECT_TRUE(peer.wait("SCRIPT DONE", 120000)) << peer.text();
        EXPECT_EQ(answer.wait_exit(30000), 0) << answer.text() << read_text_file(iw.w.root.path("uas.msg"));
        EXPECT_EQ(progress.wait_exit(30000), 0) << progress.text() << read_text_file(iw.w.root.path("uas2.msg"));
        EXPECT_EQ(count(peer.text(), "ANSWER "), 2 * calls) << peer.text();
        EXPECT_FALSE(has(peer.text(), "Missing mandatory")) << peer.text();
    }
    // every SETUP of the terminal is first answered by CALL PROCEEDING with
    // the channel (lapd.cr 0: the terminal's commands, 1: the gateway's)
    std::vector<std::string> m = e2e_q931_messages(
        iw.trace, "", {"lapd.cr", "q931.call_ref", "q931.message_type", "q931.channel.selection"});
    std::string all;
    for (const std::string &line : m)
        all += line + "\n";
    int setups = 0;
    for (size_t i = 0; i < m.size(); i++) {
        std::vector<std::string> f = split_tabs(m[i]);
        if (f.size() < 3 || f[0] != "0" || f[2] != "0x05")
            continue;
        setups++;
        size_t j = i + 1;
        while (j < m.size() && split_tabs(m[j])[0] != "1")
            j++;
        ASSERT_LT(j, m.size()) << all;
        std::vector<std::string> answer = split_tabs(m[j]);
        ASSERT_GE(answer.size(), 4u) << m[j];
        EXPECT_EQ(answer[2], "0x02") << "the first answer is CALL PROCEEDING: " << all;
        EXPECT_TRUE(answer[3] == "0x01" || answer[3] == "0x02") << "and names the B-channel: " << all;
    }
    EXPECT_EQ(setups, 2 * calls) << all;
}

// Overlap dialling without "#": the INVITE to 123 follows the interdigit
// time (3 s) after the last digit.
TEST(IsdnToSip, OverlapDigitsCompleteAfterTheInterdigitTime)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    ASSERT_TRUE(iw.start("", "isdn2sip_destination_numformat=VAZ_UNKNOWN")) << iw.w.tarn_err();
    child uas(iw.w, "uas", iw.uas_args("uas_invite_123.xml"));
    ASSERT_TRUE(iw.uas_listening()) << uas.text();
    child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 12 4711 --overlap", "wait setup_ack 10",
                                           "sleep 500", "info 3", "wait hangup_req 30"}));
    EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << read_text_file(iw.w.root.path("uas.msg"));
    std::string out = iw.w.tarn_out();
    size_t last_digit = out.rfind("got digit");
    ASSERT_NE(last_digit, std::string::npos) << out;
    double digit = stamp_of_line_with(out.substr(out.rfind('\n', last_digit) + 1), "got digit");
    double invite = stamp_of_line_with(out, "SM_ISDN_WAIT_FOR_DIALING => SM_SIP_INVITE_SENT");
    ASSERT_GT(digit, 0);
    ASSERT_GT(invite, 0) << out;
    EXPECT_GE(invite - digit, 2.9);
    EXPECT_LE(invite - digit, 6.0);
}

// The first dial timer: 15 s (interdigit_timeout_initial) on NT port 1,
// the plain interdigit time (3 s) on TE port 2. A SETUP without digits and
// without sending complete is cleared with cause 17 when it runs out. A
// digit on the TE point-to-multipoint port gets no SETUP ACKNOWLEDGE.
TEST(IsdnToSip, FirstDialTimerByKindOfPort)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    iw.with_port2 = true;
    iw.port2_group = "config=isdn2sip_destination_numformat=VAZ_UNKNOWN\n";
    ASSERT_TRUE(iw.start("", "isdn2sip_destination_numformat=VAZ_UNKNOWN")) << iw.w.tarn_err();
    child nt(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial - 4711 --overlap", "wait hangup_req 40"}));
    child te(iw.w, "peer2", iw.peer_args({"wait up 30", "sleep 1000", "dial 9 4711 --overlap", "wait hangup 20",
                                          "sleep 500", "dial - 4711 --overlap", "wait hangup 20"},
                                         2));
    EXPECT_TRUE(te.wait("SCRIPT DONE", 40000)) << te.text();
    EXPECT_TRUE(nt.wait("SCRIPT DONE", 40000)) << nt.text();
    struct {
        const std::string &trace;
        double seconds;
    } ports[] = {{iw.trace, 15}, {iw.trace2, 3}};
    for (const auto &p : ports) {
        SCOPED_TRACE(p.trace);
        std::vector<std::string> m =
            e2e_q931_messages(p.trace, "", {"frame.time_epoch", "q931.message_type", "q931.cause_value"});
        std::string all;
        std::vector<std::pair<double, double>> calls; // SETUP and clearing times
        for (const std::string &line : m) {
            all += line + "\n";
            double t = atof(line.c_str());
            std::string rest = line.substr(line.find('\t') + 1);
            if (&p.trace == &iw.trace2) {
                EXPECT_NE(rest.rfind("0x0d", 0), 0u) << "no SETUP ACKNOWLEDGE on the TE port";
            }
            if (rest.rfind("0x05", 0) == 0)
                calls.push_back({t, -1});
            else if (!calls.empty() && calls.back().second < 0 &&
                     (rest == "0x45\t17" || rest == "0x5a\t17" || rest == "0x4d\t17"))
                calls.back().second = t;
        }
        ASSERT_FALSE(calls.empty()) << all;
        for (const auto &[setup, cleared] : calls) {
            ASSERT_GT(cleared, 0) << all;
            EXPECT_GE(cleared - setup, p.seconds - 0.2) << all;
            EXPECT_LE(cleared - setup, p.seconds + 5) << all;
        }
    }
}

// Advice of charge with the rules {1 unit, 2 s, 2 repeats} and {5 units,
// 2 s}: from CONNECT on the terminal reads 1, 2, 3 and then 8 units.
TEST(IsdnToSip, AdviceOfChargeByItsRules)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    iw.line_config = "aoc=chunits|1:2:2|5:2:0";
    ASSERT_TRUE(iw.start("", "isdn2sip_destination_numformat=VAZ_UNKNOWN")) << iw.w.tarn_err();
    child uas(iw.w, "uas", iw.uas_args("uas_answer.xml"));
    ASSERT_TRUE(iw.uas_listening()) << uas.text();
    child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 0301234 4711", "wait answer 20",
                                           "sleep 7000", "hangup", "wait hangup 10"}));
    EXPECT_TRUE(peer.wait("SCRIPT DONE", 40000)) << peer.text();
    EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << read_text_file(iw.w.root.path("uas.msg"));
    std::string units;
    std::string text = peer.text();
    for (size_t at = 0; (at = text.find("AOC_D units=", at)) != std::string::npos; at++)
        units += text.substr(at + 12, text.find('\n', at) - at - 12) + " ";
    EXPECT_EQ(units.substr(0, 8), "1 2 3 8 ") << text;
}

// The authorization server's REJECT ends the call with cause 17 and no
// INVITE; a 200 without REJECT lets the INVITE go out. The stand-in server
// runs in the world's namespace.
TEST(IsdnToSip, AuthorizationServerDecides)
{
    for (auto [path, allowed] : {std::pair{"/reject", false}, std::pair{"/empty", true}}) {
        SCOPED_TRACE(path);
        isdn_world iw;
        E2E_REQUIRE(iw.w);
        std::string portfile = iw.w.root.path("auth.port");
        child auth(iw.w, "auth", {"python3", std::string(TARN_SOURCE_DIR) + "/tests/callctl/auth_server.py", portfile,
                                  iw.w.root.path("auth.requests")});
        ASSERT_TRUE(e2e_world::wait_for([&] { return !read_text_file(portfile).empty(); }, E2E_WAIT_MS));
        std::string url = "http://127.0.0.1:" + read_text_file(portfile) + path;
        ASSERT_TRUE(iw.start("", "isdn2sip_destination_numformat=VAZ_UNKNOWN,callauth_url=" + url)) << iw.w.tarn_err();
        child uas(iw.w, "uas", iw.uas_args("uas_answer.xml"));
        ASSERT_TRUE(iw.uas_listening()) << uas.text();
        child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 0301234 4711",
                                               allowed ? "wait answer 20" : "wait hangup 20", "hangup",
                                               "sleep 500"}));
        EXPECT_TRUE(peer.wait("SCRIPT DONE", 30000)) << peer.text();
        EXPECT_TRUE(has(read_text_file(iw.w.root.path("auth.requests")), path)) << "the server was asked";
        EXPECT_EQ(count(iw.w.tarn_out(), "S SEND: NUA_I_INVITE\n"), allowed ? 1 : 0);
        if (allowed)
            EXPECT_EQ(uas.wait_exit(20000), 0) << uas.text() << read_text_file(iw.w.root.path("uas.msg"));
        else
            EXPECT_TRUE(has(peer.text(), "HANGUP cause=17")) << peer.text();
    }
}

// sip_info_on_disconnect with ie_on_sip: the terminal's DISCONNECT reaches
// the far end as an INFO with "X-DV_MESSAGE: DISCONNECT", not as a BYE.
TEST(IsdnToSip, InfoInsteadOfByeOnDisconnect)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    ASSERT_TRUE(iw.start("", "isdn2sip_destination_numformat=VAZ_UNKNOWN,ie_on_sip=1,sip_info_on_disconnect=1"))
        << iw.w.tarn_err();
    child uas(iw.w, "uas", iw.uas_args("uas_info_on_disconnect.xml"));
    ASSERT_TRUE(iw.uas_listening()) << uas.text();
    child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 0301234 4711", "wait answer 20",
                                           "sleep 500", "hangup", "sleep 5000"}));
    EXPECT_EQ(uas.wait_exit(40000), 0) << uas.text() << read_text_file(iw.w.root.path("uas.msg"));
}

} // namespace

// A call that SIP refuses (486: DISCONNECT cause 17) leaves nothing behind
// on its B-channel: the next call, answered and then cleared by the
// terminal with cause 16, gets the gateway's RELEASE with cause 16 too.
TEST(IsdnToSip, RefusedCallLeavesNoCauseForTheNextCall)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    int answer_port = free_local_port();
    iw.plan_head = "ISDN\tSIP\t1\t127.0.0.2:" + std::to_string(answer_port) + "\t(1[0-9]*)\t\\1\t(.*)\t\\1\t\n";
    ASSERT_TRUE(iw.start("", "isdn2sip_destination_numformat=VAZ_PLUS,sip_international_code=49,sip_national_code=30"))
        << iw.w.tarn_err();
    child busy(iw.w, "uas", iw.uas_args("uas_invite_486.xml"));
    ASSERT_TRUE(iw.uas_listening()) << busy.text();
    child answer(iw.w, "uas2", iw.uas_args("uas_answer.xml", 1, answer_port, "uas2"));
    ASSERT_TRUE(iw.uas_listening(answer_port)) << answer.text();
    child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 0301234 4711", "wait hangup_req 20",
                                           "sleep 1000", "dial 1301234 4711", "wait answer 20", "hangup",
                                           "wait hangup 10"}));
    EXPECT_TRUE(peer.wait("SCRIPT DONE", 60000)) << peer.text();
    EXPECT_EQ(busy.wait_exit(30000), 0) << busy.text() << read_text_file(iw.w.root.path("uas.msg"));
    EXPECT_EQ(answer.wait_exit(30000), 0) << answer.text() << read_text_file(iw.w.root.path("uas2.msg"));
    EXPECT_TRUE(has(peer.text(), "HANGUP_REQ cause=17")) << peer.text();
    EXPECT_TRUE(has(peer.text(), "HANGUP cause=16")) << peer.text();
    std::string types;
    for (const std::string &t : iw.sent_types())
        types += t + "\n";
    EXPECT_TRUE(has(types, "0x45\t17\n")) << "DISCONNECT cause 17 of the refused call: " << types;
    EXPECT_TRUE(has(types, "0x4d\t16\n")) << "RELEASE cause 16 of the normal call: " << types;
    EXPECT_FALSE(has(types, "0x4d\t17\n")) << types;
}

// Session timers toward a far end that asks for them in its 200: when the
// gateway is to refresh (refresher=uac), it sends a re-INVITE within the
// interval and the call goes on until the far end's BYE (DISCONNECT 16);
// when the far end is to refresh and never does, the gateway sends a
// re-INVITE of its own before the session expires, and when that gets no
// answer (the far end is gone) its time-out ends the dialog and the ISDN
// side is cleared with the cause map's answer for 408 (17).
struct session_timer_case {
    const char *name, *xml, *hangup;
};

void PrintTo(const session_timer_case &c, std::ostream *os)
{
    *os << c.name;
}

class IsdnToSipSessionTimer : public ::testing::TestWithParam<session_timer_case> {};

TEST_P(IsdnToSipSessionTimer, FarEndAsksForIt)
{
    isdn_world iw;
    E2E_REQUIRE(iw.w);
    ASSERT_TRUE(iw.start("", "")) << iw.w.tarn_err();
    std::vector<std::string> uas_args = iw.uas_args(GetParam().xml);
    uas_args.insert(uas_args.end(), {"-timeout", "220s"});
    child uas(iw.w, "uas", uas_args);
    child peer(iw.w, "peer", iw.peer_args({"wait up 30", "sleep 1000", "dial 0301234 4711", "wait answer 20",
                                           "wait hangup_req 220"}));
    EXPECT_EQ(uas.wait_exit(230000), 0) << uas.text() << read_text_file(iw.w.root.path("uas.msg"));
    EXPECT_TRUE(peer.wait(GetParam().hangup, 20000)) << peer.text();
    EXPECT_TRUE(e2e_world::wait_for([&] { return has(iw.w.tarn_out(), ": CDR,1,"); }, 10000)) << "a CDR line";
}

INSTANTIATE_TEST_SUITE_P(Refresher, IsdnToSipSessionTimer,
                         ::testing::Values(session_timer_case{"Gateway", "uas_session_refresh.xml",
                                                              "HANGUP_REQ cause=16"},
                                           session_timer_case{"FarEndGone", "uas_session_expire.xml",
                                                              "HANGUP_REQ cause=17"}),
                         [](const ::testing::TestParamInfo<session_timer_case> &i) {
                             return std::string(i.param.name);
                         });
