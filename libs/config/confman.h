// Configuration manager: one object per configuration file, read against a
// constant schema of sections and keys. Values are filed into a matrix of
// rows per section (row 0 the defaults, rows 1.. the categories of the one
// keyed section), and looked up by section and key index, and for the keyed
// section by port number or name through a fixed 512-entry hash table.
// Lookups hand out copies. Load problems are reported with printf on
// standard output.
#pragma once
#include <cstddef>
#include <cstdint>
#include <pthread.h>

#include "cm_hash.h"

enum ktype { KTYPE_NONE = 0, KTYPE_INTEGER = 1, KTYPE_STRING = 2 };

enum cm_state { CM_NULL = 0, CM_CREATED = 1, CM_LOADED = 2 };

// One key of a section. Index 0 of every section is the row name.
struct cm_dir_t {
    const char *name; // as written in the file
    const char *def;  // default text, or null
    const char *desc; // help text
};

// One section of a module's schema.
struct cm_section_t {
    const char *section_name; // "general", or the kind word of a keyed section
    const char *default_name; // category holding the section's defaults, or null
    const char *key_field;    // key that identifies a row of a keyed section
    ktype key_type;
    int32_t num_directives;   // rows of directives, index 0 included
    const cm_dir_t *directives;
};

// The values of one section: rows[r][d] is a text or null.
struct cm_matrix_t {
    int num_rows;
    char ***rows;
};

// The keys of the keyed section in ascending order (texts ignoring case).
struct cm_key_array_t {
    int count;
    int *ints;          // KTYPE_INTEGER
    const char **strs;  // KTYPE_STRING (texts owned by the matrix)
};

// The registry of managers by module name.
struct cm_obj_hash_t {
    cm_hash_t table;
    pthread_mutex_t _lock;
};

struct cm {
    pthread_mutex_t lock; // held by every operation
    cm_state state;
    char *modname;
    char *filename;
    int num_secs;
    const cm_section_t *secs; // not copied
    cm_matrix_t *vals;        // per section
    cm_hash_t **hashes;       // per section; set for the keyed section
    cm_key_array_t *key_arrays;
};

extern cm_obj_hash_t *cm_obj_hash;

// Creates the registry (a second call keeps the first one); 0, or -1.
int cm_init();
// Frees the registry.
void cm_exit();

// A new manager registered under modname (once per name, ignoring case);
// null when the name is taken, the registry is missing or full, the schema
// is empty, or memory runs out.
cm *cm_create(const char *modname, const cm_section_t *secs, int num_secs);
// Unregisters and frees the manager.
void cm_destroy(cm *c);

// Parses the file and files its values. 0 when loaded; -1 otherwise. When
// the values fail validation the manager is destroyed and *pc set to null,
// so the caller holds no dangling pointer; on the other failures *pc stays a
// created (unloaded) manager.
int cm_load(cm **pc, const char *filename);

// Copies a value with its NUL into buf. The key-less form reads row 0 (the
// section's defaults); the keyed forms find the key's row (falling back to
// row 0 where the row has no value). A key-less section ignores the key.
// 0 when copied; -1 with buf untouched for a bad manager, buffer, index or
// an unknown key; -1 with buf empty when there is no value or it does not fit.
int cm_get(cm *c, char *buf, size_t size, int sec, int dir);
int cm_get(cm *c, char *buf, size_t size, int sec, int dir, int key);
int cm_get(cm *c, char *buf, size_t size, int sec, int dir, const char *key);
// The same for the keyed row named category (ignoring case): 0, 1 when no
// row has that name, -1 otherwise.
int cm_get_by_cat(cm *c, char *buf, size_t size, int sec, int dir, const char *category);
// 1 when the key is in the section's key table, else 0.
int cm_id_valid(cm *c, int sec, int key);
int cm_id_valid(cm *c, int sec, const char *key);

// The key after prev in ascending order (the first when prev is negative or
// null): 1 with it in *next, 0 at the end, for an unknown prev or no keys,
// -1 for bad arguments (or a text key that does not fit next_size). The
// _spin forms start again at the first key after the last (and for an
// unknown prev); they return 0 only when there are no keys.
int cm_get_next_id(cm *c, int sec, int prev, int *next);
int cm_get_next_id(cm *c, int sec, const char *prev, char *next, size_t next_size);
int cm_get_next_id_spin(cm *c, int sec, int prev, int *next);
int cm_get_next_id_spin(cm *c, int sec, const char *prev, char *next, size_t next_size);
// The keyed row name after prev in file order (the first when prev is
// null): 1, or 0 at the end / for an unknown prev / without rows; -1 for bad
// arguments or a name that does not fit. The _spin form answers the end with
// the first key in ascending order instead (as decimal text for integer keys).
int cm_get_next_cat(cm *c, int sec, const char *prev, char *next, size_t next_size);
int cm_get_next_cat_spin(cm *c, int sec, const char *prev, char *next, size_t next_size);
