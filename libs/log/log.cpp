#include "log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

// All of this is plain data without destructors: logging and _tarn_exit may
// run on any thread while exit() runs, and nothing here is torn down.
const char *const log_module_names[MODULECOUNT] = {
    "TARN", "ISDN", "MSP", "SIP", "GSM", "TIMER", "STATEMACHINE", "ANALOG", "CAS"};

unsigned char log_levels_debug_buf[128];
unsigned char log_levels_message_buf[128];
unsigned char *log_levels_debug = log_levels_debug_buf;
unsigned char *log_levels_message = log_levels_message_buf;

int32_t log_levels_debug_enabled = 1;
int32_t log_levels_message_enabled = 1;
int32_t log_levels_nmessage_enabled = 1;
int32_t log_cas_enabled = 0;

LogFuncDebug log_out_debug = nullptr;
LogFuncMessage log_out_message = nullptr;
LogFuncMessage log_out_nmessage = nullptr;
LogFuncMessage log_out_legacy = __log_out_legacy;
LogFuncCAS log_out_cas = nullptr;

static FILE *__log_file = nullptr;

static bool module_ok(int module)
{
    return module >= 0 && module < MODULECOUNT;
}

const char *log_basename(const char *path)
{
    if (!path)
        return "";
    const char *s = strrchr(path, '/');
    return s ? s + 1 : path;
}

void __log_out_legacy(int level, int module, const char *file, int line,
                      const char *format, va_list ap)
{
    static const char *const tags[] = {"TARN  ", "ISDN  ", "MSP   ", "SIP   ",
                                       "GSM   ", "TIMER ", "SMACH "};
    FILE *f = __log_file ? __log_file : stderr;
    const char *tag;
    if (module >= 0 && module < (int)(sizeof tags / sizeof tags[0])) {
        tag = tags[module];
    } else {
        fputs("logger: BAD MODULE NAME !!!", stdout);
        tag = "unknown module";
    }
    if (level < 0)
        level = 0;
    if (level > 9)
        level = 9;
    char *text = _strdup_vprintf(format, ap);
    time_t now = time(nullptr);
    char tbuf[64];
    if (!ctime_r(&now, tbuf))
        tbuf[0] = '\0';
    tbuf[strcspn(tbuf, "\n")] = '\0';
    fprintf(f, "%s %s %i %s:%d %s\n", tbuf, tag, level, log_basename(file), line,
            text ? text : "");
    fflush(f);
    free(text);
}

void log_msg_debug(int level, int module, const char *file, int line,
                   const char *function, const char *calltag, const char *format, ...)
{
    if (!log_levels_debug_enabled || !module_ok(module))
        return;
    if (log_levels_debug[module] < level)
        return;
    LogFuncDebug h = log_out_debug;
    if (!h)
        return;
    va_list ap;
    va_start(ap, format);
    h(level, module, file, line, function, calltag, format, ap);
    va_end(ap);
}

void log_msg_message(int level, int module, const char *file, int line,
                     const char *format, ...)
{
    if (!log_levels_message_enabled || !module_ok(module))
        return;
    if (log_levels_message[module] < (level & LOG_MSG_LEVEL_MASK))
        return;
    va_list ap;
    va_start(ap, format);
    if (level & LOG_MSG_TO_NMESSAGE) {
        if (log_out_nmessage)
            log_out_nmessage(level & LOG_MSG_LEVEL_MASK, module, file, line, format, ap);
    } else if (log_out_message) {
        log_out_message(level, module, file, line, format, ap);
    }
    va_end(ap);
}

void log_msg_nmessage(int level, int module, const char *file, int line,
                      const char *format, ...)
{
    if (!log_levels_nmessage_enabled || !log_out_nmessage)
        return;
    va_list ap;
    va_start(ap, format);
    log_out_nmessage(level & LOG_MSG_LEVEL_MASK, module, file, line, format, ap);
    va_end(ap);
}

void log_msg_legacy(int level, int module, const char *file, int line,
                    const char *format, ...)
{
    if (!log_levels_debug_enabled)
        return;
    // The default legacy handler also tags modules it does not know, so only
    // the level table index is guarded here.
    if (module_ok(module) && log_levels_debug[module] < level)
        return;
    LogFuncMessage h = log_out_legacy;
    if (!h)
        return;
    va_list ap;
    va_start(ap, format);
    h(level, module, file, line, format, ap);
    va_end(ap);
}

