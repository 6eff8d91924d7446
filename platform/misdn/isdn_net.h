// The NT-mode network library: network-side LAPD (layer 2) and Q.931
// (layer 3) of one port, run by the application on top of the device's
// layer 1, with its timers kept by the device.
//
// The application prepares a net_stack_t and a manager_t (zeroed, linked to
// each other), fills in the device handle, card number, stack and layer ids,
// the feature word and its up entry l3_manager, then calls Isdnl2Init and
// Isdnl3Init. From then on:
//  - every frame the device reads for the port goes into nst->l1_l2 (PH_DATA,
//    PH_ACTIVATE and PH_DEACTIVATE; a non-zero result means "not taken");
//  - every expiry of one of the stack's timers (MGR_TIMER indication whose
//    address is an itimer id in nst->tlist) is answered by clearing the
//    timer's ITIMER_RUNNING flag and calling function(data);
//  - layer-3 requests go down through nst->manager_l3 (non-zero: not taken,
//    the caller frees the message);
//  - indications come up through nst->l3_manager(manager, msg), which owns
//    the message when it returns 0.
// All entries of one stack must be called one at a time (the application
// holds its port lock around them); the library also guards itself.
//
// Layer-3 messages carry a net_user_head_t {prim, dinfo}, then a
// net_msg_ies_t record, then the information elements as on the wire. The
// record points at each element's length octet (single-octet elements: at
// the octet); further occurrences of an element are listed in ext in
// order. CC_SETUP|CONFIRM carries the new process id as the one word after
// the head instead of a record.
#pragma once
#include <pthread.h>
#include <cstdint>

#include "misdn_frame.h"
#include "misdn_msg.h"

typedef struct net_user_head {
    uint32_t prim;
    int32_t dinfo;
} net_user_head_t;
inline constexpr int NET_USER_HEAD_LEN = (int)sizeof(net_user_head_t);

enum { NET_MSG_EXT = 8 };

typedef struct net_msg_ies {
    unsigned char *sending_complete;
    unsigned char *bearer_capability;
    unsigned char *cause;
    unsigned char *call_state;
    unsigned char *channel_id;
    unsigned char *facility;
    unsigned char *progress;
    unsigned char *notify;
    unsigned char *display;
    unsigned char *date;
    unsigned char *keypad;
    unsigned char *signal;
    unsigned char *connected_nr;
    unsigned char *connected_sub;
    unsigned char *calling_nr;
    unsigned char *calling_sub;
    unsigned char *called_nr;
    unsigned char *called_sub;
    unsigned char *redirect_nr;
    unsigned char *restart_ind;
    unsigned char *llc;
    unsigned char *hlc;
    unsigned char *useruser;
    int ces;  // connection endpoint suffix: the answering terminal's TEI, 0 on point-to-point
    struct {
        uint8_t ie;
        unsigned char *p;
    } ext[NET_MSG_EXT];
} net_msg_ies_t;

// Feature word of a stack.
enum {
    FEATURE_NET_HOLD = 0x1,
    FEATURE_NET_PTP = 0x2,
    FEATURE_NET_CRLEN2 = 0x4,
    FEATURE_NET_EXTCID = 0x8,
};

struct net_stack;
struct manager;

enum { ITIMER_RUNNING = 1 };

// One timer of a stack; the device keeps its time and reports the expiry
// with the timer's id as the frame address.
typedef struct itimer {
    struct itimer *prev;
    struct itimer *next;
    struct net_stack *nst;
    int id;
    int expires;                  // milliseconds, set before add_timer
    int flags;                    // ITIMER_RUNNING while armed
    void *data;
    void (*function)(void *data);
} itimer_t;

typedef struct net_stack {
    int device;
    int cardnr;
    uint32_t d_stid;
    uint32_t l1_id;
    uint32_t l2_id;
    int feature;
    msg_queue_head_t down_queue;
    pthread_mutex_t down_mutex;
    struct manager *manager;
    itimer_t *tlist;
    // entries set by the library
    int (*l1_l2)(struct net_stack *nst, msg_t *msg);
    int (*manager_l3)(struct net_stack *nst, msg_t *msg);
    // entry set by the application
    int (*l3_manager)(struct manager *mgr, msg_t *msg);
    void *layer2;  // the library's own state
    void *layer3;
} net_stack_t;

typedef struct manager {
    net_stack_t *nst;
    void *application;
} manager_t;

int Isdnl2Init(net_stack_t *nst);
int Isdnl3Init(net_stack_t *nst);
int cleanup_Isdnl2(net_stack_t *nst);
int cleanup_Isdnl3(net_stack_t *nst);

// Timers of a stack (the stack's library uses them; exposed for tests).
int init_timer(itimer_t *t, net_stack_t *nst);
int add_timer(itimer_t *t);
int del_timer(itimer_t *t);
int remove_timer(itimer_t *t);
int timer_pending(const itimer_t *t);
// The timer of nst with this id, or null.
itimer_t *find_timer(net_stack_t *nst, int id);

// Message helpers for the application.
// New layer-3 message: head {prim, dinfo} and a zeroed record; null when out of memory.
msg_t *net_msg_new(uint32_t prim, int dinfo);
// The record of a layer-3 message, null when it is too short to hold one.
net_msg_ies_t *net_msg_record(msg_t *msg);
// Appends an element (content of len octets; single-octet elements take
// none) and records it; returns the element's length octet, null when it
// does not fit.
unsigned char *net_msg_add_ie(msg_t *msg, uint8_t ie, const uint8_t *content, int len);
