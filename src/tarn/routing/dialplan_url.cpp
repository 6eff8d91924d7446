// ENUM query names, NAPTR replacements, URL encoding of '#'.
#include "dialplan_url.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "call_object.h"
#include "log.h"
#include "pg_sip_groups.h"
#include "pools.h"

namespace {

// Lower-case hex digit of the low four bits.
char i2a(int v)
{
    static const char digits[] = "0123456789abcdef";
    return digits[v & 15];
}

void empty(char *s, size_t size)
{
    if (s && size)
        s[0] = '\0';
}

void copy_span(char *out, size_t size, const char *from, const char *to)
{
    if (!out || !size)
        return;
    snprintf(out, size, "%.*s", (int)(to - from), from);
}

} // namespace

int dialplan_create_enum_search_string(const char *number, const char *domain, char *out, size_t size)
{
    empty(out, size);
    if (!number || !out || !size)
        return -1;
    std::string name;
    for (size_t i = strlen(number); i-- > 0;)
        if (number[i] >= '0' && number[i] <= '9') {
            name += number[i];
            name += '.';
        }
    if (name.empty())
        return -1;
    name += domain ? domain : "";
    snprintf(out, size, "%s", name.c_str());
    return (int)strlen(out);
}

int dialplan_create_enum_search(call_object *co, const port_group_sip *pgs)
{
    if (!co || !pgs || !pgs->pgs_enum_search_domains)
        return -1;
    int rc = -1;
    for (int i = 0; i < pgs->pgs_enum_search_domain_count; i++) {
        char name[512];
        if (dialplan_create_enum_search_string(co->new_destination, pgs->pgs_enum_search_domains[i], name,
                                               sizeof name) < 0)
            continue;
        LOGD_CALL(TARN, 5, co, "enum search name %s (domain %i of SIP group %s)", name, i + 1,
                  pgs->pgs_name ? pgs->pgs_name : "");
        rc = 0;
    }
    return rc;
}

int dialplan_enum_regexp_to_user_and_url(const char *regexp, char *user, size_t user_size, char *host,
                                         size_t host_size)
{
    empty(user, user_size);
    empty(host, host_size);
    if (!regexp)
        return 0;
    const char *b1 = strchr(regexp, '!');
    const char *b2 = b1 ? strchr(b1 + 1, '!') : nullptr;
    const char *b3 = b2 ? strchr(b2 + 1, '!') : nullptr;
    if (!b3)
        return 0;
    const char *start = b2 + 1;
    const char *at = (const char *)memchr(start, '@', (size_t)(b3 - start));
    const char *colon = (const char *)memchr(start, ':', (size_t)(b3 - start));
    if (!at || !colon || colon > at)
        return 0;
    copy_span(user, user_size, colon + 1, at);
    copy_span(host, host_size, at + 1, b3);
    return 1;
}

char *dialplan_url_encode_string(const char *text)
{
    if (!text)
        text = "";
    size_t len = strlen(text);
    char *out = (char *)malloc(3 * len + 1);
    if (!out)
        return nullptr;
    size_t n = 0;
    for (size_t i = 0; i < len; i++) {
        if (text[i] == '#') {
            out[n++] = '%';
            out[n++] = i2a('#' >> 4);
            out[n++] = i2a('#');
        } else {
            out[n++] = text[i];
        }
    }
    out[n] = '\0';
    return out;
}

int dialplan_string_needs_url_encoding(const char *text) { return text && strchr(text, '#') ? 1 : 0; }

void dialplan_url_encode_field(char *field, size_t size)
{
    if (!field || !size || !dialplan_string_needs_url_encoding(field))
        return;
    std::string encoded;
    for (const char *p = field; p < field + size && *p; p++) {
        size_t step = *p == '#' ? 3 : 1;
        if (encoded.size() + step > size - 1)
            break; // never half an escape
        if (*p == '#') {
            encoded += '%';
            encoded += i2a('#' >> 4);
            encoded += i2a('#');
        } else {
            encoded += *p;
        }
    }
    memcpy(field, encoded.c_str(), encoded.size() + 1);
}

int does_header_look_valid(const char *text) { return text && strchr(text, ':') ? 1 : 0; }

int dialplan_does_it_look_like_a_telephone_number(const char *text)
{
    if (!text || !text[0])
        return 0;
    if (text[0] != '+' && (text[0] < '0' || text[0] > '9'))
        return 0;
    for (const char *p = text + 1; *p; p++)
        if (*p < '0' || *p > '9')
            return 0;
    return 1;
}
