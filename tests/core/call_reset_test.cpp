// The call-object reset: what it sends on ISDN, which timers it removes, what
// it queues for the media processor, how SIP legs and registrations go back,
// and the end of the process when media tracking stays inconsistent.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_reset.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "debug_lines.h"
#include "dialplan.h"
#include "isdn_lib_types.h"
#include "misdn_bchannel.h"
#include "msp_manager.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "line_bringup.h"
#include "pools.h"
#include "proxy_def.h"
#include "reg_object.h"
#include "timer.h"

namespace {

std::vector<int> isdn_sent;
std::vector<std::string> calls;

int record_isdn(call_object *, int event)
{
    isdn_sent.push_back(event);
    return 0;
}
void record_proxy_stop(call_object *) { calls.push_back("stop_udp_proxy_thread"); }
void record_stop_transcoding(call_object *, int lock) { calls.push_back("stop_transcoding " + std::to_string(lock)); }
int record_release_slot(int ts)
{
    calls.push_back("release_slot " + std::to_string(ts));
    return 0;
}

int32_t never_fires(int32_t, kv_timer *) { return 0; }

struct queued {
    int function_code;
    int timeslot;
    int index;
    void *context;
    int channel_mode = -1;
    int payload_type = -1;
};

class CallReset : public ::testing::Test {
protected:
    void SetUp() override
    {
        application_create();
        init_locks();
        ASSERT_EQ(create_call_object_pools(4), 0);
        ASSERT_NE(msp_create_command_manager(), nullptr);
        msp_init_timeslots();
        msp_init_resources();
        ASSERT_EQ(timer_list_new(), 0);
        call_reset_hooks h{};
        h.tarn_misdn_lib_send_event = record_isdn;
        h.stop_udp_proxy_thread = record_proxy_stop;
        h.call_s2s_stop_transcoding = record_stop_transcoding;
        h.transcoding_release_timeslot = record_release_slot;
        call_reset_set_hooks(&h);
        isdn_sent.clear();
        calls.clear();
        co = get_free_operation_handle(1);
        ASSERT_NE(co, nullptr);
        co->callinfo = CI_SIP_TO_SIP;
        co->f.no_cdr = 1;
    }
    void TearDown() override
    {
        drain_queue();
        call_reset_clear_hooks();
        timer_exit();
    }

    // Takes every queued media command off the queue, in order.
    std::vector<queued> drain_queue()
    {
        std::vector<queued> out;
        while (csminstruction *i = cman->csm_queue->first) {
            csm_header *h = get_header(i->csm_msg);
            queued q{h->function_code, i->timeslot, h->index, i->context};
            if (h->function_code == FC_VOIP_VOPENA) {
                q.channel_mode = i->csm_msg.u_csmchan_voip_vopena->channel_mode;
                q.payload_type = i->csm_msg.u_csmchan_voip_vopena->payload_type;
            }
            out.push_back(q);
            msp_queue_remove(i);
            msp_free_instruction(i);
        }
        return out;
    }

    kv_timer *arm()
    {
        auto *t = (kv_timer *)calloc(1, sizeof(kv_timer));
        t->tv.tv_sec = 60;
        EXPECT_EQ(timer_add(never_fires, T_EVENT_DIALING, t), 0);
        return t;
    }

