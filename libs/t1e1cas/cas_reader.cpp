// The read thread "tarn.cas": watches the read descriptors of all ports and
// runs each line read through the port's receive step.
#include "cas_internal.h"
#include "lineif_lines.h"
#include "log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

const int POLL_MS = 100;

std::atomic<bool> reader_started{false};
// A descriptor whose read failed or hit the end (the driver closed the
// device) is left out of the wait for this long, so the thread never spins.
const long QUIET_MS = 1000;

struct watched {
    int fd;
    int port;
    long quiet_until; // monotonic milliseconds
};

long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

// The passthrough partner of a port (1 <-> 32), or 0.
int passthrough_partner(int port)
{
    return port == 1 ? 32 : port == 32 ? 1 : 0;
}

void handle_line(const char *line, void *port_ptr)
{
    int port = *static_cast<int *>(port_ptr);
    cas_guard lk(cas_lock);
    if (cas_stopping.load())
        return;
    struct timeval rel = cas_now();
    cas_print("%ld:%ld PORT %i READ LINE  |%s|\n", (long)rel.tv_sec, (long)rel.tv_usec, port, line);
    if (cas_passthrough) {
        int to = passthrough_partner(port);
        if (to && cas_port_open(to))
            cas_write_locked(to, line);
        return;
    }
    int slot = cas_history_add(cas_ctl.read_history, port, rel, line);
    int pattern = cas_pattern_of(line);
    cas_print("TIMEZXXX %ld:%ld\n", (long)rel.tv_sec, (long)rel.tv_usec);
    cas_print("ADDED PORT %i IDX %i : PAT %i : %s : %s\n", port, slot, pattern, line,
              cas_pattern_text(pattern));
    cas_receive(lk, port, line);
}

// One read of a port: every line in it is its own pattern.
void read_port(watched &w)
{
    char buf[CAS_LINE_SIZE]; // this thread's own line buffer
    ssize_t n = read(w.fd, buf, sizeof buf - 1);
    if (n < 0 && errno == EINTR)
        return;
    if (n <= 0) {
        w.quiet_until = now_ms() + QUIET_MS;
        return;
    }
    buf[n] = '\0';
    lineif_each_line(buf, handle_line, &w.port);
}

void *cas_read_thread(void *)
{
    prctl(PR_SET_NAME, "tarn.cas", 0, 0, 0);
    if (!cas_stopping.load())
        start_cas_dispatcher_thread();

    std::vector<watched> ports;
    {
        cas_guard lk(cas_lock);
        for (int port = CAS_PORT_MIN; port <= CAS_PORT_MAX; port++)
            if (cas_ctl.configured[port] && cas_ctl.fdrs[port] >= 0)
                ports.push_back({cas_ctl.fdrs[port], port, 0});
    }
    std::sort(ports.begin(), ports.end(),
              [](const watched &a, const watched &b) { return a.fd < b.fd; });

    std::vector<pollfd> pfds;
    std::vector<size_t> index;
    while (!cas_stopping.load()) {
        pfds.clear();
        index.clear();
        long now = now_ms();
        for (size_t i = 0; i < ports.size(); i++) {
            if (ports[i].quiet_until > now)
                continue;
            pfds.push_back({ports[i].fd, POLLIN, 0});
            index.push_back(i);
        }
        int rc = poll(pfds.data(), pfds.size(), POLL_MS);
        if (rc <= 0)
            continue;
        cas_print("READPOSSIBLE");
        for (size_t k = 0; k < pfds.size() && !cas_stopping.load(); k++) {
            if (!pfds[k].revents)
                continue;
            watched &w = ports[index[k]];
            if (pfds[k].revents & POLLNVAL)
                w.quiet_until = now_ms() + QUIET_MS;
            else
                read_port(w);
        }
    }
    return nullptr;
}

} // namespace

int cas_start_reader()
{
    if (pthread_create(&cas_ctl.t, nullptr, cas_read_thread, nullptr) != 0)
        return -1;
    reader_started = true;
    return 0;
}

void cas_stop_reader()
{
    if (reader_started.exchange(false))
        tarn_join_thread(cas_ctl.t, "tarn.cas");
}
