// Admission of SIP INVITEs by the whole daemon: refusals without a dial
// plan line and at a SIP group's call limit, the inbound throttle, the 155
// "Trying" of a line with an inbound group, a call group's next member after
// a failover answer, an emergency call that ends a running call, and the
// refusals of calls toward ISDN (against a libpri far end) and GSM. The
// INVITEs come from sip_sender.py inside the namespace, which writes one
// line per response.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "run_process.h"
#include "sipp_case.h"

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

// A dial plan line from its nine fields.
std::string row(const std::vector<std::string> &f)
{
    std::string s;
    for (size_t i = 0; i < f.size(); i++)
        s += (i ? "\t" : "") + f[i];
    return s + "\n";
}

struct answer {
    int index = -1, status = 0;
    std::string phrase, reason, contact;
};

// The tab-separated fields of each line of text, n of them (missing ones
// empty; n 0: as many as the line has).
std::vector<std::vector<std::string>> tab_lines(const std::string &text, size_t n)
{
    std::vector<std::vector<std::string>> out;
    std::istringstream lines(text);
    for (std::string l; std::getline(lines, l);) {
        std::vector<std::string> f;
        std::istringstream fields(l);
        for (std::string x; std::getline(fields, x, '\t');)
            f.push_back(x);
        if (n)
            f.resize(n);
        out.push_back(f);
    }
    return out;
}

std::vector<answer> parse_answers(const std::string &text)
{
    std::vector<answer> out;
    for (const std::vector<std::string> &f : tab_lines(text, 0)) {
        if (f.size() < 2)
            continue;
        answer a;
        a.index = atoi(f[0].c_str());
        a.status = atoi(f[1].c_str());
        a.phrase = f.size() > 2 ? f[2] : "";
        a.reason = f.size() > 3 ? f[3] : "";
        a.contact = f.size() > 4 ? f[4] : "";
        out.push_back(a);
    }
    return out;
}

// The answers to call index, in order.
std::vector<answer> of_call(const std::vector<answer> &all, int index)
{
    std::vector<answer> out;
    for (const answer &a : all)
        if (a.index == index)
            out.push_back(a);
    return out;
}

// The final answer of a call (status 0 when none came).
answer final_of(const std::vector<answer> &all, int index)
{
    for (const answer &a : of_call(all, index))
        if (a.status >= 200)
            return a;
    return answer{};
}

std::string sender()
{
    return std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip_sender.py";
}

