#include "transcoding_pool.h"

#include <mutex>
#include <vector>

#include "application.h"
#include "experimental_options.h"
#include "log.h"
#include "tdm_settings.h"

// A row of the TDM map above this port is a transcoding timeslot.
enum { TC_PORT_LIMIT = 9999 };

static std::mutex tc_guard;
static int *tc_ts_array;
static int tc_ts_array_size;
static int tc_offset;

// A copy of the pool, taken under the guard, for the listings.
struct tc_snapshot {
    std::vector<int> entries;
    int offset;
};

static tc_snapshot snapshot()
{
    std::lock_guard<std::mutex> g(tc_guard);
    return {std::vector<int>(tc_ts_array, tc_ts_array + tc_ts_array_size), tc_offset};
}

static bool extra_debugging()
{
    return gp && gp->experimental_options && gp->experimental_options->eo_extra_debugging;
}

void init_transcoding_timeslots_array()
{
    const tdm_settings &t = gp->tdm_map;
    int size = 0;
    for (int i = 0; i < t.timeslot_size; i++)
        size += t.timeslots[i].port > TC_PORT_LIMIT;

    int *entries = size ? new int[size] : nullptr;
    int n = 0;
    for (int i = 0; i < t.timeslot_size; i++)
        if (t.timeslots[i].port > TC_PORT_LIMIT)
            entries[n++] = (int16_t)t.timeslots[i].logical_timeslot;
    int offset = size ? entries[0] : 0;

    {
        std::lock_guard<std::mutex> g(tc_guard);
        delete[] tc_ts_array;
        tc_ts_array = entries;
        tc_ts_array_size = size;
        tc_offset = offset;
    }
    // A release finds its entry by tc_offset + index.
    for (int i = 0; i < size; i++)
        if (entries[i] != offset + i) {
            LOGD(MSP, 0, nullptr,
                 "CRITICAL: transcoding timeslots are not consecutive: entry %i holds timeslot %i, not %i", i,
                 entries[i], offset + i);
            break;
        }
    transcoding_list_timeslots(__func__, __LINE__);
}

int transcoding_get_free_timeslot()
{
    std::lock_guard<std::mutex> g(tc_guard);
    for (int i = 0; i < tc_ts_array_size; i++)
        if (tc_ts_array[i] != -1) {
            int ts = tc_ts_array[i];
            tc_ts_array[i] = -1;
            return ts;
        }
    return -1;
}

int transcoding_release_timeslot(int timeslot)
{
    std::lock_guard<std::mutex> g(tc_guard);
    if (timeslot >= tc_offset && timeslot < tc_offset + tc_ts_array_size)
        tc_ts_array[timeslot - tc_offset] = timeslot;
    return 0;
}

int _transcoding_list_timeslots(const char *function, int line)
{
    tc_snapshot s = snapshot();
    int size = (int)s.entries.size();
    bool any = false;
    for (int i = 0; i < size; i++) {
        if (s.entries[i] != -1)
            continue;
        if (!any)
            LOGD(MSP, 5, nullptr, "TCL (from %s:%i): SIZE %i", function, line, size);
        any = true;
        LOGD(MSP, 5, nullptr, "idx %i : ts %i (%i)", i, s.entries[i], s.offset + i);
    }
    if (!any)
        LOGD(MSP, 5, nullptr, "TCL (from %s:%i): SIZE %i / none in use", function, line, size);
    return 0;
}

int transcoding_list_timeslots(const char *function, int line)
{
    return extra_debugging() ? _transcoding_list_timeslots(function, line) : 0;
}

int _transcoding_list_timeslots_fprintf(FILE *out)
{
    tc_snapshot s = snapshot();
    int size = (int)s.entries.size();
    fprintf(out, "TCL : SIZE %i\n", size);
    for (int i = 0; i < size; i++)
        fprintf(out, "idx %i : ts %i (%i)\n", i, s.entries[i], s.offset + i);
    return 0;
}

int transcoding_list_timeslots_fprintf(FILE *out)
{
    return extra_debugging() ? _transcoding_list_timeslots_fprintf(out) : 0;
}
