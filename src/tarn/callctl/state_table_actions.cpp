// The map from actions to names, and the placeholders of the actions whose
// code is not built yet.
#include "state_table_actions.h"

#include <atomic>
#include <cstring>

#include "log.h"

// One placeholder per action not built: it says so once per run and lets
// the row decide (next state and outgoing event as the row gives them).
#define SM_TABLE_ACTION(name)
#define SM_TABLE_ACTION_NOT_BUILT(name)                                                   \
    statemachine_handle_retval name(void *, void *, int32_t, int32_t)               \
    {                                                                               \
        static std::atomic<bool> told{false};                                       \
        if (!told.exchange(true))                                                   \
            LOGD(TARN, 0, nullptr, "CRITICAL: action %s not built", #name);          \
        return {SM_NO_DECISION, SM_ROW_EVENT};                                      \
    }
#include "state_table_actions.def"
#undef SM_TABLE_ACTION
#undef SM_TABLE_ACTION_NOT_BUILT

const sm_action_entry sm_actions[] = {
#define SM_TABLE_ACTION(name) {name, #name, true},
#define SM_TABLE_ACTION_NOT_BUILT(name) {name, #name, false},
#include "state_table_actions.def"
#undef SM_TABLE_ACTION
#undef SM_TABLE_ACTION_NOT_BUILT
};
const int sm_actions_count = (int)(sizeof sm_actions / sizeof sm_actions[0]);

const char *sm_action_name(statemachine_handle handle)
{
    if (!handle)
        return nullptr;
    for (const sm_action_entry &a : sm_actions)
        if (a.handle == handle)
            return a.name;
    return nullptr;
}

statemachine_handle sm_action_by_name(const char *name)
{
    if (!name)
        return nullptr;
    for (const sm_action_entry &a : sm_actions)
        if (strcmp(a.name, name) == 0)
            return a.handle;
    return nullptr;
}

int sm_actions_not_built_count()
{
    int n = 0;
    for (const sm_action_entry &a : sm_actions)
        n += a.built ? 0 : 1;
    return n;
}
