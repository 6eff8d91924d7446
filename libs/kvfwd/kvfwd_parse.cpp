// The command-line parser: the iptables words of the rule shapes the daemon
// issues, in any order, into a kvfwd_rule. Everything else is refused with a
// message; the parser never ends the process.
#include <arpa/inet.h>
#include <strings.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kvfwd_rule.h"

namespace {

enum opt_id {
    O_APPEND, O_INSERT, O_DELETE, O_FLUSH, O_NEW_CHAIN, O_DELETE_CHAIN, // commands
    O_TABLE, O_IN, O_OUT, O_SRC, O_DST, O_PROTO, O_JUMP,                // rule
    O_DPORT, O_SPORT,                                                   // udp and tcp
    O_TO,                                                               // DNAT
    O_TO_SOURCE,                                                        // SNAT
};

struct opt_row {
    const char *name;
    opt_id id;
    const char *label; // for messages
};

// Short and long spellings as iptables knows them. "--to" is the
// abbreviation of "--to-destination" that the daemon's rules use.
const opt_row opt_rows[] = {
    {"-A", O_APPEND, "-A"}, {"--append", O_APPEND, "-A"},
    {"-I", O_INSERT, "-I"}, {"--insert", O_INSERT, "-I"},
    {"-D", O_DELETE, "-D"}, {"--delete", O_DELETE, "-D"},
    {"-F", O_FLUSH, "-F"}, {"--flush", O_FLUSH, "-F"},
    {"-N", O_NEW_CHAIN, "-N"}, {"--new-chain", O_NEW_CHAIN, "-N"},
    {"-X", O_DELETE_CHAIN, "-X"}, {"--delete-chain", O_DELETE_CHAIN, "-X"},
    {"-t", O_TABLE, "-t"}, {"--table", O_TABLE, "-t"},
    {"-i", O_IN, "-i"}, {"--in-interface", O_IN, "-i"},
    {"-o", O_OUT, "-o"}, {"--out-interface", O_OUT, "-o"},
    {"-s", O_SRC, "-s"}, {"--source", O_SRC, "-s"}, {"--src", O_SRC, "-s"},
    {"-d", O_DST, "-d"}, {"--destination", O_DST, "-d"}, {"--dst", O_DST, "-d"},
    {"-p", O_PROTO, "-p"}, {"--protocol", O_PROTO, "-p"},
    {"-j", O_JUMP, "-j"}, {"--jump", O_JUMP, "-j"},
    {"--dport", O_DPORT, "--dport"}, {"--destination-port", O_DPORT, "--dport"},
    {"--sport", O_SPORT, "--sport"}, {"--source-port", O_SPORT, "--sport"},
    {"--to", O_TO, "--to-destination"}, {"--to-destination", O_TO, "--to-destination"},
    {"--to-source", O_TO_SOURCE, "--to-source"},
};

const opt_row *find_opt(const char *word)
{
    for (const opt_row &r : opt_rows)
        if (strcmp(r.name, word) == 0)
            return &r;
    return nullptr;
}

struct parse_state {
    char *err;
    size_t errsize;
};

int fail(parse_state &ps, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int fail(parse_state &ps, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    if (ps.errsize)
        vsnprintf(ps.err, ps.errsize, fmt, ap);
    va_end(ap);
    return -1;
}

// Chain names: what the filter stores (28 characters at most), no blank or
// control character, not mistakable for an option.
bool valid_chain(const char *s)
{
    size_t n = strlen(s);
    if (n == 0 || n > KVFWD_CHAIN_MAX || s[0] == '-' || s[0] == '!')
        return false;
    for (size_t i = 0; i < n; i++)
        if (!isgraph((unsigned char)s[i]))
            return false;
    return true;
}

bool valid_ifname(const char *s)
{
    size_t n = strlen(s);
    if (n == 0 || n > KVFWD_IFNAME_MAX || s[0] == '-')
        return false;
    for (size_t i = 0; i < n; i++)
        if (!isalnum((unsigned char)s[i]) && s[i] != '.' && s[i] != '_' && s[i] != '-')
            return false;
    return true;
}

// Up to five decimal digits and no more than max; -1 otherwise.
long parse_number(const char *s, size_t len, long max)
{
    if (len == 0 || len > 5)
        return -1;
    long v = 0;
    for (size_t i = 0; i < len; i++) {
        if (!isdigit((unsigned char)s[i]))
            return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v <= max ? v : -1;
}

// "a" or "a:b" with a <= b.
bool parse_ports(const char *s, uint16_t out[2])
{
    const char *colon = strchr(s, ':');
    long a = parse_number(s, colon ? (size_t)(colon - s) : strlen(s), 65535);
    long b = colon ? parse_number(colon + 1, strlen(colon + 1), 65535) : a;
    if (a < 0 || b < 0 || a > b)
        return false;
    out[0] = (uint16_t)a;
    out[1] = (uint16_t)b;
    return true;
}

// "a.b.c.d" or "a.b.c.d/n"; the address is masked as iptables does.
bool parse_address(const char *s, in_addr *addr, in_addr *mask)
{
    char text[INET_ADDRSTRLEN];
    const char *slash = strchr(s, '/');
    size_t alen = slash ? (size_t)(slash - s) : strlen(s);
    if (alen == 0 || alen >= sizeof text)
        return false;
    memcpy(text, s, alen);
    text[alen] = '\0';
    if (inet_pton(AF_INET, text, addr) != 1)
        return false;
    long prefix = slash ? parse_number(slash + 1, strlen(slash + 1), 32) : 32;
    if (prefix < 0 || (slash && strlen(slash + 1) > 2))
        return false;
    mask->s_addr = prefix == 0 ? 0 : htonl(0xFFFFFFFFu << (32 - prefix));
    addr->s_addr &= mask->s_addr;
    return true;
}

bool is_command(opt_id id)
{
    return id <= O_DELETE_CHAIN;
}

kvfwd_command command_of(opt_id id)
{
    switch (id) {
    case O_APPEND: return KVFWD_CMD_APPEND;
    case O_INSERT: return KVFWD_CMD_INSERT;
    case O_DELETE: return KVFWD_CMD_DELETE;
    case O_FLUSH: return KVFWD_CMD_FLUSH;
    case O_NEW_CHAIN: return KVFWD_CMD_NEW_CHAIN;
    default: return KVFWD_CMD_DELETE_CHAIN;
    }
}

const char *const target_names[] = {"ACCEPT", "DROP", "QUEUE", "RETURN", "MASQUERADE", "DNAT", "SNAT"};

// The new address of DNAT and SNAT, with an optional port ("a.b.c.d:port").
bool parse_nat_to(const char *arg, kvfwd_rule *r)
{
    char addr[INET_ADDRSTRLEN];
    const char *colon = strchr(arg, ':');
    size_t n = colon ? (size_t)(colon - arg) : strlen(arg);
    if (n == 0 || n >= sizeof addr)
        return false;
    memcpy(addr, arg, n);
    addr[n] = '\0';
    if (inet_pton(AF_INET, addr, &r->dnat_to) != 1)
        return false;
    if (!colon)
        return true;
    long port = parse_number(colon + 1, strlen(colon + 1), 65535);
    if (port < 1)
        return false;
    r->has_nat_port = true;
    r->nat_port = (uint16_t)port;
    return true;
}

bool is_target_name(const char *s)
{
    for (const char *t : target_names)
        if (strcmp(s, t) == 0)
            return true;
    return false;
}

bool is_builtin(const char *chain, const char *a, const char *b)
{
    return strcmp(chain, a) == 0 || strcmp(chain, b) == 0;
}

} // namespace

int kvfwd_parse(int argc, char *const *argv, const char *table, kvfwd_rule *r, char *err, size_t errsize)
{
    parse_state ps{err, errsize};
    if (errsize)
        err[0] = '\0';
    memset(r, 0, sizeof *r);
    unsigned seen = 0; // one bit per opt_id
    const opt_row *cmd = nullptr;

    for (int i = 1; i < argc; i++) {
        const char *word = argv[i];
        const opt_row *o = find_opt(word);
        if (!o) {
            if (word[0] == '!')
                return fail(ps, "inverted matches are not supported");
            return fail(ps, "unknown argument `%s'", word);
        }
        if (seen & (1u << o->id))
            return fail(ps, "multiple %s flags not allowed", o->label);
        if (is_command(o->id) && cmd)
            return fail(ps, "cannot use %s with %s", o->label, cmd->label);
        seen |= 1u << o->id;

        // Options with an optional argument: the chain of -F and -X, the
        // rule number of -I. A following word that begins like an option
        // is not theirs.
        bool next_free = i + 1 < argc && argv[i + 1][0] != '-' && argv[i + 1][0] != '!';
        const char *arg = nullptr;
        bool optional = o->id == O_FLUSH || o->id == O_DELETE_CHAIN;
        if (optional) {
            if (next_free)
                arg = argv[++i];
        } else {
            if (i + 1 >= argc)
                return fail(ps, "option \"%s\" requires an argument", word);
            arg = argv[++i];
        }

        switch (o->id) {
        case O_APPEND:
        case O_INSERT:
        case O_DELETE:
        case O_FLUSH:
        case O_NEW_CHAIN:
        case O_DELETE_CHAIN:
            cmd = o;
            r->command = command_of(o->id);
            if (arg) {
                if (!valid_chain(arg))
                    return fail(ps, "invalid chain name `%s'", arg);
                snprintf(r->chain, sizeof r->chain, "%s", arg);
            } else if (o->id == O_DELETE_CHAIN) {
                return fail(ps, "-X needs a chain name");
            }
            if (o->id == O_INSERT) {
                r->rulenum = 1;
                if (i + 1 < argc && isdigit((unsigned char)argv[i + 1][0])) {
                    long n = parse_number(argv[i + 1], strlen(argv[i + 1]), 65535);
                    if (n < 1)
                        return fail(ps, "invalid rule number `%s'", argv[i + 1]);
                    r->rulenum = (unsigned)n;
                    i++;
                }
            }
            if (o->id == O_NEW_CHAIN && is_target_name(arg))
                return fail(ps, "chain name may not clash with target name");
            break;
        case O_TABLE:
            if (strcmp(arg, table) != 0)
                return fail(ps, "table `%s' given for a command on table `%s'", arg, table);
            break;
        case O_IN:
        case O_OUT:
            if (!valid_ifname(arg))
                return fail(ps, "invalid interface name `%s'", arg);
            snprintf(o->id == O_IN ? r->iniface : r->outiface, sizeof r->iniface, "%s", arg);
            break;
        case O_SRC:
        case O_DST: {
            bool ok = o->id == O_SRC ? parse_address(arg, &r->src, &r->smsk)
                                     : parse_address(arg, &r->dst, &r->dmsk);
            if (!ok)
                return fail(ps, "host/network `%s' not an IPv4 address", arg);
            (o->id == O_SRC ? r->has_src : r->has_dst) = true;
            break;
        }
        case O_PROTO:
            if (strcasecmp(arg, "udp") == 0)
                r->proto = IPPROTO_UDP;
            else if (strcasecmp(arg, "tcp") == 0)
                r->proto = IPPROTO_TCP;
            else
                return fail(ps, "unknown protocol `%s' specified", arg);
            break;
        case O_DPORT:
        case O_SPORT:
            // As in iptables, the port options exist once the protocol is known.
            if (!r->proto)
                return fail(ps, "unknown option \"%s\"", word);
            if (!parse_ports(arg, o->id == O_DPORT ? r->dport : r->sport))
                return fail(ps, "invalid port/service `%s' specified", arg);
            (o->id == O_DPORT ? r->has_dport : r->has_sport) = true;
            break;
        case O_JUMP:
            if (strcmp(arg, "ACCEPT") == 0)
                r->target = KVFWD_TARGET_ACCEPT;
            else if (strcmp(arg, "DROP") == 0)
                r->target = KVFWD_TARGET_DROP;
            else if (strcmp(arg, "MASQUERADE") == 0)
                r->target = KVFWD_TARGET_MASQUERADE;
            else if (strcmp(arg, "DNAT") == 0)
                r->target = KVFWD_TARGET_DNAT;
            else if (strcmp(arg, "SNAT") == 0)
                r->target = KVFWD_TARGET_SNAT;
            else if (valid_chain(arg) && !is_target_name(arg)) {
                r->target = KVFWD_TARGET_CHAIN;
                snprintf(r->jump, sizeof r->jump, "%s", arg);
            } else
                return fail(ps, "unknown target `%s'", arg);
            break;
        case O_TO:
        case O_TO_SOURCE:
            if (r->target != (o->id == O_TO ? KVFWD_TARGET_DNAT : KVFWD_TARGET_SNAT))
                return fail(ps, "unknown option \"%s\"", word);
            if (!parse_nat_to(arg, r))
                return fail(ps, "bad IP address \"%s\"", arg);
            break;
        }
    }

    if (!cmd)
        return fail(ps, "no command specified");
    const unsigned rule_opts = (1u << O_IN) | (1u << O_OUT) | (1u << O_SRC) | (1u << O_DST) |
                               (1u << O_PROTO) | (1u << O_JUMP) | (1u << O_DPORT) |
                               (1u << O_SPORT) | (1u << O_TO) | (1u << O_TO_SOURCE);
    bool rule_command = r->command == KVFWD_CMD_APPEND || r->command == KVFWD_CMD_INSERT ||
                        r->command == KVFWD_CMD_DELETE;
    if (!rule_command) {
        if (seen & rule_opts)
            return fail(ps, "illegal option with %s", cmd->label);
        return 0;
    }
    if (r->target == KVFWD_TARGET_NONE)
        return fail(ps, "no target given (-j)");
    if (r->target == KVFWD_TARGET_DNAT && !(seen & (1u << O_TO)))
        return fail(ps, "DNAT: you must specify --to-destination");
    if (r->target == KVFWD_TARGET_SNAT && !(seen & (1u << O_TO_SOURCE)))
        return fail(ps, "SNAT: you must specify --to-source");
    if (r->iniface[0] && is_builtin(r->chain, "OUTPUT", "POSTROUTING"))
        return fail(ps, "Can't use -i with %s", r->chain);
    if (r->outiface[0] && is_builtin(r->chain, "INPUT", "PREROUTING"))
        return fail(ps, "Can't use -o with %s", r->chain);
    return 0;
}