    call_object *co = nullptr;
};

// ---- ISDN ---------------------------------------------------------------------------

struct isdn_case {
    const char *name;
    int callinfo;
    std::vector<int> sent;     // messages the call sent on its ISDN leg
    std::vector<int> received; // and received
    int expected_event;        // 0: nothing sent
    bool cleared;              // the idle B-channel went back to the library
};

TEST_F(CallReset, IsdnLegEndsByWhatItSaw)
{
    const isdn_case cases[] = {
        {"ISDN to SIP, nothing answered", CI_ISDN_TO_SIP, {}, {LEGI_SETUP}, EVENT_RELEASE_COMPLETE, false},
        {"ISDN to SIP after ALERTING", CI_ISDN_TO_SIP, {LEGI_PROCEEDING, LEGI_ALERTING}, {LEGI_SETUP},
         EVENT_DISCONNECT, false},
        {"ISDN to SIP after SETUP ACKNOWLEDGE", CI_ISDN_TO_SIP, {LEGI_SETUP_ACKNOWLEDGE}, {}, EVENT_DISCONNECT, false},
        {"SIP to ISDN after SETUP", CI_SIP_TO_ISDN, {LEGI_SETUP}, {}, EVENT_DISCONNECT, false},
        {"SIP to ISDN before SETUP", CI_SIP_TO_ISDN, {}, {}, 0, true},
        {"GSM to SIP with a B-channel", CI_GSM_TO_SIP, {}, {}, EVENT_DISCONNECT, false},
        {"far end sent DISCONNECT", CI_ISDN_TO_SIP, {}, {LEGI_DISCONNECT}, 0, false},
        {"we sent RELEASE", CI_SIP_TO_ISDN, {LEGI_SETUP, LEGI_RELEASE}, {}, 0, false},
        {"far end sent RELEASE COMPLETE", CI_SIP_TO_ISDN, {}, {LEGI_RELEASE_COMPLETE}, 0, false},
    };
    for (const isdn_case &c : cases) {
        SCOPED_TRACE(c.name);
        isdn_sent.clear();
        auto *bc = (misdn_bchannel *)calloc(1, sizeof(misdn_bchannel));
        bc->port = 1;
        bc->channel = 2;
        bc->in_use = 1;
        co = get_free_operation_handle(1);
        ASSERT_NE(co, nullptr);
        co->callinfo = c.callinfo;
        co->f.no_cdr = 1;
        co->bc = bc;
        for (int m : c.sent)
            co->legi->events_sent[m]++;
        for (int m : c.received)
            co->legi->events_received[m]++;
        debug_lines log({TARN});
        reset_op(co);
        EXPECT_EQ(co->bc, nullptr);
        EXPECT_TRUE(log.has("resetting bchannel (port 1/channel 2)"));
        if (c.expected_event)
            EXPECT_EQ(isdn_sent, std::vector<int>{c.expected_event});
        else
            EXPECT_TRUE(isdn_sent.empty());
        EXPECT_EQ(bc->in_use, c.cleared ? 0 : 1);
        EXPECT_EQ(co->legi->events_sent[LEGI_SETUP], 0) << "the leg record is cleared";
        free(bc);
    }
}

TEST_F(CallReset, WithoutBchannelNothingIsSent)
{
    co->callinfo = CI_ISDN_TO_SIP;
    debug_lines log({TARN});
    reset_op(co);
    EXPECT_TRUE(isdn_sent.empty());
    EXPECT_TRUE(log.has("resetting bchannel not necessary"));
}

TEST_F(CallReset, MissingHooksAreSkippedWithALine)
{
    call_reset_clear_hooks();
    misdn_bchannel bc{};
    co->callinfo = CI_ISDN_TO_SIP;
    co->bc = &bc;
    debug_lines log({TARN});
    reset_op(co);
    EXPECT_EQ(co->callinfo, CI_FREE);
    EXPECT_TRUE(log.has("tarn_misdn_lib_send_event is not part of this build: skipped"));
    EXPECT_TRUE(log.has("stop_udp_proxy_thread is not part of this build: skipped"));
}

// ---- timers -------------------------------------------------------------------------

TEST_F(CallReset, EveryTimerRemovedInOrderAndASecondResetRemovesNone)
{
    kv_timer *call_object::*const order[] = {
        &call_object::timer,
        &call_object::dns_enum_timer,
        &call_object::rtp_stat_timer,
        &call_object::feature_code_t_timer,
        &call_object::feature_code_f_timer,
        &call_object::feature_code_flush_timer,
        &call_object::failover_timer,
        &call_object::sip_t0_timer,
        &call_object::sip_t180_timer,
        &call_object::sip_t183_timer,
        &call_object::sip_t200_timer,
        &call_object::state_event_missing_safeguard_timer,
        &call_object::dialtone_detection_timer,
        &call_object::fxo_cpt_timer,
        &call_object::fxo_alerting_ended_timer,
        &call_object::aoc_timer,
        &call_object::force_t38_timer,
        &call_object::fxs_wink_offset_timer,
    };
    std::vector<std::string> armed;
    for (auto m : order) {
        co->*m = arm();
        char buf[64];
        snprintf(buf, sizeof buf, "%p", (void *)(co->*m));
        armed.push_back(buf);
    }
    snprintf(co->feature_code_flush_buffer, sizeof co->feature_code_flush_buffer, "*12");
    debug_lines log({TARN});
    reset_op(co);
    for (auto m : order)
        EXPECT_EQ(co->*m, nullptr);
    EXPECT_STREQ(co->feature_code_flush_buffer, "");
    std::vector<std::string> removed;
    for (const std::string &l : log.lines())
        if (l.rfind("removing ", 0) == 0)
            removed.push_back(l.substr(l.rfind(' ') + 1));
    EXPECT_EQ(removed, armed) << "each in its place, logged before";
    EXPECT_EQ(log.count("removed "), 18) << "and after";

    // Taken again and reset again: nothing left to remove.
    ASSERT_EQ(get_free_operation_handle(1), co);
    co->callinfo = CI_SIP_TO_SIP;
    co->f.no_cdr = 1;
    log.clear();
    reset_op(co);
    EXPECT_EQ(log.count("removing "), 0);
}

// ---- media --------------------------------------------------------------------------

TEST_F(CallReset, ActiveChannelIsSwitchedOffAndDestroyed)
{
    co->tdm_logical_timeslot = 5;
    co->remote_tdm_logical_timeslot = 9;
    co->msp_state = MSP_VOICE_ACTIVE;
    msp_assign_channel_to_timeslot(5, 12, nullptr);
    ASSERT_EQ(msp_request_resource(co, &co->msp_resources_active, MSPRES_G711_20), 0);
    ASSERT_EQ(msp_request_resource(co, &co->msp_resources_reserved, MSPRES_G729a), 0);
    int free_before_call = msp_get_free_channels();
    gp->msp_counter = 40;
    int counter = msp_command_counter;
    debug_lines log({TARN});
    reset_op(co);
    std::vector<queued> q = drain_queue();
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0].function_code, FC_VOIP_VOPENA);
    EXPECT_EQ(q[0].channel_mode, 0);
    EXPECT_EQ(q[0].payload_type, 0);
    EXPECT_EQ(q[1].function_code, FC_SUPVSR_DESTROY_CHANNEL);
    EXPECT_EQ(q[2].function_code, FC_SUPVSR_DESTROY_CHANNEL);
    EXPECT_EQ(q[0].timeslot, 5);
    EXPECT_EQ(q[1].timeslot, 5);
    EXPECT_EQ(q[2].timeslot, 9);
    EXPECT_EQ(q[0].index, 41);
    EXPECT_EQ(q[1].index, 42);
    EXPECT_EQ(q[2].index, 43);
    EXPECT_EQ(q[0].context, co);
    EXPECT_EQ(msp_command_counter, counter + 2) << "after taking and after releasing the lock";
    EXPECT_EQ(co->msp_resources_active, 0);
    EXPECT_EQ(co->msp_resources_reserved, 0);
    EXPECT_GT(msp_get_free_channels(), free_before_call);
    EXPECT_EQ(co->msp_state, 0u);
    EXPECT_EQ(co->tdm_logical_timeslot, -1);
    EXPECT_EQ(co->remote_tdm_logical_timeslot, -1);
    EXPECT_TRUE(log.has("scheduling destruction of active channel - Channel 12 msp_timeslot 5"));
    EXPECT_TRUE(log.has("Cleaned up MSP resources"));
}

