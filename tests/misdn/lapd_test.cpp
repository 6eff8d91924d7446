// LAPD data link on both sides, driven frame by frame with timers fired by
// hand: establishment, acknowledgement, retransmission on T200, sequence
// errors, TEI management, and frames that are dropped.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "lapd.h"

namespace {

struct dl_event {
    int prim, tei;
    std::vector<uint8_t> data;
};

struct link_rig {
    lapd_entity e;
    std::vector<std::vector<uint8_t>> tx;
    std::vector<dl_event> dl;
    std::map<int, int> timers;  // key -> ms while armed

    link_rig(bool network, bool ptp, int k = 1)
    {
        lapd_config c;
        c.network = network;
        c.ptp = ptp;
        c.k = k;
        lapd_ops ops{
            [](void *ctx, const uint8_t *f, int len) {
                ((link_rig *)ctx)->tx.emplace_back(f, f + len);
            },
            [](void *ctx, int prim, int tei, const uint8_t *d, int len) {
                ((link_rig *)ctx)->dl.push_back({prim, tei, std::vector<uint8_t>(d, d + len)});
            },
            [](void *ctx, int key, int ms) {
                auto &t = ((link_rig *)ctx)->timers;
                if (ms < 0)
                    t.erase(key);
                else
                    t[key] = ms;
            }};
        lapd_init(&e, c, ops, this, "test");
    }

    // The peer's frame; cmd tells whether the peer sends it as a command.
    int in(std::vector<uint8_t> f) { return lapd_frame_in(&e, f.data(), (int)f.size()); }
    void fire(int link, int kind)
    {
        int key = lapd_timer_key(link, kind);
        ASSERT_TRUE(timers.count(key)) << "timer " << kind << " not armed";
        timers.erase(key);
        lapd_timer_expired(&e, key);
    }
    lapd_frame last() const
    {
        lapd_frame f{};
        const char *why;
        EXPECT_FALSE(tx.empty());
        if (!tx.empty()) {
            EXPECT_EQ(lapd_decode(tx.back().data(), (int)tx.back().size(), &f, &why), 0);
        }
        return f;
    }
};

// Frames from the network side to a user: commands carry C/R 1.
std::vector<uint8_t> net_frame(int tei, bool cmd, std::vector<uint8_t> ctl_and_info)
{
    std::vector<uint8_t> f = {(uint8_t)(cmd ? 0x02 : 0x00), (uint8_t)((tei << 1) | 1)};
    f.insert(f.end(), ctl_and_info.begin(), ctl_and_info.end());
    return f;
}

// Frames from a user to the network: commands carry C/R 0.
std::vector<uint8_t> user_frame(int sapi, int tei, bool cmd, std::vector<uint8_t> ctl_and_info)
{
    std::vector<uint8_t> f = {(uint8_t)((sapi << 2) | (cmd ? 0x00 : 0x02)), (uint8_t)((tei << 1) | 1)};
    f.insert(f.end(), ctl_and_info.begin(), ctl_and_info.end());
    return f;
}

void establish_user(link_rig &r)
{
    ASSERT_EQ(lapd_dl_establish(&r.e, 0), 0);
    lapd_frame f = r.last();
    EXPECT_EQ(f.type, LAPD_SABME);
    EXPECT_EQ(f.cr, 0) << "a user's command carries C/R 0";
    EXPECT_EQ(f.pf, 1);
    ASSERT_EQ(r.in(net_frame(0, false, {0x73})), 0);  // UA, F
    ASSERT_FALSE(r.dl.empty());
    EXPECT_EQ(r.dl.back().prim, LAPD_DL_ESTABLISH_CNF);
    EXPECT_TRUE(lapd_is_established(&r.e, 0));
    EXPECT_FALSE(r.timers.count(lapd_timer_key(0, LAPD_T200)));
    EXPECT_TRUE(r.timers.count(lapd_timer_key(0, LAPD_T203)));
}

TEST(Lapd, IFramesAreNumberedAndAcknowledged)
{
    link_rig r(false, true);
    establish_user(r);
    const uint8_t msg[] = {0x08, 0x01, 0x01, 0x05};
    ASSERT_EQ(lapd_dl_data(&r.e, 0, msg, sizeof msg), 0);
    lapd_frame f = r.last();
    EXPECT_EQ(f.type, LAPD_I);
    EXPECT_EQ(f.ns, 0);
    EXPECT_EQ(f.info_len, 4);
    EXPECT_TRUE(r.timers.count(lapd_timer_key(0, LAPD_T200)));
    // the network's I frame acknowledges ours and is acknowledged by RR
    ASSERT_EQ(r.in(net_frame(0, true, {0x00, 0x02, 0x08, 0x01, 0x81, 0x02})), 0);
    EXPECT_EQ(r.dl.back().prim, LAPD_DL_DATA_IND);
    EXPECT_EQ(r.dl.back().data.size(), 4u);
    f = r.last();
    EXPECT_EQ(f.type, LAPD_RR);
    EXPECT_EQ(f.nr, 1);
    EXPECT_FALSE(r.timers.count(lapd_timer_key(0, LAPD_T200)));
    // window of one: the second frame waits for the first one's acknowledgement
    lapd_dl_data(&r.e, 0, msg, sizeof msg);
    lapd_dl_data(&r.e, 0, msg, sizeof msg);
    size_t sent = r.tx.size();
    EXPECT_EQ(r.last().ns, 1);
    ASSERT_EQ(r.in(net_frame(0, false, {0x01, 0x04})), 0);  // RR N(R)=2
    ASSERT_EQ(r.tx.size(), sent + 1);
    EXPECT_EQ(r.last().ns, 2);
}

TEST(Lapd, T200EnquiresAndRetransmitsThenReestablishes)
{
    link_rig r(false, true);
    establish_user(r);
    const uint8_t msg[] = {0x08, 0x01, 0x01, 0x05};
    lapd_dl_data(&r.e, 0, msg, sizeof msg);
    r.fire(0, LAPD_T200);
    lapd_frame f = r.last();
    EXPECT_EQ(f.type, LAPD_RR);
    EXPECT_EQ(f.pf, 1);
    EXPECT_EQ(f.cr, 0) << "enquiry is a command";
    // the answer says nothing arrived: the I frame goes again with N(S) 0
    ASSERT_EQ(r.in(net_frame(0, false, {0x01, 0x01})), 0);  // RR response F=1 N(R)=0
    f = r.last();
    EXPECT_EQ(f.type, LAPD_I);
    EXPECT_EQ(f.ns, 0);
    // no answers at all: N200 enquiries, then a new SABME
    r.fire(0, LAPD_T200);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(r.last().type, LAPD_RR);
        r.fire(0, LAPD_T200);
    }
    EXPECT_EQ(r.last().type, LAPD_SABME);
}

