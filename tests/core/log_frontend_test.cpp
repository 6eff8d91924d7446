#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "log.h"

namespace {

struct seen_line {
    std::string kind;
    int level;
    int module;
    std::string text;
};
std::vector<seen_line> seen;

void rec_debug(int level, int module, const char *, int, const char *, const char *,
               const char *fmt, va_list ap)
{
    char *t = _strdup_vprintf(fmt, ap);
    seen.push_back({"debug", level, module, t});
    free(t);
}
void rec_message(int level, int module, const char *, int, const char *fmt, va_list ap)
{
    char *t = _strdup_vprintf(fmt, ap);
    seen.push_back({"message", level, module, t});
    free(t);
}
void rec_nmessage(int level, int module, const char *, int, const char *fmt, va_list ap)
{
    char *t = _strdup_vprintf(fmt, ap);
    seen.push_back({"nmessage", level, module, t});
    free(t);
}

class LogFrontEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        seen.clear();
        memset(log_levels_debug_buf, 0, sizeof log_levels_debug_buf);
        memset(log_levels_message_buf, 0, sizeof log_levels_message_buf);
        log_levels_debug_enabled = 1;
        log_levels_message_enabled = 1;
        log_levels_nmessage_enabled = 1;
        log_set_log_handler_debug(rec_debug);
        log_set_log_handler_message(rec_message);
        log_set_log_handler_nmessage(rec_nmessage);
    }
    void TearDown() override
    {
        log_set_log_handler_debug(nullptr);
        log_set_log_handler_message(nullptr);
        log_set_log_handler_nmessage(nullptr);
    }
};

TEST_F(LogFrontEnd, DebugLevelFilter)
{
    struct {
        int table_level;
        int enabled;
        int line_level;
        bool passes;
    } cases[] = {
        {5, 1, 5, true}, {5, 1, 6, false}, {0, 1, 0, true}, {9, 0, 0, false}, {9, 1, 9, true},
    };
    for (auto &c : cases) {
        seen.clear();
        log_levels_debug[SIP] = (unsigned char)c.table_level;
        log_levels_debug_enabled = c.enabled;
        LOGD(SIP, c.line_level, nullptr, "x%d", 1);
        EXPECT_EQ(seen.size(), c.passes ? 1u : 0u)
            << "table " << c.table_level << " enabled " << c.enabled << " line " << c.line_level;
    }
    // Out-of-range modules never index the table.
    log_levels_debug_enabled = 1;
    seen.clear();
    log_msg_debug(0, 200, __FILE__, __LINE__, __func__, nullptr, "x");
    log_msg_debug(0, -1, __FILE__, __LINE__, __func__, nullptr, "x");
    EXPECT_TRUE(seen.empty());
}

TEST_F(LogFrontEnd, MessageLevelWordRoutesToNmessage)
{
    log_levels_message[TARN] = 2;
    LOGM(TARN, 66, "trace %s", "a");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, "nmessage");
    EXPECT_EQ(seen[0].level, 2);
    EXPECT_EQ(seen[0].text, "trace a");

    seen.clear();
    log_levels_message[TARN] = 1;
    LOGM(TARN, 66, "trace");
    EXPECT_TRUE(seen.empty());

    // Without bit 6 the whole level word reaches the message handler.
    LOGM(TARN, 17, "notice");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, "message");
    EXPECT_EQ(seen[0].level, 17);
}

TEST_F(LogFrontEnd, LevelSettersClampAndIgnoreBadModules)
{
    log_set_loglevel_debug(log_levels_debug, SIP, 12);
    EXPECT_EQ(log_get_loglevel(log_levels_debug, SIP), 9);
    log_set_loglevel_debug(log_levels_debug, SIP, -3);
    EXPECT_EQ(log_get_loglevel(log_levels_debug, SIP), 0);
    unsigned char before[128];
    memcpy(before, log_levels_debug_buf, sizeof before);
    log_set_loglevel_debug(log_levels_debug, 9, 5);
    EXPECT_EQ(memcmp(before, log_levels_debug_buf, sizeof before), 0);
    EXPECT_EQ(log_get_loglevel(log_levels_debug, 9), -1);
    log_set_loglevel_message(GSM, 4);
    EXPECT_EQ(log_get_loglevel(log_levels_message, GSM), 4);
}

static char *fmt_helper(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    char *s = _strdup_vprintf(fmt, ap);
    va_end(ap);
    return s;
}

TEST_F(LogFrontEnd, StrdupVprintfGrowsOnce)
{
    std::string big(5000, 'q');
    char *s = fmt_helper("%s|%d", big.c_str(), 42);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s), big + "|42");
    free(s);
}

TEST(TarnExit, WritesNumberedLineAndExits)
{
    EXPECT_EXIT(_tarn_exit(99, "/some/where/init", 17, "bad %c", 'x'), ::testing::ExitedWithCode(99),
                "^TARN EXITCODE 99: bad x \\[init:17\\]\n$");
}

TEST(TarnExit, CutsLongReasons)
{
    std::string reason(3000, 'r');
    EXPECT_EXIT(_tarn_exit(3, "f.cpp", 1, "%s", reason.c_str()), ::testing::ExitedWithCode(3),
                "^TARN EXITCODE 3: r{1022} \\[f.cpp:1\\]\n$");
}

} // namespace
