#include "sip_admission.h"

#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/soa_tag.h>
#include <strings.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "application.h"
#include "call_object.h"
#include "call_reset.h"
#include "call_services.h"
#include "causes.h"
#include "dialplan_search.h"
#include "dialplan_vars.h"
#include "experimental_options.h"
#include "log.h"
#include "log_backend.h"
#include "msp_resource.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "rtp_ports.h"
#include "sdp_offer_answer.h"
#include "sip_admission_internal.h"
#include "sip_headers.h"
#include "sip_stack.h"
#include "sip_trace.h"
#include "sm_defs.h"
#include "sm_tasks.h"
#include "state_tables.h"
#include "strtools.h"
#include "timer.h"

// Last: the parser's header defines macros named like functions of ours.
#include <sofia-sip/sip_header.h>

namespace {

// ---- the inbound throttle ----------------------------------------------------

enum { THROTTLE_RING = 30 };

struct inbound_throttle {
    struct timeval times[THROTTLE_RING];
    int index; // sip_incoming_calls_timestamps_index
    unsigned total;
    unsigned accepted;
};
inbound_throttle throttle;

long long ms_between(const struct timeval &a, const struct timeval &b)
{
    long long d = (long long)(a.tv_sec - b.tv_sec) * 1000 + (a.tv_usec - b.tv_usec) / 1000;
    return d < 0 ? -d : d;
}

// ---- hooks -----------------------------------------------------------------------

void not_built(std::atomic<bool> &said, const char *what)
{
    if (!said.exchange(true))
        LOGD(TARN, 0, nullptr, "CRITICAL: %s is not part of this build", what);
}

int analog_admission_not_built(const char *, int, nua_event_t, int, char const *, nua_t *, nua_magic_t *,
                               nua_handle_t *, call_object *, sip_t const *)
{
    static std::atomic<bool> said{false};
    not_built(said, "init_incoming_sip_to_analog_call");
    return -1;
}

int cas_admission_not_built(const char *, int, nua_event_t, int, char const *, nua_t *, nua_magic_t *,
                            nua_handle_t *, call_object *, sip_t const *)
{
    static std::atomic<bool> said{false};
    not_built(said, "init_incoming_sip_to_cas_call");
    return -1;
}

int32_t isdn_sender_not_built(void *, void *, int32_t)
{
    static std::atomic<bool> said{false};
    not_built(said, "tarn_send_event");
    return 0;
}

int32_t gsm_sender_not_built(void *, void *, int32_t)
{
    static std::atomic<bool> said{false};
    not_built(said, "tarn_gsm_send_event");
    return 0;
}

int user_user_not_built(call_object *, const char *)
{
    static std::atomic<bool> said{false};
    not_built(said, "apply_sip_user_user_to_bc");
    return 0;
}

int vaz_not_built(call_object *)
{
    static std::atomic<bool> said{false};
    not_built(said, "sm_add_vaz_to_new_destination");
    return 0;
}

const sip_admission_hooks unfilled = {analog_admission_not_built, cas_admission_not_built, isdn_sender_not_built,
                                      gsm_sender_not_built,       user_user_not_built,     vaz_not_built};

// ---- the request's headers ---------------------------------------------------------

// What the header scan of a request found.
struct request_marks {
    bool emergency = false;
    bool hdlc = false;
    bool override = false;
    bool rpid_privacy = false;
    char pai[128] = "", pai_display[128] = "", pai_user[128] = "";
    char ppi[128] = "", ppi_display[128] = "", ppi_user[128] = "";
    char pcpi[128] = "", pcpi_display[128] = "", pcpi_user[128] = "";
    char rpid[128] = "", rpid_display[128] = "", rpid_user[128] = "";
    char anonymity[128] = "";
    const char *config = nullptr; // the X-DV_CONFIG value (the message's)
};

void keep_identity(const char *value, char *v, char *display, char *user)
{
    snprintf(v, 128, "%s", value ? value : "");
    st_get_display_and_user_from_sip_line(v, display, 128, user, 128);
}

void scan_headers(sip_t const *sip, request_marks *m)
{
    for (const sip_unknown_t *u = sip->sip_unknown; u; u = u->un_next) {
        const char *name = u->un_name;
        const char *value = u->un_value ? u->un_value : "";
        if (!name)
            continue;
        if (strcasecmp(name, "X-DV_EMERGENCY") == 0) {
            m->emergency = true;
        } else if (strcasecmp(name, "P-Asserted-Identity") == 0) {
            keep_identity(value, m->pai, m->pai_display, m->pai_user);
        } else if (strcasecmp(name, "P-Preferred-Identity") == 0) {
            keep_identity(value, m->ppi, m->ppi_display, m->ppi_user);
        } else if (strcasecmp(name, "P-Called-Party-ID") == 0) {
            keep_identity(value, m->pcpi, m->pcpi_display, m->pcpi_user);
        } else if (strcasecmp(name, "Remote-Party-ID") == 0) {
            keep_identity(value, m->rpid, m->rpid_display, m->rpid_user);
            if (strstr(value, "privacy=full") || strstr(value, "screen=yes"))
                m->rpid_privacy = true;
        } else if (strcasecmp(name, "X-DV_CONFIG") == 0) {
            m->config = value;
            m->override = true;
        } else if (strcasecmp(name, "X-DV_HDLC") == 0) {
            m->hdlc = true;
        } else if (strcasecmp(name, "Anonymity") == 0) {
            snprintf(m->anonymity, sizeof m->anonymity, "%s", value);
        }
    }
}

const char *unknown_header(sip_t const *sip, const char *name)
{
    for (const sip_unknown_t *u = sip ? sip->sip_unknown : nullptr; u; u = u->un_next)
        if (u->un_name && strcasecmp(u->un_name, name) == 0)
            return u->un_value ? u->un_value : "";
    return nullptr;
}

char *owned(const char *text)
{
    return strdup(text ? text : "");
}

// Replaces an owned text of the record.
void set_owned(char *&slot, const char *text)
{
    free(slot);
    slot = owned(text);
}

void fill_address_info(sip_address_info_object *ai, sip_t const *sip, const request_marks &m)
{
    const url_t *ru = sip->sip_request ? sip->sip_request->rq_url : nullptr;
    set_owned(ai->request_url_host, ru && ru->url_host ? ru->url_host : "");
    set_owned(ai->request_url_user, ru && ru->url_user ? ru->url_user : "");
    const url_t *cu = sip->sip_contact ? sip->sip_contact->m_url : nullptr;
    set_owned(ai->contact_user, cu && cu->url_user ? cu->url_user : "");
    set_owned(ai->contact_host, cu && cu->url_host ? cu->url_host : "");
    struct identity {
        const char *value, *user, *display;
        char *sip_address_info_object::*v, *sip_address_info_object::*u, *sip_address_info_object::*d;
    };
    using A = sip_address_info_object;
    const identity ids[] = {
        {m.pai, m.pai_user, m.pai_display, &A::p_asserted_identity, &A::p_asserted_identity_user,
         &A::p_asserted_identity_display},
        {m.ppi, m.ppi_user, m.ppi_display, &A::p_preferred_identity, &A::p_preferred_identity_user,
         &A::p_preferred_identity_display},
        {m.rpid, m.rpid_user, m.rpid_display, &A::p_remote_party_id, &A::p_remote_party_id_user,
         &A::p_remote_party_id_display},
        {m.pcpi, m.pcpi_user, m.pcpi_display, &A::p_called_party_id, &A::p_called_party_id_user,
         &A::p_called_party_id_display},
    };
    for (const identity &i : ids) {
        if (!i.value[0])
            continue;
        set_owned(ai->*i.v, i.value);
        set_owned(ai->*i.u, i.user);
        set_owned(ai->*i.d, i.display);
    }
}

void count_refusal_slot0()
{
    gp->callstat.counter_sip_to_isdn_port[0]++;
}

const char *text_or_empty(const char *t)
{
    return t ? t : "";
}

void arm_safeguard_timer(call_object *co)
{
    if (co->state_event_missing_safeguard_timer) {
        timer_remove(co->state_event_missing_safeguard_timer);
        co->state_event_missing_safeguard_timer = nullptr;
    }
    kv_timer *t = (kv_timer *)calloc(1, sizeof *t);
    if (!t)
        return;
    t->tv.tv_sec = 1;
    if (timer_add(cb_timer_event, T_EVENT_STATE_EVENT_MISSING_SAFEGUARD, t) != 0) {
        free(t);
        return;
    }
    co->state_event_missing_safeguard_timer = t;
}

// A request that came in over TLS without a Contact of ours: the stack's TLS
// listener, so that the caller's requests in the dialog stay on TLS (the
// library would pick its Contact by the scheme of the caller's Contact and
// hand a caller with "sip:...;transport=tls" its UDP address).
void tls_contact(const call_object *co, sip_t const *sip, char *contact, size_t size)
{
    const sip_via_t *via = sip ? sip->sip_via : nullptr;
    if (contact[0] || !via || !via->v_protocol || strcasecmp(via->v_protocol, "SIP/2.0/TLS") != 0 || !co->cl_sip_in)
        return;
    bool sips = sip->sip_request && sip->sip_request->rq_url->url_type == url_sips;
    sip_stack_tls_contact(co->cl_sip_in->ss, sips, contact, size);
}

// The 155 "Trying" of step 15.4; first is the first pass of the loop.
void answer_trying(call_object *co, nua_t *nua, nua_handle_t *nh, sip_t const *sip, bool first)
{
    const dialplan_element *dp = co->dp;
    const char *in_group = dp && dp->pd_in && dp->pd_in->name ? dp->pd_in->name : nullptr;
    char contact[512] = "";
    if (gp->experimental_options && gp->experimental_options->eo_old_contact_method) {
        if (!gp->external_ips_in_use)
            return;
        pg_sip_get_contact_string_by_pgs_name(in_group, contact, sizeof contact);
    } else {
        if (!first)
            return;
        if (in_group) {
            pg_sip_get_contact_string_with_user_by_pgs_name(in_group, contact, sizeof contact);
            const call_configuration *lc = dp->cc;
            if (lc && lc->sip_custom_contact_on_inbound && lc->sip_contact_all_setting[0]) {
                // The variables resolve as for the call kind the line gives.
                int saved = co->callinfo;
                co->callinfo = dp->to_tech == TECH_SIP ? CI_SIP_TO_SIP : CI_SIP_TO_ISDN;
                create_custom_contact(co, lc->sip_contact_all_setting, contact, sizeof contact);
                co->callinfo = saved;
            }
        }
    }
    tls_contact(co, sip, contact, sizeof contact);
    nua_respond(nh, 155, "Trying", NUTAG_WITH_THIS(nua), TAG_IF(contact[0], SIPTAG_CONTACT_STR(contact)),
                TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[155] \"Trying\"", cinfo(co));
}

// Step 15.9.
void apply_privacy(call_object *co, sip_t const *sip, const request_marks &m)
{
    co->f.sip_privacy_incoming = 0;
    int setting = co->cc.from_sip_src_setting;
    if (const char *privacy = unknown_header(sip, "Privacy")) {
        char first[32];
        size_t n = strcspn(privacy, ";, \t");
        snprintf(first, sizeof first, "%.*s", (int)(n < sizeof first ? n : sizeof first - 1), privacy);
        if (setting >= 2 && setting <= 7 && strcasecmp(first, "id") == 0)
            co->f.sip_privacy = 1;
        co->f.sip_privacy_incoming = 1;
        snprintf(co->incoming_sip_privacy_value, sizeof co->incoming_sip_privacy_value, "%s", first);
    }
    if (setting >= 8 && setting <= 10 &&
        ((m.anonymity[0] && !strstr(m.anonymity, "off")) || m.rpid_privacy))
        co->f.sip_privacy = 1;
}

// Step 15.11, TECH_SIP: the DTMF modes of both groups.
void merge_dtmf_modes(call_object *co)
{
    if (co->dp && co->dp->cc && co->dp->cc->dtmfmode_set)
        return;
    unsigned src = co->cc_source ? co->cc_source->dtmfmode & 0xff : 0;
    unsigned dst = co->cc_destination ? co->cc_destination->dtmfmode & 0xff : src;
    co->cc.dtmfmode = src | (dst != src ? dst << 8 : 0);
}

void start_itapi_call(call_object *co)
{
    co->callinfo = CI_SIP_TO_ITAPI;
    msp_release_all_resources(co, &co->msp_resources_reserved);
    co->sm = create_statemachine_sip_to_itapi(co, SM_SIP_INVITE_RECEIVED, nullptr);
    add_sm_task(co, sm_general(GENERAL_EVENT_ITAPI_CREATE_SOCKET));
}

void refuse_unknown_technology(call_object *co, nua_t *nua, nua_handle_t *nh, int tech)
{
    LOGD_CALL(TARN, 0, co, "CRITICAL: UNKNOWN TECHNOLOGY (%i)", tech);
    nua_respond(nh, 503, "SERVICE UNAVAILABLE (UNSUPPORTED TECH)", NUTAG_WITH_THIS(nua), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[503] \"SERVICE UNAVAILABLE (UNSUPPORTED TECH)\"", cinfo(co));
    print_verbose_sip_msg(0, co, "RESPONSE_SERVICE_UNAVAILABLE (UNSUPPORTED TECH)");
    drop_request_handle(co, nh);
    reset_call(co);
}

// Step 15.2: no line takes the request.
void refuse_no_dialplan(call_object *co, nua_t *nua, nua_handle_t *nh)
{
    LOGD_CALL(TARN, 1, co, "couldn't find match for %s, cancelling call", to_user_of(co));
    co->special_termination_reason = 5;
    int cause = co->f.call_limit_exceeded ? 918 : co->f.dialplan_entry_skipped ? 911 : 904;
    int code = 0;
    const char *text = nullptr;
    get_reject_cause(TECH_SIP, TECH_TARN, cause, &code, &text);
    if (cause == 918)
        snprintf(co->tmpbuf, sizeof co->tmpbuf, "%s", text_or_empty(text));
    else if (co->f.dialplan_no_matching_from_id_found)
        snprintf(co->tmpbuf, sizeof co->tmpbuf, "%s: no from-id match", text_or_empty(text));
    else
        snprintf(co->tmpbuf, sizeof co->tmpbuf, "%s: no destination or source match", text_or_empty(text));
    send_refusal(co, nua, nh, code, co->tmpbuf, nullptr);
    print_verbose_sip_msg(0, co, co->tmpbuf);
    co->cdr.terminated_by = 0;
    co->cdr.tc_incoming_event = co->f.dialplan_entry_skipped;
    LOGN(SIP, 0, "INCOMING CALL FROM SIP REJECTED, NO DIALPLAN: PID %i", co->pid);
    drop_request_handle(co, nh);
    reset_call(co);
    if (gp->callstat.counter_sip_to_pstn > 0)
        gp->callstat.counter_sip_to_pstn--;
    gp->callstat.counter_sip_to_dialplan_not_found++;
}

// Step 15.11: the line's technology takes the call; -1 asks for the next
// line.
int dispatch(call_object *co, const char *host, int port, nua_event_t event, int status, char const *phrase,
             nua_t *nua, nua_magic_t *magic, nua_handle_t *nh, sip_t const *sip)
{
    int tech = co->dp->to_tech;
    switch (tech) {
    case TECH_SIP:
        merge_dtmf_modes(co);
        init_incoming_sip_to_sip_call(host, port, event, status, phrase, nua, magic, nh, co, sip);
        return 0;
    case TECH_ISDN:
        return init_incoming_sip_to_isdn_call(host, port, event, status, phrase, nua, magic, nh, co, sip);
    case TECH_GSM:
        return init_incoming_sip_to_gsm_call(host, port, event, status, phrase, nua, magic, nh, co, sip);
    case TECH_ANALOG:
        return admission_hooks().init_incoming_sip_to_analog_call(host, port, event, status, phrase, nua, magic,
                                                                   nh, co, sip);
    case TECH_CAS:
        return admission_hooks().init_incoming_sip_to_cas_call(host, port, event, status, phrase, nua, magic, nh,
                                                                co, sip);
    case TECH_ITAPI:
        start_itapi_call(co);
        return 0;
    default:
        refuse_unknown_technology(co, nua, nh, tech);
        return 0;
    }
}

sip_admission_hooks hooks = unfilled;

} // namespace

