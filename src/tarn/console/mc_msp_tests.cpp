// Bench and production-test console commands of the media processor:
// timeslots to RTP, bridged timeslots, call loops over fresh timeslots, tone
// tests, voice restart, SRTP statistics and the firmware version. They run in
// the console thread; the test call objects are reachable by no real call.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_info.h"
#include "call_reset.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "global_lock.h"
#include "isdn_lib.h"
#include "line_bringup.h"
#include "mc_listings.h"
#include "mc_msp_tests.h"
#include "media_callctl.h"
#include "media_start.h"
#include "media_tdm.h"
#include "media_voice.h"
#include "msp_queue.h"
#include "msp_timeslot.h"
#include "pools.h"
#include "isdn_events.h"
#include "rtp_ports.h"
#include "sm_defs.h"
#include "state_names.h"
#include "state_tables.h"
#include "t1e1casctl.h"
#include "tones.h"

// The "t1t" calls, taken once and kept.
call_object *t1_co1 = nullptr;
call_object *t1_co2 = nullptr;
int ttpo = 50000;

// The legs of the "lk" CAS pair point here: a fixed private address.
static const char LK_TEST_ADDRESS[] = "192.168.254.254";

enum { TEST_CODEC_PCMA = 8, MC_TIMESLOT_LAST = 511 };

int mc_parse_timeslot(const char *text)
{
    if (!text || !*text || strlen(text) > 3)
        return -1;
    for (const char *p = text; *p; p++)
        if (!isdigit((unsigned char)*p))
            return -1;
    int ts = atoi(text);
    return ts <= MC_TIMESLOT_LAST ? ts : -1;
}

// A timeslot field the media processor has, or the refusal line.
static bool timeslot_ok(const char *text, int *ts, FILE *out)
{
    *ts = mc_parse_timeslot(text);
    if (*ts < 0)
        fprintf(out, "invalid timeslot %s\n", text);
    return *ts >= 0;
}

static int state_of(const call_object *co)
{
    return co && co->sm ? statemachine_get_state(co->sm) : 0;
}

static void reset_test_call(call_object *&slot)
{
    lock_hold hold(&lock_manager::global_lock);
    reset_op(slot);
    slot = nullptr;
}

// The two test calls go back to the pool, each announced ("callinfo" lines
// with the kind when asked).
static void cleanup_test_calls(FILE *out, bool with_kind)
{
    if (!gp)
        return;
    if (gp->test_co) {
        fputs("cleaning up test co 1\n", out);
        if (with_kind)
            fprintf(out, "callinfo %s\n", print_callinfo(gp->test_co->callinfo));
        reset_test_call(gp->test_co);
    }
    if (gp->test_co2) {
        fputs("cleaning up test co 2\n", out);
        if (with_kind)
            fprintf(out, "callinfo2 %s\n", print_callinfo(gp->test_co2->callinfo));
        reset_test_call(gp->test_co2);
    }
}

// The call's SIP leg (a new one from the pool when it has none, as both its
// leg and its outgoing leg), pointed at ip:port with PCMA, and a local port.
static call_leg_sip *give_test_leg(call_object *co, const char *ip, int port, int codec)
{
    call_leg_sip *leg = co->cl_sip;
    if (!leg) {
        leg = get_new_sip_call_leg();
        if (!leg)
            return nullptr;
        co->cl_sip = co->cl_sip_out = leg;
    }
    update_rtp_port(co, leg);
    leg->using_payload = leg->using_codec = codec;
    snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%.63s", ip);
    leg->rtp_remote_port = port;
    return leg;
}

typedef statemachine *(*machine_ctor)(void *priv, int state, statemachine_send_event send_event);

// A free call object of the given kind with its machine in `state` on
// timeslot ts; null when the pool is empty.
static call_object *take_test_call(int kind, machine_ctor ctor, int state, int ts)
{
    call_object *co = get_free_operation_handle(1);
    if (!co)
        return nullptr;
    co->callinfo = kind;
    co->sm = ctor(co, state, tarn_send_event);
    co->sm_state = (uint32_t)state;
    co->tdm_logical_timeslot = ts;
    return co;
}

