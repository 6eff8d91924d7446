// Loading a file into a manager: filing categories into rows, defaults,
// the key table of the keyed section, and validation.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "ast_config.h"
#include "confman.h"

namespace {

struct load_ctx {
    cm *c;
    const char *base; // file base name for messages
    bool oom;
};

bool same(const char *a, const char *b)
{
    return a && b && strcasecmp(a, b) == 0;
}

const char *text_or_empty(const char *s)
{
    return s ? s : "";
}

const char *base_name(const char *path)
{
    const char *s = strrchr(path, '/');
    return s ? s + 1 : path;
}

// Appends a row of num_directives empty values; its index, or -1.
int add_row(load_ctx &x, int s)
{
    cm_matrix_t *m = &x.c->vals[s];
    char ***rows = (char ***)realloc(m->rows, (size_t)(m->num_rows + 1) * sizeof(char **));
    if (!rows) {
        x.oom = true;
        return -1;
    }
    m->rows = rows;
    rows[m->num_rows] = (char **)calloc((size_t)x.c->secs[s].num_directives, sizeof(char *));
    if (!rows[m->num_rows]) {
        x.oom = true;
        return -1;
    }
    return m->num_rows++;
}

int ensure_row0(load_ctx &x, int s)
{
    return x.c->vals[s].num_rows > 0 ? 0 : add_row(x, s);
}

// Sets a value, or appends it after a comma to the value already there.
void add_value(load_ctx &x, char **slot, const char *value)
{
    size_t vl = strlen(value);
    size_t old = *slot ? strlen(*slot) + 1 : 0;
    char *p = (char *)realloc(*slot, old + vl + 1);
    if (!p) {
        x.oom = true;
        return;
    }
    if (old)
        p[old - 1] = ',';
    memcpy(p + old, value, vl + 1);
    *slot = p;
}

// The section whose defaults category (or, without one, whose title) is name.
int section_of_category(const cm *c, const char *name)
{
    for (int s = 0; s < c->num_secs; s++) {
        const cm_section_t *sec = &c->secs[s];
        if (sec->default_name ? same(sec->default_name, name) : same(sec->section_name, name))
            return s;
    }
    return -1;
}

int keyed_row_of(const cm *c, int s, const char *name)
{
    const cm_matrix_t *m = &c->vals[s];
    for (int r = 1; r < m->num_rows; r++)
        if (same(m->rows[r][0], name))
            return r;
    return -1;
}

void file_lines(load_ctx &x, int s, int row, const char *cat, const ast_variable *v)
{
    const cm_section_t *sec = &x.c->secs[s];
    char **values = x.c->vals[s].rows[row];
    if (!values[0])
        add_value(x, &values[0], cat);
    for (; v; v = v->next) {
        int idx = -1;
        if (same(v->name, sec->section_name)) {
            idx = 0;
        } else {
            for (int d = 0; d < sec->num_directives && idx < 0; d++)
                if (same(v->name, sec->directives[d].name))
                    idx = d;
        }
        if (idx < 0) {
            printf("%s [%s]: invalid expression in section \"%s\": \"%s = %s\". Please edit your %s "
                   "and then reload.\n",
                   x.c->modname, x.base, cat, v->name, v->value, x.base);
            continue;
        }
        add_value(x, &values[idx], v->value);
    }
}

// A key list item: 1 for one integer, 2 for a range a-b, 0 otherwise.
int parse_key_item(const char *item, int *a, int *b)
{
    char *end;
    errno = 0;
    long x = strtol(item, &end, 10);
    if (end == item || errno || x < INT_MIN || x > INT_MAX)
        return 0;
    if (!*end) {
        *a = *b = (int)x;
        return 1;
    }
    if (*end != '-')
        return 0;
    const char *second = end + 1;
    long y = strtol(second, &end, 10);
    if (end == second || errno || *end || y < INT_MIN || y > INT_MAX)
        return 0;
    *a = (int)x;
    *b = (int)y;
    return 2;
}

char *trim_blanks(char *s)
{
    while (*s == ' ' || *s == '\t')
        s++;
    size_t len = strlen(s);
    while (len > 0 && (s[len - 1] == ' ' || s[len - 1] == '\t'))
        s[--len] = '\0';
    return s;
}

void hash_integer_keys(load_ctx &x, int s, int row, const char *value, const char *key_field)
{
    cm *c = x.c;
    cm_hash_t *h = c->hashes[s];
    char *copy = strdup(value);
    if (!copy) {
        x.oom = true;
        return;
    }
    const char *rowname = text_or_empty(c->vals[s].rows[row][0]);
    char *save = nullptr;
    for (char *item = strtok_r(copy, ",", &save); item; item = strtok_r(nullptr, ",", &save)) {
        item = trim_blanks(item);
        if (!*item)
            continue;
        int a, b;
        if (!parse_key_item(item, &a, &b)) {
            printf("%s [%s]: invalid expression in section \"%s\": \"%s = %s\". Please edit your %s "
                   "and then reload.\n",
                   c->modname, x.base, rowname, key_field, item, x.base);
            continue;
        }
        // The walk is bounded: once the table is full the rest of a range
        // is reported in one line instead of key by key.
        for (long long k = a; k <= b; k++) {
            if (cm_hash_insert(h, hash_key_int((int)k), row) == 0)
                continue;
            printf("%s [%s]: failed to hash integer key: %d\n", c->modname, x.base, (int)k);
            if (cm_hash_full(h)) {
                if (k < b)
                    printf("%s [%s]: failed to hash integer keys %d-%d: table full\n", c->modname,
                           x.base, (int)(k + 1), b);
                break;
            }
        }
    }
    free(copy);
}

void build_key_array(load_ctx &x, int s)
{
    cm *c = x.c;
    const cm_hash_t *h = c->hashes[s];
    cm_key_array_t *ka = &c->key_arrays[s];
    if (h->_length == 0)
        return;
    if (c->secs[s].key_type == KTYPE_INTEGER) {
        ka->ints = (int *)malloc((size_t)h->_length * sizeof(int));
        if (!ka->ints) {
            x.oom = true;
            return;
        }
        for (int i = 0; i < h->_size; i++)
            if (h->_entries[i]._used)
                ka->ints[ka->count++] = h->_entries[i]._key.i;
        std::sort(ka->ints, ka->ints + ka->count);
    } else {
        ka->strs = (const char **)malloc((size_t)h->_length * sizeof(char *));
        if (!ka->strs) {
            x.oom = true;
            return;
        }
        for (int i = 0; i < h->_size; i++)
            if (h->_entries[i]._used)
                ka->strs[ka->count++] = h->_entries[i]._key.s;
        std::sort(ka->strs, ka->strs + ka->count,
                  [](const char *a, const char *b) { return strcasecmp(a, b) < 0; });
    }
}

void build_keys(load_ctx &x, int s)
{
    cm *c = x.c;
    const cm_section_t *sec = &c->secs[s];
    cm_hash_t *h = (cm_hash_t *)calloc(1, sizeof(cm_hash_t));
    bool integer = sec->key_type == KTYPE_INTEGER;
    if (!h || cm_hash_init(h, CM_HASH_SIZE, integer ? modolo_hash : joaat_hash,
                           integer ? eq_int : eq_str) != 0) {
        free(h);
        x.oom = true;
        return;
    }
    c->hashes[s] = h;
    int col = -1;
    if (same(sec->key_field, sec->section_name)) {
        col = 0;
    } else {
        for (int d = 1; d < sec->num_directives && col < 0; d++)
            if (same(sec->directives[d].name, sec->key_field))
                col = d;
    }
    if (col < 0) {
        printf("%s: missing key field \"%s\" in section structure!\n", c->modname,
               text_or_empty(sec->key_field));
        return;
    }
    const cm_matrix_t *m = &c->vals[s];
    for (int r = 1; r < m->num_rows; r++) {
        const char *value = m->rows[r][col];
        if (!value) {
            printf("%s [%s]: missing value for key field \"%s\" in section \"%s\"!\n", c->modname,
                   c->filename, sec->key_field,
                   m->rows[r][0] ? m->rows[r][0] : text_or_empty(sec->section_name));
            continue;
        }
        if (integer) {
            hash_integer_keys(x, s, r, value, sec->key_field);
        } else if (cm_hash_insert(h, hash_key_str(value), r) != 0) {
            printf("%s [%s]: failed to hash string key: %s\n", c->modname, x.base, value);
        }
    }
    build_key_array(x, s);
}

// Every key without a value: reported, and the load fails.
bool validate(load_ctx &x)
{
    cm *c = x.c;
    bool ok = true;
    for (int s = 0; s < c->num_secs; s++) {
        const cm_section_t *sec = &c->secs[s];
        const cm_matrix_t *m = &c->vals[s];
        int keyed_rows = m->num_rows - 1;
        if (s == 1 && keyed_rows == 0)
            break;
        for (int d = 1; d < sec->num_directives; d++) {
            if (m->rows[0][d])
                continue;
            const char *key = text_or_empty(sec->directives[d].name);
            if (keyed_rows == 0) {
                printf("%s [%s]: missing value in section \"%s\": %s. Please edit your %s and then "
                       "reload.\n",
                       c->modname, x.base, text_or_empty(sec->section_name), key, x.base);
                ok = false;
                continue;
            }
            for (int r = 1; r < m->num_rows; r++) {
                if (m->rows[r][d])
                    continue;
                printf("%s [%s]: missing value in section \"%s\": %s. Please edit your %s and then "
                       "reload.\n",
                       c->modname, x.base, text_or_empty(m->rows[r][0]), key, x.base);
                ok = false;
            }
        }
    }
    return ok;
}

} // namespace

