// Console listings of the outgoing SIP registrations ("r", "rr") and of the
// call statistics ("ss", "ssp").
#include <pthread.h>

#include <cstring>

#include "application.h"
#include "call_info.h"
#include "call_object.h"
#include "call_statistics.h"
#include "global_lock.h"
#include "line_bringup.h"
#include "mc_list_calls.h"
#include "misdn_bchannel.h"
#include "pg_listings.h"
#include "pg_sip_groups.h"
#include "reg_object.h"
#include "sip_stack.h"
#include "sm_defs.h"
#include "statemachine.h"
#include "timer.h"

static const char DASHES[] = "---------------------------------------------\n";

// ---------------------------------------------------------------------------
// Registrations

static void response_code(FILE *out, int code)
{
    static const struct {
        int code;
        const char *word;
    } words[] = {
        {100, "TRYING"},
        {200, "OK"},
        {401, "UNAUTHORIZED"},
        {403, "AUTHENTICATION_FAILED"},
        {404, "PEER_NOT_FOUND"},
        {407, "PROXY_AUTHENTICATION_REQUIRED"},
        {408, "REQUEST_TIMEOUT"},
        {503, "SERVICE_UNAVAILABLE"},
        {904, "NO_MATCHING_CHALLENGE"},
    };
    if (code == 0) {
        fputs("NA\n", out);
        return;
    }
    for (const auto &w : words)
        if (w.code == code) {
            fprintf(out, "(%i) %s\n", code, w.word);
            return;
        }
    fprintf(out, "(%i) UNKNOWN\n", code);
}

static const char *reg_state_word(int state)
{
    switch (state) {
    case 2: return "PENDING";
    case 4: return "REGISTERED";
    case 8: return "FAILED";
    case 16: return "DISMANTLING";
    case 512: return "WAITING_FOR_SLOT";
    default: return "UNKNOWN";
    }
}

static const char *text(const char *s)
{
    return s ? s : "";
}

static void list_registration(FILE *out, int index, reg_object *ro)
{
    port_group_sip *pgs = ro->pgs;
    if (pgs && pgs->pgs_sip_stack)
        fprintf(out, "Stack                    => %s:%p\n", pgs->pgs_sip_stack->name, (void *)pgs->pgs_sip_stack->nua);
    fprintf(out, "ACCOUNTNAME              => %s\n", pgs ? text(pgs->pgs_name) : "");
    fprintf(out, "REGINDEX                 => %i\n", index);
    fprintf(out, "PID                      => %i\n", ro->pid);
    const char *address = "";
    const char *resolved = "";
    int port = 0;
    if (pgs) {
        bool registrar = pgs->pgs_sip_registrar && pgs->pgs_sip_registrar[0];
        address = registrar ? pgs->pgs_sip_registrar : text(pgs->pgs_sip_proxy);
        resolved = text(pgs->pgs_sip_registrar_using_address_resolved);
        port = pgs->pgs_sip_registrar_port ? pgs->pgs_sip_registrar_port : pgs->pgs_sip_proxy_port;
        if (!port)
            port = (pgs->pgs_transport & 4) ? 5061 : 5060;
    }
    fprintf(out, "ADDRESS                  => %s (%s)\n", address, resolved);
    fprintf(out, "PORT                     => %i\n", port);
    fprintf(out, "TRANSPORT                => %s\n", pg_sip_print_transport(pgs ? pgs->pgs_transport : 0));
    fprintf(out, "FROMTOURL                => %s\n", pgs ? text(pgs->pgs_sip_domain) : "");
    const char *user = pgs && pgs->pgs_user_count > 0 && pgs->pgs_users && pgs->pgs_users[0]
                           ? text(pgs->pgs_users[0]->pgsu_user)
                           : "";
    fprintf(out, "USERNAME                 => %s\n", user);
    fputs("RESPONSECODEVAL          => ", out);
    response_code(out, ro->last_response_code_validate);
    fputs("RESPONSECODE             => ", out);
    response_code(out, ro->last_response_code_register);
    fprintf(out, "VALIDATED                => %i\n", ro->is_validated);
    if (ro->only_validate)
        fputs("REGSTATUS                => NOREGISTER\n", out);
    else
        fprintf(out, "REGSTATUS                => %s\n", reg_state_word(ro->sm ? ro->sm->state : 0));
    fprintf(out, "REFRESH_INTERVAL         => %i seconds\n", pgs ? pgs->pgs_refresh_interval : 0);
    fprintf(out, "REFRESH_INTERVAL_FAILED  => %i seconds\n", pgs ? pgs->pgs_refresh_interval_failed : 0);
    fprintf(out, "NEXT_REFRESH             => %i seconds\n", ro->timer ? timer_get_seconds_left(ro->timer) : 0);
    fprintf(out, "KEEPALIVE INTERVAL       => %i seconds\n", pgs ? pgs->pgs_keepalive_interval : 0);
    fputs(DASHES, out);
}

