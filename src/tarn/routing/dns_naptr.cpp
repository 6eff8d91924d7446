// NAPTR look-ups for ENUM: blocking (console test) and per call.
#include <strings.h>
#include <udns.h>

#include <cstdlib>
#include <cstring>

#include "call_leg_sip.h"
#include "call_object.h"
#include "dns_internal.h"

static bool service_is(const char *service, const char *word)
{
    return service && strcasecmp(service, word) == 0;
}

static bool mentions_sip(const char *service)
{
    return service && strcasestr(service, "sip");
}

int dns_naptr_choose(const dns_rr_naptr *answer, int supported, const char **regexp)
{
    int best = -1, transport = -1;
    for (int i = 0; answer && i < answer->dnsnaptr_nrr; i++) {
        const dns_naptr &n = answer->dnsnaptr_naptr[i];
        if (!mentions_sip(n.service))
            continue;
        int t = 0;
        if (service_is(n.service, "E2U+sip") && (supported & 1))
            t = 1;
        else if (service_is(n.service, "E2T+sip") && (supported & 2))
            t = 2;
        else if (service_is(n.service, "E2T+sips") && (supported & 4))
            t = 4;
        if (!t)
            continue;
        if (best < 0 || n.order < answer->dnsnaptr_naptr[best].order) {
            best = i;
            transport = t;
        }
    }
    if (best >= 0 && regexp)
        *regexp = answer->dnsnaptr_naptr[best].regexp ? answer->dnsnaptr_naptr[best].regexp : "";
    return transport;
}

void dns_close_call_context(call_object *co)
{
    if (!co || !co->dns_context)
        return;
    dns_private_context_close(co->dns_context);
    co->dns_context = nullptr;
    co->dns_enum_fd = 0;
}

// The transports of the stack the call's SIP leg runs on; UDP without one.
static int call_transports(const call_object *co)
{
    const call_leg_sip *leg = co->cl_sip;
    if (!leg || !leg->ss || !leg->ss->transport)
        return 1;
    return leg->ss->transport;
}

int dns_query_naptr_callback(dns_ctx *ctx, dns_rr_naptr *answer, void *data)
{
    // The call is the look-up's own user data; a call that has moved on to
    // another look-up (or none) no longer waits for this answer.
    call_object *co = (call_object *)data;
    if (!co || !ctx || co->dns_context != ctx)
        return -1;
    if (!answer || answer->dnsnaptr_nrr <= 0)
        return 1;
    const char *regexp = nullptr;
    int t = dns_naptr_choose(answer, call_transports(co), &regexp);
    if (t < 0)
        return -1;
    // An address longer than the call's field is no answer: a cut address
    // would send the INVITE somewhere nobody named.
    if (strlen(regexp) >= sizeof co->dns_enum_regex) {
        co->dns_enum_regex[0] = '\0';
        return 1;
    }
    snprintf(co->dns_enum_regex, sizeof co->dns_enum_regex, "%s", regexp);
    co->dns_enum_using_transport = t;
    return t;
}

// udns callbacks return nothing and hand over the answer.
static void naptr_answer(dns_ctx *ctx, dns_rr_naptr *answer, void *data)
{
    dns_query_naptr_callback(ctx, answer, data);
    free(answer);
}

int resolve_naptr(const char *name, char *buf, size_t size, int supported, int blocking, call_object *co,
                  dns_ctx **ctx_out, int *fd_out)
{
    // A look-up the call still has pending is given up: its context and
    // socket are closed before the new one replaces them.
    dns_close_call_context(co);
    if (ctx_out)
        *ctx_out = nullptr;
    dns_ctx *ctx = dns_private_context_open();
    if (!ctx)
        return -1;
    if (ctx_out)
        *ctx_out = ctx;
    if (fd_out)
        *fd_out = dns_sock(ctx);
    auto give_up = [&]() {
        dns_private_context_close(ctx);
        if (ctx_out)
            *ctx_out = nullptr;
        if (co && co->dns_context == ctx) {
            co->dns_context = nullptr;
            co->dns_enum_fd = 0;
        }
        if (fd_out)
            *fd_out = 0;
        return -1;
    };
    unsigned char dn[DNS_MAXDN];
    if (!name || !name[0] || dns_ptodn(name, 0, dn, sizeof dn, nullptr) <= 0) {
        fprintf(stderr, "failed resolving invalid name%s\n", name ? name : "");
        return give_up();
    }
    if (!blocking) {
        if (co) {
            co->dns_context = ctx;
            co->dns_enum_fd = dns_sock(ctx);
        }
        if (!dns_submit_naptr(ctx, name, 0, naptr_answer, co)) {
            dns_submit_failed(ctx, DNS_T_NAPTR, name);
            return give_up();
        }
        dns_timeouts(ctx, -1, 0); // sends the query
        return 0;
    }
    dns_rr_naptr *answer = dns_resolve_naptr(ctx, name, 0);
    if (!answer && dns_status(ctx) == DNS_E_NOMEM)
        dns_submit_failed(ctx, DNS_T_NAPTR, name);
    for (int i = 0; answer && i < answer->dnsnaptr_nrr; i++) {
        const dns_naptr &n = answer->dnsnaptr_naptr[i];
        if (mentions_sip(n.service))
            printf("UUU order %i regexp |%s| service |%s|\n", n.order, n.regexp ? n.regexp : "", n.service);
    }
    const char *regexp = nullptr;
    int t = dns_naptr_choose(answer, supported, &regexp);
    if (buf && size) {
        buf[0] = '\0';
        if (t > 0)
            snprintf(buf, size, "%s", regexp);
    }
    if (t < 0)
        fprintf(stderr, "failed resolving %s\n", name);
    free(answer);
    dns_private_context_close(ctx);
    if (ctx_out)
        *ctx_out = nullptr;
    if (fd_out)
        *fd_out = 0;
    return t;
}
