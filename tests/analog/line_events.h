// A recorder of the events a line library hands to its callback, with
// their times on the monotonic clock, for tests that wait for them.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

struct line_event {
    int port;
    unsigned event;
    double t; // monotonic seconds
};

class line_events {
public:
    void add(int port, unsigned event);
    void clear();
    std::vector<line_event> of_port(int port);
    // The port's events once done(events) holds, or after ms.
    std::vector<line_event> wait(int port, const std::function<bool(const std::vector<line_event> &)> &done,
                                 int ms);
    std::vector<line_event> wait_count(int port, size_t count, int ms = 3000);
    // ... once the last one is `last`.
    std::vector<line_event> wait_last(int port, unsigned last, int ms = 3000);

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<line_event> v_;
    std::vector<line_event> port_events(int port);
};

std::vector<unsigned> event_codes(const std::vector<line_event> &v);
double monotonic_seconds();
// CPU time this process has used, in milliseconds.
double process_cpu_ms();
