// Voice through the whole daemon: the demo's lines (ISDN, analog, CAS, GSM)
// and a SIP-to-SIP call, with real RTP. The network is the demo's: eth1
// 198.18.0.1 is the gateway's LAN side and its other end 198.18.0.2 plays
// "this machine" (the callers), msp0 10.0.0.1 is the media processor's link
// and the simulated processor carries the voice on its own address 10.0.0.2.
// The RTP of a caller reaches it only through the daemon's start-up address
// translation (the LAN RTP range to 10.0.0.2), as on the board.
//
// The callers are tests/e2e/rtp_peer.py: a SIP user agent with its own RTP
// endpoint that reports what came back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e.h"
#include "isdn_calls.h"
#include "json_value.h"
#include "run_process.h"

namespace {

const char *const GATEWAY = "198.18.0.1";
const char *const HOST = "198.18.0.2";
const int PACKETS = 50;

std::string source(const std::string &rel)
{
    return std::string(TARN_SOURCE_DIR) + "/" + rel;
}

std::string py()
{
    return "python3";
}

// The demo world: demo/conf, its simulated lines and tarn, up.
struct demo_world {
    e2e_world w;
    std::vector<std::unique_ptr<e2e_child>> sims;

    static e2e_options options()
    {
        e2e_options o;
        o.ifaces = {{"eth1", std::string(GATEWAY) + "/30", std::string(HOST) + "/30"},
                    {"msp0", "10.0.0.1/30", "10.0.0.2/30"}};
        o.msp_args = {"--rtp-address", "10.0.0.2"};
        o.capture_filter = "udp";
        return o;
    }

    demo_world() : w(options()) {}

    void sim(const std::string &name, const std::vector<std::string> &argv)
    {
        sims.push_back(std::make_unique<e2e_child>(w, name, argv));
    }

    // The demo's configuration with the SIP routes this test uses.
    bool start(std::string &why)
    {
        for (const auto &f : std::filesystem::directory_iterator(source("demo/conf")))
            w.root.write("usr/conf/" + f.path().filename().string(), read_text_file(f.path().string()));
        const std::string opts = "codecs=pcma:pcmu";
        // 19x: the ISDN network with the inbound RTP check (every second)
        std::string dialplan = "SIP\tISDN\t*\t1\t19[0-9]\t\\0\t*\t\\0\t" + opts + ",rtp_traffic_check=1\n";
        for (const char *row : {"SIP\tISDN\t*\t1\t1[0-9][0-9]\t\\0\t*\t\\0\t", "SIP\tANALOG\t*\t1\t2[0-9][0-9]\t\\0\t*\t\\0\t",
                                "SIP\tGSM\t*\t1\t3[0-9][0-9]\t\\0\t*\t\\0\t", "SIP\tCAS\t*\tg:t1\t4[0-9][0-9]\t\\0\t*\t\\0\t"})
            dialplan += std::string(row) + opts + "\n";
        // SIP to SIP through the media processor (a trans-connect).
        dialplan += "SIP\tSIP\t*\tp:host\t5[0-9][0-9]\t\\0\t*\t\\0\t" + opts + ",s2s_rtp_handling_method=3\n";
        w.root.write("usr/conf/tarn.dialplan", dialplan);
        // UDP alone: the demo's TLS listener needs a certificate this test
        // has no use for.
        w.root.write("usr/conf/tarn.sip", "[general]\nstack_active_lan = 1\ninterface_name_lan = eth1\n"
                                          "sip_transport_lan = udp\nrtpports_lan = 6000-6998\n[host]\nsip_stack = lan\n"
                                          "sip_proxy = 198.18.0.2:5062\nuser = gateway\n");
        std::filesystem::create_directories(w.root.path("dev"));
        const std::string r = w.root.dir;
        w.root.write("misdn.ports", "1 te bri ptp 40001 40002 " + r + "/isdn1.trace\n2 te bri ptmp - - -\n"
                                    "3 nt e1 ptp 40003 40004 -\n");
        sim("isdn1", {std::string(TARN_BINARY_DIR) + "/sim/q931peer/q931peer", "--role", "network", "--line", "ptp",
                      "--local", "40002", "--peer", "40001", "--answer-after", "1000"});
        sim("analogsim", {py(), source("sim/analogsim/analogsim.py"), "--root", r, "--control", r + "/analog.ctl",
                          "--transcript", r + "/analog.transcript", "--port", "1:type=FXS,answer_after=1000",
                          "--port", "2:type=FXO"});
        sim("cassim", {py(), source("sim/cassim/cassim.py"), "--root", r, "--control", r + "/cas.ctl", "--transcript",
                       r + "/cas.transcript", "--connected", "1:0", "--channel", "0/1:role=t1set,rings=1",
                       "--channel", "0/2:role=t1set,rings=1", "--channel", "0/3:role=t1set,rings=1", "--channel",
                       "0/4:role=t1set,rings=1"});
        sim("modemsim", {py(), source("sim/modemsim/modemsim.py"), "--root", r, "--control", r + "/gsm.ctl",
                         "--transcript", r + "/gsm.transcript", "--lif", "2:dv2GSM", "--port",
                         "1:model=GE865,answer_after=1000", "--port", "2:model=GE865,answer_after=1000"});
        if (!e2e_world::wait_for(
                [&] {
                    return std::filesystem::exists(r + "/dev/analog0") && std::filesystem::exists(r + "/dev/cas0/4") &&
                           std::filesystem::exists(r + "/dev/gsm1");
                },
                E2E_WAIT_MS)) {
            why = "a line simulator did not start";
            return false;
        }
        if (!w.start_tarn({"-o", "-l", "9"}, {"TARN_MISDN_SIM=" + r + "/misdn.ports"})) {
            why = "tarn did not start: " + w.tarn_err();
            return false;
        }
        bool up = e2e_world::wait_for(
            [&] {
                return read_text_file(r + "/gsm.transcript").find("SERVINFO") != std::string::npos &&
                       sims[0]->text().find("UP") != std::string::npos;
            },
            90000);
        if (!up)
            why = "the lines did not come up";
        return up;
    }

