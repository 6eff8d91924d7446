#include <sys/time.h>

#include <cstring>
#include <ctime>

#include "global_lock.h"
#include "log.h"
#include "log_backend.h"
#include "platform_path.h"

log_backend_state *log_backend()
{
    // Allocated once and never freed: other threads may still log while
    // exit() runs the destructors of static objects.
    static log_backend_state *s = [] {
        log_backend_state *b = new log_backend_state();
        b->syslog_facility = 16;
        b->logsizelimit = 1000000;
        b->nlogsizelimit = 500000;
        snprintf(b->locallogport, sizeof b->locallogport, "%s", "54323");
        platform_path_buf("/tmp/", b->cas_log_path, sizeof b->cas_log_path);
        b->cas_log_filesize_limit = 100000;
        b->sofia_log_max_filesize = 50000;
        platform_path_buf("/var/log/sofia.log", b->sofia_log_path, sizeof b->sofia_log_path);
        platform_path_buf("/var/log/dialplan_debug.log", b->vlogfilepath, sizeof b->vlogfilepath);
        b->vlogfilemaxsize = 100000;
        pthread_rwlock_init(&b->udp_lock, nullptr);
        return b;
    }();
    return s;
}

// Used only until start-up has created the lock manager.
static pthread_mutex_t early_fp_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_mutex_t early_cas_lock = PTHREAD_MUTEX_INITIALIZER;

pthread_mutex_t *log_fp_lock()
{
    lock_manager *lm = g_lock_manager;
    return lm ? lm->fp_lock : &early_fp_lock;
}

pthread_mutex_t *log_cas_lock()
{
    lock_manager *lm = g_lock_manager;
    return lm ? lm->cas_lock : &early_cas_lock;
}

// Names as written into lines, in module order.
static const char *const line_module_names[MODULECOUNT] = {
    "TARN   ", "ISDN   ", "MSP", "SIP    ", "GSM   ", "TIMER  ", "SMACH ", "ANALOG ", "CAS "};

const char *tarn_log_get_module_name(int module)
{
    if (module < 0 || module >= MODULECOUNT)
        return "unknown module";
    return line_module_names[module];
}

void format_current_time(char *buf, size_t size)
{
    if (!buf || size == 0)
        return;
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    time_t secs = tv.tv_sec;
    localtime_r(&secs, &tm);
    snprintf(buf, size, "%02i/%02i/%02i-%02i:%02i:%02i:%06i", tm.tm_year + 1900 - 2000,
             tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, (int)tv.tv_usec);
}

const char *get_text_for_loglevel(int level)
{
    return level >= 0 && level <= 2 ? "CRITICAL: " : "";
}