static void setup_voice(call_object *co)
{
    lock_hold hold(&lock_manager::global_lock);
    call_msp_setup_voice_channel(co, 1);
}

int mc_tarn_test_msp(const char *arg, FILE *out, int *)
{
    if (!gp)
        return 0;
    std::vector<std::string> f = mc_split_fields(arg, 6);
    bool second = f.size() > 1 && f[0] == "1";
    call_object *&slot = second ? gp->test_co2 : gp->test_co;
    const char *ts_text = f.size() > 1 ? f[1].c_str() : "";
    const char *ip = f.size() > 2 ? f[2].c_str() : "";
    const char *port = f.size() > 3 ? f[3].c_str() : "";
    int ts = -1;
    if (f.size() > 3 && !timeslot_ok(ts_text, &ts, out))
        return 0;
    fputs(second ? "Using Test Call Object 2\n" : "Using Test Call Object 1\n", out);
    if (slot) {
        fputs("stopping active msp test\n", out);
        reset_test_call(slot);
    }
    fprintf(out, "parsed: timeslot %s: ip %s rtpport %s\n", ts_text, ip, port);
    if (f.size() < 4) {
        fputs("not starting test, insufficient data\n", out);
        return 0;
    }
    int codec = f.size() > 4 ? atoi(f[4].c_str()) : TEST_CODEC_PCMA;
    lock_hold hold(&lock_manager::global_lock);
    call_object *co = take_test_call(CI_ISDN_TO_SIP, create_statemachine_isdn_to_sip, 0x20000, ts);
    if (!co) {
        fputs("not starting test, no call object\n", out);
        return 0;
    }
    slot = co;
    call_leg_sip *leg = give_test_leg(co, ip, atoi(port), codec);
    int isdn_port = 0, channel = 0;
    if (get_port_and_channel_from_logical_timeslot(ts, &isdn_port, &channel) == 0 && isdn_port < 100) {
        co->bc = misdn_lib_get_free_bc(isdn_port, channel, 0, 0, 0);
        if (co->bc)
            manager_bchannel_activate(co->bc);
    }
    fprintf(out, "starting msp test, logical timeslot %i, remote ip %s, remote port %i local port %i codec %i\n", ts,
            ip, atoi(port), leg ? leg->rtp_local_port : 0, codec);
    call_msp_setup_voice_channel(co, 1);
    return 0;
}

static void stop_test_call(call_object *&slot)
{
    if (!slot)
        return;
    lock_hold hold(&lock_manager::global_lock);
    if (slot->bc)
        manager_bchannel_deactivate(slot->bc);
    reset_op(slot);
    slot = nullptr;
}

int mc_tarn_teststop_msp(const char *, FILE *, int *)
{
    if (gp) {
        stop_test_call(gp->test_co);
        stop_test_call(gp->test_co2);
    }
    return 0;
}

// A test call toward the local dummy RTP port with its voice channel.
static call_object *dummy_rtp_call(int kind, machine_ctor ctor, int ts)
{
    lock_hold hold(&lock_manager::global_lock);
    call_object *co = take_test_call(kind, ctor, SM_CALL_ACTIVE, ts);
    if (co)
        give_test_leg(co, "127.0.0.1", gp->dummy_rtp_port, TEST_CODEC_PCMA);
    return co;
}

int mc_tarn_call_tdm(const char *arg, FILE *out, int *)
{
    if (!gp)
        return 0;
    bool clean_only = arg[0] == 'x' || arg[0] == '-';
    int ts = -1;
    if (!clean_only && !timeslot_ok(arg, &ts, out))
        return 0;
    cleanup_test_calls(out, false);
    if (clean_only)
        return 0;
    gp->test_co = dummy_rtp_call(CI_SIP_TO_ANALOG, create_statemachine_isdn_to_sip, ts);
    if (gp->test_co)
        setup_voice(gp->test_co);
    return 0;
}

