// Layout tables of every CSM command: one block per function code, one row
// per field with its wire position, width and constructor default.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "csm_codes.h"
#include "csm_layout_rows.h"
#include "log.h"

namespace {

// FC_SUPVSR_CREATE_CHANNEL (0x0010), record csmdev_create_channel; class 6, type 0, length 12
namespace csmdev_create_channel_layout {
using T = csmdev_create_channel;
const csm_field rows[] = {
    {LE(8), FIELD(channel_type), 16, 2},
    {LE(10), FIELD(timeslot), 16, 0},
};
} // namespace

// FC_SUPVSR_DESTROY_CHANNEL (0x0011), record csmdev_destroy_channel; class 6, type 0, length 10
namespace csmdev_destroy_channel_layout {
using T = csmdev_destroy_channel;
const csm_field rows[] = {
    {LE(8), FIELD(channel_number), 16, 0},
};
} // namespace

// FC_SPU_FEATURES_CONTROL (0x0013), record csmdev_spu_features_control; class 6, type 0, length 10
namespace csmdev_spu_features_control_layout {
using T = csmdev_spu_features_control;
const csm_field rows[] = {
    {AT(8, 0), FIELD(ec_feature_control), 1, 0},
    {AT(8, 1), FIELD(voice_silence_detection_event_indication_control), 1, 0},
    {AT(8, 2), FIELD(caller_id_detection), 1, 0},
    {AT(8, 3), FIELD(g723_vad_select), 1, 0},
    {AT(8, 4), FIELD(bandpass_filter_call_progress_detection), 1, 0},
    {AT(8, 5), FIELD(dtmf_distortion), 1, 0},
    {AT(8, 6), FIELD(ip_interface_tone_detection), 1, 0},
    {AT(8, 7), FIELD(v18_detection_module), 1, 0},
    {AT(9, 0), FIELD(automatic_gain_control_conferencing_feature), 1, 0},
    {AT(9, 1), FIELD(simple_noise_suppression_conferencing_feature), 1, 0},
    {AT(9, 2), FIELD(generic_tones_detector), 1, 0},
    {AT(9, 3), FIELD(acoustic_echo_control), 1, 0},
    {AT(9, 4), FIELD(dual_filter_echo_canceller), 1, 0},
    {AT(9, 6), FIELD(fft_based_call_progress_detection), 1, 0},
    {AT(9, 7), FIELD(spufm_gsm_tonegenip), 1, 0},
};
} // namespace

// FC_SPU_RECOVERY_DISABLE (0x0055), record csmdev_spu_recovery_disable; class 6, type 0, length 10
namespace csmdev_spu_recovery_disable_layout {
using T = csmdev_spu_recovery_disable;
const csm_field rows[] = {
    {AT(8, 0), FIELD(spu_recovery), 1, 0},
};
} // namespace

// FC_SET_ETH_HDR (0x0100), record csmdev_set_eth_hdr; class 6, type 0, length 24
namespace csmdev_set_eth_hdr_layout {
using T = csmdev_set_eth_hdr;
const csm_field rows[] = {
    {AT(8, 0), FIELD(protocol_identifier), 8, 1},
    {AT(9, 7), FIELD(register_protocol), 1, 0},
    {BE(10), FIELD(hostmac_1), 16, 0xFFEE, CSM_FMT_HEX4},
    {BE(12), FIELD(hostmac_2), 16, 0xDDCC, CSM_FMT_HEX4},
    {BE(14), FIELD(hostmac_3), 16, 0xBBAA, CSM_FMT_HEX4},
    {BE(16), FIELD(assigned_mac_1), 16, 0x6655, CSM_FMT_HEX4},
    {BE(18), FIELD(assigned_mac_2), 16, 0x4433, CSM_FMT_HEX4},
    {BE(20), FIELD(assigned_mac_3), 16, 0x2211, CSM_FMT_HEX4},
    {BE(22), FIELD(assigned_packet_type), 16, 0x800},
};
} // namespace

// FC_ETH_SERVICE_CONFIG (0x0104), record csmdev_eth_service_config; class 6, type 0, length 10
namespace csmdev_eth_service_config_layout {
using T = csmdev_eth_service_config;
const csm_field rows[] = {
    {AT(8, 0), FIELD(dispatching), 2, 0},
    {AT(8, 2), FIELD(transport), 3, 0},
    {AT(10, 0), FIELD(gps_clock_sync), 1, 0},
    {AT(10, 1), FIELD(gps_synchronization), 3, 0},
};
} // namespace

// FC_SET_MULTICAST_ETH_ADDR (0x0111), record csmdev_set_multicast_eth_addr; class 6, type 0, length 16
namespace csmdev_set_multicast_eth_addr_layout {
using T = csmdev_set_multicast_eth_addr;
const csm_field rows[] = {
    {AT(9, 7), FIELD(remove_address), 1, 0},
    {LE(10), FIELD(bytes_01), 16, 1, CSM_FMT_HEX4},
    {LE(12), FIELD(bytes_23), 16, 0x5E, CSM_FMT_HEX4},
    {LE(14), FIELD(bytes_45), 16, 1, CSM_FMT_HEX4},
};
} // namespace

// FC_IP_SERVICE_CONFIG (0x0302), record csmdev_ip_service_config; class 6, type 0, length 10
namespace csmdev_ip_service_config_layout {
using T = csmdev_ip_service_config;
const csm_field rows[] = {
    {AT(8, 0), FIELD(checksum_verification), 1, 0},
    {AT(9, 0), FIELD(encapsulation), 2, 2},
};
} // namespace

// FC_IP_ADDRESS (0x0303), record csmdev_set_ip_address; class 6, type 0, length 12
namespace csmdev_set_ip_address_layout {
using T = csmdev_set_ip_address;
const csm_field rows[] = {
    {BE(8), FIELD(device_ip_word1), 16, 0x1234, CSM_FMT_HEX4},
    {BE(10), FIELD(device_ip_word2), 16, 0x5678, CSM_FMT_HEX4},
};
} // namespace

// FC_IP_OPTIONS (0x0306), record csmdev_ip_options; class 6, type 0, length 10
namespace csmdev_ip_options_layout {
using T = csmdev_ip_options;
const csm_field rows[] = {
    {AT(8, 0), FIELD(verification_source_port), 1, 1},
    {AT(8, 1), FIELD(verification_source_ip), 1, 1},
    {AT(8, 2), FIELD(notify_host_udp_port_change), 1, 0},
    {AT(8, 3), FIELD(notify_host_source_ip_change), 1, 0},
    {AT(8, 4), FIELD(source_ip_unlimited_assignments), 1, 0},
};
} // namespace

// FC_LATENCY_LEVEL (0x0406), record csmdev_latency_level; class 6, type 0, length 14
namespace csmdev_latency_level_layout {
using T = csmdev_latency_level;
const csm_field rows[] = {
    {LE(8), FIELD(latency_level), 16, 0},
    {LE(10), FIELD(reserved1), 16, 0, CSM_FMT_NOLOG},
    {LE(12), FIELD(reserved2), 16, 0, CSM_FMT_NOLOG},
};
} // namespace

// FC_SUPVSR_SETUP_TDM_PARAMS (0x0407), record csmdev_tdm_setup_tdm_params; class 6, type 0, length 16
namespace csmdev_tdm_setup_tdm_params_layout {
using T = csmdev_tdm_setup_tdm_params;
const csm_field rows[] = {
    {PIECES(P(8, 0, 0, 8), P(9, 0, 8, 2), P(14, 0, 8, 2)), FIELD(time_slots_per_frame), 10, 0x20},
    {AT(9, 0), FIELD(frame_edge), 1, 1},
    {AT(9, 1), FIELD(transmit_clock_edge), 1, 1},
    {AT(9, 2), FIELD(received_clock_edge), 1, 1},
    {AT(9, 3), FIELD(clock_mode_select_transmitter), 1, 1},
    {AT(9, 4), FIELD(clock_mode_select_receiver), 1, 1},
    {AT(9, 5), FIELD(data_invert_transmitter), 1, 0},
    {AT(9, 6), FIELD(data_invert_receiver), 1, 0},
    {AT(9, 7), FIELD(bit_order_transmitter), 1, 1},
    {PIECES(P(10, 0, 0, 10), P(11, 6, 10, 2)), FIELD(number_cycles_delay_transmitter), 12, 0},
    {AT(11, 2), FIELD(bit_order_receiver), 1, 1},
    {AT(11, 3), FIELD(inverted_frame_signal), 1, 1},
    {AT(12, 0), FIELD(number_cycles_delay_receiver), 12, 0},
    {AT(14, 2), FIELD(bus_number), 2, 1},
};
} // namespace

// FC_TDM_SELECT_BUS_MODE (0x0417), record csmdev_tdm_select_bus_mode; class 6, type 0, length 10
namespace csmdev_tdm_select_bus_mode_layout {
using T = csmdev_tdm_select_bus_mode;
const csm_field rows[] = {
    {AT(8, 0), FIELD(mode), 8, 4},
};
} // namespace

// FC_DEVICE_SET_COUNTRY_CODE (0x041B), record csmdev_device_set_country_code; class 6, type 0, length 10
namespace csmdev_device_set_country_code_layout {
using T = csmdev_device_set_country_code;
const csm_field rows[] = {
    {LE(8), FIELD(country_code_selection), 16, 0},
};
} // namespace

// FC_CP_SET_COUNTRY_CODE_PARAMS (0x041C), record csmdev_cp_set_country_code_params; class 6, type 0, length 112
namespace csmdev_cp_set_country_code_params_layout {
using T = csmdev_cp_set_country_code_params;
const csm_field rows[] = {
    {LE(8), FIELD(host_programmable_country_code_index), 16, 0},
    {LE(10), FIELD(tone1_on_cadence_low_threshold), 16, 0},
    {LE(12), FIELD(tone1_on_cadence_high_threshold), 16, 0},
    {LE(14), FIELD(tone1_off_cadence_low_threshold), 16, 0},
    {LE(16), FIELD(tone1_off_cadence_high_threshold), 16, 0},
    {LE(18), FIELD(tone2_on_cadence_low_threshold), 16, 0},
    {LE(20), FIELD(tone2_on_cadence_high_threshold), 16, 0},
    {LE(22), FIELD(tone2_off_cadence_low_threshold), 16, 0},
    {LE(24), FIELD(tone2_off_cadence_high_threshold), 16, 0},
    {LE(26), FIELD(tone3_on_cadence_low_threshold), 16, 0},
    {LE(28), FIELD(tone3_on_cadence_high_threshold), 16, 0},
    {LE(30), FIELD(tone3_off_cadence_low_threshold), 16, 0},
    {LE(32), FIELD(tone3_off_cadence_high_threshold), 16, 0},
    {LE(34), FIELD(tone4_on_cadence_low_threshold), 16, 0},
    {LE(36), FIELD(tone4_on_cadence_high_threshold), 16, 0},
    {LE(38), FIELD(tone4_off_cadence_low_threshold), 16, 0},
    {LE(40), FIELD(tone4_off_cadence_high_threshold), 16, 0},
    {LE(42), FIELD(filter1_coefficient_a2), 16, 0x9A0},
    {LE(44), FIELD(filter1_coefficient_a1), 16, 0xECC1},
    {LE(46), FIELD(filter1_coefficient_a0), 16, 0x9A0},
    {LE(50), FIELD(filter1_coefficient_b2), 16, 0xC774},
    {LE(52), FIELD(filter1_coefficient_b1), 16, 0x759F},
    {LE(54), FIELD(filter2_coefficient_a2), 16, 0x736},
    {LE(56), FIELD(filter2_coefficient_a1), 16, 0xE6C},
    {LE(58), FIELD(filter2_coefficient_a0), 16, 0x736},
    {LE(62), FIELD(filter2_coefficient_b2), 16, 0xCD4F},
    {LE(64), FIELD(filter2_coefficient_b1), 16, 0x6713},
    {LE(66), FIELD(filter3_coefficient_a2), 16, 0},
    {LE(68), FIELD(filter3_coefficient_a1), 16, 0},
    {LE(70), FIELD(filter3_coefficient_a0), 16, 0},
    {LE(74), FIELD(filter3_coefficient_b2), 16, 0},
    {LE(76), FIELD(filter3_coefficient_b1), 16, 0},
    {LE(78), FIELD(on_to_off_transition_threshold), 16, 0x100},
    {LE(80), FIELD(off_to_on_transition_threshold), 16, 0x100},
    {LE(82), FIELD(alpha_response_time), 16, 0x200},
    {LE(84), FIELD(dropout_time), 16, 0},
    {LE(86), FIELD(cpnrg_most_mult), 16, 0x4000},
    {LE(88), FIELD(debounce_threshold), 16, 4},
    {LE(90), FIELD(nbd_coefficient_a2), 16, 0},
    {LE(92), FIELD(nbd_coefficient_a1), 16, 0},
    {LE(94), FIELD(nbd_coefficient_a0), 16, 0},
    {LE(98), FIELD(nbd_coefficient_b2), 16, 0},
    {LE(100), FIELD(nbd_coefficient_b1), 16, 0},
    {LE(102), FIELD(nbd_on_to_off_transition_threshold), 16, 0},
    {LE(104), FIELD(nbd_off_to_on_transition_threshold), 16, 0},
    {LE(106), FIELD(nbd_alpha), 16, 0},
    {LE(108), FIELD(nbd_cpnrg_most_mult), 16, 0},
    {LE(110), FIELD(nbd_debounce_threshold), 16, 0},
};
} // namespace

// FC_SUPVSR_SET_TS_MODE (0x0424), record csmdev_set_ts_mode; class 6, type 0, length 12
namespace csmdev_set_ts_mode_layout {
using T = csmdev_set_ts_mode;
const csm_field rows[] = {
    {LE(8), FIELD(timeslot_number), 16, 0},
    {LE(10), FIELD(timeslot_mode), 16, 0},
};
} // namespace

// FC_SUPVSR_SET_PCM_LAW (0x0425), record csmdev_set_pcm_law; class 6, type 0, length 10
namespace csmdev_set_pcm_law_layout {
using T = csmdev_set_pcm_law;
const csm_field rows[] = {
    {LE(8), FIELD(pcm_law), 16, 1},
};
} // namespace

// FC_HANG_ON_ALERT (0x0439), record csmdev_hang_on_alert; class 6, type 0, length 10
namespace csmdev_hang_on_alert_layout {
using T = csmdev_hang_on_alert;
const csm_field rows[] = {
    {AT(8, 0), FIELD(enable_hang_on_alert), 1, 1},
    {AT(8, 1), FIELD(store_commands), 1, 1},
};
} // namespace

// FC_CHANNELS_RESET (0x04F6), record csmdev_channels_reset; class 6, type 0, length 10
namespace csmdev_channels_reset_layout {
using T = csmdev_channels_reset;
const csm_field rows[] = {
    {AT(8, 0), FIELD(reset_channels), 1, 0},
};
} // namespace

// FC_VOIP_VOPENA (0x8000), record csmchan_voip_vopena; class 2, type 0, length 22
namespace csmchan_voip_vopena_layout {
using T = csmchan_voip_vopena;
const csm_field rows[] = {
    {LE(8), FIELD(channel_mode), 16, 1},
    {AT(10, 0), FIELD(rtp_cc), 4, 0},
    {AT(10, 4), FIELD(rtp_x), 1, 0},
    {AT(10, 5), FIELD(rtp_p), 1, 0},
    {AT(10, 6), FIELD(rtp_v), 2, 2},
    {AT(11, 0), FIELD(payload_type), 8, 8},
    {BE(12), FIELD(sequence_number), 16, 0},
    {BE(14), FIELD(timestamp), 32, 0},
    {BE(18), FIELD(ssrc), 32, 0x2000, CSM_FMT_HEX},
};
} // namespace

// FC_VOIP_VCEOPT (0x8001), record csmchan_voip_vceopt; class 2, type 0, length 18
namespace csmchan_voip_vceopt_layout {
using T = csmchan_voip_vceopt;
const csm_field rows[] = {
    {AT(8, 0), FIELD(pcm_coding_standard), 1, 0},
    {AT(8, 1), FIELD(silence_handling_to_pcm), 1, 0},
    {AT(8, 2), FIELD(g723_decoder_dc_removal_filter), 1, 0},
    {AT(8, 3), FIELD(packet_generation_disable), 1, 0},
    {AT(8, 4), FIELD(g723_coding_rate), 1, 0},
    {AT(8, 5), FIELD(decoder_adaptive_post_filter), 1, 1},
    {AT(8, 6), FIELD(voice_activity_detector), 2, 0},
    {AT(9, 0), FIELD(voice_packetization_interval), 8, 0x14},
    {AT(10, 4), FIELD(redundancy_selection), 2, 0},
    {AT(11, 2), FIELD(amr_speedrate_table), 3, 7},
    {AT(11, 5), FIELD(g726_crbt_sample_reorder), 1, 1},
    {AT(11, 6), FIELD(udptl_packet_detection), 1, 0},
    {AT(11, 7), FIELD(packet_reception_disable), 1, 0},
    {LE(12), FIELD(vad_tune), 16, 4},
    {AT(14, 0), FIELD(cng_maximum_model_order_decoder), 8, 0},
    {AT(15, 0), FIELD(g711_appendix2_lpc_model_order_encoder), 8, 0},
    {AT(16, 0), FIELD(packet_loss_concealment), 1, 1},
    {AT(16, 1), FIELD(bits_per_sample), 1, 0},
    {AT(16, 2), FIELD(crc_for_amr_payload), 1, 0},
    {AT(16, 3), FIELD(g729eg_rate_selection), 1, 0},
    {AT(16, 4), FIELD(cdma_rate_change), 1, 0},
    {AT(16, 5), FIELD(amr_wb_speedrate_table), 4, 0},
    {AT(17, 1), FIELD(crc_for_amr_wb_payload), 1, 0},
    {AT(17, 2), FIELD(transcode_mode), 1, 0},
};
} // namespace

// FC_VOIP_DTMFOPT (0x8002), record csmchan_voip_dtmfopt; class 2, type 0, length 10
namespace csmchan_voip_dtmfopt_layout {
using T = csmchan_voip_dtmfopt;
const csm_field rows[] = {
    {AT(8, 0), FIELD(dtmf_in_voice), 1, 0},
    {AT(8, 1), FIELD(dtmf_in_rtp), 1, 0},
    {AT(8, 2), FIELD(dtmf_in_rtp_redundancy_scheme), 1, 0},
    {AT(8, 3), FIELD(dtmf_removal_delay), 1, 0},
    {AT(8, 4), FIELD(rfc2833_tone_regeneration), 1, 0},
    {AT(8, 5), FIELD(rfc2833_event_report_to_host), 1, 0},
    {AT(8, 6), FIELD(rfc2833_packet_payload_format), 1, 0},
    {AT(8, 7), FIELD(enable_silence_voice_packet), 1, 0},
    {AT(9, 0), FIELD(ssrc_change_processing), 1, 0},
};
} // namespace

// FC_FAX_OPTIONS (0x8003), record csmchan_fax_options; class 2, type 0, length 12
namespace csmchan_fax_options_layout {
using T = csmchan_fax_options;
const csm_field rows[] = {
    {AT(8, 0), FIELD(tcf_procedure), 1, 0},
    {AT(8, 1), FIELD(error_recovery_method), 1, 0},
    {AT(8, 3), FIELD(speed_limit), 3, 0},
    {AT(9, 0), FIELD(udptl_redundancy_count_t30), 3, 3},
    {AT(9, 3), FIELD(udptl_redundancy_count_fax_page_data), 2, 0},
    {AT(9, 5), FIELD(ecm_disable), 1, 0},
    {AT(9, 6), FIELD(t38_packet_loss_concealment), 2, 0},
    {AT(11, 0), FIELD(transmit_small_t4_ecm_messages), 1, 0},
};
} // namespace

// FC_VOIP_DGAIN (0x8005), record csmchan_voip_dgain; class 2, type 0, length 12
namespace csmchan_voip_dgain_layout {
using T = csmchan_voip_dgain;
const csm_field rows[] = {
    {LE(8), FIELD(dgain_packet_to_pcm), 16, 0},
    {LE(10), FIELD(dgain_pcm_to_packet), 16, 0},
};
} // namespace

// FC_VOIP_ECHOCAN (0x8006), record csmchan_voip_echocan; class 2, type 0, length 10
namespace csmchan_voip_echocan_layout {
using T = csmchan_voip_echocan;
const csm_field rows[] = {
    {AT(8, 0), FIELD(network_echo_canceller_tail_length), 4, 0xF},
    {PIECES(P(8, 4, 0, 1), P(8, 7, 1, 1)), FIELD(nlp_tune_field), 2, 0},
    {AT(8, 6), FIELD(comfort_noise_generation_disable), 1, 0},
    {AT(9, 2), FIELD(nlp_control), 1, 0},
    {AT(9, 3), FIELD(hardware_echo_canceller_coefficient_freeze), 1, 0},
    {AT(9, 4), FIELD(initialization_request), 1, 1},
    {AT(9, 5), FIELD(g168_ec_initialization), 1, 0},
    {AT(9, 6), FIELD(dc_removal_filter_disable), 1, 0},
    {AT(9, 7), FIELD(master_echo_canceller_enable), 1, 1},
};
} // namespace

// FC_VOIP_TONEGEN (0x8009), record csmchan_voip_tonegen; class 2, type 0, length 72
namespace csmchan_voip_tonegen_layout {
using T = csmchan_voip_tonegen;
const csm_field rows[] = {
    {PIECES(P(8, 0, 0, 16)), FIELD(tone_direction), 32, 1},  // (low 16 bits)
    {AT(8, 1), FIELD(timestamp_control), 1, 0},
    {AT(8, 3), FIELD(protected_generation), 1, 0},
    {AT(8, 4), FIELD(audio_mixing_mode_tone_on), 1, 0},
    {AT(8, 5), FIELD(audio_mixing_mode_tone_off), 1, 0},
    {AT(9, 0), FIELD(cadence_repeat), 8, 0xFF},
    {LE(10), FIELD(start_timestamp), 32, 0},
    {LE(14), FIELD(limit_timestamp), 32, 0},
    {LE(24), FIELD(primary_frequency_c1), 16, 0x1B8},
    {LE(26), FIELD(primary_level_c1), 16, 0x64},
    {LE(28), FIELD(secondary_frequency_c1), 16, 0x1B8},
    {LE(30), FIELD(secondary_level_c1), 16, 0x64},
    {LE(32), FIELD(on_time_c1), 16, 0},
    {LE(34), FIELD(off_time_c1), 16, 0},
    {LE(40), FIELD(primary_frequency_c2), 16, 0x1B8},
    {LE(42), FIELD(primary_level_c2), 16, 0x64},
    {LE(44), FIELD(secondary_frequency_c2), 16, 0x1B8},
    {LE(46), FIELD(secondary_level_c2), 16, 0x64},
    {LE(48), FIELD(on_time_c2), 16, 0},
    {LE(50), FIELD(off_time_c2), 16, 0},
    {LE(56), FIELD(primary_frequency_c3), 16, 0x1B8},
    {LE(58), FIELD(primary_level_c3), 16, 0x64},
    {LE(60), FIELD(secondary_frequency_c3), 16, 0x1B8},
    {LE(62), FIELD(secondary_level_c3), 16, 0x64},
    {LE(64), FIELD(on_time_c3), 16, 0},
    {LE(66), FIELD(off_time_c3), 16, 0},
};
} // namespace

// FC_VOIP_TONEOFF (0x8014), record csmchan_voip_toneoff; class 2, type 0, length 12
namespace csmchan_voip_toneoff_layout {
using T = csmchan_voip_toneoff;
const csm_field rows[] = {
    {LE(8), FIELD(tone_off), 16, 0},
    {LE(10), FIELD(tone_direction), 16, 0},
};
} // namespace

// FC_VOIP_PTMNG (0x8018), record csmchan_voip_ptmng; class 2, type 0, length 56
namespace csmchan_voip_ptmng_layout {
using T = csmchan_voip_ptmng;
const csm_field rows[] = {
    {AT(8, 0), FIELD(comfort_noise), 8, 0xD},
    {AT(9, 0), FIELD(redundant_dtmf), 8, 0xFF},
    {AT(10, 0), FIELD(dtmf), 8, 0xFF},
    {AT(11, 0), FIELD(t38), 8, 0xFF},
    {AT(12, 0), FIELD(g711u), 8, 0},
    {AT(13, 0), FIELD(g711a), 8, 8},
    {AT(14, 0), FIELD(g723_1), 8, 4},
    {AT(15, 0), FIELD(g728), 8, 0xF},
    {AT(16, 0), FIELD(g729a), 8, 0x12},
    {AT(17, 0), FIELD(g726_32), 8, 2},
    {AT(18, 0), FIELD(reserved1), 8, 0xFF},
    {AT(19, 0), FIELD(gsm_fr), 8, 3},
    {AT(20, 0), FIELD(clear_channel), 8, 0xFF},
    {AT(21, 0), FIELD(pass_thru_ulaw), 8, 0xFF},
    {AT(22, 0), FIELD(pass_thru_alaw), 8, 0xFF},
    {AT(23, 0), FIELD(g726_16), 8, 0xFF},
    {AT(24, 0), FIELD(g726_24), 8, 0xFF},
    {AT(25, 0), FIELD(g726_40), 8, 0xFF},
    {AT(26, 0), FIELD(gsm_efr), 8, 0xFF},
    {AT(27, 0), FIELD(amr), 8, 0xFF},
    {AT(28, 0), FIELD(evrc), 8, 0xFF},
    {AT(29, 0), FIELD(cnf_sec), 8, 0xFF},
    {AT(30, 0), FIELD(reserved2), 8, 0xFF},
    {AT(31, 0), FIELD(qcelp_13k), 8, 0xFF},
    {AT(32, 0), FIELD(qcelp_8k), 8, 0xFF},
    {AT(33, 0), FIELD(adpcm), 8, 0xFF},
    {AT(34, 0), FIELD(g729eg), 8, 0xFF},
    {AT(35, 0), FIELD(fec), 8, 0xFF},
    {AT(36, 0), FIELD(ilbc_1520k), 8, 0xFF},
    {AT(37, 0), FIELD(ilbc_1333k), 8, 0xFF},
    {AT(38, 0), FIELD(rfc2833_event), 8, 0xFF},
    {AT(39, 0), FIELD(gsm_amr_bwe), 8, 0xFF},
    {AT(40, 0), FIELD(evrc_b), 8, 0xFF},
    {AT(41, 0), FIELD(rfc2833_tone), 8, 0xFF},
    {AT(42, 0), FIELD(amr_wb), 8, 0xFF},
    {AT(43, 0), FIELD(g729_mspd), 8, 0xFF},
    {AT(44, 0), FIELD(cesopsn), 8, 0xFF},
    {AT(45, 0), FIELD(gsm_hr), 8, 0xFF},
    {AT(46, 0), FIELD(csd_bs30t_64k), 8, 0xFF},
    {AT(47, 0), FIELD(csd_bs30t_32k), 8, 0xFF},
    {AT(48, 0), FIELD(csd_bs30t_33k6), 8, 0xFF},
    {AT(49, 0), FIELD(csd_bs30t_28k8), 8, 0xFF},
    {AT(50, 0), FIELD(csd_bs20nt_57k6), 8, 0xFF},
    {AT(51, 0), FIELD(csd_bs20nt_28k8), 8, 0xFF},
    {AT(52, 0), FIELD(csd_bs20nt_14k4), 8, 0xFF},
    {AT(53, 0), FIELD(g729_1), 8, 0xFF},
    {AT(54, 0), FIELD(amr_wb_byte_aligned), 8, 0xFF},
    {AT(55, 0), FIELD(ccisoip), 8, 0xFF},
};
} // namespace

// FC_VOIP_SENDNTE (0x801E), record csmchan_voip_sendnte; class 2, type 0, length 24
namespace csmchan_voip_sendnte_layout {
using T = csmchan_voip_sendnte;
const csm_field rows[] = {
    {AT(8, 0), FIELD(nte_payload_event), 8, 0},
    {AT(9, 0), FIELD(nte_payload_volume), 6, 0xB},
    {AT(9, 6), FIELD(nte_payload_r_flag), 1, 0},
    {AT(9, 7), FIELD(nte_payload_e_flag), 1, 0},
    {BE(10), FIELD(nte_payload_duration), 16, 0x118},
    {AT(12, 0), FIELD(override_redundancy), 1, 0},
    {AT(12, 1), FIELD(override_red_interval), 1, 0},
    {AT(12, 2), FIELD(override_ssrc), 1, 0},
    {AT(12, 3), FIELD(override_payload_type), 1, 0},
    {AT(12, 4), FIELD(override_default_redundancy), 3, 0},
    {AT(12, 7), FIELD(override_single_nte), 1, 0},
    {AT(13, 0), FIELD(override_start_event), 1, 0},
    {AT(13, 1), FIELD(override_stop_event), 1, 0},
    {LE(14), FIELD(redundancy_interval_time), 16, 0},
    {LE(16), FIELD(ssrc_high), 16, 0},
    {LE(18), FIELD(ssrc_low), 16, 0},
    {LE(20), FIELD(payload_type), 16, 0},
    {LE(22), FIELD(guard_timer), 16, 0x1F40},
};
} // namespace

// FC_VOIP_DTMFDPAR (0x8021), record csmchan_voip_dtmfdpar; class 2, type 0, length 22
namespace csmchan_voip_dtmfdpar_layout {
using T = csmchan_voip_dtmfdpar;
const csm_field rows[] = {
    {LE(8), FIELD(minimum_valid_tone_on_time), 16, 0x1E},
    {LE(10), FIELD(minimum_valid_tone_off_time), 16, 0x23},
    {LE(12), FIELD(minimum_valid_tone_dropout_time), 16, 0x14},
    {LE(14), FIELD(anti_tapping_digit_detection), 16, 0},
    {LE(16), FIELD(minimum_anti_tapping_valid_tone_on_time), 16, 0},
    {LE(18), FIELD(minimum_anti_tapping_valid_tone_off_time), 16, 0},
    {LE(20), FIELD(maximum_anti_tapping_valid_tone_dropout_time), 16, 0},
};
} // namespace

// FC_VOIP_DTMFTUNE (0x8034), record csmchan_voip_dtmftune; class 2, type 0, length 20
namespace csmchan_voip_dtmftune_layout {
using T = csmchan_voip_dtmftune;
const csm_field rows[] = {
    {LE(8), FIELD(frequency_deviation), 16, 0x12},
    {LE(10), FIELD(negative_twist), 16, 0x50},
    {LE(12), FIELD(positive_twist), 16, 0x28},
    {LE(14), FIELD(minimum_level_threshold), 16, 0x140},
    {LE(16), FIELD(snr_threshold_adjustment), 16, 0},
    {LE(18), FIELD(dtmf_control), 16, 6},
};
} // namespace

// FC_VOIP_CNTRYCODE (0x805A), record csmchan_voip_cntrycode; class 2, type 0, length 18
namespace csmchan_voip_cntrycode_layout {
using T = csmchan_voip_cntrycode;
const csm_field rows[] = {
    {LE(8), FIELD(tone1_country_code), 16, 0xD},
    {LE(10), FIELD(tone2_country_code), 16, 0xD},
    {LE(12), FIELD(tone3_country_code), 16, 0xD},
    {LE(14), FIELD(tone4_country_code), 16, 0xD},
    {LE(16), FIELD(filter_country_code), 16, 0xD},
};
} // namespace

// FC_VOIP_TONECTRL (0x805B), record csmchan_voip_tonectrl; class 2, type 0, length 10
namespace csmchan_voip_tonectrl_layout {
using T = csmchan_voip_tonectrl;
const csm_field rows[] = {
    {AT(8, 0), FIELD(dtmf_detection_indication), 1, 0},
    {AT(8, 1), FIELD(t38_affected_tone_detection_indication), 1, 0},
    {AT(8, 2), FIELD(modem_passthrough_affected_tone_detection_indication), 1, 0},
    {AT(8, 3), FIELD(v8_bis_cre_tone_detector_control), 1, 0},
    {AT(8, 4), FIELD(fax_calling_tone_detector_control), 1, 0},
    {AT(8, 5), FIELD(answer_tone_notch_filter_control), 1, 0},
    {AT(8, 6), FIELD(bandpass_filter_call_progress_tone_indication), 1, 0},
    {AT(8, 7), FIELD(notch_filter_control_2002_hz), 1, 0},
    {AT(9, 0), FIELD(pre_standard_auto_ec_off), 1, 0},
    {AT(9, 1), FIELD(bell_ans_detection), 1, 0},
    {AT(9, 3), FIELD(bandpass_filter_call_progress_tone_detection), 1, 0},
    {AT(9, 4), FIELD(fft_based_call_progress_tone_detection_eventdet), 1, 0},
    {AT(9, 5), FIELD(fft_based_call_progress_tone_detection_tonedet), 1, 0},
    {AT(9, 6), FIELD(tdm_side_programmable_tone_detection_control), 1, 0},
    {AT(9, 7), FIELD(v8_ansam_detection), 1, 0},
};
} // namespace

// FC_VOIP_SIGDET (0x805D), record csmchan_voip_sigdet; class 2, type 0, length 10
namespace csmchan_voip_sigdet_layout {
using T = csmchan_voip_sigdet;
const csm_field rows[] = {
    {AT(9, 3), FIELD(inband_tone_detection_select), 3, 0},
};
} // namespace

// FC_VOIP_TONEOPT (0x806C), record csmchan_voip_toneopt; class 2, type 0, length 10
namespace csmchan_voip_toneopt_layout {
using T = csmchan_voip_toneopt;
const csm_field rows[] = {
    {AT(8, 1), FIELD(confirmed_2100Hz_answer_tone_detection_control), 1, 0},
    {AT(8, 2), FIELD(ansam_2100Hz_answer_tone_detection_control), 1, 0},
    {AT(8, 3), FIELD(phase_reversal_2100Hz_answer_tone_detection_control), 1, 0},
    {AT(8, 4), FIELD(answer_tone_detection_control_2225Hz), 1, 0},
    {AT(8, 6), FIELD(programmable_tone_detector_control), 1, 0},
};
} // namespace

// FC_VOIP_INDCTRL (0x8084), record csmchan_voip_indctrl; class 2, type 0, length 12
namespace csmchan_voip_indctrl_layout {
using T = csmchan_voip_indctrl;
const csm_field rows[] = {
    {AT(8, 0), FIELD(ptchng_message_disable), 1, 0},
    {AT(8, 1), FIELD(ssrcchg_message_disable), 1, 0},
    {AT(8, 2), FIELD(ssrcviol_message_disable), 1, 0},
    {AT(8, 3), FIELD(intvchng_feature_disable), 1, 1},
    {AT(8, 4), FIELD(dtmf_tonedet_detection_disable), 1, 0},
    {AT(8, 5), FIELD(dtmf_eventdet_detection_disable), 1, 0},
    {AT(8, 6), FIELD(inband_dtmf_detection_disable), 1, 0},
    {AT(8, 7), FIELD(rfc2833_dtmf_detection_disable), 1, 0},
    {LE(10), FIELD(periodic_ptchng_indication_time), 16, 0},
};
} // namespace

// FC_VOIP_JBOPT (0x8090), record csmchan_voip_jbopt; class 2, type 0, length 20
namespace csmchan_voip_jbopt_layout {
using T = csmchan_voip_jbopt;
const csm_field rows[] = {
    {LE(8), FIELD(delay_min), 16, 0},
    {LE(10), FIELD(delay_max), 16, 0xC8},
    {LE(12), FIELD(delay_init), 16, 0},
    {LE(14), FIELD(adaption_period), 16, 0x2710},
    {AT(16, 0), FIELD(deletion_mode_mode), 1, 0},
    {AT(16, 3), FIELD(deletion_mode_adjust), 1, 0},
    {LE(18), FIELD(deletion_threshold), 16, 0x1F4},
};
} // namespace

// FC_VOIP_MFTUNE (0x809A), record csmchan_voip_mftune; class 2, type 0, length 22
namespace csmchan_voip_mftune_layout {
using T = csmchan_voip_mftune;
const csm_field rows[] = {
    {LE(8), FIELD(frequency_deviation), 16, 0x12},
    {LE(10), FIELD(negative_twist), 16, 0x50},
    {LE(12), FIELD(positive_twist), 16, 0x28},
    {LE(14), FIELD(minimum_level_threshold), 16, 0x15E},
    {LE(16), FIELD(snr_threshold_adjustment), 16, 0},
    {LE(18), FIELD(mf_control), 16, 2},
    {LE(20), FIELD(mf_selector), 16, 0},
};
} // namespace

// FC_VOIP_RTCP_ENA (0x80A0), record csmchan_voip_rtcp_ena; class 2, type 0, length 10
namespace csmchan_voip_rtcp_ena_layout {
using T = csmchan_voip_rtcp_ena;
const csm_field rows[] = {
    {AT(8, 0), FIELD(rtcp_control), 1, 0},
    {AT(8, 1), FIELD(rtcp_received_packets_indication_control), 1, 0},
    {AT(8, 2), FIELD(rtcp_extended_statistics_control), 1, 0},
    {AT(8, 3), FIELD(rtcp_extended_response), 1, 0},
    {AT(8, 4), FIELD(rtcp_xr_received_packet_indication_control), 1, 0},
    {AT(8, 5), FIELD(rtcp_extended_response_2nd), 1, 0},
    {AT(8, 6), FIELD(rtcp_transmitted_packet_indication_control), 1, 0},
    {AT(8, 7), FIELD(rtcp_statistics_aggregation), 1, 0},
    {AT(9, 0), FIELD(rtcp_xr_jitter_block), 1, 0},
    {AT(9, 1), FIELD(include_received_packet_count), 1, 1},
};
} // namespace

// FC_CNDDETCTL (0x80B1), record csmchan_cnddetctl; class 2, type 0, length 10
namespace csmchan_cnddetctl_layout {
using T = csmchan_cnddetctl;
const csm_field rows[] = {
    {AT(8, 0), FIELD(caller_id_detection_feature_enable), 1, 1},
    {AT(8, 1), FIELD(hook_status), 1, 1},
};
} // namespace

// FC_SET_TEST_MODE (0x80B9), record csmchan_set_test_mode; class 2, type 0, length 14
namespace csmchan_set_test_mode_layout {
using T = csmchan_set_test_mode;
const csm_field rows[] = {
    {AT(8, 0), FIELD(test_pattern_generation_verification), 2, 3},
    {AT(8, 2), FIELD(interface), 2, 0},
    {AT(8, 4), FIELD(test_type), 1, 1},
    {AT(8, 5), FIELD(report_bert_transitions), 1, 0},
    {AT(10, 0), FIELD(test_pattern), 8, 0x55},
    {AT(12, 0), FIELD(num_of_contiguous_good_bits_to_cause_lock), 15, 1},
};
} // namespace

// FC_CIPHER_SRTP_OPT (0x8200), record csmchan_cipher_srtp_opt; class 2, type 0, length 18
namespace csmchan_cipher_srtp_opt_layout {
using T = csmchan_cipher_srtp_opt;
const csm_field rows[] = {
    {AT(8, 0), FIELD(lifetime_master_key_enable), 1, 0},
    {AT(8, 1), FIELD(authentication), 3, 1},
    {AT(8, 4), FIELD(encryption), 3, 1},
    {AT(8, 7), FIELD(key_material), 3, 0},
    {AT(9, 2), FIELD(direction_configuration), 2, 2},
    {AT(9, 4), FIELD(layer), 2, 2},
    {AT(9, 6), FIELD(ssrc_byte_order), 1, 0},
    {AT(9, 7), FIELD(enable_srtp), 1, 1},
    {AT(10, 0), FIELD(encryption_session_key_size), 2, 0},
    {AT(10, 2), FIELD(master_key_size), 2, 0},
    {AT(10, 4), FIELD(master_key_identifier_size), 4, 0},
    {AT(11, 0), FIELD(key_derivation_rate), 5, 0},
    {AT(12, 0), FIELD(master_salt_key_size), 9, 0x70},
    {AT(14, 0), FIELD(session_salt_key_size), 9, 0x70},
    {AT(16, 0), FIELD(authentication_prefix_size), 4, 0},
    {AT(16, 4), FIELD(authentication_tag_size), 5, 0xA},
    {AT(17, 1), FIELD(authentication_session_key_size), 7, 0x14},
};
} // namespace

// FC_CIPHER_SRTP_KEY_DERIVATION (0x8201), record csmchan_cipher_srtp_key_derivation; class 2, type 0, length 18
namespace csmchan_cipher_srtp_key_derivation_layout {
using T = csmchan_cipher_srtp_key_derivation;
const csm_field rows[] = {
    {AT(9, 2), FIELD(direction_configuration), 2, 0},
    {LE(10), FIELD(srtp_max_lifetime_bytes_5_and_4), 16, 0},
    {LE(12), FIELD(srtp_max_lifetime_bytes_3_and_2), 16, 0},
    {LE(14), FIELD(srtp_max_lifetime_bytes_1_and_0), 16, 0},
    {LE(16), FIELD(srtcp_max_lifetime_bytes_3_and_2), 16, 0},
    // The remaining words go out when the caller raises the length.
    {LE(18), FIELD(srtcp_max_lifetime_bytes_1_and_0), 16, 0},
    {LE(20), FIELD(from_index_bytes_5_and_4), 16, 0},
    {LE(22), FIELD(from_index_bytes_3_and_2), 16, 0},
    {LE(24), FIELD(from_index_bytes_1_and_0), 16, 0},
    {LE(26), FIELD(to_index_bytes_5_and_4), 16, 0},
    {LE(28), FIELD(to_index_bytes_3_and_2), 16, 0},
    {LE(30), FIELD(to_index_bytes_1_and_0), 16, 0},
};
} // namespace

// FC_SET_IP_HDR_CHANNEL (0x9000), record csmchan_set_ip_hdr_chan; class 2, type 0, length 38
namespace csmchan_set_ip_hdr_chan_layout {
using T = csmchan_set_ip_hdr_chan;
const csm_field rows[] = {
    {AT(8, 0), FIELD(ip_service_identifier), 8, 0},
    {AT(9, 0), FIELD(checksum), 1, 1},
    {AT(10, 0), FIELD(ihl), 4, 5},
    {AT(10, 4), FIELD(version), 4, 4},
    {AT(11, 0), FIELD(tos), 8, 0},
    {BE(12), FIELD(total_length), 16, 0},
    {BE(14), FIELD(identification), 16, 0},
    {BE(16), FIELD(fragmentation), 16, 0x4000},
    {BE(18), FIELD(ttl_protocol), 16, 0x8011},
    {BE(20), FIELD(header_checksum), 16, 0},
    {BE(22), FIELD(source_address_word_1), 16, 0xAABB, CSM_FMT_HEX4},
    {BE(24), FIELD(source_address_word_2), 16, 0xCCDD, CSM_FMT_HEX4},
    {BE(26), FIELD(destination_address_word_1), 16, 0x1234, CSM_FMT_HEX4},
    {BE(28), FIELD(destination_address_word_2), 16, 0x5678, CSM_FMT_HEX4},
    {BE(30), FIELD(udp_source_port), 16, 0x7D00},
    {BE(32), FIELD(udp_destination_port), 16, 0x7D01},
    {BE(34), FIELD(udp_length), 16, 0},
    {BE(36), FIELD(udp_checksum), 16, 0},
};
} // namespace

// FC_SET_ETH_HDR_CHAN (0x9010), record csmchan_set_eth_hdr_chan; class 2, type 0, length 24
namespace csmchan_set_eth_hdr_chan_layout {
using T = csmchan_set_eth_hdr_chan;
const csm_field rows[] = {
    {AT(8, 0), FIELD(protocol_identifier), 1, 1},
    {PIECES(P(9, 7, 0, 1)), FIELD(register_protocol), 2, 0},  // (bit 0 of the 2-bit field only)
    {BE(10), FIELD(destination_mac_word1), 16, 0xFFEE, CSM_FMT_HEX4},
    {BE(12), FIELD(destination_mac_word2), 16, 0xDDCC, CSM_FMT_HEX4},
    {BE(14), FIELD(destination_mac_word3), 16, 0xBBAA, CSM_FMT_HEX4},
    {BE(16), FIELD(comcerto_mac_word1), 16, 0x6655, CSM_FMT_HEX4},
    {BE(18), FIELD(comcerto_mac_word2), 16, 0x4433, CSM_FMT_HEX4},
    {BE(20), FIELD(comcerto_mac_word3), 16, 0x2211, CSM_FMT_HEX4},
    {BE(22), FIELD(assigned_packet_type), 16, 0x800},
};
} // namespace

// FC_IPDTMF_CTRL (0x9040), record csmchan_ipdtmf_ctrl; class 2, type 0, length 12
namespace csmchan_ipdtmf_ctrl_layout {
using T = csmchan_ipdtmf_ctrl;
const csm_field rows[] = {
    {AT(8, 0), FIELD(dtmf_removal_delay), 1, 1},
    {AT(8, 1), FIELD(enable_inband_dtmf_removal), 1, 0},
    {AT(8, 2), FIELD(enable_inband_dtmf_detection), 1, 0},
    {AT(8, 3), FIELD(rfc_2833_events_mode), 1, 0},
};
} // namespace

// FC_THC_REDIRECT_RX (0x9200), record csmchan_thc_redirect_rx; class 2, type 0, length 12
namespace csmchan_thc_redirect_rx_layout {
using T = csmchan_thc_redirect_rx;
const csm_field rows[] = {
    {LE(8), FIELD(peer_timeslot), 16, 0xFFFF},
};
} // namespace

// FC_THC_MODE_ENABLE (0x9201), record csmchan_thc_mode_enable; class 2, type 0, length 12
namespace csmchan_thc_mode_enable_layout {
using T = csmchan_thc_mode_enable;
const csm_field rows[] = {
    {LE(8), FIELD(tx_attenuation), 16, 0},
};
} // namespace

// FC_CONF_CREATE_PARTICIPANT (0x9312), record csmdev_conf_create_participant; class 6, type 0, length 14
namespace csmdev_conf_create_participant_layout {
using T = csmdev_conf_create_participant;
const csm_field rows[] = {
    {LE(8), FIELD(type_of_participant), 16, 0},
    {LE(10), FIELD(timeslot), 16, 0},
    {LE(12), FIELD(conference_id), 16, 0},
};
} // namespace

// FC_TRANS_CONNECT (0x9322), record csmdev_trans_connect; class 6, type 0, length 18
namespace csmdev_trans_connect_layout {
using T = csmdev_trans_connect;
const csm_field rows[] = {
    {AT(8, 0), FIELD(transcoding_session_enable), 1, 1},
    {AT(8, 2), FIELD(dsp_bypass_mode), 1, 0},
    {AT(8, 3), FIELD(reduced_virtual_transcoding_latency), 1, 0},
    {LE(10), FIELD(transcoding_channel_id_a), 16, 0},
    {LE(12), FIELD(transcoding_channel_payload_type_a), 16, 0},
    {LE(14), FIELD(transcoding_channel_id_b), 16, 0},
    {LE(16), FIELD(transcoding_channel_payload_type_b), 16, 0},
};
} // namespace

// FC_MDIO_BUS_WRITE (0x9330), record csmdev_mdio_bus_write; class 6, type 0, length 16
namespace csmdev_mdio_bus_write_layout {
using T = csmdev_mdio_bus_write;
const csm_field rows[] = {
    {AT(8, 0), FIELD(preamble_suppress), 1, 0},
    {AT(9, 0), FIELD(emac_number), 8, 1},
    {LE(10), FIELD(target_mmd_device_address), 16, 1},
    {LE(12), FIELD(target_register_address), 16, 1},
    {LE(14), FIELD(data_to_be_written), 16, 1},
};
} // namespace

// FC_MDIO_BUS_READ (0x9331), record csmdev_mdio_bus_read; class 6, type 0, length 16
namespace csmdev_mdio_bus_read_layout {
using T = csmdev_mdio_bus_read;
const csm_field rows[] = {
    {AT(8, 0), FIELD(preamble_suppress), 1, 0},
    {AT(9, 0), FIELD(emac_number), 8, 1},
    {LE(10), FIELD(target_mmd_device_address), 16, 1},
    {LE(12), FIELD(target_register_address), 16, 1},
};
} // namespace

// FC_MDIO_START_AUTODECT (0x9332), record csmdev_mdio_start_autodetect; class 6, type 0, length 16
namespace csmdev_mdio_start_autodetect_layout {
using T = csmdev_mdio_start_autodetect;
const csm_field rows[] = {
    {LE(8), FIELD(emac_number), 16, 1},
    {LE(10), FIELD(mdio_bus_number), 16, 1},
    {LE(12), FIELD(target_device_address), 16, 1},
    {AT(14, 0), FIELD(enable_indication), 1, 1},
};
} // namespace

// FC_MDIO_SET_FREQ (0x9334), record csmdev_mdio_set_freq; class 6, type 0, length 12
namespace csmdev_mdio_set_freq_layout {
using T = csmdev_mdio_set_freq;
const csm_field rows[] = {
    {AT(8, 0), FIELD(mdio_bus_number), 8, 0},
    {LE(10), FIELD(mdio_max_frequency), 16, 0},
};
} // namespace

// FC_HTDMENA (0x9351), record csmchan_htdmena; class 2, type 0, length 10
namespace csmchan_htdmena_layout {
using T = csmchan_htdmena;
const csm_field rows[] = {
    {LE(8), FIELD(enable_hdlc_over_tdm_channel), 16, 1},
};
} // namespace

// REDIRECT_OVER_IP_UDP (0x0004), record csmdev_redirect_over_ip_udp; class 194, type 120, length 52
namespace csmdev_redirect_over_ip_udp_layout {
using T = csmdev_redirect_over_ip_udp;
const csm_field rows[] = {
    {LE(8), FIELD(client_identifier), 16, 0},
    {BE(10), FIELD(destination_mac.part1), 16, 0xAABB, CSM_FMT_HEX4},
    {BE(12), FIELD(destination_mac.part2), 16, 0xEEFF, CSM_FMT_HEX4},
    {BE(14), FIELD(destination_mac.part3), 16, 0xCCDD, CSM_FMT_HEX4},
    {BE(16), FIELD(source_mac.part1), 16, 0x1122, CSM_FMT_HEX4},
    {BE(18), FIELD(source_mac.part2), 16, 0x5566, CSM_FMT_HEX4},
    {BE(20), FIELD(source_mac.part3), 16, 0x3344, CSM_FMT_HEX4},
    {BE(22), FIELD(packet_type), 16, 0x800},
    {BE(24), FIELD(assigned_ip_header.version), 16, 0x4500},
    {BE(26), FIELD(assigned_ip_header.total_length), 16, 0},
    {BE(28), FIELD(assigned_ip_header.identification), 16, 0},
    {BE(30), FIELD(assigned_ip_header.fragmentation), 16, 0x4000},
    {BE(32), FIELD(assigned_ip_header.protocol), 16, 0x8011},
    {BE(34), FIELD(assigned_ip_header.checksum), 16, 0},
    {BE(36), FIELD(source_ip.part1), 16, 0xAABB, CSM_FMT_HEX4},
    {BE(38), FIELD(source_ip.part2), 16, 0xCCDD, CSM_FMT_HEX4},
    {BE(40), FIELD(destination_ip.part1), 16, 0x1122, CSM_FMT_HEX4},
    {BE(42), FIELD(destination_ip.part2), 16, 0x3344, CSM_FMT_HEX4},
    {BE(44), FIELD(assigned_udp_header.source_port), 16, 0x3275},
    {BE(46), FIELD(assigned_udp_header.destination_port), 16, 0x3075},
    {BE(48), FIELD(assigned_udp_header.length), 16, 0},
    {BE(50), FIELD(assigned_udp_header.checksum), 16, 0},
};
} // namespace

// DIAG (diag), record csmdev_set_unified_diag; class 194, type 116, length 10
namespace csmdev_set_unified_diag_layout {
using T = csmdev_set_unified_diag;
const csm_field rows[] = {
    {LE(8), FIELD(set_diagnostic), 16, 0},
};
} // namespace

// FC_SET_UNICAST_MAC_ADDR (0x0113), record csmdev_set_unicast_mac_addr; class 6, type 0, length 16
namespace csmdev_set_unicast_mac_addr_layout {
using T = csmdev_set_unicast_mac_addr;
const csm_field rows[] = {
    {LE(8), FIELD(address_config), 16, 1},
    {LE(10), FIELD(bytes_01), 16, 0, CSM_FMT_HEX4},
    {LE(12), FIELD(bytes_23), 16, 0, CSM_FMT_HEX4},
    {LE(14), FIELD(bytes_45), 16, 0, CSM_FMT_HEX4},
};
} // namespace

// FC_ICMP_SERVICE_CONFIG (0x0304), record csmdev_icmp_service_config; class 6, type 0,
// length 0: refused as it stands, the fields go out once a caller sets a length.
namespace csmdev_icmp_service_config_layout {
using T = csmdev_icmp_service_config;
const csm_field rows[] = {
    {AT(8, 0), FIELD(ttl_of_destination_unreachable_packets), 8, 0xFF},
    {AT(9, 0), FIELD(icmp_echo_reply), 1, 1},
};
} // namespace

// FC_VOIP_NTENERGY_SET (0x802E), record csmchan_voip_ntenergy_set; class 2, type 0, length 12
namespace csmchan_voip_ntenergy_set_layout {
using T = csmchan_voip_ntenergy_set;
const csm_field rows[] = {
    {AT(8, 0), FIELD(energy_detector_minimum_level), 9, 220},
    {AT(9, 7), FIELD(non_tonal_energy_detector_disable), 1, 0},
    {AT(10, 0), FIELD(tone_detector_minimum_snr), 8, 100},
    {AT(11, 0), FIELD(tone_measurement_period), 8, 40},
};
} // namespace

// FC_CND_ONHOOK_GEN (0x8039), record csmchan_cnd_onhook_gen; class 2, type 0, length 8;
// msg_byte follows from byte 10 up to the length.
namespace csmchan_cnd_onhook_gen_layout {
using T = csmchan_cnd_onhook_gen;
const csm_field rows[] = {
    {AT(8, 0), FIELD(modulation_type), 8, 0},
    {AT(9, 0), FIELD(msg_type_id), 8, 0},
};
} // namespace

// FC_CND_SET_PARAMS (0x803A), record csmchan_cnd_set_params; class 2, type 0, length 8;
// info_param_byte follows from byte 10 up to the length.
namespace csmchan_cnd_set_params_layout {
using T = csmchan_cnd_set_params;
const csm_field rows[] = {
    {AT(8, 0), FIELD(info_type), 8, 0},
    {AT(9, 0), FIELD(info_count), 8, 0},
};
} // namespace

// FC_CIPHER_AES_OPT (0x8046), record csmchan_cipher_aes_opt; class 2, type 0, length 10;
// key_array follows from byte 10 up to the length.
namespace csmchan_cipher_aes_opt_layout {
using T = csmchan_cipher_aes_opt;
const csm_field rows[] = {
    {LE(8), FIELD(enable_aes), 16, 1},
};
} // namespace

// FC_VOIP_PROGRAM_TONE_ENGINE (0x806E), record csmchan_voip_program_tone_engine; class 2,
// type 0, length 10 + 18 per tone; the tones follow from byte 10, nine words each.
namespace csmchan_voip_program_tone_engine_layout {
using T = csmchan_voip_program_tone_engine;
const csm_field rows[] = {
    {LE(8), FIELD(number_of_tones), 16, 0},
};
} // namespace

// One tone of the tone engine, from the start of its nine words.
namespace tone_description_layout {
using T = tone_description;
const csm_field rows[] = {
    {LE(0), FIELD(tone_freq1), 16, 0},
    {LE(2), FIELD(tone_level1), 16, 0},
    {LE(4), FIELD(tone_freq2), 16, 0},
    {LE(6), FIELD(tone_level2), 16, 0},
    {LE(8), FIELD(tone_freq3), 16, 0},
    {LE(10), FIELD(tone_level3), 16, 0},
    {LE(12), FIELD(tone_freq4), 16, 0},
    {LE(14), FIELD(tone_level4), 16, 0},
    {LE(16), FIELD(sum_or_multiply_flag), 16, 0},
};
} // namespace

// FC_EC_CONTROL (0x8091), record csmchan_ec_control; class 2, type 0, length 10
namespace csmchan_ec_control_layout {
using T = csmchan_ec_control;
const csm_field rows[] = {
    {LE(8), FIELD(ec_window_size), 16, 5},
};
} // namespace

// FC_VOIP_MFDPAR (0x809B), record csmchan_voip_mfdpar; class 2, type 0, length 16
namespace csmchan_voip_mfdpar_layout {
using T = csmchan_voip_mfdpar;
const csm_field rows[] = {
    {LE(8), FIELD(minimum_valid_tone_on_time), 16, 35},
    {LE(10), FIELD(minimum_valid_tone_off_time), 16, 35},
    {LE(12), FIELD(minimum_valid_tone_dropout_time), 16, 35},
};
} // namespace

// FC_CONF_DESTROY_CONFERENCE (0x9311), record csmdev_conf_destroy_conference; class 6, type 0, length 10
namespace csmdev_conf_destroy_conference_layout {
using T = csmdev_conf_destroy_conference;
const csm_field rows[] = {
    {LE(8), FIELD(conference_id), 16, 0},
};
} // namespace

// FC_CONF_DESTROY_PARTICIPANT (0x9313), record csmdev_conf_destroy_participant; class 6, type 0, length 12
namespace csmdev_conf_destroy_participant_layout {
using T = csmdev_conf_destroy_participant;
const csm_field rows[] = {
    {LE(8), FIELD(participant_id), 16, 0},
    {LE(10), FIELD(conference_id), 16, 0},
};
} // namespace

// FC_CONF_MUTE_PARTICIPANT (0x9314), record csmdev_conf_mute_participant; class 6, type 0, length 14
namespace csmdev_conf_mute_participant_layout {
using T = csmdev_conf_mute_participant;
const csm_field rows[] = {
    {LE(8), FIELD(participant_id), 16, 0},
    {LE(10), FIELD(conference_id), 16, 0},
};
} // namespace

// FC_CONF_PUT_PARTICIPANT_ON_HOLD (0x9315), record csmdev_conf_put_participant_on_hold; class 6,
// type 0, length 16
namespace csmdev_conf_put_participant_on_hold_layout {
using T = csmdev_conf_put_participant_on_hold;
const csm_field rows[] = {
    {LE(8), FIELD(participant_id), 16, 0},
    {LE(10), FIELD(conference_id), 16, 0},
};
} // namespace

// FC_HTDMOPT (0x9350), record csmchan_htdmopt; class 2, type 0, length 14
namespace csmchan_htdmopt_layout {
using T = csmchan_htdmopt;
const csm_field rows[] = {
    {AT(8, 0), FIELD(hdlc_receive_mode), 1, 1},
    {AT(8, 1), FIELD(hdlc_transmit_mode), 1, 1},
    {AT(8, 2), FIELD(tx_crc_enable), 1, 1},
    {LE(10), FIELD(number_of_tdm_timeslots_for_channel), 16, 1},
    {LE(12), FIELD(maximum_packet_length), 16, 256},
};
} // namespace

// FC_MEDIAFORKING_SET_UDPIP_HDR (0x9361), record csmchan_mediaforking_set_udpip_hdr; class 2,
// type 0, length 38: the channel IP header with stream_fork in place of the service
// identifier and checksum flag.
namespace csmchan_mediaforking_set_udpip_hdr_layout {
using T = csmchan_mediaforking_set_udpip_hdr;
const csm_field rows[] = {
    {AT(8, 0), FIELD(stream_fork), 1, 0},
    {AT(10, 0), FIELD(ihl), 4, 5},
    {AT(10, 4), FIELD(version), 4, 4},
    {AT(11, 0), FIELD(tos), 8, 0},
    {BE(12), FIELD(total_length), 16, 0},
    {BE(14), FIELD(identification), 16, 0},
    {BE(16), FIELD(fragmentation), 16, 0x4000},
    {BE(18), FIELD(ttl_protocol), 16, 0x8011},
    {BE(20), FIELD(header_checksum), 16, 0},
    {BE(22), FIELD(source_address_word_1), 16, 0xAABB, CSM_FMT_HEX4},
    {BE(24), FIELD(source_address_word_2), 16, 0xCCDD, CSM_FMT_HEX4},
    {BE(26), FIELD(destination_address_word_1), 16, 0x1234, CSM_FMT_HEX4},
    {BE(28), FIELD(destination_address_word_2), 16, 0x5678, CSM_FMT_HEX4},
    {BE(30), FIELD(udp_source_port), 16, 0x7D00},
    {BE(32), FIELD(udp_destination_port), 16, 0x7D01},
    {BE(34), FIELD(udp_length), 16, 0},
    {BE(36), FIELD(udp_checksum), 16, 0},
};
} // namespace

// FC_MEDIAFORKING_SET_ETH_HDR (0x9362), record csmchan_mediaforking_set_eth_hdr; class 2,
// type 0, length 24: the channel Ethernet header with stream_fork in byte 8 bit 0.
namespace csmchan_mediaforking_set_eth_hdr_layout {
using T = csmchan_mediaforking_set_eth_hdr;
const csm_field rows[] = {
    {AT(8, 0), FIELD(stream_fork), 1, 0},
    {BE(10), FIELD(destination_mac_word1), 16, 0xFFEE, CSM_FMT_HEX4},
    {BE(12), FIELD(destination_mac_word2), 16, 0xDDCC, CSM_FMT_HEX4},
    {BE(14), FIELD(destination_mac_word3), 16, 0xBBAA, CSM_FMT_HEX4},
    {BE(16), FIELD(comcerto_mac_word1), 16, 0x6655, CSM_FMT_HEX4},
    {BE(18), FIELD(comcerto_mac_word2), 16, 0x4433, CSM_FMT_HEX4},
    {BE(20), FIELD(comcerto_mac_word3), 16, 0x2211, CSM_FMT_HEX4},
    {BE(22), FIELD(assigned_packet_type), 16, 0x800},
};
} // namespace

// ---------------------------------------------------------------------------
// Writers of the variable parts. Each writes into the zeroed frame and
// returns the length, or 0 after a CRITICAL line when the record cannot
// fill the length it asks for.

// The record's bytes from frame byte `from` up to the length; refused when
// the length asks for more than the record holds.
int write_bytes(const csm_header *h, uint8_t *frame, int from,
                const uint8_t *bytes, size_t count)
{
    int len = h->msg_length;
    if (len > from && (size_t)(len - from) > count)
        return csm_refuse(h, "longer than the record's data");
    for (int i = from; i < len; i++)
        frame[i] = bytes[i - from];
    return len;
}

int write_vopena(const csm_command_layout *l, void *record, uint8_t *frame)
{
    const auto *r = static_cast<const csmchan_voip_vopena *>(record);
    const csm_header *h = r->header;
    if (r->channel_mode == 2) {
        // The short form: the mode word and a zero word.
        csm_write_rows(l->rows, l->nrows, record, frame, h->msg_length < 10 ? h->msg_length : 10);
        return 12;
    }
    csm_write_rows(l->rows, l->nrows, record, frame, h->msg_length);
    return h->msg_length;
}

int write_tone_engine(const csm_command_layout *l, void *record, uint8_t *frame)
{
    auto *r = static_cast<csmchan_voip_program_tone_engine *>(record);
    csm_header *h = r->header;
    unsigned n = r->number_of_tones;
    // 12 tones (226 bytes) fill the record; more would also pass the
    // 255-byte frame after 13.
    if (n > CSM_TONE_ENGINE_TONES) {
        char why[64];
        snprintf(why, sizeof why, "%u tones, at most %u fit", n, (unsigned)CSM_TONE_ENGINE_TONES);
        return csm_refuse(h, why);
    }
    int len = 10 + 18 * (int)n;
    h->msg_length = (uint8_t)len;
    frame[0] = (uint8_t)len;
    csm_write_rows(l->rows, l->nrows, record, frame, len);
    for (unsigned t = 0; t < n; t++)
        csm_write_rows(ROWS(tone_description_layout::rows), &r->tones[t], frame + 10 + 18 * t, 18);
    return len;
}

int write_cadence_engine(const csm_command_layout *, void *record, uint8_t *frame)
{
    const auto *r = static_cast<const csmchan_voip_program_cadence_engine *>(record);
    const csm_header *h = r->header;
    int words = (h->msg_length - 8) / 2;
    if (words > (int)CSM_CADENCE_WORDS)
        return csm_refuse(h, "more cadence words than the record holds");
    for (int i = 0; i < words; i++) {
        frame[8 + 2 * i] = (uint8_t)(r->parameter[i] & 0xFF);
        frame[9 + 2 * i] = (uint8_t)(r->parameter[i] >> 8);
    }
    return h->msg_length;
}

int write_cnd_onhook_gen(const csm_command_layout *l, void *record, uint8_t *frame)
{
    const auto *r = static_cast<const csmchan_cnd_onhook_gen *>(record);
    csm_write_rows(l->rows, l->nrows, record, frame, r->header->msg_length);
    return write_bytes(r->header, frame, 10, r->msg_byte, sizeof r->msg_byte);
}

int write_cnd_set_params(const csm_command_layout *l, void *record, uint8_t *frame)
{
    const auto *r = static_cast<const csmchan_cnd_set_params *>(record);
    csm_write_rows(l->rows, l->nrows, record, frame, r->header->msg_length);
    return write_bytes(r->header, frame, 10, r->info_param_byte, sizeof r->info_param_byte);
}

int write_cnd_offhook_gen(const csm_command_layout *, void *record, uint8_t *frame)
{
    const auto *r = static_cast<const csmchan_cnd_offhook_gen *>(record);
    return write_bytes(r->header, frame, 8, r->msg_byte, sizeof r->msg_byte);
}

int write_aes_opt(const csm_command_layout *l, void *record, uint8_t *frame)
{
    const auto *r = static_cast<const csmchan_cipher_aes_opt *>(record);
    csm_write_rows(l->rows, l->nrows, record, frame, r->header->msg_length);
    return write_bytes(r->header, frame, 10, r->key_array, sizeof r->key_array);
}

int write_srtp_opt(const csm_command_layout *l, void *record, uint8_t *frame)
{
    const auto *r = static_cast<const csmchan_cipher_srtp_opt *>(record);
    const csm_header *h = r->header;
    int len = h->msg_length;
    // Bytes 18-33 the session encryption key, 34-47 the session salt key.
    uint8_t keys[sizeof r->session_encryption_key + sizeof r->session_salt_key];
    memcpy(keys, r->session_encryption_key, sizeof r->session_encryption_key);
    memcpy(keys + sizeof r->session_encryption_key, r->session_salt_key, sizeof r->session_salt_key);
    csm_write_rows(l->rows, l->nrows, record, frame, len);
    return write_bytes(h, frame, 18, keys, sizeof keys);
}

int write_srtp_key_derivation(const csm_command_layout *l, void *record, uint8_t *frame)
{
    const auto *r = static_cast<const csmchan_cipher_srtp_key_derivation *>(record);
    csm_write_rows(l->rows, l->nrows, record, frame, r->header->msg_length);
    return write_bytes(r->header, frame, 32, r->key_array, sizeof r->key_array);
}

int write_sync_payload(const csm_command_layout *, void *record, uint8_t *frame)
{
    // Both synchronous-data records have the same shape.
    const auto *r = static_cast<const csmchan_syncdat *>(record);
    return write_bytes(r->header, frame, 8, r->payload, sizeof r->payload);
}

// VOPENA logs its fields in the record's order, not the wire's.
const uint8_t vopena_log_order[] = {0, 5, 4, 3, 2, 1, 6, 7, 8, 0xFF};

// Every command, ascending by function code: function code, record, record
// size, class, type, default length, flags, rows, writer, log form.
const csm_command_layout command_layouts[] = {
    {REDIRECT_OVER_IP_UDP, "csmdev_redirect_over_ip_udp", sizeof(csmdev_redirect_over_ip_udp), 194, 120, 52, 0, ROWS(csmdev_redirect_over_ip_udp_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_SUPVSR_CREATE_CHANNEL, "csmdev_create_channel", sizeof(csmdev_create_channel), 6, 0, 12, 0, ROWS(csmdev_create_channel_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_SUPVSR_DESTROY_CHANNEL, "csmdev_destroy_channel", sizeof(csmdev_destroy_channel), 6, 0, 10, 0, ROWS(csmdev_destroy_channel_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_SPU_FEATURES_CONTROL, "csmdev_spu_features_control", sizeof(csmdev_spu_features_control), 6, 0, 10, 0, ROWS(csmdev_spu_features_control_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_SPU_RECOVERY_DISABLE, "csmdev_spu_recovery_disable", sizeof(csmdev_spu_recovery_disable), 6, 0, 10, 0, ROWS(csmdev_spu_recovery_disable_layout::rows), nullptr, CSM_LOG_FIELDS},
    {DIAG_REPORTCMD, "csmdev_set_unified_diag", sizeof(csmdev_set_unified_diag), 194, 116, 10, 0, ROWS(csmdev_set_unified_diag_layout::rows), nullptr, CSM_LOG_UNIFIED_DIAG},
    {FC_SET_ETH_HDR, "csmdev_set_eth_hdr", sizeof(csmdev_set_eth_hdr), 6, 0, 24, 0, ROWS(csmdev_set_eth_hdr_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_GET_ETH_HDR, "csmdev_get_eth_hdr", sizeof(csmdev_get_eth_hdr), 5, 0, 8, 0, nullptr, 0, nullptr, CSM_LOG_FIELDS},
    {FC_ETH_SERVICE_CONFIG, "csmdev_eth_service_config", sizeof(csmdev_eth_service_config), 6, 0, 10, 0, ROWS(csmdev_eth_service_config_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_ARP_SERVICE_CONFIG, "csmdev_arp_service_config", sizeof(csmdev_arp_service_config), 6, 0, 10, 0, nullptr, 0, nullptr, CSM_LOG_FIELDS},
    {FC_SET_MULTICAST_ETH_ADDR, "csmdev_set_multicast_eth_addr", sizeof(csmdev_set_multicast_eth_addr), 6, 0, 16, 0, ROWS(csmdev_set_multicast_eth_addr_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_SET_UNICAST_MAC_ADDR, "csmdev_set_unicast_mac_addr", sizeof(csmdev_set_unicast_mac_addr), 6, 0, 16, 0, ROWS(csmdev_set_unicast_mac_addr_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_IP_SERVICE_CONFIG, "csmdev_ip_service_config", sizeof(csmdev_ip_service_config), 6, 0, 10, 0, ROWS(csmdev_ip_service_config_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_IP_ADDRESS, "csmdev_set_ip_address", sizeof(csmdev_set_ip_address), 6, 0, 12, 0, ROWS(csmdev_set_ip_address_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_ICMP_SERVICE_CONFIG, "csmdev_icmp_service_config", sizeof(csmdev_icmp_service_config), 6, 0, 0, CSM_INDEX_ZERO, ROWS(csmdev_icmp_service_config_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_IP_OPTIONS, "csmdev_ip_options", sizeof(csmdev_ip_options), 6, 0, 10, CSM_INDEX_ZERO, ROWS(csmdev_ip_options_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_LATENCY_LEVEL, "csmdev_latency_level", sizeof(csmdev_latency_level), 6, 0, 14, 0, ROWS(csmdev_latency_level_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_SUPVSR_SETUP_TDM_PARAMS, "csmdev_tdm_setup_tdm_params", sizeof(csmdev_tdm_setup_tdm_params), 6, 0, 16, 0, ROWS(csmdev_tdm_setup_tdm_params_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_TDM_SELECT_BUS_MODE, "csmdev_tdm_select_bus_mode", sizeof(csmdev_tdm_select_bus_mode), 6, 0, 10, 0, ROWS(csmdev_tdm_select_bus_mode_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_DEVICE_SET_COUNTRY_CODE, "csmdev_device_set_country_code", sizeof(csmdev_device_set_country_code), 6, 0, 10, 0, ROWS(csmdev_device_set_country_code_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_CP_SET_COUNTRY_CODE_PARAMS, "csmdev_cp_set_country_code_params", sizeof(csmdev_cp_set_country_code_params), 6, 0, 112, 0, ROWS(csmdev_cp_set_country_code_params_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_SUPVSR_SET_TS_MODE, "csmdev_set_ts_mode", sizeof(csmdev_set_ts_mode), 6, 0, 12, 0, ROWS(csmdev_set_ts_mode_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_SUPVSR_SET_PCM_LAW, "csmdev_set_pcm_law", sizeof(csmdev_set_pcm_law), 6, 0, 10, 0, ROWS(csmdev_set_pcm_law_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_HANG_ON_ALERT, "csmdev_hang_on_alert", sizeof(csmdev_hang_on_alert), 6, 0, 10, 0, ROWS(csmdev_hang_on_alert_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_CHANNELS_RESET, "csmdev_channels_reset", sizeof(csmdev_channels_reset), 6, 0, 10, 0, ROWS(csmdev_channels_reset_layout::rows), nullptr, CSM_LOG_FIELDS},
    {DIAG_PACKET_RX, "csmdev_set_unified_diag", sizeof(csmdev_set_unified_diag), 194, 116, 10, 0, ROWS(csmdev_set_unified_diag_layout::rows), nullptr, CSM_LOG_UNIFIED_DIAG},
    {DIAG_PACKET_TX, "csmdev_set_unified_diag", sizeof(csmdev_set_unified_diag), 194, 116, 10, 0, ROWS(csmdev_set_unified_diag_layout::rows), nullptr, CSM_LOG_UNIFIED_DIAG},
    {DIAG_TDM_RX, "csmdev_set_unified_diag", sizeof(csmdev_set_unified_diag), 194, 116, 10, 0, ROWS(csmdev_set_unified_diag_layout::rows), nullptr, CSM_LOG_UNIFIED_DIAG},
    {DIAG_TDM_TX, "csmdev_set_unified_diag", sizeof(csmdev_set_unified_diag), 194, 116, 10, 0, ROWS(csmdev_set_unified_diag_layout::rows), nullptr, CSM_LOG_UNIFIED_DIAG},
    {DIAG_SPU_IOPARAMS, "csmdev_set_unified_diag", sizeof(csmdev_set_unified_diag), 194, 116, 10, 0, ROWS(csmdev_set_unified_diag_layout::rows), nullptr, CSM_LOG_UNIFIED_DIAG},
    {DIAG_SPU_INSTREAM, "csmdev_set_unified_diag", sizeof(csmdev_set_unified_diag), 194, 116, 10, 0, ROWS(csmdev_set_unified_diag_layout::rows), nullptr, CSM_LOG_UNIFIED_DIAG},
    {DIAG_SPU_OUTSTREAM, "csmdev_set_unified_diag", sizeof(csmdev_set_unified_diag), 194, 116, 10, 0, ROWS(csmdev_set_unified_diag_layout::rows), nullptr, CSM_LOG_UNIFIED_DIAG},
    {DIAG_DSP_TASK_IOPARAMS, "csmdev_set_unified_diag", sizeof(csmdev_set_unified_diag), 194, 116, 10, 0, ROWS(csmdev_set_unified_diag_layout::rows), nullptr, CSM_LOG_UNIFIED_DIAG},
    {FC_VOIP_VOPENA, "csmchan_voip_vopena", sizeof(csmchan_voip_vopena), 2, 0, 22, 0, ROWS(csmchan_voip_vopena_layout::rows), write_vopena, CSM_LOG_FIELDS, vopena_log_order},
    {FC_VOIP_VCEOPT, "csmchan_voip_vceopt", sizeof(csmchan_voip_vceopt), 2, 0, 18, 0, ROWS(csmchan_voip_vceopt_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_DTMFOPT, "csmchan_voip_dtmfopt", sizeof(csmchan_voip_dtmfopt), 2, 0, 10, CSM_INDEX_ZERO, ROWS(csmchan_voip_dtmfopt_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_FAX_OPTIONS, "csmchan_fax_options", sizeof(csmchan_fax_options), 2, 0, 12, 0, ROWS(csmchan_fax_options_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_DGAIN, "csmchan_voip_dgain", sizeof(csmchan_voip_dgain), 2, 0, 12, 0, ROWS(csmchan_voip_dgain_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_ECHOCAN, "csmchan_voip_echocan", sizeof(csmchan_voip_echocan), 2, 0, 10, 0, ROWS(csmchan_voip_echocan_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_TONEGEN, "csmchan_voip_tonegen", sizeof(csmchan_voip_tonegen), 2, 0, 72, 0, ROWS(csmchan_voip_tonegen_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_TONEOFF, "csmchan_voip_toneoff", sizeof(csmchan_voip_toneoff), 2, 0, 12, 0, ROWS(csmchan_voip_toneoff_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_PTMNG, "csmchan_voip_ptmng", sizeof(csmchan_voip_ptmng), 2, 0, 56, 0, ROWS(csmchan_voip_ptmng_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_SENDNTE, "csmchan_voip_sendnte", sizeof(csmchan_voip_sendnte), 2, 0, 24, 0, ROWS(csmchan_voip_sendnte_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_DTMFDPAR, "csmchan_voip_dtmfdpar", sizeof(csmchan_voip_dtmfdpar), 2, 0, 22, CSM_INDEX_ZERO, ROWS(csmchan_voip_dtmfdpar_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_SET_CNG_OVER, "csmchan_voip_set_cng_over", sizeof(csmchan_voip_set_cng_over), 2, 0, 12, CSM_INDEX_ZERO, nullptr, 0, nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_NTENERGY_SET, "csmchan_voip_ntenergy_set", sizeof(csmchan_voip_ntenergy_set), 2, 0, 12, 0, ROWS(csmchan_voip_ntenergy_set_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_DTMFTUNE, "csmchan_voip_dtmftune", sizeof(csmchan_voip_dtmftune), 2, 0, 20, CSM_INDEX_ZERO, ROWS(csmchan_voip_dtmftune_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_CND_ONHOOK_GEN, "csmchan_cnd_onhook_gen", sizeof(csmchan_cnd_onhook_gen), 2, 0, 8, 0, ROWS(csmchan_cnd_onhook_gen_layout::rows), write_cnd_onhook_gen, CSM_LOG_FIELDS_RAW},
    {FC_CND_SET_PARAMS, "csmchan_cnd_set_params", sizeof(csmchan_cnd_set_params), 2, 0, 8, 0, ROWS(csmchan_cnd_set_params_layout::rows), write_cnd_set_params, CSM_LOG_FIELDS_RAW},
    {FC_CND_OFFHOOK_GEN, "csmchan_cnd_offhook_gen", sizeof(csmchan_cnd_offhook_gen), 2, 0, 8, 0, nullptr, 0, write_cnd_offhook_gen, CSM_LOG_FIELDS_RAW},
    {FC_CND_STOP, "csmchan_cnd_stop", sizeof(csmchan_cnd_stop), 2, 0, 8, 0, nullptr, 0, nullptr, CSM_LOG_FIELDS},
    {FC_CIPHER_AES_OPT, "csmchan_cipher_aes_opt", sizeof(csmchan_cipher_aes_opt), 2, 0, 10, 0, ROWS(csmchan_cipher_aes_opt_layout::rows), write_aes_opt, CSM_LOG_FIELDS_RAW},
    {FC_VOIP_CNTRYCODE, "csmchan_voip_cntrycode", sizeof(csmchan_voip_cntrycode), 2, 0, 18, 0, ROWS(csmchan_voip_cntrycode_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_TONECTRL, "csmchan_voip_tonectrl", sizeof(csmchan_voip_tonectrl), 2, 0, 10, CSM_INDEX_ZERO, ROWS(csmchan_voip_tonectrl_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_SIGDET, "csmchan_voip_sigdet", sizeof(csmchan_voip_sigdet), 2, 0, 10, CSM_INDEX_ZERO, ROWS(csmchan_voip_sigdet_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_TONEOPT, "csmchan_voip_toneopt", sizeof(csmchan_voip_toneopt), 2, 0, 10, 0, ROWS(csmchan_voip_toneopt_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_PROGRAM_TONE_ENGINE, "csmchan_voip_program_tone_engine", sizeof(csmchan_voip_program_tone_engine), 2, 0, 8, 0, ROWS(csmchan_voip_program_tone_engine_layout::rows), write_tone_engine, CSM_LOG_FIELDS_RAW},
    {FC_VOIP_PROGRAM_CADENCE_ENGINE, "csmchan_voip_program_cadence_engine", sizeof(csmchan_voip_program_cadence_engine), 2, 0, 8, 0, nullptr, 0, write_cadence_engine, CSM_LOG_FIELDS_RAW},
    {FC_VOIP_INDCTRL, "csmchan_voip_indctrl", sizeof(csmchan_voip_indctrl), 2, 0, 12, CSM_INDEX_ZERO, ROWS(csmchan_voip_indctrl_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_JBOPT, "csmchan_voip_jbopt", sizeof(csmchan_voip_jbopt), 2, 0, 20, CSM_INDEX_ZERO, ROWS(csmchan_voip_jbopt_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_EC_CONTROL, "csmchan_ec_control", sizeof(csmchan_ec_control), 2, 0, 10, CSM_INDEX_ZERO, ROWS(csmchan_ec_control_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_MFTUNE, "csmchan_voip_mftune", sizeof(csmchan_voip_mftune), 2, 0, 22, CSM_INDEX_ZERO, ROWS(csmchan_voip_mftune_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_MFDPAR, "csmchan_voip_mfdpar", sizeof(csmchan_voip_mfdpar), 2, 0, 16, CSM_INDEX_ZERO, ROWS(csmchan_voip_mfdpar_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_VOIP_RTCP_ENA, "csmchan_voip_rtcp_ena", sizeof(csmchan_voip_rtcp_ena), 2, 0, 10, 0, ROWS(csmchan_voip_rtcp_ena_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_CNDDETCTL, "csmchan_cnddetctl", sizeof(csmchan_cnddetctl), 2, 0, 10, 0, ROWS(csmchan_cnddetctl_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_SET_TEST_MODE, "csmchan_set_test_mode", sizeof(csmchan_set_test_mode), 2, 0, 14, CSM_INDEX_ZERO, ROWS(csmchan_set_test_mode_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_RFC2833_DTMF_TDM_LEVEL_CTRL, "csmchan_rfc2833_dtmf_tdm_level_ctrl", sizeof(csmchan_rfc2833_dtmf_tdm_level_ctrl), 2, 0, 10, CSM_INDEX_ZERO, nullptr, 0, nullptr, CSM_LOG_FIELDS},
    {FC_CIPHER_SRTP_OPT, "csmchan_cipher_srtp_opt", sizeof(csmchan_cipher_srtp_opt), 2, 0, 18, 0, ROWS(csmchan_cipher_srtp_opt_layout::rows), write_srtp_opt, CSM_LOG_FIELDS_RAW},
    {FC_CIPHER_SRTP_KEY_DERIVATION, "csmchan_cipher_srtp_key_derivation", sizeof(csmchan_cipher_srtp_key_derivation), 2, 0, 18, 0, ROWS(csmchan_cipher_srtp_key_derivation_layout::rows), write_srtp_key_derivation, CSM_LOG_FIELDS_RAW},
    {FC_SET_IP_HDR_CHANNEL, "csmchan_set_ip_hdr_chan", sizeof(csmchan_set_ip_hdr_chan), 2, 0, 38, 0, ROWS(csmchan_set_ip_hdr_chan_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_SET_ETH_HDR_CHAN, "csmchan_set_eth_hdr_chan", sizeof(csmchan_set_eth_hdr_chan), 2, 0, 24, 0, ROWS(csmchan_set_eth_hdr_chan_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_IPDTMF_CTRL, "csmchan_ipdtmf_ctrl", sizeof(csmchan_ipdtmf_ctrl), 2, 0, 12, CSM_INDEX_ZERO, ROWS(csmchan_ipdtmf_ctrl_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_THC_REDIRECT_RX, "csmchan_thc_redirect_rx", sizeof(csmchan_thc_redirect_rx), 2, 0, 12, 0, ROWS(csmchan_thc_redirect_rx_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_THC_MODE_ENABLE, "csmchan_thc_mode_enable", sizeof(csmchan_thc_mode_enable), 2, 0, 12, 0, ROWS(csmchan_thc_mode_enable_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_CONF_CREATE_CONFERENCE, "csmdev_conf_create_conference", sizeof(csmdev_conf_create_conference), 6, 0, 10, 0, nullptr, 0, nullptr, CSM_LOG_FIELDS},
    {FC_CONF_DESTROY_CONFERENCE, "csmdev_conf_destroy_conference", sizeof(csmdev_conf_destroy_conference), 6, 0, 10, 0, ROWS(csmdev_conf_destroy_conference_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_CONF_CREATE_PARTICIPANT, "csmdev_conf_create_participant", sizeof(csmdev_conf_create_participant), 6, 0, 14, 0, ROWS(csmdev_conf_create_participant_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_CONF_DESTROY_PARTICIPANT, "csmdev_conf_destroy_participant", sizeof(csmdev_conf_destroy_participant), 6, 0, 12, 0, ROWS(csmdev_conf_destroy_participant_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_CONF_MUTE_PARTICIPANT, "csmdev_conf_mute_participant", sizeof(csmdev_conf_mute_participant), 6, 0, 14, 0, ROWS(csmdev_conf_mute_participant_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_CONF_PUT_PARTICIPANT_ON_HOLD, "csmdev_conf_put_participant_on_hold", sizeof(csmdev_conf_put_participant_on_hold), 6, 0, 16, 0, ROWS(csmdev_conf_put_participant_on_hold_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_TRANS_CONNECT, "csmdev_trans_connect", sizeof(csmdev_trans_connect), 6, 0, 18, 0, ROWS(csmdev_trans_connect_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_MDIO_BUS_WRITE, "csmdev_mdio_bus_write", sizeof(csmdev_mdio_bus_write), 6, 0, 16, 0, ROWS(csmdev_mdio_bus_write_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_MDIO_BUS_READ, "csmdev_mdio_bus_read", sizeof(csmdev_mdio_bus_read), 6, 0, 16, 0, ROWS(csmdev_mdio_bus_read_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_MDIO_START_AUTODECT, "csmdev_mdio_start_autodetect", sizeof(csmdev_mdio_start_autodetect), 6, 0, 16, 0, ROWS(csmdev_mdio_start_autodetect_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_MDIO_SET_FREQ, "csmdev_mdio_set_freq", sizeof(csmdev_mdio_set_freq), 6, 0, 12, 0, ROWS(csmdev_mdio_set_freq_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_HTDMOPT, "csmchan_htdmopt", sizeof(csmchan_htdmopt), 2, 0, 14, 0, ROWS(csmchan_htdmopt_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_HTDMENA, "csmchan_htdmena", sizeof(csmchan_htdmena), 2, 0, 10, 0, ROWS(csmchan_htdmena_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_MEDIAFORKING_IP_ACTIVATE, "csmchan_mediaforking_ip_activate", sizeof(csmchan_mediaforking_ip_activate), 2, 0, 10, 0, nullptr, 0, nullptr, CSM_LOG_FIELDS},
    {FC_MEDIAFORKING_SET_UDPIP_HDR, "csmchan_mediaforking_set_udpip_hdr", sizeof(csmchan_mediaforking_set_udpip_hdr), 2, 0, 38, 0, ROWS(csmchan_mediaforking_set_udpip_hdr_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_MEDIAFORKING_SET_ETH_HDR, "csmchan_mediaforking_set_eth_hdr", sizeof(csmchan_mediaforking_set_eth_hdr), 2, 0, 24, 0, ROWS(csmchan_mediaforking_set_eth_hdr_layout::rows), nullptr, CSM_LOG_FIELDS},
    {FC_SYNCDAT, "csmchan_syncdat", sizeof(csmchan_syncdat), 2, 0, 8, 0, nullptr, 0, write_sync_payload, CSM_LOG_FIELDS_RAW},
    {FC_SYNCEOF, "csmchan_synceof", sizeof(csmchan_synceof), 2, 0, 8, 0, nullptr, 0, write_sync_payload, CSM_LOG_FIELDS_RAW},
};

} // namespace

const csm_command_layout *csm_command_layouts(size_t *count)
{
    if (count)
        *count = std::size(command_layouts);
    return command_layouts;
}

const csm_command_layout *csm_find_command_layout(int function_code)
{
    auto it = std::lower_bound(std::begin(command_layouts), std::end(command_layouts), function_code,
                               [](const csm_command_layout &l, int fc) { return l.function_code < fc; });
    if (it != std::end(command_layouts) && it->function_code == function_code)
        return it;
    return nullptr;
}
