#include "csme_socket.h"

#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// The simulator socket open now, -1 when none. Every transfer asks which
// transport its socket is, so the answer is remembered here rather than
// asked of the kernel each time.
std::atomic<int> sim_fd{-1};

bool is_sim(int fd)
{
    return fd >= 0 && fd == sim_fd.load(std::memory_order_relaxed);
}

// A Unix datagram socket with an automatic (abstract) name of its own, so
// the simulator can answer, connected to the simulator's socket.
int open_sim(const char *path)
{
    sockaddr_un peer = {};
    peer.sun_family = AF_UNIX;
    if (strlen(path) >= sizeof peer.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(peer.sun_path, path, strlen(path) + 1);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un self = {};
    self.sun_family = AF_UNIX;
    if (bind(fd, (sockaddr *)&self, sizeof(sa_family_t)) != 0 ||
        connect(fd, (sockaddr *)&peer, sizeof peer) != 0) {
        int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    sim_fd = fd;
    return fd;
}

int wait_for(int fd, short events, long usec)
{
    pollfd p = {fd, events, 0};
    int ms = usec <= 0 ? 0 : (int)((usec + 999) / 1000);
    int r;
    do {
        r = poll(&p, 1, ms);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return -1;
    if (r == 0)
        return 0;
    // An error or hang-up on the link counts as ready: the transfer then
    // reports the failure itself.
    return 1;
}

} // namespace

const char *csme_sim_path()
{
    const char *p = getenv("TARN_MSP_SIM");
    return (p && *p) ? p : nullptr;
}

long csme_answer_wait_usec(long usual)
{
    const char *ms = csme_sim_path() ? getenv("TARN_MSP_SIM_WAIT_MS") : nullptr;
    if (!ms || !*ms)
        return usual;
    char *end = nullptr;
    long v = strtol(ms, &end, 10);
    return (end && !*end && v > 0 && v <= 60000) ? v * 1000 : usual;
}

int csme_socket()
{
    if (const char *sim = csme_sim_path())
        return open_sim(sim);
    return socket(AF_CSME, SOCK_DGRAM, CSME_PROTOCOL);
}

int csme_ifindex(const char *ifname)
{
    if (!ifname || !*ifname)
        return 0;
    return (int)if_nametoindex(ifname);
}

int csme_set_ackopt(int fd, const csme_ackopt *opt)
{
    // The simulator has no acknowledgements to switch.
    if (is_sim(fd))
        return 0;
    return setsockopt(fd, SOL_CSME, CSME_OPT_ACK, opt, sizeof *opt);
}

int csme_wait_writable(int fd, long usec)
{
    return wait_for(fd, POLLOUT, usec);
}

int csme_wait_readable(int fd, long usec)
{
    return wait_for(fd, POLLIN, usec);
}

ssize_t csme_sendto(int fd, const void *buf, size_t len, int flags, const sockaddr_csme *to)
{
    if (!is_sim(fd))
        return sendto(fd, buf, len, flags, (const sockaddr *)to, sizeof *to);
    iovec iov[2] = {{const_cast<sockaddr_csme *>(to), sizeof *to}, {const_cast<void *>(buf), len}};
    msghdr m = {};
    m.msg_iov = iov;
    m.msg_iovlen = 2;
    ssize_t n = sendmsg(fd, &m, flags | MSG_NOSIGNAL);
    if (n < 0)
        return -1;
    return n >= (ssize_t)sizeof *to ? n - (ssize_t)sizeof *to : 0;
}

ssize_t csme_recvfrom(int fd, void *buf, size_t len, sockaddr_csme *from)
{
    if (!is_sim(fd)) {
        socklen_t alen = sizeof *from;
        return recvfrom(fd, buf, len, MSG_DONTWAIT, (sockaddr *)from, &alen);
    }
    iovec iov[2] = {{from, sizeof *from}, {buf, len}};
    msghdr m = {};
    m.msg_iov = iov;
    m.msg_iovlen = 2;
    ssize_t n = recvmsg(fd, &m, MSG_DONTWAIT);
    if (n < 0)
        return -1;
    // A datagram too short to hold the address carries no frame.
    return n > (ssize_t)sizeof *from ? n - (ssize_t)sizeof *from : 0;
}

void csme_close(int fd)
{
    if (fd < 0)
        return;
    int open_sim_fd = fd;
    sim_fd.compare_exchange_strong(open_sim_fd, -1);
    close(fd);
}
