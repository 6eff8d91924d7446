// Looks up the next hop's MAC of one IPv4 address through the host's routes:
//   arp_probe ADDRESS  -> "mac xx:xx:xx:xx:xx:xx" (exit 0) or "fail xx:..:xx" (exit 1)
#include <arpa/inet.h>

#include <cstdio>

#include "arp.h"

int main(int argc, char **argv)
{
    in_addr a;
    if (argc != 2 || inet_pton(AF_INET, argv[1], &a) != 1)
        return 2;
    if (init_route_list() != 0)
        return 3;
    uint8_t mac[6] = {1, 1, 1, 1, 1, 1};
    int r = get_target_mac(a.s_addr, mac, 100000);
    printf("%s %02x:%02x:%02x:%02x:%02x:%02x\n", r == 0 ? "mac" : "fail", mac[0], mac[1], mac[2],
           mac[3], mac[4], mac[5]);
    return r == 0 ? 0 : 1;
}
