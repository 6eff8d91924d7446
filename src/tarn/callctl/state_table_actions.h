// The actions of the call and registration state tables: their declarations
// and the map from an action to its name. The list itself is
// state_table_actions.def.
#pragma once
#include <cstdint>

#include "statemachine.h"

#define SM_TABLE_ACTION(name) \
    statemachine_handle_retval name(void *p, void *arg, int32_t state, int32_t event);
#define SM_TABLE_ACTION_NOT_BUILT(name) SM_TABLE_ACTION(name)
#include "state_table_actions.def"
#undef SM_TABLE_ACTION
#undef SM_TABLE_ACTION_NOT_BUILT

struct sm_action_entry {
    statemachine_handle handle;
    const char *name;
    bool built; // false: the placeholder that logs "not built"
};

// Every action of the list, in its order.
extern const sm_action_entry sm_actions[];
extern const int sm_actions_count;

// The name of an action; null for a function that is not in the list (and
// for null).
const char *sm_action_name(statemachine_handle handle);
// The action of that name; null when there is none.
statemachine_handle sm_action_by_name(const char *name);
// How many actions are still placeholders.
int sm_actions_not_built_count();
