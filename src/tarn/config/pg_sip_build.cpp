// Building the SIP port groups from the name sections of tarn.sip, their
// generations, and freeing them.
#include <strings.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "confman.h"
#include "dns_cache.h"
#include "log.h"
#include "outbound_options.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "pg_sip_internal.h"
#include "schema.h"
#include "sip_peer_chains.h"
#include "sip_stack.h"
#include "system_command.h"

enum { NAME_SECTION = 1 };

// The owner of one generation's array: the group table holds one reference
// while the generation is current or old, every holder one more.
struct pg_sip_generation {
    port_group_sip *groups;
    int32_t count;
    std::atomic<int> refs;
};

namespace {

enum {
    TEXT_SIZE = 2048,
    ACCOUNT_SIZE = 1024, // user, secret and host keys
    STACK_NAME_SIZE = 128,
};

// ---- texts ---------------------------------------------------------------------------

std::string trimmed(const std::string &s)
{
    const char *ws = " \t\r\n";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos)
        return "";
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

// Every occurrence of the sequence space, tab, carriage return removed.
std::string without_blank_sequence(std::string s)
{
    for (size_t p; (p = s.find(" \t\r")) != std::string::npos;)
        s.erase(p, 3);
    return s;
}

// The comma-separated pieces, trimmed, empty ones kept. With escapes, a
// backslash before a comma makes the comma part of the piece.
std::vector<std::string> pieces(const std::string &text, bool escapes = false)
{
    std::vector<std::string> out;
    std::string cur;
    for (size_t i = 0; i < text.size(); i++) {
        if (escapes && text[i] == '\\' && i + 1 < text.size() && text[i + 1] == ',') {
            cur += ',';
            i++;
        } else if (text[i] == ',') {
            out.push_back(trimmed(cur));
            cur.clear();
        } else {
            cur += text[i];
        }
    }
    out.push_back(trimmed(cur));
    return out;
}

std::vector<std::string> non_empty(const std::vector<std::string> &v)
{
    std::vector<std::string> out;
    for (const std::string &s : v)
        if (!s.empty())
            out.push_back(s);
    return out;
}

char **string_array(const std::vector<std::string> &v)
{
    char **a = (char **)calloc(v.empty() ? 1 : v.size(), sizeof(char *));
    for (size_t i = 0; i < v.size(); i++)
        a[i] = strdup(v[i].c_str());
    return a;
}

void free_string_array(char **a, int count)
{
    for (int i = 0; a && i < count; i++)
        free(a[i]);
    free(a);
}

bool yes(const std::string &v)
{
    return strcasecmp(v.c_str(), "yes") == 0 || v == "1";
}

int clamp(int v, int below, int below_value, int above)
{
    return v < below ? below_value : v > above ? above : v;
}

// One key of a group's section, read into a buffer of the given size; a key
// that cannot be read (no value, or longer than the buffer) raises *error
// and reads as empty.
struct section_reader {
    cm *c;
    const char *section;
    int *error;

