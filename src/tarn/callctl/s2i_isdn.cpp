// The ISDN side of the SIP-to-ISDN actions: clearing with its cause, the
// port move after a refused channel, hold and suspend refused, the first
// "100" state, and the ISDN answer to SIP progress on calls from ISDN.
// (The SIP stack's headers stay out of this file: they clash with the ISDN
// library's.)
#include <cstdio>
#include <cstring>

#include "application.h"
#include "call_info.h"
#include "call_object.h"
#include "call_progress.h"
#include "causes.h"
#include "dialplan.h"
#include "dialplan_targets.h"
#include "dtmf.h"
#include "isdn_lib.h"
#include "log.h"
#include "pools.h"
#include "sip_headers.h"
#include "sip_to_isdn.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "xdv_headers.h"

static_assert(sizeof(call_object::blocked_isdn_ports) == ISDN_BLOCKED_PORTS_MAP &&
                  ISDN_BLOCKED_PORTS_MAP > MISDN_MAX_PORTS,
              "a refused-channel mark for every ISDN port number");

namespace {

const statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};

bool received(const call_object *co, int slot)
{
    return co->legi && co->legi->events_received[slot];
}

bool sent(const call_object *co, int slot)
{
    return co->legi && co->legi->events_sent[slot];
}

bool no_bc(call_object *co)
{
    if (co->bc)
        return false;
    LOGD_CALL(ISDN, 0, co, "CRITICAL: where is the bc?");
    return true;
}

// The ISDN answer to SIP progress on a call from ISDN, by its table.
statemachine_handle_retval i2s_progress(call_object *co, bool dialplan_match)
{
    const char *name = co->cc.i2s_call_progress_table_name;
    co->i2s_cpt = name[0] ? cpt_i2s_get_table_by_name(name) : nullptr;
    const char *shown = name[0] ? name : "DEFAULT";
    call_leg_sip *leg = co->cl_sip;
    int nt = co->bc ? co->bc->nt : 0;
    int spfb = co->f.sip_progress_from_davnole;
    int status = dialplan_match ? CP_DIALPLAN_MATCH_FOUND : leg ? leg->last_nua_status_code : 0;
    const char *text = dialplan_match || !leg ? "" : leg->last_nua_status_text;
    cpt_events answer = CP_ISDN_NOTHING;
    int ret = co->i2s_cpt ? cpt_search_i2s(co->i2s_cpt, nt, 1, spfb, status, text, &answer) : -1;
    LOGD_CALL(ISDN, 5, co, "cpt |%s|: ret1 %i : in sdp %i spfb %i nt %i lns %i => got response %i:%s", shown, ret, 1,
              spfb, nt, status, (int)answer, cpt_print_event(answer));
    if (ret < 0 && gp && gp->i2s_cpt_default) {
        ret = cpt_search_i2s(gp->i2s_cpt_default, nt, 1, spfb, status, text, &answer);
        LOGD_CALL(ISDN, 5, co, "cpt |%s| ret2 %i : in sdp %i spfb %i nt %i lns %i => got response %i:%s",
                  gp->i2s_cpt_default->name, ret, 1, spfb, nt, status, (int)answer, cpt_print_event(answer));
    }
    if (!co->bc)
        return ROW;
    switch (answer) {
    case CP_RESPOND_NOTHING: return {SM_KEEP_STATE, SM_NO_EVENT};
    // Each at most once, and never behind a later stage of the call (the
    // dial plan's PROCEEDING is queued and may come after the far end's 180
    // or 200 were answered).
    case CP_RESPOND_ALERTING:
        if (!sent(co, LEGI_ALERTING) && !sent(co, LEGI_CONNECT))
            isdn_send_event(co, EVENT_ALERTING);
        break;
    case CP_RESPOND_PROCEEDING:
        if (!sent(co, LEGI_PROCEEDING) && !sent(co, LEGI_ALERTING) && !sent(co, LEGI_CONNECT))
            isdn_send_event(co, EVENT_PROCEEDING);
        break;
    case CP_RESPOND_PROGRESS: isdn_send_event(co, EVENT_PROGRESS); break;
    case CP_RESPOND_CONNECT: isdn_send_event(co, EVENT_CONNECT); break;
    default: break;
    }
    return ROW;
}