int mc_tarn_bridge_timeslots(const char *arg, FILE *out, int *)
{
    if (!gp)
        return 0;
    std::vector<std::string> f = mc_split_fields(arg, 2);
    int t1 = -1, t2 = -1;
    if (f.size() == 2 && (!timeslot_ok(f[0].c_str(), &t1, out) || !timeslot_ok(f[1].c_str(), &t2, out)))
        return 0;
    cleanup_test_calls(out, false);
    if (f.size() < 2) {
        fputs("please pass two timeslots\n", out);
        return 0;
    }
    if (t1 == t2) {
        fprintf(out, "timeslots %i and %i are equal, not bridging\n", t1, t2);
        return 0;
    }
    fprintf(out, "using logical timeslots %i and %i\n", t1, t2);
    gp->test_co = dummy_rtp_call(CI_ANALOG_TO_SIP, create_statemachine_isdn_to_sip, t1);
    gp->test_co2 = dummy_rtp_call(CI_SIP_TO_ANALOG, create_statemachine_sip_to_isdn, t2);
    if (!gp->test_co || !gp->test_co2) {
        fputs("not enough call objects\n", out);
        return 0;
    }
    setup_voice(gp->test_co);
    setup_voice(gp->test_co2);
    fputs("bridging timeslots\n", out);
    lock_hold hold(&lock_manager::global_lock);
    bridge_tdm(gp->test_co, gp->test_co2);
    return 0;
}

// One of the "lk" pair: the first machine in SM_CALL_ACTIVE, then the CAS
// machine with state bit 21.
static call_object *cas_test_call(int kind, machine_ctor first, machine_ctor cas, int ts, int cas_port, int rport)
{
    lock_hold hold(&lock_manager::global_lock);
    call_object *co = take_test_call(kind, first, SM_CALL_ACTIVE, ts);
    if (!co)
        return nullptr;
    statemachine_destroy(co->sm);
    co->sm = cas(co, 1 << 21, tarn_send_event);
    co->sm_state = 1u << 21;
    co->cas_port = cas_port;
    give_test_leg(co, LK_TEST_ADDRESS, rport, TEST_CODEC_PCMA);
    return co;
}

int mc_tarn_redirect_two_timeslots(const char *arg, FILE *out, int *)
{
    if (!gp)
        return 0;
    fputs("redirect_two_timeslots\n", out);
    cleanup_test_calls(out, true);
    cas_passthrough = 1;
    if (arg[0] == 'x')
        return 0;
    gp->test_co = cas_test_call(CI_CAS_TO_SIP, create_statemachine_fxo_to_sip, create_statemachine_cas_fxo_to_sip, 0,
                                1, 11002);
    gp->test_co2 = cas_test_call(CI_SIP_TO_CAS, create_statemachine_sip_to_fxs, create_statemachine_sip_to_cas_fxs, 1,
                                 32, 11000);
    lock_hold hold(&lock_manager::global_lock);
    for (call_object *co : {gp->test_co, gp->test_co2}) {
        if (!co)
            continue;
        if (strcmp(arg, "1") == 0)
            call_msp_setup_voice_channel(co, 1);
        else
            call_msp_setup_mf_channel(co, 1);
    }
    return 0;
}

// The pool grows to four objects: each new object is whole before the size
// that makes it reachable is raised.
static void grow_pool_to_four()
{
    lock_hold hold(&lock_manager::global_lock);
    if (OPERATIONARRAYSIZE >= 4)
        return;
    for (int i = OPERATIONARRAYSIZE; i < 4; i++) {
        if (!gp->operations[i]) {
            call_object *co = (call_object *)calloc(1, sizeof(call_object));
            if (!co)
                return;
            init_call_object(co, i);
            gp->operations[i] = co;
        }
    }
    __atomic_store_n(&OPERATIONARRAYSIZE, 4, __ATOMIC_RELEASE);
}

static call_object *t1_test_call()
{
    lock_hold hold(&lock_manager::global_lock);
    call_object *co = take_test_call(CI_ANALOG_TO_SIP, create_statemachine_fxs_to_sip, 0x10000, -1);
    return co;
}

static void t1_leg(call_object *co, int ts, int local, int remote)
{
    co->tdm_logical_timeslot = ts;
    call_leg_sip *leg = give_test_leg(co, "127.0.0.1", remote, TEST_CODEC_PCMA);
    if (leg)
        leg->rtp_local_port = local;
    co->f.start_streaming = 1;
}

