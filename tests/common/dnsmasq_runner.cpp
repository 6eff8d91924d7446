#include "dnsmasq_runner.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

bool dns_server_answers(int port, const char *name, int timeout_ms)
{
    unsigned char q[300] = {0x12, 0x34, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
    size_t n = 12;
    for (const char *p = name; *p;) {
        size_t len = strcspn(p, ".");
        q[n++] = (unsigned char)len;
        memcpy(q + n, p, len);
        n += len;
        p += len;
        if (*p == '.')
            p++;
    }
    q[n++] = 0;
    q[n++] = 0, q[n++] = 1, q[n++] = 0, q[n++] = 1;
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool answered = false;
    if (s >= 0 && sendto(s, q, n, 0, (sockaddr *)&a, sizeof a) == (ssize_t)n) {
        pollfd p = {s, POLLIN, 0};
        answered = poll(&p, 1, timeout_ms) == 1;
    }
    if (s >= 0)
        close(s);
    return answered;
}

dnsmasq_runner::dnsmasq_runner(const std::vector<std::string> &records)
{
    char tmpl[] = "/tmp/tarn-dnsmasq-XXXXXX";
    if (!mkdtemp(tmpl))
        return;
    dir_ = tmpl;
    start(records);
}

dnsmasq_runner::dnsmasq_runner(const std::vector<std::string> &records, process_hook hook, const void *ctx,
                               const std::string &dir)
    : hook_(hook), hook_ctx_(ctx), own_dir_(false), dir_(dir)
{
    start(records);
}

void dnsmasq_runner::start(const std::vector<std::string> &records)
{
    log_ = dir_ + "/queries.log";
    for (int attempt = 0; attempt < 5 && !ok_; attempt++) {
        port_ = free_local_port();
        std::vector<std::string> args = {"dnsmasq", "--keep-in-foreground", "--port=" + std::to_string(port_),
                                         "--listen-address=127.0.0.1", "--bind-interfaces", "--no-resolv",
                                         "--no-hosts", "--local=/test/", "--log-queries",
                                         "--log-facility=" + log_, "--pid-file=" + dir_ + "/pid",
                                         "--user=root", "--cache-size=0"};
        args.insert(args.end(), records.begin(), records.end());
        pid_ = fork();
        if (pid_ == 0) {
            if (hook_ && !hook_(hook_ctx_))
                _exit(126);
            std::vector<char *> a;
            for (std::string &s : args)
                a.push_back(s.data());
            a.push_back(nullptr);
            execvp("dnsmasq", a.data());
            _exit(127);
        }
        // Bounded wait until it answers (or has ended).
        for (int i = 0; i < 100 && !ok_; i++) {
            int st;
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            if (!hook_)
                ok_ = dns_server_answers(port_, "ready.probe.test", 50);
            else
                ok_ = run_forked([&] {
                          if (!hook_(hook_ctx_))
                              return 2;
                          return dns_server_answers(port_, "ready.probe.test", 50) ? 0 : 1;
                      }).status == 0;
        }
        if (!ok_)
            stop();
    }
}

dnsmasq_runner::~dnsmasq_runner()
{
    stop();
    if (own_dir_ && !dir_.empty()) {
        std::string cmd = "rm -rf '" + dir_ + "'";
        if (system(cmd.c_str())) {
        }
    }
}

void dnsmasq_runner::reload() const
{
    if (pid_ > 0)
        kill(pid_, SIGHUP);
}

void dnsmasq_runner::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int st;
        waitpid(pid_, &st, 0);
        pid_ = -1;
    }
}

std::vector<std::string> dnsmasq_runner::env() const
{
    return {"NSCACHEIP=127.0.0.1", "RES_OPTIONS=port:" + std::to_string(port_)};
}

void dnsmasq_runner::export_env() const
{
    setenv("NSCACHEIP", "127.0.0.1", 1);
    setenv("RES_OPTIONS", ("port:" + std::to_string(port_)).c_str(), 1);
}

std::vector<std::string> dnsmasq_runner::queries() const
{
    std::vector<std::string> out;
    std::ifstream f(log_);
    std::string line;
    while (std::getline(f, line)) {
        size_t q = line.find("query[");
        if (q == std::string::npos || line.find("ready.probe.test") != std::string::npos)
            continue;
        size_t from = line.find(" from ", q);
        out.push_back(line.substr(q, from == std::string::npos ? std::string::npos : from - q));
    }
    return out;
}
