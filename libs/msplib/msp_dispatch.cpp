#include "msp_dispatch.h"

#include <sys/prctl.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "csm_message.h"
#include "global_lock.h"
#include "log.h"
#include "msp_manager.h"
#include "msp_resource.h"
#include "msp_timeslot.h"

IndicationHandler msp_event_handler = msp_dummyhandler;
msp_command_manager *cman = nullptr;

namespace {

std::atomic<bool> threads_started{false};
std::atomic<bool> dispatcher_stop{false};
pthread_t dispatcher_thread;
pthread_t command_thread;


void deliver(csmcontainer *c)
{
    if (c->channel == 0xFFFF) {
        msp_event_handler(c->csm_msg, c->eventtype, 0xFFFF);
        return;
    }
    pthread_mutex_t *global = g_lock_manager ? g_lock_manager->global_lock : nullptr;
    if (global)
        pthread_mutex_lock(global);
    msp_event_handler(c->csm_msg, c->eventtype, c->channel);
    if (global)
        pthread_mutex_unlock(global);
}

} // namespace

intptr_t msp_dummyhandler(magic_csm, int, int)
{
    LOGD(MSP, 2, nullptr, "Indication arrived, but not handled, set a handler function");
    return 0;
}

msp_command_manager *msp_create_command_manager()
{
    if (cman)
        return cman;
    auto *m = static_cast<msp_command_manager *>(calloc(1, sizeof(msp_command_manager)));
    auto *q = static_cast<_listhead *>(calloc(1, sizeof(_listhead)));
    auto *d = static_cast<_listhead2 *>(calloc(1, sizeof(_listhead2)));
    if (!m || !q || !d || sem_init(&m->dispatcher_semaphore, 0, 0) != 0) {
        free(m);
        free(q);
        free(d);
        return nullptr;
    }
    pthread_mutex_init(&q->lock, nullptr);
    pthread_mutex_init(&d->lock, nullptr);
    m->csm_queue = q;
    m->dispatch_queue = d;
    m->msplib_initializing = 1;
    cman = m;
    msp_init_resources();
    msp_init_timeslots();
    return cman;
}

int msp_init_lib(IndicationHandler handler, ContextInfo formatter)
{
    if (handler)
        msp_event_handler = handler;
    if (formatter)
        msp_context_info = formatter;
    if (threads_started)
        return 0;
    lock_manager_create();
    if (!msp_create_command_manager())
        return -1;
    dispatcher_stop = false;
    msp_command_thread_rearm();
    if (pthread_create(&dispatcher_thread, nullptr, msp_dispatcher, nullptr) != 0)
        return -1;
    if (pthread_create(&command_thread, nullptr, msp_command_loop, nullptr) != 0) {
        dispatcher_stop = true;
        sem_post(&cman->dispatcher_semaphore);
        pthread_join(dispatcher_thread, nullptr);
        return -1;
    }
    threads_started = true;
    return 0;
}

bool msp_lib_running(void)
{
    return threads_started.load();
}

void msp_stop_lib(void)
{
    if (!threads_started.exchange(false))
        return;
    msp_end_command_loop();
    bool command_ended = tarn_join_thread(command_thread, "tarn.msp_loop") == 0;
    dispatcher_stop = true;
    sem_post(&cman->dispatcher_semaphore);
    bool dispatcher_ended = tarn_join_thread(dispatcher_thread, "tarn.msp_disp") == 0;
    // While the process ends the queues are left as they are: a thread that
    // did not end may still use their head, the exiting thread may hold the
    // queue's lock, and a caller woken now could end the process with a
    // status of its own.
    if (!command_ended || !dispatcher_ended || tarn_exiting())
        return;

    // Nothing sends what is still queued: its callers are not left waiting.
    msp_queue_lock_take();
    csminstruction *ins = msp_queue_take_all();
    msp_queue_lock_release();
    while (ins) {
        csminstruction *next = ins->list;
        msp_wake_caller(ins, -1);
        msp_free_instruction(ins);
        ins = next;
    }
    _listhead2 *q = cman->dispatch_queue;
    pthread_mutex_lock(&q->lock);
    csmcontainer *c = q->first;
    q->first = q->last = nullptr;
    pthread_mutex_unlock(&q->lock);
    while (c) {
        csmcontainer *next = c->list;
        delete_csm_msg(c->csm_msg);
        free(c);
        c = next;
    }
    // The semaphore counts one post per event: start again from nothing.
    while (sem_trywait(&cman->dispatcher_semaphore) == 0) {
    }
    LOGD(MSP, 2, nullptr, "msp_stop_lib: threads stopped");
}

void msp_dispatch_event(magic_csm message, int eventtype, int channel)
{
    if (cman && cman->msplib_initializing && eventtype == MSP_EVENT_MESSAGE) {
        delete_csm_msg(message);
        return;
    }
    if (csm_msg_is_null(message)) {
        LOGD(MSP, 1, nullptr, "CRITICAL: UNKWNOWN MESSAGE (nil), CANNOT HANDLE MESSAGE!");
        return;
    }
    auto *c = static_cast<csmcontainer *>(calloc(1, sizeof(csmcontainer)));
    if (!c || !cman) {
        LOGD(MSP, 0, nullptr, "CRITICAL: Couldn't allocate csmcontainer!");
        free(c);
        delete_csm_msg(message);
        return;
    }
    c->csm_msg = message;
    c->eventtype = eventtype;
    c->channel = channel;
    _listhead2 *q = cman->dispatch_queue;
    pthread_mutex_lock(&q->lock);
    if (q->last)
        q->last->list = c;
    else
        q->first = c;
    q->last = c;
    pthread_mutex_unlock(&q->lock);
    sem_post(&cman->dispatcher_semaphore);
}

void *msp_dispatcher(void *)
{
    prctl(PR_SET_NAME, "tarn.msp_disp", 0, 0, 0);
    _listhead2 *q = cman->dispatch_queue;
    for (;;) {
        while (sem_wait(&cman->dispatcher_semaphore) != 0 && errno == EINTR) {
        }
        if (dispatcher_stop)
            break;
        pthread_mutex_lock(&q->lock);
        csmcontainer *c = q->first;
        if (c) {
            q->first = c->list;
            if (!q->first)
                q->last = nullptr;
        }
        pthread_mutex_unlock(&q->lock);
        if (!c) {
            LOGD(MSP, 0, nullptr, "CRITICAL: Couldn't dequeue dispatch event");
            continue;
        }
        deliver(c);
        delete_csm_msg(c->csm_msg);
        free(c);
    }
    return nullptr;
}
