// The analog port table: start-up, opening the control devices, line
// commands and the port queries.
#include "analog_internal.h"
#include "lineif.h"
#include "log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

analog_ctlport analog_ctlports[ANALOG_PORT_TABLE];
sem_t analog_ready[ANALOG_PORT_TABLE];
std::atomic<analog_event_callback> analog_callback{nullptr};
std::atomic<int> analog_debug_flag{0};

namespace {

FILE *analog_debug_stream = nullptr;

bool port_in_range(int port)
{
    return port >= ANALOG_PORT_MIN && port <= ANALOG_PORT_MAX;
}

// The line commands: event given to analog_send_event, word written.
const struct {
    int event;
    const char *word;
} command_words[] = {
    {ANALOG_EVENT_OFFHOOK, "offhook"},
    {ANALOG_EVENT_ONHOOK, "onhook"},
    {ANALOG_EVENT_RINGING, "ringing"},
    {ANALOG_EVENT_RINGOFF, "ringoff"},
    {ANALOG_EVENT_FLASHHOOK, "flashhook"},
    {ANALOG_EVENT_TAXPULSE12, "taxpulse12:800"},
    {ANALOG_EVENT_TAXPULSE16, "taxpulse16:800"},
    {ANALOG_EVENT_WINK, "wink%i"}, // with the port's wink duration
};

// The command word of an event; null for an event that is not sent.
const char *command_word(int event)
{
    for (const auto &c : command_words)
        if (c.event == event)
            return c.word;
    return nullptr;
}

void clear_row(analog_ctlport &r)
{
    r.fpw = r.fpr = nullptr;
    r.fdw = r.fdr = -1;
    r.t = pthread_t{};
    r.ct = nullptr;
    r.fd = -1;
    r.initfile = nullptr;
    r.port = 0;
    r.configured = 0;
    r.type = 0;
    r.fxs_wink_duration = 0;
    r.aport_in_use = 0;
    r.aport_fxs_offhook = 0;
    r.priv = nullptr;
}

int open_port(int port, const analog_port_configuration &cfg, const analog_proc_info &state)
{
    analog_ctlport &r = analog_ctlports[port];
    clear_row(r);
    r.port = port;

    char path[64];
    snprintf(path, sizeof path, "/dev/analog%d", port - 1);
    r.fdw = lineif_open(path, O_WRONLY);
    r.fdr = lineif_open(path, O_RDONLY);
    if (r.fdw >= 0)
        close(r.fdw);
    if (r.fdr >= 0)
        close(r.fdr);
    r.fdw = lineif_open(path, O_WRONLY);
    int open_errno = errno;
    r.fdr = lineif_open(path, O_RDONLY);
    if (r.fdr < 0)
        open_errno = errno;

    r.type = cfg.type;
    r.configured = cfg.configured;
    r.fxs_wink_duration = cfg.wink_duration;
    r.aport_fxs_offhook = state.state == ANALOG_STATE_FXS_OFFHOOK ? 1 : 0;
    sem_init(&analog_ready[port], 0, 0);

    if (r.fdw < 0 || r.fdr < 0) {
        analog_debug("port=(%d): Could not open name:%s FP\n errror:%s \n", port, path,
                     strerror(open_errno));
        if (r.fdw >= 0)
            close(r.fdw);
        if (r.fdr >= 0)
            close(r.fdr);
        r.fdw = r.fdr = -1;
        return -1;
    }
    return analog_start_reader(&r);
}

} // namespace

void analog_debug(const char *format, ...)
{
    if (!analog_debug_flag.load())
        return;
    va_list ap;
    va_start(ap, format);
    vsyslog(LOG_DEBUG, format, ap);
    va_end(ap);
}

int analog_init(analog_event_callback cb, const analog_port_configuration *config, int sysdebug)
{
    analog_stopping = false;
    analog_callback = cb;
    if (sysdebug) {
        analog_debug_flag = 1;
        // facility argument 7 is no multiple of 8: the default facility applies
        openlog("chan_analog", LOG_PID, 7);
    }
    analog_debug_stream = stderr;
    analog_debug("****************** NEW TRY :) *********************\n");

    analog_proc_info states[ANALOG_PORT_TABLE];
    memset(states, 0, sizeof states);
    read_analog_state(states);

    if (config) {
        for (int port = ANALOG_PORT_MIN; port <= ANALOG_PORT_MAX; port++) {
            if (!config[port].configured)
                continue;
            if (open_port(port, config[port], states[port - 1]) < 0) {
                fprintf(stderr, "Couldn't initialize analog port %i\n", port);
                return -1;
            }
        }
        for (int port = ANALOG_PORT_MIN; port <= ANALOG_PORT_MAX; port++) {
            if (!config[port].configured)
                continue;
            while (sem_wait(&analog_ready[port]) < 0 && errno == EINTR)
                ;
            analog_debug("port=(%d): Port is ready\n", port);
        }
    }
    fflush(analog_debug_stream);
    return 0;
}

void analog_shutdown(void)
{
    analog_debug("analog_shutdown\n");
    analog_stopping = true;
    for (int port = ANALOG_PORT_MIN; port <= ANALOG_PORT_MAX; port++)
        analog_stop_reader(&analog_ctlports[port]);
    for (int port = ANALOG_PORT_MIN; port <= ANALOG_PORT_MAX; port++) {
        analog_ctlport &r = analog_ctlports[port];
        if (!r.port)
            continue;
        if (r.fdw >= 0)
            close(r.fdw);
        if (r.fdr >= 0)
            close(r.fdr);
        clear_row(r);
    }
    analog_callback = nullptr;
}

analog_ctlport *get_analog_ctlport(int port)
{
    if (!port_in_range(port))
        return nullptr;
    for (int i = ANALOG_PORT_MIN; i <= ANALOG_PORT_MAX; i++)
        if (analog_ctlports[i].port == port)
            return &analog_ctlports[i];
    return nullptr;
}

int analog_send(int port, const char *text)
{
    analog_ctlport *r = get_analog_ctlport(port);
    if (!r || r->fdw < 0) {
        LOGD(ANALOG, 0, nullptr, "CRITICAL: no ctrl for port %i", port);
        return -1;
    }
    if (!text)
        return 0;
    ssize_t n;
    do {
        n = write(r->fdw, text, strlen(text));
    } while (n < 0 && errno == EINTR);
    return 0;
}

int analog_send_event(int port, int event)
{
    const char *word = command_word(event);
    if (!word) {
        printf("Event %d not supported\n", event);
        return 0;
    }
    analog_ctlport *r = get_analog_ctlport(port);
    if (!r) {
        LOGD(ANALOG, 0, nullptr, "CRITICAL: no ctrl for port %i", port);
        return 0;
    }
    char buf[256];
    if (event == ANALOG_EVENT_WINK) {
        snprintf(buf, sizeof buf, "wink%i", r->fxs_wink_duration.load());
        word = buf;
    }
    analog_send(port, word);
    return 0;
}

int analog_port_is_valid(int port)
{
    return get_analog_ctlport(port) ? 1 : 0;
}

int analog_get_type_by_port(int port)
{
    if (!port_in_range(port)) {
        fprintf(stderr, "get_analog_type_by_port: invalid analog port %i\n", port);
        return 0;
    }
    return analog_ctlports[port].type;
}

int analog_is_fxs_in_offhook_state(int port)
{
    if (!port_in_range(port))
        return 0;
    return analog_ctlports[port].aport_fxs_offhook.load();
}
