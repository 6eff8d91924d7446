// The dial tone an FXS or CAS caller hears on the voice channel while
// dialling.
#include <cstring>

#include "confman.h"
#include "csm_codes.h"
#include "media_relay.h"
#include "media_voice.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "schema.h"
#include "tones.h"
#include "voice_rows.h"

namespace {

constexpr int ANALOG_PORT_MARKER = 0x800;
constexpr int LANGUAGE_CODE_CHARS = 15;

bool wants_stutter(const call_object *co)
{
    const port_group_analog_port_setting *s =
        pg_get_port_group_analog_port_setting_by_port(co->analog_port & ~ANALOG_PORT_MARKER);
    return s && s->message_waiting > 0 && s->port_group && (s->port_group->message_waiting_method & PG_MWI_STUTTER);
}

void start_dial_tone(call_object *co, bool may_stutter)
{
    if (!co)
        return;
    char code[LANGUAGE_CODE_CHARS + 1];
    // A call on a CAS channel plays its channel's tone set (an analog port
    // number of 0 has none, and the caller would hear nothing).
    if (!may_stutter && co->cas_port > 0)
        media_port_tone_set(TONESET_CAS, co->cas_port, code, sizeof code);
    else
        media_port_tone_set(TONESET_ANALOG, co->analog_port, code, sizeof code);
    const tone_config_set *set = get_tone_config(code);
    if (!set) {
        LOGM(TARN, LOG_MSG_ERROR, "%s E ERR : couldn't find tones for language code \"%s\"", cinfo(co), code);
        return;
    }
    const analog_dial_tone_config &t = may_stutter && wants_stutter(co) ? set->analog_stutter : set->analog_dial;
    magic_csm m = voice_msg(FC_VOIP_TONEGEN);
    if (csm_msg_is_null(m))
        return;
    csmchan_voip_tonegen *r = m.u_csmchan_voip_tonegen;
    r->cadence_repeat = 255; // endless
    r->tone_direction = 0;
    r->primary_frequency_c1 = (uint32_t)t.c1_f1;
    r->secondary_frequency_c1 = (uint32_t)t.c1_f2;
    r->on_time_c1 = (uint32_t)t.c1_on_time;
    r->off_time_c1 = (uint32_t)t.c1_off_time;
    r->primary_frequency_c2 = (uint32_t)t.c2_f1;
    r->secondary_frequency_c2 = (uint32_t)t.c2_f2;
    r->on_time_c2 = (uint32_t)t.c2_on_time;
    r->off_time_c2 = (uint32_t)t.c2_off_time;
    r->primary_frequency_c3 = r->secondary_frequency_c3 = 0;
    r->on_time_c3 = r->off_time_c3 = 0;
    msp_queue_lock_take();
    media_put(co, co->tdm_logical_timeslot, m);
    msp_queue_lock_release();
}

} // namespace

void start_msp_analog_dial_tone(call_object *co)
{
    start_dial_tone(co, true);
}

void start_msp_cas_dial_tone(call_object *co)
{
    start_dial_tone(co, false);
}

void stop_msp_analog_dial_tone(call_object *co)
{
    if (!co || !(co->msp_state & MSP_VOICE_ACTIVE))
        return;
    msp_queue_lock_take();
    media_put(co, co->tdm_logical_timeslot, voice_msg(FC_VOIP_TONEOFF));
    msp_queue_lock_release();
    co->analog_dial_tone_stopped = 1;
}
