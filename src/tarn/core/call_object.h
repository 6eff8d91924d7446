// One call between two sides, pooled in the application object.
#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "call_configuration.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "cdr.h"

struct statemachine;
struct kv_timer;
struct misdn_bchannel;
struct dialplan_element;
struct call_progress_table;
struct cpt_s2i;
struct cpt_i2s;
struct cpt_s2fxo;
struct dns_ctx;

struct call_object_flags {
    // word 1
    uint32_t first_sdp_checked : 1;
    uint32_t overlap_dialing : 1;
    uint32_t connection_established : 1;
    uint32_t emergency : 1;
    uint32_t hdlc : 1;
    uint32_t got_invite_without_sdp : 1;
    uint32_t sdp_offer_sent : 1;
    uint32_t sdp_offer_received : 1;
    uint32_t sdp_offer_usable : 1;
    uint32_t progress8_set : 1;
    uint32_t progress_indication_sent : 1;
    uint32_t t38_invite_sent : 1;
    uint32_t t38_invite_received : 1;
    uint32_t t38_reject_flag : 1;
    uint32_t start_streaming : 1;
    uint32_t sip_reinvite_on_active_call : 1;
    uint32_t sip_reinvite_on_active_call_without_sdp : 1;
    uint32_t address_incomplete_received : 1;
    uint32_t feature_code_got_isdn_information_element : 1;
    uint32_t sip_inband_dtmf_detected : 1;
    uint32_t filter_inband_dtmf_from_tdm : 1;
    uint32_t filter_inband_dtmf_from_packet : 1;
    uint32_t regenerate_inband_dtmf_to_tdm : 1;
    uint32_t regenerate_inband_dtmf_to_packet : 1;
    uint32_t can_get_feature_code_from_tdm : 1;
    uint32_t can_get_feature_code_from_packet : 1;
    uint32_t fax_redirect : 1;
    uint32_t fax_calling_tone_detected : 1;
    uint32_t dummy_rtp : 1;
    uint32_t cp_sip_180_sent : 1;
    uint32_t cp_sip_183_sent : 1;
    uint32_t cp_sip_200_sent : 1;
    // word 2
    uint32_t cp_second_invite : 1;
    uint32_t sip_privacy : 1;
    uint32_t sip_privacy_incoming : 1;
    uint32_t dtmf_as_eventdet : 1;
    uint32_t call_initiated_by_sip : 1;
    uint32_t call_deflect_sent : 1;
    uint32_t dismantling : 1;
    uint32_t special_termination_reason : 1;
    uint32_t invite_from_davnole : 1;
    uint32_t invite_with_local_rtp : 1;
    uint32_t sip_progress_from_davnole : 1;
    uint32_t message_waiting : 1;
    uint32_t message_waiting_on : 1;
    uint32_t no_cdr : 1;
    uint32_t first_sdp_received : 1;
    uint32_t first_sdp_answered : 1;
    uint32_t failover_call : 1;
    uint32_t isdn_prefix_predialplan : 1;
    uint32_t cng_allowed : 1;
    uint32_t dialplan_entry_skipped : 1;
    uint32_t mfcr2_send_dialing_complete : 1;
    uint32_t cid_generated : 1;
    uint32_t facility_passthrough : 1;
    uint32_t transcoding_call : 1;
    uint32_t is_transcoding_buddy : 1;
    uint32_t transcoding_started : 1;
    uint32_t dialplan_no_matching_from_id_found : 1;
    uint32_t dialplan_go_on_used : 1;
    uint32_t transparent_call : 1;
    uint32_t no_rtp : 1;
    uint32_t passthrough_codec_reduced : 1;
    uint32_t : 0;
    // word 3
    uint32_t new_destination_modified_with_vaz : 1;
    uint32_t new_source_modified_with_vaz : 1;
    uint32_t analog_ringing_pending : 1;
    uint32_t dtmf_by_nua_info : 1;
    uint32_t got_isdn_state_100 : 1;
    uint32_t fxo_dialtone_passthrough : 1;
    uint32_t call_limit_exceeded : 1;
    uint32_t got_sip_info_dtmf : 1;
    uint32_t tr119_crypto_attribute_requested : 1;
    uint32_t is_sip_message : 1;
    uint32_t srtp_enabled : 1;
};
static_assert(sizeof(call_object_flags) == 12, "three 32-bit flag words");

