// Arbitrary driver output through the analog read path: one read split into
// lines, each decoded into an event; and arbitrary sysfs state texts.
#include "analog_internal.h"

#include <cstdint>
#include <cstring>

static int on_event(int, unsigned event)
{
    if (event < ANALOG_EVENT_UNKNOWN || event > ANALOG_EVENT_WINK)
        __builtin_trap();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static analog_ctlport *row = new analog_ctlport();
    row->port = 5;
    analog_callback = on_event;
    char buf[ANALOG_LINE_SIZE];
    size_t n = size < sizeof buf - 1 ? size : sizeof buf - 1;
    memcpy(buf, data, n);
    analog_dispatch_read(row, buf, (int)n);
    buf[n] = '\0';
    int type = size ? data[0] % 4 : 0;
    analog_str_to_state(type, buf + (n ? 1 : 0));
    return 0;
}
