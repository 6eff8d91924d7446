#include "dns_refresh.h"

#include <sys/prctl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_lookups.h"
#include "dialplan_targets.h"
#include "dns_cache.h"
#include "dns_internal.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "housekeeping.h"
#include "log.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "pg_sip_internal.h"
#include "reg_object.h"
#include "registrations.h"
#include "sip_peer_chains.h"

int dns_refresh_interval()
{
    int v = gp && gp->experimental_options ? gp->experimental_options->eo_dns_refresh_interval : 0;
    return v >= 1 && v <= 86400 ? v : 120;
}

void dns_refresh_cache()
{
    dns_cache *c = gp ? gp->dns_cache : nullptr;
    if (!c)
        return;
    // The names first, then the look-ups without dns_cache_lock.
    std::vector<std::string> names;
    std::vector<std::pair<std::string, int>> srv;
    {
        dns_lock_guard g(dns_cache_lock_of_app());
        for (int i = 0; i < c->a_records_count && i < DNS_CACHE_SIZE; i++)
            if (c->a_records[i] && c->a_records[i]->name)
                names.push_back(c->a_records[i]->name);
        for (int i = 0; i < c->srv_records_count && i < DNS_CACHE_SIZE; i++)
            if (c->srv_records[i] && c->srv_records[i]->name)
                srv.push_back({c->srv_records[i]->name, c->srv_records[i]->transport});
    }
    char pattern[512];
    for (const std::string &n : names)
        resolve_address_to_regexp_refresh(n.c_str(), pattern, sizeof pattern);
    for (auto &s : srv)
        dns_cache_free_srv_record(dns_cache_resolve_to_srv_record(s.first.c_str(), s.second, 1));
}

// ---- the SRV target ------------------------------------------------------------------

namespace {

const char *address_of(const dns_cache_srv_record *r, int e, int i)
{
    if (!r || e < 0 || e >= r->number_of_records)
        return nullptr;
    const dns_cache_srv_record_weighted_a_record *w = r->weighted_a_records[e];
    if (!w || !w->a_record || i < 0 || i >= w->a_record->address_count)
        return nullptr;
    return w->a_record->addresses[i];
}

// The entry of lowest priority value (the first of equal ones), or -1.
int lowest_entry(const dns_cache_srv_record *r)
{
    int best = -1;
    for (int e = 0; r && e < r->number_of_records; e++)
        if (r->weighted_a_records[e] &&
            (best < 0 || r->weighted_a_records[e]->priority < r->weighted_a_records[best]->priority))
            best = e;
    return best;
}

bool find_address(const dns_cache_srv_record *r, const char *ip, dns_srv_target *out)
{
    for (int e = 0; ip && r && e < r->number_of_records; e++)
        for (int i = 0; address_of(r, e, i); i++)
            if (strcmp(address_of(r, e, i), ip) == 0) {
                *out = {e, i};
                return true;
            }
    return false;
}

int history_position(const char *ip, const char *const *history, int count)
{
    for (int h = 0; history && h < count; h++)
        if (history[h] && strcmp(history[h], ip) == 0)
            return h;
    return -1;
}

} // namespace

dns_srv_target dns_choose_srv_target(const dns_cache_srv_record *r, const char *in_use, int registration_failed,
                                     int change_behaviour, const char *const *history, int history_count)
{
    int lowest = lowest_entry(r);
    dns_srv_target first = {lowest < 0 ? 0 : lowest, 0};
    dns_srv_target current;
    bool listed = find_address(r, in_use, &current);
    int addresses = 0;
    for (int e = 0; r && e < r->number_of_records; e++)
        for (int i = 0; address_of(r, e, i); i++)
            addresses++;

    if (registration_failed && addresses > 1) {
        // Entries by priority value (first of equal ones first), their
        // addresses in order: a fresh address, else the oldest in history.
        std::vector<int> order;
        for (int e = 0; e < r->number_of_records; e++)
            if (r->weighted_a_records[e])
                order.push_back(e);
        std::stable_sort(order.begin(), order.end(), [r](int a, int b) {
            return r->weighted_a_records[a]->priority < r->weighted_a_records[b]->priority;
        });
        dns_srv_target oldest = {-1, -1};
        int oldest_position = -1;
        for (int e : order)
            for (int i = 0; address_of(r, e, i); i++) {
                const char *ip = address_of(r, e, i);
                if (in_use && strcmp(ip, in_use) == 0)
                    continue;
                int pos = history_position(ip, history, history_count);
                if (pos < 0)
                    return {e, i};
                if (pos > oldest_position) {
                    oldest_position = pos;
                    oldest = {e, i};
                }
            }
        if (oldest.record >= 0)
            return oldest;
    }
    if (!listed)
        return first;
    if (change_behaviour == PGS_DNS_STAY_ON_LOWER_PRIORITY)
        return current;
    if (lowest >= 0 && lowest != current.record &&
        r->weighted_a_records[lowest]->priority < r->weighted_a_records[current.record]->priority)
        return first;
    return current;
}

