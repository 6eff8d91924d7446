#include "arp.h"

#include <arpa/inet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

arp_lookup arp_current;

namespace {

pthread_mutex_t lookup_lock = PTHREAD_MUTEX_INITIALIZER;

constexpr int ARP_PACKET_SIZE = 28;

long now_usec()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000L + t.tv_nsec / 1000;
}

// The host's address toward next_hop on ifname: a UDP socket bound to the
// interface, not routed, connected to the next hop.
int own_address(const char *ifname, in_addr next_hop, in_addr *own)
{
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    int on = 1;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(1025);
    to.sin_addr = next_hop;
    sockaddr_in me = {};
    socklen_t len = sizeof me;
    int r = -1;
    if (setsockopt(s, SOL_SOCKET, SO_BINDTODEVICE, ifname, (socklen_t)strlen(ifname) + 1) == 0 &&
        setsockopt(s, SOL_SOCKET, SO_DONTROUTE, &on, sizeof on) == 0 &&
        connect(s, (sockaddr *)&to, sizeof to) == 0 && getsockname(s, (sockaddr *)&me, &len) == 0) {
        *own = me.sin_addr;
        r = 0;
    }
    close(s);
    return r;
}

int lookup(const route_list_element *route, uint32_t target, uint8_t mac[6], long timeout_usec)
{
    in_addr hop;
    hop.s_addr = route->gateway ? route->gateway : target;

    int s = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    ifreq ifr = {};
    snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", route->iface);
    if (ioctl(s, SIOCGIFINDEX, &ifr) != 0) {
        close(s);
        return -1;
    }
    int ifindex = ifr.ifr_ifindex;
    if (ioctl(s, SIOCGIFFLAGS, &ifr) != 0 || !(ifr.ifr_flags & IFF_UP) ||
        (ifr.ifr_flags & (IFF_LOOPBACK | IFF_NOARP))) {
        close(s);
        return -1;
    }

    arp_lookup &l = arp_current;
    l = arp_lookup{};
    l.next_hop = hop;
    if (own_address(route->iface, hop, &l.own_ip) != 0) {
        close(s);
        return -1;
    }
    l.own_ll.sll_family = AF_PACKET;
    l.own_ll.sll_ifindex = ifindex;
    l.own_ll.sll_protocol = htons(ETH_P_ARP);
    socklen_t alen = sizeof l.own_ll;
    if (bind(s, (sockaddr *)&l.own_ll, sizeof l.own_ll) != 0 ||
        getsockname(s, (sockaddr *)&l.own_ll, &alen) != 0 || l.own_ll.sll_halen != 6) {
        // The request carries six-byte (Ethernet) addresses only.
        close(s);
        return -1;
    }
    l.broadcast_ll = l.own_ll;
    memset(l.broadcast_ll.sll_addr, 0xFF, l.broadcast_ll.sll_halen);

    if (arp_send_packet(s, l.own_ip, l.next_hop, &l.own_ll, &l.broadcast_ll) < 0) {
        close(s);
        return -1;
    }

    long deadline = now_usec() + (timeout_usec > ARP_WAIT_USEC ? timeout_usec : ARP_WAIT_USEC);
    uint8_t packet[4096];
    for (;;) {
        long left = deadline - now_usec();
        long wait = left < ARP_WAIT_USEC ? left : ARP_WAIT_USEC;
        pollfd p = {s, POLLIN, 0};
        int r = wait > 0 ? poll(&p, 1, (int)((wait + 999) / 1000)) : 0;
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            fprintf(stderr, "arp request timeout\n");
            close(s);
            return -1;
        }
        sockaddr_ll from = {};
        socklen_t flen = sizeof from;
        ssize_t n = recvfrom(s, packet, sizeof packet, 0, (sockaddr *)&from, &flen);
        if (n <= 0)
            continue;
        if (arp_receive_packet(packet, (int)n, &from, mac)) {
            close(s);
            return 0;
        }
    }
}

} // namespace

int arp_send_packet(int s, in_addr own, in_addr next_hop, const sockaddr_ll *own_ll,
                    const sockaddr_ll *broadcast_ll)
{
    uint8_t p[ARP_PACKET_SIZE];
    uint16_t w;
    w = htons(ARPHRD_ETHER);
    memcpy(p + 0, &w, 2);
    w = htons(ETH_P_IP);
    memcpy(p + 2, &w, 2);
    p[4] = own_ll->sll_halen;
    p[5] = 4;
    w = htons(ARPOP_REQUEST);
    memcpy(p + 6, &w, 2);
    memcpy(p + 8, own_ll->sll_addr, 6);
    memcpy(p + 14, &own, 4);
    memset(p + 18, 0xFF, 6);
    memcpy(p + 24, &next_hop, 4);
    return (int)sendto(s, p, sizeof p, 0, (const sockaddr *)broadcast_ll, sizeof *broadcast_ll);
}

int arp_receive_packet(const uint8_t *packet, int length, const sockaddr_ll *from, uint8_t *out)
{
    const arp_lookup &l = arp_current;
    if (!packet || !from)
        return 0;
    if (from->sll_pkttype != PACKET_HOST && from->sll_pkttype != PACKET_BROADCAST &&
        from->sll_pkttype != PACKET_MULTICAST)
        return 0;
    if (length < 8)
        return 0;
    uint16_t hrd = (uint16_t)(packet[0] << 8 | packet[1]);
    uint16_t pro = (uint16_t)(packet[2] << 8 | packet[3]);
    int hln = packet[4], pln = packet[5];
    uint16_t op = (uint16_t)(packet[6] << 8 | packet[7]);
    if (op != ARPOP_REQUEST && op != ARPOP_REPLY)
        return 0;
    if (hrd != l.own_ll.sll_hatype && !(l.own_ll.sll_hatype == ARPHRD_FDDI && hrd == ARPHRD_ETHER))
        return 0;
    if (pro != ETH_P_IP || pln != 4 || hln != l.own_ll.sll_halen)
        return 0;
    if (length < 16 + 2 * hln)
        return 0;
    const uint8_t *sha = packet + 8;
    const uint8_t *spa = sha + hln;
    const uint8_t *tha = spa + 4;
    const uint8_t *tpa = tha + hln;
    if (memcmp(spa, &l.next_hop, 4) != 0 || memcmp(tpa, &l.own_ip, 4) != 0 ||
        memcmp(tha, l.own_ll.sll_addr, (size_t)hln) != 0)
        return 0;
    if (out)
        memcpy(out, sha, 6);
    return 1;
}

int get_target_mac(uint32_t target, uint8_t mac[6], long timeout_usec)
{
    if (!mac)
        return -1;
    memset(mac, 0, 6);
    const route_list_element *route = route_for(target);
    if (!route || !route->iface)
        return -1;
    pthread_mutex_lock(&lookup_lock);
    int r = lookup(route, target, mac, timeout_usec);
    pthread_mutex_unlock(&lookup_lock);
    if (r != 0)
        memset(mac, 0, 6);
    return r;
}
