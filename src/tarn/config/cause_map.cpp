#include "cause_map.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "application.h"
#include "causes.h"
#include "isdn_lib.h"
#include "log.h"

namespace {

struct default_row {
    dp_tech from;
    dp_tech to;
    int32_t in_cause;
    int32_t out_cause;
    const char *text;
};
const default_row default_causes[] = {
    /* 1 */ {TECH_SIP, TECH_TARN, -1, 486, "Busy Here"},
    /* 2 */ {TECH_SIP, TECH_ISDN, -1, 486, "Busy Here"},
    /* 3 */ {TECH_ISDN, TECH_TARN, 902, 34, nullptr},
    /* 4 */ {TECH_SIP, TECH_ANALOG, -1, 486, "Busy Here"},
    /* 5 */ {TECH_ISDN, TECH_TARN, -1, 17, nullptr},
    /* 6 */ {TECH_ISDN, TECH_SIP, -1, 17, nullptr},
};
static_assert(sizeof default_causes / sizeof default_causes[0] == 6, "six default rows");

struct destination_word {
    dp_tech from;
    const char *word;
    dp_tech to;
};
// Destinations allowed per source.
const destination_word destinations[] = {
    {TECH_SIP, "ISDN", TECH_ISDN},  {TECH_SIP, "TARN", TECH_TARN}, {TECH_SIP, "ANALOG", TECH_ANALOG},
    {TECH_SIP, "SIP", TECH_SIP},    {TECH_ISDN, "SIP", TECH_SIP},  {TECH_ISDN, "TARN", TECH_TARN},
};

char *dup_text(const char *text)
{
    return text ? strdup(text) : nullptr;
}

void free_texts(cause_map *m)
{
    for (int i = 0; i < m->count && i < CAUSE_MAP_SIZE; i++) {
        free(m->causes[i].out_cause_text);
        m->causes[i].out_cause_text = nullptr;
    }
}

// A decimal number of the file (digits only, fits an int).
bool read_number(const char *field, int32_t *out)
{
    if (!*field || strspn(field, "0123456789") != strlen(field))
        return false;
    errno = 0;
    long v = strtol(field, nullptr, 10);
    if (errno || v > INT_MAX)
        return false;
    *out = (int32_t)v;
    return true;
}

// One line into e (text not copied: *text points into the line). false for
// a line the map does not take.
bool parse_line(char *line, cause_map_element *e, const char **text)
{
    char *fields[5];
    int n = 0;
    for (char *p = line; p && n < 5;)
        fields[n++] = strsep(&p, "\t");
    bool sip = strcasecmp(fields[0], "SIP") == 0;
    bool isdn = strcasecmp(fields[0], "ISDN") == 0;
    if ((!sip && !isdn) || (sip && n < 5) || (isdn && n < 4))
        return false;
    e->from = sip ? TECH_SIP : TECH_ISDN;
    bool to_ok = false;
    for (const destination_word &d : destinations)
        if (d.from == e->from && strcasecmp(fields[1], d.word) == 0) {
            e->to = d.to;
            to_ok = true;
        }
    if (!to_ok)
        return false;
    if (strcasecmp(fields[2], "ANY") == 0)
        e->in_cause = -1;
    else if (!read_number(fields[2], &e->in_cause))
        return false;
    if (!read_number(fields[3], &e->out_cause))
        return false;
    *text = sip ? fields[4] : nullptr;
    return true;
}

// The next line of at most CAUSE_MAP_LINE_LENGTH characters; the rest of a
// longer line is read and dropped. CR and LF are removed. false at the end.
bool read_line(FILE *f, char *buf, size_t size)
{
    if (!fgets(buf, (int)size, f))
        return false;
    size_t len = strlen(buf);
    if (len > 0 && buf[len - 1] != '\n' && !feof(f)) {
        int c;
        while ((c = getc(f)) != EOF && c != '\n') {
        }
    }
    char *w = buf;
    for (char *r = buf; *r; r++)
        if (*r != '\r' && *r != '\n')
            *w++ = *r;
    *w = '\0';
    if (w - buf > CAUSE_MAP_LINE_LENGTH)
        buf[CAUSE_MAP_LINE_LENGTH] = '\0';
    return true;
}

// The next line the map would take, or false at the end of the file.
bool next_entry(FILE *f, char *buf, size_t size, cause_map_element *e, const char **text)
{
    while (read_line(f, buf, size)) {
        if (!buf[0] || buf[0] == ';' || buf[0] == '#')
            continue;
        if (parse_line(buf, e, text))
            return true;
    }
    return false;
}

} // namespace

int init_default_causes_map()
{
    cause_map *m = &gp->causemap;
    free_texts(m);
    m->count = 0;
    for (const default_row &r : default_causes)
        m->causes[m->count++] = {r.from, r.to, r.in_cause, r.out_cause, dup_text(r.text)};
    return 0;
}

int parse_causes_map(const char *path)
{
    pthread_mutex_lock(gp->locks->global_lock);
    // Only a regular file: a directory would read as empty and a FIFO could
    // block the parse under the lock.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    FILE *f = nullptr;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        f = fdopen(fd, "r");
    if (!f) {
        if (fd >= 0)
            close(fd);
        LOGD(TARN, 0, nullptr, "Failed opening %s!", path);
        pthread_mutex_unlock(gp->locks->global_lock);
        return -1;
    }
    cause_map *m = &gp->causemap;
    free_texts(m); // a reload must not leak the texts it replaces
    m->count = 0;
    char line[CAUSE_MAP_LINE_LENGTH + 2]; // the characters, a line feed, the end
    cause_map_element e{};
    const char *text = nullptr;
    while (next_entry(f, line, sizeof line, &e, &text)) {
        if (m->count == CAUSE_MAP_SIZE) {
            LOGD(TARN, 0, nullptr, "Two many lines (max %i) in causes map, ignoring the rest", m->count);
            break;
        }
        e.out_cause_text = dup_text(text);
        m->causes[m->count++] = e;
    }
    fclose(f);
    pthread_mutex_unlock(gp->locks->global_lock);
    return 0;
}

int clean_causes_map()
{
    free_texts(&gp->causemap);
    return 0;
}

int load_causes_map()
{
    const char *path = gp->path_config_causes;
    if (!path[0])
        return init_default_causes_map();
    struct stat st;
    if (stat(path, &st) != 0)
        return 0;
    parse_causes_map(path);
    int cause = 0;
    const char *text = nullptr;
    get_reject_cause(TECH_ISDN, TECH_TARN, 902, &cause, &text);
    misdn_cw_reject_code = cause;
    return 0;
}
