// Sending call events and the life of a call record: its preparation at
// start, its reset, and the opening and closing of its B-channel.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "isdn_lib_intern.h"
#include "isdn_msg.h"
#include "log.h"
#include "misdn_device.h"

static int newteid = 0;  // TE process-id counter, 1..0xFFFF (the entity sits above it)

// The next TE process id: entity in the upper 16 bits, the counter below.
static int new_te_l3id(void)
{
    newteid = newteid >= 0xFFFF ? 1 : newteid + 1;
    return (int)(((uint32_t)entity << 16) | (uint32_t)newteid);
}

// Sets the TE process-id counter (tests).
void misdn_lib_set_te_l3id_counter(int value) { newteid = value; }

// The first free NT process id (0xFF00 | index); 0 when all 256 are taken.
static int new_nt_l3id(misdn_stack *stack)
{
    for (int i = 0; i <= 0xFF; i++)
        if (!stack->procids[i]) {
            stack->procids[i] = 1;
            cb_log(6, stack->port, -1, "Create New ProcId %i.\n", i);
            return 0xFF00 | i;
        }
    return 0;
}

void manager_bchannel_activate(misdn_bchannel *bc)
{
    misdn_stack *stack = get_stack_by_bc(bc);
    if (!stack) {
        cb_log(0, bc ? bc->port : 0, bc ? bc->pid : -1, "bchannel_activate: Stack not found !");
        return;
    }
    if (bc->astbuf)
        bc->astbuf->rsize = bc->astbuf->wsize = 0;
    if (bc->channel >= 1 && bc->channel <= 254)
        __atomic_store_n(&bc->meta, meta_of_channel(stack, bc->channel), __ATOMIC_RELAXED);
    if (!bc->meta) {
        cb_log(0, bc->port, bc->pid, "bchannel_activate: Channel not set!");
        return;
    }
    cb_log(5, stack->port, bc->pid, "$$$ Bchan Activated addr %x\n", bc->meta->addr);
    if (mISDN_write_frame(stack->midev, nullptr, (uint32_t)bc->meta->addr | FLG_MSG_DOWN, DL_ESTABLISH | REQUEST, 0,
                          0, nullptr, TIMEOUT_1SEC) < 0)
        cb_log(0, stack->port, bc->pid, "bchannel_activate: WRITE_FRAME FAILED\n");
    bc->bc_state = BCHAN_ACTIVATED;
}

// A bridged channel leaves its conference.
static void split_conference(misdn_bchannel *bc)
{
    bc->bc_state = BCHAN_ACTIVATED;
    manager_ph_control(bc, 0x2305, 0);
    manager_ph_control(bc, 0x2301, bc->conf_id);
    cb_log(4, bc->port, bc->pid, "Splitting bc:%x in conf:%d\n", bc->l3_id, bc->conf_id);
}

void manager_bchannel_deactivate(misdn_bchannel *bc)
{
    if (!bc)
        return;
    if (bc->bc_state == BCHAN_BRIDGED) {
        split_conference(bc);
    } else if (bc->bc_state != BCHAN_ACTIVATED) {
        cb_log(6, bc->port, bc->pid, "bchan_deactivate: called but not activated\n");
        return;
    }
    misdn_stack *stack = get_stack_by_bc(bc);
    if (!bc->meta && stack && bc->channel >= 1 && bc->channel <= 254)
        __atomic_store_n(&bc->meta, meta_of_channel(stack, bc->channel), __ATOMIC_RELAXED);
    if (!bc->meta || !stack) {
        cb_log(5, bc->port, bc->pid, "manager_bchannel_deactivate: Channel not set!");
        return;
    }
    cb_log(5, bc->port, bc->pid, "$$$ Bchan deActivated addr %x\n", bc->meta->addr);
    bc->generate_tone = 0;
    if (mISDN_write_frame(stack->midev, nullptr, (uint32_t)bc->meta->addr | FLG_MSG_DOWN, DL_RELEASE | REQUEST, 0, 0,
                          nullptr, TIMEOUT_1SEC) < 0)
        cb_log(0, bc->port, bc->pid, "bchannel_deactivate: WRITE_FRAME FAILED\n");
    if (bc->astbuf)
        bc->astbuf->rsize = bc->astbuf->wsize = 0;
    bc->bc_state = BCHAN_CLEANED;
}