// ---- shared with the line admissions ------------------------------------------

const char *to_user_of(const call_object *co)
{
    const sip_address_info_object *ai = co->cl_sip_in ? co->cl_sip_in->address_info : nullptr;
    return ai && ai->to_url_user ? ai->to_url_user : "";
}

const char *from_user_of(const call_object *co)
{
    const sip_address_info_object *ai = co->cl_sip_in ? co->cl_sip_in->address_info : nullptr;
    return ai && ai->from_url_user ? ai->from_url_user : "";
}

const sip_admission_hooks &admission_hooks()
{
    return hooks;
}

void send_refusal(call_object *co, nua_t *nua, nua_handle_t *nh, int code, const char *phrase, const char *contact)
{
    char reason[256] = "";
    format_reason_header(co, reason, sizeof reason);
    if (code <= 0)
        code = default_sip_reject_cause;
    if (!phrase)
        phrase = "";
    if (nh)
        nua_respond(nh, code, phrase, TAG_IF(nua, NUTAG_WITH_THIS(nua)), TAG_IF(reason[0], SIPTAG_HEADER_STR(reason)),
                    TAG_IF(contact && contact[0], SIPTAG_CONTACT_STR(contact)), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[%i] \"%s\"", cinfo(co), code, phrase);
}

void drop_request_handle(call_object *co, nua_handle_t *nh)
{
    if (co && co->cl_sip_in && co->cl_sip_in->nh == nh)
        co->cl_sip_in->nh = nullptr;
    if (co && co->cl_sip && co->cl_sip->nh == nh)
        co->cl_sip->nh = nullptr;
    if (nh) {
        nua_handle_bind(nh, nullptr);
        nua_handle_destroy(nh);
    }
}

