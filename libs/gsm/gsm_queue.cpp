#include "gsm_queue.h"

#include "gsm_io.h"
#include "gsm_log.h"
#include "gsm_settings.h"
#include "gsm_sms.h"
#include "gsm_text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <regex.h>

gsm_command_manager *gman = nullptr;
char gsm_sms_last_cmgs_number[16][64];
int gsm_sms_last_cmgs_ids[16] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                 -1, -1, -1, -1, -1, -1, -1, -1};

#define E "(OK\r|ERROR\r|CMS ERROR.*\r|CME ERROR.*\r|NO CARRIER\r)"
#define E2 "(OK\r|ERROR\r|CMS ERROR.*\r|CME ERROR.*\r|NO CARRIER\r|BUSY\r|RING\r)"
// A dial also ends at the two final results that only a dial gives: with
// them missing a far end that never answers (or a line without dial tone)
// would hold the exchange to its limit and the call would never learn it.
#define E_ATD "(OK\r|ERROR\r|CMS ERROR.*\r|CME ERROR.*\r|NO CARRIER\r|BUSY\r|RING\r|NO ANSWER\r|NO DIALTONE\r)"

const _libgsm_command_definitions_t libgsm_command_definitions[37] = {
    {GSM_EVENT_TYPE_ATA, E, 5000, 16},
    {GSM_EVENT_TYPE_ATD, E_ATD, 30000, 16},
    {GSM_EVENT_TYPE_ATH, E2, 5000, 16},
    {GSM_EVENT_TYPE_SPN, E, 5000, 16},
    {GSM_EVENT_TYPE_CMGD, E, 5000, 16},
    {GSM_EVENT_TYPE_CMGF, E, 5000, 16},
    {GSM_EVENT_TYPE_CMGR, E, 30000, 16},
    {GSM_EVENT_TYPE_CMGS, E, 180000, 16},
    {GSM_EVENT_TYPE_CREG, E, 5000, 16},
    {GSM_EVENT_TYPE_CSCA, E, 5000, 16},
    {GSM_EVENT_TYPE_CSCS, E, 5000, 16},
    {GSM_EVENT_TYPE_PCT, E, 5000, 16},
    {GSM_EVENT_TYPE_CSQ, E, 5000, 16},
    {GSM_EVENT_TYPE_SERVINFO, E, 5000, 16},
    {GSM_EVENT_TYPE_CIMI, E, 5000, 16},
    {GSM_EVENT_TYPE_COPS, E, 60000, 64},
    {GSM_EVENT_TYPE_GSN, E, 5000, 16},
    {GSM_EVENT_TYPE_CGSN, E, 5000, 16},
    {GSM_EVENT_TYPE_CGMR, E, 5000, 16},
    {GSM_EVENT_TYPE_DVI, E, 5000, 16},
    {GSM_EVENT_TYPE_ATV, E, 5000, 16},
    {GSM_EVENT_TYPE_CUSD, E, 5000, 16},
    {GSM_EVENT_TYPE_CPIN, E, 5000, 16},
    {GSM_EVENT_TYPE_CLCK, E, 5000, 16},
    {GSM_EVENT_TYPE_CNMI, E, 5000, 16},
    {GSM_EVENT_TYPE_CSCB, E, 5000, 16},
    {GSM_EVENT_TYPE_CSMP, E, 5000, 16},
    {GSM_EVENT_TYPE_GENERIC_SHORT, E, 5000, 16},
    {GSM_EVENT_TYPE_GENERIC_LONG, E, 60000, 16},
    {GSM_EVENT_TYPE_CPMS, E, 5000, 16},
    {GSM_EVENT_TYPE_SWPKGV, E, 5000, 16},
    {GSM_EVENT_TYPE_CLIP, E, 5000, 16},
    {GSM_EVENT_TYPE_CLCC, E, 5000, 16},
    {GSM_EVENT_TYPE_CDIP, E, 5000, 16},
    {GSM_EVENT_TYPE_CSURV, E, 120000, 64},
    {GSM_EVENT_TYPE_CEER, E, 5000, 16},
    {GSM_EVENT_TYPE_UNKNOWN, "", 5000, 0},
};

