// ISDN ports and their stacks: building a stack on the device, layer 1/2
// supervision and control, blocking, the facts the rest of the system asks
// about a port, per-port settings, status lines, and the layer-2 messages.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "isdn_lib_intern.h"
#include "isdn_msg.h"
#include "log.h"
#include "misdn_device.h"

int entity = 0;
int g_check_queues_length = 0;
int misdn_lib_chansel_behaviour[MISDN_MAX_PORTS];

static const char *yesno(int v, const char *yes, const char *no) { return v ? yes : no; }

void write_frame(uint32_t addr, uint32_t prim, int dinfo)
{
    if (glob_mgr)
        mISDN_write_frame(glob_mgr->midev, nullptr, addr, prim, dinfo, 0, nullptr, TIMEOUT_1SEC);
}

// ---- stack list ----

misdn_stack *get_misdn_stack(void) { return glob_mgr ? glob_mgr->stack_list : nullptr; }

misdn_stack *get_stack_by_isdn_port(int port)
{
    for (misdn_stack *s = get_misdn_stack(); s; s = s->next)
        if (s->port == port)
            return s;
    return nullptr;
}

misdn_stack *get_stack_by_bc(const misdn_bchannel *bc) { return bc ? get_stack_by_isdn_port(bc->port) : nullptr; }

misdn_stack *find_stack_by_addr(uint32_t addr)
{
    for (misdn_stack *s = get_misdn_stack(); s; s = s->next)
        if (((uint32_t)s->upper_id & STACK_ID_MASK) == (addr & STACK_ID_MASK))
            return s;
    return nullptr;
}

// ---- messages ----

msg_t *create_l2msg(uint32_t prim, int dinfo, int size)
{
    if (size < 0)
        size = 0;
    for (int tries = 0; tries < 10; tries++) {
        msg_t *m = alloc_msg(size + 280 + NET_USER_HEAD_LEN);
        if (m) {
            unsigned char *p = msg_put(m, NET_USER_HEAD_LEN + size);
            memset(p, 0, (size_t)(NET_USER_HEAD_LEN + size));
            net_user_head_t h{prim, dinfo};
            memcpy(p, &h, sizeof h);
            return m;
        }
        cb_log(0, 0, -1, "%s: no msg size %d+%d+%d\n", "create_l2msg", NET_USER_HEAD_LEN, size, 280);
        if (tries == 0)
            printf("cannot allocate memory, trying again...\n");
        usleep(300000);
    }
    printf("cannot allocate memory, system overloaded.\n");
    fprintf(stderr, "create_l2msg: cannot allocate memory, system overloaded.\n");
    TARN_EXIT(118, "create_l2msg: cannot allocate memory");
}

int nt_stack_down(misdn_stack *stack, msg_t *msg)
{
    pthread_mutex_lock(&stack->lock);
    int r = stack->nst.manager_l3 ? stack->nst.manager_l3(&stack->nst, msg) : -1;
    pthread_mutex_unlock(&stack->lock);
    return r;
}

static void nt_request(misdn_stack *stack, uint32_t prim)
{
    msg_t *m = create_l2msg(prim, 0, 0);
    if (nt_stack_down(stack, m))
        free_msg(m);
}

void request_l2_establish(misdn_stack *stack)
{
    if (stack->nt && stack->ptp)
        nt_request(stack, DL_ESTABLISH | REQUEST);
    else
        write_frame((uint32_t)stack->upper_id | FLG_MSG_DOWN, DL_ESTABLISH | REQUEST, 0);
}

// ---- opening the device and building a stack ----