void reset_call(call_object *co)
{
    LOGD_CALL(TARN, 5, co, "calling reset_op for %p", (void *)co);
    if (co->sm) {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
    }
    reset_op(co);
}

void refuse_request(call_object *co, nua_t *nua, nua_handle_t *nh, int cause, int reason)
{
    co->special_termination_reason = reason;
    int code = 0;
    const char *text = nullptr;
    get_reject_cause(TECH_SIP, TECH_TARN, cause, &code, &text);
    send_refusal(co, nua, nh, code, text, nullptr);
    drop_request_handle(co, nh);
    reset_call(co);
}

// ---- throttle ------------------------------------------------------------------------

int is_incoming_call_allowed_at(const struct timeval &now)
{
    const experimental_options *eo = gp ? gp->experimental_options : nullptr;
    int n = eo ? eo->eo_sip_inbound_limit_max_calls_per_timeframe : 0;
    if (n <= 0)
        return 1;
    if (n > THROTTLE_RING)
        n = THROTTLE_RING; // the option's reader keeps it in 1..30 already
    throttle.total++;
    if (throttle.accepted < (unsigned)n) {
        throttle.times[throttle.accepted % THROTTLE_RING] = now;
        throttle.index = (throttle.index + 1) % THROTTLE_RING;
        throttle.accepted++;
        return 1;
    }
    const struct timeval &then = throttle.times[(throttle.index - n + THROTTLE_RING) % THROTTLE_RING];
    if (ms_between(now, then) < eo->eo_sip_inbound_limit_timeframe_length)
        return 0;
    throttle.times[throttle.index] = now;
    throttle.index = (throttle.index + 1) % THROTTLE_RING;
    throttle.accepted++;
    return 1;
}

