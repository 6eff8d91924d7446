// The actions of the two console-driven call machines: a SIP call carried
// to a peer unit over a console connection (sip_to_itapi), and the progress
// lines of an ISDN call that a peer placed through this console
// (telnet_to_isdn).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "call_info.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "dialplan.h"
#include "log.h"
#include "mc_itapi.h"
#include "misdn_bchannel.h"
#include "pools.h"
#include "sdp_offer_answer.h"
#include "sip_trace.h"
#include "sm_defs.h"
#include "sm_tasks.h"
#include "state_table_actions.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/soa_tag.h>

namespace {

const statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};
const statemachine_handle_retval DESTROY = {SM_DESTROYING, SM_NO_EVENT};

// The dial plan target "address:port:tech:group[:...]" of an outbound call
// into the call's fields; false when it names no port (1 to 65535) or no
// technology.
bool take_target(call_object *co)
{
    const char *to_id = co->dp && co->dp->to_id ? co->dp->to_id : "";
    char target[512];
    snprintf(target, sizeof target, "%s", to_id);
    char *field[4] = {};
    char *p = target;
    for (int i = 0; i < 4 && p; i++) {
        field[i] = p;
        p = strchr(p, ':');
        if (p)
            *p++ = '\0';
    }
    snprintf(co->telnet_remote_address, sizeof co->telnet_remote_address, "%s", field[0] ? field[0] : "");
    co->telnet_remote_telnet_port = 0;
    if (field[1]) {
        char *end = nullptr;
        long port = strtol(field[1], &end, 10);
        if (end != field[1] && *end == '\0' && port >= 1 && port <= 65535)
            co->telnet_remote_telnet_port = (int)port;
    }
    co->telnet_target_tech = field[2] && strcasecmp(field[2], "isdn") == 0 ? 2 : 0;
    snprintf(co->telnet_target_group, sizeof co->telnet_target_group, "%s", field[3] ? field[3] : "");
    return co->telnet_remote_telnet_port > 0 && field[2];
}

const char *text_or_empty(const char *s)
{
    return s ? s : "";
}

// What the ";dial:" line would carry from the SIP side may not contain a
// separator of the peer's line format.
bool dial_texts_safe(const call_object *co)
{
    return itapi_safe_text(co->telnet_target_group) && itapi_safe_text(text_or_empty(co->new_source)) &&
           itapi_safe_text(text_or_empty(co->new_destination));
}

void write_line(call_object *co, const char *line)
{
    if (!co->telnet_fp)
        return;
    fputs(line, co->telnet_fp);
    fflush(co->telnet_fp);
}

void log_answer(call_object *co, int code, const char *reason)
{
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[%i] \"%s\"", cinfo(co), code, reason);
    print_verbose_sip_msg(0, co, reason);
}

} // namespace

SM_ACTION(sm_sip_to_itapi_create_socket)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (!take_target(co)) {
        LOGD_CALL(TARN, 1, co, "console call target |%s| names no port or technology",
                  co->dp && co->dp->to_id ? co->dp->to_id : "");
        return DESTROY;
    }
    if (!dial_texts_safe(co)) {
        LOGD_CALL(TARN, 1, co, "console call refused: group or numbers hold a separator of the dial line");
        return DESTROY;
    }
    int reused = 0;
    if (mc_itapi_get_free_socket(co, &reused) > 0) {
        add_sm_task(co, sm_general(GENERAL_EVENT_ITAPI_INIT_OUTGOING));
        return ROW;
    }
    co->sm_state = SM_ITAPI_SOCKET_PREPARING;
    return {SM_ITAPI_SOCKET_PREPARING, SM_NO_EVENT};
}

SM_ACTION(sm_sip_to_itapi_send_dial)
{
    (void)arg, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    // The dial goes out with whichever comes second: the connection or
    // the caller's SDP.
    if (!leg || !leg->rtp_remote_ip[0] || state != SM_ITAPI_SOCKET_CREATED)
        return ROW;
    if (co->telnet_fd <= 0 || !co->telnet_fp || !dial_texts_safe(co))
        return DESTROY;
    co->telnet_pid = co->pid;
    fprintf(co->telnet_fp, ";dial:tech=isdn,group=%s,codec=pcma,rtp_port=%i,rtp_ip=%s,oad=%s,dad=%s,pid=%i\n",
            co->telnet_target_group, leg->rtp_remote_port, leg->rtp_remote_ip, text_or_empty(co->new_source),
            text_or_empty(co->new_destination), co->telnet_pid);
    fflush(co->telnet_fp);
    co->sm_state = SM_ITAPI_DIALED;
    return {SM_ITAPI_DIALED, SM_NO_EVENT};
}

