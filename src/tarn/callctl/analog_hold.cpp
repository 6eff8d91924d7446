// Hold, toggle and transfer of an FXS telephone. While a call is held the
// port carries two call objects linked as buddies: the one without the
// line has the port's suspended bit, the one that talks has the timeslot.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "analog_callctl.h"
#include "analog_callctl_internal.h"
#include "analogctl.h"
#include "application.h"
#include "call_object.h"
#include "call_configuration.h"
#include "call_reset.h"
#include "line_bringup.h"
#include "log.h"
#include "log_backend.h"
#include "media_start.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "sdp_offer_answer.h"
#include "sip_to_sip.h"
#include "sm_run.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "state_tables.h"
#include "statemachine.h"

// The SIP stack's headers last: they define macros named like our functions.
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/soa_tag.h>
#include <sofia-sip/su_alloc.h>
#include <sofia-sip/url.h>

namespace {

call_object *call_of(void *p) { return (call_object *)p; }

// The other call of the port, when the link holds both ways.
call_object *buddy_of(const call_object *co)
{
    call_object *b = co->analog_on_hold_buddy;
    return b && b->analog_on_hold_buddy == co ? b : nullptr;
}

void unlink_buddies(call_object *co, call_object *b)
{
    co->analog_on_hold_buddy = nullptr;
    if (b)
        b->analog_on_hold_buddy = nullptr;
}

void link_buddies(call_object *a, call_object *b)
{
    a->analog_on_hold_buddy = b;
    b->analog_on_hold_buddy = a;
}

void set_state(call_object *co, uint32_t state)
{
    if (co->sm)
        statemachine_set_state(co->sm, (int32_t)state);
    co->sm_state = state;
}

// A re-INVITE on the call's current leg that puts the far end on hold
// ("*") or takes it back (""). False without a dialog.
bool send_hold_reinvite(call_object *co, const char *hold)
{
    call_leg_sip *leg = co->cl_sip;
    if (!leg || !leg->nh)
        return false;
    char sdp[4096] = "";
    create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, leg->rtp_local_port, 1);
    co->f.sdp_offer_sent = 1;
    nua_invite(leg->nh, SOATAG_HOLD(hold), SOATAG_USER_SDP_STR(sdp), SOATAG_ADDRESS(sdp_origin_address(leg)),
               TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_I_INVITE (%s)", cinfo(co), hold[0] ? "hold" : "retrieve");
    return true;
}

// The talking side moves from co to b: b takes the timeslot and the bare
// port number, co keeps the port suspended.
void switch_over(call_object *co, call_object *b)
{
    analog_port_suspend(co);
    b->analog_port = analog_port_number(b->analog_port);
    b->tdm_logical_timeslot = co->tdm_logical_timeslot;
    co->tdm_logical_timeslot = -1;
}

int transfer_method(const call_object *co)
{
    const call_leg_sip *leg = co ? co->cl_sip : nullptr;
    const port_group_sip *g = leg && leg->pd && leg->pd->name ? pg_get_port_group_sip_by_name(leg->pd->name, nullptr)
                                                            : nullptr;
    return g ? g->call_transfer_method : 0;
}

// Transfer by REFER: the held call's far end is asked to call the talking
// call's far end, replacing that dialog.
statemachine_handle_retval transfer_by_refer(call_object *co, call_object *held)
{
    call_leg_sip *talking = co->cl_sip, *leg = held->cl_sip;
    if (!talking || !talking->nh || !leg || !leg->nh) {
        LOGD_CALL(ANALOG, 1, co, "transfer without both dialogs, the held call is ended");
        sm_sip_send_nua_bye(held, nullptr, 0, 0);
        return {SM_DESTROYING, SM_NO_EVENT};
    }
    su_home_t *home = (su_home_t *)su_home_new(sizeof(su_home_t));
    if (!home)
        return {SM_DESTROYING, SM_NO_EVENT};
    sip_replaces_t *replaces = nua_handle_make_replaces(talking->nh, home, 0);
    char const *query = replaces ? sip_headers_as_url_query(home, SIPTAG_REPLACES(replaces), TAG_END()) : nullptr;
    sip_to_t const *remote = nua_handle_remote(talking->nh);
    char const *target = remote ? url_as_string(home, remote->a_url) : nullptr;
    sip_refer_to_t *refer_to =
        target && query ? sip_refer_to_format(home, "<%s?%s>", target, query) : nullptr;
    call_stop_rtp(co, 1);
    call_stop_rtp(held, 1);
    if (refer_to) {
        nua_refer(leg->nh, SIPTAG_REFER_TO(refer_to), TAG_IF(replaces, SIPTAG_REPLACES(replaces)), TAG_END());
        LOGM(SIP, 17, "%s S SEND: NUA_REFER", cinfo(held));
    } else {
        LOGD_CALL(ANALOG, 1, co, "no Refer-To for the transfer, the held call is ended");
        sm_sip_send_nua_bye(held, nullptr, 0, 0);
    }
    su_home_unref(home);
    return {SM_ANALOG_FXS_CALL_REFERRING, SM_NO_EVENT};
}

// A leg of an analog call handed to the joined call: its media identity
// and dialog move over, the old call keeps an empty leg.
void hand_over_leg(call_leg_sip *from, call_leg_sip *to, call_object *nc)
{
    sip_transfer_copy_over_clsip(from, to);
    to->nh = from->nh;
    from->nh = nullptr;
    if (to->nh)
        nua_handle_bind(to->nh, (nua_hmagic_t *)nc);
}

// Transfer on the gateway itself: a new SIP-to-SIP call takes both SIP
// legs and re-INVITEs them toward each other, the first leg first.
statemachine_handle_retval transfer_locally(call_object *co, call_object *held)
{
    co->f.dummy_rtp = 0;
    held->f.dummy_rtp = 0;
    call_object *nc = get_free_operation_handle(1);
    call_leg_sip *in = nc ? get_new_sip_call_leg() : nullptr;
    call_leg_sip *out = in ? get_new_sip_call_leg() : nullptr;
    if (nc) {
        nc->cl_sip_in = in; // the call object's reset gives them back
        nc->cl_sip_out = out;
    }
    if (!nc || !in || !out || !co->cl_sip || !held->cl_sip) {
        LOGD_CALL(ANALOG, 0, co, "CRITICAL: no call object or legs for the local transfer, both calls end");
        if (nc)
            reset_op(nc); // its legs go with it
        sm_sip_send_nua_bye(held, nullptr, 0, 0);
        sm_sip_send_nua_bye(co, nullptr, 0, 0);
        set_state(held, SM_DISMANTLING);
        add_sm_task(held, sm_timer(T_EVENT_CLEANUP));
        return {SM_DESTROYING, SM_NO_EVENT};
    }
    set_state(held, SM_DISMANTLING);
    add_sm_task(held, sm_timer(T_EVENT_CLEANUP));
    nc->callinfo = CI_SIP_TO_SIP;
    nc->cdr.from = TECH_SIP;
    nc->cdr.to = TECH_SIP;
    nc->cdr.call_start = time(nullptr);
    cc_clone_call_configuration(&nc->cc, &co->cc);
    nc->cl_sip = in;
    hand_over_leg(co->cl_sip, in, nc);
    hand_over_leg(held->cl_sip, out, nc);
    in->index = 1;
    out->index = 2;
    call_stop_rtp(co, 1);
    call_stop_rtp(held, 1);
    nc->sm = create_statemachine_sip_to_sip(nc, SM_SIP_INVITE_TRANSFER_REINVITE_1, nullptr);
    nc->sm_state = SM_SIP_INVITE_TRANSFER_REINVITE_1;
    codec_settings only{};
    cc_create_codec_settings_by_using_codec(&only, in->using_payload);
    char sdp[4096] = "";
    create_sdp_string(nc, sdp, sizeof sdp, &only, in->rtp_local_port, 1);
    nc->f.sdp_offer_sent = 1;
    if (in->nh)
        nua_invite(in->nh, SOATAG_HOLD(""), SOATAG_USER_SDP_STR(sdp), SOATAG_ADDRESS(sdp_origin_address(in)),
                   TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_I_INVITE", cinfo(nc));
    return {SM_DESTROYING, SM_NO_EVENT};
}

} // namespace

SM_ACTION(sm_fxs_send_hold_reinvite)
{
    (void)arg, (void)state, (void)event;
    return send_hold_reinvite(call_of(p), "*") ? ANALOG_ROW : ANALOG_KEEP;
}

SM_ACTION(sm_fxs_send_retrieve_reinvite)
{
    (void)arg, (void)state, (void)event;
    return send_hold_reinvite(call_of(p), "") ? ANALOG_ROW : ANALOG_KEEP;
}

SM_ACTION(sm_fxs_keep_state_if_no_hold_buddy)
{
    (void)arg, (void)state, (void)event;
    return buddy_of(call_of(p)) ? ANALOG_ROW : ANALOG_KEEP;
}

SM_ACTION(sm_fxs_send_nua_cancel_and_terminate_if_no_hold_buddy)
{
    call_object *co = call_of(p);
    if (buddy_of(co))
        return ANALOG_ROW;
    sm_send_nua_cancel(co, arg, state, event);
    return {SM_DESTROYING, SM_NO_EVENT};
}

SM_ACTION(sm_fxs_if_hold_enter_hold_call_failed_state)
{
    (void)arg, (void)state, (void)event;
    return buddy_of(call_of(p)) ? statemachine_handle_retval{SM_ANALOG_FXS_CALL_HOLD_CALL_FAILED, SM_NO_EVENT}
                                : ANALOG_ROW;
}

SM_ACTION(sm_afxs_if_analog_buddy_go_to_hold_failed_state)
{
    return sm_fxs_if_hold_enter_hold_call_failed_state(p, arg, state, event);
}

SM_ACTION(sm_fxs_hold_buddy_bye)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    call_object *b = buddy_of(co);
    if (!b)
        return ANALOG_ROW;
    unlink_buddies(co, b);
    sm_sip_send_nua_bye(b, nullptr, 0, 0);
    return ANALOG_ROW;
}

