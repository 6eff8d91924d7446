#include "isdn_pid.h"

#include <atomic>

static std::atomic<int> global_pid{0};

int get_new_global_pid()
{
    // Wraps back to 1 instead of going negative after 2^31-1 calls.
    int cur = global_pid.load(std::memory_order_relaxed);
    int next;
    do {
        next = cur >= 0x7fffffff ? 1 : cur + 1;
    } while (!global_pid.compare_exchange_weak(cur, next, std::memory_order_relaxed));
    return next;
}
