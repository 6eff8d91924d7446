// Message buffers and message queues shared by the device layer, the NT
// network library and the ISDN library.
//
// A message owns one contiguous buffer [head, end); its payload is
// [data, tail) with `len` = tail - data. Room in front of `data` (headroom)
// lets a header be pushed later; room after `tail` (tailroom) takes data put
// at the end. Every operation that would leave the buffer refuses and returns
// null (or -1) instead.
#pragma once
#include <pthread.h>
#include <cstddef>
#include <cstdint>

struct msg_queue_head;

typedef struct misdn_msg {
    struct misdn_msg *prev;
    struct misdn_msg *next;
    struct msg_queue_head *list;  // the queue holding the message, if any
    pthread_mutex_t lock;         // guards len/data/tail while a frame grows
    int len;
    unsigned char *head;
    unsigned char *data;
    unsigned char *tail;
    unsigned char *end;
    int size;                     // octets of the buffer
} msg_t;

typedef struct msg_queue_head {
    msg_t *prev;   // last message
    msg_t *next;   // first message
    int len;
    pthread_mutex_t lock;
} msg_queue_head_t;

// Size of the message buffers the device layer hands up (frame head + data).
inline constexpr int MAX_MSG_SIZE = 2080;
inline constexpr int DEFAULT_HEADROOM = 16;

// Start-up of the message pool; idempotent.
void msg_init(void);
// New message of `size` octets, all tailroom; null when out of memory or
// size is not positive.
msg_t *alloc_msg(int size);
void free_msg(msg_t *msg);
// Copy of a message (same headroom and payload); null when out of memory.
msg_t *msg_copy(const msg_t *msg);

int msg_headroom(const msg_t *msg);
int msg_tailroom(const msg_t *msg);
// Appends len octets at the tail; returns where they start, null when they
// do not fit (logged as "msg_over_panic ...").
unsigned char *msg_put(msg_t *msg, int len);
// Prepends len octets in front of data; null when the headroom is short.
unsigned char *msg_push(msg_t *msg, int len);
// Removes len octets from the front; null when the payload is shorter.
unsigned char *msg_pull(msg_t *msg, int len);
// Moves data and tail of an empty message len octets on; -1 when it does not fit.
int msg_reserve(msg_t *msg, int len);
// Cuts the payload to len octets (no effect when it is shorter).
void msg_trim(msg_t *msg, int len);

void msg_queue_init(msg_queue_head_t *q);
int msg_queue_len(msg_queue_head_t *q);
void msg_queue_tail(msg_queue_head_t *q, msg_t *msg);
void msg_queue_head(msg_queue_head_t *q, msg_t *msg);
// Takes the first message; null when the queue is empty.
msg_t *msg_dequeue(msg_queue_head_t *q);
// Unlinks msg from the queue it is on (no effect when on none).
void msg_unlink(msg_t *msg);
void msg_queue_purge(msg_queue_head_t *q);

// Debug output of the network library: a mask of what to print and the
// files to print to (null: standard error). debug_close returns to stderr.
enum { DBGM_NET = 0x01, DBGM_L2 = 0x02, DBGM_L3 = 0x04, DBGM_MSG = 0x08, DBGM_ALL = 0xff };
int debug_init(unsigned int mask, const char *dfile, const char *wfile, const char *efile);
void debug_close(void);
extern unsigned int debug_mask;
int dprint(unsigned int mask, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int wprint(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int eprint(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
