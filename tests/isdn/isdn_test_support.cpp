#include "isdn_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <thread>

#include "global_lock.h"
#include "misdn_harness.h"

lib_recorder &rec = *new lib_recorder;

void lib_recorder::clear()
{
    std::lock_guard<std::mutex> g(m);
    events.clear();
    log.clear();
}

bool lib_recorder::wait(const std::function<bool(const std::vector<seen_event> &)> &pred, int timeout_ms)
{
    std::unique_lock<std::mutex> g(m);
    return cv.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return pred(events); });
}

bool lib_recorder::wait_event(event_e e, int port, int timeout_ms, seen_event *out)
{
    return wait(
        [&](const std::vector<seen_event> &v) {
            for (const auto &s : v)
                if (s.event == e && (!port || s.port == port)) {
                    if (out)
                        *out = s;
                    return true;
                }
            return false;
        },
        timeout_ms);
}

bool lib_recorder::wait_count(event_e e, int port, int n, int timeout_ms)
{
    return wait(
        [&](const std::vector<seen_event> &v) {
            int k = 0;
            for (const auto &s : v)
                k += s.event == e && (!port || s.port == port);
            return k >= n;
        },
        timeout_ms);
}

int lib_recorder::count(event_e e, int port)
{
    std::lock_guard<std::mutex> g(m);
    int n = 0;
    for (const auto &s : events)
        n += s.event == e && (!port || s.port == port);
    return n;
}

bool lib_recorder::log_has(const std::string &text) { return log_count(text) > 0; }

int lib_recorder::log_count(const std::string &text)
{
    std::lock_guard<std::mutex> g(m);
    int n = 0;
    for (const auto &l : log)
        n += l.find(text) != std::string::npos;
    return n;
}

static event_response_e on_event(event_e event, misdn_bchannel *bc, void *)
{
    event_hook hook;
    {
        std::lock_guard<std::mutex> g(rec.m);
        seen_event s{event, bc ? bc->port : 0, bc ? bc->pid : 0, bc ? bc->l3_id : 0, bc ? bc->channel : 0,
                     bc ? bc->cause : 0, bc ? bc->in_use : 0, bc};
        rec.events.push_back(s);
        hook = rec.hook;
    }
    event_response_e r = hook && bc ? hook(event, bc) : RESPONSE_OK;
    rec.cv.notify_all();
    return r;
}

static void on_log(int level, int port, int pid, const char *, int, const char *, const char *format, ...)
{
    char text[2048];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    std::string line = std::to_string(level) + "|" + std::to_string(port) + "|" + std::to_string(pid) + "|" + text;
    std::lock_guard<std::mutex> g(rec.m);
    if (rec.print)
        fprintf(stderr, "%s%s", line.c_str(), line.empty() || line.back() != '\n' ? "\n" : "");
    if (rec.log.size() > 200000)
        rec.log.erase(rec.log.begin(), rec.log.begin() + 100000);
    rec.log.push_back(line);
}

static int no_audio(misdn_bchannel *, char *, int) { return 0; }

static std::unique_ptr<tmp_dir> lib_dir;  // removed when the process ends

void start_library(const std::string &sim_text, const isdn_init_info &iii)
{
    rec.print = getenv("ISDN_TEST_VERBOSE") != nullptr;
    lib_dir = std::make_unique<tmp_dir>();
    std::string cfg = lib_dir->file("ports");
    write_file(cfg, sim_text);
    setenv("TARN_MISDN_SIM", cfg.c_str(), 1);
    static misdn_lib_iface iface{on_event, on_log, no_audio};
    isdn_init_info copy = iii;
    if (misdn_lib_init(&copy, &iface, nullptr) != 0) {
        fprintf(stderr, "misdn_lib_init failed\n");
        abort();
    }
}

isdn_init_info port_list(const std::vector<int> &ports, const std::vector<int> &ptp)
{
    isdn_init_info iii{};
    for (size_t k = 0; k < ports.size() && k < MISDN_MAX_PORTS; k++) {
        iii.ports[k] = ports[k];
        iii.ptp[k] = k < ptp.size() ? ptp[k] : 1;
        iii.crlen[k] = 1;
        iii.cidlen[k] = 1;
    }
    iii.port_count = (int)ports.size();
    return iii;
}

