// The process-wide application object, reached through gp and
// global_application_p (always the same object). Members are grouped by role;
// records of parts that fill them later are held by pointer.
#pragma once
#include <pthread.h>
#include <sys/time.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "call_configuration.h"
#include "call_progress.h"
#include "call_statistics.h"
#include "cause_map.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "cli.h"
#include "global_lock.h"
#include "gsm_status.h"
#include "hardware_conf.h"
#include "network_config.h"
#include "pcm_table.h"
#include "rtp_ports.h"
#include "sip_stack.h"
#include "tdm_settings.h"
#include "reg_object.h"

struct cm;
struct experimental_options;
struct dialplan_element;
struct port_groups;
struct iptables_rules_tracker;
struct dns_cache;
struct call_configuration_pool;
struct audio_codec;
struct task_list;
struct hardware_info;
struct analog_port_info;
struct headtonelist;
struct nonce_entry;
struct t38_proxy_info;
struct su_home_s;
struct su_root_s;
struct tarn_acl;
struct headsyscalllist;

enum {
    OPERATIONS_CAPACITY = 256,
    SIP_LEGS_CAPACITY = 512,
    SIP_STACKS_CAPACITY = 64,
    TRACE_RING_SIZE = 1024,
    ISDN_PORT_SETTINGS = 33, // ISDN ports 1..32 by number
};

extern int OPERATIONARRAYSIZE;
extern int CLSIPSIZE;
extern int REGISTRATIONARRAYSIZE;

// The last bit-error-rate test statistics of a DSP channel.
struct bert_statistics {
    uint32_t statistics_version;
    uint32_t current_lock_state;
    uint32_t number_of_bits_received;
    uint32_t number_of_good_bits_received;
    uint32_t number_of_bad_bits_received;
    uint32_t number_of_good_bits_received_since_last_lock;
    uint32_t number_of_bad_bits_received_since_last_lock;
    uint32_t number_of_lock_transitions;
    uint32_t number_of_bits_transmitted;
    uint32_t number_of_packets_received;
    uint32_t number_of_packets_lost;
    long acquire_time; // seconds since the epoch when stored
};

struct stunserver_entry {
    char stunserver[128];
    char externip[64];
};

struct application_object {
    // SIP stacks
    sip_stack sip_stacks[SIP_STACKS_CAPACITY];
    int32_t sip_stack_size;
    int32_t stack_active_lan;
    int32_t stack_active_wan;

    // pools
    call_object *operations[OPERATIONS_CAPACITY];
    call_leg_sip *sip_call_legs[SIP_LEGS_CAPACITY];
    reg_object **registrations;
    RTP_ports *rtp_ports;
    int32_t pid_counter;

    // locks and queues
    lock_manager *locks;
    void *nh_dismantler;
    headtonelist *tonelist;
    task_list *smrunlist;
    headsyscalllist *syscalllist;

    // configuration
    cm *config_tarn;
    cm *config_isdn;
    cm *config_analog;
    cm *config_sip;
    cm *config_gsm;
    cm *config_cas;
    cm *config_tones;
    cm *config_miscconf;
    cm *config_hardwareconf;
    char path_config_sip[256];
    char path_config_gsm[256];
    char path_config_tarn[256];
    char path_config_causes[256];
    cli_args *cargs;
    call_configuration default_call_configuration;
    struct experimental_options *experimental_options;
    int32_t show_hidden_eo;

    // routing data
    dialplan_element *dialplan;
    int32_t dialplan_size;
    char dialplan_path[256];
    cause_map causemap;
    cpt_s2i sip_to_isdn_call_progress_tables[CPT_MAX_TABLES];
    int32_t sip_to_isdn_call_progress_tables_size;
    cpt_i2s isdn_to_sip_call_progress_tables[CPT_MAX_TABLES];
    int32_t isdn_to_sip_call_progress_tables_size;
    cpt_s2fxo sip_to_fxo_call_progress_tables[CPT_MAX_TABLES];
    int32_t sip_to_fxo_call_progress_tables_size;
    const cpt_s2i *s2i_cpt_default;
    const cpt_i2s *i2s_cpt_default;
    const cpt_s2fxo *s2fxo_cpt_default;
    struct port_groups *port_groups;
    iptables_rules_tracker *iptables_rules;
    struct dns_cache *dns_cache;
    struct call_configuration_pool *call_configuration_pool;
    char *global_provider_list[512];
    codec_settings all_supported_codecs;

