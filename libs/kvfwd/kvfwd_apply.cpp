// A parsed command applied to an open table through libiptc. The entries
// are laid out as iptables lays them out: the IPv4 header part, a "udp" or
// "tcp" match when ports are given, and the target (a standard verdict or
// chain jump, MASQUERADE, or DNAT to one address), each with the revision
// iptables 1.8 gives it.
#include <libiptc/libiptc.h>
#include <linux/netfilter/nf_nat.h>
#include <linux/netfilter/xt_tcpudp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "kvfwd_rule.h"

namespace {

struct entry_deleter {
    void operator()(ipt_entry *e) const { free(e); }
};
using entry_ptr = std::unique_ptr<ipt_entry, entry_deleter>;

const char *target_name(const kvfwd_rule *r)
{
    switch (r->target) {
    case KVFWD_TARGET_ACCEPT: return "ACCEPT";
    case KVFWD_TARGET_DROP: return "DROP";
    case KVFWD_TARGET_MASQUERADE: return "MASQUERADE";
    case KVFWD_TARGET_DNAT: return "DNAT";
    case KVFWD_TARGET_SNAT: return "SNAT";
    case KVFWD_TARGET_CHAIN: return r->jump;
    default: return "";
    }
}

size_t target_data_size(const kvfwd_rule *r)
{
    if (r->target == KVFWD_TARGET_MASQUERADE)
        return XT_ALIGN(sizeof(nf_nat_ipv4_multi_range_compat));
    if (r->target == KVFWD_TARGET_DNAT)
        return XT_ALIGN(sizeof(nf_nat_range2));
    if (r->target == KVFWD_TARGET_SNAT)
        return XT_ALIGN(sizeof(nf_nat_ipv4_multi_range_compat));
    return XT_ALIGN(sizeof(int)); // the standard target's verdict
}

void fill_ports(const kvfwd_rule *r, uint16_t spts[2], uint16_t dpts[2])
{
    spts[0] = r->has_sport ? r->sport[0] : 0;
    spts[1] = r->has_sport ? r->sport[1] : 0xFFFF;
    dpts[0] = r->has_dport ? r->dport[0] : 0;
    dpts[1] = r->has_dport ? r->dport[1] : 0xFFFF;
}

entry_ptr build_entry(const kvfwd_rule *r)
{
    bool with_match = r->proto && (r->has_sport || r->has_dport);
    size_t match_data = r->proto == IPPROTO_TCP ? XT_ALIGN(sizeof(xt_tcp)) : XT_ALIGN(sizeof(xt_udp));
    size_t match_size = with_match ? XT_ALIGN(sizeof(xt_entry_match)) + match_data : 0;
    size_t target_size = XT_ALIGN(sizeof(xt_entry_target)) + target_data_size(r);
    size_t total = XT_ALIGN(sizeof(ipt_entry)) + match_size + target_size;
    entry_ptr e((ipt_entry *)calloc(1, total));
    if (!e)
        return e;

    ipt_ip &ip = e->ip;
    if (r->has_src) {
        ip.src = r->src;
        ip.smsk = r->smsk;
    }
    if (r->has_dst) {
        ip.dst = r->dst;
        ip.dmsk = r->dmsk;
    }
    // Interface names match with their terminating zero (no wildcards).
    size_t n = strlen(r->iniface);
    if (n) {
        memcpy(ip.iniface, r->iniface, n);
        memset(ip.iniface_mask, 0xFF, n + 1);
    }
    n = strlen(r->outiface);
    if (n) {
        memcpy(ip.outiface, r->outiface, n);
        memset(ip.outiface_mask, 0xFF, n + 1);
    }
    ip.proto = r->proto;
    e->target_offset = (uint16_t)(XT_ALIGN(sizeof(ipt_entry)) + match_size);
    e->next_offset = (uint16_t)total;

    if (with_match) {
        auto *m = (xt_entry_match *)e->elems;
        m->u.match_size = (uint16_t)match_size;
        snprintf(m->u.user.name, sizeof m->u.user.name, "%s", r->proto == IPPROTO_TCP ? "tcp" : "udp");
        if (r->proto == IPPROTO_TCP) {
            auto *t = (xt_tcp *)m->data;
            fill_ports(r, t->spts, t->dpts);
        } else {
            auto *u = (xt_udp *)m->data;
            fill_ports(r, u->spts, u->dpts);
        }
    }

    auto *t = (xt_entry_target *)((char *)e.get() + e->target_offset);
    t->u.target_size = (uint16_t)target_size;
    snprintf(t->u.user.name, sizeof t->u.user.name, "%s", target_name(r));
    if (r->target == KVFWD_TARGET_MASQUERADE) {
        auto *mr = (nf_nat_ipv4_multi_range_compat *)t->data;
        mr->rangesize = 1;
    } else if (r->target == KVFWD_TARGET_SNAT) {
        // Revision 0, the one iptables uses for IPv4 SNAT and can list again.
        auto *mr = (nf_nat_ipv4_multi_range_compat *)t->data;
        mr->rangesize = 1;
        mr->range[0].flags = NF_NAT_RANGE_MAP_IPS;
        mr->range[0].min_ip = r->dnat_to.s_addr;
        mr->range[0].max_ip = r->dnat_to.s_addr;
        if (r->has_nat_port) {
            mr->range[0].flags |= NF_NAT_RANGE_PROTO_SPECIFIED;
            mr->range[0].min.udp.port = htons(r->nat_port);
            mr->range[0].max.udp.port = htons(r->nat_port);
        }
    } else if (r->target == KVFWD_TARGET_DNAT) {
        // Revision 2, the one iptables itself uses and can list again.
        t->u.user.revision = 2;
        auto *range = (nf_nat_range2 *)t->data;
        range->flags = NF_NAT_RANGE_MAP_IPS;
        range->min_addr.ip = r->dnat_to.s_addr;
        range->max_addr.ip = r->dnat_to.s_addr;
        if (r->has_nat_port) {
            range->flags |= NF_NAT_RANGE_PROTO_SPECIFIED;
            range->min_proto.udp.port = htons(r->nat_port);
            range->max_proto.udp.port = htons(r->nat_port);
        }
    }
    return e;
}

int lib_error(char *err, size_t errsize)
{
    snprintf(err, errsize, "%s", iptc_strerror(errno));
    return 0;
}

int flush_all(xtc_handle *h, char *err, size_t errsize)
{
    for (const char *c = iptc_first_chain(h); c; c = iptc_next_chain(h))
        if (!iptc_flush_entries(c, h))
            return lib_error(err, errsize);
    return 1;
}

} // namespace

