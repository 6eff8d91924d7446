// Console-driven calls: the lines a peer unit writes to this console
// ("dial:", "hangup", "update:"), the replies of a peer this unit dialled,
// and the bookkeeping of outbound console connections.
#include "mc_itapi.h"

#include <arpa/inet.h>
#include <pthread.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "application.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "console_hooks.h"
#include "dialplan.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "isdn_events.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "pools.h"
#include "port_groups.h"
#include "rtp_ports.h"
#include "sip_stack.h"
#include "sm_defs.h"
#include "state_tables.h"
#include "status_server.h"
#include "statemachine.h"

// ---------------------------------------------------------------------------
// Items

static bool port_number(const char *text, int *port)
{
    if (!*text || strlen(text) > 5)
        return false;
    for (const char *p = text; *p; p++)
        if (*p < '0' || *p > '9')
            return false;
    int n = atoi(text);
    if (n < 1 || n > 65535)
        return false;
    *port = n;
    return true;
}

void itapi_parse_items(const char *arg, itapi_items *it)
{
    memset(it, 0, sizeof *it);
    it->rtp_port = -1;
    it->pid = -1;
    const char *p = arg ? arg : "";
    while (*p) {
        const char *end = strchr(p, ',');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        const char *eq = (const char *)memchr(p, '=', len);
        if (eq) {
            size_t klen = (size_t)(eq - p);
            const char *v = eq + 1;
            size_t vlen = len - klen - 1;
            char value[ITAPI_TEXT];
            snprintf(value, sizeof value, "%.*s", (int)(vlen < ITAPI_TEXT - 1 ? vlen : ITAPI_TEXT - 1), v);
            struct key {
                const char *name;
                char *dst;
                bool *has;
            } keys[] = {
                {"tech", it->tech, &it->has_tech},       {"group", it->group, &it->has_group},
                {"codec", it->codec, &it->has_codec},    {"rtp_ip", it->rtp_ip, &it->has_rtp_ip},
                {"oad", it->oad, &it->has_oad},          {"dad", it->dad, &it->has_dad},
            };
            bool known = false;
            for (const key &k : keys) {
                if (klen == strlen(k.name) && strncmp(p, k.name, klen) == 0) {
                    memcpy(k.dst, value, sizeof value);
                    *k.has = true;
                    known = true;
                }
            }
            if (!known && klen == 8 && strncmp(p, "rtp_port", 8) == 0) {
                int port;
                it->rtp_port = port_number(value, &port) ? port : -1;
            } else if (!known && klen == 3 && strncmp(p, "pid", 3) == 0) {
                char *e = nullptr;
                long n = strtol(value, &e, 10);
                if (e != value && n >= 0 && n <= 0x7fffffff)
                    it->pid = (int)n;
            }
        }
        if (!end)
            break;
        p = end + 1;
    }
}

bool itapi_valid_ipv4(const char *text)
{
    if (!text || !*text || strlen(text) > 15)
        return false;
    int parts = 0;
    const char *p = text;
    while (true) {
        int digits = 0, value = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + (*p - '0');
            if (++digits > 3)
                return false;
            p++;
        }
        if (digits == 0 || value > 255)
            return false;
        parts++;
        if (*p == '\0')
            break;
        if (*p != '.' || parts == 4)
            return false;
        p++;
    }
    return parts == 4;
}

bool itapi_safe_text(const char *text)
{
    for (const unsigned char *p = (const unsigned char *)(text ? text : ""); *p; p++)
        if (*p == ';' || *p == ',' || *p == '=' || *p == '\\' || *p < 0x20 || *p == 0x7f)
            return false;
    return true;
}

// ---------------------------------------------------------------------------
// Inbound: "dial:", "hangup", "update:"

static bool itapi_enabled()
{
    return gp && gp->experimental_options && gp->experimental_options->eo_itapi_support;
}

