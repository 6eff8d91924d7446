// The small languages of the structured options: text to record. Each
// parser splits a private copy of its text, skips what it cannot use and
// keeps what it had for the fields it does not write.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "cc_internal.h"

static const cc_tag no_tag{};

static int decimal(const char *text)
{
    return (int)strtol(text, nullptr, 10);
}

// A bounded private copy, as the parsers with a fixed buffer take it.
template <size_t N> struct text_copy {
    char buf[N];
    explicit text_copy(const char *text) { snprintf(buf, N, "%s", text ? text : ""); }
    char *rest = buf;
};

int cc_allow_codecs(codec_settings *cs, const char *text)
{
    cc_clear_codec_settings(cs);
    std::string copy(text ? text : "");
    char *rest = copy.data(), *item;
    while ((item = strsep(&rest, ":"))) {
        if (!item[0]) {
            printf("ignoring empty token\n");
            continue;
        }
        if (cs->count == CC_MAX_CODECS) {
            CC_LOG(2, no_tag, "Maximum amount of codecs reached (no %s)", item);
            break;
        }
        const audio_codec *found = nullptr;
        for (const audio_codec &c : available_audio_codecs)
            if (strcasecmp(c.name, item) == 0)
                found = &c;
        if (!found) {
            CC_LOG(2, no_tag, "Ignoring unknown codec %s", item);
            continue;
        }
        cs->allowed_codecs[cs->count++] = found;
    }
    return cs->count;
}

int32_t cc_parse_crypto_suites(const char *text)
{
    static const struct {
        const char *long_name, *short_name;
        int code;
    } suites[] = {
        {"AES_CM_128_HMAC_SHA1_80", "AES_CM_80", CC_CRYPTO_AES_CM_80},
        {"AES_CM_128_HMAC_SHA1_32", "AES_CM_32", CC_CRYPTO_AES_CM_32},
        {"F8_128_HMAC_SHA1_80", "F8_80", CC_CRYPTO_F8_80},
    };
    text_copy<256> t(text);
    uint32_t word = 0;
    int stored = 0;
    bool seen[4] = {};
    char *item;
    while (stored < 3 && (item = strsep(&t.rest, ":"))) {
        int code = 0;
        for (const auto &s : suites)
            if (strcmp(item, s.long_name) == 0 || strcmp(item, s.short_name) == 0)
                code = s.code;
        if (!code || seen[code]) {
            CC_LOG(5, no_tag, "ignoring invalid crypto token |%s|", item);
            continue;
        }
        seen[code] = true;
        word |= (uint32_t)code << (8 * stored++);
    }
    return (int32_t)word;
}

void cc_parse_sip_failover_causes(call_configuration *cc, const char *text)
{
    text_copy<1024> t(text);
    cc->sip_failover_causes_size = 0;
    char *item;
    while ((item = strsep(&t.rest, ":"))) {
        if (!item[0]) {
            printf("ignoring empty token\n");
            continue;
        }
        if (cc->sip_failover_causes_size == 20) {
            CC_LOG(2, no_tag, "Maximum amount of failover causes reached (no %s)", item);
            break;
        }
        int code = decimal(item);
        if (code >= 400 && code <= 9999)
            cc->sip_failover_causes[cc->sip_failover_causes_size++] = code;
    }
    cc->sip_failover_causes_set = 1;
}

void cc_set_t38_options(t38options *o, const char *text)
{
    const struct {
        const char *key;
        unsigned limit; // values below it are valid
        int32_t t38options::*field;
    } keys[] = {
        {"plc", 3, &t38options::plc},    {"ecm", 2, &t38options::ecm}, {"rc_fp", 4, &t38options::rc_fp},
        {"rc_t30", 8, &t38options::rc_t30}, {"fcs", 7, &t38options::fcs}, {"tcf", 2, &t38options::tcf},
        {"tsp", 2, &t38options::tsp},
    };
    std::string copy(text ? text : "");
    char *rest = copy.data(), *item;
    while ((item = strsep(&rest, ":"))) {
        char *value = strchr(item, '=');
        if (!value) {
            CC_LOG(2, no_tag, "ignoring invalid t38option key/value: %s:%s", item, "");
            continue;
        }
        *value++ = '\0';
        bool known = false;
        for (const auto &k : keys) {
            if (strcmp(item, k.key) != 0)
                continue;
            known = true;
            unsigned v = (unsigned)decimal(value);
            if (v < k.limit)
                o->*k.field = (int32_t)v;
            else
                CC_LOG(2, no_tag, "ignoring invalid value for t38option %s, cannot be %s", item, value);
        }
        if (!known)
            CC_LOG(2, no_tag, "don't know t38option %s", item);
    }
}

void cc_parse_force_t38_reinvite(t38_force_reinvite *f, const char *text)
{
    std::string copy(text ? text : "");
    char *rest = copy.data(), *item;
    f->count = 0;
    while (f->count < CC_MAX_T38_REINVITE_TIMES && (item = strsep(&rest, ":"))) {
        long v = strtol(item, nullptr, 10);
        if (v >= 1 && v <= 65534 && (f->count == 0 || (uint32_t)v > f->times[f->count - 1]))
            f->times[f->count++] = (uint32_t)v;
    }
}

