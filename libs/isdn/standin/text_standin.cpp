#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base64.h"
#include "strtools.h"

int plaintext_to_base64(const char *in, int length, char *out, size_t size)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (!out || size == 0)
        return 0;
    size_t n = 0;
    const unsigned char *p = (const unsigned char *)in;
    for (int i = 0; in && i < length; i += 3) {
        unsigned v = (unsigned)p[i] << 16;
        int k = length - i;
        if (k > 1)
            v |= (unsigned)p[i + 1] << 8;
        if (k > 2)
            v |= p[i + 2];
        char q[4] = {alphabet[(v >> 18) & 63], alphabet[(v >> 12) & 63],
                     k > 1 ? alphabet[(v >> 6) & 63] : '=', k > 2 ? alphabet[v & 63] : '='};
        for (int j = 0; j < 4 && n + 1 < size; j++)
            out[n++] = q[j];
    }
    out[n] = 0;
    return (int)n;
}

int st_safe_strcat(char *buf, size_t size, const char *format, ...)
{
    if (!buf || size == 0)
        return 0;
    size_t used = strnlen(buf, size);
    if (used >= size - 1) {
        buf[size - 1] = 0;
        return 0;
    }
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf + used, size - used, format, ap);
    va_end(ap);
    return 0;
}
