// Lookups: values by section and key index, keyed rows by key or name, and
// walks over the keys and row names. Every call holds the manager's lock
// and hands out copies.
#include <algorithm>
#include <functional>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "confman.h"

namespace {

// Holds the manager's lock for one lookup.
struct locked {
    cm *c;
    explicit locked(cm *m) : c(m) { pthread_mutex_lock(&c->lock); }
    ~locked() { pthread_mutex_unlock(&c->lock); }
    locked(const locked &) = delete;
    locked &operator=(const locked &) = delete;
};

bool section_ok(const cm *c, int sec)
{
    return c->state == CM_LOADED && sec >= 0 && sec < c->num_secs;
}

bool indexes_ok(const cm *c, int sec, int dir)
{
    return section_ok(c, sec) && dir >= 0 && dir < c->secs[sec].num_directives;
}

// The row's value, or row 0's when the row has none; copied whole or not at all.
int copy_value(const cm *c, int sec, int row, int dir, char *buf, size_t size)
{
    char **const *rows = c->vals[sec].rows;
    const char *v = rows[row][dir] ? rows[row][dir] : rows[0][dir];
    size_t len = v ? strlen(v) : 0;
    if (!v || len + 1 > size) {
        buf[0] = '\0';
        return -1;
    }
    memcpy(buf, v, len + 1);
    return 0;
}

// Row of a key in the section's key table, or -1.
int row_of_key(const cm *c, int sec, hash_key key, ktype type)
{
    if (c->secs[sec].key_type != type || !c->hashes[sec])
        return -1;
    intptr_t row;
    return cm_hash_lookup(c->hashes[sec], key, &row) == 0 ? (int)row : -1;
}

int get_keyed(cm *c, char *buf, size_t size, int sec, int dir, hash_key key, ktype type)
{
    if (!c || !buf || size == 0)
        return -1;
    locked l(c);
    if (!indexes_ok(c, sec, dir))
        return -1;
    int row = 0;
    if (c->secs[sec].key_type != KTYPE_NONE) {
        row = row_of_key(c, sec, key, type);
        if (row < 0)
            return -1;
    }
    return copy_value(c, sec, row, dir, buf, size);
}

int copy_text(const char *text, char *buf, size_t size)
{
    size_t len = strlen(text);
    if (len + 1 > size)
        return -1;
    memcpy(buf, text, len + 1);
    return 1;
}

// Position of the key after prev (0 for no prev); -1 when prev is no key.
template <typename T, typename Less>
int next_position(const T *keys, int count, bool has_prev, T prev, Less less)
{
    if (!has_prev)
        return 0;
    const T *p = std::lower_bound(keys, keys + count, prev, less);
    if (p == keys + count || less(prev, *p))
        return -1;
    return (int)(p - keys) + 1;
}

bool text_less(const char *a, const char *b)
{
    return strcasecmp(a, b) < 0;
}

int next_int(cm *c, int sec, int prev, int *next, bool spin)
{
    if (!c || !next)
        return -1;
    locked l(c);
    if (!section_ok(c, sec) || c->secs[sec].key_type != KTYPE_INTEGER)
        return -1;
    const cm_key_array_t *ka = &c->key_arrays[sec];
    if (ka->count == 0)
        return 0;
    int pos = next_position(ka->ints, ka->count, prev >= 0, prev, std::less<int>());
    if (pos < 0 || pos >= ka->count) {
        if (!spin)
            return 0;
        pos = 0;
    }
    *next = ka->ints[pos];
    return 1;
}

int next_text(cm *c, int sec, const char *prev, char *next, size_t size, bool spin)
{
    if (!c || !next || size == 0)
        return -1;
    locked l(c);
    if (!section_ok(c, sec) || c->secs[sec].key_type != KTYPE_STRING)
        return -1;
    const cm_key_array_t *ka = &c->key_arrays[sec];
    if (ka->count == 0)
        return 0;
    int pos = next_position(ka->strs, ka->count, prev != nullptr, prev, text_less);
    if (pos < 0 || pos >= ka->count) {
        if (!spin)
            return 0;
        pos = 0;
    }
    return copy_text(ka->strs[pos], next, size);
}

// The first key of the section as text, for the end of a spinning walk.
int first_key_text(const cm *c, int sec, char *next, size_t size)
{
    const cm_key_array_t *ka = &c->key_arrays[sec];
    if (ka->count == 0)
        return 0;
    if (c->secs[sec].key_type == KTYPE_STRING)
        return copy_text(ka->strs[0], next, size);
    char num[16];
    snprintf(num, sizeof num, "%d", ka->ints[0]);
    return copy_text(num, next, size);
}

int next_cat(cm *c, int sec, const char *prev, char *next, size_t size, bool spin)
{
    if (!c || !next || size == 0)
        return -1;
    locked l(c);
    if (!section_ok(c, sec))
        return -1;
    const cm_matrix_t *m = &c->vals[sec];
    int row = 1;
    if (prev) {
        for (row = 1; row < m->num_rows && !(m->rows[row][0] && strcasecmp(m->rows[row][0], prev) == 0);
             row++) {
        }
        if (row >= m->num_rows)
            return 0; // prev names no row
        row++;
    }
    if (row >= m->num_rows)
        return spin && prev ? first_key_text(c, sec, next, size) : 0;
    return copy_text(m->rows[row][0] ? m->rows[row][0] : "", next, size);
}

} // namespace

