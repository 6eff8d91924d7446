// T.38 and G.711 re-INVITEs and the T.38 relay between two SIP legs.
#include "t38.h"

#include <cstdio>
#include <cstring>

#include "application.h"
#include "call_info.h"
#include "call_object.h"
#include "causes.h"
#include "dialplan.h"
#include "log.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "rtp_ports.h"
#include "sdp_offer_answer.h"
#include "sip_request_order.h"
#include "sip_trace.h"
#include "sm_tasks.h"
#include "state_table_actions.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/soa_tag.h>
#include <sofia-sip/su_tag.h>

namespace {

const statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};
const statemachine_handle_retval HANDLED = {SM_KEEP_STATE, SM_NO_EVENT};

enum { SDP_TEXT = 1024, CONTACT_TEXT = 512 };

void stack_reinvite(call_object *co, call_leg_sip *leg, const char *sdp, const char *contact)
{
    sip_send_reinvite(co, leg, sdp, contact);
}

void stack_respond(call_object *, call_leg_sip *leg, int status, const char *phrase, const char *sdp)
{
    if (!leg || !leg->nh)
        return;
    if (sdp)
        nua_respond(leg->nh, status, phrase, SOATAG_USER_SDP_STR(sdp), SOATAG_ADDRESS(sdp_origin_address(leg)),
                    SOATAG_RTP_SELECT(2), TAG_END());
    else
        nua_respond(leg->nh, status, phrase, TAG_END());
}

const t38_sip_ops stack_ops = {stack_reinvite, stack_respond};
t38_sip_ops ops = stack_ops;

call_leg_sip *partner_of(const call_object *co, const call_leg_sip *leg)
{
    return leg == co->cl_sip_in ? co->cl_sip_out : co->cl_sip_in;
}

void log_reinvite(call_object *co, const call_leg_sip *leg)
{
    LOGM(SIP, 17, "%s S SEND: NUA_INVITE", cinfo(co));
    LOGM(SIP, 18, "%s S SEND: NUA_I_INVITE from %s", cinfo(co), leg->sip_origin_address);
    LOGM(SIP, 18, "%s S SEND: NUA_I_INVITE to %s", cinfo(co), leg->sip_outbound_address);
}

// The Contact of the SIP group of the dial plan line's inbound peer.
void inbound_group_contact(const call_object *co, char *buf, size_t size)
{
    const dialplan_element *dp = co->dp;
    const char *group = dp && dp->pd_in && dp->pd_in->name ? dp->pd_in->name : nullptr;
    pg_sip_get_contact_string_by_pgs_name(group, buf, size);
}

void send_t38_offer(call_object *co, call_leg_sip *leg, const char *contact)
{
    char sdp[SDP_TEXT];
    t38_offer_text(sdp, sizeof sdp, leg->using_ip, leg->rtp_local_port, co->cc.t38_max_rate);
    LOGD_CALL(SIP, 5, co, "SENDING T38REINVITE:\n%s", sdp);
    co->f.sdp_offer_sent = 1;
    ops.reinvite(co, leg, sdp, contact);
    log_reinvite(co, leg);
}

} // namespace

bool s2s_in_lan_t38_range(int port)
{
    const RTP_ports *r = gp ? gp->rtp_ports : nullptr;
    return r && r->lan_t38stop > 0 && port >= r->lan_t38start && port <= r->lan_t38stop;
}

void s2s_take_t38_port(call_object *co, call_leg_sip *leg)
{
    if (leg->rtp_local_port_unreleased)
        release_rtp_port(leg->rtp_local_port_unreleased);
    int present = leg->rtp_local_port;
    leg->rtp_local_port_unreleased = present;
    leg->rtp_local_port = 0;
    if (get_free_passthrough_port(co, leg))
        return;
    // No T.38 pool on the leg's stack and none free elsewhere: port 0 in
    // the SDP would refuse the stream, so T.38 goes on the present port.
    leg->rtp_local_port = present;
    leg->rtp_local_port_unreleased = 0;
    LOGD_CALL(SIP, 3, co, "no free T.38 passthrough port, T.38 stays on port %i", present);
}

int t38_offer_text(char *buf, size_t size, const char *ip, int port, int max_rate)
{
    return snprintf(buf, size,
                    "c=IN IP4 %s\r\nm=image %i udptl t38\r\na=T38FaxVersion:0\r\na=T38MaxBitRate:%i\r\n"
                    "a=T38FaxRateManagement:transferredTCF\r\na=T38FaxMaxBuffer:200\r\na=T38FaxMaxDatagram:200\r\n"
                    "a=T38FaxUdpEC:t38UDPRedundancy\r\n",
                    ip ? ip : "", port, max_rate);
}

int g711_offer_text(char *buf, size_t size, const char *ip, int port)
{
    return snprintf(buf, size, "c=IN IP4 %s\r\nm=audio %i RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n", ip ? ip : "", port);
}

