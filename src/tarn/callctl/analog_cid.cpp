// Caller id and indications toward and from analog lines: the FSK caller id
// an FXO line delivers, the FSK caller id (and the message-waiting
// indication) generated toward an FXS telephone, and charge pulses.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "analog_callctl.h"
#include "analog_callctl_internal.h"
#include "analogctl.h"
#include "application.h"
#include "call_object.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "line_bringup.h"
#include "log.h"
#include "media_start.h"
#include "call_reset.h"
#include "media_voice.h"
#include "msp_queue.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "rtp_ports.h"
#include "sm_defs.h"
#include "state_table_actions.h"
#include "state_tables.h"
#include "timer.h"

namespace {

enum {
    CND_MDMF = 128,
    CND_MDMF_MESSAGE_WAITING = 130,
    CND_SDMF = 4,
    CND_PARAM_DATE_TIME = 1,
    CND_PARAM_NUMBER = 2,
    CND_PARAM_NAME = 7,
    CND_PARAM_VISUAL_INDICATOR = 11,
    CND_HEADER_BYTES = 10,
    FXO_OAD_CHARS = 32,
    TEXT_CHARS = 63,
    SDMF_MAX_BYTES = 63,
    ANALOG_TDM_PORT_OFFSET = 100,
};

call_object *call_of(void *p) { return (call_object *)p; }

const experimental_options *eo() { return gp ? gp->experimental_options : nullptr; }

// Copies a parameter's bytes into a text field, cut to chars characters.
void take_text(char *dst, const uint8_t *src, int len, int chars)
{
    if (len > chars)
        len = chars;
    memcpy(dst, src, (size_t)len);
    dst[len] = '\0';
}

// Appends one parameter {type, length, bytes} when the whole message stays
// below the generator's 128 bytes.
bool add_parameter(fsk_callerid_message &m, int type, const void *data, int len)
{
    if (len < 0 || m.length + 2 + len >= (int)sizeof m.bytes)
        return false;
    m.bytes[m.length++] = (uint8_t)type;
    m.bytes[m.length++] = (uint8_t)len;
    memcpy(m.bytes + m.length, data, (size_t)len);
    m.length += len;
    return true;
}

// The cid_gen_time delay (or a second) before the caller id goes out.
void arm_caller_id_timer(call_object *co)
{
    int ms = co->cc.cid_gen_time;
    if (ms > 0) {
        LOGD_CALL(ANALOG, 5, co, "sending CID in %i.%i seconds", ms / 1000, (ms % 1000) * 1000);
        analog_arm_timer(&co->timer, ms / 1000, (long)(ms % 1000) * 1000, T_EVENT_DIALING);
    } else {
        analog_arm_timer(&co->timer, 1, 0, T_EVENT_DIALING);
    }
}

} // namespace

// ---- caller id from an FXO line ------------------------------------------------------------

void parse_analog_callerid(call_object *co, const csmchan_cndrxmsg_indication *ind)
{
    if (!co || !ind || !co->analog_oad || !co->analog_display)
        return;
    co->analog_oad[0] = '\0';
    co->analog_display[0] = '\0';
    // The record holds msg_byte_count_cropped of the message's bytes (at
    // most 64): a message that did not fit whole is damaged.
    if (ind->msg_byte_count_cropped < ind->msg_byte_count) {
        LOGD_CALL(ANALOG, 1, co, "Ignoring probably broken FSK CID with byte_count %i !", (int)ind->msg_byte_count);
        return;
    }
    int count = (int)ind->msg_byte_count;
    if (count > (int)CSM_CNDRX_BYTES)
        count = (int)CSM_CNDRX_BYTES;
    const uint8_t *b = ind->msg_byte;
    if (ind->msg_type_id == CND_MDMF) {
        for (int i = 0; i + 2 <= count;) {
            int type = b[i], len = b[i + 1];
            const uint8_t *data = b + i + 2;
            if (i + 2 + len > count)
                break;
            if (type == CND_PARAM_NUMBER)
                take_text(co->analog_oad, data, len, FXO_OAD_CHARS);
            else if (type == CND_PARAM_NAME)
                take_text(co->analog_display, data, len, TEXT_CHARS);
            i += 2 + len;
        }
    } else if (ind->msg_type_id == CND_SDMF) {
        int offset = eo() ? eo()->eo_analog_cid_sdmf_offset : 0;
        if (offset < 0)
            offset = 0;
        int end = count < SDMF_MAX_BYTES ? count : SDMF_MAX_BYTES;
        for (int i = offset; i < end; i++) {
            char c = (char)(b[i] & 0x7f);
            if (c >= '0' && c <= '9' && !analog_append_char(co->analog_oad, FXO_OAD_CHARS + 1, c))
                break;
        }
    }
}

