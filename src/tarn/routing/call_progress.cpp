// Call-progress tables: built-in tables, names, look-ups, searches, listing.
// The file reader is in call_progress_file.cpp.
#include "call_progress.h"

#include <cstring>
#include <iterator>
#include <strings.h>

#include "application.h"

namespace {

// ---- built-in tables, one row per row ----

struct s2i_row {
    int32_t port;
    int32_t state;
    cpt_events events[CPT_MAX_EVENTS];
    cpt_events answer;
    const char *text;
};

constexpr s2i_row s2i_default_rows[] = {
    /* 0 */ {CPT_PORT_NT, CPT_WITH_INBAND, {CP_ISDN_ALERTING}, CP_RESPOND_180_SDP, "RINGING"},
    /* 1 */ {CPT_PORT_NT, CPT_ANY_STATE, {CP_ISDN_ALERTING}, CP_RESPOND_180, "RINGING"},
    /* 2 */ {CPT_PORT_NT, CPT_WITH_INBAND, {CP_ISDN_PROCEEDING}, CP_RESPOND_183_SDP, "PROCEEDING"},
    /* 3 */ {CPT_PORT_NT, CPT_ANY_STATE, {CP_ISDN_PROCEEDING}, CP_RESPOND_183, "PROCEEDING"},
    /* 4 */ {CPT_PORT_NT, CPT_WITH_INBAND, {CP_ISDN_PROGRESS}, CP_RESPOND_183_SDP, "PROGRESS"},
    /* 5 */ {CPT_PORT_NT, CPT_ANY_STATE, {CP_ISDN_PROGRESS}, CP_RESPOND_183, "PROGRESS"},
    /* 6 */ {CPT_PORT_NT, CPT_ANY_STATE, {CP_ISDN_CONNECT}, CP_RESPOND_200, "OK"},
    /* 7 */ {CPT_PORT_TE, CPT_WITH_CHANNEL, {CP_ISDN_ALERTING}, CP_RESPOND_180_SDP, "RINGING"},
    /* 8 */ {CPT_PORT_TE, CPT_ANY_STATE, {CP_ISDN_ALERTING}, CP_RESPOND_180_SDP, "RINGING"},
    /* 9 */ {CPT_PORT_TE, CPT_WITH_CHANNEL, {CP_ISDN_PROCEEDING}, CP_RESPOND_183_SDP, "PROCEEDING"},
    /* 10 */ {CPT_PORT_TE, CPT_ANY_STATE, {CP_ISDN_PROCEEDING}, CP_RESPOND_183_SDP, "PROCEEDING"},
    /* 11 */ {CPT_PORT_TE, CPT_WITH_CHANNEL, {CP_ISDN_PROGRESS}, CP_RESPOND_183_SDP, "PROGRESS"},
    /* 12 */ {CPT_PORT_TE, CPT_ANY_STATE, {CP_ISDN_PROGRESS}, CP_RESPOND_183_SDP, "PROGRESS"},
    /* 13 */ {CPT_PORT_TE, CPT_ANY_STATE, {CP_ISDN_CONNECT}, CP_RESPOND_200, "OK"},
};
static_assert(std::size(s2i_default_rows) == 14, "row count as given");

struct i2s_row {
    int32_t port;
    cpt_events event;
    const char *match;
    cpt_events answer;
};

constexpr i2s_row i2s_default_rows[] = {
    /* 0 */ {CPT_PORT_NT, CP_SIP_183, "PROGRESS", CP_RESPOND_PROGRESS},
    /* 1 */ {CPT_PORT_NT, CP_SIP_183_SDP, "PROGRESS", CP_RESPOND_PROGRESS},
    /* 2 */ {CPT_PORT_NT, CP_SIP_183_DAVNOLE, "PROGRESS", CP_RESPOND_PROGRESS},
    /* 3 */ {CPT_PORT_NT, CP_SIP_183_SDP_DAVNOLE, "PROGRESS", CP_RESPOND_PROGRESS},
    /* 4 */ {CPT_PORT_NT, CP_SIP_180, "*", CP_RESPOND_ALERTING},
    /* 5 */ {CPT_PORT_NT, CP_SIP_183, "*", CP_RESPOND_PROCEEDING},
    /* 6 */ {CPT_PORT_NT, CP_SIP_180_SDP, "*", CP_RESPOND_ALERTING},
    /* 7 */ {CPT_PORT_NT, CP_SIP_183_SDP, "*", CP_RESPOND_PROCEEDING},
    /* 8 */ {CPT_PORT_NT, CP_SIP_180_DAVNOLE, "*", CP_RESPOND_ALERTING},
    /* 9 */ {CPT_PORT_NT, CP_SIP_183_DAVNOLE, "*", CP_RESPOND_PROCEEDING},
    /* 10 */ {CPT_PORT_NT, CP_SIP_180_SDP_DAVNOLE, "*", CP_RESPOND_ALERTING},
    /* 11 */ {CPT_PORT_NT, CP_SIP_183_SDP_DAVNOLE, "*", CP_RESPOND_PROCEEDING},
    /* 12 */ {CPT_PORT_NT, CP_DIALPLAN_MATCH_FOUND, "*", CP_RESPOND_PROCEEDING},
    /* 13 */ {CPT_PORT_TE, CP_SIP_180, "*", CP_RESPOND_ALERTING},
    /* 14 */ {CPT_PORT_TE, CP_SIP_183, "*", CP_RESPOND_ALERTING},
    /* 15 */ {CPT_PORT_TE, CP_SIP_180_SDP, "*", CP_RESPOND_ALERTING},
    /* 16 */ {CPT_PORT_TE, CP_SIP_183_SDP, "*", CP_RESPOND_ALERTING},
    /* 17 */ {CPT_PORT_TE, CP_SIP_180_DAVNOLE, "*", CP_RESPOND_ALERTING},
    /* 18 */ {CPT_PORT_TE, CP_SIP_183_DAVNOLE, "*", CP_RESPOND_PROCEEDING},
    /* 19 */ {CPT_PORT_TE, CP_SIP_180_SDP_DAVNOLE, "*", CP_RESPOND_ALERTING},
    /* 20 */ {CPT_PORT_TE, CP_SIP_183_SDP_DAVNOLE, "*", CP_RESPOND_PROCEEDING},
    /* 21 */ {CPT_PORT_TE, CP_DIALPLAN_MATCH_FOUND, "*", CP_RESPOND_PROCEEDING},
};
static_assert(std::size(i2s_default_rows) == 22, "row count as given");

struct s2fxo_row {
    cpt_events event;
    cpt_events answer;
    const char *text;
};

constexpr s2fxo_row s2fxo_default_rows[] = {
    /* 0 */ {CP_SIP2FXO_DIALING_FINISHED, CP_RESPOND_200, "OK"},
    /* 1 */ {CP_SIP2FXO_DIALING_FINISHED_TIMER, CP_RESPOND_NOTHING, ""},
    /* 2 */ {CP_SIP2FXO_ALERTING_STARTED, CP_RESPOND_NOTHING, ""},
    /* 3 */ {CP_SIP2FXO_ALERTING_ENDED, CP_RESPOND_NOTHING, ""},
    /* 4 */ {CP_SIP2FXO_POLREV, CP_RESPOND_NOTHING, ""},
    /* 5 */ {CP_SIP2FXO_POLREV_TIMER, CP_RESPOND_NOTHING, ""},
    /* 6 */ {CP_SIP2FXO_FAR_END_OFFHOOK_DETECT, CP_RESPOND_NOTHING, ""},
};
static_assert(std::size(s2fxo_default_rows) == 7, "row count as given");

constexpr int32_t S2FXO_DEFAULT_TIMEOUT_DIAL = 10000;
constexpr int32_t S2FXO_DEFAULT_TIMEOUT_POLREV = 10000;
constexpr int32_t S2FXO_DEFAULT_TIMEOUT_ALERTING_ENDED = -1;

constexpr void set_default_name(char (&name)[CPT_NAME_SIZE])
{
    const char text[] = "default";
    for (size_t i = 0; i < sizeof text; i++)
        name[i] = text[i];
}

template <size_t N> constexpr cpt_s2i make_s2i(const s2i_row (&rows)[N])
{
    cpt_s2i t{};
    set_default_name(t.name);
    for (size_t i = 0; i < N; i++) {
        t.port_type[i] = rows[i].port;
        t.call_progress_channel_state[i] = rows[i].state;
        for (int e = 0; e < CPT_MAX_EVENTS; e++)
            t.call_progress_events[i][e] = rows[i].events[e];
        t.call_progress_events_answer_code[i] = rows[i].answer;
        t.call_progress_events_answer_string[i] = rows[i].text;
    }
    t.size = (int32_t)N;
    return t;
}

template <size_t N> constexpr cpt_i2s make_i2s(const i2s_row (&rows)[N])
{
    cpt_i2s t{};
    set_default_name(t.name);
    for (size_t i = 0; i < N; i++) {
        t.port_type[i] = rows[i].port;
        t.call_progress_sip_event[i] = rows[i].event;
        t.call_progress_sip_event_match_string[i] = rows[i].match;
        t.call_progress_isdn_answer_code[i] = rows[i].answer;
    }
    t.size = (int32_t)N;
    return t;
}

template <size_t N> constexpr cpt_s2fxo make_s2fxo(const s2fxo_row (&rows)[N])
{
    cpt_s2fxo t{};
    set_default_name(t.name);
    t.timeout_dial = S2FXO_DEFAULT_TIMEOUT_DIAL;
    t.timeout_polrev = S2FXO_DEFAULT_TIMEOUT_POLREV;
    t.timeout_alerting_ended = S2FXO_DEFAULT_TIMEOUT_ALERTING_ENDED;
    for (size_t i = 0; i < N; i++) {
        t.sip_to_fxo_call_progress_events[i] = rows[i].event;
        t.sip_to_fxo_call_progress_events_answer_code[i] = rows[i].answer;
        t.sip_to_fxo_call_progress_events_answer_string[i] = rows[i].text;
    }
    t.size = (int32_t)N;
    return t;
}

// ---- names ----

struct event_names {
    const char *full;  // the enumerator
    const char *brief; // listings
};

// Indexed by code, 0 to 32; 9999 apart.
constexpr event_names names_by_code[] = {
    /* 0 */ {"CP_ISDN_NOTHING", ""},
    /* 1 */ {"CP_ISDN_SETUPACKNOWLEDGE", "SETUP_ACKNOWLEDGE"},
    /* 2 */ {"CP_ISDN_PROCEEDING", "PROCEEDING"},
    /* 3 */ {"CP_ISDN_PROGRESS", "PROGRESS"},
    /* 4 */ {"CP_ISDN_ALERTING", "ALERTING"},
    /* 5 */ {"CP_ISDN_CONNECT", "CONNECT"},
    /* 6 */ {"CP_SIP_NOTHING", "UNKNOWN"},
    /* 7 */ {"CP_SIP_183_SDP", "183_SDP"},
    /* 8 */ {"CP_SIP_183", "183"},
    /* 9 */ {"CP_SIP_180_SDP", "180_SDP"},
    /* 10 */ {"CP_SIP_180", "180"},
    /* 11 */ {"CP_SIP_183_SDP_DAVNOLE", "183_SDP_DAVNOLE"},
    /* 12 */ {"CP_SIP_183_DAVNOLE", "183_DAVNOLE"},
    /* 13 */ {"CP_SIP_180_SDP_DAVNOLE", "180_SDP_DAVNOLE"},
    /* 14 */ {"CP_SIP_180_DAVNOLE", "180_DAVNOLE"},
    /* 15 */ {"CP_RESPOND_NOTHING", "NOTHING"},
    /* 16 */ {"CP_RESPOND_180_SDP", "180_SDP"},
    /* 17 */ {"CP_RESPOND_180", "180"},
    /* 18 */ {"CP_RESPOND_183_SDP", "183_SDP"},
    /* 19 */ {"CP_RESPOND_183", "183"},
    /* 20 */ {"CP_RESPOND_200", "200"},
    /* 21 */ {"CP_RESPOND_ALERTING", "ALERTING"},
    /* 22 */ {"CP_RESPOND_PROCEEDING", "PROCEEDING"},
    /* 23 */ {"CP_RESPOND_PROGRESS", "PROGRESS"},
    /* 24 */ {"CP_RESPOND_CONNECT", "CONNECT"},
    /* 25 */ {"CP_SIP2FXO_DIALING_FINISHED", "CP_SIP2FXO_DIALING_FINISHED"},
    /* 26 */ {"CP_SIP2FXO_DIALING_FINISHED_TIMER", "CP_SIP2FXO_DIALING_FINISHED_TIMER"},
    /* 27 */ {"CP_SIP2FXO_POLREV", "CP_SIP2FXO_POLREV"},
    /* 28 */ {"CP_SIP2FXO_POLREV_TIMER", "CP_SIP2FXO_POLREV_TIMER"},
    /* 29 */ {"CP_SIP2FXO_ALERTING_STARTED", "CP_SIP2FXO_ALERTING_STARTED"},
    /* 30 */ {"CP_SIP2FXO_ALERTING_ENDED", "CP_SIP2FXO_ALERTING_ENDED"},
    /* 31 */ {"CP_SIP2FXO_FAR_END_OFFHOOK_DETECT", "CP_SIP2FXO_FAR_END_OFFHOOK_DETECT"},
    /* 32 */ {"CP_SIP2FXO_POLREV_CONNECT", "CP_SIP2FXO_POLREV_CONNECT"},
};
static_assert(std::size(names_by_code) == CP_SIP2FXO_POLREV_CONNECT + 1, "one row per code");
constexpr event_names dialplan_match_names = {"CP_DIALPLAN_MATCH_FOUND", "DIALPLAN_MATCH_FOUND"};

const event_names *names_of(int event)
{
    if (event >= 0 && event < (int)std::size(names_by_code))
        return &names_by_code[event];
    return event == CP_DIALPLAN_MATCH_FOUND ? &dialplan_match_names : nullptr;
}

constexpr const char *channel_state_names[] = {"no_channel", "with_channel", "without_audio",
                                               "with_audio", "any_state"};

const char *text_or_empty(const char *s)
{
    return s ? s : "";
}

void set_reason(char *reason, int reason_size, const char *text)
{
    if (reason && reason_size > 0)
        snprintf(reason, (size_t)reason_size, "%s", text_or_empty(text));
}

bool port_fits(int32_t port_type, int nt)
{
    return port_type == CPT_PORT_NTTE || (port_type == CPT_PORT_NT && nt) ||
           (port_type == CPT_PORT_TE && !nt);
}

bool state_fits(int32_t row_state, int call_state)
{
    return row_state == call_state || row_state == CPT_ANY_STATE ||
           (row_state == CPT_WITH_CHANNEL &&
            (call_state == CPT_WITHOUT_INBAND || call_state == CPT_WITH_INBAND));
}

// Score of one s2i row against the recent events: the number of equal
// positions, or -1 when a position differs.
int s2i_score(const cpt_events *row_events, const cpt_events *recent)
{
    int score = 0;
    for (int j = 0; j < CPT_MAX_EVENTS; j++) {
        if (row_events[j] == CP_ISDN_NOTHING)
            break;
        if (row_events[j] != recent[j])
            return -1;
        score++;
    }
    return score;
}

const char *port_word(int32_t port_type)
{
    switch (port_type) {
    case CPT_PORT_NT: return "nt\t";
    case CPT_PORT_TE: return "te\t";
    case CPT_PORT_NTTE: return "ntte\t";
    default: return "";
    }
}

void list_s2i(FILE *out, const cpt_s2i *t)
{
    fprintf(out, "Table: s2i:%s\n", t->name);
    for (int i = 0; i < t->size && i < CPT_MAX_ROWS; i++) {
        fprintf(out, "%i\t%s%s\t", i, port_word(t->port_type[i]),
                cpt_channelstate_to_string(t->call_progress_channel_state[i]));
        for (int e = 0; e < CPT_MAX_EVENTS && t->call_progress_events[i][e] != CP_ISDN_NOTHING; e++)
            fprintf(out, "%s:", cpt_events_to_string(t->call_progress_events[i][e]));
        fprintf(out, "\t%s\t%s\n", cpt_events_to_string(t->call_progress_events_answer_code[i]),
                text_or_empty(t->call_progress_events_answer_string[i]));
    }
}

void list_i2s(FILE *out, const cpt_i2s *t)
{
    fprintf(out, "Table: i2s:%s\n", t->name);
    for (int i = 0; i < t->size && i < CPT_MAX_ROWS; i++)
        fprintf(out, "%i\t%s%s\t%s\t%s\t\n", i, port_word(t->port_type[i]),
                cpt_events_to_string(t->call_progress_sip_event[i]),
                text_or_empty(t->call_progress_sip_event_match_string[i]),
                cpt_events_to_string(t->call_progress_isdn_answer_code[i]));
}

void list_s2fxo(FILE *out, const cpt_s2fxo *t)
{
    fprintf(out, "Table: s2fxo:%s => dial %i ms| polrev %i  ms| alertingstop %i ms\n", t->name, t->timeout_dial,
            t->timeout_polrev, t->timeout_alerting_ended);
    for (int i = 0; i < t->size && i < CPT_MAX_ROWS; i++)
        fprintf(out, "%i\t%s:\t%s\t%s\n", i, cpt_events_to_string(t->sip_to_fxo_call_progress_events[i]),
                cpt_events_to_string(t->sip_to_fxo_call_progress_events_answer_code[i]),
                text_or_empty(t->sip_to_fxo_call_progress_events_answer_string[i]));
}

template <typename T> T *table_by_name(T *tables, int32_t count, const char *name)
{
    if (!name)
        return nullptr;
    for (int i = 0; i < count && i < CPT_MAX_TABLES; i++)
        if (strcmp(tables[i].name, name) == 0)
            return &tables[i];
    return nullptr;
}

} // namespace

