// Console commands of the log levels, the network log and the SIP stack log.
#pragma once
#include <cstdio>

// The switches and the levels of every module (the console's level listing).
void list_loglevels(FILE *out);
// "ip:port" as the new network log target; anything else is answered with
// "<text> input seems not to be a valid input - making no change".
void parse_and_update_netlog_target(FILE *out, const char *text);

// "v", "m" (ask for the level: follow-up states 3 and 4, or answer their
// argument at once), "V", "ld", "lm", "ln", "ll", "n" (asks: state 5), "n:", "sl".
int mc_log_set_level_debug(const char *arg, FILE *out, int *state);
int mc_log_set_level_message(const char *arg, FILE *out, int *state);
int mc_log_show_verbosity(const char *arg, FILE *out, int *state);
int mc_log_debug_activate(const char *arg, FILE *out, int *state);
int mc_log_message_activate(const char *arg, FILE *out, int *state);
int mc_log_nmessage_activate(const char *arg, FILE *out, int *state);
int mc_log_local_file_logging(const char *arg, FILE *out, int *state);
int mc_log_set_netlog(const char *arg, FILE *out, int *state);
int mc_log_set_sofia_log_level(const char *arg, FILE *out, int *state);
