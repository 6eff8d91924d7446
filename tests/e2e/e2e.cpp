#include "e2e.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

extern char **environ;

namespace {

// The child of a fork runs only system calls on data built before the fork.
void child_fail(int fd, const char *what)
{
    const char *e = strerror(errno);
    if (write(fd, what, strlen(what)) < 0 || write(fd, ": ", 2) < 0 || write(fd, e, strlen(e)) < 0 ||
        write(fd, "\n", 1) < 0) {
    }
    _exit(1);
}

void mkdir_p(const char *path)
{
    char buf[4096];
    size_t n = strlen(path);
    if (n >= sizeof buf)
        return;
    memcpy(buf, path, n + 1);
    for (size_t i = 1; i <= n; i++)
        if (buf[i] == '/' || buf[i] == '\0') {
            char c = buf[i];
            buf[i] = '\0';
            mkdir(buf, 0755);
            buf[i] = c;
        }
}

bool under_tmp(const std::string &d)
{
    return d.rfind("/tmp/", 0) == 0;
}

std::string tail(const std::string &text, int lines)
{
    size_t at = text.size();
    for (int i = 0; i <= lines && at != std::string::npos && at > 0; i++)
        at = text.rfind('\n', at - 1);
    return at == std::string::npos || at == 0 ? text : text.substr(at + 1);
}

// The simulator's arguments: the processor's own address (where RTP goes)
// is the first interface pair's far end, unless the test names one.
std::vector<std::string> msp_arguments(const e2e_options &o)
{
    std::vector<std::string> args = o.msp_args;
    if (std::find(args.begin(), args.end(), "--rtp-address") != args.end())
        return args;
    for (const e2e_iface &i : o.ifaces)
        if (!i.peer_cidr.empty()) {
            args.insert(args.end(), {"--rtp-address", i.peer_cidr.substr(0, i.peer_cidr.find('/'))});
            break;
        }
    return args;
}

// Entered by a child before it runs its program.
bool enter_namespace(const void *ctx)
{
    const e2e_ns_fds *f = static_cast<const e2e_ns_fds *>(ctx);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (f->user >= 0 && setns(f->user, CLONE_NEWUSER) != 0)
        return false;
    if (setns(f->net, CLONE_NEWNET) != 0 || setns(f->mnt, CLONE_NEWNS) != 0)
        return false;
    return chdir("/") == 0;
}

} // namespace