TEST_F(CallReset, CallerHoldingTheQueueLockIsNotCountedTwice)
{
    int counter = msp_command_counter;
    msp_queue_lock_take();
    reset_op_msplock(co, 0);
    msp_queue_lock_release();
    EXPECT_EQ(msp_command_counter, counter + 2);
}

TEST_F(CallReset, TranscodingBuddyGoesWithItsCall)
{
    call_object *buddy = get_free_operation_handle(1);
    ASSERT_NE(buddy, nullptr);
    buddy->callinfo = CI_SIP_TO_SIP;
    buddy->tdm_logical_timeslot = 301;
    buddy->msp_state = MSP_VOICE_ACTIVE;
    buddy->f.is_transcoding_buddy = 1;
    call_leg_sip *leg = get_new_sip_call_leg();
    leg->incoming_sdp = strdup("v=0");
    buddy->cl_sip_out = buddy->cl_sip = leg;
    co->transcoding_buddy = buddy;
    co->f.transcoding_call = 1;
    co->f.transcoding_started = 1;
    co->tdm_logical_timeslot = 300;
    co->msp_state = MSP_VOICE_ACTIVE;
    reset_op(co);
    EXPECT_EQ(calls, (std::vector<std::string>{"stop_udp_proxy_thread", "stop_transcoding 0", "release_slot 300",
                                               "release_slot 301"}));
    EXPECT_EQ(buddy->callinfo, CI_FREE);
    EXPECT_EQ(buddy->pid, 0);
    EXPECT_EQ(buddy->cl_sip_out, nullptr);
    EXPECT_EQ(buddy->tdm_logical_timeslot, -1);
    EXPECT_EQ(buddy->msp_state, 0u);
    EXPECT_EQ(buddy->f.is_transcoding_buddy, 0u);
    EXPECT_EQ(leg->in_use, 0);
    EXPECT_TRUE(drain_queue().empty()) << "the transcoding stop handles the channels";
}

