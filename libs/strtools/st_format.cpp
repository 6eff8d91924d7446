#include "strtools.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <sys/time.h>

int st_safe_strcat(char *buf, size_t size, const char *format, ...)
{
    if (!buf || size == 0 || !format)
        return 0;
    size_t used = strnlen(buf, size);
    if (used >= size - 1)
        return 0; // full, or not terminated inside the buffer
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf + used, size - used, format, ap);
    va_end(ap);
    return 0;
}

void st_textify_crlf(char *dst, size_t size, const char *src)
{
    if (!dst || size == 0)
        return;
    size_t o = 0;
    for (; src && *src && size - o >= 3; src++) {
        if (*src == '\r') {
            dst[o++] = '\\';
            dst[o++] = 'r';
        } else if (*src == '\n') {
            dst[o++] = '\\';
            dst[o++] = 'n';
        } else {
            dst[o++] = *src;
        }
    }
    dst[o] = '\0';
}

void st_json_textify(char *dst, size_t size, const char *src)
{
    if (!dst || size == 0)
        return;
    size_t o = 0;
    for (; src && *src && size - o >= 4; src++) {
        if (*src == '\r' || *src == '\n') {
            dst[o++] = '\\';
            dst[o++] = '\\';
            dst[o++] = *src == '\r' ? 'r' : 'n';
        } else if (*src == '"') {
            dst[o++] = '\\';
            dst[o++] = '"';
        } else {
            dst[o++] = *src;
        }
    }
    dst[o] = '\0';
}

// Appends n bytes of text to dst (used bytes in *o), cut to size.
static void append_cut(char *dst, size_t size, size_t *o, const char *text, size_t n)
{
    if (*o + 1 >= size)
        return;
    size_t room = size - 1 - *o;
    if (n > room)
        n = room;
    memcpy(dst + *o, text, n);
    *o += n;
    dst[*o] = '\0';
}

void st_replace_strings(const char *search, const char *replace, char *dst, size_t size, char *src)
{
    if (!dst || size == 0)
        return;
    dst[0] = '\0';
    if (!src)
        return;
    size_t o = 0;
    size_t sl = search ? strlen(search) : 0;
    if (sl == 0) {
        append_cut(dst, size, &o, src, strlen(src));
        return;
    }
    size_t rl = replace ? strlen(replace) : 0;
    char *first = nullptr;
    const char *p = src;
    for (char *hit; (hit = strstr((char *)p, search)) != nullptr; p = hit + sl) {
        if (!first)
            first = hit;
        append_cut(dst, size, &o, p, (size_t)(hit - p));
        if (rl)
            append_cut(dst, size, &o, replace, rl);
    }
    append_cut(dst, size, &o, p, strlen(p));
    if (first)
        *first = '\0';
}

void st_remove_leading_zeros(const char *src, char *dst, size_t size)
{
    if (!src || !dst || size == 0)
        return;
    while (*src == '0')
        src++;
    if (!*src)
        return;
    snprintf(dst, size, "%s", src);
}

void st_get_display_and_user_from_sip_line(const char *line, char *display, size_t display_size,
                                           char *user, size_t user_size)
{
    if (display && display_size)
        display[0] = '\0';
    if (user && user_size)
        user[0] = '\0';
    if (!line)
        return;
    char copy[256];
    snprintf(copy, sizeof copy, "%s", line);
    char *sip = strstr(copy, "sip:");
    if (!sip)
        return;
    *sip = '\0';
    char *q1 = strchr(copy, '"');
    char *q2 = q1 ? strchr(q1 + 1, '"') : nullptr;
    if (q1 && q2 && display && display_size)
        snprintf(display, display_size, "%.*s", (int)(q2 - q1 - 1), q1 + 1);
    char *u = sip + 4;
    char *at = strchr(u, '@');
    if (at && user && user_size)
        snprintf(user, user_size, "%.*s", (int)(at - u), u);
}

int st_hexstring_to_bytearray(const char *hex, unsigned char *buf, size_t size)
{
    if (!hex || !buf)
        return 0;
    if (hex[0] == '0' && (hex[1] == 'x' || hex[1] == 'X'))
        hex += 2;
    char digits[64];
    snprintf(digits, sizeof digits, "%s%s", strlen(hex) % 2 ? "0" : "", hex);
    size_t n = 0;
    for (size_t i = 0; digits[i] && digits[i + 1] && n < size; i += 2) {
        char pair[3] = {digits[i], digits[i + 1], '\0'};
        buf[n++] = (unsigned char)strtol(pair, nullptr, 16);
    }
    return (int)n;
}

void st_date(char *buf, size_t size)
{
    if (!buf || size == 0)
        return;
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    localtime_r(&tv.tv_sec, &tm);
    snprintf(buf, size, "%02i/%02i/%02i-%02i:%02i:%02i:%06i", tm.tm_year - 100, tm.tm_mon + 1,
             tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, (int)tv.tv_usec);
}