    std::string text(int dir, size_t size = TEXT_SIZE) const
    {
        std::vector<char> buf(size);
        if (cm_get_by_cat(c, buf.data(), size, NAME_SECTION, dir, section) != 0) {
            *error = 1;
            LOGD(TARN, 1, nullptr, "CRITICAL: cannot read key %i of SIP peer %s", dir, section);
            return "";
        }
        return buf.data();
    }
    int number(int dir) const { return atoi(text(dir).c_str()); }
};

// Host text and port of a proxy or registrar: a colon ends the host.
void split_host(const std::string &text, char **host, int32_t *port)
{
    size_t colon = text.find(':');
    *host = strdup(text.substr(0, colon).c_str());
    *port = colon == std::string::npos ? 0 : atoi(text.c_str() + colon + 1);
}

// ---- the steps of one group -------------------------------------------------------------

void read_users(port_group_sip *pgs, const section_reader &r)
{
    std::string user = without_blank_sequence(r.text(CFG_SIP_NAME_USER, ACCOUNT_SIZE));
    std::string secret = without_blank_sequence(r.text(CFG_SIP_NAME_SECRET, ACCOUNT_SIZE));
    std::string auth = without_blank_sequence(r.text(CFG_SIP_NAME_AUTH_USER, ACCOUNT_SIZE));
    std::string display = without_blank_sequence(r.text(CFG_SIP_NAME_DISPLAYNAME));

    std::vector<std::string> names = non_empty(pieces(user));
    if (names.empty())
        names.push_back("anonymous");
    std::vector<std::string> secrets;
    if (names.size() == 1)
        secrets.push_back(trimmed(secret));
    else
        secrets = pieces(secret);
    std::vector<std::string> auths = non_empty(pieces(auth));
    std::vector<std::string> displays = non_empty(pieces(display, true));
    for (std::string &d : displays) {
        std::string unquoted;
        for (char ch : d)
            if (ch != '"')
                unquoted += ch;
        d = unquoted;
    }

    int n = (int)names.size();
    pgs->pgs_users = (port_group_sip_user **)calloc((size_t)n, sizeof(port_group_sip_user *));
    pgs->pgs_user_count = n;
    std::string previous_secret;
    for (int i = 0; i < n; i++) {
        auto *u = (port_group_sip_user *)calloc(1, sizeof(port_group_sip_user));
        u->pgsu_user = strdup(names[i].c_str());
        // A later user without a secret of its own shares the previous one.
        std::string s = i < (int)secrets.size() ? secrets[i] : previous_secret;
        previous_secret = s;
        u->pgsu_secret = strdup(s.c_str());
        u->pgsu_authuser = strdup(i < (int)auths.size() ? auths[i].c_str() : names[i].c_str());
        u->pgsu_displayname = strdup(i < (int)displays.size() ? displays[i].c_str() : "");
        pgs->pgs_users[i] = u;
    }
}

void read_hosts(port_group_sip *pgs, const section_reader &r)
{
    std::string proxy = trimmed(r.text(CFG_SIP_NAME_SIP_PROXY, ACCOUNT_SIZE));
    std::string registrar = trimmed(r.text(CFG_SIP_NAME_SIP_REGISTRAR, ACCOUNT_SIZE));
    std::string domain = trimmed(r.text(CFG_SIP_NAME_SIP_DOMAIN, ACCOUNT_SIZE));
    if (proxy.empty() && registrar.empty())
        proxy = registrar = "127.0.0.1";
    else if (proxy.empty())
        proxy = registrar;
    else if (registrar.empty())
        registrar = proxy;
    if (domain.empty())
        domain = proxy;
    else
        pgs->pgs_sip_domain_set = 1;
    split_host(proxy, &pgs->pgs_sip_proxy, &pgs->pgs_sip_proxy_port);
    split_host(registrar, &pgs->pgs_sip_registrar, &pgs->pgs_sip_registrar_port);
    pgs->pgs_sip_domain = strdup(domain.substr(0, domain.find(':')).c_str());
    pgs->pgs_proxy_and_registrar_identical = strcmp(pgs->pgs_sip_proxy, pgs->pgs_sip_registrar) == 0;
}

void read_numbers_and_words(port_group_sip *pgs, const section_reader &r)
{
    pgs->pgs_refresh_interval = clamp(r.number(CFG_SIP_NAME_REGREFRESH), 1, 600, 3600);
    pgs->pgs_refresh_interval_failed = clamp(r.number(CFG_SIP_NAME_REGREFRESH_FAILED), 1, 600, 3600);
    pgs->pgs_keepalive_interval = clamp(r.number(CFG_SIP_NAME_KEEPALIVE_INTERVAL), 10, 10, 86400);
    pgs->call_transfer_method = strcasecmp(r.text(CFG_SIP_NAME_CALL_TRANSFER_METHOD).c_str(), "reinvite") == 0;
    pgs->pgs_matchtype = pg_parse_matchtype_from_sip_group(r.text(CFG_SIP_NAME_MATCHTYPE).c_str());
    pgs->pgs_matchtype_manual = strdup(r.text(CFG_SIP_NAME_MATCHTYPE_MANUAL).c_str());
    pgs->pgs_callgroup_name = strdup(r.text(CFG_SIP_NAME_CALLGROUP_NAME).c_str());
    pgs->pgs_callgroup_priority = r.number(CFG_SIP_NAME_CALLGROUP_PRIORITY);
    pgs->pgs_max_simultaneous_calls = r.number(CFG_SIP_NAME_MAX_SIMULTANEOUS_CALLS);
    pgs->pgs_regrefresh_after_validation_fail = r.number(CFG_SIP_NAME_REGREFRESH_ON_VALIDATION_FAIL);
    pgs->pgs_srv_minimum_register_time = r.number(CFG_SIP_NAME_DNS_CHANGE_MINIMUM_REGISTRATION_TIME);
    std::string behaviour = r.text(CFG_SIP_NAME_DNS_CHANGE_REGISTRATION_BEHAVIOUR);
    pgs->pgs_dns_change_registrar_behaviour =
        strcasecmp(behaviour.c_str(), "change_immediately") == 0       ? PGS_DNS_CHANGE_IMMEDIATELY
        : strcasecmp(behaviour.c_str(), "stay_on_lower_priority") == 0 ? PGS_DNS_STAY_ON_LOWER_PRIORITY
                                                                       : 0;
}

// Step 11: the ISDN groups that monitor this peer.
void link_monitoring_isdn_groups(port_group_sip *pgs)
{
    port_groups *pg = gp->port_groups;
    for (int i = 0; pg && i < pg->port_groups_isdn_count; i++) {
        const port_group_isdn *g = pg->port_groups_isdn[i];
        if (g && g->pgi_monitored_sip_peer && strcmp(g->pgi_monitored_sip_peer, pgs->pgs_name) == 0)
            pg_add_layer_control_group(pgs, g->name, g->pgi_monitored_sip_peer_offtime);
    }
}

// The chosen target of an SRV record, when it has an address.
const dns_cache_srv_record_weighted_a_record *usable_target(const dns_cache_srv_record *r)
{
    if (!r || r->using_record < 0 || r->using_record >= r->number_of_records)
        return nullptr;
    const dns_cache_srv_record_weighted_a_record *w = r->weighted_a_records[r->using_record];
    return w && w->a_record && w->a_record->address_count > 0 ? w : nullptr;
}

// Steps 12 to 14: the addresses of proxy and registrar.
void resolve_hosts(port_group_sip *pgs)
{
    if (is_ipv4_address(pgs->pgs_sip_proxy)) {
        pgs->pgs_sip_proxy_is_ip = 1;
        pg_replace_text(&pgs->pgs_sip_proxy_using_address_resolved, pgs->pgs_sip_proxy);
        pgs->pgs_srv_dns_requested = 0;
        pgs->pgs_cc.dns_srv = 0;
    }
    if (is_ipv4_address(pgs->pgs_sip_registrar)) {
        pgs->pgs_sip_registrar_is_ip = 1;
        pg_replace_text(&pgs->pgs_sip_registrar_using_address_resolved, pgs->pgs_sip_registrar);
        pgs->pgs_srv_dns_requested = 0;
        pgs->pgs_cc.dns_srv = 0;
    }

    if (pgs->pgs_cc.dns_srv) {
        pgs->pgs_srv_dns_requested = 1;
        resolve_srv_pgs(pgs, 0);
        const auto *p = usable_target(pgs->pgs_srv_record_proxy);
        const auto *r = usable_target(pgs->pgs_srv_record_registrar);
        if (p && r) {
            pg_replace_text(&pgs->pgs_sip_proxy_using_address_resolved, p->a_record->addresses[0]);
            pgs->pgs_sip_proxy_port = p->port;
            pg_replace_text(&pgs->pgs_sip_registrar_using_address_resolved, r->a_record->addresses[0]);
            pgs->pgs_sip_registrar_port = r->port;
            pg_prepend_target_ip_to_history(pgs, r->a_record->addresses[0]);
            pgs->pgs_srv_dns_active = 1;
            return;
        }
    }

    pgs->pgs_srv_dns_active = 0;
    pgs->pgs_cc.dns_srv = 0;
    struct {
        const char *host;
        int is_ip;
        dns_cache_a_record **record;
        char **resolved;
    } targets[] = {
        {pgs->pgs_sip_proxy, pgs->pgs_sip_proxy_is_ip, &pgs->pgs_a_record_proxy,
         &pgs->pgs_sip_proxy_using_address_resolved},
        {pgs->pgs_sip_registrar, pgs->pgs_sip_registrar_is_ip, &pgs->pgs_a_record_registrar,
         &pgs->pgs_sip_registrar_using_address_resolved},
    };
    for (auto &t : targets) {
        if (t.is_ip)
            continue;
        dns_cache_free_a_record(*t.record);
        *t.record = dns_cache_resolve_to_a_record(t.host, 0);
        if (*t.record && (*t.record)->address_count > 0)
            pg_replace_text(t.resolved, (*t.record)->addresses[0]);
    }
}

// Step 16: the per-user URIs.
void build_user_strings(port_group_sip *pgs)
{
    const char *s = pg_sips_letter(pgs);
    bool tls = pgs->pgs_transport & SIP_TRANSPORT_TLS;
    char buf[2 * TEXT_SIZE + 64];
    for (int i = 0; i < pgs->pgs_user_count; i++) {
        port_group_sip_user *u = pgs->pgs_users[i];
        if (tls)
            snprintf(buf, sizeof buf, "sip%s:%s", s, pgs->pgs_sip_domain);
        else if (pgs->pgs_transport & SIP_TRANSPORT_TCP)
            snprintf(buf, sizeof buf, "sip:%s;transport=tcp", pgs->pgs_sip_domain);
        else
            snprintf(buf, sizeof buf, "sip:%s;transport=udp", pgs->pgs_sip_domain);
        pg_replace_text(&u->pgsu_nutag_request_url_string, buf);

        char uri[TEXT_SIZE];
        snprintf(uri, sizeof uri, "<sip%s:%s@%s>", s, u->pgsu_user, pgs->pgs_sip_domain);
        if (u->pgsu_displayname[0])
            snprintf(buf, sizeof buf, "\"%s\" %s", u->pgsu_displayname, uri);
        else
            snprintf(buf, sizeof buf, "%s", uri);
        pg_replace_text(&u->pgsu_siptag_from_string, buf);

        if (!pgs->pgs_sip_domain_set) {
            char port[16] = "";
            if (pgs->pgs_sip_registrar_port)
                snprintf(port, sizeof port, ":%i", pgs->pgs_sip_registrar_port);
            snprintf(buf, sizeof buf, "<sip%s:%s@%s%s>", s, u->pgsu_user, pgs->pgs_sip_registrar, port);
        }
        pg_replace_text(&u->pgsu_siptag_register_from_string, buf);
    }
}

// ---- generations --------------------------------------------------------------------

pg_sip_generation *new_generation(int count)
{
    auto *g = new pg_sip_generation();
    g->groups = (port_group_sip *)calloc(count > 0 ? (size_t)count : 1, sizeof(port_group_sip));
    g->count = 0;
    g->refs = 1; // the group table's
    return g;
}

void release_generation(pg_sip_generation *g)
{
    if (!g || --g->refs > 0)
        return;
    for (int i = 0; i < g->count; i++)
        pg_free_pgs(&g->groups[i]);
    free(g->groups);
    delete g;
}

void free_user(port_group_sip_user *u)
{
    if (!u)
        return;
    for (char *s : {u->pgsu_user, u->pgsu_authuser, u->pgsu_secret, u->pgsu_displayname, u->pgsu_contact_string,
                    u->pgsu_nutag_request_url_string, u->pgsu_siptag_from_string,
                    u->pgsu_siptag_register_from_string})
        free(s);
    free(u);
}

// The SIP port groups hand their current generation to the packet-filter
// chains.
void chain_group_of(const port_group_sip *pgs, pg_chain_group *out)
{
    out->name = pgs->pgs_name;
    out->sip_stack_name = pgs->pgs_sip_stack ? pgs->pgs_sip_stack->name : nullptr;
    out->active_ips = pgs->pgs_active_ips;
    out->active_ips_count = pgs->pgs_active_ips_count;
    out->transport = pgs->pgs_transport;
}

void for_each_sip_peer_group(pg_chain_visit visit, void *context)
{
    port_groups *pg = gp ? gp->port_groups : nullptr;
    for (int i = 0; pg && i < pg->port_groups_sip_count; i++) {
        pg_chain_group g;
        chain_group_of(&pg->port_groups_sip[i], &g);
        visit(&g, context);
    }
}

} // namespace

