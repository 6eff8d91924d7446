// CANCEL of a call's outgoing INVITE toward a second SIP stack on
// 127.0.0.1: the far end sees the Reason header of the call, and the call
// has let go of its handle.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "application.h"
#include "conf_root.h"
#include "call_object.h"
#include "call_reset.h"
#include "global_lock.h"
#include "misdn_bchannel.h"
#include "pools.h"
#include "state_table_actions.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/su.h>
#include <sofia-sip/su_wait.h>

namespace {

struct far_end {
    bool invited = false;
    bool cancelled = false;
    std::string reason;
    bool shut = false;
};

void far_event(nua_event_t event, int status, char const *, nua_t *, nua_magic_t *magic, nua_handle_t *nh, nua_hmagic_t *,
               sip_t const *sip, tagi_t[])
{
    far_end *f = (far_end *)(void *)magic;
    if (event == nua_i_invite) {
        f->invited = true;
        nua_respond(nh, 180, "Ringing", TAG_END());
    } else if (event == nua_i_cancel) {
        f->cancelled = true;
        if (sip && sip->sip_reason) {
            char buf[256];
            sip_header_e(buf, sizeof buf, (sip_header_t const *)sip->sip_reason, 0);
            f->reason = buf;
        }
    } else if (event == nua_r_shutdown && status >= 200) { // 1xx: still shutting down
        f->shut = true;
    }
}

bool near_shut = false;
void near_event(nua_event_t event, int status, char const *, nua_t *, nua_magic_t *, nua_handle_t *, nua_hmagic_t *,
                sip_t const *, tagi_t[])
{
    if (event == nua_r_shutdown && status >= 200)
        near_shut = true;
}

TEST(SipCancel, CancelCarriesTheReasonHeader)
{
    application_create();
    init_locks();
    ASSERT_EQ(create_call_object_pools(2), 0);
    su_init();
    su_root_t *root = su_root_create(nullptr);
    ASSERT_NE(root, nullptr);
    int port = free_local_port();
    ASSERT_GT(port, 0);
    std::string far_url = "sip:127.0.0.1:" + std::to_string(port);
    far_end f;
    nua_t *far = nua_create(root, far_event, (nua_magic_t *)&f, NUTAG_URL(far_url.c_str()), TAG_END());
    nua_t *near = nua_create(root, near_event, nullptr, NUTAG_URL("sip:127.0.0.1:*"), TAG_END());
    ASSERT_NE(far, nullptr);
    ASSERT_NE(near, nullptr);
    auto run_until = [&](const bool &flag) {
        for (int i = 0; i < 500 && !flag; i++)
            su_root_step(root, 10);
        return flag;
    };

    call_object *co = get_free_operation_handle(1);
    ASSERT_NE(co, nullptr);
    co->callinfo = CI_ISDN_TO_SIP;
    misdn_bchannel bc{};
    bc.cause = 16;
    co->bc = &bc;
    call_leg_sip leg{};
    co->cl_sip = co->cl_sip_out = &leg;
    leg.nh = nua_handle(near, co, SIPTAG_TO_STR(("<sip:far@127.0.0.1:" + std::to_string(port) + ">").c_str()),
                        TAG_END());
    nua_invite(leg.nh, NUTAG_URL(("sip:far@127.0.0.1:" + std::to_string(port)).c_str()), NUTAG_MEDIA_ENABLE(0),
               TAG_END());
    ASSERT_TRUE(run_until(f.invited));
    {
        lock_hold hold(&lock_manager::global_lock);
        sm_send_nua_cancel(co, nullptr, 0, 0);
    }
    EXPECT_EQ(leg.nh, nullptr) << "the call let go of its handle";
    ASSERT_TRUE(run_until(f.cancelled));
    EXPECT_EQ(f.reason, "Reason: Q.850;cause=16;text=\"Normal call clearing\"\r\n");

    co->bc = nullptr;
    co->cl_sip = co->cl_sip_out = nullptr;
    {
        lock_hold hold(&lock_manager::global_lock);
        reset_op(co);
    }
    nua_shutdown(near);
    run_until(near_shut);
    nua_shutdown(far);
    run_until(f.shut);
    nua_destroy(near);
    nua_destroy(far);
    su_root_destroy(root);
    su_deinit();
}

} // namespace