int mc_util_t1_bridge_test(const char *arg, FILE *out, int *)
{
    if (!gp)
        return 0;
    grow_pool_to_four();
    call_object *c0 = mc_call_at(0), *c1 = mc_call_at(1);
    if (!c0 || state_of(c0) != SM_CALL_ACTIVE) {
        fputs("No active call on index 0\n", out);
        return 0;
    }
    if (!c1 || state_of(c1) != SM_CALL_ACTIVE) {
        fputs("No active call on index 1\n", out);
        return 0;
    }
    std::vector<std::string> f = mc_split_fields(arg, 2);
    if (f.size() < 2) {
        fputs("Please pass two timeslots in form X:Y\n", out);
        return 0;
    }
    int x, y;
    if (!timeslot_ok(f[0].c_str(), &x, out) || !timeslot_ok(f[1].c_str(), &y, out))
        return 0;
    if (!t1_co1 && !(t1_co1 = t1_test_call())) {
        fputs("Couldn't allocate CO1\n", out);
        return 0;
    }
    if (!t1_co2 && !(t1_co2 = t1_test_call())) {
        fputs("Couldn't allocate CO2\n", out);
        return 0;
    }
    lock_hold hold(&lock_manager::global_lock);
    for (call_object *t : {t1_co1, t1_co2})
        if (t->tdm_logical_timeslot != -1) {
            media_callctl().call_stop_rtp(t, 1);
            t->tdm_logical_timeslot = -1;
        }
    for (call_object *co : {c0, c1, gp->test_co, gp->test_co2})
        if (co)
            media_callctl().call_stop_rtp(co, 1);
    call_msp_setup_voice_channel(c0, 1);
    call_msp_setup_voice_channel(c1, 1);
    printf("i1 %i i2 %i\n", get_index_of_operation(t1_co1), get_index_of_operation(t1_co2));
    t1_leg(t1_co1, x, ttpo, ttpo + 2);
    t1_leg(t1_co2, y, ttpo + 1, ttpo + 3);
    ttpo += 4;
    call_msp_setup_voice_channel(t1_co1, 1);
    call_msp_setup_voice_channel(t1_co2, 1);
    fprintf(out, "Bridging co1 with ts %i to ts %i\n", c0->tdm_logical_timeslot, x);
    fprintf(out, "Bridging co2 with ts %i to ts %i\n", c1->tdm_logical_timeslot, y);
    bridge_tdm(c0, t1_co1);
    bridge_tdm(c1, t1_co2);
    return 0;
}

static bool is_tone_section(const char *code)
{
    for (const tone_config_set *s = gp && gp->tonelist ? gp->tonelist->first : nullptr; s; s = s->list)
        if (s->language_code && strcasecmp(s->language_code, code) == 0)
            return true;
    return false;
}

int mc_isdn_test_tone(const char *arg, FILE *out, int *)
{
    if (!gp)
        return 0;
    gp->tonetest = 1;
    static const struct {
        char kind;
        int type;
        const char *line;
    } kinds[] = {{'r', 1, "TESTING RING\n"}, {'b', 2, "TESTING BUSY\n"}, {'c', 3, "TESTING CONGESTION\n"},
                 {'d', 0, "TESTING DIAL\n"}, {'e', -1, nullptr}};
    int k = -1;
    for (int i = 0; i < (int)(sizeof kinds / sizeof kinds[0]); i++)
        if (arg[0] == kinds[i].kind)
            k = i;
    if (k < 0) {
        fputs("no type given\n", out);
        return 0;
    }
    call_object *c0 = mc_call_at(0), *c1 = mc_call_at(1);
    auto active = [](const call_object *co) {
        return co && co->callinfo != CI_FREE && co->bc && state_of(co) == SM_CALL_ACTIVE;
    };
    if (!active(c0) || !active(c1)) {
        fputs("no active ISDN calls on index 0 and 1\n", out);
        return 0;
    }
    lock_hold hold(&lock_manager::global_lock);
    if (kinds[k].type < 0) {
        call_msp_setup_voice_channel(c1, 1);
        gp->tonetest = 0;
        return 0;
    }
    const char *code = arg + 1;
    // The code is copied into 16-character fields: a longer one is no section.
    if (strlen(code) >= sizeof gp->analog_lang_mapping[0] || !is_tone_section(code)) {
        fprintf(out, "unknown language code |%s|\n", code);
        return 0;
    }
    fputs(kinds[k].line, out);
    static const char *const builtin[] = {"de", "us", "kr", "jp", "tw", "cn"};
    bool known = false;
    for (const char *b : builtin)
        known = known || strcmp(code, b) == 0;
    if (!known) {
        snprintf(gp->analog_lang_mapping[0], sizeof gp->analog_lang_mapping[0], "%s", code);
        set_host_programmable_language_code(gp->analog_lang_mapping[0], 0);
    }
    call_stop_msp_tone(c1, 1);
    call_stop_msp_voice(c1, 1);
    call_start_msp_tone(c1, code, kinds[k].type);
    call_stop_msp_voice(c0, 1);
    snprintf(c0->analog_call_progress_country_code, sizeof c0->analog_call_progress_country_code, "%s", code);
    call_msp_setup_voice_channel(c0, 1);
    return 0;
}

