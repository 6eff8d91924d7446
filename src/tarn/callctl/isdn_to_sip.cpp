#include "isdn_to_sip.h"

#include <sofia-sip/nta_tag.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/soa_tag.h>
#include <strings.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analog_callctl_internal.h"
#include "application.h"
#include "call_object.h"
#include "causes.h"
#include "cc_internal.h"
#include "confman.h"
#include "dialplan.h"
#include "dialplan_mangle.h"
#include "dialplan_search.h"
#include "dialplan_vars.h"
#include "isdn_events.h"
#include "log.h"
#include "log_backend.h"
#include "media_relay.h"
#include "media_start.h"
#include "media_voice.h"
#include "misdn_bchannel.h"
#include "misdn_invokeid.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "rtp_ports.h"
#include "schema.h"
#include "sdp_offer_answer.h"
#include "sip_headers.h"
#include "sip_request_order.h"
#include "sip_responses.h"
#include "sip_trace.h"
#include "xdv_headers.h"
#include "sm_defs.h"
#include "sm_events.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "statemachine.h"
#include "timer.h"

namespace {

// ---- hooks -----------------------------------------------------------------------------------

void not_built(std::atomic<bool> &said, const char *what)
{
    if (!said.exchange(true))
        LOGD(ISDN, 0, nullptr, "CRITICAL: %s is not part of this build", what);
}

int authorization_not_built(call_object *, const char *, const char *, int, int, int, const char *, const char *)
{
    static std::atomic<bool> said{false};
    not_built(said, "call_query_authorization_server");
    return 1;
}

isdn_to_sip_hooks_record hooks = {authorization_not_built};

// ---- small helpers ---------------------------------------------------------------------------

constexpr statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};

call_object *call_of(void *p)
{
    return (call_object *)p;
}

isdn_leg_info *leg_of(call_object *co)
{
    return co->legi ? co->legi : &co->_legi;
}

void remove_timer(kv_timer *&t)
{
    if (t) {
        timer_remove(t);
        t = nullptr;
    }
}

// A timer of the call: seconds (at least one tick) and event, or null.
kv_timer *arm(int seconds, int event)
{
    kv_timer *t = (kv_timer *)calloc(1, sizeof *t);
    if (!t)
        return nullptr;
    t->tv.tv_sec = seconds > 0 ? seconds : 0;
    t->tv.tv_usec = seconds > 0 ? 0 : 10000;
    if (timer_add(cb_timer_event, event, t) != 0) {
        free(t);
        return nullptr;
    }
    return t;
}

void set_text(char **slot, const char *text)
{
    free(*slot);
    *slot = text ? strdup(text) : nullptr;
}

enum { PORT_SECTION = 1 };

// A port setting of tarn.isdn, or the fallback.
std::string port_setting(int port, int key, const char *fallback)
{
    char buf[256];
    if (!gp->config_isdn || cm_get(gp->config_isdn, buf, sizeof buf, PORT_SECTION, key, port) != 0 || !buf[0])
        return fallback;
    return buf;
}

int dialtone_digits(int port)
{
    int n = atoi(port_setting(port, CFG_ISDN_PORT_DIALTONE_DIGITS, "0").c_str());
    return n < 0 ? 0 : n > 9 ? 9 : n;
}

// The numbers with their type-of-number prefix (bc_dad and bc_oad are the
// call's 64-byte line number fields).
void update_bc_numbers(call_object *co)
{
    misdn_bchannel *bc = co->bc;
    if (!bc || !co->bc_dad || !co->bc_oad)
        return;
    const call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    dialplan_prefix_ton(co->bc_dad, sizeof co->pstn_dad, bc->dad, bc->dton, cc);
    dialplan_prefix_ton(co->bc_oad, sizeof co->pstn_oad, bc->oad, bc->oton, cc);
}

// The emergency numbers of the SIP group the call goes to, else the
// port groups' default ones.
const char *emergency_numbers(const call_object *co)
{
    const call_leg_sip *leg = co->cl_sip;
    if (leg && leg->pd && leg->pd->name) {
        const port_group_sip *pgs = pg_get_port_group_sip_by_name(leg->pd->name, nullptr);
        if (pgs)
            return pgs->pgs_emergency_numbers;
    }
    const port_groups *pg = pg_port_groups();
    return pg ? pg->default_emergency_numbers : nullptr;
}

