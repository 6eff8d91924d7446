// Layer-3 frames between the ISDN library and the mISDN layer, as the message
// coders see them.
//
// TE frame: the device frame head {addr, prim, dinfo, len} (16 octets), the
// Q.931 info record Q931_info_t (128 octets), then the elements as on the
// wire; the record's slots hold the offset of each element's length octet.
//
// NT frame: the network library's head {prim, dinfo} (8 octets), the record
// of element pointers net_msg_ies_t, then the elements. The record is the
// same for every message and is sized by the compiler, so it fits whatever
// the pointer width.
//
// Every offset and pointer of a received frame is checked against the frame
// before it is read.
#pragma once
#include <cstdint>

#include "isdn_net.h"
#include "misdn_msg.h"
#include "q931_info.h"
#include "q931_wire.h"

inline constexpr int mISDNUSER_HEAD_SIZE = 8;     // NT head {prim, dinfo}
inline constexpr int mISDN_FRAME_HEAD_SIZE = 16;  // TE head {addr, prim, dinfo, len}
inline constexpr int L3_MSG_ROOM_TE = 288;        // octets for elements after a TE info record
inline constexpr int L3_MSG_ROOM_NT = 280;        // octets for elements after an NT record
inline constexpr int Q931_INFO_SIZE = (int)sizeof(Q931_info_t);

// Primitive commands.
enum : uint32_t { L3_REQUEST = 0x80, L3_CONFIRM = 0x81, L3_INDICATION = 0x82, L3_RESPONSE = 0x83 };

// Size of the NT element record of every message.
inline constexpr int NT_RECORD_SIZE = (int)sizeof(net_msg_ies_t);

// New layer-3 message. NT: {prim, dinfo} and `size` zero octets (the
// record). TE: the frame head with prim and dinfo and a zeroed info record
// whose type is mt (size is not used). Out of memory after ten tries 300 ms
// apart ends the process with 119.
msg_t *create_l3msg(uint32_t prim, uint8_t mt, int dinfo, int size, int ntmode);

uint32_t l3_frame_prim(const msg_t *msg, int nt);
int l3_frame_dinfo(const msg_t *msg, int nt);
// The message type a frame carries (TE: the info record; NT: the primitive).
uint8_t l3_frame_mt(const msg_t *msg, int nt);
// The answering terminal's ces of an NT frame (0 for a TE frame).
int l3_frame_ces(const msg_t *msg, int nt);
void l3_frame_set_ces(msg_t *msg, int nt, int ces);

// Appends an element (content of len octets; single-octet elements take
// none) at the frame's tail and records it in the frame's record. Returns
// where its content lies (single-octet: the octet), or null when the frame
// has no room or the record no place left; nothing is added then.
unsigned char *l3_ie_add(msg_t *msg, int nt, uint8_t ie, const unsigned char *content, int len);
// The n-th occurrence (0 first) of an element: its length octet (single
// octet elements: the octet), or null when absent or lying outside the frame.
const unsigned char *l3_ie_get(const msg_t *msg, int nt, uint8_t ie, int n);
// True when the element occurs more than once (TE: the repeated mark).
int l3_ie_repeated(const msg_t *msg, int nt, uint8_t ie);
