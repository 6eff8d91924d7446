// The application side of the media processor library: answers, indications
// and statistics of the media processor turned into call events, DTMF
// digits, flags of the call, follow-up commands, stored device facts or the
// end of the process.
#include "msp_events.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analog_watchdog.h"
#include "application.h"
#include "call_lookups.h"
#include "call_progress.h"
#include "call_reset.h"
#include "channel_spender.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "csm_tones.h"
#include "line_bringup.h"
#include "log.h"
#include "log_backend.h"
#include "media_callctl.h"
#include "media_passthrough.h"
#include "media_relay.h"
#include "media_transcoding.h"
#include "media_voice.h"
#include "misdn_bchannel.h"
#include "msp_device.h"
#include "msp_dispatch.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "platform_path.h"
#include "pools.h"
#include "sm_defs.h"
#include "statemachine.h"
#include "t1e1casctl.h"
#include "tones.h"
#include "voice_rows.h"

volatile int msp_mdio_response_code = 0;
volatile int msp_mdio_read_data = 0;
volatile int msp_cleanup_conference_id = 0;
volatile int msp_cleanup_participant_id = 0;

namespace {

constexpr int DEVICE_CHANNEL = 0xFFFF;
constexpr int BERT_CHANNELS = 255;
constexpr int TONEGEN_DONE = 255;
constexpr int ANALOG_PORT_MARKER = 0x800;
constexpr int FXO = 2;
constexpr int RTP_STALLED = 2;
constexpr int SAFEGUARD_MINIMUM = 30;
constexpr int ERR_TDMDRV_INVTS = 0xFFBD;
constexpr int ERR_RM_NO_ARM_MIPS_AVAILABLE = 0xFFEE;

void time_of_day(struct timeval *now)
{
    gettimeofday(now, nullptr);
}
void (*clock_fn)(struct timeval *) = time_of_day;

constexpr int32_t general_word(int code)
{
    return sm_general(code);
}
constexpr int32_t MESSAGE_WAITING_DELIVERED = sm_event_word(SM_EVENT_TYPE_GENERAL, 0, 0x200d);
static_assert(MESSAGE_WAITING_DELIVERED == 0x3000200d, "general source, analog code 8205");

bool response_type(const csm_header *h)
{
    return h->command_type == CSM_TYPE_RESPONSE;
}

void run_now(call_object *co, int32_t event)
{
    if (media_has_do_statemachine_run())
        media_callctl().do_statemachine_run(co, event, 0);
}

void add_task(call_object *co, int32_t event)
{
    if (media_has_add_sm_task())
        media_callctl().add_sm_task(co, event);
}

// An entry of call control's record that is still empty: one line, once.
void not_built(std::atomic<bool> &said, const call_object *co, const char *what)
{
    if (!said.exchange(true))
        LOGD(TARN, 2, cinfo(co), "media: call control's %s is not built yet, its step is skipped", what);
}
std::atomic<bool> said_callerid{false}, said_passthrough{false};

void dtmf(int direction, call_object *co, int digit)
{
    if (media_has_process_dtmf())
        media_callctl().process_dtmf(direction, co, digit);
}

// ---- device messages ------------------------------------------------------------

// The failed creation of a channel ends the process with the refusal's code.
[[noreturn]] void channel_creation_failed(magic_csm msg)
{
    const csmdev_create_channel_response *r = msg.u_csmdev_create_channel_response;
    int timeslot = (int)r->timeslot;
    call_object *co = get_operation_by_msp_logical_timeslot(timeslot);
    const char *tag = co ? cinfo(co) : "";
    switch ((int)r->response_code) {
    case ERR_TDMDRV_INVTS:
        LOGD(MSP, 0, tag, "CRITICAL: requested invalid timeslot %i\n", timeslot);
        msp_queue_lock_take();
        msp_print_tschan_map(stderr);
        msp_queue_lock_release();
        misdn_channel_spender_list_ports(stderr);
        if (FILE *f = get_log_file())
            fflush(f);
        sleep(1);
        fprintf(stderr, "%s handle_msp_event(%p): requested invalid timeslot %i\n", tag, (void *)co, timeslot);
        TARN_EXIT(106, "invalid msp timeslot requested");
    case ERR_RM_NO_ARM_MIPS_AVAILABLE:
        TARN_EXIT(113, "%s handle_msp_event(%p): no more msp channels left", tag, (void *)co);
    default:
        TARN_EXIT(112, "%s handle_msp_event(%p): exiting because of response code %x", tag, (void *)co,
                  (unsigned)r->response_code);
    }
}

// The heartbeat's answer refreshes the board's reboot safeguard.
void refresh_safeguard()
{
    if (!gp || !gp->sys_safeguard_kernel_reboot_enabled || gp->sys_safeguard_timeout <= SAFEGUARD_MINIMUM)
        return;
    std::string path = platform_path("/sys/class/quilmar/safeguard/timer");
    if (FILE *f = fopen(path.c_str(), "w")) {
        fprintf(f, "%i", gp->sys_safeguard_timeout);
        fclose(f);
    }
}

void conference_created(magic_csm msg)
{
    call_object *co = get_operation_by_conference_request();
    if (!co) {
        LOGD(MSP, 0, nullptr, "Couldn't find call object requesting a Conference");
        LOGM(MSP, LOG_MSG_ERROR, "Couldn't find call object requesting a Conference");
        return;
    }
    co->conference_request = 0;
    co->conference_id = (int32_t)msg.u_csmdev_conf_create_conference_response->conference_id;
    LOGD(MSP, 5, cinfo(co), "Created Conference %i", co->conference_id);
    msp_queue_lock_take();
    for (int i = 0; i < 2; i++) {
        magic_csm p = create_default_csm_msg(FC_CONF_CREATE_PARTICIPANT, gp->msp_counter++);
        if (csm_msg_is_null(p))
            continue;
        p.u_csmdev_conf_create_participant->type_of_participant = 1;
        p.u_csmdev_conf_create_participant->timeslot = 0;
        p.u_csmdev_conf_create_participant->conference_id = (uint32_t)co->conference_id;
        msp_queue_command_nolock(p, MSP_ADDRESS_DEVICE, co, 1);
    }
    msp_queue_lock_release();
}

// A participant of a conference became the DSP channel of a call's leg.
void participant_created(magic_csm msg)
{
    const csmdev_conf_create_participant_response *r = msg.u_csmdev_conf_create_participant_response;
    call_object *co = get_operation_by_conference_id((int)r->conference_id);
    if (!co) {
        LOGM(MSP, LOG_MSG_ERROR, "Couldn't find call object with conference id %i", (int)r->conference_id);
        return;
    }
    call_leg_sip *leg = nullptr;
    if (co->cl_sip_in && co->cl_sip_in->msp_channel == -1)
        leg = co->cl_sip_in;
    else if (co->cl_sip_out && co->cl_sip_out->msp_channel == -1)
        leg = co->cl_sip_out;
    if (!leg) {
        LOGD(MSP, 0, cinfo(co), "Couldn't find call leg for particpant id %i", (int)r->participant_id);
        return;
    }
    leg->msp_channel = (int32_t)r->participant_id;
    if (co->cl_sip_in && co->cl_sip_in->rtp_remote_port) {
        msp_queue_lock_take();
        call_s2s_start_transcoding_channel(co, leg, 0, 0);
        msp_queue_lock_release();
    }
}

// Statistics records of a channel: true when the message was one.
bool statistics(magic_csm msg, const csm_header *h, int channel, const struct timeval *now)
{
    if (channel < 0 || channel >= BERT_CHANNELS)
        return false;
    if (h->command_type == CSM_TYPE_TEST_STATS) {
        printf("BERT STATISTICS FOR CHANNEL %i\n", channel);
        const csmchan_bert_stats_response *r = msg.u_csmchan_bert_stats_response;
        bert_statistics *&b = gp->bert_stat[channel];
        if (!b)
            b = static_cast<bert_statistics *>(calloc(1, sizeof(bert_statistics)));
        if (b) {
            b->statistics_version = r->statistics_version;
            b->current_lock_state = r->current_lock_state;
            b->number_of_bits_received = r->number_of_bits_received;
            b->number_of_good_bits_received = r->number_of_good_bits_received;
            b->number_of_bad_bits_received = r->number_of_bad_bits_received;
            b->number_of_good_bits_received_since_last_lock = r->number_of_good_bits_received_since_last_lock;
            b->number_of_bad_bits_received_since_last_lock = r->number_of_bad_bits_received_since_last_lock;
            b->number_of_lock_transitions = r->number_of_lock_transitions;
            b->number_of_bits_transmitted = r->number_of_bits_transmitted;
            b->number_of_packets_received = r->number_of_packets_received;
            b->number_of_packets_lost = r->number_of_packets_lost;
            b->acquire_time = now->tv_sec;
        }
        return true;
    }
    if (h->command_type == CSM_TYPE_SRTP_STATS) {
        printf("SRTP STATISTICS FOR CHANNEL %i\n", channel);
        const csmchan_ct_srtp_stats_response *r = msg.u_csmchan_ct_srtp_stats_response;
        struct counter {
            const char *label;
            uint64_t value;
            int words;
        };
        const counter counters[] = {
            {"SRTP__TXENCR", r->tx_srtp_encrypted, 4},   {"SRTP__TXAUTH", r->tx_srtp_authenticated, 4},
            {"SRTP__TXNAUT", r->tx_srtp_non_authenticated, 2}, {"SRTCP_TXENCR", r->tx_srtcp_encrypted, 4},
            {"SRTCP_TXAUTH", r->tx_srtcp_authenticated, 4}, {"SRTCP_TXNAUT", r->tx_srtcp_non_authenticated, 2},
            {"SRTP__RXENCR", r->rx_srtp_encrypted, 4},   {"SRTP__RXAUTH", r->rx_srtp_authenticated, 4},
            {"SRTP__RXNAUT", r->rx_srtp_non_authenticated, 2}, {"SRTCP_RXENCR", r->rx_srtcp_encrypted, 4},
            {"SRTCP_RXAUTH", r->rx_srtcp_authenticated, 4}, {"SRTCP_RXNAUT", r->rx_srtcp_non_authenticated, 2},
        };
        // Each counter's 16-bit words in the order they travel (low first).
        for (const counter &c : counters)
            for (int k = 0; k < c.words; k++)
                printf("%s %04x\n", c.label, (unsigned)((c.value >> (16 * k)) & 0xFFFF));
        return true;
    }
    return false;
}

// Device messages; true when the message was handled completely.
bool device_message(magic_csm msg, const csm_header *h)
{
    switch (h->function_code) {
    case FC_SUPVSR_CREATE_CHANNEL:
        if (h->command_type == CSM_TYPE_QUERY_RESPONSE) {
            msp_cleanup_channel_type = (int)msg.u_csmdev_create_channel_query_response->channel_type;
            msp_cleanup_channel_id = (int)msg.u_csmdev_create_channel_query_response->channel_id;
        } else if (response_type(h)) {
            channel_creation_failed(msg);
        } else {
            LOGD(MSP, 0, nullptr, "CRITICAL: unknown csm header command type");
        }
        return true;
    case FC_SUPVSR_GET_ARM_CODE_VERSION:
        if (h->command_type == CSM_TYPE_QUERY_RESPONSE)
            snprintf(gp->firmware_version, sizeof gp->firmware_version, "%s",
                     msg.u_csmdev_get_arm_code_version_query_response->arm_code_version);
        return true;
    case FC_SUPVSR_GET_DEVICE_TYPE:
        if (h->command_type == CSM_TYPE_QUERY_RESPONSE)
            gp->msp_processor_id = (int32_t)msg.u_csmdev_get_device_type_query_response->processor_id;
        msp_return_code = 0;
        return true;
    case FC_SUPVSR_MSP_GET_VERSION:
        msp_return_code = 0;
        return true;
    case FC_IP_ADDRESS:
        if (response_type(h) && msg.u_csm_generic_response->response_code != 0) {
            LOGD(MSP, 1, nullptr, "CRITICAL: failed setting ip address on msp device");
            msp_return_code = -1;
        } else {
            msp_return_code = 0;
        }
        return true;
    case FC_SET_UNICAST_MAC_ADDR:
    case FC_MDIO_BUS_WRITE:
    case FC_MDIO_START_AUTODECT:
    case FC_MDIO_SET_FREQ:
        if (response_type(h))
            msp_mdio_response_code = (int)msg.u_csm_generic_response->response_code;
        return false;
    case FC_MDIO_BUS_READ:
        if (response_type(h)) {
            msp_mdio_response_code = (int)msg.u_csmdev_mdio_bus_read_response->response_code;
            msp_mdio_read_data = (int)msg.u_csmdev_mdio_bus_read_response->register_data_value;
        }
        return false;
    case FC_EXT_CLOCK_STATUS:
        if (h->command_type == CSM_TYPE_INDICATION) {
            const csmdev_ext_clock_status_indication *c = msg.u_csmdev_ext_clock_status_indication;
            LOGD(MSP, 2, nullptr, "TDMCLOCK 8khz=%i, 50hz=%i, tdm0=%i, tdm1=%i, tdm2=%i, tdm3=%i",
                 (int)c->gps_8khz_clock_detected, (int)c->gps_50hz_clock_detected, (int)c->tdm_bus_0_working,
                 (int)c->tdm_bus_1_working, (int)c->tdm_bus_2_working, (int)c->tdm_bus_3_working);
        }
        return false;
    case FC_SUPVSR_DEVICE_STATUS_QUERY:
        if (h->command_type == CSM_TYPE_QUERY_RESPONSE) {
            const csmdev_device_status_query_response *d = msg.u_csmdev_device_status_query_response;
            LOGD(MSP, 5, nullptr,
                 "DEVICE STATUS QUERY: hb=%i;astatus=%i;atype=%i;arm1=%i;dsp0=%i;dsp1=%i;dsp2=%i;dsp3=%i;dsp4=%i;dsp5=%i",
                 (int)d->heartbeat_period, (int)d->alert_status, (int)d->alert_type, (int)d->arm1_status,
                 (int)d->dsp0_status, (int)d->dsp1_status, (int)d->dsp2_status, (int)d->dsp3_status,
                 (int)d->dsp4_status, (int)d->dsp5_status);
            refresh_safeguard();
        }
        return true;
    case FC_CONF_CREATE_CONFERENCE:
        if (response_type(h))
            conference_created(msg);
        return true;
    case FC_CONF_CREATE_PARTICIPANT:
        if (h->command_type == CSM_TYPE_QUERY_RESPONSE) {
            msp_cleanup_conference_id = (int)msg.u_csmdev_conf_create_participant_query_response->conference_id;
            msp_cleanup_participant_id = (int)msg.u_csmdev_conf_create_participant_query_response->participant_id;
        } else if (response_type(h)) {
            participant_created(msg);
        }
        return true;
    default:
        return false;
    }
}

// ---- channel messages -----------------------------------------------------------

void rtcp_statistics(call_object *co, magic_csm msg)
{
    call_leg_sip *leg = co->cl_sip;
    if (!leg || get_header(msg)->command_type != CSM_TYPE_QUERY_RESPONSE)
        return;
    leg->rtp_inbound_sequence_last = leg->rtp_inbound_sequence_current;
    // A sample taken before the answer is no base for the next one: a
    // caller may start sending only once answered, and a sample just after
    // the answer would find it silent. It is kept as -1, which no answer
    // equals.
    leg->rtp_inbound_sequence_current =
        co->sm_state == SM_CALL_ACTIVE
            ? (int32_t)msg.u_csmchan_voip_rtcp_statistics_response->extended_highest_sequence_number_received
            : -1;
    if (leg->rtp_inbound_sequence_last != leg->rtp_inbound_sequence_current || co->sm_state != SM_CALL_ACTIVE)
        return;
    LOGD(MSP, 1, cinfo(co), "CRITICAL: No RTP received for a while: last %i current %i",
         leg->rtp_inbound_sequence_last, leg->rtp_inbound_sequence_current);
    LOGM(TARN, LOG_MSG_NOTICE | 1, "%s S SEND : No RTP received for a while for active call => finishing call",
         cinfo(co));
    co->special_termination_reason = RTP_STALLED;
    add_task(co, SM_WORD_FINISH_CALL);
}

void tone_detected(call_object *co, magic_csm msg, const struct timeval *now)
{
    const csmchan_voip_tonedet_indication *ind = msg.u_csmchan_voip_tonedet_indication;
    int value = (int)ind->tone_detect_value;
    LOGM(MSP, LOG_MSG_NOTICE | 2, "%s P IND : TONE DETECT 0x%02x (%s)", cinfo(co), value, msp_print_tonedet(value));
    LOGD(MSP, 5, cinfo(co), "TONE_DETECT 0x%02x (%s)", value, msp_print_tonedet(value));
    if (!cas_passthrough) {
        handle_msp_event_tonedet(co, ind, now);
        return;
    }
    if (value == 255)
        return;
    // Passthrough test mode: the signal of one call's line is replayed on
    // the other's.
    int direction = co->index == 0 ? 3 : co->index == 1 ? 4 : 0;
    if (!direction)
        return;
    call_object *other = gp->operations[co->index == 0 ? 1 : 0];
    const media_callctl_iface &i = media_callctl();
    if (!i.cas_passthrough_map || !i.send_mfcr2_tone) {
        not_built(said_passthrough, co, "send_mfcr2_tone or cas_passthrough_map");
        return;
    }
    if (other)
        i.send_mfcr2_tone(other, direction, i.cas_passthrough_map(direction, value), 200);
}

void tone_completed(call_object *co, const struct timeval *now)
{
    msp_tonegen_ring *h = co->msp_tonegen_history;
    if (!h)
        return;
    msp_tonegen_event &slot = h->history[h->history_index % MSP_TONE_HISTORY];
    slot.event = TONEGEN_DONE;
    slot.start_time.sec = now->tv_sec;
    slot.start_time.usec = now->tv_usec;
    if (cas_get_starttime() == -1)
        cas_set_starttime(now->tv_sec);
    slot.start_time.sec -= cas_get_starttime();
    h->history_index++;
}

void event_detected(call_object *co, magic_csm msg, const struct timeval *now)
{
    const csmchan_voip_eventdet_indication *ind = msg.u_csmchan_voip_eventdet_indication;
    int value = (int)ind->tone_detected_indication;
    if (co->callinfo != 0 && value <= 15 && co->f.dtmf_as_eventdet) {
        dtmf(FROM_TDM, co, value);
        return;
    }
    switch (co->callinfo) {
    case CI_ANALOG_TO_SIP:
    case CI_SIP_TO_ANALOG:
    case CI_SIP_TO_CAS:
    case CI_CAS_TO_SIP:
        handle_msp_event_eventdet_analog(co, ind, now);
        return;
    default:
        if (gp->tonetest)
            handle_msp_event_eventdet_tonetest(co, ind, now);
    }
}

void ip_tone_detected(call_object *co, magic_csm msg, const struct timeval *now)
{
    const csmchan_voip_iptonedet_indication *d = msg.u_csmchan_voip_iptonedet_indication;
    LOGD(MSP, 5, cinfo(co), "IP-Tonedetect %i:%i:%i || %i:%i:%i:%i:%i || %i:%i:%i:%i:%i:%i:%i \n\n",
         (int)d->ip_generic_tone0, (int)d->ip_generic_tone1, (int)d->ip_generic_tone2, (int)d->ip_generic_1650,
         (int)d->ip_generic_1300, (int)d->ip_generic_1270, (int)d->ip_generic_980, (int)d->ip_generic_390,
         (int)d->ip_programmable_tone_detected, (int)d->v32_aa_pre_standard_1800Hz, (int)d->bell_ans,
         (int)d->phase_reverseal_2100Hz, (int)d->ansam_15Hz, (int)d->ans_confirmed_detection_2100Hz,
         (int)d->ans_early_detection_2100Hz);
    if (!d->ans_confirmed_detection_2100Hz || !(co->msp_state & MSP_VOICE_ACTIVE))
        return;
    if (co->cc.echo_cancel)
        media_echo_canceller_off(co);
    if (co->cc.t38_ip_events) {
        LOGD(MSP, 5, cinfo(co), "Checking IP tone fax detect");
        // The answer tone found on the IP side reaches the fax decisions
        // as if the TDM side had reported it.
        csm_header header = {};
        header.function_code = FC_VOIP_TONEDET;
        header.command_type = CSM_TYPE_INDICATION;
        header.command_class = CSM_CLASS_CHANNEL;
        csmchan_voip_tonedet_indication ind = {};
        ind.header = &header;
        ind.tone_detect_value = V25_WITHOUT_PHASE_REVERSAL;
        ip_fax_tonedetect = 1;
        handle_msp_fax_tone(co, &ind, now);
        ip_fax_tonedetect = 0;
    }
}

void caller_id_received(call_object *co, magic_csm msg, const struct timeval *now)
{
    const media_callctl_iface &i = media_callctl();
    if (i.parse_analog_callerid)
        i.parse_analog_callerid(co, msg.u_csmchan_cndrxmsg_indication);
    else
        not_built(said_callerid, co, "parse_analog_callerid");
    co->analog_cid_received = co->analog_oad && co->analog_oad[0] ? now->tv_sec : 0;
    LOGM(ANALOG, LOG_MSG_NOTICE | 1, "%s A IND : Detected Caller Id: oad: \"%s\" display: \"%s\"", cinfo(co),
         co->analog_oad ? co->analog_oad : "", co->analog_display ? co->analog_display : "");
    if (co->timer) {
        timer_remove(co->timer);
        co->timer = nullptr;
    }
    run_now(co, general_word(GENERAL_EVENT_ANALOG_GOT_CID));
}

// HDLC frames arrive in chunks: bytes two to a payload word, the first two
// words of a frame's first chunk skipped. The buffer never takes more than
// its size; the rest of a longer frame is dropped.
void hdlc_receive(call_object *co, magic_csm msg, bool end_of_frame)
{
    const csm_header *h = get_header(msg);
    const csmchan_syncdat_indication *s = msg.u_csmchan_syncdat_indication;
    if (!co->hdlc_buffer) {
        co->hdlc_buffer = static_cast<unsigned char *>(calloc(1, HDLC_RECEIVE_BUFFER + 1));
        if (!co->hdlc_buffer)
            return;
        co->hdlc_buffer_size = HDLC_RECEIVE_BUFFER;
        if (!end_of_frame)
            co->hdlc_buffer_content_length = 0;
    }
    if (co->hdlc_buffer_content_length < 0 || co->hdlc_buffer_content_length > co->hdlc_buffer_size)
        co->hdlc_buffer_content_length = 0;
    bool first = co->hdlc_buffer_content_length == 0;
    int count = (int)h->msg_length - 8 - (first ? 4 : 0);
    int skip = first ? 2 : 0;
    constexpr int words = (int)(sizeof s->payload / sizeof s->payload[0]);
    if (count > 0) {
        int room = co->hdlc_buffer_size - co->hdlc_buffer_content_length;
        int take = count < room ? count : room;
        for (int i = 0; i < take && skip + i / 2 < words; i++)
            co->hdlc_buffer[co->hdlc_buffer_content_length++] =
                (unsigned char)((s->payload[skip + i / 2] >> (8 * (i % 2))) & 0xFF);
        if (take < count)
            LOGD(MSP, 1, cinfo(co), "CRITICAL: HDLC frame longer than %i bytes, %i bytes dropped",
                 co->hdlc_buffer_size, count - take);
    }
    co->hdlc_buffer[co->hdlc_buffer_content_length] = '\0';
    if (!end_of_frame) {
        printf("RECEIVED PARTIAL SO FAR %s\n", (const char *)co->hdlc_buffer);
        return;
    }
    printf("RECEIVED FULL FRAME %s\n", (const char *)co->hdlc_buffer);
    free(co->hdlc_buffer);
    co->hdlc_buffer = nullptr;
    co->hdlc_buffer_content_length = 0;
}

void channel_message(call_object *co, magic_csm msg, const csm_header *h, const struct timeval *now)
{
    switch (h->function_code) {
    case FC_VOIP_RTCPSTAT:
        rtcp_statistics(co, msg);
        break;
    case FC_VOIP_TONEDET:
        tone_detected(co, msg, now);
        break;
    case FC_VOIP_TCMPLT:
        tone_completed(co, now);
        break;
    case FC_FAXSTATE_INDICATION: {
        int state = (int)msg.u_csmchan_fax_relay_state_change_indication->relay_state;
        LOGD(MSP, 5, cinfo(co), "FAX_STATE 0x%02x (%s)", state, msp_print_faxstate(state));
        break;
    }
    case FC_VOIP_EVENTDET:
        event_detected(co, msg, now);
        break;
    case FC_VOIP_NTERECVD: {
        int event = (int)msg.u_csmchan_voip_nterecvd_indication->nte_payload_event;
        LOGD(MSP, 7, cinfo(co), "Got NTE event %i", event);
        co->f.regenerate_inband_dtmf_to_tdm = 1;
        dtmf(FROM_PACKET, co, event);
        LOGM(TARN, LOG_MSG_NOTICE | 1, "%s S IND : GOT NTE EVENT %i", cinfo(co), event);
        break;
    }
    case FC_VOIP_NTENERGY_DET:
        run_now(co, general_word(GENERAL_EVENT_PSTN_NTENERGY_DET));
        break;
    case FC_CND_DONE:
        if (co->f.message_waiting)
            add_task(co, MESSAGE_WAITING_DELIVERED);
        break;
    case FC_VOIP_REMDET: {
        const csmchan_voip_remdet_indication *r = msg.u_csmchan_voip_remdet_indication;
        if (co->cc.feature_codes.size != 0 && r->event != 0)
            dtmf(FROM_PACKET, co, (int)r->event - 1);
        LOGM(MSP, LOG_MSG_NOTICE | 2, "%s P IND : REMDET: Event 0x%x, Type: 0x%x", cinfo(co), (unsigned)r->event,
             (unsigned)r->remote_packet_type);
        LOGD(MSP, 5, cinfo(co), "REMDET: Event 0x%x, Type: 0x%x", (unsigned)r->event, (unsigned)r->remote_packet_type);
        break;
    }
    case FC_VOIP_IPTONEDET:
        ip_tone_detected(co, msg, now);
        break;
    case FC_CNDRXMSG:
        caller_id_received(co, msg, now);
        break;
    case FC_INBAND_DTMF_DET: {
        int tone = (int)msg.u_csmchan_inband_dtmf_det_indication->tone_id;
        LOGD(MSP, 5, cinfo(co), "IP inband tonedetect 0x%x %i", (unsigned)tone, tone);
        LOGM(MSP, LOG_MSG_NOTICE | 1, "%s O IND : IP inband tonedetect 0x%x %i", cinfo(co), (unsigned)tone, tone);
        co->f.sip_inband_dtmf_detected = 1;
        LOGD(MSP, 5, cinfo(co), "CO CALLSTATE %i", co->callinfo);
        if (co->callinfo != 0 && tone <= 15)
            dtmf(FROM_PACKET, co, tone);
        break;
    }
    case FC_SYNCDAT:
        hdlc_receive(co, msg, false);
        break;
    case FC_SYNCEOF:
        hdlc_receive(co, msg, true);
        break;
    default:
        break;
    }
}

// ---- tone classification -------------------------------------------------------

int classify(call_object *co, int value, time_t now)
{
    int result = ACP_EVENT_NONE;
    if (tone_config_set *set = get_tone_config(co->analog_call_progress_country_code)) {
        for (const int32_t *row : set->call_progress.events) {
            bool after = row[1] == 0 ||
                         (row[1] == co->analog_last_tone_event && now - co->analog_last_tone_event_time <= row[2]);
            if (row[0] == value && after) {
                result = row[3];
                break;
            }
        }
    }
    co->analog_last_tone_event = value;
    co->analog_last_tone_event_time = now;
    return result;
}

// Three events within three seconds of one another ([0] is the newest).
bool three_in_a_row(time_t list[3], time_t now)
{
    if (list[1])
        list[2] = list[1];
    if (list[0])
        list[1] = list[0];
    list[0] = now;
    return now - list[1] < 3 && list[1] - list[2] < 3;
}

// The FXO alerting-ended timeout in ms: the call's table, else the default
// table; -1 means the port's ring cadence plus 500 ms.
int alerting_ended_ms(call_object *co, int port)
{
    int ms = co->s2fxo_cpt ? co->s2fxo_cpt->timeout_alerting_ended
                           : (gp->s2fxo_cpt_default ? gp->s2fxo_cpt_default->timeout_alerting_ended : 0);
    if (ms != -1)
        return ms;
    char name[64];
    media_port_tone_set(TONESET_ANALOG, port, name, sizeof name);
    tone_config_set *set = name[0] ? get_tone_config(name) : nullptr;
    return set ? set->combined_ringtone_cadence_length + 500 : 6500;
}

void arm_alerting_ended_timer(call_object *co, int port)
{
    for (kv_timer **t : {&co->fxo_cpt_timer, &co->fxo_alerting_ended_timer})
        if (*t) {
            timer_remove(*t);
            *t = nullptr;
        }
    int ms = alerting_ended_ms(co, port);
    if (ms <= 0 || !media_has_cb_timer_event())
        return;
    auto *t = static_cast<kv_timer *>(calloc(1, sizeof(kv_timer)));
    if (!t)
        return;
    t->tv.tv_sec = ms / 1000;
    t->tv.tv_usec = (ms % 1000) * 1000;
    LOGD(TARN, 5, cinfo(co), "starting fxo_alerting_ended_timer: seconds %i.%i", ms / 1000, ms % 1000);
    if (timer_add(media_callctl().cb_timer_event, T_EVENT_FXO_ALERTING_ENDED_TIMER, t) != 0) {
        free(t);
        return;
    }
    co->fxo_alerting_ended_timer = t;
}

struct tone_result {
    const char *message;
    const char *verbose;
    int32_t event;
};

} // namespace

