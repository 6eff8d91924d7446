// Header texts built from far-end texts (display names, users, hosts, the
// identity headers): every builder stays inside the size it is given, ends
// its text, and a display name never carries a line end into From.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "call_object.h"
#include "sip_headers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static call_object co; // zero
    if (size < 2)
        return 0;
    size_t limit = 1 + data[0] % 300; // the size callers give
    co.callinfo = data[1] & 1 ? CI_ISDN_TO_SIP : CI_SIP_TO_SIP;
    std::vector<std::string> parts(6);
    size_t k = 0;
    for (size_t i = 2; i < size && k < parts.size(); i++) {
        if (data[i] == 0)
            k++;
        else
            parts[k] += (char)data[i];
    }
    mangled_pstn_to_sip &m = co.mangled.pstn_to_sip;
    mangled_sip_to_sip &s = co.mangled.sip_to_sip;
    auto put = [](char *dst, size_t n, const std::string &v) { snprintf(dst, n, "%s", v.c_str()); };
    put(m.from_display, sizeof m.from_display, parts[0]);
    put(s.from_display, sizeof s.from_display, parts[0]);
    put(m.from_user, sizeof m.from_user, parts[1]);
    put(s.from_user, sizeof s.from_user, parts[1]);
    put(m.from_url, sizeof m.from_url, parts[2]);
    put(s.from_url, sizeof s.from_url, parts[2]);
    put(m.to_user, sizeof m.to_user, parts[3]);
    put(m.p_asserted_identity, sizeof m.p_asserted_identity, parts[4]);
    put(co.cc.rpi_anonymity_flags, sizeof co.cc.rpi_anonymity_flags, parts[5]);
    put(co.cc.faxdetect_call_termination, sizeof co.cc.faxdetect_call_termination, parts[0]);
    co.cc.use_privacy_header = data[1] >> 1 & 3;
    co.special_termination_reason = data[1] >> 3 & 15;

    std::vector<char> a(limit + 16, 'Z'), b(limit + 16, 'Z');
    auto check = [&](const std::vector<char> &buf) {
        if (strnlen(buf.data(), limit) >= limit || buf[limit] != 'Z')
            abort();
    };
    format_invite_headers(&co, a.data(), limit);
    check(a);
    format_from_and_to(&co, a.data(), limit, b.data(), limit);
    check(a);
    check(b);
    // The display part (up to the scheme) has no line end.
    const char *lt = strstr(a.data(), "<sip");
    for (const char *p = a.data(); lt && p < lt; p++)
        if (*p == '\r' || *p == '\n')
            abort();
    format_reason_header(&co, a.data(), limit);
    check(a);
    format_anonymity(&co, a.data(), limit);
    check(a);
    return 0;
}
