// mediaharness: a test stand-in for call control on top of the media
// channel operations, against the simulated media processor (TARN_MSP_SIM
// names mspsim's socket). It reads commands, one per line, from standard
// input: application facts, call objects with the fields the media
// operations read, their option strings, and the operations themselves. It
// prints each result, every call of the media_callctl_iface record and the
// debug lines of the TARN and MSP modules. A test tool, not part of the
// daemon.
//
// Commands (call N is the call object at index N of the pool, 0..7):
//   app KEY=VALUE...      rtp_traffic, tonetest, law (what the stand-in's
//                         call_get_law_setting answers), host_ip_lan,
//                         host_ip_wan, msp_devip, msp_mspside_ip, host_mac
//                         (aa:bb:cc:dd:ee:ff), dummy_rtp_address,
//                         dummy_rtp_port, lang=INDEX:CODE,
//                         analog=PORT:TYPE:CIDMODE, cas=PORT:SIGNALLING,
//                         free_channels (the DSP budget left),
//                         eo_virtual_transcoding, eo_extra_debugging,
//                         remote_bridging_offset,
//                         rtp_ports=LO:LO:LAN:LAN:WAN:WAN (start:stop each),
//                         tc_pool=FIRST:COUNT (transcoding rows in the TDM
//                         map and the pool built from them)
//   call N KEY=VALUE...   kind (ISDN_TO_SIP, SIP_TO_ISDN, ANALOG_TO_SIP,
//                         SIP_TO_ANALOG, CAS_TO_SIP, SIP_TO_CAS, GSM_TO_SIP,
//                         SIP_TO_GSM, SIP_TO_SIP, INTERNAL), pid, timeslot,
//                         remote_timeslot, remote_ip, remote_port,
//                         local_port, codec, payload, te, tos, msp_state,
//                         state, analog_port, analog_type, cas_port,
//                         gsm_port, country, dummy_rtp_wanted, buddy=M,
//                         bridged=M, started=1 and the flags dummy_rtp,
//                         transcoding_call, fxo_dialtone_passthrough,
//                         connection_established, filter_tdm,
//                         filter_packet, cng_allowed, srtp_enabled,
//                         regen_tdm, regen_packet, dtmf_as_eventdet,
//                         call_initiated_by_sip, message_waiting; machine=1 (a machine
//                         whose state is the call's state), connected=S
//                         (connected S seconds ago), status=CODE (the
//                         leg's last SIP answer), using_ip, msp_channel,
//                         out.FIELD (remote_ip, remote_port, local_port,
//                         codec, payload, te, using_ip, msp_channel of the
//                         outgoing leg), transparent, is_buddy, rtp_check,
//                         bc_port, bc_channel, bc_oad, bc_dad, analog_oad,
//                         analog_dad, cas_oad, cas_dad
//   crypto N KEY=VALUE... the SRTP state of call N's leg (out=1: its
//                         outbound leg): offer, suite, in_index, out_index,
//                         in=HEX, out=HEX (raw keys), out_sdp=TEXT
//   opt N OPTIONS         option string of call N over the default record
//   setup_voice|transconnect|stop_voice|stop_tone|stop_t38|stop_hdlc N [LOCK]
//   update N | tone N LANG TYPE | dial_tone N | cas_dial_tone N
//   stop_dial_tone N | stop_tonegen N
//   locked COMMAND ...    runs COMMAND with LOCK 0 while holding msp_queue_lock
//   hooks standin|none|callctl   the media_callctl_iface record installed
//                         (callctl: call control's own stop, law and crypto)
//   offer N               call N's SDP offer: "SDP N <text, CR LF as |>"
//   far_sdp N TEXT        reads a far SDP (words joined by blanks, "|" for
//                         CR LF) into call N's leg: "RESULT far_sdp N rc"
//   start N               call control's media start of call N
//   tones FILE            loads a tarn.tones file as the tone list
//   cpt_defaults          the built-in call-progress tables
//   analog FILE           loads a tarn.analog file and its port groups
//   mwi PORT N            message_waiting of an analog port's settings
//   tone_count LANG TYPE TONES [CADENCE]   overwrites a tone's counts
//   t38 N [LOCK]          setup_msp_t38_channel
//   inband N DIGIT DIRECTION DURATION | dtmf_sip N CODE DURATION
//   hangup|alerting|busy|tone_none|release_ts N   the tone actions
//   tonedet N VALUE RAW [MSB]   mspsim indicates FC_VOIP_TONEDET on call N's
//                         channel (time stamp RAW, high word MSB or RAW's);
//                         returns once the harness has handled it
//   events callctl        the daemon's own media event handler takes every
//                         message (call control's stand-in still records)
//   indicate N FC JSON    mspsim indicates FC with the fields (one JSON
//                         object, no blanks) on call N's channel; returns
//                         once the handler has run it
//   heartbeat             a blocking device status query
//   rtcp N                an RTP statistics query for call N's timeslot, as
//                         the traffic check sends it; returns once handled
//   rtp_stall N           call N's channel at mspsim hears its far end no
//                         more (what arrives is dropped uncounted)
//   rtp_feed N K          K RTP packets counted at call N's channel in
//                         mspsim, as if they had arrived in sequence
//   stats N TYPE          a statistics query (35 BERT, 24 SRTP) for call N's
//                         channel; returns once handled
//   app cas_passthrough=1 the CAS passthrough test mode
//   app clock=S           the event handler's clock (seconds; 0: real)
//   app safeguard=E:T     safeguard enabled E and its timeout T
//   show N                the call's media state
//   budget                the DSP units left: "BUDGET N"
//   mf N [LOCK] | bridge N M | remote_bridge N | rtp_stat N
//   s2s_start N           the transcoding start action: "RESULT s2s_start N
//                         STATE EVENT"
//   s2s_stop N [LOCK] | s2s_channel N in|out LOCK UPDATE
//   pause_probe N         the next pause of a command sequence queues a
//                         FC_VOIP_DGAIN on call N's timeslot from another
//                         thread: "PROBE queued during the pause"
//   wait                  until the command queue has run empty: "WAITED"
//   echo TEXT | quit
// Output: "READY", "RESULT <command> <call> <value>", "IFACE <entry> pid=..",
// "VOPENA_SENT channel=.. flag=.. payload=.." for each VOPENA sent with notice,
// "TONEDET <call> <value>" for each tone indication handed to the call,
// "LOG <module> <level> <tag>|<text>", "MSG <level> <text>", "CALL ...".
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "application.h"
#include "call_progress.h"
#include "call_reset.h"
#include "confman.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "global_lock.h"
#include "call_crypto.h"
#include "harness_sdp.h"
#include "line_bringup.h"
#include "log.h"
#include "media_callctl.h"
#include "msp_events.h"
#include "media_relay.h"
#include "media_start.h"
#include "media_tdm.h"
#include "media_transcoding.h"
#include "misdn_bchannel.h"
#include "sdp_offer_answer.h"
#include "media_voice.h"
#include "msp_dispatch.h"
#include "msp_link.h"
#include "msp_manager.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "network_config.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "schema.h"
#include "timer.h"
#include "tones.h"
#include "cas_internal.h"
#include "experimental_options.h"
#include "rtp_ports.h"
#include "tdm_settings.h"
#include "transcoding_pool.h"

