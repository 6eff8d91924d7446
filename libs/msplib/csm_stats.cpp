#include "csm_stats.h"

#include <cstdlib>
#include <ctime>

#include "csm_codes.h"
#include "csm_layout_rows.h"
#include "csm_log.h"
#include "csm_message.h"
#include "log.h"

msp_tdm_sync_statistics_store msp_tdm_sync_stats;
msp_plyerr_store msp_plyerr_stats[MSP_PLYERR_CHANNELS];
uint32_t msp_tdm_sync_requested_fc;

namespace {

namespace tdm_sync_layout {
using T = csmdev_tdm_sync_statistics_response;
const csm_field rows[] = {
    {LE(8), FIELD(format_revision), 32, 0},
    {LE(12), FIELD(receive_overflow_count), 32, 0},
    {LE(16), FIELD(transmit_underflow_count), 32, 0},
    {LE(20), FIELD(receive_samples_dropped), 32, 0},
    {LE(24), FIELD(transmit_samples_dropped), 32, 0},
    {LE(28), FIELD(startup_out_of_sync_count), 32, 0},
    {LE(32), FIELD(rx_bank_switch_out_of_sync_count), 32, 0},
    {LE(36), FIELD(irq_out_of_sync_count), 32, 0},
    {LE(40), FIELD(max_transmitter_deviation), 32, 0},
};
// Present in a reply of ten counters or more.
const csm_field optional_rows[] = {
    {LE(44), FIELD(max_receiver_deviation), 32, 0},
};
} // namespace

namespace plyerr_layout {
using T = csmchan_voip_plyerr_response;
const csm_field rows[] = {
    {LE(8), FIELD(format_revision), 32, 0},
    {LE(12), FIELD(interpolative_concealment), 32, 0},
    {LE(16), FIELD(silence_concealment), 32, 0},
    {LE(20), FIELD(jitter_buffer_overflow_discard), 32, 0},
    {LE(24), FIELD(endpoint_detection_errors), 32, 0},
};
} // namespace

namespace bert_layout {
using T = csmchan_bert_stats_response;
const csm_field rows[] = {
    {LE(8), FIELD(statistics_version), 32, 0},
    {LE(12), FIELD(current_lock_state), 32, 0},
    {LE(16), FIELD(number_of_bits_received), 32, 0},
    {LE(20), FIELD(number_of_good_bits_received), 32, 0},
    {LE(24), FIELD(number_of_bad_bits_received), 32, 0},
    {LE(28), FIELD(number_of_good_bits_received_since_last_lock), 32, 0},
    {LE(32), FIELD(number_of_bad_bits_received_since_last_lock), 32, 0},
    {LE(36), FIELD(number_of_lock_transitions), 32, 0},
    {LE(40), FIELD(number_of_bits_transmitted), 32, 0},
    {LE(44), FIELD(number_of_packets_received), 32, 0},
    {LE(48), FIELD(number_of_packets_lost), 32, 0},
};
} // namespace

// The SRTP counters, packed without gaps after the 16-bit revision: for each
// direction the SRTP and SRTCP encrypted and authenticated counts (64 bits)
// and non-authenticated count (32 bits).
struct srtp_counter {
    uint8_t bytes;
    size_t offset;
};

#define SRTP(f) {sizeof(((csmchan_ct_srtp_stats_response *)nullptr)->f), \
                 offsetof(csmchan_ct_srtp_stats_response, f)}
const srtp_counter srtp_counters[] = {
    SRTP(tx_srtp_encrypted), SRTP(tx_srtp_authenticated), SRTP(tx_srtp_non_authenticated),
    SRTP(tx_srtcp_encrypted), SRTP(tx_srtcp_authenticated), SRTP(tx_srtcp_non_authenticated),
    SRTP(rx_srtp_encrypted), SRTP(rx_srtp_authenticated), SRTP(rx_srtp_non_authenticated),
    SRTP(rx_srtcp_encrypted), SRTP(rx_srtcp_authenticated), SRTP(rx_srtcp_non_authenticated),
};
#undef SRTP
constexpr int SRTP_REPLY_LENGTH = 90;

template <typename R> R *new_reply(csm_header *h)
{
    auto *r = static_cast<R *>(calloc(1, sizeof(R)));
    if (!r) {
        free(h);
        return nullptr;
    }
    r->header = h;
    return r;
}

void store_u32(uint32_t *p, uint32_t v)
{
    __atomic_store_n(p, v, __ATOMIC_RELEASE);
}

