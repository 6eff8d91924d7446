// The records exchanged with the application: the TE info record and the NT
// element record (both ways, repeated elements, pointers outside the
// message), message buffers, and the description of the ports.
#include <gtest/gtest.h>

#include <cstring>

#include "isdn_net.h"
#include "isdn_net_internal.h"
#include "misdn_msg.h"
#include "q931_info.h"
#include "sim_config.h"

namespace {

// SETUP with two Facility elements and a calling number.
const std::vector<uint8_t> wire = {0x08, 0x01, 0x05, 0x05, 0xA1, 0x04, 0x03, 0x80, 0x90, 0xA3,
                                   0x1C, 0x02, 0x91, 0xA1, 0x1C, 0x03, 0x91, 0xA2, 0x00,
                                   0x6C, 0x03, 0x21, 0x81, '7'};

TEST(Records, InfoRecordCarriesEveryElementBothWays)
{
    q931_msg m;
    ASSERT_EQ(q931_parse(wire.data(), (int)wire.size(), &m, nullptr), 0);
    uint8_t data[512];
    int n = q931_info_from_msg(&m, data, sizeof data);
    ASSERT_GT(n, Q931_INFO_LEN);
    Q931_info_t qi;
    memcpy(&qi, data, sizeof qi);
    EXPECT_EQ(qi.type, 0x05);
    EXPECT_NE(qi.sending_complete.off, 0);
    ASSERT_NE(qi.facility.off, 0);
    EXPECT_EQ(data[qi.facility.off], 2) << "slots point at the length octet";
    ASSERT_TRUE(qi.facility.repeated);
    const ie_info_ext_t &x = qi.ext[qi.facility.ridx - 1];
    EXPECT_EQ(x.ie, 0x1C);
    EXPECT_EQ(data[x.off + 2], 0xA2) << "the second Facility";
    uint8_t ies[256];
    int k = q931_info_to_ies(data, n, ies, sizeof ies, nullptr);
    ASSERT_EQ(k, (int)wire.size() - 4);
    EXPECT_EQ(memcmp(ies, wire.data() + 4, (size_t)k), 0) << "same elements in the same order";
    // the application's own record built element by element gives the same
    uint8_t mine[512] = {};
    int len = Q931_INFO_LEN;
    len = q931_info_add_ie(mine, len, sizeof mine, 0x6C, (const uint8_t *)"\x21\x81" "7", 3);
    len = q931_info_add_ie(mine, len, sizeof mine, 0x1C, (const uint8_t *)"\x91\xA1", 2);
    len = q931_info_add_ie(mine, len, sizeof mine, 0xA1, nullptr, 0);
    len = q931_info_add_ie(mine, len, sizeof mine, 0x04, (const uint8_t *)"\x80\x90\xA3", 3);
    len = q931_info_add_ie(mine, len, sizeof mine, 0x1C, (const uint8_t *)"\x91\xA2\x00", 3);
    ASSERT_GT(len, 0);
    ASSERT_EQ(q931_info_to_ies(mine, len, ies, sizeof ies, nullptr), k);
    EXPECT_EQ(memcmp(ies, wire.data() + 4, (size_t)k), 0);
}

TEST(Records, InfoRecordSlotsOutsideTheFrameAreSkipped)
{
    uint8_t data[Q931_INFO_LEN + 8] = {};
    int len = q931_info_add_ie(data, Q931_INFO_LEN, sizeof data, 0x70, (const uint8_t *)"\x81" "12", 3);
    ASSERT_EQ(len, Q931_INFO_LEN + 5);
    Q931_info_t qi;
    memcpy(&qi, data, sizeof qi);
    qi.bearer_capability.off = 2000;   // past the end
    qi.cause.off = 10;                 // inside the record itself
    qi.display.off = (uint16_t)(len - 1);  // length octet claims more than is left
    data[len - 1] = 40;
    qi.facility = {(uint16_t)(Q931_INFO_LEN + 1), 1, 7};  // repetition chain to an empty entry
    memcpy(data, &qi, sizeof qi);
    uint8_t ies[64];
    int k = q931_info_to_ies(data, len, ies, sizeof ies, nullptr);
    ASSERT_GE(k, 5);
    EXPECT_EQ(ies[0], 0x1C) << "only elements inside the frame";
    EXPECT_EQ(q931_info_to_ies(data, Q931_INFO_LEN - 1, ies, sizeof ies, nullptr), -1);
    // the slot and eight repetitions fit, a tenth occurrence does not
    uint8_t big[1024] = {};
    int l = Q931_INFO_LEN;
    for (int i = 0; i < 9; i++)
        l = q931_info_add_ie(big, l, sizeof big, 0x1C, (const uint8_t *)"\x91", 1);
    EXPECT_GT(l, 0);
    EXPECT_EQ(q931_info_add_ie(big, l, sizeof big, 0x1C, (const uint8_t *)"\x91", 1), -1);
}

TEST(Records, NetworkRecordCarriesElementsBothWays)
{
    q931_msg m;
    ASSERT_EQ(q931_parse(wire.data(), (int)wire.size(), &m, nullptr), 0);
    msg_t *msg = net_msg_from_q931(0x30582, 0x10040, &m, 64);
    ASSERT_NE(msg, nullptr);
    net_msg_ies_t *r = net_msg_record(msg);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->ces, 64);
    ASSERT_NE(r->calling_nr, nullptr);
    EXPECT_EQ(r->calling_nr[0], 3);
    EXPECT_EQ(r->ext[0].ie, 0x1C);
    uint8_t ies[256];
    int k = net_msg_to_ies(msg, ies, sizeof ies, nullptr);
    ASSERT_EQ(k, (int)wire.size() - 4);
    EXPECT_EQ(memcmp(ies, wire.data() + 4, (size_t)k), 0);
    // pointers that leave the message are skipped
    static uint8_t elsewhere[] = {2, 0x80, 0x90};
    r->cause = elsewhere;
    r->display = msg->data;  // inside the head
    EXPECT_EQ(net_msg_to_ies(msg, ies, sizeof ies, nullptr), k);
    free_msg(msg);
}

