// D-channel call events on the sender thread (global_lock held): the call
// references of TE ports and the messages of the NT network stacks.
#include <cstdlib>
#include <cstring>

#include "isdn_lib_intern.h"
#include "isdn_msg.h"
#include "isdn_msg_parser.h"
#include "log.h"
#include "log_backend.h"
#include "q931_frame.h"

// Network-stack primitives handled here.
enum : uint32_t {
    CC_SETUP_CONFIRM = 0x30581,
    CC_SETUP_INDICATION = 0x30582,
    CC_ALERTING_INDICATION = 0x30182,
    CC_PROCEEDING_INDICATION = 0x30282,
    CC_CONNECT_INDICATION = 0x30782,
    CC_SETUP_ACK_INDICATION = 0x30D82,
    CC_SUSPEND_INDICATION = 0x32582,
    CC_RETRIEVE_INDICATION = 0x33182,
    CC_DISCONNECT_INDICATION = 0x34582,
    CC_RELEASE_INDICATION = 0x34D82,
    CC_RELEASE_CONFIRM = 0x34D81,
    CC_RELEASE_COMPLETE_INDICATION = 0x35A82,
    CC_RELEASE_COMPLETE_CONFIRM = 0x35A81,
    CC_FACILITY_INDICATION = 0x36282,
};

misdn_bchannel *scratch_record(misdn_stack *stack, int l3id)
{
    static thread_local misdn_bchannel scratch;
    static thread_local bool lock_made = false;
    memset((char *)&scratch + sizeof(pthread_mutex_t), 0, sizeof scratch - sizeof(pthread_mutex_t));
    if (!lock_made) {
        pthread_mutex_init(&scratch.send_lock, nullptr);
        lock_made = true;
    }
    scratch.port = stack->port;
    scratch.l3_id = l3id;
    scratch.nt = stack->nt;
    return &scratch;
}

static int port_group_direction(int port)
{
    misdn_chansel_settings *g = misdn_lib_get_port_group_settings_by_port(port);
    return g && g->chansel_direction == CHANSEL_DIRECTION_DESCENDING ? 1 : 0;
}

// Unlinks and frees a held copy; the slots themselves are never freed.
static void drop_holder(misdn_stack *stack, misdn_bchannel *bc)
{
    if (!bc->stack_holder)
        return;
    cb_log(4, stack->port, bc->pid, "REMOVEING Holder\n");
    stack_holder_remove(stack, bc);
    pthread_mutex_destroy(&bc->send_lock);
    free(bc);
}

// Held copies left with this l3 id once its call has ended.
static void drop_holders_of(misdn_stack *stack, int l3id)
{
    if (!l3id)
        return;
    for (misdn_bchannel *h = stack->holding; h;) {
        misdn_bchannel *next = h->next;
        if (h->l3_id == l3id)
            drop_holder(stack, h);
        h = next;
    }
}

// The end of a call record's use: clean-up reported, record emptied and freed.
static void release_record(misdn_stack *stack, misdn_bchannel *bc)
{
    if (cb_event)
        cb_event(EVENT_CLEANUP, bc, nullptr);
    empty_bc_keep_causes(bc);
    int l3id = bc->l3_id;
    free_bc(bc);
    if (bc->stack_holder) {
        drop_holder(stack, bc);
        return;
    }
    drop_holders_of(stack, l3id);
}

event_e take_event(misdn_stack *stack, msg_t *msg, misdn_bchannel *bc, int nt, const char **name)
{
    event_e event = isdn_msg_get_event(msgs_g, msg, nt);
    *name = isdn_msg_get_info(msgs_g, msg, nt);
    cb_log(17, stack->port, bc->pid, "I IND : %s", *name ? *name : "");
    isdn_msg_parse_event(msgs_g, msg, bc, nt);
    bc_history_add(bc, "I", *name);
    return event;
}

int incoming_channel_request(misdn_stack *stack, misdn_bchannel *bc, int *granted)
{
    int want = bc->channel;
    int behaviour = (want == 0 || want == 255) ? CHANNEL_ANY
                    : bc->exclusive == 1       ? CHANNEL_EXCLUSIVE
                                               : CHANNEL_ALTERNATIVE;
    return channel_spender_process_incoming_channel_request(chan_mgr, stack->port, want, behaviour, granted, bc);
}

