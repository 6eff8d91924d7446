// SIP-to-ISDN actions against a real SIP dialog: a far UAC on 127.0.0.1
// calls a second stack whose INVITE handle the call answers through the
// actions (progress answers by the call-progress tables, the rejection by
// the ISDN cause with its Reason header); and the ISDN side of the actions
// with a double of the ISDN sender (clearing messages, the connected
// number, the port move's refused-port marks).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "call_progress.h"
#include "call_reset.h"
#include "causes.h"
#include "conf_root.h"
#include "global_lock.h"
#include "isdn_lib_types.h"
#include "misdn_bchannel.h"
#include "pools.h"
#include "sip_to_isdn.h"
#include "state_table_actions.h"
#include "xdv_headers.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/soa_tag.h>
#include <sofia-sip/su.h>
#include <sofia-sip/su_wait.h>

#include "sip_dialog_pair.h"

namespace {

std::vector<int> isdn_sent; // what the call sent on ISDN
void record_isdn(call_object *, int event) { isdn_sent.push_back(event); }

using sip_pair::answer;
using sip_pair::far_end;
using sip_pair::far_event;
using sip_pair::near_end;
using sip_pair::near_event;

bool has_sdp(const answer &a) { return a.body.find("m=audio") != std::string::npos; }

const char *const far_sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                            "m=audio 5004 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n";

class S2iCall : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        application_create();
        init_locks();
        ASSERT_EQ(create_call_object_pools(4), 0);
        init_default_call_configuration();
        cc_allow_codecs(&gp->all_supported_codecs, "pcma:pcmu");
        cpt_init_default_tables();
        init_default_causes_map();
    }
    void SetUp() override
    {
        isdn_sent.clear();
        isdn_callctl_hooks h{record_isdn};
        isdn_callctl_set_hooks(&h);
        co = get_free_operation_handle(1);
        ASSERT_NE(co, nullptr);
        co->callinfo = CI_SIP_TO_ISDN;
        cc_clone_call_configuration(&co->cc, &gp->default_call_configuration);
        cc_allow_codecs(&co->cc.codecs, "pcma:pcmu");
        memset(&bc, 0, sizeof bc);
        bc.port = 1;
        bc.channel = 1;
        co->bc = &bc;
        memset(&leg, 0, sizeof leg);
        snprintf(leg.using_ip, sizeof leg.using_ip, "127.0.0.1");
        leg.rtp_local_port = 40000;
        co->cl_sip = co->cl_sip_in = &leg;
    }
    void TearDown() override
    {
        if (root) {
            if (near_nh)
                nua_handle_destroy(near_nh);
            nua_shutdown(near);
            run_until([&] { return n.shut; });
            nua_shutdown(far);
            run_until([&] { return f.shut; });
            nua_destroy(near);
            nua_destroy(far);
            su_root_destroy(root);
            su_deinit();
        }
        co->bc = nullptr;
        co->cl_sip = co->cl_sip_in = nullptr;
        lock_hold hold(&lock_manager::global_lock);
        reset_op(co);
        isdn_callctl_set_hooks(nullptr);
    }
    template <class F> bool run_until(F done)
    {
        for (int i = 0; i < 500 && !done(); i++)
            su_root_step(root, 10);
        return done();
    }
    // A far UAC's INVITE (PCMA offer) whose handle the call answers on.
    void invite()
    {
        su_init();
        root = su_root_create(nullptr);
        ASSERT_NE(root, nullptr);
        int port = free_local_port();
        ASSERT_GT(port, 0);
        std::string near_url = "sip:127.0.0.1:" + std::to_string(port);
        near = nua_create(root, near_event, (nua_magic_t *)&n, NUTAG_URL(near_url.c_str()), TAG_END());
        far = nua_create(root, far_event, (nua_magic_t *)&f, NUTAG_URL("sip:127.0.0.1:*"), TAG_END());
        ASSERT_NE(near, nullptr);
        ASSERT_NE(far, nullptr);
        std::string to = "sip:4930123@127.0.0.1:" + std::to_string(port);
        nua_handle_t *fh = nua_handle(far, nullptr, SIPTAG_TO_STR(to.c_str()), TAG_END());
        nua_invite(fh, SOATAG_USER_SDP_STR(far_sdp), TAG_END());
        ASSERT_TRUE(run_until([&] { return n.invited != nullptr; }));
        near_nh = leg.nh = n.invited;
        co->f.sdp_offer_received = 1;
    }
    // ISDN progress: history entry, then the action.
    void isdn(int history_event)
    {
        co->isdn_event_history[co->isdn_event_history_size % 12] = history_event;
        co->isdn_event_history_size++;
        lock_hold hold(&lock_manager::global_lock);
        sm_s2i_send_nua_progress_response(co, nullptr, 0, 0);
    }
    void legi_reset()
    {
        co->legi = &co->_legi;
        memset(co->legi, 0, sizeof *co->legi);
    }
    void settle(size_t answers)
    {
        run_until([&] { return f.answers.size() >= answers; });
        for (int i = 0; i < 20; i++)
            su_root_step(root, 5);
    }

    call_object *co = nullptr;
    misdn_bchannel bc;
    call_leg_sip leg;
    su_root_t *root = nullptr;
    nua_t *near = nullptr, *far = nullptr;
    nua_handle_t *near_nh = nullptr;
    far_end f;
    near_end n;
};