// ---- calls between a line and SIP ----------------------------------------------------

SM_ACTION(sm_sip_send_t38_reinvite)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    if (co->f.t38_invite_sent || co->f.t38_invite_received || !leg)
        return ROW;
    char contact[CONTACT_TEXT];
    bool with_contact = co->callinfo == CI_SIP_TO_ISDN || co->callinfo == CI_SIP_TO_ANALOG ||
                        co->callinfo == CI_SIP_TO_GSM || co->callinfo == CI_SIP_TO_CAS;
    if (with_contact)
        inbound_group_contact(co, contact, sizeof contact);
    send_t38_offer(co, leg, with_contact && contact[0] ? contact : nullptr);
    co->f.t38_invite_sent = 1;
    return ROW;
}

SM_ACTION(sm_sip_send_g711_reinvite)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    if (!leg)
        return ROW;
    char sdp[SDP_TEXT];
    g711_offer_text(sdp, sizeof sdp, leg->using_ip, leg->rtp_local_port);
    LOGD_CALL(SIP, 5, co, "SENDING G711_REINVITE:\n%s", sdp);
    co->f.sdp_offer_sent = 1;
    ops.reinvite(co, leg, sdp, nullptr);
    log_reinvite(co, leg);
    return ROW;
}

// ---- SIP-to-SIP relay -----------------------------------------------------------------

void s2s_send_t38_reinvite(call_object *co, call_leg_sip *leg)
{
    if (!co || !leg)
        return;
    if (!s2s_in_lan_t38_range(leg->rtp_local_port))
        s2s_take_t38_port(co, leg);
    char contact[CONTACT_TEXT];
    bool with_contact = co->cl_sip && co->cl_sip == co->cl_sip_in;
    if (with_contact)
        inbound_group_contact(co, contact, sizeof contact);
    send_t38_offer(co, leg, with_contact && contact[0] ? contact : nullptr);
    co->f.t38_invite_sent = 1;
}

SM_ACTION(sm_s2s_send_t38_reinvite)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (co->f.t38_invite_sent)
        return ROW;
    for (call_leg_sip *leg : {co->cl_sip_in, co->cl_sip_out}) {
        if (!leg)
            continue;
        s2s_take_t38_port(co, leg);
        send_t38_offer(co, leg, nullptr);
    }
    co->f.t38_invite_sent = 1;
    return ROW;
}

SM_ACTION(sm_s2s_send_t38_reinvite_on_first_leg)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (!co->f.t38_invite_sent)
        s2s_send_t38_reinvite(co, co->cl_sip_in);
    return ROW;
}

SM_ACTION(sm_s2s_send_t38_reinvite_on_second_leg)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (!co->f.t38_invite_sent)
        s2s_send_t38_reinvite(co, co->cl_sip_out);
    return ROW;
}

void s2s_save_leg_media(const call_leg_sip *leg, s2s_leg_media *m)
{
    m->rtp_local_port = leg->rtp_local_port;
    m->rtp_local_port_unreleased = leg->rtp_local_port_unreleased;
    m->rtp_remote_port = leg->rtp_remote_port;
    snprintf(m->rtp_remote_ip, sizeof m->rtp_remote_ip, "%s", leg->rtp_remote_ip);
    m->using_payload = leg->using_payload;
    m->using_codec = leg->using_codec;
    m->pt_telephony_event = leg->pt_telephony_event;
    m->sdp_media_offerings_count = leg->sdp_media_offerings_count;
    m->sdp_media_offerings_accepted_index = leg->sdp_media_offerings_accepted_index;
    static_assert(sizeof m->sdp_media_offerings_proto == sizeof leg->sdp_media_offerings_proto, "same lines");
    memcpy(m->sdp_media_offerings_proto, leg->sdp_media_offerings_proto, sizeof m->sdp_media_offerings_proto);
    memcpy(m->sdp_media_offerings_type, leg->sdp_media_offerings_type, sizeof m->sdp_media_offerings_type);
}

void s2s_restore_leg_media(call_leg_sip *leg, const s2s_leg_media *m)
{
    if (leg->rtp_local_port && leg->rtp_local_port != m->rtp_local_port)
        release_rtp_port(leg->rtp_local_port);
    leg->rtp_local_port = m->rtp_local_port;
    leg->rtp_local_port_unreleased = 0;
    leg->rtp_remote_port = m->rtp_remote_port;
    snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", m->rtp_remote_ip);
    leg->using_payload = m->using_payload;
    leg->using_codec = m->using_codec;
    leg->pt_telephony_event = m->pt_telephony_event;
    leg->sdp_media_offerings_count = m->sdp_media_offerings_count;
    leg->sdp_media_offerings_accepted_index = m->sdp_media_offerings_accepted_index;
    memcpy(leg->sdp_media_offerings_proto, m->sdp_media_offerings_proto, sizeof leg->sdp_media_offerings_proto);
    memcpy(leg->sdp_media_offerings_type, m->sdp_media_offerings_type, sizeof leg->sdp_media_offerings_type);
}

