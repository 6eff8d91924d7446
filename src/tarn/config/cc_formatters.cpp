// Record to text: the formatters of the structured options (each bounded by
// the caller's buffer) and the word formatters of the stored codes.
#include <cstdio>
#include <cstring>

#include "call_configuration.h"
#include "strtools.h"

static int bounded(int n, int max)
{
    return n < 0 ? 0 : n > max ? max : n;
}

void cc_format_codec_settings(const codec_settings *cs, char *buf, size_t size)
{
    buf[0] = '\0';
    int n = bounded(cs->count, CC_MAX_CODECS);
    for (int i = 0; i < n; i++)
        if (cs->allowed_codecs[i])
            st_safe_strcat(buf, size, "%s%s", buf[0] ? ":" : "", cs->allowed_codecs[i]->name);
    if (!buf[0])
        snprintf(buf, size, "none");
}

void cc_printout_codec_string(FILE *out, const codec_settings *cs)
{
    char buf[CC_MAX_CODECS * 17 + 8];
    cc_format_codec_settings(cs, buf, sizeof buf);
    fputs(buf, out);
}

const char *cc_print_crypto_suites(int32_t suites)
{
    static const char *const names[] = {nullptr, "AES_CM_128_HMAC_SHA1_80", "AES_CM_128_HMAC_SHA1_32",
                                        "F8_128_HMAC_SHA1_80"};
    // One buffer per thread: two printouts at once keep their own text.
    static thread_local char buf[256];
    buf[0] = '\0';
    for (int i = 0; i < 4; i++) {
        unsigned code = ((uint32_t)suites >> (8 * i)) & 0xff;
        if (!code)
            break;
        if (code < sizeof names / sizeof names[0])
            st_safe_strcat(buf, sizeof buf, "%s%s", buf[0] ? ":" : "", names[code]);
    }
    return buf;
}

void cc_format_sip_failover_causes(char *buf, size_t size, const int32_t *causes, int count)
{
    buf[0] = '\0';
    int n = bounded(count, 20);
    for (int i = 0; i < n; i++)
        st_safe_strcat(buf, size, "%s%i", i ? ":" : "", causes[i]);
}

void cc_format_t38_options(const t38options *, char *buf, size_t size)
{
    if (size)
        buf[0] = '\0';
}

void cc_format_t38_force_reinvite(const t38_force_reinvite *f, char *buf, size_t size)
{
    int n = bounded(f->count, CC_MAX_T38_REINVITE_TIMES);
    if (n == 0) {
        snprintf(buf, size, "0");
        return;
    }
    buf[0] = '\0';
    for (int i = 0; i < n; i++)
        st_safe_strcat(buf, size, "%s%u", i ? ":" : "", f->times[i]);
}

void cc_format_faxdetect_options(const faxdetect_options_def *f, char *buf, size_t size)
{
    snprintf(buf, size, "%i:%i:%i:%i:%i:%i", (int)f->fr_connect_window, (int)f->fr_min_events,
             (int)f->fr_min_tonelength, (int)f->fr_max_tonelength, (int)f->fr_min_interval,
             (int)f->fr_max_interval);
}

void cc_format_feature_codes(const feature_code_def *f, char *buf, size_t size)
{
    buf[0] = '\0';
    int n = bounded(f->size, CC_MAX_FEATURE_CODES);
    for (int i = 0; i < n; i++) {
        const char *event = f->ifc_eventlist[i] == IFC_MCID ? "MCID" : f->ifc_eventlist[i] == IFC_AFH ? "AFH" : "NONE";
        st_safe_strcat(buf, size, "%s%c:%.31s:%s", i ? ";" : "", f->ifc_direction[i], f->ifc_codelist[i], event);
    }
}

void cc_format_aoc_definition(const aoc_definition *a, char *buf, size_t size)
{
    buf[0] = '\0';
    int n = bounded(a->number_of_rules, CC_MAX_AOC_RULES);
    for (int i = 0; i < n; i++)
        st_safe_strcat(buf, size, "%s%i:%i:%i", i ? ";" : "", a->aocintervals[i].units, a->aocintervals[i].interval,
                       a->aocintervals[i].repeats);
}

