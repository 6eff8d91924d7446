// Console commands that drive the ISDN side by hand on a call or a port.
// All answer 0.
#pragma once
#include <cstdio>

struct call_object;

int mc_isdn_send_event_mcid(const char *arg, FILE *out, int *state);
int mc_isdn_send_event_hold(const char *arg, FILE *out, int *state);
int mc_isdn_send_event_suspend(const char *arg, FILE *out, int *state);
int mc_isdn_test_hold_call_at_index(const char *arg, FILE *out, int *state);
int mc_isdn_test_retrieve_call_at_index(const char *arg, FILE *out, int *state);
int mc_isdn_test_ect_call_at_index(const char *arg, FILE *out, int *state);
// "inf" X[:text]: with test variable 5 set, the text (or "yourmessage") as
// user-user information in an INFORMATION; otherwise a USER INFORMATION
// with the test elements that variables 0 and 1 switch on (values from
// variables 2 and 3).
int mc_isdn_test_info_element(const char *arg, FILE *out, int *state);
// "sis": the 12 kHz metering pulse on the call's analog port; the ISDN form
// (STATUS ENQUIRY on an active call) has no row.
int mc_isdn_send_status_enquiry(const char *arg, FILE *out, int *state);
int mc_isdn_send_status_enquiry2(const char *arg, FILE *out, int *state);
int mc_isdn_send_facility_by_idx(const char *arg, FILE *out, int *state);
int mc_isdn_send_facility_by_pid(const char *arg, FILE *out, int *state);
int mc_tarn_test_send_facility(const char *arg, FILE *out, int *state);
// The facility (base64) on the call's B-channel; the caller holds
// global_lock and has checked the B-channel.
int _mc_isdn_send_facility(FILE *out, call_object *co, const char *b64);

int mc_isdn_get_l2_up(const char *arg, FILE *out, int *state);
int mc_isdn_get_l2_down(const char *arg, FILE *out, int *state);
int mc_isdn_block_port(const char *arg, FILE *out, int *state);
int mc_isdn_port_restart(const char *arg, FILE *out, int *state);
int mc_isdn_send_restart(const char *arg, FILE *out, int *state);
int mc_isdn_set_time_from_isdn(const char *arg, FILE *out, int *state);
// RESTART for a channel of a port (0: the whole interface): sends it on the
// port's scratch record, waits 500 ms. 0, or -1 for a port outside 1..31.
int mc_send_restart_now(FILE *out, int port, int channel);
