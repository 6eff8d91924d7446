// The process-wide DNS cache: A records with their address patterns (the
// addresses joined with "|", used as extended regular expressions to
// recognise a peer's source address), fixed overrides read from a file, SRV
// records with their weighted targets, and NAPTR (ENUM) look-ups. Queries go
// through udns, one private resolver context per query; the name servers come
// from the system configuration (NSCACHEIP and RES_OPTIONS are honoured).
//
// Locks: dns_cache_lock guards the arrays and counts below, dns_call_lock
// serialises the blocking queries. Where both are held, dns_call_lock is taken
// first. Functions marked "caller holds dns_cache_lock" take no lock; every
// other function takes what it needs itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct dns_ctx;
struct dns_rr_srv;
struct dns_rr_naptr;
struct call_object;

enum {
    DNS_CACHE_SIZE = 256,           // A records, and SRV records
    DNS_CACHE_OVERRIDES_SIZE = 32,  // override lines taken
    DNS_CACHE_OVERRIDE_ADDRESSES = 16,
    DNS_SRV_REGEXP_SIZE = 1024,     // 1023 characters and the NUL
    DNS_A_ANSWER_MAX = 256,         // A records taken from one answer
};

#define DNS_DUMMY_ADDRESS "128.0.0.1"

struct dns_cache_a_record {
    char *name;
    char **addresses;
    int32_t address_count;
    char *address_regexp;
    int32_t ttl;
    int32_t invalid; // 1: dummy record of a name that could not be resolved
};

struct dns_cache_srv_record_weighted_a_record {
    char *weighted_a_name;
    int32_t priority;
    int32_t weight;
    int32_t port;
    int32_t ttl;
    dns_cache_a_record *a_record; // owned copy, or null
};

struct dns_cache_srv_record {
    char *name;
    dns_cache_srv_record_weighted_a_record **weighted_a_records; // by priority
    int32_t number_of_records;
    int32_t using_record;
    int32_t using_arecord_index;
    char address_regexp[DNS_SRV_REGEXP_SIZE];
    int32_t transport; // 1 UDP, 2 TCP, 4 TLS
};

struct dns_cache {
    dns_cache_srv_record *srv_records[DNS_CACHE_SIZE];
    int32_t srv_records_count;
    dns_cache_a_record *a_records[DNS_CACHE_SIZE];
    int32_t a_records_count;
    dns_cache_a_record *a_records_overrides[DNS_CACHE_OVERRIDES_SIZE];
    int32_t a_records_overrides_count;
};

// A zero-filled cache; the application object gets one when it is created.
dns_cache *dns_cache_create();

// ---- A records ---------------------------------------------------------------

dns_cache_a_record *dns_cache_copy_a_record(const dns_cache_a_record *r);
void dns_cache_free_a_record(dns_cache_a_record *r);
// The record of a name that could not be resolved: one address "128.0.0.1".
dns_cache_a_record *dns_cache_create_dummy_a_record(const char *name);
// A record of name whose pattern is the given text and whose addresses are
// its non-empty pieces split at "|".
dns_cache_a_record *dns_cache_create_a_record(const char *name, const char *pattern);

// A copy of the override, else the cached record, of the name; a query when
// neither exists or refresh is set. Null for an IPv4 address literal or when
// nothing was obtained. The caller frees the result.
dns_cache_a_record *dns_cache_resolve_to_a_record(const char *name, int refresh);
// One blocking DNS query (no cache, no lock): a new record, a dummy record, or
// null (IPv4 literal, invalid name, resolver failure). buf receives the
// pattern of the answer, whole addresses only.
dns_cache_a_record *_dns_cache_resolve_to_a_record(const char *name, char *buf, size_t size);

// The pattern of a name into buf: overrides, cache, else a query stored in
// the cache. Always 0.
int resolve_address_to_regexp(const char *name, char *buf, size_t size);
int resolve_address_to_regexp_refresh(const char *name, char *buf, size_t size);
int resolve_address_to_regexp_nocache(const char *name, char *buf, size_t size);
int _resolve_address_to_regexp(const char *name, char *buf, size_t size, int lock_cache, int refresh,
                               int update_cache);

// Caller holds dns_cache_lock.
dns_cache_a_record *_dns_cache_copy_a_record_from_cache(const char *name);
// Caller holds dns_cache_lock. mode 0: overrides then cache, 1: cache only,
// 2: overrides only; names compared ignoring case.
dns_cache_a_record *_dns_cache_find_a_record_by_name(const char *name, int mode);
// Caller holds dns_cache_lock. Stores a copy: a valid record replaces the
// cached one of the same name, a dummy never does; 0, or -1 when the cache is
// full and the name is new.
int dns_cache_update_a_records(const dns_cache_a_record *r);
void dns_cache_remove_a_record_from_cache(const char *name);
int dns_cache_did_a_record_change(const dns_cache_a_record *a, const dns_cache_a_record *b);