void cc_set_faxdetect_options(faxdetect_options_def *f, const char *text)
{
    if (gp)
        *f = gp->default_call_configuration.faxdetect_options;
    std::string copy(text ? text : "");
    char *rest = copy.data(), *item;
    for (int i = 0; i < 6 && (item = strsep(&rest, ":")); i++) {
        if (!item[0])
            continue; // not given: keeps the default
        uint32_t v = (uint32_t)decimal(item);
        switch (i) {
        case 0: f->fr_connect_window = v; break;
        case 1: f->fr_min_events = v; break;
        case 2: f->fr_min_tonelength = v; break;
        case 3: f->fr_max_tonelength = v; break;
        case 4: f->fr_min_interval = v; break;
        case 5: f->fr_max_interval = v; break;
        }
    }
    CC_LOG(8, no_tag,
           "parsed: connect_window %i, min_events %i, min_tonelength %i, max_tonelength %i, min_interval %i, "
           "max_interval %i",
           (int)f->fr_connect_window, (int)f->fr_min_events, (int)f->fr_min_tonelength, (int)f->fr_max_tonelength,
           (int)f->fr_min_interval, (int)f->fr_max_interval);
}

void cc_parse_feature_codes(feature_code_def *f, const char *text)
{
    text_copy<1024> t(text);
    f->size = 0;
    char *entry;
    // Entries past the 32 places of the record are ignored.
    while (f->size < CC_MAX_FEATURE_CODES && (entry = strsep(&t.rest, ";"))) {
        int slot = f->size;
        f->fbuffer[0] = f->tbuffer[0] = '\0';
        f->ifc_direction[slot] = 'f';
        f->ifc_eventlist[slot] = IFC_NONE;
        char *dir = strsep(&entry, ":");
        if (strcmp(dir, "f") != 0 && strcmp(dir, "b") != 0 && strcmp(dir, "t") != 0)
            continue;
        f->ifc_direction[slot] = dir[0];
        char *code = strsep(&entry, ":");
        if (!code)
            continue;
        snprintf(f->ifc_codelist[slot], sizeof f->ifc_codelist[slot], "%s", code); // longer codes are cut
        char *event = strsep(&entry, ":");
        if (!event)
            continue;
        f->ifc_eventlist[slot] = strcasecmp(event, "mcid") == 0  ? IFC_MCID
                                 : strcasecmp(event, "afh") == 0 ? IFC_AFH
                                                                 : IFC_NONE;
        f->size++;
    }
}

static aoc_type aoc_type_of(const char *word)
{
    if (strncasecmp(word, "cur", 3) == 0)
        return AOC_TYPE_CURRENCY;
    if (strncasecmp(word, "chu", 3) == 0)
        return AOC_TYPE_CHARGING;
    if (strncasecmp(word, "analog12k", 9) == 0)
        return AOC_TYPE_ANALOG12K;
    if (strncasecmp(word, "analog16k", 9) == 0)
        return AOC_TYPE_ANALOG16K;
    return AOC_TYPE_NONE;
}

void cc_parse_aoc_definition(aoc_definition *a, const char *text)
{
    std::string copy(text ? text : "");
    char *rules = strchr(copy.data(), '|');
    if (!rules) {
        a->aoctype = AOC_TYPE_NONE;
        return;
    }
    *rules++ = '\0';
    char *header = copy.data();
    a->aoctype = aoc_type_of(strsep(&header, ":"));
    if (a->aoctype == AOC_TYPE_NONE)
        return;
    if (a->aoctype == AOC_TYPE_CURRENCY) {
        char *name = strsep(&header, ":");
        char *multiplier = strsep(&header, ":");
        if (name)
            snprintf(a->currency, 10, "%s", name); // up to 9 characters
        if (multiplier) {
            int m = decimal(multiplier);
            a->multiplier = (uint8_t)(m < 0 ? 0 : m > 6 ? 6 : m);
        }
    }
    char *rule;
    int slot = 0;
    while ((rule = strsep(&rules, "|"))) {
        aoc_interval &iv = a->aocintervals[slot];
        char *item = strsep(&rule, ":");
        iv.units = decimal(item);
        iv.interval = 30;
        iv.repeats = -1;
        if ((item = strsep(&rule, ":")))
            iv.interval = decimal(item);
        if ((item = strsep(&rule, ":")))
            iv.repeats = decimal(item);
        while ((item = strsep(&rule, ":")))
            CC_LOG(5, no_tag, "unexpected value %s", item);
        a->number_of_rules = (uint8_t)++slot;
        if (slot == CC_MAX_AOC_RULES) {
            CC_LOG(3, no_tag, "maximum number of 16 interval definitions, ignoring the rest");
            break;
        }
    }
}

