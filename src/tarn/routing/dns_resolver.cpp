// Resolver contexts and the blocking A query of the DNS cache.
#include <arpa/inet.h>
#include <poll.h>
#include <udns.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "dns_internal.h"
#include "log.h"

// dns_init writes the library's default context, from which dns_new copies;
// callers on several threads (blocking look-ups, ENUM look-ups of calls) must
// not do that at the same time.
static pthread_mutex_t resolver_init_lock = PTHREAD_MUTEX_INITIALIZER;

dns_ctx *dns_private_context_open()
{
    dns_ctx *ctx = nullptr;
    pthread_mutex_lock(&resolver_init_lock);
    if (dns_init(&dns_defctx, 0) >= 0)
        ctx = dns_new(&dns_defctx);
    pthread_mutex_unlock(&resolver_init_lock);
    if (!ctx)
        return nullptr;
    if (dns_open(ctx) < 0) {
        dns_free(ctx);
        return nullptr;
    }
    return ctx;
}

void dns_private_context_close(dns_ctx *ctx)
{
    if (!ctx)
        return;
    dns_close(ctx);
    dns_free(ctx);
}

int dns_private_context_servers(dns_ctx *ctx)
{
    // The library tells the number of servers only when one is added: add
    // one to a scratch copy.
    dns_ctx *scratch = dns_new(ctx);
    if (!scratch)
        return 0;
    int n = dns_add_serv(scratch, "127.0.0.1");
    dns_free(scratch);
    return n < 0 ? DNS_MAXSERV : n - 1;
}

void dns_submit_failed(dns_ctx *ctx, int type, const char *name)
{
    int status = dns_status(ctx);
    fprintf(stderr, "%s: unable to lookup %s record for %s: %s\n", "", dns_typename((dns_type)type), name,
            dns_strerror(status));
    if (status == DNS_E_NOMEM) {
        fprintf(stderr, "out of memory\n");
        TARN_EXIT(88, "dns lib error");
    }
}

int dns_is_ipv4_literal(const char *name)
{
    in_addr a;
    return name && dns_pton(AF_INET, name, &a) > 0;
}

void dns_copy_whole_addresses(char *buf, size_t size, const char *pattern)
{
    if (!buf || size == 0)
        return;
    buf[0] = '\0';
    size_t used = 0;
    const char *p = pattern ? pattern : "";
    for (;;) {
        const char *bar = strchr(p, '|');
        size_t len = bar ? (size_t)(bar - p) : strlen(p);
        size_t need = len + (used ? 1 : 0);
        if (used + need >= size)
            break;
        if (used)
            buf[used++] = '|';
        memcpy(buf + used, p, len);
        used += len;
        buf[used] = '\0';
        if (!bar)
            break;
        p = bar + 1;
    }
}

int dns_cache_join_addresses(char *buf, size_t size, const char *const *addresses, int count)
{
    if (!buf || size == 0)
        return 0;
    buf[0] = '\0';
    size_t used = 0;
    int joined = 0;
    for (int i = 0; i < count; i++) {
        size_t len = strlen(addresses[i]);
        size_t need = len + (used ? 1 : 0);
        if (used + need >= size)
            break;
        if (used)
            buf[used++] = '|';
        memcpy(buf + used, addresses[i], len + 1);
        used += len;
        joined++;
    }
    return joined;
}

int dns_cache_parse_a_answer(const unsigned char *qdn, const unsigned char *pkt, const unsigned char *cur,
                             const unsigned char *end, dns_a_answer *out)
{
    out->count = 0;
    if (!qdn || !pkt || !cur || !end || end - pkt < DNS_HSIZE || cur < pkt + DNS_HSIZE || end - cur < 4)
        return 0;
    cur += 4; // the question's type and class
    unsigned char owner[DNS_MAXDN];
    if (dns_dntodn(qdn, owner, sizeof owner) <= 0)
        return 0;
    unsigned answers = dns_numan(pkt);
    for (unsigned i = 0; i < answers; i++) {
        unsigned char dn[DNS_MAXDN];
        const unsigned char *p = cur;
        if (dns_getdn(pkt, &p, end, dn, sizeof dn) <= 0 || end - p < 10)
            break;
        unsigned type = dns_get16(p), cls = dns_get16(p + 2), rdlen = dns_get16(p + 8);
        p += 10;
        if ((size_t)(end - p) < rdlen)
            break;
        const unsigned char *rdata = p;
        cur = p + rdlen;
        if (!dns_dnequal(dn, owner))
            continue;
        if (i == 0 && type == DNS_T_CNAME) {
            // Follow it once: the records after it are matched against its target.
            const unsigned char *q = rdata;
            unsigned char target[DNS_MAXDN];
            if (dns_getdn(pkt, &q, rdata + rdlen, target, sizeof target) <= 0)
                break;
            memcpy(owner, target, dns_dnlen(target));
            continue;
        }
        if (type != DNS_T_A || cls != DNS_C_IN || rdlen != 4 || out->count >= DNS_A_ANSWER_MAX)
            continue;
        snprintf(out->addresses[out->count++], sizeof out->addresses[0], "%d.%d.%d.%d", rdata[0], rdata[1],
                 rdata[2], rdata[3]);
    }
    return out->count;
}

