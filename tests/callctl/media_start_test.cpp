// Media start, stop and bridging of calls: the wait rules before a channel
// is set up, the logical timeslots of line channels, the self-call joining
// of two local calls by the bridging setting, PCM slots and the SIP-to-SIP
// resources. The media processor operations are recording doubles.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_configuration.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "channel_spender.h"
#include "global_lock.h"
#include "media_start.h"
#include "isdn_lib.h"
#include "misdn_bchannel.h"
#include "msp_manager.h"
#include "msp_resource.h"
#include "pools.h"
#include "rtp_ports.h"
#include "sdp_offer_answer.h"

namespace {

std::vector<std::string> ops;

int rec_voice(call_object *, int) { return ops.push_back("voice"), 0; }
int rec_mf(call_object *, int) { return ops.push_back("mf"), 0; }
int rec_t38(call_object *, int) { return ops.push_back("t38"), 0; }
int rec_stop_voice(call_object *, int) { return ops.push_back("stop voice"), 0; }
int rec_stop_t38(call_object *, int) { return ops.push_back("stop t38"), 0; }
int rec_stop_hdlc(call_object *, int) { return ops.push_back("stop hdlc"), 0; }
int rec_stop_tone(call_object *, int) { return ops.push_back("stop tone"), 0; }
int rec_bridge(call_object *, call_object *) { return ops.push_back("bridge"), 0; }
int remote_result = 0;
int rec_remote(call_object *co)
{
    ops.push_back("remote " + std::to_string(co->remote_tdm_logical_timeslot));
    return remote_result;
}
// PCM table: slot 3 holds 10.0.0.1:4000 (ours), slot 5 192.0.2.9:6000.
int pcm_find(const char *ip, int port)
{
    if (strcmp(ip, "10.0.0.1") == 0 && port == 4000)
        return 3;
    if (strcmp(ip, "192.0.2.9") == 0 && port == 6000)
        return 5;
    return -1;
}

class MediaStart : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!gp)
            application_create();
        init_locks();
        init_default_call_configuration();
        msp_create_command_manager();
        static bool pools = create_call_object_pools(8) == 0;
        ASSERT_TRUE(pools);
    }
    void SetUp() override
    {
        ops.clear();
        media_start_hooks h{rec_voice, rec_mf,    rec_t38,    rec_stop_voice, rec_stop_t38,
                            rec_stop_hdlc, rec_stop_tone, rec_bridge, rec_remote,     pcm_find};
        media_start_set_hooks(&h);
        ports = RTP_ports{};
        ports.lanstart = 4000;
        ports.lanstop = 4999;
        gp->rtp_ports = &ports;
        snprintf(gp->netconf.host_ip_lan, sizeof gp->netconf.host_ip_lan, "%s", "10.0.0.1");
        snprintf(gp->netconf.msp_devip, sizeof gp->netconf.msp_devip, "%s", "10.0.0.2");
        gp->msp_bridging = 2;
        gp->run_pcm_client = gp->run_pcm_server = 0;
        // Bus 0: ISDN port 1 channels 1-30, analog 101, GSM 202, CAS 1001;
        // bus 1: analog 102; PCM bridging slots 0-7 on bus 2.
        tdm_settings &m = gp->tdm_map;
        m.timeslot_size = 0;
        auto add = [&](int bus, int port, int channel) {
            timeslot_def &t = m.timeslots[m.timeslot_size];
            t.bus = (uint8_t)bus;
            t.port = (uint16_t)port;
            t.channel = (uint16_t)channel;
            t.logical_timeslot = (uint16_t)(m.timeslot_size + 1);
            t.timeslot = t.logical_timeslot;
            m.timeslot_size++;
        };
        for (int c = 1; c <= 30; c++)
            add(0, 1, c);
        add(0, 101, 1);
        add(1, 102, 1);
        add(0, 202, 1);
        add(0, 1001, 1);
        for (int s = 0; s < 8; s++)
            add(2, 100, s);
        a = make_call(&leg_a, 4000, 4002, 31);
        b = make_call(&leg_b, 4002, 4000, 32);
    }
    void TearDown() override
    {
        for (call_object *co : {a, b}) {
            if (!co)
                continue;
            if (co->transcoding_buddy) {
                msp_release_all_resources(co->transcoding_buddy, &co->transcoding_buddy->msp_resources_reserved);
                co->transcoding_buddy->callinfo = CI_FREE;
                co->transcoding_buddy = nullptr;
            }
            msp_release_all_resources(co, &co->msp_resources_reserved);
            co->callinfo = CI_FREE;
            co->cl_sip = co->cl_sip_in = nullptr;
        }
        media_start_set_hooks(nullptr);
        gp->rtp_ports = nullptr;
    }
    call_object *make_call(call_leg_sip *leg, int local, int remote, int timeslot)
    {
        call_object *co = get_free_operation_handle(0);
        EXPECT_NE(co, nullptr);
        if (!co)
            return nullptr;
        co->f = call_object_flags{};
        co->bc = nullptr;
        co->analog_port = co->gsm_port = co->cas_port = 0;
        co->sm_state = 0;
        co->cas_dialing_performed = 0;
        co->transcoding_buddy = nullptr;
        co->msp_resources_reserved = 0;
        cc_clone_call_configuration(&co->cc, &gp->default_call_configuration);
        co->callinfo = CI_SIP_TO_ISDN;
        *leg = call_leg_sip{};
        leg->rtp_local_port = local;
        leg->rtp_remote_port = remote;
        leg->using_payload = leg->using_codec = 8;
        snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", "10.0.0.1");
        snprintf(leg->using_ip, sizeof leg->using_ip, "%s", "10.0.0.1");
        co->cl_sip = co->cl_sip_in = leg;
        co->tdm_logical_timeslot = timeslot;
        co->remote_tdm_logical_timeslot = -1;
        co->msp_state = MSP_VOICE_ACTIVE;
        co->cc.disable_bridging = 0;
        co->cc.early_audio = 1;
        return co;
    }
    RTP_ports ports{};
    call_leg_sip leg_a{}, leg_b{};
    call_object *a = nullptr, *b = nullptr;
};

