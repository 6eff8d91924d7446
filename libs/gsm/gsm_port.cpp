#include "gsm_port.h"

#include "gsm_io.h"
#include "gsm_log.h"
#include "gsm_modem_init.h"
#include "gsm_queue.h"
#include "gsm_settings.h"
#include "lineif.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

_libgsm_ctlport_t libgsm_ctlport[GSM_PORT_TABLE];
gsm_event_callback libgsm_event_new_callback = nullptr;
gsm_global_config *libgsm_global_config = nullptr;
pthread_mutex_t gsmlib_send_lock[GSM_PORT_TABLE] = {
    PTHREAD_MUTEX_INITIALIZER, PTHREAD_MUTEX_INITIALIZER, PTHREAD_MUTEX_INITIALIZER,
    PTHREAD_MUTEX_INITIALIZER, PTHREAD_MUTEX_INITIALIZER, PTHREAD_MUTEX_INITIALIZER,
    PTHREAD_MUTEX_INITIALIZER};
std::atomic<int> gsm_ready_counter{0};

static const char *const gsm_class = "/sys/class/kvxgsm";

int gsm_port_get_count()
{
    char path[64];
    snprintf(path, sizeof path, "%s/count", gsm_class);
    char buf[16];
    int n = lineif_read_text(path, buf, sizeof buf);
    if (n < 0) {
        errno = ENODEV;
        return 0;
    }
    if (n == 0)
        return 0;
    int count = atoi(buf);
    if (count < 0)
        count = 0;
    // The port tables hold ports 1 to 6; further ports are not served.
    if (count > GSM_MAX_PORTS)
        count = GSM_MAX_PORTS;
    return count;
}

_libgsm_ctlport_t *libgsm_getctlport(int port)
{
    int count = gsm_port_get_count();
    if (port >= 1) {
        for (int i = 1; i <= count; i++)
            if (libgsm_ctlport[i].port == port)
                return &libgsm_ctlport[i];
    }
    GLOG(5, port, "libgsm_getctlport failed");
    errno = ENODEV;
    return nullptr;
}

// Resets a record to its closed state; the semaphore is handled by the caller.
static void ctlport_clear(_libgsm_ctlport_t *ctl)
{
    ctl->port = 0;
    ctl->fd_r = -1;
    ctl->fd_w = -1;
    ctl->thread_running = false;
    ctl->successfully_initialized = 0;
    ctl->lte_hook_applied = 0;
    ctl->cfg = nullptr;
    ctl->read_buffer[0] = '\0';
    ctl->read_len = 0;
    ctl->port_state = GSM_PORT_STATE_NONE;
    ctl->modem_state = GSM_MODEM_STATE_OK;
    ctl->modem_name[0] = '\0';
    ctl->hung_up = 0;
    ctl->cds_header_seen = 0;
}

// A fresh `ready` semaphore for the next initialisation: whatever path the
// start takes, bring-up and restart only ever wait on an initialised one.
static int ready_reset(_libgsm_ctlport_t *ctl)
{
    if (ctl->ready_valid)
        sem_destroy(&ctl->ready);
    ctl->ready_valid = sem_init(&ctl->ready, 0, 0) == 0;
    return ctl->ready_valid ? 0 : -1;
}

int gsm_cfg_init(gsm_config_t *cfg)
{
    if (!cfg) {
        errno = EINVAL;
        return 0;
    }
    snprintf(cfg->messages, sizeof cfg->messages, "config initialized");
    return 1;
}

int libgsm_port_close(_libgsm_ctlport_t *ctl)
{
    if (!ctl) {
        GLOG(0, 0, "EINVAL");
        errno = EINVAL;
        return 0;
    }
    GLOG(5, ctl->port, "port %i", (int)ctl->port);
    if (ctl->fd_r >= 0) {
        GLOG(5, ctl->port, "closing fd_r %i", ctl->fd_r);
        close(ctl->fd_r);
        ctl->fd_r = -1;
    }
    if (ctl->fd_w >= 0) {
        GLOG(5, ctl->port, "closing fd_w %i", ctl->fd_w);
        close(ctl->fd_w);
        ctl->fd_w = -1;
    }
    ctl->port_state = GSM_PORT_STATE_KILLED;
    return 1;
}

struct port_init_job {
    int port;
    gsm_config_t *cfg;
};

static void *helper_thread_gsm_port_init(void *arg)
{
    port_init_job *job = (port_init_job *)arg;
    libgsm_port_init(job->port, job->cfg);
    return nullptr;
}