// ---- building --------------------------------------------------------------------------

void pg_replace_text(char **slot, const char *value)
{
    char *copy = value ? strdup(value) : nullptr;
    free(*slot);
    *slot = copy;
}

const char *pg_sips_letter(const port_group_sip *pgs)
{
    return (pgs->pgs_transport & SIP_TRANSPORT_TLS) && pgs->pgs_cc.sips_on_tls ? "s" : "";
}

int resolve_srv_pgs(port_group_sip *pgs, int)
{
    dns_cache_free_srv_record(pgs->pgs_srv_record_proxy);
    dns_cache_free_srv_record(pgs->pgs_srv_record_registrar);
    pgs->pgs_srv_record_proxy = pgs->pgs_srv_record_registrar = nullptr;
    dns_cache_resolve_srv_pair(pgs->pgs_sip_proxy, pgs->pgs_sip_registrar, pgs->pgs_transport,
                               &pgs->pgs_srv_record_proxy, &pgs->pgs_srv_record_registrar);
    return 0;
}

int pg_create_pgs(port_group_sip *pgs, const char *section, int *external_ips, int *error)
{
    section_reader r{gp->config_sip, section, error};

    // 1. the SIP stack that serves the group
    std::string stack_name = r.text(CFG_SIP_NAME_SIP_STACK, STACK_NAME_SIZE);
    int custom_port = r.number(CFG_SIP_NAME_SIP_CUSTOM_PORT);
    std::string transport = r.text(CFG_SIP_NAME_TRANSPORT);
    pgs->pgs_transport = strcasecmp(transport.c_str(), "tls") == 0   ? SIP_TRANSPORT_TLS
                         : strcasecmp(transport.c_str(), "tcp") == 0 ? SIP_TRANSPORT_TCP
                                                                     : SIP_TRANSPORT_UDP;
    int port = custom_port >= 1024 && custom_port <= 65535 ? custom_port : 0;
    pgs->pgs_sip_stack = get_sip_stack_by_name_transport_and_port(stack_name.c_str(), pgs->pgs_transport, port);
    if (!pgs->pgs_sip_stack) {
        LOGD(TARN, 1, nullptr, "CRITICAL: no sip stack |%s| for port group %s, skipping it", stack_name.c_str(),
             section);
        return -1;
    }

    // 2.-4.
    pgs->pgs_name = strdup(r.text(CFG_SIP_NAME_NAME).c_str());
    read_users(pgs, r);
    read_hosts(pgs, r);

    // 5. call configuration
    pgs->pgs_config_string = strdup(r.text(CFG_SIP_NAME_CONFIG).c_str());
    cc_init_call_configuration(&pgs->pgs_cc);
    cc_parse_call_configuration_direct(nullptr, &pgs->pgs_cc, pgs->pgs_config_string);

    // 6.-8. STUN servers, external IP, register options
    std::vector<std::string> stun = non_empty(pieces(trimmed(r.text(CFG_SIP_NAME_STUNSERVER))));
    pgs->pgs_stunserver = string_array(stun);
    pgs->pgs_stunserver_count = (int)stun.size();
    if (!stun.empty())
        *external_ips = 1;
    pgs->pgs_externip = strdup(r.text(CFG_SIP_NAME_EXTERNIP).c_str());
    if (pgs->pgs_externip[0])
        *external_ips = 1;
    std::string options = r.text(CFG_SIP_NAME_REGISTER_OPTIONS);
    pgs->pgs_outbound_options = parse_outbound_options(options.c_str());
    pgs->pgs_register_options = strdup(options.c_str());

    // 9.-11.
    read_numbers_and_words(pgs, r);
    link_monitoring_isdn_groups(pgs);

    // 12.-15. addresses and the URIs of proxy and registrar
    resolve_hosts(pgs);
    char uri[TEXT_SIZE];
    pg_get_formatted_address_string(pgs, PGS_TARGET_PROXY, PGS_RESOLVE_ADDRESS, uri, sizeof uri);
    pgs->pgs_nutag_proxy_address_string = strdup(uri);
    pg_get_formatted_address_string(pgs, PGS_TARGET_REGISTRAR, PGS_RESOLVE_ADDRESS, uri, sizeof uri);
    pgs->pgs_nutag_registrar_address_string = strdup(uri);

    // 16.
    build_user_strings(pgs);

    // 17.-19.
    pgs->pgs_do_register = yes(r.text(CFG_SIP_NAME_REGISTER));
    pgs->pgs_do_validate = yes(r.text(CFG_SIP_NAME_VALIDATION));
    pgs->pgs_enum_support = yes(r.text(CFG_SIP_NAME_ENUM_SUPPORT));
    std::string emergency = r.text(CFG_SIP_NAME_EMERGENCY_NUMBERS);
    const char *fallback = gp->port_groups->default_emergency_numbers;
    pgs->pgs_emergency_numbers =
        strdup(strcasecmp(emergency.c_str(), "default") == 0 ? (fallback ? fallback : "") : emergency.c_str());
    std::vector<std::string> domains = non_empty(pieces(r.text(CFG_SIP_NAME_ENUM_SEARCH_DOMAINS)));
    pgs->pgs_enum_search_domains = string_array(domains);
    pgs->pgs_enum_search_domain_count = (int)domains.size();
    if (domains.empty())
        pgs->pgs_enum_support = 0;

    // 20.-21.
    if (!pgs->pgs_sip_proxy_using_address_resolved)
        pgs->pgs_sip_proxy_using_address_resolved = strdup(DNS_DUMMY_ADDRESS);
    if (!pgs->pgs_sip_registrar_using_address_resolved)
        pgs->pgs_sip_registrar_using_address_resolved = strdup(DNS_DUMMY_ADDRESS);
    pg_refresh_active_ip_list(pgs);
    return 0;
}

