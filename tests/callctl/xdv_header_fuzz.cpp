// Arbitrary SIP extension headers onto a B-channel, which the ISDN
// library then builds into a SETUP; arbitrary user-user bytes through the
// PAE, user-name and eCall parsers and the SIP User-to-User reader.
// Input: header lines "NAME: value" up to a NUL octet; after it one octet
// for the user-user length (scaled beyond the field to test its bound) and
// the user-user bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "call_object.h"
#include "isdn_msg.h"
#include "misdn_bchannel.h"
#include "q931_test_support.h"
#include "xdv_headers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = [] {
        install_test_ports();
        return freopen("/dev/null", "w", stdout) != nullptr;
    }();
    (void)ready;
    if (size > 8192)
        return 0;
    const uint8_t *nul = (const uint8_t *)memchr(data, 0, size);
    size_t text_len = nul ? (size_t)(nul - data) : size;
    std::string text((const char *)data, text_len);

    misdn_bchannel bc;
    fresh_bc(&bc, 1 + (int)(text_len % 2), (int)(text_len % 3 == 0));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            size_t v = colon + 1;
            while (v < line.size() && line[v] == ' ')
                v++;
            apply_sipx_to_bc(&bc, name.c_str(), line.c_str() + v);
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    char lines[2048];
    isdn_ie_to_sip_header_str(&bc, lines, sizeof lines);
    msg_t *m = isdn_msg_build_event(msgs_g, &bc, EVENT_SETUP, bc.nt);
    if (m)
        free_msg(m);

    if (nul && (size_t)(nul - data) + 1 < size) {
        const uint8_t *rest = nul + 1;
        size_t rest_len = size - (size_t)(rest - data);
        int want = rest[0] * 2; // up to 510: beyond the field on purpose
        size_t n = rest_len - 1 < sizeof bc.uu ? rest_len - 1 : sizeof bc.uu;
        memcpy(bc.uu, rest + 1, n);
        bc.uulen = want;
        char c1[64], c2[64];
        parse_pae_uu(&bc, c1, sizeof c1, c2, sizeof c2);
        parse_isdn_userusername(&bc);
        call_object *co = (call_object *)calloc(1, sizeof *co);
        co->bc = &bc;
        ecall_parsed e;
        parse_user_information_ecall(co, &bc, &e);
        std::string uu((const char *)rest + 1, rest_len - 1);
        apply_sip_user_user_to_bc(co, uu.c_str());
        free(co);
    }
    return 0;
}