std::vector<std::string> invites_argv(const e2e_world &w, const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {"python3", sender(), "invites", "--port", std::to_string(w.root.sip_port)};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// INVITEs to the localhost stack, run to the end.
std::vector<answer> send_invites(const e2e_world &w, const std::vector<std::string> &args)
{
    process_result r = w.ns.run(invites_argv(w, args), "", {}, 60);
    EXPECT_EQ(r.status, 0) << r.err;
    return parse_answers(r.out);
}

// INVITEs left running (calls the daemon holds); answers go to a file.
struct held_calls {
    pid_t pid = -1;
    std::string out;
    held_calls(const e2e_world &w, const std::string &name, const std::vector<std::string> &args)
    {
        out = w.root.path(name + ".answers");
        std::vector<std::string> a = args;
        a.insert(a.end(), {"--out", out, "--wait", "60"});
        pid = w.ns.spawn(invites_argv(w, a));
    }
    ~held_calls()
    {
        if (pid > 0)
            kill(pid, SIGKILL);
    }
    std::vector<answer> answers() const { return parse_answers(read_text_file(out)); }
};

bool reason_text(const answer &a, const std::string &text)
{
    return a.reason.rfind("TARN", 0) == 0 && has(a.reason, "cause=0") && has(a.reason, "text=\"" + text + "\"");
}

const char *const plain_sip = "[general]\nsip_bindport_localhost = @SIP_PORT@\n";

// Without a dial plan line: 486 with the cause text and the TARN reason.
// The throttle (2 per second) drops the third INVITE inside a second
// without an answer of the daemon (the stack answers 480 once the handle is
// gone); one 1.1 s after the first is admitted.
TEST(SipAdmission, NoDialplanLineAndThrottle)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    sipp_write_config(w, "usr/conf/tarn.sip", plain_sip);
    w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options = sip_inbound_limit=2:1000\n");
    // The caller is accepted, the called number not.
    w.root.write("usr/conf/tarn.dialplan", row({"SIP", "ISDN", "*", "1", "9.*", "\\0", "*", "\\0", ""}));
    ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();
    int before = count(w.tarn_out(), "S SEND: NUA_RESPOND[");

    std::vector<answer> all = send_invites(w, {"--at", "0,0.05,0.1,1.1", "--wait", "2"});
    for (int i : {0, 1, 3}) {
        SCOPED_TRACE(i);
        answer a = final_of(all, i);
        EXPECT_EQ(a.status, 486);
        EXPECT_EQ(a.phrase, "Busy Here: no destination or source match");
        EXPECT_TRUE(reason_text(a, "No matching dialplan entry found")) << a.reason;
    }
    answer dropped = final_of(all, 2);
    EXPECT_EQ(dropped.status, 480) << "the stack's answer to a destroyed handle";
    for (const answer &a : of_call(all, 2))
        EXPECT_TRUE(a.status == 100 || a.status == 480) << a.status << " " << a.phrase;
    EXPECT_EQ(count(w.tarn_out(), "S SEND: NUA_RESPOND[") - before, 3) << w.tarn_out();
    EXPECT_EQ(count(w.tarn_out(), "S SEND: NUA_RESPOND[486] \"Busy Here: no destination or source match\""), 3);
    EXPECT_EQ(count(read_text_file(w.root.path("var/log/tarn.nlog.1")), "INCOMING CALL FROM SIP REJECTED, NO DIALPLAN: PID"),
              3);
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// A line with an inbound SIP group answers 155 "Trying" with the group's
// Contact once, also when its first line's admission asked for the next
// line (no B-channel, dialplan_go_on).
TEST(SipAdmission, InboundGroupTryingOnce)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    sipp_write_config(w, "usr/conf/tarn.sip",
                      std::string(plain_sip) + "[office]\nsip_stack=localhost\nsip_proxy=127.0.0.1\nuser=alice\n");
    w.root.write("usr/conf/tarn.dialplan",
                 row({"SIP", "ISDN", "p:office", "1", "7.*", "\\0", "*", "\\0", "dialplan_go_on=1"}) +
                     row({"SIP", "ISDN", "p:office", "1", "7.*", "\\0", "*", "\\0", ""}));
    ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();

    std::vector<answer> all = send_invites(w, {"--to", "7001", "--wait", "2"});
    int trying = 0;
    for (const answer &a : all) {
        if (a.status != 155)
            continue;
        trying++;
        EXPECT_EQ(a.phrase, "Trying");
        EXPECT_TRUE(has(a.contact, "alice@")) << a.contact;
    }
    EXPECT_EQ(trying, 1);
    answer f = final_of(all, 0);
    EXPECT_EQ(f.status, 486);
    EXPECT_TRUE(reason_text(f, "No free ISDN channels")) << f.reason;
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front().status == 155 || all.front().status == 100, true);
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// A SIP peer at 127.0.0.1:5060 that takes INVITEs and never answers, so
// a call toward it stays. It listens once constructed (listening): before
// that, the port's ICMP answer makes the stack end such a call at once.
struct silent_peer {
    pid_t pid = -1;
    bool listening = false;
    explicit silent_peer(const e2e_world &w)
    {
        pid = w.ns.spawn({"python3", "-c",
                          "import socket,time\ns=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
                          "s.bind(('127.0.0.1',5060))\ntime.sleep(300)"});
        listening =
            e2e_world::wait_for([&] { return has(w.ns.run({"ss", "-lnu"}).out, "127.0.0.1:5060"); }, E2E_WAIT_MS);
    }
    ~silent_peer()
    {
        if (pid > 0)
            kill(pid, SIGKILL);
    }
};

