#include "misdn_bchannel.h"

#include <cstring>

static const char *const bc_state_names[] = {
    "BCHAN_CLEANED", "BCHAN_EMPTY",   "BCHAN_SETUP",    "BCHAN_SETUPED", "BCHAN_ACTIVE",
    "BCHAN_ACTIVATED", "BCHAN_BRIDGE", "BCHAN_BRIDGED", "BCHAN_RELEASE", "BCHAN_RELEASED",
    "BCHAN_CLEAN",   "BCHAN_CLEAN_REQUEST", "BCHAN_ERROR",
};

const char *bc_state2str(int state)
{
    if (state < 0 || state >= (int)(sizeof(bc_state_names) / sizeof(bc_state_names[0])))
        return "UNKNOWN";
    return bc_state_names[state];
}

void misdn_clean_ie_buffers(misdn_bchannel *bc)
{
    if (!bc)
        return;
    bc_ie_facilities &f = bc->ie_facilities;
    f.ie_display[0] = 0;
    f.ie_calling_pn[0] = 0;
    f.ie_calling_pn2[0] = 0;
    f.ie_useruser[0] = 0;
    f.ie_llc[0] = 0;
    f.ie_cause[0] = 0;
    f.ie_connect_pn[0] = 0;
    f.ie_called_pn[0] = 0;
    f.ie_keypad[0] = 0;
    f.ie_complete[0] = 0;
    f.ie_redir_nr[0] = 0;
    f.ie_bearer[0] = 0;
    f.ie_channel_id[0] = 0;
    f.ie_progress[0] = 0;
    f.ie_hlc[0] = 0;
    f.ie_facility[0] = 0;
    f.ie_calling_subaddress[0] = 0;
    f.ie_called_subaddress[0] = 0;
    memset(&f.ie_date, 0, sizeof(f.ie_date));
}
