// Shared set-up of the CAS tests that run against cassim: a private path
// root, the simulator with its channels, the timer service, the port
// mappings and cas_init, and a recorder of the callback's events with their
// times on the monotonic clock.
#pragma once
#include "line_events.h"
#include "linesim_client.h"
#include "t1e1casctl.h"

#include <string>
#include <vector>

struct cas_live_port {
    int port;
    int dev, chan;     // device /dev/cas<dev>/<chan>
    int protocol;      // HWCONF_ISDN_PROTOCOL_T1 or _E1
    int signalling;
    std::string role;  // cassim far end with its settings: "role=t1set,rings=2"
};

// Starts cassim and the library once for the test program; false on failure.
bool cas_live_start(const std::vector<cas_live_port> &ports);
void cas_live_stop();
linesim &cas_sim();
// The simulator's channel name of a port ("0/1").
std::string cas_channel(int port);
// Converts a simulator time stamp to the monotonic clock.
double cas_sim_time(double t);
// What the library reported to its callback.
extern line_events cas_seen;
// The patterns the simulator received on a port, in order.
std::vector<std::string> cas_patterns(int port);
// The timer service's passes, recorded by a timer that fires on every pass
// from cas_live_start on: the time of the n-th pass after monotonic time t,
// or -1 when there is none yet. Cadences are checked against the ticks the
// timer service really counted (it may run a few per cent slow on a loaded
// machine, as its passes are 10 ms sleeps).
double cas_pass_after(double t, size_t n);

// Waits until the port's state has the name (the library changes some
// states after its callback returns); true when it has.
bool cas_wait_state(int port, const char *state, int ms = 2000);
// The library marks a port in use after the event callback returns: tests
// that saw the event wait for the mark.
bool cas_wait_in_use(int port, int want, int ms = 2000);
