// The answers a call owes its SIP peer, sent by the state-table actions
// through a SIP stack on 127.0.0.1 to a second stack that INVITEd it: status,
// phrase, SDP and extension headers as the far end parses them, and the
// call's flags afterwards. Also the header texts of those answers (call id,
// origin, passthrough headers) on their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "call_reset.h"
#include "cause_map.h"
#include "conf_root.h"
#include "confman.h"
#include "dialplan.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "misdn_bchannel.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "sip_stack.h"
#include "sm_tasks.h"
#include "schema.h"
#include "sdp_offer_answer.h"
#include "sip_responses.h"
#include "sip_hub.h"
#include "sm_defs.h"
#include "statemachine.h"
#include "timer.h"
#include "state_table_actions.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/msg_header.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/sdp.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/su.h>
#include <sofia-sip/su_wait.h>

#include "sip_dialog_pair.h"

namespace {

using sip_pair::answer;
using sip_pair::far_end;
using sip_pair::far_event;
using sip_pair::near_end;
using sip_pair::near_event;

const char *const far_offer = "v=0\r\no=far 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                              "m=audio 5004 RTP/AVP 8 0\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:0 PCMU/8000\r\n";

class SipResponse : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!gp) {
            application_create();
            init_locks();
            init_default_call_configuration();
        }
        ASSERT_EQ(create_call_object_pools(4), 0);
        su_init();
    }
    static void TearDownTestSuite() { su_deinit(); }

    void SetUp() override
    {
        init_default_causes_map();
        root = su_root_create(nullptr);
        ASSERT_NE(root, nullptr);
        port = free_local_port();
        ASSERT_GT(port, 0);
        std::string url = "sip:127.0.0.1:" + std::to_string(port);
        near = nua_create(root, near_event, (nua_magic_t *)&n, NUTAG_URL(url.c_str()), TAG_END());
        far = nua_create(root, far_event, (nua_magic_t *)&f, NUTAG_URL("sip:127.0.0.1:*"), NUTAG_MEDIA_ENABLE(0),
                         TAG_END());
        ASSERT_NE(near, nullptr);
        ASSERT_NE(far, nullptr);
        co = get_free_operation_handle(1);
        ASSERT_NE(co, nullptr);
        leg = get_new_sip_call_leg();
        ASSERT_NE(leg, nullptr);
        leg->in_use = 1;
        snprintf(leg->using_ip, sizeof leg->using_ip, "127.0.0.1");
        leg->rtp_local_port = 4000;
        co->cl_sip = co->cl_sip_in = leg;
        cc_allow_codecs(&co->cc.codecs, "pcma:pcmu");
        co->cc.rtp_packet_size = 20;
    }
    void TearDown() override
    {
        if (leg->nh) {
            nua_handle_destroy(leg->nh);
            leg->nh = nullptr;
        }
        if (far_nh)
            nua_handle_destroy(far_nh);
        co->bc = nullptr;
        co->dp = nullptr;
        {
            lock_hold hold(&lock_manager::global_lock);
            reset_op(co);
        }
        nua_shutdown(near);
        run_until([&] { return n.shut; });
        nua_shutdown(far);
        run_until([&] { return f.shut; });
        nua_destroy(near);
        nua_destroy(far);
        su_root_destroy(root);
    }

    // Both stacks and the call anew, for the next case of a test.
    void fresh_call()
    {
        TearDown();
        n = near_end{};
        f = far_end{};
        taken = 0;
        SetUp();
    }
    template <class F> bool run_until(F done)
    {
        for (int i = 0; i < 500 && !done(); i++)
            su_root_step(root, 10);
        return done();
    }
    // The far end INVITEs the near stack; the call takes the new handle.
    void invite(bool with_sdp)
    {
        std::string to = "sip:gw@127.0.0.1:" + std::to_string(port);
        far_nh = nua_handle(far, nullptr, SIPTAG_TO_STR(to.c_str()), TAG_END());
        nua_invite(far_nh, NUTAG_URL(to.c_str()), TAG_IF(with_sdp, SIPTAG_CONTENT_TYPE_STR("application/sdp")),
                   TAG_IF(with_sdp, SIPTAG_PAYLOAD_STR(far_offer)), TAG_END());
        ASSERT_TRUE(run_until([&] { return n.invited != nullptr; }));
        leg->nh = n.invited;
        if (with_sdp) {
            // What the call read from the offer (the hub does so on the
            // INVITE's call state).
            su_home_t *home = (su_home_t *)su_home_new(sizeof(su_home_t));
            sdp_parser_t *parser = sdp_parse(home, far_offer, (isize_t)strlen(far_offer), 0);
            sdp_read_remote(co, sdp_session(parser), 0, 1, 0, 0, 0);
            su_home_unref(home);
            co->f.sdp_offer_received = 1;
        }
        else
            co->f.got_invite_without_sdp = 1;
    }
    statemachine_handle_retval act(statemachine_handle action, int event = 0)
    {
        lock_hold hold(&lock_manager::global_lock);
        return action(co, nullptr, SM_SIP_RINGING, event);
    }
    // The next answer the far end receives; status 0 when none came.
    answer next()
    {
        size_t seen = taken;
        run_until([&] { return f.answers.size() > seen; });
        return f.answers.size() > seen ? f.answers[taken++] : answer{};
    }
    // The answer an action sends.
    answer sent_by(statemachine_handle action)
    {
        act(action);
        return next();
    }
    // Nothing reached the far end: a BUSY answer sent now arrives first.
    bool nothing_sent()
    {
        leg->sip_answer = SIP_ANSWER_BUSY;
        act(sm_sip_send_nua_response);
        return next().status == 486 && f.answers.size() == 1;
    }
    misdn_bchannel *bchannel(int nt)
    {
        bc = misdn_bchannel{};
        bc.nt = nt;
        bc.port = 2;
        bc.cause = 17;
        co->bc = &bc;
        return &bc;
    }

    su_root_t *root = nullptr;
    nua_t *near = nullptr, *far = nullptr;
    nua_handle_t *far_nh = nullptr;
    near_end n;
    far_end f;
    size_t taken = 0;
    int port = 0;
    call_object *co = nullptr;
    call_leg_sip *leg = nullptr;
    misdn_bchannel bc{};
};