#undef E
#undef E2
#undef E_ATD

static const char *const event_names[] = {
    "AT",       "ATA",      "ATD",   "ATH",     "DIALING", "RINGING", "RELEASED", "CONNECTED",
    "DISCONNECTED", "BUSY", "NOCARRIER", "NOANSWER", "CMEERROR", "CMSERROR", "CCWA", "CCFC",
    "CLCC",     "CIEV",     "UNKNOWN", "CMTI",  "CMGR",    "CMGD",    "CMGS",     "CREG",
    "CSCA",     "CSCS",     "CSSI",  "CSSU",    "RING",    "SPN",     "APP",      "PCT",
    "CSQ",      "DVI",      "CMGF",  "CLIP",    "CLIR",    "CSMP",    "CNMI",     "CSCB",
    "SERVINFO", "ECAM",     "CIMI",  "COPS",    "COPN",    "GSN",     "CGSN",     "CGMR",
    "AT&V",     "CUSD",     "CPIN",  "CLCK",    "GENERIC", "GENERIC", "CPMS",     "SWPKGV",
    "CDIP",     "CSURV",    "CEER",  "UNKNOWN"};

const char *gsm_event_to_string(int type)
{
    if (type < GSM_EVENT_TYPE_AT || type > GSM_EVENT_TYPE_UNKNOWN)
        return "UNKNOWN";
    return event_names[type - GSM_EVENT_TYPE_AT];
}

const _libgsm_command_definitions_t *get_event_description(int type)
{
    for (const auto &d : libgsm_command_definitions) {
        if (d.code == GSM_EVENT_TYPE_UNKNOWN)
            break;
        if (d.code == type)
            return &d;
    }
    return nullptr;
}

static _listheadgsm *queue_of(int port)
{
    if (!gman || port < 1 || port >= GSM_PORT_TABLE)
        return nullptr;
    return gman->gsm_command_queue[port];
}

void gsm_lock_queue(int port)
{
    _listheadgsm *q = queue_of(port);
    if (q)
        pthread_mutex_lock(&q->lock);
}

void gsm_unlock_queue(int port)
{
    _listheadgsm *q = queue_of(port);
    if (q)
        pthread_mutex_unlock(&q->lock);
}

void delete_gsm_command(gsm_command *cmd)
{
    if (!cmd)
        return;
    if (cmd->event_type != GSM_EVENT_TYPE_CMGS)
        free(cmd->send_cmd);
    // The waiting caller owns and destroys its semaphore.
    free(cmd);
}

// Text mode: every CMGS goes behind all other commands, keeping its order.
static void move_cmgs_to_tail(_listheadgsm *q)
{
    bool cmgs_seen = false, reorder = false;
    for (gsm_command *c = q->first; c; c = c->list) {
        if (c->event_type == GSM_EVENT_TYPE_CMGS)
            cmgs_seen = true;
        else if (cmgs_seen)
            reorder = true;
    }
    if (!reorder)
        return;
    gsm_command *others = nullptr, **otail = &others;
    gsm_command *sms = nullptr, **stail = &sms;
    for (gsm_command *c = q->first, *next; c; c = next) {
        next = c->list;
        c->list = nullptr;
        if (c->event_type == GSM_EVENT_TYPE_CMGS) {
            *stail = c;
            stail = &c->list;
        } else {
            *otail = c;
            otail = &c->list;
        }
    }
    *otail = sms;
    q->first = others;
    q->last = nullptr;
    for (gsm_command *c = q->first; c; c = c->list)
        q->last = c;
}

