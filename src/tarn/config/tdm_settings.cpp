#include "tdm_settings.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "confman.h"
#include "experimental_options.h"
#include "log.h"
#include "platform_path.h"
#include "schema.h"

// ---- hooks ------------------------------------------------------------------

static void list_tdm_not_built(const char *, FILE *)
{
    static bool said;
    if (!said)
        LOGD(TARN, 2, nullptr, "TDM map printout not available in this build");
    said = true;
}

static void transcoding_pool_not_built()
{
    static bool said;
    if (!said)
        LOGD(TARN, 2, nullptr, "transcoding timeslot pool not available in this build");
    said = true;
}

static tdm_hooks hooks = {list_tdm_not_built, transcoding_pool_not_built};

void tdm_set_hooks(const tdm_hooks *h)
{
    if (!h)
        return;
    if (h->list_tdm)
        hooks.list_tdm = h->list_tdm;
    if (h->init_transcoding_timeslots_array)
        hooks.init_transcoding_timeslots_array = h->init_transcoding_timeslots_array;
}

// ---- the file ---------------------------------------------------------------

void tdm_reset(tdm_settings *t)
{
    memset(t, 0, sizeof *t);
    for (int b = 0; b < TDM_BUSES; b++) {
        t->receive_clock_edge[b] = 1;
        t->transmit_clock_edge[b] = 1;
    }
}

enum { TDM_MAX_WORDS = 5 };

// The words of a line and their values.
struct tdm_line {
    const char *text; // the trimmed line, for the messages
    char *w[TDM_MAX_WORDS];
    int count;
};

static int value(const char *word) { return atoi(word); }
// "on_falling" is 0, any other word 1.
static int edge(const char *word) { return strcmp(word, "on_falling") == 0 ? 0 : 1; }
// "single_clock" is 0, any other word 1.
static int clock_mode(const char *word) { return strcmp(word, "single_clock") == 0 ? 0 : 1; }

static int add_timeslot(tdm_settings *t, const tdm_line &l, int bus)
{
    if (t->timeslot_size >= TDM_TIMESLOT_ROOM) {
        LOGD(TARN, 0, nullptr, "Error parsing device config file - no room for more than %i timeslots: %s!",
             TDM_TIMESLOT_ROOM, l.text);
        return -1;
    }
    timeslot_def &d = t->timeslots[t->timeslot_size++];
    d.bus = (uint8_t)bus;
    d.port = (uint16_t)value(l.w[2]);
    d.channel = (uint16_t)value(l.w[3]);
    d.timeslot = (uint16_t)value(l.w[4]);
    d.logical_timeslot = 0;
    return 0;
}

static int set_delay(tdm_settings *t, const tdm_line &l, int bus)
{
    t->delay_transmitter[bus] = value(l.w[2]);
    t->delay_receiver[bus] = value(l.w[3]);
    return 0;
}

static int set_clock_mode(tdm_settings *t, const tdm_line &l, int bus)
{
    t->clock_mode_transmitter[bus] = clock_mode(l.w[2]);
    t->clock_mode_receiver[bus] = clock_mode(l.w[3]);
    return 0;
}

static int set_receive_edge(tdm_settings *t, const tdm_line &l, int bus)
{
    t->receive_clock_edge[bus] = edge(l.w[2]);
    return 0;
}

static int set_transmit_edge(tdm_settings *t, const tdm_line &l, int bus)
{
    t->transmit_clock_edge[bus] = edge(l.w[2]);
    return 0;
}

static int set_frame_edge(tdm_settings *t, const tdm_line &l, int bus)
{
    t->frame_edge[bus] = edge(l.w[2]);
    return 0;
}

struct tdm_keyword {
    const char *word;
    int words;
    const char *count_error; // %s: the line
    const char *bus_error;   // %i: the bus
    int (*apply)(tdm_settings *t, const tdm_line &l, int bus);
};

// A timeslot line's bus indexes the per-bus arrays like the others', so it
// is checked as well.
static const tdm_keyword tdm_keywords[] = {
    {"timeslot", 5, "Error parsing device config file - timeslot line: %s!",
     "Error parsing timeslot - invalid bus number %i", add_timeslot},
    {"tdm_delay", 4, "Error parsing device config file - tdm_delay line: %s!",
     "Error parsing tdm_delay - invalid bus number %i", set_delay},
    {"clock_mode", 4, "Error parsing device config file - clock_mode line: %s!",
     "Error parsing clock_mode - invalid bus number %i", set_clock_mode},
    {"receive_clock_edge", 3, "Error parsing device config file - receive_clock_edge line: %s!",
     "Error parsing clock_mode - invalid bus number %i", set_receive_edge},
    {"transmit_clock_edge", 3, "Error parsing device config file - transmit_clock_edge line: %s!",
     "Error parsing clock_mode - invalid bus number %i", set_transmit_edge},
    {"frame_edge", 3, "Error parsing device config file - frame_edge line: %s!",
     "Error parsing frame_edge - invalid bus number %i", set_frame_edge},
};

