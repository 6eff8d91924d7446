// Console commands that reload routing and SIP configuration, rotate and
// flush the CDR and log files, switch the network log, the verbose and
// debug streams and the CAS trace, write into the message log, reset the
// call statistics and make the SIP side reject registrations.
#include "mc_reload.h"

#include <pthread.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_progress.h"
#include "call_statistics.h"
#include "cause_map.h"
#include "cdr_log.h"
#include "dialplan.h"
#include "log.h"
#include "log_backend.h"
#include "platform_path.h"
#include "sip_reload.h"

int mc_tarn_reload_call_progress_tables(const char *, FILE *, int *)
{
    cpt_parse_call_progress_tables(platform_path("/usr/conf/tarn.cpt").c_str());
    return 0;
}

int mc_tarn_reload_dialplan(const char *, FILE *, int *)
{
    if (gp)
        dialplan_load(gp->dialplan_path);
    return 0;
}

int mc_tarn_reload_cause_map(const char *, FILE *, int *)
{
    load_causes_map();
    return 0;
}

int mc_sip_reload_peers(const char *, FILE *out, int *)
{
    LOGD(SIP, 2, nullptr, "mc_sip_reload_peers");
    if (!gp)
        return 0;
    if (gp->reregister_in_progress || sip_reload_running()) {
        fputs("Reregister already in progress!", out);
        return 0;
    }
    LOGD(SIP, 2, nullptr, "creating sip_reload thread");
    if (pthread_create(&gp->sip_reload_thread, nullptr, run_reload_sip_peers_thread, (void *)(intptr_t)0) == 0)
        pthread_detach(gp->sip_reload_thread);
    else
        LOGD(SIP, 0, nullptr, "CRITICAL: couldn't start the sip_reload thread");
    fputs("reloaded sip peers\n", out);
    return 0;
}

int mc_sip_reload_peers_soft(const char *, FILE *out, int *)
{
    reload_sip_peers(0);
    fputs("reloaded sip peers soft\n", out);
    return 0;
}

int mc_tarn_rotate_cdr(const char *, FILE *, int *)
{
    cdr_log_rotate();
    return 0;
}

int mc_tarn_flush_cdr_file(const char *, FILE *, int *)
{
    cdr_log_flush_file();
    return 0;
}

int mc_tarn_rotate_tarn_log(const char *, FILE *, int *)
{
    pthread_mutex_lock(log_fp_lock());
    rotate_logfiles();
    pthread_mutex_unlock(log_fp_lock());
    return 0;
}

int mc_tarn_flush_tarn_log(const char *, FILE *, int *)
{
    pthread_mutex_lock(log_fp_lock());
    if (log_backend()->logrotate_fp)
        fflush(log_backend()->logrotate_fp);
    pthread_mutex_unlock(log_fp_lock());
    return 0;
}

// ---------------------------------------------------------------------------
// Network log

static bool netlog_on()
{
    return log_backend()->netlogfd.load() >= 1;
}

static void netlog_state(FILE *out)
{
    fputs(netlog_on() ? "Netlog is now on\n" : "Netlog is now off\n", out);
}

int mc_log_netlog_toggle(const char *, FILE *out, int *)
{
    toggle_netlog();
    netlog_state(out);
    return 0;
}

int mc_log_netlog_off(const char *, FILE *out, int *)
{
    stop_netlog();
    netlog_state(out);
    return 0;
}

int mc_log_netlog_on(const char *, FILE *out, int *)
{
    start_netlog();
    fputs(netlog_on() ? "Netlog is now on\n" : "Couldn't start netlog\n", out);
    return 0;
}

int mc_log_netlog_show(const char *, FILE *out, int *)
{
    log_backend_state *b = log_backend();
    if (!netlog_on()) {
        fputs("Netlog is off\n", out);
        return 0;
    }
    pthread_rwlock_rdlock(&b->udp_lock);
    fprintf(out, "Netlog is on: %s:%s\n", b->logip, b->logport);
    pthread_rwlock_unlock(&b->udp_lock);
    return 0;
}

// ---------------------------------------------------------------------------
// Verbose and debug streams

static void verbose_on(FILE *out)
{
    log_backend_state *b = log_backend();
    pthread_mutex_lock(log_fp_lock());
    if (b->verbose_outfile_fp)
        fclose(b->verbose_outfile_fp);
    b->verbose_outfile_fp = b->vlogfilepath[0] ? fopen(b->vlogfilepath, "w") : nullptr;
    b->verbose_outfile_logging = 1;
    b->verbose_fp = out;
    pthread_mutex_unlock(log_fp_lock());
}

static void verbose_off()
{
    log_backend_state *b = log_backend();
    pthread_mutex_lock(log_fp_lock());
    b->verbose_fp = nullptr;
    b->verbose_outfile_logging = 0;
    if (b->verbose_outfile_fp)
        fclose(b->verbose_outfile_fp);
    b->verbose_outfile_fp = nullptr;
    pthread_mutex_unlock(log_fp_lock());
}

