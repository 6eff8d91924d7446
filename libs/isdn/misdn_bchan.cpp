// What acts on a port's or a call's B-channel outside its signalling: the
// restart of a port, B-channel frames read from the device, audio toward
// the B-channel, and the B-channel control commands.
#include <cstring>

#include "isdn_lib_intern.h"
#include "log.h"
#include "misdn_device.h"

// ---- port restart ----

int misdn_lib_port_restart(int port)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    cb_log(0, port, -1, "Restarting this port.\n");
    if (!stack)
        return 0;
    cb_log(0, port, -1, "Stack:%p\n", (void *)stack);
    for (int i = 0; i <= stack->b_num && i < MISDN_SLOTS; i++) {
        if (global_state != MISDN_INITIALIZED)
            break;
        if (cb_event)
            cb_event(EVENT_CLEANUP, &stack->bc[i], nullptr);
        empty_bc(&stack->bc[i]);
    }
    msg_t *msg = alloc_msg(MAX_MSG_SIZE);
    if (!msg) {
        cb_log(0, port, -1, "port_restart: alloc_msg failed\n");
        return -1;
    }
    iframe_t h{};
    h.addr = (uint32_t)stack->upper_id | FLG_MSG_DOWN;
    h.prim = DL_RELEASE | REQUEST;
    h.dinfo = 0;
    h.len = 0;
    memcpy(msg_put(msg, mISDN_HEADER_LEN), &h, mISDN_HEADER_LEN);
    queue_activate_frame(msg);
    if (stack->nt)
        misdn_lib_reinit_nt_stack(port);
    return 0;
}

// ---- B-channel frames ----

static misdn_bchannel *find_bc_by_bframe(uint32_t addr, misdn_stack **on)
{
    for (misdn_stack *s = get_misdn_stack(); s; s = s->next)
        for (int i = 0; i <= s->b_num && i < MISDN_SLOTS; i++) {
            misdn_bchannel *bc = &s->bc[i];
            // read once: the sender thread may drop it meanwhile (the meta
            // records themselves live as long as their stack)
            misdn_bchannel_meta_info *meta = __atomic_load_n(&bc->meta, __ATOMIC_RELAXED);
            if (!meta)
                continue;
            if (((uint32_t)meta->addr & STACK_ID_MASK) == (addr & STACK_ID_MASK) || (uint32_t)meta->layer_id == addr) {
                *on = s;
                return bc;
            }
        }
    return nullptr;
}

// The call's B-stack identity, derived from its channel when missing. Read
// once into the caller's hands: the catcher works on calls that the sender
// thread changes meanwhile (the records pointed to live as long as their
// stack), and it leaves the record to the sender.
static misdn_bchannel_meta_info *current_meta(misdn_stack *stack, misdn_bchannel *bc)
{
    misdn_bchannel_meta_info *meta = __atomic_load_n(&bc->meta, __ATOMIC_RELAXED);
    int channel = bc->channel;
    if (!meta && stack && channel >= 1 && channel <= 254)
        meta = meta_of_channel(stack, channel);
    return meta;
}

static void tone_or_audio(misdn_bchannel *bc, int len)
{
    if (bc->generate_tone) {
        if (cb_event)
            cb_event(EVENT_TONE_GENERATE, bc, glob_mgr->user_data);
        if (!bc->nojitter)
            misdn_tx_jitter(bc, len);
    }
}

