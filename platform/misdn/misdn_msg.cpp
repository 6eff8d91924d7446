#include "misdn_msg.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

void msg_init(void) {}

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
    if (msg->list)
        msg_unlink(msg);
    pthread_mutex_destroy(&msg->lock);
    free(msg);
}

msg_t *msg_copy(const msg_t *msg)
{
    if (!msg)
        return nullptr;
    msg_t *c = alloc_msg(msg->size);
    if (!c)
        return nullptr;
    memcpy(c->head, msg->head, (size_t)msg->size);
    c->data = c->head + (msg->data - msg->head);
    c->tail = c->head + (msg->tail - msg->head);
    c->len = msg->len;
    return c;
}

int msg_headroom(const msg_t *msg) { return (int)(msg->data - msg->head); }
int msg_tailroom(const msg_t *msg) { return (int)(msg->end - msg->tail); }

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

unsigned char *msg_push(msg_t *msg, int len)
{
    if (!msg || len < 0 || len > msg->data - msg->head)
        return nullptr;
    msg->data -= len;
    msg->len += len;
    return msg->data;
}

unsigned char *msg_pull(msg_t *msg, int len)
{
    if (!msg || len < 0 || len > msg->len)
        return nullptr;
    msg->data += len;
    msg->len -= len;
    return msg->data;
}

int msg_reserve(msg_t *msg, int len)
{
    if (!msg || len < 0 || msg->len != 0 || len > msg->end - msg->data)
        return -1;
    msg->data += len;
    msg->tail += len;
    return 0;
}

void msg_trim(msg_t *msg, int len)
{
    if (msg && len >= 0 && len < msg->len) {
        msg->len = len;
        msg->tail = msg->data + len;
    }
}

void msg_queue_init(msg_queue_head_t *q)
{
    q->prev = q->next = nullptr;
    q->len = 0;
    pthread_mutex_init(&q->lock, nullptr);
}

int msg_queue_len(msg_queue_head_t *q)
{
    pthread_mutex_lock(&q->lock);
    int n = q->len;
    pthread_mutex_unlock(&q->lock);
    return n;
}

void msg_queue_tail(msg_queue_head_t *q, msg_t *msg)
{
    if (!msg)
        return;
    if (msg->list)
        msg_unlink(msg);
    pthread_mutex_lock(&q->lock);
    msg->next = nullptr;
    msg->prev = q->prev;
    if (q->prev)
        q->prev->next = msg;
    else
        q->next = msg;
    q->prev = msg;
    msg->list = q;
    q->len++;
    pthread_mutex_unlock(&q->lock);
}

void msg_queue_head(msg_queue_head_t *q, msg_t *msg)
{
    if (!msg)
        return;
    if (msg->list)
        msg_unlink(msg);
    pthread_mutex_lock(&q->lock);
    msg->prev = nullptr;
    msg->next = q->next;
    if (q->next)
        q->next->prev = msg;
    else
        q->prev = msg;
    q->next = msg;
    msg->list = q;
    q->len++;
    pthread_mutex_unlock(&q->lock);
}

static void unlink_locked(msg_queue_head_t *q, msg_t *msg)
{
    if (msg->prev)
        msg->prev->next = msg->next;
    else
        q->next = msg->next;
    if (msg->next)
        msg->next->prev = msg->prev;
    else
        q->prev = msg->prev;
    msg->prev = msg->next = nullptr;
    msg->list = nullptr;
    q->len--;
}

msg_t *msg_dequeue(msg_queue_head_t *q)
{
    pthread_mutex_lock(&q->lock);
    msg_t *m = q->next;
    if (m)
        unlink_locked(q, m);
    pthread_mutex_unlock(&q->lock);
    return m;
}

void msg_unlink(msg_t *msg)
{
    msg_queue_head_t *q = msg ? msg->list : nullptr;
    if (!q)
        return;
    pthread_mutex_lock(&q->lock);
    if (msg->list == q)
        unlink_locked(q, msg);
    pthread_mutex_unlock(&q->lock);
}

void msg_queue_purge(msg_queue_head_t *q)
{
    msg_t *m;
    while ((m = msg_dequeue(q)))
        free_msg(m);
}

// ---- debug output of the network library ----

unsigned int debug_mask = 0;
static std::mutex debug_mutex;
static FILE *debug_file = nullptr;
static FILE *warn_file = nullptr;
static FILE *err_file = nullptr;

static void close_file(FILE *&f)
{
    if (f && f != stderr && f != stdout)
        fclose(f);
    f = nullptr;
}

static FILE *open_or_null(const char *path)
{
    return (path && *path) ? fopen(path, "a") : nullptr;
}

int debug_init(unsigned int mask, const char *dfile, const char *wfile, const char *efile)
{
    std::lock_guard<std::mutex> g(debug_mutex);
    debug_mask = mask;
    close_file(debug_file);
    close_file(warn_file);
    close_file(err_file);
    debug_file = open_or_null(dfile);
    warn_file = open_or_null(wfile);
    err_file = open_or_null(efile);
    return 0;
}

void debug_close(void)
{
    std::lock_guard<std::mutex> g(debug_mutex);
    close_file(debug_file);
    close_file(warn_file);
    close_file(err_file);
    debug_mask = 0;
}

static int vout(FILE *const *f, const char *fmt, va_list ap)
{
    std::lock_guard<std::mutex> g(debug_mutex);
    FILE *o = *f ? *f : stderr;
    int r = vfprintf(o, fmt, ap);
    fflush(o);
    return r;
}

int dprint(unsigned int mask, const char *fmt, ...)
{
    if (!(debug_mask & mask))
        return 0;
    va_list ap;
    va_start(ap, fmt);
    int r = vout(&debug_file, fmt, ap);
    va_end(ap);
    return r;
}

int wprint(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int r = vout(&warn_file, fmt, ap);
    va_end(ap);
    return r;
}

int eprint(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int r = vout(&err_file, fmt, ap);
    va_end(ap);
    return r;
}
