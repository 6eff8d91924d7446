// Shared by the call-configuration tests: an application object with the
// default record, and the TARN debug lines of each test.
#pragma once
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <string>
#include <vector>

#include "application.h"
#include "call_configuration.h"
#include "log.h"

struct cc_logged {
    int level;
    std::string tag, text;
};

inline std::vector<cc_logged> &cc_log_lines()
{
    static std::vector<cc_logged> lines;
    return lines;
}

inline void cc_record_line(int level, int, const char *, int, const char *, const char *tag, const char *fmt,
                           va_list ap)
{
    char *t = _strdup_vprintf(fmt, ap);
    cc_log_lines().push_back({level, tag ? tag : "", t ? t : ""});
    free(t);
}

class CallConf : public ::testing::Test {
protected:
    void SetUp() override
    {
        application_create();
        init_locks();
        init_default_call_configuration();
        cc_clean_call_configuration_pool();
        cc_log_lines().clear();
        log_levels_debug[TARN] = 9;
        log_set_log_handler_debug(cc_record_line);
    }
    void TearDown() override { log_set_log_handler_debug(nullptr); }

    static const call_configuration &defaults() { return gp->default_call_configuration; }
    static call_configuration fresh()
    {
        call_configuration cc;
        cc_init_call_configuration(&cc);
        return cc;
    }
    // Texts of the lines logged so far, then forgets them.
    static std::vector<std::string> take_lines()
    {
        std::vector<std::string> out;
        for (auto &l : cc_log_lines())
            out.push_back(l.text);
        cc_log_lines().clear();
        return out;
    }
};