e2e_namespace::e2e_namespace(const std::vector<e2e_iface> &ifaces, const std::vector<std::string> &carry)
{
    const bool as_root = geteuid() == 0;
    // The network, set up by a shell inside; "ready" tells the test.
    std::string script = "set -e\nip link set lo up\n"
                         // IPv4 only: no IPv6 chatter in the captures
                         "echo 1 > /proc/sys/net/ipv6/conf/default/disable_ipv6 2>/dev/null || true\n"
                         "echo 1 > /proc/sys/net/ipv6/conf/all/disable_ipv6 2>/dev/null || true\n";
    for (const e2e_iface &i : ifaces) {
        std::string peer = i.name.substr(0, 10) + "-peer";
        script += "ip link add " + i.name + " type veth peer name " + peer + "\n";
        if (!i.cidr.empty())
            script += "ip addr add " + i.cidr + " dev " + i.name + "\n";
        if (!i.peer_cidr.empty())
            script += "ip addr add " + i.peer_cidr + " dev " + peer + "\n";
        script += "ip link set " + peer + " up\nip link set " + i.name + " up\n";
    }
    script += "echo ready\nexec sleep infinity\n";

    std::vector<std::string> dirs;
    for (const std::string &d : carry)
        if (under_tmp(d))
            dirs.push_back(d);
    for (const char *d : {TARN_SOURCE_DIR, TARN_BINARY_DIR})
        if (under_tmp(d))
            dirs.push_back(d);
    std::vector<const char *> dir_c;
    for (const std::string &d : dirs)
        dir_c.push_back(d.c_str());
    std::vector<int> dir_fd(dirs.size(), -1);
    char proc_fd[64];
    const char *sh_argv[] = {"sh", "-c", script.c_str(), nullptr};
    char uid_map[64], gid_map[64];
    snprintf(uid_map, sizeof uid_map, "0 %u 1\n", (unsigned)geteuid());
    snprintf(gid_map, sizeof gid_map, "0 %u 1\n", (unsigned)getegid());

    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return;
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(1);
        dup2(out[1], 1);
        dup2(err[1], 2);
        int flags = CLONE_NEWNET | CLONE_NEWNS | (as_root ? 0 : CLONE_NEWUSER);
        if (unshare(flags) != 0)
            child_fail(2, "unshare");
        if (!as_root) {
            int fd = open("/proc/self/setgroups", O_WRONLY);
            if (fd >= 0 && (write(fd, "deny", 4) < 0 || close(fd) != 0))
                child_fail(2, "setgroups");
            fd = open("/proc/self/uid_map", O_WRONLY);
            if (fd < 0 || write(fd, uid_map, strlen(uid_map)) < 0)
                child_fail(2, "uid_map");
            close(fd);
            fd = open("/proc/self/gid_map", O_WRONLY);
            if (fd < 0 || write(fd, gid_map, strlen(gid_map)) < 0)
                child_fail(2, "gid_map");
            close(fd);
        }
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            child_fail(2, "mount --make-rprivate /");
        // A private /tmp; the directories of the test come back at their paths.
        for (size_t i = 0; i < dir_c.size(); i++)
            if ((dir_fd[i] = open(dir_c[i], O_PATH | O_DIRECTORY)) < 0)
                child_fail(2, dir_c[i]);
        if (mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
            child_fail(2, "mount tmpfs on /tmp");
        for (size_t i = 0; i < dir_c.size(); i++) {
            mkdir_p(dir_c[i]);
            snprintf(proc_fd, sizeof proc_fd, "/proc/self/fd/%d", dir_fd[i]);
            if (mount(proc_fd, dir_c[i], nullptr, MS_BIND | MS_REC, nullptr) != 0)
                child_fail(2, dir_c[i]);
            close(dir_fd[i]);
        }
        execvp("sh", const_cast<char **>(sh_argv));
        child_fail(2, "exec sh");
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        error_ = "fork failed";
        return;
    }

    std::string said, complaint;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    pollfd p[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    while (said.find("ready\n") == std::string::npos && std::chrono::steady_clock::now() < end) {
        if (poll(p, 2, 100) <= 0)
            continue;
        char buf[512];
        for (int i = 0; i < 2; i++) {
            if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP)))
                continue;
            ssize_t n = read(p[i].fd, buf, sizeof buf);
            if (n <= 0)
                p[i].fd = -1;
            else
                (i == 0 ? said : complaint).append(buf, n);
        }
        if (p[0].fd < 0 && p[1].fd < 0)
            break;
    }
    close(out[0]);
    close(err[0]);
    if (said.find("ready\n") == std::string::npos) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        error_ = "namespace set-up failed: " + complaint;
        return;
    }
    auto ns = [&](const char *kind) {
        return open(("/proc/" + std::to_string(pid) + "/ns/" + kind).c_str(), O_RDONLY | O_CLOEXEC);
    };
    fds_.user = as_root ? -1 : ns("user");
    fds_.net = ns("net");
    fds_.mnt = ns("mnt");
    holder_ = pid;
    if (fds_.net < 0 || fds_.mnt < 0 || (!as_root && fds_.user < 0)) {
        error_ = "cannot open the namespaces of the holder";
        holder_ = -1;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

e2e_namespace::~e2e_namespace()
{
    // Whatever still runs inside goes, however it got there (a daemon that
    // forked off, a peer a test left running).
    if (holder_ > 0) {
        char own[128] = "", link[128];
        std::string self = "/proc/" + std::to_string(holder_) + "/ns/net";
        ssize_t n = readlink(self.c_str(), own, sizeof own - 1);
        if (n > 0) {
            own[n] = '\0';
            std::error_code ec;
            for (auto &e : std::filesystem::directory_iterator("/proc", ec)) {
                std::string name = e.path().filename().string();
                if (name.find_first_not_of("0123456789") != std::string::npos || atoi(name.c_str()) == holder_)
                    continue;
                ssize_t m = readlink(("/proc/" + name + "/ns/net").c_str(), link, sizeof link - 1);
                if (m == n && memcmp(link, own, n) == 0)
                    kill(atoi(name.c_str()), SIGKILL);
            }
        }
    }
    for (int fd : {fds_.user, fds_.net, fds_.mnt})
        if (fd >= 0)
            close(fd);
    if (holder_ > 0) {
        kill(holder_, SIGKILL);
        waitpid(holder_, nullptr, 0);
    }
}

pid_t e2e_namespace::spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                           int in_fd, int out_fd, int err_fd) const
{
    if (!ok() || argv.empty())
        return -1;
    // Environment: the test's own, then env (later entries win).
    std::vector<std::string> envs;
    for (char **e = environ; *e; e++) {
        std::string s = *e;
        bool replaced = false;
        for (const std::string &x : env)
            replaced |= s.compare(0, s.find('=') + 1, x, 0, x.find('=') + 1) == 0;
        if (!replaced)
            envs.push_back(s);
    }
    envs.insert(envs.end(), env.begin(), env.end());
    std::vector<char *> a, e;
    for (const std::string &s : argv)
        a.push_back(const_cast<char *>(s.c_str()));
    a.push_back(nullptr);
    for (const std::string &s : envs)
        e.push_back(const_cast<char *>(s.c_str()));
    e.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDWR);
        dup2(in_fd >= 0 ? in_fd : null_fd, 0);
        dup2(out_fd >= 0 ? out_fd : null_fd, 1);
        dup2(err_fd >= 0 ? err_fd : null_fd, 2);
        if (!enter_namespace(hook_ctx()))
            child_fail(2, "setns");
        execvpe(a[0], a.data(), e.data());
        child_fail(2, a[0]);
    }
    return pid;
}

