// Voice channels against the simulated media processor, driven through
// mediaharness: the set-up's command sequence and refusals, the in-place
// update of a transcoding channel, the re-pointing and the stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "media_harness_run.h"

namespace {

using names_t = std::vector<std::string>;

// An ISDN-to-SIP call on timeslot 5: PCMA to 192.168.1.20:40000 from 30000,
// no SIP stack, default call configuration.
const char *const isdn_call =
    "call 0 kind=ISDN_TO_SIP timeslot=5 codec=8 payload=8 te=101 remote_ip=192.168.1.20 remote_port=40000 "
    "local_port=30000\n";

const names_t default_sequence = {
    "FC_SUPVSR_CREATE_CHANNEL", "FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VCEOPT", "FC_VOIP_TONEOPT",
    "FC_VOIP_ECHOCAN",          "FC_VOIP_DTMFOPT",       "FC_IPDTMF_CTRL", "FC_VOIP_INDCTRL",
    "FC_VOIP_PTMNG",            "FC_VOIP_VOPENA"};

long field(const json_value *f, const std::string &name)
{
    return f ? f->operator[]("fields")[name].num() : -1;
}

// 30 key bytes: first + i.
std::string key_hex(int first, int bytes = 30)
{
    std::string h;
    char b[3];
    for (int i = 0; i < bytes; i++) {
        snprintf(b, sizeof b, "%02x", (first + i) & 0xFF);
        h += b;
    }
    return h;
}

TEST(MediaVoice, IsdnToSipCallSetUpAndStop)
{
    harness_run r = run_harness(std::string(isdn_call) + "setup_voice 0\nwait\nshow 0\nstop_voice 0\nwait\nshow 0\n",
                                {}, true);
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.result("setup_voice"), "0");
    EXPECT_EQ(r.result("stop_voice"), "0");
    names_t want = default_sequence;
    want.insert(want.end(), {"FC_VOIP_VOPENA", "FC_SUPVSR_DESTROY_CHANNEL"});
    EXPECT_EQ(r.names(), want) << r.text();

    EXPECT_EQ(field(r.frame("FC_SUPVSR_CREATE_CHANNEL"), "timeslot"), 5);
    const json_value *ip = r.frame("FC_SET_IP_HDR_CHANNEL");
    EXPECT_EQ(field(ip, "destination_address_word_1"), 49320);
    EXPECT_EQ(field(ip, "destination_address_word_2"), 276);
    EXPECT_EQ(field(ip, "udp_source_port"), 30000);
    EXPECT_EQ(field(ip, "udp_destination_port"), 40000);
    EXPECT_EQ(field(ip, "tos"), 160);
    const json_value *on = r.frame("FC_VOIP_VOPENA");
    EXPECT_EQ(field(on, "channel_mode"), 1);
    EXPECT_EQ(field(on, "payload_type"), 8);
    EXPECT_EQ(field(r.frame("FC_VOIP_VOPENA", 10), "channel_mode"), 0);
    for (const json_value &f : r.frames)
        EXPECT_TRUE(f["problems"].a.empty()) << f["name"].str();

    // The media state before and after, and the simulator's channels.
    EXPECT_TRUE(r.has("CALL 0 msp_state=1 active=0x1 ")) << r.text();
    EXPECT_TRUE(r.has("CALL 0 msp_state=0 active=0x0 ")) << r.text();
    EXPECT_TRUE(r.state["channels"].o.empty());
    EXPECT_TRUE(r.has("IFACE call_stop_rtp pid=100 lock=1"));
    EXPECT_TRUE(r.has("IFACE call_get_law_setting pid=100"));

    // tshark reads the same function codes and lengths.
    EXPECT_EQ(r.pcap_fields, r.frame_fields());
}

struct setup_case {
    const char *name;
    std::string script;       // after the ISDN call, before "setup_voice 0"
    const char *result;
    const char *log;          // a line that must appear ("" for none)
    std::vector<std::string> commands; // empty: the default sequence
    std::string after = "";   // commands after the set-up
};

