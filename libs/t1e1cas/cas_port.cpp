// The CAS port record: start-up, writing patterns, claiming and releasing
// ports, and the port queries.
#include "cas_internal.h"
#include "lineif.h"
#include "log.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

cas_port_mapping cas_port_mappings[CAS_PORT_TABLE];
cas_ctlport cas_ctl;
std::timed_mutex cas_lock;
std::atomic<cas_event_callback> cas_callback{nullptr};
std::atomic<int> cas_debug_flag{0};
std::atomic<int> cas_passthrough{0};

namespace {

std::atomic<long> starttime{-1};
int fdws_table[CAS_PORT_TABLE];
int fdrs_table[CAS_PORT_TABLE];
FILE *cas_debug_stream = nullptr;

} // namespace

void cas_print(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    if (cas_debug_flag.load()) {
        va_list copy;
        va_copy(copy, ap);
        vsyslog(LOG_DEBUG, format, copy);
        va_end(copy);
    }
    vprintf(format, ap);
    va_end(ap);
    fflush(stdout);
}

void cas_no_ctrl(int port, int event)
{
    LOGD(CAS, 0, nullptr, "CRITICAL: no ctrl for port %i (%i:%s)", port, event,
         cas_event_to_text(nullptr, event));
}

struct timeval cas_now()
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    long unset = -1;
    starttime.compare_exchange_strong(unset, (long)now.tv_sec);
    now.tv_sec -= starttime.load();
    return now;
}

long cas_get_starttime()
{
    return starttime.load();
}

void cas_set_starttime(long seconds)
{
    starttime = seconds;
}

const char *cas_direction_text(int port)
{
    switch (cas_ctl.direction[port]) {
    case CAS_DIRECTION_INBOUND:
        return "C2S";
    case CAS_DIRECTION_OUTBOUND:
        return "S2C";
    default:
        return "---";
    }
}

bool cas_report(cas_guard &lk, int port, int event)
{
    cas_event_callback cb = cas_callback.load();
    if (!cb)
        return false;
    lk.unlock();
    cb(port, (unsigned int)event);
    lk.lock();
    return true;
}

int cas_write_locked(int port, const char *pattern)
{
    struct timeval rel = cas_now();
    cas_print("%ld:%ld PORT %i cas_send  |%s|\n", (long)rel.tv_sec, (long)rel.tv_usec, port, pattern);
    cas_history_add(cas_ctl.write_history, port, rel, pattern);

    char line[256];
    snprintf(line, sizeof line, "%s\n", pattern);
    int fd = cas_ctl.fdws[port];
    cas_print("cas_send: port %i WRITING fd %i |%s|\n", port, fd, pattern);
    if (cas_ctl.signalling[port] == CAS_SIGNALLING_E1_MFCR2)
        log_msg_cas(port, 0, "%s:%s", cas_direction_text(port), line);
    ssize_t n;
    do {
        n = write(fd, line, strlen(line));
    } while (n < 0 && errno == EINTR);
    // Hand the line on to the driver at once; a file-system wide sync would
    // hold every channel's signalling up behind unrelated disk writes.
    fsync(fd);
    return 0;
}

int cas_send(int port, const char *pattern)
{
    cas_guard lk(cas_lock);
    if (!cas_port_open(port) || !pattern) {
        LOGD(CAS, 0, nullptr, "CRITICAL: no ctrl for port %i", port);
        return 0;
    }
    return cas_write_locked(port, pattern);
}

void cas_set_protocol(int port, int protocol)
{
    if (!cas_port_in_range(port))
        return;
    cas_guard lk(cas_lock);
    cas_ctl.protocol[port] = protocol;
}