TEST(Lapd, SequenceErrorsAndBadAcknowledgements)
{
    link_rig r(false, true);
    establish_user(r);
    // N(S) 1 while 0 is expected: one REJ, nothing delivered
    size_t n = r.dl.size();
    ASSERT_EQ(r.in(net_frame(0, true, {0x02, 0x00, 0x08, 0x01, 0x81, 0x02})), 0);
    EXPECT_EQ(r.last().type, LAPD_REJ);
    EXPECT_EQ(r.dl.size(), n);
    ASSERT_EQ(r.in(net_frame(0, true, {0x00, 0x00, 0x08, 0x01, 0x81, 0x02})), 0);
    EXPECT_EQ(r.dl.back().prim, LAPD_DL_DATA_IND);
    // N(R) acknowledging frames never sent: the link is established anew
    ASSERT_EQ(r.in(net_frame(0, false, {0x01, 0x0A})), 0);
    EXPECT_EQ(r.last().type, LAPD_SABME);
}

TEST(Lapd, PeerReleaseAndReestablishment)
{
    link_rig r(false, true);
    establish_user(r);
    ASSERT_EQ(r.in(net_frame(0, true, {0x53})), 0);  // DISC, P
    EXPECT_EQ(r.last().type, LAPD_UA);
    EXPECT_EQ(r.last().pf, 1);
    EXPECT_EQ(r.dl.back().prim, LAPD_DL_RELEASE_IND);
    ASSERT_EQ(r.in(net_frame(0, true, {0x7F})), 0);  // SABME from the network
    EXPECT_EQ(r.last().type, LAPD_UA);
    EXPECT_EQ(r.dl.back().prim, LAPD_DL_ESTABLISH_IND);
    // a second SABME with nothing outstanding resets quietly
    size_t n = r.dl.size();
    ASSERT_EQ(r.in(net_frame(0, true, {0x7F})), 0);
    EXPECT_EQ(r.dl.size(), n);
}