// Holds global_lock for a console command unless the status server holds it
// already for this line (a line on a connection with a bound call).
struct itapi_lock_scope {
    pthread_mutex_t *m = nullptr;
    itapi_lock_scope()
    {
        if (!mc_dispatch_holds_global_lock() && g_lock_manager) {
            m = g_lock_manager->global_lock;
            pthread_mutex_lock(m);
        }
    }
    ~itapi_lock_scope()
    {
        if (m)
            pthread_mutex_unlock(m);
    }
    itapi_lock_scope(const itapi_lock_scope &) = delete;
    itapi_lock_scope &operator=(const itapi_lock_scope &) = delete;
};

static void put(FILE *out, const char *line)
{
    fputs(line, out);
    fflush(out);
}

// Steps 4 to 11 of a "dial:" on a connection without a call; result as the
// handler's.
static int place_isdn_call(const itapi_items &it, FILE *out, int fd)
{
    sip_stack *lan = get_sip_stack_by_name("lan");
    if (!lan) {
        LOGD(TARN, 5, nullptr, "RELEASE:NO_RESSOURCES : no SIP stack lan for the RTP of a console call");
        put(out, "RELEASE:NO_RESSOURCES\n");
        return 1;
    }
    call_object *co = get_free_operation_handle(1);
    if (!co) {
        put(out, "RELEASE:NO_RESSOURCES\n");
        return 1;
    }
    co->sm = create_statemachine_telnet_to_isdn(co, SM_SIP_INVITE_RECEIVED, tarn_send_event);
    co->sm_state = SM_SIP_INVITE_RECEIVED;
    co->cdr.from = TECH_ITAPI;
    co->cdr.to = TECH_ISDN;

    if (!co->tcr)
        co->tcr = (telnet_call_request *)calloc(1, sizeof *co->tcr);
    telnet_call_request *tcr = co->tcr;
    if (!tcr) {
        mc_hooks().reset_op(co);
        put(out, "RELEASE:NO_RESSOURCES\n");
        return 1;
    }
    snprintf(tcr->group, sizeof tcr->group, "%s", it.group);
    snprintf(tcr->oad, sizeof tcr->oad, "%s", it.oad);
    snprintf(tcr->dad, sizeof tcr->dad, "%s", it.dad);
    snprintf(tcr->rtp_ip, sizeof tcr->rtp_ip, "%s", it.rtp_ip);
    tcr->rtp_port = it.rtp_port;
    tcr->codec = strcasecmp(it.codec, "pcma") == 0 ? 8 : strcasecmp(it.codec, "pcmu") == 0 ? 0 : -1;
    if (it.pid >= 0)
        co->telnet_pid = it.pid;

    if (tcr->codec < 0) {
        mc_hooks().reset_op(co);
        LOGD(TARN, 5, nullptr, "RELEASE:INVALID_CODEC : %s", it.codec);
        put(out, "RELEASE:INVALID_CODEC\n");
        return 0;
    }

    co->callinfo = CI_TELNET_TO_ISDN;
    misdn_bchannel *bc = misdn_lib_get_free_bc_by_port_group(tcr->group, nullptr, 0, nullptr, nullptr);
    if (!bc) {
        put(out, "RELEASE:NO_FREE_BCHANNEL\n");
        mc_hooks().reset_op(co);
        return 0;
    }

    // Bind the call to the connection.
    co->bc_port = bc->port;
    bc->sending_complete = 1;
    if (co->pid > 0)
        bc->pid = co->pid;
    co->telnet_fd = fd;
    co->telnet_fp = out;
    lock_itapi();
    itapi_fds_current_states[fd] = ITAPI_INBOUND_IN_USE;
    itapi_fds_current_call_objects[fd] = co;
    unlock_itapi();
    co->bc = bc;

    // The SIP-side leg that carries the RTP to the peer.
    call_leg_sip *leg = get_new_sip_call_leg();
    if (!leg) {
        put(out, "RELEASE:NO_RESSOURCES\n");
        mc_hooks().reset_op(co);
        return 0;
    }
    co->cl_sip = co->cl_sip_in = leg;
    leg->using_codec = tcr->codec;
    leg->using_payload = tcr->codec;
    snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", tcr->rtp_ip);
    leg->rtp_remote_port = tcr->rtp_port;
    leg->ss = lan;
    leg->nua = lan->nua;
    update_rtp_port(co, leg);

    snprintf(bc->oad, sizeof bc->oad, "%s", tcr->oad);
    snprintf(bc->dad, sizeof bc->dad, "%s", tcr->dad);
    tarn_misdn_lib_send_event(co, EVENT_SETUP);
    if (bc->port >= 0 && bc->port < (int)(sizeof gp->callstat.counter_sip_to_isdn_port /
                                           sizeof gp->callstat.counter_sip_to_isdn_port[0]))
        gp->callstat.counter_sip_to_isdn_port[bc->port]++;
    return 0;
}