// A SIP group at its limit of one call: the next INVITE toward it finds no
// line and is refused with the call-limit cause's text alone.
TEST(SipAdmission, CallLimitReached)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    sipp_write_config(w, "usr/conf/tarn.sip",
                      std::string(plain_sip) +
                          "[full]\nsip_stack=localhost\nsip_proxy=127.0.0.1\nmax_simultaneous_calls=1\n");
    w.root.write("usr/conf/tarn.dialplan", row({"SIP", "SIP", "*", "p:full", "8.*", "\\0", "*", "\\0", ""}));
    w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options = nco=4\n");
    ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();

    silent_peer silent(w); // the group's peer: the first call stays
    ASSERT_TRUE(silent.listening);
    held_calls first(w, "first", {"--to", "8001"});
    ASSERT_TRUE(w.wait_out("D INCOMING:CID=")) << w.tarn_out();
    std::vector<answer> all = send_invites(w, {"--to", "8002", "--wait", "2"});
    answer f = final_of(all, 0);
    EXPECT_EQ(f.status, 486);
    EXPECT_EQ(f.phrase, "Busy Here");
    EXPECT_TRUE(reason_text(f, "No matching dialplan entry found")) << f.reason;
    EXPECT_TRUE(has(w.tarn_out(), "S SEND: NUA_RESPOND[486] \"Busy Here\"")) << w.tarn_out();
    // The admission toward SIP ran the line's prefix rule.
    EXPECT_FALSE(has(w.tarn_out(), "sm_add_vaz_to_new_destination is not part of this build"));
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// A far end at address:5060 (sipp) that answers one INVITE with a failure
// (uas_CODE.xml), run in the background; its result once it ended.
std::future<process_result> failing_peer(const e2e_world &w, const std::string &address, const std::string &code)
{
    std::vector<std::string> argv = {"sipp", "-sf", std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip/uas_" + code + ".xml",
                                     "-i", address, "-p", "5060", "-m", "1", "-timeout", "30s", "-timeout_error",
                                     "-nostdin", "-trace_msg", "-message_file", w.root.path("peer_" + address + ".msg")};
    return std::async(std::launch::async, [&w, argv] { return w.ns.run(argv, "", {}, 60); });
}

// Two SIP groups of one call group: the line names the first (priority 1),
// whose peer answers 503, a failover cause; the INVITE goes on to the
// second member, whose 486 reaches the caller.
TEST(SipAdmission, CallGroupGoesOnToTheNextMember)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    sipp_write_config(w, "usr/conf/tarn.sip",
                      std::string(plain_sip) +
                          "[first]\nsip_stack=localhost\nsip_proxy=127.0.0.5\ncallgroup_name=cg\n"
                          "callgroup_priority=1\n"
                          "[second]\nsip_stack=localhost\nsip_proxy=127.0.0.6\ncallgroup_name=cg\n"
                          "callgroup_priority=2\n");
    w.root.write("usr/conf/tarn.dialplan", row({"SIP", "SIP", "*", "p:first", "9.*", "\\0", "*", "\\0", ""}));
    w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options = nco=4\n");
    ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();

    std::future<process_result> first = failing_peer(w, "127.0.0.5", "503");
    std::future<process_result> second = failing_peer(w, "127.0.0.6", "486");
    ASSERT_TRUE(e2e_world::wait_for(
        [&] {
            std::string listening = w.ns.run({"ss", "-lnu"}).out;
            return has(listening, "127.0.0.5:5060") && has(listening, "127.0.0.6:5060");
        },
        20000));
    answer f = final_of(send_invites(w, {"--to", "9001", "--wait", "3"}), 0);
    EXPECT_EQ(f.status, 486) << f.phrase;
    EXPECT_TRUE(sipp_ok(first.get()));
    EXPECT_TRUE(sipp_ok(second.get()));
    EXPECT_EQ(count(w.tarn_out(), "S IND : FAILOVER CAUSE => nua_r_invite[503]"), 1) << w.tarn_out();
    EXPECT_FALSE(has(w.tarn_out(), "get_next_sip_callgroup_alternative is not part of this build"));
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// The UDP ports of ISDN port 1's link: the gateway's end and q931peer's.
const std::string isdn_gw_port = std::to_string(free_local_port());
const std::string isdn_peer_port = std::to_string(free_local_port());

