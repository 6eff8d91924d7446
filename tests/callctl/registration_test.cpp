// Registration machines driven by their SIP events with real parsed answers:
// refresh intervals after success and failure, the server's Expires, digest
// answers and their limit, OPTIONS validation, rport learning, the SNMP
// lines, and the TCP probe of a registrar.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "application.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "log_backend.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "reg_object.h"
#include "registration.h"
#include "sip_stack.h"
#include "sm_tasks.h"
#include "state_tables.h"
#include "timer.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/msg.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>

namespace {

int32_t send_nothing(void *, void *, int32_t) { return 0; }
int32_t no_timer(int32_t, kv_timer *) { return 0; }

// A parsed SIP answer (the stack's default class), freed with the holder.
struct parsed {
    msg_t *msg = nullptr;
    explicit parsed(const std::string &text) { msg = msg_make(sip_default_mclass(), 0, text.data(), text.size()); }
    ~parsed() { msg_destroy(msg); }
    sip_t const *sip() const { return msg ? sip_object(msg) : nullptr; }
};

std::string answer(int status, const char *phrase, const char *method, const std::string &extra = "")
{
    return "SIP/2.0 " + std::to_string(status) + " " + phrase +
           "\r\nVia: SIP/2.0/UDP 10.0.0.5:5060;branch=z9hG4bK1;rport=40000;received=192.0.2.7\r\n"
           "From: <sip:alice@prov.test>;tag=1\r\nTo: <sip:alice@prov.test>;tag=2\r\n"
           "Call-ID: r1@10.0.0.5\r\nCSeq: 1 " +
           method + "\r\n" + extra + "Content-Length: 0\r\n\r\n";
}

class Registration : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        application_create();
        init_locks();
        ASSERT_EQ(timer_list_new(), 0);
    }
    void SetUp() override
    {
        static experimental_options options;
        options = experimental_options{};
        gp->experimental_options = &options;
        user_ = port_group_sip_user{};
        user_.pgsu_user = (char *)"alice";
        users_[0] = &user_;
        pgs_ = port_group_sip{};
        pgs_.pgs_name = (char *)"prov";
        pgs_.pgs_users = users_;
        pgs_.pgs_user_count = 1;
        pgs_.pgs_do_register = 1;
        pgs_.pgs_refresh_interval = 600;
        pgs_.pgs_refresh_interval_failed = 10;
        pgs_.pgs_transport = SIP_TRANSPORT_UDP;
        pd_ = proxy_def{};
        pd_.auth_user = (char *)"alice";
        pd_.pass = (char *)"secret";
        snmp_ = tmpfile();
        log_backend()->snmp_notify_fp = snmp_;
    }
    void TearDown() override
    {
        if (ro_) {
            if (ro_->timer)
                timer_remove(ro_->timer);
            statemachine_destroy(ro_->sm);
            ro_->pd = nullptr;
            delete ro_;
            ro_ = nullptr;
        }
        log_backend()->snmp_notify_fp = nullptr;
        fclose(snmp_);
        sm_run_pending_tasks();
    }
    // A registration in state with its refresh timer (failure interval).
    reg_object *registration(uint32_t state, bool only_validate = false)
    {
        ro_ = init_reg_object(new reg_object(), 0);
        ro_->callinfo = CI_REGISTER;
        ro_->pgs = &pgs_;
        ro_->pgsu = &user_;
        ro_->pd = &pd_;
        ro_->only_validate = only_validate ? 1 : 0;
        ro_->is_validated = pgs_.pgs_do_validate ? 0 : -1;
        ro_->sm = create_statemachine_sipreg(ro_, (int)state, send_nothing);
        ro_->sm_state = state;
        kv_timer *t = (kv_timer *)calloc(1, sizeof *t);
        t->tv.tv_sec = pgs_.pgs_refresh_interval_failed;
        t->user_data = ro_;
        EXPECT_EQ(timer_add(no_timer, T_EVENT_REG_REFRESH, t), 0);
        ro_->timer = t;
        return ro_;
    }
    // The stack's event for the registration's handle (none: no stack here).
    void event(nua_event_t e, int status, const char *phrase, const parsed *m)
    {
        lock_hold hold(&lock_manager::global_lock);
        nua_event_callback_register(e, status, phrase, nullptr, nullptr, nullptr, ro_, m ? m->sip() : nullptr,
                                    nullptr);
    }
    int timer_seconds() const { return ro_->timer->interval_save / 100; }
    std::string snmp()
    {
        fflush(snmp_);
        rewind(snmp_);
        std::string s;
        char buf[512];
        while (fgets(buf, sizeof buf, snmp_))
            s += buf;
        return s;
    }

    port_group_sip_user user_;
    port_group_sip_user *users_[1];
    port_group_sip pgs_;
    proxy_def pd_;
    reg_object *ro_ = nullptr;
    FILE *snmp_ = nullptr;
};