int pg_init_sip_port_group_struct()
{
    port_groups *pg = pg_port_groups();
    pg_for_each_sip_peer_group = for_each_sip_peer_group;

    // 1. the main configuration's emergency numbers
    char numbers[TEXT_SIZE];
    if (!gp->config_tarn || cm_get(gp->config_tarn, numbers, sizeof numbers, 0, CFG_TARN_EMERGENCY_NUMBERS) != 0)
        numbers[0] = '\0';
    pg_replace_text(&pg->default_emergency_numbers, numbers);

    // A current generation of an earlier build of this start goes first.
    if (pg->port_groups_sip_generation) {
        release_generation(pg->port_groups_sip_generation);
        pg->port_groups_sip_generation = nullptr;
        pg->port_groups_sip = nullptr;
        pg->port_groups_sip_count = 0;
    }

    // 2. one record per name section
    std::vector<std::string> sections;
    char name[TEXT_SIZE];
    for (const char *prev = nullptr;
         gp->config_sip && cm_get_next_cat(gp->config_sip, NAME_SECTION, prev, name, sizeof name) == 1;
         prev = sections.back().c_str())
        sections.emplace_back(name);
    pg_sip_generation *g = new_generation((int)sections.size());
    pg->port_groups_sip_generation = g;
    pg->port_groups_sip = g->groups;
    pg->port_groups_sip_count = 0;

    // 3.
    int external_ips = 0, error = 0;
    for (const std::string &section : sections) {
        port_group_sip *pgs = &g->groups[g->count];
        int result = pg_create_pgs(pgs, section.c_str(), &external_ips, &error);
        pgs->pgs_index = g->count;
        if (result != 0) {
            pg_free_pgs(pgs); // the record takes the next section
            if (error)
                break;
            continue;
        }
        pgs->pgs_generation = g;
        g->count++;
        if (error)
            break;
        pg_chain_group chain;
        chain_group_of(pgs, &chain);
        pg_update_iptables_rules(&chain);
    }

    // 4.-5.
    gp->external_ips_in_use = external_ips;
    pg->port_groups_sip_count = g->count;
    if (error)
        return -1;
    for (int i = 0; i < g->count; i++)
        pg_sip_update_contact_string(&g->groups[i]);
    return 0;
}

