// Console commands for ending calls and the daemon, audio loops, forced
// T.38, dial plan and DNS tests, and test aids.
#pragma once
#include <cstdio>

enum { MC_TEST_VARIABLES = 10 };
// Set only by "tti"; the ISDN information-element test command reads them.
extern int mc_test_variables[MC_TEST_VARIABLES];

int mc_tarn_finish_call_by_index(const char *arg, FILE *out, int *state);
int mc_tarn_finish_call_by_pid(const char *arg, FILE *out, int *state);
int mc_tarn_finish_all_calls(const char *arg, FILE *out, int *state);
// Asks for confirmation: follow-up state 2.
int mc_tarn_shutdown(const char *arg, FILE *out, int *state);
int mc_tarn_instant_shutdown(const char *arg, FILE *out, int *state);
// Ends the process by SIGSEGV after its line; never returns.
int mc_tarn_segfault(const char *arg, FILE *out, int *state);
int mc_tarn_loop_rtp_for_call_index(const char *arg, FILE *out, int *state);
int mc_tarn_dbg_t38_reinvite(const char *arg, FILE *out, int *state);
int mc_dialplan_test_from_sip(const char *arg, FILE *out, int *state);
int mc_dialplan_test_from_isdn(const char *arg, FILE *out, int *state);
int mc_dialplan_test_from_analog(const char *arg, FILE *out, int *state);
int mc_dialplan_test_from_gsm(const char *arg, FILE *out, int *state);
int mc_tarn_dns_query_enum(const char *arg, FILE *out, int *state);
int mc_tarn_dns_query_name(const char *arg, FILE *out, int *state);
int mc_util_sleep(const char *arg, FILE *out, int *state);
int mc_util_telnet_test_variable(const char *arg, FILE *out, int *state);
int mc_util_test_stuff(const char *arg, FILE *out, int *state);
int mc_cas_e1_clear_port(const char *arg, FILE *out, int *state);
// Ends the process with exit code 81.
int mc_tarn_dmalloc_exit(const char *arg, FILE *out, int *state);
int mc_tarn_dmalloc_write(const char *arg, FILE *out, int *state);