TEST(RegistrationPieces, RefreshIntervalAfterSuccess)
{
    const int cases[][2] = {{60, 55}, {31, 26}, {30, 29}, {2, 1}, {1, 1}, {0, 0}};
    for (auto &c : cases)
        EXPECT_EQ(reg_refresh_interval_for_success(c[0]), c[1]) << c[0];
}

TEST(RegistrationPieces, EventWords)
{
    const struct {
        int callinfo, status;
        nua_event_t event;
        int32_t word;
    } cases[] = {
        {CI_REGISTER, 401, nua_r_register, sm_sip(401, nua_r_register)},
        {CI_REGISTER, 407, nua_r_register, sm_sip(407, nua_r_register)},
        {CI_REGISTER, 484, nua_r_register, sm_sip(484, nua_r_register)},
        {CI_REGISTER, 403, nua_r_register, sm_sip(403, nua_r_register)},
        {CI_FREE, 403, nua_r_register, sm_sip(1000, nua_r_register)},
        {CI_REGISTER, 503, nua_r_register, sm_sip(1000, nua_r_register)},
        {CI_REGISTER, 699, nua_r_unregister, sm_sip(1000, nua_r_unregister)},
        {CI_REGISTER, 200, nua_i_terminated, sm_sip(1000, nua_i_terminated)},
        {CI_REGISTER, 200, nua_r_register, sm_sip(200, nua_r_register)},
        {CI_REGISTER, 904, nua_r_register, sm_sip(904, nua_r_register)},
    };
    for (auto &c : cases)
        EXPECT_EQ(reg_event_word(c.callinfo, c.event, c.status), c.word) << c.status;
}

TEST(RegistrationPieces, OutboundOptionsAndPeerAnswers)
{
    char text[256];
    reg_outbound_option_text(0x35, text, sizeof text);
    EXPECT_STREQ(text, "gruuize no-outbound validate no-natify use-rport options-keepalive ");
    reg_outbound_option_text(0x0a, text, sizeof text);
    EXPECT_STREQ(text, "no-gruuize outbound no-validate natify no-use-rport no-options-keepalive ");
    char small[20];
    reg_outbound_option_text(0x35, small, sizeof small);
    EXPECT_STREQ(small, "gruuize ");
    for (int s : {200, 404, 481, 499})
        EXPECT_TRUE(reg_peer_answered(s)) << s;
    for (int s : {408, 500, 503, 1000})
        EXPECT_FALSE(reg_peer_answered(s)) << s;
}

// Two successful answers in a row: the granted time sets the refresh, and
// one SNMP line says so.
TEST_F(Registration, SuccessRefreshesBeforeTheGrantedTime)
{
    const struct {
        const char *header;
        int granted, timer;
    } cases[] = {
        {"Expires: 60\r\n", 60, 55},
        {"Expires: 30\r\n", 30, 29},
        {"Contact: <sip:alice@10.0.0.5:5060>;expires=10\r\n", 10, 9},
        {"", 0, 595}, // neither: the group's interval
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.header);
        user_.pgsu_refresh_interval_server = 0;
        registration(SM_SIP_REGISTRATION_PENDING);
        parsed ok(answer(200, "OK", "REGISTER", c.header));
        event(nua_r_register, 200, "OK", &ok);
        EXPECT_EQ(ro_->sm_state, (uint32_t)SM_SIP_REGISTRATION_SUCCESSFUL);
        EXPECT_EQ(user_.pgsu_refresh_interval_server, c.granted);
        EXPECT_EQ(timer_seconds(), c.timer);
        event(nua_r_register, 200, "OK", &ok);
        EXPECT_EQ(ro_->sm_state, (uint32_t)SM_SIP_REGISTRATION_SUCCESSFUL);
        EXPECT_EQ(snmp(), "SNMP:SIP_REGVAL:0:prov:1:SM_SIP_REGISTRATION_SUCCESSFUL:200:0:VALIDATION_DISABLED:0\n");
        TearDown();
        SetUp();
    }
}

