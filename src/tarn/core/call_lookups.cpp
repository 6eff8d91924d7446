#include "call_lookups.h"

#include "application.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "msp_timeslot.h"
#include "pools.h"

namespace {

// The first object of the pool for which match holds; empty slots skipped.
template <class Match>
call_object *first_operation(Match match)
{
    for (int i = 0; gp && i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++) {
        call_object *co = gp->operations[i];
        if (co && match(co))
            return co;
    }
    return nullptr;
}

template <class Match>
reg_object *first_registration(Match match)
{
    for (int i = 0; gp && gp->registrations && i < REGISTRATIONARRAYSIZE; i++) {
        reg_object *ro = gp->registrations[i];
        if (ro && match(ro))
            return ro;
    }
    return nullptr;
}

bool leg_has_channel(const call_leg_sip *leg, int channel)
{
    return leg && leg->msp_channel == channel;
}

bool legs_have_channel(const call_object *co, int channel)
{
    return leg_has_channel(co->cl_sip_in, channel) || leg_has_channel(co->cl_sip_out, channel);
}

} // namespace

call_object *find_operation_by_bc(const misdn_bchannel *bc)
{
    return first_operation([bc](const call_object *co) { return co->bc == bc; });
}

call_object *get_operation_by_bchannel(const misdn_bchannel *bc)
{
    return find_operation_by_bc(bc);
}

call_object *get_operation_by_isdn_port(int port)
{
    return first_operation([port](const call_object *co) { return co->bc && co->bc->port == port; });
}

call_object *get_operation_by_analog_port(int port)
{
    return first_operation([port](const call_object *co) { return co->analog_port == port; });
}

call_object *get_operation_by_cas_port(int port)
{
    return first_operation([port](const call_object *co) { return co->cas_port == port; });
}

call_object *get_operation_by_gsm_port(int port)
{
    return first_operation([port](const call_object *co) { return co->gsm_port == port; });
}

call_object *get_operation_by_dns_context()
{
    return first_operation([](const call_object *co) { return co->dns_context != nullptr; });
}

call_object *get_operation_by_rtp_local_port(int port)
{
    return first_operation([port](const call_object *co) { return co->cl_sip && co->cl_sip->rtp_local_port == port; });
}

call_object *get_operation_by_bridged_call_object(const call_object *other)
{
    return first_operation([other](const call_object *co) { return co->msp_bridged_to == other; });
}

call_object *get_operation_by_transcoding_buddy(const call_object *other)
{
    return first_operation([other](const call_object *co) { return co->transcoding_buddy == other; });
}

call_object *get_call_object_by_transcoding_buddy(const call_object *other)
{
    return first_operation(
        [other](const call_object *co) { return co->callinfo == CI_SIP_TO_SIP && co->transcoding_buddy == other; });
}

call_object *get_operation_by_nua_handle(const nua_handle_s *nh)
{
    return first_operation([nh](const call_object *co) {
        return (co->cl_sip_in && co->cl_sip_in->nh == nh) || (co->cl_sip_out && co->cl_sip_out->nh == nh);
    });
}

call_object *get_operation_by_conference_request()
{
    return first_operation([](const call_object *co) { return co->conference_request != 0; });
}

call_object *get_operation_by_conference_id(int conference_id)
{
    return first_operation([conference_id](const call_object *co) { return co->conference_id == conference_id; });
}

call_object *get_operation_by_pid(int pid)
{
    call_object *co = first_operation([pid](const call_object *c) { return c->pid == pid; });
    if (co)
        LOGD_CALL(TARN, 9, co, "found call object %p with pid %i", (void *)co, pid);
    return co;
}

call_object *get_operation_by_telnet_fd(int fd)
{
    return first_operation([fd](const call_object *co) { return co->telnet_fd == fd; });
}

// ---- timers ----------------------------------------------------------------------

call_object *get_operation_by_timer_member(kv_timer *call_object::*member, const kv_timer *t)
{
    return first_operation([member, t](const call_object *co) { return co->*member == t; });
}

#define TIMER_LOOKUP(function, member)                                                                              \
    call_object *function(const kv_timer *t) { return get_operation_by_timer_member(&call_object::member, t); }

