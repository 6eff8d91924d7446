#include "sim_control.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

std::string sim_encode_word(const std::string &w)
{
    std::string o;
    char hex[4];
    for (unsigned char c : w) {
        if (c > ' ' && c < 0x7F && c != '%') {
            o.push_back((char)c);
        } else {
            snprintf(hex, sizeof hex, "%%%02X", c);
            o += hex;
        }
    }
    return o;
}

static int hexval(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = (char)(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string sim_decode_word(const std::string &w)
{
    std::string o;
    for (size_t i = 0; i < w.size(); i++) {
        int hi, lo;
        if (w[i] == '%' && i + 2 < w.size() && (hi = hexval(w[i + 1])) >= 0 && (lo = hexval(w[i + 2])) >= 0) {
            o.push_back((char)(hi * 16 + lo));
            i += 2;
        } else {
            o.push_back(w[i]);
        }
    }
    return o;
}

static int connect_unix(const std::string &path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
    if (fd >= 0 && connect(fd, (sockaddr *)&sa, sizeof sa) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

bool sim_control::start(const std::vector<std::string> &argv, const std::string &control, bool quiet, int wait_ms)
{
    pid = fork();
    if (pid == 0) {
        // The simulator goes with the test, however the test ends (a test
        // killed at its time limit left it running).
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (quiet) {
            int devnull = open("/dev/null", O_WRONLY);
            if (devnull >= 0)
                dup2(devnull, 1);
        }
        std::vector<char *> av;
        for (auto &a : argv)
            av.push_back(const_cast<char *>(a.c_str()));
        av.push_back(nullptr);
        execvp(av[0], av.data());
        _exit(127);
    }
    for (int waited = 0; waited < wait_ms && fd < 0; waited += 25) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        fd = connect_unix(control);
        int status;
        if (fd < 0 && waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            break;
        }
    }
    if (fd >= 0 && !request({"ping"}, nullptr, 30)) {
        close(fd);
        fd = -1;
    }
    return fd >= 0;
}

bool sim_control::request(const std::vector<std::string> &words, std::string *payload, int timeout_s)
{
    if (fd < 0)
        return false;
    std::string line;
    for (const auto &w : words)
        line += (line.empty() ? "" : " ") + sim_encode_word(w);
    line += '\n';
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != (ssize_t)line.size())
        return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    size_t nl;
    while ((nl = inbuf.find('\n')) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, (int)left.count()) <= 0)
            return false;
        char buf[65536];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        inbuf.append(buf, (size_t)n);
    }
    std::string reply = inbuf.substr(0, nl);
    inbuf.erase(0, nl + 1);
    size_t sp = reply.find(' ');
    if (payload)
        *payload = sp == std::string::npos ? "" : sim_decode_word(reply.substr(sp + 1));
    return reply.compare(0, 2, "ok") == 0;
}

void sim_control::stop(int wait_ms)
{
    if (fd >= 0) {
        request({"quit"}, nullptr, 5);
        close(fd);
        fd = -1;
    }
    if (pid <= 0)
        return;
    for (int waited = 0; waited < wait_ms; waited += 25) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}
