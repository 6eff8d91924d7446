// The console's GSM test commands against the running daemon with a
// modemsim modem on port 1, over the status server: the message format
// switch, the incoming-message and delivery-report parsers, the caller
// number parser, and simulated cell broadcasts that never leave a partial
// file in the spools.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "console_e2e_util.h"
#include "gsm_world.h"
#include "run_process.h"

namespace {

std::vector<std::string> files_in(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

int count_of(const std::vector<std::string> &commands, const std::string &cmd)
{
    int n = 0;
    for (const std::string &c : commands)
        n += c == cmd;
    return n;
}

// SMS-DELIVER PDUs of a network (python3-gammu through the test helper).
std::string deliver_pdu(const std::string &number, const std::string &text)
{
    process_result r = run_process(
        {system_python(), std::string(TARN_SOURCE_DIR) + "/tests/gsm/pdu_tool.py", "deliver", number, "7bit", text});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out.substr(0, r.out.find('\n'));
}

TEST(ConsoleGsmE2E, FormatSwitchParsersAndCellBroadcasts)
{
    gsm_world g("");
    E2E_REQUIRE(g.w);
    const std::string sms = g.w.root.path("sms"), cbm = g.w.root.path("cbm");
    for (const std::string &d : {sms, sms + "/in", sms + "/out", sms + "/failout", sms + "/parts", cbm,
                                 cbm + "/in", cbm + "/parts"})
        mkdir(d.c_str(), 0770);
    g.w.root.write("usr/conf/tarn.gsm", "[general]\nsms_spool_base=" + sms + "/\nsms_spool_in=" + sms +
                                            "/in/\nsms_spool_out=" + sms + "/out/\nsms_spool_failout=" + sms +
                                            "/failout/\nsms_spool_parts=" + sms + "/parts/\ncbm_spool_base=" + cbm +
                                            "/\ncbm_spool_in=" + cbm + "/in/\ncbm_spool_parts=" + cbm +
                                            "/parts/\n[mobile]\nports=1\n");
    ASSERT_TRUE(g.start()) << g.w.tarn_err();
    ASSERT_TRUE(console_e2e_listening(g.w));

    // The message format: 1 - X for 0 and 1, else 0; X is kept.
    int before = count_of(g.sim->commands(1), "AT+CMGF=0");
    EXPECT_EQ(console_e2e_ask(g.w, "pdu1"), "\r\n");
    EXPECT_TRUE(e2e_world::wait_for([&] { return count_of(g.sim->commands(1), "AT+CMGF=0") == before + 1; }, E2E_WAIT_MS));
    EXPECT_EQ(console_e2e_ask(g.w, "pdu"), "1\n\r\n");
    EXPECT_EQ(console_e2e_ask(g.w, "pdu5"), "\r\n");
    EXPECT_TRUE(e2e_world::wait_for([&] { return count_of(g.sim->commands(1), "AT+CMGF=0") == before + 2; }, E2E_WAIT_MS));
    EXPECT_EQ(console_e2e_ask(g.w, "pdu"), "5\n\r\n");

    // A network's PDU filed with its text and number.
    EXPECT_EQ(console_e2e_ask(g.w, "tps" + deliver_pdu("+4917012345", "Hello from the network")), "\r\n");
    ASSERT_TRUE(e2e_world::wait_for([&] { return files_in(sms + "/in").size() == 1; }, E2E_WAIT_MS));
    std::string filed = read_text_file(sms + "/in/" + files_in(sms + "/in")[0]);
    EXPECT_NE(filed.find("msg=Hello from the network"), std::string::npos) << filed;
    EXPECT_NE(filed.find("4917012345"), std::string::npos) << filed;

    // A status report (message reference 0x2A) and the caller number.
    EXPECT_EQ(console_e2e_ask(g.w, "tpc00062A0B919471021043F5429010203040004290102030405000"), "Parsed msg id 42\n\r\n");
    EXPECT_EQ(console_e2e_ask(g.w, "pclip+CLIP: \"0301234\",129"), "CLIP |0301234|\n\r\n");

    // Cell broadcasts: no such test; a URC between header and PDU still
    // files the message; a truncated PDU files nothing. No temporary file
    // is left anywhere.
    EXPECT_EQ(console_e2e_ask(g.w, "testcbm9"), "Not testing.\n\r\n");
    EXPECT_EQ(console_e2e_ask(g.w, "testcbm7"), "Running test 7, URC between +CBM header and PDU\n\r\n");
    ASSERT_EQ(files_in(cbm + "/in").size(), 1u);
    std::string broadcast = read_text_file(cbm + "/in/" + files_in(cbm + "/in")[0]);
    EXPECT_NE(broadcast.find("msg=Test 7: a URC came in between."), std::string::npos) << broadcast;
    EXPECT_EQ(console_e2e_ask(g.w, "testcbm8"), "Running test 8, truncated PDU\n\r\n");
    EXPECT_EQ(files_in(cbm + "/in").size(), 1u);
    for (const std::string &d : {sms + "/in", cbm + "/in", cbm + "/parts"})
        for (const std::string &f : files_in(d))
            EXPECT_EQ(f.find(".tmp"), std::string::npos) << d << "/" << f;
    EXPECT_TRUE(files_in(cbm + "/parts").empty());
    EXPECT_EQ(sipp_stop_tarn(g.w), "");
}

} // namespace
