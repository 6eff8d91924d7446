#include "global_lock.h"

#include <cstdlib>

lock_manager *g_lock_manager = nullptr;

pthread_mutex_t *lock_manager_at(lock_manager *lm, int index)
{
    if (!lm || index < 0 || index >= LOCK_MANAGER_LOCKS)
        return nullptr;
    return (&lm->global_lock)[index];
}

lock_manager *lock_manager_create()
{
    if (g_lock_manager)
        return g_lock_manager;
    // Deliberately leaked: threads may hold these while the process exits.
    lock_manager *lm = new lock_manager();
    pthread_mutex_t **slot = &lm->global_lock;
    for (int i = 0; i < LOCK_MANAGER_LOCKS; i++) {
        slot[i] = new pthread_mutex_t;
        pthread_mutex_init(slot[i], nullptr);
    }
    g_lock_manager = lm;
    return lm;
}