void cc_parse_fxo_definition(fxo_pr_definition *f, const char *text)
{
    std::string copy(text ? text : "");
    char *rest = copy.data(), *rule;
    f->count = 0;
    // Rules past the 8 places of the record are ignored.
    while (f->count < CC_MAX_FXO_RULES && (rule = strsep(&rest, "|"))) {
        int slot = f->count;
        f->polarity_counter[slot] = decimal(strsep(&rule, ":"));
        char *state = strsep(&rule, ":");
        if (!state)
            continue;
        if (strcasecmp(state, "RINGING") == 0)
            f->state[slot] = FXO_PR_STATE_RINGING;
        else if (strcasecmp(state, "CONNECTED") == 0)
            f->state[slot] = FXO_PR_STATE_CONNECTED;
        else
            continue; // the slot is reused
        char *event = strsep(&rule, ":");
        if (!event)
            continue;
        if (strcasecmp(event, "CONNECT") == 0)
            f->event[slot] = FXO_PR_EVENT_CONNECT;
        else if (strcasecmp(event, "DISCONNECT") == 0)
            f->event[slot] = FXO_PR_EVENT_DISCONNECT;
        else {
            f->count++; // ends the rule, which counts with its event as it was
            continue;
        }
        if (!rule)
            f->count++; // exactly three items
    }
}

void cc_parse_ec_sparse_params(echo_canceller_sparse_params *e, const char *text)
{
    std::string copy(text ? text : "");
    char *rest = copy.data(), *item;
    while ((item = strsep(&rest, "|"))) {
        char *value = strchr(item, ':');
        if (!value)
            continue;
        *value++ = '\0';
        int index = decimal(item), v = decimal(value);
        bool bit = v == 0 || v == 1;
        switch (index) {
        case 0: if (bit) e->dc_removal_filter_disable = v; break;
        case 1: if (bit) e->g168_ec_initialization = v; break;
        case 2: if (bit) e->initialization_request = v; break;
        case 3: if (bit) e->hardware_echo_canceller_coefficient_freeze = v; break;
        case 4: if (bit) e->nlp_control = v; break;
        case 5: if (v >= 0 && v <= 2) e->nlp_tune_field = v; break;
        case 6: if (bit) e->comfort_noise_generation_disable = v; break;
        default: break;
        }
    }
}

void cc_parse_r2config(mfcr2_profile *p, const char *text)
{
    std::string copy(text ? text : "");
    char *rest = copy.data(), *item;
    while ((item = strsep(&rest, ":"))) {
        char *value = strchr(item, '=');
        if (!value)
            continue;
        *value++ = '\0';
        if (strcmp(item, "max_ani") == 0)
            p->max_ani = decimal(value);
        else if (strcmp(item, "max_dnis") == 0)
            p->max_dnis = decimal(value);
        else if (strcmp(item, "ani_first") == 0)
            p->ani_first = decimal(value);
        else if (strcmp(item, "immediate_accept") == 0)
            p->immediate_accept = decimal(value);
        else if (strcmp(item, "variant") == 0)
            p->r2variant = strcasecmp(value, "ve") == 0 ? R2_VARIANT_VENEZUELA : R2_VARIANT_ITU;
    }
}

int cc_parse_msp_indication_control(cc_msp_indication_control *m, const char *text)
{
    text_copy<64> t(text);
    int n = 0;
    char *item;
    while ((item = strsep(&t.rest, ":"))) {
        if (++n > 9)
            break;
        uint32_t v = (uint32_t)decimal(item);
        switch (n) {
        case 1: m->rfc_2833_dtmf_det = v & 1; break;
        case 2: m->inband_dtmf_det = v & 1; break;
        case 3: m->dtmf_eventdet = v & 1; break;
        case 4: m->dtmf_tonedet = v & 1; break;
        case 5: m->intvchng = v & 1; break;
        case 6: m->ssrcviol = v & 1; break;
        case 7: m->ssrcchg = v & 1; break;
        case 8: m->ptchg = v & 1; break;
        case 9: m->periodic_ptchng_indication_time = v & 0xffff; break;
        }
    }
    if (n != 9) {
        CC_LOG(5, no_tag, "invalid value: %s", text ? text : "");
        m->default_setting = 1; // the media processor's own settings apply
        return -1;
    }
    m->default_setting = 0;
    return 0;
}

int cc_parse_prefix_setting(const char *text)
{
    return cc_word_code(words_s2d_prefix, text ? text : "");
}

int cc_parse_d2s_prefix_setting(const char *text)
{
    if (!text)
        return CONFIG_D2S_PREFIX_NONE;
    if (strcasecmp(text, "remove") == 0)
        return CONFIG_D2S_PREFIX_REMOVE;
    if (strcasecmp(text, "replace") == 0)
        return CONFIG_D2S_PREFIX_REPLACE;
    return CONFIG_D2S_PREFIX_NONE;
}

int cc_parse_sip_xheaders(const char *text)
{
    std::string copy(text ? text : "");
    char *rest = copy.data(), *item;
    int bits = 0;
    while ((item = strsep(&rest, ":"))) {
        if (strcmp(item, "cid") == 0)
            bits |= 1;
        else if (strcmp(item, "origin") == 0)
            bits |= 2;
    }
    return bits;
}
