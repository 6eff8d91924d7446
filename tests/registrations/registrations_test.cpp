// Outgoing registrations built from SIP port groups, with recording doubles
// for call control's registration machine, timer callback and REGISTER, and
// for the SIP stack's handle calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pools.h"
#include "proxy_def.h"
#include "reg_test_reset.h"
#include "registrations.h"
#include "sip_groups_fixture.h"
#include "sip_stack.h"

namespace {

struct recorded {
    std::vector<std::pair<int, int>> machines; // (object index, initial state)
    std::vector<int> registers;                // object index of each REGISTER
    std::vector<std::pair<int, int>> runs;     // (object index, event)
    std::vector<int> resets;
    std::vector<std::string> handles; // "from|registrar|contact"
    std::vector<nua_handle_s *> unregistered, destroyed;
    std::vector<int> pauses;
} rec;

const statemachine_transition no_rows[1] = {};

statemachine *machine(void *priv, int state, statemachine_send_event send)
{
    rec.machines.emplace_back(((reg_object *)priv)->index, state);
    return statemachine_create(priv, state, no_rows, 0, send, nullptr);
}
int32_t send_event(void *, void *, int32_t) { return 0; }
int32_t timer_cb(int32_t, kv_timer *) { return 0; }
int run(reg_object *ro, int event, int)
{
    rec.runs.emplace_back(ro->index, event);
    return 0;
}
int send_register(reg_object *ro)
{
    rec.registers.push_back(ro->index);
    return 0;
}
// What call reset does with the records of a registration.
void reset(reg_object *ro)
{
    reg_test_release_records(ro);
    rec.resets.push_back(ro->index);
}

// Handles are distinct fake addresses: nothing dereferences them here.
char handle_space[64];
nua_handle_s *create_handle(nua_s *, reg_object *ro, const char *from, const char *registrar, const char *contact)
{
    rec.handles.push_back(std::string(from) + "|" + registrar + "|" + contact);
    return (nua_handle_s *)&handle_space[ro->index];
}
void unregister_double(nua_handle_s *nh) { rec.unregistered.push_back(nh); }
void destroy_double(nua_handle_s *nh) { rec.destroyed.push_back(nh); }
void pause_double(int ms) { rec.pauses.push_back(ms); }

class Registrations : public SipGroupsTest {
protected:
    static void SetUpTestSuite()
    {
        SipGroupsTest::SetUpTestSuite();
        ASSERT_EQ(timer_new(), 0);
        registration_hooks h = {machine, send_event, timer_cb, run, send_register, reset};
        reg_set_hooks(&h);
        reg_sip_ops = {create_handle, unregister_double, destroy_double, pause_double};
    }
    void SetUp() override
    {
        SipGroupsTest::SetUp();
        rec = recorded{};
        gp->sip_stacks[0].nua = (nua_s *)&handle_space; // a running LAN stack
    }
    void TearDown() override
    {
        reg_clear_outbound_registration_array();
        REGISTRATIONARRAYSIZE = 0;
        SipGroupsTest::TearDown();
    }
    // Builds the groups, sizes the array and starts the registrations.
    void start(const std::string &sip, int offset_ms)
    {
        ASSERT_EQ(build(sip), 0);
        gp->sip_stacks[0].registration_offset = offset_ms;
        reg_init_outbound_registration_array();
        ASSERT_EQ(register_users(), 0);
    }
    static reg_object *ro(int i) { return gp->registrations[i]; }
    static long timer_ms(int i)
    {
        const kv_timer *t = ro(i)->timer;
        return t ? t->tv.tv_sec * 1000 + t->tv.tv_usec / 1000 : -1;
    }
};

const char *two_groups = "[p1]\nsip_stack=lan\nsip_proxy=10.9.0.1\nuser=a,b,c\nregister=yes\nregrefresh_failed=30\n"
                         "[p2]\nsip_stack=lan\nsip_proxy=10.9.0.2\nuser=d,e,f\nregister=yes\nregrefresh_failed=30\n";

// One registration starts at once, the other five wait for their slot,
// one second apart.
TEST_F(Registrations, StaggeredOnTheirStack)
{
    start(two_groups, 1000);
    ASSERT_EQ(REGISTRATIONARRAYSIZE, 6);
    EXPECT_EQ(rec.registers, std::vector<int>{0});
    ASSERT_EQ(rec.machines.size(), 6u);
    EXPECT_EQ(rec.machines[0], std::make_pair(0, (int)SM_SIP_REGISTRATION_PENDING));
    EXPECT_EQ(timer_ms(0), 30000);
    for (int i = 1; i < 6; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rec.machines[i], std::make_pair(i, (int)SM_SIP_WAITING_FOR_SLOT));
        EXPECT_EQ(ro(i)->sm_state, (uint32_t)SM_SIP_WAITING_FOR_SLOT);
        EXPECT_EQ(timer_ms(i), 1000L * i);
        EXPECT_EQ(ro(i)->timer->interval_save, 100 * i); // 10 ms ticks
        EXPECT_EQ(ro(i)->timer->event, T_EVENT_REG_REFRESH);
        EXPECT_EQ(ro(i)->is_validated, -1);
        EXPECT_EQ(ro(i)->only_validate, 0);
    }
    EXPECT_EQ(gp->sip_stacks[0].registration_offset_iteration, 6);
    EXPECT_EQ(ro(4)->pgs, group(1));
    EXPECT_EQ(ro(4)->pgsu, group(1)->pgs_users[1]);
    EXPECT_STREQ(ro(4)->ro_active_ip, "10.0.0.5");
    EXPECT_TRUE(ro(4)->pd);
    EXPECT_GT(ro(4)->register_handle_create_time, 0);
    ASSERT_EQ(rec.handles.size(), 6u);
    EXPECT_EQ(rec.handles[4], std::string(group(1)->pgs_users[1]->pgsu_siptag_register_from_string) + "|" +
                                  group(1)->pgs_nutag_proxy_address_string + "|" +
                                  group(1)->pgs_users[1]->pgsu_contact_string);
}

