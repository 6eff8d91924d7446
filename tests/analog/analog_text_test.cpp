// Decoders, names, the sysfs scan and the port-number checks of the analog
// library, without devices.
#include "analogctl.h"
#include "analog_internal.h"
#include "linesim_client.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(AnalogText, EventLinesDecodeLongestWordFirst)
{
    struct {
        const char *line;
        int event;
    } cases[] = {
        {"FXO_IDLE_PENDING", ANALOG_EVENT_IDLE_PENDING},
        {"FXO_IDLE", ANALOG_EVENT_IDLE},
        {"FXS_IDLE", ANALOG_EVENT_IDLE},
        {"FXO_RINGING_PENDING", ANALOG_EVENT_RINGING_PENDING},
        {"FXO_RINGING", ANALOG_EVENT_RINGING},
        {"FXS_RINGING\r\n", ANALOG_EVENT_RINGING},
        {"FXS_OFFHOOK", ANALOG_EVENT_OFFHOOK},
        {"xxFXO_OFFHOOKyy", ANALOG_EVENT_OFFHOOK},
        {"FXS_POLARITY_REVERSAL\r\n", ANALOG_EVENT_POLARITY},
        {"FXO_POLARITY_REVERSAL", ANALOG_EVENT_POLARITY},
        {"FXO_ONHOOK", ANALOG_EVENT_ONHOOK},
        {"FXS_RINGOFF", ANALOG_EVENT_RINGOFF},
        {"FXS_FLASHHOOK", ANALOG_EVENT_FLASHHOOK},
        {"FXO_FLASHHOOK", ANALOG_EVENT_UNKNOWN},
        {"FXO_PENDING_IDLE", ANALOG_EVENT_UNKNOWN},
        {"", ANALOG_EVENT_UNKNOWN},
        {"hello", ANALOG_EVENT_UNKNOWN},
    };
    log_capture_start();
    for (const auto &c : cases)
        EXPECT_EQ(analog_str_to_event(c.line), c.event) << c.line;
    EXPECT_TRUE(log_capture_has("CRITICAL: analog_str_to_event: Unknown Event hello"));
}

TEST(AnalogText, NamesByPortType)
{
    struct {
        int type, event;
        const char *name;
        const char *log; // expected critical line, or null
    } cases[] = {
        {1, ANALOG_EVENT_OFFHOOK, "FXS_OFFHOOK", nullptr},
        {1, ANALOG_EVENT_WINK, "FXS_WINK", nullptr},
        {1, ANALOG_EVENT_TAXPULSE16, "FXS_TAXPULSE16", nullptr},
        {1, ANALOG_EVENT_RINGING_PENDING, "FXS_UNKNOWN", "CRITICAL: FXS: cannot format string for event 8197!"},
        {2, ANALOG_EVENT_RINGING_PENDING, "FXO_RINGING_PENDING", nullptr},
        {2, ANALOG_EVENT_FLASHHOOK, "FXO_FLASHHOOK", nullptr},
        {2, ANALOG_EVENT_WINK, "FXO_UNKNOWN", "CRITICAL: FXO: cannot format string for event 8211!"},
        {0, ANALOG_EVENT_OFFHOOK, "FXX_UNKNOWN", "CRITICAL: FXX: unknown type 0 with event 8193!"},
    };
    log_capture_start();
    for (const auto &c : cases) {
        log_capture_clear();
        EXPECT_STREQ(analog_event_to_str(c.type, c.event), c.name);
        if (c.log)
            EXPECT_TRUE(log_capture_has(c.log)) << c.log;
        else
            EXPECT_TRUE(log_capture_lines().empty()) << c.name;
    }
    EXPECT_STREQ(analog_porttype_to_string(1), "FXS");
    EXPECT_STREQ(analog_porttype_to_string(2), "FXO");
    EXPECT_STREQ(analog_porttype_to_string(3), "NONE");
    EXPECT_STREQ(analog_state_to_string(ANALOG_STATE_FXO_PENDING_IDLE), "FXO_PENDING_IDLE");
    EXPECT_STREQ(analog_state_to_string(ANALOG_STATE_FXS_PENDING_IDLE), "FXS_PENDING_IDLE");
    EXPECT_STREQ(analog_state_to_string(16), "_UNKNOWN_");
    EXPECT_STREQ(analog_state_to_string(-1), "_UNKNOWN_");
}

TEST(AnalogText, StateTextsMatchOnlyTheirPortType)
{
    struct {
        int type;
        const char *text;
        analog_port_states state;
    } cases[] = {
        {1, "BROKEN", ANALOG_STATE_BROKEN},
        {2, "BROKEN", ANALOG_STATE_BROKEN},
        {7, "BROKEN", ANALOG_STATE_BROKEN},
        {2, "FXO_PENDING_IDLE", ANALOG_STATE_FXO_PENDING_IDLE},
        {2, "FXO_CONNECTED", ANALOG_STATE_FXO_CONNECTED},
        {1, "FXO_CONNECTED", ANALOG_STATE_UNKNOWN},
        {1, "FXS_POLARITY_REVERSAL", ANALOG_STATE_FXS_POLARITY_REVERSAL},
        {2, "FXS_IDLE", ANALOG_STATE_UNKNOWN},
        {3, "FXS_IDLE", ANALOG_STATE_UNKNOWN},
        {1, "FXS_IDLE ", ANALOG_STATE_UNKNOWN},
        {1, "UNKNOWN", ANALOG_STATE_UNKNOWN},
    };
    for (const auto &c : cases)
        EXPECT_EQ(analog_str_to_state(c.type, c.text), c.state) << c.type << " " << c.text;
}

