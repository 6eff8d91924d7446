// Runs a program with arguments, optional standard input text and extra
// environment, and collects its exit status and both output streams.
#pragma once
#include <functional>
#include <string>
#include <vector>

struct process_result {
    int status = -1; // exit status, or 128+signal
    std::string out;
    std::string err;
};

process_result run_process(const std::vector<std::string> &argv, const std::string &input = "",
                           const std::vector<std::string> &env = {}, int timeout_s = 20);

// The same with a hook the child runs right before it executes argv (for
// example to enter a namespace); a hook that returns false ends the child
// with status 126.
typedef bool (*process_hook)(const void *ctx);
process_result run_process_in(const std::vector<std::string> &argv, const std::string &input,
                              const std::vector<std::string> &env, int timeout_s, process_hook hook,
                              const void *ctx);

// Runs body in a forked child (its standard output and error collected);
// the child ends with body's result.
process_result run_forked(const std::function<int()> &body, int timeout_s = 20);

// The whole content of a file ("" when it cannot be read).
std::string read_text_file(const std::string &path);

// The built daemon.
std::string tarn_binary();
