// The DNS refresh loop ("tarn.dns"): keeps the resolved addresses of the SIP
// peers current. Each cycle refreshes the DNS cache, looks every SIP peer's
// proxy and registrar up again (by SRV or by A record), switches a peer whose
// registrar address changed to its new target and makes its registration
// register again, and rebuilds the per-peer packet-filter chains when
// anything changed.
#pragma once

struct port_group_sip;
struct dns_cache_srv_record;

// The refresh interval: dns_refresh_interval when it is 1 to 86400, else 120.
int dns_refresh_interval();
// Looks every A pattern and every SRV entry of the cache up again.
void dns_refresh_cache();
// One pass over the SIP peers under pgs_lock (steps 3 to 6 of a cycle): the
// number of changes counted; the packet-filter chains are rebuilt when it is
// not 0.
int dns_refresh_sip_peers();
// The thread body: 20 s, then a cycle every interval, until the stop.
void *dns_loop(void *);

// The target a peer's registrar record gives: the entry and the address
// index within it. in_use is the registrar address in use, history the
// peer's last targets (most recent first, null entries unused). The lowest
// priority value wins (the first of equal ones); an address still listed
// stays in use (behaviour 2: always; otherwise unless a lower priority value
// exists); after a failed registration another listed address is taken, one
// not among the last targets first, else the one used longest ago.
struct dns_srv_target {
    int record;
    int address_index;
};
dns_srv_target dns_choose_srv_target(const dns_cache_srv_record *r, const char *in_use, int registration_failed,
                                     int change_behaviour, const char *const *history, int history_count);
