#include "session_cookie.h"

#include <string.h>

static const char session_cookie_name[] = "PHPSESSID=";

static int is_id_char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == ',' || c == '-';
}

int session_id_from_cookie(const char *cookie, char id[SESSION_ID_SIZE])
{
    const size_t name_len = sizeof(session_cookie_name) - 1;
    const char *p = cookie;
    size_t n;

    for (;;) {
        while (*p == ';' || *p == ' ' || *p == '\t')
            p++;
        if (*p == '\0')
            return -1;
        if (strncmp(p, session_cookie_name, name_len) == 0)
            break;
        p = strchr(p, ';');
        if (p == NULL)
            return -1;
    }
    p += name_len;
    for (n = 0; n < SESSION_ID_MAX && p[n] != '\0' && p[n] != ';'; n++)
        if (!is_id_char(p[n]))
            return -1;
    if (n == 0 || (p[n] != '\0' && p[n] != ';'))
        return -1;
    memcpy(id, p, n);
    id[n] = '\0';
    return 0;
}