struct telnet_call_request {
    int32_t tech;
    char group[32];
    char oad[32];
    char dad[32];
    int32_t rtp_port;
    char rtp_ip[32];
    int32_t codec; // 8 pcma, 0 pcmu, -1 other
};

// The outgoing numbers and identities that the dial plan's rewriting
// builds, one layout per direction. Texts are cut to their fields; an empty
// text means "not set".
enum { MANGLED_PRIV_HEADERS = 10 };
struct mangled_pstn_to_sip {
    char to_display[256];
    char to_user[256];
    char to_url[256];
    char from_display[256];
    char from_user[256];
    char from_url[64];
    char contact[256];
    char p_asserted_identity[256];
    char p_preferred_identity[256];
    char p_remote_party_id[256];
    char p_called_party_id[256];
    char local_qsig_name[256];
    char p_priv_header[MANGLED_PRIV_HEADERS][256]; // p_priv0_header .. p_priv9_header
};
struct mangled_sip_to_pstn {
    char oad[128];
    int32_t oad_ton;
    char oad2[128];
    int32_t oad2_ton;
    char dad[128];
    int32_t dad_ton;
    char redirected_nr[128];
    char qsig_local_name[128];
    char display[128];
    char user_user_name[128];
    char sip_302_contact_user[128];
};
struct mangled_sip_to_sip {
    char request_uri[256];
    char to_display[256];
    char to_user[256];
    char to_url[256];
    char from_display[256];
    char from_user[256];
    char from_url[64];
    char contact[256];
    char contact_outgoing[256];
    char p_asserted_identity[256];
    char p_preferred_identity[256];
    char p_remote_party_id[256];
    char p_called_party_id[256];
    char p_priv_header[MANGLED_PRIV_HEADERS][256]; // p_priv0_header .. p_priv9_header
};
union mangled_headers {
    mangled_pstn_to_sip pstn_to_sip;
    mangled_sip_to_pstn sip_to_pstn;
    mangled_sip_to_sip sip_to_sip;
};

// Message counters of an ISDN leg, indexed by isdn_leg_message.
enum isdn_leg_message {
    LEGI_SETUP = 0,
    LEGI_SETUP_ACKNOWLEDGE,
    LEGI_PROCEEDING,
    LEGI_PROGRESS,
    LEGI_ALERTING,
    LEGI_CONNECT,
    LEGI_DISCONNECT,
    LEGI_RELEASE,
    LEGI_RELEASE_COMPLETE,
    LEGI_COUNT
};
struct isdn_leg_info {
    int32_t events_received[LEGI_COUNT];
    int32_t events_sent[LEGI_COUNT];
};

struct advice_of_charge {
    int32_t units;
    int32_t units_received;
    char currency[8];
    int32_t amount;
    int32_t multiplier;
    int32_t currency_received;
};

// One tone the media processor reported: its value, the processor's time
// stamp in eighths of its tick, and when it was received (seconds counted
// from the CAS time base).
struct msp_tonedet_event {
    uint8_t event;
    int32_t msp_timestamp;
    struct {
        long sec;
        long usec;
    } received_time;
};
enum { MSP_TONE_HISTORY = 40 };
// A ring of the last 40 tones; history_index counts every tone ever stored.
struct msp_tone_history {
    msp_tonedet_event history[MSP_TONE_HISTORY];
    int32_t history_index;
    int32_t msp_faxdetect_counter;
};

// One tone the call's channel played: its value (255 when the processor
// reported it finished), the length asked for in ms and when it started
// (seconds counted from the CAS time base).
struct msp_tonegen_event {
    uint8_t event;
    int32_t requested_length;
    struct {
        long sec;
        long usec;
    } start_time;
};
// A ring of the last 40 generated tones; history_index counts every tone.
struct msp_tonegen_ring {
    msp_tonegen_event history[MSP_TONE_HISTORY];
    int32_t history_index;
};

