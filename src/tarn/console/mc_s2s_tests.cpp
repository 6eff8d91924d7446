// Console tests of the media path of SIP-to-SIP transcoding: a moved
// remote RTP end of one leg (as a re-INVITE would move it), and a
// transcoding test channel set up without SIP signalling.
#include "mc_s2s_tests.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_info.h"
#include "call_reset.h"
#include "call_services.h"
#include "global_lock.h"
#include "mc_listings.h"
#include "media_transcoding.h"
#include "pools.h"
#include "rtp_ports.h"
#include "sip_stack.h"
#include "sm_defs.h"
#include "sm_run.h"
#include "sm_tasks.h"
#include "state_tables.h"

// Fields split at ':' with blanks around each taken off; at most `max`
// (more are counted in *extra).
static std::vector<std::string> trimmed_fields(const char *arg, size_t max, size_t *count)
{
    std::vector<std::string> f;
    std::string s = arg ? arg : "";
    *count = 0;
    for (size_t at = 0;;) {
        size_t c = s.find(':', at);
        std::string v = s.substr(at, c == std::string::npos ? std::string::npos : c - at);
        size_t b = v.find_first_not_of(" \t"), e = v.find_last_not_of(" \t");
        v = b == std::string::npos ? "" : v.substr(b, e - b + 1);
        if (f.size() < max)
            f.push_back(v);
        ++*count;
        if (c == std::string::npos)
            break;
        at = c + 1;
    }
    return f;
}

static bool all_digits(const std::string &s, size_t max_len)
{
    if (s.empty() || s.size() > max_len)
        return false;
    for (char c : s)
        if (!isdigit((unsigned char)c))
            return false;
    return true;
}

static int s2s_usage(FILE *out)
{
    fputs("usage: s2srrtp:<call-index>:<in|out>:<remote-ip>:<remote-port>\n", out);
    fputs("example: s2srrtp:0:out:10.0.0.2:40000\n", out);
    return 0;
}

int mc_s2s_set_reinvite_rtp(const char *arg, FILE *out, int *)
{
    size_t count = 0;
    std::vector<std::string> f = trimmed_fields(arg, 4, &count);
    if (count != 4)
        return s2s_usage(out);
    if (!all_digits(f[0], 9) || atoi(f[0].c_str()) >= OPERATIONARRAYSIZE) {
        fprintf(out, "invalid call index: %s\n", f[0].c_str());
        return s2s_usage(out);
    }
    int port = all_digits(f[3], 5) ? atoi(f[3].c_str()) : 0;
    if (port < 1 || port > 65535) {
        fprintf(out, "invalid remote port: %s\n", f[3].c_str());
        return s2s_usage(out);
    }
    int index = atoi(f[0].c_str());
    lock_hold hold(&lock_manager::global_lock);
    call_object *co = mc_call_at(index);
    if (!co || co->callinfo == CI_FREE) {
        fprintf(out, "Do not have active call on index %i\n", index);
        return 0;
    }
    if (co->callinfo != CI_SIP_TO_SIP || !co->cl_sip_in || !co->cl_sip_out) {
        fprintf(out, "Call on index %i is not a complete SIP-to-SIP call\n", index);
        return 0;
    }
    if (!co->sm || statemachine_get_state(co->sm) != SM_CALL_ACTIVE) {
        fprintf(out, "Call on index %i is not active\n", index);
        return 0;
    }
    call_leg_sip *leg = nullptr;
    if (f[1] == "in" || f[1] == "1")
        leg = co->cl_sip_in;
    else if (f[1] == "out" || f[1] == "2")
        leg = co->cl_sip_out;
    if (!leg) {
        fprintf(out, "invalid SIP leg: %s\n", f[1].c_str());
        return s2s_usage(out);
    }
    if (f[2].empty() || f[2].size() > 63) {
        fprintf(out, "invalid remote ip: %s\n", f[2].c_str());
        return s2s_usage(out);
    }
    fprintf(out, "S2S RTP reinvite test on call %i leg %s: %s:%i -> %s:%i\n", index, f[1].c_str(), leg->rtp_remote_ip,
            leg->rtp_remote_port, f[2].c_str(), port);
    snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", f[2].c_str());
    leg->rtp_remote_port = port;
    leg->last_rtp_remote_ip[0] = '\0';
    leg->last_rtp_remote_port = 0;
    co->cl_sip = leg;
    leg->got_reinvite_flag = 1;
    add_sm_task(co, sm_general(GENERAL_EVENT_RESTART_TRANSCODING));
    fputs("Queued GENERAL_EVENT_RESTART_TRANSCODING\n", out);
    return 0;
}

// The test call of "s2s" and its transcoding buddy, kept between runs.
static call_object *s2s_test_co = nullptr;
static call_object *s2s_test_buddy = nullptr;

// The stack of that name, or null after the refusal lines.
static sip_stack *s2s_stack(const char *name, FILE *out)
{
    sip_stack *ss = get_sip_stack_by_name(name);
    if (!ss) {
        fprintf(out, "invalid sip stack %s\n", name);
        fputs("---------------------------------\n", out);
    }
    return ss;
}

