// The per-call option record, its option table and the small operations
// that create and copy records. A record holds, for each option, a value and
// right after it a set flag telling whether this record sets the option.
// Its only pointers point at rows of available_audio_codecs, so a byte copy
// is a full copy.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct call_object;
struct reg_object;

// ---- structured values ---------------------------------------------------

struct audio_codec {
    char name[16];
    int32_t payload_type;
};

enum { CC_MAX_CODECS = 20 };
struct codec_settings {
    const audio_codec *allowed_codecs[CC_MAX_CODECS];
    int32_t count;
};

struct t38options {
    int32_t plc, ecm, rc_fp, rc_t30, fcs, tcf, tsp;
};

enum { CC_MAX_T38_REINVITE_TIMES = 8 };
struct t38_force_reinvite {
    uint32_t times[CC_MAX_T38_REINVITE_TIMES]; // seconds after connect, strictly rising
    int32_t count;
};

struct faxdetect_options_def {
    uint32_t fr_connect_window : 8;
    uint32_t fr_min_events : 8;
    uint32_t fr_min_tonelength : 16;
    uint32_t fr_max_tonelength : 16;
    uint32_t fr_min_interval : 16;
    uint32_t fr_max_interval : 16;
};

enum aoc_type {
    AOC_TYPE_NONE = 0,
    AOC_TYPE_CHARGING = 1,
    AOC_TYPE_CURRENCY = 2,
    AOC_TYPE_ANALOG12K = 3,
    AOC_TYPE_ANALOG16K = 4,
};

struct aoc_interval {
    int32_t units, interval, repeats;
};

enum { CC_MAX_AOC_RULES = 16 };
struct aoc_definition {
    aoc_type aoctype;
    aoc_interval aocintervals[CC_MAX_AOC_RULES];
    char currency[11];
    uint8_t multiplier;
    uint8_t number_of_rules;
    uint8_t current;
    uint8_t repeat_counter;
    int32_t total_units;
};

enum ifc_events { IFC_NONE = 0, IFC_MCID = 1, IFC_AFH = 2 };

enum { CC_MAX_FEATURE_CODES = 32, CC_FEATURE_CODE_SIZE = 32 };
struct feature_code_def {
    char ifc_codelist[CC_MAX_FEATURE_CODES][CC_FEATURE_CODE_SIZE];
    ifc_events ifc_eventlist[CC_MAX_FEATURE_CODES];
    char ifc_direction[CC_MAX_FEATURE_CODES]; // 'f', 'b' or 't'
    int32_t size;
    char fbuffer[32]; // digits collected from each direction
    char tbuffer[32];
};

enum { CC_MAX_FXO_RULES = 8 };
enum { FXO_PR_STATE_RINGING = 1, FXO_PR_STATE_CONNECTED = 2 };
enum { FXO_PR_EVENT_CONNECT = 1, FXO_PR_EVENT_DISCONNECT = 2 };
struct fxo_pr_definition {
    int32_t polarity_counter[CC_MAX_FXO_RULES];
    int32_t state[CC_MAX_FXO_RULES];
    int32_t event[CC_MAX_FXO_RULES];
    int32_t count;
};

struct echo_canceller_sparse_params {
    uint32_t dc_removal_filter_disable : 1;
    uint32_t g168_ec_initialization : 1;
    uint32_t initialization_request : 1;
    uint32_t hardware_echo_canceller_coefficient_freeze : 1;
    uint32_t nlp_control : 1;
    uint32_t nlp_tune_field : 2;
    uint32_t comfort_noise_generation_disable : 1;
    uint32_t network_echo_canceller_tail_length : 4;
    uint32_t : 20;
};

enum r2_protocol { R2_VARIANT_ITU = 0, R2_VARIANT_VENEZUELA = 1 };
struct mfcr2_profile {
    int32_t max_ani, max_dnis, ani_first;
    r2_protocol r2variant;
    int32_t immediate_accept;
};

struct cc_msp_indication_control {
    uint32_t default_setting : 1;
    uint32_t rfc_2833_dtmf_det : 1;
    uint32_t inband_dtmf_det : 1;
    uint32_t dtmf_eventdet : 1;
    uint32_t dtmf_tonedet : 1;
    uint32_t intvchng : 1;
    uint32_t ssrcviol : 1;
    uint32_t ssrcchg : 1;
    uint32_t ptchg : 1;
    uint32_t periodic_ptchng_indication_time : 16;
    uint32_t : 7;
};

// Conditions of a dial plan line, parsed from the texts the record keeps.
struct override {
    int32_t override_screen, override_pres; // -1 when absent
};
struct extra_filter {
    int32_t bearer_cap_capability, bearer_cap_capability_not;
    int32_t bearer_cap_rate, bearer_cap_rate_not;
    int32_t bearer_cap_user, bearer_cap_user_not;
    int32_t bearer_cap_mode, bearer_cap_mode_not;
    int32_t ecall_simple, ecall_parsed, diversion1; // -1: no condition
};

// ---- the record ------------------------------------------------------------

#define CC_SET(name) uint32_t name##_set : 1
#define CC_TEXT(name, n) \
    char name[n];        \
    CC_SET(name)

