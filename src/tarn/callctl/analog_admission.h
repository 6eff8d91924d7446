// Admission of a SIP call toward an analog port (kept apart from
// analog_callctl.h: the SIP stack's headers come with it).
#pragma once
#include <sofia-sip/nua.h>

struct call_object;

// The dial plan line points to analog ports: picks one, answers the caller
// when none is free (0), or starts the SIP-to-FXS or SIP-to-FXO machine on
// it (0); -1 asks for the next dial plan line.
int init_incoming_sip_to_analog_call(const char *network_ip, int network_port, nua_event_t event, int status,
                                     char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh,
                                     call_object *co, sip_t const *sip);
