// One descriptor per option: how its member is reached, how a value text
// becomes the stored value, and how the printout shows it.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "application.h"
#include "cc_internal.h"
#include "strtools.h"

// ---- word tables -------------------------------------------------------------

static const cc_word words_ea[] = {{"sdp", 2}, {"0", 0}, {nullptr, 1}};
static const cc_word words_dtmfremoval[] = {{"both", 0}, {"tdm", 1}, {"packet", 2}, {"none", 3}, {nullptr, 0}};
static const cc_word words_cad[] = {{"dad", CONFIG_CADSETTING_DAD},
                                    {"new_destination", CONFIG_CADSETTING_NEW_DESTINATION},
                                    {nullptr, CONFIG_CADSETTING_NOTHING}};
static const cc_word words_prefix_priority[] = {{"predialplan", CONFIG_PREFIXPRIORITY_PREDIALPLAN},
                                                {nullptr, CONFIG_PREFIXPRIORITY_POSTDIALPLAN}};
static const cc_word words_from_pstn_src[] = {
    {"oad", CONFIG_SIPSRC_OAD},           {"clip", CONFIG_SIPSRC_OAD},         {"oad2", CONFIG_SIPSRC_OAD2},
    {"qsigname", CONFIG_SIPSRC_QSIGNAME}, {"redirected_nr", CONFIG_SIPSRC_REDIRECTED_NR},
    {"cnip", CONFIG_SIPSRC_CNIP},         {"auto", CONFIG_SIPSRC_AUTO},        {"actdivq1", CONFIG_SIPSRC_ACTDIVQ1},
    {"actdivq2", CONFIG_SIPSRC_ACTDIVQ2}, {nullptr, CC_WORD_KEEP}};
static const cc_word words_bearer_codec[] = {{"ulaw", 2}, {"g722", 5}, {nullptr, 3}};
static const cc_word words_srtp_mode[] = {
    {"optional", 18},          {"mandatory", 36},          {"off:optional", 17},       {"off:mandatory", 33},
    {"optional:off", 10},      {"optional:optional", 18},  {"optional:mandatory", 34}, {"mandatory:off", 12},
    {"mandatory:optional", 20}, {"mandatory:mandatory", 36}, {"off:off", 1},           {nullptr, 9}};
static const cc_word words_t38_reinvite[] = {{"pstn2sip", 2}, {"sip2pstn", 1}, {"both", 3}, {nullptr, 1}};
static const cc_word words_isdn_destination_field[] = {{"keypad", CONFIG_ISDN_DESTINATION_KEYPAD},
                                                       {"both", CONFIG_ISDN_DESTINATION_BOTH},
                                                       {nullptr, CONFIG_ISDN_DESTINATION_DAD}};
static const cc_word words_pcmlaw[] = {{"ulaw", 1}, {nullptr, 0}};
static const cc_word words_callauth_default_policy[] = {{"reject", 1}, {nullptr, 0}};
static const cc_word words_vaz[] = {
    {"VAZ_00", CONFIG_VAZ_00}, {"VAZ_PLUS", CONFIG_VAZ_PLUS}, {"VAZ_EMPTY", CONFIG_VAZ_EMPTY}, {nullptr, CONFIG_VAZ_UNKNOWN}};
const cc_word words_s2d_prefix[] = {
    {"none", CONFIG_S2D_PREFIX_NONE}, {"prepend", CONFIG_S2D_PREFIX_PREPEND}, {nullptr, CONFIG_S2D_PREFIX_REPLACE_PLUS}};
static const cc_word words_call_forwarding_mode[] = {{"invite", 1}, {"diversion", 2}, {nullptr, 0}};
static const cc_word words_bearer_capability[] = {
    {"SPEECH", 0}, {"AUDIO_3_1K", 16}, {"AUDIO_7K", 17}, {"VIDEO", 24}, {"DIGITAL_UNRESTRICTED", 8},
    {"DIGITAL_RESTRICTED", 9}, {"DIGITAL_UNRESTRICTED_TONES", 10}, {nullptr, CC_WORD_KEEP}};
static const cc_word words_from_sip_src[] = {
    {"auto", CONFIG_PSTNSRC_AUTO},          {"from_user", CONFIG_PSTNSRC_FROM_USER},
    {"from_display", CONFIG_PSTNSRC_FROM_DISPLAY}, {"pai_all", CONFIG_PSTNSRC_PAI_ALL},
    {"pai_display", CONFIG_PSTNSRC_PAI_DISPLAY}, {"pai_user", CONFIG_PSTNSRC_PAI_USER},
    {"ppi_all", CONFIG_PSTNSRC_PPI_ALL},    {"ppi_display", CONFIG_PSTNSRC_PPI_DISPLAY},
    {"ppi_user", CONFIG_PSTNSRC_PPI_USER},  {"rpi_all", CONFIG_PSTNSRC_RPI_ALL},
    {"rpi_display", CONFIG_PSTNSRC_RPI_DISPLAY}, {"rpi_user", CONFIG_PSTNSRC_RPI_USER},
    {nullptr, CC_WORD_KEEP}};
static const cc_word words_from_sip_dest[] = {
    {"auto", CONFIG_PSTNDEST_AUTO},         {"to_user", CONFIG_PSTNDEST_TO_USER},
    {"to_display", CONFIG_PSTNDEST_TO_DISPLAY}, {"pcpi_all", CONFIG_PSTNDEST_PCPI_ALL},
    {"pcpi_user", CONFIG_PSTNDEST_PCPI_USER}, {"pcpi_display", CONFIG_PSTNDEST_PCPI_DISPLAY},
    {"pai_all", CONFIG_PSTNDEST_PAI_ALL},   {"pai_user", CONFIG_PSTNDEST_PAI_USER},
    {"pai_display", CONFIG_PSTNDEST_PAI_DISPLAY}, {"ppi_all", CONFIG_PSTNDEST_PPI_ALL},
    {"ppi_user", CONFIG_PSTNDEST_PPI_USER}, {"ppi_display", CONFIG_PSTNDEST_PPI_DISPLAY},
    {"request_url_user", CONFIG_PSTNDEST_REQUEST_URL_USER}, {nullptr, CC_WORD_KEEP}};

int32_t cc_word_code(const cc_word *table, const char *text)
{
    const cc_word *w = table;
    for (; w->word; w++)
        if (strcasecmp(w->word, text) == 0)
            break;
    return w->code;
}

static long long decimal(const char *text)
{
    return strtoll(text, nullptr, 10);
}

// ---- rules of their own --------------------------------------------------------

static bool apply_ectl(call_configuration *cc, char *v, cc_tag)
{
    long long n = decimal(v);
    cc->echo_cancel_tail_length = (n < 0 || n > 15) ? 15 : (uint32_t)n;
    return true;
}