int mc_log_toggle_verbose_msg(const char *, FILE *out, int *)
{
    pthread_mutex_lock(log_fp_lock());
    bool on = log_backend()->verbose_fp != nullptr;
    pthread_mutex_unlock(log_fp_lock());
    if (on) {
        fputs("verbose Off.\n", out);
        verbose_off();
    } else {
        fputs("verbose ON.\n", out);
        verbose_on(out);
    }
    return 0;
}

int mc_log_verbose_msg_on(const char *, FILE *out, int *)
{
    verbose_on(out);
    return 0;
}

int mc_log_verbose_msg_off(const char *, FILE *, int *)
{
    verbose_off();
    return 0;
}

int mc_log_toggle_debug_printing(const char *, FILE *out, int *)
{
    log_backend_state *b = log_backend();
    pthread_mutex_lock(log_fp_lock());
    FILE *holder = b->debug_fp;
    if (holder == out) {
        b->debug_fp = nullptr;
        pthread_mutex_unlock(log_fp_lock());
        fputs("Debug Off.\n", out);
        return 0;
    }
    // One client at a time: the one that held the stream is told.
    if (holder && holder != stdout) {
        fputs("Debug Off.\n", holder);
        fflush(holder);
    }
    fputs("Debug On.\n", out);
    b->debug_fp = out;
    pthread_mutex_unlock(log_fp_lock());
    return 0;
}

// ---------------------------------------------------------------------------
// Message log lines and the full-trace markers

// Closes a log file, moves the generations up and opens the first name anew.
static void restart_log(FILE *&fp, void (*rotate)(), char **list, int count, const char *fail)
{
    if (fp)
        fclose(fp);
    fp = nullptr;
    rotate();
    if (count > 0 && list && list[0]) {
        fp = fopen(list[0], "w");
        if (!fp)
            fprintf(stderr, fail, list[0]);
    }
}

int mc_log_print_nlog_message(const char *arg, FILE *, int *)
{
    const char *x = arg ? arg : "";
    if (strlen(x) < 2 || x[1] != ':' || x[0] < '0' || x[0] > '9')
        return 0;
    int level = x[0] - '0';
    const char *text = x + 2;
    log_backend_state *b = log_backend();
    if (strcmp(text, ":Fulltrace started") == 0) {
        pthread_mutex_lock(log_fp_lock());
        restart_log(b->logrotate_fp, rotate_logfiles, b->logrotate_list, b->logrotate_listcount,
                    "failed opening logfile %s for writing\n");
        restart_log(b->nlogrotate_fp, rotate_nlogfiles, b->nlogrotate_list, b->nlogrotate_listcount,
                    "failed opening nlogfile %s for writing\n");
        pthread_mutex_unlock(log_fp_lock());
        LOGN(TARN, 16, "Fulltrace Started");
    }
    LOGN(TARN, level, "%s\n", text);
    if (strcmp(text, ":Fulltrace stopped") == 0) {
        LOGN(TARN, 16, "Fulltrace Stopped");
        pthread_mutex_lock(log_fp_lock());
        if (b->logrotate_fp)
            fflush(b->logrotate_fp);
        if (b->nlogrotate_fp)
            fflush(b->nlogrotate_fp);
        pthread_mutex_unlock(log_fp_lock());
    }
    return 0;
}

// ---------------------------------------------------------------------------
// CAS trace, statistics, registrations

int mc_cas_log_state(const char *, FILE *out, int *)
{
    fprintf(out, "cas log: %i\n", log_cas_enabled);
    return 0;
}

int mc_cas_log_set(const char *arg, FILE *out, int *)
{
    int value = atoi(arg ? arg : "");
    if (log_cas_enabled == 0 && value == 1) {
        log_cas_enabled = 1;
        log_msg_cas(0, CAS_LOG_INFO, "CASLOG START\n");
    } else if (log_cas_enabled == 1 && value == 0) {
        log_msg_cas(0, CAS_LOG_INFO, "CASLOG STOP\n");
        log_cas_enabled = 0;
    } else {
        log_cas_enabled = value;
    }
    fprintf(out, "cas log: %i\n", log_cas_enabled);
    return 0;
}

int mc_tarn_reset_call_statistics(const char *, FILE *out, int *)
{
    call_statistics_reset();
    fputs("Resetted call statistics\n", out);
    return 0;
}

int mc_test_retry_after(const char *, FILE *out, int *)
{
    if (!gp)
        return 0;
    if (gp->reject_register) {
        gp->reject_register = 0;
        fputs("Now accepting register requests", out);
    } else {
        gp->reject_register = 1;
        fputs("Now rejecting register requests", out);
    }
    return 0;
}