int empty_bc(misdn_bchannel *bc)
{
    if (!bc)
        return 0;
    int port = bc->port, channel = bc->channel;
    manager_bchannel_deactivate(bc);
    bc->txgain = bc->rxgain = 0;
    bc->bframe_len = 0;
    bc->phc_queue_c1 = bc->phc_queue_c2 = 0;
    bc->cw = 0;
    bc->dec = 0;
    bc->channel = 0;
    bc->sending_complete = 0;
    bc->restart_channel = 0;
    bc->conf_id = 0;
    bc->need_more_infos = 0;
    bc->send_dtmf = 0;
    bc->nodsp = 0;
    bc->nojitter = 0;
    bc->time_usec = 0;
    bc->crypt = 0;
    bc->curptx = bc->curprx = 0;
    bc->generate_tone = 0;
    bc->tone_cnt = 0;
    bc->active = 0;
    bc->orig = 0;
    bc->AOCD_need_export = 0;
    bc->early_bconnect = 1;
    bc->dton = bc->rton = bc->cton = NUMTYPE_UNKNOWN;
    bc->oton = bc->o2ton = NUMTYPE_SUBSCRIBER;
    bc->dnpi = bc->onpi = bc->rnpi = bc->cnpi = bc->o2npi = NUMPLAN_ISDN;
    bc->cause = bc->out_cause = 16;
    bc->evq = EVENT_NOTHING;
    bc->pres = bc->screen = bc->o2pres = bc->o2screen = 0;
    bc->rpres = bc->rscreen = bc->cpres = bc->cscreen = 0;
    bc->progress_coding = bc->progress_location = bc->progress_indicator = 0;
    memset(bc->outfac, 0, sizeof bc->outfac);
    memset(bc->outfac_len, 0, sizeof bc->outfac_len);
    memset(bc->outfac_len_stored, 0, sizeof bc->outfac_len_stored);
    bc->uu_protocol = 132;
    bc->qsig_local_name_pres = bc->qsig_remote_name_pres = 1;
    bc->law = 3;
    bc->rate = 16;
    bc->keypad[0] = bc->info_dad[0] = bc->userusername[0] = bc->infos_pending[0] = 0;
    bc->oad[0] = bc->cad[0] = bc->oad2[0] = bc->dad[0] = bc->rad[0] = bc->orig_dad[0] = 0;
    bc->qsig_local_name[0] = bc->qsig_remote_name[0] = 0;
    bc->activersionDivQNumber1[0] = bc->activersionDivQNumber2[0] = 0;
    bc->display[0] = bc->pipeline[0] = 0;
    memset(bc->uu, 0, sizeof bc->uu);
    memset(bc->hlc, 0, sizeof bc->hlc);
    memset(bc->llc, 0, sizeof bc->llc);
    bc->uulen = bc->uulen_stored = 0;
    bc->activersionDivQNumber1_ton = bc->activersionDivQNumber2_ton = 0;
    bc->infac_len = bc->calling_subaddress_len = bc->called_subaddress_len = 0;
    bc->capability = bc->mode = bc->user1 = bc->urate = bc->hdlc = 0;
    bc->hlclen = bc->llclen = 0;
    bc->te_choose_channel = 0;
    bc->channel_id_encoded = 0;
    memset(&bc->bearer_info, 0, sizeof bc->bearer_info);
    bc->fac_in.Function = Fac_None;
    bc->fac_out.Function = Fac_None;
    bc->ie_facilities.ie_counter[0] = 0;
    __atomic_store_n(&bc->meta, nullptr, __ATOMIC_RELAXED);
    return channel_spender_release_channel(chan_mgr, bc, port, channel);
}