int is_incoming_call_allowed()
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    return is_incoming_call_allowed_at(now);
}

void sip_admission_reset_throttle()
{
    throttle = inbound_throttle{};
}

unsigned sip_incoming_total_calls()
{
    return throttle.total;
}

unsigned sip_incoming_total_accepted_calls()
{
    return throttle.accepted;
}

// ---- small services -----------------------------------------------------------------

void activate_call_leg(call_object *co, call_leg_sip *leg)
{
    if (!co || !leg)
        return;
    if (leg == co->cl_sip_in) {
        co->cl_sip = leg;
        if (co->callinfo == CI_SIP_TO_SIP)
            LOGD_CALL(SIP, 5, co, "ACTIVATING CALL LEG 1");
    } else if (leg == co->cl_sip_out) {
        co->cl_sip = leg;
        if (co->callinfo == CI_SIP_TO_SIP)
            LOGD_CALL(SIP, 5, co, "ACTIVATING CALL LEG 2");
    }
}

int create_custom_contact(call_object *co, const char *contact_setting, char *new_contact, size_t size)
{
    if (!new_contact || !size)
        return -1;
    new_contact[0] = '\0';
    if (!contact_setting)
        return -1;
    int positions[10], lengths[10];
    int count = dialplan_find_variables_in_string(contact_setting, positions, lengths, nullptr, 10);
    dialplan_replace_variables(co, contact_setting, new_contact, (int)size, positions, lengths, count);
    return 0;
}

