// A SIP call carried to a peer gateway's console by the whole daemon: sipp
// calls, the dial plan line targets the console peer (itapi_peer.py), the
// peer reads the dial line and answers ALERTING and CONNECT, sipp gets 180
// and 200 with the peer's RTP end, the BYE reaches the peer as a hangup and
// the connection is kept for the next call; a caller whose number would
// break the peer's line format never reaches it.
#include <gtest/gtest.h>

#include <signal.h>

#include <map>
#include <string>
#include <vector>

#include "console_test_util.h"
#include "run_process.h"
#include "sipp_case.h"

namespace {

const int PEER_PORT = 23000;

std::string source(const std::string &rel)
{
    return std::string(TARN_SOURCE_DIR) + "/" + rel;
}

struct peer {
    pid_t pid = -1;
    std::string record;
    explicit peer(const e2e_world &w)
    {
        record = w.root.path("peer.record");
        pid = w.ns.spawn({"python3", source("tests/console/itapi_peer.py"), std::to_string(PEER_PORT), record});
    }
    ~peer()
    {
        if (pid > 0)
            kill(pid, SIGKILL);
    }
    std::string lines() const { return read_text_file(record); }
};

sipp_step call_from(const std::string &user)
{
    return {source("tests/console/itapi_uac.xml"), 1, "127.0.0.1", {"-s", "200", "-key", "from_user", user, "-mp", "16000"}};
}

TEST(ItapiE2E, SipCallToAConsolePeer)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    sipp_write_config(w, "usr/conf/tarn.sip", "[general]\nsip_bindport_localhost = @SIP_PORT@\n");
    w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options = itapi_support=1\n");
    w.root.write("usr/conf/tarn.dialplan",
                 "SIP\tITAPI\t*\t127.0.0.1:" + std::to_string(PEER_PORT) + ":isdn:grp1\t2.*\t\\0\t*\t\\0\t\n");
    peer p(w);
    ASSERT_TRUE(e2e_world::wait_for([&] { return w.ns.run({"ss", "-ltnH"}).out.find(":23000 ") != std::string::npos; },
                                    E2E_WAIT_MS));
    ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();

    EXPECT_TRUE(sipp_ok(sipp_run(w, call_from("100"))));
    ASSERT_TRUE(e2e_world::wait_for([&] { return p.lines().find("hangup:") != std::string::npos; }, E2E_WAIT_MS))
        << p.lines();
    std::string rec = p.lines();
    size_t dial = rec.find("1 ;dial:tech=isdn,group=grp1,codec=pcma,rtp_port=16000,rtp_ip=127.0.0.1,oad=100,dad=200,pid=");
    ASSERT_NE(dial, std::string::npos) << rec;
    size_t at = rec.find("pid=", dial) + 4;
    std::string pid = rec.substr(at, rec.find('\n', at) - at);
    EXPECT_NE(rec.find("1 hangup:" + pid + ";\n"), std::string::npos) << rec;

    // The call's reset gives the connection back a moment after the BYE.
    EXPECT_TRUE(e2e_world::wait_for(
        [&] {
            w.console("ifd");
            return w.wait_out("STATE ITAPI_OUTBOUND_FREE - COIDX: -1\n", 300);
        },
        15000));

    // The second call reuses the connection.
    EXPECT_TRUE(sipp_ok(sipp_run(w, call_from("101"))));
    ASSERT_TRUE(e2e_world::wait_for([&] { return p.lines().find("oad=101") != std::string::npos; }, E2E_WAIT_MS));
    rec = p.lines();
    EXPECT_NE(rec.find("1 ;dial:tech=isdn,group=grp1,codec=pcma,rtp_port=16000,rtp_ip=127.0.0.1,oad=101,dad=200"),
              std::string::npos)
        << rec;
    EXPECT_EQ(rec.find("\n2 "), std::string::npos) << rec;

