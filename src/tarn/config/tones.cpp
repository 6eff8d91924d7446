#include "tones.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "confman.h"
#include "log.h"
#include "schema.h"

namespace {

const int MAX_FREQUENCIES = 4;
const int NUMBER_LIMIT = 65535; // every number lands in a 16-bit word

// One comma-separated item of a tone definition.
struct tone_item {
    int nfreq;                         // frequencies written (0: no frequency at all)
    int freq[MAX_FREQUENCIES];         // in the order written
    bool times[MAX_FREQUENCIES];       // a "*" joins this frequency to the next
    int duration;                      // after "/", or -1
    bool once;                         // a "!" in the item

    bool silent() const
    {
        for (int i = 0; i < nfreq; i++)
            if (freq[i])
                return false;
        return true;
    }
    bool same_tone(const tone_item &o) const
    {
        if (nfreq != o.nfreq)
            return false;
        for (int i = 0; i < nfreq; i++)
            if (freq[i] != o.freq[i] || times[i] != o.times[i])
                return false;
        return true;
    }
};

// Reads the item that starts at p (up to the next "," or the end) and
// returns where the next one starts, or null after the last item. Numbers
// saturate at 65535; characters other than digits, "+", "*", "/" and "!"
// are skipped.
const char *next_item(const char *p, tone_item *it)
{
    if (!p)
        return nullptr;
    *it = tone_item{};
    it->duration = -1;
    bool in_duration = false, digits = false;
    int number = 0;
    auto end_frequency = [&](bool times) {
        if (digits && it->nfreq < MAX_FREQUENCIES) {
            it->times[it->nfreq] = times;
            it->freq[it->nfreq++] = number;
        }
        number = 0;
        digits = false;
    };
    for (; *p && *p != ','; p++) {
        char c = *p;
        if (isdigit((unsigned char)c)) {
            number = number * 10 + (c - '0');
            if (number > NUMBER_LIMIT)
                number = NUMBER_LIMIT;
            digits = true;
        } else if (c == '!') {
            it->once = true;
        } else if (in_duration) {
            continue; // a second "/" or a stray sign inside the duration
        } else if (c == '+' || c == '*') {
            end_frequency(c == '*');
        } else if (c == '/') {
            end_frequency(false);
            in_duration = true;
        }
    }
    if (in_duration) {
        if (digits)
            it->duration = number;
    } else {
        end_frequency(false);
    }
    // A "*" only joins when a frequency follows it.
    if (it->nfreq > 0)
        it->times[it->nfreq - 1] = false;
    return *p == ',' ? p + 1 : nullptr;
}

// The tone program's entry of a distinct tone.
void fill_tone(tone_description *td, const tone_item &it, int level)
{
    *td = tone_description{};
    int modulating = -1;
    for (int i = 0; i < it.nfreq && modulating < 0; i++)
        if (it.times[i])
            modulating = i + 1;
    if (modulating > 0) {
        // a*b: the fourth frequency modulates the first
        td->tone_freq1 = it.freq[0];
        td->tone_level1 = it.freq[0] ? level : 0;
        td->tone_freq4 = it.freq[modulating];
        td->tone_level4 = level;
        td->sum_or_multiply_flag = 1;
        return;
    }
    const int n = it.nfreq;
    if (n > 0) { td->tone_freq1 = it.freq[0]; td->tone_level1 = it.freq[0] ? level : 0; }
    if (n > 1) { td->tone_freq2 = it.freq[1]; td->tone_level2 = it.freq[1] ? level : 0; }
    if (n > 2) { td->tone_freq3 = it.freq[2]; td->tone_level3 = it.freq[2] ? level : 0; }
    if (n > 3) { td->tone_freq4 = it.freq[3]; td->tone_level4 = it.freq[3] ? level : 0; }
}

// One tone item of the cadence.
struct tone_step {
    int tone; // from 1
    int on;
    int off;
    bool off_set;
    bool once;
};

int to_int(const std::string &s)
{
    return (int)strtol(s.c_str(), nullptr, 10);
}

// The text split at sep, each piece trimmed of blanks.
std::vector<std::string> split(const char *text, char sep)
{
    std::vector<std::string> out;
    if (!text)
        return out;
    std::string cur;
    auto push = [&]() {
        size_t b = cur.find_first_not_of(" \t"), e = cur.find_last_not_of(" \t");
        out.push_back(b == std::string::npos ? std::string() : cur.substr(b, e - b + 1));
        cur.clear();
    };
    for (const char *p = text; *p; p++) {
        if (*p == sep)
            push();
        else
            cur += *p;
    }
    push();
    return out;
}

struct event_word {
    const char *word;
    int type;
};
const event_word acp_event_words[] = {
    {"DIAL", ACP_EVENT_DIAL},
    {"RING", ACP_EVENT_RING},
    {"BUSY", ACP_EVENT_BUSY},
    {"UNOBTAINABLE", ACP_EVENT_CONGESTION},
    {"CONGESTION", ACP_EVENT_CONGESTION},
    {"BUSY1", ACP_EVENT_BUSY1},
    {"UNOBTAINABLE1", ACP_EVENT_CONGESTION1},
    {"CONGESTION1", ACP_EVENT_CONGESTION1},
};

int acp_event_type_of(const std::string &word)
{
    for (const event_word &w : acp_event_words)
        if (word == w.word)
            return w.type;
    return ACP_EVENT_NONE;
}

// "auto": the windows of one detected tone from its definition.
void auto_window(call_progress_tone_config *cp, int index, const char *def)
{
    tone_item first{}, second{}, it;
    int items = 0;
    for (const char *p = def; p && *p;) {
        p = next_item(p, &it);
        if (it.nfreq == 0)
            continue;
        if (items == 0)
            first = it;
        else if (items == 1)
            second = it;
        if (++items > 1)
            break;
    }
    if (items == 0)
        return; // empty definition: unchanged
    if (items == 1) {
        cp->acp_detect_on_low[index] = cp->acp_detect_on_high[index] = 4000;
        cp->acp_detect_off_low[index] = cp->acp_detect_off_high[index] = 0;
        return;
    }
    // x 0.9 and x 1.1 cut towards zero, exactly
    if (first.duration >= 0) {
        cp->acp_detect_on_low[index] = first.duration * 9 / 10;
        cp->acp_detect_on_high[index] = first.duration * 11 / 10;
    }
    if (second.duration >= 0) {
        cp->acp_detect_off_low[index] = second.duration * 9 / 10;
        cp->acp_detect_off_high[index] = second.duration * 11 / 10;
    }
}

void parse_acp_detect(call_progress_tone_config *cp, const char *text)
{
    std::vector<std::string> items = split(text, ',');
    for (size_t k = 0; k < items.size(); k++) {
        if (k >= ACP_TONES) {
            LOGD(ANALOG, 1, nullptr, "acp_detect: more than %i items, ignoring \"%s\" and the rest", ACP_TONES,
                 items[k].c_str());
            break;
        }
        std::vector<std::string> f = split(items[k].c_str(), ':');
        int id = to_int(f[0]);
        if (id < 50 || id > 53)
            continue;
        int i = id - 50;
        int32_t *dst[] = {&cp->acp_detect_on_low[i], &cp->acp_detect_on_high[i], &cp->acp_detect_off_low[i],
                          &cp->acp_detect_off_high[i]};
        for (size_t n = 1; n < f.size() && n <= 4; n++)
            *dst[n - 1] = to_int(f[n]);
        if (f.size() > 5)
            LOGD(ANALOG, 1, nullptr, "%s cannot parse %s", "acp_detect", items[k].c_str());
    }
}

void parse_acp_event(call_progress_tone_config *cp, const char *text)
{
    std::vector<std::string> items = split(text, ',');
    for (size_t k = 0; k < items.size(); k++) {
        if (k >= ACP_EVENTS) {
            LOGD(ANALOG, 1, nullptr, "acp_event: more than %i items, ignoring \"%s\" and the rest", ACP_EVENTS,
                 items[k].c_str());
            break;
        }
        std::vector<std::string> f = split(items[k].c_str(), ':');
        for (size_t n = 0; n < 3; n++)
            cp->events[k][n] = n < f.size() ? to_int(f[n]) : 0;
        cp->events[k][3] = f.size() > 3 ? acp_event_type_of(f[3]) : ACP_EVENT_NONE;
    }
}

// A key of a tone-set section (its own value or the schema's default).
std::string set_key(const char *language_code, int key)
{
    char buf[4096];
    if (!gp || !gp->config_tones ||
        cm_get_by_cat(gp->config_tones, buf, sizeof buf, 1, key, language_code) != 0)
        return std::string();
    return buf;
}

} // namespace