int te_lib_init(void)
{
    int midev = mISDN_open();
    if (midev < 1)
        return midev;
    uint8_t buf[MAX_FRAME_SIZE];
    mISDN_write_frame(midev, nullptr, 0, MGR_NEWENTITY | REQUEST, 0, 0, nullptr, TIMEOUT_1SEC);
    int r = mISDN_read_frame(midev, buf, sizeof buf, 0, MGR_NEWENTITY | CONFIRM, TIMEOUT_1SEC);
    if (r >= mISDN_HEADER_LEN) {
        iframe_t h;
        memcpy(&h, buf, mISDN_HEADER_LEN);
        if (h.dinfo & 0xFFFF) {
            entity = h.dinfo & 0xFFFF;
            return midev;
        }
    }
    fprintf(stderr, "cannot request MGR_NEWENTITY from mISDN: %s\n", strerror(errno));
    TARN_EXIT(120, "cannot request MGR_NEWENTITY from mISDN");
}

// The NT layers of a stack: the records linked, the ids and feature word
// set, layer 2 and 3 started.
static void nt_layers_init(misdn_stack *stack, int midev)
{
    memset(&stack->nst, 0, sizeof stack->nst);
    memset(&stack->mgr, 0, sizeof stack->mgr);
    stack->mgr.nst = &stack->nst;
    stack->mgr.application = stack;
    stack->nst.manager = &stack->mgr;
    stack->nst.l3_manager = _handle_event_nt;
    stack->nst.device = midev;
    stack->nst.cardnr = stack->port;
    stack->nst.d_stid = (uint32_t)stack->d_stid;
    stack->nst.l1_id = (uint32_t)stack->lower_id;
    stack->nst.l2_id = (uint32_t)stack->upper_id;
    msg_queue_init(&stack->nst.down_queue);
    pthread_mutex_init(&stack->nst.down_mutex, nullptr);
    stack->nst.feature = FEATURE_NET_HOLD;
    if (stack->ptp)
        stack->nst.feature |= FEATURE_NET_PTP;
    if (stack->crlen == 2)
        stack->nst.feature |= FEATURE_NET_CRLEN2;
    if (stack->cidlen == 2)
        stack->nst.feature |= FEATURE_NET_EXTCID;
    Isdnl2Init(&stack->nst);
    Isdnl3Init(&stack->nst);
}

static misdn_stack *stack_fail(misdn_stack *stack)
{
    free(stack);
    return nullptr;
}

