// Each port handed out is claimed by a file named after it in one directory
// shared by every test process, holding the claimer's pid. A claim whose
// process is gone is stale and taken over, so a crashed test leaves nothing
// behind; claims are made under a lock on the directory, so two processes
// never take the same port. No descriptor stays open (tests count them).
#include "free_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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

// Another living process holds the port's claim.
bool claimed_elsewhere(const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "r");
    if (!f)
        return false;
    long pid = 0;
    bool read = std::fscanf(f, "%ld", &pid) == 1;
    std::fclose(f);
    if (!read || pid <= 0 || pid == (long)getpid())
        return false;
    return kill((pid_t)pid, 0) == 0 || errno == EPERM;
}

bool write_claim(const std::string &path)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return false;
    std::string pid = std::to_string(getpid()) + "\n";
    bool ok = write(fd, pid.data(), pid.size()) == (ssize_t)pid.size();
    close(fd);
    return ok;
}

} // namespace

int free_local_port()
{
    static std::mutex lock;
    static std::set<int> mine;
    std::lock_guard<std::mutex> guard(lock);

    int high = ephemeral_low() - 1;
    int low = lowest_port;
    if (high - low < 1000) { // an unusual ephemeral range: any unprivileged port
        high = 65535;
        low = 1025;
    }
    if (mkdir(claim_dir, 01777) == 0)
        chmod(claim_dir, 01777); // past the umask: every test user claims here

    int dir_lock = open((std::string(claim_dir) + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (dir_lock < 0 || flock(dir_lock, LOCK_EX) != 0) {
        if (dir_lock >= 0)
            close(dir_lock);
        return 0;
    }
    int found = 0;
    int span = high - low + 1;
    int start = std::random_device()() % span;
    for (int i = 0; i < span && !found; i++) {
        int port = low + (start + i) % span;
        std::string path = std::string(claim_dir) + "/" + std::to_string(port);
        if (mine.count(port) || claimed_elsewhere(path))
            continue;
        if (bindable(SOCK_DGRAM, port) && bindable(SOCK_STREAM, port) && write_claim(path)) {
            mine.insert(port);
            found = port;
        }
    }
    close(dir_lock); // releases the lock
    return found;
}