constinit const cpt_s2i cpt_s2i_builtin = make_s2i(s2i_default_rows);
constinit const cpt_i2s cpt_i2s_builtin = make_i2s(i2s_default_rows);
constinit const cpt_s2fxo cpt_s2fxo_builtin = make_s2fxo(s2fxo_default_rows);

void cpt_init_default_tables()
{
    if (!gp)
        return;
    gp->s2i_cpt_default = &cpt_s2i_builtin;
    gp->i2s_cpt_default = &cpt_i2s_builtin;
    gp->s2fxo_cpt_default = &cpt_s2fxo_builtin;
}

cpt_s2i *cpt_s2i_get_table_by_name(const char *name)
{
    return gp ? table_by_name(gp->sip_to_isdn_call_progress_tables, gp->sip_to_isdn_call_progress_tables_size, name)
              : nullptr;
}

cpt_i2s *cpt_i2s_get_table_by_name(const char *name)
{
    return gp ? table_by_name(gp->isdn_to_sip_call_progress_tables, gp->isdn_to_sip_call_progress_tables_size, name)
              : nullptr;
}

cpt_s2fxo *cpt_s2fxo_get_table_by_name(const char *name)
{
    return gp ? table_by_name(gp->sip_to_fxo_call_progress_tables, gp->sip_to_fxo_call_progress_tables_size, name)
              : nullptr;
}

