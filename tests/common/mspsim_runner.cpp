#include "mspsim_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

std::string test_python()
{
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

mspsim_runner::mspsim_runner(const std::vector<std::string> &args) : mspsim_runner(args, "", nullptr, nullptr)
{
}

mspsim_runner::mspsim_runner(const std::vector<std::string> &args, const std::string &in_dir,
                             process_hook hook, const void *ctx)
{
    char tmpl[] = "/tmp/mspsim.XXXXXX";
    if (in_dir.empty() ? !mkdtemp(tmpl) : mkdir(in_dir.c_str(), 0755) != 0)
        return;
    dir = in_dir.empty() ? std::string(tmpl) : in_dir;
    socket = dir + "/msp.sock";
    control = dir + "/ctl.sock";
    record = dir + "/record.jsonl";
    pcap = dir + "/frames.pcap";
    std::string ready = dir + "/ready";
    std::vector<std::string> argv = {test_python(),
                                     std::string(TARN_SOURCE_DIR) + "/sim/mspsim/mspsim.py",
                                     "--socket", socket, "--control", control, "--record", record,
                                     "--pcap", pcap, "--ready-file", ready};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ == 0) {
        // The simulator goes with the test, however the test ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0)
            dup2(devnull, 1);
        std::vector<char *> av;
        for (auto &a : argv)
            av.push_back(const_cast<char *>(a.c_str()));
        av.push_back(nullptr);
        if (hook && !hook(ctx))
            _exit(126);
        execvp(av[0], av.data());
        _exit(127);
    }
    // Python takes seconds to start on a loaded machine; a simulator that
    // dies is seen at once, so the wait for a live one can be long.
    for (int i = 0; i < 2400 && !ok_; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        ok_ = access(ready.c_str(), F_OK) == 0;
        int status;
        if (!ok_ && waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
    }
}

mspsim_runner::~mspsim_runner()
{
    stop();
    std::error_code ec;
    if (!dir.empty())
        std::filesystem::remove_all(dir, ec);
}

void mspsim_runner::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    int status;
    for (int i = 0; i < 200; i++) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

json_value mspsim_runner::request(const std::string &json) const
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    snprintf(sa.sun_path, sizeof sa.sun_path, "%s", control.c_str());
    if (fd < 0 || connect(fd, (sockaddr *)&sa, sizeof sa) != 0) {
        if (fd >= 0)
            close(fd);
        return json_value();
    }
    timeval tv = {5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string line = json;
    for (char &c : line)
        if (c == '\n')
            c = ' ';
    line += "\n";
    if (write(fd, line.data(), line.size()) != (ssize_t)line.size()) {
        close(fd);
        return json_value();
    }
    std::string reply;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n')
        reply += c;
    close(fd);
    return json_value::parse(reply);
}

std::vector<json_value> mspsim_runner::frames() const
{
    std::vector<json_value> out;
    std::ifstream f(record);
    std::string line;
    while (std::getline(f, line))
        if (!line.empty())
            out.push_back(json_value::parse(line));
    return out;
}

std::vector<json_value> mspsim_runner::frames(const std::string &dir_) const
{
    std::vector<json_value> out;
    for (json_value &v : frames())
        if (v["dir"].str() == dir_)
            out.push_back(v);
    return out;
}

std::vector<json_value> mspsim_runner::wait_frames(
    const std::string &dir_, const std::function<bool(const std::vector<json_value> &)> &done, int ms) const
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        std::vector<json_value> got = frames(dir_);
        if (done(got) || std::chrono::steady_clock::now() >= end)
            return got;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::vector<json_value> mspsim_runner::wait_frames(const std::string &dir_, size_t n, int ms) const
{
    return wait_frames(dir_, [n](const std::vector<json_value> &got) { return got.size() >= n; }, ms);
}
