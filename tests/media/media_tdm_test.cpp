// Line-call channels beyond plain voice against the simulated media
// processor, driven through mediaharness: the MF signalling channel of a
// CAS call, two local calls joined by TDM hairpinning, a call joined with
// another unit's timeslot, and the RTP statistics query.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "media_harness_run.h"

namespace {

using names_t = std::vector<std::string>;

long field(const json_value *f, const std::string &name)
{
    return f ? f->operator[]("fields")[name].num() : -1;
}

long channel_of(const json_value *f)
{
    return f ? (*f)["channel"].num() : -1;
}

long sim_channel(const harness_run &r, int timeslot)
{
    const json_value &t = r.state["timeslots"][std::to_string(timeslot)];
    return t.kind == json_value::NUMBER ? t.num() : -1;
}

// A CAS-to-SIP call on CAS port 3 (timeslot 17), PCMA to 192.168.1.20.
const char *const cas_call = "call 0 kind=CAS_TO_SIP timeslot=17 cas_port=3 codec=8 payload=8 te=101 "
                             "remote_ip=192.168.1.20 remote_port=40000 local_port=30000\n";

TEST(MediaMf, SignallingDetectorByPortAndDirection)
{
    struct mf_case {
        const char *name;
        std::string script;
        int select; // SIGDET select; 0: no MFTUNE and no SIGDET
    };
    const std::vector<mf_case> cases = {
        {"E1 MFC/R2 CAS to SIP", "app cas=3:3\n", 2},
        {"E1 MFC/R2 SIP to CAS", "app cas=3:3\ncall 0 kind=SIP_TO_CAS\n", 1},
        {"T1 FXS", "app cas=3:1\n", 0},
        {"T1 FXO", "app cas=3:2\n", 0},
    };
    for (const mf_case &c : cases) {
        SCOPED_TRACE(c.name);
        harness_run r = run_harness(std::string(cas_call) + c.script + "mf 0\nwait\nshow 0\n", {}, true);
        ASSERT_EQ(r.proc.status, 0) << r.text();
        EXPECT_EQ(r.result("mf"), "0") << r.text();
        EXPECT_EQ(r.pcap_fields, r.frame_fields());
        names_t n = r.names();
        ASSERT_GE(n.size(), 3u) << r.text();
        EXPECT_EQ(n.front(), "FC_SUPVSR_CREATE_CHANNEL");
        EXPECT_EQ(n.back(), "FC_VOIP_VOPENA");
        const json_value *on = &r.frames.back();
        // The 10-byte form: mode 7, no RTP header fields on the wire.
        EXPECT_EQ(field(on, "channel_mode"), 7);
        EXPECT_EQ((*on)["len"].num(), 10);
        if (c.select) {
            EXPECT_EQ(n[n.size() - 3], "FC_VOIP_MFTUNE");
            EXPECT_EQ(n[n.size() - 2], "FC_VOIP_SIGDET");
            EXPECT_EQ(field(&r.frames[n.size() - 3], "mf_selector"), 1);
            EXPECT_EQ(field(&r.frames[n.size() - 3], "mf_control"), 0);
            EXPECT_EQ(field(&r.frames[n.size() - 2], "inband_tone_detection_select"), c.select);
        } else {
            EXPECT_EQ(r.frame("FC_VOIP_MFTUNE"), nullptr);
            EXPECT_EQ(r.frame("FC_VOIP_SIGDET"), nullptr);
        }
        // Neither echo canceller, indications, jitter buffer nor RTCP.
        for (const char *absent : {"FC_VOIP_ECHOCAN", "FC_VOIP_INDCTRL", "FC_VOIP_JBOPT", "FC_VOIP_RTCP_ENA",
                                   "FC_VOIP_TONECTRL", "FC_CNDDETCTL"})
            EXPECT_EQ(r.frame(absent), nullptr) << absent;
        EXPECT_TRUE(r.has("CALL 0 msp_state=64 active=0x1 ")) << r.text();
        EXPECT_TRUE(r.has("sending now to 192.168.1.20:40000 / receiving at port 30000"));
    }
}

TEST(MediaMf, PayloadTypeMapAndDtmfOptions)
{
    struct pt_case {
        const char *name;
        std::string script;
        names_t middle; // from DTMFOPT to the end of the payload commands
        int dtmf;
        int clear_channel;
        int g711a;
    };
    const names_t plain = {"FC_VOIP_DTMFOPT", "FC_IPDTMF_CTRL", "FC_VOIP_PTMNG"};
    const std::vector<pt_case> cases = {
        {"no passthrough, payload is codec: second DTMFOPT", "opt 0 rfc2833_dtmf_passthrough=0\n",
         {"FC_VOIP_DTMFOPT", "FC_IPDTMF_CTRL", "FC_VOIP_PTMNG", "FC_VOIP_DTMFOPT"}, 101, 255, 8},
        {"passthrough", "opt 0 dtmfmode=rfc2833,rfc2833_dtmf_passthrough=1\n", plain, 101, 255, 8},
        {"clearmode on A-law, event type 101", "opt 0 clearmode_on_alaw=1,rfc2833_dtmf_passthrough=0\n", plain, 255, 8, 255},
        {"clearmode on A-law, event type 97", "opt 0 clearmode_on_alaw=1,rfc2833_dtmf_passthrough=0\ncall 0 te=97\n",
         plain, 97, 8, 255},
        {"G.722", "opt 0 dtmfmode=rfc2833,rfc2833_dtmf_passthrough=1\ncall 0 codec=9 payload=9\n", plain, 255, 9, 8},
    };
    for (const pt_case &c : cases) {
        SCOPED_TRACE(c.name);
        harness_run r = run_harness(std::string(cas_call) + "app cas=3:1\n" + c.script + "mf 0\n");
        ASSERT_EQ(r.result("mf"), "0") << r.text();
        names_t n = r.names();
        // CREATE, IP header, VCEOPT, TONEOPT, then the DTMF part, then VOPENA.
        ASSERT_EQ(n.size(), 4 + c.middle.size() + 1) << r.text();
        EXPECT_EQ(names_t(n.begin() + 4, n.end() - 1), c.middle) << r.text();
        const json_value *pt = r.frame("FC_VOIP_PTMNG");
        EXPECT_EQ(field(pt, "dtmf"), c.dtmf);
        EXPECT_EQ(field(pt, "clear_channel"), c.clear_channel);
        EXPECT_EQ(field(pt, "g711a"), c.g711a);
        bool relay = std::string(c.name) == "passthrough" || std::string(c.name) == "G.722";
        EXPECT_EQ(field(r.frame("FC_VOIP_DTMFOPT"), "dtmf_in_rtp"), relay ? 1 : 0);
    }
}

TEST(MediaMf, Refusals)
{
    struct refusal {
        const char *name;
        const char *script;
        const char *line;
    };
    const refusal cases[] = {
        {"T.38 codec", "call 0 codec=9999 payload=9999\n", "CRITICAL: Couldn't evaluate codec 9999"},
        {"no remote port", "call 0 remote_port=0\n", "couldn't start channel processing, remote port not available!"},
        {"timeslot 512", "call 0 timeslot=512\n", "couldn't start channel processing, do not have a valid timeslot yet!"},
        {"no early audio", "opt 0 ea=0\n", "not starting channel processing now, early audio not active!"},
    };
    for (const refusal &c : cases) {
        SCOPED_TRACE(c.name);
        harness_run r = run_harness(std::string(cas_call) + c.script + "mf 0\nwait\nshow 0\n");
        EXPECT_EQ(r.result("mf"), "-1") << r.text();
        EXPECT_TRUE(r.has(c.line)) << r.text();
        EXPECT_TRUE(r.names().empty()) << r.text();
        EXPECT_TRUE(r.has("CALL 0 msp_state=0 active=0x0 ")) << r.text();
    }
}

// Another call still holds the timeslot and the caller holds the queue
// lock (flag 0): the other call is stopped without taking the lock again.
TEST(MediaMf, ClashingCallStoppedUnderTheCallersLock)
{
    harness_run r = run_harness("call 1 kind=ISDN_TO_SIP timeslot=17 codec=0 payload=0 remote_ip=192.168.1.21 "
                                "remote_port=40002 local_port=30002\nsetup_voice 1\nwait\n" +
                                std::string(cas_call) + "locked mf 0\nwait\nshow 1\nshow 0\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.result("mf"), "0") << r.text();
    EXPECT_TRUE(r.has("CRITICAL: found other call at index 1 using timeslot 17")) << r.text();
    EXPECT_TRUE(r.has("IFACE call_stop_rtp pid=101 lock=0"));
    EXPECT_TRUE(r.has("CALL 1 msp_state=0 active=0x0 ")) << r.text();
    EXPECT_TRUE(r.has("CALL 0 msp_state=64 active=0x1 "));
    EXPECT_EQ(sim_channel(r, 17), 0);
}

// An ISDN call (port 1, B-channel 2) and an FXS call (port 3) on
// timeslots 5 and 9.
const std::string bridge_pair =
    "call 0 kind=ISDN_TO_SIP pid=42 timeslot=5 codec=8 payload=8 remote_ip=192.168.1.20 remote_port=40000 "
    "local_port=30000 bc_port=1 bc_channel=2 bc_oad=100 bc_dad=200\n"
    "call 1 kind=ANALOG_TO_SIP timeslot=9 analog_port=3 analog_type=1 analog_oad=200 analog_dad=100 remote_ip=192.168.1.21 "
    "remote_port=40002 local_port=30002\n";

size_t index_of(const harness_run &r, const std::string &name)
{
    for (size_t i = 0; i < r.frames.size(); i++)
        if (r.frames[i]["name"].str() == name)
            return i;
    return r.frames.size();
}

TEST(MediaBridge, TwoLocalCallsJoinedAsAlaw)
{
    for (int second_payload : {0, 8}) {
        SCOPED_TRACE(second_payload);
        std::string p = std::to_string(second_payload);
        harness_run r = run_harness(bridge_pair + "call 1 codec=" + p + " payload=" + p +
                                    "\ncall 0 rtp_check=30\nsetup_voice 0\nsetup_voice 1\nwait\necho BRIDGE\nbridge 0 1\n"
                                    "wait\nshow 0\nshow 1\n",
                                    {}, true);
        ASSERT_EQ(r.proc.status, 0) << r.text();
        EXPECT_EQ(r.result("bridge"), "0") << r.text();
        EXPECT_EQ(r.pcap_fields, r.frame_fields());
        long ch5 = sim_channel(r, 5), ch9 = sim_channel(r, 9);
        size_t thc = index_of(r, "FC_THC_MODE_ENABLE");
        ASSERT_LT(thc + 2, r.frames.size()) << r.text();
        names_t n = r.names();
        EXPECT_EQ(names_t(n.begin() + (long)thc, n.end()),
                  (names_t{"FC_THC_MODE_ENABLE", "FC_THC_MODE_ENABLE", "FC_THC_REDIRECT_RX"}));
        EXPECT_EQ(channel_of(&r.frames[thc]), ch5);
        EXPECT_EQ(channel_of(&r.frames[thc + 1]), ch9);
        EXPECT_EQ(channel_of(&r.frames[thc + 2]), ch5);
        EXPECT_EQ(field(&r.frames[thc + 2], "peer_timeslot"), 9);
        if (second_payload == 0) {
            // Both channels are forced to A-law before they are joined.
            EXPECT_EQ(n[thc - 2], "FC_VOIP_VOPENA");
            EXPECT_EQ(n[thc - 1], "FC_VOIP_VOPENA");
            EXPECT_EQ(channel_of(&r.frames[thc - 2]), ch5);
            EXPECT_EQ(channel_of(&r.frames[thc - 1]), ch9);
            EXPECT_EQ(field(&r.frames[thc - 2], "payload_type"), 8);
            EXPECT_EQ(field(&r.frames[thc - 1], "payload_type"), 8);
        }
        // Each set-up switches its channel on once; forcing A-law adds two.
        EXPECT_EQ(std::count(n.begin(), n.end(), "FC_VOIP_VOPENA"), second_payload == 0 ? 4 : 2);
        EXPECT_TRUE(r.has("VERBOSEMSG: I BRIDGE|REQUEST|CID=00042<br>ISDN/ANALOG<br>ports=1/3<br>channels=2/1<br>"
                          "dads=200/100<br>oads=100/200"))
            << r.text();
        EXPECT_TRUE(r.has("BRIDGING TDM 5 9!"));
        EXPECT_TRUE(r.has("bridging: removing rtp_stat_timer"));
        // The device pairs the two; the calls are bridged to each other
        // without RTP supervision, the hairpin counted on the first.
        ASSERT_EQ(r.state["thc"].a.size(), 1u) << r.text();
        EXPECT_EQ(r.state["thc"].a[0]["channel"].num(), ch5);
        EXPECT_EQ(r.state["thc"].a[0]["peer_channel"].num(), ch9);
        EXPECT_TRUE(r.has("CALL 0 msp_state=4 active=0x4000000 reserved=0x0 ")) << r.text();
        EXPECT_TRUE(r.has("CALL 1 msp_state=4 active=0x0 reserved=0x0 "));
        EXPECT_TRUE(r.has("rtp_stat_timer=0 transcoding=0:0 bridged_to=1 rtp_check=0 codec=8 payload=8"));
        EXPECT_TRUE(r.has("rtp_stat_timer=0 transcoding=0:0 bridged_to=0 rtp_check=0 codec=8 payload=8"));
    }
}

TEST(MediaBridge, RefusalsLeaveBothCallsAsTheyWere)
{
    // A call with a tone on its voice channel is not joined.
    harness_run busy = run_harness(bridge_pair + "call 1 codec=0 payload=0\nsetup_voice 0\nsetup_voice 1\nwait\n"
                                                 "call 0 msp_state=3\nbridge 0 1\nwait\nshow 1\n");
    EXPECT_EQ(busy.result("bridge"), "-1") << busy.text();
    EXPECT_EQ(busy.frame("FC_THC_MODE_ENABLE"), nullptr);
    EXPECT_TRUE(busy.has("CALL 1 msp_state=1 active=0x1 ")) << busy.text();

    // No budget for the hairpin: both stay voice calls with what they held,
    // and a later stop gives it back.
    harness_run r = run_harness(bridge_pair + "call 1 codec=8 payload=8\nsetup_voice 0\nsetup_voice 1\nwait\n"
                                              "app free_channels=-100\nbudget\nbridge 0 1\nwait\nbudget\nshow 0\n"
                                              "show 1\nstop_voice 1\nwait\nbudget\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.result("bridge"), "-1") << r.text();
    EXPECT_TRUE(r.has("CRITICAL: cannot get MSP resources to bridge TDM to ")) << r.text();
    EXPECT_EQ(r.frame("FC_THC_MODE_ENABLE"), nullptr);
    EXPECT_EQ(r.count("BUDGET -100"), 2) << r.text();
    EXPECT_TRUE(r.has("BUDGET -85"));
    EXPECT_TRUE(r.has("CALL 0 msp_state=1 active=0x1 reserved=0x0 ")) << r.text();
    EXPECT_TRUE(r.has("CALL 1 msp_state=1 active=0x1 reserved=0x0 "));
    EXPECT_EQ(r.result("stop_voice"), "0");
    EXPECT_FALSE(r.has("No matching partner"));
}

TEST(MediaBridge, CallJoinedWithAnotherUnitsTimeslot)
{
    harness_run r = run_harness(bridge_pair + "app host_ip_lan=10.0.0.1 remote_bridging_offset=41000\n"
                                              "call 0 remote_timeslot=100 tos=184\nsetup_voice 0\nwait\necho REMOTE\n"
                                              "remote_bridge 0\nwait\nshow 0\nstop_voice 0\nwait\n",
                                {}, true);
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.pcap_fields, r.frame_fields());
    EXPECT_EQ(r.result("remote_bridge"), "0") << r.text();
    EXPECT_TRUE(r.has("local_ts 5 remote_ts 100"));
    size_t at = index_of(r, "FC_THC_MODE_ENABLE");
    ASSERT_GE(at, 3u) << r.text();
    names_t n = r.names();
    EXPECT_EQ(names_t(n.begin() + (long)at - 3, n.begin() + (long)at + 3),
              (names_t{"FC_SUPVSR_CREATE_CHANNEL", "FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VOPENA", "FC_THC_MODE_ENABLE",
                       "FC_THC_MODE_ENABLE", "FC_THC_REDIRECT_RX"}));
    EXPECT_EQ(field(&r.frames[at - 3], "timeslot"), 100);
    const json_value *ip = &r.frames[at - 2];
    EXPECT_EQ(field(ip, "udp_source_port"), 41000);
    EXPECT_EQ(field(ip, "udp_destination_port"), 41000);
    EXPECT_EQ(field(ip, "tos"), 184);
    EXPECT_EQ(field(ip, "source_address_word_2"), 1);
    EXPECT_EQ(field(&r.frames[at - 1], "payload_type"), 8);
    EXPECT_EQ(field(&r.frames[at + 2], "peer_timeslot"), 100);
    EXPECT_TRUE(r.has("CALL 0 msp_state=16 active=0x4000000 reserved=0x0 remote_bridging=0x0 ")) << r.text();
    // The stop destroys both channels.
    EXPECT_TRUE(r.state["channels"].o.empty()) << r.text();
}

TEST(MediaBridge, RemoteBridgeRefusedWithoutBudget)
{
    harness_run r = run_harness(bridge_pair + "call 0 remote_timeslot=100\napp free_channels=20\nremote_bridge 0\n"
                                              "budget\nshow 0\n");
    EXPECT_EQ(r.result("remote_bridge"), "-1") << r.text();
    EXPECT_TRUE(r.has("CRITICAL: cannot get MSP resources to bridge (2)")) << r.text();
    EXPECT_TRUE(r.has("BUDGET 20"));
    EXPECT_TRUE(r.names().empty());
}

TEST(MediaRtpStat, QueryOnlyForActiveVoiceCalls)
{
    harness_run r = run_harness(bridge_pair + "setup_voice 0\nwait\necho STAT\nrtp_stat 0\nwait\n"
                                              "call 0 state=2\nrtp_stat 0\nwait\ncall 0 timeslot=-1\nrtp_stat 0\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    const json_value *q = r.frame("FC_VOIP_RTCPSTAT");
    ASSERT_TRUE(q) << r.text();
    EXPECT_EQ(r.names().back(), "FC_VOIP_RTCPSTAT");
    EXPECT_EQ((*q)["class"].num(), 2);
    EXPECT_EQ((*q)["type"].num(), 1);
    EXPECT_EQ(channel_of(q), sim_channel(r, 5));
    int queries = 0;
    for (const json_value &f : r.frames)
        queries += f["name"].str() == "FC_VOIP_RTCPSTAT";
    EXPECT_EQ(queries, 1);
}

} // namespace