// A free call object as the SIP-to-SIP test call with a new leg on each
// stack, or null (nothing taken).
static call_object *s2s_new_test_call(sip_stack *ss1, sip_stack *ss2)
{
    call_object *co = get_free_operation_handle(1);
    if (!co)
        return nullptr;
    co->callinfo = CI_SIP_TO_SIP;
    co->cl_sip_in = get_new_sip_call_leg();
    co->cl_sip_out = co->cl_sip_in ? get_new_sip_call_leg() : nullptr;
    if (!co->cl_sip_out) {
        reset_op(co); // gives back what was taken
        return nullptr;
    }
    co->cl_sip = co->cl_sip_in;
    co->cl_sip_in->ss = ss1;
    co->cl_sip_out->ss = ss2;
    co->sm = create_statemachine_sip_to_sip(co, SM_CALL_ACTIVE, nullptr);
    co->sm_state = SM_CALL_ACTIVE;
    return co;
}

struct s2s_leg_request {
    int local_port;
    std::string remote_ip;
    int remote_port;
    int codec;
};

// The leg's remote end, codec and an RTP port (the wanted one when free):
// true when it got exactly that port.
static bool s2s_prepare_leg(call_object *co, call_leg_sip *leg, const s2s_leg_request &r)
{
    snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", r.remote_ip.c_str());
    leg->rtp_remote_port = r.remote_port;
    leg->using_payload = leg->using_codec = r.codec;
    int got = _update_rtp_port(co, leg, 0, r.local_port);
    return got == r.local_port;
}

int mc_s2s_start_test_channel(const char *arg, FILE *out, int *)
{
    if (!gp)
        return 0;
    size_t count = 0;
    std::vector<std::string> f = trimmed_fields(arg, 10, &count);
    f.resize(10);
    auto num = [&](int i, int def) { return f[i].empty() ? def : atoi(f[i].c_str()); };
    s2s_leg_request one = {num(0, 0), f[1], num(2, 0), num(6, 8)};
    s2s_leg_request two = {num(3, 0), f[4], num(5, 0), num(7, 8)};
    const char *stack1 = "lan";
    for (int i = 8; i < 10; i++)
        if (!f[i].empty())
            stack1 = f[i] == "wan" ? "wan" : "lan";

    if (s2s_test_co && s2s_test_co->callinfo == CI_SIP_TO_SIP) {
        int index = get_index_of_operation(s2s_test_co);
        finish_call(nullptr, index, 6);
        sleep(1);
    }
    lock_hold hold(&lock_manager::global_lock);
    call_object *co = s2s_test_co;
    if (!co || co->callinfo == CI_FREE) {
        sip_stack *ss1 = s2s_stack(stack1, out);
        sip_stack *ss2 = ss1 ? s2s_stack("lan", out) : nullptr;
        if (!ss2 || !(co = s2s_new_test_call(ss1, ss2)))
            return 0;
        s2s_test_co = co;
        if (s2s_test_buddy && s2s_test_buddy->callinfo == CI_INTERNAL && s2s_test_buddy->f.is_transcoding_buddy)
            co->transcoding_buddy = s2s_test_buddy;
        else
            s2s_test_buddy = get_transcoding_buddy(co);
    }
    call_leg_sip *in = co->cl_sip_in, *outleg = co->cl_sip_out;
    bool exact = s2s_prepare_leg(co, in, one);
    exact = s2s_prepare_leg(co, outleg, two) && exact;
    const char *name1 = in->ss ? in->ss->name : "", *name2 = outleg->ss ? outleg->ss->name : "";
    if (exact && one.remote_port && two.remote_port) {
        for (call_leg_sip *l : {in, outleg})
            if (l->ss)
                snprintf(l->using_ip, sizeof l->using_ip, "%s", l->ss->ip);
        fputs("==========>  STARTING TRANSCODING <===========\n", out);
        fprintf(out, "LEG 1 %i:%s:%i codec: %i stack: %s\n", in->rtp_local_port, in->rtp_remote_ip,
                in->rtp_remote_port, in->using_codec, name1);
        fprintf(out, "LEG 2 %i:%s:%i codec: %i stack: %s\n", outleg->rtp_local_port, outleg->rtp_remote_ip,
                outleg->rtp_remote_port, outleg->using_codec, name2);
        sm_s2s_start_transcoding(co, nullptr, SM_CALL_ACTIVE, 0);
    } else {
        fputs("==========> NOT STARTING TRANSCODING <===========\n", out);
        fprintf(out, "LEG 1 %i:%s:%i codec %i stack %s\n", in->rtp_local_port, in->rtp_remote_ip, in->rtp_remote_port,
                in->using_codec, name1);
        fprintf(out, "LEG 2 %i:%s:%i codec %i stack %s\n", outleg->rtp_local_port, outleg->rtp_remote_ip,
                outleg->rtp_remote_port, outleg->using_codec, name2);
    }
    return 0;
}
