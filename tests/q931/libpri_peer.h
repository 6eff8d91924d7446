// A far end on Debian's libpri for tests: libpri runs its D-channel through
// in-memory callbacks; this side answers its LAPD (UA, RR), keeps the Q.931
// messages libpri sends and hands libpri Q.931 messages of ours as I frames.
#pragma once
#include <deque>
#include <functional>
#include <vector>

extern "C" {
#include <libpri.h>
}

#include "q931_test_support.h"

struct libpri_peer {
    struct pri *pri = nullptr;
    bool network = false;              // libpri's side
    std::deque<octets> to_pri;         // LAPD frames waiting for libpri
    std::vector<octets> from_pri;      // Q.931 messages libpri sent
    int vs = 0, vr = 0;                // our send and receive sequence numbers
    bool up = false;                   // link established

    // libpri as network (1) or user side; bri: basic rate point-to-point.
    libpri_peer(bool network, bool bri, int switchtype);
    ~libpri_peer();
    // Lets libpri read every frame waiting for it; events go to on_event.
    void pump(const std::function<void(pri_event *)> &on_event = nullptr);
    // Hands libpri one of our Q.931 messages.
    void send(const octets &q931);
};
