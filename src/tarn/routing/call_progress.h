// Call-progress tables: which SIP answer an ISDN progress message turns into
// (s2i), which ISDN message a SIP 180/183 turns into (i2s), and which SIP
// answer an FXO line's progress event turns into (s2fxo). Each kind has one
// built-in table "default" (constant data) and up to 16 tables read from
// /usr/conf/tarn.cpt, kept in the application object.
//
// A reload replaces the file tables in place under global_lock; call
// objects keep pointers to the table they chose, which stay valid (the
// slots live in the application object for the whole run).
#pragma once
#include <cstdint>
#include <cstdio>

enum cpt_events : int32_t {
    CP_ISDN_NOTHING = 0,
    CP_ISDN_SETUPACKNOWLEDGE = 1,
    CP_ISDN_PROCEEDING = 2,
    CP_ISDN_PROGRESS = 3,
    CP_ISDN_ALERTING = 4,
    CP_ISDN_CONNECT = 5,
    CP_SIP_NOTHING = 6,
    CP_SIP_183_SDP = 7,
    CP_SIP_183 = 8,
    CP_SIP_180_SDP = 9,
    CP_SIP_180 = 10,
    CP_SIP_183_SDP_DAVNOLE = 11,
    CP_SIP_183_DAVNOLE = 12,
    CP_SIP_180_SDP_DAVNOLE = 13,
    CP_SIP_180_DAVNOLE = 14,
    CP_RESPOND_NOTHING = 15,
    CP_RESPOND_180_SDP = 16,
    CP_RESPOND_180 = 17,
    CP_RESPOND_183_SDP = 18,
    CP_RESPOND_183 = 19,
    CP_RESPOND_200 = 20,
    CP_RESPOND_ALERTING = 21,
    CP_RESPOND_PROCEEDING = 22,
    CP_RESPOND_PROGRESS = 23,
    CP_RESPOND_CONNECT = 24,
    CP_SIP2FXO_DIALING_FINISHED = 25,
    CP_SIP2FXO_DIALING_FINISHED_TIMER = 26,
    CP_SIP2FXO_POLREV = 27,
    CP_SIP2FXO_POLREV_TIMER = 28,
    CP_SIP2FXO_ALERTING_STARTED = 29,
    CP_SIP2FXO_ALERTING_ENDED = 30,
    CP_SIP2FXO_FAR_END_OFFHOOK_DETECT = 31,
    CP_SIP2FXO_POLREV_CONNECT = 32,
    CP_DIALPLAN_MATCH_FOUND = 9999,
};

// The parser's state while reading a section of the file.
enum cpt_section_type {
    cpt_type_unknown = 0,
    cpt_type_isdn_to_sip = 1,
    cpt_type_sip_to_isdn = 2,
    cpt_type_sip_to_fxo = 3,
};

// Port type of a row: the side the gateway's ISDN port plays.
enum cpt_port_type { CPT_PORT_NT = 1, CPT_PORT_TE = 2, CPT_PORT_NTTE = 3 };

// Channel state of a call (and of an s2i row).
enum cpt_channel_state {
    CPT_NO_CHANNEL = 0,
    CPT_WITH_CHANNEL = 1,
    CPT_WITHOUT_INBAND = 2,
    CPT_WITH_INBAND = 3,
    CPT_ANY_STATE = 4,
};

enum {
    CPT_MAX_TABLES = 16,    // file tables of one kind
    CPT_MAX_ROWS = 30,      // rows of one table
    CPT_MAX_EVENTS = 5,     // ISDN events of one s2i row
    CPT_NAME_SIZE = 64,     // table name: 63 characters
    CPT_HISTORY_RING = 12,  // a call's ISDN event history
    CPT_LINE_SIZE = 256,    // file lines: 255 characters
};