bool wait_until(const std::function<bool()> &cond, int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void with_global_lock(const std::function<void()> &fn)
{
    pthread_mutex_lock(g_lock_manager->global_lock);
    fn();
    pthread_mutex_unlock(g_lock_manager->global_lock);
}

static bool all_free_locked(std::string *why)
{
    for (misdn_stack *s = get_misdn_stack(); s; s = s->next) {
        for (int i = 0; i <= s->b_num && i < MISDN_SLOTS; i++)
            if (s->bc[i].in_use) {
                if (why)
                    *why = "port " + std::to_string(s->port) + " slot " + std::to_string(i) + " in use";
                return false;
            }
        if (s->holding) {
            if (why)
                *why = "port " + std::to_string(s->port) + " has held records";
            return false;
        }
        for (int c = 1; c <= 31; c++) {
            int st = channel_spender_get_state(chan_mgr, s->port, c, nullptr);
            if (st > 0) {
                if (why)
                    *why = "port " + std::to_string(s->port) + " channel " + std::to_string(c) + " is " +
                           channel_state2str(st);
                return false;
            }
        }
    }
    return true;
}

bool all_free(std::string *why)
{
    bool free = true;
    // The sender thread changes the records under global_lock.
    with_global_lock([&] { free = all_free_locked(why); });
    return free;
}

extern char **environ;

std::string harness_path() { return std::string(TARN_BINARY_DIR) + "/tests/isdn/isdnharness"; }

bool harness_proc::start(const std::vector<std::string> &args, const std::vector<std::string> &env,
                         const std::string &outfile)
{
    out = outfile;
    err = outfile + ".err";
    int fds[2];
    if (pipe(fds) < 0)
        return false;
    std::string prog = harness_path();
    std::vector<char *> argv{const_cast<char *>(prog.c_str())};
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envs;
    for (char **e = environ; *e; e++)
        envs.push_back(*e);
    for (const auto &e : env)
        envs.push_back(e);
    std::vector<char *> envp;
    for (auto &e : envs)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[0], 0);
    posix_spawn_file_actions_addclose(&fa, fds[1]);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int r = posix_spawn(&pid, prog.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    close(fds[0]);
    in = fds[1];
    if (r != 0) {
        pid = -1;
        close(in);
        in = -1;
    }
    return r == 0;
}

void harness_proc::send(const std::string &line)
{
    std::string l = line + "\n";
    if (in >= 0) {
        ssize_t n = write(in, l.data(), l.size());
        (void)n;
    }
}

std::vector<std::string> harness_proc::lines() const
{
    std::vector<std::string> v;
    std::istringstream s(read_file(out));
    for (std::string l; std::getline(s, l);)
        v.push_back(l);
    return v;
}

int harness_proc::find(const std::string &text, int from) const
{
    auto v = lines();
    for (int i = from < 0 ? 0 : from; i < (int)v.size(); i++)
        if (v[(size_t)i].find(text) != std::string::npos)
            return i;
    return -1;
}

int harness_proc::wait_line(const std::string &text, int timeout_ms, int from) const
{
    int at = -1;
    wait_until([&] { return (at = find(text, from)) >= 0; }, timeout_ms);
    return at;
}

int harness_proc::count(const std::string &text) const
{
    int n = 0;
    for (const auto &l : lines())
        n += l.find(text) != std::string::npos;
    return n;
}

int harness_proc::wait_exit(int timeout_ms)
{
    int st = 0;
    bool done = wait_until([&] { return pid > 0 && waitpid(pid, &st, WNOHANG) == pid; }, timeout_ms);
    if (!done)
        return -1;
    pid = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

void harness_proc::stop()
{
    if (in >= 0) {
        close(in);
        in = -1;
    }
    if (pid > 0) {
        kill(pid, SIGTERM);
        int st;
        waitpid(pid, &st, 0);
        pid = -1;
    }
}
