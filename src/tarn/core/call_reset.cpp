#include "call_reset.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <iterator>

#include "application.h"
#include "cdr.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "dialplan.h"
#include "dns_cache.h"
#include "gsm_port.h"
#include "isdn_lib.h"
#include "isdn_lib_types.h"
#include "line_bringup.h"
#include "log.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "registrations.h"
#include "rtp_ports.h"
#include "status_server.h"
#include "statemachine.h"
#include "t1e1casctl.h"
#include "timer.h"

// ---- hooks ---------------------------------------------------------------------------

static call_reset_hooks hooks = {};

void call_reset_set_hooks(const call_reset_hooks *in)
{
    if (!in)
        return;
    if (in->stop_udp_proxy_thread)
        hooks.stop_udp_proxy_thread = in->stop_udp_proxy_thread;
    if (in->tarn_misdn_lib_send_event)
        hooks.tarn_misdn_lib_send_event = in->tarn_misdn_lib_send_event;
    if (in->call_s2s_stop_transcoding)
        hooks.call_s2s_stop_transcoding = in->call_s2s_stop_transcoding;
    if (in->transcoding_release_timeslot)
        hooks.transcoding_release_timeslot = in->transcoding_release_timeslot;
    if (in->transcoding_list_timeslots)
        hooks.transcoding_list_timeslots = in->transcoding_list_timeslots;
}

void call_reset_clear_hooks()
{
    hooks = {};
}

static bool hook_present(const void *fn, const char *tag, const char *name)
{
    if (!fn)
        LOGD(TARN, 9, tag, "%s is not part of this build: skipped", name);
    return fn != nullptr;
}

// ---- small releases ------------------------------------------------------------------

static void free_text(char *&p)
{
    free(p);
    p = nullptr;
}

void reset_call_configurations(call_object *co)
{
    if (!co)
        return;
    cc_init_call_configuration(&co->cc);
    call_configuration *def = gp ? &gp->default_call_configuration : nullptr;
    cc_assign_call_configuration(&co->cc_source, def);
    cc_assign_call_configuration(&co->cc_destination, def);
    cc_assign_call_configuration(&co->cc_override, def);
}

static void empty_text(char *text)
{
    if (text)
        text[0] = '\0';
}

void co_reset_cas_port(call_object *co)
{
    if (!co)
        return;
    cas_release_port(co->cas_port);
    co->cas_port = 0;
    empty_text(co->cas_oad);
    empty_text(co->cas_dad);
    empty_text(co->cas_display);
    co->cas_flush_oad_buffer[0] = '\0';
    co->cas_flush_dad_buffer[0] = '\0';
    co->cas_e1_signal_state = 0;
    co->cas_dialing_performed = 0;
}

void reset_rop(reg_object *ro)
{
    if (!ro) {
        LOGD(TARN, 0, rinfo(nullptr), "CRITICAL: Warning! Trying to reset Null Pointer struct reg_object");
        return;
    }
    if (ro->callinfo == CI_FREE)
        return;
    if (ro->nh) {
        reg_sip_ops.destroy_handle(ro->nh); // unbind, then destroy
        ro->nh = nullptr;
    }
    ro->nua = gp ? gp->sip_stacks[0].nua : nullptr;
    free_proxy_def(ro->pd);
    ro->pd = nullptr;
    if (ro->timer) {
        timer_remove(ro->timer);
        ro->timer = nullptr;
    }
    statemachine_destroy(ro->sm);
    ro->sm = nullptr;
    cc_cleanup_call_configuration(&ro->cc);
    // The group generation the registration was started on.
    if (ro->pgs) {
        pg_sip_release(ro->pgs);
        ro->pgs = nullptr;
        ro->pgsu = nullptr;
    }
    ro->only_validate = 0;
    ro->option_counter = 0;
    ro->is_pausing_registrations = 0;
    ro->simulate_register_fail = 0;
    ro->callinfo = CI_FREE;
    if (ro->register_probe_socket_fd > 0)
        close(ro->register_probe_socket_fd);
    ro->register_probe_socket_fd = -1;
    ro->auth_counter = 0;
    ro->evaluate_registrar_connect = 0;
}

