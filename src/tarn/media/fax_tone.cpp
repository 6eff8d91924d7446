// Tones the media processor detects on a call's TDM side: the call's tone
// history, DTMF digits handed on to call control or to the analog and CAS
// machines, and the fax decisions (echo canceller off on V.21 flags, the end
// of a call on a fax signal, the redirect of a fax call after a CNG cadence,
// the T.38 re-invite).
#include <cstring>
#include <ctime>

#include "analog_watchdog.h"
#include "call_reset.h"
#include "csm_codes.h"
#include "log.h"
#include "media_callctl.h"
#include "media_relay.h"
#include "media_voice.h"
#include "misdn_bchannel.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "pools.h"
#include "sm_defs.h"
#include "t1e1casctl.h"
#include "voice_rows.h"

int ip_fax_tonedetect = 0;

namespace {

constexpr int CAS_SIGNALLING_MFC_R2 = 3;
constexpr int CAS_TRACE = 3;
constexpr int FAX_TERMINATION_REASON = 12;

bool is_digit(int tone)
{
    return tone >= 0 && tone <= 15;
}

const msp_tonedet_event &back(const msp_tone_history *h, int k)
{
    return h->history[(h->history_index - 1 - k) % MSP_TONE_HISTORY];
}

// The event stored before the newest one, 255 when there is none.
int previous_event(const msp_tone_history *h)
{
    return h->history_index >= 2 ? (int)back(h, 1).event : (int)END_OF_TONE;
}

// Runs a general event on the call's machine, or logs that there is none.
void run_general(call_object *co, int event, const csmchan_voip_tonedet_indication *ind)
{
    if (!co->sm) {
        LOGD(MSP, 1, cinfo(co), "ignoring msp event %s -- co->sm==NULL!", get_function_code(ind->header->function_code));
        return;
    }
    if (media_has_do_statemachine_run())
        media_callctl().do_statemachine_run(co, sm_general(event), 0);
}

bool is_analog_or_user_isdn_to_sip(const call_object *co)
{
    return co->callinfo == CI_ANALOG_TO_SIP || (co->callinfo == CI_ISDN_TO_SIP && co->bc && !co->bc->nt);
}

// ---- the CNG cadence ---------------------------------------------------------

// A span of the history between two events counted back from the newest
// (0): a tone's length or the gap between two tones.
struct cadence_span {
    int from_back;  // the older event
    int to_back;
    bool gap;
};

// One row per fr_min_events value: how many events are looked back at
// (alternating end and start of CNG tones from the newest on) and which
// spans must lie strictly within their bounds.
struct cadence_rule {
    int min_events; // 0: any other value
    int events;
    cadence_span spans[4];
    int span_count;
};

const cadence_rule cadence_rules[] = {
    {1, 2, {{1, 0, false}}, 1},
    {2, 4, {{1, 0, false}, {2, 1, true}, {3, 2, false}}, 3},
    // The first of the three tones' length is not tested.
    {0, 6, {{1, 0, false}, {3, 2, false}, {2, 1, true}, {4, 3, true}}, 4},
};

const cadence_rule &cadence_rule_of(int min_events)
{
    for (const cadence_rule &r : cadence_rules)
        if (r.min_events == min_events)
            return r;
    return cadence_rules[2];
}

bool within(int32_t value, uint32_t low, uint32_t high)
{
    return value > (int32_t)low && value < (int32_t)high;
}

bool cng_cadence_matches(const call_object *co)
{
    const msp_tone_history *h = co->msp_tonedet_history;
    const faxdetect_options_def &o = co->cc.faxdetect_options;
    const cadence_rule &rule = cadence_rule_of(o.fr_min_events);
    if (h->history_index < rule.events || rule.events > MSP_TONE_HISTORY)
        return false;
    for (int k = 0; k < rule.events; k++)
        if (back(h, k).event != (k % 2 == 0 ? END_OF_TONE : T30_CNG_START_DETECTED))
            return false;
    for (int i = 0; i < rule.span_count; i++) {
        const cadence_span &s = rule.spans[i];
        int32_t value = back(h, s.to_back).msp_timestamp - back(h, s.from_back).msp_timestamp;
        bool ok = s.gap ? within(value, o.fr_min_interval, o.fr_max_interval)
                        : within(value, o.fr_min_tonelength, o.fr_max_tonelength);
        if (!ok)
            return false;
    }
    return true;
}

// ---- T.38 -------------------------------------------------------------------

bool t38_wanted(const call_object *co)
{
    bool wanted = co->callinfo == CI_SIP_TO_SIP ? co->cc.s2s_t38_passthrough != 0 : co->cc.t38 != 0;
    return wanted && !co->f.t38_invite_sent;
}

enum t38_start { T38_NO, T38_YES, T38_S2S_TASK };

t38_start t38_start_wanted(const call_object *co, int tone)
{
    if (!t38_wanted(co) ||
        (tone != T30_CNG_START_DETECTED && tone != V21_FLAGS_DETECTED && tone != V25_WITHOUT_PHASE_REVERSAL))
        return T38_NO;
    int direction = (int)co->cc.t38_direction_reinvite;
    switch (co->callinfo) {
    case CI_SIP_TO_ANALOG:
    case CI_SIP_TO_ISDN:
        return direction & 1 ? T38_YES : T38_NO;
    case CI_ANALOG_TO_SIP:
    case CI_ISDN_TO_SIP:
        return direction & 2 ? T38_YES : T38_NO;
    case CI_SIP_TO_SIP:
        return co->cc.s2s_t38_passthrough == 1 ? T38_S2S_TASK : T38_NO;
    default:
        return ip_fax_tonedetect ? T38_YES : T38_NO;
    }
}

void start_t38_invite(call_object *co, const csmchan_voip_tonedet_indication *ind)
{
    msp_queue_lock_take();
    msp_release_all_resources(co, &co->msp_resources_reserved);
    if (msp_request_partial_resource(co, &co->msp_resources_reserved, &co->msp_resources_active, MSPRES_T38) != 0) {
        msp_queue_lock_release();
        LOGD(MSP, 1, cinfo(co), "CRITICAL: Couldn't get MSP resources for T38 invite");
        return;
    }
    LOGD(MSP, 5, cinfo(co), "Running statemachine for sending T38 invite");
    msp_queue_lock_release();
    run_general(co, GENERAL_EVENT_MSP_FAX_TONE_DETECTED, ind);
    int32_t state = co->sm ? statemachine_get_state(co->sm) : 0;
    if (co->callinfo == CI_SIP_TO_ANALOG && state == SM_DESTROYING) {
        int port = co->analog_port;
        statemachine_destroy(co->sm);
        co->sm = nullptr;
        LOGD(MSP, 5, cinfo(co), "calling reset_op for %p", (void *)co);
        reset_op(co);
        start_analog_watchdog_on_port(port, 0);
    } else if (state == SM_DISMANTLING) {
        if (media_has_start_dismantling_timer())
            media_callctl().start_dismantling_timer(co);
    }
}

} // namespace

