// DTMF digits, in-call feature codes, flash-hook and the timed play-out of
// buffered digits.
#include "dtmf.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analogctl.h"
#include "application.h"
#include "call_configuration.h"
#include "call_info.h"
#include "call_lookups.h"
#include "call_object.h"
#include "log.h"
#include "media_callctl.h"
#include "media_relay.h"
#include "pools.h"
#include "sip_headers.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "timer.h"
#include "xdv_headers.h"

namespace {

const statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};

// ---- hooks -----------------------------------------------------------------------

void said_once(std::atomic<bool> &said, const char *what, const char *owner)
{
    if (!said.exchange(true))
        LOGD(TARN, 1, nullptr, "CRITICAL: %s not built (%s), nothing sent", what, owner);
}

void analog_event_not_built(call_object *, int, int)
{
    static std::atomic<bool> said{false};
    said_once(said, "verbose_analog_send_event", "analog call control");
}

int cas_flush_not_built(call_object *)
{
    static std::atomic<bool> said{false};
    said_once(said, "process_cas_e1_flush_buffer", "CAS call control");
    return -1;
}

const dtmf_line_hooks unfilled_line = {analog_event_not_built, cas_flush_not_built};
dtmf_line_hooks line = unfilled_line;

const dtmf_senders real_senders = {send_dtmf_to_sip, send_inband_dtmf};
dtmf_senders senders = real_senders;

// ---- small pieces ----------------------------------------------------------------

bool is_valid_code(int code) { return code >= 0 && code <= 15; }

bool from_line_side(int ci) { return ci == CI_ISDN_TO_SIP || ci == CI_ANALOG_TO_SIP; }
bool from_sip_side(int ci) { return ci == CI_SIP_TO_ISDN || ci == CI_SIP_TO_ANALOG; }

// The party a digit belongs to: 'f' the calling party, 't' the called
// party, 0 on calls without feature codes.
char party_of(const call_object *co, int tonedir)
{
    bool from_tdm = tonedir == DTMF_FROM_TDM;
    if (from_line_side(co->callinfo))
        return from_tdm ? 'f' : 't';
    if (from_sip_side(co->callinfo))
        return from_tdm ? 't' : 'f';
    return 0;
}

char *party_buffer(call_object *co, char party)
{
    return party == 'f' ? co->cc.feature_codes.fbuffer : co->cc.feature_codes.tbuffer;
}

kv_timer *&party_timer(call_object *co, char party)
{
    return party == 'f' ? co->feature_code_f_timer : co->feature_code_t_timer;
}

// A call timer of ms milliseconds (at least one tick), or null.
kv_timer *arm_ms(int ms, int event)
{
    kv_timer *t = (kv_timer *)calloc(1, sizeof *t);
    if (!t)
        return nullptr;
    if (ms < TIMER_TICK_MS)
        ms = TIMER_TICK_MS;
    t->tv.tv_sec = ms / 1000;
    t->tv.tv_usec = (ms % 1000) * 1000;
    if (timer_add(cb_timer_event, event, t) != 0) {
        free(t);
        return nullptr;
    }
    return t;
}

void set_interval_ms(kv_timer *t, int ms)
{
    if (t)
        timer_reset_interval(t, ms / 1000, (ms % 1000) * 1000L);
}

// The interval after the character just taken (or about to be played).
int interval_after(const call_object *co, char c)
{
    return c == ';' ? 1000 : dtmf_bounded_interval(co->cc.dtmfinterval);
}