int cas_init(cas_event_callback cb, const cas_port_configuration *config, int sysdebug)
{
    cas_stopping = false;
    cas_callback = cb;
    if (sysdebug) {
        cas_debug_flag = 1;
        // facility argument 7 is no multiple of 8: the default facility applies
        openlog("chan_cas", LOG_PID, 7);
    }
    cas_debug_stream = stderr;
    if (cas_debug_flag.load())
        syslog(LOG_DEBUG, "****************** NEW TRY :) *********************\n");

    {
        cas_guard lk(cas_lock);
        for (int i = 0; i < CAS_PORT_TABLE; i++)
            fdws_table[i] = fdrs_table[i] = -1;
        cas_ctl.fdws = fdws_table;
        cas_ctl.fdrs = fdrs_table;
    }

    if (config) {
        for (int port = CAS_PORT_MIN; port <= CAS_PORT_MAX; port++) {
            if (!config[port].configured)
                continue;
            char path[64];
            const cas_port_mapping &m = cas_port_mappings[port];
            snprintf(path, sizeof path, "/dev/cas%d/%d", m.dev_index, m.chan_index);
            cas_guard lk(cas_lock);
            cas_ctl.configured[port] = 1;
            if (cas_ctl.protocol[port] == HWCONF_ISDN_PROTOCOL_T1) {
                cas_ctl.port_state[port] = CAS_STATE_T1_IDLE;
                cas_ctl.signalling[port] = config[port].t1_signalling;
            } else {
                cas_ctl.port_state[port] = CAS_STATE_UNKNOWN;
                cas_ctl.signalling[port] = config[port].e1_signalling;
            }
            cas_ctl.in_use[port] = 0;
            cas_ctl.fdws[port] = lineif_open(path, O_WRONLY);
            cas_ctl.fdrs[port] = lineif_open(path, O_RDONLY);
            if (cas_ctl.fdws[port] < 0 || cas_ctl.fdrs[port] < 0) {
                cas_print("Failed to open port %i (%s): fdr %i fdw %i\n", port, path,
                          cas_ctl.fdrs[port], cas_ctl.fdws[port]);
                return -1;
            }
            cas_print("NOW %s| port %i fdr %i fdw %i\n", path, port, cas_ctl.fdrs[port],
                      cas_ctl.fdws[port]);
        }
    }

    for (int port = CAS_PORT_MIN; port <= CAS_PORT_MAX; port++)
        if (cas_port_is_configured(port))
            cas_print("CASPORT %i : PROTOCOL %i SIGNALLING %i\n", port, cas_ctl.protocol[port],
                      cas_ctl.signalling[port]);
    cas_list_configured_ports(stdout);

    for (int port = CAS_PORT_MIN; port <= CAS_PORT_MAX; port++) {
        if (!cas_port_is_configured(port))
            continue;
        int signalling = cas_get_signalling(port);
        if (signalling == CAS_SIGNALLING_T1_FXOKS)
            cas_print("INIT PORT %i FXOKS: T1 INIT SENDING ONHOOK\n", port);
        else if (signalling == CAS_SIGNALLING_T1_FXSKS)
            cas_print("INIT PORT %i FXSKS: T1 INIT SENDING ONHOOK\n", port);
        if (signalling >= CAS_SIGNALLING_T1_FXSKS && signalling <= CAS_SIGNALLING_E1_MFCR2)
            cas_send_event(port, CAS_EVENT_ONHOOK);
    }

    cas_print("CREATING READ THREAD");
    if (cas_start_reader() < 0)
        return -1;
    fflush(cas_debug_stream);
    return 0;
}

void cas_shutdown(void)
{
    cas_stopping = true;
    // Threads first: once they are gone nobody re-arms a timer or queues a
    // task, so what is taken out below stays out.
    cas_stop_reader();
    cas_stop_dispatcher();
    {
        // While the process ends (a fatal end on the timer thread, say) a
        // thread that did not stop may hold the lock waiting for the timer
        // list this thread holds: wait a bounded time, then leave the ports
        // to the process's end.
        cas_guard lk(cas_lock, std::defer_lock);
        if (!tarn_exiting())
            lk.lock();
        else if (!lk.try_lock_for(std::chrono::seconds(2))) {
            LOGD(CAS, 0, nullptr, "CRITICAL: cas_shutdown: port lock not free while ending, ports left open");
            cas_callback = nullptr;
            return;
        }
        cas_remove_timers();
        for (int port = CAS_PORT_MIN; port <= CAS_PORT_MAX; port++) {
            if (!cas_ctl.configured[port])
                continue;
            cas_ctl.configured[port] = 0;
            cas_ctl.in_use[port] = 0;
            int *fds[] = {cas_ctl.fdws ? &cas_ctl.fdws[port] : nullptr,
                          cas_ctl.fdrs ? &cas_ctl.fdrs[port] : nullptr};
            for (int *fd : fds)
                if (fd && *fd >= 0) {
                    close(*fd);
                    *fd = -1;
                }
        }
    }
    // A timer that fired before it was taken out may have queued a task.
    cas_drop_tasks();
    cas_callback = nullptr;
    LOGD(CAS, 2, nullptr, "cas_shutdown: threads stopped, timers removed");
}

