// DTMF digits reproduced on the other side of a call: as a tone pair that
// the media processor plays towards the line or the IP side, or towards a
// SIP peer as an RFC 2833 telephone event, a SIP INFO request or in band.
#include <sofia-sip/nua.h>
#include <sofia-sip/sip_tag.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "call_lookups.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "log.h"
#include "media_callctl.h"
#include "media_relay.h"
#include "media_voice.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "pools.h"
#include "sip_request_order.h"
#include "sm_defs.h"
#include "strtools.h"
#include "voice_rows.h"

namespace {

enum { DTMF_INBAND = 1, DTMF_INFO = 2, DTMF_RFC2833 = 4 };
constexpr int S2S_MIN_DURATION = 160;
constexpr int NTE_VOLUME = 10;
constexpr int NTE_MSG_LENGTH = 24;

// The DTMF frequency pairs (low group, high group) of ITU-T Q.23.
struct dtmf_pair {
    char key;
    uint16_t low;
    uint16_t high;
};
const dtmf_pair dtmf_pairs[] = {
    {'1', 697, 1209}, {'2', 697, 1336}, {'3', 697, 1477}, {'A', 697, 1633},
    {'4', 770, 1209}, {'5', 770, 1336}, {'6', 770, 1477}, {'B', 770, 1633},
    {'7', 852, 1209}, {'8', 852, 1336}, {'9', 852, 1477}, {'C', 852, 1633},
    {'*', 941, 1209}, {'0', 941, 1336}, {'#', 941, 1477}, {'D', 941, 1633},
};

const dtmf_pair *pair_of(char c)
{
    char key = (char)toupper((unsigned char)c);
    for (const dtmf_pair &p : dtmf_pairs)
        if (p.key == key)
            return &p;
    return nullptr;
}

// The SIP INFO signal of each digit code.
const char *const info_signals[16] = {"0", "1", "2", "3", "4", "5", "6", "7",
                                      "8", "9", "*", "#", "A", "B", "C", "D"};

// Where a digit goes on the SIP side.
struct sip_target {
    call_object *owner; // the call whose leg carries it
    call_leg_sip *leg;
    int mode;
    int payload_type;
    int duration;
};

bool target_of(call_object *co, int duration, sip_target *t)
{
    *t = {co, nullptr, 0, 0, duration};
    if (co->callinfo == CI_SIP_TO_SIP) {
        if (!co->transcoding_buddy || !co->cl_sip_in)
            return false;
        t->leg = co->cl_sip_in;
        t->mode = cc_get_dtmfmode_of_sipleg(co, co->f.dtmf_by_nua_info);
    } else if (co->callinfo == CI_INTERNAL) {
        call_object *owner = get_operation_by_transcoding_buddy(co);
        if (!owner || !owner->cl_sip_out)
            return false;
        t->owner = owner;
        t->leg = owner->cl_sip_out;
        t->mode = cc_get_dtmfmode_of_sipleg(owner, co->f.dtmf_by_nua_info ? 0 : 1);
    } else {
        if (!co->cl_sip)
            return false;
        t->leg = co->cl_sip;
        t->mode = (int)(co->cc.dtmfmode & 0xFF);
        return t->payload_type = t->leg->pt_telephony_event, true;
    }
    t->payload_type = t->leg->pt_telephony_event;
    if (t->duration < S2S_MIN_DURATION)
        t->duration = S2S_MIN_DURATION;
    return true;
}

void send_nte(call_object *co, const sip_target &t, int code)
{
    magic_csm m = voice_msg(FC_VOIP_SENDNTE);
    if (csm_msg_is_null(m))
        return;
    get_header(m)->msg_length = NTE_MSG_LENGTH;
    csmchan_voip_sendnte *r = m.u_csmchan_voip_sendnte;
    r->nte_payload_event = (uint32_t)code;
    r->nte_payload_duration = (uint32_t)t.duration;
    r->nte_payload_volume = NTE_VOLUME;
    r->override_payload_type = 1;
    r->override_single_nte = 1;
    r->override_default_redundancy = 1;
    r->payload_type = (uint32_t)t.payload_type;
    msp_queue_command(m, co->tdm_logical_timeslot, co, 0, 0);
}

void send_info(call_object *co, const sip_target &t, int code)
{
    char body[64];
    if (!dtmf_info_body(code, t.duration, body, sizeof body))
        return;
    if (co->f.call_initiated_by_sip && co->sm_state != SM_CALL_ACTIVE)
        return;
    if (!t.leg->nh) {
        LOGD(MSP, 5, cinfo(co), "no SIP dialog for the DTMF INFO");
        return;
    }
    nua_info(t.leg->nh, SIPTAG_CONTENT_TYPE_STR("application/dtmf-relay"), SIPTAG_PAYLOAD_STR(body), TAG_END());
    sip_info_sent(t.leg);
    char shown[512];
    st_textify_crlf(shown, sizeof shown, body);
    LOGM(TARN, LOG_MSG_NOTICE | 1, "%s S SEND: NUA_INFO => %s", cinfo(co), shown);
}

} // namespace

