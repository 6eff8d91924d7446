// Starts sim/modemsim for a test and talks to its control socket.
#pragma once
#include <string>
#include <vector>

#include "sim_control.h"

class modemsim {
public:
    // root: the test's path root; args: extra command-line words
    // ("--lif", "0:DV2GSM", "--port", "1:model=GE865,pin=1234", ...).
    modemsim(const std::string &root, const std::vector<std::string> &args);
    ~modemsim();
    bool running() const { return ok_; }

    // One request; returns true for "ok" and puts the payload in *out.
    bool request(const std::vector<std::string> &words, std::string *out = nullptr);

    bool inject(int port, const std::string &text);
    // Waits for a command line matching regex; the line, or "" on time-out.
    std::string expect(int port, const std::string &regex, int ms = 20000);
    std::vector<std::string> commands(int port);
    bool set(int port, const std::string &key, const std::string &value);
    bool fault(int port, const std::string &name, const std::string &arg = "", int count = 1,
               const std::string &extra = "");
    bool close_port(int port);
    std::vector<std::string> sms(int port);
    bool store(int port, int index, const std::string &body);
    std::string transcript_path() const { return transcript_; }

private:
    sim_control sim_;
    bool ok_ = false;
    std::string control_;
    std::string transcript_;
};

// The Python interpreter that has the Debian modules (python3-gammu).
std::string system_python();
