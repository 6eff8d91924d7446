// Finding the tone set of a language code, and programming a set's
// call-progress detection into the media processor as the host-programmable
// country.
#include <strings.h>

#include <cstdio>

#include "application.h"
#include "confman.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "log.h"
#include "msp_queue.h"
#include "schema.h"
#include "tones.h"

namespace {

enum { DEFAULT_CODE_CHARS = 15 };

tone_config_set *first_set_of(const char *code)
{
    if (!gp || !gp->tonelist)
        return nullptr;
    for (tone_config_set *s = gp->tonelist->first; s; s = s->list)
        if (s->language_code && strcasecmp(s->language_code, code) == 0)
            return s;
    return nullptr;
}

// The default code: key country of tarn.tones, cut to 15 characters.
void default_code(char (&out)[DEFAULT_CODE_CHARS + 1])
{
    char buf[256] = "";
    out[0] = '\0';
    if (gp && cm_get(gp->config_tones, buf, sizeof buf, 0, CFG_TONES_COUNTRY) == 0)
        snprintf(out, sizeof out, "%.*s", DEFAULT_CODE_CHARS, buf);
}

} // namespace

tone_config_set *get_tone_config(const char *language_code)
{
    const char *code = language_code ? language_code : "";
    if (tone_config_set *s = first_set_of(code))
        return s;
    char def[DEFAULT_CODE_CHARS + 1];
    default_code(def);
    if (strcasecmp(def, code) == 0) {
        LOGD(TARN, 5, nullptr, "failed to find matching tone set for %s!", code);
        return nullptr;
    }
    if (tone_config_set *s = first_set_of(def))
        return s;
    LOGD(TARN, 5, nullptr, "failed to find matching tone set for \"%s\" or \"%s\"!", code, def);
    return nullptr;
}

int set_host_programmable_language_code(char *lang, int index)
{
    int counter = gp ? ++gp->msp_counter : 0;
    const tone_config_set *set = get_tone_config(lang);
    if (!set) {
        LOGD(TARN, 0, nullptr, "CRITICAL: tone config not found for %s!", lang ? lang : "");
        return -1;
    }
    magic_csm m = create_default_csm_msg(FC_CP_SET_COUNTRY_CODE_PARAMS, counter);
    csmdev_cp_set_country_code_params *p = m.u_csmdev_cp_set_country_code_params;
    if (!p)
        return -1;
    const call_progress_tone_config &cp = set->call_progress;
    p->host_programmable_country_code_index = (uint32_t)index & 0xFFFF;
    // Each tone's on window then its off window, low before high.
    uint32_t low16[ACP_TONES][4];
    for (int n = 0; n < ACP_TONES; n++) {
        low16[n][0] = (uint32_t)cp.acp_detect_on_low[n] & 0xFFFF;
        low16[n][1] = (uint32_t)cp.acp_detect_on_high[n] & 0xFFFF;
        low16[n][2] = (uint32_t)cp.acp_detect_off_low[n] & 0xFFFF;
        low16[n][3] = (uint32_t)cp.acp_detect_off_high[n] & 0xFFFF;
    }
    p->tone1_on_cadence_low_threshold = low16[0][0];
    p->tone1_on_cadence_high_threshold = low16[0][1];
    p->tone1_off_cadence_low_threshold = low16[0][2];
    p->tone1_off_cadence_high_threshold = low16[0][3];
    p->tone2_on_cadence_low_threshold = low16[1][0];
    p->tone2_on_cadence_high_threshold = low16[1][1];
    p->tone2_off_cadence_low_threshold = low16[1][2];
    p->tone2_off_cadence_high_threshold = low16[1][3];
    p->tone3_on_cadence_low_threshold = low16[2][0];
    p->tone3_on_cadence_high_threshold = low16[2][1];
    p->tone3_off_cadence_low_threshold = low16[2][2];
    p->tone3_off_cadence_high_threshold = low16[2][3];
    p->tone4_on_cadence_low_threshold = low16[3][0];
    p->tone4_on_cadence_high_threshold = low16[3][1];
    p->tone4_off_cadence_low_threshold = low16[3][2];
    p->tone4_off_cadence_high_threshold = low16[3][3];

    // Fixed detection filters; filter 3, the debounce and the nbd_ fields are 0.
    p->filter1_coefficient_a2 = 0x09A0;
    p->filter1_coefficient_a1 = 0xECC1;
    p->filter1_coefficient_a0 = 0x09A0;
    p->filter1_coefficient_b2 = 0xC774;
    p->filter1_coefficient_b1 = 0x759F;
    p->filter2_coefficient_a2 = 0x0736;
    p->filter2_coefficient_a1 = 0x0E6C;
    p->filter2_coefficient_a0 = 0x0736;
    p->filter2_coefficient_b2 = 0xCD4F;
    p->filter2_coefficient_b1 = 0x6713;
    p->filter3_coefficient_a2 = 0;
    p->filter3_coefficient_a1 = 0;
    p->filter3_coefficient_a0 = 0;
    p->filter3_coefficient_b2 = 0;
    p->filter3_coefficient_b1 = 0;
    p->on_to_off_transition_threshold = 0x0154;
    p->off_to_on_transition_threshold = 0x012C;
    p->alpha_response_time = 0x0200;
    p->dropout_time = 0;
    p->cpnrg_most_mult = 0x4000;
    p->debounce_threshold = 0;
    p->nbd_coefficient_a2 = 0;
    p->nbd_coefficient_a1 = 0;
    p->nbd_coefficient_a0 = 0;
    p->nbd_coefficient_b2 = 0;
    p->nbd_coefficient_b1 = 0;
    p->nbd_on_to_off_transition_threshold = 0;
    p->nbd_off_to_on_transition_threshold = 0;
    p->nbd_alpha = 0;
    p->nbd_cpnrg_most_mult = 0;
    p->nbd_debounce_threshold = 0;
    // Not waited for: the queue owns the message from here.
    msp_queue_command(m, MSP_ADDRESS_DEVICE, nullptr, 0, 0);
    return 0;
}
