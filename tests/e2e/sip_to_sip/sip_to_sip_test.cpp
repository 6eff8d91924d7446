// Calls from SIP to SIP through the whole daemon: a sipp UAC is leg 1, a
// sipp UAS on a port of its own is leg 2 (and the failover proxy or the
// dial plan's next SIP line). One daemon carries every case of a test: each
// case dials its own number, whose dial plan line leads to its own SIP
// group. ENUM cases ask a dnsmasq inside the namespace; the capture on
// loopback is read back by tshark, which also shows the order and the SDPs
// of a T.38 re-INVITE relayed from leg 1 to leg 2.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dnsmasq_runner.h"
#include "e2e.h"
#include "isdn_calls.h"
#include "run_process.h"
#include "sipp_case.h"

namespace {

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

std::string scenario(const std::string &name)
{
    return std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip_to_sip/" + name;
}

// A dial plan line from its nine fields.
std::string row(const std::vector<std::string> &f)
{
    std::string s;
    for (size_t i = 0; i < f.size(); i++)
        s += (i ? "\t" : "") + f[i];
    return s + "\n";
}

// The line of a SIP-to-SIP case: numbers beginning with prefix go to the
// SIP group (or other target) to_id, unchanged.
std::string s2s_row(const std::string &prefix, const std::string &to_id, const std::string &options = "")
{
    return row({"SIP", "SIP", "*", to_id, prefix + ".*", "\\0", "*", "\\0", options});
}

// A SIP group on the localhost stack whose proxy is a sipp far end.
std::string group(const std::string &name, int port, const std::string &more = "")
{
    return "[" + name + "]\nsip_stack=localhost\nsip_proxy=127.0.0.1:" + std::to_string(port) + "\n" + more;
}

e2e_options world_options()
{
    e2e_options o = sipp_world_options();
    o.capture_filter = "udp"; // SIP on every port of the far ends, and DNS
    return o;
}

struct s2s_world {
    e2e_world w{world_options()};

