// T.38 and G.711 re-INVITEs with the SIP stack calls recorded: the fixed
// offers, the Contact of line calls, one T.38 re-INVITE per call, and the
// SIP-to-SIP relay that holds one leg's T.38 re-INVITE until the other leg
// answered (T.38 accepted, answered with audio only, refused), with the
// passthrough port of a leg outside the LAN T.38 range (or its own port
// when no passthrough port is free).
#include <gtest/gtest.h>

#include <sofia-sip/nua_tag.h>
#include <sofia-sip/su_tag.h>

#include <cstring>
#include <string>
#include <vector>

#include "rtp_ports.h"
#include "sdp_test_fixture.h"
#include "sip_stack.h"
#include "sm_tasks.h"
#include "t38.h"

namespace {

struct sent_invite {
    call_leg_sip *leg;
    std::string sdp;
    bool contact;
};
struct sent_answer {
    call_leg_sip *leg;
    int status;
    std::string sdp;
};
std::vector<sent_invite> invites;
std::vector<sent_answer> answers;
void rec_invite(call_object *, call_leg_sip *leg, const char *sdp, const char *contact)
{
    invites.push_back({leg, sdp ? sdp : "", contact != nullptr});
}
void rec_respond(call_object *, call_leg_sip *leg, int status, const char *, const char *sdp)
{
    answers.push_back({leg, status, sdp ? sdp : ""});
}

bool has(const std::string &text, const char *part) { return text.find(part) != std::string::npos; }

class T38 : public SdpCall {
protected:
    void SetUp() override
    {
        SdpCall::SetUp();
        invites.clear();
        answers.clear();
        t38_sip_ops o{rec_invite, rec_respond};
        t38_set_sip_ops(&o);
        // the LAN address stands in for a missing group's Contact
        memcpy(saved_lan_, gp->netconf.host_ip_lan, sizeof saved_lan_);
        snprintf(gp->netconf.host_ip_lan, sizeof gp->netconf.host_ip_lan, "10.0.0.1");
        // A LAN stack whose range keeps a T.38 pool at its top.
        ports_.assign(RTP_PORT_TABLE_SIZE, 0);
        stacks_.assign(RTP_PORT_TABLE_SIZE, 0);
        gp->sip_stack_size = 1;
        lan_ = &gp->sip_stacks[0];
        *lan_ = sip_stack{};
        snprintf(lan_->name, sizeof lan_->name, "lan");
        snprintf(lan_->rtp_port_string, sizeof lan_->rtp_port_string, "6000-6999");
        ASSERT_EQ(prepare_rtp_ports(lan_, ports_.data(), stacks_.data()), 0);
        nsetup_rtp_ports(ports_.data(), stacks_.data());
        ASSERT_GT(gp->rtp_ports->lan_t38stop, 0);
        in.ss = out.ss = lan_;
        co->callinfo = CI_SIP_TO_SIP;
        co->cc.s2s_t38_passthrough = 1;
        // Audio ports of the stack's own range, taken.
        in.rtp_local_port = 6100;
        out.rtp_local_port = 6102;
        gp->rtp_ports->rtp_ports[6100] = gp->rtp_ports->rtp_ports[6102] = 0;
    }
    void TearDown() override
    {
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
        t38_set_sip_ops(nullptr);
        gp->sip_stack_size = 0;
        memcpy(gp->netconf.host_ip_lan, saved_lan_, sizeof saved_lan_);
        SdpCall::TearDown();
    }
    bool in_t38_pool(int port) const
    {
        return port >= gp->rtp_ports->lan_t38start && port <= gp->rtp_ports->lan_t38stop;
    }
    int tasks(int word) const
    {
        int n = 0;
        for (sm_run_info *t = gp->smrunlist ? gp->smrunlist->first : nullptr; t; t = t->list)
            n += t->event == word;
        return n;
    }
    statemachine_handle_retval run(statemachine_handle a) { return a(co, nullptr, SM_CALL_ACTIVE, 0); }
    // The far answer on the active leg, with the stack's answer flag.
    void far_answer(const std::string &media)
    {
        const sdp_session_t *s = parse(session("c=IN IP4 192.0.2.7\r\n" + media));
        ASSERT_NE(s, nullptr) << last_error;
        sdp_read_remote(co, s, 0, 0, 1, 1, 0);
        co->cl_sip->tmptags = reinterpret_cast<tagi_s *>(answer_tags);
    }
    // Leg 1 (the inbound leg) re-INVITEs to T.38: saved, read, held.
    void hold_on_inbound_leg()
    {
        co->cl_sip = &in;
        run(sm_s2s_save_media_before_offer);
        read_far("m=image 5004 udptl t38\r\n");
        co->f.sdp_offer_received = 1;
        ASSERT_EQ(in.using_payload, SDP_PAYLOAD_T38);
        statemachine_handle_retval r = run(sm_s2s_hold_t38_reinvite);
        EXPECT_EQ(r.state, SM_KEEP_STATE);
        EXPECT_EQ(r.event, SM_NO_EVENT);
        ASSERT_EQ(co->s2s_t38_hold.leg, &in);
        EXPECT_EQ(tasks(sm_timer(T_EVENT_T38_REINVITE_ON_SECOND_LEG)), 1);
        // The task runs the outbound leg's re-INVITE; the leg answers then.
        run(sm_s2s_send_t38_reinvite_on_second_leg);
        ASSERT_EQ(invites.size(), 1u);
        EXPECT_EQ(invites[0].leg, &out);
        EXPECT_TRUE(has(invites[0].sdp, "m=image"));
        EXPECT_EQ(out.rtp_local_port_unreleased, 6102);
        EXPECT_TRUE(in_t38_pool(out.rtp_local_port));
        co->cl_sip = &out;
    }
    tagi_t answer_tags[2] = {{NUTAG_ANSWER_RECV(1)}, {TAG_END()}};
    std::vector<uint8_t> ports_, stacks_;
    sip_stack *lan_ = nullptr;
    char saved_lan_[sizeof gp->netconf.host_ip_lan] = {};
};

TEST(T38Texts, FixedOffers)
{
    char buf[512];
    t38_offer_text(buf, sizeof buf, "10.0.0.1", 6800, 9600);
    EXPECT_STREQ(buf, "c=IN IP4 10.0.0.1\r\nm=image 6800 udptl t38\r\na=T38FaxVersion:0\r\na=T38MaxBitRate:9600\r\n"
                      "a=T38FaxRateManagement:transferredTCF\r\na=T38FaxMaxBuffer:200\r\na=T38FaxMaxDatagram:200\r\n"
                      "a=T38FaxUdpEC:t38UDPRedundancy\r\n");
    g711_offer_text(buf, sizeof buf, "10.0.0.1", 4000);
    EXPECT_STREQ(buf, "c=IN IP4 10.0.0.1\r\nm=audio 4000 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n");
}

// A line call: one T.38 re-INVITE with the inbound group's Contact; the
// G.711 one always, without Contact.
TEST_F(T38, LineCallReinvites)
{
    co->callinfo = CI_SIP_TO_ISDN;
    run(sm_sip_send_t38_reinvite);
    run(sm_sip_send_t38_reinvite); // a second request is ignored
    ASSERT_EQ(invites.size(), 1u);
    EXPECT_TRUE(has(invites[0].sdp, "m=image 6100 udptl t38\r\n"));
    EXPECT_TRUE(has(invites[0].sdp, "a=T38MaxBitRate:14400\r\n"));
    EXPECT_TRUE(invites[0].contact);
    EXPECT_TRUE(co->f.t38_invite_sent && co->f.sdp_offer_sent);
    run(sm_sip_send_g711_reinvite);
    ASSERT_EQ(invites.size(), 2u);
    EXPECT_EQ(invites[1].sdp, "c=IN IP4 10.0.0.1\r\nm=audio 6100 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n");
    EXPECT_FALSE(invites[1].contact);
    // An ISDN-to-SIP call has no Contact; a T.38 offer received blocks one.
    invites.clear();
    co->f.t38_invite_sent = 0;
    co->callinfo = CI_ISDN_TO_SIP;
    run(sm_sip_send_t38_reinvite);
    ASSERT_EQ(invites.size(), 1u);
    EXPECT_FALSE(invites[0].contact);
    co->f.t38_invite_sent = 0;
    co->f.t38_invite_received = 1;
    run(sm_sip_send_t38_reinvite);
    EXPECT_EQ(invites.size(), 1u);
    // Without group and LAN address there is no Contact to give (one
    // without host would make the stack refuse the request).
    invites.clear();
    co->f.t38_invite_sent = co->f.t38_invite_received = 0;
    co->callinfo = CI_SIP_TO_ISDN;
    gp->netconf.host_ip_lan[0] = '\0';
    run(sm_sip_send_t38_reinvite);
    ASSERT_EQ(invites.size(), 1u);
    EXPECT_FALSE(invites[0].contact);
}

// A leg in the LAN T.38 range keeps its port; one outside gets a
// passthrough port and keeps the old one aside.
TEST_F(T38, PassthroughPortOnlyOutsideTheT38Range)
{
    int kept = gp->rtp_ports->lan_t38start + 5;
    in.rtp_local_port = kept;
    s2s_send_t38_reinvite(co, &in);
    EXPECT_EQ(in.rtp_local_port, kept);
    EXPECT_EQ(in.rtp_local_port_unreleased, 0);
    ASSERT_EQ(invites.size(), 1u);
    EXPECT_TRUE(invites[0].contact); // the active leg is the inbound leg
    s2s_send_t38_reinvite(co, &out);
    EXPECT_EQ(out.rtp_local_port_unreleased, 6102);
    EXPECT_TRUE(in_t38_pool(out.rtp_local_port));
    EXPECT_TRUE(has(invites[1].sdp, ("m=image " + std::to_string(out.rtp_local_port)).c_str()));
    // Both legs at once, and only once.
    invites.clear();
    co->f.t38_invite_sent = 0;
    run(sm_s2s_send_t38_reinvite);
    run(sm_s2s_send_t38_reinvite);
    run(sm_s2s_send_t38_reinvite_on_first_leg);
    ASSERT_EQ(invites.size(), 2u);
    EXPECT_EQ(invites[0].leg, &in);
    EXPECT_EQ(invites[1].leg, &out);
    EXPECT_EQ(in.rtp_local_port_unreleased, kept);
}

// With every passthrough port taken the leg keeps its present port for
// T.38: an offer with port 0 would refuse the stream.
TEST_F(T38, WithoutAFreePassthroughPortTheLegKeepsItsPort)
{
    for (int p = gp->rtp_ports->lan_t38start; p <= gp->rtp_ports->lan_t38stop; p++)
        gp->rtp_ports->rtp_ports[p] = 0;
    s2s_send_t38_reinvite(co, &out);
    EXPECT_EQ(out.rtp_local_port, 6102);
    EXPECT_EQ(out.rtp_local_port_unreleased, 0);
    ASSERT_EQ(invites.size(), 1u);
    EXPECT_TRUE(has(invites[0].sdp, "m=image 6102 udptl t38\r\n")) << invites[0].sdp;
    // a pool port freed meanwhile is taken by the next move
    int freed = gp->rtp_ports->lan_t38start + 2;
    gp->rtp_ports->rtp_ports[freed] = 1;
    s2s_take_t38_port(co, &out);
    EXPECT_EQ(out.rtp_local_port, freed);
    EXPECT_EQ(out.rtp_local_port_unreleased, 6102);
}

TEST_F(T38, HeldReinviteAnsweredAfterTheOtherLegTookT38)
{
    hold_on_inbound_leg();
    // A second T.38 request is ignored, and nothing else is held meanwhile.
    run(sm_s2s_send_t38_reinvite_on_first_leg);
    EXPECT_EQ(invites.size(), 1u);
    EXPECT_TRUE(answers.empty());
    far_answer("m=image 7004 udptl t38\r\n");
    EXPECT_EQ(out.using_payload, SDP_PAYLOAD_T38);
    run(sm_s2s_held_t38_reinvite_answered);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].leg, &in);
    EXPECT_EQ(answers[0].status, 200);
    EXPECT_TRUE(has(answers[0].sdp, "m=image")) << answers[0].sdp;
    EXPECT_EQ(co->s2s_t38_hold.leg, nullptr);
    EXPECT_EQ(co->cl_sip, &out); // the active leg is put back
    run(sm_s2s_held_t38_reinvite_answered); // nothing held any more
    EXPECT_EQ(answers.size(), 1u);
}