int move_on_pstn_fail_create_contact_string(call_object *co, char *out, size_t size)
{
    if (!out || !size)
        return -1;
    out[0] = '\0';
    if (!co || !co->cc.move_on_pstn_fail[0])
        return -1;
    char target[256];
    create_custom_contact(co, co->cc.move_on_pstn_fail, target, sizeof target);
    // The caller's own values fill the target's variables: a value that
    // would break out of the Contact header gives no 302 at all.
    if (strpbrk(target, "\r\n<>\"")) {
        LOGD_CALL(SIP, 1, co, "move_on_pstn_fail target holds characters a Contact cannot carry, no 302");
        return -1;
    }
    if (strchr(target, '@'))
        snprintf(out, size, "<sip:%s>", target);
    else
        snprintf(out, size, "<sip:%s@%s>", target, co->cl_sip ? co->cl_sip->using_ip : "");
    return 0;
}

namespace {
bool failover_cause(const call_object *co, int status)
{
    int n = co->cc.sip_failover_causes_size;
    if (n > 20)
        n = 20;
    for (int i = 0; i < n; i++)
        if (co->cc.sip_failover_causes[i] == status)
            return true;
    return false;
}
} // namespace

int do_we_have_a_failover_status(call_object *co, int status)
{
    return co && failover_cause(co, status) && (co->cc.sip_failover_proxy[0] || co->cc.dialplan_go_on) ? 1 : 0;
}