SM_ACTION(sm_fxs_hold_buddy_clean)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    call_object *b = buddy_of(co);
    if (!b)
        return ANALOG_ROW;
    unlink_buddies(co, b);
    uint32_t bs = b->sm ? (uint32_t)statemachine_get_state(b->sm) : b->sm_state;
    if (bs == SM_ANALOG_FXS_HOLD_IN_PROGRESS)
        sm_send_nua_cancel(b, nullptr, 0, 0);
    else if (bs == SM_ANALOG_FXS_WAIT_FOR_DIALING && b->sm)
        do_statemachine_run(b, sm_analog(ANALOG_EVENT_DISMANTLE), 0);
    return ANALOG_ROW;
}

SM_ACTION(sm_fxs_hold_call_in_progress)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    call_object *b = buddy_of(co);
    if (!b)
        return ANALOG_ROW;
    int port = analog_port_number(co->analog_port ? co->analog_port : b->analog_port);
    if (gp->analog_info && port >= 1 && port < ANALOG_INFO_PORTS)
        gp->analog_info->in_use[port] = 0;
    co->analog_port = 0;
    b->analog_port = 0;
    call_stop_rtp(co, 1);
    co->tdm_logical_timeslot = -1;
    return {SM_ANALOG_FXS_HOLD_IN_PROGRESS, SM_NO_EVENT};
}

