// In-memory records of the CSM messages exchanged with the media processor.
// Every record starts with a pointer to its csm_header; the header and the
// record are two heap blocks and the record owns its header. Field widths are
// those of the wire; the wire positions live in the coding tables.
#pragma once
#include <cstddef>
#include <cstdint>

// Header shared by every message. The first six fields are the frame header;
// msp_channel and msp_timeslot address the socket and the logs, and
// function_text and cid never travel.
struct csm_header {
    uint8_t msg_length;
    uint8_t index;
    uint8_t command_type;
    uint8_t command_class;
    uint16_t function_code;
    uint16_t reserved_word;
    uint16_t msp_channel;
    uint16_t msp_timeslot;
    const char *function_text;
    char cid[32];
};

// Command types of the frame header.
enum csm_command_type : uint8_t {
    CSM_TYPE_COMMAND = 0,
    CSM_TYPE_QUERY = 1,
    CSM_TYPE_RESPONSE = 2,
    CSM_TYPE_INDICATION = 3,
    CSM_TYPE_QUERY_RESPONSE = 4,
    CSM_TYPE_PLYERR_STATS = 7,
    CSM_TYPE_SRTP_STATS = 24,
    CSM_TYPE_TEST_STATS = 35,
    CSM_TYPE_UNIFIED_DIAG = 116,
    CSM_TYPE_REDIRECT_DIAG = 120,
    CSM_TYPE_DIAG_RESPONSE = 121,
    CSM_TYPE_TDM_SYNC_STATS = 0x91,
};

// Command classes of the frame header.
enum csm_command_class : uint8_t {
    CSM_CLASS_STATS = 1,
    CSM_CLASS_CHANNEL = 2,
    CSM_CLASS_DEVICE_ETH = 5,
    CSM_CLASS_DEVICE = 6,
    CSM_CLASS_DIAG = 194,
};

// Sizes of the byte and word arrays of the records.
constexpr size_t CSM_CND_BYTES = 128;
constexpr size_t CSM_AES_KEY_BYTES = 64;
constexpr size_t CSM_KEY_DERIVATION_KEY_BYTES = 64;
constexpr size_t CSM_CADENCE_WORDS = 64;
constexpr size_t CSM_TONE_ENGINE_TONES = 12;
constexpr size_t CSM_SYNC_PAYLOAD_BYTES = 4096;
constexpr size_t CSM_CNDRX_BYTES = 64;
constexpr size_t CSM_VERSION_TEXT = 128;
constexpr size_t CSM_ARM_VERSION_BYTES = 16;

// Shared sub-records.
struct csm_mac_address {
    uint32_t part1 : 16;
    uint32_t part2 : 16;
    uint32_t part3 : 16;
};

struct csm_ip_address {
    uint32_t part1 : 16;
    uint32_t part2 : 16;
};

struct csm_assigned_ip_header {
    uint32_t version : 16;
    uint32_t total_length : 16;
    uint32_t identification : 16;
    uint32_t fragmentation : 16;
    uint32_t protocol : 16;
    uint32_t checksum : 16;
};

struct csm_assigned_udp_header {
    uint32_t source_port : 16;
    uint32_t destination_port : 16;
    uint32_t length : 16;
    uint32_t checksum : 16;
};

struct tone_description {
    uint32_t tone_freq1 : 16;
    uint32_t tone_level1 : 16;
    uint32_t tone_freq2 : 16;
    uint32_t tone_level2 : 16;
    uint32_t tone_freq3 : 16;
    uint32_t tone_level3 : 16;
    uint32_t tone_freq4 : 16;
    uint32_t tone_level4 : 16;
    uint32_t sum_or_multiply_flag : 16;
};

// ---------------------------------------------------------------------------
// Commands, one record per function code (the diagnostic codes share one).

// REDIRECT_OVER_IP_UDP (0x0004)
struct csmdev_redirect_over_ip_udp {
    csm_header *header;
    uint32_t client_identifier : 16;
    csm_mac_address destination_mac;
    csm_mac_address source_mac;
    uint32_t packet_type : 16;
    csm_assigned_ip_header assigned_ip_header;
    csm_ip_address source_ip;
    csm_ip_address destination_ip;
    csm_assigned_udp_header assigned_udp_header;
};

// FC_SUPVSR_CREATE_CHANNEL (0x0010)
struct csmdev_create_channel {
    csm_header *header;
    uint32_t channel_type : 16;
    uint32_t timeslot : 16;
};

// FC_SUPVSR_DESTROY_CHANNEL (0x0011)
struct csmdev_destroy_channel {
    csm_header *header;
    uint32_t channel_number : 16;
};

// FC_SPU_FEATURES_CONTROL (0x0013)
struct csmdev_spu_features_control {
    csm_header *header;
    uint32_t ec_feature_control : 1;
    uint32_t voice_silence_detection_event_indication_control : 1;
    uint32_t caller_id_detection : 1;
    uint32_t g723_vad_select : 1;
    uint32_t bandpass_filter_call_progress_detection : 1;
    uint32_t dtmf_distortion : 1;
    uint32_t ip_interface_tone_detection : 1;
    uint32_t v18_detection_module : 1;
    uint32_t automatic_gain_control_conferencing_feature : 1;
    uint32_t simple_noise_suppression_conferencing_feature : 1;
    uint32_t generic_tones_detector : 1;
    uint32_t acoustic_echo_control : 1;
    uint32_t dual_filter_echo_canceller : 1;
    uint32_t fft_based_call_progress_detection : 1;
    uint32_t spufm_gsm_tonegenip : 1;
};

// FC_SPU_RECOVERY_DISABLE (0x0055)
struct csmdev_spu_recovery_disable {
    csm_header *header;
    uint32_t spu_recovery : 1;
};

// DIAG_REPORTCMD (0x00FB), DIAG_PACKET_RX (0x0802), DIAG_PACKET_TX (0x0803), DIAG_TDM_RX (0x0E00), DIAG_TDM_TX (0x0E01), DIAG_SPU_IOPARAMS (0x1010), DIAG_SPU_INSTREAM (0x1011), DIAG_SPU_OUTSTREAM (0x1012), DIAG_DSP_TASK_IOPARAMS (0x1013)
struct csmdev_set_unified_diag {
    csm_header *header;
    uint32_t set_diagnostic : 16;
};

// FC_SET_ETH_HDR (0x0100)
struct csmdev_set_eth_hdr {
    csm_header *header;
    uint32_t protocol_identifier : 8;
    uint32_t register_protocol : 1;
    uint32_t hostmac_1 : 16;
    uint32_t hostmac_2 : 16;
    uint32_t hostmac_3 : 16;
    uint32_t assigned_mac_1 : 16;
    uint32_t assigned_mac_2 : 16;
    uint32_t assigned_mac_3 : 16;
    uint32_t assigned_packet_type : 16;
    uint32_t tag_protocol_identifier : 16;
    uint32_t tci_field : 16;
};

// FC_GET_ETH_HDR (0x0101)
struct csmdev_get_eth_hdr {
    csm_header *header;
};

// FC_ETH_SERVICE_CONFIG (0x0104)
struct csmdev_eth_service_config {
    csm_header *header;
    uint32_t dispatching : 2;
    uint32_t transport : 3;
    uint32_t gps_clock_sync : 1;
    uint32_t gps_synchronization : 3;
    uint32_t reserved1 : 8;
    uint32_t reserved2 : 8;
};

// FC_ARP_SERVICE_CONFIG (0x0105)
struct csmdev_arp_service_config {
    csm_header *header;
};

// FC_SET_MULTICAST_ETH_ADDR (0x0111)
struct csmdev_set_multicast_eth_addr {
    csm_header *header;
    uint32_t remove_address : 1;
    uint32_t bytes_01 : 16;
    uint32_t bytes_23 : 16;
    uint32_t bytes_45 : 16;
};

// FC_SET_UNICAST_MAC_ADDR (0x0113)
struct csmdev_set_unicast_mac_addr {
    csm_header *header;
    uint32_t address_config : 16;
    uint32_t bytes_01 : 16;
    uint32_t bytes_23 : 16;
    uint32_t bytes_45 : 16;
};

// FC_IP_SERVICE_CONFIG (0x0302)
struct csmdev_ip_service_config {
    csm_header *header;
    uint32_t checksum_verification : 1;
    uint32_t encapsulation : 2;
};

// FC_IP_ADDRESS (0x0303)
struct csmdev_set_ip_address {
    csm_header *header;
    uint32_t device_ip_word1 : 16;
    uint32_t device_ip_word2 : 16;
};

// FC_ICMP_SERVICE_CONFIG (0x0304)
struct csmdev_icmp_service_config {
    csm_header *header;
    uint32_t ttl_of_destination_unreachable_packets : 8;
    uint32_t icmp_echo_reply : 1;
};

// FC_IP_OPTIONS (0x0306)
struct csmdev_ip_options {
    csm_header *header;
    uint32_t verification_source_port : 1;
    uint32_t verification_source_ip : 1;
    uint32_t notify_host_udp_port_change : 1;
    uint32_t notify_host_source_ip_change : 1;
    uint32_t source_ip_unlimited_assignments : 1;
};

// FC_LATENCY_LEVEL (0x0406)
struct csmdev_latency_level {
    csm_header *header;
    uint32_t latency_level : 16;
    uint32_t reserved1 : 16;
    uint32_t reserved2 : 16;
};

// FC_SUPVSR_SETUP_TDM_PARAMS (0x0407)
struct csmdev_tdm_setup_tdm_params {
    csm_header *header;
    uint32_t time_slots_per_frame : 10;
    uint32_t frame_edge : 1;
    uint32_t transmit_clock_edge : 1;
    uint32_t received_clock_edge : 1;
    uint32_t clock_mode_select_transmitter : 1;
    uint32_t clock_mode_select_receiver : 1;
    uint32_t data_invert_transmitter : 1;
    uint32_t data_invert_receiver : 1;
    uint32_t bit_order_transmitter : 1;
    uint32_t number_cycles_delay_transmitter : 12;
    uint32_t bit_order_receiver : 1;
    uint32_t inverted_frame_signal : 1;
    uint32_t number_cycles_delay_receiver : 12;
    uint32_t bus_number : 2;
};

