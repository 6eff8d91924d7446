// The words every call and registration machine shares: the 32-bit event
// word (source, status, code), the one-bit state words of calls and
// registrations, the codes of every event source, the task codes of the
// registration machine, the pseudo statuses of the SIP side, the action
// type and the catch-all actions of the last row of every table.
//
// Event word: source << 28 | status << 16 | code. Incoming events in table
// rows carry their source (sm_sip(200, nua_i_bye)); outgoing events are
// written without it (sm_out(16, EVENT_DISCONNECT)). The row markers (any
// state or event -4, continue -2, stay and "no event" -3) are those of the
// engine (statemachine.h).
//
// This header stays free of the SIP stack's headers (they clash with the
// ISDN layer's); the codes of every source with the SIP stack's own come
// with sm_events.h, which the tables include.
#pragma once
#include <cstdint>

#include "statemachine.h"
#include "timer.h"

struct call_object;
struct reg_object;

// ---- the event word -----------------------------------------------------

// Source nibble (bits 28-31). 7-15 are unused and name themselves "UNKNOWN".
enum sm_event_type : int32_t {
    SM_EVENT_TYPE_ISDN = 0,
    SM_EVENT_TYPE_SIP = 1,
    SM_EVENT_TYPE_TIMER = 2,
    SM_EVENT_TYPE_GENERAL = 3,
    SM_EVENT_TYPE_GSM = 4,
    SM_EVENT_TYPE_ANALOG = 5,
    SM_EVENT_TYPE_CAS = 6,
};

constexpr int32_t sm_event_word(int32_t source, int32_t status, int32_t code)
{
    return (int32_t)(((uint32_t)source & 0xfu) << 28 | ((uint32_t)status & 0xfffu) << 16 |
                     ((uint32_t)code & 0xffffu));
}
// Outgoing events of a table row: status << 16 | code, no source.
constexpr int32_t sm_out(int32_t status, int32_t code) { return sm_event_word(0, status, code); }
constexpr int32_t sm_isdn(int32_t status, int32_t code) { return sm_event_word(SM_EVENT_TYPE_ISDN, status, code); }
constexpr int32_t sm_sip(int32_t status, int32_t code) { return sm_event_word(SM_EVENT_TYPE_SIP, status, code); }
constexpr int32_t sm_timer(int32_t code) { return sm_event_word(SM_EVENT_TYPE_TIMER, 0, code); }
constexpr int32_t sm_general(int32_t code) { return sm_event_word(SM_EVENT_TYPE_GENERAL, 0, code); }
constexpr int32_t sm_gsm(int32_t code) { return sm_event_word(SM_EVENT_TYPE_GSM, 0, code); }
constexpr int32_t sm_analog(int32_t code) { return sm_event_word(SM_EVENT_TYPE_ANALOG, 0, code); }
constexpr int32_t sm_cas(int32_t code) { return sm_event_word(SM_EVENT_TYPE_CAS, 0, code); }

constexpr int32_t sm_event_type_of(int32_t word) { return (int32_t)((uint32_t)word >> 28); }
constexpr int32_t sm_event_status_of(int32_t word) { return (int32_t)(((uint32_t)word >> 16) & 0xfffu); }
constexpr int32_t sm_event_code_of(int32_t word) { return (int32_t)((uint32_t)word & 0xffffu); }

// Splits a word: type = bits 28-31, event = bits 0-15, status = bits 16-27.
void decode_complex_event(int32_t word, int *type, int *event, int *status);
// "ISDN", "SIP", "TIMER", "GENERAL", "GSM", "ANALOG", "CAS" or "UNKNOWN".
const char *format_sm_type_string(int type);

// ---- event codes ----------------------------------------------------------
// The SIP stack's codes that producers outside call control queue (the
// SIP stack's nua_event_e; sm_events.cpp checks them against the stack).
enum sip_event_codes_used : int32_t {
    SIP_CODE_NUA_R_REGISTER = 29,
    SIP_CODE_NUA_R_INVITE = 31,
};

