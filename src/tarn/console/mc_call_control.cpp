// Console commands that end calls and the daemon, loop a call's audio,
// force a T.38 re-INVITE, try the dial plan with a made-up call of each
// technology, query ENUM and address records, and small test aids.
#include "mc_call_control.h"

#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "console_hooks.h"
#include "dialplan_console.h"
#include "dns_cache.h"
#include "log.h"
#include "pg_listings.h"
#include "pools.h"
#include "sm_defs.h"
#include "sm_run.h"
#include "t1e1casctl.h"
#include "timer.h"

int mc_test_variables[MC_TEST_VARIABLES];

namespace {

enum { ORIGIN_CONSOLE_ONE = 6, ORIGIN_CONSOLE_ALL = 7, DNS_RESULT_SIZE = 2048, ALL_TRANSPORTS = 7,
       CAS_CLEAR_WAIT_US = 300 * 1000, DMALLOC_EXIT = 81 };

} // namespace

int mc_tarn_finish_call_by_index(const char *arg, FILE *out, int *)
{
    finish_call(out, atoi(arg), ORIGIN_CONSOLE_ONE);
    return 0;
}

int mc_tarn_finish_call_by_pid(const char *arg, FILE *out, int *)
{
    finish_call_by_pid(out, atoi(arg));
    return 0;
}

int mc_tarn_finish_all_calls(const char *, FILE *out, int *)
{
    for (int i = 0; gp && i < OPERATIONARRAYSIZE; i++)
        if (get_operation_by_index(i))
            finish_call(out, i, ORIGIN_CONSOLE_ALL);
    return 0;
}

int mc_tarn_shutdown(const char *, FILE *out, int *)
{
    fprintf(out, "Are you sure you want to shutdown tarn? [y/n]\n");
    return 2;
}

int mc_tarn_instant_shutdown(const char *, FILE *out, int *)
{
    fprintf(stderr, "tarn: got termination requested!\n");
    fprintf(out, "Shutting down application!\n");
    fflush(out);
    mc_hooks().shutdown_nua();
    return 0;
}

int mc_tarn_segfault(const char *, FILE *out, int *)
{
    fprintf(out, "Segfaulting..\n");
    fprintf(out, "\r\n");
    fflush(out);
    // No cleanup: the process ends as a crash would end it.
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
    _exit(128 + SIGSEGV);
}

int mc_tarn_loop_rtp_for_call_index(const char *arg, FILE *out, int *)
{
    int index = atoi(arg);
    call_object *co = get_operation_by_index(index);
    if (!co || co->tdm_logical_timeslot < 0) {
        fprintf(out, "Do not have active call on index %i\n", index);
        return 0;
    }
    // co->cc is the call's own merged copy of its configuration: calls
    // sharing the configuration string keep theirs.
    co->cc.rtp_loopback = 1;
    co->cc.rtp_loopback_set = 1;
    fprintf(out, "Looping call on index %i\n", index);
    mc_hooks().add_sm_task(co, sm_general(GENERAL_EVENT_RTP_LOOPBACK));
    return 0;
}

int mc_tarn_dbg_t38_reinvite(const char *arg, FILE *, int *)
{
    if (call_object *co = get_operation_by_index(atoi(arg)))
        mc_hooks().add_sm_task(co, sm_timer(T_EVENT_FORCE_T38));
    return 0;
}

int mc_dialplan_test_from_sip(const char *arg, FILE *out, int *)
{
    dialplan_make_test_from_sip(out, arg);
    return 0;
}

int mc_dialplan_test_from_isdn(const char *arg, FILE *out, int *)
{
    dialplan_make_test_from_isdn(out, arg);
    return 0;
}

int mc_dialplan_test_from_analog(const char *arg, FILE *out, int *)
{
    dialplan_make_test_from_analog(out, arg);
    return 0;
}

int mc_dialplan_test_from_gsm(const char *arg, FILE *out, int *)
{
    dialplan_make_test_from_gsm(out, arg);
    return 0;
}

int mc_tarn_dns_query_enum(const char *arg, FILE *out, int *)
{
    char result[DNS_RESULT_SIZE] = "";
    int t = resolve_naptr(arg, result, sizeof result, ALL_TRANSPORTS, 1, nullptr, nullptr, nullptr);
    if (t < 0)
        fprintf(out, "resolve_naptr failed\n");
    else
        fprintf(out, "%s |%s|\n", pg_sip_print_transport(t), result);
    return 0;
}

int mc_tarn_dns_query_name(const char *arg, FILE *out, int *)
{
    char result[DNS_RESULT_SIZE] = "";
    resolve_address_to_regexp(arg, result, sizeof result);
    fprintf(out, "%s: |%s|\n", arg, result);
    return 0;
}

int mc_util_sleep(const char *arg, FILE *, int *)
{
    int seconds = atoi(arg);
    printf("sleeping %i\n", seconds);
    fflush(stdout);
    if (seconds > 0)
        sleep((unsigned)seconds);
    return 0;
}

int mc_util_telnet_test_variable(const char *arg, FILE *out, int *)
{
    if (arg[0]) {
        int which = isdigit((unsigned char)arg[0]) ? arg[0] - '0' : 0;
        mc_test_variables[which] = atoi(arg + 1);
    }
    for (int i = 0; i < MC_TEST_VARIABLES; i++)
        fprintf(out, "var[%i] = %i\n", i, mc_test_variables[i]);
    return 0;
}

int mc_util_test_stuff(const char *arg, FILE *out, int *)
{
    cas_send(1, arg);
    fprintf(out, "GOT: %s\n", arg);
    return 0;
}

int mc_cas_e1_clear_port(const char *arg, FILE *, int *)
{
    int port = atoi(arg);
    cas_send(port, "1101");
    usleep(CAS_CLEAR_WAIT_US);
    cas_send(port, "1001");
    return 0;
}

int mc_tarn_dmalloc_exit(const char *, FILE *, int *)
{
    _tarn_exit(DMALLOC_EXIT, __FILE__, __LINE__, "dmalloc exit");
}

int mc_tarn_dmalloc_write(const char *, FILE *out, int *)
{
    fprintf(out, "no dmalloc support\n");
    return 0;
}
