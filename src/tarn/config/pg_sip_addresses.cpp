// The SIP port groups' look-ups, URIs, peer addresses, register target
// history, monitoring ISDN groups, local addresses and contacts.
#include <pthread.h>
#include <strings.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "application.h"
#include "dns_cache.h"
#include "experimental_options.h"
#include "log.h"
#include "pg_port_groups.h"
#include "pg_sip_internal.h"
#include "sip_stack.h"

namespace {

int no_stun_learned_address(const char *, char *, size_t)
{
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        LOGD(TARN, 1, nullptr, "CRITICAL: STUN client not built: no address learned from any STUN server");
    return 0;
}

pg_sip_hooks hooks = {no_stun_learned_address};

port_groups *groups()
{
    return gp ? gp->port_groups : nullptr;
}

const char *or_empty(const char *s)
{
    return s ? s : "";
}

// A generator of this thread for the random address choice, seeded once (the
// process-wide one stays untouched).
unsigned private_random()
{
    thread_local std::minstd_rand generator(
        (unsigned)std::chrono::steady_clock::now().time_since_epoch().count() ^
        (unsigned)std::hash<std::thread::id>()(std::this_thread::get_id()));
    return (unsigned)generator();
}

int stack_sip_port(const port_group_sip *pgs)
{
    return pgs->pgs_sip_stack ? pgs->pgs_sip_stack->sip_port : 5060;
}

int stack_tls_port(const port_group_sip *pgs)
{
    return pgs->pgs_sip_stack ? pgs->pgs_sip_stack->sip_ssl_port : 5061;
}

// The port of a contact without TLS: the peer's Via rport for UDP when one
// was learned, else the stack's SIP port.
int contact_port(const port_group_sip *pgs)
{
    if ((pgs->pgs_transport & SIP_TRANSPORT_UDP) && pgs->pgs_via_rport != 0)
        return pgs->pgs_via_rport;
    return stack_sip_port(pgs);
}

int domain_as_contact()
{
    return gp && gp->experimental_options && gp->experimental_options->eo_domain_as_contact;
}

} // namespace

void pg_sip_set_hooks(const pg_sip_hooks *in)
{
    pg_sip_hooks h = hooks;
    if (in && in->stun_learned_address)
        h.stun_learned_address = in->stun_learned_address;
    hooks = h;
}

// ---- look-ups ------------------------------------------------------------------------

port_group_sip *pg_get_port_group_sip_by_name(const char *name, int *user_index)
{
    int scratch;
    if (!user_index)
        user_index = &scratch;
    if (!name)
        return nullptr;
    if (strlen(name) > 2 && name[1] == ':')
        name += 2;
    port_groups *pg = groups();
    if (!pg)
        return nullptr;
    if (strcmp(name, "__local__") == 0) {
        *user_index = 0;
        return pg->port_group_sip_local;
    }
    *user_index = -1;
    const char *colon = strchr(name, ':');
    size_t group_len = colon ? (size_t)(colon - name) : strlen(name);
    for (int i = 0; i < pg->port_groups_sip_count; i++) {
        port_group_sip *pgs = &pg->port_groups_sip[i];
        if (strlen(pgs->pgs_name) != group_len || strncmp(pgs->pgs_name, name, group_len) != 0)
            continue;
        if (!colon)
            return pgs;
        for (int u = 0; u < pgs->pgs_user_count; u++)
            if (strcmp(pgs->pgs_users[u]->pgsu_user, colon + 1) == 0) {
                *user_index = u;
                return pgs;
            }
        return nullptr;
    }
    return nullptr;
}

int pg_sip_group_of_registration(const reg_object *ro, const char **name, int *do_register, int *do_validate)
{
    if (!ro || !ro->pgs)
        return -1;
    *name = ro->pgs->pgs_name;
    *do_register = ro->pgs->pgs_do_register;
    *do_validate = ro->pgs->pgs_do_validate;
    return 0;
}