TEST(AnalogSysfs, ScanStopsAtTheFirstPortWithoutFiles)
{
    std::string root = make_test_root("analogsys");
    ASSERT_FALSE(root.empty());
    auto port = [&](int i, const char *type, const char *state, bool with_rtlc) {
        std::string d = root + "/sys/class/kvxanalog/" + std::to_string(i) + "/";
        write_text_file(d + "type", std::string(type) + "\n");
        write_text_file(d + "linevoltage", "4" + std::to_string(i) + "\n");
        write_text_file(d + "polarity", "-1\n");
        write_text_file(d + "vbat", "-52\n");
        if (with_rtlc)
            write_text_file(d + "rtlc", "7\nignored\n");
        write_text_file(d + "state", std::string(state) + "\nsecond line\n");
    };
    port(0, "FXS", "FXS_OFFHOOK", true);
    port(1, "XYZ", "FXS_RINGING", true);  // any other text counts as FXS
    port(2, "FXO", "FXO_RINGING_PENDING", true);
    port(3, "FXO", "FXO_IDLE", false);    // no rtlc: the scan ends here
    port(4, "FXO", "FXO_IDLE", true);

    analog_proc_info s[ANALOG_PORT_TABLE] = {};
    s[3].vbat = s[4].vbat = 99;
    EXPECT_EQ(read_analog_state(s), 0);
    EXPECT_EQ(s[0].type, 1);
    EXPECT_EQ(s[0].state, ANALOG_STATE_FXS_OFFHOOK);
    EXPECT_EQ(s[0].linevoltage, 40);
    EXPECT_EQ(s[0].polarity, -1);
    EXPECT_EQ(s[0].vbat, -52);
    EXPECT_EQ(s[0].rtlc, 7);
    EXPECT_EQ(s[1].type, 1);
    EXPECT_EQ(s[1].state, ANALOG_STATE_FXS_RINGING);
    EXPECT_EQ(s[2].type, 2);
    EXPECT_EQ(s[2].state, ANALOG_STATE_FXO_RINGING_PENDING);
    // port 3 was filled up to the missing file, port 4 was not touched
    EXPECT_EQ(s[3].type, 2);
    EXPECT_EQ(s[3].state, ANALOG_STATE_UNKNOWN);
    EXPECT_EQ(s[4].vbat, 99);
    EXPECT_EQ(s[4].type, 0);
    remove_tree(root);
}

TEST(AnalogPorts, EveryPortNumberIsCheckedBeforeUse)
{
    const int bad[] = {0, -1, 32, 33, 149, 100000, -100000};
    log_capture_start();
    for (int p : bad) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(analog_get_type_by_port(p), 0) << p;
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "get_analog_type_by_port: invalid analog port " + std::to_string(p) + "\n");
        EXPECT_EQ(analog_port_is_valid(p), 0) << p;
        EXPECT_EQ(analog_is_fxs_in_offhook_state(p), 0) << p;
        EXPECT_EQ(get_analog_ctlport(p), nullptr) << p;
        log_capture_clear();
        EXPECT_EQ(analog_send_event(p, ANALOG_EVENT_OFFHOOK), 0) << p;
        EXPECT_TRUE(log_capture_has("CRITICAL: no ctrl for port " + std::to_string(p))) << p;
        EXPECT_EQ(analog_send(p, "offhook"), -1) << p;
    }
    // a port in range that was never opened
    EXPECT_EQ(analog_port_is_valid(5), 0);
    EXPECT_EQ(analog_get_type_by_port(31), 0);
}

TEST(AnalogReader, EachLineOfOneReadIsItsOwnEvent)
{
    static std::vector<std::pair<int, unsigned>> seen;
    analog_callback = [](int port, unsigned event) {
        seen.push_back({port, event});
        return 0;
    };
    analog_ctlport row;
    row.port = 6;
    struct {
        const char *read;
        std::vector<unsigned> events;
        int offhook_after;
    } cases[] = {
        {"FXS_OFFHOOK\r\n", {ANALOG_EVENT_OFFHOOK}, 1},
        {"FXS_FLASHHOOK\r\nFXS_ONHOOK\r\n", {ANALOG_EVENT_FLASHHOOK, ANALOG_EVENT_ONHOOK}, 0},
        {"FXS_ONHOOK\nFXS_OFFHOOK", {ANALOG_EVENT_ONHOOK, ANALOG_EVENT_OFFHOOK}, 1},
        {"\r\n", {ANALOG_EVENT_UNKNOWN}, 0},
        {"FXS_POLARITY_REVERSAL\r\n", {ANALOG_EVENT_POLARITY}, 0},
        {"\r\n\r\nFXO_RINGING\r\n\r\n", {ANALOG_EVENT_RINGING}, 0},
    };
    for (const auto &c : cases) {
        seen.clear();
        char buf[ANALOG_LINE_SIZE];
        snprintf(buf, sizeof buf, "%s", c.read);
        analog_dispatch_read(&row, buf, (int)strlen(buf));
        ASSERT_EQ(seen.size(), c.events.size()) << c.read;
        for (size_t i = 0; i < seen.size(); i++) {
            EXPECT_EQ(seen[i].first, 6);
            EXPECT_EQ(seen[i].second, c.events[i]) << c.read << " #" << i;
        }
        EXPECT_EQ(row.aport_fxs_offhook.load(), c.offhook_after) << c.read;
    }
    // a full buffer is cut at its last byte, never read past
    seen.clear();
    char full[ANALOG_LINE_SIZE];
    memset(full, 'A', sizeof full);
    EXPECT_EQ(analog_dispatch_read(&row, full, (int)sizeof full), 1);
    EXPECT_EQ(seen.size(), 1u);
    analog_callback = nullptr;
}
