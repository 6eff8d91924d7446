// Stand-in for the message records of platform/misdn's isdn_net.h (the NT
// network library), with the same names and layout, used only while that
// layer is not in the tree.
//
// Layer-3 messages carry a net_user_head_t {prim, dinfo}, then a
// net_msg_ies_t record, then the elements as on the wire. The record points
// at each element's length octet (single-octet elements: at the octet);
// further occurrences are listed in ext in order.
#pragma once
#include <cstdint>

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
    int ces;
    struct {
        uint8_t ie;
        unsigned char *p;
    } ext[NET_MSG_EXT];
} net_msg_ies_t;
