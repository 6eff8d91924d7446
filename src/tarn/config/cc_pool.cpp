// The shared pool of call configurations: one record per distinct option
// string. The dial plan loader fills it for its lines and cleans it after a
// reload; call handling looks records up and makes them during admission.
// The pool has its own lock, and every holder keeps a reference, so a
// cleaning never frees a record that a line or a call still holds.
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "cc_internal.h"
#include "pools.h"


static pthread_mutex_t creation_lock = PTHREAD_MUTEX_INITIALIZER;

static call_configuration_pool *the_pool()
{
    if (!gp)
        return nullptr;
    pthread_mutex_lock(&creation_lock);
    if (!gp->call_configuration_pool) {
        auto *p = static_cast<call_configuration_pool *>(calloc(1, sizeof(call_configuration_pool)));
        if (p) {
            pthread_mutex_init(&p->lock, nullptr);
            gp->call_configuration_pool = p; // lives as long as the process
        }
    }
    pthread_mutex_unlock(&creation_lock);
    return gp->call_configuration_pool;
}

// The slot of a pooled record, or -1 (the caller holds the lock).
static int slot_of(const call_configuration_pool *p, const call_configuration *cc)
{
    for (int i = 0; i < p->cconf_max_val; i++)
        if (p->call_configurations[i] == cc)
            return i;
    return -1;
}

call_configuration *cc_parse_call_configuration_pool(call_object *co, const char *options)
{
    call_configuration_pool *p = the_pool();
    if (!p || !options)
        return gp ? &gp->default_call_configuration : nullptr;
    call_configuration *found = nullptr;
    pthread_mutex_lock(&p->lock);
    int free_slot = -1;
    for (int i = 0; i < p->cconf_max_val && !found; i++) {
        if (!p->call_configurations[i]) {
            if (free_slot < 0)
                free_slot = i;
        } else if (strcmp(p->call_configuration_string[i], options) == 0) {
            found = p->call_configurations[i];
            p->references[i]++;
        }
    }
    if (!found) {
        if (free_slot < 0 && p->cconf_max_val < CC_POOL_SIZE)
            free_slot = p->cconf_max_val;
        call_configuration *cc = nullptr;
        char *copy = nullptr;
        if (free_slot >= 0) {
            cc = static_cast<call_configuration *>(calloc(1, sizeof *cc));
            copy = strdup(options);
        }
        if (!cc || !copy) {
            free(cc);
            free(copy);
            pthread_mutex_unlock(&p->lock);
            LOGD(TARN, 0, cinfo(co), "CRITICAL: no room for call configuration |%s| (%i in the pool), using the "
                                     "default configuration",
                 options, CC_POOL_SIZE);
            cc_recompute_dtmf(co);
            return &gp->default_call_configuration;
        }
        if (p->cconf_max_val < free_slot + 1)
            p->cconf_max_val = free_slot + 1;
        cc_clone_call_configuration(cc, &gp->default_call_configuration);
        cc_apply_option_string(cc, options, cc_tag{co, nullptr, true});
        p->call_configurations[free_slot] = cc;
        p->call_configuration_string[free_slot] = copy;
        p->references[free_slot] = 1;
        found = cc;
    }
    pthread_mutex_unlock(&p->lock);
    // The call's DTMF flags follow its configuration whether the record was
    // found or made.
    cc_recompute_dtmf(co);
    return found;
}

static void adjust_reference(const call_configuration *cc, int delta)
{
    call_configuration_pool *p = gp ? gp->call_configuration_pool : nullptr;
    if (!p || !cc)
        return;
    pthread_mutex_lock(&p->lock);
    int i = slot_of(p, cc);
    if (i >= 0) {
        p->references[i] += delta;
        if (p->references[i] < 0) {
            LOGD(TARN, 0, nullptr, "CRITICAL: call configuration |%s| released more often than held",
                 p->call_configuration_string[i]);
            p->references[i] = 0;
        }
    }
    pthread_mutex_unlock(&p->lock);
}

void cc_hold_call_configuration(const call_configuration *cc)
{
    adjust_reference(cc, +1);
}

void cc_release_call_configuration(const call_configuration *cc)
{
    adjust_reference(cc, -1);
}

void cc_assign_call_configuration(call_configuration **slot, call_configuration *record)
{
    if (*slot == record)
        return;
    cc_hold_call_configuration(record);
    cc_release_call_configuration(*slot);
    *slot = record;
}

void cc_clean_call_configuration_pool()
{
    call_configuration_pool *p = the_pool();
    if (!p)
        return;
    pthread_mutex_lock(&p->lock);
    int kept = 0;
    for (int i = 0; i < p->cconf_max_val; i++) {
        if (!p->call_configurations[i])
            continue;
        if (p->references[i] == 0) {
            free(p->call_configurations[i]);
            free(p->call_configuration_string[i]);
        } else {
            // Pack: used slots move down in order.
            p->call_configurations[kept] = p->call_configurations[i];
            p->call_configuration_string[kept] = p->call_configuration_string[i];
            p->references[kept] = p->references[i];
            kept++;
        }
    }
    for (int i = kept; i < p->cconf_max_val; i++) {
        p->call_configurations[i] = nullptr;
        p->call_configuration_string[i] = nullptr;
        p->references[i] = 0;
    }
    p->cconf_max_val = kept;
    pthread_mutex_unlock(&p->lock);
}

int cc_pool_count()
{
    call_configuration_pool *p = the_pool();
    if (!p)
        return 0;
    pthread_mutex_lock(&p->lock);
    int n = 0;
    for (int i = 0; i < p->cconf_max_val; i++)
        n += p->call_configurations[i] != nullptr;
    pthread_mutex_unlock(&p->lock);
    return n;
}

void cc_print_call_configuration_pool(FILE *size_out, FILE *out)
{
    call_configuration_pool *p = the_pool();
    if (!p)
        return;
    pthread_mutex_lock(&p->lock);
    fprintf(size_out, "CCP POOL SIZE %i\n", p->cconf_max_val);
    for (int i = 0; i < p->cconf_max_val; i++)
        if (p->call_configurations[i])
            fprintf(out, "%i: |%s|\n", i, p->call_configuration_string[i]);
    pthread_mutex_unlock(&p->lock);
}