int parse_tone_definition(const char *definition, tone_config *tc, int level)
{
    *tc = tone_config{};
    tone_item distinct[TONE_CONFIG_TONES];
    int tones = 0;
    tone_step steps[TONE_CONFIG_CADENCE_WORDS / 3];
    int nsteps = 0;
    bool repeated = false; // an item not marked once was taken

    tone_item it;
    for (const char *p = definition; p && *p;) {
        p = next_item(p, &it);
        if (it.nfreq == 0)
            continue;
        if (it.silent()) {
            // off time of the nearest earlier tone item still without one
            for (int s = nsteps - 1; s >= 0; s--)
                if (!steps[s].off_set) {
                    steps[s].off = it.duration >= 0 ? it.duration : 0;
                    steps[s].off_set = true;
                    break;
                }
            continue;
        }
        int tone = 0;
        for (int t = 0; t < tones && !tone; t++)
            if (distinct[t].same_tone(it))
                tone = t + 1;
        if (!tone && tones == TONE_CONFIG_TONES) {
            LOGD(TARN, 1, nullptr, "tone definition %s: more than %i tones, ignoring the rest", definition,
                 TONE_CONFIG_TONES);
            break;
        }
        // three words per item, plus the marks 4096 and 8192 once an item
        // that repeats is in
        bool rep = repeated || !it.once;
        if (3 * (nsteps + 1) + (rep ? 2 : 0) > TONE_CONFIG_CADENCE_WORDS) {
            LOGD(TARN, 1, nullptr, "tone definition %s: more than %i cadence words, ignoring the rest",
                 definition, TONE_CONFIG_CADENCE_WORDS);
            break;
        }
        if (!tone) {
            distinct[tones] = it;
            fill_tone(&tc->tones[tones], it, level);
            tone = ++tones;
        }
        steps[nsteps++] = {tone, it.duration >= 0 ? it.duration : TONE_CADENCE_NO_DURATION, 0, false, it.once};
        repeated = rep;
    }
    tc->number_of_tones = (uint16_t)tones;

    int n = 0;
    bool repeat_marked = false;
    for (int s = 0; s < nsteps; s++) {
        if (!steps[s].once && !repeat_marked) {
            tc->cadence_parameters[n++] = TONE_CADENCE_REPEAT_START;
            repeat_marked = true;
        }
        tc->cadence_parameters[n++] = (uint16_t)steps[s].tone;
        tc->cadence_parameters[n++] = (uint16_t)steps[s].on;
        tc->cadence_parameters[n++] = (uint16_t)steps[s].off;
    }
    if (repeat_marked)
        tc->cadence_parameters[n++] = TONE_CADENCE_END;
    tc->number_of_cadence_parameters = n;
    return 0;
}

