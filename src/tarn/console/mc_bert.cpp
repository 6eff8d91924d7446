// Bit-error-rate tests on the voice channel of a running call: the start
// with the automatic or a custom pattern, the statistics query, and the
// listing of what the media processor reported per channel.
#include "mc_bert.h"

#include <cstdlib>

#include "application.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "global_lock.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "pools.h"

namespace {

enum { BERT_CHANNEL_LAST = 254, BERT_STATS_TYPE = 35 };

// The call at index with its voice channel running, or null after the
// refusal line of `what`.
call_object *voice_call(const char *arg, FILE *out, const char *what)
{
    int index = atoi(arg);
    call_object *co = get_operation_by_index(index);
    if (!co) {
        fprintf(out, "cannot %s, couldn't retrieve call object at index %i\n", what, index);
        return nullptr;
    }
    if (!(co->msp_state & MSP_VOICE_ACTIVE)) {
        fprintf(out, "cannot %s, no voice processing active at index %i\n", what, index);
        return nullptr;
    }
    return co;
}

} // namespace

void list_bert_for_channel(FILE *out, int channel)
{
    if (channel < 0 || channel > BERT_CHANNEL_LAST) {
        fprintf(out, "Invalid channel %i given\n", channel);
        return;
    }
    const bert_statistics *b = gp ? gp->bert_stat[channel] : nullptr;
    if (!b) {
        fprintf(out, "BERT DATA FOR CHANNEL %i not acquired yet\n", channel);
        return;
    }
    fprintf(out, "LISTING BERT DATA FOR CHANNEL %i\n", channel);
    fprintf(out, "Statistics Version                           : %i\n", (int)b->statistics_version);
    fprintf(out, "Number of packets received                   : %i\n", (int)b->number_of_packets_received);
    fprintf(out, "Number of packets lost                       : %i\n", (int)b->number_of_packets_lost);
    fprintf(out, "Number of lock transitions                   : %i\n", (int)b->number_of_lock_transitions);
    fprintf(out, "Number of good bits received since last lock : %i\n",
            (int)b->number_of_good_bits_received_since_last_lock);
    fprintf(out, "Number of good bits received                 : %i\n", (int)b->number_of_good_bits_received);
    fprintf(out, "Number of bits transmitted                   : %i\n", (int)b->number_of_bits_transmitted);
    fprintf(out, "Number of bits received                      : %i\n", (int)b->number_of_bits_received);
    fprintf(out, "Number of bad bits received since last lock  : %i\n",
            (int)b->number_of_bad_bits_received_since_last_lock);
    fprintf(out, "Number of bad bits received                  : %i\n", (int)b->number_of_bad_bits_received);
    fprintf(out, "Current lock state                           : %i\n", (int)b->current_lock_state);
}

int mc_bert_test_start_for_call(const char *arg, FILE *out, int *)
{
    int index = atoi(arg);
    fprintf(out, "starting bert for call on index %i\n\n", index);
    call_object *co = voice_call(arg, out, "start bert");
    if (!co)
        return 0;
    lock_hold hold(&lock_manager::msp_queue_lock);
    int channel = msp_timeslot_to_channel(co->tdm_logical_timeslot);
    fprintf(out, "Starting bert for call at index %i => timeslot %i / channel %i\n", index, co->tdm_logical_timeslot,
            channel);
    msp_command_counter++;
    magic_csm m = create_default_csm_msg(FC_SET_TEST_MODE, ++gp->msp_counter);
    if (!csm_msg_is_null(m)) {
        csmchan_set_test_mode *t = m.u_csmchan_set_test_mode;
        const bool automatic = gp->bert_use_custom_pattern == 0;
        // Generate and verify; the pattern's interface; lock after 256 good bits.
        t->test_pattern_generation_verification = automatic ? 3 : 1;
        t->interface = 0;
        t->num_of_contiguous_good_bits_to_cause_lock = 1 << 8;
        t->test_pattern = gp->bert_pattern;
        if (automatic)
            fprintf(out, "Bert Test => Using automatic pattern\n");
        else
            fprintf(out, "Bert Test => Using custom test pattern %02x\n", gp->bert_pattern);
        msp_queue_command_nolock(m, co->tdm_logical_timeslot, co, 0);
    }
    msp_command_counter++;
    return 0;
}

int mc_bert_test_fetch_statistics_for_call(const char *arg, FILE *out, int *)
{
    call_object *co = voice_call(arg, out, "bert_stat");
    if (!co)
        return 0;
    lock_hold hold(&lock_manager::msp_queue_lock);
    magic_csm m = create_query_csm_msg(0, 1, BERT_STATS_TYPE, ++gp->msp_counter);
    if (!csm_msg_is_null(m))
        msp_queue_command_nolock(m, co->tdm_logical_timeslot, co, 1);
    return 0;
}

int mc_bert_test_list_statistics_for_call(const char *arg, FILE *out, int *)
{
    int index = atoi(arg);
    call_object *co = get_operation_by_index(index);
    if (!co || co->tdm_logical_timeslot < 0) {
        fprintf(out, "Do not have active call on index %i\n", index);
        return 0;
    }
    int channel;
    {
        lock_hold hold(&lock_manager::msp_queue_lock);
        channel = msp_timeslot_to_channel(co->tdm_logical_timeslot);
    }
    fprintf(out, "Got channel %i for call at index %i\n", channel, index);
    list_bert_for_channel(out, channel);
    return 0;
}

int mc_bert_test_list_statistics_for_channel(const char *arg, FILE *out, int *)
{
    list_bert_for_channel(out, atoi(arg));
    return 0;
}

int mc_bert_test_set_custom_test_pattern(const char *arg, FILE *out, int *)
{
    if (!gp)
        return 0;
    gp->bert_pattern = (uint8_t)(strtoul(arg, nullptr, 16) & 0xff);
    fprintf(out, "Setting custom test pattern 0x%02x\n", gp->bert_pattern);
    return 0;
}

int mc_bert_test_set_test_mode(const char *arg, FILE *, int *)
{
    if (gp)
        gp->bert_use_custom_pattern = atoi(arg);
    return 0;
}
