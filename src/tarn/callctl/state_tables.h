// The seventeen call and registration state tables and the constructors of
// their machines. A constructor hands the machine's object (a call object,
// or a registration object for sipreg), the start state and the send
// function of outgoing events to the engine, with no log function; it
// returns null when the engine cannot create the machine.
#pragma once
#include <cstdint>

#include "statemachine.h"

// The names a table's state bits carry: the common call states and one
// kind's own states above bit 15, or the registration states.
enum sm_state_set {
    SM_SET_COMMON,
    SM_SET_ISDN,
    SM_SET_GSM,
    SM_SET_ITAPI,
    SM_SET_CAS,
    SM_SET_FXS,
    SM_SET_FXO,
    SM_SET_REG,
};

typedef statemachine *(*sm_table_create)(void *priv, int state, statemachine_send_event send_event);

struct sm_table_info {
    const char *name; // "sip_to_isdn", as state_tab_sip_to_isdn
    const statemachine_transition *rows;
    int32_t num_rows;
    sm_state_set states;
    sm_table_create create;
};

// The tables in their reference order.
extern const sm_table_info sm_tables[];
extern const int sm_tables_count;
// Null for a name that is no table.
const sm_table_info *sm_table_by_name(const char *name);

statemachine *create_statemachine_sip_to_isdn(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_isdn_to_sip(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_sip_to_fxs(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_fxs_to_sip(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_sip_to_fxo(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_fxo_to_sip(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_sip_to_cas_fxo(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_sip_to_cas_fxs(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_cas_fxo_to_sip(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_cas_fxs_to_sip(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_sip_to_gsm(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_gsm_to_sip(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_sip_to_sip(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_sipreg(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_sipcleanup(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_sip_to_itapi(void *priv, int state, statemachine_send_event send_event);
statemachine *create_statemachine_telnet_to_isdn(void *priv, int state, statemachine_send_event send_event);
