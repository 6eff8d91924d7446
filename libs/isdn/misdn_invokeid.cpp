#include "misdn_invokeid.h"

#include <mutex>

static std::mutex invoke_id_lock;
static int next_invokeid = 1;

int misdn_get_invokeid(void)
{
    std::lock_guard<std::mutex> g(invoke_id_lock);
    int id = next_invokeid >= 32767 ? 1 : next_invokeid;
    next_invokeid = id + 1;
    return id;
}
