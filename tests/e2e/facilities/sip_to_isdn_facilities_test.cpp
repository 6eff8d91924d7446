// ISDN facilities on calls from SIP: a deflection request of the called
// ISDN party (q931peer as user on the gateway's NT port) answered with a
// 302 toward SIP, handed back to the SIP side as a new call with a Diversion
// header, or refused with a ReturnError when the line does not allow
// deflection; advice of charge from the network (q931peer as network on the
// gateway's TE port) passed to SIP by INFO, or not with
// sip_info_on_facility off; a silent in-call feature code dialled by SIP
// INFO that sends the malicious-call identification; fax and dial tones of
// the media processor that re-INVITE the SIP side to T.38 and back to
// G.711. The SIP caller is sipp.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "isdn_calls.h"
#include "json_value.h"
#include "mspsim_runner.h"
#include "run_process.h"
#include "sipp_case.h"

namespace {

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

std::string scenario(const std::string &name)
{
    return std::string(TARN_SOURCE_DIR) + "/tests/e2e/facilities/" + name;
}

// The requests of method received in a sipp message trace, each whole.
std::vector<std::string> received(const std::string &trace, const std::string &method)
{
    std::vector<std::string> out;
    const std::string mark = "\n" + method + " sip:";
    for (size_t at = trace.find(mark); at != std::string::npos; at = trace.find(mark, at + 1)) {
        size_t end = trace.find("\n----------", at);
        out.push_back(trace.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1));
    }
    return out;
}

struct facility_world {
    e2e_world w;
    std::unique_ptr<e2e_isdn_ports> isdn;
    int uac_port = 0;
    // group "pbx": the SIP side at 127.0.0.2 whose calls a deflection hands
    // back to it (its far end listens on uas_port)
    int uas_port = 0;

    // general: the [general] lines of tarn.conf.
    bool start(const std::string &general = "")
    {
        if (!w.ok())
            return false;
        // port 1: the gateway is the network toward a called user; port 2:
        // the gateway is a user of the network that charges
        isdn = std::make_unique<e2e_isdn_ports>(w, "[nt]\nports=1\n[te]\nports=2\n",
                                                std::vector<e2e_isdn_port>{{1, "nt"}, {2, "te"}});
        auto line = [](const std::string &from, const std::string &to, const std::string &pattern,
                       const std::string &config) {
            return "SIP\tISDN\t" + from + "\t" + to + "\t" + pattern + "\t\\0\t*\t\\0\t" + config + "\n";
        };
        w.root.write("usr/conf/tarn.dialplan",
                     line("*", "1", "51.*", "cd=1,call_forwarding_mode=0,sip_302_contact_url=gw.test:5070") +
                         line("*", "1", "52.*", "cd=0") +
                         line("p:pbx", "1", "53.*",
                              "cd=1,call_forwarding_mode=diversion,sip_302_contact_url=gw.test:5070") +
                         line("*", "2", "61.*", "aoc_on_sip=AOC-Header|X-ClientCode,sip_info_on_facility=1") +
                         line("*", "2", "62.*", "aoc_on_sip=AOC-Header|X-ClientCode,sip_info_on_facility=0") +
                         line("*", "2", "71.*",
                              "feature_codes=b:*99#:mcid,feature_codes_silent=1,rfc2833_dtmf_passthrough=0,"
                              "dtmfinterval=300") +
                         line("p:pbx", "1", "81.*", "t38=1"));
        uac_port = free_local_port();
        uas_port = free_local_port();
        w.root.write("usr/conf/tarn.sip", w.root.default_sip() +
                                              "[pbx]\nsip_stack=localhost\nsip_proxy=127.0.0.2:" +
                                              std::to_string(uas_port) + "\n");
        if (!general.empty())
            w.root.write("usr/conf/tarn.conf", "[general]\n" + general);
        return w.start_tarn({"-o", "-l", "9"}, isdn->env());
    }
    // sipp calling number with scenario name (a file of this folder or an
    // absolute path) from addr, to its end.
    std::vector<std::string> caller(const std::string &name, const std::string &number,
                                    const std::string &addr = "127.0.0.1")
    {
        std::string file = name[0] == '/' ? name : scenario(name);
        return {"sipp", "-sf", file, "-s", number, "-m", "1", "-i", addr, "-p", std::to_string(uac_port),
                "-timeout", "90s", "-timeout_error", "-nostdin", "-trace_msg", "-message_file",
                w.root.path(number + ".msg"), "127.0.0.1:" + std::to_string(w.root.sip_port)};
    }
    process_result call(const std::string &name, const std::string &number, const std::string &addr = "127.0.0.1")
    {
        return w.ns.run(caller(name, number, addr), "", {}, 120);
    }
};

