#include "sip_overload.h"

#include <sofia-sip/nta_tag.h>
#include <sofia-sip/nua.h>

#include "application.h"
#include "log.h"
#include "sip_stack.h"

void sip_stacks_limit_proceeding(int call_objects)
{
    if (!gp || call_objects < 1)
        return;
    size_t limit = 2 * (size_t)call_objects;
    for (int i = 0; i < gp->sip_stack_size; i++) {
        sip_stack *ss = &gp->sip_stacks[i];
        if (ss->nua)
            nua_set_params(ss->nua, NTATAG_MAX_PROCEEDING(limit), TAG_END());
    }
    LOGD(SIP, 2, nullptr, "SIP stacks: at most %i INVITEs wait for an answer, more are answered 503 by the stack",
         (int)limit);
}