struct call_configuration {
    uint32_t echo_cancel : 1; CC_SET(echo_cancel);
    uint32_t early_audio : 2; CC_SET(early_audio);
    uint32_t early_audio_outbound : 1; CC_SET(early_audio_outbound);
    uint32_t generate_ringing_on_eao : 1; CC_SET(generate_ringing_on_eao);
    uint32_t dton; CC_SET(dton);
    uint32_t rton; CC_SET(rton);
    uint32_t oton; CC_SET(oton);
    uint32_t o2ton; CC_SET(o2ton);
    uint32_t cton; CC_SET(cton);
    uint32_t screen : 1; CC_SET(screen);
    uint32_t o2screen : 1; CC_SET(o2screen);
    uint32_t pres : 1; CC_SET(pres);
    uint32_t o2pres : 1; CC_SET(o2pres);
    uint32_t t38 : 1; CC_SET(t38);
    uint32_t echo_cancel_tail_length; CC_SET(echo_cancel_tail_length);
    uint32_t dtmfmode : 16; CC_SET(dtmfmode);
    uint32_t dtmfremoval; CC_SET(dtmfremoval);
    uint32_t bearer_capability; CC_SET(bearer_capability);
    uint32_t calldeflect : 1; CC_SET(calldeflect);
    uint32_t ie_on_sip : 1; CC_SET(ie_on_sip);
    uint32_t wait_for_cancel : 1; CC_SET(wait_for_cancel);
    uint32_t allow_all_chars_in_isdn_number : 2; CC_SET(allow_all_chars_in_isdn_number);
    uint32_t cad_setting; CC_SET(cad_setting);
    uint32_t reject_with_offhook : 1; CC_SET(reject_with_offhook);
    uint32_t tonedetect_disable; CC_SET(tonedetect_disable);
    uint32_t interdigit_dialing_max_digits; CC_SET(interdigit_dialing_max_digits);
    uint32_t prefix_priority; CC_SET(prefix_priority);
    uint32_t from_pstn_src_setting; CC_SET(from_pstn_src_setting);
    int32_t from_sip_src_setting; CC_SET(from_sip_src_setting);
    char from_sip_src_setting_manual[128];
    int32_t sip_failover_timeout; CC_SET(sip_failover_timeout);
    int32_t aoc_on_sip; CC_SET(aoc_on_sip);
    int32_t hdlc; CC_SET(hdlc);
    int32_t clearmode_on_alaw; CC_SET(clearmode_on_alaw);
    int32_t rtp_loopback; CC_SET(rtp_loopback);
    int32_t use_privacy_header; CC_SET(use_privacy_header);
    uint32_t rtp_packet_size : 16; CC_SET(rtp_packet_size);
    int32_t rtp_traffic_check; CC_SET(rtp_traffic_check);
    int32_t dgain_packet_to_pcm; CC_SET(dgain_packet_to_pcm);
    int32_t dgain_pcm_to_packet; CC_SET(dgain_pcm_to_packet);
    int32_t remove_empty_display_quotes; CC_SET(remove_empty_display_quotes);
    int32_t non_voice_call; CC_SET(non_voice_call);
    int32_t cid_gen_time; CC_SET(cid_gen_time);
    int32_t alert_on_cd; CC_SET(alert_on_cd);
    int32_t onpi; CC_SET(onpi);
    int32_t o2npi; CC_SET(o2npi);
    int32_t dnpi; CC_SET(dnpi);
    int32_t cnpi; CC_SET(cnpi);
    int32_t rnpi; CC_SET(rnpi);
    int32_t outgoing_bchannels; CC_SET(outgoing_bchannels);
    uint32_t bearer_codec; CC_SET(bearer_codec);
    uint32_t pae_headers; CC_SET(pae_headers);
    uint32_t sip_info_on_disconnect; CC_SET(sip_info_on_disconnect);
    uint32_t sip_info_on_facility; CC_SET(sip_info_on_facility);
    uint32_t isdn_progress_indicator; CC_SET(isdn_progress_indicator);
    uint32_t isdn_progress_location; CC_SET(isdn_progress_location);
    uint32_t rfc2833_dtmf_passthrough : 1; CC_SET(rfc2833_dtmf_passthrough);
    uint32_t comfort_noise : 2; CC_SET(comfort_noise);
    uint32_t vad_tune : 3; CC_SET(vad_tune);
    int32_t from_sip_dest_setting; CC_SET(from_sip_dest_setting);
    char from_sip_dest_setting_manual[128];
    int32_t srtp_crypto_suites; CC_SET(srtp_crypto_suites);
    int32_t srtp_mode; CC_SET(srtp_mode);
    uint32_t t38_direction_reinvite : 3; CC_SET(t38_direction_reinvite);
    uint32_t disable_prack : 1; CC_SET(disable_prack);
    uint32_t dialplan_go_on : 1; CC_SET(dialplan_go_on);
    uint32_t t38_max_rate : 16; CC_SET(t38_max_rate);
    uint32_t isdn_destination_field : 4; CC_SET(isdn_destination_field);
    uint32_t disable_bridging : 1; CC_SET(disable_bridging);
    uint32_t pcmlaw : 1; CC_SET(pcmlaw);
    uint32_t call_authorization_default_policy : 1; CC_SET(call_authorization_default_policy);
    uint32_t call_authorization_timeout : 16; CC_SET(call_authorization_timeout);
    uint32_t i2s_destination_numformat : 8; CC_SET(i2s_destination_numformat);
    uint32_t i2s_source_numformat : 8; CC_SET(i2s_source_numformat);
    uint32_t s2d_dad_prefix_setting : 2; CC_SET(s2d_dad_prefix_setting);
    uint32_t s2d_oad_prefix_setting : 2; CC_SET(s2d_oad_prefix_setting);
    uint32_t facility_passthrough : 1; CC_SET(facility_passthrough);
    uint32_t sip_xheaders : 8; CC_SET(sip_xheaders);
    uint32_t feature_codes_silent : 1; CC_SET(feature_codes_silent);
    uint32_t origin_header : 1; CC_SET(origin_header);
    uint32_t skip_setup_ack : 1; CC_SET(skip_setup_ack);
    uint32_t resync_on_notify : 1; CC_SET(resync_on_notify);
    uint32_t dns_srv : 1; CC_SET(dns_srv);
    uint32_t dialtone_digits : 8; CC_SET(dialtone_digits);
    uint32_t emergency : 8; CC_SET(emergency);
    int32_t dtmflen; CC_SET(dtmflen);
    int32_t dtmfinterval; CC_SET(dtmfinterval);
    uint32_t s2s_nat_opener : 8; CC_SET(s2s_nat_opener);
    uint32_t s2s_t38_passthrough : 8; CC_SET(s2s_t38_passthrough);
    uint32_t s2s_rtp_handling_method : 8; CC_SET(s2s_rtp_handling_method);
    uint32_t s2s_televent_sdp_fix : 8; CC_SET(s2s_televent_sdp_fix);
    int32_t qvalue : 8; CC_SET(qvalue);
    uint32_t call_forwarding_mode : 8; CC_SET(call_forwarding_mode);
    uint32_t isdn_no_sending_complete : 8; CC_SET(isdn_no_sending_complete);
    uint32_t gsm_clir : 8; CC_SET(gsm_clir);
    uint32_t clearmode_auto : 8; CC_SET(clearmode_auto);
    uint32_t sdp_codec_selection : 8; CC_SET(sdp_codec_selection);
    uint32_t tr_notruf : 8; CC_SET(tr_notruf);
    uint32_t header_passthrough : 8; CC_SET(header_passthrough);
    uint32_t t38_ip_events : 8; CC_SET(t38_ip_events);
    uint32_t t38_ignore_offer : 8; CC_SET(t38_ignore_offer);
    uint32_t anonymous_from_user_on_privacy : 8; CC_SET(anonymous_from_user_on_privacy);
    uint32_t tr119 : 8; CC_SET(tr119);
    uint32_t sips_on_tls : 8; CC_SET(sips_on_tls);
    uint32_t sip_allow_message : 8; CC_SET(sip_allow_message);
    uint32_t sip_custom_contact_on_inbound : 8; CC_SET(sip_custom_contact_on_inbound);
    uint32_t msp_no_channel_restart : 8; CC_SET(msp_no_channel_restart);
    uint32_t s2s_302_set_pai : 8; CC_SET(s2s_302_set_pai);
    uint32_t dialplan_finish_dialing_on_match;
    uint32_t dialplan_finish_dialing_on_match_set; // a whole word, unlike every other flag

