// Shared set-up of the modem library tests: a private path root, the
// library clock, a recording event callback and port configurations.
#pragma once
#include "gsm_lib.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

struct gsm_event_record {
    int event_type;
    int port;
    std::string response;
    std::string send_cmd;
    void *context;
};

// Events the callback saw, in order.
class gsm_events {
public:
    void add(const gsm_command *cmd);
    std::vector<gsm_event_record> all();
    // Waits until an event with the type (0 = unsolicited) whose response
    // contains text has arrived; returns it or an event_type -1 record.
    gsm_event_record wait_for(int type, const std::string &text, int ms = 20000);
    void clear();

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<gsm_event_record> v_;
};

extern gsm_events g_events;
void gsm_test_callback(gsm_command *cmd);

// A fresh temporary root (TARN_ROOT set to it) with /tmp/sms and /tmp/cbm.
std::string gsm_test_root();
void remove_tree(const std::string &path);
// Starts the library clock once per process and shortens its pauses.
void gsm_test_clock(int scale_percent = 5);
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);