// Two local calls whose legs point at each other's RTP ports are joined by
// the bridging setting, the buses of their timeslots and their own
// configuration.
TEST_F(MediaStart, BridgingMatrix)
{
    struct {
        const char *name;
        int msp_bridging;
        int timeslot_b; // 33: GSM 202 on bus 0 like the other call's 31, 32: analog 102 on bus 1, 99 none
        int disable_a;
        int disable_b;
        bool bridged;
    } rows[] = {
        {"YES, other bus", 2, 32, 0, 0, true},
        {"ON_SAME_BUS_ONLY, same bus", 0, 33, 0, 0, true},
        {"ON_SAME_BUS_ONLY, other bus", 0, 32, 0, 0, false},
        {"ON_SAME_BUS_ONLY, timeslot not in the map", 0, 99, 0, 0, false},
        {"NO, same bus", 1, 33, 0, 0, false},
        {"YES, this call disables bridging", 2, 33, 1, 0, false},
        {"YES, the other call disables bridging (its own run)", 2, 33, 0, 1, false},
    };
    for (auto &r : rows) {
        SCOPED_TRACE(r.name);
        gp->msp_bridging = r.msp_bridging;
        b->tdm_logical_timeslot = r.timeslot_b;
        a->cc.disable_bridging = r.disable_a;
        b->cc.disable_bridging = r.disable_b;
        // Each call bridges from its own machine.
        call_object *runner = r.disable_b ? b : a;
        ops.clear();
        snprintf(runner->cl_sip->rtp_remote_ip, sizeof runner->cl_sip->rtp_remote_ip, "%s", "10.0.0.1");
        sm_msp_bridge_if_we_can(runner, nullptr, 0, 0);
        EXPECT_EQ(ops == std::vector<std::string>{"bridge"}, r.bridged);
        // The gateway's own address was replaced by the media processor's.
        EXPECT_STREQ(runner->cl_sip->rtp_remote_ip, "10.0.0.2");
    }
    // A SIP-to-SIP call is never joined; the partner's kind does not stop it
    // unless it is internal.
    gp->msp_bridging = 2;
    a->cc.disable_bridging = b->cc.disable_bridging = 0;
    a->callinfo = CI_SIP_TO_SIP;
    EXPECT_EQ(is_bridging_allowed(a, b), 0);
    a->callinfo = CI_SIP_TO_ISDN;
    b->callinfo = CI_INTERNAL;
    EXPECT_EQ(is_bridging_allowed(a, b), 0);
}

// The self-call test at media start: both voice channels active and
// bridging allowed joins the calls; else the voice channel is set up.
TEST_F(MediaStart, SelfCallAtStart)
{
    a->f.start_streaming = 1;
    _start_channel_processing(a);
    EXPECT_EQ(ops, std::vector<std::string>{"bridge"});
    EXPECT_EQ(a->f.start_streaming, 0u);

    ops.clear();
    b->msp_state = 0;
    leg_a.rtp_remote_port = 4002;
    snprintf(leg_a.rtp_remote_ip, sizeof leg_a.rtp_remote_ip, "%s", "127.0.0.1");
    a->f.start_streaming = 1;
    _start_channel_processing(a);
    EXPECT_EQ(ops, std::vector<std::string>{"voice"});

    // No call owns the port.
    ops.clear();
    leg_a.rtp_remote_port = 4100;
    a->f.start_streaming = 1;
    _start_channel_processing(a);
    EXPECT_TRUE(ops.empty());
}

