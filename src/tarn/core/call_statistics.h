// Call statistics of the application object (callstat), the running
// averages of connected-call durations (cds), and small shared services
// around the call pool: active calls, the SIP peer report, state names.
#pragma once
#include <cstdint>
#include <cstdio>

struct reg_object;

// Per-port members are indexed by port number; ISDN and analog ports reach 32.
enum { CALLSTAT_PORTS = 33 };

struct call_statistics {
    // PSTN and SIP totals
    uint32_t counter_pstn_to_sip;
    uint32_t counter_pstn_to_sip_finished;
    uint32_t counter_pstn_to_sip_connected;
    uint32_t counter_pstn_to_sip_connected_finished;
    uint32_t counter_pstn_to_sip_connected_finished_less_than_10_seconds;
    uint32_t counter_sip_to_pstn;
    uint32_t counter_sip_to_pstn_finished;
    uint32_t counter_sip_to_pstn_connected;
    uint32_t counter_sip_to_pstn_connected_finished;
    uint32_t counter_sip_to_pstn_connected_finished_less_than_10_seconds;
    uint32_t total_seconds_pstn_to_sip;
    uint32_t total_seconds_sip_to_pstn;

    // per technology and direction, per port
    uint32_t counter_isdn_to_sip_port[CALLSTAT_PORTS];
    uint32_t counter_isdn_to_sip_finished_port[CALLSTAT_PORTS];
    uint32_t counter_isdn_to_sip_connected_port[CALLSTAT_PORTS];
    uint32_t counter_isdn_to_sip_connected_finished_port[CALLSTAT_PORTS];
    uint32_t counter_isdn_to_sip_connected_finished_less_than_10_seconds_port[CALLSTAT_PORTS];
    uint32_t total_seconds_isdn_to_sip_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_isdn_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_isdn_finished_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_isdn_connected_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_isdn_connected_finished_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_isdn_connected_finished_less_than_10_seconds_port[CALLSTAT_PORTS];
    uint32_t total_seconds_sip_to_isdn_port[CALLSTAT_PORTS];

    uint32_t counter_cas_to_sip_port[CALLSTAT_PORTS];
    uint32_t counter_cas_to_sip_finished_port[CALLSTAT_PORTS];
    uint32_t counter_cas_to_sip_connected_port[CALLSTAT_PORTS];
    uint32_t counter_cas_to_sip_connected_finished_port[CALLSTAT_PORTS];
    uint32_t counter_cas_to_sip_connected_finished_less_than_10_seconds_port[CALLSTAT_PORTS];
    uint32_t total_seconds_cas_to_sip_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_cas_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_cas_finished_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_cas_connected_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_cas_connected_finished_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_cas_connected_finished_less_than_10_seconds_port[CALLSTAT_PORTS];
    uint32_t total_seconds_sip_to_cas_port[CALLSTAT_PORTS];

    uint32_t counter_analog_to_sip_port[CALLSTAT_PORTS];
    uint32_t counter_analog_to_sip_finished_port[CALLSTAT_PORTS];
    uint32_t counter_analog_to_sip_connected_port[CALLSTAT_PORTS];
    uint32_t counter_analog_to_sip_connected_finished_port[CALLSTAT_PORTS];
    uint32_t counter_analog_to_sip_connected_finished_less_than_10_seconds_port[CALLSTAT_PORTS];
    uint32_t total_seconds_analog_to_sip_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_analog_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_analog_finished_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_analog_connected_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_analog_connected_finished_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_analog_connected_finished_less_than_10_seconds_port[CALLSTAT_PORTS];
    uint32_t total_seconds_sip_to_analog_port[CALLSTAT_PORTS];

    uint32_t counter_gsm_to_sip_port[CALLSTAT_PORTS];
    uint32_t counter_gsm_to_sip_finished_port[CALLSTAT_PORTS];
    uint32_t counter_gsm_to_sip_connected_port[CALLSTAT_PORTS];
    uint32_t counter_gsm_to_sip_connected_finished_port[CALLSTAT_PORTS];
    uint32_t counter_gsm_to_sip_connected_finished_less_than_10_seconds_port[CALLSTAT_PORTS];
    uint32_t total_seconds_gsm_to_sip_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_gsm_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_gsm_finished_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_gsm_connected_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_gsm_connected_finished_port[CALLSTAT_PORTS];
    uint32_t counter_sip_to_gsm_connected_finished_less_than_10_seconds_port[CALLSTAT_PORTS];
    uint32_t total_seconds_sip_to_gsm_port[CALLSTAT_PORTS];