int handle_bchan(msg_t *msg)
{
    iframe_t *frm = (iframe_t *)msg->data;
    misdn_stack *stack = nullptr;
    misdn_bchannel *bc = find_bc_by_bframe(frm->addr, &stack);
    if (!bc) {
        cb_log(1, 0, -1, "handle_bchan: BC not found for prim:%x with addr:%x dinfo:%x\n", frm->prim, frm->addr,
               frm->dinfo);
        return 0;
    }
    cb_log(1, bc->port, bc->pid, "handle_bchan: bc %p meta %p for prim:%x with addr:%x dinfo:%x\n", (void *)bc,
           (void *)__atomic_load_n(&bc->meta, __ATOMIC_RELAXED), frm->prim, frm->addr, frm->dinfo);
    if (!get_stack_by_bc(bc)) {
        cb_log(0, bc->port, bc->pid, "handle_bchan: STACK not found for prim:%x with addr:%x dinfo:%x\n", frm->prim,
               frm->addr, frm->dinfo);
        return 0;
    }
    misdn_bchannel_meta_info *meta = current_meta(stack, bc);
    switch (frm->prim) {
    case PH_ACTIVATE | CONFIRM:
    case DL_ESTABLISH | CONFIRM:
        cb_log(6, bc->port, bc->pid, "BCHAN: bchan ACT Confirm pid:%d\n", bc->pid);
        free_msg(msg);
        return 1;
    case PH_ACTIVATE | INDICATION:
    case DL_ESTABLISH | INDICATION:
        cb_log(6, bc->port, bc->pid, "BCHAN: ACT Ind pid:%d\n", bc->pid);
        free_msg(msg);
        return 1;
    case PH_DEACTIVATE | CONFIRM:
    case DL_RELEASE | CONFIRM:
        cb_log(6, bc->port, bc->pid, "BCHAN: DeACT Conf pid:%d\n", bc->pid);
        free_msg(msg);
        return 1;
    case PH_DEACTIVATE | INDICATION:
    case DL_RELEASE | INDICATION:
        cb_log(6, bc->port, bc->pid, "BCHAN: DeACT Ind pid:%d\n", bc->pid);
        free_msg(msg);
        return 1;
    case DL_ESTABLISH | REQUEST:
    case DL_RELEASE | REQUEST:
        if (meta) {
            uint32_t cnf = frm->prim == (DL_ESTABLISH | REQUEST) ? (DL_ESTABLISH | CONFIRM) : (DL_RELEASE | CONFIRM);
            mISDN_write_frame(glob_mgr->midev, nullptr, (uint32_t)meta->addr | FLG_MSG_TARGET | FLG_MSG_DOWN, cnf,
                              0, 0, nullptr, TIMEOUT_1SEC);
        }
        free_msg(msg);
        return 1;
    case MGR_DELLAYER | CONFIRM:
        cb_log(6, bc->port, bc->pid, "BCHAN: MGR_DELLAYER|CNF pid:%d\n", bc->pid);
        free_msg(msg);
        return 1;
    case MGR_SETSTACK | CONFIRM:
        cb_log(6, bc->port, bc->pid, "BCHAN: MGR_SETSTACK|CONFIRM pid:%d\n", bc->pid);
        return 0;
    case MGR_SETSTACK | INDICATION:
        cb_log(6, bc->port, bc->pid, "BCHAN: MGR_SETSTACK|IND pid:%d\n", bc->pid);
        return 0;
    case MGR_DELLAYER | INDICATION:
        cb_log(6, bc->port, bc->pid, "BCHAN: MGR_DELLAYER|IND pid:%d\n", bc->pid);
        return 0;
    case PH_CONTROL | CONFIRM:
        cb_log(4, bc->port, bc->pid, "PH_CONTROL|CNF bc->addr:%x\n", meta ? meta->addr : 0);
        free_msg(msg);
        return 1;
    case PH_CONTROL | INDICATION: {
        if (frm->len < 4)
            return 0;
        int v;
        memcpy(&v, msg->data + mISDN_HEADER_LEN, 4);
        cb_log(6, bc->port, bc->pid, "PH_CONTROL: channel:%d oad%d:%s dad%d:%s \n", bc->channel, bc->onpi, bc->oad,
               bc->dnpi, bc->dad);
        if (v >= 0x2000 && v <= 0x207F) {
            bc->dtmf = v & 0x7F;
            cb_log(4, bc->port, bc->pid, " --> DTMF TONE: %c\n", bc->dtmf);
            if (cb_event)
                cb_event(EVENT_DTMF_TONE, bc, glob_mgr->user_data);
        } else if (v == 0x2316) {
            cb_log(4, bc->port, bc->pid, "--> BF_ACCEPT\n");
        } else if (v == 0x2317) {
            cb_log(4, bc->port, bc->pid, "--> BF_REJECT\n");
        } else {
            return 0;
        }
        free_msg(msg);
        return 1;
    }
    case PH_DATA | REQUEST:
    case DL_DATA | REQUEST:
        cb_log(0, bc->port, bc->pid, "DL_DATA REQUEST \n");
        bc->tone_cnt = 64;
        tone_or_audio(bc, 64);
        free_msg(msg);
        return 1;
    case PH_DATA | CONFIRM:
    case DL_DATA | CONFIRM:
        free_msg(msg);
        return 1;
    case PH_DATA | INDICATION:
    case DL_DATA | INDICATION: {
        int len = frm->len;
        unsigned char *data = msg->data + mISDN_HEADER_LEN;
        bc->bframe = data;
        bc->bframe_len = len;
        if (misdn_cap_is_speech(bc->capability))
            for (int i = 0; i < len; i++)
                data[i] = flip_table[data[i]];
        if (!len) {
            cb_log(2, bc->port, bc->pid, "DL_DATA INDICATION bc->addr:%x frm->addr:%x\n", meta ? meta->addr : 0,
                   frm->addr);
        } else if (meta && ((uint32_t)meta->addr & STACK_ID_MASK) != (frm->addr & STACK_ID_MASK)) {
            cb_log(2, bc->port, bc->pid, "DL_DATA INDICATION bc->addr:%x frm->addr:%x\n", meta->addr, frm->addr);
            free_msg(msg);
            return 1;
        }
        if (bc->bc_state == BCHAN_ACTIVATED && len) {
            bc->tone_cnt = len;
            if (bc->generate_tone) {
                tone_or_audio(bc, len);
            } else {
                if (misdn_cap_is_speech(bc->capability) && !bc->nojitter)
                    misdn_tx_jitter(bc, len);
                if (cb_event && (int)cb_event(EVENT_BCHAN_DATA, bc, glob_mgr->user_data) < 0) {
                    cb_log(10, bc->port, bc->pid, "cb_event returned <0\n");
                    manager_bchannel_deactivate(bc);
                }
            }
        }
        bc->bframe = nullptr;
        free_msg(msg);
        return 1;
    }
    default:
        return 0;
    }
}