    // A caller that would break the peer's line format: nothing reaches it.
    ASSERT_TRUE(e2e_world::wait_for([&] { return p.lines().find("hangup:2;") != std::string::npos; }, E2E_WAIT_MS));
    std::string before = p.lines();
    EXPECT_FALSE(sipp_ok(sipp_run(w, call_from("100;shutdown"))));
    EXPECT_EQ(p.lines(), before);
    EXPECT_TRUE(w.tarn_running());
    EXPECT_TRUE(sipp_ok(sipp_run(w, call_from("102"))));
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

// A peer's "dial:" placed as an ISDN call on the group's port against a
// libpri network side; its progress goes back on the console connection,
// "kt" lists it, a foreign call number changes nothing and "hangup" ends it;
// a second call is cleared by the ISDN side. Each call reference sees one
// RELEASE.
TEST(ItapiE2E, ConsoleCallToIsdn)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    sipp_write_config(w, "usr/conf/tarn.sip",
                      "[general]\nsip_bindport_localhost = @SIP_PORT@\nstack_active_lan = 1\n"
                      "interface_name_lan = eth1\n");
    w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options = itapi_support=1\n");
    w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv4S0\nptp=1,1,0,0\n");
    w.root.write("usr/conf/tarn.isdn", "[isdn1]\nports=1\n");
    w.root.write("misdn.ports", "1 te bri ptp 40001 40002 " + w.root.path("port1.trace") + "\n");
    e2e_q931_peer q(w, {"--role", "network", "--line", "ptp", "--local", "40002", "--peer", "40001", "-e",
                        "wait up 30", "-e", "wait ring 30", "-e", "alerting", "-e", "sleep 200", "-e", "answer",
                        "-e", "wait hangup_ack 60", "-e", "wait ring 60", "-e", "answer", "-e", "sleep 300", "-e",
                        "hangup 16", "-e", "wait hangup_ack 30"});
    ASSERT_TRUE(q.wait("READY", 10000)) << read_text_file(q.out);
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9"}, {"TARN_MISDN_SIM=" + w.root.path("misdn.ports")})) << w.tarn_err();
    ASSERT_TRUE(q.wait("UP")) << read_text_file(q.out);
    ASSERT_TRUE(e2e_world::wait_for([&] { return w.ns.run({"ss", "-ltnH"}).out.find(":54322 ") != std::string::npos; },
                                    10000));

    e2e_namespace::net_guard inside(w.ns);
    ASSERT_TRUE(inside.ok());
    console_conn c(54322);
    c.read_until(CONSOLE_GREETING);
    c.send("dial:dad=200,oad=100,tech=ISDN,group=isdn1,codec=pcma,rtp_port=40000,rtp_ip=127.0.0.1,pid=7\n");
    EXPECT_TRUE(q.wait("RING called=200 calling=100")) << read_text_file(q.out);
    std::string progress = c.read_until("CONNECT:");
    progress += c.read_until("\n");
    EXPECT_NE(progress.find("ALERTING\n"), std::string::npos) << progress;
    size_t at = progress.find("CONNECT:");
    ASSERT_NE(at, std::string::npos) << progress;
    EXPECT_GT(atoi(progress.c_str() + at + 8), 0) << progress;

    w.console("kt");
    EXPECT_TRUE(w.wait_out("TOTAL CALLS:1\n")) << w.tarn_out();
    c.send("hangup:8\n");
    EXPECT_EQ(c.read_until("\r\n"), "\r\n");
    EXPECT_EQ(read_text_file(q.out).find("HANGUP"), std::string::npos);
    c.send("hangup\n");
    EXPECT_TRUE(q.wait("HANGUP")) << read_text_file(q.out);
    EXPECT_TRUE(w.tarn_running());

    // A second call, cleared by the ISDN side once the first is gone: the
    // peer reads the DISCONNECT with its cause.
    EXPECT_TRUE(e2e_world::wait_for(
        [&] {
            w.console("kt");
            return w.wait_out("TOTAL CALLS:0\n", 500);
        },
        20000));
    console_conn c2(54322);
    c2.read_until(CONSOLE_GREETING);
    c2.send("dial:dad=201,oad=100,tech=isdn,group=isdn1,codec=pcma,rtp_port=40002,rtp_ip=127.0.0.1,pid=8\n");
    EXPECT_TRUE(q.wait("RING called=201 calling=100")) << read_text_file(q.out);
    std::string end = c2.read_until("DISCONNECT cause=16\n");
    EXPECT_NE(end.find("DISCONNECT cause=16\n"), std::string::npos) << end;

    // One RELEASE per call reference, whichever side cleared.
    std::map<std::string, int> releases;
    EXPECT_TRUE(e2e_world::wait_for(
        [&] {
            releases.clear();
            int completes = 0;
            for (const std::string &m :
                 e2e_q931_messages(w.root.path("port1.trace"), "", {"q931.call_ref", "q931.message_type"})) {
                size_t tab = m.find('\t');
                std::string type = tab == std::string::npos ? "" : m.substr(tab + 1);
                if (type == "0x4d")
                    releases[m.substr(0, tab)]++;
                completes += type == "0x5a";
            }
            return completes >= 2;
        },
        30000));
    EXPECT_EQ(releases.size(), 2u);
    for (const auto &[ref, n] : releases)
        EXPECT_EQ(n, 1) << "call reference " << ref;
    c.send("q\n");
    EXPECT_TRUE(c.closed_by_server());
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

} // namespace
