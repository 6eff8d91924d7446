// Call-progress tones and dial tones against the simulated media processor,
// driven through mediaharness.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media_harness_run.h"

namespace {

using names_t = std::vector<std::string>;

const char *const tones_file =
    "[general]\ncountry=de\nlevel=100\n"
    "[de]\ndial=425\nbusy=425/480,0/480\ncongestion=425/240,0/240\nmwstutter=425/100,0/40\n"
    "[us]\ndial=350+440\nbusy=480+620/500,0/500\nmwstutter=600+700/100,0/100,600+700/100,0/100\n";

const char *const analog_file = "[stutter]\nports=3\ntones=[us]\nmessage_waiting_method=stutter\n"
                                "[fsk]\nports=4\ntones=us\nmessage_waiting_method=fsk\n";

std::string preamble()
{
    return "tones " + harness_file("tarn.tones", tones_file) + "\nanalog " + harness_file("tarn.analog", analog_file) +
           "\ncall 0 kind=SIP_TO_ISDN timeslot=7\n";
}

long field(const json_value *f, const std::string &name)
{
    return f ? f->operator[]("fields")[name].num() : -1;
}

const names_t tone_start = {"FC_SUPVSR_CREATE_CHANNEL", "FC_VOIP_VCEOPT", "FC_VOIP_VOPENA",
                            "FC_VOIP_PROGRAM_CADENCE_ENGINE", "FC_VOIP_PROGRAM_TONE_ENGINE"};

TEST(MediaTone, BusyOverARunningDialTone)
{
    harness_run r = run_harness(preamble() + "app law=1\ntone 0 de 0\nwait\ntone 0 de 2\nwait\nshow 0\n"
                                             "stop_tone 0\nwait\nshow 0\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.result("tone"), "0");
    EXPECT_EQ(r.result("tone", 1), "0");
    names_t want = tone_start;
    want.insert(want.end(), {"FC_VOIP_VOPENA", "FC_SUPVSR_DESTROY_CHANNEL"});
    want.insert(want.end(), tone_start.begin(), tone_start.end());
    want.insert(want.end(), {"FC_VOIP_VOPENA", "FC_SUPVSR_DESTROY_CHANNEL"});
    EXPECT_EQ(r.names(), want) << r.text();
    EXPECT_TRUE(r.has("stopping tone generation"));

    const json_value *create = r.frame("FC_SUPVSR_CREATE_CHANNEL", 7);
    EXPECT_EQ(field(create, "channel_type"), 17);
    EXPECT_EQ(field(create, "timeslot"), 7);
    EXPECT_EQ(field(r.frame("FC_VOIP_VCEOPT", 7), "pcm_coding_standard"), 1);
    const json_value *on = r.frame("FC_VOIP_VOPENA", 9);
    EXPECT_EQ(field(on, "channel_mode"), 13);
    EXPECT_EQ((*on)["len"].num(), 10);
    // busy=425/480,0/480: one tone, the repeated part of one on/off pair.
    const json_value *cadence = r.frame("FC_VOIP_PROGRAM_CADENCE_ENGINE", 7);
    ASSERT_TRUE(cadence);
    EXPECT_EQ((*cadence)["len"].num(), 2 * 5 + 8);
    EXPECT_EQ((*cadence)["hex"].str().substr(16), "00100100e001e0010020");
    const json_value *engine = r.frame("FC_VOIP_PROGRAM_TONE_ENGINE", 7);
    ASSERT_TRUE(engine);
    EXPECT_EQ((*engine)["hex"].str().substr(16, 8), "0100a901"); // one tone of 425 Hz
    for (const json_value &f : r.frames)
        EXPECT_TRUE(f["problems"].a.empty()) << f["name"].str();

    EXPECT_TRUE(r.has("CALL 0 msp_state=2 active=0x1 ")) << r.text();
    EXPECT_TRUE(r.has("CALL 0 msp_state=0 active=0x0 ")) << r.text();
    EXPECT_TRUE(r.state["channels"].o.empty());
}

TEST(MediaTone, Refusals)
{
    harness_run r = run_harness(preamble() +
                                // a tone beyond the device's 12 tones or 64 cadence words
                                "tone_count de 2 13\ntone 0 de 2\ntone_count de 3 1 65\ntone 0 de 3\n"
                                // no such type
                                "tone 0 de 4\n"
                                // media that a tone never runs beside
                                "call 0 msp_state=1\ntone 0 de 0\ncall 0 msp_state=8\ntone 0 de 0\n"
                                "call 0 msp_state=0 timeslot=600\ntone 0 de 0\nshow 0\n"
                                // stops of what is not running
                                "call 0 timeslot=7\nstop_t38 0\nstop_hdlc 0\nstop_tone 0\nstop_tonegen 0\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    for (int k = 0; k < 6; k++)
        EXPECT_EQ(r.result("tone", k), "-1") << k << r.text();
    EXPECT_TRUE(r.has("CRITICAL: tone 2 of \"de\" has 13 tones and 5 cadence words, at most 12 and 64 fit")) << r.text();
    EXPECT_TRUE(r.has("CRITICAL: tone 3 of \"de\" has 1 tones and 65 cadence words, at most 12 and 64 fit"));
    EXPECT_TRUE(r.has("Not starting tonegen, voice processing active"));
    EXPECT_TRUE(r.has("Not starting tonegen, t38 active"));
    EXPECT_TRUE(r.has("couldn't start channel processing, do not have a valid timeslot yet!"));
    EXPECT_TRUE(r.has("CALL 0 msp_state=0 active=0x0 reserved=0x0 ")) << r.text();
    for (const char *stop : {"stop_t38", "stop_hdlc", "stop_tone"})
        EXPECT_EQ(r.result(stop), "-1") << stop;
    EXPECT_EQ(r.result("stop_tonegen"), "-1 -1");
    EXPECT_TRUE(r.names().empty()) << r.text();
}

TEST(MediaTone, ToneWithoutCadence)
{
    harness_run r = run_harness(preamble() + "tone_count de 1 1 0\ntone 0 de 1\nwait\nstop_tonegen 0\nshow 0\n");
    EXPECT_EQ(r.result("tone"), "0") << r.text();
    const json_value *cadence = r.frame("FC_VOIP_PROGRAM_CADENCE_ENGINE");
    ASSERT_TRUE(cadence);
    EXPECT_EQ((*cadence)["len"].num(), 8);
    // The state-table action stops the tone channel like the stop does.
    EXPECT_EQ(r.result("stop_tonegen"), "-1 -1");
    names_t want = tone_start;
    want.insert(want.end(), {"FC_VOIP_VOPENA", "FC_SUPVSR_DESTROY_CHANNEL"});
    EXPECT_EQ(r.names(), want);
    EXPECT_TRUE(r.has("CALL 0 msp_state=0 active=0x0 ")) << r.text();
}

// The dial tone of an FXS caller, on top of its voice channel.
TEST(MediaTone, DialTones)
{
    const std::string fxs = "call 0 kind=ANALOG_TO_SIP analog_type=1 codec=8 payload=8 remote_ip=10.0.0.9 "
                            "remote_port=4000 local_port=3000 ";
    struct {
        const char *name;
        std::string script;
        long f1, f2; // first cadence
    } cases[] = {
        // "[us]": the brackets go, the stutter method with message waiting stutters
        {"stutter", fxs + "analog_port=3 timeslot=103\nmwi 3 1\nsetup_voice 0\ndial_tone 0\n", 600, 700},
        {"no message waiting", fxs + "analog_port=3 timeslot=103\nsetup_voice 0\ndial_tone 0\n", 350, 440},
        {"fsk method", fxs + "analog_port=4 timeslot=104\nmwi 4 1\nsetup_voice 0\ndial_tone 0\n", 350, 440},
        {"cas", fxs + "analog_port=3 timeslot=103\nmwi 3 1\nsetup_voice 0\ncas_dial_tone 0\n", 350, 440},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        harness_run r = run_harness(preamble() + c.script + "wait\nstop_dial_tone 0\nwait\nshow 0\n");
        ASSERT_EQ(r.result("setup_voice"), "0") << r.text();
        const json_value *gen = r.frame("FC_VOIP_TONEGEN");
        ASSERT_TRUE(gen) << r.text();
        EXPECT_EQ(field(gen, "primary_frequency_c1"), c.f1);
        EXPECT_EQ(field(gen, "secondary_frequency_c1"), c.f2);
        EXPECT_EQ(field(gen, "cadence_repeat"), 255);
        EXPECT_EQ(field(gen, "primary_frequency_c3"), 0);
        EXPECT_EQ(field(gen, "on_time_c3"), 0);
        EXPECT_EQ(r.names().back(), "FC_VOIP_TONEOFF");
        EXPECT_TRUE(r.has("dial_tone_stopped=1")) << r.text();
    }

    // Without a voice channel the stop does nothing.
    harness_run r = run_harness(preamble() + fxs + "analog_port=3 timeslot=103\nstop_dial_tone 0\nshow 0\n");
    EXPECT_TRUE(r.names().empty()) << r.text();
    EXPECT_TRUE(r.has("dial_tone_stopped=0")) << r.text();
}

// The tone generator as mspsim keeps it.
TEST(MediaTone, SimulatorStateOfADialTone)
{
    harness_run r = run_harness(preamble() +
                                "call 0 kind=ANALOG_TO_SIP analog_type=1 analog_port=3 timeslot=103 codec=8 payload=8 "
                                "remote_ip=10.0.0.9 remote_port=4000 local_port=3000\nsetup_voice 0\ndial_tone 0\n");
    ASSERT_EQ(r.state["channels"].o.size(), 1u) << r.text();
    const json_value &ch = r.state["channels"].o.begin()->second;
    EXPECT_TRUE(ch["tonegen"].b);
    EXPECT_EQ(ch["vopena"].num(), 1);
    EXPECT_EQ(ch["payload"].num(), 8);
    EXPECT_EQ(ch["ip_destination"].str(), "10.0.0.9:4000");
}

} // namespace
