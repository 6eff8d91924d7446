#include "gsm_net.h"

#include "gsm_io.h"
#include "gsm_log.h"
#include "gsm_port.h"
#include "gsm_queue.h"
#include "gsm_settings.h"
#include "gsm_text.h"
#include "lineif.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <regex.h>
#include <string>
#include <unistd.h>

static int query(int port, int type, const char *cmd)
{
    gsm_queue_command(port, type, cmd, nullptr, nullptr, 0, 1);
    return 1;
}

int gsm_net_pin_counter(int port) { return query(port, GSM_EVENT_TYPE_PCT, "AT#PCT\r\n"); }
int gsm_net_get_signal_quality(int port) { return query(port, GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n"); }
int gsm_net_get_status(int port) { return query(port, GSM_EVENT_TYPE_CREG, "AT+CREG?\r\n"); }
int gsm_net_get_provider(int port) { return query(port, GSM_EVENT_TYPE_SPN, "AT#SPN\r\n"); }
int gsm_net_get_provider_servinfo(int port)
{
    return query(port, GSM_EVENT_TYPE_SERVINFO, "AT#SERVINFO\r\n");
}

void gsm_update_led_regstatus(int port, int regstatus)
{
    if (regstatus == GSM_REG_STATUS_HOME || regstatus == GSM_REG_STATUS_ROAMING) {
        GLOG(9, port, "GSM LED powered on (regstatus = %i)", regstatus);
        libgsm_ctrl_led(port, 1, GSM_LED_ON);
    } else {
        GLOG(9, port, "GSM LED powered off (regstatus = %i)", regstatus);
        libgsm_ctrl_led(port, 1, GSM_LED_OFF);
    }
}

const char *gsm_net_reg_to_string(int status)
{
    switch (status) {
    case 0: return "not registered";
    case 1: return "registered (home)";
    case 2: return "searching";
    case 3: return "denied";
    case 4: return "unknown";
    case 5: return "registered (roaming)";
    default: return "invalid";
    }
}

static bool digits_only(const char *s)
{
    if (!s || !*s || strlen(s) > 16)
        return false;
    for (; *s; s++)
        if (*s < '0' || *s > '9')
            return false;
    return true;
}

int gsm_net_change_pin(int port, const char *pin, const char *new_pin)
{
    // Digits only: a PIN goes into a command line.
    if (!digits_only(pin) || !digits_only(new_pin)) {
        errno = EINVAL;
        return 0;
    }
    char cmd[64];
    snprintf(cmd, sizeof cmd, "AT+CPIN=%s,%s\r", pin, new_pin);
    return gsm_send_raw(port, cmd, GSM_TIMEOUT_DEFAULT, 1);
}

// One command through the port's queue; 1 when the answer ends with OK.
static int exchange_ok(int port, const char *cmd)
{
    char *answer = nullptr;
    std::string line = std::string(cmd) + "\r\n";
    if (gsm_queue_command(port, GSM_EVENT_TYPE_GENERIC_SHORT, line.c_str(), nullptr, &answer, 1, 0) < 0)
        return 0;
    int ok = answer && strstr(answer, "OK\r") != nullptr;
    free(answer);
    return ok;
}

int gsm_modem_sms_parms(int port)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl || !ctl->cfg) {
        errno = EINVAL;
        return 0;
    }
    int errors = 0;
    std::string cmds[6];
    int n = 0;
    int len = 0;
    const char *m = libgsm_regexp(ctl->cfg->smsc, "[+0-9][0-9]+", &len, 0);
    if (ctl->cfg->smsc[0] && m && len == (int)strlen(ctl->cfg->smsc)) {
        cmds[n++] = std::string("AT+CSCA=") + ctl->cfg->smsc;
    } else {
        GLOG(0, port, "CRITICAL: INVALID SMSC: |%s|\n", ctl->cfg->smsc);
        errors++;
    }
    switch (ctl->cfg->gsm_enc) {
    case GSM_ENC_ISO88591: cmds[n++] = "AT+CSCS=8859-1"; break;
    case GSM_ENC_PCCP437: cmds[n++] = "AT+CSCS=PCCP437"; break;
    case GSM_ENC_UCS2: cmds[n++] = "AT+CSCS=UCS2"; break;
    case GSM_ENC_GSM: cmds[n++] = "AT+CSCS=GSM"; break;
    default: cmds[n++] = "AT+CSCS=IRA"; break;
    }
    cmds[n++] = global_gsm_pdu_mode ? "AT+CMGF=0" : "AT+CMGF=1";
    cmds[n++] = "AT+CSMP=17,167,0,8";
    cmds[n++] = "AT+CNMI=2,1,0,1,0";
    for (int i = 0; i < n; i++) {
        if (!exchange_ok(port, cmds[i].c_str())) {
            GLOG(0, port, "CRITICAL: FAILED SENDING: %s\n", cmds[i].c_str());
            errors++;
        }
    }
    if (errors)
        GLOG(0, port, "CRITICAL: %i errors occurred\n", errors);
    return errors ? 0 : 1;
}

int libgsm_flush_device(const char *device)
{
    int fd = lineif_open(device, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return 0;
    int removed = 0;
    for (int rounds = 0; rounds < 600; rounds++) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0)
            break;
        char buf[512];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        removed += (int)n;
    }
    close(fd);
    GLOG(5, 0, "initial flushing %s finished, removed %i bytes", device, removed);
    return 1;
}

int libgsm_parse_cusd(const char *line, int *status, char **text)
{
    if (status)
        *status = -1;
    if (text)
        *text = nullptr;
    if (!line)
        return 0;
    char copy[512];
    snprintf(copy, sizeof copy, "%s", line);
    const char *p = copy;
    if (strncmp(p, "+CUSD: ", 7) == 0)
        p += 7;
    if (*p >= '0' && *p <= '9' && status)
        *status = atoi(p);
    const char *comma = strchr(p, ',');
    if (!comma)
        return 0;
    const char *q1 = strchr(comma, '"');
    const char *q2 = q1 ? strchr(q1 + 1, '"') : nullptr;
    if (!q2)
        return 0;
    std::string hex(q1 + 1, (size_t)(q2 - q1 - 1));
    char *utf = libgsm_ucs2_to_utf8(hex.c_str());
    if (!utf)
        return 0;
    if (text)
        *text = utf;
    else
        free(utf);
    return 1;
}
