// MFC/R2 register signalling on E1 CAS channels: the signals' tone pairs
// played on the media processor, the compelled register of a call the far
// exchange started (backward signals) and of a call toward the exchange
// (forward signals), and the answers toward a calling exchange.
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "cas_callctl.h"
#include "cas_callctl_internal.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "dtmf.h"
#include "log.h"
#include "log_backend.h"
#include "msp_queue.h"
#include "pools.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "t1e1casctl.h"

namespace {

enum {
    DIRECTION_FORWARD = CAS_DIRECTION_FORWARD,   // 3
    DIRECTION_BACKWARD = CAS_DIRECTION_BACKWARD, // 4
    FORWARD_MS = 5000,
    BACKWARD_MS = 160,
    PLAYOUT_MS = 1000,
    COMBINATIONS = 15,
};

// ITU-T Q.441: the six frequencies of each direction and the pair of each
// combination 1-15 as indexes into them.
const int forward_hz[6] = {1380, 1500, 1620, 1740, 1860, 1980};
const int backward_hz[6] = {1140, 1020, 900, 780, 660, 540};
const struct {
    int a, b;
} pairs[COMBINATIONS] = {{0, 1}, {0, 2}, {1, 2}, {0, 3}, {1, 3}, {2, 3}, {0, 4}, {1, 4},
                         {2, 4}, {3, 4}, {0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}};

call_object *call_of(void *p) { return (call_object *)p; }

void default_wait(int ms) { usleep((useconds_t)ms * 1000); }

void queue_tone_message(call_object *co, magic_csm msg)
{
    if (csm_msg_is_null(msg))
        return;
    msp_queue_lock_take();
    msp_queue_command_nolock(msg, co->tdm_logical_timeslot, co, 0);
    msp_queue_lock_release();
}

void tone_off(call_object *co)
{
    queue_tone_message(co, create_default_csm_msg(FC_VOIP_TONEOFF, gp->msp_counter++));
}

void record_tone(call_object *co, int combination, int duration_ms)
{
    msp_tonegen_ring *h = co->msp_tonegen_history;
    if (!h)
        return;
    struct timeval now;
    gettimeofday(&now, nullptr);
    if (cas_get_starttime() == -1)
        cas_set_starttime(now.tv_sec);
    msp_tonegen_event &slot = h->history[h->history_index % MSP_TONE_HISTORY];
    slot.event = (uint8_t)combination;
    slot.requested_length = duration_ms;
    slot.start_time.sec = now.tv_sec - cas_get_starttime();
    slot.start_time.usec = now.tv_usec;
    h->history_index++;
}

// The register's state bits on standard output.
void print_state_bits(const call_object *co)
{
    static const struct {
        int bit;
        const char *name;
    } names[] = {
        {MFCR2_STATE_BACKWARD_REQUESTING_DAD, "MFCR2_STATE_BACKWARD_REQUESTING_DAD"},
        {MFCR2_STATE_BACKWARD_REQUESTING_DAD_FINISHED, "MFCR2_STATE_BACKWARD_REQUESTING_DAD_FINISHED"},
        {MFCR2_STATE_BACKWARD_REQUESTING_OAD, "MFCR2_STATE_BACKWARD_REQUESTING_OAD"},
        {MFCR2_STATE_BACKWARD_REQUESTING_OAD_FINISHED, "MFCR2_STATE_BACKWARD_REQUESTING_OAD_FINISHED"},
        {MFCR2_STATE_BACKWARD_REQUESTING_SUBSCRIBER, "MFCR2_STATE_BACKWARD_REQUESTING_SUBSCRIBER"},
        {MFCR2_STATE_BACKWARD_REQUESTING_SUBSCRIBER_FINISHED,
         "MFCR2_STATE_BACKWARD_REQUESTING_SUBSCRIBER_FINISHED"},
        {MFCR2_STATE_BACKWARD_REQUESTING_GROUP_B, "MFCR2_STATE_BACKWARD_REQUESTING_GROUP_B"},
        {MFCR2_STATE_BACKWARD_REQUESTING_GROUP_B_FINISHED, "MFCR2_STATE_BACKWARD_REQUESTING_GROUP_B_FINISHED"},
        {MFCR2_STATE_BACKWARD_SIGNALLING_FINISHED, "MFCR2_STATE_BACKWARD_SIGNALLING_FINISHED"},
    };
    printf("##########################################\n");
    for (const auto &n : names)
        printf("%s = %i\n", n.name, (co->cas_e1_signal_state & n.bit) ? 1 : 0);
    printf("##########################################\n");
}

// Takes the first character of a flush buffer; 0 when it is empty.
char take_first(char *buffer, size_t size)
{
    size_t n = strnlen(buffer, size);
    if (n == 0)
        return '\0';
    char c = buffer[0];
    memmove(buffer, buffer + 1, n); // with the terminator
    return c;
}

void send_forward_digit(call_object *co, char digit, int duration_ms)
{
    int signal = cas_e1_forward_signal(digit);
    if (signal)
        cas_register_tone(co, DIRECTION_FORWARD, signal, duration_ms);
}

// Fills a flush buffer with text and the end-of-pulsing mark, cut so that
// the mark always fits.
void fill_flush_buffer(char (&buffer)[64], const char *prefix, const char *number)
{
    snprintf(buffer, sizeof buffer - 1, "%s%s", prefix, number ? number : "");
    size_t n = strlen(buffer);
    buffer[n] = ':';
    buffer[n + 1] = '\0';
}

// The register's end: A-6, a pause, and the call's own start event.
statemachine_handle_retval finish_register(call_object *co)
{
    co->cas_e1_signal_state |= MFCR2_STATE_BACKWARD_SIGNALLING_FINISHED;
    cas_register_tone(co, DIRECTION_BACKWARD, MF_SIGNAL_BACKWARD_A6_ADDRESS_COMPLETE_SETUP_SPEECH, BACKWARD_MS);
    cas_register_wait_ms(100);
    add_sm_task(co, sm_general(GENERAL_EVENT_CAS_INIT_INCOMING));
    return CAS_ROW;
}

void backward(call_object *co, int signal)
{
    cas_register_tone(co, DIRECTION_BACKWARD, signal, BACKWARD_MS);
}

} // namespace