// Copies what a new B-channel takes over from the refused one.
void take_over(misdn_bchannel *to, const misdn_bchannel *from)
{
#define TAKE(field) memcpy(&to->field, &from->field, sizeof to->field)
    TAKE(dad), TAKE(oad), TAKE(oad2), TAKE(rad), TAKE(cad);
    TAKE(dton), TAKE(oton), TAKE(o2ton), TAKE(rton), TAKE(cton);
    TAKE(dnpi), TAKE(onpi), TAKE(o2npi), TAKE(rnpi), TAKE(cnpi);
    TAKE(pres), TAKE(screen), TAKE(o2pres), TAKE(o2screen), TAKE(rpres), TAKE(rscreen), TAKE(cpres), TAKE(cscreen);
    TAKE(sending_complete);
    TAKE(capability), TAKE(mode), TAKE(rate), TAKE(user1), TAKE(urate), TAKE(bearer_info);
    TAKE(out_bearer_buf), TAKE(out_bearer_buf_len);
    TAKE(law);
    TAKE(progress_coding), TAKE(progress_location), TAKE(progress_indicator);
    TAKE(keypad), TAKE(display), TAKE(info_dad);
    TAKE(hlc), TAKE(hlclen), TAKE(llc), TAKE(llclen);
    TAKE(uu_protocol), TAKE(uu), TAKE(uulen), TAKE(uulen_stored), TAKE(userusername);
    TAKE(qsig_local_name), TAKE(qsig_local_name_pres), TAKE(qsig_remote_name), TAKE(qsig_remote_name_pres);
    TAKE(use_complete_dialing_pound_star);
    TAKE(ie_facilities);
    TAKE(outfac);
#undef TAKE
    // Facilities the first SETUP carried go out again with the new one.
    for (int i = 0; i < BC_OUTFAC_COUNT; i++)
        to->outfac_len[i] = from->outfac_len[i] ? from->outfac_len[i] : from->outfac_len_stored[i];
}

} // namespace

int s2i_tone_code(char c)
{
    return ascii_to_tonedetect(c);
}

void _send_isdn_disconnect(call_object *co, int converting)
{
    misdn_bchannel *bc = co->bc;
    if (!bc)
        return;
    if (co->cc.ie_on_sip && co->cl_sip && co->cl_sip->tmpsip)
        apply_sip_extension_headers(bc, co->cl_sip->tmpsip, "X-DV_CAUSE");
    int msg = EVENT_RELEASE_COMPLETE;
    bool answered = received(co, LEGI_SETUP_ACKNOWLEDGE) || received(co, LEGI_PROCEEDING) ||
                    received(co, LEGI_PROGRESS) || received(co, LEGI_ALERTING) || received(co, LEGI_CONNECT);
    if (co->callinfo == CI_ISDN_TO_SIP || (co->callinfo == CI_SIP_TO_ISDN && answered)) {
        if (received(co, LEGI_DISCONNECT)) {
            msg = EVENT_RELEASE;
        } else {
            msg = EVENT_DISCONNECT;
            if (converting)
                LOGD_CALL(ISDN, 5, co, "converting SIP event %i into ISDN cause %i",
                          co->cl_sip ? co->cl_sip->last_nua_status_code : 0, bc->out_cause);
        }
    }
    isdn_send_event(co, msg);
}

SM_ACTION(sm_isdn_send_normal_disconnect)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (no_bc(co))
        return ROW;
    co->bc->out_cause = 16;
    _send_isdn_disconnect(co, 0);
    return ROW;
}

