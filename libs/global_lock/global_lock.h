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

// Holds one of the set's mutexes for a scope, e.g.
//     lock_hold hold(&lock_manager::dialplan_lock);
// Holds nothing while the set does not exist (before start-up).
class lock_hold {
public:
    explicit lock_hold(pthread_mutex_t *lock_manager::*which)
        : m_(g_lock_manager ? g_lock_manager->*which : nullptr)
    {
        if (m_)
            pthread_mutex_lock(m_);
    }
    ~lock_hold()
    {
        if (m_)
            pthread_mutex_unlock(m_);
    }
    lock_hold(const lock_hold &) = delete;
    lock_hold &operator=(const lock_hold &) = delete;

private:
    pthread_mutex_t *m_;
};
