// Inside of the network library (not for the application).
#pragma once
#include <map>
#include <mutex>

#include "isdn_net.h"
#include "lapd.h"
#include "q931_l3.h"
#include "q931_wire.h"

// The elements of a layer-3 message from the application, in Q.931 order;
// their length, or -1 with *why.
int net_msg_to_ies(const msg_t *msg, uint8_t *out, int cap, const char **why);
// A layer-3 message for the application from a received message.
msg_t *net_msg_from_q931(uint32_t prim, int dinfo, const q931_msg *m, int ces);

struct net_timer {
    itimer_t t{};
    bool armed = false;
    int layer = 0;  // 2 or 3
    int key = 0;
    int64_t due = 0;  // monotonic ms when it is due
};

struct net_priv {
    std::recursive_mutex mtx;
    lapd_entity l2;
    q931_l3 l3;
    bool l3_up = false;
    std::map<int, net_timer *> timers;  // by (layer << 24) | key
};
