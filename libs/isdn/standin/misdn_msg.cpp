#include "misdn_msg.h"

#include <cstdio>
#include <cstdlib>

msg_t *alloc_msg(int size)
{
    if (size <= 0 || size > (1 << 20))
        return nullptr;
    msg_t *m = (msg_t *)calloc(1, sizeof(msg_t) + (size_t)size);
    if (!m)
        return nullptr;
    pthread_mutex_init(&m->lock, nullptr);
    m->head = (unsigned char *)(m + 1);
    m->data = m->tail = m->head;
    m->end = m->head + size;
    m->size = size;
    return m;
}

void free_msg(msg_t *msg)
{
    if (!msg)
        return;
    pthread_mutex_destroy(&msg->lock);
    free(msg);
}

unsigned char *msg_put(msg_t *msg, int len)
{
    if (!msg || len < 0)
        return nullptr;
    if (len > msg->end - msg->tail) {
        fprintf(stderr, "msg_over_panic msg(%p) data(%p) head(%p) tail(%p) len(%d)\n",
                (void *)msg, (void *)msg->data, (void *)msg->head, (void *)msg->tail, len);
        return nullptr;
    }
    unsigned char *p = msg->tail;
    msg->tail += len;
    msg->len += len;
    return p;
}