bool is_emergency_number(const char *number, const char *list)
{
    if (!list || !number)
        return false;
    std::string all(list);
    size_t start = 0;
    while (start <= all.size()) {
        size_t bar = all.find('|', start);
        std::string item = all.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (!item.empty() && item == number)
            return true;
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return false;
}

bool any_sent(const isdn_leg_info *legi, std::initializer_list<int> slots)
{
    for (int s : slots)
        if (legi->events_sent[s])
            return true;
    return false;
}

// The end of a call that goes nowhere: DISCONNECT (with the hang-up tone on
// NT) once the network heard from us, else RELEASE COMPLETE.
statemachine_handle_retval dismantle_without_route(call_object *co, void *arg, int32_t state, int32_t event)
{
    misdn_bchannel *bc = co->bc;
    isdn_leg_info *legi = leg_of(co);
    if (any_sent(legi, {LEGI_SETUP_ACKNOWLEDGE, LEGI_PROCEEDING, LEGI_PROGRESS, LEGI_ALERTING})) {
        if (!legi->events_sent[LEGI_DISCONNECT])
            tarn_misdn_lib_send_event(co, EVENT_DISCONNECT);
        if (bc && bc->nt) {
            sm_msp_start_tone_hangup(co, arg, state, event);
            return {SM_DISMANTLING, SM_NO_EVENT};
        }
        return {SM_DESTROYING, SM_NO_EVENT};
    }
    tarn_misdn_lib_send_event(co, EVENT_RELEASE_COMPLETE);
    return {SM_DESTROYING, SM_NO_EVENT};
}

void set_reject_cause(call_object *co, int internal)
{
    int cause = 0;
    const char *text = nullptr;
    get_reject_cause(TECH_ISDN, TECH_TARN, internal, &cause, &text);
    if (co->bc)
        co->bc->out_cause = cause;
}

void drop_dialplan_line(call_object *co)
{
    if (co->dp) {
        dialplan_cleanup_element(co->dp);
        free(co->dp);
        co->dp = nullptr;
    }
}

// SDP with its line ends visible, for the debug line.
std::string visible_line_ends(const char *text)
{
    std::string out;
    for (const char *c = text; *c; c++)
        out += *c == '\r' ? std::string("\\r") : *c == '\n' ? std::string("\\n") : std::string(1, *c);
    return out;
}

void append(char *buf, size_t size, const char *text)
{
    size_t n = strlen(buf);
    if (n + 1 < size)
        snprintf(buf + n, size - n, "%s", text);
}

} // namespace

void isdn_to_sip_set_hooks(const isdn_to_sip_hooks_record *h)
{
    if (!h)
        return;
    if (h->call_query_authorization_server)
        hooks.call_query_authorization_server = h->call_query_authorization_server;
}

const isdn_to_sip_hooks_record &isdn_to_sip_hooks()
{
    return hooks;
}

// ---- the prefix rule -------------------------------------------------------------------------

void vaz_apply(call_object *co, int format, char **number, char **previous, int *modified, const char *what)
{
    const call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    // 1. 2. 3.
    if (format == 0 || !cc->sip_international_code[0] || !*number)
        return;
    const char *n = *number;
    size_t len = strlen(n);
    if (len < 3 || strspn(n, "0123456789") != len)
        return;
    if (is_emergency_number(n, emergency_numbers(co)))
        return;
    // 4.
    std::string base = *modified && *previous ? *previous : n;
    // 5. 6.
    const char *prefix = format == 1 ? "00" : format == 2 ? "+" : "";
    char out[256];
    if (base.compare(0, 2, "00") == 0)
        snprintf(out, sizeof out, "%s%s", prefix, base.c_str() + 2);
    else if (base[0] == '0')
        snprintf(out, sizeof out, "%s%s%s", prefix, cc->sip_international_code, base.c_str() + 1);
    else
        snprintf(out, sizeof out, "%s%s%s%s", prefix, cc->sip_international_code, cc->sip_national_code,
                 base.c_str());
    // 7.
    if (base != out)
        LOGD_CALL(TARN, 5, co, "vaz_modification %s |%s| => |%s|", what, base.c_str(), out);
    set_text(previous, base.c_str());
    *modified = 1;
    set_text(number, out);
}

