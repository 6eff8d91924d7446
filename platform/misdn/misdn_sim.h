// Hooks of the simulated ports for tests and fuzzers.
#pragma once
#include <cstdint>

// Hands one LAPD frame to the port as if it had arrived on its socket.
// 0, or -1 when no device is open or the port is not described.
int misdn_sim_inject(int port, const uint8_t *frame, int len);
// Runs every armed device and protocol timer at once, as if its time had
// come (the network library ignores expiries that come early). Returns how
// many ran.
int misdn_sim_expire_timers(void);
// Layer 1 of the port comes up or goes down, as a line does when it is
// plugged or pulled: the application gets PH_ACTIVATE or PH_DEACTIVATE
// indications, and on a TE port layer 2 is released. 0, or -1 as above.
int misdn_sim_set_l1(int port, bool up);
