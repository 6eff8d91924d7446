#include "cas_live.h"

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
double sim_epoch = 0;
std::map<int, std::string> channels;

std::vector<double> passes(6000);
std::atomic<size_t> pass_count{0};

int32_t on_pass(int32_t, kv_timer *)
{
    size_t i = pass_count.load();
    if (i < passes.size()) {
        passes[i] = monotonic_seconds();
        pass_count = i + 1;
    }
    return 1;
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
    std::string epoch;
    if (!sim->running() || !sim->request({"epoch"}, &epoch))
        return false;
    sim_epoch = atof(epoch.c_str());
    if (timer_new() < 0)
        return false;
    kv_timer *ref = static_cast<kv_timer *>(calloc(1, sizeof(kv_timer)));
    ref->tv.tv_usec = TIMER_TICK_MS * 1000;
    if (timer_add(on_pass, 1, ref) < 0)
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
    // The library's threads and every timer (the pass recorder's included)
    // end before the records they write are freed.
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

double cas_sim_time(double t)
{
    return sim_epoch + t;
}

std::vector<std::string> cas_patterns(int port)
{
    std::vector<std::string> v;
    for (const auto &r : sim->records(cas_channel(port)))
        v.push_back(r.text);
    return v;
}

double cas_pass_after(double t, size_t n)
{
    size_t count = pass_count.load();
    for (size_t i = 0; i < count; i++)
        if (passes[i] > t)
            return i + n - 1 < count ? passes[i + n - 1] : -1;
    return -1;
}

bool cas_wait_in_use(int port, int want, int ms)
{
    for (int waited = 0;; waited += 5) {
        if (cas_get_port_in_use(port) == want)
            return true;
        if (waited >= ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool cas_wait_state(int port, const char *state, int ms)
{
    for (int waited = 0;; waited += 5) {
        if (strcmp(cas_print_port_state_of_port(port), state) == 0)
            return true;
        if (waited >= ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