TEST(MediaVoice, SetUpCases)
{
    const std::string k80in = key_hex(0x10), k80out = key_hex(0x80);
    const std::vector<setup_case> cases = {
        {"remote port 0", "call 0 remote_port=0\n", "-1",
         "couldn't start channel processing, remote port not available!", {"-"}},
        {"timeslot -1", "call 0 timeslot=-1\n", "-1",
         "couldn't start channel processing, do not have a valid timeslot yet!", {"-"}},
        {"timeslot 512", "call 0 timeslot=512\n", "-1",
         "couldn't start channel processing, do not have a valid timeslot yet!", {"-"}},
        {"timeslot 511", "call 0 timeslot=511\n", "0", "timeslot 511 remote port 40000!", {}},
        {"no early audio", "opt 0 ea=0\n", "-1",
         "not starting channel processing now, early audio not active!", {"-"}},
        {"no early audio, connected", "opt 0 ea=0\ncall 0 connection_established\n", "0", "", {}},
        {"jbopt valid", "opt 0 jbopt=10:200:50:1000:1:0:100\n", "0", "",
         {"FC_SUPVSR_CREATE_CHANNEL", "FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VCEOPT", "FC_VOIP_TONEOPT",
          "FC_VOIP_ECHOCAN", "FC_VOIP_DTMFOPT", "FC_IPDTMF_CTRL", "FC_VOIP_JBOPT", "FC_VOIP_INDCTRL",
          "FC_VOIP_PTMNG", "FC_VOIP_VOPENA"}},
        {"jbopt adaption 999", "opt 0 jbopt=10:200:50:999:1:0:100\n", "0",
         "jbopt_string 10:200:50:999:1:0:100 not valid -> ignoring it", {}},
        {"jbopt max 301", "opt 0 jbopt=10:301:50:1000:1:0:100\n", "0",
         "jbopt_string 10:301:50:1000:1:0:100 not valid -> ignoring it", {}},
        {"jbopt max below min", "opt 0 jbopt=100:50:50:1000:1:0:100\n", "0",
         "jbopt_string 100:50:50:1000:1:0:100 not valid -> ignoring it", {}},
        {"jbopt six fields", "opt 0 jbopt=10:200:50:1000:1:0\n", "0",
         "jbopt_string 10:200:50:1000:1:0 not valid -> ignoring it", {}},
        {"restart suppression", "opt 0 msp_no_channel_restart=1\n", "0",
         "msp_no_channel_restart: voice channel already active: locport 30000 remport 40000 remip 192.168.1.20 codec 8",
         {}, "setup_voice 0\n"},
        {"no ethernet header without a MAC", "app rtp_traffic=1\ncall 0 remote_ip=127.0.0.2\n", "0", "", {}},
        {"SRTP 80-bit suite",
         "opt 0 srtp_mode=optional\ncrypto 0 offer=2 suite=1 in=" + k80in + " out=" + k80out + " out_sdp=x\n", "0", "",
         {"FC_SUPVSR_CREATE_CHANNEL", "FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VCEOPT", "FC_VOIP_TONEOPT",
          "FC_VOIP_ECHOCAN", "FC_VOIP_DTMFOPT", "FC_IPDTMF_CTRL", "FC_VOIP_INDCTRL", "FC_VOIP_PTMNG",
          "FC_CIPHER_SRTP_OPT", "FC_CIPHER_SRTP_KEY_DERIVATION", "FC_CIPHER_SRTP_OPT",
          "FC_CIPHER_SRTP_KEY_DERIVATION", "FC_VOIP_VOPENA"}},
        {"SRTP 32-bit suite, answer made first",
         "opt 0 srtp_mode=optional\ncrypto 0 offer=2 suite=2 in=" + k80in + " out=" + k80out + "\n", "0",
         "", {"FC_SUPVSR_CREATE_CHANNEL", "FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VCEOPT", "FC_VOIP_TONEOPT",
              "FC_VOIP_ECHOCAN", "FC_VOIP_DTMFOPT", "FC_IPDTMF_CTRL", "FC_VOIP_INDCTRL", "FC_VOIP_PTMNG",
              "FC_CIPHER_SRTP_OPT", "FC_CIPHER_SRTP_KEY_DERIVATION", "FC_CIPHER_SRTP_OPT",
              "FC_CIPHER_SRTP_KEY_DERIVATION", "FC_VOIP_VOPENA"}},
        {"SRTP key too short",
         "opt 0 srtp_mode=optional\ncrypto 0 offer=2 suite=1 in=" + key_hex(0x10, 20) + " out=" + k80out +
             " out_sdp=x\n",
         "0", "CRITICAL: SRTP keys not loaded: outbound key 30 bytes, inbound key 20 bytes, 30 needed", {}},
        {"SRTP off by mode", "crypto 0 offer=2 suite=1 in=" + k80in + " out=" + k80out + "\n", "0", "", {}},
        {"codec without resource", "call 0 codec=1\n", "-1", "CRITICAL: Couldn't evaluate codec 1", {"-"}},
    };
    for (const setup_case &c : cases) {
        SCOPED_TRACE(c.name);
        harness_run r = run_harness(std::string(isdn_call) + c.script + "setup_voice 0\n" + c.after + "wait\nshow 0\n");
        ASSERT_EQ(r.proc.status, 0) << r.text();
        EXPECT_EQ(r.result("setup_voice"), c.result) << r.text();
        if (c.log[0]) {
            EXPECT_TRUE(r.has(c.log)) << r.text();
        }
        names_t want = c.commands.empty() ? default_sequence : c.commands;
        if (want == names_t{"-"})
            want.clear();
        EXPECT_EQ(r.names(), want) << r.text();
        const std::string name = c.name;
        if (name == "restart suppression") {
            EXPECT_EQ(r.result("setup_voice", 1), "0");
        }
        if (name == "timeslot 511") {
            EXPECT_EQ(field(r.frame("FC_SUPVSR_CREATE_CHANNEL"), "timeslot"), 511);
        }
        if (name == "jbopt valid") {
            const json_value *j = r.frame("FC_VOIP_JBOPT");
            EXPECT_EQ(field(j, "delay_min"), 10);
            EXPECT_EQ(field(j, "delay_max"), 200);
            EXPECT_EQ(field(j, "adaption_period"), 1000);
            EXPECT_EQ(field(j, "deletion_threshold"), 100);
        }
        if (name == "no ethernet header without a MAC") {
            EXPECT_NE(r.proc.err.find("failed getting mac"), std::string::npos);
            // The loopback rewrite does not touch other loopback addresses.
            EXPECT_EQ(field(r.frame("FC_SET_IP_HDR_CHANNEL"), "destination_address_word_2"), 2);
        }
        if (name.rfind("SRTP", 0) != 0)
            continue;
        bool loaded = c.commands.size() > 10;
        EXPECT_TRUE(r.has(loaded ? "srtp_enabled=1" : "srtp_enabled=0")) << r.text();
        EXPECT_EQ(r.has("IFACE call_crypto_update pid=100 mode=3"), name == "SRTP 32-bit suite, answer made first");
        if (!loaded)
            continue;
        bool b32 = name.find("32") != std::string::npos;
        const json_value *o0 = r.frame("FC_CIPHER_SRTP_OPT");
        EXPECT_EQ(field(o0, "direction_configuration"), 0);
        EXPECT_EQ(field(o0, "encryption"), 1);
        EXPECT_EQ(field(o0, "authentication_tag_size"), b32 ? 4 : 10);
        EXPECT_EQ(field(o0, "master_salt_key_size"), 112);
        // Direction 0 takes the outbound key, 1 the inbound key, the earlier
        // byte of each word in its low half.
        const json_value *k0 = r.frame("FC_CIPHER_SRTP_KEY_DERIVATION");
        const json_value *k1 = r.frame("FC_CIPHER_SRTP_KEY_DERIVATION", 11);
        ASSERT_TRUE(k0 && k1);
        EXPECT_EQ((*k0)["len"].num(), 83);
        EXPECT_EQ((*k0)["hex"].str().substr(64, 60), k80out);
        EXPECT_EQ((*k1)["hex"].str().substr(64, 60), k80in);
        EXPECT_EQ(field(k1, "direction_configuration"), 1);
        EXPECT_EQ(field(k0, "srtp_max_lifetime_bytes_5_and_4"), 0xFFFF);
    }
}