using CallResetDeathTest = CallReset;

TEST_F(CallResetDeathTest, ActiveResourcesLeftAfterReleaseEndTheProcess)
{
    // Resources marked active without any channel state: nothing releases them.
    co->pid = 4711;
    co->msp_resources_active = 1 << MSPRES_G711_20;
    EXPECT_EXIT(reset_op(co), ::testing::ExitedWithCode(114),
                "TARN EXITCODE 114: MSP CHANNEL TRACKING INCONSISTENT CID:004711:l0");
}

// ---- SIP legs -----------------------------------------------------------------------

TEST_F(CallReset, PooledLegKeepsItsIndexHeapLegIsFreed)
{
    call_leg_sip *pooled = get_new_sip_call_leg();
    ASSERT_EQ(pooled->allocated, 0);
    int index = pooled->index;
    pooled->incoming_sdp = strdup("v=0");
    pooled->passthrough_headers[3] = strdup("X-A: 1");
    pooled->crypto = (crypto_settings *)calloc(1, sizeof(crypto_settings));
    pooled->crypto->in[2].key = strdup("k");
    pooled->crypto->out[0].sdp_crypto = strdup("a=crypto");
    pooled->address_info = (sip_address_info_object *)calloc(1, sizeof(sip_address_info_object));
    pooled->address_info->from_url_user = strdup("desk7");
    pooled->last_nua_status_code = 486;
    call_leg_sip *heap = get_new_sip_call_leg_allocate();
    heap->incoming_sdp = strdup("v=0");
    co->cl_sip_in = co->cl_sip = pooled;
    co->cl_sip_out = heap;

    reset_op(co); // the sanitizer tree checks that all of it is freed once
    EXPECT_EQ(co->cl_sip_in, nullptr);
    EXPECT_EQ(co->cl_sip_out, nullptr);
    EXPECT_EQ(co->cl_sip, nullptr);
    EXPECT_EQ(pooled->index, index);
    EXPECT_EQ(pooled->in_use, 0);
    EXPECT_EQ(pooled->incoming_sdp, nullptr);
    EXPECT_EQ(pooled->crypto, nullptr);
    EXPECT_EQ(pooled->last_nua_status_code, 0);
    EXPECT_EQ(get_new_sip_call_leg(), pooled) << "first free again";
    pooled->in_use = 0;
}