int gsm_queue_command(int port, int event_type, const void *command, void *context,
                      char **answer, int blocking, int notify)
{
    auto refuse_free = [&]() {
        if (event_type == GSM_EVENT_TYPE_CMGS && command)
            gsm_sms_free((gsm_outgoing_sms *)command);
    };
    _listheadgsm *q = queue_of(port);
    _libgsm_ctlport_t *ctl = q ? libgsm_getctlport(port) : nullptr;
    if (!ctl) {
        GLOG(0, port, "port %d: no ctl", port);
        refuse_free();
        errno = ENODEV;
        return -1;
    }
    if (!command) {
        GLOG(0, port, "port %d: no command", port);
        errno = EINVAL;
        return -1;
    }
    gsm_command *cmd = (gsm_command *)calloc(1, sizeof *cmd);
    if (!cmd) {
        refuse_free();
        errno = ENOMEM;
        return -1;
    }
    cmd->event_type = event_type;
    cmd->port = port;
    if (event_type == GSM_EVENT_TYPE_CMGS) {
        cmd->send_cmd = (char *)command;
    } else {
        cmd->send_cmd = strdup((const char *)command);
        if (!cmd->send_cmd) {
            free(cmd);
            errno = ENOMEM;
            return -1;
        }
    }
    cmd->notify = notify;
    cmd->answer = answer;
    cmd->context = context;
    sem_t sem;
    if (blocking) {
        sem_init(&sem, 0, 0);
        cmd->semablock = &sem;
    }

    pthread_mutex_lock(&q->lock);
    // Checked under the list lock: the reader drains the list under the same
    // lock after clearing the flag, so nothing queued here can be forgotten.
    if (!ctl->successfully_initialized) {
        pthread_mutex_unlock(&q->lock);
        GLOG(0, port, "gsm port %i not successfully initialized, not queuing commands", port);
        if (blocking)
            sem_destroy(&sem);
        cmd->semablock = nullptr;
        delete_gsm_command(cmd);
        refuse_free();
        errno = EAGAIN;
        return -1;
    }
    if (q->last)
        q->last->list = cmd;
    else
        q->first = cmd;
    q->last = cmd;
    if (!global_gsm_pdu_mode)
        move_cmgs_to_tail(q);
    pthread_mutex_unlock(&q->lock);

    if (blocking) {
        while (sem_wait(&sem) < 0 && errno == EINTR) {
        }
        sem_destroy(&sem);
    }
    return 0;
}

void list_gsm_queue(int port, FILE *stream, int lock)
{
    _listheadgsm *q = queue_of(port);
    if (!q || !stream)
        return;
    if (lock)
        pthread_mutex_lock(&q->lock);
    int i = 0;
    for (gsm_command *c = q->first; c; c = c->list, i++) {
        if (c->event_type == GSM_EVENT_TYPE_CMGS)
            continue;
        fprintf(stream, "port %i: %03i: ev %i %s", port, i, c->event_type,
                c->send_cmd ? c->send_cmd : "");
    }
    if (lock)
        pthread_mutex_unlock(&q->lock);
}

gsm_command *get_next_gsm_command(int port)
{
    _listheadgsm *q = queue_of(port);
    if (!q)
        return nullptr;
    pthread_mutex_lock(&q->lock);
    gsm_command *c = q->first;
    if (c && global_gsm_pdu_mode && c->event_type == GSM_EVENT_TYPE_CMGS && port < 8 &&
        global_gsm_cds_waiting[port] >= 1)
        c = nullptr;
    if (c) {
        q->first = c->list;
        if (!q->first)
            q->last = nullptr;
        c->list = nullptr;
    }
    pthread_mutex_unlock(&q->lock);
    return c;
}

// Hands the answer to the caller's slot, frees the record and wakes a
// waiting caller. A CMGS record that was not handed to the event callback
// is freed here.
static void wake_and_free(gsm_command *cmd, const char *answer, bool sms_handed_over)
{
    if (cmd->answer)
        *cmd->answer = strdup(answer ? answer : "");
    sem_t *s = cmd->semablock;
    if (cmd->event_type == GSM_EVENT_TYPE_CMGS && !sms_handed_over && cmd->send_cmd)
        gsm_sms_free((gsm_outgoing_sms *)cmd->send_cmd);
    delete_gsm_command(cmd);
    if (s)
        sem_post(s);
}

void finish_gsm_command_unanswered(gsm_command *cmd)
{
    if (!cmd)
        return;
    wake_and_free(cmd, "", false);
}

