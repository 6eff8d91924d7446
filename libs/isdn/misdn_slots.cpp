// Call slots of the ports: handing out a free slot, finding the slot of a
// call, the list of held calls, B-stack identities and the call history.
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "isdn_lib_intern.h"
#include "isdn_pid.h"

void bc_history_add(misdn_bchannel *bc, const char *dir, const char *name)
{
    char text[BC_EVENT_QUEUE_LEN];
    size_t n = 0;
    auto put = [&](const char *s) {
        while (s && *s && n < sizeof text - 1)
            text[n++] = *s++;
    };
    bc->event_queue[sizeof bc->event_queue - 1] = 0;
    put(" ");
    put(bc->event_queue);
    put(",");
    put(dir);
    put(":");
    put(name);
    text[n] = 0;
    memcpy(bc->event_queue, text, n + 1);
}

static_assert(offsetof(misdn_bchannel, send_lock) == 0, "the send lock leads the call record");

void bc_copy_call(misdn_bchannel *dst, const misdn_bchannel *src)
{
    if (!dst || !src || dst == src)
        return;
    ibuffer *ring = dst->astbuf;
    const size_t skip = sizeof(pthread_mutex_t);
    memcpy((char *)dst + skip, (const char *)src + skip, sizeof(misdn_bchannel) - skip);
    dst->astbuf = ring;
}

void prepare_bc(misdn_bchannel *bc, int channel, int generate_pid)
{
    cb_log(1, bc->port, bc->pid, "Preparing bc\n");
    // A slot's last call may have left its causes (kept for that call's
    // own clearing): a new call starts from normal clearing both ways.
    bc->cause = 16;
    bc->out_cause = 16;
    bc->channel = channel;
    bc->channel_preselected = channel ? 1 : 0;
    bc->channel_id_encoded = 0;
    bc->in_use = 1;
    bc->need_disconnect = 1;
    bc->need_release = 1;
    bc->need_release_complete = 1;
    memset(bc->event_queue, 0, sizeof bc->event_queue);
    __atomic_store_n(&bc->meta, nullptr, __ATOMIC_RELAXED);
    if (generate_pid && bc->pid == 0)
        bc->pid = get_new_global_pid();
}

static bool primary_rate(const misdn_stack *stack) { return stack->pri != 0; }

misdn_bchannel *misdn_lib_get_free_bc(int port, int channel, int inout, int dec, int generate_pid)
{
    if (channel < 0 || channel > 31) {
        cb_log(0, port, -1, "Requested channel out of bounds (%d)\n", channel);
        return nullptr;
    }
    misdn_stack *stack = get_stack_by_isdn_port(port);
    if (!stack) {
        cb_log(0, port, -1, "Port is not configured (%d)\n", port);
        return nullptr;
    }
    if (stack->blocked) {
        cb_log(0, port, -1, "Port is blocked\n");
        return nullptr;
    }
    if (channel > 0) {
        if (channel > stack->b_num) {
            cb_log(0, port, -1, "Requested channel:%d is out of bounds on port:%d\n", channel, port);
            return nullptr;
        }
        for (int i = 0; i < stack->b_num; i++)
            if (stack->bc[i].in_use && stack->bc[i].channel == channel) {
                cb_log(0, port, stack->bc[i].pid, "Requested channel:%d on port:%d is already in use\n", channel,
                       port);
                return nullptr;
            }
    }
    int maxnum = stack->b_num;
    if (inout && !primary_rate(stack) && !stack->ptp)
        maxnum++;
    if (maxnum > MISDN_SLOTS)
        maxnum = MISDN_SLOTS;
    pthread_mutex_lock(&stack->channel_lock);
    for (int k = 0; k < maxnum; k++) {
        int i = dec ? maxnum - 1 - k : k;
        misdn_bchannel *bc = &stack->bc[i];
        if (bc->in_use)
            continue;
        if (!primary_rate(stack) && i == stack->b_num)
            bc->cw = 1;
        prepare_bc(bc, channel, generate_pid);
        if (dec)
            bc->dec = 1;
        pthread_mutex_unlock(&stack->channel_lock);
        return bc;
    }
    pthread_mutex_unlock(&stack->channel_lock);
    cb_log(1, port, -1, "There is no free channel on port (%d)\n", port);
    if (!primary_rate(stack))
        for (int i = 0; i < maxnum; i++)
            cb_log(5, port, -1, "ISDN Port %i bc %i 0x%p: pid=%i in_use=%i l3id 0x%x\n", port, i,
                   (void *)&stack->bc[i], stack->bc[i].pid, stack->bc[i].in_use, stack->bc[i].l3_id);
    return nullptr;
}

// The slots a lookup scans: 0..b_num.
static int slot_limit(const misdn_stack *stack)
{
    return stack->b_num < MISDN_SLOTS - 1 ? stack->b_num : MISDN_SLOTS - 1;
}

