// Console commands that exercise the media processor without a real call
// (console handler form; each returns 0).
#pragma once
#include <cstdio>

struct call_object;

// The two calls of "t1t", taken on first use and kept; the next local RTP
// port it uses (from 50000, four more on each run).
extern call_object *t1_co1;
extern call_object *t1_co2;
extern int ttpo;

int mc_tarn_test_msp(const char *arg, FILE *out, int *state);
int mc_tarn_teststop_msp(const char *arg, FILE *out, int *state);
int mc_tarn_call_tdm(const char *arg, FILE *out, int *state);
int mc_tarn_bridge_timeslots(const char *arg, FILE *out, int *state);
int mc_tarn_redirect_two_timeslots(const char *arg, FILE *out, int *state);
int mc_util_t1_bridge_test(const char *arg, FILE *out, int *state);
int mc_isdn_test_tone(const char *arg, FILE *out, int *state);
int mc_util_vopena_restart(const char *arg, FILE *out, int *state);
int mc_util_srtp_stat(const char *arg, FILE *out, int *state);
int mc_tarn_list_msp_firmware(const char *arg, FILE *out, int *state);
int mc_test_list_msp_timeslots(const char *arg, FILE *out, int *state);
// Raw commands answered for outside scripts: "MDIORESPONSE:..." and
// "MSPRESPONSE:..." (a MAC address that is not 12 hexadecimal digits: -1,
// no console reply).
int mc_mdio_command(const char *arg, FILE *out, int *state);
int mc_msp_command(const char *arg, FILE *out, int *state);

// A logical timeslot the media processor has: digits only, 0 to 511; else -1.
int mc_parse_timeslot(const char *text);
