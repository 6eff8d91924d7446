// SRV records: the query, the weighted choice of the target, the SRV cache.
#include <strings.h>
#include <udns.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dialplan_search.h"
#include "dns_internal.h"

// The routing's own generator, seeded once; tests put a predictable one in.
static int (*random_source)() = dialplan_random;

void dns_cache_set_random_source(int (*source)())
{
    random_source = source ? source : dialplan_random;
}

// ---- records -----------------------------------------------------------------

void dns_cache_free_weighted_a_record(dns_cache_srv_record_weighted_a_record *w)
{
    if (!w)
        return;
    free(w->weighted_a_name);
    dns_cache_free_a_record(w->a_record);
    free(w);
}

dns_cache_srv_record_weighted_a_record *
dns_cache_copy_weighted_a_record(const dns_cache_srv_record_weighted_a_record *w)
{
    if (!w)
        return nullptr;
    auto *c = (dns_cache_srv_record_weighted_a_record *)calloc(1, sizeof *w);
    *c = *w;
    c->weighted_a_name = strdup(w->weighted_a_name ? w->weighted_a_name : "");
    c->a_record = dns_cache_copy_a_record(w->a_record);
    return c;
}

void dns_cache_free_srv_record(dns_cache_srv_record *r)
{
    if (!r)
        return;
    for (int i = 0; i < r->number_of_records; i++)
        dns_cache_free_weighted_a_record(r->weighted_a_records[i]);
    free(r->weighted_a_records);
    free(r->name);
    free(r);
}

dns_cache_srv_record *dns_cache_copy_srv_record(const dns_cache_srv_record *r)
{
    if (!r)
        return nullptr;
    auto *c = (dns_cache_srv_record *)calloc(1, sizeof(dns_cache_srv_record));
    *c = *r;
    c->name = strdup(r->name ? r->name : "");
    c->weighted_a_records = nullptr;
    if (r->number_of_records > 0) {
        c->weighted_a_records = (dns_cache_srv_record_weighted_a_record **)calloc(
            (size_t)r->number_of_records, sizeof(dns_cache_srv_record_weighted_a_record *));
        for (int i = 0; i < r->number_of_records; i++)
            c->weighted_a_records[i] = dns_cache_copy_weighted_a_record(r->weighted_a_records[i]);
    }
    return c;
}

int dns_cache_compare_priorities(const void *a, const void *b)
{
    auto *x = *(dns_cache_srv_record_weighted_a_record *const *)a;
    auto *y = *(dns_cache_srv_record_weighted_a_record *const *)b;
    return x->priority - y->priority;
}

// ---- the SRV cache (caller holds dns_cache_lock) --------------------------------

static int srv_index(const char *domain, int transport)
{
    dns_cache *c = dns_cache_of_app();
    if (!c || !domain)
        return -1;
    for (int i = 0; i < c->srv_records_count; i++)
        if (c->srv_records[i]->transport == transport && strcasecmp(c->srv_records[i]->name, domain) == 0)
            return i;
    return -1;
}

dns_cache_srv_record *_dns_cache_find_srv_record_by_name(const char *domain, int transport)
{
    int i = srv_index(domain, transport);
    return i >= 0 ? dns_cache_of_app()->srv_records[i] : nullptr;
}

int dns_cache_update_srv_records(const dns_cache_srv_record *r)
{
    dns_cache *c = dns_cache_of_app();
    if (!c || !r)
        return -1;
    // An entry stands for one name and one transport: a TLS look-up never
    // evicts the UDP entry of the same domain.
    int i = srv_index(r->name, r->transport);
    if (i >= 0) {
        dns_cache_free_srv_record(c->srv_records[i]);
        c->srv_records[i] = dns_cache_copy_srv_record(r);
        return 0;
    }
    if (c->srv_records_count >= DNS_CACHE_SIZE)
        return -1;
    c->srv_records[c->srv_records_count++] = dns_cache_copy_srv_record(r);
    return 0;
}

void dns_cache_srv_update_regex(dns_cache_srv_record *r)
{
    if (!r)
        return;
    std::string joined;
    for (int i = 0; i < r->number_of_records; i++) {
        const dns_cache_a_record *a = r->weighted_a_records[i]->a_record;
        if (!a || !a->address_regexp || !a->address_regexp[0])
            continue;
        if (!joined.empty())
            joined += '|';
        joined += a->address_regexp;
    }
    if (joined.empty())
        return;
    dns_copy_whole_addresses(r->address_regexp, sizeof r->address_regexp, joined.c_str());
}

static bool target_valid(const dns_cache_srv_record_weighted_a_record *w)
{
    return w->a_record && !w->a_record->invalid;
}