    CC_TEXT(prefix_unknown, 16);
    CC_TEXT(prefix_national, 16);
    CC_TEXT(prefix_international, 16);
    CC_TEXT(prefix_private, 16);
    CC_TEXT(prefix_local, 16);
    CC_TEXT(prefix_alphanumeric, 16);
    CC_TEXT(prefix_abbreviated, 16);
    CC_TEXT(clir_on_oad, 32);
    CC_TEXT(jbopt_string, 32);
    CC_TEXT(s2i_call_progress_table_name, 32);
    CC_TEXT(i2s_call_progress_table_name, 32);
    CC_TEXT(sip_failover_proxy, 32);
    CC_TEXT(sip_failover_prefix, 32);
    CC_TEXT(isdn_oad_setting, 32);
    CC_TEXT(isdn_oad2_setting, 32);
    CC_TEXT(isdn_qsigname_setting, 32);
    CC_TEXT(isdn_redirected_nr_setting, 32);
    CC_TEXT(isdn_dad_setting, 32);
    CC_TEXT(sip_national_code, 16);
    CC_TEXT(sip_international_code, 16);
    CC_TEXT(dialplan_international_prefix, 16);
    CC_TEXT(bearer, 16);
    CC_TEXT(sip_request_uri_all_setting, 128);
    CC_TEXT(sip_from_user_setting, 128);
    CC_TEXT(sip_from_display_setting, 128);
    CC_TEXT(sip_from_user_all_setting, 128);
    CC_TEXT(sip_to_user_setting, 128);
    CC_TEXT(sip_to_user_all_setting, 128);
    CC_TEXT(sip_diversion_to_user_setting, 128);
    CC_TEXT(sip_pai_all_setting, 128);
    CC_TEXT(sip_pai_user_setting, 128);
    CC_TEXT(sip_pai_display_setting, 128);
    CC_TEXT(sip_ppi_all_setting, 128);
    CC_TEXT(sip_ppi_user_setting, 128);
    CC_TEXT(sip_ppi_display_setting, 128);
    CC_TEXT(sip_rpi_all_setting, 128);
    CC_TEXT(sip_rpi_user_setting, 128);
    CC_TEXT(sip_rpi_display_setting, 128);
    CC_TEXT(sip_contact_all_setting, 128);
    CC_TEXT(sip_contact_user_setting, 128);
    CC_TEXT(sip_contact_display_setting, 128);
    CC_TEXT(sip_pcpi_all_setting, 128);
    CC_TEXT(sip_pcpi_user_setting, 128);
    CC_TEXT(sip_pcpi_display_setting, 128);
    CC_TEXT(sip_priv0_all_setting, 128);
    CC_TEXT(sip_priv0_user_setting, 128);
    CC_TEXT(sip_priv1_all_setting, 128);
    CC_TEXT(sip_priv1_user_setting, 128);
    CC_TEXT(sip_priv2_all_setting, 128);
    CC_TEXT(sip_priv2_user_setting, 128);
    CC_TEXT(sip_priv3_all_setting, 128);
    CC_TEXT(sip_priv3_user_setting, 128);
    CC_TEXT(sip_priv4_all_setting, 128);
    CC_TEXT(sip_priv4_user_setting, 128);
    CC_TEXT(sip_priv5_all_setting, 128);
    CC_TEXT(sip_priv5_user_setting, 128);
    CC_TEXT(sip_priv6_all_setting, 128);
    CC_TEXT(sip_priv6_user_setting, 128);
    CC_TEXT(sip_priv7_all_setting, 128);
    CC_TEXT(sip_priv7_user_setting, 128);
    CC_TEXT(sip_priv8_all_setting, 128);
    CC_TEXT(sip_priv8_user_setting, 128);
    CC_TEXT(sip_priv9_all_setting, 128);
    CC_TEXT(sip_priv9_user_setting, 128);
    CC_TEXT(sip_account_base_number, 128);
    CC_TEXT(header_passthrough_filter, 256);
    CC_TEXT(analog_oad_setting, 32);
    CC_TEXT(analog_display_setting, 32);
    CC_TEXT(faxdetect_extension, 32);
    CC_TEXT(faxdetect_proxy, 32);
    CC_TEXT(sip_txx_timeout, 32);
    CC_TEXT(gsm_oad_setting, 32);
    CC_TEXT(cas_oad_setting, 32);
    CC_TEXT(rpi_anonymity_flags, 32);
    CC_TEXT(faxdetect_call_termination, 128);
    CC_TEXT(s2fxo_call_progress_table_name, 32);
    CC_TEXT(dtmfdpar, 32);
    CC_TEXT(move_on_pstn_fail, 128);
    CC_TEXT(extra_filter, 128);
    CC_TEXT(override, 128);
    CC_TEXT(dtmftune, 32);
    CC_TEXT(authorization_server, 128);
    CC_TEXT(authorization_server_credentials, 128);
    CC_TEXT(ntdet_params, 32);
    CC_TEXT(call_authorization_direction, 32);
    CC_TEXT(isdn_ie_hlc, 32);
    CC_TEXT(isdn_ie_llc, 32);
    CC_TEXT(isdn_ie_uuname, 128);
    CC_TEXT(isdn_ie_displayname, 128);
    CC_TEXT(sip_on_empty_user, 128);
    CC_TEXT(sip_on_empty_display, 128);
    CC_TEXT(isdn_cd_fail_prefix, 128);
    CC_TEXT(sip_302_contact_user, 128);
    CC_TEXT(sip_302_contact_url, 128);
    CC_TEXT(from_sip_src_auto_values, 32);
    CC_TEXT(diversion_string, 128);

