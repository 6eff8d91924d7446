// Fixed-size key table: at most `_size` keys (512 in every use), no resizing.
// Each hash index heads a chain of entries linked through `_next`; entries
// come from one fixed array, so a table never holds more than `_size` keys
// and removing a key never disturbs the chains of the others.
#pragma once
#include <cstdint>

#include "hash_functions.h"

enum { CM_HASH_SIZE = 512 };

struct cm_hash_entry_t {
    unsigned char _used; // 1 while the entry holds a key
    int _next;           // next entry of the chain (or of the free list), -1 = end
    hash_key _key;
    intptr_t _val;       // row number, or an object pointer
};

struct cm_hash_t {
    cm_hash_entry_t *_entries; // _size entries
    int *_heads;               // per hash index the first entry of its chain, -1 = none
    int _free;                 // first free entry, -1 when the table is full
    int _size;
    int _length;               // entries in use
    hash_func_t _hash_f;
    hash_eq_t _eq_f;
};

// Sets up an empty table of `size` entries; 0, or -1 (nothing allocated).
int cm_hash_init(cm_hash_t *h, int size, hash_func_t hash_f, hash_eq_t eq_f);
// Frees the arrays; the record itself belongs to the caller.
void cm_hash_free(cm_hash_t *h);

// 0 when stored; -1 when the key is already there or the table is full.
int cm_hash_insert(cm_hash_t *h, hash_key key, intptr_t val);
// 0 with the value in *val (when val is set), -1 when the key is absent.
int cm_hash_lookup(const cm_hash_t *h, hash_key key, intptr_t *val);
// 0 when the key was removed, -1 when it was absent.
int cm_hash_remove(cm_hash_t *h, hash_key key);
// 1 when no further key fits.
int cm_hash_full(const cm_hash_t *h);