// ISDN port 1 faces a libpri network side: a TE point-to-point BRI beside
// port 2 without a far end, or (primary) one E1 port.
void isdn_world(e2e_world &w, const std::string &dialplan, const std::string &conf, bool primary = false)
{
    sipp_write_config(w, "usr/conf/tarn.sip", plain_sip);
    std::string trace = w.root.path("port1.trace");
    if (primary) {
        w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv1E1\n");
        w.root.write("usr/conf/tarn.isdn", "[pbx]\nports=1\n");
        w.root.write("misdn.ports", "1 te e1 ptp " + isdn_gw_port + " " + isdn_peer_port + " " + trace + "\n");
    } else {
        w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv4S0\nptp=1,1,0,0\n");
        w.root.write("usr/conf/tarn.isdn", "[pbx]\nports=1\n[dead]\nports=2\n");
        w.root.write("misdn.ports", "1 te bri ptp " + isdn_gw_port + " " + isdn_peer_port + " " + trace + "\n2 te bri ptp - - -\n");
    }
    w.root.write("usr/conf/tarn.dialplan", dialplan);
    if (!conf.empty())
        w.root.write("usr/conf/tarn.conf", conf);
}

bool start_isdn_tarn(e2e_world &w)
{
    return sipp_start_tarn(w, {"TARN_MISDN_SIM=" + w.root.path("misdn.ports")});
}

