// Verbose call-progress summaries and SNMP notification texts.
#include <pthread.h>

#include <cstring>

#include "log.h"
#include "log_backend.h"

static const int SHORT_TEXT = 1023; // at most 1022 characters

// Writes and flushes a text on a stream under fp_lock; nothing without stream.
static void to_stream(FILE *log_backend_state::*stream, const char *text)
{
    log_backend_state *b = log_backend();
    pthread_mutex_t *m = log_fp_lock();
    pthread_mutex_lock(m);
    if (FILE *f = b->*stream) {
        fputs(text, f);
        fflush(f);
    }
    pthread_mutex_unlock(m);
}

void _verbose_msg(const char *file, int line, const char *function, const char *format, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, SHORT_TEXT, format, ap);
    va_end(ap);

    log_backend_state *b = log_backend();
    pthread_mutex_t *m = log_fp_lock();
    pthread_mutex_lock(m);
    if (b->verbose_outfile_logging.load()) {
        if (!b->verbose_outfile_fp)
            b->verbose_outfile_fp = fopen(b->vlogfilepath, "w");
        // Once the file has reached its size it takes no more text.
        if (b->verbose_outfile_fp && ftell(b->verbose_outfile_fp) < b->vlogfilemaxsize) {
            fputs(text, b->verbose_outfile_fp);
            fflush(b->verbose_outfile_fp);
        }
    }
    pthread_mutex_unlock(m);
    to_stream(&log_backend_state::verbose_fp, text);

    size_t n = strlen(text);
    if (n > 0 && text[n - 1] == '\n')
        text[n - 1] = '\0';
    log_msg_debug(1, TARN, file, line, function, "CID:000000:00", "VERBOSEMSG: %s", text);
}

void _tarn_snmp_msg(const char *format, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, SHORT_TEXT, format, ap);
    va_end(ap);
    to_stream(&log_backend_state::snmp_notify_fp, text);
}
