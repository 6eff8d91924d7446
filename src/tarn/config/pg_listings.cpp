#include "pg_listings.h"

#include <cstring>

#include "dns_cache.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"

namespace {

const char *const separator = "===================================================\n";

const char *text(const char *s) { return s ? s : ""; }

// The shape every listing shares: nothing without groups; a heading and an
// empty line before the first; per group its line, its body and the
// separator.
template <class Group, class Body>
void list_groups(FILE *out, const char *heading, const char *group_line, Group *const *groups, int count,
                 Body body)
{
    if (!out || count <= 0)
        return;
    fputs(heading, out);
    for (int i = 0; i < count; i++) {
        if (!groups[i])
            continue;
        fprintf(out, group_line, i + 1, text(groups[i]->name));
        body(*groups[i]);
        fputs(separator, out);
    }
}

// The direction, method, overlap, pound-or-star and tones lines that the
// analog and CAS listings share.
template <class Group>
void common_line_settings(FILE *out, int port, const Group &g)
{
    fprintf(out, "Port %i => Chansel Direction                    : %s\n", port,
            chansel_direction_to_string(g.chansel_direction));
    fprintf(out, "Port %i => Chansel Method                       : %s\n", port,
            chansel_method_to_string(g.chansel_method));
    fprintf(out, "Port %i => Overlap Dialing                      : %i\n", port, g.overlap_dialing);
    fprintf(out, "Port %i => Complete Dialing on Pound or Star    : %i\n", port, g.complete_dialing_on_pound_or_star);
    fprintf(out, "Port %i => Tones                                : %s\n", port, text(g.tones));
}

void isdn_port(FILE *out, int port, const port_group_isdn &g)
{
    fprintf(out, "Port %i => Chansel Direction                    : %s\n", port,
            chansel_direction_to_string(g.chansel_direction));
    fprintf(out, "Port %i => Chansel Method                       : %s\n", port,
            chansel_method_to_string(g.chansel_method));
    fprintf(out, "Port %i => Chansel Behaviour                    : %s\n", port,
            chansel_behaviour_to_string(g.chansel_behaviour));
    fprintf(out, "Port %i => Complete Dialing on Pound or Star    : %i\n", port, g.complete_dialing_on_pound_or_star);
    fprintf(out, "Port %i => Country Code                         : %s\n", port, text(g.country_code));
    fprintf(out, "Port %i => City Code                            : %s\n", port, text(g.city_code));
    fprintf(out, "Port %i => Local Area Code                      : %s\n", port, text(g.local_area_code));
    fprintf(out, "Port %i => Interdigit Timeout                   : %i\n", port, g.interdigit_dialing_timeout);
    fprintf(out, "Port %i => Initial Interdigit Timeout           : %i\n", port,
            g.interdigit_dialing_timeout_initial);
    fprintf(out, "Port %i => Overlap Dialing                      : %i\n", port, g.overlap_dialing);
    fprintf(out, "Port %i => QSIG                                 : %i\n", port, g.qsig);
    fprintf(out, "Port %i => QSIG Net Extension                   : %i\n", port, g.qsig_network_extension);
}

void analog_port(FILE *out, const port_group_analog_port_setting &p, const port_group_analog &g)
{
    int port = p.port;
    common_line_settings(out, port, g);
    fprintf(out, "Port %i => CLIP                                 : %s\n", port, text(p.clip));
    fprintf(out, "Port %i => CNIP                                 : %s\n", port, text(p.cnip));
    fprintf(out, "Port %i => Message Waiting                      : %i\n", port, p.message_waiting);
    fprintf(out, "Port %i => FXO Call Ending Signal               : %s\n", port, text(g.fxo_call_ending_signal));
    fprintf(out, "Port %i => FXO CallerId Detection Timeout       : %i\n", port, g.fxo_callerid_detection_timeout);
    fprintf(out, "Port %i => FXO CallerId Detection Mode          : %s\n", port, text(g.fxo_cid_detection_mode));
    fprintf(out, "Port %i => FXO Connect Setting                  : %s\n", port,
            g.fxo_connect ? "polarity" : "instant");
    fprintf(out, "Port %i => FXO Dialtone Detection Timeout       : %i\n", port, g.fxo_dialtone_detection_timeout);
    fprintf(out, "Port %i => FXO Dialtone Passthrough             : %i\n", port, g.fxo_dialtone_passthrough);
    fprintf(out, "Port %i => FXO PortUp Voltage                   : %i\n", port, g.fxo_portup_voltage);
    fprintf(out, "Port %i => FXO Wait for OAD                     : %s\n", port,
            g.fxo_wait_for_oad ? "wait" : "dontwait");
    fprintf(out, "Port %i => FXO Verify Ringing                   : %i\n", port, g.fxo_verify_ringing);
    fprintf(out, "Port %i => FXS Wink Offset                      : %i\n", port, g.fxs_wink_offset);
    fprintf(out, "Port %i => FXS Wink Duration                    : %i\n", port, g.fxs_wink_duration);
}

void gsm_port(FILE *out, const port_group_gsm_port_setting &p, const port_group_gsm &g)
{
    int port = p.port;
    fprintf(out, "Port %i => Chansel Direction   : %s\n", port, chansel_direction_to_string(g.chansel_direction));
    fprintf(out, "Port %i => Chansel Method      : %s\n", port, chansel_method_to_string(g.chansel_method));
    fprintf(out, "Port %i => Pin                 : %s\n", port, p.pin && *p.pin ? "yes" : "no");
    fprintf(out, "Port %i => SMS Center          : %s\n", port, text(p.smsc));
    fprintf(out, "Port %i => Extension           : %s\n", port, text(p.extension));
    fprintf(out, "Port %i => SMS Extension       : %s\n", port, text(p.sms_extension));
    fprintf(out, "Port %i => SMS Webhook         : %s\n", port, text(p.sms_webhook));
    fprintf(out, "Port %i => SMS Webhook User    : %s\n", port, text(p.sms_webhook_user));
    // The secret itself is never shown.
    fprintf(out, "Port %i => SMS Webhook Secret  : %s\n", port,
            p.sms_webhook_secret && *p.sms_webhook_secret ? "xxxxxx" : "");
    fprintf(out, "Port %i => SMS Webhook Type    : %s\n", port, text(p.sms_webhook_type));
    fprintf(out, "Port %i => SMS Webhook ID      : %s\n", port, text(p.sms_webhook_id));
    if (p.gsmcodec == 0) {
        fprintf(out, "Port %i => Codecs              : %i (ALL)\n", port, p.gsmcodec);
    } else {
        char names[256];
        pg_gsm_codec_list(p.gsmcodec, names, sizeof names);
        fprintf(out, "Port %i => Codecs              : %i (%s)\n", port, p.gsmcodec, names);
    }
}

void sip_srv_records(FILE *out, const port_group_sip &g)
{
    if (!g.pgs_cc.dns_srv)
        return;
    if (const dns_cache_srv_record *r = g.pgs_srv_record_proxy) {
        fprintf(out, "DNSSRV PROXY: active index = %i\n", r->using_record);
        dns_cache_list_srv_record(out, r);
    }
    if (g.pgs_proxy_and_registrar_identical == 0) {
        if (const dns_cache_srv_record *r = g.pgs_srv_record_registrar) {
            fprintf(out, "DNSSRV REG: active index = %i\n", r->using_record);
            dns_cache_list_srv_record(out, r);
        }
    }
}

void sip_group(FILE *out, const port_group_sip &g)
{
    fputs("\n", out);
    fprintf(out, "User Count: %i\n", g.pgs_user_count);
    for (int k = 0; g.pgs_users && k < g.pgs_user_count; k++) {
        const port_group_sip_user *u = g.pgs_users[k];
        if (!u)
            continue;
        fprintf(out, "User      No. %i                  : %s\n", k + 1, text(u->pgsu_user));
        fprintf(out, "AuthUser  No. %i                  : %s\n", k + 1, text(u->pgsu_authuser));
        fprintf(out, "Display   No. %i                  : %s\n", k + 1, text(u->pgsu_displayname));
        fputs("-------------------------------------\n", out);
    }
    fprintf(out, "Adresss                         : %s (port %i) => resolved: |%s|\n", text(g.pgs_sip_proxy),
            g.pgs_sip_proxy_port, text(g.pgs_sip_proxy_using_address_resolved));
    fprintf(out, "Registrar                       : %s (port %i) => resolved: |%s|\n", text(g.pgs_sip_registrar),
            g.pgs_sip_registrar_port, text(g.pgs_sip_registrar_using_address_resolved));
    fprintf(out, "Domain                          : %s\n", text(g.pgs_sip_domain));
    fprintf(out, "Register                        : %i\n", g.pgs_do_register);
    fprintf(out, "RegRefresh                      : %i\n", g.pgs_refresh_interval);
    fprintf(out, "RegRefreshFailed                : %i\n", g.pgs_refresh_interval_failed);

    fprintf(out, "Transport                       : %s\n", pg_sip_print_transport(g.pgs_transport));
    fprintf(out, "Externip                        : %s\n", text(g.pgs_externip));
    fprintf(out, "ENUM Supprt                     : %i\n", g.pgs_enum_support);
    for (int k = 0; g.pgs_enum_search_domains && k < g.pgs_enum_search_domain_count; k++)
        fprintf(out, "ENUM Search Domain %i             : %s\n", k + 1, text(g.pgs_enum_search_domains[k]));
    for (int k = 0; g.pgs_stunserver && k < g.pgs_stunserver_count; k++)
        fprintf(out, "Stunserver %i                    : %s\n", k + 1, text(g.pgs_stunserver[k]));
    fprintf(out, "Register Options                : %s\n", text(g.pgs_register_options));
    fprintf(out, "Contact                         : %s\n", text(g.pgs_contact_string));

    if (g.pgs_callgroup_name && *g.pgs_callgroup_name)
        fprintf(out, "Callgroup                       : %s (priority: %i)\n", g.pgs_callgroup_name,
                g.pgs_callgroup_priority);
    fprintf(out, "Call limit                      : %i\n", g.pgs_max_simultaneous_calls);
    fprintf(out, "Emergency Numbers               : %s\n", text(g.pgs_emergency_numbers));

    sip_srv_records(out, g);
}

} // namespace