void media_echo_canceller_off(call_object *co)
{
    co->cc.echo_cancel = 0;
    msp_queue_lock_take();
    magic_csm m = voice_msg(FC_VOIP_ECHOCAN);
    if (!csm_msg_is_null(m))
        disable_csm_echo_canceller_values(m.u_csmchan_voip_echocan);
    media_put(co, co->tdm_logical_timeslot, m);
    msp_queue_lock_release();
}

int32_t msp_tone_timestamp(uint32_t lsb, uint32_t msb)
{
    // In 32-bit unsigned arithmetic: a high word from 32768 on would
    // overflow a signed int.
    uint32_t raw = (lsb & 0xFFFFu) + (msb & 0xFFFFu) * 65536u;
    return (int32_t)(raw / 8);
}

int handle_msp_event_tonedet(call_object *co, const csmchan_voip_tonedet_indication *ind,
                             const struct timeval *received)
{
    if (!co || !ind)
        return 0;
    msp_tone_history *h = co->msp_tonedet_history ? co->msp_tonedet_history : &co->_msp_tonedet_history;
    int tone = (int)ind->tone_detect_value;
    int previous = h->history_index >= 1 ? (int)back(h, 0).event : (int)END_OF_TONE;

    long base = cas_get_starttime();
    if (base == -1) {
        cas_set_starttime(received->tv_sec);
        base = received->tv_sec;
    }
    msp_tonedet_event &e = h->history[h->history_index % MSP_TONE_HISTORY];
    e.event = (uint8_t)tone;
    e.msp_timestamp = msp_tone_timestamp(ind->timestamp_lsb, ind->timestamp_msb);
    e.received_time.sec = received->tv_sec - base;
    e.received_time.usec = received->tv_usec;
    h->history_index++;

    if (tone == V21_FLAGS_DETECTED || tone == V25_WITHOUT_PHASE_REVERSAL || tone == T30_CNG_START_DETECTED ||
        (tone == END_OF_TONE && previous == T30_CNG_START_DETECTED))
        return handle_msp_fax_tone(co, ind, received);

    int kind = co->callinfo;
    bool line_kind = kind == CI_CAS_TO_SIP || kind == CI_ANALOG_TO_SIP || kind == CI_SIP_TO_CAS;
    if (!line_kind || co->sm_state == SM_CALL_ACTIVE) {
        if (is_digit(tone) && co->sm && !co->f.dtmf_as_eventdet) {
            if (media_has_process_dtmf())
                media_callctl().process_dtmf(0, co, tone);
        } else if (tone != END_OF_TONE) {
            LOGD(MSP, 9, cinfo(co), "ignoring tone detect event %x", tone);
        }
        return 0;
    }

    bool mf = co->sm_state == SM_CAS_MF_SIGNALLING && cas_get_signalling(co->cas_port) == CAS_SIGNALLING_MFC_R2;
    if (kind == CI_CAS_TO_SIP && mf) {
        if (tone == END_OF_TONE)
            return 0;
        co->cas_dtmf = (char)tone;
        log_msg_cas(co->cas_port, CAS_TRACE, "C2S:RAW:%i\n", tone);
        run_general(co, GENERAL_EVENT_CAS_MF_SIGNAL_DETECTED, ind);
        return 0;
    }
    if (kind == CI_SIP_TO_CAS && mf) {
        if (tone == END_OF_TONE) {
            co->cas_dtmf_start = 0;
        } else {
            co->cas_dtmf_start = 1;
            co->cas_dtmf = (char)tone;
        }
        log_msg_cas(co->cas_port, CAS_TRACE, "S2C:RAW:%i\n", tone);
        run_general(co, GENERAL_EVENT_CAS_MF_SIGNAL_DETECTED, ind);
        return 0;
    }
    if (kind == CI_SIP_TO_CAS) {
        if (!is_digit(tone))
            LOGD(MSP, 9, cinfo(co), "ignoring analog tone detect event %x", tone);
        return 0;
    }
    if (is_digit(tone)) {
        if (kind == CI_CAS_TO_SIP)
            co->cas_dtmf = (char)tone;
        else
            co->analog_dtmf = (char)tone;
        run_general(co, GENERAL_EVENT_ANALOG_DTMF_DETECTED, ind);
    } else {
        LOGD(MSP, 9, cinfo(co), "ignoring analog tone detect event %x", tone);
    }
    return 0;
}

