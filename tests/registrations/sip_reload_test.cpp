// The SIP peer reload in process: the registrations are taken down (an
// un-REGISTER on each handle), tarn.sip is read again and the registrations
// start again, with call control's machine and the SIP stack's handle calls
// recorded; the STUN list of the new groups; a broken file; a second reload
// while one runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "debug_lines.h"
#include "global_lock.h"
#include "proxy_def.h"
#include "reg_test_reset.h"
#include "registrations.h"
#include "sip_groups_fixture.h"
#include "sip_reload.h"
#include "sip_stack.h"
#include "timer.h"

namespace {

struct recorded {
    std::vector<std::string> handles; // "from|registrar|contact"
    std::vector<nua_handle_s *> unregistered;
    int registers = 0;
} rec;

const statemachine_transition no_rows[1] = {};
statemachine *machine(void *priv, int state, statemachine_send_event send)
{
    return statemachine_create(priv, state, no_rows, 0, send, nullptr);
}
int32_t send_event(void *, void *, int32_t) { return 0; }
int32_t timer_cb(int32_t, kv_timer *) { return 0; }
int run(reg_object *, int, int) { return 0; }
int send_register(reg_object *)
{
    rec.registers++;
    return 0;
}
void reset(reg_object *ro)
{
    reg_test_release_records(ro);
}
char handle_space[64];
nua_handle_s *create_handle(nua_s *, reg_object *ro, const char *from, const char *registrar, const char *contact)
{
    rec.handles.push_back(std::string(from) + "|" + registrar + "|" + contact);
    return (nua_handle_s *)&handle_space[ro->index];
}
void unregister_double(nua_handle_s *nh) { rec.unregistered.push_back(nh); }
void destroy_double(nua_handle_s *) {}
void pause_double(int) {}

class SipReload : public SipGroupsTest {
protected:
    static void SetUpTestSuite()
    {
        SipGroupsTest::SetUpTestSuite();
        ASSERT_EQ(timer_new(), 0);
        registration_hooks h = {machine, send_event, timer_cb, run, send_register, reset};
        reg_set_hooks(&h);
        reg_sip_ops = {create_handle, unregister_double, destroy_double, pause_double};
        if (!gp->locks)
            init_locks();
    }
    void SetUp() override
    {
        SipGroupsTest::SetUp();
        rec = recorded{};
        gp->sip_stacks[0].nua = (nua_s *)&handle_space;
        snprintf(gp->dialplan_path, sizeof gp->dialplan_path, "%s/tarn.dialplan", dir.c_str());
        std::ofstream(gp->dialplan_path) << "";
    }
    void TearDown() override
    {
        reg_clear_outbound_registration_array();
        REGISTRATIONARRAYSIZE = 0;
        free(gp->stunservers);
        gp->stunservers = nullptr;
        gp->stunserver_count = 0;
        SipGroupsTest::TearDown();
    }
    // tarn.sip in the test's folder, loaded and started as start-up does.
    void start(const std::string &sip)
    {
        write_sip(sip);
        snprintf(gp->path_config_sip, sizeof gp->path_config_sip, "%s/tarn.sip", dir.c_str());
        ASSERT_EQ(build(sip), 0);
        collect_stun_servers();
        reg_init_outbound_registration_array();
        ASSERT_EQ(register_users(), 0);
    }
    void write_sip(const std::string &sip) { std::ofstream(dir + "/tarn.sip", std::ios::trunc) << sip; }
};

TEST_F(SipReload, RegistrationsEndAndStartAgainFromTheNewFile)
{
    start("[p1]\nsip_stack=lan\nsip_proxy=10.9.0.1\nuser=a,b\nregister=yes\n");
    ASSERT_EQ(REGISTRATIONARRAYSIZE, 2);
    ASSERT_EQ(rec.handles.size(), 2u);
    std::vector<nua_handle_s *> first = {gp->registrations[0]->nh, gp->registrations[1]->nh};
    write_sip("[p1]\nsip_stack=lan\nsip_proxy=10.9.0.7\nuser=a,b,c\nregister=yes\n"
              "[s1]\nsip_stack=lan\nstunserver=stun.x.test\n[s2]\nsip_stack=lan\nstunserver=stun.x.test\n"
              "[s3]\nsip_stack=lan\nstunserver=stun.x.test\n");
    EXPECT_EQ(reload_sip_peers(0), 0);
    EXPECT_EQ(rec.unregistered, first);
    EXPECT_EQ(REGISTRATIONARRAYSIZE, 3);
    ASSERT_EQ(rec.handles.size(), 5u);
    EXPECT_NE(rec.handles[2].find("10.9.0.7"), std::string::npos) << rec.handles[2];
    EXPECT_EQ(gp->reregister_in_progress, 0);
    // Three groups naming one STUN server: one entry.
    ASSERT_EQ(gp->stunserver_count, 1);
    EXPECT_STREQ(gp->stunservers[0].stunserver, "stun.x.test");
    EXPECT_FALSE(sip_reload_running());
}

TEST_F(SipReload, SecondReloadWhileOneRunsAnswersAtOnce)
{
    start("[p1]\nsip_stack=lan\nsip_proxy=10.9.0.1\nuser=a\nregister=yes\n");
    debug_lines lines({TARN});
    // The first reload waits for pgs_lock, which the test holds.
    pthread_mutex_lock(gp->locks->pgs_lock);
    std::thread first([] { reload_sip_peers(0); });
    for (int i = 0; i < 5000 && !sip_reload_running(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(sip_reload_running());
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(reload_sip_peers(0), 0); // would block on pgs_lock if it waited
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_TRUE(lines.has("Reregister already in progress!"));
    pthread_mutex_unlock(gp->locks->pgs_lock);
    first.join();
    EXPECT_FALSE(sip_reload_running());
    EXPECT_EQ(rec.unregistered.size(), 1u); // one reload ran, not two
}

TEST_F(SipReload, BrokenSipFileEndsWith99)
{
    start("[p1]\nsip_stack=lan\nsip_proxy=10.9.0.1\nuser=a\nregister=yes\n");
    write_sip("orphan = 1\n[p1]\n");
    EXPECT_EXIT(reload_sip_peers(0), ::testing::ExitedWithCode(99),
                "TARN EXITCODE 99: Failed reading sip config, check your file!");
}

} // namespace
