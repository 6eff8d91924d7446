// The Q.931 info record of TE-mode frames between the application and the
// device's layer 3.
//
// A layer-3 frame's data is one Q931_info_t (128 octets) followed by the
// information elements, each as on the wire (identifier, length, content;
// single-octet elements as their one octet). A slot of the record holds the
// offset, counted from the start of the record, of its element's length
// octet (single-octet elements: of the octet itself); 0 means absent. An
// element that occurs more than once has `repeated` set in its slot and
// `ridx` = 1 + the index of the next occurrence in `ext`; each ext entry
// names its element and links on the same way (ridx 0 ends the chain).
// Elements the record has no slot for are listed in ext with ridx 0.
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
    uint8_t type;     // message type
    uint8_t crlen;
    uint16_t cr;      // call reference value with the flag in bit 15
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

// The slot of an element, null when the record has none for it.
ie_info_t *q931_info_slot(Q931_info_t *qi, uint8_t ie);
const ie_info_t *q931_info_slot(const Q931_info_t *qi, uint8_t ie);

// Writes the record and the elements of a received message into out;
// returns the octets written, -1 when cap is too small.
int q931_info_from_msg(const q931_msg *m, uint8_t *out, int cap);

// Appends an element after the record and elements in data (len octets
// from the record start, at least the record) and records it; returns the
// new length, -1 when it does not fit cap or no ext entry is left for a
// repetition.
int q931_info_add_ie(uint8_t *data, int len, int cap, uint8_t ie, const uint8_t *content, int clen);

// Reads a record and its elements (len octets from the record start) and
// writes the elements in Q.931 order into out; returns their length, or -1
// with *why when the record does not fit. Slots that point outside the data
// are skipped with a log line.
int q931_info_to_ies(const uint8_t *data, int len, uint8_t *out, int cap, const char **why);
