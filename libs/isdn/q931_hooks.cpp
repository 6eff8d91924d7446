#include "q931_hooks.h"

static int no_port(int, q931_port_facts *) { return -1; }
static int no_send(misdn_bchannel *, event_e) { return -1; }
static int system_clock(const struct timespec *ts) { return clock_settime(CLOCK_REALTIME, ts); }

static time_t system_now(void) { return time(nullptr); }

static q931_hooks hooks = {no_port, no_send, system_clock, system_now};

void q931_set_hooks(const q931_hooks *h)
{
    if (!h)
        return;
    if (h->port_facts)
        hooks.port_facts = h->port_facts;
    if (h->send_event)
        hooks.send_event = h->send_event;
    if (h->set_clock)
        hooks.set_clock = h->set_clock;
    if (h->now)
        hooks.now = h->now;
}

void q931_reset_hooks(void)
{
    hooks = {no_port, no_send, system_clock, system_now};
}

int q931_port_facts_get(int port, q931_port_facts *out)
{
    return hooks.port_facts(port, out);
}

int q931_port_is_pri(int port)
{
    q931_port_facts f{};
    if (hooks.port_facts(port, &f) < 0)
        return -1;
    return f.pri;
}

int q931_send_event(misdn_bchannel *bc, event_e event) { return hooks.send_event(bc, event); }

int q931_set_clock(const struct timespec *ts) { return hooks.set_clock(ts); }

time_t q931_now(void) { return hooks.now(); }