// A digit passed on at once; tdm_ms is the tone length toward the line.
void pass_digit(call_object *co, int tonedir, int code, int tdm_ms)
{
    if (co->callinfo == CI_INTERNAL) {
        // A transcoding buddy: the digit belongs to the call it serves.
        for (int i = 0; gp && i < OPERATIONARRAYSIZE; i++) {
            call_object *owner = gp->operations[i];
            if (owner && owner != co && owner->transcoding_buddy == co) {
                senders.send_dtmf_to_sip(owner, code, co->cc.dtmflen);
                break;
            }
        }
        return;
    }
    if (co->callinfo == CI_SIP_TO_SIP) {
        if (co->transcoding_buddy)
            senders.send_dtmf_to_sip(co->transcoding_buddy, code, co->cc.dtmflen);
        return;
    }
    if (co->cc.rfc2833_dtmf_passthrough && !co->f.got_sip_info_dtmf)
        return; // the media processor relays RTP events itself
    if (tonedir == DTMF_FROM_TDM) {
        if (co->f.feature_code_got_isdn_information_element)
            co->f.feature_code_got_isdn_information_element = 0; // it went out as the element
        else
            senders.send_dtmf_to_sip(co, code, 50);
    } else if (co->f.regenerate_inband_dtmf_to_tdm) {
        char text[2] = {tonedetect_to_ascii(code), '\0'};
        senders.send_inband_dtmf(co, text, TO_TDM, tdm_ms);
    }
}

// The party's held digits toward the other side, its timer stopped.
void flush_party(call_object *co, int tonedir, char party)
{
    char *buf = party_buffer(co, party);
    if (kv_timer *t = party_timer(co, party))
        timer_stop(t);
    if (tonedir == DTMF_FROM_PACKET) {
        _fcbuf_to_flushbuf(DTMF_FLUSH_TO_TDM, co, buf);
    } else if (co->f.feature_code_got_isdn_information_element) {
        buf[0] = '\0';
        co->f.feature_code_got_isdn_information_element = 0;
    } else {
        _fcbuf_to_flushbuf(DTMF_FLUSH_TO_PACKET, co, buf);
    }
}

void start_party_timer(call_object *co, char party)
{
    kv_timer *&t = party_timer(co, party);
    if (t) {
        timer_reset_interval(t, 2, 0);
        return;
    }
    t = arm_ms(2000, party == 'f' ? T_EVENT_FEATURE_TIMER_F : T_EVENT_FEATURE_TIMER_T);
    if (!t)
        LOGD_CALL(TARN, 1, co, "CRITICAL: no feature code timer, digits held until the next one");
}

void matched(call_object *co, char party, int index)
{
    party_buffer(co, party)[0] = '\0';
    if (index >= 0 && index < CC_MAX_FEATURE_CODES) {
        LOGD_CALL(TARN, 5, co, "feature code %s matched", co->cc.feature_codes.ifc_codelist[index]);
        do_fc_event(co, co->cc.feature_codes.ifc_eventlist[index]);
    }
}

// The end-of-dialling task of an FXO or CAS line once nothing is left.
void dialing_finished_if_done(call_object *co, int remaining)
{
    if (remaining)
        return;
    if (co->callinfo == CI_SIP_TO_ANALOG && co->sm_state == SM_ANALOG_FXO_OFFHOOK)
        add_sm_task(co, sm_general(GENERAL_EVENT_ANALOG_FXO_DIALING_FINISHED));
    else if (co->callinfo == CI_SIP_TO_CAS && co->sm_state == SM_CAS_OFFHOOK)
        add_sm_task(co, sm_general(GENERAL_EVENT_CAS_FXO_DIALING_FINISHED));
}

// A code timer's expiry: the held digits go to `dir`, or, when they came
// as an ISDN information element, are dropped with the flag.
void flush_on_expiry(call_object *co, char *buf, int dir)
{
    if (!buf[0])
        return;
    if (dir == DTMF_FLUSH_TO_PACKET && co->f.feature_code_got_isdn_information_element) {
        co->f.feature_code_got_isdn_information_element = 0;
        buf[0] = '\0';
        return;
    }
    _fcbuf_to_flushbuf(dir, co, buf);
}

} // namespace

// ---- tone codes ------------------------------------------------------------------