SM_ACTION(sm_add_vaz_to_new_source)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    const call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    int modified = co->f.new_source_modified_with_vaz;
    vaz_apply(co, (int)cc->i2s_source_numformat, &co->new_source, &co->new_source_previous, &modified, "new_source");
    co->f.new_source_modified_with_vaz = modified;
    return ROW;
}

SM_ACTION(sm_add_vaz_to_new_destination)
{
    call_object *co = call_of(p);
    sm_add_vaz_to_new_source(p, arg, state, event);
    const call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    int modified = co->f.new_destination_modified_with_vaz;
    vaz_apply(co, (int)cc->i2s_destination_numformat, &co->new_destination, &co->new_destination_previous,
              &modified, "new_destination");
    co->f.new_destination_modified_with_vaz = modified;
    return ROW;
}

// ---- digits, dial plan, dial timer -----------------------------------------------------------

SM_ACTION(sm_isdn_to_sip_incoming_digits)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    misdn_bchannel *bc = co->bc;
    if (!bc)
        return ROW;
    // 1. 2.
    co->dialplan_start_index = 0;
    LOGD_CALL(ISDN, 7, co, "got digit");
    const call_configuration *src = co->cc_source ? co->cc_source : &co->cc;
    if ((isdn_port_is_ptp(bc->port) || bc->nt) && !bc->sending_complete && !src->skip_setup_ack &&
        !leg_of(co)->events_sent[LEGI_SETUP_ACKNOWLEDGE])
        tarn_misdn_lib_send_event(co, EVENT_SETUP_ACKNOWLEDGE);
    // 3.
    if (!co->f.overlap_dialing && bc->use_complete_dialing_pound_star)
        bc->dad[strcspn(bc->dad, "*#")] = '\0';
    // 4. dad holds 31 characters at most
    char dad[32];
    snprintf(dad, sizeof dad, "%s%s%s", bc->dad, bc->info_dad, bc->keypad);
    snprintf(bc->dad, sizeof bc->dad, "%s", dad);
    bc->info_dad[0] = '\0';
    bc->keypad[0] = '\0';
    // 5.
    update_bc_numbers(co);
    // 6.
    int n = dialtone_digits(bc->port);
    if ((int)strlen(bc->dad) > n) {
        call_stop_msp_tone(co, 1);
    } else if (bc->nt) {
        std::string tones = port_setting(bc->port, CFG_ISDN_PORT_TONES, "de");
        std::string code;
        for (char c : tones)
            if (c != '[' && c != ']')
                code += c;
        call_stop_rtp(co, 1);
        call_start_msp_tone(co, code.c_str(), 0);
    }
    return ROW;
}

namespace {

void search_dialplan(call_object *co)
{
    LOGD_CALL(ISDN, 7, co, "searching dialplan");
    if (!dialplan_search_from_isdn(co) || !co->dp)
        return;
    line_to_sip_take_dialplan_line(co);
    update_bc_numbers(co);
    LOGD_CALL(ISDN, 7, co, "found dialplan");
}

} // namespace

SM_ACTION(sm_isdn_to_sip_search_dialplan)
{
    (void)arg, (void)state, (void)event;
    search_dialplan(call_of(p));
    return ROW;
}

SM_ACTION(sm_isdn_to_sip_mangle_numbers)
{
    (void)arg, (void)state, (void)event;
    dialplan_mangle_names_pstn_to_sip(call_of(p));
    return ROW;
}

SM_ACTION(sm_remove_current_dialplan_entry)
{
    (void)arg, (void)state, (void)event;
    drop_dialplan_line(call_of(p));
    return ROW;
}

SM_ACTION(sm_reset_call_configuration)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    cc_init_call_configuration(&co->cc);
    cc_release_call_configuration(co->cc_source);
    cc_release_call_configuration(co->cc_destination);
    co->cc_source = co->cc_destination = &gp->default_call_configuration;
    return ROW;
}

