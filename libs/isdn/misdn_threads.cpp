// The library's three threads: the catcher reads every frame from the
// device, the handler writes queued frames to it, the sender delivers the
// D-channel events to call control under global_lock; and the handling of
// one TE frame on the sender thread.
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>

#include "global_lock.h"
#include "isdn_lib_intern.h"
#include "isdn_msg.h"
#include "log.h"
#include "misdn_device.h"

static void wait_sem(sem_t *s)
{
    while (sem_wait(s) < 0 && errno == EINTR) {
    }
}

void queue_activate_frame(msg_t *msg)
{
    msg_queue_tail(&glob_mgr->activatequeue, msg);
    sem_post(&glob_mgr->new_msg);
}

void queue_sender_frame(msg_t *msg)
{
    msg_queue_tail(&glob_mgr->sender_queue, msg);
    sem_post(&glob_mgr->new_sender_msg);
}

// ---- jobs the catcher leaves to the sender thread ----

// Never destroyed: a thread may still take a job while the process exits.
static std::mutex jobs_lock;
static std::deque<std::pair<int, int>> &jobs = *new std::deque<std::pair<int, int>>;  // (port, kind)

void queue_sender_job(int port, int kind)
{
    {
        std::lock_guard<std::mutex> g(jobs_lock);
        jobs.emplace_back(port, kind);
    }
    sem_post(&glob_mgr->new_sender_msg);
}

static bool take_job(int *port, int *kind)
{
    std::lock_guard<std::mutex> g(jobs_lock);
    if (jobs.empty())
        return false;
    *port = jobs.front().first;
    *kind = jobs.front().second;
    jobs.pop_front();
    return true;
}

void run_sender_job(int port, int kind)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    if (!stack)
        return;
    int last = stack->b_num < MISDN_SLOTS - 1 ? stack->b_num : MISDN_SLOTS - 1;
    switch (kind) {
    case JOB_L1_DOWN_CLEANUP:
        for (int i = 0; i <= last; i++)
            if (cb_event)
                cb_event(EVENT_CLEANUP, &stack->bc[i], nullptr);
        break;
    case JOB_LINKLOSS_RESTART:
        for (int i = 0; i <= last; i++) {
            misdn_bchannel *bc = &stack->bc[i];
            if (!bc->in_use)
                continue;
            if (cb_event)
                cb_event(EVENT_RELEASE_COMPLETE, bc, nullptr);
            misdn_lib_send_event(bc, EVENT_RELEASE_COMPLETE);
            misdn_lib_send_event(bc, EVENT_RESTART);
        }
        isdnlib_options.isdnlib_ports_need_restart = 1;
        if (port >= 0 && port < ISDNLIB_RESTART_PORTS)
            isdnlib_options.isdnlib_restart_ports[port] = 1;
        break;
    default:
        break;
    }
}

// ---- catcher ----

void *misdn_lib_isdn_event_catcher(void *arg)
{
    misdn_lib *mgr = (misdn_lib *)arg;
    prctl(PR_SET_NAME, "tarn.isdn_evc", 0, 0, 0);
    errno = 0;
    if (nice(-16) == -1 && errno)
        cb_log(1, 0, -1, "nice -16 for the event catcher failed: %s\n", strerror(errno));
    sched_param sp{};
    sp.sched_priority = 25;
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &sp) == 0)
        cb_log(1, 0, -1, "Setting SCHED_RR succeeded, we're realtime now\n");
    else
        cb_log(1, 0, -1, "Setting SCHED_RR failed\n");

    int zero_frms = 0, fff_frms = 0;
    while (!isdn_stopping.load()) {
        msg_t *msg = alloc_msg(MAX_MSG_SIZE);
        if (!msg) {
            cb_log(0, 0, -1, "fetch_msg: alloc msg failed !!");
            usleep(1000);
            continue;
        }
        int r;
        for (;;) {
            r = mISDN_read(mgr->midev, msg->data, MAX_MSG_SIZE, TIMEOUT_10SEC);
            if (r < 0 && errno == EAGAIN) {
                cb_log(4, 0, -1, "mISDN_read wants us to wait\n");
                usleep(5000);
                continue;
            }
            break;
        }
        if (r == 0) {
            free_msg(msg);
            cb_log(9, 0, -1, "Got empty Msg..\n");
            continue;
        }
        if (r < 0 && isdn_stopping.load()) {  // the device was closed under the read
            free_msg(msg);
            break;
        }
        if (r < 0) {
            int e = errno;
            cb_log(0, 0, -1, "mISDN_read returned :%d error:%s (%d)\n", r, strerror(e), e);
            if (e == ENOSPC) {
                fprintf(stderr, "mISDN_read returned :%d error:%s (%d)\n", r, strerror(e), e);
                TARN_EXIT(-2, "mISDN_read: no space left on device");
            }
            free_msg(msg);  // nothing was read: no frame to hand on
            usleep(1000);
            continue;
        }
        pthread_mutex_lock(&msg->lock);
        msg_put(msg, r);
        pthread_mutex_unlock(&msg->lock);
        iframe_t *frm = (iframe_t *)msg->data;
        if (r < mISDN_HEADER_LEN || frm->len < 0 || frm->len > r - mISDN_HEADER_LEN) {
            cb_log(0, 0, -1, "mISDN frame of %d octets with data length %d dropped\n", r,
                   r < mISDN_HEADER_LEN ? -1 : frm->len);
            free_msg(msg);
            continue;
        }
        if (!frm->len && !frm->addr && !frm->dinfo && !frm->prim) {
            zero_frms++;
            free_msg(msg);
            continue;
        }
        if (zero_frms) {
            cb_log(0, 0, -1, "*** Alert: %d zero_frms caught\n", zero_frms);
            zero_frms = 0;
        }
        if (!frm->len && !frm->dinfo && frm->prim == 0xFFFFFFFFu) {
            fff_frms++;
            free_msg(msg);
            continue;
        }
        if (fff_frms) {
            cb_log(0, 0, -1, "*** Alert: %d fff_frms caught\n", fff_frms);
            fff_frms = 0;
        }
        manager_isdn_handler(frm, msg);
    }
    return nullptr;
}

