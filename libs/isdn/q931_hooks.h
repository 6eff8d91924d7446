// What the message coders need from the parts of the library around them:
// facts about a port (its stack), sending an event on a call, and setting
// the system clock from a received date. The port and sending parts install
// their functions at start; until then a port has no stack, nothing can be
// sent and the clock is set through clock_settime.
#pragma once
#include <ctime>

#include "isdn_lib_types.h"

struct misdn_bchannel;

struct q931_port_facts {
    int pri;     // 1 primary rate
    int cidlen;  // channel-identification length of the port
    int nt;
};

struct q931_hooks {
    // 0 and the facts of a configured port, -1 when it has no stack.
    int (*port_facts)(int port, q931_port_facts *out);
    // Sends an event on a call (misdn_lib_send_event).
    int (*send_event)(misdn_bchannel *bc, event_e event);
    // Sets the system clock; 0 or -1.
    int (*set_clock)(const struct timespec *ts);
    // The present time.
    time_t (*now)(void);
};

// Installs the functions given; null members keep the defaults.
void q931_set_hooks(const q931_hooks *hooks);
// Back to the defaults.
void q931_reset_hooks(void);

int q931_port_facts_get(int port, q931_port_facts *out);
// misdn_lib_port_is_pri as the coders see it: pri, -1 for no stack.
int q931_port_is_pri(int port);
int q931_send_event(misdn_bchannel *bc, event_e event);
int q931_set_clock(const struct timespec *ts);
time_t q931_now(void);