// When media may start: early audio, connection, first SDP answered,
// timeslot, remote port, dummy RTP, T.38 and HDLC.
TEST_F(MediaStart, WaitRules)
{
    struct {
        const char *name;
        int callinfo;
        int early_audio;
        int connected;
        int first_sdp_answered;
        int dialtone_passthrough;
        int timeslot;
        int remote_port;
        int payload;
        const char *op; // "" none
    } rows[] = {
        {"early audio 1 before connect", CI_SIP_TO_ISDN, 1, 0, 0, 0, 31, 6000, 8, "voice"},
        {"early audio 0 waits for connect", CI_SIP_TO_ISDN, 0, 0, 0, 0, 31, 6000, 8, ""},
        {"early audio 0 after connect", CI_SIP_TO_ISDN, 0, 1, 0, 0, 31, 6000, 8, "voice"},
        {"early audio 2 waits until the first SDP is answered", CI_SIP_TO_GSM, 2, 0, 0, 0, 31, 6000, 8, ""},
        {"early audio 2 with the first SDP answered", CI_SIP_TO_GSM, 2, 0, 1, 0, 31, 6000, 8, "voice"},
        {"early audio 3: an outgoing SIP call waits for connect", CI_ISDN_TO_SIP, 3, 0, 0, 0, 31, 6000, 8, ""},
        {"early audio 0: an outgoing SIP call waits for connect", CI_ANALOG_TO_SIP, 0, 0, 0, 0, 31, 6000, 8, ""},
        {"early audio 3 after connect", CI_ISDN_TO_SIP, 3, 1, 0, 0, 31, 6000, 8, "voice"},
        {"early audio 3 with dial-tone passthrough", CI_ANALOG_TO_SIP, 3, 0, 0, 1, 31, 6000, 8, "voice"},
        {"no timeslot", CI_SIP_TO_ISDN, 1, 1, 0, 0, -1, 6000, 8, ""},
        {"no remote port", CI_SIP_TO_ISDN, 1, 1, 0, 0, 31, 0, 8, ""},
        {"T.38", CI_SIP_TO_ISDN, 1, 1, 0, 0, 31, 6000, 9999, "t38"},
        {"HDLC starts nothing", CI_SIP_TO_ISDN, 1, 1, 0, 0, 31, 6000, 9998, ""},
        {"no payload yet", CI_SIP_TO_ISDN, 1, 1, 0, 0, 31, 6000, -1, ""},
    };
    for (auto &r : rows) {
        SCOPED_TRACE(r.name);
        ops.clear();
        a->callinfo = r.callinfo;
        a->cc.early_audio = r.early_audio;
        a->f.connection_established = r.connected;
        a->f.first_sdp_answered = r.first_sdp_answered;
        a->f.fxo_dialtone_passthrough = r.dialtone_passthrough;
        a->f.dummy_rtp = 0;
        a->tdm_logical_timeslot = r.timeslot;
        leg_a.rtp_remote_port = r.remote_port;
        leg_a.using_payload = r.payload;
        snprintf(leg_a.rtp_remote_ip, sizeof leg_a.rtp_remote_ip, "%s", "192.0.2.9");
        a->f.start_streaming = 1;
        _start_channel_processing(a);
        EXPECT_EQ(ops, r.op[0] ? std::vector<std::string>{r.op} : std::vector<std::string>{});
        if (r.op[0])
            EXPECT_EQ(a->f.start_streaming, 0u);
    }
    // Nothing without start_streaming (a console call to ISDN sets it).
    ops.clear();
    a->callinfo = CI_SIP_TO_ISDN;
    a->tdm_logical_timeslot = 31;
    leg_a.rtp_remote_port = 6000;
    leg_a.using_payload = 8;
    a->f.start_streaming = 0;
    _start_channel_processing(a);
    EXPECT_TRUE(ops.empty());
    a->callinfo = CI_TELNET_TO_ISDN;
    _start_channel_processing(a);
    EXPECT_EQ(ops, std::vector<std::string>{"voice"});
    // Dummy RTP starts the voice channel without the wait rules.
    ops.clear();
    a->callinfo = CI_SIP_TO_ISDN;
    a->f.dummy_rtp = 1;
    a->f.start_streaming = 0;
    a->tdm_logical_timeslot = -1;
    _start_channel_processing(a);
    EXPECT_EQ(ops, std::vector<std::string>{"voice"});
}

