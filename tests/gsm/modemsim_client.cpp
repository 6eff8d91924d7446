#include "modemsim_client.h"

#include <algorithm>
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

modemsim::modemsim(const std::string &root, const std::vector<std::string> &args)
{
    control_ = root + "/modemsim.ctl";
    transcript_ = root + "/modemsim.transcript";
    std::vector<std::string> argv = {system_python(),
                                     std::string(TARN_SOURCE_DIR) + "/sim/modemsim/modemsim.py",
                                     "--root", root, "--control", control_, "--transcript",
                                     transcript_};
    argv.insert(argv.end(), args.begin(), args.end());
    ok_ = sim_.start(argv, control_, true, 60000);
}

modemsim::~modemsim()
{
    sim_.stop(1000);
}

bool modemsim::request(const std::vector<std::string> &words, std::string *out)
{
    return sim_.request(words, out, 20);
}

bool modemsim::inject(int port, const std::string &text)
{
    return request({"inject", std::to_string(port), text});
}

std::string modemsim::expect(int port, const std::string &regex, int ms)
{
    std::string out;
    // The reply comes when the line arrives or the wait ends: the request
    // waits as long, with room to spare.
    if (!sim_.request({"expect", std::to_string(port), regex, std::to_string(ms)}, &out, std::max(20, ms / 1000 + 10)))
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