SM_ACTION(sm_isdn_to_sip_check_if_dialing_complete)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    misdn_bchannel *bc = co->bc;
    if (!bc)
        return ROW;
    const call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    bool complete;
    if (bc->use_complete_dialing_pound_star) {
        char *mark = strpbrk(bc->dad, "*#");
        complete = mark != nullptr;
        if (mark) {
            // The dial plan was searched with the end mark in the number
            // ("123#"): the number before it is the one to route and call.
            *mark = '\0';
            co->dialplan_start_index = 0;
            update_bc_numbers(co);
            search_dialplan(co);
        }
    } else {
        complete = strlen(bc->dad) >= cc->interdigit_dialing_max_digits || bc->sending_complete ||
                   (co->dp && co->dp->cc && co->dp->cc->dialplan_finish_dialing_on_match);
    }
    if (complete && co->dp) {
        LOGD_CALL(ISDN, 5, co, "dialing is complete");
        add_sm_task(co, sm_general(GENERAL_EVENT_SEND_INVITE));
    }
    return ROW;
}

SM_ACTION(sm_isdn_to_sip_reset_dial_timer)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    misdn_bchannel *bc = co->bc;
    if (!co->timer || !bc || !bc->dad[0])
        return ROW;
    int seconds = (int)strlen(bc->dad) > dialtone_digits(bc->port) ? co->overlap_dialing_timeout
                                                                     : co->overlap_dialing_initial_timeout;
    LOGD_CALL(ISDN, 8, co, "resetting timer");
    timer_reset_interval(co->timer, seconds > 0 ? seconds : 0, seconds > 0 ? 0 : 10000);
    timer_restart(co->timer);
    return ROW;
}

SM_ACTION(sm_isdn_to_sip_send_dialplan_found_signal)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    const call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    if (co->bc) {
        co->bc->progress_indicator = (int)cc->isdn_progress_indicator;
        co->bc->progress_location = (int)cc->isdn_progress_location;
    }
    add_sm_task(co, sm_general(GENERAL_EVENT_DIALPLAN_MATCH_FOUND));
    return ROW;
}

SM_ACTION(sm_isdn_to_sip_dismantle_call_if_no_dialplan)
{
    call_object *co = call_of(p);
    if (co->dp)
        return ROW;
    LOGD_CALL(ISDN, 5, co, "No dialplan");
    set_reject_cause(co, co->f.call_limit_exceeded ? 918 : 904);
    return dismantle_without_route(co, arg, state, event);
}

SM_ACTION(sm_isdn_to_sip_authorize_call)
{
    call_object *co = call_of(p);
    const call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    if (!co->dp || !cc->authorization_server[0] || !co->bc)
        return ROW;
    misdn_bchannel *bc = co->bc;
    int allowed = hooks.call_query_authorization_server(co, cc->authorization_server,
                                                        cc->authorization_server_credentials, 0, bc->port, co->pid,
                                                        bc->dad, bc->oad);
    LOGD_CALL(ISDN, 5, co, "authorization server %s says %i", cc->authorization_server, allowed);
    if (allowed != 0)
        return ROW;
    drop_dialplan_line(co);
    set_reject_cause(co, 915);
    return dismantle_without_route(co, arg, state, event);
}

SM_ACTION(sm_keep_state_if_no_dialplan)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (co->dp)
        return ROW;
    LOGD_CALL(ISDN, 7, co, "keeping state");
    return {SM_KEEP_STATE, SM_NO_EVENT};
}

// ---- the INVITE ------------------------------------------------------------------------------

