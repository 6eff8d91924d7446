// SIP-to-SIP transcoding: the start (set-up, update or restart of both
// legs' channels and their join), the stop, and one leg's channel addressed
// by its DSP channel.
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "application.h"
#include "call_configuration.h"
#include "call_services.h"
#include "csm_codes.h"
#include "experimental_options.h"
#include "media_transcoding.h"
#include "media_voice.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "network_config.h"
#include "pools.h"
#include "media_passthrough.h"
#include "rtp_ports.h"
#include "sip_trace.h"
#include "sm_defs.h"
#include "transcoding_pool.h"
#include "voice_rows.h"

namespace {

constexpr int DEFAULT_TOS = 160;
constexpr int T38_PAYLOAD = 9999;
constexpr int NAT_OPENER_MARKER = 12345;
constexpr useconds_t NAT_OPENER_PAUSE_USEC = 20000;
constexpr int NTE_MSG_LENGTH = 24;

s2s_transcoding_hooks hooks;
std::atomic<bool> proxy_hook_reported{false};

void start_udp_proxy(call_object *co)
{
    if (hooks.start_udp_proxy_thread) {
        hooks.start_udp_proxy_thread(co);
        return;
    }
    if (!proxy_hook_reported.exchange(true))
        LOGD(TARN, 2, nullptr, "media: start_udp_proxy_thread is not built yet, the RTP passthrough is not started");
}

bool extra_debugging()
{
    return gp->experimental_options && gp->experimental_options->eo_extra_debugging;
}

bool virtual_transcoding()
{
    return gp->experimental_options && gp->experimental_options->eo_virtual_transcoding;
}

bool same_text(const char *a, const char *b)
{
    return a[0] && strcmp(a, b) == 0;
}

bool in_range(int port, int start, int stop)
{
    return port >= start && port <= stop;
}

// A leg whose far end is this gateway's own RTP is pointed at the media
// processor, which reaches it directly.
void rewrite_own_address(const call_object *co, call_leg_sip *leg, bool second_leg)
{
    const network_config &n = gp->netconf;
    const char *ip = leg->rtp_remote_ip;
    if (co->f.transparent_call || !(same_text(n.host_ip_lan, ip) || same_text(n.host_ip_wan, ip) || strcmp(ip, "127.0.0.1") == 0))
        return;
    const RTP_ports *r = gp->rtp_ports;
    if (!r)
        return;
    int port = leg->rtp_remote_port;
    if (in_range(port, r->lanstart, r->lanstop))
        snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", n.msp_devip);
    if (in_range(port, r->wanstart, r->wanstop))
        snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", n.msp_devip);
    if (second_leg && in_range(port, r->lostart, r->lostop))
        snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", n.msp_devip);
}

bool leg_changed(const call_leg_sip *l)
{
    return strcmp(l->using_ip, l->last_using_ip) != 0 || l->rtp_local_port != l->last_rtp_local_port ||
           strcmp(l->rtp_remote_ip, l->last_rtp_remote_ip) != 0 || l->rtp_remote_port != l->last_rtp_remote_port ||
           l->using_codec != l->last_using_codec || l->using_payload != l->last_using_payload;
}

void remember(call_leg_sip *l)
{
    snprintf(l->last_using_ip, sizeof l->last_using_ip, "%s", l->using_ip);
    l->last_rtp_local_port = l->rtp_local_port;
    snprintf(l->last_rtp_remote_ip, sizeof l->last_rtp_remote_ip, "%s", l->rtp_remote_ip);
    l->last_rtp_remote_port = l->rtp_remote_port;
    l->last_using_codec = l->using_codec;
    l->last_using_payload = l->using_payload;
}

void log_leg(const call_object *co, const char *label, const call_leg_sip *l)
{
    LOGD_CALL(TARN, 5, co, "%sa: %s:%i -> %s:%i -- uc %i up %i\n", label, l->using_ip, l->rtp_local_port,
              l->rtp_remote_ip, l->rtp_remote_port, l->using_codec, l->using_payload);
    LOGD_CALL(TARN, 5, co, "%sb: %s:%i -> %s:%i -- uc %i up %i\n", label, l->last_using_ip, l->last_rtp_local_port,
              l->last_rtp_remote_ip, l->last_rtp_remote_port, l->last_using_codec, l->last_using_payload);
}

void take_timeslot(call_object *co, bool transparent)
{
    if (co->tdm_logical_timeslot < 0 && !transparent)
        co->tdm_logical_timeslot = transcoding_get_free_timeslot();
}

magic_csm vopena(int payload, int channel_mode)
{
    magic_csm m = voice_msg(FC_VOIP_VOPENA);
    if (!csm_msg_is_null(m)) {
        m.u_csmchan_voip_vopena->payload_type = (uint32_t)payload;
        m.u_csmchan_voip_vopena->channel_mode = (uint32_t)channel_mode;
    }
    return m;
}

// One RFC 2833 event on a leg's channel, so that a NAT in front of its far
// end opens towards the media processor.
void queue_nat_nte(call_object *co, const call_leg_sip *leg)
{
    magic_csm m = voice_msg(FC_VOIP_SENDNTE);
    if (csm_msg_is_null(m))
        return;
    get_header(m)->msg_length = NTE_MSG_LENGTH;
    csmchan_voip_sendnte *r = m.u_csmchan_voip_sendnte;
    r->nte_payload_event = 1;
    r->nte_payload_volume = 10;
    r->nte_payload_duration = 10;
    r->override_payload_type = 1;
    r->override_single_nte = 1;
    r->override_default_redundancy = 1;
    r->redundancy_interval_time = (r->redundancy_interval_time & ~0x3Fu) | 10;
    r->payload_type = (uint32_t)(leg->pt_telephony_event - 1) & 0xFFFF;
    media_put(co, co->tdm_logical_timeslot, m);
}

// The NAT opener by telephone events: both channels on, one event each,
// a pause in which other sequences may be queued, both channels off.
void nat_opener_events(call_object *co, call_object *buddy)
{
    const call_leg_sip *in = co->cl_sip_in, *out = co->cl_sip_out;
    media_put(co, co->tdm_logical_timeslot, vopena(in->using_payload, 1));
    media_put(buddy, buddy->tdm_logical_timeslot, vopena(out->using_payload, 1));
    queue_nat_nte(co, in);
    queue_nat_nte(buddy, out);
    msp_queue_lock_release();
    usleep(NAT_OPENER_PAUSE_USEC);
    msp_queue_lock_take();
    media_put(co, co->tdm_logical_timeslot, vopena(in->using_payload, 0));
    media_put(buddy, buddy->tdm_logical_timeslot, vopena(out->using_payload, 0));
}

magic_csm trans_connect(int enable, int ts_a, int ts_b, int payload_a, int payload_b, bool set_payloads)
{
    magic_csm m = voice_msg(FC_TRANS_CONNECT);
    if (csm_msg_is_null(m))
        return m;
    csmdev_trans_connect *t = m.u_csmdev_trans_connect;
    t->transcoding_session_enable = (uint32_t)enable;
    t->transcoding_channel_id_a = (uint32_t)ts_a;
    t->transcoding_channel_id_b = (uint32_t)ts_b;
    if (set_payloads) {
        t->transcoding_channel_payload_type_a = (uint32_t)payload_a;
        t->transcoding_channel_payload_type_b = (uint32_t)payload_b;
    }
    return m;
}

// Both voice channels, the optional NAT opener, the join, both channels on.
void set_up(call_object *co, call_object *buddy)
{
    call_msp_setup_voice_channel(co, 0);
    call_msp_setup_voice_channel(buddy, 0);
    const call_leg_sip *in = co->cl_sip_in, *out = co->cl_sip_out;
    int opener = co->cc.s2s_nat_opener;
    if (opener == 2)
        nat_opener_events(co, buddy);
    bool virt = virtual_transcoding();
    media_put(nullptr, MSP_ADDRESS_DEVICE,
              trans_connect(1, co->tdm_logical_timeslot, buddy->tdm_logical_timeslot, virt ? 255 : in->using_payload,
                            virt ? 255 : out->using_payload, true));
    media_put(co, co->tdm_logical_timeslot, vopena(in->using_payload, 1));
    magic_csm last = vopena(out->using_payload, 1);
    if (opener == 1) {
        // The command thread reports the sending; the probes of both legs
        // follow it.
        if (!csm_msg_is_null(last))
            last.u_csmchan_voip_vopena->notification_flag = NAT_OPENER_MARKER;
        // What the probes need is taken now, under global_lock.
        nat_probe_note_vopena(last, co);
        if (!csm_msg_is_null(last))
            msp_queue_command_nolock(last, buddy->tdm_logical_timeslot, buddy, 1);
    } else {
        media_put(buddy, buddy->tdm_logical_timeslot, last);
    }
}

// The resources of the changed legs (step 11): false when the start ends
// here.
bool reserve_resources(call_object *co, call_object *buddy, bool first_changed, bool second_changed, bool update)
{
    if (first_changed)
        msp_release_all_resources(co, &co->msp_resources_reserved);
    if (second_changed)
        msp_release_all_resources(buddy, &buddy->msp_resources_reserved);
    int type_in = call_get_resource_type_by_codec(co->cl_sip_in->using_codec);
    int type_out = call_get_resource_type_by_codec(co->cl_sip_out->using_codec);
    if (co->cc.sdp_codec_selection == 2)
        return true;
    if (type_in == -1 || type_out == -1)
        return false;
    if (first_changed && msp_request_resource(co, &co->msp_resources_reserved, type_in) == -1) {
        if (update)
            call_s2s_stop_transcoding(co, 0);
        return false;
    }
    if (msp_request_resource(buddy, &buddy->msp_resources_reserved, type_out) == -1 && second_changed) {
        if (update)
            call_s2s_stop_transcoding(co, 0);
        msp_release_all_resources(co, &co->msp_resources_reserved);
        return false;
    }
    return true;
}

} // namespace