void bump(uint32_t *counter)
{
    store_u32(counter, __atomic_load_n(counter, __ATOMIC_RELAXED) + 1);
}

// A reply of the wrong length for the frame kind: null after a CRITICAL line.
magic_csm refuse_short(csm_header *h, const char *what, int need)
{
    LOGD(MSP, 1, "", "CRITICAL: %s reply too short: msg_length %i, needs %i", what,
         h->msg_length, need);
    free(h);
    return csm_null_msg();
}

} // namespace

magic_csm msp_buffer_to_struct_tdm_sync_stats(csm_header *h, const uint8_t *frame, int *success,
                                              int)
{
    magic_csm m = csm_null_msg();
    auto *r = new_reply<csmdev_tdm_sync_statistics_response>(h);
    if (!r)
        return m;
    m.u_raw = r;
    msp_tdm_sync_statistics_store &s = msp_tdm_sync_stats;
    int n = (h->msg_length - 8) / 4;
    if (n <= 8) {
        LOGD(MSP, 1, "",
             "CRITICAL: TDM_SYNC_STATISTICS reply too short: msg_length %i (%#x) bytes => only %i "
             "of the expected 9..10 counters; not storing",
             h->msg_length, h->msg_length, n < 0 ? 0 : n);
        store_u32(&s.last_error_code, h->msg_length);
        bump(&s.error_sequence);
        if (success)
            *success = 0;
        return m;
    }
    csm_read_rows(ROWS(tdm_sync_layout::rows), r, frame, h->msg_length);
    if (n >= 10) {
        csm_read_rows(ROWS(tdm_sync_layout::optional_rows), r, frame, h->msg_length);
        r->have_max_receiver_deviation = 1;
    }
    if (r->format_revision != MSP_TDM_SYNC_REVISION) {
        LOGD(MSP, 1, "",
             "CRITICAL: TDM_SYNC_STATISTICS unexpected format revision: %u (%#x), expected %u "
             "(%#x) => counter layout may be wrong, values suspect",
             r->format_revision, r->format_revision, MSP_TDM_SYNC_REVISION, MSP_TDM_SYNC_REVISION);
        store_u32(&s.last_error_code, r->format_revision);
        bump(&s.error_sequence);
        if (success)
            *success = 0;
    } else if (success) {
        *success = 1;
    }
    s.data = *r;
    s.data.header = nullptr;
    s.requested_fc = msp_tdm_sync_requested_fc;
    store_u32(&s.msg_length, h->msg_length);
    s.acquire_time = (long)time(nullptr);
    bump(&s.sequence);
    if (verbose_msp_logging)
        LOGM(MSP, 18,
             "%s:%sTDM_SYNC_STATISTICS: rev %u rxovf %u txunf %u rxdrop %u txdrop %u startoos %u "
             "banksw %u irqoos %u txdev %u",
             msp_lookup_cid(h->msp_timeslot), get_intro_command_response(), r->format_revision,
             r->receive_overflow_count, r->transmit_underflow_count, r->receive_samples_dropped,
             r->transmit_samples_dropped, r->startup_out_of_sync_count,
             r->rx_bank_switch_out_of_sync_count, r->irq_out_of_sync_count,
             r->max_transmitter_deviation);
    return m;
}

