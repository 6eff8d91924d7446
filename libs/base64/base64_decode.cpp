#include "base64.h"

#include <cstdint>

void base64_init_decodestate(base64_decodestate *state)
{
    state->step = 0;
    state->plainchar = 0;
}

int base64_decode_value(char c)
{
    unsigned char u = (unsigned char)c;
    if (u >= 'A' && u <= 'Z')
        return u - 'A';
    if (u >= 'a' && u <= 'z')
        return u - 'a' + 26;
    if (u >= '0' && u <= '9')
        return u - '0' + 52;
    if (u == '+')
        return 62;
    if (u == '/')
        return 63;
    if (u == '=')
        return -2;
    return -1;
}

// Decodes into at most cap bytes; returns the complete bytes written.
static size_t decode(const char *in, size_t length, char *out, size_t cap,
                     base64_decodestate *state)
{
    size_t n = 0;
    unsigned char cur = (unsigned char)state->plainchar;
    for (size_t i = 0; i < length; i++) {
        int v = base64_decode_value(in[i]);
        if (v < 0)
            continue;
        unsigned char complete;
        switch (state->step) {
        case 0:
            cur = (unsigned char)(v << 2);
            state->step = 1;
            continue;
        case 1:
            complete = (unsigned char)(cur | v >> 4);
            cur = (unsigned char)(v << 4);
            state->step = 2;
            break;
        case 2:
            complete = (unsigned char)(cur | v >> 2);
            cur = (unsigned char)(v << 6);
            state->step = 3;
            break;
        default:
            complete = (unsigned char)(cur | v);
            cur = 0;
            state->step = 0;
            break;
        }
        if (n == cap) {
            // No room for this byte: stop here, as if the input had ended.
            state->plainchar = (char)cur;
            return n;
        }
        out[n++] = (char)complete;
    }
    state->plainchar = (char)cur;
    if (state->step != 0 && n < cap)
        out[n] = (char)cur;
    return n;
}

int base64_decode_block(const char *in, int length, char *out, base64_decodestate *state)
{
    if (!in || !out || !state || length <= 0)
        return 0;
    return (int)decode(in, (size_t)length, out, SIZE_MAX, state);
}

int base64_to_plaintext(const char *in, char *out, size_t size)
{
    if (!in || !out)
        return 0;
    base64_decodestate state;
    base64_init_decodestate(&state);
    size_t len = 0;
    while (in[len])
        len++;
    return (int)decode(in, len, out, size, &state);
}
