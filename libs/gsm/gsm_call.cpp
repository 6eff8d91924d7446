#include "gsm_call.h"

#include "gsm_io.h"
#include "gsm_log.h"
#include "gsm_port.h"
#include "gsm_queue.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

int gsm_dial_number_is_valid(const char *number)
{
    if (!number)
        return 0;
    size_t n = strlen(number);
    if (n == 0 || n > 64)
        return 0;
    // dial characters, then the modifiers ATD takes after them: I or i
    // (restrict or allow the caller id for this call), then G or g (closed
    // user group)
    size_t end = n;
    if (end > 1 && (number[end - 1] == 'G' || number[end - 1] == 'g'))
        end--;
    if (end > 1 && (number[end - 1] == 'I' || number[end - 1] == 'i'))
        end--;
    for (size_t i = 0; i < end; i++) {
        char c = number[i];
        if (!((c >= '0' && c <= '9') || c == '*' || c == '#' || c == '+' || (c >= 'A' && c <= 'D')))
            return 0;
    }
    return 1;
}

int gsm_call_num_port(int port, const char *number, int nonvoice)
{
    if (!number)
        return -EINVAL;
    // The number goes into a command line: nothing but dial characters, so
    // it can neither end the command (";", CR) nor add another.
    if (!gsm_dial_number_is_valid(number)) {
        GLOG(0, port, "port %i: refusing to dial |%.64s|: not a dial string", port, number);
        return -EINVAL;
    }
    if (!libgsm_port_fetch(port))
        return -EBUSY;
    char cmd[96];
    snprintf(cmd, sizeof cmd, "ATD%s%s", number, nonvoice ? "" : ";");
    if (gsm_queue_command(port, GSM_EVENT_TYPE_ATD, cmd, nullptr, nullptr, 0, 1) < 0) {
        libgsm_port_release(port);
        return -EAGAIN;
    }
    return port;
}

int gsm_call_answ(int port)
{
    gsm_queue_command(port, GSM_EVENT_TYPE_ATA, "ATA", nullptr, nullptr, 0, 1);
    return 1;
}

int gsm_call_hangup(int port)
{
    gsm_queue_command(port, GSM_EVENT_TYPE_ATH, "ATH", nullptr, nullptr, 0, 1);
    libgsm_port_release(port);
    return 1;
}

int gsm_send_event(int port, int event)
{
    (void)port;
    (void)event;
    return 0;
}

// Copies a field [b, e) without double quotes, bounded.
static void copy_field(char *out, size_t size, const char *b, const char *e)
{
    size_t n = 0;
    for (const char *p = b; p < e && n + 1 < size; p++)
        if (*p != '"')
            out[n++] = *p;
    out[n] = '\0';
}

_gsm_event_clip_t *libgsm_parse_clip(int port, const char *line)
{
    (void)port;
    if (!line)
        return nullptr;
    const char *p = strstr(line, "+CLIP: ");
    if (!p)
        return nullptr;
    p += 7;
    const char *comma = strchr(p, ',');
    if (!comma)
        return nullptr;
    _gsm_event_clip_t *c = (_gsm_event_clip_t *)calloc(1, sizeof *c);
    if (!c)
        return nullptr;
    copy_field(c->number, sizeof c->number, p, comma);
    // Fields after the number: type, subaddress, satype, name, validity.
    const char *f[5] = {};
    const char *fe[5] = {};
    const char *s = comma + 1;
    for (int i = 0; i < 5 && s; i++) {
        f[i] = s;
        const char *n = strchr(s, ',');
        fe[i] = n ? n : s + strlen(s);
        s = n ? n + 1 : nullptr;
    }
    if (f[0])
        c->type = atoi(f[0]);
    if (f[3])
        copy_field(c->name, sizeof c->name, f[3], fe[3]);
    if (f[4])
        c->validity = atoi(f[4]);
    return c;
}

int libgsm_event_ecam(int port, int status, const char *text, int *call_id)
{
    (void)port;
    (void)status;
    if (!text)
        return -1;
    const char *comma = strchr(text, ',');
    if (!comma)
        return -1;
    if (call_id)
        *call_id = atoi(text);
    return atoi(comma + 1);
}

// Sends a command line at once ("%s\r"), with lock and a 10 ms pause.
static int send_now(int port, const char *cmd)
{
    char line[256];
    snprintf(line, sizeof line, "%s\r", cmd);
    return gsm_send_raw(port, line, GSM_TIMEOUT_DEFAULT, 1);
}

int gsm_port_get_free()
{
    int count = gsm_port_get_count();
    for (int i = 1; i <= count; i++)
        if (libgsm_ctlport[i].port && libgsm_ctlport[i].port_state == GSM_PORT_STATE_IDLE)
            return libgsm_ctlport[i].port;
    return -1;
}