// Reloads the overrides file (the experimental option dns_override when set
// and present, else /tmp/tarn.dns).
void dns_cache_update_overrides();
// One line of the overrides file as a record, or null when the line is not
// an "a:" line.
dns_cache_a_record *dns_cache_parse_override_line(const char *line);

void dns_cache_list_a_record(FILE *out, const dns_cache_a_record *r, int indented);
void dns_cache_list(FILE *out);
// Empties the SRV and the A record cache; the overrides stay.
void dns_cache_clear();

// ---- the answer of an A query ---------------------------------------------

struct dns_a_answer {
    int32_t count;
    char addresses[DNS_A_ANSWER_MAX][16];
};
// The A addresses of a raw answer for the wire-form name qdn: records whose
// owner is qdn (a CNAME in the first answer record is followed once) and
// whose type is A. cur points past the question's name, at its type and
// class (as the resolver library hands it to its parsers). Returns
// the count (0 when none); parsing stops at the first malformed record.
int dns_cache_parse_a_answer(const unsigned char *qdn, const unsigned char *pkt, const unsigned char *cur,
                             const unsigned char *end, dns_a_answer *out);
// Joins whole addresses with "|" into buf while they fit; returns how many.
int dns_cache_join_addresses(char *buf, size_t size, const char *const *addresses, int count);

// ---- SRV records -------------------------------------------------------------

dns_cache_srv_record *dns_cache_copy_srv_record(const dns_cache_srv_record *r);
dns_cache_srv_record_weighted_a_record *
dns_cache_copy_weighted_a_record(const dns_cache_srv_record_weighted_a_record *w);
void dns_cache_free_srv_record(dns_cache_srv_record *r);
void dns_cache_free_weighted_a_record(dns_cache_srv_record_weighted_a_record *w);

// A copy of the SRV record of domain for the transport (caller frees), or
// null when the SRV query gave nothing.
dns_cache_srv_record *dns_cache_resolve_to_srv_record(const char *domain, int transport, int refresh);
// The resolver's raw answer (free it with free()), or null.
dns_rr_srv *resolve_srv_address(const char *domain, int transport);
// Caller holds dns_cache_lock.
dns_cache_srv_record *_dns_cache_find_srv_record_by_name(const char *domain, int transport);
int dns_cache_update_srv_records(const dns_cache_srv_record *r);
void dns_cache_srv_update_regex(dns_cache_srv_record *r);
// Caller holds dns_call_lock and then dns_cache_lock.
void dns_cache_srv_update_regex_and_arecords(dns_cache_srv_record *r);
// qsort comparator over target pointers: difference of the priorities.
int dns_cache_compare_priorities(const void *a, const void *b);
int dns_cache_did_srv_record_change(const dns_cache_srv_record *a, const dns_cache_srv_record *b);
void dns_cache_list_srv_record(FILE *out, const dns_cache_srv_record *r);

// The random source of the weighted target choice (the routing generator dialplan_random by default; tests
// put a predictable one in). Null restores the default.
void dns_cache_set_random_source(int (*source)());

// Resolves the SRV records of a SIP peer's proxy and registrar for its
// transport (no refresh); the caller owns the two results.
void dns_cache_resolve_srv_pair(const char *proxy, const char *registrar, int transport,
                                dns_cache_srv_record **proxy_record, dns_cache_srv_record **registrar_record);

// ---- NAPTR (ENUM) ------------------------------------------------------------

// The NAPTR choice: among records whose service contains "sip", "E2U+sip"
// with UDP, "E2T+sip" with TCP or "E2T+sips" with TLS supported (bits 1, 2,
// 4), the lowest order wins. Returns its transport and regexp, or -1.
int dns_naptr_choose(const dns_rr_naptr *answer, int supported, const char **regexp);

// Blocking (blocking 1): writes the "UUU order" lines, returns the chosen
// transport with the regular expression in buf, or -1. Non-blocking: submits
// the query for the call object co (its user data) and returns 0, or -1; the
// resolver context and its socket are handed out through ctx_out and fd_out
// (call control passes the call's dns_context and dns_enum_fd). A context
// the call still holds is closed first.
int resolve_naptr(const char *name, char *buf, size_t size, int supported, int blocking, call_object *co,
                  dns_ctx **ctx_out, int *fd_out);
// Completion of a non-blocking look-up: writes dns_enum_regex and
// dns_enum_using_transport of the call whose dns_context is ctx. Returns the
// transport, 1 for no answer (also for an address longer than dns_enum_regex
// holds: it is never cut), -1 when nothing qualified or no call waits.
int dns_query_naptr_callback(dns_ctx *ctx, dns_rr_naptr *answer, void *data);
int dns_query_srv_callback(dns_ctx *ctx, dns_rr_srv *answer, void *data);
// Closes and frees the call's pending resolver context, if any, and clears
// dns_context and dns_enum_fd.
void dns_close_call_context(call_object *co);
