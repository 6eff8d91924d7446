// The GSM console commands: status and modem data of the ports, port and
// line-interface restarts, raw and queued AT commands, operator scans and
// choice, and the SIM PIN.
#pragma once
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdio>

#include "gsm_types.h"

struct gsm_operator_scan_result {
    int status;
    char long_alphanumeric[32];
    char short_alphanumeric[32];
    int numeric;
    int access_technology;
};

enum { GSM_OPERATOR_SCAN_SLOTS = 32, GSM_OPERATOR_SCAN_MAX = 15 };

struct gsm_operator_scan_list {
    std::atomic<int> scanning_now; // 1 while a scan runs
    gsm_operator_scan_result results[GSM_OPERATOR_SCAN_SLOTS];
    int count;
    pthread_t scan_thread;
};

// One list per port, allocated on the port's first scan and kept.
extern gsm_operator_scan_list *gsm_operator_scan_lists[GSM_PORT_TABLE];

// Reads an "AT+COPS=?" answer into out (at most max groups, never more than
// 15); returns the groups stored.
int gsm_parse_cops_list(const char *answer, gsm_operator_scan_result *out, int max);

// Thread body of an operator scan; arg is the port number.
void *scan_operators(void *arg);

// Forgets what the port reported (texts freed, numbers -1); the caller
// holds global_lock.
void gsm_reset_status_for_port(int port);
// Takes a port down and up again; report may be null (the restart thread).
void restart_gsm_port(FILE *report, int port);

const char *get_gsm_access_tech_string(int tech);
char *gsm_ber_to_string(int value, char *buf, size_t size);
char *gsm_rssi_to_string(int value, char *buf, size_t size);

int mc_gsm_list_status(const char *arg, FILE *out, int *state);
int mc_gsm_retrieve_and_list_status(const char *arg, FILE *out, int *state);
int mc_gsm_list_extended_data(const char *arg, FILE *out, int *state);
int mc_gsm_retrieve_extended_data(const char *arg, FILE *out, int *state);
int mc_gsm_reset_extended_data(const char *arg, FILE *out, int *state);
int mc_gsm_port_restart(const char *arg, FILE *out, int *state);
int mc_gsm_power_off_on_li(const char *arg, FILE *out, int *state);
int mc_gsm_flush_sms_queue(const char *arg, FILE *out, int *state);
int mc_gsm_send_at_command(const char *arg, FILE *out, int *state);
int mc_gsm_send_at_command_queued(const char *arg, FILE *out, int event_type);
int mc_gsm_send_at_command_queued_short(const char *arg, FILE *out, int *state);
int mc_gsm_send_at_command_queued_long(const char *arg, FILE *out, int *state);
int mc_gsm_retrieve_operator_list(const char *arg, FILE *out, int *state);
int mc_gsm_show_operator_list(const char *arg, FILE *out, int *state);
int mc_gsm_list_operators(const char *arg, FILE *out, int *state);
int mc_gsm_set_operator(const char *arg, FILE *out, int *state);
int mc_gsm_set_operator_full(const char *arg, FILE *out, int *state);
int mc_gsm_get_pin_status(const char *arg, FILE *out, int *state);
int mc_gsm_set_pin(const char *arg, FILE *out, int *state);
int mc_gsm_reload_config(const char *arg, FILE *out, int *state);

// USSD codes and answers, and the text conversions.
int mc_gsm_ussd_send_code(const char *arg, FILE *out, int *state);
int mc_gsm_ussd_show_stats(const char *arg, FILE *out, int *state);
int mc_gsm_ussd_reset_stats(const char *arg, FILE *out, int *state);
int mc_gsm_ussd_cancel_command(const char *arg, FILE *out, int *state);
int mc_util_utf8_to_ucs2(const char *arg, FILE *out, int *state);
int mc_util_ucs2_to_utf8(const char *arg, FILE *out, int *state);
int mc_util_gsm_to_utf8(const char *arg, FILE *out, int *state);
