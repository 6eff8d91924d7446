#include "call_services.h"

#include <unistd.h>

#include <cstdint>

#include "analogctl.h"
#include "application.h"
#include "dialplan.h"
#include "dialplan_targets.h"
#include "log.h"
#include "misdn_bchannel.h"
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

misdn_bchannel *emergency_terminate_isdn_call(call_object *co, const char *target)
{
    int ports[64];
    if (isdn_dpstring_to_int_array(target, ports, 64) < 1)
        return nullptr;
    for (int i = 0; i < OPERATIONARRAYSIZE; i++) {
        call_object *c = gp->operations[i];
        if (!killable(c, co) || !c->bc || c->bc->port != ports[0])
            continue;
        LOGM(TARN, 16, "emergency_terminate_call (%p): FOUND KILLABLE CO %p AT INDEX %i PORT %i\n", (void *)co,
             (void *)c, i, ports[0]);
        pthread_mutex_unlock(gp->locks->global_lock);
        nua_hooks.finish_call(c, stderr, 2);
        misdn_bchannel *bc = nullptr;
        for (int attempt = 0; attempt < 8 && !bc && co && co->dp; attempt++) {
            usleep(50 * 1000);
            // the channel search runs under the lock its callers hold; the
            // lock is free between the attempts for the call being finished
            pthread_mutex_lock(gp->locks->global_lock);
            int ports_down = 0;
            bc = get_isdn_channel_by_dialplan_string(co, co->dp->to_id, &ports_down);
            pthread_mutex_unlock(gp->locks->global_lock);
        }
        pthread_mutex_lock(gp->locks->global_lock);
        return bc;
    }
    return nullptr;
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
