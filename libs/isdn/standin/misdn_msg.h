// Stand-in for the message buffers of platform/misdn's misdn_msg.h, with the
// same names and behaviour, used only while that layer is not in the tree.
#pragma once
#include <pthread.h>
#include <cstddef>
#include <cstdint>

struct msg_queue_head;

typedef struct misdn_msg {
    struct misdn_msg *prev;
    struct misdn_msg *next;
    struct msg_queue_head *list;
    pthread_mutex_t lock;         // guards len/data/tail while a frame grows
    int len;
    unsigned char *head;
    unsigned char *data;
    unsigned char *tail;
    unsigned char *end;
    int size;
} msg_t;

// New message of `size` octets, all tailroom; null when out of memory or
// size is not positive.
msg_t *alloc_msg(int size);
void free_msg(msg_t *msg);
// Appends len octets at the tail; returns where they start, null when they
// do not fit (logged as "msg_over_panic ...").
unsigned char *msg_put(msg_t *msg, int len);
