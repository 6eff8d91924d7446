// Hooks of the simulated ports for tests and fuzzers.
#pragma once
#include <cstdint>

// Hands one LAPD frame to the port as if it had arrived on its socket.
// 0, or -1 when no device is open or the port is not described.
int misdn_sim_inject(int port, const uint8_t *frame, int len);
// Runs every device and protocol timer that is due at once (as if their
// time had come). Returns how many ran.
int misdn_sim_expire_timers(void);