// udns hands the raw answer to this parser and the result to the callback.
static int parse_a_answer(dnscc_t *qdn, dnscc_t *pkt, dnscc_t *cur, dnscc_t *end, void **result)
{
    dns_a_answer *a = (dns_a_answer *)malloc(sizeof *a);
    if (!a)
        return DNS_E_NOMEM;
    dns_cache_parse_a_answer(qdn, pkt, cur, end, a);
    *result = a;
    return 0;
}

struct a_query_state {
    int done;
    dns_a_answer *answer;
};

static void a_query_done(dns_ctx *, void *result, void *data)
{
    a_query_state *s = (a_query_state *)data;
    if (s->done) { // the answer to the second submission came too
        free(result);
        return;
    }
    s->done = 1;
    s->answer = (dns_a_answer *)result;
}

dns_cache_a_record *_dns_cache_resolve_to_a_record(const char *name, char *buf, size_t size)
{
    if (buf && size)
        buf[0] = '\0';
    char qname[512];
    snprintf(qname, sizeof qname, "%s", name ? name : "");
    if (dns_is_ipv4_literal(qname)) {
        if (buf && size)
            snprintf(buf, size, "%s", qname);
        return nullptr;
    }
    dns_ctx *ctx = dns_private_context_open();
    if (!ctx)
        return nullptr;
    unsigned char dn[DNS_MAXDN];
    int absolute = 0;
    if (!qname[0] || dns_ptodn(qname, 0, dn, sizeof dn, &absolute) <= 0) {
        fprintf(stderr, "failed resolving invalid name%s\n", qname);
        dns_private_context_close(ctx);
        return nullptr;
    }
    a_query_state st = {0, nullptr};
    int flags = absolute ? DNS_NOSRCH : 0;
    if (!dns_submit_dn(ctx, dn, DNS_C_IN, DNS_T_A, flags, parse_a_answer, a_query_done, &st)) {
        dns_submit_failed(ctx, DNS_T_A, qname);
        dns_private_context_close(ctx);
        return nullptr;
    }
    int resubmitted = 0;
    while (!st.done) {
        int wait = dns_timeouts(ctx, -1, time(nullptr));
        if (st.done || wait < 0)
            break;
        pollfd pfd = {dns_sock(ctx), POLLIN, 0};
        int n = poll(&pfd, 1, wait * 1000);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0) {
            dns_ioevent(ctx, time(nullptr));
            continue;
        }
        // Time-out: one more submission when a second server can answer.
        if (resubmitted || dns_private_context_servers(ctx) < 2)
            break;
        resubmitted = 1;
        if (!dns_submit_dn(ctx, dn, DNS_C_IN, DNS_T_A, flags, parse_a_answer, a_query_done, &st)) {
            dns_submit_failed(ctx, DNS_T_A, qname);
            break;
        }
    }
    dns_private_context_close(ctx);

    dns_cache_a_record *rec = nullptr;
    if (st.answer && st.answer->count > 0) {
        const char *list[DNS_A_ANSWER_MAX];
        for (int i = 0; i < st.answer->count; i++)
            list[i] = st.answer->addresses[i];
        char pattern[DNS_A_ANSWER_MAX * 16];
        char *out = buf && size ? buf : pattern;
        size_t out_size = buf && size ? size : sizeof pattern;
        if (dns_cache_join_addresses(out, out_size, list, st.answer->count) > 0)
            rec = dns_cache_create_a_record(qname, out);
    }
    free(st.answer);
    return rec ? rec : dns_cache_create_dummy_a_record(qname);
}