int handle_msp_event_eventdet_analog(call_object *co, const csmchan_voip_eventdet_indication *ind,
                                     const struct timeval *now)
{
    if (!co || !ind)
        return 0;
    bool cas = co->callinfo == CI_CAS_TO_SIP || co->callinfo == CI_SIP_TO_CAS;
    int port = cas ? co->cas_port : co->analog_port;
    char tag = cas ? 'C' : 'A';
    int module = cas ? CAS : ANALOG;
    int value = (int)ind->tone_detected_indication;
    log_msg_message(LOG_MSG_NOTICE | 1, module, __FILE__, __LINE__, "%s %c IND : GOT TONE EVENT  0x%x => %i",
                    cinfo(co), tag, (unsigned)value, value);
    log_msg_debug(5, module, __FILE__, __LINE__, __func__, cinfo(co), "Eventdetect 0x%x => %i", (unsigned)value,
                  value);
    time_t t = now->tv_sec;
    int result = classify(co, value, t);

    static const tone_result results[] = {
        {nullptr, nullptr, 0},
        {"%s A IND : DIAL event => statemachine", "%c DIAL_TONE|INDICATION|CID=%05i<br>port=%i\n",
         general_word(GENERAL_EVENT_ANALOG_DIALTONE_DETECTED)},
        {"%s %c IND : RING event => statemachine", "%c RING_TONE|INDICATION|CID=%05i<br>port=%i\n",
         general_word(GENERAL_EVENT_ANALOG_RINGBACKTONE_DETECTED)},
        {"%s %c IND : BUSY event => statemachine", "%c BUSY_TONE|INDICATION|CID=%05i<br>port=%i\n",
         general_word(GENERAL_EVENT_ANALOG_BUSYTONE_DETECTED)},
        {"%s %c IND : UNOBTAINABLE event => statemachine", "%c UNOBTAINABLE_TONE|INDICATION|CID=%05i<br>port=%i\n",
         general_word(GENERAL_EVENT_ANALOG_UNOBTAINABLETONE_DETECTED)},
        {"%s %c IND : BUSY1 event => statemachine", "%c BUSY_TONE|INDICATION|CID=%05i<br>aport=%i\n",
         general_word(GENERAL_EVENT_ANALOG_BUSYTONE_DETECTED)},
        {"%s %c IND : UNOBTAINABLE1 event => statemachine", "%c UNOBTAINABLE_TONE|INDICATION|CID=%05i<br>port=%i\n",
         general_word(GENERAL_EVENT_ANALOG_UNOBTAINABLETONE_DETECTED)},
    };
    bool act = result >= ACP_EVENT_DIAL && result <= ACP_EVENT_CONGESTION1;
    if (result == ACP_EVENT_BUSY)
        act = three_in_a_row(co->analog_last_busy_event_time, t);
    else if (result == ACP_EVENT_CONGESTION)
        act = three_in_a_row(co->analog_last_congestion_event_time, t);
    if (act) {
        const tone_result &r = results[result];
        if (result == ACP_EVENT_DIAL)
            log_msg_message(LOG_MSG_NOTICE | 1, module, __FILE__, __LINE__, r.message, cinfo(co));
        else
            log_msg_message(LOG_MSG_NOTICE | 1, module, __FILE__, __LINE__, r.message, cinfo(co), tag);
        _verbose_msg(__FILE__, __LINE__, __func__, r.verbose, tag, co->pid, port);
        run_now(co, r.event);
        if (result == ACP_EVENT_RING && co->callinfo == CI_SIP_TO_ANALOG) {
            int p = port & ~ANALOG_PORT_MARKER;
            bool fxo = gp->analog_info && p > 0 && p < ANALOG_INFO_PORTS && gp->analog_info->type[p] == FXO;
            if (fxo && co->cc.s2fxo_call_progress_table_name[0])
                arm_alerting_ended_timer(co, port);
        }
    }

    if (co->sm && co->sm->state == SM_DESTROYING &&
        (co->callinfo == CI_SIP_TO_ANALOG || co->callinfo == CI_ANALOG_TO_SIP)) {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
        LOGD(TARN, 5, cinfo(co), "calling reset_op for %p", (void *)co);
        reset_op(co);
        start_analog_watchdog_on_port(port, 0);
    } else if (co->sm && co->sm->state == SM_DISMANTLING) {
        if (media_has_start_dismantling_timer())
            media_callctl().start_dismantling_timer(co);
    }
    return 0;
}