void (*cas_register_wait_ms)(int ms) = default_wait;
void (*cas_register_tone)(call_object *co, int direction, int signal, int duration_ms) = send_mfcr2_tone;
void (*cas_register_profile)(int port, mfcr2_profile *out) = cas_port_mfcr2_profile;

// ---- tones -----------------------------------------------------------------------------------

int mfcr2_signal_combination(int signal)
{
    if ((signal >= 11 && signal <= 20) || (signal >= 26 && signal <= 35) || (signal >= 41 && signal <= 50) ||
        (signal >= 56 && signal <= 65)) {
        int base = signal <= 20 ? 10 : signal <= 35 ? 25 : signal <= 50 ? 40 : 55;
        return signal - base;
    }
    switch (signal) {
    case 51:
    case 66:
        return 11;
    case 52:
        return 12;
    case 53:
        return 13;
    case 54:
        return 14;
    case 25:
    case 55:
        return 15;
    default:
        return 0;
    }
}

bool mfcr2_signal_frequencies(int direction, int signal, int *f1, int *f2)
{
    int c = mfcr2_signal_combination(signal);
    if (c < 1 || c > COMBINATIONS)
        return false;
    const int *hz = direction == DIRECTION_BACKWARD ? backward_hz : forward_hz;
    *f1 = hz[pairs[c - 1].a];
    *f2 = hz[pairs[c - 1].b];
    return true;
}

int cas_passthrough_map(int direction, int value)
{
    if (value < 1 || value > COMBINATIONS)
        return 0;
    if (direction == DIRECTION_FORWARD)
        return 10 + value;
    if (direction == DIRECTION_BACKWARD)
        return 55 + value;
    return 0;
}