process_result e2e_namespace::run(const std::vector<std::string> &argv, const std::string &input,
                                  const std::vector<std::string> &env, int timeout_s) const
{
    if (!ok())
        return process_result();
    return run_process_in(argv, input, env, timeout_s, enter_namespace, hook_ctx());
}

e2e_namespace::net_guard::net_guard(const e2e_namespace &ns)
{
    own_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    entered_ = own_ >= 0 && ns.fds_.net >= 0 && ns.fds_.user < 0 && setns(ns.fds_.net, CLONE_NEWNET) == 0;
}

e2e_namespace::net_guard::~net_guard()
{
    if (entered_ && setns(own_, CLONE_NEWNET) != 0)
        abort(); // the test thread must not stay inside
    if (own_ >= 0)
        close(own_);
}

process_hook e2e_namespace::hook() const
{
    return enter_namespace;
}

std::string e2e_namespace::mac(const std::string &ifname) const
{
    process_result r = run({"ip", "-o", "link", "show", ifname});
    size_t at = r.out.find("link/ether ");
    return at == std::string::npos ? "" : r.out.substr(at + 11, 17);
}

// ---------------------------------------------------------------------------

e2e_world::e2e_world(const e2e_options &o)
    : opt(o), root(false), ns(o.ifaces, {root.dir})
{
    out_path_ = root.path("tarn.out");
    err_path_ = root.path("tarn.err");
    // The simulator runs inside: the daemon's end of the link has an
    // abstract socket name, and those belong to a network namespace.
    if (ns.ok() && opt.media_processor)
        root.start_msp(msp_arguments(opt), ns.hook(), ns.hook_ctx());
    if (ok() && opt.capture)
        start_capture();
}

e2e_world::~e2e_world()
{
    stop_tarn();
    stop_capture();
    if (::testing::Test::HasFailure())
        report();
    if (tarn_in_ >= 0)
        close(tarn_in_);
}

std::string e2e_world::error() const
{
    if (!ns.ok())
        return ns.error();
    return "the media processor simulator did not start";
}

bool e2e_world::wait_for(const std::function<bool()> &cond, int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    // Checked often at first, then every 100 ms: many checks start a
    // process in the namespace (ss, sipp) or read a whole log, and a fast
    // poll through a long wait took a good share of a small machine.
    int pause_ms = 10;
    for (;;) {
        if (cond())
            return true;
        auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long>(pause_ms, left)));
        pause_ms = std::min(100, pause_ms * 3 / 2);
    }
}

bool e2e_world::wait_out(const std::string &text, int timeout_ms) const
{
    return wait_for([&] { return tarn_out().find(text) != std::string::npos; }, timeout_ms);
}