TEST_F(T38, AudioOnlyAnswerRefusesAndOffersAudioAgain)
{
    hold_on_inbound_leg();
    int t38_port = out.rtp_local_port;
    out.tmptags = nullptr;
    run(sm_s2s_held_t38_reinvite_answered); // no answer in the event: nothing
    EXPECT_TRUE(answers.empty());
    far_answer("m=audio 7000 RTP/AVP 8\r\n");
    statemachine_handle_retval r = run(sm_s2s_held_t38_reinvite_answered);
    EXPECT_EQ(r.state, SM_KEEP_STATE);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].leg, &in);
    EXPECT_NE(answers[0].status, 200);
    EXPECT_EQ(answers[0].sdp, "");
    // Both legs are back on audio with their old ports.
    EXPECT_EQ(in.rtp_local_port, 6100);
    EXPECT_NE(in.using_payload, SDP_PAYLOAD_T38);
    EXPECT_EQ(out.rtp_local_port, 6102);
    EXPECT_EQ(out.rtp_local_port_unreleased, 0);
    EXPECT_EQ(gp->rtp_ports->rtp_ports[t38_port], 1) << "the passthrough port is free again";
    ASSERT_EQ(invites.size(), 2u);
    EXPECT_EQ(invites[1].leg, &out);
    EXPECT_TRUE(has(invites[1].sdp, "m=audio 6102")) << invites[1].sdp;
    EXPECT_FALSE(co->f.t38_invite_sent);
    EXPECT_EQ(co->s2s_t38_hold.leg, nullptr);
}