int mc_telnet_init_call(const char *arg, FILE *out, int *)
{
    itapi_items it;
    itapi_parse_items(arg, &it);
    if (!it.has_tech || !it.has_group || !it.has_oad || !it.has_dad || !it.has_rtp_ip || !it.has_codec ||
        !it.tech[0] || !it.group[0] || !it.codec[0]) {
        put(out, "RELEASE:INVALID_PARAMETERS\n");
        return 1;
    }
    if (strcasecmp(it.tech, "isdn") != 0) {
        put(out, "RELEASE:UNKNOWN_TECH\n");
        return 1;
    }
    // The peer's RTP end becomes our media target: a dotted IPv4 address
    // and a real port only.
    if (it.rtp_port < 0 || !itapi_valid_ipv4(it.rtp_ip)) {
        put(out, "RELEASE:INVALID_PARAMETERS\n");
        return 1;
    }
    if (out == stdout) {
        put(out, "RELEASE:WRONG_FD\n");
        return 0;
    }
    int fd = fileno(out);
    if (fd < 0 || fd >= STATUS_SERVER_FDS || !itapi_enabled()) {
        // Without the descriptor bookkeeping nothing would end the call when
        // the connection closes.
        LOGD(TARN, 5, nullptr, "console call refused: experimental option itapi_support is not set");
        put(out, "RELEASE:NO_RESSOURCES\n");
        return 1;
    }

    itapi_lock_scope hold;
    call_object *bound = mc_hooks().get_operation_by_telnet_fd(fd);
    if (bound) {
        put(out, ";hangup;\n");
        mc_hooks().add_sm_task(bound, SM_WORD_FINISH_CALL);
        return 0;
    }
    return place_isdn_call(it, out, fd);
}

int mc_telnet_hangup_call(const char *arg, FILE *out, int *)
{
    int fd = out ? fileno(out) : -1;
    itapi_lock_scope hold;
    call_object *co = fd > 0 && out != stdout ? mc_hooks().get_operation_by_telnet_fd(fd) : nullptr;
    if (!co) {
        fprintf(out, "INFO1: no call running on fd %i (hangup)\n", fd);
        return 0;
    }
    if (arg && *arg) {
        int pid = atoi(arg);
        if (pid != co->telnet_pid) {
            printf("TELNET PID %i != CO PID %i\n", pid, co->telnet_pid);
            return 0;
        }
    }
    mc_hooks().add_sm_task(co, sm_general(GENERAL_EVENT_ITAPI_HANGUP_RECEIVED));
    return 0;
}

int mc_telnet_update_call(const char *arg, FILE *out, int *)
{
    if (out == stdout) {
        fputs("INFO:WRONG_FD\n", out);
        return 0;
    }
    int fd = fileno(out);
    itapi_lock_scope hold;
    call_object *co = fd > 0 ? mc_hooks().get_operation_by_telnet_fd(fd) : nullptr;
    if (!co) {
        fprintf(out, "INFO2: no call running on fd %i (update)\n", fd);
        return 0;
    }
    itapi_items it;
    itapi_parse_items(arg, &it);
    // Only a dotted IPv4 address and a real port become the media target.
    if (it.rtp_port < 0 || !it.has_rtp_ip || !itapi_valid_ipv4(it.rtp_ip) || !co->cl_sip)
        return 0;
    call_leg_sip *leg = co->cl_sip;
    snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", it.rtp_ip);
    leg->rtp_remote_port = it.rtp_port;
    if (it.has_codec) {
        int codec = strcasecmp(it.codec, "pcmu") == 0 ? 0 : 8;
        leg->using_codec = codec;
        leg->using_payload = codec;
    }
    mc_hooks().add_sm_task(co, sm_general(GENERAL_EVENT_ITAPI_UPDATE_CHANNEL));
    return 0;
}

