// Console commands for line tests and daemon diagnostics: analog off-hook
// and wink settings, the GSM caller-number parser, the lock and memory
// tests, the version, and the switches that route debug or notification
// output to the console connection.
#include "mc_diag.h"

#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "analog_callctl.h"
#include "analogctl.h"
#include "application.h"
#include "console.h"
#include "global_lock.h"
#include "gsm_call.h"
#include "gsm_queue.h"
#include "gsm_settings.h"
#include "gsm_types.h"
#include "line_bringup.h"
#include "log.h"
#include "log_backend.h"
#include "pcm_bridging.h"
#include "pg_port_groups.h"

int mc_set_analog_offhook(const char *arg, FILE *out, int *)
{
    const char *a = arg ? arg : "";
    int port = atoi(a);
    const char *colon = strchr(a, ':');
    int mode = colon ? atoi(colon + 1) : 1;
    char error[256] = "";
    if (set_fxo_offhooked(port, mode == 2 ? 0 : 1, error, sizeof error) == 0)
        fputs("success\n", out);
    else
        fprintf(out, "error:%s\n", error);
    return 0;
}

int mc_analog_set_wink(const char *arg, FILE *out, int *)
{
    const char *a = arg ? arg : "";
    const char *c1 = strchr(a, ':');
    const char *c2 = c1 ? strchr(c1 + 1, ':') : nullptr;
    if (!c2)
        return 0;
    int port = atoi(a), offset = atoi(c1 + 1), duration = atoi(c2 + 1);
    fprintf(out, "PORT %i OFFSET %i DURATION %i\n", port, offset, duration);
    port_group_analog *g = pg_get_port_group_analog_by_port(port);
    if (!g)
        return 0;
    g->fxs_wink_duration = duration;
    g->fxs_wink_offset = offset;
    if (analog_ctlport *p = get_analog_ctlport(port))
        p->fxs_wink_duration = duration;
    return 0;
}

int mc_test_parse_lte_clip(const char *arg, FILE *out, int *)
{
    _gsm_event_clip_t *clip = libgsm_parse_clip(1, arg ? arg : "");
    if (!clip)
        return 0;
    fprintf(out, "CLIP |%s|\n", clip->number);
    free(clip);
    return 0;
}

int mc_gsm_get_pdu_mode(const char *, FILE *out, int *)
{
    fprintf(out, "%i\n", global_gsm_pdu_mode);
    return 0;
}

int mc_gsm_set_pdu_mode(const char *arg, FILE *, int *)
{
    int x = atoi(arg ? arg : "");
    char cmd[32];
    snprintf(cmd, sizeof cmd, "AT+CMGF=%d\r\n", x == 0 || x == 1 ? 1 - x : 0);
    for (int port : configured_port_numbers(gp ? gp->config_gsm : nullptr))
        gsm_queue_command(port, GSM_EVENT_TYPE_CMGF, cmd, nullptr, nullptr, 0, 0);
    global_gsm_pdu_mode = x;
    return 0;
}

// ---------------------------------------------------------------------------
// Daemon diagnostics

int mc_tarn_test_global_lock(const char *, FILE *out, int *)
{
    fputs("BEFORE LOCK\n", out);
    fflush(out);
    {
        lock_hold hold(&lock_manager::global_lock);
        fputs("DURING LOCK\n", out);
        fflush(out);
    }
    fputs("AFTER LOCK\n", out);
    return 0;
}

int mc_leak_mem(const char *arg, FILE *, int *)
{
    int n = atoi(arg ? arg : "");
    if (n <= 0) {
        printf("not allocating %i bytes\n", n);
        return 0;
    }
    printf("allocating %i bytes\n", n);
    void *p = malloc((size_t)n);
    if (p)
        memset(p, 0xFF, (size_t)n);
    return 0; // left allocated on purpose: the test of the memory watchdog
}

static char *test_buffer;
static int test_buffer_size;

int mc_alloc_mem(const char *arg, FILE *out, int *)
{
    int n = atoi(arg ? arg : "");
    if (n >= 0 && test_buffer) {
        fprintf(out, "releasing %i bytes\n", test_buffer_size);
        free(test_buffer);
        test_buffer = nullptr;
        test_buffer_size = 0;
    }
    if (n <= 0) {
        fprintf(out, "not allocating %i bytes\n", n);
        return 0;
    }
    test_buffer = (char *)malloc((size_t)n);
    if (!test_buffer) {
        fprintf(out, "not allocating %i bytes\n", n);
        return 0;
    }
    memset(test_buffer, 0xFF, (size_t)n);
    test_buffer_size = n;
    fprintf(out, "allocating %i bytes\n", n);
    return 0;
}

int mc_print_appfs_version(const char *, FILE *out, int *)
{
    char text[128];
    size_t n = 0;
    for (const char *p = gp ? gp->firmware_version : ""; *p && n < sizeof text - 1; p++) {
        if (*p == '"')
            continue;
        text[n++] = *p == ' ' ? '-' : *p;
    }
    text[n] = '\0';
    fprintf(out, "%s\n", text);
    return 0;
}

int mc_tarn_list_remote_pcm(const char *, FILE *out, int *)
{
    pcm_print_table(out);
    return 0;
}

int mc_full_telnet_debugging(const char *, FILE *out, int *)
{
    pthread_mutex_lock(log_fp_lock());
    log_backend()->debug_fp = out;
    pthread_mutex_unlock(log_fp_lock());
    log_levels_message_enabled = 1;
    log_levels_debug_enabled = 1;
    for (int question : {3, 4}) {
        int st = question;
        mc_handle_extrainfo("9", out, &st);
    }
    return 0;
}

int mc_activate_snmp_notify(const char *, FILE *out, int *)
{
    pthread_mutex_lock(log_fp_lock());
    log_backend()->snmp_notify_fp = out;
    pthread_mutex_unlock(log_fp_lock());
    return 0;
}