// A CAS call still in MF signalling before dialling gets the MF channel.
TEST_F(MediaStart, CasMfChannel)
{
    a->callinfo = CI_SIP_TO_CAS;
    a->sm_state = SM_CAS_MF_SIGNALLING;
    a->cas_dialing_performed = 0;
    leg_a.rtp_remote_port = 6000;
    snprintf(leg_a.rtp_remote_ip, sizeof leg_a.rtp_remote_ip, "%s", "192.0.2.9");
    a->f.start_streaming = 1;
    _start_channel_processing(a);
    EXPECT_EQ(ops, std::vector<std::string>{"mf"});
    ops.clear();
    a->cas_dialing_performed = 1;
    a->f.start_streaming = 1;
    _start_channel_processing(a);
    EXPECT_EQ(ops, std::vector<std::string>{"voice"});
}

TEST_F(MediaStart, StopOrderAndTranscodingCalls)
{
    sm_msp_stop_rtp(a, nullptr, 0, 0);
    EXPECT_EQ(ops, (std::vector<std::string>{"stop voice", "stop t38", "stop hdlc", "stop tone"}));
    ops.clear();
    a->f.transcoding_call = 1;
    call_stop_rtp(a, 1);
    EXPECT_TRUE(ops.empty());
    a->f.transcoding_call = 0;
    // The dummy RTP stop only stops while dummy RTP runs.
    sm_call_stop_dummy_rtp(a, nullptr, 0, 0);
    EXPECT_TRUE(ops.empty());
    a->f.dummy_rtp = 1;
    sm_call_stop_dummy_rtp(a, nullptr, 0, 0);
    EXPECT_EQ(ops.size(), 4u);
    EXPECT_EQ(a->f.dummy_rtp, 0u);
    // Disabling dummy RTP restarts streaming when a channel runs.
    a->f.dummy_rtp = 1;
    sm_call_disable_dummy_rtp(a, nullptr, 0, 0);
    EXPECT_EQ(a->f.start_streaming, 1u);
    EXPECT_EQ(a->f.dummy_rtp, 0u);
}

// Logical timeslots: a primary-rate channel above the D-channel is one
// lower in the map; line ports by their numbering.
TEST_F(MediaStart, LogicalTimeslots)
{
    channel_spender book{};
    channel_spender_init(&book, 4);
    channel_spender_init_port(&book, 1, CHANNEL_SPENDER_PRI, CHANNEL_ANY, 16);
    channel_spender *saved = chan_mgr;
    chan_mgr = &book;
    struct {
        int channel;
        int map_channel;
    } rows[] = {{17, 16}, {15, 15}, {31, 30}, {1, 1}};
    for (auto &r : rows) {
        SCOPED_TRACE(r.channel);
        misdn_bchannel bc{};
        bc.port = 1;
        int got = 0;
        ASSERT_EQ(channel_spender_request_outgoing_channel(&book, 1, r.channel, &bc, &got), 0);
        // The network names the channel in its answer.
        ASSERT_EQ(channel_spender_process_answer(&book, 1, &bc, r.channel, 1), 0);
        bc.channel = r.channel;
        a->bc = &bc;
        a->tdm_logical_timeslot = -1;
        sm_msp_set_tdm_logical_timeslot(a, nullptr, 0, 0);
        EXPECT_EQ(a->tdm_logical_timeslot, get_logical_timeslot(a, 1, r.map_channel));
        EXPECT_EQ(a->tdm_logical_timeslot, r.map_channel); // the fixture numbers port 1 from 1
        EXPECT_EQ(a->bc_channel, r.channel);
        channel_spender_release_channel(&book, &bc, 1, r.channel);
        a->bc = nullptr;
    }
    chan_mgr = saved;
    for (int i = 0; i <= book.portmax; i++)
        free(book.ports[i]);
    free(book.ports);

    struct {
        int analog, gsm, cas;
        int port;
    } lines[] = {{1, 0, 0, 101}, {0, 2, 0, 202}, {0, 0, 1, 1001}, {0x800 | 2, 0, 0, 102}};
    for (auto &l : lines) {
        a->analog_port = l.analog;
        a->gsm_port = l.gsm;
        a->cas_port = l.cas;
        sm_msp_set_tdm_logical_timeslot(a, nullptr, 0, 0);
        EXPECT_EQ(a->tdm_logical_timeslot, get_logical_timeslot(a, l.port, 1)) << l.port;
        EXPECT_GE(a->tdm_logical_timeslot, 0);
    }
    int port = 0, channel = 0;
    EXPECT_EQ(get_port_and_channel_from_logical_timeslot(32, &port, &channel), 0);
    EXPECT_EQ(port, 102);
    EXPECT_EQ(channel, 1);
    EXPECT_EQ(get_bus_by_logical_timeslot(32), 1);
    EXPECT_EQ(get_port_and_channel_from_logical_timeslot(999, &port, &channel), -1);
    EXPECT_EQ(get_bus_by_logical_timeslot(999), -1);
}