TEST(Records, MessageBuffersStayInsideTheirBuffer)
{
    msg_t *m = alloc_msg(32);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(msg_reserve(m, 8), 0);
    EXPECT_NE(msg_put(m, 24), nullptr);
    EXPECT_EQ(msg_put(m, 1), nullptr);
    EXPECT_NE(msg_push(m, 8), nullptr);
    EXPECT_EQ(msg_push(m, 1), nullptr);
    EXPECT_EQ(m->len, 32);
    EXPECT_EQ(msg_pull(m, 33), nullptr);
    EXPECT_NE(msg_pull(m, 32), nullptr);
    msg_queue_head_t q;
    msg_queue_init(&q);
    msg_queue_tail(&q, m);
    msg_queue_tail(&q, alloc_msg(8));
    EXPECT_EQ(msg_queue_len(&q), 2);
    EXPECT_EQ(msg_dequeue(&q), m);
    free_msg(m);
    msg_queue_purge(&q);
    EXPECT_EQ(msg_dequeue(&q), nullptr);
    EXPECT_EQ(alloc_msg(0), nullptr);
}

TEST(Records, PortDescriptions)
{
    std::vector<sim_port_cfg> ports;
    std::string err;
    ASSERT_EQ(sim_config_parse("# a comment\n1 te bri ptp 4000 4001 /tmp/t1\n"
                               "2 nt bri ptmp 4002 4003,4004 -  # bus\n3 te e1 ptp - - -\n",
                               ports, err),
              0)
        << err;
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_TRUE(ports[1].nt);
    EXPECT_FALSE(ports[1].ptp);
    EXPECT_EQ(ports[1].peers.size(), 2u);
    EXPECT_TRUE(ports[1].trace.empty());
    EXPECT_EQ(ports[2].local_udp, 0);
    for (const char *bad : {"", "0 te bri ptp 1 2 -", "33 te bri ptp 1 2 -", "1 xx bri ptp 1 2 -",
                            "1 te bri ptp 1 2", "1 te e1 ptmp 1 2 -", "1 te bri ptp 70000 2 -",
                            "1 te bri ptp 1 2,x -", "1 te bri ptp 1 2 -\n1 nt bri ptp 3 4 -",
                            "1 te bri ptp 1 1,2,3,4,5,6,7,8,9 -", "1 te bri ptp 1a 2 -"}) {
        EXPECT_EQ(sim_config_parse(bad, ports, err), -1) << bad;
        EXPECT_FALSE(err.empty());
    }
}

}  // namespace
