#include "base64.h"

#include <cstdint>

static const char alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Output with a capacity: characters beyond it are dropped, and n counts
// only what was written.
struct sink {
    char *out;
    size_t cap;
    size_t n;
};

static void put(sink *s, char c)
{
    if (s->n < s->cap)
        s->out[s->n++] = c;
}

void base64_init_encodestate(base64_encodestate *state)
{
    state->step = 0;
    state->result = 0;
    state->stepcount = 0;
}

char base64_encode_value(int value)
{
    if (value < 0 || value > 63)
        return '=';
    return alphabet[value];
}

static void encode(const char *in, int length, sink *s, base64_encodestate *state)
{
    for (int i = 0; i < length; i++) {
        unsigned char b = (unsigned char)in[i];
        unsigned char kept = (unsigned char)state->result;
        switch (state->step) {
        case 0:
            put(s, base64_encode_value(b >> 2));
            state->result = (char)((b & 3) << 4);
            state->step = 1;
            break;
        case 1:
            put(s, base64_encode_value(kept | b >> 4));
            state->result = (char)((b & 15) << 2);
            state->step = 2;
            break;
        default:
            put(s, base64_encode_value(kept | b >> 6));
            put(s, base64_encode_value(b & 63));
            state->result = 0;
            state->step = 0;
            if (++state->stepcount >= 2500)
                state->stepcount = 0;
            break;
        }
    }
}

static void encode_end(sink *s, base64_encodestate *state)
{
    if (state->step == 1) {
        put(s, base64_encode_value((unsigned char)state->result));
        put(s, '=');
        put(s, '=');
    } else if (state->step == 2) {
        put(s, base64_encode_value((unsigned char)state->result));
        put(s, '=');
    }
    state->step = 0;
    state->result = 0;
}

int base64_encode_block(const char *in, int length, char *out, base64_encodestate *state)
{
    if (!in || !out || !state || length <= 0)
        return 0;
    sink s = {out, SIZE_MAX, 0};
    encode(in, length, &s, state);
    return (int)s.n;
}

int base64_encode_blockend(char *out, base64_encodestate *state)
{
    if (!out || !state)
        return 0;
    sink s = {out, SIZE_MAX, 0};
    encode_end(&s, state);
    return (int)s.n;
}

int plaintext_to_base64(const char *in, int length, char *out, size_t size)
{
    if (!out || size == 0)
        return 0;
    sink s = {out, size - 1, 0};
    base64_encodestate state;
    base64_init_encodestate(&state);
    if (in && length > 0)
        encode(in, length, &s, &state);
    encode_end(&s, &state);
    out[s.n] = '\0';
    return (int)s.n;
}
