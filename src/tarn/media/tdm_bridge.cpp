// TDM hairpinning: two local calls joined inside the media processor, a
// call joined with the timeslot that carries another unit's channel, and
// the RTP statistics query of a voice channel.
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "csm_codes.h"
#include "log_backend.h"
#include "media_tdm.h"
#include "misdn_bchannel.h"
#include "msp_manager.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "network_config.h"
#include "pools.h"
#include "sm_defs.h"
#include "timer.h"
#include "voice_rows.h"

namespace {

constexpr int DEFAULT_TOS = 160;
constexpr int ANALOG_PORT_MARKER = 0x800;

void release_both(call_object *co)
{
    msp_release_all_resources(co, &co->msp_resources_active);
    msp_release_all_resources(co, &co->msp_resources_reserved);
}

// ---- the bridging request line ----------------------------------------------------------

enum line_tech { TECH_OTHER, TECH_ISDN, TECH_ANALOG, TECH_CAS };

line_tech tech_of(const call_object *co)
{
    switch (co->callinfo) {
    case CI_SIP_TO_ISDN:
    case CI_ISDN_TO_SIP:
        return TECH_ISDN;
    case CI_SIP_TO_ANALOG:
    case CI_ANALOG_TO_SIP:
        return TECH_ANALOG;
    case CI_SIP_TO_CAS:
    case CI_CAS_TO_SIP:
        return TECH_CAS;
    default:
        return TECH_OTHER;
    }
}

// Which B-channel numbers a line carries after the two ports.
enum channel_args { CH_NONE, CH_BOTH, CH_FIRST, CH_SECOND };

struct bridge_line {
    line_tech first;
    line_tech second;
    channel_args channels;
    const char *format;
};

const bridge_line bridge_lines[] = {
    {TECH_ISDN, TECH_ISDN, CH_BOTH,
     "I BRIDGE|REQUEST|CID=%05i<br>ISDN/ISDN<br>ports=%d/%d, channels=%d/%d<br>dads=%s/%s<br>oads=%s/%s\n"},
    {TECH_ANALOG, TECH_ANALOG, CH_NONE,
     "I BRIDGE|REQUEST|CID=%05i<br>ANALOG/ANALOG<br>ports=%d/%d<br>dads=%s/%s<br>oads=%s/%s\n"},
    {TECH_CAS, TECH_CAS, CH_NONE, "I BRIDGE|REQUEST|CID=%05i<br>CAS/CAS<br>ports=%d/%d<br>dads=%s/%s<br>oads=%s/%s\n"},
    {TECH_ISDN, TECH_ANALOG, CH_FIRST,
     "I BRIDGE|REQUEST|CID=%05i<br>ISDN/ANALOG<br>ports=%d/%d<br>channels=%d/1<br>dads=%s/%s<br>oads=%s/%s\n"},
    {TECH_ISDN, TECH_CAS, CH_FIRST,
     "I BRIDGE|REQUEST|CID=%05i<br>ISDN/CAS<br>ports=%d/%d, channels=%d/1<br>dads=%s/%s<br>oads=%s/%s\n"},
    {TECH_ANALOG, TECH_ISDN, CH_SECOND,
     "I BRIDGE|REQUEST|CID=%05i<br>ANALOG/ISDN<br>ports=%d/%d, channels=1/%d<br>dads=%s/%s<br>oads=%s/%s\n"},
    {TECH_ANALOG, TECH_CAS, CH_NONE,
     "I BRIDGE|REQUEST|CID=%05i<br>ANALOG/CAS<br>ports=%d/%d<br>dads=%s/%s<br>oads=%s/%s\n"},
    {TECH_CAS, TECH_ISDN, CH_SECOND,
     "I BRIDGE|REQUEST|CID=%05i<br>CAS/ISDN<br>ports=%d/%d, channels=1/%d<br>dads=%s/%s<br>oads=%s/%s\n"},
    {TECH_CAS, TECH_ANALOG, CH_NONE,
     "I BRIDGE|REQUEST|CID=%05i<br>CAS/ANALOG<br>ports=%d/%d<br>dads=%s/%s<br>oads=%s/%s\n"},
};
static_assert(sizeof bridge_lines / sizeof bridge_lines[0] == 9, "nine technology pairs");

// What one side contributes to the line.
struct line_side {
    int port;
    int channel;
    const char *dad;
    const char *oad;
};

const char *text_or_empty(const char *t)
{
    return t ? t : "";
}

line_side side_of(const call_object *co)
{
    switch (tech_of(co)) {
    case TECH_ISDN:
        if (co->bc)
            return {co->bc->port, co->bc->channel, co->bc->dad, co->bc->oad};
        return {0, 0, "", ""};
    case TECH_ANALOG:
        return {co->analog_port & ~ANALOG_PORT_MARKER, 1, text_or_empty(co->analog_dad), text_or_empty(co->analog_oad)};
    case TECH_CAS:
        return {co->cas_port, 1, text_or_empty(co->cas_dad), text_or_empty(co->cas_oad)};
    default:
        return {0, 0, "", ""};
    }
}

void verbose_bridge_request(const call_object *co, const call_object *other)
{
    line_tech a = tech_of(co), b = tech_of(other);
    for (const bridge_line &l : bridge_lines) {
        if (l.first != a || l.second != b)
            continue;
        line_side x = side_of(co), y = side_of(other);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        switch (l.channels) {
        case CH_BOTH:
            _verbose_msg(__FILE__, __LINE__, __func__, l.format, co->pid, x.port, y.port, x.channel, y.channel, x.dad,
                         y.dad, x.oad, y.oad);
            break;
        case CH_FIRST:
            _verbose_msg(__FILE__, __LINE__, __func__, l.format, co->pid, x.port, y.port, x.channel, x.dad, y.dad,
                         x.oad, y.oad);
            break;
        case CH_SECOND:
            _verbose_msg(__FILE__, __LINE__, __func__, l.format, co->pid, x.port, y.port, y.channel, x.dad, y.dad,
                         x.oad, y.oad);
            break;
        case CH_NONE:
            _verbose_msg(__FILE__, __LINE__, __func__, l.format, co->pid, x.port, y.port, x.dad, y.dad, x.oad, y.oad);
            break;
        }
#pragma GCC diagnostic pop
        return;
    }
}

// Bridged calls have no RTP to supervise.
void stop_rtp_supervision(call_object *co)
{
    co->cc.rtp_traffic_check = 0;
    if (!co->rtp_stat_timer)
        return;
    LOGD_CALL(TARN, 9, co, "bridging: removing rtp_stat_timer %p", (void *)co->rtp_stat_timer);
    timer_remove(co->rtp_stat_timer);
    co->rtp_stat_timer = nullptr;
}

void queue_vopena_payload(call_object *context, int timeslot, int payload)
{
    magic_csm m = voice_msg(FC_VOIP_VOPENA);
    if (!csm_msg_is_null(m))
        m.u_csmchan_voip_vopena->payload_type = (uint32_t)payload;
    media_put(context, timeslot, m);
}

void queue_thc_redirect(call_object *co, int timeslot, int peer_timeslot)
{
    magic_csm m = voice_msg(FC_THC_REDIRECT_RX);
    if (!csm_msg_is_null(m))
        m.u_csmchan_thc_redirect_rx->peer_timeslot = (uint32_t)peer_timeslot;
    media_put(co, timeslot, m);
}

bool is_g711_pair(int a, int b)
{
    return (a == 8 && b == 8) || (a == 0 && b == 0);
}

// What two calls hold before their voice resources make room for the
// hairpin: put back as it was when the hairpin is refused.
struct held_resources {
    int active[2];
    int reserved[2];
    int free_units;
};

held_resources snapshot(const call_object *a, const call_object *b)
{
    return {{a->msp_resources_active, b->msp_resources_active},
            {a->msp_resources_reserved, b->msp_resources_reserved},
            cman ? cman->msp_free_channels : 0};
}

void restore(call_object *a, call_object *b, const held_resources &h)
{
    a->msp_resources_active = h.active[0];
    b->msp_resources_active = h.active[1];
    a->msp_resources_reserved = h.reserved[0];
    b->msp_resources_reserved = h.reserved[1];
    if (cman)
        cman->msp_free_channels = h.free_units;
    a->msp_state = MSP_VOICE_ACTIVE;
    b->msp_state = MSP_VOICE_ACTIVE;
}

} // namespace

