// Calls through T1/E1 CAS channels in the whole daemon: cassim plays the
// line's far end (a telephone set, an exchange, an MFC/R2 exchange), mspsim
// the media processor (and the far MFC/R2 register), sipp the SIP side.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "linesim_client.h"
#include "sipp_case.h"

namespace {

std::string scenario(const std::string &name)
{
    return std::string(TARN_SOURCE_DIR) + "/tests/e2e/cas/" + name;
}

std::string row(const std::vector<std::string> &f)
{
    std::string s;
    for (size_t i = 0; i < f.size(); i++)
        s += (i ? "\t" : "") + f[i];
    return s + "\n";
}

// Everything sipp's message traces of the world hold.
std::string sipp_messages(const e2e_world &w)
{
    std::string all;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(w.root.path("sipp"), ec))
        all += read_text_file(e.path().string());
    return all;
}

int count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        n++;
    return n;
}

// The daemon with one T1 (or E1) line of CAS channels, channel 1 played by
// cassim, a SIP group "uas" at 127.0.0.2:5060 on the localhost stack and the
// dial plan given.
struct cas_world {
    cas_world(const std::string &protocol, const std::string &cas_conf, const std::string &channel_role,
              const std::string &dialplan)
        : w(options())
    {
        if (!w.ok())
            return;
        sipp_write_config(w, "usr/conf/tarn.sip",
                          "[general]\nsip_bindport_localhost = @SIP_PORT@\n"
                          "[uas]\nsip_stack=localhost\nsip_proxy=127.0.0.2\nuser=gw\n");
        w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv2S0\n[lif1]\ntype=dv2t1e1\ninterface_type=cas,cas\n"
                                               "protocol=" + protocol + "," + protocol + "\n");
        w.root.write("usr/conf/tarn.cas", cas_conf);
        w.root.write("usr/conf/tarn.tdm", "timeslot 1 1001 1 0\n"); // channel 1 on bus 1
        w.root.write("usr/conf/tarn.dialplan", dialplan);
        sim.reset(new linesim("sim/cassim/cassim.py", w.root.dir,
                              {"--channel", "0/1:" + channel_role, "--connected", "1:0"}, "cassim"));
    }
    static e2e_options options()
    {
        e2e_options o = sipp_world_options();
        o.capture_filter = "udp port 5060 or udp port @SIP_PORT@";
        return o;
    }
    bool start() { return sim && sim->running() && sipp_start_tarn(w); }
    // A sipp UAS on 127.0.0.2:5060 for one call in the background.
    void start_uas(const std::string &name = "")
    {
        std::string log = w.root.path("uas.log");
        std::vector<std::string> argv = {"sipp", "-i", "127.0.0.2", "-p", "5060", "-m", "1", "-timeout", "45s",
                                         "-nostdin", "-trace_msg", "-message_file", log};
        if (name.empty())
            argv.insert(argv.begin() + 1, {"-sn", "uas"});
        else
            argv.insert(argv.begin() + 1, {"-sf", scenario(name)});
        uas = std::async(std::launch::async, [this, argv] { return w.ns.run(argv, "", {}, 60); });
        // listening before the line starts the call
        e2e_udp_listening(w, "127.0.0.2", 5060);
    }
    std::string uas_log() const { return read_text_file(w.root.path("uas.log")); }
    bool uas_saw(const std::string &text, int ms = 20000) const
    {
        return e2e_world::wait_for([&] { return uas_log().find(text) != std::string::npos; }, ms);
    }
    // The patterns the gateway wrote on channel 1 after the one at index from.
    std::vector<sim_record> patterns() { return sim->records("0/1"); }
    // The commands of a kind the daemon sent the media processor.
    std::vector<json_value> msp_in(const std::string &name)
    {
        std::vector<json_value> out;
        for (const json_value &f : w.root.msp()->frames("in"))
            if (f["name"].str() == name)
                out.push_back(f);
        return out;
    }
    e2e_world w;
    std::unique_ptr<linesim> sim;
    std::future<process_result> uas;
};

const std::string fxs_conf = "[t1]\nports=1\nt1_signalling=fxs_ks\ntones=us\ninterdigit_timeout=1\n"
                             "interdigit_timeout_initial=10\n";
const std::string fxo_conf = "[t1]\nports=1\nt1_signalling=fxo_ks\ntones=us\nfxo_wait_for_oad=dontwait\n";

