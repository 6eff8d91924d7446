// Call groups: SIP port groups that share calls by priority or at random,
// each with an optional limit of simultaneous calls.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "call_object.h"
#include "dialplan_search.h"
#include "dialplan_vars.h"
#include "log.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"

namespace {

constexpr int RANK_START = 99999999; // above every priority
constexpr int RANK_TAKEN = 9999999;  // a ranked candidate's mark

struct candidate {
    const char *name;
    int priority;
};

bool is_full(const port_group_sip *g)
{
    return g->pgs_max_simultaneous_calls > 0 &&
           dialplan_count_outbound_calls_to_peer(g->pgs_name) >= g->pgs_max_simultaneous_calls;
}

void set_buddy(call_object *co, int place, const char *name)
{
    free(co->call_group_buddies[place]);
    co->call_group_buddies[place] = strdup(name);
}

void write_name(char *id, size_t size, const char *name)
{
    if (size > 2)
        snprintf(id + 2, size - 2, "%s", name);
}

// Candidates by ascending priority, equal priorities in candidate order.
int rank(candidate *c, int n, int *order)
{
    int prio[DP_CALL_GROUP_CANDIDATES];
    for (int i = 0; i < n; i++)
        prio[i] = c[i].priority;
    for (int place = 0; place < n; place++) {
        int best = -1, lowest = RANK_START;
        for (int i = 0; i < n; i++)
            if (prio[i] < lowest) {
                lowest = prio[i];
                best = i;
            }
        if (best < 0)
            return place;
        order[place] = best;
        prio[best] = RANK_TAKEN;
    }
    return n;
}

} // namespace

int dialplan_count_outbound_calls_to_peer(const char *name)
{
    if (!name || !gp)
        return 0;
    int count = 0;
    for (int i = 0; i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++) {
        const call_object *co = gp->operations[i];
        if (!co || !co->dp || !co->dp->pd_out || !co->dp->pd_out->name)
            continue;
        const call_leg_sip *leg = dialplan_outgoing_leg(co);
        if (leg && leg->pd && leg->pd->name && strcmp(leg->pd->name, name) == 0)
            count++;
    }
    return count;
}

int dialplan_init_call_group(call_object *co, char *id, size_t size)
{
    if (!co || !id)
        return 0;
    co->call_group_index = 0;
    co->call_group_buddies_count = 0;
    // Only a "g:"/"p:" identifier names a group.
    if (strlen(id) < 3 || id[1] != ':')
        return 0;
    const port_group_sip *named = pg_get_port_group_sip_by_name(id, nullptr);
    if (!named)
        return 0;

    if (!named->pgs_callgroup_name || !named->pgs_callgroup_name[0]) {
        if (!is_full(named))
            return 0;
        LOGD_CALL(TARN, 4, co, "SIP group %s has reached its limit of %i calls", named->pgs_name,
                  named->pgs_max_simultaneous_calls);
        co->f.call_limit_exceeded = 1;
        return -1;
    }

    candidate c[DP_CALL_GROUP_CANDIDATES];
    int n = 0, named_at = -1;
    bool all_equal = true;
    const port_groups *pg = pg_port_groups();
    for (int i = 0; i < pg->port_groups_sip_count && n < DP_CALL_GROUP_CANDIDATES; i++) {
        const port_group_sip *g = &pg->port_groups_sip[i];
        if (!g->pgs_callgroup_name || !g->pgs_callgroup_name[0])
            continue;
        if (g->pgs_callgroup_priority != named->pgs_callgroup_priority)
            all_equal = false;
        if (is_full(g))
            continue;
        if (g == named)
            named_at = n;
        c[n++] = {g->pgs_name, g->pgs_callgroup_priority};
    }
    if (n == 0) {
        LOGD_CALL(TARN, 4, co, "call group of SIP group %s: every group has reached its limit", named->pgs_name);
        co->f.call_limit_exceeded = 1;
        return -1;
    }

    int written = 0;
    if (all_equal) {
        int pick = (int)((unsigned)dialplan_random() % (unsigned)n);
        write_name(id, size, c[pick].name);
        for (int i = 0; i < n; i++)
            if (i != pick)
                set_buddy(co, written++, c[i].name);
    } else {
        int order[DP_CALL_GROUP_CANDIDATES];
        int ranked = rank(c, n, order);
        if (named_at < 0 && ranked > 0)
            write_name(id, size, c[order[0]].name);
        for (int i = 0; i < ranked; i++)
            if (order[i] != named_at)
                set_buddy(co, written++, c[order[i]].name);
    }
    co->call_group_buddies_count = written;
    LOGD_CALL(TARN, 4, co, "call group of SIP group %s: using %s with %i alternatives", named->pgs_name, id + 2,
              written);
    return 0;
}