int handle_msp_event_eventdet_tonetest(call_object *co, const csmchan_voip_eventdet_indication *ind,
                                       const struct timeval *now)
{
    if (!co || !ind)
        return 0;
    int value = (int)ind->tone_detected_indication;
    time_t t = now->tv_sec;
    printf("basic detect %i => time %i\n", value, (int)t);
    const char *code = co->analog_call_progress_country_code;
    switch (classify(co, value, t)) {
    case ACP_EVENT_DIAL: printf("%s: DIAL detected\n", code); break;
    case ACP_EVENT_RING: printf("%s: RING detected\n", code); break;
    case ACP_EVENT_BUSY:
        if (three_in_a_row(co->analog_last_busy_event_time, t))
            printf("%s: BUSY detected\n", code);
        break;
    case ACP_EVENT_CONGESTION:
        if (three_in_a_row(co->analog_last_congestion_event_time, t))
            printf("%s: CONGESTION detected\n", code);
        break;
    case ACP_EVENT_BUSY1: printf("%s: BUSY1 detected\n", code); break;
    case ACP_EVENT_CONGESTION1: printf("%s: UNOBTAINABLE1 detected\n", code); break;
    default: break;
    }
    fflush(stdout);
    return 0;
}

void msp_events_set_clock(void (*clock)(struct timeval *now))
{
    clock_fn = clock ? clock : time_of_day;
}