int handle_msp_fax_tone(call_object *co, const csmchan_voip_tonedet_indication *ind,
                        const struct timeval *received)
{
    (void)received;
    if (!co || !ind)
        return 0;
    const msp_tone_history *h = co->msp_tonedet_history ? co->msp_tonedet_history : &co->_msp_tonedet_history;
    int tone = (int)ind->tone_detect_value;
    int previous = ip_fax_tonedetect ? END_OF_TONE : previous_event(h);

    t38_start start = t38_start_wanted(co, tone);
    if (start == T38_S2S_TASK) {
        if (media_has_add_sm_task())
            media_callctl().add_sm_task(co, sm_general(GENERAL_EVENT_MSP_FAX_TONE_DETECTED));
        return 0;
    }

    if (tone == V21_FLAGS_DETECTED && (co->msp_state & MSP_VOICE_ACTIVE) && co->cc.echo_cancel)
        media_echo_canceller_off(co);

    bool extension = co->cc.faxdetect_extension[0] != '\0' && !co->f.fax_redirect;
    bool sip_to_line = co->callinfo == CI_SIP_TO_ANALOG || co->callinfo == CI_SIP_TO_ISDN;
    if (tone == T30_CNG_START_DETECTED && is_analog_or_user_isdn_to_sip(co) && extension) {
        return 0; // the end of the tone decides
    }
    if (sip_to_line && tone == V21_FLAGS_DETECTED && co->cc.faxdetect_call_termination[0] != '\0') {
        co->special_termination_reason = FAX_TERMINATION_REASON;
        run_general(co, GENERAL_EVENT_FINISH_CALL, ind);
        return 0;
    }
    if (tone == END_OF_TONE && previous == T30_CNG_START_DETECTED && is_analog_or_user_isdn_to_sip(co) &&
        extension) {
        time_t since = time(nullptr) - co->cdr.connect_start;
        if (co->cdr.connect_start > 0 && since < (time_t)co->cc.faxdetect_options.fr_connect_window &&
            cng_cadence_matches(co)) {
            LOGM(MSP, LOG_MSG_NOTICE, "%s P IND : FAX REDIRECT event => statemachine", cinfo(co));
            co->f.fax_calling_tone_detected = 1;
            run_general(co, GENERAL_EVENT_FAX_REDIRECT, ind);
        }
        return 0;
    }
    if (start == T38_YES && !(co->msp_state & MSP_T38_ACTIVE))
        start_t38_invite(co, ind);
    return 0;
}