TEST_F(T38, RefusalOfTheOtherLegRefusesTheHeldOne)
{
    hold_on_inbound_leg();
    co->cl_sip = &in; // an answer on the held leg itself does not count
    run(sm_s2s_held_t38_reinvite_rejected);
    EXPECT_TRUE(answers.empty());
    co->cl_sip = &out;
    run(sm_s2s_held_t38_reinvite_rejected);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].leg, &in);
    EXPECT_NE(answers[0].status, 200);
    EXPECT_FALSE(co->f.t38_invite_sent || co->f.sdp_offer_sent);
    EXPECT_EQ(out.rtp_local_port, 6102);
    EXPECT_EQ(in.rtp_local_port, 6100);
    EXPECT_EQ(invites.size(), 1u); // no new offer
}

// Nothing is held without an offer, with an own T.38 re-INVITE out, or when
// the leg was on T.38 already.
TEST_F(T38, HoldOnlyForAFreshT38Offer)
{
    co->cl_sip = &in;
    run(sm_s2s_save_media_before_offer);
    read_far("m=image 5004 udptl t38\r\n");
    co->f.sdp_offer_received = 0;
    EXPECT_EQ(run(sm_s2s_hold_t38_reinvite).state, SM_NO_DECISION); // no offer flag
    co->f.sdp_offer_received = 1;
    co->f.t38_invite_sent = 1;
    EXPECT_EQ(run(sm_s2s_hold_t38_reinvite).state, SM_NO_DECISION);
    co->f.t38_invite_sent = 0;
    co->s2s_t38_hold.leg_before.using_payload = SDP_PAYLOAD_T38;
    EXPECT_EQ(run(sm_s2s_hold_t38_reinvite).state, SM_NO_DECISION);
    EXPECT_EQ(co->s2s_t38_hold.leg, nullptr);
    EXPECT_EQ(tasks(sm_timer(T_EVENT_T38_REINVITE_ON_SECOND_LEG)), 0);
}

} // namespace
