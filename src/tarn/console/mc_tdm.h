// Console listings of the TDM map and the call-progress tables.
#pragma once
#include <cstdio>

struct tdm_settings;

// "BUS %i: <owner> | a_ts %03i | l_ts %03i" per map entry, each line after
// prefix; the entry count is the sum of the used buses' counts less one.
void mc_list_tdm_map(const tdm_settings *t, const char *prefix, FILE *out);
// The application's map (the printout hook of the TDM bring-up).
void mc_list_tdm(const char *prefix, FILE *out);

// "ltdm", "s" (asks for the timeslot: follow-up state 6), "lcpt".
int mc_tarn_list_tdm(const char *arg, FILE *out, int *state);
int mc_tarn_list_info_for_timeslot(const char *arg, FILE *out, int *state);
int mc_tarn_list_call_progress_tables(const char *arg, FILE *out, int *state);
