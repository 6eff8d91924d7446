#include "cdr_log.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "application.h"
#include "global_lock.h"
#include "log.h"

namespace {

// Guards creating and joining the thread; the thread itself never takes it.
pthread_mutex_t thread_guard = PTHREAD_MUTEX_INITIALIZER;
bool thread_exists = false;

int32_t pending()
{
    return __atomic_load_n(&gp->cdr_log_do_flush, __ATOMIC_SEQ_CST);
}

void post(int32_t request)
{
    __atomic_fetch_or(&gp->cdr_log_do_flush, request, __ATOMIC_SEQ_CST);
}

// Clears one request; 1 when it was pending.
bool take(int32_t request)
{
    return __atomic_fetch_and(&gp->cdr_log_do_flush, ~request, __ATOMIC_SEQ_CST) & request;
}

void post_creating_thread(int32_t request)
{
    pthread_mutex_lock(&thread_guard);
    post(request);
    if (!thread_exists) {
        LOGD(SIP, 2, nullptr, "creating cdrlog thread");
        if (pthread_create(&gp->cdrlog_thread, nullptr, run_cdr_log_flush_thread, nullptr) == 0)
            thread_exists = true;
        else
            LOGD(SIP, 0, nullptr, "CRITICAL: couldn't create the cdrlog thread");
    }
    pthread_mutex_unlock(&thread_guard);
}

// A file whose last byte is not a line end was cut inside a record (a
// crash, a full disk): the line end is added, so the next record starts a
// line of its own instead of joining the fragment.
void end_torn_line(int fd, const char *path)
{
    struct stat st;
    char last;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0 ||
        pread(fd, &last, 1, st.st_size - 1) != 1 || last == '\n')
        return;
    if (write(fd, "\n", 1) == 1)
        LOGD(SIP, 1, nullptr, "cdr file %s ended inside a line, line end added", path);
    else
        LOGD(SIP, 0, nullptr, "CRITICAL: couldn't end the torn last line of cdr file %s: %m", path);
}

// Opens path for appending: records of an earlier run are kept, and a link
// planted in the log directory is never followed.
FILE *open_cdr_file(const char *path)
{
    // Read access only to look at the last byte; a file that grants just
    // writing is still used.
    int fd = open(path, O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EACCES)
        fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        LOGD(SIP, 0, nullptr, "CRITICAL: couldn't open cdr file %s: %m", path);
        return nullptr;
    }
    end_torn_line(fd, path);
    FILE *f = fdopen(fd, "a");
    if (!f)
        close(fd);
    return f;
}

void rotate()
{
    char p[300], p1[300];
    snprintf(p, sizeof p, "%s/tarn.cdr", gp->cdr_log_path);
    snprintf(p1, sizeof p1, "%s/tarn.cdr.1", gp->cdr_log_path);
    lock_hold hold(&lock_manager::cdr_lock);
    // The open file is the one at p; a file left by an earlier run is
    // reached by name without following a link.
    int fd = gp->cdr_fp ? fileno(gp->cdr_fp)
                        : open(p, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        if (gp->cdr_fp)
            fflush(gp->cdr_fp);
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            fchmod(fd, 0666);
            if (fchown(fd, 1001, 1001) != 0)
                LOGD(SIP, 5, nullptr, "cdr file owner not set: %m");
        }
        if (!gp->cdr_fp)
            close(fd);
    }
    if (gp->cdr_fp) {
        if (rename(p, p1) != 0)
            LOGD(SIP, 0, nullptr, "CRITICAL: couldn't move %s to %s: %m", p, p1);
        FILE *next = gp->log_cdr ? open_cdr_file(p) : nullptr;
        fclose(gp->cdr_fp);
        gp->cdr_fp = next;
    }
    if (gp->log_cdr && !gp->cdr_fp)
        gp->cdr_fp = open_cdr_file(p);
}

void flush()
{
    lock_hold hold(&lock_manager::cdr_lock);
    if (!gp->cdr_fp)
        return;
    fflush(gp->cdr_fp);
    sync();
}

} // namespace

void cdr_log_start()
{
    gp->log_cdr = 1;
    bool open;
    {
        lock_hold hold(&lock_manager::cdr_lock);
        open = gp->cdr_fp != nullptr;
    }
    if (!open)
        post_creating_thread(CDR_LOG_ROTATE);
}

void cdr_log_stop()
{
    gp->log_cdr = 0;
    post_creating_thread(CDR_LOG_ROTATE);
}

void cdr_log_rotate()
{
    post_creating_thread(CDR_LOG_ROTATE);
}

void cdr_log_flush_file()
{
    post_creating_thread(CDR_LOG_FLUSH);
}

void *run_cdr_log_flush_thread(void *)
{
    prctl(PR_SET_NAME, "tarn.cdr", 0, 0, 0);
    for (;;) {
        if (take(CDR_LOG_ROTATE))
            rotate();
        if (take(CDR_LOG_FLUSH))
            flush();
        if (take(CDR_LOG_END))
            return nullptr;
        // Polled, so a request never waits on this thread; a pending one is
        // served without the pause.
        if (pending() == 0)
            usleep(200 * 1000);
    }
}

void cdr_log_end_thread()
{
    pthread_mutex_lock(&thread_guard);
    if (thread_exists) {
        for (int i = 0; i < 50 && pending() != 0; i++)
            usleep(100 * 1000);
        if (pending() == 0) {
            post(CDR_LOG_END);
            pthread_join(gp->cdrlog_thread, nullptr);
            thread_exists = false;
        } else {
            LOGD(SIP, 0, nullptr, "CRITICAL: cdrlog thread did not serve its requests, not joined");
        }
    }
    pthread_mutex_unlock(&thread_guard);
}

void cdr_log_close()
{
    gp->log_cdr = 0;
    cdr_log_end_thread();
    lock_hold hold(&lock_manager::cdr_lock);
    if (!gp->cdr_fp)
        return;
    if (fflush(gp->cdr_fp) != 0 || fsync(fileno(gp->cdr_fp)) != 0)
        LOGD(SIP, 0, nullptr, "CRITICAL: couldn't sync the cdr file: %m");
    fclose(gp->cdr_fp);
    gp->cdr_fp = nullptr;
}

int cdr_log_thread_exists()
{
    pthread_mutex_lock(&thread_guard);
    int e = thread_exists;
    pthread_mutex_unlock(&thread_guard);
    return e;
}