bool has_sdp(const answer &a)
{
    return a.body.find("m=audio 4000 RTP/AVP") != std::string::npos;
}

struct owed_case {
    const char *what;
    int callinfo;
    int bc; // 0 none, 1 TE port, 2 NT port
    int early_audio;
    bool invite_sdp;
    int owed;
    int status;
    const char *phrase;
    bool sdp;
};

const owed_case owed_cases[] = {
    {"ringing, NT port", CI_SIP_TO_ISDN, 2, 1, true, SIP_ANSWER_RINGING, 180, "RINGING", false},
    {"ringing, TE port", CI_SIP_TO_ISDN, 1, 1, true, SIP_ANSWER_RINGING, 180, "RINGING", true},
    {"ringing, TE port, no early audio", CI_SIP_TO_ISDN, 1, 0, true, SIP_ANSWER_RINGING, 180, "RINGING", false},
    {"progress toward GSM", CI_SIP_TO_GSM, 0, 1, true, SIP_ANSWER_PROGRESS, 183, "SIP_PROCEEDING", true},
    {"ok to an offer", CI_SIP_TO_ANALOG, 0, 0, true, SIP_ANSWER_OK, 200, "SIP_CALL_ACTIVE", true},
    {"ok without an offer", CI_SIP_TO_ISDN, 2, 0, false, SIP_ANSWER_OK, 200, "SIP_CALL_ACTIVE", true},
    {"busy", CI_SIP_TO_ISDN, 1, 1, true, SIP_ANSWER_BUSY, 486, "BUSY HERE", false},
};

TEST_F(SipResponse, OwedAnswers)
{
    for (const owed_case &c : owed_cases) {
        SCOPED_TRACE(c.what);
        fresh_call();
        co->callinfo = c.callinfo;
        if (c.bc)
            bchannel(c.bc == 2);
        co->cc.early_audio = c.early_audio;
        invite(c.invite_sdp);
        leg->sip_answer = c.owed;
        answer a = sent_by(sm_sip_send_nua_response);
        EXPECT_EQ(a.status, c.status);
        EXPECT_EQ(a.phrase, c.phrase);
        EXPECT_EQ(has_sdp(a), c.sdp) << a.body;
        EXPECT_EQ(leg->sip_answer, SIP_ANSWER_NOT_NEEDED);
        EXPECT_EQ(co->f.connection_established, c.owed == SIP_ANSWER_OK);
        if (c.sdp) {
            EXPECT_EQ(co->f.sdp_offer_received, 0u);
            EXPECT_EQ(co->f.first_sdp_answered, 1u);
            // An answer to an INVITE without SDP carries the offer.
            EXPECT_EQ(co->f.sdp_offer_sent, c.invite_sdp ? 0u : 1u);
            EXPECT_EQ(co->f.got_invite_without_sdp, 0u);
        }
    }
}

