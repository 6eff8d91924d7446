// The GSM/LTE modem ports once they run: the per-port status that the modem
// answers keep current, the queries that ask for it, the re-registration,
// reading SMS stored on the SIM, and the restart of ports that failed.
#pragma once
#include <atomic>
#include <cstdio>

#include "gsm_types.h"

// What one modem port reported last. Texts are owned (null: not known).
struct gsm_port_info {
    int active;
    int ready;
    char *provider;
    int provider_numeric;
    char *servinfo;
    char *spn;
    char *creg;
    int access_tech;
    int reg_mode;
    int reg_status; // 1 registered at home, 5 roaming, 0 not registered
    int reg_status_failed_counter;
    int sq_rssi;
    int sq_ber;
    int pin_counter;
    char *serial;
    char *imei;
    char *imsi;
    char *firmware;
    char *dte_speed;
    char *dte_format;
    char *gsm_data_mode;
    char *autobaud;
    char *command_echo;
    char *result_messages;
    char *verbose_messages;
    char *extended_messages;
    char *line_speed;
    char *constant_dte_speed;
    char *flow_control_options;
    char *error_correction_mode;
    char *cts_c106_options;
    char *dsr_c107_options;
    char *dtr_c108_options;
    char *dcd_c109_options;
    char *ri_c125_options;
    char *c1081_options;
    char *power_saving_on_dtr;
    char *default_profile;
    char *sw_pkgversion;
    int was_successfully_registered;
};

struct gsm_port_infos {
    int last_port;    // the last port polled
    int aquire_start; // time of the last poll, seconds since the epoch
    int aquire_stop;
    gsm_port_info port_infos[GSM_PORT_TABLE]; // by port number
};

// What other parts of the daemon provide. Unset members fall back to what
// is described with them; none is ever null. gsm_set_hooks takes the
// non-null members of the record and keeps the others; null puts every
// member back to unset.
struct gsm_hooks {
    // Call control's GSM event callback. Unset: logs once and drops events.
    gsm_event_callback event_handler;
    // Restarts a port from the console's restart command (report stream may
    // be null). Unset: logs once; the restart counts as not successful.
    void (*restart_gsm_port)(FILE *report, int port);
};
void gsm_set_hooks(const gsm_hooks *hooks);
extern gsm_hooks gsm_hook;

// ---- status polls -------------------------------------------------------------

// One query of the status poll: a modem library query or an AT text.
struct gsm_poll_row {
    const char *name;            // for the tables' readers
    int event_type;
    const char *command;         // null: run query instead
    int (*query)(int port);
    // Whether the row applies to the port: debug is eo_gsm_debug_level,
    // cbm eo_gsm_cbm_enable.
    bool (*when)(const gsm_port_info &info, int debug, int cbm);
};
extern const gsm_poll_row gsm_poll_rows[];
extern const int gsm_poll_row_count;

// The advanced queries: each asks for one text field while it is empty.
struct gsm_advanced_row {
    const char *command;
    int event_type;
    char *gsm_port_info::*field;
    bool skipped_without_atv; // not sent while eo_lte_disable_atv is set
};
extern const gsm_advanced_row gsm_advanced_rows[];
extern const int gsm_advanced_row_count;

// The modem's identity and profile texts, serial to default_profile (the
// software package version is not among them).
enum { GSM_PORT_PROFILE_TEXTS = 24 };
extern char *gsm_port_info::*const gsm_port_profile_texts[GSM_PORT_PROFILE_TEXTS];

// No call on the port, or its call is in neither of the two busy states.
bool gsm_port_is_idle(int port);

void gsm_acquire_status(int blocking);
void gsm_acquire_advanced_settings(int blocking);
void gsm_reset_advanced_settings(int port);
void gsm_try_reregistering_to_network(int port, int blocking);
void gsm_port_read_sms_from_sim(int port, int count);
void gsm_ports_delete_sms_from_sim(int count);

// A PIN the modem may be sent: 4 to 8 digits.
bool gsm_pin_is_sendable(const char *pin);

// ---- restarts -------------------------------------------------------------------

// Per port 1..6: 0 nothing to do, 1 restart now, n > 1 counts down a second
// a tick.
extern std::atomic<int> gsm_port_restart_necessary[GSM_PORT_TABLE];
void set_gsm_port_restart_necessary(int port);
// One second of the restart thread; second is the running count from 0.
void gsm_port_restart_tick(int second);
// The restart thread "tarn.gsmhelper": a tick a second, for ever.
void *gsm_port_restart_helper(void *);
