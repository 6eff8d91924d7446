// Console commands of the SIP side: re-INVITE and transfer tests, access
// control, the DNS cache, the port groups' packet-filter rules, outgoing
// registrations, SIP INFO tests and the ISDN information test. All answer
// 0 unless said otherwise.
#pragma once
#include <cstdio>

int mc_sip_send_t38_reinvite(const char *arg, FILE *out, int *state);
int mc_sip_send_g711_reinvite(const char *arg, FILE *out, int *state);
int mc_test_refer(const char *arg, FILE *out, int *state);

int mc_acl_list_whitelist(const char *arg, FILE *out, int *state);
int mc_acl_list_call_attempts(const char *arg, FILE *out, int *state);
int mc_acl_list_blacklist(const char *arg, FILE *out, int *state);
int mc_acl_clear_blacklists(const char *arg, FILE *out, int *state);
int mc_acl_clear_blacklist_lan(const char *arg, FILE *out, int *state);
int mc_acl_clear_blacklist_wan(const char *arg, FILE *out, int *state);
int mc_acl_attempt(const char *arg, FILE *out, int *state);
int mc_acl_test_ip(const char *arg, FILE *out, int *state);
int mc_acl_list_settings(const char *arg, FILE *out, int *state);
// "aclrs", "reo": -1 when the main configuration cannot be read.
int mc_acl_reload_dos_settings(const char *arg, FILE *out, int *state);
int mc_acl_reload_experimental_options(const char *arg, FILE *out, int *state);

int mc_dns_list_cache(const char *arg, FILE *out, int *state);
int mc_dns_clear_cache(const char *arg, FILE *out, int *state);
int mc_dns_query_srv(const char *arg, FILE *out, int *state);
int mc_dns_query_a(const char *arg, FILE *out, int *state);
int mc_dns_update_overrides(const char *arg, FILE *out, int *state);

int mc_refresh_iptables(const char *arg, FILE *out, int *state);
int mc_iptables_show(const char *arg, FILE *out, int *state);
int mc_cc_test_iptables_memleak(const char *arg, FILE *out, int *state);

int mc_remove_sip_registration(const char *arg, FILE *out, int *state);
int mc_refresh_sip_registration(const char *arg, FILE *out, int *state);
int mc_nua_handle_debug_show(const char *arg, FILE *out, int *state);
int mc_isdn_send_sip_info_disconnect_for_call(const char *arg, FILE *out, int *state);
int mc_isdn_send_sip_info_disconnect_for_isdn_port(const char *arg, FILE *out, int *state);
int mc_send_isdn_information_event(const char *arg, FILE *out, int *state);