int pg_parse_matchtype_from_sip_group(const char *text)
{
    static const struct {
        const char *word;
        int bit;
    } words[] = {
        {"address", PGS_MATCH_ADDRESS},         {"fromuser", PGS_MATCH_FROMUSER},
        {"touser", PGS_MATCH_TOUSER},           {"contactuser", PGS_MATCH_CONTACTUSER},
        {"requesturluser", PGS_MATCH_REQUESTURLUSER}, {"manual", PGS_MATCH_MANUAL},
    };
    int bits = 0;
    for (const auto &w : words)
        if (text && strstr(text, w.word))
            bits |= w.bit;
    return bits ? bits : PGS_MATCH_ADDRESS;
}

// ---- URIs --------------------------------------------------------------------------------

int pg_get_formatted_address_string(const port_group_sip *pgs, int target, int resolve_mode, char *buf,
                                    size_t size)
{
    bool proxy = target == PGS_TARGET_PROXY;
    int port = proxy ? pgs->pgs_sip_proxy_port : pgs->pgs_sip_registrar_port;
    const char *configured = or_empty(proxy ? pgs->pgs_sip_proxy : pgs->pgs_sip_registrar);
    const char *resolved = proxy ? pgs->pgs_sip_proxy_using_address_resolved
                                 : pgs->pgs_sip_registrar_using_address_resolved;
    const dns_cache_a_record *a = proxy ? pgs->pgs_a_record_proxy : pgs->pgs_a_record_registrar;

    const char *host = configured;
    if (resolve_mode == PGS_RESOLVE_ADDRESS) {
        if (resolved && resolved[0])
            host = resolved;
    } else if (resolve_mode == PGS_RESOLVE_RANDOM) {
        if (a && a->address_count > 0)
            host = a->addresses[private_random() % (unsigned)a->address_count];
        else if (proxy && resolved && resolved[0])
            host = resolved;
    }
    char port_part[16] = "";
    if (port)
        snprintf(port_part, sizeof port_part, ":%i", port);
    if (pgs->pgs_transport & SIP_TRANSPORT_TLS)
        return snprintf(buf, size, "sip%s:%s%s", "s", host, port_part);
    if (pgs->pgs_transport & SIP_TRANSPORT_TCP)
        return snprintf(buf, size, "sip:%s%s;transport=tcp", host, port_part);
    return snprintf(buf, size, "sip:%s%s;transport=udp", host, port_part);
}

// ---- peer addresses -------------------------------------------------------------------

void pg_add_ip_to_active_ip_list(port_group_sip *pgs, const char *ip)
{
    if (!ip || !ip[0])
        return;
    for (int i = 0; i < pgs->pgs_active_ips_count; i++)
        if (strcmp(pgs->pgs_active_ips[i], ip) == 0)
            return;
    if (pgs->pgs_active_ips_count >= PGS_ACTIVE_IPS_MAX) {
        LOGD(TARN, 3, nullptr, "Cannot store more than %i ips for SIP peer |%s|", PGS_ACTIVE_IPS_MAX,
             or_empty(pgs->pgs_name));
        return;
    }
    pgs->pgs_active_ips[pgs->pgs_active_ips_count++] = strdup(ip);
}

void pg_clear_active_ips(port_group_sip *pgs)
{
    for (int i = 0; i < pgs->pgs_active_ips_count; i++) {
        free(pgs->pgs_active_ips[i]);
        pgs->pgs_active_ips[i] = nullptr;
    }
    pgs->pgs_active_ips_count = 0;
}

static void add_a_record(port_group_sip *pgs, const dns_cache_a_record *a)
{
    for (int i = 0; a && i < a->address_count; i++)
        pg_add_ip_to_active_ip_list(pgs, a->addresses[i]);
}

static void add_srv_record(port_group_sip *pgs, const dns_cache_srv_record *r)
{
    for (int i = 0; r && i < r->number_of_records; i++)
        if (r->weighted_a_records[i])
            add_a_record(pgs, r->weighted_a_records[i]->a_record);
}