TEST_F(CallReset, HeldLegIsReleasedOnceAndSharedLegsOnce)
{
    call_leg_sip *shared = get_new_sip_call_leg_allocate();
    shared->incoming_sdp = strdup("v=0");
    call_leg_sip *held = get_new_sip_call_leg();
    held->passthrough_headers[0] = strdup("X-B: 2");
    co->cl_sip_in = co->cl_sip_out = co->cl_sip = shared;
    co->cl_sip_hold = held;
    reset_op(co);
    EXPECT_EQ(co->cl_sip_hold, nullptr);
    EXPECT_EQ(held->in_use, 0);
    EXPECT_EQ(held->passthrough_headers[0], nullptr);
}

// ---- the object itself ----------------------------------------------------------------

TEST_F(CallReset, FreeObjectOnlyRecordsItsIdentifier)
{
    co->callinfo = CI_FREE;
    co->pid = 555;
    co->sip_t0_timer = arm();
    gp->tt_index = 1024 + 7;
    debug_lines log({TARN});
    reset_op(co);
    EXPECT_EQ(gp->tt_pid[7], 555);
    EXPECT_NE(co->sip_t0_timer, nullptr) << "stops at the free object";
    EXPECT_EQ(co->pid, 555);
    EXPECT_EQ(log.count("RESETTING"), 0);
    timer_remove(co->sip_t0_timer);
    co->sip_t0_timer = nullptr;
}

TEST_F(CallReset, CdrOnlyForRealCalls)
{
    char *buf = nullptr;
    size_t len = 0;
    gp->cdr_fp = open_memstream(&buf, &len);
    gp->log_cdr = 1;
    gp->cdr_log_filesize_limit = 1 << 20;
    struct {
        int pid;
        int no_cdr;
        uint32_t sm_state;
        int callinfo;
        bool written;
    } cases[] = {
        {100, 0, 2, CI_SIP_TO_ISDN, true},
        {CALL_OBJECT_NO_CDR_PID, 0, 2, CI_SIP_TO_ISDN, false},
        {101, 1, 2, CI_SIP_TO_ISDN, false},
        {102, 0, 0x200000, CI_ANALOG_TO_SIP, false},
        {103, 0, 2, CI_REGISTER, false},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.pid);
        co = get_free_operation_handle(0);
        ASSERT_NE(co, nullptr);
        co->pid = c.pid;
        co->f.no_cdr = c.no_cdr;
        co->sm_state = c.sm_state;
        co->callinfo = c.callinfo;
        co->cdr.call_start = time(nullptr);
        fflush(gp->cdr_fp);
        size_t before = len;
        reset_op(co);
        fflush(gp->cdr_fp);
        EXPECT_EQ(len > before, c.written);
        EXPECT_EQ(co->callinfo, CI_FREE);
        EXPECT_EQ(co->cdr.call_start, 0) << "the record is reset";
    }
    fclose(gp->cdr_fp);
    gp->cdr_fp = nullptr;
    gp->log_cdr = 0;
    free(buf);
}

