// Q.931 layer 3 on both sides with layer 2 and timers replaced by the test:
// the answers the layer gives by itself, its timers, call references, and
// the network side's choice among terminals on a bus.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "misdn_frame.h"
#include "q931_l3.h"

namespace {

struct sent_msg {
    int tei;  // -1: broadcast
    std::vector<uint8_t> m;
};

struct up_msg {
    uint32_t prim;
    int dinfo;
    int word;
    int cause;
};

struct l3_rig {
    q931_l3 l3;
    std::vector<sent_msg> tx;
    std::vector<up_msg> up;
    std::map<int, int> timers;

    l3_rig(bool network, bool ptmp, int crlen = 1)
    {
        q931_l3_config c;
        c.network = network;
        c.ptmp = ptmp;
        c.crlen = crlen;
        c.cr_prims = !network;
        q931_l3_ops ops{
            [](void *ctx, int tei, const uint8_t *m, int len) {
                ((l3_rig *)ctx)->tx.push_back({tei, std::vector<uint8_t>(m, m + len)});
                return 0;
            },
            [](void *ctx, const uint8_t *m, int len) {
                ((l3_rig *)ctx)->tx.push_back({-1, std::vector<uint8_t>(m, m + len)});
                return 0;
            },
            [](void *ctx, uint32_t prim, int dinfo, const q931_msg *m, int word) {
                ((l3_rig *)ctx)->up.push_back({prim, dinfo, word, m ? q931_cause_of(m) : -1});
            },
            [](void *ctx, int key, int ms) {
                auto &t = ((l3_rig *)ctx)->timers;
                if (ms < 0)
                    t.erase(key);
                else
                    t[key] = ms;
            }};
        q931_l3_init(&l3, c, ops, this, "test");
    }
    void app(uint8_t mt, int id, std::vector<uint8_t> ies = {}, uint32_t cmd = REQUEST)
    {
        q931_l3_from_app(&l3, cc_prim(mt) | cmd, id, ies.data(), (int)ies.size());
    }
    void in(std::vector<uint8_t> m, int tei = 0) { q931_l3_from_dl(&l3, tei, m.data(), (int)m.size()); }
    // Fires the only armed timer of this kind.
    void fire(int kind)
    {
        for (auto &t : timers)
            if (t.first % 4 == kind) {
                int key = t.first;
                timers.erase(key);
                q931_l3_timer_expired(&l3, key);
                return;
            }
        ADD_FAILURE() << "timer " << kind << " not armed";
    }
    q931_msg last() const
    {
        q931_msg m{};
        EXPECT_FALSE(tx.empty());
        if (!tx.empty()) {
            EXPECT_EQ(q931_parse(tx.back().m.data(), (int)tx.back().m.size(), &m, nullptr), 0);
        }
        return m;
    }
    bool saw_up(uint32_t prim) const
    {
        for (auto &u : up)
            if (u.prim == prim)
                return true;
        return false;
    }
};

const std::vector<uint8_t> cause16 = {0x08, 0x02, 0x80, 0x90};
uint32_t ind(uint8_t mt) { return cc_prim(mt) | INDICATION; }

// An incoming call on the user side: SETUP with call reference 5 from the network.
int incoming_call(l3_rig &r)
{
    r.in({0x08, 0x01, 0x05, MT_SETUP, 0x04, 0x03, 0x80, 0x90, 0xA3});
    EXPECT_GE(r.up.size(), 2u);
    EXPECT_EQ(r.up[r.up.size() - 2].prim, CC_NEW_CR | INDICATION);
    EXPECT_EQ(r.up.back().prim, ind(MT_SETUP));
    return r.up.back().dinfo;
}

TEST(Q931L3, ReleaseIsAnsweredWithExactlyOneReleaseComplete)
{
    l3_rig r(false, false);
    int id = incoming_call(r);
    r.app(MT_ALERTING, id);
    EXPECT_EQ(r.last().flag, 1) << "we answer on the network's call reference";
    EXPECT_EQ(r.last().cr, 5);
    r.in({0x08, 0x01, 0x05, MT_RELEASE, 0x08, 0x02, 0x80, 0x90});
    q931_msg m = r.last();
    EXPECT_EQ(m.mt, MT_RELEASE_COMPLETE);
    EXPECT_TRUE(r.saw_up(ind(MT_RELEASE)));
    EXPECT_EQ(r.up.back().prim, CC_RELEASE_CR | INDICATION);
    EXPECT_EQ(r.up.back().dinfo, id);
    size_t n = r.tx.size();
    r.app(MT_RELEASE_COMPLETE, id, cause16);
    EXPECT_EQ(r.tx.size(), n) << "no second RELEASE COMPLETE";
    EXPECT_EQ(q931_l3_count(&r.l3), 0);
}

TEST(Q931L3, StatusEnquiryRestartAndConnectAcknowledge)
{
    l3_rig r(false, false);
    int id = incoming_call(r);
    r.app(MT_CONNECT, id);
    r.in({0x08, 0x01, 0x05, MT_STATUS_ENQUIRY});
    q931_msg m = r.last();
    ASSERT_EQ(m.mt, MT_STATUS);
    EXPECT_EQ(q931_cause_of(&m), 30);
    const q931_ie *st = q931_find(&m, IE_CALL_STATE);
    ASSERT_NE(st, nullptr);
    EXPECT_EQ(m.buf[st->off + 1], 8) << "connect request";
    EXPECT_EQ(r.up.back().prim, ind(MT_STATUS_ENQUIRY));
    // RESTART on the global call reference is acknowledged with its elements
    r.in({0x08, 0x01, 0x00, MT_RESTART, 0x18, 0x01, 0x81, 0x79, 0x01, 0x80});
    m = r.last();
    ASSERT_EQ(m.mt, MT_RESTART_ACKNOWLEDGE);
    EXPECT_EQ(m.cr, 0);
    EXPECT_NE(q931_find(&m, IE_CHANNEL_ID), nullptr);
    EXPECT_NE(q931_find(&m, IE_RESTART_IND), nullptr);
    EXPECT_EQ(r.up.back().prim, ind(MT_RESTART));
    EXPECT_EQ(r.up.back().dinfo, Q931_GLOBAL_PID);
    // our own RESTART gets the Restart indicator it lacks
    r.app(MT_RESTART, id, {0x18, 0x01, 0x81});
    m = r.last();
    const q931_ie *ri = q931_find(&m, IE_RESTART_IND);
    ASSERT_NE(ri, nullptr);
    EXPECT_EQ(m.buf[ri->off + 1], 0x80) << "the indicated channel";
    r.app(MT_RESTART, 0);
    m = r.last();
    ri = q931_find(&m, IE_RESTART_IND);
    ASSERT_NE(ri, nullptr);
    EXPECT_EQ(m.buf[ri->off + 1], 0x86) << "the whole interface";
    // outgoing call: the network's CONNECT is acknowledged once
    r.app(MT_SETUP, 0x10001);
    EXPECT_EQ(r.last().flag, 0);
    int cr = r.last().cr;
    r.in({0x08, 0x01, (uint8_t)(0x80 | cr), MT_CONNECT});
    EXPECT_EQ(r.last().mt, MT_CONNECT_ACKNOWLEDGE);
    size_t n = r.tx.size();
    r.app(MT_CONNECT, 0x10001, {}, RESPONSE);
    EXPECT_EQ(r.tx.size(), n);
}

TEST(Q931L3, UnknownCallReferences)
{
    struct {
        std::vector<uint8_t> msg;
        int answer;  // message type sent back, 0 none
        int cause;
    } cases[] = {
        {{0x08, 0x01, 0x87, MT_ALERTING}, MT_RELEASE_COMPLETE, 81},
        {{0x08, 0x01, 0x87, MT_RELEASE}, MT_RELEASE_COMPLETE, 81},
        {{0x08, 0x01, 0x87, MT_RELEASE_COMPLETE}, 0, -1},
        {{0x08, 0x01, 0x87, MT_STATUS_ENQUIRY}, MT_STATUS, 30},
        {{0x08, 0x01, 0x87, MT_STATUS, 0x08, 0x02, 0x80, 0x9E, 0x14, 0x01, 0x00}, 0, -1},
        {{0x08, 0x01, 0x87, MT_STATUS, 0x08, 0x02, 0x80, 0x9E, 0x14, 0x01, 0x0A}, MT_RELEASE_COMPLETE, 101},
        {{0x08, 0x01, 0x87, MT_SETUP}, 0, -1},  // SETUP with the wrong flag
    };
    for (const auto &c : cases) {
        l3_rig r(false, false);
        r.in(c.msg);
        if (!c.answer) {
            EXPECT_TRUE(r.tx.empty());
        } else {
            ASSERT_EQ(r.tx.size(), 1u);
            q931_msg m = r.last();
            EXPECT_EQ(m.mt, c.answer);
            EXPECT_EQ(m.cr, 7);
            EXPECT_EQ(m.flag, 0) << "answering the side that chose the reference";
            EXPECT_EQ(q931_cause_of(&m), c.cause);
        }
        EXPECT_TRUE(r.up.empty());
    }
}

TEST(Q931L3, TimersT303T305T308)
{
    l3_rig r(false, false);
    r.app(MT_SETUP, 0x10001, {0x04, 0x03, 0x80, 0x90, 0xA3});
    std::vector<uint8_t> setup = r.tx.back().m;
    r.fire(Q931_T303);
    EXPECT_EQ(r.tx.back().m, setup) << "SETUP repeated once";
    r.fire(Q931_T303);
    EXPECT_EQ(r.last().mt, MT_RELEASE_COMPLETE);
    ASSERT_GE(r.up.size(), 2u);
    EXPECT_EQ(r.up[r.up.size() - 2].prim, ind(MT_RELEASE_COMPLETE));
    EXPECT_EQ(r.up[r.up.size() - 2].cause, 102);
    EXPECT_EQ(r.up.back().prim, CC_RELEASE_CR | INDICATION);
    EXPECT_TRUE(r.timers.empty());

    int id = incoming_call(r);
    r.app(MT_DISCONNECT, id, cause16);
    r.fire(Q931_T305);
    q931_msg rm = r.last();
    EXPECT_EQ(rm.mt, MT_RELEASE);
    EXPECT_EQ(q931_cause_of(&rm), 16) << "the cause of our DISCONNECT";
    std::vector<uint8_t> rel = r.tx.back().m;
    r.fire(Q931_T308);
    EXPECT_EQ(r.tx.back().m, rel) << "RELEASE repeated once";
    r.fire(Q931_T308);
    EXPECT_EQ(r.up.back().prim, CC_RELEASE_CR | INDICATION);
    EXPECT_EQ(q931_l3_count(&r.l3), 0);
}

TEST(Q931L3, PrimaryRateUsesTwoOctetCallReferences)
{
    l3_rig r(false, false, 2);
    r.app(MT_SETUP, 0x10001);
    q931_msg m = r.last();
    EXPECT_EQ(m.crlen, 2);
    r.in({0x08, 0x02, (uint8_t)(0x80 | (m.cr >> 8)), (uint8_t)m.cr, MT_CALL_PROCEEDING});
    EXPECT_EQ(r.up.back().prim, ind(MT_CALL_PROCEEDING));
    EXPECT_EQ(r.up.back().dinfo, 0x10001);
}

// Network side of a bus: SETUP to every terminal, two answer.
TEST(Q931L3, BroadcastCallGoesToTheTerminalThatConnects)
{
    l3_rig r(true, true);
    r.app(MT_SETUP, 0xFF01, {0x04, 0x03, 0x80, 0x90, 0xA3});
    ASSERT_EQ(r.tx.back().tei, -1) << "broadcast";
    ASSERT_EQ(r.up.back().prim, cc_prim(MT_SETUP) | CONFIRM);
    EXPECT_EQ(r.up.back().dinfo, 0xFF01);
    int call = r.up.back().word;
    int cr = r.last().cr;
    uint8_t crf = (uint8_t)(0x80 | cr);
    r.in({0x08, 0x01, crf, MT_ALERTING}, 64);
    EXPECT_EQ(r.up.back().prim, ind(MT_ALERTING));
    EXPECT_EQ(r.up.back().dinfo, call | 64);
    r.in({0x08, 0x01, crf, MT_ALERTING}, 66);
    size_t ups = r.up.size();
    r.in({0x08, 0x01, crf, MT_CONNECT}, 65);
    ASSERT_EQ(r.up.size(), ups + 1) << "the second ALERTING was not passed on";
    EXPECT_EQ(r.up.back().prim, ind(MT_CONNECT));
    EXPECT_EQ(r.up.back().dinfo, call | 65);
    int losers = 0;
    for (auto &s : r.tx) {
        q931_msg m;
        q931_parse(s.m.data(), (int)s.m.size(), &m, nullptr);
        if (m.mt == MT_RELEASE) {
            EXPECT_EQ(q931_cause_of(&m), 26);
            EXPECT_TRUE(s.tei == 64 || s.tei == 66);
            losers++;
        }
    }
    EXPECT_EQ(losers, 2);
    // the losers' answers stay inside; the winner's call goes on
    r.in({0x08, 0x01, crf, MT_RELEASE_COMPLETE}, 64);
    r.in({0x08, 0x01, crf, MT_RELEASE_COMPLETE}, 66);
    EXPECT_EQ(r.up.size(), ups + 1);
    r.app(MT_CONNECT, call | 65, {}, RESPONSE);
    EXPECT_EQ(r.last().mt, MT_CONNECT_ACKNOWLEDGE);
    EXPECT_EQ(r.tx.back().tei, 65);
    r.in({0x08, 0x01, crf, MT_DISCONNECT, 0x08, 0x02, 0x80, 0x90}, 65);
    EXPECT_EQ(r.up.back().prim, ind(MT_DISCONNECT));
    r.app(MT_RELEASE, call | 65, cause16);
    r.in({0x08, 0x01, crf, MT_RELEASE_COMPLETE}, 65);
    EXPECT_EQ(r.up.back().prim, cc_prim(MT_RELEASE) | CONFIRM);
    EXPECT_EQ(q931_l3_count(&r.l3), 0);
}

TEST(Q931L3, BroadcastCallRejectedByEveryTerminal)
{
    l3_rig r(true, true);
    r.app(MT_SETUP, 0xFF02);
    int call = r.up.back().word;
    uint8_t crf = (uint8_t)(0x80 | r.last().cr);
    r.in({0x08, 0x01, crf, MT_RELEASE_COMPLETE, 0x08, 0x02, 0x80, 0x91}, 64);  // busy
    EXPECT_EQ(r.up.size(), 1u) << "other terminals may still answer";
    r.fire(Q931_T303);
    EXPECT_EQ(r.up.back().prim, ind(MT_RELEASE_COMPLETE));
    EXPECT_EQ(r.up.back().dinfo, call);
    EXPECT_EQ(r.up.back().cause, 17);
    EXPECT_EQ(q931_l3_count(&r.l3), 0);
}

TEST(Q931L3, CutElementsAndBadHeaders)
{
    l3_rig r(false, false);
    // the called number claims more octets than the message has
    r.in({0x08, 0x01, 0x05, MT_SETUP, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x70, 0x09, 0x81, '1'});
    ASSERT_EQ(r.up.back().prim, ind(MT_SETUP));
    size_t n = r.up.size();
    for (std::vector<uint8_t> bad : {std::vector<uint8_t>{0x08, 0x01},
                                     std::vector<uint8_t>{0x09, 0x01, 0x05, MT_SETUP},
                                     std::vector<uint8_t>{0x08, 0x03, 0, 0, 0, MT_SETUP},
                                     std::vector<uint8_t>{0x08, 0x02, 0x05, MT_SETUP},
                                     std::vector<uint8_t>{0x08, 0x01, 0x05, 0x85}})
        r.in(bad);
    EXPECT_EQ(r.up.size(), n);
}

}  // namespace
