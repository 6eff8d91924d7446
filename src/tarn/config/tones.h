// Country tone sets from tarn.tones: the media processor's tone programs
// for dial, ring, busy and congestion, the analog dial-tone descriptions and
// the call-progress detection table, one set per section of the file, kept
// in the application's tone list in file order.
#pragma once
#include <cstdint>

#include "csm_records.h"

enum {
    TONE_CONFIG_TONES = (int)CSM_TONE_ENGINE_TONES, // distinct tones of one program
    TONE_CONFIG_CADENCE_WORDS = (int)CSM_CADENCE_WORDS,
    ACP_TONES = 4,  // detected tones: dial, ring, busy, congestion
    ACP_EVENTS = 4, // event entries
};

// Cadence words that are not tone numbers.
enum {
    TONE_CADENCE_REPEAT_START = 4096, // what follows is repeated
    TONE_CADENCE_END = 8192,          // end of the repeated part
    TONE_CADENCE_NO_DURATION = 65535, // on time of an item without duration
};

// One media-processor tone program.
struct tone_config {
    uint16_t number_of_tones;
    tone_description tones[TONE_CONFIG_TONES];
    uint16_t cadence_parameters[TONE_CONFIG_CADENCE_WORDS];
    int32_t number_of_cadence_parameters;
};

// An analog port's own dial tone: three cadence parts.
struct analog_dial_tone_config {
    int32_t c1_f1, c1_f2, c1_on_time, c1_off_time, c1_multiply;
    int32_t c2_f1, c2_f2, c2_on_time, c2_off_time, c2_multiply;
    int32_t c3_f1, c3_f2, c3_on_time, c3_off_time, c3_multiply;
};

// Event types of call_progress_tone_config::events[k][3].
enum acp_event_type {
    ACP_EVENT_NONE = 0,
    ACP_EVENT_DIAL = 1,
    ACP_EVENT_RING = 2,
    ACP_EVENT_BUSY = 3,
    ACP_EVENT_CONGESTION = 4,
    ACP_EVENT_BUSY1 = 5,
    ACP_EVENT_CONGESTION1 = 6,
};

// Call-progress detection on analog lines: on and off windows in ms of the
// four detected tones, and four events {a, b, c, type}.
struct call_progress_tone_config {
    int32_t acp_detect_on_low[ACP_TONES];
    int32_t acp_detect_on_high[ACP_TONES];
    int32_t acp_detect_off_low[ACP_TONES];
    int32_t acp_detect_off_high[ACP_TONES];
    int32_t events[ACP_EVENTS][4];
};

struct tone_config_set {
    char *language_code; // the section title (owned)
    char *description;   // key description (owned)
    tone_config dial;
    tone_config ring;
    tone_config busy;
    tone_config congestion;
    analog_dial_tone_config analog_dial;
    analog_dial_tone_config analog_stutter;
    call_progress_tone_config call_progress;
    int32_t combined_ringtone_cadence_length; // ms: every number after a "/" of ring
    tone_config_set *list;                    // next set
};

// The application's tone list: sets in file order, never removed.
struct headtonelist {
    tone_config_set *first;
    tone_config_set *last;
};

// Builds gp->tonelist from gp->config_tones (the general key level is the
// tone level of every set).
void init_tones();

// One tone program from a definition ("425/1000,0/4000", "!350+440/100,...",
// "425*15/200,0/300"); the program is cleared first. Returns 0. More than 12
// distinct tones or 64 cadence words: the rest is left out with a log line.
int parse_tone_definition(const char *definition, tone_config *tc, int level);

// The analog dial-tone description of a definition (its first four items).
// Start-up passes stutter 0. Returns 0.
int parse_analog_tone_definition(const char *definition, analog_dial_tone_config *adt, int stutter);

// Fills set->call_progress from the set's keys acp_detect and acp_event
// (and, for "auto", its dial, ring, busy and congestion definitions) in
// gp->config_tones. Returns 0.
int parse_call_progress_tones(tone_config_set *set);

// The same from the texts: defs are the dial, ring, busy and congestion
// definitions that "auto" derives the windows from.
void parse_call_progress_texts(call_progress_tone_config *cp, const char *acp_detect, const char *acp_event,
                               const char *const defs[ACP_TONES]);

// Frees every set with its texts, and the list.
void free_tone_list(headtonelist *list);

// The tone set of a language code (case ignored); without one, the set of
// the default code (key country of tarn.tones); null, with a log line, when
// neither has a set.
tone_config_set *get_tone_config(const char *language_code);

// Sends the call-progress detection windows of lang's tone set (found as by
// get_tone_config) to the media processor as host-programmable country
// `index`, queued for the device without waiting (takes the next message
// number). -1, with a CRITICAL line and nothing sent, without a tone set.
int set_host_programmable_language_code(char *lang, int index);