SM_ACTION(sm_s2s_save_media_before_offer)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (!co->s2s_t38_hold.leg && co->cl_sip)
        s2s_save_leg_media(co->cl_sip, &co->s2s_t38_hold.leg_before);
    return ROW;
}

SM_ACTION(sm_s2s_hold_t38_reinvite)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    call_leg_sip *other = leg ? partner_of(co, leg) : nullptr;
    s2s_t38_hold_info &h = co->s2s_t38_hold;
    if (!leg || !other || h.leg || !co->f.sdp_offer_received || co->f.t38_invite_sent)
        return ROW;
    if (leg->using_payload != SDP_PAYLOAD_T38 || h.leg_before.using_payload == SDP_PAYLOAD_T38 ||
        other->using_payload == SDP_PAYLOAD_T38)
        return ROW;
    s2s_save_leg_media(other, &h.other_before);
    h.leg = leg;
    co->f.sdp_offer_received = 0;
    co->f.sip_reinvite_on_active_call = 0;
    leg->sip_answer = SIP_ANSWER_NOT_NEEDED;
    add_sm_task(co, sm_timer(leg == co->cl_sip_in ? T_EVENT_T38_REINVITE_ON_SECOND_LEG
                                                  : T_EVENT_T38_REINVITE_ON_FIRST_LEG));
    LOGD_CALL(SIP, 5, co, "holding T.38 re-INVITE until the other leg answered");
    return HANDLED;
}

void s2s_answer_held_t38_reinvite(call_object *co, int accept)
{
    call_leg_sip *held = co ? co->s2s_t38_hold.leg : nullptr;
    if (!held)
        return;
    co->s2s_t38_hold.leg = nullptr;
    call_leg_sip *active = co->cl_sip;
    co->cl_sip = held;
    if (accept) {
        char sdp[SDP_TEXT];
        create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, held->rtp_local_port, 0);
        co->f.first_sdp_answered = 1;
        ops.respond(co, held, 200, "SIP_CALL_ACTIVE", sdp);
    } else {
        s2s_restore_leg_media(held, &co->s2s_t38_hold.leg_before);
        int status = 0;
        const char *phrase = nullptr;
        get_reject_cause(TECH_SIP, TECH_TARN, 917, &status, &phrase);
        ops.respond(co, held, status ? status : 488, phrase ? phrase : "", nullptr);
        print_verbose_sip_msg(0, co, "RESPONSE_UNSUPPORTED_T38");
    }
    co->cl_sip = active;
}

// The partner of the held leg answered its T.38 re-INVITE.
SM_ACTION(sm_s2s_held_t38_reinvite_answered)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *other = co->cl_sip;
    s2s_t38_hold_info &h = co->s2s_t38_hold;
    if (!h.leg || !other || h.leg == other)
        return ROW;
    const tagi_t *answer = other->tmptags ? tl_find((const tagi_t *)other->tmptags, nutag_answer_recv) : nullptr;
    if (!answer || answer->t_value != 1)
        return ROW;
    if (other->using_payload == SDP_PAYLOAD_T38 && other->rtp_remote_port) {
        s2s_answer_held_t38_reinvite(co, 1);
        return ROW;
    }
    LOGD_CALL(SIP, 5, co, "other leg answered the T.38 re-INVITE without T.38, offering audio again");
    s2s_restore_leg_media(other, &h.other_before);
    s2s_answer_held_t38_reinvite(co, 0);
    co->f.t38_invite_sent = 0;
    char sdp[SDP_TEXT];
    create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, other->rtp_local_port, 1);
    co->f.sdp_offer_sent = 1;
    ops.reinvite(co, other, sdp, nullptr);
    LOGM(SIP, 17, "%s S SEND: NUA_INVITE", cinfo(co));
    return HANDLED;
}

SM_ACTION(sm_s2s_held_t38_reinvite_rejected)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *other = co->cl_sip;
    s2s_t38_hold_info &h = co->s2s_t38_hold;
    if (!h.leg || !other || h.leg == other)
        return ROW;
    co->f.sdp_offer_sent = 0;
    co->f.t38_invite_sent = 0;
    s2s_restore_leg_media(other, &h.other_before);
    s2s_answer_held_t38_reinvite(co, 0);
    return ROW;
}

void t38_set_sip_ops(const t38_sip_ops *o)
{
    ops = o ? *o : stack_ops;
    if (!ops.reinvite)
        ops.reinvite = stack_ops.reinvite;
    if (!ops.respond)
        ops.respond = stack_ops.respond;
}
