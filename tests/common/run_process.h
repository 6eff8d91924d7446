// Runs a program with arguments, optional standard input text and extra
// environment, and collects its exit status and both output streams.
#pragma once
#include <string>
#include <vector>

struct process_result {
    int status = -1; // exit status, or 128+signal
    std::string out;
    std::string err;
};

process_result run_process(const std::vector<std::string> &argv, const std::string &input = "",
                           const std::vector<std::string> &env = {}, int timeout_s = 20);

// The built daemon.
std::string tarn_binary();
