// Console commands that drive the ISDN side by hand: HOLD, SUSPEND,
// RETRIEVE, MCID, explicit call transfer, raw facilities and the metering
// pulse on a running call; layer 2, blocking, restart and RESTART on a port,
// and the port whose network time sets the clock.
//
// Calls and B-channels are changed and freed by the event threads, so every
// lookup and send runs under global_lock; the waits of a RESTART run
// without it.
#include "mc_isdn_tests.h"

#include "mc_isdn_diversion.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analog_callctl.h"
#include "application.h"
#include "base64.h"
#include "call_info.h"
#include "call_lookups.h"
#include "call_object.h"
#include "global_lock.h"
#include "isdn_events.h"
#include "isdn_lib.h"
#include "isdn_msg_parser.h"
#include "log.h"
#include "mc_call_control.h"
#include "misdn_bchannel.h"
#include "msp_resource.h"
#include "pools.h"
#include "sm_defs.h"
#include "xdv_headers.h"

namespace {

struct global_hold {
    pthread_mutex_t *m;
    global_hold() : m(g_lock_manager ? g_lock_manager->global_lock : nullptr)
    {
        if (m)
            pthread_mutex_lock(m);
    }
    ~global_hold()
    {
        if (m)
            pthread_mutex_unlock(m);
    }
    global_hold(const global_hold &) = delete;
    global_hold &operator=(const global_hold &) = delete;
};

bool valid_index(int i)
{
    return gp && i >= 0 && i < OPERATIONARRAYSIZE;
}

// The call object at an index whatever its use; null outside the pool.
call_object *object_at(int i)
{
    return valid_index(i) ? gp->operations[i] : nullptr;
}

// "ev_hold:" and friends: index valid, call in use (and a B-channel where
// the event goes to the ISDN side).
int send_call_event(const char *arg, FILE *out, const char *word, int event)
{
    int idx = atoi(arg ? arg : "");
    if (!valid_index(idx)) {
        fprintf(out, "Not sending %s to call at invalid index %i\n", word, idx);
        return 0;
    }
    global_hold hold;
    call_object *co = get_operation_by_index(idx);
    if (!co || (event && !co->bc)) {
        fprintf(out, "Not sending %s to inactive call at index %i\n", word, idx);
        return 0;
    }
    fprintf(out, "Sending %s to call at index %i\n", word, idx);
    if (event)
        tarn_misdn_lib_send_event(co, event);
    else
        _send_mcid(co);
    return 0;
}

// "hold", "retr": the call object at the index, in use or not.
int send_direct(const char *arg, FILE *out, const char *doing, event_e event)
{
    int idx = atoi(arg ? arg : "");
    global_hold hold;
    call_object *co = object_at(idx);
    if (!co || !co->bc) {
        fprintf(out, "no bc object on call at index %i\n", idx);
        return 0;
    }
    fprintf(out, "%s call at index %i\n", doing, idx);
    misdn_lib_send_event(co->bc, event);
    return 0;
}

bool valid_configured_port(int port)
{
    return port > 0 && misdn_is_port_configured(port);
}

} // namespace

int mc_isdn_send_event_mcid(const char *arg, FILE *out, int *)
{
    return send_call_event(arg, out, "MCID", 0);
}

int mc_isdn_send_event_hold(const char *arg, FILE *out, int *)
{
    return send_call_event(arg, out, "HOLD", EVENT_HOLD);
}

int mc_isdn_send_event_suspend(const char *arg, FILE *out, int *)
{
    return send_call_event(arg, out, "SUSPEND", EVENT_SUSPEND);
}

int mc_isdn_test_hold_call_at_index(const char *arg, FILE *out, int *)
{
    return send_direct(arg, out, "holding", EVENT_HOLD);
}

int mc_isdn_test_retrieve_call_at_index(const char *arg, FILE *out, int *)
{
    return send_direct(arg, out, "retrieving", EVENT_RETRIEVE);
}

