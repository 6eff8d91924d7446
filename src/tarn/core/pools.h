// The pools of call objects, SIP legs and registration objects, and the log
// tags of calls and registrations.
#pragma once
#include "application.h"
#include "log.h"

void init_call_object(call_object *co, int index);
reg_object *init_reg_object(reg_object *ro, int index);

// Allocates the call-object pool of n objects (capped at 256) and twice as
// many SIP legs; sets OPERATIONARRAYSIZE and CLSIPSIZE. 0 or -1.
int create_call_object_pools(int n);

// Pool size for the given port sections: 30 per primary-rate ISDN port, 2 per
// other ISDN port, 1 per CAS, analog and GSM port; (count + 1) * 1.1, cut;
// configured (>= 1) replaces it; never above 256.
int get_number_of_needed_call_objects(int isdn_pri_ports, int isdn_other_ports, int cas_ports,
                                      int analog_ports, int gsm_ports, int configured);

call_object *get_free_operation_handle(int generate_pid);
reg_object *get_free_registration_handle();
call_leg_sip *get_new_sip_call_leg();
call_leg_sip *get_new_sip_call_leg_allocate();

int get_index_of_operation(const call_object *co);
int get_index_of_reg_object(const reg_object *ro);
call_object *get_operation_by_index(int index);
reg_object *get_registered_user_by_index(int index);

// "CID:%06i:.." / "RID:%06i:00". The text lives in a buffer of the calling
// thread that its next call overwrites.
const char *cinfo(const call_object *co);
const char *rinfo(const reg_object *ro);

// A debug line about a call: the level is tested before the call's tag is
// formatted.
#define LOGD_CALL(module, level, co, ...)                                                                          \
    do {                                                                                                           \
        if (log_levels_debug_enabled && log_get_loglevel(log_levels_debug, (module)) >= (level))                 \
            LOGD((module), (level), cinfo(co), __VA_ARGS__);                                                       \
    } while (0)