// FC_TDM_SELECT_BUS_MODE (0x0417)
struct csmdev_tdm_select_bus_mode {
    csm_header *header;
    uint32_t mode : 8;
};

// FC_DEVICE_SET_COUNTRY_CODE (0x041B)
struct csmdev_device_set_country_code {
    csm_header *header;
    uint32_t country_code_selection : 16;
};

// FC_CP_SET_COUNTRY_CODE_PARAMS (0x041C)
struct csmdev_cp_set_country_code_params {
    csm_header *header;
    uint32_t host_programmable_country_code_index : 16;
    uint32_t tone1_on_cadence_low_threshold : 16;
    uint32_t tone1_on_cadence_high_threshold : 16;
    uint32_t tone1_off_cadence_low_threshold : 16;
    uint32_t tone1_off_cadence_high_threshold : 16;
    uint32_t tone2_on_cadence_low_threshold : 16;
    uint32_t tone2_on_cadence_high_threshold : 16;
    uint32_t tone2_off_cadence_low_threshold : 16;
    uint32_t tone2_off_cadence_high_threshold : 16;
    uint32_t tone3_on_cadence_low_threshold : 16;
    uint32_t tone3_on_cadence_high_threshold : 16;
    uint32_t tone3_off_cadence_low_threshold : 16;
    uint32_t tone3_off_cadence_high_threshold : 16;
    uint32_t tone4_on_cadence_low_threshold : 16;
    uint32_t tone4_on_cadence_high_threshold : 16;
    uint32_t tone4_off_cadence_low_threshold : 16;
    uint32_t tone4_off_cadence_high_threshold : 16;
    uint32_t filter1_coefficient_a2 : 16;
    uint32_t filter1_coefficient_a1 : 16;
    uint32_t filter1_coefficient_a0 : 16;
    uint32_t filter1_coefficient_b2 : 16;
    uint32_t filter1_coefficient_b1 : 16;
    uint32_t filter2_coefficient_a2 : 16;
    uint32_t filter2_coefficient_a1 : 16;
    uint32_t filter2_coefficient_a0 : 16;
    uint32_t filter2_coefficient_b2 : 16;
    uint32_t filter2_coefficient_b1 : 16;
    uint32_t filter3_coefficient_a2 : 16;
    uint32_t filter3_coefficient_a1 : 16;
    uint32_t filter3_coefficient_a0 : 16;
    uint32_t filter3_coefficient_b2 : 16;
    uint32_t filter3_coefficient_b1 : 16;
    uint32_t on_to_off_transition_threshold : 16;
    uint32_t off_to_on_transition_threshold : 16;
    uint32_t alpha_response_time : 16;
    uint32_t dropout_time : 16;
    uint32_t cpnrg_most_mult : 16;
    uint32_t debounce_threshold : 16;
    uint32_t nbd_coefficient_a2 : 16;
    uint32_t nbd_coefficient_a1 : 16;
    uint32_t nbd_coefficient_a0 : 16;
    uint32_t nbd_coefficient_b2 : 16;
    uint32_t nbd_coefficient_b1 : 16;
    uint32_t nbd_on_to_off_transition_threshold : 16;
    uint32_t nbd_off_to_on_transition_threshold : 16;
    uint32_t nbd_alpha : 16;
    uint32_t nbd_cpnrg_most_mult : 16;
    uint32_t nbd_debounce_threshold : 16;
};

// FC_SUPVSR_SET_TS_MODE (0x0424)
struct csmdev_set_ts_mode {
    csm_header *header;
    uint32_t timeslot_number : 16;
    uint32_t timeslot_mode : 16;
};

// FC_SUPVSR_SET_PCM_LAW (0x0425)
struct csmdev_set_pcm_law {
    csm_header *header;
    uint32_t pcm_law : 16;
};

// FC_HANG_ON_ALERT (0x0439)
struct csmdev_hang_on_alert {
    csm_header *header;
    uint32_t enable_hang_on_alert : 1;
    uint32_t store_commands : 1;
};

// FC_CHANNELS_RESET (0x04F6)
struct csmdev_channels_reset {
    csm_header *header;
    uint32_t reset_channels : 1;
};

// FC_VOIP_VOPENA (0x8000)
struct csmchan_voip_vopena {
    csm_header *header;
    uint32_t channel_mode : 16;
    uint32_t rtp_cc : 4;
    uint32_t rtp_x : 1;
    uint32_t rtp_p : 1;
    uint32_t rtp_v : 2;
    uint32_t payload_type : 8;
    uint32_t sequence_number : 16;
    uint32_t timestamp;
    uint32_t ssrc;
    uint32_t content_type : 16;
    uint32_t notification_flag; // host-side marker, not sent (12345: transcoding NAT probes)
    int32_t pid;
};

// FC_VOIP_VCEOPT (0x8001)
struct csmchan_voip_vceopt {
    csm_header *header;
    uint32_t pcm_coding_standard : 1;
    uint32_t silence_handling_to_pcm : 1;
    uint32_t g723_decoder_dc_removal_filter : 1;
    uint32_t packet_generation_disable : 1;
    uint32_t g723_coding_rate : 1;
    uint32_t decoder_adaptive_post_filter : 1;
    uint32_t voice_activity_detector : 2;
    uint32_t voice_packetization_interval : 8;
    uint32_t redundancy_selection : 2;
    uint32_t amr_speedrate_table : 3;
    uint32_t g726_crbt_sample_reorder : 1;
    uint32_t udptl_packet_detection : 1;
    uint32_t packet_reception_disable : 1;
    uint32_t vad_tune : 16;
    uint32_t cng_maximum_model_order_decoder : 8;
    uint32_t g711_appendix2_lpc_model_order_encoder : 8;
    uint32_t packet_loss_concealment : 1;
    uint32_t bits_per_sample : 1;
    uint32_t crc_for_amr_payload : 1;
    uint32_t g729eg_rate_selection : 1;
    uint32_t cdma_rate_change : 1;
    uint32_t amr_wb_speedrate_table : 4;
    uint32_t crc_for_amr_wb_payload : 1;
    uint32_t transcode_mode : 1;
};

// FC_VOIP_DTMFOPT (0x8002)
struct csmchan_voip_dtmfopt {
    csm_header *header;
    uint32_t dtmf_in_voice : 1;
    uint32_t dtmf_in_rtp : 1;
    uint32_t dtmf_in_rtp_redundancy_scheme : 1;
    uint32_t dtmf_removal_delay : 1;
    uint32_t rfc2833_tone_regeneration : 1;
    uint32_t rfc2833_event_report_to_host : 1;
    uint32_t rfc2833_packet_payload_format : 1;
    uint32_t enable_silence_voice_packet : 1;
    uint32_t ssrc_change_processing : 1;
};

// FC_FAX_OPTIONS (0x8003)
struct csmchan_fax_options {
    csm_header *header;
    uint32_t tcf_procedure : 1;
    uint32_t error_recovery_method : 1;
    uint32_t speed_limit : 3;
    uint32_t udptl_redundancy_count_t30 : 3;
    uint32_t udptl_redundancy_count_fax_page_data : 2;
    uint32_t ecm_disable : 1;
    uint32_t t38_packet_loss_concealment : 2;
    uint32_t transmit_small_t4_ecm_messages : 1;
};

// FC_VOIP_DGAIN (0x8005)
struct csmchan_voip_dgain {
    csm_header *header;
    uint32_t dgain_packet_to_pcm : 16;
    uint32_t dgain_pcm_to_packet : 16;
};

// FC_VOIP_ECHOCAN (0x8006)
struct csmchan_voip_echocan {
    csm_header *header;
    uint32_t network_echo_canceller_tail_length : 4;
    uint32_t nlp_tune_field : 2;
    uint32_t comfort_noise_generation_disable : 1;
    uint32_t nlp_control : 1;
    uint32_t hardware_echo_canceller_coefficient_freeze : 1;
    uint32_t initialization_request : 1;
    uint32_t g168_ec_initialization : 1;
    uint32_t dc_removal_filter_disable : 1;
    uint32_t master_echo_canceller_enable : 1;
};

// FC_VOIP_TONEGEN (0x8009)
struct csmchan_voip_tonegen {
    csm_header *header;
    uint32_t tone_direction;
    uint32_t timestamp_control : 1;
    uint32_t protected_generation : 1;
    uint32_t audio_mixing_mode_tone_on : 1;
    uint32_t audio_mixing_mode_tone_off : 1;
    uint32_t cadence_repeat : 8;
    uint32_t start_timestamp;
    uint32_t limit_timestamp;
    uint32_t primary_frequency_c1 : 16;
    uint32_t primary_level_c1 : 16;
    uint32_t secondary_frequency_c1 : 16;
    uint32_t secondary_level_c1 : 16;
    uint32_t on_time_c1 : 16;
    uint32_t off_time_c1 : 16;
    uint32_t primary_frequency_c2 : 16;
    uint32_t primary_level_c2 : 16;
    uint32_t secondary_frequency_c2 : 16;
    uint32_t secondary_level_c2 : 16;
    uint32_t on_time_c2 : 16;
    uint32_t off_time_c2 : 16;
    uint32_t primary_frequency_c3 : 16;
    uint32_t primary_level_c3 : 16;
    uint32_t secondary_frequency_c3 : 16;
    uint32_t secondary_level_c3 : 16;
    uint32_t on_time_c3 : 16;
    uint32_t off_time_c3 : 16;
};