char tonedetect_to_ascii(int code)
{
    static const char chars[] = "0123456789*#ABCD";
    return is_valid_code(code) ? chars[code] : (char)255;
}

int ascii_to_tonedetect(char c)
{
    int v = convert_char_to_sipinfo_val(c); // the digits, '*' and '#'
    if (v >= 0)
        return v;
    if (c >= 'A' && c <= 'D')
        return 12 + (c - 'A');
    if (c >= 'a' && c <= 'd')
        return 12 + (c - 'a');
    return -1;
}

int dtmf_bounded_interval(int dtmfinterval)
{
    return dtmfinterval < 20 ? 20 : dtmfinterval > 990 ? 990 : dtmfinterval;
}

// ---- flags -----------------------------------------------------------------------

int set_dtmf_generation_and_filter_options(call_object *co)
{
    if (!co || !co->dp)
        return -1;
    const feature_code_def &fc = co->cc.feature_codes;
    bool from_sip = (co->callinfo & 2) != 0; // every CI_SIP_TO_* kind
    co->f.can_get_feature_code_from_tdm = 0;
    co->f.can_get_feature_code_from_packet = 0;
    int n = fc.size < 0 ? 0 : fc.size > CC_MAX_FEATURE_CODES ? CC_MAX_FEATURE_CODES : fc.size;
    for (int i = 0; i < n; i++) {
        char d = fc.ifc_direction[i];
        if (d == 'b') {
            co->f.can_get_feature_code_from_tdm = 1;
            co->f.can_get_feature_code_from_packet = 1;
            break;
        }
        if (d == 'f' || d == 't') {
            bool packet = (d == 'f') == from_sip;
            if (packet)
                co->f.can_get_feature_code_from_packet = 1;
            else
                co->f.can_get_feature_code_from_tdm = 1;
        }
    }
    // dtmfremoval: filter from TDM, filter from packet, regenerate to packet
    // (regeneration toward TDM is switched on by those who need it).
    struct row {
        int filter_tdm, filter_packet, regen_packet;
    };
    static const row rows[] = {{1, 1, 1}, {1, 0, 1}, {0, 1, 0}, {0, 0, 1}};
    int mode = co->cc.dtmfremoval;
    const row &r = rows[mode >= 0 && mode <= 2 ? mode : 3];
    bool mode1 = cc_get_dtmfmode_of_active_sipleg(co) == 1;
    co->f.filter_inband_dtmf_from_tdm = r.filter_tdm;
    co->f.filter_inband_dtmf_from_packet = r.filter_packet;
    co->f.regenerate_inband_dtmf_to_tdm = 0;
    co->f.regenerate_inband_dtmf_to_packet = r.regen_packet && !mode1;
    return 0;
}

// ---- feature codes ---------------------------------------------------------------

int check_featurecode(int tonedir, call_object *co, int tonedetect_value, int *index_out)
{
    if (!co || !is_valid_code(tonedetect_value))
        return FC_NONE;
    feature_code_def &fc = co->cc.feature_codes;
    int n = fc.size > CC_MAX_FEATURE_CODES ? CC_MAX_FEATURE_CODES : fc.size;
    char party = n > 0 ? party_of(co, tonedir) : 0;
    if (!party)
        return FC_NONE;
    auto ours = [&](int i) { return fc.ifc_direction[i] == party || fc.ifc_direction[i] == 'b'; };
    bool any = false;
    for (int i = 0; i < n && !any; i++)
        any = ours(i);
    if (!any)
        return FC_NONE;
    char *buf = party_buffer(co, party);
    size_t len = strnlen(buf, sizeof fc.fbuffer);
    if (len < sizeof fc.fbuffer - 1) {
        buf[len] = tonedetect_to_ascii(tonedetect_value);
        buf[len + 1] = '\0';
    }
    bool calling = party == 'f';
    for (int i = 0; i < n; i++) {
        if (ours(i) && strcmp(fc.ifc_codelist[i], buf) == 0) {
            if (index_out)
                *index_out = i;
            buf[0] = '\0';
            return calling ? FC_MATCH_F : FC_MATCH_T;
        }
    }
    size_t held = strlen(buf);
    for (int i = 0; i < n; i++)
        if (ours(i) && strncmp(fc.ifc_codelist[i], buf, held) == 0)
            return calling ? FC_WAIT_F : FC_WAIT_T;
    return calling ? FC_FLUSH_F : FC_FLUSH_T;
}

