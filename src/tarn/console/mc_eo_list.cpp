// Console listing of the experimental options ("leo") and the look-up of
// one of them ("seo").
#include "mc_eo_list.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "experimental_options.h"

namespace {

typedef experimental_options eo_t;

// One line of the listing: an integer member, or a text member (then the
// line is "name=%s").
struct eo_line {
    const char *name;
    int32_t eo_t::*number;
    const char *eo_t::*text;
    bool hidden; // only while show_hidden_eo is set
};

#define N(name, member) {name, &eo_t::member, nullptr, false}
#define T(name, member) {name, nullptr, &eo_t::member, false}

// In the listing's order.
const eo_line eo_lines[] = {
    N("analog_cid_sdmf_offset", eo_analog_cid_sdmf_offset),
    N("auth_workaround", eo_auth_workaround),
    N("byeauth", eo_byeauth),
    N("cas_initial_logging", eo_cas_initial_logging),
    N("debug_flags", eo_debug_flags),
    N("distribute_invites", eo_distribute_invites),
    N("diversion_type", eo_diversion_type),
    N("dns_cache", eo_dns_cache),
    T("dns_override", eo_dns_override),
    N("dns_refresh_interval", eo_dns_refresh_interval),
    N("domain_as_contact", eo_domain_as_contact),
    N("dp_port_behaviour", eo_dp_port_behaviour),
    N("enable_prack", eo_enable_prack),
    {"eo_loglevel_override", nullptr, nullptr, false}, // a text field of its own (below)
    N("extra_debugging", eo_extra_debugging),
    N("glace", eo_gsm_libexpect_accept_cme_error),
    {"gsm_cbm_enable", &eo_t::eo_gsm_cbm_enable, nullptr, true},
    {"gsm_cbm_remove_cr", &eo_t::eo_gsm_cbm_remove_trailing_cr, nullptr, true},
    N("gsm_clcc_fallback", eo_gsm_clcc_fallback),
    N("gsm_debug_level", eo_gsm_debug_level),
    T("gsm_debug_ports", eo_gsm_debug_ports),
    N("gsm_extended_reports", eo_gsm_extended_reports),
    N("gsm_init_after_telnet", eo_gsm_init_after_telnet),
    N("gsm_pdu_mode", eo_gsm_pdu_mode),
    N("gsm_restart_on_fail_count", eo_gsm_restart_on_fail_count),
    N("gsm_sim_detect_fix", eo_gsm_sim_detect_fix),
    N("gsm_status_interval", eo_gsm_status_interval),
    N("gsm_wait_for_cds", eo_gsm_wait_for_cds),
    N("hang_on_alert", eo_hang_on_alert),
    N("ignoreisdnprogress", eo_ignoreisdnprogress),
    N("ipaddress_method", eo_ipaddress_method),
    N("iptables_delete", eo_iptables_delete),
    N("isdn_debug", eo_isdn_debug),
    N("isdn_layer_fix", eo_isdn_layer_fix),
    N("itapi_support", eo_itapi_support),
    N("latency", eo_latency),
    N("lte_disable_atv", eo_lte_disable_atv),
    N("ltedtmf", eo_ltedtmf),
    N("lte_read_method", eo_lte_read_method),
    N("lte_register_workaround", eo_lte_register_workaround),
    N("lte_register_workaround_min_wait", eo_lte_register_workaround_min_time),
    N("lte_register_workaround_pin_wait_time", eo_lte_register_workaround_pin_wait_time),
    N("memory_watchdog:options_memory_watchdog_graceful_reregister_threshold",
      eo_options_memory_watchdog_graceful_reregister_threshold),
    N("memory_watchdog:options_memory_watchdog_graceful_restart_threshold",
      eo_options_memory_watchdog_graceful_restart_threshold),
    N("memory_watchdog:options_memory_watchdog_instant_restart_threshold",
      eo_options_memory_watchdog_instant_restart_threshold),
    N("memory_watchdog:options_memory_watchdog_reject_calls_threshold",
      eo_options_memory_watchdog_reject_calls_threshold),
    N("msp_initial_logging", eo_msp_initial_logging),
    N("nat_probes_count", eo_nat_probes_count),
    N("no_100_trying_workaround", eo_no_100_trying_workaround),
    N("no_device_status_query", eo_no_device_status_query),
    N("no_failover_register", eo_no_failover_register),
    N("no_reason_header", eo_no_reason_header),
    N("number_of_call_objects", eo_number_of_call_objects),
    N("old_contact_method", eo_old_contact_method),
    N("options_memory_patch", eo_options_memory_patch),
    N("passthrough_rtp_ports", eo_passthrough_rtp_ports),
    N("pause_reregister_on_validation_fail", eo_pause_reregister_on_validation_fail),
    N("pt_clearmode", eo_pt_clearmode),
    N("pt_rfc2833", eo_pt_rfc2833),
    N("qsig_iso", eo_qsig_iso),
    N("registrar_check", eo_registrar_check),
    N("registrar_check_timeout", eo_registrar_check_timeout),
    N("rtp_traffic", eo_rtp_traffic),
    N("s2s_bus", eo_s2s_bus),
    N("s2s_transparent_modify_rfc2833_payload", eo_s2s_transparent_modify_rfc2833_payload),
    N("allow_transparent_bridging", eo_allow_transparent_bridging),
    N("sdpless_reinvite", eo_sdpless_reinvite),
    N("sip_debug", eo_sip_debug),
    N("sip_inbound_limit_max_calls_per_timeframe", eo_sip_inbound_limit_max_calls_per_timeframe),
    N("sip_inbound_limit_timeframe_length", eo_sip_inbound_limit_timeframe_length),
    N("sip_listen_on_wan", eo_sip_listen_on_wan),
    N("sip_message_to_sms", eo_sip_message_to_sms),
    N("sip_min_se", eo_sip_min_se),
    N("sms_delivery_report", eo_sms_delivery_report),
    N("stun_extra_check", eo_stun_extra_check),
    N("syscall_exit_on_fail", eo_syscall_exit_on_fail),
    N("syscall_max_threads", eo_syscall_max_threads),
    N("syscall_mode", eo_syscall_mode),
    N("syscall_timeout", eo_syscall_timeout),
    N("telnet_max_connections", eo_telnet_max_connections),
    N("telnet_remote_access", eo_telnet_remote_access),
    N("telnet_watchdog", eo_telnet_watchdog),
    N("tls_verify_policy", eo_tls_verify_policy),
    N("trdebug", eo_trdebug),
    N("validate_handle_refresh", eo_validate_handle_refresh),
    N("virtual_transcoding", eo_virtual_transcoding),
    N("isdn_l1down_workaround", eo_isdn_l1down_workaround),
    N("replaces_force_contact", eo_replaces_force_contact),
};
#undef N
#undef T

static_assert(sizeof eo_lines / sizeof eo_lines[0] == 88, "88 experimental options");

} // namespace

