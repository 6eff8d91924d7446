#include "msp_queue.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "csm_codes.h"
#include "csm_message.h"
#include "global_lock.h"
#include "log.h"
#include "msp_dispatch.h"
#include "msp_manager.h"
#include "msp_timeslot.h"

std::atomic<int> msp_command_counter{0};
thread_local int msp_return_code = 0;
std::atomic<int> msp_running{1};
std::atomic<int> runcommandloop{0};
int last_timeslot_destroyed = -1;
int debug_create_channel_counter = 0;
int debug_destroy_channel_counter = 0;
int msp_extra_debugging = 0;

namespace {

pthread_mutex_t *queue_lock()
{
    return g_lock_manager ? g_lock_manager->msp_queue_lock : nullptr;
}

// A new instruction for `message`; the owner's pid and ISDN channel record
// come from the event handler. Null when memory is short.
csminstruction *new_instruction(magic_csm message, int timeslot, void *context, int notify,
                                const char *file, const char *function, int line)
{
    auto *ins = static_cast<csminstruction *>(calloc(1, sizeof(csminstruction)));
    if (!ins)
        return nullptr;
    ins->csm_msg = message;
    ins->timeslot = timeslot;
    ins->context = context;
    ins->notify = notify;
    if (context) {
        magic_csm ctx;
        ctx.u_raw = context;
        ins->pid = (int)msp_event_handler(ctx, MSP_EVENT_QUERY_PID, 0);
        ins->bc = (void *)msp_event_handler(ctx, MSP_EVENT_QUERY_BC, 0);
    }
    const char *base = file ? strrchr(file, '/') : nullptr;
    snprintf(ins->file, sizeof ins->file, "%s", base ? base + 1 : (file ? file : ""));
    snprintf(ins->function, sizeof ins->function, "%s", function ? function : "");
    ins->line = line;
    return ins;
}

bool is_create(const csminstruction *ins)
{
    const csm_header *h = get_header(ins->csm_msg);
    return h && h->function_code == FC_SUPVSR_CREATE_CHANNEL && h->command_type == CSM_TYPE_COMMAND;
}

bool is_destroy(const csminstruction *ins)
{
    const csm_header *h = get_header(ins->csm_msg);
    return h && h->function_code == FC_SUPVSR_DESTROY_CHANNEL;
}

} // namespace

void msp_queue_lock_take()
{
    if (pthread_mutex_t *m = queue_lock())
        pthread_mutex_lock(m);
    msp_command_counter++;
}

void msp_queue_lock_release()
{
    msp_command_counter++;
    if (pthread_mutex_t *m = queue_lock())
        pthread_mutex_unlock(m);
}

void msp_queue_append(csminstruction *ins)
{
    _listhead *q = cman->csm_queue;
    ins->list = nullptr;
    ins->csc_counter = msp_command_counter.load(std::memory_order_relaxed);
    ins->pending = 0;
    if (ins->timeslot >= 0 && ins->timeslot < MSP_TIMESLOTS && ins->processing != 2) {
        if (is_destroy(ins))
            ins->pending = 1;
        else if (is_create(ins))
            ins->pending = -1;
        q->pending[ins->timeslot] += ins->pending;
    }
    if (q->last)
        q->last->list = ins;
    else
        q->first = ins;
    q->last = ins;
    q->length++;
}

void msp_queue_timeslot_done(csminstruction *ins)
{
    ins->processing = 2;
    if (ins->pending) {
        cman->csm_queue->pending[ins->timeslot] -= ins->pending;
        ins->pending = 0;
    }
}

csminstruction *msp_queue_take_all()
{
    _listhead *q = cman->csm_queue;
    csminstruction *first = q->first;
    q->first = q->last = nullptr;
    q->length = 0;
    memset(q->pending, 0, sizeof q->pending);
    for (csminstruction *i = first; i; i = i->list)
        i->pending = 0;
    return first;
}

void msp_queue_remove(csminstruction *ins)
{
    _listhead *q = cman->csm_queue;
    csminstruction *prev = nullptr;
    int steps = 0;
    for (csminstruction *i = q->first; i && steps <= q->length; prev = i, i = i->list, steps++) {
        if (i != ins)
            continue;
        if (prev)
            prev->list = i->list;
        else
            q->first = i->list;
        if (q->last == i)
            q->last = prev;
        q->length--;
        i->list = nullptr;
        if (i->pending) {
            q->pending[i->timeslot] -= i->pending;
            i->pending = 0;
        }
        return;
    }
}

void msp_wake_caller(csminstruction *ins, int result)
{
    msp_waiter *w = ins->semablock;
    if (!w)
        return;
    ins->semablock = nullptr;
    w->result = result;
    // The caller may destroy the waiter as soon as this returns.
    sem_post(&w->sem);
}

void msp_free_instruction(csminstruction *ins)
{
    if (!ins)
        return;
    delete_csm_msg(ins->csm_msg);
    delete_csm_msg(ins->csmresponse);
    free(ins);
}

