// Calls and messages through the daemon's GSM modems against modemsim: a
// call from the modem to a sipp UAS (its caller number from +CLIP, from the
// call listing, or the configured one), a caller without route, calls from
// SIP (answered, busy, refused by the modem's dial result), the SMS
// read from the SIM into the spool, sent SMS that fail, a cell
// broadcast, and garbled lines after the modem's announcements.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gsm_world.h"

namespace fs = std::filesystem;

namespace {

TEST(GsmCalls, CallFromTheModemReachesSipAndEnds)
{
    gsm_world g(gsm_route_4917);
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
    EXPECT_FALSE(gsm_has_command(*g.sim, 1, "AT+CEER")) << "a call from the modem asks for no release reason";
    EXPECT_TRUE(g.w.wait_out("calling reset_op for", E2E_WAIT_MS));
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

TEST(GsmCalls, WithoutClipTheCallListingOrTheConfiguredNumber)
{
    // With the fallback the call listing names the caller about 2 s after
    // the first ring.
    {
        gsm_world g(gsm_route_4917, "wait_for_cid_timeout=2\n", "gsm_clcc_fallback=1");
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
        gsm_world g(gsm_dialplan_row({"GSM", "SIP", "1", "p:uas", "*", "100", "anonymous", "\\0", ""}),
                    "config=clir_on_oad=anonymous\n");
        E2E_REQUIRE(g.w);
        ASSERT_TRUE(g.start()) << g.w.tarn_err();
        g.start_uas();
        ASSERT_TRUE(g.sim->request({"call", "1", "+4917055555", "clip=0"}));
        ASSERT_TRUE(g.uas_saw("INVITE sip:100@")) << g.w.tarn_out();
        EXPECT_TRUE(std::regex_search(g.uas_log(), std::regex("From: .*<sip:anonymous@")));
        EXPECT_FALSE(gsm_has_command(*g.sim, 1, "AT+CLCC"));
        ASSERT_TRUE(g.sim->request({"hangup", "1"}));
        g.uas.get();
        EXPECT_EQ(sipp_stop_tarn(g.w), "");
    }
}

TEST(GsmCalls, CallerWithoutRouteIsHungUp)
{
    gsm_world g(gsm_route_4917);
    E2E_REQUIRE(g.w);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    ASSERT_TRUE(g.sim->request({"call", "1", "+4930123456"}));
    EXPECT_NE(g.sim->expect(1, "^ATH$", 20000), "") << g.w.tarn_out();
    EXPECT_TRUE(g.w.wait_out("calling reset_op for", E2E_WAIT_MS));
    EXPECT_EQ(gsm_count(g.w.tarn_out(), "S SEND: NUA_I_INVITE"), 0);
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

// A call from SIP dials the modem; the far end's alerting and answer reach
// SIP, the caller's BYE hangs the modem up and asks for the release reason;
// a busy far end refuses the next call.
TEST(GsmCalls, CallFromSipDialsTheModem)
{
    gsm_world g(gsm_dialplan_row({"SIP", "GSM", "*", "1", "0170.*", "\\0", "*", "\\0", ""}));
    E2E_REQUIRE(g.w);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    auto uac = std::async(std::launch::async, [&] {
        return sipp_run(g.w, {"gsm_uac_answered.xml", 1, "127.0.0.1", {"-s", "01701234"}});
    });
    EXPECT_NE(g.sim->expect(1, "^ATD01701234i;$", 30000), "") << g.w.tarn_out();
    // The modem reports the far end alerting; then the far end answers.
    ASSERT_TRUE(e2e_world::wait_for(
        [&] { return gsm_read_file(g.sim->transcript_path()).find("#ECAM: 0,2,1") != std::string::npos; }, 10000));
    ASSERT_TRUE(g.sim->request({"answer", "1"}));
    EXPECT_TRUE(sipp_ok(uac.get()));
    EXPECT_NE(g.sim->expect(1, "^ATH$", 20000), "") << g.w.tarn_out();
    EXPECT_NE(g.sim->expect(1, "^AT\\+CEER$", 20000), "") << g.w.tarn_out();
    EXPECT_TRUE(g.w.wait_out("GSM CEER INFO port 1: \"Normal call clearing\"", 20000)) << g.w.tarn_out();
    EXPECT_TRUE(g.w.wait_out("calling reset_op for", E2E_WAIT_MS));

    auto busy = std::async(std::launch::async, [&] {
        return sipp_run(g.w, {"gsm_uac_busy.xml", 1, "127.0.0.1", {"-s", "01705555"}});
    });
    EXPECT_NE(g.sim->expect(1, "^ATD01705555i;$", 30000), "") << g.w.tarn_out();
    ASSERT_TRUE(e2e_world::wait_for([&] { return g.sim->request({"busy", "1"}); }, E2E_WAIT_MS));
    EXPECT_TRUE(sipp_ok(busy.get()));
    std::vector<std::string> responses = sipp_captured_responses(g.w);
    for (const char *want : {"180 INVITE", "200 INVITE", "200 BYE", "486 INVITE"})
        EXPECT_NE(std::find(responses.begin(), responses.end(), want), responses.end()) << want;
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

// Every final result by which the modem refuses a dial ends the call from
// SIP with its final answer at once (no wait for the modem's time limit),
// hangs the modem up and frees the call; the port then takes the next call.
// A dial to a modem that is gone ends the call as well.
TEST(GsmCalls, DialRefusedByTheModemEndsTheCallFromSip)
{
    gsm_world g(gsm_dialplan_row({"SIP", "GSM", "*", "1", "0170.*", "\\0", "*", "\\0", ""}));
    E2E_REQUIRE(g.w);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    // The modem's answer to ATD: ERROR, "+CME ERROR: <err>" (a modem with
    // error reporting on), or the final result given.
    const struct {
        const char *fault, *text;
    } refusals[] = {
        {"reject", ""},          {"cme", "no network service"}, {"final", "NO CARRIER"},
        {"final", "NO ANSWER"}, {"final", "NO DIALTONE"},     {"final", "BUSY"},
    };
    int resets = 0, hangups = 0;
    for (const auto &r : refusals) {
        SCOPED_TRACE(std::string(r.fault) + " " + r.text);
        ASSERT_TRUE(g.sim->fault(1, r.fault, "ATD", 1, r.text));
        // The caller gets its 486 (sipp gives up after 15 s).
        EXPECT_TRUE(sipp_ok(sipp_run(g.w, {"gsm_uac_busy.xml", 1, "127.0.0.1", {"-s", "01701234"}})))
            << g.w.tarn_out();
        EXPECT_TRUE(e2e_world::wait_for(
            [&] { return gsm_count(g.w.tarn_out(), "calling reset_op for") > resets; }, 20000));
        resets = gsm_count(g.w.tarn_out(), "calling reset_op for");
        EXPECT_TRUE(e2e_world::wait_for(
            [&] {
                std::vector<std::string> c = g.sim->commands(1);
                return std::count(c.begin(), c.end(), "ATH") > hangups;
            },
            20000));
        std::vector<std::string> c = g.sim->commands(1);
        hangups = (int)std::count(c.begin(), c.end(), "ATH");
    }
    std::vector<std::string> responses = sipp_captured_responses(g.w);
    EXPECT_EQ(std::count(responses.begin(), responses.end(), "486 INVITE"), (long)std::size(refusals));
    EXPECT_EQ(gsm_count(g.w.tarn_out(), "GSM NO END OF ANSWER FOUND"), 0);

    // The port is free again: the next call is dialled and answered.
    auto uac = std::async(std::launch::async, [&] {
        return sipp_run(g.w, {"gsm_uac_answered.xml", 1, "127.0.0.1", {"-s", "01709999"}});
    });
    EXPECT_NE(g.sim->expect(1, "^ATD01709999i;$", 30000), "") << g.w.tarn_out();
    ASSERT_TRUE(e2e_world::wait_for([&] { return g.sim->request({"answer", "1"}); }, E2E_WAIT_MS));
    EXPECT_TRUE(sipp_ok(uac.get()));
    EXPECT_TRUE(e2e_world::wait_for(
        [&] { return gsm_count(g.w.tarn_out(), "calling reset_op for") > resets; }, 20000));

    // The modem is gone while its port still counts as registered: the dial's
    // exchange breaks off without any result, and that ends the call too.
    ASSERT_TRUE(g.sim->close_port(1));
    EXPECT_TRUE(sipp_ok(sipp_run(g.w, {"gsm_uac_busy.xml", 1, "127.0.0.1", {"-s", "01701234"}})))
        << g.w.tarn_out();
    EXPECT_TRUE(g.w.wait_out("sacrificing command", E2E_WAIT_MS)) << g.w.tarn_out();
    EXPECT_EQ(gsm_count(g.w.tarn_out(), "couldn't get free registered gsm port"), 0);
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
    EXPECT_TRUE(g.w.wait_out("left on the SIM", E2E_WAIT_MS));
    EXPECT_FALSE(gsm_has_command(*g.sim, 1, "AT+CMGD=7"));
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
    EXPECT_EQ(gsm_count(g.w.tarn_out(), "G SMS|SENDING FAILED<br>RETRYING : port 1, file m1.sms"), 2);
    EXPECT_EQ(gsm_count(g.w.tarn_out(), "G SMS|SENDING FAILED<br>MOVING TO "), 1);
    r = g.w.ns.run({"sh", "-c", "ls /tmp/sms/out; find /tmp/sms/failout -name message"});
    EXPECT_EQ(gsm_count(r.out, "m1.sms"), 0) << r.out;
    EXPECT_EQ(gsm_count(r.out, "/message"), 1) << r.out;
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
    EXPECT_TRUE(g.w.wait_out("Received CBM on port 1", E2E_WAIT_MS)) << g.w.tarn_out();
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

// Lines where an announced PDU or text belongs that are garbled, short or
// cut off by the read time-out: each is dropped with a log line and the
// port goes on. After each case (first between commands, then while an SMS
// is being sent) an SMS put into the outgoing spool goes out as AT+CMGS,
// and the status polls go on.
void garbled_lines(const std::string &experimental)
{
    gsm_world g("", "", "gsm_status_interval=30" + experimental);
    E2E_REQUIRE(g.w);
    ASSERT_EQ(g.w.ns.run({"mkdir", "-p", "/tmp/cbm/in", "/tmp/cbm/parts"}).status, 0);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    std::string pdu = "400111010F11";
    while (pdu.size() < 40)
        pdu += "C4";
    const std::vector<std::vector<std::string>> cases = {
        {"\r\n+CBM: 0\r\n" + pdu + "\r\n", "\r\n+CBM: 0\r\nABCDEF\r\n"},
        {"\r\n+CMT: \"\",22\r\nXYZ\r\n"},
        {"\r\n+CDS: 25\r\n12\r\n"},
        {"\r\n+CUSD: 0,\"\r\nGARBLED\r\n"},
        {"\r\n+CBM: 88\r\n40011101"},
        {"\r\n+CDS:"},
    };
    int n = 0;
    auto spool_one = [&] {
        std::string name = "t" + std::to_string(n++) + ".sms";
        process_result r = g.w.ns.run({"sh", "-c",
                                       "printf 'port=1\\nnum=017012345\\nmsg=hello\\n' > /tmp/sms/out/.t && "
                                       "mv /tmp/sms/out/.t /tmp/sms/out/" + name});
        ASSERT_EQ(r.status, 0) << r.err;
        g.w.console("ssms");
    };
    for (int during = 0; during < 2; during++) {
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << "case " << n << (during ? " while sending" : ""));
            if (during)
                spool_one();
            for (const std::string &text : c)
                ASSERT_TRUE(g.sim->inject(1, text));
            // the cut-off line ends by the reader's time-out
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            spool_one();
            EXPECT_TRUE(e2e_world::wait_for(
                [&] {
                    std::vector<std::string> c = g.sim->commands(1);
                    return std::count_if(c.begin(), c.end(),
                                         [](const std::string &l) { return l.rfind("AT+CMGS=", 0) == 0; }) >= n;
                },
                10000))
                << g.w.tarn_out();
        }
    }
    // An announcement that cuts into the echo of a message's command: the
    // prompt the modem opens all the same is closed and the next try sends it.
    {
        SCOPED_TRACE("announcement inside the echo");
        ASSERT_TRUE(g.sim->fault(1, "interrupt", "+CDS:", 1, "AT+CMGS="));
        spool_one();
        EXPECT_TRUE(g.w.wait_out("SMS PROMPT BEFORE ECHO", E2E_WAIT_MS)) << g.w.tarn_out();
    }
    EXPECT_TRUE(e2e_world::wait_for([&] { return g.w.ns.run({"ls", "/tmp/sms/out"}).out.empty(); }, E2E_WAIT_MS))
        << g.w.ns.run({"ls", "/tmp/sms/out"}).out;
    // polled every 30 s: two rounds at most
    EXPECT_NE(g.sim->expect(1, "^AT\\+CSQ$", 75000), "") << "a status poll";
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

TEST(GsmMessages, GarbledLinesAfterAnnouncementsInTextMode) { garbled_lines(""); }
TEST(GsmMessages, GarbledLinesAfterAnnouncementsInPduMode) { garbled_lines(",gsm_pdu_mode=1"); }

} // namespace