int cpt_search_s2i(const cpt_s2i *table, int nt, int channel_state, const int32_t *history,
                   int history_size, char *reason, int reason_size, cpt_events *answer)
{
    if (answer)
        *answer = CP_RESPOND_NOTHING;
    set_reason(reason, reason_size, "");
    if (!table)
        return -1;

    // The five most recent events, most recent first; places beyond the
    // history hold CP_RESPOND_NOTHING, which no row names.
    cpt_events recent[CPT_MAX_EVENTS];
    for (int i = 0; i < CPT_MAX_EVENTS; i++) {
        if (history && i < history_size)
            recent[i] = (cpt_events)history[(history_size - 1 - i) % CPT_HISTORY_RING];
        else
            recent[i] = CP_RESPOND_NOTHING;
    }

    const int rows = table->size < CPT_MAX_ROWS ? table->size : CPT_MAX_ROWS;
    bool any_first = false;
    for (int r = 0; r < rows && !any_first; r++)
        any_first = table->call_progress_events[r][0] == recent[0];
    if (!any_first)
        return -1;

    int best = -1, best_score = 0;
    for (int r = 0; r < rows; r++) {
        if (!state_fits(table->call_progress_channel_state[r], channel_state) ||
            !port_fits(table->port_type[r], nt))
            continue;
        int score = s2i_score(table->call_progress_events[r], recent);
        if (score > best_score) { // equal scores: the earlier row stays
            best = r;
            best_score = score;
        }
    }
    if (best < 0)
        return -1;
    set_reason(reason, reason_size, table->call_progress_events_answer_string[best]);
    if (answer)
        *answer = table->call_progress_events_answer_code[best];
    return 0;
}