int cc_format_fxo_pr_definition(const fxo_pr_definition *f, char *buf, size_t size)
{
    buf[0] = '\0';
    int n = bounded(f->count, CC_MAX_FXO_RULES);
    for (int i = 0; i < n; i++)
        st_safe_strcat(buf, size, "%s%i:%s:%s", i ? "|" : "", f->polarity_counter[i], cc_print_fxo_pr_state(f->state[i]),
                       cc_print_fxo_pr_event(f->event[i]));
    return n;
}

void cc_format_ec_sparse_params(const echo_canceller_sparse_params *e, char *buf, size_t size)
{
    snprintf(buf, size, "0:%i|1:%i|2:%i|3:%i|4:%i|5:%i|6:%i", (int)e->dc_removal_filter_disable,
             (int)e->g168_ec_initialization, (int)e->initialization_request,
             (int)e->hardware_echo_canceller_coefficient_freeze, (int)e->nlp_control, (int)e->nlp_tune_field,
             (int)e->comfort_noise_generation_disable);
}

void cc_format_r2config(const mfcr2_profile *p, char *buf, size_t size)
{
    const char *variant = p->r2variant == R2_VARIANT_ITU         ? "itu"
                          : p->r2variant == R2_VARIANT_VENEZUELA ? "ve"
                                                                 : "UNKNOWN";
    snprintf(buf, size, "variant=%s;ani_first=%i;max_ani=%i;max_dnis=%i;immediate_accept=%i\n", variant,
             p->ani_first, p->max_ani, p->max_dnis, p->immediate_accept);
}

void cc_format_msp_indication_control(const cc_msp_indication_control *m, char *buf, size_t size)
{
    snprintf(buf, size, "%i:%i:%i:%i:%i:%i:%i:%i:%i def:%i", (int)m->rfc_2833_dtmf_det, (int)m->inband_dtmf_det,
             (int)m->dtmf_eventdet, (int)m->dtmf_tonedet, (int)m->intvchng, (int)m->ssrcviol, (int)m->ssrcchg,
             (int)m->ptchg, (int)m->periodic_ptchng_indication_time, (int)m->default_setting);
}

void cc_format_sip_xheaders(char *buf, size_t size, int bits)
{
    snprintf(buf, size, "%s", (bits & 1) ? "cid" : (bits & 2) ? "origin" : "");
}

const char *cc_format_call_forwarding_mode(int code)
{
    return code == 1 ? "Invite" : code == 2 ? "Diversion" : "302";
}

// ---- word formatters ----------------------------------------------------------

// The word at code in a table of consecutive codes from first, or other.
static const char *word_at(const char *const *words, int count, int first, int code, const char *other)
{
    int i = code - first;
    return i >= 0 && i < count ? words[i] : other;
}
#define WORD_AT(words, first, code, other) word_at(words, (int)(sizeof words / sizeof words[0]), first, code, other)

static int dtmf_index(int code)
{
    return code == CC_DTMF_INBAND ? 0 : code == CC_DTMF_INFO ? 1 : code == CC_DTMF_RFC2833 ? 2 : -1;
}

const char *cc_print_dtmf_mode(int code)
{
    static const char *const words[3][3] = {
        {"inband", "inband:info", "inband:rfc2833"},
        {"info:inband", "info", "info:rfc2833"},
        {"rfc2833:inband", "rfc2833:info", "rfc2833"},
    };
    int in = dtmf_index(code & 0xff);
    int out = dtmf_index(code >= 256 ? (code >> 8) & 0xff : code & 0xff);
    if (in < 0)
        return "broken";
    if (out < 0)
        return in == 0 ? "inband:broken" : "info:broken";
    return words[in][out];
}

const char *cc_print_dtmf_removal(int code)
{
    static const char *const w[] = {"both", "tdm", "packet", "none"};
    return WORD_AT(w, 0, code, "invalid");
}

const char *cc_print_bearer_capability(int code)
{
    switch (code) {
    case 0: return "SPEECH";
    case 8: return "DIGITAL_UNRESTRICTED";
    case 9: return "DIGITAL_RESTRICTED";
    case 10: return "DIGITAL_UNRESTRICTED_TONES";
    case 16: return "AUDIO_3_1K";
    case 17: return "AUDIO_7K";
    case 24: return "VIDEO";
    default: return "INVALID_CAPABILITY";
    }
}

