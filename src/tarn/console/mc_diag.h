// Console commands for line tests and daemon diagnostics. All answer 0.
#pragma once
#include <cstdio>

int mc_set_analog_offhook(const char *arg, FILE *out, int *state);
int mc_analog_set_wink(const char *arg, FILE *out, int *state);
int mc_test_parse_lte_clip(const char *arg, FILE *out, int *state);
// "pdu": the PDU-mode setting; "pdu" X: AT+CMGF (1 - X for 0 and 1, else 0)
// queued on every configured GSM port, X stored.
int mc_gsm_get_pdu_mode(const char *arg, FILE *out, int *state);
int mc_gsm_set_pdu_mode(const char *arg, FILE *out, int *state);
int mc_tarn_test_global_lock(const char *arg, FILE *out, int *state);
// "memleak": on the daemon's standard output; the memory stays allocated.
int mc_leak_mem(const char *arg, FILE *out, int *state);
int mc_alloc_mem(const char *arg, FILE *out, int *state);
int mc_print_appfs_version(const char *arg, FILE *out, int *state);
int mc_tarn_list_remote_pcm(const char *arg, FILE *out, int *state);
int mc_full_telnet_debugging(const char *arg, FILE *out, int *state);
int mc_activate_snmp_notify(const char *arg, FILE *out, int *state);
// "pcid": the hex text (blanks dropped, at most 512 bytes) as the payload
// of a caller-ID indication, decoded on a fresh test call object.
int mc_test_parse_analog_cid(const char *arg, FILE *out, int *state);
// "tdp": the dial plan's number normalisation for nine numbers and the
// types of number 0 to 5; the test location codes stay set.
int mc_test_dp_auto(const char *arg, FILE *out, int *state);
// "ccp": the pool's size on the daemon's standard output, its records to
// the client.
int mc_cc_pool_show(const char *arg, FILE *out, int *state);