int init_sip_failover_timers(call_object *co)
{
    const call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    // 1.
    remove_timer(co->failover_timer);
    if (cc->sip_failover_timeout != 0 && cc->sip_failover_proxy[0])
        co->failover_timer = arm(cc->sip_failover_timeout, T_EVENT_FAILOVER_TIMEOUT);
    // 2.
    remove_timer(co->sip_t0_timer);
    remove_timer(co->sip_t180_timer);
    remove_timer(co->sip_t183_timer);
    remove_timer(co->sip_t200_timer);
    // 3.
    if (!cc->sip_txx_timeout[0])
        return 0;
    char copy[256];
    snprintf(copy, sizeof copy, "%s", cc->sip_txx_timeout);
    static const struct {
        const char *name;
        kv_timer *call_object::*slot;
        int event;
    } kinds[] = {
        {"T0:", &call_object::sip_t0_timer, T_EVENT_SIP_T0_TIMEOUT},
        {"T180:", &call_object::sip_t180_timer, T_EVENT_SIP_T180_TIMEOUT},
        {"T183:", &call_object::sip_t183_timer, T_EVENT_SIP_T183_TIMEOUT},
        {"T200:", &call_object::sip_t200_timer, T_EVENT_SIP_T200_TIMEOUT},
    };
    char *save = nullptr;
    for (char *item = strtok_r(copy, ";", &save); item; item = strtok_r(nullptr, ";", &save)) {
        for (const auto &k : kinds) {
            size_t len = strlen(k.name);
            if (strncmp(item, k.name, len) != 0)
                continue;
            int n = atoi(item + len);
            if (n >= 1 && n <= 599) {
                remove_timer(co->*k.slot);
                co->*k.slot = arm(n, k.event);
            }
        }
    }
    return 0;
}