int misdn_empty_bc(misdn_bchannel *bc) { return empty_bc(bc); }

void empty_bc_keep_causes(misdn_bchannel *bc)
{
    int cause = bc->cause, out_cause = bc->out_cause;
    empty_bc(bc);
    bc->cause = cause;
    bc->out_cause = out_cause;
}

void misdn_lib_release(misdn_bchannel *bc)
{
    if (!bc)
        return;
    if (!get_stack_by_bc(bc)) {
        cb_log(1, bc->port, bc->pid, "misdn_release: No Stack found\n");
        return;
    }
    empty_bc(bc);
    free_bc(bc);
}

void misdn_clear_unassociated_bc(misdn_bchannel *bc)
{
    if (!bc)
        return;
    bc->unassociated = 0;
    bc->need_disconnect = bc->need_release = bc->need_release_complete = 0;
    empty_bc(bc);
    free_bc(bc);
}

int setup_bc(misdn_bchannel *bc, int b_idx)
{
    misdn_stack *stack = get_stack_by_bc(bc);
    if (!stack) {
        cb_log(0, bc ? bc->port : 0, -1, "setup_bc: NO STACK FOUND!!\n");
        return -1;
    }
    if (b_idx < 0 || b_idx >= MISDN_SLOTS)
        return 1;
    int b = stack->b_stids[b_idx];
    if (bc->bc_state != BCHAN_CLEANED) {
        cb_log(4, stack->port, bc->pid, "$$$ bc already upsetted stid :%x (state:%s)\n", b, bc_state2str(bc->bc_state));
        return -1;
    }
    cb_log(5, stack->port, bc->pid, "$$$ Setting up bc with stid :%x\n", b);
    if (b < 1) {
        cb_log(0, stack->port, bc->pid, " -- Stid <=0 at the moment in bstid:%d\n", b);
        bc->bc_state = BCHAN_ERROR;
        return 1;
    }
    misdn_bchannel_meta_info *meta = &stack->bc_meta[b_idx];
    meta->b_stid = b;
    bc->nodsp = 1;
    cb_log(4, stack->port, bc->pid, "setup_bc: without dsp\n");
    layer_info_t li;
    memset(&li, 0, sizeof li);
    snprintf(li.name, sizeof li.name, "B L3");
    li.object_id = -1;
    li.st = (uint32_t)b;
    li.pid.protocol[3] = ISDN_PID_L3_B_TRANS;
    li.pid.layermask = 1 << 3;
    meta->layer = 3;
    int ret = mISDN_new_layer(stack->midev, &li);
    if (ret < 0) {
        cb_log(0, stack->port, bc->pid, "New Layer Err: %d %s\n", ret, strerror(errno));
        bc->bc_state = BCHAN_ERROR;
        return -22;
    }
    meta->layer_id = (int)li.id;
    cb_log(4, stack->port, bc->pid, " --> b_stid is %x\n", b);
    cb_log(2, stack->port, bc->pid, " --> TRANSPARENT Mode (no DSP, no HDLC)\n");
    mISDN_pid_t pid;
    memset(&pid, 0, sizeof pid);
    pid.protocol[1] = ISDN_PID_L1_B_64TRANS;
    pid.protocol[2] = ISDN_PID_L2_B_TRANS;
    pid.protocol[3] = ISDN_PID_L3_B_TRANS;
    pid.layermask = (1 << 1) | (1 << 2) | (1 << 3);
    const char *failed = nullptr;
    ret = mISDN_set_stack(stack->midev, (uint32_t)b, &pid);
    if (ret < 0) {
        failed = "$$$ Set Stack Err: %d %s\n";
    } else if ((ret = mISDN_get_setstack_ind(stack->midev, (uint32_t)meta->layer_id)) < 0) {
        failed = "$$$ Set StackIND Err: %d %s\n";
    } else if ((ret = mISDN_get_layerid(stack->midev, (uint32_t)b, 3)) < 0) {
        failed = "$$$ Get Layerid Err: %d %s\n";
    }
    if (failed) {
        cb_log(0, stack->port, bc->pid, failed, ret, strerror(errno));
        mISDN_write_frame(stack->midev, nullptr, (uint32_t)meta->layer_id, MGR_DELLAYER | REQUEST, 0, 0, nullptr,
                          TIMEOUT_1SEC);
        bc->bc_state = BCHAN_ERROR;
        if (cb_event)
            cb_event(EVENT_BCHAN_ERROR, bc, glob_mgr ? glob_mgr->user_data : nullptr);
        return -22;
    }
    meta->addr = ret < 0 ? 0 : ret;
    if (bc->phc_queue_c1) {
        manager_ph_control(bc, bc->phc_queue_c1, bc->phc_queue_c2);
        bc->phc_queue_c1 = bc->phc_queue_c2 = 0;
    }
    return 0;
}