int tdm_parse_line(tdm_settings *t, const char *line, int lineno)
{
    std::string text(line ? line : "");
    size_t a = text.find_first_not_of(" \t\r\n");
    size_t b = text.find_last_not_of(" \t\r\n");
    text = a == std::string::npos ? "" : text.substr(a, b - a + 1);
    if (text.empty() || text[0] == ';' || text[0] == '#')
        return 0;

    std::string split = text;
    tdm_line l = {text.c_str(), {}, 0};
    for (char *p = &split[0]; *p;) {
        while (*p == ' ')
            p++;
        if (!*p)
            break;
        if (l.count == TDM_MAX_WORDS) {
            LOGD(TARN, 0, nullptr, "Error parsing device config file - line %i: %s!", lineno, l.text);
            return -1;
        }
        l.w[l.count++] = p;
        while (*p && *p != ' ')
            p++;
        if (*p)
            *p++ = '\0';
    }

    for (const tdm_keyword &k : tdm_keywords) {
        if (strcmp(l.w[0], k.word) != 0)
            continue;
        if (l.count != k.words) {
            LOGD(TARN, 0, nullptr, k.count_error, l.text);
            return -1;
        }
        int bus = value(l.w[1]);
        if (bus < 0 || bus >= TDM_BUSES) {
            LOGD(TARN, 0, nullptr, k.bus_error, bus);
            return -1;
        }
        return k.apply(t, l, bus);
    }
    LOGD(TARN, 0, nullptr, "unknown line in device config: %s!", l.text);
    return 0;
}

// ---- transcoding slots and numbering ------------------------------------------

struct bus_use {
    int count[TDM_BUSES];
    int highest[TDM_BUSES];
};

static bus_use bus_usage(const tdm_settings *t)
{
    bus_use u = {};
    for (int i = 0; i < t->timeslot_size; i++) {
        const timeslot_def &d = t->timeslots[i];
        u.count[d.bus]++;
        if (d.timeslot > u.highest[d.bus])
            u.highest[d.bus] = d.timeslot;
    }
    return u;
}

// A bus's last usable slot for transcoding is 62.
enum { S2S_LAST_SLOT = 62, S2S_FULL_BUS_SLOTS = 126, S2S_OVERRIDE_MIN_ROOM = 8 };

tdm_s2s_choice tdm_choose_s2s_bus(const tdm_settings *t, int eo_s2s_bus, int eo_virtual_transcoding)
{
    bus_use u = bus_usage(t);
    tdm_s2s_choice c = {0, u.highest[0], -1, -1, 0, 0};
    for (int b = 1; b < TDM_BUSES; b++)
        if (u.highest[b] < c.bmax) {
            c.find_bus = b;
            c.bmax = u.highest[b];
        }

    if (eo_s2s_bus >= 0 && eo_s2s_bus < TDM_BUSES) {
        int high = u.highest[eo_s2s_bus];
        int room = S2S_LAST_SLOT - high;
        if (eo_virtual_transcoding || room > S2S_OVERRIDE_MIN_ROOM) {
            c.s2s_bus = c.activate_bus = eo_s2s_bus;
            c.slots = room > 0 ? room : 0;
            // The bus's highest used timeslot is taken already.
            c.first = u.count[eo_s2s_bus] ? high + 1 : 0;
            if (high != S2S_LAST_SLOT)
                LOGD(TARN, 2, nullptr, "Overriding s2s_bus to bus %i, %i slots, ", eo_s2s_bus, c.slots);
            return c;
        }
        LOGD(TARN, 2, nullptr, "Not overriding s2s_bus to bus %i, already uses %i slots, ", eo_s2s_bus, high);
    }

    if (c.bmax == 0) {
        c.s2s_bus = c.activate_bus = c.find_bus;
        c.slots = S2S_FULL_BUS_SLOTS;
        // Entries on timeslot 0 only: that one is taken.
        c.first = u.count[c.find_bus] ? 1 : 0;
        LOGD(TARN, 2, nullptr, "Setting s2s_bus to bus %i, %i slots, ", c.s2s_bus, c.slots);
    } else if (c.bmax < S2S_LAST_SLOT) {
        c.s2s_bus = c.find_bus;
        c.slots = S2S_LAST_SLOT - c.bmax;
        c.first = c.bmax + 1;
        LOGD(TARN, 2, nullptr, "Setting s2s_bus(2) to bus %i, %i slots, ", c.s2s_bus, c.slots);
    }
    return c;
}