// FC_VOIP_TONEOFF (0x8014)
struct csmchan_voip_toneoff {
    csm_header *header;
    uint32_t tone_off : 16;
    uint32_t tone_direction : 16;
};

// FC_VOIP_PTMNG (0x8018)
struct csmchan_voip_ptmng {
    csm_header *header;
    uint32_t comfort_noise : 8;
    uint32_t redundant_dtmf : 8;
    uint32_t dtmf : 8;
    uint32_t t38 : 8;
    uint32_t g711u : 8;
    uint32_t g711a : 8;
    uint32_t g723_1 : 8;
    uint32_t g728 : 8;
    uint32_t g729a : 8;
    uint32_t g726_32 : 8;
    uint32_t reserved1 : 8;
    uint32_t gsm_fr : 8;
    uint32_t clear_channel : 8;
    uint32_t pass_thru_ulaw : 8;
    uint32_t pass_thru_alaw : 8;
    uint32_t g726_16 : 8;
    uint32_t g726_24 : 8;
    uint32_t g726_40 : 8;
    uint32_t gsm_efr : 8;
    uint32_t amr : 8;
    uint32_t evrc : 8;
    uint32_t cnf_sec : 8;
    uint32_t reserved2 : 8;
    uint32_t qcelp_13k : 8;
    uint32_t qcelp_8k : 8;
    uint32_t adpcm : 8;
    uint32_t g729eg : 8;
    uint32_t fec : 8;
    uint32_t ilbc_1520k : 8;
    uint32_t ilbc_1333k : 8;
    uint32_t rfc2833_event : 8;
    uint32_t gsm_amr_bwe : 8;
    uint32_t evrc_b : 8;
    uint32_t rfc2833_tone : 8;
    uint32_t amr_wb : 8;
    uint32_t g729_mspd : 8;
    uint32_t cesopsn : 8;
    uint32_t gsm_hr : 8;
    uint32_t csd_bs30t_64k : 8;
    uint32_t csd_bs30t_32k : 8;
    uint32_t csd_bs30t_33k6 : 8;
    uint32_t csd_bs30t_28k8 : 8;
    uint32_t csd_bs20nt_57k6 : 8;
    uint32_t csd_bs20nt_28k8 : 8;
    uint32_t csd_bs20nt_14k4 : 8;
    uint32_t g729_1 : 8;
    uint32_t amr_wb_byte_aligned : 8;
    uint32_t ccisoip : 8;
};

// FC_VOIP_SENDNTE (0x801E)
struct csmchan_voip_sendnte {
    csm_header *header;
    uint32_t nte_payload_event : 8;
    uint32_t nte_payload_volume : 6;
    uint32_t nte_payload_r_flag : 1;
    uint32_t nte_payload_e_flag : 1;
    uint32_t nte_payload_duration : 16;
    uint32_t override_redundancy : 1;
    uint32_t override_red_interval : 1;
    uint32_t override_ssrc : 1;
    uint32_t override_payload_type : 1;
    uint32_t override_default_redundancy : 3;
    uint32_t override_single_nte : 1;
    uint32_t override_start_event : 1;
    uint32_t override_stop_event : 1;
    uint32_t redundancy_interval_time : 16;
    uint32_t ssrc_high : 16;
    uint32_t ssrc_low : 16;
    uint32_t payload_type : 16;
    uint32_t guard_timer : 16;
};

// FC_VOIP_DTMFDPAR (0x8021)
struct csmchan_voip_dtmfdpar {
    csm_header *header;
    uint32_t minimum_valid_tone_on_time : 16;
    uint32_t minimum_valid_tone_off_time : 16;
    uint32_t minimum_valid_tone_dropout_time : 16;
    uint32_t anti_tapping_digit_detection : 16;
    uint32_t minimum_anti_tapping_valid_tone_on_time : 16;
    uint32_t minimum_anti_tapping_valid_tone_off_time : 16;
    uint32_t maximum_anti_tapping_valid_tone_dropout_time : 16;
};

// FC_VOIP_SET_CNG_OVER (0x8028)
struct csmchan_voip_set_cng_over {
    csm_header *header;
};

// FC_VOIP_NTENERGY_SET (0x802E)
struct csmchan_voip_ntenergy_set {
    csm_header *header;
    uint32_t energy_detector_minimum_level : 9;
    uint32_t non_tonal_energy_detector_disable : 1;
    uint32_t tone_detector_minimum_snr : 8;
    uint32_t tone_measurement_period : 8;
};

// FC_VOIP_DTMFTUNE (0x8034)
struct csmchan_voip_dtmftune {
    csm_header *header;
    uint32_t frequency_deviation : 16;
    uint32_t negative_twist : 16;
    uint32_t positive_twist : 16;
    uint32_t minimum_level_threshold : 16;
    uint32_t snr_threshold_adjustment : 16;
    uint32_t dtmf_control : 16;
};

// FC_CND_ONHOOK_GEN (0x8039)
struct csmchan_cnd_onhook_gen {
    csm_header *header;
    uint32_t modulation_type : 8;
    uint32_t msg_type_id : 8;
    uint8_t msg_byte[CSM_CND_BYTES];
};

// FC_CND_SET_PARAMS (0x803A)
struct csmchan_cnd_set_params {
    csm_header *header;
    uint32_t info_type : 8;
    uint32_t info_count : 8;
    uint8_t info_param_byte[CSM_CND_BYTES];
};

// FC_CND_OFFHOOK_GEN (0x803B)
struct csmchan_cnd_offhook_gen {
    csm_header *header;
    uint8_t msg_byte[CSM_CND_BYTES];
};

// FC_CND_STOP (0x803C)
struct csmchan_cnd_stop {
    csm_header *header;
};

// FC_CIPHER_AES_OPT (0x8046)
struct csmchan_cipher_aes_opt {
    csm_header *header;
    uint32_t enable_aes : 16;
    uint8_t key_array[CSM_AES_KEY_BYTES];
};

// FC_VOIP_CNTRYCODE (0x805A)
struct csmchan_voip_cntrycode {
    csm_header *header;
    uint32_t tone1_country_code : 16;
    uint32_t tone2_country_code : 16;
    uint32_t tone3_country_code : 16;
    uint32_t tone4_country_code : 16;
    uint32_t filter_country_code : 16;
};

// FC_VOIP_TONECTRL (0x805B)
struct csmchan_voip_tonectrl {
    csm_header *header;
    uint32_t dtmf_detection_indication : 1;
    uint32_t t38_affected_tone_detection_indication : 1;
    uint32_t modem_passthrough_affected_tone_detection_indication : 1;
    uint32_t v8_bis_cre_tone_detector_control : 1;
    uint32_t fax_calling_tone_detector_control : 1;
    uint32_t answer_tone_notch_filter_control : 1;
    uint32_t bandpass_filter_call_progress_tone_indication : 1;
    uint32_t notch_filter_control_2002_hz : 1;
    uint32_t pre_standard_auto_ec_off : 1;
    uint32_t bell_ans_detection : 1;
    uint32_t bandpass_filter_call_progress_tone_detection : 1;
    uint32_t fft_based_call_progress_tone_detection_eventdet : 1;
    uint32_t fft_based_call_progress_tone_detection_tonedet : 1;
    uint32_t tdm_side_programmable_tone_detection_control : 1;
    uint32_t v8_ansam_detection : 1;
    uint32_t cas_tone_detection_control : 1;
    uint32_t ip_cot_tone_2000Hz : 1;
    uint32_t ip_tone_1270Hz : 1;
    uint32_t ip_tone_1300Hz : 1;
    uint32_t ip_tone_1650Hz : 1;
    uint32_t ip_tone_390Hz : 1;
    uint32_t ip_tone_980Hz : 1;
    uint32_t tdm_cot_tone_2000Hz : 1;
    uint32_t tdm_tone_1270Hz : 1;
    uint32_t tdm_tone_1300Hz : 1;
    uint32_t tdm_tone_1650Hz : 1;
    uint32_t tdm_tone_390Hz : 1;
    uint32_t tdm_tone_980Hz : 1;
    uint32_t v18_annex_a_baudot_operating_mode : 1;
    uint32_t v18_annex_a_notch_filter_control : 1;
};

// FC_VOIP_SIGDET (0x805D)
struct csmchan_voip_sigdet {
    csm_header *header;
    uint32_t inband_tone_detection_select : 3;
};

// FC_VOIP_TONEOPT (0x806C)
struct csmchan_voip_toneopt {
    csm_header *header;
    uint32_t confirmed_2100Hz_answer_tone_detection_control : 1;
    uint32_t ansam_2100Hz_answer_tone_detection_control : 1;
    uint32_t phase_reversal_2100Hz_answer_tone_detection_control : 1;
    uint32_t answer_tone_detection_control_2225Hz : 1;
    uint32_t programmable_tone_detector_control : 1;
    // Carried for the callers; where the device expects it on the wire is
    // not known, so it is not sent.
    uint32_t early_2100Hz_answer_tone_detection_control : 1;
};

// FC_VOIP_PROGRAM_TONE_ENGINE (0x806E)
struct csmchan_voip_program_tone_engine {
    csm_header *header;
    uint32_t number_of_tones : 16;
    tone_description tones[CSM_TONE_ENGINE_TONES];
};

// FC_VOIP_PROGRAM_CADENCE_ENGINE (0x806F)
struct csmchan_voip_program_cadence_engine {
    csm_header *header;
    uint16_t parameter[CSM_CADENCE_WORDS];
};

// FC_VOIP_INDCTRL (0x8084)
struct csmchan_voip_indctrl {
    csm_header *header;
    uint32_t ptchng_message_disable : 1;
    uint32_t ssrcchg_message_disable : 1;
    uint32_t ssrcviol_message_disable : 1;
    uint32_t intvchng_feature_disable : 1;
    uint32_t dtmf_tonedet_detection_disable : 1;
    uint32_t dtmf_eventdet_detection_disable : 1;
    uint32_t inband_dtmf_detection_disable : 1;
    uint32_t rfc2833_dtmf_detection_disable : 1;
    uint32_t periodic_ptchng_indication_time : 16;
};

