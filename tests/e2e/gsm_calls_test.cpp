// Calls and messages through the daemon's GSM modems against modemsim: a
// call from the modem to a sipp UAS (its caller number from +CLIP, from the
// call listing, or the configured one), a caller without route, the SMS
// read from the SIM into the spool, sent SMS that fail, and a cell
// broadcast.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "modemsim_client.h"
#include "sipp_case.h"

namespace fs = std::filesystem;

namespace {

std::string row(const std::vector<std::string> &f)
{
    std::string s;
    for (size_t i = 0; i < f.size(); i++)
        s += (i ? "\t" : "") + f[i];
    return s + "\n";
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        n++;
    return n;
}

bool has_command(modemsim &sim, int port, const std::string &cmd)
{
    std::vector<std::string> c = sim.commands(port);
    return std::find(c.begin(), c.end(), cmd) != c.end();
}

// The daemon with one GE865 modem on port 1, a SIP group "uas" at
// 127.0.0.2:5060 on the localhost stack and the dial plan given.
struct gsm_world {
    explicit gsm_world(const std::string &dialplan, const std::string &gsm_port_keys = "",
                       const std::string &experimental = "")
        : w(options())
    {
        if (!w.ok())
            return;
        sipp_write_config(w, "usr/conf/tarn.sip",
                          "[general]\nsip_bindport_localhost = @SIP_PORT@\n"
                          "[uas]\nsip_stack=localhost\nsip_proxy=127.0.0.2\nuser=gw\n");
        w.root.write("usr/conf/tarn.gsm", "[general]\nsms_max_attempts=3\n[mobile]\nports=1\n" + gsm_port_keys);
        w.root.write("usr/conf/tarn.dialplan", dialplan);
        if (!experimental.empty())
            w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options=" + experimental + "\n");
        sim.reset(new modemsim(w.root.dir, {"--lif", "0:dv2GSM", "--port", "1:model=GE865"}));
    }
    static e2e_options options()
    {
        e2e_options o = sipp_world_options();
        o.capture_filter = "udp port 5060 or udp port @SIP_PORT@";
        return o;
    }
    // tarn up and the modem polled (its start-up is done).
    bool start()
    {
        return sim && sim->running() && sipp_start_tarn(w) && sim->expect(1, "^AT#SERVINFO$", 90000) != "";
    }
    // A sipp UAS on 127.0.0.2:5060 for one call, in the background; its
    // messages in uas.log below the root.
    void start_uas(const std::string &scenario = "")
    {
        std::string log = w.root.path("uas.log");
        std::vector<std::string> argv = {"sipp", "-i", "127.0.0.2", "-p", "5060", "-m", "1", "-timeout", "40s",
                                         "-nostdin", "-trace_msg", "-message_file", log};
        if (scenario.empty()) {
            argv.insert(argv.begin() + 1, {"-sn", "uas"});
        } else {
            argv.insert(argv.begin() + 1, {"-sf", scenario});
        }
        uas = std::async(std::launch::async, [this, argv] { return w.ns.run(argv, "", {}, 60); });
    }
    std::string uas_log() const { return read_file(w.root.path("uas.log")); }
    bool uas_saw(const std::string &text, int ms = 20000) const
    {
        return e2e_world::wait_for([&] { return uas_log().find(text) != std::string::npos; }, ms);
    }
    e2e_world w;
    std::unique_ptr<modemsim> sim;
    std::future<process_result> uas;
};

const std::string route_4917 = row({"GSM", "SIP", "1", "p:uas", "*", "100", "\\+4917.*", "\\0", ""});

TEST(GsmCalls, CallFromTheModemReachesSipAndEnds)
{
    gsm_world g(route_4917);
    E2E_REQUIRE(g.w);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    g.start_uas();
    ASSERT_TRUE(g.sim->request({"call", "1", "+4917012345678"}));
    ASSERT_TRUE(g.uas_saw("INVITE sip:100@")) << g.w.tarn_out();
    std::string log = g.uas_log();
    EXPECT_TRUE(std::regex_search(log, std::regex("From: .*<sip:\\+4917012345678@"))) << log;
    // sipp's 200 answers the modem call.
    EXPECT_NE(g.sim->expect(1, "^ATA$", 20000), "") << g.w.tarn_out();
    ASSERT_TRUE(g.sim->request({"hangup", "1"}));
    EXPECT_TRUE(g.uas_saw("BYE sip:")) << g.w.tarn_out();
    process_result r = g.uas.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(has_command(*g.sim, 1, "AT+CEER")) << "a call from the modem asks for no release reason";
    EXPECT_TRUE(g.w.wait_out("calling reset_op for", 10000));
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

TEST(GsmCalls, WithoutClipTheCallListingOrTheConfiguredNumber)
{
    // With the fallback the call listing names the caller about 2 s after
    // the first ring.
    {
        gsm_world g(route_4917, "wait_for_cid_timeout=2\n", "gsm_clcc_fallback=1");
        E2E_REQUIRE(g.w);
        ASSERT_TRUE(g.start()) << g.w.tarn_err();
        g.start_uas();
        auto rung = std::chrono::steady_clock::now();
        ASSERT_TRUE(g.sim->request({"call", "1", "+4917055555", "clip=0"}));
        EXPECT_NE(g.sim->expect(1, "^AT\\+CLCC$", 20000), "");
        double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - rung).count();
        EXPECT_GE(waited, 1.5);
        ASSERT_TRUE(g.uas_saw("INVITE sip:100@")) << g.w.tarn_out();
        EXPECT_TRUE(std::regex_search(g.uas_log(), std::regex("From: .*<sip:\\+4917055555@")));
        ASSERT_TRUE(g.sim->request({"hangup", "1"}));
        g.uas.get();
        EXPECT_EQ(sipp_stop_tarn(g.w), "");
    }
    // Without it the configured number stands in for the withheld one.
    {
        gsm_world g(row({"GSM", "SIP", "1", "p:uas", "*", "100", "anonymous", "\\0", ""}),
                    "config=clir_on_oad=anonymous\n");
        E2E_REQUIRE(g.w);
        ASSERT_TRUE(g.start()) << g.w.tarn_err();
        g.start_uas();
        ASSERT_TRUE(g.sim->request({"call", "1", "+4917055555", "clip=0"}));
        ASSERT_TRUE(g.uas_saw("INVITE sip:100@")) << g.w.tarn_out();
        EXPECT_TRUE(std::regex_search(g.uas_log(), std::regex("From: .*<sip:anonymous@")));
        EXPECT_FALSE(has_command(*g.sim, 1, "AT+CLCC"));
        ASSERT_TRUE(g.sim->request({"hangup", "1"}));
        g.uas.get();
        EXPECT_EQ(sipp_stop_tarn(g.w), "");
    }
}

TEST(GsmCalls, CallerWithoutRouteIsHungUp)
{
    gsm_world g(route_4917);
    E2E_REQUIRE(g.w);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    ASSERT_TRUE(g.sim->request({"call", "1", "+4930123456"}));
    EXPECT_NE(g.sim->expect(1, "^ATH$", 20000), "") << g.w.tarn_out();
    EXPECT_TRUE(g.w.wait_out("calling reset_op for", 10000));
    EXPECT_EQ(count(g.w.tarn_out(), "S SEND: NUA_I_INVITE"), 0);
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

TEST(GsmMessages, ReadFromTheSimIntoTheSpool)
{
    gsm_world g("", "", "gsm_pdu_mode=1");
    E2E_REQUIRE(g.w);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    // SMS-DELIVER from 27838890001, "hellohello" in 7-bit.
    ASSERT_TRUE(g.sim->store(1, 3, "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37"));
    ASSERT_TRUE(g.sim->inject(1, "\r\n+CMTI: \"SM\",3\r\n"));
    EXPECT_NE(g.sim->expect(1, "^AT\\+CMGR=3$", 20000), "");
    EXPECT_NE(g.sim->expect(1, "^AT\\+CMGD=3$", 20000), "");
    process_result r = g.w.ns.run({"sh", "-c", "cat /tmp/sms/in/*"});
    EXPECT_NE(r.out.find("hellohello"), std::string::npos) << r.out << r.err;

    // A slot that cannot be read stays on the SIM.
    ASSERT_TRUE(g.sim->inject(1, "\r\n+CMTI: \"SM\",7\r\n"));
    EXPECT_NE(g.sim->expect(1, "^AT\\+CMGR=7$", 20000), "");
    EXPECT_TRUE(g.w.wait_out("left on the SIM", 10000));
    EXPECT_FALSE(has_command(*g.sim, 1, "AT+CMGD=7"));
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

TEST(GsmMessages, SentMessageFailsOut)
{
    gsm_world g("");
    E2E_REQUIRE(g.w);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    ASSERT_TRUE(g.sim->fault(1, "reject", "AT+CMGS", -1));
    process_result r = g.w.ns.run(
        {"sh", "-c", "printf 'port=1\\nnum=017012345\\nmsg=hello\\n' > /tmp/sms/out/.t && mv /tmp/sms/out/.t /tmp/sms/out/m1.sms"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(g.w.wait_out("MOVING TO", 60000)) << g.w.tarn_out();
    std::vector<std::string> c = g.sim->commands(1);
    EXPECT_EQ(std::count_if(c.begin(), c.end(), [](const std::string &s) { return s.rfind("AT+CMGS", 0) == 0; }),
              3);
    EXPECT_EQ(count(g.w.tarn_out(), "G SMS|SENDING FAILED<br>RETRYING : port 1, file m1.sms"), 2);
    EXPECT_EQ(count(g.w.tarn_out(), "G SMS|SENDING FAILED<br>MOVING TO "), 1);
    r = g.w.ns.run({"sh", "-c", "ls /tmp/sms/out; find /tmp/sms/failout -name message"});
    EXPECT_EQ(count(r.out, "m1.sms"), 0) << r.out;
    EXPECT_EQ(count(r.out, "/message"), 1) << r.out;
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

TEST(GsmMessages, CellBroadcastPduAfterItsAnnouncement)
{
    gsm_world g("");
    E2E_REQUIRE(g.w);
    ASSERT_EQ(g.w.ns.run({"mkdir", "-p", "/tmp/cbm/in", "/tmp/cbm/parts"}).status, 0);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    std::string pdu = "400111010F11";
    while (pdu.size() < 176)
        pdu += "C4";
    ASSERT_TRUE(g.sim->inject(1, "\r\n+CBM: 88\r\n" + pdu + "\r\n"));
    EXPECT_TRUE(g.w.wait_out("Received CBM on port 1", 20000)) << g.w.tarn_out();
    EXPECT_EQ(g.w.ns.run({"sh", "-c", "ls /tmp/cbm/in | wc -l"}).out, "1\n");
    ASSERT_TRUE(g.sim->inject(1, "\r\n+CBM: 88\r\n" + pdu.substr(0, 174) + "\r\n"));
    EXPECT_TRUE(e2e_world::wait_for(
        [&] {
            return g.w.tarn_out().find("GSM port 1: cell broadcast PDU has 174 hex chars, +CBM announced 88 bytes - "
                                       "discarded") != std::string::npos ||
                   g.w.tarn_err().find("cell broadcast PDU has 174 hex chars") != std::string::npos;
        },
        20000))
        << g.w.tarn_out();
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

} // namespace
