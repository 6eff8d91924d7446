#include "hash_functions.h"

#include <cctype>
#include <strings.h>

unsigned modolo_hash(hash_key key, unsigned size)
{
    if (size == 0)
        return 0;
    return (uint32_t)key.i % size;
}

// The accumulator is a signed 32-bit number whose right shifts are
// arithmetic; additions and left shifts wrap, so they are done unsigned.
static uint32_t sar(uint32_t h, int n)
{
    return (uint32_t)((int32_t)h >> n);
}

unsigned joaat_hash(hash_key key, unsigned size)
{
    if (size == 0 || !key.s)
        return 0;
    uint32_t h = 0;
    for (const unsigned char *p = (const unsigned char *)key.s; *p; p++) {
        // Case is folded so that keys equal by eq_str land in the same chain.
        h += (unsigned char)tolower(*p);
        h += h << 10;
        h ^= sar(h, 6);
    }
    h += h << 3;
    h ^= sar(h, 11);
    h += h << 15;
    return h % size;
}

int eq_int(hash_key a, hash_key b)
{
    return a.i == b.i;
}

int eq_str(hash_key a, hash_key b)
{
    if (!a.s || !b.s)
        return 0;
    return strcasecmp(a.s, b.s) == 0;
}
