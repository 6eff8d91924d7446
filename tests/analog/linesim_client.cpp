#include "linesim_client.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string encode_word(const std::string &w)
{
    std::string o;
    char hex[4];
    for (unsigned char c : w) {
        if (c > ' ' && c < 0x7F && c != '%') {
            o.push_back((char)c);
        } else {
            snprintf(hex, sizeof hex, "%%%02X", c);
            o += hex;
        }
    }
    return o;
}

int hexval(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = (char)(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string decode_word(const std::string &w)
{
    std::string o;
    for (size_t i = 0; i < w.size(); i++) {
        int hi, lo;
        if (w[i] == '%' && i + 2 < w.size() && (hi = hexval(w[i + 1])) >= 0 &&
            (lo = hexval(w[i + 2])) >= 0) {
            o.push_back((char)(hi * 16 + lo));
            i += 2;
        } else {
            o.push_back(w[i]);
        }
    }
    return o;
}

sim_record parse_record(const std::string &s)
{
    sim_record r;
    size_t sp = s.find(' ');
    if (sp == std::string::npos)
        return r;
    r.t = atof(s.substr(0, sp).c_str());
    r.text = s.substr(sp + 1);
    return r;
}

int connect_unix(const std::string &path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
    if (fd >= 0 && connect(fd, (sockaddr *)&sa, sizeof sa) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

int remove_entry(const char *p, const struct stat *, int, struct FTW *)
{
    return remove(p);
}

} // namespace

linesim::linesim(const std::string &script, const std::string &root,
                 const std::vector<std::string> &args)
{
    std::string control = root + "/sim.ctl";
    std::vector<std::string> argv = {"python3", std::string(TARN_SOURCE_DIR) + "/" + script,
                                     "--root", root, "--control", control,
                                     "--transcript", root + "/sim.transcript"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ == 0) {
        std::vector<char *> av;
        for (auto &a : argv)
            av.push_back(const_cast<char *>(a.c_str()));
        av.push_back(nullptr);
        execvp(av[0], av.data());
        _exit(127);
    }
    // Bounded wait for the control socket (about 5 s).
    for (int i = 0; i < 200 && fd_ < 0; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        fd_ = connect_unix(control);
    }
    if (fd_ >= 0 && !request({"ping"})) {
        close(fd_);
        fd_ = -1;
    }
}

linesim::~linesim()
{
    if (fd_ >= 0) {
        request({"quit"});
        close(fd_);
    }
    if (pid_ <= 0)
        return;
    for (int i = 0; i < 80; i++) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

bool linesim::request(const std::vector<std::string> &words, std::string *payload)
{
    if (fd_ < 0)
        return false;
    std::string line;
    for (const auto &w : words)
        line += (line.empty() ? "" : " ") + encode_word(w);
    line += '\n';
    if (send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != (ssize_t)line.size())
        return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    size_t nl;
    while ((nl = inbuf_.find('\n')) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, (int)left.count()) <= 0)
            return false;
        char buf[16384];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        inbuf_.append(buf, (size_t)n);
    }
    std::string reply = inbuf_.substr(0, nl);
    inbuf_.erase(0, nl + 1);
    size_t sp = reply.find(' ');
    if (payload)
        *payload = sp == std::string::npos ? "" : decode_word(reply.substr(sp + 1));
    return reply.compare(0, 2, "ok") == 0;
}

bool linesim::inject(const std::string &line, const std::string &text)
{
    return request({"inject", line, text});
}

std::vector<sim_record> linesim::records(const std::string &line)
{
    std::string out;
    std::vector<sim_record> v;
    if (!request({"records", line}, &out))
        return v;
    size_t start = 0;
    while (start < out.size()) {
        size_t nl = out.find('\n', start);
        if (nl == std::string::npos)
            nl = out.size();
        v.push_back(parse_record(out.substr(start, nl - start)));
        start = nl + 1;
    }
    return v;
}

sim_record linesim::expect(const std::string &line, const std::string &regex, int ms)
{
    std::string out;
    if (!request({"expect", line, regex, std::to_string(ms)}, &out))
        return sim_record{};
    return parse_record(out);
}

bool linesim::forget(const std::string &line)
{
    return request({"forget", line});
}

bool linesim::set(const std::string &line, const std::string &key, const std::string &value)
{
    return request({"set", line, key, value});
}

bool linesim::close_line(const std::string &line)
{
    return request({"close", line});
}

std::string linesim::transcript()
{
    std::string out;
    request({"transcript"}, &out);
    return out;
}

std::string make_test_root(const char *prefix)
{
    std::string tmpl = std::string("/tmp/") + prefix + ".XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    const char *d = mkdtemp(buf.data());
    std::string root = d ? d : "";
    if (!root.empty())
        setenv("TARN_ROOT", root.c_str(), 1);
    return root;
}

void remove_tree(const std::string &path)
{
    if (!path.empty() && path != "/")
        nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void write_text_file(const std::string &path, const std::string &text)
{
    std::string dir = path.substr(0, path.rfind('/'));
    for (size_t i = 1; i <= dir.size(); i++)
        if (i == dir.size() || dir[i] == '/')
            mkdir(dir.substr(0, i).c_str(), 0755);
    std::ofstream(path) << text;
}
