// Arbitrary pattern lines through the receive steps of every signalling
// type, from every port state: the first two bytes choose signalling and
// state, the rest is the read, cut into lines as the read thread does.
#include "cas_internal.h"
#include "lineif_lines.h"
#include "timer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

namespace {

const int PORT = 42;
int fdws[CAS_PORT_TABLE];

void receive(const char *line, void *)
{
    cas_guard lk(cas_lock);
    cas_receive(lk, PORT, line);
    int s = cas_ctl.port_state[PORT];
    if (s < CAS_STATE_UNKNOWN || s > CAS_STATE_T1_OFFHOOK)
        __builtin_trap();
}

int on_event(int, unsigned event)
{
    if (event < CAS_EVENT_UNKNOWN || event > CAS_EVENT_GENERATE_CID)
        __builtin_trap();
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = false;
    if (!ready) {
        if (!freopen("/dev/null", "w", stdout))
            return 0;
        int devnull = open("/dev/null", O_WRONLY);
        for (int &fd : fdws)
            fd = devnull;
        cas_ctl.fdws = fdws;
        timer_list_new();
        cas_callback = on_event;
        ready = true;
    }
    if (size < 2)
        return 0;
    cas_ctl.configured[PORT] = 1;
    cas_ctl.signalling[PORT] = 1 + data[0] % 3;
    cas_ctl.port_state[PORT] = data[1] % 9;
    char buf[CAS_LINE_SIZE];
    size_t n = size - 2 < sizeof buf - 1 ? size - 2 : sizeof buf - 1;
    memcpy(buf, data + 2, n);
    buf[n] = '\0';
    lineif_each_line(buf, receive, nullptr);
    return 0;
}