// 4096-4136: general events.
enum general_events : int32_t {
    GENERAL_EVENT_MSP_FAX_TONE_DETECTED = 4096,
    GENERAL_EVENT_SEND_INVITE = 4097,
    GENERAL_EVENT_FINISH_CALL = 4098,
    GENERAL_EVENT_ANALOG_DIALTONE_DETECTED = 4099,
    GENERAL_EVENT_ANALOG_RINGBACKTONE_DETECTED = 4100,
    GENERAL_EVENT_ANALOG_BUSYTONE_DETECTED = 4101,
    GENERAL_EVENT_ANALOG_UNOBTAINABLETONE_DETECTED = 4102,
    GENERAL_EVENT_ANALOG_INIT_INCOMING = 4103,
    GENERAL_EVENT_ANALOG_DTMF_DETECTED = 4104,
    GENERAL_EVENT_ANALOG_CALL_PROGRESS_TONE_DETECTED = 4105,
    GENERAL_EVENT_ANALOG_FXO_DIALING_FINISHED = 4106,
    GENERAL_EVENT_ANALOG_GOT_CID = 4107,
    GENERAL_EVENT_DIALPLAN_MATCH_FOUND = 4108,
    GENERAL_EVENT_FAX_REDIRECT = 4109,
    GENERAL_EVENT_GSM_INIT_INCOMING = 4110,
    GENERAL_EVENT_GSM_DIALING_FINISHED = 4111,
    GENERAL_EVENT_RTP_LOOPBACK = 4112,
    GENERAL_EVENT_GSM_GOT_CID = 4113,
    GENERAL_EVENT_ANALOG_RINGBACKTONE_END_DETECTED = 4114,
    GENERAL_EVENT_REGISTRATION_REFRESH = 4115,
    GENERAL_EVENT_DIALPLAN_GO_ON = 4116,
    GENERAL_EVENT_CAS_FXO_DIALTONE_DETECTED = 4117,
    GENERAL_EVENT_CAS_FXO_DIALING_FINISHED = 4118,
    GENERAL_EVENT_CAS_DTMF_DETECTED = 4119,
    GENERAL_EVENT_CAS_INIT_INCOMING = 4120,
    GENERAL_EVENT_CAS_MF_SIGNAL_DETECTED = 4121,
    GENERAL_EVENT_PSTN_NTENERGY_DET = 4122,
    GENERAL_EVENT_DNS_ENUM_FINISHED = 4123,
    GENERAL_EVENT_DNS_ENUM_FAILED = 4124,
    GENERAL_EVENT_ITAPI_INIT_OUTGOING = 4125,
    GENERAL_EVENT_ITAPI_CREATE_SOCKET = 4126,
    GENERAL_EVENT_ITAPI_CONNECT = 4127,
    GENERAL_EVENT_ITAPI_DISCONNECT = 4128,
    GENERAL_EVENT_ITAPI_ALERTING = 4129,
    GENERAL_EVENT_ITAPI_PROGRESS = 4130,
    GENERAL_EVENT_ITAPI_PROCEEDING = 4131,
    GENERAL_EVENT_ITAPI_UPDATE_CHANNEL = 4132,
    GENERAL_EVENT_ITAPI_HANGUP_RECEIVED = 4133,
    GENERAL_EVENT_VALIDATE_OPTIONS = 4134,
    GENERAL_EVENT_TRY_OTHER_ISDN_PORT = 4135,
    GENERAL_EVENT_RESTART_TRANSCODING = 4136,
};

// Whole words that producers queue.
enum sm_event_words : int32_t {
    SM_WORD_FINISH_CALL = sm_general(GENERAL_EVENT_FINISH_CALL),                 // 0x30001002
    SM_WORD_REGISTRATION_REFRESH = sm_general(GENERAL_EVENT_REGISTRATION_REFRESH), // 0x30001013
    SM_WORD_VALIDATE_OPTIONS = sm_general(GENERAL_EVENT_VALIDATE_OPTIONS),         // 0x30001026
    SM_WORD_REG_REFRESH_TIMER = sm_timer(T_EVENT_REG_REFRESH),                     // 0x20000401
    SM_WORD_REGISTER_408 = sm_sip(408, SIP_CODE_NUA_R_REGISTER),                            // 0x1198001d
    SM_WORD_INVITE_FINAL = sm_sip(1000, SIP_CODE_NUA_R_INVITE),                             // 0x13e8001f
    SM_WORD_INVITE_FAILOVER = sm_sip(1001, SIP_CODE_NUA_R_INVITE),                          // 0x13e9001f
};
static_assert(SM_WORD_FINISH_CALL == 0x30001002 && SM_WORD_REGISTRATION_REFRESH == 0x30001013 &&
              SM_WORD_VALIDATE_OPTIONS == 0x30001026 && SM_WORD_REG_REFRESH_TIMER == 0x20000401 &&
              SM_WORD_REGISTER_408 == 0x1198001d && SM_WORD_INVITE_FINAL == 0x13e8001f &&
              SM_WORD_INVITE_FAILOVER == 0x13e9001f,
              "event words as the machines expect them");