bool dtmf_info_body(int code, int duration, char *buf, size_t size)
{
    if (code < 0 || code > 15 || !buf || size == 0)
        return false;
    snprintf(buf, size, "Signal=%s\r\nDuration=%i\r\n", info_signals[code], duration);
    return true;
}

void send_inband_dtmf(call_object *co, const char *digit, int direction, int duration)
{
    if (!co || !digit)
        return;
    int tone_direction = direction;
    if (direction == FROM_TDM || direction == TO_TDM) {
        if (!co->f.regenerate_inband_dtmf_to_tdm)
            return;
        tone_direction = 0;
    } else if (direction == FROM_PACKET || direction == TO_PACKET) {
        if (!co->f.regenerate_inband_dtmf_to_packet)
            return;
        tone_direction = 1;
    }
    magic_csm m = voice_msg(FC_VOIP_TONEGEN);
    if (csm_msg_is_null(m))
        return;
    csmchan_voip_tonegen *r = m.u_csmchan_voip_tonegen;
    r->cadence_repeat = 0;
    r->tone_direction = (uint32_t)tone_direction;
    r->on_time_c1 = (uint32_t)duration;
    r->primary_frequency_c1 = r->secondary_frequency_c1 = 0;
    r->primary_frequency_c2 = r->secondary_frequency_c2 = r->on_time_c2 = r->off_time_c2 = 0;
    r->primary_frequency_c3 = r->secondary_frequency_c3 = r->on_time_c3 = r->off_time_c3 = 0;
    if (const dtmf_pair *p = pair_of(digit[0])) {
        r->primary_frequency_c1 = p->low;
        r->secondary_frequency_c1 = p->high;
    }
    msp_queue_lock_take();
    if ((co->msp_state & MSP_VOICE_ACTIVE) && r->primary_frequency_c1 && r->secondary_frequency_c1) {
        media_put(co, co->tdm_logical_timeslot, m);
        m = csm_null_msg();
    }
    msp_queue_lock_release();
    if (!csm_msg_is_null(m))
        delete_csm_msg(m);
}

void send_dtmf_to_sip(call_object *co, int code, int duration)
{
    if (!co)
        return;
    sip_target t;
    if (!target_of(co, duration, &t))
        return;
    switch (t.mode) {
    case DTMF_RFC2833:
        send_nte(co, t, code);
        break;
    case DTMF_INFO:
        send_info(co, t, code);
        break;
    case DTMF_INBAND:
        if (co->callinfo != CI_SIP_TO_SIP && co->callinfo != CI_INTERNAL && co->cc.dtmfremoval <= 1 &&
            media_has_tonedetect_to_ascii()) {
            char text[2] = {media_callctl().tonedetect_to_ascii(code), '\0'};
            send_inband_dtmf(co, text, TO_PACKET, co->cc.dtmflen);
        }
        break;
    default:
        break;
    }
}
