// Statistics of the media processor on demand: the TDM synchronisation
// counters between the line-interface FPGA and the processor, and the voice
// playout errors of one call's channel. Each query goes through the command
// queue without waiting; the reply parser fills the store, which is polled
// here for at most 400 ms.
#include "mc_msp_stats.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "application.h"
#include "csm_message.h"
#include "csm_stats.h"
#include "global_lock.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "pools.h"

namespace {

enum { STATS_WAIT_MS = 400, STATS_POLL_MS = 5, TDM_SYNC_CLASS = 5, TDM_SYNC_TYPE = 0x91, PLYERR_CLASS = 1,
       PLYERR_TYPE = 7, DEVICE_ADDRESS = 0xffff, DEVIATION_US = 500 };

uint32_t load(const uint32_t &v)
{
    return __atomic_load_n(&v, __ATOMIC_ACQUIRE);
}

// What became of a query: a reply, a rejection, or nothing in time.
enum wait_result { GOT_REPLY, REJECTED, NO_REPLY };

long long now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Polls every 5 ms; the window is 400 ms of the clock, however long a
// loaded machine lets each pause run.
wait_result wait_for_reply(const uint32_t &sequence, const uint32_t &error_sequence, uint32_t seq0, uint32_t err0)
{
    const long long end = now_ms() + STATS_WAIT_MS;
    for (;;) {
        if (load(sequence) != seq0)
            return GOT_REPLY;
        if (now_ms() >= end)
            return load(error_sequence) != err0 ? REJECTED : NO_REPLY;
        usleep(STATS_POLL_MS * 1000);
    }
}

void queue_query(magic_csm m, int timeslot, void *context)
{
    {
        lock_hold hold(&lock_manager::msp_queue_lock);
        msp_command_counter++;
        msp_queue_command_nolock(m, timeslot, context, 0);
        msp_command_counter++;
    }
}

void print_doubtful(FILE *out, uint32_t code)
{
    fprintf(out, "WARNING: device reported a problem with this query, error/format code %u (%#06x).\n", code, code);
    fprintf(out, "         The values below may be meaningless.\n");
}

void print_common_head(FILE *out, int reset, long acquire_time)
{
    if (reset)
        fprintf(out, "Counters were reset after this read\n");
    if (acquire_time > 0)
        fprintf(out, "%-46s: %lds ago\n", "Acquired", (long)time(nullptr) - acquire_time);
}

} // namespace

int mc_msp_tdm_sync_stats_common(const char *arg, FILE *out, int reset)
{
    if (!gp)
        return 0;
    int bus = arg && arg[0] ? atoi(arg) : 0;
    if (bus < 0 || bus > 255) {
        fprintf(out, "Invalid bus id %i, expected 0..3 for a single bus or 4..255 for all buses\n", bus);
        return 0;
    }
    unsigned fc = (unsigned)bus * 256 + (reset ? 1 : 0);
    if (fc != 0) {
        fprintf(out, "NOTE: function code %#06x is not 0x0000. The MSP command loop matches a\n", fc);
        fprintf(out, "      reply to its request by function code; if the device does not echo\n");
        fprintf(out, "      this value back, tarn treats the reply as an unsolicited indication\n");
        fprintf(out, "      and may exit with MSP_DEVICE_NOT_ANSWERING. Use plain 'xt' if unsure.\n");
    }
    msp_tdm_sync_statistics_store &s = msp_tdm_sync_stats;
    uint32_t seq0 = load(s.sequence), err0 = load(s.error_sequence);
    magic_csm m = create_stat_query_csm_msg((int)fc, TDM_SYNC_CLASS, TDM_SYNC_TYPE, ++gp->msp_counter);
    if (csm_msg_is_null(m)) {
        fprintf(out, "Could not create TDM_SYNC_STATISTICS query\n");
        return 0;
    }
    msp_tdm_sync_requested_fc = fc;
    queue_query(m, DEVICE_ADDRESS, nullptr);
    switch (wait_for_reply(s.sequence, s.error_sequence, seq0, err0)) {
    case NO_REPLY:
        fprintf(out, "No TDM_SYNC_STATISTICS reply within %i ms (bus %i, fc %#06x).\n", (int)STATS_WAIT_MS, bus, fc);
        fprintf(out, "The device may not implement command class 0x05 / type 0x91. Check the log for\n");
        fprintf(out, "\"MSP rejected command\" (error_code) entries.\n");
        return 0;
    case REJECTED:
        fprintf(out, "TDM_SYNC_STATISTICS was REJECTED by the device: error_code %u (%#06x)\n", s.last_error_code,
                s.last_error_code);
        return 0;
    case GOT_REPLY: break;
    }
    if (load(s.error_sequence) != err0)
        print_doubtful(out, s.last_error_code);
    const csmdev_tdm_sync_statistics_response &d = s.data;
    fprintf(out, "TDM SYNC STATISTICS (bus %i%s, function code %#06x, msg_length %u)\n", bus,
            bus < 4 ? "" : " = all buses", fc, s.msg_length);
    print_common_head(out, reset, s.acquire_time);
    fprintf(out, "%-46s: %u\n", "Format revision", d.format_revision);
    fprintf(out, "%-46s: %u\n", "Receive Overflow Count", d.receive_overflow_count);
    fprintf(out, "%-46s: %u\n", "Transmit Underflow Count", d.transmit_underflow_count);
    fprintf(out, "%-46s: %u\n", "Receive Samples Dropped", d.receive_samples_dropped);
    fprintf(out, "%-46s: %u\n", "Transmit Samples Dropped", d.transmit_samples_dropped);
    fprintf(out, "%-46s: %u\n", "Startup Out of Sync Count", d.startup_out_of_sync_count);
    fprintf(out, "%-46s: %u%s\n", "RX Bank Switch Out Of Sync Count", d.rx_bank_switch_out_of_sync_count,
            " (tracking OFF by default)");
    fprintf(out, "%-46s: %u\n", "IRQ Out of Sync Count", d.irq_out_of_sync_count);
    fprintf(out, "%-46s: %u (= %u us)%s\n", "Maximal transmitter deviation", d.max_transmitter_deviation,
            d.max_transmitter_deviation * DEVIATION_US, " (tracking OFF by default)");
    if (d.have_max_receiver_deviation & 1)
        fprintf(out, "%-46s: %u (= %u us)%s\n", "Maximal receiver deviation", d.max_receiver_deviation,
                d.max_receiver_deviation * DEVIATION_US, " (tracking OFF by default)");
    else
        fprintf(out, "%-46s: not sent by device (9-counter reply)\n", "Maximal receiver deviation");
    return 0;
}