TEST_F(Registration, FailuresChooseTheirInterval)
{
    const struct {
        int status;
        const char *phrase, *header;
        bool pause;
        uint32_t state;
        int timer;
    } cases[] = {
        {503, "Service Unavailable", "Retry-After: 5\r\n", false, SM_SIP_REGISTRATION_FAILED, 5},
        {503, "Service Unavailable", "", false, SM_SIP_REGISTRATION_FAILED, 10},
        {404, "Not Found", "", true, SM_SIP_REGISTRATION_FAILED, 3600},
        {403, "Forbidden", "", false, SM_SIP_REGISTRATION_FAILED, 595}, // the success interval
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.status);
        gp->experimental_options->eo_pause_reregister_on_validation_fail = c.pause;
        pgs_.pgs_do_validate = c.pause;
        registration(SM_SIP_REGISTRATION_PENDING);
        parsed m(answer(c.status, c.phrase, "REGISTER", c.header));
        event(nua_r_register, c.status, c.phrase, &m);
        EXPECT_EQ(ro_->sm_state, c.state);
        EXPECT_EQ(timer_seconds(), c.timer);
        EXPECT_EQ(ro_->is_pausing_registrations, c.pause ? 1 : 0);
        EXPECT_EQ(ro_->last_response_code_register, c.status);
        TearDown();
        SetUp();
    }
}

// Each challenge is answered until auth_workaround answers were given.
TEST_F(Registration, DigestAnswersStopAtTheLimit)
{
    gp->experimental_options->eo_auth_workaround = 3;
    registration(SM_SIP_REGISTRATION_PENDING);
    parsed challenge(answer(401, "Unauthorized", "REGISTER",
                            "WWW-Authenticate: Digest realm=\"tarn-test\", nonce=\"n1\"\r\n"));
    for (int i = 1; i <= 3; i++) {
        event(nua_r_register, 401, "Unauthorized", &challenge);
        EXPECT_EQ(ro_->sm_state, (uint32_t)SM_SIP_REGISTRATION_PENDING);
        EXPECT_EQ(ro_->auth_counter, i);
    }
    event(nua_r_register, 401, "Unauthorized", &challenge);
    EXPECT_EQ(ro_->sm_state, (uint32_t)SM_REG_INACTIVE);
    EXPECT_EQ(ro_->auth_counter, 3);
}

// OPTIONS validation: any answer of the peer below 500 but 408 validates.
TEST_F(Registration, OptionsValidation)
{
    pgs_.pgs_do_register = 0;
    pgs_.pgs_do_validate = 1;
    registration(SM_SIP_NOT_VALIDATED_BY_OPTIONS, true);
    const struct {
        int status;
        uint32_t state;
        const char *line; // SNMP line, "" for none
    } steps[] = {
        {404, SM_SIP_VALIDATED_BY_OPTIONS,
         "SNMP:SIP_REGVAL:0:prov:0:REGISTRATION_DISABLED:0:1:VALIDATED:404\n"},
        {200, SM_SIP_VALIDATED_BY_OPTIONS, ""},
        {408, SM_SIP_NOT_VALIDATED_BY_OPTIONS,
         "SNMP:SIP_REGVAL:0:prov:0:REGISTRATION_DISABLED:0:1:NOT_VALIDATED:408\n"},
        {503, SM_SIP_NOT_VALIDATED_BY_OPTIONS, ""},
    };
    std::string expected;
    for (auto &s : steps) {
        SCOPED_TRACE(s.status);
        parsed m(answer(s.status, "X", "OPTIONS"));
        event(nua_r_options, s.status, "X", &m);
        EXPECT_EQ(ro_->sm_state, s.state);
        EXPECT_EQ(ro_->last_response_code_validate, s.status);
        expected += s.line;
        EXPECT_EQ(snmp(), expected);
    }
    int code = -1;
    EXPECT_STREQ(snmp_get_validation_info(ro_, &code), "NOT_VALIDATED");
    EXPECT_EQ(code, 503);
    EXPECT_STREQ(snmp_get_registration_info(ro_, &code), "REGISTRATION_DISABLED");
    EXPECT_EQ(code, 0);
}

