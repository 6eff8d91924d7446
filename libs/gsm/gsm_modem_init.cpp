#include "gsm_modem_init.h"

#include "gsm_cbm.h"
#include "gsm_io.h"
#include "gsm_log.h"
#include "gsm_settings.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>

enum { EXPECT_LINE = 1024 };

// Reads one line up to LF byte by byte; every byte may take ms. Returns 1
// with the line (without CR/LF from the first CR on), 0 on time-out or a
// device that hung up.
static int read_byte_line(_libgsm_ctlport_t *ctl, char *line, int size, int ms)
{
    int len = 0;
    line[0] = '\0';
    for (;;) {
        char c;
        if (!gsm_read_byte(ctl, &c, ms))
            return 0;
        if (c == '\0')
            continue;
        if (c == '\n')
            break;
        if (len < size - 1) {
            line[len++] = c;
            line[len] = '\0';
        }
    }
    return 1;
}

static void cut_at_cr(char *line)
{
    char *cr = strchr(line, '\r');
    if (cr)
        *cr = '\0';
}

int libgsm_send_expect(_libgsm_ctlport_t *ctl, const char *command, const char *expect, int wait,
                       char **answer, int pause_ms, int seconds)
{
    if (!ctl) {
        GLOG(0, 0, "libgsm_send_expect ctl==NULL");
        return 0;
    }
    const int port = ctl->port;
    GLOG(5, port, "sending to port %i => %s (fdw %i)", port, command, ctl->fd_w);
    gsm_send(port, command, pause_ms < 100 ? 100 : pause_ms);
    GLOG(5, port, "port %d: sent: |%s|", port, command);
    GLOG(5, port, "port %d: exp:  |%s|", port, expect);
    char cmd[EXPECT_LINE];
    snprintf(cmd, sizeof cmd, "%s", command);
    cmd[strcspn(cmd, "\r\n")] = '\0';
    const int byte_ms = gsm_scaled_wait_ms(seconds * 1000);
    bool echo = false;
    char line[EXPECT_LINE];
    for (;;) {
        if (!read_byte_line(ctl, line, sizeof line, byte_ms)) {
            GLOG(5, port, "select timed out for %s", cmd);
            return 0;
        }
        GLOG(5, port, "port %d: read: |%s|", port, line);
        cut_at_cr(line);
        if (!echo) {
            // Lines before the echo belong to nothing we asked.
            if (strcasecmp(line, cmd) == 0)
                echo = true;
            continue;
        }
        if (strcasecmp(line, expect) == 0) {
            GLOG(5, port, "port %d: rcv:  |%s|", port, line);
            return 1;
        }
        if (strcmp(line, "OK") == 0 || strcmp(line, "ERROR") == 0)
            return 0;
        if (strncmp(line, "+CME ERROR", 10) == 0 && global_gsm_libexpect_accept_cme_error)
            return 0;
        if (wait)
            continue;
        GLOG(5, port, "port %d: xrcv: |%s|", port, line);
        if (answer && !*answer && line[0])
            *answer = strdup(line);
    }
}

static void set_message(_libgsm_ctlport_t *ctl, const char *fmt, const char *arg)
{
    if (ctl->cfg)
        snprintf(ctl->cfg->messages, sizeof ctl->cfg->messages, fmt, arg);
}

// One exchange of a special step; a failure is written into messages.
static int special_exchange(_libgsm_ctlport_t *ctl, const char *command, const char *expect,
                            int seconds, const char *fail_text = nullptr)
{
    int r = libgsm_send_expect(ctl, command, expect, 0, nullptr, 100, seconds);
    if (!r) {
        if (fail_text)
            set_message(ctl, "%s", fail_text);
        else
            set_message(ctl, "%s failed", command);
    }
    return r;
}

static void step_simdet(_libgsm_ctlport_t *ctl)
{
    if (libgsm_send_expect(ctl, "AT#SIMDET?", "#SIMDET: 2,1", 0, nullptr, 100, 10))
        return;
    GLOG(5, ctl->port, "no SIM card detected, setting detection mode to SIM is present.");
    if (special_exchange(ctl, "AT#SIMDET=1", "OK", 10, "AT#SIMDET=1 failed"))
        gsm_pause_ms(10000);
}

static void retrigger_simdet(_libgsm_ctlport_t *ctl)
{
    libgsm_send_expect(ctl, "AT#SIMDET=0", "OK", 0, nullptr, 100, 5);
    libgsm_send_expect(ctl, "AT#SIMDET=1", "OK", 0, nullptr, 100, 5);
    gsm_pause_ms(10000);
}

