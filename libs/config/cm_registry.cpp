// Manager lifecycle and the registry of managers by module name.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "confman.h"

cm_obj_hash_t *cm_obj_hash = nullptr;

int cm_init()
{
    if (cm_obj_hash)
        return 0;
    cm_obj_hash_t *reg = (cm_obj_hash_t *)calloc(1, sizeof(cm_obj_hash_t));
    if (!reg)
        return -1;
    if (cm_hash_init(&reg->table, CM_HASH_SIZE, joaat_hash, eq_str) != 0) {
        free(reg);
        return -1;
    }
    if (pthread_mutex_init(&reg->_lock, nullptr) != 0) {
        cm_hash_free(&reg->table);
        free(reg);
        return -1;
    }
    cm_obj_hash = reg;
    return 0;
}

void cm_exit()
{
    cm_obj_hash_t *reg = cm_obj_hash;
    if (!reg)
        return;
    cm_obj_hash = nullptr;
    cm_hash_free(&reg->table);
    pthread_mutex_destroy(&reg->_lock);
    free(reg);
}

static int registry_add(cm *c)
{
    cm_obj_hash_t *reg = cm_obj_hash;
    if (!reg)
        return -1;
    pthread_mutex_lock(&reg->_lock);
    int rc = cm_hash_insert(&reg->table, hash_key_str(c->modname), (intptr_t)c);
    pthread_mutex_unlock(&reg->_lock);
    return rc;
}

static void registry_remove(cm *c)
{
    cm_obj_hash_t *reg = cm_obj_hash;
    if (!reg)
        return;
    pthread_mutex_lock(&reg->_lock);
    intptr_t found;
    // Only this very object is removed, never another one of the same name.
    if (cm_hash_lookup(&reg->table, hash_key_str(c->modname), &found) == 0 && found == (intptr_t)c)
        cm_hash_remove(&reg->table, hash_key_str(c->modname));
    pthread_mutex_unlock(&reg->_lock);
}

// Frees everything a load filed in, leaving the per-section arrays.
static void free_values(cm *c)
{
    free(c->filename);
    c->filename = nullptr;
    for (int s = 0; s < c->num_secs; s++) {
        cm_matrix_t *m = &c->vals[s];
        for (int r = 0; r < m->num_rows; r++) {
            if (!m->rows[r])
                continue;
            for (int d = 0; d < c->secs[s].num_directives; d++)
                free(m->rows[r][d]);
            free(m->rows[r]);
        }
        free(m->rows);
        m->rows = nullptr;
        m->num_rows = 0;
        if (c->hashes[s]) {
            cm_hash_free(c->hashes[s]);
            free(c->hashes[s]);
            c->hashes[s] = nullptr;
        }
        free(c->key_arrays[s].ints);
        free(c->key_arrays[s].strs);
        c->key_arrays[s] = cm_key_array_t{};
    }
}

static void free_object(cm *c)
{
    free(c->vals);
    free(c->hashes);
    free(c->key_arrays);
    free(c->modname);
    free(c);
}

cm *cm_create(const char *modname, const cm_section_t *secs, int num_secs)
{
    if (!modname || !secs || num_secs <= 0)
        return nullptr;
    for (int s = 0; s < num_secs; s++)
        if (secs[s].num_directives < 1 || !secs[s].directives)
            return nullptr;
    cm *c = (cm *)calloc(1, sizeof(cm));
    if (!c)
        return nullptr;
    if (pthread_mutex_init(&c->lock, nullptr) != 0) {
        free(c);
        return nullptr;
    }
    c->modname = strdup(modname);
    c->num_secs = num_secs;
    c->secs = secs;
    c->vals = (cm_matrix_t *)calloc((size_t)num_secs, sizeof(cm_matrix_t));
    c->hashes = (cm_hash_t **)calloc((size_t)num_secs, sizeof(cm_hash_t *));
    c->key_arrays = (cm_key_array_t *)calloc((size_t)num_secs, sizeof(cm_key_array_t));
    if (!c->modname || !c->vals || !c->hashes || !c->key_arrays || registry_add(c) != 0) {
        pthread_mutex_destroy(&c->lock);
        free_object(c);
        return nullptr;
    }
    c->state = CM_CREATED;
    return c;
}

void cm_destroy(cm *c)
{
    if (!c) {
        printf("confman: cm_destroy called with NULL parameter!\n");
        return;
    }
    if (c->state != CM_CREATED && c->state != CM_LOADED) {
        printf("confman: cm_destroy called with non-initialized cm!\n");
        return;
    }
    pthread_mutex_lock(&c->lock);
    registry_remove(c);
    free_values(c);
    c->state = CM_NULL;
    pthread_mutex_unlock(&c->lock);
    pthread_mutex_destroy(&c->lock);
    free_object(c);
}
