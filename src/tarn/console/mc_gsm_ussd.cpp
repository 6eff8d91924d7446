// USSD codes sent from the console and the answers the modems gave, and the
// text conversions between UTF-8, UCS-2 hex and packed GSM 7-bit hex.
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "global_lock.h"
#include "gsm_events.h"
#include "gsm_lib.h"
#include "mc_gsm.h"

namespace {

// Frees the port's stored code and answer; gsm_cusd_lock held.
void clear_port(int port)
{
    free(gp->gsm_cusd_send_buffer[port]);
    gp->gsm_cusd_send_buffer[port] = nullptr;
    free(gp->gsm_cusd_response_buffer[port]);
    gp->gsm_cusd_response_buffer[port] = nullptr;
}

bool valid_port(int port, FILE *out)
{
    if (port >= 1 && port <= GSM_MAX_PORTS)
        return true;
    fprintf(out, "invalid port %i\n", port);
    return false;
}

// One stored answer: "RESPONSE [m] => text" or "NO TEXT RESPONSE [m]".
void print_answer(FILE *out, const char *stored)
{
    char copy[GSM_CUSD_ANSWER_MAX + 1];
    snprintf(copy, sizeof copy, "%s", stored);
    const char *p = strncmp(copy, "+CUSD: ", 7) == 0 ? copy + 7 : copy;
    int status = -1;
    if (*p && *p != ',')
        status = atoi(p);
    char *text = nullptr;
    const char *comma = strchr(p, ',');
    const char *q1 = comma ? strchr(comma + 1, '"') : nullptr;
    const char *q2 = q1 ? strchr(q1 + 1, '"') : nullptr;
    if (q2)
        text = libgsm_ucs2_to_utf8(std::string(q1 + 1, q2 - q1 - 1).c_str());
    if (text)
        fprintf(out, "RESPONSE [%i] => %s\n", status, text);
    else
        fprintf(out, "NO TEXT RESPONSE [%i]\n", status);
    free(text);
}

} // namespace

int mc_gsm_ussd_send_code(const char *arg, FILE *out, int *)
{
    if (!arg[0] || arg[1] != ':') {
        fprintf(out, "invalid string\n");
        return 0;
    }
    int port = arg[0] - '0';
    if (!gp || !valid_port(port, out))
        return 0;
    char cmd[300];
    {
        lock_hold hold(&lock_manager::gsm_cusd_lock);
        clear_port(port);
        snprintf(cmd, sizeof cmd, "AT+CUSD=1,%.255s,0\r\n", arg + 2);
        gp->gsm_cusd_send_buffer[port] = strndup(arg + 2, 255);
    }
    gsm_queue_command(port, GSM_EVENT_TYPE_CUSD, cmd, nullptr, nullptr, 0, 1);
    return 0;
}

int mc_gsm_ussd_show_stats(const char *, FILE *out, int *)
{
    if (!gp)
        return 0;
    lock_hold hold(&lock_manager::gsm_cusd_lock);
    for (int port = 1; port <= GSM_MAX_PORTS; port++) {
        if (!gp->gsm_cusd_send_buffer[port])
            continue;
        fprintf(out, "GSM PORT %i: |%s|\n", port, gp->gsm_cusd_send_buffer[port]);
        if (!gp->gsm_cusd_response_buffer[port])
            fprintf(out, "NO RESPONSE\n");
        else
            print_answer(out, gp->gsm_cusd_response_buffer[port]);
    }
    return 0;
}

int mc_gsm_ussd_reset_stats(const char *, FILE *, int *)
{
    if (!gp)
        return 0;
    lock_hold hold(&lock_manager::gsm_cusd_lock);
    for (int port = 1; port <= GSM_MAX_PORTS; port++)
        clear_port(port);
    return 0;
}

int mc_gsm_ussd_cancel_command(const char *arg, FILE *out, int *)
{
    int port = atoi(arg);
    if (!gp || !valid_port(port, out))
        return 0;
    lock_hold hold(&lock_manager::gsm_cusd_lock);
    clear_port(port);
    gsm_queue_command(port, GSM_EVENT_TYPE_CUSD, "AT+CUSD=2\r\n", nullptr, nullptr, 0, 0);
    return 0;
}

int mc_util_utf8_to_ucs2(const char *arg, FILE *out, int *)
{
    char *s = libgsm_utf8_to_ucs2(arg);
    fprintf(out, "UCS2: |%s|\n", s ? s : "");
    free(s);
    return 0;
}

int mc_util_ucs2_to_utf8(const char *arg, FILE *out, int *)
{
    char *s = libgsm_ucs2_to_utf8(arg);
    fprintf(out, "UTF8: |%s|\n", s ? s : "");
    free(s);
    return 0;
}

int mc_util_gsm_to_utf8(const char *arg, FILE *out, int *)
{
    unsigned char bytes[2048];
    char text[2048];
    int n = texthex_to_binhex(arg, bytes, sizeof bytes);
    text[0] = '\0';
    if (n > 0)
        decode_7bit(bytes, n, text, sizeof text);
    fprintf(out, "UTF8: |%s|\n", text);
    return 0;
}