TEST_F(Registrations, WithoutOffsetEveryUserRegistersAtOnce)
{
    start(two_groups, 0);
    EXPECT_EQ(rec.registers, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(rec.machines[i].second, (int)SM_SIP_REGISTRATION_PENDING);
        EXPECT_EQ(timer_ms(i), 30000);
    }
}

// A group that only validates starts its machine by the validation event;
// a group that neither registers nor validates has no registration.
TEST_F(Registrations, ValidationOnly)
{
    start("[v]\nsip_stack=lan\nsip_proxy=10.9.0.3\nuser=u1,u2\nvalidation=1\nkeepalive-interval=20\n"
          "[quiet]\nsip_stack=lan\nsip_proxy=10.9.0.4\nuser=z\n",
          0);
    ASSERT_EQ(REGISTRATIONARRAYSIZE, 2);
    EXPECT_TRUE(rec.registers.empty());
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(rec.machines[i].second, (int)SM_SIP_NOT_VALIDATED_BY_OPTIONS);
        EXPECT_EQ(ro(i)->only_validate, 1);
        EXPECT_EQ(ro(i)->is_validated, 0);
        EXPECT_EQ(timer_ms(i), 20000);
        EXPECT_EQ(ro(i)->timer->event, T_EVENT_NONREGISTRATION_VALIDATE_OPTIONS);
    }
    EXPECT_EQ(rec.runs, (std::vector<std::pair<int, int>>{{0, SM_WORD_VALIDATE_OPTIONS},
                                                         {1, SM_WORD_VALIDATE_OPTIONS}}));
}