const char *const gsm_codec_names[GSM_CODEC_NAMES] = {
    "FR", "EFR", "HR", "AMR-FR", "AMR-HR", "GSM-AMR-WB", "UMTS-AMR-NB", "UMTS-AMR-WB",
};

void pg_gsm_codec_list(int gsmcodec, char *buf, size_t size)
{
    if (!buf || size == 0)
        return;
    buf[0] = '\0';
    size_t limit = size < 256 ? size - 1 : 255, used = 0; // characters
    for (int k = 0; k < GSM_CODEC_NAMES; k++) {
        if (!(gsmcodec & (1 << k)))
            continue;
        // Whole names only: a cut list never ends in a comma or half a name.
        size_t need = strlen(gsm_codec_names[k]) + (used ? 1 : 0);
        if (used + need > limit)
            break;
        used += (size_t)snprintf(buf + used, size - used, "%s%s", used ? "," : "", gsm_codec_names[k]);
    }
}

const char *chansel_direction_to_string(int direction)
{
    switch (direction) {
    case CHANSEL_DIRECTION_ASCENDING: return "ascending";
    case CHANSEL_DIRECTION_DESCENDING: return "descending";
    default: return "unknown";
    }
}

const char *chansel_method_to_string(int method)
{
    switch (method) {
    case CHANSEL_STANDARD: return "standard";
    case CHANSEL_ROUNDROBIN: return "roundrobin";
    case CHANSEL_RANDOM: return "random";
    default: return "unknown";
    }
}