// ---------------------------------------------------------------------------
// Outbound

static bool begins(const char *line, const char *word)
{
    return strncasecmp(line, word, strlen(word)) == 0;
}

int mc_handle_itapi_response(const char *line, FILE *out, call_object *co)
{
    if (!line || !co)
        return 0;
    LOGD(TARN, 9, cinfo(co), "itapi response |%s|", line);
    if (begins(line, "quilmar"))
        return 0;
    if (begins(line, "RELEASE") || begins(line, "DISCONN")) {
        mc_hooks().add_sm_task(co, sm_general(GENERAL_EVENT_ITAPI_DISCONNECT));
    } else if (begins(line, "hangup")) {
        mc_hooks().add_sm_task(co, SM_WORD_FINISH_CALL);
    } else if (begins(line, "dial")) {
        if (out) {
            fputs("hangup\n", out);
            fflush(out);
        }
        mc_hooks().add_sm_task(co, SM_WORD_FINISH_CALL);
    } else if (begins(line, "CONNECT")) {
        if (line[7] == ':') {
            char *end = nullptr;
            long port = strtol(line + 8, &end, 10);
            // A negative or impossible port keeps what the call has.
            if (end != line + 8 && port >= 0 && port <= 65535)
                co->telnet_remote_rtp_port = (int)port;
        } else {
            co->telnet_remote_rtp_port = 0;
        }
        mc_hooks().add_sm_task(co, sm_general(GENERAL_EVENT_ITAPI_CONNECT));
    } else if (begins(line, "ALERTING")) {
        mc_hooks().add_sm_task(co, sm_general(GENERAL_EVENT_ITAPI_ALERTING));
    }
    return 0;
}

int mc_itapi_get_free_socket(call_object *co, int *reused)
{
    int fd = 0;
    lock_itapi();
    for (int i = 0; i < STATUS_SERVER_FDS; i++) {
        // Only a connection to the call's own target: another peer would
        // get the call.
        if (itapi_fds_current_states[i] != ITAPI_OUTBOUND_FREE || !fstreams[i] ||
            itapi_fds_remote_ports[i] != co->telnet_remote_telnet_port ||
            strcmp(itapi_fds_remote_ips[i], co->telnet_remote_address) != 0)
            continue;
        itapi_fds_current_states[i] = ITAPI_OUTBOUND_IN_USE;
        itapi_fds_current_call_objects[i] = co;
        co->telnet_fd = i;
        co->telnet_fp = fstreams[i];
        co->telnet_local_telnet_port = itapi_fds_local_ports[i];
        if (reused)
            *reused = 1;
        fd = i;
        break;
    }
    if (!fd && gp) {
        if (!gp->itapi_new_outgoing_call_objects[0])
            gp->itapi_new_outgoing_call_objects[0] = co;
        gp->telnet_new_outgoing_call = 1;
    }
    unlock_itapi();
    return fd;
}

void mc_itapi_set_outbound_fd_to_used(int fd)
{
    if (fd < 0 || fd >= STATUS_SERVER_FDS)
        return;
    lock_itapi();
    itapi_fds_current_states[fd] = ITAPI_OUTBOUND_IN_USE;
    unlock_itapi();
}

int mc_itapi_list_fds(const char *, FILE *out, int *)
{
    lock_itapi();
    int n = 0;
    for (int fd = 0; fd < STATUS_SERVER_FDS; fd++) {
        if (!fstreams[fd])
            continue;
        call_object *co = itapi_fds_current_call_objects[fd];
        fprintf(out, "idx %i: FD %i => fp %p: PEER %i:%s:%i - STATE %s - COIDX: %i\n", n++, fd, (void *)fstreams[fd],
                itapi_fds_local_ports[fd], itapi_fds_remote_ips[fd], itapi_fds_remote_ports[fd],
                itapi_print_fd_state(itapi_fds_current_states[fd]), co ? co->index : -1);
    }
    unlock_itapi();
    return 0;
}