SM_ACTION(sm_isdn_to_sip_send_invite)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    call_leg_sip *leg = co->cl_sip;
    // 1.
    LOGD_CALL(SIP, 7, co, "here");
    if (!leg)
        return {SM_DISMANTLING, SM_NO_EVENT};
    if (leg->nh) {
        nua_handle_bind(leg->nh, nullptr);
        nua_handle_destroy(leg->nh);
        leg->nh = nullptr;
    }
    // 2.
    if (co->cc.rtp_loopback) {
        add_sm_task(co, sm_general(GENERAL_EVENT_RTP_LOOPBACK));
        return ROW;
    }
    call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    misdn_bchannel *bc = co->bc;
    // 3.
    char headers[2048] = "";
    if (cc->ie_on_sip && bc) {
        sip_isdn_headers(co, headers, sizeof headers);
        if (co->f.overlap_dialing)
            append(headers, sizeof headers, "X-DV_SENDINGCOMPLETE: complete=0\r\n");
        if (bc->fac_in.Function == Fac_MLPP) {
            const FacMLPPParm &m = bc->fac_in.u.MLPP;
            char line[256];
            snprintf(line, sizeof line,
                     "X-DV_FACILITY_MLPP: precLevel=%i;lfbIndication=%i;internationalId=%i,%i;mlppDomainId=%i,%i,%i\r\n",
                     m.precLevel, m.lfbIndication, m.internationalID[0], m.internationalID[1],
                     m.mlppServiceDomain[0], m.mlppServiceDomain[1], m.mlppServiceDomain[2]);
            append(headers, sizeof headers, line);
            bc->fac_in.Function = Fac_None;
        }
    }
    // 4.
    if (update_rtp_port(co, leg) == 0) {
        LOGD(SIP, 32, cinfo(co), "%s could'nt get free RTP port\n", cinfo(co));
        return {SM_DISMANTLING, SM_NO_EVENT};
    }
    // 5. 6.
    codec_settings codecs = cc->codecs;
    if (bc && bc->capability == 8) {
        if (cc->clearmode_auto == 1) {
            cc_clear_codec_settings(&codecs);
            cc_allow_codecs(&codecs, "CLEARMODE");
        } else if (cc->clearmode_auto == 2) {
            char list[512];
            cc_format_codec_settings(&codecs, list, sizeof list);
            if (!strcasestr(list, "CLEARMODE")) {
                append(list, sizeof list, ":CLEARMODE");
                cc_clear_codec_settings(&codecs);
                cc_allow_codecs(&codecs, list);
            }
        }
    }
    if (cc->hdlc)
        co->f.hdlc = 1;
    char sdp[4096] = "";
    create_sdp_string(co, sdp, sizeof sdp, &codecs, leg->rtp_local_port, 1);
    co->f.hdlc = 0;
    char invite_headers[2048] = "";
    format_invite_headers(co, invite_headers, sizeof invite_headers);
    append(headers, sizeof headers, invite_headers);
    xheader_add(co, headers, sizeof headers);
    if (cc->tr119)
        set_headbuf_1tr119_invite_headers(headers, sizeof headers);
    // 7.
    init_sip_failover_timers(co);
    // 8.
    char from[1024], to[1024];
    format_from_and_to(co, from, sizeof from, to, sizeof to);
    snprintf(leg->sip_origin_address, sizeof leg->sip_origin_address, "%s", from);
    snprintf(leg->sip_outbound_address, sizeof leg->sip_outbound_address, "%s", to);
    if (!leg->nua) {
        LOGD_CALL(SIP, 1, co, "CRITICAL: no SIP stack for the call");
        return {SM_DISMANTLING, SM_NO_EVENT};
    }
    leg->nh = nua_handle(leg->nua, (nua_hmagic_t *)co, SIPTAG_FROM_STR(from), SIPTAG_TO_STR(to),
                         NUTAG_AUTOANSWER(0), SOATAG_ADDRESS(sdp_origin_address(leg)), TAG_END());
    if (!leg->nh) {
        LOGD_CALL(SIP, 1, co, "CRITICAL: no SIP handle for the call (from %s to %s)", from, to);
        return {SM_DISMANTLING, SM_NO_EVENT};
    }
    // 9.
    const dialplan_element *dp = co->dp;
    _verbose_msg(__FILE__, __LINE__, __func__,
                 "D INCOMING|CID=%05i<br>%s=>%s, from_id=%s, to_id=%s, line=%i<br>iport:%i, channel: %i<br>newsrc=%s, "
                 "newsrc_auto=%s<br>newdest=%s, newdestauto=%s\n",
                 co->pid, dialplan_get_tech_name(dp ? dp->from_tech : 0), dialplan_get_tech_name(dp ? dp->to_tech : 0),
                 dp && dp->from_id ? dp->from_id : "", dp && dp->to_id ? dp->to_id : "", dp ? dp->line : 0,
                 bc ? bc->port : 0, bc ? bc->channel : 0, co->new_source ? co->new_source : "",
                 co->new_source_auto ? co->new_source_auto : (co->new_source ? co->new_source : ""),
                 co->new_destination ? co->new_destination : "",
                 co->new_destination_auto ? co->new_destination_auto
                                          : (co->new_destination ? co->new_destination : ""));
    print_verbose_extra_info_outgoing_invite_pstn_to_sip(co);
    // 10.
    if (cc->pae_headers && bc && bc->uulen > 0) {
        char c1[256], c2[256];
        parse_pae_uu(bc, c1, sizeof c1, c2, sizeof c2);
        bc->uulen = 0;
        if (c1[0]) {
            append(headers, sizeof headers, c1);
            append(headers, sizeof headers, "\r\n");
            if (c2[0]) {
                append(headers, sizeof headers, c2);
                append(headers, sizeof headers, "\r\n");
            }
        }
    }
    // 11.
    const char *proxy = co->dns_enum_regex[0] ? co->dns_enum_regex
                        : leg->pd && leg->pd->proxy_nutag_address_string && leg->pd->proxy_nutag_address_string[0]
                            ? leg->pd->proxy_nutag_address_string
                            : nullptr;
    const char *contact = co->mangled.pstn_to_sip.contact;
    nua_invite(leg->nh, TAG_IF(cc->disable_prack, SIPTAG_SUPPORTED_STR("timer, replaces")),
               TAG_IF(proxy, NTATAG_DEFAULT_PROXY(proxy)), TAG_IF(headers[0], SIPTAG_HEADER_STR(headers)),
               SOATAG_USER_SDP_STR(sdp), SOATAG_ADDRESS(sdp_origin_address(leg)),
               TAG_IF(contact[0], SIPTAG_CONTACT_STR(contact)), TAG_END());
    co->f.sdp_offer_sent = 1;
    // 12.
    if (log_levels_debug_enabled && log_get_loglevel(log_levels_debug, SIP) > 4)
        LOGD_CALL(SIP, 5, co, "from: %s ==> to: %s ==>sdp: %s", from, to, visible_line_ends(sdp).c_str());
    LOGM(SIP, 17, "%s S SEND: NUA_I_INVITE", cinfo(co));
    LOGM(SIP, 18, "%s S SEND: NUA_I_INVITE from %s", cinfo(co), from);
    LOGM(SIP, 18, "%s S SEND: NUA_I_INVITE to %s", cinfo(co), to);
    return ROW;
}

