// The debug, legacy, message and nmessage handlers: one formatted line each,
// to the debug stream and log file under fp_lock, then to the UDP targets.
#include <pthread.h>

#include <cstring>

#include "log.h"
#include "log_backend.h"
#include "log_private.h"

namespace {

const size_t TEXT_SIZE = 2048; // message text, at most 2047 characters
const size_t LINE_SIZE = 4096; // whole line, at most 4095 characters
const size_t POS_SIZE = 256;   // "file (line)", at most 255 characters

int priority()
{
    return log_backend()->syslog_facility * 8 + 7;
}

// snprintf into a line buffer; a line cut at the limit still ends in '\n'.
size_t finish_line(char *line, int n)
{
    if (n < 0) {
        line[0] = '\0';
        return 0;
    }
    if ((size_t)n >= LINE_SIZE) {
        line[LINE_SIZE - 2] = '\n';
        line[LINE_SIZE - 1] = '\0';
        return LINE_SIZE - 1;
    }
    return (size_t)n;
}

void to_stream_and_file(const char *line, size_t len)
{
    log_backend_state *b = log_backend();
    pthread_mutex_t *m = log_fp_lock();
    pthread_mutex_lock(m);
    if (b->debug_fp) {
        fwrite(line, 1, len, b->debug_fp);
        fflush(b->debug_fp);
    }
    log_rotation_write(log_debug_rotation(), line, len);
    pthread_mutex_unlock(m);
}

void debug_line(int level, const char *module_name, const char *file, int line_no,
                const char *function, const char *calltag, const char *text)
{
    char ts[32], pos[POS_SIZE], line[LINE_SIZE];
    format_current_time(ts, sizeof ts);
    snprintf(pos, sizeof pos, "%s (%d)", log_basename(file), line_no);
    int n = snprintf(line, sizeof line,
                     "<%i>%s|LV%i %-8s %-20s : %s: %-30s: %s\n", priority(), ts, level,
                     module_name, pos, calltag ? calltag : "CID:000000:00",
                     function ? function : "", text);
    size_t len = finish_line(line, n);
    to_stream_and_file(line, len);
    log_send_netlog(line, len);
    if (log_backend()->local_log_active.load())
        log_send_locallog(line, len);
}

} // namespace

const char *log_line_module_name(int module)
{
    if (module < 0 || module >= MODULECOUNT)
        fputs("logger: BAD MODULE NAME !!!\n", stderr);
    return tarn_log_get_module_name(module);
}

void tarn_log_out_debug(int level, int module, const char *file, int line, const char *function,
                        const char *calltag, const char *format, va_list ap)
{
    char text[TEXT_SIZE];
    vsnprintf(text, sizeof text, format, ap);
    debug_line(level, log_line_module_name(module), file, line, function, calltag, text);
}

void tarn_log_out_debug_sip_debug(int level, int, const char *file, int line,
                                  const char *function, const char *calltag, const char *format,
                                  va_list ap)
{
    char text[TEXT_SIZE];
    vsnprintf(text, sizeof text, format, ap);
    size_t n = strlen(text);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n'))
        text[--n] = '\0';
    debug_line(level, tarn_log_get_module_name(SIP), file, line, function, calltag, text);
}

void tarn_log_out_legacy(int level, int module, const char *file, int line_no, const char *format,
                         va_list ap)
{
    char text[TEXT_SIZE], ts[32], pos[POS_SIZE], line[LINE_SIZE];
    vsnprintf(text, sizeof text, format, ap);
    format_current_time(ts, sizeof ts);
    snprintf(pos, sizeof pos, "%s (%d)", log_basename(file), line_no);
    int n = snprintf(line, sizeof line, "<%i>%s|LV%i %-8s %-20s : %s\n", priority(), ts, level,
                     log_line_module_name(module), pos, text);
    size_t len = finish_line(line, n);
    to_stream_and_file(line, len);
    log_send_netlog(line, len);
    if (log_backend()->local_log_active.load())
        log_send_locallog(line, len);
}

void tarn_log_out_message(int level, int module, const char *, int, const char *format,
                          va_list ap)
{
    char text[TEXT_SIZE], line[LINE_SIZE];
    vsnprintf(text, sizeof text, format, ap);
    int n;
    if (level & LOG_MSG_NOTICE)
        n = snprintf(line, sizeof line, "<%i> MSG_%i_%-8s : %s\n", priority(),
                     level & ~LOG_MSG_NOTICE, log_line_module_name(module), text);
    else
        n = snprintf(line, sizeof line, "<%i> ERR_%i_%-8s : %s\n", priority(),
                     level & ~LOG_MSG_ERROR, log_line_module_name(module), text);
    size_t len = finish_line(line, n);
    to_stream_and_file(line, len);
    log_send_netlog(line, len);
    log_send_locallog(line, len);
}

void tarn_log_out_nmessage(int level, int module, const char *, int, const char *format,
                           va_list ap)
{
    char text[TEXT_SIZE], ts[32], line[LINE_SIZE];
    vsnprintf(text, sizeof text, format, ap);
    size_t tl = strlen(text);
    while (tl > 0 && text[tl - 1] == '\n')
        text[--tl] = '\0';
    format_current_time(ts, sizeof ts);
    int n = snprintf(line, sizeof line, "%s|LV%i-%-8s: %s\n", ts, level,
                     log_line_module_name(module), text);
    size_t len = finish_line(line, n);
    pthread_mutex_t *m = log_fp_lock();
    pthread_mutex_lock(m);
    log_rotation_write(log_nmessage_rotation(), line, len);
    pthread_mutex_unlock(m);
}
