// The per-port histories of read and written patterns, and the console
// listings of the ports.
#include "cas_internal.h"

int cas_history_add(cas_history &h, int port, const struct timeval &rel, const char *line)
{
    if (!cas_port_in_range(port))
        return -1;
    int slot = h.counter[port] % CAS_HISTORY;
    h.time[port][slot] = rel;
    h.pattern[port][slot] = cas_pattern_of(line);
    h.counter[port]++;
    return slot;
}

namespace {

void print_history(FILE *fp, const cas_history &h, int port, const char *what)
{
    int count = h.counter[port];
    int first = count > CAS_HISTORY ? count - CAS_HISTORY : 0;
    for (int i = first; i < count; i++) {
        int slot = i % CAS_HISTORY;
        fprintf(fp, "%s PORT %i: %3ld:%06ld %s\n", what, port, (long)h.time[port][slot].tv_sec,
                (long)h.time[port][slot].tv_usec, cas_pattern_text(h.pattern[port][slot]));
    }
}

void clear_history(cas_history &h)
{
    for (int port = 0; port < CAS_PORT_TABLE; port++) {
        h.counter[port] = 0;
        h.current_index[port] = 0;
    }
}

} // namespace

void cas_print_event_history(FILE *fp, int port)
{
    if (!fp)
        return;
    cas_guard lk(cas_lock);
    if (!cas_port_open(port))
        return;
    print_history(fp, cas_ctl.read_history, port, "READ");
    fprintf(fp, "\n");
    print_history(fp, cas_ctl.write_history, port, "WROTE");
}

void cas_clear_event_history(FILE *fp)
{
    if (fp)
        fprintf(fp, "CLEARING CAS EVENT HISTORY\n");
    cas_guard lk(cas_lock);
    clear_history(cas_ctl.read_history);
    clear_history(cas_ctl.write_history);
}

void cas_list_configured_ports(FILE *fp)
{
    if (!fp)
        return;
    cas_guard lk(cas_lock);
    fprintf(fp, "Port\tProtocol\tSignalling\tIn Use\tPort State\tDirection\n");
    for (int port = CAS_PORT_MIN; port <= CAS_PORT_MAX; port++) {
        if (!cas_ctl.configured[port])
            continue;
        fprintf(fp, "%i\t%s\t%s\t%i\t%s\t%s\n", port, cas_print_protocol(cas_ctl.protocol[port]),
                cas_print_signalling(cas_ctl.signalling[port]), cas_ctl.in_use[port],
                cas_print_port_state(cas_ctl.port_state[port]),
                cas_print_direction(cas_ctl.direction[port]));
    }
    fflush(fp);
}