bool e2e_world::wait_err(const std::string &text, int timeout_ms) const
{
    return wait_for([&] { return tarn_err().find(text) != std::string::npos; }, timeout_ms);
}

std::string e2e_world::tarn_out() const
{
    return read_text_file(out_path_);
}

std::string e2e_world::tarn_err() const
{
    return read_text_file(err_path_);
}

bool e2e_world::reap(int timeout_ms)
{
    if (tarn_pid_ <= 0)
        return true;
    int st = 0;
    bool done = wait_for([&] { return waitpid(tarn_pid_, &st, WNOHANG) == tarn_pid_; }, timeout_ms);
    if (!done)
        return false;
    tarn_status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    tarn_pid_ = -1;
    return true;
}

static bool spawn_tarn(e2e_world &w, const std::vector<std::string> &args, const std::vector<std::string> &env,
                       const std::string &out_path, const std::string &err_path, pid_t *pid, int *in)
{
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    int p[2] = {-1, -1};
    bool ok = out >= 0 && err >= 0 && pipe2(p, O_CLOEXEC) == 0;
    if (ok) {
        std::vector<std::string> argv = {tarn_binary()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> e = w.root.env();
        e.insert(e.end(), env.begin(), env.end());
        *pid = w.ns.spawn(argv, e, p[0], out, err);
        ok = *pid > 0;
    }
    for (int fd : {out, err, p[0]})
        if (fd >= 0)
            close(fd);
    *in = ok ? p[1] : -1;
    if (!ok && p[1] >= 0)
        close(p[1]);
    return ok;
}

bool e2e_world::start_tarn(const std::vector<std::string> &args, const std::vector<std::string> &env)
{
    if (!ok() || tarn_pid_ > 0)
        return false;
    if (!spawn_tarn(*this, args, env, out_path_, err_path_, &tarn_pid_, &tarn_in_))
        return false;
    // A loaded machine and the sanitizer build take their time.
    bool up = wait_for(
        [&] {
            if (tarn_out().find("Initialization finished successfully") != std::string::npos)
                return true;
            reap(0);
            return tarn_pid_ <= 0;
        },
        60000);
    return up && tarn_pid_ > 0;
}

int e2e_world::run_tarn_to_exit(const std::vector<std::string> &args, const std::vector<std::string> &env,
                                int timeout_s)
{
    if (!ok() || tarn_pid_ > 0)
        return -1;
    if (!spawn_tarn(*this, args, env, out_path_, err_path_, &tarn_pid_, &tarn_in_))
        return -1;
    return wait_tarn_exit(timeout_s);
}

int e2e_world::wait_tarn_exit(int timeout_s)
{
    return reap(timeout_s * 1000) ? tarn_status_ : -1;
}

int e2e_world::stop_tarn()
{
    if (tarn_pid_ <= 0)
        return tarn_status_;
    kill(tarn_pid_, SIGTERM);
    if (!reap(20000)) {
        kill(tarn_pid_, SIGKILL);
        reap(20000);
    }
    return tarn_status_;
}

void e2e_world::console(const std::string &line)
{
    std::string l = line + "\n";
    if (tarn_in_ >= 0 && write(tarn_in_, l.data(), l.size()) < 0) {
    }
}

void e2e_world::close_console()
{
    if (tarn_in_ >= 0)
        close(tarn_in_);
    tarn_in_ = -1;
}

void e2e_world::start_capture()
{
    if (access("/usr/bin/dumpcap", X_OK) != 0)
        return;
    capture_path_ = root.path("capture.pcap");
    int err = open(root.path("dumpcap.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<std::string> argv = {"/usr/bin/dumpcap", "-q", "-P", "-i", opt.capture_iface, "-w", capture_path_};
    if (!opt.capture_filter.empty()) {
        std::string f = opt.capture_filter;
        for (size_t at; (at = f.find("@SIP_PORT@")) != std::string::npos;)
            f.replace(at, 10, std::to_string(root.sip_port));
        argv.insert(argv.end(), {"-f", f});
    }
    capture_pid_ = ns.spawn(argv, {}, -1, -1, err);
    if (err >= 0)
        close(err);
    // The file header is written once the capture runs.
    struct stat st;
    if (capture_pid_ > 0 &&
        !wait_for([&] { return stat(capture_path_.c_str(), &st) == 0 && st.st_size > 0; }, E2E_WAIT_MS))
        stop_capture();
}

void e2e_world::stop_capture()
{
    if (capture_pid_ <= 0)
        return;
    kill(capture_pid_, SIGTERM);
    int st;
    if (!wait_for([&] { return waitpid(capture_pid_, &st, WNOHANG) == capture_pid_; }, 5000)) {
        kill(capture_pid_, SIGKILL);
        waitpid(capture_pid_, &st, 0);
    }
    capture_pid_ = -1;
}

void e2e_world::report() const
{
    std::ostringstream r;
    r << "==== whole-daemon world: tarn status " << tarn_status_ << ", TARN_ROOT " << root.dir << "\n";
    auto section = [&](const std::string &title, const std::string &text, int lines) {
        r << "---- " << title << " (last " << lines << " lines)\n" << tail(text, lines);
        if (!text.empty() && text.back() != '\n')
            r << "\n";
    };
    section("standard error", tarn_err(), 60);
    section("standard output", tarn_out(), 60);
    std::error_code ec;
    for (auto &e : std::filesystem::recursive_directory_iterator(root.path("var/log"), ec))
        if (e.is_regular_file(ec))
            section(e.path().string(), read_text_file(e.path().string()), 30);
    if (root.msp())
        section("media processor record", read_text_file(root.msp()->record), 20);
    if (!capture_path_.empty()) {
        process_result t = run_process({"tshark", "-n", "-r", capture_path_}, "", {}, 30);
        section("capture " + capture_path_, t.out, 40);
    }
    std::cerr << r.str();
    if (getenv("TARN_E2E_KEEP")) {
        std::cerr << "TARN_E2E_KEEP: the root stays in place\n";
        const_cast<conf_root &>(root).keep = true;
    }
}

e2e_child::e2e_child(const e2e_world &w, const std::string &name, const std::vector<std::string> &argv)
{
    out = w.root.path(name + ".out");
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid = w.ns.spawn(argv, {}, -1, fd, fd);
    close(fd);
}

e2e_child::~e2e_child()
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

std::string e2e_child::text() const
{
    return read_text_file(out);
}

bool e2e_child::wait(const std::string &text, int ms) const
{
    return e2e_world::wait_for([&] { return read_text_file(out).find(text) != std::string::npos; }, ms);
}

int e2e_child::wait_exit(int ms)
{
    int status = -1;
    bool ended = pid > 0 && e2e_world::wait_for(
                                [&] {
                                    int st = 0;
                                    if (waitpid(pid, &st, WNOHANG) != pid)
                                        return false;
                                    status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                                    return true;
                                },
                                ms);
    if (ended)
        pid = -1;
    return ended ? status : -1;
}

namespace {
std::vector<std::string> q931peer_argv(const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {std::string(TARN_BINARY_DIR) + "/sim/q931peer/q931peer"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}
} // namespace

e2e_q931_peer::e2e_q931_peer(const e2e_world &w, const std::vector<std::string> &args, const std::string &name)
    : e2e_child(w, name, q931peer_argv(args))
{
}

bool e2e_udp_listening(const e2e_world &w, const std::string &addr, int port, int ms)
{
    std::string local = addr + ":" + std::to_string(port) + " ";
    return e2e_world::wait_for([&] { return w.ns.run({"ss", "-lnuH"}).out.find(local) != std::string::npos; }, ms);
}

std::vector<std::string> e2e_q931_messages(const std::string &trace, const std::string &filter,
                                           const std::vector<std::string> &fields)
{
    std::vector<std::string> out;
    std::string pcap = trace + ".pcap";
    if (run_process({"text2pcap", "-q", "-D", "-t", "%H:%M:%S.%f", "-l", "203", trace, pcap}, "", {}, 60).status != 0)
        return out;
    std::vector<std::string> argv = {"tshark", "-n", "-r", pcap, "-Y", filter.empty() ? "q931" : "q931 && (" + filter + ")",
                                     "-T", "fields"};
    for (const std::string &f : fields) {
        argv.push_back("-e");
        argv.push_back(f);
    }
    process_result t = run_process(argv, "", {}, 60);
    std::istringstream lines(t.out);
    for (std::string l; std::getline(lines, l);)
        if (!l.empty())
            out.push_back(l);
    return out;
}
