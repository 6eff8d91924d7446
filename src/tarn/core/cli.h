// The daemon's command line.
#pragma once
#include <cstdint>
#include <cstdio>

struct cli_args {
    char daemonize[16];
    char loglevel[16];
    char loglevel2[16];
    char ptp[128];
    char logrotate[1024];
    int32_t logsizelimit;
    int32_t nlogsizelimit;
    char config_tarn[256];
    char config_isdn[256];
    char config_cas[256];
    char config_analog[256];
    char config_gsm[256];
    char config_sip[256];
    char config_tones[256];
    char tdm_settings[256];
    char dialplan[256];
    char etc[256];
    char regexptest[256];
    char cause_map[256];
    char msp_multicast_bytes[16];
    int32_t msp_multicast_remove;
    int32_t logstdout;
};

// The program's version string as it is compiled in.
extern const char *const appfs_version;

// Set when `daemonize` begins with "1".
extern int tarn_daemon_mode;
// Set by -C: print the default call configuration once loaded, then end.
extern int tarn_print_configuration;

// One-shot diagnostic options that end the process after the command line.
enum cli_action {
    CLI_RUN = 0,
    CLI_DEFAULT_SETTINGS, // -D
    CLI_MODULE_SETTINGS,  // -S MODULE
    CLI_DEFAULT_CALLCONF, // -N
    CLI_MSP_ALIVE,        // -A
    CLI_RESOLVE,          // -R NAME
    CLI_SRV_RESOLVE,      // -V NAME
};

struct cli_result {
    cli_action action;
    char argument[256]; // the argument of -S, -R, -V
};

void print_usage();
void set_core_dump();

// Parses argv into args (which it zero-fills first, then sets the defaults).
// Ends the process itself for -h, -v, -E and bad options, as the command
// line has always done; the diagnostic options come back in *res.
void parse_cli(int argc, char **argv, cli_args *args, cli_result *res);

// "24.01.03" with double quotes removed and blanks replaced by "-".
void cli_version_text(char *out, size_t size);
