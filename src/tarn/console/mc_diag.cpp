// Console commands for line tests and daemon diagnostics: analog off-hook
// and wink settings, the GSM caller-number parser, the lock and memory
// tests, the version, and the switches that route debug or notification
// output to the console connection.
#include "mc_diag.h"

#include <pthread.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analog_callctl.h"
#include "analogctl.h"
#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "call_reset.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "csm_parse.h"
#include "dialplan.h"
#include "dialplan_vars.h"
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
#include "pools.h"

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

// ---------------------------------------------------------------------------
// Caller-ID decoder, dial-plan normalisation and call-configuration pool

namespace {

enum { CID_PAYLOAD_MAX = 512, CSM_HEADER_BYTES = 8, CSM_FRAME_MAX = 255 };

// The hex digits of the text (blanks dropped) as bytes, at most max; an
// odd last digit is dropped.
std::vector<uint8_t> hex_bytes(const char *text, size_t max)
{
    std::vector<uint8_t> out;
    int high = -1;
    for (const char *p = text ? text : ""; *p && out.size() < max; p++) {
        if (*p == ' ' || *p == '\t')
            continue;
        if (!isxdigit((unsigned char)*p))
            break;
        int v = isdigit((unsigned char)*p) ? *p - '0' : (tolower((unsigned char)*p) - 'a' + 10);
        if (high < 0) {
            high = v;
        } else {
            out.push_back((uint8_t)(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

} // namespace

int mc_test_parse_analog_cid(const char *arg, FILE *out, int *)
{
    if (!gp)
        return 0;
    std::vector<uint8_t> payload = hex_bytes(arg, CID_PAYLOAD_MAX);
    // One frame of the media processor holds at most 255 bytes; the record
    // keeps 64 message bytes of it.
    if (payload.size() > CSM_FRAME_MAX - CSM_HEADER_BYTES)
        payload.resize(CSM_FRAME_MAX - CSM_HEADER_BYTES);
    std::vector<uint8_t> frame = {(uint8_t)(CSM_HEADER_BYTES + payload.size()), 0, CSM_TYPE_INDICATION,
                                  CSM_CLASS_CHANNEL, (uint8_t)(FC_CNDRXMSG & 0xff), (uint8_t)(FC_CNDRXMSG >> 8), 0, 0};
    frame.insert(frame.end(), payload.begin(), payload.end());
    int success = 0;
    magic_csm msg = msp_buffer_to_struct(frame.data(), (int)frame.size(), &success, 0);
    lock_hold hold(&lock_manager::global_lock);
    if (gp->test_co) {
        reset_op(gp->test_co);
        gp->test_co = nullptr;
    }
    gp->test_co = get_free_operation_handle(1);
    call_object *co = gp->test_co;
    if (co) {
        if (co->analog_oad)
            co->analog_oad[0] = '\0';
        if (!csm_msg_is_null(msg) && msg.u_csmchan_cndrxmsg_indication)
            parse_analog_callerid(co, msg.u_csmchan_cndrxmsg_indication);
        fprintf(out, "parsed analog number |%s|\n", co->analog_oad ? co->analog_oad : "");
    }
    if (!csm_msg_is_null(msg))
        delete_csm_msg(msg);
    return 0;
}

int mc_test_dp_auto(const char *, FILE *out, int *)
{
    if (!gp)
        return 0;
    static const char *const numbers[] = {"0049304716280", "00493012345678", "0049504716280",
                                          "00299504716280", "0304716280",     "03012345678",
                                          "02012345678",    "4716280",        "12345678"};
    const char *international = "00", *national = "0", *country = "0049";
    // The country code without the international prefix.
    snprintf(gp->test_dp_country_code, sizeof gp->test_dp_country_code, "%s", country + strlen(international));
    snprintf(gp->test_dp_city_code, sizeof gp->test_dp_city_code, "30");
    snprintf(gp->test_dp_local_area_code, sizeof gp->test_dp_local_area_code, "471628");
    gp->test_dp_auto = 1;
    fprintf(out, "Prefix International: %s\n", international);
    fprintf(out, "Prefix National     : %s\n", national);
    fprintf(out, "Country Code        : %s\n", gp->test_dp_country_code);
    fprintf(out, "City  Code          : %s\n", gp->test_dp_city_code);
    fprintf(out, "Local Area Code     : %s\n", gp->test_dp_local_area_code);

    auto co = std::make_unique<call_object>();
    init_call_object(co.get(), -1);
    co->callinfo = CI_SIP_TO_ISDN;
    cc_init_call_configuration(&co->cc);
    snprintf(co->cc.prefix_international, sizeof co->cc.prefix_international, "%s", international);
    snprintf(co->cc.prefix_national, sizeof co->cc.prefix_national, "%s", national);
    dialplan_element line{};
    co->dp = &line;
    for (const char *number : numbers) {
        fprintf(out, "\nTesting |%s|\n", number);
        co->new_destination = const_cast<char *>(number);
        for (int ton = 0; ton <= 5; ton++) {
            co->configured_ton = ton;
            dialplan_create_new_auto(co.get(), DP_AUTO_NEW_DESTINATION);
            fputs("\n######################################################\n", out);
            fprintf(out, "configured TON  %i, NEW_SRC |%s| =>  applied TON %i, NEW_SRC_AUTO |%s|\n", ton, number,
                    co->new_auto_ton, co->new_destination_auto ? co->new_destination_auto : "");
            free(co->new_destination_auto);
            co->new_destination_auto = nullptr;
        }
    }
    co->new_destination = nullptr;
    co->dp = nullptr;
    return 0;
}

int mc_cc_pool_show(const char *, FILE *out, int *)
{
    cc_print_call_configuration_pool(stdout, out);
    return 0;
}
