// Tone detection and fax decisions, the T.38 fax channel, DTMF relay and the
// tone actions of the call tables, on the command queue without its thread:
// each test reads back the records the operations queued.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/soa_tag.h>
#include <sofia-sip/su.h>
#include <sofia-sip/su_wait.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <chrono>
#include <thread>
#include <vector>

#include "application.h"
#include "free_port.h"
#include "call_reset.h"
#include "confman.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "debug_lines.h"
#include "global_lock.h"
#include "media_callctl.h"
#include "media_relay.h"
#include "media_voice.h"
#include "misdn_bchannel.h"
#include "msp_events.h"
#include "msp_manager.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "pools.h"
#include "run_process.h"
#include "schema.h"
#include "sm_defs.h"
#include "t1e1casctl.h"
#include "tones.h"

namespace {

// What the call-control entries of the media record saw.
struct hook_call {
    std::string entry;
    int event;
};
std::vector<hook_call> hook_calls;

int rec_task(call_object *, int event)
{
    hook_calls.push_back({"add_sm_task", event});
    return 0;
}
int rec_run(call_object *, int event, int)
{
    hook_calls.push_back({"do_statemachine_run", event});
    return 0;
}
int rec_dismantle(call_object *)
{
    hook_calls.push_back({"start_dismantling_timer", 0});
    return 0;
}
void rec_dtmf(int, call_object *, int digit)
{
    hook_calls.push_back({"process_dtmf", digit});
}
char rec_ascii(int code)
{
    return "0123456789*#ABCD"[code & 15];
}
int rec_stop_rtp(call_object *co, int lock)
{
    hook_calls.push_back({"call_stop_rtp", 0});
    return call_stop_msp_voice(co, lock);
}

int runs_of(int general_event)
{
    int n = 0;
    for (const hook_call &c : hook_calls)
        n += c.entry == "do_statemachine_run" && c.event == sm_general(general_event);
    return n;
}

struct queued {
    std::string name;
    magic_csm msg;
    int timeslot;
};

class MediaRelay : public ::testing::Test {
protected:
    void SetUp() override
    {
        application_create();
        init_locks();
        cm_init();
        ASSERT_EQ(create_call_object_pools(4), 0);
        ASSERT_NE(msp_create_command_manager(), nullptr);
        msp_init_timeslots();
        msp_init_resources();
        hook_calls.clear();
        media_set_callctl_iface(nullptr);
        media_callctl_iface i = {};
        i.call_stop_rtp = rec_stop_rtp;
        i.add_sm_task = rec_task;
        i.do_statemachine_run = rec_run;
        i.start_dismantling_timer = rec_dismantle;
        i.process_dtmf = rec_dtmf;
        i.tonedetect_to_ascii = rec_ascii;
        media_set_callctl_iface(&i);
        memset(&machine_, 0, sizeof machine_);
        cas_set_starttime(-1);
        ip_fax_tonedetect = 0;
        dir_ = std::filesystem::temp_directory_path() /
               ("media_relay_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override
    {
        drain();
        media_set_callctl_iface(nullptr);
        free_tone_list(gp->tonelist);
        gp->tonelist = nullptr;
        for (cm **c : {&gp->config_tones, &gp->config_analog})
            if (*c) {
                cm_destroy(*c);
                *c = nullptr;
            }
        std::filesystem::remove_all(dir_);
    }

    call_object *new_call(int callinfo, int state = SM_CALL_ACTIVE)
    {
        call_object *co = get_free_operation_handle(1);
        EXPECT_NE(co, nullptr);
        co->callinfo = callinfo;
        co->sm_state = (uint32_t)state;
        machine_.state = state;
        co->sm = &machine_;
        co->tdm_logical_timeslot = 5;
        if (!co->cl_sip)
            co->cl_sip = gp->sip_call_legs[2 * co->index];
        return co;
    }

    // The call back to the pool (its machine is the fixture's).
    void release(call_object *co)
    {
        co->sm = nullptr;
        co->bc = nullptr;
        {
            lock_hold hold(&lock_manager::global_lock);
            reset_op(co);
        }
        take();
    }

    // Takes every queued command off the queue.
    std::vector<queued> take()
    {
        std::vector<queued> out;
        msp_queue_lock_take();
        while (csminstruction *ins = cman->csm_queue->first) {
            csm_header *h = get_header(ins->csm_msg);
            out.push_back({get_function_code(h->function_code), ins->csm_msg, ins->timeslot});
            ins->csm_msg = csm_null_msg();
            msp_queue_remove(ins);
            msp_free_instruction(ins);
        }
        msp_queue_lock_release();
        kept_.insert(kept_.end(), out.begin(), out.end());
        return out;
    }
    void drain()
    {
        take();
        for (queued &q : kept_)
            delete_csm_msg(q.msg);
        kept_.clear();
    }
    static std::vector<std::string> names(const std::vector<queued> &q)
    {
        std::vector<std::string> n;
        for (const queued &x : q)
            n.push_back(x.name);
        return n;
    }

    // A tone indication at the processor's raw time stamp.
    void tone(call_object *co, int value, uint32_t raw, uint32_t msb = 0)
    {
        csm_header h = {};
        h.function_code = FC_VOIP_TONEDET;
        csmchan_voip_tonedet_indication ind = {};
        ind.header = &h;
        ind.tone_detect_value = (uint32_t)value;
        ind.timestamp_lsb = raw & 0xFFFF;
        ind.timestamp_msb = msb ? msb : raw >> 16;
        timeval now;
        gettimeofday(&now, nullptr);
        EXPECT_EQ(handle_msp_event_tonedet(co, &ind, &now), 0);
    }

    std::string file(const std::string &name, const std::string &text)
    {
        std::string path = (dir_ / name).string();
        FILE *f = fopen(path.c_str(), "w");
        fputs(text.c_str(), f);
        fclose(f);
        return path;
    }

    statemachine machine_;
    std::filesystem::path dir_;
    std::vector<queued> kept_;
};

// ---------------------------------------------------------------------------
// Tone history and the CNG cadence

struct cng_case {
    const char *what;
    int min_events;
    // start and end time stamps (units of the history) of the CNG tones
    std::vector<std::pair<uint32_t, uint32_t>> tones;
    uint32_t msb;  // a high word for every time stamp, 0 for none
    int redirects;
};

TEST_F(MediaRelay, CngCadenceDecidesTheFaxRedirect)
{
    // Tone lengths strictly within 400..700, gaps within 2000..4000.
    const cng_case cases[] = {
        {"one tone of 500", 1, {{0, 500}}, 0, 1},
        {"one tone of 700", 1, {{0, 700}}, 0, 0},
        {"one tone of 400", 1, {{0, 400}}, 0, 0},
        {"a high word from 32768 on", 1, {{0, 500}}, 40000, 1},
        {"two tones, gap 3000", 2, {{0, 500}, {3500, 4100}}, 0, 1},
        {"two tones, gap 1000", 2, {{0, 500}, {1500, 2100}}, 0, 0},
        {"two tones, the earlier too long", 2, {{0, 800}, {3800, 4400}}, 0, 0},
        {"two needed, one heard", 2, {{0, 500}}, 0, 0},
        {"three tones, the first not measured", 3, {{0, 900}, {3900, 4500}, {7500, 8100}}, 0, 1},
        {"three tones, the second too short", 3, {{0, 500}, {3500, 3800}, {6800, 7400}}, 0, 0},
        {"three tones, the first gap too long", 3, {{0, 500}, {5000, 5600}, {8600, 9200}}, 0, 0},
    };
    for (const cng_case &c : cases) {
        SCOPED_TRACE(c.what);
        hook_calls.clear();
        call_object *co = new_call(CI_ANALOG_TO_SIP);
        snprintf(co->cc.faxdetect_extension, sizeof co->cc.faxdetect_extension, "%s", "fax");
        co->cc.faxdetect_options = {10, (uint32_t)c.min_events, 400, 700, 2000, 4000};
        co->cdr.connect_start = time(nullptr) - 2;
        for (auto [start, end] : c.tones) {
            tone(co, T30_CNG_START_DETECTED, start * 8, c.msb);
            tone(co, END_OF_TONE, end * 8, c.msb);
        }
        EXPECT_EQ(runs_of(GENERAL_EVENT_FAX_REDIRECT), c.redirects);
        EXPECT_EQ(co->f.fax_calling_tone_detected, (uint32_t)c.redirects);
        if (c.msb) {
            EXPECT_EQ(co->msp_tonedet_history->history[0].msp_timestamp, (int32_t)(40000u * 65536u / 8));
        }
        EXPECT_EQ(co->msp_tonedet_history->history_index, (int)c.tones.size() * 2);
        release(co);
    }
}

TEST_F(MediaRelay, NoRedirectOutsideTheConnectWindowOrAfterARedirect)
{
    call_object *co = new_call(CI_ANALOG_TO_SIP);
    snprintf(co->cc.faxdetect_extension, sizeof co->cc.faxdetect_extension, "%s", "fax");
    co->cc.faxdetect_options = {10, 1, 400, 700, 2000, 4000};
    co->cdr.connect_start = time(nullptr) - 11;
    tone(co, T30_CNG_START_DETECTED, 0);
    tone(co, END_OF_TONE, 4000);
    co->cdr.connect_start = time(nullptr) - 2;
    co->f.fax_redirect = 1;
    tone(co, T30_CNG_START_DETECTED, 8000);
    tone(co, END_OF_TONE, 12000);
    EXPECT_EQ(runs_of(GENERAL_EVENT_FAX_REDIRECT), 0);
}

TEST_F(MediaRelay, DigitsByCallKindAndTheHistoryRing)
{
    debug_lines log({MSP});
    // An active ISDN call hands digits to call control, unless they are
    // taken as events.
    call_object *isdn = new_call(CI_ISDN_TO_SIP);
    tone(isdn, 5, 0);
    tone(isdn, END_OF_TONE, 80);
    isdn->f.dtmf_as_eventdet = 1;
    tone(isdn, 7, 160);
    ASSERT_EQ(hook_calls.size(), 1u);
    EXPECT_EQ(hook_calls[0].entry, "process_dtmf");
    EXPECT_EQ(hook_calls[0].event, 5);
    EXPECT_EQ(isdn->msp_tonedet_history->history_index, 3);
    EXPECT_EQ(isdn->msp_tonedet_history->history[2].event, 7);
    tone(isdn, 0x40, 200);
    EXPECT_EQ(log.count("ignoring tone detect event 40"), 1);

    // A dialling FXS caller: the digit goes to the analog machine.
    hook_calls.clear();
    call_object *fxs = new_call(CI_ANALOG_TO_SIP, SM_INACTIVE);
    tone(fxs, DTMF_POUND, 0);
    tone(fxs, 0x41, 10);
    EXPECT_EQ(fxs->analog_dtmf, DTMF_POUND);
    EXPECT_EQ(runs_of(GENERAL_EVENT_ANALOG_DTMF_DETECTED), 1);
    EXPECT_EQ(log.count("ignoring analog tone detect event 41"), 1);

    // The 41st event takes slot 0 again.
    for (int i = 0; i < 38; i++)
        tone(fxs, END_OF_TONE, 100 + (uint32_t)i);
    tone(fxs, 9, 777 * 8);
    const msp_tone_history *h = fxs->msp_tonedet_history;
    EXPECT_EQ(h->history_index, 41);
    EXPECT_EQ(h->history[0].event, 9);
    EXPECT_EQ(h->history[0].msp_timestamp, 777);
    EXPECT_EQ(h->history[1].event, 0x41);
    EXPECT_EQ(take().size(), 0u);
}

TEST_F(MediaRelay, FaxTonesOnTheEchoCancellerTheCallEndAndT38)
{
    // V.21 flags switch a running echo canceller off once.
    call_object *co = new_call(CI_ISDN_TO_SIP);
    co->msp_state = MSP_VOICE_ACTIVE;
    co->cc.echo_cancel = 1;
    tone(co, V21_FLAGS_DETECTED, 0);
    std::vector<queued> q = take();
    ASSERT_EQ(names(q), std::vector<std::string>{"FC_VOIP_ECHOCAN"});
    csmchan_voip_echocan *ec = q[0].msg.u_csmchan_voip_echocan;
    EXPECT_EQ(ec->master_echo_canceller_enable, 0u);
    EXPECT_EQ(ec->network_echo_canceller_tail_length, 0u);
    EXPECT_EQ(q[0].timeslot, 5);
    EXPECT_EQ(co->cc.echo_cancel, 0u);
    tone(co, V21_FLAGS_DETECTED, 100);
    EXPECT_TRUE(take().empty());

    // A fax signal ends a SIP call to the line when so configured.
    call_object *term = new_call(CI_SIP_TO_ANALOG);
    snprintf(term->cc.faxdetect_call_termination, sizeof term->cc.faxdetect_call_termination, "%s", "yes");
    tone(term, V21_FLAGS_DETECTED, 0);
    EXPECT_EQ(term->special_termination_reason, 12);
    EXPECT_EQ(runs_of(GENERAL_EVENT_FINISH_CALL), 1);

    // CNG on a T.38 call from the line: the T.38 part is reserved and the
    // machine sends the re-invite.
    debug_lines log({MSP});
    call_object *t38 = new_call(CI_ANALOG_TO_SIP);
    t38->cc.t38 = 1;
    t38->cc.t38_direction_reinvite = 2;
    tone(t38, T30_CNG_START_DETECTED, 0);
    EXPECT_EQ(runs_of(GENERAL_EVENT_MSP_FAX_TONE_DETECTED), 1);
    EXPECT_EQ(log.count("Running statemachine for sending T38 invite"), 1);
    EXPECT_NE(t38->msp_resources_reserved, 0);
    // ... and once the machine dismantles, its timer runs.
    hook_calls.clear();
    t38->msp_resources_reserved = 0;
    machine_.state = SM_DISMANTLING;
    tone(t38, V25_WITHOUT_PHASE_REVERSAL, 10);
    EXPECT_EQ(runs_of(GENERAL_EVENT_MSP_FAX_TONE_DETECTED), 1);
    ASSERT_EQ(hook_calls.size(), 2u);
    EXPECT_EQ(hook_calls[1].entry, "start_dismantling_timer");

    // A SIP call to an FXS port whose machine ends with the re-invite is
    // reset at once.
    const statemachine_transition no_rows[] = {{SM_ANY, SM_ANY, SM_KEEP_STATE, SM_NO_EVENT, nullptr}};
    call_object *fxs = new_call(CI_SIP_TO_ANALOG);
    fxs->cc.t38 = 1;
    fxs->cc.t38_direction_reinvite = 1;
    fxs->sm = statemachine_create(fxs, SM_DESTROYING, no_rows, 1, nullptr, nullptr);
    ASSERT_NE(fxs->sm, nullptr);
    {
        debug_lines tarn_log({MSP});
        tone(fxs, V21_FLAGS_DETECTED, 0);
        EXPECT_EQ(tarn_log.count("calling reset_op for "), 1);
    }
    EXPECT_EQ(fxs->sm, nullptr);
    EXPECT_EQ(fxs->callinfo, CI_FREE);
    take();

    // The wrong direction, or an invite already sent: nothing.
    hook_calls.clear();
    t38->cc.t38_direction_reinvite = 1;
    tone(t38, T30_CNG_START_DETECTED, 20);
    t38->cc.t38_direction_reinvite = 2;
    t38->f.t38_invite_sent = 1;
    tone(t38, T30_CNG_START_DETECTED, 30);
    EXPECT_TRUE(hook_calls.empty());

    // SIP to SIP with passthrough 1 queues the event as a task.
    call_object *s2s = new_call(CI_SIP_TO_SIP);
    s2s->cc.s2s_t38_passthrough = 1;
    tone(s2s, V21_FLAGS_DETECTED, 0);
    ASSERT_EQ(hook_calls.size(), 1u);
    EXPECT_EQ(hook_calls[0].entry, "add_sm_task");
    EXPECT_EQ(hook_calls[0].event, sm_general(GENERAL_EVENT_MSP_FAX_TONE_DETECTED));

    // No machine: one line, nothing run.
    hook_calls.clear();
    term->sm = nullptr;
    tone(term, V21_FLAGS_DETECTED, 10);
    EXPECT_TRUE(hook_calls.empty());
    EXPECT_EQ(log.count("ignoring msp event FC_VOIP_TONEDET -- co->sm==NULL!"), 1);
}

// ---------------------------------------------------------------------------
// The T.38 fax channel

TEST_F(MediaRelay, T38ChannelReplacesTheVoiceChannel)
{
    gp->rtp_traffic = 1;
    snprintf(gp->netconf.host_ip_lan, sizeof gp->netconf.host_ip_lan, "%s", "10.0.0.1");
    call_object *co = new_call(CI_ISDN_TO_SIP);
    co->msp_state = MSP_VOICE_ACTIVE;
    snprintf(co->cl_sip->rtp_remote_ip, sizeof co->cl_sip->rtp_remote_ip, "%s", "127.0.0.1");
    co->cl_sip->rtp_remote_port = 4000;
    co->cl_sip->rtp_local_port = 6000;
    co->cc.t38_options = {0, 0, 2, 3, 5, 1, 0};
    setup_msp_t38_channel(co, 1);
    std::vector<queued> q = take();
    ASSERT_EQ(names(q), (std::vector<std::string>{"FC_VOIP_VOPENA", "FC_SUPVSR_DESTROY_CHANNEL",
                                                  "FC_SUPVSR_CREATE_CHANNEL", "FC_FAX_OPTIONS",
                                                  "FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VCEOPT", "FC_VOIP_VOPENA"}));
    EXPECT_EQ(q[0].msg.u_csmchan_voip_vopena->channel_mode, 0u);
    EXPECT_EQ(q[2].msg.u_csmdev_create_channel->channel_type, 7u);
    csmchan_fax_options *fo = q[3].msg.u_csmchan_fax_options;
    EXPECT_EQ(fo->tcf_procedure, 1u);
    EXPECT_EQ(fo->udptl_redundancy_count_t30, 3u);
    EXPECT_EQ(fo->udptl_redundancy_count_fax_page_data, 2u);
    EXPECT_EQ(fo->speed_limit, 5u);
    csmchan_set_ip_hdr_chan *ip = q[4].msg.u_csmchan_set_ip_hdr_chan;
    EXPECT_EQ(ip->tos, 160u);
    EXPECT_EQ(ip->udp_source_port, 6000u);
    EXPECT_EQ(ip->udp_destination_port, 4000u);
    EXPECT_EQ(ip->destination_address_word_1, 0x7F00u);
    EXPECT_EQ(ip->destination_address_word_2, 0x0001u);
    EXPECT_EQ(q[5].msg.u_csmchan_voip_vceopt->voice_packetization_interval, 20u);
    EXPECT_EQ(q[6].msg.u_csmchan_voip_vopena->channel_mode, 2u);
    EXPECT_EQ(get_header(q[6].msg)->msg_length, 10);
    for (const queued &x : q)
        EXPECT_EQ(x.timeslot, 5);
    EXPECT_EQ(co->msp_state, (uint32_t)MSP_T38_ACTIVE);
    EXPECT_NE(co->msp_resources_active, 0);

    // A transcoding call: no final VOPENA; the T.38 channel itself is
    // replaced.
    co->f.transcoding_call = 1;
    setup_msp_t38_channel(co, 1);
    EXPECT_EQ(names(take()), (std::vector<std::string>{"FC_VOIP_VOPENA", "FC_SUPVSR_DESTROY_CHANNEL",
                                                        "FC_SUPVSR_CREATE_CHANNEL", "FC_FAX_OPTIONS",
                                                        "FC_SET_IP_HDR_CHANNEL", "FC_VOIP_VCEOPT"}));
}

TEST_F(MediaRelay, T38ChannelRefusals)
{
    debug_lines log({MSP});
    call_object *co = new_call(CI_ISDN_TO_SIP);
    co->cl_sip->rtp_remote_port = 4000;
    co->cl_sip->rtp_local_port = 6000;
    co->tdm_logical_timeslot = -1;
    setup_msp_t38_channel(co, 1);
    EXPECT_EQ(log.count("Cannot start T38 on timeslot -1 on remport 4000 locport 6000"), 1);
    co->tdm_logical_timeslot = 5;
    co->msp_state = MSP_REMOTE_BRIDGED;
    setup_msp_t38_channel(co, 1);
    EXPECT_EQ(log.count("CRITICAL: Bridged call cannot perform T38"), 1);
    EXPECT_TRUE(take().empty());
    EXPECT_EQ(co->msp_state, (uint32_t)MSP_REMOTE_BRIDGED);
}

// ---------------------------------------------------------------------------
// DTMF relay

TEST_F(MediaRelay, InbandDigitsAsQ23Pairs)
{
    struct inband_case {
        const char *digit;
        int direction;
        bool to_tdm, to_packet;
        int low, high, tone_direction; // low 0: nothing queued
    };
    const inband_case cases[] = {
        {"5", TO_TDM, true, false, 770, 1336, 0},
        {"5", FROM_TDM, true, false, 770, 1336, 0},
        {"5", TO_PACKET, true, false, 0, 0, 0},
        {"#", TO_PACKET, false, true, 941, 1477, 1},
        {"a", FROM_PACKET, false, true, 697, 1633, 1},
        {"D", TO_TDM, true, false, 941, 1633, 0},
        {"*9", TO_TDM, true, false, 941, 1209, 0},
        {"x", TO_TDM, true, true, 0, 0, 0},
        {"", TO_TDM, true, true, 0, 0, 0},
        {"0", 7, false, false, 941, 1336, 7},
    };
    for (const inband_case &c : cases) {
        SCOPED_TRACE(std::string(c.digit) + " direction " + std::to_string(c.direction));
        call_object *co = new_call(CI_ISDN_TO_SIP);
        co->msp_state = MSP_VOICE_ACTIVE;
        co->f.regenerate_inband_dtmf_to_tdm = c.to_tdm;
        co->f.regenerate_inband_dtmf_to_packet = c.to_packet;
        send_inband_dtmf(co, c.digit, c.direction, 120);
        std::vector<queued> q = take();
        if (!c.low) {
            EXPECT_TRUE(q.empty());
        } else {
            ASSERT_EQ(names(q), std::vector<std::string>{"FC_VOIP_TONEGEN"});
            csmchan_voip_tonegen *t = q[0].msg.u_csmchan_voip_tonegen;
            EXPECT_EQ(t->cadence_repeat, 0u);
            EXPECT_EQ(t->tone_direction, (uint32_t)c.tone_direction);
            EXPECT_EQ(t->primary_frequency_c1, (uint32_t)c.low);
            EXPECT_EQ(t->secondary_frequency_c1, (uint32_t)c.high);
            EXPECT_EQ(t->on_time_c1, 120u);
            EXPECT_EQ(t->on_time_c2 + t->primary_frequency_c2 + t->primary_frequency_c3, 0u);
        }
        release(co);
    }
    // Without a voice channel nothing plays; a null text is nothing.
    call_object *co = new_call(CI_ISDN_TO_SIP);
    co->f.regenerate_inband_dtmf_to_tdm = 1;
    send_inband_dtmf(co, "5", TO_TDM, 100);
    co->msp_state = MSP_VOICE_ACTIVE;
    send_inband_dtmf(co, nullptr, TO_TDM, 100);
    EXPECT_TRUE(take().empty());
}

TEST_F(MediaRelay, TelephoneEventsByCallKind)
{
    struct nte_case {
        const char *what;
        int callinfo;
        int duration_in, duration_out;
    };
    const nte_case cases[] = {
        {"ISDN to SIP keeps its duration", CI_ISDN_TO_SIP, 100, 100},
        {"SIP to SIP, at least 160 ms", CI_SIP_TO_SIP, 100, 160},
        {"SIP to SIP, longer kept", CI_SIP_TO_SIP, 250, 250},
    };
    for (const nte_case &c : cases) {
        SCOPED_TRACE(c.what);
        call_object *co = new_call(c.callinfo);
        co->cc.dtmfmode = 4 | 4 << 8;
        co->cl_sip->pt_telephony_event = 101;
        if (c.callinfo == CI_SIP_TO_SIP) {
            co->cl_sip_in = co->cl_sip;
            co->cl_sip_in->pt_telephony_event = 96;
            co->transcoding_buddy = co; // any buddy
        }
        send_dtmf_to_sip(co, DTMF_POUND, c.duration_in);
        std::vector<queued> q = take();
        ASSERT_EQ(names(q), std::vector<std::string>{"FC_VOIP_SENDNTE"});
        EXPECT_EQ(get_header(q[0].msg)->msg_length, 24);
        csmchan_voip_sendnte *n = q[0].msg.u_csmchan_voip_sendnte;
        EXPECT_EQ(n->nte_payload_event, 11u);
        EXPECT_EQ(n->nte_payload_volume, 10u);
        EXPECT_EQ(n->nte_payload_duration, (uint32_t)c.duration_out);
        EXPECT_EQ(n->payload_type, c.callinfo == CI_SIP_TO_SIP ? 96u : 101u);
        EXPECT_EQ(n->override_payload_type, 1u);
        EXPECT_EQ(n->override_single_nte, 1u);
        EXPECT_EQ(n->override_default_redundancy, 1u);
        EXPECT_EQ(q[0].timeslot, 5);
        co->transcoding_buddy = nullptr;
        co->cl_sip_in = nullptr;
        release(co);
    }
    // SIP to SIP without a transcoding buddy relays nothing.
    call_object *co = new_call(CI_SIP_TO_SIP);
    co->cc.dtmfmode = 4;
    co->cl_sip_in = co->cl_sip;
    send_dtmf_to_sip(co, 1, 100);
    EXPECT_TRUE(take().empty());
}

TEST_F(MediaRelay, InfoBodiesAndInbandMode)
{
    struct body_case {
        int code;
        const char *body; // null: none
    };
    const body_case bodies[] = {
        {0, "Signal=0\r\nDuration=250\r\n"},  {9, "Signal=9\r\nDuration=250\r\n"},
        {10, "Signal=*\r\nDuration=250\r\n"}, {11, "Signal=#\r\nDuration=250\r\n"},
        {12, "Signal=A\r\nDuration=250\r\n"}, {15, "Signal=D\r\nDuration=250\r\n"},
        {16, nullptr},                        {-1, nullptr},
    };
    for (const body_case &b : bodies) {
        char buf[64];
        EXPECT_EQ(dtmf_info_body(b.code, 250, buf, sizeof buf), b.body != nullptr) << b.code;
        if (b.body) {
            EXPECT_STREQ(buf, b.body);
        }
    }

    // Inband mode plays the digit towards the IP side for the configured
    // length, unless the digits are removed.
    call_object *co = new_call(CI_ISDN_TO_SIP);
    co->msp_state = MSP_VOICE_ACTIVE;
    co->f.regenerate_inband_dtmf_to_packet = 1;
    co->cc.dtmfmode = 1;
    co->cc.dtmflen = 90;
    send_dtmf_to_sip(co, 8, 500);
    std::vector<queued> q = take();
    ASSERT_EQ(names(q), std::vector<std::string>{"FC_VOIP_TONEGEN"});
    EXPECT_EQ(q[0].msg.u_csmchan_voip_tonegen->tone_direction, 1u);
    EXPECT_EQ(q[0].msg.u_csmchan_voip_tonegen->on_time_c1, 90u);
    EXPECT_EQ(q[0].msg.u_csmchan_voip_tonegen->primary_frequency_c1, 852u);
    co->cc.dtmfremoval = 2;
    send_dtmf_to_sip(co, 8, 500);
    EXPECT_TRUE(take().empty());
}

// ---------------------------------------------------------------------------
// Tone actions

TEST_F(MediaRelay, ToneActionsOfTheCallTables)
{
    std::string tones = file("tarn.tones", "[general]\ncountry=de\nlevel=100\n"
                                           "[de]\ndial=425\nring=425/1000,0/4000\nbusy=480/480,0/480\n"
                                           "congestion=425/240,0/240\n");
    std::string analog = file("tarn.analog", "[fxs]\nports=3\ntones=[de]\n");
    gp->config_tones = configman_create("TONES");
    ASSERT_EQ(cm_load(&gp->config_tones, tones.c_str()), 0);
    init_tones();
    gp->config_analog = configman_create("ANALOG");
    ASSERT_EQ(cm_load(&gp->config_analog, analog.c_str()), 0);
    char set[16];
    media_port_tone_set(TONESET_ANALOG, 3, set, sizeof set);
    EXPECT_STREQ(set, "de");

    struct hangup_case {
        int status;
        int freq; // of the first tone the engine is programmed with
    };
    for (hangup_case c : {hangup_case{486, 480}, hangup_case{404, 425}}) {
        SCOPED_TRACE(c.status);
        call_object *co = new_call(CI_ANALOG_TO_SIP);
        co->analog_port = 3;
        co->cl_sip->last_nua_status_code = c.status;
        statemachine_handle_retval r = sm_msp_start_tone_hangup(co, nullptr, 0, 0);
        EXPECT_EQ(r.state, -1);
        EXPECT_EQ(r.event, -1);
        EXPECT_EQ(co->dismantling_timeout, 30);
        std::vector<queued> q = take();
        const queued *engine = nullptr;
        for (const queued &x : q)
            if (x.name == "FC_VOIP_PROGRAM_TONE_ENGINE")
                engine = &x;
        ASSERT_NE(engine, nullptr);
        EXPECT_EQ(engine->msg.u_csmchan_voip_program_tone_engine->tones[0].tone_freq1, (uint32_t)c.freq);
        call_stop_msp_tone(co, 1);
        take();
        release(co);
    }

    // Ring-back on an NT call whose voice runs, busy on a TE call, the
    // timeslot release: nothing queued.
    misdn_bchannel nt = {}, te = {};
    nt.nt = 1;
    call_object *co = new_call(CI_SIP_TO_ISDN);
    co->bc = &nt;
    co->msp_state = MSP_VOICE_ACTIVE;
    sm_msp_start_tone_alerting(co, nullptr, 0, 0);
    co->bc = &te;
    sm_msp_send_tone_busy(co, nullptr, 0, 0);
    sm_msp_start_tone_none(co, nullptr, 0, 0);
    statemachine_handle_retval r = sm_release_logical_timeslot(co, nullptr, 0, 0);
    EXPECT_EQ(r.state, -1);
    EXPECT_EQ(co->tdm_logical_timeslot, -1);
    EXPECT_TRUE(take().empty());
    EXPECT_EQ(co->msp_state, (uint32_t)MSP_VOICE_ACTIVE);
    co->bc = nullptr;
}

// ---------------------------------------------------------------------------
// SIP INFO on a real dialog: a SIP stack on 127.0.0.1 calls a sipp UAS,
// whose scenario takes exactly one INFO and checks it.

struct info_stack {
    su_root_t *root = nullptr;
    nua_t *nua = nullptr;
    int invite_status = 0, info_status = 0, bye_status = 0;
    bool shut = false;
};

void on_sip_event(nua_event_t event, int status, char const *, nua_t *, nua_magic_t *magic, nua_handle_t *,
                  nua_hmagic_t *, sip_t const *, tagi_t[])
{
    auto *st = static_cast<info_stack *>((void *)magic);
    if (event == nua_r_invite && status >= 200)
        st->invite_status = status;
    else if (event == nua_r_info && status >= 200)
        st->info_status = status;
    else if (event == nua_r_bye && status >= 200)
        st->bye_status = status;
    else if (event == nua_r_shutdown && status >= 200)
        st->shut = true;
}

// Runs the stack until `done` or about 10 s.
template <typename F> bool step_until(info_stack &st, F done)
{
    for (int i = 0; i < 1000 && !done(); i++)
        su_root_step(st.root, 10);
    return done();
}

// Whether something has bound the UDP port on 127.0.0.1.
bool udp_port_taken(int port)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)port);
    bool taken = fd >= 0 && bind(fd, (sockaddr *)&a, sizeof a) != 0;
    if (fd >= 0)
        close(fd);
    return taken;
}

