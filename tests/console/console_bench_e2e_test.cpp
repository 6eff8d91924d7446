// The media processor bench commands of the console through the status
// server of the whole daemon (demo configuration, simulated media processor,
// its own network namespace): what the console answers and what the media
// processor receives.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include "application.h"
#include "console_demo_conf.h"
#include "console_test_util.h"
#include "e2e.h"
#include "json_value.h"
#include "mc_options.h"

namespace {

const int PORT = 54322;


bool console_listens(const e2e_world &w)
{
    return e2e_world::wait_for(
        [&] { return w.ns.run({"ss", "-ltnH"}).out.find(":54322 ") != std::string::npos; }, 10000);
}

// A console session inside the daemon's namespace: one line, its whole
// answer (up to the "\r\n" the dispatcher ends every answer with).
struct session {
    console_conn c{PORT};
    session() { c.read_until(CONSOLE_GREETING); }
    std::string ask(const std::string &line)
    {
        c.send(line + "\n");
        return c.read_until("\r\n");
    }
};

// The commands the daemon sent since `from` (frames from the daemon).
std::vector<json_value> sent_since(const e2e_world &w, size_t from)
{
    std::vector<json_value> in = w.root.msp()->frames("in");
    return std::vector<json_value>(in.begin() + (long)std::min(from, in.size()), in.end());
}

// The first of them with that name (on that channel), or an empty value.
json_value first_named(const std::vector<json_value> &frames, const std::string &name, long channel = -1)
{
    for (const json_value &f : frames)
        if (f["name"].str() == name && (channel < 0 || f["channel"].num() == channel))
            return f;
    return json_value();
}

bool found(const json_value &v)
{
    return !v.o.empty();
}

// Waits until the simulator recorded a command of that name after `from`.
bool wait_sent(const e2e_world &w, size_t from, const std::string &name)
{
    return e2e_world::wait_for([&] { return found(first_named(sent_since(w, from), name)); }, 10000);
}

class ConsoleBench : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        signal(SIGPIPE, SIG_IGN);
    }
};

