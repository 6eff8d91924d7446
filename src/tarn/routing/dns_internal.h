// Pieces shared by the DNS cache's source files.
#pragma once
#include <pthread.h>

#include "application.h"
#include "dns_cache.h"

struct dns_ctx;

// A private resolver context read from the system configuration, with its
// socket open; null when the resolver cannot be set up.
dns_ctx *dns_private_context_open();
// Closes the socket and frees the context (pending queries are dropped).
void dns_private_context_close(dns_ctx *ctx);
// Name servers the context knows.
int dns_private_context_servers(dns_ctx *ctx);
// Submission failed: the error line, and the end of the process when the
// resolver ran out of memory.
void dns_submit_failed(dns_ctx *ctx, int type, const char *name);

inline dns_cache *dns_cache_of_app()
{
    return gp ? gp->dns_cache : nullptr;
}

struct dns_lock_guard {
    pthread_mutex_t *m;
    explicit dns_lock_guard(pthread_mutex_t *mutex) : m(mutex) { pthread_mutex_lock(m); }
    ~dns_lock_guard() { pthread_mutex_unlock(m); }
    dns_lock_guard(const dns_lock_guard &) = delete;
    dns_lock_guard &operator=(const dns_lock_guard &) = delete;
};

inline pthread_mutex_t *dns_cache_lock_of_app()
{
    return gp->locks->dns_cache_lock;
}
inline pthread_mutex_t *dns_call_lock_of_app()
{
    return gp->locks->dns_call_lock;
}

// 1 for a dotted IPv4 address.
int dns_is_ipv4_literal(const char *name);
// Copies whole "|"-separated addresses of pattern into buf while they fit.
void dns_copy_whole_addresses(char *buf, size_t size, const char *pattern);
