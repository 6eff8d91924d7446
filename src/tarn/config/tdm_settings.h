// The TDM map: which line port and channel sits on which timeslot of which
// of the four TDM buses, how each bus is clocked, and the timeslots kept for
// SIP-to-SIP transcoding. Read once at start from tarn.tdm
// (read_device_config); the media processor's device bring-up programs the
// buses from it.
#pragma once
#include <cstdint>
#include <cstdio>

enum {
    TDM_BUSES = 4,
    TDM_TIMESLOT_ROOM = 512,
    TDM_PCM_BRIDGING_PORT = 100,
    TDM_PCM_BRIDGING_SLOTS = 128,
    TDM_TRANSCODING_PORT_BASE = 10001,
};

struct timeslot_def {
    uint8_t bus;               // 0-3
    uint16_t port;             // line port; 100 PCM bridging; 10001 and up transcoding
    uint16_t channel;
    uint16_t timeslot;         // on its bus
    uint16_t logical_timeslot; // across all buses
};

struct tdm_settings {
    timeslot_def timeslots[TDM_TIMESLOT_ROOM];
    int timeslot_size;
    int delay_transmitter[TDM_BUSES];
    int delay_receiver[TDM_BUSES];
    int frame_edge[TDM_BUSES];
    int receive_clock_edge[TDM_BUSES];
    int transmit_clock_edge[TDM_BUSES];
    int clock_mode_transmitter[TDM_BUSES];
    int clock_mode_receiver[TDM_BUSES];
    int bus_configure_count[TDM_BUSES]; // timeslots per frame; 0 for an unused bus
};

// What others plug in: the console's printout of the map and the transcoding
// timeslot pool. Unset members log once and do nothing.
struct tdm_hooks {
    void (*list_tdm)(const char *prefix, FILE *out);
    void (*init_transcoding_timeslots_array)();
};
// Takes the non-null members (null keeps what is there); at start.
void tdm_set_hooks(const tdm_hooks *hooks);

// The per-bus defaults before the file is read, and an empty map.
void tdm_reset(tdm_settings *t);

// One line of tarn.tdm as read (trimmed here); lineno counts every line
// read. 0, or -1 after the line that fails the file.
int tdm_parse_line(tdm_settings *t, const char *line, int lineno);

// Where the transcoding timeslots go.
struct tdm_s2s_choice {
    int find_bus;     // the bus whose highest timeslot is lowest
    int bmax;         // that highest timeslot
    int s2s_bus;      // the bus taken, -1 for none
    int activate_bus; // the bus whose line interface is switched to 32 slots, -1 for none
    int first;        // first transcoding timeslot
    int slots;        // how many
};
// eo_s2s_bus: a bus 0-3 asks for that bus (anything else: automatic).
// Logs the decision.
tdm_s2s_choice tdm_choose_s2s_bus(const tdm_settings *t, int eo_s2s_bus, int eo_virtual_transcoding);

// Appends the transcoding entries (cut to the room left), sets
// bus_configure_count and numbers the timeslots across the buses.
void tdm_finish_map(tdm_settings *t, const tdm_s2s_choice &c);

// The sysfs file that switches a bus's line interface ("32\n"), below the
// path root; null outside 0-3.
const char *tdm_bus_sysfs_file(int bus);

// Reads tarn.tdm into the application's TDM map: 0; -1 on a file error; 1
// when pcm_server cannot be read.
int read_device_config(const char *path);