TEST_F(SipResponse, RejectionsComeFromTheCauseMap)
{
    // An unsupported RTP offer has its own row here; T.38 falls to the row
    // for any cause of SIP answers for the gateway's own reasons.
    cause_map &m = gp->causemap;
    m.causes[m.count++] = {TECH_SIP, TECH_TARN, 916, 488, strdup("Not Acceptable Here")};
    invite(true);
    leg->sip_answer = SIP_ANSWER_REJECT;
    co->f.t38_reject_flag = 1;
    co->cc.sip_xheaders = 1;
    answer a = sent_by(sm_sip_send_nua_response);
    EXPECT_EQ(a.status, 486);
    EXPECT_EQ(a.phrase, "Busy Here");
    EXPECT_EQ(a.xheaders, "") << "a rejection carries no extra headers";
    EXPECT_EQ(co->f.t38_reject_flag, 0u);
    EXPECT_EQ(leg->sip_answer, SIP_ANSWER_NOT_NEEDED);

    fresh_call();
    m.causes[m.count++] = {TECH_SIP, TECH_TARN, 916, 488, strdup("Not Acceptable Here")};
    invite(true);
    leg->sip_answer = SIP_ANSWER_REJECT;
    a = sent_by(sm_sip_send_nua_response);
    EXPECT_EQ(a.status, 488);
    EXPECT_EQ(a.phrase, "Not Acceptable Here");
}

// The refusal of a leg whose media cannot be used (or whose resources are
// missing) takes the cause map's SIP answer for the gateway's own reason.
TEST_F(SipResponse, LegRefusedByTheCauseMap)
{
    invite(true);
    sip_refuse_leg_by_cause(co, leg, 916);
    answer a = next();
    EXPECT_EQ(a.status, 486);
    EXPECT_EQ(a.phrase, "Busy Here");
    EXPECT_EQ(leg->nh, nullptr);

    fresh_call();
    cause_map &m = gp->causemap;
    m.causes[m.count++] = {TECH_SIP, TECH_TARN, 901, 503, strdup("Service Unavailable")};
    invite(true);
    sip_refuse_leg_by_cause(co, leg, 901);
    a = next();
    EXPECT_EQ(a.status, 503);
    EXPECT_EQ(a.phrase, "Service Unavailable");
}

TEST_F(SipResponse, CallIdHeaderRidesOnTheAnswer)
{
    co->callinfo = CI_SIP_TO_ISDN;
    bchannel(1);
    co->cc.sip_xheaders = 1;
    invite(true);
    leg->sip_answer = SIP_ANSWER_PROGRESS;
    answer a = sent_by(sm_sip_send_nua_response);
    EXPECT_EQ(a.status, 183);
    EXPECT_EQ(a.xheaders, "X-DV_CALL_ID: dv_cid=" + std::to_string(co->pid) + ";isdn_port=2\n");
}

TEST_F(SipResponse, WaitForCancel)
{
    co->callinfo = CI_SIP_TO_ISDN;
    invite(true);
    co->f.sdp_offer_received = 0; // the offer was answered before

    // NT port: the option is switched off and the row goes on.
    bchannel(1);
    co->cc.wait_for_cancel = 1;
    statemachine_handle_retval r = act(sm_sip_check_wait_for_cancel);
    EXPECT_EQ(r.state, SM_NO_DECISION);
    EXPECT_EQ(co->cc.wait_for_cancel, 0u);

    // TE port with early audio and ie_on_sip off, no SDP to send: nothing
    // goes out and the call keeps its state.
    bchannel(0);
    co->cc.wait_for_cancel = 1;
    co->cc.early_audio = 1;
    co->cc.ie_on_sip = 0;
    r = act(sm_sip_check_wait_for_cancel);
    EXPECT_EQ(r.state, SM_SIP_RINGING);
    EXPECT_EQ(r.event, SM_NO_EVENT);
    EXPECT_TRUE(nothing_sent());

    // With ie_on_sip the 183 goes out with the B-channel's cause.
    fresh_call();
    co->callinfo = CI_SIP_TO_ISDN;
    invite(true);
    bchannel(0);
    co->cc.wait_for_cancel = 1;
    co->cc.early_audio = 0;
    co->cc.ie_on_sip = 1;
    r = act(sm_sip_check_wait_for_cancel);
    EXPECT_EQ(r.state, SM_SIP_RINGING);
    answer a = next();
    EXPECT_EQ(a.status, 183);
    EXPECT_EQ(a.phrase, "SIP_PROCEEDING");
    EXPECT_EQ(a.xheaders, "X-DV_WAIT_FOR_CANCEL: cause=17\n");
    EXPECT_FALSE(has_sdp(a));
}