int do_we_have_a_failover_status_callgroup(call_object *co, int status)
{
    return co && failover_cause(co, status) ? 1 : 0;
}

int do_we_have_sip_callgroup_alternatives(call_object *co)
{
    return co && co->call_group_index < co->call_group_buddies_count ? 1 : 0;
}

char *get_next_sip_callgroup_alternative(call_object *co)
{
    if (!co || co->call_group_index >= co->call_group_buddies_count || co->call_group_index < 0 ||
        co->call_group_index >= (int)(sizeof co->call_group_buddies / sizeof co->call_group_buddies[0]))
        return nullptr;
    return co->call_group_buddies[co->call_group_index++];
}

SM_ACTION(sm_sip_set_address_info)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co ? co->cl_sip : nullptr;
    LOGD_CALL(SIP, 5, co, "for co %p (index %i) -- nh %p cosip %p coaddrinfo %p!", (void *)co, co ? co->index : -1,
              leg ? (void *)leg->nh : nullptr, (void *)leg, leg ? (void *)leg->address_info : nullptr);
    if (leg && leg->tmpsip && !leg->address_info)
        leg->address_info = allocate_address_info(leg->tmpsip);
    return {SM_NO_DECISION, SM_ROW_EVENT};
}

void sip_admission_set_hooks(const sip_admission_hooks *h)
{
    if (!h) {
        hooks = unfilled;
        return;
    }
    if (h->init_incoming_sip_to_analog_call)
        hooks.init_incoming_sip_to_analog_call = h->init_incoming_sip_to_analog_call;
    if (h->init_incoming_sip_to_cas_call)
        hooks.init_incoming_sip_to_cas_call = h->init_incoming_sip_to_cas_call;
    if (h->tarn_send_event)
        hooks.tarn_send_event = h->tarn_send_event;
    if (h->tarn_gsm_send_event)
        hooks.tarn_gsm_send_event = h->tarn_gsm_send_event;
    if (h->apply_sip_user_user_to_bc)
        hooks.apply_sip_user_user_to_bc = h->apply_sip_user_user_to_bc;
    if (h->sm_add_vaz_to_new_destination)
        hooks.sm_add_vaz_to_new_destination = h->sm_add_vaz_to_new_destination;
}

// ---- the admission -------------------------------------------------------------------

