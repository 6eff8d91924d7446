#include "sip_peer_chains.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "application.h"
#include "experimental_options.h"
#include "log.h"
#include "system_command.h"

void (*pg_for_each_sip_peer_group)(pg_chain_visit visit, void *context);

static iptables_rules_tracker *tracker()
{
    if (!gp)
        return nullptr;
    if (!gp->iptables_rules)
        gp->iptables_rules = (iptables_rules_tracker *)calloc(1, sizeof(iptables_rules_tracker));
    return gp->iptables_rules;
}

static int stored_transport(int transport)
{
    return transport == 4 ? 2 : transport;
}

void pg_chain_suffix(const char *group_name, char out[PG_CHAIN_SUFFIX_MAX + 1])
{
    int n = 0;
    for (const char *p = group_name ? group_name : ""; *p && n < PG_CHAIN_SUFFIX_MAX; p++) {
        unsigned char c = (unsigned char)*p;
        out[n++] = isalnum(c) || c == '.' || c == '_' || c == '-' ? (char)c : '_';
    }
    out[n] = '\0';
}

// ---------------------------------------------------------------- tracker

int pg_iptables_has_chain(const char *chain_name)
{
    iptables_rules_tracker *t = tracker();
    for (int i = 0; t && i < t->iptables_chain_names_count; i++)
        if (strcmp(t->iptables_chain_names[i], chain_name) == 0)
            return 1;
    return 0;
}

int pg_iptables_add_chain(const char *chain_name)
{
    iptables_rules_tracker *t = tracker();
    if (!t)
        return -1;
    if (t->iptables_chain_names_count >= IPTABLES_MAX_CHAINS) {
        LOGD(TARN, 3, nullptr, "Cannot add iptables chain |%s|: Not more than %i chains allowed!", chain_name,
             IPTABLES_MAX_CHAINS);
        return -1;
    }
    char *copy = strdup(chain_name);
    if (!copy)
        return -1;
    t->iptables_chain_names[t->iptables_chain_names_count++] = copy;
    return 0;
}

static bool same_rule(const iptables_rules_information *r, const char *stack, const char *chain, const char *ip,
                      int transport)
{
    return r->transport == stored_transport(transport) && strcmp(r->chain_name, chain) == 0 &&
           strcmp(r->ip, ip) == 0 && strcmp(r->sip_stack_name, stack) == 0;
}

int pg_iptables_has_rule(const char *sip_stack_name, const char *chain_name, const char *ip, int transport)
{
    iptables_rules_tracker *t = tracker();
    for (int i = 0; t && i < t->iptables_rules_count; i++)
        if (same_rule(t->iptables_rules[i], sip_stack_name, chain_name, ip, transport))
            return 1;
    return 0;
}

static void free_rule(iptables_rules_information *r)
{
    free(r->sip_stack_name);
    free(r->chain_name);
    free(r->ip);
    free(r);
}

int pg_iptables_add_rule(const char *sip_stack_name, const char *chain_name, const char *ip, int transport)
{
    iptables_rules_tracker *t = tracker();
    if (!t)
        return -1;
    if (t->iptables_rules_count >= IPTABLES_MAX_RULES) {
        LOGD(TARN, 3, nullptr, "Cannot add iptables rule for |%s| to chain |%s|: Not more than %i rules allowed!", ip,
             chain_name, IPTABLES_MAX_RULES);
        return -1;
    }
    if (pg_iptables_has_rule(sip_stack_name, chain_name, ip, transport))
        return 0;
    auto *r = (iptables_rules_information *)calloc(1, sizeof(iptables_rules_information));
    if (!r || !(r->sip_stack_name = strdup(sip_stack_name)) || !(r->chain_name = strdup(chain_name)) ||
        !(r->ip = strdup(ip))) {
        if (r)
            free_rule(r);
        return -1;
    }
    r->transport = stored_transport(transport);
    r->applied = 0;
    t->iptables_rules[t->iptables_rules_count++] = r;
    return 0;
}

// ---------------------------------------------------------------- updates

// The interface of the group's rules: the WAN interface for stacks whose
// name begins with "wan", else the LAN interface.
static const char *chain_interface(const char *stack_name)
{
    return strncmp(stack_name, "wan", 3) == 0 ? gp->netconf.host_ifname_wan : gp->netconf.host_ifname_lan;
}

static int status_port()
{
    int p = atoi(gp->statusport);
    return p == 0 ? 54322 : p;
}