int mc_isdn_test_ect_call_at_index(const char *arg, FILE *out, int *)
{
    const char *a = arg ? arg : "";
    int idx = (a[0] >= '0' && a[0] <= '9') ? a[0] - '0' : 0;
    int invoke = a[0] ? atoi(a + 1) : 0;
    global_hold hold;
    call_object *co = object_at(idx);
    if (!co || !co->bc) {
        fprintf(out, "no bc object on call at index %i\n", idx);
        return 0;
    }
    fprintf(out, "ecting call at index %i invokeid %i\n", idx, invoke);
    co->bc->fac_out.Function = Fac_ECTExecute;
    co->bc->fac_out.u.ECTExecute.invokeId = invoke;
    misdn_lib_send_event(co->bc, EVENT_FACILITY);
    return 0;
}

int mc_isdn_test_info_element(const char *arg, FILE *out, int *)
{
    const char *a = arg ? arg : "";
    int idx = atoi(a);
    const char *colon = strchr(a, ':');
    int user_text = mc_test_variables[5] != 0;
    const char *text = colon ? colon + 1 : "yourmessage";
    if (user_text) {
        printf("%s\n", text);
        fflush(stdout);
    }
    global_hold hold;
    call_object *co = valid_index(idx) ? get_operation_by_index(idx) : nullptr;
    if (!co || !co->bc) {
        fprintf(out, "no bc object on call at index %i\n", idx);
        return 0;
    }
    misdn_bchannel *bc = co->bc;
    if (user_text) {
        int n = (int)strnlen(text, sizeof bc->uu - 1);
        memcpy(bc->uu, text, (size_t)n);
        bc->uu[n] = 0;
        bc->uu_protocol = 0x84;
        bc->uulen = n;
        misdn_lib_send_event(bc, EVENT_INFORMATION);
        return 0;
    }
    // Test elements: two five-octet items, each switched on by its variable.
    bc->uulen = 0;
    const struct {
        int on, value;
        unsigned char tag;
    } items[] = {{mc_test_variables[0], mc_test_variables[2], 0x09}, {mc_test_variables[1], mc_test_variables[3], 0x0A}};
    for (const auto &it : items) {
        if (it.on != 1)
            continue;
        const unsigned char item[5] = {0x82, 0x10, it.tag, 0x01, (unsigned char)(it.value & 0xFF)};
        memcpy(bc->uu + bc->uulen, item, sizeof item);
        bc->uulen += (int)sizeof item;
    }
    misdn_lib_send_event(bc, EVENT_USER_INFORMATION);
    return 0;
}

int mc_isdn_send_status_enquiry(const char *arg, FILE *out, int *)
{
    int idx = atoi(arg ? arg : "");
    global_hold hold;
    call_object *co = valid_index(idx) ? get_operation_by_index(idx) : nullptr;
    if (!co) {
        fprintf(out, "cannot srtp_stat, couldn't retrieve call object at index %i\n", idx);
        return 0;
    }
    if (!(co->msp_state & MSP_VOICE_ACTIVE)) {
        fprintf(out, "cannot srtp_stat, no voice processing active at index %i\n", idx);
        return 0;
    }
    verbose_analog_send_event(co, co->analog_port, 0x200E);
    return 0;
}

int mc_isdn_send_status_enquiry2(const char *arg, FILE *out, int *)
{
    int idx = atoi(arg ? arg : "");
    global_hold hold;
    call_object *co = valid_index(idx) ? get_operation_by_index(idx) : nullptr;
    if (!co || co->sm_state != SM_CALL_ACTIVE) {
        fprintf(out, "No active call on index %i\n", idx);
        return 0;
    }
    if (!co->bc) {
        fprintf(out, "No bchannel on call at index %i\n", idx);
        return 0;
    }
    tarn_misdn_lib_send_event(co, EVENT_STATUS_ENQUIRY);
    return 0;
}

// ---------------------------------------------------------------------------
// Raw facilities

static const char TEST_FACILITY[] = "kaETAgIq9QIBIjAKoQUwAwIBAYIBAA==";