// The Q.932 operations of a D-channel trace that pass filter: invoke id and
// operation (or error value) per line.
std::string rose(const std::string &trace, const std::string &filter)
{
    process_result t = run_process(
        {"bash", "-c",
         "text2pcap -q -D -t '%H:%M:%S.%f' -l 203 '" + trace + "' '" + trace + ".pcap' >/dev/null 2>&1 && " +
             "tshark -n -r '" + trace + ".pcap' -Y '" + filter + "' -T fields -e q932.ros.invokeId -e q932.ros.local"},
        "", {}, 60);
    return t.out;
}

// The gateway's NT port: a deflection request while the call rings gives
// the SIP caller a 302 to the deflected-to number at the line's contact
// address; on a line without deflection the request gets a ReturnError
// (errorValue 1, the request's invoke id) and the call goes on to its answer.
TEST(SipToIsdnFacilities, DeflectionRequestOfTheCalledUser)
{
    facility_world f;
    E2E_REQUIRE(f.w);
    ASSERT_TRUE(f.start()) << f.w.tarn_err();
    e2e_child called(f.w, "called",
                     f.isdn->peer_argv(1, {"wait ring 30", "alerting", "sleep 300", "reroute 555",
                                           "sleep 1000", "wait ring 30", "alerting", "sleep 300", "reroute 555",
                                           "sleep 1000", "answer", "wait hangup_req 30"}));
    ASSERT_TRUE(called.wait("UP", 30000)) << called.text();
    process_result r = f.call("uac_302.xml", "5101");
    EXPECT_EQ(r.status, 0) << r.out << r.err << read_text_file(f.w.root.path("5101.msg"));
    r = f.call("uac_call.xml", "5201");
    EXPECT_EQ(r.status, 0) << r.out << r.err << read_text_file(f.w.root.path("5201.msg"));
    EXPECT_TRUE(called.wait("SCRIPT DONE", 30000)) << called.text();

    // the user's requests (commands C/R 0) and the gateway's answers (C/R 1)
    const std::string &trace = f.isdn->port(1).trace;
    std::istringstream requests(rose(trace, "q932.ros.invoke_element && lapd.cr == 0"));
    std::vector<std::string> ids;
    for (std::string l; std::getline(requests, l);)
        ids.push_back(l.substr(0, l.find('\t')));
    ASSERT_EQ(ids.size(), 2u) << "two deflection requests";
    EXPECT_EQ(rose(trace, "q932.ros.returnError_element && lapd.cr == 1"), ids[1] + "\t1\n");
}

// The gateway's TE port: AOC-D in units sends an INFO with the AOC header,
// its X-ClientCode twin and the facility's X-DV_FACILITY line; in currency
// only the X-ClientCode line; with sip_info_on_facility 0 nothing.
TEST(SipToIsdnFacilities, AdviceOfChargeBySipInfo)
{
    facility_world f;
    E2E_REQUIRE(f.w);
    ASSERT_TRUE(f.start()) << f.w.tarn_err();
    e2e_child network(f.w, "network",
                      f.isdn->peer_argv(2, {"wait ring 30", "answer", "sleep 1000", "aoc-d units 5",
                                            "sleep 1000", "aoc-d currency EUR 150", "wait hangup_req 30",
                                            "wait ring 30", "answer", "sleep 500", "aoc-d units 7",
                                            "wait hangup_req 30"}));
    ASSERT_TRUE(network.wait("UP", 30000)) << network.text();
    process_result r = f.call("uac_aoc.xml", "6101");
    EXPECT_EQ(r.status, 0) << r.out << r.err << read_text_file(f.w.root.path("6101.msg"));
    r = f.call("uac_call.xml", "6201");
    EXPECT_EQ(r.status, 0) << "no INFO: " << r.out << r.err << read_text_file(f.w.root.path("6201.msg"));
    EXPECT_TRUE(network.wait("SCRIPT DONE", 30000)) << network.text();

    std::vector<std::string> infos = received(read_text_file(f.w.root.path("6101.msg")), "INFO");
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_TRUE(has(infos[0], "\nAOC: charging;state=active;charging-info=pulse;recorded-units=5;")) << infos[0];
    EXPECT_TRUE(has(infos[0], "\nX-ClientCode: charging;state=active;charging-info=pulse;recorded-units=5;"))
        << infos[0];
    EXPECT_TRUE(has(infos[0], "\nX-DV_FACILITY: ")) << infos[0];
    EXPECT_TRUE(has(infos[1], "\nX-ClientCode: charging;state=active;charging-info=currency;currency=EUR;amount=150"))
        << infos[1];
    EXPECT_FALSE(has(infos[1], "\nAOC: ")) << infos[1];
}

