#include "run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

std::string tarn_binary()
{
    return std::string(TARN_BINARY_DIR) + "/src/tarn/tarn";
}

namespace {

// Reads both output streams of a child until they close or the time is up,
// then reaps it (killing it when late).
process_result collect(pid_t pid, int out_fd, int err_fd, int timeout_s)
{
    process_result r;
    time_t end = time(nullptr) + timeout_s;
    struct pollfd p[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    int open_fds = 2;
    while (open_fds > 0 && time(nullptr) < end) {
        if (poll(p, 2, 200) <= 0)
            continue;
        for (int i = 0; i < 2; i++) {
            if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            ssize_t n = read(p[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(p[i].fd);
                p[i].fd = -1;
                open_fds--;
            } else {
                (i == 0 ? r.out : r.err).append(buf, n);
            }
        }
    }
    for (auto &x : p)
        if (x.fd >= 0)
            close(x.fd);
    int st = 0;
    for (;;) {
        pid_t w = waitpid(pid, &st, WNOHANG);
        if (w == pid)
            break;
        if (time(nullptr) >= end) {
            kill(pid, SIGKILL);
            waitpid(pid, &st, 0);
            break;
        }
        usleep(10000);
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

} // namespace

process_result run_process(const std::vector<std::string> &argv, const std::string &input,
                           const std::vector<std::string> &env, int timeout_s)
{
    return run_process_in(argv, input, env, timeout_s, nullptr, nullptr);
}

process_result run_process_in(const std::vector<std::string> &argv, const std::string &input,
                              const std::vector<std::string> &env, int timeout_s, process_hook hook,
                              const void *ctx)
{
    process_result r;
    int in[2], out[2], err[2];
    // Close-on-exec: another thread may fork a long-lived child (a far end
    // sipp) between these pipes and the close of their write ends below; a
    // copy inherited by that child would keep this run's output open, and
    // collect() would wait for the other child's end instead of this one's.
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        return r;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        for (const std::string &e : env)
            putenv(strdup(e.c_str()));
        std::vector<char *> a;
        for (const std::string &s : argv)
            a.push_back(const_cast<char *>(s.c_str()));
        a.push_back(nullptr);
        if (hook && !hook(ctx))
            _exit(126);
        execvp(a[0], a.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
    }
    close(in[1]);
    return collect(pid, out[0], err[0], timeout_s);
}

process_result run_forked(const std::function<int()> &body, int timeout_s)
{
    process_result r;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        return r;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {out[0], out[1], err[0], err[1]})
            close(fd);
        int rc = body();
        fflush(nullptr);
        _exit(rc);
    }
    close(out[1]);
    close(err[1]);
    return collect(pid, out[0], err[0], timeout_s);
}

std::string read_text_file(const std::string &path)
{
    std::string text;
    if (FILE *f = fopen(path.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        fclose(f);
    }
    return text;
}