// Takes every target's A record from the overrides or the cache; with
// may_query a target the cache lacks is resolved on the spot (the caller then
// holds dns_call_lock too). Then the pattern and the target in use.
static void update_regex_and_arecords(dns_cache_srv_record *r, bool may_query)
{
    if (!r)
        return;
    for (int i = 0; i < r->number_of_records; i++) {
        dns_cache_srv_record_weighted_a_record *w = r->weighted_a_records[i];
        dns_cache_a_record *found = _dns_cache_find_a_record_by_name(w->weighted_a_name, 0);
        if (!found && may_query) {
            char pattern[1024];
            dns_cache_a_record *rec = _dns_cache_resolve_to_a_record(w->weighted_a_name, pattern, sizeof pattern);
            if (rec)
                dns_cache_update_a_records(rec);
            dns_cache_free_a_record(rec);
            found = _dns_cache_find_a_record_by_name(w->weighted_a_name, 0);
        }
        if (found) {
            dns_cache_free_a_record(w->a_record);
            w->a_record = dns_cache_copy_a_record(found);
        }
    }
    dns_cache_srv_update_regex(r);
    int n = r->number_of_records;
    for (int k = 0; k < n; k++) {
        int i = ((r->using_record + k) % n + n) % n;
        if (target_valid(r->weighted_a_records[i])) {
            r->using_record = i;
            break;
        }
    }
}

void dns_cache_srv_update_regex_and_arecords(dns_cache_srv_record *r)
{
    update_regex_and_arecords(r, true);
}

// Resolves, without holding dns_cache_lock, every target name that has no
// override or cached A record, and stores the results. Caller holds
// dns_call_lock.
static void resolve_missing_targets(const dns_cache_srv_record *r)
{
    std::vector<std::string> missing;
    {
        dns_lock_guard g(dns_cache_lock_of_app());
        for (int i = 0; i < r->number_of_records; i++) {
            const char *name = r->weighted_a_records[i]->weighted_a_name;
            if (!_dns_cache_find_a_record_by_name(name, 0))
                missing.emplace_back(name);
        }
    }
    for (const std::string &name : missing) {
        char pattern[1024];
        dns_cache_a_record *rec = _dns_cache_resolve_to_a_record(name.c_str(), pattern, sizeof pattern);
        if (rec) {
            dns_lock_guard g(dns_cache_lock_of_app());
            dns_cache_update_a_records(rec);
        }
        dns_cache_free_a_record(rec);
    }
}

static bool has_missing_target(const dns_cache_srv_record *r)
{
    for (int i = 0; i < r->number_of_records; i++)
        if (!_dns_cache_find_a_record_by_name(r->weighted_a_records[i]->weighted_a_name, 0))
            return true;
    return false;
}

// ---- queries ---------------------------------------------------------------------------

dns_rr_srv *resolve_srv_address(const char *domain, int transport)
{
    unsigned char dn[DNS_MAXDN];
    if (!domain || !domain[0] || dns_ptodn(domain, 0, dn, sizeof dn, nullptr) <= 0) {
        fprintf(stderr, "resolve_srv_address: failed resolving invalid name%s\n", domain ? domain : "");
        return nullptr;
    }
    dns_ctx *ctx = dns_private_context_open();
    if (!ctx)
        return nullptr;
    const char *service = transport == 4 ? "sips" : "sip";
    const char *protocol = transport == 4 || transport == 2 ? "tcp" : "udp";
    dns_rr_srv *answer = dns_resolve_srv(ctx, domain, service, protocol, 0);
    if (!answer && dns_status(ctx) == DNS_E_NOMEM)
        dns_submit_failed(ctx, DNS_T_SRV, domain);
    dns_private_context_close(ctx);
    return answer;
}

int dns_query_srv_callback(dns_ctx *, dns_rr_srv *, void *)
{
    return 0;
}

// The weighted choice among the targets of the lowest priority.
static int choose_target(const dns_cache_srv_record *r)
{
    if (r->number_of_records == 0)
        return 0;
    int minimum = r->weighted_a_records[0]->priority;
    for (int i = 1; i < r->number_of_records; i++)
        if (r->weighted_a_records[i]->priority < minimum)
            minimum = r->weighted_a_records[i]->priority;
    long sum = 0;
    int first = -1;
    for (int i = 0; i < r->number_of_records; i++)
        if (r->weighted_a_records[i]->priority == minimum) {
            sum += r->weighted_a_records[i]->weight;
            if (first < 0)
                first = i;
        }
    if (sum <= 0)
        return first;
    long pick = (long)(unsigned)random_source() % sum;
    long running = 0;
    for (int i = 0; i < r->number_of_records; i++) {
        if (r->weighted_a_records[i]->priority != minimum)
            continue;
        running += r->weighted_a_records[i]->weight;
        if (running >= pick)
            return i;
    }
    return first;
}

