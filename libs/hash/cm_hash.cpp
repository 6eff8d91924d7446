#include "cm_hash.h"

#include <cstdlib>

int cm_hash_init(cm_hash_t *h, int size, hash_func_t hash_f, hash_eq_t eq_f)
{
    if (!h || size <= 0 || !hash_f || !eq_f)
        return -1;
    h->_entries = (cm_hash_entry_t *)calloc((size_t)size, sizeof(cm_hash_entry_t));
    h->_heads = (int *)malloc((size_t)size * sizeof(int));
    if (!h->_entries || !h->_heads) {
        free(h->_entries);
        free(h->_heads);
        h->_entries = nullptr;
        h->_heads = nullptr;
        return -1;
    }
    for (int i = 0; i < size; i++) {
        h->_heads[i] = -1;
        h->_entries[i]._next = i + 1 < size ? i + 1 : -1;
    }
    h->_free = 0;
    h->_size = size;
    h->_length = 0;
    h->_hash_f = hash_f;
    h->_eq_f = eq_f;
    return 0;
}

void cm_hash_free(cm_hash_t *h)
{
    if (!h)
        return;
    free(h->_entries);
    free(h->_heads);
    h->_entries = nullptr;
    h->_heads = nullptr;
    h->_free = -1;
    h->_length = 0;
}

static int bucket_of(const cm_hash_t *h, hash_key key)
{
    return (int)(h->_hash_f(key, (unsigned)h->_size) % (unsigned)h->_size);
}

// Index of the entry holding key, and of its predecessor in the chain.
static int find(const cm_hash_t *h, hash_key key, int *prev)
{
    int p = -1;
    for (int i = h->_heads[bucket_of(h, key)]; i >= 0; i = h->_entries[i]._next) {
        if (h->_eq_f(h->_entries[i]._key, key)) {
            if (prev)
                *prev = p;
            return i;
        }
        p = i;
    }
    return -1;
}

int cm_hash_insert(cm_hash_t *h, hash_key key, intptr_t val)
{
    if (!h || !h->_entries)
        return -1;
    if (find(h, key, nullptr) >= 0)
        return -1;
    if (h->_free < 0)
        return -1;
    int e = h->_free;
    cm_hash_entry_t *en = &h->_entries[e];
    h->_free = en->_next;
    int b = bucket_of(h, key);
    en->_used = 1;
    en->_key = key;
    en->_val = val;
    en->_next = h->_heads[b];
    h->_heads[b] = e;
    h->_length++;
    return 0;
}

int cm_hash_lookup(const cm_hash_t *h, hash_key key, intptr_t *val)
{
    if (!h || !h->_entries)
        return -1;
    int i = find(h, key, nullptr);
    if (i < 0)
        return -1;
    if (val)
        *val = h->_entries[i]._val;
    return 0;
}

int cm_hash_remove(cm_hash_t *h, hash_key key)
{
    if (!h || !h->_entries)
        return -1;
    int prev = -1;
    int i = find(h, key, &prev);
    if (i < 0)
        return -1;
    cm_hash_entry_t *en = &h->_entries[i];
    if (prev >= 0)
        h->_entries[prev]._next = en->_next;
    else
        h->_heads[bucket_of(h, key)] = en->_next;
    en->_used = 0;
    en->_key = hash_key_int(0);
    en->_val = 0;
    en->_next = h->_free;
    h->_free = i;
    h->_length--;
    return 0;
}

int cm_hash_full(const cm_hash_t *h)
{
    return !h || !h->_entries || h->_free < 0;
}
