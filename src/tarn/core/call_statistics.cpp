#include "call_statistics.h"

#include <atomic>
#include <cstring>

#include "application.h"
#include "log.h"
#include "log_backend.h"
#include "pools.h"
#include "sm_defs.h"

uint32_t *callstat_port(uint32_t (&member)[CALLSTAT_PORTS], int port)
{
    if (port < 0 || port >= CALLSTAT_PORTS) {
        LOGD(TARN, 1, nullptr, "call statistics: port %i outside 0..%i, not counted", port, CALLSTAT_PORTS - 1);
        return nullptr;
    }
    return &member[port];
}

static void count_ton(uint32_t &counter, char *sample, int type_ok, const char *number)
{
    if (!type_ok)
        return;
    if (counter++ == 0 && number)
        snprintf(sample, TON_SAMPLE_LEN, "%s", number);
}

void ton_statistics_count(ton_statistics_record *t, int port, int ton_o, const char *oad, int ton_d,
                          const char *dad)
{
    if (!t || port < 0 || port >= TON_STAT_PORTS)
        return;
    bool o = ton_o >= 0 && ton_o < TON_STAT_TYPES, d = ton_d >= 0 && ton_d < TON_STAT_TYPES;
    count_ton(t->statistics_o[port][o ? ton_o : 0], t->sample_o[port][o ? ton_o : 0], o, oad);
    count_ton(t->statistics_d[port][d ? ton_d : 0], t->sample_d[port][d ? ton_d : 0], d, dad);
}

void call_statistics_reset()
{
    if (gp)
        memset(&gp->callstat, 0, sizeof gp->callstat);
}

void add_connected_call_duration(call_duration_statistics *cds, int seconds)
{
    int32_t n = cds->connect_counter;
    cds->total_call_duration_all += seconds;
    struct window {
        int size;
        int64_t *sum;
    } windows[] = {{10, &cds->total_call_duration_10},
                   {100, &cds->total_call_duration_100},
                   {1000, &cds->total_call_duration_1000}};
    for (const window &w : windows) {
        *w.sum += seconds;
        if (n >= w.size)
            *w.sum -= cds->avg_call_duration[(n + CDS_RING - w.size) % CDS_RING]; // leaves the window
    }
    cds->avg_call_duration[n % CDS_RING] = seconds;
    cds->connect_counter = n + 1;
}

void format_time(char *buffer, int bufsize, int total_seconds)
{
    if (!buffer || bufsize <= 0)
        return;
    if (total_seconds < 0)
        total_seconds = 0;
    snprintf(buffer, (size_t)bufsize, "%02i:%02i:%02i", total_seconds / 3600, total_seconds / 60 % 60,
             total_seconds % 60);
}

void print_connected_call_duration(FILE *fp, const call_duration_statistics *cds)
{
    char t[32];
    int n = cds->connect_counter;
    format_time(t, sizeof t, n > 0 ? (int)(cds->total_call_duration_all / n) : 0);
    fprintf(fp, "Avg. call duration (all %i connected calls): %s\n", n, t);
    struct window {
        int size;
        int64_t sum;
    } windows[] = {{10, cds->total_call_duration_10},
                   {100, cds->total_call_duration_100},
                   {1000, cds->total_call_duration_1000}};
    for (const window &w : windows) {
        int divisor = n >= w.size ? w.size : n;
        format_time(t, sizeof t, (int)(divisor > 0 ? w.sum / divisor : w.sum));
        fprintf(fp, "Avg. call duration (last %i connected calls): %s\n", w.size, t);
    }
}

int get_number_of_active_calls()
{
    int n = 0;
    for (int i = 0; gp && i < OPERATIONARRAYSIZE; i++)
        if (gp->operations[i] && gp->operations[i]->sm_state == SM_CALL_ACTIVE)
            n++;
    return n;
}

