// Shared helpers of the log tests: a private directory per test and a clean
// back-end state.
#pragma once
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "global_lock.h"
#include "log.h"
#include "log_backend.h"

inline std::string slurp(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

inline void spit(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}

inline bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

// Replaces every time stamp by "TS" so lines can be compared whole.
inline std::string untimed(const std::string &s)
{
    static const std::regex ts(R"(\d\d/\d\d/\d\d-\d\d:\d\d:\d\d:\d{6})");
    return std::regex_replace(s, ts, "TS");
}

inline void close_file(FILE *&f)
{
    if (f && f != stdout && f != stderr)
        fclose(f);
    f = nullptr;
}

// Puts the back-end and front-end into their start state, handlers installed
// and every level open.
inline void reset_logging()
{
    lock_manager_create();
    log_backend_state *b = log_backend();
    pthread_mutex_lock(log_fp_lock());
    close_file(b->logrotate_fp);
    close_file(b->nlogrotate_fp);
    close_file(b->debug_fp);
    close_file(b->verbose_fp);
    close_file(b->snmp_notify_fp);
    close_file(b->verbose_outfile_fp);
    pthread_mutex_unlock(log_fp_lock());
    pthread_mutex_lock(log_cas_lock());
    close_file(b->cas_fp);
    pthread_mutex_unlock(log_cas_lock());
    close_file(b->sofia_log_fp);
    update_logrotate_list("");
    update_nlogrotate_list("");
    stop_netlog();
    if (b->locallogfd > 0)
        close(b->locallogfd);
    b->locallogfd = 0;
    b->local_log_active = 0;
    b->verbose_outfile_logging = 0;
    b->syslog_facility = 16;
    b->logsizelimit = 1000000;
    b->nlogsizelimit = 500000;
    b->cas_log_filesize_limit = 100000;

    log_set_log_handler_debug(tarn_log_out_debug);
    log_set_log_handler_message(tarn_log_out_message);
    log_set_log_handler_nmessage(tarn_log_out_nmessage);
    log_set_log_handler_legacy(tarn_log_out_legacy);
    log_set_log_handler_cas(tarn_log_out_cas);
    log_levels_debug_enabled = log_levels_message_enabled = log_levels_nmessage_enabled = 1;
    log_cas_enabled = 1;
    for (int m = 0; m < MODULECOUNT; m++) {
        log_set_loglevel_debug(log_levels_debug, m, 9);
        log_set_loglevel_message(m, 9);
    }
}

class LogDir : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarn-log-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        reset_logging();
    }
    void TearDown() override
    {
        reset_logging();
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
    }
    std::string path(const std::string &name) const { return dir + "/" + name; }
};