TEST_F(S2iCall, TwoAlertingGiveOneRingingUnlessIeOnSip)
{
    invite();
    isdn(CP_ISDN_ALERTING);
    isdn(CP_ISDN_ALERTING);
    settle(1);
    ASSERT_EQ(f.answers.size(), 1u);
    EXPECT_EQ(f.answers[0].status, 180);
    EXPECT_EQ(f.answers[0].phrase, "RINGING");
    EXPECT_TRUE(has_sdp(f.answers[0])) << "TE port: 180 with SDP";
    EXPECT_TRUE(co->f.first_sdp_answered);

    co->cc.ie_on_sip = 1;
    isdn(CP_ISDN_ALERTING);
    settle(2);
    EXPECT_EQ(f.answers.size(), 2u) << "with ie_on_sip each ALERTING is passed on";
}

TEST_F(S2iCall, NtPortRingsWithoutSdp)
{
    invite();
    bc.nt = 1;
    isdn(CP_ISDN_ALERTING);
    settle(1);
    ASSERT_EQ(f.answers.size(), 1u);
    EXPECT_EQ(f.answers[0].status, 180);
    EXPECT_FALSE(has_sdp(f.answers[0]));
}

TEST_F(S2iCall, ConnectAfterProgressWithSilentTableAnswersDvOk)
{
    invite();
    isdn(CP_ISDN_PROGRESS);
    settle(1);
    ASSERT_EQ(f.answers.size(), 1u);
    EXPECT_EQ(f.answers[0].status, 183);
    EXPECT_TRUE(has_sdp(f.answers[0]));

    static cpt_s2i silent{};
    const cpt_s2i *saved = gp->s2i_cpt_default;
    gp->s2i_cpt_default = &silent;
    leg.sip_answer = SIP_ANSWER_OK;
    isdn(CP_ISDN_CONNECT);
    gp->s2i_cpt_default = saved;
    settle(2);
    ASSERT_EQ(f.answers.size(), 2u);
    EXPECT_EQ(f.answers[1].status, 200);
    EXPECT_EQ(f.answers[1].phrase, "DV_OK!");
    EXPECT_TRUE(has_sdp(f.answers[1]));
    EXPECT_TRUE(co->f.connection_established);
    EXPECT_EQ(leg.sip_answer, SIP_ANSWER_NOT_NEEDED);
}

TEST_F(S2iCall, SecondInviteWhileRingingAnswersDvRinging)
{
    invite();
    co->f.cp_sip_180_sent = 1; // the first INVITE rang already
    co->f.cp_second_invite = 1;
    leg.sip_answer = SIP_ANSWER_RINGING;
    isdn(CP_ISDN_ALERTING);
    settle(1);
    ASSERT_EQ(f.answers.size(), 1u);
    EXPECT_EQ(f.answers[0].status, 180);
    EXPECT_EQ(f.answers[0].phrase, "DV_RINGING");
}

TEST_F(S2iCall, RejectByIsdnCauseCarriesReason)
{
    invite();
    bc.cause = 17;
    {
        lock_hold hold(&lock_manager::global_lock);
        sm_isdn_send_sip_reject_by_isdn_disconnect_cause(co, nullptr, 0, 0);
    }
    settle(1);
    ASSERT_EQ(f.answers.size(), 1u);
    EXPECT_EQ(f.answers[0].status, 486);
    EXPECT_EQ(f.answers[0].phrase, "Busy Here");
    EXPECT_EQ(f.answers[0].reason, "Reason: Q.850;cause=17;text=\"User busy\"\r\n");
    near_nh = nullptr; // answered: the stack lets it go
}

TEST_F(S2iCall, RejectWithoutBchannelIs480)
{
    invite();
    co->bc = nullptr;
    {
        lock_hold hold(&lock_manager::global_lock);
        sm_isdn_send_sip_reject_by_isdn_disconnect_cause(co, nullptr, 0, 0);
    }
    settle(1);
    ASSERT_EQ(f.answers.size(), 1u);
    EXPECT_EQ(f.answers[0].status, 480);
    EXPECT_EQ(f.answers[0].phrase, "NUA_TEMPORARILY_UNAVAILABLE");
    near_nh = nullptr;
}

