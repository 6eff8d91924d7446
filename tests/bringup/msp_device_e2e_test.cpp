// The media processor's device bring-up as the simulated device sees it:
// the frames after the firmware query, the clearing of channels an earlier
// run left active, and the end when the device refuses its address.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

// One expected frame: its name and the fields that matter.
struct frame_want {
    std::string name;
    std::vector<std::pair<std::string, long long>> fields;
    int type = 0; // command type: 0 command, 1 query
};

std::vector<frame_want> golden_after_firmware(bool clearing)
{
    std::vector<frame_want> w;
    w.push_back({"FC_TDM_SELECT_BUS_MODE", {{"mode", 4}}});
    w.push_back({"FC_SUPVSR_SET_PCM_LAW", {{"pcm_law", 0}}});
    w.push_back({"FC_DEVICE_SET_COUNTRY_CODE", {{"country_code_selection", 12}}});
    w.push_back({"FC_SUPVSR_SETUP_TDM_PARAMS",
                 {{"bus_number", 0}, {"time_slots_per_frame", 127}, {"bit_order_transmitter", 1},
                  {"inverted_frame_signal", 1}, {"bit_order_receiver", 1}, {"received_clock_edge", 1},
                  {"transmit_clock_edge", 1}, {"frame_edge", 0}}});
    for (int ts = 0; ts < 127; ts++)
        w.push_back({"FC_SUPVSR_SET_TS_MODE", {{"timeslot_number", ts}, {"timeslot_mode", 1}}});
    w.push_back({"FC_ETH_SERVICE_CONFIG", {}});
    w.push_back({"FC_SET_ETH_HDR", {}});
    if (clearing) {
        // 126 transcoding slots on bus 0 from timeslot 0.
        for (int ts = 0; ts < 126; ts++)
            w.push_back({"FC_SUPVSR_CREATE_CHANNEL", {{"timeslot", ts}}, 1});
        for (int ch = 0; ch < 255; ch++)
            w.push_back({"FC_SUPVSR_DESTROY_CHANNEL", {{"channel_number", ch}}});
    } else {
        w.push_back({"FC_CHANNELS_RESET", {{"reset_channels", 1}}});
    }
    w.push_back({"FC_IP_SERVICE_CONFIG", {}});
    w.push_back({"FC_IP_ADDRESS", {}});
    w.push_back({"FC_IP_OPTIONS", {{"verification_source_port", 0}, {"verification_source_ip", 0}}});
    w.push_back({"FC_SPU_FEATURES_CONTROL",
                 {{"fft_based_call_progress_detection", 1}, {"ip_interface_tone_detection", 1},
                  {"bandpass_filter_call_progress_detection", 1}, {"acoustic_echo_control", 0}}});
    for (long long b45 : {0x00FB, 0x0012, 0x014B})
        w.push_back({"FC_SET_MULTICAST_ETH_ADDR", {{"remove_address", 0}, {"bytes_45", b45}}});
    return w;
}

// The frames from the daemon after the firmware query.
std::vector<json_value> after_firmware(const e2e_world &w)
{
    std::vector<json_value> in = w.root.msp()->frames("in"), rest;
    bool seen = false;
    for (const json_value &f : in) {
        if (seen)
            rest.push_back(f);
        seen = seen || f["name"].str() == "FC_SUPVSR_GET_ARM_CODE_VERSION";
    }
    return rest;
}

void expect_golden(const std::vector<json_value> &got, const std::vector<frame_want> &want)
{
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); i++) {
        SCOPED_TRACE("frame " + std::to_string(i) + " " + want[i].name);
        EXPECT_EQ(got[i]["name"].str(), want[i].name);
        EXPECT_EQ(got[i]["type"].num(), want[i].type);
        EXPECT_EQ(got[i]["channel"].num(), 0xFFFF);
        EXPECT_TRUE(got[i]["problems"].a.empty());
        for (auto &[field, value] : want[i].fields)
            EXPECT_EQ(got[i]["fields"][field].num(), value) << field;
    }
}

