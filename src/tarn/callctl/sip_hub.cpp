#include "sip_hub.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sofia-sip/msg_addr.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sdp.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/soa_tag.h>
#include <strings.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "acl.h"
#include "analog_watchdog.h"
#include "application.h"
#include "call_object.h"
#include "call_reset.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "nua_stack.h"
#include "pools.h"
#include "proxy_def.h"
#include "reg_object.h"
#include "sdp_offer_answer.h"
#include "sip_request_order.h"
#include "sip_trace.h"
#include "sm_events.h"
#include "sm_run.h"
#include "sm_tasks.h"
#include "statemachine.h"
#include "xdv_headers.h"

namespace {

void hook_not_built(std::atomic<bool> &said, const char *what)
{
    if (!said.exchange(true))
        LOGD(SIP, 0, nullptr, "CRITICAL: %s is not part of this build", what);
}

void register_not_built(nua_event_t event, int, char const *, nua_t *, nua_magic_t *, nua_handle_t *, reg_object *,
                        sip_t const *, tagi_t[])
{
    static std::atomic<bool> said{false};
    hook_not_built(said, "nua_event_callback_register");
    LOGD(SIP, 5, nullptr, "dropping registration event %s", nua_event_name(event));
}

void incoming_call_not_built(const char *, int, nua_event_t, int, char const *, nua_t *, nua_magic_t *,
                             nua_handle_t *nh, call_object *, sip_t const *, tagi_t[])
{
    static std::atomic<bool> said{false};
    hook_not_built(said, "init_incoming_sip_call");
    // The stack answers a request whose handle goes with 480.
    if (nh)
        nua_handle_destroy(nh);
}

const sip_hub_hooks unfilled = {register_not_built, incoming_call_not_built};
sip_hub_hooks hooks = unfilled;

bool is_incoming_request(nua_event_t e)
{
    switch (e) {
    case nua_i_invite:
    case nua_i_cancel:
    case nua_i_ack:
    case nua_i_bye:
    case nua_i_options:
    case nua_i_publish:
    case nua_i_prack:
    case nua_i_info:
    case nua_i_message:
    case nua_i_register:
        return true;
    default:
        return false;
    }
}

// The numeric source address of the request being processed ("" without
// one) and its port in host order (0 without one).
void request_source(nua_t *nua, char *host, size_t size, int *port)
{
    host[0] = '\0';
    if (port)
        *port = 0;
    msg_t *msg = nua ? nua_current_request(nua) : nullptr;
    su_addrinfo_t *ai = msg ? msg_addrinfo(msg) : nullptr;
    if (!ai || !ai->ai_addr || ai->ai_addrlen == 0)
        return;
    if (getnameinfo(ai->ai_addr, ai->ai_addrlen, host, size, nullptr, 0, NI_NUMERICHOST) != 0)
        host[0] = '\0';
    if (port) {
        if (ai->ai_addr->sa_family == AF_INET)
            *port = ntohs(((const sockaddr_in *)ai->ai_addr)->sin_port);
        else if (ai->ai_addr->sa_family == AF_INET6)
            *port = ntohs(((const sockaddr_in6 *)ai->ai_addr)->sin6_port);
    }
}

bool remote_sdp_in(tagi_t tags[])
{
    const sdp_session_t *sdp = nullptr;
    if (tags)
        tl_gets(tags, SOATAG_REMOTE_SDP_REF(sdp), TAG_END());
    return sdp != nullptr;
}

void remove_timer(kv_timer *&t)
{
    if (t) {
        timer_remove(t);
        t = nullptr;
    }
}

bool is_failover_cause(const call_object *co, int status)
{
    int n = co->cc.sip_failover_causes_size;
    if (n > 20)
        n = 20;
    for (int i = 0; i < n; i++)
        if (co->cc.sip_failover_causes[i] == status)
            return true;
    return false;
}

// Steps 8.-11: the wait-for-cancel header of a 183.
bool scan_wait_for_cancel(call_object *co, sip_t const *sip)
{
    if (!sip)
        return false;
    for (const sip_unknown_t *u = sip->sip_unknown; u; u = u->un_next) {
        if (!u->un_name || strcasecmp(u->un_name, "X-DV_WAIT_FOR_CANCEL") != 0)
            continue;
        if (!co->bc)
            return false;
        int cause = 0;
        const char *eq = u->un_value ? strchr(u->un_value, '=') : nullptr;
        if (eq)
            cause = atoi(eq + 1);
        co->bc->out_cause = cause ? cause : 17;
        return true;
    }
    return false;
}

// The Replaces of step 11: true when the new handle was answered.
bool take_over_replaced_call(nua_t *nua, nua_handle_t *nh, sip_t const *sip)
{
    if (!sip || !sip->sip_replaces)
        return false;
    nua_handle_t *old = nua_handle_by_replaces(nua, sip->sip_replaces);
    if (!old)
        return false;
    call_object *rco = (call_object *)nua_handle_magic(old);
    if (!rco || !rco->cl_sip) {
        nua_handle_unref(old);
        return false;
    }
    rco->cl_sip->nh = nh;
    nua_handle_bind(old, nullptr);
    nua_handle_bind(nh, (nua_hmagic_t *)rco);
    nua_bye(old, TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_BYE[replaces]", cinfo(rco));
    nua_handle_unref(old);

    char sdp[1024] = "";
    bool answer = rco->f.sdp_offer_received;
    create_sdp_string(rco, sdp, sizeof sdp, &rco->cc.codecs, rco->cl_sip->rtp_local_port, answer ? 0 : 1);
    if (answer)
        rco->f.sdp_offer_received = 0;
    else
        rco->f.sdp_offer_sent = 1;
    nua_respond(nh, 200, "SIP_CALL_ACTIVE", NUTAG_WITH(nua_current_request(nua)),
                TAG_IF(sdp[0], SOATAG_USER_SDP_STR(sdp)),
                TAG_IF(sdp[0], SOATAG_ADDRESS(sdp_origin_address(rco->cl_sip))), SOATAG_RTP_SELECT(2), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[200] \"SIP_CALL_ACTIVE\"", cinfo(rco));
    return true;
}

void log_invite_party(call_object *co, const char *which, const sip_addr_t *a)
{
    if (!a)
        return;
    LOGM(SIP, 18, "%s S IND : NUA_I_INVITE: %s => %s %s@%s", cinfo(co), which, a->a_display ? a->a_display : "",
         a->a_url->url_user ? a->a_url->url_user : "", a->a_url->url_host ? a->a_url->url_host : "");
}

} // namespace

void sip_hub_set_hooks(const sip_hub_hooks *h)
{
    if (!h) {
        hooks = unfilled;
        return;
    }
    if (h->nua_event_callback_register)
        hooks.nua_event_callback_register = h->nua_event_callback_register;
    if (h->init_incoming_sip_call)
        hooks.init_incoming_sip_call = h->init_incoming_sip_call;
}

void activate_call_leg_by_handle(call_object *co, nua_handle_t *nh)
{
    if (!co)
        return;
    if (co->cl_sip_in && co->cl_sip_in->nh == nh) {
        co->cl_sip = co->cl_sip_in;
        if (co->callinfo == CI_SIP_TO_SIP)
            LOGD_CALL(SIP, 5, co, "ACTIVATING CALL LEG 1");
    } else if (co->cl_sip_out && co->cl_sip_out->nh == nh) {
        co->cl_sip = co->cl_sip_out;
        if (co->callinfo == CI_SIP_TO_SIP)
            LOGD_CALL(SIP, 5, co, "ACTIVATING CALL LEG 2");
    }
}

int sip_event_word(call_object *co, int state, nua_event_t event, int status, const char *phrase,
                   bool wait_for_cancel_mark)
{
    int plain = sm_sip(status, event);
    // 1.
    if (status == 401 || status == 407 || status == 484 || (status == 403 && co->callinfo == CI_REGISTER))
        return plain;
    // 2.
    if (event == nua_r_invite && (status == 488 || status == 415) && state == SM_CALL_ACTIVE &&
        co->f.sdp_offer_sent) {
        co->f.sdp_offer_sent = 0;
        return plain;
    }
    // 3.
    if (event == nua_i_terminated)
        return sm_sip(1000, nua_i_terminated);
    if (event == nua_r_invite && state == SM_SIP_INVITE_SENT && is_failover_cause(co, status)) {
        call_leg_sip *leg = co->cl_sip;
        auto failover_line = [&] {
            LOGM(SIP, 17, "%s S IND : FAILOVER CAUSE => %s[%i] \"%s\"", cinfo(co), nua_event_name(event), status,
                 phrase ? phrase : "");
        };
        // 4.
        if (co->call_group_index < co->call_group_buddies_count) {
            failover_line();
            return sm_sip(1003, nua_r_invite);
        }
        // 5.
        if (leg && leg->pd && leg->pd->failover && leg->pd->failover[0] && !co->f.failover_call &&
            (co->cc.sip_failover_proxy[0] || co->cc.dialplan_go_on)) {
            failover_line();
            return sm_sip(1001, nua_r_invite);
        }
        // 6.
        if (leg && leg->pd && co->cc.dialplan_go_on)
            return sm_general(GENERAL_EVENT_DIALPLAN_GO_ON);
    }
    // 7.
    if (status >= 400 && status <= 699)
        return sm_sip(1000, event);
    // 8.
    if (wait_for_cancel_mark)
        return sm_sip(0, SIP_EVENT_183_WAIT_FOR_CANCEL);
    // 9.
    return plain;
}

namespace {

// Requests whose answer is the application's: the stack answers the others
// (ACK, CANCEL, BYE, PRACK) itself.
bool application_answers(nua_event_t event)
{
    switch (event) {
    case nua_i_invite:
    case nua_i_options:
    case nua_i_register:
    case nua_i_message:
    case nua_i_notify:
    case nua_i_subscribe:
    case nua_i_refer:
    case nua_i_publish:
    case nua_i_info:
    case nua_i_update:
    case nua_i_method:
        return true;
    default:
        return false;
    }
}

// A new request before start-up has finished gets 503 with Retry-After at
// once: left unanswered, its server transaction would absorb every
// retransmission and the client would hear nothing for 32 seconds.
void answer_request_before_ready(nua_event_t event, nua_t *nua, nua_handle_t *nh, nua_hmagic_t *hmagic)
{
    if (!nh || hmagic || !application_answers(event))
        return;
    nua_respond(nh, 503, "Service Unavailable", NUTAG_WITH_THIS(nua), SIPTAG_RETRY_AFTER_STR("1"), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[503] \"Service Unavailable\"", cinfo(nullptr));
    nua_handle_destroy(nh);
}

// A REGISTER to the gateway, which is no registrar: 405 with the methods it
// takes.
void refuse_register_request(nua_t *nua, nua_handle_t *nh)
{
    nua_respond(nh, 405, "Method Not Allowed", NUTAG_WITH_THIS(nua),
                SIPTAG_ALLOW_STR("INVITE, ACK, BYE, CANCEL, OPTIONS, PRACK, INFO, MESSAGE, NOTIFY, REFER, UPDATE"),
                TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[405] \"Method Not Allowed\"", cinfo(nullptr));
    nua_handle_destroy(nh);
}

} // namespace

void nua_event_callback(nua_event_t event, int status, char const *phrase, nua_t *nua, nua_magic_t *magic,
                        nua_handle_t *nh, nua_hmagic_t *hmagic, sip_t const *sip, tagi_t tags[])
{
    pthread_mutex_lock(gp->locks->global_lock);
    nua_event_callback_locked(event, status, phrase, nua, magic, nh, hmagic, sip, tags);
    pthread_mutex_unlock(gp->locks->global_lock);
}

void nua_event_callback_locked(nua_event_t event, int status, char const *phrase, nua_t *nua, nua_magic_t *magic,
                               nua_handle_t *nh, nua_hmagic_t *hmagic, sip_t const *sip, tagi_t tags[])
{
    call_object *co = (call_object *)hmagic;
    if (!phrase)
        phrase = "";
    // 1.
    if (!gp->init_lock) {
        LOGD(SIP, 1, nullptr, "TARN not initialized completely, ignoring SIP event %s", nua_event_name(event));
        answer_request_before_ready(event, nua, nh, hmagic);
        return;
    }
    // 2.
    if (tarn_acl *acl = acl_get_acl_by_nua(nua)) {
        int type, max;
        switch (event) {
        case nua_i_invite:
            type = ACL_INVITE_PACKET;
            max = acl->blacklist_max_invite_packets_per_timeframe;
            break;
        case nua_i_options:
            type = ACL_OPTIONS_PACKET;
            max = acl->blacklist_max_options_packets_per_timeframe;
            break;
        case nua_i_register:
            type = ACL_REGISTER_PACKET;
            max = acl->blacklist_max_register_packets_per_timeframe;
            break;
        default:
            type = ACL_OTHER_PACKET;
            max = acl->blacklist_max_other_packets_per_timeframe;
            break;
        }
        if (max > 0 && is_incoming_request(event)) {
            char host[80];
            request_source(nua, host, sizeof host, nullptr);
            if (acl_check(acl, type, host) == 0) {
                // No answer and no line; but a new request's handle must not
                // live on with its transaction (the stack answers 480).
                if (!co && nh)
                    nua_handle_destroy(nh);
                return;
            }
        }
    }
    // 3.
    if (co && co->handletype == HT_REGISTRATION) {
        hooks.nua_event_callback_register(event, status, phrase, nua, magic, nh, (reg_object *)hmagic, sip, tags);
        return;
    }
    // 4.
    if (!co && event == nua_r_bye && status == 200) {
        nua_handle_destroy_in_destroy_queue(nh);
        return;
    }
    // 5.
    activate_call_leg_by_handle(co, nh);
    // 6.
    bool has_sdp = remote_sdp_in(tags);
    if (event != nua_r_register) {
        LOGD(TARN, 4, cinfo(co),
             "INCOMING NUAEVENT: %s -- Phrase: %s -- status %i -- co %p / co->leg_sip->nh %p / nh %p / sip %p / "
             "tags %p / sdp %i",
             nua_event_name(event), phrase, status, (void *)co,
             co && co->cl_sip ? (void *)co->cl_sip->nh : nullptr, (void *)nh, (const void *)sip, (void *)tags,
             has_sdp ? 1 : 0);
    } else if (co && co->cl_sip) {
        co->cl_sip->last_response_code = status;
    }
    // 7.
    LOGM(SIP, 17, "%s S IND : %s[%i] \"%s\"", cinfo(co), nua_event_name(event), status, phrase);
    // 8.
    if (co) {
        if (co->cl_sip && co->cl_sip->nh_referring && co->cl_sip->nh_referring == nh) {
            LOGD_CALL(SIP, 1, co, "Event for referring handle %s", nua_event_name(event));
            if (event == nua_i_bye || event == nua_i_terminated) {
                nua_handle_bind(nh, nullptr);
                co->cl_sip->nh_referring = nullptr;
            }
            return;
        }
        if (!co->cl_sip) {
            LOGD_CALL(SIP, 5, co, "event %s for already cleared handle %p", nua_event_name(event), (void *)nh);
            return;
        }
        if (event == nua_r_info)
            sip_info_answered(co, co->cl_sip, status);
    }
    // 9.
    char host[80];
    int port = 0;
    request_source(nua, host, sizeof host, &port);
    // 10.
    if (event == nua_i_notify) {
        handle_incoming_sip_notify(host, event, status, phrase, nua, magic, nh, co, sip, tags);
        if (!co)
            nua_handle_destroy(nh);
        return;
    }
    // 11.
    if (take_over_replaced_call(nua, nh, sip))
        return;
    // 12.
    switch (event) {
    case nua_i_error:
        LOGM(SIP, 33, "%s nua_cb(%p): nua error for co %p , status %i : %s", cinfo(co), (void *)nua, (void *)co, status,
             phrase);
        return;
    case nua_i_options:
        handle_incoming_option(event, status, phrase, nua, magic, nh, co, sip);
        return;
    case nua_r_shutdown:
        if (status == 200 || status >= 500)
            stop_nua_stack();
        return;
    default:
        break;
    }
    // 13.
    if (!co) {
        if (event == nua_i_invite) {
            if (sip) {
                log_invite_party(co, "From", sip->sip_from);
                log_invite_party(co, "To  ", sip->sip_to);
            }
            hooks.init_incoming_sip_call(host, port, event, status, phrase, nua, magic, nh, nullptr, sip, tags);
        } else if (event == nua_i_message) {
            hooks.init_incoming_sip_call(host, port, event, status, phrase, nua, magic, nh, nullptr, sip, tags);
        } else if (event == nua_i_register && nh) {
            refuse_register_request(nua, nh);
        } else {
            LOGD(SIP, 5, nullptr, "ignoring nua event %s -- co==NULL -> destroying handle!", nua_event_name(event));
            if (nh)
                nua_handle_destroy(nh);
        }
        return;
    }
    // 14.
    if (!co->sm) {
        LOGD_CALL(SIP, 5, co, "ignoring nua event  %s -- co->sm==NULL!", nua_event_name(event));
        return;
    }
    if (nh != co->cl_sip->nh) {
        LOGD_CALL(SIP, 5, co, "ignoring nua event  %s -- invalid nua handle!", nua_event_name(event));
        return;
    }
    // 15.1
    if (event == nua_i_state)
        remove_timer(co->state_event_missing_safeguard_timer);
    // 15.2
    if (co->cc.ie_on_sip)
        apply_sip_extension_headers(co->bc, sip, nullptr);
    // 15.3
    int state = statemachine_get_state(co->sm);
    bool wait_for_cancel_mark = false;
    bool outgoing = co->cl_sip != co->cl_sip_in;
    if (event == nua_i_invite) {
        co->f.cp_sip_180_sent = 0;
        co->f.cp_sip_183_sent = 0;
        co->f.cp_sip_200_sent = 0;
        co->f.cp_second_invite = 1;
    } else if (event == nua_i_cancel) {
        print_verbose_sip_msg(1, co, "CANCEL");
    } else if (event == nua_i_bye) {
        print_verbose_sip_msg(1, co, "BYE");
    } else if (event == nua_i_state && status == 200 && (state == SM_SIP_RINGING || state == SM_SIP_INVITE_SENT)) {
        print_verbose_sip_msg(1, co, "OK");
    } else if (event == nua_i_state && outgoing && status >= 180 && status <= 183) {
        static const char *words[] = {"RINGING", "PROGRESS_181", "PROGRESS_182", "PROGRESS"};
        print_verbose_sip_msg(1, co, words[status - 180]);
    } else if (event == nua_r_invite) {
        remove_timer(co->failover_timer);
        remove_timer(co->sip_t0_timer);
        if (status == 180) {
            remove_timer(co->sip_t180_timer);
        } else if (status == 183) {
            remove_timer(co->sip_t183_timer);
            wait_for_cancel_mark = scan_wait_for_cancel(co, sip);
        } else if (status == 200) {
            remove_timer(co->sip_t180_timer);
            remove_timer(co->sip_t183_timer);
            remove_timer(co->sip_t200_timer);
        }
        if (status >= 300 && state != SM_CALL_ACTIVE)
            print_verbose_msg_invite_failed_text(co, 1, status);
    }
    // 15.4
    if (!co->sm) {
        LOGD_CALL(SIP, 5, co, "ignoring nua event %s -- co->sm==NULL!", nua_event_name(event));
        return;
    }
    // 15.5
    call_leg_sip *leg = co->cl_sip;
    leg->tmpsip = sip;
    leg->tmptags = reinterpret_cast<tagi_s *>(tags); // the leg keeps the list opaque
    if (has_sdp)
        LOGD_CALL(SIP, 5, co, "SDP information contained in %s", nua_event_name(event));
    bool skip_run = false;
    if (event == nua_i_state) {
        int cs = nua_callstate_init;
        tl_gets(tags, NUTAG_CALLSTATE_REF(cs), TAG_END());
        LOGD_CALL(SIP, 5, co, "nua callstate: %s", nua_callstate_name((nua_callstate)cs));
    } else {
        leg->last_nua_status_code = status;
        leg->last_nua_event = event;
        if ((status == 180 || status == 183) && sip && sip->sip_user_agent && sip->sip_user_agent->g_string &&
            strncasecmp(sip->sip_user_agent->g_string, "Davnole", 7) == 0)
            co->f.sip_progress_from_davnole = 1;
        snprintf(leg->last_nua_status_text, sizeof leg->last_nua_status_text, "%s", phrase);
        if (has_sdp)
            TARN_EXIT(125, "%s nua_cb(%p): SDP information outside nua_i_state, exiting", cinfo(co), (void *)nua);
        if (event == nua_i_outbound && co->callinfo == CI_REGISTER)
            skip_run = true;
    }
    if (!skip_run) {
        // 16. 17.
        int word = sip_event_word(co, state, event, status, phrase, wait_for_cancel_mark);
        do_statemachine_run(co, word, 0);
    }
    // 18.
    if (co->cl_sip) {
        co->cl_sip->tmptags = nullptr;
        co->cl_sip->tmpsip = nullptr;
    }
    if (!co->sm)
        return;
    int after = statemachine_get_state(co->sm);
    if (after == SM_DESTROYING) {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
        int held_port = co->analog_port;
        LOGD_CALL(SIP, 5, co, "calling reset_op for %p", (void *)co);
        reset_op(co);
        start_analog_watchdog_on_port(held_port, 0);
    } else if (after == SM_DISMANTLING) {
        start_dismantling_timer(co);
    }
}
