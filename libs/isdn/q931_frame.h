// Layer-3 frames between the ISDN library and the mISDN layer, as the message
// coders see them.
//
// TE frame: the device frame head {addr, prim, dinfo, len} (16 octets), the
// Q.931 info record (128 octets: message type, call reference and one slot
// per information element holding the element's offset from the start of the
// record), then the elements themselves (identifier, length, content).
//
// NT frame: the network library's head {prim, dinfo} (8 octets), then the
// message's record of element pointers (one pointer per element the message
// may carry, each pointing at the element's length octet, or at the octet
// itself for single-octet elements), then the elements. The record's layout
// depends on the message; its size is taken from the layout, so it fits
// whatever the pointer width.
//
// Every offset and pointer is checked against the frame before it is read.
#pragma once
#include <cstdint>

#include "misdn_msg.h"

// Message types (codeset 0) the library codes, plus the layer-3 time-out.
enum : uint8_t {
    Q931_MT_ALERTING = 0x01,
    Q931_MT_CALL_PROCEEDING = 0x02,
    Q931_MT_PROGRESS = 0x03,
    Q931_MT_SETUP = 0x05,
    Q931_MT_CONNECT = 0x07,
    Q931_MT_SETUP_ACKNOWLEDGE = 0x0D,
    Q931_MT_CONNECT_ACKNOWLEDGE = 0x0F,
    Q931_MT_USER_INFORMATION = 0x20,
    Q931_MT_SUSPEND_REJECT = 0x21,
    Q931_MT_RESUME_REJECT = 0x22,
    Q931_MT_HOLD = 0x24,
    Q931_MT_SUSPEND = 0x25,
    Q931_MT_RESUME = 0x26,
    Q931_MT_HOLD_ACKNOWLEDGE = 0x28,
    Q931_MT_SUSPEND_ACKNOWLEDGE = 0x2D,
    Q931_MT_RESUME_ACKNOWLEDGE = 0x2E,
    Q931_MT_HOLD_REJECT = 0x30,
    Q931_MT_RETRIEVE = 0x31,
    Q931_MT_RETRIEVE_ACKNOWLEDGE = 0x33,
    Q931_MT_RETRIEVE_REJECT = 0x37,
    Q931_MT_DISCONNECT = 0x45,
    Q931_MT_RESTART = 0x46,
    Q931_MT_RELEASE = 0x4D,
    Q931_MT_RELEASE_COMPLETE = 0x5A,
    Q931_MT_FACILITY = 0x62,
    Q931_MT_REGISTER = 0x64,
    Q931_MT_NOTIFY = 0x6E,
    Q931_MT_STATUS_ENQUIRY = 0x75,
    Q931_MT_INFORMATION = 0x7B,
    Q931_MT_STATUS = 0x7D,
    Q931_MT_L3_TIMEOUT = 0xFF
};

// Information element identifiers (codeset 0).
enum : uint8_t {
    Q931_IE_BEARER = 0x04,
    Q931_IE_CAUSE = 0x08,
    Q931_IE_CALL_ID = 0x10,
    Q931_IE_CALL_STATE = 0x14,
    Q931_IE_CHANNEL_ID = 0x18,
    Q931_IE_FACILITY = 0x1C,
    Q931_IE_PROGRESS = 0x1E,
    Q931_IE_NET_FAC = 0x20,
    Q931_IE_NOTIFY = 0x27,
    Q931_IE_DISPLAY = 0x28,
    Q931_IE_DATE = 0x29,
    Q931_IE_KEYPAD = 0x2C,
    Q931_IE_SIGNAL = 0x34,
    Q931_IE_CONNECT_PN = 0x4C,
    Q931_IE_CONNECT_SUB = 0x4D,
    Q931_IE_CALLING_PN = 0x6C,
    Q931_IE_CALLING_SUB = 0x6D,
    Q931_IE_CALLED_PN = 0x70,
    Q931_IE_CALLED_SUB = 0x71,
    Q931_IE_REDIR_NR = 0x74,
    Q931_IE_REDIRECTION_NR = 0x76,
    Q931_IE_TRANSIT_NET_SEL = 0x78,
    Q931_IE_RESTART_IND = 0x79,
    Q931_IE_LLC = 0x7C,
    Q931_IE_HLC = 0x7D,
    Q931_IE_USER_USER = 0x7E,
    Q931_IE_MORE_DATA = 0xA0,
    Q931_IE_COMPLETE = 0xA1
};

