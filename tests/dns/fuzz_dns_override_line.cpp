// Lines of the DNS overrides file into the line parser.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "dns_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1023)
        return 0;
    std::string line((const char *)data, size);
    line = line.substr(0, strlen(line.c_str()));
    dns_cache_a_record *r = dns_cache_parse_override_line(line.c_str());
    if (r) {
        if (r->address_count > DNS_CACHE_OVERRIDE_ADDRESSES)
            __builtin_trap();
        dns_cache_free_a_record(dns_cache_copy_a_record(r));
        dns_cache_free_a_record(r);
    }
    return 0;
}
