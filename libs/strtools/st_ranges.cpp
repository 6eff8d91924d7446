#include "strtools.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

uint32_t st_parse_bchannels_range(const char *text)
{
    if (!text)
        return 0;
    char copy[256];
    snprintf(copy, sizeof copy, "%s", text);
    uint32_t mask = 0;
    char *save = nullptr;
    for (char *item = strtok_r(copy, ".", &save); item; item = strtok_r(nullptr, ".", &save)) {
        if (strchr(item, '-')) {
            int a, b;
            if (sscanf(item, "%d-%d", &a, &b) != 2)
                continue;
            if (a > 0 && a < b && b <= 31)
                for (int i = a; i <= b; i++)
                    mask |= 1u << i;
        } else {
            long n = strtol(item, nullptr, 10);
            if (n >= 1 && n <= 31)
                mask |= 1u << n;
        }
    }
    return mask;
}

void st_format_bchannels_range(uint32_t mask, char *buf, size_t size)
{
    if (!buf || size == 0)
        return;
    buf[0] = '\0';
    mask &= ~1u; // bit 0 is no channel
    auto set = [mask](int n) { return n >= 1 && n <= 31 && (mask >> n) & 1u; };
    for (int n = 1; n <= 31; n++) {
        if (!set(n))
            continue;
        if (!set(n - 1))
            st_safe_strcat(buf, size, "%d%s", n, set(n + 1) ? "-" : ".");
        else if (!set(n + 1))
            st_safe_strcat(buf, size, "%d.", n);
    }
    size_t len = strlen(buf);
    if (len > 0 && buf[len - 1] == '.')
        buf[len - 1] = '\0';
}

int *st_explode_comma_separated_range_string(const char *text, int *count, int maximum)
{
    if (count)
        *count = 0;
    if (!text || !count || maximum <= 0)
        return nullptr;
    char copy[1024];
    snprintf(copy, sizeof copy, "%s", text);
    int *values = nullptr;
    int n = 0;
    char *p = copy;
    for (bool more = true; more;) {
        char *comma = strchr(p, ',');
        more = comma != nullptr;
        if (comma)
            *comma = '\0';
        long long a, b;
        int from, to;
        if (sscanf(p, "%d-%d", &from, &to) == 2) {
            a = from;
            b = to;
        } else {
            a = b = strtol(p, nullptr, 10);
        }
        if (b >= a) {
            long long add = b - a + 1;
            if (n + add > maximum)
                break;
            int *grown = (int *)realloc(values, (size_t)(n + add) * sizeof(int));
            if (!grown)
                break;
            values = grown;
            for (long long v = a; v <= b; v++)
                values[n++] = (int)v;
        }
        if (comma)
            p = comma + 1;
    }
    if (n == 0) {
        free(values);
        return nullptr;
    }
    *count = n;
    return values;
}