namespace {

// Step 6: a temporary object answers for a request that found none.
void refuse_without_call_object(nua_t *nua, nua_handle_t *nh)
{
    LOGD(TARN, 0, nullptr, "CRITICAL: couldn't get free call handle!");
    call_object *tmp = (call_object *)calloc(1, sizeof *tmp);
    if (!tmp) {
        drop_request_handle(nullptr, nh);
        return;
    }
    init_call_object(tmp, -1);
    tmp->callinfo = CI_INUSE;
    tmp->special_termination_reason = 3;
    int code = 0;
    const char *text = nullptr;
    get_reject_cause(TECH_SIP, TECH_TARN, 903, &code, &text);
    send_refusal(tmp, nua, nh, code, text, nullptr);
    drop_request_handle(tmp, nh);
    count_refusal_slot0();
    reset_op(tmp);
    free(tmp);
}

call_object *take_call_object(call_object *co, bool emergency)
{
    if (co)
        return co;
    co = get_free_operation_handle(1);
    if (!co && emergency) {
        LOGM(TARN, 16, "%s init_incoming_sip_call(%p): emergency call termination => no co!", cinfo(nullptr),
             (void *)nullptr);
        emergency_terminate_call(nullptr);
        co = get_free_operation_handle(1);
    }
    return co;
}

bool reserve_media(call_object *co)
{
    if (msp_request_resource(co, &co->msp_resources_reserved, MSPRES_G711_20) == 0)
        return true;
    if (co->f.emergency) {
        LOGM(TARN, 16, "%s init_incoming_sip_call(%p): emergency call termination => no msp!", cinfo(co),
             (void *)co);
        emergency_terminate_call(co);
        if (msp_request_resource(co, &co->msp_resources_reserved, MSPRES_G711_20) == 0)
            return true;
    }
    return false;
}

bool reserve_rtp_port(call_object *co)
{
    call_leg_sip *in = co->cl_sip_in;
    if (in->rtp_local_port)
        return true;
    if (update_rtp_port(co, in))
        return true;
    if (co->f.emergency) {
        LOGM(TARN, 16, "%s init_incoming_sip_call(%p): emergency call termination => no rtp!", cinfo(co),
             (void *)co);
        emergency_terminate_call(co);
        if (update_rtp_port(co, in))
            return true;
    }
    return false;
}

void trace_line_taken(call_object *co)
{
    const dialplan_element *dp = co->dp;
    LOGD_CALL(TARN, 7, co, "IN %s %s -- OUT %s %s", from_user_of(co), to_user_of(co), text_or_empty(co->new_source),
              text_or_empty(co->new_destination));
    print_verbose_extra_info_incoming_invite(co);
    const char *src = text_or_empty(co->new_source), *dst = text_or_empty(co->new_destination);
    const char *src_auto = co->new_source_auto ? co->new_source_auto : src;
    const char *dst_auto = co->new_destination_auto ? co->new_destination_auto : dst;
    _verbose_msg(__FILE__, __LINE__, __func__,
                 "D INCOMING:CID=%05i<br>%s=>%s, from_id=%s, to_id=%s, line=%i<br>new_src=%s, new_src_auto=%s<br>"
                 "new_dest=%s, new_dest_auto=%s\n",
                 co->pid, dialplan_get_tech_name(dp->from_tech), dialplan_get_tech_name(dp->to_tech),
                 text_or_empty(dp->from_id), text_or_empty(dp->to_id), dp->line, src, src_auto, dst, dst_auto);
}

// Step 15: the dial plan loop, until a line's admission ends it.
void route_request(call_object *co, const char *network_ip, int network_port, nua_event_t event, int status,
                   char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh, sip_t const *sip,
                   const request_marks &marks)
{
    call_leg_sip *in = co->cl_sip_in;
    int start = 0;
    bool first = true;
    for (;;) {
        // 15.1
        dialplan_element *dp = dialplan_search_from_sip(co, start);
        // 15.2
        if (!dp) {
            refuse_no_dialplan(co, nua, nh);
            return;
        }
        // 15.3
        if (co->cl_sip_out && co->cl_sip_out->ss)
            update_rtp_port(co, co->cl_sip_out);
        if (!in->pd) {
            const url_t *cu = sip->sip_contact ? sip->sip_contact->m_url : nullptr;
            if (!cu || !cu->url_host) {
                drop_request_handle(co, nh);
                reset_call(co);
                count_refusal_slot0();
                return;
            }
            in->pd = parse_proxy_definition(cu->url_host);
        }
        // 15.4
        answer_trying(co, nua, nh, sip, first);
        first = false;
        // 15.5
        co->cdr.to = dp->to_tech;
        trace_line_taken(co);
        // 15.6
        dialplan_build_active_configuration(co, marks.override ? co->cc_override : nullptr);
        // 15.7
        if (co->cc.disable_prack)
            nua_set_hparams(nh, SIPTAG_SUPPORTED_STR("timer, replaces"), TAG_END());
        in->prack_allowed = sip->sip_allow && sip_is_allowed(sip->sip_allow, sip_method_prack, "PRACK") ? 1 : 0;
        // 15.8
        if (co->cc.s2s_rtp_handling_method) {
            release_all_rtp_ports(in);
            if (!get_free_passthrough_port(co, in)) {
                LOGD_CALL(TARN, 0, co, "CRITICAL: no free RTP passthrough channels!");
                refuse_request(co, nua, nh, 901, 3);
                count_refusal_slot0();
                return;
            }
        }
        // 15.9
        apply_privacy(co, sip, marks);
        // 15.10
        cc_recompute_dtmf(co);
        // 15.11
        int result = dispatch(co, network_ip, network_port, event, status, phrase, nua, magic, nh, sip);
        if (result != -1)
            return;
        // 15.12
        co->f.dialplan_entry_skipped = 1;
        start = dp->index + 1;
    }
}

} // namespace

