// The command thread "tarn.msp_loop".
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "csm_codes.h"
#include "csm_log.h"
#include "csm_message.h"
#include "csm_parse.h"
#include "csm_serialise.h"
#include "log.h"
#include "msp_link.h"
#include "msp_manager.h"
#include "msp_queue.h"
#include "msp_timeslot.h"

namespace {

pthread_t command_thread_id;
std::atomic<bool> command_thread_running{false};
sem_t stop_semaphore;
std::atomic<int> stop_requested{0};
long answer_wait_usec = MSP_ANSWER_WAIT_USEC;

// The DSP channel an address word names: the device, the channel on a TDM
// timeslot (MSP_CHANNEL_FREE when none, also for a timeslot outside the
// map), or a channel given directly.
int channel_of_address(int address)
{
    if (address == MSP_ADDRESS_DEVICE)
        return MSP_DEVICE_CHANNEL;
    if (address >= 0 && address < MSP_ADDRESS_CHANNEL_BASE) {
        int ch = msp_timeslot_to_channel(address);
        return ch < 0 ? MSP_CHANNEL_FREE : ch;
    }
    if (address >= MSP_ADDRESS_CHANNEL_BASE)
        return address - MSP_ADDRESS_CHANNEL_BASE;
    return MSP_CHANNEL_FREE;
}

// Takes the finished head off the queue, wakes its caller and frees it.
void finish(csminstruction *ins, int result)
{
    msp_queue_lock_take();
    msp_queue_remove(ins);
    msp_queue_lock_release();
    msp_wake_caller(ins, result);
    msp_free_instruction(ins);
}

void list_queue_locked()
{
    msp_queue_lock_take();
    msp_list_queue();
    msp_queue_lock_release();
}

// An indication (or anything else) that arrived while no command waits.
void take_unsolicited(uint8_t *frame)
{
    if (csme_wait_readable(msp_socket, MSP_IDLE_WAIT_USEC) != 1)
        return;
    int channel = 0;
    int len = msp_fetch_msg(msp_socket, frame, &channel);
    msp_running = 1;
    if (len <= 0) {
        LOGD(MSP, 5, nullptr, "Garbage from MSP (1)");
        return;
    }
    LOGD(MSP, 9, nullptr, "NOW INDICATION len %i %x %x %x %x %x %x %x %x ", len, frame[0], frame[1],
         frame[2], frame[3], frame[4], frame[5], frame[6], frame[7]);
    int success = 0;
    magic_csm m = msp_buffer_to_struct(frame, len, &success, channel);
    LOGD(MSP, 9, nullptr, "GOT INDICATION1 %p", m.u_raw);
    MSP_SHOW_MSG_RECV(nullptr, frame, len);
    if (csm_msg_is_null(m)) {
        LOGD(MSP, 1, nullptr, "CRITICAL: UNKWNOWN MESSAGE (nil), CANNOT HANDLE!");
        return;
    }
    LOGD(MSP, 9, nullptr, "dispatching event (1)!");
    msp_dispatch_event(m, MSP_EVENT_MESSAGE, channel);
}

// An Ethernet header for a channel must name its destination: a failed
// next-hop look-up leaves the address all zero.
bool eth_header_without_destination(magic_csm msg)
{
    const csm_header *h = get_header(msg);
    if (!h || h->function_code != FC_SET_ETH_HDR_CHAN)
        return false;
    const csmchan_set_eth_hdr_chan *r = msg.u_csmchan_set_eth_hdr_chan;
    return r->destination_mac_word1 == 0 && r->destination_mac_word2 == 0 &&
           r->destination_mac_word3 == 0;
}

// Works out the target channel of the head and does its timeslot work.
// Returns the target, or -1 when the head was put back for a later pass.
int prepare(csminstruction *ins, const msp_call_tag &tag)
{
    magic_csm msg = ins->csm_msg;
    csm_header *h = get_header(msg);
    int ts = ins->timeslot;
    switch (h->function_code) {
    case FC_SUPVSR_DESTROY_CHANNEL: {
        int ch = msp_timeslot_to_channel(ts);
        // A timeslot without a channel keeps the number the caller gave.
        if (ch >= 0 && ch < MSP_CHANNEL_FREE)
            msg.u_csmdev_destroy_channel->channel_number = (uint32_t)ch;
        if (msp_logging_active)
            LOGD(MSP, 9, tag.text, "destroying %i on timeslot %i (mspchan %i) - counter %i",
                 (int)msg.u_csmdev_destroy_channel->channel_number, ts, ch,
                 debug_destroy_channel_counter);
        msp_queue_lock_take();
        last_timeslot_destroyed = ts;
        msp_release_timeslot(ins->context, ts);
        msp_queue_timeslot_done(ins);
        msp_queue_lock_release();
        debug_destroy_channel_counter++;
        ins->timeslot = -1;
        return MSP_DEVICE_CHANNEL;
    }
    case FC_SUPVSR_CREATE_CHANNEL:
        // The create-channel query asks about the channel on a timeslot.
        if (h->command_type != CSM_TYPE_COMMAND)
            return channel_of_address(ts);
        if (ts >= 0 && ts < MSP_TIMESLOTS && timeslot_manager[ts] != MSP_CHANNEL_FREE) {
            msp_reorder_queue(ins);
            return -1;
        }
        msg.u_csmdev_create_channel->timeslot = (uint32_t)ts;
        if (ts >= 0 && ts < MSP_TIMESLOTS)
            set_cid_for_timeslot(ts, h->cid);
        LOGD(MSP, 9, tag.text, "creating channel on timeslot %i - counter %i", ts,
             debug_create_channel_counter);
        debug_create_channel_counter++;
        return MSP_DEVICE_CHANNEL;
    case FC_TRANS_CONNECT: {
        csmdev_trans_connect *t = msg.u_csmdev_trans_connect;
        if (!t->use_channels_instead_of_timeslots) {
            int a = channel_of_address((int)t->transcoding_channel_id_a);
            int b = channel_of_address((int)t->transcoding_channel_id_b);
            if (a >= MSP_CHANNEL_FREE || b >= MSP_CHANNEL_FREE) {
                LOGD(MSP, 0, tag.text,
                     "CRITICAL: transconnect of timeslots %i and %i without a channel on both",
                     (int)t->transcoding_channel_id_a, (int)t->transcoding_channel_id_b);
                return MSP_CHANNEL_FREE;
            }
            t->transcoding_channel_id_a = (uint32_t)a;
            t->transcoding_channel_id_b = (uint32_t)b;
            msp_list_timeslot_manager();
        }
        return MSP_DEVICE_CHANNEL;
    }
    default:
        return channel_of_address(ts);
    }
}

// Reads answers until the one with the command's function code; returns the
// caller's result. Every other message is dispatched.
int await_answer(csminstruction *ins, const msp_call_tag &tag, int target, uint8_t *sent, uint8_t *frame)
{
    csm_header *h = get_header(ins->csm_msg);
    int fc = h->function_code;
    for (;;) {
        if (csme_wait_readable(msp_socket, answer_wait_usec) != 1) {
            msp_show_msg_fprintf(ins->context, sent, sent[0]);
            TARN_EXIT(110, "msp_command_loop: MSP device did not answer -> check your settings -> exiting...");
        }
        msp_running = 1;
        int channel = 0;
        int len = msp_fetch_msg(msp_socket, frame, &channel);
        if (len <= 0) {
            LOGD(MSP, 5, tag.text, "Garbage from MSP (2)");
            continue;
        }
        int success = 0;
        magic_csm resp = msp_buffer_to_struct(frame, len, &success, channel);
        if (csm_msg_is_null(resp)) {
            MSP_SHOW_MSG_RECV(nullptr, frame, len);
            LOGD(MSP, 0, tag.text,
                 "CRITICAL: SOMETHING WENT WRONG, parsing of this message not implemented, possibly an unknown indication!");
            continue;
        }
        csm_header *rh = get_header(resp);
        // An indication never answers a command, even one of the same code.
        bool answer = rh->function_code == fc && rh->command_type != CSM_TYPE_INDICATION;
        if (!answer) {
            MSP_SHOW_MSG_RECV(nullptr, frame, len);
            if (rh->function_code == MSP_FC_SVR_ERROR_REPORT && rh->command_type == CSM_TYPE_RESPONSE) {
                LOGD(MSP, 0, tag.text, "CRITICAL: server error, please handle");
                LOGD(MSP, 9, tag.text, "msp_command_loop: dispatching event (4)!");
                msp_dispatch_event(resp, MSP_EVENT_MESSAGE, target);
                // The command was refused: its caller learns it.
                return -1;
            }
            LOGD(MSP, 9, tag.text, "dispatching event (5)!");
            msp_dispatch_event(resp, MSP_EVENT_MESSAGE, channel);
            continue;
        }

        MSP_SHOW_MSG_RECV(ins->context, frame, len);
        bool refused = false;
        if (rh->command_type == CSM_TYPE_RESPONSE) {
            // The result code travels in the first payload word.
            int rc = frame[0] > 9 && len >= 10 ? frame[8] | frame[9] << 8 : 0;
            if (fc == FC_SUPVSR_CREATE_CHANNEL && h->command_type == CSM_TYPE_COMMAND) {
                if (rc != 0) {
                    // One outcome: the handler ends the process with the
                    // code of the refusal; should it return, the command
                    // thread ends it.
                    msp_event_handler(resp, MSP_EVENT_MESSAGE, target);
                    TARN_EXIT(111, "%s msp_command_loop: Error creating channel on timeslot %i",
                              tag.text, (int)ins->csm_msg.u_csmdev_create_channel->timeslot);
                }
                int ch = resp.u_csmdev_create_channel_response->channel_number;
                LOGD(MSP, 9, tag.text, "assigning timeslot %i to channel %i", ins->timeslot, ch);
                msp_queue_lock_take();
                msp_assign_channel_to_timeslot(ins->timeslot, ch, ins);
                msp_queue_timeslot_done(ins);
                msp_queue_lock_release();
            } else if (fc == FC_SUPVSR_DESTROY_CHANNEL) {
                if (rc != 0 && msp_logging_active)
                    LOGD(MSP, 9, tag.text, "channel %i already destroyed (rcode %x)",
                         (int)ins->csm_msg.u_csmdev_destroy_channel->channel_number, rc);
            } else if (rc != 0) {
                refused = true;
            }
        }

        msp_return_code = 0;
        int result = 0;
        if (ins->notify) {
            if (ins->semablock) {
                // Handled here so that the handler's verdict reaches the caller.
                msp_event_handler(resp, MSP_EVENT_MESSAGE, target);
                result = msp_return_code;
                delete_csm_msg(resp);
            } else {
                LOGD(MSP, 9, tag.text, "dispatching event (3)!");
                msp_dispatch_event(resp, MSP_EVENT_MESSAGE, target);
            }
        } else {
            delete_csm_msg(resp);
        }
        return refused ? -1 : result;
    }
}

// One command at the head of the queue, from its target to its end.
void run_command(csminstruction *ins, uint8_t *sendbuf, uint8_t *frame)
{
    if (csm_msg_is_null(ins->csm_msg))
        TARN_EXIT(107, "ast list severely broken, exiting");
    msp_call_tag tag(ins->context);
    csm_header *h = get_header(ins->csm_msg);

    int target = prepare(ins, tag);
    if (target < 0)
        return; // put back; the next pass takes the new head
    LOGD(MSP, 8, tag.text, "MSP_QUEUED_FROM: %s:%s:%i", ins->function, ins->file, ins->line);

    if (target >= MSP_CHANNEL_FREE) {
        LOGD(MSP, 0, tag.text,
             "CRITICAL: Can't send csm command %x to invalid channel %i / timeslot %i failed => continuing anyway",
             h->function_code, target, ins->timeslot);
        list_queue_locked();
        msp_list_timeslot_manager();
        finish(ins, 0);
        return;
    }
    if (eth_header_without_destination(ins->csm_msg)) {
        LOGD(MSP, 0, tag.text,
             "CRITICAL: not sending ethernet header to channel %i: no destination MAC", target);
        finish(ins, -1);
        return;
    }

    h->msp_channel = (uint16_t)target;
    int first_ts = get_timeslot_for_channel(target);
    h->msp_timeslot = (uint16_t)(first_ts < 0 ? 0xFFFF : first_ts);
    if (msp_struct_to_buffer(ins->csm_msg, sendbuf) <= 0) {
        LOGD(MSP, 0, tag.text, "CRITICAL: csm command %x could not be coded, not sent",
             h->function_code);
        finish(ins, -1);
        return;
    }
    int shown_ts = (ins->timeslot == MSP_ADDRESS_DEVICE || ins->timeslot < MSP_ADDRESS_CHANNEL_BASE)
                       ? ins->timeslot
                       : -1;
    MSP_SHOW_MSG_SEND(ins->context, sendbuf, target, shown_ts);
    int sent = msp_write_msg(msp_socket, sendbuf, sendbuf[0], target);

    if (h->function_code == FC_VOIP_VOPENA && ins->notify)
        msp_event_handler(ins->csm_msg, MSP_EVENT_VOPENA_SENT, target);

    if (sent < 0) {
        LOGD(MSP, 0, tag.text,
             "CRITICAL: Sending csm command to channel %i / timeslot %i failed => exiting tarn",
             target, ins->timeslot);
        fprintf(stderr,
                "%s msp_command_loop: Sending csm command to channel %i / timeslot %i failed => exiting tarn\n",
                tag.text, target, ins->timeslot);
        list_queue_locked();
        msp_list_timeslot_manager();
        TARN_EXIT(109, "Sending csm command to channel %i / timeslot %i failed => exiting tarn",
                  target, ins->timeslot);
    }

    int result = await_answer(ins, tag, target, sendbuf, frame);
    finish(ins, result);
}

void become_realtime()
{
    errno = 0;
    if (nice(-15) == -1 && errno != 0) {
        // Not allowed here: the thread runs at the usual priority.
    }
    sched_param sp = {};
    sp.sched_priority = 20;
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &sp) == 0)
        LOGD(MSP, 1, nullptr, "Setting SCHED_RR succeeded, we're realtime now\n");
    else
        LOGD(MSP, 1, nullptr, "Setting SCHED_RR failed\n");
}

} // namespace

