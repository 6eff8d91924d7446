// Reading /usr/conf/tarn.cpt: sections "[s2i:name]", "[i2s:name]",
// "[s2fxo:name]" and their TAB-separated rows.
//
// Names of ISDN messages are compared with case, every other keyword
// without. A bad row is reported and skipped; sections beyond 16 of one
// kind, rows beyond 30 of one table and events beyond 5 of one row are
// refused with a line naming the file line, never stored.
#include <pthread.h>
#include <strings.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "application.h"
#include "call_progress.h"
#include "global_lock.h"
#include "log.h"
#include "strtools.h"

namespace {

struct keyword {
    const char *word;
    int32_t value;
};

constexpr keyword port_words[] = {{"nt", CPT_PORT_NT}, {"te", CPT_PORT_TE}, {"ntte", CPT_PORT_NTTE}};

constexpr keyword channel_state_words[] = {
    {"no_channel", CPT_NO_CHANNEL},         {"with_channel", CPT_WITH_CHANNEL},
    {"without_inband", CPT_WITHOUT_INBAND}, {"with_inband", CPT_WITH_INBAND},
    {"any_state", CPT_ANY_STATE},
};

// s2i events; compared with case.
constexpr keyword isdn_event_words[] = {
    {"CONNECT", CP_ISDN_CONNECT},
    {"PROGRESS", CP_ISDN_PROGRESS},
    {"PROCEEDING", CP_ISDN_PROCEEDING},
    {"SETUPACKNOWLEDGE", CP_ISDN_SETUPACKNOWLEDGE},
    {"SETUP_ACKNOWLEDGE", CP_ISDN_SETUPACKNOWLEDGE},
    {"ALERTING", CP_ISDN_ALERTING},
};

// SIP answers of s2i and s2fxo rows.
constexpr keyword sip_answer_words[] = {
    {"180", CP_RESPOND_180},     {"180_SDP", CP_RESPOND_180_SDP}, {"183", CP_RESPOND_183},
    {"183_SDP", CP_RESPOND_183_SDP}, {"-1", CP_RESPOND_NOTHING},  {"NONE", CP_RESPOND_NOTHING},
    {"NOTHING", CP_RESPOND_NOTHING}, {"200", CP_RESPOND_200},     {"200_SDP", CP_RESPOND_200},
};

// SIP events of i2s rows.
constexpr keyword sip_event_words[] = {
    {"180", CP_SIP_180},
    {"180_SDP", CP_SIP_180_SDP},
    {"183", CP_SIP_183},
    {"183_SDP", CP_SIP_183_SDP},
    {"180_DAVNOLE", CP_SIP_180_DAVNOLE},
    {"180_SDP_DAVNOLE", CP_SIP_180_SDP_DAVNOLE},
    {"183_DAVNOLE", CP_SIP_183_DAVNOLE},
    {"183_SDP_DAVNOLE", CP_SIP_183_SDP_DAVNOLE},
    {"DIALPLAN_MATCH_FOUND", CP_DIALPLAN_MATCH_FOUND},
};

// ISDN answers of i2s rows: the messages with case, "nothing" without.
constexpr keyword isdn_answer_words[] = {
    {"PROCEEDING", CP_RESPOND_PROCEEDING},
    {"PROGRESS", CP_RESPOND_PROGRESS},
    {"ALERTING", CP_RESPOND_ALERTING},
    {"CONNECT", CP_RESPOND_CONNECT},
};
constexpr keyword nothing_words[] = {{"-1", CP_RESPOND_NOTHING}, {"NONE", CP_RESPOND_NOTHING},
                                     {"NOTHING", CP_RESPOND_NOTHING}};

constexpr keyword fxo_event_words[] = {
    {"DIALING_FINISHED", CP_SIP2FXO_DIALING_FINISHED},
    {"DIALING_FINISHED_TIMER", CP_SIP2FXO_DIALING_FINISHED_TIMER},
    {"POLREV", CP_SIP2FXO_POLREV},
    {"POLREV_CONNECT", CP_SIP2FXO_POLREV_CONNECT},
    {"POLREV_TIMER", CP_SIP2FXO_POLREV_TIMER},
    {"ALERTING_STARTED", CP_SIP2FXO_ALERTING_STARTED},
    {"ALERTING_STOPPED", CP_SIP2FXO_ALERTING_ENDED},
    {"ALERTING_ENDED", CP_SIP2FXO_ALERTING_ENDED},
    {"FAR_END_OFFHOOK_DETECT", CP_SIP2FXO_FAR_END_OFFHOOK_DETECT},
};

enum word_case { WITH_CASE, WITHOUT_CASE };

template <size_t N>
bool find_word(const keyword (&words)[N], const char *word, word_case wc, int32_t *value)
{
    for (const keyword &k : words)
        if (wc == WITH_CASE ? strcmp(k.word, word) == 0 : strcasecmp(k.word, word) == 0) {
            *value = k.value;
            return true;
        }
    return false;
}

// Splits a row at TABs into at most max fields (a further TAB ends the
// last one); returns the number of fields.
int split_fields(char *line, char **fields, int max)
{
    int n = 0;
    char *p = line;
    while (n < max) {
        fields[n++] = p;
        char *tab = strchr(p, '\t');
        if (!tab)
            break;
        *tab = '\0';
        p = tab + 1;
    }
    return n;
}

char *copy_text(const char *s)
{
    return s ? strdup(s) : nullptr;
}

void free_text(const char *s)
{
    free(const_cast<char *>(s));
}

// The state of one reading: the section and the table it fills.
struct cpt_reader {
    int line_no = 0;
    cpt_section_type type = cpt_type_unknown;
    int table = -1; // index in the kind's array
};

void clear_file_tables()
{
    for (cpt_s2i &t : gp->sip_to_isdn_call_progress_tables) {
        for (const char *s : t.call_progress_events_answer_string)
            free_text(s);
        t = cpt_s2i{};
    }
    for (cpt_i2s &t : gp->isdn_to_sip_call_progress_tables) {
        for (const char *s : t.call_progress_sip_event_match_string)
            free_text(s);
        t = cpt_i2s{};
    }
    for (cpt_s2fxo &t : gp->sip_to_fxo_call_progress_tables) {
        for (const char *s : t.sip_to_fxo_call_progress_events_answer_string)
            free_text(s);
        t = cpt_s2fxo{};
    }
    gp->sip_to_isdn_call_progress_tables_size = 0;
    gp->isdn_to_sip_call_progress_tables_size = 0;
    gp->sip_to_fxo_call_progress_tables_size = 0;
}

// A table slot of one kind for a new section, or -1 when the kind has all
// its 16.
int take_slot(int32_t *count, const char *kind, int line_no)
{
    if (*count >= CPT_MAX_TABLES) {
        fprintf(stderr, "ignoring line %i: more than %i %s tables\n", line_no, CPT_MAX_TABLES, kind);
        return -1;
    }
    return (*count)++;
}

void open_section(cpt_reader &r, char *line)
{
    r.type = cpt_type_unknown;
    r.table = -1;
    char *end = strchr(line, ']');
    if (!end)
        return;
    *end = '\0';
    const char *head = line + 1;
    const char *name;
    cpt_section_type kind;
    int slot;
    char *slot_name;
    if (strncasecmp(head, "s2i:", 4) == 0) {
        name = head + 4;
        kind = cpt_type_sip_to_isdn;
        if ((slot = take_slot(&gp->sip_to_isdn_call_progress_tables_size, "s2i", r.line_no)) < 0)
            return;
        slot_name = gp->sip_to_isdn_call_progress_tables[slot].name;
    } else if (strncasecmp(head, "i2s:", 4) == 0) {
        name = head + 4;
        kind = cpt_type_isdn_to_sip;
        if ((slot = take_slot(&gp->isdn_to_sip_call_progress_tables_size, "i2s", r.line_no)) < 0)
            return;
        slot_name = gp->isdn_to_sip_call_progress_tables[slot].name;
    } else if (strncasecmp(head, "s2fxo:", 6) == 0) {
        name = head + 6;
        kind = cpt_type_sip_to_fxo;
        if ((slot = take_slot(&gp->sip_to_fxo_call_progress_tables_size, "s2fxo", r.line_no)) < 0)
            return;
        cpt_s2fxo &t = gp->sip_to_fxo_call_progress_tables[slot];
        t.timeout_dial = cpt_s2fxo_builtin.timeout_dial;
        t.timeout_polrev = cpt_s2fxo_builtin.timeout_polrev;
        t.timeout_alerting_ended = cpt_s2fxo_builtin.timeout_alerting_ended;
        slot_name = t.name;
    } else {
        return;
    }
    snprintf(slot_name, CPT_NAME_SIZE, "%.*s", CPT_NAME_SIZE - 1, name);
    if (strcasecmp(name, "default") != 0) { // a "default" section reads no rows
        r.type = kind;
        r.table = slot;
    }
}

bool table_full(int32_t size, const char *kind, const char *name, int line_no)
{
    if (size < CPT_MAX_ROWS)
        return false;
    fprintf(stderr, "ignoring line %i: table %s:%s already holds %i rows\n", line_no, kind, name, CPT_MAX_ROWS);
    return true;
}

// The ISDN events of an s2i row, joined by ':' (an empty piece is a bad
// word too). -1 when the row has more than five (reported here).
int read_s2i_events(const cpt_reader &r, char *text, cpt_events *events, const char **bad)
{
    int count = 0;
    for (char *e = text, *next; e; e = next) {
        next = strchr(e, ':');
        if (next)
            *next++ = '\0';
        if (count == CPT_MAX_EVENTS) {
            fprintf(stderr, "ignoring (1) line %i: more than %i events\n", r.line_no, CPT_MAX_EVENTS);
            return -1;
        }
        int32_t v;
        if (!find_word(isdn_event_words, e, WITH_CASE, &v)) {
            *bad = e;
            return 0;
        }
        events[count++] = (cpt_events)v;
    }
    return 0;
}

void read_s2i_row(cpt_reader &r, char *line)
{
    cpt_s2i &t = gp->sip_to_isdn_call_progress_tables[r.table];
    if (table_full(t.size, "s2i", t.name, r.line_no))
        return;
    char *f[5];
    int n = split_fields(line, f, 5);
    int32_t port = 0, state = 0, answer = 0;
    cpt_events events[CPT_MAX_EVENTS] = {};
    const char *bad = nullptr;
    if (n > 0 && !find_word(port_words, f[0], WITHOUT_CASE, &port))
        bad = f[0];
    else if (n > 1 && !find_word(channel_state_words, f[1], WITHOUT_CASE, &state))
        bad = f[1];
    else if (n > 2 && read_s2i_events(r, f[2], events, &bad) != 0)
        return;
    else if (!bad && n > 3 && !find_word(sip_answer_words, f[3], WITHOUT_CASE, &answer))
        bad = f[3];
    if (bad) {
        fprintf(stderr, "ignoring (1) line %i: %s\n", r.line_no, bad);
        return;
    }
    int row = t.size++;
    t.port_type[row] = port;
    t.call_progress_channel_state[row] = state;
    memcpy(t.call_progress_events[row], events, sizeof events);
    t.call_progress_events_answer_code[row] = (cpt_events)answer;
    t.call_progress_events_answer_string[row] = copy_text(n > 4 ? f[4] : nullptr);
}

void read_i2s_row(cpt_reader &r, char *line)
{
    cpt_i2s &t = gp->isdn_to_sip_call_progress_tables[r.table];
    if (table_full(t.size, "i2s", t.name, r.line_no))
        return;
    char *f[4];
    int n = split_fields(line, f, 4);
    int32_t port = 0, event = 0, answer = 0;
    const char *bad = nullptr;
    if (n > 0 && !find_word(port_words, f[0], WITHOUT_CASE, &port))
        bad = f[0];
    else if (n > 1 && !find_word(sip_event_words, f[1], WITHOUT_CASE, &event))
        bad = f[1];
    else if (n > 3 && !find_word(isdn_answer_words, f[3], WITH_CASE, &answer) &&
             !find_word(nothing_words, f[3], WITHOUT_CASE, &answer))
        bad = f[3];
    if (bad) {
        fprintf(stderr, "ignoring (2) line %i: %s\n", r.line_no, bad);
        return;
    }
    int row = t.size++;
    t.port_type[row] = port;
    t.call_progress_sip_event[row] = (cpt_events)event;
    t.call_progress_sip_event_match_string[row] = copy_text(n > 2 ? f[2] : nullptr);
    t.call_progress_isdn_answer_code[row] = (cpt_events)answer;
    t.call_progress_sdp_state[row] = 0;
}

// "TIMER_DIAL=ms", "TIMER_POLREV=ms", "TIMER_ALERTING_STOP=ms"; 0 or less
// leaves the timeout as it is.
void read_s2fxo_timer(cpt_reader &r, cpt_s2fxo &t, char *line)
{
    int32_t *target = nullptr;
    if (strncasecmp(line, "TIMER_DIAL", 10) == 0)
        target = &t.timeout_dial;
    else if (strncasecmp(line, "TIMER_POLREV", 12) == 0)
        target = &t.timeout_polrev;
    else if (strncasecmp(line, "TIMER_ALERTING_STOP", 19) == 0)
        target = &t.timeout_alerting_ended;
    const char *eq = strchr(line, '=');
    if (!target || !eq) {
        fprintf(stderr, "ignoring(3) line %i: %s\n", r.line_no, line);
        return;
    }
    long v = strtol(eq + 1, nullptr, 10);
    if (v > 0)
        *target = v > INT_MAX ? INT_MAX : (int32_t)v;
}

void read_s2fxo_row(cpt_reader &r, char *line)
{
    cpt_s2fxo &t = gp->sip_to_fxo_call_progress_tables[r.table];
    if (strncasecmp(line, "TIMER", 5) == 0) {
        read_s2fxo_timer(r, t, line);
        return;
    }
    if (table_full(t.size, "s2fxo", t.name, r.line_no))
        return;
    char *f[3];
    int n = split_fields(line, f, 3);
    int32_t event = 0, answer = 0;
    const char *bad = nullptr;
    if (n > 0 && !find_word(fxo_event_words, f[0], WITHOUT_CASE, &event)) {
        printf("unknown1 fxo in event %s\n", f[0]);
        bad = f[0];
    } else if (n > 1 && !find_word(sip_answer_words, f[1], WITHOUT_CASE, &answer)) {
        printf("unknown1 sip2fxo out event %s\n", f[1]);
        bad = f[1];
    }
    if (bad) {
        fflush(stdout);
        fprintf(stderr, "ignoring(3) line %i: %s\n", r.line_no, bad);
        return;
    }
    int row = t.size++;
    t.sip_to_fxo_call_progress_events[row] = (cpt_events)event;
    t.sip_to_fxo_call_progress_events_answer_code[row] = (cpt_events)answer;
    t.sip_to_fxo_call_progress_events_answer_string[row] = copy_text(n > 2 ? f[2] : nullptr);
}

// One line of at most 255 characters; the rest of a longer line is
// dropped. False at the end of the stream.
bool read_line(FILE *f, char *buf, int size)
{
    if (!fgets(buf, size, f))
        return false;
    if (!strchr(buf, '\n')) {
        int c;
        while ((c = fgetc(f)) != EOF && c != '\n') {
        }
    }
    st_remove_clrf(buf);
    return true;
}

void read_tables(FILE *f)
{
    cpt_reader r;
    char line[CPT_LINE_SIZE];
    while (read_line(f, line, sizeof line)) {
        r.line_no++;
        if (line[0] == '\0' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            open_section(r, line);
            continue;
        }
        switch (r.type) {
        case cpt_type_sip_to_isdn: read_s2i_row(r, line); break;
        case cpt_type_isdn_to_sip: read_i2s_row(r, line); break;
        case cpt_type_sip_to_fxo: read_s2fxo_row(r, line); break;
        case cpt_type_unknown: fputs("other type of section\n", stderr); break;
        }
    }
}


} // namespace

int cpt_parse_call_progress_tables(const char *path)
{
    if (!gp)
        return -1;
    lock_hold hold(&lock_manager::global_lock);
    clear_file_tables();
    FILE *f = path ? fopen(path, "r") : nullptr;
    if (!f) {
        LOGD(TARN, 5, nullptr, "Couldn't open call progress table file %s\n", path ? path : "");
        return -1;
    }
    read_tables(f);
    fclose(f);
    return 0;
}

int cpt_parse_call_progress_stream(FILE *f)
{
    if (!gp)
        return -1;
    lock_hold hold(&lock_manager::global_lock);
    clear_file_tables();
    if (!f)
        return -1;
    read_tables(f);
    return 0;
}