int parse_analog_tone_definition(const char *definition, analog_dial_tone_config *adt, int)
{
    *adt = analog_dial_tone_config{};
    tone_item items[4];
    int n = 0;
    tone_item it;
    for (const char *p = definition; p && *p && n < 4;) {
        p = next_item(p, &it);
        if (it.nfreq > 0)
            items[n++] = it;
    }
    if (n == 0 || n == 3)
        return 0;
    auto on = [](const tone_item &i) { return i.duration >= 0 ? i.duration : (int)TONE_CADENCE_NO_DURATION; };
    auto off = [](const tone_item &i) { return i.duration >= 0 ? i.duration : 0; };
    adt->c1_f1 = items[0].freq[0];
    adt->c1_f2 = items[0].nfreq > 1 ? items[0].freq[1] : 0;
    adt->c1_on_time = on(items[0]);
    adt->c1_off_time = n >= 2 ? off(items[1]) : 0;
    if (n >= 4) {
        adt->c2_f1 = items[2].freq[0];
        adt->c2_f2 = items[2].nfreq > 1 ? items[2].freq[1] : 0;
        adt->c2_on_time = on(items[2]);
        adt->c2_off_time = off(items[3]);
    }
    return 0;
}

void parse_call_progress_texts(call_progress_tone_config *cp, const char *acp_detect, const char *acp_event,
                               const char *const defs[ACP_TONES])
{
    if (acp_detect && strcmp(acp_detect, "auto") == 0) {
        for (int i = 0; i < ACP_TONES; i++)
            auto_window(cp, i, defs[i]);
    } else {
        parse_acp_detect(cp, acp_detect);
    }
    parse_acp_event(cp, acp_event);
}