void s2s_transcoding_set_hooks(const s2s_transcoding_hooks *h)
{
    if (!h) {
        hooks = s2s_transcoding_hooks{};
    } else if (h->start_udp_proxy_thread) {
        hooks.start_udp_proxy_thread = h->start_udp_proxy_thread;
    }
    proxy_hook_reported = false;
}

void call_s2s_stop_transcoding(call_object *co, int lock_msp_queue)
{
    if (!co || !co->f.transcoding_started)
        return;
    transcoding_list_timeslots(__func__, __LINE__);
    if (lock_msp_queue)
        msp_queue_lock_take();
    call_object *buddy = co->transcoding_buddy;
    co->f.transcoding_started = 0;
    if (buddy)
        buddy->f.transcoding_started = 0;
    int ts = co->tdm_logical_timeslot;
    media_queue_voice_off(co, ts);
    if (buddy) {
        media_queue_voice_off(buddy, buddy->tdm_logical_timeslot);
        media_put(nullptr, MSP_ADDRESS_DEVICE, trans_connect(0, ts, buddy->tdm_logical_timeslot, 0, 0, false));
    }
    msp_release_all_resources(co, &co->msp_resources_active);
    media_queue_destroy(co, ts);
    if (buddy) {
        msp_release_all_resources(buddy, &buddy->msp_resources_active);
        media_queue_destroy(buddy, buddy->tdm_logical_timeslot);
    }
    if (lock_msp_queue)
        msp_queue_lock_release();
    co->msp_state = 0;
    if (buddy) {
        buddy->msp_state = 0;
        buddy->cl_sip = nullptr;
        buddy->cl_sip_out = nullptr;
    }
}