static int dtmf_code(const char *word)
{
    if (strcasecmp(word, "inband") == 0)
        return CC_DTMF_INBAND;
    if (strcasecmp(word, "info") == 0)
        return CC_DTMF_INFO;
    return CC_DTMF_RFC2833;
}

static bool apply_dtmfmode(call_configuration *cc, char *v, cc_tag)
{
    char *out = strchr(v, ':');
    if (out)
        *out++ = '\0';
    cc->dtmfmode = dtmf_code(v) | (out ? dtmf_code(out) << 8 : 0);
    return true;
}

static bool apply_bearer_capability(call_configuration *cc, char *v, cc_tag tag)
{
    int32_t code = cc_word_code(words_bearer_capability, v);
    if (code == CC_WORD_KEEP) {
        CC_LOG(3, tag, "Cannot parse bearer capability %s, reverting to default SPEECH", v);
        code = 0;
    }
    cc->bearer_capability = code;
    return true;
}

static bool apply_tonedetect_disable(call_configuration *cc, char *v, cc_tag)
{
    cc->tonedetect_disable = (strstr(v, "ip") ? 1 : 0) | (strstr(v, "tdm") ? 2 : 0);
    return true;
}

// A word, or else a template of its own kept as the manual text.
static bool apply_sip_header_choice(const cc_word *words, int32_t manual, int32_t *code, char *text, size_t size,
                                    const char *v)
{
    if (!v[0])
        return false; // nothing, not even the flag
    int32_t c = cc_word_code(words, v);
    if (c == CC_WORD_KEEP) {
        c = manual;
        snprintf(text, size, "%s", v);
    }
    *code = c;
    return true;
}

static bool apply_from_sip_src_setting(call_configuration *cc, char *v, cc_tag)
{
    return apply_sip_header_choice(words_from_sip_src, CONFIG_PSTNSRC_MANUAL, &cc->from_sip_src_setting,
                                   cc->from_sip_src_setting_manual, sizeof cc->from_sip_src_setting_manual, v);
}

static bool apply_from_sip_dest_setting(call_configuration *cc, char *v, cc_tag)
{
    return apply_sip_header_choice(words_from_sip_dest, CONFIG_PSTNDEST_MANUAL, &cc->from_sip_dest_setting,
                                   cc->from_sip_dest_setting_manual, sizeof cc->from_sip_dest_setting_manual, v);
}

static bool apply_aoc_on_sip(call_configuration *cc, char *v, cc_tag)
{
    cc->aoc_on_sip = (strcasestr(v, "AOC-Header") ? 1 : 0) | (strcasestr(v, "X-ClientCode") ? 2 : 0);
    return true;
}

static bool apply_use_privacy_header(call_configuration *cc, char *v, cc_tag)
{
    if (strcmp(v, "0") == 0 || strcmp(v, "off") == 0)
        cc->use_privacy_header = 1;
    else if (strcasecmp(v, "none") == 0)
        cc->use_privacy_header = 2;
    else if (strcasecmp(v, "id") == 0)
        cc->use_privacy_header = 3;
    else
        cc->use_privacy_header = 0;
    return true;
}

static bool apply_rtp_packet_size(call_configuration *cc, char *v, cc_tag)
{
    char *out = strchr(v, ':');
    if (out)
        *out++ = '\0';
    cc->rtp_packet_size = (decimal(v) & 0xff) | (out ? (decimal(out) & 0xff) << 8 : 0);
    return true;
}

static bool apply_outgoing_bchannels(call_configuration *cc, char *v, cc_tag)
{
    cc->outgoing_bchannels = (int32_t)st_parse_bchannels_range(v);
    return true;
}

static bool apply_comfort_noise(call_configuration *cc, char *v, cc_tag)
{
    cc->comfort_noise = strcasecmp(v, "sdp") == 0 ? CONFIG_COMFORT_NOISE_SDP : st_convert_boolstring_to_int(v) ? 1 : 0;
    return true;
}

static bool apply_qvalue(call_configuration *cc, char *v, cc_tag)
{
    double q = strtod(v, nullptr);
    cc->qvalue = (q >= 0.0 && q <= 1.0) ? (int32_t)(q * 100) : -1; // NaN fails both tests
    return true;
}

static bool apply_srtp_crypto_suites(call_configuration *cc, char *v, cc_tag)
{
    cc->srtp_crypto_suites = cc_parse_crypto_suites(v);
    return true;
}

static bool apply_sip_xheaders(call_configuration *cc, char *v, cc_tag)
{
    cc->sip_xheaders = cc_parse_sip_xheaders(v);
    return true;
}

// Structured values: the parser on the member.
#define CC_APPLY(name, call)                                          \
    static bool name(call_configuration *cc, char *v, cc_tag)         \
    {                                                                 \
        call;                                                         \
        return true;                                                  \
    }
CC_APPLY(apply_codecs, cc_allow_codecs(&cc->codecs, v))
CC_APPLY(apply_failover_causes, cc_parse_sip_failover_causes(cc, v))
CC_APPLY(apply_t38_options, cc_set_t38_options(&cc->t38_options, v))
CC_APPLY(apply_force_t38_reinvite, cc_parse_force_t38_reinvite(&cc->force_t38_reinvite, v))
CC_APPLY(apply_faxdetect_options, cc_set_faxdetect_options(&cc->faxdetect_options, v))
CC_APPLY(apply_feature_codes, cc_parse_feature_codes(&cc->feature_codes, v))
CC_APPLY(apply_aoc, cc_parse_aoc_definition(&cc->aocdef, v))
CC_APPLY(apply_fxo_in_pr, cc_parse_fxo_definition(&cc->fxo_in_pr_def, v))
CC_APPLY(apply_fxo_out_pr, cc_parse_fxo_definition(&cc->fxo_out_pr_def, v))
CC_APPLY(apply_ec_sparse_params, cc_parse_ec_sparse_params(&cc->ec_sparse_params, v))
CC_APPLY(apply_msp_indication_control, cc_parse_msp_indication_control(&cc->msp_indication_control, v))
#undef CC_APPLY

// ---- printout texts -------------------------------------------------------------

#define CC_FORMAT(name, call)                                                         \
    static void name(const call_configuration *cc, char *buf, size_t size)            \
    {                                                                                 \
        call;                                                                         \
    }
CC_FORMAT(format_outgoing_bchannels, st_format_bchannels_range((uint32_t)cc->outgoing_bchannels, buf, size))
CC_FORMAT(format_comfort_noise,
          snprintf(buf, size, "%s", cc->comfort_noise == 2 ? "sdp" : cc->comfort_noise == 1 ? "1" : "0"))
