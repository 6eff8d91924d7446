// Senders: call control's decisions turned into ABCD patterns through the
// send table of the port's signalling type.
#include "cas_tables.h"

namespace {

void e1_send(cas_guard &lk, int port, int event)
{
    int old_state = cas_ctl.port_state[port];
    cas_print("CASSENDEVENT %i: %s\n", port, cas_event_to_text(nullptr, event));
    cas_print("CSEE1 STAT %i: \n", old_state);
    switch (cas_ctl.direction[port]) {
    case CAS_DIRECTION_INBOUND:
        cas_print("SENDING CAS MESSAGE FOR EVENT %s\n\n\n", cas_event_to_text(nullptr, event));
        cas_run_send_table(lk, cas_e1_inbound_send, port, event);
        break;
    case CAS_DIRECTION_OUTBOUND:
        cas_run_send_table(lk, cas_e1_outbound_send, port, event);
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

void cas_sender(cas_guard &lk, int port, int event)
{
    switch (cas_ctl.signalling[port]) {
    case CAS_SIGNALLING_T1_FXOKS:
        cas_run_send_table(lk, cas_fxoks_send, port, event);
        break;
    case CAS_SIGNALLING_T1_FXSKS:
        cas_run_send_table(lk, cas_fxsks_send, port, event);
        break;
    case CAS_SIGNALLING_E1_MFCR2:
        e1_send(lk, port, event);
        break;
    default:
        break;
    }
}

int cas_send_event(int port, int event)
{
    cas_guard lk(cas_lock);
    if (!cas_port_open(port)) {
        cas_no_ctrl(port, event);
        return 0;
    }
    cas_sender(lk, port, event);
    return 0;
}