const char *chansel_behaviour_to_string(int behaviour)
{
    switch (behaviour) {
    case CHANNEL_DEFAULT: return "default";
    case CHANNEL_EXCLUSIVE: return "exclusive";
    case CHANNEL_ALTERNATIVE: return "alternative";
    case CHANNEL_ANY: return "any";
    default: return "unknown";
    }
}

const char *pg_sip_print_transport(int transport)
{
    enum { UDP = 1, TCP = 2, TLS = 4 };
    switch (transport) {
    case UDP: return "UDP";
    case TCP: return "TCP";
    case TLS: return "TLS";
    }
    if ((transport & UDP) && (transport & TCP))
        return "UDP/TCP";
    if ((transport & UDP) && (transport & TLS))
        return "UDP/TLS";
    if ((transport & TCP) && (transport & TLS))
        return "TCP/TLS";
    return "UNKNOWN";
}

void pg_list_groups_isdn(FILE *out)
{
    const port_groups *pg = pg_port_groups();
    list_groups(out, "Listing ISDN Port Groups\n\n", "=> ISDN Port Group %i: %s\n", pg->port_groups_isdn,
                pg->port_groups_isdn_count, [out](const port_group_isdn &g) {
                    for (int i = 0; g.ports && i < g.port_count; i++) {
                        fputs("\n", out);
                        isdn_port(out, g.ports[i], g);
                    }
                    fputs("\n", out);
                });
}