// ---- status field ----------------------------------------------------------
// Pseudo statuses of SIP words (the SIP event hub and the timer callback).
enum sip_pseudo_status : int32_t {
    SIP_STATUS_FINAL = 1000,          // a final 400-699 not kept as such, nua_i_terminated
    SIP_STATUS_FAILOVER_PROXY = 1001, // failover to the configured failover proxy
    SIP_STATUS_FAILOVER_GROUP = 1003, // failover to the next member of the call group
};
// What the timer callback records as the SIP leg's last status and compares
// with the call configuration's failover causes.
enum sip_timer_status : int32_t {
    SIP_TIMER_STATUS_FAILOVER = 909,
    SIP_TIMER_STATUS_T0 = 9000,
    SIP_TIMER_STATUS_T180 = 9180,
    SIP_TIMER_STATUS_T183 = 9183,
    SIP_TIMER_STATUS_T200 = 9200,
};
// Status of an ISDN start event: SETUP with sending-complete.
enum { ISDN_STATUS_SENDING_COMPLETE = 99 };

// ---- call states -------------------------------------------------------------
// One bit each. Bits 0-14 are common, bit 15 is unused, bits 16-31 depend on
// the call's kind. Rows hold states as int32_t, so bit 31 is INT32_MIN
// here; do bit work on states as uint32_t (sm_state_bits).
enum sm_call_states : int32_t {
    SM_INACTIVE = 0x1,
    SM_CALL_ACTIVE = 0x2,
    SM_DISMANTLING = 0x4,
    SM_DESTROYING = 0x8,
    SM_CALL_ACTIVE_REFERRING = 0x10,
    SM_SIP_INVITE_SENT = 0x20,
    SM_SIP_RINGING = 0x40,
    SM_SIP_INVITE_RECEIVED = 0x80,
    SM_SIP_INVITE_SENT_OVERLAP_DIALING = 0x100,
    SM_SIP_INVITE_SENT_OD_484 = 0x200,
    SM_SIP_INVITE_SENT_OD = 0x400,
    SM_SIP_INVITE_WAITING_FOR_DNS = 0x800,
    SM_SIP_INVITE_TRANSFER_REINVITE_1 = 0x1000,
    SM_SIP_INVITE_TRANSFER_REINVITE_2 = 0x2000,
    SM_SIP_INVITE_TRANSFER_REINVITE_3 = 0x4000,
};

// CI_SIP_TO_ISDN, CI_ISDN_TO_SIP, CI_TELNET_TO_ISDN
enum sm_isdn_states : int32_t {
    SM_ISDN_RINGING = 0x10000,
    SM_ISDN_WAIT_FOR_DIALING = 0x20000,
    SM_ISDN_WAIT_FOR_DIALING_OD = 0x40000,
};

// CI_SIP_TO_GSM, CI_GSM_TO_SIP
enum sm_gsm_states : int32_t {
    SM_GSM_DIALED = 0x10000,
    SM_GSM_RINGING = 0x20000,
    SM_GSM_INBOUND = 0x40000,
    SM_GSM_WAIT_FOR_CID = 0x80000,
};

// CI_SIP_TO_ITAPI
enum sm_itapi_states : int32_t {
    SM_ITAPI_SOCKET_CREATED = 0x10000,
    SM_ITAPI_DIALED = 0x20000,
    SM_ITAPI_ALERTING = 0x40000,
    SM_ITAPI_SOCKET_PREPARING = 0x80000,
};

// CI_SIP_TO_CAS, CI_CAS_TO_SIP
enum sm_cas_states : int32_t {
    SM_CAS_OFFHOOK = 0x10000,
    SM_CAS_WAIT_FOR_DIALING = 0x20000,
    SM_CAS_DIALING_FINISHED = 0x40000,
    SM_CAS_RINGING = 0x80000,
    SM_CAS_WAIT_FOR_IDLE = 0x100000,
    SM_CAS_WAIT_FOR_CID = 0x200000,
    SM_CAS_WAIT_FOR_DIALING_OD = 0x400000,
    SM_CAS_CID_WATCHDOG = 0x800000,
    SM_CAS_MF_SIGNALLING = 0x1000000,
    SM_CAS_CALL_ON_HOLD_REINVITE = 0x2000000,
    SM_CAS_CALL_ON_RETRIEVE_REINVITE = 0x4000000,
    SM_CAS_CALL_REFERRING = 0x8000000,
    SM_CAS_HOLD_IN_PROGRESS = 0x10000000,
    SM_CAS_CALL_REFERRED_WAITING = 0x20000000,
    SM_CAS_CALL_HOLD_CALL_FAILED = 0x40000000,
    SM_CAS_MESSAGE_WAITING = INT32_MIN, // bit 31, 0x80000000
};