int handle_cr(misdn_stack *stack, iframe_t *frm)
{
    if (!stack)
        return -1;
    switch (frm->prim) {
    case CC_NEW_CR | INDICATION: {
        misdn_bchannel *bc = misdn_lib_get_free_bc(stack->port, 0, 1, port_group_direction(stack->port), 1);
        if (bc) {
            bc_history_add(bc, "I", "NEW_CR");
            cb_log(7, stack->port, bc->pid, " --> new_process: New L3Id: %x\n", frm->dinfo);
            bc->l3_id = frm->dinfo;
            return 1;
        }
        cb_log(0, stack->port, -1, " --> !! lib: No free channel!\n");
        misdn_bchannel *rej = (misdn_bchannel *)calloc(1, sizeof(misdn_bchannel));
        if (!rej)
            return -1;
        pthread_mutex_init(&rej->send_lock, nullptr);
        cb_log(4, stack->port, -1, " --> No free bc, sending RELEASE_COMPLETE with cause %i.\n", misdn_cw_reject_code);
        rej->need_release_complete = 1;
        rej->port = stack->port;
        rej->l3_id = frm->dinfo;
        rej->out_cause = misdn_cw_reject_code;
        rej->nt = stack->nt;
        stack_holder_add(stack, rej);
        misdn_lib_send_event(rej, EVENT_RELEASE_COMPLETE);
        return -1;
    }
    case CC_RELEASE_CR | INDICATION: {
        cb_log(4, stack->port, -1, " --> lib: RELEASE_CR Ind with l3id:%x\n", frm->dinfo);
        misdn_bchannel *bc = find_bc_by_l3id(stack, frm->dinfo);
        if (!bc) {
            cb_log(4, stack->port, -1,
                   " --> Didn't found BC so temporarly creating dummy BC (l3id:%x) on this port.\n", frm->dinfo);
            bc = scratch_record(stack, frm->dinfo);
        }
        bc_history_add(bc, "I", "RELEASE_CR");
        cb_log(4, stack->port, bc->pid, " --> lib: CLEANING UP l3id: %x\n", frm->dinfo);
        cb_log(1, stack->port, bc->pid, "%s:%d --> need_disconnect=0\n", __FILE__, __LINE__);
        bc->need_disconnect = 0;
        bc->need_release = 0;
        bc->need_release_complete = 0;
        if (cb_event)
            cb_event(EVENT_CLEANUP, bc, nullptr);
        empty_bc(bc);
        int l3id = bc->l3_id;
        bc->unassociated = 0;
        memset(bc->event_queue, 0, sizeof bc->event_queue);
        bc->pid = 0;
        bc->l3_id = 0;
        bc->in_use = 0;
        cb_log(6, stack->port, -1, "Dumping ISDN Channel list\n");
        for (int i = 0; i <= stack->b_num && i < MISDN_SLOTS; i++)
            if (stack->bc[i].meta)
                cb_log(6, stack->port, i + 1, "Idx:%d stack->cchan:%d Chan:%d\n", i, stack->channels[i], i + 1);
        if (bc->stack_holder)
            drop_holder(stack, bc);
        else
            drop_holders_of(stack, l3id);
        return 1;
    }
    case CC_NEW_CR | REQUEST:
    case CC_NEW_CR | CONFIRM:
    case CC_RELEASE_CR | REQUEST:
        return 1;
    default:
        return 0;
    }
}

// ---- NT ----

static int head_word(const msg_t *msg)
{
    int32_t w = 0;
    if (msg->len >= NET_USER_HEAD_LEN + 4)
        memcpy(&w, msg->data + NET_USER_HEAD_LEN, 4);
    return w;
}

static void nt_send_plain(misdn_stack *stack, uint32_t prim, uint8_t mt, int dinfo)
{
    msg_t *m = create_l3msg(prim, mt, dinfo, NT_RECORD_SIZE, 1);
    if (nt_stack_down(stack, m))
        free_msg(m);
}

static bool is_procid(int l3id) { return (l3id & 0xFF00) == 0xFF00 && !(l3id & 0xFFFF0000); }

static void free_procid(misdn_stack *stack, int l3id)
{
    cb_log(4, stack->port, -1, " --> Removing ProcId:%x on this port.\n", l3id);
    stack->procids[l3id & 0xFF] = 0;
}

