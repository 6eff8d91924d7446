// SIP port groups ("SIP peers"): the far SIP parties of the gateway, one per
// name section of tarn.sip, with their proxy and registrar resolved through
// the DNS cache, their accounts, the addresses that belong to them and the
// URI strings handed to the SIP stack.
//
// Generations: a reload frees the previous generation, moves the current one
// to old and builds a new current one. A call or registration that keeps a
// pointer to a group holds its generation (pg_sip_hold) and lets go of it
// when done (pg_sip_release); a generation is freed only once the group
// tables and every holder have let go of it, so a call that outlives two
// reloads never reads freed groups.
//
// These functions take no lock of their own: the reload and the DNS refresh
// hold pgs_lock (and the reload global_lock) around their work, lookups from
// call handling run under global_lock.
#pragma once
#include <cstddef>
#include <cstdint>

#include "call_configuration.h"

struct dns_cache_a_record;
struct dns_cache_srv_record;
struct sip_stack;
struct pg_sip_generation;
struct reg_object;

enum {
    PGS_ACTIVE_IPS_MAX = 64,
    PGS_TARGET_HISTORY = 8,
    PGS_LAYER_CONTROL_GROUPS = 16,
};

// Match-type bits: how incoming requests are matched to a group.
enum {
    PGS_MATCH_ADDRESS = 2,
    PGS_MATCH_FROMUSER = 4,
    PGS_MATCH_TOUSER = 8,
    PGS_MATCH_CONTACTUSER = 16,
    PGS_MATCH_REQUESTURLUSER = 32,
    PGS_MATCH_MANUAL = 256,
};

// Targets and resolve modes of pg_get_formatted_address_string.
enum { PGS_TARGET_PROXY = 0, PGS_TARGET_REGISTRAR = 1 };
enum { PGS_RESOLVE_ADDRESS = 1, PGS_RESOLVE_RANDOM = 2 };

// The DNS-change behaviour of a group's registrations.
enum { PGS_DNS_CHANGE_IMMEDIATELY = 1, PGS_DNS_STAY_ON_LOWER_PRIORITY = 2 };

struct port_group_sip_user {
    char *pgsu_user;
    char *pgsu_authuser;
    char *pgsu_secret;
    char *pgsu_displayname;
    char *pgsu_contact_string;
    char *pgsu_nutag_request_url_string;
    char *pgsu_siptag_from_string;
    char *pgsu_siptag_register_from_string;
    int32_t pgsu_refresh_interval_server;
};

// Every string is the group's own copy.
struct port_group_sip {
    char *pgs_name;
    port_group_sip_user **pgs_users;
    int32_t pgs_user_count;
    char *pgs_sip_domain;
    int32_t pgs_sip_domain_set;
    int32_t pgs_proxy_and_registrar_identical;
    char *pgs_sip_proxy;
    char *pgs_sip_proxy_using_address_resolved;
    char *pgs_sip_proxy_using_address_resolved_old;
    int32_t pgs_sip_proxy_is_ip;
    int32_t pgs_sip_proxy_port;
    char *pgs_sip_registrar;
    char *pgs_sip_registrar_using_address_resolved;
    char *pgs_sip_registrar_using_address_resolved_old;
    int32_t pgs_sip_registrar_is_ip;
    int32_t pgs_sip_registrar_port;
    int32_t pgs_srv_dns_requested;
    int32_t pgs_srv_dns_active;
    dns_cache_a_record *pgs_a_record_proxy;
    dns_cache_a_record *pgs_a_record_registrar;
    dns_cache_a_record *pgs_a_record_proxy_old;
    dns_cache_a_record *pgs_a_record_registrar_old;
    dns_cache_srv_record *pgs_srv_record_proxy;
    dns_cache_srv_record *pgs_srv_record_registrar;
    dns_cache_srv_record *pgs_srv_record_proxy_old;
    dns_cache_srv_record *pgs_srv_record_registrar_old;
    char *pgs_nutag_proxy_address_string;
    char *pgs_nutag_proxy_address_string_old;
    char *pgs_nutag_registrar_address_string;
    char *pgs_nutag_registrar_address_string_old;
    char *pgs_active_ips[PGS_ACTIVE_IPS_MAX];
    int32_t pgs_active_ips_count;
    char *pgs_last_register_target_ips[PGS_TARGET_HISTORY];
    int32_t pgs_last_register_target_ips_fail_time[PGS_TARGET_HISTORY];
    char **pgs_stunserver;
    int32_t pgs_stunserver_count;
    char *pgs_contact_string;
    int32_t pgs_do_validate;
    int32_t pgs_do_register;
    int32_t pgs_refresh_interval;
    int32_t pgs_refresh_interval_failed;
    char *pgs_config_string;
    char *pgs_externip;
    char *pgs_register_options;
    char *pgs_port_group_id;
    int32_t pgs_transport; // 1 UDP, 2 TCP, 4 TLS
    call_configuration pgs_cc;
    int32_t pgs_outbound_options;
    int32_t pgs_matchtype;
    int32_t pgs_enum_support;
    char **pgs_enum_search_domains;
    int32_t pgs_enum_search_domain_count;
    char *pgs_matchtype_manual;
    int32_t pgs_keepalive_interval;
    int32_t call_transfer_method; // 0 REFER, 1 re-INVITE
    int32_t pgs_allow_resync_by_notify;
    char *pgs_callgroup_name;
    int32_t pgs_callgroup_priority;
    int32_t pgs_max_simultaneous_calls;
    int32_t pgs_via_rport;
    sip_stack *pgs_sip_stack;
    char *pgs_emergency_numbers;
    char *pgs_isdn_layer_control_group[PGS_LAYER_CONTROL_GROUPS];
    int32_t pgs_isdn_layer_control_group_offtime[PGS_LAYER_CONTROL_GROUPS];
    int32_t pgs_isdn_layer_control_group_count;
    int32_t pgs_regrefresh_after_validation_fail;
    int32_t pgs_registration_failed;
    int32_t pgs_srv_minimum_register_time;
    int32_t pgs_dns_change_registrar_behaviour;
    int32_t pgs_recheck_dns_srv;
    int32_t pgs_index;
    // The generation the record belongs to (null for __local__).
    pg_sip_generation *pgs_generation;
};

