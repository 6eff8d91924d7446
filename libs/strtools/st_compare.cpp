#include "strtools.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

int st_stricmp(const char *a, const char *b)
{
    if (!a || !b)
        return -1;
    if (strlen(a) != strlen(b))
        return -1;
    return strcasecmp(a, b) == 0 ? 0 : -1;
}

int st_strincmp(const char *a, const char *b, int n)
{
    if (!a || !b || n < 0)
        return -1;
    size_t la = strlen(a), lb = strlen(b);
    size_t m;
    if (la == lb) {
        m = (size_t)n < la ? (size_t)n : la;
    } else {
        m = la < lb ? la : lb;
        if (m < (size_t)n)
            return -1;
    }
    return strncasecmp(a, b, m) == 0 ? 0 : -1;
}

int st_string_has_non_digits(const char *s)
{
    if (!s)
        return 0;
    for (; *s; s++)
        if (*s < '0' || *s > '9')
            return 1;
    return 0;
}

int st_string_has_non_valid_isdn_chars(const char *s, int allowed)
{
    if (!s || allowed == 1)
        return 0;
    if (allowed == 2)
        return st_string_has_non_digits(s);
    for (; *s; s++) {
        char c = *s;
        if ((c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D'))
            continue;
        return 1;
    }
    return 0;
}

int st_convert_boolstring_to_int(const char *s)
{
    if (!s)
        return 0;
    if (strcasecmp(s, "yes") == 0)
        return 1;
    errno = 0;
    long v = strtol(s, nullptr, 10);
    return v != 0;
}

int st_scan_for_character(const char *s, char c, int n)
{
    if (!s || n <= 0)
        return -1;
    for (int i = 0; s[i]; i++)
        if (s[i] == c && --n == 0)
            return i;
    return -1;
}
