// Outgoing registrations: one registration object per user of every SIP
// port group that registers at its provider or validates it by OPTIONS,
// kept in the application's registration array (REGISTRATIONARRAYSIZE
// entries). Start-up sizes the array before the SIP stacks exist and starts
// the registrations near its end; the SIP peer reload takes them down and
// builds them again; the console removes one.
//
// The registration state machine, its timer callback and the REGISTER
// request belong to call control, which fills the hook record below.
#pragma once
#include <cstdint>

#include "sm_defs.h"
#include "statemachine.h"
#include "timer.h"

struct reg_object;
struct nua_s;
struct nua_handle_s;
struct port_group_sip_user;

// What call control provides. Never a null member once installed: an
// unfilled one logs once ("CRITICAL: ... not built") and does nothing
// (no machine, a timer that lapses, no REGISTER).
struct registration_hooks {
    // A new registration machine over the registration table.
    statemachine *(*create_statemachine_sipreg)(void *priv, int state, statemachine_send_event send_event);
    // The out-event sender handed to the machine.
    statemachine_send_event tarn_send_event;
    // The callback of registration timers.
    TimerEvent cb_timer_event;
    // One step of a registration machine (the caller holds global_lock).
    int (*do_reg_statemachine_run)(reg_object *ro, int event, int arg);
    // REGISTER on the registration's handle with its settings.
    int (*send_default_register_request)(reg_object *ro);
    // Resets a registration object before it is freed (call reset).
    void (*reset_rop)(reg_object *ro);
};
// Takes the non-null members (null keeps what is there); at start, before
// register_users.
void reg_set_hooks(const registration_hooks *hooks);
const registration_hooks &reg_hooks();

// The SIP stack calls of this part, replaceable by tests that run without a
// SIP stack. Defaults: nua_handle with the four tags, nua_unregister,
// unbind and nua_handle_destroy, and a sleep.
struct registration_sip_ops {
    nua_handle_s *(*create_handle)(nua_s *nua, reg_object *ro, const char *from, const char *registrar,
                                   const char *contact);
    void (*unregister)(nua_handle_s *nh);
    void (*destroy_handle)(nua_handle_s *nh);
    void (*pause_ms)(int ms);
};
extern registration_sip_ops reg_sip_ops;

// Sizes the array (the users of every group that registers or validates),
// each entry a fresh object; the previous array is freed.
void reg_init_outbound_registration_array();
// Starts every registration and validation; 0.
int register_users();
// Ends them: un-REGISTER for each (not for failed ones); 0.
int unregister_users();
// Frees every object (timer, handle, reset) and the array.
// REGISTRATIONARRAYSIZE keeps its value: the caller builds the array next.
void reg_clear_outbound_registration_array();
// Removes one object and closes the gap (under pgs_lock, then global_lock).
void reg_remove_from_outbound_registration_array(int idx);
// "sip:domain:port" (no "sip:" without add_sip_intro, no port when it is
// 0) into regaddress; the length written.
int format_registrar_url_string(reg_object *ro, char *regaddress, int regaddress_size, int add_sip_intro);

// The Contact of a user's registration: the object's sip_contact_all_setting
// with its dial-plan variables replaced when that option is set, else the
// user's contact string; at most size-1 characters.
void reg_format_contact(reg_object *ro, const port_group_sip_user *user, char *out, int size);
