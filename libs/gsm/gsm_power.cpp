// Modem power, LEDs and line-interface types through the GSM driver's sysfs
// files; port index in the file names = port - 1.
#include "gsm_log.h"
#include "gsm_port.h"
#include "gsm_settings.h"
#include "lineif.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

gsm_liftype gsm_liftype_arr[8] = {{-1, 0}, {-1, 0}, {-1, 0}, {-1, 0},
                                  {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}};

// The driver confirms a new power state by the file's content; it is polled
// every 100 ms for at most this many times.
enum { POWER_POLL_LIMIT = 100 };

static void enabled_path(int port, char *buf, size_t size)
{
    snprintf(buf, size, "/sys/class/kvxgsm/%d/enabled", port - 1);
}

static int read_first(const char *path, char *c)
{
    char buf[8];
    if (lineif_read_text(path, buf, sizeof buf) < 0)
        return -1;
    *c = buf[0];
    return 0;
}

// Waits until the enabled file starts with want; the polls made, or -1.
static int wait_enabled(const char *path, char want)
{
    for (int tries = 1; tries <= POWER_POLL_LIMIT; tries++) {
        gsm_pause_ms(100);
        char c = 0;
        if (read_first(path, &c) == 0 && c == want)
            return tries;
    }
    return -1;
}

static int modem_switch(int port, char want, bool extra_second)
{
    char path[64];
    enabled_path(port, path, sizeof path);
    char c = 0;
    if (read_first(path, &c) < 0) {
        GLOG(0, port, "opening %s => port %i failed", path, port);
        errno = ENOENT;
        return 0;
    }
    if (want == '1' ? c != '0' : c == '0') {
        GLOG(5, port, want == '1' ? "port %i already enabled" : "port %i already disabled", port);
        return 1;
    }
    GLOG(5, port, want == '1' ? "enabling port %i" : "disabling port %i", port);
    const char text[2] = {want, '\0'};
    if (lineif_write_text(path, text) < 0) {
        GLOG(0, port, "opening %s => port %i failed", path, port);
        errno = ENOENT;
        return 0;
    }
    int tries = wait_enabled(path, want);
    if (tries < 0) {
        GLOG(0, port, "CRITICAL: port %i did not confirm the power %s", port,
             want == '1' ? "on" : "off");
        errno = ETIMEDOUT;
        return 0;
    }
    GLOG(5, port, want == '1' ? "took %i milliseconds to enable port %i"
                              : "took %i milliseconds to disable port %i",
         tries * 100, port);
    if (extra_second) {
        GLOG(5, port, "waiting for another second");
        gsm_pause_ms(1000);
    }
    return 1;
}

int libgsm_modem_enable(int port)
{
    return modem_switch(port, '1', true);
}

int libgsm_modem_disable(int port)
{
    return modem_switch(port, '0', false);
}

int libgsm_modem_disable_wait(int port)
{
    char path[64];
    enabled_path(port, path, sizeof path);
    int tries = wait_enabled(path, '0');
    if (tries < 0) {
        GLOG(0, port, "CRITICAL: port %i did not confirm the power off", port);
        return 0;
    }
    GLOG(5, port, "took %i milliseconds to disable port %i", tries * 100, port);
    gsm_pause_ms(1000);
    return 1;
}

int libgsm_ctrl_led(int port, int led, int state)
{
    (void)led; // one LED file per port
    if (!libgsm_getctlport(port)) {
        GLOG(5, port, "port %d: ENODEV", port);
        errno = ENODEV;
        return 0;
    }
    char path[64], text[4];
    snprintf(path, sizeof path, "/sys/class/kvxgsm/%d/led_state", port - 1);
    snprintf(text, sizeof text, "%d", state);
    if (lineif_write_text(path, text) < 0) {
        int e = errno;
        GLOG(5, port, e == EBUSY ? "port %d, led %s: EBUSY" : "port %d, led %s: EACCES", port, path);
        errno = e == EBUSY ? EBUSY : EACCES;
        return 0;
    }
    return 1;
}

int gsm_reset_line_interface(int li, int port_a, int port_b)
{
    if (li < 0 || li > 2) {
        GLOG(0, 0, "invalid line interface %i", li);
        return 0;
    }
    char lis[8];
    snprintf(lis, sizeof lis, "%d", li);
    GLOG(5, 0, "resetting lif %s, gsmport %i %i", lis, port_a, port_b);
    const int ports[2] = {port_a, port_b};
    for (int p : ports)
        if (p)
            libgsm_modem_disable(p);
    for (int p : ports)
        if (p)
            libgsm_modem_disable_wait(p);
    for (int p : ports) {
        if (!p)
            continue;
        for (int i = 1; i < GSM_PORT_TABLE; i++)
            if (libgsm_ctlport[i].port == p)
                libgsm_ctlport[i].successfully_initialized = 0;
    }
    char path[64];
    snprintf(path, sizeof path, "/sys/class/kvxgsm/li%i_power", li);
    if (lineif_write_text(path, "0") < 0) {
        GLOG(0, 0, "couldn't open %s", path);
        return 0;
    }
    GLOG(5, 0, "waiting 2 seconds");
    gsm_pause_ms(2000);
    if (lineif_write_text(path, "1") < 0) {
        GLOG(0, 0, "couldn't open %s", path);
        return 0;
    }
    GLOG(5, 0, "waiting 1 second");
    gsm_pause_ms(1000);
    return 1;
}

int gsm_lif_get_type(int lif)
{
    char text[40];
    if (lineif_module_text(lif, text, sizeof text) < 0)
        return 0;
    if (strstr(text, "LTE"))
        return 2;
    if (strstr(text, "GSM"))
        return 1;
    return 0;
}

void gsm_liftype_init_element(int lif, int *port)
{
    int type = gsm_lif_get_type(lif);
    if (type != 1 && type != 2) {
        printf("LIF: %d TYPE:UNKNOWN\n", lif);
        return;
    }
    for (int k = 0; k < 2; k++) {
        int p = *port + k;
        if (p < 1 || p > 7)
            continue;
        gsm_liftype_arr[p] = {lif, type};
        printf(type == 2 ? "LIF: %d PORT: %d TYPE:LTE\n" : "LIF: %d PORT: %d TYPE:GSM\n", lif, p);
    }
    *port += 2;
}

void gsm_liftype_init()
{
    for (auto &e : gsm_liftype_arr)
        e = {-1, 0};
    int port = 1;
    for (int lif = 0; lif <= 2; lif++)
        gsm_liftype_init_element(lif, &port);
    fflush(stdout);
}

int gsm_port_is_lte(int port)
{
    return port >= 1 && port <= 7 && gsm_liftype_arr[port].type == 2;
}

int gsm_port_get_lif(int port)
{
    if (port < 1 || port > 7 || gsm_liftype_arr[port].type == 0)
        return -1;
    return gsm_liftype_arr[port].lif;
}