// ---- handler ----

static void clear_stack_request(const iframe_t *frm)
{
    misdn_stack *stack = get_stack_by_isdn_port(frm->dinfo);
    if (!stack) {
        cb_log(0, frm->dinfo, -1, "no stack found with port [%d]!! so we cannot cleanup the bc\n", frm->dinfo);
        return;
    }
    misdn_bchannel *bc = find_bc_by_l3id(stack, (int)frm->addr);
    if (bc) {
        cb_log(1, stack->port, bc->pid, "CLEARSTACK queued, cleaning up\n");
        manager_bchannel_deactivate(bc);
    } else {
        cb_log(0, stack->port, -1, "bc could not be cleaned correctly !! addr [%x]\n", frm->addr);
    }
}

static void send_te_frame(misdn_stack *stack, msg_t *msg)
{
    if (msg->len < mISDN_HEADER_LEN) {
        free_msg(msg);
        return;
    }
    iframe_t *frm = (iframe_t *)msg->data;
    // The frame carries the layer-3 id it was built for; the call record
    // itself belongs to the sender thread, which may be releasing it now, so
    // it is not consulted here. A frame without one (a scratch record's
    // RELEASE COMPLETE) has no layer-3 process to go to.
    if (!frm->dinfo) {
        free_msg(msg);
        return;
    }
    frm->addr = (uint32_t)stack->upper_id | FLG_MSG_DOWN;
    frm->len = msg->len - mISDN_HEADER_LEN;
    cb_log(4, stack->port, -1, "Sending msg, prim:%x addr:%x dinfo:%x\n", frm->prim, frm->addr, frm->dinfo);
    int n = mISDN_write(glob_mgr->midev, msg->data, msg->len, TIMEOUT_1SEC);
    if (n < msg->len)
        cb_log(0, stack->port, -1, "send_msg: LESS WRITTEN THAN EXPECTED! (%d of %d)\n", n, msg->len);
    free_msg(msg);
}

void *manager_event_handler(void *arg)
{
    misdn_lib *mgr = (misdn_lib *)arg;
    prctl(PR_SET_NAME, "tarn.isdn_evh", 0, 0, 0);
    sem_post(&handler_started);
    for (;;) {
        wait_sem(&mgr->new_msg);
        if (isdn_stopping.load())
            break;
        while (msg_t *msg = msg_dequeue(&mgr->activatequeue)) {
            if (msg->len >= mISDN_HEADER_LEN) {
                iframe_t *frm = (iframe_t *)msg->data;
                switch (frm->prim) {
                case MGR_SETSTACK | REQUEST:
                    break;
                case MGR_CLEARSTACK | REQUEST:
                    clear_stack_request(frm);
                    break;
                default: {
                    int len = frm->len < 0 ? 0 : frm->len > msg->len - mISDN_HEADER_LEN ? msg->len - mISDN_HEADER_LEN : frm->len;
                    mISDN_write(mgr->midev, msg->data, mISDN_HEADER_LEN + len, TIMEOUT_1SEC);
                    break;
                }
                }
            }
            free_msg(msg);
        }
        for (misdn_stack *stack = mgr->stack_list; stack; stack = stack->next) {
            while (msg_t *msg = msg_dequeue(&stack->downqueue)) {
                pthread_mutex_lock(&stack->lock);
                if (stack->nt) {
                    if (!stack->nst.manager_l3 || stack->nst.manager_l3(&stack->nst, msg)) {
                        cb_log(0, stack->port, -1, "Error@ Sending Message in NT-Stack.\n");
                        free_msg(msg);
                    }
                } else {
                    send_te_frame(stack, msg);
                }
                pthread_mutex_unlock(&stack->lock);
            }
        }
    }
    return nullptr;
}