// ---- caller id toward an FXS telephone -------------------------------------------------------

int fsk_callerid_build(fsk_callerid_message *m, const char *oad, const char *display, int message_waiting,
                       int message_waiting_on, const struct tm *now)
{
    *m = fsk_callerid_message{};
    m->type = message_waiting ? CND_MDMF_MESSAGE_WAITING : CND_MDMF;
    if (message_waiting) {
        uint8_t on = message_waiting_on ? 255 : 0;
        add_parameter(*m, CND_PARAM_VISUAL_INDICATOR, &on, 1);
    }
    char date[9];
    snprintf(date, sizeof date, "%02i%02i%02i%02i", (now->tm_mon + 1) % 100, now->tm_mday % 100, now->tm_hour % 100,
             now->tm_min % 100);
    add_parameter(*m, CND_PARAM_DATE_TIME, date, 8);
    if (oad && oad[0])
        add_parameter(*m, CND_PARAM_NUMBER, oad, (int)strnlen(oad, TEXT_CHARS));
    if (display && display[0])
        add_parameter(*m, CND_PARAM_NAME, display, (int)strnlen(display, TEXT_CHARS));
    return m->length;
}

int fsk_callerid_queue(call_object *co, const fsk_callerid_message *m)
{
    magic_csm msg = create_default_csm_msg(FC_CND_ONHOOK_GEN, gp->msp_counter++);
    if (csm_msg_is_null(msg))
        return -1;
    csmchan_cnd_onhook_gen *r = msg.u_csmchan_cnd_onhook_gen;
    r->msg_type_id = (uint32_t)m->type;
    memcpy(r->msg_byte, m->bytes, (size_t)m->length);
    get_header(msg)->msg_length = (uint32_t)(m->length + CND_HEADER_BYTES);
    msp_queue_lock_take();
    msp_queue_command_nolock(msg, co->tdm_logical_timeslot, co, 0);
    msp_queue_lock_release();
    return 0;
}

SM_ACTION(sm_send_analog_cid)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    if (eo() && (eo()->eo_debug_flags & 1))
        return ANALOG_ROW;
    time_t t = analog_clock(nullptr);
    struct tm now;
    localtime_r(&t, &now);
    fsk_callerid_message m;
    fsk_callerid_build(&m, co->analog_oad, co->analog_display, co->f.message_waiting, co->f.message_waiting_on, &now);
    fsk_callerid_queue(co, &m);
    return ANALOG_ROW;
}

// ---- charge pulses -------------------------------------------------------------------------------

