// The parsed form of one packet-filter command: what the parser accepts and
// the applier hands to libiptc. Kept free of libiptc so the parser can be
// tested and fuzzed without a kernel table.
#pragma once
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

enum kvfwd_command {
    KVFWD_CMD_NONE = 0,
    KVFWD_CMD_APPEND,       // -A chain rule
    KVFWD_CMD_INSERT,       // -I chain [n] rule
    KVFWD_CMD_DELETE,       // -D chain rule
    KVFWD_CMD_FLUSH,        // -F [chain]
    KVFWD_CMD_NEW_CHAIN,    // -N chain
    KVFWD_CMD_DELETE_CHAIN, // -X chain
};

enum kvfwd_target {
    KVFWD_TARGET_NONE = 0,
    KVFWD_TARGET_ACCEPT,
    KVFWD_TARGET_DROP,
    KVFWD_TARGET_MASQUERADE,
    KVFWD_TARGET_DNAT,
    KVFWD_TARGET_CHAIN, // a jump to a user chain
    KVFWD_TARGET_SNAT,
};

enum {
    KVFWD_CHAIN_MAX = 28, // longest chain name the filter takes
    KVFWD_IFNAME_MAX = 15,
};

struct kvfwd_rule {
    kvfwd_command command;
    char chain[KVFWD_CHAIN_MAX + 1]; // empty: every chain (-F only)
    unsigned rulenum;                // -I position, from 1
    char iniface[KVFWD_IFNAME_MAX + 1];
    char outiface[KVFWD_IFNAME_MAX + 1];
    bool has_src, has_dst;
    in_addr src, smsk, dst, dmsk; // network order, address already masked
    uint8_t proto;                // 0 (any), IPPROTO_UDP, IPPROTO_TCP
    bool has_sport, has_dport;
    uint16_t sport[2], dport[2]; // host order, first and last
    kvfwd_target target;
    char jump[KVFWD_CHAIN_MAX + 1]; // KVFWD_TARGET_CHAIN
    in_addr dnat_to;                // KVFWD_TARGET_DNAT and _SNAT: the new address
    bool has_nat_port;              // and port ("a.b.c.d:port")
    uint16_t nat_port;              // host order
};

// Parses argv[1..argc-1] (argv[0] is the program name) for `table`. 0, or
// -1 with a message in err (never longer than errsize - 1).
int kvfwd_parse(int argc, char *const *argv, const char *table, kvfwd_rule *rule, char *err,
                size_t errsize);

// Applies a parsed command to an open table (struct xtc_handle *): 1, or 0
// with a message in err.
int kvfwd_apply(const kvfwd_rule *rule, void *handle, char *err, size_t errsize);
