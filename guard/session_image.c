#include "session_image.h"

#include <string.h>

/* Position behind the byte c at p, or NULL. */
static const char *expect_char(const char *p, const char *end, char c)
{
    if (p == NULL || p >= end || *p != c)
        return NULL;
    return p + 1;
}

/* A length or count: a number >= 0 followed by nothing in particular. */
static const char *parse_count(const char *p, const char *end, uint64_t *n)
{
    const char *q;
    int64_t v;

    if (p == NULL)
        return NULL;
    v = parse_int(p, end, &q);
    if (q == NULL || v < 0)
        return NULL;
    *n = (uint64_t)v;
    return q;
}

int64_t parse_int(const char *start, const char *end, const char **endp)
{
    /* The magnitude is gathered unsigned so that the most negative value
     * PHP writes, -9223372036854775808, still fits. */
    uint64_t limit = (uint64_t)INT64_MAX;
    uint64_t v = 0;
    const char *p = start;
    const char *digits;
    int negative = 0;

    *endp = NULL;
    if (p < end && *p == '-') {
        negative = 1;
        limit = (uint64_t)INT64_MAX + 1u;
        p++;
    }
    digits = p;
    while (p < end && *p >= '0' && *p <= '9') {
        unsigned d = (unsigned)(*p - '0');
        if (v > (limit - d) / 10u)
            return 0;
        v = v * 10u + d;
        p++;
    }
    if (p == digits)
        return 0;
    *endp = p;
    if (!negative)
        return (int64_t)v;
    if (v == (uint64_t)INT64_MAX + 1u)
        return INT64_MIN;
    return -(int64_t)v;
}

/* s:<n>:"<n bytes>";  p is behind the "s". */
static const char *skip_string(const char *p, const char *end)
{
    uint64_t n;
    size_t left;

    p = expect_char(p, end, ':');
    p = parse_count(p, end, &n);
    p = expect_char(p, end, ':');
    p = expect_char(p, end, '"');
    if (p == NULL)
        return NULL;
    /* n bytes, the closing quote and ";" must lie inside the image. */
    left = (size_t)(end - p);
    if (left < 2 || n > left - 2)
        return NULL;
    if (p[(size_t)n] != '"' || p[(size_t)n + 1] != ';')
        return NULL;
    return p + (size_t)n + 2;
}

/* <c>:{<2c values>}  p is at the count. */
static const char *skip_members(const char *p, const char *end, int depth)
{
    uint64_t c;
    uint64_t i;

    p = parse_count(p, end, &c);
    p = expect_char(p, end, ':');
    p = expect_char(p, end, '{');
    /* Pairs of key and value; each value takes at least two bytes, so a
     * count larger than the image ends as soon as the bytes run out. */
    for (i = 0; p != NULL && i < c; i++) {
        p = skip_serialized_value(p, end, depth + 1);
        p = skip_serialized_value(p, end, depth + 1);
    }
    return expect_char(p, end, '}');
}

/* O:<n>:"<class>":<c>:{<2c values>}  p is behind the "O". */
static const char *skip_object(const char *p, const char *end, int depth)
{
    uint64_t n;
    size_t left;

    p = expect_char(p, end, ':');
    p = parse_count(p, end, &n);
    if (p == NULL)
        return NULL;
    /* ':', '"', the class name, '"' and ':' must lie inside the image. */
    left = (size_t)(end - p);
    if (left < 4 || n > left - 4)
        return NULL;
    if (p[0] != ':' || p[1] != '"' || p[(size_t)n + 2] != '"' || p[(size_t)n + 3] != ':')
        return NULL;
    return skip_members(p + (size_t)n + 4, end, depth);
}

const char *skip_serialized_value(const char *p, const char *end, int depth)
{
    const char *q;

    if (p == NULL || depth >= SESSION_MAX_DEPTH || p > end || end - p < 2)
        return NULL;
    switch (*p++) {
    case 'N':
        return expect_char(p, end, ';');
    case 'b':
    case 'i':
    case 'r':
    case 'R':
        p = expect_char(p, end, ':');
        if (p == NULL)
            return NULL;
        parse_int(p, end, &q);
        return expect_char(q, end, ';');
    case 'd':
        p = expect_char(p, end, ':');
        if (p == NULL)
            return NULL;
        q = memchr(p, ';', (size_t)(end - p));
        return q != NULL ? q + 1 : NULL;
    case 's':
        return skip_string(p, end);
    case 'a':
        return skip_members(expect_char(p, end, ':'), end, depth);
    case 'O':
        return skip_object(p, end, depth);
    default:
        return NULL;
    }
}

int session_image_time(const char *image, size_t len, int64_t *t)
{
    static const size_t name_len = sizeof(SESSION_TIME_NAME) - 1;
    const char *p = image;
    const char *end = image + len;

    while (p != NULL && p < end) {
        const char *bar = memchr(p, '|', (size_t)(end - p));
        const char *q;
        int64_t v;

        if (bar == NULL)
            return -1;
        if (*p == '!') {
            /* An unset variable: a name and no value. */
            p = bar + 1;
            continue;
        }
        if ((size_t)(bar - p) != name_len || memcmp(p, SESSION_TIME_NAME, name_len) != 0) {
            p = skip_serialized_value(bar + 1, end, 0);
            continue;
        }
        p = bar + 1;
        if (end - p < 2 || p[0] != 'i' || p[1] != ':')
            return -1;
        v = parse_int(p + 2, end, &q);
        if (expect_char(q, end, ';') == NULL)
            return -1;
        *t = v;
        return 0;
    }
    return -1;
}