// Texts are owned by file tables (allocated); the built-in tables point to
// constants. A missing text is null and reads as the empty text.
struct cpt_s2i {
    char name[CPT_NAME_SIZE];
    int32_t port_type[CPT_MAX_ROWS];
    int32_t call_progress_channel_state[CPT_MAX_ROWS];
    cpt_events call_progress_events[CPT_MAX_ROWS][CPT_MAX_EVENTS]; // most recent first, 0 ends
    cpt_events call_progress_events_answer_code[CPT_MAX_ROWS];
    const char *call_progress_events_answer_string[CPT_MAX_ROWS];
    int32_t size;
};

struct cpt_i2s {
    char name[CPT_NAME_SIZE];
    int32_t port_type[CPT_MAX_ROWS];
    cpt_events call_progress_sip_event[CPT_MAX_ROWS];
    const char *call_progress_sip_event_match_string[CPT_MAX_ROWS]; // empty or "*": any
    cpt_events call_progress_isdn_answer_code[CPT_MAX_ROWS];
    int32_t call_progress_sdp_state[CPT_MAX_ROWS];
    int32_t size;
};

struct cpt_s2fxo {
    char name[CPT_NAME_SIZE];
    int32_t timeout_dial;            // ms; -1 none
    int32_t timeout_polrev;
    int32_t timeout_alerting_ended;
    cpt_events sip_to_fxo_call_progress_events[CPT_MAX_ROWS];
    cpt_events sip_to_fxo_call_progress_events_answer_code[CPT_MAX_ROWS];
    const char *sip_to_fxo_call_progress_events_answer_string[CPT_MAX_ROWS];
    int32_t size;
};

// The built-in tables, row by row as they are given.
extern const cpt_s2i cpt_s2i_builtin;
extern const cpt_i2s cpt_i2s_builtin;
extern const cpt_s2fxo cpt_s2fxo_builtin;

// Points the application's three default tables at the built-in ones.
void cpt_init_default_tables();

// Replaces every file table with the tables of the file: 0 when it was
// read, -1 when it cannot be opened (no file tables remain then). Holds
// global_lock while it runs.
int cpt_parse_call_progress_tables(const char *path);
// The same over an open stream (the file's reader, and the fuzz target).
int cpt_parse_call_progress_stream(FILE *f);

// The file table of that kind with exactly that name, or null.
cpt_s2i *cpt_s2i_get_table_by_name(const char *name);
cpt_i2s *cpt_i2s_get_table_by_name(const char *name);
cpt_s2fxo *cpt_s2fxo_get_table_by_name(const char *name);

// The SIP answer to the call's ISDN event history (a ring of 12 whose
// count is history_size): 0 with the answer and its reason text in
// reason, or -1 with CP_RESPOND_NOTHING and an empty text.
int cpt_search_s2i(const cpt_s2i *table, int nt, int channel_state, const int32_t *history,
                   int history_size, char *reason, int reason_size, cpt_events *answer);
// The ISDN message for a SIP status (180, 183, or 9999 when an ISDN call
// found its dial plan line): the row's index and its answer, or -1 and 0.
int cpt_search_i2s(const cpt_i2s *table, int nt, int sdp, int from_davnole, int sip_status,
                   const char *reason_phrase, cpt_events *answer);
// The SIP answer to an FXO progress event: 0 with answer and text, or -1
// with CP_RESPOND_NOTHING and an empty text.
int cpt_search_s2fxo(const cpt_s2fxo *table, int fxo_event, char *reason, int reason_size,
                     cpt_events *answer);

// Short name of a code for listings ("" for 0, "UNKNOWN" for no code).
const char *cpt_events_to_string(int event);
// The enumerator's name, "UNKNOWN" for no code.
const char *cpt_print_event(int event);
// "no_channel", "with_channel", "without_audio", "with_audio", "any_state", else "error".
const char *cpt_channelstate_to_string(int state);

// Every table, each kind's built-in table first, then its file tables.
void cpt_list_tables(FILE *out);
