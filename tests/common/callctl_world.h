// The process-wide pieces call control needs in a test process: the
// application object and its locks, a call-object pool of n, the media
// processor's command manager, timeslots and resources, and the timer list.
// Call ASSERT_TRUE(callctl_world(n)) in a fixture or test.
#pragma once
#include "application.h"
#include "msp_manager.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "pools.h"
#include "timer.h"

inline bool callctl_world(int calls)
{
    application_create();
    init_locks();
    if (create_call_object_pools(calls) != 0 || !msp_create_command_manager())
        return false;
    msp_init_timeslots();
    msp_init_resources();
    return timer_list_new() == 0;
}
