// Loading the dial plan file.
//
// Every line is parsed into a scratch element and stored only when it
// loaded, so a rejected line leaves nothing behind, and nothing is ever
// stored at or past the number of lines the first pass counted.
#include "dialplan.h"

#include <pthread.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "dialplan_intern.h"
#include "global_lock.h"
#include "log.h"
#include "strtools.h"

namespace {

constexpr int LINE_BUFFER = 8192; // a longer line is read as several
constexpr int FIELD_MAX = 4095;   // characters a field keeps
constexpr int CONFIG_MAX = 2047;  // a configuration with the codec list appended
constexpr int FIELDS = 9;

struct tech_word {
    const char *word;
    dp_tech tech;
};

constexpr tech_word tech_words[] = {
    {"SIP", TECH_SIP}, {"ISDN", TECH_ISDN},     {"GSM", TECH_GSM}, {"LTE", TECH_GSM},
    {"ANALOG", TECH_ANALOG}, {"CAS", TECH_CAS}, {"ITAPI", TECH_ITAPI},
};

// A technology word (case ignored); ITAPI only as a destination.
bool parse_tech(const char *word, bool destination, dp_tech *tech)
{
    for (const tech_word &t : tech_words)
        if (strcasecmp(word, t.word) == 0 && (destination || t.tech != TECH_ITAPI)) {
            *tech = t.tech;
            return true;
        }
    return false;
}

bool is_comment(const char *line)
{
    return line[0] == ';' || line[0] == '#' || line[0] == '\n' || line[0] == '\r' || line[0] == '\0';
}

// The own address in any of its spellings is the local SIP port group.
char *copy_id(const char *id)
{
    static const char *const local_names[] = {"127.0.0.1", "(127.0.0.1)", "(localhost)", "localhost"};
    for (const char *n : local_names)
        if (strcmp(id, n) == 0)
            return strdup("p:__local__");
    return strdup(id);
}

char *copy_pattern(const char *p)
{
    return strdup(strcmp(p, "*") == 0 ? "(.*)" : p);
}

bool begins_with(const char *s, const char *prefix)
{
    return s && strncmp(s, prefix, strlen(prefix)) == 0;
}

// The configuration of the line; an internal SIP-to-PSTN line without a
// codec list gets one.
char *copy_config(const char *config, bool internal_sip_to_pstn)
{
    if (!internal_sip_to_pstn || strstr(config, "codecs="))
        return strdup(config);
    std::string with_codecs = std::string(config) + ",codecs=pcma:pcmu:CLEARMODE";
    if (with_codecs.size() > CONFIG_MAX)
        with_codecs.resize(CONFIG_MAX);
    return strdup(with_codecs.c_str());
}

// SIP source: a port group ("p:", "d:", "t:", "a:") or an address pattern.
int parse_sip_source(dialplan_element *e, int line_no)
{
    if (strcmp(e->from_id, "*") == 0) {
        free(e->from_id);
        e->from_id = strdup("(.*)");
        if (!e->from_id)
            return -1;
    }
    const char *id = e->from_id;
    const char *rest = id[0] == '!' ? id + 1 : id;
    bool group = begins_with(rest, "p:") || begins_with(rest, "d:") || begins_with(rest, "t:") ||
                 begins_with(rest, "a:");
    if (group) {
        // A negated group source is not supported: it is refused like an
        // unknown group rather than read with the '!' in its name.
        if (rest != id) {
            LOGD(TARN, 1, nullptr, "CRITICAL: invalid sip port group %s on line %i, skipping line", id, line_no);
            return -1;
        }
        if (begins_with(id, "d:"))
            e->match_for_fromuser = 1;
        if (strstr(id + 2, "${")) // resolved when the line is searched
            return 0;
        int user_index = -1;
        port_group_sip *pgs = dialplan_sip.get_port_group_sip_by_name(id, &user_index);
        if (!pgs) {
            LOGD(TARN, 1, nullptr, "CRITICAL: invalid sip port group %s on line %i, skipping line", id, line_no);
            return -1;
        }
        e->pd_in = dialplan_sip.create_inbound_proxy_definition(pgs, user_index);
        return 0;
    }
    if (dialplan_compile_pattern(id, &e->regexp_from_id, &e->not_matching_from_id) != 0) {
        LOGD(TARN, 1, nullptr, "CRITICAL: invalid regex %s in dialplan on line %i, skipping line", id, line_no);
        return -1;
    }
    return 0;
}

// One data line (CR and LF removed) into e, which starts zeroed. 0 when it
// loaded; otherwise the message is logged and e still owns what it took.
int parse_line(dialplan_element *e, char *line, int line_no)
{
    int tabs = 0;
    for (const char *p = line; *p; p++)
        tabs += *p == '\t';
    if (tabs != FIELDS - 1) {
        LOGD(TARN, 1, nullptr, "CRITICAL: invalid line %i, wrong number of fields, got %i instead of 8", line_no, tabs);
        return -1;
    }
    char *f[FIELDS];
    char *p = line;
    for (int i = 0; i < FIELDS; i++) {
        f[i] = p;
        p = strchr(p, '\t');
        if (p)
            *p++ = '\0';
        if (strlen(f[i]) > FIELD_MAX)
            f[i][FIELD_MAX] = '\0';
    }
    if (!parse_tech(f[0], false, &e->from_tech)) {
        LOGD(TARN, 1, nullptr, "CRITICAL: Error parsing token \"%s\" in section 1 on line %i, skipping\n", f[0],
             line_no);
        return -1;
    }
    if (!parse_tech(f[1], true, &e->to_tech)) {
        LOGD(TARN, 1, nullptr, "CRITICAL: Error parsing token \"%s\" in section 2 on line %i, skipping\n", f[1],
             line_no);
        return -1;
    }
    e->from_id = copy_id(f[2]);
    e->to_id = copy_id(f[3]);
    e->original_destination = copy_pattern(f[4]);
    e->internal_sip_to_pstn_call = begins_with(f[4], "ISDNZUISDN");
    e->new_destination = strdup(f[5]);
    e->internal_pstn_to_sip = begins_with(f[5], "ISDNZUISDN");
    e->original_source = copy_pattern(f[6]);
    e->new_source = strdup(f[7]);
    e->config = copy_config(f[8], e->internal_sip_to_pstn_call);
    if (!e->from_id || !e->to_id || !e->original_destination || !e->new_destination || !e->original_source ||
        !e->new_source || !e->config) {
        LOGD(TARN, 1, nullptr, "CRITICAL: out of memory on dialplan line %i, skipping line", line_no);
        return -1;
    }

    e->cc = cc_parse_call_configuration_pool(nullptr, e->config);

    switch (e->from_tech) {
    case TECH_SIP:
        if (parse_sip_source(e, line_no) != 0)
            return -1;
        break;
    case TECH_ISDN:
    case TECH_GSM:
    case TECH_ANALOG:
    case TECH_CAS:
        break; // ports and port groups are read when the line is searched
    default:
        TARN_EXIT(100, "Dialplan Tech %i not supported", (int)e->from_tech);
    }

    if (e->to_tech == TECH_SIP)
        e->pd_out = dialplan_sip.create_outbound_proxy_definition_by_id(e->to_id);

    if (dialplan_compile_pattern(e->original_source, &e->regexp_original_source, &e->not_matching_source) != 0) {
        LOGD(TARN, 1, nullptr, "CRITICAL: invalid regex %s in dialplan on line %i, skipping line", f[6], line_no);
        return -1;
    }
    if (dialplan_compile_pattern(e->original_destination, &e->regexp_original_destination,
                                 &e->not_matching_destination) != 0) {
        LOGD(TARN, 1, nullptr, "CRITICAL: invalid regex %s in dialplan on line %i, skipping line", f[4], line_no);
        return -1;
    }
    return 0;
}

// Lines that may hold a route: not comments, not only blanks and TABs.
int count_lines(FILE *f)
{
    char buf[LINE_BUFFER];
    int n = 0;
    while (fgets(buf, sizeof buf, f)) {
        if (!is_comment(buf) && buf[strspn(buf, " \t\r\n")] != '\0')
            n++;
    }
    return n;
}

void clear_table()
{
    for (int i = 0; gp->dialplan && i < gp->dialplan_size; i++)
        dialplan_cleanup_element(&gp->dialplan[i]);
    free(gp->dialplan);
    gp->dialplan = nullptr;
    gp->dialplan_size = 0;
}


void read_lines(FILE *f, dialplan_element *table, int capacity)
{
    char buf[LINE_BUFFER];
    int line_no = 0, stored = 0;
    while (fgets(buf, sizeof buf, f)) {
        line_no++;
        if (is_comment(buf))
            continue;
        st_remove_clrf(buf);
        char *original = strdup(buf);
        dialplan_element scratch{};
        if (!original || parse_line(&scratch, buf, line_no) != 0) {
            dialplan_cleanup_element(&scratch);
            free(original);
            continue;
        }
        if (stored >= capacity) { // the file grew between the two passes
            LOGD(TARN, 1, nullptr, "CRITICAL: dialplan line %i beyond the %i lines counted, skipping line", line_no,
                 capacity);
            dialplan_cleanup_element(&scratch);
            free(original);
            continue;
        }
        scratch.line = line_no;
        scratch.index = stored;
        scratch.original_line = original;
        table[stored++] = scratch;
    }
    gp->dialplan_size = stored;
}

} // namespace

void dialplan_free_table()
{
    clear_table();
}

int dialplan_load(const char *path)
{
    FILE *f = path ? fopen(path, "r") : nullptr;
    if (!f) {
        LOGD(TARN, 0, nullptr, "CRITICAL: cannot read dialplan %s", path ? path : "");
        return -1;
    }
    if (!gp) {
        fclose(f);
        return -1;
    }
    {
        lock_hold hold(&lock_manager::dialplan_lock);
        clear_table();
        int capacity = count_lines(f);
        rewind(f);
        if (capacity > 0) {
            gp->dialplan = (dialplan_element *)calloc((size_t)capacity, sizeof(dialplan_element));
            if (!gp->dialplan) {
                LOGD(TARN, 0, nullptr, "CRITICAL: no memory for %i dialplan lines", capacity);
                capacity = 0;
            }
        }
        read_lines(f, gp->dialplan, capacity);
        // Configurations no line or call holds any more go.
        cc_clean_call_configuration_pool();
    }
    fclose(f);
    return 0;
}