void mc_list_experimental_options_to(FILE *out)
{
    static const experimental_options none{};
    const experimental_options &eo = gp && gp->experimental_options ? *gp->experimental_options : none;
    bool hidden = gp && gp->show_hidden_eo;
    for (const eo_line &l : eo_lines) {
        if (l.hidden && !hidden)
            continue;
        if (l.number)
            fprintf(out, "%s=%i\n", l.name, eo.*l.number);
        else if (l.text)
            fprintf(out, "%s=%s\n", l.name, eo.*l.text ? eo.*l.text : "");
        else
            fprintf(out, "%s=%s\n", l.name, eo.eo_loglevel_override);
    }
}

int mc_list_experimental_options(const char *, FILE *out, int *)
{
    mc_list_experimental_options_to(out);
    return 0;
}

int mc_show_experimental_option(const char *arg, FILE *out, int *)
{
    const char *a = arg ? arg : "";
    while (*a == ' ' || *a == ':')
        a++;
    std::string name = a;
    size_t e = name.find_last_not_of(" \t");
    name = e == std::string::npos ? "" : name.substr(0, e + 1);
    if (name.empty()) {
        fputs("Missing experimental option\n", out);
        return 0;
    }
    char *buf = nullptr;
    size_t size = 0;
    FILE *mem = open_memstream(&buf, &size);
    if (!mem) {
        fputs("Could not read experimental options\n", out);
        return 0;
    }
    if (gp)
        gp->show_hidden_eo = 1;
    mc_list_experimental_options_to(mem);
    if (gp)
        gp->show_hidden_eo = 0;
    fclose(mem);
    std::string text(buf ? buf : "", size);
    free(buf);
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        std::string line = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        if (line.compare(0, line.find('='), name) == 0 && line.find('=') == name.size()) {
            fprintf(out, "%s\n", line.c_str());
            return 0;
        }
        if (nl == std::string::npos)
            break;
        at = nl + 1;
    }
    fprintf(out, "Unknown experimental option: %s\n", name.c_str());
    return 0;
}