    int32_t sip_failover_causes[20];
    int32_t sip_failover_causes_size;
    CC_SET(sip_failover_causes);
    t38options t38_options; CC_SET(t38_options);
    codec_settings codecs; CC_SET(codecs);
    feature_code_def feature_codes; CC_SET(feature_codes);
    faxdetect_options_def faxdetect_options; CC_SET(faxdetect_options);
    aoc_definition aocdef; CC_SET(aocdef);
    fxo_pr_definition fxo_in_pr_def; CC_SET(fxo_in_pr_def);
    fxo_pr_definition fxo_out_pr_def; CC_SET(fxo_out_pr_def);
    t38_force_reinvite force_t38_reinvite; CC_SET(force_t38_reinvite);
    echo_canceller_sparse_params ec_sparse_params; CC_SET(ec_sparse_params);
    mfcr2_profile r2config; CC_SET(r2config);
    cc_msp_indication_control msp_indication_control; CC_SET(msp_indication_control);
};

#undef CC_TEXT
#undef CC_SET

// ---- identifiers, scopes and stored codes ---------------------------------

enum call_configuration_id {
    CC_I_ECHO_CANCEL = 0,
    CC_I_EARLY_AUDIO = 1,
    CC_I_EARLY_AUDIO_OUTBOUND = 2,
    CC_I_GENERATE_RINGING_ON_EAO = 3,
    CC_I_DTON = 4,
    CC_I_RTON = 5,
    CC_I_OTON = 6,
    CC_I_O2TON = 7,
    CC_I_CTON = 8,
    CC_I_SCREEN = 9,
    CC_I_PRES = 10,
    CC_I_O2SCREEN = 11,
    CC_I_O2PRES = 12,
    CC_I_T38 = 13,
    CC_I_ECHO_CANCEL_TAIL_LENGTH = 14,
    CC_I_DTMFMODE = 15,
    CC_I_DTMFREMOVAL = 16,
    CC_I_BEARER_CAPABILITY = 17,
    CC_I_CALL_DEFLECT = 18,
    CC_I_IE_ON_SIP = 19,
    CC_I_WAIT_FOR_CANCEL = 20,
    CC_I_ALLOW_ALL_CHARS_IN_ISDN_NUMBER = 21,
    CC_I_CAD_SETTING = 22,
    CC_O_FORCE_T38_REINVITE = 23,
    CC_I_REJECT_WITH_OFFHOOK = 24,
    CC_I_TONEDETECT_DISABLE = 25,
    CC_I_INTERDIGIT_DIALING_MAX_DIGITS = 26,
    CC_I_PREFIX_PRIORITY = 27,
    CC_I_FROM_PSTN_SRC_SETTING = 28,
    CC_I_FROM_SIP_SRC_SETTING = 29,
    CC_I_SIP_FAILOVER_TIMEOUT = 30,
    CC_I_AOC_ON_SIP = 31,
    CC_I_HDLC = 32,
    CC_I_CLEARMODE_ON_ALAW = 33,
    CC_I_RTP_LOOPBACK = 34,
    CC_I_USE_PRIVACY_HEADER = 35,
    CC_I_RTP_PACKET_SIZE = 36,
    CC_I_RTP_INBOUND_CHECK = 37,
    CC_I_DGAIN_PACKET_TO_PCM = 38,
    CC_I_DGAIN_PCM_TO_PACKET = 39,
    CC_I_REMOVE_EMPTY_DISPLAY_QUOTES = 40,
    CC_I_NON_VOICE_CALL = 41,
    CC_I_CID_GEN_TIME = 42,
    CC_I_ALERT_ON_CD = 43,
    CC_I_ONPI = 44,
    CC_I_O2NPI = 45,
    CC_I_DNPI = 46,
    CC_I_CNPI = 47,
    CC_I_RNPI = 48,
    CC_I_OUTGOING_BCHANNELS = 49,
    CC_I_BEARER_CODEC = 50,
    CC_I_PAE_HEADERS = 51,
    CC_I_SIP_INFO_ON_DISCONNECT = 52,
    CC_I_SIP_INFO_ON_FACILITY = 53,
    CC_I_ISDN_PROGRESS_INDICATOR = 54,
    CC_I_ISDN_PROGRESS_LOCATION = 55,
    CC_I_RFC2833_DTMF_PASSTHROUGH = 56,
    CC_I_COMFORT_NOISE = 57,
    CC_I_VAD_TUNE = 58,
    CC_I_FROM_SIP_DEST_SETTING = 59,
    CC_I_SRTP_MODE = 60,
    CC_I_SRTP_CRYPTO_SUITES = 61,
    CC_I_T38_REINVITE = 62,
    CC_I_DISABLE_PRACK = 63,
    CC_I_DIALPLAN_GO_ON = 64,
    CC_I_T38_MAX_RATE = 65,
    CC_I_ISDN_DESTINATION_FIELD = 66,
    CC_I_PCMLAW = 67,
    CC_I_DISABLE_BRIDGING = 68,
    CC_I_CALL_AUTHORIZATION_DEFAULT_POLICY = 69,
    CC_I_CALL_AUTHORIZATION_TIMEOUT = 70,
    CC_I_I2S_DESTINATION_NUMFORMAT = 71,
    CC_I_I2S_SOURCE_NUMFORMAT = 72,
    CC_I_S2D_DAD_PREFIX_SETTING = 73,
    CC_I_S2D_OAD_PREFIX_SETTING = 74,
    CC_I_FACILITY_PASSTHROUGH = 75,
    CC_I_SIP_XHEADERS = 76,
    CC_I_FEATURE_CODES_SILENT = 77,
    CC_I_ORIGIN_HEADER = 78,
    CC_I_SKIP_SETUP_ACK = 79,
    CC_I_RESYNC_ON_NOTIFY = 80,
    CC_I_SIP_DNSSRV = 81,
    CC_I_DIALTONE_DIGITS = 82,
    CC_I_EMERGENCY = 83,
    CC_I_DTMFLEN = 84,
    CC_I_DTMFINTERVAL = 85,
    CC_I_S2S_NAT_OPENER = 86,
    CC_I_S2S_T38_PASSTHROUGH = 87,
    CC_I_S2S_RTP_HANDLING_METHOD = 88,
    CC_I_S2S_TELEVENT_SDP_FIX = 89,
    CC_I_QVALUE = 90,
    CC_I_CALL_FORWARDING_MODE = 91,
    CC_I_ISDN_NO_SENDING_COMPLETE = 92,
    CC_I_GSM_CLIR = 93,
    CC_I_CLEARMODE_AUTO = 94,
    CC_I_SDP_CODEC_SELECTION = 95,
    CC_I_TR_NOTRUF = 96,
    CC_I_HEADER_PASSTHROUGH = 97,
    CC_I_T38_IP_EVENTS = 98,
    CC_I_T38_IGNORE_OFFER = 99,
    CC_I_ANONYMOUS_FROM_USER_ON_PRIVACY = 100,
    CC_I_1TR119 = 101,
    CC_I_SIPS_ON_TLS = 102,
    CC_I_SIP_ALLOW_MESSAGE = 103,
    CC_I_SIP_CUSTOM_CONTACT_IN_OK = 104,
    CC_I_MSP_NO_CHANNEL_RESTART = 105,
    CC_I_S2S_302_SET_PAI = 106,
    CC_I_DIALPLAN_FINISH_DIALING_ON_MATCH = 107,
    CC_C_PREFIX_UNKNOWN = 108,
    CC_C_PREFIX_NATIONAL = 109,
    CC_C_PREFIX_INTERNATIONAL = 110,
    CC_C_PREFIX_PRIVATE = 111,
    CC_C_PREFIX_LOCAL = 112,
    CC_C_PREFIX_ALPHANUMERIC = 113,
    CC_C_PREFIX_ABBREVIATED = 114,
    CC_C_CLIR_ON_OAD = 115,
    CC_C_JBOPT = 116,
    CC_C_S2I_CALL_PROGRESS_TABLE_NAME = 117,
    CC_C_I2S_CALL_PROGRESS_TABLE_NAME = 118,
    CC_C_SIP_FAILOVER_PROXY = 119,
    CC_C_SIP_FAILOVER_PREFIX = 120,
    CC_C_ISDN_OAD_SETTING = 121,
    CC_C_ISDN_OAD2_SETTING = 122,
    CC_C_ISDN_QSIGNAME_SETTING = 123,
    CC_C_ISDN_REDIRECTED_NR_SETTING = 124,
    CC_C_ISDN_DAD_SETTING = 125,
    CC_C_SIP_REQUEST_URI_ALL_SETTING = 126,
    CC_C_SIP_FROM_USER_SETTING = 127,
    CC_C_SIP_FROM_DISPLAY_SETTING = 128,
    CC_C_SIP_FROM_USER_ALL_SETTING = 129,
    CC_C_SIP_TO_USER_SETTING = 130,
    CC_C_DIVERSION_TO_USER_SETTING = 131,
    CC_C_SIP_TO_USER_ALL_SETTING = 132,
    CC_C_SIP_PAI_ALL_SETTING = 133,
    CC_C_SIP_PAI_USER_SETTING = 134,
    CC_C_SIP_PAI_DISPLAY_SETTING = 135,
    CC_C_SIP_PPI_ALL_SETTING = 136,
    CC_C_SIP_PPI_USER_SETTING = 137,
    CC_C_SIP_PPI_DISPLAY_SETTING = 138,
    CC_C_SIP_RPI_ALL_SETTING = 139,
    CC_C_SIP_RPI_USER_SETTING = 140,
    CC_C_SIP_RPI_DISPLAY_SETTING = 141,
    CC_C_SIP_CONTACT_ALL_SETTING = 142,
    CC_C_SIP_CONTACT_USER_SETTING = 143,
    CC_C_SIP_CONTACT_DISPLAY_SETTING = 144,
    CC_C_SIP_PCPI_ALL_SETTING = 145,
    CC_C_SIP_PCPI_USER_SETTING = 146,
    CC_C_SIP_PCPI_DISPLAY_SETTING = 147,
    CC_C_SIP_ACCOUNT_BASE_NUMBER = 148,
    CC_C_ANALOG_OAD_SETTING = 149,
    CC_C_ANALOG_DISPLAY_SETTING = 150,
    CC_C_FAXDETECT_EXTENSION = 151,
    CC_C_FAXDETECT_PROXY = 152,
    CC_C_SIP_TXX_TIMEOUT = 153,
    CC_C_GSM_OAD_SETTING = 154,
    CC_C_CAS_OAD_SETTING = 155,
    CC_C_RPI_ANONYMITY_FLAGS = 156,
    CC_C_FAXDETECT_CALL_TERMINATION = 157,
    CC_C_S2FXO_CALL_PROGRESS_TABLE_NAME = 158,
    CC_C_DTMF_DETECTOR_PARAMS = 159,
    CC_C_MOVE_ON_PSTN_FAIL = 160,
    CC_C_EXTRA_FILTER = 161,
    CC_C_OVERRIDE = 162,
    CC_C_DTMF_TUNE = 163,
    CC_C_AUTHORIZATION_SERVER = 164,
    CC_C_AUTHORIZATION_CREDENTIALS = 165,
    CC_C_NTDETPARAMS = 166,
    CC_C_CALL_AUTHORIZATION_DIRECTION = 167,
    CC_C_SIP_NATIONAL_CODE = 168,
    CC_C_SIP_INTERNATIONAL_CODE = 169,
    CC_C_DIALPLAN_INTERNATIONAL_PREFIX = 170,
    CC_C_ISDN_IE_HLC = 171,
    CC_C_ISDN_IE_LLC = 172,
    CC_C_ISDN_IE_USER_USER_NAME = 173,
    CC_C_ISDN_IE_DISPLAY_NAME = 174,
    CC_C_SIP_ON_EMPTY_USER = 175,
    CC_C_SIP_ON_EMPTY_DISPLAY = 176,
    CC_C_ISDN_CALLDEFLECT_FAIL_PREFIX = 177,
    CC_C_SIP_302_CONTACT_URL = 178,
    CC_C_SIP_302_CONTACT_USER = 179,
    CC_C_SIP_PRIV0_ALL_SETTING = 180,
    CC_C_SIP_PRIV0_USER_SETTING = 181,
    CC_C_SIP_PRIV1_ALL_SETTING = 182,
    CC_C_SIP_PRIV1_USER_SETTING = 183,
    CC_C_SIP_PRIV2_ALL_SETTING = 184,
    CC_C_SIP_PRIV2_USER_SETTING = 185,
    CC_C_SIP_PRIV3_ALL_SETTING = 186,
    CC_C_SIP_PRIV3_USER_SETTING = 187,
    CC_C_SIP_PRIV4_ALL_SETTING = 188,
    CC_C_SIP_PRIV4_USER_SETTING = 189,
    CC_C_SIP_PRIV5_ALL_SETTING = 190,
    CC_C_SIP_PRIV5_USER_SETTING = 191,
    CC_C_SIP_PRIV6_ALL_SETTING = 192,
    CC_C_SIP_PRIV6_USER_SETTING = 193,
    CC_C_SIP_PRIV7_ALL_SETTING = 194,
    CC_C_SIP_PRIV7_USER_SETTING = 195,
    CC_C_SIP_PRIV8_ALL_SETTING = 196,
    CC_C_SIP_PRIV8_USER_SETTING = 197,
    CC_C_SIP_PRIV9_ALL_SETTING = 198,
    CC_C_SIP_PRIV9_USER_SETTING = 199,
    CC_C_HEADER_PASSTHROUGH_FILTER = 200,
    CC_C_BEARER = 201,
    CC_C_FROM_SIP_SRC_AUTO_VALUES = 202,
    CC_C_DIVERSION_STRING = 203,
    CC_O_SIP_FAILOVER_CAUSES = 204,
    CC_O_T38_OPTIONS = 205,
    CC_O_CODECS = 206,
    CC_O_FEATURE_CODES = 207,
    CC_O_FAXDETECT_OPTIONS = 208,
    CC_O_AOC_DEFINITION = 209,
    CC_O_FXO_IN_PR = 210,
    CC_O_FXO_OUT_PR = 211,
    CC_O_ECHO_CANCEL_SPARSE_PARAMS = 212,
    CC_O_R2CONFIG = 213,
    CC_O_MSP_INDICATION_CONTROL = 214,
    CC_ID_COUNT
};

