// The cause map (tarn.causes): which cause or response code the gateway
// sends when it refuses or ends a call for a reason from the other side or
// from itself. get_reject_cause (causes.h) looks it up.
#pragma once
#include <cstdint>

#include "dialplan.h" // dp_tech

enum {
    CAUSE_MAP_SIZE = 200,
    CAUSE_MAP_LINE_LENGTH = 511, // characters of a file line that are read
};

struct cause_map_element {
    dp_tech from;
    dp_tech to;
    int32_t in_cause; // -1: any cause
    int32_t out_cause;
    char *out_cause_text; // owned, or null
};

struct cause_map {
    cause_map_element causes[CAUSE_MAP_SIZE];
    int32_t count;
};

// No cause-map path configured: the default map. A path whose file exists:
// the file, then misdn_cw_reject_code from the map (ISDN to the gateway,
// cause 902). A path without a file: nothing. Returns 0.
int load_causes_map();

// The six built-in rows (texts of the rows they replace are freed). 0.
int init_default_causes_map();

// Replaces the map with the file's lines under global_lock; the previous
// texts are freed first. 0, or -1 (map untouched) when the file cannot be
// opened.
int parse_causes_map(const char *path);

// Frees the texts of the entries in use; the count stays. 0.
int clean_causes_map();