void pg_init_sip_port_group_local()
{
    port_groups *pg = pg_port_groups();
    if (pg->port_group_sip_local)
        return;
    auto *l = (port_group_sip *)calloc(1, sizeof(port_group_sip));
    l->pgs_name = strdup("__local__");
    l->pgs_sip_stack = gp->sip_stack_size > 0 ? &gp->sip_stacks[0] : nullptr;
    l->pgs_transport = SIP_TRANSPORT_UDP;
    for (char **s : {&l->pgs_sip_proxy, &l->pgs_sip_registrar, &l->pgs_sip_domain,
                     &l->pgs_sip_proxy_using_address_resolved, &l->pgs_sip_registrar_using_address_resolved})
        *s = strdup("127.0.0.1");
    l->pgs_sip_proxy_is_ip = l->pgs_sip_registrar_is_ip = 1;
    l->pgs_proxy_and_registrar_identical = 1;
    for (char **s : {&l->pgs_nutag_proxy_address_string, &l->pgs_nutag_registrar_address_string,
                     &l->pgs_contact_string})
        *s = strdup("sip:127.0.0.1");
    for (char **s : {&l->pgs_config_string, &l->pgs_externip, &l->pgs_register_options, &l->pgs_matchtype_manual,
                     &l->pgs_callgroup_name, &l->pgs_emergency_numbers})
        *s = strdup("");
    cc_init_call_configuration(&l->pgs_cc);
    l->pgs_users = (port_group_sip_user **)calloc(1, sizeof(port_group_sip_user *));
    auto *u = (port_group_sip_user *)calloc(1, sizeof(port_group_sip_user));
    u->pgsu_user = strdup("internal");
    u->pgsu_displayname = strdup("internal");
    for (char **s : {&u->pgsu_authuser, &u->pgsu_secret, &u->pgsu_contact_string,
                     &u->pgsu_nutag_request_url_string, &u->pgsu_siptag_from_string,
                     &u->pgsu_siptag_register_from_string})
        *s = strdup("");
    l->pgs_users[0] = u;
    l->pgs_user_count = 1;
    l->pgs_matchtype = PGS_MATCH_ADDRESS;
    pg->port_group_sip_local = l;
}