// A SIP call to a telephone set on an FXS-KS channel: the line rings in the
// 2 s on, 4 s off cadence, the caller id goes out once, the set's off-hook
// answers the call, the caller's BYE clears it.
TEST(CasCalls, SipCallRingsAnFxsSetThatAnswers)
{
    cas_world c("t1", fxs_conf, "role=t1set,rings=2",
                row({"SIP", "CAS", "*", "G:t1", "9.*", "\\0", "*", "\\0", ""}));
    E2E_REQUIRE(c.w);
    ASSERT_TRUE(c.start()) << c.w.tarn_err();
    ASSERT_NE(c.sim->expect("0/1", "^0101$", 10000).t, -1) << c.sim->transcript(); // on hook at start
    process_result r = sipp_run(c.w, {scenario("uac_call.xml"), 1, "127.0.0.1", {"-s", "9123"}});
    EXPECT_TRUE(sipp_ok(r)) << c.sim->transcript();

    std::vector<sim_record> p = c.patterns();
    // 0101 (start), 0000, 0101 2 s later, 0000 4 s after that.
    ASSERT_GE(p.size(), 4u) << c.sim->transcript();
    size_t ring = 1;
    while (ring < p.size() && p[ring].text != "0000")
        ring++;
    ASSERT_LE(ring + 2, p.size() - 1) << c.sim->transcript();
    // A loaded machine makes an edge late, never early by much: the window
    // reaches further up than down and still tells 2 s on from 4 s off.
    auto cadence_step = [&](double dt, double want) {
        EXPECT_GE(dt, want - 0.5) << c.sim->transcript();
        EXPECT_LE(dt, want + 1.0) << c.sim->transcript();
    };
    EXPECT_EQ(p[ring + 1].text, "0101");
    cadence_step(p[ring + 1].t - p[ring].t, 2.0);
    EXPECT_EQ(p[ring + 2].text, "0000");
    cadence_step(p[ring + 2].t - p[ring + 1].t, 4.0);
    EXPECT_EQ(c.msp_in("FC_CND_ONHOOK_GEN").size(), 1u);
    std::vector<std::string> answers = sipp_captured_responses(c.w);
    EXPECT_NE(std::find(answers.begin(), answers.end(), "180 INVITE"), answers.end());
    EXPECT_NE(std::find(answers.begin(), answers.end(), "200 INVITE"), answers.end());
    EXPECT_NE(std::find(answers.begin(), answers.end(), "200 BYE"), answers.end());
    EXPECT_EQ(sipp_stop_tarn(c.w), "");
}

// No free channel: 486 "Busy Here" without a Reason header; a row of the
// cause map for internal cause 914 changes the answer.
TEST(CasCalls, NoFreeChannelIsBusyHereOrWhatTheCauseMapSays)
{
    for (bool mapped : {false, true}) {
        SCOPED_TRACE(mapped ? "cause map row" : "default");
        cas_world c("t1", fxs_conf, "role=t1set",
                    row({"SIP", "CAS", "*", "G:nogroup", "9.*", "\\0", "*", "\\0", ""}));
        E2E_REQUIRE(c.w);
        if (mapped)
            c.w.root.write("usr/conf/tarn.causes", "SIP\tTARN\t914\t503\tService Unavailable\n");
        ASSERT_TRUE(c.start()) << c.w.tarn_err();
        process_result r = sipp_run(c.w, {scenario("uac_refused.xml"), 1, "127.0.0.1",
                                          {"-s", "9123", "-rtt_freq", "1"}});
        std::vector<std::string> answers = sipp_captured_responses(c.w);
        if (!mapped) {
            EXPECT_TRUE(sipp_ok(r));
            EXPECT_NE(std::find(answers.begin(), answers.end(), "486 INVITE"), answers.end());
            std::string msgs = sipp_messages(c.w);
            EXPECT_NE(msgs.find("SIP/2.0 486 Busy Here"), std::string::npos) << msgs;
            EXPECT_EQ(msgs.find("Reason:"), std::string::npos) << msgs;
        } else {
            EXPECT_NE(std::find(answers.begin(), answers.end(), "503 INVITE"), answers.end());
        }
        EXPECT_EQ(sipp_stop_tarn(c.w), "");
    }
}