// ---- deflection handed back to SIP -------------------------------------------------------

// A far end that takes one INVITE, checks a header line of it (a regular
// expression) and answers 486.
std::string busy_far_end(const std::string &header, const std::string &regexp)
{
    std::string quoted;
    for (char c : regexp)
        quoted += c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<scenario name=\"busy\">\n"
           "<recv request=\"INVITE\"><action><ereg regexp=\"" + quoted + "\" search_in=\"hdr\" header=\"" + header +
           "\" check_it=\"true\" assign_to=\"seen\"/></action></recv>\n<Reference variables=\"seen\"/>\n"
           "<send><![CDATA[\n\nSIP/2.0 486 Busy Here\n[last_Via:]\n[last_From:]\n[last_To:];tag=[pid]SIPpTag01"
           "[call_number]\n[last_Call-ID:]\n[last_CSeq:]\nContent-Length: 0\n\n]]></send>\n"
           "<recv request=\"ACK\"/>\n</scenario>\n";
}

// call_forwarding_mode "diversion" on a line from group pbx: the deflection
// request hands the SIP caller's leg to a new call toward pbx, whose INVITE
// names the deflected-to number and carries the Diversion header of the
// called number; pbx's answer reaches the caller.
TEST(SipToIsdnFacilities, DeflectionHandedBackToSipWithDiversion)
{
    facility_world f;
    E2E_REQUIRE(f.w);
    ASSERT_TRUE(f.start()) << f.w.tarn_err();
    f.w.root.write("pbx.xml", busy_far_end("Diversion:", "^ *<tel:5301>;reason=unconditional;counter=1$"));
    e2e_child pbx(f.w, "pbx", e2e_sipp_uas(f.w, f.w.root.path("pbx.xml"), "127.0.0.2", f.uas_port, "pbx"));
    ASSERT_TRUE(e2e_udp_listening(f.w, "127.0.0.2", f.uas_port)) << pbx.text();
    e2e_child called(f.w, "called",
                     f.isdn->peer_argv(1, {"wait ring 30", "alerting", "sleep 300", "reroute 555", "sleep 1000"}));
    ASSERT_TRUE(called.wait("UP", 30000)) << called.text();
    process_result r = f.call("uac_486.xml", "5301", "127.0.0.2");
    EXPECT_EQ(r.status, 0) << r.out << r.err << read_text_file(f.w.root.path("5301.msg"));
    EXPECT_EQ(pbx.wait_exit(30000), 0) << pbx.text() << read_text_file(f.w.root.path("pbx.msg"));
    EXPECT_TRUE(has(read_text_file(f.w.root.path("pbx.msg")), "INVITE sip:555@"))
        << read_text_file(f.w.root.path("pbx.msg"));
}

// The same line with no call object left for the new call (a pool of one):
// the caller gets the 302 instead.
TEST(SipToIsdnFacilities, DeflectionWithoutAFreeCallObjectAnswers302)
{
    facility_world f;
    E2E_REQUIRE(f.w);
    ASSERT_TRUE(f.start("experimental_options = nco=1\n")) << f.w.tarn_err();
    e2e_child called(f.w, "called",
                     f.isdn->peer_argv(1, {"wait ring 30", "alerting", "sleep 300", "reroute 555", "sleep 1000"}));
    ASSERT_TRUE(called.wait("UP", 30000)) << called.text();
    process_result r = f.call("uac_302.xml", "5301", "127.0.0.2");
    EXPECT_EQ(r.status, 0) << r.out << r.err << read_text_file(f.w.root.path("5301.msg"));
    EXPECT_TRUE(has(f.w.tarn_out(), "CRITICAL: no call object or SIP leg for the deflected call"))
        << f.w.tarn_out();
}

