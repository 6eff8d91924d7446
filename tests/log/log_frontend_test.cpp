#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <string>
#include <vector>

#include "log.h"

namespace {

std::vector<std::string> seen;

void on_debug(int level, int module, const char *, int, const char *, const char *, const char *fmt,
              va_list ap)
{
    char buf[256];
    vsnprintf(buf, sizeof buf, fmt, ap);
    seen.push_back("D" + std::to_string(module) + "/" + std::to_string(level) + " " + buf);
}

void on_message(int level, int module, const char *, int, const char *fmt, va_list ap)
{
    char buf[256];
    vsnprintf(buf, sizeof buf, fmt, ap);
    seen.push_back("M" + std::to_string(module) + "/" + std::to_string(level) + " " + buf);
}

void on_nmessage(int level, int module, const char *, int, const char *fmt, va_list ap)
{
    char buf[256];
    vsnprintf(buf, sizeof buf, fmt, ap);
    seen.push_back("N" + std::to_string(module) + "/" + std::to_string(level) + " " + buf);
}

class FrontEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        seen.clear();
        log_set_log_handler_debug(on_debug);
        log_set_log_handler_message(on_message);
        log_set_log_handler_nmessage(on_nmessage);
        log_levels_debug_enabled = log_levels_message_enabled = log_levels_nmessage_enabled = 1;
    }
    void TearDown() override
    {
        log_set_log_handler_debug(nullptr);
        log_set_log_handler_message(nullptr);
        log_set_log_handler_nmessage(nullptr);
    }
};

TEST_F(FrontEnd, LevelTablesAndSwitchesFilter)
{
    struct {
        int table, enabled, level;
        bool passes;
    } cases[] = {{5, 1, 5, true}, {5, 1, 6, false}, {0, 1, 0, true}, {9, 0, 0, false}};
    for (auto &c : cases) {
        seen.clear();
        log_set_loglevel_debug(log_levels_debug, SIP, c.table);
        log_levels_debug_enabled = c.enabled;
        log_msg_debug(c.level, SIP, "f", 1, "fn", nullptr, "x");
        EXPECT_EQ(seen.size(), c.passes ? 1u : 0u) << c.table << " " << c.level;
    }
    log_levels_debug_enabled = 1;

    // Bit 6 of a message's level word routes it to the nmessage handler.
    log_set_loglevel_message(MSP, 2);
    seen.clear();
    log_msg_message(66, MSP, "f", 1, "trace");
    log_msg_message(18, MSP, "f", 1, "note");
    log_set_loglevel_message(MSP, 1);
    log_msg_message(66, MSP, "f", 1, "filtered");
    EXPECT_EQ(seen, (std::vector<std::string>{"N2/2 trace", "M2/18 note"}));
}

TEST_F(FrontEnd, LevelsAreClampedAndModulesChecked)
{
    log_set_loglevel_debug(log_levels_debug, GSM, 12);
    EXPECT_EQ(log_get_loglevel(log_levels_debug, GSM), 9);
    log_set_loglevel_debug(log_levels_debug, GSM, -3);
    EXPECT_EQ(log_get_loglevel(log_levels_debug, GSM), 0);
    unsigned char before = log_levels_debug[9];
    log_set_loglevel_debug(log_levels_debug, 9, 5);
    EXPECT_EQ(log_levels_debug[9], before);
    EXPECT_EQ(log_get_loglevel(log_levels_debug, 9), -1);
}

std::string dup_printf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    char *s = _strdup_vprintf(fmt, ap);
    va_end(ap);
    std::string r = s ? s : "(null)";
    free(s);
    return r;
}

TEST(FrontEndFormat, LongTextIsFormattedAgainFromItsOwnArguments)
{
    const std::string big(5000, 'q');
    EXPECT_EQ(dup_printf("%d|%s|%d|%s", 1, big.c_str(), 2, "tail"), "1|" + big + "|2|tail");
    EXPECT_EQ(dup_printf("%s", ""), "");
}

TEST(FrontEndExit, NumberedExitReportsAndEnds)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(_tarn_exit(99, "/src/tarn/core/init", 17, "bad %s", "x"),
                ::testing::ExitedWithCode(99), "^TARN EXITCODE 99: bad x \\[init:17\\]\n$");
}

} // namespace
