// Starts analogsim or cassim for a test and talks to its control socket.
#pragma once
#include <string>
#include <vector>

#include "sim_control.h"

// One unit the simulator received from the gateway: seconds since the
// simulator started, and the command word or ABCD line.
struct sim_record {
    double t = -1;
    std::string text;
};

class linesim {
public:
    // script: path below the source tree ("sim/analogsim/analogsim.py");
    // root: the test's path root; args: the simulator's line options; name:
    // of its control socket and transcript in the root (two simulators
    // sharing a root need two names).
    linesim(const std::string &script, const std::string &root, const std::vector<std::string> &args,
            const std::string &name = "sim");
    ~linesim();
    linesim(const linesim &) = delete;
    linesim &operator=(const linesim &) = delete;

    bool running() const { return sim_.fd >= 0; }

    // One request; true for "ok", the decoded payload in *payload.
    bool request(const std::vector<std::string> &words, std::string *payload = nullptr);

    bool inject(const std::string &line, const std::string &text);
    std::vector<sim_record> records(const std::string &line);
    // The next received unit matching regex (t = -1 on time-out).
    sim_record expect(const std::string &line, const std::string &regex, int ms = 3000);
    bool forget(const std::string &line);
    bool set(const std::string &line, const std::string &key, const std::string &value);
    bool close_line(const std::string &line);
    std::string transcript();

private:
    sim_control sim_;
};

// A fresh temporary directory made the path root (TARN_ROOT); removed by
// remove_tree.
std::string make_test_root(const char *prefix);
void remove_tree(const std::string &path);
void write_text_file(const std::string &path, const std::string &text);
