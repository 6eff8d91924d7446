// Every frame the catcher reads: B-channel frames, device timers,
// management and layer 1/2 supervision are handled here on the catcher
// thread; NT frames go into the port's network stack, TE frames to the
// sender thread.
#include <cstring>

#include "isdn_lib_intern.h"
#include "isdn_msg.h"
#include "log.h"
#include "log_backend.h"
#include "misdn_device.h"

// Point-to-point ports log their layer changes at level 0, buses at level 1.
static int port_level(const misdn_stack *stack) { return stack->ptp ? 0 : 1; }

// Ports whose layer 1 was up once since start: only for them is a layer 1
// that comes up again a link that was lost (the first activation is none).
static bool l1_seen_up[MISDN_MAX_PORTS + 1];

static bool l1_came_back(const misdn_stack *stack)
{
    if (stack->port < 0 || stack->port > MISDN_MAX_PORTS)
        return false;
    bool again = l1_seen_up[stack->port];
    l1_seen_up[stack->port] = true;
    return again;
}

static bool restart_wanted(const misdn_stack *stack)
{
    switch (stack->restart_after_linkloss) {
    case 0: return false;
    case 2: return stack->nt != 0;
    case 3: return stack->nt == 0;
    default: return true;
    }
}

static void short_status(misdn_stack *stack, iframe_t *frm)
{
    cb_log(5, stack->port, -1, "MGMT: Short status dinfo %x\n", frm->dinfo);
    int lvl = port_level(stack);
    switch ((uint32_t)frm->dinfo) {
    case SSTATUS_L1_DEACTIVATED:
        cb_log(lvl, stack->port, -1, "MGMT: SSTATUS: L1_DEACTIVATED \n");
        cb_log(17, stack->port, -1, "L1: PH_DEACTIVATE|INDICATION");
        _tarn_snmp_msg("SNMP:ISDN_LAYER:1:%i:0\n", stack->port);
        misdn_link_set(&stack->l1link, 0);
        break;
    case SSTATUS_L1_ACTIVATED:
        cb_log(lvl, stack->port, -1, "MGMT: SSTATUS: L1_ACTIVATED \n");
        cb_log(17, stack->port, -1, "L1: PH_ACTIVATE|INDICATION");
        _tarn_snmp_msg("SNMP:ISDN_LAYER:1:%i:1\n", stack->port);
        misdn_link_set(&stack->l1link, 1);
        if (l1_came_back(stack) && restart_wanted(stack))
            queue_sender_job(stack->port, JOB_LINKLOSS_RESTART);
        break;
    case SSTATUS_L2_RELEASED:
        cb_log(lvl, stack->port, -1, "MGMT: SSTATUS: L2_RELEASED \n");
        cb_log(17, stack->port, -1, "L2: DL_RELEASE|INDICATION");
        _tarn_snmp_msg("SNMP:ISDN_LAYER:2:%i:0\n", stack->port);
        misdn_link_set(&stack->l2link, 0);
        break;
    case SSTATUS_L2_ESTABLISHED:
        cb_log(lvl, stack->port, -1, "MGMT: SSTATUS: L2_ESTABLISH \n");
        cb_log(17, stack->port, -1, "L2: DL_ESTABLISH|INDICATION");
        _tarn_snmp_msg("SNMP:ISDN_LAYER:2:%i:1\n", stack->port);
        misdn_link_set(&stack->l2link, 1);
        break;
    default:
        break;
    }
}

// Into the NT stack's layer-1/2 entry under the port lock; freed when refused.
static void nt_l1_l2(misdn_stack *stack, msg_t *msg)
{
    pthread_mutex_lock(&stack->lock);
    int r = stack->nst.l1_l2 ? stack->nst.l1_l2(&stack->nst, msg) : -1;
    pthread_mutex_unlock(&stack->lock);
    if (r)
        free_msg(msg);
}