// ---- ISDN side ----------------------------------------------------------------------

TEST_F(S2iCall, ClearingMessageFollowsWhatTheIsdnSideAnswered)
{
    legi_reset();
    sm_isdn_send_normal_disconnect(co, nullptr, 0, 0);
    EXPECT_EQ(bc.out_cause, 16);
    co->legi->events_received[LEGI_ALERTING] = 3;
    sm_isdn_send_normal_disconnect(co, nullptr, 0, 0);
    co->legi->events_received[LEGI_DISCONNECT] = 4;
    sm_isdn_send_normal_disconnect(co, nullptr, 0, 0);
    EXPECT_EQ(isdn_sent, (std::vector<int>{EVENT_RELEASE_COMPLETE, EVENT_DISCONNECT, EVENT_RELEASE}))
        << "no answer yet: RELEASE COMPLETE; answered: DISCONNECT; after their DISCONNECT: RELEASE";

    co->cl_sip->last_nua_status_code = 486;
    sm_isdn_send_disconnect_by_sip_event(co, nullptr, 0, 0);
    EXPECT_EQ(bc.out_cause, 17) << "cause map: SIP 486 to ISDN";
    co->cl_sip->last_nua_status_code = 200;
    sm_isdn_send_disconnect_by_sip_event(co, nullptr, 0, 0);
    EXPECT_EQ(bc.out_cause, 16) << "the dialog ended with a completed BYE: normal clearing";
    co->bc = nullptr;
    isdn_sent.clear();
    sm_isdn_send_normal_disconnect(co, nullptr, 0, 0);
    EXPECT_TRUE(isdn_sent.empty()) << "no B-channel: nothing sent";
}

TEST_F(S2iCall, HoldSuspendAndCleanup)
{
    legi_reset();
    sm_isdn_handle_hold(co, nullptr, 0, 0);
    sm_isdn_handle_suspend(co, nullptr, 0, 0);
    sm_isdn_cleanup_bc(co, nullptr, 0, 0);
    co->legi->events_sent[LEGI_DISCONNECT] = 2;
    sm_isdn_cleanup_bc(co, nullptr, 0, 0);
    EXPECT_EQ(isdn_sent, (std::vector<int>{EVENT_HOLD_REJECT, EVENT_SUSPEND_REJECT, EVENT_DISCONNECT}));
    auto first = sm_ignore_state_100_if_already_got_one(co, nullptr, 0, 0);
    auto second = sm_ignore_state_100_if_already_got_one(co, nullptr, 0, 0);
    EXPECT_EQ(first.state, SM_NO_DECISION);
    EXPECT_EQ(first.event, SM_NO_EVENT);
    EXPECT_EQ(second.state, SM_KEEP_STATE);
    EXPECT_EQ(second.event, SM_NO_EVENT);
}

TEST_F(S2iCall, ConnectedNumberBySetting)
{
    static const struct {
        unsigned setting;
        unsigned cton;
        const char *new_destination;
        const char *cad;
    } cases[] = {
        {2, 1, "+4930123", "4930123"}, {2, 0, "+4930123", "004930123"}, {2, 0, "030123", "030123"},
        {1, 0, "+4930123", "555"},     {0, 0, "+4930123", ""},          {2, 0, "+49x", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.new_destination) + " setting " + std::to_string(c.setting));
        co->cc.cad_setting = c.setting;
        co->cc.cton = c.cton;
        co->cc.allow_all_chars_in_isdn_number = 0;
        std::string nd = c.new_destination;
        co->new_destination = nd.data();
        snprintf(bc.dad, sizeof bc.dad, "555");
        sm_isdn_encode_cad(co, nullptr, 0, 0);
        EXPECT_STREQ(bc.cad, c.cad);
        EXPECT_EQ((unsigned)bc.cton, c.cton);
        co->new_destination = nullptr;
    }
}

TEST_F(S2iCall, OnlyCause44MovesTheCall)
{
    bc.cause = 17;
    EXPECT_EQ(s2i_move_to_other_port(co), S2I_PORT_NOT_REFUSED);
    bc.cause = 44;
    bc.port = 20;
    co->dp = nullptr; // no route: no other channel
    EXPECT_EQ(s2i_move_to_other_port(co), S2I_PORT_NONE_FREE);
    EXPECT_EQ(co->blocked_isdn_ports[20], 1) << "ports above 8 are marked too";
    EXPECT_EQ(co->bc, &bc);
}

} // namespace