void log_msg_cas(int port, int msgtype, const char *format, ...)
{
    if (!log_cas_enabled || !log_out_cas)
        return;
    va_list ap;
    va_start(ap, format);
    log_out_cas(port, msgtype, format, ap);
    va_end(ap);
}

void log_set_log_handler_debug(LogFuncDebug f) { log_out_debug = f; }
void log_set_log_handler_message(LogFuncMessage f) { log_out_message = f; }
void log_set_log_handler_nmessage(LogFuncMessage f) { log_out_nmessage = f; }
void log_set_log_handler_legacy(LogFuncMessage f) { log_out_legacy = f; }
void log_set_log_handler_cas(LogFuncCAS f) { log_out_cas = f; }

int log_get_loglevel(const unsigned char *table, int module)
{
    if (!table || !module_ok(module))
        return -1;
    return table[module];
}

void log_set_loglevel_debug(unsigned char *table, int module, int level)
{
    if (!table || !module_ok(module))
        return;
    if (level < 0)
        level = 0;
    if (level > 9)
        level = 9;
    table[module] = (unsigned char)level;
}

void log_set_loglevel_message(int module, int level)
{
    log_set_loglevel_debug(log_levels_message, module, level);
}

void log_set_logfile(FILE *f) { __log_file = f; }
FILE *get_log_file() { return __log_file; }

char *_strdup_vprintf(const char *format, va_list ap)
{
    size_t size = 2000;
    char *buf = (char *)malloc(size);
    if (!buf)
        return nullptr;
    for (;;) {
        // Each attempt formats from its own copy: a va_list is spent once read.
        va_list aq;
        va_copy(aq, ap);
        int n = vsnprintf(buf, size, format, aq);
        va_end(aq);
        size_t want;
        if (n < 0)
            want = size * 2;
        else if ((size_t)n < size)
            return buf;
        else
            want = (size_t)n + 1;
        char *nb = (char *)realloc(buf, want);
        if (!nb) {
            free(buf);
            return nullptr;
        }
        buf = nb;
        size = want;
    }
}

static std::atomic<tarn_exit_stop_fn> exit_stop{nullptr};
static std::atomic<bool> exiting{false};
// Held by the first thread in _tarn_exit until the process has ended: a
// second one waits here instead of running exit() beside it.
static pthread_mutex_t exit_lock = PTHREAD_MUTEX_INITIALIZER;

// How long a stop during _tarn_exit waits for one thread.
static const int EXIT_JOIN_MS = 2000;

void tarn_set_exit_stop(tarn_exit_stop_fn stop)
{
    exit_stop = stop;
}

bool tarn_exiting(void)
{
    return exiting.load();
}

int tarn_join_thread(pthread_t thread, const char *what)
{
    if (pthread_equal(pthread_self(), thread)) {
        // Its resources go when it ends; the process's first thread is left
        // as it is (it ends with the process).
        if (syscall(SYS_gettid) != getpid())
            pthread_detach(thread);
        return 0;
    }
    if (!exiting.load())
        return pthread_join(thread, nullptr) == 0 ? 0 : -1;
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += EXIT_JOIN_MS / 1000;
    until.tv_nsec += (long)(EXIT_JOIN_MS % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec++;
        until.tv_nsec -= 1000000000L;
    }
    int rc;
    while ((rc = pthread_timedjoin_np(thread, nullptr, &until)) == EINTR) {
    }
    if (rc == 0)
        return 0;
    log_msg_debug(0, TARN, __FILE__, __LINE__, __func__, nullptr,
                  "CRITICAL: thread %s did not stop within %i ms", what ? what : "?", EXIT_JOIN_MS);
    return -1;
}

void _tarn_exit(int code, const char *file, int line, const char *format, ...)
{
    char reason[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(reason, 1023, format, ap); // at most 1022 characters
    va_end(ap);
    const char *base = log_basename(file);
    fprintf(stderr, "TARN EXITCODE %i: %s [%s:%i]\n", code, reason, base, line);
    log_msg_debug(0, TARN, file, line, "_tarn_exit", nullptr,
                  "TARN EXITCODE %i: %s [%s:%i]", code, reason, base, line);
    exiting = true;
    pthread_mutex_lock(&exit_lock);
    if (tarn_exit_stop_fn stop = exit_stop.exchange(nullptr))
        stop();
    exit(code);
}