SM_ACTION(sm_fxs_hold_handover_port_and_tdm)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    call_object *b = buddy_of(co);
    if (!b)
        return ANALOG_ROW;
    unlink_buddies(co, b);
    call_stop_rtp(co, 1);
    b->analog_port = analog_port_number(co->analog_port ? co->analog_port : b->analog_port);
    b->tdm_logical_timeslot = co->tdm_logical_timeslot;
    co->tdm_logical_timeslot = -1;
    co->analog_port = 0;
    set_state(b, SM_ANALOG_FXS_CALL_ON_RETRIEVE_REINVITE);
    send_hold_reinvite(b, "");
    return ANALOG_ROW;
}

SM_ACTION(sm_fxs_on_hold_init_new_fxs2sip_call_or_switch_over)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    LOGD_CALL(ANALOG, 5, co, "here");
    if (call_object *b = buddy_of(co)) {
        switch_over(co, b); // toggle: the held call talks again
        if (b->sm)
            do_statemachine_run(b, sm_analog(ANALOG_EVENT_FLASHHOOK), 0);
        return ANALOG_ROW;
    }
    int port = analog_port_number(co->analog_port);
    analog_port_suspend(co);
    co->tdm_logical_timeslot = -1;
    call_object *second = nullptr;
    char oad[64];
    snprintf(oad, sizeof oad, "%s", co->analog_oad);
    if (init_incoming_analog_call(port, ANALOG_EVENT_FLASHHOOK, oad, &second, 1) == 0 && second)
        link_buddies(co, second);
    else
        LOGD_CALL(ANALOG, 1, co, "no second call on port %i while this one is held", port);
    return ANALOG_ROW;
}

SM_ACTION(sm_fsx_check_if_hold)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    LOGD_CALL(ANALOG, 5, co, "here4");
    call_object *held = buddy_of(co);
    if (!held)
        return ANALOG_ROW;
    if (co->analog_port) {
        int port = analog_port_number(co->analog_port);
        if (gp->analog_info && port >= 1 && port < ANALOG_INFO_PORTS)
            gp->analog_info->in_use[port] = 0;
        co->analog_port = 0;
        held->analog_port = 0;
        set_state(held, SM_ANALOG_FXS_CALL_REFERRING);
    }
    unlink_buddies(co, held);
    if (transfer_method(co) == 1 || transfer_method(held) == 1)
        return transfer_locally(co, held);
    return transfer_by_refer(co, held);
}