int cpt_search_i2s(const cpt_i2s *table, int nt, int sdp, int from_davnole, int sip_status,
                   const char *reason_phrase, cpt_events *answer)
{
    if (answer)
        *answer = CP_ISDN_NOTHING;
    cpt_events event;
    switch (sip_status) {
    case 180:
        event = from_davnole ? (sdp ? CP_SIP_180_SDP_DAVNOLE : CP_SIP_180_DAVNOLE)
                             : (sdp ? CP_SIP_180_SDP : CP_SIP_180);
        break;
    case 183:
        event = from_davnole ? (sdp ? CP_SIP_183_SDP_DAVNOLE : CP_SIP_183_DAVNOLE)
                             : (sdp ? CP_SIP_183_SDP : CP_SIP_183);
        break;
    case CP_DIALPLAN_MATCH_FOUND: event = CP_DIALPLAN_MATCH_FOUND; break;
    default: return -1;
    }
    if (!table)
        return -1;
    const int rows = table->size < CPT_MAX_ROWS ? table->size : CPT_MAX_ROWS;
    for (int r = 0; r < rows; r++) {
        if (table->call_progress_sip_event[r] != event)
            continue;
        if (table->port_type[r] == (nt ? CPT_PORT_TE : CPT_PORT_NT))
            continue;
        const char *match = text_or_empty(table->call_progress_sip_event_match_string[r]);
        if (match[0] && strcmp(match, "*") != 0 && strcasecmp(match, text_or_empty(reason_phrase)) != 0)
            continue;
        if (answer)
            *answer = table->call_progress_isdn_answer_code[r];
        return r;
    }
    return -1;
}

