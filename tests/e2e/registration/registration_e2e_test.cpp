// Registrations of the running daemon at sipp registrars inside its world:
// one SIP peer per registrar behaviour, all started together, each REGISTER
// time-stamped in the registrar's message trace; the REGISTER itself read
// by tshark; the TCP probe of a registrar with a listener and a closed port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "e2e.h"
#include "isdn_calls.h"
#include "run_process.h"
#include "sipp_case.h"

namespace {

const char *ADDR = "10.0.1.5"; // the LAN stack and the registrars

// One message of a sipp message trace.
struct traced {
    double t = 0;      // seconds of the day
    bool received = false;
    std::string first; // request or status line
    std::string text;
};

std::vector<traced> read_trace(const std::string &path)
{
    std::vector<traced> out;
    std::ifstream f(path);
    std::string line;
    traced *cur = nullptr;
    int n = 0; // lines into the current message
    while (std::getline(f, line)) {
        if (line.rfind("-----------------------------------------------", 0) == 0) {
            out.emplace_back();
            cur = &out.back();
            size_t sp = line.rfind(' ');
            int h = 0, m = 0;
            double s = 0;
            if (sp != std::string::npos && sscanf(line.c_str() + sp + 1, "%d:%d:%lf", &h, &m, &s) == 3)
                cur->t = h * 3600 + m * 60 + s;
            n = 0;
            continue;
        }
        if (!cur)
            continue;
        n++;
        if (n == 1)
            cur->received = line.find("received") != std::string::npos;
        else if (cur->first.empty() && !line.empty() && line != "\r")
            cur->first = line;
        cur->text += line + "\n";
    }
    return out;
}

std::string header(const traced &m, const std::string &name)
{
    std::istringstream in(m.text);
    for (std::string l; std::getline(in, l);)
        if (l.rfind(name + ":", 0) == 0) {
            std::string v = l.substr(name.size() + 1);
            while (!v.empty() && (v[0] == ' '))
                v.erase(0, 1);
            while (!v.empty() && (v.back() == '\r' || v.back() == ' '))
                v.pop_back();
            return v;
        }
    return "";
}

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

bool is_register(const traced &m) { return m.received && m.first.rfind("REGISTER ", 0) == 0; }

// A sipp registrar on its own port, started before the daemon.
struct registrar {
    std::string name; // the SIP peer's section
    std::string scenario;
    int port;
    int calls;
    std::vector<std::string> extra = {}; // more sipp arguments
    pid_t pid = -1;
    int status = -1;
    std::string base;