int cas_fetch_port(int port)
{
    cas_guard lk(cas_lock);
    if (!cas_port_open(port) || cas_ctl.in_use[port])
        return 0;
    cas_ctl.in_use[port] = 1;
    return port;
}

int cas_release_port(int port)
{
    cas_guard lk(cas_lock);
    if (!cas_port_open(port))
        return 0;
    // A claim that never reached the line (the call ended before its first
    // line event) is given back whatever the signalling; a line in use is
    // freed by its own signalling when it returns to idle.
    int state = cas_ctl.port_state[port];
    bool line_idle = state == CAS_STATE_T1_IDLE || state == CAS_STATE_E1_IDLE || state == CAS_STATE_UNKNOWN;
    if (cas_ctl.signalling[port] != CAS_SIGNALLING_T1_FXOKS) {
        if (line_idle)
            cas_ctl.in_use[port] = 0;
        return 1;
    }
    switch (state) {
    case CAS_STATE_T1_OFFHOOK:
        cas_write_locked(port, "0101");
        cas_ctl.port_state[port] = CAS_STATE_T1_IDLE;
        cas_ctl.in_use[port] = 0;
        break;
    case CAS_STATE_T1_RINGING_INBOUND:
        break;
    default:
        cas_print("RELEASE: DOING NOTHING ON PORT %i %s\n", port, cas_print_port_state(state));
        if (line_idle)
            cas_ctl.in_use[port] = 0;
        break;
    }
    return 1;
}

void cas_set_direction(int port, int direction)
{
    cas_guard lk(cas_lock);
    if (cas_port_open(port))
        cas_ctl.direction[port] = direction;
}

int cas_port_is_configured(int port)
{
    cas_guard lk(cas_lock);
    return cas_port_open(port) ? 1 : 0;
}

int cas_get_port_in_use(int port)
{
    cas_guard lk(cas_lock);
    return cas_port_open(port) ? cas_ctl.in_use[port] : 0;
}

int cas_get_signalling(int port)
{
    cas_guard lk(cas_lock);
    return cas_port_in_range(port) ? cas_ctl.signalling[port] : 0;
}

int cas_get_signalling_by_port(int port)
{
    cas_guard lk(cas_lock);
    if (!cas_port_open(port)) {
        fprintf(stderr, "cas_get_signalling_by_port: invalid cas port %i\n", port);
        return 0;
    }
    return cas_ctl.signalling[port];
}

const char *cas_get_signalling_string_by_port(int port)
{
    switch (cas_get_signalling(port)) {
    case CAS_SIGNALLING_T1_FXSKS:
        return "CAS_T1_FXS_KS";
    case CAS_SIGNALLING_T1_FXOKS:
        return "CAS_T1_FXO_KS";
    case CAS_SIGNALLING_E1_MFCR2:
        return "CAS_E1_MFCR2";
    default:
        return "CAS_UNKNOWN";
    }
}

const char *cas_print_port_state_of_port(int port)
{
    cas_guard lk(cas_lock);
    if (!cas_port_open(port))
        return "CAS_STATE_PORT_NOT_CONFIGURED";
    return cas_print_port_state(cas_ctl.port_state[port]);
}

const char *print_cas_call_direction_of_port(int port)
{
    cas_guard lk(cas_lock);
    if (!cas_port_open(port))
        return "???";
    return cas_direction_text(port);
}
