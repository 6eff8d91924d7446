#include "line_events.h"

#include <chrono>
#include <ctime>
#include <sys/resource.h>

double monotonic_seconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

double process_cpu_ms()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

void line_events::add(int port, unsigned event)
{
    double t = monotonic_seconds();
    {
        std::lock_guard<std::mutex> g(m_);
        v_.push_back({port, event, t});
    }
    cv_.notify_all();
}

void line_events::clear()
{
    std::lock_guard<std::mutex> g(m_);
    v_.clear();
}

std::vector<line_event> line_events::port_events(int port)
{
    std::vector<line_event> r;
    for (const auto &e : v_)
        if (e.port == port)
            r.push_back(e);
    return r;
}

std::vector<line_event> line_events::of_port(int port)
{
    std::lock_guard<std::mutex> g(m_);
    return port_events(port);
}

std::vector<line_event> line_events::wait(int port,
                                          const std::function<bool(const std::vector<line_event> &)> &done,
                                          int ms)
{
    std::vector<line_event> r;
    std::unique_lock<std::mutex> g(m_);
    cv_.wait_for(g, std::chrono::milliseconds(ms), [&] {
        r = port_events(port);
        return done(r);
    });
    return r;
}

std::vector<line_event> line_events::wait_count(int port, size_t count, int ms)
{
    return wait(port, [count](const std::vector<line_event> &v) { return v.size() >= count; }, ms);
}

std::vector<line_event> line_events::wait_last(int port, unsigned last, int ms)
{
    return wait(port, [last](const std::vector<line_event> &v) { return !v.empty() && v.back().event == last; },
                ms);
}

std::vector<unsigned> event_codes(const std::vector<line_event> &v)
{
    std::vector<unsigned> codes;
    for (const auto &e : v)
        codes.push_back(e.event);
    return codes;
}
