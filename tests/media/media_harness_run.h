// Runs mediaharness with a script against a fresh mspsim and collects what
// it printed, the commands mspsim received and its channel state after.
#pragma once
#include <string>
#include <vector>

#include "json_value.h"
#include "run_process.h"

struct harness_run {
    process_result proc;
    std::vector<std::string> lines;  // the harness's standard output
    std::vector<json_value> frames;  // commands the simulator received, in order
    json_value state;                // the simulator's state afterwards
    std::string pcap_fields;         // tshark's function code and length per frame to the device

    // Names of the received commands, from the n-th on.
    std::vector<std::string> names(size_t from = 0) const;
    // Output lines that contain the text.
    int count(const std::string &text) const;
    bool has(const std::string &text) const { return count(text) > 0; }
    // The value of "RESULT <command> <call> <value>" for the k-th such line.
    std::string result(const std::string &command, int k = 0) const;
    // The first received command of that name at or after `from`.
    const json_value *frame(const std::string &name, size_t from = 0) const;
    // The output, for failure messages.
    std::string text() const;
    // The received commands' function codes and lengths in the form of
    // pcap_fields, to compare with what tshark read.
    std::string frame_fields() const;
};

// The script runs after a default preamble; `sim_args` go to mspsim. With
// with_pcap, tshark decodes the simulator's capture. The harness is expected
// to end with `status`; `env` is added to its environment.
harness_run run_harness(const std::string &script, const std::vector<std::string> &sim_args = {},
                        bool with_pcap = false, int status = 0, const std::vector<std::string> &env = {});

// A file with the text in a fresh temporary directory (removed at exit).
std::string harness_file(const std::string &name, const std::string &text);
