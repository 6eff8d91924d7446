// Raw texts of the information elements of the last received message, as
// call control carries them on into SIP headers: "key=value" pairs joined by
// ";", octet strings in base64. Every text is cut to its field.
#pragma once
#include <cstdint>
#include <ctime>

struct bc_ie_facilities {
    char ie_facility[1024];
    char ie_counter[1];
    char ie_calling_pn[64];
    char ie_calling_pn2[64];
    char ie_called_pn[64];
    char ie_keypad[64];
    char ie_complete[32];
    char ie_redir_nr[64];
    char ie_bearer[128];
    char ie_channel_id[64];
    char ie_progress[64];
    char ie_useruser[256];
    char ie_hlc[64];
    char ie_llc[64];
    char ie_cause[64];
    char ie_connect_pn[64];
    char ie_calling_subaddress[64];
    char ie_called_subaddress[64];
    struct tm ie_date;
    char ie_display[32];
};

// Copy of a decoded bearer capability, lowest bits first.
struct bearer_cap_ie {
    uint32_t coding : 2;
    uint32_t capability : 5;
    uint32_t mode : 2;
    uint32_t rate : 5;
    uint32_t layer : 2;
    uint32_t user : 5;
};

struct misdn_bchannel;

// Empties every raw IE text of the call and clears the stored date.
void misdn_clean_ie_buffers(misdn_bchannel *bc);