static bool handle_timer(iframe_t *frm, msg_t *msg)
{
    switch (frm->prim) {
    case MGR_INITTIMER | CONFIRM:
    case MGR_ADDTIMER | CONFIRM:
    case MGR_DELTIMER | CONFIRM:
    case MGR_REMOVETIMER | CONFIRM:
        free_msg(msg);
        return true;
    case MGR_TIMER | INDICATION:
        for (misdn_stack *stack = get_misdn_stack(); stack; stack = stack->next) {
            if (!stack->nt)
                continue;
            pthread_mutex_lock(&stack->lock);
            itimer_t *t = find_timer(&stack->nst, (int)frm->addr);
            if (t) {
                mISDN_write_frame(glob_mgr->midev, nullptr, frm->addr, MGR_TIMER | RESPONSE, 0, 0, nullptr,
                                  TIMEOUT_1SEC);
                t->flags &= ~ITIMER_RUNNING;
                if (t->function)
                    t->function(t->data);
                pthread_mutex_unlock(&stack->lock);
                free_msg(msg);
                return true;
            }
            pthread_mutex_unlock(&stack->lock);
        }
        cb_log(0, 0, -1, "Timer Msg without Timer ??\n");
        free_msg(msg);
        return true;
    default:
        return false;
    }
}

static void fire_queued_events(misdn_stack *stack)
{
    for (int i = 0; i <= stack->b_num && i < MISDN_SLOTS; i++) {
        misdn_bchannel *bc = &stack->bc[i];
        if (bc->evq == EVENT_NOTHING)
            continue;
        const char *name = isdn_get_info(msgs_g, bc->evq, 0);
        cb_log(4, stack->port, bc->pid, "Fireing Queued Event %s because L1 got up\n", name ? name : "");
        misdn_lib_send_event(bc, bc->evq);
        bc->evq = EVENT_NOTHING;
    }
}

static bool handle_layers(misdn_stack *stack, iframe_t *frm, msg_t *msg)
{
    int lvl = port_level(stack);
    switch (frm->prim) {
    case DL_ESTABLISH | REQUEST:
        cb_log(lvl, stack->port, -1, "DL_ESTABLISH|REQUEST \n");
        free_msg(msg);
        return true;
    case DL_RELEASE | REQUEST:
        cb_log(lvl, stack->port, -1, "DL_RELEASE|REQUEST \n");
        free_msg(msg);
        return true;
    case DL_ESTABLISH | CONFIRM:
    case DL_ESTABLISH | INDICATION:
        cb_log(lvl, stack->port, -1, "L2: L2Link Up! \n");
        if (stack->ptp && misdn_link_get(&stack->l2link)) {
            cb_log(-1, stack->port, -1, "L2: L2Link Up! but it's already UP.. must be faulty, blocking port\n");
            if (cb_event)
                cb_event(EVENT_PORT_ALARM, &stack->bc[0], glob_mgr->user_data);
        }
        misdn_link_set(&stack->l2link, 1);
        free_msg(msg);
        return true;
    case DL_RELEASE | CONFIRM:
    case DL_RELEASE | INDICATION:
        cb_log(lvl, stack->port, -1, "L2: L2Link Down! \n");
        misdn_link_set(&stack->l2link, 0);
        free_msg(msg);
        return true;
    case PH_ACTIVATE | REQUEST:
        free_msg(msg);
        cb_log(lvl, stack->port, -1, "L1: PH_ACTIVATE|REQUEST \n");
        cb_log(17, stack->port, -1, "L1: PH_ACTIVATE|REQUEST");
        return true;
    case PH_DEACTIVATE | REQUEST:
        free_msg(msg);
        cb_log(lvl, stack->port, -1, "L1: PH_DEACTIVATE|REQUEST \n");
        cb_log(17, stack->port, -1, "L1: PH_DEACTIVATE|REQUEST");
        return true;
    case PH_ACTIVATE | CONFIRM:
    case PH_ACTIVATE | INDICATION:
        cb_log(lvl, stack->port, -1, "L1: PH L1Link Up!\n");
        misdn_link_set(&stack->l1link, 1);
        if (stack->nt) {
            nt_l1_l2(stack, msg);
            if (stack->ptp)
                request_l2_establish(stack);
        } else {
            free_msg(msg);
        }
        fire_queued_events(stack);
        return true;
    case PH_DEACTIVATE | CONFIRM:
    case PH_DEACTIVATE | INDICATION:
        cb_log(lvl, stack->port, -1, "L1: PH L1Link Down! \n");
        cb_log(17, stack->port, -1, "L1: PH_DEACTIVATE|INDICATION");
        if (global_state == MISDN_INITIALIZED)
            queue_sender_job(stack->port, JOB_L1_DOWN_CLEANUP);
        if (stack->nt)
            nt_l1_l2(stack, msg);
        else
            free_msg(msg);
        misdn_link_set(&stack->l1link, 0);
        misdn_link_set(&stack->l2link, 0);
        return true;
    default:
        return false;
    }
}

