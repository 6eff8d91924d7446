// The message table: rows by received frame and by event, names, and the
// lookups' answers outside the table.
#include <gtest/gtest.h>

#include "isdn_msg.h"
#include "q931_frame.h"
#include "q931_hooks.h"
#include "q931_test_support.h"

namespace {

msg_t *frame_with_prim(uint32_t prim, int nt)
{
    return create_l3msg(prim, (uint8_t)(prim >> 8), 1, NT_RECORD_SIZE, nt);
}

TEST(MsgTable, RowsByPrimitiveIgnoreTheCommandBits)
{
    struct {
        uint32_t prim;
        int row;
        event_e event;
        const char *info;
    } rows[] = {
        {0x37582, 26, EVENT_STATUS_ENQUIRY, "STATUS_ENQUIRY"},
        {0x35A81, 23, EVENT_RELEASE_COMPLETE, "RELEASE_COMPLETE"},
        {0x35A82, 23, EVENT_RELEASE_COMPLETE, "RELEASE_COMPLETE"},
        {0x36482, 30, EVENT_REGISTER, "REGISTER"},
        {0x3FF82, 29, EVENT_TIMEOUT, "TIMEOUT"},
        {0x30F82, 6, EVENT_CONNECT_ACKNOWLEDGE, "CONNECT_ACKNOWLEDGE "},
        {0x30282, 0, EVENT_PROCEEDING, "PROCEEDING"},
        {0x10582, 3, EVENT_SETUP, "SETUP"},  // only bits 8..15 count
    };
    for (int nt = 0; nt <= 1; nt++) {
        for (const auto &r : rows) {
            msg_t *m = frame_with_prim(r.prim, nt);
            EXPECT_EQ(isdn_msg_get_index(msgs_g, m, nt), r.row) << std::hex << r.prim;
            EXPECT_EQ(isdn_msg_get_event(msgs_g, m, nt), r.event);
            EXPECT_STREQ(isdn_msg_get_info(msgs_g, m, nt), r.info);
            free_msg(m);
        }
        msg_t *m = frame_with_prim(0x37982, nt);  // message type 0x79 has no row
        misdn_bchannel bc;
        fresh_bc(&bc);
        EXPECT_EQ(isdn_msg_get_index(msgs_g, m, nt), -1);
        EXPECT_EQ(isdn_msg_get_event(msgs_g, m, nt), EVENT_UNKNOWN);
        EXPECT_EQ(isdn_msg_get_info(msgs_g, m, nt), nullptr);
        EXPECT_EQ(isdn_msg_parse_event(msgs_g, m, &bc, nt), -1);
        free_msg(m);
    }
}

TEST(MsgTable, TableRowsAreInOrderAndEndWithAZeroRow)
{
    ASSERT_EQ(msgs_g[ISDN_MSG_ROWS].misdn_msg, 0u);
    EXPECT_EQ(msgs_g[ISDN_MSG_ROWS].info, nullptr);
    for (int i = 0; i < ISDN_MSG_ROWS; i++) {
        EXPECT_EQ(msgs_g[i].layer, L3);
        EXPECT_EQ(isdn_msg_get_index_by_event(msgs_g, msgs_g[i].event, 0), i);
        EXPECT_EQ(msgs_g[i].misdn_msg & 0xFF, 0u);
    }
    EXPECT_EQ(msgs_g[29].misdn_msg, 0x3FF00u);
    EXPECT_EQ(msgs_g[30].misdn_msg, 0x36400u);
}

TEST(MsgTable, NamesOfEventsWithAndWithoutMessage)
{
    struct {
        event_e event;
        const char *name;
        bool logged;
    } names[] = {
        {EVENT_CONNECT_ACKNOWLEDGE, "CONNECT_ACKNOWLEDGE ", false},
        {EVENT_SETUP, "SETUP", false},
        {EVENT_NEW_CHANNEL, "NEW_CHANNEL", true},
        {EVENT_CLEANUP, "CLEAN_UP", true},
        {EVENT_PORT_ALARM, "ALARM", true},
        {EVENT_TONE_GENERATE, "TONE_GENERATE", true},
        {EVENT_BCHAN_DATA, "BCHAN_DATA", true},
        {EVENT_BCHAN_ACTIVATED, "BCHAN_ACTIVATED", true},
        {EVENT_BCHAN_ERROR, "BCHAN_ERROR", true},
        {EVENT_DTMF_TONE, "DTMF_TONE", true},
        {EVENT_NEW_L3ID, "NEW_L3ID", true},
        {EVENT_NEW_BC, "NEW_BC", true},
        {EVENT_NOTHING, nullptr, true},
        {EVENT_UNKNOWN, nullptr, true},
    };
    for (const auto &n : names) {
        log_capture logs;
        const char *got = isdn_get_info(msgs_g, n.event, 0);
        if (n.name)
            EXPECT_STREQ(got, n.name);
        else
            EXPECT_EQ(got, nullptr);
        EXPECT_EQ(logs.has("get_index: event not found!\n"), n.logged) << n.event;
    }
}

TEST(MsgTable, BuildByEvent)
{
    install_test_ports();
    misdn_bchannel bc;
    fresh_bc(&bc);
    EXPECT_EQ(isdn_msg_build_event(msgs_g, &bc, EVENT_REGISTER, 0), nullptr);
    {
        log_capture logs;
        EXPECT_EQ(isdn_msg_build_event(msgs_g, &bc, EVENT_DTMF_TONE, 0), nullptr);
        EXPECT_TRUE(logs.has("get_index: event not found!\n"));
    }
    // every other row builds its own message (TIMEOUT a STATUS)
    for (int nt = 0; nt <= 1; nt++) {
        for (int i = 0; i < ISDN_MSG_ROWS; i++) {
            if (msgs_g[i].event == EVENT_REGISTER || msgs_g[i].event == EVENT_FACILITY)
                continue;
            fresh_bc(&bc, 1, nt);
            msg_t *m = isdn_msg_build_event(msgs_g, &bc, msgs_g[i].event, nt);
            ASSERT_NE(m, nullptr) << msgs_g[i].info;
            uint32_t want = msgs_g[i].event == EVENT_TIMEOUT ? 0x37D80u
                            : msgs_g[i].event == EVENT_CONNECT_ACKNOWLEDGE ? 0x30783u
                                                                           : msgs_g[i].misdn_msg | 0x80;
            EXPECT_EQ(l3_frame_prim(m, nt), want) << msgs_g[i].info;
            EXPECT_EQ(l3_frame_dinfo(m, nt), bc.l3_id);
            free_msg(m);
        }
    }
    q931_reset_hooks();
}

TEST(MsgTable, TraceLinesNameModeRateAndPort)
{
    install_test_ports();
    struct {
        int port;
        int nt;
        const char *head;
    } lines[] = {
        {1, 0, "ISDN TX: TE, BRI, Port 1, Channel 0 \n>>>>>>>>\n MT_HOLD\n\n>>>>>>>>\n"},
        {2, 1, "ISDN TX: NT, PRI, Port 2, Channel 0 \n>>>>>>>>\n MT_HOLD\n\n>>>>>>>>\n"},
        {9, 0, "ISDN TX: TE, PRI, Port 9, Channel 0 \n"},  // no stack: printed as PRI
    };
    for (const auto &l : lines) {
        misdn_bchannel bc;
        fresh_bc(&bc, l.port, l.nt);
        log_capture logs;
        msg_t *m = isdn_msg_build_event(msgs_g, &bc, EVENT_HOLD, l.nt);
        EXPECT_TRUE(logs.has(l.head)) << l.head;
        EXPECT_TRUE(logs.has("build_hold"));
        free_msg(m);
    }
    q931_reset_hooks();
}

}  // namespace