misdn_bchannel *stack_holder_find(misdn_stack *stack, int l3id)
{
    if (!stack)
        return nullptr;
    cb_log(4, stack->port, -1, "*HOLDER: find %x\n", l3id);
    for (misdn_bchannel *h = stack->holding; h; h = h->next)
        if (h->l3_id == l3id) {
            cb_log(4, stack->port, h->pid, "*HOLDER: found bc\n");
            return h;
        }
    cb_log(4, stack->port, -1, "*HOLDER: find nothing\n");
    return nullptr;
}

misdn_bchannel *find_bc_by_l3id(misdn_stack *stack, int l3id)
{
    if (!stack || !l3id)
        return nullptr;
    for (int i = 0; i <= slot_limit(stack); i++)
        if (stack->bc[i].l3_id == l3id)
            return &stack->bc[i];
    return stack_holder_find(stack, l3id);
}

misdn_bchannel *find_bc_by_masked_l3id(misdn_stack *stack, int l3id)
{
    const uint32_t mask = 0xFFFF0000u;
    if (!stack || !((uint32_t)l3id & mask))
        return nullptr;
    for (int i = 0; i <= slot_limit(stack); i++)
        if (stack->bc[i].l3_id && ((uint32_t)stack->bc[i].l3_id & mask) == ((uint32_t)l3id & mask))
            return &stack->bc[i];
    for (misdn_bchannel *h = stack->holding; h; h = h->next)
        if (h->l3_id && ((uint32_t)h->l3_id & mask) == ((uint32_t)l3id & mask))
            return h;
    return nullptr;
}

misdn_bchannel *find_bc_by_confid(int confid)
{
    for (misdn_stack *s = get_misdn_stack(); s; s = s->next)
        for (int i = 0; i <= slot_limit(s); i++)
            if (s->bc[i].conf_id == confid)
                return &s->bc[i];
    return nullptr;
}

void stack_holder_add(misdn_stack *stack, misdn_bchannel *holder)
{
    if (!stack || !holder)
        return;
    cb_log(4, stack->port, holder->pid, "*HOLDER: add %x\n", holder->l3_id);
    holder->stack_holder = 1;
    holder->next = nullptr;
    if (!stack->holding) {
        stack->holding = holder;
        return;
    }
    misdn_bchannel *h = stack->holding;
    while (h->next)
        h = h->next;
    h->next = holder;
}

void stack_holder_remove(misdn_stack *stack, misdn_bchannel *holder)
{
    if (!stack || !holder || !holder->stack_holder)
        return;
    holder->stack_holder = 0;
    cb_log(4, stack->port, holder->pid, "*HOLDER: remove %x\n", holder->l3_id);
    if (stack->holding == holder) {
        stack->holding = holder->next;
        holder->next = nullptr;
        return;
    }
    for (misdn_bchannel *h = stack->holding; h; h = h->next)
        if (h->next == holder) {
            h->next = holder->next;
            holder->next = nullptr;
            return;
        }
}

void misdn_holder_add_by_port(int port, misdn_bchannel *holder)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    if (!stack) {
        cb_log(0, port, -1, "*misdn_holder_add_by_port %i, no stack\n", port);
        return;
    }
    stack_holder_add(stack, holder);
}

void misdn_holder_remove_by_port(int port, misdn_bchannel *holder)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    if (!stack) {
        cb_log(0, port, -1, "*misdn_holder_remove_by_port %i, no stack\n", port);
        return;
    }
    stack_holder_remove(stack, holder);
}

int misdn_holder_bc_is_on_holder_stack(int port, misdn_bchannel *holder)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    if (!stack)
        return 0;
    for (misdn_bchannel *h = stack->holding; h; h = h->next)
        if (h == holder)
            return 1;
    return 0;
}

void free_bc(misdn_bchannel *bc)
{
    if (!bc)
        return;
    bc->in_use = 0;
    bc->unassociated = 0;
    memset(bc->event_queue, 0, sizeof bc->event_queue);
    bc->pid = 0;
    bc->l3_id = 0;
}

misdn_bchannel_meta_info *meta_of_channel(misdn_stack *stack, int channel)
{
    if (!stack || channel < 1 || channel > 254)
        return nullptr;
    int d = channel_spender_get_dchannel(chan_mgr, stack->port);
    int idx = (d > 0 && channel > d) ? channel - 2 : channel - 1;
    if (idx < 0 || idx >= stack->b_num || idx >= MISDN_SLOTS)
        return nullptr;  // no B-channel stack carries this channel
    return &stack->bc_meta[idx];
}

void misdn_lib_attach_meta(misdn_bchannel *bc)
{
    if (!bc || bc->channel == 255 || bc->channel < 1)
        return;
    misdn_stack *stack = get_stack_by_bc(bc);
    misdn_bchannel_meta_info *m = meta_of_channel(stack, bc->channel);
    if (!m) {
        cb_log(1, bc->port, bc->pid, "misdn_lib_attach_meta: no B-channel for channel %d\n", bc->channel);
        return;
    }
    __atomic_store_n(&bc->meta, m, __ATOMIC_RELAXED);
}

int misdn_is_channel_assigned(misdn_bchannel *bc, int port, int channel)
{
    return channel_spender_is_channel_assigned(chan_mgr, bc, port, channel);
}