int cm_get(cm *c, char *buf, size_t size, int sec, int dir)
{
    if (!c || !buf || size == 0)
        return -1;
    locked l(c);
    if (!indexes_ok(c, sec, dir))
        return -1;
    return copy_value(c, sec, 0, dir, buf, size);
}

int cm_get(cm *c, char *buf, size_t size, int sec, int dir, int key)
{
    return get_keyed(c, buf, size, sec, dir, hash_key_int(key), KTYPE_INTEGER);
}

int cm_get(cm *c, char *buf, size_t size, int sec, int dir, const char *key)
{
    if (!key)
        return -1;
    return get_keyed(c, buf, size, sec, dir, hash_key_str(key), KTYPE_STRING);
}

int cm_get_by_cat(cm *c, char *buf, size_t size, int sec, int dir, const char *category)
{
    if (!c || !buf || size == 0 || !category)
        return -1;
    locked l(c);
    if (!indexes_ok(c, sec, dir) || c->secs[sec].key_type == KTYPE_NONE)
        return -1;
    const cm_matrix_t *m = &c->vals[sec];
    for (int r = 1; r < m->num_rows; r++)
        if (m->rows[r][0] && strcasecmp(m->rows[r][0], category) == 0)
            return copy_value(c, sec, r, dir, buf, size);
    return 1;
}

int cm_id_valid(cm *c, int sec, int key)
{
    if (!c)
        return 0;
    locked l(c);
    return section_ok(c, sec) && row_of_key(c, sec, hash_key_int(key), KTYPE_INTEGER) >= 0;
}

int cm_id_valid(cm *c, int sec, const char *key)
{
    if (!c || !key)
        return 0;
    locked l(c);
    return section_ok(c, sec) && row_of_key(c, sec, hash_key_str(key), KTYPE_STRING) >= 0;
}

int cm_get_next_id(cm *c, int sec, int prev, int *next)
{
    return next_int(c, sec, prev, next, false);
}

int cm_get_next_id(cm *c, int sec, const char *prev, char *next, size_t next_size)
{
    return next_text(c, sec, prev, next, next_size, false);
}

int cm_get_next_id_spin(cm *c, int sec, int prev, int *next)
{
    return next_int(c, sec, prev, next, true);
}

int cm_get_next_id_spin(cm *c, int sec, const char *prev, char *next, size_t next_size)
{
    return next_text(c, sec, prev, next, next_size, true);
}

int cm_get_next_cat(cm *c, int sec, const char *prev, char *next, size_t next_size)
{
    return next_cat(c, sec, prev, next, next_size, false);
}

int cm_get_next_cat_spin(cm *c, int sec, const char *prev, char *next, size_t next_size)
{
    return next_cat(c, sec, prev, next, next_size, true);
}
