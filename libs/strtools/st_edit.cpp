#include "strtools.h"

#include <cctype>
#include <cstring>
#include <strings.h>

static bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int st_trimstring(char *s)
{
    if (!s)
        return 0;
    char *w = s;
    int spaces = 0;
    bool pending = false;
    for (const char *r = s; *r; r++) {
        if (is_blank(*r)) {
            pending = w != s; // inner runs only; leading ones are dropped
            continue;
        }
        if (pending) {
            *w++ = ' ';
            spaces++;
            pending = false;
        }
        *w++ = *r;
    }
    *w = '\0';
    return spaces;
}

void st_remove_leading_and_trailing_whitespace(char *s)
{
    if (!s)
        return;
    size_t start = 0;
    while (s[start] == ' ')
        start++;
    size_t len = strlen(s + start);
    memmove(s, s + start, len + 1);
    while (len > 0 && s[len - 1] == ' ')
        s[--len] = '\0';
}

void st_remove_characters(char *s, const char *set)
{
    if (!s || !set)
        return;
    char *w = s;
    for (const char *r = s; *r; r++)
        if (!strchr(set, *r))
            *w++ = *r;
    *w = '\0';
}

void st_remove_clrf(char *s)
{
    st_remove_characters(s, "\r\n");
}

void st_remove_characters_from_end(char *s, const char *set)
{
    if (!s || !set)
        return;
    size_t len = strlen(s);
    while (len > 0 && strchr(set, s[len - 1]))
        s[--len] = '\0';
}

void st_make_unique_chars(char *s, char c)
{
    if (!s)
        return;
    char *w = s;
    for (const char *r = s; *r; r++) {
        if (*r == c && w > s && w[-1] == c)
            continue;
        *w++ = *r;
    }
    *w = '\0';
}

void st_strip_quotation_marks(char *s)
{
    st_remove_characters(s, "\"'");
}

int st_replace_characters_in_place(char *s, const char *search, const char *replace, int nocase)
{
    if (!s || !search || !replace)
        return -1;
    size_t n = strlen(search);
    if (n == 0 || n != strlen(replace))
        return -1;
    for (char *p = s; *p;) {
        if ((nocase ? strncasecmp(p, search, n) : strncmp(p, search, n)) == 0) {
            memcpy(p, replace, n);
            p += n;
        } else {
            p++;
        }
    }
    return 0;
}

void st_toupper(char *s)
{
    if (!s)
        return;
    for (; *s; s++)
        *s = (char)toupper((unsigned char)*s);
}

char st_pop_front_char_from_string(char *s)
{
    if (!s || !*s)
        return 0;
    char c = s[0];
    memmove(s, s + 1, strlen(s + 1) + 1);
    return c;
}