int cm_load(cm **pc, const char *filename)
{
    cm *c = pc ? *pc : nullptr;
    if (!c) {
        printf("confman: cm_load called with NULL parameter!\n");
        return -1;
    }
    pthread_mutex_lock(&c->lock);
    if (c->state != CM_CREATED) {
        printf("confman: cm_load called with %s cm!\n",
               c->state == CM_LOADED ? "already loaded" : "non-created");
        pthread_mutex_unlock(&c->lock);
        return -1;
    }
    c->filename = filename ? strdup(filename) : nullptr;
    if (!c->filename) {
        printf("%s: not enough memory!\n", c->modname);
        pthread_mutex_unlock(&c->lock);
        return -1;
    }
    ast_config *cfg = ast_config_load(filename);
    if (!cfg) {
        printf("%s: failed to load file: %s\n", c->modname, filename);
        free(c->filename);
        c->filename = nullptr;
        pthread_mutex_unlock(&c->lock);
        return -1;
    }

    load_ctx x = {c, base_name(c->filename), false};
    int keyed = -1;
    for (int s = 0; s < c->num_secs && keyed < 0; s++)
        if (c->secs[s].key_type != KTYPE_NONE)
            keyed = s;
    for (int s = 0; s < c->num_secs; s++)
        ensure_row0(x, s);

    for (char *cat = ast_category_browse(cfg, nullptr); cat && !x.oom;
         cat = ast_category_browse(cfg, cat)) {
        int s = section_of_category(c, cat);
        int row = 0;
        if (s < 0 && keyed >= 0) {
            s = keyed;
            row = keyed_row_of(c, s, cat);
            if (row < 0)
                row = add_row(x, s);
        } else if (s < 0) {
            printf("%s [%s]: invalid section \"%s\". Please edit your %s and then reload.\n",
                   c->modname, x.base, cat, c->filename);
            continue;
        }
        if (row >= 0 && !x.oom)
            file_lines(x, s, row, cat, ast_variable_browse(cfg, cat));
    }
    ast_config_destroy(cfg);

    for (int s = 0; s < c->num_secs && !x.oom; s++) {
        const cm_section_t *sec = &c->secs[s];
        char **row0 = c->vals[s].rows[0];
        if (!row0[0])
            add_value(x, &row0[0], sec->default_name ? sec->default_name : text_or_empty(sec->section_name));
        for (int d = 1; d < sec->num_directives; d++)
            if (!row0[d] && sec->directives[d].def)
                add_value(x, &row0[d], sec->directives[d].def);
    }
    if (keyed >= 0 && !x.oom)
        build_keys(x, keyed);

    bool ok = false;
    if (x.oom) {
        printf("%s: not enough memory!\n", c->modname);
    } else {
        c->state = CM_LOADED;
        ok = validate(x);
    }
    pthread_mutex_unlock(&c->lock);
    if (!ok) {
        cm_destroy(c);
        *pc = nullptr;
        return -1;
    }
    return 0;
}
