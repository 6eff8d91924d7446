#include "dchannel_trace.h"

#include <sys/time.h>
#include <ctime>

int dchannel_trace_open(dchannel_trace *t, const char *path, bool nt)
{
    t->nt = nt;
    t->f = fopen(path, "a");
    return t->f ? 0 : -1;
}

void dchannel_trace_close(dchannel_trace *t)
{
    if (t->f)
        fclose(t->f);
    t->f = nullptr;
}

void dchannel_trace_frame(dchannel_trace *t, bool outgoing, const uint8_t *frame, int len)
{
    if (!t->f || len <= 0)
        return;
    // sent by the user side: "O"; by the network side: "I"
    bool from_user = outgoing != t->nt;
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tmv;
    localtime_r(&tv.tv_sec, &tmv);
    fprintf(t->f, "%c %02d:%02d:%02d.%06ld\n", from_user ? 'O' : 'I', tmv.tm_hour, tmv.tm_min,
            tmv.tm_sec, (long)tv.tv_usec);
    for (int i = 0; i < len; i += 16) {
        fprintf(t->f, "%06x", i);
        for (int j = i; j < len && j < i + 16; j++)
            fprintf(t->f, " %02x", frame[j]);
        fputc('\n', t->f);
    }
    fputc('\n', t->f);
    fflush(t->f);
}
