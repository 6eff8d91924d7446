/* Arbitrary bytes as a session file image and as a Cookie header. The
 * readers must stay inside the bytes and keep their promises. */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "session_cookie.h"
#include "session_image.h"

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *image = (const char *)data;
    const char *end = image + size;
    const char *q;
    char id[SESSION_ID_SIZE];
    char *cookie;
    int64_t t;
    size_t i;

    if (session_image_time(image, size, &t) == 0 &&
        memmem(image, size, SESSION_TIME_NAME "|i:", sizeof(SESSION_TIME_NAME) + 2) == NULL)
        abort();

    q = skip_serialized_value(image, end, 0);
    if (q != NULL && (q < image + 2 || q > end))
        abort();

    cookie = malloc(size + 1);
    if (cookie == NULL)
        return 0;
    memcpy(cookie, data, size);
    cookie[size] = '\0';
    if (session_id_from_cookie(cookie, id) == 0) {
        size_t n = strlen(id);
        if (n < 1 || n > SESSION_ID_MAX || strstr(cookie, id) == NULL)
            abort();
        for (i = 0; i < n; i++)
            if (strchr("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789,-", id[i]) == NULL)
                abort();
    }
    free(cookie);
    return 0;
}