// FC_VOIP_JBOPT (0x8090)
struct csmchan_voip_jbopt {
    csm_header *header;
    uint32_t delay_min : 16;
    uint32_t delay_max : 16;
    uint32_t delay_init : 16;
    uint32_t adaption_period : 16;
    uint32_t deletion_mode_mode : 1;
    uint32_t deletion_mode_adjust : 1;
    uint32_t deletion_threshold : 16;
};

// FC_EC_CONTROL (0x8091)
struct csmchan_ec_control {
    csm_header *header;
    uint32_t ec_window_size : 16;
};

// FC_VOIP_MFTUNE (0x809A)
struct csmchan_voip_mftune {
    csm_header *header;
    uint32_t frequency_deviation : 16;
    uint32_t negative_twist : 16;
    uint32_t positive_twist : 16;
    uint32_t minimum_level_threshold : 16;
    uint32_t snr_threshold_adjustment : 16;
    uint32_t mf_control : 16;
    uint32_t mf_selector : 16;
};

// FC_VOIP_MFDPAR (0x809B)
struct csmchan_voip_mfdpar {
    csm_header *header;
    uint32_t minimum_valid_tone_on_time : 16;
    uint32_t minimum_valid_tone_off_time : 16;
    uint32_t minimum_valid_tone_dropout_time : 16;
};

// FC_VOIP_RTCP_ENA (0x80A0)
struct csmchan_voip_rtcp_ena {
    csm_header *header;
    uint32_t rtcp_control : 1;
    uint32_t rtcp_received_packets_indication_control : 1;
    uint32_t rtcp_extended_statistics_control : 1;
    uint32_t rtcp_extended_response : 1;
    uint32_t rtcp_xr_received_packet_indication_control : 1;
    uint32_t rtcp_extended_response_2nd : 1;
    uint32_t rtcp_transmitted_packet_indication_control : 1;
    uint32_t rtcp_statistics_aggregation : 1;
    uint32_t rtcp_xr_jitter_block : 1;
    uint32_t include_received_packet_count : 1;
};

// FC_CNDDETCTL (0x80B1)
struct csmchan_cnddetctl {
    csm_header *header;
    uint32_t caller_id_detection_feature_enable : 1;
    uint32_t hook_status : 1;
};

// FC_SET_TEST_MODE (0x80B9)
struct csmchan_set_test_mode {
    csm_header *header;
    uint32_t test_pattern_generation_verification : 2;
    uint32_t interface : 2;
    uint32_t test_type : 1;
    uint32_t report_bert_transitions : 1;
    uint32_t test_pattern : 8;
    uint32_t num_of_contiguous_good_bits_to_cause_lock : 15;
};

// FC_RFC2833_DTMF_TDM_LEVEL_CTRL (0x80FD)
struct csmchan_rfc2833_dtmf_tdm_level_ctrl {
    csm_header *header;
};

// FC_CIPHER_SRTP_OPT (0x8200)
struct csmchan_cipher_srtp_opt {
    csm_header *header;
    uint32_t lifetime_master_key_enable : 1;
    uint32_t authentication : 3;
    uint32_t encryption : 3;
    uint32_t key_material : 3;
    uint32_t direction_configuration : 2;
    uint32_t layer : 2;
    uint32_t ssrc_byte_order : 1;
    uint32_t enable_srtp : 1;
    uint32_t encryption_session_key_size : 2;
    uint32_t master_key_size : 2;
    uint32_t master_key_identifier_size : 4;
    uint32_t key_derivation_rate : 5;
    uint32_t master_salt_key_size : 9;
    uint32_t session_salt_key_size : 9;
    uint32_t authentication_prefix_size : 4;
    uint32_t authentication_tag_size : 5;
    uint32_t authentication_session_key_size : 7;
    uint8_t session_authentication_key[10];
    uint8_t session_encryption_key[16];
    uint8_t session_salt_key[14];
};

// FC_CIPHER_SRTP_KEY_DERIVATION (0x8201)
struct csmchan_cipher_srtp_key_derivation {
    csm_header *header;
    uint32_t direction_configuration : 2;
    uint32_t srtp_max_lifetime_bytes_5_and_4 : 16;
    uint32_t srtp_max_lifetime_bytes_3_and_2 : 16;
    uint32_t srtp_max_lifetime_bytes_1_and_0 : 16;
    uint32_t srtcp_max_lifetime_bytes_3_and_2 : 16;
    uint32_t srtcp_max_lifetime_bytes_1_and_0 : 16;
    uint32_t from_index_bytes_5_and_4 : 16;
    uint32_t from_index_bytes_3_and_2 : 16;
    uint32_t from_index_bytes_1_and_0 : 16;
    uint32_t to_index_bytes_5_and_4 : 16;
    uint32_t to_index_bytes_3_and_2 : 16;
    uint32_t to_index_bytes_1_and_0 : 16;
    uint8_t key_array[CSM_KEY_DERIVATION_KEY_BYTES];
};

// FC_SET_IP_HDR_CHANNEL (0x9000)
struct csmchan_set_ip_hdr_chan {
    csm_header *header;
    uint32_t ip_service_identifier : 8;
    uint32_t checksum : 1;
    uint32_t ihl : 4;
    uint32_t version : 4;
    uint32_t tos : 8;
    uint32_t total_length : 16;
    uint32_t identification : 16;
    uint32_t fragmentation : 16;
    uint32_t ttl_protocol : 16;
    uint32_t header_checksum : 16;
    uint32_t source_address_word_1 : 16;
    uint32_t source_address_word_2 : 16;
    uint32_t destination_address_word_1 : 16;
    uint32_t destination_address_word_2 : 16;
    uint32_t udp_source_port : 16;
    uint32_t udp_destination_port : 16;
    uint32_t udp_length : 16;
    uint32_t udp_checksum : 16;
};

// FC_SET_ETH_HDR_CHAN (0x9010)
struct csmchan_set_eth_hdr_chan {
    csm_header *header;
    uint32_t protocol_identifier : 1;
    uint32_t register_protocol : 2;
    uint32_t destination_mac_word1 : 16;
    uint32_t destination_mac_word2 : 16;
    uint32_t destination_mac_word3 : 16;
    uint32_t comcerto_mac_word1 : 16;
    uint32_t comcerto_mac_word2 : 16;
    uint32_t comcerto_mac_word3 : 16;
    uint32_t assigned_packet_type : 16;
    uint32_t tag_protocol_identifier : 16;
    uint32_t tci_field : 16;
};

// FC_IPDTMF_CTRL (0x9040)
struct csmchan_ipdtmf_ctrl {
    csm_header *header;
    uint32_t dtmf_removal_delay : 1;
    uint32_t enable_inband_dtmf_removal : 1;
    uint32_t enable_inband_dtmf_detection : 1;
    uint32_t rfc_2833_events_mode : 1;
};

// FC_THC_REDIRECT_RX (0x9200)
struct csmchan_thc_redirect_rx {
    csm_header *header;
    uint32_t peer_timeslot : 16;
};

// FC_THC_MODE_ENABLE (0x9201)
struct csmchan_thc_mode_enable {
    csm_header *header;
    uint32_t tx_attenuation : 16;
};

// FC_CONF_CREATE_CONFERENCE (0x9310)
struct csmdev_conf_create_conference {
    csm_header *header;
};

// FC_CONF_DESTROY_CONFERENCE (0x9311)
struct csmdev_conf_destroy_conference {
    csm_header *header;
    uint32_t conference_id : 16;
};

// FC_CONF_CREATE_PARTICIPANT (0x9312)
struct csmdev_conf_create_participant {
    csm_header *header;
    uint32_t type_of_participant : 16;
    uint32_t timeslot : 16;
    uint32_t conference_id : 16;
};

// FC_CONF_DESTROY_PARTICIPANT (0x9313)
struct csmdev_conf_destroy_participant {
    csm_header *header;
    uint32_t participant_id : 16;
    uint32_t conference_id : 16;
};

// FC_CONF_MUTE_PARTICIPANT (0x9314)
struct csmdev_conf_mute_participant {
    csm_header *header;
    uint32_t participant_id : 16;
    uint32_t conference_id : 16;
};

// FC_CONF_PUT_PARTICIPANT_ON_HOLD (0x9315)
struct csmdev_conf_put_participant_on_hold {
    csm_header *header;
    uint32_t participant_id : 16;
    uint32_t conference_id : 16;
};

// FC_TRANS_CONNECT (0x9322)
struct csmdev_trans_connect {
    csm_header *header;
    uint32_t transcoding_session_enable : 1;
    uint32_t dsp_bypass_mode : 1;
    uint32_t reduced_virtual_transcoding_latency : 1;
    uint32_t transcoding_channel_id_a : 16;
    uint32_t transcoding_channel_payload_type_a : 16;
    uint32_t transcoding_channel_id_b : 16;
    uint32_t transcoding_channel_payload_type_b : 16;
    uint32_t use_channels_instead_of_timeslots : 1;
};

// FC_MDIO_BUS_WRITE (0x9330)
struct csmdev_mdio_bus_write {
    csm_header *header;
    uint32_t preamble_suppress : 1;
    uint32_t emac_number : 8;
    uint32_t target_mmd_device_address : 16;
    uint32_t target_register_address : 16;
    uint32_t data_to_be_written : 16;
};

// FC_MDIO_BUS_READ (0x9331)
struct csmdev_mdio_bus_read {
    csm_header *header;
    uint32_t preamble_suppress : 1;
    uint32_t emac_number : 8;
    uint32_t target_mmd_device_address : 16;
    uint32_t target_register_address : 16;
    uint32_t data_to_be_written : 16;
};

