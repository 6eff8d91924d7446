// LAPD (ITU-T Q.921) frame coding: address and control field of one frame,
// and the TEI management messages carried in UI frames on SAPI 63.
// Decoding checks every length against the frame's end and refuses frames
// whose control field is unknown or not allowed with the given length.
#pragma once
#include <cstdint>

enum lapd_type {
    LAPD_I = 0,
    LAPD_RR,
    LAPD_RNR,
    LAPD_REJ,
    LAPD_SABME,
    LAPD_DM,
    LAPD_UI,
    LAPD_DISC,
    LAPD_UA,
    LAPD_FRMR,
    LAPD_XID,
};

enum {
    LAPD_SAPI_CALLCTL = 0,
    LAPD_SAPI_TEIMGT = 63,
    LAPD_TEI_GROUP = 127,
    LAPD_N201 = 260,     // longest information field
    LAPD_MAX_FRAME = 4 + LAPD_N201,
};

struct lapd_frame {
    int sapi;
    int cr;        // the C/R bit as received
    int tei;
    lapd_type type;
    int pf;        // poll/final bit
    int ns;        // I frames
    int nr;        // I and S frames
    const uint8_t *info;
    int info_len;
};

// Decodes one frame; 0, or -1 with *why naming the fault.
int lapd_decode(const uint8_t *buf, int len, lapd_frame *f, const char **why);

// Encodes a frame without information into out (at least 4 octets); returns
// its length. ns/nr are used where the type has them.
int lapd_encode(uint8_t *out, int sapi, int cr, int tei, lapd_type type, int pf, int ns, int nr);

// Name of a frame type ("I", "RR", "SABME" ...).
const char *lapd_type_name(lapd_type t);

// TEI management (Q.921 5.3), in the information field of a UI frame.
enum tei_msg_type {
    TEI_ID_REQUEST = 1,
    TEI_ID_ASSIGNED = 2,
    TEI_ID_DENIED = 3,
    TEI_ID_CHECK_REQUEST = 4,
    TEI_ID_CHECK_RESPONSE = 5,
    TEI_ID_REMOVE = 6,
    TEI_ID_VERIFY = 7,
};
enum { TEI_MEI = 0x0F, TEI_MSG_LEN = 5 };

struct tei_msg {
    int ri;
    int type;
    int ai;
};

// Decodes a TEI management message; 0, or -1 with *why.
int tei_msg_decode(const uint8_t *info, int len, tei_msg *m, const char **why);
// Encodes one into out (5 octets); returns 5.
int tei_msg_encode(uint8_t *out, int ri, int type, int ai);
