// The GSM console commands of the running daemon against modemsim: raw and
// queued AT commands, the operator scan and choice, the SIM PIN, USSD, the
// status listing and the restart of a port. Lines go in on tarn's standard
// input; their answers come out on its standard output.
#include <gtest/gtest.h>

#include <string>

#include "gsm_world.h"

namespace {

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// Sends line every second until tarn's output holds want (bounded).
bool console_until(gsm_world &g, const std::string &line, const std::string &want, int ms = 20000)
{
    return e2e_world::wait_for(
        [&] {
            if (has(g.w.tarn_out(), want))
                return true;
            g.w.console(line);
            return g.w.wait_out(want, 1000);
        },
        ms);
}

TEST(GsmConsole, AtCommandsOperatorsPinsAndUssd)
{
    gsm_world g("");
    E2E_REQUIRE(g.w);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();

    // AT commands: queued with its answer, and the refusals.
    g.w.console("ats1:AT+CSQ");
    EXPECT_NE(g.sim->expect(1, "^AT\\+CSQ$", 20000), "");
    EXPECT_TRUE(g.w.wait_out("\n+CSQ: ")) << g.w.tarn_out();
    g.w.console("at 1:AT");
    EXPECT_TRUE(g.w.wait_out("Invalid Command Format  1:AT\n"));
    g.w.console("at7:AT");
    EXPECT_TRUE(g.w.wait_out("Invalid GSM port 7\n"));

    // The operator scan runs in the background; its list once done.
    g.w.console("goret1");
    EXPECT_NE(g.sim->expect(1, "^AT\\+COPS=\\?$", 20000), "");
    EXPECT_TRUE(console_until(g, "goshow1", "2|SimNet|SimN|26201|7:SimNet[E-UTRAN/LTE/4G] (current)\n"))
        << g.w.tarn_out();
    EXPECT_TRUE(has(g.w.tarn_out(), "1|Other|Oth|26202|2:Other[UTRAN/3G] (available)\n"));
    g.w.console("goret9");
    EXPECT_TRUE(g.w.wait_out("Invalid Port 9\n"));
    g.w.console("goset1:2:x");
    EXPECT_NE(g.sim->expect(1, "^AT\\+COPS=2$", 20000), "");
    EXPECT_TRUE(g.w.wait_out("setting provider on port 1 with mode 2 to x\n"));

    // SIM PIN: a PIN that is not 4 to 8 digits sends nothing.
    g.w.console("gsmpin1:12a4:5678");
    EXPECT_TRUE(g.w.wait_out("invalid syntax |1:12a4:5678|\n"));
    g.w.console("gsmpin1::1234");
    EXPECT_NE(g.sim->expect(1, "^AT\\+CLCK=SC,1,1234$", 20000), "");
    EXPECT_TRUE(g.w.wait_out("SIM Pin Enable Port 1: Result: OK\n")) << g.w.tarn_out();
    for (const std::string &c : g.sim->commands(1))
        EXPECT_EQ(c.find("12a4"), std::string::npos) << c;

    // USSD: the code, then the modem's answer.
    g.w.console("ussd:9:*100#");
    EXPECT_TRUE(g.w.wait_out("invalid port 9\n"));
    g.w.console("ussd:12:*100#");
    EXPECT_TRUE(g.w.wait_out("invalid string\n"));
    g.w.console("ussd:1:*100#");
    EXPECT_NE(g.sim->expect(1, "^AT\\+CUSD=1,\\*100#,0$", 20000), "");
    EXPECT_TRUE(console_until(g, "ussds", "RESPONSE [0] => ")) << g.w.tarn_out();
    EXPECT_TRUE(has(g.w.tarn_out(), "GSM PORT 1: |*100#|\n"));
    int cusd = 0;
    for (const std::string &c : g.sim->commands(1))
        cusd += c.rfind("AT+CUSD", 0) == 0;
    EXPECT_EQ(cusd, 1) << "a refused code is never sent";

    // The status of the port once its poll is done.
    EXPECT_TRUE(console_until(g, "g", "* port 1\tSERVINFO: ")) << g.w.tarn_out();
    EXPECT_TRUE(has(g.w.tarn_out(), "LISTING GSM STATE\n"));
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

TEST(GsmConsole, PortRestart)
{
    gsm_world g("");
    E2E_REQUIRE(g.w);
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    g.w.console("rgp7");
    EXPECT_TRUE(g.w.wait_out("invalid port 7 given\n"));
    g.w.console("rgp2");
    EXPECT_TRUE(g.w.wait_out("port 2 not configured\n"));
    g.w.console("rgp1");
    EXPECT_TRUE(g.w.wait_out("shutting down gsm port 1\n"));
    EXPECT_NE(g.sim->expect(1, "^AT#REBOOT$", 20000), "");
    EXPECT_TRUE(g.w.wait_out("initializing gsm port 1\n"));
    // The modem's initialisation again, then its status poll.
    EXPECT_NE(g.sim->expect(1, "^AT\\+CIND=", 30000), "");
    EXPECT_TRUE(g.w.wait_out("STARTED AGAIN GSM PORT 1\n", 60000)) << g.w.tarn_out();
    EXPECT_FALSE(has(g.w.tarn_out(), "GSM port 1 NOT READY\n"));
    EXPECT_NE(g.sim->expect(1, "^AT#SERVINFO$", 30000), "");
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

} // namespace