magic_csm msp_buffer_to_struct_plyerr(csm_header *h, const uint8_t *frame, int *success,
                                      int channel)
{
    magic_csm m = csm_null_msg();
    auto *r = new_reply<csmchan_voip_plyerr_response>(h);
    if (!r)
        return m;
    m.u_raw = r;
    bool in_range = channel >= 0 && channel < MSP_PLYERR_CHANNELS;
    int n = (h->msg_length - 8) / 4;
    if (n <= 4) {
        LOGD(MSP, 1, "",
             "CRITICAL: VoIP_PLYERR reply too short on channel %i: msg_length %i (%#x) bytes => "
             "only %i of 5 expected 32-bit words; not storing",
             channel, h->msg_length, h->msg_length, n < 0 ? 0 : n);
        if (in_range) {
            store_u32(&msp_plyerr_stats[channel].last_error_code, h->msg_length);
            bump(&msp_plyerr_stats[channel].error_sequence);
        }
        if (success)
            *success = 0;
        return m;
    }
    csm_read_rows(ROWS(plyerr_layout::rows), r, frame, h->msg_length);
    bool revision_ok = r->format_revision == MSP_PLYERR_REVISION;
    if (!revision_ok)
        LOGD(MSP, 1, "",
             "CRITICAL: VoIP_PLYERR unexpected format revision on channel %i: %u (%#x), expected "
             "%u (%#x) => values suspect",
             channel, r->format_revision, r->format_revision, MSP_PLYERR_REVISION,
             MSP_PLYERR_REVISION);
    if (success)
        *success = revision_ok ? 1 : 0;
    if (!in_range) {
        LOGD(MSP, 1, "", "CRITICAL: VoIP_PLYERR reply for out-of-range channel %i, cannot store",
             channel);
    } else {
        msp_plyerr_store &s = msp_plyerr_stats[channel];
        s.data = *r;
        s.data.header = nullptr;
        store_u32(&s.msg_length, h->msg_length);
        s.acquire_time = (long)time(nullptr);
        if (!revision_ok) {
            store_u32(&s.last_error_code, r->format_revision);
            bump(&s.error_sequence);
        }
        bump(&s.sequence);
    }
    if (verbose_msp_logging)
        LOGM(MSP, 18, "%s:%sVoIP_PLYERR: rev %u interp %u ms, silence %u ms, jbovfl %u ms, epd_err %u",
             msp_lookup_cid(h->msp_timeslot), get_intro_command_response(), r->format_revision,
             r->interpolative_concealment, r->silence_concealment,
             r->jitter_buffer_overflow_discard, r->endpoint_detection_errors);
    return m;
}

magic_csm msp_buffer_to_struct_bert(csm_header *h, const uint8_t *frame, int *, int)
{
    int need = csm_rows_end(ROWS(bert_layout::rows));
    if (h->msg_length < need)
        return refuse_short(h, "BERT statistics", need);
    magic_csm m = csm_null_msg();
    auto *r = new_reply<csmchan_bert_stats_response>(h);
    if (!r)
        return m;
    m.u_raw = r;
    csm_read_rows(ROWS(bert_layout::rows), r, frame, h->msg_length);
    if (verbose_msp_logging) {
        char fields[1024];
        csm_format_rows(fields, sizeof fields, ROWS(bert_layout::rows), r);
        LOGM(MSP, 18, "%s:%s%s: %s", msp_lookup_cid(h->msp_timeslot), get_intro_command_response(),
             get_function_code_extended(h->function_code), fields);
    }
    return m;
}

magic_csm msp_buffer_to_struct_srtp(csm_header *h, const uint8_t *frame, int *, int)
{
    if (h->msg_length < SRTP_REPLY_LENGTH)
        return refuse_short(h, "SRTP statistics", SRTP_REPLY_LENGTH);
    magic_csm m = csm_null_msg();
    auto *r = new_reply<csmchan_ct_srtp_stats_response>(h);
    if (!r)
        return m;
    m.u_raw = r;
    r->format_revision = (uint32_t)(frame[8] | (frame[9] << 8));
    int at = 10;
    for (const srtp_counter &c : srtp_counters) {
        uint64_t v = 0;
        for (int k = c.bytes - 1; k >= 0; k--)
            v = (v << 8) | frame[at + k];
        char *field = reinterpret_cast<char *>(r) + c.offset;
        if (c.bytes == 8)
            *reinterpret_cast<uint64_t *>(field) = v;
        else
            *reinterpret_cast<uint32_t *>(field) = (uint32_t)v;
        at += c.bytes;
    }
    if (verbose_msp_logging)
        LOGM(MSP, 18, "%s:%s%s: raw_data", msp_lookup_cid(h->msp_timeslot), get_intro_indication(),
             get_function_code_extended(h->function_code));
    return m;
}

void msp_stats_note_rejected_query(int command_class, int command_type, int channel,
                                   int error_code)
{
    if (command_class == CSM_CLASS_DEVICE_ETH && command_type == CSM_TYPE_TDM_SYNC_STATS) {
        store_u32(&msp_tdm_sync_stats.last_error_code, (uint32_t)error_code);
        bump(&msp_tdm_sync_stats.error_sequence);
    } else if (command_class == CSM_CLASS_STATS && command_type == CSM_TYPE_PLYERR_STATS &&
               channel >= 0 && channel < MSP_PLYERR_CHANNELS) {
        store_u32(&msp_plyerr_stats[channel].last_error_code, (uint32_t)error_code);
        bump(&msp_plyerr_stats[channel].error_sequence);
    }
}
