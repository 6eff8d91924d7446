// Outgoing registrations and peer validation: the REGISTER and OPTIONS
// requests of a registration object, the actions of the registration table
// (digest answers, refresh intervals after success and failure, the
// server's Expires, re-registering on a new handle, the TCP probe of a
// registrar before it), and the events of a registration's SIP handle with
// the SNMP notification lines they cause.
#pragma once
#include <sofia-sip/nua.h>

#include <cstddef>

struct reg_object;

// REGISTER on the object's current handle with the group's settings (Expires,
// outbound options, keep-alive, User-Agent, registrar, 1TR119 headers);
// 0, or -1 without handle or SIP group.
int send_default_register_request(reg_object *ro);

// Starts a non-blocking TCP connect to the registrar of a TCP or TLS group
// (nothing for UDP); 0, or -1 when no socket could be opened.
int reg_object_probe_peer(reg_object *ro);
// Whether that connect has succeeded: 0 when the socket is writable without
// error, else -1; the socket is closed and forgotten in every case.
int check_peer_connect(reg_object *ro);

// The events of a registration's handles; the SIP hub calls it with
// global_lock held.
void nua_event_callback_register(nua_event_t event, int status, char const *phrase, nua_t *nua,
                                 nua_magic_t *magic, nua_handle_t *nh, reg_object *ro, sip_t const *sip,
                                 tagi_t tags[]);

// The state texts of the SIP peer report: the registration state's name and
// the last REGISTER status ("REGISTRATION_DISABLED" and 0 for a group that
// does not register); "VALIDATED" / "NOT_VALIDATED" and the last OPTIONS
// status ("VALIDATION_DISABLED" and 0 for a group that does not validate).
const char *snmp_get_registration_info(reg_object *ro, int *last_status);
const char *snmp_get_validation_info(reg_object *ro, int *last_status);

// Pieces of the above, for tests.
// The refresh timer after a success with a granted interval of base
// seconds: base-5 above 30, base-1 from 2 to 30, base itself below 2.
int reg_refresh_interval_for_success(int base);
// The event word of a registration's SIP event (401, 407, 484 as they are,
// 403 too while callinfo is CI_REGISTER; nua_i_terminated and 400..699 as
// status 1000).
int reg_event_word(int callinfo, nua_event_t event, int status);
// The outbound option text of an option word ("gruuize no-outbound ...").
void reg_outbound_option_text(int options, char *out, size_t size);
// Whether a peer's answer counts as reached: below 500 and not 408.
bool reg_peer_answered(int status);
