// Helpers for writing layout tables; only the table files include this.
#pragma once
#include "csm_layout.h"

// Row helpers: the tables read like the layout descriptions.
//   AT(8, 3)  byte 8 bit 3 (a field of `bits` bits running upwards, low bits first)
//   LE(8)     bytes 8.. low byte first
//   BE(8)     bytes 8.. high byte first
//   PIECES(P(byte, bit, value bit, count), ...) a value split over the frame
#define AT(b, s) {{(b), (s), 0, 0, 0}}
#define LE(b) AT(b, 0)
#define BE(b) {{(b), 0, 0, 0, 1}}
#define P(b, s, vb, n) {(b), (s), (vb), (n), 0}
#define PIECES(...) {__VA_ARGS__}
// A field of the record type T in scope: its name and accessors.
#define FIELD(f)                                                              \
    #f, [](const void *r) -> uint32_t { return static_cast<const T *>(r)->f; }, \
        [](void *r, uint32_t v) { static_cast<T *>(r)->f = v; }
#define ROWS(a) (a), (sizeof(a) / sizeof((a)[0]))
