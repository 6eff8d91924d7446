// Inside the call-configuration code: one descriptor per option, which
// drives setting by key, the overlay and the printout.
#pragma once
#include <pthread.h>

#include <cstddef>
#include <cstdint>

#include "call_configuration.h"
#include "log.h"

// Whose messages these are: a call ("CID:"), a registration ("RID:") or
// nobody (no tag).
struct cc_tag {
    const call_object *co = nullptr;
    const reg_object *ro = nullptr;
    bool tagged = false;
};
const char *cc_tag_text(cc_tag t);

inline bool cc_log_on(int level)
{
    return log_levels_debug_enabled && log_levels_debug[TARN] >= level;
}
// The level is tested before the tag is formatted.
#define CC_LOG(level, tag, ...)                                       \
    do {                                                              \
        if (cc_log_on(level))                                         \
            LOGD(TARN, (level), cc_tag_text(tag), __VA_ARGS__);       \
    } while (0)

enum cc_kind : uint8_t {
    CCK_FLAG,   // the lowest bit of the decimal value
    CCK_NUMBER, // the decimal value, cut to the field
    CCK_YES,    // "yes" (any case) is 1, else the decimal value
    CCK_CLAMP,  // the decimal value held to lo..hi
    CCK_WORD,   // a word table or a rule of its own
    CCK_TEXT,   // copied, cut to the capacity less one
    CCK_STRUCT, // a parser of its own
};

// A word and its stored code; a table ends with {nullptr, code of any other
// word}. CC_WORD_KEEP as that code leaves the value as it is.
struct cc_word {
    const char *word;
    int32_t code;
};
enum : int32_t { CC_WORD_KEEP = INT32_MIN };
int32_t cc_word_code(const cc_word *table, const char *text);

extern const cc_word words_s2d_prefix[];

struct cc_descriptor {
    int64_t (*get)(const call_configuration *) = nullptr;
    void (*put)(call_configuration *, int64_t) = nullptr;
    bool (*is_set)(const call_configuration *) = nullptr;
    void (*mark)(call_configuration *) = nullptr;
    uint32_t offset = 0; // texts and structured values: their bytes
    uint32_t size = 0;
    cc_kind kind = CCK_NUMBER;
    uint16_t width = 0; // bits of a number, bytes of a text
    int32_t lo = 0, hi = 0; // CCK_CLAMP
    const cc_word *words = nullptr;
    // A rule of its own; false leaves the set flag as it is.
    bool (*parse)(call_configuration *, char *value, cc_tag tag) = nullptr;
    const char *(*word)(int code) = nullptr; // the printout's word formatter
    void (*format)(const call_configuration *, char *buf, size_t size) = nullptr;
    // Overlay beyond the generic copy of the value or the bytes.
    void (*copy)(call_configuration *target, const call_configuration *source) = nullptr;
    bool keep_quotes = false; // quotation marks stay in the value
};

// By identifier; the three identifiers without an option row have one too.
extern const cc_descriptor cc_descriptors[CC_ID_COUNT];

// Index of the row with that key (any case), or -1.
int cc_find_option(const char *key);
// The value of one option as the printout shows it.
void cc_value_text(const call_configuration *cc, const cc_descriptor &d, char *buf, size_t size);
// Applies an option string for a call, a registration or nobody.
void cc_apply_option_string(call_configuration *cc, const char *options, cc_tag tag);
void cc_set_value_tagged(call_configuration *cc, const char *key, char *value, cc_tag tag);
struct call_configuration_pool {
    call_configuration *call_configurations[CC_POOL_SIZE]; // null: free
    char *call_configuration_string[CC_POOL_SIZE];
    int32_t references[CC_POOL_SIZE]; // holders of each record
    int32_t cconf_max_val;            // slots from here up are free
    pthread_mutex_t lock;
};

