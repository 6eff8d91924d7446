// Console listings of the TDM timeslot map ("ltdm"), the question for a
// media processor timeslot ("s") and the call-progress tables ("lcpt").
#include "mc_tdm.h"

#include "application.h"
#include "call_progress.h"
#include "tdm_settings.h"

// The owner of a map entry as the listing names it.
static void owner_text(const timeslot_def &d, char *buf, size_t size)
{
    int p = d.port;
    if (p >= 1 && p <= 99)
        snprintf(buf, size, "ISDN_%i:%i ", p, d.channel);
    else if (p == TDM_PCM_BRIDGING_PORT)
        snprintf(buf, size, "PCMBRIDGE");
    else if (p >= 101 && p <= 199)
        snprintf(buf, size, "ANALOG_%i ", p - 100);
    else if (p >= 201 && p <= 299)
        snprintf(buf, size, "GSM_%i    ", p - 200);
    else if (p >= 1001 && p <= 1999)
        snprintf(buf, size, "CAS_%i:%i ", p - 1000, d.channel);
    else if (p >= 10001 && p <= 19999)
        snprintf(buf, size, "TRANSCODING_%i:%i ", p - 10000, d.channel);
    else
        snprintf(buf, size, "UNKNOWN_%i    ", p);
}

void mc_list_tdm_map(const tdm_settings *t, const char *prefix, FILE *out)
{
    if (!t || !out)
        return;
    int n = 0;
    for (int b = 0; b < TDM_BUSES; b++)
        if (t->bus_configure_count[b] != 0)
            n += t->bus_configure_count[b] - 1;
    // The counts come from the bus settings: never past the map itself.
    if (n > TDM_TIMESLOT_ROOM)
        n = TDM_TIMESLOT_ROOM;
    for (int i = 0; i < n; i++) {
        const timeslot_def &d = t->timeslots[i];
        char owner[48];
        owner_text(d, owner, sizeof owner);
        fprintf(out, "%sBUS %i: %s | a_ts %03i | l_ts %03i\n", prefix ? prefix : "", d.bus, owner, d.timeslot,
                d.logical_timeslot);
    }
}

void mc_list_tdm(const char *prefix, FILE *out)
{
    if (gp)
        mc_list_tdm_map(&gp->tdm_map, prefix, out);
}

int mc_tarn_list_tdm(const char *, FILE *out, int *)
{
    mc_list_tdm("", out);
    return 0;
}

int mc_tarn_list_info_for_timeslot(const char *, FILE *out, int *)
{
    fputs("Print Info for timeslot: ", out);
    return 6;
}

int mc_tarn_list_call_progress_tables(const char *, FILE *out, int *)
{
    cpt_list_tables(out);
    return 0;
}