// ---- sender ----

void *application_event_sender(void *arg)
{
    misdn_lib *mgr = (misdn_lib *)arg;
    prctl(PR_SET_NAME, "tarn.isdn_evs", 0, 0, 0);
    pthread_mutex_t *global = g_lock_manager->global_lock;
    for (;;) {
        wait_sem(&mgr->new_sender_msg);
        if (isdn_stopping.load())
            break;
        while (msg_t *msg = msg_dequeue(&mgr->sender_queue)) {
            pthread_mutex_lock(global);
            handle_te_frame(msg);
            pthread_mutex_unlock(global);
        }
        for (misdn_stack *stack = mgr->stack_list; stack; stack = stack->next)
            while (msg_t *msg = msg_dequeue(&stack->upqueue)) {
                pthread_mutex_lock(global);
                handle_event_nt(&stack->mgr, msg);
                pthread_mutex_unlock(global);
            }
        int port, kind;
        while (take_job(&port, &kind)) {
            pthread_mutex_lock(global);
            run_sender_job(port, kind);
            pthread_mutex_unlock(global);
        }
    }
    return nullptr;
}

// ---- one TE frame ----

static void log_slots(misdn_stack *stack)
{
    for (int i = 0; i <= stack->b_num && i < MISDN_SLOTS; i++)
        cb_log(0, stack->port, -1, "ISDN Port %i bc %i 0x%p: pid=%i in_use=%i l3id 0x%x\n", stack->port, i,
               (void *)&stack->bc[i], stack->bc[i].pid, stack->bc[i].in_use, stack->bc[i].l3_id);
}

// A record that carries no call: the scratch record of an unknown call
// reference, or the record of a call refused for want of a slot.
static bool no_call_record(const misdn_bchannel *bc, bool scratch)
{
    return scratch || (bc->stack_holder && !bc->in_use && !bc->holded);
}

// The channel bookkeeping of an event; false when the event was refused
// (a RELEASE COMPLETE is on its way then).
static bool te_channel_step(misdn_stack *stack, misdn_bchannel *bc, event_e event)
{
    switch (event) {
    case EVENT_PROCEEDING:
    case EVENT_PROGRESS:
    case EVENT_ALERTING:
    case EVENT_CONNECT:
    case EVENT_SETUP_ACKNOWLEDGE:
        if (channel_spender_process_answer(chan_mgr, stack->port, bc, bc->channel, bc->exclusive) < 0) {
            cb_log(0, stack->port, bc->pid, "channel_spender_process_answer failed (%s) (%p,%d)!!\n",
                   bc->event_queue, (void *)bc, bc->pid);
            bc->out_cause = misdn_cw_reject_code;
            misdn_lib_send_event(bc, EVENT_RELEASE_COMPLETE);
            return false;
        }
        manager_bchannel_activate(bc);
        return true;
    case EVENT_SETUP: {
        int queued = g_check_queues_length ? misdn_queues_state() : 0;
        if (g_check_queues_length && queued >= g_check_queues_length) {
            cb_log(0, stack->port, bc->pid, "Terminating SETUP INDICATION, because of queue->len: %d\n", queued);
            bc->out_cause = 42;
            misdn_lib_send_event(bc, EVENT_RELEASE_COMPLETE);
            return false;
        }
        int granted = 0;
        int r = incoming_channel_request(stack, bc, &granted);
        cb_log(3, stack->port, bc->pid, "Incoming Channel Requested, %i!!", granted);
        if (r == -2) {
            cb_log(0, stack->port, bc->pid, "Any Channel Requested, but o, we have no more!!");
            bc->out_cause = misdn_cw_reject_code;
            misdn_lib_send_event(bc, EVENT_RELEASE_COMPLETE);
            return false;
        }
        if (r < 0) {  // refused, or both sides insist on the same channel
            bc->channel = 0;
            bc->out_cause = 44;
            misdn_lib_send_event(bc, EVENT_RELEASE_COMPLETE);
            return false;
        }
        bc->channel = granted;
        manager_bchannel_activate(bc);
        return true;
    }
    case EVENT_CONNECT_ACKNOWLEDGE:
        manager_bchannel_activate(bc);
        return true;
    default:
        return true;
    }
}

