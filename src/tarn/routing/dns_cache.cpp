// The A record cache, its overrides file, and the listing of both caches.
#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "dns_internal.h"
#include "experimental_options.h"
#include "log.h"
#include "platform_path.h"

static char *dup_text(const char *s)
{
    return strdup(s ? s : "");
}

dns_cache *dns_cache_create()
{
    return (dns_cache *)calloc(1, sizeof(dns_cache));
}

// ---- records -----------------------------------------------------------------

void dns_cache_free_a_record(dns_cache_a_record *r)
{
    if (!r)
        return;
    for (int i = 0; i < r->address_count; i++)
        free(r->addresses[i]);
    free(r->addresses);
    free(r->name);
    free(r->address_regexp);
    free(r);
}

dns_cache_a_record *dns_cache_copy_a_record(const dns_cache_a_record *r)
{
    if (!r)
        return nullptr;
    dns_cache_a_record *c = (dns_cache_a_record *)calloc(1, sizeof *c);
    c->name = dup_text(r->name);
    c->address_regexp = dup_text(r->address_regexp);
    c->ttl = r->ttl;
    c->invalid = r->invalid;
    if (r->address_count > 0) {
        c->addresses = (char **)calloc((size_t)r->address_count, sizeof(char *));
        for (int i = 0; i < r->address_count; i++)
            c->addresses[i] = dup_text(r->addresses[i]);
        c->address_count = r->address_count;
    }
    return c;
}

// Appends an address to a record built here.
static void add_address(dns_cache_a_record *r, const char *text, size_t len)
{
    r->addresses = (char **)realloc(r->addresses, (size_t)(r->address_count + 1) * sizeof(char *));
    r->addresses[r->address_count++] = strndup(text, len);
}

dns_cache_a_record *dns_cache_create_a_record(const char *name, const char *pattern)
{
    dns_cache_a_record *r = (dns_cache_a_record *)calloc(1, sizeof *r);
    r->name = dup_text(name);
    r->address_regexp = dup_text(pattern);
    for (const char *p = r->address_regexp; *p;) {
        size_t len = strcspn(p, "|");
        if (len)
            add_address(r, p, len);
        p += len;
        if (*p == '|')
            p++;
    }
    return r;
}

dns_cache_a_record *dns_cache_create_dummy_a_record(const char *name)
{
    dns_cache_a_record *r = dns_cache_create_a_record(name, DNS_DUMMY_ADDRESS);
    r->invalid = 1;
    return r;
}

int dns_cache_did_a_record_change(const dns_cache_a_record *a, const dns_cache_a_record *b)
{
    if (!a && !b)
        return 0;
    if (!a || !b || a->address_count != b->address_count)
        return 1;
    for (int i = 0; i < a->address_count; i++) {
        int found = 0;
        for (int j = 0; j < b->address_count && !found; j++)
            found = strcmp(a->addresses[i], b->addresses[j]) == 0;
        if (!found)
            return 1;
    }
    return 0;
}

// ---- the cache (caller holds dns_cache_lock) ------------------------------------

dns_cache_a_record *_dns_cache_find_a_record_by_name(const char *name, int mode)
{
    dns_cache *c = dns_cache_of_app();
    if (!c || !name)
        return nullptr;
    if (mode == 0 || mode == 2)
        for (int i = 0; i < c->a_records_overrides_count; i++)
            if (strcasecmp(c->a_records_overrides[i]->name, name) == 0)
                return c->a_records_overrides[i];
    if (mode == 0 || mode == 1)
        for (int i = 0; i < c->a_records_count; i++)
            if (strcasecmp(c->a_records[i]->name, name) == 0)
                return c->a_records[i];
    return nullptr;
}

static int find_exact(dns_cache_a_record *const *list, int count, const char *name)
{
    for (int i = 0; i < count; i++)
        if (strcmp(list[i]->name, name) == 0)
            return i;
    return -1;
}

dns_cache_a_record *_dns_cache_copy_a_record_from_cache(const char *name)
{
    dns_cache *c = dns_cache_of_app();
    if (!c || !name)
        return nullptr;
    int i = find_exact(c->a_records_overrides, c->a_records_overrides_count, name);
    if (i >= 0)
        return dns_cache_copy_a_record(c->a_records_overrides[i]);
    i = find_exact(c->a_records, c->a_records_count, name);
    return i >= 0 ? dns_cache_copy_a_record(c->a_records[i]) : nullptr;
}

