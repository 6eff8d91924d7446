// The authorization server's answer as any bytes: the reader and the
// redirect checks never read or write outside their buffers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "call_authorization.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size); // the answer buffer is a C text
    text.resize(strlen(text.c_str()));
    if (text.size() > 1023)
        text.resize(1023);
    int action = -1;
    char redirect[64];
    parse_call_authorization_response(text.c_str(), &action, redirect, sizeof redirect);
    if (action != 0 && action != 1)
        __builtin_trap();
    if (strlen(redirect) >= sizeof redirect)
        __builtin_trap();
    call_authorization_redirect_usable(redirect);
    return 0;
}