    // What the packet filter and the processor's RTP endpoints say.
    std::string diagnosis() const
    {
        process_result nat = w.ns.run({"iptables-legacy", "-t", "nat", "-S"});
        process_result cnt = w.ns.run({"sh", "-c", "printf '{\"cmd\": \"rtp\"}\\n' | socat -t 2 - UNIX-CONNECT:" +
                                                      w.root.msp()->control});
        return "\nNAT rules:\n" + nat.out + nat.err + "media processor RTP: " + cnt.out + cnt.err;
    }

    // rtp_peer.py inside the namespace; its report.
    json_value peer(const std::vector<std::string> &args, std::string &text, int timeout_s = 60)
    {
        std::vector<std::string> argv = {py(), source("tests/e2e/rtp_peer.py")};
        argv.insert(argv.end(), args.begin(), args.end());
        process_result r = w.ns.run(argv, "", {}, timeout_s);
        text = r.out + r.err;
        return json_value::parse(r.out);
    }
};

} // namespace

// A caller on each kind of line hears itself: the line's simulated far end
// echoes what it hears, so RTP comes back to the caller's SDP address with
// its payload type and its own payloads; before the answer the line's audio
// (early media: the far end's tone) already arrives as RTP.
TEST(MediaRtp, EveryLineEchoesTheCallerAndPlaysEarlyMedia)
{
    demo_world d;
    E2E_REQUIRE(d.w);
    std::string why;
    ASSERT_TRUE(d.start(why)) << why;

    struct line_case {
        const char *name, *number;
        int pt;
        bool early; // the far end's audio before the answer
    } cases[] = {
        {"ISDN", "101", 8, true},
        {"analog", "201", 0, false},
        {"CAS", "401", 0, false},
        {"GSM", "301", 8, true},
    };
    int port = 41000;
    for (const line_case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string text;
        json_value r = d.peer({"uac", "--local", HOST, "--sip-port", std::to_string(port), "--rtp-port",
                               std::to_string(port + 2), "--gateway", std::string(GATEWAY) + ":5060", "--number",
                               c.number, "--pt", std::to_string(c.pt), "--packets", std::to_string(PACKETS)},
                              text);
        port += 10;
        ASSERT_EQ(r["status"].num(), 200) << text;
        EXPECT_EQ(r["media"].str().rfind(std::string(GATEWAY) + ":", 0), 0u) << text;
        ASSERT_EQ(r["rx_pts"].a.size(), 1u) << text;
        EXPECT_EQ(r["rx_pts"].a[0].num(), c.pt) << text;
        // A loaded machine may lose a packet or two on the way.
        EXPECT_GE(r["echoed"].num(), PACKETS * 8 / 10) << text << d.diagnosis();
        if (c.early) {
            EXPECT_GT(r["early"].num(), 0) << text;
        }
    }
    // The processor counted both ways on each call's channel.
    json_value rtp = d.w.root.msp()->request("{\"cmd\": \"rtp\"}");
    int counted = 0;
    for (const json_value &c : rtp["ended"].a)
        counted += c["rx_packets"].num() >= PACKETS * 8 / 10 && c["tx_packets"].num() >= c["rx_packets"].num();
    EXPECT_EQ(counted, 4) << d.diagnosis();
}
// SIP to SIP through the media processor (two channels joined by a
// trans-connect): each side hears the other. Both legs use A-law: with the
// media processor in the path the gateway offers the called side only the
// codec the caller chose, so a u-law answer would be refused.
TEST(MediaRtp, SipToSipThroughTheMediaProcessorCarriesAudioBothWays)
{
    demo_world d;
    E2E_REQUIRE(d.w);
    std::string why;
    ASSERT_TRUE(d.start(why)) << why;

    std::string uas_text;
    json_value uas_report;
    std::thread uas([&] {
        uas_report = d.peer({"uas", "--local", HOST, "--sip-port", "5062", "--rtp-port", "42002", "--pt", "8",
                             "--caller-pt", "8", "--packets", "100", "--timeout", "45"},
                            uas_text);
    });
    ASSERT_TRUE(e2e_udp_listening(d.w, HOST, 5062));
    std::string text;
    json_value r = d.peer({"uac", "--local", HOST, "--sip-port", "42010", "--rtp-port", "42012", "--gateway",
                           std::string(GATEWAY) + ":5060", "--number", "501", "--pt", "8", "--far-pt", "8",
                           "--packets", std::to_string(PACKETS), "--hold", "0.5"},
                          text);
    uas.join();
    ASSERT_EQ(r["status"].num(), 200) << text << uas_text;
    EXPECT_EQ(r["media"].str().rfind(std::string(GATEWAY) + ":", 0), 0u) << text;
    ASSERT_EQ(r["rx_pts"].a.size(), 1u) << text << d.diagnosis();
    EXPECT_EQ(r["rx_pts"].a[0].num(), 8) << text;
    EXPECT_GE(r["heard"].num(), PACKETS / 2) << text;
    ASSERT_EQ(uas_report["rx_pts"].a.size(), 1u) << uas_text;
    EXPECT_EQ(uas_report["rx_pts"].a[0].num(), 8) << uas_text;
    EXPECT_GE(uas_report["heard"].num(), PACKETS * 8 / 10) << uas_text;
    // The two channels were joined on the processor.
    EXPECT_NE(read_text_file(d.w.root.msp()->record).find("FC_TRANS_CONNECT"), std::string::npos);
}