void pg_list_groups_analog(FILE *out)
{
    const port_groups *pg = pg_port_groups();
    list_groups(out, "Listing Analog Port Groups\n\n", "=> Analog Port Group %i: %s\n", pg->port_groups_analog,
                pg->port_groups_analog_count, [out](const port_group_analog &g) {
                    for (int i = 0; g.port_settings && i < g.port_count; i++) {
                        fputs("\n", out);
                        analog_port(out, g.port_settings[i], g);
                    }
                    fputs("\n", out);
                });
}

// The CAS groups under the analog listing's heading and group line.
void pg_list_groups_cas(FILE *out)
{
    const port_groups *pg = pg_port_groups();
    list_groups(out, "Listing Analog Port Groups\n\n", "=> Analog Port Group %i: %s\n", pg->port_groups_cas,
                pg->port_groups_cas_count, [out](const port_group_cas &g) {
                    for (int i = 0; g.port_settings && i < g.port_count; i++) {
                        fputs("\n", out);
                        common_line_settings(out, g.port_settings[i].port, g);
                    }
                    fputs("\n", out);
                });
}

void pg_list_groups_gsm(FILE *out)
{
    const port_groups *pg = pg_port_groups();
    list_groups(out, "Listing GSM Port Groups\n\n", "=> GSM Port Group %i: %s\n", pg->port_groups_gsm,
                pg->port_groups_gsm_count, [out](const port_group_gsm &g) {
                    fputs("\n", out);
                    for (int i = 0; g.port_settings && i < g.port_count; i++) {
                        gsm_port(out, g.port_settings[i], g);
                        fputs("\n", out);
                    }
                });
}

void pg_list_groups_sip(FILE *out)
{
    const port_groups *pg = pg_port_groups();
    if (!out || !pg->port_groups_sip || pg->port_groups_sip_count <= 0)
        return;
    fputs("Listing SIP Peer Groups\n\n", out);
    for (int i = 0; i < pg->port_groups_sip_count; i++) {
        const port_group_sip &g = pg->port_groups_sip[i];
        fprintf(out, "=> SIP Peer Group %i: %s\n", i + 1, text(g.pgs_name));
        sip_group(out, g);
        fputs(separator, out);
    }
}

void pg_list_groups(FILE *out)
{
    pg_list_groups_isdn(out);
    pg_list_groups_analog(out);
    pg_list_groups_cas(out);
    pg_list_groups_gsm(out);
    pg_list_groups_sip(out);
}