int bridge_tdm(call_object *co, call_object *otherco)
{
    if (!co || !otherco || !co->cl_sip || !otherco->cl_sip)
        return -1;
    msp_queue_lock_take();
    if (co->msp_state != MSP_VOICE_ACTIVE || otherco->msp_state != MSP_VOICE_ACTIVE) {
        msp_queue_lock_release();
        return -1;
    }
    call_leg_sip *a = co->cl_sip, *b = otherco->cl_sip;
    if (!is_g711_pair(a->using_payload, b->using_payload)) {
        // A hairpin joins G.711 A-law channels.
        release_both(co);
        release_both(otherco);
        a->using_codec = a->using_payload = 8;
        b->using_codec = b->using_payload = 8;
        msp_request_resource(co, &co->msp_resources_active, MSPRES_G711_20);
        msp_request_resource(otherco, &otherco->msp_resources_active, MSPRES_G711_20);
        queue_vopena_payload(co, co->tdm_logical_timeslot, 8);
        queue_vopena_payload(otherco, otherco->tdm_logical_timeslot, 8);
    }
    held_resources held = snapshot(co, otherco);
    release_both(co);
    release_both(otherco);
    co->msp_state = MSP_BRIDGED;
    otherco->msp_state = MSP_BRIDGED;
    if (msp_request_resource(co, &co->msp_resources_active, MSPRES_TDM_HAIRPINNING) == -1) {
        LOGD_CALL(TARN, 1, co, "CRITICAL: cannot get MSP resources to bridge TDM to %s", cinfo(otherco));
        // Both voice channels still run: they stay voice calls with their
        // G.711 resources, so the budget and a later stop stay right.
        restore(co, otherco, held);
        msp_queue_lock_release();
        return -1;
    }
    int ts = co->tdm_logical_timeslot, other_ts = otherco->tdm_logical_timeslot;
    media_put(co, ts, voice_msg(FC_THC_MODE_ENABLE));
    media_put(otherco, other_ts, voice_msg(FC_THC_MODE_ENABLE));
    queue_thc_redirect(co, ts, other_ts);
    co->msp_bridged_to = otherco;
    otherco->msp_bridged_to = co;
    verbose_bridge_request(co, otherco);
    LOGD_CALL(TARN, 5, co, "BRIDGING TDM %i %i!", ts, other_ts);
    msp_queue_lock_release();
    stop_rtp_supervision(co);
    stop_rtp_supervision(otherco);
    return 0;
}