// Both ends send SABME at once (or ours is lost): the peer's SABME brings
// the link up at once, its first I frame is taken, and its UA to our SABME
// changes nothing; no second SABME ever goes out.
TEST(Lapd, SabmeCollisionSettlesWithoutSecondEstablishment)
{
    link_rig r(false, true);
    const uint8_t early[] = {0x08, 0x01, 0x01, 0x45};
    ASSERT_EQ(lapd_dl_establish(&r.e, 0), 0);
    ASSERT_EQ(lapd_dl_data(&r.e, 0, early, sizeof early), 0) << "queued while the link comes up";
    ASSERT_EQ(r.last().type, LAPD_SABME);
    ASSERT_EQ(r.in(net_frame(0, true, {0x7F})), 0);  // the network's SABME, P
    ASSERT_GE(r.tx.size(), 3u);
    lapd_frame ua{};
    const char *why;
    ASSERT_EQ(lapd_decode(r.tx[1].data(), (int)r.tx[1].size(), &ua, &why), 0);
    EXPECT_EQ(ua.type, LAPD_UA);
    EXPECT_EQ(ua.pf, 1);
    EXPECT_TRUE(lapd_is_established(&r.e, 0));
    ASSERT_EQ(r.dl.size(), 1u);
    EXPECT_EQ(r.dl[0].prim, LAPD_DL_ESTABLISH_CNF);
    lapd_frame f = r.last();
    EXPECT_EQ(f.type, LAPD_I) << "what waited goes out";
    EXPECT_EQ(f.ns, 0);
    // the network's SETUP right behind its SABME is delivered
    ASSERT_EQ(r.in(net_frame(0, true, {0x00, 0x00, 0x08, 0x01, 0x01, 0x05})), 0);
    EXPECT_EQ(r.dl.back().prim, LAPD_DL_DATA_IND);
    // its UA to our SABME comes late and is of no consequence
    size_t sent = r.tx.size(), prims = r.dl.size();
    ASSERT_EQ(r.in(net_frame(0, false, {0x73})), 0);
    EXPECT_EQ(r.tx.size(), sent);
    EXPECT_EQ(r.dl.size(), prims);
    EXPECT_TRUE(lapd_is_established(&r.e, 0));
    ASSERT_EQ(r.in(net_frame(0, false, {0x01, 0x02})), 0);  // RR N(R)=1 acknowledges ours
    EXPECT_FALSE(r.timers.count(lapd_timer_key(0, LAPD_T200))) << "no SABME is repeated";
    int sabmes = 0;
    for (const auto &t : r.tx) {
        lapd_frame x{};
        sabmes += lapd_decode(t.data(), (int)t.size(), &x, &why) == 0 && x.type == LAPD_SABME;
    }
    EXPECT_EQ(sabmes, 1);
}

