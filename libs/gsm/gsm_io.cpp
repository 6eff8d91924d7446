#include "gsm_io.h"

#include "gsm_log.h"
#include "gsm_settings.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <regex.h>
#include <unistd.h>

static long long now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool gsm_port_stopping(const _libgsm_ctlport_t *ctl)
{
    return ctl->port_state == GSM_PORT_STATE_KILLME;
}

enum { STOP_CHECK_MS = 100 };

static void mark_hung_up(_libgsm_ctlport_t *ctl)
{
    if (!ctl->hung_up.exchange(1))
        GLOG(0, ctl->port, "CRITICAL: port %i: modem device hung up, backing off", (int)ctl->port);
}

int gsm_send_raw(int port, const char *text, int pause_ms, int lock)
{
    GLOG(9, port, "<<< %s >>>", text ? text : "(null)");
    if (!text) {
        errno = EINVAL;
        return 0;
    }
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl) {
        errno = EINVAL;
        return 0;
    }
    if (lock)
        pthread_mutex_lock(&gsmlib_send_lock[port]);
    size_t len = strlen(text);
    size_t done = 0;
    ssize_t n = 0;
    int tries = 0;
    while (done < len) {
        n = write(ctl->fd_w, text + done, len - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            GLOG(0, port, "CRITICAL: port %d: writing failed", port);
            if (errno == EIO)
                mark_hung_up(ctl);
            break;
        }
        done += (size_t)n;
        if (done < len) {
            // A partial write: the rest follows after a short pause, but a
            // device that takes nothing for a whole second is given up.
            if (n == 0 && ++tries > 100) {
                GLOG(0, port, "CRITICAL: port %d: writing failed", port);
                break;
            }
            usleep(10000);
        }
    }
    // A terminal need not support fsync (EINVAL); that is not an error here.
    if (ctl->fd_w >= 0)
        (void)fsync(ctl->fd_w);
    if (pause_ms > 0)
        gsm_pause_ms(pause_ms);
    if (lock)
        pthread_mutex_unlock(&gsmlib_send_lock[port]);
    return (int)n;
}

int gsm_send(int port, const char *text, int pause_ms)
{
    if (!text) {
        errno = EINVAL;
        return 0;
    }
    size_t cut = strcspn(text, "\r\n");
    char *line = (char *)malloc(cut + 2);
    if (!line) {
        errno = ENOMEM;
        return 0;
    }
    memcpy(line, text, cut);
    line[cut] = '\r';
    line[cut + 1] = '\0';
    int r = gsm_send_raw(port, line, pause_ms, 1);
    free(line);
    return r;
}

int gsm_buffer_append(_libgsm_ctlport_t *ctl, const char *data, int len)
{
    int kept = 0;
    bool nul = false;
    for (int i = 0; i < len; i++) {
        if (data[i] == '\0') {
            nul = true;
            continue;
        }
        if (ctl->read_len >= GSM_READ_BUFFER_SIZE - 1)
            break;
        ctl->read_buffer[ctl->read_len++] = data[i];
        kept++;
    }
    ctl->read_buffer[ctl->read_len] = '\0';
    if (nul)
        GLOG(0, ctl->port, "CRITICAL: NULL BYTE READ");
    return kept;
}

static void buffer_consume(_libgsm_ctlport_t *ctl, int n)
{
    if (n >= ctl->read_len) {
        ctl->read_len = 0;
    } else {
        memmove(ctl->read_buffer, ctl->read_buffer + n, (size_t)(ctl->read_len - n));
        ctl->read_len -= n;
    }
    ctl->read_buffer[ctl->read_len] = '\0';
}

int gsm_extract_buffered_line(const char *cid, _libgsm_ctlport_t *ctl, char *line, int size,
                              const char *prompt, int cr_at_end)
{
    (void)cid;
    if (!ctl || !line || size < 2)
        return 0;
    const char *buf = ctl->read_buffer;
    int len = ctl->read_len;
    if (prompt && *prompt) {
        int plen = (int)strlen(prompt);
        if (len >= plen && memcmp(buf, prompt, (size_t)plen) == 0 && plen < size) {
            memcpy(line, prompt, (size_t)plen);
            line[plen] = '\0';
            buffer_consume(ctl, plen);
            return 1;
        }
    }
    int i = 0;
    while (i < len && buf[i] != '\r' && buf[i] != '\n')
        i++;
    if (i == len)
        return 0;
    int end = i + 1;
    if (buf[i] == '\r') {
        if (i + 1 < len) {
            if (buf[i + 1] == '\n')
                end = i + 2;
        } else if (!cr_at_end) {
            return 0;
        }
    }
    if (end >= size) {
        GLOG(0, ctl->port,
             "CRITICAL: complete GSM line (%i bytes) exceeds target buffer (%i bytes)", end, size);
        buffer_consume(ctl, end);
        return -1;
    }
    memcpy(line, buf, (size_t)end);
    line[end] = '\0';
    buffer_consume(ctl, end);
    return 1;
}