void send_mfcr2_tone(call_object *co, int direction, int signal, int duration_ms)
{
    if (!co)
        return;
    if (signal == MF_SIGNAL_SPECIAL_SMEVENT) {
        add_sm_task(co, sm_general(GENERAL_EVENT_CAS_FXO_DIALING_FINISHED));
        return;
    }
    int f1 = 0, f2 = 0;
    if (!mfcr2_signal_frequencies(direction, signal, &f1, &f2)) {
        LOGD_CALL(CAS, 3, co, "MFC/R2 signal %i has no tone, nothing sent", signal);
        return;
    }
    magic_csm msg = create_default_csm_msg(FC_VOIP_TONEGEN, gp->msp_counter++);
    if (csm_msg_is_null(msg))
        return;
    csmchan_voip_tonegen *r = msg.u_csmchan_voip_tonegen;
    r->cadence_repeat = 0; // once
    r->primary_frequency_c1 = (uint32_t)f1;
    r->secondary_frequency_c1 = (uint32_t)f2;
    r->on_time_c1 = (uint32_t)(duration_ms > 0xffff ? 0xffff : duration_ms < 0 ? 0 : duration_ms);
    r->off_time_c1 = 0;
    r->on_time_c2 = r->off_time_c2 = 0;
    r->on_time_c3 = r->off_time_c3 = 0;
    LOGD_CALL(CAS, 5, co, "MFC/R2 %s signal %i (%s): %i/%i Hz for %i ms",
              direction == DIRECTION_BACKWARD ? "backward" : "forward", signal, cas_print_mf_signal(signal), f1, f2,
              duration_ms);
    queue_tone_message(co, msg);
    record_tone(co, mfcr2_signal_combination(signal), duration_ms);
}

int process_cas_e1_flush_buffer(call_object *co)
{
    if (!co)
        return 0;
    char mark = take_first(co->feature_code_flush_buffer_dir, sizeof co->feature_code_flush_buffer_dir);
    char c = take_first(co->feature_code_flush_buffer, sizeof co->feature_code_flush_buffer);
    if (c && mark == 't')
        send_forward_digit(co, c, PLAYOUT_MS);
    return co->feature_code_flush_buffer[0] != '\0';
}

// ---- a call toward the exchange ---------------------------------------------------------------

SM_ACTION(sm_cas_e1_dial_number)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->cas_dialing_performed)
        return CAS_ROW;
    co->f.regenerate_inband_dtmf_to_tdm = 1;
    fill_flush_buffer(co->cas_flush_dad_buffer, "", co->cas_dad);
    fill_flush_buffer(co->cas_flush_oad_buffer, "1", co->cas_oad);
    char first = take_first(co->cas_flush_dad_buffer, sizeof co->cas_flush_dad_buffer);
    send_forward_digit(co, first, FORWARD_MS);
    // Once: the exchange's answer runs this action again before the call is
    // marked as dialled, and must not start the number over.
    co->cas_dialing_performed = 1;
    return CAS_ROW;
}

