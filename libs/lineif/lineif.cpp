#include "lineif.h"

#include "platform_path.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int lineif_open(const char *path, int flags)
{
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    std::string p = platform_path(path);
    return open(p.c_str(), flags | O_NOCTTY | O_CLOEXEC);
}

int lineif_read_text(const char *path, char *buf, size_t size)
{
    if (!buf || size == 0) {
        errno = EINVAL;
        return -1;
    }
    buf[0] = '\0';
    int fd = lineif_open(path, O_RDONLY);
    if (fd < 0)
        return -1;
    size_t got = 0;
    while (got + 1 < size) {
        ssize_t n = read(fd, buf + got, size - 1 - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int e = errno;
            close(fd);
            buf[0] = '\0';
            errno = e;
            return -1;
        }
        if (n == 0)
            break;
        got += (size_t)n;
    }
    buf[got] = '\0';
    close(fd);
    return (int)got;
}

int lineif_read_int(const char *path, int *value)
{
    char buf[32];
    if (!value) {
        errno = EINVAL;
        return -1;
    }
    if (lineif_read_text(path, buf, sizeof buf) < 0)
        return -1;
    char *end = nullptr;
    errno = 0;
    long v = strtol(buf, &end, 10);
    if (end == buf || errno) {
        errno = ENODATA;
        return -1;
    }
    *value = (int)v;
    return 0;
}

int lineif_write_text(const char *path, const char *text)
{
    if (!text) {
        errno = EINVAL;
        return -1;
    }
    // O_TRUNC: sysfs ignores it, a plain file standing in for one needs it.
    int fd = lineif_open(path, O_WRONLY | O_TRUNC);
    if (fd < 0) {
        errno = EACCES;
        return -1;
    }
    size_t len = 0;
    while (text[len])
        len++;
    ssize_t n;
    do {
        n = write(fd, text, len);
    } while (n < 0 && errno == EINTR);
    close(fd);
    if (n <= 0 && len > 0) {
        errno = EBUSY;
        return -1;
    }
    return (int)n;
}

int lineif_module_text(int li, char *buf, size_t size)
{
    char path[64];
    if (li < 0 || li > 2 || !buf || size == 0) {
        errno = EINVAL;
        return -1;
    }
    snprintf(path, sizeof path, "/sys/class/quilmar/li%d/module", li);
    return lineif_read_text(path, buf, size < 33 ? size : 33);
}

bool lineif_exists(const char *path)
{
    struct stat st;
    std::string p = platform_path(path);
    return stat(p.c_str(), &st) == 0;
}
