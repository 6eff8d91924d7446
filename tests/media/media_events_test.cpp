// What the media processor reports reaches the calls: indications raised by
// the simulated media processor go through the library's dispatcher into
// the daemon's event handler, driven through mediaharness; what call control
// is asked to do is recorded by the harness's stand-ins.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "media_harness_run.h"

namespace {

// An ISDN-to-SIP call with a voice channel on timeslot 5, and the daemon's
// handler in place.
const char *const isdn_call =
    "events callctl\n"
    "call 0 kind=ISDN_TO_SIP timeslot=5 codec=8 payload=8 te=101 remote_ip=192.168.1.20 remote_port=40000 "
    "local_port=30000 state=2 machine=1\n"
    "setup_voice 0\nwait\n";

struct indicated {
    const char *name;
    std::string before; // harness lines that prepare the call
    std::string indication;
    std::vector<std::string> want;    // lines that must appear
    std::vector<std::string> absent;  // lines that must not
};

TEST(MediaEvents, IndicationsReachTheCall)
{
    const std::vector<indicated> table = {
        {"NTE event from the packet side", "",
         R"(indicate 0 FC_VOIP_NTERECVD {"nte_payload_event":5})",
         {"IFACE process_dtmf pid=100 from=1 digit=5", "S IND : GOT NTE EVENT 5", "regen_tdm=1"}, {}},
        {"EVENTDET digit on ISDN with dtmf_as_eventdet", "call 0 dtmf_as_eventdet=1\n",
         R"(indicate 0 FC_VOIP_EVENTDET {"tone_detected_indication":5})",
         {"IFACE process_dtmf pid=100 from=0 digit=5"}, {"GOT TONE EVENT"}},
        {"EVENTDET on an analog call without the flag is classified", "call 0 kind=ANALOG_TO_SIP analog_port=3\n",
         R"(indicate 0 FC_VOIP_EVENTDET {"tone_detected_indication":5})",
         {"A IND : GOT TONE EVENT  0x5 => 5"}, {"IFACE process_dtmf"}},
        {"energy on the line runs the machine at once", "",
         R"(indicate 0 FC_VOIP_NTENERGY_DET {})", {"IFACE do_statemachine_run pid=100 event=0x3000101a arg=0"}, {}},
        {"caller ID sent with message waiting", "call 0 message_waiting=1\n", R"(indicate 0 FC_CND_DONE {})",
         {"IFACE add_sm_task pid=100 event=0x3000200d"}, {}},
        {"caller ID sent without message waiting", "", R"(indicate 0 FC_CND_DONE {})", {}, {"IFACE add_sm_task"}},
        {"inband DTMF found on the IP side", "", R"(indicate 0 FC_INBAND_DTMF_DET {"tone_id":7})",
         {"IFACE process_dtmf pid=100 from=1 digit=7", "O IND : IP inband tonedetect 0x7 7", "inband_detected=1"}, {}},
        {"inband tone above 15 is no digit", "", R"(indicate 0 FC_INBAND_DTMF_DET {"tone_id":16})",
         {"inband_detected=1"}, {"IFACE process_dtmf"}},
        {"REMDET without feature codes", "", R"(indicate 0 FC_VOIP_REMDET {"event":3,"remote_packet_type":1})",
         {"P IND : REMDET: Event 0x3, Type: 0x1"}, {"IFACE process_dtmf"}},
        {"tone generation finished", "", R"(indicate 0 FC_VOIP_TCMPLT {})", {"tonegen_index=1"}, {}},
        {"tone detector digit", "", R"(indicate 0 FC_VOIP_TONEDET {"tone_detect_value":9})",
         {"IFACE process_dtmf pid=100 from=0 digit=9", "P IND : TONE DETECT 0x09"}, {}},
        {"2100 Hz answer tone switches the echo canceller off", "opt 0 ec=1\n",
         R"(indicate 0 FC_VOIP_IPTONEDET {"ans_confirmed_detection_2100Hz":1})", {"echo_cancel=0", "IP-Tonedetect "},
         {}},
    };
    for (const indicated &c : table) {
        harness_run r = run_harness(std::string(isdn_call) + c.before + c.indication + "\nwait\nshow 0\n");
        ASSERT_EQ(r.proc.status, 0) << c.name << "\n" << r.text();
        EXPECT_TRUE(r.has("INDICATED")) << c.name << "\n" << r.text();
        for (const std::string &w : c.want)
            EXPECT_TRUE(r.has(w)) << c.name << ": " << w << "\n" << r.text();
        for (const std::string &a : c.absent)
            EXPECT_FALSE(r.has(a)) << c.name << ": " << a << "\n" << r.text();
    }
}

TEST(MediaEvents, AnswerToneSendsOneEchoCancellerOff)
{
    harness_run r = run_harness(std::string(isdn_call) + "opt 0 ec=1\n" +
                                R"(indicate 0 FC_VOIP_IPTONEDET {"ans_confirmed_detection_2100Hz":1})" "\nwait\n" +
                                R"(indicate 0 FC_VOIP_IPTONEDET {"ans_confirmed_detection_2100Hz":1})" "\nwait\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    // The set-up's own ECHOCAN, then exactly one more, all zero.
    int echocan = 0;
    for (const std::string &n : r.names())
        echocan += n == "FC_VOIP_ECHOCAN";
    EXPECT_EQ(echocan, 2) << r.text();
}

// Busy tones at the given seconds: whether the third raises BUSY.
TEST(MediaEvents, BusyNeedsThreeTonesWithinThreeSeconds)
{
    std::string tones = harness_file("events.tones", "[general]\ncountry=de\n[de]\ndial=425\nbusy=425/480,0/480\n"
                                                     "acp_event=50:0:0:DIAL,52:0:0:BUSY\n");
    struct times {
        int t[3];
        bool busy;
    };
    for (const times &c : {times{{100, 102, 104}, true}, times{{100, 102, 105}, false}}) {
        std::string script = "tones " + tones + "\n" + isdn_call + "call 0 kind=SIP_TO_ANALOG analog_port=2 country=de\n";
        for (int t : c.t)
            script += "app clock=" + std::to_string(t) + "\n" +
                      R"(indicate 0 FC_VOIP_EVENTDET {"tone_detected_indication":52})" + "\n";
        harness_run r = run_harness(script);
        ASSERT_EQ(r.proc.status, 0) << r.text();
        EXPECT_EQ(r.count("event=0x30001005"), c.busy ? 1 : 0) << c.t[2] << "\n" << r.text();
        EXPECT_EQ(r.has("A BUSY_TONE|INDICATION|CID=00100<br>port=2"), c.busy) << r.text();
    }
}

// The console's tone test classifies without raising events.
TEST(MediaEvents, ToneTestPrintsWhatItFinds)
{
    std::string tones = harness_file("tonetest.tones", "[general]\ncountry=de\n[de]\ndial=425\n"
                                                       "acp_event=50:0:0:DIAL,53:50:3:UNOBTAINABLE1\n");
    std::string script = "tones " + tones + "\n" + isdn_call + "call 0 country=de\napp tonetest=1 clock=200\n" +
                         R"(indicate 0 FC_VOIP_EVENTDET {"tone_detected_indication":50})" "\n" +
                         "app clock=202\n" + R"(indicate 0 FC_VOIP_EVENTDET {"tone_detected_indication":53})" "\n" +
                         "app clock=210\n" + R"(indicate 0 FC_VOIP_EVENTDET {"tone_detected_indication":53})" "\n";
    harness_run r = run_harness(script);
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_TRUE(r.has("basic detect 50 => time 200")) << r.text();
    EXPECT_TRUE(r.has("de: DIAL detected")) << r.text();
    // 53 counts only within 3 s of a 50.
    EXPECT_EQ(r.count("de: UNOBTAINABLE1 detected"), 1) << r.text();
    EXPECT_FALSE(r.has("IFACE do_statemachine_run")) << r.text();
}

// In the CAS passthrough test mode the first two calls replay each other's
// signals; 255 (end of tone) is not replayed.
TEST(MediaEvents, CasPassthroughReplaysSignals)
{
    std::string script = std::string(isdn_call) +
                         "call 1 kind=SIP_TO_CAS timeslot=6 codec=8 payload=8 remote_ip=192.168.1.21 remote_port=40002 "
                         "local_port=30002\nsetup_voice 1\nwait\napp cas_passthrough=1\n" +
                         R"(indicate 0 FC_VOIP_TONEDET {"tone_detect_value":255})" "\n" +
                         R"(indicate 0 FC_VOIP_TONEDET {"tone_detect_value":5})" "\n" +
                         R"(indicate 1 FC_VOIP_TONEDET {"tone_detect_value":3})" "\n";
    harness_run r = run_harness(script);
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.count("IFACE send_mfcr2_tone"), 2) << r.text();
    EXPECT_TRUE(r.has("IFACE send_mfcr2_tone pid=101 direction=3 signal=16 duration=200")) << r.text();
    EXPECT_TRUE(r.has("IFACE send_mfcr2_tone pid=100 direction=4 signal=59 duration=200")) << r.text();
    EXPECT_FALSE(r.has("IFACE process_dtmf")) << r.text();
}

// Statistics answers of a channel: the BERT counters are kept per channel,
// the SRTP counters printed.
TEST(MediaEvents, StatisticsOfAChannel)
{
    harness_run r = run_harness(std::string(isdn_call) + "stats 0 35\nstats 0 24\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_EQ(r.count("QUERIED"), 2) << r.text();
    EXPECT_TRUE(r.has("BERT STATISTICS FOR CHANNEL 0")) << r.text();
    EXPECT_TRUE(r.has("BERT 0 version=1 lock=0 stored=1")) << r.text();
    EXPECT_TRUE(r.has("SRTP STATISTICS FOR CHANNEL 0")) << r.text();
    EXPECT_EQ(r.count("SRTP__TXENCR 0000"), 4) << r.text();
    EXPECT_EQ(r.count("SRTCP_RXNAUT 0000"), 2) << r.text();
}

// A UDP socket on 127.0.0.1 standing for the media processor's end of a
// leg: the NAT probes of a transcoding call leave towards it.
struct probe_sink {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int port = 0;
    probe_sink()
    {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, (sockaddr *)&a, sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, (sockaddr *)&a, &len);
        port = ntohs(a.sin_port);
    }
    ~probe_sink() { close(fd); }
    std::vector<std::vector<unsigned char>> packets() const
    {
        std::vector<std::vector<unsigned char>> all;
        for (;;) {
            std::vector<unsigned char> b(2048);
            ssize_t n = recv(fd, b.data(), b.size(), MSG_DONTWAIT);
            if (n <= 0)
                return all;
            b.resize((size_t)n);
            all.push_back(b);
        }
    }
};

// The transcoding start's marked VOPENA: once the command thread has sent
// it, a burst of NAT probes leaves for each leg's port on the media
// processor's address, with the leg's codec.
TEST(MediaEvents, SentVopenaOpensBothLegs)
{
    probe_sink first, second;
    std::string call = "app tc_pool=200:4 msp_devip=127.0.0.1 eo_nat_probes_count=3\n"
                       "call 0 kind=SIP_TO_SIP timeslot=-1 using_ip=10.0.0.1 remote_ip=10.1.1.1 remote_port=40000 "
                       "local_port=" + std::to_string(first.port) +
                       " codec=8 payload=8 te=101 out.using_ip=10.0.0.1 out.remote_ip=10.1.1.2 out.remote_port=40002 "
                       "out.local_port=" + std::to_string(second.port) + " out.codec=0 out.payload=0 out.te=101\n";
    harness_run r = run_harness("events callctl\n" + call + "opt 0 s2s_nat_opener=1\ns2s_start 0\nwait\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_TRUE(r.has("Sending 3 nat opener packets, codec=8 payload=8 ip=127.0.0.1 port=" + std::to_string(first.port)))
        << r.text();
    std::vector<std::vector<unsigned char>> a = first.packets(), b = second.packets();
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(a[0].size(), 172u);
    EXPECT_EQ(a[0][1], 8);
    EXPECT_EQ(a[0][12], 0xD5);
    EXPECT_EQ(b[0][1], 0);
    EXPECT_EQ(b[0][12], 0xFF);
}

// The RTP statistics of an active call, as the simulated processor counts
// them: a channel whose far end went silent ends the call with reason 2 on
// the second answer; one that keeps receiving does not.
TEST(MediaEvents, StalledRtpEndsTheActiveCall)
{
    harness_run stalled = run_harness(std::string(isdn_call) +
                                      "rtp_feed 0 50\nrtcp 0\nrtp_stall 0\nrtp_feed 0 50\nrtcp 0\nrtcp 0\nshow 0\n");
    ASSERT_EQ(stalled.proc.status, 0) << stalled.text();
    EXPECT_EQ(stalled.count("QUERIED"), 3) << stalled.text();
    EXPECT_EQ(stalled.count("IFACE add_sm_task pid=100 event=0x30001002"), 2) << stalled.text();
    EXPECT_TRUE(stalled.has("reason=2 seq=50:50")) << stalled.text();
    EXPECT_TRUE(stalled.has("No RTP received for a while for active call => finishing call")) << stalled.text();

    harness_run counting =
        run_harness(std::string(isdn_call) + "rtp_feed 0 50\nrtcp 0\nrtp_feed 0 50\nrtcp 0\nshow 0\n");
    ASSERT_EQ(counting.proc.status, 0) << counting.text();
    EXPECT_FALSE(counting.has("IFACE add_sm_task")) << counting.text();
    EXPECT_TRUE(counting.has("reason=0 seq=50:100")) << counting.text();

    // Not active: the pair moves, the samples kept as -1, nothing else.
    harness_run ringing = run_harness(std::string(isdn_call) + "call 0 state=1\nrtp_stall 0\nrtcp 0\nrtcp 0\nshow 0\n");
    EXPECT_FALSE(ringing.has("IFACE add_sm_task")) << ringing.text();
    EXPECT_TRUE(ringing.has("reason=0 seq=-1:-1")) << ringing.text();

    // Answered just before a sample, the caller silent so far: the sample
    // taken while ringing is no base, the call ends only on the next one.
    harness_run answered = run_harness(std::string(isdn_call) +
                                       "call 0 state=1\nrtp_stall 0\nrtcp 0\ncall 0 state=2\nrtcp 0\nshow 0\n");
    EXPECT_FALSE(answered.has("IFACE add_sm_task")) << answered.text();
    EXPECT_TRUE(answered.has("reason=0 seq=-1:0")) << answered.text();
    harness_run silent = run_harness(std::string(isdn_call) +
                                     "call 0 state=1\nrtp_stall 0\nrtcp 0\ncall 0 state=2\nrtcp 0\nrtcp 0\nshow 0\n");
    EXPECT_EQ(silent.count("IFACE add_sm_task pid=100 event=0x30001002"), 1) << silent.text();
    EXPECT_TRUE(silent.has("reason=2 seq=0:0")) << silent.text();
}

// An HDLC frame longer than the receive buffer: the first 2048 bytes are
// kept, the rest dropped with a line, nothing written past the buffer (the
// sanitizer tree runs this too).
TEST(MediaEvents, LongHdlcFrameIsCutAtTheBuffer)
{
    std::string words;
    for (int i = 0; i < 120; i++)
        words += (i ? "," : "") + std::to_string(0x4241); // "AB"
    std::string chunk = R"(indicate 0 FC_SYNCDAT {"payload":[)" + words + "]}\n";
    std::string script = isdn_call;
    for (int i = 0; i < 13; i++) // 236 + 12 x 240 bytes
        script += chunk;
    script += R"(indicate 0 FC_SYNCEOF {"payload":[16961,16961]})" "\n"
              R"(indicate 0 FC_SYNCDAT {"payload":[0,0,17475]})" "\n"
              R"(indicate 0 FC_SYNCEOF {"payload":[]})" "\n";
    harness_run r = run_harness(script);
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_TRUE(r.has("HDLC frame longer than 2048 bytes")) << r.text();
    std::string full;
    for (const std::string &l : r.lines)
        if (l.rfind("RECEIVED FULL FRAME ", 0) == 0 && full.empty())
            full = l.substr(20);
    EXPECT_EQ(full.size(), 2048u);
    EXPECT_EQ(full.find_first_not_of("AB"), std::string::npos);
    // A new frame starts empty: its first two words are skipped.
    EXPECT_TRUE(r.has("RECEIVED PARTIAL SO FAR CD")) << r.text();
    EXPECT_TRUE(r.has("RECEIVED FULL FRAME CD")) << r.text();
}

// Ring tone on a SIP-to-FXO call: the alerting-ended timer runs for the
// port's ring cadence and half a second (the built-in table's -1).
TEST(MediaEvents, RingToneOnFxoArmsTheAlertingEndedTimer)
{
    std::string tones = harness_file("ring.tones", "[general]\ncountry=de\n[de]\ndial=425\nring=425/1000,0/4000\n"
                                                   "acp_event=51:0:0:RING\n");
    std::string analog = harness_file("ring.analog", "[fxo]\nports=2\ntones=de\n");
    for (int type : {2, 1}) {
        std::string script = "tones " + tones + "\nanalog " + analog + "\ncpt_defaults\napp analog=2:" +
                             std::to_string(type) + ":0\n" + isdn_call +
                             "call 0 kind=SIP_TO_ANALOG analog_port=2 country=de\nopt 0 s2fxo_cpt=fxo1\n" +
                             R"(indicate 0 FC_VOIP_EVENTDET {"tone_detected_indication":51})" "\nshow 0\n";
        harness_run r = run_harness(script);
        ASSERT_EQ(r.proc.status, 0) << r.text();
        EXPECT_TRUE(r.has("IFACE do_statemachine_run pid=100 event=0x30001004 arg=0")) << r.text();
        EXPECT_TRUE(r.has("A RING_TONE|INDICATION|CID=00100<br>port=2")) << r.text();
        EXPECT_EQ(r.has("starting fxo_alerting_ended_timer: seconds 5.500"), type == 2) << r.text();
        EXPECT_EQ(r.has("alerting_timer=1"), type == 2) << r.text();
    }
}

// A tone event on a call being dismantled arms its dismantling timer; caller
// ID data runs the machine at once.
TEST(MediaEvents, AnalogCallFollowUps)
{
    harness_run r = run_harness(std::string(isdn_call) + "call 0 kind=SIP_TO_ANALOG analog_port=2 state=4 machine=1\n" +
                                R"(indicate 0 FC_VOIP_EVENTDET {"tone_detected_indication":60})" "\n" +
                                "call 0 kind=ANALOG_TO_SIP state=2\n" +
                                R"(indicate 0 FC_CNDRXMSG {"msg_type_id":128,"msg_byte":[1,2,3]})" "\nshow 0\n");
    ASSERT_EQ(r.proc.status, 0) << r.text();
    EXPECT_TRUE(r.has("IFACE start_dismantling_timer pid=100")) << r.text();
    EXPECT_TRUE(r.has("IFACE do_statemachine_run pid=100 event=0x3000100b arg=0")) << r.text();
    EXPECT_TRUE(r.has("A IND : Detected Caller Id: oad: \"\" display: \"\"")) << r.text();
    EXPECT_TRUE(r.has("cid_received=0")) << r.text();
    EXPECT_EQ(r.count("parse_analog_callerid is not built yet"), 1) << r.text();
}

// A refused channel creation ends the process with the refusal's code.
TEST(MediaEvents, RefusedChannelCreationEndsTheProcess)
{
    struct refusal {
        int result;
        int status;
        const char *line;
    };
    for (const refusal &c : {refusal{0xFFBD, 106, "TARN EXITCODE 106: invalid msp timeslot requested"},
                             refusal{0xFFEE, 113, "no more msp channels left"},
                             refusal{0x0001, 112, "exiting because of response code 1"}}) {
        std::string rule = R"({"fc": "FC_SUPVSR_CREATE_CHANNEL", "answer": "error", "result": )" +
                           std::to_string(c.result) + "}";
        harness_run r = run_harness(std::string(isdn_call), {"--rule", rule}, false, c.status);
        EXPECT_EQ(r.proc.status, c.status) << r.text();
        EXPECT_NE(r.proc.err.find(c.line), std::string::npos) << r.proc.err;
        if (c.status == 106)
            EXPECT_NE(r.proc.err.find("handle_msp_event("), std::string::npos) << r.proc.err;
    }
}

// The heartbeat refreshes the safeguard only for a timeout above 30.
TEST(MediaEvents, HeartbeatWritesTheSafeguardTimeout)
{
    for (int timeout : {31, 30}) {
        std::string root = harness_file("root" + std::to_string(timeout) + "/.keep", "");
        root = root.substr(0, root.size() - 6);
        std::string dir = root + "/sys/class/quilmar/safeguard";
        ASSERT_EQ(system(("mkdir -p " + dir).c_str()), 0);
        harness_run r = run_harness("events callctl\napp safeguard=1:" + std::to_string(timeout) + "\nheartbeat\n", {},
                                    false, 0, {"TARN_ROOT=" + root});
        ASSERT_EQ(r.proc.status, 0) << r.text();
        EXPECT_TRUE(r.has("DEVICE STATUS QUERY: hb=10;astatus=0;atype=0;arm1=1;dsp0=1")) << r.text();
        std::ifstream in(dir + "/timer");
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str(), timeout == 31 ? "31" : "") << timeout;
    }
}

} // namespace
