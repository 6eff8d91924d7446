// The tone actions of the call state tables: ring-back, busy and the hangup
// tone towards the line, and silence.
#include <cstring>

#include "confman.h"
#include "log.h"
#include "media_callctl.h"
#include "media_relay.h"
#include "media_voice.h"
#include "misdn_bchannel.h"
#include "msp_resource.h"
#include "pools.h"
#include "schema.h"

namespace {

enum { PORT_SECTION = 1 };
constexpr int ANALOG_PORT_MARKER = 0x800;
constexpr int TONE_SET_CHARS = 15;
enum { CP_TONE_RING = 1, CP_TONE_BUSY = 2, CP_TONE_CONGESTION = 3 };
constexpr int HANGUP_DISMANTLING_TIMEOUT = 30;
constexpr int BUSY_HERE = 486;

// Where each kind of port names its tone set.
struct tone_set_source {
    cm *application_object::*config;
    int key;
};
const tone_set_source tone_set_sources[] = {
    /* TONESET_ISDN */ {&application_object::config_isdn, CFG_ISDN_PORT_TONES},
    /* TONESET_ANALOG */ {&application_object::config_analog, CFG_ANALOG_PORT_TONES},
    /* TONESET_CAS */ {&application_object::config_cas, CFG_CAS_PORT_TONES},
};

bool isdn_call(const call_object *co)
{
    return co->callinfo == CI_SIP_TO_ISDN || co->callinfo == CI_ISDN_TO_SIP;
}
bool nt_mode(const call_object *co)
{
    return co->bc && co->bc->nt;
}

void play(call_object *co, int kind, int port, int type)
{
    char set[TONE_SET_CHARS + 1];
    media_port_tone_set(kind, port, set, sizeof set);
    call_start_msp_tone(co, set, type);
}

void play_isdn(call_object *co, int type)
{
    play(co, TONESET_ISDN, co->bc ? co->bc->port : 0, type);
}

void stop_tone_if_running(call_object *co)
{
    if (co->msp_state & MSP_TONEGEN_ACTIVE)
        call_stop_msp_tone(co, 1);
}

void entry_line(call_object *co)
{
    LOGD(MSP, 5, cinfo(co), "for co %p (index %i)!", (void *)co, get_index_of_operation(co));
}

} // namespace

void media_port_tone_set(int kind, int port, char *buf, size_t size)
{
    if (!buf || size == 0)
        return;
    buf[0] = '\0';
    if (kind < 0 || kind > TONESET_CAS || !gp)
        return;
    const tone_set_source &src = tone_set_sources[kind];
    cm *config = gp->*src.config;
    char value[256] = "";
    if (kind == TONESET_ANALOG)
        port &= ~ANALOG_PORT_MARKER;
    if (config)
        cm_get(config, value, sizeof value, PORT_SECTION, src.key, port);
    value[TONE_SET_CHARS] = '\0';
    size_t n = 0;
    for (const char *p = value; *p && n + 1 < size; p++)
        if (*p != '[' && *p != ']')
            buf[n++] = *p;
    buf[n] = '\0';
}

statemachine_handle_retval sm_msp_start_tone_hangup(void *owner, void *, int32_t, int32_t)
{
    auto *co = static_cast<call_object *>(owner);
    LOGD(MSP, 5, cinfo(co), "for co %p!", (void *)co);
    if (!co)
        return {-1, -1};
    if (co->msp_state & MSP_TONEGEN_ACTIVE)
        call_stop_msp_tone(co, 1);
    if (co->msp_state & MSP_VOICE_ACTIVE)
        media_call_stop_rtp(co, 1);
    if (co->msp_state & MSP_T38_ACTIVE)
        call_stop_msp_t38(co, 1);
    if (co->msp_state & MSP_HDLC_ACTIVE)
        stop_msp_hdlc(co, 1);
    switch (co->callinfo) {
    case CI_SIP_TO_ISDN:
    case CI_ISDN_TO_SIP:
        if (nt_mode(co))
            play_isdn(co, CP_TONE_CONGESTION);
        break;
    case CI_SIP_TO_ANALOG:
    case CI_ANALOG_TO_SIP: {
        co->dismantling_timeout = HANGUP_DISMANTLING_TIMEOUT;
        bool busy = co->callinfo == CI_ANALOG_TO_SIP && co->cl_sip && co->cl_sip->last_nua_status_code == BUSY_HERE;
        play(co, TONESET_ANALOG, co->analog_port, busy ? CP_TONE_BUSY : CP_TONE_CONGESTION);
        break;
    }
    case CI_SIP_TO_CAS:
    case CI_CAS_TO_SIP:
        co->dismantling_timeout = HANGUP_DISMANTLING_TIMEOUT;
        play(co, TONESET_CAS, co->cas_port, CP_TONE_CONGESTION);
        break;
    default:
        break;
    }
    return {-1, -1};
}

statemachine_handle_retval sm_msp_start_tone_none(void *owner, void *, int32_t, int32_t)
{
    auto *co = static_cast<call_object *>(owner);
    entry_line(co);
    if (co)
        stop_tone_if_running(co);
    return {-1, -1};
}

statemachine_handle_retval sm_msp_start_tone_alerting(void *owner, void *, int32_t, int32_t)
{
    auto *co = static_cast<call_object *>(owner);
    entry_line(co);
    if (!co)
        return {-1, -1};
    if (isdn_call(co) && nt_mode(co)) {
        if (co->msp_state & MSP_VOICE_ACTIVE)
            return {-1, -1};
        stop_tone_if_running(co);
        play_isdn(co, CP_TONE_RING);
    } else if (isdn_call(co)) {
        if (!co->cc.early_audio_outbound || !co->cc.generate_ringing_on_eao)
            return {-1, -1};
        if (co->msp_state & MSP_VOICE_ACTIVE) {
            co->f.start_streaming = 1;
            media_call_stop_rtp(co, 1);
        }
        stop_tone_if_running(co);
        play_isdn(co, CP_TONE_RING);
    } else if (co->callinfo == CI_CAS_TO_SIP && !(co->msp_state & MSP_VOICE_ACTIVE)) {
        stop_tone_if_running(co);
        play(co, TONESET_CAS, co->cas_port, CP_TONE_RING);
    }
    return {-1, -1};
}

statemachine_handle_retval sm_msp_send_tone_busy(void *owner, void *, int32_t, int32_t)
{
    auto *co = static_cast<call_object *>(owner);
    entry_line(co);
    if (!co)
        return {-1, -1};
    if (isdn_call(co) && nt_mode(co)) {
        if (co->msp_state & MSP_VOICE_ACTIVE)
            media_call_stop_rtp(co, 1);
        stop_tone_if_running(co);
        play_isdn(co, CP_TONE_BUSY);
    } else if (co->callinfo == CI_CAS_TO_SIP) {
        play(co, TONESET_CAS, co->cas_port, CP_TONE_BUSY);
    }
    return {-1, -1};
}

statemachine_handle_retval sm_release_logical_timeslot(void *owner, void *, int32_t, int32_t)
{
    auto *co = static_cast<call_object *>(owner);
    entry_line(co);
    if (co)
        co->tdm_logical_timeslot = -1;
    return {-1, -1};
}
