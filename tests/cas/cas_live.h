// Shared set-up of the CAS tests that run against cassim: a private path
// root, the simulator with its channels, the timer service, the port
// mappings and cas_init, and a recorder of the callback's events.
//
// The timer service has no thread here: the tests run its passes, so ring
// cadences and on-hook timers are counted in exact ticks however loaded the
// machine is, and nothing expires while a test looks elsewhere.
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
// What the library reported to its callback.
extern line_events cas_seen;
// The patterns the simulator received on a port, in order.
std::vector<std::string> cas_patterns(int port);
// Waits until the port's timer is counting (armed by the library's threads)
// and returns the ticks it has left; -1 when it is not armed within ms.
int cas_wait_armed(int port, int ms = 3000);
// Ticks left on the port's timer (0: stopped or expired; -1: none yet).
int cas_timer_ticks(int port);
// Runs timer passes until the port's timer has expired: the number of
// passes that took, or -1 when it is still counting after `max`.
int cas_passes_until_expiry(int port, int max);
// How many lines the library has read on the port so far.
int cas_lines_read(int port);
// Waits until the library has read `count` lines on the port.
bool cas_wait_lines_read(int port, int count, int ms = 3000);

// Waits until the port's state has the name (the library changes some
// states after its callback returns); true when it has.
bool cas_wait_state(int port, const char *state, int ms = 2000);
// The library marks a port in use after the event callback returns: tests
// that saw the event wait for the mark.
bool cas_wait_in_use(int port, int want, int ms = 2000);