TEST_F(MediaRelay, InfoDigitOnARealDialog)
{
    int port = free_local_port();
    ASSERT_GT(port, 0);
    std::string scenario = std::string(TARN_SOURCE_DIR) + "/tests/media/sipp/info_uas.xml";
    std::string trace = (dir_ / "sipp_messages.log").string();
    process_result sipp;
    std::thread uas([&] {
        sipp = run_process({"sipp", "-sf", scenario, "-i", "127.0.0.1", "-p", std::to_string(port), "-m", "1",
                            "-nostdin", "-trace_msg", "-message_file", trace, "-timeout", "20s",
                            "-timeout_error"},
                           "", {}, 30);
    });
    struct joiner {
        std::thread &t;
        ~joiner()
        {
            if (t.joinable())
                t.join();
        }
    } join_uas{uas};

    // sipp listens before the INVITE goes out (a refused datagram ends
    // the INVITE transaction at once).
    bool listening = false;
    for (int i = 0; i < 500 && !(listening = udp_port_taken(port)); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(listening);

    info_stack st;
    su_init();
    st.root = su_root_create(nullptr);
    ASSERT_NE(st.root, nullptr);
    st.nua = nua_create(st.root, on_sip_event, &st, NUTAG_URL("sip:127.0.0.1:*"), TAG_END());
    ASSERT_NE(st.nua, nullptr);
    std::string to = "sip:fax@127.0.0.1:" + std::to_string(port);
    nua_handle_t *nh = nua_handle(st.nua, nullptr, SIPTAG_TO_STR(to.c_str()), TAG_END());
    nua_invite(nh, SOATAG_USER_SDP_STR("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                       "m=audio 6000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n"),
               TAG_END());
    EXPECT_TRUE(step_until(st, [&] { return st.invite_status != 0; }));
    EXPECT_EQ(st.invite_status, 200);

    call_object *co = new_call(CI_SIP_TO_ISDN, SM_INACTIVE);
    co->cl_sip->nh = nh;
    co->cc.dtmfmode = 2;
    // Not yet active and begun by SIP: nothing (the UAS would refuse a
    // second INFO).
    co->f.call_initiated_by_sip = 1;
    send_dtmf_to_sip(co, DTMF_POUND, 250);
    co->sm_state = SM_CALL_ACTIVE;
    send_dtmf_to_sip(co, DTMF_POUND, 250);
    EXPECT_TRUE(step_until(st, [&] { return st.info_status != 0; }));
    EXPECT_EQ(st.info_status, 200);

    nua_bye(nh, TAG_END());
    EXPECT_TRUE(step_until(st, [&] { return st.bye_status != 0; }));
    co->cl_sip->nh = nullptr;
    nua_handle_destroy(nh);
    nua_shutdown(st.nua);
    step_until(st, [&] { return st.shut; });
    nua_destroy(st.nua);
    su_root_destroy(st.root);
    su_deinit();
    uas.join();
    EXPECT_EQ(sipp.status, 0) << sipp.out << sipp.err;
    std::string messages = read_text_file(trace);
    EXPECT_NE(messages.find("Content-Type: application/dtmf-relay"), std::string::npos) << messages;
    EXPECT_NE(messages.find("Signal=#\r\nDuration=250\r\n"), std::string::npos) << messages;
    release(co);
}

// A tone event on an analog call whose machine has ended resets the call
// at once.
TEST_F(MediaRelay, ToneEventOnAnEndedAnalogCallResetsIt)
{
    const statemachine_transition no_rows[] = {{SM_ANY, SM_ANY, SM_KEEP_STATE, SM_NO_EVENT, nullptr}};
    call_object *fxs = new_call(CI_SIP_TO_ANALOG);
    fxs->analog_port = 2;
    fxs->sm = statemachine_create(fxs, SM_DESTROYING, no_rows, 1, nullptr, nullptr);
    ASSERT_NE(fxs->sm, nullptr);
    csm_header h = {};
    h.function_code = FC_VOIP_EVENTDET;
    csmchan_voip_eventdet_indication ind = {};
    ind.header = &h;
    ind.tone_detected_indication = 60;
    timeval now;
    gettimeofday(&now, nullptr);
    {
        debug_lines tarn_log({TARN});
        lock_hold hold(&lock_manager::global_lock);
        EXPECT_EQ(handle_msp_event_eventdet_analog(fxs, &ind, &now), 0);
        EXPECT_EQ(tarn_log.count("calling reset_op for "), 1);
    }
    EXPECT_EQ(fxs->sm, nullptr);
    EXPECT_EQ(fxs->callinfo, CI_FREE);
    EXPECT_EQ(fxs->analog_last_tone_event, 0); // the reset cleared what the event set
    take();
}

} // namespace
