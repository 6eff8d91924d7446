// Console listings of the live calls, the outgoing registrations and the
// call statistics, and the formatters that build one call's block or line.
// Every formatter writes at most size - 1 characters (always terminated)
// and returns the length written; a call that is not listed gives 0.
#pragma once
#include <cstdio>

struct call_object;
struct call_leg_sip;

int operation_info_to_buffer(int index, char *buffer, int size, int show_internal);
int isdn_info_to_buffer(call_object *co, char *buffer, int size);
int analog_info_to_buffer(call_object *co, char *buffer, int size);
int gsm_info_to_buffer(call_object *co, char *buffer, int size);
int cas_info_to_buffer(call_object *co, char *buffer, int size);
int sip_info_to_buffer(call_object *co, char *buffer, int size);
int sip_call_leg_info_to_buffer(const call_leg_sip *leg, int n, char *buffer, int size);
int sip_to_sip_info_to_buffer(call_object *co, char *buffer, int size);

int operation_info_to_buffer_compact(int index, char *buffer, int size, char sep);
int isdn_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep);
int analog_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep);
int gsm_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep);
int cas_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep);
int itapi_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep);
int sip_info_to_buffer_compact(call_object *co, char *buffer, int size, char sep);
int sip_call_leg_info_to_buffer_compact(call_object *co, const call_leg_sip *leg, char *buffer, int size, char sep,
                                        const char *marker);

// "l", "LH", "l ", "lp ", "k", "k ", "kp ", "kt", "kt ", "ktp "
int mc_tarn_list_operations(const char *arg, FILE *out, int *state);
int mc_tarn_list_operations_hidden(const char *arg, FILE *out, int *state);
int mc_tarn_list_operations_selected(const char *arg, FILE *out, int *state);
int mc_tarn_list_operations_selected_by_pid(const char *arg, FILE *out, int *state);
int mc_tarn_list_operations_compact(const char *arg, FILE *out, int *state);
int mc_tarn_list_operations_compact_selected(const char *arg, FILE *out, int *state);
int mc_tarn_list_operations_compact_selected_by_pid(const char *arg, FILE *out, int *state);
int mc_tarn_list_operations_compact_tabbed(const char *arg, FILE *out, int *state);
int mc_tarn_list_operations_compact_selected_tabbed(const char *arg, FILE *out, int *state);
int mc_tarn_list_operations_compact_selected_tabbed_by_pid(const char *arg, FILE *out, int *state);

// "r", "rr", "ss", "ssp"
int mc_sip_list_outbound_registrations(const char *arg, FILE *out, int *state);
int mc_sip_list_outbound_registrations_compact(const char *arg, FILE *out, int *state);
int mc_tarn_list_call_statistics(const char *arg, FILE *out, int *state);
int mc_tarn_list_call_statistics_portwise(const char *arg, FILE *out, int *state);