SM_ACTION(sm_isdn_send_disconnect_by_sip_event)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (no_bc(co))
        return ROW;
    int status = co->cl_sip ? co->cl_sip->last_nua_status_code : 0;
    int cause = 16;
    // A dialog that ended with a completed BYE (the stack's own, when the
    // peer let the session timer run out) was no refusal: normal clearing.
    if (status < 200 || status >= 300) {
        const char *text = nullptr;
        get_reject_cause(TECH_ISDN, TECH_SIP, status, &cause, &text);
    }
    co->bc->out_cause = cause;
    _send_isdn_disconnect(co, 1);
    return ROW;
}

SM_ACTION(sm_isdn_send_disconnect_cause_already_set)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (no_bc(co))
        return ROW;
    _send_isdn_disconnect(co, 1);
    return ROW;
}

SM_ACTION(sm_isdn_cleanup_bc)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    LOGD_CALL(ISDN, 5, co, "bc %p", (void *)co->bc);
    if (!co->bc)
        return ROW;
    if (!received(co, LEGI_DISCONNECT) && !received(co, LEGI_RELEASE) && !sent(co, LEGI_DISCONNECT) &&
        !sent(co, LEGI_RELEASE))
        isdn_send_event(co, EVENT_DISCONNECT);
    return ROW;
}

SM_ACTION(sm_isdn_handle_hold)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    LOGD_CALL(ISDN, 5, co, "for co %p (index %i) -- nh %p!", (void *)co, co->index,
              co->cl_sip ? (void *)co->cl_sip->nh : nullptr);
    isdn_send_event(co, EVENT_HOLD_REJECT);
    return ROW;
}

SM_ACTION(sm_isdn_handle_suspend)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    LOGD_CALL(ISDN, 5, co, "for co %p (index %i) -- nh %p!", (void *)co, co->index,
              co->cl_sip ? (void *)co->cl_sip->nh : nullptr);
    isdn_send_event(co, EVENT_SUSPEND_REJECT);
    return ROW;
}

SM_ACTION(sm_ignore_state_100_if_already_got_one)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (co->f.got_isdn_state_100)
        return {SM_KEEP_STATE, SM_NO_EVENT};
    co->f.got_isdn_state_100 = 1;
    return {SM_NO_DECISION, SM_NO_EVENT};
}

SM_ACTION(sm_i2s_send_progress_response)
{
    (void)arg, (void)state, (void)event;
    return i2s_progress((call_object *)p, false);
}

SM_ACTION(sm_i2s_send_progress_response_dialplan_match)
{
    (void)arg, (void)state, (void)event;
    return i2s_progress((call_object *)p, true);
}

void s2i_drop_bchannel(call_object *co)
{
    if (!co || !co->bc)
        return;
    misdn_empty_bc(co->bc);
    co->bc = nullptr;
}

int s2i_move_to_other_port(call_object *co)
{
    misdn_bchannel *old = co ? co->bc : nullptr;
    if (!old || old->cause != 44)
        return S2I_PORT_NOT_REFUSED;
    if (old->port > 0 && old->port < (int)sizeof co->blocked_isdn_ports)
        co->blocked_isdn_ports[old->port] = 1;
    co->bc = nullptr;
    int ports_down = 0;
    misdn_bchannel *bc = co->dp ? get_isdn_channel_by_dialplan_string(co, co->dp->to_id, &ports_down) : nullptr;
    if (!bc) {
        LOGD_CALL(ISDN, 2, co, "channel refused on port %i, no other port free", old->port);
        co->bc = old;
        return S2I_PORT_NONE_FREE;
    }
    LOGD_CALL(ISDN, 2, co, "channel refused on port %i, trying port %i", old->port, bc->port);
    take_over(bc, old);
    co->bc_port = bc->port;
    co->bc_channel = bc->channel;
    misdn_empty_bc(old);
    co->bc = bc;
    add_sm_task(co, sm_general(GENERAL_EVENT_TRY_OTHER_ISDN_PORT));
    return S2I_PORT_MOVED;
}
