// Names of event numbers, call and registration states, SIP stack call
// states, call kinds and mobile network operators, as logs, console
// listings and traces print them. Operators' tools parse these texts.
#pragma once
#include <cstdint>

struct call_object;
struct reg_object;

// Event numbers by range; each range has its own table indexed from its base.
enum event_range_base {
    EVENT_BASE_NUA = 0,
    EVENT_BASE_SIP_EXTRA = 1002,
    EVENT_BASE_ISDN = 512,
    EVENT_BASE_TIMER = 1024,
    EVENT_BASE_GSM = 2048,
    EVENT_BASE_GENERAL = 4096,
    EVENT_BASE_ANALOG = 8192,
    EVENT_BASE_GSM_LIB = 16384,
    EVENT_BASE_CAS = 32768,
};

extern const char *const nua_event_list[57];
extern const char *const sip_extra_event_list[1];
extern const char *const isdn_event_list[43];
extern const char *const timer_event_list[31];
extern const char *const gsm_event_list[60];
extern const char *const general_event_list[41];
extern const char *const analog_event_list[20];
extern const char *const cas_event_list[23];

extern const char *const callobject_callstate_list[16];
extern const char *const callobject_callstate_list_isdn[4];
extern const char *const callobject_callstate_list_gsm[5];
extern const char *const callobject_callstate_list_itapi[5];
extern const char *const callobject_callstate_list_cas[17];
extern const char *const callobject_callstate_list_analog_fxs[14];
extern const char *const callobject_callstate_list_analog_fxo[7];
extern const char *const regobject_callstate_list[11];
extern const char *const nua_callstate_list[11];
// Row names of a call's ISDN message counters.
extern const char *const isdn_history_events[9];

struct provider_entry {
    int code; // mobile country code followed by the network code
    const char *name;
};
// Not in numeric order throughout: look up linearly, first match wins.
extern const provider_entry provider_map[257];

// The name of any event number; "UNKNOWN_EVENT" (and a debug line) outside
// every range.
const char *print_event(int event);
// Position of the single set bit of a state word, counted from 1; 0 when
// the word is not a single bit.
int bit_shift_value(uint32_t state);
// Name of a call's state word; the technology lists follow the call's kind.
// A word that is not a single bit, bit 15 and a bit past the kind's list
// give "UNKNOWN_STATE".
const char *print_sm_state_call(call_object *co, uint32_t state);
const char *print_sm_state_reg(reg_object *ro, uint32_t state);
const char *print_nua_callstate(int callstate);
const char *print_callinfo(int callinfo);
// "Unknown" for a code not in the map.
const char *get_provider_name(int code);