void misdn_tx_jitter(misdn_bchannel *bc, int len)
{
    constexpr int JITTER_MAX = 4096;
    if (!bc || !cb_jb_empty || len <= 0)
        return;
    if (len > JITTER_MAX)
        len = JITTER_MAX;
    unsigned char buf[mISDN_HEADER_LEN + JITTER_MAX];
    unsigned char *data = buf + mISDN_HEADER_LEN;
    int n = cb_jb_empty(bc, (char *)data, len);
    if (n <= 0)
        return;
    if (n > len)
        n = len;
    for (int i = 0; i < n; i++)
        data[i] = flip_table[data[i]];
    if (n < len)
        cb_log(7, bc->port, bc->pid, "Jitterbuffer Underrun.\n");
    misdn_bchannel_meta_info *meta = current_meta(get_stack_by_bc(bc), bc);
    if (!meta) {
        cb_log(0, bc->port, bc->pid, "misdn_tx_jitter: cannot set bchannel meta info\n");
        return;
    }
    cb_log(9, bc->port, bc->pid, "Transmitting %d samples 2 misdn\n", n);
    iframe_t h{};
    h.addr = (uint32_t)meta->addr | FLG_MSG_DOWN;
    h.prim = DL_DATA | REQUEST;
    h.dinfo = 0;
    h.len = n;
    memcpy(buf, &h, mISDN_HEADER_LEN);
    mISDN_write(glob_mgr->midev, buf, mISDN_HEADER_LEN + n, 8000);
}

// ---- B-channel control ----

int misdn_cap_is_speech(int cap) { return cap == 8 || cap == 9 ? 0 : 1; }

void manager_ph_control(misdn_bchannel *bc, int c1, int c2)
{
    if (!bc)
        return;
    if (bc->bc_state == BCHAN_ACTIVATED || bc->bc_state == BCHAN_BRIDGED) {
        misdn_bchannel_meta_info *meta = current_meta(get_stack_by_bc(bc), bc);
        if (!meta) {
            cb_log(3, bc->port, bc->pid, "manager_ph_control bchannel not activated (state:%s)\n",
                   bc_state2str(bc->bc_state));
            return;
        }
        int words[2] = {c1, c2};
        cb_log(4, bc->port, bc->pid, "ph_control: c1:%x c2:%x\n", c1, c2);
        mISDN_write_frame(glob_mgr->midev, nullptr, (uint32_t)meta->addr | FLG_MSG_DOWN, PH_CONTROL | REQUEST, 0,
                          (int)sizeof words, words, TIMEOUT_1SEC);
        return;
    }
    bc->phc_queue_c1 = c1;
    bc->phc_queue_c2 = c2;
    cb_log(4, bc->port, bc->pid, "queueing ph_control: c1:%x c2:%x\n", c1, c2);
}