int gsm_init(gsm_event_callback cb, gsm_config_t *cfg, gsm_global_config *global)
{
    if (!cb || !cfg || !global) {
        errno = EINVAL;
        return 0;
    }
    int count = gsm_port_get_count();
    if (count < 1) {
        errno = ENODEV;
        return 0;
    }
    libgsm_event_new_callback = cb;
    libgsm_global_config = global;
    if (!gman) {
        gman = (gsm_command_manager *)calloc(1, sizeof *gman);
        if (!gman) {
            errno = ENOMEM;
            return 0;
        }
    }
    gsm_liftype_init();
    pthread_t threads[GSM_PORT_TABLE];
    port_init_job jobs[GSM_PORT_TABLE];
    bool started[GSM_PORT_TABLE] = {};
    for (int i = 1; i <= count; i++) {
        _libgsm_ctlport_t *ctl = &libgsm_ctlport[i];
        ctlport_clear(ctl);
        ready_reset(ctl);
        if (!gman->gsm_command_queue[i]) {
            _listheadgsm *q = (_listheadgsm *)calloc(1, sizeof *q);
            if (!q) {
                errno = ENOMEM;
                return 0;
            }
            pthread_mutex_init(&q->lock, nullptr);
            gman->gsm_command_queue[i] = q;
        }
        if (cfg[i].port != 0) {
            ctl->port = i;
            jobs[i] = {i, &cfg[i]};
            started[i] = pthread_create(&threads[i], nullptr, helper_thread_gsm_port_init, &jobs[i]) == 0;
            if (!started[i])
                ctl->port_state = GSM_PORT_STATE_KILLED;
        }
    }
    for (int i = 1; i <= count; i++)
        if (started[i])
            pthread_join(threads[i], nullptr);
    return 1;
}

int libgsm_port_init(int port, gsm_config_t *cfg)
{
    gsm_ready_counter = -1;
    if (!cfg) {
        gsm_ready_counter = 300;
        errno = EINVAL;
        return 0;
    }
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl) {
        gsm_ready_counter = 300;
        errno = EINVAL;
        return 0;
    }
    if (ctl->thread_running) {
        // The old reader must be shut down first.
        GLOG(0, port, "CRITICAL: port %i still has its reader thread", port);
        gsm_ready_counter = 300;
        errno = EBUSY;
        return 0;
    }
    char dev[64];
    snprintf(dev, sizeof dev, "/dev/gsm%d", port - 1);
    GLOG(5, port, "port %i, device: %s", port, dev);
    ctlport_clear(ctl);
    ctl->port = port;
    if (ready_reset(ctl) < 0) {
        int e = errno;
        GLOG(0, port, "CRITICAL: semaphore init failed");
        libgsm_port_close(ctl);
        gsm_ready_counter = 300;
        errno = e;
        return 0;
    }
    ctl->fd_r = lineif_open(dev, O_RDONLY);
    ctl->fd_w = lineif_open(dev, O_WRONLY);
    ctl->cfg = cfg;
    ctl->port_state = GSM_PORT_STATE_NONE;
    ctl->modem_state = GSM_MODEM_STATE_OK;
    GLOG(5, port, "port %i, name %s, fd_r %i, fd_w %i", port, dev, ctl->fd_r, ctl->fd_w);

    // Every early failure leaves the port closed (KILLED): nobody waits for
    // a reader thread that was never started.
    if (!libgsm_modem_enable(port)) {
        GLOG(0, port, "CRITICAL: power on failed ");
        libgsm_port_close(ctl);
        gsm_ready_counter = 300;
        errno = ENODEV;
        return 0;
    }
    if (ctl->fd_r < 0 || ctl->fd_w < 0) {
        GLOG(0, port, "CRITICAL: no file descriptors");
        libgsm_port_close(ctl);
        gsm_ready_counter = 300;
        errno = ENODEV;
        return 0;
    }
    int rc = pthread_create(&ctl->thread, nullptr, new_gsm_event_thread, ctl);
    if (rc != 0) {
        GLOG(0, port, "CRITICAL: create thread failed");
        libgsm_port_close(ctl);
        gsm_ready_counter = 300;
        errno = rc;
        return 0;
    }
    ctl->thread_running = true;
    GLOG(5, port, "THREAD STARTED FOR PORT %i", port);
    // The reader may already have finished (or failed) initialisation.
    int expected = GSM_PORT_STATE_NONE;
    ctl->port_state.compare_exchange_strong(expected, GSM_PORT_STATE_IDLE);
    gsm_ready_counter = 300;
    return 1;
}