// ---- in-call digits and tones ---------------------------------------------------------------

// A caller's scenario: INVITE, 200, ACK, then steps, then BYE. Each step is
// a piece of scenario; cseq numbers the caller's requests after the INVITE.
struct caller_scenario {
    std::string steps;
    int cseq = 1;

    void info(const std::string &digit)
    {
        cseq++;
        steps += "<send retrans=\"500\"><![CDATA[\n\nINFO [next_url] SIP/2.0\n"
                 "Via: SIP/2.0/[transport] [local_ip]:[local_port];branch=[branch]\nMax-Forwards: 70\n"
                 "From: \"Caller\" <sip:200@[local_ip]:[local_port]>;tag=[call_number]\n"
                 "To: <sip:[service]@[remote_ip]:[remote_port]>[peer_tag_param]\nCall-ID: [call_id]\n"
                 "CSeq: " + std::to_string(cseq) + " INFO\nContent-Type: application/dtmf-relay\n"
                 "Content-Length: [len]\n\nSignal=" + digit + "\nDuration=160\n]]></send>\n"
                 "<recv response=\"200\"/>\n";
    }
    void pause(int ms) { steps += "<pause milliseconds=\"" + std::to_string(ms) + "\"/>\n"; }
    // A re-INVITE of the gateway whose offer matches regexp, answered 200
    // with sdp (its media lines).
    void reinvite(const std::string &regexp, const std::string &sdp)
    {
        steps += "<recv request=\"INVITE\"><action><ereg regexp=\"" + regexp +
                 "\" search_in=\"body\" check_it=\"true\" assign_to=\"offer\"/></action></recv>\n"
                 "<Reference variables=\"offer\"/>\n"
                 "<send><![CDATA[\n\nSIP/2.0 200 OK\n[last_Via:]\n[last_From:]\n[last_To:]\n[last_Call-ID:]\n"
                 "[last_CSeq:]\nContact: <sip:200@[local_ip]:[local_port]>\nContent-Type: application/sdp\n"
                 "Content-Length: [len]\n\nv=0\no=caller 1 2 IN IP[local_ip_type] [local_ip]\ns=-\n"
                 "c=IN IP[media_ip_type] [media_ip]\nt=0 0\n" + sdp + "\n]]></send>\n<recv request=\"ACK\"/>\n";
    }
    std::string text() const
    {
        std::string call = read_text_file(scenario("uac_call.xml"));
        // uac_call.xml's three seconds between ACK and BYE become the steps
        const std::string hold = "  <pause milliseconds=\"3000\"/>\n";
        size_t at = call.find(hold);
        if (at == std::string::npos)
            return "";
        std::string out = call.substr(0, at) + steps + call.substr(at + hold.size());
        size_t bye = out.find("CSeq: 2 BYE");
        if (bye != std::string::npos)
            out.replace(bye, 11, "CSeq: " + std::to_string(cseq + 1) + " BYE");
        return out;
    }
};

// The DTMF digits the media processor was told to play, with the times of
// its record (seconds).
std::vector<std::pair<char, double>> played_digits(const e2e_world &w)
{
    static const struct {
        char key;
        int low, high;
    } pairs[] = {{'1', 697, 1209}, {'2', 697, 1336}, {'3', 697, 1477}, {'4', 770, 1209}, {'5', 770, 1336},
                 {'6', 770, 1477}, {'7', 852, 1209}, {'8', 852, 1336}, {'9', 852, 1477}, {'*', 941, 1209},
                 {'0', 941, 1336}, {'#', 941, 1477}};
    std::vector<std::pair<char, double>> out;
    for (const json_value &fr : w.root.msp()->frames("in")) {
        if (fr["name"].str() != "FC_VOIP_TONEGEN")
            continue;
        long long low = fr["fields"]["primary_frequency_c1"].num(), high = fr["fields"]["secondary_frequency_c1"].num();
        for (const auto &p : pairs)
            if (p.low == low && p.high == high)
                out.push_back({p.key, fr["t"].real()});
    }
    return out;
}