// The end: a failed registration is only marked unregistered (no
// un-REGISTER, no pause); the others are cleaned up one offset apart;
// validations keep their state.
TEST_F(Registrations, UnregisterUsers)
{
    start(two_groups + std::string("[v]\nsip_stack=lan\nsip_proxy=10.9.0.3\nuser=w\nvalidation=1\n"), 500);
    statemachine_set_state(ro(2)->sm, SM_SIP_REGISTRATION_FAILED);
    ASSERT_EQ(unregister_users(), 0);
    for (int i = 0; i < 7; i++)
        EXPECT_EQ(ro(i)->timer, nullptr) << i;
    EXPECT_EQ(statemachine_get_state(ro(2)->sm), (int)SM_SIP_REGISTRATION_UNREGISTERED);
    EXPECT_EQ(statemachine_get_state(ro(3)->sm), (int)SM_SIP_REGISTRATION_CLEANUP);
    EXPECT_EQ(statemachine_get_state(ro(6)->sm), (int)SM_SIP_WAITING_FOR_SLOT); // validates only
    std::vector<nua_handle_s *> want;
    for (int i : {0, 1, 3, 4, 5})
        want.push_back(ro(i)->nh);
    EXPECT_EQ(rec.unregistered, want);
    EXPECT_EQ(rec.pauses, std::vector<int>(5, 500));
}

TEST_F(Registrations, ClearAndRemove)
{
    start(two_groups, 0);
    std::vector<reg_object *> before(gp->registrations, gp->registrations + 6);
    reg_remove_from_outbound_registration_array(1);
    ASSERT_EQ(REGISTRATIONARRAYSIZE, 5);
    EXPECT_EQ(rec.resets, std::vector<int>{1});
    EXPECT_EQ(rec.destroyed.size(), 1u);
    EXPECT_EQ(ro(0), before[0]);
    EXPECT_EQ(ro(1), before[2]);
    EXPECT_EQ(ro(4), before[5]);
    EXPECT_EQ(ro(1)->index, 2); // moved objects keep their index
    reg_remove_from_outbound_registration_array(5);
    reg_remove_from_outbound_registration_array(-1);
    EXPECT_EQ(REGISTRATIONARRAYSIZE, 5);

    reg_clear_outbound_registration_array();
    EXPECT_EQ(gp->registrations, nullptr);
    EXPECT_EQ(REGISTRATIONARRAYSIZE, 5); // the caller builds the array next
    EXPECT_EQ(rec.resets.size(), 6u);
    EXPECT_EQ(rec.destroyed.size(), 6u);
    // Scans of the cleared array find nothing, and nothing breaks.
    EXPECT_EQ(get_free_registration_handle(), nullptr);
    EXPECT_EQ(unregister_users(), 0);
    reg_remove_from_outbound_registration_array(0);
    reg_clear_outbound_registration_array();

    reg_init_outbound_registration_array();
    EXPECT_EQ(REGISTRATIONARRAYSIZE, 6);
    EXPECT_NE(get_free_registration_handle(), nullptr);
}

TEST_F(Registrations, RegistrarUrl)
{
    start("[d]\nsip_stack=lan\nsip_proxy=10.9.0.1:77\nsip_domain=d.test\nuser=a\nregister=yes\n"
          "[e]\nsip_stack=lan\nsip_proxy=10.9.0.1\nsip_domain=e.test\nuser=b\nregister=yes\n",
          0);
    char url[64];
    EXPECT_EQ(format_registrar_url_string(ro(0), url, sizeof url, 1), 13);
    EXPECT_STREQ(url, "sip:d.test:77");
    format_registrar_url_string(ro(0), url, sizeof url, 0);
    EXPECT_STREQ(url, "d.test:77");
    group(1)->pgs_sip_proxy_port = 0;
    format_registrar_url_string(ro(1), url, sizeof url, 1);
    EXPECT_STREQ(url, "sip:e.test");
    char small[6];
    EXPECT_EQ(format_registrar_url_string(ro(0), small, sizeof small, 1), 5);
    EXPECT_STREQ(small, "sip:d");
}

} // namespace
