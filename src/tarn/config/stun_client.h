// The STUN client: behind NAT the gateway learns its public address from the
// configured STUN servers. One thread ("tarn.stun") asks every server of the
// application's list in turn for the mapped address, keeps each answer as
// that server's external address, and when an address is new or changed
// makes the registrations whose first STUN server it is register again and
// rebuilds the Contact of the SIP groups that do not register. Passes run
// every 60 s, or at once when the list changes (stunserver_reload).
#pragma once
#include <cstddef>

// The thread body; runs until stun_client_stop.
void *stun_client_loop(void *);
// Starts the thread into the application's stun_thread (configuration load,
// step 17): 0, or -1.
int stun_client_start();
// Ends the thread and waits for it (orderly stop); safe without a start.
void stun_client_stop();

// The address learned from the server of that name into buf: 1, or 0 when
// it has none (the SIP port groups' hook).
int stun_learned_address(const char *stunserver, char *buf, size_t size);

// One pass over the servers (the thread's step 2), for tests that drive the
// client without its thread. Needs su_init.
void stun_client_pass();