int gsm_call_num(const char *number)
{
    if (!number)
        return -22;
    if (!gsm_dial_number_is_valid(number))
        return -22;
    int port = gsm_port_get_free();
    if (port < 0)
        return -19;
    if (!libgsm_port_fetch(port))
        return -1;
    char cmd[96];
    snprintf(cmd, sizeof cmd, "ATD%s;", number);
    send_now(port, cmd);
    return port;
}

int gsm_call_holding(int port, int hold, unsigned call_index)
{
    if (port < 0 || call_index == 0) {
        errno = EINVAL;
        return 0;
    }
    char cmd[32];
    switch (hold) {
    case GSM_CALL_HOLD_ADD: snprintf(cmd, sizeof cmd, "AT+CHLD=3"); break;
    case GSM_CALL_ACTV_RELEASE: snprintf(cmd, sizeof cmd, "AT+CHLD=1%u", call_index); break;
    case GSM_CALL_ACTV_HOLD: snprintf(cmd, sizeof cmd, "AT+CHLD=2%u", call_index); break;
    case GSM_CALL_TRANSFER: snprintf(cmd, sizeof cmd, "AT+CHLD=4"); break;
    default: snprintf(cmd, sizeof cmd, "AT+CHLD=0"); break;
    }
    return send_now(port, cmd);
}

int gsm_call_get_list(int port)
{
    return send_now(port, "AT+CLCC");
}

int gsm_send_dtmf(int port, char tone, unsigned duration)
{
    if (!((tone >= '0' && tone <= '9') || tone == '*' || tone == '#' || (tone >= 'A' && tone <= 'D'))) {
        errno = EINVAL;
        return 0;
    }
    char cmd[32];
    snprintf(cmd, sizeof cmd, "AT+VTS=%c,%u", tone, duration);
    return send_now(port, cmd);
}

int gsm_modem_clip(int port, unsigned on)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl) {
        errno = EINVAL;
        return 0;
    }
    if (ctl->cfg)
        ctl->cfg->clip = (int)on;
    char cmd[32];
    snprintf(cmd, sizeof cmd, "AT+CLIP=%u", on);
    return send_now(port, cmd);
}

int gsm_modem_clir(int port, unsigned mode)
{
    if (mode > 2) {
        errno = EINVAL;
        return 0;
    }
    char cmd[32];
    snprintf(cmd, sizeof cmd, "AT+CLIR=%u", mode);
    return send_now(port, cmd);
}

int gsm_modem_dvi_conf(int port, int role)
{
    static const char *const cmds[] = {"AT#DVI=1,1,1", "AT#DVI=1,1,0", "AT#DVI=1,2,1", "AT#DVI=1,2,0"};
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl || role < GSM_DVI_ONE_MASTER || role > GSM_DVI_TWO_SLAVE) {
        errno = EINVAL;
        return 0;
    }
    if (ctl->cfg)
        ctl->cfg->dvi_cfg = role;
    return send_now(port, cmds[role]);
}

int gsm_modem_call_forwarding(int port, unsigned reason, unsigned command, unsigned cls,
                              const char *number, unsigned type, unsigned time)
{
    if (reason > GSM_FW_REASON_ALL_COND_CALLS || command > GSM_FW_CMD_ERASURE ||
        (number && *number && !gsm_dial_number_is_valid(number))) {
        errno = EINVAL;
        return 0;
    }
    char cmd[160];
    int n = snprintf(cmd, sizeof cmd, "AT+CCFC=%u,%u", reason, command);
    if (number && *number)
        n += snprintf(cmd + n, sizeof cmd - (size_t)n, ",%s,%u", number, type);
    if (cls)
        n += snprintf(cmd + n, sizeof cmd - (size_t)n, ",%u", cls);
    if (time)
        snprintf(cmd + n, sizeof cmd - (size_t)n, ",,,%u", time > 30 ? 30 : time);
    return send_now(port, cmd);
}

int gsm_modem_call_waiting(int port, unsigned command, unsigned report, unsigned cls)
{
    if (command > 2 || report > 1) {
        errno = EINVAL;
        return 0;
    }
    char cmd[48];
    snprintf(cmd, sizeof cmd, "AT+CCWA=%u,%u,%u", report, command, cls);
    return send_now(port, cmd);
}

int gsm_modem_sms_incoming_sound_off(int port)
{
    return send_now(port, "AT+CALM=2");
}

int gsm_modem_error_reporting(int port, int mode)
{
    if (mode < 0 || mode > 1) {
        errno = EINVAL;
        return 0;
    }
    char cmd[16];
    snprintf(cmd, sizeof cmd, "AT+CMEE=%d", mode);
    return send_now(port, cmd);
}