CC_FORMAT(format_pcmlaw, snprintf(buf, size, "%s", cc->pcmlaw ? "ulaw" : "alaw"))
CC_FORMAT(format_callauth_default_policy,
          snprintf(buf, size, "%s", cc->call_authorization_default_policy ? "REJECT" : "ACCEPT"))
CC_FORMAT(format_srtp_crypto_suites, snprintf(buf, size, "%s", cc_print_crypto_suites(cc->srtp_crypto_suites)))
CC_FORMAT(format_sip_xheaders, cc_format_sip_xheaders(buf, size, cc->sip_xheaders))
CC_FORMAT(format_call_forwarding_mode,
          snprintf(buf, size, "%s", cc_format_call_forwarding_mode(cc->call_forwarding_mode)))
CC_FORMAT(format_codecs, cc_format_codec_settings(&cc->codecs, buf, size))
CC_FORMAT(format_failover_causes,
          cc_format_sip_failover_causes(buf, size, cc->sip_failover_causes, cc->sip_failover_causes_size))
CC_FORMAT(format_t38_options, cc_format_t38_options(&cc->t38_options, buf, size))
CC_FORMAT(format_force_t38_reinvite, cc_format_t38_force_reinvite(&cc->force_t38_reinvite, buf, size))
CC_FORMAT(format_faxdetect_options, cc_format_faxdetect_options(&cc->faxdetect_options, buf, size))
CC_FORMAT(format_feature_codes, cc_format_feature_codes(&cc->feature_codes, buf, size))
CC_FORMAT(format_aoc, cc_format_aoc_definition(&cc->aocdef, buf, size))
CC_FORMAT(format_fxo_in_pr, cc_format_fxo_pr_definition(&cc->fxo_in_pr_def, buf, size))
CC_FORMAT(format_fxo_out_pr, cc_format_fxo_pr_definition(&cc->fxo_out_pr_def, buf, size))
CC_FORMAT(format_ec_sparse_params, cc_format_ec_sparse_params(&cc->ec_sparse_params, buf, size))
CC_FORMAT(format_msp_indication_control, cc_format_msp_indication_control(&cc->msp_indication_control, buf, size))
#undef CC_FORMAT

static void format_qvalue(const call_configuration *cc, char *buf, size_t size)
{
    if (cc->qvalue == -1)
        snprintf(buf, size, "%i", cc->qvalue);
    else
        snprintf(buf, size, "%1.1f", cc->qvalue / 100.0);
}

// ---- overlay beyond the generic copy ---------------------------------------------

static void copy_failover_causes(call_configuration *t, const call_configuration *s)
{
    int n = s->sip_failover_causes_size;
    if (n < 0)
        n = 0;
    if (n > 20)
        n = 20;
    memcpy(t->sip_failover_causes, s->sip_failover_causes, n * sizeof s->sip_failover_causes[0]);
    t->sip_failover_causes_size = n;
}

// The manual template goes with its code.
static void copy_from_sip_src_setting(call_configuration *t, const call_configuration *s)
{
    memcpy(t->from_sip_src_setting_manual, s->from_sip_src_setting_manual, sizeof t->from_sip_src_setting_manual);
}

static void copy_from_sip_dest_setting(call_configuration *t, const call_configuration *s)
{
    memcpy(t->from_sip_dest_setting_manual, s->from_sip_dest_setting_manual, sizeof t->from_sip_dest_setting_manual);
}

// ---- the descriptors ---------------------------------------------------------------

