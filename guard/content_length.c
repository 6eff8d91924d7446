#include "content_length.h"

#include <stddef.h>

int32_t parse_content_length(const char *text)
{
    int32_t v = 0;
    const char *p = text;

    if (p == NULL || *p == '\0')
        return -1;
    for (; *p != '\0'; p++) {
        int32_t d;
        if (*p < '0' || *p > '9')
            return -1;
        d = *p - '0';
        if (v > (INT32_MAX - d) / 10)
            return -1;
        v = v * 10 + d;
    }
    return v;
}
