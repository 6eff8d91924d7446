// Each port handed out is claimed by an advisory lock on a file named after
// it in one directory shared by every test process; the lock goes with the
// process, so a crashed test leaves no stale claim behind.
#include "free_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <random>
#include <set>
#include <string>

namespace {

const char *const claim_dir = "/tmp/tarn-test-ports";
const int lowest_port = 20000;

// The first port of the kernel's ephemeral range (32768 when unreadable).
int ephemeral_low()
{
    int low = 32768, high = 0;
    if (FILE *f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        if (std::fscanf(f, "%d %d", &low, &high) != 2)
            low = 32768;
        std::fclose(f);
    }
    return low;
}

bool bindable(int type, int port)
{
    int s = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    bool ok = bind(s, (sockaddr *)&a, sizeof a) == 0;
    close(s);
    return ok;
}

// Locks the port's claim file; the descriptor stays open (and the lock held)
// until the process ends. -1 when another process holds it.
int claim(int port)
{
    std::string path = std::string(claim_dir) + "/" + std::to_string(port);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int free_local_port()
{
    static std::mutex lock;
    static std::set<int> mine;
    std::lock_guard<std::mutex> guard(lock);

    int high = ephemeral_low() - 1;
    int low = lowest_port;
    if (high - low < 1000) { // an unusual range: stay just below it
        high = 65535;
        low = 1025;
    }
    mode_t old = umask(0);
    mkdir(claim_dir, 01777);
    umask(old);

    int span = high - low + 1;
    int start = std::random_device()() % span;
    for (int i = 0; i < span; i++) {
        int port = low + (start + i) % span;
        if (mine.count(port))
            continue;
        int fd = claim(port);
        if (fd < 0)
            continue;
        if (bindable(SOCK_DGRAM, port) && bindable(SOCK_STREAM, port)) {
            mine.insert(port);
            return port;
        }
        close(fd);
    }
    return 0;
}
