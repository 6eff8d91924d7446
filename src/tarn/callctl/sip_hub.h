// The SIP event hub: every SIP stack reports each of its events to
// nua_event_callback, which drops it (daemon not ready, access control,
// stale handle), answers it on the spot (Replaces, shutdown, referring
// handles), hands it to a handler (registrations, OPTIONS, NOTIFY, new
// INVITE and MESSAGE requests) or turns it into an event word for the
// call's machine.
#pragma once
#include <sofia-sip/nua.h>

struct call_object;
struct reg_object;

// The stack's callback: takes global_lock around nua_event_callback_locked.
void nua_event_callback(nua_event_t event, int status, char const *phrase, nua_t *nua, nua_magic_t *magic,
                        nua_handle_t *nh, nua_hmagic_t *hmagic, sip_t const *sip, tagi_t tags[]);
// The hub itself; the caller holds global_lock.
void nua_event_callback_locked(nua_event_t event, int status, char const *phrase, nua_t *nua, nua_magic_t *magic,
                               nua_handle_t *nh, nua_hmagic_t *hmagic, sip_t const *sip, tagi_t tags[]);

// Makes the leg whose handle is nh the call's active leg (incoming leg
// first); no match leaves it.
void activate_call_leg_by_handle(call_object *co, nua_handle_t *nh);

// The event word a SIP event becomes for the call's machine in state
// (status 401/407/484 plain, 1000 for final errors, 1001/1003 and the dial
// plan's go-on for failover causes, 1002 for the wait-for-cancel mark).
// May clear sdp_offer_sent and writes the failover line.
int sip_event_word(call_object *co, int state, nua_event_t event, int status, const char *phrase,
                   bool wait_for_cancel_mark);

// The answers to OPTIONS and NOTIFY outside a call.
void handle_incoming_option(nua_event_t event, int status, char const *phrase, nua_t *nua, nua_magic_t *magic,
                            nua_handle_t *nh, call_object *co, sip_t const *sip);
void handle_incoming_sip_notify(const char *network_ip, nua_event_t event, int status, char const *phrase,
                                nua_t *nua, nua_magic_t *magic, nua_handle_t *nh, call_object *co, sip_t const *sip,
                                tagi_t tags[]);

// What the hub hands on to parts built elsewhere. Unfilled members log
// once and do as described.
struct sip_hub_hooks {
    // Registrations' events (unfilled: the event is dropped).
    void (*nua_event_callback_register)(nua_event_t event, int status, char const *phrase, nua_t *nua,
                                        nua_magic_t *magic, nua_handle_t *nh, reg_object *ro, sip_t const *sip,
                                        tagi_t tags[]);
    // A new INVITE or MESSAGE (unfilled: the handle is destroyed, which the
    // stack answers 480).
    void (*init_incoming_sip_call)(const char *host, int port, nua_event_t event, int status, char const *phrase,
                                   nua_t *nua, nua_magic_t *magic, nua_handle_t *nh, call_object *co,
                                   sip_t const *sip, tagi_t tags[]);
};
// Takes the non-null members; null puts every member back to unfilled.
void sip_hub_set_hooks(const sip_hub_hooks *hooks);