SM_ACTION(sm_sip2e1cas_handle_mf)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    int combination = (unsigned char)co->cas_dtmf;
    if (co->cas_dtmf_start) {
        printf("RECEIVED START %i\n", combination);
        tone_off(co); // the exchange heard us: compelled
        return CAS_ROW;
    }
    mfcr2_profile profile;
    cas_register_profile(co->cas_port, &profile);
    switch (combination) {
    case 9:
        if (profile.r2variant != R2_VARIANT_VENEZUELA) {
            printf("WHAT SHOUD I DO?\n");
            break;
        }
        printf("S2C:BACKWARD signal MF_SIGNAL_BACKWARD_A9_SEND_CALLING_PARTY_CATEGORY\n");
        [[fallthrough]];
    case 5:
        if (combination == 5)
            printf("S2C:BACKWARD signal MF_SIGNAL_BACKWARD_A5_SEND_CALLING_PARTY_CATEGORY\n");
        if (char c = take_first(co->cas_flush_oad_buffer, sizeof co->cas_flush_oad_buffer))
            send_forward_digit(co, c, FORWARD_MS);
        else
            cas_register_tone(co, DIRECTION_FORWARD, MF_SIGNAL_FORWARD_B1_SUBSCRIBER_WITHOUT_PRIORITY, FORWARD_MS);
        break;
    case 3:
        co->cas_e1_signal_state = 1;
        cas_register_tone(co, DIRECTION_FORWARD, MF_SIGNAL_FORWARD_A15_END_OF_PULSING, FORWARD_MS);
        break;
    case 6:
        cas_register_tone(co, DIRECTION_FORWARD, MF_SIGNAL_FORWARD_A15_END_OF_PULSING, FORWARD_MS);
        add_sm_task(co, sm_cas(CAS_EVENT_MFDIAL_FINISHED));
        break;
    case 1:
        if (char c = take_first(co->cas_flush_dad_buffer, sizeof co->cas_flush_dad_buffer))
            send_forward_digit(co, c, FORWARD_MS);
        else
            cas_register_tone(co, DIRECTION_FORWARD, MF_SIGNAL_FORWARD_A15_END_OF_PULSING, FORWARD_MS);
        break;
    case 15:
        add_sm_task(co, sm_cas(CAS_EVENT_MFBUSY));
        break;
    default:
        printf("WHAT SHOUD I DO?\n");
        break;
    }
    return CAS_ROW;
}

// ---- a call from the exchange -----------------------------------------------------------------