    // SIP to SIP
    uint32_t counter_sip_to_sip;
    uint32_t counter_sip_to_sip_finished;
    uint32_t counter_sip_to_sip_connected;
    uint32_t counter_sip_to_sip_connected_finished;
    uint32_t counter_sip_to_sip_connected_finished_less_than_10_seconds;
    uint32_t total_seconds_sip_to_sip;
    uint32_t counter_sip_to_sip_max_simultaneous;
    uint32_t counter_sip_to_sip_max_simultaneous_connected;

    // others
    uint32_t counter_sip_to_dialplan_not_found;
    uint32_t max_concurrent_calls;
    uint32_t sms_sent_success[CALLSTAT_PORTS];
    uint32_t sms_sent_failed[CALLSTAT_PORTS];
    uint32_t sms_received[CALLSTAT_PORTS];
};

// The slot of a per-port member for a port, or null (with a log line) for a
// port outside 0..32, so that a counter of a bad port is never written.
uint32_t *callstat_port(uint32_t (&member)[CALLSTAT_PORTS], int port);

// Sets every member of gp->callstat to 0.
void call_statistics_reset();

enum { CDS_RING = 1000 };

// Durations (seconds) of connected calls: the last 1000 in a ring and the
// sums over all calls and over the last 10, 100 and 1000.
struct call_duration_statistics {
    int32_t avg_call_duration[CDS_RING];
    int64_t total_call_duration_all;
    int64_t total_call_duration_10;
    int64_t total_call_duration_100;
    int64_t total_call_duration_1000;
    int32_t connect_counter;
};

// Types of number of incoming ISDN calls, per ISDN port 0..31 and type 0..4
// (unknown, international, national, network-specific, private): counts by
// the calling number's type (_o) and the called number's (_d), and the
// first number seen of each.
enum { TON_STAT_PORTS = 32, TON_STAT_TYPES = 5, TON_SAMPLE_LEN = 64 };
struct ton_statistics_record {
    uint32_t statistics_o[TON_STAT_PORTS][TON_STAT_TYPES];
    uint32_t statistics_d[TON_STAT_PORTS][TON_STAT_TYPES];
    char sample_o[TON_STAT_PORTS][TON_STAT_TYPES][TON_SAMPLE_LEN];
    char sample_d[TON_STAT_PORTS][TON_STAT_TYPES][TON_SAMPLE_LEN];
};
// Counts one incoming ISDN call (its port, both types and numbers); ports
// and types outside the table are not counted.
void ton_statistics_count(ton_statistics_record *t, int port, int ton_o, const char *oad, int ton_d,
                          const char *dad);

// Counts one connected call's duration into the sums and the ring.
void add_connected_call_duration(call_duration_statistics *cds, int seconds);

// The four "Avg. call duration" lines.
void print_connected_call_duration(FILE *fp, const call_duration_statistics *cds);

// "%02i:%02i:%02i" of a duration in seconds (hours not limited to 24; a
// negative duration counts as 0).
void format_time(char *buffer, int bufsize, int total_seconds);

// Call objects whose state is exactly SM_CALL_ACTIVE.
int get_number_of_active_calls();

// What the SIP peer report needs from call control's registrations and
// from the SIP port groups. None of them is null after
// sip_peer_report_set_hooks; an unfilled one logs once and its registration
// is left out of the report.
struct sip_peer_report_hooks {
    // state text and last REGISTER / OPTIONS response code of a registration
    const char *(*snmp_get_registration_info)(reg_object *ro, int *code);
    const char *(*snmp_get_validation_info)(reg_object *ro, int *code);
    // name, register flag and validate flag of the registration's SIP group:
    // 0, or -1 when it has none
    int (*peer_group)(const reg_object *ro, const char **name, int *do_register, int *do_validate);
};
// Takes the non-null members; null puts every member back to unfilled.
void sip_peer_report_set_hooks(const sip_peer_report_hooks *hooks);

// One "SIP_INFO:..." line per registration object, to fp or, without one,
// to the SNMP notify stream. With lock the report runs under global_lock.
void snmp_notify_sip_peers(FILE *fp, int lock);

// Names of call-forwarding and SRTP offer states.
const char *print_cf_state(int state);
const char *print_crypto_type(int state);

// Every RTP port counts as the daemon's own: 1.
int rtp_port_in_our_range();

// qsort comparison of an array of texts.
int comp_char_pointers(const void *a, const void *b);