TEST_F(SipResponse, IsdnTimeoutRejection)
{
    co->callinfo = CI_SIP_TO_ISDN;
    invite(true);
    bchannel(0)->cause = 102;
    co->special_termination_reason = 5;
    answer a = sent_by(sm_sip_send_reject_for_isdn_timeout);
    EXPECT_EQ(a.status, 486);
    EXPECT_EQ(a.phrase, "Busy Here");
    EXPECT_EQ(a.reason, "Reason: Q.850;cause=102;text=\"Recovery on timer expiry\"\r\n");
    EXPECT_EQ(co->special_termination_reason, 0);

    fresh_call();
    invite(true);
    a = sent_by(sm_sip_send_reject_for_isdn_timeout);
    EXPECT_EQ(a.status, 480);
    EXPECT_EQ(a.phrase, "NUA_TEMPORARILY_UNAVAILABLE");
}

TEST_F(SipResponse, FxoBusyRejection)
{
    co->callinfo = CI_SIP_TO_ANALOG;
    invite(true);
    // Not a busy line: the row goes on and nothing is sent.
    statemachine_handle_retval r = act(sm_sip_send_reject_by_afxo_call_progress_tone);
    EXPECT_EQ(r.state, SM_NO_DECISION);
    // A busy line: the cause map's answer toward analog lines.
    co->special_termination_reason = 13;
    r = act(sm_sip_send_reject_by_afxo_call_progress_tone);
    EXPECT_EQ(r.state, SM_DISMANTLING);
    EXPECT_EQ(r.event, SM_NO_EVENT);
    EXPECT_EQ(co->special_termination_reason, 0);
    answer a = next();
    EXPECT_EQ(a.status, 486);
    EXPECT_EQ(a.phrase, "Busy Here");
    EXPECT_EQ(f.answers.size(), 1u);
}

TEST_F(SipResponse, FxoBusyWithoutAnErrorAnswerSendsNothing)
{
    cause_map &m = gp->causemap;
    m.causes[m.count++] = {TECH_SIP, TECH_ANALOG, 17, 180, strdup("Ringing")};
    co->callinfo = CI_SIP_TO_ANALOG;
    invite(true);
    co->special_termination_reason = 13;
    statemachine_handle_retval r = act(sm_sip_send_reject_by_afxo_call_progress_tone);
    EXPECT_EQ(r.state, SM_NO_DECISION);
    EXPECT_EQ(co->special_termination_reason, 13);
    EXPECT_TRUE(nothing_sent());
}

// The stack sends an answer from its own thread after the action returned:
// the phrase it sends is the one of the moment of the answer, even when the
// cause map's text is replaced before the stack gets to it.
TEST_F(SipResponse, CauseMapPhrasesAreCopiedPerAnswer)
{
    struct {
        const char *what;
        int to, in_cause;
        std::function<void()> send;
    } cases[] = {
        {"media refused", TECH_TARN, 916,
         [this] {
             leg->sip_answer = SIP_ANSWER_REJECT;
             act(sm_sip_send_nua_response);
         }},
        {"ISDN time-out", TECH_TARN, 912,
         [this] {
             bchannel(0);
             act(sm_sip_send_reject_for_isdn_timeout);
         }},
        {"ISDN disconnect cause", TECH_ISDN, 17,
         [this] {
             bchannel(0);
             act(sm_isdn_send_sip_reject_by_isdn_disconnect_cause);
         }},
        {"busy FXO line", TECH_ANALOG, 17,
         [this] {
             co->special_termination_reason = 13;
             act(sm_sip_send_reject_by_afxo_call_progress_tone);
         }},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        fresh_call();
        co->callinfo = c.to == TECH_ANALOG ? CI_SIP_TO_ANALOG : CI_SIP_TO_ISDN;
        invite(true);
        cause_map &m = gp->causemap;
        char *text = strdup("Mapped Refusal");
        // first, ahead of any row of the default map for the same cause
        std::copy_backward(m.causes, m.causes + m.count, m.causes + m.count + 1);
        m.count++;
        m.causes[0] = {TECH_SIP, (dp_tech)c.to, c.in_cause, 503, text};
        c.send();
        memset(text, 'X', strlen(text)); // a reload reuses the memory
        answer a = next();
        EXPECT_EQ(a.status, 503);
        EXPECT_EQ(a.phrase, "Mapped Refusal");
    }
}