const char *echo_collector(const char *expected, char *echobuf, int echobuf_size,
                           const char *line, int *complete)
{
    static const char *const indications[] = {"+CIEV", "+CMTI", "#ECAM", "RING",
                                              "+CLIP", "+CSS",  "NO CARRIER"};
    const char *found = nullptr;
    for (const char *ind : indications) {
        found = strstr(line, ind);
        if (found)
            break;
    }
    size_t take = found ? (size_t)(found - line) : strlen(line);
    size_t have = strlen(echobuf);
    for (size_t i = 0; i < take && have + 1 < (size_t)echobuf_size; i++) {
        if (line[i] == '\r' || line[i] == '\n')
            continue;
        echobuf[have++] = line[i];
    }
    echobuf[have] = '\0';
    if (complete)
        *complete = expected && strcmp(echobuf, expected) == 0;
    return found;
}

void gsm_answer_tidy(char *a)
{
    size_t n = strlen(a);
    if (n == 2 && a[0] == '\r' && a[1] == '\n') {
        a[0] = '\0';
        return;
    }
    while (n >= 5 && memcmp(a + n - 4, "\r\n\r\n", 4) == 0)
        a[n -= 2] = '\0';
    while (n >= 4 && memcmp(a + n - 3, "\r\r\n", 3) == 0)
        a[n -= 2] = '\0';
}

static void strip_crlf(char *s)
{
    char *w = s;
    for (char *r = s; *r; r++)
        if (*r != '\r' && *r != '\n')
            *w++ = *r;
    *w = '\0';
}

static void deliver_unsolicited(int port, const char *text)
{
    if (!libgsm_event_new_callback || !text || !*text)
        return;
    gsm_command ev = {};
    ev.port = port;
    ev.response = strdup(text);
    if (!ev.response)
        return;
    strip_crlf(ev.response);
    if (*ev.response)
        libgsm_event_new_callback(&ev);
    free(ev.response);
}

static void send_escape(int port)
{
    gsm_send_raw(port, "\x1b", 10, 0);
    gsm_send_raw(port, "\r", 10, 0);
}

static long long remaining_ms(int start_tick, int timeout)
{
    return (long long)timeout + (long long)start_tick * 100 - (long long)gsm_time.load() * 100;
}

// Builds the command line for a CMGS and stores the expected echo.
static void cmgs_line(_libgsm_ctlport_t *ctl, gsm_outgoing_sms *sms, char *out, size_t size)
{
    gettimeofday(&sms->start_timestamp, nullptr);
    if (sms->pdu_mode) {
        snprintf(out, size, "AT+CMGS=%i\r", sms->pdu_cmgs_length);
        return;
    }
    const char *number = sms->number ? sms->number : "";
    if (ctl->cfg && ctl->cfg->gsm_enc == GSM_ENC_UCS2) {
        char *hex = libgsm_utf8_to_ucs2(number);
        snprintf(out, size, "AT+CMGS=%s%s\r", hex ? hex : "", number[0] == '+' ? ",145" : ",129");
        free(hex);
    } else {
        snprintf(out, size, "AT+CMGS=%s\r", number);
    }
}

