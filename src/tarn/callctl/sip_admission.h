// Admission of a new SIP request (an INVITE, or a MESSAGE outside a dialog)
// that reached the event hub without a call object: the inbound throttle,
// the identity and gateway headers, a call object with its incoming leg,
// media resource and RTP port, the dial plan search with the 155 "Trying"
// answer, the call's active configuration, and the hand-over to the
// admission of the line's destination technology (ISDN, GSM, SIP here;
// analog and CAS through hooks).
//
// Everything here runs in a SIP stack's event-loop thread under
// global_lock (taken by the hub).
#pragma once
#include <sys/time.h>

#include <cstddef>

#include <sofia-sip/nua.h>

#include "statemachine.h"

struct call_object;
struct call_leg_sip;
struct misdn_bchannel;

// The hub's hook: admits the request or refuses it. co is null for a new
// request; host and port are the request's numeric source.
void init_incoming_sip_call(const char *network_ip, int network_port, nua_event_t event, int status,
                            char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh, call_object *co,
                            sip_t const *sip, tagi_t tags[]);

// The inbound throttle: 1 admit, 0 drop. The limits are the experimental
// options eo_sip_inbound_limit_max_calls_per_timeframe (N, 0 = off) and
// eo_sip_inbound_limit_timeframe_length (milliseconds).
int is_incoming_call_allowed();
// The same at a given time (tests).
int is_incoming_call_allowed_at(const struct timeval &now);
// Forgets every admission time and count (tests).
void sip_admission_reset_throttle();
// Requests seen and admitted by the throttle while it was on.
unsigned sip_incoming_total_calls();
unsigned sip_incoming_total_accepted_calls();

// The leg becomes the active leg when it is the call's incoming or outgoing
// leg ("ACTIVATING CALL LEG 1/2" on a SIP-to-SIP call); others change
// nothing.
void activate_call_leg(call_object *co, call_leg_sip *leg);

// The setting with its dial plan variables filled in with the call's
// values, into new_contact (at most size - 1 characters). 0, or -1 without
// a setting.
int create_custom_contact(call_object *co, const char *contact_setting, char *new_contact, size_t size);
// The call's move_on_pstn_fail target as a Contact value: "<sip:%s>" when
// it holds "@", else "<sip:%s@%s>" with the active leg's address. 0, or -1
// (out empty) when the option is empty.
int move_on_pstn_fail_create_contact_string(call_object *co, char *out, size_t size);

// Failover tests of answers to a call's outgoing INVITE.
int do_we_have_a_failover_status(call_object *co, int status);
int do_we_have_a_failover_status_callgroup(call_object *co, int status);
int do_we_have_sip_callgroup_alternatives(call_object *co);
// The next call-group member (counting call_group_index up), or null.
char *get_next_sip_callgroup_alternative(call_object *co);

// Admissions toward the line's destination technology: 0 ends the
// admission (call set up or refused), -1 asks for the next dial plan line.
int init_incoming_sip_to_isdn_call(const char *network_ip, int network_port, nua_event_t event, int status,
                                   char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh,
                                   call_object *co, sip_t const *sip);
int init_incoming_sip_to_gsm_call(const char *network_ip, int network_port, nua_event_t event, int status,
                                  char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh,
                                  call_object *co, sip_t const *sip);
int init_incoming_sip_to_sip_call(const char *network_ip, int network_port, nua_event_t event, int status,
                                  char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh,
                                  call_object *co, sip_t const *sip);

// A free registered GSM port for a dial plan target ("g:group" or a port
// list): the port (1-6), also stored in the call's gsm_port, or 0.
int get_free_gsm_port_by_dialplan_string(call_object *co, const char *target);

// The user-user data of a rewritten user-user name: 0x01, length + 3,
// 0x81, ':' and the text (at most 251 characters, so the bytes and the
// terminator fit the 256-byte field); uulen is the text length + 5.
void sip_admission_fill_user_user(misdn_bchannel *bc, const char *name);

// Signature shared by the line admissions (and their hooks).
typedef int (*sip_line_admission)(const char *network_ip, int network_port, nua_event_t event, int status,
                                  char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh,
                                  call_object *co, sip_t const *sip);

// What the admission calls in parts built elsewhere. An unfilled member logs
// once and does what is said with it.
struct sip_admission_hooks {
    // SIP to analog and CAS (unfilled: -1, the next dial plan line).
    sip_line_admission init_incoming_sip_to_analog_call;
    sip_line_admission init_incoming_sip_to_cas_call;
    // The out-event senders of the ISDN and GSM machines (unfilled: the
    // event is dropped, 0).
    statemachine_send_event tarn_send_event;
    statemachine_send_event tarn_gsm_send_event;
    // The "User-To-User" header value onto the call's B-channel (unfilled:
    // nothing).
    int (*apply_sip_user_user_to_bc)(call_object *co, const char *value);
    // The line's national/international prefix rule on the new destination
    // (unfilled: nothing).
    int (*sm_add_vaz_to_new_destination)(call_object *co);
};
// Takes the non-null members; null puts every member back to unfilled.
void sip_admission_set_hooks(const sip_admission_hooks *hooks);
