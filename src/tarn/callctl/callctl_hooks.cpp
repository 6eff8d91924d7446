#include "callctl_hooks.h"

#include "analog_admission.h"
#include "analog_callctl.h"
#include "analog_watchdog.h"
#include "call_authorization.h"
#include "call_reset.h"
#include "cas_callctl.h"
#include "cleanup.h"
#include "console_hooks.h"
#include "dialplan_mangle.h"
#include "dtmf.h"
#include "gsm_events.h"
#include "gsm_status.h"
#include "housekeeping.h"
#include "isdn_admission.h"
#include "gsm_actions.h"
#include "isdn_events.h"
#include "isdn_to_sip.h"
#include "sip_to_sip.h"
#include "media_callctl.h"
#include "media_start.h"
#include "nua_stack.h"
#include "call_statistics.h"
#include "pools.h"
#include "registration.h"
#include "registrations.h"
#include "sdp_offer_answer.h"
#include "sip_admission.h"
#include "sip_headers.h"
#include "sip_hub.h"
#include "sip_responses.h"
#include "sm_run.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "state_tables.h"
#include "xdv_headers.h"

namespace {

// The SIP side ends a call by its object.
void finish_call_of_object(call_object *co, FILE *report, int origin)
{
    finish_call(report, get_index_of_operation(co), origin);
}

// The caller-ID watchdog parks its calls on FXO-to-SIP machines, with the
// sender of every line-side machine (it sends nothing without a B-channel).
statemachine *watchdog_fxo_to_sip_machine(call_object *co, uint32_t state)
{
    return create_statemachine_fxo_to_sip(co, (int)state, tarn_send_event);
}

// The INVITE senders' shared pieces for the SIP-to-SIP actions.
void failover_timers(call_object *co)
{
    init_sip_failover_timers(co);
}

void tr119_headers(call_object *, char *buf, size_t size)
{
    set_headbuf_1tr119_invite_headers(buf, size);
}

// The ISDN message of a reset or an SDP refusal.
int send_isdn_message(call_object *co, int event)
{
    tarn_misdn_lib_send_event(co, event);
    return 0;
}

// The admission of a call toward SIP runs the line's prefix rule as the
// tables' action does.
int vaz_on_new_destination(call_object *co)
{
    sm_add_vaz_to_new_destination(co, nullptr, 0, 0);
    return 0;
}

// The SDP refusal rings off the telephone, a feature code flashes the
// line; the result is not used.
void send_analog_command(call_object *co, int port, int event)
{
    verbose_analog_send_event(co, port, event);
}

// The next member of the call's SIP call group (the SIP-to-SIP actions read it).
const char *next_callgroup_member(call_object *co)
{
    return get_next_sip_callgroup_alternative(co);
}

} // namespace