// ---- one pass over the SIP peers -----------------------------------------------------

namespace {

const char *const need_text[] = {"No need to re-register", "Need to re-register"};

void replace_srv(dns_cache_srv_record **current, dns_cache_srv_record **old, dns_cache_srv_record *fresh)
{
    dns_cache_free_srv_record(*old);
    *old = *current;
    *current = fresh;
}

void replace_a(dns_cache_a_record **current, dns_cache_a_record **old, dns_cache_a_record *fresh)
{
    dns_cache_free_a_record(*old);
    *old = *current;
    *current = fresh;
}

// A replaced value goes to its _old field, whose previous value is freed.
void replace_text_keeping_old(char **current, char **old, const char *value)
{
    free(*old);
    *old = *current;
    *current = value ? strdup(value) : nullptr;
}

void rebuild_address_strings(port_group_sip *pgs)
{
    char uri[1024];
    pg_get_formatted_address_string(pgs, PGS_TARGET_PROXY, PGS_RESOLVE_ADDRESS, uri, sizeof uri);
    replace_text_keeping_old(&pgs->pgs_nutag_proxy_address_string, &pgs->pgs_nutag_proxy_address_string_old, uri);
    pg_get_formatted_address_string(pgs, PGS_TARGET_REGISTRAR, PGS_RESOLVE_ADDRESS, uri, sizeof uri);
    replace_text_keeping_old(&pgs->pgs_nutag_registrar_address_string,
                             &pgs->pgs_nutag_registrar_address_string_old, uri);
    pg_refresh_active_ip_list(pgs);
}

void reregister(port_group_sip *pgs, bool new_handle)
{
    reg_object *ro = get_register_by_pgs(pgs);
    if (!ro)
        return;
    if (new_handle)
        ro->force_reregister_with_new_handle = 1;
    hk_hooks().add_sm_task((call_object *)ro, SM_REG_TASK_REG_REFRESH);
}

// Step 5 of an SRV peer: the chosen entry becomes the target.
void switch_srv_target(port_group_sip *pgs, dns_srv_target t)
{
    dns_cache_srv_record *reg = pgs->pgs_srv_record_registrar;
    dns_cache_srv_record *proxy = pgs->pgs_srv_record_proxy;
    pgs->pgs_recheck_dns_srv = 0;
    reg->using_record = t.record;
    reg->using_arecord_index = t.address_index;
    if (pgs->pgs_proxy_and_registrar_identical && proxy) {
        proxy->using_record = t.record;
        proxy->using_arecord_index = t.address_index;
    }
    const char *registrar_ip = address_of(reg, t.record, t.address_index);
    if (!registrar_ip)
        return;
    if (pgs->pgs_registration_failed)
        LOGD(TARN, 5, nullptr, "Switching SRV target for |%s| from |%s| to |%s|\n", reg->name,
             pgs->pgs_sip_registrar_using_address_resolved ? pgs->pgs_sip_registrar_using_address_resolved : "",
             registrar_ip);
    std::string registrar_copy = registrar_ip;
    replace_text_keeping_old(&pgs->pgs_sip_registrar_using_address_resolved,
                             &pgs->pgs_sip_registrar_using_address_resolved_old, registrar_copy.c_str());
    pgs->pgs_sip_registrar_port = reg->weighted_a_records[t.record]->port;
    pg_prepend_target_ip_to_history(pgs, registrar_copy.c_str());
    int pe = proxy ? proxy->using_record : -1;
    if (proxy && !address_of(proxy, pe, proxy->using_arecord_index)) {
        pe = lowest_entry(proxy);
        proxy->using_record = pe;
        proxy->using_arecord_index = 0;
    }
    if (const char *proxy_ip = address_of(proxy, pe, proxy ? proxy->using_arecord_index : 0)) {
        std::string proxy_copy = proxy_ip;
        replace_text_keeping_old(&pgs->pgs_sip_proxy_using_address_resolved,
                                 &pgs->pgs_sip_proxy_using_address_resolved_old, proxy_copy.c_str());
        pgs->pgs_sip_proxy_port = proxy->weighted_a_records[pe]->port;
    }
    rebuild_address_strings(pgs);
    if (pgs->pgs_sip_proxy)
        dns_cache_remove_a_record_from_cache(pgs->pgs_sip_proxy);
    // The indexes of the addresses in use within the stored records.
    dns_srv_target found;
    if (find_address(reg, pgs->pgs_sip_registrar_using_address_resolved, &found)) {
        reg->using_record = found.record;
        reg->using_arecord_index = found.address_index;
    }
    if (proxy && find_address(proxy, pgs->pgs_sip_proxy_using_address_resolved, &found)) {
        proxy->using_record = found.record;
        proxy->using_arecord_index = found.address_index;
    }
    reregister(pgs, false);
}

// An SRV peer; the number of changes counted.
int refresh_srv_peer(port_group_sip *pgs)
{
    if (pgs->pgs_srv_record_registrar) {
        if (reg_object *ro = get_register_by_pgs(pgs)) {
            long age = get_proc_uptime_seconds() - (long)ro->register_handle_create_time;
            if (age < pgs->pgs_srv_minimum_register_time && !pgs->pgs_registration_failed)
                return 0;
            if (pgs->pgs_dns_change_registrar_behaviour != PGS_DNS_CHANGE_IMMEDIATELY &&
                is_call_on_sip_peer_active(pgs)) {
                pgs->pgs_recheck_dns_srv = 1;
                return 0;
            }
        }
    }
    dns_cache_srv_record *proxy = dns_cache_resolve_to_srv_record(pgs->pgs_sip_proxy, pgs->pgs_transport, 0);
    if (!proxy)
        return 0;
    dns_cache_srv_record *reg = pgs->pgs_proxy_and_registrar_identical
                                    ? dns_cache_copy_srv_record(proxy)
                                    : dns_cache_resolve_to_srv_record(pgs->pgs_sip_registrar, pgs->pgs_transport, 0);
    if (!reg) {
        dns_cache_free_srv_record(proxy);
        return 0;
    }
    int changes = 0;
    if (!pgs->pgs_srv_record_proxy) {
        pgs->pgs_srv_record_proxy = dns_cache_copy_srv_record(proxy);
        changes++;
    }
    if (!pgs->pgs_srv_record_registrar) {
        pgs->pgs_srv_record_registrar = reg;
        dns_cache_free_srv_record(proxy);
        int first = lowest_entry(reg);
        switch_srv_target(pgs, {first < 0 ? 0 : first, 0});
        return changes + 1;
    }
    bool proxy_changed = dns_cache_did_srv_record_change(proxy, pgs->pgs_srv_record_proxy);
    bool reg_changed = dns_cache_did_srv_record_change(reg, pgs->pgs_srv_record_registrar);
    const dns_cache_srv_record *stored = pgs->pgs_srv_record_registrar;
    if (!proxy_changed && !reg_changed && stored->using_record == lowest_entry(stored) &&
        !pgs->pgs_registration_failed) {
        dns_cache_free_srv_record(proxy);
        dns_cache_free_srv_record(reg);
        return changes;
    }
    if (proxy_changed || reg_changed) {
        replace_srv(&pgs->pgs_srv_record_proxy, &pgs->pgs_srv_record_proxy_old, proxy);
        replace_srv(&pgs->pgs_srv_record_registrar, &pgs->pgs_srv_record_registrar_old, reg);
        changes++;
    } else {
        dns_cache_free_srv_record(proxy);
        dns_cache_free_srv_record(reg);
    }
    dns_cache_srv_record *r = pgs->pgs_srv_record_registrar;
    const char *in_use = pgs->pgs_sip_registrar_using_address_resolved;
    dns_srv_target t =
        dns_choose_srv_target(r, in_use, pgs->pgs_registration_failed, pgs->pgs_dns_change_registrar_behaviour,
                              pgs->pgs_last_register_target_ips, PGS_TARGET_HISTORY);
    const char *chosen = address_of(r, t.record, t.address_index);
    bool need = chosen && (!in_use || strcmp(chosen, in_use) != 0);
    LOGD(TARN, 5, nullptr, "SRV record change detected for |%s| => %s\n", r->name, need_text[need]);
    if (need)
        switch_srv_target(pgs, t);
    return changes;
}

bool valid(const dns_cache_a_record *r)
{
    return r && !r->invalid;
}

// An A-record peer; the number of changes counted.
int refresh_a_peer(port_group_sip *pgs)
{
    dns_cache_a_record *proxy =
        pgs->pgs_sip_proxy_is_ip ? nullptr : dns_cache_resolve_to_a_record(pgs->pgs_sip_proxy, 0);
    dns_cache_a_record *reg = nullptr;
    if (pgs->pgs_proxy_and_registrar_identical)
        reg = proxy ? dns_cache_copy_a_record(proxy) : nullptr;
    else if (!pgs->pgs_sip_registrar_is_ip)
        reg = dns_cache_resolve_to_a_record(pgs->pgs_sip_registrar, 0);
    bool proxy_changed = !pgs->pgs_sip_proxy_is_ip && dns_cache_did_a_record_change(proxy, pgs->pgs_a_record_proxy);
    bool reg_changed =
        !pgs->pgs_sip_registrar_is_ip && dns_cache_did_a_record_change(reg, pgs->pgs_a_record_registrar);
    if ((!proxy_changed && !reg_changed) || (pgs->pgs_proxy_and_registrar_identical && !proxy_changed)) {
        dns_cache_free_a_record(proxy);
        dns_cache_free_a_record(reg);
        return 0;
    }
    if (valid(proxy))
        replace_a(&pgs->pgs_a_record_proxy, &pgs->pgs_a_record_proxy_old, proxy);
    else
        dns_cache_free_a_record(proxy);
    if (!valid(reg)) {
        dns_cache_free_a_record(reg);
        return 1;
    }
    replace_a(&pgs->pgs_a_record_registrar, &pgs->pgs_a_record_registrar_old, reg);
    if (reg->address_count <= 0)
        return 1;
    const char *in_use = pgs->pgs_sip_registrar_using_address_resolved;
    bool listed = false;
    for (int i = 0; in_use && i < reg->address_count && !listed; i++)
        listed = strcmp(reg->addresses[i], in_use) == 0;
    LOGD(TARN, 5, nullptr, "A record change detected for |%s| => %s\n", reg->name, need_text[!listed]);
    if (listed)
        return 1;
    replace_text_keeping_old(&pgs->pgs_sip_registrar_using_address_resolved,
                             &pgs->pgs_sip_registrar_using_address_resolved_old, reg->addresses[0]);
    const dns_cache_a_record *p = pgs->pgs_a_record_proxy;
    if (!pgs->pgs_sip_proxy_is_ip && p && p->address_count > 0)
        replace_text_keeping_old(&pgs->pgs_sip_proxy_using_address_resolved,
                                 &pgs->pgs_sip_proxy_using_address_resolved_old, p->addresses[0]);
    rebuild_address_strings(pgs);
    reregister(pgs, true);
    return 1;
}

} // namespace

int dns_refresh_sip_peers()
{
    int changes = 0;
    {
        lock_hold pgs_hold(&lock_manager::pgs_lock);
        port_groups *pg = gp ? gp->port_groups : nullptr;
        if (!pg || gp->reregister_in_progress)
            return 0;
        for (int i = 0; i < pg->port_groups_sip_count; i++) {
            port_group_sip *pgs = &pg->port_groups_sip[i];
            if (pgs->pgs_sip_proxy_is_ip && pgs->pgs_sip_registrar_is_ip)
                continue;
            changes += pgs->pgs_srv_dns_requested ? refresh_srv_peer(pgs) : refresh_a_peer(pgs);
        }
        if (changes)
            pg_update_all_iptables_rules();
    }
    return changes;
}

void *dns_loop(void *)
{
    int interval = dns_refresh_interval();
    prctl(PR_SET_NAME, "tarn.dns", 0, 0, 0);
    if (!housekeeping_pause_ms(20 * 1000))
        return nullptr;
    do {
        dns_refresh_cache();
        dns_refresh_sip_peers();
    } while (housekeeping_pause_ms(interval * 1000));
    return nullptr;
}