void execute_gsm_command(_libgsm_ctlport_t *ctl, gsm_command *cmd)
{
    const int port = ctl->port;
    gsm_cid cid(port);
    const bool is_cmgs = cmd->event_type == GSM_EVENT_TYPE_CMGS;
    gsm_outgoing_sms *sms = is_cmgs ? (gsm_outgoing_sms *)cmd->send_cmd : nullptr;
    const char *what = is_cmgs ? "CMGS" : cmd->send_cmd;
    const _libgsm_command_definitions_t *def = get_event_description(cmd->event_type);
    if (!def || (is_cmgs && !sms)) {
        GLOG(0, port, "CRITICAL: couldn't get event description for event %i", cmd->event_type);
        finish_gsm_command_unanswered(cmd);
        return;
    }
    regex_t end_re;
    if (regcomp(&end_re, def->end, REG_EXTENDED) != 0) {
        GLOG(0, port, "CRITICAL: couldn't get event description for event %i", cmd->event_type);
        finish_gsm_command_unanswered(cmd);
        return;
    }
    const int timeout = gsm_scaled_wait_ms(def->timeout);
    char *answer = (char *)malloc(GSM_ANSWER_SIZE);
    char *line = (char *)malloc(GSM_LINE_SIZE);
    char *clean = (char *)malloc(GSM_LINE_SIZE);
    char echobuf[GSM_ECHO_SIZE];
    char expected[GSM_ECHO_SIZE];
    if (!answer || !line || !clean) {
        free(answer);
        free(line);
        free(clean);
        regfree(&end_re);
        finish_gsm_command_unanswered(cmd);
        return;
    }
    answer[0] = '\0';
    bool complete = false, collected = false, delivered = false;
    int start = 0;

    for (int attempt = 1; attempt <= 3; attempt++) {
        start = gsm_time.load();
        // Send.
        char sendline[GSM_ECHO_SIZE];
        if (is_cmgs) {
            cmgs_line(ctl, sms, sendline, sizeof sendline);
            gsm_send_raw(port, sendline, 100, 1);
        } else {
            size_t cut = strcspn(cmd->send_cmd, "\r\n");
            if (cut > sizeof sendline - 2)
                cut = sizeof sendline - 2;
            memcpy(sendline, cmd->send_cmd, cut);
            sendline[cut] = '\0';
            gsm_send(port, sendline, 100);
        }
        snprintf(expected, sizeof expected, "%s", sendline);
        strip_crlf(expected);
        GLOG(9, port, "Firing gsm event %s: |%s|", gsm_event_to_string(cmd->event_type), expected);

        // Echo.
        bool echo = false;
        echobuf[0] = '\0';
        for (;;) {
            long long rem = remaining_ms(start, timeout);
            // A message's prompt ends its line without a terminator: read it
            // as a line, or a lost echo would hold the port to the limit.
            int r = rem >= 1 ? gsm_read_line(cid.text, ctl, line, GSM_LINE_SIZE, (int)rem,
                                             is_cmgs ? "> " : nullptr)
                             : 0;
            if (r == 0) {
                GLOG(0, port, "CRITICAL: GOT INCOMPLETE LINE(2), COMMAND LOST |%s| => |%s|", what,
                     line);
                send_escape(port);
                break;
            }
            if (is_cmgs && line[0] == '>') {
                // The modem took the command but its echo came garbled: the
                // prompt is closed and the command counts as without echo.
                GLOG(0, port, "CRITICAL: SMS PROMPT BEFORE ECHO, CLOSING IT |%s| echobuffer => |%s|",
                     expected, echobuf);
                send_escape(port);
                break;
            }
            snprintf(clean, GSM_LINE_SIZE, "%s", line);
            strip_crlf(clean);
            if (strcmp(clean, expected) == 0) {
                GLOG(9, port, "found echo: ms left %lli of total %i", remaining_ms(start, timeout),
                     timeout);
                echo = true;
                break;
            }
            int echo_complete = 0;
            const char *ind = echo_collector(expected, echobuf, sizeof echobuf, line, &echo_complete);
            if (echo_complete && !ind) {
                echo = true;
                break;
            }
            GLOG(0, port, "CRITICAL: INTERRUPTED before echo => |%s| extracted => |%s| echobuffer => |%s|",
                 clean, ind ? ind : "", echobuf);
            if (ind)
                deliver_unsolicited(port, ind);
            if (echo_complete) {
                echo = true;
                break;
            }
            if (ctl->hung_up || gsm_port_stopping(ctl))
                break;
        }
        if (!echo) {
            if (attempt == 3 || ctl->hung_up || gsm_port_stopping(ctl)) {
                GLOG(0, port, "CRITICAL: there is no hope, sacrificing command at retry %i\n", attempt);
                break;
            }
            GLOG(0, port, "CRITICAL: Found no echo => trying again (%i tries so far)", attempt);
            continue;
        }

        // Answer.
        collected = true;
        answer[0] = '\0';
        size_t alen = 0;
        bool truncated = false;
        if (port < 16)
            gsm_sms_last_cmgs_ids[port] = -1;
        clean[0] = '\0';
        for (;;) {
            long long rem = remaining_ms(start, timeout);
            int r;
            if (is_cmgs) {
                if (strncmp(clean, "+CMGS: ", 7) == 0 && port < 16)
                    gsm_sms_last_cmgs_ids[port] = atoi(clean + 7);
                r = rem >= 1 ? gsm_read_line(cid.text, ctl, line, GSM_LINE_SIZE, (int)rem, "> ") : 0;
                GLOG(9, port, "timeout now %lli", rem);
                if (r == 1 && line[0] == '>') {
                    if (port < 16)
                        snprintf(gsm_sms_last_cmgs_number[port], sizeof gsm_sms_last_cmgs_number[port],
                                 "%s", sms->number ? sms->number : "");
                    if (sms->pdu_mode) {
                        size_t bl = sms->pdu_block ? strlen(sms->pdu_block) : 0;
                        char *block = (char *)malloc(bl + 2);
                        if (block) {
                            memcpy(block, sms->pdu_block ? sms->pdu_block : "", bl);
                            block[bl] = '\r';
                            block[bl + 1] = '\0';
                            gsm_send_raw(port, block, 10, 1);
                            free(block);
                        }
                    } else {
                        gsm_sms_msg_write(port, sms->msg ? sms->msg : "");
                    }
                    clean[0] = '\0';
                    continue;
                }
                if (r == 0 || remaining_ms(start, timeout) < 1) {
                    // Close a prompt that may still be open.
                    send_escape(port);
                    GLOG(0, port, "CRITICAL: GOT INCOMPLETE LINE(3), COMMAND LOST |%s| => |%s|", what,
                         line);
                    break;
                }
            } else {
                r = rem >= 1 ? gsm_read_line(cid.text, ctl, line, GSM_LINE_SIZE, (int)rem, nullptr) : 0;
                if (r == 0 || remaining_ms(start, timeout) < 1) {
                    GLOG(0, port, "CRITICAL: GOT INCOMPLETE LINE(3), COMMAND LOST |%s| => |%s|", what,
                         line);
                    break;
                }
            }
            snprintf(clean, GSM_LINE_SIZE, "%s", line);
            strip_crlf(clean);
            // Append within the bound; past it the answer keeps its first
            // GSM_ANSWER_SIZE-1 bytes unchanged and later lines only end it.
            size_t ll = strlen(line);
            if (!truncated) {
                size_t room = GSM_ANSWER_SIZE - 1 - alen;
                if (ll > room) {
                    truncated = true;
                    GLOG(0, port, "CRITICAL: answer to %s exceeds %i bytes, keeping the first %i", what,
                         GSM_ANSWER_SIZE - 1, GSM_ANSWER_SIZE - 1);
                    memcpy(answer + alen, line, room);
                    alen += room;
                    answer[alen] = '\0';
                } else {
                    memcpy(answer + alen, line, ll + 1);
                    alen += ll;
                    gsm_answer_tidy(answer);
                    alen = strlen(answer);
                }
            }
            if (regexec(&end_re, line, 0, nullptr, 0) != 0)
                continue;
            if (alen >= 2 && answer[alen - 2] == '\r' && answer[alen - 1] == '\n')
                answer[--alen] = '\0';
            GLOG(9, port, "Collected Answer for %s: |%s|, ms left |%lli| of |%i|", what, answer,
                 remaining_ms(start, timeout), timeout);
            complete = true;
            if (cmd->notify && libgsm_event_new_callback) {
                cmd->response = answer;
                libgsm_event_new_callback(cmd);
                cmd->response = nullptr;
                delivered = true;
            }
            break;
        }
        break;
    }
    regfree(&end_re);
    if (!complete)
        GLOG(0, port, "CRITICAL: GSM NO END OF ANSWER FOUND");
    // A message whose exchange broke off still goes to its receiver, who
    // counts the attempt and retries or files it as failed; so does a dial,
    // whose call must end when the modem never gave its result.
    const bool hand_over = is_cmgs || cmd->event_type == GSM_EVENT_TYPE_ATD;
    if (hand_over && cmd->notify && !delivered && libgsm_event_new_callback) {
        cmd->response = answer;
        libgsm_event_new_callback(cmd);
        cmd->response = nullptr;
        delivered = true;
    }
    wake_and_free(cmd, collected ? answer : "", is_cmgs && delivered);
    free(answer);
    free(line);
    free(clean);
}