bool msp_in_command_thread()
{
    return command_thread_running && pthread_equal(pthread_self(), command_thread_id);
}

void msp_stop_command_thread(int)
{
    if (stop_requested.exchange(1))
        return;
    runcommandloop = 0;
    if (!command_thread_running || msp_in_command_thread())
        return;
    while (sem_wait(&stop_semaphore) != 0 && errno == EINTR) {
    }
}

void msp_end_command_loop()
{
    stop_requested = 1;
    runcommandloop = 0;
}

void msp_command_thread_rearm()
{
    stop_requested = 0;
}

void *msp_command_loop(void *)
{
    prctl(PR_SET_NAME, "tarn.msp_loop", 0, 0, 0);
    sem_init(&stop_semaphore, 0, 0);
    command_thread_id = pthread_self();
    command_thread_running = true;
    // A stop asked for before the thread ran ends it after its first pass.
    if (!stop_requested)
        runcommandloop = 1;
    answer_wait_usec = csme_answer_wait_usec(MSP_ANSWER_WAIT_USEC);
    become_realtime();

    static uint8_t sendbuf[CSM_FRAME_SIZE];
    static uint8_t frame[MSP_RECV_SIZE + 1];
    int passes = 0;
    for (;;) {
        msp_queue_lock_take();
        csminstruction *head = cman->csm_queue->first;
        if (head)
            head->processing = 1;
        msp_queue_lock_release();

        if (++passes > 100000) {
            LOGD(MSP, 6, nullptr, "MSP event loop still alive");
            passes = 0;
        }
        msp_running = 1;

        if (head)
            run_command(head, sendbuf, frame);
        else
            take_unsolicited(frame);

        if (!runcommandloop) {
            command_thread_running = false;
            sem_post(&stop_semaphore);
            return nullptr;
        }
    }
}
