// Calls through the daemon's analog ports against analogsim, the media
// processor simulator and sipp: a telephone on an FXS port dials a SIP
// peer and hangs up, a SIP call rings the telephone with its caller id and
// is answered and cleared, an FXO group whose line is down refuses SIP
// calls (486 or 302), an exchange line that rings after its caller id
// reaches SIP, and a SIP call dialled out on an FXO line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "linesim_client.h"
#include "mspsim_runner.h"
#include "sipp_case.h"

namespace {

std::string row(const std::vector<std::string> &f)
{
    std::string s;
    for (size_t i = 0; i < f.size(); i++)
        s += (i ? "\t" : "") + f[i];
    return s + "\n";
}

std::string read_all(const std::string &path)
{
    return read_text_file(path);
}

// The daemon with analog ports of analogsim, a SIP group "uas" at
// 127.0.0.2:5060 on the localhost stack and the dial plan given.
struct analog_world {
    analog_world(const std::string &dialplan, const std::string &analog_conf, const std::vector<std::string> &ports,
                 const std::string &experimental = "")
        : w(options())
    {
        if (!w.ok())
            return;
        sipp_write_config(w, "usr/conf/tarn.sip",
                          "[general]\nsip_bindport_localhost = @SIP_PORT@\n"
                          "[uas]\nsip_stack=localhost\nsip_proxy=127.0.0.2\nuser=gw\n");
        w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv2FXS\n");
        w.root.write("usr/conf/tarn.tdm", "timeslot 0 101 1 8\ntimeslot 0 102 1 9\ntimeslot 0 103 1 10\n");
        w.root.write("usr/conf/tarn.analog", analog_conf);
        w.root.write("usr/conf/tarn.tones", "[general]\ncountry=de\n[de]\ndial=425\nring=425/1000,0/4000\n"
                                            "busy=425/480,0/480\ncongestion=425/240,0/240\n");
        w.root.write("usr/conf/tarn.dialplan", dialplan);
        if (!experimental.empty())
            w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options=" + experimental + "\n");
        sim.reset(new linesim("sim/analogsim/analogsim.py", w.root.dir, ports));
    }
    static e2e_options options()
    {
        e2e_options o = sipp_world_options();
        return o;
    }
    bool start() { return sim && sim->running() && sipp_start_tarn(w); }

    // A sipp UAS on 127.0.0.2:5060 for one call, in the background.
    void start_uas()
    {
        std::string log = w.root.path("uas.log");
        std::vector<std::string> argv = {"sipp", "-sn", "uas", "-i", "127.0.0.2", "-p", "5060", "-m", "1",
                                         "-timeout", "60s", "-nostdin", "-trace_msg", "-message_file", log};
        uas = std::async(std::launch::async, [this, argv] { return w.ns.run(argv, "", {}, 90); });
    }
    std::string uas_log() const { return read_all(w.root.path("uas.log")); }
    bool uas_saw(const std::string &text, int ms = 30000) const
    {
        return e2e_world::wait_for([&] { return uas_log().find(text) != std::string::npos; }, ms);
    }

    // A sipp UAC calling service to at the localhost stack: INVITE, 200,
    // ACK, hold_ms, BYE.
    void start_uac(const std::string &to, int hold_ms)
    {
        std::string log = w.root.path("uac.log");
        std::string scenario = std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip/analog_uac.xml";
        std::vector<std::string> argv = {"sipp", "-sf", scenario, "-s", to, "-i", "127.0.0.1", "-p", "5070", "-m", "1",
                                         "-d", std::to_string(hold_ms), "-timeout", "60s", "-nostdin", "-trace_msg",
                                         "-message_file", log, "127.0.0.1:" + std::to_string(w.root.sip_port)};
        uac = std::async(std::launch::async, [this, argv] { return w.ns.run(argv, "", {}, 90); });
    }
    std::string uac_log() const { return read_all(w.root.path("uac.log")); }