// FC_MDIO_START_AUTODECT (0x9332)
struct csmdev_mdio_start_autodetect {
    csm_header *header;
    uint32_t emac_number : 16;
    uint32_t mdio_bus_number : 16;
    uint32_t target_device_address : 16;
    uint32_t enable_indication : 1;
};

// FC_MDIO_SET_FREQ (0x9334)
struct csmdev_mdio_set_freq {
    csm_header *header;
    uint32_t mdio_bus_number : 8;
    uint32_t mdio_max_frequency : 16;
};

// FC_HTDMOPT (0x9350)
struct csmchan_htdmopt {
    csm_header *header;
    uint32_t hdlc_receive_mode : 1;
    uint32_t hdlc_transmit_mode : 1;
    uint32_t tx_crc_enable : 1;
    uint32_t number_of_tdm_timeslots_for_channel : 16;
    uint32_t maximum_packet_length : 16;
};

// FC_HTDMENA (0x9351)
struct csmchan_htdmena {
    csm_header *header;
    uint32_t enable_hdlc_over_tdm_channel : 16;
};

// FC_MEDIAFORKING_IP_ACTIVATE (0x9360)
struct csmchan_mediaforking_ip_activate {
    csm_header *header;
};

// FC_MEDIAFORKING_SET_UDPIP_HDR (0x9361)
struct csmchan_mediaforking_set_udpip_hdr {
    csm_header *header;
    uint32_t stream_fork : 1;
    uint32_t ihl : 4;
    uint32_t version : 4;
    uint32_t tos : 8;
    uint32_t total_length : 16;
    uint32_t identification : 16;
    uint32_t fragmentation : 16;
    uint32_t ttl_protocol : 16;
    uint32_t header_checksum : 16;
    uint32_t source_address_word_1 : 16;
    uint32_t source_address_word_2 : 16;
    uint32_t destination_address_word_1 : 16;
    uint32_t destination_address_word_2 : 16;
    uint32_t udp_source_port : 16;
    uint32_t udp_destination_port : 16;
    uint32_t udp_length : 16;
    uint32_t udp_checksum : 16;
};

// FC_MEDIAFORKING_SET_ETH_HDR (0x9362)
struct csmchan_mediaforking_set_eth_hdr {
    csm_header *header;
    uint32_t stream_fork : 1;
    uint32_t destination_mac_word1 : 16;
    uint32_t destination_mac_word2 : 16;
    uint32_t destination_mac_word3 : 16;
    uint32_t comcerto_mac_word1 : 16;
    uint32_t comcerto_mac_word2 : 16;
    uint32_t comcerto_mac_word3 : 16;
    uint32_t assigned_packet_type : 16;
};

// FC_SYNCDAT (0x9402)
struct csmchan_syncdat {
    csm_header *header;
    uint8_t payload[CSM_SYNC_PAYLOAD_BYTES];
};

// FC_SYNCEOF (0x9403)
struct csmchan_synceof {
    csm_header *header;
    uint8_t payload[CSM_SYNC_PAYLOAD_BYTES];
};

// ---------------------------------------------------------------------------
// Queries (command type 1) and statistics queries: the header, and for two
// codes one word after it.

struct csm_generic_query {
    csm_header *header;
};

struct csmdev_create_channel_query {
    csm_header *header;
    uint32_t timeslot : 16;
};

struct csmdev_conf_create_participant_query {
    csm_header *header;
    uint32_t participant_id : 16;
};

struct csmdev_trans_connect_query {
    csm_header *header;
    uint32_t participant_id : 16;
};

typedef csm_generic_query csmdev_get_msp_version_query;
typedef csm_generic_query csmdev_get_device_type_query;
typedef csm_generic_query csmdev_device_status_query;
typedef csm_generic_query csmdev_get_arm_code_version_query;
typedef csm_generic_query csmdev_ext_clock_status_query;
typedef csm_generic_query csmchan_voip_rtcp_statistics;
typedef csm_generic_query csmchan_ct_srtp_stats;
typedef csm_generic_query csmdev_eth_statistics;

// ---------------------------------------------------------------------------
// Command responses (command type 2). Most carry the result code alone.

struct csm_generic_response {
    csm_header *header;
    uint32_t response_code : 16;
};

// Responses that carry the result code alone.
typedef csm_generic_response csmdev_destroy_channel_response;
typedef csm_generic_response csmdev_spu_features_control_response;
typedef csm_generic_response csmdev_spu_recovery_disable_response;
typedef csm_generic_response csmdev_set_eth_hdr_response;
typedef csm_generic_response csmdev_eth_service_config_response;
typedef csm_generic_response csmdev_arp_service_config_response;
typedef csm_generic_response csmdev_set_multicast_eth_addr_response;
typedef csm_generic_response csmdev_set_unicast_mac_addr_response;
typedef csm_generic_response csmdev_ip_service_config_response;
typedef csm_generic_response csmdev_set_ip_address_response;
typedef csm_generic_response csmdev_icmp_service_config_response;
typedef csm_generic_response csmdev_ip_options_response;
typedef csm_generic_response csmdev_latency_level_response;
typedef csm_generic_response csmdev_tdm_setup_tdm_params_response;
typedef csm_generic_response csmdev_tdm_select_bus_mode_response;
typedef csm_generic_response csmdev_device_set_country_code_response;
typedef csm_generic_response csmdev_cp_set_country_code_params_response;
typedef csm_generic_response csmdev_set_ts_mode_response;
typedef csm_generic_response csmdev_set_pcm_law_response;
typedef csm_generic_response csmdev_hang_on_alert_response;
typedef csm_generic_response csmdev_channels_reset_response;
typedef csm_generic_response csmchan_voip_vopena_response;
typedef csm_generic_response csmchan_voip_vceopt_response;
typedef csm_generic_response csmchan_voip_dtmfopt_response;
typedef csm_generic_response csmchan_fax_options_response;
typedef csm_generic_response csmchan_voip_dgain_response;
typedef csm_generic_response csmchan_voip_echocan_response;
typedef csm_generic_response csmchan_voip_tonegen_response;
typedef csm_generic_response csmchan_voip_toneoff_response;
typedef csm_generic_response csmchan_voip_ptmng_response;
typedef csm_generic_response csmchan_voip_sendnte_response;
typedef csm_generic_response csmchan_voip_dtmfdpar_response;
typedef csm_generic_response csmchan_voip_set_cng_over_response;
typedef csm_generic_response csmchan_voip_ntenergy_set_response;
typedef csm_generic_response csmchan_voip_dtmftune_response;
typedef csm_generic_response csmchan_cnd_onhook_gen_response;
typedef csm_generic_response csmchan_cnd_set_params_response;
typedef csm_generic_response csmchan_cnd_offhook_gen_response;
typedef csm_generic_response csmchan_cnd_stop_response;
typedef csm_generic_response csmchan_cipher_aes_opt_response;
typedef csm_generic_response csmchan_voip_cntrycode_response;
typedef csm_generic_response csmchan_voip_tonectrl_response;
typedef csm_generic_response csmchan_voip_sigdet_response;
typedef csm_generic_response csmchan_voip_toneopt_response;
typedef csm_generic_response csmchan_voip_program_tone_engine_response;
typedef csm_generic_response csmchan_voip_program_cadence_engine_response;
typedef csm_generic_response csmchan_voip_indctrl_response;
typedef csm_generic_response csmchan_voip_jbopt_response;
typedef csm_generic_response csmchan_ec_control_response;
typedef csm_generic_response csmchan_voip_mftune_response;
typedef csm_generic_response csmchan_voip_mfdpar_response;
typedef csm_generic_response csmchan_voip_rtcp_ena_response;
typedef csm_generic_response csmchan_cnddetctl_response;
typedef csm_generic_response csmchan_set_test_mode_response;
typedef csm_generic_response csmchan_rfc2833_dtmf_tdm_level_ctrl_response;
typedef csm_generic_response csmchan_cipher_srtp_opt_response;
typedef csm_generic_response csmchan_cipher_srtp_key_derivation_response;
typedef csm_generic_response csmchan_set_ip_hdr_chan_response;
typedef csm_generic_response csmchan_set_eth_hdr_chan_response;
typedef csm_generic_response csmchan_ipdtmf_ctrl_response;
typedef csm_generic_response csmchan_thc_redirect_rx_response;
typedef csm_generic_response csmchan_thc_mode_enable_response;
typedef csm_generic_response csmdev_conf_destroy_conference_response;
typedef csm_generic_response csmdev_trans_connect_response;
typedef csm_generic_response csmdev_mdio_bus_write_response;
typedef csm_generic_response csmdev_mdio_start_autodetect_response;
typedef csm_generic_response csmdev_mdio_set_freq_response;
typedef csm_generic_response csmchan_htdmopt_response;
typedef csm_generic_response csmchan_htdmena_response;
typedef csm_generic_response csmchan_mediaforking_ip_activate_response;
typedef csm_generic_response csmchan_mediaforking_set_udpip_hdr_response;
typedef csm_generic_response csmchan_mediaforking_set_eth_hdr_response;
typedef csm_generic_response csmchan_syncdat_response;
typedef csm_generic_response csmchan_synceof_response;

struct csmdev_create_channel_response {
    csm_header *header;
    uint32_t response_code : 16;
    uint32_t channel_number : 16;
    uint32_t timeslot : 16;
};

// The version text arrives one character per 16-bit word.
struct csmdev_get_msp_version_query_response {
    csm_header *header;
    char data[CSM_VERSION_TEXT];
};

