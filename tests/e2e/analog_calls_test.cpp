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
#include <regex>
#include <string>
#include <vector>

#include "analog_world.h"

namespace {

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


// The telephone lifts its handset and dials 4, 2, #: the INVITE for "42"
// goes out at once; the answer reaches the line, the handset going down
// sends BYE.
TEST(AnalogCalls, FxsDialsSipAndHangsUp)
{
    analog_world a(analog_row({"ANALOG", "SIP", "1", "p:uas", "42", "\\0", "*", "\\0", ""}), analog_fxs_conf,
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
    EXPECT_TRUE(a.w.wait_out("calling reset_op for", E2E_WAIT_MS));
    EXPECT_FALSE(analog_has(a.w.tarn_out(), "not built")) << a.w.tarn_out();
    EXPECT_EQ(sipp_stop_tarn(a.w), "");
}

// Without "#" the INVITE follows the interdigit time-out.
TEST(AnalogCalls, FxsDialsWithoutEndMark)
{
    analog_world a(analog_row({"ANALOG", "SIP", "1", "p:uas", "42", "\\0", "*", "\\0", ""}), analog_fxs_conf,
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
    // The answer reaches the line before the handset goes down: on a loaded
    // machine sipp's 200 may come late, and a call not yet answered ends
    // with CANCEL.
    EXPECT_TRUE(a.w.wait_out("A OFFHOOK|REQUEST|CID=")) << a.w.tarn_out();
    ASSERT_TRUE(a.sim->request({"hook", "1", "on"}));
    EXPECT_TRUE(a.uas_saw("BYE sip:")) << a.w.tarn_out();
    a.uas.get();
    EXPECT_EQ(sipp_stop_tarn(a.w), "");
}

// A SIP call rings the telephone, its caller id goes out as one on-hook
// message, the set answers and the caller's BYE plays the hang-up tone.
TEST(AnalogCalls, SipCallRingsTheTelephone)
{
    analog_world a(analog_row({"SIP", "ANALOG", "*", "1", "200", "\\0", "*", "\\0", "analog_display_setting=${from_display}"}),
                   analog_fxs_conf,
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
    EXPECT_TRUE(a.w.wait_out("calling reset_op for", E2E_WAIT_MS));
    EXPECT_FALSE(analog_has(a.w.tarn_out(), "not built")) << a.w.tarn_out();
    EXPECT_EQ(sipp_stop_tarn(a.w), "");
}

const char *const fxo_conf = "[lines]\nports=2\ntones=[de]\nclip=100\nfxo_portup_voltage=10\n"
                             "fxo_wait_for_oad=no\n";

// An FXO group whose only line reads no voltage: 486 with the reason that
// ports are down, or 302 to the line's move_on_pstn_fail target.
TEST(AnalogCalls, FxoGroupDownRefuses)
{
    analog_world a(analog_row({"SIP", "ANALOG", "*", "G:lines", "500", "\\0", "*", "\\0", ""}) +
                       analog_row({"SIP", "ANALOG", "*", "G:lines", "501", "\\0", "*", "\\0",
                            "302_on_pstn_fail=4930@10.1.1.1"}),
                   fxo_conf, {"--port", "1:type=FXS", "--port", "2:type=FXO,linevoltage=0"});
    E2E_REQUIRE(a.w);
    ASSERT_TRUE(a.start()) << a.w.tarn_err();
    process_result r = a.run_uac("analog_refused.xml", "500");
    EXPECT_EQ(r.status, 0) << r.out << r.err << a.w.tarn_out();
    EXPECT_TRUE(a.w.wait_out("S SEND: NUA_RESPOND[486] \"Busy Here\"")) << a.w.tarn_out();
    EXPECT_NE(a.uac_log().find("Reason: TARN;cause=0;text=\"No free analog ports (some ports are down)\""),
              std::string::npos)
        << a.uac_log();
    r = a.run_uac("analog_refused.xml", "501");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(a.w.wait_out("S SEND: NUA_RESPOND[302]")) << a.w.tarn_out();
    EXPECT_NE(a.uac_log().find("Contact: <sip:4930@10.1.1.1>"), std::string::npos) << a.uac_log();
    EXPECT_EQ(sipp_stop_tarn(a.w), "");
}

// The exchange sends its caller id before the first ring: the watchdog on
// the idle line keeps it, the ring starts the call with it in From; the
// answer seizes the line and the exchange's hang-up sends BYE.
TEST(AnalogCalls, FxoCallerIdBeforeRingingReachesSip)
{
    analog_world a(analog_row({"ANALOG", "SIP", "2", "p:uas", "100", "\\0", "*", "\\0", ""}), fxo_conf,
                   {"--port", "1:type=FXS", "--port", "2:type=FXO"});
    E2E_REQUIRE(a.w);
    ASSERT_TRUE(a.start()) << a.w.tarn_err();
    a.start_uas();
    ASSERT_TRUE(a.msp_saw("FC_VOIP_VOPENA")) << a.w.tarn_out(); // the watchdog listens
    ASSERT_TRUE(a.fsk_received(a.voice_channel(), 128, {{1, "12101530"}, {2, "0301234"}, {7, "Erika"}}));
    ASSERT_TRUE(a.w.wait_out("0301234")) << a.w.tarn_out();
    ASSERT_TRUE(a.sim->request({"ring", "2", "1", "1000", "4000"}));
    ASSERT_TRUE(a.uas_saw("INVITE sip:100@")) << a.w.tarn_out();
    EXPECT_TRUE(std::regex_search(a.uas_log(), std::regex("From: .*<sip:0301234@"))) << a.uas_log();
    EXPECT_NE(a.sim->expect("2", "^offhook$", 20000).t, -1) << a.w.tarn_out();
    ASSERT_TRUE(a.sim->inject("2", "FXO_IDLE\r\n"));
    EXPECT_TRUE(a.uas_saw("BYE sip:")) << a.w.tarn_out();
    process_result r = a.uas.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(sipp_stop_tarn(a.w), "");
}

// A SIP call out on an exchange line: the line is seized, the number
// dialled through the DTMF play-out once the dial-tone wait is over, the
// polarity reversal of the answer gives 200 by the line's rule, and the
// caller's BYE frees the line.
TEST(AnalogCalls, SipCallDialsOutOnFxo)
{
    analog_world a(analog_row({"SIP", "ANALOG", "*", "2", "0(.*)", "\\1", "*", "\\0", "fxo_out_pr=1:RINGING:CONNECT"}),
                   std::string(fxo_conf) + "fxo_dialtone_detection_timeout=1\n",
                   {"--port", "1:type=FXS", "--port", "2:type=FXO"});
    E2E_REQUIRE(a.w);
    ASSERT_TRUE(a.start()) << a.w.tarn_err();
    a.start_uac("0301", 1000);
    EXPECT_NE(a.sim->expect("2", "^offhook$", 20000).t, -1) << a.w.tarn_out();
    ASSERT_TRUE(a.w.wait_out("A DIALING|REQUEST: port=2, analog_oad=0301234,analog_dad=301")) << a.w.tarn_out();
    ASSERT_TRUE(a.w.wait_out("GENERAL_EVENT_ANALOG_FXO_DIALING_FINISHED")) << a.w.tarn_out();
    ASSERT_TRUE(a.sim->inject("2", "FXO_POLARITY\r\n"));
    process_result r = a.uac.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err << a.w.tarn_out();
    EXPECT_NE(a.sim->expect("2", "^onhook$", 20000).t, -1) << a.w.tarn_out();
    EXPECT_FALSE(analog_has(a.w.tarn_out(), "not built")) << a.w.tarn_out();
    EXPECT_EQ(sipp_stop_tarn(a.w), "");
}

// Flash puts the answered call on hold (a re-INVITE that stops sending)
// and gives dial tone for a second call; on-hook with the held call
// transfers: REFER on the held dialog, its Refer-To carrying the second
// dialog's Replaces.
TEST(AnalogCalls, FxsHoldAndTransferByRefer)
{
    analog_world a(analog_row({"ANALOG", "SIP", "1", "p:uas", "42", "\\0", "*", "\\0", ""}) +
                       analog_row({"ANALOG", "SIP", "1", "p:uas3", "43", "\\0", "*", "\\0", ""}),
                   analog_fxs_conf, {"--port", "1:type=FXS"});
    E2E_REQUIRE(a.w);
    ASSERT_TRUE(a.start()) << a.w.tarn_err();
    auto held = a.start_scenario_uas("analog_held_uas.xml", "127.0.0.2", "held");
    auto target = a.start_scenario_uas("analog_target_uas.xml", "127.0.0.3", "target");
    auto dial = [&](size_t tones, std::initializer_list<int> digits) {
        EXPECT_TRUE(a.msp_saw("FC_VOIP_TONEGEN", tones)) << a.w.tarn_out();
        long long channel = a.msp_in("FC_VOIP_TONEGEN").back()["channel"].num();
        for (int d : digits)
            EXPECT_TRUE(a.tone(channel, d));
    };
    ASSERT_TRUE(a.sim->request({"hook", "1", "off"}));
    dial(1, {4, 2, 11});
    EXPECT_NE(a.sim->expect("1", "^offhook$", 20000).t, -1) << a.w.tarn_out();
    ASSERT_TRUE(a.sim->request({"hook", "1", "flash"}));
    ASSERT_TRUE(a.uas_saw("INVITE sip:", 20000, "held")) << a.w.tarn_out();
    dial(2, {4, 3, 11});
    ASSERT_TRUE(a.uas_saw("INVITE sip:43@", 20000, "target")) << a.w.tarn_out();
    EXPECT_TRUE(a.w.wait_out("A OFFHOOK|REQUEST|CID=00002")) << a.w.tarn_out();
    ASSERT_TRUE(a.sim->request({"hook", "1", "on"}));
    process_result r = held.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err << a.uas_log("held") << a.w.tarn_out();
    r = target.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err << a.uas_log("target");
    EXPECT_TRUE(e2e_world::wait_for(
        [&] {
            std::string out = a.w.tarn_out();
            size_t n = 0;
            for (size_t at = 0; (at = out.find("calling reset_op for", at)) != std::string::npos; at++)
                n++;
            return n >= 2;
        },
        20000))
        << a.w.tarn_out();
    EXPECT_FALSE(analog_has(a.w.tarn_out(), "not built")) << a.w.tarn_out();
    EXPECT_EQ(sipp_stop_tarn(a.w), "");
}

} // namespace
