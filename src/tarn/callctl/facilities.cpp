// Call deflection, advice of charge and other ISDN facilities toward SIP.
#include "facilities.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "application.h"
#include "base64.h"
#include "call_info.h"
#include "call_object.h"
#include "dialplan.h"
#include "dialplan_mangle.h"
#include "dialplan_vars.h"
#include "isdn_events.h"
#include "isdn_to_sip.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "misdn_invokeid.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "sip_request_order.h"
#include "sip_stack.h"
#include "sip_to_sip.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "state_tables.h"
#include "strtools.h"
#include "timer.h"
#include "xdv_headers.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_tag.h>

namespace {

const statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};
const statemachine_handle_retval DESTROYING = {SM_DESTROYING, SM_NO_EVENT};

enum { CONTACT_TEXT = 512, HEADER_TEXT = 2048, NOTICE_TEXT = 512 };

const char *text_of(const char *s) { return s ? s : ""; }

void copy32(char *dst, size_t size, const char *src)
{
    snprintf(dst, size, "%s", text_of(src));
}

isdn_leg_info *legi_of(call_object *co)
{
    return co->legi ? co->legi : &co->_legi;
}

const sip_t *current_message(const call_object *co)
{
    return co->cl_sip ? (const sip_t *)co->cl_sip->tmpsip : nullptr;
}

// The SIP port group of the call's SIP side: the dial-plan line's target
// when it is a SIP group, else its source (a call from SIP to ISDN).
const port_group_sip *sip_group_of_line(const call_object *co)
{
    const dialplan_element *dp = co->dp;
    if (!dp)
        return nullptr;
    const char *id = dp->to_tech == TECH_SIP ? dp->to_id : dp->from_tech == TECH_SIP ? dp->from_id : nullptr;
    if (!id || strlen(id) < 2)
        return nullptr;
    return pg_get_port_group_sip_by_name(id + 2, nullptr);
}

void send_info(call_object *co, const char *headers)
{
    call_leg_sip *leg = co->cl_sip;
    if (!leg || !leg->nh)
        return;
    nua_info(leg->nh, SIPTAG_HEADER_STR(headers), TAG_END());
    sip_info_sent(leg);
    LOGM(SIP, 17, "%s S SEND: NUA_INFO => %s", cinfo(co), headers);
}

void answer_302(call_object *co, const char *number, int ton)
{
    char contact[CONTACT_TEXT];
    get_sip_302_contact(co, contact, number, ton);
    LOGD_CALL(SIP, 5, co, "CD: sending 302");
    call_leg_sip *leg = co->cl_sip;
    if (leg && leg->nh)
        nua_respond(leg->nh, 302, "Moved Temporarily", SIPTAG_CONTACT_STR(contact), TAG_END());
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[302] \"Moved Temporarily\"", cinfo(co));
}

// The request's invoke id goes back unchanged: the facility coder reads and
// writes invoke ids as plain BER integers.
void answer_return_error(call_object *co, int invoke_id)
{
    misdn_bchannel *bc = co->bc;
    if (!bc)
        return;
    memset(&bc->fac_out, 0, sizeof bc->fac_out);
    bc->fac_out.Function = Fac_ReturnError;
    bc->fac_out.u.ReturnError.invokeId = invoke_id;
    bc->fac_out.u.ReturnError.errorValue = 1;
    LOGD_CALL(ISDN, 5, co, "CD: call deflection off, return error for invoke %i", invoke_id);
    tarn_misdn_lib_send_event(co, EVENT_FACILITY);
}

// The Diversion header of a handed-over call.
void diversion_header(call_object *co, call_object *from, char *buf, size_t size)
{
    if (!from->cc.diversion_string[0]) {
        snprintf(buf, size, "Diversion: <tel:%s>;reason=unconditional;counter=1\r\n",
                 from->bc ? from->bc->dad : "");
        return;
    }
    char value[1024];
    int counter = 0;
    dialplan_find_and_replace_variables_in_string(co, from->cc.diversion_string, value, sizeof value, &counter);
    snprintf(buf, size, "Diversion: %s\r\n", value);
}

void free_text(char **slot, const char *text)
{
    free(*slot);
    *slot = text ? strdup(text) : nullptr;
}

