// Start-up packet-filter rules: the address-translation table cleared,
// forwarding on, the configured multicast groups let through on each SIP
// interface, the RTP port ranges forwarded to the media processor by
// destination NAT (the T.38 ranges stay on the host), and the status-server
// and PCM-bridging ports taken from tarn.conf.
#pragma once

// 0; -1 when the multicast list cannot be read (start-up ends); 1 when a
// port setting is missing or invalid (start-up goes on).
int init_iptables();

// A multicast entry of tarn.conf: a dotted-quad IPv4 address beginning
// "224.0." with an optional ":port" (1-65535). The address and the port
// text (empty without one) are copied out.
bool parse_multicast_entry(const char *entry, char address[16], char port[6]);
