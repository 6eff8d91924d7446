#include "cas_live.h"

#include "cas_internal.h"
#include "timer.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

namespace {

std::string root;
linesim *sim = nullptr;
std::map<int, std::string> channels;

template <typename F> bool poll_until(F done, int ms)
{
    for (int waited = 0;; waited += 5) {
        if (done())
            return true;
        if (waited >= ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int on_event(int port, unsigned event)
{
    cas_seen.add(port, event);
    return 0;
}

} // namespace

line_events cas_seen;

bool cas_live_start(const std::vector<cas_live_port> &ports)
{
    root = make_test_root("castest");
    if (root.empty())
        return false;
    std::vector<std::string> args;
    for (const auto &p : ports) {
        std::string ch = std::to_string(p.dev) + "/" + std::to_string(p.chan);
        channels[p.port] = ch;
        args.push_back("--channel");
        args.push_back(ch + ":" + p.role);
    }
    sim = new linesim("sim/cassim/cassim.py", root, args);
    if (!sim->running())
        return false;
    if (timer_list_new() < 0)
        return false;
    cas_port_configuration cfg[CAS_PORT_TABLE] = {};
    for (const auto &p : ports) {
        cas_port_mappings[p.port] = {p.dev + 1, p.dev, p.chan, 1, 1};
        cas_set_protocol(p.port, p.protocol);
        cfg[p.port] = {1, p.signalling, p.signalling};
    }
    return cas_init(on_event, cfg, 0) == 0;
}

void cas_live_stop()
{
    // The library's threads and timers end before the records they use are
    // freed.
    cas_shutdown();
    timer_exit();
    delete sim;
    sim = nullptr;
    remove_tree(root);
}

linesim &cas_sim()
{
    return *sim;
}

std::string cas_channel(int port)
{
    return channels[port];
}

std::vector<std::string> cas_patterns(int port)
{
    std::vector<std::string> v;
    for (const auto &r : sim->records(cas_channel(port)))
        v.push_back(r.text);
    return v;
}

// The library arms and stops a port's timer only under its lock; passes run
// on this thread. So under the lock the timer's count holds still.
int cas_timer_ticks(int port)
{
    cas_guard lk(cas_lock);
    kv_timer *t = cas_onhook_timers[port].load();
    return t ? t->interval : -1;
}

int cas_wait_armed(int port, int ms)
{
    int ticks = -1;
    if (!poll_until([&] { return (ticks = cas_timer_ticks(port)) > 0; }, ms))
        return -1;
    return ticks;
}

int cas_passes_until_expiry(int port, int max)
{
    for (int n = 1; n <= max; n++) {
        // Held across the pass: the dispatcher cannot re-arm the timer before
        // its expiry has been seen.
        cas_guard lk(cas_lock);
        kv_timer *t = cas_onhook_timers[port].load();
        if (!t)
            return -1;
        timer_pass(); // the port's timer callback runs here, on this thread
        if (t->interval == 0)
            return n;
    }
    return -1;
}

int cas_lines_read(int port)
{
    cas_guard lk(cas_lock);
    return cas_ctl.read_history.counter[port];
}

bool cas_wait_lines_read(int port, int count, int ms)
{
    return poll_until([&] { return cas_lines_read(port) >= count; }, ms);
}

bool cas_wait_in_use(int port, int want, int ms)
{
    return poll_until([&] { return cas_get_port_in_use(port) == want; }, ms);
}

bool cas_wait_state(int port, const char *state, int ms)
{
    return poll_until([&] { return strcmp(cas_print_port_state_of_port(port), state) == 0; }, ms);
}