// Refusals of calls toward ISDN and GSM: a port without its far end (down),
// the 302 of move_on_pstn_fail with and without a host part, a called
// number with a letter on the port that is up, no registered GSM port.
TEST(SipAdmission, IsdnAndGsmRefusals)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    isdn_world(w,
               row({"SIP", "ISDN", "*", "2", "1.*", "\\0", "*", "\\0", ""}) +
                   row({"SIP", "ISDN", "*", "2", "2.*", "\\0", "*", "\\0", "302_on_pstn_fail=4930@10.1.1.1"}) +
                   row({"SIP", "ISDN", "*", "2", "3.*", "\\0", "*", "\\0", "302_on_pstn_fail=4930"}) +
                   row({"SIP", "ISDN", "*", "1", "4(.*)", "\\1", "*", "\\0", ""}) +
                   row({"SIP", "GSM", "*", "1,2", "5.*", "\\0", "*", "\\0", ""}),
               "");
    e2e_q931_peer peer(w, {"--role", "network", "--line", "ptp", "--local", isdn_peer_port, "--peer", isdn_gw_port, "-e",
                       "wait up 30"});
    ASSERT_TRUE(peer.wait("READY", 10000)) << read_text_file(peer.out);
    ASSERT_TRUE(start_isdn_tarn(w)) << w.tarn_err();
    ASSERT_TRUE(peer.wait("UP")) << read_text_file(peer.out);

    struct {
        const char *to;
        int status;
        const char *reason;
        const char *contact;
    } cases[] = {
        {"1000", 486, "No free ISDN channels (some ports are down)", ""},
        {"2000", 302, "No free ISDN channels (some ports are down)", "<sip:4930@10.1.1.1>"},
        {"3000", 302, "No free ISDN channels (some ports are down)", "<sip:4930@127.0.0.1>"},
        {"41x2", 486, "Invalid number format", ""},
        {"5000", 486, "No free GSM ports", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.to);
        answer f = final_of(send_invites(w, {"--to", c.to, "--wait", "2"}), 0);
        EXPECT_EQ(f.status, c.status) << f.phrase;
        EXPECT_TRUE(reason_text(f, c.reason)) << f.reason;
        if (c.contact[0]) {
            EXPECT_EQ(f.contact, c.contact);
        }
    }
    EXPECT_TRUE(has(w.tarn_out(), "CRITICAL: couldn't get free registered gsm port")) << w.tarn_out();
    EXPECT_TRUE(w.tarn_running());
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// Two calls held toward an E1 port fill a pool of two call objects (the
// port has B-channels to spare); an INVITE with X-DV_EMERGENCY ends one of
// them and is admitted.
TEST(SipAdmission, EmergencyCallEndsARunningCall)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    isdn_world(w, row({"SIP", "ISDN", "*", "1", "6.*", "\\0", "*", "\\0", ""}),
               "[general]\nexperimental_options = nco=2\n", true);
    // The far end proceeds and rings at once and answers only after the
    // test: the held calls stay up however slowly the next INVITE comes.
    e2e_q931_peer peer(w, {"--role", "network", "--line", "e1", "--local", isdn_peer_port, "--peer", isdn_gw_port,
                           "--answer-after", "600000", "-e", "wait up 30"});
    ASSERT_TRUE(peer.wait("READY", 10000)) << read_text_file(peer.out);
    ASSERT_TRUE(start_isdn_tarn(w)) << w.tarn_err();
    ASSERT_TRUE(has(w.tarn_out(), "ALLOCATING 2 CALL OBJECTS")) << w.tarn_out();
    ASSERT_TRUE(peer.wait("UP")) << read_text_file(peer.out);

    held_calls held(w, "held", {"--to", "6001", "--at", "0,0.2"});
    ASSERT_TRUE(e2e_world::wait_for([&] { return count(w.tarn_out(), "Got Bchannel : port 1") == 2; }, E2E_WAIT_MS))
        << w.tarn_out();
    // A third call without the mark finds no call object.
    answer refused = final_of(send_invites(w, {"--to", "6002", "--wait", "2"}), 0);
    EXPECT_EQ(refused.status, 486);
    EXPECT_TRUE(reason_text(refused, "No processing resources")) << refused.reason;
    EXPECT_TRUE(has(w.tarn_out(), "CRITICAL: couldn't get free call handle!"));

    held_calls emergency(w, "emergency", {"--to", "6003", "--header", "0:X-DV_EMERGENCY: 1"});
    EXPECT_TRUE(w.wait_out("emergency call termination => no co!")) << w.tarn_out();
    EXPECT_TRUE(e2e_world::wait_for([&] { return count(w.tarn_out(), "Got Bchannel : port 1") == 3; }, E2E_WAIT_MS))
        << w.tarn_out();
    EXPECT_EQ(final_of(emergency.answers(), 0).status, 0) << "the emergency call is not refused";
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// Load shedding. Two call objects, both held by a call from SIP to SIP
// that rings at a silent peer: at most four INVITEs wait for call control,
// so in a burst of INVITEs the stack answers those beyond them 503 itself.
// Such an answer carries no Reason, and call control never sees its
// request (nothing is kept of it); every other INVITE of the burst gets
// call control's refusal. An OPTIONS from another address during the burst
// is answered, and once the burst is over an INVITE reaches call control
// again.
TEST(SipAdmission, InvitesBeyondTheWaitingBoundAreShedByTheStack)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    sipp_write_config(w, "usr/conf/tarn.sip",
                      std::string(plain_sip) + "[silent]\nsip_stack=localhost\nsip_proxy=127.0.0.1\n");
    w.root.write("usr/conf/tarn.dialplan", row({"SIP", "SIP", "*", "p:silent", "8.*", "\\0", "*", "\\0", ""}));
    w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options = nco=2\n");
    ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();
    ASSERT_TRUE(w.wait_out("at most 4 INVITEs wait for an answer")) << w.tarn_out();
    silent_peer silent(w);
    ASSERT_TRUE(silent.listening);
    held_calls ringing(w, "ringing", {"--to", "8001"});
    ASSERT_TRUE(w.wait_out("D INCOMING:CID=")) << w.tarn_out();
    // Call control's own refusal: no call object while the ringing call
    // holds both, no dial plan line once the stack gave that call up (its
    // INVITE to the silent peer times out after 32 s, which a loaded
    // machine can reach during the bursts).
    auto by_call_control = [](const answer &a) {
        return reason_text(a, "No processing resources") || reason_text(a, "No matching dialplan entry found");
    };

    // 100 INVITEs at once; how many the stack sheds depends on how far
    // call control falls behind, so a burst without any is tried again.
    std::string at = "0";
    for (int i = 1; i < 100; i++)
        at += ",0";
    int shed = 0;
    for (int burst = 0; burst < 5 && shed == 0; burst++) {
        SCOPED_TRACE(burst);
        int seen = count(w.tarn_out(), "S IND : nua_i_invite[");
        std::future<process_result> probe = std::async(std::launch::async, [&w] {
            return sipp_run(w, {"options.xml", 1, "127.0.0.2", {}});
        });
        std::vector<answer> all = send_invites(w, {"--to", "9001", "--at", at, "--wait", "5"});
        EXPECT_TRUE(sipp_ok(probe.get())) << "an OPTIONS from another address";
        int refused = 0;
        for (int i = 0; i < 100; i++) {
            answer a = final_of(all, i);
            if (a.status == 503 && a.reason.empty()) {
                EXPECT_EQ(a.phrase, "Service Unavailable");
                shed++;
            } else {
                EXPECT_EQ(a.status, 486) << i << " " << a.phrase;
                EXPECT_TRUE(by_call_control(a)) << a.reason;
                refused++;
            }
        }
        ASSERT_TRUE(e2e_world::wait_for(
            [&] { return count(w.tarn_out(), "S IND : nua_i_invite[") - seen >= refused; }, 10000));
        EXPECT_EQ(count(w.tarn_out(), "S IND : nua_i_invite[") - seen, refused) << "a shed INVITE reached call control";
    }
    EXPECT_GT(shed, 0);
    answer after = final_of(send_invites(w, {"--to", "9002", "--wait", "3"}), 0);
    EXPECT_EQ(after.status, 486);
    EXPECT_TRUE(by_call_control(after)) << after.reason;
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// During a flood of INVITEs the daemon keeps serving everyone else: a
// running call's BYE is answered and reaches the far end, and an OPTIONS
// from an address that is not flooding is answered. Two call objects, both
// held by a call from SIP to SIP that is up, and no line for the flood's
// number, so every INVITE of the flood is refused, by call control (486
// with Reason) or by the stack (503). The
// flood goes on (50 INVITEs every half second) until the BYE is through.
TEST(SipAdmission, ByeAndOptionsAreAnsweredDuringAFlood)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    sipp_write_config(w, "usr/conf/tarn.sip",
                      std::string(plain_sip) + "[far]\nsip_stack=localhost\nsip_proxy=127.0.0.1\n");
    w.root.write("usr/conf/tarn.dialplan", row({"SIP", "SIP", "*", "p:far", "8.*", "\\0", "*", "\\0", ""}));
    w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options = nco=2\n");
    ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();

    // The far end answers the call and waits for its BYE.
    pid_t far = w.ns.spawn({"sipp", "-sf", std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip/answer_uas.xml", "-i",
                            "127.0.0.1", "-p", "5060", "-m", "1", "-nostdin", "-timeout", "180s", "-timeout_error"});
    ASSERT_TRUE(e2e_world::wait_for([&] { return has(w.ns.run({"ss", "-lnu"}).out, "127.0.0.1:5060"); }, 20000));
    std::string go = w.root.path("bye.go"), said = w.root.path("call.out");
    pid_t caller = w.ns.spawn({"python3", sender(), "call", "--port", std::to_string(w.root.sip_port), "--bind",
                               "127.0.0.3", "--to", "8001", "--go", go, "--out", said, "--wait", "60"});
    ASSERT_TRUE(e2e_world::wait_for([&] { return !read_text_file(said).empty(); }, 30000));
    ASSERT_EQ(read_text_file(said), "up\n") << w.tarn_out();

    std::string at;
    for (int burst = 0; burst < 60; burst++)
        for (int i = 0; i < 50; i++)
            at += (at.empty() ? "" : ",") + std::to_string(burst * 0.5);
    held_calls flood(w, "flood", {"--to", "9001", "--at", at});
    ASSERT_TRUE(e2e_world::wait_for([&] { return flood.answers().size() >= 50; }, 30000));

    EXPECT_TRUE(sipp_ok(sipp_run(w, {"options.xml", 1, "127.0.0.2", {}}))) << "an OPTIONS from another address";
    w.root.write("bye.go", "");
    ASSERT_TRUE(e2e_world::wait_for([&] { return has(read_text_file(said), "bye "); }, 60000));
    EXPECT_EQ(read_text_file(said), "up\nbye 200\n");
    int status = -1;
    EXPECT_TRUE(e2e_world::wait_for([&] { return waitpid(far, &status, WNOHANG) == far; }, 30000));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the far end had its BYE";
    EXPECT_EQ(waitpid(flood.pid, nullptr, WNOHANG), 0) << "the flood was over before the BYE was through";
    waitpid(caller, nullptr, 0);

    int refused = 0;
    for (const answer &a : flood.answers()) {
        if (a.status < 200)
            continue;
        refused++;
        // 9001 has no line: an INVITE that finds a call object free (while
        // the call's second one is not yet or no longer taken) gets that
        // refusal instead
        if (a.status == 503)
            EXPECT_TRUE(a.reason.empty()) << a.reason;
        else {
            EXPECT_EQ(a.status, 486) << a.index << " " << a.phrase;
            EXPECT_TRUE(reason_text(a, "No processing resources") ||
                        reason_text(a, "No matching dialplan entry found"))
                << a.reason;
        }
    }
    EXPECT_GE(refused, 50);
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// A burst the stack thread cannot read in time: while its socket holds
// more than a bound of requests, the stack answers every new INVITE 503 at
// once (no Reason: call control never sees it), and once the queue is read
// INVITEs reach call control again. Every INVITE of the burst gets a final
// answer, and an OPTIONS from another address sent into the burst is
// answered. How far the stack falls behind depends on the machine, so a
// burst that did not put it behind is tried again.
TEST(SipAdmission, ABurstTheStackCannotReadInTimeIsAnsweredByTheStack)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    sipp_write_config(w, "usr/conf/tarn.sip", plain_sip);
    // call objects enough that the bound on INVITEs waiting for call
    // control (twice them) is not what sheds the burst
    w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options = nco=128\n");
    ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();
    ASSERT_TRUE(w.wait_out("at most 256 INVITEs wait for an answer")) << w.tarn_out();
    const std::string shedding = "new INVITEs are answered 503 by the stack";

    const int n = 500;
    std::string at = "0";
    for (int i = 1; i < n; i++)
        at += ",0";
    int shed = 0;
    for (int burst = 0; burst < 5 && !has(w.tarn_out(), shedding); burst++) {
        SCOPED_TRACE(burst);
        int seen = count(w.tarn_out(), "S IND : nua_i_invite[");
        std::future<process_result> probe = std::async(std::launch::async, [&w] {
            usleep(20 * 1000);
            return sipp_run(w, {"options.xml", 1, "127.0.0.2", {}});
        });
        std::vector<answer> all = send_invites(w, {"--to", "9001", "--at", at, "--wait", "10"});
        EXPECT_TRUE(sipp_ok(probe.get())) << "an OPTIONS from another address";
        int refused = 0;
        for (int i = 0; i < n; i++) {
            answer a = final_of(all, i);
            if (a.status == 503) {
                EXPECT_TRUE(a.reason.empty()) << i << " " << a.reason;
                shed++;
            } else {
                EXPECT_EQ(a.status, 486) << i << " " << a.phrase;
                EXPECT_TRUE(reason_text(a, "No matching dialplan entry found")) << i << " " << a.reason;
                refused++;
            }
        }
        ASSERT_TRUE(e2e_world::wait_for(
            [&] { return count(w.tarn_out(), "S IND : nua_i_invite[") - seen >= refused; }, 10000));
        EXPECT_EQ(count(w.tarn_out(), "S IND : nua_i_invite[") - seen, refused) << "a shed INVITE reached call control";
    }
    EXPECT_TRUE(has(w.tarn_out(), shedding)) << w.tarn_out();
    EXPECT_GT(shed, 0);

    ASSERT_TRUE(w.wait_out("new INVITEs go to call control again")) << w.tarn_out();
    answer after = final_of(send_invites(w, {"--to", "9002", "--wait", "3"}), 0);
    EXPECT_EQ(after.status, 486);
    EXPECT_TRUE(reason_text(after, "No matching dialplan entry found")) << after.reason;
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

} // namespace

