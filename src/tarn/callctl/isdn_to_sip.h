// Calls from an ISDN port out to SIP: the actions of the ISDN-to-SIP table
// (digit collection under the dial timer, the dial-plan search, the number
// rewriting with the national/international prefix rule, authorization, the
// INVITE, DTMF as SIP INFO, the end of a call without route, fax
// redirection, advice of charge toward ISDN), the SIP failover and response
// timers that every INVITE sender arms, and what these actions need of
// parts built elsewhere.
#pragma once
#include <cstddef>

#include "statemachine.h"

struct call_object;
struct misdn_bchannel;

// Arms the failover timer (sip_failover_timeout with a sip_failover_proxy)
// and the T0/T180/T183/T200 timers that sip_txx_timeout names
// ("T0:5;T180:10"; values 1..599 seconds); armed ones are removed first. 0.
int init_sip_failover_timers(call_object *co);

// The national/international prefix rule on a number: format 1 prefix
// "00", 2 "+", 3 none; numbers of digits only with at least 3 of them that
// are no emergency number ("|"-separated list). *previous and *modified
// keep the number before the rule, so a second run starts from it. The
// number texts are heap texts (or null).
void vaz_apply(call_object *co, int format, char **number, char **previous, int *modified, const char *what);

// The prefix rule on new_source with i2s_source_numformat (the tables name
// sm_add_vaz_to_new_destination, which runs it first); {-1, -1}.
statemachine_handle_retval sm_add_vaz_to_new_source(void *p, void *arg, int32_t state, int32_t event);

// The fax redirection of a call toward SIP: to the configured fax
// extension (and the fax proxy's group) once a fax calling tone was
// detected. sip_to_sip: the SIP-to-SIP rewriting's To fields instead of the
// line-to-SIP ones.
void pstn_to_sip_fax_detect_mangle_numbers(call_object *co, bool sip_to_sip);

// What the ISDN side of a call needs of parts built elsewhere. Unfilled
// members log once and do as said.
struct isdn_to_sip_hooks_record {
    // The call-authorization query: 1 allow, 0 deny (unfilled: 1).
    int (*call_query_authorization_server)(call_object *co, const char *server, const char *credentials,
                                           int reserved, int port, int pid, const char *called, const char *calling);
};
// Takes the non-null members.
void isdn_to_sip_set_hooks(const isdn_to_sip_hooks_record *hooks);
const isdn_to_sip_hooks_record &isdn_to_sip_hooks();