static void step_network_connect(_libgsm_ctlport_t *ctl)
{
    const int port = ctl->port;
    if (!ctl->cfg || !ctl->cfg->pin[0]) {
        gsm_pause_ms(1000);
        return;
    }
    if (global_gsm_sim_detect_fix) {
        libgsm_send_expect(ctl, "AT#SIMDET=0", "OK", 0, nullptr, 100, 5);
        gsm_pause_ms(3000);
        libgsm_send_expect(ctl, "AT#SIMDET=1", "OK", 0, nullptr, 100, 5);
        gsm_pause_ms(10000);
    }
    libgsm_send_expect(ctl, "AT+CPIN?", "OK", 0, nullptr, 100, 30);

    // Poll the SIM until it reports its PIN state.
    int retries = 0;
    bool cpin_seen = false;
    gsm_send(port, "AT+CPIN?", 100);
    char line[EXPECT_LINE];
    const int byte_ms = gsm_scaled_wait_ms(1000);
    for (;;) {
        if (!read_byte_line(ctl, line, sizeof line, byte_ms)) {
            if (cpin_seen || retries > 3 || ctl->hung_up)
                break;
            gsm_send(port, "AT+CPIN?", 100);
            retries++;
            continue;
        }
        cut_at_cr(line);
        if (strcmp(line, "OK") == 0)
            break;
        if (strncmp(line, "+CPIN", 5) == 0) {
            cpin_seen = true;
        } else if (strncmp(line, "+CME ERROR", 10) == 0) {
            retrigger_simdet(ctl);
            retries++;
            if (retries > 3)
                break;
            gsm_send(port, "AT+CPIN?", 100);
        }
    }

    char cmd[64];
    snprintf(cmd, sizeof cmd, "AT+CPIN=%s", ctl->cfg->pin);
    if (libgsm_send_expect(ctl, cmd, "OK", 0, nullptr, 100, 30)) {
        libgsm_ctrl_led(port, 1, GSM_LED_ON);
        gsm_pause_ms(1000);
    } else {
        set_message(ctl, "%s", "AT+CPIN failed");
        errno = EWRONGPIN;
        GLOG(0, port, "libgsm_network_connect failed for port %i", port);
    }
}

static void step_sms_params(_libgsm_ctlport_t *ctl)
{
    const int port = ctl->port;
    gsm_config_t *cfg = ctl->cfg;
    char cmd[320];
    if (cfg && cfg->smsc[0]) {
        snprintf(cmd, sizeof cmd, "AT+CSCA=%s", cfg->smsc);
        if (!special_exchange(ctl, cmd, "OK", 10))
            errno = ESENDCMD;
    } else if (!cfg || !cfg->cbm_enable) {
        return;
    }
    if (cfg)
        cfg->gsm_enc = GSM_ENC_UCS2;
    if (!special_exchange(ctl, "AT+CSCS=\"UCS2\"", "OK", 10, "AT+CSCS=UCS2 failed"))
        errno = ESENDCMD;
    const char *cmgf = global_gsm_pdu_mode ? "AT+CMGF=0" : "AT+CMGF=1";
    if (!special_exchange(ctl, cmgf, "OK", 10))
        errno = ESENDCMD;
    if (!special_exchange(ctl, "AT+CSMP=17,167,0,8", "OK", 10))
        errno = ESENDCMD;
    if (global_gsm_cbm_enable) {
        if (!special_exchange(ctl, "AT+CNMI=2,1,2,1,0", "OK", 10)) {
            errno = ESENDCMD;
            GLOG(0, port, "GSM port %i: %s failed, cell broadcast will not be reported", port,
                 "AT+CNMI=2,1,2,1,0");
        }
        const char *clear = "AT+CSCB=1,\"\",\"\"";
        if (!special_exchange(ctl, clear, "OK", 10)) {
            errno = ESENDCMD;
            GLOG(0, port, "GSM port %i: %s failed, a stale reject list may still hide channels",
                 port, clear);
        }
        char mids[256];
        gsm_cbm_normalised_mids(mids, sizeof mids);
        snprintf(cmd, sizeof cmd, "AT+CSCB=0,\"%s\",\"\"", mids);
        if (!special_exchange(ctl, cmd, "OK", 10)) {
            errno = ESENDCMD;
            GLOG(0, port, "GSM port %i: %s failed, no cell broadcast channel subscribed", port, cmd);
        }
        char *answer = nullptr;
        libgsm_send_expect(ctl, "AT+CSCB?", "OK", 0, &answer, 100, 10);
        GLOG(0, port, "GSM port %i: cell broadcast subscription is %s", port, answer ? answer : "");
        free(answer);
    } else if (!special_exchange(ctl, "AT+CNMI=2,1,0,1,0", "OK", 10)) {
        errno = ESENDCMD;
    }
    if (!special_exchange(ctl, "AT+CSDH=1", "OK", 10))
        errno = ESENDCMD;
    if (!special_exchange(ctl, "AT+CMGD=1,4", "OK", 10))
        errno = ESENDCMD;
}

