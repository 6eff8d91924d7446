// Port groups: named sets of line ports of one technology (ISDN, CAS, analog,
// GSM/LTE) that share settings, built once at start from the port sections of
// the technology's configuration file, and looked up by name or port number.
// The SIP port groups (SIP peers) live in the same record.
//
// The groups never change after start (apart from the round-robin cursors
// and the analog message-waiting states), so lookups take no lock. Strings
// handed out are the group's own; callers do not free them.
#pragma once
#include <cstdint>

#include "call_configuration.h"
#include "channel_spender.h"
#include "port_groups.h"
#include "t1e1casctl.h"

enum {
    PG_ISDN_PORT_MAX = 31,
    PG_CAS_PORT_MAX = 149,
    PG_ANALOG_PORT_MAX = 31,
    PG_GSM_PORT_MAX = 6,
    // Every accepted ISDN port may be a group of its own and has a map entry.
    PG_ISDN_GROUPS = PG_ISDN_PORT_MAX,
    PG_ISDN_MAP = PG_ISDN_PORT_MAX + 1,
    PG_ANALOG_GROUPS = 32,
    PG_ANALOG_MAP = 33,
    PG_CAS_GROUPS = 150,
    PG_CAS_MAP = 151,
    PG_GSM_GROUPS = 6,
    PG_GSM_MAP = 7,
};

struct port_group_isdn {
    char *name;
    int32_t *ports;
    int32_t port_count;
    int32_t interdigit_dialing_timeout_initial;
    int32_t interdigit_dialing_timeout;
    char *tones;
    int32_t chansel_method;
    int32_t overlap_dialing;
    int32_t qsig;
    int32_t port_pullup;
    int32_t qsig_network_extension;
    int32_t complete_dialing_on_pound_or_star;
    int32_t chansel_behaviour;
    int32_t chansel_direction;
    char *country_code;
    char *city_code;
    char *local_area_code;
    char *pgi_monitored_sip_peer;
    int32_t pgi_monitored_sip_peer_offtime;
    int32_t next_chansel_port_index;
};

struct port_group_cas;
struct port_group_cas_port_setting {
    int32_t port;
    port_group_cas *port_group;
    char *clip;
    char *cnip;
};

struct port_group_cas {
    char *name;
    int32_t port_count;
    port_group_cas_port_setting *port_settings;
    int32_t interdigit_dialing_timeout_initial;
    int32_t interdigit_dialing_timeout;
    char *tones;
    int32_t overlap_dialing;
    int32_t t1signalling;
    int32_t e1signalling;
    int32_t complete_dialing_on_pound_or_star;
    int32_t chansel_method;
    int32_t chansel_direction;
    int32_t next_chansel_port_index;
};

struct port_group_analog;
struct port_group_analog_port_setting {
    int32_t port;
    port_group_analog *port_group;
    char *clip;
    char *cnip;
    int32_t message_waiting;
    int32_t message_waiting_delivered;
};

enum { PG_MWI_STUTTER = 1, PG_MWI_FSK = 2, PG_MWI_OFF = 4 };

struct port_group_analog {
    char *name;
    int32_t port_count;
    port_group_analog_port_setting *port_settings;
    int32_t interdigit_dialing_timeout_initial;
    int32_t interdigit_dialing_timeout;
    char *tones;
    int32_t fxo_connect;
    int32_t fxo_wait_for_oad;
    int32_t fxo_dialtone_passthrough;
    char *fxo_call_ending_signal;
    int32_t fxo_portup_voltage;
    int32_t overlap_dialing;
    int32_t fxo_dialtone_detection_timeout;
    int32_t fxo_callerid_detection_timeout;
    int32_t complete_dialing_on_pound_or_star;
    char *fxo_cid_detection_mode;
    int32_t message_waiting_method;
    int32_t fxo_verify_ringing;
    int32_t fxs_wink_offset;
    int32_t fxs_wink_duration;
    char *pga_config;
    call_configuration pga_cc;
    int32_t chansel_method;
    int32_t chansel_direction;
    int32_t next_chansel_port_index;
};

struct port_group_gsm;
struct port_group_gsm_port_setting {
    int32_t port;
    port_group_gsm *port_group;
    char *pin;
    char *smsc;
    char *extension;
    char *sms_extension;
    char *sms_webhook;
    char *sms_webhook_user;
    char *sms_webhook_secret;
    char *sms_webhook_type;
    char *sms_webhook_id;
    char *cbm_webhook;
    int32_t sms_cleanup;
    int32_t gsmcodec;
    int32_t cid_wait_time;
    int32_t provider_mode;
    int32_t provider_id;
    int32_t access_technology;
};