int mc_sip_list_outbound_registrations(const char *, FILE *out, int *)
{
    fputs("LISTING REGISTRATIONS\n", out);
    if (!gp)
        return 0;
    lock_hold hold(&lock_manager::global_lock);
    for (int i = 0; gp->registrations && i < REGISTRATIONARRAYSIZE; i++) {
        reg_object *ro = gp->registrations[i];
        if (ro && ro->sm)
            list_registration(out, i, ro);
    }
    return 0;
}

int mc_sip_list_outbound_registrations_compact(const char *, FILE *out, int *)
{
    snmp_notify_sip_peers(out, 1);
    return 0;
}

// ---------------------------------------------------------------------------
// Statistics

namespace {

bool connected(const call_object *co)
{
    return co->sm_state == SM_CALL_ACTIVE;
}

// Live calls per kind and port (ports outside 0..32 count as port 0).
struct live_calls {
    int calls[3], conn[3]; // sip_to_pstn, pstn_to_sip, sip_to_sip
    int s2i[CALLSTAT_PORTS], i2s[CALLSTAT_PORTS], s2a[CALLSTAT_PORTS], a2s[CALLSTAT_PORTS];
    int s2g[CALLSTAT_PORTS], g2s[CALLSTAT_PORTS];
    int live_s2p_counted, live_p2s_counted, live_s2s;
};

int port_slot(int port, int max)
{
    return port >= 1 && port <= max ? port : 0;
}

live_calls count_live()
{
    live_calls l{};
    for (int i = 0; gp && i < OPERATIONARRAYSIZE; i++) {
        const call_object *co = gp->operations[i];
        if (!co || co->callinfo == CI_FREE)
            continue;
        if (co->callinfo == CI_ANALOG_TO_SIP && co->sm_state == SM_ANALOG_FXS_CALL_ON_HOLD_REINVITE)
            continue;
        int kind = -1;
        int isdn_port = port_slot(co->bc ? co->bc->port : co->bc_port, 32);
        int analog_port = port_slot(co->analog_port & 0x7ff, 32);
        int gsm_port = port_slot(co->gsm_port, 7);
        switch (co->callinfo) {
        case CI_SIP_TO_ISDN:
            kind = 0;
            l.s2i[isdn_port]++;
            l.live_s2p_counted++;
            break;
        case CI_SIP_TO_ANALOG:
            kind = 0;
            l.s2a[analog_port]++;
            l.live_s2p_counted++;
            break;
        case CI_SIP_TO_GSM:
            kind = 0;
            l.s2g[gsm_port]++;
            l.live_s2p_counted++;
            break;
        case CI_SIP_TO_CAS: kind = 0; break;
        case CI_ISDN_TO_SIP:
            kind = 1;
            l.i2s[isdn_port]++;
            l.live_p2s_counted++;
            break;
        case CI_ANALOG_TO_SIP:
            kind = 1;
            l.a2s[analog_port]++;
            l.live_p2s_counted++;
            break;
        case CI_GSM_TO_SIP:
            kind = 1;
            l.g2s[gsm_port]++;
            l.live_p2s_counted++;
            break;
        case CI_CAS_TO_SIP: kind = 1; break;
        case CI_SIP_TO_SIP:
            kind = 2;
            l.live_s2s++;
            break;
        default: break;
        }
        if (kind < 0)
            continue;
        l.calls[kind]++;
        l.conn[kind] += connected(co) ? 1 : 0;
    }
    return l;
}

// "%i (%i connected => avg. connect time: %s) => (%i <10 sec.)" parts.
struct completed {
    long calls;
    long conn;
    long seconds;
    long short_calls;
};

void average(char *buf, int size, long seconds, long conn)
{
    format_time(buf, size, conn > 0 ? (int)(seconds / conn) : 0);
}

void completed_line(FILE *out, const char *head, const completed &c, bool trailing_blank)
{
    char avg[32];
    average(avg, sizeof avg, c.seconds, c.conn);
    fprintf(out, "%s => %li (%li connected => avg. connect time: %s) => (%li <10 sec.)%s\n", head, c.calls, c.conn, avg,
            c.short_calls, trailing_blank ? " " : "");
}

completed sum(const completed &a, const completed &b)
{
    return {a.calls + b.calls, a.conn + b.conn, a.seconds + b.seconds, a.short_calls + b.short_calls};
}

// The three lines of one port: out of SIP, into SIP, total.
void port_lines(FILE *out, const char *prefix, int port, const char *s2x, const char *x2s, const completed &a,
                const completed &b)
{
    char head[96];
    snprintf(head, sizeof head, "%s %i: CALLS %s", prefix, port, s2x);
    completed_line(out, head, a, true);
    snprintf(head, sizeof head, "%s %i: CALLS %s", prefix, port, x2s);
    completed_line(out, head, b, true);
    snprintf(head, sizeof head, "%s %i: CALLS TOTAL        ", prefix, port);
    completed_line(out, head, sum(a, b), false);
}

#define PORT_COMPLETED(dir, p, live)                                                                            \
    completed                                                                                                    \
    {                                                                                                            \
        (long)s.counter_##dir##_port[p] - (live), (long)s.counter_##dir##_connected_finished_port[p],            \
            (long)s.total_seconds_##dir##_port[p],                                                               \
            (long)s.counter_##dir##_connected_finished_less_than_10_seconds_port[p]                              \
    }

} // namespace