misdn_stack *stack_init(int midev, int port, int ptp, int crlen, int cidlen)
{
    misdn_stack *stack = (misdn_stack *)calloc(1, sizeof(misdn_stack));
    if (!stack)
        return nullptr;
    cb_log(8, port, -1, "Init. Stack.\n");
    stack->ptp = ptp;
    stack->crlen = crlen;
    stack->cidlen = cidlen;
    stack->port = port;
    stack->midev = midev;
    stack->holding = nullptr;
    stack->pri = 0;
    msg_queue_init(&stack->downqueue);
    msg_queue_init(&stack->upqueue);
    pthread_mutex_init(&stack->lock, nullptr);
    pthread_mutex_init(&stack->channel_lock, nullptr);

    unsigned char buff[1025];
    int ret = mISDN_get_stack_info(midev, port, buff, sizeof buff);
    if (ret < 0) {
        cb_log(0, port, -1, "%s: Cannot get stack info for this port. (ret=%d)\n", __func__, ret);
        return stack_fail(stack);
    }
    stack_info_t si;
    memcpy(&si, buff, sizeof si);
    stack->d_stid = (int)si.id;
    stack->b_num = si.childcnt < 0 ? 0 : si.childcnt > MAX_STACK_CHILD ? MAX_STACK_CHILD : si.childcnt;
    for (int i = 0; i < stack->b_num; i++)
        stack->b_stids[i] = (int)si.child[i];

    switch (si.pid.protocol[0] & ~ISDN_PID_FEATURE_MASK) {
    case ISDN_PID_L0_TE_S0:
        stack->nt = 0;
        break;
    case ISDN_PID_L0_NT_S0:
        cb_log(8, port, -1, "NT Stack\n");
        stack->nt = 1;
        break;
    case ISDN_PID_L0_TE_E1:
        cb_log(8, port, -1, "TE S2M Stack\n");
        stack->pri = 1;
        stack->nt = 0;
        break;
    case ISDN_PID_L0_NT_E1:
        stack->nt = 1;
        stack->pri = 1;
        break;
    default:
        cb_log(0, port, -1, "this is a unknown port type 0x%08x\n", si.pid.protocol[0]);
        break;
    }
    if (!stack->nt)
        stack->ptp = (si.pid.protocol[2] & ISDN_PID_L2_DF_PTP) ? 1 : 0;

    cb_log(8, port, -1, "Init. Stack.\n");
    int layer = stack->nt ? 2 : 4;
    layer_info_t li;
    memset(&li, 0, sizeof li);
    snprintf(li.name, sizeof li.name, "%s", stack->nt ? "net l2" : "user l4");
    li.object_id = -1;
    li.extentions = 0;
    li.st = (uint32_t)stack->d_stid;
    li.pid.protocol[layer] = stack->nt ? ISDN_PID_L2_LAPD_NET : ISDN_PID_L4_CAPI20;
    li.pid.layermask = 1 << layer;
    if (mISDN_new_layer(midev, &li) < 0) {
        cb_log(0, port, -1, "%s: Cannot add layer %d to this port.\n", __func__, layer);
        return stack_fail(stack);
    }
    if (mISDN_register_layer(midev, (uint32_t)stack->d_stid, li.id) < 0) {
        cb_log(0, port, -1, "Cannot register layer %d of this port.\n", layer);
        return stack_fail(stack);
    }
    stack->lower_id = mISDN_get_layerid(midev, (uint32_t)stack->d_stid, stack->nt ? 1 : 3);
    if (stack->lower_id < 0) {
        cb_log(0, port, -1, "%s: Cannot get layer(%d) id of this port.\n", __func__, stack->nt ? 1 : 3);
        return stack_fail(stack);
    }
    stack->upper_id = mISDN_get_layerid(midev, (uint32_t)stack->d_stid, stack->nt ? 2 : 4);
    if (stack->upper_id < 0) {
        cb_log(0, port, -1, "%s: Cannot get layer(%d) id of this port.\n", __func__, 2);
        return stack_fail(stack);
    }
    cb_log(8, port, -1, "NT Stacks upper_id %x\n", stack->upper_id);

    if (stack->nt)
        nt_layers_init(stack, midev);
    misdn_link_set(&stack->l2link, 0);
    misdn_link_set(&stack->l1link, 0);

    int behaviour = port >= 0 && port < MISDN_MAX_PORTS ? misdn_lib_chansel_behaviour[port] : 0;
    if (!behaviour)
        behaviour = stack->nt ? CHANNEL_EXCLUSIVE : stack->ptp ? CHANNEL_ALTERNATIVE : CHANNEL_ANY;
    channel_spender_init_port(chan_mgr, port, stack->pri ? CHANNEL_SPENDER_PRI : CHANNEL_SPENDER_BRI, behaviour, 16);

    // ask for the port's status (and its changes from now on), layer 1 and layer 2
    mISDN_write_frame(midev, nullptr, (uint32_t)stack->upper_id | FLG_MSG_BROADCAST, MGR_SHORTSTATUS | REQUEST,
                      (int)(SSTATUS_ALL | SSTATUS_BROADCAST_BIT), 0, nullptr, TIMEOUT_1SEC);
    mISDN_write_frame(midev, nullptr, (uint32_t)stack->upper_id | FLG_MSG_DOWN, PH_ACTIVATE | REQUEST, 0, 0,
                      nullptr, TIMEOUT_1SEC);
    if (stack->nt && stack->ptp) {
        msg_t *m = create_l2msg(DL_ESTABLISH | REQUEST, 0, 0);
        if (nt_stack_down(stack, m))
            free_msg(m);
    } else {
        mISDN_write_frame(midev, nullptr, (uint32_t)stack->upper_id | FLG_MSG_DOWN, DL_ESTABLISH | REQUEST, 0,
                          0, nullptr, TIMEOUT_1SEC);
    }
    cb_log(8, port, -1, "stack_init: port:%d lowerId:%x  upperId:%x\n", port, stack->lower_id, stack->upper_id);
    return stack;
}