    // Writes tarn.sip (general section with more lines, then the groups),
    // the dial plan and tarn.conf, and starts tarn until it answers OPTIONS.
    bool start(const std::string &groups, const std::string &dialplan, const std::string &conf = "",
               const std::vector<std::string> &env = {}, const std::string &sip_general = "")
    {
        sipp_write_config(w, "usr/conf/tarn.sip",
                          "[general]\nsip_bindport_localhost = @SIP_PORT@\n" + sip_general + groups);
        w.root.write("usr/conf/tarn.dialplan", dialplan);
        if (!conf.empty())
            w.root.write("usr/conf/tarn.conf", conf);
        return sipp_start_tarn(w, env);
    }
    // A sipp UAS on port, started now (its messages in <name>.msg).
    std::vector<std::string> uas_args(const std::string &name, const std::string &xml, int port,
                                      const std::vector<std::string> &extra = {}) const
    {
        std::vector<std::string> a = {"sipp", "-sf", scenario(xml), "-i", "127.0.0.1", "-p", std::to_string(port),
                                      "-m", "1", "-timeout", "40s", "-timeout_error", "-nostdin", "-trace_msg",
                                      "-message_file", w.root.path(name + ".msg")};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
    // Leg 1: one call of xml to number through the gateway.
    process_result uac(const std::string &xml, const std::string &number)
    {
        return sipp_run(w, {scenario(xml), 1, "127.0.0.1", {"-s", number}});
    }
    // Waits (bounded) until a UDP socket of the namespace is bound to port.
    bool listening(int port) const
    {
        return e2e_world::wait_for(
            [&] { return has(w.ns.run({"ss", "-lnuH"}).out, ":" + std::to_string(port) + " "); }, 10000);
    }
    std::string messages(const std::string &name) const { return read_text_file(w.root.path(name + ".msg")); }
};

// One INVITE or final answer to one in a capture: who sent it to whom,
// the request or status line's words after the version, the first media
// line with its port as "P" and the port itself, the media attributes.
struct wire_msg {
    std::string way, what, media;
    int port = 0;
    std::string attrs;
};

// The INVITEs and their final answers of the case whose leg 2 listens on
// leg2_port, from lines of sipp_captured_sip with the fields udp.srcport,
// udp.dstport, sip.to.user, sip.Method, sip.Status-Line, sdp.media and
// sdp.media_attr, sip.CSeq.seq; retransmissions once.
std::vector<wire_msg> invite_flow(const std::vector<std::string> &lines, const std::string &user, int leg2_port,
                                  int gateway_port)
{
    std::vector<wire_msg> out;
    std::set<std::string> seen;
    for (const std::string &l : lines) {
        std::vector<std::string> f;
        std::istringstream cols(l);
        for (std::string c; std::getline(cols, c, '\t');)
            f.push_back(c);
        f.resize(8);
        if (f[2] != user || !seen.insert(l).second)
            continue;
        int src = atoi(f[0].c_str()), dst = atoi(f[1].c_str());
        wire_msg m;
        m.way = src == leg2_port   ? "leg 2 >"
                : dst == leg2_port ? "> leg 2"
                : src == gateway_port ? "> leg 1"
                                      : "leg 1 >";
        m.what = !f[3].empty() ? f[3] : f[4].substr(f[4].find(' ') + 1);
        std::string media = f[5].substr(0, f[5].find(','));
        size_t p = media.find(' ') + 1;
        if (p > 0 && p < media.size()) {
            m.port = atoi(media.c_str() + p);
            media.replace(p, media.find(' ', p) - p, "P");
        }
        m.media = media;
        m.attrs = f[6];
        out.push_back(m);
    }
    return out;
}

// "way what [media type]|..." of a flow.
std::string summary(const std::vector<wire_msg> &flow)
{
    std::string s;
    for (const wire_msg &m : flow)
        s += (s.empty() ? "" : "|") + m.way + " " + m.what + (m.media.empty() ? "" : " ") +
             m.media.substr(0, m.media.find(' '));
    return s;
}

// The answers of leg 2 and what leg 1 gets for them, each case a sipp pair
// that must end with status 0.
TEST(SipToSip, AnswersOfLegTwoReachLegOne)
{
    struct scenario_case {
        std::string number, name, uac, uas;
        std::vector<std::string> uas_extra;
    };
    const std::vector<scenario_case> cases = {
        {"11", "ringing_then_ok", "uac_call.xml", "uas_answer.xml", {}},
        {"12", "ok_then_bye_from_leg2", "uac_call.xml", "uas_answer_bye.xml", {}},
        {"13", "progress_then_busy", "uac_183_busy.xml", "uas_183_busy.xml", {}},
        {"14", "invite_without_sdp", "uac_no_sdp.xml", "uas_answer.xml", {}},
        {"15", "failover_503", "uac_call.xml", "uas_503.xml", {}},
        {"16", "go_on_404", "uac_call.xml", "uas_404.xml", {}},
        {"17", "moved_302", "uac_302.xml", "uas_302.xml", {}},
        {"18", "message", "uac_message.xml", "uas_message.xml", {}},
        {"19", "bye_challenged", "uac_call.xml", "uas_bye_401.xml", {}},
        {"20", "t38_taken", "uac_t38.xml", "uas_t38.xml", {}},
        {"21", "t38_refused", "uac_t38_refused.xml", "uas_t38_audio.xml", {}},
    };
    std::map<std::string, int> port;
    for (const scenario_case &c : cases)
        port[c.name] = free_local_port();
    port["backup"] = free_local_port();
    port["next_sip_line"] = free_local_port();

    std::string groups;
    for (const scenario_case &c : cases)
        groups += group(c.name, port[c.name], c.name == "bye_challenged" ? "user=leg2\nsecret=s3cret\n" : "");
    groups += group("backup", port["backup"]) + group("next_sip_line", port["next_sip_line"]);
    std::string dialplan;
    for (const scenario_case &c : cases) {
        std::string options = c.name == "failover_503"  ? "failover_proxy=p:backup,failover_causes=503"
                              : c.name == "go_on_404"   ? "dialplan_go_on=1,failover_causes=404"
                              : c.name == "moved_302"   ? "sip_302_contact_url=gw.test:5070"
                              : c.name == "message"     ? "sip_allow_message=1"
                              : c.name.rfind("t38_", 0) == 0 ? "s2s_t38_passthrough=1"
                                                        : "";
        dialplan += s2s_row(c.number, "p:" + c.name, options);
        if (c.name == "go_on_404")
            dialplan += row({"SIP", "ISDN", "*", "1", "16.*", "\\0", "*", "\\0", ""}) +
                        s2s_row(c.number, "p:next_sip_line");
    }
    s2s_world sw;
    E2E_REQUIRE(sw.w);
    // A refused T.38 offer gets the cause map's answer. The LAN stack's
    // RTP range is wide enough for a T.38 pool at its top, where the T.38
    // streams of SIP-to-SIP calls go.
    sw.w.root.write("usr/conf/tarn.causes", "SIP\tTARN\t917\t488\tNot Acceptable Here\n");
    const int lan_rtp_low = 20000, lan_rtp_high = 20998, t38_pool_low = lan_rtp_high - 256;
    ASSERT_TRUE(sw.start(groups, dialplan, "[general]\nexperimental_options = nco=16,byeauth=1\n", {},
                         "stack_active_lan = 1\ninterface_name_lan = eth1\nrtpports_lan = " +
                             std::to_string(lan_rtp_low) + "-" + std::to_string(lan_rtp_high) + "\n"))
        << sw.w.tarn_err();

    for (const scenario_case &c : cases) {
        SCOPED_TRACE(c.name);
        e2e_child uas(sw.w, c.name, sw.uas_args(c.name, c.uas, port[c.name], c.uas_extra));
        std::unique_ptr<e2e_child> second;
        std::string second_name = c.name == "failover_503" ? "backup" : c.name == "go_on_404" ? "next_sip_line" : "";
        if (!second_name.empty())
            second = std::make_unique<e2e_child>(sw.w, second_name,
                                                 sw.uas_args(second_name, "uas_answer.xml", port[second_name]));
        // the far ends are listening before leg 1 calls (an INVITE to a
        // port not bound yet gets the stack's own 503)
        EXPECT_TRUE(sw.listening(port[c.name]));
        if (second) {
            EXPECT_TRUE(sw.listening(port[second_name]));
        }
        EXPECT_TRUE(sipp_ok(sw.uac(c.uac, c.number + "4711")));
        EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << sw.messages(c.name);
        if (second) {
            EXPECT_EQ(second->wait_exit(30000), 0) << second->text();
        }
        if (c.name == "bye_challenged") {
            // the clean-up call that took the challenged BYE is freed again
            std::string out = sw.w.tarn_out();
            const std::string took = "clean-up call co ";
            size_t at = out.find(took);
            ASSERT_NE(at, std::string::npos) << "no clean-up call took the BYE";
            size_t end = out.find(' ', at + took.size());
            std::string freed = "Resetting finished for co " + out.substr(at + took.size(), end - at - took.size()) + " ";
            EXPECT_TRUE(e2e_world::wait_for([&] { return has(sw.w.tarn_out().substr(at), freed); }, E2E_WAIT_MS)) << freed;
        }
    }
    std::string out = sw.w.tarn_out();
    EXPECT_TRUE(has(out, "dialplan_go_on: skipping line")) << "the ISDN line between the two SIP lines";
    // the 302 of leg 2 went back to leg 1; the stack itself never followed
    // it to its Contact
    std::vector<std::string> invites =
        sipp_captured_sip(sw.w, "sip.Method == \"INVITE\"", {"sip.r-uri.user", "sip.r-uri.host"});
    auto sent_to = [&](const std::string &field) {
        return std::any_of(invites.begin(), invites.end(), [&](const std::string &l) { return has(l, field); });
    };
    EXPECT_TRUE(sent_to("174711\t127.0.0.1")) << testing::PrintToString(invites);
    EXPECT_FALSE(sent_to("\t10.9.9.9")) << testing::PrintToString(invites);
    EXPECT_EQ(sipp_stop_tarn(sw.w), "");

    // The T.38 relay on the wire: leg 1's answer to its T.38 re-INVITE
    // comes only after leg 2 answered the gateway's; the T.38 streams take
    // ports of the T.38 pool; after an audio answer leg 2 gets its first
    // audio offer again, on its old port.
    std::vector<std::string> lines =
        sipp_captured_sip(sw.w, "sip.CSeq.method == \"INVITE\" && !(sip.Status-Code < 200)",
                          {"udp.srcport", "udp.dstport", "sip.to.user", "sip.Method", "sip.Status-Line", "sdp.media",
                           "sdp.media_attr", "sip.CSeq.seq"});
    auto in_pool = [&](int p) { return p >= t38_pool_low && p <= lan_rtp_high; };
    const std::string t38_offer = "T38FaxVersion:0,T38MaxBitRate:14400,T38FaxRateManagement:transferredTCF,"
                                  "T38FaxMaxBuffer:200,T38FaxMaxDatagram:200,T38FaxUdpEC:t38UDPRedundancy";
    const std::string t38_answer = "T38FaxVersion:0,T38MaxBitRate:14400,T38FaxFillBitRemoval:0,"
                                   "T38FaxTranscodingMMR:0,T38FaxTranscodingJBIG:0,"
                                   "T38FaxRateManagement:transferredTCF,T38FaxMaxDatagram:400";
    {
        SCOPED_TRACE("t38_taken");
        std::vector<wire_msg> f = invite_flow(lines, "204711", port["t38_taken"], sw.w.root.sip_port);
        ASSERT_EQ(summary(f), "leg 1 > INVITE audio|> leg 2 INVITE audio|leg 2 > 200 OK audio|> leg 1 200 OK audio|"
                              "leg 1 > INVITE image|> leg 2 INVITE image|leg 2 > 200 OK image|"
                              "> leg 1 200 SIP_CALL_ACTIVE image");
        EXPECT_TRUE(in_pool(f[5].port)) << f[5].port;
        EXPECT_EQ(f[5].media, "image P udptl t38");
        EXPECT_EQ(f[5].attrs, t38_offer);
        EXPECT_TRUE(in_pool(f[7].port)) << f[7].port;
        EXPECT_EQ(f[7].media, "image P udptl t38") << "an image line only";
        EXPECT_EQ(f[7].attrs, t38_answer);
    }
    {
        SCOPED_TRACE("t38_refused");
        std::vector<wire_msg> f = invite_flow(lines, "214711", port["t38_refused"], sw.w.root.sip_port);
        ASSERT_EQ(summary(f), "leg 1 > INVITE audio|> leg 2 INVITE audio|leg 2 > 200 OK audio|> leg 1 200 OK audio|"
                              "leg 1 > INVITE image|> leg 2 INVITE image|leg 2 > 200 OK audio|"
                              "> leg 1 488 Not Acceptable Here|> leg 2 INVITE audio|leg 2 > 200 OK audio");
        EXPECT_TRUE(in_pool(f[5].port)) << f[5].port;
        EXPECT_EQ(f[5].attrs, t38_offer);
        EXPECT_EQ(f[8].port, f[1].port) << "the audio port of leg 2 again";
        EXPECT_EQ(f[8].media, f[1].media);
        EXPECT_EQ(f[8].attrs, f[1].attrs);
    }
}

// Seconds of the capture and names of the NAPTR queries sent to port.
std::vector<std::pair<double, std::string>> naptr_queries(e2e_world &w, int port)
{
    sipp_captured_responses(w); // waits until the capture holds everything, then stops it
    process_result t = run_process({"tshark", "-n", "-r", w.capture_path(), "-d",
                                    "udp.port==" + std::to_string(port) + ",dns", "-Y",
                                    "dns.qry.type == 35 && dns.flags.response == 0 && udp.dstport == " +
                                        std::to_string(port),
                                    "-T", "fields", "-e", "frame.time_relative", "-e", "dns.qry.name"},
                                   "", {}, 60);
    std::vector<std::pair<double, std::string>> out;
    std::istringstream lines(t.out);
    for (std::string l; std::getline(lines, l);) {
        size_t tab = l.find('\t');
        if (tab != std::string::npos)
            out.push_back({atof(l.substr(0, tab).c_str()), l.substr(tab + 1)});
    }
    return out;
}

// ENUM before the INVITE: the NAPTR answer names the far end; a first
// search domain that never answers is left after about 1.2 s for the
// second; no answer anywhere leads to the failover proxy when 1404 is a
// failover cause, else to 404; an address longer than the call can hold
// is no answer; a call from ISDN to the same number finds the same far
// end.
TEST(SipToSip, EnumRoutesTheInvite)
{
    s2s_world sw;
    E2E_REQUIRE(sw.w);
    const std::string long_address = "!^.*$!sip:" + std::string(180, 'u') + "@127.0.0.1:5094!";
    dnsmasq_runner dns({"--naptr-record=3.2.1.0.3.9.4.e164.arpa,100,10,U,E2U+sip,!^.*$!sip:info@127.0.0.1:5094!",
                        "--naptr-record=5.5.5.e164.arpa,100,10,U,E2U+sip," + long_address,
                        "--server=/dead.test/127.0.0.1#5354"},
                       sw.w.ns.hook(), sw.w.ns.hook_ctx(), sw.w.root.dir);
    ASSERT_TRUE(dns.ok()) << "dnsmasq did not start in the namespace";
    // the name server of dead.test takes queries and never answers
    e2e_child silent(sw.w, "silent_dns",
                     {"python3", "-c",
                      "import socket, time\n"
                      "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                      "s.bind(('127.0.0.1', 5354))\n"
                      "time.sleep(600)\n"});
    int backup = free_local_port(), unused = free_local_port();
    std::string groups = group("enum1", unused, "enum_support=1\nenum_search_domains=e164.arpa\n") +
                         group("enum2", unused, "enum_support=1\nenum_search_domains=dead.test,e164.arpa\n") +
                         group("enumfo", unused, "enum_support=1\nenum_search_domains=e164.arpa\n") +
                         group("enumno", unused, "enum_support=1\nenum_search_domains=e164.arpa\n") +
                         group("backup", backup);
    auto line = [](const std::string &prefix, const std::string &to_id, const std::string &options = "") {
        return row({"SIP", "SIP", "*", to_id, prefix + "(.*)", "\\1", "*", "\\0", options});
    };
    std::string dialplan = line("71", "p:enum1") + line("72", "p:enum2") +
                           line("73", "p:enumfo", "failover_proxy=p:backup,failover_causes=1404") +
                           line("74", "p:enumno") + line("75", "p:enumno") +
                           row({"ISDN", "SIP", "1", "p:enum1", "76(.*)", "\\1", "*", "\\0", ""});
    // a PBX terminal on ISDN port 1 dials the same number
    e2e_isdn_ports isdn(sw.w, "[pbx]\nports=1\n", {{1, "nt"}});
    std::vector<std::string> env = dns.env();
    for (const std::string &e : isdn.env())
        env.push_back(e);
    ASSERT_TRUE(sw.start(groups, dialplan, "[general]\nexperimental_options = nco=16\n", env)) << sw.w.tarn_err();

    {
        SCOPED_TRACE("first domain");
        e2e_child uas(sw.w, "enum1", sw.uas_args("enum1", "uas_answer.xml", 5094));
        ASSERT_TRUE(sw.listening(5094));
        EXPECT_TRUE(sipp_ok(sw.uac("uac_call.xml", "714930123")));
        EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << sw.messages("enum1");
        EXPECT_TRUE(has(sw.messages("enum1"), "INVITE sip:info@127.0.0.1:5094")) << sw.messages("enum1");
    }
    {
        SCOPED_TRACE("second domain after a time-out");
        e2e_child uas(sw.w, "enum2", sw.uas_args("enum2", "uas_answer.xml", 5094));
        ASSERT_TRUE(sw.listening(5094));
        EXPECT_TRUE(sipp_ok(sw.uac("uac_call.xml", "724930123")));
        EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << sw.messages("enum2");
        EXPECT_TRUE(has(sw.w.tarn_out(), "request timed out on search domain |dead.test|"));
    }
    {
        SCOPED_TRACE("no answer, failover proxy");
        e2e_child uas(sw.w, "backup", sw.uas_args("backup", "uas_answer.xml", backup));
        ASSERT_TRUE(sw.listening(backup));
        EXPECT_TRUE(sipp_ok(sw.uac("uac_call.xml", "73999")));
        EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << sw.messages("backup");
        EXPECT_TRUE(has(sw.w.tarn_out(), "trying failover proxy |p:backup|"));
    }
    {
        SCOPED_TRACE("no answer, refused; an address too long is no answer");
        EXPECT_TRUE(sipp_ok(sw.uac("uac_refused.xml", "74999")));
        EXPECT_TRUE(sipp_ok(sw.uac("uac_refused.xml", "75555")));
    }
    {
        SCOPED_TRACE("a call from ISDN");
        e2e_child uas(sw.w, "enum_isdn", sw.uas_args("enum_isdn", "uas_answer.xml", 5094));
        ASSERT_TRUE(sw.listening(5094));
        e2e_child peer(sw.w, "peer", isdn.peer_argv(1, {"dial 764930123 4711", "wait answer 30", "sleep 300",
                                                         "hangup", "wait hangup 30"}));
        EXPECT_TRUE(peer.wait("SCRIPT DONE", 60000)) << peer.text();
        EXPECT_EQ(uas.wait_exit(30000), 0) << uas.text() << sw.messages("enum_isdn");
        EXPECT_TRUE(has(sw.messages("enum_isdn"), "INVITE sip:info@127.0.0.1:5094")) << sw.messages("enum_isdn");
    }
    EXPECT_EQ(sipp_stop_tarn(sw.w), "");

    // both queries of the second call, in order, the second about 1.2 s
    // after the first
    std::vector<std::pair<double, std::string>> q = naptr_queries(sw.w, dns.port());
    std::vector<std::string> names;
    for (auto &e : q)
        names.push_back(e.second);
    std::vector<std::string> want = {"3.2.1.0.3.9.4.e164.arpa", "3.2.1.0.3.9.4.dead.test",
                                     "3.2.1.0.3.9.4.e164.arpa", "9.9.9.e164.arpa", "9.9.9.e164.arpa",
                                     "5.5.5.e164.arpa", "3.2.1.0.3.9.4.e164.arpa"};
    ASSERT_EQ(names, want);
    double gap = q[2].first - q[1].first;
    EXPECT_GE(gap, 1.1);
    EXPECT_LE(gap, 3.0);
    std::string out = sw.w.tarn_out();
    EXPECT_FALSE(has(out, "S SEND: NUA_I_INVITE to sip:" + std::string(20, 'u'))) << "no INVITE to a cut address";
}

} // namespace
