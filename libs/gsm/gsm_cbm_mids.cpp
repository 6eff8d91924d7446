// The cell-broadcast message-id list: stored text and its normalised form.
#include "gsm_cbm.h"

#include <cstdio>
#include <cstring>
#include <mutex>

char global_gsm_cbm_mids[256];
int global_gsm_cbm_needs_rearm[8];
static std::mutex mids_lock;

void gsm_cbm_set_mids(const char *text)
{
    std::lock_guard<std::mutex> g(mids_lock);
    snprintf(global_gsm_cbm_mids, sizeof global_gsm_cbm_mids, "%s", text ? text : "");
}

void gsm_cbm_normalised_mids(char *out, int size)
{
    if (!out || size < 1)
        return;
    char src[256];
    {
        std::lock_guard<std::mutex> g(mids_lock);
        snprintf(src, sizeof src, "%s", global_gsm_cbm_mids);
    }
    char buf[256];
    int n = 0;
    bool sep = false;
    for (const char *p = src; *p && n < 255; p++) {
        char c = *p;
        if ((c >= '0' && c <= '9') || c == '-') {
            if (sep && n > 0 && n < 254)
                buf[n++] = ',';
            sep = false;
            buf[n++] = c;
        } else if (c == ';' || c == ',' || c == ' ' || c == '+' || c == '\t') {
            sep = true;
        }
    }
    buf[n] = '\0';
    while (n > 0 && buf[n - 1] == ',')
        buf[--n] = '\0';
    snprintf(out, (size_t)size, "%s", n ? buf : "0-65535");
}