void do_fc_event(call_object *co, int event)
{
    if (!co)
        return;
    switch (event) {
    case IFC_MCID:
        if (co->bc)
            _send_mcid(co);
        else
            LOGD_CALL(TARN, 3, co, "feature code MCID on a call without B-channel, ignored");
        break;
    case IFC_AFH:
        if (co->callinfo == CI_SIP_TO_ANALOG || co->callinfo == CI_ANALOG_TO_SIP)
            line.verbose_analog_send_event(co, co->analog_port & ~0x800, ANALOG_EVENT_FLASHHOOK);
        else
            LOGD_CALL(TARN, 3, co, "feature code flash-hook on a call without analog port, ignored");
        break;
    default:
        break;
    }
}

void process_dtmf(int tonedir, call_object *co, int tonedetect_value)
{
    if (!co)
        return;
    if (!is_valid_code(tonedetect_value)) {
        LOGD_CALL(TARN, 3, co, "DTMF value %i is no digit, ignored", tonedetect_value);
        return;
    }
    int index = -1;
    int r = check_featurecode(tonedir, co, tonedetect_value, &index);
    LOGD_CALL(TARN, 5, co, "DTMF %c from %s: feature code step %i", tonedetect_to_ascii(tonedetect_value),
              tonedir == DTMF_FROM_TDM ? "TDM" : "packet", r);
    feature_code_def &fc = co->cc.feature_codes;
    if (co->cc.rfc2833_dtmf_passthrough || !co->cc.feature_codes_silent) {
        pass_digit(co, tonedir, tonedetect_value, co->cc.dtmflen);
        switch (r) {
        case FC_FLUSH_F: fc.fbuffer[0] = '\0'; break;
        case FC_FLUSH_T: fc.tbuffer[0] = '\0'; break;
        case FC_MATCH_F: matched(co, 'f', index); break;
        case FC_MATCH_T: matched(co, 't', index); break;
        default: break;
        }
        return;
    }
    switch (r) {
    case FC_NONE: pass_digit(co, tonedir, tonedetect_value, 50); break;
    case FC_FLUSH_F: flush_party(co, tonedir, 'f'); break;
    case FC_FLUSH_T: flush_party(co, tonedir, 't'); break;
    case FC_WAIT_F: start_party_timer(co, 'f'); break;
    case FC_WAIT_T: start_party_timer(co, 't'); break;
    case FC_MATCH_F:
        if (co->feature_code_f_timer)
            timer_stop(co->feature_code_f_timer);
        matched(co, 'f', index);
        break;
    case FC_MATCH_T:
        if (co->feature_code_t_timer)
            timer_stop(co->feature_code_t_timer);
        matched(co, 't', index);
        break;
    default: break;
    }
}

// ---- play-out --------------------------------------------------------------------