enum {
    mISDNUSER_HEAD_SIZE = 8,     // NT head {prim, dinfo}
    mISDN_FRAME_HEAD_SIZE = 16,  // TE head {addr, prim, dinfo, len}
    Q931_INFO_SIZE = 128,
    Q931_INFO_SLOTS = 30,
    Q931_INFO_EXT = 15,
    Q931_IE_REPEATED = 0x8000,   // slot flag: further occurrences in ext
    L3_MSG_ROOM_TE = 288,        // octets for elements after a TE info record
    L3_MSG_ROOM_NT = 280         // octets for elements after an NT record
};

// Primitive commands.
enum : uint32_t { L3_REQUEST = 0x80, L3_CONFIRM = 0x81, L3_INDICATION = 0x82, L3_RESPONSE = 0x83 };

struct q931_info_ext {
    uint8_t ie;        // identifier of a further occurrence
    uint8_t codeset;
    uint16_t off;      // its offset from the start of the record
};

struct q931_info {
    uint8_t type;      // message type
    uint8_t crlen;
    uint16_t cr;
    uint16_t ie[Q931_INFO_SLOTS];     // offset | Q931_IE_REPEATED, 0: absent
    q931_info_ext ext[Q931_INFO_EXT];
    uint16_t spare[2];
};
static_assert(sizeof(q931_info) == Q931_INFO_SIZE, "info record is 128 octets");

// Slot of an element in the info record, -1 for an element without one.
int q931_info_slot(uint8_t ie);

// Size of the NT record for a primitive (its message type; CONNECT with the
// response command is CONNECT ACKNOWLEDGE); 0 for a message without layout.
int nt_record_size(uint32_t prim);
// The answering terminal's ces in the NT record of a CONNECT (0 for any
// other frame); the setter is the network library's side.
int l3_frame_ces(const msg_t *msg);
void l3_frame_set_ces(msg_t *msg, int ces);

// New layer-3 message. NT: {prim, dinfo} and `size` zero octets (the record).
// TE: the frame head with prim and dinfo and a zeroed info record whose
// type is mt (size is not used). Out of memory after ten tries 300 ms apart
// ends the process with 119.
msg_t *create_l3msg(uint32_t prim, uint8_t mt, int dinfo, int size, int ntmode);

uint32_t l3_frame_prim(const msg_t *msg, int nt);
int l3_frame_dinfo(const msg_t *msg, int nt);
// The message type a frame carries (TE: the info record; NT: the primitive).
uint8_t l3_frame_mt(const msg_t *msg, int nt);
// The TE info record of a frame, null when the frame is too short for it.
q931_info *l3_frame_info(const msg_t *msg);

// Reserves an element at the frame's tail and records it: content length
// `len` (ignored for single-octet elements). Returns where the content goes
// (single-octet: the octet), or null when the frame has no room or the
// message has no place for the element; nothing is recorded then.
unsigned char *l3_ie_put(msg_t *msg, int nt, uint8_t ie, int len);
// Records an element that is already in place at the frame's tail (its
// identifier at `at`); -1 when the message has no place for it.
int l3_ie_record(msg_t *msg, int nt, uint8_t ie, unsigned char *at);
// The n-th occurrence (0 first) of an element: its length octet (single
// octet elements: the octet), or null when absent or lying outside the frame.
const unsigned char *l3_ie_get(const msg_t *msg, int nt, uint8_t ie, int n);
// True when the element occurs more than once (TE: the repeated mark).
int l3_ie_repeated(const msg_t *msg, int nt, uint8_t ie);

// A received frame made from a Q.931 message (protocol discriminator, call
// reference, message type, elements), in the shape of the mode: prim is
// the message's primitive with `cmd`, dinfo as given. Elements the message
// has no place for (NT) or that run past the end are left out. Null when
// the message head is unusable.
msg_t *l3_frame_from_wire(const uint8_t *wire, int len, int nt, uint32_t cmd, int dinfo);
// The Q.931 message of a frame: header with the call reference given, the
// elements in the order of the record (TE: ascending identifiers, further
// occurrences after the first). Returns its length, -1 when it does not fit.
int l3_frame_to_wire(const msg_t *msg, int nt, int crlen, int cr, int flag, uint8_t *out, int cap);
