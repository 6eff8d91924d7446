// The daemon's records and its end: every call that ended has its CDR line
// whole in the file, also after the process is killed, and SIGTERM clears
// the calls that are up toward both sides before the process ends with 0.
// SIP far ends are sipp (leg 1 and, SIP to SIP, leg 2), the ISDN far end a
// q931peer network side on a TE port, the GSM one modemsim.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "gsm_world.h"
#include "isdn_calls.h"
#include "sipp_case.h"

namespace {

const int CDR_FIELDS = 16;
// With far ends that answer, the stop is done well within 5 s.
const double STOP_LIMIT_S = 5.0;

// A leg 1 that calls, takes the answer and waits for the gateway's BYE.
std::string uac_until_bye()
{
    return std::string(TARN_SOURCE_DIR) + "/tests/e2e/cas/uac_cleared.xml";
}

// The lines of a CDR file: how many, how many of them have every field,
// and whether the file ends with a line end.
struct cdr_file {
    int lines = 0, whole = 0;
    bool ends_whole = true;
    std::string text;
};

cdr_file read_cdr(const std::string &path)
{
    cdr_file f;
    f.text = read_text_file(path);
    f.ends_whole = f.text.empty() || f.text.back() == '\n';
    std::istringstream in(f.text);
    for (std::string l; std::getline(in, l);) {
        f.lines++;
        int fields = 1;
        for (char c : l)
            fields += c == ',';
        f.whole += l.rfind("CDR,", 0) == 0 && fields == CDR_FIELDS;
    }
    return f;
}

// A gateway with CDR logging on: SIP numbers 5... go to the SIP group
// "far" (a sipp on far_port), 1... to ISDN port 1 when it has one.
struct stop_world {
    e2e_world w{sipp_world_options()};
    int far_port = free_local_port();
    std::string cdr = w.root.path("var/log/tarn.cdr");

