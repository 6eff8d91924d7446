#include "network_config.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "confman.h"
#include "log.h"
#include "schema.h"

int get_net_info(const char *ifname, char *mac, size_t mac_size, char *ip, size_t ip_size)
{
    char found_mac[18] = "", found_ip[INET_ADDRSTRLEN] = "";
    bool loopback = false;
    ifaddrs *list = nullptr;
    if (ifname && ifname[0] && getifaddrs(&list) == 0) {
        for (ifaddrs *a = list; a; a = a->ifa_next) {
            if (!a->ifa_name || strcmp(a->ifa_name, ifname) != 0 || !a->ifa_addr)
                continue;
            loopback |= (a->ifa_flags & IFF_LOOPBACK) != 0;
            if (a->ifa_addr->sa_family == AF_PACKET) {
                const sockaddr_ll *ll = (const sockaddr_ll *)a->ifa_addr;
                if (ll->sll_halen == 6)
                    snprintf(found_mac, sizeof found_mac, "%02x:%02x:%02x:%02x:%02x:%02x", ll->sll_addr[0],
                             ll->sll_addr[1], ll->sll_addr[2], ll->sll_addr[3], ll->sll_addr[4], ll->sll_addr[5]);
            } else if (a->ifa_addr->sa_family == AF_INET && !found_ip[0]) {
                inet_ntop(AF_INET, &((const sockaddr_in *)a->ifa_addr)->sin_addr, found_ip, sizeof found_ip);
            }
        }
        freeifaddrs(list);
    }
    if (loopback || !found_mac[0] || !found_ip[0] || !mac || !ip ||
        strlen(mac) + strlen(found_mac) >= mac_size || strlen(ip) + strlen(found_ip) >= ip_size) {
        if (mac && mac_size)
            mac[0] = '\0';
        if (ip && ip_size)
            ip[0] = '\0';
        fprintf(stderr, "get_net_info failed: dev %s, mac unknown, ip unknown\n", ifname ? ifname : "");
        return -1;
    }
    strcat(mac, found_mac);
    strcat(ip, found_ip);
    fprintf(stderr, "get_net_info: dev %s, mac %s, ip %s\n", ifname, mac, ip);
    return 0;
}

int increase_ip_by_one(char *ip)
{
    size_t n = ip ? strlen(ip) : 0;
    if (n == 0 || ip[n - 1] != '1')
        return -1;
    ip[n - 1] = '2';
    return 0;
}

int clean_mac_address(char *mac)
{
    int n = 0;
    for (const char *p = mac; *p; p++) {
        char c = (char)tolower((unsigned char)*p);
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))
            mac[n++] = c;
    }
    mac[n] = '\0';
    return n;
}

// The twelve hex digits of a MAC text in groups of `width` digits.
static int mac_groups(char *mac, int width, unsigned long *out)
{
    if (clean_mac_address(mac) != 12) {
        LOGD(TARN, 0, nullptr, "CRITICAL: Parsing MAC failed");
        return -1;
    }
    for (int g = 0; g < 12 / width; g++) {
        char part[5] = {};
        memcpy(part, mac + g * width, width);
        out[g] = strtoul(part, nullptr, 16);
    }
    return 0;
}

int mac_char_to_ushort(char *mac, uint16_t *w1, uint16_t *w2, uint16_t *w3)
{
    unsigned long g[3];
    if (mac_groups(mac, 4, g) != 0)
        return -1;
    *w1 = (uint16_t)g[0];
    *w2 = (uint16_t)g[1];
    *w3 = (uint16_t)g[2];
    return 0;
}

int mac_char_to_bytearray(char *mac, uint8_t bytes[6])
{
    unsigned long g[6];
    if (mac_groups(mac, 2, g) != 0)
        return -1;
    for (int i = 0; i < 6; i++)
        bytes[i] = (uint8_t)g[i];
    return 0;
}

uint16_t ip_to_short(const char *ip, int half)
{
    in_addr a;
    if (!ip || inet_pton(AF_INET, ip, &a) != 1 || (half != 1 && half != 2))
        return 0;
    const uint8_t *b = (const uint8_t *)&a.s_addr;
    return half == 1 ? (uint16_t)(b[0] << 8 | b[1]) : (uint16_t)(b[2] << 8 | b[3]);
}

