// The GSM event handler: the pending status report and cell-broadcast PDU,
// the unsolicited modem lines, and the call part under global_lock.
#include "gsm_events.h"

#include <pthread.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "application.h"
#include "call_lookups.h"
#include "call_object.h"
#include "call_reset.h"
#include "experimental_options.h"
#include "gsm_events_intern.h"
#include "gsm_lib.h"
#include "gsm_log.h"
#include "gsm_status.h"
#include "log.h"
#include "media_callctl.h"
#include "media_relay.h"
#include "pools.h"
#include "sm_events.h"
#include "sm_run.h"
#include "statemachine.h"
#include "timer.h"

int gsm_cds_expected[8];
int global_gsm_cds_waiting_id[8];
int gsm_cbm_expected[8];
time_t gsm_cbm_expected_at[8];

static time_t monotonic_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec;
}
time_t (*gsm_events_now)() = monotonic_seconds;

enum { GSM_CBM_WAIT_SECONDS = 5 };

namespace {

const experimental_options *eo() { return gp ? gp->experimental_options : nullptr; }

bool unsolicited(const gsm_command *cmd)
{
    return cmd->event_type == 0 || cmd->event_type == GSM_EVENT_TYPE_UNKNOWN;
}

// A text for the log with CR and LF made visible, bounded.
void visible(const char *in, char *out, size_t size)
{
    size_t n = 0;
    for (const char *p = in ? in : ""; *p && n + 3 < size; p++) {
        if (*p == '\r' || *p == '\n') {
            out[n++] = '\\';
            out[n++] = *p == '\r' ? 'r' : 'n';
        } else {
            out[n++] = *p;
        }
    }
    out[n] = '\0';
}

// ---- steps 2 and 3: a line that an earlier one announced ------------------------

void status_report_line(int port, const char *line)
{
    gsm_cds_expected[port] = 0;
    int ref = -1;
    gsm_sms_log_delivery(port, line, &ref);
    if (ref >= 0 && ref == global_gsm_cds_waiting_id[port])
        global_gsm_cds_waiting[port] = 0;
}

bool all_hex(const char *s)
{
    if (!*s)
        return false;
    for (; *s; s++)
        if (!isxdigit((unsigned char)*s))
            return false;
    return true;
}

// Returns true when the line was the announced PDU (taken or discarded).
bool cell_broadcast_line(int port, const char *line)
{
    int announced = gsm_cbm_expected[port];
    if (gsm_events_now() - gsm_cbm_expected_at[port] > GSM_CBM_WAIT_SECONDS) {
        LOGM(GSM, LOG_MSG_ERROR, "GSM port %i: no cell broadcast PDU within %i s after +CBM", port,
             GSM_CBM_WAIT_SECONDS);
        gsm_cbm_expected[port] = 0;
        return false;
    }
    if (!all_hex(line))
        return false;
    int len = (int)strlen(line);
    if (len > 11 && len % 2 == 0 && (announced < 1 || announced == len / 2)) {
        gsm_cbm_expected[port] = 0;
        gsm_cbm_incoming_pdu(gp ? gp->gsm_cbm_spool_in : nullptr, gp ? gp->gsm_cbm_spool_parts : nullptr, port,
                             line);
        return true;
    }
    LOGM(GSM, LOG_MSG_ERROR, "GSM port %i: cell broadcast PDU has %i hex chars, +CBM announced %i bytes - discarded",
         port, len, announced);
    gsm_cbm_expected[port] = 0;
    return true;
}

// ---- step 5: unsolicited lines -------------------------------------------------------

void ciev(gsm_event &ev, const char *what)
{
    gsm_port_info *pi = gsm_info_of_port(ev.port);
    if (gsm_starts(what, "service,1")) {
        if (pi)
            pi->reg_status = 1;
        gsm_cbm_rearm_if_needed(ev.port, 0);
        return;
    }
    if (gsm_starts(what, "service,0")) {
        if (pi)
            pi->reg_status = 0;
        return;
    }
    if (gsm_starts(what, "sounder,0"))
        ev.sounder_off = true;
    ev.type = GSM_EVENT_TYPE_CIEV;
}

void clip(gsm_event &ev, const char *line)
{
    _gsm_event_clip_t *c = libgsm_parse_clip(ev.port, line);
    if (!c)
        return;
    ev.clip = true;
    ev.type = GSM_EVENT_TYPE_CLIP;
    snprintf(ev.number, sizeof ev.number, "%s", c->number);
    snprintf(ev.clip_name, sizeof ev.clip_name, "%s", c->name);
    ev.clip_type = c->type;
    ev.clip_validity = c->validity;
    free(c);
}

void new_message(gsm_event &ev, const char *line)
{
    _gsm_event_sms_recv_t *r = libgsm_event_sms_recv(ev.port, 0, line);
    if (!r)
        return;
    char cmd[32];
    snprintf(cmd, sizeof cmd, "AT+CMGR=%d", r->save_pos);
    free(r);
    gsm_queue_command(ev.port, GSM_EVENT_TYPE_CMGR, cmd, nullptr, nullptr, 0, 1);
}

void cell_broadcast_announced(int port, const char *line)
{
    const char *colon = strchr(line, ':');
    int n = colon ? atoi(colon + 1) : 0;
    gsm_cbm_expected[port] = n < 1 ? -1 : n;
    gsm_cbm_expected_at[port] = gsm_events_now();
}

void status_report_announced(int port, const char *line)
{
    if (eo() && eo()->eo_gsm_pdu_mode) {
        gsm_cds_expected[port] = 1;
        return;
    }
    int ref = -1;
    gsm_sms_log_delivery(port, line, &ref);
}

void ecam(gsm_event &ev, const char *line)
{
    int value = libgsm_event_ecam(ev.port, 0, line + strlen("#ECAM:"), &ev.call_id);
    ev.type = gsm_ecam_event(value);
    if (!ev.type && value != 5)
        GLOG(5, ev.port, "not converting ecam event %i to progress event", value);
}

void ussd_answer(int port, const char *line)
{
    if (!gp || !g_lock_manager)
        return;
    pthread_mutex_lock(g_lock_manager->gsm_cusd_lock);
    if (gp->gsm_cusd_send_buffer[port]) {
        free(gp->gsm_cusd_response_buffer[port]);
        gp->gsm_cusd_response_buffer[port] = strndup(line, GSM_CUSD_ANSWER_MAX);
    }
    pthread_mutex_unlock(g_lock_manager->gsm_cusd_lock);
}

// "#DTMFEV: <digit>,<flag>": the digit when eo_ltedtmf accepts the report.
void modem_dtmf(gsm_event &ev, const char *what)
{
    int digit = -1;
    char c = what[0];
    if (c == '*')
        digit = 10;
    else if (c == '#')
        digit = 11;
    else if (c >= '0' && c <= '9')
        digit = c - '0';
    if (digit < 0 || what[1] != ',')
        return;
    int flag = atoi(what + 2);
    bool take = false;
    switch (eo() ? eo()->eo_ltedtmf : 0) {
    case 1: take = true; break;
    case 2: take = flag != 0; break;
    case 3: take = flag == 1; break;
    default: break;
    }
    if (take)
        ev.dtmf = digit;
}

void registration(int port, const char *line)
{
    if (gsm_starts(line, "+CREG: 1") || gsm_starts(line, "+CREG: 5")) {
        GLOG(5, port, "registration regained, re-arming cell broadcast");
        gsm_cbm_rearm_if_needed(port, 0);
        return;
    }
    if (!gsm_starts(line, "+CREG: 0"))
        return;
    GLOG(5, port, "LTE Registration loss");
    gsm_cbm_mark_for_rearm(port);
    gsm_port_info *pi = gsm_info_of_port(port);
    if (eo() && eo()->eo_lte_register_workaround && pi && pi->was_successfully_registered)
        global_gsm_port_needs_reregister[port] = 1;
}

void indication(gsm_event &ev)
{
    const char *line = ev.response;
    GLOG(5, ev.port, "got indication |%s|", line);
    if (gsm_starts(line, "+CIEV: "))
        ciev(ev, line + 7);
    else if (gsm_starts(line, "RING"))
        ev.type = GSM_EVENT_TYPE_RING;
    else if (gsm_starts(line, "+CLIP"))
        clip(ev, line);
    else if (gsm_starts(line, "+CMTI"))
        new_message(ev, line);
    else if (gsm_starts(line, "+CBM"))
        cell_broadcast_announced(ev.port, line);
    else if (gsm_starts(line, "+CDS"))
        status_report_announced(ev.port, line);
    else if (gsm_starts(line, "#ECAM:"))
        ecam(ev, line);
    else if (gsm_starts(line, "+CUSD"))
        ussd_answer(ev.port, line);
    else if (gsm_starts(line, "#DTMFEV: "))
        modem_dtmf(ev, line + 9);
    else if (gsm_starts(line, "+CREG"))
        registration(ev.port, line);
}

// ---- step 7: the call on the port -------------------------------------------------------

void caller_number(call_object *co, const gsm_event &ev)
{
    snprintf(co->gsm_oad, 64, "%s", ev.number);
    if (ev.clip)
        LOGD_CALL(GSM, 5, co, "GOT CLIP num |%s| name |%s| type %i val %i", ev.number, ev.clip_name, ev.clip_type,
                  ev.clip_validity);
    else
        LOGD_CALL(GSM, 5, co, "GOT caller number from CLCC |%s|", ev.number);
    // Only a timer that still counts is brought forward to the next tick.
    if (timer_is_armed(co->timer))
        timer_reset_interval(co->timer, 0, 10000);
}

void modem_dtmf_to_call(call_object *co, int digit)
{
    if (co->sm_state != SM_CALL_ACTIVE || !media_has_process_dtmf())
        return;
    co->f.got_sip_info_dtmf = 1;
    media_callctl().process_dtmf(FROM_TDM, co, digit);
    co->f.got_sip_info_dtmf = 0;
}

bool may_run(const call_object *co, const gsm_event &ev)
{
    if (!co->sm || ev.type == 0 || ev.type == GSM_EVENT_TYPE_UNKNOWN)
        return false;
    return ev.call_id == -1 || co->gsm_call_id == -1 || ev.call_id == co->gsm_call_id;
}

void call_event(gsm_event &ev)
{
    call_object *co = get_operation_by_gsm_port(ev.port);
    if (!co) {
        if (ev.type == GSM_EVENT_TYPE_RING)
            init_incoming_gsm_call(ev.cmd);
        return;
    }
    if (ev.clip || ev.clcc)
        caller_number(co, ev);
    if (ev.dtmf >= 0)
        modem_dtmf_to_call(co, ev.dtmf);
    if (!may_run(co, ev))
        return;
    int word = ev.sounder_off && co->sm_state == SM_SIP_INVITE_SENT ? sm_gsm(GSM_EVENT_TYPE_RELEASED)
                                                                     : sm_gsm(ev.type);
    do_statemachine_run(co, word, 0);
    gsm_finish_machine_run(co);
}

} // namespace