void pg_refresh_active_ip_list(port_group_sip *pgs)
{
    pg_clear_active_ips(pgs);
    pg_add_ip_to_active_ip_list(pgs, pgs->pgs_sip_proxy_using_address_resolved);
    pg_add_ip_to_active_ip_list(pgs, pgs->pgs_sip_registrar_using_address_resolved);
    bool both = !pgs->pgs_proxy_and_registrar_identical;
    if (pgs->pgs_srv_dns_active) {
        add_srv_record(pgs, pgs->pgs_srv_record_proxy);
        if (both)
            add_srv_record(pgs, pgs->pgs_srv_record_registrar);
    } else {
        add_a_record(pgs, pgs->pgs_a_record_proxy);
        if (both)
            add_a_record(pgs, pgs->pgs_a_record_registrar);
    }
}

void pg_prepend_target_ip_to_history(port_group_sip *pgs, const char *ip)
{
    if (!ip)
        return;
    char *ips[PGS_TARGET_HISTORY] = {};
    int32_t times[PGS_TARGET_HISTORY] = {};
    ips[0] = strdup(ip); // its fail time is 0
    int n = 1;
    // The others keep their order and their fail times; what no longer fits
    // is freed.
    for (int i = 0; i < PGS_TARGET_HISTORY; i++) {
        char *old = pgs->pgs_last_register_target_ips[i];
        if (!old)
            continue;
        if (strcmp(old, ip) != 0 && n < PGS_TARGET_HISTORY) {
            times[n] = pgs->pgs_last_register_target_ips_fail_time[i];
            ips[n++] = old;
        } else {
            free(old);
        }
    }
    memcpy(pgs->pgs_last_register_target_ips, ips, sizeof ips);
    memcpy(pgs->pgs_last_register_target_ips_fail_time, times, sizeof times);
}

// ---- ISDN groups that monitor a peer ----------------------------------------------------

int pg_add_layer_control_group(port_group_sip *pgs, const char *isdn_group, int offtime)
{
    if (!isdn_group)
        return -1;
    for (int i = 0; i < pgs->pgs_isdn_layer_control_group_count; i++)
        if (strcmp(pgs->pgs_isdn_layer_control_group[i], isdn_group) == 0)
            return -1;
    if (pgs->pgs_isdn_layer_control_group_count >= PGS_LAYER_CONTROL_GROUPS) {
        LOGD(TARN, 3, nullptr, "Cannot monitor SIP peer |%s| by more than %i ISDN groups, ignoring |%s|",
             or_empty(pgs->pgs_name), PGS_LAYER_CONTROL_GROUPS, isdn_group);
        return -1;
    }
    int n = pgs->pgs_isdn_layer_control_group_count++;
    pgs->pgs_isdn_layer_control_group[n] = strdup(isdn_group);
    pgs->pgs_isdn_layer_control_group_offtime[n] = offtime;
    return 0;
}

void pg_refresh_monitored_sip_peers()
{
    port_groups *pg = groups();
    for (int i = 0; pg && i < pg->port_groups_isdn_count; i++) {
        const port_group_isdn *g = pg->port_groups_isdn[i];
        if (!g || !g->pgi_monitored_sip_peer || !g->pgi_monitored_sip_peer[0] || !g->pgi_monitored_sip_peer_offtime)
            continue;
        for (int s = 0; s < pg->port_groups_sip_count; s++)
            if (strcmp(pg->port_groups_sip[s].pgs_name, g->pgi_monitored_sip_peer) == 0)
                pg_add_layer_control_group(&pg->port_groups_sip[s], g->name, g->pgi_monitored_sip_peer_offtime);
    }
}

// ---- local addresses and contacts ----------------------------------------------------------

static const char *lan_address()
{
    return gp ? gp->netconf.host_ip_lan : "";
}

void pg_sip_get_host_ip_for_port_group(const port_group_sip *pgs, char *buf, size_t size)
{
    if (!pgs) {
        snprintf(buf, size, "%s", lan_address());
        return;
    }
    if (pgs->pgs_externip && pgs->pgs_externip[0]) {
        snprintf(buf, size, "%s", pgs->pgs_externip);
        return;
    }
    for (int i = 0; i < pgs->pgs_stunserver_count; i++) {
        char learned[64] = "";
        if (hooks.stun_learned_address(pgs->pgs_stunserver[i], learned, sizeof learned) && learned[0]) {
            snprintf(buf, size, "%s", learned);
            return;
        }
        LOGD(TARN, 1, nullptr, "CRITICAL: No IP from stun server %s !", pgs->pgs_stunserver[i]);
    }
    snprintf(buf, size, "%s", pgs->pgs_sip_stack ? pgs->pgs_sip_stack->ip : lan_address());
}