TEST(MediaVoice, PacketSizeOfClearmodeOnAlaw)
{
    for (int clearmode : {20, 12}) {
        SCOPED_TRACE(clearmode);
        harness_run r = run_harness(std::string(isdn_call) + "opt 0 rtp_packet_size=30,clearmode_on_alaw=" +
                                    std::to_string(clearmode) + "\nsetup_voice 0\n");
        ASSERT_EQ(r.result("setup_voice"), "0") << r.text();
        EXPECT_EQ(field(r.frame("FC_VOIP_VCEOPT"), "voice_packetization_interval"), clearmode == 20 ? 20 : 30);
        const json_value *pt = r.frame("FC_VOIP_PTMNG");
        EXPECT_EQ(field(pt, "clear_channel"), 8);
        EXPECT_EQ(field(pt, "g711a"), 255);
        EXPECT_EQ(field(pt, "dtmf"), 101);
    }
}

// The RTP DTMF relay flag: off when either leg's DTMF mode is inband (1) or
// info (2), else the passthrough option; inband also stops filtering.
TEST(MediaVoice, RelayFlagTruthTable)
{
    struct {
        const char *options;
        int dtmf_in_rtp; // -1: left at its default
        int filter_tdm_after;
        int passthrough_after;
    } rows[] = {
        {"dtmfmode=rfc2833,rfc2833_dtmf_passthrough=1", 1, 1, 1},
        {"dtmfmode=rfc2833,rfc2833_dtmf_passthrough=0", -1, 1, 0},
        {"dtmfmode=inband,rfc2833_dtmf_passthrough=1", -1, 0, 0},
        {"dtmfmode=info,rfc2833_dtmf_passthrough=1", -1, 1, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.options);
        harness_run r = run_harness(std::string(isdn_call) + "call 0 filter_tdm\nopt 0 " + row.options +
                                    "\nsetup_voice 0\nwait\nshow 0\n");
        ASSERT_EQ(r.result("setup_voice"), "0") << r.text();
        const json_value *d = r.frame("FC_VOIP_DTMFOPT");
        ASSERT_TRUE(d);
        if (row.dtmf_in_rtp == 1) {
            EXPECT_EQ(field(d, "dtmf_in_rtp"), 1);
            EXPECT_EQ(field(d, "dtmf_in_rtp_redundancy_scheme"), 1);
        } else {
            EXPECT_EQ(field(d, "dtmf_in_rtp"), 0);
        }
        // Filtering from the TDM side keeps DTMF out of the voice.
        EXPECT_EQ(field(d, "dtmf_in_voice"), row.filter_tdm_after ? 0 : 1);
        EXPECT_TRUE(r.has("filter_tdm=" + std::to_string(row.filter_tdm_after) +
                          " rfc2833=" + std::to_string(row.passthrough_after)))
            << r.text();
    }
}

