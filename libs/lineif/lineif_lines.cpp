#include "lineif_lines.h"

#include <cstring>

int lineif_each_line(char *text, lineif_line_fn fn, void *ctx)
{
    if (!text || !fn)
        return 0;
    int calls = 0;
    char *p = text;
    while (*p) {
        size_t len = strcspn(p, "\r\n");
        bool last = p[len] == '\0';
        p[len] = '\0';
        if (len > 0) {
            fn(p, ctx);
            calls++;
        }
        if (last)
            break;
        p += len + 1;
    }
    if (calls == 0) {
        fn("", ctx);
        calls = 1;
    }
    return calls;
}