int _mc_isdn_send_facility(FILE *out, call_object *co, const char *b64)
{
    misdn_bchannel *bc = co->bc;
    if (!misdn_lib_is_ptp(bc->port) && misdn_port_is_nt(bc->port) && !co->f.connection_established) {
        fprintf(out, "Not Sending Facility Event on pre-connect nt-pmp on call at index %i, no data passed\n",
                co->index);
        return 0;
    }
    // At most one facility content is decoded; longer text is cut there.
    char decoded[BC_FAC_LEN];
    int n = base64_to_plaintext(b64 ? b64 : "", decoded, sizeof decoded);
    if (n < 0)
        n = 0;
    if (n > BC_FAC_LEN)
        n = BC_FAC_LEN;
    memcpy(bc->outfac[0], decoded, (size_t)n);
    bc->outfac_len[0] = n;
    if (n == 0) {
        fprintf(out, "Not Sending Facility Event on call at index %i, no data passed\n", co->index);
        return 0;
    }
    fprintf(out, "Sending Facility Event on call at index %i\n", co->index);
    tarn_misdn_lib_send_event(co, EVENT_FACILITY);
    return 0;
}

static int send_facility(const char *arg, FILE *out, bool by_pid)
{
    const char *a = arg ? arg : "";
    const char *colon = strchr(a, ':');
    if (!colon) {
        fprintf(out, "Please pass call %s and base64 encoded data separated by a colon\n", by_pid ? "pid" : "index");
        return 0;
    }
    int key = atoi(a);
    global_hold hold;
    call_object *co = by_pid ? get_operation_by_pid(key) : (valid_index(key) ? get_operation_by_index(key) : nullptr);
    if (!co) {
        fprintf(out, by_pid ? "No  call with pid %i\n" : "No  call on index %i\n", key);
        return 0;
    }
    if (!co->bc) {
        fprintf(out, by_pid ? "No bchannel on call with pid %i\n" : "No bchannel on call at index %i\n", key);
        return 0;
    }
    return _mc_isdn_send_facility(out, co, colon + 1);
}

int mc_isdn_send_facility_by_idx(const char *arg, FILE *out, int *)
{
    return send_facility(arg, out, false);
}

int mc_isdn_send_facility_by_pid(const char *arg, FILE *out, int *)
{
    return send_facility(arg, out, true);
}

int mc_tarn_test_send_facility(const char *arg, FILE *out, int *)
{
    std::string a = std::to_string(atoi(arg ? arg : "")) + ":" + TEST_FACILITY;
    return send_facility(a.c_str(), out, false);
}

// ---------------------------------------------------------------------------
// Ports

int mc_isdn_get_l2_up(const char *arg, FILE *out, int *)
{
    int port = atoi(arg ? arg : "");
    if (!valid_configured_port(port)) {
        fprintf(out, "Invalid port %i, ignoring request\n", port);
        return 0;
    }
    int up = misdn_lib_is_l2_up(port);
    fprintf(out, "Port %i: L2 %s\n", port, up == 1 ? "UP" : up == 0 ? "DOWN" : "UNDEFINED");
    if (up == 0) {
        fprintf(out, "Trying to get ISDN L2 up on port %i\n", port);
        misdn_lib_get_port_up(port);
    }
    return 0;
}

int mc_isdn_get_l2_down(const char *arg, FILE *out, int *)
{
    int port = atoi(arg ? arg : "");
    if (!valid_configured_port(port)) {
        fprintf(out, "Invalid port %i, ignoring request\n", port);
        return 0;
    }
    fprintf(out, "Trying to get ISDN L2 down on port %i\n", port);
    misdn_lib_get_port_down(port);
    return 0;
}