// The present SIP leg moves to a new SIP-to-SIP call toward the SIP side
// the call came from, with the deflection's number as destination.
statemachine_handle_retval hand_over(call_object *co, const char *number, int ton, const port_group_sip *pgs)
{
    call_leg_sip *leg = co->cl_sip;
    call_object *nc = get_free_operation_handle(1);
    call_leg_sip *fresh = nc ? get_new_sip_call_leg() : nullptr;
    call_leg_sip *out = fresh ? get_new_sip_call_leg() : nullptr;
    if (!nc || !fresh || !out || !leg) {
        LOGD_CALL(TARN, 0, co, "CRITICAL: no call object or SIP leg for the deflected call, answering 302");
        if (fresh)
            fresh->in_use = 0;
        if (nc)
            nc->callinfo = CI_FREE;
        answer_302(co, number, ton);
        return DESTROYING;
    }
    // 1. The leg, its handle and the dial-plan line go to the new call.
    nc->callinfo = CI_SIP_TO_SIP;
    nc->cl_sip_in = leg;
    nc->cl_sip_out = out;
    nc->cl_sip = leg;
    if (leg->nh)
        nua_handle_bind(leg->nh, (nua_hmagic_t *)nc);
    if (leg->address_info) {
        fresh->address_info = create_dummy_address_info();
        if (fresh->address_info)
            clone_address_info(leg->address_info, fresh->address_info);
    }
    co->cl_sip = fresh;
    if (co->cl_sip_in == leg)
        co->cl_sip_in = fresh;
    if (co->cl_sip_out == leg)
        co->cl_sip_out = fresh;
    dialplan_element *dp = co->dp;
    co->dp = nullptr;
    nc->dp = dp;
    if (dp) {
        free(dp->to_id);
        dp->to_id = dp->from_id ? strdup(dp->from_id) : nullptr;
        dp->to_tech = dp->from_tech;
    }
    // 2. Numbers.
    free_text(&nc->new_destination, number);
    const sip_address_info_object *ai = leg->address_info;
    free_text(&nc->new_source, ai && ai->from_url_user ? ai->from_url_user : "");
    // 3. Diversion.
    char diversion[1100];
    diversion_header(nc, co, diversion, sizeof diversion);
    // 4. The machine and the outbound leg.
    nc->sm = create_statemachine_sip_to_sip(nc, SM_SIP_INVITE_SENT, nullptr);
    if (pgs)
        out->pd = create_proxy_definition_by_pgs(pgs, nullptr, SIP_OUTBOUND);
    out->ss = leg->ss;
    out->nua = leg->nua;
    snprintf(out->using_ip, sizeof out->using_ip, "%s", leg->using_ip);
    leg->index = 1;
    out->index = 2;
    nc->cdr.from = TECH_SIP;
    nc->cdr.to = TECH_SIP;
    nc->cdr.call_start = time(nullptr);
    // 5. Configuration: defaults, source, group, dial-plan line.
    cc_clone_call_configuration(&nc->cc, &gp->default_call_configuration);
    if (co->cc_source)
        cc_update_call_configuration(&nc->cc, co->cc_source);
    if (pgs)
        cc_update_call_configuration(&nc->cc, &pgs->pgs_cc);
    if (dp && dp->cc)
        cc_update_call_configuration(&nc->cc, dp->cc);
    nc->cc.call_forwarding_mode = co->cc.call_forwarding_mode;
    dialplan_mangle_names_sip_to_sip(nc);
    // 6., 7. Headers (Diversion first with mode 2), RTP, SDP and the INVITE.
    LOGD_CALL(SIP, 5, co, "CD: sending re-invite");
    return s2s_send_new_invite(nc, nc->cc.call_forwarding_mode == 2 ? diversion : nullptr);
}

// Step 4: the facility passed on to a call looped through this gateway.
void facility_passthrough(call_object *co, const char *raw)
{
    call_leg_sip *leg = co->cl_sip;
    const char *f = strstr(raw, "facility=");
    if (!co->f.facility_passthrough || !leg || !f || !gp)
        return;
    for (int i = 0; i < OPERATIONARRAYSIZE; i++) {
        call_object *other = gp->operations[i];
        if (!other || other == co || !other->bc || !other->cl_sip ||
            other->cl_sip->rtp_local_port != leg->rtp_remote_port)
            continue;
        char b64[1024];
        snprintf(b64, sizeof b64, "%s", f + 9);
        b64[strcspn(b64, ";\r\n ")] = '\0';
        int n = base64_to_plaintext(b64, (char *)other->bc->outfac[0], BC_FAC_LEN);
        other->bc->outfac_len[0] = n > 0 ? n : 0;
        if (n > 0)
            isdn_send_facility_now(other->bc);
        return;
    }
}

} // namespace

