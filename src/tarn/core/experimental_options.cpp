#include "experimental_options.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "application.h"
#include "gsm_cbm.h"
#include "ie_coders.h"
#include "gsm_settings.h"
#include "log.h"

eo_library_settings eo_lib = {};
int PAYLOAD_TYPE_DYNAMIC_RFC2833 = 101;
int PAYLOAD_TYPE_DYNAMIC_CLEARMODE = 97;

// Texts handed out through the record stay valid for the life of the
// process: a reload may run while other threads still read the previous
// generation, so replaced texts are parked here instead of freed.
static std::mutex retired_lock;
static std::vector<char *> *retired = new std::vector<char *>();

static const char *own_text(const char *old, const char *value)
{
    if (old) {
        std::lock_guard<std::mutex> g(retired_lock);
        retired->push_back(const_cast<char *>(old));
    }
    return strdup(value ? value : "");
}

static int clamp(int v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

typedef experimental_options eo_t;

// Each setter stores the value and returns what is now in force, for the
// row's message.
struct eo_row {
    const char *name;
    int (*set)(eo_t *eo, const char *value);
    const char *message; // "%i" of the value in force, or null
};

#define EO_INT(key, member, msg) \
    {key, [](eo_t *eo, const char *v) { return eo->member = atoi(v); }, msg}
#define EO_CLAMP(key, member, lo, hi, msg) \
    {key, [](eo_t *eo, const char *v) { return eo->member = clamp(atoi(v), lo, hi); }, msg}
#define EO_NONE(key) \
    {key, [](eo_t *, const char *) { return 0; }, nullptr}

static int set_dlo(eo_t *eo, const char *v)
{
    snprintf(eo->eo_loglevel_override, 15, "%s", v);
    LOGD(TARN, 0, nullptr, "setting dlo (loglevel_override) to %s!", eo->eo_loglevel_override);
    return 0;
}

static int set_pt(int *target, const char *v)
{
    int pt = atoi(v);
    if (pt >= 96 && pt <= 127)
        *target = pt;
    return *target;
}

static int set_sip_inbound_limit(eo_t *eo, const char *v)
{
    const char *colon = strchr(v, ':');
    if (!colon)
        return 0;
    int n = atoi(v);
    int t = atoi(colon + 1);
    eo->eo_sip_inbound_limit_max_calls_per_timeframe = n < 1 ? 0 : n > 30 ? 30 : n;
    eo->eo_sip_inbound_limit_timeframe_length = clamp(t, 1000, 60000);
    return 0;
}

static int set_memory_watchdog(eo_t *eo, const char *v)
{
    int vals[3] = {0, 0, 0};
    const char *p = v;
    for (int i = 0; i < 3 && p; i++) {
        vals[i] = atoi(p);
        p = strchr(p, ':');
        if (p)
            p++;
    }
    eo->eo_options_memory_watchdog_graceful_restart_threshold = vals[0];
    eo->eo_options_memory_watchdog_reject_calls_threshold = vals[1];
    eo->eo_options_memory_watchdog_instant_restart_threshold = vals[2];
    return 0;
}

static int set_text_member(const char *eo_t::*member, eo_t *eo, const char *v, const char *fmt)
{
    eo->*member = own_text(eo->*member, v);
    LOGD(TARN, 0, nullptr, fmt, eo->*member);
    return 0;
}

static const eo_row eo_rows[] = {
    EO_INT("iml", eo_msp_initial_logging, "setting iml (msp_initial_logging) to %i!"),
    {"dlo", set_dlo, nullptr},
    EO_CLAMP("nco", eo_number_of_call_objects, 1, 256, "setting nco (number_of_call_objects) to %i!"),
    EO_INT("grofc", eo_gsm_restart_on_fail_count, nullptr),
    EO_INT("msgtosms", eo_sip_message_to_sms, nullptr),
    {"pt_rfc2833", [](eo_t *eo, const char *v) { return eo->eo_pt_rfc2833 = set_pt(&PAYLOAD_TYPE_DYNAMIC_RFC2833, v); }, nullptr},
    {"pt_clearmode", [](eo_t *, const char *v) { return set_pt(&PAYLOAD_TYPE_DYNAMIC_CLEARMODE, v); }, nullptr},
    {"rtp_traffic", [](eo_t *eo, const char *v) { return gp->rtp_traffic = eo->eo_rtp_traffic = atoi(v); }, nullptr},
    EO_INT("latency", eo_latency, "setting msp latency to %i!"),
    {"tls_verify_policy", [](eo_t *eo, const char *v) {
         char buf[256];
         snprintf(buf, sizeof buf, "%s", v);
         return eo->eo_tls_verify_policy = parse_tls_verify_options(buf);
     }, nullptr},
    {"grp", [](eo_t *, const char *v) { return gsm_restore_profile = atoi(v); }, nullptr},
    EO_INT("icl", eo_cas_initial_logging, "setting icl (msp_initial_logging) to %i!"),
    EO_INT("byeauth", eo_byeauth, "setting byeauth to %i!"),
    EO_INT("qsig_iso", eo_qsig_iso, nullptr),
    EO_INT("sip_min_se", eo_sip_min_se, nullptr),
    {"sip_inbound_limit", set_sip_inbound_limit, nullptr},
    EO_INT("listen_on_wan", eo_sip_listen_on_wan, nullptr),
    EO_INT("telnet_remote_access", eo_telnet_remote_access, "setting telnet_remote_access to %i!"),
    EO_INT("telnet_max_connections", eo_telnet_max_connections, "setting telnet_max_connections to %i!"),
    EO_NONE("no100fix"),
    {"options_memory_patch", [](eo_t *eo, const char *v) {
         return eo->eo_options_memory_patch = eo_lib.sofia_sip_options_memory_patch = atoi(v);
     }, "setting options_patch to %i!"},
    {"memory_watchdog", set_memory_watchdog, nullptr},
    EO_INT("graceful_reregister", eo_options_memory_watchdog_graceful_reregister_threshold, nullptr),
    EO_INT("passthrough_rtp_ports", eo_passthrough_rtp_ports, "setting passthrough_rtp_ports to %i!"),
    EO_INT("etsi_fsk_window", eo_etsi_fsk_window, "setting etsi_fsk_window to %i!"),
    EO_INT("ipaddress_method", eo_ipaddress_method, "setting ipaddress_method to %i!"),
    EO_INT("nat_probes_count", eo_nat_probes_count, "setting natprobes to %i!"),
    {"cidmod", [](eo_t *, const char *v) { return cidmodval = atoi(v); }, nullptr},
    EO_INT("hang_on_alert", eo_hang_on_alert, "setting hang_on_alert to %i!"),
    EO_INT("no_device_status_query", eo_no_device_status_query, "setting no_device_status_query %i!"),
    EO_INT("s2s_bus", eo_s2s_bus, "setting s2s_bus %i!"),
    EO_INT("trdebug", eo_trdebug, "setting trdebug %i!"),
    {"diversion_type", [](eo_t *eo, const char *v) {
         return eo->eo_diversion_type = eo_lib.misdn_diversion_type = atoi(v);
     }, "setting diversion_type %i!"},
    EO_INT("extra_debugging", eo_extra_debugging, "setting extra_debugging %i!"),
    EO_INT("itapi_support", eo_itapi_support, "setting itapi_support %i!"),
    EO_INT("dns_refresh_interval", eo_dns_refresh_interval, "setting dns_refresh_interval %i!"),
    EO_INT("telnet_watchdog", eo_telnet_watchdog, "setting telnet_watchdog %i!"),
    EO_INT("syscall_mode", eo_syscall_mode, "setting syscall_mode %i!"),
    EO_INT("syscall_exit_on_fail", eo_syscall_exit_on_fail, "setting syscall_exit_on_fail %i!"),
    EO_CLAMP("syscall_max_threads", eo_syscall_max_threads, 1, 16, "setting eo_syscall_max_threads %i!"),
    EO_CLAMP("syscall_timeout", eo_syscall_timeout, 1, 0x7fffffff, "setting syscall_timeout %i!"),
    EO_INT("dns_cache", eo_dns_cache, "setting dns_cache %i!"),
    EO_INT("iptables_delete", eo_iptables_delete, "setting iptables_delete %i!"),
    {"dns_override", [](eo_t *eo, const char *v) {
         return set_text_member(&eo_t::eo_dns_override, eo, v, "setting dns_override |%s|!");
     }, nullptr},
    EO_INT("sms_delivery_report", eo_sms_delivery_report, "setting sms_delivery_report %i!"),
    EO_NONE("sip_debug"),
    EO_INT("stun_extra_check", eo_stun_extra_check, "setting stun_extra_check %i!"),
    EO_INT("domain_as_contact", eo_domain_as_contact, "setting domain_as_contact %i!"),
    EO_INT("isdn_debug", eo_isdn_debug, "setting isdn_debug %i!"),
    EO_INT("enable_prack", eo_enable_prack, "setting enable_prack %i!"),
    EO_INT("validate_handle_refresh", eo_validate_handle_refresh, "setting validate_handle_refresh %i!"),
    EO_INT("sdpless_reinvite", eo_sdpless_reinvite, "setting sdpless_reinvite %i!"),
    EO_INT("no_failover_register", eo_no_failover_register, "setting no_failover_register %i!"),
    EO_INT("distribute_invites", eo_distribute_invites, "setting distribute_invites %i!"),
    EO_INT("debug_flags", eo_debug_flags, "setting debug_flags to %i!"),
    {"ltedtmf", [](eo_t *eo, const char *v) {
         return eo->eo_ltedtmf = global_gsm_dtmf_notification_handle = atoi(v);
     }, nullptr},
    EO_INT("pause_reregister_on_validation_fail", eo_pause_reregister_on_validation_fail,
           "setting eo_pause_reregister_on_validation_fail to %i!"),
    EO_INT("registrar_check", eo_registrar_check, "setting registrar_check to %i!"),
    EO_CLAMP("registrar_check_timeout", eo_registrar_check_timeout, 10, 2000, "setting registrar_check_timeout to %i!"),
    EO_INT("no_reason_header", eo_no_reason_header, nullptr),
    EO_INT("glace", eo_gsm_libexpect_accept_cme_error, nullptr),
    EO_INT("gsm_sim_detect_fix", eo_gsm_sim_detect_fix, nullptr),
    EO_INT("gsm_init_after_telnet", eo_gsm_init_after_telnet, nullptr),
    {"gsm_extended_reports", [](eo_t *eo, const char *v) {
         return eo->eo_gsm_extended_reports = global_gsm_extended_reports = atoi(v);
     }, nullptr},
    {"gsm_pdu_mode", [](eo_t *eo, const char *v) {
         return eo->eo_gsm_pdu_mode = global_gsm_pdu_mode = atoi(v);
     }, nullptr},
    {"gsm_wait_for_cds", [](eo_t *eo, const char *v) {
         eo->eo_gsm_wait_for_cds = atoi(v);
         if (eo->eo_gsm_wait_for_cds >= 1 && eo->eo_gsm_wait_for_cds <= 10)
             global_gsm_wait_for_cds_time = eo->eo_gsm_wait_for_cds;
         return eo->eo_gsm_wait_for_cds;
     }, nullptr},
    {"gsm_clcc_fallback", [](eo_t *eo, const char *v) { return eo->eo_gsm_clcc_fallback = atoi(v) != 0; },
     "setting gsm_clcc_fallback %i!"},
    EO_INT("dp_port_behaviour", eo_dp_port_behaviour, nullptr),
    EO_INT("isdn_layer_fix", eo_isdn_layer_fix, nullptr),
    EO_INT("s2s_transparent_modify_rfc2833_payload", eo_s2s_transparent_modify_rfc2833_payload, nullptr),
    EO_INT("allow_transparent_bridging", eo_allow_transparent_bridging, nullptr),
    EO_INT("analog_cid_sdmf_offset", eo_analog_cid_sdmf_offset, nullptr),
    EO_INT("old_contact_method", eo_old_contact_method, nullptr),
    EO_INT("lte_register_workaround", eo_lte_register_workaround, nullptr),
    EO_INT("lte_register_workaround_pin_wait_time", eo_lte_register_workaround_pin_wait_time, nullptr),
    EO_INT("lte_register_workaround_min_time", eo_lte_register_workaround_min_time, nullptr),
    {"lte_read_method", [](eo_t *eo, const char *v) {
         return eo->eo_lte_read_method = global_gsm_read_method = atoi(v);
     }, nullptr},
    EO_INT("lte_disable_atv", eo_lte_disable_atv, nullptr),
    EO_INT("allow_local_replaces", eo_allow_local_refer_replaces, nullptr),
    {"gsm_cbm_enable", [](eo_t *eo, const char *v) {
         eo->eo_gsm_cbm_enable = atoi(v);
         if (eo->eo_gsm_cbm_enable)
             eo->eo_gsm_pdu_mode = global_gsm_pdu_mode = 1;
         return eo->eo_gsm_cbm_enable;
     }, "setting gsm_cbm_enable %i!"},
    EO_INT("gsm_cbm_remove_cr", eo_gsm_cbm_remove_trailing_cr, "setting gsm_cbm_remove_trailing_cr %i!"),
    {"gsm_cbm_mids", [](eo_t *eo, const char *v) {
         return set_text_member(&eo_t::eo_gsm_cbm_mids, eo, v, "setting gsm_cbm_mids |%s|!");
     }, nullptr},
    EO_CLAMP("gsm_status_interval", eo_gsm_status_interval, 30, 600, "setting gsm_status_interval %i!"),
    {"gsm_debug_ports", [](eo_t *eo, const char *v) {
         return set_text_member(&eo_t::eo_gsm_debug_ports, eo, v, "setting gsm_debug_ports |%s|!");
     }, nullptr},
    EO_INT("gsm_debug_level", eo_gsm_debug_level, "setting gsm_debug_level %i!"),
    EO_INT("auth_workaround", eo_auth_workaround, "setting auth_workaround %i!"),
    EO_INT("virtual_transcoding", eo_virtual_transcoding, "setting virtual_transcoding %i!"),
    EO_INT("isdn_l1down_workaround", eo_isdn_l1down_workaround, "setting isdn_l1down_workaround %i!"),
    EO_INT("replaces_force_contact", eo_replaces_force_contact, "setting replaces_force_contact %i!"),
};

int parse_tls_verify_options(const char *policy)
{
    static const struct {
        const char *word;
        int bits;
    } words[] = {{"in", 1}, {"out", 2}, {"all", 3}, {"subjects_in", 5}, {"subjects_out", 10}, {"subjects_all", 15}};
    int result = 0;
    std::string text(policy ? policy : "");
    size_t start = 0;
    for (;;) {
        size_t bar = text.find('|', start);
        std::string w = text.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        for (auto &x : words)
            if (strcasecmp(w.c_str(), x.word) == 0)
                result |= x.bits;
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return result;
}

static void reset_defaults(eo_t *eo)
{
    eo->eo_passthrough_rtp_ports = 16;
    eo->eo_analog_cid_sdmf_offset = 8;
    eo->eo_latency = -1;
    eo->eo_tls_verify_policy = -1;
    eo->eo_nat_probes_count = 3;
    eo->eo_s2s_bus = -1;
    eo->eo_syscall_max_threads = 4;
    eo->eo_syscall_timeout = 10;
    eo->eo_telnet_max_connections = 8;
    eo->eo_byeauth = 2;
    eo->eo_syscall_mode = 6;
    eo->eo_options_memory_watchdog_graceful_restart_threshold = 35;
    eo->eo_options_memory_watchdog_reject_calls_threshold = 40;
    eo->eo_options_memory_watchdog_instant_restart_threshold = 50;
    eo->eo_registrar_check_timeout = 1000;
    eo->eo_lte_register_workaround_pin_wait_time = 5;
    eo->eo_no_100_trying_workaround = 2;
    eo->eo_sms_delivery_report = 1;
    eo->eo_dns_cache = 1;
    eo->eo_syscall_exit_on_fail = 1;
    eo->eo_domain_as_contact = 0;
    eo->eo_etsi_fsk_window = 0;
    eo->eo_validate_handle_refresh = 60;
    eo->eo_sdpless_reinvite = 1;
    eo->eo_registrar_check = 1;
    eo->eo_gsm_init_after_telnet = 1;
    eo->eo_lte_disable_atv = 0;
    eo->eo_gsm_clcc_fallback = 0;
    eo->eo_dp_port_behaviour = 0;
    eo->eo_lte_register_workaround = 1;
    eo->eo_lte_register_workaround_min_time = 30;
    eo->eo_gsm_status_interval = 60;
    eo->eo_allow_transparent_bridging = 0;
    eo->eo_lte_read_method = 1;
    global_gsm_read_method = 1;
    eo->eo_gsm_libexpect_accept_cme_error = global_gsm_libexpect_accept_cme_error;
    eo->eo_gsm_sim_detect_fix = global_gsm_sim_detect_fix;
    eo->eo_pt_rfc2833 = PAYLOAD_TYPE_DYNAMIC_RFC2833;
    eo->eo_gsm_debug_ports = own_text(eo->eo_gsm_debug_ports, "");
}

static std::string trim(const std::string &s)
{
    const char *ws = " \t\r\n\v\f";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

static eo_t *eo_record()
{
    if (!gp->experimental_options)
        gp->experimental_options = new experimental_options(); // lives with the process
    return gp->experimental_options;
}

int _parse_experimental_options(const char *text)
{
    eo_t *eo = eo_record();
    reset_defaults(eo);
    std::string copy(text ? text : "");
    size_t start = 0;
    for (;;) {
        size_t comma = copy.find(',', start);
        std::string piece = copy.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        size_t eq = piece.find('=');
        if (eq != std::string::npos) {
            std::string name = trim(piece.substr(0, eq));
            std::string value = trim(piece.substr(eq + 1));
            for (const eo_row &r : eo_rows) {
                if (name != r.name)
                    continue;
                int now = r.set(eo, value.c_str());
                if (r.message)
                    log_msg_debug(0, TARN, __FILE__, __LINE__, __func__, nullptr, r.message, now);
                break;
            }
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    global_gsm_cbm_remove_trailing_cr = eo->eo_gsm_cbm_remove_trailing_cr;
    global_gsm_sim_detect_fix = eo->eo_gsm_sim_detect_fix;
    global_gsm_libexpect_accept_cme_error = eo->eo_gsm_libexpect_accept_cme_error;
    global_gsm_cbm_enable = eo->eo_gsm_cbm_enable;
    gsm_cbm_set_mids(eo->eo_gsm_cbm_mids ? eo->eo_gsm_cbm_mids : "");
    gsm_sms_delivery_report = eo->eo_sms_delivery_report;
    if (eo->eo_extra_debugging)
        eo_lib.msp_extra_debugging = 1;
    if (PAYLOAD_TYPE_DYNAMIC_RFC2833 == PAYLOAD_TYPE_DYNAMIC_CLEARMODE) {
        PAYLOAD_TYPE_DYNAMIC_CLEARMODE = 97;
        PAYLOAD_TYPE_DYNAMIC_RFC2833 = 101;
    }
    eo_apply_library_settings();
    return 0;
}

void eo_apply_library_settings()
{
    // The libraries read their settings from eo_lib as they are wired in.
}