    void start(const e2e_world &w)
    {
        base = w.root.path("sipp/" + name);
        std::string dir = std::string(TARN_SOURCE_DIR) + "/tests/e2e/registration/";
        std::vector<std::string> argv = {"sipp", "-sf", scenario[0] == '/' ? scenario : dir + scenario, "-i", ADDR, "-p", std::to_string(port),
                                         "-m", std::to_string(calls), "-nostdin", "-timeout", "100s",
                                         "-timeout_error", "-trace_msg", "-message_file", base + ".msg",
                                         "-trace_logs", "-log_file", base + ".log", "-trace_err", "-error_file",
                                         base + ".err"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        pid = w.ns.spawn(argv);
    }
    bool ended()
    {
        if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid)
            pid = -1;
        return pid <= 0;
    }
    std::vector<traced> trace() const { return read_trace(base + ".msg"); }
    std::string log() const
    {
        std::ifstream f(base + ".log");
        return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    }
};

// Waits (bounded) until every registrar has ended.
bool all_ended(std::vector<registrar> &regs, int ms)
{
    return e2e_world::wait_for(
        [&] {
            for (registrar &r : regs)
                if (!r.ended())
                    return false;
            return true;
        },
        ms);
}

e2e_options lan_world()
{
    e2e_options o = sipp_world_options();
    o.ifaces.push_back({"eth0", std::string(ADDR) + "/24"});
    o.capture_filter = "portrange 5970-5989";
    return o;
}

std::string peer(const std::string &name, int port, const std::string &extra)
{
    return "[" + name + "]\nsip_stack=lan\nsip_proxy=" + ADDR + ":" + std::to_string(port) +
           "\nuser=alice\nsecret=secret\nregister=yes\nregrefresh_failed=10\n"
           "register_options=no-validate no-options-keepalive\n" +
           extra;
}

std::string lan_stack(const e2e_world &w)
{
    return w.root.default_sip() +
           "stack_active_lan = 1\ninterface_name_lan = eth0\nsip_transport_lan = udp,tcp\n"
           "sip_useragent_lan = tarn-test-agent/1\n";
}

// A timed refresh is never early by more than a second; it may be late by a
// second and 10 % of the interval, for the timer thread, whose ticks stretch
// on a loaded machine.
::testing::AssertionResult on_time(double gap, double want)
{
    if (gap >= want - 1 && gap <= want + 1 + 0.1 * want)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "after " << gap << " s, wanted " << want << " s";
}

// Time from the answer of index i to the next REGISTER after it.
double gap_after(const std::vector<traced> &t, size_t answer)
{
    for (size_t k = answer + 1; k < t.size(); k++)
        if (is_register(t[k]))
            return t[k].t - t[answer].t;
    return -1;
}

// The index of the n-th message whose first line begins with text (n from 0).
size_t nth(const std::vector<traced> &t, const std::string &text, int n)
{
    for (size_t i = 0; i < t.size(); i++)
        if (t[i].first.rfind(text, 0) == 0 && n-- == 0)
            return i;
    return t.size();
}

TEST(RegistrationE2E, RegistrarAnswers)
{
    e2e_world w(lan_world());
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    std::vector<registrar> regs = {
        {"chal", "challenge_60.xml", 5971, 1},  {"exp30", "expires_30.xml", 5972, 1},
        {"cont10", "contact_10.xml", 5973, 1},  {"unav", "unavailable_5.xml", 5974, 2},
        {"forb", "forbidden.xml", 5975, 2},     {"auth3", "always_401.xml", 5976, 1},
        {"echo60", "echo_contact.xml", 5978, 1, {"-key", "expires", "60"}},
        {"echo30", "echo_contact.xml", 5979, 1, {"-key", "expires", "30"}},
    };
    w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options=auth_workaround=3\n");
    std::string sip = lan_stack(w);
    for (const registrar &r : regs)
        sip += peer(r.name, r.port,
                    r.name == "chal"   ? "regrefresh=60\nconfig=1tr119=1\n"
                    : r.name == "forb" ? "regrefresh=12\n"
                                       : "regrefresh=60\n");
    w.root.write("usr/conf/tarn.sip", sip);
    std::filesystem::create_directories(w.root.path("sipp"));
    for (registrar &r : regs)
        r.start(w);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    EXPECT_TRUE(all_ended(regs, 150000)) << "a registrar did not finish";
    for (registrar &r : regs)
        EXPECT_EQ(r.status, 0) << r.name << ": sipp's status";

    {
        SCOPED_TRACE("challenge, then 60 s granted");
        std::vector<traced> t = regs[0].trace();
        EXPECT_NE(regs[0].log().find("verifyauth true"), std::string::npos) << regs[0].log();
        size_t ok = nth(t, "SIP/2.0 200", 0);
        ASSERT_LT(ok, t.size());
        EXPECT_TRUE(on_time(gap_after(t, ok), 55));
        // the REGISTER after the challenge (a loaded registrar may have
        // seen the first one twice) answers it
        size_t challenge = nth(t, "SIP/2.0 401", 0);
        size_t answer = challenge;
        while (answer < t.size() && t[answer].first.rfind("REGISTER", 0) != 0)
            answer++;
        ASSERT_LT(answer, t.size());
        EXPECT_NE(header(t[answer], "Authorization"), "");
    }
    // Registrars that list the binding in their answers: the refresh comes
    // from the registration's own timer, on the same Call-ID, not earlier
    // from the SIP stack.
    for (auto [i, want] : {std::pair<int, double>{1, 29}, {2, 9}, {6, 55}, {7, 29}}) {
        SCOPED_TRACE(regs[i].name);
        std::vector<traced> t = regs[i].trace();
        size_t ok = nth(t, "SIP/2.0 200", 0);
        ASSERT_LT(ok, t.size());
        EXPECT_TRUE(on_time(gap_after(t, ok), want));
        if (i >= 6) {
            size_t a = nth(t, "REGISTER", 0), b = nth(t, "REGISTER", 1);
            ASSERT_LT(b, t.size());
            EXPECT_EQ(header(t[a], "Call-ID"), header(t[b], "Call-ID")) << "a refresh on the same handle";
        }
    }
    for (auto [i, want, status] : {std::tuple<int, double, const char *>{3, 5, "SIP/2.0 503"}, {4, 11, "SIP/2.0 403"}}) {
        SCOPED_TRACE(regs[i].name);
        std::vector<traced> t = regs[i].trace();
        size_t first = nth(t, status, 0);
        ASSERT_LT(first, t.size());
        EXPECT_TRUE(on_time(gap_after(t, first), want));
        size_t a = nth(t, "REGISTER", 0), b = nth(t, "REGISTER", 1);
        ASSERT_LT(b, t.size());
        EXPECT_NE(header(t[a], "Call-ID"), header(t[b], "Call-ID")) << "a new handle";
    }
    {
        // The stack refuses to offer the same credentials a second time
        // (904), so the second challenge ends the attempt: the registration
        // fails and waits for its failure interval.
        SCOPED_TRACE("always 401");
        // Counted by CSeq: a REGISTER the loaded registrar answered late
        // went out again as a retransmission, with the same CSeq.
        std::vector<traced> t = regs[5].trace();
        std::set<std::string> sent;
        for (const traced &m : t)
            if (is_register(m))
                sent.insert(header(m, "Call-ID") + " " + header(m, "CSeq"));
        EXPECT_EQ(sent.size(), 2u);
    }
    EXPECT_NE(w.tarn_out().find("SM_SIP_REGISTRATION_PENDING => SM_SIP_REGISTRATION_FAILED"), std::string::npos);
    EXPECT_EQ(sipp_stop_tarn(w), "");

    // The REGISTER as tshark reads it.
    w.stop_capture();
    process_result r = run_process({"tshark", "-n", "-r", w.capture_path(), "-d", "udp.port==5971,sip", "-Y",
                                    "sip.Method == \"REGISTER\" && udp.dstport == 5971", "-T", "fields", "-E",
                                    "separator=|", "-e", "sip.r-uri", "-e", "sip.Expires", "-e", "sip.User-Agent",
                                    "-e", "sip.Security-Client", "-e", "sip.Proxy-Require", "-e", "sip.Require"},
                                   "", {}, 60);
    std::string first = r.out.substr(0, r.out.find('\n'));
    EXPECT_EQ(first, std::string("sip:") + ADDR + ":5971;transport=udp|60|tarn-test-agent/1|sdes-srtp;mediasec|mediasec|mediasec")
        << r.out << r.err;
}

// The registration tag ("RID:000004:00") of the line that holds text.
std::string rid_of(const std::string &out, const std::string &text)
{
    size_t at = out.find(text);
    if (at == std::string::npos)
        return "";
    size_t line = out.rfind('\n', at);
    size_t rid = out.find("RID:", line == std::string::npos ? 0 : line);
    return rid < at ? out.substr(rid, 13) : "";
}

// The state a registration's machine reached in its first run after the
// line that holds text.
std::string state_after(const std::string &out, const std::string &rid, const std::string &text)
{
    size_t at = out.find(text);
    if (at == std::string::npos)
        return "";
    std::istringstream in(out.substr(at));
    for (std::string l; std::getline(in, l);)
        if (has(l, rid) && has(l, "do_reg_statemachine_run") && has(l, " => "))
            return l.substr(l.find(" => ") + 4);
    return "";
}

// A SIP peer's answers: status to an OPTIONS; with registered, a call may
// be a REGISTER instead, answered 200 (the stack's validation OPTIONS come
// with a Call-ID of their own).
std::string options_scenario(const std::string &status, bool registered = false, int probe_pause_ms = 300)
{
    // The daemon takes SIP events once its start-up has ended: the first
    // answer waits a little.
    auto answer = [](const std::string &line, const std::string &extra, int pause_ms = 300) {
        return "<pause milliseconds=\"" + std::to_string(pause_ms) + "\"/>\n<send><![CDATA[\n\nSIP/2.0 " + line +
               "\n[last_Via:]\n[last_From:]\n[last_To:];tag=[pid]SIPpTag[call_number]\n[last_Call-ID:]\n"
               "[last_CSeq:]\n" + extra + "Content-Length: 0\n\n]]></send>\n";
    };
    std::string s = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<scenario name=\"OPTIONS " + status + "\">\n";
    if (registered)
        return s + "<recv request=\"OPTIONS\" optional=\"true\" next=\"probe\"/>\n<recv request=\"REGISTER\"/>\n" +
               answer("200 OK", "Expires: 60\n") + "<nop next=\"end\"/>\n<label id=\"probe\"/>\n" +
               answer(status, "", probe_pause_ms) +
               "<label id=\"end\"/>\n</scenario>\n";
    return s + "<recv request=\"OPTIONS\"/>\n" + answer(status, "") + "</scenario>\n";
}

// Peers checked by OPTIONS only: an answer below 500 but 408 validates. A
// registered peer that validates watches ISDN port 1 (off time 2 s): when
// the stack's validation OPTIONS fails, the idle port's layer 2 goes down.
TEST(RegistrationE2E, ValidationByOptions)
{
    e2e_world w(lan_world());
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    std::vector<registrar> peers = {{"v404", w.root.path("v404.xml"), 5981, 1},
                                    {"v408", w.root.path("v408.xml"), 5982, 1},
                                    {"v503", w.root.path("v503.xml"), 5983, 1},
                                    {"watch", w.root.path("watch.xml"), 5984, 2}};
    w.root.write("v404.xml", options_scenario("404 Not Found"));
    w.root.write("v408.xml", options_scenario("408 Request Timeout"));
    w.root.write("v503.xml", options_scenario("503 Service Unavailable"));
    // The stack reports its validation's failure (nua_i_outbound) for a
    // time-out: the peer says 408 at once.
    w.root.write("watch.xml", options_scenario("408 Request Timeout", true));
    std::string sip = lan_stack(w);
    for (const registrar &p : peers)
        sip += "[" + p.name + "]\nsip_stack=lan\nsip_proxy=" + ADDR + ":" + std::to_string(p.port) +
               "\nuser=alice\nvalidation=1\n" + (p.name == "watch" ? "register=yes\n" : "");
    w.root.write("usr/conf/tarn.sip", sip);
    w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv4S0\nptp=1,0,0,0\n");
    w.root.write("usr/conf/tarn.isdn", "[pbx]\nports=1\nmonitored_sip_peer=watch\nmonitored_sip_peer_offtime=2\n");
    std::string trace = w.root.path("port1.trace");
    w.root.write("misdn.ports", "1 te bri ptp 40001 40002 " + trace + "\n");
    e2e_q931_peer isdn(w, {"--role", "network", "--line", "ptp", "--local", "40002", "--peer", "40001", "-e",
                       "wait up 30"});
    ASSERT_TRUE(isdn.wait("READY", 10000)) << read_text_file(isdn.out);
    std::filesystem::create_directories(w.root.path("sipp"));
    for (registrar &p : peers)
        p.start(w);
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9"}, {"TARN_MISDN_SIM=" + w.root.path("misdn.ports")})) << w.tarn_err();
    EXPECT_TRUE(all_ended(peers, 60000)) << "a peer did not finish";
    for (registrar &p : peers)
        EXPECT_EQ(p.status, 0) << p.name << ": sipp's status";

    std::string out = w.tarn_out();
    const struct {
        const char *status, *state;
    } expected[] = {{"404", "SM_SIP_VALIDATED_BY_OPTIONS"},
                    {"408", "SM_SIP_NOT_VALIDATED_BY_OPTIONS"},
                    {"503", "SM_SIP_NOT_VALIDATED_BY_OPTIONS"}};
    for (auto &e : expected) {
        SCOPED_TRACE(e.status);
        std::string line = std::string("S IND : nua_r_options[") + e.status + "]";
        std::string rid = rid_of(out, line);
        ASSERT_NE(rid, "");
        EXPECT_EQ(state_after(out, rid, line), e.state);
    }
    EXPECT_NE(rid_of(out, "S IND : nua_i_outbound[408]"), "");
    EXPECT_TRUE(w.wait_out("Pulling Layer Down on ISDN port 1", E2E_WAIT_MS)) << out;
    EXPECT_EQ(sipp_stop_tarn(w), "");
    // The port's layer 2 release as tshark reads the trace: DISC from us (the
    // far end may set the link up again).
    std::string pcap = trace + ".pcapng";
    run_process({"text2pcap", "-q", "-D", "-t", "%H:%M:%S.%f", "-l", "203", trace, pcap}, "", {}, 30);
    process_result disc = run_process({"tshark", "-n", "-r", pcap, "-Y", "lapd.control.u_modifier_cmd == 0x10",
                                       "-T", "fields", "-e", "frame.number"},
                                      "", {}, 30);
    EXPECT_NE(disc.out, "") << disc.err;
}

// The SNMP stream (console "snmplog") tells a registration's state once:
// two refreshes that succeed again write nothing more.
TEST(RegistrationE2E, SnmpLineOncePerStateChange)
{
    e2e_world w(lan_world());
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    std::vector<registrar> regs(1);
    regs[0].name = "prov";
    regs[0].scenario = "expires_5_twice.xml";
    regs[0].port = 5977;
    regs[0].calls = 1;
    w.root.write("usr/conf/tarn.sip", lan_stack(w) + peer("prov", 5977, "regrefresh=60\n"));
    std::filesystem::create_directories(w.root.path("sipp"));
    regs[0].start(w);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    w.console("snmplog");
    EXPECT_TRUE(all_ended(regs, 60000)) << "the registrar did not finish";
    EXPECT_EQ(regs[0].status, 0);
    // the registrar sent its last answer; the daemon takes it
    EXPECT_TRUE(e2e_world::wait_for([&] { return regs[0].trace().size() >= 6; }, E2E_WAIT_MS));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::string out = w.tarn_out();
    const std::string line = "SNMP:SIP_REGVAL:0:prov:1:SM_SIP_REGISTRATION_SUCCESSFUL:200:0:VALIDATION_DISABLED:0\n";
    size_t n = 0;
    for (size_t at = out.find(line); at != std::string::npos; at = out.find(line, at + 1))
        n++;
    EXPECT_EQ(n, 1u) << out;
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// Seconds of the day of the first debug line of text that holds what (from
// offset from on), or -1.
double stamp_of(const std::string &text, const std::string &what, size_t from = 0)
{
    size_t at = text.find(what, from);
    if (at == std::string::npos)
        return -1;
    size_t begin = text.rfind('\n', at);
    begin = begin == std::string::npos ? 0 : begin + 1;
    int h = 0, m = 0, s = 0, us = 0;
    if (sscanf(text.c_str() + begin, "<%*d>%*d/%*d/%*d-%d:%d:%d:%d|", &h, &m, &s, &us) != 4)
        return -1;
    return h * 3600.0 + m * 60.0 + s + us / 1e6;
}

// The layer control of a watched peer leaves a port alone while it carries
// a call: ports 1 and 2 of the group, a call from port 1 out to SIP active
// when the peer's validation fails (the peer answers its probe late), only
// port 2 goes down; the call goes on and ends normally.
TEST(RegistrationE2E, ValidationFailureKeepsAPortWithACallUp)
{
    e2e_world w(lan_world());
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    std::vector<registrar> peers(1);
    peers[0].name = "watch";
    peers[0].scenario = w.root.path("watch.xml");
    peers[0].port = 5986;
    peers[0].calls = 2;
    w.root.write("watch.xml", options_scenario("408 Request Timeout", true, 8000));
    w.root.write("usr/conf/tarn.sip", lan_stack(w) + "[watch]\nsip_stack=lan\nsip_proxy=" + ADDR +
                                          ":5986\nuser=alice\nvalidation=1\nregister=yes\n");
    e2e_isdn_ports isdn(w,
                        "[pbx]\nports=1,2\nmonitored_sip_peer=watch\nmonitored_sip_peer_offtime=2\n"
                        "config=isdn2sip_destination_numformat=VAZ_UNKNOWN\n",
                        {{1, "te"}, {2, "te"}});
    int uas_port = free_local_port();
    w.root.write("usr/conf/tarn.dialplan",
                 "ISDN\tSIP\t1\t127.0.0.2:" + std::to_string(uas_port) + "\t(0[0-9]*)\t\\1\t(.*)\t\\1\t\n");
    w.root.write("called.xml", e2e_sipp_answer_until_bye());
    std::string hang_up = w.root.path("hang_up"), started = w.root.path("started");
    e2e_child uas(w, "uas", e2e_sipp_uas(w, w.root.path("called.xml"), "127.0.0.2", uas_port, "uas"));
    ASSERT_TRUE(e2e_udp_listening(w, "127.0.0.2", uas_port));
    // The call goes out once the daemon has started: a SETUP while it still
    // starts may go unanswered past T303 on a loaded machine.
    e2e_child caller(w, "caller", isdn.peer_argv(1, {"waitfile " + started + " 60", "dial 0301 4711", "wait answer 20",
                                                     "waitfile " + hang_up + " 60", "hangup", "sleep 1000"}));
    e2e_child idle(w, "idle", isdn.peer_argv(2, {"sleep 60000"}));
    std::filesystem::create_directories(w.root.path("sipp"));
    for (registrar &p : peers)
        p.start(w);
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9"}, isdn.env())) << w.tarn_err();
    std::ofstream(started) << "now\n";
    EXPECT_TRUE(w.wait_out("Pulling Layer Down on ISDN port 2", 40000)) << w.tarn_out();
    std::ofstream(hang_up) << "now\n";
    EXPECT_TRUE(caller.wait("SCRIPT DONE", 30000)) << caller.text();
    EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << read_text_file(w.root.path("uas.msg"));
    EXPECT_TRUE(all_ended(peers, 30000));

    std::string out = w.tarn_out();
    double active = stamp_of(out, "=> SM_CALL_ACTIVE"), down = stamp_of(out, "Pulling Layer Down on ISDN port 2");
    ASSERT_GT(active, 0) << out;
    ASSERT_GT(down, 0) << out;
    EXPECT_LT(active, down) << "the call was active when the validation failed";
    EXPECT_FALSE(has(out, "Pulling Layer Down on ISDN port 1")) << out;
    EXPECT_FALSE(has(caller.text(), "DOWN")) << caller.text();
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// Over TCP a registrar must take a plain connect before the next REGISTER:
// a listener gets the new REGISTER, a closed port fails the check; a UDP
// peer is never probed.
TEST(RegistrationE2E, RegistrarCheckOverTcp)
{
    e2e_world w(lan_world());
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    std::string received = w.root.path("tcp.received");
    pid_t listener = w.ns.spawn({"socat", "-u", std::string("TCP-LISTEN:5992,bind=") + ADDR + ",reuseaddr,fork",
                                 "OPEN:" + received + ",creat,append"});
    auto peer = [](const std::string &name, int port, const std::string &transport) {
        return "[" + name + "]\nsip_stack=lan\nsip_proxy=" + ADDR + ":" + std::to_string(port) +
               "\ntransport=" + transport + "\nuser=alice\nregister=yes\nregrefresh_failed=2\n"
               "register_options=no-validate no-options-keepalive\n";
    };
    w.root.write("usr/conf/tarn.sip",
                 lan_stack(w) + peer("tcplive", 5992, "tcp") + peer("tcpdead", 5993, "tcp") + peer("udpgrp", 5994, "udp"));
    ASSERT_TRUE(e2e_world::wait_for([&] { return has(w.ns.run({"ss", "-lntH"}).out, ":5992"); }, E2E_WAIT_MS));
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();

    EXPECT_TRUE(w.wait_out("registrar_check to tcpdead:", E2E_WAIT_MS));
    auto registers = [&] {
        std::string text = read_text_file(received);
        int n = 0;
        for (size_t at = text.find("REGISTER sip:"); at != std::string::npos; at = text.find("REGISTER sip:", at + 1))
            n++;
        return n;
    };
    // the first REGISTER at start, then one more once the probe passed
    EXPECT_TRUE(e2e_world::wait_for([&] { return registers() >= 2; }, E2E_WAIT_MS)) << read_text_file(received);
    std::string out = w.tarn_out();
    EXPECT_FALSE(has(out, "registrar_check to tcplive:")) << out;
    EXPECT_TRUE(has(out, "registrar check for tcplive"));
    EXPECT_FALSE(has(out, "registrar check for udpgrp"));
    std::string dead = rid_of(out, "registrar_check to tcpdead:");
    ASSERT_NE(dead, "");
    std::istringstream lines(out);
    for (std::string l; std::getline(lines, l);)
        EXPECT_FALSE(has(l, dead) && has(l, "Reregister with new handle")) << l;
    EXPECT_EQ(sipp_stop_tarn(w), "");
    kill(listener, SIGKILL);
    waitpid(listener, nullptr, 0);
}

} // namespace

// The console's registration listing: a registrar that grants the
// registration shows "(200) OK" and REGISTERED; one that answers 402 shows
// the code with "UNKNOWN".
TEST(RegistrationE2E, ConsoleListing)
{
    e2e_world w(lan_world());
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    std::string pay = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<scenario name=\"402\">\n"
                      "<recv request=\"REGISTER\"/>\n<pause milliseconds=\"300\"/>\n<send><![CDATA[\n\n"
                      "SIP/2.0 402 Payment Required\n[last_Via:]\n[last_From:]\n[last_To:];tag=[pid]SIPpTag[call_number]\n"
                      "[last_Call-ID:]\n[last_CSeq:]\nContent-Length: 0\n\n]]></send>\n</scenario>\n";
    w.root.write("pay.xml", pay);
    std::vector<registrar> regs = {{"good", "expires_30.xml", 5985, 1}, {"pay", w.root.path("pay.xml"), 5986, 1}};
    std::string sip = lan_stack(w);
    for (const registrar &r : regs)
        sip += peer(r.name, r.port, "");
    w.root.write("usr/conf/tarn.sip", sip);
    std::filesystem::create_directories(w.root.path("sipp"));
    for (registrar &r : regs)
        r.start(w);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    ASSERT_TRUE(w.wait_out("S IND : nua_r_register[402]", E2E_WAIT_MS)) << w.tarn_out();
    ASSERT_TRUE(w.wait_out("S IND : nua_r_register[200]", E2E_WAIT_MS)) << w.tarn_out();
    w.console("r");
    ASSERT_TRUE(w.wait_out("LISTING REGISTRATIONS\n", E2E_WAIT_MS));
    EXPECT_TRUE(w.wait_out("RESPONSECODE             => (200) OK\n", E2E_WAIT_MS)) << w.tarn_out();
    EXPECT_TRUE(w.wait_out("REGSTATUS                => REGISTERED\n", E2E_WAIT_MS)) << w.tarn_out();
    EXPECT_TRUE(w.wait_out("RESPONSECODE             => (402) UNKNOWN\n", E2E_WAIT_MS)) << w.tarn_out();
    EXPECT_TRUE(w.wait_out("ACCOUNTNAME              => pay\n", E2E_WAIT_MS)) << w.tarn_out();
    EXPECT_EQ(sipp_stop_tarn(w), "");
}
