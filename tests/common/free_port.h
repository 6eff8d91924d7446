// Ports for the far ends a test starts (sipp, q931peer, sockets of its own).
#pragma once

// A port that is free on this host for UDP and TCP and that no other test
// process holds: taken from below the kernel's ephemeral range, so no socket
// bound to port 0 (by a daemon, a simulator or anyone else) can take it
// between this call and the far end's bind. The claim lasts as long as the
// calling process. 0 when none is left.
int free_local_port();