// ---- the call reset --------------------------------------------------------------------

namespace {

struct timer_slot {
    kv_timer *call_object::*member;
    const char *name;
};
#define SLOT(m) {&call_object::m, #m}
// In the order they are removed; the feature-code buffers are emptied
// between the first sixteen and the last two.
constexpr timer_slot first_timers[] = {
    SLOT(timer),          SLOT(dns_enum_timer),           SLOT(rtp_stat_timer),
    SLOT(feature_code_t_timer), SLOT(feature_code_f_timer), SLOT(feature_code_flush_timer),
    SLOT(failover_timer), SLOT(sip_t0_timer),             SLOT(sip_t180_timer),
    SLOT(sip_t183_timer), SLOT(sip_t200_timer),           SLOT(state_event_missing_safeguard_timer),
    SLOT(dialtone_detection_timer), SLOT(fxo_cpt_timer),  SLOT(fxo_alerting_ended_timer),
    SLOT(aoc_timer),
};
constexpr timer_slot last_timers[] = {SLOT(force_t38_timer), SLOT(fxs_wink_offset_timer)};
#undef SLOT
static_assert(std::size(first_timers) + std::size(last_timers) == 18, "every timer of a call");

void remove_timers(call_object *co, const timer_slot *slots, size_t n, const char *tag)
{
    for (size_t i = 0; i < n; i++) {
        kv_timer *&t = co->*slots[i].member;
        if (!t)
            continue;
        LOGD(TARN, 9, tag, "removing %s %p", slots[i].name, (void *)t);
        timer_remove(t);
        t = nullptr;
        LOGD(TARN, 9, tag, "removed %s", slots[i].name);
    }
}

// 12. SIP legs. A leg that is both incoming and outgoing is released once;
// a held leg that neither of them is, likewise.
void reset_sip_legs(call_object *co)
{
    call_leg_sip *in = co->cl_sip_in, *out = co->cl_sip_out, *hold = co->cl_sip_hold;
    reset_sip_leg(in);
    if (out != in)
        reset_sip_leg(out);
    if (hold && hold != in && hold != out && hold->in_use)
        reset_sip_leg(hold);
    co->cl_sip_in = co->cl_sip_out = co->cl_sip = co->cl_sip_hold = nullptr;
}

// 13. dial plan data
void reset_routing(call_object *co)
{
    if (co->dp) {
        dialplan_cleanup_element(co->dp);
        free(co->dp);
        co->dp = nullptr;
    }
    for (char **p : {&co->new_destination, &co->new_destination_previous, &co->new_source,
                     &co->new_source_previous, &co->new_source_auto, &co->new_destination_auto})
        free_text(*p);
}

bool leg_saw_release(const isdn_leg_info *legi)
{
    for (int m : {LEGI_DISCONNECT, LEGI_RELEASE, LEGI_RELEASE_COMPLETE})
        if (legi->events_received[m] || legi->events_sent[m])
            return true;
    return false;
}

bool answered_on_isdn(const isdn_leg_info *legi)
{
    for (int m : {LEGI_SETUP_ACKNOWLEDGE, LEGI_PROCEEDING, LEGI_PROGRESS, LEGI_ALERTING, LEGI_CONNECT})
        if (legi->events_sent[m])
            return true;
    return false;
}

void send_isdn_event(call_object *co, int event, const char *tag)
{
    if (hook_present((const void *)hooks.tarn_misdn_lib_send_event, tag, "tarn_misdn_lib_send_event"))
        hooks.tarn_misdn_lib_send_event(co, event);
}

// 14. ISDN B-channel
void reset_bchannel(call_object *co, const char *tag)
{
    if (!co->bc) {
        LOGD(TARN, 9, tag, "resetting bchannel not necessary");
        return;
    }
    LOGD(TARN, 9, tag, "resetting bchannel (port %i/channel %i)", co->bc->port, co->bc->channel);
    const isdn_leg_info *legi = co->legi ? co->legi : &co->_legi;
    if (!leg_saw_release(legi)) {
        if (co->callinfo == CI_ISDN_TO_SIP && !answered_on_isdn(legi))
            send_isdn_event(co, EVENT_RELEASE_COMPLETE, tag);
        else if (co->callinfo != CI_SIP_TO_ISDN || legi->events_sent[LEGI_SETUP])
            send_isdn_event(co, EVENT_DISCONNECT, tag);
        else
            misdn_clear_unassociated_bc(co->bc);
    }
    co->bc = nullptr;
}

magic_csm new_command(int function_code)
{
    return create_default_csm_msg(function_code, gp ? ++gp->msp_counter : 0);
}

void queue_destroy_channel(call_object *co, int timeslot)
{
    magic_csm m = new_command(FC_SUPVSR_DESTROY_CHANNEL);
    if (!csm_msg_is_null(m))
        msp_queue_command_nolock(m, timeslot, co, 0);
}

void release_transcoding_slot(int timeslot, const char *tag)
{
    if (timeslot >= 0 &&
        hook_present((const void *)hooks.transcoding_release_timeslot, tag, "transcoding_release_timeslot"))
        hooks.transcoding_release_timeslot(timeslot);
}

void set_free(call_object *co)
{
    // Taking an object happens under co_list_lock: handing it back too, so
    // that the next owner sees everything the reset wrote.
    pthread_mutex_t *m = gp && gp->locks ? gp->locks->co_list_lock : nullptr;
    if (m)
        pthread_mutex_lock(m);
    co->callinfo = CI_FREE;
    if (m)
        pthread_mutex_unlock(m);
}

// 15.1 a transcoding call and its buddy
void reset_transcoding(call_object *co, const char *tag)
{
    if (co->f.transcoding_started &&
        hook_present((const void *)hooks.call_s2s_stop_transcoding, tag, "call_s2s_stop_transcoding"))
        hooks.call_s2s_stop_transcoding(co, 0);
    release_transcoding_slot(co->tdm_logical_timeslot, tag);
    if (call_object *buddy = co->transcoding_buddy) {
        msp_release_all_resources(buddy, &buddy->msp_resources_reserved);
        reset_sip_leg(buddy->cl_sip_out);
        buddy->cl_sip_out = nullptr;
        buddy->cl_sip = nullptr;
        memset(&buddy->f, 0, sizeof buddy->f);
        release_transcoding_slot(buddy->tdm_logical_timeslot, tag);
        buddy->tdm_logical_timeslot = -1;
        buddy->msp_state = 0;
        co->transcoding_buddy = nullptr;
        buddy->pid = 0;
        set_free(buddy);
    } else {
        LOGD(TARN, 0, tag, "no transcoding buddy");
    }
    msp_list_timeslot_manager(__func__, __LINE__);
    if (hook_present((const void *)hooks.transcoding_list_timeslots, tag, "transcoding_list_timeslots"))
        hooks.transcoding_list_timeslots(__func__, __LINE__);
}

// 15. media processor resources
void reset_media(call_object *co, int lock_msp_queue, const char *tag)
{
    if (lock_msp_queue)
        msp_queue_lock_take(); // counts msp_command_counter after taking
    msp_release_all_resources(co, &co->msp_resources_reserved);
    if (co->f.transcoding_call || co->transcoding_buddy) {
        reset_transcoding(co, tag);
    } else if (co->msp_state & 0x7F) {
        int ts = co->tdm_logical_timeslot;
        LOGD(TARN, 5, tag, "scheduling destruction of active channel - Channel %i msp_timeslot %i",
             msp_timeslot_to_channel(ts), ts);
        msp_release_all_resources(co, &co->msp_resources_active);
        magic_csm off = new_command(FC_VOIP_VOPENA);
        if (!csm_msg_is_null(off)) {
            off.u_csmchan_voip_vopena->channel_mode = 0;
            off.u_csmchan_voip_vopena->payload_type = 0;
            msp_queue_command_nolock(off, ts, co, 0);
        }
        queue_destroy_channel(co, ts);
    }
    if (co->remote_tdm_logical_timeslot >= 0)
        queue_destroy_channel(co, co->remote_tdm_logical_timeslot);
    co->msp_state = 0;
    co->remote_tdm_logical_timeslot = -1;
    if (lock_msp_queue)
        msp_queue_lock_release(); // and again after releasing
    LOGD(TARN, 9, tag, "Cleaned up MSP resources");
    if (co->msp_resources_active != 0)
        TARN_EXIT(114, "MSP CHANNEL TRACKING INCONSISTENT %s", tag);
}

// 16. analog port
void reset_analog(call_object *co)
{
    if (co->analog_port && gp && gp->analog_info) {
        int port = co->analog_port & 0x7FF; // without the marker bit
        if (port >= 0 && port < ANALOG_INFO_PORTS)
            gp->analog_info->in_use[port] = 0;
    }
    co->analog_port = 0;
    co->analog_port_stored_for_hold = 0;
    empty_text(co->analog_oad);
    empty_text(co->analog_dad);
    empty_text(co->analog_display);
    co->analog_cid_received = 0;
    co->analog_type = 0;
    co->analog_fxo_polarity_reversal_counter_before_connect = 0;
    co->analog_fxo_polarity_reversal_counter_after_connect = 0;
    co->forced_t38_reinvites_sent = 0;
}

// 18. GSM port
void reset_gsm(call_object *co)
{
    if (co->gsm_port) {
        libgsm_port_release(co->gsm_port);
        co->gsm_port = 0;
    } else if (co->gsm_port_stored) {
        libgsm_port_release(0);
    }
    co->gsm_call_id = -1;
    co->gsm_port_stored = 0;
}

// 20. the rest of the call's own fields
void reset_fields(call_object *co)
{
    co->analog_last_tone_event_time = 0;
    memset(co->analog_last_congestion_event_time, 0, sizeof co->analog_last_congestion_event_time);
    memset(co->analog_last_busy_event_time, 0, sizeof co->analog_last_busy_event_time);
    co->analog_call_progress_country_code[0] = '\0';
    co->analog_dial_tone_stopped = 0;
    co->analog_last_tone_event = 0;
    co->dismantling_timeout = 60;
    memset(&co->_msp_tonedet_history, 0, sizeof co->_msp_tonedet_history);
    memset(&co->_msp_tonegen_history, 0, sizeof co->_msp_tonegen_history);
    memset(co->isdn_event_history, 0, sizeof co->isdn_event_history);
    co->isdn_event_history_size = 0;
    co->s2i_cpt = nullptr;
    co->i2s_cpt = nullptr;
    co->s2fxo_cpt = nullptr;
    free(co->hdlc_buffer);
    co->hdlc_buffer = nullptr;
    co->hdlc_buffer_content_length = 0;
    co->hdlc_buffer_size = 0;
    co->special_termination_reason = 0;
    memset(&co->_legi, 0, sizeof co->_legi);
    co->counteri = 1;
    memset(&co->f, 0, sizeof co->f);
    co->aoc.units = 0;
    co->aoc.amount = 0;
    co->aoc.multiplier = 0;
    co->aoc.units_received = 0;
    co->aoc.currency_received = 0;
    memset(&co->s2s_t38_hold, 0, sizeof co->s2s_t38_hold);
    co->ecall_parsed = -1;
    co->ecall_simple = -1;
    co->conference_id = -1;
    co->conference_request = 0;
    co->analog_on_hold = 0;
    co->analog_on_hold_buddy = nullptr;
    co->dialplan_start_index = 0;
    memset(&co->mangled, 0, sizeof co->mangled);
    memset(co->blocked_isdn_ports, 0, sizeof co->blocked_isdn_ports);
    int buddies = co->call_group_buddies_count;
    for (int i = 0; i < buddies && i < 8; i++)
        free(co->call_group_buddies[i]);
    co->call_group_buddies_count = 0;
    for (char *&b : co->call_group_buddies)
        b = nullptr;
    free_text(co->sip_msg_buf);
}

} // namespace

