#include "command_log.h"

#include <cstdlib>

#include "log.h"

command_log captured;

static void keep(int level, int, const char *, int, const char *, const char *, const char *fmt, va_list ap)
{
    char *t = _strdup_vprintf(fmt, ap);
    std::string s = t ? t : "";
    free(t);
    if (level == 5 && s.size() > 2 && s.front() == '|' && s.back() == '|')
        captured.commands.push_back(s.substr(1, s.size() - 2));
    else
        captured.lines.push_back(s);
}

void capture_commands()
{
    for (int m = 0; m < MODULECOUNT; m++)
        log_set_loglevel_debug(log_levels_debug, m, 9);
    captured = command_log();
    log_set_log_handler_debug(keep);
}

void stop_capturing_commands()
{
    log_set_log_handler_debug(nullptr);
}