// Another unit's channel over PCM: the slot by call direction, its map
// entry of port 100 as remote timeslot; a failed join resets it.
TEST_F(MediaStart, RemoteBridging)
{
    leg_a.rtp_local_port = 4000;
    leg_a.rtp_remote_port = 6000;
    snprintf(leg_a.rtp_remote_ip, sizeof leg_a.rtp_remote_ip, "%s", "192.0.2.9");
    EXPECT_EQ(is_remote_bridging_possible(a), -1); // no PCM server or client
    gp->run_pcm_client = 1;
    a->callinfo = CI_SIP_TO_ISDN;
    EXPECT_EQ(is_remote_bridging_possible(a), 5);
    a->callinfo = CI_ISDN_TO_SIP;
    EXPECT_EQ(is_remote_bridging_possible(a), 3);
    a->callinfo = CI_SIP_TO_GSM;
    EXPECT_EQ(is_remote_bridging_possible(a), -1);
    a->callinfo = CI_ISDN_TO_SIP;
    a->cc.disable_bridging = 1;
    EXPECT_EQ(is_remote_bridging_possible(a), -1);
    a->cc.disable_bridging = 0;

    sm_msp_bridge_if_we_can(a, nullptr, 0, 0);
    int slot3 = get_logical_timeslot_for_pcm_bridging(a, 3);
    EXPECT_EQ(ops, std::vector<std::string>{"remote " + std::to_string(slot3)});
    EXPECT_EQ(a->remote_tdm_logical_timeslot, slot3);
    remote_result = -1;
    sm_msp_bridge_if_we_can(a, nullptr, 0, 0);
    EXPECT_EQ(a->remote_tdm_logical_timeslot, -1);
    remote_result = 0;
}

TEST_F(MediaStart, RtpLoopback)
{
    a->callinfo = CI_ISDN_TO_SIP;
    a->cc.rtp_loopback = 1;
    a->cc.echo_cancel = 1;
    leg_a.using_payload = leg_a.using_codec = 0;
    sm_prepare_rtp_loopback(a, nullptr, 0, 0);
    EXPECT_EQ(a->cc.echo_cancel, 0u);
    EXPECT_EQ(a->f.start_streaming, 1u);
    EXPECT_EQ(leg_a.rtp_remote_port, leg_a.rtp_local_port);
    EXPECT_STREQ(leg_a.rtp_remote_ip, "10.0.0.1");
    EXPECT_EQ(leg_a.using_payload, 8);
    EXPECT_EQ(leg_a.using_codec, 8);
}

// SIP-to-SIP resources: the call and its transcoding buddy each reserve
// G.711; a transparent call reserves none; a call without RTP stops early.
TEST_F(MediaStart, SipToSipResources)
{
    a->callinfo = CI_SIP_TO_SIP;
    msp_init_resources();
    auto r = sm_s2s_choose_codecs_and_reserve_resources(a, nullptr, 0, 0);
    EXPECT_EQ(r.state, -1);
    EXPECT_NE(a->msp_resources_reserved, 0);
    ASSERT_NE(a->transcoding_buddy, nullptr);
    EXPECT_NE(a->transcoding_buddy->msp_resources_reserved, 0);
    msp_release_all_resources(a->transcoding_buddy, &a->transcoding_buddy->msp_resources_reserved);
    msp_release_all_resources(a, &a->msp_resources_reserved);

    a->f.transparent_call = 1;
    r = sm_s2s_choose_codecs_and_reserve_resources(a, nullptr, 0, 0);
    EXPECT_EQ(r.state, -1);
    EXPECT_EQ(a->msp_resources_reserved, 0);

    a->f.no_rtp = 1;
    a->msp_resources_reserved = 0;
    r = sm_s2s_choose_codecs_and_reserve_resources(a, nullptr, 0, 0);
    EXPECT_EQ(r.state, -1);
}

} // namespace