void list_netconf()
{
    const network_config &n = gp->netconf;
    fprintf(stderr, "host_ifname_lan: %s\n", n.host_ifname_lan);
    fprintf(stderr, "host_ip_lan: %s\n", n.host_ip_lan);
    fprintf(stderr, "host_ifname_wan: %s\n", n.host_ifname_wan);
    fprintf(stderr, "host_ip_wan: %s\n", n.host_ip_wan);
    fprintf(stderr, "host_ifname_vpn: %s\n", n.host_ifname_vpn);
    fprintf(stderr, "host_ip_vpn: %s\n", n.host_ip_vpn);
}

// A failed look-up of a host interface leaves these.
static const char NO_IP[] = "0.0.0.0";
static const char NO_MAC[] = "00:00:00:00:00:00";

static void lookup_host(const char *ifname, char *ip, size_t ip_size, char *mac, size_t mac_size)
{
    ip[0] = mac[0] = '\0';
    if (get_net_info(ifname, mac, mac_size, ip, ip_size) != 0) {
        snprintf(ip, ip_size, "%s", NO_IP);
        snprintf(mac, mac_size, "%s", NO_MAC);
    }
}

int get_network_config()
{
    network_config &n = gp->netconf;
    char msp_if[32], devmac[32], lan[32], wan[32], vpn[32];
    // 1.
    if (cm_get(gp->config_tarn, msp_if, sizeof msp_if, 0, CFG_TARN_INTERFACE_MSP) != 0 ||
        cm_get(gp->config_tarn, devmac, sizeof devmac, 0, CFG_TARN_MSP_DEVICE_MAC) != 0 ||
        cm_get(gp->config_sip, lan, sizeof lan, 0, CFG_SIP_INTERFACE_NAME_LAN) != 0 ||
        cm_get(gp->config_sip, wan, sizeof wan, 0, CFG_SIP_INTERFACE_NAME_WAN) != 0 ||
        cm_get(gp->config_sip, vpn, sizeof vpn, 0, CFG_SIP_INTERFACE_NAME_VPN) != 0)
        return -1;

    // 2. the host's address on the link ends in 1, the processor's in 2
    char mac[32] = "", devip[32] = "";
    if (get_net_info(msp_if, mac, sizeof mac, devip, sizeof devip) != 0 || increase_ip_by_one(devip) != 0)
        return -1;

    // 3.
    snprintf(n.host_ifname_lan, sizeof n.host_ifname_lan, "%.15s", lan);
    snprintf(n.host_ifname_wan, sizeof n.host_ifname_wan, "%.15s", wan);
    snprintf(n.host_ifname_vpn, sizeof n.host_ifname_vpn, "%.15s", vpn);
    snprintf(n.msp_ifname, sizeof n.msp_ifname, "%.15s", msp_if);

    // 4.
    if (lan[0])
        lookup_host(lan, n.host_ip_lan, sizeof n.host_ip_lan, n.host_mac_lan, sizeof n.host_mac_lan);
    if (wan[0])
        lookup_host(wan, n.host_ip_wan, sizeof n.host_ip_wan, n.host_mac_wan, sizeof n.host_mac_wan);

    // 5. the link's own facts come from its own look-up alone
    lookup_host(msp_if, n.msp_ip, sizeof n.msp_ip, n.msp_mac, sizeof n.msp_mac);
    snprintf(n.msp_devip, sizeof n.msp_devip, "%s", devip);
    snprintf(n.msp_devmac, sizeof n.msp_devmac, "%s", devmac);

    // 6. binary forms; the texts keep their documented form
    char copy[32];
    snprintf(copy, sizeof copy, "%s", n.msp_devmac);
    if (mac_char_to_bytearray(copy, n.msp_bin_devmac) != 0)
        return -1;
    snprintf(copy, sizeof copy, "%s", n.msp_mac);
    mac_char_to_ushort(copy, &n.msp_hostside_mac_1, &n.msp_hostside_mac_2, &n.msp_hostside_mac_3);
    snprintf(copy, sizeof copy, "%s", n.host_mac_lan);
    if (copy[0])
        mac_char_to_ushort(copy, &n.host_mac_1, &n.host_mac_2, &n.host_mac_3);
    n.msp_mspside_ip_1 = ip_to_short(n.msp_devip, 1);
    n.msp_mspside_ip_2 = ip_to_short(n.msp_devip, 2);
    return 0;
}
