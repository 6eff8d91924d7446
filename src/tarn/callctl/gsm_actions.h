// Table actions of calls between SIP and a GSM/LTE modem port (the others
// are declared with every table action in state_table_actions.h), and what
// they need from parts of call control built elsewhere.
#pragma once
#include <cstddef>

#include "sm_defs.h"

struct call_object;

// Marks a manual termination: special_termination_reason 1 when it is 0.
SM_ACTION(sm_set_special_termination_reason_manual);

// The port's wait for the caller number in seconds: the port's
// cid_wait_time, 1 when the port has no settings.
int gsm_cid_wait_seconds(int port);

// Parts of the INVITE of a GSM call that other parts of call control
// build. An unset member logs once and its step is skipped.
struct gsm_invite_hooks {
    // Appends the 1TR119 INVITE headers.
    void (*set_headbuf_1tr119_invite_headers)(char *buf, size_t size);
    // Arms the SIP failover and response timers of an outgoing INVITE.
    int (*init_sip_failover_timers)(call_object *co);
};
// Takes the non-null members; null puts every member back to unset.
void gsm_set_invite_hooks(const gsm_invite_hooks *hooks);