// Silent feature code *99# (either party, MCID; dtmfinterval 300 ms; silent
// codes need rfc2833_dtmf_passthrough off) on a call toward the network: INFO digits *, 9, 9, # send the malicious-call
// identification request (a FACILITY invoking operation 3; the network
// refuses it with notIncomingCall, the call being the gateway's own) and play
// nothing on the line; *, 9, 5 play *95 300 ms apart; 1 plays at once, then
// a held *9 plays when its two seconds have passed.
TEST(SipToIsdnFacilities, SilentFeatureCodeByInfoDigits)
{
    facility_world f;
    E2E_REQUIRE(f.w);
    ASSERT_TRUE(f.start()) << f.w.tarn_err();
    e2e_child network(f.w, "network", f.isdn->peer_argv(2, {"wait ring 30", "answer", "wait hangup_req 90"}));
    ASSERT_TRUE(network.wait("UP", 30000)) << network.text();
    caller_scenario c;
    for (const char *d : {"*", "9", "9", "#"})
        c.info(d);
    c.pause(500);
    for (const char *d : {"*", "9", "5"})
        c.info(d);
    c.pause(1500);
    for (const char *d : {"1", "*", "9"})
        c.info(d);
    c.pause(4000);
    f.w.root.write("codes.xml", c.text());
    process_result r = f.call(f.w.root.path("codes.xml"), "7101");
    EXPECT_EQ(r.status, 0) << r.out << r.err << read_text_file(f.w.root.path("7101.msg"));
    EXPECT_TRUE(network.wait("SCRIPT DONE", 30000)) << network.text();

    // the gateway's requests (a user's commands: C/R 0)
    std::string invokes = rose(f.isdn->port(2).trace, "q932.ros.invoke_element && lapd.cr == 0");
    EXPECT_EQ(invokes.substr(invokes.find('\t') + 1), "3\n") << invokes;
    std::vector<std::pair<char, double>> digits = played_digits(f.w);
    std::string keys;
    for (const auto &d : digits)
        keys += d.first;
    ASSERT_EQ(keys, "*951*9");
    // The play-out timer ticks every 300 ms once it runs: *95 spans two
    // ticks; the held *9 waits two seconds from the last 9 (the 1 before it
    // played at a tick up to 300 ms late). Bounds from below only, with room
    // for the media queue of a loaded machine.
    EXPECT_GE(digits[2].second - digits[0].second, 0.45) << "*95 spaced by the interval";
    EXPECT_GE(digits[4].second - digits[3].second, 1.5) << "the held *9 waits its two seconds";
}

// The channel the media processor has open whose type is not skip_type (-1:
// any), waited for; -1 when there is none. *type is set to its type.
int msp_channel(const e2e_world &w, long long skip_type, long long *type)
{
    int channel = -1;
    e2e_world::wait_for(
        [&] {
            json_value st = w.root.msp()->request(R"({"cmd": "state"})");
            for (const auto &ch : st["channels"].o)
                if (ch.second["type"].num() != skip_type) {
                    channel = std::stoi(ch.first);
                    *type = ch.second["type"].num();
                }
            return channel >= 0;
        },
        20000);
    return channel;
}