// The peer's view of our port is learnt only for a group with an external
// address; events of another handle or without a machine change no state.
TEST_F(Registration, RportAndForeignEvents)
{
    registration(SM_SIP_REGISTRATION_PENDING);
    parsed ok(answer(200, "OK", "REGISTER", "Expires: 60\r\n"));
    event(nua_r_register, 200, "OK", &ok);
    EXPECT_EQ(pgs_.pgs_via_rport, 0);
    pgs_.pgs_externip = (char *)"192.0.2.7";
    event(nua_r_register, 200, "OK", &ok);
    EXPECT_EQ(pgs_.pgs_via_rport, 40000);

    int other = 0;
    ro_->nh = reinterpret_cast<nua_handle_t *>(&other);
    parsed busy(answer(503, "Busy", "REGISTER"));
    event(nua_r_register, 503, "Busy", &busy);
    EXPECT_EQ(ro_->sm_state, (uint32_t)SM_SIP_REGISTRATION_SUCCESSFUL);
    EXPECT_EQ(ro_->last_response_code_register, 503); // recorded all the same
    ro_->nh = nullptr;
}

// The TCP probe: UDP groups open nothing; a listening registrar passes,
// a closed port fails; descriptor 0 is never taken for a probe socket.
TEST_F(Registration, RegistrarProbe)
{
    registration(SM_SIP_REGISTRATION_FAILED);
    ro_->register_probe_socket_fd = 0;
    EXPECT_EQ(reg_object_probe_peer(ro_), 0);
    EXPECT_EQ(ro_->register_probe_socket_fd, 0) << "UDP: no socket";

    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, (sockaddr *)&sa, sizeof sa), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t len = sizeof sa;
    getsockname(listener, (sockaddr *)&sa, &len);
    pgs_.pgs_transport = SIP_TRANSPORT_TCP;
    pgs_.pgs_sip_registrar = (char *)"127.0.0.1";
    pgs_.pgs_sip_registrar_port = ntohs(sa.sin_port);

    // The probe's connect has its answer once the socket is writable.
    auto settled = [&] {
        pollfd p{ro_->register_probe_socket_fd, POLLOUT, 0};
        return poll(&p, 1, 5000) == 1;
    };
    ro_->evaluate_registrar_connect = 1;
    ASSERT_EQ(reg_object_probe_peer(ro_), 0);
    ASSERT_GT(ro_->register_probe_socket_fd, 0);
    ASSERT_TRUE(settled());
    EXPECT_EQ(check_peer_connect(ro_), 0) << "listening registrar";
    EXPECT_EQ(ro_->register_probe_socket_fd, -1) << "closed and forgotten";
    close(listener);

    ASSERT_EQ(reg_object_probe_peer(ro_), 0);
    ASSERT_GT(ro_->register_probe_socket_fd, 0);
    ASSERT_TRUE(settled());
    EXPECT_EQ(check_peer_connect(ro_), -1) << "closed port";
    EXPECT_NE(fcntl(0, F_GETFD), -1) << "standard input still open";
    ro_->register_probe_socket_fd = 0;
    ro_->evaluate_registrar_connect = 1;
    EXPECT_EQ(check_peer_connect(ro_), -1);
    EXPECT_NE(fcntl(0, F_GETFD), -1) << "0 is no probe socket";
}

} // namespace