enum call_configuration_type {
    CC_TYPE_SIP = 0,
    CC_TYPE_ISDN = 1,
    CC_TYPE_ANALOG = 2,
    CC_TYPE_GSM = 3,
    CC_TYPE_PSTN = 4,
    CC_TYPE_SIPISDN = 5,
    CC_TYPE_SIPPSTN = 6,
    CC_TYPE_SIP_INBOUND = 7,
    CC_TYPE_SIP_OUTBOUND = 8,
    CC_TYPE_SIP_BOTH = 9,
    CC_TYPE_DIALPLAN = 10,
    CC_TYPE_ALL = 11,
};

enum ccupdate_flag {
    CCUF_UPDATE_EVERYTHING = 0,
    CCUF_DO_NOT_UPDATE_SIP_INBOUND = 1,
    CCUF_DO_NOT_UPDATE_SIP_OUTBOUND = 2,
};

enum config_values {
    CONFIG_CADSETTING_NOTHING = 0,
    CONFIG_CADSETTING_DAD = 1,
    CONFIG_CADSETTING_NEW_DESTINATION = 2,
    CONFIG_PREFIXPRIORITY_POSTDIALPLAN = 0,
    CONFIG_PREFIXPRIORITY_PREDIALPLAN = 1,
    CONFIG_SIPSRC_OAD = 0, // codes of from_pstn_src_setting
    CONFIG_SIPSRC_OAD2 = 1,
    CONFIG_SIPSRC_QSIGNAME = 2,
    CONFIG_SIPSRC_REDIRECTED_NR = 3,
    CONFIG_SIPSRC_CNIP = 4,
    CONFIG_SIPSRC_AUTO = 5,
    CONFIG_SIPSRC_ACTDIVQ1 = 6,
    CONFIG_SIPSRC_ACTDIVQ2 = 7,
    CONFIG_PSTNSRC_FROM_USER = 0, // codes of from_sip_src_setting
    CONFIG_PSTNSRC_FROM_DISPLAY = 1,
    CONFIG_PSTNSRC_PAI_ALL = 2,
    CONFIG_PSTNSRC_PAI_DISPLAY = 3,
    CONFIG_PSTNSRC_PAI_USER = 4,
    CONFIG_PSTNSRC_PPI_ALL = 5,
    CONFIG_PSTNSRC_PPI_DISPLAY = 6,
    CONFIG_PSTNSRC_PPI_USER = 7,
    CONFIG_PSTNSRC_RPI_ALL = 8,
    CONFIG_PSTNSRC_RPI_DISPLAY = 9,
    CONFIG_PSTNSRC_RPI_USER = 10,
    CONFIG_PSTNSRC_AUTO = 11,
    CONFIG_PSTNSRC_MANUAL = 12,
    CONFIG_ISDN_DESTINATION_DAD = 0,
    CONFIG_ISDN_DESTINATION_KEYPAD = 1,
    CONFIG_ISDN_DESTINATION_BOTH = 2,
    CONFIG_PSTNDEST_AUTO = 0, // codes of from_sip_dest_setting
    CONFIG_PSTNDEST_TO_USER = 1,
    CONFIG_PSTNDEST_TO_DISPLAY = 2,
    CONFIG_PSTNDEST_PCPI_ALL = 3,
    CONFIG_PSTNDEST_PCPI_USER = 4,
    CONFIG_PSTNDEST_PCPI_DISPLAY = 5,
    CONFIG_PSTNDEST_PAI_ALL = 6,
    CONFIG_PSTNDEST_PAI_USER = 7,
    CONFIG_PSTNDEST_PAI_DISPLAY = 8,
    CONFIG_PSTNDEST_PPI_ALL = 9,
    CONFIG_PSTNDEST_PPI_USER = 10,
    CONFIG_PSTNDEST_PPI_DISPLAY = 11,
    CONFIG_PSTNDEST_REQUEST_URL_USER = 12,
    CONFIG_PSTNDEST_MANUAL = 13,
    CONFIG_COMFORT_NOISE_OFF = 0,
    CONFIG_COMFORT_NOISE_ON = 1,
    CONFIG_COMFORT_NOISE_SDP = 2,
    CONFIG_VAZ_UNKNOWN = 0,
    CONFIG_VAZ_00 = 1,
    CONFIG_VAZ_PLUS = 2,
    CONFIG_VAZ_EMPTY = 3,
    CONFIG_S2D_PREFIX_REPLACE_PLUS = 0,
    CONFIG_S2D_PREFIX_PREPEND = 1,
    CONFIG_S2D_PREFIX_NONE = 2,
    CONFIG_D2S_PREFIX_NONE = 0,
    CONFIG_D2S_PREFIX_REMOVE = 1,
    CONFIG_D2S_PREFIX_REPLACE = 2,
};

