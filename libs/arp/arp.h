// Next-hop MAC discovery: the Ethernet address the media processor must put
// into the packets of a channel toward an IP peer, the peer's own when it
// is on a directly connected network, else the gateway's of the route to it.
// One ARP request is sent from the host on the route's interface.
#pragma once
#include <linux/if_packet.h>
#include <netinet/in.h>

#include <cstdint>

#include "route_list.h"

// Each wait for the answer; an unrelated packet starts a new one, but the
// whole look-up never takes longer than the caller's time-out.
constexpr long ARP_WAIT_USEC = 20000;

// The look-up in progress (one at a time).
struct arp_lookup {
    in_addr own_ip;
    in_addr next_hop;
    sockaddr_ll own_ll;       // the interface's own link address
    sockaddr_ll broadcast_ll; // the same with all address bytes 0xFF
};
extern arp_lookup arp_current;

// The next hop's MAC for `target` (network byte order) into mac[6]: 0, or
// -1 with mac all zero. `timeout_usec` bounds the whole look-up (0: one
// wait).
int get_target_mac(uint32_t target, uint8_t mac[6], long timeout_usec);

// Sends the ARP request for next_hop from own; the send result.
int arp_send_packet(int s, in_addr own, in_addr next_hop, const sockaddr_ll *own_ll,
                    const sockaddr_ll *broadcast_ll);
// 1 when `packet` is the awaited answer of arp_current (the sender's MAC
// copied to out), else 0.
int arp_receive_packet(const uint8_t *packet, int length, const sockaddr_ll *from, uint8_t *out);