int process_dtmf_flush_buffer(call_object *co, char *taken)
{
    if (taken)
        *taken = '\0';
    if (!co)
        return 0;
    char *buf = co->feature_code_flush_buffer;
    char *dir = co->feature_code_flush_buffer_dir;
    size_t len = strnlen(buf, sizeof co->feature_code_flush_buffer);
    if (len == 0)
        return 0;
    char c = buf[0];
    char mark = dir[0];
    memmove(buf, buf + 1, len); // with the terminator
    size_t dlen = strnlen(dir, sizeof co->feature_code_flush_buffer_dir);
    if (dlen > 0)
        memmove(dir, dir + 1, dlen);
    if (taken)
        *taken = c;
    int code = ascii_to_tonedetect(c);
    if (code >= 0) {
        if (mark == 't') {
            if (co->f.regenerate_inband_dtmf_to_tdm) {
                char text[2] = {(char)(c >= 'a' && c <= 'd' ? c - 'a' + 'A' : c), '\0'};
                senders.send_inband_dtmf(co, text, TO_TDM, co->cc.dtmflen);
            }
        } else if (mark == 'p') {
            senders.send_dtmf_to_sip(co, code, co->cc.dtmflen);
        }
    }
    return buf[0] != '\0';
}

int _fcbuf_to_flushbuf(int dir, call_object *co, char *buffer)
{
    if (!co || !buffer)
        return 0;
    bool created = false;
    if (!co->feature_code_flush_timer) {
        co->feature_code_flush_timer = arm_ms(100, T_EVENT_FEATURE_TIMER_FLUSH);
        created = co->feature_code_flush_timer != nullptr;
    }
    char *fb = co->feature_code_flush_buffer;
    char *fd = co->feature_code_flush_buffer_dir;
    // Both buffers stay in step: the shorter length counts.
    size_t len = strnlen(fb, DTMF_FLUSH_BUFFER_MAX);
    size_t dlen = strnlen(fd, DTMF_FLUSH_BUFFER_MAX);
    if (dlen < len)
        len = dlen;
    size_t add = strlen(buffer);
    size_t room = DTMF_FLUSH_BUFFER_MAX - len;
    if (add > room) {
        LOGD_CALL(TARN, 1, co, "CRITICAL: DTMF play-out buffer full, %zu of %zu digits dropped", add - room, add);
        add = room;
    }
    memcpy(fb + len, buffer, add);
    memset(fd + len, dir == DTMF_FLUSH_TO_TDM ? 't' : 'p', add);
    fb[len + add] = '\0';
    fd[len + add] = '\0';
    buffer[0] = '\0';
    if (!created)
        return 0;
    set_interval_ms(co->feature_code_flush_timer, interval_after(co, fb[0]));
    int remaining = process_dtmf_flush_buffer(co);
    dialing_finished_if_done(co, remaining);
    return remaining;
}

SM_ACTION(sm_call_fcf_buffer_to_flashbuf)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    flush_on_expiry(co, co->cc.feature_codes.fbuffer,
                    co->callinfo == CI_SIP_TO_ISDN ? DTMF_FLUSH_TO_TDM : DTMF_FLUSH_TO_PACKET);
    return ROW;
}

SM_ACTION(sm_call_fct_buffer_to_flashbuf)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    flush_on_expiry(co, co->cc.feature_codes.tbuffer,
                    co->callinfo == CI_SIP_TO_ISDN ? DTMF_FLUSH_TO_PACKET : DTMF_FLUSH_TO_TDM);
    return ROW;
}

SM_ACTION(sm_call_flush_dtmf_digit)
{
    (void)arg, (void)event;
    call_object *co = (call_object *)p;
    uint32_t st = (uint32_t)state;
    char taken = '\0';
    if (co->callinfo == CI_SIP_TO_ANALOG && st == SM_ANALOG_FXO_OFFHOOK) {
        if (!process_dtmf_flush_buffer(co, &taken))
            add_sm_task(co, sm_general(GENERAL_EVENT_ANALOG_FXO_DIALING_FINISHED));
    } else if (co->callinfo == CI_SIP_TO_CAS && st == (uint32_t)SM_CAS_MF_SIGNALLING) {
        taken = co->feature_code_flush_buffer[0];
        if (line.process_cas_e1_flush_buffer(co) == 0)
            add_sm_task(co, sm_general(GENERAL_EVENT_CAS_FXO_DIALING_FINISHED));
    } else if (co->callinfo == CI_SIP_TO_CAS && st == SM_CAS_OFFHOOK) {
        if (!process_dtmf_flush_buffer(co, &taken))
            add_sm_task(co, sm_general(GENERAL_EVENT_CAS_FXO_DIALING_FINISHED));
    } else {
        process_dtmf_flush_buffer(co, &taken);
    }
    set_interval_ms(co->feature_code_flush_timer, interval_after(co, taken));
    return ROW;
}