// An exchange rings an FXO-KS channel: the call goes out to the SIP UAS,
// whose 200 answers the line ("1111") and stops the ringing; the exchange's
// clear ends the call with a BYE.
TEST(CasCalls, ExchangeRingsAnFxoChannelAndTheUasAnswers)
{
    cas_world c("t1", fxo_conf, "role=exchange",
                row({"CAS", "SIP", "1", "p:uas", "*", "100", "*", "\\0", ""}));
    E2E_REQUIRE(c.w);
    ASSERT_TRUE(c.start()) << c.w.tarn_err();
    ASSERT_NE(c.sim->expect("0/1", "^0101$", 10000).t, -1) << c.sim->transcript();
    c.start_uas();
    ASSERT_TRUE(c.sim->request({"ring", "0/1", "3"}));
    EXPECT_TRUE(c.uas_saw("INVITE sip:100@")) << c.w.tarn_out();
    EXPECT_NE(c.sim->expect("0/1", "^1111$", 20000).t, -1) << c.sim->transcript();
    EXPECT_TRUE(e2e_world::wait_for(
        [&] { return c.sim->transcript().find("answered: ringing stops") != std::string::npos; }, 5000));
    ASSERT_TRUE(c.sim->request({"hook", "0/1", "off"})); // the exchange clears
    EXPECT_TRUE(c.uas_saw("BYE sip:")) << c.w.tarn_out();
    EXPECT_EQ(c.uas.get().status, 0) << c.uas_log();
    EXPECT_EQ(sipp_stop_tarn(c.w), "");
}

// The highest channel number the media processor has open (the call's).
int newest_msp_channel(cas_world &c)
{
    int channel = -1;
    e2e_world::wait_for(
        [&] {
            json_value st = c.w.root.msp()->request(R"({"cmd": "state"})");
            for (const auto &ch : st["channels"].o)
                channel = std::max(channel, std::stoi(ch.first));
            return channel >= 0;
        },
        10000);
    return channel;
}

void detect_tone(cas_world &c, int channel, int value)
{
    c.w.root.msp()->request(R"({"cmd": "indicate", "fc": "FC_VOIP_TONEDET", "channel": )" + std::to_string(channel) +
                            R"(, "fields": {"tone_detect_value": )" + std::to_string(value) + "}}");
}

// A telephone set on an FXS-KS channel lifts its handset and dials 123: the
// call reaches the SIP UAS; the set's on-hook ends it.
TEST(CasCalls, FxsSetDialsOutToSip)
{
    cas_world c("t1", fxs_conf, "role=t1set", row({"CAS", "SIP", "1", "p:uas", "1.*", "\\0", "*", "\\0", ""}));
    E2E_REQUIRE(c.w);
    ASSERT_TRUE(c.start()) << c.w.tarn_err();
    ASSERT_NE(c.sim->expect("0/1", "^0101$", 10000).t, -1) << c.sim->transcript();
    c.start_uas();
    ASSERT_TRUE(c.sim->request({"hook", "0/1", "off"}));
    int channel = newest_msp_channel(c);
    ASSERT_GE(channel, 0);
    for (int digit : {1, 2, 3}) {
        detect_tone(c, channel, digit);
        detect_tone(c, channel, 255);
    }
    EXPECT_TRUE(c.uas_saw("INVITE sip:123@")) << c.w.tarn_out();
    EXPECT_TRUE(c.uas_saw("ACK sip:")) << c.uas_log();
    ASSERT_TRUE(c.sim->request({"hook", "0/1", "on"}));
    EXPECT_TRUE(c.uas_saw("BYE sip:")) << c.w.tarn_out();
    EXPECT_EQ(c.uas.get().status, 0) << c.uas_log();
    EXPECT_EQ(sipp_stop_tarn(c.w), "");
}

// ---- MFC/R2 on E1 ---------------------------------------------------------------------------

const std::string r2_conf = "[e1]\nports=1\ne1_signalling=mfcr2\ntones=us\nconfig=max_dnis=4,max_ani=3\n";

// The two frequencies and the time of every tone the daemon played.
std::vector<std::string> tones(cas_world &c)
{
    std::vector<std::string> out;
    for (const json_value &f : c.msp_in("FC_VOIP_TONEGEN"))
        out.push_back(std::to_string(f["fields"]["primary_frequency_c1"].num()) + "/" +
                      std::to_string(f["fields"]["secondary_frequency_c1"].num()) + "/" +
                      std::to_string(f["fields"]["on_time_c1"].num()));
    return out;
}

