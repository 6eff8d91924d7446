// The analog driver's sysfs state: /sys/class/kvxanalog/<n>/{type,
// linevoltage, polarity, vbat, rtlc, state}, each read as its first line.
#include "analogctl.h"
#include "lineif.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The first line (at most 255 characters) of one file of port index i;
// false when the file cannot be opened or holds nothing.
bool read_first_line(int i, const char *name, char *line, size_t size)
{
    char path[96];
    snprintf(path, sizeof path, "/sys/class/kvxanalog/%i/%s", i, name);
    if (lineif_read_text(path, line, size) <= 0)
        return false;
    line[strcspn(line, "\n")] = '\0';
    return true;
}

} // namespace

int read_analog_state(analog_proc_info states[ANALOG_PORT_TABLE])
{
    if (!states)
        return 0;
    static const char *const numbers[] = {"linevoltage", "polarity", "vbat", "rtlc"};
    char line[ANALOG_LINE_SIZE];
    for (int i = 0; i < ANALOG_PORT_TABLE; i++) {
        analog_proc_info &e = states[i];
        // type first: the state text is decoded with the port's type
        if (!read_first_line(i, "type", line, sizeof line))
            return 0;
        e.type = strcmp(line, "FXO") == 0 ? ANALOG_TYPE_FXO : ANALOG_TYPE_FXS;
        int *fields[] = {&e.linevoltage, &e.polarity, &e.vbat, &e.rtlc};
        for (int f = 0; f < 4; f++) {
            if (!read_first_line(i, numbers[f], line, sizeof line))
                return 0;
            *fields[f] = atoi(line);
        }
        if (!read_first_line(i, "state", line, sizeof line))
            return 0;
        e.state = analog_str_to_state(e.type, line);
    }
    return 0;
}