// ---- shared -------------------------------------------------------------------------------

int gsm_ecam_event(int value)
{
    switch (value) {
    case 0: return GSM_EVENT_TYPE_RELEASED;
    case 2: return GSM_EVENT_TYPE_RINGING;
    case 3: return GSM_EVENT_TYPE_CONNECTED;
    case 7: return GSM_EVENT_TYPE_BUSY;
    default: return 0;
    }
}

gsm_port_info *gsm_info_of_port(int port)
{
    return gp && port >= 1 && port <= GSM_MAX_PORTS ? &gp->gsm_port_info.port_infos[port] : nullptr;
}

void gsm_set_info_text(char *&field, const char *text, size_t max)
{
    char *copy = strndup(text ? text : "", max);
    if (!copy)
        return;
    free(field);
    field = copy;
}

void gsm_finish_machine_run(call_object *co)
{
    if (!co || !co->sm)
        return;
    uint32_t state = (uint32_t)statemachine_get_state(co->sm);
    if (state == SM_DESTROYING) {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
        LOGD_CALL(GSM, 5, co, "calling reset_op for %p", (void *)co);
        reset_op(co);
    } else if (state == SM_DISMANTLING) {
        start_dismantling_timer(co);
    }
}

int32_t tarn_gsm_send_event(void *p, void *, int32_t out_event)
{
    call_object *co = (call_object *)p;
    if (!co || co->gsm_port <= 0)
        return 0;
    int type = 0, code = 0, status = 0;
    decode_complex_event(out_event, &type, &code, &status);
    LOGD_CALL(GSM, 0, co, "port%d, out_ev:%d type:%d, noute:%d, status:%d", co->gsm_port, out_event, type, code,
              status);
    gsm_send_event(co->gsm_port, code);
    return 0;
}