void handle_te_frame(msg_t *msg)
{
    iframe_t *frm = (iframe_t *)msg->data;
    misdn_stack *stack = msg->len >= mISDN_HEADER_LEN ? find_stack_by_addr(frm->addr) : nullptr;
    if (!stack || stack->nt) {
        fprintf(stderr, "TE_READ (q): frm->addr:%x frm->prim:%x, stack not found!! this should never happen.\n",
                msg->len >= mISDN_HEADER_LEN ? frm->addr : 0, msg->len >= mISDN_HEADER_LEN ? frm->prim : 0);
        free_msg(msg);
        return;
    }
    cb_log(4, stack->port, -1, "TE_READ: frm->addr:%x frm->dinfo:%x frm->prim:%x\n", frm->addr, frm->dinfo,
           frm->prim);
    int r = handle_cr(stack, frm);
    if (r < 0)
        cb_log(3, stack->port, -1, "handle_frm: handle_cr <0 prim:%x frm->dinfo:%x addr:%x\n", frm->prim,
               frm->dinfo, frm->addr);
    if (r) {
        free_msg(msg);
        return;
    }

    bool use_scratch = false;
    misdn_bchannel *bc = find_bc_by_l3id(stack, frm->dinfo);
    if (!bc) {
        cb_log(0, stack->port, -1, " --> Didn't find BC so temporarly creating dummy BC (l3id:%x) on this port.\n",
               frm->dinfo);
        bc = scratch_record(stack, frm->dinfo);
        use_scratch = true;
    }
    const char *name = nullptr;
    event_e event = take_event(stack, msg, bc, 0, &name);
    if (!stack->pri && use_scratch) {
        cb_log(0, stack->port, -1, "Dummy BC (%p): Addr %x prim %x dinfo %x => Event %s (%i)\n", (void *)bc,
               frm->addr, frm->prim, frm->dinfo, name ? name : "", event);
        log_slots(stack);
    }

    bool refused = false;
    if (no_call_record(bc, use_scratch)) {
        // no channel is booked for a record without a call
        if (event != EVENT_SETUP && event != EVENT_RELEASE_COMPLETE)
            cb_log(3, stack->port, bc->pid, "no call for l3id %x: no channel bookkeeping\n", frm->dinfo);
    } else {
        refused = !te_channel_step(stack, bc, event);
    }

    if (refused) {
        cb_log(0, stack->port, bc->pid, "couldn't handle event\n");
    } else {
        cb_log(5, stack->port, bc->pid, "lib Got Prim: Addr %x prim %x dinfo %x event %i\n", frm->addr, frm->prim,
               frm->dinfo, event);
        event_response_e response = RESPONSE_OK;
        if (name) {
            if (event == EVENT_SETUP && no_call_record(bc, use_scratch)) {
                response = RESPONSE_RELEASE_SETUP;
                if (use_scratch) {  // this SETUP is still owed its RELEASE COMPLETE
                    bc->need_release_complete = 1;
                    bc->out_cause = misdn_cw_reject_code;
                }
            } else if (cb_event) {
                response = cb_event(event, bc, glob_mgr->user_data);
            }
        } else {
            cb_log(0, stack->port, bc->pid, "Unknown Event Ind: Addr:%x prim %x dinfo %x\n", frm->addr, frm->prim,
                   frm->dinfo);
        }
        if (event == EVENT_SETUP) {
            switch (response) {
            case RESPONSE_IGNORE_SETUP_WITHOUT_CLOSE:
                cb_log(0, stack->port, bc->pid, "TOTALY IGNORING SETUP \n");
                break;
            case RESPONSE_IGNORE_SETUP:
                bc->out_cause = 16;
                /* fall through */
            case RESPONSE_RELEASE_SETUP:
                misdn_lib_send_event(bc, EVENT_RELEASE_COMPLETE);
                empty_bc(bc);
                bc->bc_state = BCHAN_CLEANED;
                cb_log(0, stack->port, bc->pid, "GOT IGNORE SETUP\n");
                break;
            case RESPONSE_ERR:
                break;
            case RESPONSE_OK:
                cb_log(4, stack->port, bc->pid, "GOT SETUP OK\n");
                break;
            }
        }
        if (event == EVENT_RELEASE_COMPLETE)
            empty_bc_keep_causes(bc);
        cb_log(5, stack->port, bc->pid, "Freeing Msg on prim:%x \n", frm->prim);
    }
    free_msg(msg);
}
