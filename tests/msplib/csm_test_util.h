// Helpers of the message-layer tests: hex text to bytes and back, and a
// capture of the log lines the library writes.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "log.h"

inline std::vector<uint8_t> hex_bytes(const std::string &text)
{
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back((uint8_t)(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

inline std::string bytes_hex(const uint8_t *b, size_t n)
{
    std::string s;
    char t[4];
    for (size_t i = 0; i < n; i++) {
        snprintf(t, sizeof t, i ? " %02x" : "%02x", b[i]);
        s += t;
    }
    return s;
}

// Collects every debug and message line while it lives; restores the
// handlers and levels it changed.
class log_capture {
public:
    log_capture()
    {
        lines().clear();
        old_debug_ = log_out_debug;
        old_message_ = log_out_message;
        old_debug_level_ = log_levels_debug[MSP];
        old_message_level_ = log_levels_message[MSP];
        log_set_log_handler_debug(on_debug);
        log_set_log_handler_message(on_message);
        log_set_loglevel_debug(log_levels_debug, MSP, 9);
        log_set_loglevel_message(MSP, 9);
    }
    ~log_capture()
    {
        log_set_log_handler_debug(old_debug_);
        log_set_log_handler_message(old_message_);
        log_levels_debug[MSP] = old_debug_level_;
        log_levels_message[MSP] = old_message_level_;
    }
    static std::vector<std::string> &lines()
    {
        static std::vector<std::string> l;
        return l;
    }
    // True when some line contains `text`.
    bool has(const std::string &text) const
    {
        for (const std::string &l : lines())
            if (l.find(text) != std::string::npos)
                return true;
        return false;
    }
    std::string all() const
    {
        std::string s;
        for (const std::string &l : lines())
            s += l + "\n";
        return s;
    }

private:
    static void on_debug(int, int, const char *, int, const char *, const char *, const char *format,
                         va_list ap)
    {
        char buf[8192];
        vsnprintf(buf, sizeof buf, format, ap);
        lines().push_back(buf);
    }
    static void on_message(int, int, const char *, int, const char *format, va_list ap)
    {
        char buf[8192];
        vsnprintf(buf, sizeof buf, format, ap);
        lines().push_back(buf);
    }
    LogFuncDebug old_debug_;
    LogFuncMessage old_message_;
    unsigned char old_debug_level_;
    unsigned char old_message_level_;
};