namespace {

void not_built_once(std::atomic<bool> &said, const char *what)
{
    if (!said.exchange(true))
        LOGD(TARN, 0, nullptr, "CRITICAL: snmp_notify_sip_peers: %s is not part of this build", what);
}

const char *registration_info_not_built(reg_object *, int *)
{
    static std::atomic<bool> said{false};
    not_built_once(said, "snmp_get_registration_info");
    return nullptr;
}

const char *validation_info_not_built(reg_object *, int *)
{
    static std::atomic<bool> said{false};
    not_built_once(said, "snmp_get_validation_info");
    return nullptr;
}

int peer_group_not_built(const reg_object *, const char **, int *, int *)
{
    static std::atomic<bool> said{false};
    not_built_once(said, "the SIP port group of a registration");
    return -1;
}

sip_peer_report_hooks report_hooks = {registration_info_not_built, validation_info_not_built,
                                      peer_group_not_built};

void report_registrations(FILE *fp)
{
    for (int i = 0; gp->registrations && i < REGISTRATIONARRAYSIZE; i++) {
        reg_object *ro = gp->registrations[i];
        const char *group = nullptr;
        int do_register = 0, do_validate = 0, reg_code = 0, val_code = 0;
        if (!ro || report_hooks.peer_group(ro, &group, &do_register, &do_validate) != 0)
            continue;
        const char *reg = report_hooks.snmp_get_registration_info(ro, &reg_code);
        const char *val = report_hooks.snmp_get_validation_info(ro, &val_code);
        if (!reg || !val)
            continue;
        if (!group)
            group = "";
        if (fp)
            fprintf(fp, "SIP_INFO:%i:%s:%i:%s:%i:%i:%s:%i\n", ro->index, group, do_register, reg, reg_code,
                    do_validate, val, val_code);
        else
            _tarn_snmp_msg("SIP_INFO:%i:%s:%i:%s:%i:%i:%s:%i\n", ro->index, group, do_register, reg, reg_code,
                           do_validate, val, val_code);
    }
}

} // namespace

void sip_peer_report_set_hooks(const sip_peer_report_hooks *hooks)
{
    if (!hooks) {
        report_hooks = {registration_info_not_built, validation_info_not_built, peer_group_not_built};
        return;
    }
    // Each owner fills its own members; the others stay as they are.
    if (hooks->snmp_get_registration_info)
        report_hooks.snmp_get_registration_info = hooks->snmp_get_registration_info;
    if (hooks->snmp_get_validation_info)
        report_hooks.snmp_get_validation_info = hooks->snmp_get_validation_info;
    if (hooks->peer_group)
        report_hooks.peer_group = hooks->peer_group;
}

void snmp_notify_sip_peers(FILE *fp, int lock)
{
    if (!gp)
        return;
    if (!lock) {
        report_registrations(fp);
        return;
    }
    pthread_mutex_lock(gp->locks->global_lock);
    if (gp->registrations)
        report_registrations(fp);
    pthread_mutex_unlock(gp->locks->global_lock);
}

const char *print_cf_state(int state)
{
    static const char *const names[] = {
        "CF_ACTIVATE_SENT",      "CF_ACTIVATE_ANSWERED1",  "CF_ACTIVATE_FAILED",    "CF_ACTIVATE_SUCCESS",
        "CF_DEACTIVATE_SENT",    "CF_DEACTIVATE_ANSWERED", "CF_DEACTIVATE_FAILED",  "CF_DEACTIVATE_SUCCESS",
        "CF_QUERY_SENT",         "CF_QUERY_ANSWERED",      "CF_QUERY_SUCCESS",      "CF_QUERY_FAILED",
        "CF_LISTQUERY_SENT",     "CF_LISTQUERY_ANSWERED",  "CF_LISTQUERY_SUCCESS",  "CF_LISTQUERY_FAILED",
    };
    static_assert(sizeof names / sizeof names[0] == 16, "states 0..15");
    return state >= 0 && state < 16 ? names[state] : "UNDEFINED";
}

const char *print_crypto_type(int state)
{
    static const char *const names[] = {"CRYPTO_OFFER_NONE", "CRYPTO_OFFER_SENT", "CRYPTO_OFFER_RECEIVED",
                                        "CRYPTO_ANSWER_SENT", "CRYPTO_ANSWER_RECEIVED"};
    return state >= 0 && state < 5 ? names[state] : "CRYPTO_OFFER_UNKNOWN";
}

int rtp_port_in_our_range()
{
    return 1;
}

int comp_char_pointers(const void *a, const void *b)
{
    return strcmp(*(const char *const *)a, *(const char *const *)b);
}
