// Tone indications of the simulated media processor through the event
// handler into the fax decisions, and the T.38, DTMF and tone-action
// commands on the wire, driven through mediaharness.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media_harness_run.h"

namespace {

using names_t = std::vector<std::string>;

long field(const json_value *f, const std::string &name)
{
    return f ? f->operator[]("fields")[name].num() : -1;
}

// FAX_REDIRECT (4109) as a general event word.
const char *const redirect_run = "IFACE do_statemachine_run pid=100 event=0x3000100d";

// An FXS caller connected 2 s ago whose fax tones go to a fax extension,
// with its voice channel running so that its channel carries the tones.
std::string fxs_call(int min_events, const std::string &more = "")
{
    return "app law=1\ncall 0 kind=ANALOG_TO_SIP timeslot=4 remote_ip=10.0.0.9 remote_port=4000 local_port=6000 "
           "codec=8 payload=8 state=0x1 machine=1 connected=2\n"
           "opt 0 faxdetect_extension=99,faxdetect_options=10:" +
           std::to_string(min_events) + ":400:700:2000:4000" + more + "\nsetup_voice 0\nwait\n";
}

TEST(MediaFax, CngCadenceThroughTheEventHandler)
{
    struct cng_case {
        const char *what;
        int min_events;
        std::string tones; // tonedet lines for call 0
        int redirects;
    };
    const cng_case cases[] = {
        {"one tone of 500", 1, "tonedet 0 32 0\ntonedet 0 255 4000\n", 1},
        {"one tone of 700", 1, "tonedet 0 32 0\ntonedet 0 255 5600\n", 0},
        {"a high word of 40000", 1, "tonedet 0 32 0 40000\ntonedet 0 255 4000 40000\n", 1},
        {"two tones", 2, "tonedet 0 32 0\ntonedet 0 255 4000\ntonedet 0 32 28000\ntonedet 0 255 32800\n", 1},
        {"three tones, gaps too short", 3,
         "tonedet 0 32 0\ntonedet 0 255 4000\ntonedet 0 32 8000\ntonedet 0 255 12000\n"
         "tonedet 0 32 16000\ntonedet 0 255 20000\n",
         0},
    };
    for (const cng_case &c : cases) {
        SCOPED_TRACE(c.what);
        harness_run r = run_harness(fxs_call(c.min_events) + c.tones + "show 0\n");
        ASSERT_EQ(r.proc.status, 0) << r.text();
        EXPECT_EQ(r.count("ERR"), 0) << r.text();
        EXPECT_EQ(r.count("INDICATED"), r.count("TONEDET 0 "));
        EXPECT_EQ(r.count(redirect_run), c.redirects) << r.text();
        EXPECT_EQ(r.count("P IND : FAX REDIRECT event => statemachine"), c.redirects) << r.text();
    }
}

TEST(MediaFax, DigitsAndV21FlagsThroughTheEventHandler)
{
    harness_run r = run_harness(fxs_call(1, ",ec=1") +
                                // active: the digit to call control, unless taken as an event
                                "call 0 state=0x2\ntonedet 0 5 100\ncall 0 dtmf_as_eventdet\ntonedet 0 6 200\n"
                                // V.21 flags: the echo canceller off once
                                "tonedet 0 34 300\nwait\ntonedet 0 34 400\nwait\nshow 0\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.count("IFACE process_dtmf pid=100 from=0 digit=5"), 1) << r.text();
    EXPECT_EQ(r.count("IFACE process_dtmf"), 1) << r.text();
    EXPECT_TRUE(r.has("tonedet_index=4")) << r.text();
    size_t n = 0;
    for (const std::string &name : r.names())
        n += name == "FC_VOIP_ECHOCAN";
    // One from the set-up, one all-zero from the V.21 flags.
    EXPECT_EQ(n, 2u) << r.text();
}

TEST(MediaFax, T38OverRunningVoice)
{
    const std::string voice = "app law=1 rtp_traffic=1\ncall 0 kind=ISDN_TO_SIP timeslot=4 remote_ip=127.0.0.1 "
                              "remote_port=4000 local_port=6000 codec=8 payload=8\nsetup_voice 0\nwait\n";
    harness_run r = run_harness(voice + "echo T38\nt38 0\nwait\nshow 0\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    size_t from = r.names().size();
    for (size_t i = 0; i < r.frames.size(); i++)
        if (r.frames[i]["name"].str() == "FC_VOIP_VOPENA" && field(&r.frames[i], "channel_mode") == 0) {
            from = i;
            break;
        }
    EXPECT_EQ(r.names(from), (names_t{"FC_VOIP_VOPENA", "FC_SUPVSR_DESTROY_CHANNEL", "FC_SUPVSR_CREATE_CHANNEL",
                                      "FC_FAX_OPTIONS", "FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VCEOPT", "FC_VOIP_VOPENA"}))
        << r.text();
    EXPECT_EQ(field(r.frame("FC_SUPVSR_CREATE_CHANNEL", from), "channel_type"), 7);
    const json_value *fax = r.frame("FC_FAX_OPTIONS", from);
    EXPECT_EQ(field(fax, "tcf_procedure"), 1);
    EXPECT_EQ(field(fax, "udptl_redundancy_count_t30"), 3);
    EXPECT_EQ(field(r.frame("FC_VOIP_VCEOPT", from), "voice_packetization_interval"), 20);
    const json_value *on = r.frame("FC_VOIP_VOPENA", from + 1);
    EXPECT_EQ(field(on, "channel_mode"), 2);
    EXPECT_EQ((*on)["len"].num(), 10);
    for (const json_value &f : r.frames)
        EXPECT_TRUE(f["problems"].a.empty()) << f["name"].str();
    EXPECT_TRUE(r.has("CALL 0 msp_state=8 ")) << r.text();

    harness_run t = run_harness(voice + "call 0 transcoding_call\nt38 0\nwait\n");
    ASSERT_EQ(t.proc.status, 0) << t.text();
    names_t names = t.names();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "FC_VOIP_VCEOPT") << t.text();
}

TEST(MediaFax, DtmfOnTheWire)
{
    harness_run r = run_harness("app law=1\ncall 0 kind=ISDN_TO_SIP timeslot=4 remote_ip=10.0.0.9 remote_port=4000 "
                                "local_port=6000 codec=8 payload=8 te=101 regen_tdm\nsetup_voice 0\nwait\n"
                                "echo DTMF\ninband 0 5 2 80\ninband 0 x 2 80\nopt 0 dtmfmode=rfc2833\n"
                                "dtmf_sip 0 11 100\nwait\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    const json_value *gen = r.frame("FC_VOIP_TONEGEN");
    ASSERT_NE(gen, nullptr) << r.text();
    EXPECT_EQ(field(gen, "cadence_repeat"), 0);
    EXPECT_EQ(field(gen, "tone_direction"), 0);
    EXPECT_EQ(field(gen, "primary_frequency_c1"), 770);
    EXPECT_EQ(field(gen, "secondary_frequency_c1"), 1336);
    EXPECT_EQ(field(gen, "on_time_c1"), 80);
    int tonegens = 0;
    for (const std::string &n : r.names())
        tonegens += n == "FC_VOIP_TONEGEN";
    EXPECT_EQ(tonegens, 1);
    const json_value *nte = r.frame("FC_VOIP_SENDNTE");
    ASSERT_NE(nte, nullptr) << r.text();
    EXPECT_EQ((*nte)["len"].num(), 24);
    EXPECT_EQ(field(nte, "nte_payload_event"), 11);
    EXPECT_EQ(field(nte, "nte_payload_volume"), 10);
    EXPECT_EQ(field(nte, "nte_payload_duration"), 100);
    EXPECT_EQ(field(nte, "payload_type"), 101);
    for (const json_value &f : r.frames)
        EXPECT_TRUE(f["problems"].a.empty()) << f["name"].str();
}

} // namespace
