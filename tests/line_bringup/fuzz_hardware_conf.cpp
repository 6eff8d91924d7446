// Arbitrary text as hardware.conf: read, checked and numbered, listed, the
// CAS lines checked for their connection and every ISDN port looked up.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "application.h"
#include "hardware_conf.h"

namespace {
FILE *sink;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    application_create();
    sink = fopen("/dev/null", "w");
    if (!sink || !freopen("/dev/null", "w", stdout)) // the connection check prints to standard output
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char empty[1] = "";
    FILE *f = size ? fmemopen((void *)data, size, "r") : fmemopen((void *)empty, 1, "r");
    if (!f)
        return 0;
    if (hwconf_parse(f, sink) == 0) {
        list_hardware_conf(sink);
        for (line_interface &li : gp->hwconf.hwc_li)
            for (int j = 0; j < HWCONF_SLOTS; j++)
                li.cas_port_configured[j] = 1;
        cas_update_port_status();
        for (int port = -1; port <= 34; port++)
            if (hw_get_permanent_l1(port) < 0 || hw_is_port_t1(port) < 0)
                abort();
    }
    fclose(f);
    return 0;
}