TIMER_LOOKUP(get_operation_by_timer, timer)
TIMER_LOOKUP(get_operation_by_force_t38_timer, force_t38_timer)
TIMER_LOOKUP(get_operation_by_fcf_timer, feature_code_f_timer)
TIMER_LOOKUP(get_operation_by_fct_timer, feature_code_t_timer)
TIMER_LOOKUP(get_operation_by_fcflush_timer, feature_code_flush_timer)
TIMER_LOOKUP(get_operation_by_fxs_wink_timer, fxs_wink_offset_timer)
TIMER_LOOKUP(get_operation_by_dns_enum_timer, dns_enum_timer)
TIMER_LOOKUP(get_operation_by_failover_timer, failover_timer)
TIMER_LOOKUP(get_operation_by_rtp_stat_timer, rtp_stat_timer)
TIMER_LOOKUP(get_operation_by_sip_t0_timer, sip_t0_timer)
TIMER_LOOKUP(get_operation_by_sip_t180_timer, sip_t180_timer)
TIMER_LOOKUP(get_operation_by_sip_t183_timer, sip_t183_timer)
TIMER_LOOKUP(get_operation_by_sip_t200_timer, sip_t200_timer)
TIMER_LOOKUP(get_operation_by_dialtone_detection_timer, dialtone_detection_timer)
TIMER_LOOKUP(get_operation_by_state_event_missing_safeguard_timer, state_event_missing_safeguard_timer)
TIMER_LOOKUP(get_operation_by_fxo_cpt_timer, fxo_cpt_timer)
TIMER_LOOKUP(get_operation_by_fxo_alerting_ended_timer, fxo_alerting_ended_timer)
TIMER_LOOKUP(get_operation_by_aoc_outgoing_timer, aoc_timer)

#undef TIMER_LOOKUP

// ---- media processor -------------------------------------------------------------

call_object *get_operation_by_msp_logical_timeslot(int timeslot)
{
    if (timeslot == -1) {
        LOGD(TARN, 5, nullptr, "cannot get operation with invalid timeslot");
        return nullptr;
    }
    LOGD(TARN, 5, nullptr, "Getting co for logical timeslot %i", timeslot);
    call_object *co = first_operation([timeslot](const call_object *c) { return c->tdm_logical_timeslot == timeslot; });
    if (co)
        LOGD_CALL(TARN, 5, co, "found call object %p on logical timeslot %i", (void *)co, timeslot);
    else
        LOGD(TARN, 1, nullptr, "CRITICAL: No Call Object found on timeslot %i", timeslot);
    return co;
}

call_object *get_operation_by_msp_channel(int channel)
{
    int timeslot = msp_channel_to_timeslot(channel);
    if (timeslot == -1) {
        // Calls without a timeslot (SIP to SIP): the channel sits on a leg.
        // The pool is filled from the bottom, so the first empty slot ends it.
        for (int i = 0; gp && i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++) {
            call_object *co = gp->operations[i];
            if (!co)
                break;
            if (legs_have_channel(co, channel))
                return co;
        }
        LOGD(TARN, 5, nullptr, "channel %i => cannot get operation with channel/timeslot", channel);
        return nullptr;
    }
    LOGD(TARN, 9, nullptr, "getting co for channel %i/timeslot %i", channel, timeslot);
    call_object *co = first_operation([timeslot](const call_object *c) { return c->tdm_logical_timeslot == timeslot; });
    if (co)
        LOGD_CALL(TARN, 9, co, "found call object %p on channel %i/timeslot %i", (void *)co, channel,
             timeslot);
    else
        LOGD(TARN, 3, nullptr, "No Call Object found on channel %i/timeslot %i", channel, timeslot);
    return co;
}

call_object *get_operation_by_msp_channel_in_conference(int channel)
{
    return first_operation([channel](const call_object *co) { return legs_have_channel(co, channel); });
}

// ---- registrations ---------------------------------------------------------------

reg_object *get_registration_by_timer(const kv_timer *t)
{
    return first_registration([t](const reg_object *ro) { return ro->timer == t; });
}

reg_object *get_register_by_pgs(const port_group_sip *pgs)
{
    return first_registration([pgs](const reg_object *ro) { return ro->pgs == pgs; });
}