TEST(MediaVoice, ClashingCallLosesTheTimeslot)
{
    harness_run r = run_harness("call 1 kind=ISDN_TO_SIP timeslot=5 codec=0 payload=0 remote_ip=192.168.1.21 "
                                "remote_port=40002 local_port=30002\nsetup_voice 1\nwait\n" +
                                std::string(isdn_call) + "setup_voice 0\nwait\nshow 1\nshow 0\n");
    ASSERT_EQ(r.result("setup_voice", 1), "0") << r.text();
    EXPECT_TRUE(r.has("CRITICAL: found other call at index 1 using timeslot 5 => stopping stream processing of other "
                      "call (ocotdm 5)"))
        << r.text();
    EXPECT_TRUE(r.has("IFACE call_stop_rtp pid=101 lock=1"));
    EXPECT_TRUE(r.has("CALL 1 msp_state=0 active=0x0 reserved=0x0 remote_bridging=0x0 timeslot=-1")) << r.text();
    names_t after = r.names(10);
    names_t want = {"FC_VOIP_VOPENA", "FC_SUPVSR_DESTROY_CHANNEL"};
    want.insert(want.end(), default_sequence.begin(), default_sequence.end());
    EXPECT_EQ(after, want);
    ASSERT_EQ(r.state["channels"].o.size(), 1u);
    EXPECT_EQ(r.state["channels"].o.begin()->second["ip_destination"].str(), "192.168.1.20:40000");
}