TEST_F(SipResponse, ReinviteAnswer)
{
    co->callinfo = CI_SIP_TO_SIP;
    invite(false);
    co->f.got_invite_without_sdp = 0;
    // Nothing owed: nothing sent.
    act(sm_s2s_send_reinvite_response);
    // An OK owed to a re-INVITE without SDP on an active call: 200 with an
    // offer; the owed answer stays.
    leg->sip_answer = SIP_ANSWER_OK;
    co->f.sip_reinvite_on_active_call_without_sdp = 1;
    answer a = sent_by(sm_s2s_send_reinvite_response);
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.phrase, "SIP_CALL_ACTIVE");
    EXPECT_TRUE(has_sdp(a)) << a.body;
    EXPECT_EQ(f.answers.size(), 1u);
    EXPECT_EQ(co->f.sip_reinvite_on_active_call_without_sdp, 0u);
    EXPECT_EQ(co->f.sdp_offer_sent, 1u);
    EXPECT_EQ(co->f.first_sdp_answered, 1u);
    EXPECT_EQ(leg->sip_answer, SIP_ANSWER_OK);
}

// ---- header texts --------------------------------------------------------

class SipHeaderTexts : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!gp) {
            application_create();
            init_locks();
            init_default_call_configuration();
        }
        co = (call_object *)calloc(1, sizeof *co);
        co->pid = 4711;
        co->cl_sip = co->cl_sip_in = &in;
        co->cl_sip_out = &out;
    }
    void TearDown() override
    {
        for (char *&h : in.passthrough_headers) {
            free(h);
            h = nullptr;
        }
        free(co);
    }
    std::string xheaders(const char *start = "")
    {
        char buf[1024];
        snprintf(buf, sizeof buf, "%s", start);
        EXPECT_EQ(xheader_add(co, buf, sizeof buf), 0);
        return buf;
    }
    call_object *co = nullptr;
    call_leg_sip in{}, out{};
};

TEST_F(SipHeaderTexts, CallIdAndOrigin)
{
    dialplan_element dp{};
    dp.line = 7;
    co->dp = &dp;
    EXPECT_EQ(xheaders("A: b\r\n"), "A: b\r\n") << "no bits, no lines";

    co->cc.sip_xheaders = 3;
    co->callinfo = CI_ANALOG_TO_SIP;
    char oad[] = "201", dad[] = "0301234";
    co->analog_port = 0x800 | 3;
    co->analog_oad = oad;
    co->analog_dad = dad;
    EXPECT_EQ(xheaders(), "X-DV_CALL_ID: dv_cid=4711\r\n"
                          "X-DV_ORIGIN: tech=analog;port=3;oad=201;dad=0301234;dpline=7\r\n");

    co->callinfo = CI_ISDN_TO_SIP;
    EXPECT_EQ(xheaders(), "X-DV_CALL_ID: dv_cid=4711\r\n") << "ISDN origin only with a B-channel";
    misdn_bchannel bc{};
    bc.port = 4;
    snprintf(bc.oad, sizeof bc.oad, "301");
    snprintf(bc.dad, sizeof bc.dad, "55");
    co->bc = &bc;
    co->cc.sip_xheaders = 2;
    EXPECT_EQ(xheaders(), "X-DV_ORIGIN: tech=isdn;port=4;oad=301;dad=55;dpline=7\r\n");
    co->bc = nullptr;

    co->callinfo = CI_SIP_TO_SIP;
    EXPECT_EQ(xheaders(), "") << "SIP origin only with the incoming request's addresses";
    sip_address_info_object ai{};
    char fu[] = "alice", fh[] = "a.example", tu[] = "bob", th[] = "b.example";
    ai.from_url_user = fu;
    ai.from_url = fh;
    ai.to_url_user = tu;
    ai.to_url = th;
    in.address_info = &ai;
    EXPECT_EQ(xheaders(), "X-DV_ORIGIN: tech=sip;from=alice@a.example;to=bob@b.example;dpline=7\r\n");
    in.address_info = nullptr;

    co->callinfo = CI_SIP_TO_ISDN;
    EXPECT_EQ(xheaders(), "") << "no origin line for calls from SIP to a line";

    // The buffer's end is kept.
    co->cc.sip_xheaders = 1;
    char small[16] = "";
    xheader_add(co, small, sizeof small);
    EXPECT_EQ(std::string(small), "X-DV_CALL_ID: d");
}