int pg_update_iptables_rules(const pg_chain_group *g)
{
    if (!g || !tracker())
        return 0;
    char suffix[PG_CHAIN_SUFFIX_MAX + 1];
    pg_chain_suffix(g->name, suffix);
    if (!pg_iptables_has_chain(suffix)) {
        run_system_command("iptables -N csp__%s", suffix);
        run_system_command("iptables -F csp__%s", suffix);
        run_system_command("iptables -A configured_sip_peers -j csp__%s", suffix);
        pg_iptables_add_chain(suffix);
    }

    const char *stack = g->sip_stack_name ? g->sip_stack_name : "default";
    const char *ifname = chain_interface(stack);
    if (!is_safe_ifname(ifname)) {
        LOGD(TARN, 1, nullptr, "CRITICAL: no interface for the rules of port group %s (|%s|)", g->name, ifname);
        return 0;
    }
    int port = status_port();
    int added = 0;
    for (int i = 0; i < g->active_ips_count; i++) {
        const char *ip = g->active_ips[i];
        if (!is_ipv4_address(ip)) {
            LOGD(TARN, 3, nullptr, "port group %s: no rule for |%s|, not an IPv4 address", g->name, ip ? ip : "");
            continue;
        }
        if (pg_iptables_has_rule(stack, suffix, ip, g->transport))
            continue;
        // TCP to every port from 1024 but the status port; a range that
        // would be empty is left out.
        if (port - 1 >= 1024)
            run_system_command("iptables -i %s -A csp__%s  -p tcp --dport 1024:%i -s %s -j ACCEPT", ifname, suffix,
                               port - 1, ip);
        if (port + 1 <= 65535)
            run_system_command("iptables -i %s -A csp__%s  -p tcp --dport %i:65535 -s %s -j ACCEPT", ifname, suffix,
                               port + 1, ip);
        run_system_command("iptables  -i %s -A csp__%s -p udp -s %s -j ACCEPT", ifname, suffix, ip);
        pg_iptables_add_rule(stack, suffix, ip, g->transport);
        added++;
    }
    if (added)
        LOGD(TARN, 3, nullptr, "Added %i iptables rules for port group: %s", added, g->name);
    return added;
}

static bool not_built_told;

static bool groups_available(const char *caller)
{
    if (pg_for_each_sip_peer_group)
        return true;
    if (!not_built_told) {
        not_built_told = true;
        LOGD(TARN, 1, nullptr, "%s: SIP peer groups are not part of this build", caller);
    }
    return false;
}

void pg_update_all_iptables_rules()
{
    iptables_rules_tracker *t = tracker();
    if (!t || !groups_available(__func__))
        return;
    pg_for_each_sip_peer_group([](const pg_chain_group *g, void *) { pg_update_iptables_rules(g); }, nullptr);
    experimental_options *eo = gp->experimental_options;
    if (!eo || !eo->eo_iptables_delete)
        return;

    std::set<std::string> current;
    pg_for_each_sip_peer_group(
        [](const pg_chain_group *g, void *ctx) {
            char suffix[PG_CHAIN_SUFFIX_MAX + 1];
            pg_chain_suffix(g->name, suffix);
            static_cast<std::set<std::string> *>(ctx)->insert(suffix);
        },
        &current);

    int chains = 0, rules = 0, kept_chains = 0;
    for (int c = 0; c < t->iptables_chain_names_count; c++) {
        char *suffix = t->iptables_chain_names[c];
        if (current.count(suffix)) {
            t->iptables_chain_names[kept_chains++] = suffix;
            continue;
        }
        int kept_rules = 0;
        for (int r = 0; r < t->iptables_rules_count; r++) {
            iptables_rules_information *rule = t->iptables_rules[r];
            if (strcmp(rule->chain_name, suffix) == 0) {
                free_rule(rule);
                rules++;
            } else {
                t->iptables_rules[kept_rules++] = rule;
            }
        }
        for (int r = kept_rules; r < t->iptables_rules_count; r++)
            t->iptables_rules[r] = nullptr;
        t->iptables_rules_count = kept_rules;
        run_system_command("iptables -F csp__%s", suffix);
        run_system_command("iptables -D configured_sip_peers -j csp__%s", suffix);
        run_system_command("iptables -X csp__%s", suffix);
        free(suffix);
        chains++;
    }
    for (int c = kept_chains; c < t->iptables_chain_names_count; c++)
        t->iptables_chain_names[c] = nullptr;
    t->iptables_chain_names_count = kept_chains;
    if (chains || rules)
        LOGD(TARN, 3, nullptr, "deleted %i chains and %i rules", chains, rules);
}

void pg_remove_all_iptables_rules()
{
    iptables_rules_tracker *t = tracker();
    if (!t)
        return;
    for (int c = 0; c < t->iptables_chain_names_count; c++) {
        free(t->iptables_chain_names[c]);
        t->iptables_chain_names[c] = nullptr;
    }
    for (int r = 0; r < t->iptables_rules_count; r++) {
        free_rule(t->iptables_rules[r]);
        t->iptables_rules[r] = nullptr;
    }
    t->iptables_chain_names_count = 0;
    t->iptables_rules_count = 0;
    run_system_command("iptables -F configured_sip_peers");
}

void pg_iptables_list(FILE *out)
{
    iptables_rules_tracker *t = tracker();
    if (!t || !out)
        return;
    fprintf(out, "Chains (%i in total)\n", t->iptables_chain_names_count);
    for (int c = 0; c < t->iptables_chain_names_count; c++)
        fprintf(out, "%02i: %s\n", c, t->iptables_chain_names[c]);
    fprintf(out, "\nRules (%i in total)\n", t->iptables_rules_count);
    for (int r = 0; r < t->iptables_rules_count; r++) {
        const iptables_rules_information *rule = t->iptables_rules[r];
        fprintf(out, "%02i: %s ip |%s| tp %i\n", r, rule->chain_name, rule->ip, rule->transport);
    }
}