TEST(MediaVoice, Stops)
{
    // A bridged call whose partner is gone destroys its own channel.
    harness_run r = run_harness(std::string(isdn_call) + "call 0 msp_state=4\nstop_voice 0\nshow 0\n"
                                "call 1 kind=ISDN_TO_SIP timeslot=6 msp_state=0\nstop_voice 1\nstop_t38 1\n"
                                "stop_hdlc 1\nstop_tone 1\n");
    EXPECT_EQ(r.result("stop_voice"), "0") << r.text();
    EXPECT_TRUE(r.has("CRITICAL: No matching partner co found for ending bridging")) << r.text();
    EXPECT_TRUE(r.has("CALL 0 msp_state=0 ")) << r.text();
    EXPECT_EQ(r.names(), names_t{"FC_SUPVSR_DESTROY_CHANNEL"});
    // Nothing runs on call 1: every stop refuses and queues nothing.
    for (const char *stop : {"stop_voice", "stop_t38", "stop_hdlc", "stop_tone"})
        EXPECT_EQ(r.result(stop, std::string(stop) == "stop_voice" ? 1 : 0), "-1") << stop;

    // A remote bridge destroys both timeslots and gives back both resources.
    harness_run rb = run_harness(std::string(isdn_call) + "call 0 msp_state=16 remote_timeslot=9\nstop_voice 0\nshow 0\n");
    EXPECT_EQ(rb.result("stop_voice"), "0") << rb.text();
    EXPECT_EQ(rb.names(), (names_t{"FC_SUPVSR_DESTROY_CHANNEL", "FC_SUPVSR_DESTROY_CHANNEL"}));
    EXPECT_TRUE(rb.has("CALL 0 msp_state=0 active=0x0 reserved=0x0 remote_bridging=0x0 timeslot=5 remote_timeslot=-1"))
        << rb.text();
}

