#include "call_services.h"

#include <unistd.h>

#include <cstdint>

#include "analogctl.h"
#include "application.h"
#include "log.h"
#include "nua_stack.h"
#include "pools.h"

namespace {

enum { ANALOG_PORT_MARK = 0x800 };

bool killable(const call_object *c, const call_object *keep)
{
    return c && c != keep && c->callinfo != CI_FREE && !c->f.emergency;
}

} // namespace

void emergency_terminate_call(call_object *co)
{
    for (int i = 0; i < OPERATIONARRAYSIZE; i++) {
        call_object *c = gp->operations[i];
        if (!killable(c, co))
            continue;
        LOGM(TARN, 16, "emergency_terminate_call (%p): FOUND KILLABLE CO %p AT INDEX %i\n", (void *)co, (void *)c,
             i);
        pthread_mutex_unlock(gp->locks->global_lock);
        nua_hooks.finish_call(c, stderr, 1);
        usleep(100 * 1000);
        pthread_mutex_lock(gp->locks->global_lock);
        return;
    }
}

call_object *get_transcoding_buddy(call_object *co)
{
    if (co->f.is_transcoding_buddy)
        return nullptr;
    if (co->transcoding_buddy)
        return co->transcoding_buddy;
    call_object *buddy = get_free_operation_handle(0);
    if (!buddy)
        return nullptr;
    // wraps instead of overflowing for identifiers past 1147483647
    buddy->pid = (int32_t)((uint32_t)co->pid + 1000000000u);
    buddy->callinfo = CI_INTERNAL;
    buddy->f.is_transcoding_buddy = 1;
    co->transcoding_buddy = buddy;
    return buddy;
}

int co_get_analog_port_type(call_object *co)
{
    int port = co->analog_port & ~ANALOG_PORT_MARK;
    if (port > 0)
        return analog_get_type_by_port(port);
    const call_object *buddy = co->analog_on_hold_buddy;
    if (buddy && (buddy->analog_port & ~ANALOG_PORT_MARK) > 0)
        return analog_get_type_by_port(buddy->analog_port & ~ANALOG_PORT_MARK);
    return analog_get_type_by_port(co->analog_port_stored_for_hold);
}