int manager_isdn_handler(iframe_t *frm, msg_t *msg)
{
    static int addr_zero_count = 0;
    if (frm->dinfo == (int)0xFFFFFFFF && frm->prim == (PH_DATA | CONFIRM))
        cb_log(0, 0, -1, "SERIOUS BUG, dinfo == 0xffffffff, prim == PH_DATA | CONFIRM !!!!\n");

    if ((((frm->addr | 0x40000000u) >> 28) & 0xF) == 5 && handle_bchan(msg))
        return 0;
    if (handle_timer(frm, msg))
        return 0;

    if (frm->addr == 0 && frm->prim == (MGR_DELLAYER | CONFIRM)) {
        cb_log(2, 0, -1, "MGMT: DELLAYER|CONFIRM Addr: 0 !\n");
        free_msg(msg);
        return 0;
    }
    misdn_stack *stack = frm->addr ? find_stack_by_addr(frm->addr) : nullptr;
    if (stack) {
        switch (frm->prim) {
        case MGR_SETSTACK | INDICATION:
            cb_log(4, stack->port, -1, "MGMT: SETSTACK|IND dinfo %x\n", frm->dinfo);
            free_msg(msg);
            return 0;
        case MGR_DELLAYER | CONFIRM:
            cb_log(4, stack->port, -1, "MGMT: DELLAYER|CNF dinfo %x\n", frm->dinfo);
            free_msg(msg);
            return 0;
        case MGR_SHORTSTATUS | CONFIRM:
        case MGR_SHORTSTATUS | INDICATION:
            short_status(stack, frm);
            free_msg(msg);
            return 0;
        default:
            break;
        }
        if (handle_layers(stack, frm, msg))
            return 0;
        if (stack->nt) {
            nt_l1_l2(stack, msg);
            return 0;
        }
        cb_log(4, stack->port, -1, "TE_READ: frm->addr:%x frm->dinfo:%x frm->prim:%x queuing\n", frm->addr,
               frm->dinfo, frm->prim);
        queue_sender_frame(msg);
        return 0;
    }
    if (frm->prim == (MGR_DELLAYER | CONFIRM)) {
        cb_log(2, 0, -1, "MGMT: DELLAYER|CONFIRM Addr: %x !\n", frm->addr);
        free_msg(msg);
        return 0;
    }

    if (frm->addr == 0) {
        if (addr_zero_count == 0)
            cb_log(0, 0, -1, "mISDN Msg without Address pr:%x dinfo:%x\n", frm->prim, frm->dinfo);
        if (++addr_zero_count > 100) {
            cb_log(0, 0, -1, "mISDN Msg without Address pr:%x dinfo:%x (already more than 100 of them)\n", frm->prim,
                   frm->dinfo);
            addr_zero_count = 0;
        }
        free_msg(msg);
        return 0;
    }
    switch (frm->prim) {
    case MGR_SETSTACK | INDICATION:
        if (handle_bchan(msg))
            return 0;
        break;
    case DL_DATA | CONFIRM:
        cb_log(4, 0, -1, "DL_DATA|CONFIRM\n");
        free_msg(msg);
        return 0;
    case PH_CONTROL | CONFIRM:
        cb_log(4, 0, -1, "PH_CONTROL|CONFIRM\n");
        free_msg(msg);
        return 0;
    case DL_DATA | INDICATION:
        cb_log(9, 0, -1, "BCHAN DATA without BC: addr:%x port:%d channel:%d\n", frm->addr, (frm->addr >> 8) & 0xFF,
               (frm->addr >> 16) & 0xFF);
        free_msg(msg);
        return 0;
    case MGR_SETSTACK | CONFIRM:
    case MGR_CLEARSTACK | CONFIRM:
        free_msg(msg);
        return 0;
    default:
        break;
    }
    cb_log(0, 0, -1, "Unhandled Message: prim %x len %d from addr %x, dinfo %x on this port.\n", frm->prim, frm->len,
           frm->addr, frm->dinfo);
    free_msg(msg);
    return 0;
}