void pg_sip_get_host_ip(const port_group_sip *pgs, const sip_stack *ss, char *buf, size_t size)
{
    if (pgs)
        pg_sip_get_host_ip_for_port_group(pgs, buf, size);
    else if (ss)
        snprintf(buf, size, "%s", ss->ip);
    else
        snprintf(buf, size, "%s", lan_address());
}

int pg_sip_get_sip_port_for_port_group(const port_group_sip *pgs)
{
    return pgs ? pgs->pgs_via_rport : 0;
}

void pg_sip_update_contact_string(port_group_sip *pgs)
{
    char host[256];
    pg_sip_get_host_ip_for_port_group(pgs, host, sizeof host);
    const char *s = pg_sips_letter(pgs);
    bool tls = pgs->pgs_transport & SIP_TRANSPORT_TLS;
    bool by_domain = domain_as_contact() && pgs->pgs_sip_domain_set;
    const char *domain = or_empty(pgs->pgs_sip_domain);

    char buf[2048];
    if (by_domain && tls)
        snprintf(buf, sizeof buf, "sip%s:%s", s, domain);
    else if (by_domain)
        snprintf(buf, sizeof buf, "sip:%s", domain);
    else if (tls)
        snprintf(buf, sizeof buf, "sip%s:%s:%i", s, host, stack_tls_port(pgs));
    else
        snprintf(buf, sizeof buf, "sip:%s:%i", host, contact_port(pgs));
    pg_replace_text(&pgs->pgs_contact_string, buf);

    // A q-value of -1 (all bits, the default) means none; the field holds
    // hundredths.
    int q = pgs->pgs_cc.qvalue;
    bool with_q = q != -1;
    char open[2] = "", close[32] = "";
    if (with_q) {
        snprintf(open, sizeof open, "<");
        snprintf(close, sizeof close, ">;q=%1.1f", q / 100.0);
    }
    for (int i = 0; i < pgs->pgs_user_count; i++) {
        port_group_sip_user *u = pgs->pgs_users[i];
        const char *user = or_empty(u->pgsu_user);
        if (by_domain && tls)
            snprintf(buf, sizeof buf, "%ssip%s:%s@%s%s", open, s, user, domain, close);
        else if (by_domain)
            snprintf(buf, sizeof buf, "%ssip:%s@%s%s", open, user, domain, close);
        else if (tls)
            snprintf(buf, sizeof buf, "%ssip%s:%s@%s:%i%s", open, s, user, host, stack_tls_port(pgs), close);
        else
            snprintf(buf, sizeof buf, "%ssip:%s@%s:%i%s", open, user, host, contact_port(pgs), close);
        pg_replace_text(&u->pgsu_contact_string, buf);
    }
}

// Without a group's contact the LAN address stands in; a gateway without
// one has no Contact to give ("": the stack's own goes out), never one
// without host, which the stack cannot send.
void pg_sip_get_contact_string_by_pgs_name(const char *name, char *buf, size_t size)
{
    const port_group_sip *pgs = pg_get_port_group_sip_by_name(name, nullptr);
    if (pgs && pgs->pgs_contact_string)
        snprintf(buf, size, "%s", pgs->pgs_contact_string);
    else if (lan_address()[0])
        snprintf(buf, size, "sip:%s:%i", lan_address(), 5060);
    else if (size > 0)
        buf[0] = '\0';
}

void pg_sip_get_contact_string_with_user_by_pgs_name(const char *name, char *buf, size_t size)
{
    const port_group_sip *pgs = pg_get_port_group_sip_by_name(name, nullptr);
    if (pgs && pgs->pgs_user_count > 0 && pgs->pgs_users[0]->pgsu_contact_string)
        snprintf(buf, size, "%s", pgs->pgs_users[0]->pgsu_contact_string);
    else if (lan_address()[0])
        snprintf(buf, size, "sip:anonymous@%s:%i", lan_address(), 5060);
    else if (size > 0)
        buf[0] = '\0';
}
