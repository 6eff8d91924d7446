// Media processor statistics commands: TDM synchronisation ("xt", "xt1")
// and voice playout errors of a call ("xp", "xp1").
#pragma once
#include <cstdio>

// The shared operations: parameter text, stream, reset flag.
int mc_msp_tdm_sync_stats_common(const char *arg, FILE *out, int reset);
int mc_msp_plyerr_stats_common(const char *arg, FILE *out, int reset);

int mc_msp_tdm_sync_stats(const char *arg, FILE *out, int *state);
int mc_msp_tdm_sync_stats_reset(const char *arg, FILE *out, int *state);
int mc_msp_plyerr_stats(const char *arg, FILE *out, int *state);
int mc_msp_plyerr_stats_reset(const char *arg, FILE *out, int *state);