void misdn_lib_reinit_nt_stack(int port)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    if (!stack || !stack->nt || !glob_mgr)
        return;
    misdn_link_set(&stack->l2link, 0);
    stack->blocked = 0;
    pthread_mutex_lock(&stack->lock);
    if (stack->nst.layer3)
        cleanup_Isdnl3(&stack->nst);
    if (stack->nst.layer2)
        cleanup_Isdnl2(&stack->nst);
    nt_layers_init(stack, glob_mgr->midev);
    pthread_mutex_unlock(&stack->lock);
    if (!stack->ptp)
        write_frame((uint32_t)stack->upper_id | FLG_MSG_DOWN, PH_ACTIVATE | REQUEST, 0);
    request_l2_establish(stack);
}

int _handle_event_nt(manager_t *mgr, msg_t *msg)
{
    misdn_stack *stack = nullptr;
    for (misdn_stack *s = get_misdn_stack(); s && mgr; s = s->next)
        if (&s->mgr == mgr) {
            stack = s;
            break;
        }
    if (!stack || !msg) {
        cb_log(4, 0, -1, "NT_READ: msg:%p mgr:%p\n", (void *)msg, (void *)mgr);
        return -22;
    }
    msg_queue_tail(&stack->upqueue, msg);
    sem_post(&glob_mgr->new_sender_msg);
    return 0;
}

// ---- supervision ----

int misdn_lib_get_port_up(int port)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    if (!stack)
        return 0;
    if (!misdn_link_get(&stack->l1link))
        write_frame((uint32_t)stack->upper_id | FLG_MSG_DOWN, PH_ACTIVATE | REQUEST, 0);
    if (!misdn_link_get(&stack->l2link))
        request_l2_establish(stack);
    return 0;
}

int misdn_lib_get_port_down(int port)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    if (!stack)
        return 0;
    if (misdn_link_get(&stack->l2link)) {
        if (stack->nt && stack->ptp)
            nt_request(stack, DL_RELEASE | REQUEST);
        else
            write_frame((uint32_t)stack->upper_id | FLG_MSG_DOWN, DL_RELEASE | REQUEST, 0);
    }
    write_frame((uint32_t)stack->upper_id | FLG_MSG_DOWN, PH_DEACTIVATE | REQUEST, 0);
    return 0;
}

int misdn_lib_port_up(int port, int check)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    if (!stack)
        return -1;
    if (stack->blocked) {
        cb_log(3, port, -1, "Port Blocked:%d L2:%d L1:%d\n", stack->blocked, misdn_link_get(&stack->l2link),
               misdn_link_get(&stack->l1link));
        return -1;
    }
    if (stack->ptp) {
        if (misdn_link_get(&stack->l1link) && misdn_link_get(&stack->l2link))
            return 1;
        cb_log(5, port, -1, "Port Down L2:%d L1:%d\n", misdn_link_get(&stack->l2link), misdn_link_get(&stack->l1link));
        return 0;
    }
    if (!check || misdn_link_get(&stack->l1link))
        return 1;
    cb_log(1, port, -1, "Port down PMP\n");
    return 0;
}