TEST(MediaVoice, TransconnectUpdate)
{
    // A running PCMA channel re-programmed for G.729.
    harness_run r = run_harness(std::string(isdn_call) + "setup_voice 0\nwait\ncall 0 codec=18 payload=18\n"
                                "transconnect 0\nwait\nshow 0\ncall 0 codec=1\ntransconnect 0\nwait\nshow 0\n");
    EXPECT_EQ(r.result("transconnect"), "0") << r.text();
    names_t want = {"FC_VOIP_VOPENA", "FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VCEOPT", "FC_VOIP_TONEOPT",
                    "FC_VOIP_ECHOCAN", "FC_VOIP_DTMFOPT", "FC_IPDTMF_CTRL", "FC_VOIP_INDCTRL",
                    "FC_VOIP_PTMNG", "FC_VOIP_DTMFOPT", "FC_VOIP_VOPENA"};
    names_t all = r.names();
    ASSERT_GE(all.size(), 10 + want.size()) << r.text();
    names_t update(all.begin() + 10, all.begin() + 10 + (long)want.size());
    EXPECT_EQ(update, want);
    EXPECT_EQ(field(r.frame("FC_VOIP_VOPENA", 10), "channel_mode"), 0);
    EXPECT_EQ(field(r.frame("FC_VOIP_VOPENA", 11), "payload_type"), 18);
    // G.729a is resource type 6.
    EXPECT_TRUE(r.has("CALL 0 msp_state=1 active=0x40 ")) << r.text();

    // Codec 1 has no resource: the channel is switched off and stays off.
    EXPECT_EQ(r.result("transconnect", 1), "-1");
    EXPECT_TRUE(r.has("CRITICAL: Couldn't evaluate codec 1"));
    EXPECT_EQ(r.names(10 + want.size()), names_t{"FC_VOIP_VOPENA"});
    EXPECT_EQ(field(&r.frames.back(), "channel_mode"), 0);
    EXPECT_TRUE(r.has("CALL 0 msp_state=0 active=0x0 ")) << r.text();
    ASSERT_EQ(r.state["channels"].o.size(), 1u);
    EXPECT_EQ(r.state["channels"].o.begin()->second["vopena"].num(), 0);
}

TEST(MediaVoice, UpdateChannelRepointsTheRemoteEndpoint)
{
    harness_run r = run_harness(std::string(isdn_call) + "app msp_mspside_ip=192.168.2.2\nsetup_voice 0\nwait\n"
                                "call 0 remote_ip=192.168.1.30 remote_port=41000 tos=184\nupdate 0\n");
    EXPECT_EQ(r.result("update"), "0") << r.text();
    EXPECT_TRUE(r.has("MSP updating rtp settings for pid 100, remote ip 192.168.1.30:41000 !"));
    const json_value *ip = r.frame("FC_SET_IP_HDR_CHANNEL", 10);
    EXPECT_EQ(field(ip, "source_address_word_1"), 192 * 256 + 168);
    EXPECT_EQ(field(ip, "source_address_word_2"), 2 * 256 + 2);
    EXPECT_EQ(field(ip, "udp_destination_port"), 41000);
    EXPECT_EQ(field(ip, "tos"), 184);
    EXPECT_EQ(r.state["channels"].o.begin()->second["ip_destination"].str(), "192.168.1.30:41000");
}

