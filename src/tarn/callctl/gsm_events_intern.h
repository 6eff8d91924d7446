// What the parts of the GSM event handler share: the record of one event
// while it passes the handler's steps, and the per-type answer handling.
#pragma once
#include <cstring>

#include "gsm_types.h"

struct gsm_port_info;

enum { GSM_ANSWER_MAX_LINES = 25, GSM_CALLER_NUMBER_MAX = 23 };

struct gsm_event {
    gsm_command *cmd;
    const char *response; // the answer or the line, never null
    int port;
    // The event the call on the port may get: the command's type, or what
    // an unsolicited line became; 0 for none.
    int type;
    int call_id = -1;    // from #ECAM, -1 unknown
    int dtmf = -1;       // an accepted modem DTMF digit (0-11)
    bool sounder_off = false;
    // A caller number from +CLIP (clip) or +CLCC (clcc).
    bool clip = false;
    bool clcc = false;
    char number[64] = "";
    char clip_name[256] = "";
    int clip_type = 0;
    int clip_validity = 0;
};

// The answer split into its lines (at most 25, empty lines dropped); the
// texts point into buf.
struct gsm_answer_lines {
    char buf[8192];
    char *line[GSM_ANSWER_MAX_LINES];
    int count = 0;
    bool ok() const; // "OK" is the last line
    const char *last() const { return count ? line[count - 1] : ""; }
};
void gsm_split_answer(const char *response, gsm_answer_lines &out);

inline bool gsm_starts(const char *s, const char *prefix) { return strncmp(s, prefix, strlen(prefix)) == 0; }

// The event of a modem call state (#ECAM value), 0 for none.
int gsm_ecam_event(int value);

// The event of a dial's last answer line when no #ECAM report of the answer
// gave one: 0 while the dial stands, GSM_EVENT_TYPE_BUSY for a busy far end,
// GSM_EVENT_TYPE_RELEASED for every failure and for a missing result.
int gsm_atd_result_event(const char *last);

// Step 6: the answer of a sent command by its type.
void gsm_handle_answer(gsm_event &ev);

// The answers of the SMS exchanges: a read message (CMGR) and the result
// of a sent one (CMGS).
void gsm_handle_cmgr(gsm_event &ev);
void gsm_handle_cmgs(gsm_event &ev, const gsm_answer_lines &a);

// The message index of a sent "AT+CMGR=<n>": decimal digits after '=' with
// nothing but the line end after them; -1 otherwise.
int gsm_cmgd_index(const char *sent);

// The port's modem information, null outside 1..6.
gsm_port_info *gsm_info_of_port(int port);
// Replaces an owned text field by a copy of text (at most max characters).
void gsm_set_info_text(char *&field, const char *text, size_t max = 2048);