TEST_F(CallReset, FieldsBackToTheirRestingValues)
{
    co->cc_source = co->cc_override = nullptr;
    co->sm_state = 2;
    co->connect_start = 5;
    co->analog_port = 0x800 | 3;
    static analog_port_info analog{};
    analog.in_use[3] = 1;
    gp->analog_info = &analog;
    co->gsm_port = 0;
    co->gsm_call_id = 4;
    co->conference_id = 7;
    co->ecall_simple = 1;
    co->hdlc_buffer = (unsigned char *)malloc(16);
    co->hdlc_buffer_size = 16;
    co->sip_msg_buf = strdup("MESSAGE");
    co->call_group_buddies_count = 2;
    co->call_group_buddies[0] = strdup("a");
    co->call_group_buddies[1] = strdup("b");
    co->new_destination = strdup("1234");
    co->new_source_auto = strdup("desk7");
    co->dp = (dialplan_element *)calloc(1, sizeof(dialplan_element));
    co->dp->to_id = strdup("p:pbx");
    co->dns_enum_fd = 12;
    snprintf(co->dns_enum_regex, sizeof co->dns_enum_regex, "!^.*$!sip:x!");
    co->f.dismantling = 1;
    reset_op(co);
    EXPECT_EQ(co->callinfo, CI_FREE);
    EXPECT_EQ(co->pid, 0);
    EXPECT_EQ(co->sm_state, 1u);
    EXPECT_EQ(co->connect_start, 0);
    EXPECT_EQ(co->cc_source, &gp->default_call_configuration);
    EXPECT_EQ(co->cc_destination, &gp->default_call_configuration);
    EXPECT_EQ(co->cc_override, &gp->default_call_configuration);
    EXPECT_EQ(analog.in_use[3], 0) << "the marker bit is not part of the port";
    EXPECT_EQ(co->analog_port, 0);
    EXPECT_EQ(co->gsm_call_id, -1);
    EXPECT_EQ(co->conference_id, -1);
    EXPECT_EQ(co->ecall_simple, -1);
    EXPECT_EQ(co->hdlc_buffer, nullptr);
    EXPECT_EQ(co->sip_msg_buf, nullptr);
    EXPECT_EQ(co->call_group_buddies_count, 0);
    EXPECT_EQ(co->call_group_buddies[0], nullptr);
    EXPECT_EQ(co->dp, nullptr);
    EXPECT_EQ(co->new_destination, nullptr);
    EXPECT_EQ(co->dns_enum_fd, 0);
    EXPECT_STREQ(co->dns_enum_regex, "");
    EXPECT_EQ(co->f.dismantling, 0u);
    EXPECT_EQ(co->counteri, 1);
    gp->analog_info = nullptr;
}

TEST_F(CallReset, NullObjectsAreReported)
{
    debug_lines log({TARN});
    reset_op(nullptr);
    reset_rop(nullptr);
    EXPECT_TRUE(log.has("CRITICAL: Warning! Trying to reset Null Pointer struct call_object"));
    EXPECT_TRUE(log.has("CRITICAL: Warning! Trying to reset Null Pointer struct reg_object"));
}

// ---- registrations ------------------------------------------------------------------

TEST_F(CallReset, RegistrationGoesBackFree)
{
    reg_object ro{};
    init_reg_object(&ro, 0);
    ro.callinfo = CI_REGISTER;
    ro.timer = arm();
    ro.only_validate = 1;
    ro.option_counter = 3;
    ro.auth_counter = 2;
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    ro.register_probe_socket_fd = sv[0];
    reset_rop(&ro);
    EXPECT_EQ(ro.callinfo, CI_FREE);
    EXPECT_EQ(ro.timer, nullptr);
    EXPECT_EQ(ro.only_validate, 0);
    EXPECT_EQ(ro.option_counter, 0);
    EXPECT_EQ(ro.auth_counter, 0);
    EXPECT_EQ(ro.register_probe_socket_fd, -1);
    EXPECT_EQ(close(sv[0]), -1) << "the probe socket is closed";
    EXPECT_EQ(errno, EBADF);
    close(sv[1]);

    // A free object is left as it is.
    ro.option_counter = 9;
    reset_rop(&ro);
    EXPECT_EQ(ro.option_counter, 9);
}

} // namespace
