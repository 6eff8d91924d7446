// An NT port on a point-to-multipoint bus with two libpri terminals: the
// SETUP goes out to the group TEI, the terminals get their TEIs, one alerts,
// the other answers; the loser is released with cause 26.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

#include "misdn_device.h"
#include "misdn_harness.h"
#include "q931_wire.h"

namespace {

const ie_list setup_ies = {
    {IE_BEARER, {0x80, 0x90, 0xA3}},
    {IE_CHANNEL_ID, {0x81}},
    {IE_CALLING_PN, {0x21, 0x81, '4', '4', '4'}},
    {IE_CALLED_PN, {0x81, '2', '0', '1'}},
};

uint32_t cc(uint8_t mt, uint32_t cmd) { return 0x030000u | ((uint32_t)mt << 8) | cmd; }

TEST(NtPtmp, BroadcastSetupAnsweredByOneOfTwoTerminals)
{
    tmp_dir dir;
    int me = free_local_port(), t1 = free_local_port(), t2 = free_local_port();
    std::string trace = dir.file("nt.trace"), cfg = dir.file("ports");
    write_file(cfg, "1 nt bri ptmp " + std::to_string(me) + " " + std::to_string(t1) + "," +
                        std::to_string(t2) + " " + trace + "\n");
    setenv("TARN_MISDN_SIM", cfg.c_str(), 1);
    auto args = [&](int local, std::vector<std::string> steps) {
        std::vector<std::string> a = {"--role", "user", "--line", "ptmp", "--local",
                                      std::to_string(local), "--peer", std::to_string(me)};
        for (auto &s : steps) {
            a.push_back("-e");
            a.push_back(s);
        }
        return a;
    };
    peer_proc alerting, answering;
    ASSERT_TRUE(alerting.start(args(t1, {"wait ring 20", "alerting", "wait hangup 20"}), dir.file("t1.out")));
    // the second terminal answers once the first one's ALERTING has reached us
    std::string go = dir.file("go");
    ASSERT_TRUE(answering.start(args(t2, {"wait ring", "waitfile " + go + " 20", "answer", "wait hangup_req 20"}),
                                dir.file("t2.out")));
    ASSERT_TRUE(alerting.wait_line("READY", WAIT_MS));
    ASSERT_TRUE(answering.wait_line("READY", WAIT_MS));
    nt_app app;
    ASSERT_TRUE(app.open(1, false));

    const int libpid = 0xFF01;
    ASSERT_EQ(app.request(cc(MT_SETUP, REQUEST), libpid, setup_ies), 0);
    nt_ind ind;
    ASSERT_TRUE(app.wait(cc(MT_SETUP, CONFIRM), WAIT_MS, &ind));
    EXPECT_EQ(ind.dinfo, libpid);
    const int callid = ind.word;
    EXPECT_EQ(callid & 0xFF, 0) << "a broadcast call has no terminal yet";

    std::string ring;
    ASSERT_TRUE(alerting.wait_line("RING", WAIT_MS, &ring));
    EXPECT_NE(ring.find("called=201"), std::string::npos) << ring;
    ASSERT_TRUE(answering.wait_line("RING", WAIT_MS));

    ASSERT_TRUE(app.wait(cc(MT_ALERTING, INDICATION), WAIT_MS, &ind));
    EXPECT_EQ(ind.dinfo & 0xFFFF0000, callid & 0xFFFF0000);
    write_file(go, "");
    ASSERT_TRUE(app.wait(cc(MT_CONNECT, INDICATION), WAIT_MS, &ind));
    const int winner = ind.dinfo;
    EXPECT_EQ(winner & 0xFFFF0000, callid & 0xFFFF0000);
    EXPECT_GE(winner & 0xFF, 64) << "the answering terminal's TEI";
    EXPECT_EQ(ind.ces, winner & 0xFF);
    ASSERT_EQ(app.request(cc(MT_CONNECT, RESPONSE), winner), 0);

    std::string lost;
    ASSERT_TRUE(alerting.wait_line("HANGUP", WAIT_MS, &lost));
    EXPECT_NE(lost.find("cause=26"), std::string::npos) << lost;

    ASSERT_EQ(app.request(cc(MT_DISCONNECT, REQUEST), winner, {{IE_CAUSE, {0x82, 0x90}}}), 0);
    ASSERT_TRUE(answering.wait_line("HANGUP_REQ", WAIT_MS));
    ASSERT_TRUE(app.wait(cc(MT_RELEASE, INDICATION), WAIT_MS, &ind));
    EXPECT_EQ(ind.dinfo, winner);
    usleep(300000);

    auto tei = tshark_fields(trace, "lapd.sapi == 63", {"lapd.tei"});
    EXPECT_GE(tei.size(), 4u) << "two TEI requests and two assignments";
    auto mts = tshark_fields(trace, "q931", {"lapd.tei", "q931.message_type"});
    std::string all;
    for (auto &m : mts)
        all += m + ";";
    EXPECT_NE(all.find("127 0x05"), std::string::npos) << "SETUP to the group TEI: " << all;
    for (const char *want : {" 0x07", " 0x0f", " 0x4d"})
        EXPECT_NE(all.find(want), std::string::npos) << want << " missing in " << all;
    auto cause26 = tshark_fields(trace, "q931.message_type == 0x4d && q931.cause_value == 26", {"lapd.tei"});
    EXPECT_EQ(cause26.size(), 1u) << all;
    EXPECT_EQ(tshark_bad_frames(trace), 0u);
}

}  // namespace
