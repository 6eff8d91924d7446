// Q.931 messages on the wire: the header (protocol discriminator, call
// reference, message type) and the walk over the information elements.
// Parsing checks every length against the message end; an element that runs
// past the end ends the walk (the elements before it are kept).
#pragma once
#include <cstdint>

enum {
    Q931_PD = 0x08,
    Q931_MAX_MSG = 260,   // what one LAPD information field carries
    Q931_MAX_IES = 64,
};

// Message types (codeset 0).
enum q931_mt : uint8_t {
    MT_ALERTING = 0x01,
    MT_CALL_PROCEEDING = 0x02,
    MT_PROGRESS = 0x03,
    MT_SETUP = 0x05,
    MT_CONNECT = 0x07,
    MT_SETUP_ACKNOWLEDGE = 0x0D,
    MT_CONNECT_ACKNOWLEDGE = 0x0F,
    MT_USER_INFORMATION = 0x20,
    MT_SUSPEND_REJECT = 0x21,
    MT_RESUME_REJECT = 0x22,
    MT_HOLD = 0x24,
    MT_SUSPEND = 0x25,
    MT_RESUME = 0x26,
    MT_HOLD_ACKNOWLEDGE = 0x28,
    MT_SUSPEND_ACKNOWLEDGE = 0x2D,
    MT_RESUME_ACKNOWLEDGE = 0x2E,
    MT_HOLD_REJECT = 0x30,
    MT_RETRIEVE = 0x31,
    MT_RETRIEVE_ACKNOWLEDGE = 0x33,
    MT_RETRIEVE_REJECT = 0x37,
    MT_DISCONNECT = 0x45,
    MT_RESTART = 0x46,
    MT_RELEASE = 0x4D,
    MT_RESTART_ACKNOWLEDGE = 0x4E,
    MT_RELEASE_COMPLETE = 0x5A,
    MT_FACILITY = 0x62,
    MT_REGISTER = 0x64,
    MT_NOTIFY = 0x6E,
    MT_STATUS_ENQUIRY = 0x75,
    MT_INFORMATION = 0x7B,
    MT_STATUS = 0x7D,
};

// Information element identifiers (codeset 0).
enum q931_ie_id : uint8_t {
    IE_SEGMENTED = 0x00,
    IE_BEARER = 0x04,
    IE_CAUSE = 0x08,
    IE_CALL_ID = 0x10,
    IE_CALL_STATE = 0x14,
    IE_CHANNEL_ID = 0x18,
    IE_FACILITY = 0x1C,
    IE_PROGRESS = 0x1E,
    IE_NET_FAC = 0x20,
    IE_NOTIFY = 0x27,
    IE_DISPLAY = 0x28,
    IE_DATE = 0x29,
    IE_KEYPAD = 0x2C,
    IE_SIGNAL = 0x34,
    IE_CONNECT_PN = 0x4C,
    IE_CONNECT_SUB = 0x4D,
    IE_CALLING_PN = 0x6C,
    IE_CALLING_SUB = 0x6D,
    IE_CALLED_PN = 0x70,
    IE_CALLED_SUB = 0x71,
    IE_REDIR_NR = 0x74,
    IE_TRANSIT_NET_SEL = 0x78,
    IE_RESTART_IND = 0x79,
    IE_LLC = 0x7C,
    IE_HLC = 0x7D,
    IE_USER_USER = 0x7E,
    IE_MORE_DATA = 0xA0,
    IE_COMPLETE = 0xA1,
};

// The elements the application's message records (q931_info.h,
// isdn_net.h) have a field for, in the order they are sent (Q.931 4.5.1:
// ascending identifiers, the single-octet Sending complete first):
// X(identifier, field name).
#define Q931_RECORD_IES(X)                                                               \
    X(IE_COMPLETE, sending_complete) X(IE_BEARER, bearer_capability) X(IE_CAUSE, cause) \
    X(IE_CALL_STATE, call_state) X(IE_CHANNEL_ID, channel_id) X(IE_FACILITY, facility)  \
    X(IE_PROGRESS, progress) X(IE_NOTIFY, notify) X(IE_DISPLAY, display) X(IE_DATE, date) \
    X(IE_KEYPAD, keypad) X(IE_SIGNAL, signal) X(IE_CONNECT_PN, connected_nr)              \
    X(IE_CONNECT_SUB, connected_sub) X(IE_CALLING_PN, calling_nr)                         \
    X(IE_CALLING_SUB, calling_sub) X(IE_CALLED_PN, called_nr) X(IE_CALLED_SUB, called_sub) \
    X(IE_REDIR_NR, redirect_nr) X(IE_RESTART_IND, restart_ind) X(IE_LLC, llc) X(IE_HLC, hlc) \
    X(IE_USER_USER, useruser)

struct q931_ie {
    uint8_t id;       // identifier (single-octet elements: the whole octet)
    uint8_t codeset;
    uint16_t off;     // offset of the length octet (single-octet: of the octet)
    uint16_t len;     // content octets (0 for single-octet elements)
    bool single;
};

struct q931_msg {
    const uint8_t *buf;
    int len;
    int crlen;        // 0 (dummy), 1 or 2
    int cr;           // call reference value without the flag
    int flag;         // 1: sent to the side that chose the call reference
    uint8_t mt;
    int nies;
    q931_ie ies[Q931_MAX_IES];
    bool truncated;   // an element ran past the end; the rest was dropped
};

// Parses a message; 0, or -1 with *why when the header is unusable.
// m->truncated reports an element that was cut off (the message is still usable).
int q931_parse(const uint8_t *buf, int len, q931_msg *m, const char **why);
// The first element with this identifier in codeset 0, or null.
const q931_ie *q931_find(const q931_msg *m, uint8_t id);

// Writes a header; returns its length (3..5).
int q931_put_header(uint8_t *out, int crlen, int cr, int flag, uint8_t mt);
// Appends an element (identifier, length, content) at out+pos within cap;
// returns the new position, or -1 when it does not fit.
int q931_put_ie(uint8_t *out, int pos, int cap, uint8_t id, const uint8_t *content, int len);

const char *q931_mt_name(uint8_t mt);
// Cause value of a message's Cause element, -1 when it has none.
int q931_cause_of(const q931_msg *m);
