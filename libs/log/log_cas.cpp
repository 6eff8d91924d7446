// CAS signalling trace "<cas_log_path>/tarn_cas.log" with one old generation.
#include <pthread.h>

#include <cstdlib>
#include <string>

#include "log.h"
#include "log_backend.h"

void tarn_log_out_cas(int port, int msgtype, const char *format, va_list ap)
{
    static const char *const tags[] = {"BSND", "BRCV", "TSND", "TRCV", "INFO"};
    log_backend_state *b = log_backend();
    pthread_mutex_t *m = log_cas_lock();
    pthread_mutex_lock(m);

    std::string path = std::string(b->cas_log_path) + "/tarn_cas.log";
    if (b->cas_fp && ftell(b->cas_fp) > b->cas_log_filesize_limit) {
        fclose(b->cas_fp);
        rename(path.c_str(), (path + ".1").c_str());
        b->cas_fp = fopen(path.c_str(), "w");
    } else if (!b->cas_fp) {
        b->cas_fp = fopen(path.c_str(), "a");
    }
    char *text = b->cas_fp ? _strdup_vprintf(format, ap) : nullptr;
    if (!text) {
        pthread_mutex_unlock(m);
        return;
    }
    char ts[32];
    format_current_time(ts, sizeof ts);
    if (msgtype >= 0 && msgtype < (int)(sizeof tags / sizeof tags[0]))
        fprintf(b->cas_fp, "%s\t%03i\t%s\t%s", ts, port, tags[msgtype], text);
    fflush(b->cas_fp);
    free(text);
    pthread_mutex_unlock(m);
}