// However the link is set up again while frames are outstanding, none is
// lost: the one sent but not acknowledged and the one still queued go out
// again in order, numbered from 0, and layer 3 hears of no new link (only
// the confirm when it asked for it).
TEST(Lapd, ReestablishmentKeepsQueuedAndUnacknowledgedFrames)
{
    struct reason {
        const char *name;
        void (*cause)(link_rig &r);
        bool our_sabme;  // we send SABME and the network answers with UA
        bool confirmed = false;
    };
    const reason reasons[] = {
        {"network's SABME", [](link_rig &r) { r.in(net_frame(0, true, {0x7F})); }, false},
        {"enquiries unanswered",
         [](link_rig &r) {
             for (int i = 0; i < 4; i++)
                 r.fire(0, LAPD_T200);
         },
         true},
        {"DM in multiple-frame operation", [](link_rig &r) { r.in(net_frame(0, false, {0x0F})); }, true},
        {"N(R) out of range", [](link_rig &r) { r.in(net_frame(0, false, {0x01, 0x0A})); }, true},
        {"both ends at once",
         [](link_rig &r) {
             r.in(net_frame(0, false, {0x0F}));      // DM: we send SABME
             r.in(net_frame(0, true, {0x7F}));       // and the network's crosses it
         },
         false},
        {"layer 3 asks again", [](link_rig &r) { lapd_dl_establish(&r.e, 0); }, true, true},
    };
    const uint8_t first[] = {0x08, 0x01, 0x01, 0x05, 0xA1};
    const uint8_t second[] = {0x08, 0x01, 0x01, 0x7B, 0xA2};
    for (const reason &why : reasons) {
        SCOPED_TRACE(why.name);
        link_rig r(false, true);
        establish_user(r);
        size_t prims = r.dl.size();
        ASSERT_EQ(lapd_dl_data(&r.e, 0, first, sizeof first), 0);
        ASSERT_EQ(lapd_dl_data(&r.e, 0, second, sizeof second), 0);  // window of one: waits
        why.cause(r);
        if (why.our_sabme) {
            ASSERT_EQ(r.last().type, LAPD_SABME);
            ASSERT_EQ(r.in(net_frame(0, false, {0x73})), 0);  // UA, F
        }
        ASSERT_TRUE(lapd_is_established(&r.e, 0));
        ASSERT_EQ(r.dl.size(), prims + why.confirmed) << "no indication: nothing was lost";
        if (why.confirmed) {
            EXPECT_EQ(r.dl.back().prim, LAPD_DL_ESTABLISH_CNF);
        }
        lapd_frame f = r.last();
        ASSERT_EQ(f.type, LAPD_I);
        EXPECT_EQ(f.ns, 0);
        EXPECT_EQ(std::vector<uint8_t>(f.info, f.info + f.info_len), std::vector<uint8_t>(first, first + sizeof first));
        ASSERT_EQ(r.in(net_frame(0, false, {0x01, 0x02})), 0);  // RR N(R)=1
        f = r.last();
        ASSERT_EQ(f.type, LAPD_I);
        EXPECT_EQ(f.ns, 1);
        EXPECT_EQ(std::vector<uint8_t>(f.info, f.info + f.info_len),
                  std::vector<uint8_t>(second, second + sizeof second));
    }
}

TEST(Lapd, UserSideTeiAssignmentCheckAndRemoval)
{
    link_rig r(false, false);
    EXPECT_EQ(lapd_user_tei(&r.e), -1);
    ASSERT_EQ(lapd_dl_establish(&r.e, 0), 0);
    lapd_frame f = r.last();
    ASSERT_EQ(f.sapi, 63);
    ASSERT_EQ(f.tei, 127);
    tei_msg m;
    ASSERT_EQ(tei_msg_decode(f.info, f.info_len, &m, nullptr), 0);
    EXPECT_EQ(m.type, TEI_ID_REQUEST);
    EXPECT_EQ(m.ai, 127);
    auto tei_frame = [](int ri, int type, int ai) {
        uint8_t info[5];
        tei_msg_encode(info, ri, type, ai);
        std::vector<uint8_t> f = {0xFE, 0xFF, 0x03};
        f.insert(f.end(), info, info + 5);
        return f;
    };
    size_t sent = r.tx.size();
    r.in(tei_frame(m.ri ^ 1, TEI_ID_ASSIGNED, 70));
    EXPECT_EQ(r.tx.size(), sent) << "someone else's assignment";
    r.in(tei_frame(m.ri, TEI_ID_ASSIGNED, 70));
    EXPECT_EQ(lapd_user_tei(&r.e), 70);
    f = r.last();
    EXPECT_EQ(f.type, LAPD_SABME);
    EXPECT_EQ(f.tei, 70);
    r.in(tei_frame(0, TEI_ID_CHECK_REQUEST, 127));
    ASSERT_EQ(tei_msg_decode(r.last().info, r.last().info_len, &m, nullptr), 0);
    EXPECT_EQ(m.type, TEI_ID_CHECK_RESPONSE);
    EXPECT_EQ(m.ai, 70);
    r.in(net_frame(70, false, {0x73}));
    ASSERT_TRUE(lapd_is_established(&r.e, 0));
    r.in(tei_frame(0, TEI_ID_REMOVE, 70));
    EXPECT_EQ(lapd_user_tei(&r.e), -1);
    EXPECT_EQ(r.dl.back().prim, LAPD_DL_RELEASE_IND);
}