int is_port_up(int port, int pullup)
{
    int r = misdn_lib_port_up(port, 1);
    misdn_stack *stack = get_stack_by_isdn_port(port);
    if (stack && !stack->nt && !stack->ptp) {
        if (!stack->permanent_l1)
            return 1;  // layer 1 comes up with the call
        return r == 0 ? 0 : 1;
    }
    if (pullup && r == 0) {
        misdn_chansel_settings *g = misdn_lib_get_port_group_settings_by_port(port);
        if (!g || !g->chansel_portpullup)
            return 0;
        cb_log(4, port, -1, "Trying to get port up!\n");
        misdn_lib_get_port_up(port);
        if (g->chansel_portpullup == 2) {
            if (misdn_lib_port_up(port, 0) == 0)
                cb_log(3, port, -1, "Port not up, but continuing anyway!\n");
            return 1;
        }
        for (int i = 0; i < 200; i++) {
            int up = misdn_lib_port_up(port, 0);
            if (i % 10 == 0)
                cb_log(4, port, -1, "Waiting %i ms -> port up %i\n", i, up);
            if (up) {
                cb_log(4, port, -1, "Port up after %i ms\n", i);
                return 1;
            }
            usleep(1000);
        }
        return 0;
    }
    return r == 0 ? 0 : 1;
}

int misdn_is_port_up(int port, int pullup) { return is_port_up(port, pullup) ? 1 : 0; }

int misdn_is_port_up_by_stack(misdn_stack *stack, int pullup)
{
    return stack ? misdn_is_port_up(stack->port, pullup) : 0;
}

static int set_blocked(int port, int blocked)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    if (!stack)
        return -1;
    stack->blocked = blocked;
    return 0;
}

int misdn_lib_port_block(int port) { return set_blocked(port, 1); }

int misdn_lib_port_unblock(int port) { return set_blocked(port, 0); }

int misdn_lib_is_port_blocked(int port)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    return stack ? stack->blocked : -1;
}

int misdn_is_port_blocked_by_stack(misdn_stack *stack) { return stack && stack->blocked ? 1 : 0; }

int misdn_lib_is_l2_up(int port)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    return stack ? (misdn_link_get(&stack->l2link) ? 1 : 0) : -1;
}

int misdn_lib_is_te_ptp_l2_down(int port)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    return stack && !stack->nt && stack->ptp && misdn_link_get(&stack->l1link) == 1 && misdn_link_get(&stack->l2link) == 0 ? 1 : 0;
}

// ---- port facts ----

int misdn_lib_is_ptp(int port)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    return stack ? stack->ptp : -1;
}

int misdn_lib_port_is_pri(int port)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    return stack ? stack->pri : -1;
}

int misdn_port_is_nt(int port)
{
    misdn_stack *stack = get_stack_by_isdn_port(port);
    return stack ? stack->nt : 0;
}

int misdn_port_has_stack(int port) { return get_stack_by_isdn_port(port) ? 1 : 0; }

int misdn_is_port_configured(int port) { return misdn_port_has_stack(port); }

int misdn_get_channel_count(void)
{
    int n = 0;
    for (misdn_stack *s = get_misdn_stack(); s; s = s->next)
        n += s->pri ? 30 : 2;
    return n;
}

int misdn_get_stack_count(void)
{
    int n = 0;
    for (misdn_stack *s = get_misdn_stack(); s; s = s->next)
        n++;
    return n;
}

misdn_stack *misdn_get_stack_by_index(int index)
{
    misdn_stack *s = get_misdn_stack();
    for (int i = 0; s && i < index; i++)
        s = s->next;
    return index < 0 ? nullptr : s;
}

int misdn_get_port_by_stack(misdn_stack *stack) { return stack ? stack->port : -1; }

int misdn_get_channelcount_by_stack(misdn_stack *stack) { return stack ? stack->b_num : 0; }

int misdn_get_full_channelcount_by_stack(misdn_stack *stack)
{
    if (!stack)
        return 0;
    return stack->pri ? stack->b_num : stack->b_num + 1;
}

misdn_bchannel *misdn_get_channel_by_stack_and_index(misdn_stack *stack, int index)
{
    if (!stack || index < 0 || index >= MISDN_SLOTS)
        return nullptr;
    return &stack->bc[index];
}