int mc_msp_plyerr_stats_common(const char *arg, FILE *out, int reset)
{
    int index = atoi(arg ? arg : "");
    call_object *co = get_operation_by_index(index);
    if (!co) {
        fprintf(out, "cannot read playout statistics, couldn't retrieve call object at index %i\n", index);
        return 0;
    }
    if (!(co->msp_state & MSP_VOICE_ACTIVE)) {
        fprintf(out, "cannot read playout statistics, no voice processing active at index %i\n", index);
        return 0;
    }
    int ts = co->tdm_logical_timeslot;
    if (ts < 0) {
        fprintf(out, "cannot read playout statistics, no tdm timeslot for call at index %i\n", index);
        return 0;
    }
    int channel;
    {
        lock_hold hold(&lock_manager::msp_queue_lock);
        channel = msp_timeslot_to_channel(ts);
    }
    if (channel < 0 || channel >= MSP_PLYERR_CHANNELS) {
        fprintf(out, "cannot read playout statistics, invalid channel %i for call at index %i\n", channel, index);
        return 0;
    }
    msp_plyerr_store &s = msp_plyerr_stats[channel];
    uint32_t seq0 = load(s.sequence), err0 = load(s.error_sequence);
    magic_csm m = create_stat_query_csm_msg(reset ? 1 : 0, PLYERR_CLASS, PLYERR_TYPE, ++gp->msp_counter);
    if (csm_msg_is_null(m)) {
        fprintf(out, "Could not create VoIP_PLYERR query\n");
        return 0;
    }
    queue_query(m, ts, co);
    switch (wait_for_reply(s.sequence, s.error_sequence, seq0, err0)) {
    case NO_REPLY:
        fprintf(out, "No VoIP_PLYERR reply for channel %i within %i ms. Check the log for\n", channel,
                (int)STATS_WAIT_MS);
        fprintf(out, "\"MSP rejected command\" (error_code) entries.\n");
        return 0;
    case REJECTED:
        fprintf(out, "VoIP_PLYERR was REJECTED by the device: error_code %u (%#06x)\n", s.last_error_code,
                s.last_error_code);
        return 0;
    case GOT_REPLY: break;
    }
    if (load(s.error_sequence) != err0)
        print_doubtful(out, s.last_error_code);
    const csmchan_voip_plyerr_response &d = s.data;
    fprintf(out, "VOICE PLAYOUT ERROR STATISTICS (call index %i, channel %i, timeslot %i, msg_length %u)\n", index,
            channel, ts, s.msg_length);
    print_common_head(out, reset, s.acquire_time);
    fprintf(out, "%-46s: %u\n", "Format revision", d.format_revision);
    fprintf(out, "%-46s: %u ms\n", "Interpolative Concealment [to PCM]", d.interpolative_concealment);
    fprintf(out, "%-46s: %u ms\n", "Silence Concealment [to PCM]", d.silence_concealment);
    fprintf(out, "%-46s: %u ms\n", "Jitter Buffer Overflow Discard [from IP]", d.jitter_buffer_overflow_discard);
    fprintf(out, "%-46s: %u\n", "End-point Detection Errors", d.endpoint_detection_errors);
    return 0;
}

int mc_msp_tdm_sync_stats(const char *arg, FILE *out, int *)
{
    return mc_msp_tdm_sync_stats_common(arg, out, 0);
}

int mc_msp_tdm_sync_stats_reset(const char *arg, FILE *out, int *)
{
    return mc_msp_tdm_sync_stats_common(arg, out, 1);
}

int mc_msp_plyerr_stats(const char *arg, FILE *out, int *)
{
    return mc_msp_plyerr_stats_common(arg, out, 0);
}

int mc_msp_plyerr_stats_reset(const char *arg, FILE *out, int *)
{
    return mc_msp_plyerr_stats_common(arg, out, 1);
}
