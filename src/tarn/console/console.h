// Console command dispatch: one line from a status-server client or from
// standard input, the stream its answer goes to and the client's follow-up
// state (0 none, 2 to 7 a pending question).
#pragma once
#include <cstdio>

// Runs one line: a pending question takes it (mc_handle_extrainfo), else
// the first row of the sorted table that matches. Returns the client's
// follow-up state after the line, or the handler's positive result (1 asks
// the caller to close the client). A null state counts as 0.
int mc_handle_input(const char *input, FILE *out, int *state);
// Answers a pending question; the state is 0 afterwards.
int mc_handle_extrainfo(const char *input, FILE *out, int *state);

// Help listings. Every line is "%-12s: %s\n" (command and parameter hint
// joined, then the description).
int mc_util_print_help(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_ordered(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_selected(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_full(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_full_ordered(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_info(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_sip(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_isdn(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_analog(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_gsm(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_log(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_misc(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_msp_log(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_hidden(const char *arg, FILE *out, int *state = nullptr);
int mc_util_print_help_hidden_ordered(const char *arg, FILE *out, int *state = nullptr);
// The listing of every row with the type bit and without HIDDEN (every row
// with HIDDEN when the bit is HIDDEN), headed with the bit's word.
int mc_util_print_help_filtered(int type, FILE *out);
// One help line of row `row`.
void mc_util_print_option(int row, FILE *out);
// The word of a single type bit, "UNKNOWN" for any other value.
const char *mc_util_format_command_type(int type);

// "q": closes a status-server client; on the standard-input console it is
// no command.
int mc_tarn_client_disconnect(const char *arg, FILE *out, int *state);
