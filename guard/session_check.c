#include "session_check.h"

#include "session_cookie.h"
#include "session_file.h"
#include "session_image.h"

#include <time.h>

int session_time_is_live(int64_t t, int64_t now)
{
    /* Written so that no sum or difference can overflow. */
    if (t <= 0 || now < 0)
        return 0;
    if (t - SESSION_CLOCK_SLACK > now)
        return 0;
    return now - t <= SESSION_IDLE_LIMIT;
}

int check_session(const char *cookie)
{
    char id[SESSION_ID_SIZE];
    char image[SESSION_IMAGE_SIZE];
    ssize_t len;
    int64_t t;

    if (cookie == NULL || session_id_from_cookie(cookie, id) != 0)
        return -1;
    len = read_session_file(id, image, sizeof(image));
    if (len < 1)
        return -1;
    if (session_image_time(image, (size_t)len, &t) != 0)
        return -1;
    /* The clock is read after the file, which may have taken a retry. */
    return session_time_is_live(t, (int64_t)time(NULL)) ? 0 : -1;
}
