// Collects the debug lines of the MSP module (any thread) while it lives.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "log.h"

class log_lines {
public:
    log_lines()
    {
        {
            std::lock_guard<std::mutex> g(mutex());
            store().clear();
        }
        old_ = log_out_debug;
        old_level_ = log_levels_debug[MSP];
        log_set_log_handler_debug(on_debug);
        log_set_loglevel_debug(log_levels_debug, MSP, 9);
    }
    ~log_lines()
    {
        log_set_log_handler_debug(old_);
        log_levels_debug[MSP] = old_level_;
    }
    std::vector<std::string> lines() const
    {
        std::lock_guard<std::mutex> g(mutex());
        return store();
    }
    bool has(const std::string &text) const { return count(text) > 0; }
    int count(const std::string &text) const
    {
        int n = 0;
        for (const std::string &l : lines())
            if (l.find(text) != std::string::npos)
                n++;
        return n;
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
    static void on_debug(int, int module, const char *, int, const char *, const char *tag,
                         const char *format, va_list ap)
    {
        if (module != MSP)
            return;
        char text[2048];
        vsnprintf(text, sizeof text, format, ap);
        std::lock_guard<std::mutex> g(mutex());
        store().push_back(std::string(tag ? tag : "") + "|" + text);
    }
    LogFuncDebug old_;
    unsigned char old_level_;
};
