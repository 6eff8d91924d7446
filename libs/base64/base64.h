// Streaming Base64 (RFC 4648 alphabet, '=' fill, no line breaks) with
// one-shot helpers. The block functions carry an open group in their state
// from one call to the next; the one-shot functions never write more than
// the output size they are given.
#pragma once
#include <cstddef>

struct base64_encodestate {
    int step;      // 0..2 bytes of the current 3-byte group consumed
    char result;   // pending 6-bit value for the next character
    int stepcount; // completed groups modulo 2500 (no effect on the output)
};

struct base64_decodestate {
    int step;       // 0..3 position within the current 4-character group
    char plainchar; // the partly assembled output byte
};

void base64_init_encodestate(base64_encodestate *state);
// Encodes length bytes, continuing the state's open group; writes the
// characters that are complete and returns their number (no terminator).
// out must hold 4 * ceil((length + 2) / 3) characters.
int base64_encode_block(const char *in, int length, char *out, base64_encodestate *state);
// Closes the open group: 3 characters ("x==") for one pending byte, 2 ("x=")
// for two, else none; returns the count.
int base64_encode_blockend(char *out, base64_encodestate *state);
// The alphabet character for 0..63, '=' for anything else.
char base64_encode_value(int value);
// One-shot: encodes length bytes and terminates the text, writing at most
// size bytes. Returns the number of characters written before the NUL: the
// whole encoding (4 * ceil(length / 3)) when size is above it, else the
// size - 1 characters that fit.
int plaintext_to_base64(const char *in, int length, char *out, size_t size);

void base64_init_decodestate(base64_decodestate *state);
// The 6-bit value of an alphabet character, -2 for '=', -1 for any other.
int base64_decode_value(char c);
// Decodes length characters, continuing the state's open group; characters
// outside the alphabet are skipped. Returns the number of complete bytes
// written; the partly assembled next byte is kept in the state and also
// stored after them, so out must hold 3 * ceil(length / 4) + 1 bytes.
int base64_decode_block(const char *in, int length, char *out, base64_decodestate *state);
// One-shot: decodes the NUL-terminated text with a fresh state, writing at
// most size bytes; returns the number of complete bytes written. The result
// is not terminated; a partly assembled byte is stored after the data only
// when it fits.
int base64_to_plaintext(const char *in, char *out, size_t size);