    // The frames the daemon sent to the media processor with this name.
    std::vector<json_value> msp_in(const std::string &name) const
    {
        std::vector<json_value> out;
        for (const json_value &f : w.root.msp()->frames("in"))
            if (f["name"].str() == name)
                out.push_back(f);
        return out;
    }
    bool msp_saw(const std::string &name, size_t n = 1, int ms = 20000) const
    {
        return e2e_world::wait_for([&] { return msp_in(name).size() >= n; }, ms);
    }
    // A tone detected on the TDM side of a channel.
    bool tone(long long channel, int value)
    {
        json_value r = w.root.msp()->request(R"({"cmd": "indicate", "fc": "FC_VOIP_TONEDET", "channel": )" +
                                             std::to_string(channel) + R"(, "fields": {"tone_detect_value": )" +
                                             std::to_string(value) + "}}");
        return r["ok"].b;
    }

    e2e_world w;
    std::unique_ptr<linesim> sim;
    std::future<process_result> uas, uac;
};

// The bytes of a frame's record.
std::vector<unsigned> frame_bytes(const json_value &f)
{
    std::vector<unsigned> out;
    const std::string &hex = f["hex"].str();
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back((unsigned)strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

// An on-hook caller-id message (byte 9 the message type, its parameters
// from byte 10): type and parameters {type -> text}.
struct fsk_message {
    int type = -1;
    std::vector<std::pair<int, std::string>> params;
};

fsk_message decode_fsk(const std::vector<unsigned> &b)
{
    fsk_message m;
    if (b.size() < 10)
        return m;
    size_t len = b[4] | (b[5] << 8); // the frame's length in its header
    if (len > b.size() || len < 10)
        len = b.size();
    m.type = (int)b[9];
    for (size_t at = 10; at + 2 <= len;) {
        int type = (int)b[at], n = (int)b[at + 1];
        if (at + 2 + n > len)
            break;
        std::string text;
        for (int i = 0; i < n; i++)
            text += (char)b[at + 2 + i];
        m.params.push_back({type, text});
        at += 2 + n;
    }
    return m;
}

const char *const fxs_conf = "[phones]\nports=1\ntones=[de]\ncomplete_dialing_on_pound_or_star=yes\n"
                             "dialtone_digits=1\ninterdigit_timeout=3\ninterdigit_timeout_initial=20\n"
                             "clip=201\ncnip=Hall\n";

// The telephone lifts its handset and dials 4, 2, #: the INVITE for "42"
// goes out at once; the answer reaches the line, the handset going down
// sends BYE.
TEST(AnalogCalls, FxsDialsSipAndHangsUp)
{
    analog_world a(row({"ANALOG", "SIP", "1", "p:uas", "42", "\\0", "*", "\\0", ""}), fxs_conf,
                   {"--port", "1:type=FXS"});
    E2E_REQUIRE(a.w);
    ASSERT_TRUE(a.start()) << a.w.tarn_err();
    a.start_uas();
    ASSERT_TRUE(a.sim->request({"hook", "1", "off"}));
    ASSERT_TRUE(a.msp_saw("FC_VOIP_TONEGEN")) << a.w.tarn_out();
    long long channel = a.msp_in("FC_VOIP_TONEGEN")[0]["channel"].num();
    size_t toneoffs = a.msp_in("FC_VOIP_TONEOFF").size();
    ASSERT_TRUE(a.tone(channel, 4));
    // one digit more than dialtone_digits stops the dial tone
    ASSERT_TRUE(a.tone(channel, 2));
    EXPECT_TRUE(a.msp_saw("FC_VOIP_TONEOFF", toneoffs + 1)) << a.w.tarn_out();
    ASSERT_TRUE(a.tone(channel, 11));
    ASSERT_TRUE(a.uas_saw("INVITE sip:42@")) << a.w.tarn_out();
    EXPECT_TRUE(std::regex_search(a.uas_log(), std::regex("From: .*<sip:201@"))) << a.uas_log();
    // sipp's 200: the line goes off hook
    EXPECT_NE(a.sim->expect("1", "^offhook$", 20000).t, -1) << a.w.tarn_out();
    EXPECT_TRUE(a.w.wait_out("A OFFHOOK|REQUEST|CID=")) << a.w.tarn_out();
    ASSERT_TRUE(a.sim->request({"hook", "1", "on"}));
    EXPECT_TRUE(a.uas_saw("BYE sip:")) << a.w.tarn_out();
    process_result r = a.uas.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(a.w.wait_out("calling reset_op for", 10000));
    EXPECT_EQ(sipp_stop_tarn(a.w), "");
}

// Without "#" the INVITE follows the interdigit time-out.
TEST(AnalogCalls, FxsDialsWithoutEndMark)
{
    analog_world a(row({"ANALOG", "SIP", "1", "p:uas", "42", "\\0", "*", "\\0", ""}), fxs_conf,
                   {"--port", "1:type=FXS"});
    E2E_REQUIRE(a.w);
    ASSERT_TRUE(a.start()) << a.w.tarn_err();
    a.start_uas();
    ASSERT_TRUE(a.sim->request({"hook", "1", "off"}));
    ASSERT_TRUE(a.msp_saw("FC_VOIP_TONEGEN")) << a.w.tarn_out();
    long long channel = a.msp_in("FC_VOIP_TONEGEN")[0]["channel"].num();
    ASSERT_TRUE(a.tone(channel, 4));
    ASSERT_TRUE(a.tone(channel, 2));
    auto dialled = std::chrono::steady_clock::now();
    ASSERT_TRUE(a.uas_saw("INVITE sip:42@")) << a.w.tarn_out();
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - dialled).count();
    EXPECT_GE(waited, 2.0); // interdigit_timeout 3 s
    ASSERT_TRUE(a.sim->request({"hook", "1", "on"}));
    EXPECT_TRUE(a.uas_saw("BYE sip:")) << a.w.tarn_out();
    a.uas.get();
    EXPECT_EQ(sipp_stop_tarn(a.w), "");
}

// A SIP call rings the telephone, its caller id goes out as one on-hook
// message, the set answers and the caller's BYE plays the hang-up tone.
TEST(AnalogCalls, SipCallRingsTheTelephone)
{
    analog_world a(row({"SIP", "ANALOG", "*", "1", "200", "\\0", "*", "\\0", "analog_display_setting=${from_display}"}),
                   fxs_conf,
                   {"--port", "1:type=FXS,answer_after=1800"});
    E2E_REQUIRE(a.w);
    ASSERT_TRUE(a.start()) << a.w.tarn_err();
    a.start_uac("200", 1000);
    EXPECT_NE(a.sim->expect("1", "^ringing$", 20000).t, -1) << a.w.tarn_out();
    ASSERT_TRUE(a.msp_saw("FC_CND_ONHOOK_GEN")) << a.w.tarn_out();
    fsk_message m = decode_fsk(frame_bytes(a.msp_in("FC_CND_ONHOOK_GEN")[0]));
    EXPECT_EQ(m.type, 128);
    ASSERT_EQ(m.params.size(), 3u);
    EXPECT_EQ(m.params[0].first, 1);
    EXPECT_EQ(m.params[0].second.size(), 8u); // month, day, hour, minute
    EXPECT_EQ(m.params[1].first, 2);
    EXPECT_EQ(m.params[1].second, "0301234");
    EXPECT_EQ(m.params[2].first, 7);
    EXPECT_EQ(m.params[2].second, "Anna");
    process_result r = a.uac.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err << a.w.tarn_out();
    EXPECT_TRUE(a.msp_saw("FC_VOIP_PROGRAM_TONE_ENGINE")) << "the hang-up tone after the caller's BYE\n" << a.w.tarn_out();
    ASSERT_TRUE(a.sim->request({"hook", "1", "on"}));
    EXPECT_TRUE(a.w.wait_out("calling reset_op for", 10000));
    EXPECT_EQ(sipp_stop_tarn(a.w), "");
}

} // namespace
