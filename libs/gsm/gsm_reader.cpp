// The reader thread of one modem port: initialises the modem, then reads every
// line, hands unsolicited lines to the event callback and runs the queued
// commands one at a time.
#include "gsm_io.h"
#include "gsm_log.h"
#include "gsm_modem_init.h"
#include "gsm_queue.h"
#include "gsm_settings.h"
#include "gsm_sms.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

static void strip_crlf(char *s)
{
    char *w = s;
    for (char *r = s; *r; r++)
        if (*r != '\r' && *r != '\n')
            *w++ = *r;
    *w = '\0';
}

static void deliver_line(_libgsm_ctlport_t *ctl, char *line)
{
    strip_crlf(line);
    if (!*line)
        return;
    ctl->cds_header_seen = strncmp(line, "+CDS:", 5) == 0;
    if (!libgsm_event_new_callback)
        return;
    gsm_command ev = {};
    ev.port = ctl->port;
    ev.response = line;
    libgsm_event_new_callback(&ev);
}

// An incomplete line (the read ended by its time-out). Returns true when the
// line is to be used as a complete one.
static bool incomplete_line(_libgsm_ctlport_t *ctl, char *line)
{
    const int port = ctl->port;
    if (line[0] == '>') {
        GLOG(0, port, "CRITICAL: ENCOUNTERED OPEN SMS PROMPT, CLOSING IT (1)\n");
        gsm_send_raw(port, "\x1b", 10, 0);
        gsm_send_raw(port, "\r", 10, 0);
        return false;
    }
    if (global_gsm_pdu_mode) {
        char clean[32];
        snprintf(clean, sizeof clean, "%s", line);
        strip_crlf(clean);
        if (strcmp(clean, "+CDS:") == 0) {
            GLOG(0, port, "CRITICAL: BROKEN CDS LINE %s\n", line);
            int ref = -1;
            gsm_sms_log_delivery(port, "", &ref);
            ctl->cds_header_seen = 0;
            return false;
        }
        if (ctl->cds_header_seen && strlen(line) >= 21 && isdigit((unsigned char)line[0])) {
            GLOG(0, port, "CRITICAL: INCOMPLETE CDS LINE %s, TRYING TO USE IT\n", line);
            return true;
        }
    }
    if (strncmp(line, "+CLIP:", 6) == 0) {
        GLOG(0, port, "CRITICAL: BROKEN CLIP LINE %s\n", line);
        return true;
    }
    if (line[0])
        GLOG(0, port, "CRITICAL: RECEIVED INCOMPLETE LINE(1) %s\n", line);
    ctl->cds_header_seen = 0;
    return false;
}

// Finishes every command still queued with an empty answer. The flag is
// cleared first and the list drained under its lock, so a command queued
// at the same moment is either refused or drained here.
static void drain_queue(int port)
{
    for (;;) {
        gsm_lock_queue(port);
        gsm_command *c = nullptr;
        if (gman && gman->gsm_command_queue[port]) {
            _listheadgsm *q = gman->gsm_command_queue[port];
            c = q->first;
            if (c) {
                q->first = c->list;
                if (!q->first)
                    q->last = nullptr;
                c->list = nullptr;
            }
        }
        gsm_unlock_queue(port);
        if (!c)
            break;
        finish_gsm_command_unanswered(c);
    }
}

void *new_gsm_event_thread(void *arg)
{
    _libgsm_ctlport_t *ctl = (_libgsm_ctlport_t *)arg;
    const int port = ctl->port;
    char name[16];
    snprintf(name, sizeof name, "tarn.gsm%i", port);
    prctl(PR_SET_NAME, name, 0, 0, 0);

    if (!libgsm_modem_init(ctl)) {
        GLOG(0, port, "init failed on port %i\n", port);
        ctl->successfully_initialized = 0;
        sem_post(&ctl->ready);
        return nullptr;
    }
    ctl->successfully_initialized = 1;
    ctl->lte_hook_applied = 0;
    sem_post(&ctl->ready);

    gsm_cid cid(port);
    char *line = (char *)malloc(GSM_LINE_SIZE);
    while (line) {
        bool input = false;
        if (ctl->hung_up) {
            // The device is gone: no reads, a slow beat until the port is
            // stopped; queued commands still end (with their error).
            usleep(100000);
        } else {
            struct pollfd pfd = {ctl->fd_r, POLLIN, 0};
            int pr = poll(&pfd, 1, 100);
            input = pr > 0 && (pfd.revents & (POLLIN | POLLHUP | POLLERR));
            if (pr > 0 && (pfd.revents & POLLNVAL))
                usleep(100000);
        }
        if (ctl->port_state == GSM_PORT_STATE_KILLME)
            break;
        if (!ctl->hung_up && (input || (global_gsm_read_method == 1 && ctl->read_len > 0))) {
            int r = gsm_read_line(cid.text, ctl, line, GSM_LINE_SIZE, 100, nullptr);
            if (r == 0 && !incomplete_line(ctl, line))
                continue;
            deliver_line(ctl, line);
            continue;
        }
        gsm_command *cmd = get_next_gsm_command(port);
        if (cmd)
            execute_gsm_command(ctl, cmd);
    }
    free(line);
    ctl->successfully_initialized = 0;
    drain_queue(port);
    GLOG(0, port, "CRITICAL: OUT AND GONE");
    return nullptr;
}
