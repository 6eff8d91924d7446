// The queue of SIP handles whose destruction waits for the answer to their
// BYE, with handles of a real SIP stack on 127.0.0.1.
#include <gtest/gtest.h>

#include <sofia-sip/nua.h>
#include <sofia-sip/su.h>
#include <sofia-sip/su_wait.h>

#include <ctime>
#include <set>
#include <vector>

#include "application.h"
#include "call_object.h"
#include "call_reset.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "state_table_actions.h"
#include "pools.h"
#include "sm_tasks.h"

namespace {

std::set<nua_handle_s *> destroyed;

void destroy_and_note(nua_handle_s *nh)
{
    destroyed.insert(nh);
    nua_handle_destroy(nh);
}

class NhQueue : public ::testing::Test {
protected:
    static void on_event(nua_event_t event, int status, char const *, nua_t *, nua_magic_t *magic, nua_handle_t *,
                         nua_hmagic_t *, sip_t const *, tagi_t[])
    {
        if (event == nua_r_shutdown && status >= 200) // 1xx: still shutting down
            static_cast<NhQueue *>((void *)magic)->shut_ = true;
    }
    void SetUp() override
    {
        application_create();
        init_locks();
        su_init();
        root_ = su_root_create(nullptr);
        ASSERT_NE(root_, nullptr);
        nua_ = nua_create(root_, on_event, this, NUTAG_URL("sip:127.0.0.1:*"), TAG_END());
        ASSERT_NE(nua_, nullptr);
        destroyed.clear();
        nh_destroy_fn = destroy_and_note;
    }
    void TearDown() override
    {
        nh_destroy_fn = nua_handle_destroy;
        nua_shutdown(nua_);
        for (int i = 0; i < 200 && !shut_; i++)
            su_root_step(root_, 10);
        nua_destroy(nua_);
        su_root_destroy(root_);
        su_deinit();
        free(gp->nh_dismantler);
        gp->nh_dismantler = nullptr;
    }
    nua_handle_s *handle() { return nua_handle(nua_, nullptr, SIPTAG_TO_STR("sip:x@127.0.0.1"), TAG_END()); }
    nua_handle_dismantler *queue() { return (nua_handle_dismantler *)gp->nh_dismantler; }

    su_root_t *root_ = nullptr;
    nua_t *nua_ = nullptr;
    bool shut_ = false;
};

TEST_F(NhQueue, SixtyFifthHandleIsDestroyedAtOnce)
{
    std::vector<nua_handle_s *> parked;
    for (int i = 0; i < NH_DESTROY_SLOTS; i++) {
        parked.push_back(handle());
        nua_handle_insert_into_destroy_queue(parked.back());
    }
    EXPECT_EQ(queue()->count, 64);
    EXPECT_TRUE(destroyed.empty());
    nua_handle_s *extra = handle();
    nua_handle_insert_into_destroy_queue(extra);
    EXPECT_EQ(destroyed, std::set<nua_handle_s *>{extra});
    EXPECT_EQ(queue()->count, 64);

    // The answer to a parked handle's BYE frees its slot.
    EXPECT_EQ(nua_handle_destroy_in_destroy_queue(parked[10]), 0);
    EXPECT_EQ(nua_handle_destroy_in_destroy_queue(parked[10]), -1);
    EXPECT_EQ(queue()->count, 63);
    EXPECT_EQ(queue()->destroy_nh_list[10], nullptr);

    // Every handle 3 s old goes at the clean-up.
    for (time_t &t : queue()->destroy_times)
        t -= 3;
    nua_handle_cleanup_queue();
    EXPECT_EQ(queue()->count, 0);
    EXPECT_EQ(destroyed.size(), 65u);
}

TEST_F(NhQueue, CleanupKeepsHandlesTwoSecondsOld)
{
    nua_handle_s *young = handle(), *old = handle();
    nua_handle_insert_into_destroy_queue(young);
    nua_handle_insert_into_destroy_queue(old);
    queue()->destroy_times[0] -= 2;
    queue()->destroy_times[1] -= 3;
    nua_handle_cleanup_queue();
    EXPECT_EQ(destroyed, std::set<nua_handle_s *>{old});
    EXPECT_EQ(queue()->count, 1);
    EXPECT_EQ(queue()->destroy_nh_list[0], young);
    EXPECT_EQ(queue()->destroy_nh_list[1], nullptr);
    queue()->destroy_times[0] -= 1;
    nua_handle_cleanup_queue();
    EXPECT_EQ(queue()->count, 0);
}

// A call's BYE with byeauth 2 parks its handle while a slot is free; with
// all 64 taken the handle is destroyed at once. Either way the call lets go
// of it.
TEST_F(NhQueue, ByeWithByeauth2ParksTheHandleUntilTheQueueIsFull)
{
    ASSERT_EQ(create_call_object_pools(2), 0);
    experimental_options eo{};
    eo.eo_byeauth = 2;
    gp->experimental_options = &eo;
    call_object *co = get_free_operation_handle(1);
    ASSERT_NE(co, nullptr);
    co->callinfo = CI_SIP_TO_ISDN;
    call_leg_sip leg{};
    co->cl_sip = co->cl_sip_in = &leg;
    auto bye = [&] {
        leg.nh = handle();
        nua_handle_s *nh = leg.nh;
        lock_hold hold(&lock_manager::global_lock);
        sm_sip_send_nua_bye(co, nullptr, 0, 0);
        EXPECT_EQ(leg.nh, nullptr);
        return nh;
    };
    for (int i = 0; i < NH_DESTROY_SLOTS - 1; i++)
        nua_handle_insert_into_destroy_queue(handle());
    nua_handle_s *parked = bye();
    EXPECT_EQ(destroyed.count(parked), 0u);
    EXPECT_EQ(queue()->count, NH_DESTROY_SLOTS);
    nua_handle_s *at_once = bye();
    EXPECT_EQ(destroyed.count(at_once), 1u) << "the 65th handle";
    EXPECT_EQ(queue()->count, NH_DESTROY_SLOTS);

    co->cl_sip = co->cl_sip_in = nullptr;
    gp->experimental_options = nullptr;
    lock_hold hold(&lock_manager::global_lock);
    reset_op(co);
}

} // namespace
