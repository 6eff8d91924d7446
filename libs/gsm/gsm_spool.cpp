// Spool files: claiming names by hard links, fail-out directories, ownership.
#include "gsm_log.h"
#include "gsm_sms.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

void gsm_spool_own(const char *path, int mode)
{
    chmod(path, (mode_t)mode);
    if (chown(path, 1001, 1001) < 0) {
        // Only root may hand files over; the file itself is fine.
    }
}

int libgsm_spool_claim(const char *tmp, const char *spool, const char *ext, char *out, int size)
{
    char name[4096];
    for (int i = 0; i < 1000; i++) {
        snprintf(name, sizeof name, "%s/%.3d.%s", spool, i, ext);
        if (link(tmp, name) == 0) {
            unlink(tmp);
            if (out && size > 0)
                snprintf(out, (size_t)size, "%s", name);
            return 1;
        }
        if (errno != EEXIST) {
            GLOG(0, 0, "GSM: cannot file %s as %s: %s", tmp, name, strerror(errno));
            return 0;
        }
    }
    GLOG(0, 0, "GSM: spool %s holds 1000 *.%s files, dropping the message", spool, ext);
    return 0;
}

int create_failout_dir(const char *parent, const char *name, char *out, int size)
{
    char base[256];
    if (name && *name) {
        snprintf(base, sizeof base, "%s", name);
    } else {
        time_t now = time(nullptr);
        struct tm tm;
        localtime_r(&now, &tm);
        snprintf(base, sizeof base, "%04i%02i%02i%02i%02i%02i", tm.tm_year + 1900, tm.tm_mon + 1,
                 tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    }
    char path[4096];
    for (int i = -1; i < 99; i++) {
        if (i < 0)
            snprintf(path, sizeof path, "%s/%s", parent, base);
        else
            snprintf(path, sizeof path, "%s/%s.%03i", parent, base, i);
        if (mkdir(path, 0770) == 0) {
            gsm_spool_own(path, 0770);
            snprintf(out, (size_t)size, "%s", path);
            return 0;
        }
        if (errno != EEXIST)
            break;
    }
    return -1;
}

int gsm_spool_write_tmp(const char *dir, unsigned port, const std::string &body, char *tmp, size_t size)
{
    snprintf(tmp, size, "%s/.in.%u.%d.tmp", dir, port, (int)getpid());
    int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0660);
    if (fd < 0) {
        GLOG(0, (int)port, "could not open file %s for writing", tmp);
        return -13;
    }
    bool ok = write(fd, body.data(), body.size()) == (ssize_t)body.size();
    close(fd);
    gsm_spool_own(tmp, 0660);
    if (!ok) {
        unlink(tmp);
        return -5;
    }
    return 0;
}

bool gsm_read_small_file(const char *path, std::string &out, size_t limit)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return false;
    char buf[4096];
    size_t n;
    while (out.size() < limit && (n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    if (out.size() > limit)
        out.resize(limit);
    return true;
}

int gsm_report_append(const char *path, const char *line)
{
    FILE *f = fopen(path, "a");
    if (!f)
        return -1;
    fputs(line, f);
    fclose(f);
    gsm_spool_own(path, 0666);
    return 0;
}
