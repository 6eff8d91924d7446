// Reloading the SIP peers (tarn.sip) while calls run, and the STUN server
// list collected from the SIP port groups.
#pragma once

// Takes the registrations down, reads tarn.sip again, rebuilds the SIP port
// groups, the STUN server list, the registrations, the dial plan and the
// per-peer packet-filter chains, and registers again. With
// iptables_has_been_flushed the per-peer chains are first forgotten and
// emptied. A reload asked for while one runs returns at once with
// "Reregister already in progress!". 0; a configuration that cannot be read
// ends the process with 99.
int reload_sip_peers(int iptables_has_been_flushed);
// Thread body of the console's reload: the argument is the flag above as an
// intptr_t. Ends with 0.
void *run_reload_sip_peers_thread(void *arg);

// Rebuilds the application's STUN server list from every SIP port group's
// servers: sorted byte-wise, without duplicates. An unchanged list stays as
// it is; a new one replaces it under stun_lock and asks the STUN client for
// a new pass. 0.
int collect_stun_servers();

// Whether a reload has begun and not yet ended.
bool sip_reload_running();