SM_ACTION(sm_isdn_to_sip_send_information_as_dtmf)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    misdn_bchannel *bc = co->bc;
    LOGD_CALL(SIP, 7, co, "here");
    if (!bc)
        return ROW;
    call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    std::string digits = std::string(bc->info_dad) + bc->keypad;
    for (char c : digits) {
        int code = convert_char_to_sipinfo_val(c);
        if (code < 0) {
            LOGD_CALL(SIP, 5, co, "Cannot send %c as sip info\n", c);
            continue;
        }
        uint32_t saved = cc->dtmfmode;
        cc->dtmfmode = 2;
        send_dtmf_to_sip(co, code, cc->dtmflen);
        cc->dtmfmode = saved;
    }
    call_stop_msp_tone(co, 1);
    return ROW;
}

// ---- fax, deflection, dial plan go-on --------------------------------------------------------

void pstn_to_sip_fax_detect_mangle_numbers(call_object *co, bool sip_to_sip)
{
    LOGD_CALL(TARN, 7, co, ":");
    const call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    if (!co->f.fax_calling_tone_detected || co->f.fax_redirect || !cc->faxdetect_extension[0])
        return;
    char *to_user = sip_to_sip ? co->mangled.sip_to_sip.to_user : co->mangled.pstn_to_sip.to_user;
    char *to_url = sip_to_sip ? co->mangled.sip_to_sip.to_url : co->mangled.pstn_to_sip.to_url;
    size_t to_user_size = sizeof co->mangled.pstn_to_sip.to_user, to_url_size = sizeof co->mangled.pstn_to_sip.to_url;
    // 1.
    snprintf(to_user, to_user_size, "%s", cc->faxdetect_extension);
    // 2.
    const port_group_sip *pgs = cc->faxdetect_proxy[0] ? pg_get_port_group_sip_by_name(cc->faxdetect_proxy, nullptr)
                                                       : nullptr;
    const char *group_proxy = pgs && pgs->pgs_sip_proxy && pgs->pgs_sip_proxy[0] ? pgs->pgs_sip_proxy : nullptr;
    call_leg_sip *out = co->cl_sip_out ? co->cl_sip_out : co->cl_sip;
    if (group_proxy && out && out->pd && pgs->pgs_nutag_proxy_address_string) {
        free(out->pd->proxy_nutag_address_string);
        out->pd->proxy_nutag_address_string = strdup(pgs->pgs_nutag_proxy_address_string);
    }
    // 3.
    int positions[10], lengths[10], count = 0;
    dialplan_find_variables_in_string(cc->faxdetect_extension, positions, lengths, &count, 10);
    char text[256];
    dialplan_replace_variables(co, cc->faxdetect_extension, text, sizeof text, positions, lengths, count);
    snprintf(to_user, to_user_size, "%s", text);
    if (group_proxy)
        snprintf(to_url, to_url_size, "%s", group_proxy);
    // 4.
    co->f.fax_redirect = 1;
}

SM_ACTION(sm_isdn_to_sip_fax_detect_mangle_numbers)
{
    (void)arg, (void)state, (void)event;
    pstn_to_sip_fax_detect_mangle_numbers(call_of(p), false);
    return ROW;
}

SM_ACTION(sm_isdn_to_sip_keep_dismantling_state_on_calldeflect)
{
    (void)arg, (void)state, (void)event;
    return call_of(p)->f.call_deflect_sent ? statemachine_handle_retval{SM_KEEP_STATE, SM_NO_EVENT} : ROW;
}

SM_ACTION(sm_isdn_to_sip_keep_dismantling_state_on_dialplan_go_on)
{
    (void)arg, (void)state, (void)event;
    return call_of(p)->f.dialplan_go_on_used ? statemachine_handle_retval{SM_KEEP_STATE, SM_NO_EVENT} : ROW;
}