double aoc_multiplier_factor(int code)
{
    static const double factors[] = {0.001, 0.01, 0.1, 1, 10, 100, 1000};
    return code >= 0 && code <= 6 ? factors[code] : 1;
}

void facility_aoc_texts(call_object *co, const FacParm *fac, char *text, size_t size, char *notice,
                        size_t notice_size)
{
    text[0] = '\0';
    notice[0] = '\0';
    int bits = co->cc.aoc_on_sip;
    bool auth = co->cc.authorization_server[0] != '\0';
    const char *raw = co->bc ? co->bc->ie_facilities.ie_facility : "";
    if (fac->Function == Fac_AOCDCurrency) {
        const FacAOCDCurrency &c = fac->u.AOCDcur;
        char currency[7];
        snprintf(currency, sizeof currency, "%.*s", (int)sizeof c.Currency, c.Currency);
        double m = aoc_multiplier_factor(c.Multiplier);
        const char *form = "charging;state=active;charging-info=currency;currency=%s;amount=%d;multiplier=%f";
        char line[NOTICE_TEXT];
        snprintf(line, sizeof line, form, currency, c.CurrencyAmount, m);
        if (bits & 1)
            snprintf(text, size, "AOC: %s\r\n", line);
        if (bits & 2)
            snprintf(text, size, "X-ClientCode: %s\r\n", line);
        if (auth)
            snprintf(notice, notice_size, "AOC: %s", line);
        snprintf(co->aoc.currency, sizeof co->aoc.currency, "%s", currency);
        co->aoc.amount = c.CurrencyAmount;
        co->aoc.multiplier = c.Multiplier;
        co->aoc.currency_received = 1;
    } else if (fac->Function == Fac_AOCDChargingUnit) {
        int units = fac->u.AOCDchu.recordedUnits;
        if (bits & 1)
            st_safe_strcat(text, size, "AOC: charging;state=active;charging-info=pulse;recorded-units=%d;\r\n", units);
        if (bits & 2)
            st_safe_strcat(text, size,
                           "X-ClientCode: charging;state=active;charging-info=pulse;recorded-units=%d;\r\n", units);
        if (auth)
            snprintf(notice, notice_size, "AOC: charging;state=active;charging-info=pulse;recorded-units=%d", units);
        co->aoc.units = units;
        co->aoc.units_received = 1;
        if (co->cc.ie_on_sip && co->bc) {
            size_t len = strlen(text);
            isdn_ie_to_sip_header_str(co->bc, text + len, (int)(size - len));
        }
    } else {
        return;
    }
    st_safe_strcat(text, size, "X-DV_FACILITY: %s\r\n", raw);
}

void get_sip_302_contact(call_object *co, char *contact, const char *which_address, int ton)
{
    enum { CONTACT_MAX = 512 };
    const call_configuration &cc = co->cc;
    char user[300];
    if (cc.sip_302_contact_user[0]) {
        char value[251];
        int counter = 0;
        dialplan_find_and_replace_variables_in_string(co, cc.sip_302_contact_user, value, sizeof value, &counter);
        snprintf(user, sizeof user, "sip:%s", value);
    } else {
        char prefixed[512];
        dialplan_prefix_ton(prefixed, sizeof prefixed, text_of(which_address), ton, &cc);
        // The prefix rule for the destination, with the format the source
        // or the dial-plan line sets; the call's own numbers stay as they are.
        int format = (int)cc.i2s_destination_numformat;
        const call_configuration *line_cc = co->dp ? co->dp->cc : nullptr;
        if (co->cc_source && co->cc_source->i2s_destination_numformat_set)
            format = (int)co->cc_source->i2s_destination_numformat;
        if (line_cc && line_cc->i2s_destination_numformat_set)
            format = (int)line_cc->i2s_destination_numformat;
        char *number = strdup(prefixed);
        char *previous = nullptr;
        int modified = 0;
        if (number && format != 0)
            vaz_apply(co, format, &number, &previous, &modified, "302 contact");
        snprintf(user, sizeof user, "sip:%s", number ? number : prefixed);
        free(number);
        free(previous);
    }
    char host[300] = "";
    const port_group_sip *pgs = nullptr;
    if (cc.sip_302_contact_url[0]) {
        snprintf(host, sizeof host, "%s", cc.sip_302_contact_url);
    } else if (co->dp && co->dp->from_id && strlen(co->dp->from_id) > 2 &&
               (pgs = pg_get_port_group_sip_by_name(co->dp->from_id + 2, nullptr)) && pgs->pgs_sip_proxy &&
               pgs->pgs_sip_proxy[0]) {
        if (pgs->pgs_sip_proxy_port == 0 || pgs->pgs_sip_proxy_port == 5060)
            snprintf(host, sizeof host, "%s", pgs->pgs_sip_proxy);
        else
            snprintf(host, sizeof host, "%s:%i", pgs->pgs_sip_proxy, pgs->pgs_sip_proxy_port);
    } else {
        const sip_stack *ss = co->cl_sip ? co->cl_sip->ss : nullptr;
        int port = ss ? ss->sip_port : 0;
        if (port == 0)
            port = cc.tr119 ? 5061 : 5060;
        snprintf(host, sizeof host, "%s:%i", ss ? ss->ip : "", port);
    }
    snprintf(contact, CONTACT_MAX, "%s@%s", user, host);
    LOGD_CALL(SIP, 4, co,
              "Contact Header - SIP 302 Moved Temporarily : contact=%s with contact_user=%s and contact_url=%s",
              contact, cc.sip_302_contact_user, cc.sip_302_contact_url);
}

