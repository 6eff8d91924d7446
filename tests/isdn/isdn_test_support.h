// Test support for the ISDN library in the test process: the library is
// started once per test binary on the ports a test describes, its events
// and log lines are recorded, and tests wait for them with a bound.
#pragma once
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "isdn_lib.h"
#include <sys/types.h>

struct seen_event {
    event_e event;
    int port, pid, l3id, channel, cause, in_use;
    misdn_bchannel *bc;
};

// What a test's stand-in for call control does with an event (runs on the
// library thread that reports it); its answer goes back to the library.
using event_hook = std::function<event_response_e(event_e, misdn_bchannel *)>;

struct lib_recorder {
    std::mutex m;
    std::condition_variable cv;
    std::vector<seen_event> events;
    std::vector<std::string> log;  // "level|port|pid|text"
    event_hook hook;
    bool print = false;  // ISDN_TEST_VERBOSE: log lines to stderr

    void clear();
    // Waits until pred holds for the recorded events (checked under the lock).
    bool wait(const std::function<bool(const std::vector<seen_event> &)> &pred, int timeout_ms);
    bool wait_event(event_e e, int port, int timeout_ms, seen_event *out = nullptr);
    // Waits until n events e of the port were seen.
    bool wait_count(event_e e, int port, int n, int timeout_ms);
    int count(event_e e, int port = 0);
    bool log_has(const std::string &text);
    int log_count(const std::string &text);
};

// Never destroyed: the library's threads report into it until the process ends.
extern lib_recorder &rec;

// Starts the library once on these ports (the text of the port description
// for TARN_MISDN_SIM and the port list of misdn_lib_init); aborts the test
// binary when that fails.
void start_library(const std::string &sim_text, const isdn_init_info &iii);
isdn_init_info port_list(const std::vector<int> &ports, const std::vector<int> &ptp);

// Polls cond every 5 ms for up to timeout_ms.
bool wait_until(const std::function<bool()> &cond, int timeout_ms);
// Runs fn with global_lock held, as call control does.
void with_global_lock(const std::function<void()> &fn);

// Every slot of every port free and every channel of the book free.
bool all_free(std::string *why = nullptr);

// The harness program as a child process: commands go to its standard
// input, its output lines to a file.
struct harness_proc {
    pid_t pid = -1;
    int in = -1;  // its standard input
    std::string out, err;
    // env: "NAME=value" entries added to the environment.
    bool start(const std::vector<std::string> &args, const std::vector<std::string> &env, const std::string &outfile);
    void send(const std::string &line);
    std::vector<std::string> lines() const;
    // The first line (from line number `from` on) that contains text; its index, or -1.
    int find(const std::string &text, int from = 0) const;
    // Waits until a line from `from` on contains text; its index or -1.
    int wait_line(const std::string &text, int timeout_ms, int from = 0) const;
    int count(const std::string &text) const;
    // Waits for the process to end; its exit status, -1 when it did not end in time.
    int wait_exit(int timeout_ms);
    void stop();
    ~harness_proc() { stop(); }
};
std::string harness_path();