// ---- building and freeing -----------------------------------------------------

// Builds the current generation from the name sections of tarn.sip: 0, or -1
// when a key of a group could not be read. A current generation left from an
// earlier build (start-up builds twice when the stack parameters fail) is let
// go of first.
int pg_init_sip_port_group_struct();
// Fills one group from its section: 0, or -1 when no SIP stack fits (the
// group is dropped). Sets *external_ips when the group uses STUN servers or an
// external IP, *error when a key could not be read.
int pg_create_pgs(port_group_sip *pgs, const char *section, int *external_ips, int *error);
// The internal group "__local__" (made once).
void pg_init_sip_port_group_local();
// Lets go of the old generation, makes the current one old, leaves current
// empty.
void pg_free_sip_port_group_struct();
// Frees what the group owns (texts, users, DNS records, call configuration)
// and clears it; the record itself stays.
void pg_free_pgs(port_group_sip *pgs);
// Frees both generations and the local group (tests; the daemon keeps them).
void pg_free_all_sip_port_groups();

// A pointer kept beyond the current event (a registration's or a call's
// group) holds the group's generation; null and __local__ are ignored.
void pg_sip_hold(const port_group_sip *pgs);
void pg_sip_release(const port_group_sip *pgs);

// Frees the group's SRV records and resolves new ones for its proxy and
// registrar with the group's transport (no refresh); the blocking flag is not
// used. Always 0.
int resolve_srv_pgs(port_group_sip *pgs, int blocking);

// ---- look-ups -------------------------------------------------------------------

// Null for null. "x:name" (a one-letter kind prefix) is looked up as "name";
// "__local__" gives the local group with user index 0; "group:user" gives the
// group only when it has that user, and the user's index; a plain name gives
// the group of exactly that name with user index -1. user_index may be null.
port_group_sip *pg_get_port_group_sip_by_name(const char *name, int *user_index);
int pg_parse_matchtype_from_sip_group(const char *text);

// ---- URIs, addresses, contacts --------------------------------------------------

// The proxy's or registrar's URI into buf; the length snprintf gives.
int pg_get_formatted_address_string(const port_group_sip *pgs, int target, int resolve_mode, char *buf,
                                    size_t size);

void pg_add_ip_to_active_ip_list(port_group_sip *pgs, const char *ip);
void pg_clear_active_ips(port_group_sip *pgs);
void pg_refresh_active_ip_list(port_group_sip *pgs);
void pg_prepend_target_ip_to_history(port_group_sip *pgs, const char *ip);

// Links the ISDN groups that monitor a SIP peer into its layer-control lists.
void pg_refresh_monitored_sip_peers();
// Appends one ISDN group to a group's layer-control lists: a name already
// listed or a full list (16) changes nothing. 0 when added, else -1.
int pg_add_layer_control_group(port_group_sip *pgs, const char *isdn_group, int offtime);

// The local address to use toward the group; without group the LAN address.
void pg_sip_get_host_ip_for_port_group(const port_group_sip *pgs, char *buf, size_t size);
// The same; without group the stack's address; with neither the LAN address.
void pg_sip_get_host_ip(const port_group_sip *pgs, const sip_stack *ss, char *buf, size_t size);
int pg_sip_get_sip_port_for_port_group(const port_group_sip *pgs);

void pg_sip_update_contact_string(port_group_sip *pgs);
// The group's Contact (the first user's with _with_user); without the group
// the LAN address on port 5060, "" when the gateway has no LAN address.
void pg_sip_get_contact_string_by_pgs_name(const char *name, char *buf, size_t size);
void pg_sip_get_contact_string_with_user_by_pgs_name(const char *name, char *buf, size_t size);

// Name, register and validate flags of a registration's group (the SIP peer
// report): 0, or -1 when the registration has no group.
int pg_sip_group_of_registration(const reg_object *ro, const char **name, int *do_register, int *do_validate);

// ---- what other parts fill in ---------------------------------------------------

struct pg_sip_hooks {
    // The address the STUN client learned from the server of that name, into
    // buf: 1, or 0 when it has none. Unset: no server has an address (logs
    // once).
    int (*stun_learned_address)(const char *stunserver, char *buf, size_t size);
};
// Installs the members given (null members keep their placeholders).
void pg_sip_set_hooks(const pg_sip_hooks *hooks);