// ---- actions ----------------------------------------------------------------------

SM_ACTION(sm_isdn_send_calldeflect)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    LOGD_CALL(ISDN, 5, co, "Sending call deflect");
    const sip_t *sip = current_message(co);
    misdn_bchannel *bc = co->bc;
    if (!sip || !sip->sip_contact) {
        tarn_misdn_lib_send_event(co, EVENT_DISCONNECT);
        return DESTROYING;
    }
    if (!bc)
        return ROW;
    co->dismantling_timeout = 5;
    const char *target = text_of(sip->sip_contact->m_url->url_user);
    isdn_leg_info *legi = legi_of(co);
    bool alert = co->cc.alert_on_cd && !legi->events_sent[LEGI_ALERTING];
    memset(&bc->fac_out, 0, sizeof bc->fac_out);
    if (isdn_port_is_ptp(bc->port)) {
        LOGD_CALL(ISDN, 5, co, "Sending Fac_CRerouting dad: |%s| defto: |%s| deffrom |%s|", bc->dad, target,
                  text_of(co->new_destination));
        if (alert)
            tarn_misdn_lib_send_event(co, EVENT_ALERTING);
        FacCRerouting &r = bc->fac_out.u.CRerouting;
        bc->fac_out.Function = Fac_CRerouting;
        r.invokeId = misdn_get_invokeid();
        copy32(r.DeflectedToSubaddress, sizeof r.DeflectedToSubaddress, target);
        copy32(r.DeflectedFromNumber, sizeof r.DeflectedFromNumber, bc->dad);
        r.Ton = -1;
    } else {
        LOGD_CALL(ISDN, 5, co, "Sending Fac_CD OLDDEST: |%s| NEWDEST: |%s|", bc->dad, target);
        if (alert)
            tarn_misdn_lib_send_event(co, EVENT_ALERTING);
        FacCDeflection &d = bc->fac_out.u.CDeflection;
        bc->fac_out.Function = Fac_CD;
        d.invokeId = misdn_get_invokeid();
        d.PresentationAllowed = -1;
        copy32(d.DeflectedToNumber, sizeof d.DeflectedToNumber, target);
        d.Ton = -1;
    }
    tarn_misdn_lib_send_event(co, EVENT_FACILITY);
    co->f.call_deflect_sent = 1;
    return ROW;
}

SM_ACTION(sm_isdn_handle_facility_if_calldeflect_was_sent)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    LOGD_CALL(ISDN, 5, co, "check");
    const char *prefix = co->cc.isdn_cd_fail_prefix;
    if (!co->f.call_deflect_sent || !co->bc || !prefix[0])
        return ROW;
    char dad[32];
    snprintf(dad, sizeof dad, "%s%s", prefix, co->bc->dad);
    snprintf(co->bc->dad, sizeof co->bc->dad, "%s", dad);
    if (co->cl_sip && co->cl_sip->nh) {
        nua_handle_bind(co->cl_sip->nh, nullptr);
        nua_handle_destroy(co->cl_sip->nh);
        co->cl_sip->nh = nullptr;
    }
    if (co->timer) {
        timer_remove(co->timer);
        co->timer = nullptr;
    }
    co->f.dismantling = 0;
    co->f.call_deflect_sent = 0;
    add_sm_task(co, sm_isdn(99, EVENT_SETUP));
    return {SM_ISDN_WAIT_FOR_DIALING, SM_NO_EVENT};
}

