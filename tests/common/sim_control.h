// A Python simulator started by a test and its control socket: one request
// line of percent-encoded words, one reply line "ok|err [payload]".
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

std::string sim_encode_word(const std::string &w);
std::string sim_decode_word(const std::string &w);

struct sim_control {
    pid_t pid = -1;
    int fd = -1;
    std::string inbuf;

    // Starts argv (standard output to /dev/null when quiet) and connects to
    // the control socket within wait_ms; true once it answers "ping".
    bool start(const std::vector<std::string> &argv, const std::string &control, bool quiet, int wait_ms);
    bool request(const std::vector<std::string> &words, std::string *payload, int timeout_s);
    // Asks the simulator to quit, waits up to wait_ms, then kills it.
    void stop(int wait_ms);
    ~sim_control() { stop(2000); }
};
