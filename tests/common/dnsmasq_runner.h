// Runs dnsmasq as a private name server on 127.0.0.1 at a free port, with
// the records a test gives (dnsmasq options such as "--host-record=a.test,
// 10.1.1.1"). Every query it receives is written to its log. The tests point
// the resolver at it with NSCACHEIP and RES_OPTIONS; nothing reaches the
// machine's own resolver.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

#include "free_port.h"
#include "run_process.h"

class dnsmasq_runner {
public:
    explicit dnsmasq_runner(const std::vector<std::string> &records);
    // The same inside another network namespace: hook (with ctx) enters it
    // in the child before dnsmasq starts and in the probe that waits for it;
    // dir is an existing directory both sides see for the query log (kept).
    dnsmasq_runner(const std::vector<std::string> &records, process_hook hook, const void *ctx,
                   const std::string &dir);
    ~dnsmasq_runner();
    dnsmasq_runner(const dnsmasq_runner &) = delete;
    dnsmasq_runner &operator=(const dnsmasq_runner &) = delete;

    bool ok() const { return ok_; }
    int port() const { return port_; }
    // "NSCACHEIP=127.0.0.1", "RES_OPTIONS=port:N" for a child process.
    std::vector<std::string> env() const;
    // Puts the same two variables into this process's environment.
    void export_env() const;
    // Queries received so far, as dnsmasq logs them: "query[A] peer.test".
    std::vector<std::string> queries() const;
    void stop();
    // Asks dnsmasq to read its hosts files (--addn-hosts) again (SIGHUP;
    // it happens shortly after).
    void reload() const;

private:
    void start(const std::vector<std::string> &records);
    process_hook hook_ = nullptr;
    const void *hook_ctx_ = nullptr;
    bool own_dir_ = true;
    std::string dir_;
    std::string log_;
    pid_t pid_ = -1;
    int port_ = 0;
    bool ok_ = false;
};

// Sends an A query for name to 127.0.0.1:port and waits up to timeout_ms for
// any answer; true when one came.
bool dns_server_answers(int port, const char *name, int timeout_ms);
