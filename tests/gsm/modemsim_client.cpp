#include "modemsim_client.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

std::string system_python()
{
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

static std::string pct(const std::string &s)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string o;
    for (unsigned char c : s) {
        if (c <= ' ' || c == '%' || c >= 0x7F) {
            o += '%';
            o += hex[c >> 4];
            o += hex[c & 15];
        } else {
            o += (char)c;
        }
    }
    return o;
}

static std::string unpct(const std::string &s)
{
    std::string o;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '%' && i + 2 < s.size()) {
            o += (char)std::stoi(s.substr(i + 1, 2), nullptr, 16);
            i += 2;
        } else {
            o += s[i];
        }
    }
    return o;
}

modemsim::modemsim(const std::string &root, const std::vector<std::string> &args)
{
    control_ = root + "/modemsim.ctl";
    transcript_ = root + "/modemsim.transcript";
    std::vector<std::string> argv = {system_python(),
                                     std::string(TARN_SOURCE_DIR) + "/sim/modemsim/modemsim.py",
                                     "--root", root, "--control", control_, "--transcript",
                                     transcript_};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0)
            dup2(devnull, 1);
        std::vector<char *> av;
        for (auto &a : argv)
            av.push_back(const_cast<char *>(a.c_str()));
        av.push_back(nullptr);
        execvp(av[0], av.data());
        _exit(127);
    }
    for (int i = 0; i < 100 && !ok_; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un sa = {};
        sa.sun_family = AF_UNIX;
        snprintf(sa.sun_path, sizeof sa.sun_path, "%s", control_.c_str());
        if (connect(fd, (sockaddr *)&sa, sizeof sa) == 0) {
            fd_ = fd;
            ok_ = request({"ping"});
        } else {
            close(fd);
        }
    }
}

modemsim::~modemsim()
{
    if (fd_ >= 0) {
        request({"quit"});
        close(fd_);
    }
    if (pid_ > 0) {
        for (int i = 0; i < 40; i++) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool modemsim::request(const std::vector<std::string> &words, std::string *out)
{
    if (fd_ < 0)
        return false;
    std::string line;
    for (size_t i = 0; i < words.size(); i++)
        line += (i ? " " : "") + pct(words[i]);
    line += "\n";
    if (send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != (ssize_t)line.size())
        return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pending_.find('\n') == std::string::npos) {
        int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                       deadline - std::chrono::steady_clock::now())
                       .count();
        if (left <= 0)
            return false;
        pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, left) <= 0)
            return false;
        char buf[65536];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        pending_.append(buf, (size_t)n);
    }
    size_t nl = pending_.find('\n');
    std::string reply = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    bool ok = reply.rfind("ok", 0) == 0;
    if (out)
        *out = reply.size() > 3 ? unpct(reply.substr(reply.find(' ') + 1)) : "";
    return ok;
}

bool modemsim::inject(int port, const std::string &text)
{
    return request({"inject", std::to_string(port), text});
}

std::string modemsim::expect(int port, const std::string &regex, int ms)
{
    std::string out;
    if (!request({"expect", std::to_string(port), regex, std::to_string(ms)}, &out))
        return "";
    return out;
}

static std::vector<std::string> split_lines(const std::string &s)
{
    std::vector<std::string> v;
    size_t start = 0;
    while (start < s.size()) {
        size_t nl = s.find('\n', start);
        if (nl == std::string::npos)
            nl = s.size();
        v.push_back(s.substr(start, nl - start));
        start = nl + 1;
    }
    return v;
}

std::vector<std::string> modemsim::commands(int port)
{
    std::string out;
    request({"commands", std::to_string(port)}, &out);
    return split_lines(out);
}

bool modemsim::set(int port, const std::string &key, const std::string &value)
{
    return request({"set", std::to_string(port), key, value});
}

bool modemsim::fault(int port, const std::string &name, const std::string &arg, int count,
                     const std::string &extra)
{
    std::vector<std::string> w = {"fault", std::to_string(port), name, arg, std::to_string(count)};
    if (!extra.empty())
        w.push_back(extra);
    return request(w);
}

bool modemsim::close_port(int port)
{
    return request({"close", std::to_string(port)});
}

std::vector<std::string> modemsim::sms(int port)
{
    std::string out;
    request({"sms", std::to_string(port)}, &out);
    return split_lines(out);
}

bool modemsim::store(int port, int index, const std::string &body)
{
    return request({"store", std::to_string(port), std::to_string(index), body});
}