// Codes of the two-part values.
enum { CC_DTMF_INBAND = 1, CC_DTMF_INFO = 2, CC_DTMF_RFC2833 = 4 };
enum { CC_SRTP_OFF = 1, CC_SRTP_OPTIONAL = 2, CC_SRTP_MANDATORY = 4 };
// Crypto suites, one per byte of the crypto-suite word, byte 0 first.
enum { CC_CRYPTO_AES_CM_80 = 1, CC_CRYPTO_AES_CM_32 = 2, CC_CRYPTO_F8_80 = 3 };

// ---- the option table ------------------------------------------------------

struct call_configuration_option {
    call_configuration_id id;
    call_configuration_type type; // scope
    const char *var;              // the key
    const char *descriptions;
    const char *values;
    const char *regexp; // shown by the printout only
};

enum { CC_OPTION_COUNT = 212 };
extern const call_configuration_option call_configuration_options[CC_OPTION_COUNT];

enum { CC_AUDIO_CODEC_COUNT = 7 };
extern const audio_codec available_audio_codecs[CC_AUDIO_CODEC_COUNT];

// ---- records ---------------------------------------------------------------

// Overwrites the record with the application's default record.
void cc_init_call_configuration(call_configuration *cc);
// Byte copy, values and set flags.
void cc_clone_call_configuration(call_configuration *target, const call_configuration *source);
// Nothing to release; returns the record.
call_configuration *cc_cleanup_call_configuration(call_configuration *cc);
void cc_clear_codec_settings(codec_settings *cs);
// A one-entry list of the codec with that payload type; without such a codec
// the count is 0 and the entries stay.
void cc_create_codec_settings_by_using_codec(codec_settings *cs, int payload_type);
// 1 when the key of row a sorts after the key of row b (bytes), else 0.
int cc_compare_configuration_values_alphabetically(int a, int b);
// Fills the application's default record (only the fields it names).
void init_default_call_configuration();