int kvfwd_apply(const kvfwd_rule *r, void *handle, char *err, size_t errsize)
{
    auto *h = (xtc_handle *)handle;
    if (errsize)
        err[0] = '\0';
    switch (r->command) {
    case KVFWD_CMD_FLUSH:
        if (!r->chain[0])
            return flush_all(h, err, errsize);
        return iptc_flush_entries(r->chain, h) ? 1 : lib_error(err, errsize);
    case KVFWD_CMD_NEW_CHAIN:
        return iptc_create_chain(r->chain, h) ? 1 : lib_error(err, errsize);
    case KVFWD_CMD_DELETE_CHAIN:
        return iptc_delete_chain(r->chain, h) ? 1 : lib_error(err, errsize);
    case KVFWD_CMD_APPEND:
    case KVFWD_CMD_INSERT:
    case KVFWD_CMD_DELETE:
        break;
    default:
        snprintf(err, errsize, "no command specified");
        return 0;
    }

    if (r->target == KVFWD_TARGET_CHAIN && !iptc_is_chain(r->jump, h)) {
        snprintf(err, errsize, "Couldn't load target `%s'", r->jump);
        return 0;
    }
    entry_ptr e = build_entry(r);
    if (!e) {
        snprintf(err, errsize, "%s", strerror(ENOMEM));
        return 0;
    }
    int ok;
    if (r->command == KVFWD_CMD_APPEND) {
        ok = iptc_append_entry(r->chain, e.get(), h);
    } else if (r->command == KVFWD_CMD_INSERT) {
        ok = iptc_insert_entry(r->chain, e.get(), r->rulenum - 1, h);
    } else {
        // Every byte of the entry takes part in finding the rule to delete.
        std::unique_ptr<unsigned char[]> mask(new unsigned char[e->next_offset]);
        memset(mask.get(), 0xFF, e->next_offset);
        ok = iptc_delete_entry(r->chain, e.get(), mask.get(), h);
    }
    return ok ? 1 : lib_error(err, errsize);
}
