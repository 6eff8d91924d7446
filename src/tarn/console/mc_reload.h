// Console commands for reloads, the CDR and log files, the network log, the
// verbose and debug streams, the CAS trace, the call statistics and the
// rejection of registrations. All answer 0.
#pragma once
#include <cstdio>

int mc_tarn_reload_call_progress_tables(const char *arg, FILE *out, int *state);
int mc_tarn_reload_dialplan(const char *arg, FILE *out, int *state);
int mc_tarn_reload_cause_map(const char *arg, FILE *out, int *state);
int mc_sip_reload_peers(const char *arg, FILE *out, int *state);
int mc_sip_reload_peers_soft(const char *arg, FILE *out, int *state);
int mc_tarn_rotate_cdr(const char *arg, FILE *out, int *state);
int mc_tarn_flush_cdr_file(const char *arg, FILE *out, int *state);
int mc_tarn_rotate_tarn_log(const char *arg, FILE *out, int *state);
int mc_tarn_flush_tarn_log(const char *arg, FILE *out, int *state);
int mc_log_netlog_toggle(const char *arg, FILE *out, int *state);
int mc_log_netlog_off(const char *arg, FILE *out, int *state);
int mc_log_netlog_on(const char *arg, FILE *out, int *state);
int mc_log_netlog_show(const char *arg, FILE *out, int *state);
int mc_log_toggle_verbose_msg(const char *arg, FILE *out, int *state);
int mc_log_verbose_msg_on(const char *arg, FILE *out, int *state);
int mc_log_verbose_msg_off(const char *arg, FILE *out, int *state);
int mc_log_toggle_debug_printing(const char *arg, FILE *out, int *state);
// "nlog" L:text: text into the message log at level L; ":Fulltrace
// started" first rotates and reopens both log files, ":Fulltrace stopped"
// flushes them afterwards. Anything else is ignored.
int mc_log_print_nlog_message(const char *arg, FILE *out, int *state);
int mc_cas_log_state(const char *arg, FILE *out, int *state);
int mc_cas_log_set(const char *arg, FILE *out, int *state);
int mc_tarn_reset_call_statistics(const char *arg, FILE *out, int *state);
int mc_test_retry_after(const char *arg, FILE *out, int *state);