int dns_cache_update_a_records(const dns_cache_a_record *r)
{
    dns_cache *c = dns_cache_of_app();
    if (!c || !r || !r->name)
        return -1;
    int i = find_exact(c->a_records, c->a_records_count, r->name);
    if (i >= 0) {
        // A failed look-up never replaces what is known.
        if (r->address_count > 0 && !r->invalid) {
            dns_cache_free_a_record(c->a_records[i]);
            c->a_records[i] = dns_cache_copy_a_record(r);
        }
        return 0;
    }
    if (c->a_records_count >= DNS_CACHE_SIZE)
        return -1;
    c->a_records[c->a_records_count++] = dns_cache_copy_a_record(r);
    return 0;
}

void dns_cache_remove_a_record_from_cache(const char *name)
{
    dns_cache *c = dns_cache_of_app();
    if (!c || !name)
        return;
    dns_lock_guard g(dns_cache_lock_of_app());
    int i = find_exact(c->a_records, c->a_records_count, name);
    if (i < 0)
        return;
    dns_cache_free_a_record(c->a_records[i]);
    memmove(&c->a_records[i], &c->a_records[i + 1], (size_t)(c->a_records_count - i - 1) * sizeof(c->a_records[0]));
    c->a_records[--c->a_records_count] = nullptr;
}

// ---- look-ups ---------------------------------------------------------------------

dns_cache_a_record *dns_cache_resolve_to_a_record(const char *name, int refresh)
{
    if (!name || dns_is_ipv4_literal(name) || !dns_cache_of_app())
        return nullptr;
    if (!refresh) {
        dns_lock_guard g(dns_cache_lock_of_app());
        if (dns_cache_a_record *r = _dns_cache_copy_a_record_from_cache(name))
            return r;
    }
    dns_cache_a_record *rec;
    {
        char pattern[1024];
        dns_lock_guard g(dns_call_lock_of_app());
        rec = _dns_cache_resolve_to_a_record(name, pattern, sizeof pattern);
    }
    if (rec) {
        dns_lock_guard g(dns_cache_lock_of_app());
        dns_cache_update_a_records(rec);
    }
    return rec;
}

int _resolve_address_to_regexp(const char *name, char *buf, size_t size, int lock_cache, int refresh,
                               int update_cache)
{
    if (!buf || size == 0)
        return 0;
    buf[0] = '\0';
    if (!name)
        return 0;
    if (dns_is_ipv4_literal(name)) {
        snprintf(buf, size, "%s", name);
        return 0;
    }
    if (!dns_cache_of_app())
        return 0;
    if (!refresh) {
        if (lock_cache)
            pthread_mutex_lock(dns_cache_lock_of_app());
        dns_cache_a_record *r = _dns_cache_find_a_record_by_name(name, 0);
        if (r)
            dns_copy_whole_addresses(buf, size, r->address_regexp);
        if (lock_cache)
            pthread_mutex_unlock(dns_cache_lock_of_app());
        if (r)
            return 0;
    }
    dns_cache_a_record *rec;
    {
        dns_lock_guard g(dns_call_lock_of_app());
        rec = _dns_cache_resolve_to_a_record(name, buf, size);
    }
    if (rec && update_cache) {
        if (lock_cache)
            pthread_mutex_lock(dns_cache_lock_of_app());
        dns_cache_update_a_records(rec);
        if (lock_cache)
            pthread_mutex_unlock(dns_cache_lock_of_app());
    }
    dns_cache_free_a_record(rec);
    return 0;
}

int resolve_address_to_regexp(const char *name, char *buf, size_t size)
{
    return _resolve_address_to_regexp(name, buf, size, 1, 0, 1);
}

int resolve_address_to_regexp_refresh(const char *name, char *buf, size_t size)
{
    return _resolve_address_to_regexp(name, buf, size, 1, 1, 1);
}

int resolve_address_to_regexp_nocache(const char *name, char *buf, size_t size)
{
    return _resolve_address_to_regexp(name, buf, size, 1, 1, 0);
}

// ---- overrides ---------------------------------------------------------------------

