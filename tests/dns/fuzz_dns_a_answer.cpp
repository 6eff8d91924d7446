// Raw DNS replies into the A answer parser: the question name is taken from
// the reply itself, as the resolver does before it hands the answer over.
#include <udns.h>

#include <cstddef>
#include <cstdint>

#include "dns_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < DNS_HSIZE || size > 4096)
        return 0;
    const unsigned char *cur = data + DNS_HSIZE;
    unsigned char qdn[DNS_MAXDN];
    if (dns_getdn(data, &cur, data + size, qdn, sizeof qdn) <= 0)
        return 0;
    static dns_a_answer answer;
    int n = dns_cache_parse_a_answer(qdn, data, cur, data + size, &answer);
    if (n < 0 || n > DNS_A_ANSWER_MAX)
        __builtin_trap();
    char buf[64];
    const char *list[DNS_A_ANSWER_MAX];
    for (int i = 0; i < n; i++)
        list[i] = answer.addresses[i];
    dns_cache_join_addresses(buf, sizeof buf, list, n);
    return 0;
}
