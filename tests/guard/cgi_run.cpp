#include "cgi_run.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::vector<char *> c_strings(std::vector<std::string> &v)
{
    std::vector<char *> p;
    for (auto &s : v)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

void write_all(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

// Reads standard output and error until both end or the deadline passes.
bool collect(int out_fd, int err_fd, cgi_result &r, std::chrono::steady_clock::time_point deadline)
{
    pollfd p[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string *dst[2] = {&r.out, &r.err};
    int open_count = 2;
    char buf[65536];
    while (open_count > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        if (poll(p, 2, int(left.count())) < 0 && errno != EINTR)
            return false;
        for (int i = 0; i < 2; i++) {
            if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(p[i].fd, buf, sizeof(buf));
            if (n > 0) {
                dst[i]->append(buf, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                p[i].fd = -1;
                open_count--;
            }
        }
    }
    return true;
}

}  // namespace

cgi_result run_cgi(const std::string &program, const cgi_request &rq)
{
    cgi_result r;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return r;
    std::vector<std::string> argv_s{rq.argv0.empty() ? program : rq.argv0};
    argv_s.insert(argv_s.end(), rq.args.begin(), rq.args.end());
    std::vector<std::string> env_s = rq.env;
    std::vector<char *> argv = c_strings(argv_s);
    std::vector<char *> envp = c_strings(env_s);

    signal(SIGPIPE, SIG_IGN);
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    r.pid = pid;
    close(out[1]);
    close(err[1]);

    // The body goes in from a thread of its own, as a client sends it; the
    // read end stays open here too, so whatever nobody read can be counted.
    std::atomic<bool> finished{false};
    std::thread writer([&] {
        write_all(in[1], rq.body);
        while (rq.stall && !finished)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        close(in[1]);
    });
    if (rq.started)
        rq.started(pid);

    bool in_time = collect(out[0], err[0], r, t0 + std::chrono::seconds(60));
    if (!in_time)
        kill(pid, SIGKILL);
    int st = 0;
    waitpid(pid, &st, 0);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.status = in_time && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    finished = true;

    char buf[65536];
    ssize_t n;
    while ((n = read(in[0], buf, sizeof(buf))) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        r.unread += size_t(n);
    }
    writer.join();
    close(in[0]);
    close(out[0]);
    close(err[0]);
    return r;
}

std::string crc32_hex(const std::string &data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; k++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    char hex[9];
    snprintf(hex, sizeof(hex), "%08x", crc ^ 0xFFFFFFFFu);
    return hex;
}