void manager_ph_control_block(misdn_bchannel *bc, int c1, const void *data, int length)
{
    if (!bc || length < 0 || length > MAX_DFRAME_LEN - 4 || (length && !data))
        return;
    misdn_bchannel_meta_info *meta = current_meta(get_stack_by_bc(bc), bc);
    if (!meta) {
        cb_log(3, bc->port, bc->pid, "manager_ph_control_block bchannel not activated (state:%s)\n",
               bc_state2str(bc->bc_state));
        return;
    }
    unsigned char buf[MAX_DFRAME_LEN];
    memcpy(buf, &c1, 4);
    if (length)
        memcpy(buf + 4, data, (size_t)length);
    mISDN_write_frame(glob_mgr->midev, nullptr, (uint32_t)meta->addr | FLG_MSG_DOWN, PH_CONTROL | REQUEST, 0,
                      length + 4, buf, TIMEOUT_1SEC);
}

void manager_ec_enable(misdn_bchannel *bc)
{
    if (!bc)
        return;
    if (!misdn_cap_is_speech(bc->capability)) {
        cb_log(1, bc->port, bc->pid, " --> no speech? cannot enable EC\n");
        return;
    }
    if (!bc->pipeline[0])
        return;
    cb_log(3, bc->port, bc->pid, "Sending Control PIPELINE_CFG %s\n", bc->pipeline);
    bc->pipeline[sizeof bc->pipeline - 1] = 0;
    manager_ph_control_block(bc, 0x2318, bc->pipeline, (int)strlen(bc->pipeline) + 1);
}

void bc_state_change(misdn_bchannel *bc, bchannel_state state)
{
    if (!bc)
        return;
    cb_log(5, bc->port, bc->pid, "BC_STATE_CHANGE: l3id:%x from:%s to:%s\n", bc->l3_id, bc_state2str(bc->bc_state),
           bc_state2str(state));
    if (state == BCHAN_ACTIVATED && bc->next_bc_state == BCHAN_BRIDGED) {
        bc->bc_state = BCHAN_BRIDGED;
        manager_ph_control(bc, 0x2304, 0);
        manager_ph_control(bc, 0x2300, bc->conf_id);
        cb_log(3, bc->port, bc->pid, "Joining bc:%x in conf:%d\n", bc->l3_id, bc->conf_id);
        unsigned char silence[15] = {};
        misdn_lib_tx2misdn_frm(bc, silence, sizeof silence);
        bc->next_bc_state = BCHAN_EMPTY;
        return;
    }
    bc->bc_state = state;
}

int misdn_lib_tx2misdn_frm(misdn_bchannel *bc, const void *data, int length)
{
    if (!bc || length < 0 || length > MAX_DFRAME_LEN || (length && !data))
        return -1;
    if (bc->bc_state != BCHAN_ACTIVATED && bc->bc_state != BCHAN_BRIDGED) {
        cb_log(3, bc->port, bc->pid, "BC not yet activated (state:%s)\n", bc_state2str(bc->bc_state));
        return -1;
    }
    misdn_bchannel_meta_info *meta = current_meta(get_stack_by_bc(bc), bc);
    if (!meta)
        return -1;
    unsigned char buf[MAX_DFRAME_LEN];
    const unsigned char *in = (const unsigned char *)data;
    if (misdn_cap_is_speech(bc->capability)) {
        for (int i = 0; i < length; i++)
            buf[i] = flip_table[in[i]];
    } else {
        cb_log(6, bc->port, bc->pid, "Writing %d data bytes\n", length);
        if (length)
            memcpy(buf, in, (size_t)length);
    }
    cb_log(9, bc->port, bc->pid, "Writing %d bytes 2 mISDN\n", length);
    mISDN_write_frame(glob_mgr->midev, nullptr, (uint32_t)meta->addr | FLG_MSG_DOWN, DL_DATA | REQUEST, 0, length,
                      buf, 0);
    return 0;
}