struct csmdev_get_eth_hdr_response {
    csm_header *header;
    uint32_t protocol_identifier : 2;
    uint32_t header_size : 8;
    uint32_t hostmac_1 : 16;
    uint32_t hostmac_2 : 16;
    uint32_t hostmac_3 : 16;
    uint32_t assigned_mac_1 : 16;
    uint32_t assigned_mac_2 : 16;
    uint32_t assigned_mac_3 : 16;
    uint32_t assigned_packet_type : 16;
};

struct csmdev_conf_create_participant_response {
    csm_header *header;
    uint32_t response_code : 16;
    uint32_t participant_id : 16;
    uint32_t conference_id : 16;
};
typedef csmdev_conf_create_participant_response csmdev_conf_destroy_participant_response;
typedef csmdev_conf_create_participant_response csmdev_conf_mute_participant_response;
typedef csmdev_conf_create_participant_response csmdev_conf_put_participant_on_hold_response;

struct csmdev_conf_create_conference_response {
    csm_header *header;
    uint32_t response_code : 16;
    uint32_t conference_id : 16;
};

struct csmdev_mdio_bus_read_response {
    csm_header *header;
    uint32_t response_code : 16;
    uint32_t preamble_suppress : 1;
    uint32_t emac_number : 8;
    uint32_t target_mmd_device_address : 16;
    uint32_t target_register_address : 16;
    uint32_t register_data_value : 16;
};

// The device's report of a command it rejected.
struct csmdev_svr_error_handling {
    csm_header *header;
    uint32_t error_code : 16;
    uint32_t original_channel_id : 16;
    uint32_t original_index : 8;
    uint32_t original_msg_length : 8;
    uint32_t original_cmd_class : 8;
    uint32_t original_cmd_type : 8;
    uint32_t original_function_code : 16;
};

// ---------------------------------------------------------------------------
// Query responses (command type 4).

struct csmdev_create_channel_query_response {
    csm_header *header;
    uint32_t channel_id : 16;
    uint32_t channel_type : 16;
    uint32_t timeslot : 16;
    uint32_t conference_id : 16;
};

// 16 bytes as the device sends them, always followed by a terminating zero.
struct csmdev_get_arm_code_version_query_response {
    csm_header *header;
    char arm_code_version[CSM_ARM_VERSION_BYTES + 1];
};

struct csmdev_get_device_type_query_response {
    csm_header *header;
    uint32_t processor_id : 16;
};

struct csmdev_ext_clock_status_query_response {
    csm_header *header;
};

struct csmdev_device_status_query_response {
    csm_header *header;
    uint32_t heartbeat_period : 16;
    uint32_t arm1_status : 1;
    uint32_t dsp0_status : 1;
    uint32_t dsp1_status : 1;
    uint32_t dsp2_status : 1;
    uint32_t dsp3_status : 1;
    uint32_t dsp4_status : 1;
    uint32_t dsp5_status : 1;
    uint32_t alert_status : 1;
    uint32_t alert_type : 16;
};

struct csmchan_voip_rtcp_statistics_response {
    csm_header *header;
    uint32_t statistics_version;
    uint32_t timestamp;
    uint32_t sender_packet_count;
    uint32_t sender_byte_count;
    uint32_t ssrc_remote;
    uint32_t number_fraction_lost_packets;
    uint32_t extended_highest_sequence_number_received;
    uint32_t inter_arrival_jitter;
    uint32_t received_packet_count;
    uint32_t received_byte_count;
    uint32_t ssrc_local;
};

struct csmdev_conf_create_participant_query_response {
    csm_header *header;
    uint32_t participant_id : 16;
    uint32_t participant_type : 16;
    uint32_t timeslot : 16;
    uint32_t conference_id : 16;
};

// ---------------------------------------------------------------------------
// Indications (command type 3).

struct csmdev_ext_clock_status_indication {
    csm_header *header;
    uint32_t tdm_bus_0_working : 1;
    uint32_t tdm_bus_1_working : 1;
    uint32_t tdm_bus_2_working : 1;
    uint32_t tdm_bus_3_working : 1;
    uint32_t gps_50hz_clock_detected : 1;
    uint32_t gps_8khz_clock_detected : 1;
};

struct csmdev_channels_reset_complete_indication {
    csm_header *header;
    uint32_t response_code : 1;
};

struct csmchan_voip_tonedet_indication {
    csm_header *header;
    uint32_t tone_detect_value : 16;
    uint32_t timestamp_lsb : 16;
    uint32_t timestamp_msb : 16;
    uint32_t power_level : 16;
};

struct csmchan_ssrcchg_indication {
    csm_header *header;
    uint32_t ssrc_1 : 16;
    uint32_t ssrc_2 : 16;
};

struct csmchan_voip_ptchng_indication {
    csm_header *header;
    uint32_t payload_type : 16;
};

struct csmchan_tcmplt_indication {
    csm_header *header;
    uint32_t tone_complete_cause : 16;
};

struct csmchan_fax_relay_state_change_indication {
    csm_header *header;
    uint32_t relay_state : 16;
};

struct csmchan_voip_eventdet_indication {
    csm_header *header;
    uint32_t tone_detected_indication : 16;
    uint32_t timestamp_lsb : 16;
    uint32_t timestamp_msb : 16;
};

struct csmchan_voip_nterecvd_indication {
    csm_header *header;
    uint32_t nte_payload_event : 8;
    uint32_t nte_payload_e_flag : 1;
    uint32_t nte_payload_duration : 16;
    uint32_t payload_type_override : 16;
    uint32_t payload_type : 16;
    uint32_t ssrc_high : 16;
    uint32_t ssrc_low : 16;
};

struct csmchan_voip_ssrcviol_indication {
    csm_header *header;
    uint32_t ssrc_low : 16;
    uint32_t ssrc_high : 16;
};

// ntenergy_detected is carried by the record but not taken from the frame.
struct csmchan_voip_ntenergy_det {
    csm_header *header;
    uint32_t ntenergy_detected : 16;
    uint32_t timestamp;
};

struct csmchan_cnd_done_indication {
    csm_header *header;
    uint32_t cli_complete_reason : 16;
};

struct csmchan_voip_remdet_indication {
    csm_header *header;
    uint32_t remote_packet_type : 8;
    uint32_t event : 8;
};

struct csmchan_voip_iptonedet_indication {
    csm_header *header;
    uint32_t ans_early_detection_2100Hz : 1;
    uint32_t ans_confirmed_detection_2100Hz : 1;
    uint32_t ansam_15Hz : 1;
    uint32_t phase_reverseal_2100Hz : 1;
    uint32_t bell_ans : 1;
    uint32_t v32_aa_pre_standard_1800Hz : 1;
    uint32_t ip_programmable_tone_detected : 1;
    uint32_t ip_generic_390 : 1;
    uint32_t ip_generic_980 : 1;
    uint32_t ip_generic_1270 : 1;
    uint32_t ip_generic_1300 : 1;
    uint32_t ip_generic_1650 : 1;
    uint32_t ip_generic_tone2 : 1;
    uint32_t ip_generic_tone1 : 1;
    uint32_t ip_generic_tone0 : 1;
    uint32_t timestamp_1 : 16;
    uint32_t timestamp_2 : 16;
    uint32_t power_level : 16;
};

struct csmchan_cndrxmsg_indication {
    csm_header *header;
    uint32_t msg_status_field : 16;
    uint32_t msg_type_id : 8;
    uint32_t msg_byte_count : 8;
    uint32_t msg_byte_count_cropped : 8;
    uint8_t msg_byte[CSM_CNDRX_BYTES];
};

struct csmchan_bert_lock_indication {
    csm_header *header;
    uint32_t lock_state : 1;
};

struct csmchan_inband_dtmf_det_indication {
    csm_header *header;
    uint32_t tone_id : 16;
    uint32_t remote_timestamp_lsb : 16;
    uint32_t remote_timestamp_msb : 16;
    uint32_t power_level : 16;
};
typedef csmchan_inband_dtmf_det_indication csmchan_rfc2833_dtmf_det_indication;

struct csmdev_mdio_autodetect_indication {
    csm_header *header;
    uint32_t emac_number : 16;
    uint32_t mdio_bus_number : 16;
    uint32_t target_device_address : 16;
    uint32_t link_mode : 16;
};

// One received 16-bit word per element.
struct csmchan_syncdat_indication {
    csm_header *header;
    uint32_t payload[CSM_SYNC_PAYLOAD_BYTES / 4];
};
typedef csmchan_syncdat_indication csmchan_synceof_indication;

// ---------------------------------------------------------------------------
// Diagnostic responses (command type 121).

struct csmdev_redirect_over_ip_udp_response {
    csm_header *header;
    uint32_t response_code : 16;
    csm_mac_address destination_mac;
    csm_mac_address source_mac;
    uint32_t packet_type : 16;
    csm_assigned_ip_header assigned_ip_header;
    csm_ip_address source_ip;
    csm_ip_address destination_ip;
    csm_assigned_udp_header assigned_udp_header;
};

struct csmdev_set_unified_diag_response {
    csm_header *header;
    uint32_t response_code : 16;
};

// ---------------------------------------------------------------------------
// Statistics replies.

struct csmdev_tdm_sync_statistics_response {
    csm_header *header;
    uint32_t format_revision;
    uint32_t receive_overflow_count;
    uint32_t transmit_underflow_count;
    uint32_t receive_samples_dropped;
    uint32_t transmit_samples_dropped;
    uint32_t startup_out_of_sync_count;
    uint32_t rx_bank_switch_out_of_sync_count;
    uint32_t irq_out_of_sync_count;
    uint32_t max_transmitter_deviation;
    uint32_t max_receiver_deviation;
    uint32_t have_max_receiver_deviation : 1;
};

struct csmchan_voip_plyerr_response {
    csm_header *header;
    uint32_t format_revision;
    uint32_t interpolative_concealment;
    uint32_t silence_concealment;
    uint32_t jitter_buffer_overflow_discard;
    uint32_t endpoint_detection_errors;
};

