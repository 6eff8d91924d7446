#include "media_callctl.h"

#include <atomic>

#include "analog_watchdog.h"
#include "log.h"
#include "media_relay.h"
#include "media_tdm.h"
#include "media_transcoding.h"
#include "call_reset.h"
#include "media_voice.h"
#include "call_crypto.h"
#include "media_start.h"
#include "media_passthrough.h"
#include "pcm_bridging.h"
#include "sdp_offer_answer.h"
#include "sm_run.h"
#include "sm_tasks.h"

namespace {

media_callctl_iface hooks;

// One flag per entry: its line is written once.
enum { H_STOP_RTP, H_LAW, H_CRYPTO, H_TIMER, H_DTMFTUNE, H_DTMF, H_TASK, H_RUN, H_DISMANTLE, H_TOASCII, H_COUNT };
std::atomic<bool> reported[H_COUNT];

bool filled(const void *entry, int which, const char *name)
{
    if (entry)
        return true;
    if (!reported[which].exchange(true))
        LOGD(TARN, 2, nullptr, "media: call control's %s is not built yet, its step is skipped", name);
    return false;
}

template <typename F> void take(F &slot, F entry)
{
    if (entry)
        slot = entry;
}

// The fax channel as call control's start hook has it (a result of 0).
int t38_channel_start(call_object *co, int lock_msp_queue)
{
    setup_msp_t38_channel(co, lock_msp_queue);
    return 0;
}

} // namespace

void media_set_callctl_iface(const media_callctl_iface *iface)
{
    if (!iface) {
        hooks = media_callctl_iface{};
    } else {
        take(hooks.call_stop_rtp, iface->call_stop_rtp);
        take(hooks.call_get_law_setting, iface->call_get_law_setting);
        take(hooks.call_crypto_update, iface->call_crypto_update);
        take(hooks.cb_timer_event, iface->cb_timer_event);
        take(hooks.parse_dtmf_tune_params, iface->parse_dtmf_tune_params);
        take(hooks.process_dtmf, iface->process_dtmf);
        take(hooks.add_sm_task, iface->add_sm_task);
        take(hooks.do_statemachine_run, iface->do_statemachine_run);
        take(hooks.start_dismantling_timer, iface->start_dismantling_timer);
        take(hooks.tonedetect_to_ascii, iface->tonedetect_to_ascii);
        take(hooks.parse_analog_callerid, iface->parse_analog_callerid);
        take(hooks.send_mfcr2_tone, iface->send_mfcr2_tone);
        take(hooks.cas_passthrough_map, iface->cas_passthrough_map);
        take(hooks.finish_all_calls_by_remote_ip, iface->finish_all_calls_by_remote_ip);
        take(hooks.finish_call_by_remote_ip_and_port, iface->finish_call_by_remote_ip_and_port);
    }
    for (auto &r : reported)
        r = false;
}

const media_callctl_iface &media_callctl()
{
    return hooks;
}

bool media_has_call_stop_rtp()
{
    return filled((const void *)hooks.call_stop_rtp, H_STOP_RTP, "call_stop_rtp");
}
bool media_has_call_get_law_setting()
{
    return filled((const void *)hooks.call_get_law_setting, H_LAW, "call_get_law_setting");
}
bool media_has_call_crypto_update()
{
    return filled((const void *)hooks.call_crypto_update, H_CRYPTO, "call_crypto_update");
}
bool media_has_cb_timer_event()
{
    return filled((const void *)hooks.cb_timer_event, H_TIMER, "cb_timer_event");
}
bool media_has_parse_dtmf_tune_params()
{
    return filled((const void *)hooks.parse_dtmf_tune_params, H_DTMFTUNE, "parse_dtmf_tune_params");
}

bool media_has_process_dtmf()
{
    return filled((const void *)hooks.process_dtmf, H_DTMF, "process_dtmf");
}
bool media_has_add_sm_task()
{
    return filled((const void *)hooks.add_sm_task, H_TASK, "add_sm_task");
}
bool media_has_do_statemachine_run()
{
    return filled((const void *)hooks.do_statemachine_run, H_RUN, "do_statemachine_run");
}
bool media_has_start_dismantling_timer()
{
    return filled((const void *)hooks.start_dismantling_timer, H_DISMANTLE, "start_dismantling_timer");
}
bool media_has_tonedetect_to_ascii()
{
    return filled((const void *)hooks.tonedetect_to_ascii, H_TOASCII, "tonedetect_to_ascii");
}

int media_call_stop_rtp(call_object *co, int lock_msp_queue)
{
    return media_has_call_stop_rtp() ? hooks.call_stop_rtp(co, lock_msp_queue) : -1;
}

int media_call_get_law_setting(call_object *co)
{
    return media_has_call_get_law_setting() ? hooks.call_get_law_setting(co) : 0;
}

void media_call_crypto_update(call_object *co, int crydir)
{
    if (media_has_call_crypto_update())
        hooks.call_crypto_update(co, crydir);
}

void media_install()
{
    analog_watchdog_hooks w = {};
    w.call_msp_setup_voice_channel = call_msp_setup_voice_channel;
    analog_watchdog_set_hooks(&w);
    // The channel operations call control starts and stops media with.
    media_start_hooks m = {};
    m.call_msp_setup_voice_channel = call_msp_setup_voice_channel;
    m.call_stop_msp_voice = call_stop_msp_voice;
    m.call_stop_msp_t38 = call_stop_msp_t38;
    m.stop_msp_hdlc = stop_msp_hdlc;
    m.call_stop_msp_tone = call_stop_msp_tone;
    m.setup_msp_t38_channel = t38_channel_start;
    m.call_msp_setup_mf_channel = call_msp_setup_mf_channel;
    m.bridge_tdm = bridge_tdm;
    m.bridge_remote_tdm = bridge_remote_tdm;
    media_start_set_hooks(&m);
    // The reset of a transcoding call stops its channels, that of a
    // SIP-to-SIP call its RTP passthrough.
    call_reset_hooks r = {};
    r.call_s2s_stop_transcoding = call_s2s_stop_transcoding;
    r.stop_udp_proxy_thread = stop_udp_proxy_thread;
    call_reset_set_hooks(&r);
    // Calls without transcoding go to the RTP passthrough.
    s2s_transcoding_hooks t = {};
    t.start_udp_proxy_thread = start_udp_proxy_thread;
    s2s_transcoding_set_hooks(&t);
    // The tone stop of a machine run's end.
    callctl_media_hooks c = {};
    c.call_stop_msp_tone = call_stop_msp_tone;
    // The RTP check timer holds msp_queue_lock when it asks.
    c.call_rtp_stat = call_rtp_stat_held;
    callctl_set_media_hooks(&c);
    // What call control already has.
    media_callctl_iface built = {};
    built.call_stop_rtp = call_stop_rtp;
    built.call_get_law_setting = call_get_law_setting;
    built.call_crypto_update = call_crypto_update;
    built.cb_timer_event = cb_timer_event;
    built.add_sm_task = add_sm_task;
    built.do_statemachine_run = do_statemachine_run;
    built.start_dismantling_timer = start_dismantling_timer;
    built.finish_all_calls_by_remote_ip = finish_all_calls_by_remote_ip;
    built.finish_call_by_remote_ip_and_port = finish_call_by_remote_ip_and_port;
    media_set_callctl_iface(&built);
    // The PCM bridging table tells call control which RTP peers are another
    // unit's channels.
    media_start_hooks p = {};
    p.pcm_table_find = pcm_table_find;
    media_start_set_hooks(&p);
}