const char *cc_print_cad_setting(int code)
{
    return code == 1 ? "dad" : code == 0 ? "nothing" : "new_destination";
}

const char *cc_print_tonedetect_disable(int code)
{
    static const char *const w[] = {"off", "ip", "tdm", "ip:tdm"};
    return w[code & 3];
}

const char *cc_print_prefix_priority(int code)
{
    return code == 1 ? "predialplan" : "postdialplan";
}

const char *cc_print_from_pstn_src_setting(int code)
{
    static const char *const w[] = {"oad", "oad2", "qsigname", "redirected_nr", "cnip", "auto", "actdivq1", "actdivq2"};
    return WORD_AT(w, 0, code, "error");
}

const char *cc_print_from_sip_src_setting(int code)
{
    static const char *const w[] = {"from_user", "from_display", "pai_all", "pai_display", "pai_user", "ppi_all",
                                    "ppi_display", "ppi_user", "rpi_all", "rpi_display", "rpi_user", "auto"};
    return WORD_AT(w, 0, code, "error");
}

const char *cc_print_from_sip_dest_setting(int code)
{
    static const char *const w[] = {"auto",    "to_user",  "to_display",  "pcpi_all", "pcpi_user",
                                    "pcpi_display", "pai_all", "pai_user", "pai_display", "ppi_all",
                                    "ppi_user", "ppi_display", "request_url_user"};
    return WORD_AT(w, 0, code, "error");
}

const char *cc_print_aoc_on_sip_setting(int code)
{
    static const char *const w[] = {"", "AOC-Header", "X-ClientCode", "AOC-Header|X-ClientCode"};
    return WORD_AT(w, 0, code, "");
}

const char *cc_print_use_sip_privacy(int code)
{
    static const char *const w[] = {"auto", "off", "none", "id"};
    return WORD_AT(w, 0, code, "unknown");
}

const char *cc_print_srtp_mode(int code)
{
    switch (code) {
    case 1: return "off";
    case 2: return "optional";
    case 4: return "mandatory";
    case 9: return "off:off";
    case 10: return "optional:off";
    case 12: return "mandatory:off";
    case 17: return "off:optional";
    case 18: return "optional:optional";
    case 20: return "mandatory:optional";
    case 33: return "off:mandatory";
    case 34: return "optional:mandatory";
    case 36: return "mandatory:mandatory";
    default: return "unknown";
    }
}

const char *cc_print_t38_reinvite(int code)
{
    static const char *const w[] = {"sip2pstn", "pstn2sip", "both"};
    return WORD_AT(w, 1, code, "unknown");
}

const char *cc_print_isdn_destination_field(int code)
{
    static const char *const w[] = {"dad", "keypad", "both"};
    return WORD_AT(w, 0, code, "unknown");
}

const char *cc_print_vaz_setting(int code)
{
    static const char *const w[] = {"VAZ_00", "VAZ_PLUS", "VAZ_EMPTY"};
    return WORD_AT(w, 1, code, "VAZ_UNKNOWN");
}

const char *cc_print_s2d_prefix_setting(int code)
{
    static const char *const w[] = {"replace", "prepend", "none"};
    return WORD_AT(w, 0, code, "unknown");
}

const char *cc_print_fxo_pr_state(int code)
{
    static const char *const w[] = {"RINGING", "CONNECTED"};
    return WORD_AT(w, 1, code, "UNKNOWN");
}

const char *cc_print_fxo_pr_event(int code)
{
    static const char *const w[] = {"CONNECT", "DISCONNECT"};
    return WORD_AT(w, 1, code, "UNKNOWN");
}

const char *cc_print_ton(int code)
{
    static const char *const w[] = {"TON_UNINITIALIZED=-1", "TON_UNKNOWN=0",      "TON_INTERNATIONAL=1",
                                    "TON_NATIONAL=2",       "TON_NETSPECIFIC=3",  "TON_SUBSCRIBER=4",
                                    "TON_ALPHANUMERIC=5",   "TON_ABBREVIATED=6"};
    return WORD_AT(w, -1, code, "TON_INVALID");
}