int mc_isdn_block_port(const char *arg, FILE *out, int *)
{
    int port = atoi(arg ? arg : "");
    if (port <= 0 || port > misdn_lib_maxports_get()) {
        fprintf(out, "Invalid port %i, ignoring request\n", port);
        return 0;
    }
    if (misdn_lib_is_port_blocked(port)) {
        fprintf(out, "Un-Blocking ISDN Port %i\n", port);
        misdn_lib_port_unblock(port);
    } else {
        fprintf(out, "Blocking ISDN Port %i\n", port);
        misdn_lib_port_block(port);
    }
    return 0;
}

// One scratch record per port for RESTART, kept for the process's life.
static misdn_bchannel *restart_bcs[32];

int mc_send_restart_now(FILE *out, int port, int channel)
{
    if (port < 1 || port > 31) {
        fputs("mc_send_restart_now: invalid port\n", out);
        return -1;
    }
    misdn_bchannel *bc;
    {
        global_hold hold;
        if (!restart_bcs[port]) {
            restart_bcs[port] = (misdn_bchannel *)calloc(1, sizeof(misdn_bchannel));
            if (!restart_bcs[port])
                return -1;
        } else {
            pthread_mutex_destroy(&restart_bcs[port]->send_lock);
        }
        bc = restart_bcs[port];
        misdn_make_dummy(bc, port, 0, misdn_port_is_nt(port), channel);
        bc->restart_channel = channel;
        misdn_holder_add_by_port(port, bc);
        misdn_lib_send_event(bc, EVENT_RESTART);
    }
    usleep(500 * 1000);
    global_hold hold;
    misdn_holder_remove_by_port(port, bc);
    return 0;
}

int mc_isdn_port_restart(const char *arg, FILE *out, int *)
{
    int port = atoi(arg ? arg : "");
    if (!valid_configured_port(port)) {
        fprintf(out, "Invalid port %i, ignoring request\n", port);
        return 0;
    }
    fprintf(out, "Restarting ISDN Port %i\n", port);
    misdn_lib_port_restart(port);
    mc_send_restart_now(out, port, 0);
    return 0;
}

static std::vector<std::string> colon_fields(const char *arg, size_t max_len)
{
    std::string s = std::string(arg ? arg : "").substr(0, max_len);
    std::vector<std::string> f;
    size_t at = 0;
    while (true) {
        size_t c = s.find(':', at);
        std::string v = s.substr(at, c == std::string::npos ? std::string::npos : c - at);
        size_t b = v.find_first_not_of(" \t"), e = v.find_last_not_of(" \t");
        f.push_back(b == std::string::npos ? "" : v.substr(b, e - b + 1));
        if (c == std::string::npos)
            break;
        at = c + 1;
    }
    return f;
}

static bool port_with_stack(int port)
{
    return port >= 1 && port <= 32 && misdn_port_has_stack(port);
}

int mc_isdn_send_restart(const char *arg, FILE *out, int *)
{
    std::vector<std::string> f = colon_fields(arg, 127);
    int port = atoi(f[0].c_str());
    int channel = f.size() > 1 ? atoi(f[1].c_str()) : 0;
    if (!port_with_stack(port)) {
        fprintf(out, "INVALID PORT %i\n", port);
        return 0;
    }
    {
        global_hold hold;
        if (gp->isdn_global_message_state[port]) {
            fprintf(out, "ALREADY IN PROGRESS ON PORT %i\n", port);
            return 0;
        }
        gp->isdn_global_message_state[port] = 1;
    }
    fprintf(out, "sending restart port %i channel %i\n", port, channel);
    fflush(out);
    mc_send_restart_now(out, port, channel);
    global_hold hold;
    cleanup_isdn_calls(port, channel);
    gp->isdn_global_message_state[port] = 0;
    return 0;
}

int mc_isdn_set_time_from_isdn(const char *arg, FILE *out, int *)
{
    int port = atoi(arg ? arg : "");
    if (!valid_configured_port(port)) {
        fprintf(out, "Invalid port %i, ignoring request\n", port);
        return 0;
    }
    printf("port %i\n", port);
    fprintf(out, "Setting isdn time port to %i\n", port);
    misdn_set_time_from_isdn = port;
    return 0;
}