TEST_F(ConsoleBench, TimeslotTestsAndFirmware)
{
    e2e_options o;
    o.capture = false;
    o.msp_args = {"--firmware", "mspsim-fw-7.2"};
    e2e_world w(o);
    E2E_REQUIRE(w);
    write_console_demo_conf(w);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    ASSERT_TRUE(console_listens(w));
    e2e_namespace::net_guard inside(w.ns);
    ASSERT_TRUE(inside.ok());
    session s;

    EXPECT_EQ(s.ask("fw"), "FIRMWARE VERSION: mspsim-fw-7.2\n\r\n");

    // Refusals send nothing.
    size_t mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("bridge5:5"), "timeslots 5 and 5 are equal, not bridging\n\r\n");
    EXPECT_EQ(s.ask("callts9999"), "invalid timeslot 9999\n\r\n");
    EXPECT_EQ(s.ask("callts12a"), "invalid timeslot 12a\n\r\n");
    EXPECT_EQ(s.ask("bridge3:512"), "invalid timeslot 512\n\r\n");
    EXPECT_EQ(s.ask("testmsp0:600:10.0.0.2:5004"), "invalid timeslot 600\n\r\n");
    EXPECT_EQ(s.ask("t1t0:1"), "No active call on index 0\n\r\n");
    EXPECT_EQ(sent_since(w, 0).size(), mark) << "a refused command reached the media processor";

    // A channel on timeslot 3 toward the dummy RTP port, then its end.
    EXPECT_EQ(s.ask("callts3"), "\r\n");
    ASSERT_TRUE(wait_sent(w, mark, "FC_VOIP_VOPENA")) << w.tarn_out();
    json_value create = first_named(sent_since(w, mark), "FC_SUPVSR_CREATE_CHANNEL");
    EXPECT_EQ(create["fields"]["timeslot"].num(), 3);
    mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("calltsx"), "cleaning up test co 1\n\r\n");
    EXPECT_TRUE(wait_sent(w, mark, "FC_SUPVSR_DESTROY_CHANNEL"));
    EXPECT_EQ(s.ask("calltsx"), "\r\n");

    // Two active test calls (indexes 0 and 1) bridged inside the processor,
    // then looped over fresh timeslots: local ports from 50000, four more
    // on the next run.
    EXPECT_EQ(s.ask("bridge3:4"), "using logical timeslots 3 and 4\nbridging timeslots\n\r\n");
    mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("t1t10:11"), "Bridging co1 with ts 3 to ts 10\nBridging co2 with ts 4 to ts 11\n\r\n");
    // The RTP ends of the IP headers sent since `from`, "local>remote".
    auto rtp_ends = [&](size_t from) {
        std::vector<std::string> ends;
        for (const json_value &f : sent_since(w, from))
            if (f["name"].str() == "FC_SET_IP_HDR_CHANNEL")
                ends.push_back(std::to_string(f["fields"]["udp_source_port"].num()) + ">" +
                               std::to_string(f["fields"]["udp_destination_port"].num()));
        return ends;
    };
    auto has = [](const std::vector<std::string> &v, const std::string &x) {
        return std::find(v.begin(), v.end(), x) != v.end();
    };
    ASSERT_TRUE(e2e_world::wait_for([&] { return has(rtp_ends(mark), "50001>50003"); }, 10000));
    EXPECT_TRUE(has(rtp_ends(mark), "50000>50002"));
    mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("t1t12:13"), "Bridging co1 with ts 3 to ts 12\nBridging co2 with ts 4 to ts 13\n\r\n");
    ASSERT_TRUE(e2e_world::wait_for([&] { return has(rtp_ends(mark), "50005>50007"); }, 10000));
    EXPECT_TRUE(has(rtp_ends(mark), "50004>50006"));

    EXPECT_EQ(s.ask("teststopmsp"), "\r\n");
    EXPECT_EQ(s.ask("calltsx"), "\r\n"); // both test calls are gone

    // An RTP test on test call object 2 toward a peer of the namespace.
    mark = w.root.msp()->frames("in").size();
    std::string t = s.ask("testmsp1:5:10.0.0.2:5004");
    EXPECT_EQ(t.rfind("Using Test Call Object 2\nparsed: timeslot 5: ip 10.0.0.2 rtpport 5004\n"
                      "starting msp test, logical timeslot 5, remote ip 10.0.0.2, remote port 5004 local port ",
                      0),
              0u)
        << t;
    EXPECT_NE(t.find(" codec 8\n\r\n"), std::string::npos) << t;
    ASSERT_TRUE(e2e_world::wait_for([&] { return !rtp_ends(mark).empty(); }, 10000));
    EXPECT_EQ(rtp_ends(mark).back().substr(rtp_ends(mark).back().find('>')), ">5004");
    EXPECT_EQ(s.ask("testmsp1:5:10.0.0.2"), "Using Test Call Object 2\nstopping active msp test\n"
                                            "parsed: timeslot 5: ip 10.0.0.2 rtpport \n"
                                            "not starting test, insufficient data\n\r\n");
    EXPECT_EQ(s.ask("teststopmsp"), "\r\n");
    EXPECT_EQ(s.ask("lkx"), "redirect_two_timeslots\n\r\n");

    // Commands on calls that are not there.
    EXPECT_EQ(s.ask("vor1"), "No active call on index 1\n\r\n");
    EXPECT_EQ(s.ask("srtp1"), "cannot srtp_stat, couldn't retrieve call object at index 1\n\r\n");
    EXPECT_EQ(s.ask("ttestx"), "no type given\n\r\n");
    EXPECT_EQ(s.ask("ttestrde"), "no active ISDN calls on index 0 and 1\n\r\n");
    EXPECT_EQ(s.ask("mlts"), "\r\n");

    // Raw commands in the form outside scripts read.
    EXPECT_EQ(s.ask("mdio0:z"), "MDIORESPONSE:-1\n\r\n");
    mark = w.root.msp()->frames("in").size();
    w.root.msp()->request("{\"cmd\": \"set\", \"mdio_value\": 4660}");
    EXPECT_EQ(s.ask("mdio0:r:0:1:2:3"), "MDIORESPONSE:0:4660\n\r\n");
    json_value rd = first_named(sent_since(w, mark), "FC_MDIO_BUS_READ");
    EXPECT_EQ(rd["channel"].num(), 0xFFFF);
    EXPECT_EQ(rd["index"].num(), 0);
    EXPECT_EQ(rd["fields"]["emac_number"].num(), 0);
    EXPECT_EQ(rd["fields"]["preamble_suppress"].num(), 1);
    EXPECT_EQ(rd["fields"]["target_mmd_device_address"].num(), 2);
    EXPECT_EQ(rd["fields"]["target_register_address"].num(), 3);
    EXPECT_EQ(s.ask("mdio0:w:0:1:2:3:4"), "MDIORESPONSE:0\n\r\n");
    // A refused command never shows the earlier success.
    w.root.msp()->request("{\"cmd\": \"rule\", \"rule\": {\"fc\": \"FC_MDIO_BUS_WRITE\", \"answer\": \"report\"}}");
    EXPECT_EQ(s.ask("mdio0:w:0:1:2:3:4"), "MDIORESPONSE:-1\n\r\n");
    w.root.msp()->request("{\"cmd\": \"rule\", \"rule\": {\"fc\": \"FC_MDIO_BUS_READ\", \"answer\": \"report\"}}");
    EXPECT_EQ(s.ask("mdio0:r:0:1:2:3"), "MDIORESPONSE:-1:-1\n\r\n");
    EXPECT_EQ(s.ask("mspcmd:x"), "MSPRESPONSE:-1\n\r\n");
    mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("mspcmd:m:00:11:22:33:44:55"), "MSPRESPONSE:0\n\r\n");
    json_value mac = first_named(sent_since(w, mark), "FC_SET_UNICAST_MAC_ADDR");
    EXPECT_EQ(mac["channel"].num(), 0xFFFF);
    EXPECT_EQ(mac["hex"].str().substr(16), "0000001122334455"); // address_config 0, the six bytes in order
    size_t before = sent_since(w, 0).size();
    EXPECT_EQ(s.ask("mspcmd:m:00:11:22"), "\r\n");
    EXPECT_TRUE(w.wait_out("pass valid mac address")) << w.tarn_out();
    EXPECT_EQ(sent_since(w, 0).size(), before);

    // Listings and SIP-to-SIP tests without the parts they need.
    EXPECT_EQ(s.ask("pcm"), "no pcm card bridging enabled\n\r\n");
    const std::string usage = "usage: s2srrtp:<call-index>:<in|out>:<remote-ip>:<remote-port>\n"
                              "example: s2srrtp:0:out:10.0.0.2:40000\n";
    EXPECT_EQ(s.ask("s2srrtp:16:in:1.2.3.4:5000"), "invalid call index: 16\n" + usage + "\r\n");
    EXPECT_EQ(s.ask("s2srrtp:0:in:1.2.3.4:0"), "invalid remote port: 0\n" + usage + "\r\n");
    EXPECT_EQ(s.ask("s2srrtp:0:in:1.2.3.4"), usage + "\r\n");
    EXPECT_EQ(s.ask("s2srrtp:15:in:1.2.3.4:5000"), "Do not have active call on index 15\n\r\n");
    EXPECT_EQ(s.ask("s2s5000:10.0.0.2:6000:5002:10.0.0.2:6002"),
              "invalid sip stack lan\n---------------------------------\n\r\n");
    w.stop_tarn();
}

