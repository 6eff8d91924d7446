#include "bchannel_sweep.h"

#include "application.h"
#include "call_lookups.h"
#include "global_lock.h"
#include "isdn_lib.h"
#include "log.h"
#include "misdn_bchannel.h"

void check_bchannels()
{
    // Calls take and leave channels under global_lock, and so does the
    // library's sender when it ends a call.
    lock_hold hold(&lock_manager::global_lock);
    int stacks = misdn_get_stack_count();
    for (int s = 0; s < stacks; s++) {
        misdn_stack *stack = misdn_get_stack_by_index(s);
        if (!stack)
            continue;
        int channels = misdn_get_channelcount_by_stack(stack);
        for (int i = 0; i < channels; i++) {
            misdn_bchannel *bc = misdn_get_channel_by_stack_and_index(stack, i);
            if (!bc)
                continue;
            if (!bc->in_use || get_operation_by_bchannel(bc)) {
                bc->unassociated = 0;
                continue;
            }
            if (bc->unassociated) {
                LOGD(TARN, 0, nullptr, "CRITICAL: Clearing unassociated bchannel");
                misdn_clear_unassociated_bc(bc);
            } else {
                bc->unassociated = 1;
            }
        }
    }
}