struct port_group_gsm {
    char *name;
    int32_t port_count;
    port_group_gsm_port_setting *port_settings;
    int32_t chansel_direction;
    int32_t chansel_method;
    int32_t next_chansel_port_index;
    char *lte_init_hook;
};

struct port_groups {
    port_group_isdn *port_groups_isdn[PG_ISDN_GROUPS];
    int32_t port_groups_isdn_count;
    port_group_isdn *isdn_port_to_port_group_map[PG_ISDN_MAP];
    port_group_analog *port_groups_analog[PG_ANALOG_GROUPS];
    int32_t port_groups_analog_count;
    port_group_analog *analog_port_to_port_group_map[PG_ANALOG_MAP];
    port_group_cas *port_groups_cas[PG_CAS_GROUPS];
    int32_t port_groups_cas_count;
    port_group_cas *cas_port_to_port_group_map[PG_CAS_MAP];
    port_group_gsm *port_groups_gsm[PG_GSM_GROUPS];
    int32_t port_groups_gsm_count;
    port_group_gsm *gsm_port_to_port_group_map[PG_GSM_MAP];

    // SIP port groups (pg_sip_groups.h)
    struct port_group_sip *port_group_sip_local;
    char *default_emergency_numbers;
    struct port_group_sip *port_groups_sip; // current generation
    int32_t port_groups_sip_count;
    struct port_group_sip *port_groups_sip_old; // previous generation
    int32_t port_groups_sip_old_count;
    // The owners of the two arrays (reference counted with their holders).
    struct pg_sip_generation *port_groups_sip_generation;
    struct pg_sip_generation *port_groups_sip_old_generation;
};

// The application object's port groups, made (zero-filled) on first use.
port_groups *pg_port_groups();

// Builders: read the technology's configuration manager of the application
// object; ports outside the technology's range are reported on standard
// error and skipped. Always 0.
int pg_init_isdn_port_group_struct();
int pg_init_cas_port_group_struct();
int pg_init_analog_port_group_struct();
int pg_init_gsm_port_group_struct();

// Word conversions of the settings (ignoring case).
int pg_parse_chansel_method(const char *word, int gsm);
int pg_parse_chansel_direction(const char *word);
int pg_parse_chansel_behaviour(const char *word);
int pg_parse_message_waiting_method(const char *text);
// The hook text of lte_init_hook: the text between enclosing double quotes
// (inner ones written as backslash and quote), else empty. Returns a new
// string.
char *pg_parse_lte_init_hook(const char *value);

port_group_isdn *pg_get_port_group_isdn_by_port(int port);
port_group_gsm *pg_get_port_group_gsm_by_name(const char *name);
port_group_analog *pg_get_port_group_analog_by_name(const char *name);
port_group_cas *pg_get_port_group_cas_by_name(const char *name);
port_group_gsm *pg_get_port_group_gsm_by_port(int port);
port_group_analog *pg_get_port_group_analog_by_port(int port);
port_group_cas *pg_get_port_group_cas_by_port(int port);
port_group_gsm_port_setting *pg_get_port_group_gsm_port_settings_by_port(int port);
port_group_analog_port_setting *pg_get_port_group_analog_port_setting_by_port(int port);
port_group_cas_port_setting *pg_get_port_group_cas_port_setting_by_port(int port);
int pg_analog_get_index_of_port_in_group(const port_group_analog *group, int port);
int pg_cas_get_index_of_port_in_group(const port_group_cas *group, int port);
int pg_analog_get_port_by_clip(const char *number);
const char *pg_analog_get_clip_by_port(int port);
const char *pg_analog_get_cnip_by_port(int port);
const char *pg_cas_get_clip_by_port(int port);
const char *pg_cas_get_cnip_by_port(int port);
int pg_analog_get_fxs_wink_offset_by_port(int port);
int pg_analog_get_fxs_wink_duration_by_port(int port);
int pg_analog_get_complete_dialing_on_pound_or_star(int port);
int pg_cas_get_complete_dialing_on_pound_or_star(int port);
const char *pg_gsm_get_call_extension(int port);
const char *pg_gsm_get_sms_extension(int port);

// Frees the line groups and empties their tables (the daemon keeps them for
// its whole run; tests build them more than once).
void pg_free_line_port_groups();
