#include "sip_overload.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sofia-sip/nta_tag.h>
#include <sofia-sip/nua.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "application.h"
#include "log.h"
#include "sip_stack.h"

namespace {

// The bound on waiting INVITEs while the stacks keep up.
std::atomic<size_t> open_limit{SIP_PROCEEDING_LIMIT_AT_START};
std::atomic<bool> watching{false};

struct watched_stack {
    int index;
    int fd;
    bool shedding = false;
    // A flood opens and closes the gate many times a second: the first
    // closing is said, and the opening once it has lasted.
    bool said = false;
    std::chrono::steady_clock::time_point opened;
};

// Whether the socket is bound to the stack's port and address (any
// address matches too).
bool bound_to(int fd, const sip_stack *ss)
{
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (getsockname(fd, (sockaddr *)&a, &len) != 0)
        return false;
    if (a.ss_family == AF_INET) {
        const sockaddr_in *in = (const sockaddr_in *)&a;
        in_addr want{};
        return ntohs(in->sin_port) == ss->sip_port &&
               (in->sin_addr.s_addr == INADDR_ANY || inet_pton(AF_INET, ss->ip, &want) != 1 ||
                want.s_addr == in->sin_addr.s_addr);
    }
    if (a.ss_family == AF_INET6) {
        const sockaddr_in6 *in = (const sockaddr_in6 *)&a;
        in6_addr want{};
        return ntohs(in->sin6_port) == ss->sip_port &&
               (IN6_IS_ADDR_UNSPECIFIED(&in->sin6_addr) || inet_pton(AF_INET6, ss->ip, &want) != 1 ||
                memcmp(&want, &in->sin6_addr, sizeof want) == 0);
    }
    return false;
}

// The UDP socket the stack's transport layer receives on, or -1.
int stack_udp_socket(const sip_stack *ss)
{
    if (!(ss->transport & SIP_TRANSPORT_UDP) || ss->sip_port <= 0)
        return -1;
    DIR *d = opendir("/proc/self/fd");
    if (!d)
        return -1;
    int found = -1;
    while (dirent *e = readdir(d)) {
        char *end = nullptr;
        long fd = strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end || fd == dirfd(d))
            continue;
        struct stat st{};
        int type = 0;
        socklen_t len = sizeof type;
        if (fstat((int)fd, &st) != 0 || !S_ISSOCK(st.st_mode) ||
            getsockopt((int)fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_DGRAM)
            continue;
        if (bound_to((int)fd, ss)) {
            found = (int)fd;
            break;
        }
    }
    closedir(d);
    return found;
}

// Bytes waiting in the socket's receive queue (the kernel's accounting,
// headers included); 0 when the kernel does not say.
unsigned queued_bytes(int fd)
{
    uint32_t mem[SK_MEMINFO_VARS] = {};
    socklen_t len = sizeof mem;
    if (getsockopt(fd, SOL_SOCKET, SO_MEMINFO, mem, &len) != 0 || len <= SK_MEMINFO_RMEM_ALLOC * sizeof mem[0])
        return 0;
    return mem[SK_MEMINFO_RMEM_ALLOC];
}

void set_limit(const sip_stack *ss, size_t limit)
{
    if (ss->nua)
        nua_set_params(ss->nua, NTATAG_MAX_PROCEEDING(limit), TAG_END());
}

void watch_backlogs(std::vector<watched_stack> stacks)
{
    prctl(PR_SET_NAME, "tarn.sipload", 0, 0, 0);
    const auto quiet = std::chrono::seconds(1);
    while (gp && !gp->reject_calls) {
        auto now = std::chrono::steady_clock::now();
        for (watched_stack &w : stacks) {
            const sip_stack *ss = &gp->sip_stacks[w.index];
            unsigned queued = queued_bytes(w.fd);
            if (!w.shedding && queued >= SIP_BACKLOG_SHED_BYTES) {
                w.shedding = true;
                set_limit(ss, SIP_PROCEEDING_LIMIT_SHEDDING);
                if (!w.said)
                    LOGD(SIP, 2, nullptr, "SIP stack %s: %u KB of requests wait to be read, new INVITEs are "
                         "answered 503 by the stack", ss->name, queued / 1024);
                w.said = true;
            } else if (w.shedding && queued <= SIP_BACKLOG_RESUME_BYTES) {
                w.shedding = false;
                w.opened = now;
                set_limit(ss, open_limit.load());
            } else if (w.said && !w.shedding && now - w.opened >= quiet) {
                w.said = false;
                LOGD(SIP, 2, nullptr, "SIP stack %s: requests read, new INVITEs go to call control again", ss->name);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(SIP_BACKLOG_POLL_MS));
    }
}

// From the first call on: one thread watches the receive queue of every
// running stack's UDP socket.
void start_backlog_watch()
{
    if (watching.exchange(true))
        return;
    std::vector<watched_stack> stacks;
    for (int i = 0; i < gp->sip_stack_size; i++) {
        const sip_stack *ss = &gp->sip_stacks[i];
        int fd = ss->nua ? stack_udp_socket(ss) : -1;
        if (fd >= 0)
            stacks.push_back(watched_stack{i, fd, false, false, {}});
    }
    if (stacks.empty())
        return;
    std::thread(watch_backlogs, std::move(stacks)).detach();
}

} // namespace

void sip_stacks_limit_proceeding(int call_objects)
{
    if (!gp || call_objects < 1)
        return;
    size_t limit = 2 * (size_t)call_objects;
    open_limit = limit;
    for (int i = 0; i < gp->sip_stack_size; i++) {
        sip_stack *ss = &gp->sip_stacks[i];
        set_limit(ss, limit);
    }
    LOGD(SIP, 2, nullptr, "SIP stacks: at most %i INVITEs wait for an answer, more are answered 503 by the stack",
         (int)limit);
    start_backlog_watch();
}
