// The sixteen named process-wide mutexes. Created once, never destroyed.
#pragma once
#include <pthread.h>

struct lock_manager {
    pthread_mutex_t *global_lock;
    pthread_mutex_t *pgs_lock;
    pthread_mutex_t *dns_call_lock;
    pthread_mutex_t *dns_cache_lock;
    pthread_mutex_t *dialplan_lock;
    pthread_mutex_t *fp_lock;
    pthread_mutex_t *co_list_lock;
    pthread_mutex_t *stun_lock;
    pthread_mutex_t *system_call_lock;
    pthread_mutex_t *cdr_lock;
    pthread_mutex_t *pcm_table_lock;
    pthread_mutex_t *cas_lock;
    pthread_mutex_t *gsm_cusd_lock;
    pthread_mutex_t *msp_queue_lock;
    pthread_mutex_t *dummy_lock;
    pthread_mutex_t *nua_handle_cleanup_lock;
};

enum { LOCK_MANAGER_LOCKS = 16 };

extern lock_manager *g_lock_manager;

// Allocates the set with sixteen default mutexes and stores it in
// g_lock_manager; a second call returns the existing set.
lock_manager *lock_manager_create();

// The members in declaration order, for code that walks them.
pthread_mutex_t *lock_manager_at(lock_manager *lm, int index);