int mc_tarn_list_call_statistics(const char *, FILE *out, int *)
{
    if (!gp)
        return 0;
    live_calls l = count_live();
    fputs("ACTUAL CALLS:\n", out);
    fprintf(out, "CALLS SIP_TO_PSTN => %i (%i connected)\n", l.calls[0], l.conn[0]);
    fprintf(out, "CALLS PSTN_TO_SIP => %i (%i connected)\n", l.calls[1], l.conn[1]);
    fprintf(out, "CALLS SIP_TO_SIP  => %i (%i connected)\n", l.calls[2], l.conn[2]);
    fprintf(out, "CALLS TOTAL       => %i (%i connected)\n", l.calls[0] + l.calls[1] + l.calls[2],
            l.conn[0] + l.conn[1] + l.conn[2]);
    fputs("\n", out);
    fputs("SESSION STATISTICS (completed calls):\n", out);
    const call_statistics &s = gp->callstat;
    completed s2p = {(long)s.counter_sip_to_pstn - l.live_s2p_counted, (long)s.counter_sip_to_pstn_connected_finished,
                     (long)s.total_seconds_sip_to_pstn,
                     (long)s.counter_sip_to_pstn_connected_finished_less_than_10_seconds};
    completed p2s = {(long)s.counter_pstn_to_sip - l.live_p2s_counted, (long)s.counter_pstn_to_sip_connected_finished,
                     (long)s.total_seconds_pstn_to_sip,
                     (long)s.counter_pstn_to_sip_connected_finished_less_than_10_seconds};
    completed s2s = {(long)s.counter_sip_to_sip - l.live_s2s, (long)s.counter_sip_to_sip_connected_finished,
                     (long)s.total_seconds_sip_to_sip, (long)s.counter_sip_to_sip_connected_finished_less_than_10_seconds};
    completed_line(out, "CALLS SIP_TO_PSTN", s2p, true);
    completed_line(out, "CALLS PSTN_TO_SIP", p2s, true);
    completed_line(out, "CALLS SIP_TO_SIP ", s2s, true);
    fprintf(out, "CALLS SIP_TO_DP   => %u\n", s.counter_sip_to_dialplan_not_found);
    fprintf(out, "CALLS S2S_MAX     => %u (%u connected)\n", s.counter_sip_to_sip_max_simultaneous,
            s.counter_sip_to_sip_max_simultaneous_connected);
    completed total = sum(sum(s2p, p2s), s2s);
    total.calls += (long)s.counter_sip_to_dialplan_not_found;
    completed_line(out, "CALLS TOTAL      ", total, false);
    fputs(DASHES, out);
    return 0;
}

int mc_tarn_list_call_statistics_portwise(const char *, FILE *out, int *)
{
    if (!gp)
        return 0;
    live_calls l = count_live();
    const call_statistics &s = gp->callstat;
    fputs("SESSION STATISTICS PER PORT(completed calls):\n", out);
    // Configured ids outside the counter arrays have no statistics.
    for (int p : configured_port_numbers(gp->config_isdn))
        if (p >= 0 && p < CALLSTAT_PORTS)
            port_lines(out, "IPORT", p, "SIP_TO_ISDN", "ISDN_TO_SIP", PORT_COMPLETED(sip_to_isdn, p, l.s2i[p]),
                       PORT_COMPLETED(isdn_to_sip, p, l.i2s[p]));
    for (int p : configured_port_numbers(gp->config_analog))
        if (p >= 0 && p < CALLSTAT_PORTS)
            port_lines(out, "APORT", p, "SIP_TO_ANALOG", "ANALOG_TO_SIP", PORT_COMPLETED(sip_to_analog, p, l.s2a[p]),
                       PORT_COMPLETED(analog_to_sip, p, l.a2s[p]));
    for (int p : configured_port_numbers(gp->config_gsm))
        if (p >= 0 && p < CALLSTAT_PORTS)
            port_lines(out, "GPORT", p, "SIP_TO_GSM   ", "GSM_TO_SIP   ", PORT_COMPLETED(sip_to_gsm, p, l.s2g[p]),
                       PORT_COMPLETED(gsm_to_sip, p, l.g2s[p]));
    fputs(DASHES, out);
    return 0;
}