int _msp_queue_command(magic_csm message, int timeslot, void *context, int blocking, int notify,
                       const char *file, const char *function, int line)
{
    if (!cman || csm_msg_is_null(message)) {
        LOGD(MSP, 0, nullptr, "CRITICAL: cannot queue %s command from %s",
             cman ? "an empty" : "a", function ? function : "?");
        delete_csm_msg(message);
        return -1;
    }
    if (blocking && msp_in_command_thread()) {
        LOGD(MSP, 0, nullptr,
             "CRITICAL: blocking command from the command thread (%s), not waiting for it",
             function ? function : "?");
        blocking = 0;
    }
    csminstruction *ins = new_instruction(message, timeslot, context, notify, file, function, line);
    if (!ins) {
        LOGD(MSP, 0, nullptr, "CRITICAL: Couldn't allocate csminstruction!");
        delete_csm_msg(message);
        return -1;
    }
    msp_waiter waiter;
    if (blocking) {
        sem_init(&waiter.sem, 0, 0);
        waiter.result = 0;
        ins->semablock = &waiter;
    }
    msp_queue_lock_take();
    // Once the library has stopped nobody would answer a waiting caller.
    if (blocking && !msp_lib_running()) {
        msp_queue_lock_release();
        LOGD(MSP, 0, nullptr, "CRITICAL: blocking command from %s after the library stopped",
             function ? function : "?");
        ins->semablock = nullptr;
        sem_destroy(&waiter.sem);
        msp_free_instruction(ins);
        msp_return_code = -1;
        return -1;
    }
    msp_queue_append(ins);
    msp_queue_lock_release();
    if (!blocking)
        return msp_return_code;
    while (sem_wait(&waiter.sem) != 0 && errno == EINTR) {
    }
    sem_destroy(&waiter.sem);
    msp_return_code = waiter.result;
    return waiter.result;
}

void _msp_queue_command_nolock(magic_csm message, int timeslot, void *context, int notify,
                               const char *file, const char *function, int line)
{
    if (!cman || csm_msg_is_null(message)) {
        delete_csm_msg(message);
        return;
    }
    csminstruction *ins = new_instruction(message, timeslot, context, notify, file, function, line);
    if (!ins) {
        LOGD(MSP, 0, nullptr, "CRITICAL: Couldn't allocate csminstruction!");
        delete_csm_msg(message);
        return;
    }
    msp_queue_append(ins);
}

int msp_will_timeslot_be_free(int timeslot)
{
    int count = msp_timeslot_to_channel(timeslot) == MSP_CHANNEL_FREE ? 1 : 0;
    if (!cman)
        return count;
    if (timeslot >= 0 && timeslot < MSP_TIMESLOTS)
        return count + cman->csm_queue->pending[timeslot];
    int steps = 0;
    for (csminstruction *i = cman->csm_queue->first; i && steps < cman->csm_queue->length;
         i = i->list, steps++) {
        if (i->timeslot != timeslot || i->processing == 2)
            continue;
        if (is_destroy(i))
            count++;
        else if (is_create(i))
            count--;
    }
    return count;
}

int msp_list_queue()
{
    if (!cman)
        return 0;
    int pos = 0;
    for (csminstruction *i = cman->csm_queue->first; i && pos < cman->csm_queue->length;
         i = i->list, pos++) {
        const csm_header *h = get_header(i->csm_msg);
        int chan = (i->timeslot >= 0 && i->timeslot <= 255) ? msp_timeslot_to_channel(i->timeslot)
                                                            : 0xFFFF;
        LOGD(MSP, 0, nullptr, "MSPQUEUE %i:co %p:ts %i:fn %s:chan %i:pid %i:bc %p", pos, i->context,
             i->timeslot, h && h->function_text ? h->function_text : "(null)", chan, i->pid, i->bc);
    }
    LOGD(MSP, 0, nullptr, "MSPQUEUE queue length %i", pos);
    return 0;
}

void msp_reorder_queue(csminstruction *head)
{
    msp_queue_lock_take();
    LOGD(MSP, 0, nullptr, "CRITICAL: co %p: Reordering MSP commands, timeslot %i not ready yet",
         head->context, head->timeslot);
    msp_list_queue();

    // One walk over the queue, bounded by its length however long it has
    // grown: does another owner have commands queued, and is the chain whole?
    _listhead *q = cman->csm_queue;
    bool others = false;
    int n = 0;
    csminstruction *i = q->first;
    for (; i && n < q->length; i = i->list, n++)
        if (i->context != head->context)
            others = true;
    bool whole = !i && n == q->length;
    if (!whole)
        LOGD(MSP, 0, nullptr, "CRITICAL: MSP list broken (%i of %i commands linked), left as it is",
             n, q->length);

    if (whole && others) {
        // The other owners' commands first (normally one of them frees the
        // timeslot), then this owner's, each keeping its order.
        csminstruction *mine = nullptr, *mine_last = nullptr;
        csminstruction *rest = nullptr, *rest_last = nullptr;
        for (csminstruction *k = q->first, *next; k; k = next) {
            next = k->list;
            k->list = nullptr;
            bool own = k->context == head->context;
            csminstruction *&first = own ? mine : rest;
            csminstruction *&last = own ? mine_last : rest_last;
            if (last)
                last->list = k;
            else
                first = k;
            last = k;
        }
        rest_last->list = mine;
        q->first = rest;
        q->last = mine_last;
        head->processing = 0;
        msp_queue_lock_release();
        return;
    }
    // Only this owner's commands: the next pass tries the create again.
    msp_queue_lock_release();
    usleep(100);
}

void msp_remove_from_queue_by_logical_timeslot(int timeslot)
{
    if (cman) {
        int pos = 0;
        for (csminstruction *i = cman->csm_queue->first; i && pos < cman->csm_queue->length;
             i = i->list, pos++)
            fprintf(stderr, "MSP list: idx %i ts %i cts %i pid %i ctx %p\n", pos, timeslot,
                    i->timeslot, i->pid, i->context);
    }
    TARN_EXIT(107, "MSP list broken");
}