SM_ACTION(sm_fxs_send_aoc)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    aoc_definition &a = co->cc.aocdef;
    if (a.current >= CC_MAX_AOC_RULES)
        return ANALOG_ROW;
    const aoc_interval &r = a.aocintervals[a.current];
    if (co->aoc_timer) {
        timer_reset_interval(co->aoc_timer, r.interval > 0 ? r.interval : 0, r.interval > 0 ? 0 : TIMER_TICK_MS * 1000);
        timer_restart(co->aoc_timer);
    }
    if (a.aoctype != AOC_TYPE_ANALOG12K && a.aoctype != AOC_TYPE_ANALOG16K)
        return ANALOG_ROW;
    verbose_analog_send_event(co, co->analog_port,
                              a.aoctype == AOC_TYPE_ANALOG12K ? ANALOG_EVENT_TAXPULSE12 : ANALOG_EVENT_TAXPULSE16);
    a.total_units++;
    a.repeat_counter++;
    if (r.repeats == 0 || (r.repeats > 0 && a.repeat_counter >= r.repeats + 1)) {
        a.current++;
        a.repeat_counter = 0;
    }
    return ANALOG_ROW;
}

// ---- message waiting ------------------------------------------------------------------------------

SM_ACTION(sm_afxs_message_waiting_delivered)
{
    (void)arg, (void)state, (void)event;
    call_object *co = call_of(p);
    port_group_analog_port_setting *s = pg_get_port_group_analog_port_setting_by_port(analog_port_number(co->analog_port));
    if (s)
        s->message_waiting_delivered = 1;
    return ANALOG_ROW;
}

int analog_fxs_send_message_waiting_fsk(int port, int on)
{
    port = analog_port_number(port);
    if (!gp || !gp->analog_info || port < 1 || port >= ANALOG_INFO_PORTS || gp->analog_info->in_use[port])
        return 0;
    call_object *co = get_free_operation_handle(1);
    call_leg_sip *leg = co ? get_new_sip_call_leg() : nullptr;
    if (!co || !leg) {
        // No call object or leg: the next refresh tries again.
        LOGD(ANALOG, 1, nullptr, "no free call object for the message-waiting indication on port %i", port);
        if (co)
            reset_op(co);
        return 0;
    }
    gp->analog_info->in_use[port] = 1;
    co->cl_sip = co->cl_sip_out = leg;
    co->analog_port = port;
    co->f.message_waiting = 1;
    co->f.message_waiting_on = on == 1;
    co->f.dummy_rtp = 1;
    co->f.no_cdr = 1;
    co->analog_type = ANALOG_TYPE_FXS;
    co->tdm_logical_timeslot = get_logical_timeslot(co, port + ANALOG_TDM_PORT_OFFSET, 1);
    call_msp_setup_voice_channel(co, 1);
    co->callinfo = CI_SIP_TO_ANALOG;
    verbose_analog_send_event(co, port, ANALOG_EVENT_RINGING);
    co->sm = create_statemachine_sip_to_fxs(co, SM_ANALOG_FXS_MESSAGE_WAITING, tarn_analog_send_event);
    co->sm_state = SM_ANALOG_FXS_MESSAGE_WAITING;
    arm_caller_id_timer(co);
    return 0;
}

void analog_arm_caller_id_timer(call_object *co)
{
    arm_caller_id_timer(co);
}

void fxs_message_waiting_refresh()
{
    port_groups *pg = pg_port_groups();
    if (!pg || !gp || !gp->analog_info)
        return;
    lock_hold hold(&lock_manager::global_lock);
    for (int g = 0; g < pg->port_groups_analog_count && g < PG_ANALOG_GROUPS; g++) {
        port_group_analog *group = pg->port_groups_analog[g];
        if (!group || !(group->message_waiting_method & PG_MWI_FSK) || (group->message_waiting_method & PG_MWI_OFF))
            continue;
        for (int i = 0; i < group->port_count; i++) {
            port_group_analog_port_setting &s = group->port_settings[i];
            if (s.port < 1 || s.port >= ANALOG_INFO_PORTS || gp->analog_info->type[s.port] != ANALOG_TYPE_FXS ||
                s.message_waiting < 0 ||
                s.message_waiting_delivered)
                continue;
            analog_fxs_send_message_waiting_fsk(s.port, s.message_waiting);
        }
    }
}
