// A peer's console lines: the "dial:"/"update:" item parser with its checks,
// and the replies of a dialled peer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "application.h"
#include "call_object.h"
#include "log.h"
#include "mc_itapi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FILE *sink = [] {
        application_create();
        init_locks();
        log_levels_debug_enabled = 0;
        return fopen("/dev/null", "w");
    }();
    std::string line((const char *)data, size);
    itapi_items it;
    itapi_parse_items(line.c_str(), &it);
    if (it.rtp_port != -1 && (it.rtp_port < 1 || it.rtp_port > 65535))
        __builtin_trap();
    (void)itapi_valid_ipv4(it.rtp_ip);
    (void)itapi_safe_text(it.oad);
    static call_object co;
    mc_handle_itapi_response(line.c_str(), sink, &co);
    if (co.telnet_remote_rtp_port < 0 || co.telnet_remote_rtp_port > 65535)
        __builtin_trap();
    return 0;
}