// A SIP leg's media state, saved before a T.38 offer so that the leg can go
// back when the other leg refuses T.38.
struct s2s_leg_media {
    int32_t rtp_local_port;
    int32_t rtp_local_port_unreleased;
    int32_t rtp_remote_port;
    char rtp_remote_ip[64];
    int32_t using_payload;
    int32_t using_codec;
    int32_t pt_telephony_event;
    int32_t sdp_media_offerings_count;
    int32_t sdp_media_offerings_accepted_index;
    int32_t sdp_media_offerings_proto[30];
    int32_t sdp_media_offerings_type[30];
};

// A T.38 re-INVITE of one SIP-to-SIP leg held until the other leg answered
// its own T.38 re-INVITE (leg null: none held).
struct s2s_t38_hold_info {
    call_leg_sip *leg;
    s2s_leg_media leg_before;
    s2s_leg_media other_before;
};

struct call_object {
    // identity and state (same leading members as reg_object)
    int32_t index;
    int32_t callinfo;
    int32_t handletype;
    statemachine *sm;
    uint32_t sm_state;
    char tmpbuf[256];
    int32_t pid;

    // console call
    int32_t telnet_fd;
    FILE *telnet_fp;
    int32_t telnet_remote_rtp_port;
    char telnet_remote_address[32];
    int32_t telnet_remote_telnet_port;
    int32_t telnet_local_telnet_port;
    char telnet_target_group[32];
    int32_t telnet_target_tech;
    int32_t telnet_pid;
    telnet_call_request *tcr;

    // call configuration
    call_configuration cc;
    call_configuration *cc_active;
    call_configuration *cc_source;
    call_configuration *cc_destination;
    call_configuration *cc_override;

    // routing
    dialplan_element *dp;
    char *new_destination;
    char *new_destination_previous;
    char *new_destination_auto;
    char *new_source;
    char *new_source_previous;
    char *new_source_auto;
    const cpt_s2i *s2i_cpt;
    const cpt_i2s *i2s_cpt;
    const cpt_s2fxo *s2fxo_cpt;
    call_progress_table *s2s_cpt;
    mangled_headers mangled;
    int32_t dialplan_start_index;
    int32_t configured_ton;
    int32_t new_auto_ton;
    char *call_group_buddies[8];
    int32_t call_group_index;
    int32_t call_group_buddies_count;
    unsigned char blocked_isdn_ports[33]; // by port number; 1 = refused a channel for this call

    // feature codes
    char feature_code_flush_buffer[64];
    char feature_code_flush_buffer_dir[64];

    // times and CDR
    time_t connect_start;
    time_t connect_stop;
    cdr_info cdr;
    int32_t dismantling_timeout;
    int32_t overlap_dialing_timeout;
    int32_t overlap_dialing_initial_timeout;
    int32_t special_termination_reason;

    // conference
    int32_t conference_id;
    int32_t conference_request;

    // SIP legs
    call_leg_sip *cl_sip;
    call_leg_sip *cl_sip_in;
    call_leg_sip *cl_sip_out;
    call_leg_sip *cl_sip_hold;
    char incoming_sip_privacy_value[32];
    char *sip_msg_buf;

    // party data shared by the line technologies
    char pstn_oad[64];
    char pstn_dad[64];
    char pstn_display[64];

    // ISDN
    misdn_bchannel *bc;
    isdn_leg_info _legi;
    isdn_leg_info *legi;
    int32_t isdn_event_history[12];
    int32_t isdn_event_history_size;
    int32_t counteri;
    int32_t bc_port;
    int32_t bc_channel;
    char *bc_oad;
    char *bc_dad;
    advice_of_charge aoc;
    int32_t last_isdn_cause;
    unsigned char *hdlc_buffer;
    int32_t hdlc_buffer_content_length;
    int32_t hdlc_buffer_size;