void gsm_event_handler(gsm_command *cmd)
{
    if (!cmd) {
        LOGD(GSM, 5, nullptr, "no gsm command");
        return;
    }
    // Every per-port table has room for ports 0..6 at most.
    if (cmd->port < 1 || cmd->port > GSM_MAX_PORTS) {
        LOGD(GSM, 1, nullptr, "gsm event of port %i dropped: no such port", cmd->port);
        // The record of a sent message is ours once its answer reached us.
        if (cmd->event_type == GSM_EVENT_TYPE_CMGS && cmd->send_cmd) {
            gsm_sms_free((gsm_outgoing_sms *)cmd->send_cmd);
            cmd->send_cmd = nullptr;
        }
        return;
    }
    gsm_event ev;
    ev.cmd = cmd;
    ev.port = cmd->port;
    ev.type = unsolicited(cmd) ? 0 : cmd->event_type;
    ev.response = cmd->response ? cmd->response : "";
    const char *response = ev.response;

    if (unsolicited(cmd)) {
        // 2. 3. lines that an earlier line announced
        if (gsm_cds_expected[ev.port])
            status_report_line(ev.port, response);
        if (gsm_cbm_expected[ev.port] && cell_broadcast_line(ev.port, response))
            return;
        // 5.
        indication(ev);
    } else {
        // 4.
        char text[1024];
        if (cmd->event_type == GSM_EVENT_TYPE_CMGS) {
            GLOG(5, ev.port, "gsm_event_handler got reply to sent SMS");
        } else {
            visible(cmd->send_cmd, text, sizeof text);
            GLOG(5, ev.port, "gsm_event_handler sent |%s|", text);
        }
        visible(response, text, sizeof text);
        GLOG(5, ev.port, "gsm_event_handler recv |%s|", text);
        // 6.
        gsm_handle_answer(ev);
    }

    // 7.
    if (!g_lock_manager || (!ev.type && !ev.clip && !ev.clcc && ev.dtmf < 0))
        return;
    pthread_mutex_lock(g_lock_manager->global_lock);
    call_event(ev);
    pthread_mutex_unlock(g_lock_manager->global_lock);
}