intptr_t handle_msp_event(magic_csm msg, int eventtype, int channel)
{
    struct timeval now;
    clock_fn(&now);

    if (eventtype == MSP_EVENT_QUERY_PID || eventtype == MSP_EVENT_QUERY_BC) {
        auto *co = static_cast<call_object *>(msg.u_raw);
        if (!co)
            return 0;
        return eventtype == MSP_EVENT_QUERY_PID ? (intptr_t)co->pid : (intptr_t)co->bc;
    }
    if (eventtype == MSP_EVENT_VOPENA_SENT) {
        nat_probe_vopena_sent(msg, channel);
        return 0;
    }
    if (!gp)
        return 0;

    call_object *co = nullptr;
    const csm_header *h = get_header(msg);
    if (channel == DEVICE_CHANNEL) {
        if (!h) {
            LOGD(MSP, 2, nullptr, "invalid message in msp event handler");
            return 0;
        }
        if (device_message(msg, h))
            return 0;
    } else {
        co = get_operation_by_msp_channel(channel);
        if (!co) {
            LOGD(MSP, 4, nullptr, "Failed getting co for channel %i", channel);
            return 0;
        }
        LOGD(MSP, 9, cinfo(co), "Event for call Object %p (mspchannel is %i)", (void *)co, channel);
        if (!h)
            return 0;
    }

    if (statistics(msg, h, channel, &now))
        return 0;
    if (eventtype != MSP_EVENT_MESSAGE || !co)
        return 0;
    LOGD(MSP, 9, cinfo(co), "Processing %s for timeslot %i/channel %i", get_function_code(h->function_code),
         (int)h->msp_timeslot, (int)h->msp_channel);
    channel_message(co, msg, h, &now);
    return 0;
}
