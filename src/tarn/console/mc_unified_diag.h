// The console's unified-diagnostics settings and commands (console handler
// form; each returns 0).
#pragma once
#include <cstdio>

#include "csm_records.h"

enum {
    UD_UDP_PORT_SRC = 12800,
    UD_UDP_PORT_DST = 12802,      // until "uddst" sets it
    UD_ARP_TIMEOUT_USEC = 100000, // the destination's MAC look-up
};

struct ud_option {
    unsigned client_identifier;
    csm_ip_address ip_src;   // the host's LAN address in two halves
    csm_mac_address mac_src; // the host's MAC
    unsigned udp_port_src;
    csm_ip_address ip_dst;   // set by "uddst"
    csm_mac_address mac_dst; // learnt by ARP
    unsigned udp_port_dst;
    int flag_ud_configured;  // 1 after a successful "setud", 0 after "unsetud"
    int flag_dst_configured; // 1 after a successful "uddst", 0 after "unsetud"
};

extern ud_option mc_ud_option;

// Calls that hold a timeslot: of a line-to-SIP or SIP-to-line kind, or with
// a state machine, and a timeslot other than -1.
int ud_count_active_calls();

int mc_configure_address_dst(const char *arg, FILE *out, int *state);
int mc_set_unified_diag(const char *arg, FILE *out, int *state);
int mc_unset_unified_diag(const char *arg, FILE *out, int *state);
int mc_log_unified_diag_reportcmd(const char *arg, FILE *out, int *state);
int mc_log_unified_diag_tdm_rx(const char *arg, FILE *out, int *state);
int mc_log_unified_diag_tdm_tx(const char *arg, FILE *out, int *state);
int mc_log_unified_diag_packet_rx(const char *arg, FILE *out, int *state);
int mc_log_unified_diag_packet_tx(const char *arg, FILE *out, int *state);
int mc_log_unified_diag_spu_ioparams(const char *arg, FILE *out, int *state);
int mc_log_unified_diag_spu_instream(const char *arg, FILE *out, int *state);
int mc_log_unified_diag_spu_outstream(const char *arg, FILE *out, int *state);
int mc_log_unified_diag_dsp_task_ioparams(const char *arg, FILE *out, int *state);
int mc_tdm_clock_status(const char *arg, FILE *out, int *state);
