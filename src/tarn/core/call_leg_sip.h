// One SIP dialog of a call.
#pragma once
#include <cstdint>

struct nua_s;
struct nua_handle_s;
struct sip_s;
struct tagi_s;
struct sip_address_info_object;
struct proxy_def;
struct sip_stack;

enum sip_answer_kind {
    SIP_ANSWER_NOT_NEEDED = 0,
    SIP_ANSWER_OK = 1,
    SIP_ANSWER_REJECT = 2,
    SIP_ANSWER_BUSY = 3,
    SIP_ANSWER_PROGRESS = 4,
    SIP_ANSWER_RINGING = 5,
};

enum { SIP_LEG_OUTBOUND_OPTIONS_DEFAULT = 53 }; // keep-alive 32 + rport 16 + validate 4 + GRUU 1

// SRTP security descriptions of a leg.
enum crypto_offer_state {
    CRYPTO_OFFER_NONE = 0,
    CRYPTO_OFFER_SENT = 1,
    CRYPTO_OFFER_RECEIVED = 2,
    CRYPTO_ANSWER_SENT = 3,
    CRYPTO_ANSWER_RECEIVED = 4,
};
enum crypto_suite {
    CRYPTO_SUITE_NONE = 0,
    CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_80 = 1,
    CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_32 = 2,
    CRYPTO_SUITE_F8_128_HMAC_SHA1_80 = 3,
    CRYPTO_SUITE_UNKNOWN = 4,
};

struct crypto_row {
    char *sdp_crypto;
    char *key;          // raw master key and salt (30 bytes when complete)
    int32_t key_length; // bytes at key
};

struct crypto_settings {
    int offer_state;
    int suite_in_use;
    crypto_row in[3];
    int in_index;
    int in_suite[3];
    crypto_row out[3];
    int out_index;
    int out_suite[3];
};

struct call_leg_sip {
    nua_handle_s *nh;
    nua_handle_s *nh_referring;
    nua_s *nua;
    char using_ip[32];
    sip_address_info_object *address_info;
    int32_t outbound_options;
    const sip_s *tmpsip;
    tagi_s *tmptags;
    int32_t last_nua_event;
    int32_t last_nua_status_code;
    char last_nua_status_text[256];
    int32_t sip_answer;
    int32_t rtp_local_port;
    int32_t rtp_local_port_unreleased;
    int32_t rtp_local_port_extra;
    int32_t rtp_local_port_from_correct_stack;
    int32_t rtp_remote_port;
    char rtp_remote_ip[64];
    char sip_peer_network_ip[32];
    int32_t sip_peer_network_port;
    int32_t sdp_media_offerings_proto[30];
    int32_t sdp_media_offerings_type[30];
    int32_t sdp_media_offerings_count;
    int32_t sdp_media_offerings_accepted_index;
    int32_t rtp_inbound_sequence_last;
    int32_t rtp_inbound_sequence_current;
    char sip_response_buffer[256];
    crypto_settings *crypto;
    char sip_origin_address[256];
    char sip_outbound_address[256];
    proxy_def *pd;
    int32_t msp_channel;
    int32_t streaming_allowed;
    int32_t using_payload;
    int32_t using_codec;
    int32_t last_response_code;
    int32_t pt_telephony_event;
    sip_stack *ss;
    int32_t in_use;
    int32_t allocated;
    int32_t index;
    char last_using_ip[32];
    int32_t last_rtp_local_port;
    int32_t last_rtp_remote_port;
    char last_rtp_remote_ip[64];
    int32_t last_using_payload;
    int32_t last_using_codec;
    int32_t best_matching_allowed_codec_list_index;
    int32_t best_matching_offered_payload_list_index;
    int32_t prack_allowed;
    int32_t prack_waiting_for_answer;
    char *passthrough_headers[32];
    int32_t dummy_rtp_wanted;
    char *incoming_sdp;
    int32_t got_reinvite_flag;
    int32_t rtp_local_port_started;
    int32_t rtp_remote_port_started;
    char rtp_remote_ip_started[64];
    int32_t using_codec_started;
    // INFOs sent on the dialog and not yet answered, and a re-INVITE that
    // waits for their answers (the stack would queue it for good).
    int32_t info_pending;
    char *waiting_reinvite_sdp;
    char *waiting_reinvite_contact;
};