// ---- freeing ---------------------------------------------------------------------------

void pg_free_pgs(port_group_sip *pgs)
{
    if (!pgs)
        return;
    for (int i = 0; pgs->pgs_users && i < pgs->pgs_user_count; i++)
        free_user(pgs->pgs_users[i]);
    free(pgs->pgs_users);
    for (char *s : {pgs->pgs_name, pgs->pgs_sip_domain, pgs->pgs_sip_proxy, pgs->pgs_sip_proxy_using_address_resolved,
                    pgs->pgs_sip_proxy_using_address_resolved_old, pgs->pgs_sip_registrar,
                    pgs->pgs_sip_registrar_using_address_resolved, pgs->pgs_sip_registrar_using_address_resolved_old,
                    pgs->pgs_nutag_proxy_address_string, pgs->pgs_nutag_proxy_address_string_old,
                    pgs->pgs_nutag_registrar_address_string, pgs->pgs_nutag_registrar_address_string_old,
                    pgs->pgs_contact_string, pgs->pgs_config_string, pgs->pgs_externip, pgs->pgs_register_options,
                    pgs->pgs_port_group_id, pgs->pgs_matchtype_manual, pgs->pgs_callgroup_name,
                    pgs->pgs_emergency_numbers})
        free(s);
    for (dns_cache_a_record *a : {pgs->pgs_a_record_proxy, pgs->pgs_a_record_registrar, pgs->pgs_a_record_proxy_old,
                                  pgs->pgs_a_record_registrar_old})
        dns_cache_free_a_record(a);
    for (dns_cache_srv_record *s : {pgs->pgs_srv_record_proxy, pgs->pgs_srv_record_registrar,
                                    pgs->pgs_srv_record_proxy_old, pgs->pgs_srv_record_registrar_old})
        dns_cache_free_srv_record(s);
    for (int i = 0; i < pgs->pgs_active_ips_count; i++)
        free(pgs->pgs_active_ips[i]);
    for (char *ip : pgs->pgs_last_register_target_ips)
        free(ip);
    for (char *name : pgs->pgs_isdn_layer_control_group)
        free(name);
    free_string_array(pgs->pgs_stunserver, pgs->pgs_stunserver_count);
    free_string_array(pgs->pgs_enum_search_domains, pgs->pgs_enum_search_domain_count);
    cc_cleanup_call_configuration(&pgs->pgs_cc);
    *pgs = port_group_sip{};
}