int gsm_read_line_new(const char *cid, _libgsm_ctlport_t *ctl, char *line, int size,
                      int timeout_ms, const char *prompt)
{
    if (!line || !ctl || size < 2 || timeout_ms < 0)
        return 0;
    line[0] = '\0';
    long long deadline = now_ms() + timeout_ms;
    for (;;) {
        int r = gsm_extract_buffered_line(cid, ctl, line, size, prompt, 0);
        if (r == 1)
            return 1;
        if (r == -1)
            continue;
        if (ctl->read_len > GSM_READ_BUFFER_SIZE - 2) {
            int n = size - 1;
            memcpy(line, ctl->read_buffer, (size_t)n);
            line[n] = '\0';
            buffer_consume(ctl, n);
            GLOG(0, ctl->port, "CRITICAL: GSM read buffer full without line terminator");
            return 1;
        }
        if (ctl->hung_up || gsm_port_stopping(ctl))
            break;
        long long remaining = deadline - now_ms();
        if (remaining <= 0)
            break;
        // A CR at the very end of the buffer may still get its LF: give it a
        // moment before the CR alone ends the line.
        bool cr_pending = ctl->read_len > 0 && ctl->read_buffer[ctl->read_len - 1] == '\r';
        int wait = remaining < STOP_CHECK_MS ? (int)remaining : STOP_CHECK_MS;
        if (cr_pending && wait > 30)
            wait = 30;
        struct pollfd pfd = {ctl->fd_r, POLLIN, 0};
        int pr = poll(&pfd, 1, wait);
        if (pr < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (pr == 0) {
            if (cr_pending && gsm_extract_buffered_line(cid, ctl, line, size, prompt, 1) == 1)
                return 1;
            continue;
        }
        if (pfd.revents & POLLNVAL)
            break;
        int room = GSM_READ_BUFFER_SIZE - 1 - ctl->read_len;
        if (room > 512)
            room = 512;
        char chunk[512];
        ssize_t n = read(ctl->fd_r, chunk, (size_t)room);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            if (errno == EIO)
                mark_hung_up(ctl);
            break;
        }
        if (n == 0) {
            mark_hung_up(ctl);
            break;
        }
        gsm_buffer_append(ctl, chunk, (int)n);
        usleep(10000);
    }
    // Time is up (or the device is gone): hand back what was buffered.
    int n = ctl->read_len < size - 1 ? ctl->read_len : size - 1;
    memcpy(line, ctl->read_buffer, (size_t)n);
    line[n] = '\0';
    buffer_consume(ctl, n);
    return 0;
}

int gsm_read_byte(_libgsm_ctlport_t *ctl, char *c, int timeout_ms)
{
    for (;;) {
        if (ctl->hung_up)
            return 0;
        struct pollfd pfd = {ctl->fd_r, POLLIN, 0};
        int pr = poll(&pfd, 1, timeout_ms);
        if (pr < 0 && errno == EINTR)
            continue;
        if (pr <= 0 || (pfd.revents & POLLNVAL))
            return 0;
        ssize_t n = read(ctl->fd_r, c, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            if (n == 0 || errno == EIO)
                mark_hung_up(ctl);
            return 0;
        }
        return 1;
    }
}

int gsm_read_line_old(const char *cid, _libgsm_ctlport_t *ctl, char *line, int size,
                      int timeout_ms, const char *prompt)
{
    (void)cid;
    if (!line || !ctl || size < 2 || timeout_ms < 0)
        return 0;
    int len = 0;
    line[0] = '\0';
    size_t plen = prompt ? strlen(prompt) : 0;
    for (;;) {
        char c;
        // Each byte may take timeout_ms, waited for in slices so that a stop
        // is seen.
        long long deadline = now_ms() + timeout_ms;
        bool got = false;
        for (;;) {
            long long remaining = deadline - now_ms();
            int wait = remaining < STOP_CHECK_MS ? (int)(remaining > 0 ? remaining : 0) : STOP_CHECK_MS;
            long long t0 = now_ms();
            if (gsm_read_byte(ctl, &c, wait)) {
                got = true;
                break;
            }
            // A read that failed before its slice ran out will not get better.
            if (ctl->hung_up || gsm_port_stopping(ctl) || remaining <= STOP_CHECK_MS || now_ms() - t0 < wait)
                break;
        }
        if (!got)
            return 0;
        if (c == '\0') {
            GLOG(0, ctl->port, "CRITICAL: NULL BYTE READ\n\n\n");
            continue;
        }
        if (len < size - 1) {
            line[len++] = c;
            line[len] = '\0';
        }
        bool done = c == '\r' || (c == '\n' && len == 1) ||
                    (plen > 0 && (size_t)len >= plen && memcmp(line, prompt, plen) == 0);
        if (!done)
            continue;
        if (len > 1) {
            GLOG(9, ctl->port, "READ RAW LINE |%s|", line);
            if (line[len - 1] == '\n')
                line[--len] = '\0';
        }
        return 1;
    }
}

int gsm_read_line(const char *cid, _libgsm_ctlport_t *ctl, char *line, int size, int timeout_ms,
                  const char *prompt)
{
    if (global_gsm_read_method == 1)
        return gsm_read_line_new(cid, ctl, line, size, timeout_ms, prompt);
    return gsm_read_line_old(cid, ctl, line, size, timeout_ms, prompt);
}

const char *libgsm_regexp(const char *input, const char *pattern, int *len_out, int flags)
{
    if (!input || !pattern || !len_out) {
        errno = EINVAL;
        return nullptr;
    }
    regex_t re;
    if (regcomp(&re, pattern, REG_EXTENDED | flags) != 0) {
        errno = ECANCELED;
        return nullptr;
    }
    regmatch_t m;
    int r = regexec(&re, input, 1, &m, 0);
    regfree(&re);
    if (r != 0) {
        errno = ECANCELED;
        return nullptr;
    }
    if (m.rm_eo <= m.rm_so)
        return nullptr;
    *len_out = (int)(m.rm_eo - m.rm_so);
    return input + m.rm_so;
}

char *libgsm_regexp2(const char *input, const char *pattern, int flags)
{
    if (!input || !pattern) {
        GLOG(5, 0, "EINVAL");
        errno = EINVAL;
        return nullptr;
    }
    int len = 0;
    const char *m = libgsm_regexp(input, pattern, &len, flags);
    if (!m) {
        GLOG(5, 0, "ERANGE");
        errno = ERANGE;
        return nullptr;
    }
    return strndup(m, (size_t)len);
}
