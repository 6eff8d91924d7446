// A TE port against libpri on the network side: layer 2 comes up, a call
// set up at the device reaches the far end with its numbers, the answers
// come back as indications, and the trace decodes cleanly in tshark.
#include <gtest/gtest.h>

#include <cstdlib>

#include "misdn_device.h"
#include "misdn_harness.h"
#include "q931_wire.h"

namespace {

const ie_list setup_ies = {
    {IE_BEARER, {0x80, 0x90, 0xA3}},
    {IE_CHANNEL_ID, {0x83}},
    {IE_CALLING_PN, {0x21, 0x81, '6', '7', '8'}},
    {IE_CALLED_PN, {0x81, '1', '2', '3', '4', '5'}},
};

struct te_line {
    tmp_dir dir;
    int me = free_local_port(), far = free_local_port();
    std::string trace = dir.file("te.trace");
    peer_proc peer;
    te_app app;

    // kind: "bri ptp", "bri ptmp" or "e1 ptp"; line: q931peer --line
    void start(const std::string &kind, const std::string &line, const std::vector<std::string> &steps,
               const std::string &sw = "etsi")
    {
        std::string cfg = dir.file("ports");
        write_file(cfg, "1 te " + kind + " " + std::to_string(me) + " " + std::to_string(far) + " " +
                            trace + "\n");
        setenv("TARN_MISDN_SIM", cfg.c_str(), 1);
        std::vector<std::string> args = {"--role", "network", "--line", line, "--switch", sw,
                                         "--local", std::to_string(far), "--peer", std::to_string(me)};
        for (const auto &s : steps) {
            args.push_back("-e");
            args.push_back(s);
        }
        ASSERT_TRUE(peer.start(args, dir.file("peer.out")));
        ASSERT_TRUE(app.open(1));
    }
};

struct line_kind {
    const char *kind;  // port description
    const char *line;  // q931peer --line
    std::vector<uint8_t> channel_any;
    const char *sw = "etsi";
};

class TeCall : public ::testing::TestWithParam<line_kind> {};

TEST_P(TeCall, CallUpAnsweredAndClearedAgainstLibpri)
{
    te_line t;
    t.start(GetParam().kind, GetParam().line,
            {"wait ring", "proceeding", "alerting", "answer", "wait hangup_req", "wait hangup_ack 5"},
            GetParam().sw);
    ASSERT_TRUE(t.app.wait(DL_ESTABLISH | CONFIRM, WAIT_MS)) << "layer 2 did not come up";
    ASSERT_TRUE(t.peer.wait_line("UP", WAIT_MS));

    const int pid = 0x10001;
    t.app.write(CC_NEW_CR | REQUEST, pid);
    ie_list ies = setup_ies;
    ies[1].second = GetParam().channel_any;
    t.app.write(0x30580, pid, info_data(ies));
    std::string ring;
    ASSERT_TRUE(t.peer.wait_line("RING", WAIT_MS, &ring));
    EXPECT_NE(ring.find("called=12345"), std::string::npos) << ring;
    EXPECT_NE(ring.find("calling=678"), std::string::npos) << ring;

    frame f;
    ASSERT_TRUE(t.app.wait_cc(MT_CALL_PROCEEDING, INDICATION, WAIT_MS, &f));
    EXPECT_EQ(f.h.dinfo, pid);
    EXPECT_FALSE(info_ie(f, IE_CHANNEL_ID).empty()) << "the network names the B-channel";
    ASSERT_TRUE(t.app.wait_cc(MT_ALERTING, INDICATION, WAIT_MS));
    ASSERT_TRUE(t.app.wait_cc(MT_CONNECT, INDICATION, WAIT_MS, &f));
    EXPECT_EQ(f.h.dinfo, pid);

    t.app.write(0x34580, pid, info_data({{IE_CAUSE, {0x80, 0x90}}}));
    ASSERT_TRUE(t.app.wait_cc(MT_RELEASE, INDICATION, WAIT_MS, &f));
    ASSERT_TRUE(t.app.wait(CC_RELEASE_CR | INDICATION, WAIT_MS, &f));
    EXPECT_EQ(f.h.dinfo, pid);
    // the application's own RELEASE COMPLETE after the network's RELEASE is not sent again
    t.app.write(0x35A80, pid, info_data({{IE_CAUSE, {0x80, 0x90}}}));
    ASSERT_TRUE(t.peer.wait_line("HANGUP_ACK", WAIT_MS));
    usleep(300000);

    auto mts = tshark_fields(t.trace, "q931", {"q931.message_type"});
    std::string all;
    for (auto &m : mts)
        all += m + ";";
    for (const char *want : {"0x05", "0x02", "0x01", "0x07", "0x0f", "0x45", "0x4d", "0x5a"})
        EXPECT_NE(all.find(want), std::string::npos) << want << " missing in " << all;
    int relcomp = 0;
    for (auto &m : mts)
        relcomp += m == "0x5a";
    EXPECT_EQ(relcomp, 1) << "exactly one RELEASE COMPLETE: " << all;
    EXPECT_EQ(tshark_bad_frames(t.trace), 0u);
}

INSTANTIATE_TEST_SUITE_P(Lines, TeCall,
                         ::testing::Values(line_kind{"bri ptp", "ptp", {0x83}},
                                           line_kind{"bri ptmp", "ptmp", {0x83}},
                                           line_kind{"e1 ptp", "e1", {0xA3}},
                                           line_kind{"e1 ptp", "e1", {0xA3}, "qsig"}),
                         [](const auto &info) { return std::string(info.param.line) + "_" + info.param.sw; });

}  // namespace
