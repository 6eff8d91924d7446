// SIP-to-SIP transcoding against the simulated media processor, driven
// through mediaharness: the start (set-up, repeat, update of one leg), the
// NAT openers, the join as the device keeps it, the stop, the decisions
// that start nothing, and one leg's channel addressed by its DSP channel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media_harness_run.h"

namespace {

using names_t = std::vector<std::string>;

// Transcoding rows at timeslots 200-203; call 0 is a SIP-to-SIP call whose
// first leg is PCMA from 10.1.1.1:40000, its second PCMU to 10.1.1.2:40002.
const std::string s2s_call =
    "app tc_pool=200:4 msp_devip=10.0.0.9\n"
    "call 0 kind=SIP_TO_SIP timeslot=-1 using_ip=10.0.0.1 remote_ip=10.1.1.1 remote_port=40000 local_port=30000 "
    "codec=8 payload=8 te=101 out.using_ip=10.0.0.1 out.remote_ip=10.1.1.2 out.remote_port=40002 "
    "out.local_port=30002 out.codec=0 out.payload=0 out.te=101\n";

const names_t voice_without_vopena = {"FC_SUPVSR_CREATE_CHANNEL", "FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VCEOPT",
                                      "FC_VOIP_TONEOPT",          "FC_VOIP_ECHOCAN",       "FC_VOIP_DTMFOPT",
                                      "FC_IPDTMF_CTRL",           "FC_VOIP_INDCTRL",       "FC_VOIP_PTMNG"};

long field(const json_value *f, const std::string &name)
{
    return f ? f->operator[]("fields")[name].num() : -1;
}

long channel_of(const json_value *f)
{
    return f ? (*f)["channel"].num() : -1;
}

names_t concat(std::initializer_list<names_t> parts)
{
    names_t all;
    for (const names_t &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The channel the simulator bound to a timeslot.
long sim_channel(const harness_run &r, int timeslot)
{
    const json_value &t = r.state["timeslots"][std::to_string(timeslot)];
    return t.kind == json_value::NUMBER ? t.num() : -1;
}

TEST(MediaTranscoding, SetUpRepeatAndSecondLegUpdate)
{
    harness_run r = run_harness(s2s_call + "s2s_start 0\nwait\ns2s_start 0\nwait\necho REPEATED\n"
                                           "call 0 out.remote_port=40004\ns2s_start 0\nwait\nshow 0\nshow 1\n",
                                {}, true);
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.result("s2s_start"), "-1 -1");
    EXPECT_EQ(r.result("s2s_start", 1), "-1 -1");
    const names_t set_up = concat({voice_without_vopena, voice_without_vopena,
                                   {"FC_TRANS_CONNECT", "FC_VOIP_VOPENA", "FC_VOIP_VOPENA"}});
    names_t all = r.names();
    ASSERT_GE(all.size(), set_up.size()) << r.text();
    EXPECT_EQ(names_t(all.begin(), all.begin() + (long)set_up.size()), set_up) << r.text();

    long ch200 = sim_channel(r, 200), ch201 = sim_channel(r, 201);
    ASSERT_GE(ch200, 0) << r.text();
    ASSERT_GE(ch201, 0);
    EXPECT_EQ(field(r.frame("FC_SUPVSR_CREATE_CHANNEL"), "timeslot"), 200);
    EXPECT_EQ(field(r.frame("FC_SUPVSR_CREATE_CHANNEL", 1), "timeslot"), 201);
    const json_value *join = r.frame("FC_TRANS_CONNECT");
    EXPECT_EQ(channel_of(join), 0xFFFF);
    EXPECT_EQ(field(join, "transcoding_session_enable"), 1);
    EXPECT_EQ(field(join, "transcoding_channel_id_a"), ch200);
    EXPECT_EQ(field(join, "transcoding_channel_id_b"), ch201);
    EXPECT_EQ(field(join, "transcoding_channel_payload_type_a"), 8);
    EXPECT_EQ(field(join, "transcoding_channel_payload_type_b"), 0);
    const json_value *on_a = &r.frames[set_up.size() - 2], *on_b = &r.frames[set_up.size() - 1];
    EXPECT_EQ(channel_of(on_a), ch200);
    EXPECT_EQ(field(on_a, "payload_type"), 8);
    EXPECT_EQ(channel_of(on_b), ch201);
    EXPECT_EQ(field(on_b, "payload_type"), 0);

    // The repeat adds nothing; the new port of the second leg re-programs
    // the buddy's channel alone, off first and on last.
    names_t update(all.begin() + (long)set_up.size(), all.end());
    ASSERT_GE(update.size(), 3u) << r.text();
    EXPECT_EQ(update.front(), "FC_VOIP_VOPENA");
    EXPECT_EQ(update.back(), "FC_VOIP_VOPENA");
    EXPECT_EQ(field(&r.frames[set_up.size()], "channel_mode"), 0);
    EXPECT_EQ(field(&r.frames.back(), "channel_mode"), 1);
    EXPECT_EQ(field(&r.frames.back(), "payload_type"), 0);
    for (size_t i = set_up.size(); i < r.frames.size(); i++) {
        EXPECT_EQ(channel_of(&r.frames[i]), ch201) << r.frames[i]["name"].str();
        EXPECT_NE(r.frames[i]["name"].str(), "FC_SUPVSR_CREATE_CHANNEL");
        EXPECT_NE(r.frames[i]["name"].str(), "FC_TRANS_CONNECT");
    }
    EXPECT_EQ(field(r.frame("FC_SET_IP_HDR_CHANNEL", set_up.size()), "udp_destination_port"), 40004);

    // The device holds the join; the change lines name both legs.
    ASSERT_EQ(r.state["trans_connects"].a.size(), 1u);
    const json_value &tc = r.state["trans_connects"].a[0];
    EXPECT_EQ(tc["a"].num(), ch200);
    EXPECT_EQ(tc["b"].num(), ch201);
    EXPECT_TRUE(r.has("v1a: 10.0.0.1:30000 -> 10.1.1.1:40000 -- uc 8 up 8")) << r.text();
    EXPECT_TRUE(r.has("v2a: 10.0.0.1:30002 -> 10.1.1.2:40004 -- uc 0 up 0"));
    EXPECT_TRUE(r.has("v2b: 10.0.0.1:30002 -> 10.1.1.2:40002 -- uc 0 up 0"));
    EXPECT_TRUE(r.has("CALL 0 msp_state=1 active=0x1 reserved=0x0 remote_bridging=0x0 timeslot=200 ")) << r.text();
    EXPECT_TRUE(r.has("CALL 1 msp_state=1 active=0x1 reserved=0x0 remote_bridging=0x0 timeslot=201 "));
    EXPECT_TRUE(r.has("transcoding=1:1"));
    // tshark reads the same function codes and lengths.
    EXPECT_EQ(r.pcap_fields, r.frame_fields());
}

TEST(MediaTranscoding, StopUndoesTheJoinAndBothChannels)
{
    harness_run r = run_harness(s2s_call + "s2s_start 0\nwait\ns2s_stop 0\nwait\nshow 0\nshow 1\ns2s_stop 0\nwait\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    const size_t set_up = 2 * voice_without_vopena.size() + 3;
    names_t all = r.names();
    ASSERT_EQ(all.size(), set_up + 5) << r.text();
    EXPECT_EQ(names_t(all.begin() + (long)set_up, all.end()),
              (names_t{"FC_VOIP_VOPENA", "FC_VOIP_VOPENA", "FC_TRANS_CONNECT", "FC_SUPVSR_DESTROY_CHANNEL",
                       "FC_SUPVSR_DESTROY_CHANNEL"}));
    EXPECT_EQ(field(&r.frames[set_up], "channel_mode"), 0);
    EXPECT_EQ(field(&r.frames[set_up + 1], "channel_mode"), 0);
    EXPECT_EQ(field(&r.frames[set_up + 2], "transcoding_session_enable"), 0);
    // Nothing is left on the device; the second stop finds nothing running.
    EXPECT_TRUE(r.state["channels"].o.empty());
    EXPECT_TRUE(r.state["trans_connects"].a.empty());
    EXPECT_TRUE(r.has("CALL 0 msp_state=0 active=0x0 ")) << r.text();
    EXPECT_TRUE(r.has("CALL 1 msp_state=0 active=0x0 reserved=0x0 timeslot=201 transcoding=1:0 no leg"));
}

TEST(MediaTranscoding, VirtualTranscodingJoinsWithoutPayloadTypes)
{
    harness_run r = run_harness(s2s_call + "app eo_virtual_transcoding=1\ns2s_start 0\n");
    const json_value *join = r.frame("FC_TRANS_CONNECT");
    ASSERT_TRUE(join) << r.text();
    EXPECT_EQ(field(join, "transcoding_channel_payload_type_a"), 255);
    EXPECT_EQ(field(join, "transcoding_channel_payload_type_b"), 255);
}

// NAT opener 2: both channels briefly on with one telephone event each, a
// pause in which another thread's sequence gets in, both off, then the join.
TEST(MediaTranscoding, NatOpenerByTelephoneEvents)
{
    harness_run r = run_harness(s2s_call + "call 0 out.te=97\nopt 0 s2s_nat_opener=2\npause_probe 0\ns2s_start 0\n",
                                {}, true);
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_TRUE(r.has("PROBE queued during the pause")) << r.text();
    const size_t voice = 2 * voice_without_vopena.size();
    names_t all = r.names();
    ASSERT_GE(all.size(), voice) << r.text();
    EXPECT_EQ(names_t(all.begin() + (long)voice, all.end()),
              (names_t{"FC_VOIP_VOPENA", "FC_VOIP_VOPENA", "FC_VOIP_SENDNTE", "FC_VOIP_SENDNTE", "FC_VOIP_DGAIN",
                       "FC_VOIP_VOPENA", "FC_VOIP_VOPENA", "FC_TRANS_CONNECT", "FC_VOIP_VOPENA", "FC_VOIP_VOPENA"}))
        << r.text();
    const json_value *nte_a = &r.frames[voice + 2], *nte_b = &r.frames[voice + 3];
    EXPECT_EQ(field(nte_a, "payload_type"), 100);
    EXPECT_EQ(field(nte_b, "payload_type"), 96);
    EXPECT_EQ(field(nte_a, "nte_payload_event"), 1);
    EXPECT_EQ(field(nte_a, "nte_payload_volume"), 10);
    EXPECT_EQ(field(nte_a, "nte_payload_duration"), 10);
    EXPECT_EQ(field(nte_a, "override_payload_type"), 1);
    EXPECT_EQ(field(nte_a, "override_single_nte"), 1);
    EXPECT_EQ(field(nte_a, "override_default_redundancy"), 1);
    EXPECT_EQ(field(nte_a, "redundancy_interval_time"), 10);
    EXPECT_EQ((*nte_a)["len"].num(), 24);
    EXPECT_EQ(field(&r.frames[voice], "payload_type"), 8);
    EXPECT_EQ(field(&r.frames[voice + 1], "payload_type"), 0);
    EXPECT_EQ(field(&r.frames[voice + 5], "channel_mode"), 0);
    EXPECT_EQ(field(&r.frames[voice + 6], "channel_mode"), 0);
    EXPECT_EQ(r.count("VOPENA_SENT"), 0);
    EXPECT_EQ(r.pcap_fields, r.frame_fields());
}

// NAT opener 1: the second leg's VOPENA carries the marker and its sending
// is reported; otherwise no VOPENA is reported.
TEST(MediaTranscoding, NatOpenerMarkerOnTheSecondLeg)
{
    for (int opener : {1, 0}) {
        SCOPED_TRACE(opener);
        harness_run r = run_harness(s2s_call + "opt 0 s2s_nat_opener=" + std::to_string(opener) + "\ns2s_start 0\n");
        ASSERT_EQ(r.proc.status, 0) << r.text();
        if (opener == 1) {
            EXPECT_EQ(r.count("VOPENA_SENT"), 1) << r.text();
            EXPECT_TRUE(r.has("VOPENA_SENT channel=" + std::to_string(sim_channel(r, 201)) + " flag=12345 payload=0"))
                << r.text();
        } else {
            EXPECT_EQ(r.count("VOPENA_SENT"), 0) << r.text();
        }
    }
}

// Starts that queue nothing for the media processor.
TEST(MediaTranscoding, DecisionsWithoutChannels)
{
    struct start_case {
        const char *name;
        std::string script; // after the call
        const char *result;
        bool passthrough;
        const char *line; // "" for none
    };
    const std::vector<start_case> cases = {
        {"no buddy", "call 0 is_buddy=1\n", "8 -3", false, ""},
        {"both legs T.38", "call 0 codec=9999 payload=9999 out.codec=9999 out.payload=9999\n", "-1 -1", true,
         "CALL 0 msp_state=0 active=0x0 reserved=0x0 remote_bridging=0x0 timeslot=200 "},
        {"one leg T.38", "call 0 out.codec=9999 out.payload=9999\n", "-1 -1", false, ""},
        {"transparent", "call 0 transparent=1\n", "-1 -1", true,
         "CALL 0 msp_state=0 active=0x0 reserved=0x0 remote_bridging=0x0 timeslot=-1 "},
        {"pool of one", "app tc_pool=200:1\n", "-1 -1", false, "Couldn't get transcoding timeslot: ts1 200 ts2 -1"},
        {"second leg without remote port", "call 0 out.remote_port=0\n", "-1 -1", false, ""},
        {"no resources", "app free_channels=0\n", "-1 -1", false, "transcoding=0:0"},
        {"codec without resource", "call 0 out.codec=97\n", "-1 -1", false, "transcoding=0:0"},
    };
    for (const start_case &c : cases) {
        SCOPED_TRACE(c.name);
        harness_run r = run_harness(s2s_call + c.script + "s2s_start 0\nwait\nshow 0\n");
        ASSERT_EQ(r.proc.status, 0) << r.text();
        EXPECT_EQ(r.result("s2s_start"), c.result) << r.text();
        EXPECT_TRUE(r.names().empty()) << r.text();
        EXPECT_EQ(r.has("IFACE start_udp_proxy_thread pid=100"), c.passthrough) << r.text();
        if (c.line[0]) {
            EXPECT_TRUE(r.has(c.line)) << r.text();
        }
    }
}

// A far end that is this gateway's own RTP port is reached through the
// media processor's address.
TEST(MediaTranscoding, OwnAddressOfALegIsTheMediaProcessor)
{
    harness_run r = run_harness(s2s_call + "app host_ip_lan=10.0.0.1 rtp_ports=20000:20099:30000:30999:0:0\n"
                                           "call 0 out.remote_ip=10.0.0.1 out.remote_port=30500\ns2s_start 0\n");
    const json_value *ip = r.frame("FC_SET_IP_HDR_CHANNEL", voice_without_vopena.size());
    ASSERT_TRUE(ip) << r.text();
    EXPECT_EQ(field(ip, "destination_address_word_1"), 10 << 8 | 0);
    EXPECT_EQ(field(ip, "destination_address_word_2"), 0 << 8 | 9);
    EXPECT_EQ(field(ip, "udp_destination_port"), 30500);
}

// One leg's channel by its DSP channel number: every command addressed to
// that channel, both channels switched on, or with the update flag only
// the one.
TEST(MediaTranscoding, LegChannelByDspChannel)
{
    harness_run r = run_harness(s2s_call + "call 0 msp_channel=5 out.msp_channel=6 remote_ip=127.0.0.1\n"
                                           "s2s_channel 0 in 1 0\nwait\necho UPDATE\ns2s_channel 0 out 1 1\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.names(), (names_t{"FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VCEOPT", "FC_VOIP_PTMNG", "FC_VOIP_DTMFOPT",
                                  "FC_VOIP_VOPENA", "FC_VOIP_VOPENA", "FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VCEOPT",
                                  "FC_VOIP_PTMNG", "FC_VOIP_DTMFOPT", "FC_VOIP_VOPENA"}))
        << r.text();
    for (size_t i = 0; i < 4; i++)
        EXPECT_EQ(channel_of(&r.frames[i]), 5);
    EXPECT_EQ(channel_of(&r.frames[4]), 5);
    EXPECT_EQ(field(&r.frames[4], "payload_type"), 8);
    EXPECT_EQ(channel_of(&r.frames[5]), 6);
    EXPECT_EQ(field(&r.frames[5], "payload_type"), 0);
    for (size_t i = 6; i < r.frames.size(); i++)
        EXPECT_EQ(channel_of(&r.frames[i]), 6);
    // The update switches on with the call's current leg's payload.
    EXPECT_EQ(field(&r.frames.back(), "payload_type"), 8);
    // A loopback far end is the media processor itself.
    EXPECT_EQ(field(&r.frames[0], "destination_address_word_2"), 9);
    const json_value *d = r.frame("FC_VOIP_DTMFOPT");
    EXPECT_EQ(field(d, "dtmf_in_rtp"), 1);
    EXPECT_EQ(field(d, "dtmf_in_voice"), 1);
    EXPECT_EQ(field(r.frame("FC_VOIP_PTMNG"), "dtmf"), 101);
    EXPECT_TRUE(r.has("STARTING leg 1 ")) << r.text();
    EXPECT_TRUE(r.has("CHANNEL 5"));
    EXPECT_TRUE(r.has("REMOTED 127.0.0.1:40000 localport 30000 codec 8 payload 8"));
    EXPECT_TRUE(r.has("STARTING leg 2 "));
}

} // namespace