SM_ACTION(sm_isdn_handle_facility)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    LOGD_CALL(ISDN, 5, co, "for co %p (index %i) -- nh %p!", (void *)co, co->index, leg ? (void *)leg->nh : nullptr);
    misdn_bchannel *bc = co->bc;
    if (!leg || !leg->nh || !bc)
        return ROW;
    const call_configuration &cc = co->cc;
    const FacParm &fac = bc->fac_in;
    bool auth = cc.authorization_server[0] != '\0';
    LOGD_CALL(ISDN, 5, co, "facfunc %i, af %i, cd %i, cfm %i, aoc %i", (int)fac.Function, auth ? 1 : 0,
              (int)cc.calldeflect, (int)cc.call_forwarding_mode, (int)cc.aoc_on_sip);
    const char *raw = bc->ie_facilities.ie_facility;
    char notice[NOTICE_TEXT] = "";
    bool info_sent = false;
    switch (fac.Function) {
    case Fac_CD:
    case Fac_CRerouting: {
        bool cd = fac.Function == Fac_CD;
        if (auth) {
            if (cd)
                snprintf(notice, sizeof notice, "CD: deflected_to=%s;pres=%i", fac.u.CDeflection.DeflectedToNumber,
                         fac.u.CDeflection.PresentationAllowed);
            else
                snprintf(notice, sizeof notice, "CRerouting: deflected_from=%s;reason=%s",
                         fac.u.CRerouting.DeflectedToSubaddress, fac.u.CRerouting.Reason);
            break;
        }
        if (!cc.calldeflect) {
            answer_return_error(co, cd ? fac.u.CDeflection.invokeId : fac.u.CRerouting.invokeId);
            break;
        }
        const port_group_sip *pgs = sip_group_of_line(co);
        if (pgs)
            LOGD_CALL(SIP, 5, co, "CD: using pgs %s ", text_of(pgs->pgs_name));
        else
            LOGD_CALL(SIP, 5, co, "CD: no pgs found (dp %p pd %p) ", (void *)co->dp,
                      co->dp ? (void *)co->dp->pd_out : nullptr);
        char number[33];
        snprintf(number, sizeof number, "%.32s",
                 cd ? fac.u.CDeflection.DeflectedToNumber : fac.u.CRerouting.DeflectedToSubaddress);
        int ton = cd ? fac.u.CDeflection.Ton : fac.u.CRerouting.Ton;
        if (cc.call_forwarding_mode == 0 || !pgs) {
            answer_302(co, number, ton);
            return DESTROYING;
        }
        statemachine_handle_retval r = hand_over(co, number, ton, pgs);
        if (r.state == SM_DISMANTLING)
            return {SM_DISMANTLING, SM_NO_EVENT};
        return DESTROYING;
    }
    case Fac_AOCDCurrency:
    case Fac_AOCDChargingUnit: {
        char text[HEADER_TEXT];
        facility_aoc_texts(co, &fac, text, sizeof text, notice, sizeof notice);
        if (text[0] && cc.sip_info_on_facility) {
            send_info(co, text);
            info_sent = true;
        }
        break;
    }
    default:
        if (cc.sip_info_on_facility) {
            char text[HEADER_TEXT];
            snprintf(text, sizeof text, "X-DV_FACILITY: %s\r\n", raw);
            send_info(co, text);
        }
        info_sent = true; // step 3 is not for these
        break;
    }
    if (!info_sent && cc.sip_info_on_facility) {
        char text[HEADER_TEXT];
        snprintf(text, sizeof text, "X-DV_FACILITY: %s\r\n", raw);
        send_info(co, text);
    }
    facility_passthrough(co, raw);
    if (auth && raw[0])
        isdn_authserver_notify_facility(co, cc.authorization_server, cc.authorization_server_credentials, "ISDN",
                                        bc->port, co->pid, bc->dad, bc->oad, raw, notice);
    return ROW;
}

SM_ACTION(sm_isdn_send_mcid)
{
    (void)arg, (void)state, (void)event;
    _send_mcid((call_object *)p);
    return ROW;
}