void init_incoming_sip_call(const char *network_ip, int network_port, nua_event_t event, int status,
                            char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh, call_object *co,
                            sip_t const *sip, tagi_t tags[])
{
    (void)tags;
    // 1.
    gp->callstat.counter_sip_to_pstn++;
    time_t started = time(nullptr);
    // 2.
    if (!sip) {
        LOGD_CALL(TARN, 0, co, "CRITICAL: necessary sip information not available, cancelling call, resetting call "
                               "object");
        if (co) {
            print_verbose_sip_msg(0, co, "CANCEL");
            co->cdr.terminated_by = 0;
            co->cdr.tc_incoming_event = 3;
            LOGM(SIP, 16, "%s S SEND: NUA_DESTROY", cinfo(co));
            LOGD_CALL(SIP, 5, co, "S SEND: nua_destroy");
            drop_request_handle(co, nh);
            reset_call(co);
        } else {
            LOGM(SIP, 16, "%s S SEND: NUA_DESTROY", cinfo(nullptr));
            LOGD(SIP, 5, nullptr, "S SEND: nua_destroy");
            drop_request_handle(nullptr, nh);
        }
        return;
    }
    // 3.
    if (gp->reject_calls) {
        LOGD(TARN, 3, nullptr, "Rejecting incoming SIP call => tarn shutting down");
        drop_request_handle(co, nh);
        return;
    }
    // 4.
    if (!is_incoming_call_allowed()) {
        drop_request_handle(co, nh);
        return;
    }
    // 5.
    request_marks marks;
    scan_headers(sip, &marks);
    // 6.
    co = take_call_object(co, marks.emergency);
    if (!co) {
        refuse_without_call_object(nua, nh);
        return;
    }
    if (marks.override) {
        call_configuration *record = cc_parse_call_configuration_pool(co, marks.config);
        cc_release_call_configuration(co->cc_override);
        co->cc_override = record; // the lookup's reference is the call's
    }
    // 7.
    if (!co->cl_sip_in) {
        co->cl_sip_in = get_new_sip_call_leg();
        if (!co->cl_sip_in) {
            refuse_request(co, nua, nh, 903, 3);
            count_refusal_slot0();
            return;
        }
        co->cl_sip_in->nua = nua;
        co->cl_sip_in->ss = get_sip_stack_by_nua(nua);
    }
    LOGN(SIP, 0, "INCOMING CALL FROM SIP: PID %i", co->pid);
    activate_call_leg(co, co->cl_sip_in);
    call_leg_sip *in = co->cl_sip_in;
    // 8.
    if (event == nua_i_message) {
        co->f.is_sip_message = 1;
        free(co->sip_msg_buf);
        co->sip_msg_buf = nullptr;
        if (sip->sip_payload && sip->sip_payload->pl_data)
            co->sip_msg_buf = strndup(sip->sip_payload->pl_data, sip->sip_payload->pl_len);
    }
    // 9.
    co->f.call_initiated_by_sip = 1;
    co->f.emergency = marks.emergency;
    co->f.hdlc = marks.hdlc;
    cc_init_call_configuration(&co->cc);
    co->cdr.call_start = started;
    co->cdr.from = TECH_SIP;
    in->nh = nh;
    snprintf(in->sip_peer_network_ip, sizeof in->sip_peer_network_ip, "%s", network_ip ? network_ip : "");
    in->sip_peer_network_port = network_port;
    if (sip->sip_user_agent && sip->sip_user_agent->g_string &&
        strncasecmp(sip->sip_user_agent->g_string, "Davnole", 7) == 0)
        co->f.invite_from_davnole = 1;
    // 10.
    arm_safeguard_timer(co);
    in->last_nua_event = -1;
    nua_handle_bind(nh, (nua_hmagic_t *)co);
    nua_set_hparams(nh, NUTAG_AUTOANSWER(0), SOATAG_ADDRESS(sip_stack_origin_address(in->ss)), TAG_END());
    // 11.-12.
    free_address_info(in->address_info);
    in->address_info = allocate_address_info(sip);
    if (!in->address_info) {
        refuse_request(co, nua, nh, 903, 3);
        count_refusal_slot0();
        return;
    }
    fill_address_info(in->address_info, sip, marks);
    // 13.
    if (!reserve_media(co)) {
        LOGD_CALL(TARN, 0, co, "CRITICAL: couldn't allocate msp resource!");
        refuse_request(co, nua, nh, 901, 4);
        count_refusal_slot0();
        return;
    }
    // 14.
    if (!reserve_rtp_port(co)) {
        co->special_termination_reason = 3;
        int code = 0;
        const char *text = nullptr;
        get_reject_cause(TECH_SIP, TECH_TARN, 903, &code, &text);
        send_refusal(co, nua, nh, code, text, nullptr);
        print_verbose_sip_msg(0, co, text_or_empty(text));
        LOGD_CALL(TARN, 0, co, "no free rtp ports found");
        co->cdr.tc_incoming_event = 3;
        LOGN(SIP, 0, "INCOMING CALL FROM SIP REJECTED, NO RESOURCES: PID %i", co->pid);
        drop_request_handle(co, nh);
        reset_call(co);
        count_refusal_slot0();
        return;
    }
    // 15. The request stays in the leg while the lines are tried (the
    // search and the rewriting read its headers).
    in->tmpsip = sip;
    route_request(co, network_ip, network_port, event, status, phrase, nua, magic, nh, sip, marks);
    if (co->cl_sip_in == in)
        in->tmpsip = nullptr;
}
