// Console listings of configuration, ports, channels and system state, in
// the console handler form (argument text, client stream, follow-up state).
// Every handler returns 0 unless said otherwise.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

// ---- configuration and routing ----
int mc_tarn_list_dialplan(const char *arg, FILE *out, int *state);
int mc_tarn_list_dialplan_dbg(const char *arg, FILE *out, int *state);
// "" all groups; i, a, g, c, s one technology.
int mc_tarn_list_port_groups(const char *arg, FILE *out, int *state);
// Without an index: asks for it (follow-up state 7, the result); with one:
// answers it at once.
int mc_tarn_list_call_configuration(const char *arg, FILE *out, int *state);
int mc_tarn_list_call_configuration_ordered(const char *arg, FILE *out, int *state);
// The sorted keys of the configuration of the call at index atoi(arg) that
// contain the whole argument text.
int mc_tarn_list_call_configuration_filtered(const char *arg, FILE *out, int *state);
int mc_tarn_list_default_call_configuration(const char *arg, FILE *out, int *state);
int mc_tarn_list_default_call_configuration_sorted(const char *arg, FILE *out, int *state);
int mc_tarn_list_default_call_configuration_with_regexp(const char *arg, FILE *out, int *state);
int mc_tarn_list_default_call_configuration_with_regexp_sorted(const char *arg, FILE *out, int *state);
int mc_tarn_list_cause_map(const char *arg, FILE *out, int *state);
int mc_tarn_list_global_options(const char *arg, FILE *out, int *state);
int mc_tarn_list_cdr_columns_description(const char *arg, FILE *out, int *state);
int mc_tarn_list_hardware_conf(const char *arg, FILE *out, int *state);
int mc_tarn_list_stunservers(const char *arg, FILE *out, int *state);
// The CDR column list "cdrd" prints.
const char *mc_print_cdr_columns_definitions();

// ---- calls, channels and media processor ----
int mc_tarn_list_connected_call_duration(const char *arg, FILE *out, int *state);
int mc_tarn_list_channel_usage_by_call_index(const char *arg, FILE *out, int *state);
int mc_tarn_show_channel_usage(const char *arg, FILE *out, int *state);
int mc_transcoding_list_timeslots(const char *arg, FILE *out, int *state);
int mc_tarn_list_pcm_table(const char *arg, FILE *out, int *state);
int mc_tarn_list_rtp(const char *arg, FILE *out, int *state);
int mc_tarn_list_tonehistory(const char *arg, FILE *out, int *state);
int mc_tarn_list_uptime(const char *arg, FILE *out, int *state);
int mc_tarn_get_system_load(const char *arg, FILE *out, int *state);
int mc_tarn_get_tarn_mem_usage(const char *arg, FILE *out, int *state);
// The RTP stack names of a bit set ("LAN|WAN|LOCALHOST|VPN" order) into
// buffer (always terminated when size > 0); the length of the text.
int print_stacks(int stacks, char *buffer, int size);
// The newest `count` entries of the connect-to-VOPENA delay trace (1..1023;
// other values mean 1024), newest first.
void mc_list_delays(FILE *out, int count);
// Milliseconds from a to b.
long timevaldiff(const struct timeval *a, const struct timeval *b);

// ---- ISDN, analog and CAS ports ----
int mc_isdn_list_info(const char *arg, FILE *out, int *state);
int mc_isdn_list_info_compact(const char *arg, FILE *out, int *state);
int mc_isdn_list_bchannels(const char *arg, FILE *out, int *state);
int mc_isdn_list_bchannels_full(const char *arg, FILE *out, int *state);
int mc_isdn_list_channel_spender_info(const char *arg, FILE *out, int *state);
int mc_isdn_list_event_history(const char *arg, FILE *out, int *state);
int mc_isdn_list_ton_statistics(const char *arg, FILE *out, int *state);
int mc_isdn_reset_ton_statistics(const char *arg, FILE *out, int *state);
int mc_analog_list_info(const char *arg, FILE *out, int *state);
int mc_cas_list_info(const char *arg, FILE *out, int *state);
int mc_cas_list_configured_ports(const char *arg, FILE *out, int *state);
int mc_cas_list_event_history(const char *arg, FILE *out, int *state);
int mc_cas_clear_event_history(const char *arg, FILE *out, int *state);
int mc_tarn_list_cas_status_parsable(const char *arg, FILE *out, int *state);

// The number at the start of a console argument as atoi reads it, clamped
// to the int range (0 for none).
int mc_arg_int(const char *arg);
// A console parameter split at colons: its first max_fields fields (what
// follows them is dropped).
std::vector<std::string> mc_split_fields(const char *arg, size_t max_fields);
// The call object at a pool index, or null outside the pool.
struct call_object *mc_call_at(int index);