void call_s2s_start_transcoding_channel(call_object *co, call_leg_sip *leg, int lock_msp_queue, int update)
{
    if (!co || !leg)
        return;
    if (lock_msp_queue)
        msp_queue_lock_take();
    int target = leg->msp_channel + MSP_ADDRESS_CHANNEL_BASE;
    LOGD_CALL(SIP, 5, co, "STARTING leg %i %p %p %p", call_index_of_call_leg(co, leg), (void *)co->cl_sip,
              (void *)co->cl_sip_in, (void *)co->cl_sip_out);
    LOGD_CALL(SIP, 5, co, "CHANNEL %i", leg->msp_channel);
    LOGD_CALL(SIP, 5, co, "REMOTED %s:%i localport %i codec %i payload %i", leg->rtp_remote_ip, leg->rtp_remote_port,
              leg->rtp_local_port, leg->using_codec, leg->using_payload);
    voice_ctx ctx = {co, leg, target, false, false, false};
    const voice_row &eth = voice_row_at(2);
    if (eth.when(ctx))
        eth.queue(ctx);

    const network_config &n = gp->netconf;
    magic_csm ip = voice_msg(FC_SET_IP_HDR_CHANNEL);
    if (!csm_msg_is_null(ip)) {
        csmchan_set_ip_hdr_chan *r = ip.u_csmchan_set_ip_hdr_chan;
        r->tos = (uint32_t)(co->cl_sip && co->cl_sip->ss ? co->cl_sip->ss->tos_rtp : DEFAULT_TOS);
        r->source_address_word_1 = ip_to_short(n.host_ip_lan, 1);
        r->source_address_word_2 = ip_to_short(n.host_ip_lan, 2);
        if (co->f.dummy_rtp) {
            r->destination_address_word_1 = ip_to_short(gp->dummy_rtp_address, 1);
            r->destination_address_word_2 = ip_to_short(gp->dummy_rtp_address, 2);
            r->udp_destination_port = (uint32_t)gp->dummy_rtp_port;
        } else {
            const char *rip = leg->rtp_remote_ip;
            if (strcmp(rip, "127.0.0.1") == 0 || same_text(n.host_ip_lan, rip) || same_text(n.host_ip_wan, rip))
                snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", n.msp_devip);
            r->destination_address_word_1 = ip_to_short(leg->rtp_remote_ip, 1);
            r->destination_address_word_2 = ip_to_short(leg->rtp_remote_ip, 2);
            r->udp_destination_port = (uint32_t)leg->rtp_remote_port;
        }
        r->udp_source_port = (uint32_t)leg->rtp_local_port;
        voice_put(ctx, ip);
    }

    const call_configuration &cc = co->cc;
    magic_csm v = voice_msg(FC_VOIP_VCEOPT);
    if (!csm_msg_is_null(v)) {
        voice_fill_vceopt(v.u_csmchan_voip_vceopt, co, leg, (int)cc.rtp_packet_size, 0);
        voice_put(ctx, v);
    }

    magic_csm p = voice_msg(FC_VOIP_PTMNG);
    if (!csm_msg_is_null(p)) {
        p.u_csmchan_voip_ptmng->dtmf = (uint32_t)leg->pt_telephony_event & 0xFF;
        if (leg->using_payload == 8 && cc.clearmode_on_alaw) {
            p.u_csmchan_voip_ptmng->g711a = 255;
            p.u_csmchan_voip_ptmng->clear_channel = 8;
        }
        voice_put(ctx, p);
    }

    magic_csm d = voice_msg(FC_VOIP_DTMFOPT);
    if (!csm_msg_is_null(d)) {
        csmchan_voip_dtmfopt *r = d.u_csmchan_voip_dtmfopt;
        r->enable_silence_voice_packet = 1;
        r->rfc2833_event_report_to_host = 1;
        r->rfc2833_packet_payload_format = 0;
        r->dtmf_in_rtp = 1;
        r->dtmf_in_rtp_redundancy_scheme = 1;
        r->dtmf_in_voice = 1;
        voice_put(ctx, d);
    }

    if (!update) {
        call_leg_sip *in = co->cl_sip_in, *out = co->cl_sip_out;
        if (in && out && in->msp_channel >= 0 && out->msp_channel >= 0) {
            media_put(co, in->msp_channel + MSP_ADDRESS_CHANNEL_BASE, vopena(in->using_payload, 1));
            media_put(co, out->msp_channel + MSP_ADDRESS_CHANNEL_BASE, vopena(out->using_payload, 1));
        }
    } else {
        media_put(co, target, vopena(co->cl_sip ? co->cl_sip->using_payload : leg->using_payload, 1));
    }
    if (lock_msp_queue)
        msp_queue_lock_release();
}