int libgsm_port_shutdown(int port)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl) {
        errno = EINVAL;
        return 0;
    }
    ctl->successfully_initialized = 0;
    if (ctl->port_state == GSM_PORT_STATE_INUSE) {
        gsm_send_raw(port, "ATH\r", 10, 1);
    }
    ctl->port_state = GSM_PORT_STATE_KILLME;
    if (ctl->thread_running) {
        pthread_join(ctl->thread, nullptr);
        ctl->thread_running = false;
    }
    if (ctl->fd_w >= 0 && !ctl->hung_up) {
        libgsm_send_expect(ctl, "AT", "OK", 0, nullptr, 100, 10);
        libgsm_send_expect(ctl, "AT#REBOOT", "OK", 0, nullptr, 100, 10);
    }
    libgsm_port_close(ctl);
    libgsm_ctrl_led(port, 1, GSM_LED_OFF);
    return 1;
}

void gsm_shutdown()
{
    int count = gsm_port_get_count();
    for (int i = 1; i <= count; i++)
        if (libgsm_ctlport[i].port)
            libgsm_port_shutdown(libgsm_ctlport[i].port);
}

int libgsm_end_gsm_event_thread(int port)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl) {
        errno = EINVAL;
        return 0;
    }
    ctl->port_state = GSM_PORT_STATE_KILLME;
    return 1;
}

int gsm_port_is_ready(int port)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl)
        return 0;
    int st = ctl->port_state;
    if (st != GSM_PORT_STATE_KILLME && st != GSM_PORT_STATE_KILLED && ctl->ready_valid) {
        while (sem_wait(&ctl->ready) < 0 && errno == EINTR) {
        }
        return 1;
    }
    GLOG(0, port, "CRITICAL: evil port_state");
    libgsm_ctrl_led(port, 1, GSM_LED_OFF);
    return 0;
}

int gsm_port_is_successfully_initialized(int port)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl)
        return 0;
    if (ctl->successfully_initialized)
        return 1;
    GLOG(9, port, "GSM LED powered off (regstatus = %i)", 0);
    libgsm_ctrl_led(port, 1, GSM_LED_OFF);
    return 0;
}

int gsm_port_get_inuse(int port)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    return ctl && ctl->port_state == GSM_PORT_STATE_INUSE ? 1 : 0;
}

int libgsm_port_fetch(int port)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl)
        return 0;
    int expected = GSM_PORT_STATE_IDLE;
    if (ctl->port_state.compare_exchange_strong(expected, GSM_PORT_STATE_INUSE)) {
        GLOG(5, port, "fetched");
        return 1;
    }
    GLOG(5, port, "port %i not IDLE", port);
    return 0;
}

int libgsm_port_release(int port)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl) {
        GLOG(5, port, "libgsm_getctlport failed");
        return 0;
    }
    // Only a claimed port goes back to IDLE: a release must never undo a
    // pending stop (KILLME) or revive a closed port.
    int expected = GSM_PORT_STATE_INUSE;
    if (ctl->port_state.compare_exchange_strong(expected, GSM_PORT_STATE_IDLE))
        GLOG(5, port, "released");
    return 1;
}

const char *libsm_get_port_state_string(int port)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl)
        return "UNKNOWN";
    switch (ctl->port_state.load()) {
    case GSM_PORT_STATE_NONE: return "NONE";
    case GSM_PORT_STATE_IDLE: return "IDLE";
    case GSM_PORT_STATE_INUSE: return "INUSE";
    case GSM_PORT_STATE_KILLME: return "KILLME";
    case GSM_PORT_STATE_KILLED: return "KILLED";
    default: return "UNKNOWN";
    }
}

const char *libsm_get_modem_name(int port)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    return ctl ? ctl->modem_name : "UNDEFINED";
}

int gsm_port_wants_lte_hook(int port)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    return ctl && ctl->successfully_initialized && !ctl->lte_hook_applied ? 1 : 0;
}

int gsm_port_set_lte_hook_applied(int port, int applied)
{
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl)
        return 0;
    ctl->lte_hook_applied = applied;
    return 1;
}

void gsm_format_cid_string(int port, char *buf, int size)
{
    if (buf && size > 0)
        snprintf(buf, (size_t)size, "CID:000000:g%i", port);
}
