// SIP access control: every incoming request of the LAN and WAN stacks is
// counted per source address and request kind; a source over its limit in
// one time frame gets a DROP rule in the packet filter and a line in its
// stack's blacklist file until the block duration has passed. Whitelisted
// sources are never counted.
#pragma once
#include <pthread.h>
#include <stdint.h>

#include <cstdio>
#include <ctime>

#include "sip_stack.h"

struct cm;

struct nua_s;

enum acl_packet_type {
    ACL_OPTIONS_PACKET = 0,
    ACL_INVITE_PACKET = 1,
    ACL_REGISTER_PACKET = 2,
    ACL_OTHER_PACKET = 3,
    ACL_PACKET_TYPES = 4,
};

// STACK_LAN and STACK_WAN are the stack types of sip_stack.h.
enum {
    STACK_ANY = 14,
};

enum {
    ACL_TABLE_SIZE = 2048,
    ACL_MAX_ENTRIES = 2047, // counted addresses per type, blacklist entries
    ACL_WHITELIST_SIZE = 1024,
    ACL_IP_SIZE = 16,
};

struct acl_call_attempt {
    char ip[ACL_IP_SIZE];
    int counter;
};

struct acl_blacklist_element {
    time_t insert_time;
    int id;
    char ip[ACL_IP_SIZE];
};

struct acl_whitelist_element {
    char ip[256];         // the address text of the whitelist line
    char ip_resolved[16]; // one address it resolved to
    uint32_t ipbytes;     // network order
    uint32_t ipbytes_masked;
    int netmask_prefix;
    uint32_t netmask; // network order
    char *regexp;     // not used
    int stack_type;   // STACK_LAN, STACK_WAN or STACK_ANY
};

struct tarn_acl {
    acl_call_attempt call_attempts[ACL_PACKET_TYPES][ACL_TABLE_SIZE];
    int call_attempts_size[ACL_PACKET_TYPES];
    time_t last_call_attempt_cleanup[ACL_PACKET_TYPES];
    acl_blacklist_element blacklist[ACL_TABLE_SIZE];
    int blacklist_size;
    acl_whitelist_element *whitelist;
    int whitelist_size;
    char name[32];
    char blacklist_path[256];
    char whitelist_path[256];
    struct sip_stack *sip_stack;
    struct sip_stack *ss;
    pthread_mutex_t acl_lock;
    int blacklist_block_duration;
    int blacklist_options_timeframe_length;
    int blacklist_max_options_packets_per_timeframe;
    int blacklist_invite_timeframe_length;
    int blacklist_max_invite_packets_per_timeframe;
    int blacklist_register_timeframe_length;
    int blacklist_max_register_packets_per_timeframe;
    int blacklist_other_timeframe_length;
    int blacklist_max_other_packets_per_timeframe;
};

// Start-up: an object for each active stack named "lan" or "wan".
void acl_init();

// Counts one request: 0 when it is to be dropped (the source is blacklisted
// or over its limit) or the type is unknown, else 1.
int acl_check(tarn_acl *acl, int type, const char *ip);

tarn_acl *acl_get_acl_by_nua(nua_s *nua);
tarn_acl *acl_get_acl_by_stackname(const char *name);

void acl_clear_attempts(tarn_acl *acl, int type);
// Releases the entries whose block duration has passed.
void acl_check_blacklist(tarn_acl *acl);
// Once a second from housekeeping, k counting seconds from its start: the
// time-frame resets and, every minute, the expiry of every object.
void acl_housekeeping(long k);

// Blocks an address (DROP rule, blacklist entry); the caller holds acl_lock.
void acl_block_ip(tarn_acl *acl, const char *ip);
void acl_unblock_all_ips_from_blacklist(tarn_acl *acl, int lock);
void acl_unblock_ip_from_blacklist_by_id(tarn_acl *acl, int id, int lock);

int acl_read_tarn_whitelist(tarn_acl *acl, int lock);
int acl_read_tarn_blacklist(tarn_acl *acl, int lock);
int acl_write_tarn_blacklist(tarn_acl *acl, int lock);

// Reads the stack's settings from tarn.conf (objects "lan" and "wan" only).
void acl_set_configured_values(tarn_acl *acl, cm *config);
void acl_set_blacklisting_block_duration(tarn_acl *acl, int value);
void acl_set_blacklisting_max_options_packets(tarn_acl *acl, int value);
void acl_set_blacklisting_options_timeframe(tarn_acl *acl, int value);
void acl_set_blacklisting_max_invite_packets(tarn_acl *acl, int value);
void acl_set_blacklisting_invite_timeframe(tarn_acl *acl, int value);
void acl_set_blacklisting_max_register_packets(tarn_acl *acl, int value);
void acl_set_blacklisting_register_timeframe(tarn_acl *acl, int value);
void acl_set_blacklisting_max_other_packets(tarn_acl *acl, int value);
void acl_set_blacklisting_other_timeframe(tarn_acl *acl, int value);

// The mask of a prefix length (0-32) in network and in host byte order.
uint32_t get_netmask_from_prefix(int prefix);
uint32_t calculate_netmask_from_prefix(int prefix);

const char *acl_packet_type_to_string(int type);
