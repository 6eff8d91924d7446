// The texts ISDN bring-up hands the ISDN library, and the log filter of the
// interim callbacks.
#include <cstdarg>
#include <string>
#include <vector>

#include "bringup_fixture.h"
#include "isdn_events.h"
#include "line_bringup.h"
#include "log.h"

namespace {

using IsdnBringup = bringup_test;

TEST_F(IsdnBringup, PortList)
{
    load(&gp->config_isdn, "ISDN", "[pbx]\nports=2,1\n[trunk]\nports=3\n");
    gp->isdn_ptp_settings[1] = 1;
    char list[512];
    ASSERT_EQ(get_isdn_port_list(list, sizeof list), 0);
    EXPECT_STREQ(list, "1ptp,2,3");

    // "1ptp," and "2," fit into 9 characters with the zero, "3," no more
    char small[9];
    EXPECT_EQ(get_isdn_port_list(small, 10), 0);
    EXPECT_EQ(get_isdn_port_list(small, sizeof small), -1);
    EXPECT_TRUE(log_capture_has("CRITICAL: Port list buffer too small"));

    int isdn = -1, gsm = -1;
    count_ports(&isdn, &gsm);
    EXPECT_EQ(isdn, 3);
    EXPECT_EQ(gsm, 0);
}

TEST_F(IsdnBringup, PortListLimits)
{
    struct {
        const char *ports;
        int rc;
        const char *text; // the list, or the CRITICAL line
    } cases[] = {
        {"32", 0, "32"},
        {"1,33", -1, "CRITICAL: ISDN ports not configured correctly"},
        {"0", -1, "CRITICAL: ISDN ports not configured correctly"},
        {"", -1, "CRITICAL: No ports configured"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.ports);
        load(&gp->config_isdn, "ISDN", std::string("[g]\nports=") + c.ports + "\n");
        log_capture_clear();
        char list[512] = "";
        EXPECT_EQ(get_isdn_port_list(list, sizeof list), c.rc);
        if (c.rc == 0)
            EXPECT_STREQ(list, c.text);
        else
            EXPECT_TRUE(log_capture_has(c.text));
    }
}

TEST_F(IsdnBringup, PortGroupText)
{
    load(&gp->config_isdn, "ISDN", "[pbx]\nports=2,1\n[empty]\nports=\n[trunk]\nports=3\n");
    char text[512];
    ASSERT_EQ(create_port_group_string(text, sizeof text), 0);
    EXPECT_STREQ(text, "pbx(1,2);empty);trunk(3);");

    // One byte short of the text and its zero.
    std::string want = text;
    char small[64];
    EXPECT_EQ(create_port_group_string(small, (int)want.size() + 1), 0);
    log_capture_clear();
    EXPECT_EQ(create_port_group_string(small, (int)want.size()), -1);
    EXPECT_STREQ(small, "");
    EXPECT_TRUE(log_capture_has("CRITICAL: Port group string buffer too small"));
}

// Thirty groups with long names do not fit into the 512 bytes bring-up uses.
TEST_F(IsdnBringup, PortGroupTextOverflow)
{
    std::string conf;
    for (int p = 1; p <= 30; p++)
        conf += "[group_with_a_rather_long_name_" + std::to_string(p) + "]\nports=" + std::to_string(p) + "\n";
    load(&gp->config_isdn, "ISDN", conf);
    char text[512];
    EXPECT_EQ(create_port_group_string(text, sizeof text), -1);
    EXPECT_TRUE(log_capture_has("CRITICAL: Port group string buffer too small"));
}

// The filter answers exactly what the log callback writes: every level of
// the three kinds of line, with the logs on, off and at lower levels.
std::vector<std::string> written;
void keep_debug(int, int, const char *, int, const char *, const char *, const char *, va_list)
{
    written.push_back("D");
}
void keep_message(int, int, const char *, int, const char *, va_list)
{
    written.push_back("M");
}

TEST_F(IsdnBringup, LogFilterMatchesTheCallback)
{
    log_set_log_handler_debug(keep_debug);
    log_set_log_handler_message(keep_message);
    log_set_log_handler_nmessage(keep_message);
    struct setting {
        int debug_on, message_on, nmessage_on, debug_level, message_level;
    } settings[] = {{1, 1, 1, 9, 9}, {0, 0, 0, 9, 9}, {1, 1, 1, 2, 3}, {1, 0, 1, 0, 0}};
    for (const setting &s : settings) {
        log_levels_debug_enabled = s.debug_on;
        log_levels_message_enabled = s.message_on;
        log_levels_nmessage_enabled = s.nmessage_on;
        log_set_loglevel_debug(log_levels_debug, ISDN, s.debug_level);
        log_set_loglevel_message(ISDN, s.message_level);
        for (int level : {0, 1, 2, 3, 5, 9, 10, 40, 41, 0x10, 0x12, 0x15, 0x22, 0x40, 0x45}) {
            SCOPED_TRACE(testing::Message() << "level " << level << " debug " << s.debug_level);
            written.clear();
            (startup_isdn_iface.cb_log)(level, 1, 7, __FILE__, __LINE__, __func__, "line %d\n", level);
            EXPECT_EQ(chan_misdn_log_on(level, 1), written.empty() ? 0 : 1);
        }
    }
    log_capture_start();
}

} // namespace
