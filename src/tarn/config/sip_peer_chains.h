// Per-SIP-peer packet-filter chains. Below the parent chain
// `configured_sip_peers` every SIP peer group gets a chain "csp__<suffix>"
// with ACCEPT rules for each of its resolved peer addresses. A tracker
// remembers the chains and rules issued, so repeated updates (after peer
// reloads and DNS refreshes) issue only what is new.
//
// The tracker is not locked itself: callers hold pgs_lock, as for the
// SIP peer groups themselves.
#pragma once
#include <cstdio>

enum {
    IPTABLES_MAX_CHAINS = 128,
    IPTABLES_MAX_RULES = 512,
    // "csp__" and the suffix fit the filter's 28 characters.
    PG_CHAIN_SUFFIX_MAX = 23,
};

struct iptables_rules_information {
    char *sip_stack_name; // owned; the group's stack, or "default"
    char *chain_name;     // owned; the group's chain suffix
    char *ip;             // owned; one peer address
    int transport;        // the group's transport bits, 4 (TLS alone) stored as 2
    int applied;          // always 0
};

struct iptables_rules_tracker {
    char *iptables_chain_names[IPTABLES_MAX_CHAINS]; // owned suffixes
    int iptables_chain_names_count;
    iptables_rules_information *iptables_rules[IPTABLES_MAX_RULES];
    int iptables_rules_count;
};

// A SIP peer group as its chain sees it: what the SIP port groups hand in.
struct pg_chain_group {
    const char *name;           // the group's name
    const char *sip_stack_name; // its SIP stack's name, or null ("default")
    const char *const *active_ips;
    int active_ips_count;
    int transport; // bits: 1 UDP, 2 TCP, 4 TLS
};

// The SIP port groups fill this: it calls visit for every SIP peer group in
// table order. Until it is filled, updating all groups logs once and does
// nothing.
typedef void (*pg_chain_visit)(const pg_chain_group *group, void *context);
extern void (*pg_for_each_sip_peer_group)(pg_chain_visit visit, void *context);

// The chain suffix of a group name: its first 23 characters, every
// character other than [A-Za-z0-9._-] as '_'.
void pg_chain_suffix(const char *group_name, char out[PG_CHAIN_SUFFIX_MAX + 1]);

// Brings one group's chain and rules up to date; the number of groups'
// addresses newly accepted.
int pg_update_iptables_rules(const pg_chain_group *group);
// Every group, then (with the experimental option iptables_delete) the
// chains of groups that are gone.
void pg_update_all_iptables_rules();
// Forgets every chain and rule and empties configured_sip_peers.
void pg_remove_all_iptables_rules();

int pg_iptables_add_rule(const char *sip_stack_name, const char *chain_name, const char *ip, int transport);
int pg_iptables_has_rule(const char *sip_stack_name, const char *chain_name, const char *ip, int transport);
int pg_iptables_add_chain(const char *chain_name);
int pg_iptables_has_chain(const char *chain_name);

// The console listing of the tracker.
void pg_iptables_list(FILE *out);
