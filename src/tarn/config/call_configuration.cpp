#include "call_configuration.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "application.h"

static_assert(std::is_trivially_copyable_v<call_configuration>, "records are copied byte for byte");
static_assert(std::is_standard_layout_v<call_configuration>, "members are reached by offset");
static_assert(sizeof(echo_canceller_sparse_params) == 4 && sizeof(cc_msp_indication_control) == 4,
              "one 32-bit word each");

const audio_codec available_audio_codecs[CC_AUDIO_CODEC_COUNT] = {
    {"pcma", 8}, {"pcmu", 0}, {"g726-32", 2}, {"g729", 18}, {"g723", 4}, {"g722", 9}, {"CLEARMODE", 200},
};

void cc_init_call_configuration(call_configuration *cc)
{
    if (gp)
        *cc = gp->default_call_configuration;
    else
        *cc = call_configuration{};
}

void cc_clone_call_configuration(call_configuration *target, const call_configuration *source)
{
    memcpy((void *)target, (const void *)source, sizeof *target);
}

call_configuration *cc_cleanup_call_configuration(call_configuration *cc)
{
    return cc;
}

void cc_clear_codec_settings(codec_settings *cs)
{
    for (auto &c : cs->allowed_codecs)
        c = nullptr;
    cs->count = 0;
}

void cc_create_codec_settings_by_using_codec(codec_settings *cs, int payload_type)
{
    for (const audio_codec &c : available_audio_codecs) {
        if (c.payload_type == payload_type) {
            cs->allowed_codecs[0] = &c;
            cs->count = 1;
            return;
        }
    }
    cs->count = 0;
}

int cc_compare_configuration_values_alphabetically(int a, int b)
{
    return strcmp(call_configuration_options[a].var, call_configuration_options[b].var) > 0 ? 1 : 0;
}