int misdn_lib_get_dchannel(int port) { return channel_spender_get_dchannel(chan_mgr, port); }

int misdn_lib_maxports_get(void)
{
    int midev = mISDN_open();
    if (midev < 0)
        return -1;
    int n = mISDN_get_stack_count(midev);
    mISDN_close(midev);
    return n;
}

void misdn_set_check_queues_length(int n) { g_check_queues_length = n; }

int misdn_get_check_queues_length(void) { return g_check_queues_length; }

int misdn_queues_state(void)
{
    if (!glob_mgr)
        return 0;
    int n = 0;
    for (misdn_stack *s = get_misdn_stack(); s; s = s->next) {
        n += msg_queue_len(&s->downqueue);
        if (s->nt)
            n += msg_queue_len(&s->upqueue);
    }
    return n + msg_queue_len(&glob_mgr->sender_queue);
}

const char *manager_isdn_get_info(event_e event) { return isdn_get_info(msgs_g, event, 0); }

// ---- per-port settings ----

void misdn_set_t1(int port, int t1)
{
    if (misdn_stack *s = get_stack_by_isdn_port(port))
        s->t1 = t1;
}

void misdn_set_permanent_l1(int port, int on)
{
    if (misdn_stack *s = get_stack_by_isdn_port(port))
        s->permanent_l1 = on;
}

void misdn_set_restart_after_linkloss(int port, int option)
{
    if (misdn_stack *s = get_stack_by_isdn_port(port))
        s->restart_after_linkloss = option;
}

#define ALL_SLOTS_SETTER(name, field)                          \
    void name(int port, int on)                                \
    {                                                          \
        if (misdn_stack *s = get_stack_by_isdn_port(port))     \
            for (int i = 0; i < MISDN_SLOTS; i++)              \
                s->bc[i].field = on;                           \
    }

ALL_SLOTS_SETTER(misdn_allow_qsig, use_qsig)
ALL_SLOTS_SETTER(misdn_allow_qsig_network_extension, use_qsig_network_extension)
ALL_SLOTS_SETTER(misdn_allow_qsig_iso, use_qsig_iso)
ALL_SLOTS_SETTER(misdn_set_reject_unknown_facility, reject_unknown_facility)
ALL_SLOTS_SETTER(misdn_allow_complete_dialing_pound_star, use_complete_dialing_pound_star)

#undef ALL_SLOTS_SETTER

// ---- status texts ----

// The stack a status line is written for, the buffer emptied first; null
// when there is nothing to write (no buffer, or no stack: the text stays empty).
static misdn_stack *status_stack(int port, char *buf, int size)
{
    if (!buf || size <= 0)
        return nullptr;
    buf[0] = 0;
    return get_stack_by_isdn_port(port);
}

void get_show_stack_details(int port, char *buf, int size)
{
    misdn_stack *s = status_stack(port, buf, size);
    if (!s)
        return;
    snprintf(buf, (size_t)size, "* Port %d Type %s Prot. %s L2Link %s L1Link:%s Blocked:%d", s->port,
             yesno(s->nt, "NT", "TE"), yesno(s->ptp, "PTP", "PMP"), yesno(misdn_link_get(&s->l2link), "UP", "DOWN"),
             yesno(misdn_link_get(&s->l1link), "UP", "DOWN"), s->blocked);
}

void get_show_stack_details_compact(int port, char *buf, int size)
{
    misdn_stack *s = status_stack(port, buf, size);
    if (!s)
        return;
    snprintf(buf, (size_t)size, "ISDNINFO:%d:%s:%s:%i:%i:%i", s->port, yesno(s->nt, "NT", "TE"),
             yesno(s->ptp, "PTP", "PMP"), misdn_link_get(&s->l2link), misdn_link_get(&s->l1link), s->blocked);
}