void reset_op_msplock(call_object *co, int lock_msp_queue)
{
    // 1.
    if (!co) {
        LOGD(TARN, 0, nullptr, "CRITICAL: Warning! Trying to reset Null Pointer struct call_object");
        return;
    }
    // 2. console connection
    free(co->tcr);
    co->tcr = nullptr;
    if (co->telnet_fd > 0) {
        add_telnet_fd_to_release(co->telnet_fd, co->telnet_fp);
        co->telnet_fd = 0;
        co->telnet_fp = nullptr;
    }
    co->telnet_pid = 0;
    // 3. identifier ring
    if (gp)
        gp->tt_pid[(unsigned)gp->tt_index % TRACE_RING_SIZE] = co->pid;
    // 4.
    if (co->callinfo == CI_FREE)
        return;
    // 5. CDR
    co->cdr.call_stop = time(nullptr);
    if (co->pid != CALL_OBJECT_NO_CDR_PID && co->sm_state != 0x200000 && co->callinfo != CI_REGISTER &&
        !co->f.no_cdr)
        cdr_write_out(co);
    // 6.
    if (hook_present((const void *)hooks.stop_udp_proxy_thread, cinfo(co), "stop_udp_proxy_thread"))
        hooks.stop_udp_proxy_thread(co);
    // 7. the tag of this reset's lines, then the configuration
    char tag[64];
    snprintf(tag, sizeof tag, "%s", cinfo(co));
    co->pid = 0;
    reset_call_configurations(co);
    // 8.
    LOGD(TARN, 5, tag, "RESETTING co %p (index %i) - bc %p - nh %p", (void *)co, co->index, (void *)co->bc,
         co->cl_sip ? (void *)co->cl_sip->nh : nullptr);
    // 9.
    statemachine_destroy(co->sm);
    co->sm = nullptr;
    // 10. a pending ENUM look-up is given up
    dns_close_call_context(co);
    co->dns_context = nullptr;
    co->dns_enum_fd = 0;
    co->dns_enum_request_counter = 0;
    co->dns_enum_search_domain_index = 0;
    co->dns_enum_using_transport = 0;
    co->dns_enum_regex[0] = '\0';
    // 11. timers
    remove_timers(co, first_timers, std::size(first_timers), tag);
    co->feature_code_flush_buffer[0] = '\0';
    co->feature_code_flush_buffer_dir[0] = '\0';
    remove_timers(co, last_timers, std::size(last_timers), tag);
    // 12. - 15.
    reset_sip_legs(co);
    reset_routing(co);
    reset_bchannel(co, tag);
    reset_media(co, lock_msp_queue, tag);
    // 16. - 18. line ports
    co->msp_bridged_to = nullptr;
    co->tdm_logical_timeslot = -1;
    reset_analog(co);
    if (co->cas_port)
        co_reset_cas_port(co);
    co->cas_port_stored = 0;
    reset_gsm(co);
    // 19. - 20. the call's own fields; the object goes back to the pool last
    co->connect_start = 0;
    co->connect_stop = 0;
    co->sm_state = 1;
    cdr_reset(&co->cdr);
    empty_text(co->bc_oad);
    empty_text(co->bc_dad);
    reset_fields(co);
    // 21.
    LOGD(TARN, 8, tag, "Resetting finished for co %p (index %i) finished", (void *)co, co->index);
    set_free(co);
}

void reset_op(call_object *co)
{
    reset_op_msplock(co, 1);
}