// ---- option value parsers (text to record) ------------------------------
// They work on a copy of their text, skip what they cannot use and never
// fail as a whole, except cc_parse_msp_indication_control.

int cc_allow_codecs(codec_settings *cs, const char *text);
int32_t cc_parse_crypto_suites(const char *text);
void cc_parse_sip_failover_causes(call_configuration *cc, const char *text);
void cc_set_t38_options(t38options *t, const char *text);
void cc_parse_force_t38_reinvite(t38_force_reinvite *f, const char *text);
void cc_set_faxdetect_options(faxdetect_options_def *f, const char *text);
void cc_parse_feature_codes(feature_code_def *f, const char *text);
void cc_parse_aoc_definition(aoc_definition *a, const char *text);
void cc_parse_fxo_definition(fxo_pr_definition *f, const char *text);
void cc_parse_ec_sparse_params(echo_canceller_sparse_params *e, const char *text);
void cc_parse_r2config(mfcr2_profile *p, const char *text);
// 0; -1 (and default_setting 1) unless there are exactly nine items.
int cc_parse_msp_indication_control(cc_msp_indication_control *m, const char *text);
int cc_parse_prefix_setting(const char *text);
int cc_parse_d2s_prefix_setting(const char *text);
int cc_parse_sip_xheaders(const char *text);