dns_cache_a_record *dns_cache_parse_override_line(const char *line)
{
    if (!line || (line[0] != 'a' && line[0] != 'A') || line[1] != ':')
        return nullptr;
    const char *name = line + 2;
    size_t name_len = strcspn(name, ":");
    dns_cache_a_record *r = (dns_cache_a_record *)calloc(1, sizeof *r);
    r->name = strndup(name, name_len);
    if (name[name_len] != ':') { // no address field
        r->address_regexp = dup_text("");
        return r;
    }
    const char *list = name + name_len + 1;
    size_t list_len = strcspn(list, ":");
    r->address_regexp = strndup(list, list_len);
    // Every piece counts, empty ones included, up to 16.
    const char *p = r->address_regexp;
    while (r->address_count < DNS_CACHE_OVERRIDE_ADDRESSES) {
        size_t len = strcspn(p, "|");
        add_address(r, p, len);
        if (p[len] != '|')
            break;
        p += len + 1;
    }
    return r;
}

// Frees every record of a list and empties it.
static void drop_a_records(dns_cache_a_record **list, int32_t *count)
{
    for (int i = 0; i < *count; i++) {
        dns_cache_free_a_record(list[i]);
        list[i] = nullptr;
    }
    *count = 0;
}

static std::string overrides_path()
{
    const experimental_options *eo = gp ? gp->experimental_options : nullptr;
    struct stat st;
    if (eo && eo->eo_dns_override && eo->eo_dns_override[0] && stat(eo->eo_dns_override, &st) == 0)
        return eo->eo_dns_override;
    return platform_path("/tmp/tarn.dns");
}

void dns_cache_update_overrides()
{
    dns_cache *c = dns_cache_of_app();
    if (!c)
        return;
    std::string path = overrides_path();
    FILE *f = fopen(path.c_str(), "re");
    if (!f) {
        LOGD(TARN, 0, nullptr, "CRITICAL: cannot read dnsfile %s", path.c_str());
        return;
    }
    dns_lock_guard g(dns_cache_lock_of_app());
    drop_a_records(c->a_records_overrides, &c->a_records_overrides_count);
    char line[1024];
    int continued = 0; // inside the rest of a line longer than the buffer
    while (c->a_records_overrides_count < DNS_CACHE_OVERRIDES_SIZE && fgets(line, sizeof line, f)) {
        size_t len = strlen(line);
        int complete = len > 0 && line[len - 1] == '\n';
        int was_continued = continued;
        continued = !complete;
        if (was_continued)
            continue;
        line[strcspn(line, "\r\n")] = '\0';
        if (dns_cache_a_record *r = dns_cache_parse_override_line(line))
            c->a_records_overrides[c->a_records_overrides_count++] = r;
    }
    fclose(f);
}

// ---- listing and clearing ------------------------------------------------------------

void dns_cache_list_a_record(FILE *out, const dns_cache_a_record *r, int indented)
{
    fprintf(out, "%sA Record |%s| => TTL %i regex |%s|\n", indented ? "        " : "", r->name, r->ttl,
            r->address_regexp);
}

void dns_cache_list(FILE *out)
{
    dns_cache *c = dns_cache_of_app();
    if (!c)
        return;
    dns_lock_guard g(dns_cache_lock_of_app());
    fprintf(out, "######### SRV Cache (size %i) ##################\n", c->srv_records_count);
    for (int i = 0; i < c->srv_records_count; i++) {
        fprintf(out, "%02i: ", i);
        dns_cache_list_srv_record(out, c->srv_records[i]);
    }
    fprintf(out, "\n######### A Record Cache (size %i) ##################\n", c->a_records_count);
    for (int i = 0; i < c->a_records_count; i++) {
        fprintf(out, "%02i: ", i);
        dns_cache_list_a_record(out, c->a_records[i], 0);
    }
    if (c->a_records_overrides_count > 0) {
        fprintf(out, "\n######### A Record Cache Overrides ##################\n");
        for (int i = 0; i < c->a_records_overrides_count; i++) {
            fprintf(out, "%02i: ", i);
            dns_cache_list_a_record(out, c->a_records_overrides[i], 0);
        }
    }
    fprintf(out, "\n");
}

void dns_cache_clear()
{
    dns_cache *c = dns_cache_of_app();
    if (!c)
        return;
    dns_lock_guard g(dns_cache_lock_of_app());
    for (int i = 0; i < c->srv_records_count; i++) {
        dns_cache_free_srv_record(c->srv_records[i]);
        c->srv_records[i] = nullptr;
    }
    c->srv_records_count = 0;
    drop_a_records(c->a_records, &c->a_records_count);
}
