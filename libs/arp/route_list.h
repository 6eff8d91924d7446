// A copy of the host's IPv4 routing table, read once at start-up from
// /proc/net/route. Addresses are kept as the kernel prints them (the
// hexadecimal text read as one number), which is network byte order.
#pragma once
#include <cstdint>

constexpr int ROUTE_LIST_SIZE = 20;

struct route_list_element {
    char *iface; // owned copy
    uint32_t destination_net;
    uint32_t net_mask;
    uint32_t gateway; // 0: directly connected
};

struct route_list {
    route_list_element routes[ROUTE_LIST_SIZE];
    int count;
};

extern route_list routes;

// Reads the routes (at most 20); 0, or -1 when the table cannot be read or
// is empty.
int init_route_list();
// The same from a file of that form.
int read_route_list(const char *path);
// The most specific route whose network holds `target` (the first of
// equally specific ones in table order); null when none does.
const route_list_element *route_for(uint32_t target);