void misdn_dump_chan_list_by_port(int port)
{
    misdn_stack *s = get_stack_by_isdn_port(port);
    if (!s)
        return;
    cb_log(6, port, -1, "Dumping ISDN Channel list\n");
    for (int i = 0; i <= s->b_num && i < MISDN_SLOTS; i++)
        cb_log(6, port, i + 1, "Idx:%d stack->cchan:%d Chan:%d\n", i, s->channels[i], i + 1);
}

static const char *bearer2str(int cap)
{
    switch (cap) {
    case 0: return "Speech";
    case 16: return "Audio 3.1k";
    case 8: return "Unres Digital";
    case 9: return "Res Digital";
    default: return "Unknown Bearer";
    }
}

static const char *fac2str(int func)
{
    static const struct {
        int func;
        const char *name;
    } names[] = {
        {Fac_MCID, "MCID"},
        {Fac_ECTExecute, "ECTExecute"},
        {Fac_CFActivate, "CFActivate"},
        {Fac_CFDeactivate, "CFDeactivate"},
        {Fac_CFInterrogateParameters, "CFInterrogateParameters"},
        {Fac_CD, "CD"},
        {Fac_CRerouting, "CRerouting"},
        {Fac_CFInterrogateNumbers, "CFInterrogateNumbers"},
        {Fac_MLPP, "MLPP"},
        {Fac_AOCDCurrency, "AOCDCurrency"},
        {Fac_AOCDChargingUnit, "AOCDChargingUnit"},
        {Fac_ReturnResult, "ReturnResult"},
        {Fac_ReturnError, "ReturnError"},
        {Fac_Reject, "Reject"},
        {Fac_None, "None"},
    };
    for (const auto &n : names)
        if (n.func == func)
            return n.name;
    return "unknown";
}

static char ton_char(int ton) { return ton < 0 ? ' ' : (char)('0' + ton); }

void misdn_lib_log_ies(misdn_bchannel *bc)
{
    if (!bc)
        return;
    misdn_stack *s = get_stack_by_bc(bc);
    if (!s)
        return;
    cb_log(2, s->port, bc->pid,
           " --> channel:%d mode:%s cause:%d ocause:%d rad:%s cad:%s info_dad:%s oton:%c dton:%c rton:%c "
           "cton:%c caps:%s pi:%x keypad:%s sending_complete:%d  screen:%d pres:%d",
           bc->channel, s->nt ? "NT" : "TE", bc->cause, bc->out_cause, bc->rad, bc->cad, bc->info_dad,
           ton_char(bc->oton), ton_char(bc->dton), ton_char(bc->rton), ton_char(bc->cton),
           bearer2str(bc->capability), bc->progress_indicator, bc->keypad, bc->sending_complete, bc->screen,
           bc->pres);
    cb_log(2, s->port, bc->pid,
           " --> addr:%x l3id:%x b_stid:%x layer_id:%x facility:%s out_facility:%s urate:%d rate:%d mode:%d "
           "user1:%d bc:%p h:%d sh:%d\n",
           bc->meta ? bc->meta->addr : -1, bc->l3_id, bc->meta ? bc->meta->b_stid : -1,
           bc->meta ? bc->meta->layer_id : -1, fac2str(bc->fac_in.Function), fac2str(bc->fac_out.Function),
           bc->urate, bc->rate, bc->mode, bc->user1, (void *)bc, bc->holded, bc->stack_holder);
}

// ---- send lock ----

void misdn_send_lock(misdn_bchannel *bc)
{
    cb_log(8, bc->port, bc->pid, "Locking bc->pid: %d\n", bc->pid);
    pthread_mutex_lock(&bc->send_lock);
    cb_log(8, bc->port, bc->pid, "Locking finished bc->pid: %d\n", bc->pid);
}

void misdn_send_unlock(misdn_bchannel *bc)
{
    cb_log(8, bc->port, bc->pid, "Unlocking bc->pid: %d\n", bc->pid);
    pthread_mutex_unlock(&bc->send_lock);
}
