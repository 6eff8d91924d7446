// Hash and equality functions for the fixed-size key tables: integer keys
// (port numbers) and text keys compared without regard to case.
#pragma once
#include <cstdint>

// One key of a table: an integer or a NUL-terminated text, as the table's
// functions expect. Text keys are not copied by the table.
union hash_key {
    int32_t i;
    const char *s;
};

inline hash_key hash_key_int(int32_t i)
{
    hash_key k;
    k.i = i;
    return k;
}

inline hash_key hash_key_str(const char *s)
{
    hash_key k;
    k.s = s;
    return k;
}

typedef unsigned (*hash_func_t)(hash_key key, unsigned size);
typedef int (*hash_eq_t)(hash_key a, hash_key b);

// The integer taken as an unsigned 32-bit number, modulo size.
unsigned modolo_hash(hash_key key, unsigned size);
// Jenkins one-at-a-time over the text's bytes folded to lower case, modulo
// size (0 for a null text); texts equal by eq_str hash alike.
unsigned joaat_hash(hash_key key, unsigned size);
// 1 when the integers are equal, else 0.
int eq_int(hash_key a, hash_key b);
// 1 when both texts are equal ignoring letter case, else 0 (null equals nothing).
int eq_str(hash_key a, hash_key b);