// Rows that options switch on, with and without call control's entries.
TEST(MediaVoice, OptionRowsAndHookEntries)
{
    const std::string opts = "opt 0 dtmfdpar=40:50:10,dtmftune=20:70:30:300:2:5,dgain_pcm_to_packet=3,"
                             "comfort_noise=1,rtp_traffic_check=2\n";
    harness_run r = run_harness(std::string(isdn_call) + opts + "setup_voice 0\nwait\nshow 0\n");
    ASSERT_EQ(r.result("setup_voice"), "0") << r.text();
    EXPECT_EQ(r.names(), (names_t{"FC_SUPVSR_CREATE_CHANNEL", "FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VCEOPT",
                                  "FC_VOIP_TONEOPT", "FC_VOIP_ECHOCAN", "FC_VOIP_DTMFDPAR", "FC_VOIP_DTMFTUNE",
                                  "FC_VOIP_DTMFOPT", "FC_IPDTMF_CTRL", "FC_VOIP_INDCTRL", "FC_VOIP_PTMNG",
                                  "FC_VOIP_DGAIN", "FC_VOIP_RTCP_ENA", "FC_VOIP_VOPENA"}));
    const json_value *dpar = r.frame("FC_VOIP_DTMFDPAR");
    EXPECT_EQ(field(dpar, "minimum_valid_tone_on_time"), 40);
    EXPECT_EQ(field(dpar, "minimum_valid_tone_dropout_time"), 10);
    EXPECT_EQ(field(r.frame("FC_VOIP_DTMFTUNE"), "dtmf_control"), 5);
    EXPECT_EQ(field(r.frame("FC_VOIP_DGAIN"), "dgain_pcm_to_packet"), 3);
    EXPECT_EQ(field(r.frame("FC_VOIP_VCEOPT"), "voice_activity_detector"), 1);
    EXPECT_TRUE(r.has("dtmf_as_eventdet=1")) << r.text();
    EXPECT_TRUE(r.has("rtp_stat_timer=1")) << r.text();

    // Without call control's entries their steps are skipped, each said once.
    harness_run n = run_harness("hooks none\n" + std::string(isdn_call) + opts +
                                "setup_voice 0\nwait\nstop_voice 0\nsetup_voice 0\nwait\nshow 0\n");
    EXPECT_EQ(n.result("setup_voice", 1), "0") << n.text();
    for (const char *entry : {"call_stop_rtp", "call_get_law_setting", "cb_timer_event", "parse_dtmf_tune_params"})
        EXPECT_EQ(n.count(std::string("media: call control's ") + entry + " is not built yet, its step is skipped"), 1)
            << entry << n.text();
    EXPECT_EQ(n.frame("FC_VOIP_DTMFTUNE"), nullptr);
    EXPECT_TRUE(n.has("rtp_stat_timer=0")) << n.text();
    EXPECT_FALSE(n.has("IFACE "));

    // The energy detector of a SIP-to-FXO call with a call-progress table.
    harness_run f = run_harness("call 0 kind=SIP_TO_ANALOG analog_port=2 analog_type=2 timeslot=102 codec=0 "
                                "payload=0 remote_ip=10.0.0.9 remote_port=4000 local_port=3000\n"
                                "opt 0 s2fxo_cpt=fxo,ntdet_params=300:20\nsetup_voice 0\n");
    ASSERT_EQ(f.result("setup_voice"), "0") << f.text();
    EXPECT_TRUE(f.has("NTDET PARAMS 300 20 180")) << f.text();
    const json_value *nt = f.frame("FC_VOIP_NTENERGY_SET");
    ASSERT_TRUE(nt);
    // Level 300 in nine bits (detector enabled), SNR 180, period 20.
    EXPECT_EQ((*nt)["hex"].str().substr(16, 8), "2c01b414");
    EXPECT_EQ(field(f.frame("FC_VOIP_CNTRYCODE"), "filter_country_code"), 13);
}

// With lock flag 0 the caller holds msp_queue_lock for the whole sequence,
// caller-ID detection included.
TEST(MediaVoice, SetUpUnderTheCallersLockFinishes)
{
    harness_run r = run_harness("app analog=3:2:0\ncall 0 kind=ANALOG_TO_SIP analog_port=3 analog_type=2 state=1 "
                                "timeslot=103 codec=0 payload=0 remote_ip=10.0.0.9 remote_port=4000 local_port=3000 "
                                "dummy_rtp\nlocked setup_voice 0\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.result("setup_voice"), "0") << r.text();
    EXPECT_TRUE(r.has("IFACE call_stop_rtp pid=100 lock=0"));
    names_t n = r.names();
    ASSERT_FALSE(n.empty());
    EXPECT_EQ(n.back(), "FC_CNDDETCTL");
    EXPECT_NE(std::find(n.begin(), n.end(), "FC_VOIP_CNTRYCODE"), n.end());
    const json_value *cnd = r.frame("FC_CNDDETCTL");
    EXPECT_EQ(field(cnd, "caller_id_detection_feature_enable"), 1);
    // The dummy RTP destination.
    EXPECT_EQ(r.state["channels"].o.begin()->second["ip_destination"].str(), "127.0.0.1:9");
}

} // namespace