void tdm_finish_map(tdm_settings *t, const tdm_s2s_choice &c)
{
    if (c.s2s_bus >= 0) {
        int room = TDM_TIMESLOT_ROOM - t->timeslot_size;
        int slots = c.slots < room ? c.slots : room;
        if (slots < c.slots)
            LOGD(TARN, 0, nullptr, "CRITICAL: only %i of %i transcoding timeslots fit the TDM map", slots, c.slots);
        for (int k = 0; k < slots; k++) {
            timeslot_def &d = t->timeslots[t->timeslot_size++];
            d.bus = (uint8_t)c.s2s_bus;
            d.port = (uint16_t)(TDM_TRANSCODING_PORT_BASE + k);
            d.channel = 1;
            d.timeslot = (uint16_t)(c.first + k);
            d.logical_timeslot = 0;
        }
    }
    bus_use u = bus_usage(t);
    for (int b = 0; b < TDM_BUSES; b++)
        t->bus_configure_count[b] = u.count[b] ? u.highest[b] + 2 : 0;
    for (int i = 0; i < t->timeslot_size; i++) {
        timeslot_def &d = t->timeslots[i];
        int logical = d.timeslot;
        for (int b = 0; b < d.bus; b++)
            logical += t->bus_configure_count[b];
        d.logical_timeslot = (uint16_t)logical;
    }
}

const char *tdm_bus_sysfs_file(int bus)
{
    static const char *const files[TDM_BUSES] = {
        "/sys/class/quilmar/pcm/tdm_config",
        "/sys/class/quilmar/li0/tdm_config",
        "/sys/class/quilmar/li1/tdm_config",
        "/sys/class/quilmar/li2/tdm_config",
    };
    return bus >= 0 && bus < TDM_BUSES ? files[bus] : nullptr;
}

static void activate_bus(int bus)
{
    const char *file = tdm_bus_sysfs_file(bus);
    if (!file)
        return;
    std::string path = platform_path(file);
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return;
    if (FILE *f = fopen(path.c_str(), "w")) {
        fwrite("32\n", 1, 3, f);
        fclose(f);
    }
}

// The numbering must stay inside the media processor's timeslots.
static int check_fits(const tdm_settings *t)
{
    for (int i = 0; i < t->timeslot_size; i++) {
        const timeslot_def &d = t->timeslots[i];
        if (d.logical_timeslot >= TDM_TIMESLOT_ROOM || d.timeslot >= TDM_TIMESLOT_ROOM) {
            LOGD(TARN, 0, nullptr,
                 "Error parsing device config file - timeslot %i of bus %i lies outside the %i TDM timeslots!",
                 (int)d.timeslot, (int)d.bus, TDM_TIMESLOT_ROOM);
            return -1;
        }
    }
    return 0;
}

int read_device_config(const char *path)
{
    struct stat st;
    if (!path || stat(path, &st) != 0) {
        LOGD(TARN, 0, nullptr, "CRITICAL: Cannot load timeslots config (%s)!", path ? path : "");
        return -1;
    }
    FILE *f = fopen(path, "r");
    if (!f) {
        LOGD(TARN, 0, nullptr, "CRITICAL: Failed opening timeslots config (%s)!", path);
        return -1;
    }
    tdm_settings *t = &gp->tdm_map;
    tdm_reset(t);

    char pcm_server[256];
    if (!gp->config_tarn || cm_get(gp->config_tarn, pcm_server, sizeof pcm_server, 0, CFG_TARN_PCM_SERVER) != 0) {
        LOGD(TARN, 0, nullptr, "CRITICAL: Couldn't read pcm status server string from config!");
        fclose(f);
        return 1;
    }
    if (strcmp(pcm_server, "0") != 0)
        for (int i = 0; i < TDM_PCM_BRIDGING_SLOTS; i++)
            t->timeslots[t->timeslot_size++] = {0, TDM_PCM_BRIDGING_PORT, (uint16_t)i, (uint16_t)i, 0};

    char *line = nullptr;
    size_t cap = 0;
    int lineno = 0, rc = 0;
    while (rc == 0 && getline(&line, &cap, f) != -1)
        rc = tdm_parse_line(t, line, ++lineno);
    free(line);
    fclose(f);
    if (rc != 0)
        return -1;

    experimental_options *eo = gp->experimental_options;
    tdm_s2s_choice c = tdm_choose_s2s_bus(t, eo ? eo->eo_s2s_bus : -1, eo ? eo->eo_virtual_transcoding : 0);
    if (c.activate_bus >= 0)
        activate_bus(c.activate_bus);
    tdm_finish_map(t, c);
    if (check_fits(t) != 0)
        return -1;

    hooks.list_tdm("", stdout);
    hooks.init_transcoding_timeslots_array();
    fprintf(stderr, "TDM: find_bus %i s2s_bus %i activate_bus %i bmax %i tdm %s\n", c.find_bus, c.s2s_bus,
            c.activate_bus, c.bmax, path);
    return 0;
}