// ---- detector tuning and MFC/R2 ----------------------------------------------------

void parse_dtmf_tune_params(const char *text, int *frequency_deviation, int *negative_twist, int *positive_twist,
                            int *minimum_level_threshold, int *snr_threshold_adjustment, int *dtmf_control)
{
    int *out[6] = {frequency_deviation, negative_twist,           positive_twist,
                   minimum_level_threshold, snr_threshold_adjustment, dtmf_control};
    static const int defaults[6] = {18, 80, 40, 320, 0, 6};
    for (int i = 0; i < 6; i++)
        if (out[i])
            *out[i] = defaults[i];
    char work[32];
    snprintf(work, sizeof work, "%s", text ? text : "");
    char *field = work;
    for (int i = 0; i < 6 && field; i++) {
        char *colon = strchr(field, ':');
        if (colon)
            *colon = '\0';
        char *end = nullptr;
        long v = strtol(field, &end, 10);
        if (end != field && *end == '\0' && out[i] && v >= INT32_MIN && v <= INT32_MAX)
            *out[i] = (int)v;
        field = colon ? colon + 1 : nullptr;
    }
}

int cas_e1_forward_signal(char digit)
{
    if (digit >= '1' && digit <= '9')
        return 10 + (digit - '0'); // I-1 .. I-9
    switch (digit) {
    case '0': return 20; // I-10
    case ':': return 25; // I-15, end of pulsing
    case 'f': return 14;
    default: return 0;
    }
}

void send_cas_e1_digit_to_tdm(call_object *co, char digit, int duration)
{
    if (!co || !co->f.regenerate_inband_dtmf_to_tdm)
        return;
    int signal = cas_e1_forward_signal(digit);
    if (!signal) {
        LOGD_CALL(CAS, 3, co, "no MFC/R2 forward signal for '%c', nothing sent", digit);
        return;
    }
    if (!media_callctl().send_mfcr2_tone) {
        static std::atomic<bool> said{false};
        said_once(said, "send_mfcr2_tone", "CAS call control");
        return;
    }
    media_callctl().send_mfcr2_tone(co, 3, signal, duration);
}

// ---- wiring ----------------------------------------------------------------------

void dtmf_set_line_hooks(const dtmf_line_hooks *hooks)
{
    if (!hooks) {
        line = unfilled_line;
        return;
    }
    if (hooks->verbose_analog_send_event)
        line.verbose_analog_send_event = hooks->verbose_analog_send_event;
    if (hooks->process_cas_e1_flush_buffer)
        line.process_cas_e1_flush_buffer = hooks->process_cas_e1_flush_buffer;
}

void dtmf_set_senders(const dtmf_senders *s)
{
    senders = s ? *s : real_senders;
    if (!senders.send_dtmf_to_sip)
        senders.send_dtmf_to_sip = real_senders.send_dtmf_to_sip;
    if (!senders.send_inband_dtmf)
        senders.send_inband_dtmf = real_senders.send_inband_dtmf;
}

void dtmf_install()
{
    media_callctl_iface m{};
    m.process_dtmf = process_dtmf;
    m.tonedetect_to_ascii = tonedetect_to_ascii;
    m.parse_dtmf_tune_params = parse_dtmf_tune_params;
    media_set_callctl_iface(&m);
    cc_callctl_hooks c{};
    c.set_dtmf_generation_and_filter_options = set_dtmf_generation_and_filter_options;
    cc_set_callctl_hooks(&c);
}