namespace {

std::mutex out_lock;
int law_setting = 0;
sip_stack stacks[8];

void out(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void out(const char *fmt, ...)
{
    char line[8192];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    std::lock_guard<std::mutex> g(out_lock);
    fputs(line, stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

void on_debug(int level, int module, const char *, int, const char *, const char *tag, const char *format,
              va_list ap)
{
    char *text = _strdup_vprintf(format, ap);
    const char *name = module >= 0 && module < MODULECOUNT ? log_module_names[module] : "?";
    out("LOG %s %d %s|%s", name, level, tag ? tag : "", text ? text : "");
    free(text);
}

void on_message(int level, int, const char *, int, const char *format, va_list ap)
{
    char *text = _strdup_vprintf(format, ap);
    out("MSG %d %s", level, text ? text : "");
    free(text);
}

// ---- the media processor library's application side ----------------------

std::atomic<int> tonedets_handled{0};

intptr_t on_msp_event(magic_csm msg, int eventtype, int channel)
{
    auto *co = static_cast<call_object *>(msg.u_raw);
    if (eventtype == MSP_EVENT_QUERY_PID)
        return co ? co->pid : 0;
    if (eventtype == MSP_EVENT_QUERY_BC)
        return co ? (intptr_t)co->bc : 0;
    if (eventtype == MSP_EVENT_VOPENA_SENT) {
        out("VOPENA_SENT channel=%d flag=%u payload=%u", channel, (unsigned)msg.u_csmchan_voip_vopena->notification_flag,
            (unsigned)msg.u_csmchan_voip_vopena->payload_type);
        return 0;
    }
    csm_header *h = get_header(msg);
    if (eventtype == MSP_EVENT_MESSAGE && h && h->function_code == FC_VOIP_TONEDET) {
        // The tone detector's reports go to the call on the channel's
        // timeslot (the dispatcher holds global_lock).
        msp_queue_lock_take();
        int ts = msp_channel_to_timeslot(channel);
        auto *owner = ts >= 0 && ts < MSP_TIMESLOTS ? static_cast<call_object *>(timeslot_manager_context[ts]) : nullptr;
        msp_queue_lock_release();
        timeval now;
        gettimeofday(&now, nullptr);
        if (owner) {
            out("TONEDET %d %u", owner->index, (unsigned)msg.u_csmchan_voip_tonedet_indication->tone_detect_value);
            handle_msp_event_tonedet(owner, msg.u_csmchan_voip_tonedet_indication, &now);
        } else {
            out("ERR tone detect on channel %d without a call", channel);
        }
        tonedets_handled++;
    }
    return 0;
}

// The daemon's handler, counting the channel messages it ran.
std::atomic<int> events_handled{0};
intptr_t on_msp_event_callctl(magic_csm msg, int eventtype, int channel)
{
    intptr_t r = handle_msp_event(msg, eventtype, channel);
    if (eventtype == MSP_EVENT_MESSAGE && channel != 0xFFFF)
        events_handled++;
    return r;
}

long fake_seconds = 0;
void fake_clock(struct timeval *now)
{
    now->tv_sec = fake_seconds;
    now->tv_usec = 0;
}

void format_context(void *context, char *buffer, int size)
{
    auto *co = static_cast<call_object *>(context);
    snprintf(buffer, (size_t)size, "CID:%06i:00", co ? co->pid : 0);
}

// ---- the stand-in for call control ----------------------------------------

int standin_stop_rtp(call_object *co, int lock)
{
    out("IFACE call_stop_rtp pid=%d lock=%d", co->pid, lock);
    call_stop_msp_voice(co, lock);
    call_stop_msp_t38(co, lock);
    stop_msp_hdlc(co, lock);
    call_stop_msp_tone(co, lock);
    return 0;
}

int standin_law(call_object *co)
{
    out("IFACE call_get_law_setting pid=%d", co->pid);
    return law_setting;
}

void standin_crypto_update(call_object *co, int crydir)
{
    out("IFACE call_crypto_update pid=%d mode=%d", co->pid, crydir);
}

int32_t standin_timer(int32_t event, kv_timer *)
{
    out("IFACE cb_timer_event event=%d", event);
    return 0;
}

void standin_dtmftune(const char *text, int *a, int *b, int *c, int *d, int *e, int *f)
{
    out("IFACE parse_dtmf_tune_params text=%s", text);
    int *v[6] = {a, b, c, d, e, f};
    const char *p = text;
    for (int i = 0; i < 6 && p && *p; i++) {
        *v[i] = atoi(p);
        p = strchr(p, ':');
        if (p)
            p++;
    }
}

void standin_process_dtmf(int from_ip, call_object *co, int digit)
{
    out("IFACE process_dtmf pid=%d from=%d digit=%d", co->pid, from_ip, digit);
}

int standin_add_sm_task(call_object *co, int event)
{
    out("IFACE add_sm_task pid=%d event=0x%x", co->pid, (unsigned)event);
    return 0;
}

int standin_run(call_object *co, int event, int arg)
{
    out("IFACE do_statemachine_run pid=%d event=0x%x arg=%d", co->pid, (unsigned)event, arg);
    return 0;
}

int standin_dismantling(call_object *co)
{
    out("IFACE start_dismantling_timer pid=%d", co->pid);
    return 0;
}

void standin_start_udp_proxy(call_object *co)
{
    out("IFACE start_udp_proxy_thread pid=%d", co->pid);
}

char standin_to_ascii(int code)
{
    return code >= 0 && code < 16 ? "0123456789*#ABCD"[code] : 0;
}

void standin_mfcr2_tone(call_object *co, int direction, int signal, int duration)
{
    out("IFACE send_mfcr2_tone pid=%d direction=%d signal=%d duration=%d", co->pid, direction, signal, duration);
}

int standin_passthrough_map(int direction, int value)
{
    return value >= 1 && value <= 15 ? (direction == 3 ? 11 : 56) + value : 0;
}

void install_hooks(bool standin, bool callctl = false)
{
    media_set_callctl_iface(nullptr);
    media_callctl_iface i = {standin_stop_rtp,    standin_law,         standin_crypto_update, standin_timer,
                             standin_dtmftune,    standin_process_dtmf, standin_add_sm_task,  standin_run,
                             standin_dismantling, standin_to_ascii};
    i.send_mfcr2_tone = standin_mfcr2_tone;
    i.cas_passthrough_map = standin_passthrough_map;
    if (callctl) {
        i.call_stop_rtp = call_stop_rtp;
        i.call_get_law_setting = call_get_law_setting;
        i.call_crypto_update = call_crypto_update;
    }
    if (standin || callctl)
        media_set_callctl_iface(&i);
    s2s_transcoding_set_hooks(nullptr);
    if (standin || callctl) {
        s2s_transcoding_hooks h = {standin_start_udp_proxy};
        s2s_transcoding_set_hooks(&h);
    }
}

// ---- the pause of a command sequence ------------------------------------------

// "pause_probe N" arms it: the next pause of the main thread (the media
// code sleeps with usleep) runs a second thread that queues one FC_VOIP_DGAIN
// on call N's timeslot, taking msp_queue_lock as any other sequence would;
// the pause returns once that thread is done. A lock still held by the
// sleeping thread is reported instead of waited for.
pthread_t main_thread;
std::atomic<int> probe_call{-1};

void *probe_queue(void *arg)
{
    auto *co = static_cast<call_object *>(arg);
    pthread_mutex_t *m = g_lock_manager->msp_queue_lock;
    bool taken = false;
    // Other threads take the lock for a moment now and then: bounded retries.
    for (int i = 0; i < 2000 && !(taken = pthread_mutex_trylock(m) == 0); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!taken) {
        out("ERR pause probe: msp_queue_lock held during the pause");
        return nullptr;
    }
    msp_command_counter++;
    msp_queue_command_nolock(create_default_csm_msg(FC_VOIP_DGAIN, gp->msp_counter++), co->tdm_logical_timeslot, co, 0);
    msp_command_counter++;
    pthread_mutex_unlock(m);
    out("PROBE queued during the pause");
    return nullptr;
}

} // namespace

extern "C" int usleep(useconds_t usec)
{
    int n = probe_call.load();
    if (n >= 0 && pthread_equal(pthread_self(), main_thread) && probe_call.compare_exchange_strong(n, -1)) {
        pthread_t t;
        if (pthread_create(&t, nullptr, probe_queue, gp->operations[n]) == 0)
            pthread_join(t, nullptr);
    }
    timespec ts = {(time_t)(usec / 1000000), (long)(usec % 1000000) * 1000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
    return 0;
}

namespace {

// ---- call objects ------------------------------------------------------------

constexpr int CALLS = 8;
// Stand-ins for the calls' machines: only their state is read.
statemachine machines[CALLS];

call_object *call_at(int n)
{
    return n >= 0 && n < CALLS ? gp->operations[n] : nullptr;
}

struct kind_name {
    const char *name;
    int callinfo;
};
const kind_name kinds[] = {
    {"ISDN_TO_SIP", CI_ISDN_TO_SIP}, {"SIP_TO_ISDN", CI_SIP_TO_ISDN},   {"ANALOG_TO_SIP", CI_ANALOG_TO_SIP},
    {"SIP_TO_ANALOG", CI_SIP_TO_ANALOG}, {"CAS_TO_SIP", CI_CAS_TO_SIP}, {"SIP_TO_CAS", CI_SIP_TO_CAS},
    {"GSM_TO_SIP", CI_GSM_TO_SIP},   {"SIP_TO_GSM", CI_SIP_TO_GSM},     {"SIP_TO_SIP", CI_SIP_TO_SIP},
    {"INTERNAL", CI_INTERNAL},
};

void copy_text(char *dst, size_t size, const std::string &v)
{
    snprintf(dst, size, "%s", v.c_str());
}

bool set_flag(call_object *co, const std::string &k, int v)
{
    call_object_flags &f = co->f;
    if (k == "dummy_rtp") f.dummy_rtp = v;
    else if (k == "transcoding_call") f.transcoding_call = v;
    else if (k == "fxo_dialtone_passthrough") f.fxo_dialtone_passthrough = v;
    else if (k == "connection_established") f.connection_established = v;
    else if (k == "filter_tdm") f.filter_inband_dtmf_from_tdm = v;
    else if (k == "filter_packet") f.filter_inband_dtmf_from_packet = v;
    else if (k == "cng_allowed") f.cng_allowed = v;
    else if (k == "srtp_enabled") f.srtp_enabled = v;
    else if (k == "regen_tdm") f.regenerate_inband_dtmf_to_tdm = v;
    else if (k == "regen_packet") f.regenerate_inband_dtmf_to_packet = v;
    else if (k == "dtmf_as_eventdet") f.dtmf_as_eventdet = v;
    else if (k == "call_initiated_by_sip") f.call_initiated_by_sip = v;
    else if (k == "message_waiting") f.message_waiting = v;
    else return false;
    return true;
}

// Line texts and ISDN channel records of the calls (the bridging line).
char line_texts[CALLS][4][32];
misdn_bchannel bchannels[CALLS];

bool set_line_field(call_object *co, const std::string &k, const std::string &v)
{
    char (*t)[32] = line_texts[co->index];
    int n = atoi(v.c_str());
    if (k == "bc_port" || k == "bc_channel" || k == "bc_oad" || k == "bc_dad") {
        misdn_bchannel *bc = &bchannels[co->index];
        co->bc = bc;
        if (k == "bc_port") bc->port = n;
        else if (k == "bc_channel") bc->channel = n;
        else if (k == "bc_oad") copy_text(bc->oad, sizeof bc->oad, v);
        else copy_text(bc->dad, sizeof bc->dad, v);
    } else if (k == "analog_oad") co->analog_oad = (copy_text(t[0], sizeof t[0], v), t[0]);
    else if (k == "analog_dad") co->analog_dad = (copy_text(t[1], sizeof t[1], v), t[1]);
    else if (k == "cas_oad") co->cas_oad = (copy_text(t[2], sizeof t[2], v), t[2]);
    else if (k == "cas_dad") co->cas_dad = (copy_text(t[3], sizeof t[3], v), t[3]);
    else if (k == "transparent") co->f.transparent_call = n;
    else if (k == "is_buddy") co->f.is_transcoding_buddy = n;
    else if (k == "rtp_check") co->cc.rtp_traffic_check = n;
    else return false;
    return true;
}

// Fields of a leg alone ("out." in front: the call's outgoing leg).
bool set_leg_field(call_leg_sip *l, const std::string &k, const std::string &v)
{
    int n = atoi(v.c_str());
    if (k == "remote_ip") copy_text(l->rtp_remote_ip, sizeof l->rtp_remote_ip, v);
    else if (k == "remote_port") l->rtp_remote_port = n;
    else if (k == "local_port") l->rtp_local_port = n;
    else if (k == "codec") l->using_codec = n;
    else if (k == "payload") l->using_payload = n;
    else if (k == "te") l->pt_telephony_event = n;
    else if (k == "using_ip") copy_text(l->using_ip, sizeof l->using_ip, v);
    else if (k == "msp_channel") l->msp_channel = n;
    else return false;
    return true;
}

bool set_call_field(call_object *co, const std::string &k, const std::string &v)
{
    call_leg_sip *l = co->cl_sip;
    int n = atoi(v.c_str());
    if (k.rfind("out.", 0) == 0)
        return co->cl_sip_out && set_leg_field(co->cl_sip_out, k.substr(4), v);
    if (k == "using_ip" || k == "msp_channel")
        return set_leg_field(l, k, v);
    if (set_line_field(co, k, v))
        return true;
    if (k == "kind") {
        for (const kind_name &c : kinds)
            if (v == c.name)
                co->callinfo = c.callinfo;
    } else if (k == "pid") co->pid = n;
    else if (k == "timeslot") co->tdm_logical_timeslot = n;
    else if (k == "remote_timeslot") co->remote_tdm_logical_timeslot = n;
    else if (k == "remote_ip") copy_text(l->rtp_remote_ip, sizeof l->rtp_remote_ip, v);
    else if (k == "remote_port") l->rtp_remote_port = n;
    else if (k == "local_port") l->rtp_local_port = n;
    else if (k == "codec") l->using_codec = n;
    else if (k == "payload") l->using_payload = n;
    else if (k == "te") l->pt_telephony_event = n;
    else if (k == "dummy_rtp_wanted") l->dummy_rtp_wanted = n;
    else if (k == "tos") {
        stacks[co->index % 8].tos_rtp = n;
        l->ss = &stacks[co->index % 8];
    } else if (k == "msp_state") co->msp_state = (uint32_t)strtoul(v.c_str(), nullptr, 0);
    else if (k == "state") {
        co->sm_state = (uint32_t)strtoul(v.c_str(), nullptr, 0);
        machines[co->index].state = (int32_t)co->sm_state;
    } else if (k == "machine") {
        machines[co->index].state = (int32_t)co->sm_state;
        co->sm = n ? &machines[co->index] : nullptr;
    } else if (k == "connected") co->cdr.connect_start = time(nullptr) - n;
    else if (k == "status") l->last_nua_status_code = n;
    else if (k == "analog_port") co->analog_port = n;
    else if (k == "analog_type") co->analog_type = n;
    else if (k == "cas_port") co->cas_port = n;
    else if (k == "gsm_port") co->gsm_port = n;
    else if (k == "country") copy_text(co->analog_call_progress_country_code, sizeof co->analog_call_progress_country_code, v);
    else if (k == "buddy") {
        co->transcoding_buddy = call_at(n);
        if (co->transcoding_buddy)
            co->transcoding_buddy->f.is_transcoding_buddy = 1;
    } else if (k == "bridged") co->msp_bridged_to = call_at(n);
    else if (k == "started") {
        l->rtp_local_port_started = l->rtp_local_port;
        l->rtp_remote_port_started = l->rtp_remote_port;
        l->using_codec_started = l->using_codec;
        copy_text(l->rtp_remote_ip_started, sizeof l->rtp_remote_ip_started, l->rtp_remote_ip);
    } else return set_flag(co, k, n);
    return true;
}

std::vector<uint8_t> hex_bytes(const std::string &h)
{
    std::vector<uint8_t> b;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        b.push_back((uint8_t)strtoul(h.substr(i, 2).c_str(), nullptr, 16));
    return b;
}

void set_key(crypto_row &row, const std::string &hex)
{
    std::vector<uint8_t> b = hex_bytes(hex);
    free(row.key);
    row.key = (char *)malloc(b.size() ? b.size() : 1);
    memcpy(row.key, b.data(), b.size());
    row.key_length = (int32_t)b.size();
}

void set_crypto(call_object *co, const std::vector<std::string> &kv)
{
    call_leg_sip *l = co->cl_sip;
    for (const std::string &item : kv)
        if (item == "out=1")
            l = co->cl_sip_out;
    if (!l->crypto)
        l->crypto = (crypto_settings *)calloc(1, sizeof(crypto_settings));
    crypto_settings *c = l->crypto;
    for (const std::string &item : kv) {
        size_t eq = item.find('=');
        std::string k = item.substr(0, eq), v = eq == std::string::npos ? "" : item.substr(eq + 1);
        int n = atoi(v.c_str());
        if (k == "offer") c->offer_state = n;
        else if (k == "suite") c->suite_in_use = n;
        else if (k == "in_index") c->in_index = n;
        else if (k == "out_index") c->out_index = n;
        else if (k == "in") set_key(c->in[c->in_index >= 0 && c->in_index < 3 ? c->in_index : 0], v);
        else if (k == "out") { if (v != "1") set_key(c->out[c->out_index >= 0 && c->out_index < 3 ? c->out_index : 0], v); }
        else if (k == "out_sdp") { free(c->out[0].sdp_crypto); c->out[0].sdp_crypto = strdup(v.c_str()); }
    }
}

// The first use of a call object makes it a call with its legs.
void ensure_call(call_object *co)
{
    if (co->callinfo != CI_FREE)
        return;
    co->callinfo = CI_INUSE;
    co->pid = 100 + co->index;
    co->cl_sip = co->cl_sip_in = gp->sip_call_legs[2 * co->index];
    co->cl_sip_out = gp->sip_call_legs[2 * co->index + 1];
}

void show(call_object *co)
{
    const call_leg_sip *l = co->cl_sip;
    if (!l) {
        out("CALL %d msp_state=%u active=0x%x reserved=0x%x timeslot=%d transcoding=%d:%d no leg", co->index,
            co->msp_state, (unsigned)co->msp_resources_active, (unsigned)co->msp_resources_reserved,
            co->tdm_logical_timeslot, (int)co->f.transcoding_call, (int)co->f.transcoding_started);
        return;
    }
    out("CALL %d msp_state=%u active=0x%x reserved=0x%x remote_bridging=0x%x timeslot=%d remote_timeslot=%d "
        "srtp_enabled=%d dtmf_as_eventdet=%d filter_tdm=%d rfc2833=%d remote_ip=%s started=%d:%d:%d:%s "
        "dial_tone_stopped=%d tonedet_index=%d rtp_stat_timer=%d transcoding=%d:%d bridged_to=%d rtp_check=%d "
        "codec=%d payload=%d reason=%d seq=%d:%d tonegen_index=%d echo_cancel=%d regen_tdm=%d inband_detected=%d "
        "alerting_timer=%d cid_received=%d",
        co->index, co->msp_state, (unsigned)co->msp_resources_active, (unsigned)co->msp_resources_reserved,
        (unsigned)co->msp_resources_remote_bridging, co->tdm_logical_timeslot, co->remote_tdm_logical_timeslot,
        (int)co->f.srtp_enabled, (int)co->f.dtmf_as_eventdet, (int)co->f.filter_inband_dtmf_from_tdm,
        (int)co->cc.rfc2833_dtmf_passthrough, l->rtp_remote_ip, l->rtp_local_port_started,
        l->rtp_remote_port_started, l->using_codec_started, l->rtp_remote_ip_started,
        co->analog_dial_tone_stopped, co->msp_tonedet_history->history_index, co->rtp_stat_timer ? 1 : 0,
        (int)co->f.transcoding_call, (int)co->f.transcoding_started, co->msp_bridged_to ? co->msp_bridged_to->index : -1,
        (int)co->cc.rtp_traffic_check, l ? l->using_codec : -1, l ? l->using_payload : -1,
        co->special_termination_reason, l->rtp_inbound_sequence_last, l->rtp_inbound_sequence_current,
        co->msp_tonegen_history->history_index, (int)co->cc.echo_cancel, (int)co->f.regenerate_inband_dtmf_to_tdm,
        (int)co->f.sip_inband_dtmf_detected, co->fxo_alerting_ended_timer ? 1 : 0, co->analog_cid_received ? 1 : 0);
}

// ---- application facts and configuration ----------------------------------

void set_app(const std::string &k, const std::string &v)
{
    network_config &n = gp->netconf;
    if (k == "rtp_traffic") gp->rtp_traffic = atoi(v.c_str());
    else if (k == "tonetest") gp->tonetest = atoi(v.c_str());
    else if (k == "law") law_setting = atoi(v.c_str());
    else if (k == "host_ip_lan") copy_text(n.host_ip_lan, sizeof n.host_ip_lan, v);
    else if (k == "host_ip_wan") copy_text(n.host_ip_wan, sizeof n.host_ip_wan, v);
    else if (k == "msp_devip") copy_text(n.msp_devip, sizeof n.msp_devip, v);
    else if (k == "msp_mspside_ip") {
        n.msp_mspside_ip_1 = ip_to_short(v.c_str(), 1);
        n.msp_mspside_ip_2 = ip_to_short(v.c_str(), 2);
    } else if (k == "host_mac") {
        char mac[64];
        copy_text(mac, sizeof mac, v);
        mac_char_to_ushort(mac, &n.host_mac_1, &n.host_mac_2, &n.host_mac_3);
    } else if (k == "dummy_rtp_address") copy_text(gp->dummy_rtp_address, sizeof gp->dummy_rtp_address, v);
    else if (k == "dummy_rtp_port") gp->dummy_rtp_port = atoi(v.c_str());
    else if (k == "lang") {
        int idx = atoi(v.c_str());
        size_t colon = v.find(':');
        if (idx >= 0 && idx < 16 && colon != std::string::npos)
            copy_text(gp->analog_lang_mapping[idx], sizeof gp->analog_lang_mapping[idx], v.substr(colon + 1));
    } else if (k == "analog") {
        int port = 0, type = 0, cid = 0;
        if (sscanf(v.c_str(), "%d:%d:%d", &port, &type, &cid) == 3 && port > 0 && port < ANALOG_INFO_PORTS) {
            gp->analog_info->type[port] = type;
            gp->analog_info->cid_mode[port] = cid;
            if (gp->analog_info->size < port)
                gp->analog_info->size = port;
        }
    } else if (k == "cas") {
        int port = 0, signalling = 0;
        if (sscanf(v.c_str(), "%d:%d", &port, &signalling) == 2 && port >= CAS_PORT_MIN && port <= CAS_PORT_MAX) {
            std::lock_guard<std::timed_mutex> g(cas_lock);
            cas_ctl.signalling[port] = signalling;
        }
    } else if (k == "free_channels") cman->msp_free_channels = atoi(v.c_str());
    else if (k == "eo_virtual_transcoding") gp->experimental_options->eo_virtual_transcoding = atoi(v.c_str());
    else if (k == "eo_extra_debugging") gp->experimental_options->eo_extra_debugging = atoi(v.c_str());
    else if (k == "eo_nat_probes_count") gp->experimental_options->eo_nat_probes_count = atoi(v.c_str());
    else if (k == "remote_bridging_offset") gp->dummy_rtp_port_for_remote_bridging_offset = atoi(v.c_str());
    else if (k == "rtp_ports") {
        RTP_ports *r = gp->rtp_ports;
        if (sscanf(v.c_str(), "%d:%d:%d:%d:%d:%d", &r->lostart, &r->lostop, &r->lanstart, &r->lanstop, &r->wanstart,
                   &r->wanstop) != 6)
            out("ERR rtp_ports %s", v.c_str());
    } else if (k == "tc_pool") {
        // FIRST:COUNT transcoding timeslots in the TDM map, and the pool.
        int first = 0, count = 0;
        if (sscanf(v.c_str(), "%d:%d", &first, &count) == 2 && count >= 0 && count < TDM_TIMESLOT_ROOM) {
            tdm_settings &m = gp->tdm_map;
            m.timeslot_size = count;
            for (int i = 0; i < count; i++)
                m.timeslots[i] = timeslot_def{3, (uint16_t)(10001 + i), 0, (uint16_t)i, (uint16_t)(first + i)};
            init_transcoding_timeslots_array();
        }
    } else if (k == "cas_passthrough") {
        cas_passthrough = atoi(v.c_str());
    } else if (k == "clock") {
        fake_seconds = atol(v.c_str());
        msp_events_set_clock(fake_seconds ? fake_clock : nullptr);
    } else if (k == "safeguard") {
        int enabled = 0, timeout = 0;
        if (sscanf(v.c_str(), "%d:%d", &enabled, &timeout) == 2) {
            gp->sys_safeguard_kernel_reboot_enabled = enabled;
            gp->sys_safeguard_timeout = timeout;
        }
    } else out("ERR unknown app fact %s", k.c_str());
}

bool load_config(cm **slot, const char *module, const std::string &path)
{
    if (*slot)
        cm_destroy(*slot);
    *slot = configman_create(module);
    return *slot && cm_load(slot, path.c_str()) == 0;
}

tone_config *tone_by(const std::string &lang, int type)
{
    tone_config_set *set = get_tone_config(lang.c_str());
    if (!set)
        return nullptr;
    tone_config *t[] = {&set->dial, &set->ring, &set->busy, &set->congestion};
    return type >= 0 && type < 4 ? t[type] : nullptr;
}

// ---- the command loop ----------------------------------------------------------

bool queue_empty()
{
    msp_queue_lock_take();
    bool empty = cman->csm_queue->length == 0;
    msp_queue_lock_release();
    return empty;
}

void wait_queue()
{
    for (int i = 0; i < 3000 && !queue_empty(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    out(queue_empty() ? "WAITED" : "ERR queue not empty");
}

void run(std::vector<std::string> w, int lock_override);

struct tone_action {
    const char *name;
    statemachine_handle action;
};
const tone_action tone_actions[] = {
    {"hangup", sm_msp_start_tone_hangup},   {"alerting", sm_msp_start_tone_alerting},
    {"busy", sm_msp_send_tone_busy},        {"tone_none", sm_msp_start_tone_none},
    {"release_ts", sm_release_logical_timeslot},
};
const tone_action *tone_action_of(const std::string &name)
{
    for (const tone_action &a : tone_actions)
        if (name == a.name)
            return &a;
    return nullptr;
}

// mspsim raises a tone indication on the call's channel; returns once the
// event handler has run it (bounded).
void indicate_tone(const std::vector<std::string> &w)
{
    call_object *co = w.size() > 3 ? call_at(atoi(w[1].c_str())) : nullptr;
    const char *control = getenv("TARN_MSP_SIM_CONTROL");
    if (!co || !control) {
        out("ERR tonedet");
        return;
    }
    unsigned raw = (unsigned)strtoul(w[3].c_str(), nullptr, 0);
    unsigned msb = w.size() > 4 ? (unsigned)strtoul(w[4].c_str(), nullptr, 0) : raw >> 16;
    msp_queue_lock_take();
    int channel = msp_timeslot_to_channel(co->tdm_logical_timeslot);
    msp_queue_lock_release();
    char req[512];
    snprintf(req, sizeof req,
             "{\"cmd\": \"indicate\", \"fc\": \"FC_VOIP_TONEDET\", \"channel\": %d, \"fields\": "
             "{\"tone_detect_value\": %d, \"timestamp_lsb\": %u, \"timestamp_msb\": %u}}\n",
             channel, atoi(w[2].c_str()), raw & 0xFFFF, msb & 0xFFFF);
    int before = tonedets_handled;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    snprintf(sa.sun_path, sizeof sa.sun_path, "%s", control);
    char reply[256] = "";
    if (fd < 0 || connect(fd, (sockaddr *)&sa, sizeof sa) != 0 ||
        write(fd, req, strlen(req)) != (ssize_t)strlen(req) || read(fd, reply, sizeof reply - 1) <= 0) {
        out("ERR tonedet control");
        if (fd >= 0)
            close(fd);
        return;
    }
    close(fd);
    for (int i = 0; i < 2000 && tonedets_handled == before; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    out(tonedets_handled != before ? "INDICATED" : "ERR tone detect not handled");
}

// A request to mspsim's control socket; false when it failed.
bool sim_control(const std::string &req)
{
    const char *control = getenv("TARN_MSP_SIM_CONTROL");
    if (!control)
        return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    snprintf(sa.sun_path, sizeof sa.sun_path, "%s", control);
    char reply[256] = "";
    std::string line = req + "\n";
    bool ok = fd >= 0 && connect(fd, (sockaddr *)&sa, sizeof sa) == 0 &&
              write(fd, line.data(), line.size()) == (ssize_t)line.size() && read(fd, reply, sizeof reply - 1) > 0 &&
              strstr(reply, "\"ok\": true");
    if (fd >= 0)
        close(fd);
    return ok;
}

// mspsim raises any indication on the call's channel; returns once the
// daemon's handler has run it (bounded).
void indicate(const std::vector<std::string> &w)
{
    call_object *co = w.size() > 2 ? call_at(atoi(w[1].c_str())) : nullptr;
    if (!co) {
        out("ERR indicate");
        return;
    }
    msp_queue_lock_take();
    int channel = msp_timeslot_to_channel(co->tdm_logical_timeslot);
    msp_queue_lock_release();
    std::string fields = w.size() > 3 ? w[3] : "{}";
    int before = events_handled;
    if (!sim_control("{\"cmd\": \"indicate\", \"fc\": \"" + w[2] + "\", \"channel\": " + std::to_string(channel) +
                     ", \"fields\": " + fields + "}")) {
        out("ERR indicate control");
        return;
    }
    for (int i = 0; i < 2000 && events_handled == before; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    out(events_handled != before ? "INDICATED" : "ERR indication not handled");
}

int channel_of(call_object *co)
{
    msp_queue_lock_take();
    int channel = msp_timeslot_to_channel(co->tdm_logical_timeslot);
    msp_queue_lock_release();
    return channel;
}

// A statistics query (type 35 BERT, 24 SRTP) for call N's channel, as the
// console sends it; returns once handled and prints a BERT record stored.
void stats_query(const std::vector<std::string> &w)
{
    call_object *co = w.size() > 2 ? call_at(atoi(w[1].c_str())) : nullptr;
    if (!co) {
        out("ERR stats");
        return;
    }
    int before = events_handled;
    magic_csm q = create_stat_query_csm_msg(0, CSM_CLASS_STATS, atoi(w[2].c_str()), ++gp->msp_counter);
    _msp_queue_command(q, co->tdm_logical_timeslot, co, 0, 1, __FILE__, __func__, __LINE__);
    for (int i = 0; i < 2000 && events_handled == before; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    fflush(stdout);
    int channel = channel_of(co);
    const bert_statistics *b = channel >= 0 && channel < 255 ? gp->bert_stat[channel] : nullptr;
    if (b)
        out("BERT %d version=%u lock=%u stored=%d", channel, b->statistics_version, b->current_lock_state,
            b->acquire_time > 0 ? 1 : 0);
    out(events_handled != before ? "QUERIED" : "ERR stats not handled");
}

void rtcp_query(const std::vector<std::string> &w)
{
    call_object *co = w.size() > 1 ? call_at(atoi(w[1].c_str())) : nullptr;
    if (!co) {
        out("ERR rtcp");
        return;
    }
    if (w[0] == "rtp_stall") {
        out(sim_control("{\"cmd\": \"rtp\", \"channel\": " + std::to_string(channel_of(co)) +
                        ", \"stalled\": true}")
                ? "STALLED"
                : "ERR rtp_stall");
        return;
    }
    if (w[0] == "rtp_feed") {
        int n = w.size() > 2 ? atoi(w[2].c_str()) : 0;
        out(sim_control("{\"cmd\": \"rtp\", \"channel\": " + std::to_string(channel_of(co)) +
                        ", \"feed\": " + std::to_string(n) + "}")
                ? "FED"
                : "ERR rtp_feed");
        return;
    }
    int before = events_handled;
    magic_csm q = create_query_csm_msg(FC_VOIP_RTCPSTAT, CSM_CLASS_CHANNEL, CSM_TYPE_QUERY, ++gp->msp_counter);
    _msp_queue_command(q, co->tdm_logical_timeslot, co, 0, 1, __FILE__, __func__, __LINE__);
    for (int i = 0; i < 2000 && events_handled == before; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    out(events_handled != before ? "QUERIED" : "ERR rtcp not handled");
}

// An operation on a call with an optional lock flag (default 1).
bool call_operation(const std::vector<std::string> &w, int lock_override)
{
    const std::string &c = w[0];
    call_object *co = w.size() > 1 ? call_at(atoi(w[1].c_str())) : nullptr;
    if (!co)
        return false;
    int lock = lock_override >= 0 ? lock_override : (w.size() > 2 ? atoi(w[2].c_str()) : 1);
    int rc = 0;
    if (c == "setup_voice") rc = call_msp_setup_voice_channel(co, lock);
    else if (c == "transconnect") rc = call_msp_update_transconnect_voice_channel(co, lock);
    else if (c == "stop_voice") rc = call_stop_msp_voice(co, lock);
    else if (c == "stop_tone") rc = call_stop_msp_tone(co, lock);
    else if (c == "stop_t38") rc = call_stop_msp_t38(co, lock);
    else if (c == "stop_hdlc") rc = stop_msp_hdlc(co, lock);
    else if (c == "update") rc = call_msp_update_channel(co);
    else if (c == "tone" && w.size() > 3) rc = call_start_msp_tone(co, w[2].c_str(), atoi(w[3].c_str()));
    else if (c == "dial_tone") start_msp_analog_dial_tone(co);
    else if (c == "cas_dial_tone") start_msp_cas_dial_tone(co);
    else if (c == "stop_dial_tone") stop_msp_analog_dial_tone(co);
    else if (c == "t38") setup_msp_t38_channel(co, lock);
    else if (c == "mf") rc = call_msp_setup_mf_channel(co, lock);
    else if (c == "bridge" && w.size() > 2 && call_at(atoi(w[2].c_str()))) rc = bridge_tdm(co, call_at(atoi(w[2].c_str())));
    else if (c == "remote_bridge") rc = bridge_remote_tdm(co);
    else if (c == "rtp_stat") call_rtp_stat(co);
    else if (c == "s2s_stop") call_s2s_stop_transcoding(co, lock);
    else if (c == "s2s_channel" && w.size() > 4) {
        call_s2s_start_transcoding_channel(co, w[2] == "out" ? co->cl_sip_out : co->cl_sip_in, atoi(w[3].c_str()),
                                           atoi(w[4].c_str()));
    } else if (c == "s2s_start") {
        statemachine_handle_retval r = sm_s2s_start_transcoding(co, nullptr, (int32_t)co->sm_state, 0);
        out("RESULT s2s_start %d %d %d", co->index, r.state, r.event);
        return true;
    }
    else if (c == "inband" && w.size() > 4) send_inband_dtmf(co, w[2].c_str(), atoi(w[3].c_str()), atoi(w[4].c_str()));
    else if (c == "dtmf_sip" && w.size() > 3) send_dtmf_to_sip(co, atoi(w[2].c_str()), atoi(w[3].c_str()));
    else if (const tone_action *a = tone_action_of(c)) {
        statemachine_handle_retval r = a->action(co, nullptr, (int32_t)co->sm_state, 0);
        out("RESULT %s %d %d %d", c.c_str(), co->index, r.state, r.event);
        return true;
    } else if (c == "stop_tonegen") {
        statemachine_handle_retval r = sm_msp_stop_tonegen(co, nullptr, (int32_t)co->sm_state, 0);
        out("RESULT stop_tonegen %d %d %d", co->index, r.state, r.event);
        return true;
    } else return false;
    out("RESULT %s %d %d", c.c_str(), co->index, rc);
    return true;
}

void run(std::vector<std::string> w, int lock_override)
{
    if (w.empty() || w[0][0] == '#')
        return;
    const std::string &c = w[0];
    if (c == "echo") {
        std::string t;
        for (size_t i = 1; i < w.size(); i++)
            t += (i > 1 ? " " : "") + w[i];
        out("%s", t.c_str());
    } else if (c == "app") {
        for (size_t i = 1; i < w.size(); i++) {
            size_t eq = w[i].find('=');
            set_app(w[i].substr(0, eq), eq == std::string::npos ? "" : w[i].substr(eq + 1));
        }
    } else if ((c == "call" || c == "crypto" || c == "opt" || c == "show") && w.size() > 1) {
        call_object *co = call_at(atoi(w[1].c_str()));
        if (!co) {
            out("ERR no call %s", w[1].c_str());
            return;
        }
        ensure_call(co);
        if (c == "call") {
            for (size_t i = 2; i < w.size(); i++) {
                size_t eq = w[i].find('=');
                std::string k = w[i].substr(0, eq), v = eq == std::string::npos ? "1" : w[i].substr(eq + 1);
                if (!set_call_field(co, k, v))
                    out("ERR unknown call field %s", k.c_str());
            }
        } else if (c == "crypto") {
            set_crypto(co, std::vector<std::string>(w.begin() + 2, w.end()));
        } else if (c == "opt") {
            std::string t;
            for (size_t i = 2; i < w.size(); i++)
                t += (i > 2 ? " " : "") + w[i];
            cc_parse_call_configuration_direct(nullptr, &co->cc, t.c_str());
        } else {
            show(co);
        }
    } else if (c == "locked" && w.size() > 1) {
        msp_queue_lock_take();
        run(std::vector<std::string>(w.begin() + 1, w.end()), 0);
        msp_queue_lock_release();
    } else if (c == "pause_probe" && w.size() > 1 && call_at(atoi(w[1].c_str()))) {
        probe_call = atoi(w[1].c_str());
    } else if (c == "hooks" && w.size() > 1) {
        install_hooks(w[1] == "standin", w[1] == "callctl");
    } else if (c == "cpt_defaults") {
        cpt_init_default_tables();
    } else if (c == "tones" && w.size() > 1) {
        if (!load_config(&gp->config_tones, "TONES", w[1]))
            out("ERR tones %s", w[1].c_str());
        free_tone_list(gp->tonelist);
        gp->tonelist = nullptr;
        init_tones();
    } else if (c == "analog" && w.size() > 1) {
        if (!load_config(&gp->config_analog, "ANALOG", w[1]))
            out("ERR analog %s", w[1].c_str());
        pg_init_analog_port_group_struct();
    } else if (c == "mwi" && w.size() > 2) {
        port_group_analog_port_setting *s = pg_get_port_group_analog_port_setting_by_port(atoi(w[1].c_str()));
        if (s)
            s->message_waiting = atoi(w[2].c_str());
        else
            out("ERR no analog port %s", w[1].c_str());
    } else if (c == "tone_count" && w.size() > 3) {
        tone_config *t = tone_by(w[1], atoi(w[2].c_str()));
        if (t) {
            t->number_of_tones = (uint16_t)atoi(w[3].c_str());
            if (w.size() > 4)
                t->number_of_cadence_parameters = atoi(w[4].c_str());
        } else {
            out("ERR no tone %s %s", w[1].c_str(), w[2].c_str());
        }
    } else if (c == "budget") {
        out("BUDGET %d", cman->msp_free_channels);
    } else if (c == "wait") {
        wait_queue();
    } else if ((c == "offer" || c == "far_sdp" || c == "start") && w.size() > 1 && call_at(atoi(w[1].c_str()))) {
        call_object *co = call_at(atoi(w[1].c_str()));
        if (c == "offer") {
            std::string t = harness_offer(co);
            for (size_t at; (at = t.find("\r\n")) != std::string::npos;)
                t.replace(at, 2, "|");
            out("SDP %d %s", co->index, t.c_str());
        } else if (c == "far_sdp") {
            std::string t;
            for (size_t i = 2; i < w.size(); i++)
                t += (i > 2 ? " " : "") + w[i];
            for (size_t at; (at = t.find('|')) != std::string::npos;)
                t.replace(at, 1, "\r\n");
            out("RESULT far_sdp %d %d", co->index, harness_read_far_sdp(co, t));
        } else {
            // The channel operations call control starts media with, as
            // the daemon's start installs them.
            media_start_hooks m = {};
            m.call_msp_setup_voice_channel = call_msp_setup_voice_channel;
            media_start_set_hooks(&m);
            out("RESULT start %d %d", co->index, _start_channel_processing(co));
        }
    } else if (!call_operation(w, lock_override)) {
        out("ERR unknown command %s", c.c_str());
    }
}

void setup_application()
{
    application_create();
    init_locks();
    cm_init();
    init_default_call_configuration();
    create_call_object_pools(CALLS);
    gp->analog_info = (analog_port_info *)calloc(1, sizeof(analog_port_info));
    gp->experimental_options = (experimental_options *)calloc(1, sizeof(experimental_options));
    gp->rtp_ports = (RTP_ports *)calloc(1, sizeof(RTP_ports));
    snprintf(gp->netconf.host_ip_lan, sizeof gp->netconf.host_ip_lan, "%s", "10.0.0.1");
    snprintf(gp->dummy_rtp_address, sizeof gp->dummy_rtp_address, "%s", "127.0.0.1");
    gp->dummy_rtp_port = 9;
    for (sip_stack &s : stacks)
        s.tos_rtp = 160;
    timer_new();
}

void free_application()
{
    for (int i = 0; i < CALLS; i++) {
        call_object *co = gp->operations[i];
        if (co->rtp_stat_timer)
            timer_remove(co->rtp_stat_timer);
        co->rtp_stat_timer = nullptr;
        if (co->fxo_alerting_ended_timer)
            timer_remove(co->fxo_alerting_ended_timer);
        co->fxo_alerting_ended_timer = nullptr;
    }
    timer_exit();
    for (int i = 0; i < 2 * CALLS; i++) {
        free_crypto_settings(gp->sip_call_legs[i]->crypto);
        gp->sip_call_legs[i]->crypto = nullptr;
    }
    free_tone_list(gp->tonelist);
    free(gp->analog_info);
    // The pool goes first: its listing reads the options.
    gp->tdm_map.timeslot_size = 0;
    init_transcoding_timeslots_array();
    free(gp->experimental_options);
    gp->experimental_options = nullptr;
    free(gp->rtp_ports);
    gp->rtp_ports = nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    int level = 9;
    for (int i = 1; i + 1 < argc; i++)
        if (strcmp(argv[i], "--loglevel") == 0)
            level = atoi(argv[++i]);
    log_levels_debug_enabled = 1;
    log_levels_message_enabled = 1;
    for (int m = 0; m < MODULECOUNT; m++) {
        log_set_loglevel_debug(log_levels_debug, m, m == TARN || m == MSP || m == SIP ? level : 0);
        log_set_loglevel_message(m, 9);
    }
    log_set_log_handler_debug(on_debug);
    log_set_log_handler_message(on_message);

    main_thread = pthread_self();
    setup_application();
    install_hooks(true);
    const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    if (msp_init_interface("lo", mac) != 0 || msp_init_lib(on_msp_event, format_context) != 0) {
        out("ERR media processor link");
        return 1;
    }
    cman->msplib_initializing = 0;
    out("READY");

    std::string line;
    char buf[4096];
    while (fgets(buf, sizeof buf, stdin)) {
        std::istringstream in(buf);
        std::vector<std::string> w;
        for (std::string t; in >> t;)
            w.push_back(t);
        if (!w.empty() && w[0] == "quit")
            break;
        if (!w.empty() && w[0] == "wait") {
            wait_queue(); // the dispatcher may need global_lock meanwhile
            continue;
        }
        if (!w.empty() && w[0] == "tonedet") {
            indicate_tone(w); // the same
            continue;
        }
        if (!w.empty() && w[0] == "indicate") {
            indicate(w); // the same
            continue;
        }
        if (!w.empty() && w[0] == "stats") {
            stats_query(w); // the same
            continue;
        }
        if (!w.empty() && (w[0] == "rtcp" || w[0] == "rtp_stall" || w[0] == "rtp_feed")) {
            rtcp_query(w); // the same
            continue;
        }
        if (!w.empty() && w[0] == "events") {
            msp_init_lib(on_msp_event_callctl, nullptr);
            continue;
        }
        if (!w.empty() && w[0] == "heartbeat") {
            magic_csm q = create_query_csm_msg(FC_SUPVSR_DEVICE_STATUS_QUERY, CSM_CLASS_DEVICE, CSM_TYPE_QUERY,
                                               ++gp->msp_counter);
            out("RESULT heartbeat 0 %d", _msp_queue_command(q, MSP_ADDRESS_DEVICE, nullptr, 1, 1, __FILE__, __func__, __LINE__));
            continue;
        }
        pthread_mutex_lock(g_lock_manager->global_lock);
        run(w, -1);
        pthread_mutex_unlock(g_lock_manager->global_lock);
    }
    wait_queue();
    msp_stop_lib();
    free_application();
    out("END");
    return 0;
}