TEST_F(SipHeaderTexts, PatchPassthroughUrl)
{
    port_group_sip pgs{};
    char domain[] = "pbx.example.test";
    pgs.pgs_sip_domain = domain;
    struct row {
        const char *value, *expect;
    } rows[] = {
        {"<sip:+4930123@10.1.1.1;user=phone>", "P-X: <sip:+4930123@pbx.example.test;user=phone>"},
        {"<sip:bob@10.1.1.1>;tag=1", "P-X: <sip:bob@pbx.example.test>;tag=1"},
        {"sip:bob@10.1.1.1", "P-X: sip:bob@pbx.example.test"},
        {"no address here", "P-X: no address here"},
    };
    for (const row &r : rows) {
        char out[256];
        EXPECT_EQ(patch_passthrough_header_url(out, sizeof out, "P-X", r.value, &pgs), 0);
        EXPECT_STREQ(out, r.expect) << r.value;
    }
}

TEST_F(SipHeaderTexts, PassthroughHeadersAddSkipsNamesPresent)
{
    const char *stored[] = {"X-Account: 17", "x-dv_call_id: dv_cid=1", "X-Accounting: on", "X-Tail: end"};
    for (size_t i = 0; i < std::size(stored); i++)
        in.passthrough_headers[i] = strdup(stored[i]);
    char buf[1024] = "X-DV_CALL_ID: dv_cid=4711\r\nX-ACCOUNT: 3\r\n";
    EXPECT_EQ(passthrough_headers_add(co, buf, sizeof buf), 0);
    // A present header wins whatever the case of its name; a longer name
    // that merely begins like a present one still passes.
    EXPECT_STREQ(buf, "X-DV_CALL_ID: dv_cid=4711\r\nX-ACCOUNT: 3\r\nX-Accounting: on\r\nX-Tail: end\r\n");
}

// The far leg's extension headers become the incoming leg's passthrough
// headers, filtered and with the target group's domain.
TEST_F(SipHeaderTexts, ApplyCallProgressPassthrough)
{
    conf_root root(false);
    root.write("usr/conf/tarn.sip", "[provider]\nsip_stack=lan\nsip_proxy=10.9.0.1\nsip_domain=pbx.example.test\n");
    _parse_experimental_options("syscall_mode=99");
    gp->sip_stack_size = 1;
    gp->sip_stacks[0] = sip_stack{};
    snprintf(gp->sip_stacks[0].name, sizeof gp->sip_stacks[0].name, "lan");
    snprintf(gp->sip_stacks[0].ip, sizeof gp->sip_stacks[0].ip, "10.0.0.5");
    gp->sip_stacks[0].active = 1;
    cm_init();
    cm *c = configman_create("SIP");
    ASSERT_TRUE(c);
    ASSERT_EQ(cm_load(&c, root.path("usr/conf/tarn.sip").c_str()), 0);
    gp->config_sip = c;
    testing::internal::CaptureStderr();
    pg_init_sip_port_group_struct();
    testing::internal::GetCapturedStderr();
    ASSERT_NE(pg_get_port_group_sip_by_name("provider", nullptr), nullptr);

    std::string text = "SIP/2.0 180 Ringing\r\nVia: SIP/2.0/UDP 10.9.0.1;branch=z9hG4bK1\r\n"
                       "From: <sip:a@10.0.0.5>;tag=1\r\nTo: <sip:b@10.9.0.1>;tag=2\r\nCall-ID: c1\r\n"
                       "CSeq: 1 INVITE\r\nX-Keep: <sip:4930@10.9.0.1;user=phone>\r\nX-Drop: 1\r\n"
                       "P-Keep-Too: plain\r\nContent-Length: 0\r\n\r\n";
    msg_t *msg = msg_make(sip_default_mclass(), 0, text.data(), text.size());
    ASSERT_NE(msg, nullptr);
    dialplan_element dp{};
    char target[] = "provider";
    dp.to_id = target;
    co->dp = &dp;
    co->callinfo = CI_SIP_TO_SIP;
    co->cl_sip = &out;
    out.tmpsip = sip_object(msg);
    co->cc.header_passthrough = 1;
    snprintf(co->cc.header_passthrough_filter, sizeof co->cc.header_passthrough_filter, "^(X-Keep|P-Keep-Too):");
    in.passthrough_headers[0] = strdup("Old: gone");

    statemachine_handle_retval r = sm_s2s_apply_call_progress_passthrough_headers(co, nullptr, 0, 0);
    EXPECT_EQ(r.state, SM_NO_DECISION);
    ASSERT_NE(in.passthrough_headers[0], nullptr);
    EXPECT_STREQ(in.passthrough_headers[0], "X-Keep: <sip:4930@pbx.example.test;user=phone>");
    ASSERT_NE(in.passthrough_headers[1], nullptr);
    EXPECT_STREQ(in.passthrough_headers[1], "P-Keep-Too: plain");
    EXPECT_EQ(in.passthrough_headers[2], nullptr);

    // A filter that does not compile lets every header through.
    snprintf(co->cc.header_passthrough_filter, sizeof co->cc.header_passthrough_filter, "(unclosed");
    sm_s2s_apply_call_progress_passthrough_headers(co, nullptr, 0, 0);
    ASSERT_NE(in.passthrough_headers[2], nullptr);
    EXPECT_STREQ(in.passthrough_headers[1], "X-Drop: 1");

    out.tmpsip = nullptr;
    msg_destroy(msg);
    pg_free_all_sip_port_groups();
    cm_destroy(gp->config_sip);
    gp->config_sip = nullptr;
}