static ibuffer *make_ring(void)
{
    ibuffer *ib = (ibuffer *)calloc(1, sizeof(ibuffer));
    if (!ib)
        return nullptr;
    if (sem_init(&ib->sem, 1, 0) < 0 && sem_init(&ib->sem, 0, 0) < 0) {
        free(ib);
        return nullptr;
    }
    return ib;
}

int init_bc(misdn_stack *stack, misdn_bchannel *bc, int midev, int port, int bidx, const char *msn, int)
{
    if (!bc || !stack)
        return -1;
    cb_log(8, port, -1, "Init.BC %d.\n", bidx);
    memset(bc, 0, sizeof *bc);
    if (bidx >= 0 && bidx < MISDN_SLOTS)
        __atomic_store_n(&bc->meta, &stack->bc_meta[bidx], __ATOMIC_RELAXED);
    pthread_mutex_init(&bc->send_lock, nullptr);
    snprintf(bc->msn, sizeof bc->msn, "%s", msn ? msn : "");
    empty_bc(bc);
    bc->bc_state = BCHAN_CLEANED;
    bc->port = stack->port;
    bc->nt = stack->nt ? 1 : 0;
    bc->astbuf = make_ring();
    if (!bc->astbuf)
        return -1;
    unsigned char buff[1025];
    int ret = mISDN_get_stack_info(midev, port, buff, sizeof buff);
    if (ret < 0) {
        cb_log(0, port, -1, "%s: Cannot get stack info for this port. (ret=%d)\n", __func__, ret);
        return -1;
    }
    stack_info_t si;
    memcpy(&si, buff, sizeof si);
    if (bidx >= 0 && bidx < MAX_STACK_CHILD) {
        cb_log(8, port, -1, " --> Child %x\n", si.child[bidx]);
        stack->bc_meta[bidx].channel = (channel_spender_get_dchannel(chan_mgr, port) > 0 && bidx + 1 >= 16)
                                           ? bidx + 2
                                           : bidx + 1;
        setup_bc(bc, bidx);
    }
    __atomic_store_n(&bc->meta, nullptr, __ATOMIC_RELAXED);
    return 0;
}

// A clearing message goes once: DISCONNECT, RELEASE (which also ends the
// need for DISCONNECT) and RELEASE COMPLETE (all three). False when it was
// sent already.
static bool clearing_owed(misdn_stack *stack, misdn_bchannel *bc, event_e event)
{
    static const struct {
        event_e event;
        int misdn_bchannel::*flag;
        const char *sent;
    } rows[] = {
        {EVENT_DISCONNECT, &misdn_bchannel::need_disconnect, " --> we have already send Disconnect\n"},
        {EVENT_RELEASE, &misdn_bchannel::need_release, " --> we have already send Release\n"},
        {EVENT_RELEASE_COMPLETE, &misdn_bchannel::need_release_complete,
         " --> we have already send Release_complete\n"},
    };
    for (const auto &r : rows) {
        if (r.event != event)
            continue;
        if (!(bc->*r.flag)) {
            cb_log(0, stack->port, bc->pid, "%s", r.sent);
            return false;
        }
        cb_log(1, stack->port, bc->pid, "%s:%d --> need_disconnect=0\n", __FILE__, __LINE__);
        bc->need_disconnect = 0;
        if (event != EVENT_DISCONNECT)
            bc->need_release = 0;
        if (event == EVENT_RELEASE_COMPLETE)
            bc->need_release_complete = 0;
        return true;
    }
    return true;
}

