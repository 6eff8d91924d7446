// The records of the ISDN library: one misdn_stack per ISDN port with its
// call slots, the per-timeslot B-stack identity, the library record with
// its queues and semaphores, the audio ring of a slot, the start-up port
// list and the restart marks that housekeeping reads.
#pragma once
#include <pthread.h>
#include <semaphore.h>
#include <cstdint>
#include <ctime>

#include "isdn_net.h"
#include "misdn_bchannel.h"
#include "misdn_msg.h"

enum {
    MISDN_MAX_PORTS = 32,       // entries of the start-up port list
    MISDN_SLOTS = 32,           // call slots of a stack
    MISDN_PROCIDS = 257,        // NT process-id table
    ISDNLIB_RESTART_PORTS = 33  // restart marks, indexed by port number
};

// mISDN identity of one B-channel timeslot of a port.
struct misdn_bchannel_meta_info {
    int channel;   // the channel number this timeslot carries
    int b_stid;    // B-channel stack
    int layer_id;  // our layer in it
    int layer;
    int addr;      // where B-channel control frames go
};

// Audio ring of a slot.
enum { IBUFFER_SIZE = 512 };
struct ibuffer {
    unsigned char buffer[IBUFFER_SIZE];
    int rsize;  // read position
    int wsize;  // write position
    sem_t sem;
};

struct misdn_stack {
    net_stack_t nst;          // NT mode layer 2/3 (NT ports only)
    manager_t mgr;            // its manager; nst and mgr point at each other
    int d_stid;
    int b_num;                // B-channel child stacks (2 S0, 30 E1, 23 T1)
    int b_stids[MISDN_SLOTS];
    int ptp;
    int cidlen;
    int crlen;
    int l2upcnt;
    int l2_id;
    int lower_id;
    int upper_id;             // every request frame of the port goes here
    int blocked;
    int l2link;
    time_t l2establish;
    int l1link;
    int midev;
    int nt;
    int pri;
    int t1;
    int procids[MISDN_PROCIDS];
    msg_queue_head_t downqueue;  // frames waiting to be written
    msg_queue_head_t upqueue;    // NT messages waiting for the sender thread
    pthread_mutex_t lock;        // held while one frame of the port passes into its layers
    int busy;
    int port;
    misdn_bchannel bc[MISDN_SLOTS];
    misdn_bchannel_meta_info bc_meta[MISDN_SLOTS];
    pthread_mutex_t channel_lock;  // guards the free-slot search
    int channels[MISDN_SLOTS];
    misdn_bchannel *holding;       // held calls outside the slots
    misdn_stack *next;
    int permanent_l1;
    int restart_after_linkloss;
};

// The library record: one per process, never freed.
// Layer 1 and 2 states (l1link, l2link) change on the catcher thread and are
// read on every thread: they are read and written whole.
inline int misdn_link_get(const int *link)
{
    return __atomic_load_n(link, __ATOMIC_RELAXED);
}
inline void misdn_link_set(int *link, int value)
{
    __atomic_store_n(link, value, __ATOMIC_RELAXED);
}

struct misdn_lib {
    int midev;
    int midev_nt;
    pthread_t event_sender;
    pthread_t event_thread;
    pthread_t event_handler_thread;
    void *user_data;
    msg_queue_head_t upqueue;
    msg_queue_head_t activatequeue;  // frames for the handler not bound to a call
    msg_queue_head_t sender_queue;   // TE frames for the sender thread
    sem_t new_msg;                   // one post per frame for the handler
    sem_t new_sender_msg;            // one post per frame for the sender
    misdn_stack *stack_list;
};

// A queued library event.
struct misdn_lib_event {
    misdn_bchannel *bc;
    event_e event;
};

// Argument of misdn_lib_init: the ports in order with their settings.
struct isdn_init_info {
    int ports[MISDN_MAX_PORTS];
    int port_count;
    int ptp[MISDN_MAX_PORTS];
    int crlen[MISDN_MAX_PORTS];
    int cidlen[MISDN_MAX_PORTS];
};

// Restart marks: a port asks housekeeping for a restart (set when layer 1
// came back and restart after link loss is on).
struct isdnlib_global_options {
    int isdnlib_ports_need_restart;
    int isdnlib_restart_ports[ISDNLIB_RESTART_PORTS];
};
extern isdnlib_global_options isdnlib_options;