TEST(Lapd, UserSideGivesUpAfterN202Requests)
{
    link_rig r(false, false);
    lapd_dl_establish(&r.e, 0);
    for (int i = 0; i < 3; i++)
        r.fire(LAPD_TEIMGT_LINK, LAPD_T202);
    int requests = 0;
    for (auto &f : r.tx)
        requests += f[0] == 0xFC;
    EXPECT_EQ(requests, 3);
    ASSERT_FALSE(r.dl.empty());
    EXPECT_EQ(r.dl.back().prim, LAPD_DL_RELEASE_IND);
}

TEST(Lapd, NetworkSideAssignsTeisAndBroadcasts)
{
    link_rig r(true, false);
    auto request = [&](int ri) {
        uint8_t info[5];
        tei_msg_encode(info, ri, TEI_ID_REQUEST, 127);
        std::vector<uint8_t> f = {0xFC, 0xFF, 0x03};
        f.insert(f.end(), info, info + 5);
        r.in(f);
        tei_msg m;
        EXPECT_EQ(tei_msg_decode(r.last().info, r.last().info_len, &m, nullptr), 0);
        EXPECT_EQ(m.type, TEI_ID_ASSIGNED);
        EXPECT_EQ(m.ri, ri);
        EXPECT_EQ(r.last().cr, 1) << "network commands carry C/R 1";
        return m.ai;
    };
    EXPECT_EQ(request(0x1234), 64);
    EXPECT_EQ(request(0x4321), 65);
    // a frame of a TEI never assigned is ignored, an assigned one is served
    size_t sent = r.tx.size();
    EXPECT_EQ(r.in(user_frame(0, 90, true, {0x7F})), -1);
    EXPECT_EQ(r.tx.size(), sent);
    ASSERT_EQ(r.in(user_frame(0, 65, true, {0x7F})), 0);
    EXPECT_EQ(r.last().type, LAPD_UA);
    EXPECT_EQ(r.last().tei, 65);
    EXPECT_EQ(r.dl.back().prim, LAPD_DL_ESTABLISH_IND);
    EXPECT_EQ(r.dl.back().tei, 65);
    const uint8_t setup[] = {0x08, 0x01, 0x01, 0x05};
    ASSERT_EQ(lapd_dl_unitdata(&r.e, 127, setup, sizeof setup), 0);
    lapd_frame f = r.last();
    EXPECT_EQ(f.type, LAPD_UI);
    EXPECT_EQ(f.tei, 127);
    EXPECT_EQ(f.cr, 1);
}

TEST(Lapd, MalformedFramesAreDropped)
{
    const std::vector<std::vector<uint8_t>> bad = {
        {},
        {0x02, 0x01},                     // no control field
        {0x03, 0x01, 0x7F},               // EA bit in octet 1
        {0x02, 0x00, 0x7F},               // no EA bit in octet 2
        {0x02, 0x01, 0x00},               // I frame cut in its control field
        {0x02, 0x01, 0x00, 0x00},         // I frame without information
        {0x02, 0x01, 0x01, 0x00, 0x55},   // RR with information
        {0x02, 0x01, 0x7F, 0x55},         // SABME with information
        {0x02, 0x01, 0xFF},               // unknown U frame
        {0x02, 0x01, 0x0D, 0x00},         // unknown S frame
        {0x00, 0x01, 0x7F},               // SABME sent as a response
        {0x02, 0x01, 0x73},               // UA sent as a command
        {0xFE, 0xFF, 0x03, 0x0F, 0x00},   // TEI message cut short
        {0xFE, 0x01, 0x03, 0x0F, 0, 0, 2, 0x81},  // TEI message not to the group
    };
    link_rig r(false, false);
    for (const auto &f : bad)
        EXPECT_EQ(r.in(f), -1) << "frame of " << f.size() << " octets";
    std::vector<uint8_t> huge(LAPD_MAX_FRAME + 1, 0);
    huge[0] = 0x02;
    huge[1] = 0x01;
    EXPECT_EQ(r.in(huge), -1);
    EXPECT_TRUE(r.tx.empty());
    EXPECT_TRUE(r.dl.empty());
}

}  // namespace