void callctl_connect_hooks()
{
    console_hooks mc{};
    mc.add_sm_task = add_sm_task;
    mc.add_sm_task_check_pid = add_sm_task_check_pid;
    mc_set_hooks(&mc);

    cleanup_hooks c{};
    c.free_task_list = free_task_list;
    cleanup_set_hooks(&c);

    registration_hooks r{};
    r.cb_timer_event = cb_timer_event;
    r.do_reg_statemachine_run = do_reg_statemachine_run;
    r.create_statemachine_sipreg = create_statemachine_sipreg;
    r.tarn_send_event = tarn_send_event;
    r.send_default_register_request = send_default_register_request;
    reg_set_hooks(&r);

    sip_hub_hooks hub{};
    hub.nua_event_callback_register = nua_event_callback_register;
    hub.init_incoming_sip_call = init_incoming_sip_call;
    sip_hub_set_hooks(&hub);

    sip_peer_report_hooks report{};
    report.snmp_get_registration_info = snmp_get_registration_info;
    report.snmp_get_validation_info = snmp_get_validation_info;
    sip_peer_report_set_hooks(&report);

    analog_watchdog_hooks w{};
    w.create_statemachine_fxo_to_sip = watchdog_fxo_to_sip_machine;
    analog_watchdog_set_hooks(&w);

    nua_stack_hooks n = nua_hooks;
    n.finish_call = finish_call_of_object;
    n.event_callback = nua_event_callback;
    nua_stack_set_hooks(&n);

    housekeeping_hooks hk{};
    hk.add_sm_task = add_sm_task;
    hk.nua_handle_cleanup_queue = nua_handle_cleanup_queue;
    hk.fxs_message_waiting_refresh = fxs_message_waiting_refresh;
    housekeeping_set_hooks(&hk);

    callctl_media_hooks m{};
    m.start_channel_processing = _start_channel_processing;
    callctl_set_media_hooks(&m);

    sdp_callctl_hooks sdp{};
    sdp.add_sm_task = add_sm_task;
    sdp.tarn_misdn_lib_send_event = send_isdn_message;
    sdp.verbose_analog_send_event = send_analog_command;
    sdp_set_callctl_hooks(&sdp);

    s2s_hooks s2s{};
    s2s.init_sip_failover_timers = failover_timers;
    s2s.set_headbuf_1tr119_invite_headers = tr119_headers;
    s2s.get_next_sip_callgroup_alternative = next_callgroup_member;
    s2s_set_hooks(&s2s);

    gsm_invite_hooks gsm_invite{};
    gsm_invite.init_sip_failover_timers = init_sip_failover_timers;
    gsm_invite.set_headbuf_1tr119_invite_headers = set_headbuf_1tr119_invite_headers;
    gsm_set_invite_hooks(&gsm_invite);

    isdn_events_hooks admission{};
    admission.init_incoming_isdn_call = init_incoming_isdn_call;
    isdn_events_set_hooks(&admission);

    call_reset_hooks reset{};
    reset.tarn_misdn_lib_send_event = send_isdn_message;
    call_reset_set_hooks(&reset);

    isdn_callctl_hooks isdn{};
    isdn.tarn_misdn_lib_send_event = tarn_misdn_lib_send_event;
    isdn_callctl_set_hooks(&isdn);

    sip_response_hooks responses{};
    responses.isdn_ie_to_sip_header_str = isdn_ie_to_sip_header_str;
    sip_response_set_hooks(&responses);

    gsm_hooks g{};
    g.event_handler = gsm_event_handler;
    gsm_set_hooks(&g);

    sip_admission_hooks adm{};
    adm.tarn_send_event = tarn_send_event;
    adm.apply_sip_user_user_to_bc = apply_sip_user_user_to_bc;
    adm.tarn_gsm_send_event = tarn_gsm_send_event;
    adm.sm_add_vaz_to_new_destination = vaz_on_new_destination;
    adm.init_incoming_sip_to_analog_call = init_incoming_sip_to_analog_call;
    adm.init_incoming_sip_to_cas_call = init_incoming_sip_to_cas_call;
    sip_admission_set_hooks(&adm);

    isdn_to_sip_hooks_record i2s{};
    i2s.call_query_authorization_server = call_query_authorization_server;
    isdn_to_sip_set_hooks(&i2s);

    // Digits of every technology, the detector tuning and the DTMF flags.
    dtmf_install();
    dtmf_line_hooks dtmf{};
    dtmf.verbose_analog_send_event = send_analog_command;
    dtmf.process_cas_e1_flush_buffer = process_cas_e1_flush_buffer;
    dtmf_set_line_hooks(&dtmf);

    // The caller-id of analog lines and the MFC/R2 tones of CAS channels.
    media_callctl_iface media{};
    media.parse_analog_callerid = parse_analog_callerid;
    media.send_mfcr2_tone = send_mfcr2_tone;
    media.cas_passthrough_map = cas_passthrough_map;
    media_set_callctl_iface(&media);

    dialplan_mangle_iface d{};
    d.format_full_local_url = format_full_local_url;
    dialplan_set_mangle_iface(&d);
}

int callctl_start_task_runner()
{
    return start_sm_helper();
}