    bool start(const std::vector<std::string> &env = {})
    {
        sipp_write_config(w, "usr/conf/tarn.sip",
                          "[general]\nsip_bindport_localhost = @SIP_PORT@\n[far]\nsip_stack=localhost\n"
                          "sip_proxy=127.0.0.1:" + std::to_string(far_port) + "\n");
        w.root.write("usr/conf/tarn.conf", "[general]\nlogcdr=yes\ncdrpath=/var/log/\nexperimental_options = nco=8\n");
        w.root.write("usr/conf/tarn.dialplan", "SIP\tSIP\t*\tfar\t5.*\t\\0\t*\t\\0\t\n"
                                               "SIP\tISDN\t*\t1\t1.*\t\\0\t*\t\\0\t\n");
        return sipp_start_tarn(w, env);
    }
    // Leg 2 of SIP-to-SIP calls: answers and waits for the BYE.
    std::vector<std::string> far_end(const std::string &name, int calls)
    {
        w.root.write(name + ".xml", e2e_sipp_answer_until_bye());
        return e2e_sipp_uas(w, w.root.path(name + ".xml"), "127.0.0.1", far_port, name, calls);
    }
    // Leg 1: sipp calling number, in the background.
    std::vector<std::string> caller(const std::string &name, const std::string &number, int calls = 1)
    {
        return {"sipp", "-sf", uac_until_bye(), "-s", number, "-m", std::to_string(calls), "-i", "127.0.0.1",
                "-p", std::to_string(free_local_port()), "-timeout", "60s", "-timeout_error", "-nostdin",
                "-trace_msg", "-message_file", w.root.path(name + ".msg"),
                "127.0.0.1:" + std::to_string(w.root.sip_port)};
    }
    // calls SIP-to-SIP calls, each answered and hung up by leg 2.
    void calls_ended_by_leg_two(const std::string &name, int calls)
    {
        const std::string dir = std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip_to_sip/";
        e2e_child far(w, name, e2e_sipp_uas(w, dir + "uas_answer_bye.xml", "127.0.0.1", far_port, name, calls));
        ASSERT_TRUE(e2e_udp_listening(w, "127.0.0.1", far_port));
        ASSERT_TRUE(sipp_ok(sipp_run(w, {dir + "uac_call.xml", calls, "127.0.0.1", {"-s", "5001"}})));
        EXPECT_EQ(far.wait_exit(30000), 0) << far.text();
    }
    std::string msg(const std::string &name) const { return read_text_file(w.root.path(name + ".msg")); }
};

int count_of(const std::string &text, const std::string &part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

// N calls end; the daemon is killed: the file holds exactly their N lines,
// each whole. The next run appends its records after them.
TEST(OrderlyStop, CdrLinesOfEndedCallsSurviveAKillAndTheNextRunAppends)
{
    const int N = 4;
    stop_world s;
    E2E_REQUIRE(s.w);
    ASSERT_TRUE(s.start()) << s.w.tarn_err();
    ASSERT_NO_FATAL_FAILURE(s.calls_ended_by_leg_two("far", N));
    ASSERT_TRUE(e2e_world::wait_for([&] { return read_cdr(s.cdr).lines >= N; }, E2E_WAIT_MS)) << read_cdr(s.cdr).text;

    kill(s.w.tarn_pid(), SIGKILL);
    ASSERT_EQ(s.w.wait_tarn_exit(20), 128 + SIGKILL);
    cdr_file f = read_cdr(s.cdr);
    EXPECT_EQ(f.lines, N) << f.text;
    EXPECT_EQ(f.whole, N) << f.text;
    EXPECT_TRUE(f.ends_whole) << f.text;

    // The next run: one more call, one more line after the others.
    ASSERT_TRUE(s.start()) << s.w.tarn_err();
    ASSERT_NO_FATAL_FAILURE(s.calls_ended_by_leg_two("far2", 1));
    ASSERT_TRUE(e2e_world::wait_for([&] { return read_cdr(s.cdr).lines >= N + 1; }, E2E_WAIT_MS));
    f = read_cdr(s.cdr);
    EXPECT_EQ(f.lines, N + 1) << f.text;
    EXPECT_EQ(f.whole, N + 1) << f.text;
    EXPECT_TRUE(f.ends_whole) << f.text;
    EXPECT_EQ(sipp_stop_tarn(s.w), "");
}

// Calls up from SIP to ISDN and from SIP to SIP; SIGTERM: BYE to every SIP
// far end, DISCONNECT to the ISDN one, a CDR line for each call, status 0
// within the stop's time limit.
TEST(OrderlyStop, SigtermClearsTheCallsUpTowardBothSidesAndExitsZero)
{
    stop_world s;
    E2E_REQUIRE(s.w);
    e2e_isdn_ports isdn(s.w, "[te]\nports=1\n", {{1, "te"}});
    e2e_child peer(s.w, "peer", isdn.peer_argv(1, {"wait ring 60", "proceeding", "alerting", "answer",
                                                   "wait hangup_req 60"}));
    ASSERT_TRUE(peer.wait("READY", 10000)) << peer.text();
    ASSERT_TRUE(s.start(isdn.env())) << s.w.tarn_err();
    ASSERT_TRUE(peer.wait("UP", 20000)) << peer.text();

    e2e_child far(s.w, "far", s.far_end("far", 1));
    ASSERT_TRUE(e2e_udp_listening(s.w, "127.0.0.1", s.far_port));
    e2e_child to_isdn(s.w, "to_isdn", s.caller("to_isdn", "1001"));
    e2e_child to_sip(s.w, "to_sip", s.caller("to_sip", "5001"));
    // Both calls answered: each caller has sent its ACK.
    ASSERT_TRUE(e2e_world::wait_for(
        [&] { return count_of(s.msg("to_isdn") + s.msg("to_sip"), "CSeq: 1 ACK") >= 2; }, 30000))
        << s.msg("to_isdn") << s.msg("to_sip");

    auto t0 = std::chrono::steady_clock::now();
    kill(s.w.tarn_pid(), SIGTERM);
    int status = s.w.wait_tarn_exit(30);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(status, 0) << s.w.tarn_err();
    EXPECT_LT(took, STOP_LIMIT_S) << "the stop took " << took << " s";

    // Every SIP far end got its BYE and answered it.
    EXPECT_EQ(to_isdn.wait_exit(20000), 0) << to_isdn.text();
    EXPECT_EQ(to_sip.wait_exit(20000), 0) << to_sip.text();
    EXPECT_EQ(far.wait_exit(20000), 0) << far.text();
    for (const char *name : {"to_isdn", "to_sip", "far"})
        EXPECT_NE(s.msg(name).find("BYE sip:"), std::string::npos) << name;
    // The ISDN far end was cleared: DISCONNECT, RELEASE, RELEASE COMPLETE.
    EXPECT_TRUE(peer.wait("HANGUP_REQ cause=16", 10000)) << peer.text();
    std::string q931;
    for (const std::string &m : e2e_q931_messages(isdn.port(1).trace, "", {"q931.message_type"}))
        q931 += m + " ";
    EXPECT_NE(q931.find("0x45 0x4d 0x5a"), std::string::npos) << q931;

    // The stop closed the CDR file in place with a record of each call.
    cdr_file f = read_cdr(s.w.root.path("var/log/tarn.cdr"));
    EXPECT_EQ(f.lines, 2) << f.text;
    EXPECT_EQ(f.whole, 2) << f.text;
    EXPECT_NE(f.text.find(",ISDN:1:"), std::string::npos) << f.text;
    EXPECT_NE(f.text.find(",SIP:127.0.0.1,SIP:127.0.0.1,"), std::string::npos) << f.text;
    for (const char *report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"})
        EXPECT_EQ(s.w.tarn_err().find(report), std::string::npos) << report;
}

// A call from a modem answered on SIP; SIGTERM: the modem is hung up (ATH)
// and the SIP far end gets its BYE.
TEST(OrderlyStop, SigtermHangsUpTheModemOfACallUp)
{
    gsm_world g(gsm_route_4917);
    E2E_REQUIRE(g.w);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    g.start_uas();
    ASSERT_TRUE(g.sim->request({"call", "1", "+4917012345678"}));
    ASSERT_NE(g.sim->expect(1, "^ATA$", 30000), "") << g.w.tarn_out();
    std::vector<std::string> before = g.sim->commands(1);
    long hangups = std::count(before.begin(), before.end(), "ATH");

    kill(g.w.tarn_pid(), SIGTERM);
    EXPECT_EQ(g.w.wait_tarn_exit(30), 0) << g.w.tarn_err();
    std::vector<std::string> after = g.sim->commands(1);
    EXPECT_GT(std::count(after.begin(), after.end(), "ATH"), hangups) << g.w.tarn_out();
    process_result r = g.uas.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(g.uas_log().find("BYE sip:"), std::string::npos) << g.uas_log();
}

} // namespace
