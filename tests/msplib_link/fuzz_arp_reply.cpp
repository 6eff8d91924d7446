// Packets off the wire against the ARP reply check.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "arp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    arp_current = arp_lookup{};
    arp_current.own_ll.sll_hatype = 1;
    arp_current.own_ll.sll_halen = (unsigned char)(data[0] % 9);
    sockaddr_ll from = {};
    from.sll_pkttype = (unsigned char)(data[0] >> 4);
    uint8_t out[6];
    arp_receive_packet(data + 1, (int)(size - 1), &from, out);
    return 0;
}
