// Runs sim/mspsim, the simulated media processor, as a separate process in
// a private directory that holds its link socket, control socket, JSON-lines
// record and capture.
#pragma once
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "json_value.h"
#include "run_process.h"

class mspsim_runner {
public:
    explicit mspsim_runner(const std::vector<std::string> &args = {});
    // The same with its files in dir (created) and a hook the simulator's
    // process runs before it starts (to enter a namespace).
    mspsim_runner(const std::vector<std::string> &args, const std::string &dir, process_hook hook,
                  const void *ctx);
    ~mspsim_runner();
    mspsim_runner(const mspsim_runner &) = delete;
    mspsim_runner &operator=(const mspsim_runner &) = delete;

    bool ok() const { return ok_; }
    // One control request (a JSON object) and its answer.
    json_value request(const std::string &json) const;
    // Every frame of the record so far, in order.
    std::vector<json_value> frames() const;
    // The frames of one direction ("in": from the daemon, "out": to it).
    std::vector<json_value> frames(const std::string &dir) const;
    // Reads the frames of one direction until done holds of them, at most
    // ms (what is waited for must come, however loaded the machine); the
    // frames of the last read. A command is recorded before its answer, so
    // once an answer is there, a later read holds its command.
    std::vector<json_value> wait_frames(const std::string &dir,
                                        const std::function<bool(const std::vector<json_value> &)> &done,
                                        int ms = 60000) const;
    // The same until there are at least n.
    std::vector<json_value> wait_frames(const std::string &dir, size_t n, int ms = 60000) const;
    // Ends the simulator and waits for it.
    void stop();

    std::string dir;
    std::string socket;  // for TARN_MSP_SIM
    std::string control;
    std::string record;
    std::string pcap;

private:
    pid_t pid_ = -1;
    bool ok_ = false;
};

// The interpreter the tests start the simulators with.
std::string test_python();