struct csmchan_bert_stats_response {
    csm_header *header;
    uint32_t statistics_version;
    uint32_t current_lock_state;
    uint32_t number_of_bits_received;
    uint32_t number_of_good_bits_received;
    uint32_t number_of_bad_bits_received;
    uint32_t number_of_good_bits_received_since_last_lock;
    uint32_t number_of_bad_bits_received_since_last_lock;
    uint32_t number_of_lock_transitions;
    uint32_t number_of_bits_transmitted;
    uint32_t number_of_packets_received;
    uint32_t number_of_packets_lost;
};

struct csmchan_ct_srtp_stats_response {
    csm_header *header;
    uint32_t format_revision : 16;
    uint64_t tx_srtp_encrypted;
    uint64_t tx_srtp_authenticated;
    uint32_t tx_srtp_non_authenticated;
    uint64_t tx_srtcp_encrypted;
    uint64_t tx_srtcp_authenticated;
    uint32_t tx_srtcp_non_authenticated;
    uint64_t rx_srtp_encrypted;
    uint64_t rx_srtp_authenticated;
    uint32_t rx_srtp_non_authenticated;
    uint64_t rx_srtcp_encrypted;
    uint64_t rx_srtcp_authenticated;
    uint32_t rx_srtcp_non_authenticated;
};

