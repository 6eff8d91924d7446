// Names of analog events, states and port types, and the decoders of the
// driver's event lines and state texts.
#include "analogctl.h"
#include "log.h"

#include <cstring>

namespace {

struct state_row {
    analog_port_states state;
    const char *text;
    int type; // 0 any, 1 FXS, 2 FXO
};

const state_row state_table[] = {
    {ANALOG_STATE_UNKNOWN, "UNKNOWN", -1},
    {ANALOG_STATE_BROKEN, "BROKEN", 0},
    {ANALOG_STATE_FXO_IDLE, "FXO_IDLE", 2},
    {ANALOG_STATE_FXO_IDLE_PENDING, "FXO_IDLE_PENDING", 2},
    {ANALOG_STATE_FXO_RINGING, "FXO_RINGING", 2},
    {ANALOG_STATE_FXO_RINGING_PENDING, "FXO_RINGING_PENDING", 2},
    {ANALOG_STATE_FXO_OFFHOOK, "FXO_OFFHOOK", 2},
    {ANALOG_STATE_FXO_CONNECTED, "FXO_CONNECTED", 2},
    {ANALOG_STATE_FXO_POLARITY_REVERSAL, "FXO_POLARITY_REVERSAL", 2},
    {ANALOG_STATE_FXO_PENDING_IDLE, "FXO_PENDING_IDLE", 2},
    {ANALOG_STATE_FXS_IDLE, "FXS_IDLE", 1},
    {ANALOG_STATE_FXS_RINGING, "FXS_RINGING", 1},
    {ANALOG_STATE_FXS_OFFHOOK, "FXS_OFFHOOK", 1},
    {ANALOG_STATE_FXS_CONNECTED, "FXS_CONNECTED", 1},
    {ANALOG_STATE_FXS_POLARITY_REVERSAL, "FXS_POLARITY_REVERSAL", 1},
    {ANALOG_STATE_FXS_PENDING_IDLE, "FXS_PENDING_IDLE", 1},
};

struct event_name {
    int event;
    const char *text;
};

const event_name fxs_names[] = {
    {ANALOG_EVENT_OFFHOOK, "FXS_OFFHOOK"},     {ANALOG_EVENT_ONHOOK, "FXS_ONHOOK"},
    {ANALOG_EVENT_POLARITY, "FXS_POLARITY"},   {ANALOG_EVENT_RINGING, "FXS_RINGING"},
    {ANALOG_EVENT_IDLE, "FXS_IDLE"},           {ANALOG_EVENT_RINGOFF, "FXS_RINGOFF"},
    {ANALOG_EVENT_FLASHHOOK, "FXS_FLASHHOOK"}, {ANALOG_EVENT_TAXPULSE12, "FXS_TAXPULSE12"},
    {ANALOG_EVENT_TAXPULSE16, "FXS_TAXPULSE16"}, {ANALOG_EVENT_WINK, "FXS_WINK"},
};

const event_name fxo_names[] = {
    {ANALOG_EVENT_OFFHOOK, "FXO_OFFHOOK"},
    {ANALOG_EVENT_ONHOOK, "FXO_ONHOOK"},
    {ANALOG_EVENT_POLARITY, "FXO_POLARITY"},
    {ANALOG_EVENT_RINGING, "FXO_RINGING"},
    {ANALOG_EVENT_RINGING_PENDING, "FXO_RINGING_PENDING"},
    {ANALOG_EVENT_IDLE, "FXO_IDLE"},
    {ANALOG_EVENT_IDLE_PENDING, "FXO_IDLE_PENDING"},
    {ANALOG_EVENT_RINGOFF, "FXO_RINGOFF"},
    {ANALOG_EVENT_FLASHHOOK, "FXO_FLASHHOOK"},
};

// Searched in this order: a longer word must be tried before the shorter
// word it contains.
struct line_word {
    const char *fxo;
    const char *fxs; // null: FXO only
    int event;
};

const line_word line_words[] = {
    {"FXO_IDLE_PENDING", nullptr, ANALOG_EVENT_IDLE_PENDING},
    {"FXO_IDLE", "FXS_IDLE", ANALOG_EVENT_IDLE},
    {"FXO_RINGING_PENDING", nullptr, ANALOG_EVENT_RINGING_PENDING},
    {"FXO_RINGING", "FXS_RINGING", ANALOG_EVENT_RINGING},
    {"FXO_OFFHOOK", "FXS_OFFHOOK", ANALOG_EVENT_OFFHOOK},
    {"FXO_POLARITY_REVERSAL", "FXS_POLARITY_REVERSAL", ANALOG_EVENT_POLARITY},
    {"FXO_ONHOOK", "FXS_ONHOOK", ANALOG_EVENT_ONHOOK},
    {"FXO_RINGOFF", "FXS_RINGOFF", ANALOG_EVENT_RINGOFF},
    {"FXS_FLASHHOOK", nullptr, ANALOG_EVENT_FLASHHOOK},
};

const char *find_name(const event_name *table, size_t n, int event)
{
    for (size_t i = 0; i < n; i++)
        if (table[i].event == event)
            return table[i].text;
    return nullptr;
}

} // namespace

const char *analog_state_to_string(int state)
{
    for (const state_row &r : state_table)
        if (r.state == state)
            return r.text;
    return "_UNKNOWN_";
}

const char *analog_porttype_to_string(int type)
{
    switch (type) {
    case ANALOG_TYPE_FXS:
        return "FXS";
    case ANALOG_TYPE_FXO:
        return "FXO";
    default:
        return "NONE";
    }
}

const char *analog_event_to_str(int type, int event)
{
    static const struct {
        int type;
        const event_name *names;
        size_t count;
        const char *tag, *unknown;
    } by_type[] = {
        {ANALOG_TYPE_FXS, fxs_names, sizeof fxs_names / sizeof fxs_names[0], "FXS", "FXS_UNKNOWN"},
        {ANALOG_TYPE_FXO, fxo_names, sizeof fxo_names / sizeof fxo_names[0], "FXO", "FXO_UNKNOWN"},
    };
    for (const auto &t : by_type) {
        if (t.type != type)
            continue;
        if (const char *name = find_name(t.names, t.count, event))
            return name;
        LOGD(ANALOG, 0, nullptr, "CRITICAL: %s: cannot format string for event %i!", t.tag, event);
        return t.unknown;
    }
    LOGD(ANALOG, 0, nullptr, "CRITICAL: FXX: unknown type %i with event %i!", type, event);
    return "FXX_UNKNOWN";
}

int analog_str_to_event(const char *line)
{
    if (!line)
        line = "";
    for (const line_word &w : line_words)
        if (strstr(line, w.fxo) || (w.fxs && strstr(line, w.fxs)))
            return w.event;
    LOGD(ANALOG, 0, nullptr, "CRITICAL: analog_str_to_event: Unknown Event %s", line);
    return ANALOG_EVENT_UNKNOWN;
}

analog_port_states analog_str_to_state(int type, const char *text)
{
    if (!text)
        return ANALOG_STATE_UNKNOWN;
    for (const state_row &r : state_table)
        if ((r.type == 0 || r.type == type) && strcmp(r.text, text) == 0)
            return r.state;
    return ANALOG_STATE_UNKNOWN;
}
