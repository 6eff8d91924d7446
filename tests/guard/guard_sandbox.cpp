#include "guard_sandbox.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

int log_socket = -1;
std::map<pid_t, std::vector<std::string>> log_by_pid;

bool failed(std::string *error, const std::string &what)
{
    *error = what + ": " + strerror(errno);
    return false;
}

// Replaces /dev by a tmpfs holding only the character devices PHP and the
// tests use, so that /dev/log can be a socket of ours.
bool fresh_dev(std::string *error)
{
    static const char *const nodes[] = {"null", "zero", "full", "random", "urandom"};
    int fds[sizeof(nodes) / sizeof(nodes[0])];
    for (size_t i = 0; i < sizeof(nodes) / sizeof(nodes[0]); i++) {
        fds[i] = open((std::string("/dev/") + nodes[i]).c_str(), O_PATH | O_CLOEXEC);
        if (fds[i] < 0)
            return failed(error, std::string("open /dev/") + nodes[i]);
    }
    if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=755") != 0)
        return failed(error, "mount tmpfs on /dev");
    for (size_t i = 0; i < sizeof(nodes) / sizeof(nodes[0]); i++) {
        std::string dst = std::string("/dev/") + nodes[i];
        std::string src = "/proc/self/fd/" + std::to_string(fds[i]);
        int fd = open(dst.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
        if (fd < 0)
            return failed(error, "create " + dst);
        close(fd);
        if (mount(src.c_str(), dst.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return failed(error, "bind " + dst);
        close(fds[i]);
    }
    symlink("/proc/self/fd", "/dev/fd");
    symlink("/proc/self/fd/0", "/dev/stdin");
    symlink("/proc/self/fd/1", "/dev/stdout");
    symlink("/proc/self/fd/2", "/dev/stderr");

    log_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (log_socket < 0)
        return failed(error, "socket");
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    strcpy(sa.sun_path, "/dev/log");
    if (bind(log_socket, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) != 0)
        return failed(error, "bind /dev/log");
    chmod("/dev/log", 0666);
    return true;
}

// The source and build trees may themselves lie below /tmp (a checkout in a
// temporary folder): hold them open across the new /tmp and bind them back
// at the same paths, so the guard, its fixtures and php-cgi find them.
struct kept_tree {
    std::string path;
    int fd;
};

bool keep_trees(std::vector<kept_tree> *kept, std::string *error)
{
    for (const char *dir : {TARN_SOURCE_DIR, TARN_BINARY_DIR}) {
        if (strncmp(dir, "/tmp/", 5) != 0)
            continue;
        int fd = open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return failed(error, std::string("open ") + dir);
        kept->push_back({dir, fd});
    }
    return true;
}

bool restore_trees(const std::vector<kept_tree> &kept, std::string *error)
{
    for (const kept_tree &k : kept) {
        for (size_t slash = k.path.find('/', 5);; slash = k.path.find('/', slash + 1)) {
            mkdir(k.path.substr(0, slash).c_str(), 0755);
            if (slash == std::string::npos)
                break;
        }
        std::string from = "/proc/self/fd/" + std::to_string(k.fd);
        if (mount(from.c_str(), k.path.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
            return failed(error, "bind " + k.path);
        close(k.fd);
    }
    return true;
}

}  // namespace

bool sandbox_enter(std::string *error)
{
    if (unshare(CLONE_NEWNS) != 0)
        return failed(error, "unshare(CLONE_NEWNS)");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failed(error, "make / private");
    std::vector<kept_tree> kept;
    if (!keep_trees(&kept, error))
        return false;
    if (mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
        return failed(error, "mount tmpfs on /tmp");
    if (!restore_trees(kept, error))
        return false;
    return fresh_dev(error);
}

std::vector<std::string> sandbox_log_lines(pid_t pid)
{
    char buf[2048];
    ssize_t n;
    while ((n = recv(log_socket, buf, sizeof(buf), 0)) > 0) {
        std::string line(buf, size_t(n));
        // "<prio>Mmm dd hh:mm:ss ident[pid]: text"
        size_t open = line.find('[');
        size_t close = line.find("]: ", open);
        if (open == std::string::npos || close == std::string::npos)
            continue;
        pid_t from = pid_t(strtol(line.c_str() + open + 1, nullptr, 10));
        log_by_pid[from].push_back(line);
    }
    return log_by_pid[pid];
}