// A number, flag or word field (bit-fields included).
#define CC_VALUE(m)                                                           \
    .get = [](const call_configuration *c) -> int64_t { return c->m; },      \
    .put = [](call_configuration *c, int64_t v) { c->m = v; },               \
    .is_set = [](const call_configuration *c) -> bool { return c->m##_set; }, \
    .mark = [](call_configuration *c) { c->m##_set = 1; }
// A text or structured value: its bytes.
#define CC_BYTES(m)                                                           \
    .is_set = [](const call_configuration *c) -> bool { return c->m##_set; }, \
    .mark = [](call_configuration *c) { c->m##_set = 1; },                   \
    .offset = offsetof(call_configuration, m), .size = sizeof(call_configuration::m)

const cc_descriptor cc_descriptors[CC_ID_COUNT] = {
    /*   0 CC_I_ECHO_CANCEL */ {CC_VALUE(echo_cancel), .kind = CCK_FLAG, .width = 1},
    /*   1 CC_I_EARLY_AUDIO */ {CC_VALUE(early_audio), .kind = CCK_WORD, .width = 2, .words = words_ea},
    /*   2 CC_I_EARLY_AUDIO_OUTBOUND */ {CC_VALUE(early_audio_outbound), .kind = CCK_FLAG, .width = 1},
    /*   3 CC_I_GENERATE_RINGING_ON_EAO */ {CC_VALUE(generate_ringing_on_eao), .kind = CCK_FLAG, .width = 1},
    /*   4 CC_I_DTON */ {CC_VALUE(dton), .kind = CCK_NUMBER, .width = 32},
    /*   5 CC_I_RTON */ {CC_VALUE(rton), .kind = CCK_NUMBER, .width = 32},
    /*   6 CC_I_OTON */ {CC_VALUE(oton), .kind = CCK_NUMBER, .width = 32},
    /*   7 CC_I_O2TON */ {CC_VALUE(o2ton), .kind = CCK_NUMBER, .width = 32},
    /*   8 CC_I_CTON */ {CC_VALUE(cton), .kind = CCK_NUMBER, .width = 32},
    /*   9 CC_I_SCREEN */ {CC_VALUE(screen), .kind = CCK_FLAG, .width = 1},
    /*  10 CC_I_PRES */ {CC_VALUE(pres), .kind = CCK_FLAG, .width = 1},
    /*  11 CC_I_O2SCREEN */ {CC_VALUE(o2screen), .kind = CCK_FLAG, .width = 1},
    /*  12 CC_I_O2PRES */ {CC_VALUE(o2pres), .kind = CCK_FLAG, .width = 1},
    /*  13 CC_I_T38 */ {CC_VALUE(t38), .kind = CCK_FLAG, .width = 1},
    /*  14 CC_I_ECHO_CANCEL_TAIL_LENGTH */ {CC_VALUE(echo_cancel_tail_length), .kind = CCK_WORD, .width = 32, .parse = apply_ectl},
    /*  15 CC_I_DTMFMODE */ {CC_VALUE(dtmfmode), .kind = CCK_WORD, .width = 16, .parse = apply_dtmfmode, .word = cc_print_dtmf_mode},
    /*  16 CC_I_DTMFREMOVAL */ {CC_VALUE(dtmfremoval), .kind = CCK_WORD, .width = 32, .words = words_dtmfremoval, .word = cc_print_dtmf_removal},
    /*  17 CC_I_BEARER_CAPABILITY */ {CC_VALUE(bearer_capability), .kind = CCK_WORD, .width = 32, .parse = apply_bearer_capability, .word = cc_print_bearer_capability},
    /*  18 CC_I_CALL_DEFLECT */ {CC_VALUE(calldeflect), .kind = CCK_FLAG, .width = 1},
    /*  19 CC_I_IE_ON_SIP */ {CC_VALUE(ie_on_sip), .kind = CCK_FLAG, .width = 1},
    /*  20 CC_I_WAIT_FOR_CANCEL */ {CC_VALUE(wait_for_cancel), .kind = CCK_FLAG, .width = 1},
    /*  21 CC_I_ALLOW_ALL_CHARS_IN_ISDN_NUMBER */ {CC_VALUE(allow_all_chars_in_isdn_number), .kind = CCK_NUMBER, .width = 2},
    /*  22 CC_I_CAD_SETTING */ {CC_VALUE(cad_setting), .kind = CCK_WORD, .width = 32, .words = words_cad, .word = cc_print_cad_setting},
    /*  23 CC_O_FORCE_T38_REINVITE */ {CC_BYTES(force_t38_reinvite), .kind = CCK_STRUCT, .parse = apply_force_t38_reinvite, .format = format_force_t38_reinvite},
    /*  24 CC_I_REJECT_WITH_OFFHOOK */ {CC_VALUE(reject_with_offhook), .kind = CCK_FLAG, .width = 1},
    /*  25 CC_I_TONEDETECT_DISABLE */ {CC_VALUE(tonedetect_disable), .kind = CCK_WORD, .width = 32, .parse = apply_tonedetect_disable, .word = cc_print_tonedetect_disable},
    /*  26 CC_I_INTERDIGIT_DIALING_MAX_DIGITS */ {CC_VALUE(interdigit_dialing_max_digits), .kind = CCK_NUMBER, .width = 32},
    /*  27 CC_I_PREFIX_PRIORITY */ {CC_VALUE(prefix_priority), .kind = CCK_WORD, .width = 32, .words = words_prefix_priority, .word = cc_print_prefix_priority},
    /*  28 CC_I_FROM_PSTN_SRC_SETTING */ {CC_VALUE(from_pstn_src_setting), .kind = CCK_WORD, .width = 32, .words = words_from_pstn_src, .word = cc_print_from_pstn_src_setting},
    /*  29 CC_I_FROM_SIP_SRC_SETTING */ {CC_VALUE(from_sip_src_setting), .kind = CCK_WORD, .width = 32, .parse = apply_from_sip_src_setting, .word = cc_print_from_sip_src_setting, .copy = copy_from_sip_src_setting, .keep_quotes = true},
    /*  30 CC_I_SIP_FAILOVER_TIMEOUT */ {CC_VALUE(sip_failover_timeout), .kind = CCK_CLAMP, .width = 32, .lo = 0, .hi = 600},
    /*  31 CC_I_AOC_ON_SIP */ {CC_VALUE(aoc_on_sip), .kind = CCK_WORD, .width = 32, .parse = apply_aoc_on_sip, .word = cc_print_aoc_on_sip_setting},
    /*  32 CC_I_HDLC */ {CC_VALUE(hdlc), .kind = CCK_NUMBER, .width = 32},
    /*  33 CC_I_CLEARMODE_ON_ALAW */ {CC_VALUE(clearmode_on_alaw), .kind = CCK_NUMBER, .width = 32},
    /*  34 CC_I_RTP_LOOPBACK */ {CC_VALUE(rtp_loopback), .kind = CCK_NUMBER, .width = 32},
    /*  35 CC_I_USE_PRIVACY_HEADER */ {CC_VALUE(use_privacy_header), .kind = CCK_WORD, .width = 32, .parse = apply_use_privacy_header, .word = cc_print_use_sip_privacy},
    /*  36 CC_I_RTP_PACKET_SIZE */ {CC_VALUE(rtp_packet_size), .kind = CCK_WORD, .width = 16, .parse = apply_rtp_packet_size},
    /*  37 CC_I_RTP_INBOUND_CHECK */ {CC_VALUE(rtp_traffic_check), .kind = CCK_NUMBER, .width = 32},
    /*  38 CC_I_DGAIN_PACKET_TO_PCM */ {CC_VALUE(dgain_packet_to_pcm), .kind = CCK_NUMBER, .width = 32},
    /*  39 CC_I_DGAIN_PCM_TO_PACKET */ {CC_VALUE(dgain_pcm_to_packet), .kind = CCK_NUMBER, .width = 32},
    /*  40 CC_I_REMOVE_EMPTY_DISPLAY_QUOTES */ {CC_VALUE(remove_empty_display_quotes), .kind = CCK_NUMBER, .width = 32},
    /*  41 CC_I_NON_VOICE_CALL */ {CC_VALUE(non_voice_call), .kind = CCK_NUMBER, .width = 32},
    /*  42 CC_I_CID_GEN_TIME */ {CC_VALUE(cid_gen_time), .kind = CCK_NUMBER, .width = 32},
    /*  43 CC_I_ALERT_ON_CD */ {CC_VALUE(alert_on_cd), .kind = CCK_YES, .width = 32},
    /*  44 CC_I_ONPI */ {CC_VALUE(onpi), .kind = CCK_NUMBER, .width = 32},
    /*  45 CC_I_O2NPI */ {CC_VALUE(o2npi), .kind = CCK_NUMBER, .width = 32},
    /*  46 CC_I_DNPI */ {CC_VALUE(dnpi), .kind = CCK_NUMBER, .width = 32},
    /*  47 CC_I_CNPI */ {CC_VALUE(cnpi), .kind = CCK_NUMBER, .width = 32},
    /*  48 CC_I_RNPI */ {CC_VALUE(rnpi), .kind = CCK_NUMBER, .width = 32},
    /*  49 CC_I_OUTGOING_BCHANNELS */ {CC_VALUE(outgoing_bchannels), .kind = CCK_WORD, .width = 32, .parse = apply_outgoing_bchannels, .format = format_outgoing_bchannels},
    /*  50 CC_I_BEARER_CODEC */ {CC_VALUE(bearer_codec), .kind = CCK_WORD, .width = 32, .words = words_bearer_codec},
    /*  51 CC_I_PAE_HEADERS */ {CC_VALUE(pae_headers), .kind = CCK_YES, .width = 32},
    /*  52 CC_I_SIP_INFO_ON_DISCONNECT */ {CC_VALUE(sip_info_on_disconnect), .kind = CCK_NUMBER, .width = 32},
    /*  53 CC_I_SIP_INFO_ON_FACILITY */ {CC_VALUE(sip_info_on_facility), .kind = CCK_YES, .width = 32},
    /*  54 CC_I_ISDN_PROGRESS_INDICATOR */ {CC_VALUE(isdn_progress_indicator), .kind = CCK_NUMBER, .width = 32},
    /*  55 CC_I_ISDN_PROGRESS_LOCATION */ {CC_VALUE(isdn_progress_location), .kind = CCK_NUMBER, .width = 32},
    /*  56 CC_I_RFC2833_DTMF_PASSTHROUGH */ {CC_VALUE(rfc2833_dtmf_passthrough), .kind = CCK_FLAG, .width = 1},
    /*  57 CC_I_COMFORT_NOISE */ {CC_VALUE(comfort_noise), .kind = CCK_WORD, .width = 2, .parse = apply_comfort_noise, .format = format_comfort_noise},
    /*  58 CC_I_VAD_TUNE */ {CC_VALUE(vad_tune), .kind = CCK_CLAMP, .width = 3, .lo = 0, .hi = 4},
    /*  59 CC_I_FROM_SIP_DEST_SETTING */ {CC_VALUE(from_sip_dest_setting), .kind = CCK_WORD, .width = 32, .parse = apply_from_sip_dest_setting, .word = cc_print_from_sip_dest_setting, .copy = copy_from_sip_dest_setting, .keep_quotes = true},
    /*  60 CC_I_SRTP_MODE */ {CC_VALUE(srtp_mode), .kind = CCK_WORD, .width = 32, .words = words_srtp_mode, .word = cc_print_srtp_mode},
    /*  61 CC_I_SRTP_CRYPTO_SUITES */ {CC_VALUE(srtp_crypto_suites), .kind = CCK_WORD, .width = 32, .parse = apply_srtp_crypto_suites, .format = format_srtp_crypto_suites},
    /*  62 CC_I_T38_REINVITE */ {CC_VALUE(t38_direction_reinvite), .kind = CCK_WORD, .width = 3, .words = words_t38_reinvite, .word = cc_print_t38_reinvite},
    /*  63 CC_I_DISABLE_PRACK */ {CC_VALUE(disable_prack), .kind = CCK_FLAG, .width = 1},
    /*  64 CC_I_DIALPLAN_GO_ON */ {CC_VALUE(dialplan_go_on), .kind = CCK_FLAG, .width = 1},
    /*  65 CC_I_T38_MAX_RATE */ {CC_VALUE(t38_max_rate), .kind = CCK_NUMBER, .width = 16},
    /*  66 CC_I_ISDN_DESTINATION_FIELD */ {CC_VALUE(isdn_destination_field), .kind = CCK_WORD, .width = 4, .words = words_isdn_destination_field, .word = cc_print_isdn_destination_field},
    /*  67 CC_I_PCMLAW */ {CC_VALUE(pcmlaw), .kind = CCK_WORD, .width = 1, .words = words_pcmlaw, .format = format_pcmlaw},
    /*  68 CC_I_DISABLE_BRIDGING */ {CC_VALUE(disable_bridging), .kind = CCK_FLAG, .width = 1},
    /*  69 CC_I_CALL_AUTHORIZATION_DEFAULT_POLICY */ {CC_VALUE(call_authorization_default_policy), .kind = CCK_WORD, .width = 1, .words = words_callauth_default_policy, .format = format_callauth_default_policy},
    /*  70 CC_I_CALL_AUTHORIZATION_TIMEOUT */ {CC_VALUE(call_authorization_timeout), .kind = CCK_CLAMP, .width = 16, .lo = 20, .hi = 1000},
    /*  71 CC_I_I2S_DESTINATION_NUMFORMAT */ {CC_VALUE(i2s_destination_numformat), .kind = CCK_WORD, .width = 8, .words = words_vaz, .word = cc_print_vaz_setting},
    /*  72 CC_I_I2S_SOURCE_NUMFORMAT */ {CC_VALUE(i2s_source_numformat), .kind = CCK_WORD, .width = 8, .words = words_vaz, .word = cc_print_vaz_setting},
    /*  73 CC_I_S2D_DAD_PREFIX_SETTING */ {CC_VALUE(s2d_dad_prefix_setting), .kind = CCK_WORD, .width = 2, .words = words_s2d_prefix, .word = cc_print_s2d_prefix_setting},
    /*  74 CC_I_S2D_OAD_PREFIX_SETTING */ {CC_VALUE(s2d_oad_prefix_setting), .kind = CCK_WORD, .width = 2, .words = words_s2d_prefix, .word = cc_print_s2d_prefix_setting},
    /*  75 CC_I_FACILITY_PASSTHROUGH */ {CC_VALUE(facility_passthrough), .kind = CCK_FLAG, .width = 1},
    /*  76 CC_I_SIP_XHEADERS */ {CC_VALUE(sip_xheaders), .kind = CCK_WORD, .width = 8, .parse = apply_sip_xheaders, .format = format_sip_xheaders},
    /*  77 CC_I_FEATURE_CODES_SILENT */ {CC_VALUE(feature_codes_silent), .kind = CCK_FLAG, .width = 1},
    /*  78 CC_I_ORIGIN_HEADER */ {CC_VALUE(origin_header), .kind = CCK_FLAG, .width = 1},
    /*  79 CC_I_SKIP_SETUP_ACK */ {CC_VALUE(skip_setup_ack), .kind = CCK_FLAG, .width = 1},
    /*  80 CC_I_RESYNC_ON_NOTIFY */ {CC_VALUE(resync_on_notify), .kind = CCK_FLAG, .width = 1},
    /*  81 CC_I_SIP_DNSSRV */ {CC_VALUE(dns_srv), .kind = CCK_FLAG, .width = 1},
    /*  82 CC_I_DIALTONE_DIGITS */ {CC_VALUE(dialtone_digits), .kind = CCK_NUMBER, .width = 8},
    /*  83 CC_I_EMERGENCY */ {CC_VALUE(emergency), .kind = CCK_NUMBER, .width = 8},
    /*  84 CC_I_DTMFLEN */ {CC_VALUE(dtmflen), .kind = CCK_CLAMP, .width = 32, .lo = 20, .hi = 4000},
    /*  85 CC_I_DTMFINTERVAL */ {CC_VALUE(dtmfinterval), .kind = CCK_CLAMP, .width = 32, .lo = 20, .hi = 1000},
    /*  86 CC_I_S2S_NAT_OPENER */ {CC_VALUE(s2s_nat_opener), .kind = CCK_NUMBER, .width = 8},
    /*  87 CC_I_S2S_T38_PASSTHROUGH */ {CC_VALUE(s2s_t38_passthrough), .kind = CCK_NUMBER, .width = 8},
    /*  88 CC_I_S2S_RTP_HANDLING_METHOD */ {CC_VALUE(s2s_rtp_handling_method), .kind = CCK_NUMBER, .width = 8},
    /*  89 CC_I_S2S_TELEVENT_SDP_FIX */ {CC_VALUE(s2s_televent_sdp_fix), .kind = CCK_NUMBER, .width = 8},
    /*  90 CC_I_QVALUE */ {CC_VALUE(qvalue), .kind = CCK_WORD, .width = 8, .parse = apply_qvalue, .format = format_qvalue},
    /*  91 CC_I_CALL_FORWARDING_MODE */ {CC_VALUE(call_forwarding_mode), .kind = CCK_WORD, .width = 8, .words = words_call_forwarding_mode, .format = format_call_forwarding_mode},
    /*  92 CC_I_ISDN_NO_SENDING_COMPLETE */ {CC_VALUE(isdn_no_sending_complete), .kind = CCK_YES, .width = 8},
    /*  93 CC_I_GSM_CLIR */ {CC_VALUE(gsm_clir), .kind = CCK_NUMBER, .width = 8},
    /*  94 CC_I_CLEARMODE_AUTO */ {CC_VALUE(clearmode_auto), .kind = CCK_NUMBER, .width = 8},
    /*  95 CC_I_SDP_CODEC_SELECTION */ {CC_VALUE(sdp_codec_selection), .kind = CCK_NUMBER, .width = 8},
    /*  96 CC_I_TR_NOTRUF */ {CC_VALUE(tr_notruf), .kind = CCK_NUMBER, .width = 8},
    /*  97 CC_I_HEADER_PASSTHROUGH */ {CC_VALUE(header_passthrough), .kind = CCK_NUMBER, .width = 8},
    /*  98 CC_I_T38_IP_EVENTS */ {CC_VALUE(t38_ip_events), .kind = CCK_NUMBER, .width = 8},
    /*  99 CC_I_T38_IGNORE_OFFER */ {CC_VALUE(t38_ignore_offer), .kind = CCK_NUMBER, .width = 8},
    /* 100 CC_I_ANONYMOUS_FROM_USER_ON_PRIVACY */ {CC_VALUE(anonymous_from_user_on_privacy), .kind = CCK_NUMBER, .width = 8},
    /* 101 CC_I_1TR119 */ {CC_VALUE(tr119), .kind = CCK_NUMBER, .width = 8},
    /* 102 CC_I_SIPS_ON_TLS */ {CC_VALUE(sips_on_tls), .kind = CCK_NUMBER, .width = 8},
    /* 103 CC_I_SIP_ALLOW_MESSAGE */ {CC_VALUE(sip_allow_message), .kind = CCK_NUMBER, .width = 8},
    /* 104 CC_I_SIP_CUSTOM_CONTACT_IN_OK */ {CC_VALUE(sip_custom_contact_on_inbound), .kind = CCK_NUMBER, .width = 8},
    /* 105 CC_I_MSP_NO_CHANNEL_RESTART */ {CC_VALUE(msp_no_channel_restart), .kind = CCK_NUMBER, .width = 8},
    /* 106 CC_I_S2S_302_SET_PAI */ {CC_VALUE(s2s_302_set_pai), .kind = CCK_NUMBER, .width = 8},
    /* 107 CC_I_DIALPLAN_FINISH_DIALING_ON_MATCH */ {CC_VALUE(dialplan_finish_dialing_on_match), .kind = CCK_NUMBER, .width = 32},
    /* 108 CC_C_PREFIX_UNKNOWN */ {CC_BYTES(prefix_unknown), .kind = CCK_TEXT, .width = 16},
    /* 109 CC_C_PREFIX_NATIONAL */ {CC_BYTES(prefix_national), .kind = CCK_TEXT, .width = 16},
    /* 110 CC_C_PREFIX_INTERNATIONAL */ {CC_BYTES(prefix_international), .kind = CCK_TEXT, .width = 16},
    /* 111 CC_C_PREFIX_PRIVATE */ {CC_BYTES(prefix_private), .kind = CCK_TEXT, .width = 16},
    /* 112 CC_C_PREFIX_LOCAL */ {CC_BYTES(prefix_local), .kind = CCK_TEXT, .width = 16},
    /* 113 CC_C_PREFIX_ALPHANUMERIC */ {CC_BYTES(prefix_alphanumeric), .kind = CCK_TEXT, .width = 16},
    /* 114 CC_C_PREFIX_ABBREVIATED */ {CC_BYTES(prefix_abbreviated), .kind = CCK_TEXT, .width = 16},
    /* 115 CC_C_CLIR_ON_OAD */ {CC_BYTES(clir_on_oad), .kind = CCK_TEXT, .width = 32},
    /* 116 CC_C_JBOPT */ {CC_BYTES(jbopt_string), .kind = CCK_TEXT, .width = 32},
    /* 117 CC_C_S2I_CALL_PROGRESS_TABLE_NAME */ {CC_BYTES(s2i_call_progress_table_name), .kind = CCK_TEXT, .width = 32},
    /* 118 CC_C_I2S_CALL_PROGRESS_TABLE_NAME */ {CC_BYTES(i2s_call_progress_table_name), .kind = CCK_TEXT, .width = 32},
    /* 119 CC_C_SIP_FAILOVER_PROXY */ {CC_BYTES(sip_failover_proxy), .kind = CCK_TEXT, .width = 32},
    /* 120 CC_C_SIP_FAILOVER_PREFIX */ {CC_BYTES(sip_failover_prefix), .kind = CCK_TEXT, .width = 32},
    /* 121 CC_C_ISDN_OAD_SETTING */ {CC_BYTES(isdn_oad_setting), .kind = CCK_TEXT, .width = 32},
    /* 122 CC_C_ISDN_OAD2_SETTING */ {CC_BYTES(isdn_oad2_setting), .kind = CCK_TEXT, .width = 32},
    /* 123 CC_C_ISDN_QSIGNAME_SETTING */ {CC_BYTES(isdn_qsigname_setting), .kind = CCK_TEXT, .width = 32},
    /* 124 CC_C_ISDN_REDIRECTED_NR_SETTING */ {CC_BYTES(isdn_redirected_nr_setting), .kind = CCK_TEXT, .width = 32},
    /* 125 CC_C_ISDN_DAD_SETTING */ {CC_BYTES(isdn_dad_setting), .kind = CCK_TEXT, .width = 32},
    /* 126 CC_C_SIP_REQUEST_URI_ALL_SETTING */ {CC_BYTES(sip_request_uri_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 127 CC_C_SIP_FROM_USER_SETTING */ {CC_BYTES(sip_from_user_setting), .kind = CCK_TEXT, .width = 128, .keep_quotes = true},
    /* 128 CC_C_SIP_FROM_DISPLAY_SETTING */ {CC_BYTES(sip_from_display_setting), .kind = CCK_TEXT, .width = 128, .keep_quotes = true},
    /* 129 CC_C_SIP_FROM_USER_ALL_SETTING */ {CC_BYTES(sip_from_user_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 130 CC_C_SIP_TO_USER_SETTING */ {CC_BYTES(sip_to_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 131 CC_C_DIVERSION_TO_USER_SETTING */ {CC_BYTES(sip_diversion_to_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 132 CC_C_SIP_TO_USER_ALL_SETTING */ {CC_BYTES(sip_to_user_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 133 CC_C_SIP_PAI_ALL_SETTING */ {CC_BYTES(sip_pai_all_setting), .kind = CCK_TEXT, .width = 128, .keep_quotes = true},
    /* 134 CC_C_SIP_PAI_USER_SETTING */ {CC_BYTES(sip_pai_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 135 CC_C_SIP_PAI_DISPLAY_SETTING */ {CC_BYTES(sip_pai_display_setting), .kind = CCK_TEXT, .width = 128},
    /* 136 CC_C_SIP_PPI_ALL_SETTING */ {CC_BYTES(sip_ppi_all_setting), .kind = CCK_TEXT, .width = 128, .keep_quotes = true},
    /* 137 CC_C_SIP_PPI_USER_SETTING */ {CC_BYTES(sip_ppi_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 138 CC_C_SIP_PPI_DISPLAY_SETTING */ {CC_BYTES(sip_ppi_display_setting), .kind = CCK_TEXT, .width = 128},
    /* 139 CC_C_SIP_RPI_ALL_SETTING */ {CC_BYTES(sip_rpi_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 140 CC_C_SIP_RPI_USER_SETTING */ {CC_BYTES(sip_rpi_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 141 CC_C_SIP_RPI_DISPLAY_SETTING */ {CC_BYTES(sip_rpi_display_setting), .kind = CCK_TEXT, .width = 128},
    /* 142 CC_C_SIP_CONTACT_ALL_SETTING */ {CC_BYTES(sip_contact_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 143 CC_C_SIP_CONTACT_USER_SETTING */ {CC_BYTES(sip_contact_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 144 CC_C_SIP_CONTACT_DISPLAY_SETTING */ {CC_BYTES(sip_contact_display_setting), .kind = CCK_TEXT, .width = 128},
    /* 145 CC_C_SIP_PCPI_ALL_SETTING */ {CC_BYTES(sip_pcpi_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 146 CC_C_SIP_PCPI_USER_SETTING */ {CC_BYTES(sip_pcpi_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 147 CC_C_SIP_PCPI_DISPLAY_SETTING */ {CC_BYTES(sip_pcpi_display_setting), .kind = CCK_TEXT, .width = 128},
    /* 148 CC_C_SIP_ACCOUNT_BASE_NUMBER */ {CC_BYTES(sip_account_base_number), .kind = CCK_TEXT, .width = 128},
    /* 149 CC_C_ANALOG_OAD_SETTING */ {CC_BYTES(analog_oad_setting), .kind = CCK_TEXT, .width = 32},
    /* 150 CC_C_ANALOG_DISPLAY_SETTING */ {CC_BYTES(analog_display_setting), .kind = CCK_TEXT, .width = 32},
    /* 151 CC_C_FAXDETECT_EXTENSION */ {CC_BYTES(faxdetect_extension), .kind = CCK_TEXT, .width = 32},
    /* 152 CC_C_FAXDETECT_PROXY */ {CC_BYTES(faxdetect_proxy), .kind = CCK_TEXT, .width = 32},
    /* 153 CC_C_SIP_TXX_TIMEOUT */ {CC_BYTES(sip_txx_timeout), .kind = CCK_TEXT, .width = 32},
    /* 154 CC_C_GSM_OAD_SETTING */ {CC_BYTES(gsm_oad_setting), .kind = CCK_TEXT, .width = 32},
    /* 155 CC_C_CAS_OAD_SETTING */ {CC_BYTES(cas_oad_setting), .kind = CCK_TEXT, .width = 32},
    /* 156 CC_C_RPI_ANONYMITY_FLAGS */ {CC_BYTES(rpi_anonymity_flags), .kind = CCK_TEXT, .width = 32},
    /* 157 CC_C_FAXDETECT_CALL_TERMINATION */ {CC_BYTES(faxdetect_call_termination), .kind = CCK_TEXT, .width = 128},
    /* 158 CC_C_S2FXO_CALL_PROGRESS_TABLE_NAME */ {CC_BYTES(s2fxo_call_progress_table_name), .kind = CCK_TEXT, .width = 32},
    /* 159 CC_C_DTMF_DETECTOR_PARAMS */ {CC_BYTES(dtmfdpar), .kind = CCK_TEXT, .width = 32},
    /* 160 CC_C_MOVE_ON_PSTN_FAIL */ {CC_BYTES(move_on_pstn_fail), .kind = CCK_TEXT, .width = 128},
    /* 161 CC_C_EXTRA_FILTER */ {CC_BYTES(extra_filter), .kind = CCK_TEXT, .width = 128},
    /* 162 CC_C_OVERRIDE */ {CC_BYTES(override), .kind = CCK_TEXT, .width = 128},
    /* 163 CC_C_DTMF_TUNE */ {CC_BYTES(dtmftune), .kind = CCK_TEXT, .width = 32},
    /* 164 CC_C_AUTHORIZATION_SERVER */ {CC_BYTES(authorization_server), .kind = CCK_TEXT, .width = 128},
    /* 165 CC_C_AUTHORIZATION_CREDENTIALS */ {CC_BYTES(authorization_server_credentials), .kind = CCK_TEXT, .width = 128},
    /* 166 CC_C_NTDETPARAMS */ {CC_BYTES(ntdet_params), .kind = CCK_TEXT, .width = 32},
    /* 167 CC_C_CALL_AUTHORIZATION_DIRECTION */ {CC_BYTES(call_authorization_direction), .kind = CCK_TEXT, .width = 32},
    /* 168 CC_C_SIP_NATIONAL_CODE */ {CC_BYTES(sip_national_code), .kind = CCK_TEXT, .width = 16},
    /* 169 CC_C_SIP_INTERNATIONAL_CODE */ {CC_BYTES(sip_international_code), .kind = CCK_TEXT, .width = 16},
    /* 170 CC_C_DIALPLAN_INTERNATIONAL_PREFIX */ {CC_BYTES(dialplan_international_prefix), .kind = CCK_TEXT, .width = 16},
    /* 171 CC_C_ISDN_IE_HLC */ {CC_BYTES(isdn_ie_hlc), .kind = CCK_TEXT, .width = 32},
    /* 172 CC_C_ISDN_IE_LLC */ {CC_BYTES(isdn_ie_llc), .kind = CCK_TEXT, .width = 32},
    /* 173 CC_C_ISDN_IE_USER_USER_NAME */ {CC_BYTES(isdn_ie_uuname), .kind = CCK_TEXT, .width = 128},
    /* 174 CC_C_ISDN_IE_DISPLAY_NAME */ {CC_BYTES(isdn_ie_displayname), .kind = CCK_TEXT, .width = 128},
    /* 175 CC_C_SIP_ON_EMPTY_USER */ {CC_BYTES(sip_on_empty_user), .kind = CCK_TEXT, .width = 128},
    /* 176 CC_C_SIP_ON_EMPTY_DISPLAY */ {CC_BYTES(sip_on_empty_display), .kind = CCK_TEXT, .width = 128},
    /* 177 CC_C_ISDN_CALLDEFLECT_FAIL_PREFIX */ {CC_BYTES(isdn_cd_fail_prefix), .kind = CCK_TEXT, .width = 128},
    /* 178 CC_C_SIP_302_CONTACT_URL */ {CC_BYTES(sip_302_contact_url), .kind = CCK_TEXT, .width = 128},
    /* 179 CC_C_SIP_302_CONTACT_USER */ {CC_BYTES(sip_302_contact_user), .kind = CCK_TEXT, .width = 128},
    /* 180 CC_C_SIP_PRIV0_ALL_SETTING */ {CC_BYTES(sip_priv0_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 181 CC_C_SIP_PRIV0_USER_SETTING */ {CC_BYTES(sip_priv0_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 182 CC_C_SIP_PRIV1_ALL_SETTING */ {CC_BYTES(sip_priv1_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 183 CC_C_SIP_PRIV1_USER_SETTING */ {CC_BYTES(sip_priv1_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 184 CC_C_SIP_PRIV2_ALL_SETTING */ {CC_BYTES(sip_priv2_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 185 CC_C_SIP_PRIV2_USER_SETTING */ {CC_BYTES(sip_priv2_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 186 CC_C_SIP_PRIV3_ALL_SETTING */ {CC_BYTES(sip_priv3_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 187 CC_C_SIP_PRIV3_USER_SETTING */ {CC_BYTES(sip_priv3_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 188 CC_C_SIP_PRIV4_ALL_SETTING */ {CC_BYTES(sip_priv4_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 189 CC_C_SIP_PRIV4_USER_SETTING */ {CC_BYTES(sip_priv4_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 190 CC_C_SIP_PRIV5_ALL_SETTING */ {CC_BYTES(sip_priv5_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 191 CC_C_SIP_PRIV5_USER_SETTING */ {CC_BYTES(sip_priv5_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 192 CC_C_SIP_PRIV6_ALL_SETTING */ {CC_BYTES(sip_priv6_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 193 CC_C_SIP_PRIV6_USER_SETTING */ {CC_BYTES(sip_priv6_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 194 CC_C_SIP_PRIV7_ALL_SETTING */ {CC_BYTES(sip_priv7_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 195 CC_C_SIP_PRIV7_USER_SETTING */ {CC_BYTES(sip_priv7_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 196 CC_C_SIP_PRIV8_ALL_SETTING */ {CC_BYTES(sip_priv8_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 197 CC_C_SIP_PRIV8_USER_SETTING */ {CC_BYTES(sip_priv8_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 198 CC_C_SIP_PRIV9_ALL_SETTING */ {CC_BYTES(sip_priv9_all_setting), .kind = CCK_TEXT, .width = 128},
    /* 199 CC_C_SIP_PRIV9_USER_SETTING */ {CC_BYTES(sip_priv9_user_setting), .kind = CCK_TEXT, .width = 128},
    /* 200 CC_C_HEADER_PASSTHROUGH_FILTER */ {CC_BYTES(header_passthrough_filter), .kind = CCK_TEXT, .width = 256},
    /* 201 CC_C_BEARER */ {CC_BYTES(bearer), .kind = CCK_TEXT, .width = 16},
    /* 202 CC_C_FROM_SIP_SRC_AUTO_VALUES */ {CC_BYTES(from_sip_src_auto_values), .kind = CCK_TEXT, .width = 32},
    /* 203 CC_C_DIVERSION_STRING */ {CC_BYTES(diversion_string), .kind = CCK_TEXT, .width = 128},
    /* 204 CC_O_SIP_FAILOVER_CAUSES */ {CC_BYTES(sip_failover_causes), .kind = CCK_STRUCT, .parse = apply_failover_causes, .format = format_failover_causes, .copy = copy_failover_causes},
    /* 205 CC_O_T38_OPTIONS */ {CC_BYTES(t38_options), .kind = CCK_STRUCT, .parse = apply_t38_options, .format = format_t38_options},
    /* 206 CC_O_CODECS */ {CC_BYTES(codecs), .kind = CCK_STRUCT, .parse = apply_codecs, .format = format_codecs},
    /* 207 CC_O_FEATURE_CODES */ {CC_BYTES(feature_codes), .kind = CCK_STRUCT, .parse = apply_feature_codes, .format = format_feature_codes},
    /* 208 CC_O_FAXDETECT_OPTIONS */ {CC_BYTES(faxdetect_options), .kind = CCK_STRUCT, .parse = apply_faxdetect_options, .format = format_faxdetect_options},
    /* 209 CC_O_AOC_DEFINITION */ {CC_BYTES(aocdef), .kind = CCK_STRUCT, .parse = apply_aoc, .format = format_aoc},
    /* 210 CC_O_FXO_IN_PR */ {CC_BYTES(fxo_in_pr_def), .kind = CCK_STRUCT, .parse = apply_fxo_in_pr, .format = format_fxo_in_pr},
    /* 211 CC_O_FXO_OUT_PR */ {CC_BYTES(fxo_out_pr_def), .kind = CCK_STRUCT, .parse = apply_fxo_out_pr, .format = format_fxo_out_pr},
    /* 212 CC_O_ECHO_CANCEL_SPARSE_PARAMS */ {CC_BYTES(ec_sparse_params), .kind = CCK_STRUCT, .parse = apply_ec_sparse_params, .format = format_ec_sparse_params},
    /* 213 CC_O_R2CONFIG */ {CC_BYTES(r2config), .kind = CCK_STRUCT},
    /* 214 CC_O_MSP_INDICATION_CONTROL */ {CC_BYTES(msp_indication_control), .kind = CCK_STRUCT, .parse = apply_msp_indication_control, .format = format_msp_indication_control},
};
static_assert(std::size(cc_descriptors) == CC_ID_COUNT, "one descriptor per identifier");