// The channel spender's view of an answer to our SETUP; false when refused.
static bool nt_answer(misdn_stack *stack, misdn_bchannel *bc, uint32_t prim)
{
    cb_log(6, stack->port, bc->pid, "Before Processing answer ch %i, excl %i!!\n", bc->channel, bc->exclusive);
    cb_log(6, stack->port, bc->pid, "Processing answer ch %i, excl %i!!\n", bc->channel, bc->exclusive);
    if (channel_spender_process_answer(chan_mgr, stack->port, bc, bc->channel, bc->exclusive) < 0) {
        cb_log(0, stack->port, bc->pid, "channel_spender_process_answer failed event %x (%s) (%p,%d)!!\n", prim,
               bc->event_queue, (void *)bc, bc->pid);
        bc->out_cause = 44;
        misdn_lib_send_event(bc, EVENT_RELEASE_COMPLETE);
        // the network stack forgets the call with our RELEASE COMPLETE: so does the record
        release_record(stack, bc);
        return false;
    }
    __atomic_store_n(&bc->meta, meta_of_channel(stack, bc->channel), __ATOMIC_RELAXED);
    manager_bchannel_activate(bc);
    return true;
}

// Step 3 of the NT handling: the event of the message to call control.
static int nt_common(misdn_stack *stack, msg_t *msg, uint32_t prim, int dinfo)
{
    misdn_bchannel *bc = find_bc_by_l3id(stack, dinfo);
    if (!bc && !stack->ptp)
        bc = find_bc_by_masked_l3id(stack, dinfo);
    bool scratch = false;
    if (!bc) {
        cb_log(4, stack->port, -1, " --> Didn't found BC so temporarly creating dummy BC (l3id:%x).\n", dinfo);
        bc = scratch_record(stack, dinfo);
        scratch = true;
    }
    const char *name = nullptr;
    event_e event = take_event(stack, msg, bc, 1, &name);

    if (event == EVENT_SETUP && !scratch) {
        int granted = 0;
        int r = incoming_channel_request(stack, bc, &granted);
        cb_log(3, stack->port, bc->pid, "Incoming Channel Requested, chan %i ex %i ret %i!!", granted,
               bc->exclusive, r);
        if (r < 0) {
            if (r == -2) {
                cb_log(0, stack->port, bc->pid, "Any Channel Requested, but we have no more!!");
                bc->out_cause = misdn_cw_reject_code;
            } else {  // refused, or both sides insist on the same channel
                bc->out_cause = 44;
            }
            bc->channel = 0;
            misdn_lib_send_event(bc, EVENT_RELEASE_COMPLETE);
            release_record(stack, bc);  // call control never saw this call
            free_msg(msg);
            return -1;
        }
        bc->channel = granted;
    }
    if (event == EVENT_CONNECT)
        misdn_lib_send_event(bc, EVENT_CONNECT_ACKNOWLEDGE);
    if (name) {
        if (event == EVENT_SETUP && scratch)
            cb_log(4, stack->port, -1, "Not calling cb_event for EVENT_SETUP  with dummybc\n");
        else if (cb_event)
            cb_event(event, bc, glob_mgr->user_data);
    } else {
        cb_log(4, stack->port, bc->pid, "Unknown Event Ind: prim %x dinfo %x\n", prim, dinfo);
    }
    if ((event == EVENT_RELEASE || event == EVENT_RELEASE_COMPLETE) && !scratch) {
        if (is_procid(bc->l3_id))
            free_procid(stack, bc->l3_id);
        release_record(stack, bc);
    }
    free_msg(msg);
    return 0;
}