// The inbound RTP check asks the processor's statistics every second: a
// caller whose RTP stops is cleared by the gateway (BYE) within a few
// seconds; one that keeps sending is not.
TEST(MediaRtp, RtpCheckClearsACallWhoseCallerFellSilent)
{
    demo_world d;
    E2E_REQUIRE(d.w);
    std::string why;
    ASSERT_TRUE(d.start(why)) << why;

    struct check_case {
        const char *name;
        int packets;  // 20 ms each
        double hold;  // silent hold afterwards, seconds
        bool cleared; // by the gateway
    } cases[] = {
        {"falls silent", 50, 8.0, true},
        {"keeps talking", 200, 0.2, false},
    };
    int port = 43000;
    for (const check_case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string text;
        json_value r = d.peer({"uac", "--local", HOST, "--sip-port", std::to_string(port), "--rtp-port",
                               std::to_string(port + 2), "--gateway", std::string(GATEWAY) + ":5060", "--number", "190",
                               "--pt", "8", "--packets", std::to_string(c.packets), "--hold", std::to_string(c.hold)},
                              text);
        port += 10;
        ASSERT_EQ(r["status"].num(), 200) << text;
        EXPECT_EQ(r["cleared"].kind != json_value::NUL, c.cleared) << text;
        if (c.cleared) {
            // Two answers a second apart with the same highest sequence
            // number; the loaded machine gets some slack.
            EXPECT_LE(r["cleared"].real(), 6.0) << text;
            EXPECT_NE(d.w.tarn_out().find("No RTP received for a while for active call => finishing call"),
                      std::string::npos);
        }
    }
}