// CI_SIP_TO_ANALOG, CI_ANALOG_TO_SIP on an FXS port
enum sm_analog_fxs_states : int32_t {
    SM_ANALOG_FXS_OFFHOOK = 0x10000,
    SM_ANALOG_FXS_RINGING = 0x20000,
    SM_ANALOG_FXS_WAIT_FOR_DIALING = 0x40000,
    SM_ANALOG_FXS_WAIT_FOR_DIALING_OD = 0x80000,
    SM_ANALOG_FXS_CALL_ON_HOLD = 0x100000,
    SM_ANALOG_FXS_CALL_ON_HOLD_REINVITE = 0x200000,
    SM_ANALOG_FXS_CALL_ON_RETRIEVE_REINVITE = 0x400000,
    SM_ANALOG_FXS_CALL_REFERRING = 0x800000,
    SM_ANALOG_FXS_HOLD_IN_PROGRESS = 0x1000000,
    SM_ANALOG_FXS_CALL_REFERRED_WAITING = 0x2000000,
    SM_ANALOG_FXS_CALL_HOLD_CALL_FAILED = 0x4000000,
    SM_ANALOG_FXS_MESSAGE_WAITING = 0x8000000,
    SM_ANALOG_FXS_WAIT_FOR_ONHOOK = 0x10000000,
};

// The same kinds on an FXO port
enum sm_analog_fxo_states : int32_t {
    SM_ANALOG_FXO_OFFHOOK = 0x10000,
    SM_ANALOG_FXO_RINGING = 0x20000,
    SM_ANALOG_FXO_DIALING_FINISHED = 0x40000,
    SM_ANALOG_FXO_WAIT_FOR_IDLE = 0x80000,
    SM_ANALOG_FXO_WAIT_FOR_CID = 0x100000,
    SM_ANALOG_FXO_CID_WATCHDOG = 0x200000,
};

// Registration states, one bit each.
enum sm_reg_states : int32_t {
    SM_REG_INACTIVE = 0x1,
    SM_SIP_REGISTRATION_PENDING = 0x2,
    SM_SIP_REGISTRATION_SUCCESSFUL = 0x4,
    SM_SIP_REGISTRATION_FAILED = 0x8,
    SM_SIP_REGISTRATION_DISMANTLING = 0x10,
    SM_SIP_REGISTRATION_CLEANUP = 0x20,
    SM_SIP_REGISTRATION_UNREGISTERED = 0x40,
    SM_SIP_NOT_VALIDATED_BY_OPTIONS = 0x80,
    SM_SIP_VALIDATED_BY_OPTIONS = 0x100,
    SM_SIP_WAITING_FOR_SLOT = 0x200,
};

// A state word as the bits it is.
constexpr uint32_t sm_state_bits(int32_t state) { return (uint32_t)state; }
static_assert(sm_state_bits(SM_CAS_MESSAGE_WAITING) == 0x80000000u, "SM_CAS_MESSAGE_WAITING is bit 31");
static_assert(SM_ANALOG_FXS_WAIT_FOR_ONHOOK == 0x10000000 && SM_ANALOG_FXO_CID_WATCHDOG == 0x200000,
              "per-kind lists end where the call states say");

// ---- registration tasks ----------------------------------------------------------
// Values of a task's event for a registration object; the task runner runs
// the word beside each on the registration's machine.
enum sm_reg_task_codes : int32_t {
    SM_REG_TASK_REG_REFRESH = 12349877,          // TIMER T_EVENT_REG_REFRESH
    SM_REG_TASK_REGISTRATION_REFRESH = 12349878, // GENERAL GENERAL_EVENT_REGISTRATION_REFRESH
    SM_REG_TASK_VALIDATE_OPTIONS = 12349879,     // GENERAL GENERAL_EVENT_VALIDATE_OPTIONS
    SM_REG_TASK_REGISTER_408 = 12349880,         // SIP 408 nua_r_register
};

// ---- actions -------------------------------------------------------------------------
// Every action of every table has the engine's signature: p is the call
// object (call tables) or the registration object (registration table),
// arg what the run was handed, state the state word before the run and
// event the incoming word. It returns {state, event} with the engine's
// markers; {-1, -1} leaves the row's own values.
typedef statemachine_handle sm_action;
#define SM_ACTION(name) statemachine_handle_retval name(void *p, void *arg, int32_t state, int32_t event)

// The actions of the last row (any state, any event) of every call table
// and of the registration table: they log the ignored event and return
// {-1, -1}.
SM_ACTION(sm_call_list_unhandled);
SM_ACTION(sm_reg_list_unhandled_reg);