SM_ACTION(sm_cas_to_sip_send_mfcr2_backward_signal)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    int &st = co->cas_e1_signal_state;
    // 1.
    if (st == 0)
        st = MFCR2_STATE_BACKWARD_REQUESTING_DAD;
    if (st & MFCR2_STATE_BACKWARD_SIGNALLING_FINISHED)
        return CAS_ROW;
    // 2.
    mfcr2_profile profile;
    cas_register_profile(co->cas_port, &profile);
    int combination = (unsigned char)co->cas_dtmf;
    char digit = combination == 10 ? '0' : (char)('0' + combination);
    // 3.
    if (st & MFCR2_STATE_BACKWARD_REQUESTING_DAD) {
        if (combination == COMBINATIONS) {
            st |= MFCR2_STATE_BACKWARD_REQUESTING_DAD_FINISHED;
        } else if (combination < 1 || combination > 10) {
            LOGD_CALL(CAS, 1, co, "MFC/R2 number signal %i is no digit: call ended", combination);
            return {SM_DESTROYING, SM_NO_EVENT};
        } else {
            // A full number counts as finished.
            bool full = !cas_append_digit(co->cas_dad, digit) || strlen(co->cas_dad) + 1 >= CAS_NUMBER_FIELD;
            if (full || (profile.max_dnis >= 0 && (int)strlen(co->cas_dad) >= profile.max_dnis))
                st |= MFCR2_STATE_BACKWARD_REQUESTING_DAD_FINISHED;
        }
        bool dad_done = st & MFCR2_STATE_BACKWARD_REQUESTING_DAD_FINISHED;
        bool oad_done = st & MFCR2_STATE_BACKWARD_REQUESTING_OAD_FINISHED;
        if (profile.ani_first) {
            if (dad_done && oad_done) {
                if (profile.immediate_accept) {
                    print_state_bits(co);
                    return finish_register(co);
                }
                st |= MFCR2_STATE_BACKWARD_REQUESTING_GROUP_B;
                st &= ~MFCR2_STATE_BACKWARD_REQUESTING_DAD;
                backward(co, MF_SIGNAL_BACKWARD_A3_ADDRESS_COMPLETE_CONTINUE_WITH_GROUP_B);
            } else if (oad_done) {
                backward(co, MF_SIGNAL_BACKWARD_A1_SEND_NEXT_DIGIT);
            } else {
                st = (st & ~MFCR2_STATE_BACKWARD_REQUESTING_DAD) | MFCR2_STATE_BACKWARD_REQUESTING_OAD;
                backward(co, MF_SIGNAL_BACKWARD_A5_SEND_CALLING_PARTY_CATEGORY);
            }
        } else if (dad_done) {
            st = (st & ~MFCR2_STATE_BACKWARD_REQUESTING_DAD) | MFCR2_STATE_BACKWARD_REQUESTING_OAD;
            backward(co, MF_SIGNAL_BACKWARD_A5_SEND_CALLING_PARTY_CATEGORY);
        } else {
            backward(co, MF_SIGNAL_BACKWARD_A1_SEND_NEXT_DIGIT);
        }
        print_state_bits(co);
        return CAS_ROW;
    }
    // 4.
    if (st & MFCR2_STATE_BACKWARD_REQUESTING_OAD) {
        if (combination == COMBINATIONS) {
            st |= MFCR2_STATE_BACKWARD_REQUESTING_OAD_FINISHED;
        } else if (combination >= 1 && combination <= 10) {
            bool full = !cas_append_digit(co->cas_oad, digit) || strlen(co->cas_oad) + 1 >= CAS_NUMBER_FIELD;
            if (full || (profile.max_ani >= 0 && (int)strlen(co->cas_oad) >= profile.max_ani + 1))
                st |= MFCR2_STATE_BACKWARD_REQUESTING_OAD_FINISHED;
        }
        bool dad_done = st & MFCR2_STATE_BACKWARD_REQUESTING_DAD_FINISHED;
        bool oad_done = st & MFCR2_STATE_BACKWARD_REQUESTING_OAD_FINISHED;
        if (dad_done && oad_done) {
            if (profile.immediate_accept) {
                print_state_bits(co);
                return finish_register(co);
            }
            // The caller's digits are over: the next signal is the group II
            // category, not one more caller digit.
            st = (st & ~MFCR2_STATE_BACKWARD_REQUESTING_OAD) | MFCR2_STATE_BACKWARD_REQUESTING_GROUP_B;
            backward(co, MF_SIGNAL_BACKWARD_A3_ADDRESS_COMPLETE_CONTINUE_WITH_GROUP_B);
        } else if (oad_done) {
            st = (st & ~MFCR2_STATE_BACKWARD_REQUESTING_OAD) | MFCR2_STATE_BACKWARD_REQUESTING_DAD;
            backward(co, MF_SIGNAL_BACKWARD_A1_SEND_NEXT_DIGIT);
        } else {
            backward(co, profile.r2variant == R2_VARIANT_VENEZUELA ? MF_SIGNAL_BACKWARD_A9_SPARE
                                                                    : MF_SIGNAL_BACKWARD_A5_SEND_CALLING_PARTY_CATEGORY);
        }
        print_state_bits(co);
        return CAS_ROW;
    }
    // 5.
    print_state_bits(co);
    if (st & MFCR2_STATE_BACKWARD_REQUESTING_GROUP_B)
        return finish_register(co);
    fprintf(stderr, "STATE %i DTMF %i\n", st, combination);
    LOGD_CALL(CAS, 1, co, "UNHANDLED => STATE %i DTMF %i\n", st, combination);
    return CAS_ROW;
}

SM_ACTION(sm_cas_e1_send_call_setup_finished_tone)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    cas_register_tone(co, DIRECTION_BACKWARD, MF_SIGNAL_BACKWARD_B6_SUBSCRIBERS_LINE_FREE_CHARGE, 200);
    cas_register_wait_ms(200);
    return CAS_ROW;
}

SM_ACTION(sm_cas_send_e1_dialing_complete)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    co->f.mfcr2_send_dialing_complete = 1;
    cas_register_tone(co, DIRECTION_BACKWARD, MF_SIGNAL_BACKWARD_B6_SUBSCRIBERS_LINE_FREE_CHARGE, 200);
    cas_register_wait_ms(100);
    return CAS_ROW;
}

SM_ACTION(sm_cas_to_sip_send_call_setup_unallocated_if_no_dialplan)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->dp)
        return CAS_ROW;
    cas_register_wait_ms(200);
    cas_register_tone(co, DIRECTION_BACKWARD, MF_SIGNAL_BACKWARD_B5_UNALLOCATED_NUMBER, 400);
    cas_register_wait_ms(200);
    return {SM_DISMANTLING, SM_NO_EVENT};
}