// DTMF detection, echo canceller and gains of a speech call that connects.
static void speech_connect_steps(misdn_stack *stack, misdn_bchannel *bc)
{
    if (!bc->nodsp)
        manager_ph_control(bc, 0x2100, 0);
    manager_ec_enable(bc);
    if (bc->txgain) {
        cb_log(4, stack->port, bc->pid, "--> Changing txgain to %d\n", bc->txgain);
        manager_ph_control(bc, 0x2312, bc->txgain);
    }
    if (bc->rxgain) {
        cb_log(4, stack->port, bc->pid, "--> Changing rxgain to %d\n", bc->rxgain);
        manager_ph_control(bc, 0x2313, bc->rxgain);
    }
}

int misdn_lib_send_event(misdn_bchannel *bc, event_e event)
{
    if (!bc)
        return -1;
    misdn_stack *stack = get_stack_by_bc(bc);
    misdn_send_lock(bc);
    struct unlock_at_exit {
        misdn_bchannel *bc;
        ~unlock_at_exit() { misdn_send_unlock(bc); }
    } unlock{bc};
    const char *name = isdn_get_info(msgs_g, event, bc->nt);
    if (!stack) {
        cb_log(0, bc->port, bc->pid, "SENDEVENT: no Stack for event:%s oad:%s dad:%s \n", name ? name : "", bc->oad,
               bc->dad);
        return -1;
    }
    cb_log(6, stack->port, bc->pid, "SENDEVENT: stack->nt:%d stack->uperid:%x\n", stack->nt, stack->upper_id);
    bc_history_add(bc, "S", name);
    cb_log(1, stack->port, bc->pid, "I SEND:%s oad:%s dad:%s pid:%d\n", name ? name : "", bc->oad, bc->dad, bc->pid);
    cb_log(17, stack->port, bc->pid, "I SEND: %s", name ? name : "");
    cb_log(4, stack->port, bc->pid, " --> bc_state:%s\n", bc_state2str(bc->bc_state));
    misdn_lib_log_ies(bc);

    misdn_bchannel *holded_copy_of = nullptr;
    switch (event) {
    case EVENT_PROCEEDING:
    case EVENT_PROGRESS:
    case EVENT_ALERTING:
    case EVENT_CONNECT:
    case EVENT_SETUP_ACKNOWLEDGE:
    case EVENT_RETRIEVE_ACKNOWLEDGE:
        if (bc->channel < 1 || bc->channel > 254)
            return -1;
        bc->exclusive = channel_spender_get_behaviour(chan_mgr, stack->port) == CHANNEL_EXCLUSIVE ? 1 : 0;
        __atomic_store_n(&bc->meta, meta_of_channel(stack, bc->channel), __ATOMIC_RELAXED);
        manager_bchannel_activate(bc);
        if (misdn_cap_is_speech(bc->capability) && (event == EVENT_CONNECT || event == EVENT_RETRIEVE_ACKNOWLEDGE))
            speech_connect_steps(stack, bc);
        break;
    case EVENT_SETUP: {
        int granted = 0;
        if (channel_spender_request_outgoing_channel(chan_mgr, stack->port, bc->channel, bc, &granted) < 0) {
            cb_log(0, stack->port, bc->pid, " no free channel found\n");
            cb_log(0, stack->port, bc->pid, " No free channel at the moment @ send_event\n");
            return -1;
        }
        bc->channel = granted;
        __atomic_store_n(&bc->meta, meta_of_channel(stack, bc->channel), __ATOMIC_RELAXED);
        bc->exclusive = channel_spender_get_behaviour(chan_mgr, stack->port) == CHANNEL_EXCLUSIVE ? 1 : 0;
        cb_log(4, stack->port, bc->pid, " -->  found channel: %d\n", bc->channel);
        if (stack->nt) {
            int l3id = new_nt_l3id(stack);
            if (!l3id) {
                cb_log(0, stack->port, bc->pid, "Couldnt Create New ProcId.\n");
                channel_spender_release_channel(chan_mgr, bc, stack->port, bc->channel);
                cb_log(0, stack->port, bc->pid, " No free channel at the moment @ send_event\n");
                return -1;
            }
            bc->l3_id = l3id;
            cb_log(3, stack->port, bc->pid, " --> new_l3id %x\n", l3id);
        } else {
            bc->l3_id = new_te_l3id();
            cb_log(3, stack->port, bc->pid, "--> new_l3id %x\n", bc->l3_id);
            mISDN_write_frame(stack->midev, nullptr, (uint32_t)stack->upper_id | FLG_MSG_DOWN, CC_NEW_CR | REQUEST,
                              bc->l3_id, 0, nullptr, TIMEOUT_1SEC);
        }
        break;
    }
    case EVENT_CONNECT_ACKNOWLEDGE: {
        bool speech = misdn_cap_is_speech(bc->capability);
        if (stack->nt || speech)
            manager_bchannel_activate(bc);
        if (speech)
            speech_connect_steps(stack, bc);
        break;
    }
    case EVENT_HOLD_ACKNOWLEDGE: {
        misdn_bchannel *holded_bc = (misdn_bchannel *)malloc(sizeof(misdn_bchannel));
        if (!holded_bc) {
            cb_log(0, stack->port, bc->pid, "Could not allocate holded_bc!!!\n");
            return -1;
        }
        // the copy gets a send lock of its own: ours is held right now
        pthread_mutex_init(&holded_bc->send_lock, nullptr);
        holded_bc->astbuf = nullptr;
        bc_copy_call(holded_bc, bc);  // the audio ring stays with the slot
        holded_bc->holded = 1;
        holded_bc->bc_state = BCHAN_CLEANED;
        stack_holder_add(stack, holded_bc);
        if (stack->nt) {
            if (bc->bc_state == BCHAN_BRIDGED) {
                split_conference(bc);
                misdn_bchannel *other = nullptr;
                for (misdn_stack *s = get_misdn_stack(); s && !other; s = s->next)
                    for (int i = 0; i <= s->b_num && i < MISDN_SLOTS; i++)
                        if (&s->bc[i] != bc && s->bc[i].conf_id == bc->conf_id && s->bc[i].bc_state == BCHAN_BRIDGED) {
                            other = &s->bc[i];
                            break;
                        }
                if (other)
                    split_conference(other);
                else
                    cb_log(0, stack->port, bc->pid, "We have no second bc in bridge???\n");
            }
            empty_bc(bc);
            holded_copy_of = bc;  // the slot is given back once the message is built
        }
        break;
    }
    case EVENT_DISCONNECT:
    case EVENT_RELEASE:
    case EVENT_RELEASE_COMPLETE:
        if (!clearing_owed(stack, bc, event))
            return -1;
        if (event == EVENT_RELEASE_COMPLETE && !stack->nt)
            empty_bc_keep_causes(bc);
        break;
    default:
        break;
    }

    cb_log(9, stack->port, bc->pid, "--> NOW BUILDING MESSAGE\n");
    msg_t *msg = isdn_msg_build_event(msgs_g, bc, event, stack->nt);
    if (holded_copy_of)
        free_bc(holded_copy_of);
    if (!msg)
        return -1;
    msg_queue_tail(&stack->downqueue, msg);
    sem_post(&glob_mgr->new_msg);
    return 0;
}