int cpt_search_s2fxo(const cpt_s2fxo *table, int fxo_event, char *reason, int reason_size,
                     cpt_events *answer)
{
    if (answer)
        *answer = CP_RESPOND_NOTHING;
    set_reason(reason, reason_size, "");
    if (!table)
        return -1;
    const int rows = table->size < CPT_MAX_ROWS ? table->size : CPT_MAX_ROWS;
    for (int r = 0; r < rows; r++) {
        if (table->sip_to_fxo_call_progress_events[r] != fxo_event)
            continue;
        if (answer)
            *answer = table->sip_to_fxo_call_progress_events_answer_code[r];
        set_reason(reason, reason_size, table->sip_to_fxo_call_progress_events_answer_string[r]);
        return 0;
    }
    return -1;
}

const char *cpt_events_to_string(int event)
{
    const event_names *n = names_of(event);
    return n ? n->brief : "UNKNOWN";
}

const char *cpt_print_event(int event)
{
    const event_names *n = names_of(event);
    return n ? n->full : "UNKNOWN";
}

const char *cpt_channelstate_to_string(int state)
{
    if (state >= 0 && state < (int)std::size(channel_state_names))
        return channel_state_names[state];
    return "error";
}

void cpt_list_tables(FILE *out)
{
    if (!out || !gp)
        return;
    list_s2i(out, gp->s2i_cpt_default ? gp->s2i_cpt_default : &cpt_s2i_builtin);
    for (int i = 0; i < gp->sip_to_isdn_call_progress_tables_size && i < CPT_MAX_TABLES; i++)
        list_s2i(out, &gp->sip_to_isdn_call_progress_tables[i]);
    list_i2s(out, gp->i2s_cpt_default ? gp->i2s_cpt_default : &cpt_i2s_builtin);
    for (int i = 0; i < gp->isdn_to_sip_call_progress_tables_size && i < CPT_MAX_TABLES; i++)
        list_i2s(out, &gp->isdn_to_sip_call_progress_tables[i]);
    list_s2fxo(out, gp->s2fxo_cpt_default ? gp->s2fxo_cpt_default : &cpt_s2fxo_builtin);
    for (int i = 0; i < gp->sip_to_fxo_call_progress_tables_size && i < CPT_MAX_TABLES; i++)
        list_s2fxo(out, &gp->sip_to_fxo_call_progress_tables[i]);
}
