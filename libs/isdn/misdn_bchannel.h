// One ISDN call on one B-channel. The application reads port and channel and
// writes pid; the library's own members join as its call handling grows.
#pragma once
#include <cstdint>

struct misdn_bchannel {
    int32_t port;
    int32_t channel;
    int32_t pid;
    int32_t in_use;
    int32_t unassociated;
};