void init_default_call_configuration()
{
    call_configuration *d = &gp->default_call_configuration;

    // Every option that a record sets says so itself; the default sets none.
    d->echo_cancel = 1;
    d->early_audio = 1;
    d->early_audio_outbound = 0;
    d->generate_ringing_on_eao = 0;
    d->dton = 4;
    d->rton = 0;
    d->oton = 4;
    d->o2ton = 4;
    d->cton = 0;
    d->screen = 0;
    d->pres = 0;
    d->o2screen = 0;
    d->o2pres = 0;
    d->t38 = 0;
    d->echo_cancel_tail_length = 15;
    d->dtmfmode = CC_DTMF_RFC2833;
    d->dtmfremoval = 3;
    d->bearer_capability = 0;
    d->calldeflect = 1;
    d->ie_on_sip = 0;
    d->wait_for_cancel = 0;
    d->allow_all_chars_in_isdn_number = 0;
    d->cad_setting = CONFIG_CADSETTING_NOTHING;
    d->tonedetect_disable = 0;
    d->interdigit_dialing_max_digits = 20;
    d->prefix_priority = CONFIG_PREFIXPRIORITY_PREDIALPLAN;
    d->from_pstn_src_setting = CONFIG_SIPSRC_AUTO;
    d->from_sip_src_setting = CONFIG_PSTNSRC_AUTO;
    d->from_sip_src_setting_manual[0] = '\0';
    d->aoc_on_sip = 0;
    d->hdlc = 0;
    d->use_privacy_header = 0;
    d->rtp_packet_size = 20;
    d->remove_empty_display_quotes = 1;
    d->non_voice_call = 0;
    d->cid_gen_time = 1000;
    d->alert_on_cd = 1;
    d->onpi = d->o2npi = d->dnpi = d->cnpi = d->rnpi = 1;
    d->bearer_codec = 3;
    d->sip_info_on_facility = 0;
    d->isdn_progress_indicator = (uint32_t)-1;
    d->isdn_progress_location = (uint32_t)-1;
    d->rfc2833_dtmf_passthrough = 1;
    d->comfort_noise = CONFIG_COMFORT_NOISE_OFF;
    d->vad_tune = 0;
    d->from_sip_dest_setting = CONFIG_PSTNDEST_AUTO;
    d->from_sip_dest_setting_manual[0] = '\0';
    d->srtp_mode = 9;
    d->srtp_crypto_suites = cc_parse_crypto_suites("AES_CM_32:AES_CM_80:F8_80");
    d->t38_direction_reinvite = 1;
    d->disable_prack = 0;
    d->dialplan_go_on = 0;
    d->t38_max_rate = 14400;
    d->isdn_destination_field = CONFIG_ISDN_DESTINATION_DAD;
    d->disable_bridging = 0;
    d->pcmlaw = 0;
    d->call_authorization_default_policy = 0;
    d->call_authorization_timeout = 200;
    d->i2s_destination_numformat = 0;
    d->i2s_source_numformat = 0;
    d->s2d_dad_prefix_setting = 0;
    d->s2d_oad_prefix_setting = 0;
    d->facility_passthrough = 0;
    d->sip_xheaders = 0;
    d->feature_codes_silent = 0;
    d->origin_header = 0;
    d->skip_setup_ack = 0;
    d->dtmflen = 100;
    d->dtmfinterval = 400;
    d->s2s_nat_opener = 0;
    d->s2s_t38_passthrough = 0;
    d->s2s_rtp_handling_method = 0;
    d->s2s_televent_sdp_fix = 0;
    d->qvalue = -1; // all bits of the 8-bit field
    d->call_forwarding_mode = 0;
    d->gsm_clir = 0;
    d->clearmode_auto = 1;
    d->t38_ignore_offer = 0;
    d->anonymous_from_user_on_privacy = 1;
    d->tr119 = 0;
    d->sips_on_tls = 1;
    d->sip_allow_message = 0;

    struct text_default {
        char *field;
        size_t size;
        const char *value;
    };
#define T(f, v) {d->f, sizeof d->f, v}
    const text_default texts[] = {
        T(prefix_unknown, ""),
        T(prefix_national, "0"),
        T(prefix_international, "00"),
        T(prefix_private, ""),
        T(prefix_local, ""),
        T(dialplan_international_prefix, "00"),
        T(isdn_oad_setting, "${new_source_auto}"),
        T(isdn_dad_setting, "${new_destination_auto}"),
        T(sip_from_user_setting, "${new_source}"),
        T(sip_to_user_setting, "${new_destination}"),
        T(sip_diversion_to_user_setting, "${new_destination}"),
        T(sip_pai_user_setting, "${account_base_number_auto}"),
        T(sip_contact_user_setting, "${account_username}"),
        T(analog_oad_setting, "${new_source}"),
        T(gsm_oad_setting, "${new_source}"),
        T(s2fxo_call_progress_table_name, "default"),
        T(call_authorization_direction, "INBOUND"),
        T(sip_on_empty_user, "anonymous"),
        T(sip_from_display_setting, ""),
        T(sip_pai_all_setting, ""),
        T(sip_pai_display_setting, ""),
        T(sip_ppi_all_setting, ""),
        T(sip_ppi_user_setting, ""),
        T(sip_ppi_display_setting, ""),
        T(sip_rpi_all_setting, ""),
        T(sip_rpi_user_setting, ""),
        T(sip_rpi_display_setting, ""),
        T(sip_pcpi_all_setting, ""),
        T(sip_pcpi_user_setting, ""),
        T(sip_pcpi_display_setting, ""),
        T(sip_contact_all_setting, ""),
        T(sip_contact_display_setting, ""),
        T(sip_302_contact_user, ""),
        T(isdn_qsigname_setting, ""),
        T(isdn_redirected_nr_setting, ""),
        T(clir_on_oad, ""),
        T(sip_failover_proxy, ""),
        T(sip_failover_prefix, ""),
        T(s2i_call_progress_table_name, ""),
        T(i2s_call_progress_table_name, ""),
        T(rpi_anonymity_flags, ""),
    };
#undef T
    for (const text_default &t : texts)
        snprintf(t.field, t.size, "%s", t.value);

    static const int32_t causes[] = {408, 503, 909};
    memcpy(d->sip_failover_causes, causes, sizeof causes);
    d->sip_failover_causes_size = 3;
    cc_clear_codec_settings(&d->codecs);
    cc_allow_codecs(&d->codecs, "pcma");
    d->t38_options = t38options{.plc = 0, .ecm = 0, .rc_fp = 0, .rc_t30 = 3, .fcs = 0, .tcf = 1, .tsp = 0};
    d->faxdetect_options.fr_connect_window = 10;
    d->faxdetect_options.fr_min_events = 1;
    d->faxdetect_options.fr_min_tonelength = 400;
    d->faxdetect_options.fr_max_tonelength = 600;
    d->faxdetect_options.fr_min_interval = 2500;
    d->faxdetect_options.fr_max_interval = 3500;
    d->ec_sparse_params = echo_canceller_sparse_params{};
    d->ec_sparse_params.g168_ec_initialization = 1;
    d->ec_sparse_params.initialization_request = 1;
    d->r2config = mfcr2_profile{.max_ani = -1, .max_dnis = -1, .ani_first = 0, .r2variant = R2_VARIANT_ITU,
                                .immediate_accept = 0};
    d->msp_indication_control = cc_msp_indication_control{};
    d->msp_indication_control.ssrcviol = 1;
    // The set flags stay 0: nothing ever sets an option in the default record.
}
