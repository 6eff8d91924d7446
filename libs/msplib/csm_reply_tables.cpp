// Layout tables of the frames the media processor sends: command responses,
// query responses, indications and diagnostic responses, one row per field.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "csm_codes.h"
#include "csm_layout_rows.h"

namespace {

// ---------------------------------------------------------------------------
// Command responses (command type 2).

namespace generic_response_layout {
using T = csm_generic_response;
const csm_field rows[] = {
    {LE(8), FIELD(response_code), 16, 0},
};
} // namespace

namespace create_channel_response_layout {
using T = csmdev_create_channel_response;
const csm_field rows[] = {
    {LE(8), FIELD(response_code), 16, 0},
    {LE(10), FIELD(channel_number), 16, 0},
    {LE(12), FIELD(timeslot), 16, 0},
};
} // namespace

// The version text: the low byte of each word from byte 16 on.
void read_version_text(void *record, const uint8_t *frame, int length)
{
    auto *r = static_cast<csmdev_get_msp_version_query_response *>(record);
    size_t n = 0;
    for (int at = 16; at + 1 < length && n + 1 < sizeof r->data; at += 2)
        r->data[n++] = (char)frame[at];
    r->data[n] = '\0';
}

namespace get_eth_hdr_response_layout {
using T = csmdev_get_eth_hdr_response;
const csm_field rows[] = {
    {AT(8, 0), FIELD(protocol_identifier), 2, 0},
    {AT(9, 0), FIELD(header_size), 8, 0},
    {LE(10), FIELD(hostmac_1), 16, 0, CSM_FMT_HEX4},
    {LE(12), FIELD(hostmac_2), 16, 0, CSM_FMT_HEX4},
    {LE(14), FIELD(hostmac_3), 16, 0, CSM_FMT_HEX4},
    {LE(16), FIELD(assigned_mac_1), 16, 0, CSM_FMT_HEX4},
    {LE(18), FIELD(assigned_mac_2), 16, 0, CSM_FMT_HEX4},
    {LE(20), FIELD(assigned_mac_3), 16, 0, CSM_FMT_HEX4},
    {LE(22), FIELD(assigned_packet_type), 16, 0},
};
} // namespace

namespace conf_participant_response_layout {
using T = csmdev_conf_create_participant_response;
const csm_field rows[] = {
    {LE(8), FIELD(response_code), 16, 0},
    {LE(10), FIELD(participant_id), 16, 0},
    {LE(12), FIELD(conference_id), 16, 0},
};
} // namespace

namespace conf_create_conference_response_layout {
using T = csmdev_conf_create_conference_response;
const csm_field rows[] = {
    {LE(8), FIELD(response_code), 16, 0},
    {LE(10), FIELD(conference_id), 16, 0},
};
} // namespace

namespace mdio_bus_read_response_layout {
using T = csmdev_mdio_bus_read_response;
const csm_field rows[] = {
    {LE(8), FIELD(response_code), 16, 0},
    {AT(10, 0), FIELD(preamble_suppress), 1, 0},
    {AT(11, 0), FIELD(emac_number), 8, 0},
    {LE(12), FIELD(target_mmd_device_address), 16, 0},
    {LE(14), FIELD(target_register_address), 16, 0},
    {LE(16), FIELD(register_data_value), 16, 0},
};
} // namespace

// The rejected command's header echoed.
namespace svr_error_handling_layout {
using T = csmdev_svr_error_handling;
const csm_field rows[] = {
    {LE(8), FIELD(error_code), 16, 0},
    {LE(10), FIELD(original_channel_id), 16, 0},
    {AT(12, 0), FIELD(original_msg_length), 8, 0},
    {AT(13, 0), FIELD(original_index), 8, 0},
    {AT(14, 0), FIELD(original_cmd_type), 8, 0},
    {AT(15, 0), FIELD(original_cmd_class), 8, 0},
    {LE(16), FIELD(original_function_code), 16, 0},
};
} // namespace

const csm_reply_layout generic_response = {
    0, "csm_generic_response", sizeof(csm_generic_response),
    ROWS(generic_response_layout::rows), nullptr, 0, nullptr, nullptr};

// Responses with more than the result code, ascending by function code.
const csm_reply_layout command_responses[] = {
    {FC_SUPVSR_CREATE_CHANNEL, "csmdev_create_channel_response",
     sizeof(csmdev_create_channel_response), ROWS(create_channel_response_layout::rows), nullptr,
     0, nullptr, nullptr},
    {MSP_FC_SVR_ERROR_REPORT, "csmdev_svr_error_handling", sizeof(csmdev_svr_error_handling),
     ROWS(svr_error_handling_layout::rows), nullptr, 0, nullptr, nullptr},
    {FC_SUPVSR_MSP_GET_VERSION, "csmdev_get_msp_version_query_response",
     sizeof(csmdev_get_msp_version_query_response), nullptr, 0, read_version_text, 8, nullptr,
     nullptr},
    {FC_GET_ETH_HDR, "csmdev_get_eth_hdr_response", sizeof(csmdev_get_eth_hdr_response),
     ROWS(get_eth_hdr_response_layout::rows), nullptr, 0, nullptr, nullptr},
    {FC_MDIO_BUS_READ, "csmdev_mdio_bus_read_response", sizeof(csmdev_mdio_bus_read_response),
     ROWS(mdio_bus_read_response_layout::rows), nullptr, 0, nullptr, nullptr},
    {FC_CONF_CREATE_CONFERENCE, "csmdev_conf_create_conference_response",
     sizeof(csmdev_conf_create_conference_response),
     ROWS(conf_create_conference_response_layout::rows), nullptr, 0, nullptr, nullptr},
    {FC_CONF_CREATE_PARTICIPANT, "csmdev_conf_create_participant_response",
     sizeof(csmdev_conf_create_participant_response), ROWS(conf_participant_response_layout::rows),
     nullptr, 0, nullptr, nullptr},
    {FC_CONF_DESTROY_PARTICIPANT, "csmdev_conf_destroy_participant_response",
     sizeof(csmdev_conf_destroy_participant_response), ROWS(conf_participant_response_layout::rows),
     nullptr, 0, nullptr, nullptr},
    {FC_CONF_MUTE_PARTICIPANT, "csmdev_conf_mute_participant_response",
     sizeof(csmdev_conf_mute_participant_response), ROWS(conf_participant_response_layout::rows),
     nullptr, 0, nullptr, nullptr},
    {FC_CONF_PUT_PARTICIPANT_ON_HOLD, "csmdev_conf_put_participant_on_hold_response",
     sizeof(csmdev_conf_put_participant_on_hold_response),
     ROWS(conf_participant_response_layout::rows), nullptr, 0, nullptr, nullptr},
};

// ---------------------------------------------------------------------------
// Query responses (command type 4).

namespace create_channel_query_response_layout {
using T = csmdev_create_channel_query_response;
const csm_field rows[] = {
    {LE(8), FIELD(channel_id), 16, 0},
    {LE(10), FIELD(channel_type), 16, 0},
    {LE(12), FIELD(timeslot), 16, 0},
    {LE(14), FIELD(conference_id), 16, 0},
};
} // namespace

// 16 bytes from byte 8, as they come.
void read_arm_code_version(void *record, const uint8_t *frame, int)
{
    auto *r = static_cast<csmdev_get_arm_code_version_query_response *>(record);
    memcpy(r->arm_code_version, frame + 8, CSM_ARM_VERSION_BYTES);
    r->arm_code_version[CSM_ARM_VERSION_BYTES] = '\0';
}

namespace device_type_query_response_layout {
using T = csmdev_get_device_type_query_response;
const csm_field rows[] = {
    {LE(8), FIELD(processor_id), 16, 0},
};
} // namespace

namespace device_status_query_response_layout {
using T = csmdev_device_status_query_response;
const csm_field rows[] = {
    {LE(8), FIELD(heartbeat_period), 16, 0},
    {AT(10, 2), FIELD(arm1_status), 1, 0},
    {AT(10, 3), FIELD(dsp0_status), 1, 0},
    {AT(10, 4), FIELD(dsp1_status), 1, 0},
    {AT(10, 5), FIELD(dsp2_status), 1, 0},
    {AT(10, 6), FIELD(dsp3_status), 1, 0},
    {AT(10, 7), FIELD(dsp4_status), 1, 0},
    {AT(11, 0), FIELD(dsp5_status), 1, 0},
    {AT(11, 7), FIELD(alert_status), 1, 0},
    {LE(12), FIELD(alert_type), 16, 0},
};
// The log line names the DSPs from the highest down and leaves out alert_status.
const uint8_t log_order[] = {0, 7, 6, 5, 4, 3, 2, 1, 9, 0xFF};
} // namespace

namespace rtcp_statistics_response_layout {
using T = csmchan_voip_rtcp_statistics_response;
const csm_field rows[] = {
    {LE(8), FIELD(statistics_version), 32, 0},
    {LE(12), FIELD(timestamp), 32, 0},
    {LE(16), FIELD(sender_packet_count), 32, 0},
    {LE(20), FIELD(sender_byte_count), 32, 0},
    {LE(24), FIELD(ssrc_remote), 32, 0, CSM_FMT_HEX},
    {LE(28), FIELD(number_fraction_lost_packets), 32, 0},
    {LE(32), FIELD(extended_highest_sequence_number_received), 32, 0},
    {LE(36), FIELD(inter_arrival_jitter), 32, 0},
};
// Only a frame of exactly 52 bytes carries these.
const csm_field long_rows[] = {
    {LE(40), FIELD(received_packet_count), 32, 0},
    {LE(44), FIELD(received_byte_count), 32, 0},
    {LE(48), FIELD(ssrc_local), 32, 0, CSM_FMT_HEX},
};
} // namespace

void read_rtcp_long_form(void *record, const uint8_t *frame, int length)
{
    if (length == 52)
        csm_read_rows(ROWS(rtcp_statistics_response_layout::long_rows), record, frame, length);
}

namespace conf_participant_query_response_layout {
using T = csmdev_conf_create_participant_query_response;
const csm_field rows[] = {
    {LE(8), FIELD(participant_id), 16, 0},
    {LE(10), FIELD(participant_type), 16, 0},
    {LE(12), FIELD(timeslot), 16, 0},
    {LE(14), FIELD(conference_id), 16, 0},
};
} // namespace

// Ascending by function code.
const csm_reply_layout query_responses[] = {
    {FC_SUPVSR_CREATE_CHANNEL, "csmdev_create_channel_query_response",
     sizeof(csmdev_create_channel_query_response), ROWS(create_channel_query_response_layout::rows),
     nullptr, 0, nullptr, nullptr},
    {FC_SUPVSR_GET_ARM_CODE_VERSION, "csmdev_get_arm_code_version_query_response",
     sizeof(csmdev_get_arm_code_version_query_response), nullptr, 0, read_arm_code_version,
     8 + (int)CSM_ARM_VERSION_BYTES, nullptr, nullptr},
    {FC_SUPVSR_GET_DEVICE_TYPE, "csmdev_get_device_type_query_response",
     sizeof(csmdev_get_device_type_query_response), ROWS(device_type_query_response_layout::rows),
     nullptr, 0, nullptr, nullptr},
    {FC_EXT_CLOCK_STATUS, "csmdev_ext_clock_status_query_response",
     sizeof(csmdev_ext_clock_status_query_response), nullptr, 0, nullptr, 8, nullptr, nullptr},
    {FC_SUPVSR_DEVICE_STATUS_QUERY, "csmdev_device_status_query_response",
     sizeof(csmdev_device_status_query_response), ROWS(device_status_query_response_layout::rows),
     nullptr, 0, device_status_query_response_layout::log_order, nullptr},
    {FC_VOIP_RTCPSTAT, "csmchan_voip_rtcp_statistics_response",
     sizeof(csmchan_voip_rtcp_statistics_response), ROWS(rtcp_statistics_response_layout::rows),
     read_rtcp_long_form, 0, nullptr, nullptr},
    {FC_CONF_CREATE_PARTICIPANT, "csmdev_conf_create_participant_query_response",
     sizeof(csmdev_conf_create_participant_query_response),
     ROWS(conf_participant_query_response_layout::rows), nullptr, 0, nullptr, nullptr},
};

// ---------------------------------------------------------------------------
// Indications (command type 3).

namespace ext_clock_status_indication_layout {
using T = csmdev_ext_clock_status_indication;
const csm_field rows[] = {
    {AT(8, 0), FIELD(tdm_bus_0_working), 1, 0},
    {AT(8, 1), FIELD(tdm_bus_1_working), 1, 0},
    {AT(8, 2), FIELD(tdm_bus_2_working), 1, 0},
    {AT(8, 3), FIELD(tdm_bus_3_working), 1, 0},
    {AT(9, 0), FIELD(gps_50hz_clock_detected), 1, 0},
    {AT(9, 1), FIELD(gps_8khz_clock_detected), 1, 0},
};
} // namespace

namespace channels_reset_complete_indication_layout {
using T = csmdev_channels_reset_complete_indication;
const csm_field rows[] = {
    {AT(8, 0), FIELD(response_code), 1, 0},
};
} // namespace

namespace tonedet_indication_layout {
using T = csmchan_voip_tonedet_indication;
const csm_field rows[] = {
    {LE(8), FIELD(tone_detect_value), 16, 0},
    {LE(10), FIELD(timestamp_lsb), 16, 0},
    {LE(12), FIELD(timestamp_msb), 16, 0},
    {LE(14), FIELD(power_level), 16, 0},
};
} // namespace

// The two timestamp words are shown as one value.
void log_tonedet(char *out, size_t size, const void *record)
{
    const auto *r = static_cast<const csmchan_voip_tonedet_indication *>(record);
    snprintf(out, size, "tone_detect_value: %i, timestamp: %u, power_level: %i",
             (int)r->tone_detect_value, (unsigned)((r->timestamp_msb << 16) | r->timestamp_lsb),
             (int)r->power_level);
}

namespace ssrcchg_indication_layout {
using T = csmchan_ssrcchg_indication;
const csm_field rows[] = {
    {LE(8), FIELD(ssrc_1), 16, 0, CSM_FMT_HEX4},
    {LE(10), FIELD(ssrc_2), 16, 0, CSM_FMT_HEX4},
};
} // namespace

namespace ptchng_indication_layout {
using T = csmchan_voip_ptchng_indication;
const csm_field rows[] = {
    {LE(8), FIELD(payload_type), 16, 0},
};
} // namespace

namespace tcmplt_indication_layout {
using T = csmchan_tcmplt_indication;
const csm_field rows[] = {
    {LE(8), FIELD(tone_complete_cause), 16, 0},
};
} // namespace

namespace fax_relay_state_change_indication_layout {
using T = csmchan_fax_relay_state_change_indication;
const csm_field rows[] = {
    {LE(8), FIELD(relay_state), 16, 0},
};
} // namespace

namespace eventdet_indication_layout {
using T = csmchan_voip_eventdet_indication;
const csm_field rows[] = {
    {LE(8), FIELD(tone_detected_indication), 16, 0},
    {LE(10), FIELD(timestamp_lsb), 16, 0},
    {LE(12), FIELD(timestamp_msb), 16, 0},
};
} // namespace

namespace nterecvd_indication_layout {
using T = csmchan_voip_nterecvd_indication;
const csm_field rows[] = {
    {AT(8, 0), FIELD(nte_payload_event), 8, 0},
    {AT(9, 7), FIELD(nte_payload_e_flag), 1, 0},
    {BE(10), FIELD(nte_payload_duration), 16, 0},
    {LE(12), FIELD(payload_type_override), 16, 0},
    {LE(14), FIELD(payload_type), 16, 0},
    {LE(16), FIELD(ssrc_high), 16, 0, CSM_FMT_HEX4},
    {LE(18), FIELD(ssrc_low), 16, 0, CSM_FMT_HEX4},
};
} // namespace

namespace ssrcviol_indication_layout {
using T = csmchan_voip_ssrcviol_indication;
const csm_field rows[] = {
    {LE(8), FIELD(ssrc_low), 16, 0, CSM_FMT_HEX4},
    {LE(10), FIELD(ssrc_high), 16, 0, CSM_FMT_HEX4},
};
} // namespace

namespace ntenergy_det_layout {
using T = csmchan_voip_ntenergy_det;
const csm_field rows[] = {
    {LE(10), FIELD(timestamp), 32, 0},
};
} // namespace

namespace cnd_done_indication_layout {
using T = csmchan_cnd_done_indication;
const csm_field rows[] = {
    {LE(8), FIELD(cli_complete_reason), 16, 0},
};
} // namespace

namespace remdet_indication_layout {
using T = csmchan_voip_remdet_indication;
const csm_field rows[] = {
    {AT(8, 0), FIELD(remote_packet_type), 8, 0},
    {AT(9, 0), FIELD(event), 8, 0},
};
} // namespace

namespace iptonedet_indication_layout {
using T = csmchan_voip_iptonedet_indication;
const csm_field rows[] = {
    {AT(8, 0), FIELD(ans_early_detection_2100Hz), 1, 0},
    {AT(8, 1), FIELD(ans_confirmed_detection_2100Hz), 1, 0},
    {AT(8, 2), FIELD(ansam_15Hz), 1, 0},
    {AT(8, 3), FIELD(phase_reverseal_2100Hz), 1, 0},
    {AT(8, 4), FIELD(bell_ans), 1, 0},
    {AT(8, 5), FIELD(v32_aa_pre_standard_1800Hz), 1, 0},
    {AT(8, 6), FIELD(ip_programmable_tone_detected), 1, 0},
    {AT(9, 0), FIELD(ip_generic_390), 1, 0},
    {AT(9, 1), FIELD(ip_generic_980), 1, 0},
    {AT(9, 2), FIELD(ip_generic_1270), 1, 0},
    {AT(9, 3), FIELD(ip_generic_1300), 1, 0},
    {AT(9, 4), FIELD(ip_generic_1650), 1, 0},
    {AT(9, 5), FIELD(ip_generic_tone2), 1, 0},
    {AT(9, 6), FIELD(ip_generic_tone1), 1, 0},
    {AT(9, 7), FIELD(ip_generic_tone0), 1, 0},
    {LE(10), FIELD(timestamp_1), 16, 0},
    {LE(12), FIELD(timestamp_2), 16, 0},
    {LE(14), FIELD(power_level), 16, 0},
};
} // namespace

namespace cndrxmsg_indication_layout {
using T = csmchan_cndrxmsg_indication;
const csm_field rows[] = {
    {LE(8), FIELD(msg_status_field), 16, 0},
    {AT(10, 0), FIELD(msg_type_id), 8, 0},
    {AT(11, 0), FIELD(msg_byte_count), 8, 0},
};
} // namespace

// The message bytes from byte 12: the count the device gives, at most 64,
// and never more than the frame holds.
void read_cndrx_bytes(void *record, const uint8_t *frame, int length)
{
    auto *r = static_cast<csmchan_cndrxmsg_indication *>(record);
    int n = r->msg_byte_count;
    if (n > (int)CSM_CNDRX_BYTES)
        n = (int)CSM_CNDRX_BYTES;
    if (n > length - 12)
        n = length - 12;
    r->msg_byte_count_cropped = (uint32_t)n;
    memcpy(r->msg_byte, frame + 12, (size_t)n);
}

namespace bert_lock_indication_layout {
using T = csmchan_bert_lock_indication;
const csm_field rows[] = {
    {AT(8, 0), FIELD(lock_state), 1, 0},
};
} // namespace

namespace dtmf_det_indication_layout {
using T = csmchan_inband_dtmf_det_indication;
const csm_field rows[] = {
    {LE(8), FIELD(tone_id), 16, 0},
    {LE(10), FIELD(remote_timestamp_lsb), 16, 0},
    {LE(12), FIELD(remote_timestamp_msb), 16, 0},
    {LE(14), FIELD(power_level), 16, 0},
};
} // namespace

namespace mdio_autodetect_indication_layout {
using T = csmdev_mdio_autodetect_indication;
const csm_field rows[] = {
    {LE(8), FIELD(emac_number), 16, 0},
    {LE(10), FIELD(mdio_bus_number), 16, 0},
    {LE(12), FIELD(target_device_address), 16, 0},
    {LE(14), FIELD(link_mode), 16, 0},
};
} // namespace

// Each received word into one element.
void read_sync_words(void *record, const uint8_t *frame, int length)
{
    auto *r = static_cast<csmchan_syncdat_indication *>(record);
    int words = (length - 8) / 2;
    for (int i = 0; i < words && i < (int)std::size(r->payload); i++)
        r->payload[i] = (uint32_t)(frame[8 + 2 * i] | (frame[9 + 2 * i] << 8));
}

#define IND(fc, rec, ns)                                                                 \
    {fc, #rec, sizeof(rec), ROWS(ns::rows), nullptr, 0, nullptr, nullptr}

// Ascending by function code.
const csm_reply_layout indications[] = {
    IND(FC_EXT_CLOCK_STATUS, csmdev_ext_clock_status_indication, ext_clock_status_indication_layout),
    IND(FC_CHANNELS_RESET_COMPLETE, csmdev_channels_reset_complete_indication,
        channels_reset_complete_indication_layout),
    {FC_VOIP_TONEDET, "csmchan_voip_tonedet_indication", sizeof(csmchan_voip_tonedet_indication),
     ROWS(tonedet_indication_layout::rows), nullptr, 0, nullptr, log_tonedet},
    IND(FC_VOIP_SSRCCHG, csmchan_ssrcchg_indication, ssrcchg_indication_layout),
    IND(FC_VOIP_PTCHNG, csmchan_voip_ptchng_indication, ptchng_indication_layout),
    IND(FC_VOIP_TCMPLT, csmchan_tcmplt_indication, tcmplt_indication_layout),
    IND(FC_FAXSTATE_INDICATION, csmchan_fax_relay_state_change_indication,
        fax_relay_state_change_indication_layout),
    IND(FC_VOIP_EVENTDET, csmchan_voip_eventdet_indication, eventdet_indication_layout),
    IND(FC_VOIP_NTERECVD, csmchan_voip_nterecvd_indication, nterecvd_indication_layout),
    IND(FC_VOIP_SSRCVIOL, csmchan_voip_ssrcviol_indication, ssrcviol_indication_layout),
    IND(FC_VOIP_NTENERGY_DET, csmchan_voip_ntenergy_det, ntenergy_det_layout),
    IND(FC_CND_DONE, csmchan_cnd_done_indication, cnd_done_indication_layout),
    IND(FC_VOIP_REMDET, csmchan_voip_remdet_indication, remdet_indication_layout),
    IND(FC_VOIP_IPTONEDET, csmchan_voip_iptonedet_indication, iptonedet_indication_layout),
    {FC_CNDRXMSG, "csmchan_cndrxmsg_indication", sizeof(csmchan_cndrxmsg_indication),
     ROWS(cndrxmsg_indication_layout::rows), read_cndrx_bytes, 0, nullptr, nullptr},
    IND(FC_BERT_LOCK_INDICATION, csmchan_bert_lock_indication, bert_lock_indication_layout),
    IND(FC_INBAND_DTMF_DET, csmchan_inband_dtmf_det_indication, dtmf_det_indication_layout),
    IND(FC_RFC2833_DTMF_DET, csmchan_rfc2833_dtmf_det_indication, dtmf_det_indication_layout),
    IND(FC_MDIO_AUTODECT_IND, csmdev_mdio_autodetect_indication, mdio_autodetect_indication_layout),
    {FC_SYNCDAT, "csmchan_syncdat_indication", sizeof(csmchan_syncdat_indication), nullptr, 0,
     read_sync_words, 8, nullptr, nullptr},
    {FC_SYNCEOF, "csmchan_synceof_indication", sizeof(csmchan_synceof_indication), nullptr, 0,
     read_sync_words, 8, nullptr, nullptr},
};

#undef IND

// ---------------------------------------------------------------------------
// Diagnostic responses (command type 121).

namespace redirect_over_ip_udp_response_layout {
using T = csmdev_redirect_over_ip_udp_response;
const csm_field rows[] = {
    {LE(8), FIELD(response_code), 16, 0},
    {BE(10), FIELD(destination_mac.part1), 16, 0},
    {BE(12), FIELD(destination_mac.part2), 16, 0},
    {BE(14), FIELD(destination_mac.part3), 16, 0},
    {BE(16), FIELD(source_mac.part1), 16, 0},
    {BE(18), FIELD(source_mac.part2), 16, 0},
    {BE(20), FIELD(source_mac.part3), 16, 0},
    {LE(22), FIELD(packet_type), 16, 0},
    {LE(24), FIELD(assigned_ip_header.version), 16, 0},
    {LE(26), FIELD(assigned_ip_header.total_length), 16, 0},
    {LE(28), FIELD(assigned_ip_header.identification), 16, 0},
    {LE(30), FIELD(assigned_ip_header.fragmentation), 16, 0},
    {LE(32), FIELD(assigned_ip_header.protocol), 16, 0},
    {LE(34), FIELD(assigned_ip_header.checksum), 16, 0},
    {LE(36), FIELD(source_ip.part1), 16, 0},
    {LE(38), FIELD(source_ip.part2), 16, 0},
    {LE(40), FIELD(destination_ip.part1), 16, 0},
    {LE(42), FIELD(destination_ip.part2), 16, 0},
    {BE(44), FIELD(assigned_udp_header.source_port), 16, 0},
    {BE(46), FIELD(assigned_udp_header.destination_port), 16, 0},
    {LE(48), FIELD(assigned_udp_header.length), 16, 0},
    {LE(50), FIELD(assigned_udp_header.checksum), 16, 0},
};
} // namespace

// An address word pair as dotted text; the first word holds the first two
// octets, high octet first.
void ip_text(char *out, size_t size, const csm_ip_address &ip)
{
    snprintf(out, size, "%u.%u.%u.%u", (unsigned)(ip.part1 >> 8), (unsigned)(ip.part1 & 0xFF),
             (unsigned)(ip.part2 >> 8), (unsigned)(ip.part2 & 0xFF));
}

void log_redirect(char *out, size_t size, const void *record)
{
    const auto *r = static_cast<const csmdev_redirect_over_ip_udp_response *>(record);
    char src[16], dst[16];
    ip_text(src, sizeof src, r->source_ip);
    ip_text(dst, sizeof dst, r->destination_ip);
    const csm_mac_address &s = r->source_mac, &d = r->destination_mac;
    snprintf(out, size,
             "response_code:|0x%04x| source_mac:|%02x:%02x:%02x:%02x:%02x:%02x| source_ip:|%s| "
             "source_port:|%d| destination_mac:|%02x:%02x:%02x:%02x:%02x:%02x| destination_ip:|%s| "
             "destination_port:|%d|",
             (unsigned)r->response_code, s.part1 >> 8, s.part1 & 0xFF, s.part2 >> 8, s.part2 & 0xFF,
             s.part3 >> 8, s.part3 & 0xFF, src, (int)r->assigned_udp_header.source_port,
             d.part1 >> 8, d.part1 & 0xFF, d.part2 >> 8, d.part2 & 0xFF, d.part3 >> 8,
             d.part3 & 0xFF, dst, (int)r->assigned_udp_header.destination_port);
}

namespace unified_diag_response_layout {
using T = csmdev_set_unified_diag_response;
const csm_field rows[] = {
    {LE(8), FIELD(response_code), 16, 0},
};
} // namespace

void log_unified_diag(char *out, size_t size, const void *record)
{
    const auto *r = static_cast<const csmdev_set_unified_diag_response *>(record);
    snprintf(out, size, "response_code:%x", (unsigned)r->response_code);
}

const csm_reply_layout redirect_response = {
    REDIRECT_OVER_IP_UDP, "csmdev_redirect_over_ip_udp_response",
    sizeof(csmdev_redirect_over_ip_udp_response), ROWS(redirect_over_ip_udp_response_layout::rows),
    nullptr, 0, nullptr, log_redirect};

const csm_reply_layout unified_diag_response = {
    0, "csmdev_set_unified_diag_response", sizeof(csmdev_set_unified_diag_response),
    ROWS(unified_diag_response_layout::rows), nullptr, 0, nullptr, log_unified_diag};

template <size_t N>
const csm_reply_layout *find(const csm_reply_layout (&table)[N], int function_code)
{
    for (const csm_reply_layout &l : table)
        if (l.function_code == function_code)
            return &l;
    return nullptr;
}

} // namespace

const csm_reply_layout *csm_find_command_response_layout(int function_code)
{
    if (const csm_reply_layout *l = find(command_responses, function_code))
        return l;
    // Every other command the constructor knows answers with its result
    // code alone; the diagnostic codes answer as diagnostics.
    const csm_command_layout *c = csm_find_command_layout(function_code);
    if (c && c->command_class != CSM_CLASS_DIAG)
        return &generic_response;
    return nullptr;
}

const csm_reply_layout *csm_find_query_response_layout(int function_code)
{
    return find(query_responses, function_code);
}

const csm_reply_layout *csm_find_indication_layout(int function_code)
{
    return find(indications, function_code);
}

const csm_reply_layout *csm_find_diag_response_layout(int function_code)
{
    if (function_code == REDIRECT_OVER_IP_UDP)
        return &redirect_response;
    const csm_command_layout *c = csm_find_command_layout(function_code);
    if (c && c->command_class == CSM_CLASS_DIAG)
        return &unified_diag_response;
    return nullptr;
}

int csm_reply_min_length(const csm_reply_layout *layout)
{
    if (layout->min_length)
        return layout->min_length;
    return csm_rows_end(layout->rows, layout->nrows);
}
