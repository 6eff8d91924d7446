// The device calls themselves, and two ports of one process wired to each
// other: a TE port calls an NT port on E1 (two-octet call references, NT
// point-to-point) through their UDP sockets.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "misdn_device.h"
#include "misdn_harness.h"
#include "misdn_sim.h"
#include "q931_wire.h"

namespace {

struct device_rig {
    tmp_dir dir;
    std::string cfg = dir.file("ports");
    explicit device_rig(const std::string &text)
    {
        write_file(cfg, text);
        setenv("TARN_MISDN_SIM", cfg.c_str(), 1);
    }
};

TEST(Device, StacksLayersAndFrames)
{
    device_rig rig("1 te bri ptmp - - -\n3 nt e1 ptp - - -\n");
    int fid = mISDN_open();
    ASSERT_GE(fid, 1);
    EXPECT_EQ(mISDN_get_stack_count(fid), 3);
    stack_info_t si;
    EXPECT_EQ(mISDN_get_stack_info(fid, 2, &si, sizeof si), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(mISDN_get_stack_info(fid, 1, &si, 4), -1);
    ASSERT_EQ(mISDN_get_stack_info(fid, 1, &si, sizeof si), 0);
    EXPECT_EQ(si.pid.protocol[0] & ~ISDN_PID_FEATURE_MASK, ISDN_PID_L0_TE_S0);
    EXPECT_EQ(si.pid.protocol[2] & ISDN_PID_L2_DF_PTP, 0) << "point-to-multipoint";
    EXPECT_EQ(si.childcnt, 2);
    stack_info_t nt;
    ASSERT_EQ(mISDN_get_stack_info(fid, 3, &nt, sizeof nt), 0);
    EXPECT_EQ(nt.pid.protocol[0], ISDN_PID_L0_NT_E1);
    EXPECT_EQ(nt.childcnt, 30);

    // a TE port takes its application at layer 4 only
    layer_info_t li{};
    li.st = si.id;
    li.pid.layermask = 1 << 2;
    EXPECT_EQ(mISDN_new_layer(fid, &li), -1);
    EXPECT_EQ(mISDN_get_layerid(fid, si.id, 4), -1);
    li.pid.layermask = 1 << 4;
    ASSERT_EQ(mISDN_new_layer(fid, &li), 0);
    EXPECT_EQ(mISDN_get_layerid(fid, si.id, 4), (int)li.id);
    EXPECT_EQ((int)(li.id & STACK_ID_MASK), (int)si.id);

    // B-channel stack: set-up indication and establish confirm
    uint32_t b = si.child[1];
    EXPECT_NE(b & FLG_CHILD_STACK, 0u);
    mISDN_pid_t pid{};
    pid.protocol[1] = ISDN_PID_L1_B_64TRANS;
    ASSERT_EQ(mISDN_set_stack(fid, b, &pid), 0);
    EXPECT_EQ(mISDN_get_setstack_ind(fid, b), 0);
    int baddr = mISDN_get_layerid(fid, b, 3);
    ASSERT_GT(baddr, 0);
    mISDN_write_frame(fid, nullptr, (uint32_t)baddr | FLG_MSG_DOWN, DL_ESTABLISH | REQUEST, 0, 0, nullptr,
                      TIMEOUT_1SEC);
    uint8_t buf[MAX_FRAME_SIZE];
    ASSERT_EQ(mISDN_read_frame(fid, buf, sizeof buf, (uint32_t)baddr, DL_ESTABLISH | CONFIRM, TIMEOUT_1SEC), 16);

    // frames that cannot be taken
    EXPECT_EQ(mISDN_write(fid, buf, 8, TIMEOUT_1SEC), -1);
    iframe_t h{};
    h.addr = si.id | 4;
    h.prim = PH_ACTIVATE | REQUEST;
    h.len = 100;
    EXPECT_EQ(mISDN_write(fid, &h, 16, TIMEOUT_1SEC), -1) << "length beyond the buffer";
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(mISDN_write_frame(fid, nullptr, 0x00007700, PH_ACTIVATE | REQUEST, 0, 0, nullptr, 0), -1);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(mISDN_read(fid, buf, sizeof buf, 20000), 0) << "nothing queued: time-out";

    // device timers: an added timer is reported with its id, a deleted one not
    mISDN_write_frame(fid, nullptr, 0x00E12345, MGR_ADDTIMER | REQUEST, 10, 0, nullptr, 0);
    mISDN_write_frame(fid, nullptr, 0x00E12346, MGR_ADDTIMER | REQUEST, 10, 0, nullptr, 0);
    mISDN_write_frame(fid, nullptr, 0x00E12346, MGR_DELTIMER | REQUEST, 0, 0, nullptr, 0);
    ASSERT_EQ(mISDN_read(fid, buf, sizeof buf, TIMEOUT_1SEC), 16);
    memcpy(&h, buf, 16);
    EXPECT_EQ(h.prim, MGR_TIMER | INDICATION);
    EXPECT_EQ(h.addr, 0x00E12345u);
    EXPECT_EQ(mISDN_read(fid, buf, sizeof buf, 100000), 0);
    EXPECT_EQ(mISDN_read(fid, buf, 8, 0), 0);

    EXPECT_EQ(mISDN_close(fid), 0);
    EXPECT_EQ(mISDN_close(fid), -1);
}

TEST(Device, LayerOneLossReleasesLayerTwo)
{
    device_rig rig("1 te bri ptp - - -\n");
    te_app app;
    ASSERT_TRUE(app.open(1));
    const uint8_t ua[] = {0x00, 0x01, 0x73};  // the network's answer to our SABME
    ASSERT_EQ(misdn_sim_inject(1, ua, sizeof ua), 0);
    ASSERT_TRUE(app.wait(DL_ESTABLISH | CONFIRM, WAIT_MS));
    ASSERT_EQ(misdn_sim_set_l1(1, false), 0);
    EXPECT_TRUE(app.wait(DL_RELEASE | INDICATION, WAIT_MS));
    EXPECT_TRUE(app.wait(PH_DEACTIVATE | INDICATION, WAIT_MS));
    ASSERT_EQ(misdn_sim_set_l1(1, true), 0);
    EXPECT_TRUE(app.wait(PH_ACTIVATE | INDICATION, WAIT_MS));
    EXPECT_EQ(misdn_sim_set_l1(2, true), -1);
}

TEST(Device, OpenFailsWithoutAUsableDescription)
{
    tmp_dir dir;
    setenv("TARN_MISDN_SIM", dir.file("missing").c_str(), 1);
    EXPECT_EQ(mISDN_open(), -1);
    std::string cfg = dir.file("ports");
    write_file(cfg, "1 te bri ptp 1 2 - x\n");
    setenv("TARN_MISDN_SIM", cfg.c_str(), 1);
    EXPECT_EQ(mISDN_open(), -1);
}

TEST(Device, TePortCallsNtPortOfTheSameProcess)
{
    tmp_dir dir;
    int a = free_local_port(), b = free_local_port();
    std::string trace = dir.file("nt.trace");
    std::string cfg = dir.file("ports");
    write_file(cfg, "1 te e1 ptp " + std::to_string(a) + " " + std::to_string(b) + " -\n" + "2 nt e1 ptp " +
                        std::to_string(b) + " " + std::to_string(a) + " " + trace + "\n");
    setenv("TARN_MISDN_SIM", cfg.c_str(), 1);
    nt_app net;
    ASSERT_TRUE(net.open(2, true, FEATURE_NET_CRLEN2));
    te_app user;
    ASSERT_TRUE(user.open(1));
    ASSERT_TRUE(user.wait(DL_ESTABLISH | CONFIRM, WAIT_MS) || user.wait(DL_ESTABLISH | INDICATION, 100));

    user.write(CC_NEW_CR | REQUEST, 0x10001);
    user.write(0x30580, 0x10001,
               info_data({{IE_BEARER, {0x80, 0x90, 0xA3}},
                          {IE_CHANNEL_ID, {0xA1, 0x83, 0x05}},
                          {IE_CALLED_PN, {0x81, '7', '7'}}}));
    nt_ind ind;
    ASSERT_TRUE(net.wait(0x30582, WAIT_MS, &ind));
    EXPECT_EQ(ind.ie(IE_CALLED_PN), (std::vector<uint8_t>{0x81, '7', '7'}));
    const int call = ind.dinfo;
    net.request(0x30780, call, {{IE_CHANNEL_ID, {0xA9, 0x83, 0x05}}});
    frame f;
    ASSERT_TRUE(user.wait_cc(MT_CONNECT, INDICATION, WAIT_MS, &f));
    EXPECT_EQ(info_ie(f, IE_CHANNEL_ID), (std::vector<uint8_t>{0xA9, 0x83, 0x05}));
    ASSERT_TRUE(net.wait(0x30F82, WAIT_MS)) << "the TE side acknowledges CONNECT";
    user.write(0x34580, 0x10001, info_data({{IE_CAUSE, {0x80, 0x90}}}));
    ASSERT_TRUE(net.wait(0x34582, WAIT_MS));
    net.request(0x34D80, call, {{IE_CAUSE, {0x82, 0x90}}});
    ASSERT_TRUE(user.wait_cc(MT_RELEASE, INDICATION, WAIT_MS));
    ASSERT_TRUE(net.wait(0x34D81, WAIT_MS)) << "RELEASE COMPLETE confirms our RELEASE";
    ASSERT_TRUE(user.wait(CC_RELEASE_CR | INDICATION, WAIT_MS));
    user.close();
    net.close();
    auto crl = tshark_fields(trace, "q931", {"q931.call_ref_len"});
    ASSERT_FALSE(crl.empty());
    for (auto &l : crl)
        EXPECT_EQ(l, "2");
    EXPECT_EQ(tshark_bad_frames(trace), 0u);
}

}  // namespace