int bridge_remote_tdm(call_object *co)
{
    if (!co)
        return -1;
    int ts = co->tdm_logical_timeslot, remote_ts = co->remote_tdm_logical_timeslot;
    LOGD_CALL(TARN, 5, co, "local_ts %i remote_ts %i", ts, remote_ts);
    msp_queue_lock_take();
    msp_release_all_resources(co, &co->msp_resources_reserved);
    msp_release_all_resources(co, &co->msp_resources_remote_bridging);
    if (msp_request_resource(co, &co->msp_resources_reserved, MSPRES_TDM_HAIRPINNING) == -1) {
        LOGD_CALL(TARN, 1, co, "CRITICAL: cannot get MSP resources to bridge (1)");
        msp_queue_lock_release();
        return -1;
    }
    if (msp_request_resource(co, &co->msp_resources_remote_bridging, MSPRES_TDM_HAIRPINNING) == -1) {
        msp_release_all_resources(co, &co->msp_resources_reserved);
        LOGD_CALL(TARN, 1, co, "CRITICAL: cannot get MSP resources to bridge (2)");
        msp_queue_lock_release();
        return -1;
    }

    magic_csm create = voice_msg(FC_SUPVSR_CREATE_CHANNEL);
    if (!csm_msg_is_null(create))
        create.u_csmdev_create_channel->timeslot = (uint32_t)remote_ts;
    media_put(nullptr, remote_ts, create);

    magic_csm ip = voice_msg(FC_SET_IP_HDR_CHANNEL);
    if (!csm_msg_is_null(ip)) {
        csmchan_set_ip_hdr_chan *r = ip.u_csmchan_set_ip_hdr_chan;
        const call_leg_sip *leg = co->cl_sip;
        r->tos = (uint32_t)(leg && leg->ss ? leg->ss->tos_rtp : DEFAULT_TOS);
        r->source_address_word_1 = ip_to_short(gp->netconf.host_ip_lan, 1);
        r->source_address_word_2 = ip_to_short(gp->netconf.host_ip_lan, 2);
        int port = gp->dummy_rtp_port_for_remote_bridging_offset + co->index;
        r->udp_source_port = (uint32_t)port;
        r->udp_destination_port = (uint32_t)port;
    }
    media_put(co, remote_ts, ip);
    queue_vopena_payload(nullptr, remote_ts, 8);
    media_put(co, remote_ts, voice_msg(FC_THC_MODE_ENABLE));
    media_put(co, ts, voice_msg(FC_THC_MODE_ENABLE));
    queue_thc_redirect(co, ts, remote_ts);

    co->msp_state = MSP_REMOTE_BRIDGED;
    msp_release_all_resources(co, &co->msp_resources_active);
    msp_release_all_resources(co, &co->msp_resources_reserved);
    msp_release_all_resources(co, &co->msp_resources_remote_bridging);
    if (msp_request_resource(co, &co->msp_resources_active, MSPRES_TDM_HAIRPINNING) == -1)
        TARN_EXIT(91, "critical error in resource allocation, cannot get resource, though it should be available!");
    msp_queue_lock_release();
    return 0;
}

void call_rtp_stat_held(call_object *co)
{
    if (!co || co->tdm_logical_timeslot < 0 || co->sm_state != (uint32_t)SM_CALL_ACTIVE ||
        !(co->msp_state & MSP_VOICE_ACTIVE))
        return;
    magic_csm m = create_query_csm_msg(FC_VOIP_RTCPSTAT, 2, 1, gp->msp_counter++);
    if (!csm_msg_is_null(m))
        msp_queue_command_nolock(m, co->tdm_logical_timeslot, co, 1);
}

void call_rtp_stat(call_object *co)
{
    if (!co || co->tdm_logical_timeslot < 0 || co->sm_state != (uint32_t)SM_CALL_ACTIVE ||
        !(co->msp_state & MSP_VOICE_ACTIVE))
        return;
    msp_queue_lock_take();
    call_rtp_stat_held(co);
    msp_queue_lock_release();
}
