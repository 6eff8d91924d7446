// Log shorthands of the modem library: module GSM, call id "CID:000000:g%i"
// for a port, "CID:000000:00" for lines without one.
#pragma once
#include "log.h"

#include <cstdio>

struct gsm_cid {
    char text[32];
    explicit gsm_cid(int port)
    {
        if (port > 0)
            snprintf(text, sizeof text, "CID:000000:g%i", port);
        else
            snprintf(text, sizeof text, "CID:000000:00");
    }
};

#define GLOG(level, port, ...) \
    log_msg_debug((level), GSM, __FILE__, __LINE__, __func__, gsm_cid(port).text, __VA_ARGS__)
