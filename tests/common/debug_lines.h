// Collects the debug lines of the given modules (at every level) while it
// lives, from any thread; the previous handler and levels come back after.
#pragma once
#include <cstdlib>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "log.h"

class debug_lines {
public:
    explicit debug_lines(std::initializer_list<int> modules) : modules_(modules)
    {
        clear();
        old_ = log_out_debug;
        old_enabled_ = log_levels_debug_enabled;
        for (int m : modules_) {
            old_levels_.push_back(log_levels_debug[m]);
            log_set_loglevel_debug(log_levels_debug, m, 9);
        }
        log_levels_debug_enabled = 1;
        log_set_log_handler_debug(on_debug);
    }
    ~debug_lines()
    {
        log_set_log_handler_debug(old_);
        log_levels_debug_enabled = old_enabled_;
        for (size_t i = 0; i < modules_.size(); i++)
            log_levels_debug[modules_[i]] = old_levels_[i];
    }
    debug_lines(const debug_lines &) = delete;
    debug_lines &operator=(const debug_lines &) = delete;

    std::vector<std::string> lines() const
    {
        std::lock_guard<std::mutex> g(mutex());
        return store();
    }
    bool has(const std::string &line) const
    {
        for (const std::string &l : lines())
            if (l == line)
                return true;
        return false;
    }
    void clear()
    {
        std::lock_guard<std::mutex> g(mutex());
        store().clear();
    }

private:
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string> &store()
    {
        static std::vector<std::string> s;
        return s;
    }
    static void on_debug(int, int, const char *, int, const char *, const char *, const char *fmt, va_list ap)
    {
        char *t = _strdup_vprintf(fmt, ap);
        std::lock_guard<std::mutex> g(mutex());
        store().push_back(t ? t : "");
        free(t);
    }
    std::vector<int> modules_;
    std::vector<unsigned char> old_levels_;
    LogFuncDebug old_;
    int32_t old_enabled_;
};