static void step_codec(_libgsm_ctlport_t *ctl)
{
    char cmd[32];
    snprintf(cmd, sizeof cmd, "AT#CODEC=%i", ctl->cfg ? ctl->cfg->codec : 0);
    if (special_exchange(ctl, cmd, "OK", 10) && global_gsm_dtmf_notification_handle)
        special_exchange(ctl, "AT#DTMF=1", "OK", 10);
}

static void step_provider(_libgsm_ctlport_t *ctl)
{
    gsm_config_t *cfg = ctl->cfg;
    if (!cfg)
        return;
    char cmd[64];
    if ((cfg->provider_mode == 1 || cfg->provider_mode == 4) && cfg->provider_id != 0) {
        snprintf(cmd, sizeof cmd, "AT+COPS=%i,2,%i,%i", cfg->provider_mode, cfg->provider_id,
                 cfg->access_technology);
    } else if (cfg->provider_mode == 0) {
        snprintf(cmd, sizeof cmd, "AT+COPS=0");
    } else {
        return;
    }
    special_exchange(ctl, cmd, "OK", 10);
}

static const gsm_init_table *detect_model(_libgsm_ctlport_t *ctl)
{
    const int port = ctl->port;
    const gsm_init_table *table = nullptr;
    for (int attempt = 1; attempt <= 3 && !table; attempt++) {
        char *answer = nullptr;
        libgsm_send_expect(ctl, "AT+GMM", "OK", 0, &answer, 100, 10);
        if (answer) {
            char *w = answer;
            for (char *r = answer; *r; r++)
                if (*r != '\r' && *r != '\n')
                    *w++ = *r;
            *w = '\0';
        }
        table = gsm_init_table_for_model(answer, ctl->modem_name, sizeof ctl->modem_name);
        if (!table) {
            GLOG(0, port, "AT+GMM try %i: no known module type in |%s|", attempt,
                 answer ? answer : "");
            if (attempt < 3)
                gsm_pause_ms(1000);
        }
        free(answer);
    }
    if (!table) {
        char dummy[32];
        table = gsm_init_table_for_model(gsm_port_is_lte(port) ? "LE910C1" : "GE865", dummy,
                                         sizeof dummy);
        snprintf(ctl->modem_name, sizeof ctl->modem_name, "UNKNOWN");
    }
    GLOG(0, port, "detected module type |%s|", ctl->modem_name);
    return table;
}

int libgsm_modem_init(_libgsm_ctlport_t *ctl)
{
    if (!ctl) {
        errno = EINVAL;
        return 0;
    }
    const int port = ctl->port;
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    for (int i = 0; i < 20; i++) {
        if (libgsm_send_expect(ctl, "AT", "OK", 0, nullptr, 100, 2))
            break;
        if (ctl->hung_up)
            break;
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    GLOG(0, port, "module responded after %li seconds", (long)(t1.tv_sec - t0.tv_sec));
    libgsm_send_expect(ctl, "AT&F0", "OK", 0, nullptr, 100, 10);

    const gsm_init_table *table = detect_model(ctl);
    for (int i = 0; i < table->count; i++) {
        const gsm_init_command *step = &table->steps[i];
        if (strncmp(step->send, "AT#PCT", 6) == 0)
            gsm_pause_ms(200);
        if (strncmp(step->send, "AT#Z=0", 6) == 0 && !gsm_restore_profile)
            continue;
        if (strncmp(step->send, "SPECIAL_", 8) == 0) {
            if (strcmp(step->send, "SPECIAL_SIMDET") == 0)
                step_simdet(ctl);
            else if (strcmp(step->send, "SPECIAL_NETWORK_CONNECT") == 0)
                step_network_connect(ctl);
            else if (strcmp(step->send, "SPECIAL_SMS_PARAMS") == 0)
                step_sms_params(ctl);
            else if (strcmp(step->send, "SPECIAL_CODEC") == 0)
                step_codec(ctl);
            else if (strcmp(step->send, "SPECIAL_PROVIDER") == 0)
                step_provider(ctl);
            continue;
        }
        int r = libgsm_send_expect(ctl, step->send, step->expect, 0, nullptr, 100, step->timeout);
        if (r != step->fail_match)
            continue;
        if (!step->return_on_error)
            continue;
        libgsm_port_close(ctl);
        set_message(ctl, "%s failed", step->send);
        errno = step->errnocode;
        return 0;
    }
    // A stop asked for meanwhile wins over IDLE.
    int st = ctl->port_state;
    if (st == GSM_PORT_STATE_NONE || st == GSM_PORT_STATE_INUSE)
        ctl->port_state = GSM_PORT_STATE_IDLE;
    return 1;
}