namespace {

// The lines "STATUS\tPHRASE\tALLOW\tRETRY-AFTER\tALLOW-HEADERS" of the answers to one
// request of method outside any dialog.
std::vector<std::vector<std::string>> ask(const e2e_world &w, const std::string &method)
{
    process_result r = w.ns.run({"python3", sender(), "request", "--port", std::to_string(w.root.sip_port),
                                 "--method", method},
                                "", {}, 30);
    EXPECT_EQ(r.status, 0) << r.err;
    return tab_lines(r.out, 5);
}

} // namespace

// A SIP-to-SIP call takes two call objects: with one free it is refused
// with the cause map's answer for "no free call object" and the Reason of
// missing resources, and the object is free again for the next call. A
// REGISTER (the gateway is no registrar) gets 405 with Allow, which does
// not name REGISTER. The console's call-progress listing comes last.
TEST(SipAdmission, RefusalsWithTheirReason)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    sipp_write_config(w, "usr/conf/tarn.sip",
                      std::string(plain_sip) + "[peer]\nsip_stack=localhost\nsip_proxy=127.0.0.1:5099\n");
    w.root.write("usr/conf/tarn.dialplan", row({"SIP", "SIP", "*", "p:peer", "8.*", "\\0", "*", "\\0", ""}));
    w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options = nco=1\n");
    w.root.write("usr/conf/tarn.causes", "SIP\tTARN\t903\t503\tNo call object\n");
    ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();

    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        std::vector<answer> all = send_invites(w, {"--to", "8001", "--wait", "3"});
        answer f = final_of(all, 0);
        EXPECT_EQ(f.status, 503);
        EXPECT_EQ(f.phrase, "No call object");
        EXPECT_TRUE(reason_text(f, "No processing resources")) << f.reason;
    }
    EXPECT_EQ(count(w.tarn_out(), "Rejecting call: not enough call objects"), 2) << w.tarn_out();

    std::vector<std::vector<std::string>> reg = ask(w, "REGISTER");
    ASSERT_FALSE(reg.empty());
    EXPECT_EQ(reg.back()[0], "405");
    EXPECT_EQ(reg.back()[1], "Method Not Allowed");
    EXPECT_TRUE(has(reg.back()[2], "INVITE")) << reg.back()[2];
    EXPECT_FALSE(has(reg.back()[2], "REGISTER")) << reg.back()[2];
    EXPECT_EQ(reg.back()[4], "1") << "one Allow header";

    // The console lists the built-in SIP-to-FXO table with its timers.
    w.console("lcpt");
    EXPECT_TRUE(w.wait_out("Table: s2fxo:default => dial 10000 ms| polrev 10000  ms| alertingstop -1 ms\n"))
        << w.tarn_out();
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// Requests that reach the SIP port while start-up still runs: each new
// OPTIONS transaction, from the moment the port is bound, gets its final
// answer within a second of its first send: 503 with Retry-After before
// the daemon is ready, 200 after. The media processor answers a start-up
// query late, so that start-up goes on for a while after the SIP port is
// bound.
TEST(SipAdmission, RequestsDuringStartUpAreAnswered)
{
    e2e_options o = sipp_world_options();
    o.msp_args = {"--rule", R"({"fc": "FC_SUPVSR_GET_ARM_CODE_VERSION", "answer": "late", "delay_ms": 1500})"};
    e2e_world w(o);
    E2E_REQUIRE(w);
    sipp_write_config(w, "usr/conf/tarn.sip", plain_sip);
    std::string out = w.root.path("startup.answers"), ready = w.root.path("startup.ready");
    pid_t probe = w.ns.spawn({"python3", sender(), "startup", "--port", std::to_string(w.root.sip_port), "--span",
                              "10", "--every", "0.01", "--out", out, "--ready", ready});
    ASSERT_GT(probe, 0);
    ASSERT_TRUE(e2e_world::wait_for([&] { return std::filesystem::exists(ready); }, 60000)) << "the probe started";
    ASSERT_TRUE(sipp_start_tarn(w, {"TARN_MSP_SIM_WAIT_MS=5000"})) << w.tarn_err();
    ASSERT_TRUE(e2e_world::wait_for([&] { return !read_text_file(out).empty(); }, 40000)) << "the probe ended";
    int unavailable = 0, ok = 0;
    std::string bad; // unanswered, answered otherwise, or answered late
    for (const std::vector<std::string> &f : tab_lines(read_text_file(out), 5)) {
        std::string l = f[0] + "\t" + f[1] + "\t" + f[2] + "\t" + f[3] + "\t" + f[4];
        int status = atoi(f[1].c_str());
        bool retry_later = status == 503 && !f[3].empty();
        unavailable += retry_later;
        ok += status == 200;
        if (!retry_later && status != 200)
            bad += l + "\n";
        else if (atof(f[2].c_str()) > 8.0) // held by the stack, it would wait 32 s
            bad += l + " (late)\n";
    }
    EXPECT_EQ(bad, "");
    EXPECT_GT(unavailable, 0) << "no request reached the port before start-up ended";
    EXPECT_GT(ok, 0);
    EXPECT_EQ(sipp_stop_tarn(w), "");
    kill(probe, SIGKILL);
}
