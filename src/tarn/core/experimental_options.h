// The `experimental_options` key of tarn.conf: comma-separated name=value
// settings that tune many parts of the daemon.
#pragma once
#include <cstdint>

struct experimental_options {
    int32_t eo_msp_initial_logging;
    char eo_loglevel_override[16];
    int32_t eo_number_of_call_objects;
    int32_t eo_gsm_restart_on_fail_count;
    int32_t eo_sip_message_to_sms;
    int32_t eo_pt_clearmode;
    int32_t eo_pt_rfc2833;
    int32_t eo_rtp_traffic;
    int32_t eo_latency;
    int32_t eo_tls_verify_policy;
    int32_t eo_cas_initial_logging;
    int32_t eo_byeauth;
    int32_t eo_qsig_iso;
    int32_t eo_sip_min_se;
    int32_t eo_ignoreisdnprogress;
    int32_t eo_sip_inbound_limit_max_calls_per_timeframe;
    int32_t eo_sip_inbound_limit_timeframe_length;
    int32_t eo_sip_listen_on_wan;
    int32_t eo_telnet_remote_access;
    int32_t eo_telnet_max_connections;
    int32_t eo_no_100_trying_workaround;
    int32_t eo_options_memory_patch;
    int32_t eo_options_memory_watchdog_graceful_restart_threshold;
    int32_t eo_options_memory_watchdog_reject_calls_threshold;
    int32_t eo_options_memory_watchdog_instant_restart_threshold;
    int32_t eo_options_memory_watchdog_graceful_reregister_threshold;
    int32_t eo_passthrough_rtp_ports;
    int32_t eo_etsi_fsk_window;
    int32_t eo_ipaddress_method;
    int32_t eo_nat_probes_count;
    int32_t eo_hang_on_alert;
    int32_t eo_no_device_status_query;
    int32_t eo_s2s_bus;
    int32_t eo_trdebug;
    int32_t eo_diversion_type;
    int32_t eo_dns_cache;
    int32_t eo_dns_refresh_interval;
    int32_t eo_telnet_watchdog;
    int32_t eo_syscall_mode;
    int32_t eo_syscall_exit_on_fail;
    int32_t eo_syscall_timeout;
    int32_t eo_syscall_max_threads;
    int32_t eo_itapi_support;
    int32_t eo_extra_debugging;
    int32_t eo_iptables_delete;
    const char *eo_dns_override; // owned text or none
    int32_t eo_sms_delivery_report;
    int32_t eo_sip_debug;
    int32_t eo_stun_extra_check;
    int32_t eo_domain_as_contact;
    int32_t eo_isdn_debug;
    int32_t eo_enable_prack;
    int32_t eo_validate_handle_refresh;
    int32_t eo_sdpless_reinvite;
    int32_t eo_distribute_invites;
    int32_t eo_no_failover_register;
    int32_t eo_debug_flags;
    int32_t eo_pause_reregister_on_validation_fail;
    int32_t eo_registrar_check;
    int32_t eo_registrar_check_timeout;
    int32_t eo_no_reason_header;
    int32_t eo_gsm_libexpect_accept_cme_error;
    int32_t eo_gsm_init_after_telnet;
    int32_t eo_gsm_sim_detect_fix;
    int32_t eo_gsm_extended_reports;
    int32_t eo_gsm_pdu_mode;
    int32_t eo_gsm_wait_for_cds;
    int32_t eo_gsm_clcc_fallback;
    int32_t eo_ltedtmf;
    int32_t eo_dp_port_behaviour;
    int32_t eo_isdn_layer_fix;
    int32_t eo_isdn_l1down_workaround;
    int32_t eo_s2s_transparent_modify_rfc2833_payload;
    int32_t eo_allow_transparent_bridging;
    int32_t eo_analog_cid_sdmf_offset;
    int32_t eo_old_contact_method;
    int32_t eo_lte_register_workaround;
    int32_t eo_lte_register_workaround_pin_wait_time;
    int32_t eo_lte_register_workaround_min_time;
    int32_t eo_lte_read_method;
    int32_t eo_lte_disable_atv;
    int32_t eo_allow_local_refer_replaces;
    int32_t eo_gsm_cbm_enable;
    int32_t eo_gsm_cbm_remove_trailing_cr;
    const char *eo_gsm_cbm_mids; // owned text or none
    int32_t eo_gsm_status_interval;
    int32_t eo_gsm_debug_level;
    const char *eo_gsm_debug_ports; // owned text or none
    int32_t eo_auth_workaround;
    int32_t eo_virtual_transcoding;
    int32_t eo_replaces_force_contact;
};

// Settings of libraries not wired in yet (the modem library's settings are
// written straight into it). eo_apply_library_settings hands them over.
struct eo_library_settings {
    int misdn_diversion_type;
    int sofia_sip_options_memory_patch;
    int msp_extra_debugging;
};
extern eo_library_settings eo_lib;

// Dynamic RTP payload types of RFC 2833 events and clear mode in SDP.
extern int PAYLOAD_TYPE_DYNAMIC_RFC2833;
extern int PAYLOAD_TYPE_DYNAMIC_CLEARMODE;

// Parses one option text into gp->experimental_options (made on first use);
// the caller keeps its text. Returns 0.
int _parse_experimental_options(const char *text);

// "in|out|subjects_in..." to the SIP stack's TLS verification bits.
int parse_tls_verify_options(const char *policy);

// Hands the library settings to the libraries that consume them.
void eo_apply_library_settings();
