// The ISDN library's state for the SIP admission (sip_admission_internal.h).
#include "isdn_lib.h"

int isdn_downqueues_full()
{
    return g_queue_full;
}

void isdn_dump_channels(int port)
{
    misdn_dump_chan_list_by_port(port);
}
