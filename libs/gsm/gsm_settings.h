// Settings of the modem library that the daemon's experimental options set,
// and the counters its housekeeping threads tick.
#pragma once
#include <atomic>

extern int gsm_restore_profile;
extern int global_gsm_dtmf_notification_handle;
extern int global_gsm_extended_reports;
extern int global_gsm_pdu_mode;
extern int global_gsm_wait_for_cds_time;
extern int global_gsm_read_method;          // 1 buffered reader, else byte reader
extern int global_gsm_sim_detect_fix;
extern int global_gsm_libexpect_accept_cme_error;
extern int global_gsm_cbm_enable;
extern std::atomic<int> global_gsm_cbm_remove_trailing_cr; // changed at run time, read by the readers
extern int gsm_sms_delivery_report;

// Per port (index = port number).
extern std::atomic<int> global_gsm_cds_waiting[8];
extern int global_gsm_port_needs_reregister[8];
extern int global_gsm_port_needs_reregister_timestamp[8];

// Fixed pauses and command time limits of the library are scaled by this
// percentage (100 on the board). Simulations and tests shorten them.
void gsm_set_time_scale(int percent);
int gsm_scaled_ms(int ms);
// A wait for the modem's answer, scaled, but not below a second (nor above
// its own length): a loaded machine may take that long to deliver an
// answer, and a wait that ends with the answer costs nothing. On the board
// (scale 100) it is the wait itself.
int gsm_scaled_wait_ms(int ms);
// Sleeps ms milliseconds, scaled.
void gsm_pause_ms(int ms);