// ---- formatters (record to text, bounded by the caller's buffer) --------

void cc_format_codec_settings(const codec_settings *cs, char *buf, size_t size);
void cc_printout_codec_string(FILE *out, const codec_settings *cs);
// The long suite names; the text lives in a buffer of the calling thread.
const char *cc_print_crypto_suites(int32_t suites);
void cc_format_sip_failover_causes(char *buf, size_t size, const int32_t *causes, int count);
void cc_format_t38_options(const t38options *t, char *buf, size_t size);
void cc_format_t38_force_reinvite(const t38_force_reinvite *f, char *buf, size_t size);
void cc_format_faxdetect_options(const faxdetect_options_def *f, char *buf, size_t size);
void cc_format_feature_codes(const feature_code_def *f, char *buf, size_t size);
void cc_format_aoc_definition(const aoc_definition *a, char *buf, size_t size);
int cc_format_fxo_pr_definition(const fxo_pr_definition *f, char *buf, size_t size);
void cc_format_ec_sparse_params(const echo_canceller_sparse_params *e, char *buf, size_t size);
void cc_format_r2config(const mfcr2_profile *p, char *buf, size_t size);
void cc_format_msp_indication_control(const cc_msp_indication_control *m, char *buf, size_t size);
void cc_format_sip_xheaders(char *buf, size_t size, int bits);
const char *cc_format_call_forwarding_mode(int code);

// Word formatters: stored code to fixed word.
const char *cc_print_dtmf_mode(int code);
const char *cc_print_dtmf_removal(int code);
const char *cc_print_bearer_capability(int code);
const char *cc_print_cad_setting(int code);
const char *cc_print_tonedetect_disable(int code);
const char *cc_print_prefix_priority(int code);
const char *cc_print_from_pstn_src_setting(int code);
const char *cc_print_from_sip_src_setting(int code);
const char *cc_print_from_sip_dest_setting(int code);
const char *cc_print_aoc_on_sip_setting(int code);
const char *cc_print_use_sip_privacy(int code);
const char *cc_print_srtp_mode(int code);
const char *cc_print_t38_reinvite(int code);
const char *cc_print_isdn_destination_field(int code);
const char *cc_print_vaz_setting(int code);
const char *cc_print_s2d_prefix_setting(int code);
const char *cc_print_fxo_pr_state(int code);
const char *cc_print_fxo_pr_event(int code);
const char *cc_print_ton(int code);

// ---- setting by key, option strings, overlay ------------------------------

// Sets one option and its set flag; value may lose its quotation marks.
void cc_set_call_configuration_value(call_configuration *cc, const char *key, char *value);
// Apply every "key=value" item of a comma-separated option string. With a
// call object, its DTMF generation and filter flags are recomputed after.
void cc_parse_call_configuration_direct(call_object *co, call_configuration *cc, const char *options);
void cc_parse_call_configuration_reg(reg_object *ro, call_configuration *cc, const char *options);

void _cc_update_call_configuration(call_configuration *target, const call_configuration *source,
                                   ccupdate_flag flag);
void cc_update_call_configuration(call_configuration *target, const call_configuration *source);

void cc_parse_override(struct override *o, const char *text);
void cc_parse_extra_filter(struct extra_filter *f, const char *text);
void cc_parse_dtmf_params(const char *text, int *min_on, int *min_off, int *min_dropout);
void cc_parse_ntenergy_params(const char *text, int *level, int *period, int *snr);

// Per-leg values, read from the call's own record cc.
int cc_get_dtmfmode_of_active_sipleg(const call_object *co);
int cc_get_dtmfmode_of_sipleg(const call_object *co, int leg);
int cc_get_rtp_packet_size_of_sipleg(const call_object *co, int leg);
int cc_get_srtp_mode_for_active_call_leg(const call_object *co);

// ---- the shared pool -------------------------------------------------------
// One record per distinct option string, shared by dial plan lines and
// calls. Each holder keeps a reference: the lookup hands the caller one,
// cc_hold_call_configuration adds one, cc_release_call_configuration drops
// one. Cleaning frees only records nobody holds. Both calls do nothing for
// records that are not pooled (the default record, a group's own record).

enum { CC_POOL_SIZE = 2048 };
struct call_configuration_pool;

// The shared record for the string, made when needed, with one reference
// for the caller. With every slot taken: the default record, unchanged.
call_configuration *cc_parse_call_configuration_pool(call_object *co, const char *options);
void cc_hold_call_configuration(const call_configuration *cc);
void cc_release_call_configuration(const call_configuration *cc);
// Points *slot at record: holds the new record and releases the old one.
void cc_assign_call_configuration(call_configuration **slot, call_configuration *record);
// Frees every pooled record nobody holds and packs the pool.
void cc_clean_call_configuration_pool();
// Records in the pool (cconf_max_val after a cleaning).
int cc_pool_count();
// The pool's slot count as "CCP POOL SIZE %i" on size_out, then each
// record's option string as "%i: |%s|" on out.
void cc_print_call_configuration_pool(FILE *size_out, FILE *out);

// ---- printing --------------------------------------------------------------

// The option table with values: of cc compared with the default record, or
// of the default record itself when cc is null. sort: by key; filter: only
// keys containing it.
void cc_print_call_configuration_filtered(FILE *out, const call_configuration *cc, int show_pattern, int sort,
                                          const char *filter);
void cc_print_call_configuration(FILE *out, const call_configuration *cc, int show_pattern, int sort);

// ---- what call control provides ------------------------------------------

struct cc_callctl_hooks {
    // Recomputes the call's DTMF generation and filter flags from its record.
    int (*set_dtmf_generation_and_filter_options)(call_object *co);
};
// Installs the hooks (null members keep the placeholder, which logs once).
void cc_set_callctl_hooks(const cc_callctl_hooks *hooks);
// Runs the installed set_dtmf_generation_and_filter_options for the call
// (null does nothing).
void cc_recompute_dtmf(call_object *co);
