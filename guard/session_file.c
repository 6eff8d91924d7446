#include "session_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* Reads until size bytes or end of file; -1 on a read error. */
static ssize_t read_full(int fd, char *buf, size_t size)
{
    size_t got = 0;

    while (got < size) {
        ssize_t n = read(fd, buf + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += (size_t)n;
    }
    return (ssize_t)got;
}

ssize_t read_session_file(const char *id, char *buf, size_t size)
{
    static const struct timespec retry_wait = {0, 100 * 1000 * 1000};
    char path[sizeof(SESSION_FILE_PREFIX) + 256];
    struct stat st;
    ssize_t n;
    int fd;

    if ((size_t)snprintf(path, sizeof(path), "%s%s", SESSION_FILE_PREFIX, id) >= sizeof(path))
        return -1;
    fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    n = read_full(fd, buf, size);
    if (n == 0) {
        nanosleep(&retry_wait, NULL);
        n = read_full(fd, buf, size);
    }
    close(fd);
    return n >= 1 ? n : -1;
}
