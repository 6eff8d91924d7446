// Senders: call control's decisions turned into ABCD patterns, one per
// signalling type.
#include "cas_internal.h"
#include "log.h"

#include <unistd.h>

namespace {

void ignoring(int port)
{
    cas_print("IGNORING %s\n", cas_print_port_state(cas_ctl.port_state[port]));
}

// The gateway is the telephone side of an exchange line.
void fxoks_send(int port, int event)
{
    int &state = cas_ctl.port_state[port];
    switch (state) {
    case CAS_STATE_T1_IDLE:
        if (event == CAS_EVENT_OFFHOOK) {
            cas_ctl.direction[port] = CAS_DIRECTION_OUTBOUND;
            cas_ctl.in_use[port] = 1;
            state = CAS_STATE_T1_OFFHOOK;
            cas_write_locked(port, "1111");
        } else if (event == CAS_EVENT_ONHOOK) {
            cas_ctl.direction[port] = CAS_DIRECTION_NONE;
            cas_ctl.in_use[port] = 0;
            cas_write_locked(port, "0101");
        } else {
            ignoring(port);
        }
        break;
    case CAS_STATE_T1_RINGING_INBOUND:
        if (event == CAS_EVENT_OFFHOOK) {
            cas_write_locked(port, "1111");
            state = CAS_STATE_T1_OFFHOOK;
            cas_print("stopping timer2\n");
            cas_timer_stop(port);
        } else if (event == CAS_EVENT_ONHOOK) {
            cas_ctl.in_use[port] = 0;
            cas_write_locked(port, "0101");
            state = CAS_STATE_T1_IDLE;
        } else {
            ignoring(port);
        }
        break;
    case CAS_STATE_T1_OFFHOOK:
        if (event == CAS_EVENT_ONHOOK) {
            cas_ctl.in_use[port] = 0;
            cas_write_locked(port, "0101");
            cas_ctl.direction[port] = CAS_DIRECTION_NONE;
            state = CAS_STATE_T1_IDLE;
        } else {
            ignoring(port);
        }
        break;
    default:
        break;
    }
}

// The gateway is the exchange side towards a telephone set.
void fxsks_send(int port, int event)
{
    int &state = cas_ctl.port_state[port];
    switch (state) {
    case CAS_STATE_T1_IDLE:
        if (event == CAS_EVENT_RINGING_START) {
            cas_ctl.direction[port] = CAS_DIRECTION_OUTBOUND;
            state = CAS_STATE_T1_RINGING_OUTBOUND;
            cas_ctl.in_use[port] = 1;
            cas_print("START RINGING");
            cas_add_task(port, CAS_EVENT_RINGING);
        } else if (event == CAS_EVENT_ONHOOK) {
            cas_ctl.direction[port] = CAS_DIRECTION_NONE;
            cas_ctl.in_use[port] = 0;
            cas_write_locked(port, "0101");
        } else {
            ignoring(port);
        }
        break;
    case CAS_STATE_T1_RINGING_OUTBOUND:
        if (event == CAS_EVENT_RINGING) {
            cas_write_locked(port, "0000");
        } else if (event == CAS_EVENT_RINGING_PAUSE) {
            cas_write_locked(port, "0101");
        } else if (event == CAS_EVENT_ONHOOK) {
            cas_ctl.in_use[port] = 0;
            cas_write_locked(port, "0101");
            cas_timer_stop(port);
            cas_ctl.direction[port] = CAS_DIRECTION_NONE;
            state = CAS_STATE_T1_IDLE;
        } else {
            ignoring(port);
        }
        break;
    case CAS_STATE_T1_OFFHOOK:
        if (event == CAS_EVENT_ONHOOK) {
            // release towards the set; the port stays off hook until the
            // set hangs up
            cas_write_locked(port, "1111");
            cas_ctl.direction[port] = CAS_DIRECTION_NONE;
            usleep(10 * 1000);
            cas_ctl.in_use[port] = 0;
            cas_write_locked(port, "0101");
        } else {
            ignoring(port);
        }
        break;
    default:
        break;
    }
}

void e1_clear(int port)
{
    cas_write_locked(port, "1001");
    cas_ctl.direction[port] = CAS_DIRECTION_NONE;
    cas_ctl.port_state[port] = CAS_STATE_E1_IDLE;
    cas_ctl.in_use[port] = 0;
}

void e1_inbound(int port, int event)
{
    int &state = cas_ctl.port_state[port];
    cas_print("SENDING CAS MESSAGE FOR EVENT %s\n\n\n", cas_event_to_text(nullptr, event));
    if (state == CAS_STATE_E1_SEIZE && event == CAS_EVENT_SEIZE_ACKNOWLEDGE) {
        cas_write_locked(port, "1101");
        state = CAS_STATE_E1_SEIZE_ACKNOWLEDGED;
    } else if (state == CAS_STATE_E1_SEIZE_ACKNOWLEDGED && event == CAS_EVENT_OFFHOOK) {
        cas_write_locked(port, "0101"); // answer
        state = CAS_STATE_E1_CONNECTED;
    } else if (state == CAS_STATE_E1_CONNECTED && event == CAS_EVENT_SEIZE_ACKNOWLEDGE) {
        cas_write_locked(port, "1001");
        state = CAS_STATE_E1_IDLE;
    } else if (event == CAS_EVENT_ONHOOK) {
        cas_write_locked(port, "1101"); // clear-back
        usleep(50 * 1000);
        e1_clear(port);
    } else {
        cas_print("UNKNOWN E1 CAS EVENT INBOUND\n");
    }
}

void e1_outbound(int port, int event)
{
    int &state = cas_ctl.port_state[port];
    if (state == CAS_STATE_E1_IDLE && event == CAS_EVENT_SEIZE) {
        cas_write_locked(port, "0001");
        state = CAS_STATE_E1_SEIZE;
    } else if (event == CAS_EVENT_ONHOOK) {
        if (state != CAS_STATE_E1_SEIZE && state != CAS_STATE_E1_SEIZE_ACKNOWLEDGED &&
            state != CAS_STATE_E1_CONNECTED) {
            cas_write_locked(port, "1101");
            usleep(50 * 1000);
        }
        e1_clear(port);
    } else {
        cas_print("UNKNOWN E1 CAS EVENT OUTBOUND\n");
    }
}

void e1_send(int port, int event)
{
    int old_state = cas_ctl.port_state[port];
    cas_print("CASSENDEVENT %i: %s\n", port, cas_event_to_text(nullptr, event));
    cas_print("CSEE1 STAT %i: \n", old_state);
    switch (cas_ctl.direction[port]) {
    case CAS_DIRECTION_INBOUND:
        e1_inbound(port, event);
        break;
    case CAS_DIRECTION_OUTBOUND:
        e1_outbound(port, event);
        break;
    default:
        cas_print("UNKNOWN E1 CAS EVENT NO DIRECTION\n");
        break;
    }
    int new_state = cas_ctl.port_state[port];
    if (new_state == CAS_STATE_E1_IDLE)
        cas_ctl.in_use[port] = 0;
    cas_print("OLD STATE PORT %i: SEND %i: %s\n", port, old_state, cas_print_port_state(old_state));
    cas_print("NEW STATE PORT %i: SEND %i: %s\n", port, new_state, cas_print_port_state(new_state));
}

} // namespace

void cas_sender(int port, int event)
{
    switch (cas_ctl.signalling[port]) {
    case CAS_SIGNALLING_T1_FXOKS:
        fxoks_send(port, event);
        break;
    case CAS_SIGNALLING_T1_FXSKS:
        fxsks_send(port, event);
        break;
    case CAS_SIGNALLING_E1_MFCR2:
        e1_send(port, event);
        break;
    default:
        break;
    }
}

int cas_send_event(int port, int event)
{
    cas_guard lk(cas_lock);
    if (!cas_port_open(port)) {
        LOGD(CAS, 0, nullptr, "CRITICAL: no ctrl for port %i (%i:%s)", port, event,
             cas_event_to_text(nullptr, event));
        return 0;
    }
    cas_sender(port, event);
    return 0;
}