int mc_util_vopena_restart(const char *arg, FILE *out, int *)
{
    int index = mc_arg_int(arg);
    call_object *co = mc_call_at(index);
    if (!co || co->callinfo == CI_FREE || state_of(co) != SM_CALL_ACTIVE) {
        fprintf(out, "No active call on index %i\n", index);
        return 0;
    }
    int payload = co->cl_sip ? co->cl_sip->using_payload : 0;
    magic_csm off = create_default_csm_msg(FC_VOIP_VOPENA, gp->msp_counter++);
    magic_csm on = create_default_csm_msg(FC_VOIP_VOPENA, gp->msp_counter++);
    if (csm_msg_is_null(off) || csm_msg_is_null(on)) {
        delete_csm_msg(off);
        delete_csm_msg(on);
        return 0;
    }
    off.u_csmchan_voip_vopena->channel_mode = 0; // voice stream off; the default record turns it on
    on.u_csmchan_voip_vopena->payload_type = (uint32_t)payload;
    lock_hold hold(&lock_manager::msp_queue_lock);
    msp_command_counter++;
    msp_queue_command_nolock(off, co->tdm_logical_timeslot, co, 0);
    msp_queue_command_nolock(on, co->tdm_logical_timeslot, co, 0);
    msp_command_counter++;
    return 0;
}

int mc_util_srtp_stat(const char *arg, FILE *out, int *)
{
    int index = mc_arg_int(arg);
    call_object *co = mc_call_at(index);
    if (!co || co->callinfo == CI_FREE) {
        fprintf(out, "cannot srtp_stat, couldn't retrieve call object at index %i\n", index);
        return 0;
    }
    if (!(co->msp_state & MSP_STATE_VOICE)) {
        fprintf(out, "cannot srtp_stat, no voice processing active at index %i\n", index);
        return 0;
    }
    magic_csm q = create_query_csm_msg(0, CSM_CLASS_STATS, 24, gp->msp_counter++);
    if (csm_msg_is_null(q))
        return 0;
    lock_hold hold(&lock_manager::msp_queue_lock);
    msp_queue_command_nolock(q, co->tdm_logical_timeslot, co, 0);
    return 0;
}

int mc_tarn_list_msp_firmware(const char *, FILE *out, int *)
{
    if (!gp)
        return 0;
    if (!gp->firmware_version[0]) {
        magic_csm q = create_query_csm_msg(FC_SUPVSR_GET_ARM_CODE_VERSION, CSM_CLASS_DEVICE, CSM_TYPE_QUERY,
                                           gp->msp_counter++);
        if (!csm_msg_is_null(q))
            msp_queue_command(q, MSP_ADDRESS_DEVICE, nullptr, 1, 1); // the handler stores the answer
    }
    fprintf(out, "FIRMWARE VERSION: %.*s\n", (int)sizeof gp->firmware_version, gp->firmware_version);
    return 0;
}

int mc_test_list_msp_timeslots(const char *, FILE *, int *)
{
    msp_list_timeslot_manager(__func__, __LINE__);
    return 0;
}