TEST_F(SipHeaderTexts, ActiveLeg)
{
    EXPECT_STREQ(print_call_leg_info(co), "LEG1 active\n");
    co->cl_sip = &out;
    EXPECT_STREQ(print_call_leg_info(co), "LEG2 active\n");
    co->cl_sip = nullptr;
    EXPECT_STREQ(print_call_leg_info(co), "NO LEG active\n");
    testing::internal::CaptureStdout();
    print_call_leg(co);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "NO LEG active\n");
}

} // namespace

// ---- BYE with a clean-up call ----------------------------------------------

namespace {

struct bye_far {
    bool answered = false, acked = false, bye = false, shut = false;
};

void bye_far_event(nua_event_t event, int status, char const *, nua_t *, nua_magic_t *magic, nua_handle_t *nh,
                   nua_hmagic_t *, sip_t const *, tagi_t[])
{
    bye_far *f = (bye_far *)(void *)magic;
    if (event == nua_i_invite) {
        nua_respond(nh, 200, "OK", TAG_END());
        f->answered = true;
    } else if (event == nua_i_ack) {
        f->acked = true;
    } else if (event == nua_i_bye) {
        f->bye = true;
    } else if (event == nua_r_shutdown && status >= 200) {
        f->shut = true;
    }
}

bool bye_near_shut = false;

// The near stack reports to the event hub, as the daemon's stacks do.
void bye_near_event(nua_event_t event, int status, char const *phrase, nua_t *nua, nua_magic_t *magic,
                    nua_handle_t *nh, nua_hmagic_t *hmagic, sip_t const *sip, tagi_t tags[])
{
    if (event == nua_r_shutdown) {
        if (status >= 200) // 1xx: still shutting down
            bye_near_shut = true;
        return;
    }
    nua_event_callback(event, status, phrase, nua, magic, nh, hmagic, sip, tags);
}

} // namespace