void pg_free_sip_port_group_struct()
{
    port_groups *pg = pg_port_groups();
    release_generation(pg->port_groups_sip_old_generation);
    pg->port_groups_sip_old_generation = pg->port_groups_sip_generation;
    pg->port_groups_sip_old = pg->port_groups_sip;
    pg->port_groups_sip_old_count = pg->port_groups_sip_count;
    pg->port_groups_sip_generation = nullptr;
    pg->port_groups_sip = nullptr;
    pg->port_groups_sip_count = 0;
}

void pg_free_all_sip_port_groups()
{
    port_groups *pg = gp ? gp->port_groups : nullptr;
    if (!pg)
        return;
    pg_free_sip_port_group_struct();
    pg_free_sip_port_group_struct();
    if (pg->port_group_sip_local) {
        pg_free_pgs(pg->port_group_sip_local);
        free(pg->port_group_sip_local);
        pg->port_group_sip_local = nullptr;
    }
    free(pg->default_emergency_numbers);
    pg->default_emergency_numbers = nullptr;
}

void pg_sip_hold(const port_group_sip *pgs)
{
    if (pgs && pgs->pgs_generation)
        pgs->pgs_generation->refs++;
}

void pg_sip_release(const port_group_sip *pgs)
{
    if (pgs)
        release_generation(pgs->pgs_generation);
}
