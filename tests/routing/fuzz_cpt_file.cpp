// Arbitrary text through the call-progress file reader, then through the
// searches and the listing over whatever tables it built.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "call_progress.h"

namespace {
FILE *sink;
char close_fd_flag[] = "-close_fd_mask=3";
} // namespace

// The reader reports every bad row on the standard streams: the fuzzer
// closes them (its own output and sanitizer reports go elsewhere).
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static char **args = (char **)calloc((size_t)*argc + 2, sizeof(char *));
    memcpy(args, *argv, (size_t)*argc * sizeof(char *));
    args[*argc] = close_fd_flag;
    *argv = args;
    ++*argc;
    application_create();
    init_locks();
    cpt_init_default_tables();
    sink = fopen("/dev/null", "w");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = fmemopen(size ? (void *)data : (void *)"", size ? size : 1, "r");
    if (!f)
        return 0;
    cpt_parse_call_progress_stream(f);
    fclose(f);

    int32_t ring[CPT_HISTORY_RING];
    for (int i = 0; i < CPT_HISTORY_RING; i++)
        ring[i] = i < (int)size ? data[i] % 8 : 0;
    char reason[32];
    cpt_events answer;
    for (int t = 0; t < gp->sip_to_isdn_call_progress_tables_size; t++)
        for (int nt = 0; nt < 2; nt++)
            cpt_search_s2i(&gp->sip_to_isdn_call_progress_tables[t], nt, (int)(size % 6), ring,
                           (int)(size % 20), reason, sizeof reason, &answer);
    for (int t = 0; t < gp->isdn_to_sip_call_progress_tables_size; t++)
        cpt_search_i2s(&gp->isdn_to_sip_call_progress_tables[t], (int)(size & 1), 1, (int)(size & 2),
                       size & 4 ? 183 : 180, size ? (const char *)"Progress" : nullptr, &answer);
    for (int t = 0; t < gp->sip_to_fxo_call_progress_tables_size; t++)
        cpt_search_s2fxo(&gp->sip_to_fxo_call_progress_tables[t], 25 + (int)(size % 9), reason, sizeof reason,
                         &answer);
    cpt_list_tables(sink);
    return 0;
}