int handle_event_nt(void *dat, void *arg)
{
    manager_t *mgr = (manager_t *)dat;
    msg_t *msg = (msg_t *)arg;
    misdn_stack *stack = nullptr;
    for (misdn_stack *s = get_misdn_stack(); s && mgr; s = s->next)
        if (&s->mgr == mgr)
            stack = s;
    if (!stack || !msg || msg->len < NET_USER_HEAD_LEN) {
        cb_log(4, 0, -1, "NT_READ: msg:%p mgr:%p\n", (void *)msg, (void *)mgr);
        if (msg)
            free_msg(msg);
        return -22;
    }
    net_user_head_t hh;
    memcpy(&hh, msg->data, sizeof hh);
    const uint32_t prim = hh.prim;
    const int dinfo = hh.dinfo;
    cb_log(4, stack->port, -1, "NT_READ: prim %x dinfo %x\n", prim, dinfo);

    switch (prim) {
    case CC_SETUP_CONFIRM: {
        int new_l3id = head_word(msg);
        misdn_bchannel *bc = find_bc_by_l3id(stack, dinfo);
        cb_log(4, stack->port, -1, " --> lib: Event_ind:SETUP CONFIRM [NT] : new L3ID  is %x\n", new_l3id);
        if (!bc) {
            cb_log(4, stack->port, -1, "Bc Not found (after SETUP CONFIRM)\n");
            free_msg(msg);
            return 0;
        }
        cb_log(2, stack->port, bc->pid, "I IND :CC_SETUP|CONFIRM: old l3id:%x new l3id:%x\n", bc->l3_id, new_l3id);
        if (is_procid(bc->l3_id))
            free_procid(stack, bc->l3_id);
        bc->l3_id = new_l3id;
        free_msg(msg);
        return 0;
    }
    case CC_SETUP_INDICATION: {
        misdn_bchannel *bc = misdn_lib_get_free_bc(stack->port, 0, 1, port_group_direction(stack->port), 1);
        if (!bc) {
            cb_log(4, stack->port, -1, "--> Sending RELEASE_COMPLETE, because no free channel (l3id %x)\n", dinfo);
            misdn_bchannel rej_cause{};
            rej_cause.out_cause = misdn_cw_reject_code;
            msg_t *rc = rejected_call_build_release_complete(dinfo, &rej_cause, 1);
            if (rc && nt_stack_down(stack, rc))
                free_msg(rc);
            free_msg(msg);
            return 0;
        }
        cb_log(4, stack->port, bc->pid, " --> new_process: New L3Id: %x\n", dinfo);
        bc->l3_id = dinfo;
        return nt_common(stack, msg, prim, dinfo);
    }
    case CC_ALERTING_INDICATION:
    case CC_PROCEEDING_INDICATION:
    case CC_CONNECT_INDICATION:
    case CC_SETUP_ACK_INDICATION: {
        misdn_bchannel *bc = find_bc_by_l3id(stack, dinfo);
        if (!bc && !stack->ptp) {
            bc = find_bc_by_masked_l3id(stack, dinfo);
            if (bc && prim == CC_CONNECT_INDICATION) {
                cb_log(2, stack->port, bc->pid, "I IND :CC_CONNECT old l3id:%x new l3id:%x\n", bc->l3_id, dinfo);
                bc->l3_id = dinfo;
            }
        }
        if (bc && !nt_answer(stack, bc, prim)) {
            free_msg(msg);
            return 0;
        }
        return nt_common(stack, msg, prim, dinfo);
    }
    case CC_SUSPEND_INDICATION:
        cb_log(4, stack->port, -1, " --> Got Suspend, sending Reject for now\n");
        nt_send_plain(stack, 0x32180, 0x21, dinfo);
        free_msg(msg);
        return 0;
    case CC_RETRIEVE_INDICATION: {
        iframe_t fake{};
        fake.prim = CC_NEW_CR | INDICATION;
        fake.dinfo = dinfo;
        if (handle_cr(stack, &fake) < 0) {
            // handle_cr has sent the RELEASE COMPLETE with the record it made for
            // that; no RELEASE_CR ends records on NT ports, so they end here.
            cb_log(4, stack->port, -1, "--> Sending RELEASE_COMPLETE, because no free channel (l3id %x)\n", dinfo);
            for (misdn_bchannel *h = stack->holding; h;) {
                misdn_bchannel *next = h->next;
                if (h->l3_id == dinfo) {
                    if (h->holded)
                        release_record(stack, h);
                    else
                        drop_holder(stack, h);
                }
                h = next;
            }
            free_msg(msg);
            return 0;
        }
        misdn_bchannel *slot = nullptr;
        for (int i = 0; i <= stack->b_num && i < MISDN_SLOTS && !slot; i++)
            if (stack->bc[i].l3_id == dinfo)
                slot = &stack->bc[i];
        misdn_bchannel *held = stack_holder_find(stack, dinfo);
        if (slot && held && held != slot) {
            stack_holder_remove(stack, held);
            bc_copy_call(slot, held);
            slot->stack_holder = 0;
            slot->next = nullptr;
            slot->holded = 0;
            slot->in_use = 1;
            pthread_mutex_destroy(&held->send_lock);
            free(held);
        }
        return nt_common(stack, msg, prim, dinfo);
    }
    case CC_DISCONNECT_INDICATION:
    case CC_RELEASE_INDICATION:
    case CC_RELEASE_COMPLETE_INDICATION:
        if (!stack->ptp && !find_bc_by_l3id(stack, dinfo)) {
            misdn_bchannel *bc = find_bc_by_masked_l3id(stack, dinfo);
            if (bc && !(bc->l3_id & 0xFF)) {
                cb_log(4, stack->port, bc->pid, "- PMP Rejected during broadcast l3_id:(%x)\n", dinfo);
                return nt_common(stack, msg, prim, bc->l3_id);
            }
            cb_log(4, stack->port, -1, "- PMP Other CES Rejected l3_id:(%x)\n", dinfo);
            free_msg(msg);
            return 0;
        }
        return nt_common(stack, msg, prim, dinfo);
    case CC_RELEASE_CONFIRM: {
        cb_log(4, stack->port, -1, " --> Ignoring CC_RELEASE|CONFIRM: dinfo %x\n", dinfo);
        misdn_bchannel *bc = find_bc_by_l3id(stack, dinfo);
        if (bc)
            misdn_lib_send_event(bc, EVENT_RELEASE_COMPLETE);
        // The far end's RELEASE COMPLETE answering our RELEASE: taken as
        // the confirm of our release, so it reaches call control as such.
        uint32_t confirm = CC_RELEASE_COMPLETE_CONFIRM;
        memcpy(msg->data, &confirm, sizeof confirm);
        return nt_common(stack, msg, confirm, dinfo);
    }
    case CC_FACILITY_INDICATION:
        if (!stack->ptp && !find_bc_by_l3id(stack, dinfo)) {
            misdn_bchannel *bc = find_bc_by_masked_l3id(stack, dinfo);
            if (bc) {
                int repaired = (int)(((uint32_t)dinfo & 0xFFFF0000u) | ((uint32_t)bc->l3_id & 0xFFFF));
                cb_log(4, stack->port, bc->pid, "Repaired reject Bug, new dinfo: %x\n", repaired);
                hh.dinfo = repaired;
                memcpy(msg->data, &hh, sizeof hh);
                return nt_common(stack, msg, prim, repaired);
            }
        }
        return nt_common(stack, msg, prim, dinfo);
    case CC_NEW_CR | INDICATION: {
        int new_l3id = head_word(msg);
        misdn_bchannel *bc = find_bc_by_l3id(stack, dinfo);
        free_msg(msg);
        if (!bc) {
            cb_log(0, stack->port, -1, " --> In NEW_CR: didn't found bc ??\n");
            return -1;
        }
        cb_log(4, stack->port, bc->pid, "lib: Event_ind:CC_NEW_CR : very new L3ID  is %x\n", new_l3id);
        bc->l3_id = new_l3id;
        return 0;
    }
    case CC_RELEASE_CR | INDICATION: {
        misdn_bchannel *bc = find_bc_by_l3id(stack, dinfo);
        cb_log(4, stack->port, -1, " --> Faking Release_cr for %x\n", (uint32_t)stack->upper_id | FLG_MSG_DOWN);
        if (!bc)
            cb_log(4, stack->port, -1,
                   " --> Didn't found BC so temporarily creating dummy BC (l3id:%x) on this port.\n", dinfo);
        else if (is_procid(bc->l3_id))
            free_procid(stack, bc->l3_id);
        iframe_t fake{};
        fake.addr = (uint32_t)stack->upper_id | FLG_MSG_DOWN;
        fake.prim = CC_RELEASE_CR | INDICATION;
        fake.dinfo = dinfo;
        handle_cr(stack, &fake);
        free_msg(msg);
        return 0;
    }
    case DL_ESTABLISH | INDICATION:
    case DL_ESTABLISH | CONFIRM:
        cb_log(3, stack->port, -1, "%% GOT L2 Activate Info.\n");
        _tarn_snmp_msg("SNMP:ISDN_LAYER:2:%i:1\n", stack->port);
        if (stack->ptp && misdn_link_get(&stack->l2link)) {
            cb_log(0, stack->port, -1,
                   "%% GOT L2 Activate Info. but we're activated already.. this l2 is faulty, blocking port\n");
            if (cb_event)
                cb_event(EVENT_PORT_ALARM, &stack->bc[0], glob_mgr->user_data);
        }
        misdn_link_set(&stack->l2link, 1);
        stack->l2upcnt = 0;
        free_msg(msg);
        return 0;
    case DL_RELEASE | INDICATION:
    case DL_RELEASE | CONFIRM:
        if (stack->ptp) {
            cb_log(0, stack->port, -1, "%% GOT L2 DeActivate Info.\n");
            _tarn_snmp_msg("SNMP:ISDN_LAYER:2:%i:0\n", stack->port);
            if (stack->l2upcnt > 3) {
                cb_log(0, stack->port, -1, "!!! Could not Get the L2 up after 3 Attemps!!!\n");
            } else if (misdn_link_get(&stack->l1link) == 1) {
                request_l2_establish(stack);
                stack->l2upcnt++;
            }
        } else {
            cb_log(1, stack->port, -1, "%% GOT L2 DeActivate Info.\n");
            _tarn_snmp_msg("SNMP:ISDN_LAYER:2:%i:0\n", stack->port);
        }
        misdn_link_set(&stack->l2link, 0);
        free_msg(msg);
        return 0;
    default:
        return nt_common(stack, msg, prim, dinfo);
    }
}