static dns_cache_srv_record *record_from_answer(const char *domain, int transport, const dns_rr_srv *answer)
{
    auto *r = (dns_cache_srv_record *)calloc(1, sizeof(dns_cache_srv_record));
    r->name = strdup(domain);
    r->transport = transport;
    r->number_of_records = answer->dnssrv_nrr;
    r->weighted_a_records = (dns_cache_srv_record_weighted_a_record **)calloc(
        (size_t)answer->dnssrv_nrr, sizeof(dns_cache_srv_record_weighted_a_record *));
    for (int i = 0; i < answer->dnssrv_nrr; i++) {
        const dns_srv &s = answer->dnssrv_srv[i];
        auto *w = (dns_cache_srv_record_weighted_a_record *)calloc(1, sizeof(dns_cache_srv_record_weighted_a_record));
        w->weighted_a_name = strdup(s.name ? s.name : "");
        w->priority = s.priority;
        w->weight = s.weight;
        w->port = s.port;
        r->weighted_a_records[i] = w;
    }
    qsort(r->weighted_a_records, (size_t)r->number_of_records, sizeof(r->weighted_a_records[0]),
          dns_cache_compare_priorities);
    r->using_record = choose_target(r);
    return r;
}

dns_cache_srv_record *dns_cache_resolve_to_srv_record(const char *domain, int transport, int refresh)
{
    if (!domain || !dns_cache_of_app())
        return nullptr;
    if (!refresh) {
        dns_cache_srv_record *copy = nullptr;
        bool missing = false;
        {
            dns_lock_guard g(dns_cache_lock_of_app());
            if (dns_cache_srv_record *cached = _dns_cache_find_srv_record_by_name(domain, transport)) {
                copy = dns_cache_copy_srv_record(cached);
                missing = has_missing_target(copy);
                if (!missing)
                    update_regex_and_arecords(copy, false);
            }
        }
        if (copy && missing) {
            // Targets the A cache lost are resolved first, never under
            // dns_cache_lock, keeping dns_call_lock before dns_cache_lock.
            dns_lock_guard call(dns_call_lock_of_app());
            resolve_missing_targets(copy);
            dns_lock_guard g(dns_cache_lock_of_app());
            update_regex_and_arecords(copy, false);
        }
        if (copy)
            return copy;
    }
    dns_lock_guard call(dns_call_lock_of_app());
    dns_rr_srv *answer = resolve_srv_address(domain, transport);
    if (!answer || answer->dnssrv_nrr <= 0) {
        free(answer);
        return nullptr;
    }
    dns_cache_srv_record *r = record_from_answer(domain, transport, answer);
    free(answer);
    resolve_missing_targets(r);
    dns_lock_guard g(dns_cache_lock_of_app());
    update_regex_and_arecords(r, false);
    dns_cache_update_srv_records(r);
    return r;
}

void dns_cache_resolve_srv_pair(const char *proxy, const char *registrar, int transport,
                                dns_cache_srv_record **proxy_record, dns_cache_srv_record **registrar_record)
{
    *proxy_record = proxy && proxy[0] ? dns_cache_resolve_to_srv_record(proxy, transport, 0) : nullptr;
    *registrar_record = registrar && registrar[0] ? dns_cache_resolve_to_srv_record(registrar, transport, 0) : nullptr;
}

// ---- comparison and listing ---------------------------------------------------------

int dns_cache_did_srv_record_change(const dns_cache_srv_record *a, const dns_cache_srv_record *b)
{
    if (!a && !b)
        return 0;
    if (!a || !b || a->number_of_records != b->number_of_records)
        return 1;
    for (int i = 0; i < a->number_of_records; i++) {
        const dns_cache_srv_record_weighted_a_record *x = a->weighted_a_records[i], *y = nullptr;
        for (int j = 0; j < b->number_of_records && !y; j++)
            if (strcmp(x->weighted_a_name, b->weighted_a_records[j]->weighted_a_name) == 0)
                y = b->weighted_a_records[j];
        if (!y || x->priority != y->priority)
            return 1;
        if (x->a_record && y->a_record && dns_cache_did_a_record_change(x->a_record, y->a_record))
            return 1;
    }
    return 0;
}

void dns_cache_list_srv_record(FILE *out, const dns_cache_srv_record *r)
{
    const char *t = r->transport == 2 ? "TCP" : r->transport == 4 ? "TLS" : "UDP";
    fprintf(out, "SRV ENTRY |%s| transport |%s| regex |%s| using_index %i\n", r->name, t, r->address_regexp,
            r->using_record);
    for (int i = 0; i < r->number_of_records; i++) {
        const dns_cache_srv_record_weighted_a_record *w = r->weighted_a_records[i];
        fprintf(out, "    %s:%i (prio %i, wght %i)\n", w->weighted_a_name, w->port, w->priority, w->weight);
        if (w->a_record)
            dns_cache_list_a_record(out, w->a_record, 1);
        else
            fprintf(out, "-----------------\n");
    }
    fprintf(out, "========================================\n");
}