statemachine_handle_retval sm_s2s_start_transcoding(void *owner, void *, int32_t, int32_t)
{
    auto *co = static_cast<call_object *>(owner);
    call_object *buddy = co ? get_transcoding_buddy(co) : nullptr;
    if (!buddy)
        return {SM_DESTROYING, SM_NO_EVENT};
    call_leg_sip *in = co->cl_sip_in, *out = co->cl_sip_out;
    if (!in || !out) {
        LOGD_CALL(TARN, 2, co, "transcoding: the call has not got both legs");
        return {SM_NO_DECISION, SM_ROW_EVENT};
    }
    bool transparent = co->f.transparent_call;
    rewrite_own_address(co, in, false);
    rewrite_own_address(co, out, true);

    bool first_changed = leg_changed(in), second_changed = leg_changed(out);
    log_leg(co, "v1", in);
    log_leg(co, "v2", out);
    if (first_changed)
        remember(in);
    if (second_changed)
        remember(out);
    if (!first_changed && !second_changed)
        return {SM_NO_DECISION, SM_ROW_EVENT};

    msp_queue_lock_take();
    bool update = false;
    if (co->f.transcoding_call && co->f.transcoding_started) {
        if ((first_changed && second_changed) || in->using_payload == T38_PAYLOAD || out->using_payload == T38_PAYLOAD ||
            co->cc.s2s_rtp_handling_method != 0)
            call_s2s_stop_transcoding(co, 0);
        else
            update = true;
    }
    if (extra_debugging())
        transcoding_list_timeslots(__func__, __LINE__);

    call_leg_sip *saved = co->cl_sip;
    co->cl_sip = in;
    take_timeslot(co, transparent);
    buddy->cc.rtp_packet_size = co->cc.rtp_packet_size;
    buddy->cl_sip = out;
    take_timeslot(buddy, transparent);

    auto finish = [&]() -> statemachine_handle_retval {
        msp_queue_lock_release();
        co->cl_sip = saved;
        return {SM_NO_DECISION, SM_ROW_EVENT};
    };
    if (in->rtp_remote_port == 0 || out->rtp_remote_port == 0)
        return finish();

    bool no_transcoding = false;
    if (!transparent) {
        if (co->tdm_logical_timeslot < 0 || buddy->tdm_logical_timeslot < 0) {
            LOGD_CALL(TARN, 0, co, "Couldn't get transcoding timeslot: ts1 %i ts2 %i", co->tdm_logical_timeslot,
                      buddy->tdm_logical_timeslot);
            return finish();
        }
        if (!reserve_resources(co, buddy, first_changed, second_changed, update))
            return finish();
    }

    if (in->using_payload == T38_PAYLOAD || out->using_payload == T38_PAYLOAD || transparent) {
        msp_release_all_resources(co, &co->msp_resources_reserved);
        msp_release_all_resources(buddy, &buddy->msp_resources_reserved);
        no_transcoding = true;
    } else {
        co->f.transcoding_call = co->f.transcoding_started = 1;
        buddy->f.transcoding_call = buddy->f.transcoding_started = 1;
        if (update) {
            if (first_changed) {
                co->cl_sip = in;
                call_msp_update_transconnect_voice_channel(co, 0);
            }
            if (second_changed) {
                buddy->cl_sip = out;
                call_msp_update_transconnect_voice_channel(buddy, 0);
            }
        } else {
            set_up(co, buddy);
        }
    }

    // Both legs T.38, or no transcoding and neither T.38: the passthrough
    // carries the media. One T.38 leg gets neither.
    if (no_transcoding) {
        bool both_t38 = in->using_payload == T38_PAYLOAD && out->using_payload == T38_PAYLOAD;
        bool neither_t38 = in->using_payload != T38_PAYLOAD && out->using_payload != T38_PAYLOAD;
        if (both_t38 || neither_t38)
            start_udp_proxy(co);
    }
    msp_queue_lock_release();
    co->cl_sip = saved;
    if (extra_debugging())
        transcoding_list_timeslots(__func__, __LINE__);
    return {SM_NO_DECISION, SM_ROW_EVENT};
}