TEST_F(ConsoleBench, UnifiedDiagnostics)
{
    e2e_options o;
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    write_console_demo_conf(w);
    w.root.write("usr/conf/tarn.sip", w.root.default_sip() + "interface_name_lan = eth1\n");
    // The far end of eth1 answers ARP for its 10.0.0.2.
    for (const std::vector<std::string> &cmd :
         std::vector<std::vector<std::string>>{{"sysctl", "-qw", "net.ipv4.conf.eth1-peer.accept_local=1"},
                                               {"sysctl", "-qw", "net.ipv4.conf.all.rp_filter=0"},
                                               {"sysctl", "-qw", "net.ipv4.conf.eth1-peer.rp_filter=0"}})
        ASSERT_EQ(w.ns.run(cmd).status, 0) << cmd[0];
    std::string peer_mac = w.ns.mac("eth1-peer"), own_mac = w.ns.mac("eth1");
    ASSERT_EQ(peer_mac.size(), 17u);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    ASSERT_TRUE(console_listens(w));
    e2e_namespace::net_guard inside(w.ns);
    ASSERT_TRUE(inside.ok());
    session s;

    const std::string need_dst = "\r\tPlease configure the destination IP-Address before to configure Unified "
                                 "Diagnostics features. Command = uddstX:Y:Z:A:B\n\r\r\n";
    EXPECT_EQ(s.ask("setud"), need_dst);
    const std::string bad_port = "\r\tError input: the UDP-port given is incorrect. The UDP-port number must belong "
                                 "between 0 and 65000 (1025 <= B <= 60000)\n\r\r\n";
    EXPECT_EQ(s.ask("uddst10:0:0:2:1024"), bad_port);
    EXPECT_EQ(s.ask("uddst10:0:0:2:60001"), bad_port);
    EXPECT_EQ(s.ask("uddst10:0:0:2"), bad_port);
    EXPECT_EQ(s.ask("uddst10:0:256:2:5000"),
              "\r\tError input: your IP-address given is incorrect. The IP-Address numbers must belong between 0 "
              "and 255 (0 <= (X, Y, Z, A) <= 255)\n\r\r\n");
    EXPECT_EQ(s.ask("uddst10:0:0"), "\r\tError input: not enough argument. Please follow this exemple X:Y:Z:A:B "
                                    "corresponding to your IP-address X.Y.Z.A:B\n\r\r\n");
    EXPECT_EQ(s.ask("uddst10:0:0:1:5000"),
              "\r\tError input: impossible to use 10.0.0.1 as destination IP-address\n\r\r\n");
    EXPECT_EQ(s.ask("uddst10:0:0:2:12800"), "\r\tError input: impossible to use 12800 as destination UDP-port\n\r\r\n");
    EXPECT_EQ(s.ask("uddst10:0:0:9:5000"), "\r\tFailed getting MAC-address: please check your internet connection "
                                           "(DNS, connectivity, and so on)\n\r\r\n");
    EXPECT_EQ(s.ask("setud"), need_dst);
    EXPECT_EQ(s.ask("uddst10:0:0:2:5000"), "\r\tDestination parameters configured: MAC-Address = " + peer_mac +
                                               " \tIP-Address = 10.0.0.2 \tUDP-Port = 5000\n\r\r\n");
    EXPECT_EQ(s.ask("udcmd1:0"), "\r\tUnified Diagnostics parameters must be configured. Please refer to and use "
                                 "the following command: setud\n\t\r\n");

    size_t mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("setud"),
              "\r\tMindspeed successly configured to send and receive unified diagnostics commands\n\r\r\n");
    std::vector<json_value> sent = sent_since(w, mark);
    ASSERT_EQ(sent.size(), 2u);
    auto hex16 = [](long v) {
        char b[8];
        snprintf(b, sizeof b, "%02lx:%02lx", (v >> 8) & 0xFF, v & 0xFF);
        return std::string(b);
    };
    auto mac_of = [&](const json_value &f, const std::string &a, const std::string &b, const std::string &c) {
        return hex16(f["fields"][a].num()) + ":" + hex16(f["fields"][b].num()) + ":" + hex16(f["fields"][c].num());
    };
    EXPECT_EQ(sent[0]["name"].str(), "FC_SET_ETH_HDR");
    EXPECT_EQ(sent[0]["channel"].num(), 0xFFFF);
    EXPECT_EQ(mac_of(sent[0], "hostmac_1", "hostmac_2", "hostmac_3"), peer_mac);
    EXPECT_EQ(mac_of(sent[0], "assigned_mac_1", "assigned_mac_2", "assigned_mac_3"), own_mac);
    EXPECT_EQ(sent[1]["name"].str(), "REDIRECT_OVER_IP_UDP");
    const json_value &r = sent[1]["fields"];
    EXPECT_EQ(r["client_identifier"].num(), 4);
    EXPECT_EQ(mac_of(sent[1], "destination_mac.part1", "destination_mac.part2", "destination_mac.part3"), peer_mac);
    EXPECT_EQ(mac_of(sent[1], "source_mac.part1", "source_mac.part2", "source_mac.part3"), own_mac);
    EXPECT_EQ(r["source_ip.part1"].num(), 0x0A00);
    EXPECT_EQ(r["source_ip.part2"].num(), 0x0001);
    EXPECT_EQ(r["destination_ip.part1"].num(), 0x0A00);
    EXPECT_EQ(r["destination_ip.part2"].num(), 0x0002);
    EXPECT_EQ(r["assigned_udp_header.source_port"].num(), 12800);
    EXPECT_EQ(r["assigned_udp_header.destination_port"].num(), 5000);

    EXPECT_EQ(s.ask("udcmd1:0"),
              "\r\tNo one active call. Please establish a call before to use 'udcmdX:Y' command\n\r\r\n");

    // Four calls with timeslots: the bridged pair (indexes 0, 1) and the
    // loop's two (2, 3, timeslots 10 and 11).
    EXPECT_EQ(s.ask("bridge3:4"), "using logical timeslots 3 and 4\nbridging timeslots\n\r\n");
    EXPECT_EQ(s.ask("t1t10:11"), "Bridging co1 with ts 3 to ts 10\nBridging co2 with ts 4 to ts 11\n\r\n");
    EXPECT_EQ(s.ask("setud"), "\r\tPlease close all your activate calls before setting Unified Diagnostics\n\r\r\n");
    mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("udcmd1:3"), "\r\tUnified Diagnostic command (DIAG_REPORTCMD) successly configured\n\r\r\n");
    json_value diag = first_named(sent_since(w, mark), "DIAG_REPORTCMD");
    EXPECT_EQ(diag["fc"].str(), "0x00fb");
    EXPECT_EQ(diag["fields"]["set_diagnostic"].num(), 1);
    EXPECT_TRUE(diag["problems"].a.empty());
    json_value st = w.root.msp()->request("{\"cmd\": \"state\"}");
    EXPECT_EQ(diag["channel"].num(), st["timeslots"]["11"].num());
    EXPECT_EQ(s.ask("udtdmrx1"), "\r\tWrong command input: use 'udtdmrxX:Y' with Y the call index value (0 <= Y <= "
                                 "254 for the call index and Y = 255 for the SUPERVISOR level)\n\r\r\n");
    EXPECT_EQ(s.ask("udtdmrx2:1"),
              "\r\tWrong command input: use 'udtdmrxX:Y' with X=0 to deactivate or X=1 to activate\n\r\r\n");
    EXPECT_EQ(s.ask("udtdmtx0:7"), "\r\tWrong command inpput: call index 7 not related to a timeslot\n\r\r\n");
    EXPECT_EQ(s.ask("udpcktrx1:0"), "\r\tSimultaneously active calls are limited for 'udpcktrxX:Y' command. Please "
                                    "limit the number of call at only 2.\n\r\r\n");
    mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("udspuis1"), "\r\tUnified Diagnostic command (DIAG_SPU_IOPARAMS) successly configured\n\r\r\n");
    diag = first_named(sent_since(w, mark), "DIAG_SPU_IOPARAMS");
    EXPECT_EQ(diag["fc"].str(), "0x1010");
    EXPECT_EQ(diag["channel"].num(), 0xFFFF);

    // A refusal of the device is reported with its code.
    w.root.msp()->request("{\"cmd\": \"rule\", \"rule\": {\"fc\": \"0x1012\", \"answer\": \"error\", \"result\": 1}}");
    std::string refused = s.ask("udspuos1");
    EXPECT_EQ(refused.rfind("\r\tError: Function code = 0x1012 (DIAG_SPU_OUTSTREAM) \t result code = 0x0001 (", 0), 0u)
        << refused;

    mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("tdmclock"), "\r\n");
    EXPECT_TRUE(wait_sent(w, mark, "FC_EXT_CLOCK_STATUS"));
    EXPECT_EQ(s.ask("unsetud"), "\r\n");
    EXPECT_EQ(s.ask("udcmd1:3"), "\r\tDestination IP-address must be configured. Please refer to and use the "
                                 "following command: uddst\n\r\r\n");
    w.stop_tarn();
}

} // namespace