int parse_call_progress_tones(tone_config_set *set)
{
    const char *code = set->language_code ? set->language_code : "";
    std::string defs[ACP_TONES] = {set_key(code, CFG_TONES_NAME_DIAL), set_key(code, CFG_TONES_NAME_RING),
                                   set_key(code, CFG_TONES_NAME_BUSY), set_key(code, CFG_TONES_NAME_CONGESTION)};
    const char *def_texts[ACP_TONES] = {defs[0].c_str(), defs[1].c_str(), defs[2].c_str(), defs[3].c_str()};
    parse_call_progress_texts(&set->call_progress, set_key(code, CFG_TONES_NAME_ACP_DETECT).c_str(),
                              set_key(code, CFG_TONES_NAME_ACP_EVENT).c_str(), def_texts);
    return 0;
}

static int cadence_sum(const char *definition)
{
    int sum = 0;
    tone_item it;
    for (const char *p = definition; p && *p;) {
        p = next_item(p, &it);
        if (it.duration > 0)
            sum += it.duration;
    }
    return sum;
}

void init_tones()
{
    char buf[64];
    int level = 0;
    if (cm_get(gp->config_tones, buf, sizeof buf, 0, CFG_TONES_LEVEL) == 0)
        level = (int)strtol(buf, nullptr, 10);

    headtonelist *list = (headtonelist *)calloc(1, sizeof *list);
    gp->tonelist = list;
    if (!list)
        return;

    char name[256];
    const char *prev = nullptr;
    std::string prev_name;
    while (cm_get_next_cat(gp->config_tones, 1, prev, name, sizeof name) == 1) {
        prev_name = name;
        prev = prev_name.c_str();
        tone_config_set *set = (tone_config_set *)calloc(1, sizeof *set);
        if (!set)
            break;
        set->language_code = strdup(name);
        set->description = strdup(set_key(name, CFG_TONES_NAME_DESCRIPTION).c_str());
        std::string dial = set_key(name, CFG_TONES_NAME_DIAL);
        parse_tone_definition(dial.c_str(), &set->dial, level);
        parse_analog_tone_definition(dial.c_str(), &set->analog_dial, 0);
        parse_analog_tone_definition(set_key(name, CFG_TONES_NAME_MWSTUTTER).c_str(), &set->analog_stutter, 0);
        std::string ring = set_key(name, CFG_TONES_NAME_RING);
        parse_tone_definition(ring.c_str(), &set->ring, level);
        set->combined_ringtone_cadence_length = cadence_sum(ring.c_str());
        parse_tone_definition(set_key(name, CFG_TONES_NAME_BUSY).c_str(), &set->busy, level);
        parse_tone_definition(set_key(name, CFG_TONES_NAME_CONGESTION).c_str(), &set->congestion, level);
        set->call_progress = call_progress_tone_config{};
        parse_call_progress_tones(set);
        if (list->last)
            list->last->list = set;
        else
            list->first = set;
        list->last = set;
    }
}

void free_tone_list(headtonelist *list)
{
    if (!list)
        return;
    for (tone_config_set *s = list->first, *next; s; s = next) {
        next = s->list;
        free(s->language_code);
        free(s->description);
        free(s);
    }
    free(list);
}