// ---- clearing --------------------------------------------------------------------------------

SM_ACTION(sm_isdn_to_sip_check_for_sip_info_on_disconnect)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    const call_configuration *cc = co->cc_active ? co->cc_active : &co->cc;
    if (cc->sip_info_on_disconnect == 0)
        return ROW;
    if (cc->ie_on_sip && co->bc) {
        char ies[2048] = "";
        sip_isdn_headers(co, ies, sizeof ies);
        char headers[2100];
        snprintf(headers, sizeof headers, "X-DV_MESSAGE: DISCONNECT\r\n%s", ies);
        if (co->cl_sip && co->cl_sip->nh) {
            nua_info(co->cl_sip->nh, SIPTAG_HEADER_STR(headers), TAG_END());
            sip_info_sent(co->cl_sip);
            LOGM(SIP, 17, "%s S SEND: NUA_INFO", cinfo(co));
        }
        if (cc->sip_info_on_disconnect == 2)
            call_stop_msp_voice(co, 1);
    }
    return {SM_KEEP_STATE, SM_NO_EVENT};
}

SM_ACTION(sm_isdn_to_sip_disconnect_or_release_call)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (!co->bc)
        return ROW;
    if (leg_of(co)->events_received[LEGI_DISCONNECT]) {
        tarn_misdn_lib_send_event(co, EVENT_RELEASE);
    } else {
        co->bc->out_cause = 16;
        tarn_misdn_lib_send_event(co, EVENT_DISCONNECT);
    }
    return ROW;
}

// ---- advice of charge ------------------------------------------------------------------------

SM_ACTION(sm_isdn_start_aoc)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    aoc_definition &a = co->cc.aocdef;
    if (a.aoctype == AOC_TYPE_NONE || a.number_of_rules == 0)
        return ROW;
    a.current = 0;
    remove_timer(co->aoc_timer);
    co->aoc_timer = arm(100000, T_EVENT_AOC_OUTGOING_TIMER);
    add_sm_task(co, sm_timer(T_EVENT_AOC_OUTGOING_TIMER));
    return ROW;
}

SM_ACTION(sm_isdn_send_aoc_facility)
{
    (void)arg, (void)event;
    call_object *co = call_of(p);
    misdn_bchannel *bc = co->bc;
    aoc_definition &a = co->cc.aocdef;
    if (!bc || (uint32_t)state != SM_CALL_ACTIVE || a.current > 15)
        return ROW;
    if (a.aoctype != AOC_TYPE_CHARGING && a.aoctype != AOC_TYPE_CURRENCY)
        return ROW;
    const aoc_interval &r = a.aocintervals[a.current];
    if (co->aoc_timer) {
        timer_reset_interval(co->aoc_timer, r.interval > 0 ? r.interval : 0, r.interval > 0 ? 0 : 10000);
        timer_restart(co->aoc_timer);
    }
    memset(&bc->fac_out, 0, sizeof bc->fac_out);
    a.total_units += r.units;
    if (a.aoctype == AOC_TYPE_CHARGING) {
        bc->fac_out.Function = Fac_AOCDChargingUnit;
        bc->fac_out.u.AOCDchu.invokeId = misdn_get_invokeid();
        bc->fac_out.u.AOCDchu.recordedUnits = a.total_units;
    } else {
        bc->fac_out.Function = Fac_AOCDCurrency;
        bc->fac_out.u.AOCDcur.invokeId = misdn_get_invokeid();
        snprintf(bc->fac_out.u.AOCDcur.Currency, sizeof bc->fac_out.u.AOCDcur.Currency, "%.10s", a.currency);
        bc->fac_out.u.AOCDcur.CurrencyAmount = a.total_units;
        bc->fac_out.u.AOCDcur.Multiplier = a.multiplier;
    }
    isdn_send_unrecorded(bc, EVENT_FACILITY);
    a.repeat_counter++;
    if (r.repeats == 0 || (r.repeats > 0 && a.repeat_counter == r.repeats + 1)) {
        a.current++;
        a.repeat_counter = 0;
    }
    return ROW;
}
