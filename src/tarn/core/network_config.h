// Network facts of the host: the addresses of the LAN, WAN and VPN
// interfaces and of the media processor link, read once at start
// (get_network_config) into the application object's netconf.
//
// The media processor sits behind the interface named by interface_msp; the
// host's address there ends in 1 and the processor's own address is the
// same with a final 2 (msp_devip). Its MAC is configured (msp_device_mac),
// since the processor's interface is not visible to the host.
#pragma once
#include <cstddef>
#include <cstdint>

struct network_config {
    uint16_t msp_hostside_mac_1, msp_hostside_mac_2, msp_hostside_mac_3; // host side of the link
    uint16_t msp_mspside_mac_1, msp_mspside_mac_2, msp_mspside_mac_3;
    uint16_t host_mac_1, host_mac_2, host_mac_3; // the LAN MAC
    uint16_t msp_mspside_ip_1, msp_mspside_ip_2; // msp_devip in two halves
    char host_ifname_lan[16];
    char host_ifname_wan[16];
    char host_ifname_vpn[16];
    char msp_ifname[16];
    char host_ip_lan[32];
    char host_mac_lan[32];
    char host_ip_wan[32];
    char host_mac_wan[32];
    char host_ip_vpn[32];
    char host_mac_vpn[32];
    char msp_ip[32];     // the host's address on the link
    char msp_mac[32];    // the host's MAC on the link
    char msp_devip[32];  // the media processor's address
    char msp_devmac[32]; // the media processor's MAC as configured
    int32_t lanmode;
    char lan_ip[256];
    char wan_ip[256];
    uint8_t msp_bin_devmac[6];
};

// Appends the interface's MAC ("aa:bb:cc:dd:ee:ff") and dotted IPv4 address
// to the two (empty) buffers and prints "get_net_info: dev ..." to standard
// error: 0. An interface that does not exist, is a loopback interface, or
// lacks a hardware or an IPv4 address leaves both empty and prints
// "get_net_info failed: ...": -1.
int get_net_info(const char *ifname, char *mac, size_t mac_size, char *ip, size_t ip_size);

// Fills gp->netconf from tarn.conf, tarn.sip and the interfaces: 0, or -1
// when a key cannot be read, the media processor interface has no address
// ending in 1, or msp_device_mac is no MAC.
int get_network_config();

// The six host lines ("host_ifname_lan: ..." to "host_ip_vpn: ...") on
// standard error.
void list_netconf();

// A final digit 1 of the text becomes 2: 0; -1 for an empty text or
// another last character.
int increase_ip_by_one(char *ip);

// Address operations on texts, shared with the media processor's device
// settings. The MAC texts are changed in place: lower case, only 0-9 and a-f.
int clean_mac_address(char *mac);
// Exactly 12 hex digits into three 16-bit groups, or into six bytes: 0; any
// other count logs "CRITICAL: Parsing MAC failed": -1.
int mac_char_to_ushort(char *mac, uint16_t *w1, uint16_t *w2, uint16_t *w3);
int mac_char_to_bytearray(char *mac, uint8_t bytes[6]);
// Half 1: the first two bytes of a dotted address, first byte high; half 2
// the last two; any other half 0.
uint16_t ip_to_short(const char *ip, int half);
