// What call reset does with the records of a registration, for the tests'
// reset_rop doubles.
#pragma once
#include "call_configuration.h"
#include "proxy_def.h"
#include "reg_object.h"
#include "statemachine.h"

inline void reg_test_release_records(reg_object *ro)
{
    if (ro->sm)
        statemachine_destroy(ro->sm);
    ro->sm = nullptr;
    free_proxy_def(ro->pd);
    ro->pd = nullptr;
    cc_cleanup_call_configuration(&ro->cc);
}