    // line and hardware data
    gsm_config_t gsm_cfg[GSM_PORT_TABLE]; // by port number
    // per ISDN port, indexed by port number 1..32
    int32_t isdn_ptp_settings[ISDN_PORT_SETTINGS];
    int32_t isdn_cidlen_settings[ISDN_PORT_SETTINGS];
    int32_t isdn_crlen_settings[ISDN_PORT_SETTINGS];
    void *chansel_settings;
    int32_t number_of_chansel_settings;
    tdm_settings tdm_map;
    network_config netconf;
    int32_t msp_processor_id;
    int32_t msp_bridging;
    std::atomic<int32_t> msp_counter; // message numbers: raised from several threads
    analog_port_info *analog_info;
    char analog_lang_mapping[16][16];
    hardware_info *hi;
    hardware_config hwconf;
    char *gsm_sms_spool_base; // owned texts of the GSM file's folder keys
    char *gsm_sms_spool_in;
    char *gsm_sms_spool_out;
    char *gsm_sms_spool_failout;
    char *gsm_sms_spool_parts;
    char *gsm_cbm_spool_base;
    char *gsm_cbm_spool_in;
    char *gsm_cbm_spool_parts;
    char *gsm_pins[8]; // owned; entry n for port n + 1
    char *gsm_sms_centrals[8];
    int32_t gsm_provider_mode[8];
    int32_t gsm_provider_numeric[8];
    int32_t gsm_access_technology[8];
    int32_t gsm_codecs[8];
    gsm_port_infos gsm_port_info;
    int32_t gsm_initialized;
    struct gsm_global_config *gsm_global_config;
    char *gsm_cusd_send_buffer[7];
    char *gsm_cusd_response_buffer[7];
    bert_statistics *bert_stat[255]; // per DSP channel, allocated on first use, never freed
    uint8_t bert_pattern;
    int32_t bert_use_custom_pattern;
    int32_t rtp_port_selection_method;
    char dummy_rtp_address[64];
    int32_t dummy_rtp_port;
    int32_t dummy_rtp_port_for_remote_bridging_offset;
    char msp_multicast_bytes[16];
    int32_t msp_multicast_remove;
    char firmware_version[32];

    // logging: the log back-ends keep their settings in log_backend()
    // (sizes, rotation lists, UDP targets, CAS and SIP stack logs)
    char cdr_log_path[256];
    int32_t log_cdr;
    int32_t cdr_log_filesize_limit;
    volatile int32_t cdr_log_do_flush;
    FILE *cdr_fp;

    // threads and run flags
    pthread_t status_thread;
    pthread_t pcm_thread;
    pthread_t cdrlog_thread;
    pthread_t sip_reload_thread;
    pthread_t smhelper_thread;
    pthread_t stun_thread;
    pthread_t *t38_proxy_threads[128]; // null: a free relay slot
    t38_proxy_info *t38_proxy_thread_info[128];
    volatile int run_pcm_client;
    volatile int run_pcm_server;
    volatile int run_status_server;
    volatile int run_msp_safeguard;
    volatile int run_sm_helper;
    volatile int reject_calls;
    int init_lock;
    int cleanup_needed;

    // statistics
    long tarn_start_time;
    call_statistics callstat;
    call_duration_statistics cds;
    ton_statistics_record ton_statistics;

    // trace of call identifiers
    int32_t tt_index;
    int32_t tt_pid[TRACE_RING_SIZE];
    int32_t tt_indices[TRACE_RING_SIZE];
    char tt_ihist[TRACE_RING_SIZE][64];
    struct timeval tt_connect_recv[TRACE_RING_SIZE];
    struct timeval tt_connect_ack[TRACE_RING_SIZE];
    struct timeval tt_vopena_send[TRACE_RING_SIZE];
    struct timeval tt_vopena_ack[TRACE_RING_SIZE];

    // console-driven calls
    int32_t telnet_new_outgoing_call;
    int32_t itapi_new_outgoing_call_fds[128];
    call_object *itapi_new_outgoing_call_objects[128];
    call_object *test_co;
    call_object *test_co2;
    int32_t test_dp_auto;
    char test_dp_country_code[32];
    char test_dp_city_code[32];
    char test_dp_local_area_code[32];

    // STUN and registration control
    stunserver_entry *stunservers;
    int32_t stunserver_count;
    int32_t stunserver_reload;
    int32_t external_ips_in_use;
    int32_t reregister_in_progress;
    int32_t reject_register;
    int32_t need_reregister_check;
    nonce_entry *noncelist;

    // others
    int socket_fd;
    pcm_bridging_timeslot_table pcm_table;
    int pcm_socket_fd;
    char pcm_server[256];
    int32_t pcm_server_port;
    int32_t zeroconf;
    char statusport[16];
    int32_t rtp_traffic;
    int32_t feature_code_timer_length;
    int32_t sys_safeguard_kernel_reboot_enabled;
    int32_t sys_safeguard_refresh_interval;
    int32_t sys_safeguard_timeout;
    int32_t tonetest;
    int32_t sms_cleanup;
    int32_t isdn_global_message_state[33];
    int32_t cf_facility_in_progress[33];
};

extern application_object *gp;
extern application_object *global_application_p;

// Allocates the object zero-filled and sets both references.
application_object *application_create();

// Allocates the lock set and stores it in the application object (which must
// exist) and in g_lock_manager.
void init_locks();

// Integer seconds of the first line of /proc/uptime; 0 when unreadable.
long read_uptime_seconds(const char *path = "/proc/uptime");
// The system's uptime in whole seconds (0 when /proc/uptime is unreadable).
long get_proc_uptime_seconds();