int count(const std::string &text, const std::string &part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

// t38 on an answered call toward ISDN: a fax calling tone of the media
// processor re-INVITEs the caller with the T.38 offer (the line's maximum
// rate, the Contact of the caller's group); a second tone sends nothing; a
// dial tone event (console "rig") re-INVITEs back to G.711 A-law.
TEST(SipToIsdnFacilities, FaxToneReinvitesToT38AndBack)
{
    facility_world f;
    E2E_REQUIRE(f.w);
    ASSERT_TRUE(f.start()) << f.w.tarn_err();
    e2e_child called(f.w, "called", f.isdn->peer_argv(1, {"wait ring 30", "answer", "wait hangup_req 90"}));
    ASSERT_TRUE(called.wait("UP", 30000)) << called.text();
    caller_scenario c;
    c.reinvite("m=image [0-9]+ udptl t38", "m=image 40000 udptl t38\na=T38FaxVersion:0\na=T38MaxBitRate:14400");
    c.reinvite("m=audio [0-9]+ RTP/AVP 8", "m=audio [media_port] RTP/AVP 8\na=rtpmap:8 PCMA/8000");
    c.pause(500);
    f.w.root.write("fax.xml", c.text());
    const std::string trace = f.w.root.path("8101.msg");
    e2e_child caller(f.w, "caller", f.caller(f.w.root.path("fax.xml"), "8101", "127.0.0.2"));
    auto sipp_saw = [&](const std::string &part, int n) {
        return e2e_world::wait_for([&] { return count(read_text_file(trace), part) >= n; }, 30000);
    };
    ASSERT_TRUE(sipp_saw("\nACK sip:", 1)) << read_text_file(trace);
    long long voice = -1, fax = -1;
    int channel = msp_channel(f.w, -1, &voice);
    ASSERT_GE(channel, 0);
    auto tone = [&](int value) {
        f.w.root.msp()->request(R"({"cmd": "indicate", "fc": "FC_VOIP_TONEDET", "channel": )" +
                                std::to_string(channel) + R"(, "fields": {"tone_detect_value": )" +
                                std::to_string(value) + "}}");
    };
    // The daemon may not know a new channel yet: the tone goes again until
    // the call has seen n of them.
    auto seen = [&](const std::string &line) { return count(f.w.tarn_out(), line); };
    auto cng = [&](int n) {
        for (int i = 0; i < 10 && seen("TONE DETECT 0x20") < n; i++) {
            tone(32);
            e2e_world::wait_for([&] { return seen("TONE DETECT 0x20") >= n; }, 5000);
        }
        return seen("TONE DETECT 0x20") >= n;
    };
    ASSERT_TRUE(cng(1)) << f.w.tarn_out();
    // the caller's ACK and the gateway's; the T.38 channel takes the line
    ASSERT_TRUE(sipp_saw("\nACK sip:", 2)) << read_text_file(trace);
    channel = msp_channel(f.w, voice, &fax);
    ASSERT_GE(channel, 0);
    ASSERT_TRUE(cng(2)) << f.w.tarn_out();
    // its end, reported after it, tells that it has been dealt with
    tone(255);
    ASSERT_TRUE(e2e_world::wait_for([&] { return seen("TONE DETECT 0xff") >= 1; }, E2E_WAIT_MS)) << f.w.tarn_out();
    // the call's object: the only one taken so far
    std::string out = f.w.tarn_out();
    const std::string taken = "free op handle at index ";
    size_t at = out.rfind(taken);
    ASSERT_NE(at, std::string::npos) << out;
    f.w.console("rig " + std::to_string(atoi(out.c_str() + at + taken.size())));
    EXPECT_EQ(caller.wait_exit(60000), 0) << caller.text() << read_text_file(trace);

    // the gateway's re-INVITEs (toward the caller's user)
    std::vector<std::string> offers = sipp_captured_sip(f.w, "sip.Method == \"INVITE\" && sip.to.user == \"200\"",
                                                        {"sdp.media", "sdp.media_attr", "sip.Contact"});
    ASSERT_EQ(offers.size(), 2u);
    for (std::string &o : offers) {
        // the media port as "P"
        size_t port = o.find(' ') + 1;
        o.replace(port, o.find(' ', port) - port, "P");
    }
    const std::string contact = "sip:127.0.0.1:" + std::to_string(f.w.root.sip_port);
    EXPECT_EQ(offers[0].substr(0, offers[0].rfind('\t')),
              "image P udptl t38\tT38FaxVersion:0,T38MaxBitRate:14400,T38FaxRateManagement:transferredTCF,"
              "T38FaxMaxBuffer:200,T38FaxMaxDatagram:200,T38FaxUdpEC:t38UDPRedundancy")
        << offers[0];
    EXPECT_NE(offers[0].find(contact), std::string::npos) << offers[0];
    EXPECT_EQ(offers[1].substr(0, offers[1].rfind('\t')), "audio P RTP/AVP 8\trtpmap:8 PCMA/8000") << offers[1];
}

} // namespace