    // CAS
    int32_t cas_port;
    int32_t cas_port_stored;
    char *cas_oad;
    char *cas_dad;
    char *cas_display;
    char cas_flush_oad_buffer[64];
    char cas_flush_dad_buffer[64];
    int32_t cas_e1_signal_state;
    char cas_call_progress_country_code[16];
    int32_t cas_dialing_performed;
    int32_t cas_dial_tone_stopped;
    char cas_dtmf;
    char cas_dtmf_start;
    char cas_mode;

    // analog (analog_port may carry the marker bit 0x800)
    int32_t analog_port;
    int32_t analog_port_stored_for_hold;
    char *analog_oad;
    char *analog_dad;
    char *analog_display;
    time_t analog_cid_received;
    int32_t analog_type;
    char analog_dtmf;
    int32_t analog_dialing_performed;
    int32_t analog_dial_tone_stopped;
    char analog_call_progress_country_code[16];
    int32_t analog_last_tone_event;
    time_t analog_last_tone_event_time;
    time_t analog_last_congestion_event_time[3];
    time_t analog_last_busy_event_time[3];
    int32_t analog_on_hold;
    call_object *analog_on_hold_buddy;
    int32_t analog_fxo_polarity_reversal_counter_before_connect;
    int32_t analog_fxo_polarity_reversal_counter_after_connect;

    // GSM
    int32_t gsm_port;
    int32_t gsm_port_stored;
    char *gsm_oad;
    char *gsm_dad;
    int32_t gsm_call_id;

    // media
    int32_t tdm_logical_timeslot;
    int32_t remote_tdm_logical_timeslot;
    uint32_t msp_state;
    int32_t msp_resources_active;
    int32_t msp_resources_reserved;
    int32_t msp_resources_remote_bridging;
    call_object *msp_bridged_to;
    call_object *transcoding_buddy;
    msp_tone_history _msp_tonedet_history;
    msp_tone_history *msp_tonedet_history;
    msp_tonegen_ring _msp_tonegen_history;
    msp_tonegen_ring *msp_tonegen_history;
    int32_t vopena_type;
    s2s_t38_hold_info s2s_t38_hold;

    // timers (armed or null)
    kv_timer *timer;
    kv_timer *feature_code_f_timer;
    kv_timer *feature_code_t_timer;
    kv_timer *feature_code_flush_timer;
    kv_timer *force_t38_timer;
    kv_timer *failover_timer;
    kv_timer *sip_t0_timer;
    kv_timer *sip_t180_timer;
    kv_timer *sip_t183_timer;
    kv_timer *sip_t200_timer;
    kv_timer *rtp_stat_timer;
    kv_timer *state_event_missing_safeguard_timer;
    kv_timer *dialtone_detection_timer;
    kv_timer *fxo_cpt_timer;
    kv_timer *fxo_alerting_ended_timer;
    kv_timer *aoc_timer;
    kv_timer *dns_enum_timer;
    kv_timer *fxs_wink_offset_timer;

    // DNS / ENUM
    dns_ctx *dns_context;
    int32_t dns_enum_fd;
    int32_t dns_enum_search_domain_checked;
    int32_t dns_enum_request_counter;
    int32_t dns_enum_search_domain_index;
    char dns_enum_regex[128];
    int32_t dns_enum_internal_error_code;
    int32_t dns_enum_using_transport;

    // others
    int32_t forced_t38_reinvites_sent;
    int32_t ecall_simple;
    int32_t ecall_parsed;
    char *iptables_clean_commands[4];
    call_object_flags f;
};

// msp_state bits
enum {
    MSP_STATE_VOICE = 1,
    MSP_STATE_TONEGEN = 2,
    MSP_STATE_BRIDGED = 4,
    MSP_STATE_T38 = 8,
    MSP_STATE_REMOTE_BRIDGED = 16,
    MSP_STATE_HDLC = 32,
    MSP_STATE_MF = 64,
};

enum { CALL_OBJECT_NO_CDR_PID = 999999 };
