#include "strtools.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int file_exists(const char *path)
{
    if (!path)
        return 0;
    FILE *f = fopen(path, "r");
    if (!f)
        return 0;
    fclose(f);
    return 1;
}

// Creates one directory unless it can be opened already.
static int make_one(const std::string &dir, mode_t mode, uid_t owner, gid_t group)
{
    if (dir.empty())
        return 0;
    DIR *d = opendir(dir.c_str());
    if (d) {
        closedir(d);
        return 0;
    }
    if (mkdir(dir.c_str(), mode) != 0 && errno != EEXIST)
        return -1;
    // Mode and owner are set as asked; failing to set them does not fail the call.
    int r = chmod(dir.c_str(), mode);
    r |= chown(dir.c_str(), owner, group);
    (void)r;
    return 0;
}

int create_directory(const char *path, mode_t mode, uid_t owner, gid_t group)
{
    if (!path || !*path)
        return -1;
    std::string p(path);
    for (size_t i = 1; i < p.size(); i++)
        if (p[i] == '/' && make_one(p.substr(0, i), mode, owner, group) != 0)
            return -1;
    return make_one(p, mode, owner, group);
}

int st_append_to_file(const char *path, const char *text)
{
    if (!path || !text)
        return -1;
    FILE *f = fopen(path, "a");
    if (!f)
        return -1;
    int rc = fputs(text, f) < 0 ? -1 : 0;
    if (fclose(f) != 0)
        rc = -1;
    return rc;
}

char *st_read_file_to_buffer(const char *path, int initial_size)
{
    FILE *f = path ? fopen(path, "r") : nullptr;
    if (!f) {
        errno = EINVAL;
        return nullptr;
    }
    size_t cap = initial_size > 0 ? (size_t)initial_size : 512;
    size_t len = 0;
    char *buf = (char *)malloc(cap);
    while (buf) {
        if (len + 1 >= cap) {
            char *grown = (char *)realloc(buf, cap * 2);
            if (!grown) {
                free(buf);
                buf = nullptr;
                break;
            }
            buf = grown;
            cap *= 2;
        }
        size_t n = fread(buf + len, 1, cap - 1 - len, f);
        len += n;
        if (n == 0) {
            if (ferror(f)) {
                free(buf);
                buf = nullptr;
            }
            break;
        }
    }
    fclose(f);
    if (buf)
        buf[len] = '\0';
    return buf;
}
