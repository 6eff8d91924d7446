// Seams of the housekeeping threads that tests replace: the ISDN library's
// port calls and the media processor's device query. housekeeping_reset_hooks
// puts the real ones back.
#pragma once

struct housekeeping_isdn_ops {
    int (*port_up)(int port);       // 1 up, 0 down, -1 blocked or unconfigured
    int (*get_port_up)(int port);   // asks layer 1 to come up
    int (*port_restart)(int port);
    int (*te_ptp_l2_down)(int port);
    int (*port_configured)(int port);
};
extern housekeeping_isdn_ops hk_isdn;

// Queues the device status query with this msp_counter value, not waiting.
extern void (*hk_queue_device_query)(int counter);