// A SIP call out on an MFC/R2 channel to 123 from 555: the register sends
// the number and the caller on the exchange's requests (mspsim plays the
// compelled far register), A-6 gives 180, the exchange's answer 200 and its
// clear-back the BYE.
TEST(CasCalls, SipCallOutOnMfcR2)
{
    cas_world c("e1", r2_conf, "role=r2,answer_ms=2500,clearback_ms=1000",
                row({"SIP", "CAS", "*", "G:e1", "123", "\\0", "*", "\\0", ""}));
    E2E_REQUIRE(c.w);
    ASSERT_TRUE(c.start()) << c.w.tarn_err();
    c.w.root.msp()->request(R"({"cmd": "r2peer", "signals": [1, 1, 1, 5, 5, 5, 5, 5, 3, 6]})");
    process_result r = sipp_run(c.w, {scenario("uac_cleared.xml"), 1, "127.0.0.1", {"-s", "123"}});
    EXPECT_TRUE(sipp_ok(r)) << c.sim->transcript();
    const std::string F1 = "1380/1500/5000", F2 = "1380/1620/5000", F3 = "1500/1620/5000", F5 = "1500/1740/5000",
                      F15 = "1860/1980/5000";
    EXPECT_EQ(tones(c), (std::vector<std::string>{F1, F2, F3, F15, F1, F5, F5, F5, F15, F15, F15}));
    std::vector<std::string> answers = sipp_captured_responses(c.w);
    EXPECT_NE(std::find(answers.begin(), answers.end(), "180 INVITE"), answers.end());
    EXPECT_NE(std::find(answers.begin(), answers.end(), "200 INVITE"), answers.end());
    EXPECT_EQ(sipp_stop_tarn(c.w), "");
}

// The exchange answers the first digit with backward 15 (busy): 486.
TEST(CasCalls, MfcR2BusyExchangeIsBusyHere)
{
    cas_world c("e1", r2_conf, "role=r2,answer_ms=-1",
                row({"SIP", "CAS", "*", "G:e1", "123", "\\0", "*", "\\0", ""}));
    E2E_REQUIRE(c.w);
    ASSERT_TRUE(c.start()) << c.w.tarn_err();
    c.w.root.msp()->request(R"({"cmd": "r2peer", "signals": [15]})");
    process_result r = sipp_run(c.w, {scenario("uac_refused.xml"), 1, "127.0.0.1", {"-s", "123"}});
    EXPECT_TRUE(sipp_ok(r)) << c.w.tarn_out();
    EXPECT_EQ(sipp_stop_tarn(c.w), "");
}

// The exchange seizes the channel and sends 1234, its category and 555
// (max_dnis 4, max_ani 3): the backward signals of the register, B-6, and
// an INVITE to the SIP side.
TEST(CasCalls, MfcR2CallFromTheExchange)
{
    cas_world c("e1", r2_conf, "role=r2", row({"CAS", "SIP", "1", "p:uas", ".*", "\\0", ".*", "\\0", ""}));
    E2E_REQUIRE(c.w);
    ASSERT_TRUE(c.start()) << c.w.tarn_err();
    c.start_uas();
    c.w.root.msp()->request(R"({"cmd": "r2peer", "signals": [2, 3, 4, 1, 5, 5, 5, 1]})");
    ASSERT_TRUE(c.sim->inject("0/1", "0001\n")); // the far seize
    ASSERT_NE(c.sim->expect("0/1", "^1101$", 10000).t, -1) << c.sim->transcript(); // acknowledged
    // The first forward digit on the call's MF channel.
    int channel = newest_msp_channel(c);
    ASSERT_GE(channel, 0);
    detect_tone(c, channel, 1);
    EXPECT_TRUE(c.uas_saw("INVITE sip:1234@")) << c.w.tarn_out();
    EXPECT_TRUE(c.uas_saw("From: <sip:555@")) << c.uas_log();
    const std::string A1 = "1140/1020/160", A3 = "1020/900/160", A5 = "1020/780/160", A6 = "900/780/160",
                      B6 = "900/780/200";
    // (the UAS's 200 adds one more B-6: the answer toward the exchange)
    std::vector<std::string> t = tones(c);
    ASSERT_GE(t.size(), 10u);
    EXPECT_EQ(std::vector<std::string>(t.begin(), t.begin() + 10),
              (std::vector<std::string>{A1, A1, A1, A5, A5, A5, A5, A3, A6, B6}));
    // The UAS answered: the line is answered; the exchange's clear-forward
    // ends the call with a BYE.
    EXPECT_NE(c.sim->expect("0/1", "^0101$", 20000).t, -1) << c.sim->transcript();
    ASSERT_TRUE(c.sim->inject("0/1", "1001\n"));
    EXPECT_TRUE(c.uas_saw("BYE sip:")) << c.w.tarn_out();
    EXPECT_EQ(c.uas.get().status, 0) << c.uas_log();
    EXPECT_EQ(sipp_stop_tarn(c.w), "");
}

} // namespace
