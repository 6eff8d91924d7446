// Stand-in for the record of platform/misdn's q931_info.h (the Q.931 info
// record of TE-mode frames), with the same names and layout, used only while
// that layer is not in the tree.
//
// A slot holds the offset, counted from the start of the record, of its
// element's length octet (single-octet elements: of the octet); 0 absent.
// Further occurrences: `repeated` set and `ridx` = 1 + index into ext, each
// ext entry chaining on the same way; elements without a slot sit in ext
// with ridx 0.
#pragma once
#include <cstdint>

#include "q931_wire.h"

typedef struct q931_ie_slot {
    uint16_t off;
    uint8_t repeated;
    uint8_t ridx;
} ie_info_t;

typedef struct q931_ie_ext {
    uint8_t ie;
    uint8_t ridx;
    uint16_t off;
} ie_info_ext_t;

enum { Q931_INFO_EXT = 8 };

typedef struct q931_info {
    uint8_t type;
    uint8_t crlen;
    uint16_t cr;
    ie_info_t sending_complete;
    ie_info_t bearer_capability;
    ie_info_t cause;
    ie_info_t call_state;
    ie_info_t channel_id;
    ie_info_t facility;
    ie_info_t progress;
    ie_info_t notify;
    ie_info_t display;
    ie_info_t date;
    ie_info_t keypad;
    ie_info_t signal;
    ie_info_t connected_nr;
    ie_info_t connected_sub;
    ie_info_t calling_nr;
    ie_info_t calling_sub;
    ie_info_t called_nr;
    ie_info_t called_sub;
    ie_info_t redirect_nr;
    ie_info_t restart_ind;
    ie_info_t llc;
    ie_info_t hlc;
    ie_info_t useruser;
    ie_info_ext_t ext[Q931_INFO_EXT];
} Q931_info_t;

static_assert(sizeof(Q931_info_t) == 128, "the info record is 128 octets");
enum { Q931_INFO_LEN = sizeof(Q931_info_t) };