std::string slurp(const std::string &path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST(MspDevice, GoldenFramesAfterTheFirmwareQuery)
{
    e2e_world w;
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.tdm", "; only comments\n# here\n");
    w.root.write("sys/class/quilmar/pcm/tdm_config", "");
    w.root.write("sys/class/quilmar/li0/tdm_config", "");
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    expect_golden(after_firmware(w), golden_after_firmware(true));
    EXPECT_EQ(slurp(w.root.path("sys/class/quilmar/pcm/tdm_config")), "32\n");
    EXPECT_EQ(slurp(w.root.path("sys/class/quilmar/li0/tdm_config")), "");
    EXPECT_NE(w.tarn_err().find("TDM: find_bus 0 s2s_bus 0 activate_bus 0 bmax 0 tdm "), std::string::npos);
    EXPECT_NE(w.tarn_err().find("Added multicast mac 01:00:5e:00:01:4b"), std::string::npos);
    EXPECT_EQ(w.tarn_out().find("CLEANING COMBINATION"), std::string::npos);
}

// The transcoding timeslot pool is built from the map as soon as it is read.
TEST(MspDevice, TranscodingPoolFromTheMap)
{
    e2e_options o;
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.tdm", "; only comments\n");
    std::string conf = slurp(w.root.path("usr/conf/tarn.conf"));
    size_t at = conf.find("memory_watchdog=0:0:0");
    ASSERT_NE(at, std::string::npos);
    conf.insert(at, "extra_debugging=1,");
    w.root.write("usr/conf/tarn.conf", conf);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    std::string out = w.tarn_out();
    at = out.find("TCL (from init_transcoding_timeslots_array:");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_NE(out.find("): SIZE 126 / none in use", at), std::string::npos) << out.substr(at, 120);
}

TEST(MspDevice, FirmwareThatResetsItsChannels)
{
    e2e_options o;
    o.msp_args = {"--firmware", "v84164-2"};
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    expect_golden(after_firmware(w), golden_after_firmware(false));
}

TEST(MspDevice, LeftoverChannelsAreCleared)
{
    e2e_options o;
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    mspsim_runner &sim = *w.root.msp();
    json_value a = sim.request(R"({"cmd": "leftover", "timeslot": 3})");
    json_value b = sim.request(R"({"cmd": "leftover", "timeslot": 7, "channel_type": 5})");
    ASSERT_TRUE(a["ok"].b && b["ok"].b);
    long long cha = a["channel"].num(), chb = b["channel"].num();
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();

    std::string out = w.tarn_out();
    std::string line = "CLEANING COMBINATION " + std::to_string(cha) + "/" + std::to_string(chb) + " on idx 0/1";
    size_t at = out.find("CLEANING COMBINATION");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.compare(at, line.size(), line), 0) << out.substr(at, 80);
    EXPECT_EQ(out.find("CLEANING COMBINATION", at + 1), std::string::npos);

    int vopena = 0, trans = 0;
    for (const json_value &f : after_firmware(w)) {
        if (f["name"].str() == "FC_VOIP_VOPENA") {
            vopena++;
            EXPECT_EQ(f["fields"]["channel_mode"].num(), 0);
            EXPECT_EQ(f["channel"].num(), vopena == 1 ? cha : chb);
        }
        if (f["name"].str() == "FC_TRANS_CONNECT") {
            // Channel numbers as they are (the flag that says so stays on the host).
            trans++;
            EXPECT_EQ(f["fields"]["transcoding_channel_id_a"].num(), cha);
            EXPECT_EQ(f["fields"]["transcoding_channel_id_b"].num(), chb);
            EXPECT_EQ(f["fields"]["transcoding_session_enable"].num(), 0);
        }
    }
    EXPECT_EQ(vopena, 2);
    EXPECT_EQ(trans, 1);
    json_value state = sim.request(R"({"cmd": "state"})");
    EXPECT_TRUE(state["channels"].o.empty());
}

TEST(MspDevice, RefusedAddressEndsWith115)
{
    e2e_options o;
    o.msp_args = {"--rule", R"({"fc": "FC_IP_ADDRESS", "answer": "error"})"};
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    EXPECT_EQ(w.run_tarn_to_exit(), 115);
    EXPECT_NE(w.tarn_err().find("TARN EXITCODE 115: Setting IP finally failed -> giving up -> exiting"),
              std::string::npos)
        << w.tarn_err();
}

} // namespace
