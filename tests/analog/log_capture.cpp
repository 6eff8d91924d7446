#include "log_capture.h"

#include "log.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::mutex lines_lock;
std::vector<std::string> lines;

void keep(const char *kind, const char *format, va_list ap)
{
    char *text = _strdup_vprintf(format, ap);
    std::lock_guard<std::mutex> g(lines_lock);
    lines.push_back(std::string(kind) + (text ? text : ""));
    free(text);
}

void on_debug(int, int, const char *, int, const char *, const char *, const char *format,
              va_list ap)
{
    keep("D ", format, ap);
}

void on_message(int, int, const char *, int, const char *format, va_list ap)
{
    keep("M ", format, ap);
}

void on_cas(int port, int msgtype, const char *format, va_list ap)
{
    char kind[32];
    snprintf(kind, sizeof kind, "C%i:%i ", port, msgtype);
    keep(kind, format, ap);
}

} // namespace

void log_capture_start()
{
    log_levels_debug_enabled = 1;
    log_levels_message_enabled = 1;
    log_cas_enabled = 1;
    for (int m = 0; m < MODULECOUNT; m++) {
        log_set_loglevel_debug(log_levels_debug, m, 9);
        log_set_loglevel_message(m, 9);
    }
    log_set_log_handler_debug(on_debug);
    log_set_log_handler_message(on_message);
    log_set_log_handler_cas(on_cas);
}

std::vector<std::string> log_capture_lines()
{
    std::lock_guard<std::mutex> g(lines_lock);
    return lines;
}

bool log_capture_has(const std::string &text)
{
    std::lock_guard<std::mutex> g(lines_lock);
    for (const auto &l : lines)
        if (l.find(text) != std::string::npos)
            return true;
    return false;
}

void log_capture_clear()
{
    std::lock_guard<std::mutex> g(lines_lock);
    lines.clear();
}
