// Collects the debug lines of the given modules (at every level) while it
// lives, from any thread; the previous handler and levels come back after.
// With with_tag each line is kept as "<call tag>|<text>".
#pragma once
#include <cstdlib>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "log.h"

class debug_lines {
public:
    explicit debug_lines(std::initializer_list<int> modules, bool with_tag = false) : modules_(modules)
    {
        clear();
        mask() = 0;
        for (int m : modules_)
            mask() |= 1u << m;
        with_tag_() = with_tag;
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
    // Lines that contain the text.
    int count(const std::string &text) const
    {
        int n = 0;
        for (const std::string &l : lines())
            n += l.find(text) != std::string::npos;
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
    static unsigned &mask()
    {
        static unsigned m;
        return m;
    }
    static bool &with_tag_()
    {
        static bool t;
        return t;
    }
    static void on_debug(int, int module, const char *, int, const char *, const char *tag, const char *fmt,
                         va_list ap)
    {
        if (module < 0 || module >= 32 || !(mask() & (1u << module)))
            return;
        char *t = _strdup_vprintf(fmt, ap);
        std::string line = with_tag_() ? std::string(tag ? tag : "") + "|" : std::string();
        line += t ? t : "";
        free(t);
        std::lock_guard<std::mutex> g(mutex());
        store().push_back(line);
    }
    std::vector<int> modules_;
    std::vector<unsigned char> old_levels_;
    LogFuncDebug old_;
    int32_t old_enabled_;
};

// What the system-command runner logged for each command ("|<command>|"),
// without the bars, and every other line.
inline bool is_command_line(const std::string &l)
{
    return l.size() > 2 && l.front() == '|' && l.back() == '|';
}
inline std::vector<std::string> commands_in(const debug_lines &d)
{
    std::vector<std::string> out;
    for (const std::string &l : d.lines())
        if (is_command_line(l))
            out.push_back(l.substr(1, l.size() - 2));
    return out;
}
inline std::vector<std::string> other_lines_in(const debug_lines &d)
{
    std::vector<std::string> out;
    for (const std::string &l : d.lines())
        if (!is_command_line(l))
            out.push_back(l);
    return out;
}