// One pointer per record type; every record starts with its header pointer,
// so any member reads as the header through get_header.
union magic_csm {
    void *u_raw;
    csmdev_redirect_over_ip_udp *u_csmdev_redirect_over_ip_udp;
    csmdev_create_channel *u_csmdev_create_channel;
    csmdev_destroy_channel *u_csmdev_destroy_channel;
    csmdev_spu_features_control *u_csmdev_spu_features_control;
    csmdev_spu_recovery_disable *u_csmdev_spu_recovery_disable;
    csmdev_set_unified_diag *u_csmdev_set_unified_diag;
    csmdev_set_eth_hdr *u_csmdev_set_eth_hdr;
    csmdev_get_eth_hdr *u_csmdev_get_eth_hdr;
    csmdev_eth_service_config *u_csmdev_eth_service_config;
    csmdev_arp_service_config *u_csmdev_arp_service_config;
    csmdev_set_multicast_eth_addr *u_csmdev_set_multicast_eth_addr;
    csmdev_set_unicast_mac_addr *u_csmdev_set_unicast_mac_addr;
    csmdev_ip_service_config *u_csmdev_ip_service_config;
    csmdev_set_ip_address *u_csmdev_set_ip_address;
    csmdev_icmp_service_config *u_csmdev_icmp_service_config;
    csmdev_ip_options *u_csmdev_ip_options;
    csmdev_latency_level *u_csmdev_latency_level;
    csmdev_tdm_setup_tdm_params *u_csmdev_tdm_setup_tdm_params;
    csmdev_tdm_select_bus_mode *u_csmdev_tdm_select_bus_mode;
    csmdev_device_set_country_code *u_csmdev_device_set_country_code;
    csmdev_cp_set_country_code_params *u_csmdev_cp_set_country_code_params;
    csmdev_set_ts_mode *u_csmdev_set_ts_mode;
    csmdev_set_pcm_law *u_csmdev_set_pcm_law;
    csmdev_hang_on_alert *u_csmdev_hang_on_alert;
    csmdev_channels_reset *u_csmdev_channels_reset;
    csmchan_voip_vopena *u_csmchan_voip_vopena;
    csmchan_voip_vceopt *u_csmchan_voip_vceopt;
    csmchan_voip_dtmfopt *u_csmchan_voip_dtmfopt;
    csmchan_fax_options *u_csmchan_fax_options;
    csmchan_voip_dgain *u_csmchan_voip_dgain;
    csmchan_voip_echocan *u_csmchan_voip_echocan;
    csmchan_voip_tonegen *u_csmchan_voip_tonegen;
    csmchan_voip_toneoff *u_csmchan_voip_toneoff;
    csmchan_voip_ptmng *u_csmchan_voip_ptmng;
    csmchan_voip_sendnte *u_csmchan_voip_sendnte;
    csmchan_voip_dtmfdpar *u_csmchan_voip_dtmfdpar;
    csmchan_voip_set_cng_over *u_csmchan_voip_set_cng_over;
    csmchan_voip_ntenergy_set *u_csmchan_voip_ntenergy_set;
    csmchan_voip_dtmftune *u_csmchan_voip_dtmftune;
    csmchan_cnd_onhook_gen *u_csmchan_cnd_onhook_gen;
    csmchan_cnd_set_params *u_csmchan_cnd_set_params;
    csmchan_cnd_offhook_gen *u_csmchan_cnd_offhook_gen;
    csmchan_cnd_stop *u_csmchan_cnd_stop;
    csmchan_cipher_aes_opt *u_csmchan_cipher_aes_opt;
    csmchan_voip_cntrycode *u_csmchan_voip_cntrycode;
    csmchan_voip_tonectrl *u_csmchan_voip_tonectrl;
    csmchan_voip_sigdet *u_csmchan_voip_sigdet;
    csmchan_voip_toneopt *u_csmchan_voip_toneopt;
    csmchan_voip_program_tone_engine *u_csmchan_voip_program_tone_engine;
    csmchan_voip_program_cadence_engine *u_csmchan_voip_program_cadence_engine;
    csmchan_voip_indctrl *u_csmchan_voip_indctrl;
    csmchan_voip_jbopt *u_csmchan_voip_jbopt;
    csmchan_ec_control *u_csmchan_ec_control;
    csmchan_voip_mftune *u_csmchan_voip_mftune;
    csmchan_voip_mfdpar *u_csmchan_voip_mfdpar;
    csmchan_voip_rtcp_ena *u_csmchan_voip_rtcp_ena;
    csmchan_cnddetctl *u_csmchan_cnddetctl;
    csmchan_set_test_mode *u_csmchan_set_test_mode;
    csmchan_rfc2833_dtmf_tdm_level_ctrl *u_csmchan_rfc2833_dtmf_tdm_level_ctrl;
    csmchan_cipher_srtp_opt *u_csmchan_cipher_srtp_opt;
    csmchan_cipher_srtp_key_derivation *u_csmchan_cipher_srtp_key_derivation;
    csmchan_set_ip_hdr_chan *u_csmchan_set_ip_hdr_chan;
    csmchan_set_eth_hdr_chan *u_csmchan_set_eth_hdr_chan;
    csmchan_ipdtmf_ctrl *u_csmchan_ipdtmf_ctrl;
    csmchan_thc_redirect_rx *u_csmchan_thc_redirect_rx;
    csmchan_thc_mode_enable *u_csmchan_thc_mode_enable;
    csmdev_conf_create_conference *u_csmdev_conf_create_conference;
    csmdev_conf_destroy_conference *u_csmdev_conf_destroy_conference;
    csmdev_conf_create_participant *u_csmdev_conf_create_participant;
    csmdev_conf_destroy_participant *u_csmdev_conf_destroy_participant;
    csmdev_conf_mute_participant *u_csmdev_conf_mute_participant;
    csmdev_conf_put_participant_on_hold *u_csmdev_conf_put_participant_on_hold;
    csmdev_trans_connect *u_csmdev_trans_connect;
    csmdev_mdio_bus_write *u_csmdev_mdio_bus_write;
    csmdev_mdio_bus_read *u_csmdev_mdio_bus_read;
    csmdev_mdio_start_autodetect *u_csmdev_mdio_start_autodetect;
    csmdev_mdio_set_freq *u_csmdev_mdio_set_freq;
    csmchan_htdmopt *u_csmchan_htdmopt;
    csmchan_htdmena *u_csmchan_htdmena;
    csmchan_mediaforking_ip_activate *u_csmchan_mediaforking_ip_activate;
    csmchan_mediaforking_set_udpip_hdr *u_csmchan_mediaforking_set_udpip_hdr;
    csmchan_mediaforking_set_eth_hdr *u_csmchan_mediaforking_set_eth_hdr;
    csmchan_syncdat *u_csmchan_syncdat;
    csmchan_synceof *u_csmchan_synceof;
    csm_generic_query *u_csm_generic_query;
    csmdev_create_channel_query *u_csmdev_create_channel_query;
    csmdev_conf_create_participant_query *u_csmdev_conf_create_participant_query;
    csmdev_trans_connect_query *u_csmdev_trans_connect_query;
    csmdev_get_msp_version_query *u_csmdev_get_msp_version_query;
    csmdev_get_device_type_query *u_csmdev_get_device_type_query;
    csmdev_device_status_query *u_csmdev_device_status_query;
    csmdev_get_arm_code_version_query *u_csmdev_get_arm_code_version_query;
    csmdev_ext_clock_status_query *u_csmdev_ext_clock_status_query;
    csmchan_voip_rtcp_statistics *u_csmchan_voip_rtcp_statistics;
    csmchan_ct_srtp_stats *u_csmchan_ct_srtp_stats;
    csmdev_eth_statistics *u_csmdev_eth_statistics;
    csm_generic_response *u_csm_generic_response;
    csmdev_destroy_channel_response *u_csmdev_destroy_channel_response;
    csmdev_spu_features_control_response *u_csmdev_spu_features_control_response;
    csmdev_spu_recovery_disable_response *u_csmdev_spu_recovery_disable_response;
    csmdev_set_eth_hdr_response *u_csmdev_set_eth_hdr_response;
    csmdev_eth_service_config_response *u_csmdev_eth_service_config_response;
    csmdev_arp_service_config_response *u_csmdev_arp_service_config_response;
    csmdev_set_multicast_eth_addr_response *u_csmdev_set_multicast_eth_addr_response;
    csmdev_set_unicast_mac_addr_response *u_csmdev_set_unicast_mac_addr_response;
    csmdev_ip_service_config_response *u_csmdev_ip_service_config_response;
    csmdev_set_ip_address_response *u_csmdev_set_ip_address_response;
    csmdev_icmp_service_config_response *u_csmdev_icmp_service_config_response;
    csmdev_ip_options_response *u_csmdev_ip_options_response;
    csmdev_latency_level_response *u_csmdev_latency_level_response;
    csmdev_tdm_setup_tdm_params_response *u_csmdev_tdm_setup_tdm_params_response;
    csmdev_tdm_select_bus_mode_response *u_csmdev_tdm_select_bus_mode_response;
    csmdev_device_set_country_code_response *u_csmdev_device_set_country_code_response;
    csmdev_cp_set_country_code_params_response *u_csmdev_cp_set_country_code_params_response;
    csmdev_set_ts_mode_response *u_csmdev_set_ts_mode_response;
    csmdev_set_pcm_law_response *u_csmdev_set_pcm_law_response;
    csmdev_hang_on_alert_response *u_csmdev_hang_on_alert_response;
    csmdev_channels_reset_response *u_csmdev_channels_reset_response;
    csmchan_voip_vopena_response *u_csmchan_voip_vopena_response;
    csmchan_voip_vceopt_response *u_csmchan_voip_vceopt_response;
    csmchan_voip_dtmfopt_response *u_csmchan_voip_dtmfopt_response;
    csmchan_fax_options_response *u_csmchan_fax_options_response;
    csmchan_voip_dgain_response *u_csmchan_voip_dgain_response;
    csmchan_voip_echocan_response *u_csmchan_voip_echocan_response;
    csmchan_voip_tonegen_response *u_csmchan_voip_tonegen_response;
    csmchan_voip_toneoff_response *u_csmchan_voip_toneoff_response;
    csmchan_voip_ptmng_response *u_csmchan_voip_ptmng_response;
    csmchan_voip_sendnte_response *u_csmchan_voip_sendnte_response;
    csmchan_voip_dtmfdpar_response *u_csmchan_voip_dtmfdpar_response;
    csmchan_voip_set_cng_over_response *u_csmchan_voip_set_cng_over_response;
    csmchan_voip_ntenergy_set_response *u_csmchan_voip_ntenergy_set_response;
    csmchan_voip_dtmftune_response *u_csmchan_voip_dtmftune_response;
    csmchan_cnd_onhook_gen_response *u_csmchan_cnd_onhook_gen_response;
    csmchan_cnd_set_params_response *u_csmchan_cnd_set_params_response;
    csmchan_cnd_offhook_gen_response *u_csmchan_cnd_offhook_gen_response;
    csmchan_cnd_stop_response *u_csmchan_cnd_stop_response;
    csmchan_cipher_aes_opt_response *u_csmchan_cipher_aes_opt_response;
    csmchan_voip_cntrycode_response *u_csmchan_voip_cntrycode_response;
    csmchan_voip_tonectrl_response *u_csmchan_voip_tonectrl_response;
    csmchan_voip_sigdet_response *u_csmchan_voip_sigdet_response;
    csmchan_voip_toneopt_response *u_csmchan_voip_toneopt_response;
    csmchan_voip_program_tone_engine_response *u_csmchan_voip_program_tone_engine_response;
    csmchan_voip_program_cadence_engine_response *u_csmchan_voip_program_cadence_engine_response;
    csmchan_voip_indctrl_response *u_csmchan_voip_indctrl_response;
    csmchan_voip_jbopt_response *u_csmchan_voip_jbopt_response;
    csmchan_ec_control_response *u_csmchan_ec_control_response;
    csmchan_voip_mftune_response *u_csmchan_voip_mftune_response;
    csmchan_voip_mfdpar_response *u_csmchan_voip_mfdpar_response;
    csmchan_voip_rtcp_ena_response *u_csmchan_voip_rtcp_ena_response;
    csmchan_cnddetctl_response *u_csmchan_cnddetctl_response;
    csmchan_set_test_mode_response *u_csmchan_set_test_mode_response;
    csmchan_rfc2833_dtmf_tdm_level_ctrl_response *u_csmchan_rfc2833_dtmf_tdm_level_ctrl_response;
    csmchan_cipher_srtp_opt_response *u_csmchan_cipher_srtp_opt_response;
    csmchan_cipher_srtp_key_derivation_response *u_csmchan_cipher_srtp_key_derivation_response;
    csmchan_set_ip_hdr_chan_response *u_csmchan_set_ip_hdr_chan_response;
    csmchan_set_eth_hdr_chan_response *u_csmchan_set_eth_hdr_chan_response;
    csmchan_ipdtmf_ctrl_response *u_csmchan_ipdtmf_ctrl_response;
    csmchan_thc_redirect_rx_response *u_csmchan_thc_redirect_rx_response;
    csmchan_thc_mode_enable_response *u_csmchan_thc_mode_enable_response;
    csmdev_conf_destroy_conference_response *u_csmdev_conf_destroy_conference_response;
    csmdev_trans_connect_response *u_csmdev_trans_connect_response;
    csmdev_mdio_bus_write_response *u_csmdev_mdio_bus_write_response;
    csmdev_mdio_start_autodetect_response *u_csmdev_mdio_start_autodetect_response;
    csmdev_mdio_set_freq_response *u_csmdev_mdio_set_freq_response;
    csmchan_htdmopt_response *u_csmchan_htdmopt_response;
    csmchan_htdmena_response *u_csmchan_htdmena_response;
    csmchan_mediaforking_ip_activate_response *u_csmchan_mediaforking_ip_activate_response;
    csmchan_mediaforking_set_udpip_hdr_response *u_csmchan_mediaforking_set_udpip_hdr_response;
    csmchan_mediaforking_set_eth_hdr_response *u_csmchan_mediaforking_set_eth_hdr_response;
    csmchan_syncdat_response *u_csmchan_syncdat_response;
    csmchan_synceof_response *u_csmchan_synceof_response;
    csmdev_create_channel_response *u_csmdev_create_channel_response;
    csmdev_get_msp_version_query_response *u_csmdev_get_msp_version_query_response;
    csmdev_get_eth_hdr_response *u_csmdev_get_eth_hdr_response;
    csmdev_conf_create_participant_response *u_csmdev_conf_create_participant_response;
    csmdev_conf_destroy_participant_response *u_csmdev_conf_destroy_participant_response;
    csmdev_conf_mute_participant_response *u_csmdev_conf_mute_participant_response;
    csmdev_conf_put_participant_on_hold_response *u_csmdev_conf_put_participant_on_hold_response;
    csmdev_conf_create_conference_response *u_csmdev_conf_create_conference_response;
    csmdev_mdio_bus_read_response *u_csmdev_mdio_bus_read_response;
    csmdev_svr_error_handling *u_csmdev_svr_error_handling;
    csmdev_create_channel_query_response *u_csmdev_create_channel_query_response;
    csmdev_get_arm_code_version_query_response *u_csmdev_get_arm_code_version_query_response;
    csmdev_get_device_type_query_response *u_csmdev_get_device_type_query_response;
    csmdev_ext_clock_status_query_response *u_csmdev_ext_clock_status_query_response;
    csmdev_device_status_query_response *u_csmdev_device_status_query_response;
    csmchan_voip_rtcp_statistics_response *u_csmchan_voip_rtcp_statistics_response;
    csmdev_conf_create_participant_query_response *u_csmdev_conf_create_participant_query_response;
    csmdev_ext_clock_status_indication *u_csmdev_ext_clock_status_indication;
    csmdev_channels_reset_complete_indication *u_csmdev_channels_reset_complete_indication;
    csmchan_voip_tonedet_indication *u_csmchan_voip_tonedet_indication;
    csmchan_ssrcchg_indication *u_csmchan_ssrcchg_indication;
    csmchan_voip_ptchng_indication *u_csmchan_voip_ptchng_indication;
    csmchan_tcmplt_indication *u_csmchan_tcmplt_indication;
    csmchan_fax_relay_state_change_indication *u_csmchan_fax_relay_state_change_indication;
    csmchan_voip_eventdet_indication *u_csmchan_voip_eventdet_indication;
    csmchan_voip_nterecvd_indication *u_csmchan_voip_nterecvd_indication;
    csmchan_voip_ssrcviol_indication *u_csmchan_voip_ssrcviol_indication;
    csmchan_voip_ntenergy_det *u_csmchan_voip_ntenergy_det;
    csmchan_cnd_done_indication *u_csmchan_cnd_done_indication;
    csmchan_voip_remdet_indication *u_csmchan_voip_remdet_indication;
    csmchan_voip_iptonedet_indication *u_csmchan_voip_iptonedet_indication;
    csmchan_cndrxmsg_indication *u_csmchan_cndrxmsg_indication;
    csmchan_bert_lock_indication *u_csmchan_bert_lock_indication;
    csmchan_inband_dtmf_det_indication *u_csmchan_inband_dtmf_det_indication;
    csmchan_rfc2833_dtmf_det_indication *u_csmchan_rfc2833_dtmf_det_indication;
    csmdev_mdio_autodetect_indication *u_csmdev_mdio_autodetect_indication;
    csmchan_syncdat_indication *u_csmchan_syncdat_indication;
    csmchan_synceof_indication *u_csmchan_synceof_indication;
    csmdev_redirect_over_ip_udp_response *u_csmdev_redirect_over_ip_udp_response;
    csmdev_set_unified_diag_response *u_csmdev_set_unified_diag_response;
    csmdev_tdm_sync_statistics_response *u_csmdev_tdm_sync_statistics_response;
    csmchan_voip_plyerr_response *u_csmchan_voip_plyerr_response;
    csmchan_bert_stats_response *u_csmchan_bert_stats_response;
    csmchan_ct_srtp_stats_response *u_csmchan_ct_srtp_stats_response;
};