// With byeauth 1 a BYE leaves a clean-up call behind that holds the handle
// on its own machine; the BYE's 200 ends it and the handle goes with it, or
// (timer_first) its dismantling timer ends it before any answer came.
void bye_with_cleanup_call(bool timer_first)
{
    if (!gp) {
        application_create();
        init_locks();
        init_default_call_configuration();
    }
    ASSERT_EQ(create_call_object_pools(4), 0);
    _parse_experimental_options("byeauth=1");
    ASSERT_EQ(gp->experimental_options->eo_byeauth, 1);
    gp->init_lock = 1;
    ASSERT_EQ(timer_list_new(), 0);
    su_init();
    su_root_t *root = su_root_create(nullptr);
    int port = free_local_port();
    ASSERT_GT(port, 0);
    std::string far_url = "sip:127.0.0.1:" + std::to_string(port);
    bye_far f;
    nua_t *far = nua_create(root, bye_far_event, (nua_magic_t *)&f, NUTAG_URL(far_url.c_str()),
                            NUTAG_MEDIA_ENABLE(0), TAG_END());
    nua_t *near = nua_create(root, bye_near_event, nullptr, NUTAG_URL("sip:127.0.0.1:*"), NUTAG_MEDIA_ENABLE(0),
                             TAG_END());
    ASSERT_NE(far, nullptr);
    ASSERT_NE(near, nullptr);
    auto run_until = [&](auto done) {
        for (int i = 0; i < 500 && !done(); i++)
            su_root_step(root, 10);
        return done();
    };

    call_object *co = get_free_operation_handle(1);
    ASSERT_NE(co, nullptr);
    co->callinfo = CI_ISDN_TO_SIP;
    call_leg_sip *leg = get_new_sip_call_leg();
    leg->in_use = 1;
    leg->nua = near;
    leg->pd = parse_proxy_definition("user:secret@127.0.0.1");
    ASSERT_NE(leg->pd, nullptr);
    co->cl_sip = co->cl_sip_out = leg;
    std::string to = "sip:far@127.0.0.1:" + std::to_string(port);
    leg->nh = nua_handle(near, (nua_hmagic_t *)co, SIPTAG_TO_STR(to.c_str()), TAG_END());
    nua_invite(leg->nh, NUTAG_URL(to.c_str()), TAG_END());
    ASSERT_TRUE(run_until([&] { return f.acked; }));

    nua_handle_t *nh = leg->nh;
    {
        lock_hold hold(&lock_manager::global_lock);
        sm_sip_send_nua_bye(co, nullptr, SM_CALL_ACTIVE, 0);
    }
    EXPECT_EQ(leg->nh, nullptr);
    call_object *cleanup = (call_object *)nua_handle_magic(nh);
    ASSERT_NE(cleanup, nullptr);
    ASSERT_NE(cleanup, co);
    EXPECT_EQ(cleanup->callinfo, CI_INTERNAL);
    EXPECT_EQ(cleanup->pid, co->pid + 1000000000);
    ASSERT_NE(cleanup->cl_sip, nullptr);
    EXPECT_EQ(cleanup->cl_sip->nh, nh);
    ASSERT_NE(cleanup->cl_sip->pd, nullptr);
    EXPECT_NE(cleanup->cl_sip->pd, leg->pd) << "the clean-up call owns a copy";
    EXPECT_EQ(cleanup->dismantling_timeout, 3);
    EXPECT_EQ(cleanup->f.dismantling, 1u);
    EXPECT_NE(cleanup->timer, nullptr);
    ASSERT_NE(cleanup->sm, nullptr);
    EXPECT_EQ(statemachine_get_state(cleanup->sm), SM_DISMANTLING);

    if (timer_first) {
        // What the timer thread and the task runner do when the 3 s are up.
        cb_timer_event(T_EVENT_CLEANUP, cleanup->timer);
        EXPECT_EQ(sm_run_pending_tasks(), 1);
        EXPECT_EQ(cleanup->callinfo, CI_FREE) << "the timer ends the clean-up call";
        EXPECT_EQ(co->callinfo, CI_ISDN_TO_SIP);
        ASSERT_TRUE(run_until([&] { return f.bye; })) << "the BYE went out all the same";
    } else {
        ASSERT_TRUE(run_until([&] { return f.bye; }));
        EXPECT_TRUE(run_until([&] { return cleanup->callinfo == CI_FREE; }))
            << "the BYE's 200 ends the clean-up call";
    }

    {
        lock_hold hold(&lock_manager::global_lock);
        reset_op(co);
    }
    bye_near_shut = false; // the stack of an earlier case set it
    nua_shutdown(near);
    run_until([] { return bye_near_shut; });
    nua_shutdown(far);
    run_until([&] { return f.shut; });
    nua_destroy(near);
    nua_destroy(far);
    su_root_destroy(root);
    su_deinit();
    gp->init_lock = 0;
    _parse_experimental_options("");
}

TEST(SipBye, CleanupCallTakesTheAnswer)
{
    bye_with_cleanup_call(false);
}

TEST(SipBye, CleanupCallEndsByItsTimer)
{
    bye_with_cleanup_call(true);
}