SM_ACTION(sm_sip_to_itapi_send_sip_ringing)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    if (!leg)
        return ROW;
    snprintf(leg->using_ip, sizeof leg->using_ip, "%s", co->telnet_remote_address);
    log_answer(co, 180, "RINGING");
    if (leg->nh)
        nua_respond(leg->nh, 180, "RINGING", TAG_END());
    return ROW;
}

SM_ACTION(sm_sip_to_itapi_send_sip_ok)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    if (!leg)
        return ROW;
    snprintf(leg->using_ip, sizeof leg->using_ip, "%s", co->telnet_remote_address);
    char sdp[2048] = "";
    create_sdp_string(co, sdp, sizeof sdp, &co->cc.codecs, co->telnet_remote_rtp_port, 0);
    co->f.sdp_offer_received = 0;
    co->f.first_sdp_answered = 1;
    log_answer(co, 200, "SIP_CALL_ACTIVE");
    if (leg->nh)
        nua_respond(leg->nh, 200, "SIP_CALL_ACTIVE", SOATAG_USER_SDP_STR(sdp),
                    SOATAG_ADDRESS(sdp_origin_address(leg)), SOATAG_RTP_SELECT(2), TAG_END());
    return ROW;
}

SM_ACTION(sm_sip_to_itapi_send_hangup)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (co->telnet_fd > 0 && co->telnet_fp) {
        char line[32];
        snprintf(line, sizeof line, "hangup:%i;\n", co->telnet_pid);
        write_line(co, line);
    }
    return ROW;
}

SM_ACTION(sm_sip_to_itapi_update_channel)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co->cl_sip;
    if (!leg || co->telnet_fd <= 0 || !co->telnet_fp)
        return ROW;
    char line[160];
    snprintf(line, sizeof line, "update:rtp_port=%i,rtp_ip=%s,codec=%s\n", leg->rtp_remote_port, leg->rtp_remote_ip,
             leg->using_codec == 0 ? "pcmu" : "pcma");
    write_line(co, line);
    printf("HALLO new ip %s:%i |%s|\n", leg->rtp_remote_ip, leg->rtp_remote_port, line);
    return ROW;
}

// ---- telnet_to_isdn: the peer learns the ISDN side's progress ----

static statemachine_handle_retval notify(void *p, const char *line)
{
    write_line((call_object *)p, line);
    return ROW;
}

static statemachine_handle_retval notify_cause(void *p, const char *word)
{
    call_object *co = (call_object *)p;
    char line[64];
    snprintf(line, sizeof line, "%s cause=%i\n", word, co->bc ? co->bc->cause : -1);
    return notify(p, line);
}

SM_ACTION(sm_telnet_notify_isdn_connect)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    char line[32];
    snprintf(line, sizeof line, "CONNECT:%i\n", co->cl_sip ? co->cl_sip->rtp_local_port : 0);
    return notify(p, line);
}

// The ISDN side's progress as the peer reads it: one fixed line, or a word
// with the B-channel's cause.
#define TELNET_NOTIFY_ACTION(name, send, text)                                                               \
    SM_ACTION(name)                                                                                          \
    {                                                                                                        \
        (void)arg, (void)state, (void)event;                                                                 \
        return send(p, text);                                                                                \
    }

TELNET_NOTIFY_ACTION(sm_telnet_notify_isdn_ringing, notify, "ALERTING\n")
TELNET_NOTIFY_ACTION(sm_telnet_notify_isdn_progress, notify, "PROGRESS\n")
TELNET_NOTIFY_ACTION(sm_telnet_notify_isdn_proceeding, notify, "PROCEEDING\n")
TELNET_NOTIFY_ACTION(sm_telnet_notify_isdn_release_complete, notify_cause, "RELEASE_COMPLETE")
TELNET_NOTIFY_ACTION(sm_telnet_notify_isdn_release, notify_cause, "RELEASE")
TELNET_NOTIFY_ACTION(sm_telnet_notify_isdn_disconnect, notify_cause, "DISCONNECT")

#undef TELNET_NOTIFY_ACTION
